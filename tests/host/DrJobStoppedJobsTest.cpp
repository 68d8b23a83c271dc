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
  EXPECT_TRUE(Has(refused, "drjob: DR job [7]: its sync job [" + s +
                               "] [Suspended] takes no kill (the job manager ignores operations on it); nothing was "
                               "killed, the job is left [Suspended], a kill asked again tries again\n"))
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
            "drjob: DR job [7]: [2] phase row(s) it left waiting on a child job are marked failed, as a kill of "
            "the running job marks them; its record says [Killed]\n"
            "drjob: DR job [7] machine [db-primary] (replication 101) now: failover status [Failover in "
            "Progress], source VM [db-primary] off, DR VM [db-primary-DR] off: neither VM runs\n"
            "drjob: DR job [7] machine [db-replica] (replication 102) now: failover status [Failover in "
            "Progress], source VM [db-replica] off, DR VM [db-replica-DR] off: neither VM runs\n"
            "drjob: DR job [7] machine [app-server] (replication 201) now: no failover status, source VM "
            "[app-server] on, DR VM [app-server-DR] off: the source VM runs\n"
            "drjob: DR job [7] is continued by its restart, which takes over db-primary (101), db-replica (102), "
            "app-server (201):\ndrjob: $ drjob run --db " + m_db + " --job-id 7\n",
            killed.output);
  EXPECT_EQ("Killed", drtest::ChildJob(sync).status);
  // As a kill of the running job leaves its wait on the sync.
  for (const SPhaseRowRecord& row : Rows(7)) {
    const bool sync = row.phase == Api::VIRTUAL_APP_PHASE_REPLICATION;
    EXPECT_EQ(sync ? Api::VIRTUAL_APP_PHASE_STATE_FAILED : Api::VIRTUAL_APP_PHASE_STATE_SUCCESS, row.status)
        << "replication " << row.replicationId << " phase " << row.phase;
    if (sync) {
      EXPECT_EQ("Error on sync operation", row.failureReason);
    }
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
  EXPECT_TRUE(Has(killed, "drjob: DR job [7] is continued by its restart, which takes over db-primary (101), "
                          "db-replica (102), app-server (201):\ndrjob: $ drjob run --db " +
                              m_db + " --job-id 7\n"))
      << killed.output;
  ExpectNoChildRunning();

  const SResult again = Host("run --db " + m_db + " --job-id 7");
  EXPECT_EQ(0, again.code) << again.output;
  for (const SSampleVM& vm : kSampleVMs) {
    EXPECT_EQ(App::VSA_FAILOVER_STATUS_FAILOVER_COMPLETE, FailoverStatus(vm.replicationId)) << vm.replicationId;
  }
}

