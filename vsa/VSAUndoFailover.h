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
  // A rerun counts a machine the earlier run completed as done, as the
  // revert does: a completed undo clears the failover status, and this job
  // stored it.
  bool IsCompletedStatus(App::VSAFailoverStatus status) override;
  void FinishCompletedMachine(CDRInfo* info) override;
  // A rerun: a machine whose source the earlier run powered on resumes
  // after the power-on.
  bool IsMovedByEarlierRun(CDRInfo* info) override;

  bool CleanupSnapshots(SDROperationCtx& ctx, bool succeededOnly);

 private:
  [[maybe_unused]] CGenericDR* m_drObject;
  EvEvent m_event;
};
