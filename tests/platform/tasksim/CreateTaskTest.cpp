// Create-task and modify-task requests of the simulated task manager, end to
// end through the request entries: the job each operation code starts, what
// is refused, the reply faults, both entries reaching one handler, and the
// stored tasks the DR job reads back through "TM_GetTaskDetail".
#include <stdlib.h>

#include "Db/Proc/TM_GetTaskDetail.h"
#include "Db/SprocWrapper.h"
#include "TaskSimTestSupport.h"
#include "jobs/EvTask.h"
#include "jobs/JobStore.h"
#include "jobs/LabStore.h"

namespace {

using drtest::ChildJob;

class TaskManagerCreateTask : public CTaskSimTestBase {
 protected:
  void SetUp() override {
    CTaskSimTestBase::SetUp();
    AddPolicy();
    AddSourcedVM(101);
    AddSourcedVM(102);
    AddSourcedVM(103);
    AddSourcedVM(301, 31, 12);  // another subclient's VM
  }
  // TM_GetTaskDetail as the DR job runs it; -1 when the procedure fails.
  static int TaskDetail(int taskId, TMMsg::TaskInfo& out, std::string& error) {
    SprocWrapper<TM_GetTaskDetail, TM_GetTaskDetail_t> proc("_QueryTaskInfo", nullptr);
    proc.getCursor()->setValues(taskId, 1, 0);
    std::string xml;
    if (proc.getXMLFromCursor(xml, nullptr, false, true) != 0) {
      error = proc.getErrorString();
      return -1;
    }
    TMMsg::GetTaskDetailResp resp;
    EXPECT_TRUE(resp.Unserialize(xml)) << xml;
    out = TMMsg::TaskInfo(resp.GetMsg(TMMsg::GetTaskDetailResp::kTaskInfo));
    return 0;
  }
  static int EvTaskRequest(const CNMessageBase& request, unsigned long type, std::list<long long>& ids,
                           std::string& error) {
    std::string xml;
    EXPECT_TRUE(request.serializeUTF8(xml));
    int code = 0;
    EvTask task(0, 0, nullptr, false);
    return task.TaskRequest(xml, ids, code, 1, error, type, 0, 2, false, false);
  }
  static int OperationCodeOf(const STaskRecord& task) {
    TMMsg::TaskInfo info;
    EXPECT_TRUE(info.Unserialize(task.xml));
    return info.GetListMsg(TMMsg::TaskInfo::kSubTasks, 0)
        .GetMsg(TMMsg::SubTaskInfo::kSubTask)
        .GetInt32(TMMsg::SubTaskObjectFields::kOperationCode);
  }
};

TEST_F(TaskManagerCreateTask, AuxCopyCopiesThePolicyCopyForTheDRJobItsDescriptionNames) {
  const SChildJobRecord job = OnlyJob(Create(AuxCopyRequest(kPolicy, kAux)));
  EXPECT_EQ(EChildJobType::kAuxCopy, job.type);
  EXPECT_EQ(13, job.opType);
  EXPECT_EQ(kPolicy, job.storagePolicyId);
  EXPECT_EQ(kAux, job.copyId);
  EXPECT_EQ(kDRJobId, job.parentJobId);
  EXPECT_EQ("Running", job.status);
  EXPECT_EQ((std::vector<std::vector<long long>>{{job.jobId, 13, kPolicy, kAux}}),
            Rows("SELECT jobId, opType, archGrpID, archGrpCopyID FROM JMAdminJobInfoTable"));
  // The request is kept as a one-shot task naming itself.
  const std::vector<STaskRecord> tasks = StoredTasks();
  ASSERT_EQ(1u, tasks.size());
  EXPECT_EQ(ETaskKind::kOneShot, tasks[0].kind);
  EXPECT_EQ(CTaskStore::kFirstCreatedTaskId, tasks[0].taskId);
  EXPECT_EQ(CTaskManagerSim::kOpAuxCopy, OperationCodeOf(tasks[0]));
  TMMsg::TaskInfo info;
  ASSERT_TRUE(info.Unserialize(tasks[0].xml));
  EXPECT_EQ(tasks[0].taskId, CTaskStore::TaskIdOf(info));
}

TEST_F(TaskManagerCreateTask, BackupCopyTakesItsCopyFromTheSubclientFieldAndNoParentWithoutALaunchText) {
  const SChildJobRecord job = OnlyJob(Create(BackupCopyRequest(kPolicy, kAux, "a backup copy")));
  EXPECT_EQ(EChildJobType::kBackupCopy, job.type);
  EXPECT_EQ(60, job.opType);
  EXPECT_EQ(kPolicy, job.storagePolicyId);
  EXPECT_EQ(kAux, job.copyId);
  EXPECT_EQ(0, job.parentJobId);
}

TEST_F(TaskManagerCreateTask, BackupOfSelectedVMsBacksUpThoseVMsOnly) {
  const SChildJobRecord job = OnlyJob(Create(BackupRequest(kSubclient, {103, 101, 103})));
  EXPECT_EQ(EChildJobType::kBackup, job.type);
  EXPECT_EQ(4, job.opType);
  EXPECT_EQ(kSubclient, job.applicationId);
  EXPECT_EQ(kPolicy, job.storagePolicyId);
  EXPECT_EQ((std::vector<int>{101, 103}), job.replicationIds);
  EXPECT_EQ(kDRJobId, job.parentJobId);
  ASSERT_TRUE(CJobSimulator::Complete(job.jobId));
  const SChildJobRecord done = ChildJob(job.jobId);
  ASSERT_EQ(2u, done.childJobIds.size());
  EXPECT_EQ((std::vector<int>{101}), ChildJob(done.childJobIds[0]).replicationIds);
  EXPECT_EQ((std::vector<int>{103}), ChildJob(done.childJobIds[1]).replicationIds);
}

TEST_F(TaskManagerCreateTask, BackupWithoutASelectionTakesEveryReplicationOfTheSubclient) {
  EXPECT_EQ((std::vector<int>{101, 102, 103}), OnlyJob(Create(BackupRequest(kSubclient, {}))).replicationIds);
}

TEST_F(TaskManagerCreateTask, SnapSubclientBacksUpWithOperationType59) {
  AddPolicy(kSubclient, true);
  const SChildJobRecord job = OnlyJob(Create(BackupRequest(kSubclient, {101})));
  EXPECT_EQ(59, job.opType);
  EXPECT_TRUE(job.snap);
  SJobRecord record;
  ASSERT_EQ(EStoreResult::kOk, CJobStore::GetJob(job.jobId, record));
  EXPECT_EQ(59, record.opType);
}

TEST_F(TaskManagerCreateTask, RefusedRequestsStartAndStoreNothing) {
  struct SCase {
    const char* what;
    TMMsg::CreateTaskReq request;
    const char* error;
  };
  TMMsg::CreateTaskReq noEntity = TaskRequest(CTaskManagerSim::kOpAuxCopy);
  noEntity.MutableMsg(TMMsg::CreateTaskReq::kTaskInfo).ListClear(TMMsg::TaskInfo::kAssociations);
  TMMsg::CreateTaskReq noSubtask = AuxCopyRequest(kPolicy, kAux);
  noSubtask.MutableMsg(TMMsg::CreateTaskReq::kTaskInfo).ListClear(TMMsg::TaskInfo::kSubTasks);
  const SCase cases[] = {
      {"unknown code", TaskRequest(77), "Unknown operation code [77]"},
      {"unknown subclient", BackupRequest(99, {}), "Unknown subclient [99]"},
      {"unknown policy", AuxCopyRequest(8, kAux), "Unknown storage policy [8]"},
      {"unknown backup-copy policy", BackupCopyRequest(8, 0), "Unknown storage policy [8]"},
      {"copy of another policy", AuxCopyRequest(kPolicy, 77), "Storage policy [5] has no copy [77]"},
      {"aux copy without copy", AuxCopyRequest(kPolicy, 0), "names no copy"},
      {"unknown VM", BackupRequest(kSubclient, {101, 999}), "Unknown replication [999] in the VM selection"},
      {"no entity", noEntity, "Task request without an entity"},
      {"no subtask", noSubtask, "Task request without sub-task"},
  };
  for (const SCase& c : cases) {
    SCOPED_TRACE(c.what);
    const SSent sent = Create(c.request);
    EXPECT_NE(0, sent.rc);
    EXPECT_NE(std::string::npos, sent.error.find(c.error)) << sent.error;
  }
  EXPECT_EQ(0u, JobCount());
  EXPECT_TRUE(StoredTasks().empty());
}

TEST_F(TaskManagerCreateTask, FaultsShapeTheReplyOfTheXmlEntry) {
  ASSERT_TRUE(CTaskManagerSim::SetCreateTaskFault(ECreateTaskFault::kStartFails));
  SSent sent = Create(AuxCopyRequest(kPolicy, kAux));
  EXPECT_NE(0, sent.rc);
  EXPECT_NE(std::string::npos, sent.error.find("could not start")) << sent.error;
  EXPECT_EQ(0u, JobCount());

  ASSERT_TRUE(CTaskManagerSim::SetCreateTaskFault(ECreateTaskFault::kNoJobId));
  sent = Create(AuxCopyRequest(kPolicy, kAux));
  EXPECT_EQ(0, sent.rc) << sent.error;
  EXPECT_TRUE(ReplyIds(sent.reply).empty());
  EXPECT_EQ(1u, JobCount());  // the job runs all the same

  ASSERT_TRUE(CTaskManagerSim::SetCreateTaskFault(ECreateTaskFault::kNonNumericJobId));
  sent = Create(BackupRequest(kSubclient, {101}));
  EXPECT_EQ(0, sent.rc) << sent.error;
  const std::vector<std::string> ids = ReplyIds(sent.reply);
  ASSERT_EQ(1u, ids.size());
  ASSERT_EQ("job", ids[0].substr(0, 3));
  EXPECT_EQ(EChildJobType::kBackup, ChildJob(atoll(ids[0].c_str() + 3)).type);

  ASSERT_TRUE(CTaskManagerSim::SetCreateTaskFault(ECreateTaskFault::kNone));
  EXPECT_EQ(EChildJobType::kAuxCopy, OnlyJob(Create(AuxCopyRequest(kPolicy, kAux))).type);
}

TEST_F(TaskManagerCreateTask, BothEntriesReachOneHandlerForEveryOperationCode) {
  // A copy through the task entry.
  std::list<long long> ids;
  std::string error;
  ASSERT_EQ(0, EvTaskRequest(AuxCopyRequest(kPolicy, kAux), TMMsg::CreateTaskReq::kTypeId, ids, error)) << error;
  ASSERT_EQ(1u, ids.size());
  EXPECT_EQ(EChildJobType::kAuxCopy, ChildJob(ids.front()).type);

  // The approval workflow through both entries, and its refusal.
  TMMsg::CreateTaskReq workflow = TaskRequest(CTaskManagerSim::kOpWorkflow);
  Entity(workflow).SetString(ZnEntities::GenericEntity::kWorkflowName, "DRApproval");
  ids.clear();
  ASSERT_EQ(0, EvTaskRequest(workflow, TMMsg::CreateTaskReq::kTypeId, ids, error)) << error;
  ASSERT_EQ(1u, ids.size());
  SJobRecord record;
  ASSERT_EQ(EStoreResult::kOk, CJobStore::GetJob(ids.front(), record));
  EXPECT_EQ(CJobStore::kTypeWorkflow, record.jobType);
  EXPECT_EQ("DRApproval", record.name);
  const SSent sent = Create(workflow);
  ASSERT_EQ(0, sent.rc) << sent.error;
  ASSERT_EQ(1u, ReplyIds(sent.reply).size());
  ASSERT_EQ(EStoreResult::kOk, CJobStore::GetJob(atoll(ReplyIds(sent.reply)[0].c_str()), record));
  EXPECT_EQ(CJobStore::kTypeWorkflow, record.jobType);
  CLabStore::SetApprovalOutcome(CLabStore::kFailStart);
  ids.clear();
  EXPECT_NE(0, EvTaskRequest(workflow, TMMsg::CreateTaskReq::kTypeId, ids, error));
  EXPECT_TRUE(ids.empty());

  // Unknown codes are refused on the task entry as well.
  EXPECT_NE(0, EvTaskRequest(TaskRequest(77), TMMsg::CreateTaskReq::kTypeId, ids, error));
  EXPECT_NE(std::string::npos, error.find("Unknown operation code [77]")) << error;
}

TEST_F(TaskManagerCreateTask, ModifyReplacesAStoredTaskAndRefusesAnUnknownOne) {
  TMMsg::TaskInfo task = BackupRequest(kSubclient, {101, 102}).GetMsgAs<TMMsg::TaskInfo>(TMMsg::CreateTaskReq::kTaskInfo);
  ASSERT_TRUE(CTaskStore::PutTask(12, ETaskKind::kSchedule, task));
  TMMsg::TaskInfo read;
  std::string error;
  ASSERT_EQ(0, TaskDetail(12, read, error)) << error;
  ASSERT_EQ(12, CTaskStore::TaskIdOf(read));

  // The DR job drops a VM from its cached copy and sends it back.
  CNMessageBase& vsa = read.MutableListMsg(TMMsg::TaskInfo::kSubTasks, 0)
                           .MutableMsg(TMMsg::SubTaskInfo::kJobOptions)
                           .MutableMsg(TMMsg::JobOption::kBackupOptions)
                           .MutableMsg(TMMsg::BackupOptionFields::kVSABackupOption);
  ASSERT_TRUE(vsa.ListRemove(TMMsg::VSABkpOption::kSelectedVMs, 0));
  TMMsg::ModifyTaskReq modify;
  modify.SetMsg(TMMsg::ModifyTaskReq::kTaskInfo, read);
  std::list<long long> ids;
  ASSERT_EQ(0, EvTaskRequest(modify, TMMsg::ModifyTaskReq::kTypeId, ids, error)) << error;
  TMMsg::TaskInfo again;
  ASSERT_EQ(0, TaskDetail(12, again, error)) << error;
  const CNMessageBase& stored = again.GetListMsg(TMMsg::TaskInfo::kSubTasks, 0)
                                    .GetMsg(TMMsg::SubTaskInfo::kJobOptions)
                                    .GetMsg(TMMsg::JobOption::kBackupOptions)
                                    .GetMsg(TMMsg::BackupOptionFields::kVSABackupOption);
  ASSERT_EQ(1u, stored.ListSize(TMMsg::VSABkpOption::kSelectedVMs));
  EXPECT_EQ(102, stored.GetListMsg(TMMsg::VSABkpOption::kSelectedVMs, 0).GetInt64(TMMsg::VSASelectiveVMInfo::kReplicationId));
  STaskRecord record;
  ASSERT_EQ(EStoreResult::kOk, CTaskStore::ReadTask(12, record));
  EXPECT_EQ(ETaskKind::kSchedule, record.kind);

  // A task that is not there, and a message that names none.
  read.MutableMsg(TMMsg::TaskInfo::kTask).SetInt32(TMMsg::TaskObjectFields::kTaskId, 13);
  modify.SetMsg(TMMsg::ModifyTaskReq::kTaskInfo, read);
  EXPECT_NE(0, EvTaskRequest(modify, TMMsg::ModifyTaskReq::kTypeId, ids, error));
  EXPECT_NE(std::string::npos, error.find("Task [13] does not exist")) << error;
  EXPECT_EQ(EStoreResult::kMissing, CTaskStore::ReadTask(13, record));
  read.MutableMsg(TMMsg::TaskInfo::kTask).ClearField(TMMsg::TaskObjectFields::kTaskId);
  modify.SetMsg(TMMsg::ModifyTaskReq::kTaskInfo, read);
  EXPECT_NE(0, EvTaskRequest(modify, TMMsg::ModifyTaskReq::kTypeId, ids, error));
  EXPECT_NE(std::string::npos, error.find("names no task")) << error;
}

TEST_F(TaskManagerCreateTask, TaskDetailOfADeletedScheduleFails) {
  PutReplicationTask(kTask, 0);
  TMMsg::TaskInfo read;
  std::string error;
  ASSERT_EQ(0, TaskDetail(kTask, read, error)) << error;
  TMMsg::TaskOperationReq remove;
  remove.SetInt32(TMMsg::TaskOperationReq::kOperation, CTaskManagerSim::kTaskOpDelete);
  remove.AddUInt32(TMMsg::TaskOperationReq::kTaskIds, kTask);
  const SSent sent = Send(remove, TMMsg::TaskOperationReq::kTypeId);
  ASSERT_EQ(0, sent.rc) << sent.error;
  EXPECT_EQ(-1, TaskDetail(kTask, read, error));
  EXPECT_NE(std::string::npos, error.find("task 11 does not exist")) << error;
}

// ---- the task store itself ----

class TaskStore : public CDbTestBase {};

TEST_F(TaskStore, ACreatedTaskNeverTakesTheIdOfADeletedOne) {
  TMMsg::TaskInfo info;
  int first = 0, second = 0;
  ASSERT_EQ(EStoreResult::kOk, CTaskStore::CreateTask(ETaskKind::kOneShot, info, first));
  ASSERT_EQ(EStoreResult::kOk, CTaskStore::DeleteTask(first));
  EXPECT_EQ(EStoreResult::kMissing, CTaskStore::DeleteTask(first));
  ASSERT_EQ(EStoreResult::kOk, CTaskStore::CreateTask(ETaskKind::kOneShot, info, second));
  EXPECT_EQ(first + 1, second);
  EXPECT_EQ(EStoreResult::kMissing, CTaskStore::ModifyTask(first, info));
  std::vector<STaskRecord> tasks;
  ASSERT_EQ(EStoreResult::kOk, CTaskStore::Tasks(tasks));
  ASSERT_EQ(1u, tasks.size());
  EXPECT_EQ(second, tasks[0].taskId);
  // A lab's own task may take a deleted id back, as a new schedule.
  ASSERT_TRUE(CTaskStore::PutTask(first, "<x/>"));
  STaskRecord back;
  ASSERT_EQ(EStoreResult::kOk, CTaskStore::ReadTask(first, back));
  EXPECT_EQ(ETaskKind::kSchedule, back.kind);
}

TEST_F(TaskStore, ATaskTableOfAnOlderLabGainsItsColumnsAndKeepsItsTasks) {
  CDBConnection* c = CDBConnection::ForThread();
  ASSERT_EQ(DB_OK, c->Exec("CREATE TABLE PLT_Tasks (id INTEGER PRIMARY KEY, xml TEXT)"));
  ASSERT_EQ(DB_OK, c->Exec("INSERT INTO PLT_Tasks (id, xml) VALUES (11, '<old/>')"));
  CDBConnection::CloseThreadConnections();
  STaskRecord task;
  ASSERT_EQ(EStoreResult::kOk, CTaskStore::ReadTask(11, task));
  EXPECT_EQ("<old/>", task.xml);
  EXPECT_EQ(ETaskKind::kSchedule, task.kind);
  EXPECT_EQ(EStoreResult::kOk, CTaskStore::DeleteTask(11));
}

}  // namespace