// How drjob control ends a stopped job: each row the job left waiting on a
// child ends as a kill of the running job ends it, so that the restart goes
// on as after that kill; a child that takes no kill stops the kill before
// any is killed; the machine lines say where each machine is now and which
// DR job worked on it since; the rows and the record are stored together.
class E2EDrJobStoppedJobEnd : public E2EDrJobStoppedJobs {
 protected:
  // The backup jobs that have not ended, by id.
  static std::vector<long long> OpenBackups() {
    std::vector<SChildJobRecord> jobs;
    EXPECT_EQ(EStoreResult::kOk, CJobSimulator::Jobs(jobs));
    std::vector<long long> open;
    for (const SChildJobRecord& j : jobs) {
      if (j.type == EChildJobType::kBackup && !j.vmChild && !j.ended) open.push_back(j.jobId);
    }
    return open;
  }
  // Whether the job's backup row of each of the replications names one of
  // the backups and is in progress.
  static bool BackupRowsWait(long long jobId, const std::vector<int>& replicationIds,
                             const std::vector<long long>& backups) {
    size_t waiting = 0;
    for (const SPhaseRowRecord& row : Rows(jobId)) {
      if (row.phase != Api::VIRTUAL_APP_PHASE_BACKUP || row.status != Api::VIRTUAL_APP_PHASE_STATE_IN_PROGRESS ||
          std::find(replicationIds.begin(), replicationIds.end(), row.replicationId) == replicationIds.end()) {
        continue;
      }
      for (long long child : CPhaseRowStore::ChildJobsOf(row.details)) {
        if (std::find(backups.begin(), backups.end(), child) != backups.end()) ++waiting;
      }
    }
    return waiting == replicationIds.size();
  }
  // Runs the DR job and suspends it once its first priority's backups run
  // (backups that never end by themselves) and its rows of the replications
  // name them; the backups, by id.
  std::vector<long long> SuspendInBackups(const std::string& run, long long jobId, const std::vector<int>& replicationIds,
                                          size_t backups) {
    CJobSimulator::SetDuration(EChildJobType::kBackup, kForever);
    drtest::CChildProcess process;
    StartHost(process, run + " --job-id " + std::to_string(jobId));
    std::vector<long long> open;
    EXPECT_TRUE(drtest::Eventually([&] {
      open = OpenBackups();
      return open.size() == backups && BackupRowsWait(jobId, replicationIds, open);
    }));
    const SResult suspend = Host("control --db " + m_db + " --job " + std::to_string(jobId) + " suspend");
    EXPECT_EQ(0, suspend.code) << suspend.output;
    const SResult suspended = Finish(process);
    EXPECT_EQ(10, suspended.code) << suspended.output;
    CJobSimulator::SetDuration(EChildJobType::kBackup, 0);
    for (long long backup : open) EXPECT_EQ("Suspended", drtest::ChildJob(backup).status) << backup;
    return open;
  }
  // The message the row's details carry, as a restart reads it.
  static std::string MessageOf(const SPhaseRowRecord& row) {
    Api::VirtualAppPhaseInfo info;
    if (!info.Unserialize(row.details) || info.ListSize(Api::VirtualAppPhaseInfo::kJobInfos) == 0) return "?";
    return info.GetListMsg(Api::VirtualAppPhaseInfo::kJobInfos, 0)
        .GetMsg(Api::VirtualAppJobInfo::kMessage)
        .GetString(Api::GenericResp::kText);
  }
  // The job's backup rows of the replications: failed with the message a
  // kill of the running job writes, each naming one of the backups killed.
  static void ExpectBackupRowsKilled(long long jobId, const std::vector<int>& replicationIds,
                                     const std::vector<long long>& killed) {
    size_t seen = 0;
    for (const SPhaseRowRecord& row : Rows(jobId)) {
      if (row.phase != Api::VIRTUAL_APP_PHASE_BACKUP ||
          std::find(replicationIds.begin(), replicationIds.end(), row.replicationId) == replicationIds.end()) {
        continue;
      }
      ++seen;
      EXPECT_EQ(Api::VIRTUAL_APP_PHASE_STATE_FAILED, row.status) << row.replicationId;
      EXPECT_EQ("Job kill issued", row.failureReason) << row.replicationId;
      EXPECT_EQ("Job kill issued", MessageOf(row)) << row.replicationId;
      const std::vector<long long> named = CPhaseRowStore::ChildJobsOf(row.details);
      ASSERT_EQ(1u, named.size()) << row.replicationId;
      EXPECT_NE(killed.end(), std::find(killed.begin(), killed.end(), named.front())) << row.replicationId;
    }
    EXPECT_EQ(replicationIds.size(), seen);
  }
  // Runs the job again: it succeeds on every machine, and its backup rows
  // name backups it launched itself, none of those killed.
  void ExpectRerunSucceeds(long long jobId, const std::vector<long long>& killed) {
    const std::string id = std::to_string(jobId);
    const SResult rerun = Host("run --db " + m_db + " --job-id " + id);
    ASSERT_EQ(0, rerun.code) << rerun.output;
    EXPECT_TRUE(Has(rerun, "drjob: DR job [" + id + "] finished with state [0] SUCCESS\n")) << rerun.output;
    EXPECT_FALSE(Has(rerun, ": failed")) << rerun.output;
    for (const SPhaseRowRecord& row : Rows(jobId)) {
      if (row.phase != Api::VIRTUAL_APP_PHASE_BACKUP) continue;
      EXPECT_EQ(Api::VIRTUAL_APP_PHASE_STATE_SUCCESS, row.status) << row.replicationId;
      for (long long child : CPhaseRowStore::ChildJobsOf(row.details)) {
        EXPECT_EQ(killed.end(), std::find(killed.begin(), killed.end(), child)) << row.replicationId;
      }
    }
    for (long long backup : killed) EXPECT_EQ("Killed", drtest::ChildJob(backup).status) << backup;
    ExpectNoChildRunning();
  }
  // Kills the stopped job through drjob control: exit 0, each backup named
  // killed, the rows of its waits failed, the record "Killed".
  void KillStopped(long long jobId, const std::vector<long long>& backups, size_t rows) {
    const std::string id = std::to_string(jobId);
    const SResult killed = Host("control --db " + m_db + " --job " + id + " kill");
    ASSERT_EQ(0, killed.code) << killed.output;
    for (long long backup : backups) {
      EXPECT_TRUE(Has(killed, "drjob: DR job [" + id + "]: its backup job [" + std::to_string(backup) +
                                  "] [Suspended] is killed\n"))
          << killed.output;
    }
    EXPECT_TRUE(Has(killed, "drjob: DR job [" + id + "]: [" + std::to_string(rows) +
                                "] phase row(s) it left waiting on a child job are marked failed, as a kill of the "
                                "running job marks them; its record says [Killed]\n"))
        << killed.output;
    EXPECT_EQ("Killed", Job(jobId).status);
  }

