// Reaches inside a storage-array data manager: records put in as a load
// would put them, and what the manager keeps about them.
#pragma once

#include <string>

#include "app/SnapArrayDRReplDataMgr.h"
#include "engine/ZnCriticalSectionLock.h"

// What a load would have put into a manager, and what it keeps inside.
class CSnapArrayDRReplDataMgrTestPeer {
 public:
  // Records go in as a load would put them: under the load lock.
  static void Add(CSnapArrayDRReplDataMgr& mgr, int replId, const SnapDRRepInfo& rec) {
    ZnCriticalSectionLock lock(&mgr.m_loadLock);
    mgr.m_snapRepInfoMap[replId] = rec;
  }
  static bool Indexed(CSnapArrayDRReplDataMgr& mgr, const std::string& guid) {
    ZnCriticalSectionLock lock(&mgr.m_loadLock);
    return mgr.m_guidIndex.count(guid) != 0;
  }
  static size_t GroupCount(CSnapArrayDRReplDataMgr& mgr) {
    ZnCriticalSectionLock lock(&mgr.m_snapLock);
    return mgr.m_replicaGroups.size();
  }
};
