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
#include "log/LogSink.h"
#include "vm/HypervisorLab.h"
#include "vsa/VSARepInfo.h"

namespace {

using faultmatrix::kCWE;
using faultmatrix::kDR;
using faultmatrix::kFailed;
using faultmatrix::kKilled;
using faultmatrix::kSource;
using faultmatrix::kSuccess;
using faultmatrix::kSuspended;
constexpr auto kFailbackJob = TMMsg::DR_ORCHESTRATION_FAILBACK;
constexpr auto kPointInTime = TMMsg::DR_ORCHESTRATION_POINT_IN_TIME_FAILOVER;
constexpr const char* kNextPriorityWait = "[Wait before processing next priority]. Checking back in";

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
  // A point-in-time failover of replications 101.. whose options ask each
  // for time 42.
  static SVSALabSpec PointInTimeLab(int replications) {
    SVSALabSpec lab = Lab(TMMsg::DR_ORCHESTRATION_POINT_IN_TIME_FAILOVER, replications);
    lab.drOptions = [replications](CNMessageBase& dr) {
      std::vector<int32_t> ids;
      for (int i = 0; i < replications; ++i) ids.push_back(kFirstReplication + i);
      CNMessageBase& info = dr.MutableMsg(TMMsg::DROrchestrationOption::kReplicationInfo);
      info.SetInt32List(TMMsg::DRReplicationInfoFields::kReplicationIds, ids);
      for (int id : ids) {
        CNMessageBase& option = info.AddMsg(TMMsg::DRReplicationInfoFields::kConfigOptions);
        option.SetInt32(TMMsg::DRConfigOption::kReplicationId, id);
        option.SetUInt64(TMMsg::DRConfigOption::kPointInTime, 42);
      }
    };
    return lab;
  }
  // How a machine ended: counted a success or not, which of its VMs run,
  // its failover status.
  void ExpectMachine(int id, bool success, bool sourceOn, bool drOn, int failoverStatus) {
    EXPECT_EQ(success, Machine(id)->IsSuccess());
    EXPECT_EQ(sourceOn, SourceVM(id).poweredOn);
    EXPECT_EQ(drOn, DRVM(id).poweredOn);
    EXPECT_EQ(failoverStatus, StoredFailoverStatus(id));
  }
  // A failback of a failed-over group whose first child job of the type
  // fails as soon as it runs.
  SFaultCase FailbackChildFailing(const std::string& name, EChildJobType type) {
    SFaultCase c = FailedOverCase(name, kFailbackJob, kFailed);
    c.plant = [this, type](CFaultMatrix& m) {
      LeaveFailedOverWithWrites();
      m.FailFirstChild(type, "planted failure");
    };
    return c;
  }
  // A job of the type on a failed-over group, killed in the wait for its
  // first child job of the type.
  SFaultCase KilledInChildWait(TMMsg::DROrchestrationType drType, EChildJobType type) {
    SFaultCase c = FailedOverCase("kill in a child job's wait", drType, kKilled);
    c.plant = [this, type](CFaultMatrix& m) {
      LeaveFailedOverWithWrites();
      m.KillInChildWait(type);
    };
    return c;
  }
  // The job suspended while the first call of the type on 102's DR VM is
  // held: another thread of the job than the call's (here the steering
  // one) finds the suspend, then the call goes on.
  void SuspendInHeldCall(CFaultMatrix& m, int opType) {
    m.LabFault(102, kDR, opType, ELabFault::kHang, 1, 1);
    m.Steer([] { return CHypervisorLab::HungCalls() == 1; },
            [this, &m] {
              m.Suspend();
              EXPECT_TRUE(m_jm->IsQuitFlagSet());
              CHypervisorLab::ReleaseHangs();
            });
  }
  // The suspended job's restart, which must end SUCCESS.
  void RestartToSuccess() {
    ASSERT_TRUE(CHypervisorLab::ClearFaults());
    Restart();
    ASSERT_EQ(kSuccess, RunDR()) << LoggedErrors();
    CheckEnd(kSuccess);
  }
  // A machine that failed back: its source runs what the DR VM held and the
  // replication is in sync again.
  void ExpectFailedBack(int id) {
    SCOPED_TRACE(id);
    ExpectMachine(id, true, true, false, App::VSA_FAILOVER_STATUS_NONE);
    EXPECT_EQ(DRVM(id).content, SourceVM(id).content);
    EXPECT_EQ(App::VSA_REPL_STATUS_IN_SYNC, StoredSyncStatus(id));
  }
  // A machine whose failback failed: production stays on its DR VM and the
  // source, off, keeps what it held before the failover, or what the DR VM
  // held when the restore got through before the failure.
  void ExpectStillFailedOver(int id, bool restored = false) {
    SCOPED_TRACE(id);
    ExpectMachine(id, false, false, true, App::VSA_FAILOVER_STATUS_FAILBACK_FAILED);
    EXPECT_EQ(restored ? DRVM(id).content : id, SourceVM(id).content);
  }
};

