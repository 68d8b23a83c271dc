#include "SeedArrays.h"

#include "array/ArrayLab.h"
#include "array/ArrayLabSeed.h"
#include "array/ArrayStore.h"
#include "jobsim/StoragePolicyStore.h"

namespace {

// Each replica group is one relationship from the production array to a
// volume of the DR array; the LUNs of the volume are the datastores on it.
struct SSampleVolume {
  int replicaGroupId;
  int reportSubclientId;  // the subclient its report row names
  const char* volume;
  std::vector<std::string> luns;
};

const SSampleVolume kVolumes[] = {
    {71, 61, "vol_snap1", {"vol_snap1/lun0"}},
    {72, 62, "vol_snap2", {"vol_snap2/lun0", "vol_snap2/lun1"}},
};

const int kSubclients[] = {61, 62};
// The VM application the source entities name.
const int kVMApplicationId = 106;

bool Fail(std::string& error, const std::string& text) {
  error = text;
  return false;
}

}  // namespace

std::string SampleArrayVMGuid(int replicationId) { return "snap-src-" + std::to_string(replicationId); }

int SampleArrayVMClient(int replicationId) { return 1000 + replicationId; }

bool SeedSampleArrays(int drGroupId, std::string& error) {
  if (!CArrayStore::Add(SLabArray{kSampleProductionArrayId, kSampleProductionArray, "vs_prod", true, true}) ||
      !CArrayStore::Add(SLabArray{kSampleDRArrayId, kSampleDRArray, "vs_dr", true, true})) {
    return Fail(error, "cannot store the arrays");
  }
  SStoragePolicy policy;
  policy.policyId = kSampleArrayPolicyId;
  policy.copies = {SStorageCopy{kSampleSnapCopyId, 1, true, true}, SStorageCopy{kSampleArrayCopyId, 2, false, false}};
  if (!CStoragePolicyStore::PutPolicy(policy)) {
    return Fail(error, "cannot store storage policy [" + std::to_string(kSampleArrayPolicyId) + "]");
  }
  for (int subclient : kSubclients) {
    if (!CStoragePolicyStore::AssignSubclient(SSubclientPolicy{subclient, kSampleArrayPolicyId, true})) {
      return Fail(error, "cannot assign subclient [" + std::to_string(subclient) + "] its storage policy");
    }
  }
  int pair = 0;
  for (const SSampleVolume& v : kVolumes) {
    SSeedReplicaGroup g;
    g.replicaGroupId = v.replicaGroupId;
    g.copyId = kSampleArrayCopyId;
    g.subclientId = v.reportSubclientId;
    g.storagePolicyId = kSampleArrayPolicyId;
    g.defaultCopyId = kSampleSnapCopyId;
    g.pairId = 700 + ++pair;
    g.controlHostId = kSampleDRArrayId;
    g.sourceArray = kSampleProductionArray;
    g.targetArray = kSampleDRArray;
    g.sourcePath = std::string("vs_prod:") + v.volume;
    g.targetPath = std::string("vs_dr:") + v.volume;
    g.mappedLuns = v.luns;
    if (!CArrayLabSeed::AddReplicaGroup(g)) {
      return Fail(error, "cannot store replica group [" + std::to_string(v.replicaGroupId) + "]");
    }
  }
  for (const SSampleArrayVM& sample : kSampleArrayVMs) {
    SSeedSnapVM vm;
    vm.replicationId = sample.replicationId;
    vm.drGroupId = drGroupId;
    vm.name = sample.name;
    vm.guid = SampleArrayVMGuid(sample.replicationId);
    vm.destinationName = std::string(sample.name) + "-DR";
    vm.destinationEsxHost = kSampleArrayEsxHost;
    vm.subclientId = sample.subclientId;
    vm.clientId = SampleArrayVMClient(sample.replicationId);
    vm.applicationId = kVMApplicationId;
    vm.copyId = kSampleArrayCopyId;
    vm.datastores = {SSeedDatastore{sample.datastore, sample.replicaGroupId, "", 0}};
    if (!CArrayLabSeed::AddVM(vm)) {
      return Fail(error, "cannot store storage-array replication [" + std::to_string(sample.replicationId) + "]");
    }
  }
  if (!CArrayLab::SnapshotCopied(kSampleArrayCopyId, kSampleFirstSnapshotJobId)) {
    return Fail(error, "cannot store the afiles of backup job [" + std::to_string(kSampleFirstSnapshotJobId) + "]");
  }
  return true;
}
