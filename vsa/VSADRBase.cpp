#include "VSADRBase.h"

#include <string>
#include <vector>

#include "VSARepInfo.h"
#include "VSAReplDataMgr.h"
#include "drorch/DRJobManager.h"
#include "engine/DRBase.h"
#include "engine/DRConstants.h"
#include "engine/DRDataSource.h"
#include "engine/DRHelper.h"
#include "engine/DRInfo.h"
#include "engine/DRInfoUtils.h"
#include "engine/IRepInfo.h"
#include "engine/SDROperationCtx.h"
#include "engine/SDRPriority.h"
#include "services/DRAppManager.h"

namespace {

bool IsSucceededOrSkipped(uint32_t state) {
  return state == Api::VIRTUAL_APP_PHASE_STATE_SUCCESS || state == Api::VIRTUAL_APP_PHASE_STATE_SKIPPED;
}

}  // namespace

CVSADRBase::CVSADRBase(IDROrchestrator& orchestrator)
    : m_jobId(0),
      m_jobManager(nullptr),
      m_appManager(nullptr),
      m_orchestrator(static_cast<CDRBase*>(&orchestrator)) {
  m_jobManager = m_orchestrator->GetDRJobMgr();
  m_appManager = m_orchestrator->GetDRAppMgr();
  if (m_jobManager != nullptr) m_jobId = m_jobManager->GetJobId();
  m_event.setJobId(m_jobId);
}

CVSADRBase::~CVSADRBase() { m_event.DebugLvl(2, "~CVSADRBase", "Invoking CVSADRBase destructor"); }

// =============================================================================
// Dispatch
// =============================================================================

bool CVSADRBase::PerformOperation(SDROperationCtx& ctx) {
  switch (ctx.phase) {
    case Api::VIRTUAL_APP_PHASE_SCRIPT_EXECUTION:
    case Api::VIRTUAL_APP_PHASE_POWER_ON:
    case Api::VIRTUAL_APP_PHASE_POWER_OFF:
    case Api::VIRTUAL_APP_PHASE_CREATE_SNAPSHOT:
    case Api::VIRTUAL_APP_PHASE_DELETE_SNAPSHOT:
    case Api::VIRTUAL_APP_PHASE_REVERT_SNAPSHOT:
    case Api::VIRTUAL_APP_PHASE_DISABLE_NETWORK_ADAPTERS:
    case Api::VIRTUAL_APP_PHASE_SHUTDOWN:
    case Api::VIRTUAL_APP_PHASE_DELETE_OPERATION:
    case Api::VIRTUAL_APP_PHASE_CREATE_VIRTUAL_MACHINE:
    case Api::VIRTUAL_APP_PHASE_GET_VM_INFO:
    case Api::VIRTUAL_APP_PHASE_CREATE_DR_VIRTUAL_MACHINE:
    case Api::VIRTUAL_APP_PHASE_POST_VM_FAILOVER:
    case Api::VIRTUAL_APP_PHASE_DELETE_DR_VIRTUAL_MACHINE:
    case Api::VIRTUAL_APP_PHASE_CLONE_VM:
    case Api::VIRTUAL_APP_PHASE_REFRESH_VM:
      return PerformGenVMOp(ctx, this);
    case Api::VIRTUAL_APP_PHASE_REPLICATION:
      return Sync(ctx);
    case Api::VIRTUAL_APP_PHASE_BACKUP:
      return Backup(ctx);
    case Api::VIRTUAL_APP_PHASE_STORAGE_OPERATION:
      return m_orchestrator->HandleStorageOps(ctx);
    default:
      return false;
  }
}

bool CVSADRBase::ProcessPriority(const SDRPriority& priority) {
  return m_orchestrator->ProcessIDAPriority(*this, priority, ZNDR::BATCH_OP_FAILOVER);
}

bool CVSADRBase::ProcessDROperationThread(SDROperationCtx& ctx) {
  const int op = static_cast<int>(ctx.batchOp);
  if ((op >= 1 && op <= 6) || (op >= 12 && op <= 18) || op == 20 || op == 21 || (op >= 36 && op <= 39) ||
      (op >= 42 && op <= 44)) {
    return PerformVMOperation(ctx);
  }
  switch (ctx.batchOp) {
    case ZNDR::BATCH_OP_FAILOVER: {
      CDRInfo* info = ctx.GetInfo();
      if (IsMachineEligible(info)) return Failover(ctx);
      if (info != nullptr) info->SetStatus(Api::VIRTUAL_APP_PHASE_STATE_SKIPPED);
      return true;
    }
    case ZNDR::BATCH_OP_POST_REPLICATION:
      return PostReplicationThread(ctx);
    case ZNDR::BATCH_OP_TESTBOOT_SECONDARY:
      return TestBoot(ctx);
    case ZNDR::BATCH_OP_DELETE_DESTINATION:
      return DeleteDestVM(ctx);
    default:
      return false;
  }
}

