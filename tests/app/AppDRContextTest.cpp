// The application and database DR contexts on a database lab: batch
// operations as steps, the backup and sync steps with their child jobs,
// waits and phase rows, status clean-up, the database backup request, and
// the start-up and shut-down scripts with what they refuse to send.
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "AppDRTestSupport.h"
#include "Phases.h"
#include "TestThread.h"
#include "app/AppReplDataMgr.h"
#include "app/OracleDBDRBase.h"
#include "appmgr/InstanceProperties.h"
#include "engine/SDRInstanceCtx.h"
#include "engine/SDROSubclient.h"
#include "engine/SDROperationCtx.h"
#include "tasksim/ReplicaSyncEffects.h"
#include "tasksim/TaskManagerSim.h"

namespace {

using SyncInfo = App::ReplicaSyncReplicationInfo;

using drtest::kSuccess;
using drtest::kFailed;
using drtest::kRunning;

// A context that records the steps the engine runs for it.
class CRecordingAppContext : public CAppDRBase {
 public:
  using CAppDRBase::CAppDRBase;
  struct SStep {
    int site;
    int phase;
    int batchOp;
  };
  bool PerformOperation(SDROperationCtx& ctx) override {
    steps.push_back(SStep{ctx.site, ctx.phase, ctx.batchOp});
    return true;
  }
  void LoadOperationConfig(SDROperationCtx&) override { ++configs; }
  std::vector<SStep> steps;
  int configs = 0;
};

class AppDRContext : public CAppDRLabTestBase {
 protected:
  void TearDown() override {
    m_context.reset();
    CReplicaSyncEffects::SetBackupsLeaveSyncStatus(false);
    CTaskManagerSim::SetSyncStartFault(ESyncStartFault::kNone);
    CAppDRLabTestBase::TearDown();
  }
  COracleDBDRBase& Context() {
    if (!m_context) m_context.reset(new COracleDBDRBase(*m_generic));
    return *m_context;
  }
  // A one-machine step context at a site and phase, rows on.
  SDROperationCtx Step(CDRInfo* machine, Api::DRSite site, Api::VirtualAppJobPhaseType phase) {
    SDROperationCtx ctx;
    ctx.drInfoList.assign(1, machine);
    ctx.site = site;
    ctx.phase = phase;
    ctx.priority = &m_priority;
    return ctx;
  }
  static void ChangeStored(int id, const std::function<void(SyncInfo&)>& change) {
    SyncInfo partial;
    partial.SetInt32(SyncInfo::kReplicationId, id);
    change(partial);
    std::string error;
    ASSERT_EQ(0, CReplicaSyncStore::Merge(partial, error)) << error;
  }
  // The source entity of replication 1 as the lab has it, changed.
  void ChangeSource(int id, const std::function<void(drtest::SDBSite&, int&)>& change) {
    drtest::SDBSite site = Replication(id).source;
    int subclient = Replication(id).subclientId;
    change(site, subclient);
    ChangeStored(id, [&](SyncInfo& info) { info.SetMsg(SyncInfo::kSourceEntity, drtest::DBEntity(site, subclient, 22)); });
  }
  static size_t Waits(uint64_t ms) { return CPlatformClock::Instance().CountWaits(ms, "DRJobManager"); }
  // Runs the backup step on a thread of its own with a job that runs until
  // told; the job's id once the step waits on it (0 when it never does).
  long long BackupWaiting(SDROperationCtx& ctx, bool& result, drtest::CTestThread& step) {
    CJobSimulator::SetDuration(EChildJobType::kBackup, 1000000000LL);
    step.Start([this, &ctx, &result] { result = Context().Backup(ctx); }, "backup step");
    // The step's wait on its child outlasts a stop request (it polls on
    // until the child ends); a kill of the DR job ends it.
    step.OnStop([] { CJobStore::SetControlOperation(kJob, 1); });
    long long job = 0;
    const bool waiting = drtest::Eventually([&] {
      const std::vector<SChildJobRecord> jobs = JobsOf(EChildJobType::kBackup);
      job = jobs.empty() ? 0 : jobs[0].jobId;
      return job != 0 && Logged("Waiting for backup job [" + std::to_string(job) + "]");
    });
    return waiting ? job : 0;
  }

