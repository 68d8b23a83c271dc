// The planned failover of VM replications, one object per priority, while
// the source site is up. Per subclient group: the DR VMs made sure off and
// the source pre-scripts run, the source VMs shut down, a last backup, the
// source VM clients kept out of scheduled backups, the storage copies, the
// replication; then per machine that synced: the DR VM created where the
// task asks for it, its failover snapshot, power-on, sync disabled, the
// post-DR operations, success. After the priority the machines that failed
// are restored: source VMs on, failover status 4, stale failover snapshots
// gone, backup activity on.
#pragma once

#include <string>
#include <vector>

#include "VSADRBase.h"
#include "log/EvEvent.h"

class CGenericDR;

class CVSAPlannedFailover : public CVSADRBase {
 public:
  explicit CVSAPlannedFailover(CGenericDR& orchestrator);
  ~CVSAPlannedFailover() override;

  // The class's own pre-failover ops hide the context's; both stay callable.
  using CVSADRBase::PreFailover;

  bool ProcessPriority(const SDRPriority& priority) override;
  bool CleanupDROperationThread(SDROperationCtx& ctx) override;
  bool ProcessDRSubclientThread(SDROperationCtx& ctx) override;
  bool Cleanup(const SDRPriority& priority) override;
  // A restarted job also admits "Failover in Progress".
  bool IsPermisableFailoverStateForJob(App::VSAFailoverStatus status) override;
  // A restarted job admits any sync status; else 1, 2 and 3.
  bool IsPermisableSyncStateForJob(App::VSAReplicationStatus status) override;
  // 2209 for the source VM's snapshot, 2213 for the DR VM's.
  bool PersistSnapMoref(CDRInfo* info, Api::DRSite site, std::string& moref) override;
  bool PostReplicationThread(SDROperationCtx& ctx) override;
  void LoadOperationConfig(SDROperationCtx& ctx) override;
  bool PerformPostDrOps(SDROperationCtx& ctx) override;
  // A rerun: "Failover Complete" stored by this job is done; a machine whose
  // DR VM the earlier run powered on resumes after the power-on.
  bool IsCompletedStatus(App::VSAFailoverStatus status) override;
  void FinishCompletedMachine(CDRInfo* info) override;
  bool IsMovedByEarlierRun(CDRInfo* info) override;

  // The group's pre-failover ops, logged as such.
  bool PreFailover(SDROperationCtx& ctx);

 private:
  // The group's steps up to its replication; false at the first that fails.
  bool ReplicateGroup(SDROperationCtx& ctx);
  // Deletes the backup snapshots an earlier failover of the machine that did
  // not finish left on its source, before the move; false when one stays.
  bool DeleteEarlierSourceSnapshots(SDROperationCtx& ctx);

 private:
  [[maybe_unused]] CGenericDR* m_drObject;
  EvEvent m_event;
};
