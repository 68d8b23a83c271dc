// The lab's VM operations: one call, one transaction, one journal row.
#include <stdio.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <map>

#include "appmgr/AppVMStore.h"
#include "appmgr/ClientProperties.h"
#include "appmgr/ClientStore.h"
#include "core/Mutex.h"
#include "db/DBWriteScope.h"
#include "jobs/JobStore.h"
#include "log/EvEvent.h"
#include "msg/MsgEnums.h"
#include "time/PlatformClock.h"
#include "vm/HypervisorLab.h"
#include "vm/HypervisorStore.h"
#include "vm/LabInternals.h"
#include "vm/VmOperation.h"

namespace hvlab {

const char* const kReleaseCounter = "release";

namespace {

using VMEntity = ZnEntities::VirtualMachineEntity;
using VM = Ida::VirtualMachine;
using Resp = Ida::VMOpResp;

// A hung call looks at the release counter this often (platform ms).
constexpr long long kHangPollMs = 1000;

CMutex g_hangMutex;
std::condition_variable g_hangWake;
long long g_hangWakes DR_GUARDED_BY(g_hangMutex) = 0;

struct SAnswer {
  int rc = VmOperation::kSuccess;
  std::string text;
};

SAnswer Fail(int rc, const std::string& text) { return SAnswer{rc, text}; }

// One call as it is carried out.
struct SCall {
  SCall(TMMsg::VMProvisioningOption& o, Ida::VMOpReq& req, Ida::VMOpResp& resp, bool r)
      : option(o), request(req), response(resp), op(o.GetInt32(TMMsg::VMProvisioningOption::kOperationType)),
        retry(r) {}

  TMMsg::VMProvisioningOption& option;
  Ida::VMOpReq& request;
  Ida::VMOpResp& response;
  int op;
  bool retry;
  bool timedOut = false;
  int timeSeconds = 0;
  SLabInstance instance;
  long long proxyId = 0;
  SLabCall journal;
  std::vector<SLabFault> quirks;

