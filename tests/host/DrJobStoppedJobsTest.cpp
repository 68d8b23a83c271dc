// A DR job stopped in the middle of its sync (suspended, no process runs
// it) and what comes after, through drjob in other processes: a kill ends
// it from drjob control (its suspended sync killed, its open rows killed,
// its record "Killed") and its rerun takes its machines over; a later
// failover of the group that waits on that sync says so in one line and
// goes on once the job is killed; a restart of the job that is killed while
// it waits on the sync it resumed kills that sync.
#include <algorithm>
#include <string>
#include <vector>

#include "JobSimTestSupport.h"
#include "TestSupport.h"
#include "host/DrJobTestSupport.h"
#include "host/SeedLab.h"
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

class E2EDrJobStoppedJobs : public drtest::CDrJobLabTest {
 protected:
  static constexpr long long kForever = 1000LL * 3600 * 24 * 365;

  // The sync job of the sample group that has not ended; 0 when none.
  static long long OpenSync() {
    std::vector<SChildJobRecord> jobs;
    EXPECT_EQ(EStoreResult::kOk, CJobSimulator::Jobs(jobs));
    for (const SChildJobRecord& j : jobs) {
      if (j.type == EChildJobType::kSync && !j.ended) return j.jobId;
    }
    return 0;
  }
  static std::vector<SPhaseRowRecord> Rows(long long jobId) {
    std::vector<SPhaseRowRecord> rows;
    EXPECT_EQ(EStoreResult::kOk, CPhaseRowStore::ReadJob(jobId, rows));
    return rows;
  }
  // The job's replication row of the machine names the child job.
  static bool SyncRowNames(long long jobId, int replicationId, long long child) {
    for (const SPhaseRowRecord& row : Rows(jobId)) {
      if (row.replicationId != replicationId || row.phase != Api::VIRTUAL_APP_PHASE_REPLICATION) continue;
      const std::vector<long long> named = CPhaseRowStore::ChildJobsOf(row.details);
      if (std::find(named.begin(), named.end(), child) != named.end()) return true;
    }
    return false;
  }
  static bool PoweredOn(long long instanceId, const std::string& guid) {
    SLabVM vm;
    EXPECT_EQ(EStoreResult::kOk, CHypervisorLab::GetVM(instanceId, guid, vm));
    return vm.poweredOn;
  }
  static void ExpectNoChildRunning() {
    std::vector<SChildJobRecord> jobs;
    ASSERT_EQ(EStoreResult::kOk, CJobSimulator::Jobs(jobs));
    for (const SChildJobRecord& j : jobs) EXPECT_TRUE(j.ended) << "child job " << j.jobId << " " << j.status;
  }

  // The sample group's planned failover as job jobId, suspended while its
  // first priority's sync runs (a sync that never ends by itself); the
  // sync's id. Later syncs take the type's own time again.
  long long SuspendMidSync(long long jobId) {
    CJobSimulator::SetDuration(EChildJobType::kSync, kForever);
    drtest::CChildProcess run;
    StartHost(run, "run --db " + m_db + " --group Sample --type planned-failover --job-id " + std::to_string(jobId));
    long long sync = 0;
    EXPECT_TRUE(drtest::Eventually([&] {
      sync = OpenSync();
      return sync != 0 && SyncRowNames(jobId, 101, sync) && SyncRowNames(jobId, 102, sync);
    }));
    const SResult suspend = Host("control --db " + m_db + " --job " + std::to_string(jobId) + " suspend");
    EXPECT_EQ(0, suspend.code) << suspend.output;
    const SResult suspended = Finish(run);
    EXPECT_EQ(10, suspended.code) << suspended.output;
    CJobSimulator::SetDuration(EChildJobType::kSync, 0);
    EXPECT_EQ("Suspended", drtest::ChildJob(sync).status);
    EXPECT_EQ("Suspended", Job(jobId).status);
    return sync;
  }

