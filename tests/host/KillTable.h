// The kill table: DR jobs killed as drjob control kill kills them, right
// after a chosen log line (DR_KILL_AT, log/CrashPoint.h), then, in a
// rerunning case, followed by the next steps drjob printed (below). What
// the killed run printed of each machine is held against what the lab
// holds:
// - a machine drjob calls "succeeded" is where the type puts it: its lines
//   of the type's picture (its VMs, replication or database records) are
//   the lab's;
// - every other machine's lines (failover status, which VM runs) are the
//   table's record of where the kill left it, whatever they are;
// - no replication record is removed while its DR VM remains on the
//   hypervisor (unless the type's own picture has it so: the clean-up that
//   keeps the DR VMs);
// - what holds after any run (no phase row left IN-PROGRESS, no mount left
//   in flight, ...), as in the crash matrix.
// Only the verdict word of a machine's line is read; the lab is read
// directly. Each case prints one line per machine, the table.
//
// A rerunning case (KillAndRerun) goes on as a user would: something is
// written in each machine's running workload VM, as in the crash matrix,
// then the next steps drjob printed are run as printed, in the order
// printed, and those that each of them prints (two generations at most).
// Then the lab must be where the uninterrupted run leaves it, the write
// where the workload ends (child job counts aside: a kill may make a job
// run again; a child job the kill killed is left out), or, machine by
// machine, where the type that finishes it instead leaves it (the undo
// failover, for a revert); every "succeeded" line of every attempt must
// match the lab after that attempt; and an attempt that prints no next
// step ends as the uninterrupted run does. A failure names the attempts
// (command, exit code, drjob's lines) and the picture lines that differ.
//
// The types, their start labs and pictures and the moments to kill at are
// the crash matrix's (CrashMatrixTypes.h).
#pragma once

#include <map>
#include <string>
#include <vector>

#include "host/CrashMatrixTypes.h"

namespace killtable {

// One machine of the group after the kill.
struct SMachineEnd {
  int replicationId = 0;
  // The verdict word(s) of drjob's line ("succeeded", "failed", "not
  // reached", ...); empty when drjob printed no line for the machine.
  std::string verdict;
  // The machine's lines of the lab's picture.
  std::vector<std::string> lines;
};

struct SKillOutcome {
  std::string db;  // the lab the killed run ran on
  int exitCode = -1;
  std::string output;
  std::string picture;
  std::vector<SMachineEnd> machines;
  std::vector<std::string> faults;
};

// Each machine's verdict word(s) from drjob's lines "drjob: DR job [N]
// machine [NAME] (replication R): VERDICT...", by replication id.
std::map<int, std::string> Verdicts(const std::string& output);
// The words one after the other, between each two the text between: what a
// failure message lists.
std::string Joined(const std::vector<std::string>& words, const char* between);

// The lines of a picture that concern one machine of a sample group: its
// VMs (and clones, mounts, archive files) and its replication or database
// records.
std::vector<std::string> MachineLines(const std::string& group, int replicationId, const std::string& picture);

// One run of a rerunning case: the kill's run, or a next step run as
// printed.
struct SAttempt {
  std::string command;  // as printed; empty for the kill's run
  int generation = 0;   // 0: the kill's run; 1: a step it printed; 2: ...
  int exitCode = -1;
  std::string output;
  std::string picture;  // the lab's after the run
  std::vector<std::string> nextSteps;
};

// A kill and what followed it.
struct SRerunOutcome {
  SKillOutcome kill;
  std::vector<SAttempt> attempts;    // the kill's run first
  std::vector<std::string> written;  // workload VMs a write was meant for
  std::string picture;               // the lab's at the end
  std::vector<std::string> faults;   // of every run, as in the crash matrix
};

class CKillTable : public crashmatrix::CCrashMatrix {
 protected:
  // The type run on a fresh copy of its start lab, killed right after the
  // countth line that holds at's marker, and what it left.
  SKillOutcome Kill(const crashmatrix::SType& type, const crashmatrix::SCrash& at);
  // The checks above on what a kill left; prints the case's lines.
  static void Expect(const crashmatrix::SType& type, const crashmatrix::SCrash& at, const SKillOutcome& outcome);
  // Both.
  SKillOutcome KillAndExpect(const crashmatrix::SType& type, const crashmatrix::SCrash& at);

  // What a stopped run of the type left on its lab db (the lab stays open
  // here): drjob's lines, the lab, each machine's verdict and lines, and
  // what must hold after any run. signal: the one that ended drjob, if any.
  SKillOutcome Stopped(const crashmatrix::SType& type, const std::string& db, const drtest::SResult& run, int signal);

  // The kill with the checks above, then its next steps as printed, and
  // the checks on the chain and the lab it ends with.
  SRerunOutcome KillAndRerun(const crashmatrix::SType& type, const crashmatrix::SCrash& at);
  // The chain after a stopped run of the type: its attempt (first, whose
  // next steps are followed) and the workload VMs written after it, then
  // each printed step run by RunNextStep, two generations deep, for
  // ExpectRerun to check. The lab must not be open in this process.
  SRerunOutcome Follow(const crashmatrix::SType& type, const SKillOutcome& stopped, const SAttempt& first,
                       const std::vector<std::string>& written);
  // One printed next step (attempt.command, attempt.generation) on the lab
  // db: here run as printed, its exit code, lines and next steps stored in
  // the attempt. A case that stops a step writes in the workloads after it
  // and adds them to written.
  virtual void RunNextStep(const crashmatrix::SType& type, const std::string& db, SAttempt& attempt,
                           std::vector<std::string>& written);
  // The checks on the chain that followed a kill.
  static void ExpectRerun(const crashmatrix::SType& type, const crashmatrix::SCrash& at,
                          const SRerunOutcome& outcome);

  // The crash matrix's moment of the type by its name.
  static crashmatrix::SCrash At(const crashmatrix::SType& type, const std::string& name);
};

}  // namespace killtable
