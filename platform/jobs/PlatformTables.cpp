#include "jobs/PlatformTables.h"

#include <sqlite3.h>

#include "db/DBConnection.h"

namespace {

const char* kSchema =
    "CREATE TABLE IF NOT EXISTS PLT_Jobs ("
    " jobId INTEGER PRIMARY KEY, jobType INTEGER NOT NULL DEFAULT 0, status TEXT NOT NULL DEFAULT 'Running',"
    " percent REAL NOT NULL DEFAULT 0, ownerId INTEGER NOT NULL DEFAULT 1, optionsXml TEXT,"
    " restartString TEXT, pendingCause INTEGER NOT NULL DEFAULT 0, controlOp INTEGER NOT NULL DEFAULT 0,"
    " parentJobId INTEGER NOT NULL DEFAULT 0, name TEXT, inputs TEXT, clientId INTEGER NOT NULL DEFAULT 0,"
    " ignoreOps INTEGER NOT NULL DEFAULT 0, opType INTEGER NOT NULL DEFAULT 0);"
    "CREATE TABLE IF NOT EXISTS PLT_Users (id INTEGER PRIMARY KEY, name TEXT, email TEXT);"
    "CREATE TABLE IF NOT EXISTS PLT_DRGroups (id INTEGER PRIMARY KEY, name TEXT UNIQUE, xml TEXT);"
    "CREATE TABLE IF NOT EXISTS PLT_Outbox (id INTEGER PRIMARY KEY AUTOINCREMENT, recipient TEXT,"
    " subject TEXT, body TEXT, userId INTEGER);"
    "CREATE TABLE IF NOT EXISTS PLT_Knobs (name TEXT PRIMARY KEY, value TEXT);"
    "CREATE TABLE IF NOT EXISTS PLT_Tasks (id INTEGER PRIMARY KEY, xml TEXT);";

// A database written before jobs had an operation type gets the column.
bool HasOpTypeColumn(CDBConnection* c) {
  sqlite3_stmt* s = c->Prepare("SELECT opType FROM PLT_Jobs LIMIT 0");
  if (!s) return false;
  c->Release(s);
  return true;
}

}  // namespace

CDBConnection* CPlatformTables::Ready() {
  CDBConnection* c = CDBConnection::ForThread();
  if (!c) return nullptr;
  // Cheap when the tables exist; a test may have moved to a new file.
  if (c->Exec(kSchema) != DB_OK) return nullptr;
  if (!HasOpTypeColumn(c) && c->Exec("ALTER TABLE PLT_Jobs ADD COLUMN opType INTEGER NOT NULL DEFAULT 0") != DB_OK) {
    return nullptr;
  }
  return c;
}
