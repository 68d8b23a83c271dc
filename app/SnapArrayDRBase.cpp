#include "SnapArrayDRBase.h"

#include <new>
#include <set>

#include "SnapArrayDRReplDataMgr.h"
#include "SnapDRRepInfo.h"
#include "drorch/DRJobManager.h"
#include "engine/DRBase.h"
#include "engine/DRDataSource.h"
#include "engine/DRHelper.h"
#include "engine/DRInfo.h"
#include "engine/DRInfoUtils.h"
#include "engine/FXNamedMutex.h"
#include "engine/SDROSubclient.h"
#include "engine/SDROperationCtx.h"
#include "engine/SDRPhaseCtx.h"
#include "engine/SDRPriority.h"
#include "engine/ZnCriticalSectionLock.h"
#include "vsa/VSADRBase.h"

CSnapArrayDRBase::CSnapArrayDRBase(IDROrchestrator& orchestrator)
    : CAppDRBase(orchestrator), m_vsaDRBase(nullptr), m_snapDataMgr(nullptr), m_allowMultiImageSnapMount(false) {
  if (m_jobManager != nullptr) m_event.setJobId(m_jobManager->GetJobId());
  m_vsaDRBase = new (std::nothrow) CVSADRBase(orchestrator);
}

CSnapArrayDRBase::~CSnapArrayDRBase() {
  m_event.DebugLvl(2, "~CSnapArrayDRBase", "Running CSnapArrayDRBase destructor ...");
  if (m_vsaDRBase != nullptr) {
    m_event.DebugLvl(2, "~CSnapArrayDRBase", "Cleaning up VSADRBase obj ...");
    delete m_vsaDRBase;
    m_vsaDRBase = nullptr;
  }
  ZnCriticalSectionLock lock(&m_dsLockTableGuard);
  for (auto& entry : m_dsLockTable) {
    if (entry.second == nullptr) continue;
    // Only a hold of this thread can be given up here; the platform's mutex
    // ignores an unlock by anyone else, and a holder elsewhere would have
    // finished its mount before the context goes.
    if (entry.second->GetLockCount() > 0) entry.second->Unlock();
    m_event.DebugLvl(2, "~CSnapArrayDRBase", "Deleting mutex [%s]", entry.first.c_str());
    delete entry.second;
    entry.second = nullptr;
  }
  m_dsLockTable.clear();
}

// ---- IDRContext ----

bool CSnapArrayDRBase::PerformOperation(SDROperationCtx& ctx) {
  switch (ctx.phase) {
    case Api::VIRTUAL_APP_PHASE_POWER_ON:
    case Api::VIRTUAL_APP_PHASE_POWER_OFF:
    case Api::VIRTUAL_APP_PHASE_BACKUP:
    case Api::VIRTUAL_APP_PHASE_SHUTDOWN:
    case Api::VIRTUAL_APP_PHASE_GET_VM_INFO:
      return m_vsaDRBase != nullptr && m_vsaDRBase->PerformOperation(ctx);
    case Api::VIRTUAL_APP_PHASE_STORAGE_OPERATION:
      return StorageOps(ctx);
    case Api::VIRTUAL_APP_PHASE_DR_VM_SNAP_MOUNT:
    case Api::VIRTUAL_APP_PHASE_DR_VM_SNAP_UNMOUNT:
    case Api::VIRTUAL_APP_PHASE_DR_VM_TEST_SNAP_MOUNT:
    case Api::VIRTUAL_APP_PHASE_DR_VM_TEST_SNAP_UNMOUNT:
      return HandleVMMountOps(ctx);
    case Api::VIRTUAL_APP_PHASE_BREAK_VOLUME_RELATIONSHIP:
    case Api::VIRTUAL_APP_PHASE_RESYNC_VOLUME_RELATIONSHIP: {
      CSnapArrayDRReplDataMgr* manager = GetSnapDataManager(ctx);
      if (manager == nullptr || ctx.replicaGroup == nullptr) return false;
      return manager->ChangeRelationShipStatus(ctx.replicaGroup->getCopyId(), *ctx.replicaGroup, ctx.phase, false);
    }
    default:
      return false;
  }
}

bool CSnapArrayDRBase::ProcessPriority(const SDRPriority& priority) {
  m_priority = const_cast<SDRPriority*>(&priority);
  if (m_orchestrator == nullptr) return false;
  m_event.Debug("ProcessPriority", "Priority [%d] is a [Snap Array Replication] type priority", priority.order);
  std::vector<SDROSubclient> subclients;
  return m_orchestrator->ProcessSubclientsInPriority(priority, subclients, this);
}

