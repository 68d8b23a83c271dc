// The DR context of a VM-replication priority: the binding to the running
// orchestrator and its job and application managers, and the behaviour that
// every VM operation class shares unless it replaces it.
//
// - Dispatch. PerformOperation runs one DR step by its phase (VM operations,
//   sync, backup, storage operations); ProcessDROperationThread runs one
//   machine's body by its batch operation. __OP turns a batch operation into
//   a step (site, phase, snapshot step, script skip), __VmOP a phase.
// - VM operations (VSADRBaseVMOps.cpp). One machine, one request to a proxy
//   of the site's virtualization instance: its phase row goes IN-PROGRESS,
//   then SUCCESS or FAILED; a skipped operation writes no row. A proxy that
//   cannot be reached is retried (six calls, five waits of a minute) unless
//   the job quits. A power-on of the primary may run the call on a worker
//   thread of its own (SDRVMThread.h): the caller polls the worker and the
//   job's quit flag and, on a quit, answers -1 at once.
// - Request and response options (VSADRBaseVMOpOptions.cpp): what each
//   operation type carries to the proxy, and what its answer changes in the
//   machine's replication record.
// - Backup (VSADRBaseBackup.cpp). One backup job of a subclient group's VMs
//   through the task manager, waited on and judged VM by VM from the job's
//   VM status list; a restarted job adopts a backup of its earlier run that
//   did not fail. The group keeps the job id for the sync step. After the
//   priority, each machine's report line and pending mark.
// - Sync (VSADRBaseSync.cpp). Per replication task of the group, in
//   ascending task id: running syncs are waited for, a sync is started only
//   when a machine is not in sync or has not replicated the group's backup,
//   every sync job is waited on, and each machine is judged by its status
//   after a reload. The machines that synced form the group's output list.
//   Nothing is started once the DR job quits.
// - Status changes (VSADRBaseStatus.cpp). Sync and failover statuses, times,
//   flags, the DR VM's GUID and properties through the machine's data source
//   into the VM data manager, which serialises the stores; the sync-status
//   writes carry a phase row. The clean-ups restore what a failed run left.
// - Snapshots (VSADRBaseSnapshots.cpp). Failover, source, point-in-time and
//   replica-sync-direct snapshots: which snapshot, on which site, under which
//   name and reference. Each routine that reads the stored references sets
//   the context's stored-reference switch for its own steps only and clears
//   it on every way out.
// - Failover steps (VSADRBaseFailoverSteps.cpp): the replication step and the
//   DR VM actions (creation, deletion) the operation classes compose.
// - The machine's record is asked for its identity only through IRepInfo on
//   the VM-operation path, so a storage-array record can drive the same
//   operations; the loaders that need a VM replication's working data
//   (snapshots, VM description, allocation policy) fail without one.
//
// Threads: the engine's DR workers call the per-machine operations of
// different machines at once, each with its own operation context; a machine
// record is touched by the one thread running its machine. Everything a VM
// operation builds is local to the call. The task-edit lock serialises the
// edits of tasks and schedules.
#pragma once

#include <stdint.h>

#include <string>
#include <utility>
#include <vector>

#include "engine/IDRAdmission.h"
#include "engine/IDRContext.h"
#include "engine/SDRPhaseCtx.h"
#include "appmgr/ApplicationId.h"
#include "drorch/ZnCriticalSection.h"
#include "log/EvEvent.h"
#include "msg/MsgClasses.h"
#include "msg/MsgEnums.h"

class CDRAppManager;
class CDRBase;
class CDRInfo;
class CDRJobManager;
class CVSAReplDataMgr;
class IDROrchestrator;
class VSARepInfo;
struct SDROSubclient;
struct SDRSnapshotInfo;
struct SDROperationCtx;
struct SDRPriority;
struct SDataSourceInfo;

class CVSADRBase : public IDRContext, public IDRAdmission {
 public:
  // The operation-class decision whether a failed VM operation may be tried
  // on the instance's next proxy.
  typedef bool (*CanRetryVMOp)(SDROperationCtx& ctx, Ida::VMOpResp& response);

  // More clones of one source VM than this are refused.
  static constexpr int kMaxCloneCount = 32;
  // Time a proxy is given for one VM operation, in seconds.
  static constexpr int kVMOpSeconds = 1800;

  explicit CVSADRBase(IDROrchestrator& orchestrator);
  CVSADRBase(const CVSADRBase&) = delete;
  CVSADRBase& operator=(const CVSADRBase&) = delete;

