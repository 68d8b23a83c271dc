#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "core/JobContext.h"
#include "log/EvEvent.h"
#include "log/JobJournal.h"
#include "log/LogErrorWatch.h"
#include "log/LogSink.h"

TEST(Log, LinesCarryFunctionJobAndLevel) {
  CLogSink& sink = CLogSink::Instance();
  CJobContext::SetCurrentJobId(4242);
  EvEvent ev;
  EXPECT_EQ(4242, ev.getJobId()) << "a default logger reports against the running job";
  ev.DebugLvl(2, "CreateObject", "DR Orchestration GenericDR object request");
  ev.Error("Initialize", "Failed for userId [%d]", 7);

  bool foundDebug = false, foundError = false;
  for (const SLogLine& l : sink.Captured()) {
    if (l.function == "CreateObject" && l.text == "DR Orchestration GenericDR object request") {
      foundDebug = true;
      EXPECT_EQ(2, l.level);
      EXPECT_EQ(4242, l.jobId);
    }
    if (l.function == "Initialize" && l.text == "Failed for userId [7]") {
      foundError = true;
      EXPECT_EQ(0, l.level);
    }
  }
  EXPECT_TRUE(foundDebug);
  EXPECT_TRUE(foundError);

  std::ifstream in(sink.FilePath());
  std::stringstream all;
  all << in.rdbuf();
  EXPECT_NE(std::string::npos, all.str().find(" 4242 2 CreateObject(): DR Orchestration GenericDR object request"));
  EXPECT_NE(std::string::npos, all.str().find(" 4242 E Initialize(): Failed for userId [7]"));
  CJobContext::SetCurrentJobId(0);
}

TEST(Log, LevelThresholdDropsDetailButNeverErrors) {
  CLogSink& sink = CLogSink::Instance();
  int saved = sink.Level();
  sink.SetLevel(3);
  EvEvent ev(1);
  ev.DebugLvl(10, "Verbose", "too detailed");
  ev.DebugLvl(3, "Verbose", "kept");
  ev.Error("Verbose", "always kept");
  sink.SetLevel(saved);
  EXPECT_FALSE(sink.Contains("too detailed"));
  EXPECT_TRUE(sink.Contains("kept", "Verbose"));
  EXPECT_TRUE(sink.Contains("always kept", "Verbose"));
}

TEST(Log, LongLinesAreKeptWhole) {
  std::string big(5000, 'x');
  EvEvent(1).Debug("Long", "[%s]", big.c_str());
  EXPECT_TRUE(CLogSink::Instance().Contains("[" + big + "]", "Long"));
}

TEST(Log, EventsGoToTheJournalWithTheirArguments) {
  CJobJournal& journal = CJobJournal::Instance();
  journal.Clear();
  EvEvent ev(99);
  ev << "vm1" << std::string("Power On");
  ev.MajorEvent(0x480000A7, 0, 0);
  ev.InfoEvent(0x4800006A, 0, 0);

  std::vector<SJobEvent> events = journal.Events();
  ASSERT_EQ(2u, events.size());
  EXPECT_EQ(99, events[0].jobId);
  EXPECT_EQ(0x480000A7u, events[0].code);
  EXPECT_EQ(EEventSeverity::Major, events[0].severity);
  EXPECT_EQ((std::vector<std::string>{"vm1", "Power On"}), events[0].args);
  EXPECT_TRUE(events[1].args.empty()) << "arguments belong to one event only";

  ArgumentInfo args;
  args << "a" << "b";
  EXPECT_EQ(ArgumentInfo::kTextArgument, args.Type(1));
  ev.AppendArguments(&args);
  ev.CriticalEvent(0x4800006A);
  EXPECT_EQ((std::vector<std::string>{"a", "b"}), journal.Events().back().args);
  EXPECT_EQ(2u, journal.CountEvents(0x4800006A));

  journal.SetPercentComplete(99, 40);
  journal.SetPercentComplete(99, 55);
  EXPECT_EQ(55, journal.PercentComplete(99));
  EXPECT_EQ(-1, journal.PercentComplete(100));
}

// The error watch a DR priority is told by: the last error of its own job
// from whichever thread logs it, nothing of another job, nothing once it is
// gone (its lines may still be logged while another watch is made).
TEST(LogErrorWatchConcurrency, KeepsTheLastErrorOfItsJobFromAnyThread) {
  std::string last;
  {
    CLogErrorWatch watch(8801);
    EXPECT_EQ("", watch.Last());
    EvEvent(8801).Debug("Probe", "not an error");
    EXPECT_EQ("", watch.Last()) << "debug lines are not errors";
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
      threads.emplace_back([t] {
        for (int i = 0; i < 50; ++i) {
          EvEvent(8801).Error("Worker", "error [%d] of thread [%d]", i, t);
          EvEvent(8802).Error("Other", "another job's error [%d]", i);
        }
      });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(0u, watch.Last().find("Worker(): error [49] of thread [")) << watch.Last();
    EvEvent(8802).Error("Other", "after the workers");
    EvEvent(8801).Error("Final", "what ended the priority");
    last = watch.Last();
  }
  EXPECT_EQ("Final(): what ended the priority", last);
  CLogErrorWatch later(8801);
  EXPECT_EQ("", later.Last()) << "a watch sees only what is logged while it lives";
}
