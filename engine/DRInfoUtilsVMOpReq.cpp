// What every VM operation request carries about its machine, the VM
// selection and proxies of a VM backup, and the facts read from a VM's index
// metadata.
#include <stdint.h>
#include <strings.h>

#include "DRHelper.h"
#include "DRInfo.h"
#include "DRInfoUtils.h"
#include "IRepInfo.h"
#include "appmgr/ClientProperties.h"
#include "log/EvEvent.h"
#include "services/DRAppManager.h"
#include "vm/VmAuxOps.h"
#include "vsa/VSARepInfo.h"

namespace {

using Instance = ZnEntities::PolicyInstanceFields;
using Disk = Ida::VHardDisk;

IRepInfo* RepOf(CDRInfo* info) { return info != nullptr ? info->GetRepInfo() : nullptr; }

CDRAppManager* AppMgrOf(CDRInfo* info) { return info != nullptr ? info->GetAppMgrPtr() : nullptr; }

Ida::VMPlacement& PlacementOf(Ida::VMOpReq& req) {
  return req.MutableMsgAs<Ida::VirtualMachine>(Ida::VMOpReq::kVirtualMachine)
      .MutableMsgAs<Ida::VMPlacement>(Ida::VirtualMachine::kPlacement);
}

// Region and tenant of a vendor-4 or vendor-12 destination.
bool SetRegionAndTenant(CDRAppManager& appMgr, VSARepInfo& vsa, Ida::VMPlacement& placement, const EvEvent& event) {
  std::string esxHost, datastore, datacenter, cluster, newVMName;
  if (!appMgr.GetDatacenterInfoFromTask(vsa.GetTaskId(), vsa.GetSourceName(), esxHost, datastore, datacenter, cluster,
                                        newVMName)) {
    event.Error("PopulateAdditionalVMOpReq", "Failed to query tenant and region from recovery target");
    return false;
  }
  std::string region = datacenter;
  const std::string tenant = cluster;
  if (vsa.GetDestinationVendor() == Common::VS_VENDOR_4) {
    // An instance that names its own host (not the placeholder "default")
    // is reached in that region.
    const std::string& host = placement.GetString(Ida::VMPlacement::kInstanceHostName);
    if (!host.empty() && strcasecmp(host.c_str(), "default") != 0) region = host;
  }
  if (tenant.empty() || region.empty()) event.Error("PopulateAdditionalVMOpReq", "Tenant or region are empty");
  placement.SetString(Ida::VMPlacement::kCluster, tenant);
  placement.SetString(Ida::VMPlacement::kDatacenter, region);
  return true;
}

// The project a vendor-16 source VM belongs to, from its client.
bool SetSourceProjectId(CDRAppManager& appMgr, VSARepInfo& vsa, Ida::VMPlacement& placement, const EvEvent& event) {
  int clientId = 0;
  const std::string guid = vsa.GetSourceGuid();
  if (!appMgr.QueryClientIdWithClientUUID(guid, clientId)) {
    event.Error("PopulateAdditionalVMOpReq", "Failed to retrieve clientId [%d] with instance UUID [%s]", clientId,
                guid.c_str());
    return false;
  }
  std::string projectId;
  ClientProperties(clientId).getVSAProjectId(projectId);
  if (projectId.empty()) {
    event.Error("PopulateAdditionalVMOpReq", "Failed to retrieve projectId");
    return false;
  }
  event.Debug("PopulateAdditionalVMOpReq", "Source ProjectId [%s] retrieved.", projectId.c_str());
  placement.SetString(Ida::VMPlacement::kProjectId, projectId);
  return true;
}

}  // namespace

bool DRInfoUtils::PopulateVMOpReq(Ida::VMOpReq& req, Api::DRSite& site, CDRInfo* info) {
  PopulateNameandGUID(&req.MutableMsgAs<Ida::VirtualMachine>(Ida::VMOpReq::kVirtualMachine)
                           .MutableMsgAs<ZnEntities::VirtualMachineEntity>(Ida::VirtualMachine::kEntity),
                      site, info);
  PopulatePolicyType(req, site, info);
  const int64_t instanceId = req.GetMsg(Ida::VMOpReq::kInstance).GetInt64(Instance::kInstanceId);
  std::string hostName;
  int dbInstanceId = 0;
  if (!ToDBInstanceId(instanceId, dbInstanceId) || !CDRAppManager::QueryHostName(dbInstanceId, hostName)) {
    return false;
  }
  PlacementOf(req).SetString(Ida::VMPlacement::kInstanceHostName, hostName);
  PopulateAdditionalVMOpReq(info, site, req);
  return true;
}

