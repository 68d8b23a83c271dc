// Storage copies end to end: a DR job's machines over stored replications,
// a subclient group whose backup ran in the job simulator, and the copy
// operations after it. The copy tasks go through the task manager to the
// simulator's copy jobs, the waits take the notice path, and the test reads
// back the phase rows, the jobs launched and the copy rows they left.
#include <memory>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "JobSimTestSupport.h"
#include "Phases.h"
#include "TestThread.h"
#include "drorch/DRChildJobDone.h"
#include "drorch/DRJobManager.h"
#include "engine/DRDataSource.h"
#include "engine/DRInfo.h"
#include "engine/DRInfoUtils.h"
#include "engine/DRRecordsTestSupport.h"
#include "engine/SDROSubclient.h"
#include "engine/SDROperationCtx.h"
#include "engine/SDRStorage.h"
#include "engine/TestStepContext.h"
#include "jobs/JobStore.h"
#include "jobsim/JobManagerRows.h"
#include "jobsim/JobSimulator.h"
#include "jobsim/StoragePolicyStore.h"

namespace {

using drtest::Eventually;

class E2EStorageCopies : public CDRRecordsTestBase {
 protected:
  static constexpr int kSubclient = 21;
  static constexpr int kTask = 11;
  static constexpr int kPolicy = 5;
  static constexpr int kPrimary = 51;
  static constexpr int kAux = 52;
  static constexpr int kCopied = 100;

  void SetUp() override {
    CDRRecordsTestBase::SetUp();
    ASSERT_TRUE(CJobSimulator::CreateTables());
    m_simulator.reset(new drtest::CScopedJobSimulator());
    // The notices reach the completion entry in this process; in production
    // the notifier program calls it.
    CJobSimulator::SetInProcessDelivery(DRChildJobDone);
  }
  void TearDown() override {
    m_dr.reset();
    m_source.reset();
    m_jm.reset();
    m_simulator.reset();
    CDRRecordsTestBase::TearDown();
  }

  // The subclient's policy: the primary copy, and the secondary kAux at
  // precedence 2 (the default copy when auxIsDefault).
  static void Policy(bool snap = false, bool auxIsDefault = false) {
    SStoragePolicy policy;
    policy.policyId = kPolicy;
    policy.copies = {SStorageCopy{kPrimary, 1, true, !auxIsDefault}, SStorageCopy{kAux, 2, false, auxIsDefault}};
    ASSERT_TRUE(CStoragePolicyStore::PutPolicy(policy));
    ASSERT_TRUE(CStoragePolicyStore::AssignSubclient(SSubclientPolicy{kSubclient, kPolicy, snap}));
  }
  // A VM replication of the subclient reading from the copy of the precedence.
  static void Machine(int id, int taskId = kTask, bool copyPrecedence = true, int precedence = 2) {
    App::VSAReplicationInfo info = Repl(id, 1, "", taskId);
    using Info = App::VSAReplicationInfo;
    info.MutableMsg(Info::kSubclient).SetInt32(ZnEntities::SubClientEntity::kSubclientId, kSubclient);
    info.SetInt32(Info::kCopyPrecedence, precedence);
    info.SetInt32(Info::kCopyPrecedenceApplicable, copyPrecedence ? 1 : 0);
    info.SetInt32(Info::kSyncStatus, App::VSA_REPL_STATUS_NEED_SYNC);
    StoreRepl(info, taskId);
  }

  // The subclient's backup, run to its end in the simulator.
  static long long Backup(bool snap = false) {
    SChildJobSpec spec;
    spec.type = EChildJobType::kBackup;
    spec.parentJobId = kJob;
    spec.applicationId = kSubclient;
    spec.snap = snap;
    const long long id = CJobSimulator::StartJob(spec);
    EXPECT_NE(0, id);
    EXPECT_TRUE(Eventually([id] { return drtest::HasEnded(id); }));
    EXPECT_EQ("Completed", drtest::ChildJob(id).status);
    return id;
  }

  // A copy job of the storage policy's copy that another job runs, hung
  // until the test moves it on.
  static long long HungCopy(EChildJobType type, int copyId) {
    SChildJobSpec spec;
    spec.type = type;
    spec.storagePolicyId = kPolicy;
    spec.copyId = copyId;
    spec.hang = true;
    return CJobSimulator::StartJob(spec);
  }

