// The records, replica groups and snapshot mounts of the storage-array data
// manager, and the statuses it stores back.
#include "SnapArrayDRReplDataMgr.h"

#include "Db/Proc/AppGetSnapDRArchiveFiles.h"
#include "Db/Proc/MM_SMNetAppOpenReplReport.h"
#include "services/DRAppManager.h"
#include "engine/DRHelper.h"
#include "engine/ZnCriticalSectionLock.h"

namespace {

using Info = Api::SnapDRReplicationInfo;
using Volume = Api::DatastoreReplication;

// The read uncommitted isolation of the procedure reads.
const int kReadIsolation = 4;
// getNextRow: a row was delivered / the rows ended.
const int kRowFetched = 0;
const int kRowsEnded = 100;

TMMsg::DROrchestrationType DRType(int32_t type) { return static_cast<TMMsg::DROrchestrationType>(type); }

// A record's volumes of one replica group: the group takes the
// replication, and the destination volume and array number a volume's
// sub-record names (a later volume overrides an earlier one).
void TakeVolumes(SSMReplicaGroup& group, int64_t replId, const std::vector<Volume>& volumes) {
  for (const Volume& v : volumes) {
    if (!v.Has(Volume::kReplicaGroupId) || v.GetInt32(Volume::kReplicaGroupId) != group.getReplicaGroupId()) continue;
    group.ReplicationIds().insert(static_cast<int>(replId));
    if (!v.Has(Volume::kVolume)) continue;
    const CNMessageBase& sub = v.GetMsg(Volume::kVolume);
    if (sub.Has(Api::SnapDRVolume::kVolumeName) && !sub.GetString(Api::SnapDRVolume::kVolumeName).empty()) {
      group.updateDestVolume(sub.GetString(Api::SnapDRVolume::kVolumeName));
    }
    if (sub.Has(Api::SnapDRVolume::kArrayNumber) && sub.GetInt32(Api::SnapDRVolume::kArrayNumber) > 0) {
      group.updateArrayNum(sub.GetInt32(Api::SnapDRVolume::kArrayNumber));
    }
  }
}

}  // namespace

CSnapArrayDRReplDataMgr::CSnapArrayDRReplDataMgr(SDataSourceInfo& info) : CAppReplDataMgr(info) {}

CSnapArrayDRReplDataMgr::~CSnapArrayDRReplDataMgr() {}

SnapDRRepInfo* CSnapArrayDRReplDataMgr::Find(int64_t replId) {
  ZnCriticalSectionLock lock(&m_loadLock);
  auto it = m_snapRepInfoMap.find(replId);
  return it == m_snapRepInfoMap.end() ? nullptr : &it->second;
}

std::vector<std::pair<int64_t, SnapDRRepInfo*>> CSnapArrayDRReplDataMgr::Records() {
  ZnCriticalSectionLock lock(&m_loadLock);
  std::vector<std::pair<int64_t, SnapDRRepInfo*>> out;
  for (auto& entry : m_snapRepInfoMap) out.emplace_back(entry.first, &entry.second);
  return out;
}

IRepInfo* CSnapArrayDRReplDataMgr::FetchReplData(SDataSourceInfo& info) { return Find(info.replId); }

bool CSnapArrayDRReplDataMgr::LoadData(SDataSourceInfo& info) {
  ZnCriticalSectionLock lock(&m_loadLock);
  Api::GetSnapDRReplicationReq req;
  req.TouchField(Api::GetSnapDRReplicationReq::kReplicationIds);
  for (int32_t id : info.replIds) req.AddInt32(Api::GetSnapDRReplicationReq::kReplicationIds, id);
  req.MutableMsg(Api::GetSnapDRReplicationReq::kVirtualAppEntity)
      .SetInt32(ZnEntities::VirtualAppEntity::kVirtualAppId, info.drGroupId);
  std::string output;
  if (!CDRAppManager::ExecuteStoredProcedure(req, output, Api::GetSnapDRReplicationReq::kTypeId)) {
    m_event.Error("LoadData", "Error executing stored procedure Tag_GetSnapDRReplicationReq");
    return false;
  }
  m_event.Debug("LoadData", "Response for vAppId [%d] - %s", info.drGroupId, output.c_str());
  Api::GetSnapDRReplicationResp resp;
  std::string error;
  if (!resp.Unserialize(output, &error)) {
    m_event.Error("LoadData", "Failed to read the snapshot replications of vAppId [%d]: [%s]", info.drGroupId,
                  error.c_str());
    return false;
  }
  for (size_t i = 0; i < resp.ListSize(Api::GetSnapDRReplicationResp::kReplications); ++i) {
    const Info& entry = resp.GetListMsgAs<Info>(Api::GetSnapDRReplicationResp::kReplications, i);
    if (!entry.Has(Info::kReplicationId)) continue;
    const int replId = entry.GetInt32(Info::kReplicationId);
    // Into the entry, never a new one: contexts hold the record's address.
    SnapDRRepInfo& rep = m_snapRepInfoMap[replId];
    rep = SnapDRRepInfo(entry);
    // The fresh record has no mount information from a query any more.
    m_mountCached.erase(replId);
    const std::string guid = entry.Has(Info::kSourceVMGuid) ? entry.GetString(Info::kSourceVMGuid) : std::string();
    if (!guid.empty()) m_guidIndex[guid] = replId;
    m_event.Debug("LoadData",
                  " ReplicationId [%d]  Source VM %-25s ->  Volumes [%zu]  Datastores [%zu]  LastSyncedBkpJob [%lu]",
                  replId, rep.GetSourceName().c_str(), entry.ListSize(Info::kDatastoreReplications),
                  static_cast<size_t>(rep.GetSourceDSCount()),
                  static_cast<unsigned long>(rep.GetLastSyncedJobId()));
  }
  return true;
}

