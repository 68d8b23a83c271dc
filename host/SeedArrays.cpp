#include "SeedArrays.h"

#include "SeedLab.h"
#include "array/ArrayLabSeed.h"

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

// The VM application the source entities name.
const int kVMApplicationId = 106;

}  // namespace

bool SeedSampleArrays(int drGroupId, std::string& error) {
  SSeedArrayLab lab;
  lab.arrays = {SLabArray{kSampleProductionArrayId, kSampleProductionArray, "vs_prod", true, true},
                SLabArray{kSampleDRArrayId, kSampleDRArray, "vs_dr", true, true}};
  lab.storagePolicyId = kSampleArrayPolicyId;
  lab.primaryCopyId = kSampleSnapCopyId;
  lab.arrayCopyId = kSampleArrayCopyId;
  lab.firstSnapshotJobId = kSampleFirstSnapshotJobId;
  int pair = 0;
  for (const SSampleVolume& v : kVolumes) {
    SSeedReplicaGroup g;
    g.replicaGroupId = v.replicaGroupId;
    g.subclientId = v.reportSubclientId;
    g.pairId = 700 + ++pair;
    g.controlHostId = kSampleDRArrayId;
    g.sourceArray = kSampleProductionArray;
    g.targetArray = kSampleDRArray;
    g.sourcePath = std::string("vs_prod:") + v.volume;
    g.targetPath = std::string("vs_dr:") + v.volume;
    g.mappedLuns = v.luns;
    lab.replicaGroups.push_back(g);
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
    vm.sourceInstanceId = kSampleSourceInstanceId;
    vm.destinationInstanceId = kSampleDestinationInstanceId;
    vm.datastores = {SSeedDatastore{sample.datastore, sample.replicaGroupId, "", 0}};
    lab.vms.push_back(vm);
  }
  return CArrayLabSeed::AddLab(lab, error);
}
