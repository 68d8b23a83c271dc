// Signals and a closed output during drjob run, in another process: the
// planned failover of the sample group is held half-way (an operation on a
// machine of its first priority hangs, its machines "Failover in
// Progress"), a signal arrives, then the hang is released. The first signal is the job's own kill: the
// run ends killed with every row final, no child job running and its lease
// given back, and a rerun finishes the failover. A second ends drjob at once
// and leaves what a crash leaves, which a rerun takes over. A reader of the
// output that goes away ends nothing.
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "host/DrJobTestSupport.h"
#include "host/SeedReplications.h"
#include "jobs/JobStore.h"
#include "jobs/PhaseRowStore.h"
#include "jobsim/JobSimulator.h"
#include "msg/MsgEnums.h"
#include "repl/ReplicationStore.h"
#include "vm/HypervisorLab.h"

namespace {

using drtest::Has;
using drtest::SResult;

class E2EDrJobSignals : public drtest::CDrJobLabTest {
 protected:
  void TearDown() override {
    // A run left behind by a failed assertion is not held any longer.
    CHypervisorLab::ClearFaults();
    CHypervisorLab::ReleaseHangs();
    drtest::CDrJobLabTest::TearDown();
  }
  // The run's operation of the type on the VM hangs until released.
  static void HoldAt(int opType, const std::string& guid) {
    SLabFault hang;
    hang.opType = opType;
    hang.vm = guid;
    hang.kind = ELabFault::kHang;
    ASSERT_TRUE(CHypervisorLab::AddFault(hang));
  }
  static void Release() {
    ASSERT_TRUE(CHypervisorLab::ClearFaults());
    ASSERT_TRUE(CHypervisorLab::ReleaseHangs());
  }
  // The job's backups run until completed from here.
  static void HoldBackups() { CJobSimulator::SetDuration(EChildJobType::kBackup, kForever); }
  static std::vector<SChildJobRecord> Backups(long long jobId) {
    std::vector<SChildJobRecord> jobs, backups;
    EXPECT_EQ(EStoreResult::kOk, CJobSimulator::Jobs(jobs));
    for (const SChildJobRecord& j : jobs) {
      if (j.type == EChildJobType::kBackup && !j.vmChild && j.parentJobId == jobId) backups.push_back(j);
    }
    return backups;
  }
  static void ReleaseBackups(long long jobId) {
    CJobSimulator::SetDuration(EChildJobType::kBackup, 0);  // the type's own again
    for (const SChildJobRecord& j : Backups(jobId)) {
      if (!j.ended) {
        EXPECT_TRUE(CJobSimulator::Complete(j.jobId)) << j.jobId;
      }
    }
  }
  static constexpr long long kForever = 1000LL * 3600 * 24 * 365;

  // The planned failover in another process, its error lines among its
  // output. Whatever the test runner was started with, the stop signals
  // have their default actions there, except those named in `ignore`, as
  // nohup would leave them. Returns once the run holds its job and watches
  // for signals.
  void StartRun(drtest::CChildProcess& run, long long jobId, const std::string& scale,
                const std::string& defaults = "INT,TERM,HUP", const std::string& ignore = "",
                const std::string& group = "Sample", const std::string& type = "planned-failover") {
    std::vector<std::string> argv = {"/bin/sh", "-c", "exec \"$@\" 2>&1", "sh", "/usr/bin/env",
                                     "--default-signal=" + defaults};
    if (!ignore.empty()) argv.push_back("--ignore-signal=" + ignore);
    argv.insert(argv.end(), {"DR_RUN_DIR=" + m_dir + "/run", "DR_LOCK_DIR=" + m_dir + "/locks",
                             "DR_TIME_SCALE=" + scale, DR_DRJOB, "run", "--db", m_db, "--group", group, "--type", type,
                             "--job-id", std::to_string(jobId)});
    ASSERT_TRUE(run.Start(argv));
    ASSERT_TRUE(ReadUntil(run, "] progress [")) << m_output;
  }
  // Reads the run's output up to a line that holds the text.
  bool ReadUntil(drtest::CChildProcess& run, const std::string& text) {
    for (std::string line; run.ReadLine(line, 60000);) {
      m_output += line + "\n";
      if (line.find(text) != std::string::npos) return true;
    }
    return false;
  }
  // The rest of the run's output, and how it ended.
  int ReadToEnd(drtest::CChildProcess& run) {
    for (std::string line; run.ReadLine(line, 120000);) m_output += line + "\n";
    return run.Wait();
  }

