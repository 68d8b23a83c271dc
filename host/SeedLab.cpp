#include "SeedLab.h"

#include "SeedArrays.h"
#include "vm/HypervisorLab.h"

bool SeedHypervisorLab(std::string& error) {
  const SSeedVMLab lab = CHypervisorLabSeed::Sample();
  if (!CHypervisorLabSeed::AddLab(lab, error)) return false;
  // The storage-array VMs run at the source site on their array datastores,
  // numbered after the replicated VMs; their DR copies are made from the
  // array's snapshots, not kept here.
  int n = static_cast<int>(lab.replications.size());
  for (const SSampleArrayVM& sample : kSampleArrayVMs) {
    SSeedSnapVM vm;
    vm.replicationId = sample.replicationId;
    vm.name = sample.name;
    vm.guid = SampleArrayVMGuid(sample.replicationId);
    vm.clientId = SampleArrayVMClient(sample.replicationId);
    vm.sourceInstanceId = kSampleSourceInstanceId;
    vm.datastores = {SSeedDatastore{sample.datastore, sample.replicaGroupId, "", 0}};
    if (!CHypervisorLab::AddVM(SampleArraySourceVM(vm, ++n))) {
      error = "cannot store the VM of storage-array replication [" + std::to_string(sample.replicationId) + "]";
      return false;
    }
  }
  return true;
}