bool CSnapArrayDRBase::PostProcessPriority(const SDRPriority&) { return true; }

bool CSnapArrayDRBase::ProcessDROperationThread(SDROperationCtx& ctx) {
  switch (ctx.batchOp) {
    case ZNDR::BATCH_OP_DR_VM_MOUNT_FROM_SNAP:
    case ZNDR::BATCH_OP_DR_VM_UNMOUNT_FROM_SNAP:
    case ZNDR::BATCH_OP_DR_VM_TEST_MOUNT:
    case ZNDR::BATCH_OP_DR_VM_TEST_UNMOUNT:
      return DRMountOperation(ctx);
    default:
      return false;
  }
}

bool CSnapArrayDRBase::CleanupDROperationThread(SDROperationCtx&) { return true; }

bool CSnapArrayDRBase::ProcessDRSubclientThread(SDROperationCtx&) { return false; }

bool CSnapArrayDRBase::IsMachineEligible(CDRInfo* info) {
  SnapDRRepInfo* rep = GetSnapRepInfo(info);
  if (rep == nullptr) return false;
  if (info->IsSuccess()) return false;
  if (IsCompletedByEarlierRun(info, rep)) {
    m_event.Debug("IsMachineEligible", "Replication [%d] was completed by an earlier run of DR job [%lld]",
                  info->GetReplId(), static_cast<long long>(DRJobId()));
    info->SetStatus(Api::VIRTUAL_APP_PHASE_STATE_SUCCESS);
    return false;
  }
  std::string reason;
  std::string told;
  if (Admits(info, rep, reason, told)) return true;
  info->SetSkipReason(told.empty() ? reason : told);
  m_orchestrator->LogMessage("IsMachineEligible",
                             DRInfoUtils::GetDRInfoMesg(info, "Skipping DR", reason, Api::DR_SITE_SOURCE),
                             ZNDR::DR_EVENT_MINOR, !m_jobManager->IsJobRestarted());
  return false;
}

bool CSnapArrayDRBase::IsAdmittedOnRestart(CDRInfo* info) {
  CAskedAs asked(m_asked, SAdmissionQuestion::Restart());
  SnapDRRepInfo* rep = GetSnapRepInfo(info);
  if (rep == nullptr) return false;
  if (IsCompletedByEarlierRun(info, rep)) return true;
  std::string reason, told;
  return Admits(info, rep, reason, told);
}

bool CSnapArrayDRBase::IsAdmittedOnNewJob(CDRInfo* info, TMMsg::DROrchestrationType type) {
  CAskedAs asked(m_asked, SAdmissionQuestion::NewJob(type));
  SnapDRRepInfo* rep = GetSnapRepInfo(info);
  std::string reason, told;
  return rep != nullptr && Admits(info, rep, reason, told);
}

bool CSnapArrayDRBase::IsInPlace(CDRInfo* info) {
  SnapDRRepInfo* rep = GetSnapRepInfo(info);
  if (rep == nullptr) return false;
  switch (m_orchestrator->GetDRType()) {
    case TMMsg::DR_ORCHESTRATION_TEST_FAILOVER:
      return rep->GetTestFailoverStatus() == App::DR_TEST_FAILOVER_STATUS_COMPLETE;
    case TMMsg::DR_ORCHESTRATION_UNDO_TEST_FAILOVER:
      return rep->GetTestFailoverStatus() == App::DR_TEST_FAILOVER_STATUS_NONE;
    case TMMsg::DR_ORCHESTRATION_UNDO_FAILOVER:
      // Nothing a failover made is left: the workload runs at the source,
      // whatever status the failed failover stored.
      return DRInfoUtils::IsFailoverStatusWhereTypePutsIt(rep->GetFailoverStatus(), m_orchestrator->GetDRType()) ||
             !HasFailoverToUndo(info, rep);
    default:
      return DRInfoUtils::IsFailoverStatusWhereTypePutsIt(rep->GetFailoverStatus(), m_orchestrator->GetDRType());
  }
}

EWorkloadRuns CSnapArrayDRBase::WorkloadRuns(CDRInfo* info) {
  SnapDRRepInfo* rep = GetSnapRepInfo(info);
  bool on = false;
  if (rep == nullptr || !DRInfoUtils::IsVMPoweredOn(rep->GetSourceGuid(), on)) return EWorkloadRuns::kUnknown;
  if (on) return EWorkloadRuns::kRuns;
  // The failover leaves the DR VM mounted, its power as the VM had it.
  const bool test = rep->GetTestFailoverStatus() > App::DR_TEST_FAILOVER_STATUS_NONE;
  return rep->IsVMAfileMounted() && !test ? EWorkloadRuns::kRuns : EWorkloadRuns::kNowhere;
}

