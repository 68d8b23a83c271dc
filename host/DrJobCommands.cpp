#include "DrJobCommands.h"

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "DrJobLab.h"
#include "DrJobLabView.h"
#include "DrJobLabWatch.h"
#include "DrJobOutcomes.h"
#include "DrJobProgress.h"
#include "DrJobRunOptions.h"
#include "DrJobSignals.h"
#include "SeedArrays.h"
#include "SeedGroups.h"
#include "SeedLab.h"
#include "SeedReplications.h"
#include "core/JobContext.h"
#include "core/Mutex.h"
#include "core/Printf.h"
#include "core/ProcessIdentity.h"
#include "core/RunFolder.h"
#include "core/ThreadSafety.h"
#include "db/DBConnection.h"
#include "db/DBUnwritableReport.h"
#include "drorch/DRInitParams.h"
#include "drorch/DRJobManager.h"
#include "drorch/IDROrchestrator.h"
#include "jobs/JobStore.h"
#include "jobs/LabStore.h"
#include "jobs/TaskStore.h"
#include "jobsim/JobSimulator.h"
#include "jobs/ZNDROrchestrationClnt.h"
#include "jobs/ZNManageDBForJM.h"
#include "log/JobJournal.h"
#include "log/LogSink.h"
#include "msg/MsgClasses.h"
#include "sync/ZnNamedMutex.h"
#include "tasksim/DatabaseLabSeed.h"
#include "vm/HypervisorLab.h"

namespace {

const int kStateSuccess = 0;
const int kStateFailed = 1;
const int kStateCompletedWithErrors = 4;
const int kStateKilled = 16;
const int kStateSuspended = 32;
const int kStatePending = 64;

int Error(int code, const std::string& text) {
  fprintf(stderr, "drjob: %s\n", text.c_str());
  return code;
}

// The library's code of the calling thread's last failed database call.
int LastDatabaseError() {
  CDBConnection* c = CDBConnection::ForThread();
  return c != nullptr ? c->LastErrorCode() : DB_ERROR;
}

// True when the calling thread's last database call failed because another
// process kept the database locked past the wait.
bool DatabaseLocked() { return LastDatabaseError() == DB_BUSY; }

// Why the last database call failed, for the end of an error line.
std::string DatabaseReason() {
  return DatabaseLocked() ? CDrJobLab::LockedText(CDBConnection::Path()) : std::string("database error, see the log");
}

// A failed read or write of the lab: the line, and why when another process
// holds the database.
int DatabaseError(const std::string& text) {
  return Error(CDrJobCommands::kExitDatabase,
               DatabaseLocked() ? text + ": " + CDrJobLab::LockedText(CDBConnection::Path()) : text);
}

// The job manager's words for the DR job's own record.
const char* JobStatusOfState(int state) {
  switch (state) {
    case kStateSuccess: return "Completed";
    case kStateFailed: return "Failed";
    case kStateCompletedWithErrors: return "Completed w/ one or more errors";
    case kStateKilled: return "Killed";
    case kStateSuspended: return "Suspended";
    case kStatePending: return "Pending";
    default: return "Failed";
  }
}

// Error lines logged while capture was on: what the user needs to see when a
// start-up step fails. Capture stays on only around start-up.
void PrintCapturedErrors() {
  for (const SLogLine& line : CLogSink::Instance().Captured()) {
    if (line.level == 0) fprintf(stderr, "drjob:   %s(): %s\n", line.function.c_str(), line.text.c_str());
  }
}

void StopCapture() {
  CLogSink::Instance().SetCapture(false);
  CLogSink::Instance().ClearCapture();
}

// The job manager's words for a job that will not run again.
bool IsEndedStatus(const std::string& status) {
  for (int state : {kStateSuccess, kStateFailed, kStateCompletedWithErrors, kStateKilled}) {
    if (status == JobStatusOfState(state)) return true;
  }
  return false;
}

// A job that completed did its work: running it again would repeat a DR
// operation on machines that have already been through it. A failed, killed
// or suspended job is continued by its restart instead.
bool IsCompletedStatus(const std::string& status) {
  return status == JobStatusOfState(kStateSuccess) || status == JobStatusOfState(kStateCompletedWithErrors);
}

}  // namespace

const char* CDrJobCommands::StateText(int state) {
  switch (state) {
    case kStateSuccess: return "SUCCESS";
    case kStateFailed: return "FAILED";
    case kStateCompletedWithErrors: return "COMPLETED WITH ERRORS";
    case kStateKilled: return "KILLED";
    case kStateSuspended: return "SUSPENDED";
    case kStatePending: return "PENDING";
    default: return "UNKNOWN";
  }
}

