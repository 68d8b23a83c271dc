// The data manager of VM replications (information source 0): loads the
// replication records of a DR group's replication ids through the
// application manager, keeps one VSARepInfo per id (and the records of the
// first load, for the original sync status), and stores each change of a
// replication as a partial message through VSASiteReplication.
//
// Threads: DR workers call it in parallel. The write section serialises the
// stores (all but the destination-GUID reset) and IsDRComplete; the load
// section serialises loads; a load also holds the write section (entered
// first), so no store reads or changes a record while a load replaces it.
// A property store with reload holds the write
// section and then the load section, always in that order; both sections
// are re-entrant. FetchData, FetchReplData and the original statuses take no
// lock: a reload assigns into the same map entry, so a record's address
// stays valid. These and the destination-GUID reset are the commented
// exceptions to the lock rules below.
#pragma once

#include <stdint.h>

#include <string>
#include <unordered_map>

#include "engine/IDRDataMgr.h"
#include "VSARepInfo.h"
#include "drorch/ZnCriticalSection.h"
#include "log/EvEvent.h"

class CVSAReplDataMgr : public IDRDataMgr {
 public:
  explicit CVSAReplDataMgr(SDataSourceInfo& info);
  ~CVSAReplDataMgr() override;
  CVSAReplDataMgr(const CVSAReplDataMgr&) = delete;
  CVSAReplDataMgr& operator=(const CVSAReplDataMgr&) = delete;

  // ---- IDRDataMgr ----
  IRepInfo* FetchReplData(SDataSourceInfo& info) override;
  // False when the query fails or answers no list; the maps then stay as
  // they were.
  bool LoadData(SDataSourceInfo& info) override;
  bool ReloadData(SDataSourceInfo& info) override;
  bool UpdateProperty(ZNDR::DR_ORCHESTRATION_PROPERTY property, SDataSourceInfo& info) override;
  bool UpdateStatus(SDataSourceInfo& info) override;
  bool IsDRComplete(SDataSourceInfo& info) override;

  // The cached record; null when the id is not loaded.
  IRepInfo* FetchData(int replId);
  // Sync status of the id at the first load; 0 when it was not loaded then.
  App::VSAReplicationStatus GetOriginalSyncStatus(int replId);
  // Failover status of the id at the first load; none when it was not
  // loaded then.
  App::VSAFailoverStatus GetOriginalFailoverStatus(int replId);

  // ---- stores: true when the replication was stored ----
  bool UpdateFailoverStatus(int replId, App::VSAFailoverStatus status);
  // The same, with the DR job that sets it stored as the one that last
  // stored the replication's status (2216) in the same write: neither is
  // ever found without the other.
  bool UpdateFailoverStatusOfJob(int replId, App::VSAFailoverStatus status, int64_t jobId);
  bool UpdateSyncStatus(int replId, App::VSAReplicationStatus status);
  bool SetLastRestoreTime(int replId, unsigned long time);
  bool SetVMSyncedTillTime(int replId, unsigned long time);
  bool ResetDestinationVMGuid(int replId);
  // Sends the flags without the bit of value 4.
  bool UpdateFlags(int replId, int flags);
  // Stores one property; with reload the record is loaded again afterwards,
  // whatever the store's result.
  bool UpdateReplPropTbl(int replId, int propertyId, std::string value, bool reload);

 private:
  // The cached record as a VM record; null when the id is not loaded.
  VSARepInfo* Cached(int replId) DR_REQUIRES(m_writeLock);
  std::string VMName(int replId) DR_REQUIRES(m_writeLock);
  // A fresh partial message holding only the replication id.
  static App::VSAReplicationInfo Partial(int replId);
  static bool Store(App::VSAReplicationInfo& partial);

  ZnCriticalSection m_loadLock;
  ZnCriticalSection m_writeLock DR_ACQUIRED_BEFORE(m_loadLock);
  // Replaced by loads (which hold both sections), changed by the stores.
  std::unordered_map<int64_t, VSARepInfo> m_repInfoMap DR_GUARDED_BY(m_writeLock);
  // Filled by the first load, then only read.
  std::unordered_map<int64_t, VSARepInfo> m_initialRepInfoMap DR_GUARDED_BY(m_writeLock);
  EvEvent m_event;
  [[maybe_unused]] uint64_t m_jobId;
  [[maybe_unused]] int32_t m_vAppId;
  TMMsg::DROrchestrationType m_drType;
};
