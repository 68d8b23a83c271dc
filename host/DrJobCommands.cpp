#include "DrJobCommands.h"

#include <stdio.h>
#include <stdlib.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "DrJobEndStopped.h"
#include "DrJobLab.h"
#include "DrJobLabView.h"
#include "DrJobOutcomes.h"
#include "DrJobOutput.h"
#include "DrJobRun.h"
#include "DrJobRunOptions.h"
#include "DrJobStates.h"
#include "SeedArrays.h"
#include "SeedGroups.h"
#include "SeedLab.h"
#include "SeedReplications.h"
#include "core/ProcessIdentity.h"
#include "jobs/JobStore.h"
#include "jobs/MachineVerdictStore.h"
#include "jobs/TaskStore.h"
#include "jobsim/JobSimulator.h"
#include "log/EvEvent.h"
#include "msg/MsgClasses.h"
#include "tasksim/DatabaseLabSeed.h"
#include "vm/HypervisorLab.h"

namespace {

int Error(int code, const std::string& text) { return CDrJobOutput::Error(code, text); }
int DatabaseError(const std::string& text) { return CDrJobOutput::DatabaseError(text); }
std::string DatabaseReason() { return CDrJobOutput::DatabaseReason(); }

// What a read of a DR job's record returns when the command goes on.
const int kRead = -1;

// How long, in real time, control waits for a run that stopped its job to
// end, and how often it looks.
const int kEndingRunWaitSeconds = 30;
const int kEndingRunLookMs = 50;

// The record of DR job jobId: kRead, or the exit code of the line that says
// why not.
int ReadDRJob(long long jobId, SJobRecord& job) {
  const std::string id = std::to_string(jobId);
  const EStoreResult read = CJobStore::GetJob(jobId, job);
  if (read == EStoreResult::kFailed) return DatabaseError("cannot read DR job [" + id + "]");
  if (read == EStoreResult::kMissing || job.jobType != CJobStore::kTypeDR) {
    return Error(CDrJobStates::kExitUnknown, "no DR job [" + id + "]");
  }
  return kRead;
}

}  // namespace

int CDrJobCommands::Seed(const CDrJobArgs& args) {
  std::string error;
  bool replaced = false;
  if (!CDrJobLab::Seed(args.DbPath(), args.Replace(), replaced, error)) return Error(CDrJobStates::kExitDatabase, error);
  const std::string path = CDrJobArgs::Printable(args.DbPath());
  if (replaced) printf("drjob: the lab that was in [%s] is replaced whole\n", path.c_str());
  printf("drjob: seeded the sample lab in [%s]: DR group [%s] (id %d) with two priorities of VM replications, "
         "owner [%s]\n",
         path.c_str(), kSampleVMGroup.name, kSampleVMGroup.id, CDrJobLab::kSampleOwnerEmail);
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
  return CDrJobStates::kExitSuccess;
}

