// The clean-up of destination VMs of VM replications, one object per
// priority: with the job's delete-from-hypervisor setting, the DR VMs of the
// priority's replications are deleted first; then the replications are
// removed from the management database, and each removed one succeeds.
//
// Only replications that may be cleaned up are touched, whichever way the
// job goes: one in the middle of a failover, failback, revert or sync is
// skipped with a failed "Delete Operation" row and left out of the removal.
// The removal names exactly the replications that are marked successful:
// those whose DR VM was deleted, or, without the setting, the eligible ones
// the job's options list (all eligible ones when they list none).
//
// A rerun of the job does not delete again a DR VM its earlier run deleted:
// the machine counts as deleted and its replication is removed with the
// others, as in a run that never died.
#pragma once

#include <vector>

#include "VSADRBase.h"
#include "log/EvEvent.h"

class CGenericDR;

class CVSACleanupDestVM : public CVSADRBase {
 public:
  explicit CVSACleanupDestVM(CGenericDR& orchestrator);
  ~CVSACleanupDestVM() override;

  bool ProcessPriority(const SDRPriority& priority) override;
  // Not during a failover, failback or revert (2, 3, 6, 7, 14, 16).
  bool IsPermisableFailoverStateForJob(App::VSAFailoverStatus status) override;
  // Not while a sync runs or starts (3, 11).
  bool IsPermisableSyncStateForJob(App::VSAReplicationStatus status) override;
  // One machine (batch operation 35): an eligible machine's sync is
  // disabled and its DR VM deleted; an ineligible one is skipped.
  bool DeleteDestVM(SDROperationCtx& ctx) override;

  // Deletes the DR VMs of the machines (on the DR pool when threads apply);
  // the list keeps the machines whose DeleteDestVM answered true in this
  // run: deleted now, by the earlier run of the job, or skipped by the DR
  // sequence. A machine whose delete step a kill halted is not kept.
  bool DeleteDestVMWrapper(std::vector<CDRInfo*>& machines);

 private:
  // Status SKIPPED and a failed "Delete Operation" row at the destination
  // that does not fail the machine.
  void SkipIneligible(CDRInfo* info);
  // In a rerun: the earlier run of this job deleted the machine's DR VM (its
  // "Delete Operation" row SUCCESS, or IN-PROGRESS and the destination no
  // longer lists the VM). The row then says SUCCESS and the machine counts
  // as deleted: asked again, the hypervisor would answer "not found", the
  // machine would stay out of the removal and its record, naming a DR VM
  // that no longer exists, could never be cleaned up.
  bool IsDeletedByEarlierRun(CDRInfo* info);
  // The removal's replication list when nothing is deleted: the eligible
  // machines the job's list names (every eligible one when it names none).
  // machines keeps those; the others are skipped. False when none is left.
  bool ListForRemoval(const SDRPriority& priority, TMMsg::DROrchestrationOption& options,
                      std::vector<CDRInfo*>& machines);
  // Without deletion, the removal of the machines' records on their "Delete
  // Operation" rows: begun before it, its outcome after. The only mark such
  // a job leaves of a replication it removed, by which its rerun tells its
  // own removals from another job's.
  void RecordRemoval(std::vector<CDRInfo*>& machines, Api::VirtualAppPhaseState state);

  EvEvent m_event;
};
