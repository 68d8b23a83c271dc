// The unplanned failover of VM replications, one object per priority, for
// a source site that may be down. Per subclient group: the source VMs
// powered off where they can be (a failure does not stop the group), a
// first-time sync replicated or else the DR VM created where the task asks
// for it, the failover snapshots, the DR VMs on; then per machine: sync
// disabled, the post-DR operations, success. After the priority the
// machines that failed get failover status 4 and lose their stale failover
// snapshots.
#pragma once

#include <string>

#include "VSADRBase.h"
#include "log/EvEvent.h"

class CGenericDR;

class CVSAUnplannedFailover : public CVSADRBase {
 public:
  explicit CVSAUnplannedFailover(CGenericDR& orchestrator);
  ~CVSAUnplannedFailover() override;

  bool ProcessPriority(const SDRPriority& priority) override;
  bool CleanupDROperationThread(SDROperationCtx& ctx) override;
  bool ProcessDRSubclientThread(SDROperationCtx& ctx) override;
  bool Cleanup(const SDRPriority& priority) override;
  // A restarted job also admits "Failover in Progress".
  bool IsPermisableFailoverStateForJob(App::VSAFailoverStatus status) override;
  // "In Sync" and "Need Sync" only.
  bool IsPermisableSyncStateForJob(App::VSAReplicationStatus status) override;
  // 2213 for the DR VM's snapshot; nothing for the source's.
  bool PersistSnapMoref(CDRInfo* info, Api::DRSite site, std::string& moref) override;
  bool PostReplicationThread(SDROperationCtx& ctx) override;
  void LoadOperationConfig(SDROperationCtx& ctx) override;
  bool PerformPostDrOps(SDROperationCtx& ctx) override;
  // A rerun: "Failover Complete" stored by this job is done; a machine whose
  // DR VM the earlier run powered on resumes after the power-on.
  bool IsCompletedStatus(App::VSAFailoverStatus status) override;
  bool IsMovedByEarlierRun(CDRInfo* info) override;

 private:
  // The group's steps up to its DR VMs' power-on; false at the first that
  // fails for every machine.
  bool BringUpGroup(SDROperationCtx& ctx);
  [[maybe_unused]] CGenericDR* m_drObject;
  EvEvent m_event;
};
