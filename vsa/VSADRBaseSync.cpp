// Replication of a subclient group's VMs to their DR VMs: per replication
// task, the sync jobs already running are waited for, a sync is started
// when a VM is not in sync or has not replicated the group's last backup,
// every sync job is waited on, and each VM is judged by its status after a
// reload. The VMs that synced form the group's output list.
#include <algorithm>
#include <list>
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
#include "engine/SDROSubclient.h"
#include "engine/SDROperationCtx.h"
#include "services/DRAppManager.h"

namespace {

const int kRunningSyncChecks = 4;
const int kSyncInProgressWaitMs = 300000;
const int kSyncCheckWaitMs = 60000;
const int kAfterSyncWaitMs = 30000;

}  // namespace

bool CVSADRBase::Sync(SDROperationCtx& ctx) {
  SDROSubclient* group = ctx.subclient;
  const int subclientId = group != nullptr ? group->GetAppId() : DRInfoUtils::GetAppId(ctx.GetInfo());
  m_event.Debug("Sync", "Replication inputs to sync block for subclientId [%d] - [%s]", subclientId,
                DRInfoUtils::GetReplStr(ctx.drInfoList).c_str());
  std::unordered_map<long, std::vector<CDRInfo*>> taskMap;
  DRInfoUtils::GetDRInfoTaskMap(taskMap, ctx.drInfoList);
  // Task groups in ascending task id, so every run takes them in one order.
  std::vector<long> taskIds;
  for (const auto& entry : taskMap) taskIds.push_back(entry.first);
  std::sort(taskIds.begin(), taskIds.end());

  std::vector<CDRInfo*> ownOutput;
  std::vector<CDRInfo*>& output = group != nullptr ? group->GetOutputList() : ownOutput;
  for (long taskId : taskIds) {
    std::vector<CDRInfo*>& list = taskMap[taskId];
    long long jobId = 0;
    if (RunSync(ctx, list, taskId, output, jobId)) continue;
    m_event.Error("Sync", "Error on sync operation for taskId [%ld] ", taskId);
    ctx.phase = Api::VIRTUAL_APP_PHASE_REPLICATION;
    m_orchestrator->UpdatePhaseForList(jobId, list, ctx, Api::VIRTUAL_APP_PHASE_STATE_FAILED,
                                       "Error on sync operation");
    for (CDRInfo* info : list) HandleSyncFailure(ctx, info);
  }
  if (output.empty()) {
    m_event.Error("Sync", "No vms succeeded replication for subclientId [%d] ", subclientId);
    return false;
  }
  return true;
}