bool CSnapArrayDRReplDataMgr::ReloadData(SDataSourceInfo& info) { return LoadData(info); }

// ---- replica groups ----

bool CSnapArrayDRReplDataMgr::QuerySnapReplicaInfo(SnapDRContext& ctx) {
  ZnCriticalSectionLock lock(&m_snapLock);
  TMMsg::Entity entity;
  entity.SetInt32(TMMsg::Entity::kCopyId, ctx.copyId);
  std::string xml;
  if (!entity.serializeUTF8(xml, false)) {
    m_event.Error("QuerySnapReplicaInfo", "Failed to serialize TMMsg::Entity");
    return false;
  }
  MM_SMNetAppOpenReplReport proc(nullptr);
  const MM_SMNetAppOpenReplReport_t* row = proc.getDataPtr();
  proc.setValues(xml.c_str());
  proc.setIsolationType(kReadIsolation);
  int state = 0;
  int rc = kRowFetched;
  while ((rc = getNextRow(&proc, &state, -1, 0)) == kRowFetched) {
    const int groupId = row->o_replicaGroupId;
    auto loaded = m_replicaGroups.find(groupId);
    // An empty stand-in that GetReplicaGroups made is not a loaded group.
    if (ctx.replicaGroupIds.count(groupId) == 0 ||
        (loaded != m_replicaGroups.end() && loaded->second.getReplicaGroupId() == groupId)) {
      continue;
    }
    SSMReplicaGroup group(groupId, row->o_copyId, row->o_subclientId);
    group.setSourceArray(row->o_sourceArray);
    group.setTargetArray(row->o_targetArray);
    group.setDestVolume(row->o_targetPath);
    group.setSourceVolume(row->o_sourcePath);
    group.setSPId(row->o_storagePolicyId);
    group.setDefaultSPCopyId(row->o_defaultSPCopy);
    group.setDestCntrlHostId(row->o_controlHostId);
    group.setPairId(row->o_replicaPairId);
    for (const auto& rec : Records()) TakeVolumes(group, rec.first, rec.second->GetDatastoreVolumes());
    m_event.Debug("QuerySnapReplicaInfo", "ReplicaGroup [%d] => DestVol [%s] DestArray [%d] ReplList [%s]", groupId,
                  group.getDestVolume().c_str(), group.getDestCntrlHostId(),
                  DRHelper::GetCollCSVStr(group.ReplicationIds()).c_str());
    m_replicaGroups[groupId] = group;
  }
  if (rc != kRowsEnded) {
    m_event.Error("QuerySnapReplicaInfo", "Failed to get data from db for copyId [%d]", ctx.copyId);
    return false;
  }
  return !m_replicaGroups.empty();
}

bool CSnapArrayDRReplDataMgr::GetStorageDetails(int copyId, int, SDRStorage& storage) {
  storage.copyId = copyId;
  ZnCriticalSectionLock lock(&m_snapLock);
  for (const auto& entry : m_replicaGroups) {
    if (entry.second.getCopyId() != copyId) continue;
    storage.spId = entry.second.getSPId();
    storage.defaultCopyId = entry.second.getDefaultSPCopyId();
    return true;
  }
  return false;
}

