#include "drorch/DRJobManager.h"

#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <cctype>
#include <list>
#include <memory>
#include <new>

#include "Db/Tbl/App_VirtualAppJobStats.h"
#include "appmgr/ZNClient.h"
#include "array/ZNSnapClientAPI.h"
#include "DRAppManager.h"
#include "DRSrvcAgent.h"
#include "Db/Tbl/APP_VSAReplication.h"
#include "Db/Tbl/JMAdminJobInfoTable.h"
#include "Db/Tbl/JMBkpJobInfo.h"
#include "Db/Tbl/JMJobDataLink.h"
#include "db/App_MiscOptions.h"
#include "db/ZNSimpleDBConnObject.h"
#include "engine/PlatformCompat.h"
#include "net/SessionPort.h"
#include "engine/DRHelper.h"
#include "engine/ZnCriticalSectionLock.h"
#include "jobs/EvTask.h"
#include "jobs/ZNDROrchestrationClnt.h"
#include "jobs/ZNJobCtrlClient.h"
#include "jobs/ZNJobQuery.h"
#include "jobs/ZNManageDBForJM.h"
#include "jobs/ZNPI_PlatformBase.h"
#include "log/JobJournal.h"
#include "settings/ZNPlatformInfo.h"
#include "time/PlatformClock.h"
#include "xmlreq/XMLHandler.h"

namespace {

const int kDRApprovalPendingCause = 0x4800006a;
// How often a wait for a child's completion notice looks at the child
// itself: the pace of the polling wait.
const unsigned long kChildBackstopMs = 30000;

// Some requests carry job ids in 32-bit fields. A wider id would arrive as
// another job's id, so it is refused instead of cut.
bool FitsInt32(long long jobId) { return jobId >= INT32_MIN && jobId <= INT32_MAX; }

}  // namespace

CDRJobManager::CDRJobManager()
    : m_userId(1),
      m_initArg(0),
      m_haldenId(0),
      m_restarted(false),
      m_cleanupPhase(false),
      m_jobId(0),
      m_jobCtrl(nullptr),
      m_killIssued(false),
      m_suspended(false),
      m_orchClient(nullptr),
      m_srvcAgent(nullptr),
      m_drJobState(static_cast<Api::VirtualAppPhaseState>(0)),
      m_allowJobPending(false),
      m_attempt(1),
      m_beginPercentage(1) {}

CDRJobManager::~CDRJobManager() {
  CDRSrvcAgent* agent = nullptr;
  {
    ZnCriticalSectionLock lock(&m_lock);
    agent = m_srvcAgent;
    m_srvcAgent = nullptr;
  }
  if (agent) {
    // Quit returns once the receive loop and the callbacks have ended; the
    // agent's destructor then joins its listener and wakes any waiter left.
    agent->Quit(true, true);
    delete agent;
  }
  if (m_jobCtrl) {
    delete m_jobCtrl;
    m_jobCtrl = nullptr;
  }
}

// ---------------------------------------------------------------------------
// Start-up

bool CDRJobManager::Initialize(ZNDROrchestrationClnt& client, int initArg, int haldenId) {
  m_jobId = client.getJobId();
  m_event.setJobId(m_jobId);
  m_initArg = initArg;
  m_haldenId = haldenId;
  m_orchClient = &client;

  if (!LoadJobOptions()) return false;

  char hostName[1024];
  memset(hostName, 0, sizeof(hostName));
  ZNPI_CommClient comm;
  if (comm.getDromhallHostName(hostName, sizeof(hostName)) != 0) {
    m_event.Error("Initialize", "Failed to get Dromhall hostname.");
    return false;
  }

  m_event.Debug("Initialize", "Initializing Job manager object");
  m_jobCtrl = new (std::nothrow) ZNJobCtrlClient(0);
  if (!m_jobCtrl) {
    m_event.Error("Initialize", "Memory allocation failed for the job controller object.");
    return false;
  }
  m_event.DebugLvl(2, "Initialize", "Initializing Job manager controller...");
  if (m_jobCtrl->Init2(m_jobId, hostName, 1, 4, m_jobMgrToken, nullptr) != 0) {
    m_event.Error("Initialize", "Failed to initialize job controller. DHName [%s], jobId [%llu], JobMgrToken [%s]",
                  hostName, static_cast<unsigned long long>(m_jobId), m_jobMgrToken.c_str());
    return false;
  }

  if (!m_jobOptions.Has(TMMsg::JobOption::kBackupOptions) ||
      !m_jobOptions.GetMsg(TMMsg::JobOption::kBackupOptions).Has(TMMsg::BackupOptionFields::kDROrchestrationOption)) {
    m_event.Error("Initialize", "DR Orchestration option not set.");
    return false;
  }

  CheckForRestart();
  if (m_restarted) {
    GetPhasesForJob(m_jobId, m_restartHistory);
    IndexRestartHistory();
    if (!m_restartHistory.empty()) {
      m_event.Debug("Initialize", "Found [%zu] phase(s) set from previous run for job [%lld]",
                    m_restartHistory.size(), m_jobId);
      std::set<long long> suspended;
      GetSuspendedChildJobs(m_restartHistory, suspended);
      m_event.Debug("Initialize", "Found [%zu] suspended child job(s)", suspended.size());
      for (long long child : suspended) {
        if (PerformJobOperation(child, m_jobId, static_cast<JobManager::JobOperation>(2)))
          m_resumedChildren.insert(child);
        else
          m_event.Error("Initialize", "Failed to resume job [%lld]", child);
      }
    }
    m_beginPercentage = static_cast<int>(GetJobPercentageComplete(m_jobId));
  }

  if (!IsDRJobCleanupPhase())
    ZNManageDBForJM::setRestartStringForJobId(m_jobId, std::to_string(m_attempt + 1),
                                              ZNManageDBForJM::getDefaultHaldenID());
  return true;
}

bool CDRJobManager::LoadJobOptions() {
  EvTask task(m_jobId, 0, nullptr, false);
  std::string xml;
  if (task.getXMLOptions(xml) != 0) {
    m_event.Error("LoadJobOptions", "Failed to get the xml options");
    return false;
  }
  m_event.Debug("LoadJobOptions", "%s", xml.c_str());
  if (!m_jobOptions.Unserialize(xml)) {
    m_event.Error("LoadJobOptions", "Failed to unserialize job options [%s]", xml.c_str());
    return false;
  }
  m_userId = task.getOwnerId();
  return true;
}

