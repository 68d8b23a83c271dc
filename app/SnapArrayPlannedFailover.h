// The planned failover of storage-array replications, one object per
// priority: per subclient group the sources shut down, a last backup and the
// copies bring the array copy up to date (unless a relationship is already
// broken), the relationships break, the subclient is disabled and the
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
  // In a rerun: the killed run began the group's backup. The relationships
  // the rerun finds broken may be the ones a faster group sharing a replica
  // group broke since; what the killed run began is still finished (its
  // backup and copy adopted), so no row stays in progress and the copy
  // holds the backup the sources ended with.
  bool IsBackupBegunByEarlierRun(SDROperationCtx& ctx);

  [[maybe_unused]] CGenericDR* m_genericDR;
  EvEvent m_event;
  // Subclient group (application id) -> whether its failed sources are
  // powered back: set until the group passes its storage steps.
  CMutex m_powerBackLock;
  std::map<int, bool> m_powerBackOnFailure DR_GUARDED_BY(m_powerBackLock);
};
