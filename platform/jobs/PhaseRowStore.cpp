#include "jobs/PhaseRowStore.h"

#include <sqlite3.h>

#include "db/DBConnection.h"
#include "db/DBWriteScope.h"
#include "log/EvEvent.h"
#include "msg/MsgClasses.h"
#include "time/PlatformClock.h"

namespace {

// The stand-in server's domain id, as on every row it writes.
const int kHaldenId = 2;
const int kInProgress = 2;

// The calling thread's connection with the table in place; null (logged)
// when the database cannot be reached.
CDBConnection* Ready(const char* function) {
  CDBConnection* c = CDBConnection::ForThread();
  if (c != nullptr && c->EnsureTable(CPhaseRowStore::kTable) == DB_OK) return c;
  EvDebug().Error(function, "Cannot reach table [%s]: [%s]", CPhaseRowStore::kTable,
                  c != nullptr ? c->LastErrorText().c_str() : "no database");
  return nullptr;
}

bool Failed(CDBConnection* c, const char* function, const char* what) {
  EvDebug().Error(function, "Cannot %s [%s]: [%s]", what, CPhaseRowStore::kTable, c->LastErrorText().c_str());
  return false;
}

std::string Text(sqlite3_stmt* s, int col) {
  const unsigned char* t = sqlite3_column_text(s, col);
  return t ? reinterpret_cast<const char*>(t) : "";
}

bool Update(CDBConnection* c, const SPhaseRowChange& r, long long endTime, bool& updated) {
  sqlite3_stmt* s = c->Prepare(
      "UPDATE App_VirtualAppJobStats SET status = ?, details = ?, endTime = ?, failureReason = ?, vappId = ?, "
      "clientId = CASE WHEN ? <> 0 THEN ? ELSE clientId END, appTypeId = ? WHERE jobId = ? AND replicationId = ? "
      "AND phase = ?");
  if (!s) return false;
  sqlite3_bind_int(s, 1, r.state);
  sqlite3_bind_text(s, 2, r.details.c_str(), -1, SQLITE_TRANSIENT);
  sqlite3_bind_int64(s, 3, endTime);
  sqlite3_bind_text(s, 4, r.failureReason.c_str(), -1, SQLITE_TRANSIENT);
  sqlite3_bind_int(s, 5, r.vappId);
  sqlite3_bind_int(s, 6, r.clientId);
  sqlite3_bind_int(s, 7, r.clientId);
  sqlite3_bind_int(s, 8, r.appTypeId);
  sqlite3_bind_int64(s, 9, r.jobId);
  sqlite3_bind_int(s, 10, r.replicationId);
  sqlite3_bind_int(s, 11, r.phase);
  const int rc = sqlite3_step(s);
  c->Release(s);
  if (rc != SQLITE_DONE) return c->MapError(rc) == DB_OK;
  updated = sqlite3_changes(c->Handle()) > 0;
  return true;
}

// One new row; details and times as given (a null details stays NULL).
bool Insert(CDBConnection* c, const SPhaseRowRecord& r) {
  sqlite3_stmt* s = c->Prepare(
      "INSERT INTO App_VirtualAppJobStats (jobId, haldenId, vappId, clientId, replicationId, phase, phaseName, "
      "status, startTime, endTime, details, failureReason, appTypeId) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
  if (!s) return false;
  sqlite3_bind_int64(s, 1, r.jobId);
  sqlite3_bind_int(s, 2, r.haldenId);
  sqlite3_bind_int(s, 3, r.vappId);
  sqlite3_bind_int(s, 4, r.clientId);
  sqlite3_bind_int(s, 5, r.replicationId);
  sqlite3_bind_int(s, 6, r.phase);
  sqlite3_bind_text(s, 7, r.phaseName.c_str(), -1, SQLITE_TRANSIENT);
  sqlite3_bind_int(s, 8, r.status);
  sqlite3_bind_int64(s, 9, r.startTime);
  sqlite3_bind_int64(s, 10, r.endTime);
  if (r.hasDetails) {
    sqlite3_bind_text(s, 11, r.details.c_str(), -1, SQLITE_TRANSIENT);
  } else {
    sqlite3_bind_null(s, 11);
  }
  sqlite3_bind_text(s, 12, r.failureReason.c_str(), -1, SQLITE_TRANSIENT);
  sqlite3_bind_int(s, 13, r.appTypeId);
  const int rc = sqlite3_step(s);
  c->Release(s);
  return rc == SQLITE_DONE || c->MapError(rc) == DB_OK;
}

bool Upsert(CDBConnection* c, const SPhaseRowChange& change) {
  const long long now = CPlatformClock::Instance().NowEpochSeconds();
  const long long endTime = change.state == kInProgress ? 0 : now;
  bool updated = false;
  if (!Update(c, change, endTime, updated)) return false;
  if (updated) return true;
  SPhaseRowRecord row;
  row.jobId = change.jobId;
  row.haldenId = kHaldenId;
  row.vappId = change.vappId;
  row.clientId = change.clientId;
  row.replicationId = change.replicationId;
  row.phase = change.phase;
  row.phaseName = "Phase " + std::to_string(change.phase);
  row.status = change.state;
  row.startTime = now;
  row.endTime = endTime;
  row.hasDetails = true;
  row.details = change.details;
  row.failureReason = change.failureReason;
  row.appTypeId = change.appTypeId;
  return Insert(c, row);
}

}  // namespace

SPhaseRowChange SPhaseRowChange::Of(const SPhaseRowRecord& row) {
  SPhaseRowChange change;
  change.jobId = row.jobId;
  change.vappId = row.vappId;
  change.clientId = row.clientId;
  change.replicationId = row.replicationId;
  change.appTypeId = row.appTypeId;
  change.phase = row.phase;
  change.state = row.status;
  change.details = row.details;
  return change;
}

bool CPhaseRowStore::Apply(const std::vector<SPhaseRowChange>& changes) {
  CDBConnection* c = Ready("Apply");
  if (c == nullptr) return false;
  CDBWriteScope scope(c);
  if (!scope.Ok()) return Failed(c, "Apply", "begin a write on");
  for (const SPhaseRowChange& change : changes) {
    if (!Upsert(c, change)) return Failed(c, "Apply", "write a phase row of");
  }
  return scope.Commit() || Failed(c, "Apply", "commit the phase rows of");
}

bool CPhaseRowStore::AddApprovalRow(long long drJobId, int vappId, int clientId, int status) {
  CDBConnection* c = Ready("AddApprovalRow");
  if (c == nullptr) return false;
  const long long now = CPlatformClock::Instance().NowEpochSeconds();
  SPhaseRowRecord row;
  row.jobId = drJobId;
  row.haldenId = kHaldenId;
  row.vappId = vappId;
  row.clientId = clientId;
  row.replicationId = 0;
  row.phase = kApprovalPhase;
  row.phaseName = "DR Approval";
  row.status = status;
  row.startTime = now;
  row.endTime = now;
  return Insert(c, row) || Failed(c, "AddApprovalRow", "add the approval row to");
}

EStoreResult CPhaseRowStore::ReadJob(long long jobId, std::vector<SPhaseRowRecord>& rows) {
  CDBConnection* c = Ready("ReadJob");
  if (c == nullptr) return EStoreResult::kFailed;
  sqlite3_stmt* s = c->Prepare(
      "SELECT jobId, haldenId, vappId, clientId, replicationId, phase, phaseName, status, startTime, endTime, "
      "details, failureReason, appTypeId FROM App_VirtualAppJobStats WHERE jobId = ? ORDER BY replicationId, phase");
  if (!s) {
    Failed(c, "ReadJob", "read");
    return EStoreResult::kFailed;
  }
  sqlite3_bind_int64(s, 1, jobId);
  std::vector<SPhaseRowRecord> out;
  int rc = SQLITE_ROW;
  while ((rc = sqlite3_step(s)) == SQLITE_ROW) {
    SPhaseRowRecord r;
    r.jobId = sqlite3_column_int64(s, 0);
    r.haldenId = sqlite3_column_int(s, 1);
    r.vappId = sqlite3_column_int(s, 2);
    r.clientId = sqlite3_column_int(s, 3);
    r.replicationId = sqlite3_column_int(s, 4);
    r.phase = sqlite3_column_int(s, 5);
    r.phaseName = Text(s, 6);
    r.status = sqlite3_column_int(s, 7);
    r.startTime = sqlite3_column_int64(s, 8);
    r.endTime = sqlite3_column_int64(s, 9);
    r.hasDetails = sqlite3_column_type(s, 10) != SQLITE_NULL;
    r.details = Text(s, 10);
    r.failureReason = Text(s, 11);
    r.appTypeId = sqlite3_column_int(s, 12);
    out.push_back(r);
  }
  c->Release(s);
  if (rc != SQLITE_DONE) {
    c->MapError(rc);
    Failed(c, "ReadJob", "read");
    return EStoreResult::kFailed;
  }
  rows.swap(out);
  return EStoreResult::kOk;
}

std::vector<long long> CPhaseRowStore::ChildJobsOf(const std::string& details) {
  std::vector<long long> out;
  Api::VirtualAppPhaseInfo info;
  if (details.empty() || !info.Unserialize(details)) return out;
  for (size_t i = 0; i < info.ListSize(Api::VirtualAppPhaseInfo::kJobInfos); ++i) {
    const CNMessageBase& job = info.GetListMsg(Api::VirtualAppPhaseInfo::kJobInfos, i);
    const long long id = job.GetInt64(Api::VirtualAppJobInfo::kJobId);
    if (id > 0) out.push_back(id);
  }
  return out;
}

EStoreResult CPhaseRowStore::JobsNamingChild(long long childJobId, std::vector<long long>& jobIds) {
  CDBConnection* c = Ready("JobsNamingChild");
  if (c == nullptr) return EStoreResult::kFailed;
  // The text match only narrows the rows down; their details decide.
  sqlite3_stmt* s = c->Prepare(
      "SELECT jobId, details FROM App_VirtualAppJobStats WHERE jobId <> ? AND details LIKE ? ORDER BY jobId");
  if (!s) {
    Failed(c, "JobsNamingChild", "read");
    return EStoreResult::kFailed;
  }
  const std::string pattern = "%>" + std::to_string(childJobId) + "<%";
  sqlite3_bind_int64(s, 1, childJobId);
  sqlite3_bind_text(s, 2, pattern.c_str(), -1, SQLITE_TRANSIENT);
  std::vector<long long> out;
  int rc = SQLITE_ROW;
  while ((rc = sqlite3_step(s)) == SQLITE_ROW) {
    const long long jobId = sqlite3_column_int64(s, 0);
    if (!out.empty() && out.back() == jobId) continue;
    for (long long named : ChildJobsOf(Text(s, 1))) {
      if (named != childJobId) continue;
      out.push_back(jobId);
      break;
    }
  }
  c->Release(s);
  if (rc != SQLITE_DONE) {
    c->MapError(rc);
    Failed(c, "JobsNamingChild", "read");
    return EStoreResult::kFailed;
  }
  jobIds.swap(out);
  return EStoreResult::kOk;
}

EStoreResult CPhaseRowStore::JobsSince(long long jobId, std::map<int, std::vector<long long>>& byReplication) {
  CDBConnection* c = Ready("JobsSince");
  if (c == nullptr) return EStoreResult::kFailed;
  // The rowid orders the rows by when they were added; only the rows after
  // the job's last are read.
  sqlite3_stmt* s = c->Prepare(
      "SELECT replicationId, jobId FROM App_VirtualAppJobStats WHERE rowid > (SELECT MAX(rowid) FROM "
      "App_VirtualAppJobStats WHERE jobId = ?) AND jobId <> ? AND replicationId <> 0 GROUP BY replicationId, jobId "
      "ORDER BY MAX(rowid)");
  if (!s) {
    Failed(c, "JobsSince", "read");
    return EStoreResult::kFailed;
  }
  sqlite3_bind_int64(s, 1, jobId);
  sqlite3_bind_int64(s, 2, jobId);
  std::map<int, std::vector<long long>> out;
  int rc = SQLITE_ROW;
  while ((rc = sqlite3_step(s)) == SQLITE_ROW) {
    out[sqlite3_column_int(s, 0)].push_back(sqlite3_column_int64(s, 1));
  }
  c->Release(s);
  if (rc != SQLITE_DONE) {
    c->MapError(rc);
    Failed(c, "JobsSince", "read");
    return EStoreResult::kFailed;
  }
  byReplication.swap(out);
  return EStoreResult::kOk;
}

bool CPhaseRowStore::CreateTables() { return Ready("CreateTables") != nullptr; }

namespace {

const SDBColumnBind kColumns[] = {
    {"jobId", "i", 0}, {"haldenId", "i", 0}, {"vappId", "i", 0}, {"clientId", "i", 0}, {"replicationId", "i", 0},
    {"phase", "i", 0}, {"phaseName", "s2049", 0}, {"status", "i", 0}, {"startTime", "x", 0}, {"endTime", "x", 0},
    {"details", "s", 0}, {"failureReason", "s257", 0}, {"appTypeId", "i", 0},
};

}  // namespace

void CPhaseRowStore::DescribeTables() {
  CDBConnection::RegisterTable(kTable, kColumns, nullptr);
  // Every phase row update finds its row by these; the table holds every
  // machine's rows of every run.
  CDBConnection::RegisterIndex(kTable, "jobId, replicationId, phase");
}
