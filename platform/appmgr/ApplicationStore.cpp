#include "appmgr/ApplicationStore.h"

#include "appmgr/AppTableSql.h"
#include "db/DBWriteScope.h"
#include "time/PlatformClock.h"

namespace {

CDBConnection* Ready(const char* function) { return AppTableReady(function, CApplicationStore::kTable); }

}  // namespace

bool CApplicationStore::PutApplication(const SApplicationRecord& app) {
  CDBConnection* c = Ready("PutApplication");
  if (c == nullptr) return false;
  CDBWriteScope scope(c);
  if (!scope.Ok()) return false;
  CDBStatement gone(c, "PutApplication", "DELETE FROM APP_Application WHERE id = ?");
  gone.Bind(app.id);
  if (gone.Run() != EStoreResult::kOk) return false;
  CDBStatement add(c, "PutApplication",
                   "INSERT INTO APP_Application (id, clientId, appTypeId, instance, backupSet, refTime, modified) "
                   "VALUES (?, ?, ?, ?, ?, ?, 0)");
  add.Bind(app.id).Bind(app.clientId).Bind(app.appTypeId).Bind(app.instanceId).Bind(app.backupSetId);
  add.Bind(CPlatformClock::Instance().NowEpochSeconds());
  if (add.Run() != EStoreResult::kOk) return false;
  return scope.Commit();
}

EStoreResult CApplicationStore::FindByInstance(long long instanceId, SApplicationRecord& out) {
  CDBStatement s(Ready("FindByInstance"), "FindByInstance",
                 "SELECT id, clientId, appTypeId, instance, backupSet FROM APP_Application WHERE instance = ? "
                 "ORDER BY id LIMIT 1");
  s.Bind(instanceId);
  if (s.Next()) {
    out.id = static_cast<int>(s.Int(0));
    out.clientId = static_cast<int>(s.Int(1));
    out.appTypeId = static_cast<int>(s.Int(2));
    out.instanceId = s.Int(3);
    out.backupSetId = static_cast<int>(s.Int(4));
    return EStoreResult::kOk;
  }
  return s.Failed() ? EStoreResult::kFailed : EStoreResult::kMissing;
}

bool CApplicationStore::CreateTables() { return Ready("CreateTables") != nullptr; }

namespace {

const SDBColumnBind kColumns[] = {
    {"id", "i", 0}, {"clientId", "i", 0}, {"appTypeId", "i", 0}, {"instance", "i", 0}, {"backupSet", "i", 0},
    {"appNumber", "i", 0}, {"dataArchGrpID", "i", 0}, {"logArchGrpID", "i", 0}, {"refTime", "x", 0},
    {"modified", "x", 0}, {"subclientName", "s257", 0}, {"subclientStatus", "i", 0}, {"hdpId", "i", 0},
    {"hdpTime", "x", 0}, {"origHDId", "i", 0}, {"GUID", "s65", 0},
};

}  // namespace

void CApplicationStore::DescribeTables() {
  CDBConnection::RegisterTable(kTable, kColumns, "id");
}
