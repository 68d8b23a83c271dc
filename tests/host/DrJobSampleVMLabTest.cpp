// One VM lab: the lab "drjob seed" gives users and the lab the VM tests run
// on (CVSALabFixture) are built by the same seeding. Each test seeds both
// ways into two databases and compares the rows the seeding writes: the
// sites, proxies, VMs, snapshots and replicas of the hypervisor lab, the
// management server's rows for their clients and instances, and the
// replications with their task and storage policy.
#include <sqlite3.h>

#include <iterator>
#include <string>
#include <vector>

#include "host/DrJobTestSupport.h"
#include "host/SeedReplications.h"
#include "vsa/VSALabFixture.h"

namespace {

// The rows a query selects from a database file, one line each (columns
// joined by '|'); a line "error: ..." when the query cannot run.
std::vector<std::string> Rows(const std::string& path, const std::string& query) {
  std::vector<std::string> rows;
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
    rows.push_back("error: cannot open " + path);
    sqlite3_close(db);
    return rows;
  }
  sqlite3_stmt* s = nullptr;
  if (sqlite3_prepare_v2(db, query.c_str(), -1, &s, nullptr) != SQLITE_OK) {
    rows.push_back(std::string("error: ") + sqlite3_errmsg(db));
    sqlite3_close(db);
    return rows;
  }
  while (sqlite3_step(s) == SQLITE_ROW) {
    std::string row;
    for (int i = 0; i < sqlite3_column_count(s); ++i) {
      const unsigned char* text = sqlite3_column_text(s, i);
      row += (i > 0 ? "|" : "") + (text != nullptr ? std::string(reinterpret_cast<const char*>(text)) : "NULL");
    }
    rows.push_back(row);
  }
  sqlite3_finalize(s);
  sqlite3_close(db);
  return rows;
}

std::string Quoted(const std::vector<std::string>& values) {
  std::string out;
  for (const std::string& v : values) out += (out.empty() ? "'" : ", '") + v + "'";
  return out;
}

std::string Numbers(const std::vector<int>& values) {
  std::string out;
  for (int v : values) out += (out.empty() ? "" : ", ") + std::to_string(v);
  return out;
}

// The rows of the sample's source and destination sites: instances, regions,
// proxies with their places, and the management server's rows for them
// (no ids or times of the rows themselves).
std::vector<std::string> SiteQueries() {
  return {
      "SELECT * FROM PLT_HvInstances WHERE id IN (3, 4) ORDER BY id",
      "SELECT * FROM PLT_HvRegions WHERE instanceId IN (3, 4) ORDER BY instanceId, name",
      "SELECT p.*, i.instanceId, i.position FROM PLT_HvProxies p JOIN PLT_HvProxyInstances i ON i.clientId = "
      "p.clientId WHERE i.instanceId IN (3, 4) ORDER BY p.clientId",
      "SELECT componentNameId, attrName, attrType, attrVal FROM APP_InstanceProp WHERE componentNameId IN (3, 4) "
      "ORDER BY componentNameId, attrName, attrVal",
      "SELECT id, name, net_hostname, displayName FROM APP_Client WHERE id IN (3, 4, 31, 32, 41, 42) ORDER BY id",
      "SELECT componentNameId, attrName, attrType, attrVal FROM APP_ClientProp WHERE componentNameId IN (31, 32, 41, "
      "42) ORDER BY componentNameId, attrName, attrVal",
  };
}

class E2EDrJobSampleVMLab : public CVSALabFixture {
 protected:
  // drjob seed's lab, in a database of its own beside the fixture's.
  std::string SeedWithDrJob() {
    const std::string path = m_dir + "/seeded.db";
    const drtest::SResult seeded = drtest::RunDrJob("seed --db " + path, m_dir);
    EXPECT_EQ(0, seeded.code) << seeded.output;
    return path;
  }
  std::string FixtureDb() const { return m_dir + "/drorch.db"; }

  // The query gives the same rows, some at least, in both databases.
  static void ExpectSameRows(const std::string& seeded, const std::string& fixture, const std::string& query) {
    SCOPED_TRACE(query);
    const std::vector<std::string> expected = Rows(seeded, query);
    EXPECT_FALSE(expected.empty());
    EXPECT_EQ(expected, Rows(fixture, query));
  }
};

