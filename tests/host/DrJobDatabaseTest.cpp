// The planned failover of the sample database group through drjob, on a
// freshly seeded lab: the success path, the path without a sync, the
// arguments the database scripts get, and what a failure at each step
// leaves behind (the job's state and exit code, every machine's phase rows,
// the replications' statuses, the databases and the child jobs). Faults are
// planted through the lab's owners in this process; kills and suspensions go
// through "drjob control" while the run is in another process.
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "JobSimTestSupport.h"
#include "Phases.h"
#include "app/AppReplTestSupport.h"
#include "appmgr/DatabaseHosts.h"
#include "appmgr/InstanceProperties.h"
#include "appmgr/RemoteExecStore.h"
#include "host/DrJobTestSupport.h"
#include "host/KillTable.h"
#include "host/SeedGroups.h"
#include "jobs/PhaseRowStore.h"
#include "repl/ReplicaSyncStore.h"
#include "tasksim/DatabaseLabSeed.h"
#include "tasksim/ReplicaSyncEffects.h"

namespace {

using drtest::Has;
using drtest::SResult;
using SyncInfo = App::ReplicaSyncReplicationInfo;

constexpr int kOk = Api::VIRTUAL_APP_PHASE_STATE_SUCCESS;
constexpr int kFail = Api::VIRTUAL_APP_PHASE_STATE_FAILED;
using drtest::kRunning;
constexpr int kBackup = Api::VIRTUAL_APP_PHASE_BACKUP;
constexpr int kSync = Api::VIRTUAL_APP_PHASE_REPLICATION;
constexpr int kShutdown = Api::VIRTUAL_APP_PHASE_SHUTDOWN;
constexpr int kDisable = Api::VIRTUAL_APP_PHASE_DISABLE_SYNC;
constexpr int kPowerOn = Api::VIRTUAL_APP_PHASE_POWER_ON;
constexpr long long kDatabaseDRJob = 7001;
// A child job that runs until the test ends it.
constexpr long long kJobNeverEnds = 1000000000LL;

// A replication's phase rows: phase -> state.
using PhaseRows = std::map<int, int>;
const PhaseRows kAllDone = {{kBackup, kOk}, {kSync, kOk}, {kPowerOn, kOk}, {kDisable, kOk}, {kShutdown, kOk}};

class E2EDrJobDatabase : public drtest::CDrJobLabTest {
 protected:
  void SetUp() override {
    drtest::CDrJobLabTest::SetUp();
    m_lab = CDatabaseLabSeed::Sample();
  }

  std::string RunArgs() const {
    return "run --db " + m_db + " --group " + kSampleDBGroup.name + " --type planned-failover --job-id " +
           std::to_string(kDatabaseDRJob);
  }
  SResult Run() { return Host(RunArgs()); }

  // The run in another process, at a time scale of its own, whose output is
  // read once it ends.
  void StartRun(drtest::CChildProcess& run, const std::string& scale = "0.001") { StartHost(run, RunArgs(), scale); }
  SResult Control(const char* operation) {
    return Host("control --db " + m_db + " --job " + std::to_string(kDatabaseDRJob) + " " + operation);
  }

  const SSeedDBReplication& Replication(int id) const { return m_lab.replications.at(id - 1); }

