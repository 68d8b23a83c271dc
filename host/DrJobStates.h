// What drjob's exit codes and a DR job's states mean, shared by every
// command: the run names the code of the state it ends in, control refuses
// a job that has ended, a rerun one that completed.
#pragma once

#include <string>

class CDrJobStates {
 public:
  // Exit codes. A finished DR job exits with the code of its final state.
  enum EExit {
    kExitSuccess = 0,
    kExitFailed = 1,
    kExitUsage = 2,
    kExitAlreadyRunning = 3,    // another process runs this DR job; nothing was changed
    kExitDatabase = 4,
    kExitUnknown = 5,           // no such DR group or DR job
    kExitJobManager = 6,        // the job manager could not start
    kExitNotInitialized = 7,    // the orchestrator could not be initialised; nothing ran
    kExitCompletedWithErrors = 8,
    kExitKilled = 9,
    kExitSuspended = 10,
    kExitPending = 11,
    kExitOtherState = 12,
    kExitStateNotStored = 13,   // the DR job ran, but its final state could not be stored
    kExitJobEnded = 14,         // control of a DR job that has ended, a run of one that completed, or
                                // steering of a child job that has ended; nothing was changed
    kExitLockFolder = 15,       // the lock folder cannot be used; nothing was changed
    kExitNotRunning = 16,       // control of a DR job no live process runs; nothing was requested
    kExitLabGone = 17,          // the lab was moved, removed or replaced under a running job, which
                                // drjob ended at once, as a crash would
  };

  // The text of a DR job's final state and the exit code it gives.
  static const char* StateText(int state);
  static int ExitCodeOfState(int state);
  // The job manager's words for the DR job's own record in a final state.
  static const char* JobStatusOfState(int state);
  // A job that will not run again (control has nothing to do).
  static bool IsEndedStatus(const std::string& status);
  // A job that completed did its work: running it again would repeat a DR
  // operation on machines that have already been through it. A failed,
  // killed or suspended job is continued by its restart instead.
  static bool IsCompletedStatus(const std::string& status);
};