class E2EFailbackFaultMatrix : public CAfterFailoverMatrix {};

class E2EFailbackFaultMatrixStep;
// A point-in-time snapshot of time 42 on every DR VM.
void PlantPointInTimeSnapshots(E2EFailbackFaultMatrixStep& m);

// ---- a VM operation failing on one machine at each step ----------------------

// What the failing machine's fault does to the run.
enum class EStepOutcome {
  kTolerated,   // the step's failure is only logged: every machine succeeds
  kMachine,     // the machine fails, the others succeed
  kRestored,    // the machine fails after its restore, the others succeed
  kWholeGroup,  // the subclient's sequence stops: no machine succeeds
};

struct SStepFault {
  const char* name;
  TMMsg::DROrchestrationType type;
  int opType;
  int site;
  EStepOutcome outcome;
  void (*lab)(E2EFailbackFaultMatrixStep&) = nullptr;  // what the row adds to the lab before the fault
};

void PrintTo(const SStepFault& f, std::ostream* os) { *os << f.name; }

class E2EFailbackFaultMatrixStep : public CAfterFailoverMatrix, public ::testing::WithParamInterface<SStepFault> {
 public:
  using CVSALabFixture::AddProperty;
  using CVSALabFixture::AddSnapshot;

 protected:
  // A point-in-time failover that got through: the DR VM runs the point in
  // time, the source is off.
  void ExpectAtPointInTime(int id) {
    SCOPED_TRACE(id);
    ExpectMachine(id, true, false, true, App::VSA_FAILOVER_STATUS_FAILOVER_COMPLETE);
    EXPECT_EQ(42, DRVM(id).content);
  }
  // One that failed: production stays on the source, the DR VM is back as
  // it was (off, its replicated content, no failover snapshot) and sync is
  // as the job found it.
  void ExpectPointInTimeFailed(int id) {
    SCOPED_TRACE(id);
    ExpectMachine(id, false, true, false, App::VSA_FAILOVER_STATUS_FAILOVER_FAILED);
    EXPECT_EQ(id, DRVM(id).content);
    EXPECT_FALSE(HasSnapshot(id, kDR, "__OB_FAILOVER__"));
    EXPECT_EQ(App::VSA_REPL_STATUS_IN_SYNC, StoredSyncStatus(id));
  }
};

