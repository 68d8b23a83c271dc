// A test boot boots a VM with its network cards disconnected, shuts it down
// and reverts it to the snapshot it took first: the VM is then as it was
// before the test boot, its cards connected, so a VM that runs afterwards
// reports its address again. drjob lab show tells.
#include <map>
#include <string>
#include <utility>

#include "host/DrJobTestSupport.h"

namespace {

using drtest::SResult;

const char* const kSources[] = {"db-primary", "db-replica", "app-server"};
const char* const kDRVMs[] = {"db-primary-DR", "db-replica-DR", "app-server-DR"};

class E2EDrJobTestbootRevert : public drtest::CDrJobLabTest {
 protected:
  using SShown = std::map<std::string, std::pair<std::string, std::string>>;
  // Each VM as drjob lab show lists it: its power and address, by name.
  SShown Shown() {
    SShown vms;
    const SResult show = Host("lab --db " + m_db + " show");
    EXPECT_EQ(0, show.code) << show.output;
    for (const std::vector<std::string>& row : drtest::LabSection(show.output, "VMs")) {
      if (row.size() > 4) vms[row[2]] = {row[3], row[5]};
    }
    return vms;
  }
  // Each VM named runs afterwards with the address it had before, one it
  // had indeed.
  static void ExpectRunningWithTheirAddresses(const SShown& before, const SShown& after,
                                              const char* const (&names)[3]) {
    for (const char* name : names) {
      SCOPED_TRACE(name);
      ASSERT_EQ(1u, after.count(name));
      EXPECT_EQ("on", after.at(name).first);
      EXPECT_NE("-", before.at(name).second);
      EXPECT_EQ(before.at(name).second, after.at(name).second);
    }
  }
  void RunType(const std::string& type, int jobId, const std::string& more = "") {
    const SResult r = Host("run --db " + m_db + " --group Sample --type " + type + " --job-id " +
                           std::to_string(jobId) + more);
    ASSERT_EQ(0, r.code) << r.output;
  }
};

// The case: a planned failover, a test boot of the sources (off, where the
// failover left them), an undo. The undo brings the sources back running,
// each with the address it had before the failover.
TEST_F(E2EDrJobTestbootRevert, AnUndoAfterATestbootBringsTheSourcesBackWithTheirAddresses) {
  const auto seeded = Shown();
  RunType("planned-failover", 1);
  RunType("testboot", 2, " --testboot-wait 0");
  RunType("undo-failover", 3);
  ExpectRunningWithTheirAddresses(seeded, Shown(), kSources);
}

// A test boot of VMs that run (the DR VMs, powered on by hand): each runs
// again afterwards, with its address.
TEST_F(E2EDrJobTestbootRevert, ATestbootOfARunningVMLeavesItRunningWithItsAddress) {
  Sql("UPDATE PLT_HvVMs SET poweredOn = 1 WHERE guid IN ('dst-101', 'dst-102', 'dst-201')");
  const auto running = Shown();
  RunType("testboot", 1, " --testboot-wait 0");
  ExpectRunningWithTheirAddresses(running, Shown(), kDRVMs);
}

// A lab seeded before snapshots kept cards still loads: lab show lists its
// snapshots, and the same case ends with the sources reachable, as the
// snapshots the jobs take keep the cards.
TEST_F(E2EDrJobTestbootRevert, ALabSeededBeforeSnapshotsKeptCardsLoadsAndTheCaseEndsTheSame) {
  const auto seeded = Shown();
  Sql("ALTER TABLE PLT_HvSnapshots DROP COLUMN nics");
  CDBConnection::CloseThreadConnections();
  const SResult show = Host("lab --db " + m_db + " show");
  ASSERT_EQ(0, show.code) << show.output;
  EXPECT_TRUE(drtest::Has(show, "__OB_BACKUP__,db-primary-DR_1767225600,db-primary-DR_1767229200")) << show.output;
  RunType("planned-failover", 1);
  RunType("testboot", 2, " --testboot-wait 0");
  RunType("undo-failover", 3);
  ExpectRunningWithTheirAddresses(seeded, Shown(), kSources);
}

}  // namespace
