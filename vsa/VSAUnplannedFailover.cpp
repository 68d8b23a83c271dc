#include "VSAUnplannedFailover.h"

#include <vector>

#include "VSARepInfo.h"
#include "VSAReplDataMgr.h"
#include "engine/DRBase.h"
#include "engine/DRInfo.h"
#include "engine/DRInfoUtils.h"
#include "engine/GenericDR.h"
#include "engine/SDROSubclient.h"
#include "engine/SDROperationCtx.h"
#include "engine/SDRPriority.h"
#include "services/DRAppManager.h"

CVSAUnplannedFailover::CVSAUnplannedFailover(CGenericDR& orchestrator) : CVSADRBase(orchestrator), m_drObject(&orchestrator) {
  m_event.setJobId(m_jobId);
}

CVSAUnplannedFailover::~CVSAUnplannedFailover() { m_event.DebugLvl(2, "~CVSAUnplannedFailover", "Invoking CVSAUnplannedFailover destructor"); }

bool CVSAUnplannedFailover::ProcessPriority(const SDRPriority& priority) { return ProcessSubclientPriority(priority); }

bool CVSAUnplannedFailover::IsPermisableFailoverStateForJob(App::VSAFailoverStatus status) {
  return IsFailoverStateValidForJob(status);
}

bool CVSAUnplannedFailover::IsPermisableSyncStateForJob(App::VSAReplicationStatus status) {
  // A machine an attempt of this job took up may stand with the sync that
  // attempt disabled: its restart finishes it, as the planned failover's does.
  if (IsRestartedRun()) return true;
  return status == App::VSA_REPL_STATUS_IN_SYNC || status == App::VSA_REPL_STATUS_NEED_SYNC;
}

bool CVSAUnplannedFailover::PersistSnapMoref(CDRInfo* info, Api::DRSite site, std::string& moref) {
  if (site != Api::DR_SITE_DESTINATION || info == nullptr) return true;
  m_event.Debug("PersistSnapMoref", "Persisting snap moref [%s] for DR VM on repl [%d]", moref.c_str(),
                info->GetReplId());
  CVSAReplDataMgr* manager = GetVSADataManager(info);
  if (manager != nullptr) manager->UpdateReplPropTbl(info->GetReplId(), VSARepInfo::kPropDestSnapMoref, moref, true);
  return true;
}

void CVSAUnplannedFailover::LoadOperationConfig(SDROperationCtx& ctx) {
  switch (DRInfoUtils::GetBatchOp(ctx)) {
    case ZNDR::BATCH_OP_POWER_OFF_PRIMARY:
    case ZNDR::BATCH_OP_POST_FAILOVER:
      SetReportingSwitches(ctx, true, false);
      break;
    case ZNDR::BATCH_OP_POWER_ON_SECONDARY:
    case ZNDR::BATCH_OP_CREATE_VM_DESTINATION:
    case ZNDR::BATCH_OP_DISABLE_SYNC:
      SetReportingSwitches(ctx, true, true);
      break;
    default:
      SetReportingSwitches(ctx, false, true);
      break;
  }
}

bool CVSAUnplannedFailover::ProcessDRSubclientThread(SDROperationCtx& ctx) {
  m_orchestrator->InitDRSubclient(ctx);
  // Machines whose DR VM an earlier run of this job brought up go straight
  // to their completion.
  const std::vector<CDRInfo*> resumed = TakeMovedMachines(ctx);
  // It takes no source snapshot: a reference one stands under is an
  // earlier job's.
  DropEarlierSourceSnapshotReferences(ctx);
  const bool up = !ctx.drInfoList.empty() && BringUpGroup(ctx);
  if (!up) ctx.drInfoList.clear();
  ctx.drInfoList.insert(ctx.drInfoList.end(), resumed.begin(), resumed.end());
  if (ctx.drInfoList.empty()) return false;
  return PostReplication(ctx);
}

bool CVSAUnplannedFailover::BringUpGroup(SDROperationCtx& ctx) {
  // The source site may be down: a source VM that cannot be powered off
  // keeps its row FAILED, but the machine goes on from the destination.
  ctx.failureNotLastPhase = true;
  __OP(ctx, ZNDR::BATCH_OP_POWER_OFF_PRIMARY, false);
  ctx.failureNotLastPhase = false;
  if (m_appManager->IsFirstTimeSyncDuringFailoverSet()) {
    if (!ChangeSyncStatusDuringFailover(ctx)) return false;
    if (!ReplicateVMs(ctx, Api::DR_SITE_SOURCE, true)) return false;
  } else if (!DRVMAction(ctx, Api::VIRTUAL_APP_PHASE_CREATE_DR_VIRTUAL_MACHINE, false)) {
    return false;
  }
  if (!CreateFailoverSnapshots(ctx, true)) return false;
  if (!__OP(ctx, ZNDR::BATCH_OP_POWER_ON_SECONDARY, true)) return false;
  // A machine whose DR VM did not come up goes no further: disabling its
  // sync would write a successful last phase over the failed power-on.
  m_orchestrator->FilterSuccessList(ctx);
  return true;
}

bool CVSAUnplannedFailover::IsCompletedStatus(App::VSAFailoverStatus status) {
  return status == App::VSA_FAILOVER_STATUS_FAILOVER_COMPLETE;
}

bool CVSAUnplannedFailover::IsMovedByEarlierRun(CDRInfo* info) {
  return EarlierRunPoweredOn(info, Api::VIRTUAL_APP_PHASE_POWER_ON, Api::DR_SITE_DESTINATION);
}

bool CVSAUnplannedFailover::PostReplicationThread(SDROperationCtx& ctx) { return CompleteMachineFailover(ctx); }

bool CVSAUnplannedFailover::PerformPostDrOps(SDROperationCtx& ctx) {
  if (!RunPostFailoverActions(ctx)) return false;
  CDRInfo* info = ctx.GetInfo();
  const bool failback = DRInfoUtils::IsVSAFailbackSupported(info);
  if (failback && !__OP(ctx, ZNDR::BATCH_OP_DELETE_SNAPSHOT_SECONDARY, false)) return false;
  ResetSyncLastRestoreTime(info);
  // The DR VM's backup snapshot is gone when the VM supports failback.
  return RecordDRVMIPAddressLast(ctx, failback);
}

bool CVSAUnplannedFailover::CleanupDROperationThread(SDROperationCtx& ctx) {
  CleanupFailedMachine(ctx, true);
  return true;
}

bool CVSAUnplannedFailover::Cleanup(const SDRPriority& priority) {
  CleanupFailedFailovers(priority);
  return true;
}
