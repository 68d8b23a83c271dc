// The storage-array DR types end to end on the array and hypervisor labs,
// each a DR job as the host runs it: what the arrays, the hypervisor, the
// replications, the subclient and the datastore locks hold afterwards.
#include "Phases.h"
#include "app/SnapArrayLabFixture.h"
#include "array/SnapReplicationStore.h"
#include "log/LogSink.h"

namespace {

using drtest::kSuccess;
using drtest::kFailed;
// The storage step's copy row (21).
constexpr int kAuxCopy = Api::VIRTUAL_APP_PHASE_AUX_COPY;

class E2ESnapArrayFailover : public CSnapArrayLabFixture {
 protected:
  void SeedThree() { Seed({{1, {"ds1"}}, {2, {"ds1", "ds2"}}, {3, {"ds3"}}}); }
};

TEST_F(E2ESnapArrayFailover, PlannedFailoverThenUndoMountsOnBrokenRelationshipsAndPutsEverythingBack) {
  SeedThree();
  ASSERT_EQ(kSuccess, RunJob(TMMsg::DR_ORCHESTRATION_PLANNED_FAILOVER));
  for (const std::string& ds : Datastores()) EXPECT_EQ("broken-off", MirrorState(ds)) << ds;
  for (int id : {1, 2, 3}) {
    EXPECT_EQ(SSnapAfile::kMountedByDR, AfileOf(id).mountStatus) << id;
    EXPECT_LT(kFirstBackup, AfileOf(id).masterJobId) << id;
    EXPECT_TRUE(DRVMExists(id)) << id;
    EXPECT_FALSE(SourceOn(id)) << id;
    EXPECT_EQ(App::VSA_FAILOVER_STATUS_FAILOVER_COMPLETE, FailoverStatus(id)) << id;
    for (int phase : {24, 8, kAuxCopy, 34, 41}) EXPECT_EQ(kSuccess, RowOf(id, phase).status) << id << " " << phase;
  }
  EXPECT_FALSE(SubclientEnabled(21));
  EXPECT_TRUE(EveryDatastoreLockFree());
  EXPECT_EQ(0, CHypervisorLab::MountOverlaps());
  EXPECT_TRUE(Logged("Priority [1] is a [Snap Array Replication] type priority"));

  ASSERT_EQ(kSuccess, RunJob(TMMsg::DR_ORCHESTRATION_UNDO_FAILOVER));
  for (const std::string& ds : Datastores()) EXPECT_EQ("snapmirrored", MirrorState(ds)) << ds;
  for (int id : {1, 2, 3}) {
    EXPECT_EQ(SSnapAfile::kUnmounted, AfileOf(id).mountStatus) << id;
    EXPECT_FALSE(DRVMExists(id)) << id;
    EXPECT_TRUE(SourceOn(id)) << id;
    EXPECT_EQ(App::VSA_FAILOVER_STATUS_REVERT_FAILOVER_COMPLETE, FailoverStatus(id)) << id;
    EXPECT_EQ(kSuccess, RowOf(id, 37).status) << id;
  }
  EXPECT_TRUE(SubclientEnabled(21));
  EXPECT_TRUE(EveryDatastoreLockFree());
}

TEST_F(E2ESnapArrayFailover, TestFailoverThenUndoTestLeaveRelationshipsAndSourcesAlone) {
  SeedThree();
  ASSERT_EQ(kSuccess, RunJob(TMMsg::DR_ORCHESTRATION_TEST_FAILOVER));
  for (int id : {1, 2, 3}) {
    EXPECT_EQ(App::DR_TEST_FAILOVER_STATUS_COMPLETE, TestFailoverStatus(id)) << id;
    const Api::SnapDRReplicationInfo info = Stored(id);
    EXPECT_EQ(Name(id), info.GetString(Api::SnapDRReplicationInfo::kProxyVMName)) << id;
    EXPECT_FALSE(info.GetString(Api::SnapDRReplicationInfo::kProxyVMGuid).empty()) << id;
    EXPECT_TRUE(AfileOf(id).failoverMount) << id;
    EXPECT_TRUE(DRVMExists(id)) << id;
    EXPECT_TRUE(SourceOn(id)) << id;
    EXPECT_EQ(kSuccess, RowOf(id, 38).status) << id;
  }
  for (const std::string& ds : Datastores()) EXPECT_EQ("snapmirrored", MirrorState(ds)) << ds;
  // The test flag went with the mount and the post-failover step.
  std::vector<SLabCall> calls;
  ASSERT_EQ(EStoreResult::kOk, CHypervisorLab::Calls(calls));
  int testMounts = 0;
  for (const SLabCall& c : calls) testMounts += c.opType == 55 && c.detail.find("test [1]") != std::string::npos;
  EXPECT_EQ(3, testMounts);

  ASSERT_EQ(kSuccess, RunJob(TMMsg::DR_ORCHESTRATION_UNDO_TEST_FAILOVER));
  for (int id : {1, 2, 3}) {
    EXPECT_EQ(App::DR_TEST_FAILOVER_STATUS_NONE, TestFailoverStatus(id)) << id;
    EXPECT_FALSE(Stored(id).Has(Api::SnapDRReplicationInfo::kProxyVMName)) << id;
    EXPECT_FALSE(DRVMExists(id)) << id;
    EXPECT_EQ(kSuccess, RowOf(id, 39).status) << id;
  }
  EXPECT_TRUE(EveryDatastoreLockFree());
}

// A test failover that mounted nothing leaves nothing to unmount: its undo
// clears the failed test instead of failing on the mount it cannot find.
TEST_F(E2ESnapArrayFailover, AnUndoOfATestFailoverThatMountedNothingClearsTheFailedTest) {
  SeedThree();
  ASSERT_EQ(EStoreResult::kOk, CHypervisorLab::SetInstanceDown(kDestInstance, true));
  EXPECT_EQ(kFailed, RunJob(TMMsg::DR_ORCHESTRATION_TEST_FAILOVER));
  for (int id : {1, 2, 3}) {
    EXPECT_EQ(App::DR_TEST_FAILOVER_STATUS_FAILED, TestFailoverStatus(id)) << id;
    EXPECT_NE(SSnapAfile::kMountedByDR, AfileOf(id).mountStatus) << id;
  }
  ASSERT_EQ(EStoreResult::kOk, CHypervisorLab::SetInstanceDown(kDestInstance, false));
  EXPECT_EQ(kSuccess, RunJob(TMMsg::DR_ORCHESTRATION_UNDO_TEST_FAILOVER));
  for (int id : {1, 2, 3}) {
    EXPECT_EQ(App::DR_TEST_FAILOVER_STATUS_NONE, TestFailoverStatus(id)) << id;
    EXPECT_EQ(kSuccess, RowOf(id, Api::VIRTUAL_APP_PHASE_DR_VM_TEST_SNAP_UNMOUNT).status) << id;
    EXPECT_TRUE(CLogSink::Instance().Contains("No mount job found for replication [" + std::to_string(id) + "]."))
        << id;
  }
}

TEST_F(E2ESnapArrayFailover, ABrokenRelationshipSkipsBackupAndCopyAndStillMounts) {
  SeedThree();
  ASSERT_EQ(EStoreResult::kOk, CArrayRelationshipStore::SetMirrorState(kArray, Path("ds3"), "broken-off"));
  ASSERT_EQ(kSuccess, RunJob(TMMsg::DR_ORCHESTRATION_PLANNED_FAILOVER));
  EXPECT_TRUE(Logged("SYNC is [OFF] for all volumes for copy [52]"));
  for (int id : {1, 2, 3}) {
    EXPECT_EQ(-1, RowOf(id, 8).phase) << id;
    EXPECT_EQ(-1, RowOf(id, kAuxCopy).phase) << id;
    // The snapshot mounted is the one copied before the run.
    EXPECT_EQ(kFirstBackup, AfileOf(id).masterJobId) << id;
    EXPECT_EQ(SSnapAfile::kMountedByDR, AfileOf(id).mountStatus) << id;
  }
  EXPECT_TRUE(drtest::ChildJobsOf(EChildJobType::kBackup).empty());
}

TEST_F(E2ESnapArrayFailover, UnplannedFailoverWithTheSourceSiteDownMountsTheLastCopy) {
  SeedThree();
  ASSERT_EQ(EStoreResult::kOk, CHypervisorLab::SetInstanceDown(kSourceInstance, true));
  ASSERT_EQ(kSuccess, RunJob(TMMsg::DR_ORCHESTRATION_UNPLANNED_FAILOVER));
  for (int id : {1, 2, 3}) {
    EXPECT_EQ(SSnapAfile::kMountedByDR, AfileOf(id).mountStatus) << id;
    EXPECT_EQ(App::VSA_FAILOVER_STATUS_FAILOVER_COMPLETE, FailoverStatus(id)) << id;
    EXPECT_EQ(kFailed, RowOf(id, 24).status) << id;
  }
  for (const std::string& ds : Datastores()) EXPECT_EQ("broken-off", MirrorState(ds)) << ds;
}

TEST_F(E2ESnapArrayFailover, AFailedPostFailoverStepUnmountsAndTheSourcesOfThatGroupStayDown) {
  Seed({{1, {"ds1"}}, {2, {"ds2"}}});
  SLabFault fault;
  fault.opType = TMMsg::VM_OPERATION_POST_VM_MOUNT_FAILOVER;
  fault.fromCall = 1;
  fault.toCall = 100;
  fault.code = 77;
  fault.text = "post failover refused";
  ASSERT_TRUE(CHypervisorLab::AddFault(fault));
  EXPECT_EQ(kFailed, RunJob(TMMsg::DR_ORCHESTRATION_PLANNED_FAILOVER));
  for (int id : {1, 2}) {
    EXPECT_EQ(SSnapAfile::kUnmounted, AfileOf(id).mountStatus) << id;
    EXPECT_FALSE(DRVMExists(id)) << id;
    EXPECT_EQ(App::VSA_FAILOVER_STATUS_FAILOVER_FAILED, FailoverStatus(id)) << id;
    EXPECT_EQ(kFailed, RowOf(id, 41).status) << id;
    // The break was done: the sources stay off.
    EXPECT_FALSE(SourceOn(id)) << id;
  }
  EXPECT_TRUE(EveryDatastoreLockFree());
}

TEST_F(E2ESnapArrayFailover, AFailedShutdownPowersTheSourcesBack) {
  Seed({{1, {"ds1"}}, {2, {"ds1"}}});
  SLabFault fault;
  fault.opType = TMMsg::VM_OPERATION_SHUTDOWN;
  fault.vm = Guid(2);
  fault.code = 77;
  fault.text = "shutdown refused";
  ASSERT_TRUE(CHypervisorLab::AddFault(fault));
  EXPECT_EQ(kFailed, RunJob(TMMsg::DR_ORCHESTRATION_PLANNED_FAILOVER));
  EXPECT_TRUE(Logged("Proceeding to power back source vms for failed pairs ..."));
  EXPECT_TRUE(SourceOn(1));
  EXPECT_TRUE(SourceOn(2));
  for (int id : {1, 2}) EXPECT_NE(SSnapAfile::kMountedByDR, AfileOf(id).mountStatus) << id;
  for (const std::string& ds : Datastores()) EXPECT_EQ("snapmirrored", MirrorState(ds)) << ds;
}

// A test failover may run beside a failed-back machine. A machine whose
// revert failed it refuses at admission, as it refuses a failover in place,
// and leaves as it stands; the others of the priority run. (Refused after
// admission, by the check of the whole priority, that machine went to the
// clean-up as if the job had begun it, and lost its DR mount there.)
TEST_F(E2ESnapArrayFailover, TestFailoverRefusesAFailedRevertAndRunsAfterAFailback) {
  Seed({{1, {"ds1"}}, {2, {"ds2"}}});
  SetFailoverStatus(2, App::VSA_FAILOVER_STATUS_REVERT_FAILOVER_FAILED);
  EXPECT_EQ(kSuccess, RunJob(TMMsg::DR_ORCHESTRATION_TEST_FAILOVER));
  EXPECT_TRUE(Logged("Machine ineligible as Failover Status for vm client is [Revert Failover Failed] in one of the "
                     "failover groups"));
  EXPECT_FALSE(Logged("App not eligible for Test Failover ops"));
  EXPECT_EQ(SSnapAfile::kMountedByDR, AfileOf(1).mountStatus);
  EXPECT_EQ(App::DR_TEST_FAILOVER_STATUS_COMPLETE, TestFailoverStatus(1));
  EXPECT_NE(SSnapAfile::kMountedByDR, AfileOf(2).mountStatus);
  EXPECT_EQ(App::DR_TEST_FAILOVER_STATUS_NONE, TestFailoverStatus(2));
  EXPECT_EQ(App::VSA_FAILOVER_STATUS_REVERT_FAILOVER_FAILED, FailoverStatus(2));
  ASSERT_EQ(kSuccess, RunJob(TMMsg::DR_ORCHESTRATION_UNDO_TEST_FAILOVER));

  SetFailoverStatus(2, App::VSA_FAILOVER_STATUS_FAILBACK_COMPLETE);
  EXPECT_EQ(kSuccess, RunJob(TMMsg::DR_ORCHESTRATION_TEST_FAILOVER));
  for (int id : {1, 2}) {
    EXPECT_EQ(SSnapAfile::kMountedByDR, AfileOf(id).mountStatus) << id;
    EXPECT_EQ(App::DR_TEST_FAILOVER_STATUS_COMPLETE, TestFailoverStatus(id)) << id;
  }
  EXPECT_EQ(App::VSA_FAILOVER_STATUS_FAILBACK_COMPLETE, FailoverStatus(2));
  EXPECT_TRUE(EveryDatastoreLockFree());
}

// A snapshot whose afile names no VM application cannot be mounted: its
// machine fails before any mount call, the other mounts.
TEST_F(E2ESnapArrayFailover, ASnapshotWithoutItsVMApplicationFailsOnlyItsMachineBeforeTheMount) {
  Seed({{1, {"ds1"}}, {2, {"ds2"}}});
  SSnapAfile broken = AfileOf(2);
  broken.vmAppId = 0;
  ASSERT_TRUE(CAfileStore::Add(broken));
  EXPECT_EQ(Api::VIRTUAL_APP_PHASE_STATE_COMPLETED_WITH_ERRORS, RunJob(TMMsg::DR_ORCHESTRATION_UNPLANNED_FAILOVER));
  EXPECT_TRUE(Logged("Invalid snapReq Options. ERROR"));
  EXPECT_EQ(kFailed, RowOf(2, Api::VIRTUAL_APP_PHASE_DR_VM_SNAP_MOUNT).status);
  EXPECT_FALSE(DRVMExists(2));
  EXPECT_NE(App::VSA_FAILOVER_STATUS_FAILOVER_COMPLETE, FailoverStatus(2));
  std::vector<SLabCall> calls;
  ASSERT_EQ(EStoreResult::kOk, CHypervisorLab::Calls(calls));
  for (const SLabCall& c : calls) {
    EXPECT_FALSE(c.opType == TMMsg::VM_OPERATION_SNAP_MOUNT && c.vmGuid == Guid(2)) << c.detail;
  }
  EXPECT_EQ(SSnapAfile::kMountedByDR, AfileOf(1).mountStatus);
  EXPECT_EQ(App::VSA_FAILOVER_STATUS_FAILOVER_COMPLETE, FailoverStatus(1));
  EXPECT_TRUE(EveryDatastoreLockFree());
}

}  // namespace
