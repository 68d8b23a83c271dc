#include "VSAPointInTimeFailover.h"

#include "VSAReplDataMgr.h"
#include "VSARepInfo.h"
#include "drorch/DRJobManager.h"
#include "engine/DRBase.h"
#include "engine/DRInfo.h"
#include "engine/DRInfoUtils.h"
#include "engine/GenericDR.h"
#include "engine/SDROperationCtx.h"
#include "engine/SDRPhaseCtx.h"
#include "engine/SDRPriority.h"
#include "engine/SDataSourceInfo.h"
#include "services/DRAppManager.h"

namespace {

// What the note on the row of its "Disable Sync" calls the job.
const char kJob[] = "the failover";

}  // namespace

CVSAPointInTimeFailover::CVSAPointInTimeFailover(CGenericDR& orchestrator)
    : CVSADRBase(orchestrator), m_drObject(&orchestrator) {
  m_event.setJobId(m_jobId);
}

CVSAPointInTimeFailover::~CVSAPointInTimeFailover() {
  m_event.DebugLvl(2, "~CVSAPointInTimeFailover", "Invoking CVSAPointInTimeFailover destructor");
}

bool CVSAPointInTimeFailover::IsMachineEligible(CDRInfo* info) {
  if (m_jobManager->IsJobRestarted() && IsLeftFailingOver(info)) return true;
  return CVSADRBase::IsMachineEligible(info);
}

bool CVSAPointInTimeFailover::IsAdmittedOnRestart(CDRInfo* info) {
  if (IsLeftFailingOver(info)) return true;
  return CVSADRBase::IsAdmittedOnRestart(info);
}

bool CVSAPointInTimeFailover::IsLeftFailingOver(CDRInfo* info) {
  VSARepInfo* vsa = GetVSARepInfo(info);
  // Another job's "Failover in Progress" is not this job's to finish.
  return vsa != nullptr && vsa->GetFailoverStatus() == App::VSA_FAILOVER_STATUS_FAILOVER_IN_PROGRESS &&
         IsTakenUpByThisJob(info);
}

bool CVSAPointInTimeFailover::IsRefusedAsItStands(CDRInfo* info, std::string& reason) {
  // Without a point-in-time snapshot no time can take the machine: refused
  // before anything of it changes, for a type that takes it as it stands.
  std::vector<EVGui::VMSnapshot> snapshots;
  if (!ListSnapshots(info, Api::DR_SITE_DESTINATION, snapshots)) return false;
  for (const EVGui::VMSnapshot& snapshot : snapshots) {
    if (IsPointInTimeSnapshotName(snapshot.GetString(EVGui::VMSnapshot::kName))) return false;
  }
  reason = "Machine ineligible as its DR VM [" + DRInfoUtils::GetSitePropStr(info, DR_SITE_PROPERTY_NAME,
                                                                               Api::DR_SITE_DESTINATION) +
           "] has no point-in-time snapshot";
  return true;
}

bool CVSAPointInTimeFailover::IsPermisableFailoverStateForJob(App::VSAFailoverStatus status) {
  if (IsRestartedRun() && status == App::VSA_FAILOVER_STATUS_FAILOVER_IN_PROGRESS) return true;
  return DRInfoUtils::IsFailoverStatusValid(status, AdmissionType());
}

bool CVSAPointInTimeFailover::IsPermisableSyncStateForJob(App::VSAReplicationStatus status) {
  return status == App::VSA_REPL_STATUS_IN_SYNC || status == App::VSA_REPL_STATUS_NEED_SYNC ||
         status == App::VSA_REPL_STATUS_SYNC_IN_PROGRESS;
}

bool CVSAPointInTimeFailover::PersistSnapMoref(CDRInfo* info, Api::DRSite site, std::string& moref) {
  if (site != Api::DR_SITE_DESTINATION || info == nullptr) return true;
  m_event.Debug("PersistSnapMoref", "Persisting snap moref [%s] for DR VM on repl [%d]", moref.c_str(),
                info->GetReplId());
  CVSAReplDataMgr* manager = GetVSADataManager(info);
  if (manager == nullptr) return true;
  return manager->UpdateReplPropTbl(info->GetReplId(), VSARepInfo::kPropDestSnapMoref, moref, true);
}

