// The one owner of the DR jobs' phase rows (App_VirtualAppJobStats) on the
// simulated management server: the phase-row procedure writes through it,
// the approval workflow adds its row through it and the previous-run query
// reads through it. Every time it stores is the platform clock's (scaled)
// epoch time, so rows written at any time scale read back consistently.
//
// Threads: any; each call runs on the calling thread's connection.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "core/StoreResult.h"

struct SPhaseRowRecord;

// One phase of one replication of a DR job, as the procedure receives it.
struct SPhaseRowChange {
  // A change that leaves the row as it stands: its keys, state and details
  // (no failure reason), for the caller to alter.
  static SPhaseRowChange Of(const SPhaseRowRecord& row);

  long long jobId = 0;
  int vappId = 0;
  int clientId = 0;  // 0 keeps the client an existing row has
  int replicationId = 0;
  int appTypeId = 0;
  int phase = 0;
  int state = 0;
  std::string details;        // the phase information XML, may be empty
  std::string failureReason;  // stored for a failed phase
};

struct SPhaseRowRecord {
  long long jobId = 0;
  int haldenId = 0;
  int vappId = 0;
  int clientId = 0;
  int replicationId = 0;
  int phase = 0;
  std::string phaseName;
  int status = 0;
  long long startTime = 0;
  long long endTime = 0;
  bool hasDetails = false;
  std::string details;
  std::string failureReason;
  int appTypeId = 0;
};

class CPhaseRowStore {
 public:
  static constexpr const char* kTable = "App_VirtualAppJobStats";
  // The approval phase of a DR job and the row's display name.
  static constexpr int kApprovalPhase = 27;

  // Adds each change as the row of its job, replication and phase, or
  // updates that row in place; all changes or none (the caller's open
  // transaction is joined). A phase in progress has no end time yet.
  static bool Apply(const std::vector<SPhaseRowChange>& changes);
  // The DR job's approval row (replication 0), started and ended now.
  static bool AddApprovalRow(long long drJobId, int vappId, int clientId, int status);
  // Every row of the job, by replication then phase. kFailed when the rows
  // cannot be read (the caller must not take that for "no rows").
  static EStoreResult ReadJob(long long jobId, std::vector<SPhaseRowRecord>& rows);
  // The child jobs a row's details name (each job entry's id, in order; a
  // DR job's rows may name the DR job itself); none for details that do not
  // parse.
  static std::vector<long long> ChildJobsOf(const std::string& details);
  // The jobs whose rows name the child job, by id, each once; a job's rows
  // naming the job itself do not count. kFailed when the rows cannot be
  // read.
  static EStoreResult JobsNamingChild(long long childJobId, std::vector<long long>& jobIds);
  // The rows other jobs added after the last row the job added (none when
  // it has none), as each replication they name (the approval rows aside)
  // with those jobs, by the order of their last such row, the latest last.
  // Rows are added in the order they are first written, whatever process
  // writes them; a row updated in place keeps its place. kFailed when the
  // rows cannot be read.
  static EStoreResult JobsSince(long long jobId, std::map<int, std::vector<long long>>& byReplication);
  // Tells the database how its tables look (CSimulators::Install): the
  // one description a table of the simulated server is created from.
  static void DescribeTables();
  // Creates the table on the calling thread's database.
  static bool CreateTables();
};
