#include "AppDRBase.h"

#include <ctype.h>

#include "AppReplDataMgr.h"
#include "AppRepInfo.h"
#include "drorch/DRJobManager.h"
#include "engine/DRBase.h"
#include "engine/DRDataSource.h"
#include "engine/DRHelper.h"
#include "engine/DRInfo.h"
#include "engine/DRInfoUtils.h"
#include "engine/SDRInstanceCtx.h"
#include "engine/SDROSubclient.h"
#include "engine/SDROperationCtx.h"
#include "engine/SDRPhaseCtx.h"
#include "engine/SDRPriority.h"
#include "services/DRAppManager.h"

namespace {

// The batch operations __OP runs. Replication at the source (25) has no
// entry in the engine's table and 29 keeps the site and phase the context
// has; the others take the engine's site and phase.
bool IsAcceptedBatchOp(ZNDR::BatchOperation op) {
  switch (op) {
    case ZNDR::BATCH_OP_POWER_OFF_PRIMARY:
    case ZNDR::BATCH_OP_POWER_ON_PRIMARY:
    case ZNDR::BATCH_OP_POWER_ON_SECONDARY:
    case ZNDR::BATCH_OP_POWER_OFF_SECONDARY:
    case ZNDR::BATCH_OP_SHUTDOWN_PRIMARY:
    case ZNDR::BATCH_OP_SHUTDOWN_SECONDARY:
    case ZNDR::BATCH_OP_BACKUP_PRIMARY:
    case ZNDR::BATCH_OP_BACKUP_SECONDARY:
    case ZNDR::BATCH_OP_REPLICATION_PRIMARY:
    case ZNDR::BATCH_OP_STORAGE_OPERATION_PRIMARY:
    case ZNDR::BATCH_OP_STORAGE_OPERATION_SECONDARY:
    case ZNDR::BATCH_OP_SRC_VM_MOUNT_FROM_SNAP:
    case ZNDR::BATCH_OP_DR_VM_MOUNT_FROM_SNAP:
    case ZNDR::BATCH_OP_DR_VM_UNMOUNT_FROM_SNAP:
    case ZNDR::BATCH_OP_DR_VM_TEST_MOUNT:
    case ZNDR::BATCH_OP_DR_VM_TEST_UNMOUNT:
    case ZNDR::BATCH_OP_GET_VM_INFO_DESTINATION:
      return true;
    default:
      return false;
  }
}

// The subtask object of a database backup: operation 2 (backup).
const int kBackupOperationCode = 2;
const int kBackupSubTaskFlag3 = 2;

}  // namespace

CAppDRBase::CAppDRBase(IDROrchestrator& orchestrator)
    : m_priority(nullptr),
      m_flag(1),
      m_drObject(&orchestrator),
      m_syncWaitSeconds(kDefaultSyncWaitSeconds),
      m_jobManager(nullptr),
      m_appManager(nullptr),
      m_orchestrator(static_cast<CDRBase*>(&orchestrator)) {
  m_jobManager = m_orchestrator->GetDRJobMgr();
  m_appManager = m_orchestrator->GetDRAppMgr();
  if (m_jobManager != nullptr) m_event.setJobId(m_jobManager->GetJobId());
}

CAppDRBase::~CAppDRBase() { m_event.DebugLvl(2, "~CAppDRBase", "Invoking CAppDRBase destructor"); }

// ---- IDRContext ----

bool CAppDRBase::PerformOperation(SDROperationCtx& ctx) {
  switch (ctx.phase) {
    case Api::VIRTUAL_APP_PHASE_POWER_ON:
      return PowerOn(ctx);
    case Api::VIRTUAL_APP_PHASE_REPLICATION:
      return Sync(ctx);
    case Api::VIRTUAL_APP_PHASE_BACKUP:
      return Backup(ctx);
    case Api::VIRTUAL_APP_PHASE_SHUTDOWN:
      return Shutdown(ctx);
    case Api::VIRTUAL_APP_PHASE_STORAGE_OPERATION:
      return StorageOps(ctx);
    default:
      return false;
  }
}

bool CAppDRBase::ProcessPriority(const SDRPriority& priority) {
  m_priority = const_cast<SDRPriority*>(&priority);
  return m_orchestrator->ProcessIDAPriority(*this, priority, ZNDR::BATCH_OP_FAILOVER);
}

bool CAppDRBase::PostProcessPriority(const SDRPriority&) { return true; }

