// The orchestrator base: the DR job's priority queue, data sources and
// machine records, and the run itself (approval, the priority loop, one
// priority on a per-technology context, progress, final state and summary).
// CGenericDR supplies the per-priority dispatch (RunPriority).
//
// Threads: Initialize, Run and the priority loop run on the host's thread.
// Sub-priorities of one order number run on a pool of 5 DR worker threads;
// those call RunPriority and Refresh concurrently. Refresh and
// ComputePercentComplete read the machine count, which does not change during
// Run, and the running percent total, which the records keep up to date with
// atomic additions, so they take no lock and do not walk the machines.
#pragma once

#include <stdint.h>

#include <atomic>
#include <list>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "DRVerdicts.h"
#include "IDRBaseInfo.h"
#include "SDRStorage.h"
#include "services/DRAppManager.h"
#include "drorch/IDROrchestrator.h"
#include "drorch/ZnCriticalSection.h"
#include "log/EvEvent.h"
#include "msg/MsgClasses.h"
#include "msg/MsgEnums.h"

class CDRDataSource;
class CDRInfo;
class CDRJobManager;
class IDRContext;
class ZnThreadPool;
struct SDROperationCtx;
struct SDROSubclient;
struct SDRPriority;
struct SDataSourceInfo;

// The sum of GetPercentageComplete over the records an orchestrator adopted,
// kept by the records themselves as they change.
class CDRPercentTotal : public IDRPercentSink {
 public:
  void AddPercent(int64_t delta) override { m_sum.fetch_add(delta, std::memory_order_relaxed); }
  int64_t Get() const { return m_sum.load(std::memory_order_relaxed); }

 private:
  std::atomic<int64_t> m_sum{0};
};

class CDRBase : public IDROrchestrator {
 public:
  virtual ~CDRBase();
  CDRBase(const CDRBase&) = delete;
  CDRBase& operator=(const CDRBase&) = delete;

  // ---- IDROrchestrator ----
  bool Initialize(DRInitParams& params) override;
  int32_t Run() override;
  void Refresh() override;

  // One sub-priority; CGenericDR chooses what carries it out.
  virtual bool RunPriority(const SDRPriority& priority) = 0;

  // ---- Accessors for the DR contexts ----
  CDRJobManager* GetDRJobMgr() const { return m_jobManager; }
  CDRAppManager* GetDRAppMgr() { return &m_appManager; }
  TMMsg::DROrchestrationType GetDRType() const { return m_drType; }
  // Milliseconds between two order numbers.
  int32_t GetPriorityDelay() const { return m_priorityDelayMs; }
  bool ContinueOnFailureToNextPriority() const { return m_continueOnFailure; }

  // Begin percentage plus the mean progress of the machines; 0 without
  // machines.
  int32_t ComputePercentComplete();

  // Logs the message and, when asked, raises it on the job as an event of the
  // given type (1 info, 2 critical, 3 minor, 4 major).
  void LogMessage(const char* function, std::string message, ZNDR::E_DR_EVENT_TYPE type, bool raiseEvent);
  // Writes the state of the job's finalize phase row.
  bool SetFinalizeStatus(int64_t jobId, int32_t status);

  // ---- DR thread pools ----
  // A pool of `threads` workers (the maximum parallel thread count when below
  // 1); null when it cannot be made.
  ZnThreadPool* InitDrThreadPool(int threads);
  bool DeInitDrThreadPool(ZnThreadPool* pool);
  // Waits for every item of the pool, then releases the pool.
  void ThreadPoolWait(ZnThreadPool* pool, std::string name, std::string listText, bool pollWithQuit);
  // The body of every DR work item (SDRThreadInfo); frees the item.
  static void* DRThreadStatic(void* item);

  // Whether a machine record belongs to the priority.
  bool IsDRInfoApplicableForCurrentPriority(const SDRPriority& priority, CDRInfo* info);

  // ---- Steps, batch operations and parallel work ----
  // The DR job's id, for the phase records the contexts write.
  int64_t GetJobId() const { return m_jobId; }