bool CVSAPointInTimeFailover::CleanupDROperationThread(SDROperationCtx& ctx) {
  const bool ignoreQuit = ctx.ignoreQuit;
  ctx.ignoreQuit = true;
  for (CDRInfo* info : std::vector<CDRInfo*>(ctx.drInfoList)) {
    // A step the post-DR operations only log (the IP address) must not
    // revert a DR VM that goes on to be counted a success; their failure as
    // a whole comes back here once their row is written.
    if (IsPostDROperationRunning(info)) continue;
    SDROperationCtx one(ctx);
    one.drInfoList = {info};
    CleanupFailoverSnapshots(one, false);
  }
  ctx.ignoreQuit = ignoreQuit;
  return true;
}

bool CVSAPointInTimeFailover::Cleanup(const SDRPriority& priority) {
  std::vector<CDRInfo*> list;
  m_orchestrator->GetDRInfoListForPriority(priority, list, 0);
  PerformVMOperationOnFailure(list, Api::DR_SITE_SOURCE, Api::VIRTUAL_APP_PHASE_POWER_ON);
  // Back to the status before the job, not the one a rerun loaded: that is
  // the earlier run's "Sync Disabled", which no failover takes, so the
  // machine would be left where no DR type takes it.
  for (CDRInfo* info : list) {
    if (info == nullptr || info->IsSuccess() || info->IsSkipped()) continue;
    RevertSyncStatus(info, SyncStatusBeforeJob(info, kJob));
  }
  CleanupStatus(list, App::VSA_FAILOVER_STATUS_FAILOVER_FAILED, App::VSA_FAILOVER_STATUS_FAILOVER_IN_PROGRESS, true);
  CleanupStaleFailoverSnapshots(list);
  return true;
}

bool CVSAPointInTimeFailover::Failover(SDROperationCtx& ctx) {
  CDRInfo* info = ctx.GetInfo();
  // It takes no source snapshot: a reference one stands under is an
  // earlier job's.
  if (info == nullptr || !DropEarlierSourceSnapshotReference(info)) return false;
  UpdateFailoverStatus(info, App::VSA_FAILOVER_STATUS_FAILOVER_IN_PROGRESS);
  // What sync was before the job goes on the row before sync goes off: a
  // rerun's clean-up puts it back from there.
  DisableSync(info, ctx, SyncStatusBeforeText(SyncStatusBeforeJob(info, kJob), kJob));
  if (IsRestartedRun() && IsMovedByEarlierRun(info)) {
    // Its DR VM runs from the point in time already: reverting it again
    // would lose what it wrote since.
    m_event.Debug("Failover", "Replication [%d] runs from its point in time since an earlier run of DR job [%lld]",
                  info->GetReplId(), static_cast<long long>(m_jobId));
    if (EarlierPhaseState(info, Api::VIRTUAL_APP_PHASE_POST_DR_OPERATION) !=
            static_cast<uint32_t>(Api::VIRTUAL_APP_PHASE_STATE_SUCCESS) &&
        !_PostDROperation(ctx)) {
      return false;
    }
    MarkSuccess(info, Api::DR_SITE_DESTINATION);
    return true;
  }
  if (!PreFailover(ctx) || !__OP(ctx, ZNDR::BATCH_OP_SHUTDOWN_PRIMARY, true) || !CreateFailoverSnapshots(ctx, true) ||
      !RevertToPointInTimeSnapshot(ctx) || !__OP(ctx, ZNDR::BATCH_OP_POWER_ON_SECONDARY, false) ||
      !_PostDROperation(ctx)) {
    return false;
  }
  MarkSuccess(info, Api::DR_SITE_DESTINATION);
  return true;
}

bool CVSAPointInTimeFailover::IsCompletedStatus(App::VSAFailoverStatus status) {
  return status == App::VSA_FAILOVER_STATUS_FAILOVER_COMPLETE;
}

bool CVSAPointInTimeFailover::IsMovedByEarlierRun(CDRInfo* info) {
  // Its power-on writes no row: the revert to the point in time does, and
  // the DR VM running after it is the earlier run's power-on.
  if (EarlierPhaseState(info, Api::VIRTUAL_APP_PHASE_REVERT_SNAPSHOT) !=
      static_cast<uint32_t>(Api::VIRTUAL_APP_PHASE_STATE_SUCCESS)) {
    return false;
  }
  bool running = false;
  return IsVMRunning(info, Api::DR_SITE_DESTINATION, running) && running;
}

bool CVSAPointInTimeFailover::PreFailover(SDROperationCtx& ctx) {
  m_event.Debug("PreFailover", "Beginning pre-failover ops ");
  if (!CVSADRBase::PreFailover(ctx, ctx.drInfoList)) return false;
  m_event.Debug("PreFailover", "Completed pre-failover ops");
  return true;
}

