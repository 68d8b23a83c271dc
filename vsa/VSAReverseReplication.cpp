#include "VSAReverseReplication.h"

#include "drorch/DRJobManager.h"
#include "engine/DRBase.h"
#include "engine/DRInfo.h"
#include "engine/DRInfoUtils.h"
#include "engine/GenericDR.h"
#include "engine/SDROSubclient.h"
#include "engine/SDROperationCtx.h"
#include "engine/SDRPriority.h"

CVSAReverseReplication::CVSAReverseReplication(CGenericDR& orchestrator) : CVSAFailback(orchestrator) {
  m_event.setJobId(m_jobId);
}

CVSAReverseReplication::~CVSAReverseReplication() {
  m_event.DebugLvl(2, "~CVSAReverseReplication", "Invoking CVSAReverseReplication destructor");
}

bool CVSAReverseReplication::ProcessPriority(const SDRPriority& priority) {
  if (m_orchestrator == nullptr) return false;
  if (!GetVSRstOptions()) {
    m_event.Debug("ProcessPriority", "Failed to get failback vsa restore options.");
    return false;
  }
  m_event.Debug("ProcessPriority", "Priority [%d] is a [VSA Replication] type REVERSE REPLICATION priority",
                priority.order);
  std::vector<SDROSubclient> subclients;
  if (!m_orchestrator->ProcessSubclientsInPriority(priority, subclients, this)) return false;
  SDROperationCtx ctx;
  ctx.priority = const_cast<SDRPriority*>(&priority);
  for (SDROSubclient& group : subclients) {
    ctx.drInfoList.insert(ctx.drInfoList.end(), group.GetOutputList().begin(), group.GetOutputList().end());
  }
  return PostReplication(ctx);
}

bool CVSAReverseReplication::ProcessDRSubclientThread(SDROperationCtx& ctx) {
  if (!m_orchestrator->InitDRSubclient(ctx)) return false;
  // Machines an earlier run of this job restored need only what follows.
  const std::vector<CDRInfo*> resumed = TakeMovedMachines(ctx);
  // The restore replaces the source, which then runs beside its DR VM: no
  // revert or undo may take it back to a snapshot from before. The backup
  // snapshot this type ends with is left without a reference for the same
  // reason.
  DropEarlierSourceSnapshotReferences(ctx);
  bool replicated = false;
  if (!ctx.drInfoList.empty()) {
    replicated = DeleteFailoverSnapshots(ctx, false) && DeletePointInTimeDestinationVMSnapshots(ctx, true) &&
                 __OP(ctx, ZNDR::BATCH_OP_BACKUP_SECONDARY, false) &&
                 __OP(ctx, ZNDR::BATCH_OP_STORAGE_OPERATION_SECONDARY, true) &&
                 ReplicateVMs(ctx, Api::DR_SITE_DESTINATION, true);
  }
  if (ctx.subclient != nullptr) {
    ctx.subclient->GetOutputList().insert(ctx.subclient->GetOutputList().end(), resumed.begin(), resumed.end());
  }
  if (!replicated && resumed.empty()) return false;
  m_jobManager->UpdatePercentComplete(m_orchestrator->ComputePercentComplete());
  return true;
}

bool CVSAReverseReplication::IsCompletedStatus(App::VSAFailoverStatus) {
  // It keeps the status it starts from, so the status tells nothing; a
  // machine it restored resumes, and what follows the restore is repeatable.
  return false;
}

bool CVSAReverseReplication::Cleanup(const SDRPriority& priority) {
  std::vector<CDRInfo*> list;
  m_orchestrator->GetDRInfoListForPriority(priority, list, 0);
  DisableSyncForList(list);
  return true;
}

bool CVSAReverseReplication::IsPermisableFailoverStateForJob(App::VSAFailoverStatus status) {
  // Only a workload moved to DR and not brought home has a DR VM to copy
  // back: any other source holds the workload's newest content, which the
  // restore would overwrite with the DR VM's older one. The DR VM's power
  // does not matter: one the operator powered off still holds the newest.
  return status == App::VSA_FAILOVER_STATUS_FAILOVER_COMPLETE;
}

bool CVSAReverseReplication::PostReplicationThread(SDROperationCtx& ctx) {
  CDRInfo* info = ctx.GetInfo();
  if (info == nullptr || !__OP(ctx, ZNDR::BATCH_OP_CREATE_SNAPSHOT_PRIMARY, false)) return false;
  MarkSuccess(info, Api::DR_SITE_DESTINATION);
  return true;
}

void CVSAReverseReplication::LoadOperationConfig(SDROperationCtx& ctx) {
  switch (DRInfoUtils::GetBatchOp(ctx)) {
    case ZNDR::BATCH_OP_BACKUP_SECONDARY:
    case ZNDR::BATCH_OP_REPLICATION_SECONDARY:
    case ZNDR::BATCH_OP_STORAGE_OPERATION_SECONDARY:
      ctx.markRowAsFailedOnFailure = false;
      ctx.updatePhaseInfoTbl = true;
      break;
    case ZNDR::BATCH_OP_DELETE_SNAPSHOT_SECONDARY:
      if (ctx.snapType == 2 || ctx.snapType == 3) {
        ctx.markRowAsFailedOnFailure = false;
        ctx.updatePhaseInfoTbl = false;
        ctx.raisePendingCauseOnFailure = true;
      }
      break;
    default:
      ctx.markRowAsFailedOnFailure = false;
      ctx.updatePhaseInfoTbl = false;
      break;
  }
}
