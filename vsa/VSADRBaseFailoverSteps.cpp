// The failover steps the operation classes compose: the pre-failover ops,
// the replication of a group's VMs, the post-replication of each machine,
// the actions on a DR VM (creation, deletion, post-failover action, IP
// address), the post-DR operations under their phase row, the DR backup
// task's selection and the backup activity of the source VM clients.
#include <string>
#include <vector>

#include "VSADRBase.h"
#include "VSARepInfo.h"
#include "VSAReplDataMgr.h"
#include "appmgr/JMActivityCtrl.h"
#include "engine/DRBase.h"
#include "engine/DRHelper.h"
#include "engine/DRInfo.h"
#include "engine/DRInfoUtils.h"
#include "engine/SDROSubclient.h"
#include "engine/SDRPriority.h"
#include "drorch/DRJobManager.h"
#include "engine/SDROperationCtx.h"
#include "engine/SDRPhaseCtx.h"
#include "engine/ZnCriticalSectionLock.h"
#include "services/DRAppManager.h"

namespace {

// The client activity of a backup.
constexpr int kBackupActivity = 1;
// Hours after which a client whose backups the failover switched off gets
// them back, should nothing switch them on before.
constexpr int kBackupActivityDelayHours = 4;

// The VSA backup option of the task's first sub-task; null when the task has
// no sub-task or the sub-task no options.
const CNMessageBase* DRBackupSelection(const TMMsg::TaskInfo& task) {
  if (task.ListSize(TMMsg::TaskInfo::kSubTasks) == 0) return nullptr;
  const CNMessageBase& subtask = task.GetListMsg(TMMsg::TaskInfo::kSubTasks, 0);
  if (!subtask.Has(TMMsg::SubTaskInfo::kJobOptions)) return nullptr;
  return &subtask.GetMsg(TMMsg::SubTaskInfo::kJobOptions)
              .GetMsg(TMMsg::JobOption::kBackupOptions)
              .GetMsg(TMMsg::BackupOptionFields::kVSABackupOption);
}

}  // namespace

bool CVSADRBase::PreFailover(SDROperationCtx& ctx, std::vector<CDRInfo*>&) {
  ctx.preScript = true;
  bool result = true;
  const std::string replStr = DRInfoUtils::GetReplStr(ctx.drInfoList);
  m_event.Debug("PreFailover", "Ensuring destination vms are powered off in replication list [%s]", replStr.c_str());
  if (!__OP(ctx, ZNDR::BATCH_OP_POWER_OFF_SECONDARY, false)) {
    m_event.Error("PreFailover", "PowerOff failed for destination vms in replication list [%s]", replStr.c_str());
    result = false;
  } else if (!__OP(ctx, ZNDR::BATCH_OP_RUN_PRE_SCRIPTS_PRIMARY, true)) {
    m_event.Error("PreFailover", "Pre-scripts failed for all source vms in replication list [%s]", replStr.c_str());
    result = false;
  }
  ctx.preScript = false;
  return result;
}

bool CVSADRBase::ReplicateVMs(SDROperationCtx& ctx, Api::DRSite site, bool loadSyncList) {
  ctx.site = site;
  // The class's switches are those of the replication step: its phase is
  // set before they are loaded, and the batch operation follows from it.
  ctx.phase = Api::VIRTUAL_APP_PHASE_REPLICATION;
  ctx.batchOp = ZNDR::BATCH_OP_NONE;
  if (loadSyncList) LoadSyncList(ctx);
  LoadOperationConfig(ctx);
  _PreReplication(ctx);
  ctx.phase = Api::VIRTUAL_APP_PHASE_REPLICATION;
  ctx.batchOp = ZNDR::BATCH_OP_NONE;
  return m_orchestrator->RunOperation(*this, ctx, false);
}

