// The simulated job manager's jobs, kept in the management database so that
// what one process (or call) writes, the next one reads: the DR job host,
// a second "drjob control" process and the tests all see the same jobs.
//
// Status texts follow the job manager's words ("Running", "Suspended",
// "Completed", "Killed", "Failed", ...); percent is 0..100.
#pragma once

#include <string>
#include <vector>

#include "core/ProcessIdentity.h"
#include "core/StoreResult.h"

struct SJobRecord {
  long long jobId = 0;
  int jobType = 0;
  std::string status = "Running";
  double percent = 0.0;
  int ownerId = 1;
  std::string optionsXml;
  std::string restartString;
  int pendingCause = 0;
  int controlOp = 0;
  long long parentJobId = 0;
  std::string name;
  std::string inputs;
  int clientId = 0;
  // Job operations are accepted but leave the job as it is.
  bool ignoreOps = false;
  // The job's operation type (ZNOpType); 0 when not known.
  int opType = 0;
  // The process that holds the job's run lease (empty when none does).
  SProcessId runner;
};

// The answer of taking a job's run lease.
enum class ELeaseResult {
  kTaken,    // the caller holds the lease now (or held it already)
  kHeld,     // a live process holds it (or one of another machine); nothing changed
  kMissing,  // no such job; nothing changed
  kFailed,   // the database call failed; the reason is logged
};

class CJobStore {
 public:
  static constexpr const char* kTable = "PLT_Jobs";
  // Job types the simulator knows.
  static constexpr int kTypeDR = 1;
  // The job controller's codes of a kill and a suspend request (controlOp).
  static constexpr int kControlKill = 1;
  static constexpr int kControlSuspend = 2;
  static constexpr int kTypeWorkflow = 2;
  static constexpr int kTypeChild = 3;

  // Every read tells a missing job (kMissing) from a failed read (kFailed,
  // logged); every write tells a job that does not exist from a write that
  // failed. Nothing here ever replaces a job record wholesale.

  // Adds a new job; a job id of 0 takes the next free id. A job id that is
  // already taken is refused: a job record is never overwritten. Returns the
  // job id, 0 on failure (logged). A job made with a runner is made with
  // its run lease held, in the same statement.
  static long long CreateJob(const SJobRecord& job);
  static EStoreResult GetJob(long long jobId, SJobRecord& out);
  // Every job by id; kOk or kFailed.
  static EStoreResult Jobs(std::vector<SJobRecord>& out);
  // The jobs whose record names parentJobId as their parent, by id; kOk or
  // kFailed.
  static EStoreResult JobsOf(long long parentJobId, std::vector<SJobRecord>& out);

  static EStoreResult SetStatus(long long jobId, const std::string& status, double percent);
  static EStoreResult SetPercent(long long jobId, double percent);
  static EStoreResult SetIgnoreOperations(long long jobId, bool ignore);
  static EStoreResult SetPendingCause(long long jobId, int code);

  // The control operation the job controller reports for the job (1 kill,
  // 2 suspend, ...; 0 clears it). One call is all "drjob control" needs.
  static EStoreResult SetControlOperation(long long jobId, int op);
  static EStoreResult GetControlOperation(long long jobId, int& op);
  // A request for the run of a job: stored only while the record says
  // "Running", in one statement, so that it falls either before the run's
  // EndRun, which then reads it, or after, and is refused. kMissing when
  // there is no such job or it is not running (nothing changed).
  static EStoreResult RequestControl(long long jobId, int op);
  // The run's final status and percent stored, and the control request
  // that stood at that moment read, in one write transaction: no request
  // can fall between the read and the write.
  static EStoreResult EndRun(long long jobId, const std::string& status, double percent, int& request);

  static EStoreResult SetOperationType(long long jobId, int opType);
  static EStoreResult GetOperationType(long long jobId, int& opType);

  static EStoreResult SetRestartString(long long jobId, const std::string& text);
  // Empty when the job has none.
  static EStoreResult GetRestartString(long long jobId, std::string& text);

  // Ends a job that is still running or suspended: the final status and
  // percent 100 in one conditional update, so of two callers (threads or
  // processes) that end the same job only one does. With runningOnly, only
  // a job that is "Running" ends (a suspended one stays). kOk when this call
  // ended the job; kMissing when there is no such job or it was not in a
  // state it could end from (nothing changed).
  static EStoreResult EndIfActive(long long jobId, const std::string& status, bool runningOnly = false);
  // Moves a job from one status to another, percent untouched; kMissing when
  // the job does not exist or is not in status `from`.
  static EStoreResult ChangeStatusIf(long long jobId, const std::string& from, const std::string& to);
  // Sets the percent of a job that is still running or suspended; kMissing
  // when there is none.
  static EStoreResult SetPercentIfActive(long long jobId, double percent);

  // The job manager's reaction to an operation on a job: 0 suspend gives
  // "Suspended", 2 resume "Running", 3 kill "Killed" (percent 100).
  static EStoreResult ApplyOperation(long long jobId, int op);

  // The run lease: one process at a time runs a job, whatever path or
  // lock folder it came through, because the lease lives in the job's row.
  // Taking it reads and writes the row in one write transaction: a free
  // lease, the caller's own, or one whose process has gone is taken
  // (previous then names the process that had gone, or is empty); a lease
  // of a live process, or of a process of another machine, is left alone
  // (kHeld, previous names it).
  static ELeaseResult TakeRunLease(long long jobId, const SProcessId& runner, SProcessId& previous);
  // Frees the lease when runner holds it; kMissing when it does not.
  static EStoreResult ReleaseRunLease(long long jobId, const SProcessId& runner);
  // A job whose lease a live process (or one of another machine) holds:
  // kOk with the first such job, kMissing when there is none.
  static EStoreResult FindLiveRunner(long long& jobId, SProcessId& runner);
  // The lease's columns, which a jobs table made before them lacks.
  static constexpr const char* kLeaseColumns[] = {"runnerHost", "runnerPid", "runnerStart"};

  // Creates the jobs table on the calling thread's database.
  static bool CreateTables();
};
