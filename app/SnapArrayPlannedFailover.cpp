#include "SnapArrayPlannedFailover.h"

#include <algorithm>
#include <map>
#include <set>
#include <vector>

#include "SnapArrayDRReplDataMgr.h"
#include "drorch/DRJobManager.h"
#include "engine/DRBase.h"
#include "engine/DRInfo.h"
#include "engine/DRInfoUtils.h"
#include "engine/GenericDR.h"
#include "engine/SDROSubclient.h"
#include "engine/SDROperationCtx.h"
#include "engine/SDRPriority.h"
#include "vsa/VSADRBase.h"

CSnapArrayPlannedFailover::CSnapArrayPlannedFailover(CGenericDR& orchestrator)
    : CSnapArrayDRBase(orchestrator), m_genericDR(&orchestrator) {
  if (m_jobManager != nullptr) m_event.setJobId(m_jobManager->GetJobId());
}

CSnapArrayPlannedFailover::~CSnapArrayPlannedFailover() {
  m_event.DebugLvl(2, "~CSnapArrayPlannedFailover", "Invoking CSnapArrayPlannedFailover destructor");
}

bool CSnapArrayPlannedFailover::ProcessDRSubclientThread(SDROperationCtx& ctx) {
  const int appId = ctx.subclient != nullptr ? ctx.subclient->GetAppId() : DRInfoUtils::GetAppId(ctx.GetInfo());
  SetPowerBackOnFailure(appId, true);
  PreFailover(ctx);
  if (!__OP(ctx, ZNDR::BATCH_OP_SHUTDOWN_PRIMARY, true)) return false;
  bool countFailed = false;
  if (CanSyncVolumes(ctx, countFailed) || (!countFailed && AreBrokenRelationshipsThisJobs(ctx))) {
    if (!__OP(ctx, ZNDR::BATCH_OP_BACKUP_PRIMARY, true)) return false;
    if (!__OP(ctx, ZNDR::BATCH_OP_STORAGE_OPERATION_PRIMARY, true)) return false;
  } else if (countFailed) {
    // Not knowing whether a relationship is broken is not a broken one:
    // mounting without the last backup and copy would lose the writes since.
    return false;
  }
  SetPowerBackOnFailure(appId, false);
  if (!_RunPreMountOps(ctx)) return false;
  return __OP(ctx, ZNDR::BATCH_OP_DR_VM_MOUNT_FROM_SNAP, true);
}

bool CSnapArrayPlannedFailover::AreBrokenRelationshipsThisJobs(SDROperationCtx& ctx) {
  CSnapArrayDRReplDataMgr* manager = GetSnapDataManager(ctx);
  std::map<int, SSMReplicaGroup*> groups;
  if (manager == nullptr || !ReplicaGroupsOf(ctx, "AreBrokenRelationshipsThisJobs", groups)) return false;
  // The replications whose backup this job began, in this run or an
  // earlier one: their group found its relationships whole, so a broken
  // one among them was broken since, by this job.
  std::vector<Api::VirtualAppJob> rows;
  if (!m_jobManager->GetPhasesForJob(DRJobId(), rows)) return false;
  std::set<int> backedUp;
  for (const Api::VirtualAppJob& row : rows) {
    for (size_t i = 0; i < row.ListSize(Api::VirtualAppJob::kPhases); ++i) {
      const CNMessageBase& phase = row.GetListMsg(Api::VirtualAppJob::kPhases, i);
      if (phase.GetInt32(Api::VirtualAppJobPhase::kPhaseType) == Api::VIRTUAL_APP_PHASE_BACKUP) {
        backedUp.insert(row.GetInt32(Api::VirtualAppJob::kReplicationId));
      }
    }
  }
  bool any = false;
  for (auto& entry : groups) {
    bool broken = false;
    if (!manager->IsRelationshipBroken(*entry.second, broken)) return false;
    if (!broken) continue;
    const std::set<int>& members = entry.second->ReplicationIds();
    const bool here = std::any_of(members.begin(), members.end(), [&](int id) { return backedUp.count(id) != 0; });
    if (!here) return false;
    any = true;
  }
  if (any) {
    m_event.Debug("AreBrokenRelationshipsThisJobs",
                  "Relationships of replList [%s] were broken by this job: running the backup and copy all the same",
                  DRInfoUtils::GetReplStr(ctx.drInfoList).c_str());
  }
  return any;
}

bool CSnapArrayPlannedFailover::Cleanup(const SDRPriority& priority) {
  std::vector<CDRInfo*> machines;
  m_orchestrator->GetDRInfoListForPriority(priority, machines, 0);
  std::vector<CDRInfo*> back;
  for (CDRInfo* info : machines) {
    if (info != nullptr && !info->IsSuccess() && IsPowerBackOnFailure(DRInfoUtils::GetAppId(info))) {
      back.push_back(info);
    }
  }
  if (!back.empty() && m_vsaDRBase != nullptr) {
    m_event.Debug("Cleanup", "Proceeding to power back source vms for failed pairs ...");
    m_vsaDRBase->PerformVMOperationOnFailure(back, Api::DR_SITE_SOURCE, Api::VIRTUAL_APP_PHASE_POWER_ON);
  }
  return CSnapArrayDRBase::Cleanup(priority);
}

void CSnapArrayPlannedFailover::LoadOperationConfig(SDROperationCtx& ctx) {
  static const SStepSwitches kTable[] = {
      {ZNDR::BATCH_OP_SHUTDOWN_PRIMARY, 1, 1, kKeep, 1},          {ZNDR::BATCH_OP_BACKUP_PRIMARY, 1, 1, kKeep, 1},
      {ZNDR::BATCH_OP_STORAGE_OPERATION_PRIMARY, 1, 1, kKeep, 1}, {ZNDR::BATCH_OP_DR_VM_MOUNT_FROM_SNAP, 1, 1, kKeep, 0},
      {ZNDR::BATCH_OP_GET_VM_INFO_DESTINATION, 0, 0, 0, kKeep},   {ZNDR::BATCH_OP_NONE, 1, 0, kKeep, 0},
  };
  ApplyStepSwitches(ctx, kTable);
}

void CSnapArrayPlannedFailover::SetPowerBackOnFailure(int appId, bool on) {
  CMutexLock lock(m_powerBackLock);
  m_powerBackOnFailure[appId] = on;
}

bool CSnapArrayPlannedFailover::IsPowerBackOnFailure(int appId) {
  CMutexLock lock(m_powerBackLock);
  auto found = m_powerBackOnFailure.find(appId);
  return found == m_powerBackOnFailure.end() || found->second;
}
