#include "DrJobOutcomes.h"

#include <set>

bool CMachineOutcomes::Read(long long jobId, int attempt, const std::vector<SGroupMachine>& machines,
                            const std::string& noVerdict, std::vector<SMachineVerdict>& out) {
  std::vector<SMachineVerdict> all;
  if (CMachineVerdictStore::ReadJob(jobId, all) != EStoreResult::kOk) return false;
  std::vector<SMachineVerdict> stored;
  for (const SMachineVerdict& v : all) {
    if (v.attempt == attempt) stored.push_back(v);
  }
  out.clear();
  std::set<int> told;
  for (const SGroupMachine& machine : machines) {
    SMachineVerdict verdict;
    verdict.jobId = jobId;
    verdict.replicationId = machine.replicationId;
    verdict.verdict = EMachineVerdict::kNotReached;
    verdict.reason = noVerdict;
    for (const SMachineVerdict& v : stored) {
      if (v.replicationId == machine.replicationId) verdict = v;
    }
    // The group names its machines as the operator made it.
    if (!machine.name.empty()) verdict.name = machine.name;
    if (told.insert(machine.replicationId).second) out.push_back(verdict);
  }
  for (const SMachineVerdict& v : stored) {
    if (told.insert(v.replicationId).second) out.push_back(v);
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
