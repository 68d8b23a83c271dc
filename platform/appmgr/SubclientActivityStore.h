// The one owner of the subclient activity records (PLT_SubclientActivity):
// which subclients have an operation type switched off. No record means
// enabled.
#pragma once

#include <vector>

#include "core/StoreResult.h"

struct SSubclientActivity {
  int appId = 0;
  int opType = 0;
  bool enabled = true;
};

class CSubclientActivityStore {
 public:
  static constexpr const char* kTable = "PLT_SubclientActivity";
  // The operation type DR switches off and on around a failover.
  static constexpr int kBackupOpType = 4;

  // kOk with the state (enabled when there is no record), kFailed on a read error.
  static EStoreResult IsEnabled(int appId, int opType, bool& enabled);
  // Every record, by subclient and operation type.
  static EStoreResult All(std::vector<SSubclientActivity>& out);
  static bool SetEnabled(int appId, int opType, bool enabled);
  static bool CreateTables();
};
