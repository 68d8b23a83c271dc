// Calls of the lab from many threads at once: each is its own transaction
// with its own journal row, none is lost and none sees another half done.
#include <gtest/gtest.h>

#include <set>

#include "TestThread.h"
#include "platform/vm/LabTestSupport.h"

namespace {

class HypervisorLabConcurrency : public CLabTestBase {};

TEST_F(HypervisorLabConcurrency, TwentyOperationsOnTenThreadsLeaveTwentyJournalRows) {
  std::vector<int> results(20, -1);
  std::vector<drtest::CTestThread> threads;
  for (int t = 0; t < 10; ++t) {
    threads.emplace_back(
        [t, &results] {
          // Each thread snapshots the source VM and powers the DR VM on or off.
          results[2 * t] = Op(3, kSiteA, "src-1", "", Snapshot("s" + std::to_string(t))).rc;
          results[2 * t + 1] = Op(t % 2 == 0 ? 10 : 29, kSiteB, "dst-1").rc;
          CDBConnection::CloseThreadConnections();
        },
        "lab caller " + std::to_string(t));
  }
  for (drtest::CTestThread& t : threads) ASSERT_TRUE(t.Join());
  for (int rc : results) EXPECT_EQ(0, rc);
  const std::vector<SLabCall> calls = Journal();
  ASSERT_EQ(20u, calls.size());
  std::set<long long> seqs;
  for (const SLabCall& c : calls) seqs.insert(c.seq);
  EXPECT_EQ(20u, seqs.size());
  // Ten snapshots, each with its own reference and position.
  const std::vector<SLabSnapshot> snaps = Snaps(kSiteA, "src-1");
  ASSERT_EQ(10u, snaps.size());
  std::set<std::string> refs;
  std::set<int> positions;
  for (const SLabSnapshot& s : snaps) {
    refs.insert(s.ref);
    positions.insert(s.position);
  }
  EXPECT_EQ(10u, refs.size());
  EXPECT_EQ(10u, positions.size());
}

}  // namespace