bool CVSADRBase::CleanupDROperationThread(SDROperationCtx&) { return true; }

bool CVSADRBase::ProcessDRSubclientThread(SDROperationCtx&) { return false; }

bool CVSADRBase::IsMachineEligible(CDRInfo* info) {
  // Done already (in a rerun, by the earlier run): nothing to run again.
  if (info != nullptr && info->IsSuccess()) return false;
  if (IsCompletedByEarlierRun(info)) {
    m_event.Debug("IsMachineEligible", "Replication [%d] was completed by an earlier run of DR job [%lld]",
                  info->GetReplId(), static_cast<long long>(m_jobId));
    FinishCompletedMachine(info);
    return false;
  }
  if (IsRestartedRun()) {
    RetireUndoneRows(info);
    if (IsMovedByEarlierRun(info)) return true;
  }
  VSARepInfo* vsa = GetVSARepInfo(info);
  if (vsa == nullptr) {
    m_event.Error("IsMachineEligible", "No VM replication record for replication [%d]. Machine ineligible",
                  info != nullptr ? info->GetReplId() : 0);
    if (info != nullptr) info->SetSkipReason("Machine ineligible as it has no VM replication record");
    return false;
  }
  const App::VSAFailoverStatus failover = vsa->GetFailoverStatus();
  const App::VSAReplicationStatus sync = vsa->GetStatus();
  const bool firstTimeSync = m_appManager != nullptr && m_appManager->IsFirstTimeSyncDuringFailoverSet();
  if (AreStatusesPermitted(info, failover, sync, firstTimeSync)) {
    if (!firstTimeSync && !DRInfoUtils::IsDRTypeApplicable(info)) {
      m_event.Debug("IsMachineEligible", "Skipping replication [%d]. [%s] is not supported", info->GetReplId(),
                    DRHelper::GetDrTypeStr(info->GetDRType()).c_str());
      info->SetSkipReason("[" + DRHelper::GetDrTypeStr(info->GetDRType()) + "] is not supported");
      return false;
    }
    std::string refusal;
    if (!IsRefusedAsItStands(info, refusal)) return true;
    info->SetSkipReason(refusal);
    m_orchestrator->LogMessage("IsMachineEligible",
                               DRInfoUtils::GetDRInfoMesg(info, "Skipping DR", refusal, Api::DR_SITE_SOURCE),
                               ZNDR::DR_EVENT_MINOR, true);
    return false;
  }
  if (IsLeftFailedByEarlierRun(info)) info->SetSkippedAfterOwnFailure();
  const std::string failoverText = DRHelper::GetVSAFailoverStatusStr(failover);
  const std::string syncText = DRHelper::GetVSASyncStatusStr(sync);
  const std::string reason =
      "Machine ineligible as failover Status is [" + failoverText + "] and sync status is [" + syncText + "]";
  // The operator's account names a status never set as such, not as "[]".
  info->SetSkipReason(std::string("Machine ineligible as ") +
                      (failoverText.empty() ? "it has no failover status" : "failover Status is [" + failoverText + "]") +
                      (syncText.empty() ? " and no sync status" : " and sync status is [" + syncText + "]"));
  m_orchestrator->LogMessage("IsMachineEligible",
                             DRInfoUtils::GetDRInfoMesg(info, "Skipping DR", reason, Api::DR_SITE_SOURCE),
                             ZNDR::DR_EVENT_MINOR, true);
  return false;
}

bool CVSADRBase::Cleanup(const SDRPriority&) { return true; }

// =============================================================================
// Defaults of the operation classes
// =============================================================================

bool CVSADRBase::IsPermisableFailoverStateForJob(App::VSAFailoverStatus) { return true; }

bool CVSADRBase::IsPermisableSyncStateForJob(App::VSAReplicationStatus) { return true; }

bool CVSADRBase::IsRefusedAsItStands(CDRInfo*, std::string&) { return false; }

bool CVSADRBase::LoadSyncTask(TMMsg::TaskOperationReq& request, std::vector<CDRInfo*>& list) {
  return m_orchestrator->LoadSyncTask(request, list);
}

bool CVSADRBase::PersistSnapMoref(CDRInfo*, Api::DRSite, std::string&) { return true; }

bool CVSADRBase::PostReplicationThread(SDROperationCtx&) { return false; }