TEST_P(E2EFailbackFaultMatrixStep, OneMachineFailingAStepEndsAsItsTypeLeavesIt) {
  const SStepFault& f = GetParam();
  const bool failback = f.type == kFailbackJob;
  SVSALabSpec lab = failback ? FailedOverSpec(kFailbackJob, 3) : PointInTimeLab(3);
  const int32_t expected = f.outcome == EStepOutcome::kTolerated ? kSuccess
                           : f.outcome == EStepOutcome::kWholeGroup ? kFailed
                                                                    : kCWE;
  SFaultCase c{f.name, lab, nullptr, expected};
  c.plant = [this, &f, failback](CFaultMatrix& m) {
    if (failback) LeaveFailedOverWithWrites();
    if (!failback) PlantPointInTimeSnapshots(*this);
    if (f.lab != nullptr) f.lab(*this);
    m.LabFault(102, f.site, f.opType, ELabFault::kError, 1, 1);
  };
  RunCase(c);
  for (const SVSALabVM& vm : VMs()) {
    const int id = vm.replicationId;
    const bool fails = f.outcome == EStepOutcome::kWholeGroup || (f.outcome != EStepOutcome::kTolerated && id == 102);
    if (failback && fails) ExpectStillFailedOver(id, f.outcome == EStepOutcome::kRestored);
    if (failback && !fails) ExpectFailedBack(id);
    if (!failback && fails) ExpectPointInTimeFailed(id);
    if (!failback && !fails) ExpectAtPointInTime(id);
  }
}

void PlantPointInTimeSnapshots(E2EFailbackFaultMatrixStep& m) {
  for (const SVSALabVM& vm : m.VMs()) m.AddSnapshot(vm.replicationId, kDR, vm.destName + "_42", 42);
}

// The failover snapshots a failover left on the DR VMs, stored as the
// replications know them.
void PlantFailoverSnapshots(E2EFailbackFaultMatrixStep& m) {
  for (const SVSALabVM& vm : m.VMs()) {
    const std::string ref = m.AddSnapshot(vm.replicationId, kDR, "__OB_FAILOVER__", 7);
    m.AddProperty(vm.replicationId, VSARepInfo::kPropDestSnapMoref, ref);
  }
}

INSTANTIATE_TEST_SUITE_P(
    E2ESteps, E2EFailbackFaultMatrixStep,
    ::testing::Values(
        SStepFault{"FailbackSourcePowerOff", kFailbackJob, TMMsg::VM_OPERATION_POWER_OFF, kSource,
                   EStepOutcome::kTolerated},
        SStepFault{"FailbackFailoverSnapshotDelete", kFailbackJob, TMMsg::VM_OPERATION_DELETE_SNAPSHOT, kDR,
                   EStepOutcome::kTolerated, PlantFailoverSnapshots},
        SStepFault{"FailbackPointInTimeSnapshotDelete", kFailbackJob, TMMsg::VM_OPERATION_DELETE_SNAPSHOT, kDR,
                   EStepOutcome::kWholeGroup, PlantPointInTimeSnapshots},
        SStepFault{"FailbackBackupSnapshotCreate", kFailbackJob, TMMsg::VM_OPERATION_CREATE_SNAPSHOT, kDR,
                   EStepOutcome::kRestored},
        SStepFault{"PointInTimeIPAddress", kPointInTime, TMMsg::VM_OPERATION_GET_VM_INFO, kDR,
                   EStepOutcome::kTolerated},
        SStepFault{"PointInTimeDRPowerOff", kPointInTime, TMMsg::VM_OPERATION_POWER_OFF, kDR, EStepOutcome::kMachine},
        SStepFault{"PointInTimeSourceShutdown", kPointInTime, TMMsg::VM_OPERATION_SHUTDOWN, kSource,
                   EStepOutcome::kMachine},
        SStepFault{"PointInTimeFailoverSnapshot", kPointInTime, TMMsg::VM_OPERATION_CREATE_SNAPSHOT, kDR,
                   EStepOutcome::kMachine},
        SStepFault{"PointInTimeRevert", kPointInTime, TMMsg::VM_OPERATION_REVERT_SNAPSHOT, kDR,
                   EStepOutcome::kMachine},
        SStepFault{"PointInTimeDRPowerOn", kPointInTime, TMMsg::VM_OPERATION_POWER_ON, kDR, EStepOutcome::kMachine},
        SStepFault{"PointInTimeBackupSnapshotDelete", kPointInTime, TMMsg::VM_OPERATION_DELETE_SNAPSHOT, kDR,
                   EStepOutcome::kMachine}),
    [](const ::testing::TestParamInfo<SStepFault>& info) { return std::string(info.param.name); });

