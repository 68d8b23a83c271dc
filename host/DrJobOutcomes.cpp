#include "DrJobOutcomes.h"

#include <set>
#include <unordered_map>

bool CMachineOutcomes::Read(long long jobId, int attempt, const std::vector<SGroupMachine>& machines,
                            const std::string& noVerdict, std::vector<SMachineVerdict>& out) {
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
    SMachineVerdict verdict;
    const auto found = byReplication.find(machine.replicationId);
    if (found != byReplication.end()) {
      verdict = *found->second;
    } else {
      verdict.jobId = jobId;
      verdict.replicationId = machine.replicationId;
      verdict.verdict = EMachineVerdict::kNotReached;
      verdict.reason = noVerdict;
    }
    // The group names its machines as the operator made it.
    if (!machine.name.empty()) verdict.name = machine.name;
    out.push_back(verdict);
  }
  for (const SMachineVerdict* v : stored) {
    if (told.insert(v->replicationId).second) out.push_back(*v);
  }
  return true;
}

std::string CMachineOutcomes::Line(long long jobId, const SMachineVerdict& v) {
  const std::string name = v.name.empty() ? std::to_string(v.replicationId) : v.name;
  std::string line = "DR job [" + std::to_string(jobId) + "] machine [" + name + "] (replication " +
                     std::to_string(v.replicationId) + "): " + CMachineVerdictStore::Text(v.verdict);
  if (v.verdict == EMachineVerdict::kFailed && !v.phase.empty()) line += " in phase [" + v.phase + "]";
  if (!v.reason.empty()) {
    line += ": " + v.reason;
  } else if (v.verdict != EMachineVerdict::kSucceeded) {
    line += " (no reason recorded)";
  }
  return line;
}
