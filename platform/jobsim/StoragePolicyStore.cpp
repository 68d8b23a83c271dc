#include "jobsim/StoragePolicyStore.h"

#include "db/DBWriteScope.h"
#include "jobsim/SimSql.h"
#include "log/EvEvent.h"

namespace {

const char* kSchema =
    "CREATE TABLE IF NOT EXISTS PLT_StoragePolicies (policyId INTEGER NOT NULL, copyId INTEGER NOT NULL DEFAULT 0,"
    " subclientId INTEGER NOT NULL DEFAULT 0, precedence INTEGER NOT NULL DEFAULT 0,"
    " isPrimary INTEGER NOT NULL DEFAULT 0, isDefault INTEGER NOT NULL DEFAULT 0, snap INTEGER NOT NULL DEFAULT 0);"
    "CREATE INDEX IF NOT EXISTS idx_PLT_StoragePolicies_subclient ON PLT_StoragePolicies (subclientId, copyId);"
    "CREATE INDEX IF NOT EXISTS idx_PLT_StoragePolicies_policy ON PLT_StoragePolicies (policyId, subclientId)";

int CreateTable(CDBConnection& c) { return c.Exec(kSchema); }

CDBConnection* Ready(const char* function) { return SimReady(function, CStoragePolicyStore::kTable, CreateTable); }

EStoreResult Subclients(const char* function, const char* where, int id, std::vector<SSubclientPolicy>& out) {
  CSimStatement s(Ready(function), function,
                  std::string("SELECT subclientId, policyId, snap FROM PLT_StoragePolicies WHERE copyId = 0 AND ") +
                      where + " ORDER BY subclientId");
  s.Bind(id);
  std::vector<SSubclientPolicy> rows;
  while (s.Next()) rows.push_back(SSubclientPolicy{static_cast<int>(s.Int(0)), static_cast<int>(s.Int(1)), s.Int(2) != 0});
  if (s.Failed()) return EStoreResult::kFailed;
  out.swap(rows);
  return EStoreResult::kOk;
}

}  // namespace

int SStoragePolicy::PrimaryCopyId() const {
  for (const SStorageCopy& c : copies) {
    if (c.primary) return c.copyId;
  }
  return 0;
}

int SStoragePolicy::DefaultCopyId() const {
  for (const SStorageCopy& c : copies) {
    if (c.isDefault) return c.copyId;
  }
  return 0;
}

int SStoragePolicy::CopyIdOfPrecedence(int precedence) const {
  for (const SStorageCopy& c : copies) {
    if (c.precedence == precedence) return c.copyId;
  }
  return 0;
}

bool CStoragePolicyStore::CreateTables() { return Ready("CreateTables") != nullptr; }

bool CStoragePolicyStore::PutPolicy(const SStoragePolicy& policy) {
  bool valid = policy.policyId != 0;
  for (const SStorageCopy& copy : policy.copies) valid = valid && copy.copyId != 0;
  if (!valid) {
    EvDebug().Error("PutPolicy", "Storage policy [%d] needs an id and copy ids", policy.policyId);
    return false;
  }
  CDBConnection* c = Ready("PutPolicy");
  if (c == nullptr) return false;
  CDBWriteScope scope(c);
  if (!scope.Ok()) return false;
  CSimStatement drop(c, "PutPolicy", "DELETE FROM PLT_StoragePolicies WHERE subclientId = 0 AND policyId = ?");
  drop.Bind(policy.policyId);
  if (drop.Run() != EStoreResult::kOk) return false;
  for (const SStorageCopy& copy : policy.copies) {
    CSimStatement s(c, "PutPolicy",
                    "INSERT INTO PLT_StoragePolicies (policyId, copyId, precedence, isPrimary, isDefault) VALUES"
                    " (?, ?, ?, ?, ?)");
    s.Bind(policy.policyId).Bind(copy.copyId).Bind(copy.precedence).Bind(copy.primary ? 1 : 0);
    s.Bind(copy.isDefault ? 1 : 0);
    if (s.Run() != EStoreResult::kOk) return false;
  }
  return scope.Commit();
}

bool CStoragePolicyStore::AssignSubclient(const SSubclientPolicy& a) {
  if (a.subclientId == 0 || a.policyId == 0) {
    EvDebug().Error("AssignSubclient", "Subclient [%d] and storage policy [%d] must not be 0", a.subclientId,
                    a.policyId);
    return false;
  }
  CDBConnection* c = Ready("AssignSubclient");
  if (c == nullptr) return false;
  CDBWriteScope scope(c);
  if (!scope.Ok()) return false;
  CSimStatement drop(c, "AssignSubclient", "DELETE FROM PLT_StoragePolicies WHERE copyId = 0 AND subclientId = ?");
  drop.Bind(a.subclientId);
  if (drop.Run() != EStoreResult::kOk) return false;
  CSimStatement s(c, "AssignSubclient",
                  "INSERT INTO PLT_StoragePolicies (policyId, subclientId, snap) VALUES (?, ?, ?)");
  s.Bind(a.policyId).Bind(a.subclientId).Bind(a.snap ? 1 : 0);
  return s.Run() == EStoreResult::kOk && scope.Commit();
}

EStoreResult CStoragePolicyStore::GetPolicy(int policyId, SStoragePolicy& out) {
  CSimStatement s(Ready("GetPolicy"), "GetPolicy",
                  "SELECT copyId, precedence, isPrimary, isDefault FROM PLT_StoragePolicies WHERE subclientId = 0 AND"
                  " policyId = ? ORDER BY precedence, copyId");
  s.Bind(policyId);
  SStoragePolicy policy;
  policy.policyId = policyId;
  while (s.Next()) {
    policy.copies.push_back(
        SStorageCopy{static_cast<int>(s.Int(0)), static_cast<int>(s.Int(1)), s.Int(2) != 0, s.Int(3) != 0});
  }
  if (s.Failed()) return EStoreResult::kFailed;
  if (policy.copies.empty()) return EStoreResult::kMissing;
  out = policy;
  return EStoreResult::kOk;
}

EStoreResult CStoragePolicyStore::GetSubclient(int subclientId, SSubclientPolicy& out) {
  std::vector<SSubclientPolicy> rows;
  const EStoreResult r = Subclients("GetSubclient", "subclientId = ?", subclientId, rows);
  if (r != EStoreResult::kOk) return r;
  if (rows.empty()) return EStoreResult::kMissing;
  out = rows.front();
  return EStoreResult::kOk;
}

EStoreResult CStoragePolicyStore::SubclientsOfPolicy(int policyId, std::vector<SSubclientPolicy>& out) {
  return Subclients("SubclientsOfPolicy", "policyId = ?", policyId, out);
}
