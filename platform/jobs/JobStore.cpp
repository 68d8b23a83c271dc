#include "jobs/JobStore.h"

#include <sqlite3.h>

#include "db/DBConnection.h"
#include "db/DBWriteScope.h"
#include "log/EvEvent.h"

namespace {

const char* kColumns =
    "jobId, jobType, status, percent, ownerId, optionsXml, restartString, pendingCause, controlOp, parentJobId, name,"
    " inputs, clientId, ignoreOps, opType, runnerHost, runnerPid, runnerStart";

const char* kSchema =
    "CREATE TABLE IF NOT EXISTS PLT_Jobs ("
    " jobId INTEGER PRIMARY KEY, jobType INTEGER NOT NULL DEFAULT 0, status TEXT NOT NULL DEFAULT 'Running',"
    " percent REAL NOT NULL DEFAULT 0, ownerId INTEGER NOT NULL DEFAULT 1, optionsXml TEXT,"
    " restartString TEXT, pendingCause INTEGER NOT NULL DEFAULT 0, controlOp INTEGER NOT NULL DEFAULT 0,"
    " parentJobId INTEGER NOT NULL DEFAULT 0, name TEXT, inputs TEXT, clientId INTEGER NOT NULL DEFAULT 0,"
    " ignoreOps INTEGER NOT NULL DEFAULT 0, opType INTEGER NOT NULL DEFAULT 0, runnerHost TEXT,"
    " runnerPid INTEGER NOT NULL DEFAULT 0, runnerStart INTEGER NOT NULL DEFAULT 0)";

// A database written before jobs had an operation type gets the column.
int CreateTable(CDBConnection& c) {
  int rc = c.Exec(kSchema);
  if (rc != DB_OK) return rc;
  sqlite3_stmt* s = c.Prepare("SELECT opType FROM PLT_Jobs LIMIT 0", false);
  if (s != nullptr) {
    c.Release(s);
    return DB_OK;
  }
  return c.Exec("ALTER TABLE PLT_Jobs ADD COLUMN opType INTEGER NOT NULL DEFAULT 0");
}

// The calling thread's connection with the jobs table; null (logged) when
// the database cannot be reached.
CDBConnection* Ready(const char* function) {
  CDBConnection* c = CDBConnection::ForThread();
  if (c != nullptr && c->EnsureSchema(CJobStore::kTable, CreateTable) == DB_OK) return c;
  EvDebug().Error(function, "Cannot reach table [%s]: [%s]", CJobStore::kTable,
                  c != nullptr ? c->LastErrorText().c_str() : "no database");
  return nullptr;
}

EStoreResult Failed(CDBConnection* c, const char* function, long long jobId) {
  EvDebug().Error(function, "Database error on job [%lld] in [%s]: [%s]", jobId, CJobStore::kTable,
                  c->LastErrorText().c_str());
  return EStoreResult::kFailed;
}

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
  r.runner.host = Text(s, 15);
  r.runner.pid = sqlite3_column_int64(s, 16);
  r.runner.startTicks = sqlite3_column_int64(s, 17);
}

void BindRunner(sqlite3_stmt* s, int first, const SProcessId& runner) {
  if (runner.Empty()) {
    sqlite3_bind_null(s, first);
  } else {
    sqlite3_bind_text(s, first, runner.host.c_str(), -1, SQLITE_TRANSIENT);
  }
  sqlite3_bind_int64(s, first + 1, runner.pid);
  sqlite3_bind_int64(s, first + 2, runner.startTicks);
}

// Runs an UPDATE of one job: kMissing when no job has the id.
template <class Bind>
EStoreResult UpdateJob(const char* function, const char* sql, long long jobId, Bind bind) {
  CDBConnection* c = Ready(function);
  if (!c) return EStoreResult::kFailed;
  sqlite3_stmt* s = c->Prepare(sql);
  if (!s) return Failed(c, function, jobId);
  const int next = bind(s);
  sqlite3_bind_int64(s, next, jobId);
  const int rc = sqlite3_step(s);
  c->Release(s);
  if (rc != SQLITE_DONE) {
    c->MapError(rc);
    return Failed(c, function, jobId);
  }
  return sqlite3_changes(c->Handle()) > 0 ? EStoreResult::kOk : EStoreResult::kMissing;
}

}  // namespace

