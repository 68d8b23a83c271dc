#include "VSAFailback.h"

#include <algorithm>

#include "VSARepInfo.h"
#include "drorch/DRJobManager.h"
#include "engine/DRHelper.h"
#include "engine/DRInfo.h"
#include "engine/DRInfoUtils.h"
#include "engine/GenericDR.h"
#include "engine/SDROSubclient.h"
#include "engine/SDROperationCtx.h"
#include "engine/SDRPriority.h"
#include "engine/ZnCriticalSectionLock.h"
#include "services/DRAppManager.h"

namespace {

bool IsFailoverOrPointInTimeSnapshot(const SDROperationCtx& ctx) { return ctx.snapType == 2 || ctx.snapType == 3; }

// The restore replaced the machine's source with its DR VM.
bool IsRestored(CDRInfo* info) {
  return info->GetPhaseState(Api::VIRTUAL_APP_PHASE_REPLICATION, Api::DR_SITE_DESTINATION) ==
         static_cast<uint32_t>(Api::VIRTUAL_APP_PHASE_STATE_SUCCESS);
}

// The DR orchestration option a failback schedule's first subtask carries;
// null when the task has no subtask or the subtask no job options.
CNMessageBase* DROptionOf(TMMsg::TaskInfo& task) {
  if (task.ListSize(TMMsg::TaskInfo::kSubTasks) == 0) return nullptr;
  CNMessageBase& sub = task.MutableListMsg(TMMsg::TaskInfo::kSubTasks, 0);
  if (!sub.Has(TMMsg::SubTaskInfo::kJobOptions)) return nullptr;
  return &sub.MutableMsg(TMMsg::SubTaskInfo::kJobOptions)
              .MutableMsg(TMMsg::JobOption::kBackupOptions)
              .MutableMsg(TMMsg::BackupOptionFields::kDROrchestrationOption);
}

}  // namespace

CVSAFailback::CVSAFailback(CGenericDR& orchestrator) : CVSADRBase(orchestrator), m_drObject(&orchestrator) {
  m_event.setJobId(m_jobId);
  m_appManager->SetDelayTimeBeforeSync(10);
}

CVSAFailback::~CVSAFailback() { m_event.DebugLvl(2, "~CVSAFailback", "Invoking CVSAFailback destructor"); }

bool CVSAFailback::ProcessPriority(const SDRPriority& priority) {
  if (m_orchestrator == nullptr) return false;
  if (!GetVSRstOptions()) {
    m_event.Debug("ProcessPriority", "Failed to get failback vsa restore options.");
    return false;
  }
  m_event.Debug("ProcessPriority", "Priority [%d] is a [VSA Replication] type Failback priority", priority.order);
  std::vector<SDROSubclient> subclients;
  const bool processed = m_orchestrator->ProcessSubclientsInPriority(priority, subclients, this);
  PostOpsSubclient(subclients);
  if (!processed) {
    m_event.Error("ProcessPriority", "Error in processing subclients for priority [%d]", priority.order);
    return false;
  }
  SDROperationCtx ctx;
  ctx.priority = const_cast<SDRPriority*>(&priority);
  for (SDROSubclient& group : subclients) {
    ctx.drInfoList.insert(ctx.drInfoList.end(), group.GetOutputList().begin(), group.GetOutputList().end());
  }
  if (!PostReplication(ctx)) {
    m_event.Error("ProcessPriority", "Encountered error(s) in PostReplication for priority [%d]", priority.order);
    return false;
  }
  return true;
}

