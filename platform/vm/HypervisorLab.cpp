#include "vm/HypervisorLab.h"

#include "appmgr/AppVMStore.h"
#include "appmgr/ApplicationStore.h"
#include "appmgr/ClientProperties.h"
#include "appmgr/ClientStore.h"
#include "appmgr/InstancePropStore.h"
#include "appmgr/InstanceTypeVirtualServer.h"
#include "db/DBWriteScope.h"
#include "log/EvEvent.h"
#include "vm/HypervisorStore.h"
#include "vm/LabInternals.h"
#include "vm/VmOperation.h"

namespace {

// An instance's application id on the management server: clear of the
// subclients' ids.
constexpr int kInstanceApplicationBase = 90000;

// Runs the writes of one lab change as one transaction.
template <class Work>
bool InOneTransaction(const char* function, Work work) {
  CDBConnection* c = CDBConnection::ForThread();
  if (c == nullptr) {
    EvDebug().Error(function, "No database for the hypervisor lab");
    return false;
  }
  CDBWriteScope scope(c);
  if (!scope.Ok() || !work()) {
    EvDebug().Error(function, "Cannot store the change of the hypervisor lab");
    return false;
  }
  return scope.Commit();
}

bool RegisterVMClient(const SLabVM& vm) {
  SClientRecord client;
  client.id = vm.clientId;
  client.name = vm.name;
  client.hostName = vm.name;
  client.displayName = vm.name;
  if (!CClientStore::PutClient(client)) return false;
  ClientProperties properties(vm.clientId);
  if (properties.setVMInstanceUUID(vm.guid) != 0) return false;
  if (!vm.projectId.empty() && properties.setVSAProjectId(vm.projectId) != 0) return false;
  SAppVMRecord row;
  const EStoreResult known = CAppVMStore::FindByClient(vm.clientId, row);
  if (known == EStoreResult::kFailed) return false;
  if (known == EStoreResult::kOk && row.guid == vm.guid && !row.removed) return true;
  row = SAppVMRecord();
  row.clientId = vm.clientId;
  row.guid = vm.guid;
  row.name = vm.name;
  return CAppVMStore::AddVM(row);
}

}  // namespace

bool CHypervisorLab::AddInstance(const SLabInstance& instance) {
  return InOneTransaction("AddInstance", [&]() {
    if (!CHypervisorStore::PutInstance(instance)) return false;
    // Without a host of its own the server names the instance's client.
    if (!instance.host.empty() &&
        !CInstancePropStore::SetAttribute(instance.id, ZN_PROP_VIRTUAL_SERVER_HOST, instance.host)) {
      return false;
    }
    if (!instance.user.empty() &&
        !CInstancePropStore::SetAttribute(instance.id, ZN_PROP_VIRTUAL_SERVER_USER, instance.user)) {
      return false;
    }
    if (!CInstancePropStore::SetAttribute(instance.id, ZN_PROP_FBR_UNIX_MEDIA_AGENT,
                                          std::to_string(instance.fbrClientId))) {
      return false;
    }
    if (instance.clientId <= 0) return true;
    SClientRecord client;
    client.id = instance.clientId;
    client.name = instance.name;
    client.hostName = instance.host;
    client.displayName = instance.name;
    SApplicationRecord app;
    app.id = kInstanceApplicationBase + static_cast<int>(instance.id);
    app.clientId = instance.clientId;
    app.appTypeId = CApplicationStore::kVirtualServerAppType;
    app.instanceId = instance.id;
    return CClientStore::PutClient(client) && CApplicationStore::PutApplication(app);
  });
}

bool CHypervisorLab::AddProxy(const SLabProxy& proxy) {
  return InOneTransaction("AddProxy", [&]() {
    SClientRecord client;
    client.id = static_cast<int>(proxy.clientId);
    client.name = proxy.name;
    client.hostName = proxy.name;
    client.displayName = proxy.name;
    if (!CHypervisorStore::PutProxy(proxy) || !CClientStore::PutClient(client)) return false;
    return proxy.installDirectory.empty() ||
           ClientProperties(client.id).setAttribute(ZN_PROP_INSTALL_DIRECTORY, proxy.installDirectory) == 0;
  });
}

bool CHypervisorLab::AddVM(const SLabVM& vm) {
  return InOneTransaction("AddVM",
                          [&]() { return CHypervisorStore::PutVM(vm) && (vm.clientId <= 0 || RegisterVMClient(vm)); });
}

bool CHypervisorLab::AddSnapshot(SLabSnapshot& snapshot) {
  return InOneTransaction("AddSnapshot", [&]() {
    if (snapshot.ref.empty()) snapshot.ref = hvlab::NewSnapshotRef();
    return !snapshot.ref.empty() && CHypervisorStore::AddSnapshot(snapshot);
  });
}

bool CHypervisorLab::AddReplica(const SLabReplica& replica) { return CHypervisorStore::PutReplica(replica); }

bool CHypervisorLab::SetDatastoreHolder(long long instanceId, const std::string& datastore, long long proxyId) {
  return InOneTransaction("SetDatastoreHolder", [&]() {
    SLabDatastore d;
    const EStoreResult read = CHypervisorStore::GetDatastore(instanceId, datastore, d);
    if (read == EStoreResult::kFailed) return false;
    d.instanceId = instanceId;
    d.name = datastore;
    d.holderProxyId = proxyId;
    return CHypervisorStore::PutDatastore(d);
  });
}

