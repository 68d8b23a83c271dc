// Storage copies: after a subclient group's backup, its data reaches the
// copies its replication schedules read from (a backup copy first after a
// snap backup, then an aux copy), each recorded as phase 23 or 21 on the
// machines. And the request that starts the group's sync.
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "DRBase.h"
#include "DRHelper.h"
#include "DRInfo.h"
#include "DRInfoUtils.h"
#include "IRepInfo.h"
#include "SDROSubclient.h"
#include "SDROperationCtx.h"
#include "SDRStorage.h"
#include "ZnCriticalSectionLock.h"
#include "drorch/DRJobManager.h"
#include "jobs/ZNJobQuery.h"
#include "services/DRAppManager.h"

namespace {

const int kStartSyncOperation = 5;

// The context every copy phase is recorded with.
SDROperationCtx CopyPhaseCtx(Api::VirtualAppJobPhaseType phase, Api::DRSite site) {
  SDROperationCtx ctx;
  ctx.phase = phase;
  ctx.site = site;
  return ctx;
}

}  // namespace

void CDRBase::RecordCopyPhase(const SDRStorage& storage, std::vector<CDRInfo*>& machines,
                              Api::VirtualAppJobPhaseType phase, Api::VirtualAppPhaseState state, int64_t jobId,
                              bool updatePhaseInfoTbl) {
  SDROperationCtx ctx = CopyPhaseCtx(phase, storage.site);
  ctx.updatePhaseInfoTbl = updatePhaseInfoTbl;
  UpdatePhaseForList(jobId, machines, ctx, state, "");
}

bool CDRBase::HandleStorageOps(SDROperationCtx& ctx) {
  const std::string repl = DRInfoUtils::GetReplStr(ctx.drInfoList);
  m_event.Debug("HandleStorageOps", "Replication inputs to storage config checks [%s]", repl.c_str());
  m_event.Debug("HandleStorageOps", "Fetching unique schedules for repl list [%s]", repl.c_str());
  std::set<long> taskIds;
  DRInfoUtils::GetTaskIds(ctx.drInfoList, taskIds, true);
  if (taskIds.empty()) {
    m_event.Debug("HandleStorageOps", "No aux configuration found for schedules in repl list [%s]", repl.c_str());
    return true;
  }
  std::unordered_map<long, std::vector<CDRInfo*>> taskMap;
  DRInfoUtils::GetDRInfoTaskMap(taskMap, ctx.drInfoList);
  std::set<SDRStorage> storages;
  GetStorageDetails(taskMap, storages, ctx);
  m_event.Debug("HandleStorageOps", "Found [%zu] unique sp-copyId pair(s) for contents [%s]", storages.size(),
                repl.c_str());
  if (storages.empty() || ctx.subclient == nullptr) return false;
  return HandleCopyOps(storages, *ctx.subclient, ctx.drInfoList);
}

bool CDRBase::GetStorageDetails(std::unordered_map<long, std::vector<CDRInfo*>>& taskMap,
                                std::set<SDRStorage>& storages, SDROperationCtx& ctx) {
  const int subclientId = ctx.subclient != nullptr ? ctx.subclient->GetAppId() : 0;
  const long long backupJobId = ctx.subclient != nullptr ? ctx.subclient->GetBkpJobId() : 0;
  for (auto& task : taskMap) {
    if (task.second.empty() || task.second.front() == nullptr || task.second.front()->GetRepInfo() == nullptr) continue;
    const int copyPrecedence = task.second.front()->GetRepInfo()->GetCopyPrecedence();
    Api::GetSyncCopyDetailsResp resp;
    if (!m_appManager.GetDRCopyDetailsResp(resp, copyPrecedence, subclientId, backupJobId)) {
      m_event.Debug("GetStorageDetails", "Failed to get storage details for subclientId [%d] and copy Precedence [%d]",
                    subclientId, copyPrecedence);
      return false;
    }
    const int spId = resp.GetMsg(Api::GetSyncCopyDetailsResp::kStoragePolicy)
                         .GetInt32(ZnEntities::StoragePolicyEntityFields::kStoragePolicyId);
    const int copyId =
        resp.GetMsg(Api::GetSyncCopyDetailsResp::kCopy).GetInt32(ZnEntities::StorageCopyEntityFields::kCopyId);
    const int defaultCopyId = resp.GetInt32(Api::GetSyncCopyDetailsResp::kDefaultCopyId);
    m_appManager.UpdateCopyTaskMap(spId, copyId, task.first);
    SDRStorage storage(ctx.subclient, spId, copyId, defaultCopyId, true);
    storage.site = ctx.site;
    storages.insert(storage);
  }
  return true;
}

