#include "AppReplDataMgr.h"

#include "engine/ZnCriticalSectionLock.h"

CAppReplDataMgr::CAppReplDataMgr(SDataSourceInfo info)
    : m_jobManager(info.jobManager),
      m_jobId(static_cast<uint64_t>(info.jobId)),
      m_vAppId(info.drGroupId),
      m_drType(info.drType) {
  m_event.setJobId(info.jobId);
}

CAppReplDataMgr::~CAppReplDataMgr() {}

// Lock-free by contract, like the stores that call it: the map is filled
// when the data source is made, before any worker runs, and not reshaped
// afterwards.
IRepInfo* CAppReplDataMgr::FetchReplData(SDataSourceInfo& info) DR_NO_THREAD_SAFETY_ANALYSIS {
  auto it = m_repInfoMap.find(info.replId);
  return it == m_repInfoMap.end() ? nullptr : &it->second;
}

bool CAppReplDataMgr::LoadData(SDataSourceInfo& info) {
  ZnCriticalSectionLock lock(&m_loadLock);
  m_event.Error("LoadData", "Application replications [%zu] cannot be loaded: the replica sync replication store "
                "is not available", info.replIds.size());
  return false;
}

bool CAppReplDataMgr::ReloadData(SDataSourceInfo& info) { return LoadData(info); }

bool CAppReplDataMgr::UpdateProperty(ZNDR::DR_ORCHESTRATION_PROPERTY property, SDataSourceInfo& info) {
  switch (property) {
    case ZNDR::DR_PROPERTY_SYNC_STATUS:
      return UpdateSyncStatus(info, info.syncStatus);
    case ZNDR::DR_PROPERTY_FAILOVER_STATUS:
      return UpdateFailoverStatus(info, info.failoverStatus);
    default:
      return true;
  }
}

bool CAppReplDataMgr::UpdateStatus(SDataSourceInfo&) { return true; }

bool CAppReplDataMgr::IsDRComplete(SDataSourceInfo&) { return false; }

// Nothing is loaded yet, so there is no record to change or store.
bool CAppReplDataMgr::UpdateFailoverStatus(SDataSourceInfo& info, App::VSAFailoverStatus status) {
  AppRepInfo* rep = static_cast<AppRepInfo*>(FetchReplData(info));
  if (rep == nullptr) {
    m_event.Error("UpdateFailoverStatus", "Replication [%d] not loaded; failover status [%d] not stored", info.replId,
                  static_cast<int>(status));
    return false;
  }
  rep->setFailoverStatus(status);
  return false;
}

bool CAppReplDataMgr::UpdateSyncStatus(SDataSourceInfo& info, App::VSAReplicationStatus status) {
  AppRepInfo* rep = static_cast<AppRepInfo*>(FetchReplData(info));
  if (rep == nullptr) {
    m_event.Error("UpdateSyncStatus", "Replication [%d] not loaded; sync status [%d] not stored", info.replId,
                  static_cast<int>(status));
    return false;
  }
  rep->setSyncStatus(status);
  return false;
}
