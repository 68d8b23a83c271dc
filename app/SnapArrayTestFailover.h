// The test failover of storage-array replications, one object per priority:
// the snapshots mount as test DR VMs (the proxy VM of each record); the
// relationships and the sources are left alone.
#pragma once

#include "SnapArrayDRBase.h"
#include "log/EvEvent.h"

class CGenericDR;

class CSnapArrayTestFailover : public CSnapArrayDRBase {
 public:
  explicit CSnapArrayTestFailover(CGenericDR& orchestrator);
  ~CSnapArrayTestFailover() override;

  bool ProcessPriority(const SDRPriority& priority) override;
  bool IsMachineEligible(CDRInfo* info) override;
  void LoadOperationConfig(SDROperationCtx& ctx) override;
  // The base's request, marked as a test failover's.
  bool PopulateSnapOpReqOptions(SDROperationCtx& ctx, CDRInfo* info, TMMsg::VMProvisioningOption& option,
                                Ida::VMOpReq& request) override;

 private:
  [[maybe_unused]] CGenericDR* m_genericDR;
  EvEvent m_event;
};