  static bool HeldHalfWay() { return FailoverStatus(101) == App::VSA_FAILOVER_STATUS_FAILOVER_IN_PROGRESS; }
  // A row of the job's machine in progress: the machine is half-way.
  static bool InProgress(long long jobId, int replicationId, int phase) {
    std::vector<SPhaseRowRecord> rows;
    if (CPhaseRowStore::ReadJob(jobId, rows) != EStoreResult::kOk) return false;
    return std::any_of(rows.begin(), rows.end(), [&](const SPhaseRowRecord& row) {
      return row.replicationId == replicationId && row.phase == phase &&
             row.status == Api::VIRTUAL_APP_PHASE_STATE_IN_PROGRESS;
    });
  }

  // No machine's row of the job in progress, no child job running, no
  // replication left in the middle of a failover.
  static void ExpectSettled(long long jobId, std::set<int>* machines = nullptr) {
    std::vector<SPhaseRowRecord> rows;
    ASSERT_EQ(EStoreResult::kOk, CPhaseRowStore::ReadJob(jobId, rows));
    EXPECT_FALSE(rows.empty());
    for (const SPhaseRowRecord& row : rows) {
      EXPECT_NE(Api::VIRTUAL_APP_PHASE_STATE_IN_PROGRESS, row.status)
          << "replication " << row.replicationId << " phase " << row.phase;
      if (machines != nullptr && row.replicationId != 0) machines->insert(row.replicationId);
    }
    std::vector<SChildJobRecord> children;
    ASSERT_EQ(EStoreResult::kOk, CJobSimulator::Jobs(children));
    for (const SChildJobRecord& j : children) EXPECT_TRUE(j.ended) << "child job " << j.jobId << " " << j.status;
    for (const SSampleVM& vm : kSampleVMs) {
      EXPECT_NE(App::VSA_FAILOVER_STATUS_FAILOVER_IN_PROGRESS, FailoverStatus(vm.replicationId)) << vm.replicationId;
    }
  }

  // The rerun that names only the job finishes the failover.
  void ExpectTheRerunFinishes(long long jobId) {
    const SResult again = Host("run --db " + m_db + " --job-id " + std::to_string(jobId));
    EXPECT_EQ(0, again.code) << again.output;
    EXPECT_TRUE(Has(again, "this run is a restart, attempt [2]")) << again.output;
    std::set<int> machines;
    ExpectSettled(jobId, &machines);
    EXPECT_EQ((std::set<int>{101, 102, 201}), machines);
    for (const SSampleVM& vm : kSampleVMs) {
      EXPECT_EQ(App::VSA_FAILOVER_STATUS_FAILOVER_COMPLETE, FailoverStatus(vm.replicationId)) << vm.replicationId;
    }
    const SJobRecord job = Job(jobId);
    EXPECT_EQ("Completed", job.status);
    EXPECT_TRUE(job.runner.Empty());
  }