  // ---- Virtual operations, in slot order ----
  // One DR step by its phase; false for a phase without a VM step.
  bool PerformOperation(SDROperationCtx& ctx) override;
  // Batch operation 7 on every active machine of the priority.
  bool ProcessPriority(const SDRPriority& priority) override;
  bool PostProcessPriority(const SDRPriority& priority) override;
  // One machine's body by the context's batch operation.
  bool ProcessDROperationThread(SDROperationCtx& ctx) override;
  bool CleanupDROperationThread(SDROperationCtx& ctx) override;
  bool ProcessDRSubclientThread(SDROperationCtx& ctx) override;
  // False for a machine without a VM replication record.
  bool IsMachineEligible(CDRInfo* info) override;
  bool Cleanup(const SDRPriority& priority) override;
  ~CVSADRBase() override;
  virtual bool Backup(SDROperationCtx& ctx);
  virtual bool IsPermisableFailoverStateForJob(App::VSAFailoverStatus status);
  virtual bool IsPermisableSyncStateForJob(App::VSAReplicationStatus status);
  virtual bool Sync(SDROperationCtx& ctx);
  virtual bool CreateBackupTask(TMMsg::CreateTaskReq& request, int subclientId, std::vector<CDRInfo*>& list);
  virtual bool GetVSABkpOptions(TMMsg::VSABkpOption& options, ApplicationId& appId, std::vector<CDRInfo*>& list);
  virtual bool LoadSyncTask(TMMsg::TaskOperationReq& request, std::vector<CDRInfo*>& list);
  // Keeps the reference of a snapshot a step created; the operation classes
  // that revert or delete it later store it.
  virtual bool PersistSnapMoref(CDRInfo* info, Api::DRSite site, std::string& moref);
  virtual bool PostReplicationThread(SDROperationCtx& ctx);
  virtual bool TestBoot(SDROperationCtx& ctx);
  virtual bool Failover(SDROperationCtx& ctx);
  // Sets a step's reporting switches; the context keeps its own here.
  virtual void LoadOperationConfig(SDROperationCtx& ctx);
  virtual bool PerformPostDrOps(SDROperationCtx& ctx);
  // Drops the machines that read from a storage copy whose aux copy at the
  // context's site did not succeed (nor was skipped).
  virtual void LoadSyncList(SDROperationCtx& ctx);
  virtual bool _PreReplication(SDROperationCtx& ctx);
  virtual bool DeleteDestVM(SDROperationCtx& ctx);
  virtual bool PreFailover(SDROperationCtx& ctx, std::vector<CDRInfo*>& list);
  virtual bool HandleSyncFailure(SDROperationCtx& ctx, CDRInfo* info);
  virtual void RevertSyncStatus(CDRInfo* info, App::VSAReplicationStatus status);

  // ---- IDRAdmission (VSADRBaseRestart.cpp) ----
  // IsMachineEligible as a restart runs it, on the record's statuses, with
  // no skip reason, event or success recorded.
  bool IsAdmittedOnRestart(CDRInfo* info) override;
  // IsMachineEligible as a first attempt of the type runs it, on the
  // record's statuses alone; this context must be of that type.
  bool IsAdmittedOnNewJob(CDRInfo* info, TMMsg::DROrchestrationType type) override;
  // The record's failover status is where the job's type puts it
  // (DRInfoUtils::IsFailoverStatusWhereTypePutsIt).
  bool IsInPlace(CDRInfo* info) override;
  // By its VMs' power: the source VM's, then the DR VM's (a machine whose
  // DR VM the task deploys at failover has none before it). A VM its site's
  // hypervisor answers for and does not list (deleted) runs nothing; one
  // whose site cannot be asked leaves the answer unknown.
  EWorkloadRuns WorkloadRuns(CDRInfo* info) override;
  // Whether the machine's VMs are off as a job was asked to leave them: a
  // restore without power-on, this job's (the failback's) or, for a
  // machine this job did not take up, the one that brought it home.
  virtual bool IsLeftOffOnRequest(CDRInfo* info);

  // ---- A rerun of a DR job whose process died (VSADRBaseRestart.cpp) ----
  // The failover statuses this DR type leaves on a machine it completed. A
  // rerun counts a machine the earlier run of the job completed (such a
  // status, stored by this job) as succeeded instead of running it again:
  // refused by its status, it would count as skipped, and a job whose every
  // machine was done before it died would end FAILED; resumed, it would
  // meet a kill of the rerun and be failed by the rerun's clean-up. Only a
  // type whose statuses cannot tell a completed machine leaves it false
  // (reverse replication keeps the failover status). The point-in-time
  // failover's path asks whether the DR VM runs: with the DR site out of
  // reach, a machine it completed would be refused there.
  virtual bool IsCompletedStatus(App::VSAFailoverStatus status);
  // What an uninterrupted run still does for such a machine once it
  // succeeded (by default: marks it successful).
  virtual void FinishCompletedMachine(CDRInfo* info);
  // Whether the earlier run of this job carried out the step that moved the
  // machine's workload (a DR VM powered on, a source restored). The rerun
  // admits such a machine whatever its statuses and takes it past that step
  // (TakeMovedMachines): repeating the steps before it would overwrite what
  // the workload wrote since. Asked only in a restarted job; false by default.
  virtual bool IsMovedByEarlierRun(CDRInfo* info);
  // Whether the type refuses, as it stands, a machine whose statuses it
  // admits (reason: the skip's "Machine ineligible as ..."), on a first
  // attempt as on a restart; a machine a restart resumes past its move is
  // not asked. False by default.
  virtual bool IsRefusedAsItStands(CDRInfo* info, std::string& reason);

