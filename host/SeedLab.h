// The hypervisor lab of the sample DR groups, as the platform's seeding
// describes it (CHypervisorLabSeed::Sample): a source site and a destination
// site with two proxies each, a cloud site with one proxy for the
// test-failover group, the source VM of every sample replication (GUID
// "src-<id>": on, with guest tools and an address), its DR VM ("dst-<id>":
// off, with one "__OB_BACKUP__" snapshot of the last sync and two
// point-in-time snapshots), the replicas that tie them and the replications,
// tasks and storage policy; also the source VMs of the storage-array
// replications (SeedArrays) on their array datastores. The names below are
// the seeding's, for the host and its tests.
#pragma once

#include <string>

#include "vm/HypervisorLabSeed.h"

constexpr int kSampleSourceInstanceId = static_cast<int>(CHypervisorLabSeed::kSampleSourceInstanceId);
constexpr int kSampleDestinationInstanceId = static_cast<int>(CHypervisorLabSeed::kSampleDestinationInstanceId);
constexpr const char* kSampleSourceSite = CHypervisorLabSeed::kSampleSourceSite;
constexpr const char* kSampleDestinationSite = CHypervisorLabSeed::kSampleDestinationSite;
// The cloud site (vendor 4) of the test-failover sample group.
constexpr int kSampleCloudInstanceId = static_cast<int>(CHypervisorLabSeed::kSampleCloudInstanceId);
constexpr const char* kSampleCloudSite = CHypervisorLabSeed::kSampleCloudSite;
constexpr int kSampleCloudVendor = CHypervisorLabSeed::kSampleCloudVendor;
// The allocation policy the sample replications restore through.
constexpr int kSampleTargetId = CHypervisorLabSeed::kSampleTargetId;
// The client of a sample source VM: this plus its replication id.
constexpr int kSampleSourceClientBase = CHypervisorLabSeed::kSampleSourceClientBase;

// Each sample DR VM also keeps two point-in-time snapshots "<DR VM>_<t>",
// at these times (epoch seconds), of contents of their own.
inline constexpr const auto& kSamplePointsInTime = CHypervisorLabSeed::kSamplePointsInTime;
constexpr long long SamplePointInTimeContent(int replicationId, int point) {
  return CHypervisorLabSeed::SamplePointInTimeContent(replicationId, point);
}

// Stores (or replaces) the lab. False with the reason when a part cannot be
// stored.
bool SeedHypervisorLab(std::string& error);