int CDrJobCommands::ExitCodeOfState(int state) {
  switch (state) {
    case kStateSuccess: return kExitSuccess;
    case kStateFailed: return kExitFailed;
    case kStateCompletedWithErrors: return kExitCompletedWithErrors;
    case kStateKilled: return kExitKilled;
    case kStateSuspended: return kExitSuspended;
    case kStatePending: return kExitPending;
    default: return kExitOtherState;
  }
}

int CDrJobCommands::Seed(const CDrJobArgs& args) {
  std::string error;
  bool replaced = false;
  if (!CDrJobLab::Seed(args.DbPath(), args.Replace(), replaced, error)) return Error(kExitDatabase, error);
  if (replaced) printf("drjob: the lab that was in [%s] is replaced whole\n", args.DbPath().c_str());
  printf("drjob: seeded the sample lab in [%s]: DR group [%s] (id %d) with two priorities of VM replications, "
         "owner [%s]\n",
         args.DbPath().c_str(), kSampleVMGroup.name, kSampleVMGroup.id, CDrJobLab::kSampleOwnerEmail);
  printf("drjob: replication task [%d], DR backup schedule [%d] of subclient [%d], failback schedule [%d], storage "
         "policy [%d]\n",
         kSampleTaskId, kSampleDRBackupTaskId, kSampleSubclientId, kSampleFailbackTaskId, kSampleStoragePolicyId);
  printf("drjob: hypervisor lab: source site [%s] (instance %d), destination site [%s] (instance %d), two proxies "
         "each, VMs src-<id> and dst-<id>, each DR VM with point-in-time snapshots at [%lld] and [%lld] (drjob lab "
         "shows it)\n",
         kSampleSourceSite, kSampleSourceInstanceId, kSampleDestinationSite, kSampleDestinationInstanceId,
         kSamplePointsInTime[0], kSamplePointsInTime[1]);
  const SSeedDBLab databases = CDatabaseLabSeed::Sample();
  printf("drjob: DR group [%s] (id %d): [%zu] Oracle database replications of replica-sync task [%d], sources "
         "running, destinations stopped\n",
         kSampleDBGroup.name, kSampleDBGroup.id, databases.replications.size(), databases.taskId);
  printf("drjob: DR group [%s] (id %d): [%zu] storage-array VMs replicated from array [%s] to array [%s], storage "
         "policy [%d] (snap copy %d, array copy %d)\n",
         kSampleArrayGroup.name, kSampleArrayGroup.id, sizeof(kSampleArrayVMs) / sizeof(kSampleArrayVMs[0]),
         kSampleProductionArray, kSampleDRArray, kSampleArrayPolicyId, kSampleSnapCopyId, kSampleArrayCopyId);
  printf("drjob: test-failover group [%s] (id %d): replications of the source site to cloud site [%s] (instance %d, "
         "vendor %d), recovery target [%d] with test size [%s] and test network [%s]\n",
         kSampleTestGroup.name, kSampleTestGroup.id, kSampleCloudSite, kSampleCloudInstanceId,
         kSampleCloudVendor, kSampleTestTargetId, kSampleTestVMSize, kSampleTestNetwork);
  return kExitSuccess;
}

int CDrJobCommands::Control(const CDrJobArgs& args) {
  std::string error;
  if (!CDrJobLab::Open(args.DbPath(), error)) return Error(kExitDatabase, error);
  const long long jobId = args.JobId();
  const std::string id = std::to_string(jobId);
  SJobRecord job;
  const EStoreResult read = CJobStore::GetJob(jobId, job);
  if (read == EStoreResult::kFailed) return DatabaseError("cannot read DR job [" + id + "]");
  if (read == EStoreResult::kMissing || job.jobType != CJobStore::kTypeDR) {
    return Error(kExitUnknown, "no DR job [" + id + "]");
  }
  if (IsEndedStatus(job.status)) {
    return Error(kExitJobEnded, "DR job [" + id + "] has already ended [" + job.status + "]; nothing to " +
                                    args.Operation());
  }
  // A request nobody will read would be taken by the next run for its own
  // and then dropped: say so instead. A runner on another machine cannot be
  // seen from here and is taken at its word.
  if (CProcessIdentity::StateOf(job.runner) == CProcessIdentity::kGone) {
    return Error(kExitNotRunning, "no process runs DR job [" + id + "] (its record says [" + job.status +
                                      "]); nothing to " + args.Operation());
  }
  const int op = args.Operation() == "kill" ? 1 : 2;
  const EStoreResult stored = CJobStore::SetControlOperation(jobId, op);
  if (stored == EStoreResult::kMissing) return Error(kExitUnknown, "no DR job [" + id + "]");
  if (stored != EStoreResult::kOk) {
    return DatabaseError("cannot record the " + args.Operation() + " request for DR job [" + id + "]");
  }
  printf("drjob: %s requested for DR job [%lld]\n", args.Operation().c_str(), jobId);
  return kExitSuccess;
}

