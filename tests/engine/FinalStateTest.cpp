#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "TestThread.h"
#include "drorch/DRJobManager.h"
#include "engine/GenericDR.h"
#include "TestDRContext.h"
#include "log/JobJournal.h"
#include "log/LogSink.h"

namespace {

// Outcome of one machine record.
enum EOutcome { kSucceeded, kFailedMachine, kPending, kSkipped };

class FinalState : public testing::Test {
 protected:
  void SetUp() override {
    CLogSink::Instance().ClearCapture();
    CDRBaseTestPeer::SetJobManager(m_dr, &m_jm);
    // A value LogResults never sets, to see whether it set anything.
    m_jm.SetDRJobState(Api::VIRTUAL_APP_PHASE_STATE_IN_PROGRESS);
  }
  void Add(EOutcome outcome, int n = 1) {
    for (int i = 0; i < n; ++i) {
      CDRBaseTestPeer::AddInfo(m_dr, new CTestDRInfo(outcome == kSucceeded, outcome == kSkipped,
                                                     outcome == kPending));
    }
  }
  int32_t Result() {
    CDRBaseTestPeer::LogResults(m_dr);
    return m_jm.GetDRJobState();
  }
  bool Logged(const std::string& text) { return CLogSink::Instance().Contains(text); }

  STestScript m_script;
  CDRJobManager m_jm;
  CTestDR m_dr{m_script};
};

TEST_F(FinalState, NoMachinesFailsAndReportsOnlyTheTotal) {
  EXPECT_EQ(Api::VIRTUAL_APP_PHASE_STATE_FAILED, Result());
  EXPECT_TRUE(Logged("======== JOB SUMMARY REPORT DR OPERATION =========="));
  EXPECT_TRUE(Logged(" Total machines for DR        [0]"));
  EXPECT_TRUE(Logged("==================================================="));
  EXPECT_FALSE(Logged(" Total machines succeeded"));
  EXPECT_FALSE(Logged(" Total machines failed"));
  EXPECT_EQ(0, m_dr.ComputePercentComplete());
}

TEST_F(FinalState, AllSucceededLeavesTheJobManagersState) {
  Add(kSucceeded, 3);
  EXPECT_EQ(Api::VIRTUAL_APP_PHASE_STATE_IN_PROGRESS, Result());
  EXPECT_TRUE(Logged(" Total machines succeeded     [3]"));
}

TEST_F(FinalState, SucceededAndSkippedIsSuccess) {
  Add(kSucceeded, 3);
  Add(kSkipped);
  EXPECT_EQ(Api::VIRTUAL_APP_PHASE_STATE_SUCCESS, Result());
  EXPECT_TRUE(Logged(" Total machines skipped       [1]"));
}

TEST_F(FinalState, SucceededAndFailedCompletesWithErrors) {
  Add(kSucceeded, 3);
  Add(kFailedMachine);
  EXPECT_EQ(Api::VIRTUAL_APP_PHASE_STATE_COMPLETED_WITH_ERRORS, Result());
  EXPECT_TRUE(Logged(" Total machines failed        [1]"));
}

TEST_F(FinalState, SucceededAndPendingLeavesTheJobPending) {
  Add(kSucceeded, 3);
  Add(kFailedMachine);
  Add(kPending);
  EXPECT_EQ(Api::VIRTUAL_APP_PHASE_STATE_PENDING, Result());
  EXPECT_FALSE(Logged(" Total machines failed"));
  EXPECT_TRUE(Logged(" Total machines not processed [1]"));
}

TEST_F(FinalState, NoSuccessWithPendingIsPending) {
  Add(kFailedMachine);
  Add(kPending, 2);
  EXPECT_EQ(Api::VIRTUAL_APP_PHASE_STATE_PENDING, Result());
  EXPECT_TRUE(Logged(" Total machines not processed [2]"));
}

TEST_F(FinalState, NoSuccessWithoutPendingFails) {
  Add(kFailedMachine);
  Add(kSkipped);
  EXPECT_EQ(Api::VIRTUAL_APP_PHASE_STATE_FAILED, Result());
  EXPECT_TRUE(Logged(" Total machines failed        [1]"));
  EXPECT_TRUE(Logged(" Total machines skipped       [1]"));
  EXPECT_FALSE(Logged(" Total machines not processed"));
}

TEST_F(FinalState, ProgressIsTheMeanPlusTheBeginPercentage) {
  CDRBaseTestPeer::AddInfo(m_dr, new CTestDRInfo(true, false, false));
  CDRBaseTestPeer::AddInfo(m_dr, new CTestDRInfo(false, false, false, 25));
  CDRBaseTestPeer::AddInfo(m_dr, new CTestDRInfo(false, false, false, 0));
  // (100 + 25 + 0) / 3 = 41, plus the begin percentage 1.
  EXPECT_EQ(42, m_dr.ComputePercentComplete());
}

TEST_F(FinalState, ApprovalNotNeededWithoutADRGroup) {
  CDRBaseTestPeer::AddPriority(m_dr, 1, TMMsg::DR_OP_SOURCE_VSA_REPLICATION);
  Add(kSucceeded);
  Add(kFailedMachine);
  EXPECT_EQ(Api::VIRTUAL_APP_PHASE_STATE_COMPLETED_WITH_ERRORS, m_dr.Run());
  EXPECT_FALSE(Logged("Approval Denied"));
  EXPECT_TRUE(Logged("Beginning Orchestration with userId [1]"));
  EXPECT_TRUE(Logged("[Planned Failover] has finished "));
}

const uint32_t kDRMessageEvent = 0x4800006A;

std::vector<SJobEvent> DRMessageEvents() {
  std::vector<SJobEvent> out;
  for (const SJobEvent& ev : CJobJournal::Instance().Events()) {
    if (ev.code == kDRMessageEvent) out.push_back(ev);
  }
  return out;
}

TEST_F(FinalState, LogMessageRaisesOnlyTheFourEventTypes) {
  CJobJournal::Instance().Clear();
  m_dr.LogMessage("Fn", "plain text", static_cast<ZNDR::E_DR_EVENT_TYPE>(5), true);
  m_dr.LogMessage("Fn", "type zero", static_cast<ZNDR::E_DR_EVENT_TYPE>(0), true);
  m_dr.LogMessage("Fn", "not raised", ZNDR::DR_EVENT_CRITICAL, false);
  EXPECT_TRUE(CLogSink::Instance().Contains("plain text", "Fn"));
  EXPECT_TRUE(CLogSink::Instance().Contains("not raised", "Fn"));
  EXPECT_TRUE(DRMessageEvents().empty());

  const std::pair<ZNDR::E_DR_EVENT_TYPE, EEventSeverity> cases[] = {
      {ZNDR::DR_EVENT_INFO, EEventSeverity::Info},
      {ZNDR::DR_EVENT_CRITICAL, EEventSeverity::Critical},
      {ZNDR::DR_EVENT_MINOR, EEventSeverity::Minor},
      {ZNDR::DR_EVENT_MAJOR, EEventSeverity::Major},
  };
  for (const auto& c : cases) {
    m_dr.LogMessage("Fn", "message " + std::to_string(static_cast<int>(c.first)), c.first, true);
  }
  std::vector<SJobEvent> events = DRMessageEvents();
  ASSERT_EQ(4u, events.size());
  for (size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(cases[i].second, events[i].severity) << i;
    // The message is the event's only argument: none is left over for the
    // next event.
    EXPECT_EQ(std::vector<std::string>{"message " + std::to_string(static_cast<int>(cases[i].first))},
              events[i].args);
  }
}

TEST(LogMessageConcurrency, EventsFromWorkerThreadsKeepTheirOwnMessage) {
  STestScript script;
  CDRJobManager jm;
  CTestDR dr(script);
  CDRBaseTestPeer::SetJobManager(dr, &jm);
  CJobJournal::Instance().Clear();
  const int kThreads = 4;
  const int kPerThread = 300;
  std::vector<drtest::CTestThread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back(
        [&dr, t] {
          for (int i = 0; i < kPerThread; ++i) {
            dr.LogMessage("Worker", "m" + std::to_string(t) + "_" + std::to_string(i),
                          static_cast<ZNDR::E_DR_EVENT_TYPE>(1 + (t + i) % 4), true);
          }
        },
        "logger " + std::to_string(t));
  }
  for (drtest::CTestThread& th : threads) ASSERT_TRUE(th.Join());

  std::vector<SJobEvent> events = DRMessageEvents();
  ASSERT_EQ(static_cast<size_t>(kThreads * kPerThread), events.size());
  std::set<std::string> seen;
  for (const SJobEvent& ev : events) {
    ASSERT_EQ(1u, ev.args.size());
    seen.insert(ev.args[0]);
  }
  EXPECT_EQ(static_cast<size_t>(kThreads * kPerThread), seen.size());
}

}  // namespace
