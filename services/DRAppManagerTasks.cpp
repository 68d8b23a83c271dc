// Task management: starting tasks (and the create-task requests of the
// storage copies), the edits of cached task definitions that reach the task
// manager when the job ends, schedule deletion, the copy-task map, and the
// per-task readers of project and placement.
#include <strings.h>

#include <list>
#include <vector>

#include "DRAppManager.h"
#include "engine/DRHelper.h"
#include "engine/ZnCriticalSectionLock.h"
#include "jobs/EvTask.h"
#include "xmlreq/XMLHandler.h"

namespace {

using Entity = ZnEntities::GenericEntity;
using VMAdvanced = TMMsg::VMWAdvancedRestoreOptions;

const int kModifyTaskSerializeError = 0x230006EB;
const int kDeleteScheduleOperation = 3;

// The first element of a request's list, appended when the list is empty.
CNMessageBase& FirstOf(CNMessageBase& msg, const SMsgField& list) {
  msg.AddMsg(list);
  return msg.MutableListMsg(list, 0);
}

// The parts of a create-task request both copy builders fill alike.
void FillCopyTask(TMMsg::CreateTaskReq& req, int operationCode, const std::string& description,
                  CNMessageBase*& jobOptions, CNMessageBase*& entity) {
  CNMessageBase& info = req.MutableMsg(TMMsg::CreateTaskReq::kTaskInfo);
  CNMessageBase& subtask = FirstOf(info, TMMsg::TaskInfo::kSubTasks);
  info.MutableMsg(TMMsg::TaskInfo::kTask).SetInt32(TMMsg::TaskObjectFields::kFlag5, 1);
  entity = &FirstOf(info, TMMsg::TaskInfo::kAssociations);
  CNMessageBase& object = subtask.MutableMsg(TMMsg::SubTaskInfo::kSubTask);
  object.SetInt32(TMMsg::SubTaskObjectFields::kOperationCode, operationCode);
  object.SetInt32(TMMsg::SubTaskObjectFields::kFlag3, 1);
  jobOptions = &subtask.MutableMsg(TMMsg::SubTaskInfo::kJobOptions);
  jobOptions->MutableMsg(TMMsg::JobOption::kCommonOptions).SetString(TMMsg::CommonOptionFields::kDescription, description);
}

// The advanced restore options of the task's VMs; null without them.
const CNMessageBase* VMRestoreOptionsOf(const TMMsg::TaskInfo& task) {
  if (task.ListSize(TMMsg::TaskInfo::kSubTasks) == 0) return nullptr;
  const CNMessageBase& subtask = task.GetListMsg(TMMsg::TaskInfo::kSubTasks, 0);
  if (!subtask.Has(TMMsg::SubTaskInfo::kJobOptions)) return nullptr;
  const CNMessageBase& options = subtask.GetMsg(TMMsg::SubTaskInfo::kJobOptions);
  if (!options.Has(TMMsg::JobOption::kRestoreOptions)) return nullptr;
  const CNMessageBase& restore = options.GetMsg(TMMsg::JobOption::kRestoreOptions);
  if (!restore.Has(TMMsg::RestoreOptionFields::kVirtualServerRestoreOptions)) return nullptr;
  const CNMessageBase& vs = restore.GetMsg(TMMsg::RestoreOptionFields::kVirtualServerRestoreOptions);
  if (!vs.Has(TMMsg::VirtualServerRestoreOptionFields::kVMRestoreOptions)) return nullptr;
  return &vs.GetMsg(TMMsg::VirtualServerRestoreOptionFields::kVMRestoreOptions);
}

}  // namespace

// ---------------------------------------------------------------------------
// Requests

bool CreateAuxTask(TMMsg::CreateTaskReq& req, int storagePolicyId, int copyId, const std::string& description) {
  CNMessageBase* jobOptions = nullptr;
  CNMessageBase* entity = nullptr;
  FillCopyTask(req, 4003, description, jobOptions, entity);
  CNMessageBase& aux = jobOptions->MutableMsg(TMMsg::JobOption::kAdminOptions)
                           .MutableMsg(TMMsg::AdminOptionFields::kCopyOptions)
                           .MutableMsg(TMMsg::CopyOptionFields::kAuxCopyOptions);
  aux.SetInt32(TMMsg::AuxCopyOptionFields::kFlag8, 1);
  aux.SetInt32(TMMsg::AuxCopyOptionFields::kValue11, 1000);
  entity->SetInt32(Entity::kEntityType, 18);
  entity->SetInt32(Entity::kStoragePolicyId, storagePolicyId);
  entity->SetInt32(Entity::kCopyId, copyId);
  return true;
}

