#include "tasksim/TaskManagerSim.h"

#include <stdlib.h>

#include <algorithm>

#include "db/DBWriteScope.h"
#include "jobs/EvTask.h"
#include "jobs/StandIns.h"
#include "jobs/TaskStore.h"
#include "log/EvEvent.h"
#include "xmlreq/XMLHandler.h"

namespace {

const char kCreateFault[] = "TaskManager.CreateTask";
const char kDeleteFault[] = "TaskManager.DeleteSchedule";
const char kSyncFault[] = "TaskManager.StartSync";

std::string IdList(const std::vector<long long>& ids) {
  std::string text;
  for (long long id : ids) text += (text.empty() ? "" : ",") + std::to_string(id);
  return text;
}

int XmlCreateTask(int userId, std::string& xml, std::string& error) {
  const ECreateTaskFault fault = CTaskManagerSim::CreateTaskFault();
  if (fault == ECreateTaskFault::kStartFails) {
    error = "The task manager could not start the task (injected)";
    return -1;
  }
  std::vector<long long> jobIds;
  const int rc = CTaskManagerSim::CreateTask(xml, userId, jobIds, error);
  if (rc != 0) return rc;
  TMMsg::CreateTaskResp resp;
  if (fault != ECreateTaskFault::kNoJobId) {
    for (long long id : jobIds) {
      resp.AddString(TMMsg::CreateTaskResp::kJobIds,
                     (fault == ECreateTaskFault::kNonNumericJobId ? "job" : "") + std::to_string(id));
    }
  }
  if (!resp.serializeUTF8(xml)) {
    error = "Cannot write the create-task reply";
    return -1;
  }
  return 0;
}

int EvTaskCreateTask(const std::string& xml, int userId, std::list<long long>& jobIds, std::string& error) {
  std::vector<long long> ids;
  const int rc = CTaskManagerSim::CreateTask(xml, userId, ids, error);
  jobIds.insert(jobIds.end(), ids.begin(), ids.end());
  return rc;
}

int XmlTaskOperation(int, std::string& xml, std::string& error) {
  TMMsg::TaskOperationReq request;
  if (!request.Unserialize(xml, &error)) {
    error = "Task operation request not readable: " + error;
    return -1;
  }
  const int op = request.GetInt32(TMMsg::TaskOperationReq::kOperation);
  TaskOperation operation;
  if (!CTaskManagerSim::Operations().Find(op, operation)) {
    error = "Unknown task operation [" + std::to_string(op) + "]";
    return -1;
  }
  xml.clear();
  return operation(request, xml, error);
}

int EvTaskModifyTask(const std::string& xml, int, std::list<long long>&, std::string& error) {
  TMMsg::ModifyTaskReq request;
  if (!request.Unserialize(xml, &error)) {
    error = "Modify-task request not readable: " + error;
    return -1;
  }
  const TMMsg::TaskInfo& info = request.GetMsgAs<TMMsg::TaskInfo>(TMMsg::ModifyTaskReq::kTaskInfo);
  const int taskId = CTaskStore::TaskIdOf(info);
  if (taskId <= 0) {
    error = "The modify-task request names no task";
    return -1;
  }
  const EStoreResult stored = CTaskStore::ModifyTask(taskId, info);
  if (stored != EStoreResult::kOk) {
    error = "Task [" + std::to_string(taskId) + (stored == EStoreResult::kMissing ? "] does not exist" : "] not stored");
    return -1;
  }
  EvDebug().DebugLvl(5, "ModifyTask", "Task [%d] replaced", taskId);
  return 0;
}

}  // namespace

CreateTaskRouteRegistry& CTaskManagerSim::Routes() {
  static auto* registry = new CreateTaskRouteRegistry();
  return *registry;
}

TaskOperationRegistry& CTaskManagerSim::Operations() {
  static auto* registry = new TaskOperationRegistry();
  return *registry;
}

SyncFilterRegistry& CTaskManagerSim::Filters() {
  static auto* registry = new SyncFilterRegistry();
  return *registry;
}

