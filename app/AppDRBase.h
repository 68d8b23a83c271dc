// The DR context of application (database) replications, and the base of
// the database and storage-array contexts.
//
// - Dispatch. PerformOperation runs one DR step by its phase (power on,
//   replication, backup, shutdown, storage operation); ProcessPriority runs
//   batch operation 7 ("Failover") machine by machine through the engine,
//   which calls ProcessDROperationThread and so Failover. __OP turns a batch
//   operation into a step: site and phase from the batch operation, the
//   operation class's step switches (LoadOperationConfig), then the engine's
//   RunOperation.
// - Backup and sync of a subclient group's machines run a child job each
//   through the task manager and wait for it; the job's phase rows go
//   IN-PROGRESS, then SUCCESS, or FAILED with a short reason on every failure
//   after the launch, except a wait ended by a DR suspend, whose row stays
//   IN-PROGRESS naming the child so that a restart resumes it. The backup
//   keeps its job id in the context's subclient group, where the sync reads
//   it; a context without a group reads 0.
// - Statuses go to the machine's application data manager: the sync status
//   with its own phase row, the failover status without one.
//
// Threads: the engine's DR workers call the per-machine operations of
// different machines at once, each with its own operation context; the
// context's members are only read after construction.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "appmgr/ApplicationId.h"
#include "engine/IDRAdmission.h"
#include "engine/IDRContext.h"
#include "log/EvEvent.h"
#include "msg/MsgClasses.h"
#include "msg/MsgEnums.h"

class AppRepInfo;
class CAppReplDataMgr;
class CDRAppManager;
class CDRBase;
class CDRInfo;
class CDRJobManager;
class IDROrchestrator;
struct SDRInstanceCtx;
struct SDROperationCtx;
struct SDRPriority;

class CAppDRBase : public IDRContext, public IDRAdmission {
 public:
  // The sync step's pause before it asks for running sync jobs, by default.
  static constexpr int kDefaultSyncWaitSeconds = 60;
  // Its pause after the sync job it started.
  static constexpr int kAfterSyncWaitMs = 30000;

  explicit CAppDRBase(IDROrchestrator& orchestrator);
  ~CAppDRBase() override;
  CAppDRBase(const CAppDRBase&) = delete;
  CAppDRBase& operator=(const CAppDRBase&) = delete;

  // ---- IDRContext ----
  // By phase: 1 PowerOn, 7 Sync, 8 Backup, 24 Shutdown, 25 StorageOps; any
  // other phase false.
  bool PerformOperation(SDROperationCtx& ctx) override;
  // Batch operation 7 over the priority's machines.
  bool ProcessPriority(const SDRPriority& priority) override;
  bool PostProcessPriority(const SDRPriority& priority) override;
  // Batch operation 7: Failover; any other false.
  bool ProcessDROperationThread(SDROperationCtx& ctx) override;
  bool CleanupDROperationThread(SDROperationCtx& ctx) override;
  bool ProcessDRSubclientThread(SDROperationCtx& ctx) override;
  bool IsMachineEligible(CDRInfo* info) override;
  bool Cleanup(const SDRPriority& priority) override;

  // ---- the context's own slots, in order ----
  virtual bool Failover(SDROperationCtx& ctx);
  // Phase 8: one backup job for the subclient of the first machine's record.
  virtual bool Backup(SDROperationCtx& ctx);
  virtual bool StorageOps(SDROperationCtx& ctx);
  // Phase 7: waits for running syncs of the task, then syncs the machines
  // unless every one is in sync.
  virtual bool Sync(SDROperationCtx& ctx);
  virtual bool Shutdown(SDROperationCtx& ctx);
  virtual bool PowerOn(SDROperationCtx& ctx);
  // Fills the application's backup options (a TMMsg::BackupOptionFields
  // message); the base has none to give.
  virtual bool GetBkpOptions(CNMessageBase& backupOption, ApplicationId& appId, std::vector<CDRInfo*>& machines);
  virtual bool CreateBackupTask(TMMsg::CreateTaskReq& request, ApplicationId& appId, std::vector<CDRInfo*>& machines);
  // The step switches of a batch operation; the base sets none.
  virtual void LoadOperationConfig(SDROperationCtx& ctx);

  // ---- IDRAdmission ----
  // A database failover admits every machine, on a restart as on a first
  // attempt (IsMachineEligible).
  bool IsAdmittedOnRestart(CDRInfo* info) override;
  bool IsAdmittedOnNewJob(CDRInfo* info, TMMsg::DROrchestrationType type) override;
  // Never: a new database failover shuts each source down and starts it
  // again, wherever it runs.
  bool IsInPlace(CDRInfo* info) override;
  // By the state of its databases, source and DR.
  EWorkloadRuns WorkloadRuns(CDRInfo* info) override;

  // ---- steps and records ----
  // Runs a batch operation as a step; false without running anything for a
  // batch operation the context does not know. succeededOnly drops the
  // machines whose last phase failed first.
  bool __OP(SDROperationCtx& ctx, ZNDR::BatchOperation op, bool succeededOnly);
  // The instance of the site (0 source, 1 destination) from the machine's
  // record: instance id and name, client id and name.
  bool LoadInstanceCtx(SDRInstanceCtx& instance, Api::DRSite site, CDRInfo* machine);
  AppRepInfo* GetAppRepInfo(CDRInfo* machine);
  CAppReplDataMgr* GetAppDataManager(CDRInfo* machine);
  // Reloads the machines' records; true at the first one not in sync. False
  // for an empty list.
  bool IsSyncNeeded(std::vector<CDRInfo*>& machines);
  // Stores the sync status with the context's phase row (IN-PROGRESS, then
  // SUCCESS or FAILED); without a data manager the row stays IN-PROGRESS.
  bool UpdateSyncStatus(App::VSAReplicationStatus status, CDRInfo* machine, SDROperationCtx& ctx);
  // Phase 15, sync status 6.
  bool DisableSync(CDRInfo* machine, SDROperationCtx& ctx);
  // Puts a sync status back, without a phase row.
  void RevertSyncStatus(CDRInfo* machine, App::VSAReplicationStatus status);
  bool UpdateFailoverStatus(CDRInfo* machine, App::VSAFailoverStatus status);
  // For each machine that is not skipped and whose failover status is the
  // expected one (non-zero), stores the new status; nothing while the DR job
  // is suspended.
  void CleanupStatus(std::vector<CDRInfo*>& machines, App::VSAFailoverStatus newStatus,
                     App::VSAFailoverStatus expected);

 protected:
  // A failed child-job step: FAILED rows naming the job, unless the DR job
  // was suspended meanwhile (the IN-PROGRESS row stays for the restart).
  // Always false.
  bool FailStep(int64_t jobId, std::vector<CDRInfo*>& machines, SDROperationCtx& ctx, const std::string& reason);
  // Waits for the child job a step launched (the job's kind, "backup" or
  // "sync", names it in the reasons), pauses pauseMs, then judges its
  // status: true when it completed, else FailStep.
  bool AwaitChildJob(long long& jobId, const std::string& kind, int pauseMs, std::vector<CDRInfo*>& machines,
                     SDROperationCtx& ctx);

  SDRPriority* m_priority;
  EvEvent m_event;
  int32_t m_flag;
  IDROrchestrator* m_drObject;
  int32_t m_syncWaitSeconds;
  CDRJobManager* m_jobManager;
  CDRAppManager* m_appManager;
  CDRBase* m_orchestrator;
};