TEST_F(E2EDrJobSampleVMLab, TheFixturesSampleGroupIsTheOneDrJobSeedMakesRowForRow) {
  const std::string seeded = SeedWithDrJob();
  SVSALabSpec spec;
  spec.sample = true;
  ASSERT_NO_FATAL_FAILURE(Seed(spec));
  ASSERT_EQ(std::size(kSampleVMs), VMs().size());

  std::vector<int> ids, clients;
  std::vector<std::string> guids;
  for (const SSampleVM& vm : kSampleVMs) {
    ids.push_back(vm.replicationId);
    clients.push_back(kSourceClientBase + vm.replicationId);
    guids.push_back("src-" + std::to_string(vm.replicationId));
    guids.push_back("dst-" + std::to_string(vm.replicationId));
  }
  std::vector<std::string> queries = SiteQueries();
  queries.insert(
      queries.end(),
      {
          "SELECT * FROM PLT_HvVMs WHERE guid IN (" + Quoted(guids) + ") ORDER BY instanceId, guid",
          "SELECT * FROM PLT_HvSnapshots WHERE vmGuid IN (" + Quoted(guids) + ") ORDER BY instanceId, vmGuid, position",
          "SELECT * FROM PLT_HvReplicas WHERE replicationId IN (" + Numbers(ids) + ") ORDER BY replicationId",
          "SELECT id, name, net_hostname, displayName FROM APP_Client WHERE id IN (" + Numbers(clients) +
              ") ORDER BY id",
          "SELECT componentNameId, attrName, attrType, attrVal FROM APP_ClientProp WHERE componentNameId IN (" +
              Numbers(clients) + ") ORDER BY componentNameId, attrName, attrVal",
          "SELECT clientId, guid, name FROM APP_VM WHERE clientId IN (" + Numbers(clients) + ") ORDER BY clientId",
          "SELECT * FROM PLT_VSAReplicationMsg WHERE replicationId IN (" + Numbers(ids) + ") ORDER BY replicationId",
          "SELECT replicationId, replicationGuid, sourceGuid, sourceName, destinationGuid, destinationName, taskId, "
          "subclientId, status, FailoverStatus FROM APP_VSAReplication WHERE replicationId IN (" +
              Numbers(ids) + ") ORDER BY replicationId",
          "SELECT replicationId, propertyTypeId, propertyValue FROM APP_VSAReplicationProp WHERE replicationId IN (" +
              Numbers(ids) + ") ORDER BY replicationId, propertyTypeId",
          "SELECT id, xml, kind FROM PLT_Tasks WHERE id = " + std::to_string(kSampleTaskId),
          "SELECT * FROM PLT_StoragePolicies WHERE policyId = " + std::to_string(kSampleStoragePolicyId) +
              " ORDER BY copyId, subclientId",
      });
  for (const std::string& query : queries) ExpectSameRows(seeded, FixtureDb(), query);
}

// The labs most tests run on have replications of their own, made by the
// same description: the sample's sites whole, and the n-th VM of each site
// as the sample's n-th but for what names it (its GUID, name, client), its
// disks and its content.
TEST_F(E2EDrJobSampleVMLab, AGeneratedLabHasTheSampleSitesAndVMsLikeTheSamplesOnes) {
  const std::string seeded = SeedWithDrJob();
  ASSERT_NO_FATAL_FAILURE(Seed());
  ASSERT_EQ(std::size(kSampleVMs), VMs().size());
  for (const std::string& query : SiteQueries()) ExpectSameRows(seeded, FixtureDb(), query);

  const std::string columns =
      "SELECT instanceId, poweredOn, tools, ip, host, datastores, nics, size, diskSizeMB, clone, projectId, placement "
      "FROM PLT_HvVMs WHERE guid = ";
  for (size_t n = 0; n < VMs().size(); ++n) {
    const std::string sample = std::to_string(kSampleVMs[n].replicationId);
    const SVSALabVM& vm = VMs()[n];
    SCOPED_TRACE(vm.replicationId);
    for (const char* site : {"src-", "dst-"}) {
      const std::vector<std::string> expected = Rows(seeded, columns + "'" + site + sample + "'");
      ASSERT_EQ(1u, expected.size());
      EXPECT_EQ(expected, Rows(FixtureDb(), columns + "'" + site + std::to_string(vm.replicationId) + "'"));
    }
    // The DR VM's snapshots: the backup one and the point-in-time ones,
    // named after the VM.
    const auto snapshots = [](const std::string& guid, const std::string& name) {
      return "SELECT replace(name, '" + name + "', '<VM>'), position, content > 0 FROM PLT_HvSnapshots WHERE vmGuid = '" +
             guid + "' ORDER BY position";
    };
    const std::vector<std::string> expected = Rows(seeded, snapshots("dst-" + sample, kSampleVMs[n].destination));
    EXPECT_EQ(3u, expected.size());
    EXPECT_EQ(expected, Rows(FixtureDb(), snapshots(vm.destGuid, vm.destName)));
  }
}

}  // namespace
