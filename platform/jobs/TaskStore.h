// The simulated task manager's task definitions: the XML of each task's
// TMMsg::TaskInfo under its task id, kept in the management database. The
// stored procedure "TM_GetTaskDetail" (inputs: task id, user id, flags)
// answers a TMMsg::GetTaskDetailResp holding the stored task, or fails with
// an error text for a task that does not exist.
#pragma once

#include <string>

class CTaskStore {
 public:
  // Creates or replaces the task.
  static bool PutTask(int taskId, const std::string& taskInfoXml);
  static bool GetTask(int taskId, std::string& taskInfoXml);
  static bool RemoveTask(int taskId);

  // Registers "TM_GetTaskDetail" once per process (the procedure registry
  // calls it before every lookup, so a test's own handler registered later
  // wins); Restore puts the built-in one back.
  static void Install();
  static void Restore();
};