EStoreResult CHypervisorLab::SetDown(const std::string& name, bool down) {
  SLabInstance instance;
  EStoreResult read = CHypervisorStore::FindInstanceByName(name, instance);
  if (read == EStoreResult::kOk) return CHypervisorStore::SetInstanceDown(instance.id, down);
  if (read == EStoreResult::kFailed) return read;
  SLabProxy proxy;
  read = CHypervisorStore::FindProxyByName(name, proxy);
  if (read != EStoreResult::kOk) return read;
  return CHypervisorStore::SetProxyDown(proxy.clientId, down);
}

EStoreResult CHypervisorLab::SetInstanceDown(long long instanceId, bool down) {
  return CHypervisorStore::SetInstanceDown(instanceId, down);
}

EStoreResult CHypervisorLab::SetProxyDown(long long proxyId, bool down) {
  return CHypervisorStore::SetProxyDown(proxyId, down);
}

EStoreResult CHypervisorLab::BumpContent(long long instanceId, const std::string& guid) {
  EStoreResult result = EStoreResult::kFailed;
  InOneTransaction("BumpContent", [&]() {
    SLabVM vm;
    result = CHypervisorStore::GetVM(instanceId, guid, vm);
    if (result != EStoreResult::kOk) return result == EStoreResult::kMissing;
    ++vm.content;
    if (CHypervisorStore::PutVM(vm)) return true;
    result = EStoreResult::kFailed;
    return false;
  });
  return result;
}

bool CHypervisorLab::AddFault(SLabFault& fault) {
  if (fault.fromCall < 1 || fault.toCall < fault.fromCall) return false;
  // A planted error is a failure of the lab's own: never a success, a
  // connection failure, a mount elsewhere or the caller's quit.
  if (fault.kind == ELabFault::kError &&
      (fault.code <= 0 || fault.code == VmOperation::kMountedThroughOtherProxy)) {
    return false;
  }
  return CHypervisorStore::AddFault(fault);
}

bool CHypervisorLab::ClearFaults() { return CHypervisorStore::ClearFaults(); }

void CHypervisorLab::SetReleaseMarkSeam(ReadsSeam seam) { hvlab::SetReleaseMarkSeam(seam); }

bool CHypervisorLab::ReleaseHangs() {
  if (CHypervisorStore::NextValue(hvlab::kReleaseCounter) == 0) return false;
  hvlab::WakeHungCalls();
  return true;
}

EStoreResult CHypervisorLab::Instances(std::vector<SLabInstance>& out) { return CHypervisorStore::Instances(out); }

EStoreResult CHypervisorLab::Proxies(std::vector<SLabProxy>& out) { return CHypervisorStore::Proxies(out); }

EStoreResult CHypervisorLab::GetVM(long long instanceId, const std::string& guid, SLabVM& out) {
  return CHypervisorStore::GetVM(instanceId, guid, out);
}

EStoreResult CHypervisorLab::FindVMByName(long long instanceId, const std::string& name, SLabVM& out) {
  return CHypervisorStore::FindVMByName(instanceId, name, out);
}

EStoreResult CHypervisorLab::VMs(long long instanceId, std::vector<SLabVM>& out) {
  return CHypervisorStore::VMs(instanceId, out);
}

EStoreResult CHypervisorLab::Snapshots(long long instanceId, const std::string& guid, std::vector<SLabSnapshot>& out) {
  return CHypervisorStore::Snapshots(instanceId, guid, out);
}

EStoreResult CHypervisorLab::GetReplica(int replicationId, SLabReplica& out) {
  return CHypervisorStore::GetReplica(replicationId, out);
}

EStoreResult CHypervisorLab::Replicas(std::vector<SLabReplica>& out) { return CHypervisorStore::Replicas(out); }

EStoreResult CHypervisorLab::Calls(std::vector<SLabCall>& out) { return CHypervisorStore::Calls(out); }

EStoreResult CHypervisorLab::GetDatastore(long long instanceId, const std::string& name, SLabDatastore& out) {
  return CHypervisorStore::GetDatastore(instanceId, name, out);
}

std::string CHypervisorLab::ReportedIp(const SLabVM& vm) {
  if (!vm.poweredOn || !vm.toolsInstalled) return std::string();
  for (const SLabNic& nic : vm.nics) {
    if (nic.connected) return vm.ip;
  }
  return std::string();
}

int CHypervisorLab::HungCalls() { return hvlab::HungCalls(); }

long long CHypervisorLab::MemberServerCalls() { return CHypervisorStore::Counter(hvlab::kMemberServerCounter); }

LabMountHookRegistry& CHypervisorLab::MountHooks() {
  // Never destroyed: a hook may still be looked up while the process exits.
  static auto* registry = new LabMountHookRegistry();
  return *registry;
}

void CHypervisorLab::Register() {
  VmOperation::Handlers().Register(VmOperation::kAnyOperation, hvlab::PerformOperation);
  hvlab::RegisterServices();
  hvlab::RegisterJobEffects();
}

bool CHypervisorLab::CreateTables() {
  return CHypervisorStore::CreateTables() && CAppVMStore::CreateTables() && CInstancePropStore::CreateTables() &&
         CApplicationStore::CreateTables();
}


bool CHypervisorLab::SetMountDurationMs(long long ms) { return CHypervisorStore::SetCounter(kMountDurationCounter, ms); }

long long CHypervisorLab::MountOverlaps() { return CHypervisorStore::Counter(kMountOverlapCounter); }

long long CHypervisorLab::MountsInFlight() { return CHypervisorStore::MountsInFlight(); }