bool CSnapArrayDRBase::Admits(CDRInfo* info, SnapDRRepInfo* rep, std::string& reason, std::string& told) {
  // The statuses as a first attempt of the type judges them.
  const SAdmissionQuestion asked = m_asked;
  m_asked.firstAttempt = true;
  m_asked.restart = false;
  const bool refused = Refusal(info, rep, reason, told);
  m_asked = asked;
  if (!refused || !IsRestartedRun()) return !refused;
  // A restart admits more (a status its own type sets while it runs, an
  // undo with little left to do), but only of what an attempt of this job
  // took up: a machine every attempt refused stays refused, for the reason
  // the first attempt gives.
  if (!IsTakenUpByThisJob(info, rep)) return false;
  std::string restartReason, restartTold;
  return !Refusal(info, rep, restartReason, restartTold);
}

bool CSnapArrayDRBase::Refusal(CDRInfo* info, SnapDRRepInfo* rep, std::string& reason, std::string& told) {
  reason.clear();
  told.clear();
  if (rep->GetLastSyncedJobId() == 0) {
    reason = "Machine ineligible as last replicated job is aged or deleted";
    return true;
  }
  if (rep->GetSourceDSCount() == 0) {
    reason = "Machine ineligible as source datastores for vm coudn't be retrieved";
    return true;
  }
  if (!IsPermisableFailoverStateForJob(rep->GetFailoverStatus())) {
    const std::string status = DRHelper::GetVSAFailoverStatusStr(rep->GetFailoverStatus());
    reason = "Machine ineligible as Failover Status is [" + status + "]";
    // The operator's account names a status never set as such, not as "[]".
    if (status.empty()) told = "Machine ineligible as it has no failover status";
    return true;
  }
  switch (AdmissionType()) {
    case TMMsg::DR_ORCHESTRATION_TEST_FAILOVER:
    case TMMsg::DR_ORCHESTRATION_UNDO_TEST_FAILOVER:
      return !TestStatusAdmits(rep, AdmissionType() == TMMsg::DR_ORCHESTRATION_UNDO_TEST_FAILOVER, IsRestartedRun(),
                               reason);
    case TMMsg::DR_ORCHESTRATION_PLANNED_FAILOVER:
    case TMMsg::DR_ORCHESTRATION_UNPLANNED_FAILOVER:
      // The test VM holds the DR VM's name (a mount would find it taken,
      // after the sources are down and the relationships broken) or its
      // snapshot's mount (a failover would take the test VM for its DR VM).
      if (IsTestFailoverStanding(rep)) {
        reason = "Machine ineligible as its test failover stands: Test Failover status is [" +
                 DRHelper::GetDRTestFailoverStatusStr(rep->GetTestFailoverStatus()) + "]";
        return true;
      }
      return false;
    case TMMsg::DR_ORCHESTRATION_UNDO_FAILOVER:
      // A restart finishes what this job's earlier attempt began, however
      // little of it is left.
      if (!IsRestartedRun() && !HasFailoverToUndo(info, rep)) {
        reason = "Machine ineligible as no failover left anything of it to undo: its snapshot is not mounted, its "
                 "volume relationships are not broken and its source VM runs";
        return true;
      }
      return false;
    default:
      return false;
  }
}

bool CSnapArrayDRBase::IsTestFailoverStanding(SnapDRRepInfo* rep) {
  return rep->GetTestFailoverStatus() != App::DR_TEST_FAILOVER_STATUS_NONE;
}

bool CSnapArrayDRBase::HasFailoverToUndo(CDRInfo* info, SnapDRRepInfo* rep) {
  // A mount while a test failover stands is the test's.
  if (rep->IsVMAfileMounted() && !IsTestFailoverStanding(rep)) return true;
  if (rep->HasBrokenVolumeRelationship()) return true;
  // The source a failover shut down; one whose power cannot be read may be.
  bool running = false;
  return m_vsaDRBase == nullptr || !m_vsaDRBase->IsVMRunning(info, Api::DR_SITE_SOURCE, running) || !running;
}

