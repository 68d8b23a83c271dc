// The simulated task manager's task definitions, and the one owner of their
// table (PLT_Tasks): the XML of each task's TMMsg::TaskInfo under its task
// id, with its kind: a schedule (the lab's replication and DR backup
// schedules) or a one-shot task (what a create-task request ran).
//
// A stored task names itself: its task object carries its id
// (TMMsg::TaskObjectFields::kTaskId), which is how a modify request says
// which task it replaces. CreateTask, ModifyTask and the typed PutTask write
// it; the text PutTask stores the XML as it is given, and "TM_GetTaskDetail"
// answers every task naming the id it is stored under, so a task stored as
// text can be read, edited and sent back like any other.
//
// A deleted task stays as a tombstone, so a later task never takes its id,
// but nothing reads it any more. The stored procedure "TM_GetTaskDetail"
// (inputs: task id, user id, flags) answers a TMMsg::GetTaskDetailResp
// holding the stored task, or fails with an error text for a task that does
// not exist (or was deleted).
#pragma once

#include <string>
#include <vector>

#include "core/StoreResult.h"
#include "msg/MsgClasses.h"

enum class ETaskKind { kSchedule = 1, kOneShot = 2 };

struct STaskRecord {
  int taskId = 0;
  ETaskKind kind = ETaskKind::kSchedule;
  std::string xml;        // the TMMsg::TaskInfo
  long long created = 0;  // platform clock, seconds
  long long modified = 0;
};

class CTaskStore {
 public:
  static constexpr const char* kTable = "PLT_Tasks";
  // Tasks CreateTask makes take ids from here on (the lab's own stay below).
  static constexpr int kFirstCreatedTaskId = 1001;

  // A schedule stored as given, replacing a task of the id (the lab, tests).
  static bool PutTask(int taskId, const std::string& taskInfoXml);
  // The same for a task message, which is stored naming its id.
  static bool PutTask(int taskId, ETaskKind kind, const TMMsg::TaskInfo& info);
  // A new task with the next free id (never one a deleted task had).
  static EStoreResult CreateTask(ETaskKind kind, const TMMsg::TaskInfo& info, int& taskId);
  // Replaces the definition of a stored task, keeping its kind; kMissing
  // when there is no such task.
  static EStoreResult ModifyTask(int taskId, const TMMsg::TaskInfo& info);
  // kMissing when there is no such task (or it was deleted before).
  static EStoreResult DeleteTask(int taskId);

  static EStoreResult ReadTask(int taskId, STaskRecord& out);
  // Every task that is not deleted, by id.
  static EStoreResult Tasks(std::vector<STaskRecord>& out);

  // Shorthands of the reads and deletion for callers that need no reason.
  static bool GetTask(int taskId, std::string& taskInfoXml);
  // True when the task is gone afterwards (also when it never was).
  static bool RemoveTask(int taskId);

  // The id a task message names; 0 when it names none.
  static int TaskIdOf(const TMMsg::TaskInfo& info);
  static const char* KindText(ETaskKind kind);

  // Registers "TM_GetTaskDetail" (CSimulators::Install).
  static void Register();
  // Creates the task table on the calling thread's database (and adds the
  // columns a table of an older lab lacks).
  static bool CreateTables();
};