bool CreateBackupCopyTask(TMMsg::CreateTaskReq& req, int storagePolicyId, int copyId,
                          const std::string& description) {
  CNMessageBase* jobOptions = nullptr;
  CNMessageBase* entity = nullptr;
  FillCopyTask(req, 4028, description, jobOptions, entity);
  CNMessageBase& copy = jobOptions->MutableMsg(TMMsg::JobOption::kBackupOptions)
                            .MutableMsg(TMMsg::BackupOptionFields::kBackupCopyOptions);
  copy.SetInt32(TMMsg::BackupCopyOptionFields::kFlag1, 1);
  copy.SetInt32(TMMsg::BackupCopyOptionFields::kFlag2, 1);
  entity->SetInt32(Entity::kEntityType, 17);
  entity->SetInt32(Entity::kStoragePolicyId, storagePolicyId);
  // The field that carries a subclient id in other requests; the caller
  // passes the storage copy id.
  entity->SetInt32(Entity::kSubclientId, copyId);
  return true;
}

bool CDRAppManager::GetTaskResponse(CNMessageBase& request, CNMessageBase& response, unsigned long messageType,
                                    std::string& xml, std::string& error, ZNOpType operation, bool quiet) {
  if (!DRHelper::GetFormattedXML(request, xml)) {
    m_event.Error("GetTaskResponse", "Failed to serialize message request");
    return false;
  }
  m_event.Debug("GetTaskResponse", "Launching [%s] for userId [%d] with input [%s] ",
                DRHelper::GetOpStr(operation).c_str(), m_userId, xml.c_str());
  if (XMLHandler::handleXMLReq(m_userId, messageType, xml, error, "", 0) != 0) {
    if (quiet) {
      m_event.Debug("GetTaskResponse", "Error [%s] launching op [%d] ", xml.c_str(), static_cast<int>(operation));
    } else {
      m_event.Error("GetTaskResponse", "Error [%s] launching op [%d] ", xml.c_str(), static_cast<int>(operation));
    }
    return false;
  }
  m_event.Debug("GetTaskResponse", "[%s] operation response [%s]", DRHelper::GetOpStr(operation).c_str(),
                xml.c_str());
  if (!response.Unserialize(xml)) {
    m_event.Error("GetTaskResponse", "Failed to unserialize CreateTaskResp response");
    return false;
  }
  return true;
}

bool CDRAppManager::StartTask(CNMessageBase& request, TMMsg::CreateTaskResp& response, unsigned long messageType,
                              std::string& xml, std::string& error, ZNOpType operation, long long& jobId) {
  return GetTaskResponse(request, response, messageType, xml, error, operation) &&
         DRHelper::GetJobId(response, jobId);
}

bool CDRAppManager::StartTask(CNMessageBase& request, TMMsg::CreateTaskResp& response, unsigned long messageType,
                              std::string& xml, std::string& error, ZNOpType operation,
                              std::list<long long>& jobIds) {
  if (!GetTaskResponse(request, response, messageType, xml, error, operation)) return false;
  const size_t n = response.ListSize(TMMsg::CreateTaskResp::kJobIds);
  if (n == 0) return false;
  // Every id must read as a job id before any is handed out: a half-read
  // answer would leave jobs nobody waits for behind a false result.
  std::list<long long> ids;
  for (size_t i = 0; i < n; ++i) {
    long long id = 0;
    const std::string& text = response.GetListString(TMMsg::CreateTaskResp::kJobIds, i);
    if (!DRHelper::ParseJobId(text, id)) {
      m_event.Error("StartTask", "Job id [%s] of the response is not a job id", text.c_str());
      return false;
    }
    ids.push_back(id);
  }
  jobIds.splice(jobIds.end(), ids);
  return true;
}

