#include "SnapArrayPlannedFailover.h"

#include <vector>

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
  if (CanSyncVolumes(ctx, countFailed) || IsBackupBegunByEarlierRun(ctx)) {
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

bool CSnapArrayPlannedFailover::IsBackupBegunByEarlierRun(SDROperationCtx& ctx) {
  if (!m_jobManager->IsJobRestarted()) return false;
  const uint32_t state = static_cast<uint32_t>(DRInfoUtils::GetPhaseStatusForReplication(
      m_jobManager->GetJobRestartHistory(), Api::VIRTUAL_APP_PHASE_BACKUP, ctx.GetInfo()));
  return state != 0xFFFFFFFFu;
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