bool CAppDRBase::ProcessDROperationThread(SDROperationCtx& ctx) {
  if (ctx.batchOp == ZNDR::BATCH_OP_FAILOVER) return Failover(ctx);
  return false;
}

bool CAppDRBase::CleanupDROperationThread(SDROperationCtx&) { return true; }

bool CAppDRBase::ProcessDRSubclientThread(SDROperationCtx&) { return false; }

bool CAppDRBase::IsMachineEligible(CDRInfo*) { return true; }

bool CAppDRBase::IsAdmittedOnRestart(CDRInfo*) { return true; }

bool CAppDRBase::IsAdmittedOnNewJob(CDRInfo*, TMMsg::DROrchestrationType) { return true; }

bool CAppDRBase::IsInPlace(CDRInfo*) { return false; }

EWorkloadRuns CAppDRBase::WorkloadRuns(CDRInfo*) { return EWorkloadRuns::kUnknown; }

bool CAppDRBase::Cleanup(const SDRPriority&) { return true; }

// ---- the context's own slots ----

bool CAppDRBase::Failover(SDROperationCtx&) { return false; }

bool CAppDRBase::FailStep(int64_t jobId, std::vector<CDRInfo*>& machines, SDROperationCtx& ctx,
                          const std::string& reason) {
  if (m_jobManager->IsJobSuspended()) return false;
  m_orchestrator->UpdatePhaseForList(jobId, machines, ctx, Api::VIRTUAL_APP_PHASE_STATE_FAILED, reason);
  return false;
}

bool CAppDRBase::AwaitChildJob(long long& jobId, const std::string& kind, int pauseMs,
                               std::vector<CDRInfo*>& machines, SDROperationCtx& ctx) {
  const std::string job = "job [" + std::to_string(jobId) + "]";
  if (!m_jobManager->WaitForJobCompletion(jobId, 2)) {
    return FailStep(jobId, machines, ctx, "Wait for " + kind + " " + job + " failed");
  }
  if (pauseMs > 0) m_jobManager->Wait(pauseMs, "");
  std::string status;
  if (!m_jobManager->GetJobStatus(jobId, status) || !DRHelper::IsJobSuccessful(status)) {
    std::string named = kind;
    named[0] = static_cast<char>(toupper(named[0]));
    return FailStep(jobId, machines, ctx, named + " " + job + " ended [" + status + "]");
  }
  return true;
}

bool CAppDRBase::Backup(SDROperationCtx& ctx) {
  const ZNOpType opType = DRHelper::GetZNOptype(Api::VIRTUAL_APP_PHASE_BACKUP);
  std::vector<CDRInfo*>& machines = ctx.drInfoList;
  if (machines.empty()) return false;
  IRepInfo* first = machines.front() != nullptr ? machines.front()->GetRepInfo() : nullptr;
  const int subclientId = first != nullptr ? static_cast<int>(first->getSubclientId()) : 0;
  if (subclientId == 0) return FailStep(0, machines, ctx, "No subclient to back up");
  // A backup of the subclient already running (a schedule's, or one an
  // earlier run of this job left) goes first: two at once would do the
  // same work side by side.
  long long running = 0;
  m_jobManager->WaitOnRunningBkpJobsForSubclient(subclientId, running);
  if (!ctx.ignoreQuit && m_jobManager->IsQuitFlagSet()) {
    return FailStep(0, machines, ctx, "DR job interrupted before the backup");
  }
  ApplicationId appId(m_jobManager->GetHDID(), subclientId);
  TMMsg::CreateTaskReq request;
  if (!CreateBackupTask(request, appId, machines)) return FailStep(0, machines, ctx, "Backup task not created");
  const std::string list = DRInfoUtils::GetReplStr(machines);
  m_event.Debug("Backup", "Starting backup job for subclient [%d] and replication list [%s]", subclientId,
                list.c_str());
  TMMsg::CreateTaskResp response;
  std::string xml;
  std::string error;
  long long jobId = 0;
  if (!m_appManager->StartTask(request, response, TMMsg::CreateTaskReq::kTypeId, xml, error, opType, jobId)) {
    return FailStep(0, machines, ctx, "Backup job not started: " + error);
  }
  // The sync step of the same group reads the backup's job.
  if (ctx.subclient != nullptr) ctx.subclient->SetBkpJobId(jobId);
  m_orchestrator->UpdatePhaseForList(jobId, machines, ctx, Api::VIRTUAL_APP_PHASE_STATE_IN_PROGRESS, "");
  m_event.DebugLvl(1, "Backup",
                   "Waiting for backup job [%lld] to complete for subclient [%d] and replication list [%s]", jobId,
                   subclientId, list.c_str());
  if (!AwaitChildJob(jobId, "backup", 0, machines, ctx)) return false;
  m_event.Debug("Backup", "Backup operation job [%lld] successful", jobId);
  m_orchestrator->UpdatePhaseForList(jobId, machines, ctx, Api::VIRTUAL_APP_PHASE_STATE_SUCCESS, "");
  return true;
}

