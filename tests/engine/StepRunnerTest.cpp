// The step runner: filtering, the all-must-succeed mandate, quit, skip,
// pre-step pause, post-step reset, the batch operation inline and on pools.
#include <gtest/gtest.h>

#include "drorch/DRJobManager.h"
#include "app/SSMReplicaGroup.h"
#include "db/ZNGlobalParam.h"
#include "StepJobTestBase.h"
#include "TestStepContext.h"
#include "jobs/ZNDROrchestrationClnt.h"
#include "log/LogSink.h"
#include "services/ServicesTestSupport.h"
#include "settings/SettingsStore.h"
#include "settings/ZNPlatformInfo.h"
#include "time/PlatformClock.h"

namespace {

class StepRunner : public testing::Test {
 protected:
  void SetUp() override {
    ClearPhasePause();
    CLogSink::Instance().ClearCapture();
    CPlatformClock::Instance().ClearRecords();
    CDRBaseTestPeer::SetJobManager(m_dr, &m_jm);
  }
  // The pause settings live in the process's settings file: a test that
  // sets them must not leave a pause to the steps of the tests after it.
  void TearDown() override { ClearPhasePause(); }
  static void ClearPhasePause() {
    CSettings::Store().Remove("Session", "nDRPhaseType");
    CSettings::Store().Remove("Session", "nDRPhaseWaitTime");
  }
  SDROperationCtx Ctx(const std::vector<CDRInfo*>& list, Api::VirtualAppJobPhaseType phase = Api::VirtualAppJobPhaseType(1)) {
    SDROperationCtx ctx = m_dr.GetDROpCtx(phase, Api::DR_SITE_SOURCE, true);
    ctx.drInfoList = list;
    ctx.priority = &m_machines.priority;
    return ctx;
  }
  static std::vector<int> Ids(const std::vector<CDRInfo*>& list) {
    std::vector<int> ids;
    for (CDRInfo* i : list) ids.push_back(i->GetReplId());
    return ids;
  }

