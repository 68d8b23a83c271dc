// The last backup of a subclient group's VMs through the engine on the lab:
// the backup task the task manager receives, the phase rows of the job's
// VMs, restarts that find an earlier run's backup, and the report after the
// priority.
#include <string>
#include <vector>

#include "Phases.h"
#include "VSALabFixture.h"
#include "core/HandlerRegistry.h"
#include "jobs/TaskStore.h"
#include "tasksim/TaskManagerSim.h"
#include "tasksim/VMStatusStore.h"
#include "vsa/VSARepInfo.h"
#include "xmlreq/XMLHandler.h"

namespace {

using namespace vsasteps;

constexpr int kBackupPhase = Api::VIRTUAL_APP_PHASE_BACKUP;
using drtest::kSuccess;
using drtest::kFailed;
using drtest::kRunning;
constexpr long long kForever = 1000000000LL;

class VSABackup : public CVSALabFixture {
 protected:
  void TearDown() override {
    CVMStatusStore::ClearFaults();
    CTaskManagerSim::SetCreateTaskFault(ECreateTaskFault::kNone);
    CVSALabFixture::TearDown();
  }
  // The backup the DR job launched, once it runs.
  static long long LaunchedBackup() {
    long long id = 0;
    EXPECT_TRUE(drtest::Eventually([&] {
      for (const SChildJobRecord& job : ChildJobs(EChildJobType::kBackup))
        if (job.parentJobId == kJob) id = job.jobId;
      return id != 0;
    }));
    return id;
  }
  static size_t BackupsOfDRJob() {
    size_t n = 0;
    for (const SChildJobRecord& job : ChildJobs(EChildJobType::kBackup)) n += job.parentJobId == kJob ? 1 : 0;
    return n;
  }
};

TEST_F(VSABackup, OneTaskBacksUpTheGroupAndEachVMIsJudgedByItsStatus) {
  Seed();
  CJobSimulator::SetDuration(EChildJobType::kBackup, kForever);
  bool result = false;
  drtest::CTestThread runner = RunStepsLater({Backup()}, result);
  const long long job = LaunchedBackup();
  ASSERT_TRUE(drtest::Eventually([&] { return RowsOfPhase(kBackupPhase).size() == 3; }));
  for (const SPhaseRowRecord& row : RowsOfPhase(kBackupPhase)) {
    EXPECT_EQ(kRunning, row.status) << row.replicationId;
    EXPECT_EQ(job, JobOf(row)) << row.replicationId;
  }

  // What the task manager was asked: a backup of the group's subclient, for
  // its VMs, launched by the DR job.
  const SChildJobRecord launched = drtest::ChildJob(job);
  EXPECT_EQ(4, launched.opType);
  EXPECT_EQ(kFirstSubclient, launched.applicationId);
  EXPECT_EQ((std::vector<int>{101, 102, 103}), launched.replicationIds);
  std::vector<STaskRecord> tasks;
  ASSERT_EQ(EStoreResult::kOk, CTaskStore::Tasks(tasks));
  ASSERT_EQ(ETaskKind::kOneShot, tasks.back().kind);
  TMMsg::TaskInfo task;
  ASSERT_TRUE(task.Unserialize(tasks.back().xml));
  EXPECT_EQ(1, task.GetMsg(TMMsg::TaskInfo::kTask).GetInt32(TMMsg::TaskObjectFields::kTaskType));
  EXPECT_EQ(kFirstSubclient,
            task.GetListMsg(TMMsg::TaskInfo::kAssociations, 0).GetInt32(ZnEntities::GenericEntity::kSubclientId));
  const CNMessageBase& subtask = task.GetListMsg(TMMsg::TaskInfo::kSubTasks, 0);
  EXPECT_EQ(2, subtask.GetMsg(TMMsg::SubTaskInfo::kSubTask).GetInt32(TMMsg::SubTaskObjectFields::kSubTaskType));
  EXPECT_EQ(2, subtask.GetMsg(TMMsg::SubTaskInfo::kSubTask).GetInt32(TMMsg::SubTaskObjectFields::kOperationCode));
  const CNMessageBase& options = subtask.GetMsg(TMMsg::SubTaskInfo::kJobOptions);
  EXPECT_EQ("Launched by DR Orchestration Job [5150]",
            options.GetMsg(TMMsg::JobOption::kCommonOptions).GetString(TMMsg::CommonOptionFields::kDescription));
  const CNMessageBase& vsa =
      options.GetMsg(TMMsg::JobOption::kBackupOptions).GetMsg(TMMsg::BackupOptionFields::kVSABackupOption);
  ASSERT_EQ(3u, vsa.ListSize(TMMsg::VSABkpOption::kSelectedVMs));
  EXPECT_EQ("src-102",
            vsa.GetListMsg(TMMsg::VSABkpOption::kSelectedVMs, 1).GetString(TMMsg::VSASelectiveVMInfo::kVMGuid));

  // One VM fails, the others succeed: the step goes on with them.
  ASSERT_TRUE(CVMStatusStore::SetVMFails(102, "disk locked"));
  ASSERT_TRUE(CJobSimulator::Complete(job));
  ASSERT_TRUE(runner.Join());
  EXPECT_TRUE(result);
  EXPECT_EQ(kSuccess, RowOf(101, kBackupPhase).status);
  EXPECT_EQ(kFailed, RowOf(102, kBackupPhase).status);
  EXPECT_EQ("disk locked", MessageOf(RowOf(102, kBackupPhase)));
  EXPECT_EQ(kSuccess, RowOf(103, kBackupPhase).status);
  EXPECT_EQ(job, Context().Group(kFirstSubclient)->GetBkpJobId());
  EXPECT_TRUE(Logged("VM vm-102                    -> BACKUP FAILED  [disk locked]"));
  EXPECT_TRUE(Logged("VM vm-101                    -> BACKUP SUCCESS"));
}

TEST_F(VSABackup, AVMMissingFromTheStatusListIsNotCountedButItsRowEndsFailed) {
  Seed();
  ASSERT_TRUE(CVMStatusStore::SetVMLeftOut(102));
  EXPECT_TRUE(RunSteps({Backup()}));
  EXPECT_EQ(kSuccess, RowOf(101, kBackupPhase).status);
  EXPECT_EQ(kSuccess, RowOf(103, kBackupPhase).status);
  // No row of a finished backup stays IN-PROGRESS.
  const SPhaseRowRecord missing = RowOf(102, kBackupPhase);
  EXPECT_EQ(kFailed, missing.status);
  EXPECT_EQ("No backup status for VM GUID [src-102]", MessageOf(missing));
  EXPECT_TRUE(Logged("VM GUID [src-102] not found in vmUpdateInfoMap"));

  // Every VM left out: nothing counted, the step fails.
  CVMStatusStore::SetVMLeftOut(101);
  CVMStatusStore::SetVMLeftOut(103);
  EXPECT_FALSE(RunSteps({Backup()}));
  for (int id : {101, 102, 103}) EXPECT_EQ(kFailed, RowOf(id, kBackupPhase).status) << id;
}

// A backup job that fails as a whole.
struct SFailedJobCase {
  bool indexingV2;
  const char* message;  // every VM's row
};

void PrintTo(const SFailedJobCase& c, std::ostream* out) { *out << (c.indexingV2 ? "indexing v2" : "indexing v1"); }

class VSABackupFailedJob : public VSABackup, public testing::WithParamInterface<SFailedJobCase> {};

TEST_P(VSABackupFailedJob, FailsEveryVM) {
  SVSALabSpec spec;
  spec.indexingV2 = GetParam().indexingV2;
  Seed(spec);
  CJobSimulator::SetDuration(EChildJobType::kBackup, kForever);
  bool result = true;
  drtest::CTestThread runner = RunStepsLater({Backup()}, result);
  const long long job = LaunchedBackup();
  ASSERT_TRUE(drtest::Eventually([&] { return RowsOfPhase(kBackupPhase).size() == 3; }));
  ASSERT_TRUE(CJobSimulator::Fail(job, "media agent offline"));
  ASSERT_TRUE(runner.Join());
  EXPECT_FALSE(result);
  for (int id : {101, 102, 103}) {
    EXPECT_EQ(kFailed, RowOf(id, kBackupPhase).status) << id;
    EXPECT_EQ(GetParam().message, MessageOf(RowOf(id, kBackupPhase))) << id;
  }
}

// Indexing version 2 judges each VM by its own entry, which carries the
// job's reason.
INSTANTIATE_TEST_SUITE_P(Cases, VSABackupFailedJob,
                         testing::Values(SFailedJobCase{false, ""}, SFailedJobCase{true, "media agent offline"}));

TEST_F(VSABackup, NoRowIsWrittenWhenTheStartFailsOrTheJobQuitsBeforeTheLaunch) {
  Seed();
  ASSERT_TRUE(CTaskManagerSim::SetCreateTaskFault(ECreateTaskFault::kStartFails));
  EXPECT_FALSE(RunSteps({Backup()}));
  EXPECT_TRUE(RowsOfPhase(kBackupPhase).empty());
  EXPECT_EQ(0u, BackupsOfDRJob());
  ASSERT_TRUE(CTaskManagerSim::SetCreateTaskFault(ECreateTaskFault::kNone));

  // Killed while it waits for the subclient's scheduled backup.
  const long long scheduled = StartScheduledBackup(kFirstSubclient);
  bool result = true;
  drtest::CTestThread runner = RunStepsLater({Backup()}, result);
  ASSERT_TRUE(drtest::Eventually([&] {
    return Logged("Waiting for backup job [" + std::to_string(scheduled) + "] to complete for subclient [21]");
  }));
  Kill();
  ASSERT_TRUE(runner.Join());
  EXPECT_FALSE(result);
  EXPECT_TRUE(RowsOfPhase(kBackupPhase).empty());
  EXPECT_EQ(0u, BackupsOfDRJob());
  CJobSimulator::Kill(scheduled);
}

TEST_F(VSABackup, AScheduledBackupOfTheSubclientRunsToItsEndFirst) {
  Seed();
  const long long scheduled = StartScheduledBackup(kFirstSubclient);
  bool result = false;
  drtest::CTestThread runner = RunStepsLater({Backup()}, result);
  ASSERT_TRUE(drtest::Eventually([&] {
    return Logged("Waiting for backup job [" + std::to_string(scheduled) + "] to complete for subclient [21]");
  }));
  EXPECT_EQ(0u, BackupsOfDRJob());
  ASSERT_TRUE(CJobSimulator::Complete(scheduled));
  ASSERT_TRUE(runner.Join());
  EXPECT_TRUE(result);
  ASSERT_EQ(1u, BackupsOfDRJob());
  const long long own = LaunchedBackup();
  EXPECT_GT(own, scheduled);
  EXPECT_EQ(own, JobOf(RowOf(101, kBackupPhase)));
}

// How the wait on the launched backup ends without a result.
struct SFailedWaitCase {
  const char* name;
  bool kill;
  const char* message;
};

void PrintTo(const SFailedWaitCase& c, std::ostream* out) { *out << c.name; }

class VSABackupFailedWait : public VSABackup, public testing::WithParamInterface<SFailedWaitCase> {};

TEST_P(VSABackupFailedWait, MarksEveryVMFailed) {
  const SFailedWaitCase& c = GetParam();
  Seed();
  CJobSimulator::SetDuration(EChildJobType::kBackup, kForever);
  std::unique_ptr<CScopedHandler<unsigned long, XMLRequestHandler>> noJobList;
  if (!c.kill) {
    // The notice cannot be registered, so the wait polls the job; the job
    // list then cannot be read.
    SJobFaults faults;
    faults.flags = kFaultNoticeRefused;
    ASSERT_TRUE(CJobSimulator::SetNextJobFaults(EChildJobType::kBackup, faults));
  }
  bool result = true;
  drtest::CTestThread runner = RunStepsLater({Backup()}, result);
  const long long job = LaunchedBackup();
  ASSERT_TRUE(drtest::Eventually([&] { return RowsOfPhase(kBackupPhase).size() == 3; }));
  if (c.kill) {
    ASSERT_TRUE(drtest::Eventually([&] {
      return Logged("Successfully registered to receive completion notification for job [" + std::to_string(job));
    }));
    Kill();
  } else {
    noJobList.reset(new CScopedHandler<unsigned long, XMLRequestHandler>(
        XMLHandler::Handlers(), JobManager::JobListRequest::kTypeId, [](int, std::string&, std::string& error) {
          error = "job list unavailable";
          return -1;
        }));
  }
  ASSERT_TRUE(runner.Join());
  noJobList.reset();
  EXPECT_FALSE(result);
  for (int id : {101, 102, 103}) {
    EXPECT_EQ(kFailed, RowOf(id, kBackupPhase).status) << id;
    EXPECT_EQ(c.message, MessageOf(RowOf(id, kBackupPhase))) << id;
  }
  // A kill of the DR job takes its backup down with it.
  EXPECT_EQ(c.kill, drtest::ChildJob(job).status == "Killed");
  if (!c.kill) CJobSimulator::Kill(job);
}

INSTANTIATE_TEST_SUITE_P(Cases, VSABackupFailedWait,
                         testing::Values(SFailedWaitCase{"Kill", true, "Job kill issued"},
                                         SFailedWaitCase{"Unknown", false,
                                                         "Unknown Error. Marking backup attempt as failed."}),
                         [](const testing::TestParamInfo<SFailedWaitCase>& info) { return info.param.name; });

// What an earlier run of a restarted DR job left for the group's first VM.
struct SRestartCase {
  const char* name;
  int earlierState;       // of the backup rows; -1 none
  bool earlierJob;        // the rows name a backup job
  const char* jobEnding;  // "Completed", "Failed" or "" (still running)
  bool adopted;           // no new backup
  bool waited;
};

void PrintTo(const SRestartCase& c, std::ostream* out) { *out << c.name; }

class VSABackupRestart : public VSABackup, public testing::WithParamInterface<SRestartCase> {};

TEST_P(VSABackupRestart, AdoptsOrLaunchesAnew) {
  const SRestartCase& c = GetParam();
  Seed();
  long long earlier = 0;
  if (c.earlierJob) {
    SChildJobSpec spec;
    spec.type = EChildJobType::kBackup;
    spec.parentJobId = kJob;
    spec.applicationId = kFirstSubclient;
    spec.hang = true;
    earlier = CJobSimulator::StartJob(spec);
    ASSERT_NE(0, earlier);
    if (std::string(c.jobEnding) == "Completed") {
      ASSERT_TRUE(CJobSimulator::Complete(earlier));
    } else if (std::string(c.jobEnding) == "Failed") {
      ASSERT_TRUE(CJobSimulator::Fail(earlier, "earlier failure"));
    }
  }
  if (c.earlierState >= 0) {
    for (int id : {101, 102, 103}) AddPhaseRow(kJob, id, kBackupPhase, c.earlierState, earlier);
  }
  Restart();
  CLogSink::Instance().ClearCapture();

  bool result = false;
  drtest::CTestThread runner = RunStepsLater({Backup()}, result);
  if (std::string(c.jobEnding).empty() && c.earlierJob) {
    ASSERT_TRUE(drtest::Eventually([&] {
      return Logged("Successfully registered to receive completion notification for job [" + std::to_string(earlier));
    }));
    ASSERT_TRUE(CJobSimulator::Complete(earlier));
  }
  ASSERT_TRUE(runner.Join());
  EXPECT_TRUE(result);
  const long long groupJob = Context().Group(kFirstSubclient)->GetBkpJobId();
  // Adopted: the DR job has no backup but the earlier one.
  EXPECT_EQ(c.adopted, BackupsOfDRJob() == (c.earlierJob ? 1u : 0u));
  if (c.adopted) {
    EXPECT_EQ(earlier, groupJob);
  } else {
    EXPECT_NE(earlier, groupJob);
    EXPECT_GT(groupJob, 0);
  }
  EXPECT_EQ(c.waited, Logged("Proceeding to check bkp job [" + std::to_string(groupJob) + "]"));
  for (int id : {101, 102, 103}) {
    EXPECT_EQ(kSuccess, RowOf(id, kBackupPhase).status) << id;
    EXPECT_EQ(groupJob, JobOf(RowOf(id, kBackupPhase))) << id;
  }
  EXPECT_EQ(std::string(c.jobEnding) == "Failed" && c.earlierState == kSuccess,
            Logged("spawned previously has failed for subclient [21] and repl [101,102,103]. Launching another one"));
}

INSTANTIATE_TEST_SUITE_P(Cases, VSABackupRestart,
                         testing::Values(SRestartCase{"DoneAndAlive", kSuccess, true, "Completed", true, false},
                                         SRestartCase{"RunningIsWaitedOn", kRunning, true, "", true, true},
                                         SRestartCase{"FailedRow", kFailed, true, "Completed", false, true},
                                         SRestartCase{"NoRow", -1, false, "", false, true},
                                         SRestartCase{"RowWithoutJob", kSuccess, false, "", false, true},
                                         SRestartCase{"DoneButTheJobFailedSince", kSuccess, true, "Failed", false,
                                                      true}),
                         [](const testing::TestParamInfo<SRestartCase>& info) { return info.param.name; });

TEST_F(VSABackup, AfterThePriorityEachMachineHasItsReportLineAndFailedOnesGoPending) {
  Seed();
  m_jm->SetAllowJobPending(true);
  ASSERT_TRUE(CVMStatusStore::SetVMFails(102, "disk locked"));
  ASSERT_TRUE(RunSteps({Backup(), Do("success of 101", [this](CVSAStepTestContext& c, SDROperationCtx&) {
                          c.MarkSuccess(Machine(101), Api::DR_SITE_DESTINATION);
                          return true;
                        })}));
  QSMServer::QVirtualMachineReq refresh;
  refresh.SetString(QSMServer::QVirtualMachineReq::kHostName, "esx-b1");
  refresh.SetString(QSMServer::QVirtualMachineReq::kIpAddress, "10.2.0.101");
  DRInfoUtils::GetVSARepInfo(Machine(101))->SetVMRefreshInfo(refresh);

  ASSERT_TRUE(Context().PostProcessPriority(*Priority()));
  EXPECT_EQ(
      "Virtual Machine Name: [vm-101-DR] Virtual Machine Hostname: [esx-b1] Virtual machine IP Address: [10.2.0.101] "
      "Status: [PASS]",
      Machine(101)->GetReportMsg());
  EXPECT_EQ(
      "Virtual Machine Name: [vm-102-DR] Virtual Machine Hostname: [N/A] Virtual machine IP Address: [N/A] Status: "
      "[FAIL]",
      Machine(102)->GetReportMsg());
  EXPECT_FALSE(Machine(101)->IsPending());
  EXPECT_TRUE(Machine(102)->IsPending());
  // Its last phase succeeded: not pending, but not successful either.
  EXPECT_FALSE(Machine(103)->IsPending());
  EXPECT_NE(std::string::npos, Machine(103)->GetReportMsg().find("Status: [FAIL]"));

  // While the DR job is suspended every machine that did not succeed goes
  // pending.
  Suspend();
  ASSERT_TRUE(m_jm->IsQuitFlagSet());
  ASSERT_TRUE(Context().PostProcessPriority(*Priority()));
  EXPECT_TRUE(Machine(103)->IsPending());
  EXPECT_FALSE(Machine(101)->IsPending());
}

}  // namespace
