#include "host/KillTable.h"

#include <signal.h>
#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <iterator>
#include <map>
#include <sstream>
#include <utility>

#include "host/CrashMatrixTypes.h"
#include "host/SeedArrays.h"
#include "host/SeedReplications.h"
#include "jobs/PhaseRowStore.h"

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

std::string CaseName(const SType& type, const SCrash& at) {
  std::string what = type.group + " " + type.type;
  for (const std::string& option : type.options) what += " " + option;
  return what + ", killed at [" + at.name + "]";
}

// How many generations of printed next steps a case follows: the steps the
// kill's run printed, then the steps those printed.
constexpr int kGenerations = 2;

// An expected picture line matches a found one as in the crash matrix.
bool Same(const std::string& expected, const std::string& found) {
  return crashmatrix::PictureDiff(expected + "\n", found + "\n").empty();
}

// The lines each list lacks, "- " expected and "+ " found, around their
// longest common run: a line too many or too few shows as that line alone.
std::string LineDiff(const std::vector<std::string>& e, const std::vector<std::string>& f) {
  std::vector<std::vector<int>> common(e.size() + 1, std::vector<int>(f.size() + 1, 0));
  for (size_t i = e.size(); i-- > 0;) {
    for (size_t j = f.size(); j-- > 0;) {
      common[i][j] = Same(e[i], f[j]) ? common[i + 1][j + 1] + 1 : std::max(common[i + 1][j], common[i][j + 1]);
    }
  }
  std::string out;
  size_t i = 0, j = 0;
  while (i < e.size() || j < f.size()) {
    if (i < e.size() && j < f.size() && Same(e[i], f[j])) {
      ++i;
      ++j;
    } else if (j == f.size() || (i < e.size() && common[i + 1][j] >= common[i][j + 1])) {
      out += "- " + e[i++] + "\n";
    } else {
      out += "+ " + f[j++] + "\n";
    }
  }
  return out;
}

// A kill may make a child job (and the backup's archive files) run again:
// their counts are left open, as in the crash sampler.
std::string AnyCounts(const std::string& picture) {
  std::string out;
  for (std::string line : crashmatrix::PictureLines(picture)) {
    const size_t count = line.rfind(" x");
    const bool backedUp = line.rfind("afile ", 0) == 0 && line.find(" mounted ") == std::string::npos;
    if ((line.rfind("jobs ", 0) == 0 || backedUp) && count != std::string::npos) line = line.substr(0, count) + " *";
    out += line + "\n";
  }
  return out;
}

// The lab's picture less the child jobs the kill killed.
std::string WithoutKilledJobs(const std::string& picture) {
  std::string out;
  for (const std::string& line : crashmatrix::PictureLines(picture)) {
    if (line.rfind("jobs ", 0) == 0 && line.find(" Killed x") != std::string::npos) continue;
    out += line + "\n";
  }
  return out;
}

// Where a type's machines may end instead of where it puts them: a revert
// that can no longer take a machine leaves it to the undo failover.
std::vector<const SType*> EndsOf(const SType& type) {
  std::vector<const SType*> ends = {&type};
  if (&type == &crashmatrix::kRevertFailover) ends.push_back(&crashmatrix::kUndoFailover);
  return ends;
}

// The picture a chain must end with for one of the type's ends: the
// writes where the workload ends, child job counts open.
std::string ExpectedEnd(const SType& type, const SType& end, const SCrash& at,
                        const std::vector<std::string>& written) {
  std::string expected =
      &end == &type ? crashmatrix::WithLines(end.picture, at.differs) : end.picture;
  for (const std::string& vm : written) expected = crashmatrix::WithWrite(expected, vm);
  return AnyCounts(expected);
}

// A picture's lines that concern no single machine (child jobs, array
// relationships and LUNs).
std::vector<std::string> GroupLines(const std::string& group, const std::string& picture) {
  std::vector<std::string> machines;
  for (int id : crashmatrix::GroupReplications(group)) {
    const std::vector<std::string> lines = MachineLines(group, id, picture);
    machines.insert(machines.end(), lines.begin(), lines.end());
  }
  std::vector<std::string> rest;
  for (const std::string& line : crashmatrix::PictureLines(picture)) {
    if (std::find(machines.begin(), machines.end(), line) == machines.end()) rest.push_back(line);
  }
  return rest;
}

