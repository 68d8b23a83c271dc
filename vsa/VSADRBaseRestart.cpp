// A DR job whose process died is run again under the same job id. Its rows
// (the restart history), the statuses its earlier run stored and what the
// hypervisors hold tell the rerun where that run got to, so the rerun ends
// as if the job had never died:
// - a machine the earlier run completed counts as succeeded, without being
//   run again;
// - a machine whose workload the earlier run already moved (its DR VM up,
//   its source restored) goes straight to the steps after the move: the
//   steps before it would overwrite what the workload wrote since;
// - a snapshot the earlier run took is adopted rather than taken twice, and
//   one it deleted is not looked for again.
#include <strings.h>

#include <algorithm>
#include <string>
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
#include "engine/ZnCriticalSectionLock.h"
#include "services/DRAppManager.h"
#include "vm/VmAuxOps.h"

namespace {

const uint32_t kNoPhaseState = 0xFFFFFFFFu;

// The context whose restart tests answer as its first attempt's on this
// thread: a restart judges a machine no attempt of the job took up as the
// first attempt judged it. Per thread, since the workers of a priority ask
// their machines' admission at once.
thread_local const CVSADRBase* t_asFirstAttempt = nullptr;

// Holds t_asFirstAttempt for the length of a scope, and puts back what an
// enclosing scope held.
class CAsFirstAttempt {
 public:
  CAsFirstAttempt(const CVSADRBase* context, bool apply) : m_before(t_asFirstAttempt) {
    if (apply) t_asFirstAttempt = context;
  }
  ~CAsFirstAttempt() { t_asFirstAttempt = m_before; }
  CAsFirstAttempt(const CAsFirstAttempt&) = delete;
  CAsFirstAttempt& operator=(const CAsFirstAttempt&) = delete;

 private:
  const CVSADRBase* m_before;
};

void Remove(std::vector<CDRInfo*>& list, CDRInfo* info) {
  list.erase(std::remove(list.begin(), list.end(), info), list.end());
}

// The snapshot the first snapshot request of the option names.
void AskedSnapshot(const TMMsg::VMProvisioningOption& option, std::string& name, std::string& ref) {
  const CNMessageBase& asked =
      option.GetListMsg(TMMsg::VMProvisioningOption::kSnapOpRequests, 0).GetMsg(Ida::VMSnapOpReq::kSnapshot);
  name = asked.GetString(Ida::VMSnapshot::kName);
  ref = asked.GetMsg(Ida::VMSnapshot::kReference).GetString(Ida::SnapshotReference::kMoref);
}

// Whether the list holds the snapshot a request names: by its reference,
// else, without one, by its name (as the hypervisor finds it).
bool HoldsSnapshot(const std::vector<EVGui::VMSnapshot>& snapshots, const std::string& name, const std::string& ref) {
  return std::any_of(snapshots.begin(), snapshots.end(), [&](const EVGui::VMSnapshot& s) {
    return ref.empty() ? s.GetString(EVGui::VMSnapshot::kName) == name
                       : s.GetString(EVGui::VMSnapshot::kReference) == ref;
  });
}

const std::string& RequestedVM(const Ida::VMOpReq& request) {
  return request.GetMsg(Ida::VMOpReq::kVirtualMachine)
      .GetMsg(Ida::VirtualMachine::kEntity)
      .GetString(ZnEntities::VirtualMachineEntity::kName);
}

}  // namespace

bool CVSADRBase::IsCompletedStatus(App::VSAFailoverStatus) { return false; }

void CVSADRBase::FinishCompletedMachine(CDRInfo* info) { MarkSuccess(info, Api::DR_SITE_DESTINATION); }

bool CVSADRBase::IsMovedByEarlierRun(CDRInfo*) { return false; }

bool CVSADRBase::IsAdmittedOnRestart(CDRInfo* info) {
  CAskedAs asked(m_asked, SAdmissionQuestion::Restart());
  if (info == nullptr) return false;
  // What a restart finishes without running it, or resumes past its move.
  if (IsCompletedByEarlierRun(info)) return true;
  if (IsMovedByEarlierRun(info)) return true;
  return AdmittedByStatus(info);
}

bool CVSADRBase::IsAdmittedOnNewJob(CDRInfo* info, TMMsg::DROrchestrationType type) {
  CAskedAs asked(m_asked, SAdmissionQuestion::NewJob(type));
  return info != nullptr && AdmittedByStatus(info);
}