bool CJobStore::CreateTables() { return Ready("CreateTables") != nullptr; }

long long CJobStore::CreateJob(const SJobRecord& job) {
  CDBConnection* c = Ready("CreateJob");
  if (!c) return 0;
  // A plain INSERT: a taken id is a constraint error, never a replacement.
  const std::string sql =
      std::string("INSERT INTO PLT_Jobs (") + kColumns +
      ") VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)";
  sqlite3_stmt* s = c->Prepare(sql);
  if (!s) {
    Failed(c, "CreateJob", job.jobId);
    return 0;
  }
  if (job.jobId > 0) {
    sqlite3_bind_int64(s, 1, job.jobId);
  } else {
    sqlite3_bind_null(s, 1);
  }
  sqlite3_bind_int(s, 2, job.jobType);
  sqlite3_bind_text(s, 3, job.status.c_str(), -1, SQLITE_TRANSIENT);
  sqlite3_bind_double(s, 4, job.percent);
  sqlite3_bind_int(s, 5, job.ownerId);
  sqlite3_bind_text(s, 6, job.optionsXml.c_str(), -1, SQLITE_TRANSIENT);
  if (job.restartString.empty()) {
    sqlite3_bind_null(s, 7);
  } else {
    sqlite3_bind_text(s, 7, job.restartString.c_str(), -1, SQLITE_TRANSIENT);
  }
  sqlite3_bind_int(s, 8, job.pendingCause);
  sqlite3_bind_int(s, 9, job.controlOp);
  sqlite3_bind_int64(s, 10, job.parentJobId);
  sqlite3_bind_text(s, 11, job.name.c_str(), -1, SQLITE_TRANSIENT);
  sqlite3_bind_text(s, 12, job.inputs.c_str(), -1, SQLITE_TRANSIENT);
  sqlite3_bind_int(s, 13, job.clientId);
  sqlite3_bind_int(s, 14, job.ignoreOps ? 1 : 0);
  sqlite3_bind_int(s, 15, job.opType);
  BindRunner(s, 16, job.runner);
  const int rc = sqlite3_step(s);
  c->Release(s);
  if (rc != SQLITE_DONE) {
    c->MapError(rc);
    Failed(c, "CreateJob", job.jobId);
    return 0;
  }
  return job.jobId > 0 ? job.jobId : sqlite3_last_insert_rowid(c->Handle());
}

EStoreResult CJobStore::GetJob(long long jobId, SJobRecord& out) {
  CDBConnection* c = Ready("GetJob");
  if (!c) return EStoreResult::kFailed;
  sqlite3_stmt* s = c->Prepare(std::string("SELECT ") + kColumns + " FROM PLT_Jobs WHERE jobId = ?");
  if (!s) return Failed(c, "GetJob", jobId);
  sqlite3_bind_int64(s, 1, jobId);
  const int rc = sqlite3_step(s);
  if (rc == SQLITE_ROW) Read(s, out);
  c->Release(s);
  if (rc == SQLITE_ROW) return EStoreResult::kOk;
  if (rc == SQLITE_DONE) return EStoreResult::kMissing;
  c->MapError(rc);
  return Failed(c, "GetJob", jobId);
}

namespace {

// The jobs a statement selects, bound to parentJobId when it is not 0.
EStoreResult SelectJobs(const char* function, const std::string& where, long long parentJobId,
                        std::vector<SJobRecord>& out) {
  CDBConnection* c = Ready(function);
  if (!c) return EStoreResult::kFailed;
  sqlite3_stmt* s = c->Prepare(std::string("SELECT ") + kColumns + " FROM PLT_Jobs" + where + " ORDER BY jobId");
  if (!s) return Failed(c, function, parentJobId);
  if (parentJobId != 0) sqlite3_bind_int64(s, 1, parentJobId);
  std::vector<SJobRecord> jobs;
  int rc = SQLITE_ROW;
  while ((rc = sqlite3_step(s)) == SQLITE_ROW) {
    SJobRecord r;
    Read(s, r);
    jobs.push_back(r);
  }
  c->Release(s);
  if (rc != SQLITE_DONE) {
    c->MapError(rc);
    return Failed(c, function, parentJobId);
  }
  out.swap(jobs);
  return EStoreResult::kOk;
}

}  // namespace

