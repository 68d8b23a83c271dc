#include <gtest/gtest.h>

#include "DRJobManager.h"
#include "GenericDR.h"
#include "TestDRContext.h"
#include "log/LogSink.h"

namespace {

// Outcome of one machine record.
enum EOutcome { kSucceeded, kFailed, kPending, kSkipped };

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
  Add(kFailed);
  EXPECT_EQ(Api::VIRTUAL_APP_PHASE_STATE_COMPLETED_WITH_ERRORS, Result());
  EXPECT_TRUE(Logged(" Total machines failed        [1]"));
}

TEST_F(FinalState, SucceededAndPendingLeavesTheJobPending) {
  Add(kSucceeded, 3);
  Add(kFailed);
  Add(kPending);
  EXPECT_EQ(Api::VIRTUAL_APP_PHASE_STATE_PENDING, Result());
  EXPECT_FALSE(Logged(" Total machines failed"));
  EXPECT_TRUE(Logged(" Total machines not processed [1]"));
}

TEST_F(FinalState, NoSuccessWithPendingIsPending) {
  Add(kFailed);
  Add(kPending, 2);
  EXPECT_EQ(Api::VIRTUAL_APP_PHASE_STATE_PENDING, Result());
  EXPECT_TRUE(Logged(" Total machines not processed [2]"));
}

TEST_F(FinalState, NoSuccessWithoutPendingFails) {
  Add(kFailed);
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
  Add(kFailed);
  EXPECT_EQ(Api::VIRTUAL_APP_PHASE_STATE_COMPLETED_WITH_ERRORS, m_dr.Run());
  EXPECT_FALSE(Logged("Approval Denied"));
  EXPECT_TRUE(Logged("Beginning Orchestration with userId [1]"));
  EXPECT_TRUE(Logged("[Planned Failover] has finished "));
}

TEST_F(FinalState, LogMessageRaisesOnlyTheFourEventTypes) {
  m_dr.LogMessage("Fn", "plain text", static_cast<ZNDR::E_DR_EVENT_TYPE>(5), true);
  EXPECT_TRUE(CLogSink::Instance().Contains("plain text", "Fn"));
}

}  // namespace
