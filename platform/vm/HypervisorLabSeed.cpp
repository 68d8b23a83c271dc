#include "vm/HypervisorLabSeed.h"

#include <iterator>
#include <utility>

#include "jobs/TaskStore.h"
#include "jobsim/StoragePolicyStore.h"
#include "repl/ReplicationStore.h"
#include "vm/HypervisorLab.h"

namespace {

// The management server's client the replications' subclients belong to.
const int kSubclientClientId = 1;

bool Fail(std::string& error, const std::string& text) {
  error = text;
  return false;
}

// The letter's place in the alphabet: the second octet of a site's addresses.
std::string Octet(char letter) { return std::to_string(letter - 'a' + 1); }

std::string Of(const char* prefix, char letter, const char* suffix = "") {
  return std::string(prefix) + letter + suffix;
}

SSeedVMSite SampleSite(long long instanceId, const char* name, char letter, int vendor,
                       std::vector<SSeedVMProxy> proxies) {
  SSeedVMSite site;
  site.instanceId = instanceId;
  site.name = name;
  site.letter = letter;
  site.vendor = vendor;
  site.proxies = std::move(proxies);
  return site;
}

}  // namespace

SSeedVMSite CHypervisorLabSeed::SampleSourceSite(int vendor) {
  return SampleSite(kSampleSourceInstanceId, kSampleSourceSite, 'a', vendor, {{31, "proxy-a1"}, {32, "proxy-a2"}});
}

SSeedVMSite CHypervisorLabSeed::SampleDestinationSite(int vendor) {
  return SampleSite(kSampleDestinationInstanceId, kSampleDestinationSite, 'b', vendor,
                    {{41, "proxy-b1"}, {42, "proxy-b2"}});
}

SSeedVMSite CHypervisorLabSeed::SampleCloudSite() {
  return SampleSite(kSampleCloudInstanceId, kSampleCloudSite, 'c', kSampleCloudVendor, {{51, "proxy-c1"}});
}

SSeedVMReplication CHypervisorLabSeed::SampleReplication(const SSampleVM& vm, int subclientId, int taskId,
                                                         long long destinationInstanceId, int targetId) {
  SSeedVMReplication r;
  r.replicationId = vm.replicationId;
  r.subclientId = subclientId;
  r.taskId = taskId;
  r.sourceInstanceId = kSampleSourceInstanceId;
  r.destinationInstanceId = destinationInstanceId;
  r.targetId = targetId;
  r.sourceName = vm.source;
  r.destinationName = vm.destination;
  r.sourceClientId = kSampleSourceClientBase + vm.replicationId;
  r.diskCount = vm.disks;
  return r;
}

SSeedVMLab CHypervisorLabSeed::Sample() {
  SSeedVMLab lab;
  lab.sites = {SampleSourceSite(), SampleDestinationSite(), SampleCloudSite()};
  SSeedVMTask task;
  task.taskId = kSampleTaskId;
  for (const SSampleVM& vm : kSampleVMs) {
    SSeedVMReplication r = SampleReplication(vm, kSampleSubclientId, kSampleTaskId, kSampleDestinationInstanceId,
                                             kSampleTargetId);
    r.failbackTaskId = kSampleFailbackTaskId;
    lab.replications.push_back(r);
    task.placedReplicationIds.push_back(vm.replicationId);
  }
  lab.tasks.push_back(task);
  // The test group's task places the same VMs, those of "Sample": none of
  // its own.
  task.taskId = kSampleTestTaskId;
  lab.tasks.push_back(task);
  for (const SSampleVM& vm : kSampleTestVMs) {
    lab.replications.push_back(
        SampleReplication(vm, kSampleTestSubclientId, kSampleTestTaskId, kSampleCloudInstanceId, kSampleTestTargetId));
  }
  lab.storagePolicies = {SSeedVMStoragePolicy{kSampleStoragePolicyId, {kSampleSubclientId}}};
  lab.pointsInTime.assign(std::begin(kSamplePointsInTime), std::end(kSamplePointsInTime));
  return lab;
}

SLabInstance CHypervisorLabSeed::Instance(const SSeedVMSite& site) {
  const char l = site.letter;
  SLabInstance instance;
  instance.id = site.instanceId;
  instance.name = site.name;
  instance.vendor = site.vendor;
  instance.host = "hv-" + site.name + ".lab";
  instance.user = "lab-admin";
  instance.clientId = static_cast<int>(site.instanceId);
  SLabRegion region;
  region.name = Of("dc-", l);
  region.datastores = {Of("ds-", l, "1"), Of("ds-", l, "2")};
  region.networks = {SLabNetwork{Of("net-", l), {"10." + Octet(l) + ".0.0/24"}}, SLabNetwork{Of("test-net-", l), {}}};
  region.sizes = {SLabVMSize{"Standard_B1s", 1, 1024, 2}, SLabVMSize{"Standard_D2s", 2, 8192, 4},
                  SLabVMSize{"Standard_D4s", 4, 16384, 8}};
  instance.regions = {region};
  return instance;
}