bool DRInfoUtils::ToDBInstanceId(int64_t instanceId, int& out) {
  if (instanceId < INT32_MIN || instanceId > INT32_MAX) return false;
  out = static_cast<int>(instanceId);
  return true;
}

void DRInfoUtils::PopulateNameandGUID(ZnEntities::VirtualMachineEntity* entity, Api::DRSite site, CDRInfo* info) {
  IRepInfo* rep = RepOf(info);
  if (entity == nullptr || rep == nullptr) return;
  if (site == Api::DR_SITE_SOURCE) {
    entity->SetString(ZnEntities::VirtualMachineEntity::kName, rep->GetSourceName());
    entity->SetString(ZnEntities::VirtualMachineEntity::kGuid, rep->GetSourceGuid());
  } else if (site == Api::DR_SITE_DESTINATION) {
    entity->SetString(ZnEntities::VirtualMachineEntity::kName, rep->GetDestinationName());
    entity->SetString(ZnEntities::VirtualMachineEntity::kGuid, rep->GetDestinationGuid());
  }
}

void DRInfoUtils::PopulatePolicyType(Ida::VMOpReq& req, Api::DRSite site, CDRInfo* info) {
  int64_t policyType = 0;
  VSARepInfo* vsa = GetVSARepInfo(info);
  if (vsa != nullptr && req.Has(Ida::VMOpReq::kInstance)) {
    if (site == Api::DR_SITE_SOURCE) {
      policyType = DRHelper::GetPolicyType(static_cast<Common::VSVendor>(vsa->GetSourceVendor()));
    } else if (site == Api::DR_SITE_DESTINATION) {
      policyType = DRHelper::GetPolicyType(static_cast<Common::VSVendor>(vsa->GetDestinationVendor()));
    }
  }
  req.MutableMsg(Ida::VMOpReq::kInstance).SetInt64(Instance::kPolicyType, policyType);
}

bool DRInfoUtils::PopulateAdditionalVMOpReq(CDRInfo* info, Api::DRSite& site, Ida::VMOpReq& req) {
  VSARepInfo* vsa = GetVSARepInfo(info);
  CDRAppManager* appMgr = AppMgrOf(info);
  if (vsa == nullptr || appMgr == nullptr) return false;
  EvEvent event;
  Ida::VMPlacement& placement = PlacementOf(req);
  const int32_t dest = vsa->GetDestinationVendor();
  if (dest == Common::VS_VENDOR_4 || dest == Common::VS_VENDOR_12) {
    if (!SetRegionAndTenant(*appMgr, *vsa, placement, event)) return false;
  } else if (dest == Common::VS_VENDOR_16) {
    std::string projectId;
    appMgr->QueryDRProjectId(vsa->GetTaskId(), vsa->GetSourceName(), vsa->GetSourceGuid(), projectId);
    event.Debug("PopulateAdditionalVMOpReq", "DR ProjectId [%s] retrieved.", projectId.c_str());
    if (projectId.empty()) {
      event.Error("PopulateAdditionalVMOpReq", "Failed to retrieve projectId");
      return false;
    }
    placement.SetString(Ida::VMPlacement::kProjectId, projectId);
  } else {
    return true;
  }
  // A vendor-16 source VM keeps its own project at the source.
  if (vsa->GetSourceVendor() == Common::VS_VENDOR_16 && site == Api::DR_SITE_SOURCE) {
    return SetSourceProjectId(*appMgr, *vsa, placement, event);
  }
  return true;
}

bool DRInfoUtils::PopulateVMOpReqToFillDiskDetails(CDRInfo* info, Ida::VMOpReq& req) {
  VSARepInfo* vsa = GetVSARepInfo(info);
  std::vector<App::VSAReplicationTrakingIdInfo> trackingIds;
  if (vsa == nullptr || !vsa->GetTrackingIds(trackingIds)) return false;
  Ida::HardDisks disks;
  int64_t count = 0;
  for (App::VSAReplicationTrakingIdInfo& entry : trackingIds) {
    Disk& disk = disks.AddMsgAs<Disk>(Ida::HardDisks::kDisks);
    disk.SetString(Disk::kDiskId, entry.GetString(App::VSAReplicationTrakingIdInfo::kTrackingId));
    disk.MutableMsg(Disk::kIntegritySnapshot).SetString(Disk::kLabel, GetSnapshotId(info, entry));
    disk.SetString(Disk::kTrackedSnapshot, entry.GetString(App::VSAReplicationTrakingIdInfo::kIntegritySnapshotFamily5));
    disk.SetInt64(Disk::kValue6, 3);
    ++count;
  }
  Ida::VirtualMachine& vm = req.MutableMsgAs<Ida::VirtualMachine>(Ida::VMOpReq::kVirtualMachine);
  vm.SetMsg(Ida::VirtualMachine::kHardDisks, disks);
  vm.SetInt64(Ida::VirtualMachine::kDiskCount, count);
  PopulateVMOpReqToFillAdditionalDiskDetails(info, req);
  return true;
}

