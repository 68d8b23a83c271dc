// The lab's services beside the VM operations: a VM's information and
// owner, what a region offers, a VM's snapshots, and an instance's proxies.
#include "appmgr/ClientProperties.h"
#include "db/DBProcRegistry.h"
#include "log/EvEvent.h"
#include "vm/HypervisorLab.h"
#include "vm/HypervisorStore.h"
#include "vm/LabInternals.h"
#include "vm/VmAuxOps.h"
#include "xmlreq/XMLHandler.h"

namespace hvlab {

const char* const kMemberServerCounter = "AppGetVSMemberServers";

namespace {

using VM = Ida::VirtualMachine;

// Query kinds of a destination query.
constexpr int kQueryDatastores = 3;
constexpr int kQueryNetworks = 6;
constexpr int kQuerySizes = 8;

int Refuse(std::string& error, const std::string& text) {
  error = text;
  return -1;
}

// The instance a service asks about, up: 0, else the refusal.
int InstanceUp(long long instanceId, std::string& error) {
  SLabInstance instance;
  const EStoreResult read = CHypervisorStore::GetInstance(instanceId, instance);
  if (read == EStoreResult::kFailed) return Refuse(error, "Cannot read the hypervisor lab");
  if (read == EStoreResult::kMissing) {
    return Refuse(error, "Unknown virtualization instance [" + std::to_string(instanceId) + "]");
  }
  if (instance.down) return Refuse(error, "Site [" + instance.name + "] is down");
  return 0;
}

void AddOffer(const SLabRegion& region, int kind, CNMessageBase& host) {
  if (kind == kQueryDatastores) {
    for (const std::string& d : region.datastores) {
      host.AddMsg(EVGui::VMHostInfo::kDatastores).SetString(EVGui::VMDataStoreInfo::kDatastoreName, d);
    }
  } else if (kind == kQueryNetworks) {
    for (const SLabNetwork& n : region.networks) {
      CNMessageBase& network = host.AddMsg(EVGui::VMHostInfo::kNetworks);
      network.SetString(EVGui::VMNetworkInfo::kNetworkName, n.name);
      for (const std::string& subnet : n.subnets) {
        network.AddMsg(EVGui::VMNetworkInfo::kSubnets).SetString(EVGui::SubnetInfo::kSubnet, subnet);
      }
    }
  } else if (kind == kQuerySizes) {
    for (const SLabVMSize& s : region.sizes) {
      CNMessageBase& size = host.AddMsg(EVGui::VMHostInfo::kVMSizes);
      size.SetString(EVGui::VMSizeInfo::kSizeName, s.name);
      size.SetInt64(EVGui::VMSizeInfo::kCpuCount, s.cpus);
      size.SetInt64(EVGui::VMSizeInfo::kMemoryMB, s.memoryMB);
      size.SetInt64(EVGui::VMSizeInfo::kDiskCount, s.disks);
    }
  }
}

// What a region (datacenter) of an instance offers, of the query's kind;
// a region the instance does not have offers nothing.
int Destinations(int /*userId*/, std::string& xml, std::string& error) {
  EVGui::GetVirtualMachineDestinationsReq req;
  if (!req.Unserialize(xml)) return Refuse(error, "Cannot read the destination query");
  const long long instanceId =
      req.GetMsg(EVGui::GetVirtualMachineDestinationsReq::kEntity).GetInt64(ZnEntities::AppInstanceEntity::kInstanceId);
  if (InstanceUp(instanceId, error) != 0) return -1;
  SLabInstance instance;
  if (CHypervisorStore::GetInstance(instanceId, instance) != EStoreResult::kOk) {
    return Refuse(error, "Cannot read the hypervisor lab");
  }
  EVGui::VirtualMachineDestination resp;
  const std::string wanted = req.GetString(EVGui::GetVirtualMachineDestinationsReq::kDatacenter);
  for (const SLabRegion& region : instance.regions) {
    if (region.name != wanted) continue;
    AddOffer(region, req.GetInt32(EVGui::GetVirtualMachineDestinationsReq::kQueryKind),
             resp.AddMsg(EVGui::VirtualMachineDestination::kHosts));
  }
  return resp.serializeUTF8(xml) ? 0 : Refuse(error, "Cannot write the destinations");
}

// The snapshots of the VMs asked about (every VM of the instance when the
// request names none), oldest first.
int DiscoverSnapshots(int /*userId*/, std::string& xml, std::string& error) {
  EVGui::DiscoverVMDetailsReq req;
  if (!req.Unserialize(xml)) return Refuse(error, "Cannot read the VM discovery");
  const long long instanceId =
      req.GetMsg(EVGui::DiscoverVMDetailsReq::kInstance).GetInt64(ZnEntities::AppInstanceEntity::kInstanceId);
  if (InstanceUp(instanceId, error) != 0) return -1;
  std::vector<SLabVM> vms;
  if (req.ListSize(EVGui::DiscoverVMDetailsReq::kGuestHosts) == 0) {
    if (CHypervisorStore::VMs(instanceId, vms) != EStoreResult::kOk) return Refuse(error, "Cannot read the VMs");
  }
  for (size_t i = 0; i < req.ListSize(EVGui::DiscoverVMDetailsReq::kGuestHosts); ++i) {
    const std::string guid =
        req.GetListMsg(EVGui::DiscoverVMDetailsReq::kGuestHosts, i).GetString(EVGui::GuestHost::kGuid);
    SLabVM vm;
    const EStoreResult read = CHypervisorStore::GetVM(instanceId, guid, vm);
    if (read == EStoreResult::kFailed) return Refuse(error, "Cannot read the VMs");
    if (read == EStoreResult::kOk) vms.push_back(vm);
  }
  EVGui::DiscoverVMDetailsResp resp;
  for (const SLabVM& vm : vms) {
    std::vector<SLabSnapshot> snaps;
    if (CHypervisorStore::Snapshots(instanceId, vm.guid, snaps) != EStoreResult::kOk) {
      return Refuse(error, "Cannot read the snapshots");
    }
    CNMessageBase& guest = resp.AddMsg(EVGui::DiscoverVMDetailsResp::kGuestHosts);
    guest.SetString(EVGui::GuestHost::kGuid, vm.guid);
    guest.SetString(EVGui::GuestHost::kName, vm.name);
    for (const SLabSnapshot& snap : snaps) {
      CNMessageBase& out = guest.AddMsg(EVGui::GuestHost::kSnapshots);
      out.SetString(EVGui::VMSnapshot::kReference, snap.ref);
      out.SetString(EVGui::VMSnapshot::kName, snap.name);
      out.SetString(EVGui::VMSnapshot::kDescription, snap.description);
    }
  }
  return resp.serializeUTF8(xml) ? 0 : Refuse(error, "Cannot write the discovery");
}

// The proxies of an instance, in its order; an instance without any gets an
// answer without a member-server list.
int MemberServers(const std::vector<SDBProcValue>& inputs, SDBProcResult& result) {
  CHypervisorStore::NextValue(kMemberServerCounter);
  App::GetVSMemberServersRequest req;
  if (inputs.empty() || !req.Unserialize(inputs[0].text)) {
    result.error = "Cannot read the member-server request";
    return -1;
  }
  const long long instanceId =
      req.GetMsg(App::GetVSMemberServersRequest::kInstanceEntity).GetInt32(ZnEntities::GenericEntity::kInstanceId);
  std::vector<SLabProxy> proxies;
  if (CHypervisorStore::ProxiesOfInstance(instanceId, proxies) != EStoreResult::kOk) {
    result.error = "Cannot read the proxies of instance [" + std::to_string(instanceId) + "]";
    return -1;
  }
  App::GetVSMemberServersResponse resp;
  if (!proxies.empty()) {
    CNMessageBase& list = resp.MutableMsg(App::GetVSMemberServersResponse::kMemberServers);
    for (const SLabProxy& p : proxies) {
      CNMessageBase& entity =
          list.AddMsg(App::MemberServerListFields::kMemberServers).MutableMsg(App::MemberServer::kClientEntity);
      entity.SetInt64(ZnEntities::GenericEntity::kClientId, p.clientId);
      entity.SetString(ZnEntities::GenericEntity::kClientName, p.name);
    }
  }
  std::string text;
  // The caller's procedure wrapper puts the declaration in front.
  if (!resp.serializeUTF8(text, false)) {
    result.error = "Cannot write the member servers";
    return -1;
  }
  result.rows.push_back({SDBProcValue::Text(text)});
  return 0;
}

int VMInfo(const std::string& guid, QSMServer::QVirtualMachineReq& info) {
  SLabVM vm;
  const EStoreResult read = CHypervisorStore::FindVM(guid, vm);
  if (read == EStoreResult::kFailed) return kLabStoreFailed;
  if (read == EStoreResult::kMissing) return kLabVMNotFound;
  std::string error;
  if (InstanceUp(vm.instanceId, error) != 0) return kLabSiteDown;
  info.SetString(QSMServer::QVirtualMachineReq::kVMGuid, vm.guid);
  info.SetString(QSMServer::QVirtualMachineReq::kVMName, vm.name);
  info.SetString(QSMServer::QVirtualMachineReq::kHostName, vm.host);
  info.SetString(QSMServer::QVirtualMachineReq::kIpAddress, CHypervisorLab::ReportedIp(vm));
  info.SetInt32(QSMServer::QVirtualMachineReq::kPowerState, vm.poweredOn ? 1 : 0);
  return 0;
}

// The owner of a VM's client: the VM must be the client's.
int VMOwner(int userId, int clientId, const std::string& guid) {
  SLabVM vm;
  const EStoreResult read = CHypervisorStore::FindVM(guid, vm);
  if (read == EStoreResult::kFailed) return kLabStoreFailed;
  if (read == EStoreResult::kMissing) return kLabVMNotFound;
  if (clientId <= 0 || vm.clientId != clientId) return kLabBadRequest;
  return ClientProperties(clientId).setAttribute(ZN_PROP_VM_OWNER_USER_ID, std::to_string(userId)) == 0
             ? 0
             : kLabStoreFailed;
}

}  // namespace

void DescribeVM(const SLabVM& vm, const std::string& instanceHost, Ida::VirtualMachine& out) {
  CNMessageBase& entity = out.MutableMsg(VM::kEntity);
  entity.SetString(ZnEntities::VirtualMachineEntity::kName, vm.name);
  entity.SetString(ZnEntities::VirtualMachineEntity::kGuid, vm.guid);
  CNMessageBase& placement = out.MutableMsg(VM::kPlacement);
  if (!vm.placementXml.empty()) placement.Unserialize(vm.placementXml);
  placement.SetString(Ida::VMPlacement::kEsxHost, vm.host);
  placement.SetString(Ida::VMPlacement::kInstanceHostName, instanceHost);
  for (const std::string& d : vm.datastores) {
    CNMessageBase& datastore = out.AddMsg(VM::kDatastores);
    datastore.SetString(VirtualServer::VMDatastoreInfo::kDatastoreId, d);
    datastore.SetString(VirtualServer::VMDatastoreInfo::kDatastoreName, d);
  }
  for (const SLabNic& nic : vm.nics) {
    CNMessageBase& card = out.AddMsg(VM::kNetworkCards);
    card.SetString(Ida::NetworkCard::kNetworkName, nic.network);
    card.SetInt32(Ida::NetworkCard::kConnected, nic.connected ? 1 : 0);
  }
  out.SetInt32(VM::kPowerState, vm.poweredOn ? 1 : 0);
  out.SetInt32(VM::kToolsInstalled, vm.toolsInstalled ? 1 : 0);
  out.SetString(VM::kIpAddress, CHypervisorLab::ReportedIp(vm));
  if (!vm.size.empty()) {
    out.MutableMsg(VM::kInstanceType).SetString(ZnEntities::AmazonVMInstanceTypeEntity::kInstanceTypeName, vm.size);
  }
  CNMessageBase& disks = out.MutableMsg(VM::kHardDisks);
  for (int i = 0; i < vm.diskCount; ++i) {
    CNMessageBase& disk = disks.AddMsg(Ida::HardDisks::kDisks);
    disk.SetString(Ida::VHardDisk::kLabel, "disk-" + std::to_string(i));
    disk.SetInt64(Ida::VHardDisk::kSize, vm.diskSizeMB);
  }
  out.SetInt64(VM::kDiskCount, vm.diskCount);
}

void RegisterServices() {
  XMLHandler::RegisterHandler(EVGui::GetVirtualMachineDestinationsReq::kTypeId, Destinations);
  XMLHandler::RegisterHandler(EVGui::DiscoverVMDetailsReq::kTypeId, DiscoverSnapshots);
  CDBProcRegistry::Register("AppGetVSMemberServers", MemberServers);
  VmAuxOps::VMInfoHandlers().Register(VmAuxOps::kAnyVM, VMInfo);
  VmAuxOps::VMOwnerHandlers().Register(VmAuxOps::kAnyVM, VMOwner);
}

}  // namespace hvlab
