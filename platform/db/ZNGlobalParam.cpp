#include "db/ZNGlobalParam.h"

#include <errno.h>
#include <stdlib.h>

#include "db/DBConnection.h"
#include "time/PlatformClock.h"

namespace {

CDBConnection* Ready() {
  CDBConnection* c = CDBConnection::ForThread();
  if (!c) return nullptr;
  if (c->EnsureTable(ZNGlobalParam::kTable) != DB_OK) return nullptr;
  return c;
}

bool ToNumber(const std::string& text, long long& out) {
  if (text.empty()) return false;
  errno = 0;
  char* end = nullptr;
  long long v = strtoll(text.c_str(), &end, 10);
  if (errno != 0 || end == text.c_str()) return false;
  while (*end == ' ' || *end == '\t') ++end;
  if (*end) return false;
  out = v;
  return true;
}

}  // namespace

bool ZNGlobalParam::get(const char* name, std::string& value) {
  if (!name) return false;
  CDBConnection* c = Ready();
  if (!c) return false;
  sqlite3_stmt* s = c->Prepare("SELECT value FROM OBGlobalParam WHERE name = ? ORDER BY id LIMIT 1");
  if (!s) return false;
  sqlite3_bind_text(s, 1, name, -1, SQLITE_TRANSIENT);
  bool found = false;
  if (sqlite3_step(s) == SQLITE_ROW) {
    const unsigned char* t = sqlite3_column_text(s, 0);
    value = t ? reinterpret_cast<const char*>(t) : "";
    found = true;
  }
  c->Release(s);
  return found;
}

bool ZNGlobalParam::get(const char* name, long long& value) {
  std::string text;
  long long v = 0;
  if (!get(name, text) || !ToNumber(text, v)) return false;
  value = v;
  return true;
}

bool ZNGlobalParam::get(const char* name, int& value) {
  long long v = 0;
  if (!get(name, v)) return false;
  value = static_cast<int>(v);
  return true;
}

bool ZNGlobalParam::getDelayTimeBeforeSync(int& value) { return get("nDelayTimeBeforeSync", value); }

bool ZNGlobalParam::set(const char* name, const std::string& value) {
  if (!name) return false;
  CDBConnection* c = Ready();
  if (!c) return false;
  if (c->BeginWrite() != DB_OK) return false;
  bool ok = false;
  // Stamps come from the platform clock, as every stored time of the simulated server.
  const sqlite3_int64 now = CPlatformClock::Instance().NowEpochSeconds();
  sqlite3_stmt* s = c->Prepare("UPDATE OBGlobalParam SET value = ?, modified = ? WHERE name = ?");
  if (s) {
    sqlite3_bind_text(s, 1, value.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_int64(s, 2, now);
    sqlite3_bind_text(s, 3, name, -1, SQLITE_TRANSIENT);
    ok = sqlite3_step(s) == SQLITE_DONE;
    int changed = sqlite3_changes(c->Handle());
    c->Release(s);
    if (ok && changed == 0) {
      s = c->Prepare("INSERT INTO OBGlobalParam (name, value, created, modified) VALUES (?, ?, ?, 0)");
      ok = false;
      if (s) {
        sqlite3_bind_text(s, 1, name, -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(s, 2, value.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_int64(s, 3, now);
        ok = sqlite3_step(s) == SQLITE_DONE;
        c->Release(s);
      }
    }
  }
  if (ok) ok = c->Commit() == DB_OK;
  if (!ok) c->Rollback();
  return ok;
}

namespace {

const SDBColumnBind kColumns[] = {
    {"id", "i", 0}, {"name", "s129", 0}, {"value", "s", 0}, {"created", "x", 0}, {"modified", "x", 0},
};

}  // namespace

void ZNGlobalParam::DescribeTables() {
  CDBConnection::RegisterTable(kTable, kColumns, "id");
}

bool ZNGlobalParam::CreateTables() { return Ready() != nullptr; }
