// The data manager of application (database) replications (information
// source 2), and the base of the storage-array data manager.
//
// Loading application replications goes through the replica-sync
// replication adapter, which this system does not reach yet: LoadData fails
// with a logged reason, so a priority of these replications fails at
// Initialize ("Error in loading data for priority").
#pragma once

#include <stdint.h>

#include <unordered_map>

#include "AppRepInfo.h"
#include "engine/IDRDataMgr.h"
#include "drorch/ZnCriticalSection.h"
#include "log/EvEvent.h"

class CDRJobManager;

class CAppReplDataMgr : public IDRDataMgr {
 public:
  explicit CAppReplDataMgr(SDataSourceInfo info);
  ~CAppReplDataMgr() override;
  CAppReplDataMgr(const CAppReplDataMgr&) = delete;
  CAppReplDataMgr& operator=(const CAppReplDataMgr&) = delete;

  // ---- IDRDataMgr ----
  IRepInfo* FetchReplData(SDataSourceInfo& info) override;
  bool LoadData(SDataSourceInfo& info) override;
  bool ReloadData(SDataSourceInfo& info) override;
  // 0 sync status, 1 failover status; true for any other property.
  bool UpdateProperty(ZNDR::DR_ORCHESTRATION_PROPERTY property, SDataSourceInfo& info) override;
  bool UpdateStatus(SDataSourceInfo& info) override;
  bool IsDRComplete(SDataSourceInfo& info) override;

  virtual bool UpdateFailoverStatus(SDataSourceInfo& info, App::VSAFailoverStatus status);

 protected:
  bool UpdateSyncStatus(SDataSourceInfo& info, App::VSAReplicationStatus status);

  EvEvent m_event;
  CDRJobManager* m_jobManager;
  // Held by LoadData for the whole load (re-entrant: the storage-array
  // manager enters it again).
  ZnCriticalSection m_loadLock;
  ZnCriticalSection m_updateLock;  // the storage-array manager's mounts and statuses
  uint64_t m_jobId;
  int32_t m_vAppId;
  int32_t m_drType;

 private:
  // Filled by LoadData; FetchReplData reads it without a lock (see there).
  std::unordered_map<int64_t, AppRepInfo> m_repInfoMap DR_GUARDED_BY(m_loadLock);
};
