// The steps of storage-array DR on the labs, each seen through a DR job:
// the order mounts are dispatched in, the datastore lock names, storage
// operations over several replica groups, and one machine's mount refusals.
#include "Phases.h"
#include "app/SnapArrayLabFixture.h"
#include "array/ArrayLab.h"
#include "array/SnapReplicationStore.h"
#include "log/LogSink.h"

namespace {

using drtest::kSuccess;
using drtest::kFailed;

class E2ESnapArraySteps : public CSnapArrayLabFixture {
 protected:
  static void FailBreaks(const std::string& ds, int count) {
    SRelationshipFaults faults;
    faults.breakFails = count;
    ASSERT_EQ(EStoreResult::kOk, CArrayRelationshipStore::SetFaults(kArray, Path(ds), faults));
  }
};

TEST_F(E2ESnapArraySteps, MachinesSharingNoDatastoreStartFirst) {
  // P (X, Y), Q (X), R (Z): queue X gives Q (fewer datastores), queue Y's P
  // waits for X, queue Z gives R; the second pass adds P.
  Seed({{1, {"X", "Y"}}, {2, {"X"}}, {3, {"Z"}}});
  ASSERT_EQ(kSuccess, RunJob(TMMsg::DR_ORCHESTRATION_PLANNED_FAILOVER));
  EXPECT_TRUE(Logged("[I:0] Adding replication [2] [vm2] dsCount [1] to dispatch list"));
  EXPECT_TRUE(Logged("[I:0] Adding replication [3] [vm3] dsCount [1] to dispatch list"));
  EXPECT_TRUE(Logged("[I:1] Adding replication [1] [vm1] dsCount [2] to dispatch list"));
  EXPECT_FALSE(Logged("[I:0] Adding replication [1]"));
  EXPECT_TRUE(Logged("Dispatching [3] machines for priority [0]"));
}

TEST_F(E2ESnapArraySteps, ADatastorePathNamesItsLockWithUnderscoresAndCaseAloneMakesNoOtherLock) {
  Seed({{1, {"vol/ds1"}}, {2, {"VOL/DS1"}}});
  ASSERT_EQ(kSuccess, RunJob(TMMsg::DR_ORCHESTRATION_PLANNED_FAILOVER));
  EXPECT_TRUE(Logged("Acquired datastore lock[vol_ds1]"));
  EXPECT_TRUE(Logged("[1] ds lock(s) released for [Mount] for vm [vm1]"));
  EXPECT_TRUE(Logged("[1] ds lock(s) released for [Mount] for vm [vm2]"));
  // One entry of the lock table serves both spellings.
  EXPECT_EQ(1u, CLogSink::Instance().Count("Deleting mutex [vol_ds1]") +
                    CLogSink::Instance().Count("Deleting mutex [VOL_DS1]"));
}

TEST_F(E2ESnapArraySteps, OneOfTwoBreaksFailingFailsTheGroupAndCountsOneOfTwo) {
  Seed({{1, {"ds1"}}, {2, {"ds2"}}});
  FailBreaks("ds2", SRelationshipFaults::kAlways);
  EXPECT_EQ(kFailed, RunJob(TMMsg::DR_ORCHESTRATION_PLANNED_FAILOVER));
  EXPECT_TRUE(Logged("[Break Volume Relationship] successful for [1] out of [2] volumes on copy [52]"));
  EXPECT_EQ("broken-off", MirrorState("ds1"));
  EXPECT_EQ("snapmirrored", MirrorState("ds2"));
  for (int id : {1, 2}) {
    EXPECT_EQ(-1, RowOf(id, 34).phase) << id;
    EXPECT_EQ(App::VSA_FAILOVER_STATUS_FAILOVER_FAILED, FailoverStatus(id)) << id;
    // Past the storage steps: the sources stay down.
    EXPECT_FALSE(SourceOn(id)) << id;
  }
}

TEST_F(E2ESnapArraySteps, AFailedReSyncStopsTheUndoAndLeavesTheSourcesDown) {
  Seed({{1, {"ds1"}}, {2, {"ds2"}}});
  ASSERT_EQ(kSuccess, RunJob(TMMsg::DR_ORCHESTRATION_PLANNED_FAILOVER));
  SRelationshipFaults faults;
  faults.resyncFails = SRelationshipFaults::kAlways;
  ASSERT_EQ(EStoreResult::kOk, CArrayRelationshipStore::SetFaults(kArray, Path("ds2"), faults));
  // Groups start at 0, the re-sync's own success status: only a change that
  // succeeded may count.
  EXPECT_EQ(kFailed, RunJob(TMMsg::DR_ORCHESTRATION_UNDO_FAILOVER));
  EXPECT_TRUE(Logged("[Resync Volume Relationship] successful for [1] out of [2] volumes on copy [52]"));
  EXPECT_EQ("snapmirrored", MirrorState("ds1"));
  EXPECT_EQ("broken-off", MirrorState("ds2"));
  for (int id : {1, 2}) {
    EXPECT_FALSE(SourceOn(id)) << id;
    EXPECT_EQ(-1, RowOf(id, 1).phase) << id;
    EXPECT_EQ(App::VSA_FAILOVER_STATUS_REVERT_FAILOVER_FAILED, FailoverStatus(id)) << id;
  }
  EXPECT_FALSE(SubclientEnabled(21));
}

TEST_F(E2ESnapArraySteps, AnUnreadableBrokenCountFailsBeforeTheBackupAndPowersTheSourcesBack) {
  Seed({{1, {"ds1"}}, {2, {"ds1"}}});
  SRelationshipFaults faults;
  faults.readFails = true;
  ASSERT_EQ(EStoreResult::kOk, CArrayRelationshipStore::SetFaults(kArray, Path("ds1"), faults));
  EXPECT_EQ(kFailed, RunJob(TMMsg::DR_ORCHESTRATION_PLANNED_FAILOVER));
  EXPECT_TRUE(Logged("Error querying broken relationship count"));
  EXPECT_TRUE(drtest::ChildJobsOf(EChildJobType::kBackup).empty());
  EXPECT_TRUE(Logged("Proceeding to power back source vms for failed pairs ..."));
  for (int id : {1, 2}) {
    EXPECT_TRUE(SourceOn(id)) << id;
    EXPECT_NE(SSnapAfile::kMountedByDR, AfileOf(id).mountStatus) << id;
  }
}

TEST_F(E2ESnapArraySteps, AMountWithoutESXHostOrOnAForeignMountFailsThatMachineOnly) {
  Seed({{1, {"ds1"}, 21, ""}, {2, {"ds2"}}, {3, {"ds3"}}});
  ASSERT_TRUE(CArrayLab::SeedForeignMount(AfileOf(3).afileId, 77));
  EXPECT_NE(kSuccess, RunJob(TMMsg::DR_ORCHESTRATION_TEST_FAILOVER));
  EXPECT_TRUE(Logged("No ESX host specified for mount. Please check ESX host mapping in failover group."));
  EXPECT_TRUE(Logged("is already mounted by a NON-DR process. Proceeding to fail operation ..."));
  EXPECT_EQ(kFailed, RowOf(1, 38).status);
  EXPECT_EQ(kSuccess, RowOf(2, 38).status);
  EXPECT_EQ(App::DR_TEST_FAILOVER_STATUS_FAILED, TestFailoverStatus(1));
  EXPECT_EQ(App::DR_TEST_FAILOVER_STATUS_COMPLETE, TestFailoverStatus(2));
  EXPECT_EQ(App::DR_TEST_FAILOVER_STATUS_FAILED, TestFailoverStatus(3));
  EXPECT_EQ(59, AfileOf(3).mountStatus);
  EXPECT_TRUE(EveryDatastoreLockFree());
}

TEST_F(E2ESnapArraySteps, AMountAnsweredHeldElsewhereIsTriedOnTheNextProxy) {
  Seed({{1, {"ds1"}}});
  SLabFault fault;
  fault.opType = TMMsg::VM_OPERATION_SNAP_MOUNT;
  fault.kind = ELabFault::kMountedElsewhere;
  ASSERT_TRUE(CHypervisorLab::AddFault(fault));
  ASSERT_EQ(kSuccess, RunJob(TMMsg::DR_ORCHESTRATION_PLANNED_FAILOVER));
  EXPECT_TRUE(Logged("Snap is mounted using a proxy client other than ["));
  std::vector<SLabCall> calls;
  ASSERT_EQ(EStoreResult::kOk, CHypervisorLab::Calls(calls));
  std::vector<long long> proxies;
  for (const SLabCall& c : calls) {
    if (c.opType == TMMsg::VM_OPERATION_SNAP_MOUNT) proxies.push_back(c.proxyId);
  }
  ASSERT_EQ(2u, proxies.size());
  EXPECT_NE(proxies[0], proxies[1]);
  EXPECT_EQ(proxies[1], AfileOf(1).mountHostId);
}

TEST_F(E2ESnapArraySteps, AnUndoOfAnUnmountedSnapshotMarksItsUnmountDoneWithoutAProxy) {
  Seed({{1, {"ds1"}}});
  ASSERT_EQ(kSuccess, RunJob(TMMsg::DR_ORCHESTRATION_PLANNED_FAILOVER));
  // Someone else unmounted the snapshot since.
  ASSERT_TRUE(CArrayLab::RecordUnmount(AfileOf(1).afileId));
  RunJob(TMMsg::DR_ORCHESTRATION_UNDO_FAILOVER);
  EXPECT_TRUE(Logged("Marking  [DR-VM Snap Unmount] as [SUCCESS] for replication [1] as vm snap"));
  EXPECT_EQ(kSuccess, RowOf(1, 37).status);
  std::vector<SLabCall> calls;
  ASSERT_EQ(EStoreResult::kOk, CHypervisorLab::Calls(calls));
  for (const SLabCall& c : calls) {
    if (c.jobId == JobId()) {
      EXPECT_NE(TMMsg::VM_OPERATION_SNAP_UNMOUNT, c.opType);
    }
  }
}

}  // namespace
