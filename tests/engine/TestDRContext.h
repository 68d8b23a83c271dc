// A DR context and an orchestrator for the priority-loop tests: the
// orchestrator's RunPriority runs every sub-priority on a CTestDRContext
// through _ExecPriority, and the shared script says per order number whether
// the priority succeeds and records what was called, in order.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "engine/DRBase.h"
#include "engine/DRInfo.h"
#include "engine/IDRBaseInfo.h"
#include "engine/IDRContext.h"
#include "engine/SDRInfoCtx.h"
#include "engine/SDRPriority.h"
#include "TestSupport.h"

struct STestScript {
  std::mutex mutex;
  std::vector<std::string> calls;      // "Process:<order>", "Post:<order>", "Cleanup:<order>", "Deleted"
  std::map<int, bool> resultByOrder;   // missing: success
  std::map<int, bool> resultBySource;  // overrides resultByOrder when present
  // Sub-priorities of this many wait for each other before they finish, so
  // the test sees them run at the same time (0: nobody waits).
  int rendezvous = 0;
  int arrived = 0;
  int running = 0;
  int maxRunning = 0;
  std::condition_variable cv;
  // Called at the start of every ProcessPriority with the order number, to
  // steer the job (a kill or suspend from "outside") mid-run.
  std::function<void(int)> onProcess;

  void Add(const std::string& call) {
    std::lock_guard<std::mutex> lock(mutex);
    calls.push_back(call);
  }
  size_t CountPrefix(const std::string& prefix) {
    std::lock_guard<std::mutex> lock(mutex);
    size_t n = 0;
    for (const std::string& c : calls) n += c.compare(0, prefix.size(), prefix) == 0 ? 1 : 0;
    return n;
  }
};

class CTestDRContext : public IDRContext {
 public:
  explicit CTestDRContext(STestScript& script) : m_script(script) {}
  ~CTestDRContext() override { m_script.Add("Deleted"); }

  bool PerformOperation(SDROperationCtx&) override { return false; }
  bool ProcessPriority(const SDRPriority& p) override {
    m_script.Add("Process:" + std::to_string(p.order));
    if (m_script.onProcess) m_script.onProcess(p.order);
    {
      std::unique_lock<std::mutex> lock(m_script.mutex);
      ++m_script.running;
      if (m_script.running > m_script.maxRunning) m_script.maxRunning = m_script.running;
      if (m_script.rendezvous > 0) {
        ++m_script.arrived;
        m_script.cv.notify_all();
        // Real time bound: a loop that runs them one after the other fails
        // the concurrency assertion instead of hanging.
        m_script.cv.wait_for(lock, std::chrono::milliseconds(drtest::kWatchdogMs),
                             [this] { return m_script.arrived >= m_script.rendezvous; });
      }
      --m_script.running;
      auto bySource = m_script.resultBySource.find(static_cast<int>(p.infoSource));
      if (bySource != m_script.resultBySource.end()) return bySource->second;
      auto byOrder = m_script.resultByOrder.find(p.order);
      return byOrder == m_script.resultByOrder.end() ? true : byOrder->second;
    }
  }
  bool PostProcessPriority(const SDRPriority& p) override {
    m_script.Add("Post:" + std::to_string(p.order));
    return true;
  }
  bool ProcessDROperationThread(SDROperationCtx&) override { return false; }
  bool CleanupDROperationThread(SDROperationCtx&) override { return true; }
  bool ProcessDRSubclientThread(SDROperationCtx&) override { return false; }
  bool IsMachineEligible(CDRInfo*) override { return true; }
  bool Cleanup(const SDRPriority& p) override {
    m_script.Add("Cleanup:" + std::to_string(p.order));
    return true;
  }

 private:
  STestScript& m_script;
};

class CTestDR : public CDRBase {
 public:
  explicit CTestDR(STestScript& script, TMMsg::DROrchestrationType type = TMMsg::DR_ORCHESTRATION_PLANNED_FAILOVER)
      : CDRBase(type), m_script(script) {}
  bool RunPriority(const SDRPriority& priority) override {
    return _ExecPriority(new CTestDRContext(m_script), priority);
  }

 private:
  STestScript& m_script;
};

