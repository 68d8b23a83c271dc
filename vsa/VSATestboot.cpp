#include "VSATestboot.h"

#include <stdint.h>

#include <vector>

#include "VSARepInfo.h"
#include "drorch/DRJobManager.h"
#include "engine/DRBase.h"
#include "engine/DRConstants.h"
#include "engine/DRHelper.h"
#include "engine/DRInfo.h"
#include "engine/DRInfoUtils.h"
#include "engine/GenericDR.h"
#include "engine/SDROperationCtx.h"
#include "engine/SDRPriority.h"
#include "services/DRAppManager.h"

namespace {

// What the note on the row of its "Disable Sync" calls the job.
const char kJob[] = "the test boot";

}  // namespace

CVSATestboot::CVSATestboot(CGenericDR& orchestrator) : CVSADRBase(orchestrator), m_drObject(&orchestrator) {
  m_event.setJobId(m_jobId);
}

CVSATestboot::~CVSATestboot() { m_event.DebugLvl(2, "~CVSATestboot", "Invoking CVSATestboot destructor"); }

bool CVSATestboot::ProcessPriority(const SDRPriority& priority) {
  const int minutes = m_appManager->GetAdvancedOptsDelay();
  int64_t wait = static_cast<int64_t>(minutes) * 60000;
  if (wait < 0) wait = 0;
  if (wait > INT32_MAX) wait = INT32_MAX;
  if (!m_appManager->IsDisableNetworkAdapterAllowed() && wait == 0) wait = 3600000;
  m_waitBeforeShutdown = wait;
  m_event.Debug("ProcessPriority", "Wait before shutdown of [%d] minute(s): [%lld] ms", minutes,
                static_cast<long long>(wait));
  return m_orchestrator->ProcessIDAPriority(*this, priority, ZNDR::BATCH_OP_TESTBOOT_SECONDARY);
}

bool CVSATestboot::TestBoot(SDROperationCtx& ctx) {
  CDRInfo* info = ctx.GetInfo();
  if (info == nullptr) return false;
  // A machine failing over or syncing is not booted under that work.
  if (!IsMachineEligible(info)) {
    info->SetStatus(Api::VIRTUAL_APP_PHASE_STATE_SKIPPED);
    return true;
  }
  ctx.markRowAsFailedOnFailure = false;
  const App::VSAReplicationStatus original = SyncStatusBeforeJob(info);
  SetDRSite(ctx);
  CleanupTestbootSnapshots(ctx, false);
  // What sync was before the job goes on the row before sync goes off: a
  // rerun finds it there, where a fresh read finds this run's "Sync Disabled".
  DisableSync(info, ctx, SyncStatusBeforeText(original));
  if (!SnapOp(ctx, Api::VIRTUAL_APP_PHASE_CREATE_SNAPSHOT, TESTBOOT_SNAPSHOT_NAME, std::string(), false)) return false;
  if (m_appManager->IsDisableNetworkAdapterAllowed() &&
      !__VmOP(ctx, Api::VIRTUAL_APP_PHASE_DISABLE_NETWORK_ADAPTERS, false)) {
    return false;
  }
  if (!__VmOP(ctx, Api::VIRTUAL_APP_PHASE_POWER_ON, false)) return false;
  if (info->IsScriptsConfigured(true)) {
    ctx.phase = Api::VIRTUAL_APP_PHASE_SCRIPT_EXECUTION;
    if (!m_orchestrator->RunStep(ctx, *this)) return false;
  }
  m_jobManager->Wait(static_cast<int>(m_waitBeforeShutdown), "Invoking wait before shutdown");
  if (!__VmOP(ctx, Api::VIRTUAL_APP_PHASE_SHUTDOWN, false) ||
      !SnapOp(ctx, Api::VIRTUAL_APP_PHASE_REVERT_SNAPSHOT, TESTBOOT_SNAPSHOT_NAME, std::string(), false) ||
      !SnapOp(ctx, Api::VIRTUAL_APP_PHASE_DELETE_SNAPSHOT, TESTBOOT_SNAPSHOT_NAME, std::string(), false)) {
    return false;
  }
  RevertSyncStatus(info, original);
  MarkSuccess(info, Api::DR_SITE_SOURCE);
  return true;
}

void CVSATestboot::RevertSyncStatus(CDRInfo* info, App::VSAReplicationStatus status) {
  VSARepInfo* vsa = GetVSARepInfo(info);
  if (status == App::VSA_REPL_STATUS_SYNC_DISABLED && vsa != nullptr &&
      vsa->GetFailoverStatus() != App::VSA_FAILOVER_STATUS_FAILOVER_COMPLETE) {
    status = App::VSA_REPL_STATUS_SYNC_ENABLED;
  }
  CVSADRBase::RevertSyncStatus(info, status);
}

Api::DRSite CVSATestboot::TestbootSite(VSARepInfo* vsa) {
  return vsa != nullptr && vsa->GetFailoverStatus() == App::VSA_FAILOVER_STATUS_FAILOVER_COMPLETE
             ? Api::DR_SITE_SOURCE
             : Api::DR_SITE_DESTINATION;
}

void CVSATestboot::SetDRSite(SDROperationCtx& ctx) { ctx.site = TestbootSite(GetVSARepInfo(ctx.GetInfo())); }

bool CVSATestboot::RestartHistorySucceeded(CDRInfo* info, Api::VirtualAppJobPhaseType phase) {
  return m_jobManager->IsJobRestarted() &&
         DRInfoUtils::GetPhaseStatusForReplication(m_jobManager, phase, info) ==
             Api::VIRTUAL_APP_PHASE_STATE_SUCCESS;
}