bool CDRBase::HandleCopyOps(std::set<SDRStorage>& storages, SDROSubclient& group, std::vector<CDRInfo*>& list) {
  ZNJobQuery query;
  m_jobManager->InitZNJobQuery(query);
  const bool snap = DRHelper::IsSnapJob(group.GetBkpJobId(), query);
  int count = 0;
  for (const SDRStorage& storage : storages) {
    bool runAux = true;
    std::vector<CDRInfo*> machines;
    if (storage.byCopyTasks) {
      m_event.Debug("HandleCopyOps", "Task based CopyOps for spId [%ld] copyId [%ld]", static_cast<long>(storage.spId),
                    static_cast<long>(storage.copyId));
      std::set<long> taskIds;
      m_appManager.GetTaskIds(storage.spId, storage.copyId, taskIds);
      DRInfoUtils::GetDRInfoForTasks(taskIds, list, machines);
    } else {
      machines = list;
    }
    if (machines.empty()) {
      m_event.Debug("HandleCopyOps", "No machines to copy for spId [%ld] copyId [%ld]. Skipped.",
                    static_cast<long>(storage.spId), static_cast<long>(storage.copyId));
      continue;
    }
    if (storage.byCopyTasks && snap) {
      m_event.Debug("HandleCopyOps", "Job [%lld] was a SNAP backup operation",
                    static_cast<long long>(group.GetBkpJobId()));
      if (!HandleCopyOpsForSnap(storage, machines, runAux)) {
        // A suspended job ends the copies here, as below.
        if (m_jobManager->IsJobSuspended()) return false;
        continue;
      }
    }
    if (!runAux) {
      ++count;
      continue;
    }
    int64_t jobId = 0;
    if (!RunAuxCopy(storage, machines, jobId)) {
      m_event.Debug("HandleCopyOps", "AuxCopy operation failed for spId [%ld] copyId [%ld]",
                    static_cast<long>(storage.spId), static_cast<long>(storage.copyId));
      RecordCopyPhase(storage, machines, Api::VIRTUAL_APP_PHASE_AUX_COPY, Api::VIRTUAL_APP_PHASE_STATE_FAILED, jobId,
                      true);
      continue;
    }
    if (m_jobManager->IsJobSuspended()) return false;
    ++count;
  }
  return count > 0;
}

bool CDRBase::HandleCopyOpsForSnap(const SDRStorage& storage, std::vector<CDRInfo*>& machines, bool& runAux) {
  int64_t jobId = 0;
  const bool ok = RunBackupCopy(storage, machines, jobId);
  if (ok && storage.defaultCopyId == storage.copyId) {
    m_event.Debug("HandleCopyOpsForSnap",
                  "No Aux copy operation needed as replica sync schedule is set to sync from default copy Id [%ld]",
                  static_cast<long>(storage.defaultCopyId));
    runAux = false;
    RecordCopyPhase(storage, machines, Api::VIRTUAL_APP_PHASE_AUX_COPY, Api::VIRTUAL_APP_PHASE_STATE_SUCCESS, 0,
                    false);
  }
  if (!ok) {
    // A suspension leaves the copy IN-PROGRESS, naming the suspended job,
    // for the restarted job to resume.
    if (m_jobManager->IsJobSuspended()) return false;
    m_event.Debug("HandleCopyOpsForSnap", "BackupCopy operation failed for spId [%ld] copyId [%ld]",
                  static_cast<long>(storage.spId), static_cast<long>(storage.copyId));
    RecordCopyPhase(storage, machines, Api::VIRTUAL_APP_PHASE_BACKUP_COPY, Api::VIRTUAL_APP_PHASE_STATE_FAILED, jobId,
                    true);
  }
  return ok;
}