// Runs inside Initialize, before the host hands the manager to the
// orchestrator: no other thread can reach the client yet, so the client is
// read without m_lock.
void CDRJobManager::CheckForRestart() DR_NO_THREAD_SAFETY_ANALYSIS {
  std::string text;
  if (m_orchClient) m_orchClient->getRestartString(text, 0);
  if (text.empty()) return;
  m_event.Debug("CheckForRestart", "Job restart detected");
  m_restarted = true;
  m_attempt = atoi(text.c_str());
}

// ---------------------------------------------------------------------------
// Job state and control

bool CDRJobManager::IsQuitFlagSet() {
  if (m_killIssued.load() || m_suspended.load()) {
    m_event.DebugLvl(2, "IsQuitFlagSet", "DR Job [%lld] quit flag is set. Job was interrupted", m_jobId);
    return true;
  }
  if (!m_jobCtrl || !m_jobCtrl->checkQuitFlag()) return false;
  m_event.Debug("IsQuitFlagSet", "DR Job [%lld] quit flag is set", m_jobId);
  const int operation = m_jobCtrl->getJMControlOperation();
  std::atomic<bool>* state = nullptr;
  switch (operation) {
    case 1:
    case 4:
    case 10:
    case 14:
      state = &m_killIssued;
      break;
    case 2:
      state = &m_suspended;
      break;
    default:
      break;
  }
  // The host tells a kill the job saw from one no step of it looked for,
  // and one seen once its work was over from one that halted something.
  // The state is set only once the report is made, under a lock that a
  // second finder waits on: no thread of the job learns of the quit, from
  // here or from the state, before the report, so nothing the job does on
  // it (halting the loop, then telling its work is over) precedes it.
  if (state == nullptr) {
    CJobJournal::Instance().ReportQuitSeen(m_jobId, operation);
    return true;
  }
  ZnCriticalSectionLock lock(&m_quitLock);
  if (!state->load()) {
    CJobJournal::Instance().ReportQuitSeen(m_jobId, operation);
    state->store(true);
  }
  return true;
}

void CDRJobManager::UpdatePercentComplete(int percent) {
  ZnCriticalSectionLock lock(&m_lock);
  if (percent > 99) percent = 99;
  if (percent <= 0 || !m_orchClient) return;
  m_orchClient->setPercentComplete(percent);
  m_orchClient->updateInfo();
}

void CDRJobManager::SetPendingCause(int code, ArgumentInfo* args) {
  ZnCriticalSectionLock lock(&m_lock);
  if (!m_orchClient) return;
  if (args) m_orchClient->AppendArguments(args);
  m_orchClient->setPendingCause(static_cast<unsigned int>(code), nullptr, false, 300, 0, 0, 0, true, 0, 0, 0, 0);
  Wait(3000, "Updating pending cause");
}

void CDRJobManager::SetGenericError(std::string text) {
  ArgumentInfo args;
  args.AddArgument(text.c_str(), ArgumentInfo::kTextArgument);
  SetPendingCause(kDRApprovalPendingCause, &args);
}

bool CDRJobManager::IsJobPendingApplicable() { return !m_killIssued.load() && m_allowJobPending && !IsLastAttempt(); }

bool CDRJobManager::IsLastAttempt() { return m_attempt >= 3; }

void CDRJobManager::Wait(int milliseconds, std::string reason) {
  if (milliseconds < 60000)
    m_event.DebugLvl(4, "Wait", "[%s]. Checking back in [%d] seconds ...", reason.c_str(), milliseconds / 1000);
  else
    m_event.Debug("Wait", "[%s]. Checking back in [%d] seconds ...", reason.c_str(), milliseconds / 1000);
  CPlatformClock::Instance().Sleep(milliseconds, "DRJobManager");
}

std::string CDRJobManager::GetDRJobLaunchDesc() {
  return "Launched by DR Orchestration Job [" + std::to_string(m_jobId) + "]";
}

// ---------------------------------------------------------------------------
// Child-job waits

// A child this run resumed is the job's own, as much as one it launched: a
// restart waits on it as on any job it finds running, and a quit must not
// leave it running with no job behind it.
bool CDRJobManager::OwnsChild(long long childJobId, int flags) const {
  return (flags & kWaitFlagOwnsChild) != 0 || m_resumedChildren.count(childJobId) > 0;
}

bool CDRJobManager::HandleQuitDuringWait(long long childJobId, int flags) {
  if (m_killIssued.load()) {
    if (OwnsChild(childJobId, flags))
      PerformJobOperation(childJobId, m_jobId, static_cast<JobManager::JobOperation>(3));
    return false;
  }
  if (m_suspended.load()) {
    if (OwnsChild(childJobId, flags))
      PerformJobOperation(childJobId, m_jobId, static_cast<JobManager::JobOperation>(0));
    return true;
  }
  return false;
}

void CDRJobManager::KillResumedChildJobs() {
  for (long long child : m_resumedChildren) {
    bool running = false;
    if (IsJobRunning(child, running) && !running) continue;
    m_event.Debug("KillResumedChildJobs", "Killing job [%lld], resumed by this restart of DR job [%lld]", child,
                  m_jobId);
    PerformJobOperation(child, m_jobId, static_cast<JobManager::JobOperation>(3));
  }
}

