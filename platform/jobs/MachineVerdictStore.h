// The one owner of the verdicts a DR job's engine gives its machines
// (PLT_MachineVerdicts): what became of each machine, counted as the job's
// summary counts it, with the phase and reason that tell the operator why.
// The engine replaces a job's verdicts as each attempt ends, and clears them
// when an attempt begins, so the rows always belong to the job's last
// attempt; drjob reads them to print its per-machine lines, at the end of
// the run and later.
//
// Threads: any; each call runs on the calling thread's connection.
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

#include "core/StoreResult.h"

// In the order of the job summary's counts.
enum class EMachineVerdict {
  kSucceeded = 0,
  kSkipped = 1,
  kNotProcessed = 2,  // pending: the job stopped with the machine still to do
  kFailed = 3,
  kNotReached = 4,    // counted failed by the summary, but the job never began it
};

// Where a machine the job did not finish already stands, when it stands
// where the job's DR type puts it: the type has nothing left to do there,
// so no next step names it.
enum class EMachinePlace {
  kNone = 0,             // not where the job's type puts it
  kFailedOver = 1,       // a failover's place
  kAtSource = 2,         // a failback's, a revert's or an undo's
  kInTestFailover = 3,   // a test failover's
  kNoTestFailover = 4,   // an undo test failover's
};

// What the command of the DR type that takes a machine lacks for it. For
// the job's own type (its restart, a new job made with its options): an
// option a step failed the machine for, which they would repeat. For
// another type, whose command carries none of the job's options: one that
// type needs.
enum class EMachineOption {
  kNone = 0,
  kPointInTime = 1,          // no point in time for the machine's replication
  kPointInTimeSnapshot = 2,  // a point in time its DR VM has no snapshot of
  kRestoreOptions = 3,       // restore options that name it (or none)
};

struct SMachineVerdict {
  long long jobId = 0;
  int replicationId = 0;
  int attempt = 0;     // the job's attempt that decided it, from 1
  int position = 0;    // the machine's place in the job's machine list
  std::string name;    // the machine as its replication names it
  EMachineVerdict verdict = EMachineVerdict::kNotReached;
  std::string phase;   // the phase the verdict names, may be empty
  std::string reason;  // may be empty (a success)
  // Whether a restart of the job takes the machine over (runs it, resumes
  // it or counts it done again): false when the job's DR type would skip
  // it as it stands.
  bool restartTakesOver = true;
  // Whether a new job of the same DR type takes it (its first attempt
  // admits it as it stands, or runs it again), and the DR type
  // (TMMsg::DROrchestrationType) moving the workload or putting it back
  // that takes the machine as it stands, the job's own first; 0 when none.
  bool newJobTakesOver = false;
  int takingType = 0;
  // Where the machine already stands when that is where the job's type
  // puts it (then no type takes it: none is needed).
  EMachinePlace place = EMachinePlace::kNone;
  // What the job lacks for the machine, which the type that takes it needs.
  EMachineOption neededOption = EMachineOption::kNone;
  // Its workload runs nowhere (neither of its VMs or databases runs it),
  // though the job was not asked to leave it so: it needs a next step
  // whatever the job did of it, and takingType is then a type of either
  // direction that brings it up.
  bool runsNowhere = false;
  // The DR types (bit 1 << type) whose new job, run now, takes the machine
  // up, of those the job's next steps name: each step's line names every
  // machine its command takes.
  int takenBy = 0;
};

class CMachineVerdictStore {
 public:
  static constexpr const char* kTable = "PLT_MachineVerdicts";
  // The columns a verdicts table made before them lacks.
  static constexpr const char* kAddedColumns[] = {"restartTakesOver", "newJobTakesOver", "takingType", "place",
                                                  "neededOption",     "runsNowhere",     "takenBy"};

  // The job's verdicts become these, all or none (joining the caller's open
  // transaction).
  static bool Replace(long long jobId, const std::vector<SMachineVerdict>& verdicts);
  // The job has no verdicts (an attempt that begins).
  static bool Clear(long long jobId);
  // The job's verdicts in machine-list order; kFailed when they cannot be
  // read (the caller must not take that for "none").
  static EStoreResult ReadJob(long long jobId, std::vector<SMachineVerdict>& out);

  // The name the latest verdict of any job gave each of the replications
  // (a machine a clean-up took out of its group is named by the jobs that
  // ran it before); a replication no verdict names is left out. kFailed
  // when the verdicts cannot be read.
  static EStoreResult LatestNames(const std::set<int>& replicationIds, std::map<int, std::string>& names);

  // "succeeded", "skipped", "not processed", "failed", "not reached".
  static const char* Text(EMachineVerdict verdict);
  // "already failed over", "already at the source", "already in a test
  // failover", "already without a test failover"; "" for none.
  static const char* Text(EMachinePlace place);

  static bool CreateTables();
};