  static PhaseRows RowsOf(int replicationId) {
    std::vector<SPhaseRowRecord> rows;
    EXPECT_EQ(EStoreResult::kOk, CPhaseRowStore::ReadJob(kDatabaseDRJob, rows));
    PhaseRows out;
    for (const SPhaseRowRecord& row : rows) {
      if (row.replicationId == replicationId) out[row.phase] = row.status;
    }
    return out;
  }
  // The replication's row of a phase; phase and status -1 when there is
  // none, so that no check of a state passes on a missing row.
  static SPhaseRowRecord RowOf(int replicationId, int phase) {
    std::vector<SPhaseRowRecord> rows;
    EXPECT_EQ(EStoreResult::kOk, CPhaseRowStore::ReadJob(kDatabaseDRJob, rows));
    for (const SPhaseRowRecord& row : rows) {
      if (row.replicationId == replicationId && row.phase == phase) return row;
    }
    SPhaseRowRecord none;
    none.phase = -1;
    none.status = -1;
    return none;
  }
  static SyncInfo Stored(int id) {
    SyncInfo info;
    EXPECT_EQ(EStoreResult::kOk, CReplicaSyncStore::Find(id, info)) << id;
    return info;
  }
  static bool Running(const SSeedDBSite& site) {
    bool running = false;
    EXPECT_EQ(EStoreResult::kOk, CDatabaseHosts::IsRunning(site.clientId, site.home, running)) << site.clientName;
    return running;
  }
  static std::vector<SRemoteExecEntry> Journal(int clientId = 0) { return drtest::DBScriptsSent(clientId); }
  // The child job of a type a machine started (0 when there is none yet).
  long long ChildOf(EChildJobType type, int replicationId) const {
    for (const SChildJobRecord& job : drtest::ChildJobsOf(type)) {
      const bool mine = type == EChildJobType::kBackup
                            ? job.applicationId == Replication(replicationId).subclientId
                            : job.replicationIds == std::vector<int>{replicationId};
      if (mine) return job.jobId;
    }
    return 0;
  }
  // Both machines wait on a child of the type, their running rows naming
  // it.
  bool BothWaitOn(EChildJobType type, int phase) const {
    return drtest::Eventually([&] {
      for (int id : {1, 2}) {
        const long long child = ChildOf(type, id);
        const SPhaseRowRecord row = RowOf(id, phase);
        if (child == 0 || row.status != kRunning || row.details.find(std::to_string(child)) == std::string::npos) {
          return false;
        }
      }
      return true;
    });
  }
  static bool NoChildRuns() {
    std::vector<SChildJobRecord> jobs;
    EXPECT_EQ(EStoreResult::kOk, CJobSimulator::Jobs(jobs));
    for (const SChildJobRecord& job : jobs) {
      if (!job.ended) return false;
    }
    return true;
  }
  std::string Log() const { return drtest::ReadFile(m_dir + "/run/drorch.log"); }
  static size_t Count(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++n;
    return n;
  }
  static std::string Ended(int state, const char* text) {
    return "drjob: DR job [" + std::to_string(kDatabaseDRJob) + "] finished with state [" + std::to_string(state) + "] " +
           text;
  }

