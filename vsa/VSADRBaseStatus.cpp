// Sync and failover statuses of VM replications, their times, flags,
// destination GUID and properties, written through the machine's data
// source into the VM data manager (which serialises the stores and pauses
// before each), and the restoration of what a failed run left behind.
#include <string>
#include <vector>

#include "VSADRBase.h"
#include "VSARepInfo.h"
#include "VSAReplDataMgr.h"
#include "drorch/DRJobManager.h"
#include "engine/DRBase.h"
#include "engine/DRHelper.h"
#include "engine/DRInfo.h"
#include "engine/DRInfoUtils.h"
#include "engine/SDROperationCtx.h"
#include "engine/SDataSourceInfo.h"
#include "services/DRAppManager.h"

namespace {

// A replication that has run a sync or runs one now.
bool HasSynced(App::VSAReplicationStatus status) {
  return status == App::VSA_REPL_STATUS_IN_SYNC || status == App::VSA_REPL_STATUS_SYNC_IN_PROGRESS ||
         status == App::VSA_REPL_STATUS_SYNC_PAUSED;
}

// The reset value of the restore and synced-till times: 1, not 0.
const uint64_t kResetTime = 1;

}  // namespace

bool CVSADRBase::UpdateFailoverStatus(CDRInfo* info, App::VSAFailoverStatus status) {
  if (info == nullptr || info->getDataSource() == nullptr) return false;
  // The job has taken the machine up from here on, a step of it run or not:
  // its clean-up turns this status into the type's failed one.
  if (status == App::VSA_FAILOVER_STATUS_FAILOVER_IN_PROGRESS ||
      status == App::VSA_FAILOVER_STATUS_FAILBACK_IN_PROGRESS ||
      status == App::VSA_FAILOVER_STATUS_REVERT_FAILOVER_IN_PROGRESS) {
    info->MarkUnderWay();
    // The job is stored with the status: a restart finishes what an attempt
    // of its job took up, and only that (IsTakenUpByThisJob). Stored apart,
    // a crash between the two would leave the job's id beside the status
    // the machine had before, which a restart could take for completed.
    CVSAReplDataMgr* manager = GetVSADataManager(info);
    if (manager != nullptr) return manager->UpdateFailoverStatusOfJob(info->GetReplId(), status, m_jobId);
  }
  SDataSourceInfo value;
  value.failoverStatus = status;
  return StoreProperty(info, ZNDR::DR_PROPERTY_FAILOVER_STATUS, value);
}

bool CVSADRBase::UpdateSyncStatus(App::VSAReplicationStatus status, CDRInfo* info, SDROperationCtx& ctx) {
  return UpdateSyncStatus(status, info, ctx, std::string());
}

bool CVSADRBase::UpdateSyncStatus(App::VSAReplicationStatus status, CDRInfo* info, SDROperationCtx& ctx,
                                  const std::string& note) {
  if (info == nullptr) return false;
  const long long jobId = ctx.jobId >= 1 ? ctx.jobId : m_jobId;
  // The row is written whatever the step before it turned off: a failback
  // or revert writes no rows of its own VM steps, but its sync change is
  // recorded. Only the clean-up's not-last-phase mark follows the context.
  SDRPhaseCtx phase(jobId, ctx.phase, Api::VIRTUAL_APP_PHASE_STATE_IN_PROGRESS, ctx.site, true);
  phase.message = note;
  phase.notLastPhase = ctx.ignoreQuit;
  phase.clientEntity.SetString(ZnEntities::GenericEntity::kClientName,
                               DRInfoUtils::GetDRClientName(info, m_orchestrator->GetDRType()));
  info->UpdatePhase(phase);
  SDataSourceInfo value;
  value.syncStatus = status;
  const bool stored = StoreProperty(info, ZNDR::DR_PROPERTY_SYNC_STATUS, value);
  phase.state = stored ? Api::VIRTUAL_APP_PHASE_STATE_SUCCESS : Api::VIRTUAL_APP_PHASE_STATE_FAILED;
  phase.message = note;
  info->UpdatePhase(phase);
  return stored;
}

void CVSADRBase::RevertSyncStatus(CDRInfo* info, App::VSAReplicationStatus status) {
  SDataSourceInfo value;
  value.syncStatus = status;
  if (!StoreProperty(info, ZNDR::DR_PROPERTY_SYNC_STATUS, value)) {
    m_event.Error("RevertSyncStatus", "Failed to set sync status [%s] back for replication [%d]",
                  DRHelper::GetVSASyncStatusStr(status).c_str(), info != nullptr ? info->GetReplId() : 0);
  }
}