namespace {

const char* JobTypeText(const SJobRecord& job) {
  switch (job.jobType) {
    case CJobStore::kTypeDR: return "DR";
    case CJobStore::kTypeWorkflow: return "workflow";
    case CJobStore::kTypeChild: return "child";
    default: return "job";
  }
}

}  // namespace

int CDrJobCommands::Jobs(const CDrJobArgs& args) {
  std::string error;
  if (!CDrJobLab::Open(args.DbPath(), error)) return Error(kExitDatabase, error);
  std::vector<SJobRecord> jobs;
  std::vector<SChildJobRecord> children;
  if (CJobStore::Jobs(jobs) != EStoreResult::kOk || CJobSimulator::Jobs(children) != EStoreResult::kOk) {
    return DatabaseError("cannot read the jobs of [" + args.DbPath() + "]");
  }
  printf("%-12s %-12s %-32s %7s %s\n", "id", "type", "status", "percent", "parent");
  size_t child = 0;
  for (const SJobRecord& job : jobs) {
    while (child < children.size() && children[child].jobId < job.jobId) ++child;
    const bool simulated = child < children.size() && children[child].jobId == job.jobId;
    const std::string type = !simulated                   ? JobTypeText(job)
                             : children[child].vmChild ? std::string("VM backup")
                                                       : CJobSimulator::TypeName(children[child].type,
                                                                                 children[child].snap);
    printf("%-12lld %-12s %-32s %7.0f %lld\n", job.jobId, type.c_str(), job.status.c_str(), job.percent,
           job.parentJobId);
  }
  return kExitSuccess;
}

int CDrJobCommands::Job(const CDrJobArgs& args) {
  std::string error;
  if (!CDrJobLab::Open(args.DbPath(), error)) return Error(kExitDatabase, error);
  const long long jobId = args.JobId();
  const std::string id = std::to_string(jobId);
  const std::string& op = args.Operation();
  SChildJobRecord job;
  const EStoreResult read = CJobSimulator::GetJob(jobId, job);
  if (read == EStoreResult::kFailed) return DatabaseError("cannot read job [" + id + "]");
  if (read == EStoreResult::kMissing) return Error(kExitUnknown, "no child job [" + id + "] of the job simulator");
  if (job.ended) return Error(kExitJobEnded, "job [" + id + "] has already ended [" + job.status + "]; nothing to " + op);
  bool done = false;
  std::string what;
  if (op == "complete") {
    done = CJobSimulator::Complete(jobId);
    what = "completed";
  } else if (op == "fail") {
    done = CJobSimulator::Fail(jobId, "Failed by drjob job");
    what = "failed";
  } else if (op == "kill") {
    done = CJobSimulator::Kill(jobId);
    what = "killed";
  } else if (op == "hang") {
    done = CJobSimulator::Hang(jobId);
    what = "hangs";
  } else if (op == "resume") {
    done = CJobSimulator::Resume(jobId);
    what = "resumed";
  } else {
    done = CJobSimulator::SetPercent(jobId, args.Percent());
    what = "at [" + std::to_string(args.Percent()) + "%]";
  }
  if (!done) {
    // Another process or thread may have ended it in the meantime.
    if (CJobSimulator::GetJob(jobId, job) == EStoreResult::kOk && job.ended) {
      return Error(kExitJobEnded, "job [" + id + "] has already ended [" + job.status + "]; nothing to " + op);
    }
    return Error(kExitDatabase, "cannot " + op + " job [" + id + "] (" + DatabaseReason() + ")");
  }
  printf("drjob: job [%lld] %s\n", jobId, what.c_str());
  return kExitSuccess;
}