// The id of the DR job a run of drjob ran ("drjob: DR job [N] ..."); 0
// when it names none.
long long JobIdOf(const std::string& output) {
  const size_t at = output.find("drjob: DR job [");
  return at == std::string::npos ? 0 : atoll(output.c_str() + at + sizeof("drjob: DR job [") - 1);
}

// The attempt by its place in the chain, for a message.
std::string AttemptName(const SAttempt& a) {
  return a.generation == 0 ? std::string("the kill's run")
                           : "follow-up " + std::to_string(a.generation) + " [" + a.command + "]";
}

// The attempts of a chain, each with its command, exit code and drjob's
// lines: what a failure message names.
std::string ChainText(const SRerunOutcome& outcome) {
  std::string text;
  for (const SAttempt& a : outcome.attempts) text += crashmatrix::RunText(AttemptName(a), a.exitCode, 0, a.output);
  if (!outcome.written.empty()) text += "written after the kill in: " + Joined(outcome.written, " | ") + "\n";
  return text;
}

}  // namespace

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

std::string Joined(const std::vector<std::string>& words, const char* between) {
  std::string text;
  for (const std::string& word : words) text += (text.empty() ? "" : between) + word;
  return text;
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
  const std::string db = LabFor(type);
  const size_t logged = drtest::ReadFile(LogPath()).size();
  int signal = 0;
  const drtest::SResult run = RunHost({"DR_KILL_AT=" + at.marker, "DR_KILL_AT_COUNT=" + std::to_string(at.count)},
                                      RunArgs(type, db), signal);
  SKillOutcome outcome = Stopped(type, db, run, signal);
  const std::string log = drtest::ReadFile(LogPath());
  const std::string requested = "KillPoint(): Kill of DR job [" + std::to_string(crashmatrix::kJobId) + "] requested";
  if (log.size() < logged || log.find(requested, logged) == std::string::npos) {
    outcome.faults.push_back("the kill was not requested: no line held the marker");
  }
  return outcome;
}

