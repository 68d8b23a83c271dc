// The VM replications of the sample lab. The replications themselves, their
// replication tasks and storage policy are the hypervisor lab's seeding's
// (CHypervisorLabSeed::Sample, stored by SeedLab); what is the host's own
// sample is stored here: the DR backup and failback schedules and the test
// group's recovery target. The names below are the seeding's, for the host
// and its tests.
#pragma once

#include <string>

#include "vm/HypervisorLabSeed.h"

// Two priorities: two VMs first, the application VM after them.
inline constexpr const auto& kSampleVMs = CHypervisorLabSeed::kSampleVMs;

// The test-failover sample group "SampleTest": two VMs of the source site
// replicated to a cloud site (vendor 4), one priority.
inline constexpr const auto& kSampleTestVMs = CHypervisorLabSeed::kSampleTestVMs;
// Its subclient, replication task and recovery target (the allocation
// policy that gives a clone its test size and test network).
constexpr int kSampleTestSubclientId = CHypervisorLabSeed::kSampleTestSubclientId;
constexpr int kSampleTestTaskId = CHypervisorLabSeed::kSampleTestTaskId;
constexpr int kSampleTestTargetId = CHypervisorLabSeed::kSampleTestTargetId;
constexpr const char* kSampleTestVMSize = "m5.test";
constexpr const char* kSampleTestNetwork = "test-net-c";
constexpr const char* kSampleTestSubnet = "10.3.9.0/24";

// The sample replications' subclient and replication task, and the storage
// policy the subclient backs up to: a primary copy (also the default copy
// replication reads from) and a secondary copy for aux copies.
constexpr int kSampleSubclientId = CHypervisorLabSeed::kSampleSubclientId;
constexpr int kSampleTaskId = CHypervisorLabSeed::kSampleTaskId;
constexpr int kSampleStoragePolicyId = CHypervisorLabSeed::kSampleStoragePolicyId;
constexpr int kSamplePrimaryCopyId = CHypervisorLabSeed::PrimaryCopyId(kSampleStoragePolicyId);
constexpr int kSampleAuxCopyId = CHypervisorLabSeed::AuxCopyId(kSampleStoragePolicyId);
// The DR backup schedule of the sample VMs: a backup of the subclient whose
// VSA backup option selects each of them.
constexpr int kSampleDRBackupTaskId = 12;
// The failback schedule of the sample VMs: a DR job's options listing every
// sample replication, named by each replication's failback-task property.
constexpr int kSampleFailbackTaskId = CHypervisorLabSeed::kSampleFailbackTaskId;

// Stores (or replaces) the sample's DR backup and failback schedules and
// the test group's recovery target. False with the reason when one cannot
// be stored.
bool SeedSampleReplications(std::string& error);
