#include "VSARevertFailover.h"

#include <vector>

#include "VSARepInfo.h"
#include "drorch/DRJobManager.h"
#include "engine/DRBase.h"
#include "engine/DRInfo.h"
#include "engine/DRInfoUtils.h"
#include "engine/GenericDR.h"
#include "engine/SDROperationCtx.h"
#include "engine/SDRPhaseCtx.h"
#include "engine/SDRPriority.h"

CVSARevertFailover::CVSARevertFailover(CGenericDR& orchestrator)
    : CVSADRBase(orchestrator), m_drObject(&orchestrator) {
  m_event.setJobId(m_jobId);
}

CVSARevertFailover::~CVSARevertFailover() {
  m_event.DebugLvl(2, "~CVSARevertFailover", "Invoking CVSARevertFailover destructor");
}

bool CVSARevertFailover::IsPermisableFailoverStateForJob(App::VSAFailoverStatus status) {
  if (IsRestartedRun() && status == App::VSA_FAILOVER_STATUS_REVERT_FAILOVER_IN_PROGRESS) return true;
  return status == App::VSA_FAILOVER_STATUS_FAILOVER_COMPLETE || status == App::VSA_FAILOVER_STATUS_FAILBACK_FAILED;
}

bool CVSARevertFailover::CleanupDROperationThread(SDROperationCtx& ctx) {
  const bool ignoreQuit = ctx.ignoreQuit;
  ctx.ignoreQuit = true;
  for (CDRInfo* info : ctx.drInfoList) RevertSyncStatus(info, GetOriginalSyncStatus(info));
  ctx.ignoreQuit = ignoreQuit;
  return true;
}

bool CVSARevertFailover::Cleanup(const SDRPriority& priority) {
  std::vector<CDRInfo*> list;
  m_orchestrator->GetDRInfoListForPriority(priority, list, 0);
  ResetSyncStatusOnFailure(list);
  CleanupStatus(list, App::VSA_FAILOVER_STATUS_REVERT_FAILOVER_FAILED,
                App::VSA_FAILOVER_STATUS_REVERT_FAILOVER_IN_PROGRESS, true);
  return true;
}

bool CVSARevertFailover::Failover(SDROperationCtx& ctx) {
  CDRInfo* info = ctx.GetInfo();
  if (info == nullptr) return false;
  UpdateFailoverStatus(info, App::VSA_FAILOVER_STATUS_REVERT_FAILOVER_IN_PROGRESS);
  if (IsRestartedRun() && IsMovedByEarlierRun(info)) {
    // The earlier run reached the source's revert: the steps before it are
    // not run again, only what is left, the source's power-on included.
    m_event.Debug("Failover", "Replication [%d] reached its post-DR operations in an earlier run of DR job [%lld]",
                  info->GetReplId(), static_cast<long long>(m_jobId));
    if (ResumePostDrOps(ctx, info)) {
      MarkSuccess(info, Api::DR_SITE_SOURCE);
      return true;
    }
    RecordPostDR(info, Api::VIRTUAL_APP_PHASE_STATE_FAILED, false);
    return false;
  }
  if (!__OP(ctx, ZNDR::BATCH_OP_SHUTDOWN_SECONDARY, false)) return false;
  m_event.Debug("Failover", "Deleting failover snapshots for DR VMs if exists");
  RevertFailoverSnapshots(ctx, false);
  DeleteFailoverSnapshots(ctx, false);
  // The source is not powered on here but at the end of the post-DR
  // operations, once its snapshot is gone. A machine whose steps so far
  // failed, or whose job was told to stop, goes no further: its source
  // stays off, its snapshot and reference kept.
  SDROperationCtx succeeded(ctx);
  m_orchestrator->FilterSuccessList(succeeded);
  if (succeeded.drInfoList.empty() || IsQuitRequested(ctx)) return false;
  if (PerformPostDrOps(ctx)) {
    MarkSuccess(info, Api::DR_SITE_SOURCE);
    return true;
  }
  RecordPostDR(info, Api::VIRTUAL_APP_PHASE_STATE_FAILED, false);
  return false;
}

bool CVSARevertFailover::PerformPostDrOps(SDROperationCtx& ctx) { return RevertAndStartSource(ctx, true); }

