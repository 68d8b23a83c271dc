// The judge of the type matrix and of the walk over the DR types: after
// every job (every attempt of it), from the lab before and after it and
// drjob's lines alone, with no reference run and no rule of the code under
// test, it holds the job to docs/engine.md's table (TypeTable.h):
// - writes: no content a running VM held is lost but by the type's
//   discards: each VM is judged against the last content it held while it
//   ran (contents are counters, a write raises them);
// - succeeded: every "succeeded" machine stands where the table puts it
//   (its statuses, which VMs run);
// - refused: a machine the job refused (skipped, and no earlier attempt of
//   the job took it) is unchanged, and no restart is printed for it. The
//   fields compared are its lines of crashmatrix::Picture: each of its VMs'
//   power, content and snapshot names (a clone's too), its replication's
//   failover, sync and test failover statuses, the snapshots its stored
//   references name, whether a point in time is stored, whether its
//   source's backups are off, its mounted DR VM, its archive files'
//   mounts, its databases' states; and, when the job refused every
//   machine, the arrays' relationships and LUN mappings. Child jobs and
//   backups' archive files are not compared (another machine's backup
//   makes them), nor is the array call log;
// - no planted fault: a machine the job took ends succeeded, unless the
//   job was stopped (or its cell is named as failing: the caller's);
// - nowhere: every machine whose workload runs nowhere is named by a next
//   step line (a command that takes it, or a line that says which type
//   does, or that none does), unless the job left it off on request
//   (--no-power-on); a crashed run prints nothing and is not held to it;
// - told: every "needs no next step ... already ..." line is true of the
//   lab, and no line tells a count of nothing ("[0] phase row(s) ...")
//   (JudgeFollowed judges a printed command once it has run);
// - records: no replication record, referenced snapshot (nor the source
//   snapshot's reference, its snapshot left) or point-in-time snapshot is
//   lost but by the table's removals.
// "Runs" is by kind: a VM by its power, a storage-array machine by its
// source VM's power, or a DR mount while it stands failed over, a database
// machine by its databases' states.
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

#include "host/TypeTable.h"

namespace typejudge {

// A VM of a machine as the lab holds it.
struct SVM {
  std::string name;
  bool exists = false;
  bool on = false;
  long long content = 0;
  std::vector<std::string> snapshots;
};

// A machine of a sample group as the lab holds it (crashmatrix::Picture's
// lines), statuses with their words' blanks.
struct SStanding {
  int id = 0;
  bool record = true;
  std::string failover = "-";
  std::string sync = "-";
  std::string test = "-";
  // The snapshots the stored references name ("-": none stored, "gone": a
  // reference to no snapshot of the VM).
  std::string sourceSnap = "-";
  std::string drSnap = "-";
  SVM source;
  SVM dr;  // a storage-array machine's: its mounted VM
  bool mounted = false;
  bool sourceDatabase = false;
  bool drDatabase = false;
  std::vector<std::string> lines;

  // Where its workload runs, by kind; "" when nowhere.
  std::string RunsAt(const std::string& kind) const;
  // Its DR VM's point-in-time snapshots (named after a time).
  std::vector<std::string> PointInTimeSnapshots() const;
  // What the named cells match: its lines, power and contents left out.
  std::string Signature() const;
};

std::map<int, SStanding> Standings(const std::string& group, const std::string& picture);

// One attempt of a job as the judge reads it.
struct SJobAttempt {
  std::string group;
  std::string type;
  std::vector<std::string> options;
  std::string output;  // the lines that tell how it ended
  bool stopped = false;
  bool crashed = false;
  std::string before;     // the group's picture before the attempt
  std::string after;      // and after it
  std::string jobBefore;  // before the job's first attempt
  // The machines an earlier attempt of the job took up.
  std::set<int> takenBefore;
  // Whether a printed command's machines are judged (a random walk judges
  // only the "needs no next step" lines of the rule).
  bool commands = true;
};

struct SFinding {
  std::string rule;  // writes, succeeded, refused, planted, nowhere, told, records
  int machine = 0;   // 0: the group's
  std::string text;
};

// The writes rule's memory: the last content each VM held while it ran.
class CContents {
 public:
  // Every running VM of the group's machines, as the lab holds them now.
  void Saw(const std::string& group, const std::string& picture);
  // The writes rule for an attempt, then what it leaves remembered.
  void Judge(const SJobAttempt& attempt, const std::map<int, std::string>& verdicts, std::vector<SFinding>& findings);

 private:
  std::map<std::string, long long> m_last;
};

// Every rule on one attempt; the machines it took up join taken.
std::vector<SFinding> Judge(const SJobAttempt& attempt, CContents& contents, std::set<int>& taken);

// A printed next step: its command and the machines its line names.
struct SStep {
  std::string command;
  std::set<int> machines;
  bool restart = false;
  // Run right after the job that printed it, before any other printed
  // command: a new job's line then names every machine it takes.
  bool first = false;
};
std::vector<SStep> Steps(const std::string& output);

// The told rule on a printed command run as printed (not stopped): it takes
// the machines its line names (run after another printed command, it may
// skip one that command took too; a new job run first takes no other), and
// does not end where it began printing itself again.
std::vector<SFinding> JudgeFollowed(const SStep& step, const std::string& before, const std::string& after,
                                    const std::string& output);

// The findings as lines, "rule (replication R): text".
std::string Text(const std::vector<SFinding>& findings);

}  // namespace typejudge