int CTaskManagerSim::CreateTask(const std::string& xml, int userId, std::vector<long long>& jobIds,
                                std::string& error) {
  TMMsg::CreateTaskReq request;
  if (!request.Unserialize(xml, &error)) {
    error = "Create-task request not readable: " + error;
    return -1;
  }
  SCreateTaskCall call;
  call.xml = xml;
  call.userId = userId;
  call.task = request.GetMsgAs<TMMsg::TaskInfo>(TMMsg::CreateTaskReq::kTaskInfo);
  if (call.task.ListSize(TMMsg::TaskInfo::kSubTasks) == 0) {
    error = "Task request without sub-task";
    return -1;
  }
  const CNMessageBase& subtask = call.task.GetListMsg(TMMsg::TaskInfo::kSubTasks, 0);
  const int code = subtask.GetMsg(TMMsg::SubTaskInfo::kSubTask).GetInt32(TMMsg::SubTaskObjectFields::kOperationCode);
  CreateTaskRoute route;
  if (!Routes().Find(code, route)) {
    error = "Unknown operation code [" + std::to_string(code) + "]";
    return -1;
  }
  call.parentJobId = LaunchingJob(subtask.GetMsg(TMMsg::SubTaskInfo::kJobOptions)
                                      .GetMsg(TMMsg::JobOption::kCommonOptions)
                                      .GetString(TMMsg::CommonOptionFields::kDescription));
  CDBConnection* c = CDBConnection::ForThread();
  if (c == nullptr) {
    error = "No management database";
    return -1;
  }
  // The task and its jobs are stored together, or none of them.
  CDBWriteScope scope(c);
  if (!scope.Ok()) {
    error = "Cannot start a write: " + c->LastErrorText();
    return -1;
  }
  std::vector<long long> started;
  const int rc = route(call, started, error);
  if (rc != 0) return rc;
  int taskId = 0;
  if (CTaskStore::CreateTask(ETaskKind::kOneShot, call.task, taskId) != EStoreResult::kOk || !scope.Commit()) {
    error = "Cannot store the task of operation [" + std::to_string(code) + "]";
    return -1;
  }
  // Logged against the DR job that asked, or the process's running job.
  const EvDebug event = call.parentJobId > 0 ? EvDebug(call.parentJobId) : EvDebug();
  event.DebugLvl(5, "CreateTask", "Task [%d] of operation [%d] started jobs [%s]", taskId, code, IdList(started).c_str());
  jobIds.insert(jobIds.end(), started.begin(), started.end());
  return 0;
}

bool CTaskManagerSim::SetCreateTaskFault(ECreateTaskFault fault) {
  return CStandIns::SetFaultCode(kCreateFault, static_cast<int>(fault));
}

ECreateTaskFault CTaskManagerSim::CreateTaskFault() {
  const int code = CStandIns::FaultCode(kCreateFault);
  return code >= 1 && code <= 3 ? static_cast<ECreateTaskFault>(code) : ECreateTaskFault::kNone;
}

bool CTaskManagerSim::SetScheduleDeleteFault(EScheduleDeleteFault fault) {
  return CStandIns::SetFaultCode(kDeleteFault, static_cast<int>(fault));
}

EScheduleDeleteFault CTaskManagerSim::ScheduleDeleteFault() {
  const int code = CStandIns::FaultCode(kDeleteFault);
  return code >= 1 && code <= 3 ? static_cast<EScheduleDeleteFault>(code) : EScheduleDeleteFault::kNone;
}

bool CTaskManagerSim::SetSyncStartFault(ESyncStartFault fault) {
  return CStandIns::SetFaultCode(kSyncFault, static_cast<int>(fault));
}

ESyncStartFault CTaskManagerSim::SyncStartFault() {
  const int code = CStandIns::FaultCode(kSyncFault);
  return code >= 1 && code <= 4 ? static_cast<ESyncStartFault>(code) : ESyncStartFault::kNone;
}

std::vector<std::vector<int>> CTaskManagerSim::SyncBuckets(std::vector<int> ids, int perJob) {
  std::sort(ids.begin(), ids.end());
  std::vector<std::vector<int>> buckets;
  const size_t size = perJob > 0 ? static_cast<size_t>(perJob) : ids.size();
  for (size_t at = 0; at < ids.size(); at += size) {
    buckets.emplace_back(ids.begin() + static_cast<long>(at), ids.begin() + static_cast<long>(std::min(at + size, ids.size())));
  }
  return buckets;
}

int CTaskManagerSim::JobBucketing(const TMMsg::TaskInfo& task) {
  if (task.ListSize(TMMsg::TaskInfo::kSubTasks) == 0) return 0;
  return task.GetListMsg(TMMsg::TaskInfo::kSubTasks, 0)
      .GetMsg(TMMsg::SubTaskInfo::kJobOptions)
      .GetMsg(TMMsg::JobOption::kRestoreOptions)
      .GetMsg(TMMsg::RestoreOptionFields::kVirtualServerRestoreOptions)
      .GetMsg(TMMsg::VirtualServerRestoreOptionFields::kVMRestoreOptions)
      .GetInt32(TMMsg::DiskLevelVMRestoreOption::kJobBucketingInSync);
}

long long CTaskManagerSim::LaunchingJob(const std::string& description) {
  static const std::string kMark = "DR Orchestration Job [";
  const size_t at = description.find(kMark);
  if (at == std::string::npos) return 0;
  const size_t from = at + kMark.size();
  const size_t end = description.find(']', from);
  if (end == std::string::npos || end == from || end - from > 19) return 0;
  for (size_t i = from; i < end; ++i) {
    if (description[i] < '0' || description[i] > '9') return 0;
  }
  return atoll(description.substr(from, end - from).c_str());
}

void CTaskManagerSim::Register() {
  XMLHandler::RegisterHandler(TMMsg::CreateTaskReq::kTypeId, XmlCreateTask);
  EvTask::RegisterHandler(TMMsg::CreateTaskReq::kTypeId, EvTaskCreateTask);
  XMLHandler::RegisterHandler(TMMsg::TaskOperationReq::kTypeId, XmlTaskOperation);
  EvTask::RegisterHandler(TMMsg::ModifyTaskReq::kTypeId, EvTaskModifyTask);
  RegisterRoutes();
  RegisterOperations();
}
