#include "SeedReplications.h"

#include <vector>

#include "msg/MsgClasses.h"
#include "msg/MsgEnums.h"
#include "appmgr/VmAllocationPolicyStore.h"
#include "jobs/TaskStore.h"

namespace {

const int kClientId = 1;

std::string SourceGuid(int replicationId) { return "src-" + std::to_string(replicationId); }

// A scheduled backup of the sample subclient that selects every sample VM.
TMMsg::TaskInfo DRBackupSchedule() {
  TMMsg::TaskInfo task;
  CNMessageBase& object = task.MutableMsg(TMMsg::TaskInfo::kTask);
  object.SetInt32(TMMsg::TaskObjectFields::kFlag5, 1);
  object.SetInt32(TMMsg::TaskObjectFields::kTaskType, 1);
  CNMessageBase& entity = task.AddMsg(TMMsg::TaskInfo::kAssociations);
  entity.SetInt32(ZnEntities::GenericEntity::kSubclientId, kSampleSubclientId);
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
  if (!StoreTestRecoveryTarget(error)) return false;
  if (!CTaskStore::PutTask(kSampleDRBackupTaskId, ETaskKind::kSchedule, DRBackupSchedule())) {
    error = "cannot store the DR backup schedule [" + std::to_string(kSampleDRBackupTaskId) + "]";
    return false;
  }
  if (!CTaskStore::PutTask(kSampleFailbackTaskId, ETaskKind::kSchedule, FailbackSchedule())) {
    error = "cannot store the failback schedule [" + std::to_string(kSampleFailbackTaskId) + "]";
    return false;
  }
  return true;
}
