// The fault matrix of the planned and unplanned failover: each case plants
// one fault on the lab, runs the DR job end to end and passes the harness's
// checks (final state and summary, final rows, no child job or lab call
// left running), then its own.
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "FaultMatrix.h"
#include "TestSupport.h"
#include "jobs/JobStore.h"
#include "jobs/StandIns.h"
#include "jobsim/JobSimulator.h"
#include "log/LogSink.h"
#include "settings/ZNPlatformInfo.h"
#include "time/PlatformClock.h"
#include "vm/HypervisorLab.h"
#include "vm/HypervisorStore.h"
#include "vsa/VSARepInfo.h"

namespace {

using namespace faultmatrix;  // the final states

// Gives every source new content, so the group's sync has work to do.
void ChangeSources(CFaultMatrix& m) {
  for (const SVSALabVM& vm : m.VMs()) CHypervisorLab::BumpContent(3, vm.sourceGuid);
}

// ---- a VM operation failing on one machine at each step --------------------

struct SVMStepFault {
  const char* name;
  TMMsg::DROrchestrationType type;
  int opType;
  int site;
  bool fatal;  // the machine fails; otherwise it succeeds with the step's row FAILED
  int groups = 1;
};

void PrintTo(const SVMStepFault& f, std::ostream* os) { *os << f.name; }

class E2EFaultMatrixVMStep : public CFaultMatrix, public ::testing::WithParamInterface<SVMStepFault> {};

TEST_P(E2EFaultMatrixVMStep, OneMachineFailingAStepEndsAsThePartsSay) {
  const SVMStepFault& f = GetParam();
  SVSALabSpec spec = Lab(f.type);
  spec.subclientGroups = f.groups;
  spec.deployAtFailover = f.opType == TMMsg::VM_OPERATION_CREATE_DR_VM;
  SFaultCase c{f.name, spec, nullptr, f.fatal ? kCWE : kSuccess};
  c.plant = [&f](CFaultMatrix& m) {
    m.LabFault(102, f.site, f.opType, ELabFault::kError, 1, 1);
    if (f.type == kPlanned) ChangeSources(m);
  };
  RunCase(c);
  for (int id : {101, 103}) {
    EXPECT_EQ(App::VSA_FAILOVER_STATUS_FAILOVER_COMPLETE, StoredFailoverStatus(id));
    EXPECT_TRUE(DRVM(id).poweredOn);
  }
  if (!f.fatal) {
    if (f.opType == TMMsg::VM_OPERATION_POST_VM_FAILOVER) {
      EXPECT_EQ(Api::VIRTUAL_APP_PHASE_STATE_FAILED, RowOf(102, Api::VIRTUAL_APP_PHASE_POST_VM_FAILOVER).status);
    }
    EXPECT_TRUE(Machine(102)->IsSuccess());
    EXPECT_EQ(App::VSA_FAILOVER_STATUS_FAILOVER_COMPLETE, StoredFailoverStatus(102));
    EXPECT_TRUE(DRVM(102).poweredOn);
    EXPECT_TRUE(HasSnapshot(102, kDR, "__OB_FAILOVER__")) << "a tolerated step reverts nothing";
    return;
  }
  // No phantom success: the machine is counted failed.
  EXPECT_FALSE(Machine(102)->IsSuccess());
  EXPECT_FALSE(DRVM(102).poweredOn);
  EXPECT_FALSE(HasSnapshot(102, kDR, "__OB_FAILOVER__"));
  bool found = true;
  StoredProperty(102, VSARepInfo::kPropDestSnapMoref, &found);
  EXPECT_FALSE(found);
  EXPECT_EQ(App::VSA_FAILOVER_STATUS_FAILOVER_FAILED, StoredFailoverStatus(102));
  // In sync as loaded (unplanned), or as the sync left it or as seen
  // before sync was disabled (planned): in sync either way here.
  EXPECT_EQ(App::VSA_REPL_STATUS_IN_SYNC, StoredSyncStatus(102));
  if (f.type == kPlanned) {
    EXPECT_TRUE(SourceVM(102).poweredOn);
  } else {
    EXPECT_FALSE(SourceVM(102).poweredOn);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Steps, E2EFaultMatrixVMStep,
    ::testing::Values(
        SVMStepFault{"PlannedDRPowerOff", kPlanned, TMMsg::VM_OPERATION_POWER_OFF, kDR, true},
        SVMStepFault{"PlannedShutdown", kPlanned, TMMsg::VM_OPERATION_SHUTDOWN, kSource, true},
        SVMStepFault{"PlannedCreateDRVM", kPlanned, TMMsg::VM_OPERATION_CREATE_DR_VM, kDR, true},
        SVMStepFault{"PlannedFailoverSnapshot", kPlanned, TMMsg::VM_OPERATION_CREATE_SNAPSHOT, kDR, true},
        SVMStepFault{"PlannedDRPowerOn", kPlanned, TMMsg::VM_OPERATION_POWER_ON, kDR, true},
        SVMStepFault{"PlannedPostFailoverAction", kPlanned, TMMsg::VM_OPERATION_POST_VM_FAILOVER, kDR, false},
        SVMStepFault{"PlannedSourceSnapshot", kPlanned, TMMsg::VM_OPERATION_CREATE_SNAPSHOT, kSource, true},
        SVMStepFault{"PlannedDRSnapshotDelete", kPlanned, TMMsg::VM_OPERATION_DELETE_SNAPSHOT, kDR, true},
        SVMStepFault{"PlannedIPAddress", kPlanned, TMMsg::VM_OPERATION_GET_VM_INFO, kDR, false},
        SVMStepFault{"UnplannedSourcePowerOff", kUnplanned, TMMsg::VM_OPERATION_POWER_OFF, kSource, false},
        SVMStepFault{"UnplannedCreateDRVM", kUnplanned, TMMsg::VM_OPERATION_CREATE_DR_VM, kDR, true},
        SVMStepFault{"UnplannedFailoverSnapshot", kUnplanned, TMMsg::VM_OPERATION_CREATE_SNAPSHOT, kDR, true},
        SVMStepFault{"UnplannedDRPowerOn", kUnplanned, TMMsg::VM_OPERATION_POWER_ON, kDR, true},
        SVMStepFault{"UnplannedPostFailoverAction", kUnplanned, TMMsg::VM_OPERATION_POST_VM_FAILOVER, kDR, false},
        SVMStepFault{"UnplannedDRSnapshotDelete", kUnplanned, TMMsg::VM_OPERATION_DELETE_SNAPSHOT, kDR, true},
        SVMStepFault{"UnplannedIPAddress", kUnplanned, TMMsg::VM_OPERATION_GET_VM_INFO, kDR, false}),
    [](const ::testing::TestParamInfo<SVMStepFault>& info) { return std::string(info.param.name); });

// The fatal steps again with the failing machine in the first of two
// subclient groups, which run at once.
INSTANTIATE_TEST_SUITE_P(
    TwoGroups, E2EFaultMatrixVMStep,
    ::testing::Values(
        SVMStepFault{"PlannedShutdown", kPlanned, TMMsg::VM_OPERATION_SHUTDOWN, kSource, true, 2},
        SVMStepFault{"PlannedDRPowerOn", kPlanned, TMMsg::VM_OPERATION_POWER_ON, kDR, true, 2},
        SVMStepFault{"PlannedSourceSnapshot", kPlanned, TMMsg::VM_OPERATION_CREATE_SNAPSHOT, kSource, true, 2},
        SVMStepFault{"UnplannedFailoverSnapshot", kUnplanned, TMMsg::VM_OPERATION_CREATE_SNAPSHOT, kDR, true, 2},
        SVMStepFault{"UnplannedDRPowerOn", kUnplanned, TMMsg::VM_OPERATION_POWER_ON, kDR, true, 2}),
    [](const ::testing::TestParamInfo<SVMStepFault>& info) { return std::string(info.param.name); });

// ---- child jobs, proxies and the database -------------------------------------

class E2EFaultMatrix : public CFaultMatrix {
 protected:
  void TearDown() override {
    ZNPlatformInfo::setNumber("Session", "bDisableDRJobWaitService", 0);
    CFaultMatrix::TearDown();
  }
};

// The kills and the suspend: the DR job's threads meet the thread that
// stops it (also run under ThreadSanitizer).
class FaultMatrixConcurrency : public CFaultMatrix {};

// ---- priorities -----------------------------------------------------------------

TEST_F(E2EFaultMatrix, PrioritiesNeverOverlap) {
  SVSALabSpec spec = CFaultMatrix::Lab(kPlanned, 6);
  spec.subclientGroups = 3;
  spec.priorities = 3;
  RunCase(SFaultCase{"three priorities", spec, nullptr, kSuccess});
  // Each priority's lab calls, by the VMs of its group.
  std::map<std::string, int> priorityOf;
  for (const SVSALabVM& vm : VMs()) {
    const int priority = vm.subclientId - 21 + 1;
    priorityOf[vm.sourceGuid] = priority;
    priorityOf[vm.destGuid] = priority;
  }
  std::map<int, long long> first, last;
  for (const SLabCall& call : LabCalls()) {
    const int priority = priorityOf[call.vmGuid];
    ASSERT_NE(0, priority) << call.vmGuid;
    if (first.count(priority) == 0) first[priority] = call.seq;
    last[priority] = call.seq;
  }
  ASSERT_EQ(3u, first.size());
  EXPECT_LT(last[1], first[2]);
  EXPECT_LT(last[2], first[3]);
  EXPECT_EQ(2u, CLogSink::Instance().Count("[Wait before processing next priority]. Checking back in [60] seconds"));
}

TEST_F(E2EFaultMatrix, AProxyThatStaysUnreachableFailsOnePowerOnAfterFiveWaits) {
  for (auto type : {kPlanned, kUnplanned}) {
    SCOPED_TRACE(type);
    SFaultCase c{"-100 on a DR power-on", Lab(type), nullptr, kCWE};
    c.plant = [](CFaultMatrix& m) {
      m.LabFault(102, kDR, TMMsg::VM_OPERATION_POWER_ON, ELabFault::kConnectionFailure);
    };
    RunCase(c);
    EXPECT_EQ(5u, CLogSink::Instance().Count("[Proxy connection failure. Wait before retry.]. Checking back in [60] "
                                             "seconds"));
    EXPECT_EQ(App::VSA_FAILOVER_STATUS_FAILOVER_FAILED, StoredFailoverStatus(102));
    EXPECT_FALSE(DRVM(102).poweredOn);
    if (type == kPlanned) {
      TearDown();
      SetUp();
    }
  }
}

TEST_F(E2EFaultMatrix, AFailedBackupFailsTheGroupAndBringsTheSourcesBack) {
  SFaultCase c{"backup failed", CFaultMatrix::Lab(kPlanned), nullptr, kFailed};
  c.plant = [](CFaultMatrix& m) {
    m.FailFirstChild(EChildJobType::kBackup, "planted backup failure");
  };
  RunCase(c);
  for (const SVSALabVM& vm : VMs()) {
    EXPECT_TRUE(SourceVM(vm.replicationId).poweredOn);
    EXPECT_FALSE(DRVM(vm.replicationId).poweredOn);
    EXPECT_EQ(App::VSA_FAILOVER_STATUS_FAILOVER_FAILED, StoredFailoverStatus(vm.replicationId));
  }
  EXPECT_TRUE(ChildJobs(EChildJobType::kSync).empty());
}

TEST_F(E2EFaultMatrix, ASyncEndingFailedForOneVMFailsThatMachineOnly) {
  SFaultCase c{"sync 5", CFaultMatrix::Lab(kPlanned), nullptr, kCWE};
  c.plant = [](CFaultMatrix& m) {
    ChangeSources(m);
    SJobFaults faults;
    faults.flags = kFaultSyncFailed;
    faults.replicationIds = {102};
    ASSERT_TRUE(CJobSimulator::SetNextJobFaults(EChildJobType::kSync, faults));
  };
  RunCase(c);
  EXPECT_EQ(App::VSA_REPL_STATUS_SYNC_FAILED, StoredSyncStatus(102));
  EXPECT_EQ(App::VSA_FAILOVER_STATUS_FAILOVER_FAILED, StoredFailoverStatus(102));
  EXPECT_TRUE(SourceVM(102).poweredOn);
  EXPECT_FALSE(DRVM(102).poweredOn);
  EXPECT_TRUE(DRVM(101).poweredOn);
}

TEST_F(FaultMatrixConcurrency, AHungSyncEndsWithTheKillAndIsKilledToo) {
  SFaultCase c{"sync hung, then kill", CFaultMatrix::Lab(kPlanned), nullptr, kKilled};
  c.plant = [](CFaultMatrix& m) {
    ChangeSources(m);
    m.KillInChildWait(EChildJobType::kSync);
  };
  RunCase(c);
  ExpectChildKilled(EChildJobType::kSync);
  for (const SVSALabVM& vm : VMs()) EXPECT_TRUE(SourceVM(vm.replicationId).poweredOn);
}

TEST_F(FaultMatrixConcurrency, ADroppedNoticeIsWaitedForUntilTheKill) {
  SFaultCase c{"notice dropped", CFaultMatrix::Lab(kPlanned), nullptr, kKilled};
  c.plant = [](CFaultMatrix& m) {
    SJobFaults faults;
    faults.flags = kFaultNoticeDropped;
    ASSERT_TRUE(CJobSimulator::SetNextJobFaults(EChildJobType::kBackup, faults));
    m.Steer(
        [] {
          SChildJobRecord job;
          const long long id = CFaultMatrix::FirstChild(EChildJobType::kBackup);
          return id != 0 && CJobSimulator::GetJob(id, job) == EStoreResult::kOk && job.ended;
        },
        [&m] { m.Kill(); });
  };
  RunCase(c);
  for (const SVSALabVM& vm : VMs()) {
    EXPECT_NE(-1, RowOf(vm.replicationId, Api::VIRTUAL_APP_PHASE_BACKUP).status);
    EXPECT_TRUE(SourceVM(vm.replicationId).poweredOn);
  }
}

TEST_F(E2EFaultMatrix, WithoutTheJobWaitServiceThePollFindsTheEnd) {
  SFaultCase c{"job-wait service disabled", CFaultMatrix::Lab(kPlanned), nullptr, kSuccess};
  c.plant = [](CFaultMatrix&) {
    ZNPlatformInfo::setNumber("Session", "bDisableDRJobWaitService", 1);
    SJobFaults faults;
    faults.flags = kFaultNoticeDropped;
    ASSERT_TRUE(CJobSimulator::SetNextJobFaults(EChildJobType::kBackup, faults));
  };
  RunCase(c);
}

TEST_F(E2EFaultMatrix, AFailedVMStatusQueryFailsTheBackedUpMachines) {
  SFaultCase c{"VM status query", CFaultMatrix::Lab(kPlanned), nullptr, kFailed};
  c.plant = [](CFaultMatrix&) {
    ASSERT_TRUE(CStandIns::SetFailures(CStandIns::ExecuteSPTarget(Api::GetVMStatusReq::kTypeId), 1));
  };
  RunCase(c);
  for (const SVSALabVM& vm : VMs()) {
    EXPECT_EQ(kFailed, RowOf(vm.replicationId, Api::VIRTUAL_APP_PHASE_BACKUP).status);
    EXPECT_TRUE(SourceVM(vm.replicationId).poweredOn);
  }
}

TEST_F(E2EFaultMatrix, AFailedPhaseRowWriteIsOnlyLogged) {
  SFaultCase c{"phase row", CFaultMatrix::Lab(kPlanned), nullptr, kSuccess};
  c.plant = [](CFaultMatrix&) {
    ASSERT_TRUE(CStandIns::SetFailures(CStandIns::ExecuteSPTarget(Api::VirtualAppJobUpdateReq::kTypeId), 1));
  };
  RunCase(c);
}

TEST_F(E2EFaultMatrix, AFailedSyncStatusStoreFailsItsMachine) {
  // One machine, so the merge after its DR VM's power-on is its sync
  // status: the power-on hangs until the fault is planted.
  SFaultCase c{"sync-status store", CFaultMatrix::Lab(kPlanned, 1), nullptr, kFailed};
  c.plant = [](CFaultMatrix& m) {
    m.LabFault(101, kDR, TMMsg::VM_OPERATION_POWER_ON, ELabFault::kHang);
    m.Steer([] { return CHypervisorLab::HungCalls() == 1; },
            [] {
              CStandIns::SetFailures(CStandIns::kReplicationMerge, 1);
              CHypervisorLab::ReleaseHangs();
            });
  };
  RunCase(c);
  EXPECT_EQ(kFailed, RowOf(101, Api::VIRTUAL_APP_PHASE_DISABLE_SYNC).status);
  EXPECT_EQ(App::VSA_REPL_STATUS_IN_SYNC, StoredSyncStatus(101));
  EXPECT_EQ(App::VSA_FAILOVER_STATUS_FAILOVER_FAILED, StoredFailoverStatus(101));
  EXPECT_FALSE(DRVM(101).poweredOn);
  EXPECT_TRUE(SourceVM(101).poweredOn);
}

// ---- a snapshot deletion that finds nothing to delete ---------------------------

// The DR VM of a replication without the backup snapshot the unplanned
// failover deletes last (as a revert leaves it).
void RemoveDRBackupSnapshot(CFaultMatrix& m, int replicationId) {
  std::vector<SLabSnapshot> snapshots;
  ASSERT_EQ(EStoreResult::kOk, CHypervisorLab::Snapshots(CHypervisorLabSeed::kSampleDestinationInstanceId,
                                                         m.VM(replicationId).destGuid, snapshots));
  for (const SLabSnapshot& s : snapshots) {
    if (s.name != "__OB_BACKUP__") continue;
    ASSERT_EQ(EStoreResult::kOk, CHypervisorStore::RemoveSnapshot(s.ref));
  }
}

// Whatever the hypervisor answers the deletion of a snapshot the DR VM does
// not hold, there was nothing to delete: the machine is failed over.
TEST_F(E2EFaultMatrix, ADeletionOfASnapshotTheVMDoesNotHoldIsDoneWhateverItAnswers) {
  SFaultCase c{"snapshot not there", CFaultMatrix::Lab(kUnplanned, 1), nullptr, kSuccess};
  c.plant = [](CFaultMatrix& m) {
    RemoveDRBackupSnapshot(m, 101);
    m.LabFault(101, kDR, TMMsg::VM_OPERATION_DELETE_SNAPSHOT, ELabFault::kError, 1, 1);
  };
  RunCase(c);
  EXPECT_TRUE(CLogSink::Instance().Contains("and the snapshot is not on the VM. Nothing to delete"));
  EXPECT_EQ(App::VSA_FAILOVER_STATUS_FAILOVER_COMPLETE, StoredFailoverStatus(101));
  EXPECT_TRUE(DRVM(101).poweredOn);
}

// The site went down by the deletion: the hypervisor can tell neither the
// deletion nor whether the snapshot is there, and the deletion fails the
// machine as any failure does.
TEST_F(E2EFaultMatrix, ADeletionMetByASiteDownFailsTheMachineThoughTheSnapshotIsNotThere) {
  SFaultCase c{"site down at the deletion", CFaultMatrix::Lab(kUnplanned, 1), nullptr, kFailed};
  c.plant = [](CFaultMatrix& m) {
    RemoveDRBackupSnapshot(m, 101);
    m.LabFault(101, kDR, TMMsg::VM_OPERATION_DELETE_SNAPSHOT, ELabFault::kHang, 1, 1);
    m.Steer([] { return CHypervisorLab::HungCalls() == 1; },
            [] {
              CHypervisorLab::SetInstanceDown(CHypervisorLabSeed::kSampleDestinationInstanceId, true);
              CHypervisorLab::ReleaseHangs();
            });
  };
  RunCase(c);
  EXPECT_TRUE(CLogSink::Instance().Contains("[Delete Snapshot] on VM [vm-101-DR] GUID [" + VM(101).destGuid +
                                            "] failed with retcode [7002]"))
      << LoggedErrors();
  EXPECT_FALSE(CLogSink::Instance().Contains("Nothing to delete"));
  EXPECT_EQ(Api::VIRTUAL_APP_PHASE_STATE_FAILED, RowOf(101, Api::VIRTUAL_APP_PHASE_POST_DR_OPERATION).status);
  EXPECT_EQ(App::VSA_FAILOVER_STATUS_FAILOVER_FAILED, StoredFailoverStatus(101));
}

// ---- kills and a suspend at the named points ------------------------------------

struct SKillPoint {
  const char* name;
  TMMsg::DROrchestrationType type;
  int opType;  // the operation whose start kills the job; -1: a child-job wait
  int site;
  EChildJobType child;
};

void PrintTo(const SKillPoint& k, std::ostream* os) { *os << k.name; }

class FaultMatrixKillConcurrency : public CFaultMatrix, public ::testing::WithParamInterface<SKillPoint> {};

TEST_P(FaultMatrixKillConcurrency, AKillEndsTheJobKilledWithEveryRowFinal) {
  const SKillPoint& k = GetParam();
  SVSALabSpec lab = CFaultMatrix::Lab(k.type);
  lab.operationClasses = true;
  Seed(lab);
  if (k.type == kPlanned) ChangeSources(*this);
  if (k.opType >= 0) {
    TriggerOn(101, k.site, k.opType);
  } else {
    Steer([&k] { return CFaultMatrix::ChildRunning(k.child); }, [this] { Kill(); });
  }
  const int32_t state = RunDR();
  // In the post-replication the other machines run beside the one whose
  // power-on kills the job: those that got through before count. Before
  // it, none can.
  if (k.opType != TMMsg::VM_OPERATION_POWER_ON) {
    EXPECT_EQ(0, Counts().succeeded);
  }
  CheckKilledRun(state);
}

INSTANTIATE_TEST_SUITE_P(
    Points, FaultMatrixKillConcurrency,
    ::testing::Values(
        SKillPoint{"PlannedPreFailover", kPlanned, TMMsg::VM_OPERATION_POWER_OFF, kDR, EChildJobType::kBackup},
        SKillPoint{"PlannedShutdown", kPlanned, TMMsg::VM_OPERATION_SHUTDOWN, kSource, EChildJobType::kBackup},
        SKillPoint{"PlannedBackupWait", kPlanned, -1, kSource, EChildJobType::kBackup},
        SKillPoint{"PlannedSyncWait", kPlanned, -1, kSource, EChildJobType::kSync},
        SKillPoint{"PlannedPostReplication", kPlanned, TMMsg::VM_OPERATION_POWER_ON, kDR, EChildJobType::kBackup},
        SKillPoint{"UnplannedPowerOff", kUnplanned, TMMsg::VM_OPERATION_POWER_OFF, kSource, EChildJobType::kBackup},
        SKillPoint{"UnplannedPostReplication", kUnplanned, TMMsg::VM_OPERATION_POWER_ON, kDR, EChildJobType::kBackup}),
    [](const ::testing::TestParamInfo<SKillPoint>& info) { return std::string(info.param.name); });

TEST_F(FaultMatrixConcurrency, AKillBetweenPrioritiesKeepsTheFirstPriority) {
  SVSALabSpec spec = CFaultMatrix::Lab(kPlanned, 4);
  spec.subclientGroups = 2;
  spec.priorities = 2;
  SFaultCase c{"kill between priorities", spec, nullptr, kCWE};
  c.plant = [](CFaultMatrix& m) {
    m.Steer([] { return CLogSink::Instance().Contains("[Wait before processing next priority]. Checking back in"); },
            [&m] { m.Kill(); });
  };
  RunCase(c);
  for (int id : {101, 102}) EXPECT_EQ(App::VSA_FAILOVER_STATUS_FAILOVER_COMPLETE, StoredFailoverStatus(id));
  for (int id : {103, 104}) {
    EXPECT_NE(App::VSA_FAILOVER_STATUS_FAILOVER_COMPLETE, StoredFailoverStatus(id));
    EXPECT_TRUE(SourceVM(id).poweredOn);
    EXPECT_FALSE(DRVM(id).poweredOn);
  }
}

TEST_F(FaultMatrixConcurrency, ASuspendAtTheSyncWaitRestartsToSuccessLaunchingNothingTwice) {
  SFaultCase c{"suspend at the sync wait", CFaultMatrix::Lab(kPlanned), nullptr, kSuspended};
  c.plant = [](CFaultMatrix& m) {
    ChangeSources(m);
    m.Steer([] { return CFaultMatrix::ChildRunning(EChildJobType::kSync); }, [&m] { m.Suspend(); });
  };
  RunCase(c);
  Restart();
  ASSERT_EQ(kSuccess, RunDR()) << LoggedErrors();
  CheckEnd(kSuccess);
  EXPECT_EQ(1u, ChildJobs(EChildJobType::kBackup).size());
  EXPECT_EQ(1u, ChildJobs(EChildJobType::kSync).size());
  for (const SVSALabVM& vm : VMs()) {
    EXPECT_EQ(App::VSA_FAILOVER_STATUS_FAILOVER_COMPLETE, StoredFailoverStatus(vm.replicationId));
    EXPECT_EQ(SourceVM(vm.replicationId).content, DRVM(vm.replicationId).content);
  }
}

}  // namespace
