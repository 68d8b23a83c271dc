#include "appmgr/InstancePropStore.h"

#include "appmgr/AppTableSql.h"
#include "db/DBWriteScope.h"
#include "time/PlatformClock.h"

namespace {

CDBConnection* Ready(const char* function) { return AppTableReady(function, CInstancePropStore::kTable); }

}  // namespace

bool CInstancePropStore::SetAttribute(long long instanceId, const std::string& name, const std::string& value) {
  CDBConnection* c = Ready("SetAttribute");
  if (c == nullptr) return false;
  CDBWriteScope scope(c);
  if (!scope.Ok()) return false;
  const long long now = CPlatformClock::Instance().NowEpochSeconds();
  CDBStatement old(c, "SetAttribute",
                   "UPDATE APP_InstanceProp SET modified = ? WHERE componentNameId = ? AND attrName = ? AND "
                   "modified = 0");
  old.Bind(now).Bind(instanceId).Bind(name);
  if (old.Run() != EStoreResult::kOk) return false;
  CDBStatement add(c, "SetAttribute",
                   "INSERT INTO APP_InstanceProp (componentNameId, attrName, attrType, attrVal, created, modified, "
                   "hdpId) VALUES (?, ?, 2, ?, ?, 0, 0)");
  add.Bind(instanceId).Bind(name).Bind(value).Bind(now);
  if (add.Run() != EStoreResult::kOk) return false;
  return scope.Commit();
}

EStoreResult CInstancePropStore::GetAttribute(long long instanceId, const std::string& name, std::string& value) {
  CDBStatement s(Ready("GetAttribute"), "GetAttribute",
                 "SELECT attrVal FROM APP_InstanceProp WHERE componentNameId = ? AND attrName = ? AND modified = 0 "
                 "ORDER BY id DESC LIMIT 1");
  s.Bind(instanceId).Bind(name);
  if (s.Next()) {
    value = s.Text(0);
    return EStoreResult::kOk;
  }
  return s.Failed() ? EStoreResult::kFailed : EStoreResult::kMissing;
}

EStoreResult CInstancePropStore::Attributes(long long instanceId,
                                            std::vector<std::pair<std::string, std::string>>& out) {
  CDBStatement s(Ready("Attributes"), "Attributes",
                 "SELECT attrName, attrVal FROM APP_InstanceProp WHERE componentNameId = ? AND modified = 0 "
                 "ORDER BY attrName, id");
  s.Bind(instanceId);
  std::vector<std::pair<std::string, std::string>> rows;
  while (s.Next()) rows.emplace_back(s.Text(0), s.Text(1));
  if (s.Failed()) return EStoreResult::kFailed;
  out.swap(rows);
  return EStoreResult::kOk;
}

bool CInstancePropStore::CreateTables() { return Ready("CreateTables") != nullptr; }

namespace {

const SDBColumnBind kColumns[] = {
    {"id", "i", 0}, {"componentNameId", "i", 0}, {"attrName", "s2049", 0}, {"attrType", "i", 0},
    {"attrVal", "s", 0}, {"created", "x", 0}, {"modified", "x", 0}, {"hdpId", "i", 0},
};

}  // namespace

void CInstancePropStore::DescribeTables() {
  CDBConnection::RegisterTable(kTable, kColumns, "id");
  CDBConnection::RegisterIndex(kTable, "componentNameId, attrName");
}
