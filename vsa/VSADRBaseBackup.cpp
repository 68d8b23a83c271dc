// The last backup of a subclient group's VMs: one backup job through the
// task manager (or the one an earlier run of a restarted DR job left),
// waited on and judged VM by VM; and, after a priority, each machine's
// report line and pending mark.
#include <string>
#include <unordered_map>
#include <vector>

#include "VSADRBase.h"
#include "VSARepInfo.h"
#include "drorch/DRJobManager.h"
#include "engine/DRBase.h"
#include "engine/DRHelper.h"
#include "engine/DRInfo.h"
#include "engine/DRInfoUtils.h"
#include "engine/IRepInfo.h"
#include "engine/SDROSubclient.h"
#include "engine/SDROperationCtx.h"
#include "engine/SDRPriority.h"
#include "services/DRAppManager.h"

namespace {

// The task and sub-task of a VM backup.
const int kBackupTaskType = 1;
const int kBackupSubTaskType = 2;
const int kBackupOperationCode = 2;

const uint32_t kNoPhaseState = 0xFFFFFFFFu;

std::string OrNA(const std::string& text) { return text.empty() ? "N/A" : text; }

}  // namespace

bool CVSADRBase::Backup(SDROperationCtx& ctx) {
  std::vector<CDRInfo*>& list = ctx.drInfoList;
  CDRInfo* first = ctx.GetInfo();
  if (first == nullptr) {
    m_event.Error("Backup", "No VM to back up");
    return false;
  }
  SDROSubclient* group = ctx.subclient;
  const int subclientId = group != nullptr ? group->GetAppId() : DRInfoUtils::GetAppId(first);
  ctx.phase = Api::VIRTUAL_APP_PHASE_BACKUP;
  const ZNOpType opType = DRHelper::GetZNOptype(Api::VIRTUAL_APP_PHASE_BACKUP);
  const std::string replStr = DRInfoUtils::GetReplStr(list);
  long long jobId = 0;
  bool launch = true;
  bool done = false;

  // A backup a schedule runs now would hold the VMs: it goes first.
  long long scheduled = 0;
  m_jobManager->WaitOnRunningBkpJobsForSubclient(subclientId, scheduled);
  if (m_jobManager->IsQuitFlagSet()) return false;

  if (m_jobManager->IsJobRestarted()) {
    const uint32_t state = static_cast<uint32_t>(
        DRInfoUtils::GetPhaseStatusForReplication(m_jobManager, Api::VIRTUAL_APP_PHASE_BACKUP, first));
    long long earlier = 0;
    m_jobManager->GetJobIDForPhase(Api::VIRTUAL_APP_PHASE_BACKUP, first->GetReplId(), earlier);
    // A SKIPPED row is one a restart marked so (RetireUndoneRows).
    if (earlier >= 1 && state != kNoPhaseState && state != Api::VIRTUAL_APP_PHASE_STATE_FAILED &&
        state != Api::VIRTUAL_APP_PHASE_STATE_SKIPPED && !IsBackupOutdatedByEarlierCleanup(earlier, list)) {
      const bool failed = m_jobManager->IsJobFailed(earlier, false);
      if (!failed) {
        if (state == Api::VIRTUAL_APP_PHASE_STATE_SUCCESS) {
          m_event.Debug("Backup",
                        "Backup job [%lld] already run successfully for subclient [%d] and replication list [%s]",
                        earlier, subclientId, replStr.c_str());
          done = true;
        }
        launch = false;
        jobId = earlier;
        m_orchestrator->UpdatePhaseForList(jobId, list, ctx, static_cast<Api::VirtualAppPhaseState>(state), "");
      } else {
        // Also after an earlier SUCCESS: the job it named has failed since,
        // so the VMs have no backup the sync could replicate.
        m_event.Debug("Backup",
                      "Backup job [%lld] spawned previously has failed for subclient [%d] and repl [%s]. Launching "
                      "another one ...",
                      earlier, subclientId, replStr.c_str());
      }
    }
  }

  if (launch) {
    TMMsg::CreateTaskReq request;
    TMMsg::CreateTaskResp response;
    if (!CreateBackupTask(request, subclientId, list)) return false;
    m_event.Debug("Backup", "Starting backup job for subclient [%d] and replication list [%s]", subclientId,
                  replStr.c_str());
    std::string xml, error;
    if (!m_appManager->StartTask(request, response, TMMsg::CreateTaskReq::kTypeId, xml, error, opType, jobId)) {
      m_event.Error("Backup", "Failed to start the backup job for subclient [%d] [%s]", subclientId, error.c_str());
      return false;
    }
    m_orchestrator->UpdatePhaseForList(jobId, list, ctx, Api::VIRTUAL_APP_PHASE_STATE_IN_PROGRESS, "");
    m_event.DebugLvl(1, "Backup",
                     "Waiting for backup job [%lld] to complete for subclient [%d] and replication list [%s]", jobId,
                     subclientId, replStr.c_str());
  }
  if (group != nullptr) group->SetBkpJobId(jobId);
  if (done) return true;
  m_event.Debug("Backup", "Proceeding to check bkp job [%lld] status for subclient [%d] and replication list [%s]",
                jobId, subclientId, replStr.c_str());
  return PostBackupLaunch(jobId, ctx);
}