  static const std::vector<int> kFirstPriority;
  static const std::vector<int> kArrayMachines;
};

const std::vector<int> E2EDrJobStoppedJobEnd::kFirstPriority = {101, 102};
const std::vector<int> E2EDrJobStoppedJobEnd::kArrayMachines = {301, 302, 303, 304};

// A kill of the running job in its backups fails their rows, and its restart
// launches new backups. A kill from drjob control of the job suspended there
// must leave the same rows: a restart adopts the backup of a row that is not
// FAILED, and a killed backup adopted fails the machines.
TEST_F(E2EDrJobStoppedJobEnd, AJobSuspendedInItsBackupsAndKilledRerunsAsAfterAKillOfItsRun) {
  // The planned failover of the VM group.
  std::vector<long long> backups =
      SuspendInBackups("run --db " + m_db + " --group Sample --type planned-failover", 7, kFirstPriority, 1);
  KillStopped(7, backups, 2);
  ExpectBackupRowsKilled(7, kFirstPriority, backups);
  ExpectRerunSucceeds(7, backups);
  for (const SSampleVM& vm : kSampleVMs) {
    EXPECT_EQ(App::VSA_FAILOVER_STATUS_FAILOVER_COMPLETE, FailoverStatus(vm.replicationId)) << vm.replicationId;
  }

  // Its failback, whose backup is of the DR VMs.
  backups = SuspendInBackups("run --db " + m_db + " --group Sample --type failback", 9, kFirstPriority, 1);
  KillStopped(9, backups, 2);
  ExpectBackupRowsKilled(9, kFirstPriority, backups);
  ExpectRerunSucceeds(9, backups);
  for (const SSampleVM& vm : kSampleVMs) {
    EXPECT_TRUE(PoweredOn(kSampleSourceInstanceId, "src-" + std::to_string(vm.replicationId))) << vm.replicationId;
  }

  // The storage-array group: a backup for each of its two subclients.
  backups = SuspendInBackups("run --db " + m_db + " --group SampleArray --type planned-failover", 11, kArrayMachines, 2);
  KillStopped(11, backups, 4);
  ExpectBackupRowsKilled(11, kArrayMachines, backups);
  ExpectRerunSucceeds(11, backups);
}

