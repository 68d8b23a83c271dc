#include "jobs/PhaseRowProcedure.h"

#include <sqlite3.h>

#include <mutex>

#include "db/App_ExecuteSP.h"
#include "db/DBConnection.h"
#include "msg/MsgClasses.h"
#include "time/PlatformClock.h"

namespace {

const char* kPhaseTable = "App_VirtualAppJobStats";
// The stand-in server's domain id, as on every row it writes.
const int kHaldenId = 2;
const int kInProgress = 2;

std::mutex g_installMutex;
bool g_installed = false;

// One row change; false on a database error.
bool Upsert(CDBConnection* c, long long jobId, int vappId, int clientId, int replId, int appTypeId,
            const CNMessageBase& phase) {
  const int phaseType = phase.GetInt32(1);
  const int state = phase.GetInt32(2);
  const std::string& details = phase.GetString(3, 3);
  const long long now = CPlatformClock::Instance().NowEpochSeconds();
  const long long endTime = state == kInProgress ? 0 : now;
  // A failed phase keeps its message as the failure reason.
  std::string reason;
  Api::VirtualAppPhaseInfo info;
  if (state == 1 && !details.empty() && info.Unserialize(details) && info.ListSize(1, 1) > 0) {
    reason = info.GetListMsg(1, 1, 0).GetMsg(3, 3).GetString(2, 2).substr(0, 256);
  }

  sqlite3_stmt* s = c->Prepare(
      "UPDATE App_VirtualAppJobStats SET status = ?, details = ?, endTime = ?, failureReason = ?, vappId = ?, "
      "clientId = CASE WHEN ? <> 0 THEN ? ELSE clientId END, appTypeId = ? WHERE jobId = ? AND replicationId = ? "
      "AND phase = ?");
  if (!s) return false;
  sqlite3_bind_int(s, 1, state);
  sqlite3_bind_text(s, 2, details.c_str(), -1, SQLITE_TRANSIENT);
  sqlite3_bind_int64(s, 3, endTime);
  sqlite3_bind_text(s, 4, reason.c_str(), -1, SQLITE_TRANSIENT);
  sqlite3_bind_int(s, 5, vappId);
  sqlite3_bind_int(s, 6, clientId);
  sqlite3_bind_int(s, 7, clientId);
  sqlite3_bind_int(s, 8, appTypeId);
  sqlite3_bind_int64(s, 9, jobId);
  sqlite3_bind_int(s, 10, replId);
  sqlite3_bind_int(s, 11, phaseType);
  int rc = sqlite3_step(s);
  c->Release(s);
  if (rc != SQLITE_DONE) return false;
  if (sqlite3_changes(c->Handle()) > 0) return true;

  s = c->Prepare(
      "INSERT INTO App_VirtualAppJobStats (jobId, haldenId, vappId, clientId, replicationId, phase, phaseName, "
      "status, startTime, endTime, details, failureReason, appTypeId) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
  if (!s) return false;
  std::string name = "Phase " + std::to_string(phaseType);
  sqlite3_bind_int64(s, 1, jobId);
  sqlite3_bind_int(s, 2, kHaldenId);
  sqlite3_bind_int(s, 3, vappId);
  sqlite3_bind_int(s, 4, clientId);
  sqlite3_bind_int(s, 5, replId);
  sqlite3_bind_int(s, 6, phaseType);
  sqlite3_bind_text(s, 7, name.c_str(), -1, SQLITE_TRANSIENT);
  sqlite3_bind_int(s, 8, state);
  sqlite3_bind_int64(s, 9, now);
  sqlite3_bind_int64(s, 10, endTime);
  sqlite3_bind_text(s, 11, details.c_str(), -1, SQLITE_TRANSIENT);
  sqlite3_bind_text(s, 12, reason.c_str(), -1, SQLITE_TRANSIENT);
  sqlite3_bind_int(s, 13, appTypeId);
  rc = sqlite3_step(s);
  c->Release(s);
  return rc == SQLITE_DONE;
}

}  // namespace

int CPhaseRowProcedure::Execute(const std::string& request, std::string& response) {
  Api::VirtualAppJobUpdateReq req;
  if (!req.Unserialize(request)) return -1;
  CDBConnection* c = CDBConnection::ForThread();
  if (!c || c->EnsureTable(kPhaseTable) != DB_OK) return -2;
  const bool own = !c->InTransaction();
  if (own && c->BeginWrite() != DB_OK) return -3;
  bool ok = true;
  for (size_t j = 0; ok && j < req.ListSize(1, 1); ++j) {
    const CNMessageBase& job = req.GetListMsg(1, 1, j);
    const long long jobId = job.GetInt64(6);
    const int vappId = job.GetMsg(2, 2).GetInt32(0);
    const int replId = job.GetInt32(4);
    const int appTypeId = job.GetInt32(7);
    for (size_t p = 0; ok && p < job.ListSize(5, 5); ++p) {
      const CNMessageBase& phase = job.GetListMsg(5, 5, p);
      int clientId = 0;
      Api::VirtualAppPhaseInfo info;
      const std::string& details = phase.GetString(3, 3);
      if (!details.empty() && info.Unserialize(details) && info.ListSize(1, 1) > 0) {
        clientId = static_cast<int>(info.GetListMsg(1, 1, 0).GetMsg(5, 5).GetInt64(47));
      }
      ok = Upsert(c, jobId, vappId, clientId, replId, appTypeId, phase);
    }
  }
  if (own) {
    if (!ok) {
      c->Rollback();
      return -4;
    }
    if (c->Commit() != DB_OK) return -5;
  } else if (!ok) {
    return -4;
  }
  Api::GenericResp resp;
  return resp.serializeUTF8(response) ? 0 : -6;
}

void CPhaseRowProcedure::Install() {
  {
    std::lock_guard<std::mutex> lock(g_installMutex);
    if (g_installed) return;
    g_installed = true;
  }
  Restore();
}

void CPhaseRowProcedure::Restore() { App_ExecuteSP::RegisterHandler(kRequestType, Execute); }
