// CDRJobManager: the DR job's own state inside the engine and its hold on
// child jobs.
//
// The host builds one per DR job and calls Initialize with the job's DR
// orchestration client before it hands the object to the orchestrator (first
// member of DRInitParams). Every worker thread then reaches it through the
// orchestrator: quit, kill and suspend detection, progress, pending cause,
// the logged waits, the child-job operations and queries, and the waits on
// child jobs.
//
// Threads: the query, operation and wait members keep no state of their own
// and may run on any thread at once. The kill and suspend flags are atomic
// and sticky, set after the quit that sets them is reported (m_quitLock). Progress, pending cause and the start of the job-wait service
// are serialised by m_lock; the backup child-job cache has its own lock.
#pragma once

#include <stdint.h>

#include <atomic>
#include <set>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "drorch/DRExport.h"
#include "drorch/ZnCriticalSection.h"
#include "log/EvEvent.h"
#include "msg/MsgClasses.h"
#include "msg/MsgEnums.h"

class ArgumentInfo;
class CDRSrvcAgent;
class ZNDROrchestrationClnt;
class ZNJobCtrlClient;
class ZNJobQuery;

class DR_EXPORT CDRJobManager {
 public:
  // Wait flag: the caller owns the child, so a DR quit kills or suspends it.
  static constexpr int kWaitFlagOwnsChild = 2;
  // Registration result when the child has already ended.
  static constexpr int kJobAlreadyCompleted = 0xa00016;

  CDRJobManager();
  ~CDRJobManager();
  CDRJobManager(const CDRJobManager&) = delete;
  CDRJobManager& operator=(const CDRJobManager&) = delete;

  // ---- start-up ------------------------------------------------------------
  // Must succeed before any other call; after false the object is only
  // destroyed. initArg is handed on with every completion registration.
  bool Initialize(ZNDROrchestrationClnt& client, int initArg, int haldenId);
  bool LoadJobOptions();
  void CheckForRestart();

  // ---- job state and control -----------------------------------------------
  bool IsQuitFlagSet();
  void UpdatePercentComplete(int percent);
  void SetPendingCause(int code, ArgumentInfo* args);
  void SetGenericError(std::string text);
  bool IsJobPendingApplicable();
  bool IsLastAttempt();
  // Logged sleep that every wait loop goes through.
  void Wait(int milliseconds, std::string reason);
  std::string GetDRJobLaunchDesc();

  long long GetJobId() const { return m_jobId; }
  int GetUserID() const { return m_userId; }
  TMMsg::JobOption& GetJobOptions() { return m_jobOptions; }
  int GetHDID() const { return m_haldenId; }
  bool IsJobRestarted() const { return m_restarted; }
  std::vector<Api::VirtualAppJob>& GetJobRestartHistory() { return m_restartHistory; }
  // The history's records of one replication, in the history's order; empty
  // for a replication the earlier attempts left no record of. Initialize
  // indexes the history once per attempt, after which it is only read: each
  // machine's restart checks then cost its own records, not the whole
  // history's.
  const std::vector<const Api::VirtualAppJob*>& GetRestartHistoryOf(int replicationId) const;
  Api::VirtualAppPhaseState GetDRJobState() const { return m_drJobState; }
  void SetDRJobState(Api::VirtualAppPhaseState state) { m_drJobState = state; }
  int GetJobBeginPercentage() const { return m_beginPercentage; }
  void SetAllowJobPending(bool allow) { m_allowJobPending = allow; }
  bool IsJobSuspended() const { return m_suspended.load(); }
  bool IsJobKillIssued() const { return m_killIssued.load(); }
  bool IsDRJobCleanupPhase() const { return m_cleanupPhase; }
  // The host marks a run of the job's clean-up phase before Initialize.
  void SetDRJobCleanupPhase(bool cleanup) { m_cleanupPhase = cleanup; }
  int GetAttempt() const { return m_attempt; }
  // Kills each child job Initialize resumed on a restart that has not ended.
  // The orchestrator calls it when the DR job was killed: a resumed child
  // that no step of this run got to wait on would run on with no job behind
  // it, where a child the job launched is killed by its wait.
  void KillResumedChildJobs();

  // ---- child-job waits -----------------------------------------------------
  bool WaitForJobCompletion(long long& jobId, int flags);
  bool WaitForJobCompletionDBPoll(long long& jobId, int flags);
  bool WaitForAuxJobCompletion(long long& backupJobId, long long& auxJobId, long copyId, bool& copied, int flags);
  bool WaitForSyncJobCompletion(long long& syncJobId, long long& backupJobId, const std::vector<int>& replicationIds,
                                int flags);
  bool IsAllVMsSynced(long long& backupJobId, const std::vector<int>& replicationIds, bool& allSynced);
  bool GetBackupChildJobs(long long& parentJobId, std::vector<std::pair<long long, int>>& children, bool& vmChildren);
  bool IsBackupJobAuxCopied(long long& backupJobId, long copyId, bool& copied);
  bool RegisterForJobCompletionNotification(long long jobId, std::string& token, int& code, int flags);
  void GetJobCompletionSrvcToken(long long& drJobId, long long& jobId, std::string& token);
  bool InitDRJobWaitService();
  bool isDisableDRJobWaitService();
  void WaitOnRunningBkpJobsForSubclient(long appId, long long& jobId);
  void WaitonRunningAuxJobsForCopy(long long& backupJobId, long copyId, long long& auxJobId, bool& copied);
  void WaitonRunningBackupCopyJobsForSP(long storagePolicyId, long long& jobId);
  bool WaitonRunningSyncJobs(long taskId, long long& backupJobId, const std::vector<int>& replicationIds,
                             std::vector<JobManager::JobInfo>& jobs);
  bool GetRunningSyncJobs(long taskId, std::vector<JobManager::JobInfo>& jobs);

