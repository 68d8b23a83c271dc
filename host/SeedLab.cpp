#include "SeedLab.h"

#include "SeedArrays.h"
#include "SeedReplications.h"
#include "vm/HypervisorLab.h"

namespace {

const int kVendor = 1;

bool Fail(std::string& error, const std::string& text) {
  error = text;
  return false;
}

// The second octet of a site's addresses: 1 for site-a, 2 for site-b, ...
std::string Octet(const char* letter) { return std::to_string(letter[0] - 'a' + 1); }

SLabInstance Site(int id, const char* name, const char* letter, int vendor = kVendor) {
  SLabInstance site;
  site.id = id;
  site.name = name;
  site.vendor = vendor;
  site.host = std::string("hv-") + name + ".lab";
  site.user = "lab-admin";
  site.clientId = id;
  SLabRegion region;
  region.name = std::string("dc-") + letter;
  region.datastores = {std::string("ds-") + letter + "1", std::string("ds-") + letter + "2"};
  region.networks = {SLabNetwork{std::string("net-") + letter, {std::string("10.") + Octet(letter) + ".0.0/24"}},
                     SLabNetwork{std::string("test-net-") + letter, {}}};
  region.sizes = {SLabVMSize{"Standard_B1s", 1, 1024, 2}, SLabVMSize{"Standard_D2s", 2, 8192, 4},
                  SLabVMSize{"Standard_D4s", 4, 16384, 8}};
  site.regions = {region};
  return site;
}

SLabVM SampleVM(int instanceId, const std::string& guid, const std::string& name, const char* letter, int n) {
  SLabVM vm;
  vm.instanceId = instanceId;
  vm.guid = guid;
  vm.name = name;
  vm.host = std::string("esx-") + letter + "1";
  vm.datastores = {std::string("ds-") + letter + "1"};
  vm.nics = {SLabNic{std::string("net-") + letter, true}};
  vm.size = "Standard_B1s";
  vm.diskSizeMB = 20480;
  vm.ip = std::string("10.") + Octet(letter) + ".0." + std::to_string(10 + n);
  return vm;
}

// The source VM of a sample replication (site-a), its DR VM at the
// destination site as the last sync left it, and the replica that ties them.
bool SeedVMPair(const SSampleVM& sample, int destinationInstanceId, const char* letter, int n, std::string& error) {
  const std::string id = std::to_string(sample.replicationId);
  SLabVM source = SampleVM(kSampleSourceInstanceId, "src-" + id, sample.source, "a", n);
  source.poweredOn = true;
  source.diskCount = SampleDiskCount(sample.replicationId);
  source.content = sample.replicationId;
  source.clientId = kSampleSourceClientBase + sample.replicationId;
  SLabVM dr = SampleVM(destinationInstanceId, "dst-" + id, sample.destination, letter, n);
  dr.diskCount = source.diskCount;
  dr.content = source.content;
  if (!CHypervisorLab::AddVM(source) || !CHypervisorLab::AddVM(dr)) {
    return Fail(error, "cannot store the VMs of replication [" + id + "]");
  }
  // The DR VM as the last sync left it: one backup snapshot of its content,
  // and two point-in-time snapshots of earlier contents.
  std::vector<SLabSnapshot> snaps;
  if (CHypervisorLab::Snapshots(dr.instanceId, dr.guid, snaps) != EStoreResult::kOk) {
    return Fail(error, "cannot read the snapshots of [" + dr.guid + "]");
  }
  if (snaps.empty()) {
    SLabSnapshot backup;
    backup.instanceId = dr.instanceId;
    backup.vmGuid = dr.guid;
    backup.name = CHypervisorLab::kBackupSnapshotName;
    backup.content = dr.content;
    if (!CHypervisorLab::AddSnapshot(backup)) return Fail(error, "cannot store the snapshot of [" + dr.guid + "]");
    for (int point = 0; point < 2; ++point) {
      SLabSnapshot pit;
      pit.instanceId = dr.instanceId;
      pit.vmGuid = dr.guid;
      pit.name = dr.name + "_" + std::to_string(kSamplePointsInTime[point]);
      pit.content = SamplePointInTimeContent(sample.replicationId, point);
      if (!CHypervisorLab::AddSnapshot(pit)) return Fail(error, "cannot store the snapshots of [" + dr.guid + "]");
    }
  }
  SLabReplica replica;
  replica.replicationId = sample.replicationId;
  replica.sourceInstanceId = kSampleSourceInstanceId;
  replica.sourceGuid = source.guid;
  replica.destInstanceId = destinationInstanceId;
  replica.destGuid = dr.guid;
  replica.destName = dr.name;
  replica.backedUpContent = replica.syncedContent = source.content;
  if (!CHypervisorLab::AddReplica(replica)) return Fail(error, "cannot store the replica of [" + id + "]");
  return true;
}

}  // namespace

int SampleDiskCount(int replicationId) { return replicationId == kSampleVMs[0].replicationId ? 2 : 1; }

bool SeedHypervisorLab(std::string& error) {
  if (!CHypervisorLab::AddInstance(Site(kSampleSourceInstanceId, kSampleSourceSite, "a")) ||
      !CHypervisorLab::AddInstance(Site(kSampleDestinationInstanceId, kSampleDestinationSite, "b")) ||
      !CHypervisorLab::AddInstance(Site(kSampleCloudInstanceId, kSampleCloudSite, "c", kSampleCloudVendor))) {
    return Fail(error, "cannot store the lab's sites");
  }
  int position = 0;
  for (const SSampleProxy& sample : kSampleProxies) {
    SLabProxy proxy;
    proxy.clientId = sample.clientId;
    proxy.name = sample.name;
    proxy.installDirectory = "/opt/drlab";
    position = position % 2 + 1;
    proxy.instances = {SLabProxyInstance{sample.instanceId, position}};
    if (!CHypervisorLab::AddProxy(proxy)) return Fail(error, std::string("cannot store proxy [") + sample.name + "]");
  }
  int n = 0;
  for (const SSampleVM& sample : kSampleVMs) {
    if (!SeedVMPair(sample, kSampleDestinationInstanceId, "b", ++n, error)) return false;
  }
  for (const SSampleVM& sample : kSampleTestVMs) {
    if (!SeedVMPair(sample, kSampleCloudInstanceId, "c", ++n, error)) return false;
  }
  // The storage-array VMs run at the source site on their array datastores;
  // their DR copies are made from the array's snapshots, not kept here.
  for (const SSampleArrayVM& sample : kSampleArrayVMs) {
    ++n;
    SLabVM source = SampleVM(kSampleSourceInstanceId, SampleArrayVMGuid(sample.replicationId), sample.name, "a", n);
    source.datastores = {sample.datastore};
    source.poweredOn = true;
    source.content = sample.replicationId;
    source.clientId = SampleArrayVMClient(sample.replicationId);
    if (!CHypervisorLab::AddVM(source)) {
      return Fail(error, "cannot store the VM of storage-array replication [" + std::to_string(sample.replicationId) +
                             "]");
    }
  }
  return true;
}
