#include "DrJobNextStep.h"

#include <map>
#include <set>

#include "DrJobArgs.h"
#include "DrJobLab.h"
#include "jobs/MachineVerdictStore.h"

namespace {

// A line names this many machines at most, then how many more.
const size_t kNamed = 20;

using SVerdicts = std::vector<const SMachineVerdict*>;

std::string Named(const SMachineVerdict& v) {
  return (v.name.empty() ? std::string("replication") : CDrJobArgs::ShownName(v.name)) + " (" +
         std::to_string(v.replicationId) + ")";
}

std::string NamedList(const SVerdicts& machines) {
  std::string text;
  for (size_t i = 0; i < machines.size() && i < kNamed; ++i) text += (i == 0 ? "" : ", ") + Named(*machines[i]);
  if (machines.size() > kNamed) text += " and [" + std::to_string(machines.size() - kNamed) + "] more";
  return text;
}

std::string GroupWord(int groupId) { return std::to_string(groupId); }

std::string TypeWord(int type) { return CDrJobArgs::TypeName(static_cast<TMMsg::DROrchestrationType>(type)); }

// The command of a new job of type on the job's group.
std::string NewJobCommand(const SNextStepJob& job, TMMsg::DROrchestrationType type) {
  return "drjob run --db " + job.db + " --group " + GroupWord(job.groupId) + " --type " + CDrJobArgs::TypeName(type) +
         (type == job.type ? job.ownOptions : std::string());
}

// Whether the job's restart, or a new job of its type, may name the
// machine: not where it would fail the machine for an option of the job
// again. An option the engine stored with another type that takes the
// machine is that type's need, not the job's.
bool OwnCommandTakes(const SNextStepJob& job, const SMachineVerdict& v) {
  const bool otherTypes = v.takingType != TMMsg::DR_ORCHESTRATION_NONE && v.takingType != job.type;
  return v.neededOption == EMachineOption::kNone || otherTypes;
}

// What the type that takes the machine needs of it and the job lacks, and
// the option to give, as the operator types it: "a point in time for it:
// give `--point-in-time 102=TIME`".
std::string OptionNeeded(const SMachineVerdict& v) {
  const std::string give = ": give `--point-in-time " + std::to_string(v.replicationId) + "=TIME`";
  switch (v.neededOption) {
    case EMachineOption::kPointInTime:
      return "a point in time for it" + give;
    case EMachineOption::kPointInTimeSnapshot:
      return "a point in time its DR VM has a snapshot of" + give;
    case EMachineOption::kRestoreOptions:
      return "restore options that name it, or without restore options";
    case EMachineOption::kNone:
      break;
  }
  return std::string();
}

// The step that takes the machine clears the way for the job's type rather
// than taking it there: the undo test failover of a machine a failover
// refused because its test failover stands.
bool ClearsTheWay(const SNextStepJob& job, const SMachineVerdict& v) {
  const bool failover = job.type == TMMsg::DR_ORCHESTRATION_PLANNED_FAILOVER ||
                        job.type == TMMsg::DR_ORCHESTRATION_UNPLANNED_FAILOVER ||
                        job.type == TMMsg::DR_ORCHESTRATION_POINT_IN_TIME_FAILOVER;
  return failover && v.takingType == TMMsg::DR_ORCHESTRATION_UNDO_TEST_FAILOVER;
}

// The machines that already stand where the job's type puts them, one line
// for each place.
void InPlace(const SNextStepJob& job, const SVerdicts& inPlace, std::vector<std::string>& lines) {
  std::map<EMachinePlace, SVerdicts> byPlace;
  for (const SMachineVerdict* v : inPlace) byPlace[v->place].push_back(v);
  for (const auto& place : byPlace) {
    lines.push_back("DR job [" + std::to_string(job.jobId) + "] needs no next step for " + NamedList(place.second) +
                    ": " + CMachineVerdictStore::Text(place.first) + ", where a DR job of type [" +
                    CDrJobArgs::TypeName(job.type) + "] puts " + (place.second.size() == 1 ? "it" : "them"));
  }
}

// A command of a type the next steps print: the type, and whether it is
// the job's own type without the restore options that left a machine out.
using SCommandKey = std::pair<int, bool>;

// Whether a new job the key's command makes takes the machine, run right
// after the job: the engine asked each type the next steps name.
bool CommandTakes(const SNextStepJob& job, const SCommandKey& key, const SMachineVerdict& v) {
  if (key.first == job.type) return v.newJobTakesOver;
  return (v.takenBy & (1 << key.first)) != 0;
}

// Where each machine no printed command takes stands, and what takes it;
// then, once for each command that takes some, the command, naming every
// machine of the group it takes: those it is printed for, then the others
// its new job would take too.
void Leaves(const SNextStepJob& job, const SVerdicts& left, SJobEnd& end, std::vector<std::string>& lines) {
  std::map<SCommandKey, SVerdicts> byCommand;
  const std::string id = std::to_string(job.jobId);
  for (const SMachineVerdict* v : left) {
    std::string line = "DR job [" + id + "] leaves machine [" +
                       (v->name.empty() ? std::to_string(v->replicationId) : CDrJobArgs::ShownName(v->name)) +
                       "] (replication " + std::to_string(v->replicationId) + ") at " +
                       end.standings.Of(v->replicationId).statuses +
                       (v->runsNowhere ? ", its workload running nowhere: " : ": ");
    if (v->takingType == TMMsg::DR_ORCHESTRATION_NONE) {
      line += v->runsNowhere ? "no DR type that brings it up takes it as it stands"
                             : "no DR type that puts it where a DR job of type [" +
                                   std::string(CDrJobArgs::TypeName(job.type)) + "] does takes it as it stands";
    } else if (ClearsTheWay(job, *v)) {
      line += "its test failover stands: a new DR job of type [" + TypeWord(v->takingType) +
              "] clears it, and a DR job of type [" + TypeWord(job.type) + "] takes it after that";
      byCommand[SCommandKey(v->takingType, false)].push_back(v);
    } else if (v->neededOption == EMachineOption::kRestoreOptions) {
      // The same type without the restore options takes it: their file
      // leaves it out, and a command repeating it would fail it again.
      line += "the job's restore options leave it out: a new DR job of type [" + TypeWord(v->takingType) +
              "] takes it given " + OptionNeeded(*v);
      byCommand[SCommandKey(v->takingType, true)].push_back(v);
    } else if (v->neededOption != EMachineOption::kNone) {
      // No command: one without the option would fail the machine for it.
      line += "a new DR job of type [" + TypeWord(v->takingType) + "] takes it given " + OptionNeeded(*v);
    } else {
      line += "a new DR job of type [" + TypeWord(v->takingType) + "] takes it";
      byCommand[SCommandKey(v->takingType, false)].push_back(v);
    }
    lines.push_back(line);
  }
  std::set<int> inGroup;
  for (const SGroupMachine& machine : end.group) inGroup.insert(machine.replicationId);
  for (const auto& command : byCommand) {
    const TMMsg::DROrchestrationType taking = static_cast<TMMsg::DROrchestrationType>(command.first.first);
    const bool without = command.first.second;
    std::set<int> named;
    for (const SMachineVerdict* v : command.second) named.insert(v->replicationId);
    SVerdicts also;
    for (const SMachineVerdict& v : end.verdicts) {
      if (named.count(v.replicationId) == 0 && inGroup.count(v.replicationId) != 0 &&
          CommandTakes(job, command.first, v)) {
        also.push_back(&v);
      }
    }
    const bool clears = ClearsTheWay(job, *command.second.front());
    const std::string text =
        "DR job [" + id + "]: a new DR job of type [" + CDrJobArgs::TypeName(taking) + "]" +
        (without ? " without restore options" : "") + " on DR group [" + CDrJobLab::GroupName(job.groupId) + "] (" +
        GroupWord(job.groupId) + ") " + (clears ? "clears the test failover of " : "takes ") +
        NamedList(command.second) + (clears ? ", before a DR job of type [" + TypeWord(job.type) + "]" : "") +
        (also.empty() ? "" : (clears ? ", and also takes " : ", and also ") + NamedList(also));
    if (without) {
      CNextStep::Told(text, "drjob run --db " + job.db + " --group " + GroupWord(job.groupId) + " --type " +
                                CDrJobArgs::TypeName(taking),
                      lines);
    } else if (taking != job.type || job.ownOptionsKnown) {
      CNextStep::Told(text, NewJobCommand(job, taking), lines);
    } else {
      lines.push_back(text + ", given the job's restore options");
    }
  }
}

}  // namespace

