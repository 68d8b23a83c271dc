#include "SnapArrayUnplannedFailover.h"

#include "drorch/DRJobManager.h"
#include "engine/GenericDR.h"
#include "engine/SDROperationCtx.h"

CSnapArrayUnplannedFailover::CSnapArrayUnplannedFailover(CGenericDR& orchestrator)
    : CSnapArrayDRBase(orchestrator), m_genericDR(&orchestrator) {
  if (m_jobManager != nullptr) m_event.setJobId(m_jobManager->GetJobId());
}

CSnapArrayUnplannedFailover::~CSnapArrayUnplannedFailover() {
  m_event.DebugLvl(2, "~CSnapArrayUnplannedFailover", "Invoking CSnapArrayUnplannedFailover destructor");
}

bool CSnapArrayUnplannedFailover::ProcessDRSubclientThread(SDROperationCtx& ctx) {
  if (!PreFailover(ctx)) return false;
  SetAllowMultiImageSnapMount();
  // The source site may be down.
  __OP(ctx, ZNDR::BATCH_OP_SHUTDOWN_PRIMARY, true);
  if (!QuerySnapDataMgr(ctx, SNAP_REPLMGR_REQ_REPLICA_GROUP_INFO, false)) return false;
  if (!_RunPreMountOps(ctx)) return false;
  return __OP(ctx, ZNDR::BATCH_OP_DR_VM_MOUNT_FROM_SNAP, false);
}

void CSnapArrayUnplannedFailover::LoadOperationConfig(SDROperationCtx& ctx) {
  static const SStepSwitches kTable[] = {
      {ZNDR::BATCH_OP_SHUTDOWN_PRIMARY, 0, 1, kKeep, kKeep},
      {ZNDR::BATCH_OP_DR_VM_MOUNT_FROM_SNAP, 1, 1, kKeep, 0},
      {ZNDR::BATCH_OP_GET_VM_INFO_DESTINATION, 0, 0, 0, kKeep},
      {ZNDR::BATCH_OP_NONE, 1, 0, kKeep, 0},
  };
  ApplyStepSwitches(ctx, kTable);
}

bool CSnapArrayUnplannedFailover::IsQuerySnapDRAfiles(SDROperationCtx&) { return false; }