bool CDRAppManager::LaunchBackupCopy(int storagePolicyId, int copyId, const std::string& description,
                                     long long& jobId) {
  TMMsg::CreateTaskReq req;
  TMMsg::CreateTaskResp resp;
  const ZNOpType op = DRHelper::GetZNOptype(Api::VIRTUAL_APP_PHASE_BACKUP_COPY);
  CreateBackupCopyTask(req, storagePolicyId, copyId, description);
  m_event.Debug("LaunchBackupCopy", "Starting backup copy operation for spId [%d]", storagePolicyId);
  std::string xml, error;
  return StartTask(req, resp, TMMsg::CreateTaskReq::kTypeId, xml, error, op, jobId);
}

bool CDRAppManager::LaunchAuxCopy(int storagePolicyId, int copyId, const std::string& description,
                                  long long& jobId) {
  TMMsg::CreateTaskReq req;
  TMMsg::CreateTaskResp resp;
  const ZNOpType op = DRHelper::GetZNOptype(Api::VIRTUAL_APP_PHASE_AUX_COPY);
  CreateAuxTask(req, storagePolicyId, copyId, description);
  m_event.Debug("LaunchAuxCopy", "Starting aux copy operation for spId [%d] copyId [%d]", storagePolicyId, copyId);
  std::string xml, error;
  return StartTask(req, resp, TMMsg::CreateTaskReq::kTypeId, xml, error, op, jobId);
}

// ---------------------------------------------------------------------------
// Edits of cached task definitions

void CDRAppManager::MarkTaskForEdit(int taskId) {
  ZnCriticalSectionLock lock(&m_taskLock);
  m_tasksMarkedForEdit.insert(taskId);
}

void CDRAppManager::CommitModifiedTasks() {
  ZnCriticalSectionLock lock(&m_taskLock);
  for (auto& kv : m_taskCache) {
    if (m_schedulesDeletedByDRJob.count(kv.first) || !m_tasksMarkedForEdit.count(kv.first)) continue;
    m_event.Debug("CommitModifiedTasks", "Commiting modified task [%d]", kv.first);
    SendModifyTaskRequest(kv.first, &kv.second);
  }
}

int CDRAppManager::SendModifyTaskRequest(int taskId, TMMsg::TaskInfo* info) {
  ZnCriticalSectionLock lock(&m_taskLock);
  TMMsg::ModifyTaskReq req;
  if (info != nullptr) req.SetMsg(TMMsg::ModifyTaskReq::kTaskInfo, *info);
  std::string xml;
  if (!req.serializeUTF8(xml)) {
    m_event.Error("SendModifyTaskRequest", " Error. Failed to serialize ModifyTaskInfo to XML");
    return kModifyTaskSerializeError;
  }
  EvTask task(0, 0, nullptr, false);
  std::list<long long> jobIds;
  int code = 0;
  std::string error;
  const int rc =
      task.TaskRequest(xml, jobIds, code, m_userId, error, TMMsg::ModifyTaskReq::kTypeId, 0, 2, false, false);
  if (rc != 0) {
    m_event.Error("SendModifyTaskRequest", " Error code [%d]. Error [%s]. Failed to modify task with taskId [%d]", rc,
                  error.c_str(), taskId);
    return rc;
  }
  return 0;
}

// ---------------------------------------------------------------------------
// Schedules

bool CDRAppManager::DeleteSchedule(int taskId) {
  ZnCriticalSectionLock lock(&m_taskLock);
  if (taskId <= 0) return false;
  m_event.Debug("DeleteSchedule", "Found schedule to delete with taskId [%d]", taskId);
  TMMsg::TaskOperationReq req;
  req.SetInt32(TMMsg::TaskOperationReq::kOperation, kDeleteScheduleOperation);
  req.AddUInt32(TMMsg::TaskOperationReq::kTaskIds, static_cast<uint32_t>(taskId));
  req.AddMsg(TMMsg::TaskOperationReq::kTasks).SetInt32(ZnEntities::TaskEntity::kTaskId, taskId);
  std::string xml, error;
  if (!req.serializeUTF8(xml)) {
    m_event.Error("DeleteSchedule", "Failed to serialize message request");
    return false;
  }
  if (XMLHandler::handleXMLReq(m_userId, TMMsg::TaskOperationReq::kTypeId, xml, error, "", 0) != 0) {
    m_event.Error("DeleteSchedule", "Error [%s] deleting task [%d] ", xml.c_str(), taskId);
    return false;
  }
  m_event.Debug("DeleteSchedule", "Task deletion response [%s]", xml.c_str());
  TMMsg::GenericResp resp;
  if (!resp.Unserialize(xml)) return false;
  // Any code but 0 is a refusal: a negative one too, or the schedule would
  // count as deleted and keep running.
  if (resp.Has(TMMsg::GenericResp::kErrorCode) && resp.GetInt32(TMMsg::GenericResp::kErrorCode) != 0) return false;
  m_schedulesDeletedByDRJob.insert(taskId);
  return true;
}

