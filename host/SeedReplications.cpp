#include "SeedReplications.h"

#include "msg/MsgClasses.h"
#include "msg/MsgEnums.h"
#include "jobs/TaskStore.h"
#include "jobsim/StoragePolicyStore.h"
#include "repl/ReplicationStore.h"

namespace {

const int kReplicationTaskId = kSampleTaskId;
const int kReplicationSubclientId = kSampleSubclientId;
const int kClientId = 1;
// Both sites are hypervisors of vendor 1.
const int kVendor = 1;

}  // namespace

bool SeedSampleReplications(std::string& error) {
  // The replication task: VM restore options with every DR switch off.
  TMMsg::TaskInfo task;
  CNMessageBase& vmOptions = task.AddMsg(TMMsg::TaskInfo::kSubTasks)
                                 .MutableMsg(TMMsg::SubTaskInfo::kJobOptions)
                                 .MutableMsg(TMMsg::JobOption::kRestoreOptions)
                                 .MutableMsg(TMMsg::RestoreOptionFields::kVirtualServerRestoreOptions)
                                 .MutableMsg(TMMsg::VirtualServerRestoreOptionFields::kVMRestoreOptions);
  vmOptions.SetInt32(TMMsg::VMRestoreOptionFields::kDeployVMAtFailover, 0);
  vmOptions.SetInt32(TMMsg::VMRestoreOptionFields::kFirstSyncDuringFailover, 0);
  std::string taskXml;
  if (!task.serializeUTF8(taskXml) || !CTaskStore::PutTask(kReplicationTaskId, taskXml)) {
    error = "cannot store replication task [" + std::to_string(kReplicationTaskId) + "]";
    return false;
  }
  for (const SSampleVM& r : kSampleVMs) {
    const std::string id = std::to_string(r.replicationId);
    App::VSAReplicationInfo info;
    using Repl = App::VSAReplicationInfo;
    info.SetInt32(Repl::kReplicationId, r.replicationId);
    info.SetString(Repl::kReplicationGuid, "repl-" + id);
    info.SetString(Repl::kSourceVMGuid, "src-" + id);
    info.SetString(Repl::kSourceVMName, r.source);
    info.SetString(Repl::kDestinationVMGuid, "dst-" + id);
    info.SetString(Repl::kDestinationVMName, r.destination);
    CNMessageBase& subtask = info.MutableMsg(Repl::kSubtask);
    subtask.SetInt32(ZnEntities::SubtaskEntity::kSubtaskId, kReplicationTaskId * 10);
    subtask.SetInt32(ZnEntities::SubtaskEntity::kTaskId, kReplicationTaskId);
    CNMessageBase& subclient = info.MutableMsg(Repl::kSubclient);
    subclient.SetInt32(ZnEntities::SubClientEntity::kSubclientId, kReplicationSubclientId);
    subclient.SetInt32(ZnEntities::SubClientEntity::kClientId, kClientId);
    info.SetInt32(Repl::kSyncStatus, App::VSA_REPL_STATUS_IN_SYNC);
    info.SetInt32(Repl::kFailoverStatus, App::VSA_FAILOVER_STATUS_NONE);
    info.SetInt32(Repl::kDestinationVendor, kVendor);
    info.SetInt32(Repl::kSourceVendor, kVendor);
    info.SetInt32(Repl::kToolsInstalled, 1);
    if (!CReplicationStore::Put(info, kReplicationTaskId)) {
      error = "cannot store replication [" + id + "]";
      return false;
    }
  }
  SStoragePolicy policy;
  policy.policyId = kSampleStoragePolicyId;
  policy.copies = {SStorageCopy{kSamplePrimaryCopyId, 1, true, true}, SStorageCopy{kSampleAuxCopyId, 2, false, false}};
  if (!CStoragePolicyStore::PutPolicy(policy) ||
      !CStoragePolicyStore::AssignSubclient(SSubclientPolicy{kReplicationSubclientId, kSampleStoragePolicyId, false})) {
    error = "cannot store storage policy [" + std::to_string(kSampleStoragePolicyId) + "]";
    return false;
  }
  return true;
}