  const VM& RequestVM() const { return request.GetMsgAs<VM>(Ida::VMOpReq::kVirtualMachine); }
  std::string RequestGuid() const { return RequestVM().GetMsg(VM::kEntity).GetString(VMEntity::kGuid); }
  std::string RequestName() const { return RequestVM().GetMsg(VM::kEntity).GetString(VMEntity::kName); }
  bool HasQuirk(ELabFault kind) const {
    for (const SLabFault& f : quirks) {
      if (f.kind == kind) return true;
    }
    return false;
  }
};

std::string VMText(const std::string& name, const std::string& guid) {
  return "VM [" + name + "] GUID [" + guid + "]";
}

// The VM a request names: by GUID within the instance, by name when it
// gives no GUID.
EStoreResult FindRequestVM(long long instanceId, const std::string& guid, const std::string& name, SLabVM& vm) {
  if (!guid.empty()) return CHypervisorStore::GetVM(instanceId, guid, vm);
  if (name.empty()) return EStoreResult::kMissing;
  return CHypervisorStore::FindVMByName(instanceId, name, vm);
}

// The GUID and name the journal and the faults know a call by: the VM's
// when it exists, else what the request says.
void IdentifyCall(long long instanceId, const std::string& guid, const std::string& name, SLabCall& call) {
  SLabVM vm;
  if (FindRequestVM(instanceId, guid, name, vm) == EStoreResult::kOk) {
    call.vmGuid = vm.guid;
    call.vmName = vm.name;
  } else {
    call.vmGuid = guid;
    call.vmName = name;
  }
}

bool FaultNames(const SLabFault& f, const SLabCall& call) {
  return (f.opType == VmOperation::kAnyOperation || f.opType == call.opType) &&
         (f.vm.empty() || f.vm == call.vmGuid || f.vm == call.vmName);
}

// The faults whose calls include this one: the call's number among the
// calls a fault matches is one more than the journal's count of them.
EStoreResult PlantedFaults(const SLabCall& call, std::vector<SLabFault>& out) {
  std::vector<SLabFault> all;
  if (CHypervisorStore::Faults(all) != EStoreResult::kOk) return EStoreResult::kFailed;
  for (const SLabFault& f : all) {
    if (!FaultNames(f, call)) continue;
    const long long before = CHypervisorStore::CountCalls(f.opType, f.vm);
    if (before < 0) return EStoreResult::kFailed;
    if (before + 1 >= f.fromCall && before + 1 <= f.toCall) out.push_back(f);
  }
  return EStoreResult::kOk;
}

// ---- proxies

SAnswer ChooseProxy(SCall& call) {
  const long long named = call.request.GetInt64(Ida::VMOpReq::kProxyClientId);
  if (named > 0) {
    call.proxyId = named;
    SLabProxy proxy;
    const EStoreResult read = CHypervisorStore::GetProxy(named, proxy);
    if (read == EStoreResult::kFailed) return Fail(kLabStoreFailed, "Cannot read proxy [" + std::to_string(named) + "]");
    bool serves = false;
    for (const SLabProxyInstance& served : proxy.instances) serves = serves || served.instanceId == call.instance.id;
    if (read == EStoreResult::kMissing || !serves) {
      return Fail(kLabProxyNotServing, "Proxy [" + std::to_string(named) + "] does not serve instance [" +
                                           std::to_string(call.instance.id) + "]");
    }
    if (proxy.down) {
      return Fail(VmOperation::kProxyConnectionFailure, "Cannot connect to proxy [" + proxy.name + "]");
    }
    return SAnswer();
  }
  std::vector<SLabProxy> proxies;
  if (CHypervisorStore::ProxiesOfInstance(call.instance.id, proxies) != EStoreResult::kOk) {
    return Fail(kLabStoreFailed, "Cannot read the proxies of instance [" + std::to_string(call.instance.id) + "]");
  }
  if (proxies.empty()) {
    return Fail(kLabNoProxy, "No proxy serves instance [" + std::to_string(call.instance.id) + "]");
  }
  for (const SLabProxy& proxy : proxies) {
    call.proxyId = proxy.clientId;
    if (!proxy.down) return SAnswer();
    if (!call.retry) break;
  }
  return Fail(VmOperation::kProxyConnectionFailure,
              "Cannot connect to a proxy of instance [" + std::to_string(call.instance.id) + "]");
}

// ---- the operations

std::string NewGuid() {
  const long long n = CHypervisorStore::NextValue("vm");
  return n > 0 ? "vm-" + std::to_string(n) : std::string();
}

SAnswer TargetVM(SCall& call, SLabVM& vm) {
  const EStoreResult read = FindRequestVM(call.instance.id, call.RequestGuid(), call.RequestName(), vm);
  if (read == EStoreResult::kOk) return SAnswer();
  if (read == EStoreResult::kFailed) return Fail(kLabStoreFailed, "Cannot read the VMs of the lab");
  return Fail(kLabVMNotFound, VMText(call.RequestName(), call.RequestGuid()) + " not found on instance [" +
                                  std::to_string(call.instance.id) + "]");
}

SAnswer Store(bool stored) { return stored ? SAnswer() : Fail(kLabStoreFailed, "Cannot store the change of the lab"); }

// A VM whose operation changes only its own record.
SAnswer ChangeVM(SCall& call, const std::function<SAnswer(SLabVM&)>& change) {
  SLabVM vm;
  SAnswer answer = TargetVM(call, vm);
  if (answer.rc != 0) return answer;
  answer = change(vm);
  if (answer.rc != 0) return answer;
  return Store(CHypervisorStore::PutVM(vm));
}

void AddVMTo(const SCall& call, const SLabVM& vm, bool created) {
  DescribeVM(vm, call.instance.host, call.response.AddMsgAs<VM>(Resp::kVirtualMachines));
  if (!created) return;
  CNMessageBase& entity = call.response.MutableMsg(Resp::kCreatedVM);
  entity.SetString(VMEntity::kName, vm.name);
  entity.SetString(VMEntity::kGuid, vm.guid);
}

SAnswer PowerOn(SCall& call) {
  return ChangeVM(call, [&](SLabVM& vm) {
    if (vm.poweredOn) return SAnswer();
    if (!vm.toolsInstalled && call.request.GetInt32(Ida::VMOpReq::kFlags) != 2) {
      return Fail(kLabNoTools, "Guest tools are not installed on " + VMText(vm.name, vm.guid));
    }
    vm.poweredOn = true;
    return SAnswer();
  });
}

SAnswer PowerOff(SCall& call, bool shutdown) {
  return ChangeVM(call, [&](SLabVM& vm) {
    if (!vm.poweredOn) return SAnswer();
    if (shutdown && !vm.toolsInstalled) {
      return Fail(kLabNoTools, "Guest tools are not installed on " + VMText(vm.name, vm.guid) + ": cannot shut down");
    }
    vm.poweredOn = false;
    return SAnswer();
  });
}

const Ida::VMSnapshot& SnapshotAsked(const SCall& call, size_t i) {
  return call.option.GetListMsgAs<Ida::VMSnapOpReq>(TMMsg::VMProvisioningOption::kSnapOpRequests, i)
      .GetMsgAs<Ida::VMSnapshot>(Ida::VMSnapOpReq::kSnapshot);
}

void AddSnapshotTo(const SCall& call, const SLabVM& vm, const SLabSnapshot& snap) {
  CNMessageBase& out = call.response.AddMsg(Resp::kSnapshots);
  CNMessageBase& entity = out.MutableMsg(Ida::VMSnapshot::kVMEntity);
  entity.SetString(VMEntity::kName, vm.name);
  entity.SetString(VMEntity::kGuid, vm.guid);
  out.SetString(Ida::VMSnapshot::kName, snap.name);
  out.SetString(Ida::VMSnapshot::kDescription, snap.description);
  out.MutableMsg(Ida::VMSnapshot::kReference).SetString(Ida::SnapshotReference::kMoref, snap.ref);
}

SAnswer TakeSnapshots(SCall& call) {
  SLabVM vm;
  SAnswer answer = TargetVM(call, vm);
  if (answer.rc != 0) return answer;
  const size_t n = call.option.ListSize(TMMsg::VMProvisioningOption::kSnapOpRequests);
  if (n == 0) return Fail(kLabBadRequest, "No snapshot asked of " + VMText(vm.name, vm.guid));
  for (size_t i = 0; i < n; ++i) {
    SLabSnapshot snap;
    snap.ref = NewSnapshotRef();
    snap.instanceId = vm.instanceId;
    snap.vmGuid = vm.guid;
    snap.name = SnapshotAsked(call, i).GetString(Ida::VMSnapshot::kName);
    snap.description = SnapshotAsked(call, i).GetString(Ida::VMSnapshot::kDescription);
    snap.content = vm.content;
    snap.poweredOn = vm.poweredOn;
    snap.cardsKept = true;
    snap.nics = vm.nics;
    if (snap.ref.empty() || !CHypervisorStore::AddSnapshot(snap)) return Store(false);
    AddSnapshotTo(call, vm, snap);
  }
  return SAnswer();
}

// The snapshot a revert or delete names: by reference, else the newest of
// that name.
bool FindSnapshot(const std::vector<SLabSnapshot>& snaps, const std::string& ref, const std::string& name,
                  SLabSnapshot& out) {
  bool found = false;
  for (const SLabSnapshot& s : snaps) {
    if (ref.empty() ? s.name == name : s.ref == ref) {
      out = s;
      found = true;
    }
  }
  return found;
}

SAnswer RevertOrDeleteSnapshots(SCall& call, bool revert) {
  SLabVM vm;
  SAnswer answer = TargetVM(call, vm);
  if (answer.rc != 0) return answer;
  const size_t n = call.option.ListSize(TMMsg::VMProvisioningOption::kSnapOpRequests);
  if (n == 0) return Fail(kLabBadRequest, "No snapshot named for " + VMText(vm.name, vm.guid));
  for (size_t i = 0; i < n; ++i) {
    std::vector<SLabSnapshot> snaps;
    if (CHypervisorStore::Snapshots(vm.instanceId, vm.guid, snaps) != EStoreResult::kOk) return Store(false);
    const Ida::VMSnapshot& asked = SnapshotAsked(call, i);
    const std::string ref = asked.GetMsg(Ida::VMSnapshot::kReference).GetString(Ida::SnapshotReference::kMoref);
    const std::string name = asked.GetString(Ida::VMSnapshot::kName);
    SLabSnapshot snap;
    if (!FindSnapshot(snaps, ref, name, snap)) {
      return Fail(kLabSnapshotNotFound,
                  "Snapshot [" + name + "] ref [" + ref + "] not found on " + VMText(vm.name, vm.guid));
    }
    if (revert) {
      vm.content = snap.content;
      vm.poweredOn = snap.poweredOn;
      if (snap.cardsKept) vm.nics = snap.nics;
      if (!CHypervisorStore::PutVM(vm)) return Store(false);
    } else if (CHypervisorStore::RemoveSnapshot(snap.ref) != EStoreResult::kOk) {
      return Store(false);
    }
    AddSnapshotTo(call, vm, snap);
  }
  return SAnswer();
}

SAnswer RunScript(SCall& call) {
  SLabVM vm;
  SAnswer answer = TargetVM(call, vm);
  if (answer.rc != 0) return answer;
  call.journal.detail = call.RequestVM()
                            .GetMsg(VM::kGuestOptions)
                            .GetMsg(Ida::VMGuestOptions::kScriptSettings)
                            .GetString(Ida::VMScriptSettings::kScriptText);
  return SAnswer();
}

// The source client a clone stands for: the client of the replica's source
// VM when the clone is made of a DR VM, else the cloned VM's own.
int SourceClientOf(const SLabVM& cloned) {
  std::vector<SLabReplica> replicas;
  if (CHypervisorStore::ReplicasOfDest(cloned.instanceId, cloned.guid, replicas) == EStoreResult::kOk) {
    for (const SLabReplica& r : replicas) {
      SLabVM source;
      if (CHypervisorStore::GetVM(r.sourceInstanceId, r.sourceGuid, source) == EStoreResult::kOk &&
          source.clientId > 0) {
        return source.clientId;
      }
    }
  }
  return cloned.clientId;
}

SAnswer Delete(SCall& call) {
  SLabVM vm;
  SAnswer answer = TargetVM(call, vm);
  if (answer.rc != 0) return answer;
  if (CHypervisorStore::RemoveVM(vm.instanceId, vm.guid) != EStoreResult::kOk) return Store(false);
  if (vm.clientId > 0 && CAppVMStore::MarkRemoved(vm.clientId) == EStoreResult::kFailed) return Store(false);
  if (vm.clone && vm.clientId > 0 && CClientStore::RemoveClient(vm.clientId) == EStoreResult::kFailed) {
    return Store(false);
  }
  return SAnswer();
}

// A new VM as the request's description has it.
SLabVM FromDescription(const SCall& call, const std::string& guid, const std::string& name) {
  const VM& d = call.RequestVM();
  SLabVM vm;
  vm.guid = guid;
  vm.name = name;
  vm.instanceId = call.instance.id;
  vm.toolsInstalled = !d.Has(VM::kToolsInstalled) || d.GetInt32(VM::kToolsInstalled) != 0;
  vm.host = d.GetMsg(VM::kPlacement).GetString(Ida::VMPlacement::kEsxHost);
  for (size_t i = 0; i < d.ListSize(VM::kDatastores); ++i) {
    vm.datastores.push_back(d.GetListMsg(VM::kDatastores, i).GetString(VirtualServer::VMDatastoreInfo::kDatastoreName));
  }
  const std::string placed = d.GetMsg(VM::kPlacement)
                                 .GetMsg(Ida::VMPlacement::kDatastore)
                                 .GetString(ZnEntities::DataStoreEntity::kDatastoreName);
  if (vm.datastores.empty() && !placed.empty()) vm.datastores.push_back(placed);
  for (size_t i = 0; i < d.ListSize(VM::kNetworkCards); ++i) {
    const CNMessageBase& card = d.GetListMsg(VM::kNetworkCards, i);
    vm.nics.push_back(SLabNic{card.GetString(Ida::NetworkCard::kNetworkName),
                              !card.Has(Ida::NetworkCard::kConnected) || card.GetInt32(Ida::NetworkCard::kConnected) != 0});
  }
  // The adapters a request adds (a clone's test network) come after the
  // VM's own, connected.
  const CNMessageBase& added = d.GetMsg(VM::kGuestOptions);
  for (size_t i = 0; i < added.ListSize(Ida::VMGuestOptions::kNetworkCards); ++i) {
    vm.nics.push_back(
        SLabNic{added.GetListMsg(Ida::VMGuestOptions::kNetworkCards, i).GetString(Ida::NetworkCard::kNetworkName), true});
  }
  vm.size = d.GetMsg(VM::kInstanceType).GetString(ZnEntities::AmazonVMInstanceTypeEntity::kInstanceTypeName);
  const size_t disks = d.GetMsg(VM::kHardDisks).ListSize(Ida::HardDisks::kDisks);
  vm.diskCount = disks > 0 ? static_cast<int>(disks) : d.Has(VM::kDiskCount) ? static_cast<int>(d.GetInt64(VM::kDiskCount)) : 1;
  if (disks > 0) vm.diskSizeMB = d.GetMsg(VM::kHardDisks).GetListMsg(Ida::HardDisks::kDisks, 0).GetInt64(Ida::VHardDisk::kSize);
  return vm;
}

SAnswer NameFree(const SCall& call, const std::string& name) {
  if (name.empty()) return Fail(kLabBadRequest, "The request names no VM to create");
  SLabVM taken;
  const EStoreResult read = CHypervisorStore::FindVMByName(call.instance.id, name, taken);
  if (read == EStoreResult::kFailed) return Store(false);
  if (read == EStoreResult::kOk) {
    return Fail(kLabNameTaken, "A VM named [" + name + "] exists on instance [" + std::to_string(call.instance.id) + "]");
  }
  return SAnswer();
}

SAnswer Create(SCall& call) {
  const std::string name = call.RequestName();
  SAnswer answer = NameFree(call, name);
  if (answer.rc != 0) return answer;
  std::string guid = call.RequestGuid();
  SLabVM existing;
  if (guid.empty() || CHypervisorStore::GetVM(call.instance.id, guid, existing) != EStoreResult::kMissing) guid = NewGuid();
  if (guid.empty()) return Store(false);
  SLabVM vm = FromDescription(call, guid, name);
  if (!CHypervisorStore::PutVM(vm)) return Store(false);
  AddVMTo(call, vm, true);
  return SAnswer();
}

SAnswer CreateDRVM(SCall& call) {
  const int replicationId = call.RequestVM().GetInt32(VM::kReplicationId);
  SLabReplica replica;
  const EStoreResult read = CHypervisorStore::GetReplica(replicationId, replica);
  if (read == EStoreResult::kFailed) return Store(false);
  if (read == EStoreResult::kMissing) {
    return Fail(kLabNoReplica, "No replica of replication [" + std::to_string(replicationId) + "]");
  }
  const std::string name = !call.RequestName().empty() ? call.RequestName() : replica.destName;
  SLabVM vm;
  EStoreResult found = replica.destGuid.empty() ? EStoreResult::kMissing
                                                : CHypervisorStore::GetVM(call.instance.id, replica.destGuid, vm);
  if (found == EStoreResult::kMissing) found = CHypervisorStore::FindVMByName(call.instance.id, name, vm);
  if (found == EStoreResult::kFailed) return Store(false);
  if (found == EStoreResult::kMissing) {
    const std::string guid = !replica.destGuid.empty() ? replica.destGuid : NewGuid();
    if (guid.empty()) return Store(false);
    vm = FromDescription(call, guid, name);
    vm.content = replica.syncedContent >= 0 ? replica.syncedContent : std::max(replica.backedUpContent, 0LL);
    replica.destGuid = vm.guid;
    replica.destName = vm.name;
    if (!CHypervisorStore::PutVM(vm) || !CHypervisorStore::PutReplica(replica)) return Store(false);
  }
  AddVMTo(call, vm, true);
  return SAnswer();
}

SAnswer Clone(SCall& call) {
  const CNMessageBase& of = call.request.GetMsg(Ida::VMOpReq::kCloneSourceVM);
  SLabVM source;
  const EStoreResult read =
      FindRequestVM(call.instance.id, of.GetString(VMEntity::kGuid), of.GetString(VMEntity::kName), source);
  if (read == EStoreResult::kFailed) return Store(false);
  if (read == EStoreResult::kMissing) {
    return Fail(kLabVMNotFound, "Clone source " + VMText(of.GetString(VMEntity::kName), of.GetString(VMEntity::kGuid)) +
                                    " not found on instance [" + std::to_string(call.instance.id) + "]");
  }
  const std::string name = call.RequestName();
  SAnswer answer = NameFree(call, name);
  if (answer.rc != 0) return answer;
  const std::string guid = NewGuid();
  if (guid.empty()) return Store(false);
  const SLabVM described = FromDescription(call, guid, name);
  SLabVM clone = source;
  clone.guid = guid;
  clone.name = name;
  clone.poweredOn = false;
  clone.clone = true;
  clone.projectId.clear();
  clone.placementXml.clear();
  if (!described.size.empty()) clone.size = described.size;
  if (!described.nics.empty()) clone.nics = described.nics;
  SClientRecord client;
  client.name = client.hostName = client.displayName = name;
  if (!CClientStore::AddClient(client, CHypervisorLab::kFirstCloneClientId)) return Store(false);
  clone.clientId = client.id;
  ClientProperties properties(client.id);
  SAppVMRecord row;
  row.clientId = client.id;
  row.guid = guid;
  row.name = name;
  Ida::VirtualMachine description;
  DescribeVM(clone, call.instance.host, description);
  description.serializeUTF8(row.descriptionXml, false);
  if (!CHypervisorStore::PutVM(clone) || properties.setVMInstanceUUID(guid) != 0 ||
      properties.setAttribute(ZN_PROP_SOURCE_VM_CLIENT_ID, std::to_string(SourceClientOf(source))) != 0 ||
      !CAppVMStore::AddVM(row)) {
    return Store(false);
  }
  AddVMTo(call, clone, true);
  return SAnswer();
}

SAnswer Describe(SCall& call) {
  SLabVM vm;
  SAnswer answer = TargetVM(call, vm);
  if (answer.rc == 0) AddVMTo(call, vm, false);
  return answer;
}

SAnswer RecordPlacement(SCall& call) {
  return ChangeVM(call, [&](SLabVM& vm) {
    const CNMessageBase& placement = call.RequestVM().GetMsg(VM::kPlacement);
    placement.serializeUTF8(vm.placementXml, false);
    const std::string host = placement.GetString(Ida::VMPlacement::kEsxHost);
    if (!host.empty()) vm.host = host;
    call.journal.detail = vm.placementXml;
    return SAnswer();
  });
}

// The datastores a mount or unmount names: the source datastores of its
// datastore replications, else the VM's datastores, else its placement's.
std::vector<std::string> DatastoresOf(const VM& d) {
  std::vector<std::string> out;
  for (size_t i = 0; i < d.ListSize(VM::kDatastoreReplications); ++i) {
    const std::string name = d.GetListMsg(VM::kDatastoreReplications, i)
                                 .GetMsg(Ida::VMDatastoreReplication::kSourceDatastore)
                                 .GetString(VirtualServer::VMDatastoreInfo::kDatastoreName);
    if (!name.empty() && std::find(out.begin(), out.end(), name) == out.end()) out.push_back(name);
  }
  if (!out.empty()) return out;
  if (d.ListSize(VM::kDatastores) > 0) {
    const CNMessageBase& first = d.GetListMsg(VM::kDatastores, 0);
    const std::string name = first.GetString(VirtualServer::VMDatastoreInfo::kDatastoreName);
    out.push_back(!name.empty() ? name : first.GetString(VirtualServer::VMDatastoreInfo::kDatastoreId));
  } else {
    out.push_back(
        d.GetMsg(VM::kPlacement).GetMsg(Ida::VMPlacement::kDatastore).GetString(ZnEntities::DataStoreEntity::kDatastoreName));
  }
  if (out.front().empty()) out.clear();
  return out;
}

// A snapshot mount brings the VM the request names up on the instance: the
// VM when the instance has it, else a new one the mount registers (the
// request's name, a "mount-" GUID, the named datastores, off). Its unmount
// takes away only a VM a mount registered.
const char kMountedGuidPrefix[] = "mount-";

SAnswer MountedVM(SCall& call, const std::vector<std::string>& datastores, SLabMountEvent& event) {
  SLabVM vm;
  const EStoreResult read = FindRequestVM(call.instance.id, call.RequestGuid(), call.RequestName(), vm);
  if (read == EStoreResult::kFailed) return Store(false);
  const bool registered = read == EStoreResult::kMissing;
  if (registered) {
    SAnswer answer = NameFree(call, call.RequestName());
    if (answer.rc != 0) return answer;
    const long long n = CHypervisorStore::NextValue("vm");
    if (n <= 0) return Store(false);
    vm = FromDescription(call, kMountedGuidPrefix + std::to_string(n), call.RequestName());
    vm.datastores = datastores;
    if (!CHypervisorStore::PutVM(vm)) return Store(false);
  }
  AddVMTo(call, vm, registered);
  event.vmGuid = vm.guid;
  event.vmName = vm.name;
  return SAnswer();
}

SAnswer UnmountedVM(SCall& call) {
  SLabVM vm;
  const EStoreResult read = FindRequestVM(call.instance.id, call.RequestGuid(), call.RequestName(), vm);
  if (read == EStoreResult::kFailed) return Store(false);
  // Nothing registered (gone already), or a VM the mount did not bring:
  // the unmount still ends the mount.
  if (read == EStoreResult::kMissing || vm.guid.compare(0, sizeof kMountedGuidPrefix - 1, kMountedGuidPrefix) != 0) {
    return SAnswer();
  }
  return Store(CHypervisorStore::RemoveVM(vm.instanceId, vm.guid) == EStoreResult::kOk);
}

SAnswer Mount(SCall& call, bool mount) {
  SLabMountEvent event;
  event.opType = call.op;
  event.instanceId = call.instance.id;
  event.vmGuid = call.journal.vmGuid;
  event.vmName = call.journal.vmName;
  const std::vector<std::string> datastores = DatastoresOf(call.RequestVM());
  event.datastore = datastores.empty() ? std::string() : datastores.front();
  event.proxyId = call.proxyId;
  event.testFailover = call.option.GetInt32(TMMsg::VMProvisioningOption::kTestFailover) != 0;
  if (call.option.ListSize(TMMsg::VMProvisioningOption::kLiveMounts) > 0) {
    const CNMessageBase& source = call.option.GetListMsg(TMMsg::VMProvisioningOption::kLiveMounts, 0)
                                      .GetMsg(Ida::LiveMountResp::kMountSource);
    event.hasSource = true;
    event.subclientId = source.GetMsg(Ida::TdfsCtx::kSubclient).GetInt32(ZnEntities::SubClientEntity::kSubclientId);
    event.afileId = source.GetInt32(Ida::TdfsCtx::kAfileId);
    event.jobId = source.GetInt64(Ida::TdfsCtx::kJobId);
    event.copyId = source.GetInt32(Ida::TdfsCtx::kCopyId);
  }
  if (datastores.empty()) return Fail(kLabBadRequest, "No datastore named for the mount");
  call.journal.detail = "datastore [" + event.datastore + "] test [" + std::to_string(event.testFailover ? 1 : 0) +
                        "] job [" + std::to_string(event.jobId) + "] copy [" + std::to_string(event.copyId) + "]";
  std::vector<SLabDatastore> records;
  for (const std::string& name : datastores) {
    SLabDatastore datastore;
    const EStoreResult read = CHypervisorStore::GetDatastore(call.instance.id, name, datastore);
    if (read == EStoreResult::kFailed) return Store(false);
    datastore.instanceId = call.instance.id;
    datastore.name = name;
    if (mount && datastore.holderProxyId > 0 && datastore.holderProxyId != call.proxyId) {
      return Fail(VmOperation::kMountedThroughOtherProxy,
                  "Datastore [" + name + "] is held by proxy [" + std::to_string(datastore.holderProxyId) + "]");
    }
    records.push_back(datastore);
  }
  if (event.hasSource) {
    SAnswer answer = mount ? MountedVM(call, datastores, event) : UnmountedVM(call);
    if (answer.rc != 0) return answer;
  }
  for (const auto& hook : CHypervisorLab::MountHooks().All()) {
    const int rc = hook.second ? hook.second(event) : 0;
    // A hook's own negative answer must not pass for a connection failure or a quit.
    if (rc != 0) {
      return Fail(rc > 0 ? rc : kLabBadRequest,
                  "Mount records [" + hook.first + "] refused the " + (mount ? "mount" : "unmount"));
    }
  }
  for (SLabDatastore& datastore : records) {
    datastore.mountedVm = mount ? (!event.vmGuid.empty() ? event.vmGuid : event.vmName) : std::string();
    datastore.testFailover = mount && event.testFailover;
    if (!CHypervisorStore::PutDatastore(datastore)) return Store(false);
  }
  return SAnswer();
}

SAnswer Carry(SCall& call) {
  switch (call.op) {
    case TMMsg::VM_OPERATION_POWER_ON: return PowerOn(call);
    case TMMsg::VM_OPERATION_POWER_OFF: return PowerOff(call, false);
    case TMMsg::VM_OPERATION_SHUTDOWN: return PowerOff(call, true);
    case TMMsg::VM_OPERATION_CREATE_SNAPSHOT: return TakeSnapshots(call);
    case TMMsg::VM_OPERATION_REVERT_SNAPSHOT: return RevertOrDeleteSnapshots(call, true);
    case TMMsg::VM_OPERATION_DELETE_SNAPSHOT: return RevertOrDeleteSnapshots(call, false);
    case TMMsg::VM_OPERATION_SCRIPT_EXECUTION: return RunScript(call);
    case TMMsg::VM_OPERATION_DISABLE_NETWORK_ADAPTERS:
      return ChangeVM(call, [](SLabVM& vm) {
        for (SLabNic& nic : vm.nics) nic.connected = false;
        return SAnswer();
      });
    case TMMsg::VM_OPERATION_DELETE:
    case TMMsg::VM_OPERATION_DELETE_DR_VM: return Delete(call);
    case TMMsg::VM_OPERATION_CREATE_VM: return Create(call);
    case TMMsg::VM_OPERATION_CREATE_DR_VM: return CreateDRVM(call);
    case TMMsg::VM_OPERATION_CLONE_VM: return Clone(call);
    case TMMsg::VM_OPERATION_GET_VM_INFO: return Describe(call);
    case TMMsg::VM_OPERATION_REFRESH_VM: {
      SLabVM vm;
      return TargetVM(call, vm);
    }
    case TMMsg::VM_OPERATION_POST_VM_FAILOVER:
    case TMMsg::VM_OPERATION_POST_VM_MOUNT_FAILOVER: return RecordPlacement(call);
    case TMMsg::VM_OPERATION_SNAP_MOUNT: return Mount(call, true);
    case TMMsg::VM_OPERATION_SNAP_UNMOUNT: return Mount(call, false);
    default: return Fail(kLabUnsupported, "Operation type [" + std::to_string(call.op) + "] is not supported");
  }
}

// What a planted fault makes of the call before it is carried out; rc 0
// when none applies (the response quirks are kept for later).
SAnswer ApplyFaults(SCall& call, const std::vector<SLabFault>& faults) {
  for (const SLabFault& f : faults) {
    switch (f.kind) {
      case ELabFault::kError: return Fail(f.code, f.text);
      case ELabFault::kConnectionFailure:
        return Fail(VmOperation::kProxyConnectionFailure, f.text.empty() ? "Cannot connect to the proxy" : f.text);
      case ELabFault::kMountedElsewhere:
        return Fail(VmOperation::kMountedThroughOtherProxy, f.text.empty() ? "Mounted through another proxy" : f.text);
      case ELabFault::kHang:
      case ELabFault::kKillJob:
      case ELabFault::kSuspendJob: break;
      default: call.quirks.push_back(f);
    }
  }
  return SAnswer();
}

void ApplyQuirks(SCall& call) {
  for (const SLabFault& f : call.quirks) {
    if (f.kind == ELabFault::kRenamedVM) {
      const std::string name = !f.text.empty() ? f.text : call.journal.vmName + "-renamed";
      if (call.response.ListSize(Resp::kVirtualMachines) == 0) {
        SLabVM vm;
        if (FindRequestVM(call.instance.id, call.journal.vmGuid, call.journal.vmName, vm) != EStoreResult::kOk) {
          vm.guid = call.journal.vmGuid;
          vm.instanceId = call.instance.id;
        }
        AddVMTo(call, vm, false);
      }
      call.response.MutableListMsg(Resp::kVirtualMachines, 0).MutableMsg(VM::kEntity).SetString(VMEntity::kName, name);
    } else if (f.kind == ELabFault::kNoCreatedEntity) {
      call.response.ClearField(Resp::kCreatedVM);
    } else if (f.kind == ELabFault::kNoSnapshotRef) {
      for (size_t i = 0; i < call.response.ListSize(Resp::kSnapshots); ++i) {
        call.response.MutableListMsg(Resp::kSnapshots, i).ClearField(Ida::VMSnapshot::kReference);
      }
    }
  }
}

SAnswer Perform(SCall& call) {
  const EStoreResult read = CHypervisorStore::GetInstance(call.instance.id, call.instance);
  if (read == EStoreResult::kFailed) return Store(false);
  if (read == EStoreResult::kMissing) {
    return Fail(kLabUnknownInstance, "Unknown virtualization instance [" + std::to_string(call.instance.id) + "]");
  }
  SAnswer answer = ChooseProxy(call);
  if (answer.rc != 0) return answer;
  if (call.instance.down) return Fail(kLabSiteDown, "Site [" + call.instance.name + "] is down");
  if (call.timedOut) {
    return Fail(kLabTimedOut, "The operation did not end within [" + std::to_string(call.timeSeconds) + "] seconds");
  }
  std::vector<SLabFault> faults;
  if (PlantedFaults(call.journal, faults) != EStoreResult::kOk) return Store(false);
  answer = ApplyFaults(call, faults);
  if (answer.rc != 0) return answer;
  answer = Carry(call);
  if (answer.rc == 0) ApplyQuirks(call);
  return answer;
}

void Answer(SCall& call, const SAnswer& answer) {
  if (answer.rc != 0) {
    // A failed operation leaves no VM, snapshot or created entity behind.
    call.response = Resp();
  }
  const bool refreshQuirk = call.op == TMMsg::VM_OPERATION_REFRESH_VM && answer.rc == 0 &&
                            call.HasQuirk(ELabFault::kNoRefreshError);
  if (!refreshQuirk) {
    CNMessageBase& error = call.response.MutableMsg(Resp::kError);
    error.SetInt32(ZNGui::GenericResp::kErrorCode, answer.rc);
    error.SetString(ZNGui::GenericResp::kErrorText, answer.text);
  }
  if (call.proxyId > 0) call.response.SetInt64(Resp::kProxyClientId, call.proxyId);
  call.journal.proxyId = call.proxyId;
  call.journal.result = answer.rc;
  call.journal.errorText = answer.text;
}

std::atomic<int> g_hungCalls(0);

// The in-flight record of one mount or unmount call, and the time a mount
// takes (the lab's "mount-duration-ms" counter, scaled).
class CMountInFlight {
 public:
  explicit CMountInFlight(SCall& call) {
    if (call.op != TMMsg::VM_OPERATION_SNAP_MOUNT && call.op != TMMsg::VM_OPERATION_SNAP_UNMOUNT) return;
    const std::vector<std::string> datastores = DatastoresOf(call.RequestVM());
    if (datastores.empty()) return;
    m_token = CHypervisorStore::NextValue("mount-call");
    int overlaps = 0;
    if (m_token <= 0 || !CHypervisorStore::BeginMountInFlight(call.instance.id, datastores, m_token, overlaps)) {
      m_token = 0;
      return;
    }
    if (overlaps > 0) {
      for (int i = 0; i < overlaps; ++i) CHypervisorStore::NextValue(CHypervisorLab::kMountOverlapCounter);
      EvDebug(call.journal.jobId)
          .Error("PerformOperation", "Violation: operation [%d] on %s overlaps another mount on [%d] datastore(s)",
                 call.op, VMText(call.journal.vmName, call.journal.vmGuid).c_str(), overlaps);
    }
    const long long duration = CHypervisorStore::Counter(CHypervisorLab::kMountDurationCounter);
    if (duration > 0) CPlatformClock::Instance().Sleep(static_cast<uint64_t>(duration), "snapshot mount");
  }
  ~CMountInFlight() {
    if (m_token > 0) CHypervisorStore::EndMountInFlight(m_token);
  }
  // Commits the call's transaction with the end of its records in it. Ended
  // after the commit, a process killed in between would leave them behind
  // for good: its rerun finds the mount done and makes no call that meets
  // them.
  bool Commit(CDBWriteScope& scope) {
    if (m_token > 0 && !CHypervisorStore::EndMountInFlight(m_token)) return false;
    if (!scope.Commit()) return false;
    m_token = 0;
    return true;
  }
  CMountInFlight(const CMountInFlight&) = delete;
  CMountInFlight& operator=(const CMountInFlight&) = delete;