EStoreResult CJobStore::Jobs(std::vector<SJobRecord>& out) { return SelectJobs("Jobs", "", 0, out); }

EStoreResult CJobStore::JobsOf(long long parentJobId, std::vector<SJobRecord>& out) {
  if (parentJobId == 0) {
    out.clear();
    return EStoreResult::kOk;
  }
  return SelectJobs("JobsOf", " WHERE parentJobId = ?", parentJobId, out);
}

EStoreResult CJobStore::SetStatus(long long jobId, const std::string& status, double percent) {
  return UpdateJob("SetStatus", "UPDATE PLT_Jobs SET status = ?, percent = ? WHERE jobId = ?", jobId,
                   [&](sqlite3_stmt* s) {
                     sqlite3_bind_text(s, 1, status.c_str(), -1, SQLITE_TRANSIENT);
                     sqlite3_bind_double(s, 2, percent);
                     return 3;
                   });
}

EStoreResult CJobStore::SetPercent(long long jobId, double percent) {
  return UpdateJob("SetPercent", "UPDATE PLT_Jobs SET percent = ? WHERE jobId = ?", jobId, [&](sqlite3_stmt* s) {
    sqlite3_bind_double(s, 1, percent);
    return 2;
  });
}

EStoreResult CJobStore::EndIfActive(long long jobId, const std::string& status, bool runningOnly) {
  const char* sql = runningOnly
                        ? "UPDATE PLT_Jobs SET status = ?, percent = 100 WHERE status = 'Running' AND jobId = ?"
                        : "UPDATE PLT_Jobs SET status = ?, percent = 100 WHERE status IN ('Running', 'Suspended') "
                          "AND jobId = ?";
  return UpdateJob("EndIfActive", sql, jobId, [&](sqlite3_stmt* s) {
    sqlite3_bind_text(s, 1, status.c_str(), -1, SQLITE_TRANSIENT);
    return 2;
  });
}

EStoreResult CJobStore::ChangeStatusIf(long long jobId, const std::string& from, const std::string& to) {
  return UpdateJob("ChangeStatusIf", "UPDATE PLT_Jobs SET status = ? WHERE status = ? AND jobId = ?", jobId,
                   [&](sqlite3_stmt* s) {
                     sqlite3_bind_text(s, 1, to.c_str(), -1, SQLITE_TRANSIENT);
                     sqlite3_bind_text(s, 2, from.c_str(), -1, SQLITE_TRANSIENT);
                     return 3;
                   });
}

EStoreResult CJobStore::SetPercentIfActive(long long jobId, double percent) {
  return UpdateJob("SetPercentIfActive",
                   "UPDATE PLT_Jobs SET percent = ? WHERE status IN ('Running', 'Suspended') AND jobId = ?", jobId,
                   [&](sqlite3_stmt* s) {
                     sqlite3_bind_double(s, 1, percent);
                     return 2;
                   });
}

EStoreResult CJobStore::SetIgnoreOperations(long long jobId, bool ignore) {
  return UpdateJob("SetIgnoreOperations", "UPDATE PLT_Jobs SET ignoreOps = ? WHERE jobId = ?", jobId,
                   [&](sqlite3_stmt* s) {
                     sqlite3_bind_int(s, 1, ignore ? 1 : 0);
                     return 2;
                   });
}

EStoreResult CJobStore::SetPendingCause(long long jobId, int code) {
  return UpdateJob("SetPendingCause", "UPDATE PLT_Jobs SET pendingCause = ? WHERE jobId = ?", jobId,
                   [&](sqlite3_stmt* s) {
                     sqlite3_bind_int(s, 1, code);
                     return 2;
                   });
}

EStoreResult CJobStore::SetControlOperation(long long jobId, int op) {
  return UpdateJob("SetControlOperation", "UPDATE PLT_Jobs SET controlOp = ? WHERE jobId = ?", jobId,
                   [&](sqlite3_stmt* s) {
                     sqlite3_bind_int(s, 1, op);
                     return 2;
                   });
}