// ---- failback ----

TEST_F(E2EFailbackFaultMatrix, ARestoreFailingForOneVMFailsThatMachineOnly) {
  SFaultCase c = FailedOverCase("restore of 102 failed", kFailbackJob, kCWE);
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
  RunCase(FailbackChildFailing("DR-site backup failed", EChildJobType::kBackup));
  for (const SVSALabVM& vm : VMs()) ExpectStillFailedOver(vm.replicationId);
  EXPECT_TRUE(ChildJobs(EChildJobType::kSync).empty());
}

TEST_F(E2EFailbackFaultMatrix, ADRVMFailingToShutDownFailsThatMachineOnly) {
  SFaultCase c = FailedOverCase("shutdown of DR VM 102 failed", kFailbackJob, kCWE);
  c.plant = [this](CFaultMatrix& m) {
    LeaveFailedOverWithWrites();
    m.LabFault(102, kDR, TMMsg::VM_OPERATION_SHUTDOWN, ELabFault::kError, 1, 1);
  };
  RunCase(c);
  ExpectStillFailedOver(102);
  ExpectFailedBack(101);
  ExpectFailedBack(103);
}

// The backup snapshot fails after 102's restore and its restored source
// will not shut down: the source keeps the workload, the DR VM stays off.
TEST_F(E2EFailbackFaultMatrix, ARestoredSourceThatWillNotShutDownKeepsTheDRVMOff) {
  SFaultCase c = FailedOverCase("backup snapshot and source shutdown of 102 failed", kFailbackJob, kCWE);
  c.plant = [this](CFaultMatrix& m) {
    LeaveFailedOverWithWrites();
    m.LabFault(102, kDR, TMMsg::VM_OPERATION_CREATE_SNAPSHOT, ELabFault::kError, 1, 1);
    m.LabFault(102, kSource, TMMsg::VM_OPERATION_SHUTDOWN, ELabFault::kError, 1, 1);
  };
  RunCase(c);
  ExpectMachine(102, false, true, false, App::VSA_FAILOVER_STATUS_FAILBACK_FAILED);
  EXPECT_EQ(DRVM(102).content, SourceVM(102).content);
  ExpectFailedBack(101);
  ExpectFailedBack(103);
}

class FailbackFaultMatrixConcurrency : public CAfterFailoverMatrix {};

TEST_F(FailbackFaultMatrixConcurrency, AKillInTheRestoreWaitKillsTheRestoreAndLeavesTheGroupFailedOver) {
  RunCase(KilledInChildWait(kFailbackJob, EChildJobType::kSync));
  ExpectChildKilled(EChildJobType::kSync);
  EXPECT_EQ(0, Counts().succeeded);
  for (const SVSALabVM& vm : VMs()) {
    SCOPED_TRACE(vm.replicationId);
    EXPECT_NE(App::VSA_FAILOVER_STATUS_NONE, StoredFailoverStatus(vm.replicationId));
    EXPECT_TRUE(DRVM(vm.replicationId).poweredOn);
  }
}

// A suspend another thread of the job finds while 102's post-DR operations
// snapshot its DR VM (the call held here): the suspended job stores no phase
// from then on, so the post-DR row stays in progress. The machine must not
// be completed, and with no status the completed one, the failback must not
// clear 102's status either, or its restart would count it done and never
// close the row nor enable its sync. The restart fails every machine back.
TEST_F(FailbackFaultMatrixConcurrency, ASuspendFoundInThePostDROperationsLeavesTheMachineToTheRestart) {
  SFaultCase c = FailedOverCase("suspend in 102's post-DR operations", kFailbackJob, kSuspended);
  c.plant = [this](CFaultMatrix& m) {
    LeaveFailedOverWithWrites();
    SuspendInHeldCall(m, TMMsg::VM_OPERATION_CREATE_SNAPSHOT);
  };
  RunCase(c);
  EXPECT_FALSE(Machine(102)->IsSuccess());
  EXPECT_EQ(App::VSA_FAILOVER_STATUS_FAILBACK_IN_PROGRESS, StoredFailoverStatus(102));
  EXPECT_EQ(Api::VIRTUAL_APP_PHASE_STATE_IN_PROGRESS, RowOf(102, Api::VIRTUAL_APP_PHASE_POST_DR_OPERATION).status);

  RestartToSuccess();
  for (const SVSALabVM& vm : VMs()) ExpectFailedBack(vm.replicationId);
}