// The storage-array job suspended in its two backups, the second of which
// takes no kill: nothing is killed. When the second refuses only once the
// first is killed, the first's rows fail as a kill of the running job fails
// them, the job stays suspended, and its restart goes on from there.
TEST_F(E2EDrJobStoppedJobEnd, AKillKillsNoChildUnlessEachTakesAKillAndNamesThoseKilledWhenOneStillRefuses) {
  const std::vector<long long> backups =
      SuspendInBackups("run --db " + m_db + " --group SampleArray --type planned-failover", 7, kArrayMachines, 2);
  ASSERT_EQ(2u, backups.size());
  const std::string first = std::to_string(backups[0]);
  const std::string second = std::to_string(backups[1]);
  const std::vector<SPhaseRowRecord> before = Rows(7);

  ASSERT_EQ(EStoreResult::kOk, CJobStore::SetIgnoreOperations(backups[1], true));
  const SResult checked = Host("control --db " + m_db + " --job 7 kill");
  EXPECT_EQ(1, checked.code) << checked.output;
  EXPECT_EQ("drjob: DR job [7]: its backup job [" + second +
                "] [Suspended] takes no kill (the job manager ignores operations on it); nothing was killed, the job "
                "is left [Suspended], a kill asked again tries again\n",
            checked.output);
  for (long long backup : backups) EXPECT_EQ("Suspended", drtest::ChildJob(backup).status) << backup;
  std::vector<SPhaseRowRecord> after = Rows(7);
  ASSERT_EQ(before.size(), after.size());
  for (size_t i = 0; i < before.size(); ++i) EXPECT_EQ(before[i].status, after[i].status) << i;
  EXPECT_EQ("Suspended", Job(7).status);
  EXPECT_TRUE(Job(7).runner.Empty());

  // The second takes no kill from the moment the first is killed.
  ASSERT_EQ(EStoreResult::kOk, CJobStore::SetIgnoreOperations(backups[1], false));
  Sql("CREATE TRIGGER refuse AFTER UPDATE OF status ON PLT_Jobs WHEN NEW.jobId = " + first +
      " AND NEW.status = 'Killed' BEGIN UPDATE PLT_Jobs SET ignoreOps = 1 WHERE jobId = " + second + "; END");
  const SResult refused = Host("control --db " + m_db + " --job 7 kill");
  Sql("DROP TRIGGER refuse");
  ASSERT_EQ(EStoreResult::kOk, CJobStore::SetIgnoreOperations(backups[1], false));
  EXPECT_EQ(1, refused.code) << refused.output;
  EXPECT_TRUE(Has(refused, "drjob: DR job [7]: its backup job [" + first + "] [Suspended] is killed\n"))
      << refused.output;
  EXPECT_TRUE(Has(refused, "drjob: DR job [7]: cannot kill its backup job [" + second +
                               "] [Suspended] (its record still says [Suspended]); its backup job [" + first +
                               "] [Suspended] is killed and [2] phase row(s) that waited on them are marked failed, "
                               "as a kill of the running job marks them; the job is left [Suspended], a kill asked "
                               "again kills the rest\n"))
      << refused.output;
  EXPECT_EQ("Killed", drtest::ChildJob(backups[0]).status);
  EXPECT_EQ("Suspended", drtest::ChildJob(backups[1]).status);
  EXPECT_EQ("Suspended", Job(7).status);
  std::vector<int> firstMachines;
  for (const SPhaseRowRecord& row : Rows(7)) {
    if (row.phase != Api::VIRTUAL_APP_PHASE_BACKUP) continue;
    const std::vector<long long> named = CPhaseRowStore::ChildJobsOf(row.details);
    ASSERT_EQ(1u, named.size());
    if (named.front() == backups[0]) {
      firstMachines.push_back(row.replicationId);
    } else {
      EXPECT_EQ(Api::VIRTUAL_APP_PHASE_STATE_IN_PROGRESS, row.status) << "the suspended one resumes";
    }
  }
  ExpectBackupRowsKilled(7, firstMachines, {backups[0]});

  // The restart resumes the second, made to run until it is ended, and
  // backs the first's machines up anew.
  drtest::CChildProcess rerun;
  StartHost(rerun, "run --db " + m_db + " --job-id 7");
  ASSERT_TRUE(drtest::Eventually([&] { return drtest::ChildJob(backups[1]).status == "Running"; }));
  ASSERT_TRUE(CJobSimulator::Complete(backups[1]));
  const SResult rerunEnd = Finish(rerun);
  ASSERT_EQ(0, rerunEnd.code) << rerunEnd.output;
  EXPECT_TRUE(Has(rerunEnd, "drjob: DR job [7] finished with state [0] SUCCESS\n")) << rerunEnd.output;
  for (const SPhaseRowRecord& row : Rows(7)) {
    if (row.phase != Api::VIRTUAL_APP_PHASE_BACKUP) continue;
    EXPECT_EQ(Api::VIRTUAL_APP_PHASE_STATE_SUCCESS, row.status) << row.replicationId;
    EXPECT_NE(backups[0], CPhaseRowStore::ChildJobsOf(row.details).front()) << row.replicationId;
  }
  EXPECT_EQ("Killed", drtest::ChildJob(backups[0]).status);
  EXPECT_EQ("Completed", drtest::ChildJob(backups[1]).status);
  ExpectNoChildRunning();
}