  // The DR job (restarted when restart is given), its orchestrator and the
  // machine records of ids in one subclient group after backupJobId.
  void Load(const std::vector<int>& ids, long long backupJobId, const std::string& restart = "") {
    m_dr.reset();
    m_source.reset();
    if (restart.empty()) {
      std::vector<TMMsg::VMDependencyOrder> entries;
      for (int id : ids) entries.push_back(Entry(id));
      PutGroup({Group(1, entries)});
      StartJob(JobOptions(false), restart);
    } else {
      // The same DR job again, as the job controller restarts it.
      CJobStore::SetStatus(kJob, "Running", 0.0);
      CJobStore::SetControlOperation(kJob, 0);
      CJobStore::SetRestartString(kJob, restart);
      m_client.reset(new ZNDROrchestrationClnt(kJob));
      m_jm.reset(new CDRJobManager());
      ASSERT_TRUE(m_jm->Initialize(*m_client, 0, 2));
    }
    SDataSourceInfo info;
    info.jobId = kJob;
    info.drGroupId = kGroup;
    info.drType = TMMsg::DR_ORCHESTRATION_PLANNED_FAILOVER;
    info.replIds = ids;
    m_source.reset(new CDRDataSource(info));
    ASSERT_TRUE(m_source->IsDataLoaded());
    m_priority.order = 1;
    m_priority.drGroupId = kGroup;
    m_dr.reset(new CStepTestDR());
    ASSERT_TRUE(CDRBaseTestPeer::StartUp(*m_dr, m_jm.get()));
    m_machines = CDRBaseTestPeer::AddMachines(*m_dr, m_source.get(), info, m_priority, m_jm.get(), ids);
    m_group.reset(new SDROSubclient(1, kSubclient));
    m_group->SetBkpJobId(backupJobId);
    m_group->Init(m_machines);
  }
  bool Copy() {
    SDROperationCtx ctx;
    ctx.drInfoList = m_machines;
    ctx.subclient = m_group.get();
    ctx.site = Api::DR_SITE_SOURCE;
    return m_dr->HandleStorageOps(ctx);
  }
  // Runs the copies on a thread of their own (for a test that steers the
  // jobs they wait on). A wait on a child job outlasts a stop request (it
  // polls on until the child ends); a kill of the DR job ends it.
  drtest::CTestThread CopyLater(bool& result) {
    drtest::CTestThread copier([this, &result] { result = Copy(); }, "copier");
    copier.OnStop([] { CJobStore::SetControlOperation(kJob, 1); });
    return copier;
  }

  // One machine's aux copy, quit (kill or suspend) while the DR job waits
  // on the aux job it launched; the copies must have ended badly.
  enum { kKill = 1, kSuspend = 2 };
  void QuitDuringAuxWait(int op, long long& backup, long long& aux) {
    Policy();
    Machine(1);
    backup = Backup();
    CJobSimulator::SetDuration(EChildJobType::kAuxCopy, 1000000000LL);
    Load({1}, backup);
    bool result = true;
    drtest::CTestThread copier = CopyLater(result);
    aux = Launched(EChildJobType::kAuxCopy);
    const bool waiting = Eventually([&] { return WaitingOn(aux); });
    EXPECT_EQ(EStoreResult::kOk, CJobStore::SetControlOperation(kJob, op));
    ASSERT_TRUE(copier.Join());
    ASSERT_TRUE(waiting);
    EXPECT_FALSE(result);
  }

  // The simulator's jobs of a type, by id.
  static std::vector<SChildJobRecord> JobsOf(EChildJobType type) { return drtest::ChildJobsOf(type); }
  // The one job of a type the DR job launched, once it runs.
  static long long Launched(EChildJobType type) {
    long long id = 0;
    EXPECT_TRUE(Eventually([&] {
      std::vector<SChildJobRecord> jobs = JobsOf(type);
      id = jobs.empty() ? 0 : jobs.back().jobId;
      return id != 0;
    }));
    return id;
  }
  // The copy waits poll the copy rows; either wait has begun once logged.
  static bool WaitingOn(long long child) {
    const std::string id = "[" + std::to_string(child) + "]";
    return Logged("Waiting for aux copy job " + id) || Logged("Waiting for backup copy job " + id);
  }

