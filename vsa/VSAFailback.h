// The failback of failed-over VM replications, one object per priority:
// the source VMs go off, the DR VMs lose their failover and point-in-time
// snapshots, shut down, take a last backup and are restored over the
// sources through the replication task (VSAFailbackRestore.cpp builds the
// restore); afterwards each machine is re-armed from the source, its
// failover status cleared and the schedules that no longer serve a VM go.
//
// Threads: subclient groups and post-replication threads run on the
// engine's pools. The restore text of the context is written by
// GetVSRstOptions only, before any group runs; a text browsed for one task
// group stays local to that call. Schedule reads and edits hold the
// (recursive) task-edit lock.
#pragma once

#include <string>
#include <vector>

#include "VSADRBase.h"
#include "log/EvEvent.h"

class CGenericDR;

class CVSAFailback : public CVSADRBase {
 public:
  explicit CVSAFailback(CGenericDR& orchestrator);
  ~CVSAFailback() override;

  bool ProcessPriority(const SDRPriority& priority) override;
  bool CleanupDROperationThread(SDROperationCtx& ctx) override;
  bool ProcessDRSubclientThread(SDROperationCtx& ctx) override;
  bool Cleanup(const SDRPriority& priority) override;
  bool IsPermisableFailoverStateForJob(App::VSAFailoverStatus status) override;
  bool IsPermisableSyncStateForJob(App::VSAReplicationStatus status) override;
  bool GetVSABkpOptions(TMMsg::VSABkpOption& options, ApplicationId& appId, std::vector<CDRInfo*>& list) override;
  bool LoadSyncTask(TMMsg::TaskOperationReq& request, std::vector<CDRInfo*>& list) override;
  bool PostReplicationThread(SDROperationCtx& ctx) override;
  void LoadOperationConfig(SDROperationCtx& ctx) override;
  bool PerformPostDrOps(SDROperationCtx& ctx) override;
  void LoadSyncList(SDROperationCtx& ctx) override;
  bool _PreReplication(SDROperationCtx& ctx) override;
  bool HandleSyncFailure(SDROperationCtx& ctx, CDRInfo* info) override;
  // A rerun: "Failback Complete", or no status once it was cleared, stored
  // by this job is done; a machine the earlier run restored resumes after
  // its restore.
  bool IsCompletedStatus(App::VSAFailoverStatus status) override;
  void FinishCompletedMachine(CDRInfo* info) override;
  bool IsMovedByEarlierRun(CDRInfo* info) override;
  // A machine the job took up when its restore powers no VM on.
  bool IsLeftOffOnRequest(CDRInfo* info) override;

  bool PreFailback(SDROperationCtx& ctx);
  // After the groups ran, whatever their result: the snapshots a
  // replica-sync-direct group's backup left.
  void PostOpsSubclient(std::vector<SDROSubclient>& subclients);
  void CleanupSchedules(CDRInfo* info);
  bool CanDeleteFailbackSchedule(int taskId);
  bool RemoveVMFromFailbackSchedule(int taskId, CDRInfo* info);

  // ---- Restore options and task (VSAFailbackRestore.cpp) ----
  // The job's restore options as the context's restore text; true, leaving
  // it empty, when the job has none.
  bool GetVSRstOptions();
  // Builds the restore text from an index browse of the list's last backup.
  bool LoadVirtualRstOptions(std::vector<CDRInfo*> list, std::string& restoreText);

 private:
  // The group's steps up to the restore; false at the first that fails.
  bool RestoreGroup(SDROperationCtx& ctx);
  // Powers on, when the restore powers the VMs it restores on, each source
  // of the group's output that is still off, and drops from the output
  // those it cannot.
  void PowerOnSourcesLeftOff(SDROperationCtx& ctx);
  // Whether the restore powers the VMs it restores on (VSAFailbackRestore.cpp).
  bool RestorePowersOn();
  // Whether the job's own restore options name no VM restored as the
  // machine's source VM (false without them: the options built from the
  // browse name every machine).
  bool IsLeftOutOfRestoreOptions(CDRInfo* info);
  // The advanced restore option of one browsed VM; false when the entry
  // cannot be restored.
  bool LoadVMRestoreOption(CDRInfo* first, CDRInfo* matched, CNMessageBase& entry, ApplicationId& appId, int toTime,
                           CNMessageBase& advanced);

  [[maybe_unused]] CGenericDR* m_drObject;
  EvEvent m_event;
};
