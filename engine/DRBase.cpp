#include "DRBase.h"

#include <stdint.h>

#include <algorithm>
#include <utility>

#include "DRDataSource.h"
#include "DRHelper.h"
#include "DRInfo.h"
#include "DRInfoUtils.h"
#include "drorch/DRJobManager.h"
#include "IDRBaseInfo.h"
#include "IDRContext.h"
#include "IRepInfo.h"
#include "SDRPriority.h"
#include "SDRThreadInfo.h"
#include "log/JobJournal.h"
#include "log/LogErrorWatch.h"
#include "sync/ZnThreadPool.h"

namespace {

const char kSeparator[] = "---------------------------------------------------";

// Minutes to milliseconds without overflowing: large settings would wrap in
// 32 bits and negative ones would turn into huge waits.
int32_t DelayMinutesToMs(int32_t minutes) {
  int64_t ms = static_cast<int64_t>(minutes) * 60000;
  if (ms < 0) return 0;
  if (ms > INT32_MAX) return INT32_MAX;
  return static_cast<int32_t>(ms);
}

}  // namespace

CDRBase::CDRBase(TMMsg::DROrchestrationType drType)
    : m_jobId(0),
      m_drType(drType),
      m_priorityDelayMs(0),
      m_continueOnFailure(true),
      m_jobManager(nullptr) {}

CDRBase::~CDRBase() {
  m_event.DebugLvl(2, "~CDRBase", "Running CDRBase destructor");
  m_event.DebugLvl(2, "~CDRBase", "Cleaning up IDRBaseInfo objects");
  for (IDRBaseInfo* info : m_drInfoList) delete info;
  m_drInfoList.clear();
  m_event.DebugLvl(2, "~CDRBase", "Cleaning up SDRPriorities");
  // Through the creation-order list: it also holds the records a failed
  // Initialize made but never filed into the queue.
  for (SDRPriority* priority : m_priorities) delete priority;
  m_priorities.clear();
  m_priorityQueue.clear();
  m_event.DebugLvl(2, "~CDRBase", "Cleaning up VSDR datasources");
  for (CDRDataSource* source : m_dataSources) delete source;
  m_dataSources.clear();
}

bool CDRBase::Initialize(DRInitParams& params) {
  m_jobManager = params.jobManager;
  if (m_jobManager == nullptr) {
    m_event.Error("Initialize", "No job manager given. Exiting.");
    return false;
  }
  m_jobId = m_jobManager->GetJobId();
  m_event.setJobId(m_jobId);
  m_verdicts.Begin(m_jobId, m_jobManager->GetAttempt(), m_drType);
  if (!m_appManager.Initialize(m_jobManager->GetUserID(), &m_jobManager->GetJobOptions())) {
    m_event.Error("Initialize", "DRAppManager initialization failed. Exiting.");
    return false;
  }
  return InitInvocation();
}

int32_t CDRBase::Run() {
  const int32_t state = RunJob();
  // However the killed job ended (before its loop too), a child its restart
  // resumed is ended as a child it launched would have been by its wait.
  if (m_jobManager->IsJobKillIssued()) m_jobManager->KillResumedChildJobs();
  return state;
}

int32_t CDRBase::RunJob() {
  std::string banner = DRHelper::GetDrTypeStr(m_drType);
  if (m_jobManager->IsDRJobCleanupPhase()) banner += " Cleanup";
  m_event.Debug("", "[%s] has started ", banner.c_str());
  m_jobManager->UpdatePercentComplete(m_jobManager->GetJobBeginPercentage());
  m_event.Debug("Run", "Beginning Orchestration with userId [%d]", m_jobManager->GetUserID());

  if (!GetDRApproval()) {
    m_event.Error("Run", "Approval Denied for the orchestration operation [%s]",
                  DRHelper::GetDrTypeStr(m_drType).c_str());
    m_verdicts.RecordNotReached(m_drInfoList, "the DR operation was not approved");
    return Api::VIRTUAL_APP_PHASE_STATE_FAILED;
  }
  if (m_jobManager->IsQuitFlagSet()) {
    m_event.Error("Run", "Failing job as DR job [%lld] quit flag is set", static_cast<long long>(m_jobId));
    m_verdicts.RecordNotReached(m_drInfoList, std::string("the job was ") +
                                                  (m_jobManager->IsJobSuspended() ? "suspended" : "killed") +
                                                  " before its first priority");
    return Api::VIRTUAL_APP_PHASE_STATE_FAILED;
  }
  PriorityDR();
  TellWorkOver();
  LogResults();
  m_event.Debug("", "[%s] has finished ", banner.c_str());
  return m_jobManager->GetDRJobState();
}

