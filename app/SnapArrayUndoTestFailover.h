// The undo test failover of storage-array replications, one object per
// priority: the test DR VMs a test failover mounted power off and unmount.
#pragma once

#include "SnapArrayDRBase.h"
#include "log/EvEvent.h"

class CGenericDR;

class CSnapArrayUndoTestFailover : public CSnapArrayDRBase {
 public:
  explicit CSnapArrayUndoTestFailover(CGenericDR& orchestrator);
  ~CSnapArrayUndoTestFailover() override;

  bool ProcessPriority(const SDRPriority& priority) override;
  bool IsMachineEligible(CDRInfo* info) override;
  void LoadOperationConfig(SDROperationCtx& ctx) override;
  // The master job of the test mount to undo.
  uint64_t GetMountOpJobId(SnapDRRepInfo* rep) override;
  bool PopulateSnapOpReqOptions(SDROperationCtx& ctx, CDRInfo* info, TMMsg::VMProvisioningOption& option,
                                Ida::VMOpReq& request) override;
  // The machines' destination VMs are the test VMs (the proxy VMs).
  void LoadDestinationDetails(SDROperationCtx& ctx);

 private:
  [[maybe_unused]] CGenericDR* m_genericDR;
  EvEvent m_event;
};