namespace {

// A task's first subtask's operation code and first association's
// subclient, as text ("-" when the task has none).
void TaskSummary(const std::string& xml, std::string& operation, std::string& subclient) {
  operation = subclient = "-";
  TMMsg::TaskInfo task;
  if (!task.Unserialize(xml)) return;
  if (task.ListSize(TMMsg::TaskInfo::kSubTasks) > 0) {
    const CNMessageBase& object =
        task.GetListMsg(TMMsg::TaskInfo::kSubTasks, 0).GetMsg(TMMsg::SubTaskInfo::kSubTask);
    if (object.Has(TMMsg::SubTaskObjectFields::kOperationCode)) {
      operation = std::to_string(object.GetInt32(TMMsg::SubTaskObjectFields::kOperationCode));
    }
  }
  if (task.ListSize(TMMsg::TaskInfo::kAssociations) > 0) {
    const CNMessageBase& entity = task.GetListMsg(TMMsg::TaskInfo::kAssociations, 0);
    if (entity.Has(ZnEntities::GenericEntity::kSubclientId)) {
      subclient = std::to_string(entity.GetInt32(ZnEntities::GenericEntity::kSubclientId));
    }
  }
}

}  // namespace

int CDrJobCommands::Tasks(const CDrJobArgs& args) {
  std::string error;
  if (!CDrJobLab::Open(args.DbPath(), error)) return Error(kExitDatabase, error);
  std::vector<STaskRecord> tasks;
  if (CTaskStore::Tasks(tasks) != EStoreResult::kOk) {
    return DatabaseError("cannot read the tasks of [" + args.DbPath() + "]");
  }
  printf("%-10s %-9s %-10s %s\n", "id", "kind", "operation", "subclient");
  for (const STaskRecord& task : tasks) {
    std::string operation, subclient;
    TaskSummary(task.xml, operation, subclient);
    printf("%-10d %-9s %-10s %s\n", task.taskId, CTaskStore::KindText(task.kind), operation.c_str(), subclient.c_str());
  }
  return kExitSuccess;
}

namespace {

// Runs the job simulator for the life of a run; stopped (its thread joined)
// after the orchestrator is gone, or when the run returns early.
class CSimulatorRun {
 public:
  CSimulatorRun() { CJobSimulator::Start(); }
  ~CSimulatorRun() { Stop(); }
  CSimulatorRun(const CSimulatorRun&) = delete;
  CSimulatorRun& operator=(const CSimulatorRun&) = delete;
  void Stop() { CJobSimulator::Stop(); }
};

// The fast path of one run per DR job: held for the whole run, so a second
// process asked to run the same job of the same database file (by whatever
// path) through the same lock folder is refused before it opens the
// database. The run lease in the job's row is what holds whatever the lock
// folder. The kernel frees the lock when the process dies. The lock outlives
// this function on purpose (its owner releases it when the run ends, or the
// kernel when the process does), which the lock checks cannot follow through
// a returned pointer. Null with name empty when the file cannot be found.
std::unique_ptr<ZnNamedMutex> TakeRunLock(const std::string& dbPath, long long jobId, std::string& name)
    DR_NO_THREAD_SAFETY_ANALYSIS {
  // Named by the file itself, so links and relative paths meet in one lock.
  struct stat st;
  name.clear();
  if (stat(dbPath.c_str(), &st) != 0) return nullptr;
  name = "DRJOB_RUN|" + std::to_string(static_cast<unsigned long long>(st.st_dev)) + ":" +
         std::to_string(static_cast<unsigned long long>(st.st_ino)) + "|" + std::to_string(jobId);
  std::unique_ptr<ZnNamedMutex> lock(new ZnNamedMutex(name));
  if (!lock->lock(0)) lock.reset();
  return lock;
}

// A run lock whose holder the job's record names as gone is about to be
// freed: a process that died while starting a helper shares the lock's file
// with that helper until the helper's program starts, which on a busy
// machine takes a moment. Taken within a few seconds, or refused.
bool AwaitLockOfGoneRunner(const std::string& dbPath, long long jobId, const SProcessId& runner,
                           std::unique_ptr<ZnNamedMutex>& lock) {
  if (runner.Empty() || CProcessIdentity::StateOf(runner) != CProcessIdentity::kGone) return false;
  printf("drjob: DR job [%lld]: the process that ran it has gone; waiting for its run lock\n", jobId);
  fflush(stdout);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  std::string name;
  while (std::chrono::steady_clock::now() < deadline) {
    // Real time: the kernel frees the lock, whatever the platform's scale.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    lock = TakeRunLock(dbPath, jobId, name);
    if (lock) return true;
  }
  return false;
}

// The run lease of this process on its job, given back when the run ends,
// however it ends. A process killed outright leaves it to be taken over.
class CRunLease {
 public:
  CRunLease(long long jobId, const SProcessId& self) : m_jobId(jobId), m_self(self) {}
  ~CRunLease() {
    if (CJobStore::ReleaseRunLease(m_jobId, m_self) == EStoreResult::kFailed) {
      fprintf(stderr, "drjob: DR job [%lld]: cannot give back its run lease (%s); the next run takes it over\n",
              m_jobId, DatabaseReason().c_str());
    }
  }
  CRunLease(const CRunLease&) = delete;
  CRunLease& operator=(const CRunLease&) = delete;

