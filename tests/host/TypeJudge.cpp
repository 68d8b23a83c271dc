#include "host/TypeJudge.h"

#include <ctype.h>
#include <stdlib.h>

#include <algorithm>
#include <iterator>
#include <sstream>

#include "host/CrashMatrix.h"
#include "host/KillTable.h"
#include "host/SeedArrays.h"
#include "host/SeedReplications.h"

namespace typejudge {

namespace {

std::string Spaced(std::string word) {
  std::replace(word.begin(), word.end(), '_', ' ');
  return word;
}

std::vector<std::string> Words(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> words;
  for (std::string w; in >> w;) words.push_back(w);
  return words;
}

std::vector<std::string> Commas(const std::string& text) {
  std::vector<std::string> parts;
  if (text == "-") return parts;
  std::istringstream in(text);
  for (std::string part; std::getline(in, part, ',');) parts.push_back(part);
  return parts;
}

bool Has(const std::vector<std::string>& list, const std::string& item) {
  return std::find(list.begin(), list.end(), item) != list.end();
}

// The names of a machine's VMs: its source and DR VM (a storage-array
// machine's one name is both: its source and, mounted, its DR VM).
bool VMNames(const std::string& group, int id, std::string& source, std::string& dr) {
  auto vms = [&](const auto& list) {
    for (const auto& vm : list) {
      if (vm.replicationId != id) continue;
      source = vm.source;
      dr = vm.destination;
      return true;
    }
    return false;
  };
  if (group == "Sample") return vms(kSampleVMs);
  if (group == "SampleTest") return vms(kSampleTestVMs);
  for (const SSampleArrayVM& vm : kSampleArrayVMs) {
    if (vm.replicationId == id) source = dr = vm.name;
  }
  return !source.empty();
}

void ReadVM(const std::vector<std::string>& w, size_t at, SVM& vm) {
  vm.exists = true;
  vm.on = w[at] == "on";
  vm.content = atoll(w[at + 1].c_str());
  vm.snapshots = Commas(w[at + 2]);
}

// A point-in-time snapshot is named after its time: "<vm>_<digits>".
bool IsPointInTime(const std::string& name) {
  const size_t at = name.rfind('_');
  return at != std::string::npos && at + 1 < name.size() &&
         std::all_of(name.begin() + static_cast<std::ptrdiff_t>(at) + 1, name.end(),
                     [](char c) { return isdigit(static_cast<unsigned char>(c)) != 0; });
}

// Backups' archive files grow with any machine's backup: not a machine's own.
bool IsBackupAfile(const std::string& line) {
  return line.rfind("afile ", 0) == 0 && line.find(" mounted ") == std::string::npos;
}

std::string OwnLines(const SStanding& s) {
  std::string text;
  for (const std::string& l : s.lines) {
    if (!IsBackupAfile(l)) text += l + "\n";
  }
  return text;
}

// A status cell of the table against the status found: "unchanged" is the
// status before, "-" any, "none" no status, "no record" a removed record.
bool StatusAsTold(const std::string& cell, const std::string& before, const std::string& after, bool record) {
  if (cell == "-") return true;
  std::string rest = cell;
  while (true) {
    const size_t or_ = rest.find(" or ");
    const std::string one = rest.substr(0, or_);
    if (one == "no record" && !record) return true;
    if (record) {
      if (one == "unchanged" && after == before) return true;
      if (one == "none" && after == "-") return true;
      if (one == after) return true;
    }
    if (or_ == std::string::npos) return false;
    rest = rest.substr(or_ + 4);
  }
}

// Where the table says a type runs a machine's workload, held strictly (the
// other VM's power too) for a machine the type succeeded with, loosely
// (where the workload runs) for a machine told to stand where it puts it.
bool RunsAsTold(const std::string& runs, const std::string& kind, const SStanding& before, const SStanding& after,
                const SPlace& place, bool strict) {
  const bool drOff = !after.dr.exists || !after.dr.on;
  if (kind == "database") {
    if (runs == "DR database") return after.drDatabase && (!strict || !after.sourceDatabase);
    if (runs == "unchanged") return after.drDatabase == before.drDatabase && after.sourceDatabase == before.sourceDatabase;
    return after.sourceDatabase && (!strict || !after.drDatabase);
  }
  if (kind == "storage array") {
    if (runs == "DR mount") return after.mounted && after.failover == "Failover Complete" && (!strict || !after.source.on);
    if (runs == "unchanged") return after.source.on == before.source.on;
    return after.source.on;
  }
  if (runs == "source VM") return after.source.on && (!strict || drOff);
  if (runs == "DR VM") return after.dr.on && (!strict || !after.source.on);
  if (runs == "both VMs") return after.source.on && after.dr.on;
  // unchanged
  // A DR VM gone before the job (an earlier clean-up deleted it) is as
  // before when it is gone after.
  const bool drAsBefore =
      after.dr.exists ? before.dr.exists && after.dr.on == before.dr.on : !before.dr.exists || place.Removes("DR VM");
  return after.source.on == before.source.on && drAsBefore;
}

std::string Described(const SStanding& s) {
  return "failover status [" + s.failover + "], sync status [" + s.sync + "], test failover status [" + s.test +
         "], source VM " + (s.source.exists ? (s.source.on ? "on" : "off") : "gone") +
         (s.mounted ? ", a DR VM mounted" : s.dr.name == s.source.name ? ", none mounted"
                                                                       : ", DR VM " + std::string(s.dr.exists ? (s.dr.on ? "on" : "off") : "gone")) +
         (s.record ? "" : ", no replication record");
}

// The replication ids a line names "NAME (R), ..." after its first words
// from: what comes before them holds the group's "(I)".
std::set<int> NamedAfter(const std::string& text, const std::string& from) {
  std::set<int> ids;
  const size_t takes = text.find(from);
  if (takes == std::string::npos) return ids;
  for (size_t at = text.find(" (", takes); at != std::string::npos; at = text.find(" (", at + 2)) {
    const size_t close = text.find(')', at);
    if (close == std::string::npos) break;
    const std::string inside = text.substr(at + 2, close - at - 2);
    if (!inside.empty() && std::all_of(inside.begin(), inside.end(), [](char c) { return isdigit(c) != 0; })) {
      ids.insert(atoi(inside.c_str()));
    }
  }
  return ids;
}

// What drjob's line of a machine says of it, after its name.
std::string MachineLine(const std::string& output, int id) {
  const std::string key = "(replication " + std::to_string(id) + "): ";
  std::string said;
  for (const std::string& line : crashmatrix::PictureLines(output)) {
    const size_t at = line.find(key);
    if (at != std::string::npos && line.find(" machine [") != std::string::npos) said = line.substr(at + key.size());
  }
  return said;
}

// The machines the "leaves machine [NAME] (replication R)" lines name.
std::set<int> LeftMachines(const std::string& output) {
  std::set<int> ids;
  for (const std::string& line : crashmatrix::PictureLines(output)) {
    const size_t at = line.find(" leaves machine [");
    const size_t repl = line.find("] (replication ", at == std::string::npos ? 0 : at);
    if (at != std::string::npos && repl != std::string::npos) ids.insert(atoi(line.c_str() + repl + 15));
  }
  return ids;
}

// The told rule's "needs no next step for NAME (R), ...: already PLACE,
// where a DR job of type [T] puts them" lines: each machine must stand
// where T puts it.
void JudgeInPlace(const std::string& group, const std::string& output, const std::map<int, SStanding>& after,
                  std::vector<SFinding>& findings) {
  const std::string kind = KindOf(group);
  for (const std::string& line : crashmatrix::PictureLines(output)) {
    const size_t at = line.find(" needs no next step for ");
    const size_t type = line.find("where a DR job of type [");
    if (at == std::string::npos || type == std::string::npos) continue;
    const size_t from = type + sizeof("where a DR job of type [") - 1;
    const std::string typeName = line.substr(from, line.find(']', from) - from);
    const SPlace* place = PlaceOf(group, typeName, {});
    if (place == nullptr) {
      findings.push_back({"told", 0, "the table has no row for the type a line names: " + line});
      continue;
    }
    const std::string list = line.substr(at, line.find(": already", at) - at);
    for (int id : NamedAfter(list, " needs no next step for ")) {
      const auto s = after.find(id);
      if (s == after.end()) continue;
      // Where it stands is whether it stands failed over (a storage-array
      // undo's Revert Failover Complete is at the source as no status is),
      // its test failover and where its workload runs. A storage-array
      // machine stands failed over while a DR mount runs its workload: an
      // undo stopped after its unmount leaves its status behind with
      // nothing of the failover left, at the source.
      const bool failedOver =
          kind == "storage array" ? s->second.RunsAt(kind) == "DR" : StandsFailedOver(s->second.failover);
      const bool fixed = place->failover != "unchanged" && place->failover != "-";
      const bool holds = (!fixed || place->failover == "no record" ? s->second.record == (place->failover != "no record")
                                                                   : StandsFailedOver(place->failover) == failedOver) &&
                         StatusAsTold(place->test, s->second.test, s->second.test, s->second.record) &&
                         (place->runs == "unchanged" ||
                          RunsAsTold(place->runs, kind, s->second, s->second, *place, false));
      if (!holds) {
        findings.push_back({"told", id, "the line is not true: it stands at " + Described(s->second) + "; " + typeName +
                                            " puts it at failover status [" + place->failover +
                                            "], test failover status [" + place->test + "], runs [" + place->runs +
                                            "]: " + line});
      }
    }
  }
}

// The records rule for one machine.
void JudgeRecords(const SStanding& b, const SStanding& a, const SPlace* place, bool taken,
                  std::vector<SFinding>& findings) {
  auto removes = [&](const char* what) { return taken && place != nullptr && place->Removes(what); };
  auto lost = [&](const std::string& what) { findings.push_back({"records", b.id, what + " is lost"}); };
  if (b.record && !a.record && !removes("replication record")) lost("the replication record");
  const bool drGone = removes("DR VM");
  if (b.sourceSnap != "-" && b.sourceSnap != "gone" && a.record &&
      (a.sourceSnap == "gone" || !Has(a.source.snapshots, b.sourceSnap)) && !removes("source snapshot") &&
      !removes("source VM's snapshots")) {
    lost("the source snapshot [" + b.sourceSnap + "] its reference names");
  }
  // A reference dropped while its snapshot stays: no revert or undo goes
  // back to that snapshot any more.
  if (b.sourceSnap != "-" && b.sourceSnap != "gone" && a.record && a.sourceSnap == "-" &&
      Has(a.source.snapshots, b.sourceSnap) && !removes("source snapshot") && !removes("source snapshot reference")) {
    lost("the reference to the source snapshot [" + b.sourceSnap + "]");
  }
  if (b.drSnap != "-" && b.drSnap != "gone" && a.record && (a.drSnap == "gone" || !Has(a.dr.snapshots, b.drSnap)) &&
      !removes("failover snapshot") && !drGone) {
    lost("the failover snapshot [" + b.drSnap + "] its reference names");
  }
  for (const std::string& pit : b.PointInTimeSnapshots()) {
    if (!Has(a.dr.snapshots, pit) && !removes("point-in-time snapshots") && !drGone) {
      lost("the point-in-time snapshot [" + pit + "]");
    }
  }
}

// A VM's key in the writes rule's memory: a storage-array machine's mounted
// VM has its source's name.
std::string Key(const std::string& group, const SVM& vm, bool isDR) {
  return vm.name + (group == "SampleArray" && isDR ? " (mounted)" : "");
}

}  // namespace

std::string SStanding::RunsAt(const std::string& kind) const {
  if (kind == "database") return sourceDatabase ? "source" : drDatabase ? "DR" : "";
  // A DR mount runs the workload while the machine stands failed over (an
  // undo stopped before it unmounted leaves it so), whatever the mounted
  // VM's power, which the lab does not keep.
  if (kind == "storage array") return source.on ? "source" : mounted && StandsFailedOver(failover) ? "DR" : "";
  if (source.on) return dr.on ? "both" : "source";
  return dr.on ? "DR" : "";
}

std::vector<std::string> SStanding::PointInTimeSnapshots() const {
  std::vector<std::string> pits;
  for (const std::string& s : dr.snapshots) {
    if (IsPointInTime(s)) pits.push_back(s);
  }
  return pits;
}

std::string SStanding::Signature() const {
  std::string text;
  for (const std::string& l : lines) {
    std::vector<std::string> w = Words(l);
    const size_t vm = !w.empty() && w[0] == "mounted" ? 1 : 0;
    if (w.size() >= vm + 5 && w[vm] == "vm") {
      w[vm + 2] = w[vm + 3] = "*";
    } else if (w.size() == 3 && w[0] == "database") {
      w[2] = "*";
    } else if (IsBackupAfile(l)) {
      continue;
    }
    for (const std::string& word : w) text += word + " ";
    text += "\n";
  }
  return text;
}

std::map<int, SStanding> Standings(const std::string& group, const std::string& picture) {
  std::map<int, SStanding> standings;
  for (int id : crashmatrix::GroupReplications(group)) {
    SStanding& s = standings[id];
    s.id = id;
    std::string source, dr;
    VMNames(group, id, source, dr);
    s.source.name = source;
    s.dr.name = dr;
    s.lines = killtable::MachineLines(group, id, picture);
    for (const std::string& line : s.lines) {
      const std::vector<std::string> w = Words(line);
      if (w.size() == 5 && w[0] == "vm" && w[1] == source) ReadVM(w, 2, s.source);
      if (w.size() == 5 && w[0] == "vm" && w[1] == dr && group != "SampleArray") ReadVM(w, 2, s.dr);
      if (w.size() == 6 && w[0] == "mounted" && w[2] == source) {
        ReadVM(w, 3, s.dr);
        s.mounted = true;
      }
      if (w.size() == 3 && w[0] == "repl" && w[2] == "removed") s.record = false;
      if (w.size() == 7 && w[0] == "repl") {
        s.failover = Spaced(w[2]);
        s.sync = Spaced(w[3]);
        s.sourceSnap = w[4].substr(w[4].find('=') + 1);
        s.drSnap = w[5].substr(w[5].find('=') + 1);
      }
      if (w.size() == 4 && w[0] == "array-repl") {
        s.failover = Spaced(w[2]);
        s.test = Spaced(w[3]);
      }
      if (w.size() == 4 && w[0] == "db-repl") {
        s.failover = Spaced(w[2]);
        s.sync = Spaced(w[3]);
      }
      if (w.size() == 3 && w[0] == "database") {
        const bool running = w[2] == "running";
        if (atoi(w[1].c_str()) == 10 + id) s.sourceDatabase = running;
        if (atoi(w[1].c_str()) == 20 + id) s.drDatabase = running;
      }
    }
  }
  return standings;
}

void CContents::Saw(const std::string& group, const std::string& picture) {
  for (const auto& m : Standings(group, picture)) {
    for (const SVM* vm : {&m.second.source, &m.second.dr}) {
      if (vm->exists && vm->on) m_last[Key(group, *vm, vm == &m.second.dr)] = vm->content;
    }
  }
}

void CContents::Judge(const SJobAttempt& a, const std::map<int, std::string>& verdicts,
                      std::vector<SFinding>& findings) {
  const SPlace* place = PlaceOf(a.group, a.type, a.options);
  const std::map<int, SStanding> jobBefore = Standings(a.group, a.jobBefore);
  const std::map<int, SStanding> before = Standings(a.group, a.before);
  for (const auto& m : Standings(a.group, a.after)) {
    const int id = m.first;
    const auto verdict = verdicts.find(id);
    const bool taken =
        a.crashed || (verdict == verdicts.end() ? before.at(id).record : verdict->second != "skipped");
    const bool failedOver = StandsFailedOver(jobBefore.at(id).failover) || StandsFailedOver(before.at(id).failover);
    auto discards = [&](const std::string& role) {
      if (!taken || place == nullptr) return false;
      return place->Discards(role + " content") ||
             place->Discards(role + " content while " + (failedOver ? "failed over" : "not failed over"));
    };
    const bool array = a.group == "SampleArray";
    for (const SVM* vm : {&m.second.source, &m.second.dr}) {
      const bool isDR = vm == &m.second.dr;
      const std::string key = Key(a.group, *vm, isDR);
      const std::string role = isDR ? "DR VM" : "source VM";
      const auto last = m_last.find(key);
      const bool deleted = !vm->exists && taken && place != nullptr && place->Discards(role);
      if (last != m_last.end() && !discards(role) && !deleted) {
        if (!vm->exists && !(array && isDR)) {
          findings.push_back({"writes", id, "VM [" + vm->name + "], which held content [" +
                                                std::to_string(last->second) + "] while it ran, is gone"});
        } else if (vm->exists && vm->content < last->second) {
          findings.push_back({"writes", id, "VM [" + vm->name + "] holds content [" + std::to_string(vm->content) +
                                                "], below the [" + std::to_string(last->second) +
                                                "] it held while it ran"});
        }
      }
      if (discards(role) || deleted || !vm->exists) m_last.erase(key);
      if (vm->exists && vm->on) m_last[key] = vm->content;
    }
  }
}

std::vector<SStep> Steps(const std::string& output) {
  std::vector<SStep> steps;
  std::vector<std::string> told;
  const std::vector<std::string> commands = drtest::PrintedCommands(output, &told);
  for (size_t i = 0; i < commands.size(); ++i) {
    SStep step;
    step.command = commands[i];
    // The line before a command says what it takes: a restart "takes over"
    // its machines, a new job "takes" them (", and also ...", ", and again
    // ..."), an undo test failover "clears the test failover of" them
    // before the failover that refused them (", and also takes ...").
    const std::string& line = told[i];
    const char* const clears = " clears the test failover of ";
    step.machines = NamedAfter(line, line.find(clears) != std::string::npos ? clears : " takes");
    step.restart = line.find(" is continued by its restart") != std::string::npos;
    steps.push_back(step);
  }
  return steps;
}

std::vector<SFinding> Judge(const SJobAttempt& a, CContents& contents, std::set<int>& taken) {
  std::vector<SFinding> findings;
  const std::string kind = KindOf(a.group);
  const SPlace* place = PlaceOf(a.group, a.type, a.options);
  if (place == nullptr) findings.push_back({"succeeded", 0, "the table has no row for [" + a.type + "]"});
  const std::map<int, SStanding> before = Standings(a.group, a.before);
  const std::map<int, SStanding> after = Standings(a.group, a.after);
  // Where a type puts a machine is from where the job found it: a restart
  // finishes what its earlier attempt began.
  const std::map<int, SStanding> jobBefore = Standings(a.group, a.jobBefore);
  const std::map<int, std::string> verdicts = killtable::Verdicts(a.output);
  std::set<int> named = LeftMachines(a.output), restarted;
  for (const SStep& step : Steps(a.output)) {
    named.insert(step.machines.begin(), step.machines.end());
    if (step.restart) restarted.insert(step.machines.begin(), step.machines.end());
  }
  contents.Judge(a, verdicts, findings);
  bool allRefused = !a.crashed;
  for (const auto& m : after) {
    const int id = m.first;
    const SStanding& b = before.at(id);
    const SStanding& s = m.second;
    const auto found = verdicts.find(id);
    const std::string verdict = found == verdicts.end() ? std::string() : found->second;
    // A machine whose replication is gone is no machine of a new job: drjob
    // runs none on a group that names no replication, and prints no line.
    const bool gone = !a.crashed && verdict.empty() && !b.record;
    // A priority refused whole (a test or undo test failover refuses it
    // when one machine's failover status forbids the test operations)
    // began none of its machines: refused with it.
    const bool priorityRefused =
        !a.crashed && MachineLine(a.output, id).rfind("failed: its priority ended before it began the machine", 0) == 0;
    const bool refused =
        !a.crashed && (verdict == "skipped" || gone || priorityRefused) && a.takenBefore.count(id) == 0;
    const bool tookIt = a.crashed || (verdict != "skipped" && !gone && !priorityRefused);
    if (tookIt) taken.insert(id);
    if (!refused) allRefused = false;
    if (verdict == "succeeded" && place != nullptr) {
      const SStanding& was = jobBefore.at(id);
      const bool holds = StatusAsTold(place->failover, was.failover, s.failover, s.record) &&
                         StatusAsTold(place->sync, was.sync, s.sync, s.record) &&
                         StatusAsTold(place->test, was.test, s.test, s.record) &&
                         RunsAsTold(place->runs, kind, was, s, *place, true);
      if (!holds) {
        findings.push_back({"succeeded", id, "called succeeded, it stands at " + Described(s) + ", not at failover "
                                             "status [" + place->failover + "], sync status [" + place->sync +
                                             "], test failover status [" + place->test + "], runs [" + place->runs + "]"});
      }
    }
    if (refused) {
      const std::string was = OwnLines(b), is = OwnLines(s);
      if (was != is) {
        findings.push_back({"refused", id, "refused, yet changed (- before, + after):\n" +
                                               crashmatrix::PictureDiff(was, is)});
      }
      if (restarted.count(id) != 0) findings.push_back({"refused", id, "refused, yet its restart is printed"});
    }
    if (!a.stopped && !a.crashed && tookIt && verdict != "succeeded") {
      findings.push_back({"planted", id, verdict.empty() ? std::string("drjob printed no line for it")
                                                         : "taken, it ended: " + MachineLine(a.output, id)});
    }
    const bool leftOff = std::find(a.options.begin(), a.options.end(), "--no-power-on") != a.options.end();
    // A machine whose replication was gone before the job is none of its.
    if (!a.crashed && !leftOff && b.record && s.RunsAt(kind).empty() && named.count(id) == 0) {
      findings.push_back({"nowhere", id, "its workload runs nowhere (" + Described(s) +
                                             "), and no next-step line names it"});
    }
    JudgeRecords(b, s, place, tookIt, findings);
  }
  if (allRefused && a.group == "SampleArray") {
    auto groupLines = [](const std::string& picture) {
      std::string text;
      for (const std::string& l : crashmatrix::PictureLines(picture)) {
        if (l.rfind("relationship ", 0) == 0 || l.rfind("lun ", 0) == 0) text += l + "\n";
      }
      return text;
    };
    if (groupLines(a.before) != groupLines(a.after)) {
      findings.push_back({"refused", 0, "every machine refused, yet the relationships or LUNs changed:\n" +
                                            crashmatrix::PictureDiff(groupLines(a.before), groupLines(a.after))});
    }
  }
  if (!a.crashed) JudgeInPlace(a.group, a.output, after, findings);
  for (const std::string& line : crashmatrix::PictureLines(a.output)) {
    if (line.find(": [0] ") != std::string::npos && line.find("(s) ") != std::string::npos) {
      findings.push_back({"told", 0, "a line tells a count of nothing: " + line});
    }
  }
  return findings;
}

std::vector<SFinding> JudgeFollowed(const SStep& step, const std::string& before,
                                    const std::string& after, const std::string& output) {
  std::vector<SFinding> findings;
  const std::map<int, std::string> verdicts = killtable::Verdicts(output);
  // Its line names what it takes right after the job. Run after another
  // printed command that took a machine too ("and also"), it may find the
  // machine where its own type puts it, and skip it: the refused rule then
  // holds it to leaving the machine as it was.
  for (int id : step.machines) {
    const auto v = verdicts.find(id);
    if (!step.first && v != verdicts.end() && v->second == "skipped") continue;
    if (v == verdicts.end() || v->second == "skipped" || v->second == "not reached") {
      findings.push_back({"told", id, "[" + step.command + "] names it, yet run as printed it did not take it (" +
                                          (v == verdicts.end() ? std::string("no line") : v->second) + ")"});
    }
  }
  auto withoutJobs = [](const std::string& picture) {
    std::string text;
    for (const std::string& l : crashmatrix::PictureLines(picture)) {
      if (l.rfind("jobs ", 0) != 0 && !IsBackupAfile(l)) text += l + "\n";
    }
    return text;
  };
  if (step.first && !step.restart) {
    for (const auto& v : verdicts) {
      if (step.machines.count(v.first) == 0 && v.second != "skipped" && v.second != "not reached") {
        findings.push_back({"told", v.first, "[" + step.command + "], run first as printed, took it (" + v.second +
                                                 "), yet its line does not name it"});
      }
    }
  }
  const std::vector<std::string> again = drtest::PrintedCommands(output);
  if (Has(again, step.command) && withoutJobs(before) == withoutJobs(after)) {
    findings.push_back({"told", 0, "[" + step.command + "] ends where it began and prints itself again"});
  }
  return findings;
}

std::string Text(const std::vector<SFinding>& findings) {
  std::string text;
  for (const SFinding& f : findings) {
    text += f.rule + (f.machine != 0 ? " (replication " + std::to_string(f.machine) + ")" : std::string()) + ": " +
            f.text + (f.text.empty() || f.text.back() != '\n' ? "\n" : "");
  }
  return text;
}

}  // namespace typejudge
