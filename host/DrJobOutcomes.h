// What drjob tells its operator of each machine of a DR job: one line each,
// in the DR group's order, from the verdicts the job's engine stored as the
// job ended (CMachineVerdictStore): succeeded, skipped, not processed,
// failed and not reached, counted as the job summary counts them. A machine
// of the group without a verdict was never taken up by the job's last
// attempt (it ended before its summary): it is not reached, for the reason
// the caller knows.
#pragma once

#include <string>
#include <vector>

#include "DrJobLab.h"
#include "jobs/MachineVerdictStore.h"

class CMachineOutcomes {
 public:
  // The verdict attempt gave each machine of the group, in the group's
  // order, then those of machines outside it; a machine without one is not
  // reached, for noVerdict. Verdicts another attempt left do not count (an
  // attempt that ended before its summary decided nothing). False when the
  // verdicts cannot be read.
  static bool Read(long long jobId, int attempt, const std::vector<SGroupMachine>& machines,
                   const std::string& noVerdict, std::vector<SMachineVerdict>& out);
  // "DR job [N] machine [NAME] (replication R): ...", without "drjob: ".
  static std::string Line(long long jobId, const SMachineVerdict& verdict);
};