bool CVSADRBase::TestBoot(SDROperationCtx&) { return false; }

bool CVSADRBase::Failover(SDROperationCtx&) { return false; }

void CVSADRBase::LoadOperationConfig(SDROperationCtx&) {}

bool CVSADRBase::PerformPostDrOps(SDROperationCtx&) { return true; }

void CVSADRBase::LoadSyncList(SDROperationCtx& ctx) {
  std::vector<CDRInfo*> kept;
  kept.reserve(ctx.drInfoList.size());
  for (CDRInfo* info : ctx.drInfoList) {
    if (info == nullptr) continue;
    IRepInfo* rep = info->GetRepInfo();
    if (rep != nullptr && rep->IsCopyPrecedenceApplicable() &&
        !IsSucceededOrSkipped(info->GetPhaseState(Api::VIRTUAL_APP_PHASE_AUX_COPY, ctx.site))) {
      m_event.Debug("LoadSyncList", "Replication [%d] leaves the sync list as its aux copy did not succeed",
                    info->GetReplId());
      continue;
    }
    kept.push_back(info);
  }
  ctx.drInfoList.swap(kept);
}

bool CVSADRBase::_PreReplication(SDROperationCtx&) { return true; }

bool CVSADRBase::DeleteDestVM(SDROperationCtx&) { return false; }

bool CVSADRBase::HandleSyncFailure(SDROperationCtx&, CDRInfo*) { return false; }


// =============================================================================
// Steps
// =============================================================================

bool CVSADRBase::PerformGenVMOp(SDROperationCtx& ctx, IDRContext* owner) {
  if (ctx.drInfoList.empty()) {
    m_event.Error("PerformGenVMOp", "Infolist is empty");
    return false;
  }
  int succeeded = 0;
  if (owner != nullptr && m_orchestrator->IsThreadsApplicable(ctx, ctx.drInfoList)) {
    if (!m_orchestrator->RunParallelDROperation(ctx, owner)) return false;
    for (CDRInfo* info : ctx.drInfoList) {
      if (info != nullptr && info->IsBatchOpSuccess(ctx)) ++succeeded;
    }
    return succeeded > 0;
  }
  for (CDRInfo* info : ctx.drInfoList) {
    SDROperationCtx one(ctx);
    one.drInfoList.assign(1, info);
    if (PerformVMOperation(one)) {
      ++succeeded;
    } else if (!ctx.ignoreQuit) {
      // A clean-up never starts another clean-up.
      CleanupDROperationThread(one);
    }
  }
  return succeeded > 0;
}

bool CVSADRBase::__OP(SDROperationCtx& ctx, ZNDR::BatchOperation op, bool succeededOnly) {
  ctx.batchOp = op;
  switch (op) {
    case ZNDR::BATCH_OP_POWER_OFF_PRIMARY:
    case ZNDR::BATCH_OP_POWER_ON_PRIMARY:
    case ZNDR::BATCH_OP_POWER_ON_SECONDARY:
    case ZNDR::BATCH_OP_POWER_OFF_SECONDARY:
    case ZNDR::BATCH_OP_SHUTDOWN_PRIMARY:
    case ZNDR::BATCH_OP_SHUTDOWN_SECONDARY:
    case ZNDR::BATCH_OP_BACKUP_PRIMARY:
    case ZNDR::BATCH_OP_BACKUP_SECONDARY:
    case ZNDR::BATCH_OP_STORAGE_OPERATION_PRIMARY:
    case ZNDR::BATCH_OP_STORAGE_OPERATION_SECONDARY:
    case ZNDR::BATCH_OP_GET_VM_INFO_DESTINATION:
    case ZNDR::BATCH_OP_CREATE_VM_DESTINATION:
    case ZNDR::BATCH_OP_CLONE_VM_DESTINATION:
    case ZNDR::BATCH_OP_REFRESH_VM_DESTINATION:
      DRInfoUtils::LoadBasicPhaseDetails(ctx, op);
      break;
    case ZNDR::BATCH_OP_CREATE_SNAPSHOT_PRIMARY:
      ctx.site = Api::DR_SITE_SOURCE;
      ctx.snapType = 1;
      return SnapOp(ctx, Api::VIRTUAL_APP_PHASE_CREATE_SNAPSHOT, SNAPSHOT_NAME, "", succeededOnly);
    case ZNDR::BATCH_OP_CREATE_SNAPSHOT_SECONDARY:
      ctx.site = Api::DR_SITE_DESTINATION;
      ctx.snapType = 1;
      return SnapOp(ctx, Api::VIRTUAL_APP_PHASE_CREATE_SNAPSHOT, SNAPSHOT_NAME, "", succeededOnly);
    case ZNDR::BATCH_OP_DELETE_SNAPSHOT_SECONDARY:
      ctx.site = Api::DR_SITE_DESTINATION;
      ctx.snapType = 1;
      return SnapOp(ctx, Api::VIRTUAL_APP_PHASE_DELETE_SNAPSHOT, SNAPSHOT_NAME, "", succeededOnly);
    case ZNDR::BATCH_OP_RUN_PRE_SCRIPTS_PRIMARY:
    case ZNDR::BATCH_OP_RUN_POST_SCRIPTS_SECONDARY:
      ctx.site = op == ZNDR::BATCH_OP_RUN_PRE_SCRIPTS_PRIMARY ? Api::DR_SITE_SOURCE : Api::DR_SITE_DESTINATION;
      ctx.phase = Api::VIRTUAL_APP_PHASE_SCRIPT_EXECUTION;
      // Scripts run only when every machine has them; otherwise the step
      // passes without a phase row.
      if (!DRInfoUtils::IsScriptExecutionSet(ctx)) return true;
      break;
    default:
      return false;
  }
  LoadOperationConfig(ctx);
  return m_orchestrator->RunOperation(*this, ctx, succeededOnly);
}

