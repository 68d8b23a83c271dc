#include "SnapArrayUndoFailover.h"

#include "SnapDRRepInfo.h"
#include "drorch/DRJobManager.h"
#include "engine/DRBase.h"
#include "engine/DRHelper.h"
#include "engine/DRInfoUtils.h"
#include "engine/GenericDR.h"
#include "engine/SDROSubclient.h"
#include "engine/SDROperationCtx.h"
#include "services/DRAppManager.h"

CSnapArrayUndoFailover::CSnapArrayUndoFailover(CGenericDR& orchestrator)
    : CSnapArrayDRBase(orchestrator), m_genericDR(&orchestrator) {
  if (m_jobManager != nullptr) m_event.setJobId(m_jobManager->GetJobId());
}

CSnapArrayUndoFailover::~CSnapArrayUndoFailover() {
  m_event.DebugLvl(2, "~CSnapArrayUndoFailover", "Invoking CSnapArrayUndoFailover destructor");
}

bool CSnapArrayUndoFailover::ProcessDRSubclientThread(SDROperationCtx& ctx) {
  if (!PreFailover(ctx)) return false;
  SetAllowMultiImageSnapMount();
  // Its result is not read (a DR VM a restart's earlier attempt unmounted
  // is gone): a failure is no reason of the machine's.
  ctx.failureNotLastPhase = true;
  __OP(ctx, ZNDR::BATCH_OP_SHUTDOWN_SECONDARY, true);
  ctx.failureNotLastPhase = false;
  if (!__OP(ctx, ZNDR::BATCH_OP_DR_VM_UNMOUNT_FROM_SNAP, false)) return false;
  if (!__OP(ctx, ZNDR::BATCH_OP_STORAGE_OPERATION_PRIMARY, true)) return false;
  if (!__OP(ctx, ZNDR::BATCH_OP_POWER_ON_PRIMARY, false)) return false;
  m_orchestrator->Complete(ctx);
  return true;
}

bool CSnapArrayUndoFailover::StorageOps(SDROperationCtx& ctx) {
  if (!QueryVMAfiles(ctx, true)) return false;
  if (!FilterMountedVMs(ctx, Api::DR_SITE_DESTINATION)) {
    m_event.Debug("StorageOps",
                  "FilterMountedVMs returned an empty vm list. Cannot continue UNDO-FAILOVER operations");
    return false;
  }
  if (!QuerySnapDataMgr(ctx, SNAP_REPLMGR_REQ_REPLICA_GROUP_INFO, false)) return false;
  if (!FilterLUNMappedVMs(ctx)) {
    m_event.Debug("StorageOps",
                  "FilterLunMappedVMs either failed or returned an empty vm list. Cannot continue UNDO-FAILOVER "
                  "operations.");
    return false;
  }
  SnapDRRepInfo* rep = GetSnapRepInfo(ctx.GetInfo());
  if (rep == nullptr) return false;
  if (!ChangeSyncStatus(ctx, rep->GetCopyId(), Api::VIRTUAL_APP_PHASE_RESYNC_VOLUME_RELATIONSHIP, true)) return false;
  const int appId = ctx.subclient != nullptr ? ctx.subclient->GetAppId() : DRInfoUtils::GetAppId(ctx.GetInfo());
  m_appManager->ChangeSubclientActivity(appId, true);
  return true;
}

void CSnapArrayUndoFailover::LoadOperationConfig(SDROperationCtx& ctx) {
  static const SStepSwitches kTable[] = {
      {ZNDR::BATCH_OP_SHUTDOWN_SECONDARY, 0, 0, 0, kKeep},
      {ZNDR::BATCH_OP_STORAGE_OPERATION_PRIMARY, 1, 1, kKeep, 1},
      {ZNDR::BATCH_OP_DR_VM_UNMOUNT_FROM_SNAP, 1, 1, 1, kKeep},
      {ZNDR::BATCH_OP_GET_VM_INFO_DESTINATION, 0, 0, 0, kKeep},
      {ZNDR::BATCH_OP_NONE, 1, 1, kKeep, 0},
  };
  ApplyStepSwitches(ctx, kTable);
}

bool CSnapArrayUndoFailover::IsPermisableFailoverStateForJob(App::VSAFailoverStatus status) {
  if (IsRestartedRun() && status == DRHelper::GetFailoverRunningStatus(AdmissionType())) {
    return true;
  }
  return status == App::VSA_FAILOVER_STATUS_FAILOVER_COMPLETE || status == App::VSA_FAILOVER_STATUS_FAILOVER_FAILED ||
         status == App::VSA_FAILOVER_STATUS_FAILBACK_FAILED || status == App::VSA_FAILOVER_STATUS_REVERT_FAILOVER_FAILED;
}

uint64_t CSnapArrayUndoFailover::GetMountOpJobId(SnapDRRepInfo* rep) { return MountedMasterJobId(rep); }