bool CVSADRBase::DRVMAction(SDROperationCtx& ctx, Api::VirtualAppJobPhaseType phase, bool succeededOnly) {
  VSARepInfo* vsa = GetVSARepInfo(ctx.GetInfo());
  if (vsa == nullptr) {
    m_event.Debug("DRVMAction", "No VM replication record for [%s]. Nothing to do",
                  DRHelper::GetPhaseNameStr(phase).c_str());
    return true;
  }
  const bool create = phase == Api::VIRTUAL_APP_PHASE_CREATE_DR_VIRTUAL_MACHINE;
  const std::string name = create ? vsa->GetSourceName() : vsa->GetDestinationName();
  const std::string guid = create ? vsa->GetSourceGuid() : vsa->GetDestinationGuid();
  const bool deleteForFirstSync =
      phase == Api::VIRTUAL_APP_PHASE_DELETE_DR_VIRTUAL_MACHINE && m_appManager->IsFirstTimeSyncDuringFailoverSet();
  if (!m_appManager->IsCreateDRVMOptionEnabled(vsa->GetTaskId()) && !deleteForFirstSync) return true;
  ctx.site = Api::DR_SITE_DESTINATION;
  const std::string phaseName = DRHelper::GetPhaseNameStr(phase);
  if (!__VmOP(ctx, phase, succeededOnly)) {
    m_event.Error("DRVMAction", "DR VM [%s] with GUID [%s] [%s] failed ", name.c_str(), guid.c_str(),
                  phaseName.c_str());
    return false;
  }
  m_event.Debug("DRVMAction", "DR VM [%s] GUID [%s] [%s] successful ", vsa->GetDestinationName().c_str(),
                vsa->GetDestinationGuid().c_str(), phaseName.c_str());
  return true;
}

bool CVSADRBase::PostReplication(SDROperationCtx& ctx) {
  ctx.batchOp = ZNDR::BATCH_OP_POST_REPLICATION;
  return m_orchestrator->ProcessIDABatchOp(*this, ctx);
}

bool CVSADRBase::PostVMFailover(SDROperationCtx& ctx, bool succeededOnly) {
  CDRInfo* info = ctx.GetInfo();
  VSARepInfo* vsa = GetVSARepInfo(info);
  if (vsa == nullptr) return true;
  ctx.site = Api::DR_SITE_DESTINATION;
  if (!DRInfoUtils::IsVSAPostVMFailoverSupported(info)) return true;
  if (!__VmOP(ctx, Api::VIRTUAL_APP_PHASE_POST_VM_FAILOVER, succeededOnly)) {
    m_event.Error("PostVMFailover", "Post Failover failed for VM [%s] GUID [%s] ", vsa->GetDestinationName().c_str(),
                  vsa->GetDestinationGuid().c_str());
    return false;
  }
  m_event.Debug("PostVMFailover", "Post VM Failover successful for VM [%s] GUID [%s]",
                vsa->GetDestinationName().c_str(), vsa->GetDestinationGuid().c_str());
  return true;
}

bool CVSADRBase::RecordDRVMIPAddress(SDROperationCtx& ctx, bool succeededOnly) {
  CDRInfo* info = ctx.GetInfo();
  VSARepInfo* vsa = GetVSARepInfo(info);
  if (vsa == nullptr) return true;
  ctx.site = Api::DR_SITE_DESTINATION;
  if (!__VmOP(ctx, Api::VIRTUAL_APP_PHASE_GET_VM_INFO, succeededOnly)) {
    m_event.Error("RecordDRVMIPAddress", "GETVMInfoVM failed for VM [%s] ", vsa->GetDestinationName().c_str());
    return false;
  }
  const std::string ip = vsa->GetVMInfo().GetString(Ida::VirtualMachine::kIpAddress);
  CVSAReplDataMgr* manager = GetVSADataManager(info);
  if (manager == nullptr) return false;
  if (ip.empty()) {
    m_event.Debug("RecordDRVMIPAddress", "No Ipaddress returned from GetVMInfo call for VM [%s] GUID [%s].",
                  vsa->GetDestinationName().c_str(), vsa->GetDestinationGuid().c_str());
    return true;
  }
  manager->UpdateReplPropTbl(info->GetReplId(), VSARepInfo::kPropDestVMIpAddress, ip, false);
  m_event.Debug("RecordDRVMIPAddress", "DR VM IP Address set [%s] successful for VM [%s] GUID [%s]", ip.c_str(),
                vsa->GetDestinationName().c_str(), vsa->GetDestinationGuid().c_str());
  return true;
}