  // One signal half-way, the first priority's sources shut down and their
  // backup running: the job's own kill, then the rerun.
  void KillBySignal(int signal, const std::string& name, long long jobId) {
    HoldBackups();
    drtest::CChildProcess run;
    StartRun(run, jobId, "0.001");
    ASSERT_TRUE(drtest::Eventually([jobId] {
      return HeldHalfWay() && InProgress(jobId, 101, Api::VIRTUAL_APP_PHASE_BACKUP) && !Backups(jobId).empty();
    }));
    ASSERT_EQ(0, kill(run.Pid(), signal));
    ASSERT_TRUE(ReadUntil(run, "drjob: " + name + ": kill requested for DR job [" + std::to_string(jobId) +
                                   "]; the job acts on it at its next wait or step that looks for a kill, if one "
                                   "comes (drjob run --help), another signal ends drjob at once"))
        << m_output;
    const int status = ReadToEnd(run);
    ASSERT_TRUE(WIFEXITED(status)) << m_output;
    EXPECT_EQ(9, WEXITSTATUS(status)) << m_output;
    EXPECT_TRUE(Has(SResult{0, m_output}, "finished with state [16] KILLED")) << m_output;
    EXPECT_FALSE(Has(SResult{0, m_output}, "was not acted on")) << "the job saw this kill: " << m_output;
    const SJobRecord job = Job(jobId);
    EXPECT_EQ("Killed", job.status);
    EXPECT_EQ(1, job.controlOp);
    EXPECT_TRUE(job.runner.Empty()) << "the run lease is given back";
    // The backup it waited for went with it.
    for (const SChildJobRecord& backup : Backups(jobId)) EXPECT_EQ("Killed", backup.status);
    ExpectSettled(jobId);
    ReleaseBackups(jobId);
    ExpectTheRerunFinishes(jobId);
  }