  // The phase rows of one phase, by replication.
  static std::vector<SPhaseRow> Rows(int phase) {
    std::vector<SPhaseRow> out;
    for (const SPhaseRow& row : PhaseRows())
      if (row.phase == phase) out.push_back(row);
    return out;
  }
  static bool Names(const SPhaseRow& row, long long jobId) {
    return row.details.find(std::to_string(jobId)) != std::string::npos;
  }
  static int CopyStatus(long long jobId, int copyId) {
    bool copied = false;
    EXPECT_EQ(EStoreResult::kOk, CJobManagerRows::HoldsData(jobId, copyId, copied));
    return copied ? kCopied : 0;
  }

  std::unique_ptr<drtest::CScopedJobSimulator> m_simulator;
  std::unique_ptr<CDRDataSource> m_source;
  std::unique_ptr<CStepTestDR> m_dr;
  std::unique_ptr<SDROSubclient> m_group;
  std::vector<CDRInfo*> m_machines;
  SDRPriority m_priority;
};

constexpr int kAuxPhase = Api::VIRTUAL_APP_PHASE_AUX_COPY;
constexpr int kBackupCopyPhase = Api::VIRTUAL_APP_PHASE_BACKUP_COPY;
using drtest::kSuccess;
using drtest::kFailed;
using drtest::kRunning;

TEST_F(E2EStorageCopies, APlainBackupIsAuxCopiedAndEveryMachineRecordsTheCopyJob) {
  Policy();
  Machine(1);
  Machine(2);
  const long long backup = Backup();
  CJobSimulator::SetDuration(EChildJobType::kAuxCopy, 1000000000LL);
  Load({1, 2}, backup);

  bool result = false;
  drtest::CTestThread copier = CopyLater(result);
  const long long launched = Launched(EChildJobType::kAuxCopy);
  ASSERT_TRUE(Eventually([&] { return WaitingOn(launched); }));
  // While the copy runs, every machine's row names it.
  std::vector<SPhaseRow> running = Rows(kAuxPhase);
  ASSERT_EQ(2u, running.size());
  for (const SPhaseRow& row : running) {
    EXPECT_EQ(kRunning, row.status) << row.replicationId;
    EXPECT_TRUE(Names(row, launched)) << row.details;
  }
  ASSERT_TRUE(CJobSimulator::Complete(launched));
  ASSERT_TRUE(copier.Join());
  EXPECT_TRUE(result);
  std::vector<SChildJobRecord> aux = JobsOf(EChildJobType::kAuxCopy);
  ASSERT_EQ(1u, aux.size());
  EXPECT_EQ(kPolicy, aux[0].storagePolicyId);
  EXPECT_EQ(kAux, aux[0].copyId);
  EXPECT_EQ("Completed", aux[0].status);
  EXPECT_TRUE(JobsOf(EChildJobType::kBackupCopy).empty());
  EXPECT_EQ(kCopied, CopyStatus(backup, kAux));
  std::vector<SPhaseRow> rows = Rows(kAuxPhase);
  ASSERT_EQ(2u, rows.size());
  for (const SPhaseRow& row : rows) {
    EXPECT_EQ(kSuccess, row.status) << row.replicationId;
    EXPECT_TRUE(Names(row, aux[0].jobId)) << row.details;
  }
  EXPECT_TRUE(Logged("Waiting for aux copy job [" + std::to_string(aux[0].jobId) + "] to complete"));
  EXPECT_EQ(kSuccess, m_machines[0]->GetPhaseState(Api::VIRTUAL_APP_PHASE_AUX_COPY, Api::DR_SITE_SOURCE));
}

TEST_F(E2EStorageCopies, ASnapBackupIsBackupCopiedFirstThenAuxCopied) {
  Policy(true);
  Machine(1);
  const long long backup = Backup(true);
  Load({1}, backup);

  EXPECT_TRUE(Copy());
  std::vector<SChildJobRecord> backupCopy = JobsOf(EChildJobType::kBackupCopy);
  std::vector<SChildJobRecord> aux = JobsOf(EChildJobType::kAuxCopy);
  ASSERT_EQ(1u, backupCopy.size());
  ASSERT_EQ(1u, aux.size());
  EXPECT_LT(backupCopy[0].jobId, aux[0].jobId);
  EXPECT_EQ(kCopied, CopyStatus(backup, kPrimary));
  EXPECT_EQ(kCopied, CopyStatus(backup, kAux));
  ASSERT_EQ(1u, Rows(kBackupCopyPhase).size());
  EXPECT_EQ(kSuccess, Rows(kBackupCopyPhase)[0].status);
  EXPECT_TRUE(Names(Rows(kBackupCopyPhase)[0], backupCopy[0].jobId));
  ASSERT_EQ(1u, Rows(kAuxPhase).size());
  EXPECT_EQ(kSuccess, Rows(kAuxPhase)[0].status);
  EXPECT_TRUE(Names(Rows(kAuxPhase)[0], aux[0].jobId));
}

TEST_F(E2EStorageCopies, ASnapBackupReadFromTheDefaultCopyNeedsTheBackupCopyOnly) {
  Policy(true, true);
  Machine(1);
  const long long backup = Backup(true);
  Load({1}, backup);

  EXPECT_TRUE(Copy());
  EXPECT_EQ(1u, JobsOf(EChildJobType::kBackupCopy).size());
  EXPECT_TRUE(JobsOf(EChildJobType::kAuxCopy).empty());
  EXPECT_TRUE(Logged("No Aux copy operation needed as replica sync schedule is set to sync from default copy Id [" +
                     std::to_string(kAux) + "]"));
  // The record knows the aux copy is done; no row says so.
  EXPECT_EQ(kSuccess, m_machines[0]->GetPhaseState(Api::VIRTUAL_APP_PHASE_AUX_COPY, Api::DR_SITE_SOURCE));
  EXPECT_TRUE(Rows(kAuxPhase).empty());
}

TEST_F(E2EStorageCopies, AnAuxJobAlreadyRunningForTheCopyIsAdoptedInsteadOfLaunchingAnother) {
  Policy();
  Machine(1);
  const long long backup = Backup();
  const long long running = HungCopy(EChildJobType::kAuxCopy, kAux);
  ASSERT_NE(0, running);
  Load({1}, backup);

  bool result = false;
  drtest::CTestThread copier = CopyLater(result);
  ASSERT_TRUE(Eventually([&] { return WaitingOn(running); }));
  ASSERT_TRUE(CJobSimulator::Resume(running));
  ASSERT_TRUE(copier.Join());
  EXPECT_TRUE(result);
  EXPECT_EQ(1u, JobsOf(EChildJobType::kAuxCopy).size());
  ASSERT_EQ(1u, Rows(kAuxPhase).size());
  EXPECT_EQ(kSuccess, Rows(kAuxPhase)[0].status);
  EXPECT_TRUE(Names(Rows(kAuxPhase)[0], running));
}

TEST_F(E2EStorageCopies, ARunningAuxJobThatLeavesTheBackupUncopiedIsFollowedByANewOne) {
  Policy();
  Machine(1);
  const long long backup = Backup();
  const long long running = HungCopy(EChildJobType::kAuxCopy, kAux);
  SJobFaults uncopied;
  uncopied.flags = kFaultAuxUncopied;
  uncopied.jobIds = {backup};
  ASSERT_TRUE(CJobSimulator::SetFaults(running, uncopied));
  Load({1}, backup);

  bool result = false;
  drtest::CTestThread copier = CopyLater(result);
  ASSERT_TRUE(Eventually([&] { return WaitingOn(running); }));
  ASSERT_TRUE(CJobSimulator::Resume(running));
  ASSERT_TRUE(copier.Join());
  EXPECT_TRUE(result);
  std::vector<SChildJobRecord> aux = JobsOf(EChildJobType::kAuxCopy);
  ASSERT_EQ(2u, aux.size());
  EXPECT_EQ(running, aux[0].jobId);
  ASSERT_EQ(1u, Rows(kAuxPhase).size());
  EXPECT_EQ(kSuccess, Rows(kAuxPhase)[0].status);
  EXPECT_TRUE(Names(Rows(kAuxPhase)[0], aux[1].jobId));
}

TEST_F(E2EStorageCopies, ARestartAfterASuccessfulAuxCopyLaunchesNothingAndKeepsNamingTheEarlierJob) {
  Policy();
  Machine(1);
  Machine(2);
  const long long backup = Backup();
  Load({1, 2}, backup);
  ASSERT_TRUE(Copy());
  const long long first = JobsOf(EChildJobType::kAuxCopy).at(0).jobId;

  for (const char* restart : {"1", "2"}) {
    SCOPED_TRACE(restart);
    Load({1, 2}, backup, restart);
    EXPECT_TRUE(Copy());
    EXPECT_EQ(1u, JobsOf(EChildJobType::kAuxCopy).size());
    EXPECT_TRUE(Logged("Aux job [" + std::to_string(first) + "] already ran successfully"));
    ASSERT_EQ(2u, Rows(kAuxPhase).size());
    for (const SPhaseRow& row : Rows(kAuxPhase)) {
      EXPECT_EQ(kSuccess, row.status);
      EXPECT_TRUE(Names(row, first)) << row.details;
    }
  }
}

// A restart whose group took a new backup (a killed run's clean-up brought
// the workload back up) does not adopt the earlier run's copy of the old one.
TEST_F(E2EStorageCopies, ARestartWithANewBackupCopiesItRatherThanAdoptingTheEarlierCopy) {
  Policy();
  Machine(1);
  const long long backup = Backup();
  Load({1}, backup);
  ASSERT_TRUE(Copy());
  const long long again = Backup();
  Load({1}, again, "1");
  EXPECT_TRUE(Copy());
  const std::vector<SChildJobRecord> aux = JobsOf(EChildJobType::kAuxCopy);
  ASSERT_EQ(2u, aux.size());
  EXPECT_EQ(kCopied, CopyStatus(again, kAux));
  ASSERT_EQ(1u, Rows(kAuxPhase).size());
  EXPECT_EQ(kSuccess, Rows(kAuxPhase)[0].status);
  EXPECT_TRUE(Names(Rows(kAuxPhase)[0], aux[1].jobId)) << Rows(kAuxPhase)[0].details;
}

TEST_F(E2EStorageCopies, ASuspensionDuringTheAuxWaitLeavesThePhaseRunningAndTheRestartResumesTheJob) {
  long long backup = 0, aux = 0;
  ASSERT_NO_FATAL_FAILURE(QuitDuringAuxWait(kSuspend, backup, aux));
  bool result = false;
  EXPECT_EQ("Suspended", drtest::ChildJob(aux).status);
  ASSERT_EQ(1u, Rows(kAuxPhase).size());
  EXPECT_EQ(kRunning, Rows(kAuxPhase)[0].status);
  EXPECT_TRUE(Names(Rows(kAuxPhase)[0], aux));

  // The restarted job resumes its suspended child and adopts it.
  CLogSink::Instance().ClearCapture();
  Load({1}, backup, "1");
  EXPECT_EQ("Running", drtest::ChildJob(aux).status);
  drtest::CTestThread again = CopyLater(result);
  ASSERT_TRUE(Eventually([&] { return WaitingOn(aux); }));
  ASSERT_TRUE(CJobSimulator::Complete(aux));
  ASSERT_TRUE(again.Join());
  EXPECT_TRUE(result);
  EXPECT_EQ(1u, JobsOf(EChildJobType::kAuxCopy).size());
  ASSERT_EQ(1u, Rows(kAuxPhase).size());
  EXPECT_EQ(kSuccess, Rows(kAuxPhase)[0].status);
  EXPECT_TRUE(Names(Rows(kAuxPhase)[0], aux));
}

TEST_F(E2EStorageCopies, ASuspensionDuringTheBackupCopyWaitLeavesThePhaseRunningAndTheRestartResumesTheJob) {
  Policy(true);
  Machine(1);
  const long long backup = Backup(true);
  CJobSimulator::SetDuration(EChildJobType::kBackupCopy, 1000000000LL);
  Load({1}, backup);
  bool result = true;
  {
    drtest::CTestThread copier = CopyLater(result);
    const long long launched = Launched(EChildJobType::kBackupCopy);
    const bool waiting = Eventually([&] { return WaitingOn(launched); });
    EXPECT_EQ(EStoreResult::kOk, CJobStore::SetControlOperation(kJob, kSuspend));
    ASSERT_TRUE(copier.Join());
    ASSERT_TRUE(waiting);
  }
  EXPECT_FALSE(result);
  const long long copy = JobsOf(EChildJobType::kBackupCopy).at(0).jobId;
  EXPECT_EQ("Suspended", drtest::ChildJob(copy).status);
  // Not a failed copy: the phase stays running, naming the suspended job,
  // and no aux copy follows.
  ASSERT_EQ(1u, Rows(kBackupCopyPhase).size());
  EXPECT_EQ(kRunning, Rows(kBackupCopyPhase)[0].status);
  EXPECT_TRUE(Names(Rows(kBackupCopyPhase)[0], copy));
  EXPECT_FALSE(Logged("BackupCopy operation failed"));
  EXPECT_TRUE(JobsOf(EChildJobType::kAuxCopy).empty());
  EXPECT_TRUE(Rows(kAuxPhase).empty());

  // The restarted job resumes its suspended child and waits for it first.
  CLogSink::Instance().ClearCapture();
  CJobSimulator::SetDuration(EChildJobType::kBackupCopy, 0);
  Load({1}, backup, "1");
  EXPECT_EQ("Running", drtest::ChildJob(copy).status);
  drtest::CTestThread again = CopyLater(result);
  ASSERT_TRUE(Eventually([&] { return Logged("Waiting for backup copy job [" + std::to_string(copy) + "]"); }));
  ASSERT_TRUE(CJobSimulator::Complete(copy));
  ASSERT_TRUE(again.Join());
  EXPECT_TRUE(result);
  EXPECT_EQ("Completed", drtest::ChildJob(copy).status);
  EXPECT_EQ(kCopied, CopyStatus(backup, kPrimary));
  EXPECT_EQ(kSuccess, Rows(kBackupCopyPhase).at(0).status);
  ASSERT_EQ(1u, Rows(kAuxPhase).size());
  EXPECT_EQ(kSuccess, Rows(kAuxPhase)[0].status);
}

// Suspended while it waits on a backup copy another job runs for the
// storage policy: the wait ends, and the job launches no copy of its own
// (one would only be suspended at once) and writes no row; the other job's
// copy runs on. The restart, once that copy has ended, copies as a first
// run does.
TEST_F(E2EStorageCopies, ASuspensionSeenWhileAnotherJobsBackupCopyRunsLaunchesNoCopyAndTheRestartCopies) {
  Policy(true);
  Machine(1);
  const long long backup = Backup(true);
  const long long other = HungCopy(EChildJobType::kBackupCopy, kPrimary);
  ASSERT_NE(0, other);
  Load({1}, backup);
  bool result = true;
  {
    drtest::CTestThread copier = CopyLater(result);
    const bool waiting = Eventually([&] { return WaitingOn(other); });
    EXPECT_EQ(EStoreResult::kOk, CJobStore::SetControlOperation(kJob, kSuspend));
    ASSERT_TRUE(copier.Join());
    ASSERT_TRUE(waiting);
  }
  EXPECT_FALSE(result);
  ASSERT_EQ(1u, JobsOf(EChildJobType::kBackupCopy).size());
  EXPECT_NE("Suspended", drtest::ChildJob(other).status);
  EXPECT_TRUE(Rows(kBackupCopyPhase).empty());
  EXPECT_TRUE(JobsOf(EChildJobType::kAuxCopy).empty());
  EXPECT_TRUE(Rows(kAuxPhase).empty());

  CLogSink::Instance().ClearCapture();
  ASSERT_TRUE(CJobSimulator::Resume(other));
  ASSERT_TRUE(Eventually([&] { return drtest::HasEnded(other); }));
  Load({1}, backup, "1");
  EXPECT_TRUE(Copy());
  const std::vector<SChildJobRecord> copies = JobsOf(EChildJobType::kBackupCopy);
  ASSERT_EQ(2u, copies.size());
  EXPECT_EQ(kCopied, CopyStatus(backup, kPrimary));
  ASSERT_EQ(1u, Rows(kBackupCopyPhase).size());
  EXPECT_EQ(kSuccess, Rows(kBackupCopyPhase)[0].status);
  EXPECT_TRUE(Names(Rows(kBackupCopyPhase)[0], copies[1].jobId));
  ASSERT_EQ(1u, Rows(kAuxPhase).size());
  EXPECT_EQ(kSuccess, Rows(kAuxPhase)[0].status);
}

TEST_F(E2EStorageCopies, AKillDuringTheAuxWaitKillsTheCopyJob) {
  long long backup = 0, aux = 0;
  ASSERT_NO_FATAL_FAILURE(QuitDuringAuxWait(kKill, backup, aux));
  EXPECT_EQ("Killed", drtest::ChildJob(aux).status);
  ASSERT_EQ(1u, Rows(kAuxPhase).size());
  EXPECT_EQ(kFailed, Rows(kAuxPhase)[0].status);
}

TEST_F(E2EStorageCopies, AFailedBackupCopySkipsTheAuxCopyOfItsStorageWhileAnotherStorageGoesOn) {
  // Machine 1 reads copy kAux, machine 2 (another schedule) copy kThird.
  constexpr int kThird = 53;
  SStoragePolicy policy;
  policy.policyId = kPolicy;
  policy.copies = {SStorageCopy{kPrimary, 1, true, true}, SStorageCopy{kAux, 2, false, false},
                   SStorageCopy{kThird, 3, false, false}};
  ASSERT_TRUE(CStoragePolicyStore::PutPolicy(policy));
  ASSERT_TRUE(CStoragePolicyStore::AssignSubclient(SSubclientPolicy{kSubclient, kPolicy, true}));
  Machine(1);
  Machine(2, kTask + 1, true, 3);
  const long long backup = Backup(true);
  CJobSimulator::SetDuration(EChildJobType::kBackupCopy, 1000000000LL);
  Load({1, 2}, backup);

  bool result = false;
  drtest::CTestThread copier = CopyLater(result);
  const long long failed = Launched(EChildJobType::kBackupCopy);
  ASSERT_TRUE(Eventually([&] { return WaitingOn(failed); }));
  ASSERT_TRUE(CJobSimulator::Fail(failed, "media not reachable"));
  long long second = 0;
  ASSERT_TRUE(Eventually([&] {
    second = Launched(EChildJobType::kBackupCopy);
    return second != failed;
  }));
  ASSERT_TRUE(Eventually([&] { return WaitingOn(second); }));
  ASSERT_TRUE(CJobSimulator::Complete(second));
  ASSERT_TRUE(copier.Join());
  EXPECT_TRUE(result);

  std::vector<SChildJobRecord> aux = JobsOf(EChildJobType::kAuxCopy);
  ASSERT_EQ(1u, aux.size());
  EXPECT_EQ(kThird, aux[0].copyId);
  std::vector<SPhaseRow> copies = Rows(kBackupCopyPhase);
  ASSERT_EQ(2u, copies.size());
  EXPECT_EQ(1, copies[0].replicationId);
  EXPECT_EQ(kFailed, copies[0].status);
  EXPECT_TRUE(Names(copies[0], failed));
  EXPECT_EQ(kSuccess, copies[1].status);
  EXPECT_TRUE(Names(copies[1], second));
  std::vector<SPhaseRow> auxRows = Rows(kAuxPhase);
  ASSERT_EQ(1u, auxRows.size());
  EXPECT_EQ(2, auxRows[0].replicationId);
  EXPECT_EQ(kSuccess, auxRows[0].status);
  EXPECT_TRUE(Names(auxRows[0], aux[0].jobId));
}

TEST_F(E2EStorageCopies, AStorageNoneOfWhoseMachinesIsInTheListIsSkippedAndTheOthersCopied) {
  // Machine 1 reads copy kAux, machine 2 (another schedule) copy kThird.
  constexpr int kThird = 53;
  SStoragePolicy policy;
  policy.policyId = kPolicy;
  policy.copies = {SStorageCopy{kPrimary, 1, true, true}, SStorageCopy{kAux, 2, false, false},
                   SStorageCopy{kThird, 3, false, false}};
  ASSERT_TRUE(CStoragePolicyStore::PutPolicy(policy));
  ASSERT_TRUE(CStoragePolicyStore::AssignSubclient(SSubclientPolicy{kSubclient, kPolicy, false}));
  Machine(1);
  Machine(2, kTask + 1, true, 3);
  const long long backup = Backup();
  Load({1, 2}, backup);
  std::unordered_map<long, std::vector<CDRInfo*>> taskMap;
  DRInfoUtils::GetDRInfoTaskMap(taskMap, m_machines);
  SDROperationCtx ctx;
  ctx.drInfoList = m_machines;
  ctx.subclient = m_group.get();
  ctx.site = Api::DR_SITE_SOURCE;
  std::set<SDRStorage> storages;
  ASSERT_TRUE(m_dr->GetStorageDetails(taskMap, storages, ctx));
  ASSERT_EQ(2u, storages.size());

  // The copies of machine 1 alone: kThird has none of its machines.
  std::vector<CDRInfo*> first = {m_machines.at(0)};
  ASSERT_EQ(1, first[0]->GetReplId());
  EXPECT_TRUE(m_dr->HandleCopyOps(storages, *m_group, first));
  EXPECT_TRUE(Logged("No machines to copy for spId [" + std::to_string(kPolicy) + "] copyId [" +
                     std::to_string(kThird) + "]. Skipped."));
  std::vector<SChildJobRecord> aux = JobsOf(EChildJobType::kAuxCopy);
  ASSERT_EQ(1u, aux.size());
  EXPECT_EQ(kAux, aux[0].copyId);
  std::vector<SPhaseRow> rows = Rows(kAuxPhase);
  ASSERT_EQ(1u, rows.size());
  EXPECT_EQ(1, rows[0].replicationId);
  EXPECT_EQ(kSuccess, rows[0].status);
}

TEST_F(E2EStorageCopies, AnAuxJobThatLeavesTheBackupUncopiedFailsThePhase) {
  Policy();
  Machine(1);
  const long long backup = Backup();
  SJobFaults uncopied;
  uncopied.flags = kFaultAuxUncopied;
  uncopied.jobIds = {backup};
  ASSERT_TRUE(CJobSimulator::SetNextJobFaults(EChildJobType::kAuxCopy, uncopied));
  Load({1}, backup);

  EXPECT_FALSE(Copy());
  ASSERT_EQ(1u, Rows(kAuxPhase).size());
  EXPECT_EQ(kFailed, Rows(kAuxPhase)[0].status);
  EXPECT_EQ(0, CopyStatus(backup, kAux));
  EXPECT_TRUE(Logged("Backup job [" + std::to_string(backup) + "] failed to aux copy for copyId [52]"));
}

TEST_F(E2EStorageCopies, TwoSchedulesReadingOneCopyShareOneAuxJob) {
  Policy();
  Machine(1, kTask);
  Machine(2, kTask + 1);
  const long long backup = Backup();
  Load({1, 2}, backup);

  EXPECT_TRUE(Copy());
  EXPECT_EQ(1u, JobsOf(EChildJobType::kAuxCopy).size());
  std::set<long> tasks;
  m_dr->GetDRAppMgr()->GetTaskIds(kPolicy, kAux, tasks);
  EXPECT_EQ((std::set<long>{kTask, kTask + 1}), tasks);
  std::vector<SPhaseRow> rows = Rows(kAuxPhase);
  ASSERT_EQ(2u, rows.size());
  EXPECT_EQ(kSuccess, rows[0].status);
  EXPECT_EQ(kSuccess, rows[1].status);
}

TEST_F(E2EStorageCopies, MachinesWithoutACopyPrecedenceNeedNoCopy) {
  Policy();
  Machine(1, kTask, false);
  const long long backup = Backup();
  Load({1}, backup);

  EXPECT_TRUE(Copy());
  EXPECT_TRUE(JobsOf(EChildJobType::kAuxCopy).empty());
  EXPECT_TRUE(Rows(kAuxPhase).empty());
}

TEST_F(E2EStorageCopies, TheSyncRequestFiltersEveryMachineOfTheFirstMachinesTask) {
  Policy();
  Machine(4);
  Machine(5);
  Machine(6);
  Load({4, 5, 6}, 0);

  TMMsg::TaskOperationReq request;
  ASSERT_TRUE(m_dr->LoadSyncTask(request, m_machines));
  EXPECT_EQ(5, request.GetInt32(TMMsg::TaskOperationReq::kOperation));
  ASSERT_EQ(1u, request.ListSize(TMMsg::TaskOperationReq::kTaskIds));
  EXPECT_EQ(static_cast<uint32_t>(kTask), request.GetListUInt32(TMMsg::TaskOperationReq::kTaskIds, 0));
  const CNMessageBase& options = request.GetMsg(TMMsg::TaskOperationReq::kOptions);
  ASSERT_EQ(3u, options.ListSize(TMMsg::TaskOperationOptionFields::kFilters));
  for (size_t i = 0; i < 3; ++i) {
    const CNMessageBase& filter = options.GetListMsg(TMMsg::TaskOperationOptionFields::kFilters, i);
    EXPECT_EQ(120012, filter.GetInt32(TMMsg::OptionFilter::kFilterId));
    EXPECT_EQ(std::to_string(4 + i), filter.GetString(TMMsg::OptionFilter::kValue));
  }
  std::vector<CDRInfo*> none;
  TMMsg::TaskOperationReq empty;
  EXPECT_FALSE(m_dr->LoadSyncTask(empty, none));
  EXPECT_TRUE(Logged("Sync list is empty"));
}

}  // namespace
