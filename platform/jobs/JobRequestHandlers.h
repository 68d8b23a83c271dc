// The simulated management server's answers to the job-related requests:
// DR group reads, job lists, job operations, a DR job's phase records, and
// the creation of workflow jobs (the "DRApproval" workflow completes at once
// and records its decision, CLabStore::SetApprovalOutcome, in the DR job's
// approval phase row). The task manager's create-task entry hands workflow
// requests (operation code 2001) to CreateWorkflowTask.
//
// Job operations act on a job by its job type: a simulator that runs the
// jobs of a type (the job simulator's child jobs) registers who carries the
// operation out; jobs of other types get the job manager's plain reaction
// (CJobStore::ApplyOperation).
#pragma once

#include <functional>
#include <list>
#include <string>

#include "core/HandlerRegistry.h"
#include "core/StoreResult.h"

// Carries out operation op (0 suspend, 2 resume, 3 kill) on a job: kOk when
// applied or accepted, kMissing when there is no such job, kFailed (logged)
// when it could not be stored.
using JobOperationHandler = std::function<EStoreResult(long long jobId, int op)>;
using JobOperationRegistry = CHandlerRegistry<int, JobOperationHandler>;

class CJobRequestHandlers {
 public:
  // Registers the handlers with XMLHandler (CSimulators::Install).
  static void Register();
  // A workflow's create-task request (TMMsg::CreateTaskReq XML): the
  // workflow job, completed at once; 0 with its id appended to jobIds.
  static int CreateWorkflowTask(const std::string& xml, int userId, std::list<long long>& jobIds,
                                std::string& error);
  // Operation handlers by job type (CJobStore::kType...).
  static JobOperationRegistry& OperationHandlers();
};
