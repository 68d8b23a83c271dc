// The orchestrator base: the DR job's priority queue, data sources and
// machine records, and the run itself (approval, the priority loop, one
// priority on a per-technology context, progress, final state and summary).
// CGenericDR supplies the per-priority dispatch (RunPriority).
//
// Threads: Initialize, Run and the priority loop run on the host's thread.
// Sub-priorities of one order number run on a pool of 5 DR worker threads;
// those call RunPriority and Refresh concurrently. Refresh and
// ComputePercentComplete only read the machine list, which does not change
// during Run, so they take no lock.
#pragma once

#include <stdint.h>

#include <list>
#include <map>
#include <string>
#include <vector>

#include "DRAppManager.h"
#include "IDROrchestrator.h"
#include "log/EvEvent.h"
#include "msg/MsgClasses.h"
#include "msg/MsgEnums.h"

class CDRDataSource;
class CDRInfo;
class CDRJobManager;
class IDRBaseInfo;
class IDRContext;
class ZnThreadPool;
struct SDRPriority;

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
  // Application id of the priority's first machine of its information source;
  // 0 when none.
  int32_t GetApplicationId(const SDRPriority& priority);

 protected:
  explicit CDRBase(TMMsg::DROrchestrationType drType);

  // Runs one priority on a context and destroys the context; the result is
  // ProcessPriority's.
  bool _ExecPriority(IDRContext* context, const SDRPriority& priority);

  EvEvent m_event;

 private:
  friend class CDRBaseTestPeer;

  // Builds the priority queue.
  bool InitInvocation();
  bool PriorityDR();
  void LoadPriorityIterationCfg(const std::vector<SDRPriority*>& list);
  bool RunParallelSubPriorities(std::vector<SDRPriority*>& list);

  bool GetDRApproval();
  void LogResults();
  void SendEmails();
  void SummarizeDRList(int32_t& succeeded, int32_t& skipped, int32_t& skippedDRComplete, int32_t& failed,
                       int32_t& pending);

  // The queue files the records under their order numbers; the creation-order
  // list owns them, so a record made before a failed Initialize is freed too.
  std::map<int32_t, std::vector<SDRPriority*>> m_priorityQueue;  // not owning
  std::list<CDRDataSource*> m_dataSources;                        // owned
  std::vector<SDRPriority*> m_priorities;                         // creation order, owns the records
  int64_t m_jobId;
  TMMsg::DROrchestrationType m_drType;
  std::vector<IDRBaseInfo*> m_drInfoList;  // owned
  int32_t m_priorityDelayMs;
  bool m_continueOnFailure;
  CDRJobManager* m_jobManager;  // not owned
  CDRAppManager m_appManager;

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
  // A hook per information source; nothing to prepare today.
  bool SetupSequence(TMMsg::DROpSourceType source, SDRPriority& priority);
};
