#include "array/ArrayLabSeed.h"

#include <algorithm>

#include "array/ArrayLab.h"
#include "array/ArrayLunStore.h"
#include "array/ArrayRelationshipStore.h"
#include "array/ReplicaGroupReportStore.h"
#include "array/SnapReplicationStore.h"
#include "jobsim/StoragePolicyStore.h"

namespace {

using Info = Api::SnapDRReplicationInfo;
using Volume = Api::DatastoreReplication;

bool Fail(std::string& error, const std::string& text) {
  error = text;
  return false;
}

std::string VolumeOf(const std::string& path) {
  const size_t colon = path.find(':');
  return colon == std::string::npos ? path : path.substr(colon + 1);
}

}  // namespace

Api::SnapDRReplicationInfo CArrayLabSeed::Replication(const SSeedSnapVM& vm) {
  Info info;
  info.SetInt32(Info::kReplicationId, vm.replicationId);
  info.SetString(Info::kSourceVMName, vm.name);
  info.SetString(Info::kSourceVMGuid, vm.guid);
  if (!vm.destinationName.empty()) info.SetString(Info::kDestinationVMName, vm.destinationName);
  if (!vm.destinationEsxHost.empty()) {
    info.MutableMsg(Info::kRestoreOptions).SetString(TMMsg::VMWAdvancedRestoreOptions::kEsxHost, vm.destinationEsxHost);
  }
  info.SetInt32(Info::kCopyId, vm.copyId);
  info.SetInt32(Info::kToolsInstalled, vm.toolsInstalled ? 1 : 0);
  CNMessageBase& source = info.MutableMsg(Info::kSourceEntity);
  source.SetInt32(ZnEntities::SubClientEntity::kSubclientId, vm.subclientId);
  source.SetInt32(ZnEntities::SubClientEntity::kClientId, vm.clientId);
  source.SetInt32(ZnEntities::SubClientEntity::kApplicationId, vm.applicationId);
  source.SetString(ZnEntities::SubClientEntity::kName, vm.name);
  if (vm.sourceInstanceId != 0) source.SetInt32(ZnEntities::SubClientEntity::kInstanceId, vm.sourceInstanceId);
  if (vm.destinationInstanceId != 0) {
    info.MutableMsg(Info::kDestinationEntity)
        .SetInt32(ZnEntities::SubClientEntity::kInstanceId, vm.destinationInstanceId);
  }
  info.TouchField(Info::kDatastoreReplications);
  for (const SSeedDatastore& ds : vm.datastores) {
    CNMessageBase& v = info.AddMsg(Info::kDatastoreReplications);
    v.MutableMsg(Volume::kSourceDatastore).SetString(VirtualServer::VMDatastoreInfo::kDatastoreName, ds.name);
    v.MutableMsg(Volume::kDestinationDatastore).SetString(VirtualServer::VMDatastoreInfo::kDatastoreName, ds.name);
    v.SetInt32(Volume::kReplicationId, vm.replicationId);
    if (ds.replicaGroupId != 0) v.SetInt32(Volume::kReplicaGroupId, ds.replicaGroupId);
    v.SetInt32(Volume::kRelationshipStatus, VOLUME_RELATIONSHIP_NORMAL);
    if (!ds.volume.empty() || ds.arrayNumber != 0) {
      CNMessageBase& sub = v.MutableMsg(Volume::kVolume);
      if (!ds.volume.empty()) sub.SetString(Api::SnapDRVolume::kVolumeName, ds.volume);
      if (ds.arrayNumber != 0) sub.SetInt32(Api::SnapDRVolume::kArrayNumber, ds.arrayNumber);
    }
  }
  return info;
}

bool CArrayLabSeed::AddVM(const SSeedSnapVM& vm) { return CSnapReplicationStore::Add(vm.drGroupId, Replication(vm)); }