bool CAppDRBase::StorageOps(SDROperationCtx&) { return false; }

bool CAppDRBase::Sync(SDROperationCtx& ctx) {
  std::vector<CDRInfo*>& machines = ctx.drInfoList;
  if (machines.empty()) return false;
  std::vector<int> replIds;
  DRInfoUtils::GetReplIds(machines, replIds);
  IRepInfo* first = machines.front() != nullptr ? machines.front()->GetRepInfo() : nullptr;
  const int taskId = first != nullptr ? first->GetTaskId() : 0;
  const ZNOpType opType = DRHelper::GetZNOptype(Api::VIRTUAL_APP_PHASE_REPLICATION);
  long long backupJobId = ctx.subclient != nullptr ? ctx.subclient->GetBkpJobId() : 0;

  m_jobManager->Wait(m_syncWaitSeconds * 1000, "Wait before querying running sync jobs");
  // A kill or suspend during the pause ends the step before any sync starts.
  if (!ctx.ignoreQuit && m_jobManager->IsQuitFlagSet()) {
    return FailStep(0, machines, ctx, "DR job interrupted before the sync");
  }
  std::vector<JobManager::JobInfo> running;
  m_jobManager->WaitonRunningSyncJobs(taskId, backupJobId, replIds, running);
  // The wait on another job's sync ends at a kill or suspend of this job
  // without telling so: a sync launched now would outlive the stop (run on
  // after the kill, or wait suspended with no row naming it), so the step
  // ends as a stop during the pause ends it.
  if (!ctx.ignoreQuit && m_jobManager->IsQuitFlagSet()) {
    m_event.Error("Sync", "Not launching sync op for taskId [%d] as DR job [%lld] quit", taskId,
                  static_cast<long long>(m_jobManager->GetJobId()));
    return FailStep(0, machines, ctx, "DR job interrupted before the sync");
  }
  m_orchestrator->UpdatePhaseForList(0, machines, ctx, Api::VIRTUAL_APP_PHASE_STATE_IN_PROGRESS, "");

  const std::string list = DRInfoUtils::GetReplStr(machines);
  if (!IsSyncNeeded(machines)) {
    m_event.Debug("Sync", "No sync required for instances in list [%s] as sync status is [IN SYNC]", list.c_str());
    m_orchestrator->UpdatePhaseForList(0, machines, ctx, Api::VIRTUAL_APP_PHASE_STATE_SUCCESS, "");
    return true;
  }
  TMMsg::TaskOperationReq request;
  if (!m_orchestrator->LoadSyncTask(request, machines)) return FailStep(0, machines, ctx, "Sync task not loaded");
  m_event.Debug("Sync", "Launching sync op for taskId [%d] and repl inputs [%s]", taskId, list.c_str());
  TMMsg::CreateTaskResp response;
  std::string xml;
  std::string error;
  long long jobId = 0;
  if (!m_appManager->StartTask(request, response, TMMsg::TaskOperationReq::kTypeId, xml, error, opType, jobId)) {
    return FailStep(0, machines, ctx, "Sync job not started: " + error);
  }
  // The running row names the sync job, so a restart after a suspension
  // finds the child to resume.
  m_orchestrator->UpdatePhaseForList(jobId, machines, ctx, Api::VIRTUAL_APP_PHASE_STATE_IN_PROGRESS, "");
  m_event.DebugLvl(1, "Sync", "Waiting for sync job [%lld] to finish", jobId);
  if (!AwaitChildJob(jobId, "sync", kAfterSyncWaitMs, machines, ctx)) return false;
  m_event.Debug("Sync", "Sync operation job [%lld] successful", jobId);
  m_orchestrator->UpdatePhaseForList(jobId, machines, ctx, Api::VIRTUAL_APP_PHASE_STATE_SUCCESS, "");
  return true;
}