bool CDRBase::RunBackupCopy(const SDRStorage& storage, std::vector<CDRInfo*>& machines, int64_t& jobId) {
  long long running = 0;
  m_jobManager->WaitonRunningBackupCopyJobsForSP(storage.spId, running);
  // That wait ends at a suspend of this job as at a kill, and owns neither
  // the other job's copy nor any row: a copy launched now would only be
  // suspended again, so the suspended job launches none, and its restart
  // copies as a first run does.
  if (m_jobManager->IsQuitFlagSet()) return false;
  RecordCopyPhase(storage, machines, Api::VIRTUAL_APP_PHASE_BACKUP_COPY, Api::VIRTUAL_APP_PHASE_STATE_IN_PROGRESS,
                  jobId, true);
  long long launched = 0;
  if (!m_appManager.LaunchBackupCopy(storage.spId, storage.copyId, m_jobManager->GetDRJobLaunchDesc(), launched)) {
    return false;
  }
  jobId = launched;
  // The row names the job from now on, so a restart finds it.
  RecordCopyPhase(storage, machines, Api::VIRTUAL_APP_PHASE_BACKUP_COPY, Api::VIRTUAL_APP_PHASE_STATE_IN_PROGRESS,
                  jobId, true);
  m_event.Debug("RunBackupCopy", "Waiting for backup copy job [%lld] to complete", static_cast<long long>(jobId));
  if (!m_jobManager->WaitForJobCompletion(launched, CDRJobManager::kWaitFlagOwnsChild)) return false;
  if (m_jobManager->IsJobSuspended()) return false;
  std::string status;
  if (!m_jobManager->GetJobStatus(launched, status) || !DRHelper::IsJobSuccessful(status)) return false;
  m_event.Debug("RunBackupCopy", "Backup copy operation job [%lld] successful", static_cast<long long>(jobId));
  RecordCopyPhase(storage, machines, Api::VIRTUAL_APP_PHASE_BACKUP_COPY, Api::VIRTUAL_APP_PHASE_STATE_SUCCESS, jobId,
                  true);
  return true;
}

bool CDRBase::RunAuxCopy(const SDRStorage& storage, std::vector<CDRInfo*>& machines, int64_t& jobId) {
  long long backupJobId = storage.subclient != nullptr ? storage.subclient->GetBkpJobId() : 0;
  if (m_jobManager->IsJobRestarted() && !machines.empty() && machines.front() != nullptr &&
      machines.front()->GetRepInfo() != nullptr) {
    const Api::VirtualAppPhaseState state =
        DRInfoUtils::GetPhaseStatusForReplication(m_jobManager, Api::VIRTUAL_APP_PHASE_AUX_COPY, machines.front());
    long long earlier = 0;
    m_jobManager->GetJobIDForPhase(Api::VIRTUAL_APP_PHASE_AUX_COPY, machines.front()->GetRepInfo()->GetReplId(),
                                   earlier);
    // The earlier copy counts only for the backup it copied: a restart that
    // took a new backup (the workload ran again after a killed run's
    // clean-up) needs that one copied too.
    bool copied = backupJobId <= 0;
    if (earlier >= 1 && state == Api::VIRTUAL_APP_PHASE_STATE_SUCCESS && !copied) {
      m_jobManager->IsBackupJobAuxCopied(backupJobId, storage.copyId, copied);
      if (!copied) {
        m_event.Debug("RunAuxCopy", "Aux job [%lld] ran before backup job [%lld] of this run. Copying that one",
                      earlier, backupJobId);
      }
    }
    if (earlier >= 1 && state == Api::VIRTUAL_APP_PHASE_STATE_SUCCESS && copied) {
      m_event.Debug("RunAuxCopy", "Aux job [%lld] already ran successfully", earlier);
      // The new row names the earlier job, so a later restart skips as well.
      jobId = earlier;
      RecordCopyPhase(storage, machines, Api::VIRTUAL_APP_PHASE_AUX_COPY, Api::VIRTUAL_APP_PHASE_STATE_SUCCESS, jobId,
                      true);
      return true;
    }
  }
  ZnCriticalSectionLock copyLock(AuxCopyLock(storage.copyId));
  long long auxJobId = 0;
  bool copied = false;
  m_jobManager->WaitonRunningAuxJobsForCopy(backupJobId, storage.copyId, auxJobId, copied);
  // An aux copy that ended before this group's turn (another group's, or one
  // an earlier run of the job launched) may have copied the backup already:
  // launching another would copy nothing.
  if (!copied && auxJobId == 0 && backupJobId > 0) {
    m_jobManager->IsBackupJobAuxCopied(backupJobId, storage.copyId, copied);
  }
  if (copied) {
    AwaitAuxCopyEnd(auxJobId);
    m_event.Debug("RunAuxCopy", "Backup job [%lld] successfully aux copied for copyId [%ld]", backupJobId,
                  static_cast<long>(storage.copyId));
    RecordCopyPhase(storage, machines, Api::VIRTUAL_APP_PHASE_AUX_COPY, Api::VIRTUAL_APP_PHASE_STATE_SUCCESS, auxJobId,
                    true);
    return true;
  }
  if (m_jobManager->IsJobKillIssued()) return false;
  if (m_jobManager->IsJobSuspended()) return true;
  RecordCopyPhase(storage, machines, Api::VIRTUAL_APP_PHASE_AUX_COPY, Api::VIRTUAL_APP_PHASE_STATE_IN_PROGRESS, jobId,
                  true);
  long long launched = 0;
  if (!m_appManager.LaunchAuxCopy(storage.spId, storage.copyId, m_jobManager->GetDRJobLaunchDesc(), launched)) {
    return false;
  }
  jobId = launched;
  // The row names the job from now on: a suspended copy is resumed, and a
  // finished one adopted, by the restarted job.
  RecordCopyPhase(storage, machines, Api::VIRTUAL_APP_PHASE_AUX_COPY, Api::VIRTUAL_APP_PHASE_STATE_IN_PROGRESS, jobId,
                  true);
  m_event.Debug("RunAuxCopy", "Waiting for aux copy job [%lld] to complete", launched);
  if (!m_jobManager->WaitForAuxJobCompletion(backupJobId, launched, storage.copyId, copied,
                                             CDRJobManager::kWaitFlagOwnsChild)) {
    return false;
  }
  if (copied) {
    AwaitAuxCopyEnd(launched);
    m_event.Debug("RunAuxCopy", "Backup job [%lld] successfully aux copied for copyId [%ld]", backupJobId,
                  static_cast<long>(storage.copyId));
    RecordCopyPhase(storage, machines, Api::VIRTUAL_APP_PHASE_AUX_COPY, Api::VIRTUAL_APP_PHASE_STATE_SUCCESS, jobId,
                    true);
    return true;
  }
  // A wait ended by a suspension is not a failed copy: the phase stays
  // IN-PROGRESS naming the suspended job, and the caller stops at once.
  if (m_jobManager->IsJobSuspended()) return true;
  m_event.Debug("RunAuxCopy", "Backup job [%lld] failed to aux copy for copyId [%ld]", backupJobId,
                static_cast<long>(storage.copyId));
  return false;
}