bool CVSAFailback::ProcessDRSubclientThread(SDROperationCtx& ctx) {
  if (!m_orchestrator->InitDRSubclient(ctx)) return false;
  // Machines an earlier run of this job restored run at the source again:
  // powering it off and restoring once more would lose what they wrote
  // since. They join the group's output as if restored now.
  const std::vector<CDRInfo*> resumed = TakeMovedMachines(ctx);
  // The restore replaces the source: the snapshot a reference names would
  // no longer be what it ran, whether this job ends or not.
  DropEarlierSourceSnapshotReferences(ctx);
  const bool restoredNow = !ctx.drInfoList.empty() && RestoreGroup(ctx);
  if (restoredNow) PowerOnSourcesLeftOff(ctx);
  // Only the machines whose restore succeeded lose their DR VM: one whose
  // sync failed still carries the workload there.
  SDROperationCtx restored(ctx);
  if (restoredNow && ctx.subclient != nullptr) restored.drInfoList = ctx.subclient->GetOutputList();
  for (CDRInfo* info : resumed) {
    bool running = false;
    if (IsVMRunning(info, Api::DR_SITE_DESTINATION, running)) restored.drInfoList.push_back(info);
    if (ctx.subclient != nullptr) ctx.subclient->GetOutputList().push_back(info);
  }
  if (!restoredNow && resumed.empty()) return false;
  if (restored.drInfoList.empty()) return true;
  return DRVMAction(restored, Api::VIRTUAL_APP_PHASE_DELETE_DR_VIRTUAL_MACHINE, true);
}

bool CVSAFailback::RestoreGroup(SDROperationCtx& ctx) {
  return PreFailback(ctx) && __OP(ctx, ZNDR::BATCH_OP_SHUTDOWN_SECONDARY, false) &&
         __OP(ctx, ZNDR::BATCH_OP_BACKUP_SECONDARY, true) && __OP(ctx, ZNDR::BATCH_OP_STORAGE_OPERATION_SECONDARY, true) &&
         ReplicateVMs(ctx, Api::DR_SITE_DESTINATION, true);
}

void CVSAFailback::PowerOnSourcesLeftOff(SDROperationCtx& ctx) {
  if (ctx.subclient == nullptr) return;
  // The restore powers each source on. A sync that found a machine in sync
  // with the group's backup (an earlier run of the job restored it)
  // restores nothing, and the source stays as PreFailback left it: off,
  // with the workload nowhere.
  std::vector<CDRInfo*>& output = ctx.subclient->GetOutputList();
  std::vector<CDRInfo*> off;
  for (CDRInfo* info : output) {
    bool running = true;
    if (info != nullptr && IsVMRunning(info, Api::DR_SITE_SOURCE, running) && !running) off.push_back(info);
  }
  if (off.empty() || !RestorePowersOn()) return;
  for (CDRInfo* info : off) {
    m_event.Debug("PowerOnSourcesLeftOff",
                  "Source VM [%s] of replication [%d] is off though its sync found it restored. Powering it on",
                  DRInfoUtils::GetSitePropStr(info, DR_SITE_PROPERTY_NAME, Api::DR_SITE_SOURCE).c_str(),
                  info->GetReplId());
    SDROperationCtx one(ctx);
    one.drInfoList = {info};
    if (__OP(one, ZNDR::BATCH_OP_POWER_ON_PRIMARY, false) &&
        info->GetPhaseState(Api::VIRTUAL_APP_PHASE_POWER_ON, Api::DR_SITE_SOURCE) ==
            static_cast<uint32_t>(Api::VIRTUAL_APP_PHASE_STATE_SUCCESS)) {
      continue;
    }
    // Not done: the machine's clean-up hands the workload back to its DR VM.
    output.erase(std::remove(output.begin(), output.end(), info), output.end());
  }
}

bool CVSAFailback::IsCompletedStatus(App::VSAFailoverStatus status) {
  return status == App::VSA_FAILOVER_STATUS_FAILBACK_COMPLETE || status == App::VSA_FAILOVER_STATUS_NONE;
}

void CVSAFailback::FinishCompletedMachine(CDRInfo* info) {
  MarkSuccess(info, Api::DR_SITE_DESTINATION);
  // No status is a completed failback's: a suspended job, which completes
  // no machine, leaves the status to the restart.
  if (info != nullptr && info->IsSuccess()) ClearFailoverStatus(info);
}

bool CVSAFailback::IsMovedByEarlierRun(CDRInfo* info) { return EarlierSyncSucceeded(info); }

