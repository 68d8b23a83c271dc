#include "array/ReplicaGroupReportStore.h"

#include <iterator>

#include "jobsim/SimSql.h"
#include "log/EvEvent.h"

namespace {

using Row = SReplicaGroupRow;

// The columns in the procedure's order: texts first, then numbers.
const struct {
  const char* column;
  std::string Row::*field;
} kTexts[] = {
    {"spName", &Row::spName},         {"copyName", &Row::copyName},
    {"copyType", &Row::copyType},     {"clientName", &Row::clientName},
    {"subclientName", &Row::subclientName}, {"relationshipId", &Row::relationshipId},
    {"relationshipType", &Row::relationshipType}, {"sourcePath", &Row::sourcePath},
    {"sourceArray", &Row::sourceArray}, {"targetPath", &Row::targetPath},
    {"targetArray", &Row::targetArray},
};

const struct {
  const char* column;
  int Row::*field;
} kNumbers[] = {
    {"snapCount", &Row::snapCount},     {"subclientId", &Row::subclientId},
    {"copyId", &Row::copyId},           {"replicaGroupId", &Row::replicaGroupId},
    {"storagePolicyId", &Row::storagePolicyId}, {"defaultSPCopy", &Row::defaultSPCopy},
    {"controlHostId", &Row::controlHostId}, {"replicaPairId", &Row::replicaPairId},
};

std::string ColumnList() {
  std::string list;
  for (const auto& t : kTexts) list += std::string(list.empty() ? "" : ", ") + t.column;
  for (const auto& n : kNumbers) list += std::string(", ") + n.column;
  return list;
}

int CreateTable(CDBConnection& c) {
  std::string sql = "CREATE TABLE IF NOT EXISTS PLT_SnapReplicaGroups (";
  for (const auto& t : kTexts) sql += std::string(t.column) + " TEXT NOT NULL DEFAULT '', ";
  for (const auto& n : kNumbers) sql += std::string(n.column) + " INTEGER NOT NULL DEFAULT 0, ";
  return c.Exec(sql + "PRIMARY KEY (copyId, replicaGroupId))");
}

CDBConnection* Ready(const char* function) {
  return SimReady(function, CReplicaGroupReportStore::kTable, CreateTable);
}

EStoreResult Rows(const char* function, const std::string& where, int copyId, std::vector<Row>& out) {
  CSimStatement s(Ready(function), function,
                  "SELECT " + ColumnList() + " FROM PLT_SnapReplicaGroups" + where + " ORDER BY copyId, replicaGroupId");
  if (!where.empty()) s.Bind(copyId);
  std::vector<Row> rows;
  while (s.Next()) {
    Row r;
    int col = 0;
    for (const auto& t : kTexts) r.*t.field = s.Text(col++);
    for (const auto& n : kNumbers) r.*n.field = static_cast<int>(s.Int(col++));
    rows.push_back(r);
  }
  if (s.Failed()) return EStoreResult::kFailed;
  out.swap(rows);
  return EStoreResult::kOk;
}

}  // namespace

bool CReplicaGroupReportStore::CreateTables() { return Ready("CreateTables") != nullptr; }

bool CReplicaGroupReportStore::Add(const Row& row) {
  if (row.copyId == 0 || row.replicaGroupId == 0) {
    EvDebug().Error("Add", "A replica-group row needs its copy and group [%d] [%d]", row.copyId, row.replicaGroupId);
    return false;
  }
  std::string marks;
  for (size_t i = 0; i < std::size(kTexts) + std::size(kNumbers); ++i) marks += i ? ", ?" : "?";
  CSimStatement s(Ready("Add"), "Add",
                  "INSERT INTO PLT_SnapReplicaGroups (" + ColumnList() + ") VALUES (" + marks + ")");
  for (const auto& t : kTexts) s.Bind(row.*t.field);
  for (const auto& n : kNumbers) s.Bind(row.*n.field);
  return s.Run() == EStoreResult::kOk;
}

EStoreResult CReplicaGroupReportStore::OfCopy(int copyId, std::vector<Row>& out) {
  return Rows("OfCopy", " WHERE copyId = ?", copyId, out);
}

EStoreResult CReplicaGroupReportStore::All(std::vector<Row>& out) { return Rows("All", "", 0, out); }

std::vector<std::string> CReplicaGroupReportStore::Texts(const Row& row) {
  std::vector<std::string> out;
  for (const auto& t : kTexts) out.push_back(row.*t.field);
  return out;
}

std::vector<int> CReplicaGroupReportStore::Numbers(const Row& row) {
  std::vector<int> out;
  for (const auto& n : kNumbers) out.push_back(row.*n.field);
  return out;
}