ZnCriticalSection* CDRBase::AuxCopyLock(long copyId) {
  ZnCriticalSectionLock lock(&m_auxCopyLocksGuard);
  std::unique_ptr<ZnCriticalSection>& entry = m_auxCopyLocks[copyId];
  if (!entry) entry.reset(new ZnCriticalSection());
  return entry.get();
}

void CDRBase::AwaitAuxCopyEnd(long long auxJobId) {
  bool running = false;
  if (auxJobId <= 0 || !m_jobManager->IsJobRunning(auxJobId, running) || !running) return;
  m_event.Debug("RunAuxCopy", "Waiting for aux copy job [%lld] to end", auxJobId);
  m_jobManager->WaitForJobCompletion(auxJobId, CDRJobManager::kWaitFlagOwnsChild);
}

bool CDRBase::LoadSyncTask(TMMsg::TaskOperationReq& request, std::vector<CDRInfo*>& list) {
  request.AddMsg(TMMsg::TaskOperationReq::kSubtasks);
  if (list.empty()) {
    m_event.Error("LoadSyncTask", "Sync list is empty");
    return false;
  }
  CNMessageBase& options = request.MutableMsg(TMMsg::TaskOperationReq::kOptions);
  for (CDRInfo* info : list) {
    CNMessageBase& filter = options.AddMsg(TMMsg::TaskOperationOptionFields::kFilters);
    filter.SetInt32(TMMsg::OptionFilter::kFilterId, TMMsg::OPTION_FILTER_REPLICATION_ID);
    filter.SetString(TMMsg::OptionFilter::kValue,
                     std::to_string(info != nullptr && info->GetRepInfo() != nullptr
                                        ? info->GetRepInfo()->GetReplId()
                                        : 0));
  }
  IRepInfo* first = list.front() != nullptr ? list.front()->GetRepInfo() : nullptr;
  const int taskId = first != nullptr ? first->GetTaskId() : 0;
  const int subTaskId = first != nullptr ? first->GetSubTaskId() : 0;
  request.AddUInt32(TMMsg::TaskOperationReq::kTaskIds, static_cast<uint32_t>(taskId));
  CNMessageBase& subtask = request.MutableListMsg(TMMsg::TaskOperationReq::kSubtasks, 0);
  subtask.SetInt32(ZnEntities::SubtaskEntity::kTaskId, taskId);
  subtask.SetInt32(ZnEntities::SubtaskEntity::kSubtaskId, subTaskId);
  request.SetInt32(TMMsg::TaskOperationReq::kOperation, kStartSyncOperation);
  return true;
}