  // ---- Steps ----
  // The VM step of the context's machines: on the DR pool through the
  // owner's per-machine body when threads apply, else one by one. True when
  // at least one machine succeeded.
  bool PerformGenVMOp(SDROperationCtx& ctx, IDRContext* owner);
  // A batch operation as a step; false for an operation without one.
  bool __OP(SDROperationCtx& ctx, ZNDR::BatchOperation op, bool succeededOnly);
  // A phase as a step; site and batch operation stay as the caller set them.
  bool __VmOP(SDROperationCtx& ctx, Api::VirtualAppJobPhaseType phase, bool succeededOnly);
  // Removes the machines whose source VM has reached the clone limit; true
  // when a machine remains. A count that cannot be read counts as 0.
  bool IsCloneOpValid(SDROperationCtx& ctx);
  // Power-on is valid only after this job powered the machine off or shut
  // it down at the site (in a restart also in an earlier attempt, by its
  // rows); every other phase is.
  bool IsCleanUpOpValid(CDRInfo* info, Api::VirtualAppJobPhaseType phase, Api::DRSite site);
  // Brings the failed machines of the list back (power on after a
  // power-off, ...) without phase rows and whatever the job's quit flag;
  // nothing in the job's clean-up phase or while it is suspended.
  void PerformVMOperationOnFailure(std::vector<CDRInfo*>& list, Api::DRSite site, Api::VirtualAppJobPhaseType phase);

  // ---- Records and switches ----
  CVSAReplDataMgr* GetVSADataManager(CDRInfo* info);
  VSARepInfo* GetVSARepInfo(CDRInfo* info);
  // The sync status first loaded for the machine; 0 without a data manager.
  App::VSAReplicationStatus GetOriginalSyncStatus(CDRInfo* info);
  // The failover status the machine had when this attempt loaded it; none
  // when it has no VM replication record.
  App::VSAFailoverStatus GetOriginalFailoverStatus(CDRInfo* info);
  void SetVMOperationAsync(SDROperationCtx& ctx);
  void ResetVMOperationAsync(SDROperationCtx& ctx);
  // True, marking the context's VM operations asynchronous, when the first
  // machine's source vendor is not 1 and its destination vendor is.
  bool IsVMOperationAsyncRequired(SDROperationCtx& ctx);

  // ---- Backup (VSADRBaseBackup.cpp) ----
  // A launched or adopted backup job, waited on and judged.
  bool PostBackupLaunch(long long jobId, SDROperationCtx& ctx);
  // The job as a whole (unless the first machine indexes with version 2),
  // then VM by VM; true when at least one VM's backup succeeded.
  bool GetVSABkpJobResults(long long jobId, SDROperationCtx& ctx);
  // Judges each machine of the list by the job's VM status entry (phase
  // rows with updatePhase); the number of machines whose backup succeeded.
  int ProcessVSABkpResults(SDROperationCtx& ctx, long long jobId, std::vector<CDRInfo*>& list, bool updatePhase);

  // ---- Sync (VSADRBaseSync.cpp) ----
  // One task group: wait, running syncs, decision, start, waits, judgement.
  // jobId goes in as 0 and comes out as the job the machines' rows name.
  bool RunSync(SDROperationCtx& ctx, std::vector<CDRInfo*>& list, long taskId, std::vector<CDRInfo*>& output,
               long long& jobId);
  // Waits for the task's running sync jobs and lists them in running.
  bool WaitOnRunningSyncJobsForSchedule(long taskId, long long& backupJobId, std::vector<CDRInfo*>& list,
                                        std::vector<JobManager::JobInfo>& running);
  // A machine not in sync, or in sync without the group's backup.
  bool IsSyncNeeded(SDROperationCtx& ctx, std::vector<CDRInfo*>& list, long taskId);
  // The wait on the bucketed sync jobs of a task: false once every machine
  // synced the group's backup, true at a failed sync, when no sync runs any
  // more, or when the DR job quits.
  bool IsSyncNeeded2(SDROperationCtx& ctx, std::vector<CDRInfo*>& list, long taskId);
  bool IsSyncInProgress(std::vector<CDRInfo*>& list);
  // Records each machine's replication row under jobId; the ones that synced
  // join the output list, the others go to HandleSyncFailure.
  void GetSyncJobResults(SDROperationCtx& ctx, long long jobId, int taskId, std::vector<CDRInfo*>& list,
                         std::vector<CDRInfo*>& output);
  Api::VirtualAppPhaseState GetSyncPhaseStatus(SDROperationCtx& ctx, CDRInfo* info, std::string& message);
  bool IsLastBackupJobSynced(SDROperationCtx& ctx, CDRInfo* info);
  // The output lists of the groups, in order.
  void GetBootList(std::vector<SDROSubclient>& groups, std::vector<CDRInfo*>& out);

