// Datastore locks of storage-array mounts across threads and processes: a
// lock another process holds past every try fails only the machines on
// it; one released in time lets the mount go on; many machines on shared
// datastores never mount on one datastore at once.
#include "Phases.h"
#include "TestSupport.h"
#include "TestThread.h"
#include "app/SnapArrayLabFixture.h"
#include "core/RunFolder.h"
#include "jobs/JobStore.h"

namespace {

using drtest::kSuccess;
using drtest::kFailed;

class SnapArrayLocksConcurrency : public CSnapArrayLabFixture {
 protected:
  // dr_mutex_helper holding the lock of a datastore.
  static bool HoldElsewhere(drtest::CChildProcess& holder, const std::string& name) {
    if (!holder.Start({DR_MUTEX_HELPER, CRunFolder::LockPath(), name, "hold"})) return false;
    std::string line;
    return holder.ReadLine(line) && line == "LOCKED";
  }
};

TEST_F(SnapArrayLocksConcurrency, ALockHeldByAnotherProcessPastEveryTryFailsOnlyItsMachines) {
  Seed({{1, {"ds1"}}, {2, {"ds2"}}});
  drtest::CChildProcess holder;
  ASSERT_TRUE(HoldElsewhere(holder, "DS1"));
  EXPECT_NE(kSuccess, RunJob(TMMsg::DR_ORCHESTRATION_TEST_FAILOVER));
  holder.CloseInput();
  holder.Wait();
  EXPECT_TRUE(Logged("Timed out waiting to acquire ds lock [ds1] ..."));
  const SPhaseRow row = RowOf(1, 38);
  EXPECT_EQ(kFailed, row.status);
  EXPECT_NE(std::string::npos, row.failureReason.find("Failed to acquire all ds locks for [Mount]!"))
      << row.failureReason;
  EXPECT_NE(SSnapAfile::kMountedByDR, AfileOf(1).mountStatus);
  EXPECT_EQ(kSuccess, RowOf(2, 38).status);
  EXPECT_TRUE(EveryDatastoreLockFree());
}

TEST_F(SnapArrayLocksConcurrency, ALockReleasedWhileTheMountWaitsLetsItGoOn) {
  Seed({{1, {"ds1"}}});
  drtest::CChildProcess holder;
  ASSERT_TRUE(HoldElsewhere(holder, "ds1"));
  drtest::CTestThread releaser([&] {
    ASSERT_TRUE(drtest::Eventually([] { return Logged("Waiting for ds acquisition lock [ds1] ..."); }));
    holder.CloseInput();
  }, "releaser");
  EXPECT_EQ(kSuccess, RunJob(TMMsg::DR_ORCHESTRATION_TEST_FAILOVER));
  ASSERT_TRUE(releaser.Join());
  holder.Wait();
  EXPECT_EQ(SSnapAfile::kMountedByDR, AfileOf(1).mountStatus);
  EXPECT_TRUE(EveryDatastoreLockFree());
}

TEST_F(SnapArrayLocksConcurrency, AKillDuringALockWaitFailsTheMachineWithTheKillsReasonAndNoLockLeftHeld) {
  // Machine 1's mount takes ds0, then waits for ds1, which another process
  // holds; machine 2 keeps the mounts on the pool's threads.
  Seed({{1, {"ds0", "ds1"}}, {2, {"ds2"}}});
  drtest::CChildProcess holder;
  ASSERT_TRUE(HoldElsewhere(holder, "ds1"));
  drtest::CTestThread killer([&] {
    ASSERT_TRUE(drtest::Eventually([] { return Logged("Waiting for ds acquisition lock [ds1] ..."); }));
    ASSERT_EQ(EStoreResult::kOk, CJobStore::SetControlOperation(JobId(), 1));
  }, "killer");
  EXPECT_NE(kSuccess, RunJob(TMMsg::DR_ORCHESTRATION_TEST_FAILOVER));
  ASSERT_TRUE(killer.Join());
  EXPECT_TRUE(Logged("[1] ds lock(s) acquired for [Mount] for vm [vm1]"));
  EXPECT_FALSE(Logged("Timed out waiting to acquire ds lock"));
  // The kill cut the wait short: the machine fails with the kill's reason.
  const SPhaseRow row = RowOf(1, 38);
  EXPECT_EQ(kFailed, row.status);
  EXPECT_EQ("Job kill issued", row.failureReason);
  EXPECT_NE(SSnapAfile::kMountedByDR, AfileOf(1).mountStatus);
  holder.CloseInput();
  holder.Wait();
  // ds0, taken before the wait, went back with the failure.
  EXPECT_TRUE(EveryDatastoreLockFree());
}

TEST_F(SnapArrayLocksConcurrency, ThirtyMachinesOnSixSharedDatastoresNeverMountOnOneAtOnce) {
  std::vector<SSnapLabVM> vms;
  for (int id = 1; id <= 30; ++id) {
    vms.push_back({id, {"ds" + std::to_string(id % 6), "ds" + std::to_string((id * 7) % 6)}});
  }
  Seed(vms);
  // Each mount takes a while, so threads that did not wait would meet.
  ASSERT_TRUE(CHypervisorLab::SetMountDurationMs(20000));
  EXPECT_EQ(kSuccess, RunJob(TMMsg::DR_ORCHESTRATION_TEST_FAILOVER));
  EXPECT_EQ(0, CHypervisorLab::MountOverlaps());
  for (int id = 1; id <= 30; ++id) EXPECT_EQ(SSnapAfile::kMountedByDR, AfileOf(id).mountStatus) << id;
  EXPECT_TRUE(EveryDatastoreLockFree());
}

}  // namespace