bool CVSADRBase::RunSync(SDROperationCtx& ctx, std::vector<CDRInfo*>& list, long taskId, std::vector<CDRInfo*>& output,
                         long long& jobId) {
  ctx.phase = Api::VIRTUAL_APP_PHASE_REPLICATION;
  const ZNOpType opType = DRHelper::GetZNOptype(Api::VIRTUAL_APP_PHASE_REPLICATION);
  const int delaySeconds = m_appManager->GetDelayTimeBeforeSync();
  long long backupJobId = ctx.subclient != nullptr ? ctx.subclient->GetBkpJobId() : 0;
  const std::string replStr = DRInfoUtils::GetReplStr(list);

  m_orchestrator->UpdatePhaseForList(jobId, list, ctx, Api::VIRTUAL_APP_PHASE_STATE_IN_PROGRESS, "");
  m_jobManager->Wait(delaySeconds * 1000, "Wait before querying running sync jobs");
  std::vector<JobManager::JobInfo> running;
  WaitOnRunningSyncJobsForSchedule(taskId, backupJobId, list, running);
  if (!running.empty()) jobId = running.front().GetInt64(JobManager::JobInfo::kJobId);
  // Asked afresh: the pause and the waits above do not look at the job.
  if (IsQuitRequested(ctx)) {
    m_orchestrator->UpdatePhaseForList(jobId, list, ctx, Api::VIRTUAL_APP_PHASE_STATE_FAILED, "");
    return false;
  }

  if (!IsSyncNeeded(ctx, list, taskId)) {
    m_event.Debug("RunSync", "No sync required for vms in list [%s] as vm status is [IN SYNC]", replStr.c_str());
    output.insert(output.end(), list.begin(), list.end());
    if (m_jobManager->IsJobRestarted()) {
      for (CDRInfo* info : list) {
        if (info == nullptr) continue;
        long long earlier = 0;
        m_jobManager->GetJobIDForPhase(Api::VIRTUAL_APP_PHASE_REPLICATION, info->GetReplId(), earlier);
        if (earlier > 0) {
          jobId = earlier;
          m_event.Debug("RunSync", "VM was last synced by job [%llu]", static_cast<unsigned long long>(jobId));
        }
      }
    }
    m_orchestrator->UpdatePhaseForList(jobId, list, ctx, Api::VIRTUAL_APP_PHASE_STATE_SUCCESS, "");
    return true;
  }

  TMMsg::TaskOperationReq request;
  if (!LoadSyncTask(request, list)) {
    m_event.Debug("RunSync", "Failed to load sync task for taskId [%ld] and repl inputs [%s]", taskId, replStr.c_str());
    return false;
  }
  // The decision may have waited on bucketed syncs meanwhile: a DR job that
  // quit starts no sync.
  if (IsQuitRequested(ctx)) {
    m_event.Error("RunSync", "Not launching sync op for taskId [%ld] as DR job [%lld] quit", taskId,
                  static_cast<long long>(m_jobId));
    m_orchestrator->UpdatePhaseForList(jobId, list, ctx, Api::VIRTUAL_APP_PHASE_STATE_FAILED, "");
    return false;
  }
  m_event.Debug("RunSync", "Launching sync op for taskId [%ld] and repl inputs [%s]", taskId, replStr.c_str());
  TMMsg::CreateTaskResp response;
  std::string xml, error;
  std::list<long long> jobIds;
  const bool started =
      m_appManager->StartTask(request, response, TMMsg::TaskOperationReq::kTypeId, xml, error, opType, jobIds);
  if (!started && jobIds.empty()) {
    // A start that names no job, failed or not, may still have started the
    // task's syncs: those are the jobs to judge.
    m_event.Error("RunSync", "Sync start for taskId [%ld] named no job [%s]. Looking for its running sync jobs", taskId,
                  error.c_str());
    std::vector<JobManager::JobInfo> again;
    WaitOnRunningSyncJobsForSchedule(taskId, backupJobId, list, again);
    for (JobManager::JobInfo& job : again) jobIds.push_back(job.GetInt64(JobManager::JobInfo::kJobId));
    if (jobIds.empty()) return false;
  }
  std::vector<int> replIds;
  DRInfoUtils::GetReplIds(list, replIds);
  for (long long syncJobId : jobIds) {
    jobId = syncJobId;
    m_event.DebugLvl(1, "RunSync", "Waiting for sync job [%lld] to finish", syncJobId);
    m_orchestrator->UpdatePhaseForList(syncJobId, list, ctx, Api::VIRTUAL_APP_PHASE_STATE_IN_PROGRESS, "");
    if (!m_jobManager->WaitForSyncJobCompletion(syncJobId, backupJobId, replIds, CDRJobManager::kWaitFlagOwnsChild)) {
      return false;
    }
  }
  m_jobManager->Wait(kAfterSyncWaitMs, "Waiting before checking sync results");
  jobId = jobIds.size() == 1 ? jobIds.front() : m_jobManager->GetJobId();
  GetSyncJobResults(ctx, jobId, static_cast<int>(taskId), list, output);
  return true;
}

bool CVSADRBase::WaitOnRunningSyncJobsForSchedule(long taskId, long long& backupJobId, std::vector<CDRInfo*>& list,
                                                  std::vector<JobManager::JobInfo>& running) {
  std::vector<int> replIds;
  DRInfoUtils::GetReplIds(list, replIds);
  if (m_jobManager->WaitonRunningSyncJobs(taskId, backupJobId, replIds, running)) return true;
  for (int check = 0; check < kRunningSyncChecks; ++check) {
    if (IsSyncInProgress(list)) return true;
    m_jobManager->Wait(kSyncInProgressWaitMs, "Wait before checking for SYNC in progress");
  }
  return m_jobManager->WaitonRunningSyncJobs(taskId, backupJobId, replIds, running);
}

bool CVSADRBase::IsSyncInProgress(std::vector<CDRInfo*>& list) {
  ReloadRecords(list);
  for (CDRInfo* info : list) {
    VSARepInfo* vsa = GetVSARepInfo(info);
    if (vsa != nullptr && vsa->GetStatus() == App::VSA_REPL_STATUS_SYNC_IN_PROGRESS) return true;
  }
  return false;
}

bool CVSADRBase::IsSyncNeeded(SDROperationCtx& ctx, std::vector<CDRInfo*>& list, long taskId) {
  // Bucketed syncs of the task are let finish first; the decision below is
  // taken on what they left.
  if (m_appManager->IsJobBucketingEnabledInSync(taskId)) IsSyncNeeded2(ctx, list, taskId);
  ReloadRecords(list);
  for (CDRInfo* info : list) {
    // A machine without a record has no status to show it in sync.
    VSARepInfo* vsa = GetVSARepInfo(info);
    if (vsa == nullptr) return true;
    if (vsa->GetStatus() != App::VSA_REPL_STATUS_IN_SYNC || !IsLastBackupJobSynced(ctx, info)) return true;
  }
  return false;
}

