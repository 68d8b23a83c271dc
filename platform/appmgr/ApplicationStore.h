// The one owner of the management server's applications (APP_Application):
// which client an application instance (a virtualization instance, a
// subclient) belongs to. Writes join the caller's transaction.
#pragma once

#include "core/StoreResult.h"

struct SApplicationRecord {
  int id = 0;
  int clientId = 0;
  int appTypeId = 0;  // 106: virtual server
  long long instanceId = 0;
  int backupSetId = 0;
};

class CApplicationStore {
 public:
  static constexpr const char* kTable = "APP_Application";
  static constexpr int kVirtualServerAppType = 106;

  // Adds the application or replaces the one with its id.
  static bool PutApplication(const SApplicationRecord& app);
  // The first application of an instance.
  static EStoreResult FindByInstance(long long instanceId, SApplicationRecord& out);

  // Tells the database how its tables look (CSimulators::Install): the
  // one description a table of the simulated server is created from.
  static void DescribeTables();
  // Creates the table on the calling thread's database.
  static bool CreateTables();
};
