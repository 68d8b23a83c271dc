// The point-in-time failover of VM replications, one object per priority:
// each DR VM comes up from the point-in-time snapshot the job names for its
// replication (DRConfigOption field 2) instead of the latest replicated
// state.
#pragma once

#include <string>
#include <vector>

#include "VSADRBase.h"
#include "log/EvEvent.h"

class CGenericDR;

class CVSAPointInTimeFailover : public CVSADRBase {
 public:
  explicit CVSAPointInTimeFailover(CGenericDR& orchestrator);
  ~CVSAPointInTimeFailover() override;

  // A restarted job takes back a machine it left failing over
  // (IsLeftFailingOver), whatever its (then disabled) sync status.
  bool IsMachineEligible(CDRInfo* info) override;
  // The same asked of a restart (the verdicts of an attempt that never ran
  // the machine's priority): the restart takes that machine up.
  bool IsAdmittedOnRestart(CDRInfo* info) override;
  // A DR VM with no point-in-time snapshot (as its snapshots are listed;
  // when they cannot be, nothing is refused).
  bool IsRefusedAsItStands(CDRInfo* info, std::string& reason) override;
  bool CleanupDROperationThread(SDROperationCtx& ctx) override;
  bool Cleanup(const SDRPriority& priority) override;
  bool IsPermisableFailoverStateForJob(App::VSAFailoverStatus status) override;
  bool IsPermisableSyncStateForJob(App::VSAReplicationStatus status) override;
  bool PersistSnapMoref(CDRInfo* info, Api::DRSite site, std::string& moref) override;
  bool Failover(SDROperationCtx& ctx) override;
  void LoadOperationConfig(SDROperationCtx& ctx) override;
  bool PerformPostDrOps(SDROperationCtx& ctx) override;
  // A rerun: "Failover Complete" stored by this job is done; a machine the
  // earlier run reverted to its point in time and powered on resumes after.
  bool IsCompletedStatus(App::VSAFailoverStatus status) override;
  bool IsMovedByEarlierRun(CDRInfo* info) override;

  using CVSADRBase::PreFailover;
  using CVSADRBase::RevertToPointInTimeSnapshot;
  bool PreFailover(SDROperationCtx& ctx);
  bool RevertToPointInTimeSnapshot(SDROperationCtx& ctx);
  // The point in time the job gives the first machine's replication (the
  // last option naming it); false, with the error, when it gives none.
  bool GetPointInTime(SDROperationCtx& ctx, unsigned long& pointInTime);
  // "Failover in Progress", left by an attempt of this job.
  bool IsLeftFailingOver(CDRInfo* info);

 private:
  [[maybe_unused]] CGenericDR* m_drObject;
  EvEvent m_event;
};