bool CVSADRBase::IsInPlace(CDRInfo* info) {
  VSARepInfo* vsa = GetVSARepInfo(info);
  return vsa != nullptr &&
         DRInfoUtils::IsFailoverStatusWhereTypePutsIt(vsa->GetFailoverStatus(), m_orchestrator->GetDRType());
}

EWorkloadRuns CVSADRBase::WorkloadRuns(CDRInfo* info) {
  bool known = true;
  for (const Api::DRSite site : {Api::DR_SITE_SOURCE, Api::DR_SITE_DESTINATION}) {
    const std::string guid = DRInfoUtils::GetSitePropStr(info, DR_SITE_PROPERTY_GUID, site);
    bool on = false;
    if (guid.empty() && site == Api::DR_SITE_DESTINATION) continue;
    if (!DRInfoUtils::IsVMPoweredOn(guid, on)) {
      // A deleted VM runs nothing; one out of reach may.
      if (!IsVMGone(info, site)) known = false;
    } else if (on) {
      return EWorkloadRuns::kRuns;
    }
  }
  if (!known) return EWorkloadRuns::kUnknown;
  return IsLeftOffOnRequest(info) ? EWorkloadRuns::kLeftOff : EWorkloadRuns::kNowhere;
}

bool CVSADRBase::IsLeftOffOnRequest(CDRInfo* info) {
  // One the job did not take up that stands home with no failover status
  // was left so by the job that brought it home: a failback whose restore
  // powered nothing on (an undo or a revert whose source does not start
  // records a failed status instead).
  VSARepInfo* vsa = GetVSARepInfo(info);
  if (vsa == nullptr || info->HasBegun()) return false;
  const App::VSAFailoverStatus status = vsa->GetFailoverStatus();
  return status <= App::VSA_FAILOVER_STATUS_NONE || status == App::VSA_FAILOVER_STATUS_FAILBACK_COMPLETE;
}

bool CVSADRBase::AdmittedByStatus(CDRInfo* info) {
  VSARepInfo* vsa = GetVSARepInfo(info);
  if (vsa == nullptr) return false;
  const bool firstTimeSync = m_appManager != nullptr && m_appManager->IsFirstTimeSyncDuringFailoverSet();
  if (!AreStatusesPermitted(info, vsa->GetFailoverStatus(), vsa->GetStatus(), firstTimeSync)) return false;
  if (!firstTimeSync && !DRInfoUtils::IsDRTypeApplicable(info)) return false;
  std::string refusal;
  return !IsRefusedAsItStands(info, refusal);
}

bool CVSADRBase::AreStatusesPermitted(CDRInfo* info, App::VSAFailoverStatus failover, App::VSAReplicationStatus sync,
                                      bool firstTimeSync) {
  // What a restart admits beyond its first attempt is there to finish what
  // an attempt began; a machine none took up is judged as it was then.
  CAsFirstAttempt asFirst(this, IsRestartedRun() && !IsTakenUpByThisJob(info));
  if (firstTimeSync) return IsPermisableFailoverStateForJob(failover);
  return IsPermisableSyncStateForJob(sync) && IsPermisableFailoverStateForJob(failover);
}

bool CVSADRBase::IsTakenUpByThisJob(CDRInfo* info) {
  if (info == nullptr) return false;
  // This attempt: the restart asked about counts it among its earlier ones.
  if (info->HasBegun()) return true;
  // An attempt stored a status of it (set it under way, or finished it).
  VSARepInfo* vsa = GetVSARepInfo(info);
  if (vsa != nullptr && vsa->GetLastDRJobId() == m_jobId) return true;
  // An attempt wrote a row of it: a refusal writes none.
  return HasEarlierRows(info);
}

bool CVSADRBase::HasEarlierRows(CDRInfo* info) {
  if (info == nullptr || m_jobManager == nullptr || !m_jobManager->IsJobRestarted()) return false;
  for (const Api::VirtualAppJob* job : m_jobManager->GetRestartHistoryOf(info->GetReplId())) {
    if (job->ListSize(Api::VirtualAppJob::kPhases) > 0) return true;
  }
  return false;
}

bool CVSADRBase::IsRestartedRun() const {
  if (m_asked.firstAttempt || t_asFirstAttempt == this) return false;
  return m_asked.restart || (m_jobManager != nullptr && m_jobManager->IsJobRestarted());
}

TMMsg::DROrchestrationType CVSADRBase::AdmissionType() const {
  return m_asked.type != TMMsg::DR_ORCHESTRATION_NONE ? m_asked.type : m_orchestrator->GetDRType();
}