  // One step: optional success filter, the all-must-succeed mandate, then
  // RunStep. True when the step ran and succeeded or was skipped.
  bool RunOperation(IDRContext& context, SDROperationCtx& ctx, bool filterFirst);
  // Quit check (unless ignore-quit), skip, pre-step pause, the context's
  // PerformOperation, post-step reset.
  bool RunStep(SDROperationCtx& ctx, IDRContext& context);
  // True when the DR sequence asks to skip the step; the machines are then
  // recorded SKIPPED for the step's phase.
  bool SkipStep(SDROperationCtx& ctx);
  // A diagnostic pause before the phase named by the "Session" settings.
  bool RunPreStep(SDROperationCtx& ctx);
  void DumpPhaseDetails(SDROperationCtx& ctx);
  // Clears the batch operation, sets the post-step switch, publishes progress.
  bool RunPostStep(SDROperationCtx& ctx);
  // Keeps the machines whose last phase ended SUCCESS or SKIPPED, in order.
  void FilterSuccessList(SDROperationCtx& ctx);
  void LoadPhaseContext(SDROperationCtx& ctx, bool markRowAsFailedOnFailure, bool updatePhaseInfoTbl,
                        Api::VirtualAppJobPhaseType phase, Api::DRSite site, bool filter);
  SDROperationCtx GetDROpCtx(Api::VirtualAppJobPhaseType phase, Api::DRSite site, bool updatePhaseInfoTbl);
  // One batch operation on every active machine of the priority; false when
  // none is active or none succeeded.
  bool ProcessIDAPriority(IDRContext& context, const SDRPriority& priority, ZNDR::BatchOperation op);
  // The context's per-machine body for every machine of ctx, inline or on a
  // pool; true when at least one machine succeeded.
  bool ProcessIDABatchOp(IDRContext& context, SDROperationCtx& ctx);
  // Marks every machine that is still on course successful.
  void Complete(SDROperationCtx& ctx);
  // Records one phase state for every machine of the list, 500 ms apart.
  void UpdatePhaseForList(int64_t jobId, std::vector<CDRInfo*>& list, SDROperationCtx& ctx,
                          Api::VirtualAppPhaseState state, const std::string& message);

  // ---- storage copies ------------------------------------------------------
  // After a group's backup: the aux copy (and, after a snap backup, first the
  // backup copy) to every storage copy its replications read from, recorded
  // as phases 21 and 23. A suspension ends them with false and leaves the
  // running copy IN-PROGRESS naming its job.
  bool HandleStorageOps(SDROperationCtx& ctx);
  bool GetStorageDetails(std::unordered_map<long, std::vector<CDRInfo*>>& taskMap, std::set<SDRStorage>& storages,
                         SDROperationCtx& ctx);
  bool HandleCopyOps(std::set<SDRStorage>& storages, SDROSubclient& group, std::vector<CDRInfo*>& list);
  bool HandleCopyOpsForSnap(const SDRStorage& storage, std::vector<CDRInfo*>& machines, bool& runAux);
  bool RunBackupCopy(const SDRStorage& storage, std::vector<CDRInfo*>& machines, int64_t& jobId);
  bool RunAuxCopy(const SDRStorage& storage, std::vector<CDRInfo*>& machines, int64_t& jobId);
  // Fills the request that starts the sync (replication) task of the list.
  bool LoadSyncTask(TMMsg::TaskOperationReq& request, std::vector<CDRInfo*>& list);

  // The context's per-machine body on a pool of min(machines, maximum
  // parallel thread count); each machine's outcome is then read with
  // CDRInfo::IsBatchOpSuccess. False when the pool cannot run.
  bool RunParallelDROperation(SDROperationCtx& ctx, IDRContext* context);
  // The context's per-group body for every group on a pool of 20; each
  // group's outcome is its success flag.
  bool RunParallelSubclientOps(std::vector<SDROSubclient>& subclients, IDRContext* context);
  // Groups the priority's machines by subclient and runs every group; true
  // when at least one group succeeded.
  bool ProcessSubclientsInPriority(const SDRPriority& priority, std::vector<SDROSubclient>& subclients,
                                   IDRContext* context);
  // Called by the contexts when a subclient group starts.
  bool InitDRSubclient(SDROperationCtx& ctx);
  // More than one machine and a phase that allows threads.
  bool IsThreadsApplicable(SDROperationCtx& ctx, std::vector<CDRInfo*>& list);
  template <class T>
  bool IsThreadsApplicable(std::vector<T>& list) {
    return list.size() > 1;
  }