bool CVSADRBase::RecordDRVMIPAddressLast(SDROperationCtx& ctx, bool snapshotDeleted) {
  if (!snapshotDeleted && IsQuitRequested(ctx)) {
    CDRInfo* info = ctx.GetInfo();
    m_event.Error("RecordDRVMIPAddressLast", "Post-DR operations of replication [%d] halted as DR job [%lld] quit",
                  info != nullptr ? info->GetReplId() : 0, static_cast<long long>(m_jobId));
    return false;
  }
  // A machine failed past the deletion would be left where no later job
  // finishes it: a new failover looks for the deleted snapshot in vain.
  const bool ignoreQuit = ctx.ignoreQuit;
  ctx.ignoreQuit = ctx.ignoreQuit || snapshotDeleted;
  RecordDRVMIPAddress(ctx, false);
  ctx.ignoreQuit = ignoreQuit;
  return true;
}

bool CVSADRBase::_PostDROperation(SDROperationCtx& ctx) {
  CDRInfo* info = ctx.GetInfo();
  if (info == nullptr) {
    m_event.Error("_PostDROperation", "No machine for the post-DR operations");
    return false;
  }
  m_orchestrator->FilterSuccessList(ctx);
  IRepInfo* rep = info->GetRepInfo();
  SDRPhaseCtx phase(m_jobId, Api::VIRTUAL_APP_PHASE_POST_DR_OPERATION, Api::VIRTUAL_APP_PHASE_STATE_IN_PROGRESS,
                    ctx.site, true);
  phase.clientEntity.SetString(ZnEntities::GenericEntity::kClientName,
                               rep != nullptr ? rep->GetDestinationName() : std::string());
  if (ctx.drInfoList.empty() || ctx.GetInfo() != info) {
    // The machine failed its last step: its post-DR operations do not run,
    // and they never run on another machine in its place.
    m_event.Error("_PostDROperation", "Replication [%d] failed an earlier step. Post-DR operations not run",
                  info->GetReplId());
    phase.state = Api::VIRTUAL_APP_PHASE_STATE_FAILED;
    info->UpdatePhase(phase);
    return false;
  }
  info->UpdatePhase(phase);
  const bool ok = PerformPostDrOps(ctx);
  phase.state = ok ? Api::VIRTUAL_APP_PHASE_STATE_SUCCESS : Api::VIRTUAL_APP_PHASE_STATE_FAILED;
  info->UpdatePhase(phase);
  return ok;
}

bool CVSADRBase::IsPostDROperationRunning(CDRInfo* info) {
  if (info == nullptr) return false;
  for (Api::DRSite site : {Api::DR_SITE_SOURCE, Api::DR_SITE_DESTINATION}) {
    if (info->GetPhaseState(Api::VIRTUAL_APP_PHASE_POST_DR_OPERATION, site) ==
        Api::VIRTUAL_APP_PHASE_STATE_IN_PROGRESS) {
      return true;
    }
  }
  return false;
}

bool CVSADRBase::CanDeleteDRBackupTask(int taskId) {
  ZnCriticalSectionLock lock(&m_taskEditLock);
  TMMsg::TaskInfo task;
  bool found = false;
  if (!m_appManager->QueryTaskInfo(taskId, task, found) || !found) return false;
  const CNMessageBase* selection = DRBackupSelection(task);
  if (selection == nullptr) return false;
  const size_t vms = selection->ListSize(TMMsg::VSABkpOption::kSelectedVMs);
  m_event.Debug("CanDeleteDRBackupTask", "[%zu] vms found in DR Backup task [%d]", vms, taskId);
  return vms < 2;
}