bool CVSAFailback::PreFailback(SDROperationCtx& ctx) {
  const int appId = ctx.subclient != nullptr ? ctx.subclient->GetAppId() : 0;
  m_event.Debug("PreFailback", "Beginning pre-failback ops for subclient[%d]", appId);
  ctx.preScript = true;
  const std::string list =
      DRInfoUtils::GetReplStr(ctx.subclient != nullptr ? ctx.subclient->GetInputList() : ctx.drInfoList);
  m_event.Debug("PreFailback", "Ensuring source vms are powered off in replication list [%s]", list.c_str());
  if (!__OP(ctx, ZNDR::BATCH_OP_POWER_OFF_PRIMARY, false)) {
    m_event.Debug("PreFailback", "PowerOff failed for source vms in replication list [%s]", list.c_str());
  }
  CDRInfo* first = ctx.GetInfo();
  const bool direct = first != nullptr && DRInfoUtils::IsReplicaSyncDirectEnabled(first) && !first->IsIndexingV2();
  if (!DeleteFailoverSnapshots(ctx, direct)) {
    ctx.preScript = false;
    m_event.Error("PreFailback", "Failed to delete [__OB_FAILOVER__] snapshots on DR VMs for subclient [%d]", appId);
    return false;
  }
  if (!DeletePointInTimeDestinationVMSnapshots(ctx, true)) {
    ctx.preScript = false;
    m_event.Error("PreFailback", "Failed to delete all PIT snapshots on DR VMs for subclient [%d]", appId);
    return false;
  }
  ctx.preScript = false;
  if (ctx.drInfoList.empty()) {
    m_event.Error("PreFailback", "No VMs completed pre-failback ops for subclient [%d]", appId);
    return false;
  }
  m_event.Debug("PreFailback", "Completed pre-failback ops for subclient [%d]", appId);
  return true;
}

bool CVSAFailback::PostReplicationThread(SDROperationCtx& ctx) {
  CDRInfo* info = ctx.GetInfo();
  if (info == nullptr) return false;
  const bool postDRDone = IsResumed(info) && EarlierPhaseState(info, Api::VIRTUAL_APP_PHASE_POST_DR_OPERATION) ==
                                                 static_cast<uint32_t>(Api::VIRTUAL_APP_PHASE_STATE_SUCCESS);
  if (!postDRDone && !_PostDROperation(ctx)) return false;
  MarkSuccess(info, Api::DR_SITE_DESTINATION);
  if (info->IsSuccess()) ClearFailoverStatus(info);
  return true;
}

bool CVSAFailback::PerformPostDrOps(SDROperationCtx& ctx) {
  CDRInfo* info = ctx.GetInfo();
  VSARepInfo* vsa = GetVSARepInfo(info);
  if (vsa == nullptr) return false;
  if (m_appManager->IsFirstTimeSyncDuringFailoverSet()) {
    if (!DisableSync(info, ctx)) return false;
    // The subclient sequence may have deleted the DR VM already; a second
    // request would name a VM that is gone.
    if (info->GetPhaseState(Api::VIRTUAL_APP_PHASE_DELETE_DR_VIRTUAL_MACHINE, Api::DR_SITE_DESTINATION) !=
        static_cast<uint32_t>(Api::VIRTUAL_APP_PHASE_STATE_SUCCESS)) {
      SDROperationCtx one(ctx);
      one.drInfoList = {info};
      if (!DRVMAction(one, Api::VIRTUAL_APP_PHASE_DELETE_DR_VIRTUAL_MACHINE, false)) return false;
    }
    ResetDestinationVMGuid(info);
    ResetSyncLastRestoreTime(info);
    ResetVMSyncedTillTime(info);
  } else {
    if (!__OP(ctx, ZNDR::BATCH_OP_CREATE_SNAPSHOT_SECONDARY, false) || !EnableSync(info, ctx)) return false;
  }
  m_appManager->RemoveVSAPropTblProperty(VSARepInfo::kPropSourceSnapMoref, info->GetReplId());
  std::vector<CDRInfo*> one = {info};
  UpdateFlags(one);
  CleanupSchedules(info);
  return true;
}

