// The simulated task manager in tests: a lab of VM replications, tasks and a
// storage policy, requests built the way the DR job builds them, sent
// through the request entries the DR job uses, and readers of what they
// leave. Child jobs run long, so a test ends them when it means to.
#pragma once

#include <string>
#include <vector>

#include "JobSimTestSupport.h"
#include "jobs/TaskStore.h"
#include "msg/MsgClasses.h"
#include "sim/Simulators.h"
#include "tasksim/TaskManagerSim.h"
#include "xmlreq/XMLHandler.h"

class CTaskSimTestBase : public CJobSimTestBase {
 protected:
  static constexpr long long kDRJobId = 4242;
  static constexpr const char* kLaunch = "Launched by DR Orchestration Job [4242]";

  void SetUp() override {
    CJobSimTestBase::SetUp();
    std::string error;
    ASSERT_TRUE(CSimulators::CreateTables(error)) << error;
    for (EChildJobType type : {EChildJobType::kBackup, EChildJobType::kAuxCopy, EChildJobType::kBackupCopy,
                               EChildJobType::kSync}) {
      CJobSimulator::SetDuration(type, 1000000000LL);
    }
  }

  // A VM replication of a subclient and a replication task, with its
  // source GUID and, when given, its source client.
  static void AddSourcedVM(int replicationId, int subclientId = kSubclient, int taskId = kTask,
                           int sourceClientId = 0) {
    using Repl = App::VSAReplicationInfo;
    Repl info;
    info.SetInt32(Repl::kReplicationId, replicationId);
    info.SetString(Repl::kSourceVMGuid, Guid(replicationId));
    info.SetInt32(Repl::kSyncStatus, App::VSA_REPL_STATUS_IN_SYNC);
    info.MutableMsg(Repl::kSubclient).SetInt32(ZnEntities::SubClientEntity::kSubclientId, subclientId);
    if (sourceClientId > 0) {
      CNMessageBase& p = info.AddMsg(Repl::kProperties);
      p.SetInt32(App::VSAReplicationProperties::kPropertyId, CReplicationStore::kPropSourceVMClientId);
      p.SetString(App::VSAReplicationProperties::kValue, std::to_string(sourceClientId));
    }
    ASSERT_TRUE(CReplicationStore::Put(info, taskId));
  }
  static std::string Guid(int replicationId) { return "guid-" + std::to_string(replicationId); }

  // A replication (sync) task whose VM restore options bucket its sync jobs
  // (0: not at all).
  static void PutReplicationTask(int taskId, int perJob) {
    TMMsg::TaskInfo task;
    CNMessageBase& vm = task.AddMsg(TMMsg::TaskInfo::kSubTasks)
                            .MutableMsg(TMMsg::SubTaskInfo::kJobOptions)
                            .MutableMsg(TMMsg::JobOption::kRestoreOptions)
                            .MutableMsg(TMMsg::RestoreOptionFields::kVirtualServerRestoreOptions)
                            .MutableMsg(TMMsg::VirtualServerRestoreOptionFields::kVMRestoreOptions);
    if (perJob > 0) vm.SetInt32(TMMsg::DiskLevelVMRestoreOption::kJobBucketingInSync, perJob);
    ASSERT_TRUE(CTaskStore::PutTask(taskId, ETaskKind::kSchedule, task));
  }

