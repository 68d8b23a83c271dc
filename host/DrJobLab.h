// The lab drjob works in: the management database at --db, seeded with a
// sample DR group, and the look-ups the run and control commands need.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "msg/MsgEnums.h"

// A machine of a DR group: the replication an entry of its priorities names
// and the name the group shows for it ("" when none).
struct SGroupMachine {
  int32_t replicationId = 0;
  std::string name;
  int priority = 0;  // the place of its priority in the group, from 0
  // Where the group's entry finds its records: VM, database or
  // storage-array replications.
  TMMsg::DROpSourceType source = TMMsg::DR_OP_SOURCE_VSA_REPLICATION;
};

class CDrJobLab {
 public:
  static constexpr int kSampleOwnerId = 2;
  static constexpr const char* kSampleOwnerEmail = "dr-operator@example.com";

  // Points the platform's database at path, a lab seed made. False with
  // the reason when the file cannot be read, is not a lab, was seeded before
  // its tables last changed or stays locked by another process; the file is
  // checked read-only first, so a refused file is left exactly as it was.
  static bool Open(const std::string& path, std::string& error);

  // Makes the sample lab at path: the sample DR groups (SeedGroups.h) of VM,
  // database and storage-array replications and the test-failover group, with
  // the hypervisor, database and array labs they live in, the client of this
  // machine and the job owner with an e-mail address. Only a new file,
  // an empty file or an empty database is filled, and with replace a lab
  // no live process runs a DR job on, which is replaced whole; anything
  // else is refused and left as it was. All in one write transaction, so a
  // seed that fails leaves nothing. replaced tells whether a lab was there.
  static bool Seed(const std::string& path, bool replace, bool& replaced, std::string& error);

  // "the database [path] is locked by another process (waited [N] ms)".
  static std::string LockedText(const std::string& path);

  // A DR group by id or by name; 0 when there is none.
  static int FindGroup(const std::string& nameOrId);
  // A DR group's name, fit to stand inside one line of output
  // (CDrJobArgs::ShownName): a name that holds a newline cannot break a
  // line of drjob's nor forge one (a next step, say), and a long one is
  // cut. Its id as text when it has none.
  static std::string GroupName(int groupId);
  // The name as stored, cut as GroupName cuts it, for text that is made
  // printable as a whole (an error line through CDrJobOutput::Error).
  static std::string StoredGroupName(int groupId);
  // The owner of the DR jobs drjob creates.
  static int OwnerId();
  // Job options of a group-based DR job of the type on the group, the type
  // included; a clean-up of destination VMs lists the group's replications
  // and says whether their DR VMs are deleted too.
  static std::string JobOptionsXml(int groupId, TMMsg::DROrchestrationType type, bool deleteFromHypervisor);
  // The machines a DR group's priorities name, in order; their
  // replications alone.
  static std::vector<SGroupMachine> GroupMachines(int groupId);
  static std::vector<int32_t> GroupReplications(int groupId);
};