SLabVM CHypervisorLabSeed::VM(const SSeedVMSite& site, const std::string& guid, const std::string& name, int n) {
  const char l = site.letter;
  SLabVM vm;
  vm.instanceId = site.instanceId;
  vm.guid = guid;
  vm.name = name;
  vm.host = Of("esx-", l, "1");
  vm.datastores = {Of("ds-", l, "1")};
  vm.nics = {SLabNic{Of("net-", l), true}};
  vm.size = "Standard_B1s";
  vm.diskSizeMB = 20480;
  // Blocks of 200 keep every address valid for labs of thousands of VMs.
  vm.ip = "10." + Octet(l) + "." + std::to_string(n / 200) + "." + std::to_string(10 + n % 200);
  return vm;
}

const SSeedVMSite* CHypervisorLabSeed::SiteOf(const SSeedVMLab& lab, long long instanceId) {
  for (const SSeedVMSite& site : lab.sites) {
    if (site.instanceId == instanceId) return &site;
  }
  return nullptr;
}

bool CHypervisorLabSeed::Replication(const SSeedVMLab& lab, const SSeedVMReplication& r,
                                     App::VSAReplicationInfo& info) {
  const SSeedVMSite* source = SiteOf(lab, r.sourceInstanceId);
  const SSeedVMSite* destination = SiteOf(lab, r.destinationInstanceId);
  if (source == nullptr || destination == nullptr || destination->proxies.empty()) return false;
  const std::string id = std::to_string(r.replicationId);
  using Repl = App::VSAReplicationInfo;
  info = Repl();
  info.SetInt32(Repl::kReplicationId, r.replicationId);
  info.SetString(Repl::kReplicationGuid, "repl-" + id);
  info.SetString(Repl::kSourceVMGuid, "src-" + id);
  info.SetString(Repl::kSourceVMName, r.sourceName);
  if (r.drVM) info.SetString(Repl::kDestinationVMGuid, "dst-" + id);
  info.SetString(Repl::kDestinationVMName, r.destinationName);
  CNMessageBase& subtask = info.MutableMsg(Repl::kSubtask);
  subtask.SetInt32(ZnEntities::SubtaskEntity::kSubtaskId, r.taskId * 10);
  subtask.SetInt32(ZnEntities::SubtaskEntity::kTaskId, r.taskId);
  CNMessageBase& subclient = info.MutableMsg(Repl::kSubclient);
  subclient.SetInt32(ZnEntities::SubClientEntity::kSubclientId, r.subclientId);
  subclient.SetInt32(ZnEntities::SubClientEntity::kClientId, kSubclientClientId);
  subclient.SetInt32(ZnEntities::SubClientEntity::kInstanceId, static_cast<int32_t>(source->instanceId));
  // Where the hypervisor lab keeps the DR VM, and how it is reached.
  CNMessageBase& instance = info.MutableMsg(Repl::kDestinationInstance);
  instance.SetInt32(ZnEntities::InstanceEntity::kInstanceId, static_cast<int32_t>(destination->instanceId));
  instance.SetInt32(ZnEntities::InstanceEntity::kClientId, static_cast<int32_t>(destination->instanceId));
  CNMessageBase& proxy = info.MutableMsg(Repl::kDestinationProxy);
  proxy.SetInt64(ZnEntities::ClientEntity::kClientId, destination->proxies.front().clientId);
  proxy.SetString(ZnEntities::ClientEntity::kClientName, destination->proxies.front().name);
  info.MutableMsg(Repl::kReplicationTarget).SetInt32(ZnEntities::ReplicationTargetEntity::kTargetId, r.targetId);
  for (int disk = 0; disk < r.diskCount; ++disk) {
    CNMessageBase& tracking = info.AddMsg(Repl::kTrackingIds);
    const std::string suffix = id + "-" + std::to_string(disk);
    tracking.SetString(App::VSAReplicationTrakingIdInfo::kDiskName, r.sourceName + "-disk-" + std::to_string(disk));
    tracking.SetString(App::VSAReplicationTrakingIdInfo::kTrackingId, "trk-" + suffix);
    tracking.SetString(App::VSAReplicationTrakingIdInfo::kIntegritySnapshot, "isnap-" + suffix);
  }
  CNMessageBase& sourceClient = info.AddMsg(Repl::kProperties);
  sourceClient.SetInt32(App::VSAReplicationProperties::kPropertyId, CReplicationStore::kPropSourceVMClientId);
  sourceClient.SetString(App::VSAReplicationProperties::kValue, std::to_string(r.sourceClientId));
  if (r.failbackTaskId != 0) {
    CNMessageBase& failback = info.AddMsg(Repl::kProperties);
    failback.SetInt32(App::VSAReplicationProperties::kPropertyId, CReplicationStore::kPropFailbackTaskId);
    failback.SetString(App::VSAReplicationProperties::kValue, std::to_string(r.failbackTaskId));
  }
  info.SetInt32(Repl::kSyncStatus, r.syncStatus);
  info.SetInt32(Repl::kFailoverStatus, r.failoverStatus);
  info.SetInt32(Repl::kDestinationVendor, destination->vendor);
  info.SetInt32(Repl::kSourceVendor, source->vendor);
  info.SetInt32(Repl::kToolsInstalled, 1);
  if (r.indexingV2) info.SetInt32(Repl::kIndexingV2, 1);
  return true;
}

