// Planned and unplanned failover of VM replications end to end on the
// hypervisor lab, and the DR backup task edits of the VM context.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "FaultMatrix.h"
#include "Phases.h"
#include "appmgr/ActivityControlStore.h"
#include "appmgr/ClientActivityStore.h"
#include "jobs/TaskStore.h"
#include "jobsim/JobSimulator.h"
#include "log/LogSink.h"
#include "time/PlatformClock.h"
#include "vm/HypervisorLab.h"
#include "engine/GenericDR.h"
#include "vsa/VSAPlannedFailover.h"
#include "vsa/VSARepInfo.h"

namespace {

using drtest::kSuccess;
using drtest::kFailed;
using drtest::kCWE;

// The reference of the named snapshot, which must be there.
std::string RefOf(const std::vector<SLabSnapshot>& snapshots, const std::string& name) {
  for (const SLabSnapshot& s : snapshots) {
    if (s.name == name) return s.ref;
  }
  ADD_FAILURE() << "no snapshot " << name;
  return std::string();
}

class E2EPlannedFailover : public CFaultMatrix {
 protected:
  // How often the job enabled the backups of the machine's source VM client
  // since the capture was last cleared.
  size_t BackupEnables(const SVSALabVM& vm) const {
    return CLogSink::Instance().Count("Enable backup activity for the VM client [" +
                                      std::to_string(vm.sourceClientId) + "] success");
  }
};
class E2EUnplannedFailover : public CFaultMatrix {
 protected:
  // With first-time sync during failover the VMs go through the replication
  // step before their failover snapshots; without, nothing is replicated.
  void ExpectReplicationStep(bool firstTimeSync) {
    SVSALabSpec spec = CFaultMatrix::Lab(TMMsg::DR_ORCHESTRATION_UNPLANNED_FAILOVER, 2);
    spec.firstTimeSyncDuringFailover = firstTimeSync;
    ASSERT_EQ(kSuccess, RunCase(SFaultCase{"first-time sync", spec, nullptr, kSuccess}));
    // The unplanned failover writes no rows for its replication step.
    EXPECT_EQ(firstTimeSync, LoggedLine("[Replication] on site [Source]"));
    EXPECT_EQ(!firstTimeSync, LoggedLine("Deploy VM when failover is [false]"));
  }
};

// ---- planned ----------------------------------------------------------------

TEST_F(E2EPlannedFailover, TheGroupFailsOverWithTheSourcesLastContent) {
  SFaultCase c{"planned", CFaultMatrix::Lab(TMMsg::DR_ORCHESTRATION_PLANNED_FAILOVER, 4, 2), nullptr, kSuccess};
  // The sources changed after their last sync: the last backup and the
  // sync carry it over.
  c.plant = [](CFaultMatrix& m) {
    for (const SVSALabVM& vm : m.VMs()) ASSERT_EQ(EStoreResult::kOk, CHypervisorLab::BumpContent(3, vm.sourceGuid));
  };
  ASSERT_EQ(kSuccess, RunCase(c));
  EXPECT_EQ(0, ExitCodeOf(kSuccess));
  for (const SVSALabVM& vm : VMs()) {
    SCOPED_TRACE(vm.replicationId);
    const SLabVM source = SourceVM(vm.replicationId);
    const SLabVM dr = DRVM(vm.replicationId);
    EXPECT_FALSE(source.poweredOn);
    EXPECT_TRUE(dr.poweredOn);
    EXPECT_EQ(source.content, dr.content);
    EXPECT_NE(vm.replicationId, dr.content) << "the DR VM holds the content before the last backup";
    const std::vector<SLabSnapshot> drSnaps = Snapshots(vm.replicationId, 1);
    EXPECT_EQ(RefOf(drSnaps, "__OB_FAILOVER__"), StoredProperty(vm.replicationId, VSARepInfo::kPropDestSnapMoref));
    EXPECT_FALSE(RefOf(drSnaps, "__OB_FAILOVER__").empty());
    EXPECT_FALSE(HasSnapshot(vm.replicationId, 1, "__OB_BACKUP__"));
    const std::string sourceRef = RefOf(Snapshots(vm.replicationId, 0), "__OB_BACKUP__");
    EXPECT_FALSE(sourceRef.empty());
    EXPECT_EQ(sourceRef, StoredProperty(vm.replicationId, VSARepInfo::kPropSourceSnapMoref));
    EXPECT_EQ(CHypervisorLab::ReportedIp(dr), StoredProperty(vm.replicationId, VSARepInfo::kPropDestVMIpAddress));
    EXPECT_FALSE(CHypervisorLab::ReportedIp(dr).empty());
    EXPECT_EQ(App::VSA_REPL_STATUS_SYNC_DISABLED, StoredSyncStatus(vm.replicationId));
    EXPECT_EQ(App::VSA_FAILOVER_STATUS_FAILOVER_COMPLETE, StoredFailoverStatus(vm.replicationId));
    EXPECT_EQ(std::to_string(kJob), StoredProperty(vm.replicationId, VSARepInfo::kPropLastDRJobId));
    // Scheduled backups were off while the failover ran, and are on again;
    // the re-enabling was scheduled too.
    bool enabled = false;
    ASSERT_EQ(EStoreResult::kOk, CClientActivityStore::IsEnabled(vm.sourceClientId, 1, enabled));
    EXPECT_TRUE(enabled);
    std::vector<SActivityControlRecord> scheduled;
    ASSERT_EQ(EStoreResult::kOk, CActivityControlStore::Records(scheduled, vm.sourceClientId));
    EXPECT_EQ(1u, scheduled.size());
  }
  std::vector<SClientActivityRecord> switched;
  ASSERT_EQ(EStoreResult::kOk, CClientActivityStore::Records(switched));
  EXPECT_EQ(VMs().size(), switched.size());
  EXPECT_EQ(2u, ChildJobs(EChildJobType::kBackup).size());
  EXPECT_EQ(2u, ChildJobs(EChildJobType::kSync).size());
  EXPECT_TRUE(LoggedLine("Found [2] vms to boot for subclient [21]."));
}

// The group enables the backups of its machines once at its end and the
// priority's clean-up once more.
TEST_F(E2EPlannedFailover, EachMachinesBackupsAreEnabledOnceByItsGroupAndOnceByTheCleanup) {
  ASSERT_EQ(kSuccess, RunCase(SFaultCase{"planned", CFaultMatrix::Lab(TMMsg::DR_ORCHESTRATION_PLANNED_FAILOVER, 3),
                                         nullptr, kSuccess}));
  for (const SVSALabVM& vm : VMs()) EXPECT_EQ(2u, BackupEnables(vm)) << vm.replicationId;
}

TEST_F(E2EPlannedFailover, ARerunEnablesTheBackupsOfTheMachineItResumesLikeTheOthers) {
  SVSALabSpec spec = CFaultMatrix::Lab(TMMsg::DR_ORCHESTRATION_PLANNED_FAILOVER, 2);
  spec.operationClasses = true;
  Seed(spec);
  // 102 does not sync, so 101 boots alone; its DR VM runs when the job is
  // suspended in its post-DR operations (a suspension runs no clean-up,
  // where a kill's would undo the move). The rerun resumes 101 past its
  // power-on and fails 102 over from the start.
  SJobFaults faults;
  faults.flags = kFaultSyncFailed;
  faults.replicationIds = {102};
  ASSERT_TRUE(CJobSimulator::SetNextJobFaults(EChildJobType::kSync, faults));
  for (const SVSALabVM& vm : VMs()) ASSERT_EQ(EStoreResult::kOk, CHypervisorLab::BumpContent(3, vm.sourceGuid));
  TriggerOn(101, 0, TMMsg::VM_OPERATION_CREATE_SNAPSHOT, false);
  RunDR();
  Restart();
  CLogSink::Instance().ClearCapture();
  ASSERT_EQ(kSuccess, RunDR()) << LoggedErrors();
  EXPECT_TRUE(LoggedLine("Replication [101] was taken past its failover step"));
  EXPECT_FALSE(LoggedLine("Replication [102] was taken past its failover step"));
  for (const SVSALabVM& vm : VMs()) {
    EXPECT_EQ(App::VSA_FAILOVER_STATUS_FAILOVER_COMPLETE, StoredFailoverStatus(vm.replicationId));
    EXPECT_EQ(2u, BackupEnables(vm)) << vm.replicationId;
    bool enabled = false;
    ASSERT_EQ(EStoreResult::kOk, CClientActivityStore::IsEnabled(vm.sourceClientId, 1, enabled));
    EXPECT_TRUE(enabled);
  }
}

TEST_F(E2EPlannedFailover, OnlyARestartedJobAdmitsAFailoverInProgress) {
  SVSALabSpec spec = CFaultMatrix::Lab(TMMsg::DR_ORCHESTRATION_PLANNED_FAILOVER, 2);
  spec.failoverStatus = App::VSA_FAILOVER_STATUS_FAILOVER_IN_PROGRESS;
  spec.syncStatus = App::VSA_REPL_STATUS_SYNC_FAILED;
  spec.operationClasses = true;
  Seed(spec);
  EXPECT_EQ(kFailed, RunDR());
  EXPECT_TRUE(LoggedLine("Skipping DR"));
  EXPECT_TRUE(LoggedLine(" Total machines skipped       [2]"));
  EXPECT_TRUE(LabCalls(TMMsg::VM_OPERATION_POWER_ON).empty());

  // Another job left them failing over: a restart of this one refuses them
  // as its first attempt did.
  Restart();
  EXPECT_EQ(kFailed, RunDR());
  EXPECT_TRUE(LabCalls(TMMsg::VM_OPERATION_POWER_ON).empty());

  // This job's earlier attempt set them under way: its restart finishes them.
  for (const SVSALabVM& vm : VMs()) AddProperty(vm.replicationId, VSARepInfo::kPropLastDRJobId, std::to_string(kJob));
  Restart();
  ASSERT_EQ(kSuccess, RunDR());
  for (const SVSALabVM& vm : VMs()) {
    EXPECT_EQ(App::VSA_FAILOVER_STATUS_FAILOVER_COMPLETE, StoredFailoverStatus(vm.replicationId));
    EXPECT_TRUE(DRVM(vm.replicationId).poweredOn);
  }
}

TEST_F(E2EPlannedFailover, AGroupWithNothingSyncedBootsNothingAndIsRestored) {
  SFaultCase c{"nothing synced", CFaultMatrix::Lab(TMMsg::DR_ORCHESTRATION_PLANNED_FAILOVER, 2), nullptr, kFailed};
  c.plant = [](CFaultMatrix& m) {
    SJobFaults faults;
    faults.flags = kFaultSyncFailed;
    for (const SVSALabVM& vm : m.VMs()) faults.replicationIds.push_back(vm.replicationId);
    ASSERT_TRUE(CJobSimulator::SetNextJobFaults(EChildJobType::kSync, faults));
    // The sync has work to do.
    for (const SVSALabVM& vm : m.VMs()) CHypervisorLab::BumpContent(3, vm.sourceGuid);
  };
  RunCase(c);
  EXPECT_TRUE(LoggedLine("Found [0] vms to boot for subclient [21]."));
  for (const SLabCall& call : LabCalls(TMMsg::VM_OPERATION_POWER_ON)) {
    EXPECT_EQ(3, call.instanceId) << "only the sources are powered on again, never a DR VM";
  }
  for (const SVSALabVM& vm : VMs()) {
    EXPECT_TRUE(SourceVM(vm.replicationId).poweredOn) << "the clean-up powers the source on again";
    EXPECT_FALSE(DRVM(vm.replicationId).poweredOn);
    EXPECT_EQ(App::VSA_FAILOVER_STATUS_FAILOVER_FAILED, StoredFailoverStatus(vm.replicationId));
    bool enabled = false;
    ASSERT_EQ(EStoreResult::kOk, CClientActivityStore::IsEnabled(vm.sourceClientId, 1, enabled));
    EXPECT_TRUE(enabled);
  }
}

TEST_F(E2EPlannedFailover, AFailedPostDROperationRestoresItsMachineAndTheOthersSucceed) {
  SFaultCase c{"post-DR failure", CFaultMatrix::Lab(TMMsg::DR_ORCHESTRATION_PLANNED_FAILOVER, 3), nullptr, kCWE};
  // The source snapshot of the post-DR operations fails for 102.
  c.plant = [](CFaultMatrix& m) { m.LabFault(102, 0, TMMsg::VM_OPERATION_CREATE_SNAPSHOT, ELabFault::kError); };
  RunCase(c);
  EXPECT_EQ(8, ExitCodeOf(kCWE));
  EXPECT_EQ(kFailed, RowOf(102, Api::VIRTUAL_APP_PHASE_POST_DR_OPERATION).status);
  EXPECT_EQ(kSuccess, RowOf(101, Api::VIRTUAL_APP_PHASE_POST_DR_OPERATION).status);
  // The sync status seen before it was disabled comes back; the failover
  // snapshot is reverted and removed; the source runs again.
  EXPECT_EQ(App::VSA_REPL_STATUS_IN_SYNC, StoredSyncStatus(102));
  EXPECT_FALSE(HasSnapshot(102, 1, "__OB_FAILOVER__"));
  EXPECT_FALSE(DRVM(102).poweredOn);
  EXPECT_TRUE(SourceVM(102).poweredOn);
  EXPECT_EQ(App::VSA_FAILOVER_STATUS_FAILOVER_FAILED, StoredFailoverStatus(102));
  bool found = true;
  StoredProperty(102, VSARepInfo::kPropDestSnapMoref, &found);
  EXPECT_FALSE(found);
  for (int id : {101, 103}) {
    EXPECT_EQ(App::VSA_FAILOVER_STATUS_FAILOVER_COMPLETE, StoredFailoverStatus(id));
    EXPECT_TRUE(DRVM(id).poweredOn);
    EXPECT_FALSE(SourceVM(id).poweredOn);
  }
}

TEST_F(E2EPlannedFailover, WithoutFailbackSupportTheSnapshotsStayAsTheyWere) {
  SVSALabSpec spec = CFaultMatrix::Lab(TMMsg::DR_ORCHESTRATION_PLANNED_FAILOVER, 2);
  spec.destVendor = Common::VS_VENDOR_HYPERV;
  ASSERT_EQ(kSuccess, RunCase(SFaultCase{"no failback", spec, nullptr, kSuccess}));
  for (const SVSALabVM& vm : VMs()) {
    EXPECT_TRUE(HasSnapshot(vm.replicationId, 1, "__OB_BACKUP__"));
    EXPECT_FALSE(HasSnapshot(vm.replicationId, 0, "__OB_BACKUP__"));
    bool found = true;
    StoredProperty(vm.replicationId, VSARepInfo::kPropSourceSnapMoref, &found);
    EXPECT_FALSE(found);
  }
  EXPECT_TRUE(LabCalls(TMMsg::VM_OPERATION_POST_VM_FAILOVER).empty()) << "the vendor has no post-failover action";
}

// Without failback support no snapshot is deleted once the DR VM runs, and
// the look-up of its IP address is the machine's only post-DR step: a kill
// seen before it leaves the machine unfinished (a halted look-up let it
// succeed without its address). It fails, its clean-up brings the source
// back, and the job's rerun fails it over, its address recorded.
TEST_F(E2EPlannedFailover, WithoutFailbackSupportAKillBeforeTheLastPostDRStepFailsTheMachine) {
  SVSALabSpec spec = CFaultMatrix::Lab(TMMsg::DR_ORCHESTRATION_PLANNED_FAILOVER, 1);
  spec.destVendor = Common::VS_VENDOR_HYPERV;
  spec.operationClasses = true;
  Seed(spec);
  TriggerOn(101, 1, TMMsg::VM_OPERATION_POWER_ON);
  CheckKilledRun(RunDR());
  EXPECT_FALSE(Machine(101)->IsSuccess());
  EXPECT_TRUE(SourceVM(101).poweredOn);

  ASSERT_TRUE(CHypervisorLab::ClearFaults());
  Restart();
  ASSERT_EQ(kSuccess, RunDR()) << LoggedErrors();
  EXPECT_EQ(App::VSA_FAILOVER_STATUS_FAILOVER_COMPLETE, StoredFailoverStatus(101));
  EXPECT_TRUE(DRVM(101).poweredOn);
  EXPECT_FALSE(SourceVM(101).poweredOn);
  EXPECT_EQ(CHypervisorLab::ReportedIp(DRVM(101)), StoredProperty(101, VSARepInfo::kPropDestVMIpAddress));
}

TEST_F(E2EPlannedFailover, PostDROperationsRunOnlyOnTheirOwnMachine) {
  SVSALabSpec spec = CFaultMatrix::Lab(TMMsg::DR_ORCHESTRATION_PLANNED_FAILOVER, 2);
  spec.operationClasses = true;
  Seed(spec);
  CVSAPlannedFailover failover(*dynamic_cast<CGenericDR*>(m_dr.get()));
  SDROperationCtx empty;
  EXPECT_FALSE(failover._PostDROperation(empty));
  EXPECT_FALSE(failover.PerformPostDrOps(empty));
  // 101 failed its last step: its post-DR operations fail without running,
  // and never run on 102 in its place.
  SDRPhaseCtx failed(kJob, Api::VIRTUAL_APP_PHASE_POWER_ON, Api::VIRTUAL_APP_PHASE_STATE_FAILED,
                     Api::DR_SITE_DESTINATION, true);
  Machine(101)->UpdatePhase(failed);
  SDROperationCtx ctx = Ctx({101, 102});
  ctx.site = Api::DR_SITE_DESTINATION;
  EXPECT_FALSE(failover._PostDROperation(ctx));
  EXPECT_EQ(kFailed, RowOf(101, Api::VIRTUAL_APP_PHASE_POST_DR_OPERATION).status);
  EXPECT_EQ(-1, RowOf(102, Api::VIRTUAL_APP_PHASE_POST_DR_OPERATION).status);
  EXPECT_TRUE(LabCalls().empty());
}

// ---- unplanned --------------------------------------------------------------

TEST_F(E2EUnplannedFailover, TheSourceSiteDownStillFailsOverEveryMachine) {
  SVSALabSpec spec = CFaultMatrix::Lab(TMMsg::DR_ORCHESTRATION_UNPLANNED_FAILOVER, 3);
  spec.deployAtFailover = true;
  SFaultCase c{"source down", spec, nullptr, kSuccess};
  c.plant = [](CFaultMatrix&) { ASSERT_EQ(EStoreResult::kOk, CHypervisorLab::SetInstanceDown(3, true)); };
  ASSERT_EQ(kSuccess, RunCase(c));
  for (const SVSALabVM& vm : VMs()) {
    SCOPED_TRACE(vm.replicationId);
    const SPhaseRowRecord powerOff = RowOf(vm.replicationId, Api::VIRTUAL_APP_PHASE_POWER_OFF);
    EXPECT_EQ(kFailed, powerOff.status);
    EXPECT_EQ(kSuccess, RowOf(vm.replicationId, Api::VIRTUAL_APP_PHASE_CREATE_DR_VIRTUAL_MACHINE).status);
    EXPECT_TRUE(DRVM(vm.replicationId).poweredOn);
    EXPECT_EQ(App::VSA_FAILOVER_STATUS_FAILOVER_COMPLETE, StoredFailoverStatus(vm.replicationId));
  }
}

TEST_F(E2EUnplannedFailover, ASyncInProgressIsNotAdmitted) {
  SVSALabSpec spec = CFaultMatrix::Lab(TMMsg::DR_ORCHESTRATION_UNPLANNED_FAILOVER, 2);
  spec.syncStatus = App::VSA_REPL_STATUS_SYNC_IN_PROGRESS;
  RunCase(SFaultCase{"sync in progress", spec, nullptr, kFailed});
  EXPECT_TRUE(LoggedLine("Skipping DR"));
  EXPECT_TRUE(LabCalls().empty());
}

TEST_F(E2EUnplannedFailover, FirstTimeSyncReplicatesFirst) { ExpectReplicationStep(true); }

TEST_F(E2EUnplannedFailover, WithoutFirstTimeSyncNothingIsReplicated) { ExpectReplicationStep(false); }

TEST_F(E2EUnplannedFailover, OnlyTheDRSnapshotIsStoredAndTheRestoreTimeIsReset) {
  ASSERT_EQ(kSuccess, RunCase(SFaultCase{"unplanned", CFaultMatrix::Lab(TMMsg::DR_ORCHESTRATION_UNPLANNED_FAILOVER, 2), nullptr,
                                         kSuccess}));
  for (const SVSALabVM& vm : VMs()) {
    bool found = true;
    StoredProperty(vm.replicationId, VSARepInfo::kPropSourceSnapMoref, &found);
    EXPECT_FALSE(found);
    EXPECT_EQ(RefOf(Snapshots(vm.replicationId, 1), "__OB_FAILOVER__"),
              StoredProperty(vm.replicationId, VSARepInfo::kPropDestSnapMoref, &found));
    EXPECT_TRUE(found);
    EXPECT_EQ(1, Stored(vm.replicationId).GetInt64(App::VSAReplicationInfo::kLastRestoreTime));
    EXPECT_EQ(App::VSA_REPL_STATUS_SYNC_DISABLED, StoredSyncStatus(vm.replicationId));
    EXPECT_TRUE(SourceVM(vm.replicationId).poweredOn == false);
  }
  EXPECT_TRUE(ChildJobs(EChildJobType::kBackup).empty());
  EXPECT_TRUE(ChildJobs(EChildJobType::kSync).empty());
}

// ---- the DR backup task -------------------------------------------------------

class E2EDRBackupTask : public CVSALabFixture {
 protected:
  static constexpr int kTask = 77;
  void PutTask(const std::vector<int>& replicationIds) {
    TMMsg::TaskInfo task;
    CNMessageBase& vsa = task.AddMsg(TMMsg::TaskInfo::kSubTasks)
                             .MutableMsg(TMMsg::SubTaskInfo::kJobOptions)
                             .MutableMsg(TMMsg::JobOption::kBackupOptions)
                             .MutableMsg(TMMsg::BackupOptionFields::kVSABackupOption);
    for (int id : replicationIds) {
      vsa.AddMsg(TMMsg::VSABkpOption::kSelectedVMs).SetInt64(TMMsg::VSASelectiveVMInfo::kReplicationId, id);
    }
    ASSERT_TRUE(CTaskStore::PutTask(kTask, ETaskKind::kSchedule, task));
  }
  static std::vector<long long> StoredSelection() {
    std::string xml;
    EXPECT_TRUE(CTaskStore::GetTask(kTask, xml));
    TMMsg::TaskInfo task;
    EXPECT_TRUE(task.Unserialize(xml));
    std::vector<long long> ids;
    const CNMessageBase& vsa = task.GetListMsg(TMMsg::TaskInfo::kSubTasks, 0)
                                   .GetMsg(TMMsg::SubTaskInfo::kJobOptions)
                                   .GetMsg(TMMsg::JobOption::kBackupOptions)
                                   .GetMsg(TMMsg::BackupOptionFields::kVSABackupOption);
    for (size_t i = 0; i < vsa.ListSize(TMMsg::VSABkpOption::kSelectedVMs); ++i) {
      ids.push_back(vsa.GetListMsg(TMMsg::VSABkpOption::kSelectedVMs, i)
                        .GetInt64(TMMsg::VSASelectiveVMInfo::kReplicationId));
    }
    return ids;
  }
};

TEST_F(E2EDRBackupTask, BothEntriesOfAVMLeaveTheTaskWhichIsStoredOnceTheManagerIsGone) {
  Seed();
  PutTask({101, 102, 101});
  CVSAStepTestContext& context = NewContext({});
  EXPECT_FALSE(context.CanDeleteDRBackupTask(kTask));
  ASSERT_TRUE(context.RemoveVMFromDRBackupTask(kTask, Machine(101)));
  EXPECT_TRUE(context.CanDeleteDRBackupTask(kTask)) << "one VM left";
  EXPECT_FALSE(context.RemoveVMFromDRBackupTask(kTask, Machine(101))) << "nothing more to remove";
  EXPECT_EQ((std::vector<long long>{101, 102, 101}), StoredSelection()) << "sent only at the job's end";
  m_context.reset();
  m_dr.reset();
  EXPECT_EQ((std::vector<long long>{102}), StoredSelection());
}

TEST_F(E2EDRBackupTask, ATaskWithoutASelectionIsNeitherDeletableNorEdited) {
  Seed();
  TMMsg::TaskInfo bare;
  ASSERT_TRUE(CTaskStore::PutTask(kTask, ETaskKind::kSchedule, bare));
  CVSAStepTestContext& context = NewContext({});
  EXPECT_FALSE(context.CanDeleteDRBackupTask(kTask));
  EXPECT_FALSE(context.RemoveVMFromDRBackupTask(kTask, Machine(101)));
  EXPECT_FALSE(context.CanDeleteDRBackupTask(kTask + 1)) << "no such task";
}

}  // namespace