void CNextStep::Told(const std::string& text, const std::string& command, std::vector<std::string>& lines) {
  lines.push_back(text + ":");
  lines.push_back(kCommandMark + command);
}

bool CNextStep::Restart(const SNextStepJob& job, SJobEnd& end, std::vector<std::string>& lines) {
  if (end.verdicts.empty()) return false;
  SVerdicts taken;
  SVerdicts left;
  SVerdicts inPlace;
  // Whether the restart counts every machine in place done (it finished
  // them in an earlier attempt).
  bool inPlaceRestarted = true;
  for (const SMachineVerdict& v : end.verdicts) {
    if (v.verdict == EMachineVerdict::kSucceeded) {
      if (v.runsNowhere) left.push_back(&v);
      continue;
    }
    if (v.restartTakesOver && OwnCommandTakes(job, v) && (v.place == EMachinePlace::kNone || v.runsNowhere)) {
      taken.push_back(&v);
    } else if (v.place != EMachinePlace::kNone && !v.runsNowhere) {
      inPlace.push_back(&v);
      inPlaceRestarted = inPlaceRestarted && v.restartTakesOver;
    } else {
      left.push_back(&v);
    }
  }
  const std::string id = std::to_string(job.jobId);
  const std::string command = "drjob run --db " + job.db + " --job-id " + id;
  if (!taken.empty()) {
    Told("DR job [" + id + "] is continued by its restart, which takes over " + NamedList(taken), command, lines);
  } else if (left.empty() && inPlaceRestarted) {
    // Every machine is done: the restart counts them so and ends the job.
    Told("DR job [" + id + "] is continued by its restart", command, lines);
  } else if (left.empty()) {
    lines.push_back("DR job [" + id +
                    "] is not continued by a restart: the machines it did not finish already stand where it puts "
                    "them");
  } else {
    lines.push_back("DR job [" + id +
                    "] is not continued by a restart: as its machines stand, a restart would take none of them over");
  }
  InPlace(job, inPlace, lines);
  Leaves(job, left, end, lines);
  return true;
}

