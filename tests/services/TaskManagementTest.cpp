// Task management of the application manager: the copy requests as the task
// manager receives them, starting tasks, the task cache and its edits that
// reach the task manager when the job ends, schedule deletion, and the
// per-task readers of project and placement.
#include <atomic>
#include <list>
#include <memory>
#include <string>
#include <vector>

#include "TestThread.h"
#include "core/HandlerRegistry.h"
#include "jobs/EvTask.h"
#include "jobs/TaskStore.h"
#include "services/DRAppManager.h"
#include "services/ServicesTestSupport.h"
#include "xmlreq/XMLHandler.h"

namespace {

using Entity = ZnEntities::GenericEntity;

class TaskManagement : public CServicesTestBase {
 protected:
  void SetUp() override {
    CServicesTestBase::SetUp();
    m_am.reset(new CDRAppManager());
    TMMsg::JobOption options = MakeOptions(1);
    ASSERT_TRUE(m_am->Initialize(kOwner, &options));
  }
  void TearDown() override {
    m_am.reset();
    CServicesTestBase::TearDown();
  }

  // A stored task: a subtask whose VM restore options hold the VMs given.
  static TMMsg::TaskInfo Task(const std::vector<std::vector<std::string>>& vms = {}) {
    TMMsg::TaskInfo task;
    CNMessageBase& vmOptions = NewVMRestoreOptions(task);
    vmOptions.TouchField(TMMsg::DiskLevelVMRestoreOption::kAdvancedRestoreOptions);
    for (const auto& vm : vms) {
      CNMessageBase& e = vmOptions.AddMsg(TMMsg::DiskLevelVMRestoreOption::kAdvancedRestoreOptions);
      const SMsgField fields[] = {TMMsg::VMWAdvancedRestoreOptions::kVMName,    TMMsg::VMWAdvancedRestoreOptions::kVMGuid,
                                  TMMsg::VMWAdvancedRestoreOptions::kEsxHost,   TMMsg::VMWAdvancedRestoreOptions::kDatastore,
                                  TMMsg::VMWAdvancedRestoreOptions::kDatacenter, TMMsg::VMWAdvancedRestoreOptions::kCluster,
                                  TMMsg::VMWAdvancedRestoreOptions::kNewVMName, TMMsg::VMWAdvancedRestoreOptions::kProjectId};
      for (size_t i = 0; i < vm.size() && i < 8; ++i) e.SetString(fields[i], vm[i]);
    }
    return task;
  }
  static void Store(int taskId, const TMMsg::TaskInfo& task) { ASSERT_TRUE(CTaskStore::PutTask(taskId, Xml(task))); }

  std::unique_ptr<CDRAppManager> m_am;
};

// Every request of one type the task manager receives, answered by a reply
// the test chooses.
class CRequestRecorder {
 public:
  CRequestRecorder(unsigned long type, std::function<int(std::string&)> reply)
      : m_scope(XMLHandler::Handlers(), type, [this, reply](int, std::string& xml, std::string&) {
          requests.push_back(xml);
          return reply(xml);
        }) {}
  std::vector<std::string> requests;