bool CDRJobManager::WaitForJobCompletion(long long& jobId, int flags) {
  if (!isDisableDRJobWaitService()) {
    CDRSrvcAgent* agent = nullptr;
    if (InitDRJobWaitService()) {
      ZnCriticalSectionLock lock(&m_lock);
      agent = m_srvcAgent;
    }
    // A service whose listener has ended delivers nothing: poll instead.
    if (agent != nullptr && agent->IsServing()) {
      if (flags & kWaitFlagOwnsChild) Wait(20000, "Thread wait before JM checks for job completion");
      std::string token;
      int code = 0;
      // Announced before the registration, so a notice that comes before
      // the wait begins is kept for it.
      agent->ExpectJob(jobId);
      if (RegisterForJobCompletionNotification(jobId, token, code, flags)) {
        if (code == kJobAlreadyCompleted) {
          agent->ForgetJob(jobId);
          return true;
        }
        for (;;) {
          // Bounded: a notice lost on its way (a service too busy, a
          // notifier that could not run) must not hold this thread until a
          // DR quit, so the child itself is looked at at the polling pace.
          const CDRSrvcAgent::EWake wake = agent->WaitOnJob(jobId, token, kChildBackstopMs);
          // A timed-out wait still expects the child; every way out but
          // waiting again gives that up.
          const bool expecting = wake == CDRSrvcAgent::kWakeTimeout;
          if (IsQuitFlagSet()) {
            if (expecting) agent->ForgetJob(jobId);
            if (m_killIssued.load()) {
              if (OwnsChild(jobId, flags)) {
                PerformJobOperation(jobId, m_jobId, static_cast<JobManager::JobOperation>(3));
              }
              return false;
            }
            if (m_suspended.load() && OwnsChild(jobId, flags)) {
              PerformJobOperation(jobId, m_jobId, static_cast<JobManager::JobOperation>(0));
            }
            return true;
          }
          // Woken without a notice and without a quit (the listener failed
          // or the agent is going): the child may still run, so poll it.
          if (wake != CDRSrvcAgent::kWakeNotice && wake != CDRSrvcAgent::kWakeTimeout) break;
          // A notice is believed only for a child that has ended: anyone on
          // this machine can send one. A child that runs on, or a read that
          // fails, keeps the wait going.
          bool running = true;
          if (IsJobRunning(jobId, running) && !running) {
            if (expecting) agent->ForgetJob(jobId);
            return true;
          }
          if (wake == CDRSrvcAgent::kWakeNotice) {
            m_event.Error("WaitForJobCompletion",
                          "Ignoring a completion notice for job [%lld], which has not ended; waiting on", jobId);
            agent->DisbelieveNotice(jobId);
            agent->ExpectJob(jobId);
          }
        }
      } else {
        agent->ForgetJob(jobId);
      }
    }
  }
  return WaitForJobCompletionDBPoll(jobId, flags);
}

bool CDRJobManager::WaitForJobCompletionDBPoll(long long& jobId, int flags) {
  m_event.Debug("WaitForJobCompletionDBPoll", "Falling back to DBPoll wait mechanism for job[%lld]", jobId);
  for (;;) {
    bool running = false;
    if (!IsJobRunning(jobId, running)) return false;
    if (IsQuitFlagSet()) return HandleQuitDuringWait(jobId, flags);
    if (!running) return true;
    CPlatformClock::Instance().Sleep(30000, "DRJobManager");
  }
}

bool CDRJobManager::RegisterForJobCompletionNotification(long long jobId, std::string& token, int& code, int flags) {
  long long drJobId = m_jobId;
  GetJobCompletionSrvcToken(drJobId, jobId, token);
  if (token.empty()) {
    m_event.Error("RegisterForJobCompletionNotification",
                  "Token Name empty. Unable to request job completion notification for job [%lld]", jobId);
    return false;
  }
  if (flags & kWaitFlagOwnsChild) Wait(5000, "Thread wait before subscription with JM for job completion notification");
  App_MiscOptions options;
  code = options.requestJobCompletionNotification(jobId, m_haldenId, m_initArg, 3, token, nullptr);
  if (code == kJobAlreadyCompleted) {
    m_event.Debug("RegisterForJobCompletionNotification", "Job [%lld] has already completed", jobId);
    return true;
  }
  if (code != 0) {
    m_event.Error("RegisterForJobCompletionNotification",
                  "Couldn't register to receive completion notification for job [%lld]", jobId);
    return false;
  }
  m_event.Debug("RegisterForJobCompletionNotification",
                "Successfully registered to receive completion notification for job [%lld]", jobId);
  return true;
}

void CDRJobManager::GetJobCompletionSrvcToken(long long& drJobId, long long& jobId, std::string& token) {
  // The thread id keeps the registrations of different waiters apart.
  token = "DRSrvc|" + std::to_string(drJobId) + "|" + std::to_string(GetCurrentThreadId()) + "|JobWait" + "|" +
          std::to_string(jobId);
}

bool CDRJobManager::InitDRJobWaitService() {
  ZnCriticalSectionLock lock(&m_lock);
  if (m_srvcAgent) return true;
  unsigned long threads = 0;
  if (!ZNPlatformInfo::getNumber("Session", "DROrchestration_IOCPThreads", &threads) || threads == 0) {
    threads = 1;
    ZNPlatformInfo::setNumber("Session", "DROrchestration_IOCPThreads", threads);
    m_event.Debug("InitDRJobWaitService", "Set DROrchestration_IOCPThreads to [%d]", static_cast<int>(threads));
  }
  CSessionPort port(0, 0);
  port.SetType(4);
  m_srvcName = "DRSrvc|" + std::to_string(m_jobId);
  m_event.Debug("InitDRJobWaitService", "Launching DRSrvc: [%s]", m_srvcName.c_str());
  std::unique_ptr<CDRSrvcAgent> agent(new (std::nothrow) CDRSrvcAgent(this, port, m_srvcName));
  if (!agent || !agent->IsListening() || !agent->StartListenerThread()) {
    m_event.Error("InitDRJobWaitService", "Failed to create Session Server object.");
    return false;
  }
  m_srvcAgent = agent.release();
  return true;
}

bool CDRJobManager::isDisableDRJobWaitService() {
  unsigned long value = 0;
  return ZNPlatformInfo::getNumber("Session", "bDisableDRJobWaitService", &value) && value == 1;
}

bool CDRJobManager::WaitForAuxJobCompletion(long long& backupJobId, long long& auxJobId, long copyId, bool& copied,
                                            int flags) {
  for (;;) {
    Wait(30000, "Wait for aux copy job");
    bool running = false;
    if (!IsJobRunning(auxJobId, running)) return false;
    if (IsQuitFlagSet()) return HandleQuitDuringWait(auxJobId, flags);
    if (!IsBackupJobAuxCopied(backupJobId, copyId, copied)) return false;
    if (copied || !running) return true;
  }
}

bool CDRJobManager::WaitForSyncJobCompletion(long long& syncJobId, long long& backupJobId,
                                             const std::vector<int>& replicationIds, int flags) {
  bool synced = false;
  for (;;) {
    Wait(30000, "Wait for sync job");
    bool running = false;
    if (!IsJobRunning(syncJobId, running)) return false;
    if (IsQuitFlagSet()) return HandleQuitDuringWait(syncJobId, flags);
    // Without a backup there is none to find replicated: the sync job's end
    // is what is waited for (the check would fail the wait at once).
    if (backupJobId >= 1 && !IsAllVMsSynced(backupJobId, replicationIds, synced)) return false;
    if (synced || !running) return true;
  }
}