bool CSnapArrayDRBase::IsTakenUpByThisJob(CDRInfo* info, SnapDRRepInfo* rep) {
  // Asked as a restart: this attempt is the restart's earlier one.
  if (m_asked.restart && info->HasBegun()) return true;
  // Every machine a job takes up gets a status stored under way, and every
  // store names the job: a status another job stored since is that job's.
  // A test type's restart asks after the test failover status alone, which
  // no job of another type stores.
  if (DRJobId() == 0) return false;
  if (DRHelper::IsTestFailoverType(AdmissionType())) return rep->GetLastTestDRJobId() == DRJobId();
  return rep->GetLastDRJobId() == DRJobId();
}

bool CSnapArrayDRBase::IsRestartedRun() const {
  if (m_asked.firstAttempt) return false;
  return m_asked.restart || (m_jobManager != nullptr && m_jobManager->IsJobRestarted());
}

TMMsg::DROrchestrationType CSnapArrayDRBase::AdmissionType() const {
  return m_asked.type != TMMsg::DR_ORCHESTRATION_NONE ? m_asked.type : m_orchestrator->GetDRType();
}

bool CSnapArrayDRBase::IsCompletedByEarlierRun(CDRInfo* info, SnapDRRepInfo* rep) {
  if (!IsRestartedRun()) return false;
  // The status a completed machine ends with could be another job's: the
  // machine's mount (or unmount) row in this job's history says this job
  // did it.
  const TMMsg::DROrchestrationType type = m_orchestrator->GetDRType();
  const Api::VirtualAppPhaseState success = Api::VIRTUAL_APP_PHASE_STATE_SUCCESS;
  Api::VirtualAppJobPhaseType last = Api::VIRTUAL_APP_PHASE_DR_VM_SNAP_MOUNT;
  bool done = false;
  switch (type) {
    case TMMsg::DR_ORCHESTRATION_PLANNED_FAILOVER:
    case TMMsg::DR_ORCHESTRATION_UNPLANNED_FAILOVER:
      done = rep->GetFailoverStatus() == DRHelper::GetFailoverStatus(type, success);
      break;
    case TMMsg::DR_ORCHESTRATION_UNDO_FAILOVER:
      last = Api::VIRTUAL_APP_PHASE_DR_VM_SNAP_UNMOUNT;
      done = rep->GetFailoverStatus() == DRHelper::GetFailoverStatus(type, success);
      break;
    case TMMsg::DR_ORCHESTRATION_TEST_FAILOVER:
      last = Api::VIRTUAL_APP_PHASE_DR_VM_TEST_SNAP_MOUNT;
      done = rep->GetTestFailoverStatus() == DRHelper::GetTestFailoverStatus(type, success);
      break;
    case TMMsg::DR_ORCHESTRATION_UNDO_TEST_FAILOVER:
      last = Api::VIRTUAL_APP_PHASE_DR_VM_TEST_SNAP_UNMOUNT;
      done = rep->GetTestFailoverStatus() == DRHelper::GetTestFailoverStatus(type, success);
      break;
    default:
      return false;
  }
  return done && DRInfoUtils::GetPhaseStatusForReplication(m_jobManager, last, info) == success;
}

bool CSnapArrayDRBase::Cleanup(const SDRPriority& priority) {
  std::vector<CDRInfo*> machines;
  m_orchestrator->GetDRInfoListForPriority(priority, machines, 0);
  // A machine a run that processed the priority never began holds nothing
  // of this job to undo: what is mounted for it is another job's (a
  // failover's DR VM under a test failover refused as a whole).
  std::vector<CDRInfo*> begun;
  for (CDRInfo* info : machines) {
    if (info != nullptr && (m_jobManager->IsDRJobCleanupPhase() || info->HasBegun())) begun.push_back(info);
  }
  CleanupMounts(begun);
  const TMMsg::DROrchestrationType type = m_orchestrator->GetDRType();
  CleanupStatus(machines, DRHelper::GetFailoverFailureStatus(type), DRHelper::GetFailoverRunningStatus(type));
  CleanupTestFailoverStatus(machines, DRHelper::GetTestFailoverStatus(type, Api::VIRTUAL_APP_PHASE_STATE_FAILED),
                            DRHelper::GetTestFailoverStatus(type, Api::VIRTUAL_APP_PHASE_STATE_IN_PROGRESS));
  return true;
}

// ---- the context's own slots ----

bool CSnapArrayDRBase::IsEligibleForCleanup(CDRInfo* info) {
  SnapDRRepInfo* rep = GetSnapRepInfo(info);
  if (rep == nullptr) return true;
  return rep->GetTestFailoverStatus() != App::DR_TEST_FAILOVER_STATUS_COMPLETE &&
         rep->GetFailoverStatus() != App::VSA_FAILOVER_STATUS_FAILOVER_COMPLETE;
}