void CVSAFailback::PostOpsSubclient(std::vector<SDROSubclient>& subclients) {
  for (SDROSubclient& group : subclients) {
    m_event.Debug("PostOpsSubclient", "Running post-subclient ops for appId [%d]", group.GetAppId());
    const long long backupJobId = group.GetBkpJobId();
    if (backupJobId <= 0) continue;
    for (CDRInfo* info : group.GetInputList()) {
      if (info == nullptr || !DRInfoUtils::IsReplicaSyncDirectEnabled(info)) continue;
      m_event.Debug("PostOpsSubclient",
                    "[Replica Sync Direct Replication] therefore attempting to cleanup backup snaps for job [%lld]",
                    backupJobId);
      if (m_jobManager->DeleteSnapsForJob(backupJobId)) {
        m_event.Debug("PostOpsSubclient", "Successfully cleaned up snaps for backup job [%lld]", backupJobId);
      }
      SDROperationCtx one;
      one.drInfoList = {info};
      one.site = Api::DR_SITE_DESTINATION;
      DeleteSnapshotsForReplicaSyncDirect(one, false, false);
    }
  }
}

void CVSAFailback::CleanupSchedules(CDRInfo* info) {
  ZnCriticalSectionLock lock(&m_taskEditLock);
  VSARepInfo* vsa = GetVSARepInfo(info);
  if (vsa == nullptr) return;
  const int backupTask = static_cast<int>(vsa->GetDestBackupTaskId());
  const int failbackTask = static_cast<int>(vsa->GetReverseReplicationTaskId());
  if (backupTask > 0 && !m_appManager->IsScheduleDeletedByDRJob(backupTask)) {
    if (CanDeleteDRBackupTask(backupTask)) {
      if (m_appManager->DeleteSchedule(backupTask)) {
        m_event.Debug("CleanupSchedules", "Removed DR backup schedule for replication [%d] VM [%s]", vsa->GetReplId(),
                      vsa->GetDestinationName().c_str());
      }
    } else {
      RemoveVMFromDRBackupTask(backupTask, info);
    }
  }
  if (failbackTask > 0 && !m_appManager->IsScheduleDeletedByDRJob(failbackTask)) {
    if (CanDeleteFailbackSchedule(failbackTask)) {
      if (m_appManager->DeleteSchedule(failbackTask)) {
        m_event.Debug("CleanupSchedules", "Removed DR failback schedule for replication [%d] VM [%s]",
                      vsa->GetReplId(), vsa->GetDestinationName().c_str());
      }
    } else {
      RemoveVMFromFailbackSchedule(failbackTask, info);
    }
  }
}

bool CVSAFailback::CanDeleteFailbackSchedule(int taskId) {
  ZnCriticalSectionLock lock(&m_taskEditLock);
  TMMsg::TaskInfo task;
  bool found = false;
  if (!m_appManager->QueryTaskInfo(taskId, task, found) || !found) return false;
  CNMessageBase* option = DROptionOf(task);
  if (option == nullptr) return false;
  std::vector<int> replications;
  const TMMsg::DROrchestrationOption dr(*option);
  if (!DRHelper::GetReplList(dr, replications)) return false;
  return replications.size() < 2;
}

