#include "SnapArrayUndoTestFailover.h"

#include "SnapDRRepInfo.h"
#include "drorch/DRJobManager.h"
#include "engine/DRBase.h"
#include "engine/DRInfo.h"
#include "engine/GenericDR.h"
#include "engine/SDROperationCtx.h"
#include "engine/SDRPriority.h"

CSnapArrayUndoTestFailover::CSnapArrayUndoTestFailover(CGenericDR& orchestrator)
    : CSnapArrayDRBase(orchestrator), m_genericDR(&orchestrator) {
  if (m_jobManager != nullptr) m_event.setJobId(m_jobManager->GetJobId());
}

CSnapArrayUndoTestFailover::~CSnapArrayUndoTestFailover() {
  m_event.DebugLvl(2, "~CSnapArrayUndoTestFailover", "Invoking CSnapArrayUndoTestFailover destructor");
}

bool CSnapArrayUndoTestFailover::ProcessPriority(const SDRPriority& priority) {
  SDROperationCtx ctx;
  if (!PrepareTestOperation(priority, ctx)) return false;
  LoadDestinationDetails(ctx);
  __OP(ctx, ZNDR::BATCH_OP_POWER_OFF_SECONDARY, true);
  if (!__OP(ctx, ZNDR::BATCH_OP_DR_VM_TEST_UNMOUNT, false)) return false;
  m_orchestrator->Complete(ctx);
  return true;
}

bool CSnapArrayUndoTestFailover::IsMachineEligible(CDRInfo* info) { return CSnapArrayDRBase::IsMachineEligible(info); }

void CSnapArrayUndoTestFailover::LoadOperationConfig(SDROperationCtx& ctx) {
  static const SStepSwitches kTable[] = {
      {ZNDR::BATCH_OP_DR_VM_TEST_UNMOUNT, 1, 1, kKeep, kKeep},
      {ZNDR::BATCH_OP_NONE, 0, 1, kKeep, kKeep},
  };
  ApplyStepSwitches(ctx, kTable);
}

uint64_t CSnapArrayUndoTestFailover::GetMountOpJobId(SnapDRRepInfo* rep) { return MountedMasterJobId(rep); }

bool CSnapArrayUndoTestFailover::PopulateSnapOpReqOptions(SDROperationCtx& ctx, CDRInfo* info,
                                                          TMMsg::VMProvisioningOption& option, Ida::VMOpReq& request) {
  if (!CSnapArrayDRBase::PopulateSnapOpReqOptions(ctx, info, option, request)) return false;
  option.SetInt32(TMMsg::VMProvisioningOption::kTestFailover, 1);
  return true;
}

void CSnapArrayUndoTestFailover::LoadDestinationDetails(SDROperationCtx& ctx) {
  for (CDRInfo* info : ctx.drInfoList) {
    SnapDRRepInfo* rep = GetSnapRepInfo(info);
    if (rep == nullptr) continue;
    const std::string name = rep->GetProxyVMName();
    const std::string guid = rep->GetProxyVMGuid();
    rep->SetDestinationName(name);
    rep->SetDestinationGUID(guid);
    m_event.Debug("LoadDestinationDetails", "Retrieved mounted VM [%s] [%s] for replication [%d]", name.c_str(),
                  guid.c_str(), info->GetReplId());
  }
}