bool CVSAPointInTimeFailover::RevertToPointInTimeSnapshot(SDROperationCtx& ctx) {
  unsigned long pointInTime = 0;
  if (GetVSARepInfo(ctx.GetInfo()) == nullptr) return false;
  if (!GetPointInTime(ctx, pointInTime)) {
    // The job was given no time for it: a restart or a new job made alike
    // would fail it the same way.
    ctx.GetInfo()->SetNeededOption(EMachineOption::kPointInTime);
    return false;
  }
  if (RevertPointInTimeDestinationVMSnapshot(ctx, pointInTime, true)) return true;
  CDRInfo* info = ctx.GetInfo();
  if (info->GetNeededOption() == EMachineOption::kPointInTimeSnapshot) {
    // No revert was tried, so no row tells why the machine failed: its own
    // account names the time, not only the status the clean-up leaves.
    SDRPhaseCtx row(m_jobId, Api::VIRTUAL_APP_PHASE_REVERT_SNAPSHOT, Api::VIRTUAL_APP_PHASE_STATE_FAILED,
                    Api::DR_SITE_DESTINATION, true);
    row.message = "No snapshot of DR VM [" +
                  DRInfoUtils::GetSitePropStr(info, DR_SITE_PROPERTY_NAME, Api::DR_SITE_DESTINATION) +
                  "] matches the point in time [" + std::to_string(pointInTime) + "]";
    row.clientEntity.SetString(ZnEntities::GenericEntity::kClientName,
                               DRInfoUtils::GetDRClientName(info, m_orchestrator->GetDRType()));
    info->UpdatePhase(row);
  }
  return false;
}

bool CVSAPointInTimeFailover::GetPointInTime(SDROperationCtx& ctx, unsigned long& pointInTime) {
  CDRInfo* first = ctx.GetInfo();
  const int replicationId = first != nullptr ? first->GetReplId() : 0;
  std::vector<TMMsg::DRConfigOption> options;
  // No match leaves 0, which names no snapshot: never a revert to "*_0".
  unsigned long found = 0;
  if (m_appManager->GetReplConfigOptionList(options)) {
    for (const TMMsg::DRConfigOption& option : options) {
      if (option.GetInt32(TMMsg::DRConfigOption::kReplicationId) == replicationId) {
        found = static_cast<unsigned long>(option.GetUInt64(TMMsg::DRConfigOption::kPointInTime));
      }
    }
  }
  if (found == 0) {
    m_event.Error("GetPointInTime", "No point in time specified for replication Id [%d]", replicationId);
    return false;
  }
  pointInTime = found;
  m_event.Debug("GetPointInTime", "Point in time for replication Id [%lu]", pointInTime);
  return true;
}

bool CVSAPointInTimeFailover::PerformPostDrOps(SDROperationCtx& ctx) {
  CDRInfo* info = ctx.GetInfo();
  if (info == nullptr) return false;
  __OP(ctx, ZNDR::BATCH_OP_RUN_POST_SCRIPTS_SECONDARY, false);
  const bool failback = DRInfoUtils::IsVSAFailbackSupported(info);
  if (failback && !__OP(ctx, ZNDR::BATCH_OP_DELETE_SNAPSHOT_SECONDARY, false)) return false;
  unsigned long pointInTime = 0;
  if (GetPointInTime(ctx, pointInTime)) {
    SDataSourceInfo value;
    value.replId = info->GetReplId();
    value.vmSyncedTillTime = pointInTime;
    info->UpdateProperty(ZNDR::DR_PROPERTY_VM_SYNCED_TILL_TIME, &value);
    value.lastRestoreTime = pointInTime;
    info->UpdateProperty(ZNDR::DR_PROPERTY_LAST_RESTORE_TIME, &value);
  }
  // The DR VM's backup snapshot is gone when the VM supports failback.
  return RecordDRVMIPAddressLast(ctx, failback);
}

void CVSAPointInTimeFailover::LoadOperationConfig(SDROperationCtx& ctx) {
  switch (DRInfoUtils::GetBatchOp(ctx)) {
    case ZNDR::BATCH_OP_POWER_ON_PRIMARY:
    case ZNDR::BATCH_OP_SHUTDOWN_SECONDARY:
    case ZNDR::BATCH_OP_REVERT_SNAPSHOT_SECONDARY:
      ctx.markRowAsFailedOnFailure = true;
      ctx.updatePhaseInfoTbl = true;
      break;
    default:
      ctx.markRowAsFailedOnFailure = true;
      ctx.updatePhaseInfoTbl = false;
      break;
  }
}
