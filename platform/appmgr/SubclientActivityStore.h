// The one owner of the subclient activity records (PLT_SubclientActivity):
// which subclients have an operation type switched off. No record means
// enabled.
#pragma once

#include "core/StoreResult.h"

class CSubclientActivityStore {
 public:
  static constexpr const char* kTable = "PLT_SubclientActivity";

  // kOk with the state (enabled when there is no record), kFailed on a read error.
  static EStoreResult IsEnabled(int appId, int opType, bool& enabled);
  static bool SetEnabled(int appId, int opType, bool enabled);
  static bool CreateTables();
};
