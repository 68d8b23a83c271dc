// The planned failover of database replications through the engine, as the
// host runs it (Initialize, Run) on a lab of two Oracle replications: the
// backup and sync jobs run in the job simulator, the scripts on the database
// hosts, and the test reads back the phase rows, the replications, the
// hosts' states and the commands the hosts were given.
#include <set>

#include "Phases.h"
#include "app/AppDRTestSupport.h"
#include "appmgr/DatabaseHosts.h"
#include "appmgr/ZNClient.h"
#include "appmgr/ZnRemoteExecuteProcess.h"
#include "core/HandlerRegistry.h"
#include "jobs/JobStore.h"
#include "tasksim/ReplicaSyncEffects.h"

namespace {

using SyncInfo = App::ReplicaSyncReplicationInfo;

using drtest::kSuccess;
using drtest::kFailed;

class E2EDatabaseFailover : public CAppDRLabTestBase {
 protected:
  void TearDown() override {
    CReplicaSyncEffects::SetBackupsLeaveSyncStatus(false);
    CAppDRLabTestBase::TearDown();
  }
  // The phases of a replication's rows in order, each with its state.
  static std::vector<std::pair<int, int>> Phases(int id) {
    std::vector<std::pair<int, int>> out;
    for (const SPhaseRow& row : RowsOf(id)) out.emplace_back(row.phase, row.status);
    return out;
  }
  std::vector<std::string> Argv(const drtest::SDBSite& site, const char* script) {
    return {"sh", script, site.clientName, site.home};
  }
};

TEST_F(E2EDatabaseFailover, EveryStepSucceedsAndTheDestinationsRunInsteadOfTheSources) {
  EXPECT_EQ(Api::VIRTUAL_APP_PHASE_STATE_SUCCESS, RunFailover({1, 2}));

  const std::vector<SChildJobRecord> backups = JobsOf(EChildJobType::kBackup);
  const std::vector<SChildJobRecord> syncs = JobsOf(EChildJobType::kSync);
  // One backup and one sync per machine: each backs up its own subclient.
  EXPECT_EQ(2u, backups.size());
  EXPECT_EQ(2u, syncs.size());
  std::set<int> subclients;
  for (const SChildJobRecord& job : backups) {
    subclients.insert(job.applicationId);
    EXPECT_EQ("Completed", job.status);
  }
  EXPECT_EQ((std::set<int>{Replication(1).subclientId, Replication(2).subclientId}), subclients);
  for (int id : {1, 2}) {
    const drtest::SDBReplication& r = Replication(id);
    // Backup, replication, shutdown, disable sync, power on: in that order
    // of phases, every one SUCCESS.
    EXPECT_EQ((std::vector<std::pair<int, int>>{{1, kSuccess}, {7, kSuccess}, {8, kSuccess}, {15, kSuccess},
                                                {24, kSuccess}}),
              Phases(id))
        << id;
    const SyncInfo stored = Stored(id);
    EXPECT_EQ(App::VSA_FAILOVER_STATUS_FAILOVER_COMPLETE, stored.GetInt32(SyncInfo::kFailoverStatus)) << id;
    EXPECT_EQ(App::VSA_REPL_STATUS_SYNC_DISABLED, stored.GetInt32(SyncInfo::kSyncStatus)) << id;
    EXPECT_NE(0, stored.GetInt64(SyncInfo::kLastSyncedJobId)) << id;
    EXPECT_FALSE(drtest::DatabaseRunning(r.source)) << id;
    EXPECT_TRUE(drtest::DatabaseRunning(r.destination)) << id;
    // Each host was given its script with the client's name and the home as
    // arguments, and nothing else.
    const std::vector<SRemoteExecEntry> atSource = Journal(r.source.clientId);
    ASSERT_EQ(1u, atSource.size()) << id;
    EXPECT_EQ(Argv(r.source, CDatabaseHosts::kStopScript), atSource[0].argv);
    const std::vector<SRemoteExecEntry> atDestination = Journal(r.destination.clientId);
    ASSERT_EQ(1u, atDestination.size()) << id;
    EXPECT_EQ(Argv(r.destination, CDatabaseHosts::kStartScript), atDestination[0].argv);
    EXPECT_EQ(std::string(ZNClient::kDefaultInstallDirectory) + "/Base", atDestination[0].startDirectory);
    EXPECT_TRUE(Logged("Failover succeeded for replication [" + std::to_string(id) + "] "));
  }
  EXPECT_TRUE(Logged("Priority [1] is a [DB Replication] type priority"));
  EXPECT_TRUE(Logged("Invoking COracleDBPlannedFailover destructor"));
  EXPECT_FALSE(Logged("is left stopped"));
}

TEST_F(E2EDatabaseFailover, TheSyncStepWaitsOnRunningSyncsWithTheBackupOfItsMachine) {
  // A sync of the task that is still running when the step begins: the step
  // waits on it with the backup its machine's group keeps.
  SChildJobSpec running;
  running.type = EChildJobType::kSync;
  running.taskId = m_lab.taskId;
  running.replicationIds = {2};
  running.hang = true;
  const long long hung = CJobSimulator::StartJob(running);
  ASSERT_NE(0, hung);

  EXPECT_EQ(Api::VIRTUAL_APP_PHASE_STATE_SUCCESS, RunFailover({1}));
  const std::vector<SChildJobRecord> backups = JobsOf(EChildJobType::kBackup);
  ASSERT_EQ(1u, backups.size());
  EXPECT_TRUE(Logged("Waiting for sync job [" + std::to_string(hung) + "] to complete"));
  EXPECT_TRUE(Logged("Query VM childs job for parent job [" + std::to_string(backups[0].jobId) + "]"));
  EXPECT_TRUE(CJobSimulator::Complete(hung));
}

TEST_F(E2EDatabaseFailover, InSyncReplicationsStartNoSyncJob) {
  ASSERT_TRUE(CReplicaSyncEffects::SetBackupsLeaveSyncStatus(true));
  EXPECT_EQ(Api::VIRTUAL_APP_PHASE_STATE_SUCCESS, RunFailover({1}));
  EXPECT_TRUE(JobsOf(EChildJobType::kSync).empty());
  EXPECT_TRUE(Logged("No sync required for instances in list [1] as sync status is [IN SYNC]"));
  EXPECT_EQ(kSuccess, RowOf(1, Api::VIRTUAL_APP_PHASE_REPLICATION).status);
  EXPECT_TRUE(drtest::DatabaseRunning(Replication(1).destination));
}

TEST_F(E2EDatabaseFailover, AFailedStartUpRestoresTheStatusReadAfterTheShutdownAndLeavesTheSourceStopped) {
  // Sync failed before the run: the backup and sync put it right, and the
  // status the start-up failure restores is the one after the shut-down.
  SyncInfo failed;
  failed.SetInt32(SyncInfo::kReplicationId, 1);
  failed.SetInt32(SyncInfo::kSyncStatus, App::VSA_REPL_STATUS_SYNC_FAILED);
  std::string error;
  ASSERT_EQ(0, CReplicaSyncStore::Merge(failed, error)) << error;
  const drtest::SDBReplication& r = Replication(1);
  ASSERT_TRUE(CDatabaseHosts::SetFault(r.destination.clientId, CDatabaseHosts::kStartScript, 1,
                                       EDBHostFault::kExitCode, 1));

  EXPECT_EQ(Api::VIRTUAL_APP_PHASE_STATE_FAILED, RunFailover({1}));

  const SPhaseRow powerOn = RowOf(1, Api::VIRTUAL_APP_PHASE_POWER_ON);
  ASSERT_EQ(Api::VIRTUAL_APP_PHASE_POWER_ON, powerOn.phase);
  EXPECT_EQ(kFailed, powerOn.status);
  EXPECT_NE(std::string::npos, powerOn.failureReason.find("exit code [1]")) << powerOn.failureReason;
  EXPECT_EQ(kSuccess, RowOf(1, Api::VIRTUAL_APP_PHASE_SHUTDOWN).status);
  EXPECT_EQ(App::VSA_REPL_STATUS_IN_SYNC, Stored(1).GetInt32(SyncInfo::kSyncStatus));
  EXPECT_EQ(App::VSA_FAILOVER_STATUS_NONE, Stored(1).GetInt32(SyncInfo::kFailoverStatus));
  EXPECT_FALSE(drtest::DatabaseRunning(r.source));
  EXPECT_FALSE(drtest::DatabaseRunning(r.destination));
  EXPECT_TRUE(Logged("Destination instance boot failed for replication [1]"));
  EXPECT_TRUE(Logged("Source database of replication [1] on client [src1] at Oracle home [/u01/src1] is left "
                     "stopped"));
}

// A suspend another thread of the job finds while the destination database
// starts: the suspended job stores no phase from then on, so the start-up's
// row stays in progress. The machine is not completed on the script's
// answer, neither counted succeeded nor stored failed over: its restart
// judges the start-up from the databases.
class DatabaseFailoverConcurrency : public E2EDatabaseFailover {};

TEST_F(DatabaseFailoverConcurrency, ASuspendFoundWhileTheDestinationStartsCompletesNoMachine) {
  const drtest::SDBReplication& r = Replication(1);
  CScopedHandler<int, RemoteExecHandler> starts(ZnRemoteExecuteProcess::Handlers(), r.destination.clientId,
                                                [this](const SRemoteCommand& command) {
                                                  EXPECT_EQ(EStoreResult::kOk, CJobStore::SetControlOperation(kJob, 2));
                                                  EXPECT_TRUE(m_jm->IsQuitFlagSet());
                                                  return CDatabaseHosts::Run(command);
                                                });

  EXPECT_EQ(Api::VIRTUAL_APP_PHASE_STATE_SUSPENDED, RunFailover({1}));

  EXPECT_TRUE(drtest::DatabaseRunning(r.destination)) << "the start-up went through";
  EXPECT_EQ(Api::VIRTUAL_APP_PHASE_STATE_IN_PROGRESS, RowOf(1, Api::VIRTUAL_APP_PHASE_POWER_ON).status);
  EXPECT_NE(App::VSA_FAILOVER_STATUS_FAILOVER_COMPLETE, Stored(1).GetInt32(SyncInfo::kFailoverStatus));
  EXPECT_FALSE(Logged("Failover succeeded for replication [1] "));
  EXPECT_FALSE(Logged("Total machines succeeded"));
}

}  // namespace