bool CVSADRBase::RemoveVMFromDRBackupTask(int taskId, CDRInfo* info) {
  if (info == nullptr) return false;
  ZnCriticalSectionLock lock(&m_taskEditLock);
  TMMsg::TaskInfo task;
  bool found = false;
  if (!m_appManager->QueryTaskInfo(taskId, task, found) || !found) return false;
  if (DRBackupSelection(task) == nullptr) return false;
  CNMessageBase& selection = task.MutableListMsg(TMMsg::TaskInfo::kSubTasks, 0)
                                 .MutableMsg(TMMsg::SubTaskInfo::kJobOptions)
                                 .MutableMsg(TMMsg::JobOption::kBackupOptions)
                                 .MutableMsg(TMMsg::BackupOptionFields::kVSABackupOption);
  const int replId = info->GetReplId();
  int removed = 0;
  for (size_t i = selection.ListSize(TMMsg::VSABkpOption::kSelectedVMs); i-- > 0;) {
    const CNMessageBase& vm = selection.GetListMsg(TMMsg::VSABkpOption::kSelectedVMs, i);
    if (vm.GetInt64(TMMsg::VSASelectiveVMInfo::kReplicationId) != replId) continue;
    m_event.Debug("RemoveVMFromDRBackupTask", "Removing Replication [%d] from task [%d]", replId, taskId);
    selection.ListRemove(TMMsg::VSABkpOption::kSelectedVMs, i);
    ++removed;
  }
  if (removed == 0) return false;
  m_appManager->UpdateTaskInfo(taskId, task);
  return true;
}

bool CVSADRBase::EnableBackupActivityOnVMs(std::vector<CDRInfo*>& list) { return SwitchBackupActivity(list, true); }

bool CVSADRBase::DisableBackupActivityOnVMs(std::vector<CDRInfo*>& list) { return SwitchBackupActivity(list, false); }

bool CVSADRBase::SwitchBackupActivity(std::vector<CDRInfo*>& list, bool enable) {
  const char* function = enable ? "EnableBackupActivityOnVMs" : "DisableBackupActivityOnVMs";
  JMActivityCtrl controller;
  size_t counted = 0;
  for (CDRInfo* info : list) {
    VSARepInfo* vsa = GetVSARepInfo(info);
    if (vsa == nullptr) continue;
    const int clientId = vsa->GetSourceVMClientId();
    const int rc = enable ? controller.enableClient(clientId, kBackupActivity)
                          : controller.disableClient(clientId, kBackupActivity);
    if (rc != 0) {
      m_event.Error(function, enable ? "Enable backup activity for the VM client failed"
                                     : "Disable backup activity for the VM client failed");
      continue;
    }
    if (enable) {
      m_event.Debug(function, "Enable backup activity for the VM client [%d] success", clientId);
      ++counted;
    } else {
      m_event.Debug(function, "Disable backup activity for the VM client [%d] success", clientId);
      if (m_appManager->SetEnableBackupActivityAfterDelay(clientId, kBackupActivityDelayHours)) ++counted;
    }
  }
  return counted == list.size();
}

// =============================================================================
// What the failover classes share
// =============================================================================

bool CVSADRBase::ProcessSubclientPriority(const SDRPriority& priority) {
  if (m_orchestrator == nullptr) return false;
  m_event.Debug("ProcessPriority", "Priority [%d] is a [VSA Replication] type priority", priority.order);
  std::vector<SDROSubclient> groups;
  return m_orchestrator->ProcessSubclientsInPriority(priority, groups, this);
}

bool CVSADRBase::IsFailoverStateValidForJob(App::VSAFailoverStatus status) {
  if (IsRestartedRun() && status == App::VSA_FAILOVER_STATUS_FAILOVER_IN_PROGRESS) return true;
  return DRInfoUtils::IsFailoverStatusValid(status, AdmissionType());
}

