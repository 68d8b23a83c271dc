// The data manager of application (database) replications (information
// source 2), and the base of the storage-array data manager. It loads the
// records of the data source's replication ids through the replica-sync
// replication adapter, keeps one AppRepInfo per id and stores status changes
// as partial messages (the replication id and the one changed field).
//
// Threads: the DR worker threads look records up, reload them and store
// their changes at once. The first section guards the record map: loads,
// look-ups and stores hold it for their whole work, so a store never changes
// a record while a reload replaces it, and a reload never runs between a
// store's change of the record and its write. A reload assigns into the
// record's map entry, never erases it, so the record a look-up handed out
// keeps its address. Both sections are re-entrant for the holding thread
// (the storage-array manager enters them again); the second is the storage-
// array manager's and is taken before the first.
#pragma once

#include <stdint.h>

#include <functional>
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
  // FetchData of the info's replication id.
  IRepInfo* FetchReplData(SDataSourceInfo& info) override;
  // Queries each id of the info's list in order and caches what comes back;
  // false at the first id whose query fails or answers nothing (the records
  // of the ids before it stay cached).
  bool LoadData(SDataSourceInfo& info) override;
  bool ReloadData(SDataSourceInfo& info) override;
  // 0 sync status, 1 failover status; true for any other property.
  bool UpdateProperty(ZNDR::DR_ORCHESTRATION_PROPERTY property, SDataSourceInfo& info) override;
  // Nothing to store: true.
  bool UpdateStatus(SDataSourceInfo& info) override;
  bool IsDRComplete(SDataSourceInfo& info) override;

  // Stores the failover status of the info's replication.
  virtual bool UpdateFailoverStatus(SDataSourceInfo& info, App::VSAFailoverStatus status);

  // The cached record, null when the id is not loaded.
  IRepInfo* FetchData(int replId);
  // The stores: the cached record first, then the partial message. An id
  // that is not loaded is logged and answers false; nothing is sent.
  bool UpdateSyncStatus(int replId, App::VSAReplicationStatus status);
  bool SetLastRestoreTime(int replId, int time);

 protected:
  EvEvent m_event;
  CDRJobManager* m_jobManager;
  // The first section: the record map (re-entrant).
  ZnCriticalSection m_loadLock;
  // The second section: the storage-array manager's mounts and statuses.
  ZnCriticalSection m_updateLock DR_ACQUIRED_BEFORE(m_loadLock);
  uint64_t m_jobId;
  int32_t m_vAppId;
  int32_t m_drType;

 private:
  friend class CAppReplDataMgrTestPeer;

  AppRepInfo* Cached(int replId) DR_REQUIRES(m_loadLock);
  // The cached record of a store, or null after logging that the id is not
  // loaded.
  AppRepInfo* CachedForStore(const char* function, int replId) DR_REQUIRES(m_loadLock);
  // One store: change applies the value to the cached record and the
  // partial message (and logs it), then the message is sent through the
  // adapter; true when stored.
  using StoreChange = std::function<void(AppRepInfo& record, App::ReplicaSyncReplicationInfo& partial)>;
  bool Store(const char* function, int replId, const StoreChange& change);

  std::unordered_map<int64_t, AppRepInfo> m_repInfoMap DR_GUARDED_BY(m_loadLock);
};