bool CDRJobManager::IsAllVMsSynced(long long& backupJobId, const std::vector<int>& replicationIds, bool& allSynced) {
  if (backupJobId < 1) return false;
  std::vector<std::pair<long long, int>> children;
  bool vmChildren = true;
  if (!GetBackupChildJobs(backupJobId, children, vmChildren)) {
    m_event.Error("IsAllVMsSynced", "Query backup child jobs failed for parent job [%lld]", backupJobId);
    return false;
  }
  m_event.DebugLvl(2, "IsAllVMsSynced", "Check sync status for all DR VMs");
  size_t count = 0;
  for (int replicationId : replicationIds) {
    APP_VSAReplication table(nullptr);
    table.setIsolationType(4);
    table.setWhere("replicationId = %d", replicationId);
    if (getOneRow(&table, false, -1, 0) != 0) {
      m_event.Error("IsAllVMsSynced",
                    "Couldn't query replication entry in APP_VSAReplication for replication Id [%d] ", replicationId);
      return false;
    }
    const APP_VSAReplication_t* row = table.getDataPtr();
    if (row->replicationId == 0 || row->status != 1) continue;
    const long long lastSynced = static_cast<long long>(row->lastSyncedBkpJob);
    if (vmChildren) {
      // The VM children of one backup all carry the subclient id every
      // replication of the group shares, so they cannot tell this VM's job
      // from another's: a replication counts once, when it has synced a
      // child of its subclient.
      for (const auto& child : children) {
        if (child.second == row->subclientId && child.first <= lastSynced) {
          ++count;
          break;
        }
      }
    } else if (!children.empty() && lastSynced >= children.front().first) {
      ++count;
    }
  }
  if (count == replicationIds.size()) {
    m_event.Debug("IsAllVMsSynced", "All DR VMs are IN SYNC");
    allSynced = true;
  }
  return true;
}

bool CDRJobManager::GetBackupChildJobs(long long& parentJobId, std::vector<std::pair<long long, int>>& children,
                                       bool& vmChildren) {
  if (parentJobId < 1) return false;
  {
    ZnCriticalSectionLock lock(&m_backupChildJobCacheLock);
    auto it = m_backupChildJobCache.find(parentJobId);
    if (it != m_backupChildJobCache.end()) {
      // A hit tells what the first lookup found, fallback included.
      children = it->second.children;
      vmChildren = it->second.vmChildren;
      return true;
    }
  }
  m_event.DebugLvl(2, "GetBackupChildJobs", "Query VM childs job for parent job [%lld]", parentJobId);
  JMJobDataLink table(nullptr);
  table.setWhere("parentJobId = '%lld' and haldenId =2 and linkType = 7", parentJobId);
  int rc = getOneRow(&table, false, -1, 0);
  SBackupChildJobs found;
  if (rc != 0) {
    m_event.DebugLvl(4, "GetBackupChildJobs", "Query VM child jobs in table JMJobDataLink failed with Error code [%ld]",
                     static_cast<long>(rc));
    if (rc != 100) {
      m_event.Error("GetBackupChildJobs", "Query VM child jobs failed for parent job [%lld]", parentJobId);
      return false;
    }
    m_event.Debug("GetBackupChildJobs", "Trying with parent backup job [%lld] for V1 client", parentJobId);
    found.children.emplace_back(parentJobId, 0);
    found.vmChildren = false;
  } else {
    // The first row told that there are children; iteration state 0 runs
    // the query again from its first row, so each row is read once.
    int state = 0;
    while ((rc = getNextRow(&table, &state, -1, 0)) == 0) {
      const JMJobDataLink_t* row = table.getDataPtr();
      if (row->childJobId != 0) {
        found.children.emplace_back(row->childJobId, row->childAppid);
        m_event.Debug("GetBackupChildJobs", "Retrieved child backup job [%lld] for parent job [%lld]",
                      static_cast<long long>(row->childJobId), parentJobId);
      }
    }
    if (rc != 100) {
      m_event.Error("GetBackupChildJobs", "Query VM child jobs failed for parent job [%lld]", parentJobId);
      return false;
    }
    found.vmChildren = true;
  }
  ZnCriticalSectionLock lock(&m_backupChildJobCacheLock);
  m_backupChildJobCache[parentJobId] = found;
  children = found.children;
  vmChildren = found.vmChildren;
  return true;
}

namespace {

// The direct connection of the aux-copy check, closed on every path.
class CSqlConnection {
 public:
  CSqlConnection() {
    m_conn.setRegValueDSNSource("sConnection");
    m_conn.setRegValueDSNPermissions("pACCESS");
  }
  ~CSqlConnection() {
    if (m_open) m_conn.CloseSQLConnection();
  }
  int Open() {
    const int rc = m_conn.OpenSQLConnection(0);
    m_open = rc == 0;
    return rc;
  }
  ZNSimpleDBConnObject& Get() { return m_conn; }

 private:
  ZNSimpleDBConnObject m_conn;
  bool m_open = false;
};

}  // namespace

bool CDRJobManager::IsBackupJobAuxCopied(long long& backupJobId, long copyId, bool& copied) {
  CSqlConnection connection;
  const int opened = connection.Open();
  if (opened != 0) {
    m_event.Error("IsBackupJobAuxCopied", "Failed to open SQL Connection for [%s] Error Code [%d]", "sConnection",
                  opened);
    return false;
  }
  std::vector<std::pair<long long, int>> children;
  bool vmChildren = true;
  if (!GetBackupChildJobs(backupJobId, children, vmChildren)) {
    m_event.Error("IsBackupJobAuxCopied", "Query backup child jobs failed for parent job [%lld]", backupJobId);
    return false;
  }
  size_t copiedChildren = 0;
  for (const auto& child : children) {
    m_event.DebugLvl(2, "IsBackupJobAuxCopied", "Attempting to find backup job [%lld] copied to aux for copyId [%ld]",
                     child.first, copyId);
    char query[1024];
    snprintf(query, sizeof(query),
             "SELECT    JDS.jobId, JDS.haldenId, JDS.archGrpCopyId  FROM    JMJobDataStats JDS  WHERE    JDS.JobId = "
             "%lld  AND JDS.haldenId = 2  AND JDS.archGrpCopyId = %ld  GROUP BY JDS.jobId, JDS.haldenId, "
             "JDS.archGrpCopyId  HAVING MIN(JDS.Status) = 100 AND MAX(JDS.status) = 100",
             child.first, copyId);
    m_event.DebugLvl(4, "IsBackupJobAuxCopied", "Execute query [%s] to find backup job [%lld] copied to aux for copyId [%ld]",
                     query, child.first, copyId);
    const int executed = connection.Get().ExecuteSQL(query);
    if (executed != 0) {
      m_event.Error("IsBackupJobAuxCopied", "Failed to execute  SQL query [%s] Error Code [%d]", query, executed);
      return false;
    }
    const int fetched = connection.Get().FetchRow();
    if (fetched == 0) {
      ++copiedChildren;
      m_event.Debug("IsBackupJobAuxCopied", "Backup job [%lld] successfully copied to aux on copyId [%ld]",
                    child.first, copyId);
    } else if (fetched == 1) {
      m_event.DebugLvl(2, "IsBackupJobAuxCopied", "Backup job [%lld] is not yet copied to aux on copyId [%ld]",
                       child.first, copyId);
    } else {
      m_event.Error("IsBackupJobAuxCopied", "Query to check backup job [%lld] copied to aux failed for copyId [%ld]",
                    child.first, copyId);
      return false;
    }
  }
  if (copiedChildren > 0 && copiedChildren == children.size()) {
    m_event.Debug("IsBackupJobAuxCopied", "All Backup jobs are successfully copied to aux on copyId [%ld]", copyId);
    copied = true;
  }
  return true;
}

