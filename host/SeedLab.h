// The hypervisor lab of the sample DR groups: a source site and a
// destination site with two proxies each (and a cloud site with one proxy
// for the test-failover group), the source VM of every sample
// replication (GUID "src-<id>": on, with guest tools and an address) and its
// DR VM ("dst-<id>": off, with one "__OB_BACKUP__" snapshot of the last
// sync), and the replicas that tie them; also the source VMs of the
// storage-array replications (SeedArrays) on their array datastores. The
// sample replications name the same instances, proxy, target and source
// clients (SeedReplications).
#pragma once

#include <string>

constexpr int kSampleSourceInstanceId = 3;
constexpr int kSampleDestinationInstanceId = 4;
constexpr const char* kSampleSourceSite = "site-a";
constexpr const char* kSampleDestinationSite = "site-b";
// The cloud site (vendor 4) of the test-failover sample group.
constexpr int kSampleCloudInstanceId = 5;
constexpr const char* kSampleCloudSite = "site-c";
constexpr int kSampleCloudVendor = 4;
// The instances' clients carry their ids. Each site has two proxies, in
// this order; the replications name the destination's first.
struct SSampleProxy {
  int clientId;
  int instanceId;
  const char* name;
};
constexpr SSampleProxy kSampleProxies[] = {
    {31, kSampleSourceInstanceId, "proxy-a1"},
    {32, kSampleSourceInstanceId, "proxy-a2"},
    {41, kSampleDestinationInstanceId, "proxy-b1"},
    {42, kSampleDestinationInstanceId, "proxy-b2"},
    {51, kSampleCloudInstanceId, "proxy-c1"},
};
inline constexpr const SSampleProxy& kSampleDestinationProxy = kSampleProxies[2];
inline constexpr const SSampleProxy& kSampleCloudProxy = kSampleProxies[4];
// The allocation policy the sample replications restore through.
constexpr int kSampleTargetId = 301;
// The client of a sample source VM: this plus its replication id.
constexpr int kSampleSourceClientBase = 1000;

// Each sample DR VM also keeps two point-in-time snapshots "<DR VM>_<t>",
// at these times (epoch seconds), of contents of their own.
constexpr long long kSamplePointsInTime[] = {1767225600, 1767229200};
constexpr long long SamplePointInTimeContent(int replicationId, int point) { return replicationId * 100LL + point + 1; }

// The disks of a sample VM.
int SampleDiskCount(int replicationId);

// Stores (or replaces) the lab. False with the reason when a part cannot be
// stored.
bool SeedHypervisorLab(std::string& error);