int CDrJobCommands::Control(const CDrJobArgs& args) {
  std::string error;
  if (!CDrJobLab::Open(args.DbPath(), error)) return Error(CDrJobStates::kExitDatabase, error);
  const long long jobId = args.JobId();
  const std::string id = std::to_string(jobId);
  const int op = args.Operation() == "kill" ? CJobStore::kControlKill : CJobStore::kControlSuspend;
  // A run that stored "Suspended" or "Pending" is ending: its lease goes in
  // a moment, after which a kill ends the job here. Waited for in real
  // time, as it is the other process's pace.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(kEndingRunWaitSeconds);
  for (;;) {
    SJobRecord job;
    const int read = ReadDRJob(jobId, job);
    if (read != kRead) return read;
    if (CDrJobStates::IsEndedStatus(job.status)) {
      return Error(CDrJobStates::kExitJobEnded, "DR job [" + id + "] has already ended [" + job.status +
                                                    "]; nothing to " + args.Operation());
    }
    const CProcessIdentity::EState runner = CProcessIdentity::StateOf(job.runner);
    if (runner != CProcessIdentity::kGone && CStoppedJobEnd::IsStopped(job.status)) {
      if (std::chrono::steady_clock::now() >= deadline) {
        return Error(CDrJobStates::kExitAlreadyRunning,
                     "DR job [" + id + "] stopped [" + job.status + "], but the run that stopped it (" +
                         CProcessIdentity::Text(job.runner) + ") has not ended; nothing was requested: ask again "
                                                              "once it has");
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(kEndingRunLookMs));
      continue;
    }
    // A request nobody will read would be taken by the next run for its own
    // and then dropped: say so instead. A runner on another machine cannot
    // be seen from here and is taken at its word.
    if (runner == CProcessIdentity::kGone) {
      // A kill of a job its run stopped needs no reader: drjob ends it itself.
      if (args.Operation() == "kill" && CStoppedJobEnd::IsStopped(job.status)) {
        return CStoppedJobEnd::Kill(args.DbPath(), job);
      }
      return Error(CDrJobStates::kExitNotRunning, "no process runs DR job [" + id + "] (its record says [" +
                                                      job.status + "]); nothing to " + args.Operation());
    }
    // The run may store its final state between the read above and the
    // write below (a test pins that with a pause point on this line): the
    // write is then refused, and the record read again says how it ended.
    EvDebug(jobId).Debug("Control", "Requesting [%s] of DR job [%lld], its record read as [%s]",
                         args.Operation().c_str(), jobId, job.status.c_str());
    const EStoreResult stored = CJobStore::RequestControl(jobId, op);
    if (stored == EStoreResult::kOk) {
      printf("drjob: %s requested for DR job [%lld]\n", args.Operation().c_str(), jobId);
      return CDrJobStates::kExitSuccess;
    }
    if (stored != EStoreResult::kMissing) {
      return DatabaseError("cannot record the " + args.Operation() + " request for DR job [" + id + "]");
    }
  }
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

namespace {

// One DR job as its record and its engine's verdicts tell it.
int ShowDRJob(const CDrJobArgs& args) {
  const long long jobId = args.JobId();
  const std::string id = std::to_string(jobId);
  SJobRecord job;
  const int read = ReadDRJob(jobId, job);
  if (read != kRead) return read;
  SRecordedRun recorded;
  CDrJobRunOptions::Read(job.optionsXml, recorded);
  // The job manager stores the number of the attempt to come.
  const int attempts = job.restartString.empty() ? 0 : atoi(job.restartString.c_str()) - 1;
  const bool abandoned = job.status == "Running" && CProcessIdentity::StateOf(job.runner) == CProcessIdentity::kGone;
  printf("DR job [%lld]: type [%s], DR group [%s] (id %d), attempts [%d], state [%s]%s\n", jobId,
         CDrJobArgs::TypeName(recorded.type), CDrJobLab::GroupName(recorded.groupId).c_str(), recorded.groupId,
         attempts, job.status.c_str(),
         abandoned ? " (the process that ran it has gone; its restart takes it over)" : "");
  const bool running = job.status == "Running" && !abandoned;
  // What the attempt did with a machine it gave no verdict is not known:
  // the lab tells where the machine stands.
  const char* noVerdict = attempts == 0 ? "the job has not begun"
                          : running     ? "the job has not reached its summary"
                                        : "the job's last attempt ended before its summary";
  SJobEnd end;
  if (!CMachineOutcomes::ReadEnd(jobId, recorded.groupId, job.optionsXml, end)) {
    return DatabaseError("cannot read the verdicts of DR job [" + id + "]");
  }
  std::vector<SMachineOutcome> outcomes;
  CMachineOutcomes::Read(jobId, attempts, end, noVerdict, outcomes);
  for (const SMachineOutcome& outcome : outcomes) {
    printf("%s\n", CMachineOutcomes::Line(jobId, outcome, end.standings).c_str());
  }
  return CDrJobStates::kExitSuccess;
}

}  // namespace

int CDrJobCommands::Jobs(const CDrJobArgs& args) {
  std::string error;
  if (!CDrJobLab::Open(args.DbPath(), error)) return Error(CDrJobStates::kExitDatabase, error);
  if (args.JobId() > 0) return ShowDRJob(args);
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
  return CDrJobStates::kExitSuccess;
}

int CDrJobCommands::Job(const CDrJobArgs& args) {
  std::string error;
  if (!CDrJobLab::Open(args.DbPath(), error)) return Error(CDrJobStates::kExitDatabase, error);
  const long long jobId = args.JobId();
  const std::string id = std::to_string(jobId);
  const std::string& op = args.Operation();
  SChildJobRecord job;
  const EStoreResult read = CJobSimulator::GetJob(jobId, job);
  if (read == EStoreResult::kFailed) return DatabaseError("cannot read job [" + id + "]");
  if (read == EStoreResult::kMissing) return Error(CDrJobStates::kExitUnknown, "no child job [" + id + "] of the job simulator");
  if (job.ended) return Error(CDrJobStates::kExitJobEnded, "job [" + id + "] has already ended [" + job.status + "]; nothing to " + op);
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
      return Error(CDrJobStates::kExitJobEnded, "job [" + id + "] has already ended [" + job.status + "]; nothing to " + op);
    }
    return Error(CDrJobStates::kExitDatabase, "cannot " + op + " job [" + id + "] (" + DatabaseReason() + ")");
  }
  printf("drjob: job [%lld] %s\n", jobId, what.c_str());
  return CDrJobStates::kExitSuccess;
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
  if (!CDrJobLab::Open(args.DbPath(), error)) return Error(CDrJobStates::kExitDatabase, error);
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
  return CDrJobStates::kExitSuccess;
}

