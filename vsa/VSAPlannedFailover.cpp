#include "VSAPlannedFailover.h"

#include <vector>

#include "VSARepInfo.h"
#include "VSAReplDataMgr.h"
#include "drorch/DRJobManager.h"
#include "engine/DRBase.h"
#include "engine/DRInfo.h"
#include "engine/DRInfoUtils.h"
#include "engine/GenericDR.h"
#include "engine/SDROSubclient.h"
#include "engine/SDROperationCtx.h"
#include "engine/SDRPriority.h"
#include "services/DRAppManager.h"

CVSAPlannedFailover::CVSAPlannedFailover(CGenericDR& orchestrator) : CVSADRBase(orchestrator), m_drObject(&orchestrator) {
  m_event.setJobId(m_jobId);
}

CVSAPlannedFailover::~CVSAPlannedFailover() { m_event.DebugLvl(2, "~CVSAPlannedFailover", "Invoking CVSAPlannedFailover destructor"); }

bool CVSAPlannedFailover::ProcessPriority(const SDRPriority& priority) { return ProcessSubclientPriority(priority); }

bool CVSAPlannedFailover::IsPermisableFailoverStateForJob(App::VSAFailoverStatus status) {
  return IsFailoverStateValidForJob(status);
}

bool CVSAPlannedFailover::IsPermisableSyncStateForJob(App::VSAReplicationStatus status) {
  if (IsRestartedRun()) return true;
  return status == App::VSA_REPL_STATUS_IN_SYNC || status == App::VSA_REPL_STATUS_NEED_SYNC ||
         status == App::VSA_REPL_STATUS_SYNC_IN_PROGRESS;
}

bool CVSAPlannedFailover::PersistSnapMoref(CDRInfo* info, Api::DRSite site, std::string& moref) {
  int property = VSARepInfo::kPropSourceSnapMoref;
  const int replId = info != nullptr ? info->GetReplId() : 0;
  if (site == Api::DR_SITE_SOURCE) {
    m_event.Debug("PersistSnapMoref", "Persisting snap moref [%s] for source VM on repl [%d]", moref.c_str(), replId);
  } else if (site == Api::DR_SITE_DESTINATION) {
    m_event.Debug("PersistSnapMoref", "Persisting snap moref [%s] for DR VM on repl [%d]", moref.c_str(), replId);
    property = VSARepInfo::kPropDestSnapMoref;
  }
  CVSAReplDataMgr* manager = GetVSADataManager(info);
  if (manager == nullptr) return false;
  return manager->UpdateReplPropTbl(replId, property, moref, true);
}

void CVSAPlannedFailover::LoadOperationConfig(SDROperationCtx& ctx) {
  switch (DRInfoUtils::GetBatchOp(ctx)) {
    case ZNDR::BATCH_OP_POWER_ON_SECONDARY:
    case ZNDR::BATCH_OP_SHUTDOWN_PRIMARY:
    case ZNDR::BATCH_OP_BACKUP_PRIMARY:
    case ZNDR::BATCH_OP_REPLICATION_PRIMARY:
    case ZNDR::BATCH_OP_STORAGE_OPERATION_PRIMARY:
    case ZNDR::BATCH_OP_CREATE_VM_DESTINATION:
      SetReportingSwitches(ctx, true, true);
      break;
    case ZNDR::BATCH_OP_POST_FAILOVER:
      SetReportingSwitches(ctx, true, false);
      break;
    default:
      SetReportingSwitches(ctx, false, true);
      break;
  }
}

bool CVSAPlannedFailover::PreFailover(SDROperationCtx& ctx) {
  const int appId = ctx.subclient != nullptr ? ctx.subclient->GetAppId() : 0;
  m_event.Debug("PreFailover", "Beginning pre-failover ops for subclient[%d]", appId);
  std::vector<CDRInfo*> input;
  if (ctx.subclient != nullptr) input = ctx.subclient->GetInputList();
  const bool ok = CVSADRBase::PreFailover(ctx, input);
  m_event.Debug("PreFailover", "Completed pre-failover ops for subclient[%d]", appId);
  return ok;
}

bool CVSAPlannedFailover::ProcessDRSubclientThread(SDROperationCtx& ctx) {
  m_orchestrator->InitDRSubclient(ctx);
  SDROSubclient* group = ctx.subclient;
  const int appId = group != nullptr ? group->GetAppId() : 0;
  // Machines whose DR VM an earlier run of this job brought up skip the
  // steps that lead there: they would power it off and sync over it.
  const std::vector<CDRInfo*> resumed = TakeMovedMachines(ctx);
  // The group's machines are its input list and the resumed ones, which
  // TakeMovedMachines took out of it; the synced ones are in the input list.
  std::vector<CDRInfo*> machines = group != nullptr ? group->GetInputList() : ctx.drInfoList;
  machines.insert(machines.end(), resumed.begin(), resumed.end());
  std::vector<CDRInfo*> boot;
  if (!ctx.drInfoList.empty() && ReplicateGroup(ctx)) {
    boot = group != nullptr ? group->GetOutputList() : ctx.drInfoList;
  }
  boot.insert(boot.end(), resumed.begin(), resumed.end());
  ctx.drInfoList = boot;
  m_event.Debug("ProcessDRSubclientThread", "Found [%zu] vms to boot for subclient [%d].", ctx.drInfoList.size(),
                appId);
  if (ctx.drInfoList.empty()) return false;
  if (!PostReplication(ctx)) return false;
  EnableBackupActivityOnVMs(machines);
  return true;
}

