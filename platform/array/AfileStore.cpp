#include "array/AfileStore.h"

#include <stdint.h>

#include <algorithm>
#include <set>

#include "jobsim/SimSql.h"
#include "log/EvEvent.h"

namespace {

int CreateTable(CDBConnection& c) {
  return c.Exec(
      "CREATE TABLE IF NOT EXISTS PLT_SnapAfiles (afileId INTEGER PRIMARY KEY AUTOINCREMENT,"
      " masterJobId INTEGER NOT NULL, vmName TEXT NOT NULL DEFAULT '', jobId INTEGER NOT NULL,"
      " vmClientId INTEGER NOT NULL DEFAULT 0, vmGuid TEXT NOT NULL DEFAULT '', vmAppId INTEGER NOT NULL DEFAULT 0,"
      " mountStatus INTEGER NOT NULL, mountHostId INTEGER NOT NULL DEFAULT 0,"
      " isFailoverMount INTEGER NOT NULL DEFAULT 0, copyId INTEGER NOT NULL DEFAULT 0,"
      " applicationId INTEGER NOT NULL DEFAULT 0);"
      "CREATE INDEX IF NOT EXISTS idx_PLT_SnapAfiles_master ON PLT_SnapAfiles (masterJobId, vmGuid)");
}

CDBConnection* Ready(const char* function) { return SimReady(function, CAfileStore::kTable, CreateTable); }

const char kColumns[] =
    "SELECT afileId, masterJobId, vmName, jobId, vmClientId, vmGuid, vmAppId, mountStatus, mountHostId,"
    " isFailoverMount, copyId, applicationId FROM PLT_SnapAfiles";

bool FitsJobColumn(long long id) { return id > 0 && id <= INT32_MAX; }

EStoreResult Rows(CSimStatement& s, std::vector<SSnapAfile>& out) {
  std::vector<SSnapAfile> rows;
  while (s.Next()) {
    SSnapAfile a;
    a.afileId = static_cast<int>(s.Int(0));
    a.masterJobId = s.Int(1);
    a.vmName = s.Text(2);
    a.jobId = s.Int(3);
    a.vmClientId = static_cast<int>(s.Int(4));
    a.vmGuid = s.Text(5);
    a.vmAppId = static_cast<int>(s.Int(6));
    a.mountStatus = static_cast<int>(s.Int(7));
    a.mountHostId = static_cast<int>(s.Int(8));
    a.failoverMount = s.Int(9) != 0;
    a.copyId = static_cast<int>(s.Int(10));
    a.applicationId = static_cast<int>(s.Int(11));
    rows.push_back(a);
  }
  if (s.Failed()) return EStoreResult::kFailed;
  out.swap(rows);
  return EStoreResult::kOk;
}

EStoreResult First(CSimStatement& s, SSnapAfile& out) {
  std::vector<SSnapAfile> rows;
  const EStoreResult read = Rows(s, rows);
  if (read != EStoreResult::kOk) return read;
  if (rows.empty()) return EStoreResult::kMissing;
  out = rows.front();
  return EStoreResult::kOk;
}

}  // namespace

bool CAfileStore::CreateTables() { return Ready("CreateTables") != nullptr; }

bool CAfileStore::Add(SSnapAfile& a) {
  if (!FitsJobColumn(a.masterJobId) || !FitsJobColumn(a.jobId)) {
    EvDebug().Error("Add", "Afile jobs must be positive 32-bit ids: master job [%lld] job [%lld]", a.masterJobId,
                    a.jobId);
    return false;
  }
  CDBConnection* c = Ready("Add");
  CSimStatement s(c, "Add",
                  "INSERT INTO PLT_SnapAfiles (masterJobId, vmName, jobId, vmClientId, vmGuid, vmAppId, mountStatus,"
                  " mountHostId, isFailoverMount, copyId, applicationId) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
  s.Bind(a.masterJobId).Bind(a.vmName).Bind(a.jobId).Bind(a.vmClientId).Bind(a.vmGuid).Bind(a.vmAppId);
  s.Bind(a.mountStatus).Bind(a.mountHostId).Bind(a.failoverMount ? 1 : 0).Bind(a.copyId).Bind(a.applicationId);
  if (s.Run() != EStoreResult::kOk) return false;
  a.afileId = static_cast<int>(sqlite3_last_insert_rowid(c->Handle()));
  return true;
}

EStoreResult CAfileStore::Get(int afileId, SSnapAfile& out) {
  CSimStatement s(Ready("Get"), "Get", std::string(kColumns) + " WHERE afileId = ?");
  s.Bind(afileId);
  return First(s, out);
}

EStoreResult CAfileStore::All(std::vector<SSnapAfile>& out) {
  CSimStatement s(Ready("All"), "All", std::string(kColumns) + " ORDER BY afileId");
  return Rows(s, out);
}

EStoreResult CAfileStore::OfMasterJobs(const std::vector<long long>& masterJobIds, std::vector<SSnapAfile>& out) {
  // One indexed look-up per job: the afiles of every job ever run are in
  // the table.
  std::set<long long> ids;
  for (long long id : masterJobIds) {
    if (FitsJobColumn(id)) ids.insert(id);
  }
  std::vector<SSnapAfile> all;
  for (long long id : ids) {
    CSimStatement s(Ready("OfMasterJobs"), "OfMasterJobs", std::string(kColumns) + " WHERE masterJobId = ?");
    s.Bind(id);
    std::vector<SSnapAfile> rows;
    if (Rows(s, rows) != EStoreResult::kOk) return EStoreResult::kFailed;
    all.insert(all.end(), rows.begin(), rows.end());
  }
  std::sort(all.begin(), all.end(), [](const SSnapAfile& a, const SSnapAfile& b) { return a.afileId < b.afileId; });
  out.swap(all);
  return EStoreResult::kOk;
}

EStoreResult CAfileStore::Latest(long long masterJobId, const std::string& vmGuid, int copyId, SSnapAfile& out) {
  CSimStatement s(Ready("Latest"), "Latest",
                  std::string(kColumns) +
                      " WHERE masterJobId = ? AND vmGuid = ? AND (? = 0 OR copyId = ?) ORDER BY afileId DESC LIMIT 1");
  s.Bind(masterJobId).Bind(vmGuid).Bind(copyId).Bind(copyId);
  return First(s, out);
}

EStoreResult CAfileStore::SetMount(int afileId, int mountStatus, int mountHostId, bool failoverMount) {
  CSimStatement s(Ready("SetMount"), "SetMount",
                  "UPDATE PLT_SnapAfiles SET mountStatus = ?, mountHostId = ?, isFailoverMount = ? WHERE afileId = ?");
  s.Bind(mountStatus).Bind(mountHostId).Bind(failoverMount ? 1 : 0).Bind(afileId);
  if (s.Run() != EStoreResult::kOk) return EStoreResult::kFailed;
  return s.Changes() == 0 ? EStoreResult::kMissing : EStoreResult::kOk;
}