bool CVSADRBase::__VmOP(SDROperationCtx& ctx, Api::VirtualAppJobPhaseType phase, bool succeededOnly) {
  ctx.phase = phase;
  LoadOperationConfig(ctx);
  return m_orchestrator->RunOperation(*this, ctx, succeededOnly);
}

bool CVSADRBase::IsCloneOpValid(SDROperationCtx& ctx) {
  std::vector<CDRInfo*> kept;
  kept.reserve(ctx.drInfoList.size());
  for (CDRInfo* info : ctx.drInfoList) {
    VSARepInfo* vsa = GetVSARepInfo(info);
    if (vsa == nullptr) {
      m_event.Error("IsCloneOpValid", "No VM replication record for replication [%d]. VM not cloned",
                    info != nullptr ? info->GetReplId() : 0);
      continue;
    }
    const int clientId = vsa->GetSourceVMClientId();
    int count = 0;
    if (m_appManager == nullptr || !m_appManager->QueryDRVMCloneCount(clientId, count)) {
      // A count nobody could read is no reason to refuse the clone.
      m_event.Error("IsCloneOpValid", "Failed to read the clone count of source VM client [%d]. Counting [0]",
                    clientId);
      count = 0;
    }
    if (count > kMaxCloneCount) {
      m_event.Error("IsCloneOpValid", "VM [%s] [%s] has reached max clone count [%d] ",
                    vsa->GetDestinationName().c_str(), vsa->GetDestinationGuid().c_str(), kMaxCloneCount);
      continue;
    }
    kept.push_back(info);
  }
  ctx.drInfoList.swap(kept);
  return !ctx.drInfoList.empty();
}

bool CVSADRBase::IsCleanUpOpValid(CDRInfo* info, Api::VirtualAppJobPhaseType phase, Api::DRSite site) {
  if (phase != Api::VIRTUAL_APP_PHASE_POWER_ON) return true;
  if (info == nullptr) return false;
  return info->GetPhaseState(Api::VIRTUAL_APP_PHASE_POWER_OFF, site) == Api::VIRTUAL_APP_PHASE_STATE_SUCCESS ||
         info->GetPhaseState(Api::VIRTUAL_APP_PHASE_SHUTDOWN, site) == Api::VIRTUAL_APP_PHASE_STATE_SUCCESS ||
         EarlierRunStoppedVM(info, site);
}

void CVSADRBase::PerformVMOperationOnFailure(std::vector<CDRInfo*>& list, Api::DRSite site,
                                             Api::VirtualAppJobPhaseType phase) {
  if (m_jobManager != nullptr && m_jobManager->IsDRJobCleanupPhase()) return;
  const std::string phaseName = DRHelper::GetPhaseNameStr(phase);
  const char* siteName = site == Api::DR_SITE_SOURCE ? "SOURCE" : "DESTINATION";
  for (CDRInfo* info : list) {
    if (info == nullptr || info->IsSuccess() || info->IsSkipped()) continue;
    if (m_jobManager != nullptr && m_jobManager->IsJobSuspended()) continue;
    if (!IsCleanUpOpValid(info, phase, site)) continue;
    SDROperationCtx ctx;
    ctx.drInfoList.assign(1, info);
    ctx.site = site;
    ctx.phase = phase;
    ctx.updatePhaseInfoTbl = false;
    ctx.markRowAsFailedOnFailure = false;
    ctx.ignoreQuit = true;
    m_event.Debug("PerformVMOperationOnFailure",
                  "BEGIN [CLEAN-UP] operation [%s] on VM on site [%s] for replication [%d]", phaseName.c_str(),
                  siteName, info->GetReplId());
    PerformVMOperation(ctx);
    m_event.Debug("PerformVMOperationOnFailure",
                  "END   [CLEAN-UP] operation [%s] on VM on site [%s] for replication [%d]", phaseName.c_str(),
                  siteName, info->GetReplId());
  }
}

