#include "DrJobCommands.h"

#include <limits.h>
#include <stdio.h>
#include <stdlib.h>

#include <memory>
#include <string>
#include <vector>

#include "DrJobLab.h"
#include "SeedLab.h"
#include "SeedReplications.h"
#include "core/JobContext.h"
#include "core/ThreadSafety.h"
#include "drorch/DRInitParams.h"
#include "drorch/DRJobManager.h"
#include "drorch/IDROrchestrator.h"
#include "jobs/JobStore.h"
#include "jobs/TaskStore.h"
#include "jobsim/JobSimulator.h"
#include "jobs/ZNDROrchestrationClnt.h"
#include "jobs/ZNManageDBForJM.h"
#include "log/JobJournal.h"
#include "log/LogSink.h"
#include "msg/MsgClasses.h"
#include "sync/ZnNamedMutex.h"
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
  if (!CDrJobLab::Open(args.DbPath(), true, error)) return Error(kExitDatabase, error);
  if (!CDrJobLab::Seed(error)) return Error(kExitDatabase, "cannot seed the lab: " + error);
  printf("drjob: seeded the sample lab in [%s]: DR group [%s] (id %d) with two priorities of VM replications, "
         "owner [%s]\n",
         args.DbPath().c_str(), CDrJobLab::kSampleGroup, CDrJobLab::kSampleGroupId, CDrJobLab::kSampleOwnerEmail);
  printf("drjob: replication task [%d], DR backup schedule [%d] of subclient [%d], storage policy [%d]\n",
         kSampleTaskId, kSampleDRBackupTaskId, kSampleSubclientId, kSampleStoragePolicyId);
  printf("drjob: hypervisor lab: source site [%s] (instance %d), destination site [%s] (instance %d), two proxies "
         "each, VMs src-<id> and dst-<id> (drjob lab shows it)\n",
         kSampleSourceSite, kSampleSourceInstanceId, kSampleDestinationSite, kSampleDestinationInstanceId);
  return kExitSuccess;
}

