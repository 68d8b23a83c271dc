// The reverse replication of VM replications, one object per priority: the
// DR VMs are replicated back over the sources with the failback's restore,
// both sides keep running as they are, the failover status stays, and each
// machine ends with a backup snapshot on its source VM.
#pragma once

#include "VSAFailback.h"
#include "log/EvEvent.h"

class CGenericDR;

class CVSAReverseReplication : public CVSAFailback {
 public:
  explicit CVSAReverseReplication(CGenericDR& orchestrator);
  ~CVSAReverseReplication() override;

  bool ProcessPriority(const SDRPriority& priority) override;
  bool ProcessDRSubclientThread(SDROperationCtx& ctx) override;
  bool Cleanup(const SDRPriority& priority) override;
  bool IsPermisableFailoverStateForJob(App::VSAFailoverStatus status) override;
  bool PostReplicationThread(SDROperationCtx& ctx) override;
  void LoadOperationConfig(SDROperationCtx& ctx) override;
  bool IsCompletedStatus(App::VSAFailoverStatus status) override;

 private:
  EvEvent m_event;
};
