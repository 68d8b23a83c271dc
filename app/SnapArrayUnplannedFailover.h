// The unplanned failover of storage-array replications, one object per
// priority: per subclient group the sources are shut down where they can be,
// the relationships break and the snapshots of the last copy mount as DR
// VMs; no backup or copy runs.
#pragma once

#include "SnapArrayDRBase.h"
#include "log/EvEvent.h"

class CGenericDR;

class CSnapArrayUnplannedFailover : public CSnapArrayDRBase {
 public:
  explicit CSnapArrayUnplannedFailover(CGenericDR& orchestrator);
  ~CSnapArrayUnplannedFailover() override;

  bool ProcessDRSubclientThread(SDROperationCtx& ctx) override;
  void LoadOperationConfig(SDROperationCtx& ctx) override;
  // The mount record each load carries is the one to mount.
  bool IsQuerySnapDRAfiles(SDROperationCtx& ctx) override;

 private:
  [[maybe_unused]] CGenericDR* m_genericDR;
  EvEvent m_event;
};
