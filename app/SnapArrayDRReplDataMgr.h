// The data manager of storage-array snapshot replications (information
// source 4). Its records come from the snapshot-replication procedure,
// which this system does not reach yet: LoadData fails with a logged
// reason, so such a priority fails at Initialize.
#pragma once

#include <unordered_map>

#include "AppReplDataMgr.h"
#include "SnapDRRepInfo.h"

class CSnapArrayDRReplDataMgr : public CAppReplDataMgr {
 public:
  explicit CSnapArrayDRReplDataMgr(SDataSourceInfo& info);
  ~CSnapArrayDRReplDataMgr() override;

  IRepInfo* FetchReplData(SDataSourceInfo& info) override;
  bool LoadData(SDataSourceInfo& info) override;
  bool ReloadData(SDataSourceInfo& info) override;
  bool UpdateStatus(SDataSourceInfo& info) override;
  bool IsDRComplete(SDataSourceInfo& info) override;
  bool UpdateFailoverStatus(SDataSourceInfo& info, App::VSAFailoverStatus status) override;

 private:
  friend class CSnapArrayDRReplDataMgrTestPeer;
  // Filled by LoadData; FetchReplData reads it without a lock (see there).
  std::unordered_map<int64_t, SnapDRRepInfo> m_snapRepInfoMap DR_GUARDED_BY(m_loadLock);
};