bool CVSAPlannedFailover::ReplicateGroup(SDROperationCtx& ctx) {
  if (!PreFailover(ctx)) return false;
  if (!__OP(ctx, ZNDR::BATCH_OP_SHUTDOWN_PRIMARY, true)) return false;
  if (!__OP(ctx, ZNDR::BATCH_OP_BACKUP_PRIMARY, true)) return false;
  // Scheduled backups would only compete with the failover; the clean-up or
  // the scheduled re-enabling brings them back.
  DisableBackupActivityOnVMs(ctx.drInfoList);
  if (!__OP(ctx, ZNDR::BATCH_OP_STORAGE_OPERATION_PRIMARY, true)) return false;
  if (!ChangeSyncStatusDuringFailover(ctx)) return false;
  // The machines that synced go on, whatever the step answers for the
  // others; none synced ends the group.
  ReplicateVMs(ctx, Api::DR_SITE_SOURCE, true);
  return true;
}

bool CVSAPlannedFailover::PostReplicationThread(SDROperationCtx& ctx) {
  if (!IsResumed(ctx.GetInfo())) {
    if (!DeleteEarlierSourceSnapshots(ctx)) return false;
    if (!DRVMAction(ctx, Api::VIRTUAL_APP_PHASE_CREATE_DR_VIRTUAL_MACHINE, false)) return false;
    if (!CreateFailoverSnapshots(ctx, true)) return false;
    if (!__OP(ctx, ZNDR::BATCH_OP_POWER_ON_SECONDARY, true)) return false;
  }
  return CompleteMachineFailover(ctx);
}

bool CVSAPlannedFailover::IsCompletedStatus(App::VSAFailoverStatus status) {
  return status == App::VSA_FAILOVER_STATUS_FAILOVER_COMPLETE;
}

void CVSAPlannedFailover::FinishCompletedMachine(CDRInfo* info) {
  MarkSuccess(info, Api::DR_SITE_DESTINATION);
  // The group's end, which switches them back on, may not have come.
  std::vector<CDRInfo*> one = {info};
  EnableBackupActivityOnVMs(one);
}

bool CVSAPlannedFailover::IsMovedByEarlierRun(CDRInfo* info) {
  return EarlierRunPoweredOn(info, Api::VIRTUAL_APP_PHASE_POWER_ON, Api::DR_SITE_DESTINATION);
}

bool CVSAPlannedFailover::DeleteEarlierSourceSnapshots(SDROperationCtx& ctx) {
  if (!DRInfoUtils::IsVSAFailbackSupported(ctx.GetInfo())) return true;
  // A source snapshot an earlier attempt took is older than what the source
  // ran after it (the attempt's clean-up powered it on again): the one taken
  // after the move replaces it. One that cannot be deleted fails the machine
  // here, before its workload moves, so that the failure loses nothing and
  // no second snapshot of the name is taken beside it, for a rerun to adopt
  // and a revert or an undo to take the production source back to.
  SDROperationCtx earlier(ctx);
  return DeleteEarlierBackupSnapshots(earlier, Api::DR_SITE_SOURCE, false);
}

bool CVSAPlannedFailover::PerformPostDrOps(SDROperationCtx& ctx) {
  if (!RunPostFailoverActions(ctx)) return false;
  const bool failback = DRInfoUtils::IsVSAFailbackSupported(ctx.GetInfo());
  if (failback) {
    // The source snapshot is where a failback starts from; without it the
    // destination's backup snapshot stays. A machine resumed past its move
    // keeps the one this job took, for the create to adopt.
    if (!__OP(ctx, ZNDR::BATCH_OP_CREATE_SNAPSHOT_PRIMARY, false)) return false;
    if (!__OP(ctx, ZNDR::BATCH_OP_DELETE_SNAPSHOT_SECONDARY, false)) return false;
  }
  // The DR VM's backup snapshot is gone when the VM supports failback.
  return RecordDRVMIPAddressLast(ctx, failback);
}

bool CVSAPlannedFailover::CleanupDROperationThread(SDROperationCtx& ctx) {
  CleanupFailedMachine(ctx, false);
  return true;
}

bool CVSAPlannedFailover::Cleanup(const SDRPriority& priority) {
  std::vector<CDRInfo*> machines;
  m_orchestrator->GetDRInfoListForPriority(priority, machines, 0);
  // The workload of a machine left to the restart runs on its DR VM.
  std::vector<CDRInfo*> undone = WithoutLeftToRestart(machines);
  PerformVMOperationOnFailure(undone, Api::DR_SITE_SOURCE, Api::VIRTUAL_APP_PHASE_POWER_ON);
  if (m_appManager->IsFirstTimeSyncDuringFailoverSet()) CleanupFirstTimeSyncDuringFailover(machines);
  CleanupFailedFailovers(priority);
  EnableBackupActivityOnVMs(machines);
  return true;
}
