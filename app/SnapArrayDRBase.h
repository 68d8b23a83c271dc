// The DR context of storage-array replications: mounts array snapshots of
// the machines as DR VMs and breaks or re-syncs volume relationships; the VM
// work of its steps (power, backup, shut-down, VM information, the remote
// operations) goes to a VM context it owns.
//
// - The context (SnapArrayDRBase.cpp): dispatch by phase, eligibility, the
//   snapshot queries of the data manager and the clean-up of a priority.
// - Mount dispatch and datastore locks (SnapArrayDRBaseMountDispatch.cpp):
//   boot-order groups, dispatch passes by datastore, and one machine-wide
//   named mutex per datastore, all of a machine's taken together under the
//   acquisition mutex, so no two mounts on one datastore overlap in this or
//   any other DR job on the host.
// - Storage operations (SnapArrayDRBaseStorage.cpp): copies, sync checks,
//   breaks and re-syncs of replica groups, the filters.
// - One machine's mount (SnapArrayDRBaseMount.cpp): the request, the proxy,
//   the answer, the post-failover step.
//
// Threads: subclient groups run on the engine's subclient pool, mounts on
// its DR pool, relationship changes on a pool of their own; several machines
// of one context at once. The data manager is cached atomically; the lock
// table and the mount proxy table each have their own guard. A machine's
// record is touched by the thread working on the machine.
#pragma once

#include <stdint.h>

#include <atomic>
#include <map>
#include <string>
#include <vector>

#include "AppDRBase.h"
#include "SnapDRContext.h"
#include "drorch/ZnCriticalSection.h"
#include "engine/LessNoCaseCmp.h"
#include "log/EvEvent.h"
#include "msg/MsgClasses.h"
#include "msg/MsgEnums.h"

class CSnapArrayDRReplDataMgr;
class SSMReplicaGroup;
class CVSADRBase;
class FXNamedMutex;
class SnapDRRepInfo;

// What a snapshot query of the data manager asks for.
enum SNAP_REPLMGR_REQ : int32_t {
  SNAP_REPLMGR_REQ_MOUNT_AFILES = 1,
  SNAP_REPLMGR_REQ_REPLICA_GROUP_INFO = 2,
};

// The retry decision a mount hands to the remote VM operation: only a mount
// answered 270 (held through another proxy) is tried on the next proxy.
bool CanRetryVMOperation(SDROperationCtx& ctx, Ida::VMOpResp& response);

class CSnapArrayDRBase : public CAppDRBase {
 public:
  // The machine-wide mutex all datastore locks are taken under.
  static constexpr const char* kMountMutexName = "DRORCHESTRATION_SNAP_MOUNT_MUTEX";
  // A datastore lock is tried this many times, each try waiting this long.
  static constexpr int kDatastoreLockTries = 7200;
  static constexpr int kDatastoreLockTryMs = 1000;
  // The relationship changes of several replica groups run on this many threads.
  static constexpr int kRelationshipPoolThreads = 10;
  // Why a mount or unmount the job's kill kept from going ahead failed.
  static constexpr const char* kKillIssued = "Job kill issued";

  explicit CSnapArrayDRBase(IDROrchestrator& orchestrator);
  ~CSnapArrayDRBase() override;

  // ---- IDRContext ----
  bool PerformOperation(SDROperationCtx& ctx) override;
  bool ProcessPriority(const SDRPriority& priority) override;
  bool PostProcessPriority(const SDRPriority& priority) override;
  // Batch operations 30, 31, 33 and 34: DRMountOperation; any other false.
  bool ProcessDROperationThread(SDROperationCtx& ctx) override;
  bool CleanupDROperationThread(SDROperationCtx& ctx) override;
  bool ProcessDRSubclientThread(SDROperationCtx& ctx) override;
  bool IsMachineEligible(CDRInfo* info) override;
  bool Cleanup(const SDRPriority& priority) override;

  // ---- CAppDRBase ----
  bool StorageOps(SDROperationCtx& ctx) override;

