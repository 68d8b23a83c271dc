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
  return (v.name.empty() ? std::string("replication") : CDrJobArgs::Printable(v.name)) + " (" +
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

// Where each machine no printed command takes stands, and what takes it;
// then, once for each DR type that takes some, its command.
void Leaves(const SNextStepJob& job, const SVerdicts& left, CMachineStandings& standings,
            std::vector<std::string>& lines) {
  std::map<int, SVerdicts> byType;
  const std::string id = std::to_string(job.jobId);
  for (const SMachineVerdict* v : left) {
    std::string line = "DR job [" + id + "] leaves machine [" +
                       (v->name.empty() ? std::to_string(v->replicationId) : CDrJobArgs::Printable(v->name)) +
                       "] (replication " +
                       std::to_string(v->replicationId) + ") at " + standings.Of(v->replicationId).statuses + ": ";
    if (v->takingType == TMMsg::DR_ORCHESTRATION_NONE) {
      line += "no DR type that puts it where a DR job of type [" + std::string(CDrJobArgs::TypeName(job.type)) +
              "] does takes it as it stands";
    } else if (ClearsTheWay(job, *v)) {
      line += "its test failover stands: a new DR job of type [" + TypeWord(v->takingType) +
              "] clears it, and a DR job of type [" + TypeWord(job.type) + "] takes it after that";
      byType[v->takingType].push_back(v);
    } else if (v->neededOption != EMachineOption::kNone) {
      // No command: one without the option would fail the machine for it.
      line += "a new DR job of type [" + TypeWord(v->takingType) + "] takes it given " + OptionNeeded(*v);
    } else {
      line += "a new DR job of type [" + TypeWord(v->takingType) + "] takes it";
      byType[v->takingType].push_back(v);
    }
    lines.push_back(line);
  }
  for (const auto& type : byType) {
    const TMMsg::DROrchestrationType taking = static_cast<TMMsg::DROrchestrationType>(type.first);
    const bool command = taking != job.type || job.ownOptionsKnown;
    const bool clears = ClearsTheWay(job, *type.second.front());
    lines.push_back("DR job [" + id + "]: a new DR job of type [" + CDrJobArgs::TypeName(taking) + "] on DR group [" +
                    CDrJobLab::GroupName(job.groupId) + "] (" + GroupWord(job.groupId) + ") " +
                    (clears ? "clears the test failover of " : "takes ") + NamedList(type.second) +
                    (clears ? ", before a DR job of type [" + TypeWord(job.type) + "]" : std::string()) +
                    (command ? ": " + NewJobCommand(job, taking) : ", given the job's restore options"));
  }
}

}  // namespace

bool CNextStep::Restart(const SNextStepJob& job, SJobEnd& end, std::vector<std::string>& lines) {
  if (end.verdicts.empty()) return false;
  SVerdicts taken;
  SVerdicts left;
  SVerdicts inPlace;
  // Whether the restart counts every machine in place done (it finished
  // them in an earlier attempt).
  bool inPlaceRestarted = true;
  for (const SMachineVerdict& v : end.verdicts) {
    if (v.verdict == EMachineVerdict::kSucceeded) continue;
    if (v.place != EMachinePlace::kNone) {
      inPlace.push_back(&v);
      inPlaceRestarted = inPlaceRestarted && v.restartTakesOver;
      continue;
    }
    (v.restartTakesOver && OwnCommandTakes(job, v) ? taken : left).push_back(&v);
  }
  const std::string id = std::to_string(job.jobId);
  const std::string command = "drjob run --db " + job.db + " --job-id " + id;
  if (!taken.empty()) {
    lines.push_back("DR job [" + id + "] is continued by its restart, which takes over " + NamedList(taken) + ": " +
                    command);
  } else if (left.empty() && inPlaceRestarted) {
    // Every machine is done: the restart counts them so and ends the job.
    lines.push_back("DR job [" + id + "] is continued by its restart: " + command);
  } else if (left.empty()) {
    lines.push_back("DR job [" + id +
                    "] is not continued by a restart: the machines it did not finish already stand where it puts "
                    "them");
  } else {
    lines.push_back("DR job [" + id +
                    "] is not continued by a restart: as its machines stand, a restart would take none of them over");
  }
  InPlace(job, inPlace, lines);
  Leaves(job, left, end.standings, lines);
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
      if (takes) again.push_back(&v);
      continue;
    }
    if (v.place != EMachinePlace::kNone) {
      inPlace.push_back(&v);
      continue;
    }
    (takes && OwnCommandTakes(job, v) ? taken : left).push_back(&v);
  }
  const std::string id = std::to_string(job.jobId);
  std::string line = "DR job [" + id + "] completed with errors and is not run again; ";
  if (taken.empty()) {
    line += "a new DR job of its type would take none of the machines it did not finish, as they stand";
  } else {
    line += "a new DR job on DR group [" + CDrJobLab::GroupName(job.groupId) + "] (" + GroupWord(job.groupId) +
            ") takes " + NamedList(taken) + (again.empty() ? "" : ", and again " + NamedList(again)) + ": " +
            NewJobCommand(job, job.type);
  }
  lines.push_back(line);
  InPlace(job, inPlace, lines);
  Leaves(job, left, end.standings, lines);
  return true;
}
