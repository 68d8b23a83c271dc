#include "VSARevertFailover.h"

#include <vector>

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
  if (!__OP(ctx, ZNDR::BATCH_OP_POWER_ON_PRIMARY, true)) return false;
  if (PerformPostDrOps(ctx)) {
    MarkSuccess(info, Api::DR_SITE_SOURCE);
    return true;
  }
  RecordPostDR(info, Api::VIRTUAL_APP_PHASE_STATE_FAILED, false);
  return false;
}

bool CVSARevertFailover::PerformPostDrOps(SDROperationCtx& ctx) {
  CDRInfo* info = ctx.GetInfo();
  if (info == nullptr) return false;
  RecordPostDR(info, Api::VIRTUAL_APP_PHASE_STATE_IN_PROGRESS, true);
  if (!RevertSourceVMSnapshot(ctx, true) || !PowerOnRevertedSource(ctx) || !DeleteSourceVMSnapshot(ctx, true)) {
    return false;
  }
  EnableSync(info, ctx);
  RecordPostDR(info, Api::VIRTUAL_APP_PHASE_STATE_SUCCESS, true);
  return true;
}

bool CVSARevertFailover::ResumePostDrOps(SDROperationCtx& ctx, CDRInfo* info) {
  if (!IsSourceSnapshotGone(info)) return PerformPostDrOps(ctx);
  // Reverted and deleted by the earlier run; only its reference and what
  // follows are left.
  RecordPostDR(info, Api::VIRTUAL_APP_PHASE_STATE_IN_PROGRESS, true);
  if (!PowerOnRevertedSource(ctx) || !DeleteSourceVMSnapshot(ctx, true)) return false;
  EnableSync(info, ctx);
  RecordPostDR(info, Api::VIRTUAL_APP_PHASE_STATE_SUCCESS, true);
  return true;
}

bool CVSARevertFailover::PowerOnRevertedSource(SDROperationCtx& ctx) {
  // The snapshot was taken with the source shut down, so its revert leaves
  // the source off: a revert brings production back to the source, running.
  // The machine's steps so far succeeded, so none is filtered out here.
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
