#include <stdint.h>

#include <gtest/gtest.h>

#include "drorch/DRJobManager.h"
#include "TestDRContext.h"
#include "log/LogSink.h"
#include "time/PlatformClock.h"

namespace {

const char kWaitReason[] = "DRJobManager";

class PriorityLoop : public testing::Test {
 protected:
  void SetUp() override {
    CLogSink::Instance().ClearCapture();
    CPlatformClock::Instance().ClearRecords();
    CDRBaseTestPeer::SetJobManager(m_dr, &m_jm);
  }
  std::vector<std::string> Processed() {
    std::vector<std::string> out;
    for (const std::string& c : m_script.calls) {
      if (c.compare(0, 8, "Process:") == 0) out.push_back(c.substr(8));
    }
    return out;
  }

  STestScript m_script;
  CDRJobManager m_jm;
  CTestDR m_dr{m_script};
};

TEST_F(PriorityLoop, WaitsTheFirstPrioritysDelayBetweenOrdersAndNotAfterTheLast) {
  CDRBaseTestPeer::AddPriority(m_dr, 2, TMMsg::DR_OP_SOURCE_VSA_REPLICATION, 7);
  CDRBaseTestPeer::AddPriority(m_dr, 1, TMMsg::DR_OP_SOURCE_VSA_REPLICATION, 2);

  EXPECT_TRUE(CDRBaseTestPeer::PriorityDR(m_dr));

  EXPECT_EQ((std::vector<std::string>{"1", "2"}), Processed());
  EXPECT_EQ(1u, CPlatformClock::Instance().CountWaits(120000, kWaitReason));
  // The second order's own delay (7 minutes) is never read.
  EXPECT_EQ(0u, CPlatformClock::Instance().CountWaits(420000, kWaitReason));
  EXPECT_EQ(120000, m_dr.GetPriorityDelay());
  EXPECT_TRUE(CLogSink::Instance().Contains(
      "Priority Config => Delay between priorities : [2] minutes , Continue on Failure : [True]"));
  EXPECT_TRUE(CLogSink::Instance().Contains("Finished  processing PRIORITY [2]"));
}

TEST_F(PriorityLoop, LaterGroupsSettingsChangeNothing) {
  CDRBaseTestPeer::AddPriority(m_dr, 1, TMMsg::DR_OP_SOURCE_VSA_REPLICATION, 0, false);
  CDRBaseTestPeer::AddPriority(m_dr, 2, TMMsg::DR_OP_SOURCE_VSA_REPLICATION, 3, true);
  CDRBaseTestPeer::AddPriority(m_dr, 3, TMMsg::DR_OP_SOURCE_VSA_REPLICATION, 3, true);
  m_script.resultByOrder[2] = false;

  EXPECT_FALSE(CDRBaseTestPeer::PriorityDR(m_dr));

  // Continue-on-failure stays off from order 1: order 3 never runs.
  EXPECT_EQ((std::vector<std::string>{"1", "2"}), Processed());
  EXPECT_EQ(0u, CPlatformClock::Instance().CountWaits(180000, kWaitReason));
  EXPECT_EQ(1u, CPlatformClock::Instance().CountWaits(0, kWaitReason));
}

TEST_F(PriorityLoop, SingleOrderNeverWaits) {
  CDRBaseTestPeer::AddPriority(m_dr, 4, TMMsg::DR_OP_SOURCE_VSA_REPLICATION, 2);
  EXPECT_TRUE(CDRBaseTestPeer::PriorityDR(m_dr));
  EXPECT_EQ(0u, CPlatformClock::Instance().Records().size());
}

TEST_F(PriorityLoop, EmptyQueueSucceedsAtOnce) {
  EXPECT_TRUE(CDRBaseTestPeer::PriorityDR(m_dr));
  EXPECT_TRUE(m_script.calls.empty());
}

TEST_F(PriorityLoop, ContinueOnFailureGoesOnAfterAFailedPriority) {
  CDRBaseTestPeer::AddPriority(m_dr, 1, TMMsg::DR_OP_SOURCE_VSA_REPLICATION, 0, true);
  CDRBaseTestPeer::AddPriority(m_dr, 2, TMMsg::DR_OP_SOURCE_VSA_REPLICATION);
  m_script.resultByOrder[1] = false;

  EXPECT_TRUE(CDRBaseTestPeer::PriorityDR(m_dr));

  EXPECT_EQ((std::vector<std::string>{"1", "2"}), Processed());
  EXPECT_TRUE(CLogSink::Instance().Contains("Failures encountered while processing priority [1]", "PriorityDR"));
  // Post-processing and clean-up run for the failed priority too, and the
  // context is destroyed each time.
  EXPECT_EQ((std::vector<std::string>{"Process:1", "Post:1", "Cleanup:1", "Deleted", "Process:2", "Post:2",
                                      "Cleanup:2", "Deleted"}),
            m_script.calls);
}

TEST_F(PriorityLoop, WithoutContinueOnFailureAFailedPriorityEndsTheLoop) {
  CDRBaseTestPeer::AddPriority(m_dr, 1, TMMsg::DR_OP_SOURCE_VSA_REPLICATION, 1, false);
  CDRBaseTestPeer::AddPriority(m_dr, 2, TMMsg::DR_OP_SOURCE_VSA_REPLICATION);
  m_script.resultByOrder[1] = false;

  EXPECT_FALSE(CDRBaseTestPeer::PriorityDR(m_dr));

  EXPECT_EQ((std::vector<std::string>{"1"}), Processed());
  EXPECT_EQ(0u, CPlatformClock::Instance().CountWaits(60000, kWaitReason));
  EXPECT_FALSE(CLogSink::Instance().Contains("Finished  processing PRIORITY [1]"));
}

TEST_F(PriorityLoop, CleanupRunCallsOnlyCleanupAndProducesNoSummary) {
  m_jm.SetDRJobCleanupPhase(true);
  m_jm.SetDRJobState(Api::VIRTUAL_APP_PHASE_STATE_COMPLETED_WITH_ERRORS);
  CDRBaseTestPeer::AddPriority(m_dr, 1, TMMsg::DR_OP_SOURCE_VSA_REPLICATION);
  CDRBaseTestPeer::AddPriority(m_dr, 2, TMMsg::DR_OP_SOURCE_VSA_REPLICATION);

  EXPECT_EQ(Api::VIRTUAL_APP_PHASE_STATE_COMPLETED_WITH_ERRORS, m_dr.Run());

  EXPECT_EQ((std::vector<std::string>{"Cleanup:1", "Deleted", "Cleanup:2", "Deleted"}), m_script.calls);
  EXPECT_TRUE(CLogSink::Instance().Contains("[Planned Failover Cleanup] has started "));
  EXPECT_TRUE(CLogSink::Instance().Contains("[Planned Failover Cleanup] has finished "));
  EXPECT_FALSE(CLogSink::Instance().Contains("JOB SUMMARY REPORT"));
}

TEST(PriorityDelay, MinutesBecomeMillisecondsWithoutOverflow) {
  STestScript script;
  CDRJobManager jm;
  struct SCase {
    int minutes;
    int32_t expectedMs;
  } cases[] = {{0, 0}, {2, 120000}, {35791, 2147460000}, {35792, INT32_MAX}, {INT32_MAX, INT32_MAX},
               {-1, 0}, {INT32_MIN, 0}};
  for (const SCase& c : cases) {
    CTestDR dr(script);
    CDRBaseTestPeer::SetJobManager(dr, &jm);
    CDRBaseTestPeer::AddPriority(dr, 1, TMMsg::DR_OP_SOURCE_VSA_REPLICATION, c.minutes);
    CLogSink::Instance().ClearCapture();
    CDRBaseTestPeer::LoadCfg(dr, 1);
    EXPECT_EQ(c.expectedMs, dr.GetPriorityDelay()) << c.minutes;
    // The log keeps the configured minutes.
    EXPECT_TRUE(CLogSink::Instance().Contains("Delay between priorities : [" + std::to_string(c.minutes) + "]"));
  }
}

class PriorityLoopConcurrency : public PriorityLoop {};

TEST_F(PriorityLoopConcurrency, SubPrioritiesOfOneOrderRunTogether) {
  CDRBaseTestPeer::AddPriority(m_dr, 1, TMMsg::DR_OP_SOURCE_VSA_REPLICATION, 0, false);
  CDRBaseTestPeer::AddPriority(m_dr, 1, TMMsg::DR_OP_SOURCE_DB_REPLICATION, 0, false);
  CDRBaseTestPeer::AddPriority(m_dr, 1, TMMsg::DR_OP_SOURCE_SNAP_ARRAY_REPLICATION, 0, false);
  CDRBaseTestPeer::AddPriority(m_dr, 2, TMMsg::DR_OP_SOURCE_VSA_REPLICATION);
  m_script.rendezvous = 3;

  EXPECT_TRUE(CDRBaseTestPeer::PriorityDR(m_dr));

  EXPECT_EQ(3, m_script.maxRunning);
  EXPECT_EQ(4u, m_script.CountPrefix("Process:"));
  EXPECT_EQ(4u, m_script.CountPrefix("Deleted"));
  EXPECT_TRUE(CLogSink::Instance().Contains("Initialized thread pool with maxDRThreadPoolCount = [5]"));
  EXPECT_EQ(3u, CLogSink::Instance().Count("Spawning DR process thread for sub-priority"));
  EXPECT_TRUE(
      CLogSink::Instance().Contains("Waiting for all [Sub-Priority] operation threads to complete => [1]"));
}

TEST_F(PriorityLoopConcurrency, OrderFailsOnlyWhenNoSubPrioritySucceeded) {
  CDRBaseTestPeer::AddPriority(m_dr, 1, TMMsg::DR_OP_SOURCE_VSA_REPLICATION, 0, false);
  CDRBaseTestPeer::AddPriority(m_dr, 1, TMMsg::DR_OP_SOURCE_DB_REPLICATION, 0, false);
  CDRBaseTestPeer::AddPriority(m_dr, 1, TMMsg::DR_OP_SOURCE_SNAP_ARRAY_REPLICATION, 0, false);
  CDRBaseTestPeer::AddPriority(m_dr, 2, TMMsg::DR_OP_SOURCE_VSA_REPLICATION);
  m_script.resultBySource[TMMsg::DR_OP_SOURCE_VSA_REPLICATION] = false;
  m_script.resultBySource[TMMsg::DR_OP_SOURCE_DB_REPLICATION] = false;

  // One of three succeeded: the order counts as done, order 2 runs (and its
  // VM source fails, which ends the loop without continue-on-failure).
  EXPECT_FALSE(CDRBaseTestPeer::PriorityDR(m_dr));
  EXPECT_EQ(4u, m_script.CountPrefix("Process:"));
}

TEST_F(PriorityLoopConcurrency, OrderWithNoSuccessStopsTheLoop) {
  CDRBaseTestPeer::AddPriority(m_dr, 1, TMMsg::DR_OP_SOURCE_VSA_REPLICATION, 0, false);
  CDRBaseTestPeer::AddPriority(m_dr, 1, TMMsg::DR_OP_SOURCE_DB_REPLICATION, 0, false);
  CDRBaseTestPeer::AddPriority(m_dr, 2, TMMsg::DR_OP_SOURCE_PHYSICAL_MACHINE);
  m_script.resultByOrder[1] = false;

  EXPECT_FALSE(CDRBaseTestPeer::PriorityDR(m_dr));
  EXPECT_EQ(2u, m_script.CountPrefix("Process:"));
  EXPECT_EQ(0u, m_script.CountPrefix("Process:2"));
}

TEST_F(PriorityLoopConcurrency, OrderWithNoSuccessGoesOnWithContinueOnFailure) {
  CDRBaseTestPeer::AddPriority(m_dr, 1, TMMsg::DR_OP_SOURCE_VSA_REPLICATION, 0, true);
  CDRBaseTestPeer::AddPriority(m_dr, 1, TMMsg::DR_OP_SOURCE_DB_REPLICATION, 0, true);
  CDRBaseTestPeer::AddPriority(m_dr, 2, TMMsg::DR_OP_SOURCE_VSA_REPLICATION);
  m_script.resultByOrder[1] = false;

  EXPECT_TRUE(CDRBaseTestPeer::PriorityDR(m_dr));
  EXPECT_EQ(1u, m_script.CountPrefix("Process:2"));
}

}  // namespace
