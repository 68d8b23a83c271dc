#include "SnapArrayTestFailover.h"

#include "drorch/DRJobManager.h"
#include "engine/GenericDR.h"
#include "engine/SDROperationCtx.h"
#include "engine/SDRPriority.h"

CSnapArrayTestFailover::CSnapArrayTestFailover(CGenericDR& orchestrator)
    : CSnapArrayDRBase(orchestrator), m_genericDR(&orchestrator) {
  if (m_jobManager != nullptr) m_event.setJobId(m_jobManager->GetJobId());
}

CSnapArrayTestFailover::~CSnapArrayTestFailover() {
  m_event.DebugLvl(2, "~CSnapArrayTestFailover", "Invoking CSnapArrayTestFailover destructor");
}

bool CSnapArrayTestFailover::ProcessPriority(const SDRPriority& priority) {
  SDROperationCtx ctx;
  if (!PrepareTestOperation(priority, ctx)) return false;
  return __OP(ctx, ZNDR::BATCH_OP_DR_VM_TEST_MOUNT, false);
}

bool CSnapArrayTestFailover::IsMachineEligible(CDRInfo* info) { return CSnapArrayDRBase::IsMachineEligible(info); }

void CSnapArrayTestFailover::LoadOperationConfig(SDROperationCtx& ctx) {
  static const SStepSwitches kTable[] = {
      {ZNDR::BATCH_OP_DR_VM_TEST_MOUNT, 1, 1, kKeep, kKeep},
      {ZNDR::BATCH_OP_GET_VM_INFO_DESTINATION, 0, 0, 0, kKeep},
      {ZNDR::BATCH_OP_NONE, 0, 1, kKeep, kKeep},
  };
  ApplyStepSwitches(ctx, kTable);
}

bool CSnapArrayTestFailover::PopulateSnapOpReqOptions(SDROperationCtx& ctx, CDRInfo* info,
                                                      TMMsg::VMProvisioningOption& option, Ida::VMOpReq& request) {
  if (!CSnapArrayDRBase::PopulateSnapOpReqOptions(ctx, info, option, request)) return false;
  option.SetInt32(TMMsg::VMProvisioningOption::kTestFailover, 1);
  return true;
}
