// The kill table: DR jobs killed as drjob control kill kills them, right
// after a chosen log line (DR_KILL_AT, log/CrashPoint.h), and not run again.
// What drjob printed of each machine is held against what the lab holds:
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
// The types, their start labs and pictures and the moments to kill at are
// the crash matrix's (CrashMatrixTypes.h).
#pragma once

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

// The commands drjob printed as how the job goes on, in the order printed:
// each line's text from "drjob run " to its end, quoted as drjob quoted it.
std::vector<std::string> NextSteps(const std::string& output);

// The lines of a picture that concern one machine of a sample group: its
// VMs (and clones, mounts, archive files) and its replication or database
// records.
std::vector<std::string> MachineLines(const std::string& group, int replicationId, const std::string& picture);

class CKillTable : public crashmatrix::CCrashMatrix {
 protected:
  // The type run on a fresh copy of its start lab, killed right after the
  // countth line that holds at's marker, and what it left.
  SKillOutcome Kill(const crashmatrix::SType& type, const crashmatrix::SCrash& at);
  // The checks above on what a kill left; prints the case's lines.
  static void Expect(const crashmatrix::SType& type, const crashmatrix::SCrash& at, const SKillOutcome& outcome);
  // Both.
  SKillOutcome KillAndExpect(const crashmatrix::SType& type, const crashmatrix::SCrash& at);

  // The crash matrix's moment of the type by its name.
  static crashmatrix::SCrash At(const crashmatrix::SType& type, const std::string& name);
};

}  // namespace killtable
