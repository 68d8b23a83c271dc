#include "tasksim/VMStatusStore.h"

#include "jobsim/SimSql.h"
#include "time/PlatformClock.h"

namespace {

int CreateTable(CDBConnection& c) {
  int rc = c.Exec(
      "CREATE TABLE IF NOT EXISTS PLT_VMStatus (jobId INTEGER NOT NULL, replicationId INTEGER NOT NULL,"
      " vmGuid TEXT, status INTEGER NOT NULL, reason TEXT, recorded INTEGER NOT NULL DEFAULT 0,"
      " PRIMARY KEY (jobId, replicationId))");
  if (rc == DB_OK) {
    rc = c.Exec(
        "CREATE TABLE IF NOT EXISTS PLT_VMStatusFaults (replicationId INTEGER PRIMARY KEY,"
        " leftOut INTEGER NOT NULL DEFAULT 0, reason TEXT)");
  }
  return rc;
}

CDBConnection* Ready(const char* function) { return SimReady(function, CVMStatusStore::kTables[0], CreateTable); }

bool PutFault(const char* function, int replicationId, bool leftOut, const std::string& reason) {
  CSimStatement s(Ready(function), function,
                  "INSERT OR REPLACE INTO PLT_VMStatusFaults (replicationId, leftOut, reason) VALUES (?, ?, ?)");
  s.Bind(replicationId).Bind(leftOut ? 1 : 0).Bind(reason);
  return s.Run() == EStoreResult::kOk;
}

}  // namespace

bool CVMStatusStore::Add(const SVMStatusEntry& e) {
  CSimStatement s(Ready("Add"), "Add",
                  "INSERT OR REPLACE INTO PLT_VMStatus (jobId, replicationId, vmGuid, status, reason, recorded)"
                  " VALUES (?, ?, ?, ?, ?, ?)");
  s.Bind(e.jobId).Bind(e.replicationId).Bind(e.vmGuid).Bind(e.status).Bind(e.reason);
  s.Bind(CPlatformClock::Instance().NowEpochSeconds());
  return s.Run() == EStoreResult::kOk;
}

EStoreResult CVMStatusStore::OfJob(long long jobId, std::vector<SVMStatusEntry>& out) {
  CSimStatement s(Ready("OfJob"), "OfJob",
                  "SELECT replicationId, vmGuid, status, reason FROM PLT_VMStatus WHERE jobId = ?"
                  " ORDER BY replicationId");
  s.Bind(jobId);
  std::vector<SVMStatusEntry> rows;
  while (s.Next()) {
    SVMStatusEntry e;
    e.jobId = jobId;
    e.replicationId = static_cast<int>(s.Int(0));
    e.vmGuid = s.Text(1);
    e.status = static_cast<int>(s.Int(2));
    e.reason = s.Text(3);
    rows.push_back(e);
  }
  if (s.Failed()) return EStoreResult::kFailed;
  out.swap(rows);
  return EStoreResult::kOk;
}

bool CVMStatusStore::SetVMFails(int replicationId, const std::string& reason) {
  return PutFault("SetVMFails", replicationId, false, reason);
}

bool CVMStatusStore::SetVMLeftOut(int replicationId) { return PutFault("SetVMLeftOut", replicationId, true, ""); }

bool CVMStatusStore::ClearFaults() {
  CSimStatement s(Ready("ClearFaults"), "ClearFaults", "DELETE FROM PLT_VMStatusFaults");
  return s.Run() == EStoreResult::kOk;
}

EStoreResult CVMStatusStore::Faults(std::vector<SVMStatusFault>& out) {
  CSimStatement s(Ready("Faults"), "Faults",
                  "SELECT replicationId, leftOut, reason FROM PLT_VMStatusFaults ORDER BY replicationId");
  std::vector<SVMStatusFault> rows;
  while (s.Next()) rows.push_back(SVMStatusFault{static_cast<int>(s.Int(0)), s.Int(1) != 0, s.Text(2)});
  if (s.Failed()) return EStoreResult::kFailed;
  out.swap(rows);
  return EStoreResult::kOk;
}

bool CVMStatusStore::CreateTables() { return Ready("CreateTables") != nullptr; }