  // Kills DR job 7 from drjob control while the run waits, then reads the
  // run's output to its end; the run's exit code.
  int KillSevenAndFinish(drtest::CChildProcess& run) {
    const SResult killed = Host("control --db " + m_db + " --job 7 kill");
    EXPECT_EQ(0, killed.code) << killed.output;
    const SResult rest = Finish(run);
    m_output += rest.output;
    return rest.code;
  }
  // Reads the run's output up to a line that holds the text.
  bool ReadUntil(drtest::CChildProcess& run, const std::string& text) {
    for (std::string line; run.ReadLine(line, 60000);) {
      m_output += line + "\n";
      if (line.find(text) != std::string::npos) return true;
    }
    return false;
  }

  std::string m_output;
};

TEST_F(E2EDrJobStoppedJobs, AKillOfASuspendedJobNoProcessRunsEndsItAndItsRerunTakesItsMachinesOver) {
  const long long sync = SuspendMidSync(7);
  const std::string s = std::to_string(sync);

  // A child that takes no kill stops the kill before anything of the job
  // changes; the kill asked again does it all.
  const std::vector<SPhaseRowRecord> before = Rows(7);
  ASSERT_EQ(EStoreResult::kOk, CJobStore::SetIgnoreOperations(sync, true));
  const SResult refused = Host("control --db " + m_db + " --job 7 kill");
  EXPECT_EQ(1, refused.code) << refused.output;
  EXPECT_TRUE(Has(refused, "drjob: DR job [7]: cannot kill its sync job [" + s +
                               "] [Suspended] (its record still says [Suspended]); the job is left [Suspended], a "
                               "kill asked again tries again\n"))
      << refused.output;
  EXPECT_EQ("Suspended", Job(7).status);
  EXPECT_TRUE(Job(7).runner.Empty()) << "the lease drjob control held is given back";
  const std::vector<SPhaseRowRecord> after = Rows(7);
  ASSERT_EQ(before.size(), after.size());
  for (size_t i = 0; i < before.size(); ++i) EXPECT_EQ(before[i].status, after[i].status) << i;
  ASSERT_EQ(EStoreResult::kOk, CJobStore::SetIgnoreOperations(sync, false));

  const SResult killed = Host("control --db " + m_db + " --job 7 kill");
  ASSERT_EQ(0, killed.code) << killed.output;
  EXPECT_EQ("drjob: no process runs DR job [7] (its record says [Suspended]); drjob kills it itself\n"
            "drjob: DR job [7]: its sync job [" + s + "] [Suspended] is killed\n"
            "drjob: DR job [7]: [2] phase row(s) left in progress or suspended are marked killed; its record says "
            "[Killed]\n"
            "drjob: DR job [7] machine [db-primary] (replication 101) is left with failover status [Failover in "
            "Progress], source VM [db-primary] off, DR VM [db-primary-DR] off: neither VM runs\n"
            "drjob: DR job [7] machine [db-replica] (replication 102) is left with failover status [Failover in "
            "Progress], source VM [db-replica] off, DR VM [db-replica-DR] off: neither VM runs\n"
            "drjob: DR job [7] machine [app-server] (replication 201) is left with no failover status, source VM "
            "[app-server] on, DR VM [app-server-DR] off: the source VM runs\n"
            "drjob: DR job [7] is continued by its restart, which takes its machines over as they are left: drjob "
            "run --db " + m_db + " --job-id 7\n",
            killed.output);
  EXPECT_EQ("Killed", drtest::ChildJob(sync).status);
  for (const SPhaseRowRecord& row : Rows(7)) {
    const bool sync = row.phase == Api::VIRTUAL_APP_PHASE_REPLICATION;
    EXPECT_EQ(sync ? Api::VIRTUAL_APP_PHASE_STATE_KILLED : Api::VIRTUAL_APP_PHASE_STATE_SUCCESS, row.status)
        << "replication " << row.replicationId << " phase " << row.phase;
  }
  SJobRecord job = Job(7);
  EXPECT_EQ("Killed", job.status);
  EXPECT_EQ(1, job.controlOp);
  EXPECT_TRUE(job.runner.Empty()) << "the lease drjob control held is given back";
  ExpectNoChildRunning();

  const SResult again = Host("control --db " + m_db + " --job 7 kill");
  EXPECT_EQ(14, again.code) << again.output;
  EXPECT_EQ("drjob: DR job [7] has already ended [Killed]; nothing to kill\n", again.output);

  const SResult rerun = Host("run --db " + m_db + " --job-id 7");
  EXPECT_EQ(0, rerun.code) << rerun.output;
  EXPECT_TRUE(Has(rerun, "drjob: DR job [7] ran before: this run is a restart, attempt [2]")) << rerun.output;
  for (const SSampleVM& vm : kSampleVMs) {
    EXPECT_EQ(App::VSA_FAILOVER_STATUS_FAILOVER_COMPLETE, FailoverStatus(vm.replicationId)) << vm.replicationId;
  }
  EXPECT_EQ("Completed", Job(7).status);
  ExpectNoChildRunning();
}