// DR job 7 suspended after its first priority's shutdowns, and DR job 8 on
// the group meanwhile, which fails over the machine job 7 never reached: the
// kill of job 7 tells where each machine is now, and that job 8 worked on
// that machine since.
TEST_F(E2EDrJobStoppedJobEnd, TheKillSaysWhereEachMachineIsNowAndWhichDRJobWorkedOnItSince) {
  SLabFault trigger;
  trigger.opType = TMMsg::VM_OPERATION_SHUTDOWN;
  trigger.vm = "src-101";
  trigger.kind = ELabFault::kSuspendJob;
  ASSERT_TRUE(CHypervisorLab::AddFault(trigger));
  const SResult suspended = Host("run --db " + m_db + " --group Sample --type planned-failover --job-id 7");
  ASSERT_EQ(10, suspended.code) << suspended.output;
  ASSERT_TRUE(CHypervisorLab::ClearFaults());
  const SResult later = Host("run --db " + m_db + " --group Sample --type planned-failover --job-id 8");
  ASSERT_EQ(0, later.code) << later.output;
  ASSERT_TRUE(Has(later, "drjob: DR job [8] machine [app-server] (replication 201): succeeded\n")) << later.output;

  const SResult killed = Host("control --db " + m_db + " --job 7 kill");
  ASSERT_EQ(0, killed.code) << killed.output;
  EXPECT_EQ("drjob: no process runs DR job [7] (its record says [Suspended]); drjob kills it itself\n"
            "drjob: DR job [7]: its record says [Killed]\n"
            "drjob: DR job [7] machine [db-primary] (replication 101) now: failover status [Failover in Progress], "
            "source VM [db-primary] off, DR VM [db-primary-DR] off: neither VM runs\n"
            "drjob: DR job [7] machine [db-replica] (replication 102) now: failover status [Failover in Progress], "
            "source VM [db-replica] off, DR VM [db-replica-DR] off: neither VM runs\n"
            "drjob: DR job [7] machine [app-server] (replication 201) now: failover status [Failover Complete], "
            "source VM [app-server] off, DR VM [app-server-DR] on: the DR VM runs (DR job [8] worked on it after DR "
            "job [7] stopped)\n"
            "drjob: DR job [7] is continued by its restart, which takes its machines over as they now are:\n"
            "drjob: $ drjob run --db " + m_db + " --job-id 7\n",
            killed.output);
}

// The kill stores the failed rows and the record "Killed" in one
// transaction: drjob control killed between the two writes (a crash point
// on the line it logs there) leaves neither, and a kill asked again stores
// both.
TEST_F(E2EDrJobStoppedJobEnd, AKillCrashedBetweenItsWritesStoresNeitherTheRowsNorTheRecord) {
  const long long sync = SuspendMidSync(7);
  const SJobRecord before = Job(7);
  const SResult crashed = drtest::RunShell(drtest::HostEnvironment(m_dir) + "DR_CRASH_AT='StoppedJobEnd(): ' " +
                                           DR_DRJOB + " control --db " + m_db + " --job 7 kill 2>&1");
  EXPECT_NE(0, crashed.code) << crashed.output;
  EXPECT_NE(std::string::npos,
            drtest::ReadFile(m_dir + "/run/drorch.log")
                .find("StoppedJobEnd(): [2] phase row(s) of DR job [7] written; storing its record [Killed]"));
  EXPECT_EQ("Killed", drtest::ChildJob(sync).status) << "the children go first";
  EXPECT_EQ("Suspended", Job(7).status);
  EXPECT_EQ(before.controlOp, Job(7).controlOp);
  for (const SPhaseRowRecord& row : Rows(7)) {
    const bool open = row.phase == Api::VIRTUAL_APP_PHASE_REPLICATION;
    EXPECT_EQ(open ? Api::VIRTUAL_APP_PHASE_STATE_IN_PROGRESS : Api::VIRTUAL_APP_PHASE_STATE_SUCCESS, row.status)
        << row.replicationId << " " << row.phase;
  }

  const SResult again = Host("control --db " + m_db + " --job 7 kill");
  ASSERT_EQ(0, again.code) << again.output;
  EXPECT_FALSE(Has(again, " is killed\n")) << "none is left to kill: " << again.output;
  EXPECT_EQ("Killed", Job(7).status);
  EXPECT_EQ(1, Job(7).controlOp);
  for (const SPhaseRowRecord& row : Rows(7)) {
    const bool open = row.phase == Api::VIRTUAL_APP_PHASE_REPLICATION;
    EXPECT_EQ(open ? Api::VIRTUAL_APP_PHASE_STATE_FAILED : Api::VIRTUAL_APP_PHASE_STATE_SUCCESS, row.status)
        << row.replicationId << " " << row.phase;
  }
}

}  // namespace
