#include "appmgr/VmAllocationPolicyStore.h"

#include "appmgr/AppTableSql.h"
#include "db/DBConnection.h"

namespace {

const SDBColumnBind kColumns[] = {
    {"id", "i", 0}, {"name", "s513", 0}, {"vDataCenterId", "i", 0}, {"description", "s", 0}, {"vxml", "s", 0},
    {"ownerId", "i", 0}, {"created", "x", 0}, {"modified", "x", 0}, {"alive", "i", 0}, {"flags", "i", 0},
};

}  // namespace

void CVmAllocationPolicyStore::DescribeTables() {
  CDBConnection::RegisterTable(kTable, kColumns, "id");
}

bool CVmAllocationPolicyStore::CreateTables() { return AppTableReady("CreateTables", kTable) != nullptr; }