bool DRInfoUtils::PopulateVMOpReqToFillAdditionalDiskDetails(CDRInfo* info, Ida::VMOpReq& req) {
  VSARepInfo* vsa = GetVSARepInfo(info);
  if (vsa == nullptr) return false;
  const CNMessageBase& current = req.GetMsg(Ida::VMOpReq::kVirtualMachine).GetMsg(Ida::VirtualMachine::kHardDisks);
  if (current.ListSize(Ida::HardDisks::kDisks) == 0) return false;
  EvEvent event;
  CNMessageBase& disks =
      req.MutableMsg(Ida::VMOpReq::kVirtualMachine).MutableMsg(Ida::VirtualMachine::kHardDisks);
  const Ida::VirtualMachine source = vsa->GetVMInfo();
  const CNMessageBase& sourceDisks = source.GetMsg(Ida::VirtualMachine::kHardDisks);
  for (size_t i = 0; i < sourceDisks.ListSize(Ida::HardDisks::kDisks); ++i) {
    const CNMessageBase& from = sourceDisks.GetListMsg(Ida::HardDisks::kDisks, i);
    const std::string& id = from.GetString(Disk::kDiskId);
    for (size_t j = 0; j < disks.ListSize(Ida::HardDisks::kDisks); ++j) {
      CNMessageBase& disk = disks.MutableListMsg(Ida::HardDisks::kDisks, j);
      if (disk.GetString(Disk::kDiskId) != id) continue;
      const int64_t size = from.GetInt64(Disk::kSize);
      disk.SetString(Disk::kParentDiskName, id);
      disk.SetString(Disk::kLabel, id);
      disk.SetInt64(Disk::kCloneSize, size);
      disk.SetInt64(Disk::kSize, size);
      event.Debug("PopulateVMOpReqToFillAdditionalDiskDetails",
                  "Set Parent Disk name [%s], Disk label [%s] Disk size [%lld] for clone VM",
                  id.c_str(), id.c_str(), static_cast<long long>(size));
    }
  }
  return true;
}

bool DRInfoUtils::PopulateAdditionalVMSnapOpReq(CDRInfo* info, Ida::VMOpReq& req) {
  VSARepInfo* vsa = GetVSARepInfo(info);
  if (vsa == nullptr) return false;
  if (vsa->GetDestinationVendor() == Common::VS_VENDOR_16) PopulateVMOpReqToFillDiskDetails(info, req);
  return true;
}

bool DRInfoUtils::GetVSABackupOptions(TMMsg::VSABkpOption& options, ApplicationId& /*appId*/,
                                      std::vector<CDRInfo*>& list) {
  options.TouchField(TMMsg::VSABkpOption::kSelectedVMs);
  for (CDRInfo* info : list) {
    IRepInfo* rep = RepOf(info);
    if (rep == nullptr) continue;
    TMMsg::VSASelectiveVMInfo& vm = options.AddMsgAs<TMMsg::VSASelectiveVMInfo>(TMMsg::VSABkpOption::kSelectedVMs);
    vm.SetString(TMMsg::VSASelectiveVMInfo::kVMGuid, rep->GetSourceGuid());
    vm.SetInt64(TMMsg::VSASelectiveVMInfo::kReplicationId, rep->GetReplId());
  }
  options.SetInt64(TMMsg::VSABkpOption::kField2, 0);
  options.SetInt64(TMMsg::VSABkpOption::kField1, 0);
  return true;
}

