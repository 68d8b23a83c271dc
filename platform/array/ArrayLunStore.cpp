#include "array/ArrayLunStore.h"

#include "db/DBWriteScope.h"
#include "jobsim/SimSql.h"
#include "log/EvEvent.h"

namespace {

int CreateTables(CDBConnection& c) {
  int rc = c.Exec(
      "CREATE TABLE IF NOT EXISTS PLT_ArrayLuns (controlHostId INTEGER NOT NULL, volume TEXT NOT NULL,"
      " path TEXT NOT NULL, mapped INTEGER NOT NULL DEFAULT 1, unmapFails INTEGER NOT NULL DEFAULT 0,"
      " PRIMARY KEY (controlHostId, path))");
  if (rc == DB_OK) {
    rc = c.Exec(
        "CREATE TABLE IF NOT EXISTS PLT_ArrayLunFaults (controlHostId INTEGER NOT NULL, volume TEXT NOT NULL,"
        " PRIMARY KEY (controlHostId, volume))");
  }
  return rc;
}

CDBConnection* Ready(const char* function) { return SimReady(function, CArrayLunStore::kTables[0], CreateTables); }

const char kColumns[] = "SELECT controlHostId, volume, path, mapped, unmapFails FROM PLT_ArrayLuns";

SLabLun RowOf(const CSimStatement& s) {
  SLabLun l;
  l.controlHostId = static_cast<int>(s.Int(0));
  l.volume = s.Text(1);
  l.path = s.Text(2);
  l.mapped = s.Int(3) != 0;
  l.unmapFails = s.Int(4) != 0;
  return l;
}

EStoreResult Find(CDBConnection* c, const char* function, int controlHostId, const std::string& path, SLabLun& out) {
  CSimStatement s(c, function, std::string(kColumns) + " WHERE controlHostId = ? AND path = ?");
  s.Bind(controlHostId).Bind(path);
  if (s.Next()) {
    out = RowOf(s);
    return EStoreResult::kOk;
  }
  return s.Failed() ? EStoreResult::kFailed : EStoreResult::kMissing;
}

EStoreResult SetFlag(const char* function, const char* column, int controlHostId, const std::string& path, bool on) {
  CSimStatement s(Ready(function), function,
                  std::string("UPDATE PLT_ArrayLuns SET ") + column + " = ? WHERE controlHostId = ? AND path = ?");
  s.Bind(on ? 1 : 0).Bind(controlHostId).Bind(path);
  if (s.Run() != EStoreResult::kOk) return EStoreResult::kFailed;
  return s.Changes() == 0 ? EStoreResult::kMissing : EStoreResult::kOk;
}

}  // namespace

bool CArrayLunStore::CreateTables() { return Ready("CreateTables") != nullptr; }

bool CArrayLunStore::Add(const SLabLun& l) {
  if (l.controlHostId == 0 || l.volume.empty() || l.path.empty()) {
    EvDebug().Error("Add", "A LUN needs its array, volume and path [%d] [%s] [%s]", l.controlHostId,
                    l.volume.c_str(), l.path.c_str());
    return false;
  }
  CSimStatement s(Ready("Add"), "Add",
                  "INSERT INTO PLT_ArrayLuns (controlHostId, volume, path, mapped, unmapFails) VALUES (?, ?, ?, ?, ?)");
  s.Bind(l.controlHostId).Bind(l.volume).Bind(l.path).Bind(l.mapped ? 1 : 0).Bind(l.unmapFails ? 1 : 0);
  return s.Run() == EStoreResult::kOk;
}

EStoreResult CArrayLunStore::Get(int controlHostId, const std::string& path, SLabLun& out) {
  return Find(Ready("Get"), "Get", controlHostId, path, out);
}

EStoreResult CArrayLunStore::All(std::vector<SLabLun>& out) {
  CSimStatement s(Ready("All"), "All", std::string(kColumns) + " ORDER BY controlHostId, volume, path");
  std::vector<SLabLun> rows;
  while (s.Next()) rows.push_back(RowOf(s));
  if (s.Failed()) return EStoreResult::kFailed;
  out.swap(rows);
  return EStoreResult::kOk;
}

EStoreResult CArrayLunStore::SetMapped(int controlHostId, const std::string& path, bool mapped) {
  return SetFlag("SetMapped", "mapped", controlHostId, path, mapped);
}

EStoreResult CArrayLunStore::SetUnmapFails(int controlHostId, const std::string& path, bool fails) {
  return SetFlag("SetUnmapFails", "unmapFails", controlHostId, path, fails);
}

bool CArrayLunStore::SetListingFails(int controlHostId, const std::string& volume, bool fails) {
  CSimStatement s(Ready("SetListingFails"), "SetListingFails",
                  fails ? "INSERT OR IGNORE INTO PLT_ArrayLunFaults (controlHostId, volume) VALUES (?, ?)"
                        : "DELETE FROM PLT_ArrayLunFaults WHERE controlHostId = ? AND volume = ?");
  s.Bind(controlHostId).Bind(volume);
  return s.Run() == EStoreResult::kOk;
}

EArrayAnswer CArrayLunStore::Mapped(int controlHostId, const std::string& volume, std::vector<std::string>& paths) {
  CDBConnection* c = Ready("Mapped");
  CSimStatement fault(c, "Mapped", "SELECT 1 FROM PLT_ArrayLunFaults WHERE controlHostId = ? AND volume = ?");
  fault.Bind(controlHostId).Bind(volume);
  if (fault.Next()) return EArrayAnswer::kFault;
  if (fault.Failed()) return EArrayAnswer::kFailed;
  CSimStatement s(c, "Mapped",
                  "SELECT path FROM PLT_ArrayLuns WHERE controlHostId = ? AND volume = ? AND mapped <> 0"
                  " ORDER BY path");
  s.Bind(controlHostId).Bind(volume);
  std::vector<std::string> rows;
  while (s.Next()) rows.push_back(s.Text(0));
  if (s.Failed()) return EArrayAnswer::kFailed;
  paths.swap(rows);
  return EArrayAnswer::kOk;
}

EArrayAnswer CArrayLunStore::Unmap(int controlHostId, const std::string& path) {
  CDBConnection* c = Ready("Unmap");
  if (c == nullptr) return EArrayAnswer::kFailed;
  CDBWriteScope scope(c);
  if (!scope.Ok()) return EArrayAnswer::kFailed;
  SLabLun lun;
  const EStoreResult found = Find(c, "Unmap", controlHostId, path, lun);
  if (found == EStoreResult::kFailed) return EArrayAnswer::kFailed;
  if (found == EStoreResult::kMissing) return EArrayAnswer::kNotFound;
  if (lun.unmapFails) return EArrayAnswer::kFault;
  CSimStatement s(c, "Unmap", "UPDATE PLT_ArrayLuns SET mapped = 0 WHERE controlHostId = ? AND path = ?");
  s.Bind(controlHostId).Bind(path);
  if (s.Run() != EStoreResult::kOk || !scope.Commit()) return EArrayAnswer::kFailed;
  return EArrayAnswer::kOk;
}