bool CVSADRBase::IsSyncNeeded2(SDROperationCtx& ctx, std::vector<CDRInfo*>& list, long taskId) {
  long long backupJobId = ctx.subclient != nullptr ? ctx.subclient->GetBkpJobId() : 0;
  m_jobManager->Wait(kSyncCheckWaitMs, "Wait before sync checks");
  for (;;) {
    // The running syncs this loop waits on go on after a kill; the loop
    // must not.
    if (IsQuitRequested(ctx)) {
      m_event.Error("IsSyncNeeded2", "Quit waiting on sync jobs of task [%ld] as DR job [%lld] quit", taskId,
                    static_cast<long long>(m_jobId));
      return true;
    }
    ReloadRecords(list);
    size_t synced = 0;
    for (CDRInfo* info : list) {
      VSARepInfo* vsa = GetVSARepInfo(info);
      if (vsa == nullptr) continue;
      if (vsa->GetStatus() == App::VSA_REPL_STATUS_IN_SYNC && IsLastBackupJobSynced(ctx, info)) {
        ++synced;
      } else if (vsa->GetStatus() == App::VSA_REPL_STATUS_SYNC_FAILED) {
        return true;
      }
    }
    if (synced == list.size()) return false;
    std::vector<JobManager::JobInfo> running;
    WaitOnRunningSyncJobsForSchedule(taskId, backupJobId, list, running);
    m_jobManager->Wait(kSyncCheckWaitMs, "Wait before checking sync results");
    running.clear();
    if (!m_jobManager->GetRunningSyncJobs(taskId, running)) return true;
  }
}

void CVSADRBase::GetSyncJobResults(SDROperationCtx& ctx, long long jobId, int taskId, std::vector<CDRInfo*>& list,
                                   std::vector<CDRInfo*>& output) {
  ReloadRecords(list);
  m_appManager->RefreshTask(taskId);
  ctx.phase = Api::VIRTUAL_APP_PHASE_REPLICATION;
  for (CDRInfo* info : list) {
    if (info == nullptr) continue;
    std::string message;
    const Api::VirtualAppPhaseState state = GetSyncPhaseStatus(ctx, info, message);
    SDRPhaseCtx phase = StepPhase(ctx, info, state, message, jobId);
    info->UpdatePhase(phase);
    if (state == Api::VIRTUAL_APP_PHASE_STATE_SUCCESS) {
      output.push_back(info);
    } else {
      HandleSyncFailure(ctx, info);
    }
  }
  m_event.Debug("GetSyncJobResults", "Replications that succeeded sync for job [%lld] - [%s]", jobId,
                DRInfoUtils::GetReplStr(output).c_str());
}

Api::VirtualAppPhaseState CVSADRBase::GetSyncPhaseStatus(SDROperationCtx& ctx, CDRInfo* info, std::string& message) {
  VSARepInfo* vsa = GetVSARepInfo(info);
  const App::VSAReplicationStatus status =
      vsa != nullptr ? vsa->GetStatus() : static_cast<App::VSAReplicationStatus>(0);
  const std::string text = DRHelper::GetVSASyncStatusStr(status);
  m_event.Debug("GetSyncPhaseStatus", "Sync status is [%s] for replication [%d] VM [%s]", text.c_str(),
                info != nullptr ? info->GetReplId() : 0, vsa != nullptr ? vsa->GetSourceName().c_str() : "");
  if (status == App::VSA_REPL_STATUS_IN_SYNC) {
    if (IsLastBackupJobSynced(ctx, info)) return Api::VIRTUAL_APP_PHASE_STATE_SUCCESS;
    m_event.Error("GetSyncPhaseStatus", "Backup job [%lld] wasn't synced",
                  static_cast<long long>(ctx.subclient != nullptr ? ctx.subclient->GetBkpJobId() : 0));
  }
  message = "VM sync status is [" + text + "] after attempting replication.";
  return Api::VIRTUAL_APP_PHASE_STATE_FAILED;
}

bool CVSADRBase::IsLastBackupJobSynced(SDROperationCtx& ctx, CDRInfo* info) {
  VSARepInfo* vsa = GetVSARepInfo(info);
  const uint64_t lastSynced = vsa != nullptr ? static_cast<uint64_t>(vsa->GetLastSyncedBackupJobId()) : 0;
  if (ctx.subclient != nullptr) {
    const long long latest = static_cast<long long>(ctx.subclient->GetBkpJobId());
    m_event.Debug("IsLastBackupJobSynced", "Get last synced backup JobId [%lu], latest DR backup JobId [%lld]",
                  static_cast<unsigned long>(lastSynced), latest);
    if (lastSynced >= static_cast<uint64_t>(latest)) return true;
  }
  m_event.Error("IsLastBackupJobSynced", "Last synced backup job [%lu] older than latest DR backup job",
                static_cast<unsigned long>(lastSynced));
  return false;
}

void CVSADRBase::GetBootList(std::vector<SDROSubclient>& groups, std::vector<CDRInfo*>& out) {
  out.clear();
  for (SDROSubclient& group : groups) {
    std::vector<CDRInfo*>& list = group.GetOutputList();
    out.insert(out.end(), list.begin(), list.end());
  }
  if (!out.empty()) {
    m_event.Debug("GetBootList", "Filtered list [%s] for vm boot", DRInfoUtils::GetReplStr(out).c_str());
  }
}
