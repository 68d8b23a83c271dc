// Database replications under the task manager and the job simulator: a
// database backup and a replica-sync task's sync reach them through the
// replication lookup, and their endings leave the sync status (and the last
// synced job) on them, beside VM replications of the same subclient and
// task, which keep the simulator's own handling.
#include "TaskSimTestSupport.h"
#include "app/AppReplTestSupport.h"
#include "tasksim/ReplicaSyncEffects.h"

namespace {

using SyncInfo = App::ReplicaSyncReplicationInfo;

class ReplicaSyncEffects : public CTaskSimTestBase {
 protected:
  static constexpr int kDBSubclient = 31;
  static constexpr int kDBTask = 41;

  void SetUp() override {
    CTaskSimTestBase::SetUp();
    AddPolicy(kDBSubclient);
    for (int id : {1, 2}) drtest::StoreDBReplication(drtest::SimpleDBReplication(id, kDBSubclient, kDBTask));
    PutReplicationTask(kDBTask, 0);
  }
  void TearDown() override {
    CReplicaSyncEffects::SetBackupsLeaveSyncStatus(false);
    CTaskSimTestBase::TearDown();
  }
  // A database backup as the database context asks for it: no VM options.
  static TMMsg::CreateTaskReq DatabaseBackup() {
    TMMsg::CreateTaskReq req = TaskRequest(CTaskManagerSim::kOpBackup);
    Entity(req).SetInt32(ZnEntities::GenericEntity::kSubclientId, kDBSubclient);
    return req;
  }
  static TMMsg::TaskOperationReq SyncStart(const std::vector<int>& ids) {
    TMMsg::TaskOperationReq req;
    req.SetInt32(TMMsg::TaskOperationReq::kOperation, CTaskManagerSim::kTaskOpStartSync);
    req.AddMsg(TMMsg::TaskOperationReq::kSubtasks).SetInt32(ZnEntities::SubtaskEntity::kTaskId, kDBTask);
    CNMessageBase& options = req.MutableMsg(TMMsg::TaskOperationReq::kOptions);
    for (int id : ids) {
      CNMessageBase& f = options.AddMsg(TMMsg::TaskOperationOptionFields::kFilters);
      f.SetInt32(TMMsg::OptionFilter::kFilterId, TMMsg::OPTION_FILTER_REPLICATION_ID);
      f.SetString(TMMsg::OptionFilter::kValue, std::to_string(id));
    }
    return req;
  }
  static long long StartedSync(const std::vector<int>& ids) {
    const SSent sent = Send(SyncStart(ids), TMMsg::TaskOperationReq::kTypeId);
    EXPECT_EQ(0, sent.rc) << sent.error;
    const std::vector<std::string> jobIds = ReplyIds(sent.reply);
    EXPECT_EQ(1u, jobIds.size());
    return jobIds.empty() ? 0 : atoll(jobIds[0].c_str());
  }
  static int SyncStatus(int id) { return drtest::StoredDBReplication(id).GetInt32(SyncInfo::kSyncStatus); }
  static long long LastSynced(int id) { return drtest::StoredDBReplication(id).GetInt64(SyncInfo::kLastSyncedJobId); }
};

TEST_F(ReplicaSyncEffects, ADatabaseBackupNeedsASyncAndTheSyncBringsItsJob) {
  const SChildJobRecord backup = OnlyJob(Create(DatabaseBackup()));
  EXPECT_EQ((std::vector<int>{1, 2}), backup.replicationIds);
  EXPECT_FALSE(backup.vmChildren);
  EXPECT_EQ(App::VSA_REPL_STATUS_IN_SYNC, SyncStatus(1));
  ASSERT_TRUE(CJobSimulator::Complete(backup.jobId));
  EXPECT_TRUE(drtest::ChildJob(backup.jobId).childJobIds.empty());
  EXPECT_EQ(App::VSA_REPL_STATUS_NEED_SYNC, SyncStatus(1));
  EXPECT_EQ(App::VSA_REPL_STATUS_NEED_SYNC, SyncStatus(2));

  const long long sync = StartedSync({2});
  EXPECT_EQ((std::vector<int>{2}), drtest::ChildJob(sync).replicationIds);
  ASSERT_TRUE(CJobSimulator::Complete(sync));
  EXPECT_EQ(App::VSA_REPL_STATUS_IN_SYNC, SyncStatus(2));
  EXPECT_EQ(backup.jobId, LastSynced(2));
  // The one the sync did not name still needs one.
  EXPECT_EQ(App::VSA_REPL_STATUS_NEED_SYNC, SyncStatus(1));
  EXPECT_EQ(0, LastSynced(1));
}

TEST_F(ReplicaSyncEffects, FailedBackupsAndTheKnobLeaveTheStatusAlone) {
  const SChildJobRecord failed = OnlyJob(Create(DatabaseBackup()));
  ASSERT_TRUE(CJobSimulator::Fail(failed.jobId, "archive log full"));
  EXPECT_EQ(App::VSA_REPL_STATUS_IN_SYNC, SyncStatus(1));

  ASSERT_TRUE(CReplicaSyncEffects::SetBackupsLeaveSyncStatus(true));
  const SChildJobRecord done = OnlyJob(Create(DatabaseBackup()));
  ASSERT_TRUE(CJobSimulator::Complete(done.jobId));
  EXPECT_EQ(App::VSA_REPL_STATUS_IN_SYNC, SyncStatus(1));
  EXPECT_EQ(App::VSA_REPL_STATUS_IN_SYNC, SyncStatus(2));
}

TEST_F(ReplicaSyncEffects, ChosenReplicationsAndFailedSyncsEndFailed) {
  SJobFaults faults;
  faults.flags = kFaultSyncFailed;
  faults.replicationIds = {1};
  ASSERT_TRUE(CJobSimulator::SetNextJobFaults(EChildJobType::kSync, faults));
  const long long sync = StartedSync({});
  ASSERT_TRUE(CJobSimulator::Complete(sync));
  EXPECT_EQ(App::VSA_REPL_STATUS_SYNC_FAILED, SyncStatus(1));
  EXPECT_EQ(App::VSA_REPL_STATUS_IN_SYNC, SyncStatus(2));

  const long long killed = StartedSync({2});
  ASSERT_TRUE(CJobSimulator::Kill(killed));
  EXPECT_EQ(App::VSA_REPL_STATUS_SYNC_FAILED, SyncStatus(2));
}

TEST_F(ReplicaSyncEffects, VMAndDatabaseReplicationsOfOneTaskSyncTogether) {
  AddVM(7, kDBSubclient, kDBTask);
  const long long sync = StartedSync({});
  EXPECT_EQ((std::vector<int>{1, 2, 7}), drtest::ChildJob(sync).replicationIds);
  App::VSAReplicationInfo vm;
  ASSERT_TRUE(CReplicationStore::Get(7, vm));
  EXPECT_EQ(App::VSA_REPL_STATUS_SYNC_IN_PROGRESS, vm.GetInt32(App::VSAReplicationInfo::kSyncStatus));
  ASSERT_TRUE(CJobSimulator::Complete(sync));
  ASSERT_TRUE(CReplicationStore::Get(7, vm));
  EXPECT_EQ(App::VSA_REPL_STATUS_IN_SYNC, vm.GetInt32(App::VSAReplicationInfo::kSyncStatus));
  EXPECT_EQ(App::VSA_REPL_STATUS_IN_SYNC, SyncStatus(1));

  // A sync that names a replication nobody knows does not start.
  SChildJobSpec spec;
  spec.type = EChildJobType::kSync;
  spec.replicationIds = {1, 999};
  EXPECT_EQ(0, CJobSimulator::StartJob(spec));
}

TEST_F(ReplicaSyncEffects, TheAdaptersStoreFaultsAreTheDRJobsNotTheSimulators) {
  const long long sync = StartedSync({1});
  ASSERT_TRUE(CReplicaSyncStore::SetFault(1, EReplicaSyncFault::kStoreFails));
  ASSERT_TRUE(CJobSimulator::Complete(sync));
  EXPECT_EQ(App::VSA_REPL_STATUS_IN_SYNC, SyncStatus(1));
}

}  // namespace