  // A create-task request as the DR job's builders fill it: task object,
  // one subtask with the operation code and a description, one entity.
  static TMMsg::CreateTaskReq TaskRequest(int code, const std::string& description = kLaunch) {
    TMMsg::CreateTaskReq req;
    CNMessageBase& info = req.MutableMsg(TMMsg::CreateTaskReq::kTaskInfo);
    info.AddMsg(TMMsg::TaskInfo::kSubTasks);
    info.MutableMsg(TMMsg::TaskInfo::kTask).SetInt32(TMMsg::TaskObjectFields::kFlag5, 1);
    info.AddMsg(TMMsg::TaskInfo::kAssociations);
    CNMessageBase& subtask = info.MutableListMsg(TMMsg::TaskInfo::kSubTasks, 0);
    subtask.MutableMsg(TMMsg::SubTaskInfo::kSubTask).SetInt32(TMMsg::SubTaskObjectFields::kOperationCode, code);
    subtask.MutableMsg(TMMsg::SubTaskInfo::kSubTask).SetInt32(TMMsg::SubTaskObjectFields::kFlag3, 1);
    subtask.MutableMsg(TMMsg::SubTaskInfo::kJobOptions)
        .MutableMsg(TMMsg::JobOption::kCommonOptions)
        .SetString(TMMsg::CommonOptionFields::kDescription, description);
    return req;
  }
  static CNMessageBase& Entity(TMMsg::CreateTaskReq& req) {
    return req.MutableMsg(TMMsg::CreateTaskReq::kTaskInfo).MutableListMsg(TMMsg::TaskInfo::kAssociations, 0);
  }
  static TMMsg::CreateTaskReq AuxCopyRequest(int policyId, int copyId) {
    TMMsg::CreateTaskReq req = TaskRequest(CTaskManagerSim::kOpAuxCopy);
    Entity(req).SetInt32(ZnEntities::GenericEntity::kEntityType, 18);
    Entity(req).SetInt32(ZnEntities::GenericEntity::kStoragePolicyId, policyId);
    Entity(req).SetInt32(ZnEntities::GenericEntity::kCopyId, copyId);
    return req;
  }
  static TMMsg::CreateTaskReq BackupCopyRequest(int policyId, int copyId, const std::string& description = kLaunch) {
    TMMsg::CreateTaskReq req = TaskRequest(CTaskManagerSim::kOpBackupCopy, description);
    Entity(req).SetInt32(ZnEntities::GenericEntity::kEntityType, 17);
    Entity(req).SetInt32(ZnEntities::GenericEntity::kStoragePolicyId, policyId);
    Entity(req).SetInt32(ZnEntities::GenericEntity::kSubclientId, copyId);
    return req;
  }
  // A backup of the subclient; selected VMs in the VSA backup option, or
  // none (no option at all).
  static TMMsg::CreateTaskReq BackupRequest(int subclientId, const std::vector<int>& selected) {
    TMMsg::CreateTaskReq req = TaskRequest(CTaskManagerSim::kOpBackup);
    Entity(req).SetInt32(ZnEntities::GenericEntity::kSubclientId, subclientId);
    Entity(req).SetInt64(ZnEntities::GenericEntity::kClientId, 1);
    if (selected.empty()) return req;
    CNMessageBase& vsa = req.MutableMsg(TMMsg::CreateTaskReq::kTaskInfo)
                             .MutableListMsg(TMMsg::TaskInfo::kSubTasks, 0)
                             .MutableMsg(TMMsg::SubTaskInfo::kJobOptions)
                             .MutableMsg(TMMsg::JobOption::kBackupOptions)
                             .MutableMsg(TMMsg::BackupOptionFields::kVSABackupOption);
    for (int id : selected) {
      CNMessageBase& vm = vsa.AddMsg(TMMsg::VSABkpOption::kSelectedVMs);
      vm.SetInt64(TMMsg::VSASelectiveVMInfo::kReplicationId, id);
      vm.SetString(TMMsg::VSASelectiveVMInfo::kVMGuid, Guid(id));
    }
    return req;
  }

  // A request through the XML entry: its result, the reply and the error.
  struct SSent {
    int rc = 0;
    std::string reply;
    std::string error;
  };
  static SSent Send(const CNMessageBase& request, unsigned long type) {
    SSent sent;
    EXPECT_TRUE(request.serializeUTF8(sent.reply));
    sent.rc = XMLHandler::handleXMLReq(1, type, sent.reply, sent.error, std::string(), 0);
    return sent;
  }
  static SSent Create(const TMMsg::CreateTaskReq& request) { return Send(request, TMMsg::CreateTaskReq::kTypeId); }
  // The job ids a create-task reply names, as it names them.
  static std::vector<std::string> ReplyIds(const std::string& reply) {
    TMMsg::CreateTaskResp resp;
    EXPECT_TRUE(resp.Unserialize(reply)) << reply;
    std::vector<std::string> ids;
    for (size_t i = 0; i < resp.ListSize(TMMsg::CreateTaskResp::kJobIds); ++i) {
      ids.push_back(resp.GetListString(TMMsg::CreateTaskResp::kJobIds, i));
    }
    return ids;
  }
  // The one job a create-task request started.
  static SChildJobRecord OnlyJob(const SSent& sent) {
    EXPECT_EQ(0, sent.rc) << sent.error;
    const std::vector<std::string> ids = ReplyIds(sent.reply);
    EXPECT_EQ(1u, ids.size());
    return drtest::ChildJob(ids.empty() ? 0 : atoll(ids[0].c_str()));
  }
  static size_t JobCount() {
    std::vector<SChildJobRecord> jobs;
    EXPECT_EQ(EStoreResult::kOk, CJobSimulator::Jobs(jobs));
    return jobs.size();
  }
  static std::vector<STaskRecord> StoredTasks() {
    std::vector<STaskRecord> tasks;
    EXPECT_EQ(EStoreResult::kOk, CTaskStore::Tasks(tasks));
    return tasks;
  }
};
