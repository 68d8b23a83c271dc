// Per-task DR options read from the replication task's definition.
#include "DRAppManager.h"

namespace {

// Path from a task definition to its VM restore options: first sub-task (5),
// its job options (4), restore options (2), virtual server restore options
// (25), VM restore options (1).
const CNMessageBase* VMRestoreOptions(const TMMsg::TaskInfo& task) {
  if (task.ListSize(5, 5) == 0) return nullptr;
  const CNMessageBase& subtask = task.GetListMsg(5, 5, 0);
  if (!subtask.Has(4)) return nullptr;
  const CNMessageBase& jobOptions = subtask.GetMsg(4, 4);
  if (!jobOptions.Has(2)) return nullptr;
  const CNMessageBase& restore = jobOptions.GetMsg(2, 2);
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