bool CVSADRBase::IsCompletedByEarlierRun(CDRInfo* info) {
  VSARepInfo* vsa = GetVSARepInfo(info);
  if (vsa == nullptr || !IsRestartedRun()) return false;
  // The status alone could be another job's: this job must have stored it.
  return vsa->GetLastDRJobId() == m_jobId && IsCompletedStatus(vsa->GetFailoverStatus());
}

bool CVSADRBase::IsLeftFailedByEarlierRun(CDRInfo* info) {
  VSARepInfo* vsa = GetVSARepInfo(info);
  if (vsa == nullptr || !IsRestartedRun()) return false;
  const App::VSAFailoverStatus status = vsa->GetFailoverStatus();
  if (status != App::VSA_FAILOVER_STATUS_FAILOVER_FAILED && status != App::VSA_FAILOVER_STATUS_FAILBACK_FAILED &&
      status != App::VSA_FAILOVER_STATUS_REVERT_FAILOVER_FAILED) {
    return false;
  }
  // The earlier run took the machine up (a skip writes no row): the failed
  // status, which the restart does not admit, is that run's clean-up's.
  const std::vector<const Api::VirtualAppJob*>& records = m_jobManager->GetRestartHistoryOf(info->GetReplId());
  return !records.empty() && records.front()->ListSize(Api::VirtualAppJob::kPhases) > 0;
}

uint32_t CVSADRBase::EarlierPhaseState(CDRInfo* info, Api::VirtualAppJobPhaseType phase) {
  if (info == nullptr || !IsRestartedRun()) return kNoPhaseState;
  if (m_asked.restart) {
    // A restart would read this run's rows as its earlier run's, over those
    // of the runs before it.
    const uint32_t stored = info->GetStoredPhaseState(phase);
    if (stored != kNoPhaseState) return stored;
  }
  return static_cast<uint32_t>(
      DRInfoUtils::GetPhaseStatusForReplication(m_jobManager, phase, info));
}

std::string CVSADRBase::EarlierPhaseMessage(CDRInfo* info, Api::VirtualAppJobPhaseType phase) {
  if (info == nullptr || !IsRestartedRun()) return std::string();
  for (const Api::VirtualAppJob* job : m_jobManager->GetRestartHistoryOf(info->GetReplId())) {
    for (size_t i = 0; i < job->ListSize(Api::VirtualAppJob::kPhases); ++i) {
      const CNMessageBase& entry = job->GetListMsg(Api::VirtualAppJob::kPhases, i);
      if (entry.GetInt32(Api::VirtualAppJobPhase::kPhaseType) != phase) continue;
      const CNMessageBase& details = entry.GetMsg(Api::VirtualAppJobPhase::kPhaseInfo);
      if (details.ListSize(Api::VirtualAppPhaseInfo::kJobInfos) == 0) return std::string();
      return details.GetListMsg(Api::VirtualAppPhaseInfo::kJobInfos, 0)
          .GetMsg(Api::VirtualAppJobInfo::kMessage)
          .GetString(Api::GenericResp::kText);
    }
  }
  return std::string();
}

bool CVSADRBase::IsUndoneByEarlierCleanup(CDRInfo* info) {
  if (info == nullptr || !IsRestartedRun() || GetVSARepInfo(info) == nullptr) return false;
  const TMMsg::DROrchestrationType type = m_orchestrator->GetDRType();
  const App::VSAFailoverStatus failed = DRHelper::GetFailoverFailureStatus(type);
  if (failed == App::VSA_FAILOVER_STATUS_NONE || GetOriginalFailoverStatus(info) != failed) return false;
  if (type != TMMsg::DR_ORCHESTRATION_PLANNED_FAILOVER && type != TMMsg::DR_ORCHESTRATION_UNPLANNED_FAILOVER) {
    return true;
  }
  // The clean-up of a failover reverts the DR VM to its powered-off
  // failover snapshot; one that runs, with its source off, was left running
  // the workload, and a move from the start would write the stale source
  // over it.
  bool drRuns = false;
  bool sourceRuns = true;
  return !(IsVMRunning(info, Api::DR_SITE_DESTINATION, drRuns) && drRuns &&
           IsVMRunning(info, Api::DR_SITE_SOURCE, sourceRuns) && !sourceRuns);
}

bool CVSADRBase::IsTakenOverFromTheStart(CDRInfo* info, const char* method, const char* undone) {
  if (!IsUndoneByEarlierCleanup(info)) return false;
  m_event.Debug(method,
                "Replication [%d] was left [%s] by an earlier run of DR job [%lld], whose clean-up undid its %s. Taking "
                "it over from the start",
                info->GetReplId(), DRHelper::GetVSAFailoverStatusStr(GetOriginalFailoverStatus(info)).c_str(),
                static_cast<long long>(m_jobId), undone);
  return true;
}

