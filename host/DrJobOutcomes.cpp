#include "DrJobOutcomes.h"

#include <map>
#include <set>
#include <unordered_map>

#include "DrJobArgs.h"
#include "DrJobMachinePlace.h"
#include "DrJobRunOptions.h"
#include "jobs/PhaseRowStore.h"
#include "msg/MsgClasses.h"
#include "msg/MsgEnums.h"

namespace {

// The VM a phase row names (its first job entry's client), "" when none.
std::string RowName(const SPhaseRowRecord& row) {
  Api::VirtualAppPhaseInfo info;
  if (row.details.empty() || !info.Unserialize(row.details) ||
      info.ListSize(Api::VirtualAppPhaseInfo::kJobInfos) == 0) {
    return std::string();
  }
  return info.GetListMsg(Api::VirtualAppPhaseInfo::kJobInfos, 0)
      .GetMsg(Api::VirtualAppJobInfo::kClientEntity)
      .GetString(ZnEntities::GenericEntity::kClientName);
}

// The machine's name from the job's phase rows, by replication: a
// clean-up's "Disable Sync" row names the source VM, as the group does,
// while its deletion row names the DR VM once it deletes it; so the first
// is taken where there is one, else the name of the earliest phase.
std::map<int, std::string> NamesOfRows(long long jobId, const std::set<int>& wanted) {
  std::map<int, std::string> names;
  std::vector<SPhaseRowRecord> rows;
  if (wanted.empty() || CPhaseRowStore::ReadJob(jobId, rows) != EStoreResult::kOk) return names;
  std::set<int> fromDisableSync;
  for (const SPhaseRowRecord& row : rows) {
    if (wanted.count(row.replicationId) == 0 || fromDisableSync.count(row.replicationId) != 0) continue;
    const bool disableSync = row.phase == Api::VIRTUAL_APP_PHASE_DISABLE_SYNC;
    if (!disableSync && names.count(row.replicationId) != 0) continue;
    const std::string name = RowName(row);
    if (name.empty()) continue;
    names[row.replicationId] = name;
    if (disableSync) fromDisableSync.insert(row.replicationId);
  }
  return names;
}

}  // namespace

bool CMachineOutcomes::ReadEnd(long long jobId, int groupId, const std::string& optionsXml, SJobEnd& end) {
  const bool read = CMachineVerdictStore::ReadJob(jobId, end.verdicts) == EStoreResult::kOk;
  if (!read) end.verdicts.clear();
  end.group = CDrJobLab::GroupMachines(groupId);
  end.machines = JobMachines(jobId, end.group, optionsXml, end.verdicts);
  // A verdict whose replication a clean-up removed has no name of its own
  // any more.
  std::unordered_map<int, const std::string*> names;
  for (const SGroupMachine& machine : end.machines) names.emplace(machine.replicationId, &machine.name);
  for (SMachineVerdict& v : end.verdicts) {
    const auto found = v.name.empty() ? names.find(v.replicationId) : names.end();
    if (found != names.end()) v.name = *found->second;
  }
  return read;
}