  // ---- job operations and queries ------------------------------------------
  bool PerformJobOperation(long long childJobId, long long parentJobId, JobManager::JobOperation op);
  // The job list request carries 32-bit ids: a wider one fails the query
  // (logged) rather than asking about another job. So do the summary, status,
  // percent, running, kill and failed queries built on it.
  bool GetJobStatusResponse(std::vector<long long>& jobIds, JobManager::JobListResponse& response);
  bool GetJobSummary(long long jobId, JobManager::JobSummary* summary);
  bool GetJobStatus(long long jobId, std::string& status);
  float GetJobPercentageComplete(long long jobId);
  bool IsJobRunning(long long jobId, bool& running);
  bool IsJobKillIssuedForJob(long long& jobId);
  bool IsJobFailed(long long& jobId, bool notSuccessfulCounts);
  // False (logged) for a job id beyond 32 bits, which the request cannot carry.
  bool GetPhasesForJob(long long jobId, std::vector<Api::VirtualAppJob>& out);
  void GetDRChildJobs(std::vector<Api::VirtualAppJob>& records, Api::VirtualAppPhaseState state,
                      std::set<long long>& out, bool filterByState);
  void GetSuspendedChildJobs(std::vector<Api::VirtualAppJob>& records, std::set<long long>& out);
  void GetJobIDForPhase(std::vector<Api::VirtualAppJob>& records, Api::VirtualAppJobPhaseType phase,
                        int replicationId, long long& jobId);
  // The same answer from the restart history's index.
  void GetJobIDForPhase(Api::VirtualAppJobPhaseType phase, int replicationId, long long& jobId);
  int GetVirtualAppPhaseState(long long jobId, int phase);
  bool GetVirtualAppPhaseDetails(long long jobId, int phase, int replicationId, std::string& details);
  bool StartWorkflowJob(const std::string& workflowName, const std::string& inputs, int clientId, int userId,
                        long long& jobId);
  bool StartDRApprovalJob(const std::string& action, int userId, int clientId, int vAppId, long long drJobId,
                          long long& jobId);
  bool DeleteSnapsForJob(long long snapJobId);
  bool InitZNJobQuery(ZNJobQuery& query);

  // The DR job id text of a completion token: its second "|" field, left
  // untouched when the token has none or it is empty.
  static void ParseJobSrvcToken(const std::string& token, std::string& drJobId);

 private:
  // Tests reach the job-wait service agent through it.
  friend class CDRJobManagerTestPeer;

  // Reaction to a DR quit seen while waiting on a child: kill or suspend the
  // child when the caller owns it.
  bool HandleQuitDuringWait(long long childJobId, int flags);
  // Whether a quit seen while waiting on the child kills or suspends it:
  // the caller owns it (flags), or this run resumed it.
  bool OwnsChild(long long childJobId, int flags) const;
  static long long ChildJobOfPhase(const Api::VirtualAppJobPhase& phase);
  // The child job of the phase in the replication's first record (0 when
  // none), else the one the phase table stores for this job.
  void JobIDForPhaseIn(const Api::VirtualAppJob* first, Api::VirtualAppJobPhaseType phase, int replicationId,
                       long long& jobId);
  void IndexRestartHistory();

  EvEvent m_event;
  int m_userId;
  int m_initArg;
  int m_haldenId;
  bool m_restarted;
  bool m_cleanupPhase;
  long long m_jobId;
  TMMsg::JobOption m_jobOptions;
  ZNJobCtrlClient* m_jobCtrl;
  std::string m_jobMgrToken;
  std::atomic<bool> m_killIssued;
  std::atomic<bool> m_suspended;
  // Held by the thread that first finds the quit flag while it reports it
  // and sets the state above (IsQuitFlagSet).
  ZnCriticalSection m_quitLock;
  // Progress and pending cause go to the client one at a time.
  ZNDROrchestrationClnt* m_orchClient DR_PT_GUARDED_BY(m_lock);
  ZnCriticalSection m_lock;
  std::vector<Api::VirtualAppJob> m_restartHistory;
  // Built by IndexRestartHistory from m_restartHistory, which is not changed
  // afterwards, so the addresses stay valid; read-only for the threads.
  std::unordered_map<int, std::vector<const Api::VirtualAppJob*>> m_historyByReplication;
  // The suspended children Initialize resumed. Written there only, before
  // the orchestrator's threads can reach the object; read-only afterwards.
  std::set<long long> m_resumedChildren;
  // Made once, by the first thread that starts the job-wait service.
  CDRSrvcAgent* m_srvcAgent DR_GUARDED_BY(m_lock);
  std::string m_srvcName DR_GUARDED_BY(m_lock);
  Api::VirtualAppPhaseState m_drJobState;
  bool m_allowJobPending;
  int m_attempt;
  int m_beginPercentage;
  // The children of a backup job as the first lookup found them, and
  // whether they are VM children or the parent standing in for itself.
  struct SBackupChildJobs {
    std::vector<std::pair<long long, int>> children;
    bool vmChildren = false;
  };
  std::unordered_map<long long, SBackupChildJobs> m_backupChildJobCache DR_GUARDED_BY(m_backupChildJobCacheLock);
  ZnCriticalSection m_backupChildJobCacheLock;
};