  // ---- Status changes (VSADRBaseStatus.cpp) ----
  // No phase row; false without a data source.
  bool UpdateFailoverStatus(CDRInfo* info, App::VSAFailoverStatus status);
  // The sync status with the context's phase row: IN-PROGRESS, then SUCCESS
  // or FAILED by the store's result.
  bool UpdateSyncStatus(App::VSAReplicationStatus status, CDRInfo* info, SDROperationCtx& ctx);
  bool UpdateSyncStatus(App::VSAReplicationStatus status, CDRInfo* info, SDROperationCtx& ctx,
                        const std::string& note);
  // "Need Sync" with first-time sync during failover, else "In Sync".
  bool EnableSync(CDRInfo* info, SDROperationCtx& ctx);
  bool DisableSync(CDRInfo* info, SDROperationCtx& ctx);
  // The same with a note on its row, written before the status changes (a
  // rerun reads it back from the restart history).
  bool DisableSync(CDRInfo* info, SDROperationCtx& ctx, const std::string& note);
  // Each machine on a fresh context of its own (source site).
  void DisableSyncForList(std::vector<CDRInfo*>& list);
  // Machines that neither succeeded nor were skipped get the sync status of
  // the job's first load back.
  void ResetSyncStatusOnFailure(std::vector<CDRInfo*>& list);
  // The machine's sync status before the job (job: "the test boot", ...):
  // what the first run found, as it noted it on its "Disable Sync" row
  // (SyncStatusBeforeText), else as this run loaded it. A rerun's own load
  // finds the earlier run's "Sync Disabled".
  App::VSAReplicationStatus SyncStatusBeforeJob(CDRInfo* info, const std::string& job);
  static std::string SyncStatusBeforeText(App::VSAReplicationStatus status, const std::string& job);
  // Sets the failover status of every machine that was not skipped (with
  // onlyIfExpected: whose status is the expected one); nothing while the DR
  // job is suspended.
  void CleanupStatus(std::vector<CDRInfo*>& list, App::VSAFailoverStatus newStatus,
                     App::VSAFailoverStatus expected, bool onlyIfExpected);
  bool ClearFailoverStatus(CDRInfo* info);
  void MarkSuccess(CDRInfo* info, Api::DRSite site);
  bool UpdateFlags(std::vector<CDRInfo*>& list);
  // Property 2220: the record's clone count plus one; false without a
  // record or data manager, or when the store fails.
  bool PersistCloneVMCount(CDRInfo* info);
  // "Need Sync" for the eligible machines; stops at the first failed write.
  bool ChangeSyncStatusDuringFailover(SDROperationCtx& ctx);
  // First-time sync during failover, no DR VM yet and no sync run.
  bool IsEligibleToChangeSyncStatusDuringFailover(CDRInfo* info);
  // After a failed first-time-sync failover: sync disabled, the DR VM the
  // run created shut down and deleted, the GUID and times reset. A DR VM
  // that could not be deleted keeps its GUID.
  void CleanupFirstTimeSyncDuringFailover(std::vector<CDRInfo*>& list);
  void ResetSyncLastRestoreTime(CDRInfo* info);
  void ResetVMSyncedTillTime(CDRInfo* info);
  void ResetDestinationVMGuid(CDRInfo* info);

  // ---- Snapshot steps (VSADRBaseSnapshots.cpp) ----
  // Records the snapshot on every machine, then runs the phase as a step.
  bool SnapOp(SDROperationCtx& ctx, Api::VirtualAppJobPhaseType phase, const std::string& name,
              const std::string& moref, bool succeededOnly);
  // Adds a snapshot record (the context's site and kind) to every machine
  // that has a VM replication record.
  bool LoadSnapshotInfo(SDROperationCtx& ctx, const std::string& name, const std::string& moref);
  // The first machine's record of the context's site and kind.
  bool PopulateSnapshotInfo(SDROperationCtx& ctx, SDRSnapshotInfo*& out);
  // "bSkipFailoverSnapshotCreation" is 1.
  bool CanSkipFailoverSnapshot();
  // One failover snapshot per DR VM that has none stored (2213) yet.
  bool CreateFailoverSnapshots(SDROperationCtx& ctx, bool succeededOnly);
  bool RevertFailoverSnapshots(SDROperationCtx& ctx, bool succeededOnly);
  // Machine by machine; a deleted snapshot takes its property 2213 along
  // (not in a suspended job, KeepsDeletedSnapshotReference).
  bool DeleteFailoverSnapshots(SDROperationCtx& ctx, bool succeededOnly);
  // Whether the reference of a snapshot a step (not a clean-up) just
  // deleted stays: in a suspended job, for its restart to remove (logged).
  bool KeepsDeletedSnapshotReference(const SDROperationCtx& ctx, CDRInfo* info);
  bool CleanupFailoverSnapshots(SDROperationCtx& ctx, bool succeededOnly);
  // After a kill: the failover snapshots of the machines left "Failover
  // Failed" are reverted and deleted.
  void CleanupStaleFailoverSnapshots(std::vector<CDRInfo*> list);
  bool RevertSourceVMSnapshot(SDROperationCtx& ctx, bool succeededOnly);
  bool DeleteSourceVMSnapshot(SDROperationCtx& ctx, bool succeededOnly);
  bool CleanupSourceVMSnapshots(SDROperationCtx& ctx, bool succeededOnly);
  // The source snapshot reference (2209) lives from the planned failover
  // that took the snapshot to the revert or undo that goes back to it. A
  // type that takes a machine otherwise (a failover that takes no source
  // snapshot, a restore over the source) drops a reference it finds before
  // it changes anything of the machine: it was left by an earlier job, and
  // the source will have run, or been replaced, by the time a revert or an
  // undo comes. The snapshot stays (a later planned failover deletes it);
  // false when the store keeps the reference.
  bool DropEarlierSourceSnapshotReference(CDRInfo* info);
  // The same for each machine of a group's context; a machine whose
  // reference stays leaves the context and its group's input list.
  void DropEarlierSourceSnapshotReferences(SDROperationCtx& ctx);
  // Deletes the backup snapshots ("__OB_BACKUP__") the first machine's VM
  // at the site already holds, ahead of the step that takes a new one: an
  // attempt of the machine that did not finish took them, and the VM ran
  // again after it, so they hold no state the new one does not. True when
  // none is left; a VM whose snapshots cannot be listed keeps them.
  bool DeleteEarlierBackupSnapshots(SDROperationCtx& ctx, Api::DRSite site, bool succeededOnly);
  // Reverts the first machine's DR VM to its snapshot of the point in time
  // and stores that snapshot's reference as property 2214.
  bool RevertPointInTimeDestinationVMSnapshot(SDROperationCtx& ctx, unsigned long& pointInTime, bool succeededOnly);
  // The reference of the snapshot reverted to; empty when none.
  std::string RevertToPointInTimeSnapshot(SDROperationCtx& ctx, std::vector<EVGui::VMSnapshot>& snapshots,
                                          unsigned long& pointInTime, bool succeededOnly);
  bool DeletePointInTimeDestinationVMSnapshots(SDROperationCtx& ctx, bool succeededOnly);
  bool DeletePointInTimeSnapshots(SDROperationCtx& ctx, std::vector<EVGui::VMSnapshot>& snapshots,
                                  const unsigned long& pointInTime, bool succeededOnly);
  // Every snapshot of the first machine's VM, on that machine only.
  bool DeleteSnapshotsForReplicaSyncDirect(SDROperationCtx& ctx, bool unused, bool succeededOnly);
  bool DeleteSnapshots(SDROperationCtx& ctx, std::vector<EVGui::VMSnapshot>& snapshots, bool unused,
                       bool succeededOnly);
  // The snapshots the hypervisor lists for the machine's VM on the
  // context's site; false when it lists none.
  bool GetSnapshotsListForVM(SDROperationCtx& ctx, CDRInfo* info, std::vector<EVGui::VMSnapshot>& out);
  // Whether a snapshot name is a point-in-time one: the piece after its last
  // "_" starts (after blanks and a sign) with digits that are not all 0.
  static bool IsPointInTimeSnapshotName(const std::string& name);

