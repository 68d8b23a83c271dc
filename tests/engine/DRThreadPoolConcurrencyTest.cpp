// DR thread pools under real threads: pool sizes, subclient groups, the
// volume-relationship items, and a quit while a polled pool runs.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <memory>

#include "drorch/DRJobManager.h"
#include "engine/SDRThreadInfo.h"
#include "app/SSMReplicaGroup.h"
#include "StepJobTestBase.h"
#include "TestStepContext.h"
#include "jobs/ZNDROrchestrationClnt.h"
#include "log/LogSink.h"
#include "services/ServicesTestSupport.h"
#include "sync/ZnThreadPool.h"
#include "time/PlatformClock.h"

namespace {

class DRThreadPoolConcurrency : public CStepJobTestBase {
 protected:
  static constexpr long long kJob = 4200;
  DRThreadPoolConcurrency() : CStepJobTestBase(kJob) {}
  // Sets the job's control operation from the body that brings the running
  // bodies up to `running`.
  void QuitOnceRunning(int op, int running) {
    m_context.onEnter = [this, op, running](int now) {
      if (now >= running && !m_quitSet.exchange(true)) {
        EXPECT_EQ(EStoreResult::kOk, CJobStore::SetControlOperation(kJob, op));
      }
    };
  }
  static size_t Outcomes(const std::vector<CDRInfo*>& list, SDROperationCtx& asked) {
    return static_cast<size_t>(
        std::count_if(list.begin(), list.end(), [&asked](CDRInfo* i) { return i->IsBatchOpSuccess(asked); }));
  }
  std::atomic<bool> m_quitSet{false};
};

TEST_F(DRThreadPoolConcurrency, TwentyFiveMachinesRunTenAtATime) {
  std::vector<CDRInfo*> m = m_machines.Add(1, 25);
  m_context.perMachineMs = 100000;
  m_context.innerStep = true;
  m_context.holdUntilRunning = 10;
  EXPECT_TRUE(m_dr.ProcessIDAPriority(m_context, m_machines.priority, ZNDR::BATCH_OP_FAILOVER));
  EXPECT_TRUE(CLogSink::Instance().Contains("Initialized thread pool with maxDRThreadPoolCount = [10]"));
  EXPECT_EQ(10, m_context.MaxRunning());
  EXPECT_EQ(25u, m_context.Bodies().size());
  SDROperationCtx asked;
  asked.batchOp = ZNDR::BATCH_OP_FAILOVER;
  EXPECT_EQ(25u, Outcomes(m, asked));
  // Every finished item refreshed the progress.
  EXPECT_GE(m_dr.refreshes.load(), 25);
}

TEST_F(DRThreadPoolConcurrency, SubclientGroupsRunOnAPoolOfTwenty) {
  std::vector<CDRInfo*> m = m_machines.Add(1, 6);
  std::vector<SDROSubclient> groups;
  for (int g = 0; g < 3; ++g) {
    groups.emplace_back(1, 100 + g);
    groups.back().Init({m[2 * g], m[2 * g + 1]});
  }
  m_context.failIds = {101};
  m_context.perMachineMs = 50000;
  m_context.holdUntilRunning = 3;
  EXPECT_TRUE(m_dr.RunParallelSubclientOps(groups, &m_context));
  EXPECT_TRUE(CLogSink::Instance().Contains("Initialized thread pool with maxDRThreadPoolCount = [20]"));
  EXPECT_TRUE(CLogSink::Instance().Contains("Waiting for all [Subclient] operation threads to complete => [3]"));
  EXPECT_EQ(3, m_context.MaxRunning());
  EXPECT_TRUE(groups[0].IsSuccess());
  EXPECT_FALSE(groups[1].IsSuccess());
  EXPECT_TRUE(groups[2].IsSuccess());
  for (const SDROperationCtx& c : m_context.BodyContexts()) {
    ASSERT_NE(nullptr, c.subclient);
    EXPECT_EQ(c.subclient->GetInputList(), c.drInfoList);
    EXPECT_EQ(&m_machines.priority, c.priority);
  }
  EXPECT_TRUE(CLogSink::Instance().Contains("Spawned DR process thread for subclient [101]"));
}

TEST_F(DRThreadPoolConcurrency, VolumeRelationshipItemsRecordTheStatusOnlyOnSuccess) {
  // One machine per item: a machine is touched by one worker at a time.
  std::vector<CDRInfo*> m = m_machines.Add(1, 3);
  ZnThreadPool* pool = m_dr.InitDrThreadPool(2);
  ASSERT_NE(nullptr, pool);
  SSMReplicaGroup broken, resynced, failed;
  broken.SetRelationshipStatus(VOLUME_RELATIONSHIP_NOT_RECORDED);
  resynced.SetRelationshipStatus(VOLUME_RELATIONSHIP_BROKEN);
  failed.SetRelationshipStatus(VOLUME_RELATIONSHIP_NOT_RECORDED);
  SDROperationCtx breakCtx, resyncCtx, failCtx;
  breakCtx.drInfoList = {m[0]};
  breakCtx.phase = Api::VIRTUAL_APP_PHASE_BREAK_VOLUME_RELATIONSHIP;
  breakCtx.replicaGroup = &broken;
  resyncCtx.drInfoList = {m[2]};
  resyncCtx.phase = Api::VIRTUAL_APP_PHASE_RESYNC_VOLUME_RELATIONSHIP;
  resyncCtx.replicaGroup = &resynced;
  failCtx.drInfoList = {m[1]};
  failCtx.phase = Api::VIRTUAL_APP_PHASE_BREAK_VOLUME_RELATIONSHIP;
  failCtx.replicaGroup = &failed;
  m_context.failIds = {2};
  SDROperationCtx* ctxs[] = {&breakCtx, &resyncCtx, &failCtx};
  for (SDROperationCtx* c : ctxs) {
    SDRThreadInfo* item = new SDRThreadInfo(&m_context, c, DRInfoUtils::GetDRThreadType(c->phase));
    item->SetDRObject(&m_dr);
    ASSERT_TRUE(pool->doWork(&CDRBase::DRThreadStatic, item));
  }
  // An item of a kind no worker knows still refreshes and is freed.
  SDRThreadInfo* unknown = new SDRThreadInfo(&m_context, &breakCtx, DRThreadType(9));
  unknown->SetDRObject(&m_dr);
  ASSERT_TRUE(pool->doWork(&CDRBase::DRThreadStatic, unknown));
  m_dr.ThreadPoolWait(pool, "Volume", "1,2", false);
  EXPECT_EQ(VOLUME_RELATIONSHIP_BROKEN, broken.GetRelationshipStatus());
  EXPECT_EQ(VOLUME_RELATIONSHIP_NORMAL, resynced.GetRelationshipStatus());
  EXPECT_EQ(VOLUME_RELATIONSHIP_NOT_RECORDED, failed.GetRelationshipStatus());
  EXPECT_EQ(4, m_dr.refreshes.load());
}

TEST_F(DRThreadPoolConcurrency, QuitEndsAPolledPoolAfterItsGraceAndDropsQueuedItems) {
  std::vector<CDRInfo*> m = m_machines.Add(1, 25);
  m_context.perMachineMs = 30000000;  // far beyond the grace: only the stop request ends it
  m_context.innerStep = true;
  // The quit comes once the pool is full: the grace is scaled time, and a
  // worker that a busy machine starts after it would find its item dropped.
  QuitOnceRunning(3, 10);
  SDROperationCtx ctx;
  ctx.priority = &m_machines.priority;
  ctx.drInfoList = m;
  ctx.batchOp = ZNDR::BATCH_OP_FAILOVER;
  ctx.pollWithQuit = true;
  EXPECT_FALSE(m_dr.ProcessIDABatchOp(m_context, ctx));

  EXPECT_TRUE(CLogSink::Instance().Contains("Quit flag is set. Will terminate [Failover] thread pool in [120] seconds"));
  EXPECT_TRUE(CLogSink::Instance().Contains("Terminated [Failover] thread pool !"));
  EXPECT_EQ(1u, CPlatformClock::Instance().CountWaits(120000, "ThreadPoolWait"));
  // Ten items ran: they finished, saw the quit in their step and recorded a
  // failure; the fifteen queued ones never ran and record nothing.
  EXPECT_EQ(10u, m_context.Bodies().size());
  EXPECT_EQ(10, m_context.Finished());
  EXPECT_EQ(10u, m_context.Cleanups().size());
  EXPECT_EQ(0u, Outcomes(m, ctx));
  EXPECT_EQ(10u, CLogSink::Instance().Count("Halting DR step as DR job [4200] quit flag is set"));
  EXPECT_TRUE(m_context.Steps().empty());
}

TEST_F(DRThreadPoolConcurrency, KillShortensTheGraceToSixtySeconds) {
  std::vector<CDRInfo*> m = m_machines.Add(1, 3);
  m_context.perMachineMs = 30000000;
  QuitOnceRunning(1, 3);
  SDROperationCtx ctx;
  ctx.drInfoList = m;
  ctx.batchOp = ZNDR::BATCH_OP_FAILOVER;
  ctx.pollWithQuit = true;
  EXPECT_TRUE(m_dr.RunParallelDROperation(ctx, &m_context));
  EXPECT_EQ(1u, CPlatformClock::Instance().CountWaits(60000, "ThreadPoolWait"));
  EXPECT_TRUE(CLogSink::Instance().Contains("in [60] seconds"));
  // Bodies without an inner step finish once stopped and keep their outcome.
  EXPECT_EQ(3, m_context.Finished());
  EXPECT_EQ(3u, Outcomes(m, ctx));
}

TEST_F(DRThreadPoolConcurrency, BlockingWaitAndCleanupPhaseIgnoreTheQuit) {
  for (bool cleanupPhase : {false, true}) {
    CLogSink::Instance().ClearCapture();
    CStepTestContext context(m_dr);
    std::vector<CDRInfo*> m = m_machines.Add(cleanupPhase ? 10 : 20, 3);
    context.perMachineMs = 200000;
    ASSERT_EQ(EStoreResult::kOk, CJobStore::SetControlOperation(kJob, 3));
    m_jm.SetDRJobCleanupPhase(cleanupPhase);
    SDROperationCtx ctx;
    ctx.drInfoList = m;
    ctx.batchOp = ZNDR::BATCH_OP_FAILOVER;
    ctx.pollWithQuit = cleanupPhase;  // the clean-up phase blocks even when asked to poll
    EXPECT_TRUE(m_dr.ProcessIDABatchOp(context, ctx));
    EXPECT_FALSE(CLogSink::Instance().Contains("Quit flag is set. Will terminate"));
    EXPECT_EQ(3, context.Finished());
    EXPECT_EQ(3u, Outcomes(m, ctx));
    // Each body had its full time.
    EXPECT_EQ(3u, CPlatformClock::Instance().CountWaits(200000, "ProcessDROperationThread"));
    CPlatformClock::Instance().ClearRecords();
  }
}

}  // namespace
