// The storage-array replications of the sample lab: four VMs whose
// datastores lie on volumes of a production array, replicated to a DR array
// by two volume relationships (replica groups), backed up by two subclients
// to a storage policy with a primary snap copy and the array copy, and a
// first snapshot copied (its backup job the VMs' last synced job, one afile
// per VM). The source VMs are in the hypervisor lab (SeedLab).
#pragma once

#include <iterator>
#include <string>

#include "array/ArrayLabSeed.h"
#include "vm/HypervisorLabSeed.h"

constexpr int kSampleArrayGroupPriority = 1;
// The arrays, by control host id.
constexpr int kSampleProductionArrayId = 7;
constexpr int kSampleDRArrayId = 8;
constexpr const char* kSampleProductionArray = "array-prod";
constexpr const char* kSampleDRArray = "array-dr";
// The storage policy of both subclients: the primary snap copy, and the
// array copy the replications are read from.
constexpr int kSampleArrayPolicyId = 8;
constexpr int kSampleSnapCopyId = 81;
constexpr int kSampleArrayCopyId = 82;
// The backup whose snapshot the array copy holds when the lab is made: a
// job from before the lab's history, so neither the job simulator nor the
// job list knows it (its ids start higher; DR jobs count up from 1).
constexpr long long kSampleFirstSnapshotJobId = 90001;
// The DR VMs are restored on this host of the destination site.
constexpr const char* kSampleArrayEsxHost = "esx-b1";

// One storage-array VM of the sample: its one datastore and the replica
// group (volume relationship) that holds it.
struct SSampleArrayVM {
  int replicationId;
  const char* name;
  int subclientId;
  const char* datastore;
  int replicaGroupId;
};

// Datastore "snap-ds3" is shared by VMs of both subclients, so replica
// group 72 spans both.
constexpr SSampleArrayVM kSampleArrayVMs[] = {
    {301, "snap-web", 61, "snap-ds1", 71},
    {302, "snap-app", 61, "snap-ds3", 72},
    {303, "snap-db", 62, "snap-ds2", 72},
    {304, "snap-files", 62, "snap-ds3", 72},
};

// The source VM GUID of a sample storage-array VM, and its client.
inline std::string SampleArrayVMGuid(int replicationId) { return "snap-src-" + std::to_string(replicationId); }
inline int SampleArrayVMClient(int replicationId) { return 1000 + replicationId; }

// Stores the arrays, relationships, LUNs, replications, storage policy and
// first snapshot copies into the DR group. False with the reason when one
// cannot be stored.
bool SeedSampleArrays(int drGroupId, std::string& error);

// The VMs the sample has on its source site: a VM made beside the sample
// takes a number after them.
constexpr int kSampleSourceSiteVMs = static_cast<int>(
    std::size(CHypervisorLabSeed::kSampleVMs) + std::size(CHypervisorLabSeed::kSampleTestVMs) + std::size(kSampleArrayVMs));

// The source VM of a storage-array VM on the sample's source site, as its
// n-th VM (which gives its address): on, with its content and client, on
// its datastores.
inline SLabVM SampleArraySourceVM(const SSeedSnapVM& vm, int n) {
  SLabVM source = CHypervisorLabSeed::VM(CHypervisorLabSeed::SampleSourceSite(), vm.guid, vm.name, n);
  source.datastores.clear();
  for (const SSeedDatastore& ds : vm.datastores) source.datastores.push_back(ds.name);
  source.poweredOn = true;
  source.content = vm.replicationId;
  source.clientId = vm.clientId;
  return source;
}