  SSeedDBLab m_lab;
};

TEST_F(E2EDrJobDatabase, APlannedFailoverBacksUpSyncsStopsTheSourcesAndStartsTheDestinations) {
  const SResult r = Run();
  EXPECT_EQ(0, r.code) << r.output;
  EXPECT_TRUE(Has(r, Ended(0, "SUCCESS"))) << r.output;
  for (int id : {1, 2}) {
    const SSeedDBReplication& rep = Replication(id);
    EXPECT_EQ(kAllDone, RowsOf(id)) << id;
    EXPECT_EQ(App::VSA_FAILOVER_STATUS_FAILOVER_COMPLETE, Stored(id).GetInt32(SyncInfo::kFailoverStatus)) << id;
    EXPECT_EQ(App::VSA_REPL_STATUS_SYNC_DISABLED, Stored(id).GetInt32(SyncInfo::kSyncStatus)) << id;
    EXPECT_FALSE(Running(rep.source)) << id;
    EXPECT_TRUE(Running(rep.destination)) << id;
    const std::vector<SRemoteExecEntry> started = Journal(rep.destination.clientId);
    ASSERT_EQ(1u, started.size()) << id;
    EXPECT_EQ((std::vector<std::string>{"sh", CDatabaseHosts::kStartScript, rep.destination.clientName,
                                        rep.destination.home}),
              started[0].argv);
    const std::vector<SRemoteExecEntry> stopped = Journal(rep.source.clientId);
    ASSERT_EQ(1u, stopped.size()) << id;
    EXPECT_EQ((std::vector<std::string>{"sh", CDatabaseHosts::kStopScript, rep.source.clientName, rep.source.home}),
              stopped[0].argv);
    // Its own backup and one sync of it, both ended.
    EXPECT_NE(0, ChildOf(EChildJobType::kBackup, id)) << id;
    EXPECT_NE(0, ChildOf(EChildJobType::kSync, id)) << id;
  }
  EXPECT_TRUE(NoChildRuns());
  const SResult show = Host("lab --db " + m_db);
  EXPECT_TRUE(Has(show, "11       src1         /u01/src1            stopped   up")) << show.output;
  EXPECT_TRUE(Has(show, "21       dst1         /u01/dst1            running   up")) << show.output;
  EXPECT_EQ((std::vector<std::vector<std::string>>{
                {"1", "31", "Failover", "Complete", "Sync", "Disabled"},
                {"2", "32", "Failover", "Complete", "Sync", "Disabled"}}),
            drtest::LabSection(show.output, "database replications"));
}

TEST_F(E2EDrJobDatabase, ReplicationsTheBackupLeavesInSyncStartNoSyncJob) {
  ASSERT_TRUE(CReplicaSyncEffects::SetBackupsLeaveSyncStatus(true));
  const SResult r = Run();
  EXPECT_EQ(0, r.code) << r.output;
  EXPECT_TRUE(drtest::ChildJobsOf(EChildJobType::kSync).empty());
  EXPECT_EQ(2u, drtest::ChildJobsOf(EChildJobType::kBackup).size());
  const std::string log = Log();
  for (int id : {1, 2}) {
    EXPECT_EQ(kAllDone, RowsOf(id)) << id;
    EXPECT_NE(std::string::npos,
              log.find("No sync required for instances in list [" + std::to_string(id) +
                       "] as sync status is [IN SYNC]"))
        << id;
    EXPECT_TRUE(Running(Replication(id).destination)) << id;
  }
}

TEST_F(E2EDrJobDatabase, AnEmptyOracleHomeIsPassedAsAnEmptyArgument) {
  const SSeedDBSite& destination = Replication(1).destination;
  ASSERT_EQ(0, InstanceProperties(destination.instanceId).setAttribute(ZN_PROP_ORACLE_HOME, ""));
  ASSERT_TRUE(CDatabaseHosts::PutDatabase(destination.clientId, "", false));
  const SResult r = Run();
  EXPECT_EQ(0, r.code) << r.output;
  const std::vector<SRemoteExecEntry> started = Journal(destination.clientId);
  ASSERT_EQ(1u, started.size());
  EXPECT_EQ(destination.clientName + " ", started[0].arguments);
  EXPECT_EQ((std::vector<std::string>{"sh", CDatabaseHosts::kStartScript, destination.clientName, ""}),
            started[0].argv);
  bool running = false;
  ASSERT_EQ(EStoreResult::kOk, CDatabaseHosts::IsRunning(destination.clientId, "", running));
  EXPECT_TRUE(running);
}

TEST_F(E2EDrJobDatabase, ClientNamesAShellWouldSplitAreNeverSent) {
  // Replication 1's source client is named with a ';', replication 2's
  // with a blank: neither shut-down is sent, so no host is given anything.
  const std::vector<std::string> names = {"src1;reboot", "src 2"};
  for (int id : {1, 2}) {
    SSeedDBSite site = Replication(id).source;
    site.clientName = names[id - 1];
    SyncInfo partial;
    partial.SetInt32(SyncInfo::kReplicationId, id);
    partial.SetMsg(SyncInfo::kSourceEntity, CDatabaseLabSeed::Entity(site, Replication(id).subclientId, 22));
    std::string error;
    ASSERT_EQ(0, CReplicaSyncStore::Merge(partial, error)) << error;
  }
  const SResult r = Run();
  EXPECT_EQ(1, r.code) << r.output;
  EXPECT_TRUE(Has(r, Ended(1, "FAILED"))) << r.output;
  EXPECT_TRUE(Journal().empty());
  for (int id : {1, 2}) {
    EXPECT_EQ((PhaseRows{{kBackup, kOk}, {kSync, kOk}, {kShutdown, kFail}}), RowsOf(id)) << id;
    EXPECT_TRUE(Running(Replication(id).source)) << id;
    EXPECT_FALSE(Running(Replication(id).destination)) << id;
    EXPECT_EQ(App::VSA_FAILOVER_STATUS_NONE, Stored(id).GetInt32(SyncInfo::kFailoverStatus)) << id;
  }
  EXPECT_NE(std::string::npos, Log().find("is not plain text"));
}

// ---- the fault matrix ----

// A fault on the failover of replication 1 (or of both, for kills) and
// what the run leaves.
struct SDBFault {
  const char* name;
  std::function<void()> plant;  // before the run
  std::function<void()> steer;  // while it runs
  int exitCode;
  PhaseRows rows1;
  PhaseRows rows2;  // kAllDone: replication 2 fails over
  int syncStatus1;
  int failoverStatus1;
  bool source1Running;
  bool destination1Running;
  const char* logged;  // a line of the run's log; empty: none asked for
  const char* scale;   // the run's time scale
};

class E2EDrJobDatabaseFaults : public E2EDrJobDatabase {
 protected:
  // Fails machine 1's child of the type the moment both wait on theirs; the
  // other completes.
  void EndChildren(EChildJobType type, int phase, const std::function<bool(long long)>& endFirst) {
    ASSERT_TRUE(BothWaitOn(type, phase));
    ASSERT_TRUE(endFirst(ChildOf(type, 1)));
    ASSERT_TRUE(CJobSimulator::Complete(ChildOf(type, 2)));
  }
  void KillWhenBothWaitOn(EChildJobType type, int phase) {
    ASSERT_TRUE(BothWaitOn(type, phase));
    const SResult r = Control("kill");
    ASSERT_EQ(0, r.code) << r.output;
  }
  void Check(const SDBFault& f) {
    SCOPED_TRACE(f.name);
    if (f.plant) f.plant();
    drtest::CChildProcess run;
    StartRun(run, f.scale);
    if (f.steer) f.steer();
    const SResult r = Finish(run);
    EXPECT_EQ(f.exitCode, r.code) << r.output;
    EXPECT_TRUE(Has(r, "finished with state")) << r.output;
    EXPECT_EQ(f.rows1, RowsOf(1));
    EXPECT_EQ(f.rows2, RowsOf(2));
    EXPECT_EQ(f.syncStatus1, Stored(1).GetInt32(SyncInfo::kSyncStatus));
    EXPECT_EQ(f.failoverStatus1, Stored(1).GetInt32(SyncInfo::kFailoverStatus));
    EXPECT_EQ(f.source1Running, Running(Replication(1).source));
    EXPECT_EQ(f.destination1Running, Running(Replication(1).destination));
    if (f.rows2 == kAllDone) {
      EXPECT_FALSE(Running(Replication(2).source));
      EXPECT_TRUE(Running(Replication(2).destination));
      EXPECT_EQ(App::VSA_FAILOVER_STATUS_FAILOVER_COMPLETE, Stored(2).GetInt32(SyncInfo::kFailoverStatus));
    } else {
      EXPECT_TRUE(Running(Replication(2).source));
      EXPECT_FALSE(Running(Replication(2).destination));
    }
    EXPECT_TRUE(NoChildRuns());
    if (*f.logged != '\0') {
      EXPECT_NE(std::string::npos, Log().find(f.logged)) << f.logged;
    }
  }
};

void Forever(EChildJobType type) { CJobSimulator::SetDuration(type, kJobNeverEnds); }
bool FailJob(long long id) { return CJobSimulator::Fail(id, "media full"); }
bool EndInFive(long long id) {
  SJobFaults faults;
  faults.flags = kFaultSyncFailed;
  faults.replicationIds = {1};
  return CJobSimulator::SetFaults(id, faults) && CJobSimulator::Complete(id);
}

const int kInSync = App::VSA_REPL_STATUS_IN_SYNC;
const int kNeedSync = App::VSA_REPL_STATUS_NEED_SYNC;
const int kSyncFailed = App::VSA_REPL_STATUS_SYNC_FAILED;
const int kDisabled = App::VSA_REPL_STATUS_SYNC_DISABLED;
const int kNoFailover = App::VSA_FAILOVER_STATUS_NONE;

const PhaseRows kBackupFailed = {{kBackup, kFail}};
const PhaseRows kSyncStepFailed = {{kBackup, kOk}, {kSync, kFail}};
const PhaseRows kShutdownFailed = {{kBackup, kOk}, {kSync, kOk}, {kShutdown, kFail}};
const PhaseRows kPowerOnFailed = {{kBackup, kOk}, {kSync, kOk}, {kShutdown, kOk}, {kDisable, kOk}, {kPowerOn, kFail}};
const char kLeftStopped[] = "Source database of replication [1] on client [src1] at Oracle home [/u01/src1] is left stopped";

TEST_F(E2EDrJobDatabaseFaults, EachFailedStepLeavesItsRowFailedAndNothingAfterIt) {
  const std::vector<SDBFault> cases = {
      {"backup job fails", [] { Forever(EChildJobType::kBackup); },
       [this] { EndChildren(EChildJobType::kBackup, kBackup, FailJob); }, 8, kBackupFailed, kAllDone,
       kInSync, kNoFailover, true, false, "Instance backup failed for replication [1]", "0.001"},
      {"sync job fails", [] { Forever(EChildJobType::kSync); },
       [this] { EndChildren(EChildJobType::kSync, kSync, FailJob); }, 8, kSyncStepFailed, kAllDone,
       kSyncFailed, kNoFailover, true, false, "Instance replication failed for replication [1]", "0.001"},
      // The step believes the sync job: one that completes while its
      // replication ends in 5 lets the failover go on.
      {"sync job completes leaving 5", [] { Forever(EChildJobType::kSync); },
       [this] { EndChildren(EChildJobType::kSync, kSync, EndInFive); }, 0, kAllDone, kAllDone, kDisabled,
       App::VSA_FAILOVER_STATUS_FAILOVER_COMPLETE, false, true, "", "0.001"},
      {"shut-down exits 1",
       [this] {
         ASSERT_TRUE(CDatabaseHosts::SetFault(Replication(1).source.clientId, CDatabaseHosts::kStopScript, 1,
                                              EDBHostFault::kExitCode, 1));
       },
       nullptr, 8, kShutdownFailed, kAllDone, kInSync, kNoFailover, true, false,
       "Instance shutdown failed for replication [1]", "0.001"},
      {"source client unreachable",
       [this] {
         const SResult down = Host("lab --db " + m_db + " down src1");
         ASSERT_EQ(0, down.code) << down.output;
       },
       nullptr, 8, kShutdownFailed, kAllDone, kInSync, kNoFailover, true, false,
       "Instance shutdown failed for replication [1]", "0.001"},
      {"start-up exits 1 after a failed sync",
       [this] {
         SyncInfo failed;
         failed.SetInt32(SyncInfo::kReplicationId, 1);
         failed.SetInt32(SyncInfo::kSyncStatus, kSyncFailed);
         std::string error;
         ASSERT_EQ(0, CReplicaSyncStore::Merge(failed, error)) << error;
         ASSERT_TRUE(CDatabaseHosts::SetFault(Replication(1).destination.clientId, CDatabaseHosts::kStartScript, 1,
                                              EDBHostFault::kExitCode, 1));
       },
       nullptr, 8, kPowerOnFailed, kAllDone, kInSync, kNoFailover, false, false, kLeftStopped, "0.001"},
      // The machine counts as failed over before its status is stored.
      {"failover status not stored",
       [] {
         ASSERT_TRUE(CReplicaSyncStore::SetFault(1, EReplicaSyncFault::kStoreFails, SyncInfo::kFailoverStatus.a));
       },
       nullptr, 0, kAllDone, kAllDone, kDisabled, kNoFailover, false, true, kLeftStopped, "0.001"},
      {"kill while the backups hang", [] { Forever(EChildJobType::kBackup); },
       [this] { KillWhenBothWaitOn(EChildJobType::kBackup, kBackup); }, 9, kBackupFailed, kBackupFailed,
       kInSync, kNoFailover, true, false, "", "0.001"},
      {"kill while the syncs hang", [] { Forever(EChildJobType::kSync); },
       [this] { KillWhenBothWaitOn(EChildJobType::kSync, kSync); }, 9, kSyncStepFailed, kSyncStepFailed,
       kSyncFailed, kNoFailover, true, false, "", "0.001"},
      // The pause before the sync lasts a minute of the run's clock: long
      // enough here for the kill to come inside it.
      {"kill during the pause before the sync", [] { CJobSimulator::SetDuration(EChildJobType::kBackup, 1000); },
       [this] {
         // Both machines in the pause: the line names neither, and a kill
         // while one is still before it would halt that one elsewhere.
         ASSERT_TRUE(drtest::Eventually([&] {
           return Count(Log(), "[Wait before querying running sync jobs]. Checking back in [60] seconds") >= 2;
         }));
         const SResult r = Control("kill");
         ASSERT_EQ(0, r.code) << r.output;
       },
       9, kSyncStepFailed, kSyncStepFailed, kNeedSync, kNoFailover, true, false, "DR job interrupted before the sync",
       "0.05"},
  };
  for (const SDBFault& f : cases) {
    Check(f);
    // A fresh lab for the next case.
    CDBConnection::CloseThreadConnections();
    const SResult seed = Host("seed --replace --db " + m_db);
    ASSERT_EQ(0, seed.code) << seed.output;
    drtest::RemoveTree(m_dir + "/run");
  }
}

TEST_F(E2EDrJobDatabaseFaults, ASuspensionAtTheBackupWaitIsResumedByARestartThatSucceeds) {
  Forever(EChildJobType::kBackup);
  drtest::CChildProcess first;
  StartRun(first);
  ASSERT_TRUE(BothWaitOn(EChildJobType::kBackup, kBackup));
  const long long backup1 = ChildOf(EChildJobType::kBackup, 1);
  const long long backup2 = ChildOf(EChildJobType::kBackup, 2);
  ASSERT_EQ(0, Control("suspend").code);
  const SResult suspended = Finish(first);
  EXPECT_EQ(10, suspended.code) << suspended.output;
  // The rows still run, naming the backups, which wait suspended.
  for (int id : {1, 2}) {
    const SPhaseRowRecord row = RowOf(id, kBackup);
    EXPECT_EQ(kRunning, row.status) << id;
    EXPECT_EQ((PhaseRows{{kBackup, kRunning}}), RowsOf(id)) << id;
  }
  EXPECT_EQ("Suspended", drtest::ChildJob(backup1).status);
  EXPECT_EQ("Suspended", drtest::ChildJob(backup2).status);
  EXPECT_TRUE(Running(Replication(1).source));

  // The restart resumes the suspended backups, and the step backs the
  // databases up again, now with backups that end by themselves.
  CJobSimulator::SetDuration(EChildJobType::kBackup, 1000);
  drtest::CChildProcess restart;
  StartRun(restart);
  ASSERT_TRUE(drtest::Eventually([&] {
    return drtest::ChildJob(backup1).status == "Running" && drtest::ChildJob(backup2).status == "Running";
  }));
  ASSERT_TRUE(CJobSimulator::Complete(backup1));
  ASSERT_TRUE(CJobSimulator::Complete(backup2));
  const SResult r = Finish(restart);
  EXPECT_EQ(0, r.code) << r.output;
  EXPECT_TRUE(Has(r, "this run is a restart")) << r.output;
  EXPECT_EQ(4u, drtest::ChildJobsOf(EChildJobType::kBackup).size());
  for (int id : {1, 2}) {
    EXPECT_EQ(kAllDone, RowsOf(id)) << id;
    EXPECT_EQ(App::VSA_FAILOVER_STATUS_FAILOVER_COMPLETE, Stored(id).GetInt32(SyncInfo::kFailoverStatus)) << id;
    EXPECT_FALSE(Running(Replication(id).source)) << id;
    EXPECT_TRUE(Running(Replication(id).destination)) << id;
  }
  EXPECT_TRUE(NoChildRuns());
}

// Stopped while a machine waits on a sync of their task that another job
// runs: the wait ends at the stop, and no machine launches a sync of its own
// after it (one would run on past the kill, or wait suspended with no row
// naming it). The machines end as a stop during the pause before the sync
// leaves them, the other job's sync runs on, and the next step drjob
// prints, run as printed once that sync has ended, ends as the
// uninterrupted failover does.
class E2EDrJobDatabaseStoppedInASyncWait : public E2EDrJobDatabaseFaults {
 protected:
  // The first run, stopped by each control operation in turn while the
  // first machine to wait on another job's sync of their task waits; what
  // the last one printed. The run's process is paused (SIGSTOP) right after
  // that machine says it waits, before its wait's first look, and the stop
  // is stored then. That wait ends after its first look, whatever the other
  // sync does, as it cannot tell a database replication synced: stored any
  // later (at the second machine's wait, say), the stop could come after
  // that look on a loaded machine, and the first machine would launch its
  // sync. The second machine, whose backup ended with the first's, is then
  // in the pause before the sync, which ends at the stop, or in the same
  // wait: either way it launches no sync and ends as the first does.
  SResult StopInTheWait(const std::vector<const char*>& operations, int exitCode) {
    Forever(EChildJobType::kSync);
    SChildJobSpec foreign;
    foreign.type = EChildJobType::kSync;
    foreign.taskId = m_lab.taskId;
    foreign.replicationIds = {1, 2};
    m_other = CJobSimulator::StartJob(foreign);
    EXPECT_NE(0, m_other);
    drtest::CChildProcess first;
    const std::vector<std::string> argv = {
        "/usr/bin/env",
        "DR_RUN_DIR=" + m_dir + "/run",
        "DR_LOCK_DIR=" + m_dir + "/locks",
        "DR_TIME_SCALE=0.01",
        "DR_PAUSE_AT=WaitonRunningSyncJobs(): Waiting for sync job [" + std::to_string(m_other) + "] to complete",
        DR_DRJOB,
        "run",
        "--db",
        m_db,
        "--group",
        kSampleDBGroup.name,
        "--type",
        "planned-failover",
        "--job-id",
        std::to_string(kDatabaseDRJob)};
    EXPECT_TRUE(first.Start(argv));
    EXPECT_TRUE(drtest::Eventually([&] { return drtest::IsStopped(first.Pid()); }));
    // Both backups are through: the second machine is at or past the step
    // that ends at the stop.
    EXPECT_EQ(2u, Count(Log(), "Backup(): Backup operation job [")) << Log();
    const SResult stop = Control(operations.front());
    EXPECT_EQ(0, stop.code) << stop.output;
    EXPECT_EQ(0, kill(first.Pid(), SIGCONT));
    const SResult stopped = Finish(first);
    EXPECT_EQ(exitCode, stopped.code) << stopped.output;
    // The first machine's wait ended at the stop; the second's too, or its
    // pause before the sync.
    const size_t notLaunched = Count(Log(), "Sync(): Not launching sync op for taskId [");
    EXPECT_TRUE(notLaunched == 1 || notLaunched == 2) << stopped.output << Log();
    EXPECT_EQ(0u, Count(Log(), "Sync(): Launching sync op")) << Log();
    SResult last = stopped;
    for (size_t i = 1; i < operations.size(); ++i) {
      last = Control(operations[i]);
      EXPECT_EQ(0, last.code) << last.output;
    }
    // No sync but the other job's, which runs on.
    const std::vector<SChildJobRecord> syncs = drtest::ChildJobsOf(EChildJobType::kSync);
    EXPECT_EQ(1u, syncs.size());
    for (const SChildJobRecord& job : syncs) EXPECT_EQ(m_other, job.jobId) << job.status;
    EXPECT_EQ("Running", drtest::ChildJob(m_other).status);
    for (int id : {1, 2}) {
      EXPECT_TRUE(Running(Replication(id).source)) << id;
      EXPECT_FALSE(Running(Replication(id).destination)) << id;
      EXPECT_EQ(kNoFailover, Stored(id).GetInt32(SyncInfo::kFailoverStatus)) << id;
    }
    return last;
  }