  // ---- the context's own slots, in order ----
  virtual bool IsBackupJobSynced(SDROperationCtx& ctx);
  // False for a record whose test failover or failover completed.
  virtual bool IsEligibleForCleanup(CDRInfo* info);
  virtual bool IsPermisableFailoverStateForJob(App::VSAFailoverStatus status);
  virtual void GetSnapMountContext(SDROperationCtx& ctx, SnapDRContext& snapCtx);
  virtual void GetSnapCopyContext(SDROperationCtx& ctx, SnapDRContext& snapCtx);
  // The master job whose mount information a query asks for.
  virtual uint64_t GetMountOpJobId(SnapDRRepInfo* rep);
  virtual bool PopulateSnapOpReqOptions(SDROperationCtx& ctx, CDRInfo* info, TMMsg::VMProvisioningOption& option,
                                        Ida::VMOpReq& request);
  virtual bool PreVMMountOperation(SDROperationCtx& ctx);
  virtual bool PostVMMountOperation(SDROperationCtx& ctx);
  virtual bool IsQuerySnapDRAfiles(SDROperationCtx& ctx);
  virtual bool PreFailover(SDROperationCtx& ctx);

  // ---- records, queries and statuses ----
  SnapDRRepInfo* GetSnapRepInfo(CDRInfo* info);
  // The storage-array data manager of the context's first machine, cached
  // once found; null (nothing cached) when there is none.
  CSnapArrayDRReplDataMgr* GetSnapDataManager(SDROperationCtx& ctx);
  bool QuerySnapDataMgr(SDROperationCtx& ctx, SNAP_REPLMGR_REQ request, bool reQuery);
  static bool IsTestFailoverMount(Api::VirtualAppJobPhaseType phase);
  bool IsMultiSnapImageMountAllowed() const { return m_allowMultiImageSnapMount.load(); }
  void SetAllowMultiImageSnapMount() { m_allowMultiImageSnapMount.store(true); }
  // Unmounts what the failed machines of a snapshot failover job left
  // mounted; true when nothing had to be done.
  bool CleanupMounts(std::vector<CDRInfo*>& machines);
  // Powers the machine's DR VM off and unmounts it (37 after a 34 mount,
  // else 39), whatever the job's quit flag.
  bool CleanupMount(CDRInfo* info, Api::VirtualAppJobPhaseType mountPhase);
  void CleanupTestFailoverStatus(std::vector<CDRInfo*>& machines, App::DRTestFailoverStatus newStatus,
                                 App::DRTestFailoverStatus expected);
  bool UpdateTestFailoverStatus(CDRInfo* info, App::DRTestFailoverStatus status);
  bool CanExecuteTestFailoverOps(SDROperationCtx& ctx);
  bool IsAnyVMMountedFromTestFailover(SDROperationCtx& ctx);

  // ---- mount dispatch and datastore locks (SnapArrayDRBaseMountDispatch.cpp) ----
  bool HandleVMMountOps(SDROperationCtx& ctx);
  // Always true: each machine's outcome is in its phases.
  bool DispatchMount(SDROperationCtx& ctx, const SDRPriority& priority, IDRContext& context);
  void GetMountQueue(std::vector<CDRInfo*>& machines, std::map<std::string, std::vector<CDRInfo*>>& queues);
  bool DRMountOperation(SDROperationCtx& ctx);
  bool _VMMountOperation(SDROperationCtx& ctx);
  bool AcquireDatastoreLocks(SDROperationCtx& ctx);
  // Releases the locks of the machine's datastores this thread holds.
  bool ReleaseDatastoreLocks(SDROperationCtx& ctx);
  // The datastore's name with every "/" made "_".
  std::string GetMountMutexName(SnapDRRepInfo* rep, VirtualServer::VMDatastoreInfo& datastore);
  bool IsResourceLockRequired(SDROperationCtx& ctx);
  // For the mount benchmark alone, to weigh what the locks cost: with true
  // no context of the process takes or releases a datastore lock. A DR job
  // never sets it.
  static void SetDatastoreLocksDisabled(bool disabled);