bool CAppDRBase::Shutdown(SDROperationCtx&) { return false; }

bool CAppDRBase::PowerOn(SDROperationCtx&) { return true; }

bool CAppDRBase::GetBkpOptions(CNMessageBase&, ApplicationId&, std::vector<CDRInfo*>&) { return false; }

bool CAppDRBase::CreateBackupTask(TMMsg::CreateTaskReq& request, ApplicationId& appId,
                                  std::vector<CDRInfo*>& machines) {
  if (machines.empty()) return false;
  TMMsg::TaskInfo& task = request.MutableMsgAs<TMMsg::TaskInfo>(TMMsg::CreateTaskReq::kTaskInfo);
  task.MutableMsg(TMMsg::TaskInfo::kTask).SetInt32(TMMsg::TaskObjectFields::kFlag5, 1);
  ZnEntities::GenericEntity& entity = task.AddMsgAs<ZnEntities::GenericEntity>(TMMsg::TaskInfo::kAssociations);
  DRHelper::GetApplicationInfo(appId, entity);
  CNMessageBase& subtask = task.AddMsg(TMMsg::TaskInfo::kSubTasks);
  subtask.SetInt32(TMMsg::SubTaskInfo::kFlag8, 1);
  CNMessageBase& object = subtask.MutableMsg(TMMsg::SubTaskInfo::kSubTask);
  object.SetInt32(TMMsg::SubTaskObjectFields::kOperationCode, kBackupOperationCode);
  object.SetInt32(TMMsg::SubTaskObjectFields::kFlag3, kBackupSubTaskFlag3);
  CNMessageBase& options =
      subtask.MutableMsg(TMMsg::SubTaskInfo::kJobOptions).MutableMsg(TMMsg::JobOption::kBackupOptions);
  if (!GetBkpOptions(options, appId, machines)) {
    m_event.Error("CreateBackupTask", "Failed to set app specific bkp options");
    return false;
  }
  return true;
}

void CAppDRBase::LoadOperationConfig(SDROperationCtx&) {}

// ---- steps and records ----

bool CAppDRBase::__OP(SDROperationCtx& ctx, ZNDR::BatchOperation op, bool succeededOnly) {
  ctx.batchOp = op;
  if (!IsAcceptedBatchOp(op)) return false;
  if (op == ZNDR::BATCH_OP_REPLICATION_PRIMARY) {
    ctx.site = Api::DR_SITE_SOURCE;
    ctx.phase = Api::VIRTUAL_APP_PHASE_REPLICATION;
  } else if (op != ZNDR::BATCH_OP_SRC_VM_MOUNT_FROM_SNAP) {
    DRInfoUtils::LoadBasicPhaseDetails(ctx, op);
  }
  LoadOperationConfig(ctx);
  return m_orchestrator->RunOperation(*this, ctx, succeededOnly);
}

bool CAppDRBase::LoadInstanceCtx(SDRInstanceCtx& instance, Api::DRSite site, CDRInfo* machine) {
  AppRepInfo* rep = GetAppRepInfo(machine);
  if (rep == nullptr) return false;
  ZnEntities::SubClientEntity entity;
  if (site == Api::DR_SITE_SOURCE) {
    entity = rep->GetSource();
  } else if (site == Api::DR_SITE_DESTINATION) {
    entity = rep->GetDestination();
  } else {
    return false;
  }
  instance.instanceId = entity.GetInt32(ZnEntities::SubClientEntity::kInstanceId);
  instance.instanceName = entity.GetString(ZnEntities::SubClientEntity::kName);
  instance.clientId = entity.GetInt32(ZnEntities::SubClientEntity::kClientId);
  instance.clientName = entity.GetString(ZnEntities::SubClientEntity::kClientName);
  return true;
}

AppRepInfo* CAppDRBase::GetAppRepInfo(CDRInfo* machine) {
  IRepInfo* rep = machine != nullptr ? machine->GetRepInfo() : nullptr;
  if (rep == nullptr) {
    m_event.Error("GetAppRepInfo", "Error fetching AppRepInfo");
    return nullptr;
  }
  switch (machine->GetInfoSource()) {
    case TMMsg::DR_OP_SOURCE_DB_REPLICATION:
    case TMMsg::DR_OP_SOURCE_SNAP_ARRAY_REPLICATION:
      return dynamic_cast<AppRepInfo*>(rep);
    default:
      return nullptr;
  }
}

