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

  static constexpr const char* kTable = "PLT_Tasks";

  // Registers "TM_GetTaskDetail" (CSimulators::Install).
  static void Register();
  // Creates the task table on the calling thread's database.
  static bool CreateTables();
};
