#include "VSAUnplannedFailover.h"

#include <vector>

#include "VSARepInfo.h"
#include "VSAReplDataMgr.h"
#include "drorch/DRJobManager.h"
#include "engine/DRBase.h"
#include "engine/DRInfo.h"
#include "engine/DRInfoUtils.h"
#include "engine/GenericDR.h"
#include "engine/SDROSubclient.h"
#include "engine/SDROperationCtx.h"
#include "engine/SDRPriority.h"
#include "services/DRAppManager.h"

CVSAUnplannedFailover::CVSAUnplannedFailover(CGenericDR& orchestrator) : CVSADRBase(orchestrator), m_drObject(&orchestrator) {
  m_event.setJobId(m_jobId);
}

CVSAUnplannedFailover::~CVSAUnplannedFailover() { m_event.DebugLvl(2, "~CVSAUnplannedFailover", "Invoking CVSAUnplannedFailover destructor"); }

bool CVSAUnplannedFailover::ProcessPriority(const SDRPriority& priority) {
  if (m_orchestrator == nullptr) return false;
  m_event.Debug("ProcessPriority", "Priority [%d] is a [VSA Replication] type priority", priority.order);
  std::vector<SDROSubclient> groups;
  return m_orchestrator->ProcessSubclientsInPriority(priority, groups, this);
}

bool CVSAUnplannedFailover::IsPermisableFailoverStateForJob(App::VSAFailoverStatus status) {
  if (m_jobManager != nullptr && m_jobManager->IsJobRestarted() &&
      status == App::VSA_FAILOVER_STATUS_FAILOVER_IN_PROGRESS) {
    return true;
  }
  return DRInfoUtils::IsFailoverStatusValid(status, m_orchestrator->GetDRType());
}

bool CVSAUnplannedFailover::IsPermisableSyncStateForJob(App::VSAReplicationStatus status) {
  return status == App::VSA_REPL_STATUS_IN_SYNC || status == App::VSA_REPL_STATUS_NEED_SYNC;
}

bool CVSAUnplannedFailover::PersistSnapMoref(CDRInfo* info, Api::DRSite site, std::string& moref) {
  if (site != Api::DR_SITE_DESTINATION || info == nullptr) return true;
  m_event.Debug("PersistSnapMoref", "Persisting snap moref [%s] for DR VM on repl [%d]", moref.c_str(),
                info->GetReplId());
  CVSAReplDataMgr* manager = GetVSADataManager(info);
  if (manager != nullptr) manager->UpdateReplPropTbl(info->GetReplId(), VSARepInfo::kPropDestSnapMoref, moref, true);
  return true;
}

void CVSAUnplannedFailover::LoadOperationConfig(SDROperationCtx& ctx) {
  switch (DRInfoUtils::GetBatchOp(ctx)) {
    case ZNDR::BATCH_OP_POWER_OFF_PRIMARY:
    case ZNDR::BATCH_OP_POST_FAILOVER:
      ctx.updatePhaseInfoTbl = true;
      ctx.markRowAsFailedOnFailure = false;
      break;
    case ZNDR::BATCH_OP_POWER_ON_SECONDARY:
    case ZNDR::BATCH_OP_CREATE_VM_DESTINATION:
    case ZNDR::BATCH_OP_DISABLE_SYNC:
      ctx.updatePhaseInfoTbl = true;
      ctx.markRowAsFailedOnFailure = true;
      break;
    default:
      ctx.updatePhaseInfoTbl = false;
      ctx.markRowAsFailedOnFailure = true;
      break;
  }
}

bool CVSAUnplannedFailover::ProcessDRSubclientThread(SDROperationCtx& ctx) {
  m_orchestrator->InitDRSubclient(ctx);
  // The source site may be down: a source VM that cannot be powered off
  // keeps its row FAILED, but the machine goes on from the destination.
  ctx.failureNotLastPhase = true;
  __OP(ctx, ZNDR::BATCH_OP_POWER_OFF_PRIMARY, false);
  ctx.failureNotLastPhase = false;
  if (m_appManager->IsFirstTimeSyncDuringFailoverSet()) {
    if (!ChangeSyncStatusDuringFailover(ctx)) return false;
    if (!ReplicateVMs(ctx, Api::DR_SITE_SOURCE, true)) return false;
  } else if (!DRVMAction(ctx, Api::VIRTUAL_APP_PHASE_CREATE_DR_VIRTUAL_MACHINE, false)) {
    return false;
  }
  if (!CreateFailoverSnapshots(ctx, true)) return false;
  if (!__OP(ctx, ZNDR::BATCH_OP_POWER_ON_SECONDARY, true)) return false;
  // A machine whose DR VM did not come up goes no further: disabling its
  // sync would write a successful last phase over the failed power-on.
  m_orchestrator->FilterSuccessList(ctx);
  return PostReplication(ctx);
}

bool CVSAUnplannedFailover::PostReplicationThread(SDROperationCtx& ctx) {
  CDRInfo* info = ctx.GetInfo();
  VSARepInfo* vsa = GetVSARepInfo(info);
  if (vsa == nullptr) return false;
  const App::VSAReplicationStatus noted = vsa->GetStatus();
  if (!DisableSync(info, ctx)) return false;
  if (!_PostDROperation(ctx)) {
    RevertSyncStatus(info, noted);
    return false;
  }
  MarkSuccess(info, Api::DR_SITE_DESTINATION);
  return true;
}

bool CVSAUnplannedFailover::PerformPostDrOps(SDROperationCtx& ctx) {
  CDRInfo* info = ctx.GetInfo();
  if (info == nullptr) {
    m_event.Error("PerformPostDrOps", "No machine for the post-DR operations");
    return false;
  }
  PostVMFailover(ctx, false);
  __OP(ctx, ZNDR::BATCH_OP_RUN_POST_SCRIPTS_SECONDARY, false);
  if (DRInfoUtils::IsVSAFailbackSupported(info) && !__OP(ctx, ZNDR::BATCH_OP_DELETE_SNAPSHOT_SECONDARY, false)) {
    return false;
  }
  ResetSyncLastRestoreTime(info);
  RecordDRVMIPAddress(ctx, false);
  return true;
}

bool CVSAUnplannedFailover::CleanupDROperationThread(SDROperationCtx& ctx) {
  // A tolerated step of the post-DR operations (the post-failover action,
  // the IP address) must not revert a DR VM that goes on to succeed; a
  // failure of the post-DR operations as a whole comes back here after
  // their row is written.
  if (IsPostDROperationRunning(ctx.GetInfo())) return true;
  ctx.ignoreQuit = true;
  for (CDRInfo* info : ctx.drInfoList) {
    if (info != nullptr) RevertSyncStatus(info, GetOriginalSyncStatus(info));
  }
  CleanupFailoverSnapshots(ctx, false);
  ctx.ignoreQuit = false;
  return true;
}

bool CVSAUnplannedFailover::Cleanup(const SDRPriority& priority) {
  std::vector<CDRInfo*> machines;
  m_orchestrator->GetDRInfoListForPriority(priority, machines, 0);
  CleanupStatus(machines, App::VSA_FAILOVER_STATUS_FAILOVER_FAILED, App::VSA_FAILOVER_STATUS_FAILOVER_IN_PROGRESS,
                true);
  CleanupStaleFailoverSnapshots(machines);
  return true;
}
