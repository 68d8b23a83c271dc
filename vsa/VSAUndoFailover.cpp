#include "VSAUndoFailover.h"

#include <vector>

#include "drorch/DRJobManager.h"
#include "engine/DRBase.h"
#include "engine/DRInfo.h"
#include "engine/DRInfoUtils.h"
#include "engine/GenericDR.h"
#include "engine/SDROperationCtx.h"
#include "engine/SDRPriority.h"
#include "services/DRAppManager.h"

CVSAUndoFailover::CVSAUndoFailover(CGenericDR& orchestrator) : CVSADRBase(orchestrator), m_drObject(&orchestrator) {
  m_event.setJobId(m_jobId);
}

CVSAUndoFailover::~CVSAUndoFailover() {
  m_event.DebugLvl(2, "~CVSAUndoFailover", "Invoking CVSAUndoFailover destructor");
}

bool CVSAUndoFailover::IsPermisableFailoverStateForJob(App::VSAFailoverStatus status) {
  if (IsRestartedRun() && status == App::VSA_FAILOVER_STATUS_REVERT_FAILOVER_IN_PROGRESS) return true;
  return DRInfoUtils::IsFailoverStatusValid(status, AdmissionType());
}

bool CVSAUndoFailover::IsPermisableSyncStateForJob(App::VSAReplicationStatus status) {
  return status == App::VSA_REPL_STATUS_SYNC_DISABLED;
}

bool CVSAUndoFailover::Cleanup(const SDRPriority& priority) {
  std::vector<CDRInfo*> list;
  m_orchestrator->GetDRInfoListForPriority(priority, list, 0);
  PerformVMOperationOnFailure(list, Api::DR_SITE_DESTINATION, Api::VIRTUAL_APP_PHASE_POWER_ON);
  PerformVMOperationOnFailure(list, Api::DR_SITE_SOURCE, Api::VIRTUAL_APP_PHASE_POWER_OFF);
  ResetSyncStatusOnFailure(list);
  CleanupStatus(list, App::VSA_FAILOVER_STATUS_REVERT_FAILOVER_FAILED,
                App::VSA_FAILOVER_STATUS_REVERT_FAILOVER_IN_PROGRESS, true);
  return true;
}

bool CVSAUndoFailover::Failover(SDROperationCtx& ctx) {
  CDRInfo* info = ctx.GetInfo();
  if (info == nullptr) return false;
  UpdateFailoverStatus(info, App::VSA_FAILOVER_STATUS_REVERT_FAILOVER_IN_PROGRESS);
  // A source the earlier run of this job powered on again runs the
  // workload: its snapshot steps are not repeated.
  const bool resumed = IsRestartedRun() && IsMovedByEarlierRun(info);
  if (resumed) {
    m_event.Debug("Failover", "Replication [%d] runs at the source since an earlier run of DR job [%lld]",
                  info->GetReplId(), static_cast<long long>(m_jobId));
  } else if (!__OP(ctx, ZNDR::BATCH_OP_SHUTDOWN_SECONDARY, false) || !CleanupSnapshots(ctx, false) ||
             !__OP(ctx, ZNDR::BATCH_OP_POWER_ON_PRIMARY, false)) {
    return false;
  }
  if (m_appManager->IsFirstTimeSyncDuringFailoverSet()) {
    if (!DisableSync(info, ctx) || !DRVMAction(ctx, Api::VIRTUAL_APP_PHASE_DELETE_DR_VIRTUAL_MACHINE, false)) {
      return false;
    }
    ResetDestinationVMGuid(info);
    ResetSyncLastRestoreTime(info);
    ResetVMSyncedTillTime(info);
  } else {
    EnableSync(info, ctx);
  }
  MarkSuccess(info, Api::DR_SITE_SOURCE);
  return true;
}

bool CVSAUndoFailover::CleanupSnapshots(SDROperationCtx& ctx, bool succeededOnly) {
  CDRInfo* info = ctx.GetInfo();
  if (info == nullptr || !DRInfoUtils::IsCleanupSnapshotsRequired(info)) return true;
  const bool backupSnapshot =
      !m_appManager->IsFirstTimeSyncDuringFailoverSet() && DRInfoUtils::IsDestinationVMSnapshotCreationAllowed(info);
  // A failover deletes the DR VM's backup snapshot, so an uninterrupted undo
  // finds none and takes one: one there was left by an undo of the machine
  // that did not finish, and the DR VM ran after it. It goes before any VM
  // is reverted: one that cannot be deleted fails the machine while its DR
  // VM still holds what it ran, and no second one is taken beside it.
  if (backupSnapshot && !DeleteEarlierBackupSnapshots(ctx, Api::DR_SITE_DESTINATION, succeededOnly)) return false;
  if (!CleanupFailoverSnapshots(ctx, succeededOnly)) return false;
  // The earlier run got to the snapshots (its DR VM's revert row) and the
  // source's is gone: it reverted and deleted that one too, and only the
  // reference is left.
  const bool sourceDone = EarlierPhaseState(info, Api::VIRTUAL_APP_PHASE_REVERT_SNAPSHOT) ==
                              static_cast<uint32_t>(Api::VIRTUAL_APP_PHASE_STATE_SUCCESS) &&
                          IsSourceSnapshotGone(info);
  if (sourceDone ? !DeleteSourceVMSnapshot(ctx, succeededOnly) : !CleanupSourceVMSnapshots(ctx, succeededOnly)) {
    return false;
  }
  if (!backupSnapshot) return true;
  return __OP(ctx, ZNDR::BATCH_OP_CREATE_SNAPSHOT_SECONDARY, succeededOnly);
}

bool CVSAUndoFailover::IsCompletedStatus(App::VSAFailoverStatus status) {
  return status == App::VSA_FAILOVER_STATUS_NONE || status == App::VSA_FAILOVER_STATUS_REVERT_FAILOVER_COMPLETE;
}

void CVSAUndoFailover::FinishCompletedMachine(CDRInfo* info) { MarkSuccess(info, Api::DR_SITE_SOURCE); }

bool CVSAUndoFailover::IsMovedByEarlierRun(CDRInfo* info) {
  return EarlierRunPoweredOn(info, Api::VIRTUAL_APP_PHASE_POWER_ON, Api::DR_SITE_SOURCE);
}

void CVSAUndoFailover::LoadOperationConfig(SDROperationCtx& ctx) {
  const ZNDR::BatchOperation op = DRInfoUtils::GetBatchOp(ctx);
  ctx.markRowAsFailedOnFailure = true;
  ctx.updatePhaseInfoTbl = op == ZNDR::BATCH_OP_POWER_ON_PRIMARY || op == ZNDR::BATCH_OP_SHUTDOWN_SECONDARY ||
                           op == ZNDR::BATCH_OP_DELETE_SNAPSHOT_SECONDARY ||
                           op == ZNDR::BATCH_OP_REVERT_SNAPSHOT_SECONDARY;
}
