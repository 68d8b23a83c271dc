#include "DrJobOutcomes.h"

#include <set>
#include <unordered_map>

#include "DrJobMachinePlace.h"

bool CMachineOutcomes::Read(long long jobId, int attempt, const std::vector<SGroupMachine>& machines,
                            const std::string& noVerdict, std::vector<SMachineOutcome>& out) {
  std::vector<SMachineVerdict> all;
  if (CMachineVerdictStore::ReadJob(jobId, all) != EStoreResult::kOk) return false;
  // A job's verdicts in machine-list order, by replication: a group of
  // thousands of machines is matched in one pass.
  std::vector<const SMachineVerdict*> stored;
  std::unordered_map<int, const SMachineVerdict*> byReplication;
  for (const SMachineVerdict& v : all) {
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
  return true;
}

std::string CMachineOutcomes::Line(long long jobId, const SMachineOutcome& outcome) {
  const SMachineVerdict& v = outcome.verdict;
  const std::string name = v.name.empty() ? std::to_string(v.replicationId) : v.name;
  std::string line = "DR job [" + std::to_string(jobId) + "] machine [" + name + "] (replication " +
                     std::to_string(v.replicationId) +
                     "): " + (outcome.decided ? CMachineVerdictStore::Text(v.verdict) : "no verdict yet");
  // A skipped machine is not finished either: what skipped it may be a
  // failure this job's earlier attempt left.
  const bool finished = outcome.decided && v.verdict == EMachineVerdict::kSucceeded;
  if (outcome.decided && v.verdict == EMachineVerdict::kFailed && !v.phase.empty()) {
    line += " in phase [" + v.phase + "]";
  }
  if (!v.reason.empty()) {
    line += ": " + v.reason;
  } else if (!outcome.decided || v.verdict != EMachineVerdict::kSucceeded) {
    line += " (no reason recorded)";
  }
  // Where the workload of a machine left unfinished runs is what the
  // operator decides the next step on.
  if (!finished) line += "; now: " + CMachinePlace::Text(v.replicationId);
  return line;
}