EStoreResult CJobStore::RequestControl(long long jobId, int op) {
  return UpdateJob("RequestControl", "UPDATE PLT_Jobs SET controlOp = ? WHERE status = 'Running' AND jobId = ?", jobId,
                   [&](sqlite3_stmt* s) {
                     sqlite3_bind_int(s, 1, op);
                     return 2;
                   });
}

EStoreResult CJobStore::EndRun(long long jobId, const std::string& status, double percent, int& request) {
  CDBConnection* c = Ready("EndRun");
  if (!c) return EStoreResult::kFailed;
  CDBWriteScope scope(c);
  if (!scope.Ok()) return Failed(c, "EndRun", jobId);
  SJobRecord r;
  EStoreResult result = GetJob(jobId, r);
  if (result != EStoreResult::kOk) return result;
  // Between the read and the write, inside the transaction: a test pins
  // with a pause point here that no request falls between them.
  EvDebug(jobId).Debug("EndRun", "Read the control request [%d] of job [%lld]; storing its final state [%s]",
                       r.controlOp, jobId, status.c_str());
  result = SetStatus(jobId, status, percent);
  if (result != EStoreResult::kOk) return result;
  if (!scope.Commit()) return Failed(c, "EndRun", jobId);
  request = r.controlOp;
  return EStoreResult::kOk;
}

EStoreResult CJobStore::GetControlOperation(long long jobId, int& op) {
  SJobRecord r;
  const EStoreResult result = GetJob(jobId, r);
  if (result == EStoreResult::kOk) op = r.controlOp;
  return result;
}

EStoreResult CJobStore::SetOperationType(long long jobId, int opType) {
  return UpdateJob("SetOperationType", "UPDATE PLT_Jobs SET opType = ? WHERE jobId = ?", jobId,
                   [&](sqlite3_stmt* s) {
                     sqlite3_bind_int(s, 1, opType);
                     return 2;
                   });
}

EStoreResult CJobStore::GetOperationType(long long jobId, int& opType) {
  SJobRecord r;
  const EStoreResult result = GetJob(jobId, r);
  if (result == EStoreResult::kOk) opType = r.opType;
  return result;
}

EStoreResult CJobStore::SetRestartString(long long jobId, const std::string& text) {
  return UpdateJob("SetRestartString", "UPDATE PLT_Jobs SET restartString = ? WHERE jobId = ?", jobId,
                   [&](sqlite3_stmt* s) {
                     sqlite3_bind_text(s, 1, text.c_str(), -1, SQLITE_TRANSIENT);
                     return 2;
                   });
}

EStoreResult CJobStore::GetRestartString(long long jobId, std::string& text) {
  SJobRecord r;
  const EStoreResult result = GetJob(jobId, r);
  if (result == EStoreResult::kOk) text = r.restartString;
  return result;
}

EStoreResult CJobStore::ApplyOperation(long long jobId, int op) {
  SJobRecord r;
  const EStoreResult found = GetJob(jobId, r);
  if (found != EStoreResult::kOk) return found;
  if (r.ignoreOps) return EStoreResult::kOk;
  switch (op) {
    case 0:
      return SetStatus(jobId, "Suspended", r.percent);
    case 2:
      return SetStatus(jobId, "Running", r.percent);
    case 3:
      return SetStatus(jobId, "Killed", 100.0);
    default:
      return EStoreResult::kOk;
  }
}

