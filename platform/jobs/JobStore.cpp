#include "jobs/JobStore.h"

#include <sqlite3.h>

#include "db/DBConnection.h"
#include "jobs/PlatformTables.h"

namespace {

const char* kColumns =
    "jobId, jobType, status, percent, ownerId, optionsXml, restartString, pendingCause, controlOp, parentJobId, name,"
    " inputs, clientId, ignoreOps, opType";

std::string Text(sqlite3_stmt* s, int col) {
  const unsigned char* t = sqlite3_column_text(s, col);
  return t ? reinterpret_cast<const char*>(t) : "";
}

void Read(sqlite3_stmt* s, SJobRecord& r) {
  r.jobId = sqlite3_column_int64(s, 0);
  r.jobType = sqlite3_column_int(s, 1);
  r.status = Text(s, 2);
  r.percent = sqlite3_column_double(s, 3);
  r.ownerId = sqlite3_column_int(s, 4);
  r.optionsXml = Text(s, 5);
  r.restartString = Text(s, 6);
  r.pendingCause = sqlite3_column_int(s, 7);
  r.controlOp = sqlite3_column_int(s, 8);
  r.parentJobId = sqlite3_column_int64(s, 9);
  r.name = Text(s, 10);
  r.inputs = Text(s, 11);
  r.clientId = sqlite3_column_int(s, 12);
  r.ignoreOps = sqlite3_column_int(s, 13) != 0;
  r.opType = sqlite3_column_int(s, 14);
}

// Runs an UPDATE on one job; true when the job exists.
template <class Bind>
bool UpdateJob(const char* sql, long long jobId, Bind bind) {
  CDBConnection* c = CPlatformTables::Ready();
  if (!c) return false;
  sqlite3_stmt* s = c->Prepare(sql);
  if (!s) return false;
  int next = bind(s);
  sqlite3_bind_int64(s, next, jobId);
  int rc = sqlite3_step(s);
  bool ok = rc == SQLITE_DONE && sqlite3_changes(c->Handle()) > 0;
  c->Release(s);
  return ok;
}

}  // namespace

long long CJobStore::CreateJob(const SJobRecord& job) {
  CDBConnection* c = CPlatformTables::Ready();
  if (!c) return 0;
  std::string sql = std::string("INSERT OR REPLACE INTO PLT_Jobs (") + kColumns +
                    ") VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)";
  sqlite3_stmt* s = c->Prepare(sql);
  if (!s) return 0;
  if (job.jobId > 0)
    sqlite3_bind_int64(s, 1, job.jobId);
  else
    sqlite3_bind_null(s, 1);
  sqlite3_bind_int(s, 2, job.jobType);
  sqlite3_bind_text(s, 3, job.status.c_str(), -1, SQLITE_TRANSIENT);
  sqlite3_bind_double(s, 4, job.percent);
  sqlite3_bind_int(s, 5, job.ownerId);
  sqlite3_bind_text(s, 6, job.optionsXml.c_str(), -1, SQLITE_TRANSIENT);
  if (job.restartString.empty())
    sqlite3_bind_null(s, 7);
  else
    sqlite3_bind_text(s, 7, job.restartString.c_str(), -1, SQLITE_TRANSIENT);
  sqlite3_bind_int(s, 8, job.pendingCause);
  sqlite3_bind_int(s, 9, job.controlOp);
  sqlite3_bind_int64(s, 10, job.parentJobId);
  sqlite3_bind_text(s, 11, job.name.c_str(), -1, SQLITE_TRANSIENT);
  sqlite3_bind_text(s, 12, job.inputs.c_str(), -1, SQLITE_TRANSIENT);
  sqlite3_bind_int(s, 13, job.clientId);
  sqlite3_bind_int(s, 14, job.ignoreOps ? 1 : 0);
  sqlite3_bind_int(s, 15, job.opType);
  int rc = sqlite3_step(s);
  c->Release(s);
  if (rc != SQLITE_DONE) return 0;
  return job.jobId > 0 ? job.jobId : sqlite3_last_insert_rowid(c->Handle());
}