  CDRJobManager m_jm;
  CStepTestDR m_dr;
  CStepTestContext m_context{m_dr};
  CStepTestMachines m_machines{m_dr, &m_jm, m_dr.GetDRAppMgr()};
};

TEST_F(StepRunner, FilterKeepsSuccessSkippedAndUntouchedMachinesInOrder) {
  std::vector<CDRInfo*> m = m_machines.Add(1, 6);
  CStepTestMachines::SetLastPhase(m[0], Api::VirtualAppJobPhaseType(1), Api::VIRTUAL_APP_PHASE_STATE_SUCCESS);
  CStepTestMachines::SetLastPhase(m[1], Api::VirtualAppJobPhaseType(1), Api::VIRTUAL_APP_PHASE_STATE_IN_PROGRESS);
  CStepTestMachines::SetLastPhase(m[2], Api::VirtualAppJobPhaseType(1), Api::VIRTUAL_APP_PHASE_STATE_SKIPPED);
  CStepTestMachines::SetLastPhase(m[3], Api::VirtualAppJobPhaseType(1), Api::VIRTUAL_APP_PHASE_STATE_FAILED);
  CStepTestMachines::SetLastPhase(m[4], Api::VirtualAppJobPhaseType(1),
                                  Api::VIRTUAL_APP_PHASE_STATE_COMPLETED_WITH_ERRORS);
  // m[5] recorded no phase.
  SDROperationCtx ctx = Ctx(m);
  m_dr.FilterSuccessList(ctx);
  EXPECT_EQ((std::vector<int>{1, 3, 6}), Ids(ctx.drInfoList));
  EXPECT_EQ(3u, CLogSink::Instance().Count("Removed DRInfo [", "FilterSuccessList"));
}

TEST_F(StepRunner, MandateRefusesAShortenedListWithItsOwnMessage) {
  std::vector<CDRInfo*> m = m_machines.Add(1, 3);
  CStepTestMachines::SetLastPhase(m[1], Api::VirtualAppJobPhaseType(1), Api::VIRTUAL_APP_PHASE_STATE_FAILED);
  SDROperationCtx ctx = Ctx(m);
  ctx.mandateAllSuccess = true;
  EXPECT_FALSE(m_dr.RunOperation(m_context, ctx, true));
  EXPECT_TRUE(CLogSink::Instance().Contains(
      "Some machines in list [1,2,3] failed in previous step. [MANDATE ALL SUCCESS] ON. Cannot proceed !"));
  EXPECT_TRUE(m_context.Steps().empty());
  EXPECT_EQ((std::vector<int>{1, 3}), Ids(ctx.drInfoList));
}

TEST_F(StepRunner, ListEmptiedByTheFilterFailsDifferentlyWithAndWithoutMandate) {
  std::vector<CDRInfo*> m = m_machines.Add(1, 2);
  for (CDRInfo* i : m) CStepTestMachines::SetLastPhase(i, Api::VirtualAppJobPhaseType(1), Api::VIRTUAL_APP_PHASE_STATE_FAILED);

  SDROperationCtx on = Ctx(m);
  on.mandateAllSuccess = true;
  EXPECT_FALSE(m_dr.RunOperation(m_context, on, true));
  EXPECT_TRUE(CLogSink::Instance().Contains("[MANDATE ALL SUCCESS] ON. Cannot proceed !"));
  EXPECT_FALSE(CLogSink::Instance().Contains("No machines available for DR step"));

  CLogSink::Instance().ClearCapture();
  SDROperationCtx off = Ctx(m);
  EXPECT_FALSE(m_dr.RunOperation(m_context, off, true));
  EXPECT_FALSE(CLogSink::Instance().Contains("[MANDATE ALL SUCCESS]"));
  EXPECT_TRUE(CLogSink::Instance().Contains("No machines available for DR step", "RunStep"));
  EXPECT_TRUE(CLogSink::Instance().Contains("failed for machines in list [1,2]", "RunOperation"));
  EXPECT_TRUE(m_context.Steps().empty());
}

TEST_F(StepRunner, SuccessfulStepResetsTheContextAndAFailedOneDoesNot) {
  std::vector<CDRInfo*> m = m_machines.Add(1, 2);
  SDROperationCtx ctx = Ctx(m);
  ctx.postStep = false;
  EXPECT_TRUE(m_dr.RunOperation(m_context, ctx, false));
  // Batch operation 0 was filled from the phase and site, then reset.
  EXPECT_EQ((std::vector<std::string>{"1/0/2:1,2"}), m_context.Steps());
  EXPECT_EQ(ZNDR::BATCH_OP_NONE, ctx.batchOp);
  EXPECT_TRUE(ctx.postStep);
  EXPECT_TRUE(CLogSink::Instance().Contains(
      "[Power On] on site [Source]- markRowAsFailedOnFailure [ON],  updatePhaseInfoTbl [ON]", "DumpPhaseDetails"));

  m_context.failIds = {2};
  SDROperationCtx failing = Ctx(m);
  failing.postStep = false;
  failing.updatePhaseInfoTbl = false;
  int refreshes = m_dr.refreshes.load();
  EXPECT_FALSE(m_dr.RunOperation(m_context, failing, false));
  EXPECT_EQ(ZNDR::BATCH_OP_POWER_ON_PRIMARY, failing.batchOp);
  EXPECT_FALSE(failing.postStep);
  EXPECT_EQ(refreshes, m_dr.refreshes.load());
}

TEST_F(StepRunner, PrePhasePauseFollowsTheSessionSettings) {
  std::vector<CDRInfo*> m = m_machines.Add(1, 1);
  auto pauses = [] { return CPlatformClock::Instance().CountWaits(30000, "RunPreStep"); };

  SDROperationCtx ctx = Ctx(m);
  EXPECT_TRUE(m_dr.RunStep(ctx, m_context));
  EXPECT_EQ(0u, CPlatformClock::Instance().Records().size());

  ASSERT_NE(0, ZNPlatformInfo::setNumber("Session", "nDRPhaseType", 2));
  ctx = Ctx(m);
  EXPECT_TRUE(m_dr.RunStep(ctx, m_context));
  EXPECT_EQ(0u, pauses());

  ASSERT_NE(0, ZNPlatformInfo::setNumber("Session", "nDRPhaseType", 1));
  ctx = Ctx(m);
  EXPECT_TRUE(m_dr.RunStep(ctx, m_context));
  EXPECT_EQ(1u, pauses());
  EXPECT_TRUE(CLogSink::Instance().Contains("Sleep for [30] seconds at phase [1]"));

  ASSERT_NE(0, ZNPlatformInfo::setNumber("Session", "nDRPhaseWaitTime", 4));
  ctx = Ctx(m);
  EXPECT_TRUE(m_dr.RunStep(ctx, m_context));
  EXPECT_EQ(1u, CPlatformClock::Instance().CountWaits(4000, "RunPreStep"));
}

TEST_F(StepRunner, StepWithoutPriorityIsNotSkipped) {
  std::vector<CDRInfo*> m = m_machines.Add(1, 1);
  SDROperationCtx ctx = Ctx(m);
  ctx.priority = nullptr;
  EXPECT_FALSE(m_dr.SkipStep(ctx));
  EXPECT_TRUE(m_dr.RunStep(ctx, m_context));
  EXPECT_EQ(1u, m_context.Steps().size());
}

TEST_F(StepRunner, LoadPhaseContextFiltersThenSetsTheStep) {
  std::vector<CDRInfo*> m = m_machines.Add(1, 2);
  CStepTestMachines::SetLastPhase(m[0], Api::VirtualAppJobPhaseType(1), Api::VIRTUAL_APP_PHASE_STATE_FAILED);
  SDROperationCtx ctx = Ctx(m);
  m_dr.LoadPhaseContext(ctx, false, false, Api::VirtualAppJobPhaseType(24), Api::DR_SITE_DESTINATION, true);
  EXPECT_EQ((std::vector<int>{2}), Ids(ctx.drInfoList));
  EXPECT_EQ(24, ctx.phase);
  EXPECT_EQ(Api::DR_SITE_DESTINATION, ctx.site);
  EXPECT_FALSE(ctx.markRowAsFailedOnFailure);
  EXPECT_FALSE(ctx.updatePhaseInfoTbl);
}

TEST_F(StepRunner, PriorityWithOnlySkippedOrPendingMachinesNeverCallsTheContext) {
  std::vector<CDRInfo*> m = m_machines.Add(1, 2);
  m[0]->SetStatus(Api::VIRTUAL_APP_PHASE_STATE_SKIPPED);
  m[1]->SetStatus(Api::VIRTUAL_APP_PHASE_STATE_PENDING);
  EXPECT_FALSE(m_dr.ProcessIDAPriority(m_context, m_machines.priority, ZNDR::BATCH_OP_FAILOVER));
  EXPECT_TRUE(m_context.Bodies().empty());
}

TEST_F(StepRunner, OneMachineRunsInlineAndAFailedBodyIsCleanedUp) {
  std::vector<CDRInfo*> m = m_machines.Add(7, 1);
  m_context.failIds = {7};
  EXPECT_FALSE(m_dr.ProcessIDAPriority(m_context, m_machines.priority, ZNDR::BATCH_OP_FAILOVER));
  EXPECT_EQ((std::vector<int>{7}), m_context.Bodies());
  EXPECT_EQ((std::vector<int>{7}), m_context.Cleanups());
  EXPECT_FALSE(CLogSink::Instance().Contains("Initialized thread pool"));
}

TEST_F(StepRunner, UnmountPhasesRunInlineWhateverTheNumberOfMachines) {
  for (int phase : {37, 39}) {
    CLogSink::Instance().ClearCapture();
    CStepTestContext context(m_dr);
    std::vector<CDRInfo*> m = m_machines.Add(phase * 10, 3);
    SDROperationCtx ctx = Ctx(m, Api::VirtualAppJobPhaseType(phase));
    ctx.batchOp = ZNDR::BATCH_OP_FAILOVER;
    EXPECT_TRUE(m_dr.ProcessIDABatchOp(context, ctx));
    EXPECT_EQ(3u, context.Bodies().size());
    EXPECT_FALSE(CLogSink::Instance().Contains("Initialized thread pool")) << phase;
  }
}

TEST_F(StepRunner, ThreadedBodiesThatRunInnerStepsReportTheirPriorityAsSucceeded) {
  std::vector<CDRInfo*> m = m_machines.Add(1, 3);
  m_context.innerStep = true;
  EXPECT_TRUE(m_dr.ProcessIDAPriority(m_context, m_machines.priority, ZNDR::BATCH_OP_FAILOVER));
  EXPECT_TRUE(CLogSink::Instance().Contains("Initialized thread pool with maxDRThreadPoolCount = [3]"));
  EXPECT_EQ(3u, m_context.Steps().size());
  SDROperationCtx asked;
  asked.batchOp = ZNDR::BATCH_OP_FAILOVER;
  for (CDRInfo* i : m) EXPECT_TRUE(i->IsBatchOpSuccess(asked)) << i->GetReplId();
  EXPECT_TRUE(CLogSink::Instance().Contains("Spawned [Failover] operation-thread for DR entity [2]"));
  EXPECT_TRUE(CLogSink::Instance().Contains("Finished [Failover] operation-thread for DR entity [2]"));
}

TEST_F(StepRunner, ThreadedFailuresAreCountedAndCleanedUp) {
  std::vector<CDRInfo*> m = m_machines.Add(1, 3);
  m_context.failIds = {1, 2, 3};
  EXPECT_FALSE(m_dr.ProcessIDAPriority(m_context, m_machines.priority, ZNDR::BATCH_OP_FAILOVER));
  std::vector<int> cleanups = m_context.Cleanups();
  std::sort(cleanups.begin(), cleanups.end());
  EXPECT_EQ((std::vector<int>{1, 2, 3}), cleanups);

  CStepTestContext partly(m_dr);
  partly.failIds = {2};
  SDROperationCtx ctx = Ctx(m);
  ctx.batchOp = ZNDR::BATCH_OP_SHUTDOWN_PRIMARY;
  EXPECT_TRUE(m_dr.ProcessIDABatchOp(partly, ctx));
  EXPECT_TRUE(m[0]->IsBatchOpSuccess(ctx));
  EXPECT_FALSE(m[1]->IsBatchOpSuccess(ctx));
}

TEST_F(StepRunner, PerMachineContextsKeepTheParentsPriorityGroupReplicaGroupAndJob) {
  std::vector<CDRInfo*> m = m_machines.Add(1, 2);
  SDROSubclient group(1, 42);
  SSMReplicaGroup replicas;
  SDROperationCtx ctx = Ctx(m);
  ctx.batchOp = ZNDR::BATCH_OP_FAILOVER;
  ctx.subclient = &group;
  ctx.replicaGroup = &replicas;
  ctx.jobId = 9876;
  ctx.snapType = 2;
  EXPECT_TRUE(m_dr.RunParallelDROperation(ctx, &m_context));
  std::vector<SDROperationCtx> seen = m_context.BodyContexts();
  ASSERT_EQ(2u, seen.size());
  for (const SDROperationCtx& c : seen) {
    EXPECT_EQ(&m_machines.priority, c.priority);
    EXPECT_EQ(&group, c.subclient);
    EXPECT_EQ(&replicas, c.replicaGroup);
    EXPECT_EQ(9876, c.jobId);
    EXPECT_EQ(2, c.snapType);
    EXPECT_EQ(1u, c.drInfoList.size());
  }
}

TEST_F(StepRunner, ThreadedStepWithoutABatchOperationFails) {
  std::vector<CDRInfo*> m = m_machines.Add(1, 2);
  SDROperationCtx ctx = Ctx(m, Api::VirtualAppJobPhaseType(38));
  EXPECT_FALSE(m_dr.RunParallelDROperation(ctx, &m_context));
  EXPECT_TRUE(CLogSink::Instance().Contains("Batch-op type not set for threaded operation. Failing operation"));
  EXPECT_TRUE(m_context.Bodies().empty());
}

TEST_F(StepRunner, CompleteMarksOnlyMachinesStillOnCourse) {
  std::vector<CDRInfo*> m = m_machines.Add(1, 2);
  CStepTestMachines::SetLastPhase(m[1], Api::VirtualAppJobPhaseType(1), Api::VIRTUAL_APP_PHASE_STATE_FAILED);
  SDROperationCtx ctx = Ctx(m);
  m_dr.Complete(ctx);
  EXPECT_TRUE(m[0]->IsSuccess());
  EXPECT_FALSE(m[1]->IsSuccess());
  EXPECT_TRUE(CLogSink::Instance().Contains("DR complete for replication [1] [] => [SUCCESS]"));
}

TEST_F(StepRunner, PhaseForListWritesEveryMachineHalfASecondApart) {
  std::vector<CDRInfo*> m = m_machines.Add(1, 3);
  SDROperationCtx ctx = Ctx(m, Api::VirtualAppJobPhaseType(24));
  ctx.site = Api::DR_SITE_DESTINATION;
  ctx.markRowAsFailedOnFailure = false;
  m_dr.UpdatePhaseForList(55, ctx.drInfoList, ctx, Api::VIRTUAL_APP_PHASE_STATE_FAILED, "broken");
  EXPECT_EQ(3u, CPlatformClock::Instance().CountWaits(500, "DRJobManager"));
  for (CDRInfo* i : m) {
    SDRPhaseCtx last = i->GetLastPhase();
    EXPECT_EQ(55, last.jobId);
    EXPECT_EQ(24, last.phase);
    EXPECT_EQ(Api::DR_SITE_DESTINATION, last.site);
    EXPECT_EQ(Api::VIRTUAL_APP_PHASE_STATE_FAILED, last.state);
    EXPECT_EQ("broken", last.message);
    EXPECT_FALSE(last.markRowAsFailedOnFailure);
  }
}

TEST_F(StepRunner, IneligibleMachinesEndSkippedAndLeaveEveryList) {
  std::vector<CDRInfo*> m = m_machines.Add(1, 3);
  CStepTestMachines other(m_dr, &m_jm, m_dr.GetDRAppMgr(), 2, TMMsg::DR_OP_SOURCE_DB_REPLICATION);
  other.Add(10, 1);
  m_context.MarkIneligible(2);
  std::vector<CDRInfo*> eligible;
  EXPECT_TRUE(m_dr.PrepareEligibleMachinesForPriority(m_machines.priority, eligible, &m_context));
  EXPECT_EQ((std::vector<int>{1, 3}), Ids(eligible));
  EXPECT_TRUE(m[1]->IsSkipped());
  std::vector<CDRInfo*> active;
  EXPECT_TRUE(m_dr.GetDRInfoListForPriority(m_machines.priority, active, 0));
  EXPECT_EQ((std::vector<int>{1, 3}), Ids(active));
}

TEST_F(StepRunner, NonMachineEntryEndsTheEligibilityWalk) {
  m_machines.Add(1, 1);
  CDRBaseTestPeer::AddInfo(m_dr, new CTestDRInfo(false, false, false));
  m_machines.Add(2, 1);
  std::vector<CDRInfo*> out;
  EXPECT_FALSE(m_dr.GetDRInfoListForPriority(m_machines.priority, out, 0));
  EXPECT_EQ(1u, out.size());
}

// ---- Quit and the job's thread count, on a real DR job ----------------------

class StepRunnerJob : public CStepJobTestBase {
 protected:
  static constexpr long long kJob = 4100;
  StepRunnerJob() : CStepJobTestBase(kJob) {}
};

TEST_F(StepRunnerJob, QuitHaltsAStepUnlessItIgnoresQuit) {
  std::vector<CDRInfo*> m = m_machines.Add(1, 1);
  ASSERT_EQ(EStoreResult::kOk, CJobStore::SetControlOperation(kJob, 3));
  SDROperationCtx ctx = m_dr.GetDROpCtx(Api::VirtualAppJobPhaseType(1), Api::DR_SITE_SOURCE, true);
  ctx.drInfoList = m;
  EXPECT_FALSE(m_dr.RunOperation(m_context, ctx, true));
  EXPECT_TRUE(CLogSink::Instance().Contains("Halting DR step as DR job [4100] quit flag is set", "RunStep"));
  EXPECT_TRUE(m_context.Steps().empty());

  ctx.ignoreQuit = true;
  EXPECT_TRUE(m_dr.RunOperation(m_context, ctx, true));
  EXPECT_EQ(1u, m_context.Steps().size());
}

TEST_F(StepRunnerJob, StoredThreadCountBelowOneStillGivesAWorkingPool) {
  ASSERT_TRUE(ZNGlobalParam::set(DRPLAN_SETTINGS_PARALLEL_THREAD_COUNT, "0"));
  TMMsg::JobOption options = MakeOptions(1);
  ASSERT_TRUE(m_dr.GetDRAppMgr()->Initialize(kOwner, &options));
  EXPECT_EQ(0, m_dr.GetDRAppMgr()->GetMaxParallelThreadCount());
  std::vector<CDRInfo*> m = m_machines.Add(1, 3);
  EXPECT_TRUE(m_dr.ProcessIDAPriority(m_context, m_machines.priority, ZNDR::BATCH_OP_FAILOVER));
  EXPECT_EQ(3u, m_context.Bodies().size());
  EXPECT_TRUE(CLogSink::Instance().Contains("Thread count [0] is below 1. Using [1] thread", "InitDrThreadPool"));
  EXPECT_TRUE(CLogSink::Instance().Contains("Initialized thread pool with maxDRThreadPoolCount = [1]"));
}

}  // namespace