bool CVSARevertFailover::ResumePostDrOps(SDROperationCtx& ctx, CDRInfo* info) {
  // A snapshot the earlier run reverted to and deleted is not looked for
  // again: only its reference and what follows are left.
  return RevertAndStartSource(ctx, !IsSourceSnapshotGone(info));
}

bool CVSARevertFailover::RevertAndStartSource(SDROperationCtx& ctx, bool revert) {
  CDRInfo* info = ctx.GetInfo();
  if (info == nullptr) return false;
  RecordPostDR(info, Api::VIRTUAL_APP_PHASE_STATE_IN_PROGRESS, true);
  // The source is reverted while it is off, and runs only once its snapshot
  // and the reference to it are gone: from its power-on, what it writes is
  // the workload's, which no later step (a restart of this job, the undo
  // failover) may revert. A source whose revert failed is still started,
  // so that the workload runs; its snapshot goes first all the same.
  const bool reverted = !revert || RevertSourceVMSnapshot(ctx, true);
  const bool deleted = DeleteSourceVMSnapshot(ctx, reverted);
  const bool running = PowerOnRevertedSource(ctx);
  if (!reverted || !deleted || !running) return false;
  EnableSync(info, ctx);
  RecordPostDR(info, Api::VIRTUAL_APP_PHASE_STATE_SUCCESS, true);
  return true;
}

bool CVSARevertFailover::PowerOnRevertedSource(SDROperationCtx& ctx) {
  VSARepInfo* vsa = GetVSARepInfo(ctx.GetInfo());
  if (vsa != nullptr && !vsa->GetSourceSnapMorefProp().empty()) {
    // Its delete was halted by a kill or a suspend, or the reference could
    // not be removed: the source stays off, still the snapshot's, for the
    // next step on the machine to revert and delete.
    m_event.Error("PowerOnRevertedSource",
                  "Leaving the source VM of replication [%d] off: its snapshot reference [%s] is still stored",
                  ctx.GetInfo()->GetReplId(), vsa->GetSourceSnapMorefProp().c_str());
    return false;
  }
  // The snapshot was taken with the source shut down, so its revert leaves
  // the source off. The machine's steps so far succeeded, or its source
  // revert failed: none is filtered out here.
  return __OP(ctx, ZNDR::BATCH_OP_POWER_ON_PRIMARY, false);
}

bool CVSARevertFailover::IsCompletedStatus(App::VSAFailoverStatus status) {
  return status == App::VSA_FAILOVER_STATUS_NONE || status == App::VSA_FAILOVER_STATUS_REVERT_FAILOVER_COMPLETE;
}

void CVSARevertFailover::FinishCompletedMachine(CDRInfo* info) { MarkSuccess(info, Api::DR_SITE_SOURCE); }

bool CVSARevertFailover::IsMovedByEarlierRun(CDRInfo* info) {
  const uint32_t postDR = EarlierPhaseState(info, Api::VIRTUAL_APP_PHASE_POST_DR_OPERATION);
  return postDR == Api::VIRTUAL_APP_PHASE_STATE_IN_PROGRESS || postDR == Api::VIRTUAL_APP_PHASE_STATE_SUCCESS;
}

void CVSARevertFailover::RecordPostDR(CDRInfo* info, Api::VirtualAppPhaseState state, bool markRowAsFailedOnFailure) {
  SDRPhaseCtx phase(m_jobId, Api::VIRTUAL_APP_PHASE_POST_DR_OPERATION, state, Api::DR_SITE_DESTINATION,
                    markRowAsFailedOnFailure);
  // While it runs, the row must not drop the machine from the source
  // snapshot steps it is made of, which take only machines that succeeded.
  phase.notLastPhase = state == Api::VIRTUAL_APP_PHASE_STATE_IN_PROGRESS;
  phase.clientEntity.SetString(ZnEntities::GenericEntity::kClientName,
                               DRInfoUtils::GetSitePropStr(info, DR_SITE_PROPERTY_NAME, Api::DR_SITE_SOURCE));
  info->UpdatePhase(phase);
}

void CVSARevertFailover::LoadOperationConfig(SDROperationCtx& ctx) {
  const ZNDR::BatchOperation op = DRInfoUtils::GetBatchOp(ctx);
  ctx.markRowAsFailedOnFailure = true;
  ctx.updatePhaseInfoTbl = op == ZNDR::BATCH_OP_POWER_ON_PRIMARY || op == ZNDR::BATCH_OP_SHUTDOWN_SECONDARY;
}