bool CJobStore::GetJob(long long jobId, SJobRecord& out) {
  CDBConnection* c = CPlatformTables::Ready();
  if (!c) return false;
  sqlite3_stmt* s = c->Prepare(std::string("SELECT ") + kColumns + " FROM PLT_Jobs WHERE jobId = ?");
  if (!s) return false;
  sqlite3_bind_int64(s, 1, jobId);
  bool found = sqlite3_step(s) == SQLITE_ROW;
  if (found) Read(s, out);
  c->Release(s);
  return found;
}

bool CJobStore::Exists(long long jobId) {
  SJobRecord r;
  return GetJob(jobId, r);
}

std::vector<SJobRecord> CJobStore::Jobs() {
  std::vector<SJobRecord> out;
  CDBConnection* c = CPlatformTables::Ready();
  if (!c) return out;
  sqlite3_stmt* s = c->Prepare(std::string("SELECT ") + kColumns + " FROM PLT_Jobs ORDER BY jobId");
  if (!s) return out;
  while (sqlite3_step(s) == SQLITE_ROW) {
    SJobRecord r;
    Read(s, r);
    out.push_back(r);
  }
  c->Release(s);
  return out;
}

bool CJobStore::SetStatus(long long jobId, const std::string& status, double percent) {
  return UpdateJob("UPDATE PLT_Jobs SET status = ?, percent = ? WHERE jobId = ?", jobId, [&](sqlite3_stmt* s) {
    sqlite3_bind_text(s, 1, status.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_double(s, 2, percent);
    return 3;
  });
}

bool CJobStore::SetPercent(long long jobId, double percent) {
  return UpdateJob("UPDATE PLT_Jobs SET percent = ? WHERE jobId = ?", jobId, [&](sqlite3_stmt* s) {
    sqlite3_bind_double(s, 1, percent);
    return 2;
  });
}

bool CJobStore::SetIgnoreOperations(long long jobId, bool ignore) {
  return UpdateJob("UPDATE PLT_Jobs SET ignoreOps = ? WHERE jobId = ?", jobId, [&](sqlite3_stmt* s) {
    sqlite3_bind_int(s, 1, ignore ? 1 : 0);
    return 2;
  });
}

bool CJobStore::SetPendingCause(long long jobId, int code) {
  return UpdateJob("UPDATE PLT_Jobs SET pendingCause = ? WHERE jobId = ?", jobId, [&](sqlite3_stmt* s) {
    sqlite3_bind_int(s, 1, code);
    return 2;
  });
}

bool CJobStore::SetControlOperation(long long jobId, int op) {
  return UpdateJob("UPDATE PLT_Jobs SET controlOp = ? WHERE jobId = ?", jobId, [&](sqlite3_stmt* s) {
    sqlite3_bind_int(s, 1, op);
    return 2;
  });
}

int CJobStore::GetControlOperation(long long jobId) {
  SJobRecord r;
  return GetJob(jobId, r) ? r.controlOp : 0;
}

bool CJobStore::SetOperationType(long long jobId, int opType) {
  return UpdateJob("UPDATE PLT_Jobs SET opType = ? WHERE jobId = ?", jobId, [&](sqlite3_stmt* s) {
    sqlite3_bind_int(s, 1, opType);
    return 2;
  });
}

bool CJobStore::GetOperationType(long long jobId, int& opType) {
  SJobRecord r;
  if (!GetJob(jobId, r)) return false;
  opType = r.opType;
  return true;
}

bool CJobStore::SetRestartString(long long jobId, const std::string& text) {
  return UpdateJob("UPDATE PLT_Jobs SET restartString = ? WHERE jobId = ?", jobId, [&](sqlite3_stmt* s) {
    sqlite3_bind_text(s, 1, text.c_str(), -1, SQLITE_TRANSIENT);
    return 2;
  });
}

std::string CJobStore::GetRestartString(long long jobId) {
  SJobRecord r;
  return GetJob(jobId, r) ? r.restartString : std::string();
}

bool CJobStore::ApplyOperation(long long jobId, int op) {
  SJobRecord r;
  if (!GetJob(jobId, r)) return false;
  if (r.ignoreOps) return true;
  switch (op) {
    case 0:
      return SetStatus(jobId, "Suspended", r.percent);
    case 2:
      return SetStatus(jobId, "Running", r.percent);
    case 3:
      return SetStatus(jobId, "Killed", 100.0);
    default:
      return true;
  }
}