bool CVSADRBase::IsBackupOutdatedByEarlierCleanup(long long backupJobId, std::vector<CDRInfo*>& list) {
  for (CDRInfo* info : list) {
    if (EarlierPhaseState(info, Api::VIRTUAL_APP_PHASE_BACKUP) == Api::VIRTUAL_APP_PHASE_STATE_SKIPPED) {
      // An attempt in between took the machine over from the start and set
      // it in progress again, after it marked the undone rows.
      m_event.Debug("Backup",
                    "Replication [%d] was taken over from the start by an earlier run of DR job [%lld], after a "
                    "clean-up brought its workload back up. Not adopting backup job [%lld] for replication list [%s]",
                    info->GetReplId(), static_cast<long long>(m_jobId), backupJobId,
                    DRInfoUtils::GetReplStr(list).c_str());
      return true;
    }
    if (!IsUndoneByEarlierCleanup(info)) continue;
    // The killed run's clean-up brought the machine's workload back up
    // after its backup: the workload may have written since, and a sync of
    // that backup would leave it behind.
    m_event.Debug("Backup",
                  "Replication [%d] was left [%s] by an earlier run of DR job [%lld], whose clean-up brought its "
                  "workload back up. Not adopting backup job [%lld] for replication list [%s]",
                  info->GetReplId(), DRHelper::GetVSAFailoverStatusStr(GetOriginalFailoverStatus(info)).c_str(),
                  static_cast<long long>(m_jobId), backupJobId, DRInfoUtils::GetReplStr(list).c_str());
    return true;
  }
  return false;
}

bool CVSADRBase::CreateBackupTask(TMMsg::CreateTaskReq& request, int subclientId, std::vector<CDRInfo*>& list) {
  if (list.empty()) {
    m_event.Error("CreateBackupTask", "VM list for backup is empty");
    return false;
  }
  TMMsg::TaskInfo& task = request.MutableMsgAs<TMMsg::TaskInfo>(TMMsg::CreateTaskReq::kTaskInfo);
  task.MutableMsg(TMMsg::TaskInfo::kTask).SetInt32(TMMsg::TaskObjectFields::kTaskType, kBackupTaskType);
  ApplicationId appId(m_jobManager->GetHDID(), subclientId);
  ZnEntities::GenericEntity& entity = task.AddMsgAs<ZnEntities::GenericEntity>(TMMsg::TaskInfo::kAssociations);
  DRHelper::GetApplicationInfo(appId, entity);
  CNMessageBase& subtask = task.AddMsg(TMMsg::TaskInfo::kSubTasks);
  CNMessageBase& object = subtask.MutableMsg(TMMsg::SubTaskInfo::kSubTask);
  object.SetInt32(TMMsg::SubTaskObjectFields::kSubTaskType, kBackupSubTaskType);
  object.SetInt32(TMMsg::SubTaskObjectFields::kOperationCode, kBackupOperationCode);
  CNMessageBase& options = subtask.MutableMsg(TMMsg::SubTaskInfo::kJobOptions);
  TMMsg::VSABkpOption& vsa = options.MutableMsg(TMMsg::JobOption::kBackupOptions)
                                 .MutableMsgAs<TMMsg::VSABkpOption>(TMMsg::BackupOptionFields::kVSABackupOption);
  if (!GetVSABkpOptions(vsa, appId, list)) {
    m_event.Error("CreateBackupTask", "Failed to set vsaBackupOptions");
    return false;
  }
  options.MutableMsg(TMMsg::JobOption::kCommonOptions)
      .SetString(TMMsg::CommonOptionFields::kDescription, m_jobManager->GetDRJobLaunchDesc());
  return true;
}

bool CVSADRBase::GetVSABkpOptions(TMMsg::VSABkpOption& options, ApplicationId& appId, std::vector<CDRInfo*>& list) {
  return DRInfoUtils::GetVSABackupOptions(options, appId, list);
}

bool CVSADRBase::PostBackupLaunch(long long jobId, SDROperationCtx& ctx) {
  if (m_jobManager->WaitForJobCompletion(jobId, CDRJobManager::kWaitFlagOwnsChild)) {
    return GetVSABkpJobResults(jobId, ctx);
  }
  const std::string message =
      m_jobManager->IsJobKillIssued() ? "Job kill issued" : "Unknown Error. Marking backup attempt as failed.";
  m_orchestrator->UpdatePhaseForList(jobId, ctx.drInfoList, ctx, Api::VIRTUAL_APP_PHASE_STATE_FAILED, message);
  return false;
}

