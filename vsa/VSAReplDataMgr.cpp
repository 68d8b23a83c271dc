#include "VSAReplDataMgr.h"

#include <vector>

#include "services/DRAppManager.h"
#include "engine/DRHelper.h"
#include "engine/ZnCriticalSectionLock.h"
#include "repl/VSASiteReplication.h"
#include "time/PlatformClock.h"

namespace {

using Info = App::VSAReplicationInfo;

// Bit of the flags that a flags store always clears.
const int kClearedFlag = 4;
const int kStatusPauseMs = 800;
const int kFlagsPauseMs = 700;

}  // namespace

CVSAReplDataMgr::CVSAReplDataMgr(SDataSourceInfo& info)
    : m_jobId(static_cast<uint64_t>(info.jobId)), m_vAppId(info.drGroupId), m_drType(info.drType) {
  m_event.setJobId(info.jobId);
}

CVSAReplDataMgr::~CVSAReplDataMgr() {}

IRepInfo* CVSAReplDataMgr::FetchReplData(SDataSourceInfo& info) { return FetchData(info.replId); }

// Lock-free by contract: the workers look their records up while stores
// run. The ids are loaded when the data source is made, before any worker
// runs, and a reload of a loaded id assigns into its entry, so neither the
// map's shape nor a record's address changes under a reader.
IRepInfo* CVSAReplDataMgr::FetchData(int replId) DR_NO_THREAD_SAFETY_ANALYSIS { return Cached(replId); }

VSARepInfo* CVSAReplDataMgr::Cached(int replId) {
  auto it = m_repInfoMap.find(replId);
  return it == m_repInfoMap.end() ? nullptr : &it->second;
}

// Lock-free by contract: the initial records are written by the first load
// only, which runs before any worker.
App::VSAReplicationStatus CVSAReplDataMgr::GetOriginalSyncStatus(int replId) DR_NO_THREAD_SAFETY_ANALYSIS {
  auto it = m_initialRepInfoMap.find(replId);
  return it == m_initialRepInfoMap.end() ? static_cast<App::VSAReplicationStatus>(0) : it->second.GetStatus();
}

App::VSAFailoverStatus CVSAReplDataMgr::GetOriginalFailoverStatus(int replId) DR_NO_THREAD_SAFETY_ANALYSIS {
  auto it = m_initialRepInfoMap.find(replId);
  return it == m_initialRepInfoMap.end() ? App::VSA_FAILOVER_STATUS_NONE : it->second.GetFailoverStatus();
}

bool CVSAReplDataMgr::LoadData(SDataSourceInfo& info) {
  // A store reads and changes the cached record it stores, so a load also
  // keeps the stores out while it replaces records; write before load, as
  // everywhere.
  ZnCriticalSectionLock writeLock(&m_writeLock);
  ZnCriticalSectionLock lock(&m_loadLock);
  const bool firstLoad = m_repInfoMap.empty();
  std::vector<int> ids(info.replIds.begin(), info.replIds.end());
  App::GetVSAReplicationResp resp;
  if (!CDRAppManager::GetVSAReplicationResp(ids, resp)) return false;
  if (!resp.Has(App::GetVSAReplicationResp::kReplications)) return false;
  for (size_t i = 0; i < resp.ListSize(App::GetVSAReplicationResp::kReplications); ++i) {
    const App::VSAReplicationInfo& msg =
        resp.GetListMsgAs<App::VSAReplicationInfo>(App::GetVSAReplicationResp::kReplications, i);
    if (!msg.Has(Info::kReplicationId)) continue;
    m_repInfoMap[msg.GetInt32(Info::kReplicationId)] = VSARepInfo(msg);
  }
  if (firstLoad) m_initialRepInfoMap = m_repInfoMap;
  return true;
}

// Through the virtual table, so a subclass's load runs.
bool CVSAReplDataMgr::ReloadData(SDataSourceInfo& info) { return LoadData(info); }