bool CHypervisorLabSeed::Task(const SSeedVMLab& lab, const SSeedVMTask& t, TMMsg::TaskInfo& task) {
  task = TMMsg::TaskInfo();
  CNMessageBase& restore = task.AddMsg(TMMsg::TaskInfo::kSubTasks)
                               .MutableMsg(TMMsg::SubTaskInfo::kJobOptions)
                               .MutableMsg(TMMsg::JobOption::kRestoreOptions);
  if (t.replicaSyncDirect) restore.SetInt32(TMMsg::RestoreOptionFields::kReplicaSyncDirect, 1);
  CNMessageBase& vmOptions = restore.MutableMsg(TMMsg::RestoreOptionFields::kVirtualServerRestoreOptions)
                                 .MutableMsg(TMMsg::VirtualServerRestoreOptionFields::kVMRestoreOptions);
  vmOptions.SetInt32(TMMsg::DiskLevelVMRestoreOption::kDeployVMAtFailover, t.deployAtFailover ? 1 : 0);
  vmOptions.SetInt32(TMMsg::DiskLevelVMRestoreOption::kFirstSyncDuringFailover, t.firstSyncDuringFailover ? 1 : 0);
  if (t.jobBucketing > 0) vmOptions.SetInt32(TMMsg::DiskLevelVMRestoreOption::kJobBucketingInSync, t.jobBucketing);
  // Where each DR VM stands on its destination site, which the VM
  // operations on it (the post-failover placement among them) carry.
  for (int id : t.placedReplicationIds) {
    const SSeedVMReplication* r = nullptr;
    for (const SSeedVMReplication& candidate : lab.replications) {
      if (candidate.replicationId == id) r = &candidate;
    }
    const SSeedVMSite* site = r != nullptr ? SiteOf(lab, r->destinationInstanceId) : nullptr;
    if (site == nullptr) return false;
    CNMessageBase& placement = vmOptions.AddMsg(TMMsg::DiskLevelVMRestoreOption::kAdvancedRestoreOptions);
    placement.SetString(TMMsg::VMWAdvancedRestoreOptions::kVMName, r->sourceName);
    placement.SetString(TMMsg::VMWAdvancedRestoreOptions::kNewVMName, r->destinationName);
    placement.SetString(TMMsg::VMWAdvancedRestoreOptions::kEsxHost, Of("esx-", site->letter, "1"));
    placement.SetString(TMMsg::VMWAdvancedRestoreOptions::kDatastore, Of("ds-", site->letter, "1"));
    placement.SetString(TMMsg::VMWAdvancedRestoreOptions::kDatacenter, Of("dc-", site->letter));
    placement.SetString(TMMsg::VMWAdvancedRestoreOptions::kCluster, Of("cluster-", site->letter));
  }
  return true;
}

bool CHypervisorLabSeed::AddSite(const SSeedVMSite& site) {
  if (!CHypervisorLab::AddInstance(Instance(site))) return false;
  int position = 0;
  for (const SSeedVMProxy& p : site.proxies) {
    SLabProxy proxy;
    proxy.clientId = p.clientId;
    proxy.name = p.name;
    proxy.installDirectory = "/opt/drlab";
    proxy.instances = {SLabProxyInstance{site.instanceId, ++position}};
    if (!CHypervisorLab::AddProxy(proxy)) return false;
  }
  return true;
}