 private:
  long long m_jobId;
  SProcessId m_self;
};

// The line of a run turned away because another process runs the job.
int RefuseRunning(long long jobId, const SProcessId& holder) {
  const std::string who = holder.Empty() ? std::string() : " (" + CProcessIdentity::Text(holder) + ")";
  return Error(CDrJobCommands::kExitAlreadyRunning,
               "DR job [" + std::to_string(jobId) + "] is already running in another process" + who +
                   "; nothing was changed");
}

// The line of a run turned away because its job completed before.
int RefuseCompleted(long long jobId, const std::string& status) {
  return Error(CDrJobCommands::kExitJobEnded, "DR job [" + std::to_string(jobId) + "] has already ended [" + status +
                                                  "]; a completed DR job is not run again, nothing was changed");
}

// A run's lines on standard output, each written out at once. A reader that
// went away (drjob run ... | head) must not end or hold up the DR job: once
// a line cannot be written, the later ones are dropped.
std::atomic<bool> g_outputGone{false};

void RunLine(const char* format, ...) DR_PRINTF(1, 2);
void RunLine(const char* format, ...) {
  if (g_outputGone) return;
  va_list args;
  va_start(args, format);
  const int written = vprintf(format, args);
  va_end(args);
  if (written < 0 || fflush(stdout) != 0) g_outputGone = true;
}

// One line per machine of the group after the final state line: what the
// job's phase rows and this run's skip events say of it. killSeen: the job
// manager saw a kill of the job while it ran.
void PrintOutcomes(long long jobId, int groupId, int state, bool killSeen) {
  const bool stopped = state == kStateKilled || state == kStateSuspended || state == kStatePending;
  const bool killedMidway = killSeen && state != kStateSuccess;
  std::vector<SMachineOutcome> outcomes;
  if (!CMachineOutcomes::Read(jobId, stopped, killedMidway, CDrJobLab::GroupMachines(groupId),
                              CJobJournal::Instance().Events(), outcomes)) {
    fprintf(stderr, "drjob: DR job [%lld]: cannot read the outcome of its machines (%s)\n", jobId,
            DatabaseReason().c_str());
    return;
  }
  for (const SMachineOutcome& outcome : outcomes) {
    RunLine("drjob: %s\n", CMachineOutcomes::Line(jobId, outcome).c_str());
  }
}

// "Sample (1), SampleDB (2), ...": the groups a --group may name.
std::string GroupsText() {
  std::string text;
  for (const auto& group : CLabStore::DRGroups()) {
    text += (text.empty() ? "" : ", ") + group.second + " (" + std::to_string(group.first) + ")";
  }
  return text;
}

// Stores the job's status; an error line naming the state when it cannot.
bool StoreStatus(long long jobId, const char* status, double percent) {
  const EStoreResult stored = CJobStore::SetStatus(jobId, status, percent);
  if (stored == EStoreResult::kOk) return true;
  fprintf(stderr, "drjob: DR job [%lld]: cannot store its state [%s] (%s)\n", jobId, status,
          stored == EStoreResult::kMissing ? "the job record is gone" : DatabaseReason().c_str());
  return false;
}

}  // namespace