  // Eligibility filters over the orchestrator's machine list.
  bool PrepareEligibleMachinesForPriority(const SDRPriority& priority, std::vector<CDRInfo*>& out,
                                          IDRContext* context);
  bool PrepareEligibleSubclientsForPriority(const SDRPriority& priority, std::set<int>& out, IDRContext* context);
  // Machines of the priority that are neither skipped nor pending (of the
  // application when appId >= 1).
  bool GetDRInfoListForPriority(const SDRPriority& priority, std::vector<CDRInfo*>& out, int appId);
  bool GetSubclientsForPriority(const SDRPriority& priority, std::vector<SDROSubclient>& out, IDRContext* context);
  // Application id of the priority's first machine of its information source;
  // 0 when none.
  int32_t GetApplicationId(const SDRPriority& priority);

 protected:
  explicit CDRBase(TMMsg::DROrchestrationType drType);

  // Runs one priority on a context and destroys the context; the result is
  // ProcessPriority's.
  bool _ExecPriority(IDRContext* context, const SDRPriority& priority);
  // The priority's kind of replication (kind: "VM replications", ...) has no
  // context for the job's DR type: its machines' verdicts say so.
  void RefuseDRType(const SDRPriority& priority, const std::string& kind);
  // The context has run the priority: the verdicts ask it what a restart
  // and a new job would take of its machines (CDRVerdicts::AskAdmissions).
  void AskAdmissions(const SDRPriority& priority, IDRContext& context);
  // How the verdicts make a context of a priority for a DR type, to ask it
  // whether a job of that type would take a machine up.
  void SetContextMaker(CDRVerdicts::ContextMaker maker);

  // One copy phase for the machines of a storage, on the storage's site.
  void RecordCopyPhase(const SDRStorage& storage, std::vector<CDRInfo*>& machines, Api::VirtualAppJobPhaseType phase,
                       Api::VirtualAppPhaseState state, int64_t jobId, bool updatePhaseInfoTbl);

  EvEvent m_event;

 private:
  friend class CDRBaseTestPeer;

  // Takes ownership of a machine record: appends it to the machine list and
  // counts it in the running percent total, to which it reports from then on.
  // Only before Run: the list does not change while workers read it.
  void AdoptInfo(IDRBaseInfo* info);

  // Builds the priority queue.
  bool InitInvocation();
  // Run's approval, priority loop and final state; the state it returns.
  int32_t RunJob();
  bool PriorityDR();
  // Tells the job journal, once, that the loop has run its last step, and
  // keeps whether a kill or suspend was found before that.
  void TellWorkOver();
  // The kill and suspend that count for the job's state and verdicts: those
  // found while its work went on. One first found once the work was over
  // halted nothing, and drjob says so; a job whose work was never told over
  // counts what its job manager found so far.
  bool KilledInWork() const;
  bool SuspendedInWork() const;
  void LoadPriorityIterationCfg(const std::vector<SDRPriority*>& list);
  bool RunParallelSubPriorities(std::vector<SDRPriority*>& list);

  bool GetDRApproval();
  void LogResults();
  void SendEmails();
  void SummarizeDRList(int32_t& succeeded, int32_t& skipped, int32_t& skippedDRComplete, int32_t& failed,
                       int32_t& pending);
  // A skipped machine was skipped for a failed status its job's own earlier
  // attempt left (CDRInfo::IsSkippedAfterOwnFailure).
  bool AnySkippedAfterOwnFailure();