bool CVSADRBase::EarlierRunPoweredOn(CDRInfo* info, Api::VirtualAppJobPhaseType phase, Api::DRSite site) {
  const uint32_t state = EarlierPhaseState(info, phase);
  if (state != Api::VIRTUAL_APP_PHASE_STATE_SUCCESS && state != Api::VIRTUAL_APP_PHASE_STATE_IN_PROGRESS) return false;
  if (IsTakenOverFromTheStart(info, "EarlierRunPoweredOn", "move")) return false;
  // The VM tells whether the power-on stands: a call the run died in may
  // not have gone through, and a restart that took the machine over from
  // the start may have stopped the VM again before it died in its turn
  // (its rows of the steps before the power-on replace the earlier ones,
  // the power-on's row stays).
  bool running = false;
  if (!IsVMRunning(info, site, running) || !running) return false;
  // Only asked: the row a call left IN-PROGRESS is the restart's to settle.
  if (state == Api::VIRTUAL_APP_PHASE_STATE_SUCCESS || m_asked.restart) return true;
  // The row the call left IN-PROGRESS gets its outcome.
  SDRPhaseCtx row(m_jobId, phase, Api::VIRTUAL_APP_PHASE_STATE_SUCCESS, site, true);
  row.clientEntity.SetString(ZnEntities::GenericEntity::kClientName,
                             DRInfoUtils::GetSitePropStr(info, DR_SITE_PROPERTY_NAME, site));
  info->UpdatePhase(row);
  return true;
}

bool CVSADRBase::EarlierRunStoppedVM(CDRInfo* info, Api::DRSite site) {
  if (info == nullptr || !IsRestartedRun()) return false;
  // A phase row has no site: the VM it names tells the source's power-off
  // from the DR VM's.
  const std::string vm = DRInfoUtils::GetSitePropStr(info, DR_SITE_PROPERTY_NAME, site);
  if (vm.empty()) return false;
  for (const Api::VirtualAppJob* job : m_jobManager->GetRestartHistoryOf(info->GetReplId())) {
    for (size_t i = 0; i < job->ListSize(Api::VirtualAppJob::kPhases); ++i) {
      const CNMessageBase& entry = job->GetListMsg(Api::VirtualAppJob::kPhases, i);
      const int32_t phase = entry.GetInt32(Api::VirtualAppJobPhase::kPhaseType);
      if ((phase != Api::VIRTUAL_APP_PHASE_POWER_OFF && phase != Api::VIRTUAL_APP_PHASE_SHUTDOWN) ||
          entry.GetInt32(Api::VirtualAppJobPhase::kPhaseState) != Api::VIRTUAL_APP_PHASE_STATE_SUCCESS) {
        continue;
      }
      const CNMessageBase& details = entry.GetMsg(Api::VirtualAppJobPhase::kPhaseInfo);
      if (details.ListSize(Api::VirtualAppPhaseInfo::kJobInfos) == 0) continue;
      const std::string& named = details.GetListMsg(Api::VirtualAppPhaseInfo::kJobInfos, 0)
                                     .GetMsg(Api::VirtualAppJobInfo::kClientEntity)
                                     .GetString(ZnEntities::GenericEntity::kClientName);
      if (strcasecmp(named.c_str(), vm.c_str()) == 0) return true;
    }
  }
  return false;
}