namespace {

// The verdicts learn that an order number ran, and the last error the job
// logged while it did, on every way out of the loop's body.
class CPriorityRun {
 public:
  CPriorityRun(CDRVerdicts& verdicts, const std::vector<SDRPriority*>& list, const CLogErrorWatch& errors)
      : m_verdicts(verdicts), m_list(list), m_errors(errors) {
    m_verdicts.Started(m_list);
  }
  ~CPriorityRun() { m_verdicts.Ended(m_list, m_errors.Last()); }
  CPriorityRun(const CPriorityRun&) = delete;
  CPriorityRun& operator=(const CPriorityRun&) = delete;

 private:
  CDRVerdicts& m_verdicts;
  const std::vector<SDRPriority*>& m_list;
  const CLogErrorWatch& m_errors;
};

}  // namespace

bool CDRBase::PriorityDR() {
  size_t done = 0;
  for (auto& entry : m_priorityQueue) {
    const int32_t order = entry.first;
    std::vector<SDRPriority*>& list = entry.second;
    m_event.DebugLvl(5, "PriorityDR", "%s", kSeparator);
    m_event.Debug("PriorityDR", "Processing PRIORITY [%d]", order);
    if (done == 0) LoadPriorityIterationCfg(list);
    // Whatever way the order number ends, its last error is kept for the
    // machines that failed without a reason of their own.
    CLogErrorWatch errors(m_jobId);
    CPriorityRun run(m_verdicts, list, errors);

    if (list.size() > 1) {
      if (!RunParallelSubPriorities(list) && !m_continueOnFailure) return false;
      size_t succeeded = std::count_if(list.begin(), list.end(), [](SDRPriority* p) { return p->success; });
      if (succeeded == 0 && !m_continueOnFailure) return false;
    } else {
      for (SDRPriority* priority : list) {
        if (!RunPriority(*priority)) {
          // Where the loop ends whether or not a quit is set, its work is
          // over before the flag is looked at: a quit first found here
          // halts nothing.
          if (!m_continueOnFailure || (done + 1 == m_priorityQueue.size() && priority == list.back())) {
            TellWorkOver();
          }
          if (m_jobManager->IsQuitFlagSet()) {
            m_event.Debug("PriorityDR", "Halting DR operations as job [%lld] quit flag is set",
                          static_cast<long long>(m_jobId));
            return false;
          }
          m_event.Debug("PriorityDR", "Failures encountered while processing priority [%d]", order);
          if (!m_continueOnFailure) return false;
        }
        Refresh();
      }
    }

    m_event.Debug("PriorityDR", "Finished  processing PRIORITY [%d]", order);
    m_event.DebugLvl(5, "PriorityDR", "%s", kSeparator);
    ++done;
    if (m_priorityQueue.size() > 1 && done < m_priorityQueue.size()) {
      m_jobManager->Wait(m_priorityDelayMs, "Wait before processing next priority");
    }
  }
  return true;
}

// Called on the orchestrator's thread only, once no worker of the loop
// runs: every pool the loop started has been waited for or terminated, and
// a terminated pool's running items have finished. So a quit any of them
// found, which its finder reported before any thread could act on it, was
// reported before this.
void CDRBase::TellWorkOver() {
  if (m_workOverTold) return;
  m_workOverTold = true;
  m_killedInWork = m_jobManager->IsJobKillIssued();
  m_suspendedInWork = m_jobManager->IsJobSuspended();
  CJobJournal::Instance().ReportWorkOver(m_jobId);
}

bool CDRBase::KilledInWork() const { return m_workOverTold ? m_killedInWork : m_jobManager->IsJobKillIssued(); }

bool CDRBase::SuspendedInWork() const { return m_workOverTold ? m_suspendedInWork : m_jobManager->IsJobSuspended(); }