  // ---- Failover steps (VSADRBaseFailoverSteps.cpp) ----
  // The sync step (phase 7) of the context's machines from the site.
  bool ReplicateVMs(SDROperationCtx& ctx, Api::DRSite site, bool loadSyncList);
  // Batch operation 8: the class's PostReplicationThread for every machine
  // of the context; true when at least one succeeded.
  bool PostReplication(SDROperationCtx& ctx);
  // Creates (31) or deletes (40) the first machine's DR VM when the task
  // deploys DR VMs at failover (deletion also with first-time sync during
  // failover); true without a record or when the action does not apply.
  bool DRVMAction(SDROperationCtx& ctx, Api::VirtualAppJobPhaseType phase, bool succeededOnly);
  // The hypervisor's post-failover action (phase 32) on the first machine's
  // DR VM; true without a record or where the hypervisor has none.
  bool PostVMFailover(SDROperationCtx& ctx, bool succeededOnly);
  // Refreshes the first machine's DR VM information (phase 30) and stores
  // its IP address as property 2222; no address is no failure.
  bool RecordDRVMIPAddress(SDROperationCtx& ctx, bool succeededOnly);
  // The failovers' last post-DR operation: RecordDRVMIPAddress, whose
  // failure is let pass. Once the DR VM's backup snapshot is deleted
  // (snapshotDeleted), which no clean-up gives back, it runs whatever the
  // job's quit flag: the machine is finished. Before that, a quit fails the
  // post-DR operations (false): a step of them was halted or this one would
  // be, and the machine is not finished.
  bool RecordDRVMIPAddressLast(SDROperationCtx& ctx, bool snapshotDeleted);
  // PerformPostDrOps under a phase row (22) of the context's first machine;
  // narrows the context to the machines whose last phase succeeded (or was
  // skipped). False without a machine, and, with its row FAILED, when the
  // first machine was filtered out.
  bool _PostDROperation(SDROperationCtx& ctx);
  // Fewer than two VMs left in the DR backup task; under the task-edit lock.
  bool CanDeleteDRBackupTask(int taskId);
  // Drops every entry of the machine's replication from the DR backup
  // task's selection and keeps the edited task in the application
  // manager's cache (sent at the job's end); false when none was dropped.
  // Under the task-edit lock.
  bool RemoveVMFromDRBackupTask(int taskId, CDRInfo* info);
  // ---- What the failover classes share (VSADRBaseFailoverSteps.cpp) ----
  // Logs the priority as a VM one and runs its subclient groups through the
  // class's ProcessDRSubclientThread; false without an orchestrator.
  bool ProcessSubclientPriority(const SDRPriority& priority);
  // A restarted job also admits "Failover in Progress"; otherwise the DR
  // type's rule.
  bool IsFailoverStateValidForJob(App::VSAFailoverStatus status);
  // The end of the context's machine's failover: sync disabled, the post-DR
  // operations, success; when they fail, the sync status seen before
  // disabling comes back, unless the job is suspended.
  bool CompleteMachineFailover(SDROperationCtx& ctx);
  // The start of the post-DR operations: the post-failover action and the
  // post-scripts, whose results do not matter; false without a machine.
  bool RunPostFailoverActions(SDROperationCtx& ctx);
  // The clean-up of a machine whose post-replication failed, ignoring the
  // quit flag: with revertSyncStatus its sync status as first loaded comes
  // back, then its failover snapshots are cleaned up. Nothing while its
  // post-DR operations run (a tolerated step of theirs failed), nor for a
  // machine left to the restart (IsLeftToRestart).
  void CleanupFailedMachine(SDROperationCtx& ctx, bool revertSyncStatus);
  // After the priority: its machines left "Failover in Progress" become
  // "Failover Failed" and their stale failover snapshots go, but for those
  // left to the restart. The machines.
  std::vector<CDRInfo*> CleanupFailedFailovers(const SDRPriority& priority);
  // A machine this run resumed (an earlier attempt brought its DR VM up,
  // and the workload has run and been written into there since) whose
  // completion a kill or suspend halted: its restart takes it as moved
  // again, and reverting the DR VM to its failover snapshot would throw
  // away what the workload wrote.
  bool IsLeftToRestart(CDRInfo* info);
  // The machines, without those left to the restart (and without nulls).
  std::vector<CDRInfo*> WithoutLeftToRestart(const std::vector<CDRInfo*>& machines);
  static void SetReportingSwitches(SDROperationCtx& ctx, bool updatePhaseInfoTbl, bool markRowAsFailedOnFailure);
  // Whether the machine's post-DR operations have begun and not ended: a VM
  // step failing inside them is judged by the post-DR operations, not
  // cleaned up as a failed machine.
  bool IsPostDROperationRunning(CDRInfo* info);
  // Backup activity (type 1) of every machine's source VM client on; true
  // when it could be switched for every machine.
  bool EnableBackupActivityOnVMs(std::vector<CDRInfo*>& list);
  // The same switched off, each client's re-enabling scheduled 4 hours on.
  bool DisableBackupActivityOnVMs(std::vector<CDRInfo*>& list);

