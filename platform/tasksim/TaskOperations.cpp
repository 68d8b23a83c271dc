// The task operations of the simulated task manager: deleting schedules and
// starting a task's sync, with the option filters a sync start takes.
#include <stdlib.h>

#include <algorithm>

#include "core/JobContext.h"
#include "db/DBWriteScope.h"
#include "jobs/TaskStore.h"
#include "jobsim/JobSimulator.h"
#include "log/EvEvent.h"
#include "msg/MsgEnums.h"
#include "tasksim/TaskManagerSim.h"

namespace {

using Request = TMMsg::TaskOperationReq;

bool ReplicationIdFilter(const std::string& value, const std::vector<SSourcedReplication>& ofTask,
                         std::set<int>& chosen, std::string& error);

// The tasks a request names, in both of its lists, in ascending order.
std::vector<int> NamedTasks(const Request& request) {
  std::vector<int> ids;
  for (size_t i = 0; i < request.ListSize(Request::kTaskIds); ++i) {
    ids.push_back(static_cast<int>(request.GetListUInt32(Request::kTaskIds, i)));
  }
  for (size_t i = 0; i < request.ListSize(Request::kTasks); ++i) {
    ids.push_back(request.GetListMsg(Request::kTasks, i).GetInt32(ZnEntities::TaskEntity::kTaskId));
  }
  std::sort(ids.begin(), ids.end());
  ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
  ids.erase(std::remove_if(ids.begin(), ids.end(), [](int id) { return id <= 0; }), ids.end());
  return ids;
}

// The error code of deleting every task named: each must be a schedule.
int DeleteSchedules(const std::vector<int>& ids) {
  if (ids.empty()) return CTaskManagerSim::kErrorBadRequest;
  for (int id : ids) {
    STaskRecord task;
    const EStoreResult read = CTaskStore::ReadTask(id, task);
    if (read != EStoreResult::kOk) {
      return read == EStoreResult::kMissing ? CTaskManagerSim::kErrorNoSuchTask : CTaskManagerSim::kErrorNotStored;
    }
    if (task.kind != ETaskKind::kSchedule) return CTaskManagerSim::kErrorNotASchedule;
  }
  CDBConnection* c = CDBConnection::ForThread();
  if (c == nullptr) return CTaskManagerSim::kErrorNotStored;
  CDBWriteScope scope(c);
  bool deleted = scope.Ok();
  for (size_t i = 0; deleted && i < ids.size(); ++i) deleted = CTaskStore::DeleteTask(ids[i]) == EStoreResult::kOk;
  return deleted && scope.Commit() ? 0 : CTaskManagerSim::kErrorNotStored;
}

int DeleteOperation(const Request& request, std::string& reply, std::string& error) {
  const EScheduleDeleteFault fault = CTaskManagerSim::ScheduleDeleteFault();
  const std::vector<int> ids = NamedTasks(request);
  int code = 0;
  if (fault == EScheduleDeleteFault::kPositiveCode) {
    code = CTaskManagerSim::kFaultErrorCode;
  } else if (fault == EScheduleDeleteFault::kNegativeCode) {
    code = -CTaskManagerSim::kFaultErrorCode;
  } else {
    code = DeleteSchedules(ids);
  }
  EvDebug().DebugLvl(5, "DeleteSchedules", "Deleting [%zu] schedule(s) answered [%d]", ids.size(), code);
  if (fault == EScheduleDeleteFault::kNoReply) return 0;
  TMMsg::GenericResp resp;
  resp.SetInt32(TMMsg::GenericResp::kErrorCode, code);
  if (!resp.serializeUTF8(reply)) {
    error = "Cannot write the deletion reply";
    return -1;
  }
  return 0;
}

// The task a sync start names: its first subtask's, else its first task id.
int SyncTaskOf(const Request& request) {
  if (request.ListSize(Request::kSubtasks) > 0) {
    const int id = request.GetListMsg(Request::kSubtasks, 0).GetInt32(ZnEntities::SubtaskEntity::kTaskId);
    if (id > 0) return id;
  }
  const std::vector<int> named = NamedTasks(request);
  return named.empty() ? 0 : named.front();
}

// The replications of the task the request's filters pick; all of them
// without a filter.
bool ChosenReplications(const Request& request, int taskId, std::vector<int>& chosen, std::string& error) {
  std::vector<SSourcedReplication> ofTask;
  if (CReplicationSources::OfTask(taskId, ofTask) != EStoreResult::kOk) {
    error = "Cannot read the replications of task [" + std::to_string(taskId) + "]";
    return false;
  }
  const CNMessageBase& options = request.GetMsg(Request::kOptions);
  std::set<int> picked;
  const size_t filters = options.ListSize(TMMsg::TaskOperationOptionFields::kFilters);
  for (size_t i = 0; i < filters; ++i) {
    const CNMessageBase& f = options.GetListMsg(TMMsg::TaskOperationOptionFields::kFilters, i);
    const int filterId = f.GetInt32(TMMsg::OptionFilter::kFilterId);
    SyncFilter filter;
    if (!CTaskManagerSim::Filters().Find(filterId, filter)) {
      error = "Unknown option filter [" + std::to_string(filterId) + "]";
      return false;
    }
    if (!filter(f.GetString(TMMsg::OptionFilter::kValue), ofTask, picked, error)) return false;
  }
  if (filters == 0) {
    for (const SSourcedReplication& r : ofTask) picked.insert(r.replicationId);
  }
  chosen.assign(picked.begin(), picked.end());
  if (chosen.empty()) {
    error = "Task [" + std::to_string(taskId) + "] has no replication to sync";
    return false;
  }
  return true;
}

// The DR job whose process asks: a task operation names no job, but the
// simulated server serves one DR job's process, as the real one knows the
// session a request came by. 0 in a process that runs no job.
long long AskingJob() { return CJobContext::CurrentJobId(); }

// Starts the sync jobs, all of them or none.
bool StartSyncJobs(int taskId, const std::vector<std::vector<int>>& buckets, std::vector<long long>& jobIds,
                   std::string& error) {
  CDBConnection* c = CDBConnection::ForThread();
  if (c == nullptr) {
    error = "No management database";
    return false;
  }
  CDBWriteScope scope(c);
  std::vector<long long> started;
  for (size_t i = 0; scope.Ok() && i < buckets.size(); ++i) {
    SChildJobSpec spec;
    spec.type = EChildJobType::kSync;
    spec.parentJobId = AskingJob();
    spec.taskId = taskId;
    spec.replicationIds = buckets[i];
    const long long id = CJobSimulator::StartJob(spec);
    if (id == 0) break;
    started.push_back(id);
  }
  if (started.size() != buckets.size() || !scope.Commit()) {
    error = "Cannot start the sync of task [" + std::to_string(taskId) + "]";
    return false;
  }
  jobIds = started;
  return true;
}

// The value of an option filter of the request; false when it has none.
bool FilterValue(const Request& request, int filterId, std::string& value) {
  const CNMessageBase& options = request.GetMsg(Request::kOptions);
  for (size_t i = 0; i < options.ListSize(TMMsg::TaskOperationOptionFields::kFilters); ++i) {
    const CNMessageBase& f = options.GetListMsg(TMMsg::TaskOperationOptionFields::kFilters, i);
    if (f.GetInt32(TMMsg::OptionFilter::kFilterId) != filterId) continue;
    value = f.GetString(TMMsg::OptionFilter::kValue);
    return true;
  }
  return false;
}

// A failback restore: one sync job of the task over the replications the
// request lists, carrying the restore options its end applies. Options that
// do not parse fail the job once it started.
int StartFailbackRestore(const Request& request, int taskId, std::string& reply, std::string& error) {
  std::vector<SSourcedReplication> ofTask;
  if (CReplicationSources::OfTask(taskId, ofTask) != EStoreResult::kOk) {
    error = "Cannot read the replications of task [" + std::to_string(taskId) + "]";
    return -1;
  }
  std::string listed, text;
  FilterValue(request, TMMsg::OPTION_FILTER_RESTORE_REPLICATIONS, listed);
  FilterValue(request, TMMsg::OPTION_FILTER_RESTORE_OPTIONS, text);
  std::set<int> chosen;
  size_t start = 0;
  while (start <= listed.size()) {
    const size_t comma = listed.find(',', start);
    const std::string piece = listed.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
    if (!piece.empty() && !ReplicationIdFilter(piece, ofTask, chosen, error)) return -1;
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  if (chosen.empty()) {
    error = "The failback restore of task [" + std::to_string(taskId) + "] lists no replication";
    return -1;
  }
  CNMessageBase options(TMMsg::VirtualServerRestoreOptionFields::ClassInfo());
  const bool parsed = options.Unserialize(text);
  SChildJobSpec spec;
  spec.type = EChildJobType::kSync;
  spec.parentJobId = AskingJob();
  spec.taskId = taskId;
  spec.replicationIds.assign(chosen.begin(), chosen.end());
  spec.mode = kModeFailbackRestore;
  if (parsed && options.GetMsg(TMMsg::VirtualServerRestoreOptionFields::kVMRestoreOptions)
                        .GetInt32(TMMsg::DiskLevelVMRestoreOption::kPowerOnVM) == 1) {
    spec.mode |= kModeRestorePowerOn;
  }
  spec.options = text;
  const long long jobId = CJobSimulator::StartJob(spec);
  if (jobId == 0) {
    error = "Cannot start the failback restore of task [" + std::to_string(taskId) + "]";
    return -1;
  }
  if (!parsed) CJobSimulator::Fail(jobId, "The restore options do not parse");
  TMMsg::CreateTaskResp resp;
  resp.AddString(TMMsg::CreateTaskResp::kJobIds, std::to_string(jobId));
  if (!resp.serializeUTF8(reply)) {
    error = "Cannot write the restore reply";
    return -1;
  }
  EvDebug().DebugLvl(5, "StartFailbackRestore", "Task [%d]: [%zu] replication(s) restored by job [%lld]", taskId,
                     chosen.size(), jobId);
  return 0;
}

int StartSyncOperation(const Request& request, std::string& reply, std::string& error) {
  const ESyncStartFault fault = CTaskManagerSim::SyncStartFault();
  if (fault == ESyncStartFault::kRefused) {
    error = "The task manager refused the sync (injected)";
    return -1;
  }
  const int taskId = SyncTaskOf(request);
  STaskRecord task;
  const EStoreResult read = CTaskStore::ReadTask(taskId, task);
  TMMsg::TaskInfo info;
  if (read != EStoreResult::kOk || !info.Unserialize(task.xml)) {
    error = "Task [" + std::to_string(taskId) + (read == EStoreResult::kMissing ? "] does not exist" : "] not readable");
    return -1;
  }
  std::string failback;
  if (FilterValue(request, TMMsg::OPTION_FILTER_FAILBACK, failback) && failback == "true") {
    return StartFailbackRestore(request, taskId, reply, error);
  }
  std::vector<int> chosen;
  if (!ChosenReplications(request, taskId, chosen, error)) return -1;
  std::vector<long long> jobIds;
  if (!StartSyncJobs(taskId, CTaskManagerSim::SyncBuckets(chosen, CTaskManagerSim::JobBucketing(info)), jobIds,
                     error)) {
    return -1;
  }
  TMMsg::CreateTaskResp resp;
  if (fault != ESyncStartFault::kFailWithoutIds && fault != ESyncStartFault::kOkWithoutIds) {
    for (long long id : jobIds) resp.AddString(TMMsg::CreateTaskResp::kJobIds, std::to_string(id));
  }
  if (!resp.serializeUTF8(reply)) {
    error = "Cannot write the sync reply";
    return -1;
  }
  EvDebug().DebugLvl(5, "StartSync", "Task [%d]: [%zu] replication(s) in [%zu] sync job(s)", taskId, chosen.size(),
                     jobIds.size());
  if (fault != ESyncStartFault::kNone && fault != ESyncStartFault::kOkWithoutIds) {
    error = "The sync of task [" + std::to_string(taskId) + "] failed after its start (injected)";
    return -1;
  }
  return 0;
}

// Filter 120012: the value is a replication id of the task.
bool ReplicationIdFilter(const std::string& value, const std::vector<SSourcedReplication>& ofTask,
                         std::set<int>& chosen, std::string& error) {
  const int id = atoi(value.c_str());
  const bool ofThisTask = std::any_of(ofTask.begin(), ofTask.end(), [id](const SSourcedReplication& r) {
    return r.replicationId == id;
  });
  if (id <= 0 || std::to_string(id) != value || !ofThisTask) {
    error = "Replication [" + value + "] is not one of the task's";
    return false;
  }
  chosen.insert(id);
  return true;
}

}  // namespace

void CTaskManagerSim::RegisterOperations() {
  Operations().Register(kTaskOpDelete, DeleteOperation);
  Operations().Register(kTaskOpStartSync, StartSyncOperation);
  Filters().Register(TMMsg::OPTION_FILTER_REPLICATION_ID, ReplicationIdFilter);
  // A failback's other filters are read by the restore start itself.
  const SyncFilter readElsewhere = [](const std::string&, const std::vector<SSourcedReplication>&, std::set<int>&,
                                      std::string&) { return true; };
  Filters().Register(TMMsg::OPTION_FILTER_FAILBACK, readElsewhere);
  Filters().Register(TMMsg::OPTION_FILTER_RESTORE_OPTIONS, readElsewhere);
  Filters().Register(TMMsg::OPTION_FILTER_RESTORE_REPLICATIONS, readElsewhere);
  Filters().Register(TMMsg::OPTION_FILTER_SOURCE_CLIENT, readElsewhere);
}