CAppReplDataMgr* CAppDRBase::GetAppDataManager(CDRInfo* machine) {
  CDRDataSource* source = machine != nullptr ? machine->getDataSource() : nullptr;
  CAppReplDataMgr* manager = nullptr;
  if (source != nullptr && (source->GetInfoSource() == TMMsg::DR_OP_SOURCE_DB_REPLICATION ||
                            source->GetInfoSource() == TMMsg::DR_OP_SOURCE_SNAP_ARRAY_REPLICATION)) {
    manager = dynamic_cast<CAppReplDataMgr*>(source->GetDataManager());
  }
  if (manager == nullptr) m_event.Error("GetAppDataManager", "App Replication Datamanager not found in CDRInfo");
  return manager;
}

bool CAppDRBase::IsSyncNeeded(std::vector<CDRInfo*>& machines) {
  // An empty list has no record to ask.
  if (machines.empty() || machines.front() == nullptr) return false;
  CDRDataSource* source = machines.front()->getDataSource();
  if (source != nullptr) {
    SDataSourceInfo info;
    DRInfoUtils::GetReplIds(machines, info.replIds);
    source->ReloadData(info);
  }
  for (CDRInfo* machine : machines) {
    AppRepInfo* rep = GetAppRepInfo(machine);
    if (rep != nullptr && rep->GetStatus() != App::VSA_REPL_STATUS_IN_SYNC) return true;
  }
  return false;
}

bool CAppDRBase::UpdateSyncStatus(App::VSAReplicationStatus status, CDRInfo* machine, SDROperationCtx& ctx) {
  SDRPhaseCtx phase(m_jobManager->GetJobId(), ctx.phase, Api::VIRTUAL_APP_PHASE_STATE_IN_PROGRESS, ctx.site, true);
  phase.clientEntity.SetString(ZnEntities::GenericEntity::kClientName,
                               DRInfoUtils::GetDRClientName(machine, m_orchestrator->GetDRType()));
  machine->UpdatePhase(phase);
  CAppReplDataMgr* manager = GetAppDataManager(machine);
  if (manager == nullptr) return false;
  const bool stored = manager->UpdateSyncStatus(machine->GetReplId(), status);
  phase.state = stored ? Api::VIRTUAL_APP_PHASE_STATE_SUCCESS : Api::VIRTUAL_APP_PHASE_STATE_FAILED;
  machine->UpdatePhase(phase);
  return stored;
}

bool CAppDRBase::DisableSync(CDRInfo* machine, SDROperationCtx& ctx) {
  ctx.phase = Api::VIRTUAL_APP_PHASE_DISABLE_SYNC;
  return UpdateSyncStatus(App::VSA_REPL_STATUS_SYNC_DISABLED, machine, ctx);
}

void CAppDRBase::RevertSyncStatus(CDRInfo* machine, App::VSAReplicationStatus status) {
  CDRDataSource* source = machine != nullptr ? machine->getDataSource() : nullptr;
  if (source == nullptr) return;
  SDataSourceInfo info;
  info.replId = machine->GetReplId();
  info.syncStatus = status;
  source->UpdateProperty(ZNDR::DR_PROPERTY_SYNC_STATUS, info);
}

bool CAppDRBase::UpdateFailoverStatus(CDRInfo* machine, App::VSAFailoverStatus status) {
  CAppReplDataMgr* manager = GetAppDataManager(machine);
  if (manager == nullptr) return false;
  SDataSourceInfo info;
  info.replId = machine->GetReplId();
  info.drGroupId = machine->GetVAppId();
  return manager->UpdateFailoverStatus(info, status);
}

void CAppDRBase::CleanupStatus(std::vector<CDRInfo*>& machines, App::VSAFailoverStatus newStatus,
                               App::VSAFailoverStatus expected) {
  for (CDRInfo* machine : machines) {
    if (machine == nullptr || machine->IsSkipped()) continue;
    if (m_jobManager->IsJobSuspended()) continue;
    if (expected == App::VSA_FAILOVER_STATUS_NONE) continue;
    AppRepInfo* rep = GetAppRepInfo(machine);
    if (rep != nullptr && rep->GetFailoverStatus() == expected) UpdateFailoverStatus(machine, newStatus);
  }
}