bool CVSADRBase::EnableSync(CDRInfo* info, SDROperationCtx& ctx) {
  CDRAppManager* appManager = info != nullptr && info->GetAppMgrPtr() != nullptr ? info->GetAppMgrPtr() : m_appManager;
  const App::VSAReplicationStatus status =
      appManager->IsFirstTimeSyncDuringFailoverSet() ? App::VSA_REPL_STATUS_NEED_SYNC : App::VSA_REPL_STATUS_IN_SYNC;
  ctx.phase = Api::VIRTUAL_APP_PHASE_ENABLE_SYNC;
  return UpdateSyncStatus(status, info, ctx);
}

bool CVSADRBase::DisableSync(CDRInfo* info, SDROperationCtx& ctx) { return DisableSync(info, ctx, std::string()); }

bool CVSADRBase::DisableSync(CDRInfo* info, SDROperationCtx& ctx, const std::string& note) {
  ctx.phase = Api::VIRTUAL_APP_PHASE_DISABLE_SYNC;
  return UpdateSyncStatus(App::VSA_REPL_STATUS_SYNC_DISABLED, info, ctx, note);
}

void CVSADRBase::DisableSyncForList(std::vector<CDRInfo*>& list) {
  for (CDRInfo* info : list) {
    if (info == nullptr) continue;
    SDROperationCtx ctx;
    ctx.drInfoList.assign(1, info);
    DisableSync(info, ctx);
  }
}

void CVSADRBase::ResetSyncStatusOnFailure(std::vector<CDRInfo*>& list) {
  for (CDRInfo* info : list) {
    if (info == nullptr || info->IsSuccess() || info->IsSkipped()) continue;
    RevertSyncStatus(info, GetOriginalSyncStatus(info));
  }
}

App::VSAReplicationStatus CVSADRBase::SyncStatusBeforeJob(CDRInfo* info, const std::string& job) {
  const std::string found = EarlierPhaseMessage(info, Api::VIRTUAL_APP_PHASE_DISABLE_SYNC);
  for (int value = App::VSA_REPL_STATUS_NONE; !found.empty() && value <= App::VSA_REPL_STATUS_REVERT_FAILED; ++value) {
    const App::VSAReplicationStatus status = static_cast<App::VSAReplicationStatus>(value);
    if (found == SyncStatusBeforeText(status, job)) return status;
  }
  return GetOriginalSyncStatus(info);
}

std::string CVSADRBase::SyncStatusBeforeText(App::VSAReplicationStatus status, const std::string& job) {
  return "Sync status before " + job + " [" + DRHelper::GetVSASyncStatusStr(status) + "]";
}

void CVSADRBase::CleanupStatus(std::vector<CDRInfo*>& list, App::VSAFailoverStatus newStatus,
                               App::VSAFailoverStatus expected, bool onlyIfExpected) {
  for (CDRInfo* info : list) {
    if (info == nullptr || info->IsSkipped()) continue;
    // A suspended job resumes later and must find the statuses as they were.
    if (m_jobManager->IsJobSuspended()) continue;
    if (onlyIfExpected) {
      VSARepInfo* vsa = GetVSARepInfo(info);
      if (vsa == nullptr || vsa->GetFailoverStatus() != expected) continue;
    }
    UpdateFailoverStatus(info, newStatus);
  }
}

bool CVSADRBase::ClearFailoverStatus(CDRInfo* info) {
  CVSAReplDataMgr* manager = GetVSARepInfo(info) != nullptr ? GetVSADataManager(info) : nullptr;
  if (manager != nullptr) manager->UpdateFailoverStatus(info->GetReplId(), App::VSA_FAILOVER_STATUS_NONE);
  return true;
}

void CVSADRBase::MarkSuccess(CDRInfo* info, Api::DRSite site) {
  if (info == nullptr) return;
  info->SetStatus(Api::VIRTUAL_APP_PHASE_STATE_SUCCESS);
  VSARepInfo* vsa = GetVSARepInfo(info);
  std::string name;
  if (vsa != nullptr) name = site == Api::DR_SITE_DESTINATION ? vsa->GetDestinationName() : vsa->GetSourceName();
  m_event.Debug("MarkSuccess", "[%s] has succeeded for replication [%d] VM [%s]",
                DRHelper::GetDrTypeStr(m_orchestrator->GetDRType()).c_str(), info->GetReplId(), name.c_str());
}

bool CVSADRBase::UpdateFlags(std::vector<CDRInfo*>& list) {
  for (CDRInfo* info : list) {
    VSARepInfo* vsa = GetVSARepInfo(info);
    CVSAReplDataMgr* manager = vsa != nullptr ? GetVSADataManager(info) : nullptr;
    if (manager != nullptr) manager->UpdateFlags(info->GetReplId(), vsa->GetFlags());
  }
  return true;
}

