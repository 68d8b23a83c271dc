// Failover steps the failback and point-in-time classes build on.
#include <string>
#include <vector>

#include "VSADRBase.h"
#include "VSAReplDataMgr.h"
#include "VSARepInfo.h"
#include "drorch/DRJobManager.h"
#include "engine/DRBase.h"
#include "engine/DRInfo.h"
#include "engine/DRInfoUtils.h"
#include "engine/SDROperationCtx.h"
#include "engine/ZnCriticalSectionLock.h"
#include "services/DRAppManager.h"

bool CVSADRBase::PreFailover(SDROperationCtx& ctx, std::vector<CDRInfo*>&) {
  ctx.preScript = true;
  bool result = true;
  const std::string list = DRInfoUtils::GetReplStr(ctx.drInfoList);
  m_event.Debug("PreFailover", "Ensuring destination vms are powered off in replication list [%s]", list.c_str());
  if (!__OP(ctx, ZNDR::BATCH_OP_POWER_OFF_SECONDARY, false)) {
    m_event.Debug("PreFailover", "PowerOff failed for destination vms in replication list [%s]", list.c_str());
    result = false;
  } else if (!__OP(ctx, ZNDR::BATCH_OP_RUN_PRE_SCRIPTS_PRIMARY, true)) {
    m_event.Debug("PreFailover", "Pre-scripts failed for all source vms in replication list [%s]", list.c_str());
    result = false;
  }
  ctx.preScript = false;
  return result;
}

bool CVSADRBase::PostReplication(SDROperationCtx& ctx) {
  ctx.batchOp = ZNDR::BATCH_OP_POST_REPLICATION;
  return m_orchestrator->ProcessIDABatchOp(*this, ctx);
}

bool CVSADRBase::RecordDRVMIPAddress(SDROperationCtx& ctx, bool succeededOnly) {
  VSARepInfo* vsa = GetVSARepInfo(ctx.GetInfo());
  if (vsa == nullptr) return true;
  ctx.site = Api::DR_SITE_DESTINATION;
  if (!__VmOP(ctx, Api::VIRTUAL_APP_PHASE_GET_VM_INFO, succeededOnly)) {
    m_event.Error("RecordDRVMIPAddress", "GETVMInfoVM failed for VM [%s] ", vsa->GetDestinationName().c_str());
    return false;
  }
  CVSAReplDataMgr* manager = GetVSADataManager(ctx.GetInfo());
  if (manager == nullptr) return false;
  const std::string ip = vsa->GetVMInfo().GetString(Ida::VirtualMachine::kIpAddress);
  if (ip.empty()) {
    m_event.Debug("RecordDRVMIPAddress", "No Ipaddress returned from GetVMInfo call for VM [%s] GUID [%s].",
                  vsa->GetDestinationName().c_str(), vsa->GetDestinationGuid().c_str());
    return true;
  }
  manager->UpdateReplPropTbl(vsa->GetReplId(), VSARepInfo::kPropDestVMIpAddress, ip, false);
  m_event.Debug("RecordDRVMIPAddress", "DR VM IP Address set [%s] successful for VM [%s] GUID [%s]", ip.c_str(),
                vsa->GetDestinationName().c_str(), vsa->GetDestinationGuid().c_str());
  return true;
}

bool CVSADRBase::_PostDROperation(SDROperationCtx& ctx) {
  CDRInfo* info = ctx.GetInfo();
  m_orchestrator->FilterSuccessList(ctx);
  if (info == nullptr) return PerformPostDrOps(ctx);
  SDRPhaseCtx phase(m_jobId, Api::VIRTUAL_APP_PHASE_POST_DR_OPERATION, Api::VIRTUAL_APP_PHASE_STATE_IN_PROGRESS, ctx.site,
                    true);
  IRepInfo* rep = info->GetRepInfo();
  phase.clientEntity.SetString(ZnEntities::GenericEntity::kClientName,
                               rep != nullptr ? rep->GetDestinationName() : std::string());
  info->UpdatePhase(phase);
  const bool ok = PerformPostDrOps(ctx);
  phase.state = ok ? Api::VIRTUAL_APP_PHASE_STATE_SUCCESS : Api::VIRTUAL_APP_PHASE_STATE_FAILED;
  info->UpdatePhase(phase);
  return ok;
}

namespace {

// The selected VMs of a DR backup task's VSA backup option; null without
// a subtask or job options.
CNMessageBase* SelectedVMsOf(TMMsg::TaskInfo& task) {
  if (task.ListSize(TMMsg::TaskInfo::kSubTasks) == 0) return nullptr;
  CNMessageBase& sub = task.MutableListMsg(TMMsg::TaskInfo::kSubTasks, 0);
  if (!sub.Has(TMMsg::SubTaskInfo::kJobOptions)) return nullptr;
  return &sub.MutableMsg(TMMsg::SubTaskInfo::kJobOptions)
              .MutableMsg(TMMsg::JobOption::kBackupOptions)
              .MutableMsg(TMMsg::BackupOptionFields::kVSABackupOption);
}

}  // namespace

bool CVSADRBase::CanDeleteDRBackupTask(int taskId) {
  ZnCriticalSectionLock lock(&m_taskEditLock);
  TMMsg::TaskInfo task;
  bool found = false;
  if (!m_appManager->QueryTaskInfo(taskId, task, found) || !found) return false;
  CNMessageBase* option = SelectedVMsOf(task);
  if (option == nullptr) return false;
  const size_t vms = option->ListSize(TMMsg::VSABkpOption::kSelectedVMs);
  m_event.Debug("CanDeleteDRBackupTask", "[%zu] vms found in DR Backup task [%d]", vms, taskId);
  return vms < 2;
}

bool CVSADRBase::RemoveVMFromDRBackupTask(int taskId, CDRInfo* info) {
  ZnCriticalSectionLock lock(&m_taskEditLock);
  TMMsg::TaskInfo task;
  bool found = false;
  if (info == nullptr || !m_appManager->QueryTaskInfo(taskId, task, found) || !found) return false;
  CNMessageBase* option = SelectedVMsOf(task);
  if (option == nullptr) return false;
  bool removed = false;
  for (size_t i = option->ListSize(TMMsg::VSABkpOption::kSelectedVMs); i-- > 0;) {
    if (option->GetListMsg(TMMsg::VSABkpOption::kSelectedVMs, i).GetInt64(TMMsg::VSASelectiveVMInfo::kReplicationId) !=
        info->GetReplId()) {
      continue;
    }
    m_event.Debug("RemoveVMFromDRBackupTask", "Removing Replication [%d] from task [%d]", info->GetReplId(), taskId);
    option->ListRemove(TMMsg::VSABkpOption::kSelectedVMs, i);
    removed = true;
  }
  if (removed) m_appManager->UpdateTaskInfo(taskId, task);
  return removed;
}
