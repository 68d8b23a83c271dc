#include "appmgr/ClientStore.h"

#include <sqlite3.h>

#include "db/DBConnection.h"
#include "db/DBStatement.h"
#include "db/DBWriteScope.h"
#include "log/EvEvent.h"

namespace {

CDBConnection* Ready(const char* function) {
  CDBConnection* c = CDBConnection::ForThread();
  if (c != nullptr && c->EnsureTable(CClientStore::kTable) == DB_OK) return c;
  EvDebug().Error(function, "Cannot reach table [%s]: [%s]", CClientStore::kTable,
                  c != nullptr ? c->LastErrorText().c_str() : "no database");
  return nullptr;
}

std::string Text(sqlite3_stmt* s, int col) {
  const unsigned char* t = sqlite3_column_text(s, col);
  return t ? reinterpret_cast<const char*>(t) : "";
}

template <class Bind>
EStoreResult Find(const char* function, const char* sql, Bind bind, SClientRecord& out) {
  CDBConnection* c = Ready(function);
  if (c == nullptr) return EStoreResult::kFailed;
  sqlite3_stmt* s = c->Prepare(sql);
  if (s == nullptr) return EStoreResult::kFailed;
  bind(s);
  const int rc = sqlite3_step(s);
  if (rc == SQLITE_ROW) {
    out.id = sqlite3_column_int(s, 0);
    out.name = Text(s, 1);
    out.hostName = Text(s, 2);
    out.displayName = Text(s, 3);
  }
  c->Release(s);
  if (rc == SQLITE_ROW) return EStoreResult::kOk;
  if (rc == SQLITE_DONE) return EStoreResult::kMissing;
  c->MapError(rc);
  EvDebug().Error(function, "Cannot read [%s]: [%s]", CClientStore::kTable, c->LastErrorText().c_str());
  return EStoreResult::kFailed;
}

bool Step(CDBConnection* c, sqlite3_stmt* s) {
  const int rc = sqlite3_step(s);
  c->Release(s);
  return rc == SQLITE_DONE || c->MapError(rc) == DB_OK;
}

}  // namespace

bool CClientStore::PutClient(const SClientRecord& client) {
  CDBConnection* c = Ready("PutClient");
  if (c == nullptr) return false;
  CDBWriteScope scope(c);
  if (!scope.Ok()) return false;
  sqlite3_stmt* s = c->Prepare("DELETE FROM APP_Client WHERE id = ?");
  if (s == nullptr) return false;
  sqlite3_bind_int(s, 1, client.id);
  if (!Step(c, s)) return false;
  s = c->Prepare("INSERT INTO APP_Client (id, name, net_hostname, displayName) VALUES (?, ?, ?, ?)");
  if (s == nullptr) return false;
  sqlite3_bind_int(s, 1, client.id);
  sqlite3_bind_text(s, 2, client.name.c_str(), -1, SQLITE_TRANSIENT);
  sqlite3_bind_text(s, 3, client.hostName.c_str(), -1, SQLITE_TRANSIENT);
  sqlite3_bind_text(s, 4, client.displayName.c_str(), -1, SQLITE_TRANSIENT);
  if (!Step(c, s)) {
    EvDebug().Error("PutClient", "Cannot store client [%d]: [%s]", client.id, c->LastErrorText().c_str());
    return false;
  }
  return scope.Commit();
}

bool CClientStore::AddClient(SClientRecord& client, int lowestId) {
  CDBConnection* c = Ready("AddClient");
  if (c == nullptr) return false;
  CDBWriteScope scope(c);
  if (!scope.Ok()) return false;
  // The first id from lowestId on that no client holds.
  CDBStatement next(c, "AddClient",
                    "SELECT COALESCE(MIN(a.id + 1), ?) FROM APP_Client a WHERE a.id + 1 >= ? AND NOT EXISTS "
                    "(SELECT 1 FROM APP_Client b WHERE b.id = a.id + 1) AND EXISTS (SELECT 1 FROM APP_Client d "
                    "WHERE d.id = ?)");
  next.Bind(lowestId).Bind(lowestId).Bind(lowestId);
  if (!next.Next()) return false;
  client.id = static_cast<int>(next.Int(0));
  CDBStatement add(c, "AddClient",
                   "INSERT INTO APP_Client (id, name, net_hostname, displayName) VALUES (?, ?, ?, ?)");
  add.Bind(client.id).Bind(client.name).Bind(client.hostName).Bind(client.displayName);
  if (add.Run() != EStoreResult::kOk) return false;
  return scope.Commit();
}

EStoreResult CClientStore::RemoveClient(int clientId) {
  CDBStatement s(Ready("RemoveClient"), "RemoveClient", "DELETE FROM APP_Client WHERE id = ?");
  s.Bind(clientId);
  if (s.Run() != EStoreResult::kOk) return EStoreResult::kFailed;
  return s.Changes() > 0 ? EStoreResult::kOk : EStoreResult::kMissing;
}

EStoreResult CClientStore::FindById(int clientId, SClientRecord& out) {
  return Find(
      "FindById", "SELECT id, name, net_hostname, displayName FROM APP_Client WHERE id = ? LIMIT 1",
      [&](sqlite3_stmt* s) { sqlite3_bind_int(s, 1, clientId); }, out);
}

EStoreResult CClientStore::FindByName(const std::string& name, SClientRecord& out) {
  return Find(
      "FindByName",
      "SELECT id, name, net_hostname, displayName FROM APP_Client WHERE name = ? COLLATE NOCASE LIMIT 1",
      [&](sqlite3_stmt* s) { sqlite3_bind_text(s, 1, name.c_str(), -1, SQLITE_TRANSIENT); }, out);
}

bool CClientStore::CreateTables() { return Ready("CreateTables") != nullptr; }

namespace {

const SDBColumnBind kColumns[] = {
    {"id", "i", 0}, {"name", "s511", 0}, {"simOperatingSystemId", "i", 0}, {"net_hostname", "s511", 0},
    {"client_password", "s511", 0}, {"refTime", "x", 0}, {"modified", "x", 0}, {"offlineEntity", "i", 0},
    {"offlineTimeStamp", "x", 0}, {"dhHostName", "s511", 0}, {"clientDescription", "s", 0},
    {"jobResultDir", "s511", 0}, {"clientSkewTime", "i", 0}, {"zndPort", "i", 0}, {"evclientPort", "i", 0},
    {"status", "i", 0}, {"releaseId", "i", 0}, {"spaceCheckFlags", "i", 0}, {"hdpId", "i", 0}, {"hdpTime", "x", 0},
    {"origHDId", "i", 0}, {"GUID", "s65", 0}, {"specialClientFlags", "i", 0}, {"displayName", "s511", 0},
};

}  // namespace

void CClientStore::DescribeTables() {
  CDBConnection::RegisterTable(kTable, kColumns, "id");
  // Clients are looked up by name as the user typed it.
  CDBConnection::RegisterIndex(kTable, "name COLLATE NOCASE");
}