bool CSnapArrayDRReplDataMgr::GetReplicaGroups(SDataSourceInfo& info, std::map<int, SSMReplicaGroup*>& groups) {
  groups.clear();
  ZnCriticalSectionLock lock(&m_snapLock);
  for (int32_t replId : info.replIds) {
    SnapDRRepInfo* rep = Find(replId);
    if (rep == nullptr) continue;
    for (int groupId : rep->GetReplicaGroupIds()) {
      if (groups.count(groupId) != 0) continue;
      auto it = m_replicaGroups.find(groupId);
      if (it == m_replicaGroups.end()) it = m_replicaGroups.emplace(groupId, SSMReplicaGroup()).first;
      groups[groupId] = &it->second;
    }
  }
  return !groups.empty();
}

// ---- snapshot mounts ----

bool CSnapArrayDRReplDataMgr::AllMountsCached(const SnapDRContext& ctx) {
  ZnCriticalSectionLock lock(&m_loadLock);
  if (ctx.replIds.empty()) return false;
  for (int id : ctx.replIds) {
    if (m_mountCached.count(id) == 0) return false;
  }
  return true;
}

bool CSnapArrayDRReplDataMgr::StoreMountRow(const SnapDRContext& ctx, const std::string& vmGuid,
                                            const SDRMountInfo& mount, int& replId) {
  ZnCriticalSectionLock lock(&m_loadLock);
  auto indexed = m_guidIndex.find(vmGuid);
  if (indexed == m_guidIndex.end()) return false;
  replId = indexed->second;
  auto rec = m_snapRepInfoMap.find(replId);
  if (rec == m_snapRepInfoMap.end() || ctx.replIds.count(replId) == 0) return false;
  rec->second.SetMountInfo(mount);
  m_mountCached.insert(replId);
  return true;
}

bool CSnapArrayDRReplDataMgr::QueryMountAfiles(SnapDRContext& ctx, bool reQuery) {
  ZnCriticalSectionLock lock(&m_snapLock);
  const bool cached = AllMountsCached(ctx);
  m_event.Debug("QueryMountAfiles", "Request to QueryMountAfiles - reQuery [%d] cached [%d]", reQuery ? 1 : 0,
                cached ? 1 : 0);
  if (cached && !reQuery) return true;
  Api::GetSnapDRAfiles req;
  req.SetInt32(Api::GetSnapDRAfiles::kSnapMount, ctx.snapMount ? 1 : 0);
  req.TouchField(Api::GetSnapDRAfiles::kMasterJobIds);
  for (uint64_t id : ctx.masterJobIds) req.AddInt64(Api::GetSnapDRAfiles::kMasterJobIds, static_cast<int64_t>(id));
  std::string xml;
  if (!req.serializeUTF8(xml, true)) {
    m_event.Error("QueryMountAfiles", "Failed to serialize Api::GetSnapDRAfiles");
    return false;
  }
  m_event.Debug("QueryMountAfiles", "Exec AppGetSnapDRArchiveFiles with inputs [%d] [%d] [%s]", ctx.appId, ctx.copyId,
                xml.c_str());
  AppGetSnapDRArchiveFiles proc(nullptr);
  const AppGetSnapDRArchiveFiles_t* row = proc.getDataPtr();
  proc.setValues(ctx.appId, ctx.copyId, xml.c_str());
  proc.setIsolationType(kReadIsolation);
  int stored = 0;
  int state = 0;
  int rc = kRowFetched;
  while ((rc = getNextRow(&proc, &state, -1, 0)) == kRowFetched) {
    SDRMountInfo mount;
    mount.afileId = row->o_afileId;
    mount.masterJobId = static_cast<uint64_t>(static_cast<int64_t>(row->o_masterJobId));
    mount.jobId = static_cast<uint64_t>(static_cast<int64_t>(row->o_jobId));
    mount.firstText = row->o_vmName;
    mount.secondText = row->o_vmName;
    mount.vmClientId = row->o_vmClientId;
    mount.vmAppId = row->o_vmAppId;
    mount.mountStatus = row->o_mountStatus;
    mount.mountHostId = row->o_mountHostId;
    mount.failoverMount = row->o_isFailoverMount != 0;
    int replId = 0;
    if (!StoreMountRow(ctx, row->o_vmGuid, mount, replId)) continue;
    m_event.Debug("QueryMountAfiles", "Mount info afile [%d] mountStatus [%d] mountHost [%d] masterJob [%lu] for replId [%d]",
                  row->o_afileId, mount.mountStatus, mount.mountHostId, static_cast<unsigned long>(mount.masterJobId),
                  replId);
    ++stored;
  }
  if (rc != kRowsEnded) {
    m_event.Error("QueryMountAfiles", "Failed to get data from db for appId [%d] and copyId [%d]", ctx.appId,
                  ctx.copyId);
    return false;
  }
  return stored > 0;
}

// ---- statuses ----