bool CVSADRBase::GetVSABkpJobResults(long long jobId, SDROperationCtx& ctx) {
  CDRInfo* first = ctx.GetInfo();
  if (first == nullptr) {
    m_event.Error("GetVSABkpJobResults", "No VM to judge backup job [%lld] for", jobId);
    return false;
  }
  if (!first->IsIndexingV2() && m_jobManager->IsJobFailed(jobId, true)) {
    m_event.Error("GetVSABkpJobResults", "Backup job [%lld] failed for replication list [%s]", jobId,
                  DRInfoUtils::GetReplStr(ctx.drInfoList).c_str());
    m_orchestrator->UpdatePhaseForList(jobId, ctx.drInfoList, ctx, Api::VIRTUAL_APP_PHASE_STATE_FAILED, "");
    return false;
  }
  return ProcessVSABkpResults(ctx, jobId, ctx.drInfoList, true) > 0;
}

int CVSADRBase::ProcessVSABkpResults(SDROperationCtx& ctx, long long jobId, std::vector<CDRInfo*>& list,
                                     bool updatePhase) {
  std::vector<App::VMStatusInfo> statuses;
  if (!m_appManager->QueryVMStatusInfoList(jobId, statuses)) {
    m_event.Error("ProcessVSABkpResults", "Failed to get the VM status list of backup job [%lld]", jobId);
    if (updatePhase) {
      m_orchestrator->UpdatePhaseForList(jobId, list, ctx, Api::VIRTUAL_APP_PHASE_STATE_FAILED, "");
      return 0;
    }
    statuses.clear();
  }
  std::unordered_map<std::string, const App::VMStatusInfo*> byGuid;
  for (const App::VMStatusInfo& status : statuses) {
    byGuid.emplace(status.GetString(App::VMStatusInfo::kVMGuid), &status);
  }
  int succeeded = 0;
  for (CDRInfo* info : list) {
    if (info == nullptr) continue;
    IRepInfo* rep = info->GetRepInfo();
    const std::string guid = rep != nullptr ? rep->GetSourceGuid() : std::string();
    const std::string client = DRInfoUtils::GetDRClientName(info, m_orchestrator->GetDRType());
    auto found = byGuid.find(guid);
    if (found == byGuid.end()) {
      m_event.Error("ProcessVSABkpResults", "VM GUID [%s] not found in vmUpdateInfoMap", guid.c_str());
      // Uncounted, but no row of a finished job may stay IN-PROGRESS.
      if (updatePhase) {
        SDRPhaseCtx phase = StepPhase(ctx, info, Api::VIRTUAL_APP_PHASE_STATE_FAILED,
                                      "No backup status for VM GUID [" + guid + "]", jobId);
        phase.phase = Api::VIRTUAL_APP_PHASE_BACKUP;
        info->UpdatePhase(phase);
      }
      continue;
    }
    const Api::VirtualAppPhaseState state = DRHelper::GetBackupPhaseStatus(
        static_cast<App::VmStatusEnum>(found->second->GetInt32(App::VMStatusInfo::kStatus)));
    const std::string reason = found->second->GetString(App::VMStatusInfo::kFailureReason);
    if (updatePhase) {
      SDRPhaseCtx phase = StepPhase(ctx, info, state, reason, jobId);
      phase.phase = Api::VIRTUAL_APP_PHASE_BACKUP;
      info->UpdatePhase(phase);
    }
    if (state == Api::VIRTUAL_APP_PHASE_STATE_FAILED) {
      m_event.Error("ProcessVSABkpResults", "VM %-25s -> BACKUP FAILED  [%s]", client.c_str(), reason.c_str());
    } else {
      m_event.Debug("ProcessVSABkpResults", "VM %-25s -> BACKUP SUCCESS", client.c_str());
      ++succeeded;
    }
  }
  return succeeded;
}

bool CVSADRBase::PostProcessPriority(const SDRPriority& priority) {
  std::vector<CDRInfo*> list;
  m_orchestrator->GetDRInfoListForPriority(priority, list, 0);
  for (CDRInfo* info : list) {
    if (m_jobManager->IsJobSuspended()) {
      if (!info->IsSuccess()) info->SetStatus(Api::VIRTUAL_APP_PHASE_STATE_PENDING);
    } else if (m_jobManager->IsJobPendingApplicable() &&
               info->GetLastPhase().state == Api::VIRTUAL_APP_PHASE_STATE_FAILED) {
      info->SetStatus(Api::VIRTUAL_APP_PHASE_STATE_PENDING);
    }
    VSARepInfo* vsa = GetVSARepInfo(info);
    const QSMServer::QVirtualMachineReq refresh =
        vsa != nullptr ? vsa->GetVMRefreshInfo() : QSMServer::QVirtualMachineReq();
    const std::string line =
        "Virtual Machine Name: [" + OrNA(vsa != nullptr ? vsa->GetDestinationName() : std::string()) +
        "] Virtual Machine Hostname: [" + OrNA(refresh.GetString(QSMServer::QVirtualMachineReq::kHostName)) +
        "] Virtual machine IP Address: [" + OrNA(refresh.GetString(QSMServer::QVirtualMachineReq::kIpAddress)) +
        "] Status: [" + (info->IsSuccess() ? "PASS" : "FAIL") + "]";
    info->SetReportMsg(line);
  }
  return true;
}
