#include "SeedReplications.h"

#include <vector>

#include "SeedLab.h"
#include "msg/MsgClasses.h"
#include "msg/MsgEnums.h"
#include "appmgr/VmAllocationPolicyStore.h"
#include "jobs/TaskStore.h"
#include "jobsim/StoragePolicyStore.h"
#include "repl/ReplicationStore.h"

namespace {

const int kReplicationTaskId = kSampleTaskId;
const int kReplicationSubclientId = kSampleSubclientId;
const int kClientId = 1;
// Both sites are hypervisors of vendor 1.
const int kVendor = 1;

std::string SourceGuid(int replicationId) { return "src-" + std::to_string(replicationId); }

// A scheduled backup of the sample subclient that selects every sample VM.
TMMsg::TaskInfo DRBackupSchedule() {
  TMMsg::TaskInfo task;
  CNMessageBase& object = task.MutableMsg(TMMsg::TaskInfo::kTask);
  object.SetInt32(TMMsg::TaskObjectFields::kFlag5, 1);
  object.SetInt32(TMMsg::TaskObjectFields::kTaskType, 1);
  CNMessageBase& entity = task.AddMsg(TMMsg::TaskInfo::kAssociations);
  entity.SetInt32(ZnEntities::GenericEntity::kSubclientId, kReplicationSubclientId);
  entity.SetInt64(ZnEntities::GenericEntity::kClientId, kClientId);
  CNMessageBase& subtask = task.AddMsg(TMMsg::TaskInfo::kSubTasks);
  CNMessageBase& subtaskObject = subtask.MutableMsg(TMMsg::SubTaskInfo::kSubTask);
  subtaskObject.SetInt32(TMMsg::SubTaskObjectFields::kSubTaskType, 2);
  subtaskObject.SetInt32(TMMsg::SubTaskObjectFields::kFlag3, 1);
  subtaskObject.SetInt32(TMMsg::SubTaskObjectFields::kOperationCode, 2);
  CNMessageBase& options = subtask.MutableMsg(TMMsg::SubTaskInfo::kJobOptions);
  options.MutableMsg(TMMsg::JobOption::kCommonOptions)
      .SetString(TMMsg::CommonOptionFields::kDescription, "DR backup of the sample VMs");
  CNMessageBase& vsa = options.MutableMsg(TMMsg::JobOption::kBackupOptions)
                           .MutableMsg(TMMsg::BackupOptionFields::kVSABackupOption);
  vsa.SetInt64(TMMsg::VSABkpOption::kField1, 0);
  vsa.SetInt64(TMMsg::VSABkpOption::kField2, 0);
  for (const SSampleVM& vm : kSampleVMs) {
    CNMessageBase& selected = vsa.AddMsg(TMMsg::VSABkpOption::kSelectedVMs);
    selected.SetInt64(TMMsg::VSASelectiveVMInfo::kReplicationId, vm.replicationId);
    selected.SetString(TMMsg::VSASelectiveVMInfo::kVMGuid, SourceGuid(vm.replicationId));
  }
  return task;
}

// A scheduled failback of the sample group: its DR options list the
// replications it fails back.
TMMsg::TaskInfo FailbackSchedule() {
  TMMsg::TaskInfo task;
  task.MutableMsg(TMMsg::TaskInfo::kTask).SetInt32(TMMsg::TaskObjectFields::kTaskId, kSampleFailbackTaskId);
  std::vector<int32_t> ids;
  for (const SSampleVM& vm : kSampleVMs) ids.push_back(vm.replicationId);
  task.AddMsg(TMMsg::TaskInfo::kSubTasks)
      .MutableMsg(TMMsg::SubTaskInfo::kJobOptions)
      .MutableMsg(TMMsg::JobOption::kBackupOptions)
      .MutableMsg(TMMsg::BackupOptionFields::kDROrchestrationOption)
      .MutableMsg(TMMsg::DROrchestrationOption::kReplicationInfo)
      .SetInt32List(TMMsg::DRReplicationInfoFields::kReplicationIds, ids);
  return task;
}

// Where a sample group's replications live.
struct SSampleGroupSites {
  int taskId;
  int subclientId;
  int destinationInstanceId;
  int destinationVendor;
  const SSampleProxy& proxy;
  int targetId;
  // The failback schedule its replications name (0: none).
  int failbackTaskId;
};

// One sample replication as the management server stores it.
bool StoreReplication(const SSampleVM& r, const SSampleGroupSites& where, std::string& error) {
  const std::string id = std::to_string(r.replicationId);
  App::VSAReplicationInfo info;
  using Repl = App::VSAReplicationInfo;
  info.SetInt32(Repl::kReplicationId, r.replicationId);
  info.SetString(Repl::kReplicationGuid, "repl-" + id);
  info.SetString(Repl::kSourceVMGuid, SourceGuid(r.replicationId));
  info.SetString(Repl::kSourceVMName, r.source);
  info.SetString(Repl::kDestinationVMGuid, "dst-" + id);
  info.SetString(Repl::kDestinationVMName, r.destination);
  CNMessageBase& subtask = info.MutableMsg(Repl::kSubtask);
  subtask.SetInt32(ZnEntities::SubtaskEntity::kSubtaskId, where.taskId * 10);
  subtask.SetInt32(ZnEntities::SubtaskEntity::kTaskId, where.taskId);
  CNMessageBase& subclient = info.MutableMsg(Repl::kSubclient);
  subclient.SetInt32(ZnEntities::SubClientEntity::kSubclientId, where.subclientId);
  subclient.SetInt32(ZnEntities::SubClientEntity::kClientId, kClientId);
  subclient.SetInt32(ZnEntities::SubClientEntity::kInstanceId, kSampleSourceInstanceId);
  // Where the hypervisor lab keeps the DR VM, and how it is reached.
  CNMessageBase& destination = info.MutableMsg(Repl::kDestinationInstance);
  destination.SetInt32(ZnEntities::InstanceEntity::kInstanceId, where.destinationInstanceId);
  destination.SetInt32(ZnEntities::InstanceEntity::kClientId, where.destinationInstanceId);
  CNMessageBase& proxy = info.MutableMsg(Repl::kDestinationProxy);
  proxy.SetInt64(ZnEntities::ClientEntity::kClientId, where.proxy.clientId);
  proxy.SetString(ZnEntities::ClientEntity::kClientName, where.proxy.name);
  info.MutableMsg(Repl::kReplicationTarget).SetInt32(ZnEntities::ReplicationTargetEntity::kTargetId, where.targetId);
  for (int disk = 0; disk < SampleDiskCount(r.replicationId); ++disk) {
    CNMessageBase& tracking = info.AddMsg(Repl::kTrackingIds);
    const std::string suffix = id + "-" + std::to_string(disk);
    tracking.SetString(App::VSAReplicationTrakingIdInfo::kDiskName, std::string(r.source) + "-disk-" + std::to_string(disk));
    tracking.SetString(App::VSAReplicationTrakingIdInfo::kTrackingId, "trk-" + suffix);
    tracking.SetString(App::VSAReplicationTrakingIdInfo::kIntegritySnapshot, "isnap-" + suffix);
  }
  CNMessageBase& sourceClient = info.AddMsg(Repl::kProperties);
  sourceClient.SetInt32(App::VSAReplicationProperties::kPropertyId, CReplicationStore::kPropSourceVMClientId);
  sourceClient.SetString(App::VSAReplicationProperties::kValue,
                         std::to_string(kSampleSourceClientBase + r.replicationId));
  if (where.failbackTaskId != 0) {
    CNMessageBase& failback = info.AddMsg(Repl::kProperties);
    failback.SetInt32(App::VSAReplicationProperties::kPropertyId, CReplicationStore::kPropFailbackTaskId);
    failback.SetString(App::VSAReplicationProperties::kValue, std::to_string(where.failbackTaskId));
  }
  info.SetInt32(Repl::kSyncStatus, App::VSA_REPL_STATUS_IN_SYNC);
  info.SetInt32(Repl::kFailoverStatus, App::VSA_FAILOVER_STATUS_NONE);
  info.SetInt32(Repl::kDestinationVendor, where.destinationVendor);
  info.SetInt32(Repl::kSourceVendor, kVendor);
  info.SetInt32(Repl::kToolsInstalled, 1);
  if (!CReplicationStore::Put(info, where.taskId)) {
    error = "cannot store replication [" + id + "]";
    return false;
  }
  return true;
}

// A replication task: VM restore options with every DR switch off.
bool StoreReplicationTask(int taskId, std::string& error) {
  TMMsg::TaskInfo task;
  CNMessageBase& vmOptions = task.AddMsg(TMMsg::TaskInfo::kSubTasks)
                                 .MutableMsg(TMMsg::SubTaskInfo::kJobOptions)
                                 .MutableMsg(TMMsg::JobOption::kRestoreOptions)
                                 .MutableMsg(TMMsg::RestoreOptionFields::kVirtualServerRestoreOptions)
                                 .MutableMsg(TMMsg::VirtualServerRestoreOptionFields::kVMRestoreOptions);
  vmOptions.SetInt32(TMMsg::DiskLevelVMRestoreOption::kDeployVMAtFailover, 0);
  vmOptions.SetInt32(TMMsg::DiskLevelVMRestoreOption::kFirstSyncDuringFailover, 0);
  // Where each DR VM stands on the destination site, which the VM
  // operations on it (the post-failover placement among them) carry.
  for (const SSampleVM& r : kSampleVMs) {
    CNMessageBase& placement = vmOptions.AddMsg(TMMsg::DiskLevelVMRestoreOption::kAdvancedRestoreOptions);
    placement.SetString(TMMsg::VMWAdvancedRestoreOptions::kVMName, r.source);
    placement.SetString(TMMsg::VMWAdvancedRestoreOptions::kNewVMName, r.destination);
    placement.SetString(TMMsg::VMWAdvancedRestoreOptions::kEsxHost, "esx-b1");
    placement.SetString(TMMsg::VMWAdvancedRestoreOptions::kDatastore, "ds-b1");
    placement.SetString(TMMsg::VMWAdvancedRestoreOptions::kDatacenter, "dc-b");
    placement.SetString(TMMsg::VMWAdvancedRestoreOptions::kCluster, "cluster-b");
  }
  std::string taskXml;
  if (!task.serializeUTF8(taskXml) || !CTaskStore::PutTask(taskId, taskXml)) {
    error = "cannot store replication task [" + std::to_string(taskId) + "]";
    return false;
  }
  return true;
}

// The test group's recovery target: a clone kept a day, with the test size
// and the test network.
bool StoreTestRecoveryTarget(std::string& error) {
  SRecoveryTarget target;
  target.region = "dc-c";
  target.testVMHours = 24;
  target.vmSize = "Standard_B1s";
  target.testVMSize = kSampleTestVMSize;
  target.testNetwork = kSampleTestNetwork;
  target.testSubnet = kSampleTestSubnet;
  target.destinationNetwork = "net-c";
  if (!CVmAllocationPolicyStore::AddRecoveryTarget(kSampleTestTargetId, "SampleTest recovery target", target)) {
    error = "cannot store recovery target [" + std::to_string(kSampleTestTargetId) + "]";
    return false;
  }
  return true;
}

}  // namespace

