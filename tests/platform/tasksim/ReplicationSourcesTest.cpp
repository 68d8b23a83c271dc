// The one lookup of a task's or a subclient's replications: a second kind of
// replication plugs in beside the VMs, and the task manager's requests and
// the job simulator take its replications as well; a source that cannot be
// read fails the lookup instead of shrinking it.
#include "TaskSimTestSupport.h"

namespace {

class ReplicationSources : public CTaskSimTestBase {
 protected:
  void SetUp() override {
    CTaskSimTestBase::SetUp();
    AddPolicy();
    AddSourcedVM(110);
    AddSourcedVM(101);
    PutReplicationTask(kTask, 0);
  }
  // Application replications 105 (of the task) and 120 (of the subclient).
  static SReplicationSource Databases(bool failing = false) {
    SReplicationSource s;
    s.ofTask = [failing](int taskId, std::vector<SSourcedReplication>& out) {
      if (failing) return EStoreResult::kFailed;
      if (taskId == kTask) out = {SSourcedReplication{105, "db-105", 0}};
      return EStoreResult::kOk;
    };
    s.ofSubclient = [failing](int subclientId, std::vector<SSourcedReplication>& out) {
      if (failing) return EStoreResult::kFailed;
      if (subclientId == kSubclient) out = {SSourcedReplication{120, "db-120", 7}};
      return EStoreResult::kOk;
    };
    s.get = [](int id, SSourcedReplication& out) {
      if (id != 120) return EStoreResult::kMissing;
      out = SSourcedReplication{120, "db-120", 7};
      return EStoreResult::kOk;
    };
    return s;
  }
};

TEST_F(ReplicationSources, EverySourceAnswersInReplicationIdOrder) {
  CScopedHandler<std::string, SReplicationSource> plugged(CReplicationSources::Sources(), "db", Databases());
  std::vector<int> ids;
  ASSERT_EQ(EStoreResult::kOk, CReplicationSources::IdsOfTask(kTask, ids));
  EXPECT_EQ((std::vector<int>{101, 105, 110}), ids);
  ASSERT_EQ(EStoreResult::kOk, CReplicationSources::IdsOfSubclient(kSubclient, ids));
  EXPECT_EQ((std::vector<int>{101, 110, 120}), ids);
  SSourcedReplication r;
  ASSERT_EQ(EStoreResult::kOk, CReplicationSources::Get(101, r));
  EXPECT_EQ(Guid(101), r.sourceGuid);
  ASSERT_EQ(EStoreResult::kOk, CReplicationSources::Get(120, r));
  EXPECT_EQ("db-120", r.sourceGuid);
  EXPECT_EQ(EStoreResult::kMissing, CReplicationSources::Get(999, r));
}

TEST_F(ReplicationSources, RequestsTakeTheReplicationsOfEveryKind) {
  CScopedHandler<std::string, SReplicationSource> plugged(CReplicationSources::Sources(), "db", Databases());
  // A backup of the whole subclient, and one that selects the database.
  EXPECT_EQ((std::vector<int>{101, 110, 120}), OnlyJob(Create(BackupRequest(kSubclient, {}))).replicationIds);
  EXPECT_EQ((std::vector<int>{101, 120}), OnlyJob(Create(BackupRequest(kSubclient, {120, 101}))).replicationIds);
}

TEST_F(ReplicationSources, ASourceThatCannotBeReadFailsTheLookupAndTheRequest) {
  CScopedHandler<std::string, SReplicationSource> plugged(CReplicationSources::Sources(), "db", Databases(true));
  std::vector<int> ids = {1};
  EXPECT_EQ(EStoreResult::kFailed, CReplicationSources::IdsOfTask(kTask, ids));
  EXPECT_EQ((std::vector<int>{1}), ids);
  const SSent backup = Create(BackupRequest(kSubclient, {}));
  EXPECT_NE(0, backup.rc);
  TMMsg::TaskOperationReq sync;
  sync.SetInt32(TMMsg::TaskOperationReq::kOperation, CTaskManagerSim::kTaskOpStartSync);
  sync.AddMsg(TMMsg::TaskOperationReq::kSubtasks).SetInt32(ZnEntities::SubtaskEntity::kTaskId, kTask);
  const SSent sent = Send(sync, TMMsg::TaskOperationReq::kTypeId);
  EXPECT_NE(0, sent.rc);
  EXPECT_NE(std::string::npos, sent.error.find("Cannot read the replications of task [11]")) << sent.error;
  EXPECT_EQ(0u, JobCount());
}

}  // namespace