// =============================================================================
// Records and switches
// =============================================================================

CVSAReplDataMgr* CVSADRBase::GetVSADataManager(CDRInfo* info) {
  CDRDataSource* source = info != nullptr ? info->getDataSource() : nullptr;
  if (source == nullptr || source->GetDataManager() == nullptr) {
    m_event.Debug("GetVSADataManager", "VSA Datamanager not found in CDRInfo");
    return nullptr;
  }
  if (source->GetInfoSource() != TMMsg::DR_OP_SOURCE_VSA_REPLICATION) {
    m_event.Debug("GetVSADataManager", "Incorrect DataSource type -[%d]", static_cast<int>(source->GetInfoSource()));
    return nullptr;
  }
  return dynamic_cast<CVSAReplDataMgr*>(source->GetDataManager());
}

VSARepInfo* CVSADRBase::GetVSARepInfo(CDRInfo* info) { return DRInfoUtils::GetVSARepInfo(info); }

App::VSAReplicationStatus CVSADRBase::GetOriginalSyncStatus(CDRInfo* info) {
  CVSAReplDataMgr* manager = GetVSADataManager(info);
  if (manager == nullptr) return static_cast<App::VSAReplicationStatus>(0);
  return manager->GetOriginalSyncStatus(info->GetReplId());
}

App::VSAFailoverStatus CVSADRBase::GetOriginalFailoverStatus(CDRInfo* info) {
  CVSAReplDataMgr* manager = GetVSADataManager(info);
  if (manager == nullptr) return App::VSA_FAILOVER_STATUS_NONE;
  return manager->GetOriginalFailoverStatus(info->GetReplId());
}

void CVSADRBase::SetVMOperationAsync(SDROperationCtx& ctx) { ctx.vmOpAsync = true; }

void CVSADRBase::ResetVMOperationAsync(SDROperationCtx& ctx) { ctx.vmOpAsync = false; }

bool CVSADRBase::IsVMOperationAsyncRequired(SDROperationCtx& ctx) {
  CDRInfo* info = ctx.GetInfo();
  if (DRInfoUtils::IsSiteVendor(info, Api::DR_SITE_SOURCE, Common::VS_VENDOR_1) ||
      !DRInfoUtils::IsSiteVendor(info, Api::DR_SITE_DESTINATION, Common::VS_VENDOR_1)) {
    return false;
  }
  SetVMOperationAsync(ctx);
  return true;
}

SDRPhaseCtx CVSADRBase::StepPhase(SDROperationCtx& ctx, CDRInfo* info, Api::VirtualAppPhaseState state,
                                  const std::string& message, long long jobId) {
  SDRPhaseCtx phase(jobId, ctx.phase, state, ctx.site, true);
  phase.message = message;
  phase.updatePhaseInfoTbl = ctx.updatePhaseInfoTbl;
  phase.raisePendingCause = ctx.raisePendingCauseOnFailure;
  // A clean-up's phase does not become the machine's last phase.
  phase.notLastPhase = ctx.ignoreQuit;
  phase.clientEntity.SetString(ZnEntities::GenericEntity::kClientName,
                               DRInfoUtils::GetDRClientName(info, m_orchestrator->GetDRType()));
  return phase;
}

bool CVSADRBase::StoreProperty(CDRInfo* info, ZNDR::DR_ORCHESTRATION_PROPERTY property, SDataSourceInfo& value) {
  if (info == nullptr) return false;
  value.replId = info->GetReplId();
  return info->UpdateProperty(property, &value);
}

void CVSADRBase::ReloadRecords(std::vector<CDRInfo*>& list) {
  CDRInfo* first = list.empty() ? nullptr : list.front();
  CDRDataSource* source = first != nullptr ? first->getDataSource() : nullptr;
  if (source == nullptr) return;
  SDataSourceInfo info;
  DRInfoUtils::GetReplIds(list, info.replIds);
  if (!source->ReloadData(info)) {
    m_event.Error("ReloadRecords", "Failed to reload replications [%s]", DRInfoUtils::GetReplStr(list).c_str());
  }
}