  // ---- VM operations (VSADRBaseVMOps.cpp) ----
  // The VM operation of the context's first machine for the context's phase.
  bool PerformVMOperation(SDROperationCtx& ctx);
  // Runs a loaded request and records the phase; retry goes to the platform.
  bool PerformVMOp(SDROperationCtx& ctx, TMMsg::VMProvisioningOption& option, Ida::VMOpReq& request,
                   Ida::VMOpResp& response, bool retry);
  // The platform call: 0 success, -100 no proxy reached after the retries,
  // -1 the job quit while waiting, else the platform's failure code.
  int ExecuteRemoteVMOp(SDROperationCtx& ctx, TMMsg::VMProvisioningOption& option, Ida::VMOpReq& request,
                        Ida::VMOpResp& response, bool retry);
  // Entry of the worker thread; its argument is an SDRVMTHread.
  static void* VMOpThreadStatic(void* arg);
  // PerformVMOp, then, while canRetry accepts the failure, again through the
  // instance's next proxy not yet tried (at most 20 attempts).
  bool PerformRemoteVMop(SDROperationCtx& ctx, TMMsg::VMProvisioningOption& option, Ida::VMOpReq& request,
                         Ida::VMOpResp& response, bool retry, CanRetryVMOp canRetry);
  // Records one state of the phase on the context's first machine.
  bool UpdateVMPhase(SDROperationCtx& ctx, std::string& vmName, SDRPhaseCtx& phase, std::string message,
                     Api::VirtualAppPhaseState state);

  // ---- Request and response options (VSADRBaseVMOpOptions.cpp) ----
  bool LoadVMOpReqOptions(SDROperationCtx& ctx, CDRInfo* info, Ida::VMOpReq& request,
                          TMMsg::VMProvisioningOption& option);
  bool _LoadVMOpReqOptions(SDROperationCtx& ctx, CDRInfo* info, Ida::VMOpReq& request,
                           TMMsg::VMProvisioningOption& option);
  bool LoadCreateVMReqOptions(CDRInfo* info, Ida::VMOpReq& request);
  bool LoadVMSnapReqOptions(CDRInfo* info, TMMsg::VMProvisioningOption& option, Ida::VMOpReq& request,
                            SDROperationCtx& ctx);
  bool LoadCloneVMReqOptions(CDRInfo* info, Ida::VMOpReq& request);
  bool LoadRefreshDRVMReqOptions(CDRInfo* info, Ida::VMOpReq& request);
  bool LoadVMScriptReqOptions(CDRInfo* info, Ida::VMOpReq& request, bool preScript);
  bool LoadCreateDRVMReqOptions(CDRInfo* info, Ida::VMOpReq& request);
  bool LoadDeleteDRVMReqOptions(CDRInfo* info, Ida::VMOpReq& request);
  bool _SetDatacenterInfoInVMOpReq(CDRInfo* info, Ida::VMOpReq& request);
  std::string GetSnapshotDescription();
  bool LoadVMOpRespOptions(CDRInfo* info, Ida::VMOpResp& response, SDROperationCtx& ctx);
  bool LoadVMSnapRespOptions(CDRInfo* info, Ida::VMOpResp& response, SDROperationCtx& ctx);
  bool LoadCreateVMRespOptions(CDRInfo* info, Ida::VMOpResp& response);
  bool LoadGetVMInfoVMRespOptions(CDRInfo* info, Ida::VMOpResp& response);
  bool LoadRefreshVMRespOptions(CDRInfo* info, Ida::VMOpResp& response);
  // The reference of the machine's snapshot record for the context's site
  // and kind; false without a VM replication record or such a record.
  bool SetSnapMoref(CDRInfo* info, SDROperationCtx& ctx, std::string& moref, bool unused);