  // The next steps printed, each run as printed until one ends the job,
  // after the other job's sync has ended; the lab is then the one the
  // uninterrupted failover leaves.
  void FinishAsPrinted(const SResult& stopped) {
    ASSERT_TRUE(CJobSimulator::Complete(m_other));
    CJobSimulator::SetDuration(EChildJobType::kSync, 1000);
    std::string output = stopped.output;
    int code = -1;
    for (int generation = 0; generation < 2 && code != 0; ++generation) {
      const std::vector<std::string> steps = drtest::PrintedCommands(output);
      ASSERT_FALSE(steps.empty()) << output;
      const SResult next = RunAsPrinted(steps.front());
      code = next.code;
      output = next.output;
    }
    EXPECT_EQ(0, code) << output;
    EXPECT_NE(std::string::npos, output.find(Ended(0, "SUCCESS"))) << output;
    std::vector<SChildJobRecord> jobs;
    ASSERT_EQ(EStoreResult::kOk, CJobSimulator::Jobs(jobs));
    for (const SChildJobRecord& job : jobs) EXPECT_NE("Suspended", job.status) << job.jobId;
    EXPECT_TRUE(NoChildRuns());
    for (int id : {1, 2}) {
      EXPECT_EQ(kAllDone, RowsOf(id)) << id;
      EXPECT_EQ(App::VSA_FAILOVER_STATUS_FAILOVER_COMPLETE, Stored(id).GetInt32(SyncInfo::kFailoverStatus)) << id;
      EXPECT_EQ(kDisabled, Stored(id).GetInt32(SyncInfo::kSyncStatus)) << id;
      EXPECT_FALSE(Running(Replication(id).source)) << id;
      EXPECT_TRUE(Running(Replication(id).destination)) << id;
    }
  }

