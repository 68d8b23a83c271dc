// The one owner of the client activity records (PLT_ClientActivity): which
// activity types (1: backup) of a client are switched off, and when each
// was last switched. No record means enabled.
#pragma once

#include <vector>

#include "core/StoreResult.h"

struct SClientActivityRecord {
  long long clientId = 0;
  int activityType = 0;
  int enabled = 1;
  long long changed = 0;  // platform clock, seconds
};

class CClientActivityStore {
 public:
  static constexpr const char* kTable = "PLT_ClientActivity";

  // kOk with the state (enabled when there is no record), kFailed on a read error.
  static EStoreResult IsEnabled(long long clientId, int activityType, bool& enabled);
  static bool SetEnabled(long long clientId, int activityType, bool enabled);
  // Every record, ordered by client and activity type.
  static EStoreResult Records(std::vector<SClientActivityRecord>& out);
  static bool CreateTables();
};
