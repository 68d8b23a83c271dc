// The sample lab's DR groups: "Sample" (two priorities of VM replications),
// "SampleDB" (one priority of database replications), "SampleArray" (one
// priority of storage-array replications) and "SampleTest" (VM replications
// to a cloud site, for the test failover), each with the replications the
// other seeding sources store.
#pragma once

#include <string>

struct SSampleGroup {
  int id;
  const char* name;
};

constexpr SSampleGroup kSampleVMGroup = {1, "Sample"};
constexpr SSampleGroup kSampleDBGroup = {2, "SampleDB"};
constexpr SSampleGroup kSampleArrayGroup = {3, "SampleArray"};
// The test-failover group: two VMs replicated to a cloud site.
constexpr SSampleGroup kSampleTestGroup = {4, "SampleTest"};

// Stores the four groups. False with the reason when one cannot be stored.
bool SeedSampleGroups(std::string& error);