bool CVSAReplDataMgr::UpdateProperty(ZNDR::DR_ORCHESTRATION_PROPERTY property, SDataSourceInfo& info) {
  switch (property) {
    case ZNDR::DR_PROPERTY_SYNC_STATUS:
      return UpdateSyncStatus(info.replId, info.syncStatus);
    case ZNDR::DR_PROPERTY_FAILOVER_STATUS:
      return UpdateFailoverStatus(info.replId, info.failoverStatus);
    case ZNDR::DR_PROPERTY_LAST_RESTORE_TIME:
      return SetLastRestoreTime(info.replId, info.lastRestoreTime);
    case ZNDR::DR_PROPERTY_VM_SYNCED_TILL_TIME:
      return SetVMSyncedTillTime(info.replId, info.vmSyncedTillTime);
    case ZNDR::DR_PROPERTY_RESET_DEST_VM_GUID:
      return ResetDestinationVMGuid(info.replId);
    default:
      return true;
  }
}

bool CVSAReplDataMgr::UpdateStatus(SDataSourceInfo& info) {
  App::VSAFailoverStatus status = DRHelper::GetFailoverStatus(m_drType, info.status);
  if (m_drType != TMMsg::DR_ORCHESTRATION_CLEANUP_DESTINATION_VM && m_drType != TMMsg::DR_ORCHESTRATION_TEST_FAILOVER) {
    UpdateReplPropTbl(info.replId, VSARepInfo::kPropLastDRJobId, std::to_string(info.jobId), false);
  }
  if (status == App::VSA_FAILOVER_STATUS_REVERT_FAILOVER_COMPLETE) {
    return UpdateFailoverStatus(info.replId, App::VSA_FAILOVER_STATUS_NONE);
  }
  if (status == App::VSA_FAILOVER_STATUS_NONE) return true;
  return UpdateFailoverStatus(info.replId, status);
}

bool CVSAReplDataMgr::IsDRComplete(SDataSourceInfo& info) {
  ZnCriticalSectionLock lock(&m_writeLock);
  VSARepInfo* rep = Cached(info.replId);
  if (rep == nullptr) return false;
  return rep->GetFailoverStatus() == DRHelper::GetFailoverStatus(m_drType, Api::VIRTUAL_APP_PHASE_STATE_SUCCESS);
}

std::string CVSAReplDataMgr::VMName(int replId) {
  VSARepInfo* rep = Cached(replId);
  return rep != nullptr ? rep->GetSourceName() : std::string();
}

App::VSAReplicationInfo CVSAReplDataMgr::Partial(int replId) {
  App::VSAReplicationInfo msg;
  msg.SetInt32(Info::kReplicationId, replId);
  return msg;
}

bool CVSAReplDataMgr::Store(App::VSAReplicationInfo& partial) {
  VSASiteReplication adapter;
  std::string error;
  return adapter.setSiteReplication(&partial, error, nullptr) == 0;
}

bool CVSAReplDataMgr::UpdateFailoverStatus(int replId, App::VSAFailoverStatus status) {
  return UpdateFailoverStatusOfJob(replId, status, 0);
}

bool CVSAReplDataMgr::UpdateFailoverStatusOfJob(int replId, App::VSAFailoverStatus status, int64_t jobId) {
  ZnCriticalSectionLock lock(&m_writeLock);
  VSARepInfo* rep = Cached(replId);
  if (rep != nullptr) rep->setFailoverStatus(status);
  App::VSAReplicationInfo msg = Partial(replId);
  msg.SetInt32(Info::kFailoverStatus, status);
  if (jobId > 0) {
    CNMessageBase& property = msg.AddMsg(Info::kProperties);
    property.SetInt32(App::VSAReplicationProperties::kPropertyId, VSARepInfo::kPropLastDRJobId);
    property.SetString(App::VSAReplicationProperties::kValue, std::to_string(jobId));
  }
  m_event.Debug("UpdateFailoverStatus", "[%s] for replication [%d] VM [%s]",
                DRHelper::GetVSAFailoverStatusStr(status).c_str(), replId, VMName(replId).c_str());
  XOSLEEP(kStatusPauseMs);
  return Store(msg);
}

