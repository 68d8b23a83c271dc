// The create-task routes of the simulated task manager: what each operation
// code of a create-task request starts.
#include <algorithm>

#include "jobs/JobRequestHandlers.h"
#include "jobsim/JobSimulator.h"
#include "jobsim/StoragePolicyStore.h"
#include "tasksim/TaskManagerSim.h"

namespace {

using Entity = ZnEntities::GenericEntity;

// The first association, which names what the task works on.
bool FirstEntity(const SCreateTaskCall& call, const CNMessageBase*& entity, std::string& error) {
  if (call.task.ListSize(TMMsg::TaskInfo::kAssociations) == 0) {
    error = "Task request without an entity";
    return false;
  }
  entity = &call.task.GetListMsg(TMMsg::TaskInfo::kAssociations, 0);
  return true;
}

// The storage policy a copy job works on, and that the copy (0: none
// named) is one of its copies.
bool KnownPolicyAndCopy(int policyId, int copyId, std::string& error) {
  SStoragePolicy policy;
  const EStoreResult read = CStoragePolicyStore::GetPolicy(policyId, policy);
  if (read != EStoreResult::kOk) {
    error = (read == EStoreResult::kMissing ? "Unknown storage policy [" : "Cannot read storage policy [") +
            std::to_string(policyId) + "]";
    return false;
  }
  if (copyId != 0 && std::none_of(policy.copies.begin(), policy.copies.end(),
                                  [copyId](const SStorageCopy& c) { return c.copyId == copyId; })) {
    error = "Storage policy [" + std::to_string(policyId) + "] has no copy [" + std::to_string(copyId) + "]";
    return false;
  }
  return true;
}

int Start(const SChildJobSpec& spec, const std::string& what, std::vector<long long>& jobIds, std::string& error) {
  const long long id = CJobSimulator::StartJob(spec);
  if (id == 0) {
    error = "Cannot start the " + what;
    return -1;
  }
  jobIds.push_back(id);
  return 0;
}

int AuxCopy(const SCreateTaskCall& call, std::vector<long long>& jobIds, std::string& error) {
  const CNMessageBase* entity = nullptr;
  if (!FirstEntity(call, entity, error)) return -1;
  SChildJobSpec spec;
  spec.type = EChildJobType::kAuxCopy;
  spec.parentJobId = call.parentJobId;
  spec.storagePolicyId = entity->GetInt32(Entity::kStoragePolicyId);
  spec.copyId = entity->GetInt32(Entity::kCopyId);
  if (spec.copyId == 0) {
    error = "Aux copy of storage policy [" + std::to_string(spec.storagePolicyId) + "] names no copy";
    return -1;
  }
  if (!KnownPolicyAndCopy(spec.storagePolicyId, spec.copyId, error)) return -1;
  return Start(spec,
               "aux copy of storage policy [" + std::to_string(spec.storagePolicyId) + "] copy [" +
                   std::to_string(spec.copyId) + "]",
               jobIds, error);
}

int BackupCopy(const SCreateTaskCall& call, std::vector<long long>& jobIds, std::string& error) {
  const CNMessageBase* entity = nullptr;
  if (!FirstEntity(call, entity, error)) return -1;
  SChildJobSpec spec;
  spec.type = EChildJobType::kBackupCopy;
  spec.parentJobId = call.parentJobId;
  spec.storagePolicyId = entity->GetInt32(Entity::kStoragePolicyId);
  // The request carries the copy in the field that holds a subclient
  // elsewhere.
  spec.copyId = entity->GetInt32(Entity::kSubclientId);
  if (!KnownPolicyAndCopy(spec.storagePolicyId, spec.copyId, error)) return -1;
  return Start(spec, "backup copy of storage policy [" + std::to_string(spec.storagePolicyId) + "]", jobIds, error);
}

// The VMs a backup request selects (its VSA backup option), each one a
// replication some source knows; none selected leaves the list empty.
bool SelectedVMs(const SCreateTaskCall& call, std::vector<int>& ids, std::string& error) {
  const CNMessageBase& option = call.task.GetListMsg(TMMsg::TaskInfo::kSubTasks, 0)
                                    .GetMsg(TMMsg::SubTaskInfo::kJobOptions)
                                    .GetMsg(TMMsg::JobOption::kBackupOptions)
                                    .GetMsg(TMMsg::BackupOptionFields::kVSABackupOption);
  for (size_t i = 0; i < option.ListSize(TMMsg::VSABkpOption::kSelectedVMs); ++i) {
    const long long id =
        option.GetListMsg(TMMsg::VSABkpOption::kSelectedVMs, i).GetInt64(TMMsg::VSASelectiveVMInfo::kReplicationId);
    SSourcedReplication known;
    const EStoreResult read = id > 0 && id <= 0x7fffffff ? CReplicationSources::Get(static_cast<int>(id), known)
                                                         : EStoreResult::kMissing;
    if (read != EStoreResult::kOk) {
      error = (read == EStoreResult::kMissing ? "Unknown replication [" : "Cannot read replication [") +
              std::to_string(id) + "] in the VM selection";
      return false;
    }
    if (std::find(ids.begin(), ids.end(), known.replicationId) == ids.end()) ids.push_back(known.replicationId);
  }
  std::sort(ids.begin(), ids.end());
  return true;
}

int Backup(const SCreateTaskCall& call, std::vector<long long>& jobIds, std::string& error) {
  const CNMessageBase* entity = nullptr;
  if (!FirstEntity(call, entity, error)) return -1;
  SChildJobSpec spec;
  spec.type = EChildJobType::kBackup;
  spec.parentJobId = call.parentJobId;
  spec.applicationId = entity->GetInt32(Entity::kSubclientId);
  SSubclientPolicy assigned;
  const EStoreResult read = CStoragePolicyStore::GetSubclient(spec.applicationId, assigned);
  if (read != EStoreResult::kOk) {
    error = (read == EStoreResult::kMissing ? "Unknown subclient [" : "Cannot read subclient [") +
            std::to_string(spec.applicationId) + "]";
    return -1;
  }
  // Without a selection the simulator takes every replication of the
  // subclient from the replication sources.
  if (!SelectedVMs(call, spec.replicationIds, error)) return -1;
  // A backup without VM options (a database's) backs the subclient up as a
  // whole: no VM child jobs.
  const CNMessageBase& backup = call.task.GetListMsg(TMMsg::TaskInfo::kSubTasks, 0)
                                    .GetMsg(TMMsg::SubTaskInfo::kJobOptions)
                                    .GetMsg(TMMsg::JobOption::kBackupOptions);
  spec.vmChildren = backup.Has(TMMsg::BackupOptionFields::kVSABackupOption);
  // A failback backs up the DR VMs of the listed replications.
  if (backup.GetMsg(TMMsg::BackupOptionFields::kVSABackupOption).GetInt64(TMMsg::VSABkpOption::kField2) == 1) {
    spec.mode |= kModeDRSiteBackup;
  }
  return Start(spec, "backup of subclient [" + std::to_string(spec.applicationId) + "]", jobIds, error);
}

int Workflow(const SCreateTaskCall& call, std::vector<long long>& jobIds, std::string& error) {
  std::list<long long> ids;
  const int rc = CJobRequestHandlers::CreateWorkflowTask(call.xml, call.userId, ids, error);
  jobIds.insert(jobIds.end(), ids.begin(), ids.end());
  return rc;
}

}  // namespace

void CTaskManagerSim::RegisterRoutes() {
  Routes().Register(kOpWorkflow, Workflow);
  Routes().Register(kOpAuxCopy, AuxCopy);
  Routes().Register(kOpBackupCopy, BackupCopy);
  Routes().Register(kOpBackup, Backup);
}
