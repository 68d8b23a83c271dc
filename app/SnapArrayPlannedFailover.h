// The planned failover of storage-array replications, one object per
// priority: per subclient group the sources shut down, a last backup and the
// copies bring the array copy up to date (unless a relationship was broken
// before the job), the relationships break, the subclient is disabled and the
// snapshots mount as DR VMs.
//
// Threads: the groups run on the engine's subclient pool; each group keeps
// its own power-back flag, read by Cleanup after every group has ended.
#pragma once

#include <map>

#include "SnapArrayDRBase.h"
#include "core/Mutex.h"
#include "log/EvEvent.h"

class CGenericDR;

class CSnapArrayPlannedFailover : public CSnapArrayDRBase {
 public:
  explicit CSnapArrayPlannedFailover(CGenericDR& orchestrator);
  ~CSnapArrayPlannedFailover() override;

  bool ProcessDRSubclientThread(SDROperationCtx& ctx) override;
  // Powers back the failed sources of the groups that did not reach the
  // break, then the base's clean-up.
  bool Cleanup(const SDRPriority& priority) override;
  void LoadOperationConfig(SDROperationCtx& ctx) override;

 private:
  void SetPowerBackOnFailure(int appId, bool on);
  // A group that never started has nothing powered off: true.
  bool IsPowerBackOnFailure(int appId);
  // Every relationship of the group's replica groups that is broken was
  // broken by this job (this run or an earlier one of the same job), for a
  // group that shares the replica group and got there first. The skip of
  // the backup and copy is for relationships broken before the job: one
  // this job broke still owes this group's machines the copy of their last
  // backup, or they would mount an older one.
  bool AreBrokenRelationshipsThisJobs(SDROperationCtx& ctx);

  [[maybe_unused]] CGenericDR* m_genericDR;
  EvEvent m_event;
  // Subclient group (application id) -> whether its failed sources are
  // powered back: set until the group passes its storage steps.
  CMutex m_powerBackLock;
  std::map<int, bool> m_powerBackOnFailure DR_GUARDED_BY(m_powerBackLock);
};
