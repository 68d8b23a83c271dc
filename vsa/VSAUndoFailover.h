// The undo of a failover, one object per priority: production goes back
// from the DR VMs to the source VMs without replicating what changed at the
// DR site; in first-time-sync mode the DR VM is deleted instead of re-armed.
#pragma once

#include "VSADRBase.h"
#include "log/EvEvent.h"

class CGenericDR;

class CVSAUndoFailover : public CVSADRBase {
 public:
  explicit CVSAUndoFailover(CGenericDR& orchestrator);
  ~CVSAUndoFailover() override;

  bool Cleanup(const SDRPriority& priority) override;
  bool IsPermisableFailoverStateForJob(App::VSAFailoverStatus status) override;
  bool IsPermisableSyncStateForJob(App::VSAReplicationStatus status) override;
  bool Failover(SDROperationCtx& ctx) override;
  void LoadOperationConfig(SDROperationCtx& ctx) override;
  // A rerun: a machine whose source the earlier run powered on resumes
  // after the power-on. One the earlier run completed resumes the same way
  // rather than counting as done by its status: what is left of it asks no
  // hypervisor anything, and it ends as in a run that never died.
  bool IsMovedByEarlierRun(CDRInfo* info) override;

  bool CleanupSnapshots(SDROperationCtx& ctx, bool succeededOnly);

 private:
  [[maybe_unused]] CGenericDR* m_drObject;
  EvEvent m_event;
};