  std::string m_output;
};

TEST_F(E2EDrJobSignals, SigintHalfWayKillsTheJobAndTheRerunFinishesIt) { KillBySignal(SIGINT, "SIGINT", 501); }

TEST_F(E2EDrJobSignals, SigtermHalfWayKillsTheJobAndTheRerunFinishesIt) { KillBySignal(SIGTERM, "SIGTERM", 502); }

TEST_F(E2EDrJobSignals, SighupHalfWayKillsTheJobAndTheRerunFinishesIt) { KillBySignal(SIGHUP, "SIGHUP", 503); }

// The line that follows a final state when the job never saw the kill
// requested while it ran.
std::string Unseen(long long jobId) {
  return "drjob: DR job [" + std::to_string(jobId) + "]: the kill requested at [";
}
bool TellsUnseenKillAfter(const std::string& output, long long jobId, const std::string& state,
                          const std::string& because = "no step of the job checked for it after that") {
  const std::string final = "drjob: DR job [" + std::to_string(jobId) + "] finished with state [" + state + "\n";
  const size_t at = output.find(final);
  return at != std::string::npos && output.compare(at + final.size(), Unseen(jobId).size(), Unseen(jobId)) == 0 &&
         output.find("] was not acted on, because " + because + "\n", at) != std::string::npos;
}

// A kill no step of the job looks for after it: a test failover whose
// clones' power-on, its last step, is under way. Requested by a signal (the
// power-on held until the signal's line is out) and by the lab's trigger in
// the job's record, as another process's control kill is: the job runs to
// its end, and drjob says the kill was not acted on.
TEST_F(E2EDrJobSignals, AKillNoStepLooksForIsToldAfterTheFinalState) {
  HoldAt(TMMsg::VM_OPERATION_POWER_ON, "");
  drtest::CChildProcess run;
  // Slow enough for the power-on's hang to outlast the test.
  StartRun(run, 507, "0.01", "INT,TERM,HUP", "", "SampleTest", "test-failover");
  ASSERT_TRUE(drtest::Eventually([] { return InProgress(507, 401, Api::VIRTUAL_APP_PHASE_POWER_ON); }));
  ASSERT_EQ(0, kill(run.Pid(), SIGINT));
  ASSERT_TRUE(ReadUntil(run, "drjob: SIGINT: kill requested for DR job [507]")) << m_output;
  Release();
  const int status = ReadToEnd(run);
  ASSERT_TRUE(WIFEXITED(status)) << m_output;
  EXPECT_EQ(0, WEXITSTATUS(status)) << m_output;
  EXPECT_TRUE(TellsUnseenKillAfter(m_output, 507, "0] SUCCESS")) << m_output;
  EXPECT_EQ("Completed", Job(507).status);

  SLabFault trigger;
  trigger.opType = TMMsg::VM_OPERATION_POWER_ON;
  trigger.toCall = 1000;  // the calls are counted from the lab's first
  trigger.kind = ELabFault::kKillJob;
  ASSERT_TRUE(CHypervisorLab::AddFault(trigger));
  const SResult recorded = Host("run --db " + m_db + " --group SampleTest --type test-failover --job-id 508");
  EXPECT_EQ(0, recorded.code) << recorded.output;
  EXPECT_TRUE(TellsUnseenKillAfter(recorded.output, 508, "0] SUCCESS")) << recorded.output;
  // Not acted on, the request is cleared: it would read as one the job answered.
  EXPECT_EQ(0, Job(508).controlOp);
}

// drjob control's request and the run's final state are ordered, both ways
// round, by pause points on the lines logged just before each write (a
// clean-up that keeps its DR VMs looks for no request after it starts).
// Before the final state: the request is accepted, the run reads it as it
// stores the state, says it was not acted on, and clears it. After: a
// control that read the record while the job still ran is refused, as of a
// job that has ended, and the run says nothing.
class E2EDrJobControlOrder : public E2EDrJobSignals {
 protected:
  static constexpr const char* kBeforeFinalState = "EndJob(): Storing the final state";
  // drjob in another process, paused right after its first log line that
  // holds `pause`; returns once it is paused.
  void StartPaused(drtest::CChildProcess& process, const std::string& pause, const std::vector<std::string>& args) {
    std::vector<std::string> argv = {"/bin/sh", "-c", "exec \"$@\" 2>&1", "sh", "/usr/bin/env",
                                     "DR_RUN_DIR=" + m_dir + "/run", "DR_LOCK_DIR=" + m_dir + "/locks",
                                     "DR_TIME_SCALE=0.001", "DR_PAUSE_AT=" + pause, DR_DRJOB};
    argv.insert(argv.end(), args.begin(), args.end());
    ASSERT_TRUE(process.Start(argv));
    ASSERT_TRUE(drtest::Eventually([&] { return drtest::IsStopped(process.Pid()); })) << "never paused at " << pause;
    // The stop is told in the log first, with how the process goes on.
    EXPECT_NE(std::string::npos, drtest::ReadFile(m_dir + "/run/drorch.log")
                                     .find("PausePoint(): Stopping process [" + std::to_string(process.Pid()) +
                                           "] (SIGSTOP) after the chosen line; SIGCONT goes on"));
  }
  void StartCleanupPaused(drtest::CChildProcess& run, long long jobId) {
    StartPaused(run, kBeforeFinalState,
                {"run", "--db", m_db, "--group", "Sample", "--type", "cleanup-destination-vm", "--job-id",
                 std::to_string(jobId)});
  }
  static SResult Continue(drtest::CChildProcess& process) {
    EXPECT_EQ(0, kill(process.Pid(), SIGCONT));
    return Finish(process);
  }
  // A request between the job's last look and its final state.
  void RequestBeforeTheFinalState(long long jobId, const std::string& operation) {
    drtest::CChildProcess run;
    StartCleanupPaused(run, jobId);
    const SResult requested = Host("control --db " + m_db + " --job " + std::to_string(jobId) + " " + operation);
    EXPECT_EQ(0, requested.code) << requested.output;
    EXPECT_TRUE(Has(requested, operation + " requested for DR job [" + std::to_string(jobId) + "]"))
        << requested.output;
    const SResult ended = Continue(run);
    EXPECT_EQ(0, ended.code) << ended.output;
    const std::string told = "drjob: DR job [" + std::to_string(jobId) + "] finished with state [0] SUCCESS\n" +
                             "drjob: DR job [" + std::to_string(jobId) + "]: the " + operation + " requested at [";
    EXPECT_TRUE(Has(ended, told)) << ended.output;
    EXPECT_TRUE(Has(ended, "] was not acted on, because no step of the job checked for it after that\n"))
        << ended.output;
    const SJobRecord job = Job(jobId);
    EXPECT_EQ("Completed", job.status);
    EXPECT_EQ(0, job.controlOp) << "a request not acted on is cleared from the record";
  }
};

TEST_F(E2EDrJobControlOrder, AKillBeforeTheFinalStateIsToldAndOneAfterIsRefused) {
  RequestBeforeTheFinalState(510, "kill");
  // The clean-up took the group's machines out of it: a fresh lab.
  CDBConnection::CloseThreadConnections();
  const SResult seed = Host("seed --replace --db " + m_db);
  ASSERT_EQ(0, seed.code) << seed.output;

  drtest::CChildProcess run;
  StartCleanupPaused(run, 511);
  drtest::CChildProcess control;
  StartPaused(control, "Control(): Requesting [kill] of DR job [511]",
              {"control", "--db", m_db, "--job", "511", "kill"});
  const SResult ended = Continue(run);
  EXPECT_EQ(0, ended.code) << ended.output;
  EXPECT_FALSE(Has(ended, "was not acted on")) << ended.output;
  const SResult refused = Continue(control);
  EXPECT_EQ(14, refused.code) << refused.output;
  EXPECT_TRUE(Has(refused, "DR job [511] has already ended [Completed]; nothing to kill")) << refused.output;
  EXPECT_EQ(0, Job(511).controlOp);
}

// Inside the final state's write: the run has read the request that stands
// and not yet stored its state. A control that cannot wait for the write is
// refused there; one that waits is refused once the state is stored, as of
// a job that has ended. Whichever way, a request accepted is told by the
// run: were the read and the write two transactions, the first control
// would be accepted between them and never told.
TEST_F(E2EDrJobControlOrder, AKillWhileTheFinalStateIsWrittenIsToldOrRefusedNeverLost) {
  drtest::CChildProcess run;
  StartPaused(run, "EndRun(): Read the control request [0] of job [516]",
              {"run", "--db", m_db, "--group", "Sample", "--type", "cleanup-destination-vm", "--job-id", "516"});
  const SResult hurried = drtest::RunShell(drtest::HostEnvironment(m_dir) + "DR_DB_BUSY_MS=0 " + DR_DRJOB +
                                           " control --db " + m_db + " --job 516 kill 2>&1");
  drtest::CChildProcess waiting;
  StartPaused(waiting, "Control(): Requesting [kill] of DR job [516]",
              {"control", "--db", m_db, "--job", "516", "kill"});
  EXPECT_EQ(0, kill(waiting.Pid(), SIGCONT));
  const SResult ended = Continue(run);
  const SResult waited = Finish(waiting);
  EXPECT_EQ(0, ended.code) << ended.output;
  const bool told = Has(ended, "drjob: DR job [516]: the kill requested at [");
  for (const SResult* control : {&hurried, &waited}) {
    if (control->code == 0) {
      EXPECT_TRUE(told) << "accepted, never told:\n" << control->output << ended.output;
    } else {
      EXPECT_FALSE(Has(*control, "requested for DR job")) << control->output;
    }
  }
  EXPECT_EQ(4, hurried.code) << hurried.output;
  EXPECT_TRUE(Has(hurried, "drjob: cannot record the kill request for DR job [516]: the database [")) << hurried.output;
  EXPECT_EQ(14, waited.code) << waited.output;
  EXPECT_TRUE(Has(waited, "DR job [516] has already ended [Completed]; nothing to kill")) << waited.output;
  EXPECT_FALSE(told) << ended.output;
  EXPECT_EQ(0, Job(516).controlOp);
}

// A suspend the job never acts on is told after the final state, as a kill
// is, and taken off the record.
TEST_F(E2EDrJobControlOrder, ASuspendTheJobNeverActsOnIsToldAndCleared) { RequestBeforeTheFinalState(512, "suspend"); }

// A kill requested once the storage-array test failover's last machine is
// done: the job reads its quit flag after that, between its mounts' batches,
// and halts nothing. A flag first read after the last step is not acted on.
TEST_F(E2EDrJobSignals, AKillFirstReadAfterTheLastStepIsToldAsNotActedOn) {
  const SResult r = drtest::RunShell(drtest::HostEnvironment(m_dir) +
                                     "DR_KILL_AT='DR complete for replication [' DR_KILL_AT_COUNT=4 " + DR_DRJOB +
                                     " run --db " + m_db + " --group SampleArray --type test-failover --job-id 513 2>&1");
  EXPECT_EQ(0, r.code) << r.output;
  EXPECT_TRUE(TellsUnseenKillAfter(r.output, 513, "0] SUCCESS")) << r.output;
  EXPECT_NE(std::string::npos, drtest::ReadFile(m_dir + "/run/drorch.log").find("DR Job [513] quit flag is set"))
      << "the job read the flag";
  EXPECT_EQ(0, Job(513).controlOp);
}

// The same after a machine failed on its own: the planned failover's last
// priority fails app-server's power-on, and the kill lands right after that
// priority's clean-up, when the loop reads the flag only to choose how it
// ends. The job ends COMPLETED WITH ERRORS, says the kill was not acted on
// and clears it, and the printed new job, the fault gone, takes app-server
// over. A kill that lands as that priority begins halts app-server's steps:
// acted on, it is not told.
TEST_F(E2EDrJobSignals, AKillFirstReadAfterAFailedLastStepIsToldAsNotActedOn) {
  const auto plant = [] {
    drtest::PlantVMFault("dst-201", TMMsg::VM_OPERATION_POWER_ON, ELabFault::kError, "the host refused to start it");
  };
  const auto run = [this](const std::string& killAt, int count, long long jobId) {
    return drtest::RunShell(drtest::HostEnvironment(m_dir) + "DR_KILL_AT='" + killAt +
                            "' DR_KILL_AT_COUNT=" + std::to_string(count) + " " + DR_DRJOB +
                            " run --db " + m_db + " --group Sample --type planned-failover --job-id " +
                            std::to_string(jobId) + " 2>&1");
  };
  plant();
  const SResult late = run("END CLEAN-UP operation", 2, 514);
  EXPECT_EQ(8, late.code) << late.output;
  EXPECT_TRUE(TellsUnseenKillAfter(late.output, 514, "4] COMPLETED WITH ERRORS",
                                   "the job found it only after its last step"))
      << late.output;
  EXPECT_TRUE(Has(late, "machine [app-server] (replication 201): failed in phase [Power On]: the host refused"))
      << late.output;
  EXPECT_NE(std::string::npos, drtest::ReadFile(m_dir + "/run/drorch.log").find("DR Job [514] quit flag is set"))
      << "the job read the flag";
  const SJobRecord job = Job(514);
  EXPECT_EQ("Completed w/ one or more errors", job.status);
  EXPECT_EQ(0, job.controlOp) << "a kill not acted on is cleared from the record";
  // The new job drjob printed, as printed.
  std::vector<std::string> told;
  const std::vector<std::string> commands = drtest::PrintedCommands(late.output, &told);
  ASSERT_EQ(1u, commands.size()) << late.output;
  EXPECT_NE(std::string::npos, told.front().find("takes app-server (201):")) << late.output;
  const std::string command = commands.front();
  Release();
  const SResult next = drtest::RunShell("export " + drtest::HostEnvironment(m_dir) + "; drjob() { '" + DR_DRJOB +
                                        "' \"$@\"; }; " + command + " 2>&1");
  EXPECT_EQ(0, next.code) << command << "\n" << next.output;
  EXPECT_FALSE(Has(next, "was not acted on")) << next.output;
  for (const SSampleVM& vm : kSampleVMs) {
    EXPECT_EQ(App::VSA_FAILOVER_STATUS_FAILOVER_COMPLETE, FailoverStatus(vm.replicationId)) << vm.replicationId;
  }

  CDBConnection::CloseThreadConnections();
  const SResult seed = Host("seed --replace --db " + m_db);
  ASSERT_EQ(0, seed.code) << seed.output;
  plant();
  const SResult early = run("Processing PRIORITY [2]", 1, 515);
  EXPECT_EQ(8, early.code) << early.output;
  EXPECT_TRUE(Has(early, "drjob: DR job [515] finished with state [4] COMPLETED WITH ERRORS\n")) << early.output;
  EXPECT_FALSE(Has(early, "was not acted on")) << early.output;
  EXPECT_TRUE(Has(early, "machine [app-server] (replication 201): failed")) << early.output;
  EXPECT_FALSE(Has(early, "the host refused")) << "the kill halted app-server before its power-on: " << early.output;
  EXPECT_EQ(1, Job(515).controlOp) << "a kill acted on stays on the record";
}

// A kill or suspend requested while the test group's planned failover ends
// its only priority, every machine failed on its own (the test group names
// no tenant): the loop first finds it after its last step, only to choose
// how it ends. It halted nothing, so the job ends FAILED as it would
// without it, each machine keeps its own reason, and drjob's line that it
// was not acted on agrees with both.
class E2EDrJobStopAfterTheWork : public E2EDrJobControlOrder,
                                 public testing::WithParamInterface<const char*> {};

TEST_P(E2EDrJobStopAfterTheWork, AStopFirstFoundAfterTheLastStepLeavesTheStateAndVerdictsOfTheWork) {
  const std::string operation = GetParam();
  drtest::CChildProcess run;
  StartPaused(run, "~CVSADRBase(): Invoking CVSADRBase destructor",
              {"run", "--db", m_db, "--group", "SampleTest", "--type", "planned-failover", "--job-id", "517"});
  const SResult requested = Host("control --db " + m_db + " --job 517 " + operation);
  ASSERT_EQ(0, requested.code) << requested.output;
  const SResult ended = Continue(run);
  EXPECT_EQ(1, ended.code) << ended.output;
  EXPECT_TRUE(Has(ended, "drjob: DR job [517] finished with state [1] FAILED\ndrjob: DR job [517]: the " + operation +
                             " requested at ["))
      << ended.output;
  EXPECT_TRUE(Has(ended, "] was not acted on, because the job found it only after its last step\n")) << ended.output;
  EXPECT_NE(std::string::npos, drtest::ReadFile(m_dir + "/run/drorch.log").find("DR Job [517] quit flag is set"))
      << "the job read the flag";
  for (const char* machine : {"web-front] (replication 401)", "web-cache] (replication 402)"}) {
    EXPECT_TRUE(Has(ended, std::string("machine [") + machine +
                               ": failed: its failover status is [Failover Failed]; priority [1] logged: "
                               "PopulateAdditionalVMOpReq(): Failed to query tenant and region from recovery target"))
        << machine << "\n" << ended.output;
  }
  EXPECT_FALSE(Has(ended, "the job was killed")) << ended.output;
  EXPECT_FALSE(Has(ended, "the job was suspended")) << ended.output;
  const SJobRecord job = Job(517);
  EXPECT_EQ("Failed", job.status);
  EXPECT_EQ(0, job.controlOp) << "a request not acted on is cleared from the record";
}

INSTANTIATE_TEST_SUITE_P(KillAndSuspend, E2EDrJobStopAfterTheWork, testing::Values("kill", "suspend"));

// A clean-up that keeps the DR VMs runs no step: drjob control's kill
// between its priorities is never looked for.
TEST_F(E2EDrJobSignals, ACleanupKeepingItsDRVMsKilledBetweenPrioritiesRunsToItsEnd) {
  // The kill is stored in the job's record right after the wait between
  // the priorities begins, as another process's control kill stores it.
  const SResult r = drtest::RunShell(drtest::HostEnvironment(m_dir) +
                                     "DR_KILL_AT='Wait before processing next priority' " + DR_DRJOB + " run --db " +
                                     m_db + " --group Sample --type cleanup-destination-vm --job-id 509 2>&1");
  EXPECT_EQ(0, r.code) << r.output;
  EXPECT_TRUE(TellsUnseenKillAfter(r.output, 509, "0] SUCCESS")) << r.output;
}

// Held in a source's shutdown, where the job cannot act on the kill the
// first signal recorded: only the second can end the run.
TEST_F(E2EDrJobSignals, ASecondSignalEndsDrjobAtOnceAndTheRerunTakesTheJobOver) {
  HoldAt(TMMsg::VM_OPERATION_SHUTDOWN, "src-101");
  drtest::CChildProcess run;
  // Slow enough for the shutdown's hang to outlast the test (half an hour
  // is a minute and a half).
  StartRun(run, 504, "0.05");
  ASSERT_TRUE(drtest::Eventually([] { return HeldHalfWay(); }));
  ASSERT_EQ(0, kill(run.Pid(), SIGINT));
  ASSERT_TRUE(ReadUntil(run, "drjob: SIGINT: kill requested for DR job [504]")) << m_output;
  ASSERT_EQ(0, kill(run.Pid(), SIGINT));
  const int status = ReadToEnd(run);
  ASSERT_TRUE(WIFSIGNALED(status)) << m_output;
  EXPECT_EQ(SIGINT, WTERMSIG(status));
  EXPECT_TRUE(Has(SResult{0, m_output}, "drjob: a second signal: drjob ends at once")) << m_output;
  // What a crash leaves: the job running in its record, its machines half-way.
  const SJobRecord job = Job(504);
  EXPECT_EQ("Running", job.status);
  EXPECT_EQ(CProcessIdentity::kGone, CProcessIdentity::StateOf(job.runner));
  EXPECT_TRUE(HeldHalfWay());

  Release();
  ExpectTheRerunFinishes(504);
}

// Started with SIGHUP ignored (as under nohup): a SIGHUP asks nothing, so
// the SIGINT after it is the first signal, the job's kill.
TEST_F(E2EDrJobSignals, ASignalIgnoredWhenTheRunStartedStaysIgnored) {
  HoldAt(TMMsg::VM_OPERATION_SHUTDOWN, "src-101");
  drtest::CChildProcess run;
  StartRun(run, 505, "0.05", "INT,TERM", "HUP");
  ASSERT_TRUE(drtest::Eventually([] { return HeldHalfWay(); }));
  ASSERT_EQ(0, kill(run.Pid(), SIGHUP));
  ASSERT_EQ(0, kill(run.Pid(), SIGINT));
  ASSERT_TRUE(ReadUntil(run, "kill requested for DR job [505]")) << m_output;
  Release();
  const int status = ReadToEnd(run);
  ASSERT_TRUE(WIFEXITED(status)) << m_output;
  EXPECT_EQ(9, WEXITSTATUS(status)) << m_output;
  EXPECT_TRUE(Has(SResult{0, m_output}, "drjob: SIGINT: kill requested")) << m_output;
  EXPECT_FALSE(Has(SResult{0, m_output}, "SIGHUP")) << m_output;
  EXPECT_EQ("Killed", Job(505).status);
}

// The reader of the run's output goes away after the first line while the
// run is held in its backup; every later line meets a closed pipe. The run
// goes on to the end of the failover.
TEST_F(E2EDrJobSignals, AClosedOutputEndsNothing) {
  HoldBackups();
  const std::string first = m_dir + "/first.txt";
  const std::string closed = m_dir + "/closed";
  const std::string errors = m_dir + "/errors.txt";
  const std::string script = "DR_RUN_DIR='" + m_dir + "/run' DR_LOCK_DIR='" + m_dir + "/locks' DR_TIME_SCALE=0.001 " +
                             DR_DRJOB + " run --db '" + m_db +
                             "' --group Sample --type planned-failover --job-id 506 2>'" + errors +
                             "' | { head -n 1 >'" + first + "'; exec 0<&-; : >'" + closed +
                             "'; }; exit ${PIPESTATUS[0]}";
  drtest::CChildProcess shell;
  ASSERT_TRUE(shell.Start({"/bin/bash", "-c", script}));
  struct stat st;
  ASSERT_TRUE(drtest::Eventually([&] { return stat(closed.c_str(), &st) == 0 && !Backups(506).empty(); }));
  ReleaseBackups(506);
  const int status = shell.Wait();
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(0, WEXITSTATUS(status)) << drtest::ReadFile(errors);
  EXPECT_EQ("drjob: DR job [506] on DR group [Sample] (id 1), type [planned-failover]\n", drtest::ReadFile(first));
  EXPECT_EQ("", drtest::ReadFile(errors));
  const SJobRecord job = Job(506);
  EXPECT_EQ("Completed", job.status);
  EXPECT_TRUE(job.runner.Empty());
  std::set<int> machines;
  ExpectSettled(506, &machines);
  EXPECT_EQ((std::set<int>{101, 102, 201}), machines);
}

}  // namespace