// The same in an undo, as 102's failover snapshot is deleted: the suspended
// job keeps the snapshot's reference, so that its restart looks at the
// snapshot again, finds it gone and closes the delete's row. Every machine
// ends back at the source.
TEST_F(FailbackFaultMatrixConcurrency, ASuspendFoundAsAnUndoDeletesASnapshotLeavesItToTheRestart) {
  SFaultCase c = FailedOverCase("suspend in 102's snapshot delete", TMMsg::DR_ORCHESTRATION_UNDO_FAILOVER, kSuspended);
  c.plant = [this](CFaultMatrix& m) {
    LeaveFailedOverWithWrites();
    // The failover snapshots the failover took, which the undo reverts to
    // and deletes.
    for (const SVSALabVM& vm : VMs()) {
      AddProperty(vm.replicationId, VSARepInfo::kPropDestSnapMoref,
                  AddSnapshot(vm.replicationId, kDR, "__OB_FAILOVER__", vm.replicationId));
    }
    Reload();
    SuspendInHeldCall(m, TMMsg::VM_OPERATION_DELETE_SNAPSHOT);
  };
  RunCase(c);
  EXPECT_FALSE(Machine(102)->IsSuccess());
  EXPECT_FALSE(HasSnapshot(102, kDR, "__OB_FAILOVER__")) << "the held delete went through";

  RestartToSuccess();
  for (const SVSALabVM& vm : VMs()) {
    SCOPED_TRACE(vm.replicationId);
    EXPECT_TRUE(Machine(vm.replicationId)->IsSuccess());
    EXPECT_TRUE(SourceVM(vm.replicationId).poweredOn);
    EXPECT_FALSE(DRVM(vm.replicationId).poweredOn);
  }
}

// ---- point in time ----