 private:
  long long m_token = 0;
};

}  // namespace

int HungCalls() { return g_hungCalls.load(); }

std::string NewSnapshotRef() {
  const long long n = CHypervisorStore::NextValue("snapshot");
  return n > 0 ? "snapshot-" + std::to_string(n) : std::string();
}

bool WaitForRelease(long long start, long long timeMs) {
  CPlatformClock& clock = CPlatformClock::Instance();
  const int64_t deadline = clock.NowMs() + timeMs;
  ++g_hungCalls;
  bool released = false;
  for (;;) {
    const long long now = CHypervisorStore::Counter(kReleaseCounter);
    if (now >= 0 && start >= 0 && now != start) {
      released = true;
      break;
    }
    const int64_t left = deadline - clock.NowMs();
    if (left <= 0) break;
    CMutexLock lock(g_hangMutex);
    const long long seen = g_hangWakes;
    const EWaitResult r =
        clock.WaitOn(lock.Native(), g_hangWake, static_cast<uint64_t>(std::min<int64_t>(left, kHangPollMs)),
                     "hung VM operation", [seen]() DR_REQUIRES(g_hangMutex) { return g_hangWakes != seen; }, false);
    if (r == EWaitResult::Stopped || r == EWaitResult::Watchdog) break;
  }
  --g_hungCalls;
  return released;
}

namespace {
std::atomic<void (*)()> g_releaseMarkSeam{nullptr};
}  // namespace

void SetReleaseMarkSeam(void (*seam)()) { g_releaseMarkSeam.store(seam); }

void WakeHungCalls() {
  {
    CMutexLock lock(g_hangMutex);
    ++g_hangWakes;
  }
  g_hangWake.notify_all();
}

int PerformOperation(TMMsg::VMProvisioningOption& option, Ida::VMOpReq& request, Ida::VMOpResp& response,
                     int timeSeconds, bool retry) {
  SCall call(option, request, response, retry);
  call.timeSeconds = timeSeconds;
  call.instance.id = request.GetMsg(Ida::VMOpReq::kInstance).GetInt64(ZnEntities::PolicyInstanceFields::kInstanceId);
  call.journal.opType = call.op;
  call.journal.instanceId = call.instance.id;
  call.journal.jobId = request.GetInt64(Ida::VMOpReq::kJobId);
  response = Resp();
  IdentifyCall(call.instance.id, call.RequestGuid(), call.RequestName(), call.journal);

  // A mount or unmount is in flight on its datastores from here to its end;
  // one that meets another on a datastore is a violation, journalled.
  CMountInFlight inFlight(call);

  // A hang holds the call before its transaction, so it blocks no writer.
  const long long releaseMark = CHypervisorStore::Counter(kReleaseCounter);
  if (void (*seam)() = g_releaseMarkSeam.load()) seam();
  std::vector<SLabFault> faults;
  if (PlantedFaults(call.journal, faults) == EStoreResult::kOk) {
    for (const SLabFault& f : faults) {
      if (f.kind == ELabFault::kKillJob || f.kind == ELabFault::kSuspendJob) {
        // As the job controller records a request from any process; the DR
        // job sees it at its next look at its quit flag.
        CJobStore::SetControlOperation(call.journal.jobId, f.kind == ELabFault::kKillJob ? 1 : 2);
      }
    }
    for (const SLabFault& f : faults) {
      if (f.kind == ELabFault::kHang) {
        call.timedOut = !WaitForRelease(releaseMark, static_cast<long long>(timeSeconds) * 1000);
        break;
      }
    }
  }

  CDBConnection* c = CDBConnection::ForThread();
  SAnswer answer = Fail(kLabStoreFailed, "The hypervisor lab's database cannot be reached");
  if (c != nullptr) {
    CDBWriteScope scope(c);
    if (scope.Ok()) {
      IdentifyCall(call.instance.id, call.RequestGuid(), call.RequestName(), call.journal);
      // A call that fails keeps nothing of what it did before it failed (a
      // second snapshot request that names no snapshot): only its journal row.
      if (c->Exec("SAVEPOINT lab_operation") == DB_OK) {
        answer = Perform(call);
        if (answer.rc != 0 && c->Exec("ROLLBACK TO lab_operation") != DB_OK) {
          answer = Fail(kLabStoreFailed, "Cannot undo the failed operation in the hypervisor lab");
        }
      }
      Answer(call, answer);
      if (answer.rc != kLabStoreFailed && CHypervisorStore::AddCall(call.journal) && inFlight.Commit(scope)) {
        return answer.rc;
      }
      if (answer.rc != kLabStoreFailed) answer = Fail(kLabStoreFailed, "Cannot journal the call in the hypervisor lab");
    }
  }
  // Nothing of the call was kept; its journal row still tells of it.
  EvDebug(call.journal.jobId)
      .Error("PerformOperation", "VM operation [%d] on %s: [%s]", call.op,
             VMText(call.journal.vmName, call.journal.vmGuid).c_str(), answer.text.c_str());
  Answer(call, answer);
  if (c != nullptr) CHypervisorStore::AddCall(call.journal);
  return answer.rc;
}

}  // namespace hvlab