bool CNextStep::NewJob(const SNextStepJob& job, SJobEnd& end, std::vector<std::string>& lines) {
  if (end.verdicts.empty()) return false;
  // A new job runs on the machines its group names: one a clean-up took
  // out of the group is no longer its.
  std::set<int> named;
  for (const SGroupMachine& machine : end.group) named.insert(machine.replicationId);
  SVerdicts taken;
  SVerdicts again;
  SVerdicts left;
  SVerdicts inPlace;
  for (const SMachineVerdict& v : end.verdicts) {
    const bool takes = v.newJobTakesOver && named.count(v.replicationId) != 0;
    if (v.verdict == EMachineVerdict::kSucceeded) {
      if (takes) {
        again.push_back(&v);
      } else if (v.runsNowhere) {
        left.push_back(&v);
      }
      continue;
    }
    if (v.place != EMachinePlace::kNone && !v.runsNowhere) {
      inPlace.push_back(&v);
      continue;
    }
    (takes && OwnCommandTakes(job, v) ? taken : left).push_back(&v);
  }
  const std::string id = std::to_string(job.jobId);
  std::string line = "DR job [" + id + "] completed with errors and is not run again; ";
  if (taken.empty()) {
    lines.push_back(line + "a new DR job of its type would take none of the machines it did not finish, as they stand");
  } else {
    Told(line + "a new DR job on DR group [" + CDrJobLab::GroupName(job.groupId) + "] (" + GroupWord(job.groupId) +
             ") takes " + NamedList(taken) + (again.empty() ? "" : ", and again " + NamedList(again)),
         NewJobCommand(job, job.type), lines);
  }
  InPlace(job, inPlace, lines);
  Leaves(job, left, end, lines);
  return true;
}

bool CNextStep::Succeeded(const SNextStepJob& job, SJobEnd& end, std::vector<std::string>& lines) {
  SVerdicts nowhere;
  for (const SMachineVerdict& v : end.verdicts) {
    if (v.runsNowhere) nowhere.push_back(&v);
  }
  Leaves(job, nowhere, end, lines);
  return !lines.empty();
}