bool CVSAFailback::RemoveVMFromFailbackSchedule(int taskId, CDRInfo* info) {
  ZnCriticalSectionLock lock(&m_taskEditLock);
  TMMsg::TaskInfo task;
  bool found = false;
  if (info == nullptr || !m_appManager->QueryTaskInfo(taskId, task, found) || !found) return false;
  CNMessageBase* option = DROptionOf(task);
  if (option == nullptr) return false;
  if (!option->Has(TMMsg::DROrchestrationOption::kReplicationInfo) ||
      !option->GetMsg(TMMsg::DROrchestrationOption::kReplicationInfo)
           .Has(TMMsg::DRReplicationInfoFields::kReplicationIds)) {
    m_event.Error("RemoveVMFromFailbackSchedule", "Replication info not set OR replication id(s) not found");
    return false;
  }
  CNMessageBase& replication = option->MutableMsg(TMMsg::DROrchestrationOption::kReplicationInfo);
  bool removed = false;
  for (size_t i = replication.ListSize(TMMsg::DRReplicationInfoFields::kReplicationIds); i-- > 0;) {
    if (replication.GetListInt32(TMMsg::DRReplicationInfoFields::kReplicationIds, i) != info->GetReplId()) continue;
    m_event.Debug("RemoveVMFromFailbackSchedule", "Removing Replication [%d] from task [%d]", info->GetReplId(),
                  taskId);
    replication.ListRemove(TMMsg::DRReplicationInfoFields::kReplicationIds, i);
    removed = true;
  }
  if (removed) m_appManager->UpdateTaskInfo(taskId, task);
  return removed;
}

bool CVSAFailback::CleanupDROperationThread(SDROperationCtx& ctx) {
  const bool ignoreQuit = ctx.ignoreQuit;
  ctx.ignoreQuit = true;
  // Each machine's sync goes off in a clean-up context of its own: its row
  // must not become the machine's last phase, or the failed step behind it
  // would be forgotten and the next succeeded-only step (the DR-site backup
  // after a failed shutdown) would take a DR VM that still runs.
  for (CDRInfo* info : ctx.drInfoList) {
    if (info == nullptr) continue;
    SDROperationCtx one;
    one.drInfoList.assign(1, info);
    one.ignoreQuit = true;
    DisableSync(info, one);
  }
  ctx.ignoreQuit = ignoreQuit;
  return true;
}

bool CVSAFailback::Cleanup(const SDRPriority& priority) {
  std::vector<CDRInfo*> list;
  m_orchestrator->GetDRInfoListForPriority(priority, list, 0);
  // A machine that failed after its restore has its source running with
  // the DR VM's data. The source goes down before the DR VM comes back,
  // and a source that would not go down keeps the workload: it must never
  // run at both sites, and "Failback Failed" leaves it on the DR VM.
  std::vector<CDRInfo*> restored;
  for (CDRInfo* info : list) {
    if (info != nullptr && IsRestored(info)) restored.push_back(info);
  }
  PerformVMOperationOnFailure(restored, Api::DR_SITE_SOURCE, Api::VIRTUAL_APP_PHASE_SHUTDOWN);
  std::vector<CDRInfo*> drSide;
  for (CDRInfo* info : list) {
    if (info == nullptr) continue;
    const bool sourceDown = info->GetPhaseState(Api::VIRTUAL_APP_PHASE_SHUTDOWN, Api::DR_SITE_SOURCE) ==
                            static_cast<uint32_t>(Api::VIRTUAL_APP_PHASE_STATE_SUCCESS);
    if (!IsRestored(info) || sourceDown) drSide.push_back(info);
  }
  PerformVMOperationOnFailure(drSide, Api::DR_SITE_DESTINATION, Api::VIRTUAL_APP_PHASE_POWER_ON);
  CleanupStatus(list, App::VSA_FAILOVER_STATUS_FAILBACK_FAILED, App::VSA_FAILOVER_STATUS_FAILBACK_IN_PROGRESS, true);
  return true;
}

bool CVSAFailback::IsPermisableFailoverStateForJob(App::VSAFailoverStatus status) {
  if (IsRestartedRun() && status == App::VSA_FAILOVER_STATUS_FAILBACK_IN_PROGRESS) return true;
  return DRInfoUtils::IsFailoverStatusValid(status, AdmissionType());
}

bool CVSAFailback::IsPermisableSyncStateForJob(App::VSAReplicationStatus status) {
  if (IsRestartedRun()) return true;
  return status == App::VSA_REPL_STATUS_SYNC_DISABLED || status == App::VSA_REPL_STATUS_SYNC_IN_PROGRESS;
}

