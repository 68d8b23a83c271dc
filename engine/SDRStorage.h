// One storage copy used by the copy operations. A set of them holds one entry
// per copy id: ordering looks at the copy id alone.
#pragma once

#include <stdint.h>

#include <string>

#include "msg/MsgEnums.h"

struct SDROSubclient;

struct SDRStorage {
  SDRStorage(SDROSubclient* subclient, int32_t spId, int32_t copyId, int32_t defaultCopyId, bool byCopyTasks)
      : subclient(subclient),
        spId(spId),
        copyId(copyId),
        defaultCopyId(defaultCopyId),
        site(static_cast<Api::DRSite>(1)),
        byCopyTasks(byCopyTasks) {}
  explicit SDRStorage(bool byCopyTasks) : SDRStorage(nullptr, 0, 0, 0, byCopyTasks) {}

  int32_t GetSPId() const { return spId; }
  int32_t GetCopyId() const { return copyId; }
  int32_t GetDefaultCopyId() const { return defaultCopyId; }
  bool operator<(const SDRStorage& other) const { return copyId < other.copyId; }

  SDROSubclient* subclient;
  std::string spName;
  int32_t spId;
  int32_t copyId;
  std::string copyName;
  int32_t defaultCopyId;
  Api::DRSite site;
  bool byCopyTasks;  // machines come from the copy's tasks, else the group's whole input list
};