bool CVSATestboot::IsCreateTestbootSnapshotSuccessful(SDROperationCtx& ctx) {
  CDRInfo* info = ctx.GetInfo();
  if (info == nullptr) return false;
  if (info->GetPhaseState(Api::VIRTUAL_APP_PHASE_CREATE_SNAPSHOT, ctx.site) ==
      static_cast<uint32_t>(Api::VIRTUAL_APP_PHASE_STATE_SUCCESS)) {
    return true;
  }
  return RestartHistorySucceeded(info, Api::VIRTUAL_APP_PHASE_CREATE_SNAPSHOT);
}

bool CVSATestboot::IsCleanupTestbootSnapshotRequired(CDRInfo* info) {
  if (info == nullptr) return false;
  if (info->GetPhaseState(Api::VIRTUAL_APP_PHASE_DELETE_SNAPSHOT, TestbootSite(GetVSARepInfo(info))) ==
      static_cast<uint32_t>(Api::VIRTUAL_APP_PHASE_STATE_SUCCESS)) {
    return false;
  }
  return !RestartHistorySucceeded(info, Api::VIRTUAL_APP_PHASE_DELETE_SNAPSHOT);
}

bool CVSATestboot::IsTestbootSnapshotOfThisJob(SDROperationCtx& one, CDRInfo* info) {
  if (info == nullptr) return false;
  // Taken in this run.
  if (info->GetPhaseState(Api::VIRTUAL_APP_PHASE_CREATE_SNAPSHOT, one.site) ==
      static_cast<uint32_t>(Api::VIRTUAL_APP_PHASE_STATE_SUCCESS)) {
    return true;
  }
  // Taken by an earlier run of this job: its create row says so, or it died
  // during the create, which may have gone through. That run may also have
  // reverted and deleted it already, so only a snapshot still on the VM
  // and taken by this job (its description names the job) counts; another
  // job's "__OB_TESTBOOT__" is never reverted to.
  const uint32_t earlier = EarlierPhaseState(info, Api::VIRTUAL_APP_PHASE_CREATE_SNAPSHOT);
  if (!IsCreateTestbootSnapshotSuccessful(one) && earlier != Api::VIRTUAL_APP_PHASE_STATE_IN_PROGRESS) return false;
  std::vector<EVGui::VMSnapshot> snapshots;
  if (!ListSnapshots(info, one.site, snapshots)) return false;
  const std::string description = GetSnapshotDescription();
  for (const EVGui::VMSnapshot& snapshot : snapshots) {
    if (snapshot.GetString(EVGui::VMSnapshot::kName) == TESTBOOT_SNAPSHOT_NAME &&
        snapshot.GetString(EVGui::VMSnapshot::kDescription) == description) {
      return true;
    }
  }
  return false;
}

bool CVSATestboot::CleanupTestbootSnapshots(SDROperationCtx& ctx, bool succeededOnly) {
  for (CDRInfo* info : std::vector<CDRInfo*>(ctx.drInfoList)) {
    SDROperationCtx one;
    one.drInfoList = {info};
    one.site = ctx.site;
    one.ignoreQuit = true;
    if (!IsTestbootSnapshotOfThisJob(one, info)) continue;
    SnapOp(one, Api::VIRTUAL_APP_PHASE_REVERT_SNAPSHOT, TESTBOOT_SNAPSHOT_NAME, std::string(), succeededOnly);
    SnapOp(one, Api::VIRTUAL_APP_PHASE_DELETE_SNAPSHOT, TESTBOOT_SNAPSHOT_NAME, std::string(), succeededOnly);
  }
  return false;
}

App::VSAReplicationStatus CVSATestboot::SyncStatusBeforeJob(CDRInfo* info) {
  return CVSADRBase::SyncStatusBeforeJob(info, kJob);
}

std::string CVSATestboot::SyncStatusBeforeText(App::VSAReplicationStatus status) {
  return CVSADRBase::SyncStatusBeforeText(status, kJob);
}

bool CVSATestboot::CleanupDROperationThread(SDROperationCtx& ctx) {
  std::vector<CDRInfo*> list(ctx.drInfoList);
  ResetSyncStatusOnFailure(list);
  CleanupTestbootSnapshots(ctx, false);
  return true;
}

bool CVSATestboot::Cleanup(const SDRPriority& priority) {
  std::vector<CDRInfo*> list;
  m_orchestrator->GetDRInfoListForPriority(priority, list, 0);
  for (CDRInfo* info : list) {
    if (!IsCleanupTestbootSnapshotRequired(info)) continue;
    // Each machine on its own, at the site it was booted on.
    SDROperationCtx one;
    one.drInfoList = {info};
    SetDRSite(one);
    CleanupTestbootSnapshots(one, false);
  }
  return true;
}

bool CVSATestboot::IsPermisableFailoverStateForJob(App::VSAFailoverStatus status) {
  if (IsRestartedRun()) return true;
  return status == App::VSA_FAILOVER_STATUS_NONE || status == App::VSA_FAILOVER_STATUS_FAILOVER_COMPLETE ||
         status == App::VSA_FAILOVER_STATUS_FAILOVER_FAILED || status == App::VSA_FAILOVER_STATUS_FAILBACK_COMPLETE ||
         status == App::VSA_FAILOVER_STATUS_REVERT_FAILOVER_COMPLETE;
}

bool CVSATestboot::IsPermisableSyncStateForJob(App::VSAReplicationStatus status) {
  return status == App::VSA_REPL_STATUS_IN_SYNC || status == App::VSA_REPL_STATUS_NEED_SYNC ||
         status == App::VSA_REPL_STATUS_SYNC_DISABLED;
}
