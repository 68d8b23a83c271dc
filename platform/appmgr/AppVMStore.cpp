#include "appmgr/AppVMStore.h"

#include "appmgr/AppTableSql.h"
#include "db/DBWriteScope.h"

namespace {

CDBConnection* Ready(const char* function) { return AppTableReady(function, CAppVMStore::kTable); }

}  // namespace

bool CAppVMStore::AddVM(SAppVMRecord& record) {
  CDBConnection* c = Ready("AddVM");
  if (c == nullptr) return false;
  const std::string now = AppTableNow();
  CDBStatement s(c, "AddVM",
                 "INSERT INTO APP_VM (vHostId, clientId, GUID, name, vxml, timeStamp, addTimeStamp, status, "
                 "vmAllocationPolicyId) VALUES (0, ?, ?, ?, ?, ?, ?, 0, ?)");
  s.Bind(record.clientId).Bind(record.guid).Bind(record.name).Bind(record.descriptionXml).Bind(now).Bind(now);
  s.Bind(record.allocationPolicyId);
  if (s.Run() != EStoreResult::kOk) return false;
  record.id = static_cast<int>(sqlite3_last_insert_rowid(c->Handle()));
  record.removed = false;
  return true;
}

EStoreResult CAppVMStore::MarkRemoved(int clientId) {
  CDBStatement s(Ready("MarkRemoved"), "MarkRemoved",
                 "UPDATE APP_VM SET removalTimeStamp = ?, timeStamp = ? WHERE clientId = ? AND removalTimeStamp IS "
                 "NULL");
  const std::string now = AppTableNow();
  s.Bind(now).Bind(now).Bind(clientId);
  if (s.Run() != EStoreResult::kOk) return EStoreResult::kFailed;
  return s.Changes() > 0 ? EStoreResult::kOk : EStoreResult::kMissing;
}

EStoreResult CAppVMStore::FindByClient(int clientId, SAppVMRecord& out) {
  CDBStatement s(Ready("FindByClient"), "FindByClient",
                 "SELECT id, clientId, GUID, name, vxml, vmAllocationPolicyId, removalTimeStamp IS NOT NULL FROM "
                 "APP_VM WHERE clientId = ? ORDER BY id DESC LIMIT 1");
  s.Bind(clientId);
  if (s.Next()) {
    out.id = static_cast<int>(s.Int(0));
    out.clientId = static_cast<int>(s.Int(1));
    out.guid = s.Text(2);
    out.name = s.Text(3);
    out.descriptionXml = s.Text(4);
    out.allocationPolicyId = static_cast<int>(s.Int(5));
    out.removed = s.Int(6) != 0;
    return EStoreResult::kOk;
  }
  return s.Failed() ? EStoreResult::kFailed : EStoreResult::kMissing;
}

bool CAppVMStore::CreateTables() { return Ready("CreateTables") != nullptr; }

namespace {

const SDBColumnBind kColumns[] = {
    {"id", "i", 0}, {"vHostId", "i", 0}, {"clientId", "i", 0}, {"GUID", "s257", 0}, {"name", "s513", 0},
    {"vxml", "s", 0}, {"timeStamp", "t", 0}, {"addTimeStamp", "t", 0}, {"removalTimeStamp", "t", 0},
    {"status", "i", 0}, {"vmAllocationPolicyId", "i", 0},
};

}  // namespace

void CAppVMStore::DescribeTables() {
  CDBConnection::RegisterTable(kTable, kColumns, "id");
  CDBConnection::RegisterIndex(kTable, "clientId");
}
