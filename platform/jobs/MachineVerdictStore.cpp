#include "jobs/MachineVerdictStore.h"

#include <sqlite3.h>

#include "db/DBConnection.h"
#include "db/DBWriteScope.h"
#include "log/EvEvent.h"

namespace {

const char kSchema[] =
    "CREATE TABLE IF NOT EXISTS PLT_MachineVerdicts ("
    " jobId INTEGER NOT NULL, replicationId INTEGER NOT NULL, attempt INTEGER NOT NULL DEFAULT 0,"
    " position INTEGER NOT NULL DEFAULT 0, name TEXT NOT NULL DEFAULT '', verdict INTEGER NOT NULL,"
    " phase TEXT NOT NULL DEFAULT '', reason TEXT NOT NULL DEFAULT '', restartTakesOver INTEGER NOT NULL DEFAULT 1,"
    " newJobTakesOver INTEGER NOT NULL DEFAULT 0, takingType INTEGER NOT NULL DEFAULT 0,"
    " place INTEGER NOT NULL DEFAULT 0, neededOption INTEGER NOT NULL DEFAULT 0,"
    " runsNowhere INTEGER NOT NULL DEFAULT 0, takenBy INTEGER NOT NULL DEFAULT 0,"
    " PRIMARY KEY (jobId, replicationId))";

int CreateTable(CDBConnection& c) { return c.Exec(kSchema); }

CDBConnection* Ready(const char* function) {
  CDBConnection* c = CDBConnection::ForThread();
  if (c != nullptr && c->EnsureSchema(CMachineVerdictStore::kTable, CreateTable) == DB_OK) return c;
  EvDebug().Error(function, "Cannot reach table [%s]: [%s]", CMachineVerdictStore::kTable,
                  c != nullptr ? c->LastErrorText().c_str() : "no database");
  return nullptr;
}

bool Failed(CDBConnection* c, const char* function, long long jobId) {
  EvDebug().Error(function, "Database error on the verdicts of job [%lld] in [%s]: [%s]", jobId,
                  CMachineVerdictStore::kTable, c->LastErrorText().c_str());
  return false;
}

std::string Column(sqlite3_stmt* s, int col) {
  const unsigned char* t = sqlite3_column_text(s, col);
  return t ? reinterpret_cast<const char*>(t) : "";
}

bool DeleteJob(CDBConnection* c, long long jobId) {
  sqlite3_stmt* s = c->Prepare("DELETE FROM PLT_MachineVerdicts WHERE jobId = ?");
  if (!s) return false;
  sqlite3_bind_int64(s, 1, jobId);
  const int rc = sqlite3_step(s);
  c->Release(s);
  return rc == SQLITE_DONE || c->MapError(rc) == DB_OK;
}

bool Insert(CDBConnection* c, long long jobId, const SMachineVerdict& v) {
  sqlite3_stmt* s = c->Prepare(
      "INSERT OR REPLACE INTO PLT_MachineVerdicts (jobId, replicationId, attempt, position, name, verdict, phase,"
      " reason, restartTakesOver, newJobTakesOver, takingType, place, neededOption, runsNowhere, takenBy)"
      " VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
  if (!s) return false;
  sqlite3_bind_int64(s, 1, jobId);
  sqlite3_bind_int(s, 2, v.replicationId);
  sqlite3_bind_int(s, 3, v.attempt);
  sqlite3_bind_int(s, 4, v.position);
  sqlite3_bind_text(s, 5, v.name.c_str(), -1, SQLITE_TRANSIENT);
  sqlite3_bind_int(s, 6, static_cast<int>(v.verdict));
  sqlite3_bind_text(s, 7, v.phase.c_str(), -1, SQLITE_TRANSIENT);
  sqlite3_bind_text(s, 8, v.reason.c_str(), -1, SQLITE_TRANSIENT);
  sqlite3_bind_int(s, 9, v.restartTakesOver ? 1 : 0);
  sqlite3_bind_int(s, 10, v.newJobTakesOver ? 1 : 0);
  sqlite3_bind_int(s, 11, v.takingType);
  sqlite3_bind_int(s, 12, static_cast<int>(v.place));
  sqlite3_bind_int(s, 13, static_cast<int>(v.neededOption));
  sqlite3_bind_int(s, 14, v.runsNowhere ? 1 : 0);
  sqlite3_bind_int(s, 15, v.takenBy);
  const int rc = sqlite3_step(s);
  c->Release(s);
  return rc == SQLITE_DONE || c->MapError(rc) == DB_OK;
}

}  // namespace

bool CMachineVerdictStore::Replace(long long jobId, const std::vector<SMachineVerdict>& verdicts) {
  CDBConnection* c = Ready("Replace");
  if (c == nullptr) return false;
  CDBWriteScope scope(c);
  if (!scope.Ok() || !DeleteJob(c, jobId)) return Failed(c, "Replace", jobId);
  for (const SMachineVerdict& v : verdicts) {
    if (!Insert(c, jobId, v)) return Failed(c, "Replace", jobId);
  }
  return scope.Commit() || Failed(c, "Replace", jobId);
}

bool CMachineVerdictStore::Clear(long long jobId) {
  CDBConnection* c = Ready("Clear");
  if (c == nullptr) return false;
  return DeleteJob(c, jobId) || Failed(c, "Clear", jobId);
}

EStoreResult CMachineVerdictStore::ReadJob(long long jobId, std::vector<SMachineVerdict>& out) {
  CDBConnection* c = Ready("ReadJob");
  if (c == nullptr) return EStoreResult::kFailed;
  sqlite3_stmt* s = c->Prepare(
      "SELECT replicationId, attempt, position, name, verdict, phase, reason, restartTakesOver, newJobTakesOver,"
      " takingType, place, neededOption, runsNowhere, takenBy FROM PLT_MachineVerdicts"
      " WHERE jobId = ? ORDER BY position, replicationId");
  if (!s) {
    Failed(c, "ReadJob", jobId);
    return EStoreResult::kFailed;
  }
  sqlite3_bind_int64(s, 1, jobId);
  std::vector<SMachineVerdict> rows;
  int rc = SQLITE_ROW;
  while ((rc = sqlite3_step(s)) == SQLITE_ROW) {
    SMachineVerdict v;
    v.jobId = jobId;
    v.replicationId = sqlite3_column_int(s, 0);
    v.attempt = sqlite3_column_int(s, 1);
    v.position = sqlite3_column_int(s, 2);
    v.name = Column(s, 3);
    const int verdict = sqlite3_column_int(s, 4);
    v.verdict = verdict >= 0 && verdict <= static_cast<int>(EMachineVerdict::kNotReached)
                    ? static_cast<EMachineVerdict>(verdict)
                    : EMachineVerdict::kFailed;
    v.phase = Column(s, 5);
    v.reason = Column(s, 6);
    v.restartTakesOver = sqlite3_column_int(s, 7) != 0;
    v.newJobTakesOver = sqlite3_column_int(s, 8) != 0;
    v.takingType = sqlite3_column_int(s, 9);
    const int place = sqlite3_column_int(s, 10);
    v.place = place > 0 && place <= static_cast<int>(EMachinePlace::kNoTestFailover) ? static_cast<EMachinePlace>(place)
                                                                                     : EMachinePlace::kNone;
    const int option = sqlite3_column_int(s, 11);
    v.neededOption = option > 0 && option <= static_cast<int>(EMachineOption::kRestoreOptions)
                         ? static_cast<EMachineOption>(option)
                         : EMachineOption::kNone;
    v.runsNowhere = sqlite3_column_int(s, 12) != 0;
    v.takenBy = sqlite3_column_int(s, 13);
    rows.push_back(v);
  }
  c->Release(s);
  if (rc != SQLITE_DONE) {
    c->MapError(rc);
    Failed(c, "ReadJob", jobId);
    return EStoreResult::kFailed;
  }
  out.swap(rows);
  return EStoreResult::kOk;
}

EStoreResult CMachineVerdictStore::LatestNames(const std::set<int>& replicationIds,
                                               std::map<int, std::string>& names) {
  names.clear();
  if (replicationIds.empty()) return EStoreResult::kOk;
  CDBConnection* c = Ready("LatestNames");
  if (c == nullptr) return EStoreResult::kFailed;
  // One pass over the verdicts, the later jobs' names replacing the
  // earlier ones': the table has no index by replication.
  sqlite3_stmt* s =
      c->Prepare("SELECT replicationId, name FROM PLT_MachineVerdicts WHERE name <> '' ORDER BY jobId, replicationId");
  if (!s) {
    Failed(c, "LatestNames", 0);
    return EStoreResult::kFailed;
  }
  std::map<int, std::string> found;
  int rc = SQLITE_ROW;
  while ((rc = sqlite3_step(s)) == SQLITE_ROW) {
    const int id = sqlite3_column_int(s, 0);
    if (replicationIds.count(id) != 0) found[id] = Column(s, 1);
  }
  c->Release(s);
  if (rc != SQLITE_DONE) {
    c->MapError(rc);
    Failed(c, "LatestNames", 0);
    return EStoreResult::kFailed;
  }
  names.swap(found);
  return EStoreResult::kOk;
}

const char* CMachineVerdictStore::Text(EMachineVerdict verdict) {
  switch (verdict) {
    case EMachineVerdict::kSucceeded: return "succeeded";
    case EMachineVerdict::kSkipped: return "skipped";
    case EMachineVerdict::kNotProcessed: return "not processed";
    case EMachineVerdict::kFailed: return "failed";
    case EMachineVerdict::kNotReached: return "not reached";
  }
  return "failed";
}

const char* CMachineVerdictStore::Text(EMachinePlace place) {
  switch (place) {
    case EMachinePlace::kNone: return "";
    case EMachinePlace::kFailedOver: return "already failed over";
    case EMachinePlace::kAtSource: return "already at the source";
    case EMachinePlace::kInTestFailover: return "already in a test failover";
    case EMachinePlace::kNoTestFailover: return "already without a test failover";
  }
  return "";
}

bool CMachineVerdictStore::CreateTables() { return Ready("CreateTables") != nullptr; }
