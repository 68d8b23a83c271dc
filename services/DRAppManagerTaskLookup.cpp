// Task definitions for the per-task option readers. The task cache and its
// procedure call come with task management; until then no task is found,
// which every reader treats as "option not set".
#include "DRAppManager.h"

bool CDRAppManager::QueryTaskInfo(int taskId, TMMsg::TaskInfo&, bool&) {
  m_event.DebugLvl(2, "QueryTaskInfo", "Task [%d] not loaded: task definitions are not read yet", taskId);
  return false;
}
