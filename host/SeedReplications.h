// The VM replications of the sample lab as the management server stores
// them: vendors, replication task, subclient and statuses, so that the DR
// job's pre-checks accept them.
#pragma once

#include <string>

// One VM of the sample DR group.
struct SSampleVM {
  int priority;
  int replicationId;
  const char* source;
  const char* destination;
};

// Two priorities: two VMs first, the application VM after them.
constexpr SSampleVM kSampleVMs[] = {
    {1, 101, "db-primary", "db-primary-DR"},
    {1, 102, "db-replica", "db-replica-DR"},
    {2, 201, "app-server", "app-server-DR"},
};

// The test-failover sample group "SampleTest": two VMs of the source site
// replicated to a cloud site (vendor 4), one priority.
constexpr SSampleVM kSampleTestVMs[] = {
    {1, 401, "web-front", "web-front-DR"},
    {1, 402, "web-cache", "web-cache-DR"},
};
// Its subclient, replication task and recovery target (the allocation
// policy that gives a clone its test size and test network).
constexpr int kSampleTestSubclientId = 22;
constexpr int kSampleTestTaskId = 13;
constexpr int kSampleTestTargetId = 302;
constexpr const char* kSampleTestVMSize = "m5.test";
constexpr const char* kSampleTestNetwork = "test-net-c";
constexpr const char* kSampleTestSubnet = "10.3.9.0/24";

// The sample replications' subclient and replication task, and the storage
// policy the subclient backs up to: a primary copy (also the default copy
// replication reads from) and a secondary copy for aux copies.
constexpr int kSampleSubclientId = 21;
constexpr int kSampleTaskId = 11;
constexpr int kSampleStoragePolicyId = 5;
constexpr int kSamplePrimaryCopyId = 51;
constexpr int kSampleAuxCopyId = 52;
// The DR backup schedule of the sample VMs: a backup of the subclient whose
// VSA backup option selects each of them.
constexpr int kSampleDRBackupTaskId = 12;
// The failback schedule of the sample VMs: a DR job's options listing every
// sample replication, named by each replication's failback-task property.
constexpr int kSampleFailbackTaskId = 14;

// Stores (or replaces) the sample groups' replications, their replication
// tasks, the DR backup and failback schedules, the storage policy and the
// test group's recovery target. False with the reason when one cannot be
// stored.
bool SeedSampleReplications(std::string& error);
