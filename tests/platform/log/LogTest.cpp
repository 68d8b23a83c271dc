#include <stdlib.h>

#include <atomic>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "TestThread.h"
#include "core/JobContext.h"
#include "log/CrashPoint.h"
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

namespace {

// What the kill point asked for, and what its requester found when asked.
std::atomic<int> g_requests{0};
std::atomic<long long> g_requestedJob{0};
std::atomic<bool> g_lineWasWritten{false};

bool RecordKillRequest(int64_t jobId) {
  // Logging and reading the sink here would deadlock under its lock.
  EvEvent(jobId).Debug("Requester", "storing the kill of job [%lld]", static_cast<long long>(jobId));
  g_lineWasWritten = CLogSink::Instance().Contains("the chosen line 2", "Worker");
  g_requestedJob = jobId;
  ++g_requests;
  return true;
}

class KillPoint : public testing::Test {
 protected:
  void SetUp() override {
    g_requests = 0;
    g_requestedJob = 0;
    g_lineWasWritten = false;
    CKillPoint::SetRequester(&RecordKillRequest);
  }
  void TearDown() override {
    CKillPoint::Disarm();
    CKillPoint::SetRequester(nullptr);
  }
};

using KillPointConcurrency = KillPoint;

}  // namespace

// The request is made once, for the chosen line's job, after that line is
// written and before the thread that wrote it goes on; the fragment takes
// in the function as the line shows it.
TEST_F(KillPoint, RequestsTheKillOnceRightAfterTheChosenLine) {
  CKillPoint::Arm("Worker(): the chosen", 2);
  EvEvent(5101).Debug("Worker", "the chosen line 1");
  EvEvent(5101).Debug("Other", "the chosen line, from another function");
  EXPECT_EQ(0, g_requests.load());
  EvEvent(5101).Debug("Worker", "the chosen line 2");
  EXPECT_EQ(1, g_requests.load());
  EXPECT_EQ(5101, g_requestedJob.load());
  EXPECT_TRUE(g_lineWasWritten.load());
  EXPECT_TRUE(CLogSink::Instance().Contains("Kill of DR job [5101] requested after the chosen line", "KillPoint"));
  EvEvent(5101).Debug("Worker", "the chosen line 3");
  EXPECT_EQ(1, g_requests.load()) << "a kill point requests one kill";
}

// A DR job's process logs the end of its child jobs under their ids: the
// kill is still the DR job's.
TEST_F(KillPoint, RequestsTheRunningJobsKillWhateverJobTheLineNames) {
  CJobContext::SetCurrentJobId(5102);
  CKillPoint::Arm("child job's end", 1);
  EvEvent(100001).Debug("End", "the child job's end");
  CJobContext::SetCurrentJobId(0);
  EXPECT_EQ(1, g_requests.load());
  EXPECT_EQ(5102, g_requestedJob.load());
}

TEST_F(KillPoint, ArmsFromItsVariablesAndRemovesThem) {
  std::string error;
  setenv("DR_KILL_AT_COUNT", "0", 1);
  EXPECT_FALSE(CKillPoint::ArmFromEnvironment(error));
  EXPECT_NE(std::string::npos, error.find("DR_KILL_AT_COUNT [0]")) << error;
  setenv("DR_KILL_AT", "", 1);
  setenv("DR_KILL_AT_COUNT", "1", 1);
  EXPECT_FALSE(CKillPoint::ArmFromEnvironment(error));
  EXPECT_EQ("DR_KILL_AT is empty", error);
  setenv("DR_KILL_AT", "from the environment", 1);
  setenv("DR_KILL_AT_COUNT", "2", 1);
  ASSERT_TRUE(CKillPoint::ArmFromEnvironment(error)) << error;
  EXPECT_EQ(nullptr, getenv("DR_KILL_AT"));
  EXPECT_EQ(nullptr, getenv("DR_KILL_AT_COUNT"));
  EvEvent(5103).Debug("Worker", "from the environment, once");
  EXPECT_EQ(0, g_requests.load());
  EvEvent(5103).Debug("Worker", "from the environment, twice");
  EXPECT_EQ(1, g_requests.load());
}

// Lines from many threads: the chosen count is one line of them all, and
// exactly one kill is requested.
TEST_F(KillPointConcurrency, ManyThreadsLoggingTheMarkerRequestOneKill) {
  CKillPoint::Arm("marker line", 37);
  std::vector<std::unique_ptr<drtest::CTestThread>> threads;
  for (int t = 0; t < 4; ++t) {
    threads.push_back(std::make_unique<drtest::CTestThread>(
        [t] {
          for (int i = 0; i < 25; ++i) EvEvent(5104).Debug("Worker", "marker line [%d] of thread [%d]", i, t);
        },
        "kill point logger"));
  }
  for (auto& thread : threads) EXPECT_TRUE(thread->Join());
  EXPECT_EQ(1, g_requests.load());
  EXPECT_EQ(5104, g_requestedJob.load());
}