bool DRInfoUtils::SetProxiesForBackup(TMMsg::VSABkpOption& options, std::vector<CDRInfo*>& list) {
  EvEvent event;
  if (list.empty()) {
    event.Error("SetProxiesForBackup", "No VM to choose the proxies for");
    return false;
  }
  CDRInfo* info = list.front();
  VSARepInfo* vsa = GetVSARepInfo(info);
  if (vsa == nullptr) return false;
  CNMessageBase& servers = options.MutableMsg(TMMsg::VSABkpOption::kProxies);
  servers.TouchField(App::MemberServerListFields::kMemberServers);
  const bool automatic =
      vsa->GetDestinationVendor() == Common::VS_VENDOR_4 || IsProxySelectionAutomaticSetInAllocPolicy(info);
  if (automatic) {
    const long instanceId = vsa->GetDestInstanceId();
    event.Debug("SetProxiesForBackup", "Fetching member servers configured at instance lvl for dest instance Id [%ld]",
                instanceId);
    int dbInstanceId = 0;
    if (!ToDBInstanceId(instanceId, dbInstanceId)) {
      event.Error("SetProxiesForBackup", "Destination instance Id [%ld] is beyond the ids the database holds",
                  instanceId);
      return false;
    }
    CDRAppManager* appMgr = AppMgrOf(info);
    std::vector<App::MemberServer> found;
    const bool ok = appMgr != nullptr && appMgr->QueryMemberServersForInstance(dbInstanceId, found);
    for (const App::MemberServer& server : found) servers.AppendMsg(App::MemberServerListFields::kMemberServers, server);
    return ok;
  }
  CNMessageBase& entity = servers.AddMsg(App::MemberServerListFields::kMemberServers)
                              .MutableMsg(App::MemberServer::kClientEntity);
  entity.SetInt64(ZnEntities::GenericEntity::kClientId, vsa->GetDestProxyId());
  entity.SetString(ZnEntities::GenericEntity::kClientName, vsa->GetDestProxyName());
  return true;
}

std::string DRInfoUtils::GetDatastoreFromIndex(CDRInfo* info, IdxMetadata::VirtualServerIdxMetaData* metadata) {
  if (metadata == nullptr) return std::string();
  if (IsSiteVendor(info, Api::DR_SITE_SOURCE, Common::VS_VENDOR_5) && IsManagedVM(info, metadata)) {
    const std::string& datacenter = metadata->GetString(IdxMetadata::VirtualServerIdxMetaData::kDatacenter);
    std::vector<EVGui::VMDataStoreInfo> datastores;
    if (GetDatastoresFromDatacenter(info, datacenter, Api::DR_SITE_SOURCE, datastores) && !datastores.empty()) {
      const std::string& first = datastores.front().GetString(EVGui::VMDataStoreInfo::kDatastoreName);
      EvEvent event;
      event.Debug("GetDatastoreFromIndex", "First datastore selected [%s] from this Datacenter [%s] at site [SOURCE]",
                  first.c_str(), datacenter.c_str());
      return first;
    }
  }
  return metadata->GetString(IdxMetadata::VirtualServerIdxMetaData::kDatastore);
}

bool DRInfoUtils::IsManagedVM(CDRInfo* info, IdxMetadata::VirtualServerIdxMetaData* metadata) {
  bool managed = false;
  if (metadata != nullptr && IsSiteVendor(info, Api::DR_SITE_SOURCE, Common::VS_VENDOR_5) &&
      metadata->Has(IdxMetadata::VirtualServerIdxMetaData::kManagedVM)) {
    managed = metadata->GetInt64(IdxMetadata::VirtualServerIdxMetaData::kManagedVM) != 0;
  }
  EvEvent event;
  event.Debug("IsManagedVM", "Managed VM option [%d] is set", managed ? 1 : 0);
  return managed;
}

bool DRInfoUtils::GetRestoreAsManagedVM(CDRInfo* info, IdxMetadata::VirtualServerIdxMetaData* metadata) {
  IRepInfo* rep = RepOf(info);
  CDRAppManager* appMgr = AppMgrOf(info);
  const bool managed = rep != nullptr && appMgr != nullptr &&
                       appMgr->QueryRestoreAsManagedVMFromTarget(rep->GetTaskId(), rep->GetTargetId()) &&
                       IsManagedVM(info, metadata);
  EvEvent event;
  event.Debug("GetRestoreAsManagedVM", "Restore As Managed VM option [%d] is set", managed ? 1 : 0);
  return managed;
}

bool DRInfoUtils::IsVMPoweredOn(const std::string& guid, bool& on) {
  QSMServer::QVirtualMachineReq vm;
  const int failed = guid.empty() ? -1 : VmAuxOps::getVMInfo(guid, vm);
  if (failed != 0) {
    EvEvent().Debug("IsVMPoweredOn", "Cannot read the power state of VM [%s]: [%d]", guid.c_str(), failed);
    return false;
  }
  on = vm.GetInt32(QSMServer::QVirtualMachineReq::kPowerState) == 1;
  return true;
}