  // ---- storage operations (SnapArrayDRBaseStorage.cpp) ----
  bool ChangeSyncStatus(SDROperationCtx& ctx, int copyId, Api::VirtualAppJobPhaseType phase, bool all);
  bool _RunPreMountOps(SDROperationCtx& ctx);
  bool LoadMountList(SDROperationCtx& ctx);
  // True when no relationship of the copy is broken. countFailed tells a
  // count that could not be read (then false) from a broken relationship.
  bool CanSyncVolumes(SDROperationCtx& ctx, bool& countFailed);
  bool CanSyncVolumes(SDROperationCtx& ctx);
  bool FilterLUNMappedVMs(SDROperationCtx& ctx);
  bool FilterMountedVMs(SDROperationCtx& ctx, Api::DRSite site);
  // Each machine's afiles queried on its own; false when none could be. A
  // machine whose record names no mount job to query counts as queried.
  bool QueryVMAfiles(SDROperationCtx& ctx, bool reQuery);

  // ---- one machine's mount (SnapArrayDRBaseMount.cpp) ----
  bool VMMountOperation(SDROperationCtx& ctx);
  bool _LoadMountReq(SDROperationCtx& ctx, SnapDRRepInfo* rep, std::string& vmName, std::string& vmGuid,
                     std::string message, bool& done);
  bool _LoadUnmountReq(SDROperationCtx& ctx, SnapDRRepInfo* rep, std::string& vmName, std::string& vmGuid,
                       std::string message, bool& done);
  bool _LoadMountOpResp(SDROperationCtx& ctx, SnapDRRepInfo* rep, std::string& vmName, std::string& vmGuid,
                        Ida::VMOpResp& response);
  bool SetProxy(SDROperationCtx& ctx, Ida::VMOpReq& request, bool& retry);
  void UpdateDatastoreToMountProxyMapping(SDROperationCtx& ctx);

  // In a rerun of the job, the earlier run completed the machine: it ends
  // with the status the type gives a completed machine and this job's row
  // of its mount or unmount says SUCCESS.
  bool IsCompletedByEarlierRun(CDRInfo* info, SnapDRRepInfo* rep);

  // ---- IDRAdmission ----
  // IsMachineEligible as a restart runs it (the test types' statuses
  // test included), with no skip reason, event or success recorded.
  bool IsAdmittedOnRestart(CDRInfo* info) override;
  // The same as the first attempt of the type runs it.
  bool IsAdmittedOnNewJob(CDRInfo* info, TMMsg::DROrchestrationType type) override;
  // The failover status a failover or an undo leaves, or the test failover
  // status a test failover (complete) or its undo (none) leaves.
  bool IsInPlace(CDRInfo* info) override;
  // At the source while its source VM is on; at DR while the VM's archive
  // file is mounted there with no test failover standing (a test
  // failover's VM is not the workload).
  EWorkloadRuns WorkloadRuns(CDRInfo* info) override;

 protected:
  // A restart of the job, or asked as one (IsAdmittedOnRestart); never
  // when asked as a new job's first attempt.
  bool IsRestartedRun() const;
  // The DR type the admission tests judge for: the one asked about, else
  // the job's.
  TMMsg::DROrchestrationType AdmissionType() const;
  // Whether the machine is admitted for the type: by its statuses as a
  // first attempt judges them, or, in a restart, as the restart does when
  // an earlier attempt of this job took the machine up. reason (the logged
  // words) and told (the operator's, when they differ) say why not.
  bool Admits(CDRInfo* info, SnapDRRepInfo* rep, std::string& reason, std::string& told);
  // Why the record's statuses refuse the machine, as the question stands
  // (a first attempt or a restart); false when they admit it.
  bool Refusal(CDRInfo* info, SnapDRRepInfo* rep, std::string& reason, std::string& told);
  // A test failover stands at every test-failover status but none: each
  // may leave a test VM mounted under the DR VM's name.
  static bool IsTestFailoverStanding(SnapDRRepInfo* rep);
  // What an undo failover undoes is there: a failover's mount of the
  // snapshot, a broken volume relationship, or a source VM that is not
  // known to run.
  bool HasFailoverToUndo(CDRInfo* info, SnapDRRepInfo* rep);
  // An earlier attempt of this job (or, asked as a restart, this one) took
  // the machine up and its statuses are still as this job stored them.
  bool IsTakenUpByThisJob(CDRInfo* info, SnapDRRepInfo* rep);
  SAdmissionQuestion m_asked;