void CDRJobManager::WaitOnRunningBkpJobsForSubclient(long appId, long long& jobId) {
  m_event.Debug("WaitOnRunningBkpJobsForSubclient", "Attempting to find running bkp jobs for appId [%ld]", appId);
  JMBkpJobInfo table(nullptr);
  table.setWhere("applicationId = '%ld' ", appId);
  table.setTop(1);
  if (getOneRow(&table, false, -1, 0) != 0 || table.getDataPtr()->jobId == 0) {
    m_event.Debug("WaitOnRunningBkpJobsForSubclient", "No running bkp jobs found for appId [%ld]", appId);
    return;
  }
  jobId = table.getDataPtr()->jobId;
  m_event.Debug("WaitOnRunningBkpJobsForSubclient", "Waiting for backup job [%lld] to complete for subclient [%ld]",
                jobId, appId);
  CJobJournal::Instance().ReportChildWait(m_jobId, jobId);
  WaitForJobCompletion(jobId, 0);
}

void CDRJobManager::WaitonRunningAuxJobsForCopy(long long& backupJobId, long copyId, long long& auxJobId,
                                                bool& copied) {
  m_event.Debug("WaitonRunningAuxJobsForCopy", "Attempting to find running auxcopy jobs for copy[%ld]", copyId);
  JMAdminJobInfoTable table(nullptr);
  table.setWhere("archGrpCopyID = '%ld' ", copyId);
  table.setTop(1);
  if (getOneRow(&table, false, -1, 0) != 0 || table.getDataPtr()->jobId == 0) {
    m_event.Debug("WaitonRunningAuxJobsForCopy", "No running aux jobs found for copy[%ld]", copyId);
    return;
  }
  auxJobId = table.getDataPtr()->jobId;
  m_event.Debug("WaitonRunningAuxJobsForCopy", "Waiting for aux copy job [%lld] to complete for copyId [%ld]",
                auxJobId, copyId);
  CJobJournal::Instance().ReportChildWait(m_jobId, auxJobId);
  WaitForAuxJobCompletion(backupJobId, auxJobId, copyId, copied, kWaitFlagOwnsChild);
}

void CDRJobManager::WaitonRunningBackupCopyJobsForSP(long storagePolicyId, long long& jobId) {
  m_event.Debug("WaitonRunningBackupCopyJobsForSP", "Attempting to find running backup copy jobs for storage policy[%ld]",
                storagePolicyId);
  JMAdminJobInfoTable table(nullptr);
  table.setWhere("archGrpID = '%ld' ", storagePolicyId);
  table.setTop(1);
  if (getOneRow(&table, false, -1, 0) != 0 || table.getDataPtr()->jobId == 0) {
    m_event.Debug("WaitonRunningBackupCopyJobsForSP", "No running backup copy jobs found for sp[%ld]", storagePolicyId);
    return;
  }
  jobId = table.getDataPtr()->jobId;
  m_event.Debug("WaitonRunningBackupCopyJobsForSP", "Waiting for backup copy job [%lld] to complete for sp [%ld]", jobId,
                storagePolicyId);
  CJobJournal::Instance().ReportChildWait(m_jobId, jobId);
  WaitForJobCompletion(jobId, 0);
}

bool CDRJobManager::WaitonRunningSyncJobs(long taskId, long long& backupJobId, const std::vector<int>& replicationIds,
                                          std::vector<JobManager::JobInfo>& jobs) {
  if (!GetRunningSyncJobs(taskId, jobs)) return true;
  for (JobManager::JobInfo& job : jobs) {
    long long syncJobId = job.GetInt64(JobManager::JobInfo::kJobId);
    m_event.Debug("WaitonRunningSyncJobs", "Waiting for sync job [%lld] to complete", syncJobId);
    CJobJournal::Instance().ReportChildWait(m_jobId, syncJobId);
    WaitForSyncJobCompletion(syncJobId, backupJobId, replicationIds, 0);
  }
  return true;
}

bool CDRJobManager::GetRunningSyncJobs(long taskId, std::vector<JobManager::JobInfo>& jobs) {
  ZnEntities::TaskEntity task;
  task.SetInt32(ZnEntities::TaskEntity::kTaskId, static_cast<int32_t>(taskId));
  JobManager::GetRunningSyncJobsReq req;
  req.SetMsg(JobManager::GetRunningSyncJobsReq::kTaskEntity, task);
  std::string response;
  if (!CDRAppManager::ExecuteStoredProcedure(req, response, JobManager::GetRunningSyncJobsReq::kTypeId)) return false;
  m_event.Debug("GetRunningSyncJobs", "GetRunningSyncJobsResp  [%s]", response.c_str());
  JobManager::GetRunningSyncJobsResp resp;
  if (!resp.Unserialize(response)) {
    m_event.Error("GetRunningSyncJobs", "Failed to unserialize GetRunningSyncJobsResp response");
    return false;
  }
  jobs.clear();
  for (size_t i = 0; i < resp.ListSize(JobManager::GetRunningSyncJobsResp::kRunningJobs); ++i) {
    jobs.push_back(resp.GetListMsgAs<JobManager::JobInfo>(JobManager::GetRunningSyncJobsResp::kRunningJobs, i));
  }
  return !jobs.empty();
}

// ---------------------------------------------------------------------------
// Job operations and queries