bool CVSADRBase::EarlierSyncSucceeded(CDRInfo* info) {
  const uint32_t state = EarlierPhaseState(info, Api::VIRTUAL_APP_PHASE_REPLICATION);
  if (state != Api::VIRTUAL_APP_PHASE_STATE_SUCCESS && state != Api::VIRTUAL_APP_PHASE_STATE_IN_PROGRESS) return false;
  if (IsTakenOverFromTheStart(info, "EarlierSyncSucceeded", "restore")) return false;
  VSARepInfo* vsa = GetVSARepInfo(info);
  if (vsa == nullptr) return false;
  if (state == Api::VIRTUAL_APP_PHASE_STATE_SUCCESS) {
    // A restart that took the machine over from the start and died before
    // its own restore leaves the earlier restore's row, but the row of its
    // backup names its new backup, which the machine has not synced: what
    // the workload wrote after the killed run's clean-up is not restored.
    long long backup = 0;
    m_jobManager->GetJobIDForPhase(Api::VIRTUAL_APP_PHASE_BACKUP, info->GetReplId(), backup);
    return backup <= 0 || vsa->GetLastSyncedBackupJobId() >= backup;
  }
  // Only asked: a sync still running (or suspended, for a restart to
  // resume) is not waited for, and leaves the machine to its statuses.
  if (m_asked.restart) {
    std::vector<JobManager::JobInfo> open;
    m_jobManager->GetRunningSyncJobs(vsa->GetTaskId(), open);
    if (!open.empty()) return false;
  }
  // The syncs the earlier run launched may still run, and the machine's row
  // need not name them (a list's rows are written one after the other): the
  // task's running syncs are waited for, so that none ends after the
  // decision and behind the rerun's back.
  std::vector<JobManager::JobInfo> running;
  m_jobManager->GetRunningSyncJobs(vsa->GetTaskId(), running);
  for (JobManager::JobInfo& job : running) {
    long long id = job.GetInt64(JobManager::JobInfo::kJobId);
    m_event.Debug("EarlierSyncSucceeded", "Waiting for sync job [%lld] of task [%d] before resuming replication [%d]",
                  id, vsa->GetTaskId(), info->GetReplId());
    m_jobManager->WaitForJobCompletion(id, 0);
  }
  // Synced from the backup this job took (or a later one): the earlier
  // run's sync of the machine has done its work.
  long long backup = 0;
  m_jobManager->GetJobIDForPhase(Api::VIRTUAL_APP_PHASE_BACKUP, info->GetReplId(), backup);
  if (backup <= 0) return false;
  std::vector<CDRInfo*> one = {info};
  ReloadRecords(one);
  vsa = GetVSARepInfo(info);
  if (vsa == nullptr || vsa->GetStatus() != App::VSA_REPL_STATUS_IN_SYNC ||
      vsa->GetLastSyncedBackupJobId() < backup) {
    return false;
  }
  if (m_asked.restart) return true;
  // The row the earlier run left IN-PROGRESS gets the outcome.
  SDRPhaseCtx row(m_jobId, Api::VIRTUAL_APP_PHASE_REPLICATION, Api::VIRTUAL_APP_PHASE_STATE_SUCCESS,
                  Api::DR_SITE_DESTINATION, true);
  row.clientEntity.SetString(ZnEntities::GenericEntity::kClientName,
                             DRInfoUtils::GetSitePropStr(info, DR_SITE_PROPERTY_NAME, Api::DR_SITE_SOURCE));
  info->UpdatePhase(row);
  return true;
}

void CVSADRBase::RetireUndoneRows(CDRInfo* info) {
  if (m_asked.restart || !IsUndoneByEarlierCleanup(info)) return;
  for (const Api::VirtualAppJobPhaseType phase : {Api::VIRTUAL_APP_PHASE_BACKUP, Api::VIRTUAL_APP_PHASE_REPLICATION}) {
    const uint32_t state = EarlierPhaseState(info, phase);
    if (state != Api::VIRTUAL_APP_PHASE_STATE_SUCCESS && state != Api::VIRTUAL_APP_PHASE_STATE_IN_PROGRESS) continue;
    // Asked again by the group's steps: marked already.
    if (info->GetPhaseState(phase, Api::DR_SITE_DESTINATION) ==
        static_cast<uint32_t>(Api::VIRTUAL_APP_PHASE_STATE_SKIPPED)) {
      continue;
    }
    SDRPhaseCtx row(m_jobId, phase, Api::VIRTUAL_APP_PHASE_STATE_SKIPPED, Api::DR_SITE_DESTINATION, false);
    // Not the machine's last phase: no step of this run has begun on it.
    row.notLastPhase = true;
    row.message = "Undone by the clean-up of an earlier run of the job";
    row.clientEntity.SetString(ZnEntities::GenericEntity::kClientName,
                               DRInfoUtils::GetSitePropStr(info, DR_SITE_PROPERTY_NAME, Api::DR_SITE_DESTINATION));
    info->UpdatePhase(row);
  }
}

bool CVSADRBase::IsVMRunning(CDRInfo* info, Api::DRSite site, bool& running) {
  const std::string guid = DRInfoUtils::GetSitePropStr(info, DR_SITE_PROPERTY_GUID, site);
  if (guid.empty()) return false;
  QSMServer::QVirtualMachineReq vm;
  if (VmAuxOps::getVMInfo(guid, vm) != 0) {
    m_event.Error("IsVMRunning", "Failed to get the power state of VM [%s]", guid.c_str());
    return false;
  }
  running = vm.GetInt32(QSMServer::QVirtualMachineReq::kPowerState) == 1;
  return true;
}

