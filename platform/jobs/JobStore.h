// The simulated job manager's jobs, kept in the management database so that
// what one process (or call) writes, the next one reads: the DR job host,
// a second "drjob control" process and the tests all see the same jobs.
//
// Status texts follow the job manager's words ("Running", "Suspended",
// "Completed", "Killed", "Failed", ...); percent is 0..100.
#pragma once

#include <string>
#include <vector>

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
};

class CJobStore {
 public:
  // Job types the simulator knows.
  static constexpr int kTypeDR = 1;
  static constexpr int kTypeWorkflow = 2;
  static constexpr int kTypeChild = 3;

  // Creates or replaces the job. A job id of 0 takes the next free id.
  // Returns the job id, 0 on failure.
  static long long CreateJob(const SJobRecord& job);
  static bool GetJob(long long jobId, SJobRecord& out);
  static bool Exists(long long jobId);
  static std::vector<SJobRecord> Jobs();

  static bool SetStatus(long long jobId, const std::string& status, double percent);
  static bool SetPercent(long long jobId, double percent);
  static bool SetIgnoreOperations(long long jobId, bool ignore);
  static bool SetPendingCause(long long jobId, int code);

  // The control operation the job controller reports for the job (1 kill,
  // 2 suspend, ...; 0 clears it). One call is all "drjob control" needs.
  static bool SetControlOperation(long long jobId, int op);
  static int GetControlOperation(long long jobId);

  static bool SetOperationType(long long jobId, int opType);
  // The job's operation type; false when the job does not exist.
  static bool GetOperationType(long long jobId, int& opType);

  static bool SetRestartString(long long jobId, const std::string& text);
  // Empty when the job has none (or does not exist).
  static std::string GetRestartString(long long jobId);

  // The job manager's reaction to an operation on a job: 0 suspend gives
  // "Suspended", 2 resume "Running", 3 kill "Killed" (percent 100). False
  // when the job does not exist.
  static bool ApplyOperation(long long jobId, int op);
};
