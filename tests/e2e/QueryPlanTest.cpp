// The statements DR runs prepare, asked of the query planner: none may scan
// a table whose rows grow with the job (phase rows, jobs, replications, the
// lab's VMs, snapshots and clients), or the cost per machine grows with the
// size of the run.
#include <sqlite3.h>

#include <regex>
#include <set>
#include <string>
#include <vector>

#include "app/AppDRTestSupport.h"
#include "app/SnapArrayLabFixture.h"
#include "db/DBConnection.h"
#include "vsa/VSALabFixture.h"
#include "vsa/VSAOperationLabFixture.h"

namespace {

// Tables whose size is the lab's set-up, whatever the jobs run on it:
// settings, planted faults, sites and proxies; and the snapshot mounts in
// flight, which hold only the calls running at that moment (a mount looks
// at all of them, to drop those of processes that have gone).
const std::set<std::string> kFixedTables = {
    "OBGlobalParam",    "PLT_HvFaults",        "PLT_VMStatusFaults", "PLT_HvProxies",
    "PLT_HvProxyInstances", "APP_InstanceProp", "PLT_Jobs", "PLT_HvMountsInFlight",
};

// The table a plan's "SCAN x" names: x itself, or the table x is an alias of.
std::string TableOf(const std::string& name, const std::string& sql) {
  const std::regex source("\\b(?:FROM|JOIN|UPDATE|INTO)\\s+\"?(\\w+)\"?(?:\\s+(?:AS\\s+)?(\\w+))?", std::regex::icase);
  std::smatch m;
  for (auto it = sql.cbegin(); std::regex_search(it, sql.cend(), m, source); it = m.suffix().first) {
    if (m[2].matched && m[2].str() == name) return m[1].str();
  }
  return name;
}

// The plans' full scans of growing tables, as "table [plan]: statement".
std::vector<std::string> GrowingScans(const std::vector<std::string>& statements) {
  std::vector<std::string> scans;
  CDBConnection* c = CDBConnection::ForThread();
  EXPECT_NE(nullptr, c);
  if (c == nullptr) return scans;
  for (const std::string& sql : statements) {
    sqlite3_stmt* s = nullptr;
    if (sqlite3_prepare_v2(c->Handle(), ("EXPLAIN QUERY PLAN " + sql).c_str(), -1, &s, nullptr) != SQLITE_OK) {
      sqlite3_finalize(s);
      continue;  // a statement that is not a query (BEGIN, PRAGMA)
    }
    while (sqlite3_step(s) == SQLITE_ROW) {
      const unsigned char* text = sqlite3_column_text(s, 3);
      const std::string detail = text != nullptr ? reinterpret_cast<const char*>(text) : "";
      if (detail.rfind("SCAN ", 0) != 0) continue;
      const std::string rest = detail.substr(5);
      const std::string table = TableOf(rest.substr(0, rest.find(' ')), sql);
      if (kFixedTables.count(table) != 0) continue;
      scans.push_back(table + " [" + detail + "]: " + sql);
    }
    sqlite3_finalize(s);
  }
  return scans;
}

void ExpectNoGrowingScan() {
  const std::vector<std::string> recorded = CDBConnection::RecordedStatements();
  EXPECT_LT(10u, recorded.size());
  for (const std::string& scan : GrowingScans(recorded)) ADD_FAILURE() << scan;
}

// A lab fixture that records the statements its test prepares.
template <class Fixture>
class CRecordingStatements : public Fixture {
 protected:
  void SetUp() override {
    Fixture::SetUp();
    CDBConnection::RecordStatements(true);
  }
  void TearDown() override {
    CDBConnection::RecordStatements(false);
    Fixture::TearDown();
  }
};

using E2EQueryPlanVM = CRecordingStatements<CVSALabFixture>;
using E2EQueryPlanVMOperations = CRecordingStatements<CVSAOperationLabFixture>;
using E2EQueryPlanArray = CRecordingStatements<CSnapArrayLabFixture>;
using E2EQueryPlanDatabase = CRecordingStatements<CAppDRLabTestBase>;

TEST_F(E2EQueryPlanVM, APlannedFailoverScansNoGrowingTable) {
  SVSALabSpec spec;
  spec.replications = 6;
  spec.subclientGroups = 2;
  spec.operationClasses = true;
  Seed(spec);
  EXPECT_EQ(Api::VIRTUAL_APP_PHASE_STATE_SUCCESS, RunDR());
  ExpectNoGrowingScan();
}

TEST_F(E2EQueryPlanVM, AFailbackScansNoGrowingTable) {
  SeedFailedOver(TMMsg::DR_ORCHESTRATION_FAILBACK, 4);
  EXPECT_EQ(Api::VIRTUAL_APP_PHASE_STATE_SUCCESS, RunDR());
  ExpectNoGrowingScan();
}

TEST_F(E2EQueryPlanVMOperations, ATestFailoverScansNoGrowingTable) {
  SVSALabSpec spec;
  spec.replications = 4;
  spec.drType = TMMsg::DR_ORCHESTRATION_TEST_FAILOVER;
  spec.destVendor = 4;
  SeedForOperations(spec);
  AddRecoveryTarget(kTargetId, 24, "t3.test", "net-test", "10.9.0.0/24");
  EXPECT_EQ(Api::VIRTUAL_APP_PHASE_STATE_SUCCESS, RunJob());
  ExpectNoGrowingScan();
}

TEST_F(E2EQueryPlanArray, AFailoverAndItsUndoScanNoGrowingTable) {
  Seed({{1, {"ds1"}}, {2, {"ds1", "ds2"}}, {3, {"ds3"}}});
  EXPECT_EQ(Api::VIRTUAL_APP_PHASE_STATE_SUCCESS, RunJob(TMMsg::DR_ORCHESTRATION_PLANNED_FAILOVER));
  EXPECT_EQ(Api::VIRTUAL_APP_PHASE_STATE_SUCCESS, RunJob(TMMsg::DR_ORCHESTRATION_UNDO_FAILOVER));
  ExpectNoGrowingScan();
}

TEST_F(E2EQueryPlanDatabase, AFailoverScansNoGrowingTable) {
  EXPECT_EQ(Api::VIRTUAL_APP_PHASE_STATE_SUCCESS, RunFailover({1, 2}));
  ExpectNoGrowingScan();
}

}  // namespace
