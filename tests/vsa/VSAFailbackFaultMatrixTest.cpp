// The fault matrix of the types that follow a failover: failback, point in
// time, test boot, revert and undo. Each case plants one fault on a group
// that failed over (or, for the point-in-time failover and the test boot,
// one in sync), runs the DR job end to end and passes the harness's checks
// (final state and summary, final rows, no child job or lab call left
// running), then its own: the failing machine ends as its type's clean-up
// leaves it and the others as if nothing had happened.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "FaultMatrix.h"
#include "jobsim/JobSimulator.h"
#include "vm/HypervisorLab.h"

namespace {

constexpr int32_t kFailed = Api::VIRTUAL_APP_PHASE_STATE_FAILED;
constexpr int32_t kCWE = Api::VIRTUAL_APP_PHASE_STATE_COMPLETED_WITH_ERRORS;
constexpr int32_t kKilled = Api::VIRTUAL_APP_PHASE_STATE_KILLED;
constexpr int kSource = 0;
constexpr int kDR = 1;
constexpr auto kFailback = TMMsg::DR_ORCHESTRATION_FAILBACK;

class CAfterFailoverMatrix : public CFaultMatrix {
 protected:
  // A failed-over group of three.
  static SFaultCase FailedOverCase(const std::string& name, TMMsg::DROrchestrationType type, int32_t expected) {
    return SFaultCase{name, FailedOverSpec(type, 3), nullptr, expected};
  }
  // The lab as the failover left it, and a write in every DR VM: a failback
  // has something to bring home, an undo something to leave behind.
  void LeaveFailedOverWithWrites() {
    LeaveFailedOver();
    for (const SVSALabVM& vm : VMs()) {
      ASSERT_EQ(EStoreResult::kOk, CHypervisorLab::BumpContent(kDestInstance, vm.destGuid));
    }
  }
  // A failed-over group of three whose source VM 102 refuses to power on.
  SFaultCase SourcePowerOnFailing(TMMsg::DROrchestrationType type) {
    SFaultCase c = FailedOverCase("source power-on of 102 failed", type, kCWE);
    c.plant = [this](CFaultMatrix& m) {
      LeaveFailedOverWithWrites();
      m.LabFault(102, kSource, TMMsg::VM_OPERATION_POWER_ON, ELabFault::kError, 1, 1);
    };
    return c;
  }
  // A machine that failed back: its source runs what the DR VM held and the
  // replication is in sync again.
  void ExpectFailedBack(int id) {
    SCOPED_TRACE(id);
    EXPECT_TRUE(Machine(id)->IsSuccess());
    EXPECT_TRUE(SourceVM(id).poweredOn);
    EXPECT_FALSE(DRVM(id).poweredOn);
    EXPECT_EQ(DRVM(id).content, SourceVM(id).content);
    EXPECT_EQ(App::VSA_FAILOVER_STATUS_NONE, StoredFailoverStatus(id));
    EXPECT_EQ(App::VSA_REPL_STATUS_IN_SYNC, StoredSyncStatus(id));
  }
  // A machine whose failback failed: production stays on its DR VM and the
  // source keeps what it held before the failover.
  void ExpectStillFailedOver(int id) {
    SCOPED_TRACE(id);
    EXPECT_FALSE(Machine(id)->IsSuccess());
    EXPECT_TRUE(DRVM(id).poweredOn);
    EXPECT_FALSE(SourceVM(id).poweredOn);
    EXPECT_EQ(id, SourceVM(id).content);
    EXPECT_EQ(App::VSA_FAILOVER_STATUS_FAILBACK_FAILED, StoredFailoverStatus(id));
  }
};

class E2EFailbackFaultMatrix : public CAfterFailoverMatrix {};

// ---- failback ----

TEST_F(E2EFailbackFaultMatrix, ARestoreFailingForOneVMFailsThatMachineOnly) {
  SFaultCase c = FailedOverCase("restore of 102 failed", kFailback, kCWE);
  c.plant = [this](CFaultMatrix&) {
    LeaveFailedOverWithWrites();
    SJobFaults faults;
    faults.flags = kFaultSyncFailed;
    faults.replicationIds = {102};
    ASSERT_TRUE(CJobSimulator::SetNextJobFaults(EChildJobType::kSync, faults));
  };
  RunCase(c);
  ExpectStillFailedOver(102);
  EXPECT_EQ(App::VSA_REPL_STATUS_SYNC_DISABLED, StoredSyncStatus(102));
  ExpectFailedBack(101);
  ExpectFailedBack(103);
}

TEST_F(E2EFailbackFaultMatrix, AFailedDRSiteBackupFailsBackNothing) {
  SFaultCase c = FailedOverCase("DR-site backup failed", kFailback, kFailed);
  c.plant = [this](CFaultMatrix& m) {
    LeaveFailedOverWithWrites();
    m.Steer([] { return CFaultMatrix::FirstChild(EChildJobType::kBackup) != 0; },
            [] { CJobSimulator::Fail(CFaultMatrix::FirstChild(EChildJobType::kBackup), "planted backup failure"); });
  };
  RunCase(c);
  for (const SVSALabVM& vm : VMs()) ExpectStillFailedOver(vm.replicationId);
  EXPECT_TRUE(ChildJobs(EChildJobType::kSync).empty());
}

TEST_F(E2EFailbackFaultMatrix, ADRVMFailingToShutDownFailsThatMachineOnly) {
  SFaultCase c = FailedOverCase("shutdown of DR VM 102 failed", kFailback, kCWE);
  c.plant = [this](CFaultMatrix& m) {
    LeaveFailedOverWithWrites();
    m.LabFault(102, kDR, TMMsg::VM_OPERATION_SHUTDOWN, ELabFault::kError, 1, 1);
  };
  RunCase(c);
  ExpectStillFailedOver(102);
  ExpectFailedBack(101);
  ExpectFailedBack(103);
}

class FailbackFaultMatrixConcurrency : public CAfterFailoverMatrix {};

TEST_F(FailbackFaultMatrixConcurrency, AKillInTheRestoreWaitKillsTheRestoreAndLeavesTheGroupFailedOver) {
  SFaultCase c = FailedOverCase("kill in the restore wait", kFailback, kKilled);
  c.plant = [this](CFaultMatrix& m) {
    LeaveFailedOverWithWrites();
    m.KillInChildWait(EChildJobType::kSync);
  };
  RunCase(c);
  ExpectChildKilled(EChildJobType::kSync);
  EXPECT_EQ(0, Counts().succeeded);
  for (const SVSALabVM& vm : VMs()) {
    SCOPED_TRACE(vm.replicationId);
    EXPECT_NE(App::VSA_FAILOVER_STATUS_NONE, StoredFailoverStatus(vm.replicationId));
    EXPECT_TRUE(DRVM(vm.replicationId).poweredOn);
  }
}

// ---- point in time ----

TEST_F(E2EFailbackFaultMatrix, APointInTimeWithoutASnapshotFailsThatMachineOnly) {
  SVSALabSpec lab = Lab(TMMsg::DR_ORCHESTRATION_POINT_IN_TIME_FAILOVER, 2);
  lab.drOptions = [](CNMessageBase& dr) {
    CNMessageBase& info = dr.MutableMsg(TMMsg::DROrchestrationOption::kReplicationInfo);
    info.SetInt32List(TMMsg::DRReplicationInfoFields::kReplicationIds, {101, 102});
    for (int id : {101, 102}) {
      CNMessageBase& option = info.AddMsg(TMMsg::DRReplicationInfoFields::kConfigOptions);
      option.SetInt32(TMMsg::DRConfigOption::kReplicationId, id);
      option.SetUInt64(TMMsg::DRConfigOption::kPointInTime, 42);
    }
  };
  SFaultCase c{"no snapshot of 102 at the point in time", lab, nullptr, kCWE};
  // Only 101's DR VM has a snapshot of that time; 102's has another.
  c.plant = [this](CFaultMatrix&) {
    AddSnapshot(101, kDR, "vm-101-DR_42", 42);
    AddSnapshot(102, kDR, "vm-102-DR_43", 43);
  };
  RunCase(c);
  EXPECT_TRUE(Machine(101)->IsSuccess());
  EXPECT_EQ(42, DRVM(101).content);
  EXPECT_TRUE(DRVM(101).poweredOn);
  EXPECT_EQ(App::VSA_FAILOVER_STATUS_FAILOVER_COMPLETE, StoredFailoverStatus(101));
  EXPECT_FALSE(Machine(102)->IsSuccess());
  EXPECT_FALSE(DRVM(102).poweredOn);
  EXPECT_NE(43, DRVM(102).content);
  EXPECT_TRUE(SourceVM(102).poweredOn);
  EXPECT_EQ(App::VSA_FAILOVER_STATUS_FAILOVER_FAILED, StoredFailoverStatus(102));
  EXPECT_EQ(App::VSA_REPL_STATUS_IN_SYNC, StoredSyncStatus(102));
  EXPECT_FALSE(HasSnapshot(102, kDR, "__OB_FAILOVER__"));
}

// ---- test boot ----

TEST_F(E2EFailbackFaultMatrix, ATestBootPowerOnFailingPutsThatDRVMBackAsItWas) {
  SFaultCase c{"power-on of 102 failed", Lab(TMMsg::DR_ORCHESTRATION_TESTBOOT, 2), nullptr, kCWE};
  c.plant = [](CFaultMatrix& m) { m.LabFault(102, kDR, TMMsg::VM_OPERATION_POWER_ON, ELabFault::kError, 1, 1); };
  RunCase(c);
  EXPECT_TRUE(Machine(101)->IsSuccess());
  EXPECT_FALSE(Machine(102)->IsSuccess());
  for (const SVSALabVM& vm : VMs()) {
    SCOPED_TRACE(vm.replicationId);
    EXPECT_FALSE(DRVM(vm.replicationId).poweredOn);
    EXPECT_FALSE(HasSnapshot(vm.replicationId, kDR, "__OB_TESTBOOT__"));
    EXPECT_EQ(vm.replicationId, DRVM(vm.replicationId).content);
    EXPECT_EQ(App::VSA_REPL_STATUS_IN_SYNC, StoredSyncStatus(vm.replicationId));
    EXPECT_TRUE(SourceVM(vm.replicationId).poweredOn);
  }
}

// ---- revert and undo ----

TEST_F(E2EFailbackFaultMatrix, ARevertWhoseSourcePowerOnFailsFailsThatMachineOnly) {
  RunCase(SourcePowerOnFailing(TMMsg::DR_ORCHESTRATION_REVERT_FAILOVER));
  EXPECT_FALSE(Machine(102)->IsSuccess());
  EXPECT_EQ(App::VSA_FAILOVER_STATUS_REVERT_FAILOVER_FAILED, StoredFailoverStatus(102));
  EXPECT_EQ(App::VSA_REPL_STATUS_SYNC_DISABLED, StoredSyncStatus(102));
  EXPECT_FALSE(SourceVM(102).poweredOn);
  for (int id : {101, 103}) {
    SCOPED_TRACE(id);
    EXPECT_TRUE(Machine(id)->IsSuccess());
    EXPECT_EQ(App::VSA_FAILOVER_STATUS_NONE, StoredFailoverStatus(id));
    EXPECT_EQ(App::VSA_REPL_STATUS_IN_SYNC, StoredSyncStatus(id));
    EXPECT_FALSE(DRVM(id).poweredOn);
  }
}

TEST_F(E2EFailbackFaultMatrix, AnUndoWhoseSourcePowerOnFailsKeepsThatDRVMRunning) {
  RunCase(SourcePowerOnFailing(TMMsg::DR_ORCHESTRATION_UNDO_FAILOVER));
  EXPECT_FALSE(Machine(102)->IsSuccess());
  EXPECT_TRUE(DRVM(102).poweredOn);
  EXPECT_FALSE(SourceVM(102).poweredOn);
  EXPECT_EQ(App::VSA_FAILOVER_STATUS_REVERT_FAILOVER_FAILED, StoredFailoverStatus(102));
  for (int id : {101, 103}) {
    SCOPED_TRACE(id);
    EXPECT_TRUE(Machine(id)->IsSuccess());
    EXPECT_TRUE(SourceVM(id).poweredOn);
    EXPECT_EQ(id, SourceVM(id).content);
    EXPECT_FALSE(DRVM(id).poweredOn);
    EXPECT_EQ(App::VSA_FAILOVER_STATUS_NONE, StoredFailoverStatus(id));
  }
}

}  // namespace