// A suspend is still only requested from a running job: of a job no process
// runs there is nothing to suspend.
TEST_F(E2EDrJobStoppedJobs, ASuspendOfAJobNoProcessRunsStillAsksForNothing) {
  const long long sync = SuspendMidSync(7);
  const SResult r = Host("control --db " + m_db + " --job 7 suspend");
  EXPECT_EQ(16, r.code) << r.output;
  EXPECT_EQ("drjob: no process runs DR job [7] (its record says [Suspended]); nothing to suspend\n", r.output);
  EXPECT_EQ("Suspended", drtest::ChildJob(sync).status);
  EXPECT_EQ("Suspended", Job(7).status);
}

TEST_F(E2EDrJobStoppedJobs, AFailoverWaitingOnTheSyncOfASuspendedJobSaysSoOnceAndGoesOnWhenItIsKilled) {
  const long long sync = SuspendMidSync(7);
  const std::string s = std::to_string(sync);

  drtest::CChildProcess later;
  StartHost(later, "run --db " + m_db + " --group Sample --type planned-failover --job-id 8");
  const std::string waits = "drjob: DR job [8] waits on sync job [" + s + "] [Suspended] of DR job [7] [Suspended]";
  ASSERT_TRUE(ReadUntil(later, waits)) << m_output;
  EXPECT_TRUE(Has(SResult{0, m_output},
                  waits + " (its phase rows name it); the child goes on when DR job [7] runs again (drjob run --db " +
                      m_db + " --job-id 7) and ends when it is killed (drjob control --db " + m_db +
                      " --job 7 kill)\n"))
      << m_output;
  EXPECT_EQ("Suspended", drtest::ChildJob(sync).status) << "the failover only waits";

  EXPECT_EQ(0, KillSevenAndFinish(later)) << m_output;
  size_t lines = 0;
  for (size_t at = m_output.find(" waits on "); at != std::string::npos; at = m_output.find(" waits on ", at + 1)) {
    ++lines;
  }
  EXPECT_EQ(1u, lines) << m_output;
  // Job 7 left its machines half-way, which job 8 does not take; the
  // machine of the later priority it fails over.
  EXPECT_TRUE(Has(SResult{0, m_output}, "drjob: DR job [8] machine [app-server] (replication 201): succeeded"))
      << m_output;
  EXPECT_EQ(App::VSA_FAILOVER_STATUS_FAILOVER_COMPLETE, FailoverStatus(201));
  EXPECT_EQ("Killed", drtest::ChildJob(sync).status);
  ExpectNoChildRunning();
}

