// The job simulator's own state of its child jobs, and the one owner of its
// tables: PLT_SimJobs (one row per child job: what it works on, its planned
// duration and progress, hung, ended, its faults), PLT_SimSettings (the job
// id counter, the durations by type) and PLT_SimNextFaults (faults waiting
// for the next job of a type).
//
// The job's status text and percent are its job record's (CJobStore); a row
// here says only whether the simulator still runs it. Writes join the
// caller's transaction (the simulator groups a job's changes in one);
// conditional ones change only a job that has not ended and answer kMissing
// otherwise.
#pragma once

#include <string>
#include <vector>

#include "core/StoreResult.h"
#include "jobsim/JobSimulator.h"

class CSimJobStore {
 public:
  static constexpr const char* kTables[] = {"PLT_SimJobs", "PLT_SimSettings", "PLT_SimNextFaults"};
  // Child job ids start here and stay below kJobIdLimit (signed 32-bit
  // columns hold them).
  static constexpr long long kFirstJobId = 100001;
  static constexpr long long kJobIdLimit = 2147483647LL;

  // Adds the row of a new job (status, percent and childJobIds are not
  // stored here). False (logged) when it cannot be stored or the id is taken.
  static bool Insert(const SChildJobRecord& job);
  static EStoreResult Get(long long jobId, SChildJobRecord& out);
  static EStoreResult All(std::vector<SChildJobRecord>& out);
  // Jobs the runner advances: not ended, not hung, not VM children.
  static EStoreResult AdvanceableIds(std::vector<long long>& out);
  // Jobs that have not ended and do what the given one does: a backup of
  // its subclient, a sync or restore of its task sharing a replication, an
  // aux or backup copy to its copy. VM children are never counted.
  static EStoreResult RunningOfPurpose(const SChildJobRecord& job, std::vector<long long>& out);
  // Sync jobs of a task that have not ended, by id.
  static EStoreResult RunningSyncIds(int taskId, std::vector<long long>& out);
  // Backup jobs of a storage policy that ended well (not VM children).
  static EStoreResult SucceededBackupsOfPolicy(int policyId, std::vector<SChildJobRecord>& out);
  // VM children of a backup job, by id.
  static EStoreResult VMChildren(long long backupJobId, std::vector<SChildJobRecord>& out);
  // The latest backup that took the VM of a replication and ended well: its
  // VM child, or the backup itself when it made no VM children. 0 when none.
  static EStoreResult LatestBackupOfVM(int replicationId, int subclientId, long long& jobId);

  static EStoreResult SetElapsed(long long jobId, long long elapsedMs);
  static EStoreResult SetHung(long long jobId, bool hung);
  static EStoreResult SetFaults(long long jobId, const SJobFaults& faults);
  // Marks the job ended with its final status; kMissing when it already was.
  static EStoreResult MarkEnded(long long jobId, const std::string& status, const std::string& reason);

  // The next free child job id (inside the caller's write transaction): the
  // counter's value, skipping ids the job store already holds. 0 (logged)
  // when the counter has run out or cannot be read.
  static long long TakeJobId();

  static long long Setting(const std::string& name, long long otherwise);
  static bool SetSetting(const std::string& name, long long value);

  static bool PutNextFaults(EChildJobType type, const SJobFaults& faults);
  // The faults waiting for the next job of a type, which are then gone;
  // none (flags 0) when there are none.
  static EStoreResult TakeNextFaults(EChildJobType type, SJobFaults& out);

  // Whether a final status counts as the job having done its work.
  static bool IsSuccess(const std::string& status);

  static bool CreateTables();
};