int CDrJobCommands::Run(const CDrJobArgs& args) { return CDrJobRun(args).Execute(); }

namespace {

// A write in the guest of a running VM: its content goes up by one.
int WriteGuest(const CDrJobArgs& args) {
  SLabVM vm;
  const EStoreResult found = CDrJobLabView::FindVM(args.Name(), vm);
  if (found == EStoreResult::kMissing) return Error(CDrJobStates::kExitUnknown, "no VM [" + args.Name() + "] in the lab");
  if (found != EStoreResult::kOk) return DatabaseError("cannot read the VMs of [" + args.DbPath() + "]");
  if (!vm.poweredOn) {
    return Error(CDrJobStates::kExitFailed, "VM [" + args.Name() + "] is off: only a running VM is written");
  }
  if (CHypervisorLab::BumpContent(vm.instanceId, vm.guid) != EStoreResult::kOk) {
    return Error(CDrJobStates::kExitDatabase, "cannot write in VM [" + args.Name() + "] (" + DatabaseReason() + ")");
  }
  printf("drjob: VM [%s] now holds content [%lld]\n", args.Name().c_str(), vm.content + 1);
  return CDrJobStates::kExitSuccess;
}

}  // namespace

int CDrJobCommands::Lab(const CDrJobArgs& args) {
  std::string error;
  if (!CDrJobLab::Open(args.DbPath(), error)) return Error(CDrJobStates::kExitDatabase, error);
  const std::string& op = args.Operation();
  if (op == "show") {
    int unreadable = 0;
    if (!CDrJobLabView::Show(unreadable)) return DatabaseError("cannot read the lab of [" + args.DbPath() + "]");
    // The rest was shown, but a script reading the view must not take a
    // record it could not see for one that is fine.
    if (unreadable > 0) {
      return Error(CDrJobStates::kExitDatabase, std::to_string(unreadable) + " record(s) of the lab of [" + args.DbPath() +
                                      "] cannot be read; the view names them");
    }
    return CDrJobStates::kExitSuccess;
  }
  if (op == "write") return WriteGuest(args);
  if (op == "release") {
    if (!CHypervisorLab::ReleaseHangs()) return DatabaseError("cannot release the hung VM operations");
    printf("drjob: hung VM operations released\n");
    return CDrJobStates::kExitSuccess;
  }
  const EStoreResult changed = CDrJobLabView::SetDown(args.Name(), op == "down");
  if (changed == EStoreResult::kMissing) {
    return Error(CDrJobStates::kExitUnknown, "no site, proxy, array or client [" + args.Name() + "] in the lab");
  }
  if (changed != EStoreResult::kOk) {
    return Error(CDrJobStates::kExitDatabase, "cannot change [" + args.Name() + "] (" + DatabaseReason() + ")");
  }
  printf("drjob: [%s] is %s\n", args.Name().c_str(), op.c_str());
  return CDrJobStates::kExitSuccess;
}