ELeaseResult CJobStore::TakeRunLease(long long jobId, const SProcessId& runner, SProcessId& previous) {
  previous = SProcessId();
  CDBConnection* c = Ready("TakeRunLease");
  if (!c) return ELeaseResult::kFailed;
  // Read and write under the write lock: two processes that find the lease
  // free cannot both take it.
  CDBWriteScope scope(c);
  if (!scope.Ok()) {
    Failed(c, "TakeRunLease", jobId);
    return ELeaseResult::kFailed;
  }
  sqlite3_stmt* s = c->Prepare("SELECT runnerHost, runnerPid, runnerStart FROM PLT_Jobs WHERE jobId = ?");
  if (!s) {
    Failed(c, "TakeRunLease", jobId);
    return ELeaseResult::kFailed;
  }
  sqlite3_bind_int64(s, 1, jobId);
  int rc = sqlite3_step(s);
  SProcessId holder;
  if (rc == SQLITE_ROW) {
    holder.host = Text(s, 0);
    holder.pid = sqlite3_column_int64(s, 1);
    holder.startTicks = sqlite3_column_int64(s, 2);
  }
  c->Release(s);
  if (rc == SQLITE_DONE) return ELeaseResult::kMissing;
  if (rc != SQLITE_ROW) {
    c->MapError(rc);
    Failed(c, "TakeRunLease", jobId);
    return ELeaseResult::kFailed;
  }
  if (holder == runner) return scope.Commit() ? ELeaseResult::kTaken : ELeaseResult::kFailed;
  if (!holder.Empty() && CProcessIdentity::StateOf(holder) != CProcessIdentity::kGone) {
    previous = holder;
    return ELeaseResult::kHeld;
  }
  s = c->Prepare("UPDATE PLT_Jobs SET runnerHost = ?, runnerPid = ?, runnerStart = ? WHERE jobId = ?");
  if (!s) {
    Failed(c, "TakeRunLease", jobId);
    return ELeaseResult::kFailed;
  }
  BindRunner(s, 1, runner);
  sqlite3_bind_int64(s, 4, jobId);
  rc = sqlite3_step(s);
  c->Release(s);
  if (rc != SQLITE_DONE || !scope.Commit()) {
    if (rc != SQLITE_DONE) c->MapError(rc);
    Failed(c, "TakeRunLease", jobId);
    return ELeaseResult::kFailed;
  }
  previous = holder;
  if (!holder.Empty()) {
    EvDebug().Debug("TakeRunLease", "Job [%lld]: took over the run lease of [%s], which has gone", jobId,
                    CProcessIdentity::Text(holder).c_str());
  }
  return ELeaseResult::kTaken;
}

EStoreResult CJobStore::ReleaseRunLease(long long jobId, const SProcessId& runner) {
  return UpdateJob("ReleaseRunLease",
                   "UPDATE PLT_Jobs SET runnerHost = NULL, runnerPid = 0, runnerStart = 0"
                   " WHERE runnerHost = ? AND runnerPid = ? AND runnerStart = ? AND jobId = ?",
                   jobId, [&](sqlite3_stmt* s) {
                     sqlite3_bind_text(s, 1, runner.host.c_str(), -1, SQLITE_TRANSIENT);
                     sqlite3_bind_int64(s, 2, runner.pid);
                     sqlite3_bind_int64(s, 3, runner.startTicks);
                     return 4;
                   });
}

EStoreResult CJobStore::FindLiveRunner(long long& jobId, SProcessId& runner) {
  CDBConnection* c = Ready("FindLiveRunner");
  if (!c) return EStoreResult::kFailed;
  // A table made before the lease existed (a lab seeded before) has no
  // lease a process could hold.
  sqlite3_stmt* probe = c->Prepare("SELECT runnerHost, runnerPid, runnerStart FROM PLT_Jobs LIMIT 0", false);
  if (probe == nullptr) return EStoreResult::kMissing;
  c->Release(probe);
  sqlite3_stmt* s =
      c->Prepare("SELECT jobId, runnerHost, runnerPid, runnerStart FROM PLT_Jobs WHERE runnerPid != 0 ORDER BY jobId");
  if (!s) return Failed(c, "FindLiveRunner", 0);
  int rc = SQLITE_ROW;
  EStoreResult result = EStoreResult::kMissing;
  while (result == EStoreResult::kMissing && (rc = sqlite3_step(s)) == SQLITE_ROW) {
    SProcessId holder;
    holder.host = Text(s, 1);
    holder.pid = sqlite3_column_int64(s, 2);
    holder.startTicks = sqlite3_column_int64(s, 3);
    if (CProcessIdentity::StateOf(holder) == CProcessIdentity::kGone) continue;
    jobId = sqlite3_column_int64(s, 0);
    runner = holder;
    result = EStoreResult::kOk;
  }
  c->Release(s);
  if (result == EStoreResult::kMissing && rc != SQLITE_DONE) {
    c->MapError(rc);
    return Failed(c, "FindLiveRunner", 0);
  }
  return result;
}