  // The queue files the records under their order numbers; the creation-order
  // list owns them, so a record made before a failed Initialize is freed too.
  std::map<int32_t, std::vector<SDRPriority*>> m_priorityQueue;  // not owning
  std::list<CDRDataSource*> m_dataSources;                        // owned
  std::vector<SDRPriority*> m_priorities;                         // creation order, owns the records
  int64_t m_jobId;
  TMMsg::DROrchestrationType m_drType;
  std::vector<IDRBaseInfo*> m_drInfoList;  // owned
  CDRPercentTotal m_percentTotal;          // of m_drInfoList
  int32_t m_priorityDelayMs;
  bool m_continueOnFailure;
  bool m_workOverTold = false;
  bool m_killedInWork = false;     // as TellWorkOver found it
  bool m_suspendedInWork = false;  // as TellWorkOver found it
  CDRJobManager* m_jobManager;  // not owned
  CDRAppManager m_appManager;
  // What the job decides of each machine, for its operator.
  CDRVerdicts m_verdicts;
  // Contexts on worker threads raise events through the one logger: its
  // pending event arguments and the raise that consumes them go together.
  ZnCriticalSection m_eventLock;
  // The message as the event's argument, raised with the type's severity.
  void RaiseMessageEvent(const std::string& message, ZNDR::E_DR_EVENT_TYPE type) DR_REQUIRES(m_eventLock);
  // One aux copy of a storage copy at a time within the job: subclient
  // groups run at once, and two of them reading one copy would each find no
  // aux copy running and launch one. Held from the look for a running one
  // to the end of the one waited for.
  ZnCriticalSection* AuxCopyLock(long copyId);
  ZnCriticalSection m_auxCopyLocksGuard;
  std::map<long, std::unique_ptr<ZnCriticalSection>> m_auxCopyLocks DR_GUARDED_BY(m_auxCopyLocksGuard);
  // The aux copy the job waited for is over, not only done with the
  // backup it waited for: a DR job leaves none of its children running.
  void AwaitAuxCopyEnd(long long auxJobId);

  // ---- Priority queue construction (Initialize, host's thread) ----
 public:
  // Clears the map, then files the priority's VM-sequence entries under their
  // boot order, in sequence order. The result carries no meaning.
  bool GetBootMap(const SDRPriority& priority, std::map<int32_t, std::vector<TMMsg::VMDependencyOrder>>& bootMap);

 private:
  friend class CDRBasePriorityQueueTestPeer;
  // One sub-priority per information source and group priority.
  bool InitDRGroupInvocation();
  bool GenerateSDRPriority();
  // One priority (order 0) with every selected VM, stamped with its group's
  // priority as boot order.
  bool GenerateBootBasedSDRPriority();
  // One priority (order 0) from the replication monitor's list.
  bool InitMonitorBasedInvocation();
  bool SetInfoSource(SDRPriority& priority);
  bool SetupDataSource(SDRPriority& priority);
  bool SetupReplDataSource(SDRPriority& priority);
  bool CreateReplBasedDRInfoObjects(SDRPriority& priority);
  // In a restarted clean-up job, a replication without its record whose
  // removal the job's earlier attempts recorded in its rows: its machine
  // record counts as succeeded.
  bool IsRemovedByEarlierCleanupRun(int32_t replId);
  // The machine record of a replication of the priority (not yet adopted).
  CDRInfo* MakeInfo(SDRPriority& priority, const SDataSourceInfo& info);
  // A clean-up job run again: its replications may have lost their records.
  bool IsCleanupRestart() const;
  // The state the job's earlier attempts left on the replication's row of
  // the phase; -1 when there is none.
  int32_t EarlierRowState(int32_t replId, Api::VirtualAppJobPhaseType phase);
  // A clean-up's removal takes the replications out of their DR group too:
  // in its restart, those of the job's list the group no longer names go
  // back into its first priority (one of their own when none is left), so
  // that their records are made and counted as above.
  void AddRemovedFromGroup();
  // A hook per information source; nothing to prepare today.
  bool SetupSequence(TMMsg::DROpSourceType source, SDRPriority& priority);
};
