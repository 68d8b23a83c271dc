// Per-task DR options read from the replication task's definition.
#include "DRAppManager.h"
#include "engine/ZnCriticalSectionLock.h"

namespace {

using RestoreOption = TMMsg::RestoreOptionFields;
using VMRestoreOption = TMMsg::DiskLevelVMRestoreOption;

// Path from a task definition to its restore options: first sub-task, its
// job options, restore options.
const CNMessageBase* RestoreOptions(const TMMsg::TaskInfo& task) {
  if (task.ListSize(TMMsg::TaskInfo::kSubTasks) == 0) return nullptr;
  const CNMessageBase& subtask = task.GetListMsg(TMMsg::TaskInfo::kSubTasks, 0);
  if (!subtask.Has(TMMsg::SubTaskInfo::kJobOptions)) return nullptr;
  const CNMessageBase& jobOptions = subtask.GetMsg(TMMsg::SubTaskInfo::kJobOptions);
  if (!jobOptions.Has(TMMsg::JobOption::kRestoreOptions)) return nullptr;
  return &jobOptions.GetMsg(TMMsg::JobOption::kRestoreOptions);
}

// Further on: virtual server restore options, VM restore options.
const CNMessageBase* VMRestoreOptions(const TMMsg::TaskInfo& task) {
  const CNMessageBase* found = RestoreOptions(task);
  if (found == nullptr) return nullptr;
  const CNMessageBase& restore = *found;
  if (!restore.Has(RestoreOption::kVirtualServerRestoreOptions)) return nullptr;
  const CNMessageBase& vsRestore = restore.GetMsg(RestoreOption::kVirtualServerRestoreOptions);
  if (!vsRestore.Has(TMMsg::VirtualServerRestoreOptionFields::kVMRestoreOptions)) return nullptr;
  return &vsRestore.GetMsg(TMMsg::VirtualServerRestoreOptionFields::kVMRestoreOptions);
}

}  // namespace

// Each reader runs once per machine: it reads the cached definition in
// place, as a copy costs what the task's replications make it.

void CDRAppManager::QueryFirstTimeSyncDuringFailover(long taskId) {
  int flag = -1;
  // A task that cannot be loaded changes nothing.
  ReadTaskInfo(static_cast<int>(taskId), [&flag](const TMMsg::TaskInfo& task) {
    const CNMessageBase* options = VMRestoreOptions(task);
    if (options != nullptr && options->Has(VMRestoreOption::kFirstSyncDuringFailover)) {
      flag = options->GetInt32(VMRestoreOption::kFirstSyncDuringFailover) != 0 ? 1 : 0;
    }
  });
  if (flag < 0) return;
  m_firstTimeSyncDuringFailover = flag != 0;
  m_event.Debug("QueryFirstTimeSyncDuringFailover", "First time Sync during failover is set [%s] for task [%ld]",
                m_firstTimeSyncDuringFailover ? "true" : "false", taskId);
}

bool CDRAppManager::IsReplicaSyncDirectEnabled(long taskId) {
  bool enabled = false;
  ReadTaskInfo(static_cast<int>(taskId), [&enabled](const TMMsg::TaskInfo& task) {
    const CNMessageBase* restore = RestoreOptions(task);
    enabled = restore != nullptr && restore->Has(RestoreOption::kReplicaSyncDirect) &&
              restore->GetInt32(RestoreOption::kReplicaSyncDirect) == 1;
  });
  return enabled;
}

bool CDRAppManager::IsJobBucketingEnabledInSync(long taskId) {
  bool enabled = false;
  ReadTaskInfo(static_cast<int>(taskId), [&enabled](const TMMsg::TaskInfo& task) {
    const CNMessageBase* options = VMRestoreOptions(task);
    enabled = options != nullptr && options->Has(VMRestoreOption::kJobBucketingInSync) &&
              options->GetInt32(VMRestoreOption::kJobBucketingInSync) > 0;
  });
  if (enabled) m_event.Debug("IsJobBucketingEnabledInSync", "Job bucketing enabled for task [%ld]", taskId);
  return enabled;
}

bool CDRAppManager::IsCreateDRVMOptionEnabled(long taskId) {
  bool enabled = false;
  const bool loaded = ReadTaskInfo(static_cast<int>(taskId), [&enabled](const TMMsg::TaskInfo& task) {
    const CNMessageBase* options = VMRestoreOptions(task);
    enabled = options != nullptr && options->Has(VMRestoreOption::kDeployVMAtFailover) &&
              options->GetInt32(VMRestoreOption::kDeployVMAtFailover) != 0;
  });
  if (!loaded) return false;
  m_event.Debug("IsCreateDRVMOptionEnabled", "Deploy VM when failover is [%s] for task [%ld]",
                enabled ? "true" : "false", taskId);
  return enabled;
}