  // A step switch an operation class's table leaves as the context has it.
  static constexpr int kKeep = -1;
  // Sets the step switches of a batch operation (0 off, 1 on, kKeep):
  // markRowAsFailedOnFailure, updatePhaseInfoTbl, the post-step switch and
  // MANDATE ALL SUCCESS.
  static void SetStepSwitches(SDROperationCtx& ctx, int markRowFailed, int updatePhaseRows, int postStep,
                              int mandateAllSuccess);
  // One row of an operation class's step-switch table; batch operation
  // BATCH_OP_NONE is the row of any other.
  struct SStepSwitches {
    ZNDR::BatchOperation batchOp;
    int markRowFailed;
    int updatePhaseRows;
    int postStep;
    int mandateAllSuccess;
  };
  // The switches of the context's batch operation from a table whose last
  // row is the one of any other.
  template <size_t N>
  static void ApplyStepSwitches(SDROperationCtx& ctx, const SStepSwitches (&table)[N]) {
    ApplyStepSwitches(ctx, table, N);
  }
  static void ApplyStepSwitches(SDROperationCtx& ctx, const SStepSwitches* table, size_t rows);
  // The replica groups of the context's machines; false (logged) when the
  // data manager has none to give.
  bool ReplicaGroupsOf(SDROperationCtx& ctx, const char* function, std::map<int, SSMReplicaGroup*>& groups);
  // The master job of the record's DR mount (its associated job); 0 when
  // none.
  static uint64_t MountedMasterJobId(SnapDRRepInfo* rep);
  // Steps 1-3 of the test and undo test failovers: the priority's eligible
  // machines into ctx, the failover statuses checked, multi-image mounts
  // allowed and the machines running. False when the priority cannot go on.
  bool PrepareTestOperation(const SDRPriority& priority, SDROperationCtx& ctx);
  // The test types' own statuses test: no failover in place, and the
  // test-failover status (an undo test failover wants a test failover to
  // undo); reason says why not.
  static bool TestStatusAdmits(SnapDRRepInfo* rep, bool undoTest, bool restarted, std::string& reason);
  // A one-machine context with the settings of ctx.
  static SDROperationCtx OneMachine(const SDROperationCtx& ctx, CDRInfo* info);
  // The DR job's id for phase rows.
  int64_t DRJobId() const;
  // Records one state of the context's phase on its machine through the
  // owned VM context.
  void RecordPhase(SDROperationCtx& ctx, int64_t jobId, std::string vmName, const std::string& message,
                   Api::VirtualAppPhaseState state);
  // Records the context's mount or unmount phase FAILED for a machine whose
  // mount or unmount did not go ahead, under the VM name the phase goes by
  // (the DR VM's for an unmount), with the kill's reason when the job's kill
  // kept it from going ahead. Without that row the machine would count by
  // its earlier step, and an undo would complete it with its snapshot still
  // mounted. A suspended job records no phase.
  void RecordMountNotRun(SDROperationCtx& ctx, int64_t jobId, SnapDRRepInfo* rep, const std::string& reason);
  // The lock-table entry of a name, made when missing.
  FXNamedMutex* LockOf(const std::string& name);
  // The lock-table entry of a name; null when there is none.
  FXNamedMutex* FindLock(const std::string& name);

  EvEvent m_event;
  CVSADRBase* m_vsaDRBase;  // owned
  std::atomic<CSnapArrayDRReplDataMgr*> m_snapDataMgr;  // not owned
  std::atomic<bool> m_allowMultiImageSnapMount;
  // Datastore lock name -> its mutex (owned); entries live until the
  // context goes.
  std::map<std::string, FXNamedMutex*, __less_nocase_cmp> m_dsLockTable DR_GUARDED_BY(m_dsLockTableGuard);
  // Datastore -> the proxy holding a snapshot mount on it; only grows.
  std::map<std::string, int32_t> m_dsMountProxyMap DR_GUARDED_BY(m_mountProxyLock);
  ZnCriticalSection m_mountProxyLock;
  ZnCriticalSection m_dsLockTableGuard;
};
