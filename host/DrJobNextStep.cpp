#include "DrJobNextStep.h"

#include <map>
#include <set>

#include "DrJobArgs.h"
#include "DrJobLab.h"
#include "DrJobMachinePlace.h"
#include "DrJobOutcomes.h"
#include "jobs/MachineVerdictStore.h"

namespace {

// A line names this many machines at most, then how many more.
const size_t kNamed = 20;

std::string Named(const SMachineVerdict& v) {
  return (v.name.empty() ? std::string("replication") : v.name) + " (" + std::to_string(v.replicationId) + ")";
}

std::string NamedList(const std::vector<const SMachineVerdict*>& machines) {
  std::string text;
  for (size_t i = 0; i < machines.size() && i < kNamed; ++i) text += (i == 0 ? "" : ", ") + Named(*machines[i]);
  if (machines.size() > kNamed) text += " and [" + std::to_string(machines.size() - kNamed) + "] more";
  return text;
}

std::string GroupWord(int groupId) { return std::to_string(groupId); }

// The command of a new job of type on the job's group.
std::string NewJobCommand(const SNextStepJob& job, TMMsg::DROrchestrationType type) {
  return "drjob run --db " + job.db + " --group " + GroupWord(job.groupId) + " --type " + CDrJobArgs::TypeName(type) +
         (type == job.type ? job.ownOptions : std::string());
}

// Where each machine no printed command takes stands, and what takes it;
// then, once for each DR type that takes some, its command.
void Leaves(const SNextStepJob& job, const std::vector<const SMachineVerdict*>& left, std::vector<std::string>& lines) {
  std::map<int, std::vector<const SMachineVerdict*>> byType;
  const std::string id = std::to_string(job.jobId);
  for (const SMachineVerdict* v : left) {
    std::string line = "DR job [" + id + "] leaves machine [" +
                       (v->name.empty() ? std::to_string(v->replicationId) : v->name) + "] (replication " +
                       std::to_string(v->replicationId) + ") at " + CMachinePlace::Statuses(v->replicationId) + ": ";
    const TMMsg::DROrchestrationType taking = static_cast<TMMsg::DROrchestrationType>(v->takingType);
    if (taking == TMMsg::DR_ORCHESTRATION_NONE) {
      line += "no DR type that moves its workload or puts it back takes it as it stands";
    } else {
      line += "a new DR job of type [" + std::string(CDrJobArgs::TypeName(taking)) + "] takes it";
      byType[v->takingType].push_back(v);
    }
    lines.push_back(line);
  }
  for (const auto& type : byType) {
    const TMMsg::DROrchestrationType taking = static_cast<TMMsg::DROrchestrationType>(type.first);
    const bool command = taking != job.type || job.ownOptionsKnown;
    lines.push_back("DR job [" + id + "]: a new DR job of type [" + CDrJobArgs::TypeName(taking) + "] on DR group [" +
                    CDrJobLab::GroupName(job.groupId) + "] (" + GroupWord(job.groupId) + ") takes " +
                    NamedList(type.second) +
                    (command ? ": " + NewJobCommand(job, taking) : ", given the job's restore options"));
  }
}

// The job's verdicts, each machine named: one whose replication a clean-up
// removed has no name of its own in the verdict any more.
bool Read(const SNextStepJob& job, std::vector<SMachineVerdict>& verdicts) {
  if (CMachineVerdictStore::ReadJob(job.jobId, verdicts) != EStoreResult::kOk || verdicts.empty()) return false;
  std::map<int, std::string> names;
  for (const SGroupMachine& machine : CMachineOutcomes::JobMachines(job.jobId, job.groupId, job.optionsXml)) {
    names[machine.replicationId] = machine.name;
  }
  for (SMachineVerdict& v : verdicts) {
    if (v.name.empty()) v.name = names[v.replicationId];
  }
  return true;
}

}  // namespace

bool CNextStep::Restart(const SNextStepJob& job, std::vector<std::string>& lines) {
  std::vector<SMachineVerdict> verdicts;
  if (!Read(job, verdicts)) return false;
  std::vector<const SMachineVerdict*> taken;
  std::vector<const SMachineVerdict*> left;
  for (const SMachineVerdict& v : verdicts) {
    if (v.verdict == EMachineVerdict::kSucceeded) continue;
    (v.restartTakesOver ? taken : left).push_back(&v);
  }
  const std::string id = std::to_string(job.jobId);
  const std::string command = "drjob run --db " + job.db + " --job-id " + id;
  if (!taken.empty()) {
    lines.push_back("DR job [" + id + "] is continued by its restart, which takes over " + NamedList(taken) + ": " +
                    command);
  } else if (left.empty()) {
    // Every machine is done: the restart counts them so and ends the job.
    lines.push_back("DR job [" + id + "] is continued by its restart: " + command);
  } else {
    lines.push_back("DR job [" + id +
                    "] is not continued by a restart: as its machines stand, a restart would take none of them over");
  }
  Leaves(job, left, lines);
  return true;
}

bool CNextStep::NewJob(const SNextStepJob& job, std::vector<std::string>& lines) {
  std::vector<SMachineVerdict> verdicts;
  if (!Read(job, verdicts)) return false;
  // A new job runs on the machines its group names: one a clean-up took
  // out of the group is no longer its.
  std::set<int> named;
  for (const SGroupMachine& machine : CDrJobLab::GroupMachines(job.groupId)) named.insert(machine.replicationId);
  std::vector<const SMachineVerdict*> taken;
  std::vector<const SMachineVerdict*> again;
  std::vector<const SMachineVerdict*> left;
  for (const SMachineVerdict& v : verdicts) {
    const bool takes = v.newJobTakesOver && named.count(v.replicationId) != 0;
    if (v.verdict == EMachineVerdict::kSucceeded) {
      if (takes) again.push_back(&v);
      continue;
    }
    (takes ? taken : left).push_back(&v);
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
  Leaves(job, left, lines);
  return true;
}
