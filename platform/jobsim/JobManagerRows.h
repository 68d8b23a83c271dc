// The job manager's rows about child jobs that a DR job's waits read, and the
// one owner of their tables (written by the job simulator only):
// - JMBkpJobInfo: a running backup job and the subclient it backs up;
// - JMAdminJobInfoTable: a running aux copy or backup copy job, its storage
//   policy and copy;
// - JMJobDataLink: a backup job's VM child jobs (link type 7);
// - JMJobDataStats: where a job's data is, kStreams rows per (job, copy),
//   status 100 on a copy that holds the data, below 100 otherwise.
// The first three are created from the bindings' registered columns; the
// last has no binding and is this owner's own.
//
// Writes join the caller's transaction (the simulator's ending).
#pragma once

#include "core/StoreResult.h"

class CJobManagerRows {
 public:
  static constexpr const char* kTables[] = {"JMBkpJobInfo", "JMAdminJobInfoTable", "JMJobDataLink",
                                            "JMJobDataStats"};
  static constexpr int kHaldenId = 2;
  static constexpr int kLinkVMChild = 7;
  // childJobStatus of a link: the VM child completed.
  static constexpr int kChildCompleted = 1;
  static constexpr int kStreams = 2;
  static constexpr int kCopied = 100;

  static bool AddRunningBackup(long long jobId, int applicationId);
  static bool AddRunningAdminJob(long long jobId, int opType, int policyId, int copyId);
  // Removes the job's running rows of both tables.
  static bool RemoveRunning(long long jobId);

  static bool AddChildLink(long long parentJobId, long long childJobId, int parentAppId, int childAppId,
                           int childStatus);

  // kStreams data rows of (job, copy) with the status.
  static bool AddDataRows(long long jobId, int copyId, int status);
  // Every data row of (job, copy), or only its first stream's.
  static bool SetDataRows(long long jobId, int copyId, int status, bool firstStreamOnly = false);
  // Whether the copy holds the job's data: it has rows, all kCopied.
  static EStoreResult HoldsData(long long jobId, int copyId, bool& holds);

  // Tells the database how its tables look (CSimulators::Install): the
  // one description a table of the simulated server is created from.
  static void DescribeTables();
  static bool CreateTables();
};
