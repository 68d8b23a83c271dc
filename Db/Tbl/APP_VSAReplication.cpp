#include "APP_VSAReplication.h"

#include <stddef.h>
#include <string.h>

namespace {

const SDBColumnBind kColumns[] = {
    {"replicationId", "i", offsetof(APP_VSAReplication_t, replicationId)},
    {"replicationGuid", "s256", offsetof(APP_VSAReplication_t, replicationGuid)},
    {"sourceGuid", "s256", offsetof(APP_VSAReplication_t, sourceGuid)},
    {"sourceName", "s", offsetof(APP_VSAReplication_t, sourceName)},
    {"destinationGuid", "s256", offsetof(APP_VSAReplication_t, destinationGuid)},
    {"destinationName", "s", offsetof(APP_VSAReplication_t, destinationName)},
    {"lastRestoreTime", "x", offsetof(APP_VSAReplication_t, lastRestoreTime)},
    {"lastBackupTime", "x", offsetof(APP_VSAReplication_t, lastBackupTime)},
    {"taskId", "i", offsetof(APP_VSAReplication_t, taskId)},
    {"subclientId", "i", offsetof(APP_VSAReplication_t, subclientId)},
    {"powerOn", "b", offsetof(APP_VSAReplication_t, powerOn)},
    {"options", "s", offsetof(APP_VSAReplication_t, options)},
    {"spare1", "s", offsetof(APP_VSAReplication_t, spare1)},
    {"spare2", "s", offsetof(APP_VSAReplication_t, spare2)},
    {"spare3", "s", offsetof(APP_VSAReplication_t, spare3)},
    {"created", "x", offsetof(APP_VSAReplication_t, created)},
    {"modified", "x", offsetof(APP_VSAReplication_t, modified)},
    {"flags", "i", offsetof(APP_VSAReplication_t, flags)},
    {"status", "i", offsetof(APP_VSAReplication_t, status)},
    {"backupsetId", "i", offsetof(APP_VSAReplication_t, backupsetId)},
    {"lastSyncedBkpJob", "i", offsetof(APP_VSAReplication_t, lastSyncedBkpJob)},
    {"VMSyncedTillTime", "i", offsetof(APP_VSAReplication_t, VMSyncedTillTime)},
    {"BkpJobsToSync", "s", offsetof(APP_VSAReplication_t, BkpJobsToSync)},
    {"ValidationFailCount", "i", offsetof(APP_VSAReplication_t, ValidationFailCount)},
    {"FailoverStatus", "i", offsetof(APP_VSAReplication_t, FailoverStatus)},
};
const char* const kKeys[] = {"replicationId"};

const SDBBindingDesc kDesc = {
    "APP_VSAReplication",
    1,
    "1.4.2.5",
    "Db/Tbl/APP_VSAReplication.h",
    kColumns,
    25,
    kKeys,
    1,
    "replicationId",
    "replicationId",
    nullptr,
    0,
};


}  // namespace

APP_VSAReplication_t::APP_VSAReplication_t() : replicationId(0), sourceName(nullptr), destinationName(nullptr), lastRestoreTime(0), lastBackupTime(0), taskId(0), subclientId(0), powerOn(0), options(nullptr), spare1(nullptr), spare2(nullptr), spare3(nullptr), created(0), modified(0), flags(0), status(0), backupsetId(0), lastSyncedBkpJob(0), VMSyncedTillTime(0), BkpJobsToSync(nullptr), ValidationFailCount(0), FailoverStatus(0) {
  replicationGuid[0] = 0;
  sourceGuid[0] = 0;
  destinationGuid[0] = 0;
}

APP_VSAReplication_t::~APP_VSAReplication_t() {
  delete[] sourceName;
  sourceName = nullptr;
  delete[] destinationName;
  destinationName = nullptr;
  delete[] options;
  options = nullptr;
  delete[] spare1;
  spare1 = nullptr;
  delete[] spare2;
  spare2 = nullptr;
  delete[] spare3;
  spare3 = nullptr;
  delete[] BkpJobsToSync;
  BkpJobsToSync = nullptr;
}

APP_VSAReplication_t2::~APP_VSAReplication_t2() = default;

const SDBBindingDesc& APP_VSAReplication_t2::Desc() { return kDesc; }

APP_VSAReplication::APP_VSAReplication(DBtran* tran) : ZNDBGeneratedBinding<APP_VSAReplication, APP_VSAReplication_t, APP_VSAReplication_t2, 25>(tran) {
}

APP_VSAReplication::~APP_VSAReplication() = default;

const SDBBindingDesc& APP_VSAReplication::Desc() { return kDesc; }