bool CVSAReplDataMgr::UpdateSyncStatus(int replId, App::VSAReplicationStatus status) {
  ZnCriticalSectionLock lock(&m_writeLock);
  VSARepInfo* rep = Cached(replId);
  if (rep != nullptr) rep->setSyncStatus(status);
  App::VSAReplicationInfo msg = Partial(replId);
  msg.SetInt32(Info::kSyncStatus, status);
  m_event.Debug("UpdateSyncStatus", "Setting sync status as [%s] for replication [%d] VM [%s]",
                DRHelper::GetVSASyncStatusStr(status).c_str(), replId, VMName(replId).c_str());
  XOSLEEP(kStatusPauseMs);
  return Store(msg);
}

bool CVSAReplDataMgr::SetLastRestoreTime(int replId, unsigned long time) {
  ZnCriticalSectionLock lock(&m_writeLock);
  VSARepInfo* rep = Cached(replId);
  if (rep != nullptr) rep->setLastRestoreTime(static_cast<int64_t>(time));
  App::VSAReplicationInfo msg = Partial(replId);
  msg.SetInt64(Info::kLastRestoreTime, static_cast<int64_t>(time));
  m_event.Debug("SetLastRestoreTime", "Setting last restore time as [%lu] for replication [%d] VM [%s]", time, replId,
                VMName(replId).c_str());
  return Store(msg);
}

bool CVSAReplDataMgr::SetVMSyncedTillTime(int replId, unsigned long time) {
  ZnCriticalSectionLock lock(&m_writeLock);
  App::VSAReplicationInfo msg = Partial(replId);
  msg.SetInt64(Info::kVMSyncedTillTime, static_cast<int64_t>(time));
  m_event.Debug("SetVMSyncedTillTime", "Setting VM synced till time as [%lu] for replication [%d] VM [%s]", time,
                replId, VMName(replId).c_str());
  return Store(msg);
}

// The one store the write section leaves out: only the worker of the
// machine resets its own record, and nothing else (no store, no reload)
// changes that record on another thread meanwhile.
bool CVSAReplDataMgr::ResetDestinationVMGuid(int replId) DR_NO_THREAD_SAFETY_ANALYSIS {
  VSARepInfo* rep = Cached(replId);
  if (rep != nullptr) rep->SetDestinationGuid(std::string());
  App::VSAReplicationInfo msg = Partial(replId);
  msg.SetString(Info::kDestinationVMGuid, std::string());
  m_event.Debug("ResetDestinationVMGuid", "Clearing DR VMGuid for replication [%d]", replId);
  return Store(msg);
}

bool CVSAReplDataMgr::UpdateFlags(int replId, int flags) {
  ZnCriticalSectionLock lock(&m_writeLock);
  const int sent = flags & ~kClearedFlag;
  App::VSAReplicationInfo msg = Partial(replId);
  msg.SetInt32(Info::kFlags, sent);
  m_event.Debug("UpdateFlags", "Setting flags as [%d] for replication [%d] VM [%s]", sent, replId,
                VMName(replId).c_str());
  XOSLEEP(kFlagsPauseMs);
  return Store(msg);
}

bool CVSAReplDataMgr::UpdateReplPropTbl(int replId, int propertyId, std::string value, bool reload) {
  ZnCriticalSectionLock lock(&m_writeLock);
  App::VSAReplicationInfo msg = Partial(replId);
  VSARepInfo* rep = Cached(replId);
  if (rep != nullptr) {
    msg.SetString(Info::kReplicationGuid, rep->GetReplicationGuid());
    msg.SetString(Info::kSourceVMGuid, rep->GetSourceGuid());
    msg.SetString(Info::kDestinationVMGuid, rep->GetDestinationGuid());
  }
  CNMessageBase& property = msg.AddMsg(Info::kProperties);
  property.SetInt32(App::VSAReplicationProperties::kPropertyId, propertyId);
  property.SetString(App::VSAReplicationProperties::kValue, value);
  m_event.Debug("UpdateReplPropTbl", "Setting property value as [%s] for property [%d]", value.c_str(), propertyId);
  XOSLEEP(kFlagsPauseMs);
  bool stored = Store(msg);
  if (reload) {
    ZnCriticalSectionLock loadLock(&m_loadLock);
    SDataSourceInfo only;
    only.replIds.push_back(replId);
    ReloadData(only);
  }
  return stored;
}