bool CSnapArrayDRReplDataMgr::CheckTestFailoverVMMount() {
  for (const auto& rec : Records()) {
    const App::DRTestFailoverStatus status = rec.second->GetTestFailoverStatus();
    if (status > 0 && status != App::DR_TEST_FAILOVER_STATUS_FAILED) return true;
  }
  return false;
}

bool CSnapArrayDRReplDataMgr::UpdateStatus(SDataSourceInfo& info) {
  const TMMsg::DROrchestrationType type = DRType(m_drType);
  if (DRHelper::IsTestFailoverType(type)) {
    return UpdateTestFailoverStatus(info, DRHelper::GetTestFailoverStatus(type, info.status));
  }
  const App::VSAFailoverStatus status = DRHelper::GetFailoverStatus(type, info.status);
  if (status == App::VSA_FAILOVER_STATUS_NONE) return true;
  return UpdateFailoverStatus(info, status);
}

bool CSnapArrayDRReplDataMgr::IsDRComplete(SDataSourceInfo& info) {
  ZnCriticalSectionLock lock(&m_updateLock);
  const TMMsg::DROrchestrationType type = DRType(m_drType);
  const Api::VirtualAppPhaseState none = static_cast<Api::VirtualAppPhaseState>(0);
  SnapDRRepInfo* rep = Find(info.replId);
  if (DRHelper::IsTestFailoverType(type)) {
    const int status = rep != nullptr ? rep->GetTestFailoverStatus() : 0;
    return status == DRHelper::GetTestFailoverStatus(type, none);
  }
  const int status = rep != nullptr ? rep->GetFailoverStatus() : 0;
  return status == DRHelper::GetFailoverStatus(type, none);
}

bool CSnapArrayDRReplDataMgr::UpdateFailoverStatus(SDataSourceInfo& info, App::VSAFailoverStatus status) {
  ZnCriticalSectionLock lock(&m_updateLock);
  SnapDRRepInfo* rep = Find(info.replId);
  if (rep == nullptr) {
    m_event.Error("UpdateFailoverStatus", "Replication [%d] is not loaded; failover status [%d] not stored",
                  info.replId, static_cast<int>(status));
    return false;
  }
  rep->setFailoverStatus(status);
  rep->SetLastDRJobId(static_cast<int64_t>(m_jobId));
  m_event.Debug("UpdateFailoverStatus", "[%s] for replication [%d] VM [%s]",
                DRHelper::GetVSAFailoverStatusStr(status).c_str(), rep->GetReplId(), rep->GetSourceName().c_str());
  return UpdateDRStatus(info, *rep);
}

bool CSnapArrayDRReplDataMgr::UpdateTestFailoverStatus(SDataSourceInfo& info, App::DRTestFailoverStatus status) {
  ZnCriticalSectionLock lock(&m_updateLock);
  SnapDRRepInfo* rep = Find(info.replId);
  if (rep == nullptr) {
    m_event.Error("UpdateTestFailoverStatus", "Replication [%d] is not loaded; test failover status [%d] not stored",
                  info.replId, static_cast<int>(status));
    return false;
  }
  rep->setTestFailoverStatus(status);
  rep->SetLastDRJobId(static_cast<int64_t>(m_jobId));
  rep->SetLastTestDRJobId(static_cast<int64_t>(m_jobId));
  m_event.Debug("UpdateTestFailoverStatus", "[%s] for replication [%d] VM [%s]",
                DRHelper::GetDRTestFailoverStatusStr(status).c_str(), rep->GetReplId(), rep->GetSourceName().c_str());
  return UpdateDRStatus(info, *rep);
}

bool CSnapArrayDRReplDataMgr::UpdateDRStatus(SDataSourceInfo& info, SnapDRRepInfo& rep) {
  ZnCriticalSectionLock lock(&m_updateLock);
  Api::SetSnapDRReplicationReq req;
  req.MutableMsg(Api::SetSnapDRReplicationReq::kVirtualAppEntity)
      .SetInt32(ZnEntities::VirtualAppEntity::kVirtualAppId, info.drGroupId);
  req.AppendMsg(Api::SetSnapDRReplicationReq::kReplications, rep.GetRepInfo());
  std::string output;
  if (!CDRAppManager::ExecuteStoredProcedure(req, output, Api::SetSnapDRReplicationReq::kTypeId)) {
    m_event.Error("UpdateDRStatus", "Failed to store the status of replication [%d] of vAppId [%d]", info.replId,
                  info.drGroupId);
    return false;
  }
  m_event.DebugLvl(2, "UpdateDRStatus", "Response for status udpate for repl [%d] - %s", info.replId, output.c_str());
  return true;
}
