#include "appmgr/VmAllocationPolicyStore.h"

#include "appmgr/AppTableSql.h"
#include "db/DBConnection.h"
#include "time/PlatformClock.h"

namespace {

const SDBColumnBind kColumns[] = {
    {"id", "i", 0}, {"name", "s513", 0}, {"vDataCenterId", "i", 0}, {"description", "s", 0}, {"vxml", "s", 0},
    {"ownerId", "i", 0}, {"created", "x", 0}, {"modified", "x", 0}, {"alive", "i", 0}, {"flags", "i", 0},
};

}  // namespace

void CVmAllocationPolicyStore::DescribeTables() {
  CDBConnection::RegisterTable(kTable, kColumns, "id");
}

bool CVmAllocationPolicyStore::AddPolicy(int id, const std::string& name, const std::string& policyXml) {
  CDBConnection* c = AppTableReady("AddPolicy", kTable);
  if (c == nullptr) return false;
  CDBStatement add(c, "AddPolicy",
                   "INSERT INTO App_VmAllocationPolicy (id, name, vDataCenterId, description, vxml, ownerId, created, "
                   "modified, alive, flags) VALUES (?, ?, 0, '', ?, 0, ?, ?, 1, 0)");
  const long long now = CPlatformClock::Instance().NowEpochSeconds();
  add.Bind(id).Bind(name).Bind(policyXml).Bind(now).Bind(now);
  return add.Run() == EStoreResult::kOk;
}

bool CVmAllocationPolicyStore::CreateTables() { return AppTableReady("CreateTables", kTable) != nullptr; }