bool CHypervisorLabSeed::AddReplicatedVM(const SSeedVMLab& lab, const SSeedVMReplication& r, int n,
                                         std::string& error) {
  const std::string id = std::to_string(r.replicationId);
  const SSeedVMSite* sourceSite = SiteOf(lab, r.sourceInstanceId);
  const SSeedVMSite* destinationSite = SiteOf(lab, r.destinationInstanceId);
  if (sourceSite == nullptr || destinationSite == nullptr) {
    return Fail(error, "the lab has no site of the instances of replication [" + id + "]");
  }
  SLabVM source = VM(*sourceSite, "src-" + id, r.sourceName, n);
  source.poweredOn = true;
  source.diskCount = r.diskCount;
  source.content = r.replicationId;
  source.clientId = r.sourceClientId;
  if (!CHypervisorLab::AddVM(source)) return Fail(error, "cannot store the source VM of replication [" + id + "]");
  SLabReplica replica;
  replica.replicationId = r.replicationId;
  replica.sourceInstanceId = sourceSite->instanceId;
  replica.sourceGuid = source.guid;
  replica.destInstanceId = destinationSite->instanceId;
  replica.destName = r.destinationName;
  if (r.drVM) {
    SLabVM dr = VM(*destinationSite, "dst-" + id, r.destinationName, n);
    dr.diskCount = source.diskCount;
    dr.content = source.content;
    if (!CHypervisorLab::AddVM(dr)) return Fail(error, "cannot store the DR VM of replication [" + id + "]");
    // A DR VM kept from an earlier seed keeps its snapshots.
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
      backup.cardsKept = true;
      backup.nics = dr.nics;
      if (!CHypervisorLab::AddSnapshot(backup)) return Fail(error, "cannot store the snapshot of [" + dr.guid + "]");
      for (size_t point = 0; point < lab.pointsInTime.size(); ++point) {
        SLabSnapshot pit;
        pit.instanceId = dr.instanceId;
        pit.vmGuid = dr.guid;
        pit.name = dr.name + "_" + std::to_string(lab.pointsInTime[point]);
        pit.content = SamplePointInTimeContent(r.replicationId, static_cast<int>(point));
        pit.cardsKept = true;
        pit.nics = dr.nics;
        if (!CHypervisorLab::AddSnapshot(pit)) return Fail(error, "cannot store the snapshots of [" + dr.guid + "]");
      }
    }
    replica.destGuid = dr.guid;
    replica.backedUpContent = replica.syncedContent = source.content;
  }
  if (!CHypervisorLab::AddReplica(replica)) return Fail(error, "cannot store the replica of [" + id + "]");
  return true;
}

bool CHypervisorLabSeed::AddLab(const SSeedVMLab& lab, std::string& error) {
  // A lab that does not hold together is refused before anything is stored.
  for (const SSeedVMReplication& r : lab.replications) {
    const SSeedVMSite* destination = SiteOf(lab, r.destinationInstanceId);
    if (SiteOf(lab, r.sourceInstanceId) == nullptr || destination == nullptr || destination->proxies.empty()) {
      return Fail(error, "replication [" + std::to_string(r.replicationId) + "] names instances [" +
                             std::to_string(r.sourceInstanceId) + "] and [" + std::to_string(r.destinationInstanceId) +
                             "]: the lab has not both sites, with a proxy at the destination");
    }
  }
  for (const SSeedVMTask& t : lab.tasks) {
    for (int id : t.placedReplicationIds) {
      bool found = false;
      for (const SSeedVMReplication& r : lab.replications) found = found || r.replicationId == id;
      if (!found) {
        return Fail(error, "replication task [" + std::to_string(t.taskId) + "] places replication [" +
                               std::to_string(id) + "], which the lab has not");
      }
    }
  }
  for (const SSeedVMTask& t : lab.tasks) {
    TMMsg::TaskInfo task;
    std::string xml;
    // Stored as given, as the management server keeps a replication task.
    if (!Task(lab, t, task) || !task.serializeUTF8(xml) || !CTaskStore::PutTask(t.taskId, xml)) {
      return Fail(error, "cannot store replication task [" + std::to_string(t.taskId) + "]");
    }
  }
  for (const SSeedVMReplication& r : lab.replications) {
    App::VSAReplicationInfo info;
    if (!Replication(lab, r, info) || !CReplicationStore::Put(info, r.taskId)) {
      return Fail(error, "cannot store replication [" + std::to_string(r.replicationId) + "]");
    }
  }
  for (const SSeedVMStoragePolicy& p : lab.storagePolicies) {
    SStoragePolicy policy;
    policy.policyId = p.policyId;
    policy.copies = {SStorageCopy{PrimaryCopyId(p.policyId), 1, true, true},
                     SStorageCopy{AuxCopyId(p.policyId), 2, false, false}};
    bool stored = CStoragePolicyStore::PutPolicy(policy);
    for (int subclient : p.subclientIds) {
      stored = stored && CStoragePolicyStore::AssignSubclient(SSubclientPolicy{subclient, p.policyId, false});
    }
    if (!stored) return Fail(error, "cannot store storage policy [" + std::to_string(p.policyId) + "]");
  }
  for (const SSeedVMSite& site : lab.sites) {
    if (!AddSite(site)) return Fail(error, "cannot store site [" + site.name + "]");
  }
  int n = 0;
  for (const SSeedVMReplication& r : lab.replications) {
    if (!AddReplicatedVM(lab, r, ++n, error)) return false;
  }
  return true;
}