bool CVSADRBase::CompleteMachineFailover(SDROperationCtx& ctx) {
  CDRInfo* info = ctx.GetInfo();
  VSARepInfo* vsa = GetVSARepInfo(info);
  if (vsa == nullptr) return false;
  // Resumed after its post-DR operations: only the success is left to store.
  if (IsResumed(info) && EarlierPhaseState(info, Api::VIRTUAL_APP_PHASE_POST_DR_OPERATION) ==
                             static_cast<uint32_t>(Api::VIRTUAL_APP_PHASE_STATE_SUCCESS)) {
    MarkSuccess(info, Api::DR_SITE_DESTINATION);
    return true;
  }
  const App::VSAReplicationStatus noted = vsa->GetStatus();
  if (!DisableSync(info, ctx)) return false;
  if (!_PostDROperation(ctx)) {
    // A suspended job leaves the statuses for its restart: its DR VM stays
    // up, and a sync enabled under it would write over the workload there.
    if (!m_jobManager->IsJobSuspended()) RevertSyncStatus(info, noted);
    return false;
  }
  MarkSuccess(info, Api::DR_SITE_DESTINATION);
  return true;
}

bool CVSADRBase::RunPostFailoverActions(SDROperationCtx& ctx) {
  if (ctx.GetInfo() == nullptr) {
    m_event.Error("PerformPostDrOps", "No machine for the post-DR operations");
    return false;
  }
  PostVMFailover(ctx, false);
  __OP(ctx, ZNDR::BATCH_OP_RUN_POST_SCRIPTS_SECONDARY, false);
  return true;
}

void CVSADRBase::CleanupFailedMachine(SDROperationCtx& ctx, bool revertSyncStatus) {
  // A tolerated step of the post-DR operations (the post-failover action,
  // the IP address) must not revert a DR VM that goes on to succeed; a
  // failure of the post-DR operations as a whole comes back here after
  // their row is written.
  if (IsPostDROperationRunning(ctx.GetInfo())) return;
  SDROperationCtx undone(ctx);
  undone.drInfoList = WithoutLeftToRestart(ctx.drInfoList);
  if (undone.drInfoList.empty()) return;
  undone.ignoreQuit = true;
  if (revertSyncStatus) {
    for (CDRInfo* info : undone.drInfoList) RevertSyncStatus(info, GetOriginalSyncStatus(info));
  }
  CleanupFailoverSnapshots(undone, false);
}

std::vector<CDRInfo*> CVSADRBase::CleanupFailedFailovers(const SDRPriority& priority) {
  std::vector<CDRInfo*> machines;
  m_orchestrator->GetDRInfoListForPriority(priority, machines, 0);
  std::vector<CDRInfo*> undone = WithoutLeftToRestart(machines);
  CleanupStatus(undone, App::VSA_FAILOVER_STATUS_FAILOVER_FAILED, App::VSA_FAILOVER_STATUS_FAILOVER_IN_PROGRESS, true);
  CleanupStaleFailoverSnapshots(undone);
  return machines;
}

bool CVSADRBase::IsLeftToRestart(CDRInfo* info) {
  if (info == nullptr || info->IsSuccess() || !IsResumed(info)) return false;
  return m_jobManager->IsJobKillIssued() || m_jobManager->IsJobSuspended();
}

std::vector<CDRInfo*> CVSADRBase::WithoutLeftToRestart(const std::vector<CDRInfo*>& machines) {
  std::vector<CDRInfo*> undone;
  for (CDRInfo* info : machines) {
    if (info != nullptr && !IsLeftToRestart(info)) undone.push_back(info);
  }
  return undone;
}

void CVSADRBase::SetReportingSwitches(SDROperationCtx& ctx, bool updatePhaseInfoTbl, bool markRowAsFailedOnFailure) {
  ctx.updatePhaseInfoTbl = updatePhaseInfoTbl;
  ctx.markRowAsFailedOnFailure = markRowAsFailedOnFailure;
}