std::vector<CDRInfo*> CVSADRBase::TakeMovedMachines(SDROperationCtx& ctx) {
  std::vector<CDRInfo*> moved;
  if (!IsRestartedRun()) return moved;
  for (CDRInfo* info : std::vector<CDRInfo*>(ctx.drInfoList)) {
    if (info == nullptr || !IsMovedByEarlierRun(info)) continue;
    m_event.Debug("TakeMovedMachines",
                  "Replication [%d] was taken past its failover step by an earlier run of DR job [%lld]. Resuming "
                  "after it",
                  info->GetReplId(), static_cast<long long>(m_jobId));
    moved.push_back(info);
    Remove(ctx.drInfoList, info);
    if (ctx.subclient != nullptr) Remove(ctx.subclient->GetInputList(), info);
    ZnCriticalSectionLock lock(&m_resumedLock);
    m_resumed.push_back(info->GetReplId());
  }
  return moved;
}

bool CVSADRBase::IsResumed(CDRInfo* info) {
  if (info == nullptr) return false;
  ZnCriticalSectionLock lock(&m_resumedLock);
  return std::find(m_resumed.begin(), m_resumed.end(), info->GetReplId()) != m_resumed.end();
}

bool CVSADRBase::IsSourceSnapshotGone(CDRInfo* info) {
  VSARepInfo* vsa = GetVSARepInfo(info);
  if (vsa == nullptr || !IsRestartedRun() || vsa->GetSourceSnapMorefProp().empty()) return false;
  std::vector<EVGui::VMSnapshot> snapshots;
  if (!ListSnapshots(info, Api::DR_SITE_SOURCE, snapshots)) return false;
  for (const EVGui::VMSnapshot& s : snapshots) {
    if (s.GetString(EVGui::VMSnapshot::kReference) == vsa->GetSourceSnapMorefProp()) return false;
  }
  return true;
}

bool CVSADRBase::ListInstanceVMs(CDRInfo* info, Api::DRSite site,
                                 std::vector<std::pair<std::string, std::string>>& out) {
  out.clear();
  const int64_t instance = DRInfoUtils::GetSiteProp(info, DR_SITE_PROPERTY_INSTANCE_ID, site);
  // A discovery that names no VM lists every VM of the instance.
  EVGui::DiscoverVMDetailsReq request;
  request.SetInt32(EVGui::DiscoverVMDetailsReq::kDiscover, 1);
  request.MutableMsg(EVGui::DiscoverVMDetailsReq::kInstance)
      .SetInt64(ZnEntities::AppInstanceEntity::kInstanceId, instance);
  EVGui::DiscoverVMDetailsResp response;
  std::string xml, error;
  if (!m_appManager->GetTaskResponse(request, response, EVGui::DiscoverVMDetailsReq::kTypeId, xml, error, ZN_OP_NONE)) {
    m_event.Error("ListInstanceVMs", "Failed to list the VMs of instance [%lld] [%s]", static_cast<long long>(instance),
                  error.c_str());
    return false;
  }
  for (size_t i = 0; i < response.ListSize(EVGui::DiscoverVMDetailsResp::kGuestHosts); ++i) {
    const CNMessageBase& host = response.GetListMsg(EVGui::DiscoverVMDetailsResp::kGuestHosts, i);
    out.emplace_back(host.GetString(EVGui::GuestHost::kName), host.GetString(EVGui::GuestHost::kGuid));
  }
  return true;
}

bool CVSADRBase::IsAskedSnapshotAbsent(const SDROperationCtx& ctx, CDRInfo* info,
                                       const TMMsg::VMProvisioningOption& option) {
  if (info == nullptr || option.ListSize(TMMsg::VMProvisioningOption::kSnapOpRequests) == 0) return false;
  std::string name, ref;
  AskedSnapshot(option, name, ref);
  std::vector<EVGui::VMSnapshot> snapshots;
  bool listed = false;
  // A VM the hypervisor does not list, or cannot be asked about, is no
  // proof that the snapshot is gone.
  return ListSnapshots(info, ctx.site, snapshots, &listed) && listed && !HoldsSnapshot(snapshots, name, ref);
}