std::vector<SGroupMachine> CMachineOutcomes::JobMachines(long long jobId, const std::vector<SGroupMachine>& group,
                                                         const std::string& optionsXml,
                                                         const std::vector<SMachineVerdict>& verdicts) {
  SRecordedRun recorded;
  CDrJobRunOptions::Read(optionsXml, recorded);
  std::unordered_map<int, const SGroupMachine*> inGroup;
  for (const SGroupMachine& machine : group) inGroup.emplace(machine.replicationId, &machine);
  std::vector<SGroupMachine> machines;
  std::set<int> listed;
  auto add = [&machines, &listed](const SGroupMachine& machine) {
    if (listed.insert(machine.replicationId).second) machines.push_back(machine);
  };
  const TMMsg::DROpSourceType source = group.empty() ? TMMsg::DR_OP_SOURCE_VSA_REPLICATION : group.front().source;
  for (int32_t id : recorded.replicationIds) {
    const auto found = inGroup.find(id);
    if (found != inGroup.end()) {
      add(*found->second);
      continue;
    }
    SGroupMachine gone;
    gone.replicationId = id;
    gone.source = source;
    add(gone);
  }
  for (const SGroupMachine& machine : group) add(machine);
  for (const SMachineVerdict& v : verdicts) {
    SGroupMachine other;
    other.replicationId = v.replicationId;
    other.source = source;
    add(other);
  }
  // Names for the machines the group no longer names: the job's verdicts,
  // then its phase rows, then the latest verdict of another job.
  auto unnamed = [&machines] {
    std::set<int> ids;
    for (const SGroupMachine& machine : machines) {
      if (machine.name.empty()) ids.insert(machine.replicationId);
    }
    return ids;
  };
  auto name = [&machines](const std::map<int, std::string>& names) {
    for (SGroupMachine& machine : machines) {
      const auto found = machine.name.empty() ? names.find(machine.replicationId) : names.end();
      if (found != names.end()) machine.name = found->second;
    }
  };
  std::map<int, std::string> fromVerdicts;
  for (const SMachineVerdict& v : verdicts) {
    if (!v.name.empty()) fromVerdicts.emplace(v.replicationId, v.name);
  }
  name(fromVerdicts);
  name(NamesOfRows(jobId, unnamed()));
  std::map<int, std::string> fromOthers;
  if (CMachineVerdictStore::LatestNames(unnamed(), fromOthers) != EStoreResult::kOk) fromOthers.clear();
  name(fromOthers);
  return machines;
}

void CMachineOutcomes::Read(long long jobId, int attempt, const SJobEnd& end, const std::string& noVerdict,
                            std::vector<SMachineOutcome>& out) {
  const std::vector<SGroupMachine>& machines = end.machines;
  // A job's verdicts in machine-list order, by replication: a group of
  // thousands of machines is matched in one pass.
  std::vector<const SMachineVerdict*> stored;
  std::unordered_map<int, const SMachineVerdict*> byReplication;
  for (const SMachineVerdict& v : end.verdicts) {
    if (v.attempt != attempt) continue;
    stored.push_back(&v);
    byReplication[v.replicationId] = &v;
  }
  out.clear();
  out.reserve(machines.size());
  std::set<int> told;
  for (const SGroupMachine& machine : machines) {
    if (!told.insert(machine.replicationId).second) continue;
    SMachineOutcome outcome;
    const auto found = byReplication.find(machine.replicationId);
    if (found != byReplication.end()) {
      outcome.verdict = *found->second;
    } else {
      outcome.decided = false;
      outcome.verdict.jobId = jobId;
      outcome.verdict.replicationId = machine.replicationId;
      outcome.verdict.reason = noVerdict;
    }
    // The group names its machines as the operator made it.
    if (!machine.name.empty()) outcome.verdict.name = machine.name;
    out.push_back(outcome);
  }
  for (const SMachineVerdict* v : stored) {
    if (!told.insert(v->replicationId).second) continue;
    SMachineOutcome outcome;
    outcome.verdict = *v;
    out.push_back(outcome);
  }
}

std::string CMachineOutcomes::Line(long long jobId, const SMachineOutcome& outcome, CMachineStandings& standings) {
  const SMachineVerdict& v = outcome.verdict;
  // Names, phases and reasons are the lab's and its engine's texts: escaped,
  // none can break the line or forge another.
  const std::string name = v.name.empty() ? std::to_string(v.replicationId) : CDrJobArgs::ShownName(v.name);
  std::string line = "DR job [" + std::to_string(jobId) + "] machine [" + name + "] (replication " +
                     std::to_string(v.replicationId) +
                     "): " + (outcome.decided ? CMachineVerdictStore::Text(v.verdict) : "no verdict yet");
  // A skipped machine is not finished either: what skipped it may be a
  // failure this job's earlier attempt left.
  const bool finished = outcome.decided && v.verdict == EMachineVerdict::kSucceeded;
  if (outcome.decided && v.verdict == EMachineVerdict::kFailed && !v.phase.empty()) {
    line += " in phase [" + CDrJobArgs::ShownText(v.phase) + "]";
  }
  if (!v.reason.empty()) {
    line += ": " + CDrJobArgs::ShownText(v.reason);
  } else if (!outcome.decided || v.verdict != EMachineVerdict::kSucceeded) {
    line += " (no reason recorded)";
  }
  // Where the workload of a machine left unfinished runs is what the
  // operator decides the next step on.
  if (!finished) line += "; now: " + standings.Of(v.replicationId).now;
  return line;
}
