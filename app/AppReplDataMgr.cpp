#include "AppReplDataMgr.h"

#include <string>
#include <vector>

#include "engine/DRHelper.h"
#include "engine/ZnCriticalSectionLock.h"
#include "repl/ReplicaSyncReplication.h"

namespace {

using Info = App::ReplicaSyncReplicationInfo;

// The site query of one replication id: true with at least one record.
bool QuerySite(EvEvent& event, int replId, std::vector<Info>& out) {
  Info query;
  query.SetInt32(Info::kReplicationId, replId);
  ReplicaSyncReplication adapter;
  std::string error;
  if (adapter.getSiteReplication(&query, out, error, nullptr) != 0) {
    event.Error("QuerySite", "%s",
                ("Failed to get site replication info for repl id [" + std::to_string(replId) + "] with error [" +
                 error + "]")
                    .c_str());
    return false;
  }
  if (out.empty()) {
    event.Debug("QuerySite", "Empty site replication vector.");
    return false;
  }
  return true;
}

Info Partial(int replId) {
  Info msg;
  msg.SetInt32(Info::kReplicationId, replId);
  return msg;
}

}  // namespace

CAppReplDataMgr::CAppReplDataMgr(SDataSourceInfo info)
    : m_jobManager(info.jobManager),
      m_jobId(static_cast<uint64_t>(info.jobId)),
      m_vAppId(info.drGroupId),
      m_drType(info.drType) {
  m_event.setJobId(info.jobId);
}

CAppReplDataMgr::~CAppReplDataMgr() {}

IRepInfo* CAppReplDataMgr::FetchReplData(SDataSourceInfo& info) { return FetchData(info.replId); }

IRepInfo* CAppReplDataMgr::FetchData(int replId) {
  ZnCriticalSectionLock lock(&m_loadLock);
  return Cached(replId);
}

AppRepInfo* CAppReplDataMgr::Cached(int replId) {
  auto it = m_repInfoMap.find(replId);
  return it == m_repInfoMap.end() ? nullptr : &it->second;
}

bool CAppReplDataMgr::LoadData(SDataSourceInfo& info) {
  ZnCriticalSectionLock lock(&m_loadLock);
  for (int32_t id : info.replIds) {
    std::vector<Info> found;
    if (!QuerySite(m_event, id, found)) return false;
    for (const Info& record : found) {
      if (record.Has(Info::kReplicationId)) m_repInfoMap[record.GetInt32(Info::kReplicationId)] = AppRepInfo(record);
    }
    for (const Info& record : found) {
      std::string xml;
      if (!record.serializeUTF8(xml)) {
        m_event.Error("LoadData", "Failed to serialize ReplicaSyncReplicationInfo response");
      }
      m_event.Debug("LoadData", "ReplicaSyncReplicationInfo response=[%s]", xml.c_str());
    }
  }
  return true;
}

// Through the virtual table, so a subclass's load runs.
bool CAppReplDataMgr::ReloadData(SDataSourceInfo& info) { return LoadData(info); }

bool CAppReplDataMgr::UpdateProperty(ZNDR::DR_ORCHESTRATION_PROPERTY property, SDataSourceInfo& info) {
  switch (property) {
    case ZNDR::DR_PROPERTY_SYNC_STATUS:
      return UpdateSyncStatus(info.replId, info.syncStatus);
    case ZNDR::DR_PROPERTY_FAILOVER_STATUS:
      return UpdateFailoverStatus(info, info.failoverStatus);
    default:
      return true;
  }
}

bool CAppReplDataMgr::UpdateStatus(SDataSourceInfo&) { return true; }

bool CAppReplDataMgr::IsDRComplete(SDataSourceInfo&) { return false; }

AppRepInfo* CAppReplDataMgr::CachedForStore(const char* function, int replId) {
  AppRepInfo* rep = Cached(replId);
  if (rep == nullptr) m_event.Error(function, "Replication [%d] is not loaded; nothing stored", replId);
  return rep;
}

bool CAppReplDataMgr::Store(const char* function, int replId, const StoreChange& change) {
  ZnCriticalSectionLock lock(&m_loadLock);
  AppRepInfo* rep = CachedForStore(function, replId);
  if (rep == nullptr) return false;
  Info partial = Partial(replId);
  change(*rep, partial);
  ReplicaSyncReplication adapter;
  std::string error;
  return adapter.setSiteReplication(&partial, error, nullptr) == 0;
}

bool CAppReplDataMgr::UpdateFailoverStatus(SDataSourceInfo& info, App::VSAFailoverStatus status) {
  return Store("UpdateFailoverStatus", info.replId, [&](AppRepInfo& rep, Info& partial) {
    rep.setFailoverStatus(status);
    partial.SetInt32(Info::kFailoverStatus, status);
    m_event.Debug("UpdateFailoverStatus", "[%s] for replication [%d]",
                  DRHelper::GetVSAFailoverStatusStr(status).c_str(), info.replId);
  });
}

bool CAppReplDataMgr::UpdateSyncStatus(int replId, App::VSAReplicationStatus status) {
  return Store("UpdateSyncStatus", replId, [&](AppRepInfo& rep, Info& partial) {
    rep.setSyncStatus(status);
    partial.SetInt32(Info::kSyncStatus, status);
    m_event.Debug("UpdateSyncStatus", "Setting sync status as [%s] for replication [%d]",
                  DRHelper::GetVSASyncStatusStr(status).c_str(), replId);
  });
}

bool CAppReplDataMgr::SetLastRestoreTime(int replId, int time) {
  return Store("SetLastRestoreTime", replId, [&](AppRepInfo& rep, Info& partial) {
    rep.setLastRestoreTime(time);
    partial.SetInt32(Info::kLastRestoreTime, time);
    m_event.Debug("SetLastRestoreTime", "Setting last restore time as [%d] for replication [%d]", time, replId);
  });
}
