// The test failover of VM replications, one object per priority. The DR VMs
// are left as they are: each replication's DR VM is cloned at the
// destination under a name of this job, the clone gets the recovery
// target's test size and one adapter on its test network, is refreshed,
// recorded as a test DR machine of the job's user (kept until the target's
// expiry) and powered on. Statuses and properties of the replications do not
// change.
//
// A clone never outlives a machine that did not succeed: a failed VM step
// removes it at once (CleanupDROperationThread), a machine dropped for its
// client records removes it too, and Cleanup removes whatever is left of the
// machines that did not succeed (a quit between steps), every removal
// running whatever the job's quit flag says. Until the clone step has
// succeeded the clone is named from the DR VM ("<DR VM>-Clone-<pid>-<job>",
// no GUID); from then on the record names the clone itself, by name and
// GUID, and is used as it is. A clone step that "succeeds" without naming a
// new VM is taken as failed: the record still names the DR VM, which no
// later step may touch.
//
// Threads: subclient groups may run on the engine's subclient threads and a
// step's machines on its DR workers; the record of the clones removed so far
// is shared and kept under its own lock.
#pragma once

#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "VSADRBase.h"
#include "drorch/ZnCriticalSection.h"
#include "log/EvEvent.h"

class CGenericDR;

class CVSATestFailover : public CVSADRBase {
 public:
  explicit CVSATestFailover(CGenericDR& orchestrator);
  ~CVSATestFailover() override;

  // Every subclient group of the priority; true when one succeeded.
  bool ProcessPriority(const SDRPriority& priority) override;
  // Removes the clone of each machine of the context (a failed VM step).
  bool CleanupDROperationThread(SDROperationCtx& ctx) override;
  bool ProcessDRSubclientThread(SDROperationCtx& ctx) override;
  // Removes the clones of the priority's machines that did not succeed and
  // still have one; restores no status.
  bool Cleanup(const SDRPriority& priority) override;
  // A restarted job also admits "Failover in Progress".
  bool IsPermisableFailoverStateForJob(App::VSAFailoverStatus status) override;
  // "In Sync" and "Sync in Progress" only.
  bool IsPermisableSyncStateForJob(App::VSAReplicationStatus status) override;
  // The clone's VM steps (36, 37, 42, 43, 3) write and report their rows;
  // every other step only fails its machine.
  void LoadOperationConfig(SDROperationCtx& ctx) override;

  // Clone limit, waits on running syncs, the DR VMs' descriptions, the
  // clones' settings, creation and cloning; false when no machine is left.
  bool PerformCloneDRVM(SDROperationCtx& ctx);
  // The allocation policy, test size and test network of each machine's
  // clone; a machine whose policy or network cannot be had leaves the list.
  bool SetVMConfigSettingsForCloneVM(SDROperationCtx& ctx);
  void SetVMSizeSettingsForCloneVM(CDRInfo* info, Ida::VirtualMachine& vm);
  // By the replication's target, else by its task.
  bool QueryVMAllocationPolicy(CDRInfo* info, Ida::VMAllocationPolicy& policy);
  // Appends the test adapter; call it once per description.
  bool SetNetworkSettingsForCloneVM(CDRInfo* info, Ida::VirtualMachine& vm);
  // Marks each clone's client a test DR machine of the job's user; a machine
  // whose clone client is not found or whose VM row cannot take the policy
  // leaves the list and its clone goes.
  bool SetCloneVMClientProperties(SDROperationCtx& ctx);
  // The clone step succeeded at the destination (in this run, or in the run
  // a restarted job continues).
  bool IsCloneVMSuccessful(CDRInfo* info);

 private:
  // Name and GUID of a VM, by replication id.
  typedef std::map<int, std::pair<std::string, std::string>> VMNames;
  // Fails the clone step of each machine whose record does not name a new
  // VM after it (empty GUID, or the DR VM's), and removes that clone.
  void FailClonesWithoutVM(SDROperationCtx& ctx, const VMNames& drVMs);
  // Powers off and deletes the machine's clone, once, whatever the job's
  // quit flag says.
  void RemoveClone(CDRInfo* info);
  // In a rerun, the clones an earlier run of this job made (named after its
  // own process) go before this run makes its own: each machine ends with
  // one clone, as after a run that never died.
  void RemoveEarlierRunClones(SDROperationCtx& ctx);
  bool IsCloneRemoved(int replicationId);

  EvEvent m_event;
  ZnCriticalSection m_cloneLock;
  std::set<int> m_removedClones DR_GUARDED_BY(m_cloneLock);
};