bool CDRJobManager::PerformJobOperation(long long childJobId, long long parentJobId, JobManager::JobOperation op) {
  std::string word = DRHelper::GetJobOpStr(op);
  std::string reason =
      word + "ed as parent DR job [" + std::to_string(parentJobId) + "] was " + word + "ed";
  std::string child = std::to_string(childJobId);

  JobManager::PerformMultiCellJobOpReq req;
  CNMessageBase& opReq = req.MutableMsg(JobManager::PerformMultiCellJobOpReq::kOperationReq);
  opReq.SetInt32(JobManager::PerformJobOperationReq::kOperation, op);
  opReq.AddMsg(JobManager::PerformJobOperationReq::kJobs).SetInt64(JobManager::JobSummary::kJobId, childJobId);
  req.SetInt32(JobManager::PerformMultiCellJobOpReq::kFlag3, 1);
  req.SetString(JobManager::PerformMultiCellJobOpReq::kReason, reason);
  std::string xml, error;
  if (!req.serializeUTF8(xml)) {
    m_event.Error("PerformJobOperation", "Failed to serialize message request");
    return false;
  }
  if (XMLHandler::handleXMLReq(1, JobManager::PerformMultiCellJobOpReq::kTypeId, xml, error, "", 0) != 0) {
    m_event.Error("PerformJobOperation", "Error [%s] %sing job [%s] ", error.c_str(), word.c_str(), child.c_str());
    return false;
  }
  m_event.Error("PerformJobOperation", "[%s] request issued for job [%s] ", word.c_str(), child.c_str());

  if (op == 3) {
    for (int i = 0; i < 60; ++i) {
      Wait(30000, "Waiting for child jobs to cleanup");
      std::string status;
      if (!GetJobStatus(childJobId, status)) break;
      std::transform(status.begin(), status.end(), status.begin(),
                     [](unsigned char c) { return static_cast<char>(toupper(c)); });
      if (status == "COMPLETED" || status == "KILLED" || status == "FAILED") break;
    }
  } else if (op == 0) {
    Wait(5000, "Waiting for child job(s) to suspend");
  }
  return true;
}

bool CDRJobManager::GetJobStatusResponse(std::vector<long long>& jobIds, JobManager::JobListResponse& response) {
  for (long long id : jobIds) {
    if (!FitsInt32(id)) {
      m_event.Error("GetJobStatusResponse", "Job id [%lld] does not fit the 32-bit job list filter. Not queried.", id);
      return false;
    }
  }
  JobManager::JobListRequest req;
  req.SetInt32(JobManager::JobListRequest::kFlag3, 1);
  CNMessageBase& sort = req.MutableMsg(JobManager::JobListRequest::kSortOrder);
  sort.SetString(JobManager::JobSortOrderFields::kColumn, "jobId");
  sort.SetInt32(JobManager::JobSortOrderFields::kDirection, 1);
  JobManager::JobFilter filter;
  filter.SetInt32(JobManager::JobFilter::kTimeWindowSeconds, 86400);
  filter.TouchField(JobManager::JobFilter::kJobIds);
  for (long long id : jobIds) filter.AddInt32(JobManager::JobFilter::kJobIds, static_cast<int32_t>(id));
  req.SetMsg(JobManager::JobListRequest::kFilter, filter);

  std::string xml, error;
  if (!req.serializeUTF8(xml)) {
    m_event.Error("GetJobStatusResponse", "Error in serializing jobListReq message.");
    return false;
  }
  m_event.DebugLvl(2, "GetJobStatusResponse", "Job List Req %s", xml.c_str());
  if (XMLHandler::handleXMLReq(1, req.TypeId(), xml, error, "", 0) != 0) {
    m_event.Error("GetJobStatusResponse", "Error [%s] in sending job list request", error.c_str());
    return false;
  }
  m_event.DebugLvl(2, "GetJobStatusResponse", "Job Response is -> %s", xml.c_str());
  if (!response.Unserialize(xml)) {
    m_event.Error("GetJobStatusResponse", "Error in unserializing Job List response");
    return false;
  }
  return true;
}

bool CDRJobManager::GetJobSummary(long long jobId, JobManager::JobSummary* summary) {
  std::vector<long long> ids{jobId};
  JobManager::JobListResponse response;
  if (!GetJobStatusResponse(ids, response)) {
    m_event.Error("GetJobSummary", "Failed to get the job status.");
    return false;
  }
  if (response.ListSize(JobManager::JobListResponse::kEntries) == 0) {
    m_event.Error("GetJobSummary", "Failed to get JobSummary for job [%lld]", jobId);
    return false;
  }
  std::string xml;
  if (!response.GetListMsg(JobManager::JobListResponse::kEntries, 0)
           .GetMsg(JobManager::JobListEntryFields::kSummary)
           .serializeUTF8(xml)) {
    m_event.Error("GetJobSummary", "Failed to serialize JobSummary");
    return false;
  }
  if (!summary || !summary->Unserialize(xml)) {
    m_event.Error("GetJobSummary", "Failed to unserialize JobMananger::JobSummary");
    return false;
  }
  return true;
}

bool CDRJobManager::GetJobStatus(long long jobId, std::string& status) {
  JobManager::JobSummary summary;
  if (!GetJobSummary(jobId, &summary)) {
    m_event.Error("GetJobStatus", "Failed to get job status for job [%lld]", jobId);
    return false;
  }
  status = summary.GetString(JobManager::JobSummary::kStatus);
  m_event.Debug("GetJobStatus", "Retrieved job status as [%s] for job [%lld]", status.c_str(), jobId);
  return true;
}

float CDRJobManager::GetJobPercentageComplete(long long jobId) {
  JobManager::JobSummary summary;
  if (!GetJobSummary(jobId, &summary)) return 0.0f;
  return summary.GetFloat(JobManager::JobSummary::kPercentComplete);
}

bool CDRJobManager::IsJobRunning(long long jobId, bool& running) {
  JobManager::JobSummary summary;
  if (!GetJobSummary(jobId, &summary)) return false;
  float percent = summary.GetFloat(JobManager::JobSummary::kPercentComplete);
  m_event.DebugLvl(6, "IsJobRunning", "JobId[%lld] JobStatus[%s] PercentComplete[%f]", jobId,
                   summary.GetString(JobManager::JobSummary::kStatus).c_str(), static_cast<double>(percent));
  running = percent != 100.0f;
  return true;
}