bool CVSADRBase::DiscoverSiteVM(CDRInfo* info, Api::DRSite site, EVGui::DiscoverVMDetailsResp& response,
                                bool quiet) {
  const std::string guid = DRInfoUtils::GetSitePropStr(info, DR_SITE_PROPERTY_GUID, site);
  EVGui::DiscoverVMDetailsReq request;
  request.SetInt32(EVGui::DiscoverVMDetailsReq::kDiscover, 1);
  request.MutableMsg(EVGui::DiscoverVMDetailsReq::kInstance)
      .SetInt64(ZnEntities::AppInstanceEntity::kInstanceId,
                DRInfoUtils::GetSiteProp(info, DR_SITE_PROPERTY_INSTANCE_ID, site));
  request.AddMsg(EVGui::DiscoverVMDetailsReq::kGuestHosts).SetString(EVGui::GuestHost::kGuid, guid);
  std::string xml, error;
  if (!guid.empty() && m_appManager->GetTaskResponse(request, response, EVGui::DiscoverVMDetailsReq::kTypeId, xml,
                                                     error, ZN_OP_NONE, quiet)) {
    return true;
  }
  if (quiet) {
    m_event.Debug("DiscoverSiteVM", "Cannot discover VM [%s] [%s]", guid.c_str(), error.c_str());
  } else {
    m_event.Error("ListSnapshots", "Failed to list the snapshots of VM [%s] [%s]", guid.c_str(), error.c_str());
  }
  return false;
}

bool CVSADRBase::IsVMGone(CDRInfo* info, Api::DRSite site) {
  EVGui::DiscoverVMDetailsResp response;
  if (!DiscoverSiteVM(info, site, response, true)) return false;
  const std::string guid = DRInfoUtils::GetSitePropStr(info, DR_SITE_PROPERTY_GUID, site);
  for (size_t i = 0; i < response.ListSize(EVGui::DiscoverVMDetailsResp::kGuestHosts); ++i) {
    if (response.GetListMsg(EVGui::DiscoverVMDetailsResp::kGuestHosts, i).GetString(EVGui::GuestHost::kGuid) == guid) {
      return false;
    }
  }
  m_event.Debug("IsVMGone", "VM [%s] is no longer on instance [%lld]", guid.c_str(),
                static_cast<long long>(DRInfoUtils::GetSiteProp(info, DR_SITE_PROPERTY_INSTANCE_ID, site)));
  return true;
}

bool CVSADRBase::ListSnapshots(CDRInfo* info, Api::DRSite site, std::vector<EVGui::VMSnapshot>& out, bool* listed) {
  out.clear();
  if (listed != nullptr) *listed = false;
  const std::string guid = DRInfoUtils::GetSitePropStr(info, DR_SITE_PROPERTY_GUID, site);
  EVGui::DiscoverVMDetailsResp response;
  if (!DiscoverSiteVM(info, site, response, false)) return false;
  for (size_t i = 0; i < response.ListSize(EVGui::DiscoverVMDetailsResp::kGuestHosts); ++i) {
    const CNMessageBase& host = response.GetListMsg(EVGui::DiscoverVMDetailsResp::kGuestHosts, i);
    if (host.GetString(EVGui::GuestHost::kGuid) != guid) continue;
    if (listed != nullptr) *listed = true;
    for (size_t s = 0; s < host.ListSize(EVGui::GuestHost::kSnapshots); ++s) {
      out.push_back(host.GetListMsgAs<EVGui::VMSnapshot>(EVGui::GuestHost::kSnapshots, s));
    }
  }
  return true;
}

void CVSADRBase::DeleteEarlierSnapshot(SDROperationCtx& ctx, CDRInfo* info, const TMMsg::VMProvisioningOption& option,
                                       const Ida::VMOpReq& request, const std::string& ref) {
  TMMsg::VMProvisioningOption deleteOption(option);
  deleteOption.SetInt32(TMMsg::VMProvisioningOption::kOperationType, TMMsg::VM_OPERATION_DELETE_SNAPSHOT);
  CNMessageBase& snapshot =
      deleteOption.MutableListMsg(TMMsg::VMProvisioningOption::kSnapOpRequests, 0).MutableMsg(Ida::VMSnapOpReq::kSnapshot);
  snapshot.MutableMsg(Ida::VMSnapshot::kReference).SetString(Ida::SnapshotReference::kMoref, ref);
  Ida::VMOpReq deleteRequest(request);
  DRInfoUtils::PopulateAdditionalVMSnapOpReq(info, deleteRequest);
  Ida::VMOpResp response;
  const std::string name = snapshot.GetString(Ida::VMSnapshot::kName);
  const std::string vmName = RequestedVM(request);
  if (ExecuteRemoteVMOp(ctx, deleteOption, deleteRequest, response, true) != 0) {
    m_event.Error("TakeOverEarlierSnapshotStep",
                  "Failed to delete snapshot [%s] [%s] of VM [%s], taken before the clean-up of an earlier run of DR "
                  "job [%lld] [%s]",
                  name.c_str(), ref.c_str(), vmName.c_str(), static_cast<long long>(m_jobId),
                  response.GetMsg(Ida::VMOpResp::kError).GetString(ZNGui::GenericResp::kErrorText).c_str());
    return;
  }
  m_event.Debug("TakeOverEarlierSnapshotStep",
                "Deleted snapshot [%s] [%s] of VM [%s], taken before the clean-up of an earlier run of DR job [%lld] "
                "brought its workload back up. Taking it anew",
                name.c_str(), ref.c_str(), vmName.c_str(), static_cast<long long>(m_jobId));
}