  std::unique_ptr<COracleDBDRBase> m_context;
};

// ---- batch operations ----

TEST_F(AppDRContext, EveryAcceptedBatchOperationRunsItsSiteAndPhaseAndTheOthersRunNothing) {
  LoadMachines({1});
  CRecordingAppContext context(*m_generic);
  struct SExpected {
    int site;
    int phase;
  };
  const std::map<int, SExpected> accepted = {
      {1, {0, 2}},   {2, {0, 1}},   {3, {1, 1}},   {4, {1, 2}},   {5, {0, 24}},  {6, {1, 24}},
      {23, {0, 8}},  {24, {1, 8}},  {25, {0, 7}},  {27, {0, 25}}, {28, {1, 25}},
      {29, {1, Api::VIRTUAL_APP_PHASE_POST_DR_OPERATION}},
      {30, {1, 34}}, {31, {1, 37}}, {33, {1, 38}}, {34, {1, 39}}, {36, {1, 30}},
  };
  for (int op = 0; op <= 45; ++op) {
    // What the context had before: 29 keeps it.
    SDROperationCtx ctx = Step(m_machines[0], Api::DR_SITE_DESTINATION, Api::VIRTUAL_APP_PHASE_POST_DR_OPERATION);
    context.steps.clear();
    context.configs = 0;
    const bool ran = context.__OP(ctx, static_cast<ZNDR::BatchOperation>(op), false);
    auto it = accepted.find(op);
    if (it == accepted.end()) {
      EXPECT_FALSE(ran) << op;
      EXPECT_EQ(0, context.configs) << op;
      EXPECT_TRUE(context.steps.empty()) << op;
      EXPECT_EQ(op, ctx.batchOp) << op;
      continue;
    }
    EXPECT_TRUE(ran) << op;
    EXPECT_EQ(1, context.configs) << op;
    ASSERT_EQ(1u, context.steps.size()) << op;
    EXPECT_EQ(it->second.site, context.steps[0].site) << op;
    EXPECT_EQ(it->second.phase, context.steps[0].phase) << op;
    EXPECT_EQ(op, context.steps[0].batchOp) << op;
  }
}

TEST_F(AppDRContext, PerformOperationDispatchesByPhase) {
  LoadMachines({1});
  SDROperationCtx ctx = Step(m_machines[0], Api::DR_SITE_SOURCE, Api::VIRTUAL_APP_PHASE_DISABLE_SYNC);
  EXPECT_FALSE(Context().PerformOperation(ctx));
  ctx.phase = Api::VIRTUAL_APP_PHASE_STORAGE_OPERATION;
  EXPECT_FALSE(Context().PerformOperation(ctx));
  ctx.batchOp = ZNDR::BATCH_OP_POWER_ON_PRIMARY;
  EXPECT_FALSE(Context().ProcessDROperationThread(ctx));
  std::vector<CDRInfo*> none;
  EXPECT_FALSE(Context().IsSyncNeeded(none));
}

// ---- backup ----

TEST_F(AppDRContext, TheBackupRunsOneJobKeepsItInTheGroupAndRecordsIt) {
  LoadMachines({1});
  SDROperationCtx ctx = Step(m_machines[0], Api::DR_SITE_SOURCE, Api::VIRTUAL_APP_PHASE_BACKUP);
  SDROSubclient group(1, Replication(1).subclientId);
  ctx.subclient = &group;

  EXPECT_TRUE(Context().Backup(ctx));
  const std::vector<SChildJobRecord> backups = JobsOf(EChildJobType::kBackup);
  ASSERT_EQ(1u, backups.size());
  EXPECT_EQ(Replication(1).subclientId, backups[0].applicationId);
  EXPECT_EQ(backups[0].jobId, group.GetBkpJobId());
  const SPhaseRow row = RowOf(1, Api::VIRTUAL_APP_PHASE_BACKUP);
  ASSERT_EQ(Api::VIRTUAL_APP_PHASE_BACKUP, row.phase);
  EXPECT_EQ(kSuccess, row.status);
  EXPECT_NE(std::string::npos, row.details.find(std::to_string(backups[0].jobId))) << row.details;
  EXPECT_TRUE(Logged("Backup operation job [" + std::to_string(backups[0].jobId) + "] successful"));
  // The backup left the replication needing a sync.
  EXPECT_EQ(App::VSA_REPL_STATUS_NEED_SYNC, Stored(1).GetInt32(SyncInfo::kSyncStatus));
}

TEST_F(AppDRContext, ABackupWithoutSubclientStartsNoJobAndFailsItsRow) {
  ChangeSource(1, [](drtest::SDBSite&, int& subclient) { subclient = 0; });
  LoadMachines({1});
  SDROperationCtx ctx = Step(m_machines[0], Api::DR_SITE_SOURCE, Api::VIRTUAL_APP_PHASE_BACKUP);
  EXPECT_FALSE(Context().Backup(ctx));
  EXPECT_TRUE(JobsOf(EChildJobType::kBackup).empty());
  const SPhaseRow row = RowOf(1, Api::VIRTUAL_APP_PHASE_BACKUP);
  ASSERT_EQ(Api::VIRTUAL_APP_PHASE_BACKUP, row.phase);
  EXPECT_EQ(kFailed, row.status);
}

TEST_F(AppDRContext, AFailedBackupJobLeavesAFailedRowNamingIt) {
  LoadMachines({1});
  SDROperationCtx ctx = Step(m_machines[0], Api::DR_SITE_SOURCE, Api::VIRTUAL_APP_PHASE_BACKUP);
  bool result = true;
  drtest::CTestThread step;
  const long long job = BackupWaiting(ctx, result, step);
  ASSERT_NE(0, job);
  ASSERT_TRUE(CJobSimulator::Fail(job, "media full"));
  ASSERT_TRUE(step.Join());
  EXPECT_FALSE(result);
  const SPhaseRow row = RowOf(1, Api::VIRTUAL_APP_PHASE_BACKUP);
  ASSERT_EQ(Api::VIRTUAL_APP_PHASE_BACKUP, row.phase);
  EXPECT_EQ(kFailed, row.status);
  EXPECT_NE(std::string::npos, row.failureReason.find("Backup job [" + std::to_string(job) + "] ended [FAILED]"))
      << row.failureReason;
}

TEST_F(AppDRContext, ASuspensionDuringTheBackupKeepsTheRunningRowNamingTheChild) {
  LoadMachines({1});
  SDROperationCtx ctx = Step(m_machines[0], Api::DR_SITE_SOURCE, Api::VIRTUAL_APP_PHASE_BACKUP);
  bool result = true;
  drtest::CTestThread step;
  const long long job = BackupWaiting(ctx, result, step);
  ASSERT_NE(0, job);
  ASSERT_EQ(EStoreResult::kOk, CJobStore::SetControlOperation(kJob, 2));
  ASSERT_TRUE(step.Join());
  EXPECT_FALSE(result);
  EXPECT_EQ("Suspended", drtest::ChildJob(job).status);
  const SPhaseRow row = RowOf(1, Api::VIRTUAL_APP_PHASE_BACKUP);
  ASSERT_EQ(Api::VIRTUAL_APP_PHASE_BACKUP, row.phase);
  EXPECT_EQ(kRunning, row.status);
  EXPECT_NE(std::string::npos, row.details.find(std::to_string(job))) << row.details;
}

TEST_F(AppDRContext, TheDatabaseBackupRequestCarriesTheOracleOptions) {
  LoadMachines({1});
  TMMsg::CreateTaskReq request;
  ApplicationId app(2, Replication(1).subclientId);
  ASSERT_TRUE(Context().CreateBackupTask(request, app, m_machines));
  std::string xml;
  ASSERT_TRUE(request.serializeUTF8(xml, false));
  EXPECT_EQ(
      "<TMMsg.CreateTaskReq ns=\"12\" id=\"175\" type=\"216380445\">"
      "<msg a=\"2\" b=\"2\"><msg a=\"1\" b=\"1\"><i32 a=\"5\" b=\"8\">1</i32></msg><list a=\"3\" b=\"3\"><msg>"
      "<i32 a=\"5\" b=\"11\">31</i32><i32 a=\"8\" b=\"20\">0</i32><i32 a=\"11\" b=\"29\">0</i32>"
      "<i32 a=\"14\" b=\"38\">31</i32><i64 a=\"17\" b=\"47\">0</i64></msg></list><list a=\"5\" b=\"5\"><msg>"
      "<msg a=\"1\" b=\"1\"><i32 a=\"3\" b=\"6\">2</i32><i32 a=\"4\" b=\"7\">2</i32></msg><msg a=\"4\" b=\"4\">"
      "<msg a=\"3\" b=\"3\"><i32 a=\"1\" b=\"1\">2</i32><msg a=\"6\" b=\"6\"><i32 a=\"5\" b=\"5\">1</i32></msg>"
      "<msg a=\"8\" b=\"8\"><msg a=\"3\" b=\"3\"><i32 a=\"1\" b=\"1\">7</i32><i32 a=\"6\" b=\"6\">1</i32>"
      "<i32 a=\"7\" b=\"7\">1</i32><i32 a=\"14\" b=\"14\">1</i32></msg><msg a=\"4\" b=\"4\"><i32 a=\"1\" "
      "b=\"1\">0</i32></msg></msg><i32 a=\"17\" b=\"17\">1</i32></msg></msg><i32 a=\"8\" b=\"8\">1</i32></msg>"
      "</list></msg></TMMsg.CreateTaskReq>",
      xml);

  // The base context has no options to give: no request.
  CRecordingAppContext base(*m_generic);
  TMMsg::CreateTaskReq refused;
  EXPECT_FALSE(base.CreateBackupTask(refused, app, m_machines));
  EXPECT_TRUE(Logged("Failed to set app specific bkp options"));
  std::vector<CDRInfo*> none;
  EXPECT_FALSE(Context().CreateBackupTask(refused, app, none));
}

// ---- sync ----

TEST_F(AppDRContext, InSyncMachinesPauseOnceAndStartNoSync) {
  LoadMachines({1});
  SDROperationCtx ctx = Step(m_machines[0], Api::DR_SITE_SOURCE, Api::VIRTUAL_APP_PHASE_REPLICATION);
  CPlatformClock::Instance().ClearRecords();
  // No group: the backup job the sync reads is 0.
  EXPECT_TRUE(Context().Sync(ctx));
  EXPECT_EQ(1u, Waits(60000));
  EXPECT_EQ(0u, Waits(30000));
  EXPECT_TRUE(JobsOf(EChildJobType::kSync).empty());
  EXPECT_TRUE(Logged("[Wait before querying running sync jobs]. Checking back in [60] seconds ..."));
  EXPECT_TRUE(Logged("No sync required for instances in list [1] as sync status is [IN SYNC]"));
  EXPECT_EQ(kSuccess, RowOf(1, Api::VIRTUAL_APP_PHASE_REPLICATION).status);
}

TEST_F(AppDRContext, AMachineNeedingASyncRunsTheTaskAndPausesAfterIt) {
  ChangeStored(1, [](SyncInfo& info) { info.SetInt32(SyncInfo::kSyncStatus, App::VSA_REPL_STATUS_NEED_SYNC); });
  LoadMachines({1});
  SDROperationCtx ctx = Step(m_machines[0], Api::DR_SITE_SOURCE, Api::VIRTUAL_APP_PHASE_REPLICATION);
  SDROSubclient group(1, Replication(1).subclientId);
  group.SetBkpJobId(12345);
  ctx.subclient = &group;
  CPlatformClock::Instance().ClearRecords();

  EXPECT_TRUE(Context().Sync(ctx));
  EXPECT_EQ(1u, Waits(60000));
  EXPECT_EQ(1u, Waits(30000));
  const std::vector<SChildJobRecord> syncs = JobsOf(EChildJobType::kSync);
  ASSERT_EQ(1u, syncs.size());
  EXPECT_EQ(m_lab.taskId, syncs[0].taskId);
  EXPECT_EQ((std::vector<int>{1}), syncs[0].replicationIds);
  EXPECT_EQ(App::VSA_REPL_STATUS_IN_SYNC, Stored(1).GetInt32(SyncInfo::kSyncStatus));
  const SPhaseRow row = RowOf(1, Api::VIRTUAL_APP_PHASE_REPLICATION);
  ASSERT_EQ(Api::VIRTUAL_APP_PHASE_REPLICATION, row.phase);
  EXPECT_EQ(kSuccess, row.status);
  EXPECT_NE(std::string::npos, row.details.find(std::to_string(syncs[0].jobId))) << row.details;
}

TEST_F(AppDRContext, AKillDuringThePauseStartsNoSync) {
  ChangeStored(1, [](SyncInfo& info) { info.SetInt32(SyncInfo::kSyncStatus, App::VSA_REPL_STATUS_NEED_SYNC); });
  LoadMachines({1});
  SDROperationCtx ctx = Step(m_machines[0], Api::DR_SITE_SOURCE, Api::VIRTUAL_APP_PHASE_REPLICATION);
  ASSERT_EQ(EStoreResult::kOk, CJobStore::SetControlOperation(kJob, 1));
  CPlatformClock::Instance().ClearRecords();

  EXPECT_FALSE(Context().Sync(ctx));
  EXPECT_EQ(1u, Waits(60000));
  EXPECT_TRUE(JobsOf(EChildJobType::kSync).empty());
  const SPhaseRow row = RowOf(1, Api::VIRTUAL_APP_PHASE_REPLICATION);
  ASSERT_EQ(Api::VIRTUAL_APP_PHASE_REPLICATION, row.phase);
  EXPECT_EQ(kFailed, row.status);
  EXPECT_EQ(kFailed, m_machines[0]->GetPhaseState(Api::VIRTUAL_APP_PHASE_REPLICATION, Api::DR_SITE_SOURCE));
}

TEST_F(AppDRContext, ASyncThatCannotStartFailsTheRowItOpened) {
  ChangeStored(1, [](SyncInfo& info) { info.SetInt32(SyncInfo::kSyncStatus, App::VSA_REPL_STATUS_NEED_SYNC); });
  LoadMachines({1});
  ASSERT_TRUE(CTaskManagerSim::SetSyncStartFault(ESyncStartFault::kRefused));
  SDROperationCtx ctx = Step(m_machines[0], Api::DR_SITE_SOURCE, Api::VIRTUAL_APP_PHASE_REPLICATION);
  EXPECT_FALSE(Context().Sync(ctx));
  EXPECT_EQ(kFailed, RowOf(1, Api::VIRTUAL_APP_PHASE_REPLICATION).status);
  EXPECT_TRUE(JobsOf(EChildJobType::kSync).empty());
}

// ---- statuses ----

TEST_F(AppDRContext, CleanupStatusChangesOnlyExpectedStatusesOfMachinesThatCount) {
  for (int id : {1, 2}) {
    ChangeStored(id, [](SyncInfo& info) {
      info.SetInt32(SyncInfo::kFailoverStatus, App::VSA_FAILOVER_STATUS_FAILOVER_IN_PROGRESS);
    });
  }
  LoadMachines({1, 2});
  const App::VSAFailoverStatus failed = App::VSA_FAILOVER_STATUS_FAILOVER_FAILED;
  const App::VSAFailoverStatus running = App::VSA_FAILOVER_STATUS_FAILOVER_IN_PROGRESS;

  Context().CleanupStatus(m_machines, failed, App::VSA_FAILOVER_STATUS_NONE);
  EXPECT_EQ(running, Stored(1).GetInt32(SyncInfo::kFailoverStatus));
  Context().CleanupStatus(m_machines, failed, App::VSA_FAILOVER_STATUS_FAILOVER_COMPLETE);
  EXPECT_EQ(running, Stored(1).GetInt32(SyncInfo::kFailoverStatus));

  m_machines[1]->SetStatus(Api::VIRTUAL_APP_PHASE_STATE_SKIPPED);
  Context().CleanupStatus(m_machines, failed, running);
  EXPECT_EQ(failed, Stored(1).GetInt32(SyncInfo::kFailoverStatus));
  EXPECT_EQ(running, Stored(2).GetInt32(SyncInfo::kFailoverStatus));
}

TEST_F(AppDRContext, CleanupStatusChangesNothingWhileTheJobIsSuspended) {
  ChangeStored(1, [](SyncInfo& info) {
    info.SetInt32(SyncInfo::kFailoverStatus, App::VSA_FAILOVER_STATUS_FAILOVER_IN_PROGRESS);
  });
  LoadMachines({1});
  ASSERT_EQ(EStoreResult::kOk, CJobStore::SetControlOperation(kJob, 2));
  ASSERT_TRUE(m_jm->IsQuitFlagSet());
  ASSERT_TRUE(m_jm->IsJobSuspended());
  Context().CleanupStatus(m_machines, App::VSA_FAILOVER_STATUS_FAILOVER_FAILED,
                          App::VSA_FAILOVER_STATUS_FAILOVER_IN_PROGRESS);
  EXPECT_EQ(App::VSA_FAILOVER_STATUS_FAILOVER_IN_PROGRESS, Stored(1).GetInt32(SyncInfo::kFailoverStatus));
}

TEST_F(AppDRContext, SyncStatusStoresRecordTheirPhaseAndARevertRecordsNone) {
  LoadMachines({1});
  SDROperationCtx ctx = Step(m_machines[0], Api::DR_SITE_SOURCE, Api::VIRTUAL_APP_PHASE_SHUTDOWN);
  EXPECT_TRUE(Context().DisableSync(m_machines[0], ctx));
  EXPECT_EQ(Api::VIRTUAL_APP_PHASE_DISABLE_SYNC, ctx.phase);
  EXPECT_EQ(App::VSA_REPL_STATUS_SYNC_DISABLED, Stored(1).GetInt32(SyncInfo::kSyncStatus));
  EXPECT_EQ(kSuccess, RowOf(1, Api::VIRTUAL_APP_PHASE_DISABLE_SYNC).status);

  const size_t rows = PhaseRows().size();
  Context().RevertSyncStatus(m_machines[0], App::VSA_REPL_STATUS_NEED_SYNC);
  EXPECT_EQ(App::VSA_REPL_STATUS_NEED_SYNC, Stored(1).GetInt32(SyncInfo::kSyncStatus));
  EXPECT_EQ(rows, PhaseRows().size());

  // A store that fails fails the row.
  ASSERT_TRUE(CReplicaSyncStore::SetFault(1, EReplicaSyncFault::kStoreFails));
  EXPECT_FALSE(Context().DisableSync(m_machines[0], ctx));
  EXPECT_EQ(kFailed, RowOf(1, Api::VIRTUAL_APP_PHASE_DISABLE_SYNC).status);
  EXPECT_FALSE(Context().UpdateFailoverStatus(m_machines[0], App::VSA_FAILOVER_STATUS_FAILOVER_COMPLETE));

  // A machine without a data source keeps its phase running.
  std::unique_ptr<CDRInfo> orphan = Orphan(77);
  EXPECT_FALSE(Context().UpdateSyncStatus(App::VSA_REPL_STATUS_SYNC_DISABLED, orphan.get(), ctx));
  EXPECT_EQ(static_cast<uint32_t>(kRunning),
            orphan->GetPhaseState(Api::VIRTUAL_APP_PHASE_DISABLE_SYNC, Api::DR_SITE_SOURCE));
  EXPECT_TRUE(Logged("App Replication Datamanager not found in CDRInfo"));
}

// ---- start-up and shut-down ----

TEST_F(AppDRContext, InstancesAreLoadedFromTheSiteEntity) {
  LoadMachines({1});
  SDRInstanceCtx source;
  ASSERT_TRUE(Context().LoadInstanceCtx(source, Api::DR_SITE_SOURCE, m_machines[0]));
  EXPECT_EQ(101, source.instanceId);
  EXPECT_EQ("ORCL1", source.instanceName);
  EXPECT_EQ(11, source.clientId);
  EXPECT_EQ("src1", source.clientName);
  SDRInstanceCtx destination;
  ASSERT_TRUE(Context().LoadInstanceCtx(destination, Api::DR_SITE_DESTINATION, m_machines[0]));
  EXPECT_EQ(201, destination.instanceId);
  EXPECT_EQ("dst1", destination.clientName);
  EXPECT_FALSE(Context().LoadInstanceCtx(destination, static_cast<Api::DRSite>(2), m_machines[0]));
}

TEST_F(AppDRContext, AFailedShutdownRecordsItsRowWithTheRemoteError) {
  LoadMachines({1});
  const drtest::SDBSite& source = Replication(1).source;
  ASSERT_TRUE(CDatabaseHosts::SetFault(source.clientId, CDatabaseHosts::kStopScript, 1, EDBHostFault::kExitCode, 3));
  SDROperationCtx ctx = Step(m_machines[0], Api::DR_SITE_SOURCE, Api::VIRTUAL_APP_PHASE_SHUTDOWN);

  EXPECT_FALSE(Context().Shutdown(ctx));
  const SPhaseRow row = RowOf(1, Api::VIRTUAL_APP_PHASE_SHUTDOWN);
  ASSERT_EQ(Api::VIRTUAL_APP_PHASE_SHUTDOWN, row.phase);
  EXPECT_EQ(kFailed, row.status);
  EXPECT_NE(std::string::npos, row.failureReason.find("with exit code [3]")) << row.failureReason;
  EXPECT_TRUE(drtest::DatabaseRunning(source));
  EXPECT_TRUE(Logged("Received shutdown request on [Source] site for replication [1]"));
  EXPECT_FALSE(Logged("DB shutdown successful"));

  // Without phase rows the outcome is still the machine's.
  ctx.updatePhaseInfoTbl = false;
  const size_t rows = PhaseRows().size();
  EXPECT_TRUE(Context().Shutdown(ctx));
  EXPECT_EQ(rows, PhaseRows().size());
  EXPECT_EQ(static_cast<uint32_t>(kSuccess),
            m_machines[0]->GetPhaseState(Api::VIRTUAL_APP_PHASE_SHUTDOWN, Api::DR_SITE_SOURCE));
  EXPECT_FALSE(drtest::DatabaseRunning(source));
  EXPECT_TRUE(Logged("DB shutdown successful on [Source] site for replication [1]"));
}

TEST_F(AppDRContext, AnEmptyOracleHomeIsSentAsAnEmptyArgument) {
  LoadMachines({1});
  const drtest::SDBSite& destination = Replication(1).destination;
  ASSERT_EQ(0, InstanceProperties(destination.instanceId).setAttribute(ZN_PROP_ORACLE_HOME, ""));
  ASSERT_TRUE(CDatabaseHosts::PutDatabase(destination.clientId, "", false));
  SDROperationCtx ctx = Step(m_machines[0], Api::DR_SITE_DESTINATION, Api::VIRTUAL_APP_PHASE_POWER_ON);

  EXPECT_TRUE(Context().PowerOn(ctx));
  const std::vector<SRemoteExecEntry> journal = Journal(destination.clientId);
  ASSERT_EQ(1u, journal.size());
  EXPECT_EQ("dst1 ", journal[0].arguments);
  EXPECT_EQ((std::vector<std::string>{"sh", "dbstartup.sh", "dst1", ""}), journal[0].argv);
  bool running = false;
  ASSERT_EQ(EStoreResult::kOk, CDatabaseHosts::IsRunning(destination.clientId, "", running));
  EXPECT_TRUE(running);
}

TEST_F(AppDRContext, UnsafeNamesOrHomesAndUnreadableInstancesAreNeverSent) {
  struct SCase {
    const char* what;
    std::function<void()> plant;
    const char* logged;
  };
  const drtest::SDBSite source = Replication(1).source;
  const std::vector<SCase> cases = {
      {"name with ;", [&] { ChangeSource(1, [](drtest::SDBSite& s, int&) { s.clientName = "src1;reboot"; }); },
       "is not plain text"},
      {"name with a blank", [&] { ChangeSource(1, [](drtest::SDBSite& s, int&) { s.clientName = "src 1"; }); },
       "is not plain text"},
      {"home with $()",
       [&] { ASSERT_EQ(0, InstanceProperties(source.instanceId).setAttribute(ZN_PROP_ORACLE_HOME, "/u01/$(id)")); },
       "is not plain text"},
      {"unknown instance", [&] { ChangeSource(1, [](drtest::SDBSite& s, int&) { s.instanceId = 999; }); },
       "Cannot read the Oracle home of instance [999]"},
  };
  LoadMachines({1});
  SDataSourceInfo reload;
  reload.replIds = {1};
  for (const SCase& c : cases) {
    c.plant();
    ASSERT_TRUE(m_source->ReloadData(reload));
    CLogSink::Instance().ClearCapture();
    SDROperationCtx ctx = Step(m_machines[0], Api::DR_SITE_SOURCE, Api::VIRTUAL_APP_PHASE_SHUTDOWN);
    std::string command = COracleDBDRBase::kShutDownCommand;
    EXPECT_FALSE(Context().RunDBCommand(ctx, command)) << c.what;
    EXPECT_TRUE(Logged(c.logged)) << c.what;
    EXPECT_TRUE(Journal().empty()) << c.what;
    EXPECT_TRUE(drtest::DatabaseRunning(source)) << c.what;
    // The lab as it was.
    ChangeSource(1, [](drtest::SDBSite&, int&) {});
    ASSERT_EQ(0, InstanceProperties(source.instanceId).setAttribute(ZN_PROP_ORACLE_HOME, source.home));
  }
  ASSERT_TRUE(m_source->ReloadData(reload));
  SDROperationCtx plain = Step(m_machines[0], Api::DR_SITE_SOURCE, Api::VIRTUAL_APP_PHASE_SHUTDOWN);
  std::string stop = COracleDBDRBase::kShutDownCommand;
  EXPECT_TRUE(Context().RunDBCommand(plain, stop));
  EXPECT_FALSE(drtest::DatabaseRunning(source));

  // A machine without a record has no instance to load.
  std::unique_ptr<CDRInfo> orphan = Orphan(77);
  SDROperationCtx ctx = Step(orphan.get(), Api::DR_SITE_SOURCE, Api::VIRTUAL_APP_PHASE_SHUTDOWN);
  std::string command = COracleDBDRBase::kShutDownCommand;
  EXPECT_FALSE(Context().RunDBCommand(ctx, command));
  EXPECT_TRUE(Logged("Error loading context for instance(s) [77]"));
  EXPECT_EQ(1u, Journal().size());
}

TEST(OracleScriptArguments, ShellTextWhitespaceAndControlCharactersAreRefused) {
  EXPECT_TRUE(COracleDBDRBase::IsSafeScriptArgument("/u01/app/oracle/product/19.0.0_db-1", false));
  EXPECT_TRUE(COracleDBDRBase::IsSafeScriptArgument("db-host.example.com", false));
  EXPECT_TRUE(COracleDBDRBase::IsSafeScriptArgument("", true));
  EXPECT_FALSE(COracleDBDRBase::IsSafeScriptArgument("", false));
  for (char c : std::string("'\"`;&|<>$\\()[]{}*?!~# \t\n\r\v\f\x01\x7f")) {
    EXPECT_FALSE(COracleDBDRBase::IsSafeScriptArgument(std::string("/u01/a") + c + "b", true)) << int(c);
  }
}

}  // namespace