bool CSnapArrayDRBase::IsPermisableFailoverStateForJob(App::VSAFailoverStatus status) {
  const TMMsg::DROrchestrationType type = AdmissionType();
  if (IsRestartedRun() && status == DRHelper::GetFailoverRunningStatus(type)) return true;
  switch (type) {
    case TMMsg::DR_ORCHESTRATION_PLANNED_FAILOVER:
    case TMMsg::DR_ORCHESTRATION_UNPLANNED_FAILOVER:
      return status != App::VSA_FAILOVER_STATUS_FAILOVER_COMPLETE &&
             status != App::VSA_FAILOVER_STATUS_FAILOVER_IN_PROGRESS;
    case TMMsg::DR_ORCHESTRATION_UNDO_FAILOVER:
      return status != App::VSA_FAILOVER_STATUS_REVERT_FAILOVER_COMPLETE &&
             status != App::VSA_FAILOVER_STATUS_REVERT_FAILOVER_IN_PROGRESS;
    default:
      return true;
  }
}

void CSnapArrayDRBase::GetSnapMountContext(SDROperationCtx& ctx, SnapDRContext& snapCtx) {
  std::set<uint64_t> masterJobs;
  for (CDRInfo* info : ctx.drInfoList) {
    SnapDRRepInfo* rep = GetSnapRepInfo(info);
    if (rep == nullptr) continue;
    const uint64_t jobId = GetMountOpJobId(rep);
    if (jobId != 0) masterJobs.insert(jobId);
    snapCtx.appId = DRInfoUtils::GetAppId(info);
    snapCtx.copyId = rep->GetCopyId();
    snapCtx.replIds.insert(info->GetReplId());
  }
  for (uint64_t jobId : masterJobs) {
    m_event.Debug("GetSnapMountContext", "Adding master job [%llu] for querying mountInfo",
                  static_cast<unsigned long long>(jobId));
    snapCtx.masterJobIds.push_back(jobId);
  }
  snapCtx.snapMount = DRHelper::IsSnapMount(ctx.phase);
}

void CSnapArrayDRBase::GetSnapCopyContext(SDROperationCtx& ctx, SnapDRContext& snapCtx) {
  for (CDRInfo* info : ctx.drInfoList) {
    SnapDRRepInfo* rep = GetSnapRepInfo(info);
    if (rep == nullptr) continue;
    snapCtx.appId = DRInfoUtils::GetAppId(info);
    snapCtx.copyId = rep->GetCopyId();
    const std::set<int> groups = rep->GetReplicaGroupIds();
    snapCtx.replicaGroupIds.insert(groups.begin(), groups.end());
  }
}

uint64_t CSnapArrayDRBase::GetMountOpJobId(SnapDRRepInfo* rep) {
  const int64_t jobId = rep != nullptr ? rep->GetLastSyncedJobId() : 0;
  return jobId > 0 ? static_cast<uint64_t>(jobId) : 0;
}

bool CSnapArrayDRBase::IsQuerySnapDRAfiles(SDROperationCtx&) { return true; }

bool CSnapArrayDRBase::PreFailover(SDROperationCtx& ctx) {
  m_orchestrator->InitDRSubclient(ctx);
  return true;
}

// ---- records, queries and statuses ----

SnapDRRepInfo* CSnapArrayDRBase::GetSnapRepInfo(CDRInfo* info) { return DRInfoUtils::GetSnapRepInfo(info); }

CSnapArrayDRReplDataMgr* CSnapArrayDRBase::GetSnapDataManager(SDROperationCtx& ctx) {
  CSnapArrayDRReplDataMgr* cached = m_snapDataMgr.load();
  if (cached != nullptr) return cached;
  CDRInfo* first = ctx.GetInfo();
  CDRDataSource* source = first != nullptr ? first->getDataSource() : nullptr;
  if (source == nullptr || source->GetInfoSource() != TMMsg::DR_OP_SOURCE_SNAP_ARRAY_REPLICATION) return nullptr;
  CSnapArrayDRReplDataMgr* manager = dynamic_cast<CSnapArrayDRReplDataMgr*>(source->GetDataManager());
  if (manager == nullptr) return nullptr;
  // Every thread finds the same manager; the first store wins, the others
  // store the same pointer.
  m_snapDataMgr.store(manager);
  return manager;
}

