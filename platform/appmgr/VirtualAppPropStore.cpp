#include "appmgr/VirtualAppPropStore.h"

#include "appmgr/AppTableSql.h"
#include "db/DBConnection.h"

namespace {

const SDBColumnBind kColumns[] = {
    {"componentNameId", "i", 0}, {"attrName", "s2049", 0}, {"attrType", "i", 0}, {"attrVal", "s2049", 0},
    {"created", "x", 0}, {"modified", "x", 0},
};

}  // namespace

void CVirtualAppPropStore::DescribeTables() {
  CDBConnection::RegisterTable(kTable, kColumns, nullptr);
}

bool CVirtualAppPropStore::CreateTables() { return AppTableReady("CreateTables", kTable) != nullptr; }