bool CDRJobManager::IsJobKillIssuedForJob(long long& jobId) {
  std::string status;
  if (!GetJobStatus(jobId, status)) return false;
  return DRHelper::IsJobKilledIssued(status);
}

bool CDRJobManager::IsJobFailed(long long& jobId, bool notSuccessfulCounts) {
  std::string status;
  if (!GetJobStatus(jobId, status)) return true;
  if (notSuccessfulCounts) return !DRHelper::IsJobSuccessful(status);
  return DRHelper::IsJobFailed(status);
}

bool CDRJobManager::GetPhasesForJob(long long jobId, std::vector<Api::VirtualAppJob>& out) {
  if (!FitsInt32(jobId)) {
    m_event.Error("GetPhasesForJob", "Job id [%lld] does not fit the 32-bit VirtualAppJobDetailsReq. Not queried.",
                  jobId);
    return false;
  }
  Api::VirtualAppJobDetailsReq req;
  req.SetInt32(Api::VirtualAppJobDetailsReq::kJobId, static_cast<int32_t>(jobId));
  std::string xml, error;
  if (!req.serializeUTF8(xml)) {
    m_event.Error("GetPhasesForJob", "Failed to serialize message request");
    return false;
  }
  if (XMLHandler::handleXMLReq(1, req.TypeId(), xml, error, "", 0) != 0) {
    m_event.Error("GetPhasesForJob", "Error [%s] during VirtualAppJobDetailsReq", error.c_str());
    return false;
  }
  Api::VirtualAppJobDetailsResp resp;
  if (!resp.Unserialize(xml)) {
    m_event.Error("GetPhasesForJob", "Failed to unserialize VirtualAppJobDetailsResp response");
    return false;
  }
  for (size_t i = 0; i < resp.ListSize(Api::VirtualAppJobDetailsResp::kJobs); ++i)
    out.push_back(resp.GetListMsgAs<Api::VirtualAppJob>(Api::VirtualAppJobDetailsResp::kJobs, i));
  return true;
}

long long CDRJobManager::ChildJobOfPhase(const Api::VirtualAppJobPhase& phase) {
  if (!phase.Has(Api::VirtualAppJobPhase::kPhaseInfo)) return 0;
  const CNMessageBase& info = phase.GetMsg(Api::VirtualAppJobPhase::kPhaseInfo);
  if (!info.Has(Api::VirtualAppPhaseInfo::kJobInfos) || info.ListSize(Api::VirtualAppPhaseInfo::kJobInfos) == 0)
    return 0;
  return info.GetListMsg(Api::VirtualAppPhaseInfo::kJobInfos, 0).GetInt64(Api::VirtualAppJobInfo::kJobId);
}

void CDRJobManager::GetDRChildJobs(std::vector<Api::VirtualAppJob>& records, Api::VirtualAppPhaseState state,
                                   std::set<long long>& out, bool filterByState) {
  for (const Api::VirtualAppJob& record : records) {
    for (size_t i = 0; i < record.ListSize(Api::VirtualAppJob::kPhases); ++i) {
      const Api::VirtualAppJobPhase& phase =
          record.GetListMsgAs<Api::VirtualAppJobPhase>(Api::VirtualAppJob::kPhases, i);
      long long child = ChildJobOfPhase(phase);
      if (child <= 0) continue;
      if (filterByState && phase.GetInt32(Api::VirtualAppJobPhase::kPhaseState) != state) continue;
      out.insert(child);
    }
  }
}

void CDRJobManager::GetSuspendedChildJobs(std::vector<Api::VirtualAppJob>& records, std::set<long long>& out) {
  std::set<long long> children;
  GetDRChildJobs(records, static_cast<Api::VirtualAppPhaseState>(2), children, true);
  for (long long child : children) {
    std::string status;
    if (GetJobStatus(child, status) && DRHelper::IsJobSuspended(status)) out.insert(child);
  }
}

void CDRJobManager::GetJobIDForPhase(std::vector<Api::VirtualAppJob>& records, Api::VirtualAppJobPhaseType phase,
                                     int replicationId, long long& jobId) {
  const Api::VirtualAppJob* first = nullptr;
  for (const Api::VirtualAppJob& record : records) {
    if (record.GetInt32(Api::VirtualAppJob::kReplicationId) != replicationId) continue;
    first = &record;
    break;
  }
  JobIDForPhaseIn(first, phase, replicationId, jobId);
}

void CDRJobManager::GetJobIDForPhase(Api::VirtualAppJobPhaseType phase, int replicationId, long long& jobId) {
  const std::vector<const Api::VirtualAppJob*>& records = GetRestartHistoryOf(replicationId);
  JobIDForPhaseIn(records.empty() ? nullptr : records.front(), phase, replicationId, jobId);
}

void CDRJobManager::JobIDForPhaseIn(const Api::VirtualAppJob* first, Api::VirtualAppJobPhaseType phase,
                                    int replicationId, long long& jobId) {
  long long found = 0;
  if (first != nullptr) {
    for (size_t i = 0; i < first->ListSize(Api::VirtualAppJob::kPhases) && found == 0; ++i) {
      const Api::VirtualAppJobPhase& p = first->GetListMsgAs<Api::VirtualAppJobPhase>(Api::VirtualAppJob::kPhases, i);
      if (p.GetInt32(Api::VirtualAppJobPhase::kPhaseType) != phase) continue;
      found = ChildJobOfPhase(p);
    }
  }
  if (found == 0) {
    std::string xml;
    if (GetVirtualAppPhaseDetails(m_jobId, phase, replicationId, xml)) {
      Api::VirtualAppPhaseInfo info;
      if (!info.Unserialize(xml))
        m_event.Error("GetJobIDForPhase", "Failed to unserialize VirtualAppPhaseInfo response");
      else if (info.Has(Api::VirtualAppPhaseInfo::kJobInfos) && info.ListSize(Api::VirtualAppPhaseInfo::kJobInfos) > 0)
        found = info.GetListMsg(Api::VirtualAppPhaseInfo::kJobInfos, 0).GetInt64(Api::VirtualAppJobInfo::kJobId);
    }
  }
  if (found != 0) {
    jobId = found;
    m_event.Error("GetJobIDForPhase", "Found existing job [%llu] for phase [%d] replication [%d] in PhaseTbl",
                  static_cast<unsigned long long>(jobId), static_cast<int>(phase), replicationId);
  }
}

void CDRJobManager::IndexRestartHistory() {
  m_historyByReplication.clear();
  for (const Api::VirtualAppJob& record : m_restartHistory) {
    m_historyByReplication[record.GetInt32(Api::VirtualAppJob::kReplicationId)].push_back(&record);
  }
}

