#include "SnapArrayDRReplDataMgr.h"

#include "engine/ZnCriticalSectionLock.h"

CSnapArrayDRReplDataMgr::CSnapArrayDRReplDataMgr(SDataSourceInfo& info) : CAppReplDataMgr(info) {}

CSnapArrayDRReplDataMgr::~CSnapArrayDRReplDataMgr() {}

// Lock-free by contract (the contexts look records up from every worker):
// the map is filled when the data source is made, before any worker runs.
IRepInfo* CSnapArrayDRReplDataMgr::FetchReplData(SDataSourceInfo& info) DR_NO_THREAD_SAFETY_ANALYSIS {
  auto it = m_snapRepInfoMap.find(info.replId);
  return it == m_snapRepInfoMap.end() ? nullptr : &it->second;
}

bool CSnapArrayDRReplDataMgr::LoadData(SDataSourceInfo& info) {
  ZnCriticalSectionLock lock(&m_loadLock);
  m_event.Error("LoadData", "Snapshot replications of DR group [%d] cannot be loaded: the snapshot replication "
                "procedure is not available", info.drGroupId);
  return false;
}

bool CSnapArrayDRReplDataMgr::ReloadData(SDataSourceInfo& info) { return LoadData(info); }

bool CSnapArrayDRReplDataMgr::UpdateStatus(SDataSourceInfo&) { return true; }

bool CSnapArrayDRReplDataMgr::IsDRComplete(SDataSourceInfo&) { return false; }

bool CSnapArrayDRReplDataMgr::UpdateFailoverStatus(SDataSourceInfo& info, App::VSAFailoverStatus status) {
  ZnCriticalSectionLock lock(&m_updateLock);
  SnapDRRepInfo* rep = static_cast<SnapDRRepInfo*>(FetchReplData(info));
  if (rep == nullptr) {
    m_event.Error("UpdateFailoverStatus", "Replication [%d] not loaded; failover status [%d] not stored", info.replId,
                  static_cast<int>(status));
    return false;
  }
  rep->setFailoverStatus(status);
  return false;
}
