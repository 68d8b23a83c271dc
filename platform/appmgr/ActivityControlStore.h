// The activity control of clients as the simulated management database
// keeps it, and the one owner of its table (PLT_ActivityControl): one row
// per option of every "APPSetActivityControl" call (which client, which
// activity, switched how and from when), kept for tests to read back.
//
// The stored procedure "APPSetActivityControl" takes the user id and the
// XML of an App::EntityActivityControl, records it and answers
// App::GenericResp as its one text row: error code 0, or non-zero with a
// message for a request that names no client. A request it cannot read
// fails the procedure. Faults by the procedure's name (CStandIns).
#pragma once

#include <vector>

#include "core/StoreResult.h"

struct SActivityControlRecord {
  long long id = 0;  // in the order recorded
  int userId = 0;
  long long clientId = 0;
  int entityKind = 0;
  int activityType = 0;
  int enabled = 0;
  int enableAfterDelay = 0;
  long long activationTime = 0;  // seconds since the epoch
  int timeZoneId = 0;
  long long recorded = 0;  // platform clock, seconds
};

class CActivityControlStore {
 public:
  static constexpr const char* kTable = "PLT_ActivityControl";
  static constexpr const char* kProcName = "APPSetActivityControl";

  // Joins the caller's transaction.
  static bool Add(const SActivityControlRecord& record);
  // Every record, or those of one client (clientId > 0), in the order recorded.
  static EStoreResult Records(std::vector<SActivityControlRecord>& out, long long clientId = 0);

  // Registers the procedure (CSimulators::Install).
  static void Register();
  static bool CreateTables();
};
