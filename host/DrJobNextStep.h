// How a DR job that stopped, or completed with errors, goes on, told from
// the verdicts its engine stored (CMachineVerdictStore): the command of its
// restart, or of a new job of its type, is printed only when it takes some
// machine the job did not finish, and names those machines. Each other
// machine the job did not finish is told where it stands (its failover and
// sync statuses) and which DR type, moving its workload or putting it back,
// takes it as it stands, with that type's command on the job's DR group; or
// that none does. A command names the group by its id, which `run --group`
// reads first, so it runs on the job's own group whatever the group's name.
#pragma once

#include <string>
#include <vector>

#include "msg/MsgEnums.h"

struct SNextStepJob {
  long long jobId = 0;
  int groupId = 0;
  TMMsg::DROrchestrationType type = TMMsg::DR_ORCHESTRATION_NONE;
  std::string db;            // the --db argument as a command prints it
  std::string ownOptions;    // what a new job of the job's own type is given besides
  std::string optionsXml;    // the job's recorded options, which list its machines
  // False when not all of them can be given (restore options the run has
  // no file of): no command of the job's own type is printed then.
  bool ownOptionsKnown = true;
};

class CNextStep {
 public:
  // The lines (without "drjob: ") after a job a restart continues; false,
  // with none, when the job's last attempt left no verdicts to tell them by.
  static bool Restart(const SNextStepJob& job, std::vector<std::string>& lines);
  // The same after a job that completed with errors, which a new job of its
  // type continues.
  static bool NewJob(const SNextStepJob& job, std::vector<std::string>& lines);
};