bool CVSADRBase::PersistCloneVMCount(CDRInfo* info) {
  VSARepInfo* vsa = GetVSARepInfo(info);
  CVSAReplDataMgr* manager = vsa != nullptr ? GetVSADataManager(info) : nullptr;
  if (manager == nullptr) return false;
  return manager->UpdateReplPropTbl(info->GetReplId(), VSARepInfo::kPropCloneVMCount,
                                    std::to_string(vsa->GetCloneVMCount() + 1), false);
}

bool CVSADRBase::ChangeSyncStatusDuringFailover(SDROperationCtx& ctx) {
  std::vector<CDRInfo*> list = ctx.drInfoList;
  for (CDRInfo* info : list) {
    if (!IsEligibleToChangeSyncStatusDuringFailover(info)) continue;
    ctx.phase = Api::VIRTUAL_APP_PHASE_ENABLE_SYNC;
    if (!UpdateSyncStatus(App::VSA_REPL_STATUS_NEED_SYNC, info, ctx)) return false;
  }
  return true;
}

bool CVSADRBase::IsEligibleToChangeSyncStatusDuringFailover(CDRInfo* info) {
  if (!m_appManager->IsFirstTimeSyncDuringFailoverSet()) return false;
  VSARepInfo* vsa = GetVSARepInfo(info);
  if (vsa == nullptr) return false;
  if (!vsa->GetDestinationGuid().empty()) {
    m_event.Debug("IsEligibleToChangeSyncStatusDuringFailover", "DR VM GUID [%s] found for VM [%s]",
                  vsa->GetDestinationGuid().c_str(), vsa->GetDestinationName().c_str());
    return false;
  }
  if (HasSynced(vsa->GetStatus())) {
    m_event.Debug("IsEligibleToChangeSyncStatusDuringFailover", "Sync status [%d] found for VM [%s]",
                  static_cast<int>(vsa->GetStatus()), vsa->GetDestinationName().c_str());
    return false;
  }
  return true;
}

void CVSADRBase::CleanupFirstTimeSyncDuringFailover(std::vector<CDRInfo*>& list) {
  if (!m_appManager->IsFirstTimeSyncDuringFailoverSet() || m_jobManager->IsJobSuspended()) return;
  for (CDRInfo* info : list) {
    if (info == nullptr || info->IsSuccess() || info->IsSkipped()) continue;
    VSARepInfo* vsa = GetVSARepInfo(info);
    if (vsa == nullptr || HasSynced(vsa->GetStatus())) continue;
    SDROperationCtx ctx;
    ctx.drInfoList.assign(1, info);
    ctx.priority = info->GetPriority();
    ctx.site = Api::DR_SITE_DESTINATION;
    ctx.updatePhaseInfoTbl = false;
    ctx.markRowAsFailedOnFailure = false;
    ctx.ignoreQuit = true;
    ctx.phase = Api::VIRTUAL_APP_PHASE_DISABLE_SYNC;
    DisableSync(info, ctx);
    bool deleted = true;
    if (!vsa->GetDestinationGuid().empty()) {
      __OP(ctx, ZNDR::BATCH_OP_SHUTDOWN_SECONDARY, false);
      ctx.phase = Api::VIRTUAL_APP_PHASE_DELETE_OPERATION;
      deleted = DRVMAction(ctx, Api::VIRTUAL_APP_PHASE_DELETE_DR_VIRTUAL_MACHINE, false);
    }
    // A DR VM that is still there keeps its GUID, so a later clean-up or
    // failover still finds it.
    if (deleted) {
      ResetDestinationVMGuid(info);
    } else {
      m_event.Error("CleanupFirstTimeSyncDuringFailover",
                    "DR VM [%s] of replication [%d] not deleted. Its GUID is kept", vsa->GetDestinationGuid().c_str(),
                    info->GetReplId());
    }
    ResetSyncLastRestoreTime(info);
    ResetVMSyncedTillTime(info);
  }
}

void CVSADRBase::ResetSyncLastRestoreTime(CDRInfo* info) {
  SDataSourceInfo value;
  value.lastRestoreTime = kResetTime;
  StoreProperty(info, ZNDR::DR_PROPERTY_LAST_RESTORE_TIME, value);
}

void CVSADRBase::ResetVMSyncedTillTime(CDRInfo* info) {
  SDataSourceInfo value;
  value.vmSyncedTillTime = kResetTime;
  StoreProperty(info, ZNDR::DR_PROPERTY_VM_SYNCED_TILL_TIME, value);
}

void CVSADRBase::ResetDestinationVMGuid(CDRInfo* info) {
  if (!m_appManager->IsFirstTimeSyncDuringFailoverSet()) return;
  SDataSourceInfo value;
  StoreProperty(info, ZNDR::DR_PROPERTY_RESET_DEST_VM_GUID, value);
}