bool CArrayLabSeed::AddReplicaGroup(const SSeedReplicaGroup& g) {
  SReplicaGroupRow row;
  row.spName = "SP" + std::to_string(g.storagePolicyId);
  row.copyName = "Copy" + std::to_string(g.copyId);
  row.copyType = "Snap Replica";
  row.subclientName = "Subclient" + std::to_string(g.subclientId);
  row.relationshipId = std::to_string(g.pairId);
  row.relationshipType = "mirror";
  row.sourcePath = g.sourcePath;
  row.sourceArray = g.sourceArray;
  row.targetPath = g.targetPath;
  row.targetArray = g.targetArray;
  row.subclientId = g.subclientId;
  row.copyId = g.copyId;
  row.replicaGroupId = g.replicaGroupId;
  row.storagePolicyId = g.storagePolicyId;
  row.defaultSPCopy = g.defaultCopyId;
  row.controlHostId = g.controlHostId;
  row.replicaPairId = g.pairId;
  if (!CReplicaGroupReportStore::Add(row)) return false;
  SLabRelationship existing;
  const EStoreResult had = CArrayRelationshipStore::Get(g.controlHostId, g.targetPath, existing);
  if (had == EStoreResult::kOk) return true;
  if (had == EStoreResult::kFailed) return false;
  SLabRelationship r;
  r.controlHostId = g.controlHostId;
  r.sourcePath = g.sourcePath;
  r.destPath = g.targetPath;
  r.mirrorState = g.mirrorState;
  if (!CArrayRelationshipStore::Add(r)) return false;
  for (const std::string& lun : g.mappedLuns) {
    if (!CArrayLunStore::Add(SLabLun{g.controlHostId, VolumeOf(g.targetPath), lun, true, false})) return false;
  }
  return true;
}

bool CArrayLabSeed::AddLab(const SSeedArrayLab& lab, std::string& error) {
  for (const SLabArray& array : lab.arrays) {
    if (!CArrayStore::Add(array)) return Fail(error, "cannot store array [" + array.name + "]");
  }
  SStoragePolicy policy;
  policy.policyId = lab.storagePolicyId;
  policy.copies = {SStorageCopy{lab.primaryCopyId, 1, true, true}, SStorageCopy{lab.arrayCopyId, 2, false, false}};
  if (!CStoragePolicyStore::PutPolicy(policy)) {
    return Fail(error, "cannot store storage policy [" + std::to_string(lab.storagePolicyId) + "]");
  }
  // Plain backups: their data is on the primary copy, where the aux copy
  // to the array copy takes it from. A storage-array DR job's copy step is
  // not per copy task, so it runs no backup copy that would first move a
  // snap backup's data there.
  std::vector<int> subclients;
  for (const SSeedSnapVM& vm : lab.vms) {
    if (std::find(subclients.begin(), subclients.end(), vm.subclientId) != subclients.end()) continue;
    subclients.push_back(vm.subclientId);
    if (!CStoragePolicyStore::AssignSubclient(SSubclientPolicy{vm.subclientId, lab.storagePolicyId, false})) {
      return Fail(error, "cannot assign subclient [" + std::to_string(vm.subclientId) + "] its storage policy");
    }
  }
  for (SSeedReplicaGroup group : lab.replicaGroups) {
    group.copyId = lab.arrayCopyId;
    group.storagePolicyId = lab.storagePolicyId;
    group.defaultCopyId = lab.primaryCopyId;
    if (!AddReplicaGroup(group)) {
      return Fail(error, "cannot store replica group [" + std::to_string(group.replicaGroupId) + "]");
    }
  }
  for (SSeedSnapVM vm : lab.vms) {
    vm.copyId = lab.arrayCopyId;
    if (!AddVM(vm)) {
      return Fail(error, "cannot store storage-array replication [" + std::to_string(vm.replicationId) + "]");
    }
  }
  if (!CArrayLab::SnapshotCopied(lab.arrayCopyId, lab.firstSnapshotJobId)) {
    return Fail(error, "cannot store the afiles of backup job [" + std::to_string(lab.firstSnapshotJobId) + "]");
  }
  return true;
}