bool CVSADRBase::TakeOverEarlierSnapshotStep(SDROperationCtx& ctx, CDRInfo* info, int opType,
                                             TMMsg::VMProvisioningOption& option, Ida::VMOpReq& request) {
  if (!IsRestartedRun() || info == nullptr || option.ListSize(TMMsg::VMProvisioningOption::kSnapOpRequests) == 0) {
    return false;
  }
  const bool create = opType == TMMsg::VM_OPERATION_CREATE_SNAPSHOT;
  // A DR VM's failover snapshot that is gone was reverted to by an earlier
  // run that took the machine up, and deleted right after (a revert's and a
  // delete's steps write no row to tell): going back to it again can
  // neither be done nor is needed. A source snapshot that is gone is
  // another matter (IsSourceSnapshotGone).
  const bool revert = opType == TMMsg::VM_OPERATION_REVERT_SNAPSHOT;
  if (!create && !revert && opType != TMMsg::VM_OPERATION_DELETE_SNAPSHOT) return false;
  if (revert && (ctx.site != Api::DR_SITE_DESTINATION || !HasEarlierRows(info))) return false;
  std::string name, ref;
  AskedSnapshot(option, name, ref);
  std::vector<EVGui::VMSnapshot> snapshots;
  if (!ListSnapshots(info, ctx.site, snapshots)) return false;
  std::string vmName = RequestedVM(request);
  if (create) {
    // Only a snapshot this job took: its description names the job.
    const std::string description = GetSnapshotDescription();
    for (const EVGui::VMSnapshot& s : snapshots) {
      if (s.GetString(EVGui::VMSnapshot::kName) != name || s.GetString(EVGui::VMSnapshot::kDescription) != description) {
        continue;
      }
      const std::string found = s.GetString(EVGui::VMSnapshot::kReference);
      if (IsUndoneByEarlierCleanup(info)) {
        // The clean-up brought the workload back up after the snapshot: it
        // misses what the VM wrote since. It makes way for a new one.
        DeleteEarlierSnapshot(ctx, info, option, request, found);
        return false;
      }
      m_event.Debug("TakeOverEarlierSnapshotStep",
                    "Snapshot [%s] [%s] of VM [%s] was taken by an earlier run of DR job [%lld]. Using it", name.c_str(),
                    found.c_str(), vmName.c_str(), static_cast<long long>(m_jobId));
      SDRPhaseCtx phase(m_jobId, ctx.phase, Api::VIRTUAL_APP_PHASE_STATE_IN_PROGRESS, ctx.site, true);
      UpdateVMPhase(ctx, vmName, phase, "", Api::VIRTUAL_APP_PHASE_STATE_SUCCESS);
      Ida::VMOpResp response;
      response.AddMsg(Ida::VMOpResp::kSnapshots)
          .MutableMsg(Ida::VMSnapshot::kReference)
          .SetString(Ida::SnapshotReference::kMoref, found);
      LoadVMOpRespOptions(info, response, ctx);
      return true;
    }
    return false;
  }
  if (HoldsSnapshot(snapshots, name, ref)) return false;
  m_event.Debug("TakeOverEarlierSnapshotStep",
                "Snapshot [%s] [%s] is no longer on VM [%s]: deleted by an earlier run of DR job [%lld]%s", name.c_str(),
                ref.c_str(), vmName.c_str(), static_cast<long long>(m_jobId),
                revert ? ", which reverted the VM to it first" : "");
  SDRPhaseCtx phase(m_jobId, ctx.phase, Api::VIRTUAL_APP_PHASE_STATE_IN_PROGRESS, ctx.site, true);
  UpdateVMPhase(ctx, vmName, phase, "", Api::VIRTUAL_APP_PHASE_STATE_SUCCESS);
  return true;
}