  // A command drjob printed, pasted into a shell, "drjob" being the host
  // under test.
  SResult RunAsPrinted(const std::string& command) const {
    return drtest::RunShell("export DR_RUN_DIR='" + m_dir + "/run' DR_LOCK_DIR='" + m_dir +
                            "/locks' DR_TIME_SCALE=0.001; drjob() { '" + std::string(DR_DRJOB) + "' \"$@\"; }; {\n" +
                            command + "\n} 2>&1");
  }

  long long m_other = 0;
};

TEST_F(E2EDrJobDatabaseStoppedInASyncWait, AKillLaunchesNoSyncAndItsNextStepFinishesTheFailover) {
  const SResult killed = StopInTheWait({"kill"}, 9);
  for (int id : {1, 2}) {
    EXPECT_EQ(kSyncStepFailed, RowsOf(id)) << id;
    EXPECT_NE(std::string::npos, RowOf(id, kSync).failureReason.find("DR job interrupted before the sync")) << id;
  }
  FinishAsPrinted(killed);
}

// The suspended job's kill finds no sync of its own to end, and leaves the
// other job's alone.
TEST_F(E2EDrJobDatabaseStoppedInASyncWait, ASuspendLaunchesNoSyncAndTheKillThenTheNextStepFinishTheFailover) {
  const SResult killed = StopInTheWait({"suspend", "kill"}, 10);
  for (int id : {1, 2}) EXPECT_EQ((PhaseRows{{kBackup, kOk}}), RowsOf(id)) << id;
  EXPECT_EQ(std::string::npos, killed.output.find("its sync job [")) << killed.output;
  FinishAsPrinted(killed);
}

}  // namespace