// The restart resumes the sync its first attempt suspended and waits on it
// as on any sync it finds running; a kill in that wait kills the sync, as
// the first attempt's kill would have, before the machines' kill handling
// powers their sources back on.
TEST_F(E2EDrJobStoppedJobs, ARestartKilledWhileItWaitsOnTheSyncItResumedKillsThatSync) {
  const long long sync = SuspendMidSync(7);
  const std::string s = std::to_string(sync);

  drtest::CChildProcess rerun;
  StartHost(rerun, "run --db " + m_db + " --job-id 7");
  ASSERT_TRUE(ReadUntil(rerun, "this run is a restart, attempt [2]")) << m_output;
  const std::string log = m_dir + "/run/drorch.log";
  ASSERT_TRUE(drtest::Eventually([&] {
    return drtest::ReadFile(log).find("WaitonRunningSyncJobs(): Waiting for sync job [" + s + "] to complete") !=
           std::string::npos;
  }));
  EXPECT_EQ("Running", drtest::ChildJob(sync).status) << "resumed";
  EXPECT_EQ(9, KillSevenAndFinish(rerun)) << m_output;
  EXPECT_FALSE(Has(SResult{0, m_output}, " waits on ")) << "the sync is the job's own: " << m_output;
  EXPECT_EQ("Killed", drtest::ChildJob(sync).status);
  ExpectNoChildRunning();
  for (const SSampleVM& vm : kSampleVMs) {
    if (vm.priority != 1) continue;
    EXPECT_EQ(App::VSA_FAILOVER_STATUS_FAILOVER_FAILED, FailoverStatus(vm.replicationId)) << vm.replicationId;
    EXPECT_TRUE(PoweredOn(kSampleSourceInstanceId, "src-" + std::to_string(vm.replicationId))) << vm.replicationId;
  }
}

// The restart of a job whose first attempt shut the sources down is killed
// at its first step (the DR VMs' power-off): its clean-up takes the earlier
// attempt's "Shutdown" rows for its own and powers the sources back on, as
// a first attempt killed there leaves them, and the machines' lines say
// what the restart did to them. The restart after it finishes the job.
TEST_F(E2EDrJobStoppedJobs, ARestartKilledAtItsFirstStepPowersBackOnTheSourcesItsFirstAttemptShutDown) {
  SuspendMidSync(7);
  const SResult killed = drtest::RunShell(drtest::HostEnvironment(m_dir) + "DR_KILL_AT='Ensuring destination vms are powered off' " +
                                          DR_DRJOB + " run --db " + m_db + " --job-id 7 2>&1");
  ASSERT_EQ(9, killed.code) << killed.output;
  for (const SSampleVM& vm : kSampleVMs) {
    const std::string line = "drjob: DR job [7] machine [" + std::string(vm.source) + "] (replication " +
                             std::to_string(vm.replicationId) + "): ";
    if (vm.priority != 1) {
      EXPECT_TRUE(Has(killed, line + "not reached: the job was killed before priority [2] began")) << killed.output;
      continue;
    }
    EXPECT_TRUE(Has(killed, line + "failed: the job was killed before its first step on the machine; the job's "
                                   "clean-up ran [Power On] on its source VM; its failover status is [Failover "
                                   "Failed]"))
        << killed.output;
    EXPECT_EQ(App::VSA_FAILOVER_STATUS_FAILOVER_FAILED, FailoverStatus(vm.replicationId)) << vm.replicationId;
    EXPECT_TRUE(PoweredOn(kSampleSourceInstanceId, "src-" + std::to_string(vm.replicationId))) << vm.replicationId;
    EXPECT_FALSE(PoweredOn(kSampleDestinationInstanceId, "dst-" + std::to_string(vm.replicationId)))
        << vm.replicationId;
  }
  EXPECT_TRUE(Has(killed, "drjob: DR job [7] is continued by its restart: drjob run --db " + m_db + " --job-id 7\n"))
      << killed.output;
  ExpectNoChildRunning();

  const SResult again = Host("run --db " + m_db + " --job-id 7");
  EXPECT_EQ(0, again.code) << again.output;
  for (const SSampleVM& vm : kSampleVMs) {
    EXPECT_EQ(App::VSA_FAILOVER_STATUS_FAILOVER_COMPLETE, FailoverStatus(vm.replicationId)) << vm.replicationId;
  }
}

}  // namespace