bool CSnapArrayDRBase::QuerySnapDataMgr(SDROperationCtx& ctx, SNAP_REPLMGR_REQ request, bool reQuery) {
  CDRInfo* first = ctx.GetInfo();
  SnapDRRepInfo* rep = GetSnapRepInfo(first);
  if (rep == nullptr) {
    m_event.Error("QuerySnapDataMgr", "Errorfetching repInfo");
    return false;
  }
  CSnapArrayDRReplDataMgr* manager = GetSnapDataManager(ctx);
  if (manager == nullptr) return true;
  switch (request) {
    case SNAP_REPLMGR_REQ_MOUNT_AFILES: {
      if (!IsQuerySnapDRAfiles(ctx)) return true;
      SnapDRContext snapCtx;
      GetSnapMountContext(ctx, snapCtx);
      if (!manager->QueryMountAfiles(snapCtx, reQuery)) {
        m_event.Error("QuerySnapDataMgr", "Error querying afiles for mount for copyId [%d] appId [%d]",
                      rep->GetCopyId(), DRInfoUtils::GetAppId(first));
        return false;
      }
      return true;
    }
    case SNAP_REPLMGR_REQ_REPLICA_GROUP_INFO: {
      SnapDRContext snapCtx;
      GetSnapCopyContext(ctx, snapCtx);
      if (!manager->QuerySnapReplicaInfo(snapCtx)) {
        m_event.Error("QuerySnapDataMgr", "Error querying snapReplicaGroup Info for copyId [%d] appId [%d]",
                      rep->GetCopyId(), DRInfoUtils::GetAppId(first));
        return false;
      }
      return true;
    }
    default:
      return false;
  }
}

bool CSnapArrayDRBase::IsTestFailoverMount(Api::VirtualAppJobPhaseType phase) {
  return phase == Api::VIRTUAL_APP_PHASE_DR_VM_TEST_SNAP_MOUNT;
}

bool CSnapArrayDRBase::CleanupMounts(std::vector<CDRInfo*>& machines) {
  const TMMsg::DROrchestrationType type = m_orchestrator->GetDRType();
  if (!DRHelper::IsSnapFailoverJob(type)) return true;
  SDROperationCtx ctx;
  for (CDRInfo* info : machines) {
    if (info != nullptr && IsEligibleForCleanup(info)) ctx.drInfoList.push_back(info);
  }
  if (ctx.drInfoList.empty()) return true;
  if (!QuerySnapDataMgr(ctx, SNAP_REPLMGR_REQ_MOUNT_AFILES, true)) return false;
  UpdateDatastoreToMountProxyMapping(ctx);
  const Api::VirtualAppJobPhaseType mountPhase = DRHelper::GetMountType(type);
  for (CDRInfo* info : ctx.drInfoList) {
    SnapDRRepInfo* rep = GetSnapRepInfo(info);
    if (rep == nullptr || !rep->CanUnmount()) continue;
    if (!IsTestFailoverMount(mountPhase)) {
      // Without the GUID a mount of this run reported, the VM is the one the
      // DR mount registered under the source VM's name: a DR VM name stored
      // with the replication names no VM a mount made.
      if (rep->GetDestinationGuid().empty()) rep->SetDestinationName(rep->GetSourceName());
      SDROperationCtx one = OneMachine(ctx, info);
      // A clean-up after a kill must still find the DR VM.
      one.ignoreQuit = true;
      if (!__OP(one, ZNDR::BATCH_OP_GET_VM_INFO_DESTINATION, false)) {
        m_event.Debug("CleanupMounts",
                      "Skipping replication [%d] for mount cleanup as VM coudn't be found. Please ensure that vm snaps "
                      "are unmounted and that there are no TEST-FAILOVER mounts for the vm before trying failover job.",
                      info->GetReplId());
        continue;
      }
    }
    m_event.Debug("CleanupMounts", "Adding replication [%d] for mount cleanup", info->GetReplId());
    if (!CleanupMount(info, mountPhase)) {
      m_event.Error("CleanupMounts", "Mount cleanup failed for replication [%d]", info->GetReplId());
    }
  }
  return true;
}

bool CSnapArrayDRBase::CleanupMount(CDRInfo* info, Api::VirtualAppJobPhaseType mountPhase) {
  SDROperationCtx ctx;
  ctx.drInfoList.assign(1, info);
  ctx.site = Api::DR_SITE_DESTINATION;
  ctx.phase = Api::VIRTUAL_APP_PHASE_POWER_OFF;
  ctx.updatePhaseInfoTbl = false;
  ctx.ignoreQuit = true;
  ctx.postStep = false;
  if (m_vsaDRBase != nullptr) m_vsaDRBase->PerformVMOperation(ctx);
  ctx.phase = mountPhase == Api::VIRTUAL_APP_PHASE_DR_VM_SNAP_MOUNT ? Api::VIRTUAL_APP_PHASE_DR_VM_SNAP_UNMOUNT
                                                                     : Api::VIRTUAL_APP_PHASE_DR_VM_TEST_SNAP_UNMOUNT;
  return _VMMountOperation(ctx);
}

