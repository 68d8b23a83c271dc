// One row per VM replication (a source and a destination machine).
// Binding of the table "APP_VSAReplication".
#pragma once

#include "Db/ZNDBGeneratedBinding.h"
#include "Db/ZNDBGeneratedRow.h"

// One row.
struct APP_VSAReplication_t {
  int replicationId;
  char replicationGuid[256];
  char sourceGuid[256];
  char* sourceName;  // owned, null when empty
  char destinationGuid[256];
  char* destinationName;  // owned, null when empty
  long long lastRestoreTime;
  long long lastBackupTime;
  int taskId;
  int subclientId;
  long long powerOn;
  char* options;  // owned, null when empty
  char* spare1;  // owned, null when empty
  char* spare2;  // owned, null when empty
  char* spare3;  // owned, null when empty
  long long created;
  long long modified;
  int flags;
  int status;
  int backupsetId;
  int lastSyncedBkpJob;
  int VMSyncedTillTime;
  char* BkpJobsToSync;  // owned, null when empty
  int ValidationFailCount;
  int FailoverStatus;

  APP_VSAReplication_t();
  ~APP_VSAReplication_t();
  APP_VSAReplication_t(const APP_VSAReplication_t&) = delete;
  APP_VSAReplication_t& operator=(const APP_VSAReplication_t&) = delete;
};

class APP_VSAReplication_t2 : public ZNDBGeneratedRow<APP_VSAReplication_t2> {
 public:
  APP_VSAReplication_t2() = default;
  ~APP_VSAReplication_t2() override;
  static const SDBBindingDesc& Desc();
};

class APP_VSAReplication : public ZNDBGeneratedBinding<APP_VSAReplication, APP_VSAReplication_t, APP_VSAReplication_t2, 25> {
 public:
  explicit APP_VSAReplication(DBtran* tran);
  ~APP_VSAReplication() override;
  static const SDBBindingDesc& Desc();
};
