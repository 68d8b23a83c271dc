#include "appmgr/SubclientActivityStore.h"

#include <sqlite3.h>

#include "db/DBConnection.h"
#include "db/DBStatement.h"
#include "log/EvEvent.h"

namespace {

const char* kSchema =
    "CREATE TABLE IF NOT EXISTS PLT_SubclientActivity (appId INTEGER, opType INTEGER, enabled INTEGER, "
    "PRIMARY KEY (appId, opType))";

CDBConnection* Ready() {
  CDBConnection* c = CDBConnection::ForThread();
  if (c != nullptr &&
      c->EnsureSchema(CSubclientActivityStore::kTable, [](CDBConnection& db) { return db.Exec(kSchema); }) ==
          DB_OK) {
    return c;
  }
  EvDebug().Error("CSubclientActivityStore", "Cannot reach table [%s]", CSubclientActivityStore::kTable);
  return nullptr;
}

}  // namespace

EStoreResult CSubclientActivityStore::IsEnabled(int appId, int opType, bool& enabled) {
  CDBConnection* c = Ready();
  if (c == nullptr) return EStoreResult::kFailed;
  sqlite3_stmt* s = c->Prepare("SELECT enabled FROM PLT_SubclientActivity WHERE appId = ? AND opType = ?");
  if (s == nullptr) return EStoreResult::kFailed;
  sqlite3_bind_int(s, 1, appId);
  sqlite3_bind_int(s, 2, opType);
  const int rc = sqlite3_step(s);
  enabled = rc == SQLITE_ROW ? sqlite3_column_int(s, 0) != 0 : true;
  c->Release(s);
  return rc == SQLITE_ROW || rc == SQLITE_DONE ? EStoreResult::kOk : EStoreResult::kFailed;
}

EStoreResult CSubclientActivityStore::All(std::vector<SSubclientActivity>& out) {
  // A statement that logs and maps its error, so a caller can tell a lock
  // another process holds from other failures.
  CDBStatement s(Ready(), "All", "SELECT appId, opType, enabled FROM PLT_SubclientActivity ORDER BY appId, opType");
  std::vector<SSubclientActivity> rows;
  while (s.Next()) {
    rows.push_back(SSubclientActivity{static_cast<int>(s.Int(0)), static_cast<int>(s.Int(1)), s.Int(2) != 0});
  }
  if (s.Failed()) return EStoreResult::kFailed;
  out.swap(rows);
  return EStoreResult::kOk;
}

bool CSubclientActivityStore::SetEnabled(int appId, int opType, bool enabled) {
  CDBConnection* c = Ready();
  if (c == nullptr) return false;
  sqlite3_stmt* s =
      c->Prepare("INSERT OR REPLACE INTO PLT_SubclientActivity (appId, opType, enabled) VALUES (?, ?, ?)");
  if (s == nullptr) return false;
  sqlite3_bind_int(s, 1, appId);
  sqlite3_bind_int(s, 2, opType);
  sqlite3_bind_int(s, 3, enabled ? 1 : 0);
  const int rc = sqlite3_step(s);
  c->Release(s);
  return rc == SQLITE_DONE;
}

bool CSubclientActivityStore::CreateTables() { return Ready() != nullptr; }
