// Task operations of the simulated task manager, end to end through the XML
// entry: schedules deleted with each reply fault, and syncs started for the
// replications the option filters pick, all of a task's, or in buckets, with
// the start faults.
#include <stdlib.h>

#include "TaskSimTestSupport.h"

namespace {

using drtest::ChildJob;

class TaskManagerOperations : public CTaskSimTestBase {
 protected:
  void SetUp() override {
    CTaskSimTestBase::SetUp();
    AddPolicy();
    AddSourcedVM(104);
    AddSourcedVM(101);
    AddSourcedVM(103);
    AddSourcedVM(201, kSubclient, 12);  // another task's VM
    PutReplicationTask(kTask, 0);
    PutReplicationTask(12, 0);
  }

  static TMMsg::TaskOperationReq Deletion(int taskId) {
    TMMsg::TaskOperationReq req;
    req.SetInt32(TMMsg::TaskOperationReq::kOperation, CTaskManagerSim::kTaskOpDelete);
    req.AddUInt32(TMMsg::TaskOperationReq::kTaskIds, static_cast<uint32_t>(taskId));
    req.AddMsg(TMMsg::TaskOperationReq::kTasks).SetInt32(ZnEntities::TaskEntity::kTaskId, taskId);
    return req;
  }
  // A sync start as the DR job loads it: the subtask, the task id and one
  // filter per replication named.
  static TMMsg::TaskOperationReq SyncStart(int taskId, const std::vector<std::string>& replications) {
    TMMsg::TaskOperationReq req;
    CNMessageBase& subtask = req.AddMsg(TMMsg::TaskOperationReq::kSubtasks);
    for (const std::string& r : replications) {
      CNMessageBase& f = req.MutableMsg(TMMsg::TaskOperationReq::kOptions).AddMsg(TMMsg::TaskOperationOptionFields::kFilters);
      f.SetInt32(TMMsg::OptionFilter::kFilterId, TMMsg::OPTION_FILTER_REPLICATION_ID);
      f.SetString(TMMsg::OptionFilter::kValue, r);
    }
    req.AddUInt32(TMMsg::TaskOperationReq::kTaskIds, static_cast<uint32_t>(taskId));
    subtask.SetInt32(ZnEntities::SubtaskEntity::kTaskId, taskId);
    subtask.SetInt32(ZnEntities::SubtaskEntity::kSubtaskId, taskId * 10);
    req.SetInt32(TMMsg::TaskOperationReq::kOperation, CTaskManagerSim::kTaskOpStartSync);
    return req;
  }
  static SSent Operate(const TMMsg::TaskOperationReq& req) { return Send(req, TMMsg::TaskOperationReq::kTypeId); }
  static int ErrorCode(const SSent& sent) {
    TMMsg::GenericResp resp;
    EXPECT_TRUE(resp.Unserialize(sent.reply)) << sent.reply;
    EXPECT_TRUE(resp.Has(TMMsg::GenericResp::kErrorCode));
    return resp.GetInt32(TMMsg::GenericResp::kErrorCode);
  }
  static bool Stored(int taskId) {
    STaskRecord task;
    return CTaskStore::ReadTask(taskId, task) == EStoreResult::kOk;
  }
  // The replications of each sync job a reply names, in its order.
  static std::vector<std::vector<int>> SyncedBy(const std::vector<std::string>& ids) {
    std::vector<std::vector<int>> out;
    for (const std::string& id : ids) {
      const SChildJobRecord job = ChildJob(atoll(id.c_str()));
      EXPECT_EQ(EChildJobType::kSync, job.type);
      EXPECT_EQ(kTask, job.taskId);
      EXPECT_EQ(0, job.parentJobId);
      out.push_back(job.replicationIds);
    }
    return out;
  }
  static int SyncStatus(int id) {
    App::VSAReplicationInfo info;
    EXPECT_TRUE(CReplicationStore::Get(id, info));
    return info.GetInt32(App::VSAReplicationInfo::kSyncStatus);
  }
};

TEST_F(TaskManagerOperations, DeletionRemovesTheNamedScheduleOnly) {
  const SSent sent = Operate(Deletion(kTask));
  ASSERT_EQ(0, sent.rc) << sent.error;
  EXPECT_EQ(0, ErrorCode(sent));
  EXPECT_FALSE(Stored(kTask));
  EXPECT_TRUE(Stored(12));
}

TEST_F(TaskManagerOperations, DeletionOfWhatIsNoScheduleAnswersAPositiveCodeAndDeletesNothing) {
  // A one-shot task, made by a create-task request.
  ASSERT_EQ(0, Create(AuxCopyRequest(kPolicy, kAux)).rc);
  EXPECT_EQ(CTaskManagerSim::kErrorNotASchedule, ErrorCode(Operate(Deletion(CTaskStore::kFirstCreatedTaskId))));
  EXPECT_EQ(CTaskManagerSim::kErrorNoSuchTask, ErrorCode(Operate(Deletion(77))));
  TMMsg::TaskOperationReq both = Deletion(kTask);
  both.AddUInt32(TMMsg::TaskOperationReq::kTaskIds, 77);
  EXPECT_EQ(CTaskManagerSim::kErrorNoSuchTask, ErrorCode(Operate(both)));
  EXPECT_TRUE(Stored(kTask));
  TMMsg::TaskOperationReq none;
  none.SetInt32(TMMsg::TaskOperationReq::kOperation, CTaskManagerSim::kTaskOpDelete);
  EXPECT_EQ(CTaskManagerSim::kErrorBadRequest, ErrorCode(Operate(none)));
  EXPECT_TRUE(Stored(CTaskStore::kFirstCreatedTaskId));
}

TEST_F(TaskManagerOperations, DeletionReplyFaults) {
  ASSERT_TRUE(CTaskManagerSim::SetScheduleDeleteFault(EScheduleDeleteFault::kPositiveCode));
  EXPECT_EQ(CTaskManagerSim::kFaultErrorCode, ErrorCode(Operate(Deletion(kTask))));
  EXPECT_TRUE(Stored(kTask));
  ASSERT_TRUE(CTaskManagerSim::SetScheduleDeleteFault(EScheduleDeleteFault::kNegativeCode));
  EXPECT_EQ(-CTaskManagerSim::kFaultErrorCode, ErrorCode(Operate(Deletion(kTask))));
  EXPECT_TRUE(Stored(kTask));
  // The deletion happens, its answer is lost.
  ASSERT_TRUE(CTaskManagerSim::SetScheduleDeleteFault(EScheduleDeleteFault::kNoReply));
  const SSent sent = Operate(Deletion(kTask));
  EXPECT_EQ(0, sent.rc);
  EXPECT_TRUE(sent.reply.empty());
  EXPECT_FALSE(Stored(kTask));
}

TEST_F(TaskManagerOperations, SyncOfTheFilteredReplicationsInOneJob) {
  const SSent sent = Operate(SyncStart(kTask, {"103", "101"}));
  ASSERT_EQ(0, sent.rc) << sent.error;
  EXPECT_EQ((std::vector<std::vector<int>>{{101, 103}}), SyncedBy(ReplyIds(sent.reply)));
  EXPECT_EQ(App::VSA_REPL_STATUS_SYNC_IN_PROGRESS, SyncStatus(101));
  EXPECT_EQ(App::VSA_REPL_STATUS_IN_SYNC, SyncStatus(104));
  std::vector<long long> running;
  ASSERT_EQ(EStoreResult::kOk, CJobSimulator::RunningSyncJobs(kTask, running));
  EXPECT_EQ(1u, running.size());
}

TEST_F(TaskManagerOperations, SyncWithoutFiltersTakesEveryReplicationOfTheTask) {
  const SSent sent = Operate(SyncStart(kTask, {}));
  ASSERT_EQ(0, sent.rc) << sent.error;
  EXPECT_EQ((std::vector<std::vector<int>>{{101, 103, 104}}), SyncedBy(ReplyIds(sent.reply)));
  EXPECT_EQ(App::VSA_REPL_STATUS_IN_SYNC, SyncStatus(201));
}

TEST_F(TaskManagerOperations, BucketedSyncStartsAJobPerBucketInReplicationIdOrder) {
  PutReplicationTask(kTask, 2);
  SSent sent = Operate(SyncStart(kTask, {}));
  ASSERT_EQ(0, sent.rc) << sent.error;
  EXPECT_EQ((std::vector<std::vector<int>>{{101, 103}, {104}}), SyncedBy(ReplyIds(sent.reply)));
  PutReplicationTask(kTask, 5);
  sent = Operate(SyncStart(kTask, {"104", "101"}));
  EXPECT_EQ((std::vector<std::vector<int>>{{101, 104}}), SyncedBy(ReplyIds(sent.reply)));
  EXPECT_EQ((std::vector<std::vector<int>>{{1, 2}, {3, 4}, {5}}), CTaskManagerSim::SyncBuckets({5, 3, 1, 4, 2}, 2));
  EXPECT_EQ((std::vector<std::vector<int>>{{1, 2, 3}}), CTaskManagerSim::SyncBuckets({3, 1, 2}, 0));
}

TEST_F(TaskManagerOperations, RefusedSyncStartsStartNothing) {
  TMMsg::TaskOperationReq unknownFilter = SyncStart(kTask, {"101"});
  unknownFilter.MutableMsg(TMMsg::TaskOperationReq::kOptions)
      .MutableListMsg(TMMsg::TaskOperationOptionFields::kFilters, 0)
      .SetInt32(TMMsg::OptionFilter::kFilterId, 120099);
  TMMsg::TaskOperationReq unknownOperation = SyncStart(kTask, {});
  unknownOperation.SetInt32(TMMsg::TaskOperationReq::kOperation, 8);
  AddSourcedVM(105, kSubclient, 13);
  PutReplicationTask(14, 0);
  struct SCase {
    const char* what;
    TMMsg::TaskOperationReq request;
    const char* error;
  } cases[] = {
      {"replication of another task", SyncStart(kTask, {"101", "201"}), "Replication [201] is not one of the task's"},
      {"not a number", SyncStart(kTask, {"101x"}), "Replication [101x]"},
      {"unknown filter", unknownFilter, "Unknown option filter [120099]"},
      {"unknown task", SyncStart(13, {}), "Task [13] does not exist"},
      {"task without replications", SyncStart(14, {}), "Task [14] has no replication to sync"},
      {"unknown operation", unknownOperation, "Unknown task operation [8]"},
  };
  for (const SCase& c : cases) {
    SCOPED_TRACE(c.what);
    const SSent sent = Operate(c.request);
    EXPECT_NE(0, sent.rc);
    EXPECT_NE(std::string::npos, sent.error.find(c.error)) << sent.error;
  }
  EXPECT_EQ(0u, JobCount());
  EXPECT_EQ(App::VSA_REPL_STATUS_IN_SYNC, SyncStatus(101));
}

TEST_F(TaskManagerOperations, SyncStartFaults) {
  ASSERT_TRUE(CTaskManagerSim::SetSyncStartFault(ESyncStartFault::kRefused));
  SSent sent = Operate(SyncStart(kTask, {}));
  EXPECT_NE(0, sent.rc);
  EXPECT_EQ(0u, JobCount());

  // Failed without ids: the jobs run, and are found among the task's
  // running sync jobs.
  PutReplicationTask(kTask, 2);
  ASSERT_TRUE(CTaskManagerSim::SetSyncStartFault(ESyncStartFault::kFailWithoutIds));
  sent = Operate(SyncStart(kTask, {}));
  EXPECT_NE(0, sent.rc);
  EXPECT_NE(std::string::npos, sent.error.find("failed after its start")) << sent.error;
  EXPECT_TRUE(ReplyIds(sent.reply).empty());
  std::vector<long long> running;
  ASSERT_EQ(EStoreResult::kOk, CJobSimulator::RunningSyncJobs(kTask, running));
  ASSERT_EQ(2u, running.size());
  for (long long id : running) ASSERT_TRUE(CJobSimulator::Kill(id));

  ASSERT_TRUE(CTaskManagerSim::SetSyncStartFault(ESyncStartFault::kFailWithIds));
  sent = Operate(SyncStart(kTask, {}));
  EXPECT_NE(0, sent.rc);
  ASSERT_EQ(EStoreResult::kOk, CJobSimulator::RunningSyncJobs(kTask, running));
  const std::vector<std::string> ids = ReplyIds(sent.reply);
  ASSERT_EQ(2u, ids.size());
  EXPECT_EQ(std::to_string(running[0]), ids[0]);
  EXPECT_EQ(std::to_string(running[1]), ids[1]);
  for (long long id : running) ASSERT_TRUE(CJobSimulator::Kill(id));

  // Succeeded without ids: the reply is a success that names no job, the
  // jobs run all the same.
  ASSERT_TRUE(CTaskManagerSim::SetSyncStartFault(ESyncStartFault::kOkWithoutIds));
  sent = Operate(SyncStart(kTask, {}));
  EXPECT_EQ(0, sent.rc) << sent.error;
  EXPECT_TRUE(ReplyIds(sent.reply).empty());
  ASSERT_EQ(EStoreResult::kOk, CJobSimulator::RunningSyncJobs(kTask, running));
  EXPECT_EQ(2u, running.size());
  ASSERT_TRUE(CTaskManagerSim::SetSyncStartFault(ESyncStartFault::kNone));
}

}  // namespace
