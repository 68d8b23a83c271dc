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

bool CVSADRBase::EnableBackupActivityOnVMs(std::vector<CDRInfo*>& list) {
  JMActivityCtrl controller;
  size_t counted = 0;
  for (CDRInfo* info : list) {
    VSARepInfo* vsa = GetVSARepInfo(info);
    if (vsa == nullptr) continue;
    const int clientId = vsa->GetSourceVMClientId();
    if (controller.enableClient(clientId, kBackupActivity) != 0) {
      m_event.Error("EnableBackupActivityOnVMs", "Enable backup activity for the VM client failed");
      continue;
    }
    m_event.Debug("EnableBackupActivityOnVMs", "Enable backup activity for the VM client [%d] success", clientId);
    ++counted;
  }
  return counted == list.size();
}

bool CVSADRBase::DisableBackupActivityOnVMs(std::vector<CDRInfo*>& list) {
  JMActivityCtrl controller;
  size_t counted = 0;
  for (CDRInfo* info : list) {
    VSARepInfo* vsa = GetVSARepInfo(info);
    if (vsa == nullptr) continue;
    const int clientId = vsa->GetSourceVMClientId();
    if (controller.disableClient(clientId, kBackupActivity) != 0) {
      m_event.Error("DisableBackupActivityOnVMs", "Disable backup activity for the VM client failed");
      continue;
    }
    m_event.Debug("DisableBackupActivityOnVMs", "Disable backup activity for the VM client [%d] success", clientId);
    if (m_appManager->SetEnableBackupActivityAfterDelay(clientId, kBackupActivityDelayHours)) ++counted;
  }
  return counted == list.size();
}