// A machine record with fixed answers.
class CTestDRInfo : public IDRBaseInfo {
 public:
  CTestDRInfo(bool success, bool skipped, bool pending, int percent = 0, std::string report = std::string())
      : m_success(success), m_skipped(skipped), m_pending(pending), m_percent(percent), m_report(report) {}
  bool IsSuccess() override { return m_success; }
  bool IsSkipped() override { return m_skipped; }
  bool IsDRComplete() override { return false; }
  bool IsPending() override { return m_pending; }
  void SetStatus(Api::VirtualAppPhaseState) override {}
  void GetErrors(std::vector<std::string>&) override {}
  int GetPercentageComplete() override { return m_success ? 100 : m_percent; }
  void UpdatePhase(SDRPhaseCtx&) override {}
  std::string GetReportMsg() override { return m_report; }

 private:
  bool m_success, m_skipped, m_pending;
  int m_percent;
  std::string m_report;
};

// Builds the orchestrator's state the way Initialize would, for tests.
class CDRBaseTestPeer {
 public:
  static void SetJobManager(CDRBase& dr, CDRJobManager* jm) { dr.m_jobManager = jm; }
  static void SetJobId(CDRBase& dr, int64_t jobId) { dr.m_jobId = jobId; }
  // What Initialize does before it builds the queue: the job manager, the
  // job id and the application manager (DR group, options).
  static bool StartUp(CDRBase& dr, CDRJobManager* jm) {
    dr.m_jobManager = jm;
    dr.m_jobId = jm->GetJobId();
    dr.m_event.setJobId(dr.m_jobId);
    return dr.m_appManager.Initialize(jm->GetUserID(), &jm->GetJobOptions());
  }
  // Files a sub-priority under its order number; the orchestrator owns it.
  static SDRPriority* AddPriority(CDRBase& dr, int order, TMMsg::DROpSourceType source, int delayMinutes = 0,
                                  bool continueOnFailure = true) {
    SDRPriority* p = new SDRPriority();
    p->order = order;
    p->infoSource = source;
    p->vmGroup.SetInt32(TMMsg::VMGroup::kPriority, order);
    p->vmGroup.SetInt32(TMMsg::VMGroup::kDelayMinutes, delayMinutes);
    p->vmGroup.SetInt32(TMMsg::VMGroup::kContinueOnFailure, continueOnFailure ? 1 : 0);
    dr.m_priorities.push_back(p);
    dr.m_priorityQueue[order].push_back(p);
    return p;
  }
  static void AddInfo(CDRBase& dr, IDRBaseInfo* info) { dr.AdoptInfo(info); }
  // One machine record per id over the data source (info gives the job, DR
  // group and type), each adopted by the orchestrator.
  static std::vector<CDRInfo*> AddMachines(CDRBase& dr, CDRDataSource* source, SDataSourceInfo info,
                                           SDRPriority& priority, CDRJobManager* jm,
                                           const std::vector<int>& ids) {
    std::vector<CDRInfo*> machines;
    for (int id : ids) {
      info.replId = id;
      SDRInfoCtx ctx(source, info, priority);
      ctx.drType = info.drType;
      ctx.jobManager = jm;
      ctx.appManager = dr.GetDRAppMgr();
      CDRInfo* record = new CDRInfo(ctx);
      dr.AdoptInfo(record);
      machines.push_back(record);
    }
    return machines;
  }
  // Every record's progress summed afresh, and the total the records keep.
  static int64_t RecountPercent(CDRBase& dr) {
    int64_t sum = 0;
    for (IDRBaseInfo* info : dr.m_drInfoList) sum += info->GetPercentageComplete();
    return sum;
  }
  static int64_t RunningPercent(CDRBase& dr) { return dr.m_percentTotal.Get(); }
  // What Initialize built: the sub-priorities and the machine records.
  static const std::vector<SDRPriority*>& Priorities(CDRBase& dr) { return dr.m_priorities; }
  static const std::vector<IDRBaseInfo*>& Infos(CDRBase& dr) { return dr.m_drInfoList; }
  static bool PriorityDR(CDRBase& dr) { return dr.PriorityDR(); }
  static void LogResults(CDRBase& dr) { dr.LogResults(); }
  static void LoadCfg(CDRBase& dr, int order) { dr.LoadPriorityIterationCfg(dr.m_priorityQueue[order]); }
};
