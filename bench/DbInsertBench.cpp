// Rows per second written through a binding (rowInsert of a row of about 300
// bytes, one transaction each) against a bare prepared SQLite insert of the
// same row into a twin table on the same file, side by side. The twin has
// the lookup indexes the table's owner declares: an index on the row's long
// value costs more than the binding does, and is paid on both sides.
#include <sqlite3.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>

#include <benchmark/benchmark.h>

#include "Db/Tbl/APP_ClientProp.h"
#include "db/DBConnection.h"

namespace {

std::string g_benchDir;

void RemoveBenchDb() {
  if (g_benchDir.empty()) return;
  for (const char* suffix : {"/bench.db", "/bench.db-wal", "/bench.db-shm"}) unlink((g_benchDir + suffix).c_str());
  rmdir(g_benchDir.c_str());
}

// A database file of its own, removed when the run ends.
const std::string& BenchDb() {
  static const std::string path = [] {
    char tmpl[] = "/tmp/drbench-XXXXXX";
    const char* dir = mkdtemp(tmpl);
    g_benchDir = dir ? dir : "";
    if (dir) atexit(RemoveBenchDb);
    std::string p = std::string(dir ? dir : "/tmp") + "/bench.db";
    CDBConnection::SetPath(p);
    return p;
  }();
  return path;
}

const std::string kName(40, 'n');
const std::string kValue(240, 'v');

void BM_BindingRowInsert(benchmark::State& state) {
  BenchDb();
  DBtable::b_newDBBase = state.range(0) != 0;
  APP_ClientProp row(nullptr);
  APP_ClientProp_t* d = row.getDataPtr();
  d->componentNameId = 7;
  strcpy(d->attrName, kName.c_str());
  strcpy(d->attrVal, kValue.c_str());
  d->created = 1700000000;
  for (auto _ : state) {
    d->id = 0;
    if (row.rowInsert(true) != 0) {
      state.SkipWithError("rowInsert failed");
      break;
    }
  }
  state.SetItemsProcessed(state.iterations());
  DBtable::b_newDBBase = true;
}
BENCHMARK(BM_BindingRowInsert)->Arg(1)->Arg(0)->ArgName("typed");

void BM_BareSqliteInsert(benchmark::State& state) {
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(BenchDb().c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                      nullptr) != SQLITE_OK) {
    state.SkipWithError("open failed");
    return;
  }
  sqlite3_busy_timeout(db, 30000);
  sqlite3_exec(db, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
  sqlite3_exec(db, "PRAGMA synchronous=NORMAL", nullptr, nullptr, nullptr);
  sqlite3_exec(db,
               "CREATE TABLE IF NOT EXISTS BareClientProp (id INTEGER PRIMARY KEY, componentNameId INTEGER, "
               "attrName TEXT, attrType INTEGER, attrVal TEXT, created INTEGER, modified INTEGER, hdpId INTEGER)",
               nullptr, nullptr, nullptr);
  SDBTableSchema typed;
  if (!CDBConnection::FindTable(APP_ClientProp::Desc().name, typed)) {
    state.SkipWithError("no description of the typed table");
    sqlite3_close(db);
    return;
  }
  for (const std::string& columns : typed.indexes) {
    sqlite3_exec(db, CDBConnection::CreateIndexSql("BareClientProp", columns).c_str(), nullptr, nullptr, nullptr);
  }
  sqlite3_stmt *ins = nullptr, *begin = nullptr, *commit = nullptr;
  sqlite3_prepare_v2(db,
                     "INSERT INTO BareClientProp (componentNameId, attrName, attrType, attrVal, created, modified, "
                     "hdpId) VALUES (?,?,?,?,?,?,?)",
                     -1, &ins, nullptr);
  sqlite3_prepare_v2(db, "BEGIN IMMEDIATE", -1, &begin, nullptr);
  sqlite3_prepare_v2(db, "COMMIT", -1, &commit, nullptr);
  for (auto _ : state) {
    sqlite3_step(begin);
    sqlite3_reset(begin);
    sqlite3_bind_int(ins, 1, 7);
    sqlite3_bind_text(ins, 2, kName.c_str(), static_cast<int>(kName.size()), SQLITE_STATIC);
    sqlite3_bind_int(ins, 3, 0);
    sqlite3_bind_text(ins, 4, kValue.c_str(), static_cast<int>(kValue.size()), SQLITE_STATIC);
    sqlite3_bind_int64(ins, 5, 1700000000);
    sqlite3_bind_int64(ins, 6, 0);
    sqlite3_bind_int(ins, 7, 0);
    if (sqlite3_step(ins) != SQLITE_DONE) {
      state.SkipWithError("insert failed");
      break;
    }
    benchmark::DoNotOptimize(sqlite3_last_insert_rowid(db));
    sqlite3_reset(ins);
    sqlite3_step(commit);
    sqlite3_reset(commit);
  }
  state.SetItemsProcessed(state.iterations());
  sqlite3_finalize(ins);
  sqlite3_finalize(begin);
  sqlite3_finalize(commit);
  sqlite3_close(db);
}
BENCHMARK(BM_BareSqliteInsert);

}  // namespace
