// What a run tells its operator of each machine once the job has ended: one
// line each, in the DR group's order, after the final state line. A machine
// that failed names the phase it failed in and the reason its phase row
// holds; a skipped machine writes no phase row, so its reason is that of the
// "Skipping DR" event this run raised for it.
//
// The host sees the job through its phase rows only: a machine whose rows
// all succeeded has succeeded when the job ran to its end, or went on to a
// later priority; in a job stopped (killed, suspended, pending) within the
// machine's priority it may still have phases ahead, and is told as stopped
// after its last phase. A kill the job saw does not always end it KILLED:
// once a machine has succeeded the job completes with errors, and the kill
// may have cut short machines of any priority it reached, which left no
// failed row behind. Rows without a failure then cannot tell a machine that
// finished from one the kill stopped, and it is told as such.
#pragma once

#include <string>
#include <vector>

#include "DrJobLab.h"
#include "log/JobJournal.h"

struct SMachineOutcome {
  enum EKind {
    kSucceeded,
    kFailed,        // phase and reason from the failed phase row
    kSkipped,       // reason from this run's "Skipping DR" event
    kStoppedIn,     // a row killed, suspended, pending or in progress: its phase, the state as reason
    kStoppedAfter,  // every row succeeded, the job stopped in its priority: the last phase
    kUnsettled,     // every row succeeded, a kill came while the job ran on to its end: the last phase
    kNotRun,        // no phase row and no skip event: the job ended before it reached the machine
  };
  SGroupMachine machine;
  EKind kind = kNotRun;
  std::string phase;
  std::string reason;
};

class CMachineOutcomes {
 public:
  // The outcome of each machine of the group in job jobId, from the job's
  // phase rows (CPhaseRowStore) and this process's job events; stopped when
  // the job ended killed, suspended or pending, killedMidway when it saw a
  // kill yet ended otherwise with a machine that did not succeed. False when
  // the phase rows cannot be read.
  static bool Read(long long jobId, bool stopped, bool killedMidway, const std::vector<SGroupMachine>& machines,
                   const std::vector<SJobEvent>& events, std::vector<SMachineOutcome>& outcomes);
  // "DR job [N] machine [NAME] (replication R): ...", without "drjob: ".
  static std::string Line(long long jobId, const SMachineOutcome& outcome);
};
