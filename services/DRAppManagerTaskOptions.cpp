// Per-task DR options read from the replication task's definition.
#include "DRAppManager.h"
#include "engine/ZnCriticalSectionLock.h"

namespace {

// Path from a task definition to its restore options: first sub-task (5),
// its job options (4), restore options (2).
const CNMessageBase* RestoreOptions(const TMMsg::TaskInfo& task) {
  if (task.ListSize(5, 5) == 0) return nullptr;
  const CNMessageBase& subtask = task.GetListMsg(5, 5, 0);
  if (!subtask.Has(4)) return nullptr;
  const CNMessageBase& jobOptions = subtask.GetMsg(4, 4);
  if (!jobOptions.Has(2)) return nullptr;
  return &jobOptions.GetMsg(2, 2);
}

// Further on: virtual server restore options (25), VM restore options (1).
const CNMessageBase* VMRestoreOptions(const TMMsg::TaskInfo& task) {
  const CNMessageBase* found = RestoreOptions(task);
  if (found == nullptr) return nullptr;
  const CNMessageBase& restore = *found;
  if (!restore.Has(25)) return nullptr;
  const CNMessageBase& vsRestore = restore.GetMsg(25, 25);
  if (!vsRestore.Has(1)) return nullptr;
  return &vsRestore.GetMsg(1, 1);
}

}  // namespace

void CDRAppManager::QueryFirstTimeSyncDuringFailover(long taskId) {
  TMMsg::TaskInfo task;
  bool found = false;
  // A task that cannot be loaded changes nothing.
  if (!QueryTaskInfo(static_cast<int>(taskId), task, found) || !found) return;
  const CNMessageBase* options = VMRestoreOptions(task);
  if (options == nullptr || !options->Has(41)) return;
  m_firstTimeSyncDuringFailover = options->GetInt32(74) != 0;
  m_event.Debug("QueryFirstTimeSyncDuringFailover", "First time Sync during failover is set [%s] for task [%ld]",
                m_firstTimeSyncDuringFailover ? "true" : "false", taskId);
}

bool CDRAppManager::IsReplicaSyncDirectEnabled(long taskId) {
  ZnCriticalSectionLock lock(&m_taskLock);
  TMMsg::TaskInfo task;
  bool found = false;
  if (!QueryTaskInfo(static_cast<int>(taskId), task, found) || !found) return false;
  const CNMessageBase* restore = RestoreOptions(task);
  return restore != nullptr && restore->Has(55) && restore->GetInt32(70) == 1;
}

bool CDRAppManager::IsJobBucketingEnabledInSync(long taskId) {
  TMMsg::TaskInfo task;
  bool found = false;
  if (!QueryTaskInfo(static_cast<int>(taskId), task, found) || !found) return false;
  const CNMessageBase* options = VMRestoreOptions(task);
  if (options == nullptr || !options->Has(31) || options->GetInt32(61) <= 0) return false;
  m_event.Debug("IsJobBucketingEnabledInSync", "Job bucketing enabled for task [%ld]", taskId);
  return true;
}

bool CDRAppManager::IsCreateDRVMOptionEnabled(long taskId) {
  TMMsg::TaskInfo task;
  bool found = false;
  if (!QueryTaskInfo(static_cast<int>(taskId), task, found) || !found) return false;
  const CNMessageBase* options = VMRestoreOptions(task);
  const bool enabled = options != nullptr && options->Has(37) && options->GetInt32(67) != 0;
  m_event.Debug("IsCreateDRVMOptionEnabled", "Deploy VM when failover is [%s] for task [%ld]",
                enabled ? "true" : "false", taskId);
  return enabled;
}
