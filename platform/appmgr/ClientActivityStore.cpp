#include "appmgr/ClientActivityStore.h"

#include <sqlite3.h>

#include "db/DBConnection.h"
#include "log/EvEvent.h"
#include "time/PlatformClock.h"

namespace {

const char* kSchema =
    "CREATE TABLE IF NOT EXISTS PLT_ClientActivity (clientId INTEGER, activityType INTEGER, enabled INTEGER, "
    "changed INTEGER, PRIMARY KEY (clientId, activityType))";

CDBConnection* Ready() {
  CDBConnection* c = CDBConnection::ForThread();
  if (c != nullptr &&
      c->EnsureSchema(CClientActivityStore::kTable, [](CDBConnection& db) { return db.Exec(kSchema); }) == DB_OK) {
    return c;
  }
  EvDebug().Error("CClientActivityStore", "Cannot reach table [%s]", CClientActivityStore::kTable);
  return nullptr;
}

}  // namespace

EStoreResult CClientActivityStore::IsEnabled(long long clientId, int activityType, bool& enabled) {
  std::vector<SClientActivityRecord> rows;
  if (Records(rows) != EStoreResult::kOk) return EStoreResult::kFailed;
  enabled = true;
  for (const SClientActivityRecord& r : rows) {
    if (r.clientId == clientId && r.activityType == activityType) enabled = r.enabled != 0;
  }
  return EStoreResult::kOk;
}

bool CClientActivityStore::SetEnabled(long long clientId, int activityType, bool enabled) {
  CDBConnection* c = Ready();
  if (c == nullptr) return false;
  sqlite3_stmt* s = c->Prepare(
      "INSERT INTO PLT_ClientActivity (clientId, activityType, enabled, changed) VALUES (?, ?, ?, ?) "
      "ON CONFLICT (clientId, activityType) DO UPDATE SET enabled = excluded.enabled, changed = excluded.changed");
  if (s == nullptr) return false;
  sqlite3_bind_int64(s, 1, clientId);
  sqlite3_bind_int(s, 2, activityType);
  sqlite3_bind_int(s, 3, enabled ? 1 : 0);
  sqlite3_bind_int64(s, 4, CPlatformClock::Instance().NowEpochSeconds());
  const int rc = sqlite3_step(s);
  c->Release(s);
  return rc == SQLITE_DONE;
}

EStoreResult CClientActivityStore::Records(std::vector<SClientActivityRecord>& out) {
  CDBConnection* c = Ready();
  if (c == nullptr) return EStoreResult::kFailed;
  sqlite3_stmt* s =
      c->Prepare("SELECT clientId, activityType, enabled, changed FROM PLT_ClientActivity ORDER BY clientId, "
                 "activityType");
  if (s == nullptr) return EStoreResult::kFailed;
  std::vector<SClientActivityRecord> rows;
  int rc = SQLITE_ROW;
  while ((rc = sqlite3_step(s)) == SQLITE_ROW) {
    SClientActivityRecord r;
    r.clientId = sqlite3_column_int64(s, 0);
    r.activityType = sqlite3_column_int(s, 1);
    r.enabled = sqlite3_column_int(s, 2);
    r.changed = sqlite3_column_int64(s, 3);
    rows.push_back(r);
  }
  c->Release(s);
  if (rc != SQLITE_DONE) return EStoreResult::kFailed;
  out.swap(rows);
  return EStoreResult::kOk;
}

bool CClientActivityStore::CreateTables() { return Ready() != nullptr; }