 private:
  CScopedHandler<unsigned long, XMLRequestHandler> m_scope;
};

std::function<int(std::string&)> ReplyWith(const CNMessageBase& msg) {
  return [msg](std::string& xml) { return msg.serializeUTF8(xml) ? 0 : -1; };
}

TEST_F(TaskManagement, CopyRequestsCarryExactlyTheirFieldsAndFillWhatTheRequestHolds) {
  TMMsg::CreateTaskReq aux;
  // A request that already holds list elements: they are used, one more is appended.
  CNMessageBase& info = aux.MutableMsg(TMMsg::CreateTaskReq::kTaskInfo);
  info.AddMsg(TMMsg::TaskInfo::kAssociations).SetString(Entity::kClientName, "kept");
  ASSERT_TRUE(CreateAuxTask(aux, 7, 71, "Launched by DR Orchestration Job [1]"));
  ASSERT_EQ(2u, info.ListSize(TMMsg::TaskInfo::kAssociations));
  const CNMessageBase& entity = info.GetListMsg(TMMsg::TaskInfo::kAssociations, 0);
  EXPECT_EQ("kept", entity.GetString(Entity::kClientName));
  EXPECT_EQ(18, entity.GetInt32(Entity::kEntityType));
  EXPECT_EQ(7, entity.GetInt32(Entity::kStoragePolicyId));
  EXPECT_EQ(71, entity.GetInt32(Entity::kCopyId));
  EXPECT_FALSE(entity.Has(Entity::kSubclientId));
  ASSERT_EQ(1u, info.ListSize(TMMsg::TaskInfo::kSubTasks));
  EXPECT_EQ(1, info.GetMsg(TMMsg::TaskInfo::kTask).GetInt32(TMMsg::TaskObjectFields::kFlag5));
  const CNMessageBase& subtask = info.GetListMsg(TMMsg::TaskInfo::kSubTasks, 0);
  EXPECT_EQ(4003, subtask.GetMsg(TMMsg::SubTaskInfo::kSubTask).GetInt32(TMMsg::SubTaskObjectFields::kOperationCode));
  EXPECT_EQ(1, subtask.GetMsg(TMMsg::SubTaskInfo::kSubTask).GetInt32(TMMsg::SubTaskObjectFields::kFlag3));
  const CNMessageBase& options = subtask.GetMsg(TMMsg::SubTaskInfo::kJobOptions);
  EXPECT_EQ("Launched by DR Orchestration Job [1]",
            options.GetMsg(TMMsg::JobOption::kCommonOptions).GetString(TMMsg::CommonOptionFields::kDescription));
  const CNMessageBase& auxOptions = options.GetMsg(TMMsg::JobOption::kAdminOptions)
                                        .GetMsg(TMMsg::AdminOptionFields::kCopyOptions)
                                        .GetMsg(TMMsg::CopyOptionFields::kAuxCopyOptions);
  EXPECT_EQ(1, auxOptions.GetInt32(TMMsg::AuxCopyOptionFields::kFlag8));
  EXPECT_EQ(1000, auxOptions.GetInt32(TMMsg::AuxCopyOptionFields::kValue11));
  EXPECT_FALSE(options.Has(TMMsg::JobOption::kBackupOptions));

  TMMsg::CreateTaskReq copy;
  ASSERT_TRUE(CreateBackupCopyTask(copy, 7, 72, "d"));
  const CNMessageBase& copyInfo = copy.GetMsg(TMMsg::CreateTaskReq::kTaskInfo);
  const CNMessageBase& copyEntity = copyInfo.GetListMsg(TMMsg::TaskInfo::kAssociations, 0);
  EXPECT_EQ(17, copyEntity.GetInt32(Entity::kEntityType));
  EXPECT_EQ(7, copyEntity.GetInt32(Entity::kStoragePolicyId));
  EXPECT_EQ(72, copyEntity.GetInt32(Entity::kSubclientId));  // the copy id rides in the subclient field
  EXPECT_FALSE(copyEntity.Has(Entity::kCopyId));
  const CNMessageBase& copyOptions =
      copyInfo.GetListMsg(TMMsg::TaskInfo::kSubTasks, 0).GetMsg(TMMsg::SubTaskInfo::kJobOptions);
  EXPECT_EQ(4028, copyInfo.GetListMsg(TMMsg::TaskInfo::kSubTasks, 0)
                      .GetMsg(TMMsg::SubTaskInfo::kSubTask)
                      .GetInt32(TMMsg::SubTaskObjectFields::kOperationCode));
  const CNMessageBase& switches = copyOptions.GetMsg(TMMsg::JobOption::kBackupOptions)
                                      .GetMsg(TMMsg::BackupOptionFields::kBackupCopyOptions);
  EXPECT_EQ(1, switches.GetInt32(TMMsg::BackupCopyOptionFields::kFlag1));
  EXPECT_EQ(1, switches.GetInt32(TMMsg::BackupCopyOptionFields::kFlag2));
  EXPECT_FALSE(copyOptions.Has(TMMsg::JobOption::kAdminOptions));
}

TEST_F(TaskManagement, StartingTasksTakesOnlyJobIdsThatAreJobIds) {
  TMMsg::CreateTaskResp answer;
  answer.AddString(TMMsg::CreateTaskResp::kJobIds, "1201");
  answer.AddString(TMMsg::CreateTaskResp::kJobIds, "1202");
  CRequestRecorder recorder(TMMsg::CreateTaskReq::kTypeId, ReplyWith(answer));
  long long jobId = 0;
  ASSERT_TRUE(m_am->LaunchAuxCopy(7, 71, "d", jobId));
  EXPECT_EQ(1201, jobId);  // the single form takes the first
  EXPECT_TRUE(Logged("Starting aux copy operation for spId [7] copyId [71]"));
  ASSERT_EQ(1u, recorder.requests.size());

  TMMsg::CreateTaskReq req;
  TMMsg::CreateTaskResp resp;
  std::string xml, error;
  std::list<long long> ids{99};
  ASSERT_TRUE(m_am->StartTask(req, resp, TMMsg::CreateTaskReq::kTypeId, xml, error, ZN_OP_BACKUP, ids));
  EXPECT_EQ((std::list<long long>{99, 1201, 1202}), ids);

  // An id that is not a job id fails the call and appends nothing.
  TMMsg::CreateTaskResp bad;
  bad.AddString(TMMsg::CreateTaskResp::kJobIds, "1301");
  bad.AddString(TMMsg::CreateTaskResp::kJobIds, "job-7");
  CRequestRecorder badRecorder(TMMsg::CreateTaskReq::kTypeId, ReplyWith(bad));
  std::list<long long> none;
  EXPECT_FALSE(m_am->StartTask(req, resp, TMMsg::CreateTaskReq::kTypeId, xml, error, ZN_OP_BACKUP, none));
  EXPECT_TRUE(none.empty());
  // No id at all: both forms fail.
  TMMsg::CreateTaskResp empty;
  empty.TouchField(TMMsg::CreateTaskResp::kJobIds);
  CRequestRecorder emptyRecorder(TMMsg::CreateTaskReq::kTypeId, ReplyWith(empty));
  EXPECT_FALSE(m_am->StartTask(req, resp, TMMsg::CreateTaskReq::kTypeId, xml, error, ZN_OP_BACKUP, none));
  long long single = -5;
  EXPECT_FALSE(m_am->StartTask(req, resp, TMMsg::CreateTaskReq::kTypeId, xml, error, ZN_OP_BACKUP, single));
  EXPECT_EQ(-5, single);
}

TEST_F(TaskManagement, ScheduleDeletionCountsOnlyWhatTheTaskManagerAccepted) {
  struct SCase {
    const char* name;
    bool withCode;
    int code;
    bool deleted;
  } cases[] = {
      {"code 0", true, 0, true},
      {"no code", false, 0, true},
      {"positive code", true, 5, false},
      {"negative code", true, -3, false},
  };
  int taskId = 40;
  for (const SCase& c : cases) {
    ++taskId;
    TMMsg::GenericResp reply;
    if (c.withCode) reply.SetInt32(TMMsg::GenericResp::kErrorCode, c.code);
    CRequestRecorder recorder(TMMsg::TaskOperationReq::kTypeId, ReplyWith(reply));
    EXPECT_EQ(c.deleted, m_am->DeleteSchedule(taskId)) << c.name;
    EXPECT_EQ(c.deleted, m_am->IsScheduleDeletedByDRJob(taskId)) << c.name;
    ASSERT_EQ(1u, recorder.requests.size());
    TMMsg::TaskOperationReq sent;
    ASSERT_TRUE(sent.Unserialize(recorder.requests[0]));
    EXPECT_EQ(3, sent.GetInt32(TMMsg::TaskOperationReq::kOperation));
    ASSERT_EQ(1u, sent.ListSize(TMMsg::TaskOperationReq::kTaskIds));
    EXPECT_EQ(static_cast<uint32_t>(taskId), sent.GetListUInt32(TMMsg::TaskOperationReq::kTaskIds, 0));
    EXPECT_EQ(taskId, sent.GetListMsg(TMMsg::TaskOperationReq::kTasks, 0).GetInt32(ZnEntities::TaskEntity::kTaskId));
  }
  // No task: nothing is sent.
  CRequestRecorder silent(TMMsg::TaskOperationReq::kTypeId, ReplyWith(TMMsg::GenericResp()));
  EXPECT_FALSE(m_am->DeleteSchedule(0));
  EXPECT_TRUE(silent.requests.empty());
}

TEST_F(TaskManagement, EditedTasksReachTheTaskManagerOnceWhenTheJobEnds) {
  std::vector<std::string> modified;
  CScopedHandler<unsigned long, TaskRequestHandler> modify(
      EvTask::Handlers(), TMMsg::ModifyTaskReq::kTypeId,
      [&](const std::string& xml, int, std::list<long long>&, std::string&) {
        TMMsg::ModifyTaskReq req;
        if (!req.Unserialize(xml)) return -1;
        modified.push_back(xml);
        return 0;
      });
  Store(51, Task({{"vm-a", "g-a"}, {"vm-b", "g-b"}}));
  Store(52, Task());
  Store(53, Task());
  TMMsg::TaskInfo task;
  bool found = false;
  ASSERT_TRUE(m_am->QueryTaskInfo(51, task, found));
  // A VM removed through UpdateTaskInfo: the edit is kept and marked.
  task.MutableListMsg(TMMsg::TaskInfo::kSubTasks, 0)
      .MutableMsg(TMMsg::SubTaskInfo::kJobOptions)
      .MutableMsg(TMMsg::JobOption::kRestoreOptions)
      .MutableMsg(TMMsg::RestoreOptionFields::kVirtualServerRestoreOptions)
      .MutableMsg(TMMsg::VirtualServerRestoreOptionFields::kVMRestoreOptions)
      .ListRemove(TMMsg::DiskLevelVMRestoreOption::kAdvancedRestoreOptions, 0);
  m_am->UpdateTaskInfo(51, task);
  // A refresh must not throw the edit away.
  m_am->RefreshTask(51);
  // Marked and deleted by the job: not sent. Marked but never cached: not sent.
  ASSERT_TRUE(m_am->QueryTaskInfo(52, task, found));
  m_am->MarkTaskForEdit(52);
  {
    TMMsg::GenericResp accepted;
    CRequestRecorder deletion(TMMsg::TaskOperationReq::kTypeId, ReplyWith(accepted));
    ASSERT_TRUE(m_am->DeleteSchedule(52));
  }
  m_am->MarkTaskForEdit(54);
  EXPECT_TRUE(modified.empty());
  m_am.reset();  // the job ends

  ASSERT_EQ(1u, modified.size());
  TMMsg::ModifyTaskReq sent;
  ASSERT_TRUE(sent.Unserialize(modified[0]));
  const CNMessageBase& vms = sent.GetMsg(TMMsg::ModifyTaskReq::kTaskInfo)
                                 .GetListMsg(TMMsg::TaskInfo::kSubTasks, 0)
                                 .GetMsg(TMMsg::SubTaskInfo::kJobOptions)
                                 .GetMsg(TMMsg::JobOption::kRestoreOptions)
                                 .GetMsg(TMMsg::RestoreOptionFields::kVirtualServerRestoreOptions)
                                 .GetMsg(TMMsg::VirtualServerRestoreOptionFields::kVMRestoreOptions);
  ASSERT_EQ(1u, vms.ListSize(TMMsg::DiskLevelVMRestoreOption::kAdvancedRestoreOptions));
  EXPECT_EQ("vm-b", vms.GetListMsg(TMMsg::DiskLevelVMRestoreOption::kAdvancedRestoreOptions, 0)
                        .GetString(TMMsg::VMWAdvancedRestoreOptions::kVMName));
}

TEST_F(TaskManagement, AVMRemovedFromATaskStoredAsTextIsGoneFromTheStoredTaskAfterTheJob) {
  // Stored as text, as the lab's replication task is: no id inside.
  Store(56, Task({{"vm-a", "g-a"}, {"vm-b", "g-b"}}));
  TMMsg::TaskInfo task;
  bool found = false;
  ASSERT_TRUE(m_am->QueryTaskInfo(56, task, found));
  task.MutableListMsg(TMMsg::TaskInfo::kSubTasks, 0)
      .MutableMsg(TMMsg::SubTaskInfo::kJobOptions)
      .MutableMsg(TMMsg::JobOption::kRestoreOptions)
      .MutableMsg(TMMsg::RestoreOptionFields::kVirtualServerRestoreOptions)
      .MutableMsg(TMMsg::VirtualServerRestoreOptionFields::kVMRestoreOptions)
      .ListRemove(TMMsg::DiskLevelVMRestoreOption::kAdvancedRestoreOptions, 0);
  m_am->UpdateTaskInfo(56, task);
  m_am.reset();  // the job ends: the task manager stand-in takes the edit

  EXPECT_TRUE(Logged("Commiting modified task [56]"));
  EXPECT_FALSE(Logged("Failed to modify task with taskId [56]"));
  STaskRecord stored;
  ASSERT_EQ(EStoreResult::kOk, CTaskStore::ReadTask(56, stored));
  EXPECT_EQ(ETaskKind::kSchedule, stored.kind);
  TMMsg::TaskInfo back;
  ASSERT_TRUE(back.Unserialize(stored.xml));
  EXPECT_EQ(56, CTaskStore::TaskIdOf(back));
  const CNMessageBase& vms = back.GetListMsg(TMMsg::TaskInfo::kSubTasks, 0)
                                 .GetMsg(TMMsg::SubTaskInfo::kJobOptions)
                                 .GetMsg(TMMsg::JobOption::kRestoreOptions)
                                 .GetMsg(TMMsg::RestoreOptionFields::kVirtualServerRestoreOptions)
                                 .GetMsg(TMMsg::VirtualServerRestoreOptionFields::kVMRestoreOptions);
  ASSERT_EQ(1u, vms.ListSize(TMMsg::DiskLevelVMRestoreOption::kAdvancedRestoreOptions));
  EXPECT_EQ("vm-b", vms.GetListMsg(TMMsg::DiskLevelVMRestoreOption::kAdvancedRestoreOptions, 0)
                        .GetString(TMMsg::VMWAdvancedRestoreOptions::kVMName));
}

TEST_F(TaskManagement, TheTaskLockIsReentrantAcrossTheCacheCalls) {
  Store(61, Task());
  // IsReplicaSyncDirectEnabled holds the lock while QueryTaskInfo, then
  // _QueryTaskInfo take it again; another thread keeps asking meanwhile.
  drtest::CTestThread other(
      [this] {
        for (int i = 0; i < 50; ++i) m_am->IsScheduleDeletedByDRJob(61);
      },
      "schedule asker");
  for (int i = 0; i < 50; ++i) {
    EXPECT_FALSE(m_am->IsReplicaSyncDirectEnabled(61));
    m_am->RefreshTask(61);
  }
  ASSERT_TRUE(other.Join());
}

// The readers a job asks once per machine read the cached definition in
// place: the same object every time, edits included, with the task lock
// still re-entrant from inside a reader.
TEST_F(TaskManagement, PerMachineReadersReadTheCachedTaskInPlace) {
  TMMsg::TaskInfo stored = Task({{"vm-a", "g-a"}});
  Store(91, stored);
  const TMMsg::TaskInfo* first = nullptr;
  const TMMsg::TaskInfo* second = nullptr;
  ASSERT_TRUE(m_am->ReadTaskInfo(91, [&](const TMMsg::TaskInfo& task) { first = &task; }));
  ASSERT_TRUE(m_am->ReadTaskInfo(91, [&](const TMMsg::TaskInfo& task) {
    second = &task;
    // Another reader and a copy, on the same thread, under the same lock.
    EXPECT_FALSE(m_am->IsJobBucketingEnabledInSync(91));
    TMMsg::TaskInfo copy;
    bool found = false;
    EXPECT_TRUE(m_am->QueryTaskInfo(91, copy, found));
  }));
  EXPECT_EQ(first, second) << "a copy, not the cached definition";
  EXPECT_FALSE(m_am->IsFirstTimeSyncDuringFailoverSet());

  // An edit of the cached task is what the readers read next.
  TMMsg::TaskInfo edited;
  bool found = false;
  ASSERT_TRUE(m_am->QueryTaskInfo(91, edited, found));
  CNMessageBase& vmOptions = edited.MutableListMsg(TMMsg::TaskInfo::kSubTasks, 0)
                                 .MutableMsg(TMMsg::SubTaskInfo::kJobOptions)
                                 .MutableMsg(TMMsg::JobOption::kRestoreOptions)
                                 .MutableMsg(TMMsg::RestoreOptionFields::kVirtualServerRestoreOptions)
                                 .MutableMsg(TMMsg::VirtualServerRestoreOptionFields::kVMRestoreOptions);
  vmOptions.SetInt32(TMMsg::DiskLevelVMRestoreOption::kFirstSyncDuringFailover, 1);
  vmOptions.SetInt32(TMMsg::DiskLevelVMRestoreOption::kJobBucketingInSync, 5);
  m_am->UpdateTaskInfo(91, edited);
  m_am->QueryFirstTimeSyncDuringFailover(91);
  EXPECT_TRUE(m_am->IsFirstTimeSyncDuringFailoverSet());
  EXPECT_TRUE(m_am->IsJobBucketingEnabledInSync(91));

  // A task that cannot be loaded runs no reader and changes no flag.
  bool ran = false;
  EXPECT_FALSE(m_am->ReadTaskInfo(404, [&](const TMMsg::TaskInfo&) { ran = true; }));
  EXPECT_FALSE(ran);
  m_am->QueryFirstTimeSyncDuringFailover(404);
  EXPECT_TRUE(m_am->IsFirstTimeSyncDuringFailoverSet());
}

class TaskManagementConcurrency : public TaskManagement {};

// Workers read a task in place while another replaces its cached
// definition (an edit, a refresh): each read sees one whole definition.
TEST_F(TaskManagementConcurrency, ReadersInPlaceSeeWholeDefinitionsWhileTheTaskIsReplaced) {
  const TMMsg::TaskInfo one = Task({{"vm-a", "g-a", "host-1", "ds-1", "dc-1", "cl-1", "new-1", "p-1"}});
  const TMMsg::TaskInfo two = Task({{"vm-a", "g-a", "host-2", "ds-2", "dc-2", "cl-2", "new-2", "p-2"}});
  Store(92, one);
  std::atomic<bool> torn(false);
  std::vector<std::unique_ptr<drtest::CTestThread>> readers;
  for (int r = 0; r < 4; ++r) {
    readers.emplace_back(new drtest::CTestThread(
        [this, &torn] {
          for (int i = 0; i < 200; ++i) {
            std::string host, datastore, datacenter, cluster, newName, project;
            if (!m_am->GetDatacenterInfoFromTask(92, "vm-a", host, datastore, datacenter, cluster, newName) ||
                !m_am->QueryDRProjectId(92, "vm-a", "g-a", project)) {
              torn = true;
              continue;
            }
            // One definition's values, never a mix.
            if (host.substr(5) != datastore.substr(3) || datastore.substr(3) != newName.substr(4)) torn = true;
          }
        },
        "task reader"));
  }
  for (int i = 0; i < 200; ++i) {
    TMMsg::TaskInfo next = i % 2 == 0 ? two : one;
    m_am->UpdateTaskInfo(92, next);
  }
  for (auto& reader : readers) ASSERT_TRUE(reader->Join());
  EXPECT_FALSE(torn);
}

TEST_F(TaskManagement, CopyTasksAreKeptPerStoragePolicyCopy) {
  m_am->UpdateCopyTaskMap(7, 71, 11);
  m_am->UpdateCopyTaskMap(7, 71, 12);
  m_am->UpdateCopyTaskMap(7, 72, 13);
  std::set<long> ids{99};
  m_am->GetTaskIds(7, 71, ids);
  EXPECT_EQ((std::set<long>{11, 12}), ids);
  m_am->GetTaskIds(8, 71, ids);
  EXPECT_TRUE(ids.empty());
}

TEST_F(TaskManagement, ProjectIdsByNameIgnoringCaseThenByGuid) {
  Store(71, Task({{"Web-01", "g-1", "", "", "", "", "", "p-web"},
                  {"db-01", "g-2", "", "", "", "", "", "p-db"},
                  {"WEB-01", "g-3", "", "", "", "", "", "p-second"}}));
  std::string project;
  ASSERT_TRUE(m_am->QueryDRProjectId(71, "web-01", "", project));
  EXPECT_EQ("p-web", project);
  ASSERT_TRUE(m_am->QueryDRProjectId(71, "renamed", "g-2", project));
  EXPECT_EQ("p-db", project);
  EXPECT_FALSE(m_am->QueryDRProjectId(71, "nobody", "g-9", project));
  EXPECT_FALSE(m_am->QueryDRProjectId(404, "web-01", "g-1", project));
}

TEST_F(TaskManagement, PlacementFromTheTasksVMOrItsAllocationPolicy) {
  Store(81, Task({{"vm-x", "g-x", "host-x", "ds-x", "dc-x", "cl-x", "new-x"}}));
  std::string host = "-", datastore = "-", datacenter = "-", cluster = "-", newName = "-";
  ASSERT_TRUE(m_am->GetDatacenterInfoFromTask(81, "vm-x", host, datastore, datacenter, cluster, newName));
  // Five distinct values, each in its own output.
  EXPECT_EQ("host-x", host);
  EXPECT_EQ("ds-x", datastore);
  EXPECT_EQ("dc-x", datacenter);
  EXPECT_EQ("cl-x", cluster);
  EXPECT_EQ("new-x", newName);
  EXPECT_FALSE(m_am->GetDatacenterInfoFromTask(81, "VM-X", host, datastore, datacenter, cluster, newName));

  // No VM in the task: its allocation policy (only datastores) places it.
  Ida::VMAllocationPolicy policy;
  policy.MutableMsg(Ida::VMAllocationPolicy::kInstance).SetString(ZnEntities::PolicyInstanceFields::kRegion, "r");
  policy.AddMsg(Ida::VMAllocationPolicy::kDatastores).SetString(ZnEntities::DataStoreEntity::kDatastoreName, "ds-p");
  Sql("INSERT INTO App_VmAllocationPolicy (id, vxml) VALUES (5, '" + Xml(policy) + "')", "App_VmAllocationPolicy");
  TMMsg::TaskInfo byPolicy = Task();
  CNMessageBase& restore = byPolicy.MutableListMsg(TMMsg::TaskInfo::kSubTasks, 0)
                               .MutableMsg(TMMsg::SubTaskInfo::kJobOptions)
                               .MutableMsg(TMMsg::JobOption::kRestoreOptions);
  restore.SetInt32(TMMsg::RestoreOptionFields::kUseAllocationPolicy, 1);
  restore.MutableMsg(TMMsg::RestoreOptionFields::kVirtualServerRestoreOptions)
      .MutableMsg(TMMsg::VirtualServerRestoreOptionFields::kAllocationPolicy)
      .SetInt32(ZnEntities::PolicyInstanceFields::kVMAllocationPolicyId, 5);
  Store(82, byPolicy);
  host = "-", datastore = "-", datacenter = "dc-kept", cluster = "-", newName = "new-kept";
  ASSERT_TRUE(m_am->GetDatacenterInfoFromTask(82, "any", host, datastore, datacenter, cluster, newName));
  EXPECT_EQ("", host);
  EXPECT_EQ("ds-p", datastore);
  EXPECT_EQ("", cluster);
  EXPECT_EQ("dc-kept", datacenter);
  EXPECT_EQ("new-kept", newName);

  // No VM restore options at all is no VM of its own either: the policy
  // still places it. Without any options there is nothing to place by.
  TMMsg::TaskInfo policyOnly;
  CNMessageBase& policyRestore = policyOnly.AddMsg(TMMsg::TaskInfo::kSubTasks)
                                     .MutableMsg(TMMsg::SubTaskInfo::kJobOptions)
                                     .MutableMsg(TMMsg::JobOption::kRestoreOptions);
  policyRestore.SetInt32(TMMsg::RestoreOptionFields::kUseAllocationPolicy, 1);
  policyRestore.MutableMsg(TMMsg::RestoreOptionFields::kVirtualServerRestoreOptions)
      .MutableMsg(TMMsg::VirtualServerRestoreOptionFields::kAllocationPolicy)
      .SetInt32(ZnEntities::PolicyInstanceFields::kVMAllocationPolicyId, 5);
  Store(84, policyOnly);
  host = "-", datastore = "-", cluster = "-";
  ASSERT_TRUE(m_am->GetDatacenterInfoFromTask(84, "any", host, datastore, datacenter, cluster, newName));
  EXPECT_EQ("", host);
  EXPECT_EQ("ds-p", datastore);
  TMMsg::TaskInfo noOptions;
  noOptions.AddMsg(TMMsg::TaskInfo::kSubTasks);
  Store(85, noOptions);
  EXPECT_FALSE(m_am->GetDatacenterInfoFromTask(85, "any", host, datastore, datacenter, cluster, newName));

  // A task without a subtask answers "not found", never a crash.
  Store(83, TMMsg::TaskInfo());
  EXPECT_FALSE(m_am->GetDatacenterInfoFromTask(83, "vm-x", host, datastore, datacenter, cluster, newName));
  EXPECT_FALSE(m_am->QueryDRProjectId(83, "vm-x", "g-x", host));
  EXPECT_TRUE(Logged("Error fetching ESXhostname, Datastorename, Datacentername and clustername from task [83]"));
}

}  // namespace