int CDrJobCommands::Control(const CDrJobArgs& args) {
  std::string error;
  if (!CDrJobLab::Open(args.DbPath(), false, error)) return Error(kExitDatabase, error);
  const long long jobId = args.JobId();
  const std::string id = std::to_string(jobId);
  SJobRecord job;
  const EStoreResult read = CJobStore::GetJob(jobId, job);
  if (read == EStoreResult::kFailed) return Error(kExitDatabase, "cannot read DR job [" + id + "]");
  if (read == EStoreResult::kMissing || job.jobType != CJobStore::kTypeDR) {
    return Error(kExitUnknown, "no DR job [" + id + "]");
  }
  if (IsEndedStatus(job.status)) {
    return Error(kExitJobEnded, "DR job [" + id + "] has already ended [" + job.status + "]; nothing to " +
                                    args.Operation());
  }
  const int op = args.Operation() == "kill" ? 1 : 2;
  const EStoreResult stored = CJobStore::SetControlOperation(jobId, op);
  if (stored == EStoreResult::kMissing) return Error(kExitUnknown, "no DR job [" + id + "]");
  if (stored != EStoreResult::kOk) {
    return Error(kExitDatabase, "cannot record the " + args.Operation() + " request for DR job [" + id + "]");
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
  if (!CDrJobLab::Open(args.DbPath(), false, error)) return Error(kExitDatabase, error);
  std::vector<SJobRecord> jobs;
  std::vector<SChildJobRecord> children;
  if (CJobStore::Jobs(jobs) != EStoreResult::kOk || CJobSimulator::Jobs(children) != EStoreResult::kOk) {
    return Error(kExitDatabase, "cannot read the jobs of [" + args.DbPath() + "]");
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
  if (!CDrJobLab::Open(args.DbPath(), false, error)) return Error(kExitDatabase, error);
  const long long jobId = args.JobId();
  const std::string id = std::to_string(jobId);
  const std::string& op = args.Operation();
  SChildJobRecord job;
  const EStoreResult read = CJobSimulator::GetJob(jobId, job);
  if (read == EStoreResult::kFailed) return Error(kExitDatabase, "cannot read job [" + id + "]");
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
    return Error(kExitDatabase, "cannot " + op + " job [" + id + "] (database error, see the log)");
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
  if (!CDrJobLab::Open(args.DbPath(), false, error)) return Error(kExitDatabase, error);
  std::vector<STaskRecord> tasks;
  if (CTaskStore::Tasks(tasks) != EStoreResult::kOk) {
    return Error(kExitDatabase, "cannot read the tasks of [" + args.DbPath() + "]");
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

// One run per DR job: held for the whole run, so a second process asked to
// run the same job of the same database is refused before it changes
// anything. The kernel frees it when the process dies, so a run killed
// outright leaves the job to the next run, which takes it over as a restart.
// The lock outlives this function on purpose (its owner releases it when the
// run ends, or the kernel when the process does), which the lock checks
// cannot follow through a returned pointer.
std::unique_ptr<ZnNamedMutex> TakeRunLock(const std::string& dbPath, long long jobId) DR_NO_THREAD_SAFETY_ANALYSIS {
  char resolved[PATH_MAX];
  const std::string db = realpath(dbPath.c_str(), resolved) != nullptr ? std::string(resolved) : dbPath;
  std::unique_ptr<ZnNamedMutex> lock(new ZnNamedMutex("DRJOB_RUN|" + db + "|" + std::to_string(jobId)));
  if (!lock->lock(0)) lock.reset();
  return lock;
}

// Stores the job's status; an error line naming the state when it cannot.
bool StoreStatus(long long jobId, const char* status, double percent) {
  const EStoreResult stored = CJobStore::SetStatus(jobId, status, percent);
  if (stored == EStoreResult::kOk) return true;
  fprintf(stderr, "drjob: DR job [%lld]: cannot store its state [%s] (%s)\n", jobId, status,
          stored == EStoreResult::kMissing ? "the job record is gone" : "database error, see the log");
  return false;
}

}  // namespace

int CDrJobCommands::Run(const CDrJobArgs& args) {
  std::string error;
  if (!CDrJobLab::Open(args.DbPath(), false, error)) return Error(kExitDatabase, error);
  const int groupId = CDrJobLab::FindGroup(args.Group());
  if (groupId == 0) return Error(kExitUnknown, "unknown DR group [" + args.Group() + "]");

  // A job id that ran before is the same job again: the job manager finds
  // its restart string and treats this run as the next attempt.
  long long jobId = args.JobId();
  std::unique_ptr<ZnNamedMutex> runLock;
  SJobRecord job;
  EStoreResult read = EStoreResult::kMissing;
  if (jobId > 0) {
    runLock = TakeRunLock(args.DbPath(), jobId);
    if (!runLock) {
      return Error(kExitAlreadyRunning, "DR job [" + std::to_string(jobId) +
                                            "] is already running in another process (or its run lock cannot be "
                                            "taken, see the log); nothing was changed");
    }
    read = CJobStore::GetJob(jobId, job);
    if (read == EStoreResult::kFailed) return Error(kExitDatabase, "cannot read DR job [" + std::to_string(jobId) + "]");
  }
  if (read == EStoreResult::kOk) {
    if (job.jobType != CJobStore::kTypeDR) {
      return Error(kExitUnknown, "job [" + std::to_string(jobId) + "] is not a DR job");
    }
    const int jobGroup = CDrJobLab::GroupOfJob(job.optionsXml);
    if (jobGroup != groupId) {
      return Error(kExitUnknown, "DR job [" + std::to_string(jobId) + "] belongs to DR group [" +
                                     std::to_string(jobGroup) + "], not to [" + args.Group() + "]");
    }
    if (job.status == "Running" && !job.restartString.empty()) {
      printf("drjob: DR job [%lld] was left running by a run that ended without finishing; this run takes it over\n",
             jobId);
    }
    // A kill or suspend of the earlier attempt does not carry over.
    if (CJobStore::SetControlOperation(jobId, 0) != EStoreResult::kOk) {
      return Error(kExitDatabase, "cannot clear the earlier control request of DR job [" + std::to_string(jobId) + "]");
    }
    if (!StoreStatus(jobId, "Running", job.percent)) return kExitDatabase;
  } else {
    SJobRecord record;
    record.jobId = jobId;
    record.jobType = CJobStore::kTypeDR;
    record.ownerId = CDrJobLab::OwnerId();
    record.optionsXml = CDrJobLab::JobOptionsXml(groupId);
    record.status = "Running";
    record.name = "DR Orchestration";
    jobId = CJobStore::CreateJob(record);
    if (jobId == 0) return Error(kExitDatabase, "cannot create the DR job in [" + args.DbPath() + "]");
    if (!runLock) runLock = TakeRunLock(args.DbPath(), jobId);
    if (!runLock) {
      return Error(kExitAlreadyRunning, "DR job [" + std::to_string(jobId) + "] was taken by another process");
    }
  }
  CJobContext::SetCurrentJobId(jobId);
  printf("drjob: DR job [%lld] on DR group [%s] (id %d)\n", jobId, args.Group().c_str(), groupId);
  fflush(stdout);

  CJobJournal::Instance().SetPercentListener([](int64_t id, int percent) {
    printf("drjob: DR job [%lld] progress [%d%%]\n", static_cast<long long>(id), percent);
    fflush(stdout);
  });

  CLogSink::Instance().ClearCapture();
  CLogSink::Instance().SetCapture(true);
  // The child jobs the DR job launches run while the job manager lives.
  CSimulatorRun simulator;
  ZNDROrchestrationClnt client(jobId);
  CDRJobManager jobManager;
  if (!jobManager.Initialize(client, 0, ZNManageDBForJM::getDefaultHaldenID())) {
    CJobJournal::Instance().SetPercentListener(nullptr);
    fprintf(stderr, "drjob: DR job [%lld]: the job manager could not start; no DR operation was run:\n", jobId);
    PrintCapturedErrors();
    StopCapture();
    return StoreStatus(jobId, "Failed", job.percent) ? kExitJobManager : kExitStateNotStored;
  }
  if (jobManager.IsJobRestarted()) {
    printf("drjob: DR job [%lld] ran before: this run is a restart, attempt [%d]\n", jobId, jobManager.GetAttempt());
  }

  IDROrchestrator* orchestrator = IDROrchestrator::CreateObject(args.Type());
  DRInitParams params{&jobManager};
  const bool initialized = orchestrator->Initialize(params);
  if (!initialized) {
    fprintf(stderr,
            "drjob: DR job [%lld]: the orchestrator could not be initialised for DR group [%s]; no DR operation "
            "was run:\n",
            jobId, args.Group().c_str());
    PrintCapturedErrors();
  }
  StopCapture();
  int state = -1;
  if (initialized) state = orchestrator->Run();
  IDROrchestrator::DeleteObject(orchestrator);
  simulator.Stop();
  CJobJournal::Instance().SetPercentListener(nullptr);

  const double journalled = CJobJournal::Instance().PercentComplete(jobId);
  if (!initialized) {
    if (!StoreStatus(jobId, "Failed", journalled > 0 ? journalled : job.percent)) {
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
    printf("drjob: DR job [%lld] finished with state [%d] %s, but the state could not be stored\n", jobId, state,
           StateText(state));
    return kExitStateNotStored;
  }
  printf("drjob: DR job [%lld] finished with state [%d] %s\n", jobId, state, StateText(state));
  return ExitCodeOfState(state);
}

namespace {

const char* UpDown(bool down) { return down ? "down" : "up"; }

std::string Joined(const std::vector<std::string>& parts) {
  std::string out;
  for (const std::string& p : parts) out += (out.empty() ? "" : ",") + p;
  return out.empty() ? "-" : out;
}

bool ShowLab() {
  std::vector<SLabInstance> instances;
  std::vector<SLabProxy> proxies;
  std::vector<SLabVM> vms;
  std::vector<SLabReplica> replicas;
  if (CHypervisorLab::Instances(instances) != EStoreResult::kOk || CHypervisorLab::Proxies(proxies) != EStoreResult::kOk ||
      CHypervisorLab::VMs(0, vms) != EStoreResult::kOk || CHypervisorLab::Replicas(replicas) != EStoreResult::kOk) {
    return false;
  }
  printf("instances:\n%-8s %-12s %-6s %-18s %-5s %s\n", "id", "name", "vendor", "host", "state", "proxies");
  for (const SLabInstance& i : instances) {
    std::vector<std::string> served;
    for (const SLabProxy& p : proxies) {
      for (const SLabProxyInstance& s : p.instances) {
        if (s.instanceId == i.id) served.push_back(std::to_string(p.clientId));
      }
    }
    printf("%-8lld %-12s %-6d %-18s %-5s %s\n", i.id, i.name.c_str(), i.vendor, i.host.c_str(), UpDown(i.down),
           Joined(served).c_str());
  }
  printf("proxies:\n%-8s %-12s %-5s %s\n", "id", "name", "state", "instances");
  for (const SLabProxy& p : proxies) {
    std::vector<std::string> served;
    for (const SLabProxyInstance& s : p.instances) served.push_back(std::to_string(s.instanceId));
    printf("%-8lld %-12s %-5s %s\n", p.clientId, p.name.c_str(), UpDown(p.down), Joined(served).c_str());
  }
  printf("VMs:\n%-8s %-12s %-16s %-5s %-5s %-15s %-8s %s\n", "instance", "guid", "name", "power", "tools", "ip",
         "content", "snapshots");
  for (const SLabVM& vm : vms) {
    std::vector<SLabSnapshot> snaps;
    if (CHypervisorLab::Snapshots(vm.instanceId, vm.guid, snaps) != EStoreResult::kOk) return false;
    std::vector<std::string> names;
    for (const SLabSnapshot& s : snaps) names.push_back(s.name);
    const std::string ip = CHypervisorLab::ReportedIp(vm);
    printf("%-8lld %-12s %-16s %-5s %-5s %-15s %-8lld %s\n", vm.instanceId, vm.guid.c_str(), vm.name.c_str(),
           vm.poweredOn ? "on" : "off", vm.toolsInstalled ? "yes" : "no", ip.empty() ? "-" : ip.c_str(), vm.content,
           Joined(names).c_str());
  }
  printf("replicas:\n%-8s %-20s %-20s %-10s %s\n", "id", "source", "destination", "backed-up", "synced");
  for (const SLabReplica& r : replicas) {
    printf("%-8d %-20s %-20s %-10lld %lld\n", r.replicationId,
           (std::to_string(r.sourceInstanceId) + ":" + r.sourceGuid).c_str(),
           (std::to_string(r.destInstanceId) + ":" + r.destGuid).c_str(), r.backedUpContent, r.syncedContent);
  }
  return true;
}

}  // namespace

int CDrJobCommands::Lab(const CDrJobArgs& args) {
  std::string error;
  if (!CDrJobLab::Open(args.DbPath(), false, error)) return Error(kExitDatabase, error);
  const std::string& op = args.Operation();
  if (op == "show") {
    return ShowLab() ? kExitSuccess : Error(kExitDatabase, "cannot read the hypervisor lab of [" + args.DbPath() + "]");
  }
  if (op == "release") {
    if (!CHypervisorLab::ReleaseHangs()) return Error(kExitDatabase, "cannot release the hung VM operations");
    printf("drjob: hung VM operations released\n");
    return kExitSuccess;
  }
  const EStoreResult changed = CHypervisorLab::SetDown(args.Name(), op == "down");
  if (changed == EStoreResult::kMissing) return Error(kExitUnknown, "no site or proxy [" + args.Name() + "] in the lab");
  if (changed != EStoreResult::kOk) return Error(kExitDatabase, "cannot change [" + args.Name() + "] (see the log)");
  printf("drjob: [%s] is %s\n", args.Name().c_str(), op.c_str());
  return kExitSuccess;
}