void CSnapArrayDRBase::CleanupTestFailoverStatus(std::vector<CDRInfo*>& machines, App::DRTestFailoverStatus newStatus,
                                                 App::DRTestFailoverStatus expected) {
  // Only the test types store a test failover status: one a job of another
  // type finds under way is the test job's, whose restart takes it over.
  if (!DRHelper::IsTestFailoverType(m_orchestrator->GetDRType())) return;
  for (CDRInfo* info : machines) {
    if (info == nullptr || info->IsSkipped()) continue;
    if (m_jobManager->IsJobSuspended()) continue;
    if (expected == App::DR_TEST_FAILOVER_STATUS_NONE) continue;
    SnapDRRepInfo* rep = GetSnapRepInfo(info);
    if (rep != nullptr && rep->GetTestFailoverStatus() == expected) UpdateTestFailoverStatus(info, newStatus);
  }
}

bool CSnapArrayDRBase::UpdateTestFailoverStatus(CDRInfo* info, App::DRTestFailoverStatus status) {
  SDROperationCtx one;
  one.drInfoList.assign(1, info);
  CSnapArrayDRReplDataMgr* manager = GetSnapDataManager(one);
  if (manager == nullptr || info == nullptr) return false;
  SDataSourceInfo source;
  source.replId = info->GetReplId();
  source.drGroupId = info->GetVAppId();
  return manager->UpdateTestFailoverStatus(source, status);
}

bool CSnapArrayDRBase::CanExecuteTestFailoverOps(SDROperationCtx& ctx) {
  for (CDRInfo* info : ctx.drInfoList) {
    SnapDRRepInfo* rep = GetSnapRepInfo(info);
    if (rep == nullptr) continue;
    const App::VSAFailoverStatus status = rep->GetFailoverStatus();
    if (status == App::VSA_FAILOVER_STATUS_FAILOVER_COMPLETE || status == App::VSA_FAILOVER_STATUS_FAILOVER_IN_PROGRESS ||
        status == App::VSA_FAILOVER_STATUS_REVERT_FAILOVER_FAILED) {
      m_event.Debug("CanExecuteTestFailoverOps",
                    "App not eligible for Test Failover ops as failover status for replication [%d] is [%s]",
                    info->GetReplId(), DRHelper::GetVSAFailoverStatusStr(status).c_str());
      m_jobManager->SetGenericError("Failover state for one or more machines not permissible for current DR Operation.");
      return false;
    }
  }
  return true;
}

bool CSnapArrayDRBase::IsAnyVMMountedFromTestFailover(SDROperationCtx& ctx) {
  CSnapArrayDRReplDataMgr* manager = GetSnapDataManager(ctx);
  return manager != nullptr && manager->CheckTestFailoverVMMount();
}

// ---- helpers ----

uint64_t CSnapArrayDRBase::MountedMasterJobId(SnapDRRepInfo* rep) {
  if (rep == nullptr) return 0;
  const int64_t jobId = rep->GetMountedMasterJob().GetInt64(App::ReplicasyncAssociatedJob::kJobId);
  return jobId > 0 ? static_cast<uint64_t>(jobId) : 0;
}

bool CSnapArrayDRBase::PrepareTestOperation(const SDRPriority& priority, SDROperationCtx& ctx) {
  m_priority = const_cast<SDRPriority*>(&priority);
  ctx.priority = m_priority;
  if (!m_orchestrator->PrepareEligibleMachinesForPriority(priority, ctx.drInfoList, this)) return false;
  if (!CanExecuteTestFailoverOps(ctx)) return false;
  SetAllowMultiImageSnapMount();
  DRInfoUtils::SetRunning(ctx.drInfoList);
  return true;
}