  // ---- Restart helpers (VSADRBaseRestart.cpp) ----
  // A restart of the job, or asked as one (IsAdmittedOnRestart); never
  // when asked as a new job's first attempt.
  bool IsRestartedRun() const;
  // The DR type the admission tests judge for: the one asked about, else
  // the job's.
  TMMsg::DROrchestrationType AdmissionType() const;
  // The record's statuses admit the machine (the eligibility test past
  // what an earlier run did), without side effects.
  bool AdmittedByStatus(CDRInfo* info);
  // The type's status tests admit the statuses (with the first-time sync
  // during failover, the failover status alone): a restart's tests, which
  // admit more, only for a machine an attempt of this job took up
  // (IsTakenUpByThisJob); for any other, the first attempt's.
  bool AreStatusesPermitted(CDRInfo* info, App::VSAFailoverStatus failover, App::VSAReplicationStatus sync,
                            bool firstTimeSync);
  // An attempt of this job took the machine up: this one began it, or an
  // earlier one stored a status of it (2216 names the job) or wrote a row
  // of it. A machine every attempt refused has none of these.
  bool IsTakenUpByThisJob(CDRInfo* info);
  // Whether an earlier attempt of this job wrote a row of the machine.
  bool HasEarlierRows(CDRInfo* info);
  // Completed by the earlier run of this job (IsCompletedStatus).
  bool IsCompletedByEarlierRun(CDRInfo* info);
  // A failed failover status the job's own earlier run left on the
  // machine, which a restart does not admit: the job has not finished it.
  bool IsLeftFailedByEarlierRun(CDRInfo* info);
  // The machine's state of a phase as the earlier run left its row;
  // 0xFFFFFFFF when it has none. Asked as a restart, this run's stored row
  // stands over the earlier runs'.
  uint32_t EarlierPhaseState(CDRInfo* info, Api::VirtualAppJobPhaseType phase);
  // The message of the machine's row of the phase as the earlier run left
  // it; empty when there is none.
  std::string EarlierPhaseMessage(CDRInfo* info, Api::VirtualAppJobPhaseType phase);
  // The earlier run powered on the machine's VM at the site in the phase and
  // that still stands: its row says SUCCESS, or IN-PROGRESS (it died during
  // the call), no clean-up undid it (IsUndoneByEarlierCleanup), and the VM
  // runs.
  bool EarlierRunPoweredOn(CDRInfo* info, Api::VirtualAppJobPhaseType phase, Api::DRSite site);
  // In a rerun, the earlier attempt of this job left the machine with the
  // failed status of the type, as this attempt found it at its start. A
  // killed run's clean-up writes it after it undid the move (the source
  // powered on again and the DR VM reverted to its powered-off failover
  // snapshot, a failback's DR VMs powered on again, an undo's source
  // powered off again), so the rows of that run no longer tell where the
  // workload runs, nor what it wrote since its backup. A crash, or a
  // suspended run ended by a kill, runs no such clean-up and leaves the
  // in-progress status. False for a type without a failed status, and for
  // a failover's machine the clean-up left to the restart (IsLeftToRestart):
  // its DR VM runs, its source is off, whatever status the stop stored.
  bool IsUndoneByEarlierCleanup(CDRInfo* info);
  // The same, logged for method as the reason a restart takes the machine
  // over from the start (undone: what the clean-up undid, "move", ...).
  bool IsTakenOverFromTheStart(CDRInfo* info, const char* method, const char* undone);
  // In a rerun, whether a machine of the list was undone by the earlier
  // run's clean-up (IsUndoneByEarlierCleanup): the backup that run took
  // misses what the workload wrote after the clean-up brought it back up,
  // so a new one is taken, and the sync that follows replicates it.
  bool IsBackupOutdatedByEarlierCleanup(long long backupJobId, std::vector<CDRInfo*>& list);
  // An earlier attempt of this job powered the machine's VM at the site off
  // or shut it down: its "Power Off" or "Shutdown" row says SUCCESS and names
  // that VM. Only in a rerun.
  bool EarlierRunStoppedVM(CDRInfo* info, Api::DRSite site);
  // The sync (or failback restore) the earlier run launched for the machine
  // has done its work: its row says so, or, left IN-PROGRESS, the machine is
  // in sync with the backup the earlier run took (or a later one). The
  // task's running syncs are waited for first, so the decision is never
  // taken while one could still end.
  bool EarlierSyncSucceeded(CDRInfo* info);
  // For a machine the earlier run's clean-up undid (IsUndoneByEarlierCleanup):
  // marks its backup and sync rows of that run SKIPPED, before this run sets
  // the machine in progress again and so drops the failed status that tells
  // a later attempt so. This run's own rows of its new backup and sync come
  // only after each job is launched, one machine after the other: a crash
  // before they are all written would leave a later attempt the undone rows
  // to adopt the old backup from and take the old sync for standing. Not
  // when only asked.
  void RetireUndoneRows(CDRInfo* info);
  // Takes the machines an earlier run moved (IsMovedByEarlierRun) out of the
  // context and of its group's lists, and remembers them as resumed; they
  // skip the group's steps and join its output. Empty outside a rerun.
  std::vector<CDRInfo*> TakeMovedMachines(SDROperationCtx& ctx);
  // Whether TakeMovedMachines took the machine.
  bool IsResumed(CDRInfo* info);
  // Whether the machine's VM at the site runs; false when the hypervisor
  // cannot be asked (running then says nothing).
  bool IsVMRunning(CDRInfo* info, Api::DRSite site, bool& running);
  // A snapshot step the earlier run of this job may have done already: a
  // create whose snapshot (its name, this job's description) the VM holds is
  // adopted, a delete whose snapshot the VM no longer holds is done. True
  // when the step is taken over (its rows written as the call would);
  // false when the call must be made. Only in a rerun.
  // A snapshot taken before the clean-up undid the machine's move
  // (IsUndoneByEarlierCleanup) is not adopted: it is deleted and taken anew.
  bool TakeOverEarlierSnapshotStep(SDROperationCtx& ctx, CDRInfo* info, int opType, TMMsg::VMProvisioningOption& option,
                                   Ida::VMOpReq& request);
  // Deletes the snapshot ref of the VM the create request names, without a
  // phase row: the create that follows writes the step's rows.
  void DeleteEarlierSnapshot(SDROperationCtx& ctx, CDRInfo* info, const TMMsg::VMProvisioningOption& option,
                             const Ida::VMOpReq& request, const std::string& ref);
  // In a rerun, the source snapshot 2209 names is no longer on the source VM
  // (false when 2209 is empty or the snapshots cannot be listed).
  bool IsSourceSnapshotGone(CDRInfo* info);
  // The VMs of the instance of the machine's site, by name and GUID; false
  // when they cannot be listed.
  bool ListInstanceVMs(CDRInfo* info, Api::DRSite site, std::vector<std::pair<std::string, std::string>>& out);
  // The snapshots of the machine's VM at the site; false when they cannot
  // be listed (none is a success). listed, when given, tells whether the
  // hypervisor listed the VM at all.
  bool ListSnapshots(CDRInfo* info, Api::DRSite site, std::vector<EVGui::VMSnapshot>& out, bool* listed = nullptr);
  // Whether the hypervisor of the machine's site, asked for the site's VM,
  // answers without it: the VM is gone. False when it cannot be asked
  // (logged at debug level only: the verdicts ask it as a priority ends).
  bool IsVMGone(CDRInfo* info, Api::DRSite site);
  // The discovery of the machine's VM at the site; false when the site
  // cannot be asked, logged as an error unless quiet.
  bool DiscoverSiteVM(CDRInfo* info, Api::DRSite site, EVGui::DiscoverVMDetailsResp& response, bool quiet);
  // Whether the VM of the machine at the context's site, which the
  // hypervisor lists, holds no snapshot that the option's first snapshot
  // request names (its reference, else its name): a delete of it has
  // nothing to delete. False when the VM cannot be listed.
  bool IsAskedSnapshotAbsent(const SDROperationCtx& ctx, CDRInfo* info, const TMMsg::VMProvisioningOption& option);
  // The job's quit flag, unless the context ignores it.
  bool IsQuitRequested(const SDROperationCtx& ctx);
  // The job's suspend, unless the context ignores the quit flag (a
  // clean-up's steps run on).
  bool IsSuspendRequested(const SDROperationCtx& ctx);

