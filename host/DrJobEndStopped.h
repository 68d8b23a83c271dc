// The kill of a DR job that no process runs and that its last run stopped,
// suspended or pending: it keeps its suspended child jobs, which nothing but
// the job moves on, and a later job on the same DR group waits on them for
// as long as nobody runs the job. A kill request would only be read by the job's next run, and
// that run resumes the job's suspended children before it looks at any
// request, so drjob ends the job itself, as a kill of its running job would
// have ended it: it kills the job's children through the job manager's job
// operation, fails the phase rows the job left waiting on them as that
// kill's waits fail them, marks the record "Killed", then tells where each
// machine of the group is now. The job can then be run again as a restart,
// which goes on as after that kill: a backup row left in progress would
// have it take the killed backup over.
//
// The job's run lease is held from the start to the end, so no run takes
// the job meanwhile. Every child is first checked to take a kill; then the
// children go, one by one, and the rows and the record are stored together
// afterwards. A child that refuses the kill nonetheless stops it there: the
// rows that waited on the children already killed are stored failed, the
// record is left as it was, and the kill can be asked again.
//
// The children killed are those named by the rows left in progress or
// suspended, and those named by any of its rows whose record names the job
// as their parent. A finished phase's row may name another job's child
// (one the job waited on): that child is left alone. A row of a call under
// way when the job was stopped stays in progress, as a crash leaves it: the
// call's outcome is in the lab, where the restart looks for it. So does a
// row whose every child completed while the job stood stopped: no wait of
// it is left for the kill to end, and the restart takes the child's work
// from the lab (a restore done is not done again).
//
// A job whose record says "Running" with no process behind it (a run that
// died) is not ended here: its children run on and end by themselves, and
// its next run takes it over from where the dead run left it.
#pragma once

#include <string>

struct SJobRecord;

class CStoppedJobEnd {
 public:
  // Whether a job whose record says status and that no process runs is one
  // a kill ends here: suspended or pending.
  static bool IsStopped(const std::string& status);
  // Kills the DR job whose record (job) has not ended and names no live
  // runner; dbPath as the user gave it, for the line that says how the job
  // goes on. The exit code of drjob control.
  static int Kill(const std::string& dbPath, const SJobRecord& job);
};