int CDrJobCommands::Run(const CDrJobArgs& args) {
  CRunSignals::IgnoreBrokenPipe();
  CRunSignals::IgnoreFileSizeLimit();
  std::string error;
  // A run holds its job's run lock; without a usable lock folder it stops
  // before it touches anything.
  const int folder = CRunFolder::OpenLockFolder(CRunFolder::LockPath(), error);
  if (folder < 0) {
    // The default is one name per user in the shared temporary folder,
    // which another user can take first; the datastore locks are shared only
    // among runs of one lock folder, so every run must be pointed elsewhere.
    if (CRunFolder::LockPathIsDefault()) {
      error += " (DR_LOCK_DIR chooses another lock folder; give all your runs the same one)";
    }
    return Error(kExitLockFolder, error + "; nothing was changed");
  }
  close(folder);
  // A job id that ran before is the same job again: the job manager finds
  // its restart string and treats this run as the next attempt.
  long long jobId = args.JobId();
  std::unique_ptr<ZnNamedMutex> runLock;
  if (jobId > 0) {
    std::string lockName;
    runLock = TakeRunLock(args.DbPath(), jobId, lockName);
    if (!runLock && !lockName.empty()) {
      if (!ZnNamedMutex::CanOpen(lockName, error)) {
        return Error(kExitLockFolder, "cannot use the run lock of DR job [" + std::to_string(jobId) + "]: " + error +
                                          "; nothing was changed");
      }
      // Who runs it, when the lab can be read as it is.
      SJobRecord holder;
      const bool known = CDrJobLab::Open(args.DbPath(), error) && CJobStore::GetJob(jobId, holder) == EStoreResult::kOk;
      if (!known || !AwaitLockOfGoneRunner(args.DbPath(), jobId, holder.runner, runLock)) {
        return RefuseRunning(jobId, known ? holder.runner : SProcessId());
      }
    }
  }
  if (!CDrJobLab::Open(args.DbPath(), error)) return Error(kExitDatabase, error);
  // A rerun may leave the group and type out: its record names them.
  int groupId = 0;
  if (!args.Group().empty()) {
    groupId = CDrJobLab::FindGroup(args.Group());
    if (groupId == 0) {
      const std::string groups = GroupsText();
      return Error(kExitUnknown, "unknown DR group [" + args.Group() + "]; " +
                                     (groups.empty() ? std::string("the lab has no DR group")
                                                     : "the DR groups of the lab are " + groups));
    }
  }
  TMMsg::DROrchestrationType type = args.Type();
  const SProcessId self = CProcessIdentity::Self();
  // The job is this run's once its run lease is: taken on the record, or
  // with the record when there is none yet, in one write transaction either
  // way, so no other path to the database or lock folder can run it too.
  SJobRecord job;
  SProcessId previous;
  bool created = false;
  ELeaseResult lease = ELeaseResult::kMissing;
  for (int attempt = 0; attempt < 2 && lease == ELeaseResult::kMissing; ++attempt) {
    const EStoreResult read = jobId > 0 ? CJobStore::GetJob(jobId, job) : EStoreResult::kMissing;
    if (read == EStoreResult::kFailed) return DatabaseError("cannot read DR job [" + std::to_string(jobId) + "]");
    if (read == EStoreResult::kOk) {
      if (job.jobType != CJobStore::kTypeDR) {
        return Error(kExitUnknown, "job [" + std::to_string(jobId) + "] is not a DR job");
      }
      // The record says what the job is: the same job again runs on its
      // group, as its type, with its options.
      SRecordedRun recorded;
      CDrJobRunOptions::Read(job.optionsXml, recorded);
      if (recorded.groupId == 0) return Error(kExitUnknown, "DR job [" + std::to_string(jobId) + "] names no DR group");
      if (groupId != 0 && recorded.groupId != groupId) {
        return Error(kExitUnknown, "DR job [" + std::to_string(jobId) + "] belongs to DR group [" +
                                       std::to_string(recorded.groupId) + "], not to [" + args.Group() + "]");
      }
      groupId = recorded.groupId;
      if (IsCompletedStatus(job.status)) return RefuseCompleted(jobId, job.status);
      if (!CDrJobRunOptions::MatchRecorded(jobId, args, recorded, error)) return Error(kExitUsage, error);
      if (recorded.type != TMMsg::DR_ORCHESTRATION_NONE) type = recorded.type;
      if (type == TMMsg::DR_ORCHESTRATION_NONE) {
        return Error(kExitUsage, "DR job [" + std::to_string(jobId) +
                                     "] was made before drjob kept the DR type with the job: run it with --type TYPE");
      }
      lease = CJobStore::TakeRunLease(jobId, self, previous);
      continue;
    }
    if (groupId == 0 || type == TMMsg::DR_ORCHESTRATION_NONE) {
      return Error(kExitUsage, "DR job [" + std::to_string(jobId) +
                                   "] has no record: a new DR job needs --group NAME|ID and --type TYPE");
    }
    job = SJobRecord();
    job.jobId = jobId;
    job.jobType = CJobStore::kTypeDR;
    job.ownerId = CDrJobLab::OwnerId();
    job.optionsXml = CDrJobLab::JobOptionsXml(groupId, type, args.DeleteFromHypervisor());
    if (!CDrJobRunOptions::Apply(args.DROptions(), groupId, job.optionsXml, error)) return Error(kExitUsage, error);
    job.status = "Running";
    job.name = "DR Orchestration";
    job.runner = self;
    const long long made = CJobStore::CreateJob(job);
    if (made != 0) {
      jobId = made;
      created = true;
      lease = ELeaseResult::kTaken;
    } else if (jobId == 0 || attempt > 0 || LastDatabaseError() != DB_CONSTRAINT) {
      return DatabaseError("cannot create the DR job in [" + args.DbPath() + "]");
    }
    // Else another process made the record meanwhile: read it again.
  }
  if (lease == ELeaseResult::kHeld) return RefuseRunning(jobId, previous);
  if (lease == ELeaseResult::kMissing) {
    return Error(kExitUnknown, "DR job [" + std::to_string(jobId) + "] was removed while this run took it");
  }
  if (lease == ELeaseResult::kFailed) {
    return DatabaseError("cannot take the run lease of DR job [" + std::to_string(jobId) + "]");
  }
  CRunLease held(jobId, self);
  if (!created) {
    // The run that held the job may have completed it between the read above
    // and the lease: read again under the lease, which no run can end now.
    SJobRecord now;
    const EStoreResult again = CJobStore::GetJob(jobId, now);
    if (again == EStoreResult::kFailed) return DatabaseError("cannot read DR job [" + std::to_string(jobId) + "]");
    if (again == EStoreResult::kOk && IsCompletedStatus(now.status)) return RefuseCompleted(jobId, now.status);
    if (again == EStoreResult::kOk) job = now;
    if (job.status == "Running" && (!previous.Empty() || !job.restartString.empty())) {
      RunLine("drjob: DR job [%lld] was left running by a run that ended without finishing; this run takes it over\n",
              jobId);
    }
    // A kill or suspend of the earlier attempt does not carry over.
    if (CJobStore::SetControlOperation(jobId, 0) != EStoreResult::kOk) {
      return DatabaseError("cannot clear the earlier control request of DR job [" + std::to_string(jobId) + "]");
    }
    if (!StoreStatus(jobId, "Running", job.percent)) return kExitDatabase;
  }
  CJobContext::SetCurrentJobId(jobId);
  const std::string group = CDrJobLab::GroupName(groupId);
  RunLine("drjob: DR job [%lld] on DR group [%s] (id %d), type [%s]\n", jobId, group.c_str(), groupId,
          CDrJobArgs::TypeName(type));
  // From here a signal asks the job to stop rather than ending the process
  // half-way; started before the job's threads, so that only its watcher
  // takes signals.
  CRunSignals signals;
  if (!signals.Start(jobId, error)) {
    fprintf(stderr, "drjob: DR job [%lld]: %s; a signal ends drjob at once\n", jobId, error.c_str());
  }
  // From here the lab must stay at its path (DrJobLabWatch.h); started after
  // the signals, so that its thread takes none of them.
  CLabWatch labWatch;
  if (!labWatch.Start(args.DbPath(), jobId, error)) {
    return Error(kExitDatabase, "DR job [" + std::to_string(jobId) + "]: " + error);
  }
  // A state that cannot be stored because the lab has gone is told as that.
  auto endIfLabGone = [&labWatch] {
    labWatch.Stop();
    if (!labWatch.Here()) labWatch.End();
  };
  // From here the job's writes are retried, by the job and its child jobs
  // alike: a lab that cannot be written (a full disk) would stall them
  // without a word, and the log may be on the same disk.
  CDBUnwritableReport::Process().Enable("drjob: ");

  CProgressLines progress([](int64_t id, int percent) {
    RunLine("drjob: DR job [%lld] progress [%d%%]\n", static_cast<long long>(id), percent);
  });
  CJobJournal::Instance().SetPercentListener(
      [&progress](int64_t id, int percent) { progress.Report(id, percent); });

  CLogSink::Instance().ClearCapture();
  CLogSink::Instance().SetCapture(true);
  // The child jobs the DR job launches run while the job manager lives.
  CSimulatorRun simulator;
  ZNDROrchestrationClnt client(jobId);
  CDRJobManager jobManager;
  if (!jobManager.Initialize(client, 0, ZNManageDBForJM::getDefaultHaldenID())) {
    CJobJournal::Instance().SetPercentListener(nullptr);
    CDBUnwritableReport::Process().Disable();
    fprintf(stderr, "drjob: DR job [%lld]: the job manager could not start; no DR operation was run:\n", jobId);
    PrintCapturedErrors();
    StopCapture();
    if (StoreStatus(jobId, "Failed", job.percent)) return kExitJobManager;
    endIfLabGone();
    return kExitStateNotStored;
  }
  if (jobManager.IsJobRestarted()) {
    RunLine("drjob: DR job [%lld] ran before: this run is a restart, attempt [%d]\n", jobId, jobManager.GetAttempt());
  }

  IDROrchestrator* orchestrator = IDROrchestrator::CreateObject(type);
  DRInitParams params{&jobManager};
  const bool initialized = orchestrator->Initialize(params);
  if (!initialized) {
    fprintf(stderr,
            "drjob: DR job [%lld]: the orchestrator could not be initialised for DR group [%s]; no DR operation "
            "was run:\n",
            jobId, group.c_str());
    PrintCapturedErrors();
  }
  StopCapture();
  int state = -1;
  if (initialized) state = orchestrator->Run();
  IDROrchestrator::DeleteObject(orchestrator);
  simulator.Stop();
  CJobJournal::Instance().SetPercentListener(nullptr);
  // The job is over: a kill request now would be left on an ended job.
  signals.Stop();
  // What is written from here is not retried; a failure has its own line.
  CDBUnwritableReport::Process().Disable();
  endIfLabGone();

  const double journalled = CJobJournal::Instance().PercentComplete(jobId);
  if (!initialized) {
    if (!StoreStatus(jobId, "Failed", journalled > 0 ? journalled : job.percent)) {
      endIfLabGone();
      fprintf(stderr, "drjob: DR job [%lld] ended without running, and its state could not be stored: exit code %d\n",
              jobId, kExitStateNotStored);
      return kExitStateNotStored;
    }
    fprintf(stderr, "drjob: DR job [%lld] ended without running: exit code %d\n", jobId, kExitNotInitialized);
    return kExitNotInitialized;
  }
  SJobRecord after;
  const double percent = CJobStore::GetJob(jobId, after) == EStoreResult::kOk ? after.percent : journalled;
  if (!StoreStatus(jobId, JobStatusOfState(state), state == kStateSuccess ? 100.0 : percent)) {
    endIfLabGone();
    RunLine("drjob: DR job [%lld] finished with state [%d] %s, but the state could not be stored\n", jobId, state,
            StateText(state));
    PrintOutcomes(jobId, groupId, state, jobManager.IsJobKillIssued());
    return kExitStateNotStored;
  }
  RunLine("drjob: DR job [%lld] finished with state [%d] %s\n", jobId, state, StateText(state));
  PrintOutcomes(jobId, groupId, state, jobManager.IsJobKillIssued());
  return ExitCodeOfState(state);
}