const std::vector<const Api::VirtualAppJob*>& CDRJobManager::GetRestartHistoryOf(int replicationId) const {
  static const std::vector<const Api::VirtualAppJob*> kNone;
  auto it = m_historyByReplication.find(replicationId);
  return it == m_historyByReplication.end() ? kNone : it->second;
}

int CDRJobManager::GetVirtualAppPhaseState(long long jobId, int phase) {
  App_VirtualAppJobStats table(nullptr);
  table.setWhere("jobId = '%lld' AND phase = '%d' ", jobId, phase);
  table.setTop(1);
  if (getOneRow(&table, false, -1, 0) != 0) {
    m_event.Debug("GetVirtualAppPhaseState", "Failed to fetch Virtual app phase from jobId [%lld] phaseId [%d]",
                  jobId, phase);
    return -1;
  }
  return table.getDataPtr()->status;
}

bool CDRJobManager::GetVirtualAppPhaseDetails(long long jobId, int phase, int replicationId, std::string& details) {
  App_VirtualAppJobStats table(nullptr);
  table.setWhere("jobId = '%lld' AND phase = '%d' AND replicationId = '%d' ", jobId, phase, replicationId);
  table.setTop(1);
  if (getOneRow(&table, false, -1, 0) != 0) {
    m_event.Debug("GetVirtualAppPhaseDetails",
                  "Failed to fetch Virtual app phase from jobId [%lld] phaseId [%d] repl [%d]", jobId, phase,
                  replicationId);
    return false;
  }
  const char* text = table.getDataPtr()->details;
  if (!text) return false;
  details = text;
  return true;
}

bool CDRJobManager::StartWorkflowJob(const std::string& workflowName, const std::string& inputs, int clientId,
                                     int userId, long long& jobId) {
  TMMsg::CreateTaskReq req;
  CNMessageBase& info = req.MutableMsg(TMMsg::CreateTaskReq::kTaskInfo);
  CNMessageBase& sub = info.AddMsg(TMMsg::TaskInfo::kSubTasks);
  CNMessageBase& entity = info.AddMsg(TMMsg::TaskInfo::kAssociations);
  CNMessageBase& task = info.MutableMsg(TMMsg::TaskInfo::kTask);
  task.SetInt32(TMMsg::TaskObjectFields::kTaskType, 2);
  task.SetInt32(TMMsg::TaskObjectFields::kFlag5, 1);
  CNMessageBase& subTask = sub.MutableMsg(TMMsg::SubTaskInfo::kSubTask);
  subTask.SetInt32(TMMsg::SubTaskObjectFields::kOperationCode, 2001);
  subTask.SetInt32(TMMsg::SubTaskObjectFields::kFlag3, 1);
  m_event.DebugLvl(3, "StartWorkflowJob", "Setting workflow name: [%s]", workflowName.c_str());
  m_event.DebugLvl(3, "StartWorkflowJob", "Workflow Input : [%s]", inputs.c_str());
  sub.MutableMsg(TMMsg::SubTaskInfo::kJobOptions).SetString(TMMsg::JobOption::kWorkflowInputXml, inputs);
  entity.SetInt32(ZnEntities::GenericEntity::kEntityKind, 83);
  int haldenId = 0;
  ZNClient(clientId).getHaldenId(haldenId);
  entity.SetInt64(ZnEntities::GenericEntity::kClientId, haldenId);
  entity.SetString(ZnEntities::GenericEntity::kWorkflowName, workflowName);

  std::string xml;
  if (!req.serializeUTF8(xml)) {
    m_event.Error("StartWorkflowJob", "Failed to serialize worflow task request ");
    return false;
  }
  m_event.DebugLvl(3, "StartWorkflowJob", "Workflow Task XML: [%s]", xml.c_str());
  EvTask evTask(0, 0, nullptr, false);
  std::list<long long> jobIds;
  int code = 0;
  std::string error;
  int rc = evTask.TaskRequest(xml, jobIds, code, userId, error, TMMsg::CreateTaskReq::kTypeId, 0, 0, false, false);
  if (rc != 0) {
    m_event.Error("StartWorkflowJob", "Failed to create workflow task with code [%d]: %s", rc, error.c_str());
    return false;
  }
  if (jobIds.empty()) {
    m_event.Error("StartWorkflowJob", "Failed to get workflow job id");
    return false;
  }
  m_event.DebugLvl(3, "StartWorkflowJob", "Workflow [%s] successfully initiated for user [%d]", workflowName.c_str(),
                   userId);
  jobId = jobIds.front();
  return true;
}

bool CDRJobManager::StartDRApprovalJob(const std::string& action, int userId, int clientId, int vAppId,
                                       long long drJobId, long long& jobId) {
  std::string inputs = "<inputs><vappId>" + std::to_string(vAppId) + "</vappId><jobId>" + std::to_string(drJobId) +
                       "</jobId><Action>" + action + "</Action></inputs>";
  const std::string name = "DRApproval";
  if (!StartWorkflowJob(name, inputs, clientId, userId, jobId)) {
    m_event.Error("StartDRApprovalJob", "Failed to launch worflow [%s]", name.c_str());
    return false;
  }
  return true;
}

bool CDRJobManager::DeleteSnapsForJob(long long snapJobId) {
  SMVolSnapInfo info;
  info.snapJobId = snapJobId;
  info.jobId = m_jobId;
  info.retrieveValidFlags = 1;
  ZNSnapClientAPI reader;
  if (reader.getVolumeSnaps(info) == 0) {
    ZNSnapClientAPI deleter;
    return deleter.deleteVolumeSnaps(info) == 0;
  }
  std::string error;
  reader.getErrCodeAndStr(error);
  m_event.Error("DeleteSnapsForJob", "Failed to get SnapShot info for job [%lld] with error [%s]", snapJobId,
                error.c_str());
  return false;
}

bool CDRJobManager::InitZNJobQuery(ZNJobQuery& query) {
  char hostName[1024];
  memset(hostName, 0, sizeof(hostName));
  if (ZNPlatformInfo::getCommClientDHHostName(hostName, 1023) != 0) {
    m_event.Error("InitZNJobQuery", "Failed to fetch the server name");
    return false;
  }
  query.setPlatformType(4);
  if (query.init(hostName) != 0) {
    m_event.Error("InitZNJobQuery", "Error in initializing the jobQry object");
    return false;
  }
  return true;
}