bool CSnapArrayDRBase::TestStatusAdmits(SnapDRRepInfo* rep, bool undoTest, bool restarted, std::string& reason) {
  const App::VSAFailoverStatus failover = rep->GetFailoverStatus();
  const App::DRTestFailoverStatus test = rep->GetTestFailoverStatus();
  // The statuses CanExecuteTestFailoverOps refuses the whole priority for
  // (a failed revert among them) are refused here, machine by machine,
  // before the job touches any: a priority refused after admission left
  // its machines to the clean-up as if the job had begun them.
  if (failover == App::VSA_FAILOVER_STATUS_FAILOVER_COMPLETE || failover == App::VSA_FAILOVER_STATUS_FAILOVER_IN_PROGRESS ||
      failover == App::VSA_FAILOVER_STATUS_REVERT_FAILOVER_IN_PROGRESS ||
      failover == App::VSA_FAILOVER_STATUS_REVERT_FAILOVER_FAILED) {
    reason = "Machine ineligible as Failover Status for vm client is [" + DRHelper::GetVSAFailoverStatusStr(failover) +
             "] in one of the failover groups";
    return false;
  }
  if (undoTest ? (test == App::DR_TEST_FAILOVER_STATUS_IN_PROGRESS ||
                  (test == App::DR_TEST_FAILOVER_STATUS_UNDO_IN_PROGRESS && !restarted))
               : (test == App::DR_TEST_FAILOVER_STATUS_COMPLETE || test == App::DR_TEST_FAILOVER_STATUS_UNDO_IN_PROGRESS ||
                  (test == App::DR_TEST_FAILOVER_STATUS_IN_PROGRESS && !restarted))) {
    reason = "Machine ineligible as Test Failover status is [" + DRHelper::GetDRTestFailoverStatusStr(test) + "]";
    return false;
  }
  return true;
}

void CSnapArrayDRBase::SetStepSwitches(SDROperationCtx& ctx, int markRowFailed, int updatePhaseRows, int postStep,
                                       int mandateAllSuccess) {
  if (markRowFailed != kKeep) ctx.markRowAsFailedOnFailure = markRowFailed != 0;
  if (updatePhaseRows != kKeep) ctx.updatePhaseInfoTbl = updatePhaseRows != 0;
  if (postStep != kKeep) ctx.postStep = postStep != 0;
  if (mandateAllSuccess != kKeep) ctx.mandateAllSuccess = mandateAllSuccess != 0;
}

SDROperationCtx CSnapArrayDRBase::OneMachine(const SDROperationCtx& ctx, CDRInfo* info) {
  SDROperationCtx one(ctx);
  one.drInfoList.assign(1, info);
  return one;
}

void CSnapArrayDRBase::ApplyStepSwitches(SDROperationCtx& ctx, const SStepSwitches* table, size_t rows) {
  if (rows == 0) return;
  const SStepSwitches* row = &table[rows - 1];
  for (size_t i = 0; i + 1 < rows; ++i) {
    if (table[i].batchOp == ctx.batchOp) {
      row = &table[i];
      break;
    }
  }
  SetStepSwitches(ctx, row->markRowFailed, row->updatePhaseRows, row->postStep, row->mandateAllSuccess);
}

int64_t CSnapArrayDRBase::DRJobId() const { return m_jobManager != nullptr ? m_jobManager->GetJobId() : 0; }

void CSnapArrayDRBase::RecordPhase(SDROperationCtx& ctx, int64_t jobId, std::string vmName,
                                   const std::string& message, Api::VirtualAppPhaseState state) {
  if (m_vsaDRBase == nullptr) return;
  SDRPhaseCtx phase(jobId, ctx.phase, state, ctx.site, true);
  m_vsaDRBase->UpdateVMPhase(ctx, vmName, phase, message, state);
}

void CSnapArrayDRBase::RecordMountNotRun(SDROperationCtx& ctx, int64_t jobId, SnapDRRepInfo* rep,
                                         const std::string& reason) {
  if (rep == nullptr) return;
  const bool killed = m_jobManager != nullptr && m_jobManager->IsJobKillIssued();
  RecordPhase(ctx, jobId, DRHelper::IsSnapUnmount(ctx.phase) ? rep->GetDestinationName() : rep->GetSourceName(),
              killed ? kKillIssued : reason, Api::VIRTUAL_APP_PHASE_STATE_FAILED);
}

FXNamedMutex* CSnapArrayDRBase::LockOf(const std::string& name) {
  ZnCriticalSectionLock lock(&m_dsLockTableGuard);
  FXNamedMutex*& entry = m_dsLockTable[name];
  if (entry == nullptr) entry = new FXNamedMutex(name);
  return entry;
}

FXNamedMutex* CSnapArrayDRBase::FindLock(const std::string& name) {
  ZnCriticalSectionLock lock(&m_dsLockTableGuard);
  auto found = m_dsLockTable.find(name);
  return found != m_dsLockTable.end() ? found->second : nullptr;
}
