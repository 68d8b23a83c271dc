// How a DR job that stopped, or completed with errors, goes on, told from
// the verdicts its engine stored (CMachineVerdictStore): drjob decides
// nothing itself, it prints what the engine decided of each machine.
// - A machine the job did not finish that already stands where the job's
//   type puts it (failed over, at the source, ...) gets no command: one
//   line per place names such machines.
// - The command of the job's restart, or of a new job of its type, is
//   printed only when it takes some other machine, and names those.
// - Each other machine is told where it stands (its failover and sync
//   statuses) and which DR type takes it on to where the job's
//   uninterrupted run would have put it, with that type's command on the
//   job's DR group; or that none does; or, where the job lacks an option
//   for it that the type needs (a point in time), which option to give,
//   and no command that would fail it for that again.
// A command names the group by its id, which `run --group` reads first, so
// it runs on the job's own group whatever the group's name.
#pragma once

#include <string>
#include <vector>

#include "DrJobOutcomes.h"
#include "msg/MsgEnums.h"

struct SNextStepJob {
  long long jobId = 0;
  int groupId = 0;
  TMMsg::DROrchestrationType type = TMMsg::DR_ORCHESTRATION_NONE;
  std::string db;            // the --db argument as a command prints it
  std::string ownOptions;    // what a new job of the job's own type is given besides
  // False when not all of them can be given (restore options the run has
  // no file of): no command of the job's own type is printed then.
  bool ownOptionsKnown = true;
};

class CNextStep {
 public:
  // What begins the line of a command drjob prints for its operator to run
  // (after "drjob: "): each such command stands on a line of its own, right
  // after the line that says what it takes, so that no text of the lab's
  // (a group's or machine's name) shares a line with it.
  static constexpr const char* kCommandMark = "$ ";
  // The line that says what the command does, ended with ":", and the
  // command's own line.
  static void Told(const std::string& text, const std::string& command, std::vector<std::string>& lines);

  // The lines (without "drjob: ") after a job a restart continues, from the
  // job's end as read; false, with none, when the job's last attempt left
  // no verdicts to tell them by.
  static bool Restart(const SNextStepJob& job, SJobEnd& end, std::vector<std::string>& lines);
  // The same after a job that completed with errors, which a new job of its
  // type continues.
  static bool NewJob(const SNextStepJob& job, SJobEnd& end, std::vector<std::string>& lines);
  // After a job that succeeded: only the machines whose workload runs
  // nowhere (none was left so on request), each with the type that brings
  // it up; false, with no line, when there is none.
  static bool Succeeded(const SNextStepJob& job, SJobEnd& end, std::vector<std::string>& lines);
};