 protected:
  int64_t m_jobId;
  EvEvent m_event;
  std::string m_failbackRestoreText;
  CDRJobManager* m_jobManager;
  CDRAppManager* m_appManager;
  // Serialises the edits of tasks and schedules.
  ZnCriticalSection m_taskEditLock;
  CDRBase* m_orchestrator;
  SAdmissionQuestion m_asked;

 private:
  // The machines a rerun took past the step that moved their workload.
  ZnCriticalSection m_resumedLock;
  std::vector<int> m_resumed DR_GUARDED_BY(m_resumedLock);
  // A wait of the job (logged with its reason).
  void Pause(int milliseconds, const char* reason);
  // The call on a worker thread; -1 when the job quits first.
  int ExecuteOnWorkerThread(SDROperationCtx& ctx, TMMsg::VMProvisioningOption& option, Ida::VMOpReq& request,
                            Ida::VMOpResp& response);
  // A phase record of the context's step for the machine, with the
  // context's reporting switches.
  SDRPhaseCtx StepPhase(SDROperationCtx& ctx, CDRInfo* info, Api::VirtualAppPhaseState state,
                        const std::string& message, long long jobId);
  // Backup activity (type 1) of every machine's source VM client switched;
  // disabling schedules the re-enabling. True when every machine counted.
  bool SwitchBackupActivity(std::vector<CDRInfo*>& list, bool enable);
  // Writes a property kind through the machine's data source.
  bool StoreProperty(CDRInfo* info, ZNDR::DR_ORCHESTRATION_PROPERTY property, SDataSourceInfo& value);
  // Reloads the records of the machines from their data source.
  void ReloadRecords(std::vector<CDRInfo*>& list);
};