TEST_F(E2EFailbackFaultMatrix, APointInTimeWithoutASnapshotFailsThatMachineOnly) {
  SFaultCase c{"no snapshot of 102 at the point in time", PointInTimeLab(2), nullptr, kCWE};
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

// ---- child jobs and kills ------------------------------------------------------

TEST_F(E2EFailbackFaultMatrix, AFailedRestoreJobFailsBackNothingAndDisablesSync) {
  RunCase(FailbackChildFailing("restore job failed", EChildJobType::kSync));
  for (const SVSALabVM& vm : VMs()) {
    ExpectStillFailedOver(vm.replicationId);
    EXPECT_EQ(App::VSA_REPL_STATUS_SYNC_DISABLED, StoredSyncStatus(vm.replicationId));
  }
}

TEST_F(FailbackFaultMatrixConcurrency, AKillInTheDRSiteBackupWaitKillsTheBackupAndRestoresNothing) {
  RunCase(KilledInChildWait(kFailbackJob, EChildJobType::kBackup));
  ExpectChildKilled(EChildJobType::kBackup);
  EXPECT_TRUE(ChildJobs(EChildJobType::kSync).empty());
  for (const SVSALabVM& vm : VMs()) ExpectStillFailedOver(vm.replicationId);
}

// Two priorities of two machines; the kill lands in the wait between them.
class AfterFailoverPrioritiesConcurrency : public CAfterFailoverMatrix {
 protected:
  static SVSALabSpec TwoPriorities(SVSALabSpec spec) {
    spec.replications = 4;
    spec.subclientGroups = 2;
    spec.priorities = 2;
    return spec;
  }
  static void KillInPriorityWait(CFaultMatrix& m) {
    m.Steer([] { return CLogSink::Instance().Contains(kNextPriorityWait); }, [&m] { m.Kill(); });
  }
};

TEST_F(AfterFailoverPrioritiesConcurrency, AFailbackKilledBetweenPrioritiesKeepsTheFirstFailedBack) {
  SFaultCase c{"failback killed between priorities", TwoPriorities(FailedOverSpec(kFailbackJob)), nullptr, kCWE};
  c.plant = [this](CFaultMatrix& m) {
    LeaveFailedOverWithWrites();
    KillInPriorityWait(m);
  };
  RunCase(c);
  for (int id : {101, 102}) ExpectFailedBack(id);
  for (int id : {103, 104}) ExpectStillFailedOver(id);
}

TEST_F(AfterFailoverPrioritiesConcurrency, APointInTimeFailoverKilledBetweenPrioritiesLeavesTheSecondUntouched) {
  SFaultCase c{"point in time killed between priorities", TwoPriorities(PointInTimeLab(4)), nullptr, kCWE};
  c.plant = [this](CFaultMatrix& m) {
    for (const SVSALabVM& vm : VMs()) AddSnapshot(vm.replicationId, kDR, vm.destName + "_42", 42);
    KillInPriorityWait(m);
  };
  RunCase(c);
  for (int id : {101, 102}) {
    SCOPED_TRACE(id);
    EXPECT_EQ(42, DRVM(id).content);
    EXPECT_TRUE(DRVM(id).poweredOn);
    EXPECT_FALSE(SourceVM(id).poweredOn);
    EXPECT_EQ(App::VSA_FAILOVER_STATUS_FAILOVER_COMPLETE, StoredFailoverStatus(id));
  }
  for (int id : {103, 104}) {
    SCOPED_TRACE(id);
    EXPECT_EQ(id, DRVM(id).content);
    EXPECT_FALSE(DRVM(id).poweredOn);
    EXPECT_TRUE(SourceVM(id).poweredOn);
    EXPECT_NE(App::VSA_FAILOVER_STATUS_FAILOVER_COMPLETE, StoredFailoverStatus(id));
    EXPECT_NE(App::VSA_FAILOVER_STATUS_FAILOVER_IN_PROGRESS, StoredFailoverStatus(id));
    EXPECT_EQ(App::VSA_REPL_STATUS_IN_SYNC, StoredSyncStatus(id));
  }
}

TEST_F(FailbackFaultMatrixConcurrency, AReverseReplicationKilledInItsBackupWaitKeepsTheFailover) {
  RunCase(KilledInChildWait(TMMsg::DR_ORCHESTRATION_REVERSE_REPLICATION, EChildJobType::kBackup));
  ExpectChildKilled(EChildJobType::kBackup);
  EXPECT_TRUE(ChildJobs(EChildJobType::kSync).empty());
  for (const SVSALabVM& vm : VMs()) {
    const int id = vm.replicationId;
    SCOPED_TRACE(id);
    EXPECT_EQ(App::VSA_FAILOVER_STATUS_FAILOVER_COMPLETE, StoredFailoverStatus(id));
    EXPECT_EQ(App::VSA_REPL_STATUS_SYNC_DISABLED, StoredSyncStatus(id));
    EXPECT_TRUE(DRVM(id).poweredOn);
    EXPECT_FALSE(SourceVM(id).poweredOn);
    EXPECT_EQ(id, SourceVM(id).content);
    EXPECT_FALSE(HasSnapshot(id, kSource, "__OB_BACKUP__"));
  }
}

// The kill does not cut the wait before shutdown short (half an hour, long
// enough for the kill to land in it); it stops the shutdown after it, and
// the clean-up puts the DR VMs back.
TEST_F(FailbackFaultMatrixConcurrency, ATestBootKilledInItsWaitPutsEveryDRVMBack) {
  SVSALabSpec lab = Lab(TMMsg::DR_ORCHESTRATION_TESTBOOT, 2);
  lab.drOptions = [](CNMessageBase& dr) {
    dr.MutableMsg(TMMsg::DROrchestrationOption::kAdvancedOptions)
        .SetInt32(TMMsg::DRAdvancedOptionFields::kDelayTime, 30);
  };
  SFaultCase c{"test boot killed in its wait", lab, nullptr, kKilled};
  c.plant = [](CFaultMatrix& m) {
    m.Steer([] { return CLogSink::Instance().Contains("[Invoking wait before shutdown]. Checking back in"); },
            [&m] { m.Kill(); });
  };
  RunCase(c);
  for (const SVSALabVM& vm : VMs()) {
    const int id = vm.replicationId;
    SCOPED_TRACE(id);
    EXPECT_FALSE(DRVM(id).poweredOn);
    EXPECT_EQ(id, DRVM(id).content);
    EXPECT_FALSE(HasSnapshot(id, kDR, "__OB_TESTBOOT__"));
    EXPECT_EQ(App::VSA_REPL_STATUS_IN_SYNC, StoredSyncStatus(id));
    EXPECT_TRUE(SourceVM(id).poweredOn);
  }
}

// A revert or undo killed as the first DR VM shuts down. That machine
// fails; the others run on their own threads and may have got through.
// Each failed machine ends "Revert Failover Failed" with sync as the job
// found it; an undo hands it back to its DR VM, its source off, and a
// revert leaves off the source of the machine the kill stopped.
class RevertFaultMatrixConcurrency : public CAfterFailoverMatrix,
                                     public ::testing::WithParamInterface<TMMsg::DROrchestrationType> {};

TEST_P(RevertFaultMatrixConcurrency, AKillAtTheFirstDRShutdownFailsThatMachineRevertFailed) {
  const TMMsg::DROrchestrationType type = GetParam();
  Seed(FailedOverSpec(type, 3));
  LeaveFailedOverWithWrites();
  TriggerOn(101, kDR, TMMsg::VM_OPERATION_SHUTDOWN);
  const int32_t state = RunDR();
  EXPECT_EQ(Counts().succeeded > 0 ? kCWE : kKilled, state) << LoggedErrors();
  CheckEnd(state);
  EXPECT_FALSE(Machine(101)->IsSuccess());
  for (const SVSALabVM& vm : VMs()) {
    const int id = vm.replicationId;
    SCOPED_TRACE(id);
    if (Machine(id)->IsSuccess()) {
      EXPECT_EQ(App::VSA_FAILOVER_STATUS_NONE, StoredFailoverStatus(id));
      EXPECT_FALSE(DRVM(id).poweredOn);
      continue;
    }
    EXPECT_EQ(App::VSA_FAILOVER_STATUS_REVERT_FAILOVER_FAILED, StoredFailoverStatus(id));
    EXPECT_EQ(App::VSA_REPL_STATUS_SYNC_DISABLED, StoredSyncStatus(id));
    EXPECT_EQ(id, SourceVM(id).content);
    // A revert powers a source on once it reverted it: only a machine the
    // kill stopped before that (the one it met at its DR VM's shutdown)
    // is sure to have its source off.
    if (type == TMMsg::DR_ORCHESTRATION_UNDO_FAILOVER || id == 101) {
      EXPECT_FALSE(SourceVM(id).poweredOn);
    }
    if (type == TMMsg::DR_ORCHESTRATION_UNDO_FAILOVER) {
      EXPECT_TRUE(DRVM(id).poweredOn);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Types, RevertFaultMatrixConcurrency,
                         ::testing::Values(TMMsg::DR_ORCHESTRATION_REVERT_FAILOVER,
                                           TMMsg::DR_ORCHESTRATION_UNDO_FAILOVER),
                         [](const ::testing::TestParamInfo<TMMsg::DROrchestrationType>& info) {
                           return std::string(info.param == TMMsg::DR_ORCHESTRATION_UNDO_FAILOVER ? "Undo" : "Revert");
                         });

}  // namespace
