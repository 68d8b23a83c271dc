// The revert of a failover, one object per priority: the DR VM is shut down
// and reverted to its failover snapshots, the source VM reverted to its
// snapshot from before the failover, that snapshot deleted, the source
// powered on, and sync enabled again.
#pragma once

#include "VSADRBase.h"
#include "log/EvEvent.h"

class CGenericDR;

class CVSARevertFailover : public CVSADRBase {
 public:
  explicit CVSARevertFailover(CGenericDR& orchestrator);
  ~CVSARevertFailover() override;

  bool CleanupDROperationThread(SDROperationCtx& ctx) override;
  bool Cleanup(const SDRPriority& priority) override;
  bool IsPermisableFailoverStateForJob(App::VSAFailoverStatus status) override;
  bool Failover(SDROperationCtx& ctx) override;
  void LoadOperationConfig(SDROperationCtx& ctx) override;
  bool PerformPostDrOps(SDROperationCtx& ctx) override;
  // A rerun counts a machine the earlier run completed as done: a
  // completed revert clears the failover status, and this job stored it.
  // Resumed instead, its source would be powered on again, a step a kill of
  // the rerun halts, and the rerun's clean-up would then call the machine
  // the earlier run reverted "Revert Failover Failed".
  bool IsCompletedStatus(App::VSAFailoverStatus status) override;
  void FinishCompletedMachine(CDRInfo* info) override;
  // A rerun: a machine whose post-DR operations the earlier run began
  // resumes there.
  bool IsMovedByEarlierRun(CDRInfo* info) override;

 private:
  // The post-DR operations of a resumed machine: the source's revert
  // unless the earlier run reverted to and deleted its snapshot.
  bool ResumePostDrOps(SDROperationCtx& ctx, CDRInfo* info);
  // The post-DR operations: the source reverted (when revert is set), its
  // snapshot deleted, the source powered on, sync enabled.
  bool RevertAndStartSource(SDROperationCtx& ctx, bool revert);
  // Powers the source on, at the end of its revert: never while a snapshot
  // reference it could be reverted to is stored.
  bool PowerOnRevertedSource(SDROperationCtx& ctx);
  // The post-DR phase row of the machine, at the destination, named by the
  // source VM.
  void RecordPostDR(CDRInfo* info, Api::VirtualAppPhaseState state, bool markRowAsFailedOnFailure);

  [[maybe_unused]] CGenericDR* m_drObject;
  EvEvent m_event;
};