void CDRBase::LoadPriorityIterationCfg(const std::vector<SDRPriority*>& list) {
  if (list.empty()) return;
  const TMMsg::VMGroup& group = list.front()->vmGroup;
  int32_t minutes = group.GetInt32(TMMsg::VMGroup::kDelayMinutes);
  m_priorityDelayMs = DelayMinutesToMs(minutes);
  m_continueOnFailure = group.GetInt32(TMMsg::VMGroup::kContinueOnFailure) != 0;
  m_event.Debug("LoadPriorityIterationCfg",
                "Priority Config => Delay between priorities : [%d] minutes , Continue on Failure : [%s]", minutes,
                m_continueOnFailure ? "True" : "False");
}

bool CDRBase::RunParallelSubPriorities(std::vector<SDRPriority*>& list) {
  ZnThreadPool* pool = InitDrThreadPool(5);
  if (pool == nullptr) return false;
  for (SDRPriority* priority : list) {
    m_event.Debug("RunParallelSubPriorities", "Spawning DR process thread for sub-priority [%s] in order [%d]",
                  DRHelper::GetInfoSourceStr(priority->infoSource).c_str(), priority->order);
    SDRThreadInfo* item = new SDRThreadInfo(nullptr, priority);
    item->SetDRObject(this);
    if (!pool->doWork(&CDRBase::DRThreadStatic, item)) delete item;
  }
  ThreadPoolWait(pool, DRInfoUtils::GetDRThreadTypeStr(DR_THREAD_SUB_PRIORITY),
                 std::to_string(list.front()->order), false);
  return true;
}

bool CDRBase::_ExecPriority(IDRContext* context, const SDRPriority& priority) {
  bool result = true;
  if (!m_jobManager->IsDRJobCleanupPhase()) {
    result = context->ProcessPriority(priority);
    context->PostProcessPriority(priority);
  }
  m_event.DebugLvl(4, "_ExecPriority", ">>>>>>>>>>> BEGIN CLEAN-UP operation >>>>>>>>>>>>> ");
  context->Cleanup(priority);
  m_event.DebugLvl(4, "_ExecPriority", ">>>>>>>>>>> END CLEAN-UP operation >>>>>>>>>>>>>>>> ");
  AskAdmissions(priority, *context);
  delete context;
  return result;
}

void CDRBase::AskAdmissions(const SDRPriority& priority, IDRContext& context) {
  m_verdicts.AskAdmissions(priority, context, m_drInfoList);
}

void CDRBase::RefuseDRType(const SDRPriority& priority, const std::string& kind) { m_verdicts.NotTaken(priority, kind); }

void CDRBase::SetContextMaker(CDRVerdicts::ContextMaker maker) { m_verdicts.SetContextMaker(std::move(maker)); }

void CDRBase::Refresh() { m_jobManager->UpdatePercentComplete(ComputePercentComplete()); }

int32_t CDRBase::ComputePercentComplete() {
  if (m_drInfoList.empty()) return 0;
  return static_cast<int32_t>(m_percentTotal.Get() / static_cast<int64_t>(m_drInfoList.size())) +
         m_jobManager->GetJobBeginPercentage();
}

void CDRBase::AdoptInfo(IDRBaseInfo* info) {
  m_drInfoList.push_back(info);
  m_percentTotal.AddPercent(info->GetPercentageComplete());
  info->SetPercentSink(&m_percentTotal);
}

bool CDRBase::IsDRInfoApplicableForCurrentPriority(const SDRPriority& priority, CDRInfo* info) {
  switch (priority.infoSource) {
    case TMMsg::DR_OP_SOURCE_VSA_REPLICATION:
    case TMMsg::DR_OP_SOURCE_DB_REPLICATION:
    case TMMsg::DR_OP_SOURCE_SNAP_ARRAY_REPLICATION:
      break;
    default:
      return false;
  }
  return std::find(priority.replIds.begin(), priority.replIds.end(), info->GetReplId()) != priority.replIds.end();
}

int32_t CDRBase::GetApplicationId(const SDRPriority& priority) {
  for (IDRBaseInfo* base : m_drInfoList) {
    CDRInfo* info = dynamic_cast<CDRInfo*>(base);
    if (info == nullptr) return 0;
    if (info->GetInfoSource() != priority.infoSource || !IsDRInfoApplicableForCurrentPriority(priority, info)) {
      continue;
    }
    IRepInfo* rep = info->GetRepInfo();
    return rep != nullptr ? rep->GetApplicationId() : 0;
  }
  return 0;
}
