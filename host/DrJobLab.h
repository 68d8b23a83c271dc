// The lab drjob works in: the management database at --db, seeded with a
// sample DR group, and the look-ups the run and control commands need.
#pragma once

#include <stdint.h>

#include <string>

class CDrJobLab {
 public:
  // The sample lab's DR group, as `./dr.sh demo` runs it.
  static constexpr const char* kSampleGroup = "Sample";
  static constexpr int kSampleGroupId = 1;
  static constexpr int kSampleOwnerId = 2;
  static constexpr const char* kSampleOwnerEmail = "dr-operator@example.com";

  // Points the platform's database at path. False with the reason when the
  // file cannot be read or is not a management database.
  static bool Open(const std::string& path, bool create, std::string& error);

  // A DR group of two priorities of VM replications with the hypervisor lab
  // their VMs live in, the client of this machine and the job owner with an
  // e-mail address. Seeding again replaces the sample rows.
  static bool Seed(std::string& error);

  // A DR group by id or by name; 0 when there is none.
  static int FindGroup(const std::string& nameOrId);
  // The owner of the DR jobs drjob creates.
  static int OwnerId();
  // Job options of a group-based DR job on the group.
  static std::string JobOptionsXml(int groupId);
  // The DR group a DR job's options name; 0 when none.
  static int GroupOfJob(const std::string& optionsXml);
};
