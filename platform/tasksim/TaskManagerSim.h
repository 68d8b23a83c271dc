// The simulated task manager: what it answers to the requests a DR job sends
// it, over the task store (CTaskStore) and the job simulator.
//
// - Create-task requests (TMMsg::CreateTaskReq), through XMLHandler (the
//   reply is a TMMsg::CreateTaskResp with the job ids as decimal text) and
//   through EvTask (the ids in the caller's list), reach one entry
//   (CreateTask), which routes by the first subtask's operation code:
//   2001 a workflow, 4003 an aux copy of (storage policy, copy) of the first
//   association, 4028 a backup copy of its storage policy (the copy id
//   arrives in the entity's subclient field), 2 a backup of its subclient:
//   the VMs of the VSA backup option's selection, or every replication of
//   the subclient without one. Each starts a job-simulator job whose parent
//   is the DR job the request's description names ("... DR Orchestration Job
//   [N]"), else 0, and is stored as a one-shot task with the jobs. Unknown
//   codes, subclients, policies and copies are refused with an error text.
// - Task operations (TMMsg::TaskOperationReq, XMLHandler), by operation:
//   3 deletes the named schedules and answers TMMsg::GenericResp; 5 starts a
//   sync of the subtask's task for the replications its option filters
//   pick (none: every replication of the task) and answers
//   TMMsg::CreateTaskResp with every job id. With filter 120015 = "true" the
//   start is a failback restore: one sync job of the task over the
//   replications of filter 120017, restoring each DR VM over the source VM
//   that advanced-option field 3 of the restore options (filter 120016,
//   which must parse) names on the source instance; a VM not found there
//   fails, the others go on. Sync bucketing: when the task's
//   VM restore options set kJobBucketingInSync to N > 0, the replications
//   are taken in id order N at a time, one sync job each; otherwise one job
//   syncs them all.
// - Modify-task requests (TMMsg::ModifyTaskReq, EvTask) replace the stored
//   task the message names (its task object's kTaskId); an unknown task is
//   refused.
//
// Create routes, task operations and sync filters are small tables
// (CHandlerRegistry) a later kind of request adds to, and a test may replace
// an entry of with a CScopedHandler. Replications come from the replication
// sources (CReplicationSources), never from one store directly.
//
// Faults are stored (CStandIns), so they hold in every process on the
// database until set back to kNone.
//
// Threads: every member may be called from any thread.
#pragma once

#include <functional>
#include <set>
#include <string>
#include <vector>

#include "core/HandlerRegistry.h"
#include "msg/MsgClasses.h"
#include "repl/ReplicationSources.h"

// Create-task requests through XMLHandler (a workflow's through EvTask is
// steered by CLabStore::SetApprovalOutcome instead).
enum class ECreateTaskFault {
  kNone = 0,
  kStartFails = 1,        // refused with an error text; nothing starts
  kNoJobId = 2,           // the jobs start, the reply names none
  kNonNumericJobId = 3,   // the jobs start, the reply names each as "job<id>"
};

// Deletion of schedules (task operation 3).
enum class EScheduleDeleteFault {
  kNone = 0,
  kPositiveCode = 1,  // error code kFaultErrorCode; nothing is deleted
  kNegativeCode = 2,  // error code -kFaultErrorCode; nothing is deleted
  kNoReply = 3,       // the schedules are deleted, the reply is empty
};

// Sync starts (task operation 5).
enum class ESyncStartFault {
  kNone = 0,
  kRefused = 1,          // fails with an error text; nothing starts
  kFailWithoutIds = 2,   // the jobs start; fails, its reply names none
  kFailWithIds = 3,      // the jobs start; fails, its reply names them all
  kOkWithoutIds = 4,     // the jobs start; succeeds, its reply names none
};

// A create-task request as its route sees it.
struct SCreateTaskCall {
  std::string xml;  // the request as it came
  int userId = 0;
  TMMsg::TaskInfo task;
  long long parentJobId = 0;  // the DR job the request's description names; 0 when none
};

// 0 with the ids of the jobs it started; otherwise the error text.
using CreateTaskRoute =
    std::function<int(const SCreateTaskCall& call, std::vector<long long>& jobIds, std::string& error)>;
using CreateTaskRouteRegistry = CHandlerRegistry<int, CreateTaskRoute>;

// Writes its reply; non-zero fails the request (the reply still says what
// was done).
using TaskOperation = std::function<int(const TMMsg::TaskOperationReq& request, std::string& reply, std::string& error)>;
using TaskOperationRegistry = CHandlerRegistry<int, TaskOperation>;

// One option filter of a sync start: adds to chosen, by its value, from the
// task's replications; false with the error text when the value does not
// name one of them.
using SyncFilter = std::function<bool(const std::string& value, const std::vector<SSourcedReplication>& ofTask,
                                      std::set<int>& chosen, std::string& error)>;
using SyncFilterRegistry = CHandlerRegistry<int, SyncFilter>;

class CTaskManagerSim {
 public:
  // Operation codes of a create-task request's first subtask.
  static constexpr int kOpBackup = 2;
  static constexpr int kOpWorkflow = 2001;
  static constexpr int kOpAuxCopy = 4003;
  static constexpr int kOpBackupCopy = 4028;
  // Task operations.
  static constexpr int kTaskOpDelete = 3;
  static constexpr int kTaskOpStartSync = 5;
  // Error codes of a deletion's TMMsg::GenericResp.
  static constexpr int kErrorBadRequest = 1;
  static constexpr int kErrorNoSuchTask = 2;
  static constexpr int kErrorNotASchedule = 3;
  static constexpr int kErrorNotStored = 4;
  static constexpr int kFaultErrorCode = 9;

  static CreateTaskRouteRegistry& Routes();
  static TaskOperationRegistry& Operations();
  static SyncFilterRegistry& Filters();

  // The create-task entry both request entries share.
  static int CreateTask(const std::string& xml, int userId, std::vector<long long>& jobIds, std::string& error);

  // Faults (stored; kNone clears).
  static bool SetCreateTaskFault(ECreateTaskFault fault);
  static ECreateTaskFault CreateTaskFault();
  static bool SetScheduleDeleteFault(EScheduleDeleteFault fault);
  static EScheduleDeleteFault ScheduleDeleteFault();
  static bool SetSyncStartFault(ESyncStartFault fault);
  static ESyncStartFault SyncStartFault();

  // The sync jobs' replications: ids in ascending order, perJob at a time
  // (perJob <= 0: all in one).
  static std::vector<std::vector<int>> SyncBuckets(std::vector<int> ids, int perJob);
  // A task's job bucketing value (its first subtask's VM restore options);
  // 0 when it sets none.
  static int JobBucketing(const TMMsg::TaskInfo& task);
  // The DR job a launch description names ("Launched by DR Orchestration
  // Job [N]"); 0 when it names none.
  static long long LaunchingJob(const std::string& description);

  // Registers the entries, the routes, the operations and the filters
  // (CSimulators::Install).
  static void Register();

 private:
  static void RegisterRoutes();
  static void RegisterOperations();
};