SKillOutcome CKillTable::Stopped(const SType& type, const std::string& db, const drtest::SResult& run, int signal) {
  SKillOutcome outcome;
  outcome.db = db;
  outcome.exitCode = run.code;
  outcome.output = run.output;
  if (signal != 0) outcome.faults.push_back("drjob ended by signal " + std::to_string(signal) + ":\n" + run.output);
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
  const std::string what = CaseName(type, at);
  SCOPED_TRACE(what);
  for (const std::string& fault : outcome.faults) ADD_FAILURE() << fault;
  const std::string expected = crashmatrix::WithLines(type.picture, at.differs);
  const std::vector<std::string> expectedLines = crashmatrix::PictureLines(expected);
  for (const SMachineEnd& machine : outcome.machines) {
    printf("kill table: %s | replication %d: %s | %s\n", what.c_str(), machine.replicationId,
           machine.verdict.empty() ? "(no line)" : machine.verdict.c_str(), Joined(machine.lines, " | ").c_str());
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
                                << diff << crashmatrix::RunText("the kill's run", outcome.exitCode, 0, outcome.output);
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

SRerunOutcome CKillTable::KillAndRerun(const SType& type, const SCrash& at) {
  const SKillOutcome kill = KillAndExpect(type, at);
  SAttempt killed;
  killed.exitCode = kill.exitCode;
  killed.output = kill.output;
  killed.picture = kill.picture;
  killed.nextSteps = drtest::PrintedCommands(killed.output);
  CDBConnection::CloseThreadConnections();
  CDBConnection::SetPath("");
  const SRerunOutcome outcome = Follow(type, kill, killed, WriteInWorkloads(type, kill.db));
  ExpectRerun(type, at, outcome);
  return outcome;
}

void CKillTable::RunNextStep(const SType&, const std::string&, SAttempt& attempt, std::vector<std::string>&) {
  const drtest::SResult run = RunAsPrinted(attempt.command);
  attempt.exitCode = run.code;
  attempt.output = run.output;
  attempt.nextSteps = drtest::PrintedCommands(run.output);
}

SRerunOutcome CKillTable::Follow(const SType& type, const SKillOutcome& stopped, const SAttempt& first,
                                 const std::vector<std::string>& written) {
  SRerunOutcome outcome;
  outcome.kill = stopped;
  const std::string& db = stopped.db;
  outcome.attempts.push_back(first);
  outcome.written = written;
  // Each step to run with the attempt that printed it (its place in
  // attempts).
  std::vector<std::pair<std::string, size_t>> steps;
  for (const std::string& command : first.nextSteps) steps.emplace_back(command, 0);
  // The new jobs the printed steps made.
  std::vector<long long> jobs;
  // Where each new job's command last ran. Printed again by an attempt that
  // ran before it, it is the job already run: the operator does not start
  // the same new job twice. Printed again by that job, which completed
  // with errors and is not run again, or by a later attempt, it is a new
  // job of its own.
  std::map<std::string, size_t> newJobRunAt;
  for (int generation = 1; generation <= kGenerations && !steps.empty(); ++generation) {
    std::vector<std::pair<std::string, size_t>> printed;
    for (const auto& step : steps) {
      const std::string& command = step.first;
      if (command.find(" --job-id ") == std::string::npos) {
        const auto ran = newJobRunAt.find(command);
        if (ran != newJobRunAt.end() && ran->second > step.second) continue;
        newJobRunAt[command] = outcome.attempts.size();
      }
      SAttempt attempt;
      attempt.command = command;
      attempt.generation = generation;
      RunNextStep(type, db, attempt, outcome.written);
      for (const std::string& next : attempt.nextSteps) printed.emplace_back(next, outcome.attempts.size());
      const long long job = JobIdOf(attempt.output);
      if (job != 0 && job != crashmatrix::kJobId && std::find(jobs.begin(), jobs.end(), job) == jobs.end()) {
        jobs.push_back(job);
      }
      CDBConnection::SetPath(db);
      attempt.picture = crashmatrix::Picture(type.group);
      CDBConnection::CloseThreadConnections();
      CDBConnection::SetPath("");
      outcome.attempts.push_back(attempt);
    }
    steps = printed;
  }
  CDBConnection::SetPath(db);
  outcome.picture = crashmatrix::Picture(type.group);
  // What holds after any run of the crash matrix, which reads the rows of
  // the killed job only: the new jobs' rows are read here.
  crashmatrix::SOutcome ended;
  CheckRunsEnded(ended);
  outcome.faults = ended.faults;
  for (long long job : jobs) {
    std::vector<SPhaseRowRecord> rows;
    EXPECT_EQ(EStoreResult::kOk, CPhaseRowStore::ReadJob(job, rows)) << "DR job " << job;
    for (const SPhaseRowRecord& row : rows) {
      if (row.status == Api::VIRTUAL_APP_PHASE_STATE_IN_PROGRESS) {
        outcome.faults.push_back("phase row " + std::to_string(row.phase) + " of replication " +
                                 std::to_string(row.replicationId) + " of DR job " + std::to_string(job) +
                                 " is left IN-PROGRESS");
      }
    }
  }
  return outcome;
}

void CKillTable::ExpectRerun(const SType& type, const SCrash& at, const SRerunOutcome& outcome) {
  const std::string what = CaseName(type, at);
  // What differs, each with the attempt it concerns; reported once, with
  // the chain, so that a case fails in one message.
  std::vector<std::string> problems = outcome.faults;
  const std::vector<const SType*> ends = EndsOf(type);
  std::vector<std::string> expected;
  for (const SType* end : ends) expected.push_back(ExpectedEnd(type, *end, at, outcome.written));
  // A machine's lines against each end: the index of the first end they
  // match, or ends.size() with the lines that differ from the first.
  auto endOf = [&](int id, const std::string& picture, std::string& diff) {
    const std::vector<std::string> found = MachineLines(type.group, id, picture);
    for (size_t e = 0; e < ends.size(); ++e) {
      const std::string d = LineDiff(MachineLines(type.group, id, expected[e]), found);
      if (d.empty()) return e;
      if (e == 0) diff = d;
    }
    return ends.size();
  };
  std::string others;
  for (size_t e = 1; e < ends.size(); ++e) others += " nor where " + ends[e]->type + " leaves it";

  // Every "succeeded" line of a follow-up holds of the lab after it (the
  // kill's run's are checked with the kill); the last attempt's are told
  // with the lab it ends with.
  std::map<int, std::string> calledSucceeded;
  for (size_t i = 1; i < outcome.attempts.size(); ++i) {
    const SAttempt& a = outcome.attempts[i];
    const std::string picture = WithoutKilledJobs(a.picture);
    for (const auto& verdict : Verdicts(a.output)) {
      if (verdict.second != "succeeded") continue;
      if (i + 1 == outcome.attempts.size()) {
        calledSucceeded[verdict.first] = AttemptName(a);
        continue;
      }
      std::string diff;
      if (endOf(verdict.first, picture, diff) < ends.size()) continue;
      problems.push_back(AttemptName(a) + " calls replication " + std::to_string(verdict.first) +
                         " succeeded, but the lab after it does not hold it where " + type.type + " puts it" + others +
                         " (- expected, + found):\n" + diff);
    }
  }

  // The chain ends within its generations, each end as the uninterrupted
  // run ends.
  for (size_t i = 0; i < outcome.attempts.size(); ++i) {
    const SAttempt& a = outcome.attempts[i];
    // A step the last generation prints that the chain runs after it (the
    // new job an attempt of that generation printed too) is followed.
    std::vector<std::string> unfollowed;
    for (const std::string& next : a.nextSteps) {
      const auto ran = std::find_if(outcome.attempts.begin() + static_cast<std::ptrdiff_t>(i) + 1,
                                    outcome.attempts.end(), [&next](const SAttempt& b) { return b.command == next; });
      if (ran == outcome.attempts.end()) unfollowed.push_back(next);
    }
    if (!unfollowed.empty() && a.generation == kGenerations) {
      problems.push_back(AttemptName(a) + " still prints a next step after " + std::to_string(kGenerations) +
                         " generations of them: " + Joined(unfollowed, " | "));
    }
    // A job whose every machine another step of the chain already put
    // where its type puts them skips them all, and ends FAILED as any job
    // that did nothing does; it says so and leaves nothing to do.
    const bool allInPlace = a.exitCode == 1 && a.output.find(" needs no next step for ") != std::string::npos &&
                            a.output.find("): failed") == std::string::npos &&
                            a.output.find("): not ") == std::string::npos &&
                            a.output.find("): no verdict") == std::string::npos;
    if (a.nextSteps.empty() && a.exitCode != type.exitCode && !allInPlace) {
      problems.push_back(AttemptName(a) + " prints no next step, yet exits " + std::to_string(a.exitCode) +
                         ", not " + std::to_string(type.exitCode) + " as the uninterrupted run");
    }
  }

  // The lab the chain ends with, machine by machine, then the rest.
  const std::string last = WithoutKilledJobs(outcome.picture);
  std::string summary;
  for (int id : crashmatrix::GroupReplications(type.group)) {
    std::string diff;
    const size_t e = endOf(id, last, diff);
    summary += " | " + std::to_string(id) + ": " +
               (e == 0 ? std::string("as uninterrupted") : e < ends.size() ? "as " + ends[e]->type : "differs");
    if (e < ends.size()) continue;
    const auto called = calledSucceeded.find(id);
    problems.push_back("after the last attempt replication " + std::to_string(id) +
                       " is not where the uninterrupted run leaves it" + others +
                       (called != calledSucceeded.end() ? ", though " + called->second + " calls it succeeded" : "") +
                       " (- expected, + found):\n" + diff);
  }
  const std::vector<std::string> rest = GroupLines(type.group, last);
  std::string restDiff;
  for (size_t e = 0; e < ends.size(); ++e) {
    const std::string d = LineDiff(GroupLines(type.group, expected[e]), rest);
    if (d.empty()) {
      restDiff.clear();
      break;
    }
    if (e == 0) restDiff = d;
  }
  if (!restDiff.empty()) {
    problems.push_back("after the last attempt the group's other lines (child jobs, relationships, LUNs) are not "
                       "the uninterrupted run's (- expected, + found):\n" +
                       restDiff);
  }

  std::string runs = "exit " + std::to_string(outcome.attempts.front().exitCode);
  for (size_t i = 1; i < outcome.attempts.size(); ++i) {
    runs += " | then [" + outcome.attempts[i].command + "] exit " + std::to_string(outcome.attempts[i].exitCode);
  }
  printf("kill table rerun: %s | %s%s\n", what.c_str(), runs.c_str(), summary.c_str());
  if (problems.empty()) return;
  std::string message = what + ", then its next steps as printed:\n";
  for (const std::string& p : problems) message += "* " + p + (p.back() == '\n' ? "" : "\n");
  ADD_FAILURE() << message << "the chain:\n" << ChainText(outcome);
}

}  // namespace killtable