bool CDRAppManager::IsScheduleDeletedByDRJob(int taskId) {
  ZnCriticalSectionLock lock(&m_taskLock);
  return m_schedulesDeletedByDRJob.count(taskId) > 0;
}

// ---------------------------------------------------------------------------
// Copy tasks

namespace {

std::string CopyTaskKey(long storagePolicyId, long copyId) {
  return std::to_string(storagePolicyId) + "__" + std::to_string(copyId);
}

}  // namespace

void CDRAppManager::UpdateCopyTaskMap(long storagePolicyId, long copyId, long taskId) {
  ZnCriticalSectionLock lock(&m_copyTaskLock);
  m_copyTaskMap[CopyTaskKey(storagePolicyId, copyId)].insert(taskId);
}

void CDRAppManager::GetTaskIds(long storagePolicyId, long copyId, std::set<long>& out) {
  ZnCriticalSectionLock lock(&m_copyTaskLock);
  out.clear();
  auto it = m_copyTaskMap.find(CopyTaskKey(storagePolicyId, copyId));
  if (it == m_copyTaskMap.end()) return;
  for (long long id : it->second) out.insert(static_cast<long>(id));
}

// ---------------------------------------------------------------------------
// Per-task readers of project and placement

// Both run once per machine: they read the cached definition in place, as
// a copy costs what the task's replications make it.

bool CDRAppManager::QueryDRProjectId(long taskId, const std::string& vmName, const std::string& vmGuid,
                                     std::string& projectId) {
  bool named = false;
  ReadTaskInfo(static_cast<int>(taskId), [&](const TMMsg::TaskInfo& task) {
    const CNMessageBase* options = VMRestoreOptionsOf(task);
    const size_t n = options != nullptr ? options->ListSize(TMMsg::DiskLevelVMRestoreOption::kAdvancedRestoreOptions) : 0;
    for (size_t i = 0; i < n && !named; ++i) {
      const CNMessageBase& vm = options->GetListMsg(TMMsg::DiskLevelVMRestoreOption::kAdvancedRestoreOptions, i);
      const bool byName = strcasecmp(vm.GetString(VMAdvanced::kVMName).c_str(), vmName.c_str()) == 0;
      if (!byName && vm.GetString(VMAdvanced::kVMGuid) != vmGuid) continue;
      if (vm.Has(VMAdvanced::kProjectId)) projectId = vm.GetString(VMAdvanced::kProjectId);
      named = true;
    }
  });
  if (named) m_event.Debug("QueryDRProjectId", "Project Id [%s] retrieved for task [%ld]", projectId.c_str(), taskId);
  return named;
}

