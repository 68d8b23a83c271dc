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
#include <vector>

#include "engine/IDRContext.h"
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
struct SDROperationCtx;
struct SDRPhaseCtx;
struct SDRPriority;

class CVSADRBase : public IDRContext {
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
  // it down at the site; every other phase is.
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
  void SetVMOperationAsync(SDROperationCtx& ctx);
  void ResetVMOperationAsync(SDROperationCtx& ctx);
  // True, marking the context's VM operations asynchronous, when the first
  // machine's source vendor is not 1 and its destination vendor is.
  bool IsVMOperationAsyncRequired(SDROperationCtx& ctx);

  // ---- Snapshot steps ----
  // Records the snapshot on every machine, then runs the phase as a step.
  bool SnapOp(SDROperationCtx& ctx, Api::VirtualAppJobPhaseType phase, const std::string& name,
              const std::string& moref, bool succeededOnly);
  // Adds a snapshot record (the context's site and kind) to every machine
  // that has a VM replication record.
  bool LoadSnapshotInfo(SDROperationCtx& ctx, const std::string& name, const std::string& moref);

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

 protected:
  int64_t m_jobId;
  EvEvent m_event;
  std::string m_failbackRestoreText;
  CDRJobManager* m_jobManager;
  CDRAppManager* m_appManager;
  // Serialises the edits of tasks and schedules.
  ZnCriticalSection m_taskEditLock;
  CDRBase* m_orchestrator;

 private:
  // The job's quit flag, unless the context ignores it.
  bool IsQuitRequested(const SDROperationCtx& ctx);
  // A wait of the job (logged with its reason).
  void Pause(int milliseconds, const char* reason);
  // The call on a worker thread; -1 when the job quits first.
  int ExecuteOnWorkerThread(SDROperationCtx& ctx, TMMsg::VMProvisioningOption& option, Ida::VMOpReq& request,
                            Ida::VMOpResp& response);
  // Logs that an operation class's step is not available yet.
  bool NotBuiltYet(const char* function, const char* what);
};