bool CVSAFailback::GetVSABkpOptions(TMMsg::VSABkpOption& options, ApplicationId&, std::vector<CDRInfo*>& list) {
  options.TouchField(TMMsg::VSABkpOption::kSelectedVMs);
  for (CDRInfo* info : list) {
    IRepInfo* rep = info != nullptr ? info->GetRepInfo() : nullptr;
    TMMsg::VSASelectiveVMInfo& vm = options.AddMsgAs<TMMsg::VSASelectiveVMInfo>(TMMsg::VSABkpOption::kSelectedVMs);
    vm.SetString(TMMsg::VSASelectiveVMInfo::kVMGuid, rep != nullptr ? rep->GetSourceGuid() : std::string());
    vm.SetInt64(TMMsg::VSASelectiveVMInfo::kReplicationId, info != nullptr ? info->GetReplId() : 0);
  }
  if (!DRInfoUtils::SetProxiesForBackup(options, list)) return false;
  options.SetInt64(TMMsg::VSABkpOption::kField2, 1);
  options.SetInt64(TMMsg::VSABkpOption::kField1, 0);
  return true;
}

void CVSAFailback::LoadOperationConfig(SDROperationCtx& ctx) {
  switch (DRInfoUtils::GetBatchOp(ctx)) {
    case ZNDR::BATCH_OP_POWER_OFF_PRIMARY:
    case ZNDR::BATCH_OP_DELETE_DR_VIRTUAL_MACHINE:
      ctx.markRowAsFailedOnFailure = false;
      ctx.updatePhaseInfoTbl = false;
      break;
    case ZNDR::BATCH_OP_POWER_ON_PRIMARY:
    case ZNDR::BATCH_OP_SHUTDOWN_SECONDARY:
    case ZNDR::BATCH_OP_BACKUP_SECONDARY:
    case ZNDR::BATCH_OP_REPLICATION_SECONDARY:
    case ZNDR::BATCH_OP_STORAGE_OPERATION_SECONDARY:
      ctx.markRowAsFailedOnFailure = true;
      ctx.updatePhaseInfoTbl = true;
      ctx.raisePendingCauseOnFailure = true;
      break;
    case ZNDR::BATCH_OP_DELETE_SNAPSHOT_SECONDARY:
      if (IsFailoverOrPointInTimeSnapshot(ctx)) {
        ctx.markRowAsFailedOnFailure = false;
        ctx.updatePhaseInfoTbl = false;
        ctx.raisePendingCauseOnFailure = true;
      }
      break;
    default:
      ctx.markRowAsFailedOnFailure = true;
      ctx.updatePhaseInfoTbl = false;
      break;
  }
}

void CVSAFailback::LoadSyncList(SDROperationCtx& ctx) { CVSADRBase::LoadSyncList(ctx); }

bool CVSAFailback::_PreReplication(SDROperationCtx& ctx) {
  // Each replica-sync-direct machine on its own, at the source; the
  // caller's context (site, list) is the sync's.
  for (CDRInfo* info : ctx.drInfoList) {
    if (info == nullptr || !DRInfoUtils::IsReplicaSyncDirectEnabled(info)) continue;
    SDROperationCtx one(ctx);
    one.drInfoList = {info};
    one.site = Api::DR_SITE_SOURCE;
    DeleteSnapshotsForReplicaSyncDirect(one, false, false);
  }
  return true;
}

bool CVSAFailback::HandleSyncFailure(SDROperationCtx& ctx, CDRInfo* info) {
  // A restore the job's own options leave the machine out of fails it on
  // every run made with them: its restart, or a new job given the same
  // file, would fail it again.
  if (info != nullptr && IsLeftOutOfRestoreOptions(info)) info->SetNeededOption(EMachineOption::kRestoreOptions);
  SDROperationCtx copy(ctx);
  DisableSync(info, copy);
  std::vector<CDRInfo*> one = {info};
  PerformVMOperationOnFailure(one, Api::DR_SITE_SOURCE, Api::VIRTUAL_APP_PHASE_SHUTDOWN);
  return true;
}
