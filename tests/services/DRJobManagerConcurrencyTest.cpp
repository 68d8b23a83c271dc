// Kill and suspend flags seen by many worker threads at once.
#include <atomic>
#include <string>
#include <vector>

#include "TestThread.h"
#include "drorch/DRJobManager.h"
#include "jobs/ZNDROrchestrationClnt.h"
#include "services/ServicesTestSupport.h"

namespace {

class DRJobManagerConcurrencyTest : public CServicesTestBase {};

void RunWorkers(CDRJobManager& jm, std::atomic<int>& quitSeen) {
  std::vector<drtest::CTestThread> workers;
  for (int t = 0; t < 8; ++t) {
    workers.emplace_back(
        [&jm, &quitSeen] {
          for (int i = 0; i < 50; ++i) {
            if (jm.IsQuitFlagSet()) quitSeen.fetch_add(1);
            jm.UpdatePercentComplete(i);
            (void)jm.IsJobKillIssued();
            (void)jm.IsJobSuspended();
          }
          CDBConnection::CloseThreadConnections();
        },
        "flag poller " + std::to_string(t));
  }
  for (drtest::CTestThread& w : workers) EXPECT_TRUE(w.Join());
}

TEST_F(DRJobManagerConcurrencyTest, KillSeenByEveryThreadAndStaysSet) {
  CreateJob(600, Xml(MakeOptions()));
  ZNDROrchestrationClnt client(600);
  CDRJobManager jm;
  ASSERT_TRUE(jm.Initialize(client, 0, 2));
  ASSERT_EQ(EStoreResult::kOk, CJobStore::SetControlOperation(600, 1));
  std::atomic<int> quitSeen(0);
  RunWorkers(jm, quitSeen);
  EXPECT_EQ(quitSeen.load(), 8 * 50);
  EXPECT_TRUE(jm.IsJobKillIssued());
  EXPECT_FALSE(jm.IsJobSuspended());
  CJobStore::SetControlOperation(600, 0);
  EXPECT_TRUE(jm.IsQuitFlagSet());
}

TEST_F(DRJobManagerConcurrencyTest, SuspendSetWhileThreadsPoll) {
  CreateJob(601, Xml(MakeOptions()));
  ZNDROrchestrationClnt client(601);
  CDRJobManager jm;
  ASSERT_TRUE(jm.Initialize(client, 0, 2));
  std::atomic<int> quitSeen(0);
  drtest::CTestThread setter(
      [] {
        CJobStore::SetControlOperation(601, 2);
        CDBConnection::CloseThreadConnections();
      },
      "suspend setter");
  RunWorkers(jm, quitSeen);
  ASSERT_TRUE(setter.Join());
  EXPECT_TRUE(jm.IsQuitFlagSet());
  EXPECT_TRUE(jm.IsJobSuspended());
  EXPECT_FALSE(jm.IsJobKillIssued());
}

}  // namespace