bool CDRAppManager::GetDatacenterInfoFromTask(long taskId, const std::string& vmName, std::string& esxHost,
                                              std::string& datastore, std::string& datacenter, std::string& cluster,
                                              std::string& newVMName) {
  auto fail = [&]() {
    m_event.Error("GetDatacenterInfoFromTask",
                  "Error fetching ESXhostname, Datastorename, Datacentername and clustername from task [%ld]", taskId);
    return false;
  };
  // What the task tells: its own entry for the VM, else the allocation
  // policy that places it (read after the task lock is given back).
  enum { kNothing, kOwnEntry, kPolicy } told = kNothing;
  int policyId = 0;
  const bool loaded = ReadTaskInfo(static_cast<int>(taskId), [&](const TMMsg::TaskInfo& task) {
    // A task without a subtask has nothing to tell. Without VM restore
    // options it names no VM of its own, and its allocation policy may still
    // place the VM.
    if (task.ListSize(TMMsg::TaskInfo::kSubTasks) == 0) return;
    const CNMessageBase* options = VMRestoreOptionsOf(task);
    const size_t n =
        options != nullptr ? options->ListSize(TMMsg::DiskLevelVMRestoreOption::kAdvancedRestoreOptions) : 0;
    if (n > 0) {
      for (size_t i = 0; i < n; ++i) {
        const CNMessageBase& vm = options->GetListMsg(TMMsg::DiskLevelVMRestoreOption::kAdvancedRestoreOptions, i);
        if (vm.GetString(VMAdvanced::kVMName) != vmName) continue;
        esxHost = vm.GetString(VMAdvanced::kEsxHost);
        datastore = vm.GetString(VMAdvanced::kDatastore);
        datacenter = vm.GetString(VMAdvanced::kDatacenter);
        cluster = vm.GetString(VMAdvanced::kCluster);
        newVMName = vm.GetString(VMAdvanced::kNewVMName);
        told = kOwnEntry;
        return;
      }
      return;
    }
    // No VM of its own: the task's allocation policy places the VM.
    const CNMessageBase& subtask = task.GetListMsg(TMMsg::TaskInfo::kSubTasks, 0);
    const CNMessageBase& restore =
        subtask.GetMsg(TMMsg::SubTaskInfo::kJobOptions).GetMsg(TMMsg::JobOption::kRestoreOptions);
    if (!restore.Has(TMMsg::RestoreOptionFields::kUseAllocationPolicy) ||
        restore.GetInt32(TMMsg::RestoreOptionFields::kUseAllocationPolicy) == 0) {
      return;
    }
    const CNMessageBase& placement = restore.GetMsg(TMMsg::RestoreOptionFields::kVirtualServerRestoreOptions)
                                         .GetMsg(TMMsg::VirtualServerRestoreOptionFields::kAllocationPolicy);
    if (!placement.Has(ZnEntities::PolicyInstanceFields::kVMAllocationPolicyId) ||
        placement.GetInt32(ZnEntities::PolicyInstanceFields::kVMAllocationPolicyId) <= 1) {
      return;
    }
    policyId = placement.GetInt32(ZnEntities::PolicyInstanceFields::kVMAllocationPolicyId);
    told = kPolicy;
  });
  if (!loaded || told == kNothing) return fail();
  if (told == kOwnEntry) {
    m_event.Debug("GetDatacenterInfoFromTask",
                  "ESX Host Name [%s] Datastore [%s], Datacenter [%s], Cluster [%s] newVMName [%s] for VM [%s] for "
                  "task [%ld]",
                  esxHost.c_str(), datastore.c_str(), datacenter.c_str(), cluster.c_str(), newVMName.c_str(),
                  vmName.c_str(), taskId);
    return true;
  }
  Ida::VMAllocationPolicy policy;
  if (!QueryVMAllocationPolicy(policyId, policy)) return fail();
  esxHost = policy.ListSize(Ida::VMAllocationPolicy::kESXServers) > 0
                ? policy.GetListMsg(Ida::VMAllocationPolicy::kESXServers, 0)
                      .GetString(ZnEntities::ESXServerEntity::kHostName)
                : std::string();
  datastore = policy.ListSize(Ida::VMAllocationPolicy::kDatastores) > 0
                  ? policy.GetListMsg(Ida::VMAllocationPolicy::kDatastores, 0)
                        .GetString(ZnEntities::DataStoreEntity::kDatastoreName)
                  : std::string();
  const CNMessageBase& clusterEntity = policy.GetMsg(Ida::VMAllocationPolicy::kCluster);
  cluster = clusterEntity.Has(ZnEntities::ClusterEntityFields::kClusterName)
                ? clusterEntity.GetString(ZnEntities::ClusterEntityFields::kClusterName)
                : std::string();
  m_event.Debug("GetDatacenterInfoFromTask",
                "ESXHostname [%s] Datastorename [%s] Datacenter [%s] retrieved for VMAllocation policy [%d]",
                esxHost.c_str(), datastore.c_str(), cluster.c_str(), policyId);
  return true;
}