namespace {

// A write in the guest of a running VM: its content goes up by one.
int WriteGuest(const CDrJobArgs& args) {
  SLabVM vm;
  const EStoreResult found = CDrJobLabView::FindVM(args.Name(), vm);
  if (found == EStoreResult::kMissing) return Error(CDrJobCommands::kExitUnknown, "no VM [" + args.Name() + "] in the lab");
  if (found != EStoreResult::kOk) return DatabaseError("cannot read the VMs of [" + args.DbPath() + "]");
  if (!vm.poweredOn) {
    return Error(CDrJobCommands::kExitFailed, "VM [" + args.Name() + "] is off: only a running VM is written");
  }
  if (CHypervisorLab::BumpContent(vm.instanceId, vm.guid) != EStoreResult::kOk) {
    return Error(CDrJobCommands::kExitDatabase, "cannot write in VM [" + args.Name() + "] (" + DatabaseReason() + ")");
  }
  printf("drjob: VM [%s] now holds content [%lld]\n", args.Name().c_str(), vm.content + 1);
  return CDrJobCommands::kExitSuccess;
}

}  // namespace

int CDrJobCommands::Lab(const CDrJobArgs& args) {
  std::string error;
  if (!CDrJobLab::Open(args.DbPath(), error)) return Error(kExitDatabase, error);
  const std::string& op = args.Operation();
  if (op == "show") {
    int unreadable = 0;
    if (!CDrJobLabView::Show(unreadable)) return DatabaseError("cannot read the lab of [" + args.DbPath() + "]");
    // The rest was shown, but a script reading the view must not take a
    // record it could not see for one that is fine.
    if (unreadable > 0) {
      return Error(kExitDatabase, std::to_string(unreadable) + " record(s) of the lab of [" + args.DbPath() +
                                      "] cannot be read; the view names them");
    }
    return kExitSuccess;
  }
  if (op == "write") return WriteGuest(args);
  if (op == "release") {
    if (!CHypervisorLab::ReleaseHangs()) return DatabaseError("cannot release the hung VM operations");
    printf("drjob: hung VM operations released\n");
    return kExitSuccess;
  }
  const EStoreResult changed = CDrJobLabView::SetDown(args.Name(), op == "down");
  if (changed == EStoreResult::kMissing) {
    return Error(kExitUnknown, "no site, proxy, array or client [" + args.Name() + "] in the lab");
  }
  if (changed != EStoreResult::kOk) {
    return Error(kExitDatabase, "cannot change [" + args.Name() + "] (" + DatabaseReason() + ")");
  }
  printf("drjob: [%s] is %s\n", args.Name().c_str(), op.c_str());
  return kExitSuccess;
}
