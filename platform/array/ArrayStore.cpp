#include "array/ArrayStore.h"

#include "jobsim/SimSql.h"
#include "log/EvEvent.h"

namespace {

int CreateTable(CDBConnection& c) {
  return c.Exec(
      "CREATE TABLE IF NOT EXISTS PLT_Arrays (controlHostId INTEGER PRIMARY KEY, name TEXT NOT NULL,"
      " vserver TEXT NOT NULL DEFAULT '', managed INTEGER NOT NULL DEFAULT 1,"
      " reachable INTEGER NOT NULL DEFAULT 1)");
}

CDBConnection* Ready(const char* function) { return SimReady(function, CArrayStore::kTable, CreateTable); }

const char kColumns[] = "SELECT controlHostId, name, vserver, managed, reachable FROM PLT_Arrays";

SLabArray RowOf(const CSimStatement& s) {
  SLabArray a;
  a.controlHostId = static_cast<int>(s.Int(0));
  a.name = s.Text(1);
  a.vserver = s.Text(2);
  a.managed = s.Int(3) != 0;
  a.reachable = s.Int(4) != 0;
  return a;
}

EStoreResult One(CSimStatement& s, SLabArray& out) {
  if (s.Next()) {
    out = RowOf(s);
    return EStoreResult::kOk;
  }
  return s.Failed() ? EStoreResult::kFailed : EStoreResult::kMissing;
}

template <class T>
EStoreResult Update(const char* function, const char* column, int controlHostId, const T& value) {
  CSimStatement s(Ready(function), function,
                  std::string("UPDATE PLT_Arrays SET ") + column + " = ? WHERE controlHostId = ?");
  s.Bind(value).Bind(controlHostId);
  if (s.Run() != EStoreResult::kOk) return EStoreResult::kFailed;
  return s.Changes() == 0 ? EStoreResult::kMissing : EStoreResult::kOk;
}

}  // namespace

bool CArrayStore::CreateTables() { return Ready("CreateTables") != nullptr; }

bool CArrayStore::Add(const SLabArray& a) {
  if (a.controlHostId == 0 || a.name.empty()) {
    EvDebug().Error("Add", "An array needs a control host id and a name [%d] [%s]", a.controlHostId, a.name.c_str());
    return false;
  }
  CSimStatement s(Ready("Add"), "Add",
                  "INSERT INTO PLT_Arrays (controlHostId, name, vserver, managed, reachable) VALUES (?, ?, ?, ?, ?)");
  s.Bind(a.controlHostId).Bind(a.name).Bind(a.vserver).Bind(a.managed ? 1 : 0).Bind(a.reachable ? 1 : 0);
  return s.Run() == EStoreResult::kOk;
}

EStoreResult CArrayStore::Get(int controlHostId, SLabArray& out) {
  CSimStatement s(Ready("Get"), "Get", std::string(kColumns) + " WHERE controlHostId = ?");
  s.Bind(controlHostId);
  return One(s, out);
}

EStoreResult CArrayStore::FindByName(const std::string& name, SLabArray& out) {
  CSimStatement s(Ready("FindByName"), "FindByName", std::string(kColumns) + " WHERE name = ? ORDER BY controlHostId");
  s.Bind(name);
  return One(s, out);
}

EStoreResult CArrayStore::All(std::vector<SLabArray>& out) {
  CSimStatement s(Ready("All"), "All", std::string(kColumns) + " ORDER BY controlHostId");
  std::vector<SLabArray> rows;
  while (s.Next()) rows.push_back(RowOf(s));
  if (s.Failed()) return EStoreResult::kFailed;
  out.swap(rows);
  return EStoreResult::kOk;
}

EStoreResult CArrayStore::SetReachable(int controlHostId, bool reachable) {
  return Update("SetReachable", "reachable", controlHostId, reachable ? 1LL : 0LL);
}

EStoreResult CArrayStore::SetManaged(int controlHostId, bool managed) {
  return Update("SetManaged", "managed", controlHostId, managed ? 1LL : 0LL);
}

EStoreResult CArrayStore::SetVServer(int controlHostId, const std::string& vserver) {
  return Update("SetVServer", "vserver", controlHostId, vserver);
}
