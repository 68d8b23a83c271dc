#include "host/KillTable.h"

#include <signal.h>
#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <iterator>
#include <map>
#include <sstream>

#include "host/SeedArrays.h"
#include "host/SeedReplications.h"

namespace killtable {

using crashmatrix::SCrash;
using crashmatrix::SType;

namespace {

// The verdicts drjob gives a machine, longest first where one starts another.
const char* const kVerdicts[] = {"succeeded", "skipped", "failed", "not reached", "not processed"};

// The VM replications of a sample VM group.
std::vector<SSampleVM> SampleVMs(const std::string& group) {
  if (group == "SampleTest") return std::vector<SSampleVM>(std::begin(kSampleTestVMs), std::end(kSampleTestVMs));
  if (group == "Sample") return std::vector<SSampleVM>(std::begin(kSampleVMs), std::end(kSampleVMs));
  return std::vector<SSampleVM>();
}

// What a picture line of the machine starts with.
std::vector<std::string> MachinePrefixes(const std::string& group, int replicationId) {
  const std::string id = std::to_string(replicationId);
  std::vector<std::string> prefixes;
  auto vm = [&prefixes](const std::string& name) {
    prefixes.push_back("vm " + name + " ");
    prefixes.push_back("mounted vm " + name + " ");
    prefixes.push_back("afile " + name + " ");
  };
  if (group == "SampleDB") {
    prefixes = {"db-repl " + id + " ", "database " + std::to_string(10 + replicationId) + " ",
                "database " + std::to_string(20 + replicationId) + " "};
  } else if (group == "SampleArray") {
    for (const SSampleArrayVM& v : kSampleArrayVMs) {
      if (v.replicationId == replicationId) vm(v.name);
    }
    prefixes.push_back("array-repl " + id + " ");
  } else {
    for (const SSampleVM& v : SampleVMs(group)) {
      if (v.replicationId != replicationId) continue;
      vm(v.source);
      vm(v.destination);
      vm(std::string(v.destination) + "-Clone");
    }
    prefixes.push_back("repl " + id + " ");
    prefixes.push_back("backups " + id + " ");
  }
  return prefixes;
}

// The DR VM of a VM replication of the group; empty for other groups.
std::string DRVMName(const std::string& group, int replicationId) {
  for (const SSampleVM& v : SampleVMs(group)) {
    if (v.replicationId == replicationId) return v.destination;
  }
  return std::string();
}

bool HasLineStarting(const std::vector<std::string>& lines, const std::string& prefix) {
  return std::any_of(lines.begin(), lines.end(), [&](const std::string& l) { return l.rfind(prefix, 0) == 0; });
}

// Each machine's verdict word(s) from drjob's lines "drjob: DR job [N]
// machine [NAME] (replication R): VERDICT...".
std::map<int, std::string> Verdicts(const std::string& output) {
  std::map<int, std::string> verdicts;
  for (const std::string& line : crashmatrix::PictureLines(output)) {
    const size_t at = line.find("(replication ");
    if (line.find(" machine [") == std::string::npos || at == std::string::npos) continue;
    const size_t close = line.find("): ", at);
    if (close == std::string::npos) continue;
    const int id = atoi(line.c_str() + at + sizeof("(replication ") - 1);
    const std::string rest = line.substr(close + 3);
    std::string verdict = rest.substr(0, rest.find(':'));
    for (const char* known : kVerdicts) {
      if (rest.rfind(known, 0) == 0) verdict = known;
    }
    verdicts[id] = verdict;
  }
  return verdicts;
}

std::string Joined(const std::vector<std::string>& lines) {
  std::string out;
  for (const std::string& l : lines) out += (out.empty() ? "" : " | ") + l;
  return out;
}

}  // namespace

std::vector<std::string> NextSteps(const std::string& output) {
  const std::string command = "drjob run ";
  std::vector<std::string> steps;
  for (const std::string& line : crashmatrix::PictureLines(output)) {
    if (line.rfind("drjob: ", 0) != 0) continue;
    const size_t at = line.find(": " + command);
    if (at != std::string::npos) steps.push_back(line.substr(at + 2));
  }
  return steps;
}

std::vector<std::string> MachineLines(const std::string& group, int replicationId, const std::string& picture) {
  const std::vector<std::string> prefixes = MachinePrefixes(group, replicationId);
  std::vector<std::string> lines;
  for (const std::string& line : crashmatrix::PictureLines(picture)) {
    if (std::any_of(prefixes.begin(), prefixes.end(), [&](const std::string& p) { return line.rfind(p, 0) == 0; })) {
      lines.push_back(line);
    }
  }
  return lines;
}

SCrash CKillTable::At(const SType& type, const std::string& name) {
  for (const SCrash& crash : crashmatrix::CrashesOf(type)) {
    if (crash.name == name) return crash;
  }
  ADD_FAILURE() << type.type << " has no crash-matrix moment [" << name << "]";
  return SCrash(name, name);
}

SKillOutcome CKillTable::Kill(const SType& type, const SCrash& at) {
  SKillOutcome outcome;
  const std::string db = LabFor(type);
  outcome.db = db;
  const size_t logged = drtest::ReadFile(LogPath()).size();
  int signal = 0;
  const drtest::SResult run = RunHost({"DR_KILL_AT=" + at.marker, "DR_KILL_AT_COUNT=" + std::to_string(at.count)},
                                      RunArgs(type, db), signal);
  outcome.exitCode = run.code;
  outcome.output = run.output;
  if (signal != 0) outcome.faults.push_back("drjob ended by signal " + std::to_string(signal) + ":\n" + run.output);
  const std::string log = drtest::ReadFile(LogPath());
  const std::string requested = "KillPoint(): Kill of DR job [" + std::to_string(crashmatrix::kJobId) + "] requested";
  if (log.size() < logged || log.find(requested, logged) == std::string::npos) {
    outcome.faults.push_back("the kill was not requested: no line held the marker");
  }
  CDBConnection::SetPath(db);
  outcome.picture = crashmatrix::Picture(type.group);
  crashmatrix::SOutcome ended;
  CheckRunsEnded(ended);
  outcome.faults.insert(outcome.faults.end(), ended.faults.begin(), ended.faults.end());
  const std::map<int, std::string> verdicts = Verdicts(run.output);
  for (int id : crashmatrix::GroupReplications(type.group)) {
    SMachineEnd machine;
    machine.replicationId = id;
    const auto verdict = verdicts.find(id);
    if (verdict != verdicts.end()) machine.verdict = verdict->second;
    machine.lines = MachineLines(type.group, id, outcome.picture);
    outcome.machines.push_back(machine);
  }
  return outcome;
}

void CKillTable::Expect(const SType& type, const SCrash& at, const SKillOutcome& outcome) {
  std::string what = type.group + " " + type.type;
  for (const std::string& option : type.options) what += " " + option;
  what += ", killed at [" + at.name + "]";
  SCOPED_TRACE(what);
  for (const std::string& fault : outcome.faults) ADD_FAILURE() << fault;
  const std::string expected = crashmatrix::WithLines(type.picture, at.differs);
  const std::vector<std::string> expectedLines = crashmatrix::PictureLines(expected);
  for (const SMachineEnd& machine : outcome.machines) {
    printf("kill table: %s | replication %d: %s | %s\n", what.c_str(), machine.replicationId,
           machine.verdict.empty() ? "(no line)" : machine.verdict.c_str(), Joined(machine.lines).c_str());
    EXPECT_FALSE(machine.verdict.empty()) << "drjob printed no line for replication " << machine.replicationId
                                          << ":\n" << outcome.output;
    if (machine.verdict == "succeeded") {
      std::string want, found;
      for (const std::string& l : MachineLines(type.group, machine.replicationId, expected)) want += l + "\n";
      for (const std::string& l : machine.lines) found += l + "\n";
      const std::string diff = crashmatrix::PictureDiff(want, found);
      EXPECT_TRUE(diff.empty()) << "drjob calls replication " << machine.replicationId
                                << " succeeded, but the lab does not hold it where the type puts it (- expected, + "
                                   "found):\n"
                                << diff << outcome.output;
    }
    const std::string drVM = DRVMName(type.group, machine.replicationId);
    if (drVM.empty()) continue;
    const std::string removed = "repl " + std::to_string(machine.replicationId) + " removed";
    const bool removedWithItsVM = HasLineStarting(machine.lines, removed) &&
                                  HasLineStarting(machine.lines, "vm " + drVM + " ");
    const bool typeKeepsTheVM =
        HasLineStarting(expectedLines, removed) && HasLineStarting(expectedLines, "vm " + drVM + " ");
    EXPECT_FALSE(removedWithItsVM && !typeKeepsTheVM)
        << "replication " << machine.replicationId << " is removed while its DR VM [" << drVM
        << "] remains on the hypervisor:\n"
        << outcome.output;
  }
}

SKillOutcome CKillTable::KillAndExpect(const SType& type, const SCrash& at) {
  const SKillOutcome outcome = Kill(type, at);
  Expect(type, at, outcome);
  return outcome;
}

}  // namespace killtable
