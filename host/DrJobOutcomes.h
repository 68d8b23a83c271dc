// What drjob tells its operator of each machine of a DR job: one line each,
// in the DR group's order, from the verdicts the job's engine stored as the
// job ended (CMachineVerdictStore): succeeded, skipped, not processed,
// failed and not reached, counted as the job summary counts them. A machine
// of the group without a verdict has none yet: the job's last attempt ended
// before its summary (or has not reached it), so what it did with the
// machine is not known; its line says so, for the reason the caller knows.
// The line of a machine the job did not finish (every one but a success or
// a skip) ends with where it stands now (CMachinePlace).
#pragma once

#include <string>
#include <vector>

#include "DrJobLab.h"
#include "DrJobMachinePlace.h"
#include "jobs/MachineVerdictStore.h"

// One machine's account: its stored verdict, or none.
struct SMachineOutcome {
  // The verdict as stored; for a machine without one, its replication, its
  // name and the reason there is none.
  SMachineVerdict verdict;
  bool decided = true;  // false: the attempt gave it no verdict
};

// What drjob reads of a job as it tells its end, read once for all the
// lines: the job's verdicts (each named, as JobMachines names the machines
// whose verdict has no name), its machines in their order, and where each
// machine stands, read the first time a line tells it.
struct SJobEnd {
  std::vector<SMachineVerdict> verdicts;  // the job's last attempt's
  std::vector<SGroupMachine> group;       // the machines its DR group names now
  std::vector<SGroupMachine> machines;    // JobMachines
  CMachineStandings standings;
};

class CMachineOutcomes {
 public:
  // The job's end; false, with no verdicts, when they cannot be read (its
  // machines are still listed).
  static bool ReadEnd(long long jobId, int groupId, const std::string& optionsXml, SJobEnd& end);
  // The machines of a DR job, in one order wherever they are told: those
  // its options list (a clean-up's, made from the group as the job was
  // made) in that order, then the group's others in the group's order, then
  // those only its verdicts name. A clean-up takes the replications it
  // removes out of the group, so a machine the group no longer names is
  // named by the job's verdicts or, failing those, by its phase rows, and
  // then by the latest verdict of another job.
  static std::vector<SGroupMachine> JobMachines(long long jobId, const std::vector<SGroupMachine>& group,
                                                const std::string& optionsXml,
                                                const std::vector<SMachineVerdict>& verdicts);
  // The verdict attempt gave each machine of the job's end, in its order,
  // then those of machines outside it; a machine without one is undecided,
  // for noVerdict. Verdicts another attempt left do not count (an attempt
  // that ended before its summary decided nothing).
  static void Read(long long jobId, int attempt, const SJobEnd& end, const std::string& noVerdict,
                   std::vector<SMachineOutcome>& out);
  // "DR job [N] machine [NAME] (replication R): ...", without "drjob: ";
  // for a machine the job did not finish (a skipped one included), "...;
  // now: " and where it stands, read through standings.
  static std::string Line(long long jobId, const SMachineOutcome& outcome, CMachineStandings& standings);
};