bool SeedSampleReplications(std::string& error) {
  if (!StoreReplicationTask(kReplicationTaskId, error)) return false;
  const SSampleGroupSites sample{kReplicationTaskId, kReplicationSubclientId, kSampleDestinationInstanceId, kVendor,
                                 kSampleDestinationProxy, kSampleTargetId, kSampleFailbackTaskId};
  for (const SSampleVM& r : kSampleVMs) {
    if (!StoreReplication(r, sample, error)) return false;
  }
  const SSampleGroupSites test{kSampleTestTaskId, kSampleTestSubclientId, kSampleCloudInstanceId, kSampleCloudVendor,
                               kSampleCloudProxy, kSampleTestTargetId, 0};
  if (!StoreReplicationTask(kSampleTestTaskId, error) || !StoreTestRecoveryTarget(error)) return false;
  for (const SSampleVM& r : kSampleTestVMs) {
    if (!StoreReplication(r, test, error)) return false;
  }
  if (!CTaskStore::PutTask(kSampleDRBackupTaskId, ETaskKind::kSchedule, DRBackupSchedule())) {
    error = "cannot store the DR backup schedule [" + std::to_string(kSampleDRBackupTaskId) + "]";
    return false;
  }
  if (!CTaskStore::PutTask(kSampleFailbackTaskId, ETaskKind::kSchedule, FailbackSchedule())) {
    error = "cannot store the failback schedule [" + std::to_string(kSampleFailbackTaskId) + "]";
    return false;
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
