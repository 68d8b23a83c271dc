// The VM DR types after a failover, each run end to end by the factory's
// orchestrator on the hypervisor lab: failback, reverse replication,
// point-in-time failover, test boot, revert and undo of a failover. Each
// case checks the replications' statuses and properties, the lab's VMs and
// snapshots, the phase rows and the child jobs.
#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "engine/DRConstants.h"
#include "jobs/TaskStore.h"
#include "log/LogSink.h"
#include "time/PlatformClock.h"
#include "vm/HypervisorStore.h"
#include "vm/IndexBrowseClient.h"
#include "vsa/VSALabFixture.h"
#include "vsa/VSARepInfo.h"

namespace {

class E2EVSATypes : public CVSALabFixture {
 protected:
  void TearDown() override {
    // A failed case shows the run's errors.
    if (HasFailure()) {
      for (const SLogLine& line : CLogSink::Instance().Captured()) {
        if (line.level <= 1 || getenv("DR_TEST_SHOW_LOG") != nullptr) printf("  error %s: %s\n", line.function.c_str(), line.text.c_str());
      }
    }
    CIndexBrowseClient::FailFullBrowses(0);
    CIndexBrowseClient::MalformNetworksOf("");
    // No path of a run keeps a browse client.
    EXPECT_EQ(0, CIndexBrowseClient::Live());
    CVSALabFixture::TearDown();
  }

  // One replication in the given statuses, for a type's admission.
  void SeedOne(TMMsg::DROrchestrationType type, App::VSAFailoverStatus failover, App::VSAReplicationStatus sync) {
    SVSALabSpec spec;
    spec.replications = 1;
    spec.drType = type;
    spec.operationClasses = true;
    spec.failoverStatus = failover;
    spec.syncStatus = sync;
    Seed(spec);
  }

  // The DR job's child jobs of a type.
  static size_t Count(EChildJobType type) { return ChildJobs(type).size(); }

  // A failback that failed every machine: each is marked failback failed,
  // its DR VM runs again and its source holds what it held.
  void ExpectEachFailbackFailedWithItsDRVMBackOn() {
  for (const SVSALabVM& vm : VMs()) {
    SCOPED_TRACE(vm.replicationId);
    EXPECT_EQ(App::VSA_FAILOVER_STATUS_FAILBACK_FAILED, StoredFailoverStatus(vm.replicationId));
    EXPECT_TRUE(DRVM(vm.replicationId).poweredOn);
    EXPECT_EQ(vm.replicationId, SourceVM(vm.replicationId).content);
  }
  }
};

// ---- failback ----

TEST_F(E2EVSATypes, FailbackRestoresTheDRWritesOverTheSourcesAndReArmsTheReplication) {
  SeedFailedOver(TMMsg::DR_ORCHESTRATION_FAILBACK);
  for (const SVSALabVM& vm : VMs()) {
    ASSERT_EQ(EStoreResult::kOk, CHypervisorLab::BumpContent(kDestInstance, vm.destGuid));
  }
  const int32_t state = RunDR();
  EXPECT_EQ(Api::VIRTUAL_APP_PHASE_STATE_SUCCESS, state);
  for (const SVSALabVM& vm : VMs()) {
    SCOPED_TRACE(vm.replicationId);
    const SLabVM source = SourceVM(vm.replicationId);
    const SLabVM dr = DRVM(vm.replicationId);
    EXPECT_TRUE(source.poweredOn);
    EXPECT_EQ(dr.content, source.content);
    EXPECT_NE(vm.replicationId, source.content);
    EXPECT_FALSE(dr.poweredOn);
    EXPECT_EQ(std::vector<std::string>{CHypervisorLab::kBackupSnapshotName}, SnapshotNames(vm.replicationId, 1));
    EXPECT_EQ(App::VSA_FAILOVER_STATUS_NONE, StoredFailoverStatus(vm.replicationId));
    EXPECT_EQ(App::VSA_REPL_STATUS_IN_SYNC, StoredSyncStatus(vm.replicationId));
    bool found = true;
    StoredProperty(vm.replicationId, VSARepInfo::kPropSourceSnapMoref, &found);
    EXPECT_FALSE(found);
    EXPECT_EQ(std::to_string(kJob), StoredProperty(vm.replicationId, VSARepInfo::kPropLastDRJobId));
    EXPECT_EQ(Api::VIRTUAL_APP_PHASE_STATE_SUCCESS, RowOf(vm.replicationId, Api::VIRTUAL_APP_PHASE_BACKUP).status);
    EXPECT_EQ(Api::VIRTUAL_APP_PHASE_STATE_SUCCESS,
              RowOf(vm.replicationId, Api::VIRTUAL_APP_PHASE_REPLICATION).status);
    EXPECT_EQ(Api::VIRTUAL_APP_PHASE_STATE_SUCCESS,
              RowOf(vm.replicationId, Api::VIRTUAL_APP_PHASE_POST_DR_OPERATION).status);
    // The failback writes no rows of its VM steps, but its sync change is
    // recorded all the same.
    EXPECT_EQ(Api::VIRTUAL_APP_PHASE_STATE_SUCCESS, RowOf(vm.replicationId, Api::VIRTUAL_APP_PHASE_ENABLE_SYNC).status);
  }
  // One DR-site backup and one restore for the subclient.
  ASSERT_EQ(1u, Count(EChildJobType::kBackup));
  EXPECT_NE(0u, ChildJobs(EChildJobType::kBackup).front().mode & kModeDRSiteBackup);
  ASSERT_EQ(1u, Count(EChildJobType::kSync));
  EXPECT_NE(0u, ChildJobs(EChildJobType::kSync).front().mode & kModeFailbackRestore);
  // Without restore options in the job the restore came from a browse.
  EXPECT_TRUE(LoggedLine("VirtualServerRestoreOption restore options not received in DRJob task params"));
}

TEST_F(E2EVSATypes, FailbackWithTheJobsRestoreOptionsBrowsesNothingAndSendsTheirText) {
  SVSALabSpec spec;
  spec.drOptions = [](CNMessageBase& dr) {
    CNMessageBase& restore = dr.MutableMsg(TMMsg::DROrchestrationOption::kRestoreOptions);
    CNMessageBase& disk = restore.MutableMsg(TMMsg::VirtualServerRestoreOptionFields::kVMRestoreOptions);
    disk.SetInt32(TMMsg::DiskLevelVMRestoreOption::kPowerOnVM, 0);
    for (const char* name : {"vm-101", "vm-102"}) {
      disk.AddMsg(TMMsg::DiskLevelVMRestoreOption::kAdvancedRestoreOptions)
          .SetString(TMMsg::VMWAdvancedRestoreOptions::kDatacenter, name);
    }
  };
  SeedFailedOver(TMMsg::DR_ORCHESTRATION_FAILBACK, 2, spec);
  EXPECT_EQ(Api::VIRTUAL_APP_PHASE_STATE_SUCCESS, RunDR());
  EXPECT_FALSE(LoggedLine("Browse response"));
  ASSERT_EQ(1u, Count(EChildJobType::kSync));
  const std::string sent = ChildJobs(EChildJobType::kSync).front().options;
  EXPECT_NE(std::string::npos, sent.find("vm-102"));
  // The options said not to power the restored VMs on.
  EXPECT_FALSE(SourceVM(101).poweredOn);
  EXPECT_EQ(App::VSA_FAILOVER_STATUS_NONE, StoredFailoverStatus(101));
}

TEST_F(E2EVSATypes, AFailedFullBrowseIsRetriedWithTheLastBackupsEndTime) {
  SeedFailedOver(TMMsg::DR_ORCHESTRATION_FAILBACK);
  ASSERT_TRUE(CIndexBrowseClient::FailFullBrowses(1));
  EXPECT_EQ(Api::VIRTUAL_APP_PHASE_STATE_SUCCESS, RunDR());
  EXPECT_TRUE(LoggedLine("Retry query index with toTime ["));
  EXPECT_EQ(App::VSA_FAILOVER_STATUS_NONE, StoredFailoverStatus(101));
}

TEST_F(E2EVSATypes, FailbackWhoseBrowsesAllFailEndsFailbackFailedWithTheDRVMsBackOn) {
  SeedFailedOver(TMMsg::DR_ORCHESTRATION_FAILBACK);
  ASSERT_TRUE(CIndexBrowseClient::FailFullBrowses(5));
  EXPECT_NE(Api::VIRTUAL_APP_PHASE_STATE_SUCCESS, RunDR());
  EXPECT_TRUE(LoggedLine("Full Browse failed"));
  ExpectEachFailbackFailedWithItsDRVMBackOn();
}

TEST_F(E2EVSATypes, AVMWhoseRestoreFailsKeepsItsDRVMWhileTheOthersFailBack) {
  SVSALabSpec spec;
  spec.deployAtFailover = true;
  spec.destVendor = 5;
  SeedFailedOver(TMMsg::DR_ORCHESTRATION_FAILBACK, 3, spec);
  SJobFaults faults;
  faults.flags = kFaultSyncFailed;
  faults.replicationIds = {102};
  ASSERT_TRUE(CJobSimulator::SetNextJobFaults(EChildJobType::kSync, faults));
  const int32_t state = RunDR();
  EXPECT_EQ(Api::VIRTUAL_APP_PHASE_STATE_COMPLETED_WITH_ERRORS, state);
  // The failed machine's DR VM still carries the workload.
  SLabVM kept;
  EXPECT_EQ(EStoreResult::kOk, CHypervisorStore::GetVM(kDestInstance, VM(102).destGuid, kept));
  EXPECT_EQ(App::VSA_FAILOVER_STATUS_FAILBACK_FAILED, StoredFailoverStatus(102));
  EXPECT_EQ(App::VSA_REPL_STATUS_SYNC_DISABLED, StoredSyncStatus(102));
  for (int id : {101, 103}) {
    SCOPED_TRACE(id);
    SLabVM gone;
    EXPECT_EQ(EStoreResult::kMissing, CHypervisorStore::GetVM(kDestInstance, VM(id).destGuid, gone));
    EXPECT_EQ(App::VSA_FAILOVER_STATUS_NONE, StoredFailoverStatus(id));
    EXPECT_TRUE(SourceVM(id).poweredOn);
  }
}

TEST_F(E2EVSATypes, FailbackRemovesTheVMFromItsFailbackScheduleAndDeletesTheLastOne) {
  SeedFailedOver(TMMsg::DR_ORCHESTRATION_FAILBACK);
  // Schedule 91 lists 101 and another replication; 92 lists 102 alone.
  StoreFailbackSchedule(91, {101, 777});
  StoreFailbackSchedule(92, {102});
  AddProperty(101, VSARepInfo::kPropReverseReplicationTaskId, "91");
  AddProperty(102, VSARepInfo::kPropReverseReplicationTaskId, "92");
  Restart();
  EXPECT_EQ(Api::VIRTUAL_APP_PHASE_STATE_SUCCESS, RunDR());
  // The job's edits reach the task manager when the job ends.
  m_dr.reset();
  STaskRecord kept;
  ASSERT_EQ(EStoreResult::kOk, CTaskStore::ReadTask(91, kept));
  TMMsg::TaskInfo task;
  ASSERT_TRUE(task.Unserialize(kept.xml));
  std::vector<int32_t> ids;
  task.GetListMsg(TMMsg::TaskInfo::kSubTasks, 0)
      .GetMsg(TMMsg::SubTaskInfo::kJobOptions)
      .GetMsg(TMMsg::JobOption::kBackupOptions)
      .GetMsg(TMMsg::BackupOptionFields::kDROrchestrationOption)
      .GetMsg(TMMsg::DROrchestrationOption::kReplicationInfo)
      .GetInt32List(TMMsg::DRReplicationInfoFields::kReplicationIds, ids);
  EXPECT_EQ(std::vector<int32_t>{777}, ids);
  STaskRecord deleted;
  EXPECT_EQ(EStoreResult::kMissing, CTaskStore::ReadTask(92, deleted));
}

TEST_F(E2EVSATypes, AFirstTimeSyncFailbackDeletesEachDRVMOnceAndLeavesSyncDisabled) {
  SVSALabSpec spec;
  spec.firstTimeSyncDuringFailover = true;
  SeedFailedOver(TMMsg::DR_ORCHESTRATION_FAILBACK, 2, spec);
  EXPECT_EQ(Api::VIRTUAL_APP_PHASE_STATE_SUCCESS, RunDR());
  for (const SVSALabVM& vm : VMs()) {
    SCOPED_TRACE(vm.replicationId);
    size_t deletes = 0;
    for (const SLabCall& call : LabCalls(TMMsg::VM_OPERATION_DELETE_DR_VM)) {
      if (call.vmGuid == vm.destGuid) {
        ++deletes;
        EXPECT_EQ(0, call.result);
      }
    }
    EXPECT_EQ(1u, deletes);
    SLabVM gone;
    EXPECT_EQ(EStoreResult::kMissing, CHypervisorStore::GetVM(kDestInstance, vm.destGuid, gone));
    EXPECT_TRUE(SourceVM(vm.replicationId).poweredOn);
    EXPECT_EQ(App::VSA_FAILOVER_STATUS_NONE, StoredFailoverStatus(vm.replicationId));
    EXPECT_EQ(App::VSA_REPL_STATUS_SYNC_DISABLED, StoredSyncStatus(vm.replicationId));
    // The DR VM's identity and its restore times are reset (times to 1) for
    // the next first-time sync.
    const App::VSAReplicationInfo stored = Stored(vm.replicationId);
    EXPECT_EQ("", stored.GetString(App::VSAReplicationInfo::kDestinationVMGuid));
    EXPECT_EQ(1, stored.GetInt64(App::VSAReplicationInfo::kVMSyncedTillTime));
  }
}

TEST_F(E2EVSATypes, TheBrowsedRestoreNamesOnlyTheVMDKsOfEachDRVM) {
  SeedFailedOver(TMMsg::DR_ORCHESTRATION_FAILBACK);
  EXPECT_EQ(Api::VIRTUAL_APP_PHASE_STATE_SUCCESS, RunDR());
  ASSERT_EQ(1u, Count(EChildJobType::kSync));
  const std::string sent = ChildJobs(EChildJobType::kSync).front().options;
  for (const SVSALabVM& vm : VMs()) {
    EXPECT_NE(std::string::npos, sent.find(vm.destName + "-disk-0.vmdk")) << vm.destName;
    EXPECT_EQ(std::string::npos, sent.find(vm.destName + ".vmx")) << vm.destName;
  }
}

TEST_F(E2EVSATypes, AReplicationWithoutASourceNameCannotBeRestoredAndTheDRVMsRunOn) {
  SeedFailedOver(TMMsg::DR_ORCHESTRATION_FAILBACK);
  Change(102, [](App::VSAReplicationInfo& info) { info.SetString(App::VSAReplicationInfo::kSourceVMName, ""); });
  Restart();
  EXPECT_NE(Api::VIRTUAL_APP_PHASE_STATE_SUCCESS, RunDR());
  EXPECT_TRUE(LoggedLine("Coudn't retrieve VM name for failback restore"));
  EXPECT_EQ(0u, Count(EChildJobType::kSync));
  ExpectEachFailbackFailedWithItsDRVMBackOn();
}

TEST_F(E2EVSATypes, ABrowsedVMWhoseNetworksDoNotParseStopsTheRestoreOfItsWholeTaskGroup) {
  SeedFailedOver(TMMsg::DR_ORCHESTRATION_FAILBACK);
  ASSERT_TRUE(CIndexBrowseClient::MalformNetworksOf(VM(102).sourceGuid));
  EXPECT_NE(Api::VIRTUAL_APP_PHASE_STATE_SUCCESS, RunDR());
  EXPECT_TRUE(LoggedLine("Failed to unserialize the Message ["));
  EXPECT_TRUE(LoggedLine("] to IdxMetadata::VMNetworks object"));
  // No restore was started, for 101 either: its request needed 102's entry.
  EXPECT_EQ(0u, Count(EChildJobType::kSync));
  ExpectEachFailbackFailedWithItsDRVMBackOn();
  for (const SVSALabVM& vm : VMs()) {
    EXPECT_NE(Api::VIRTUAL_APP_PHASE_STATE_SUCCESS, RowOf(vm.replicationId, Api::VIRTUAL_APP_PHASE_REPLICATION).status)
        << vm.replicationId;
  }
}

TEST_F(E2EVSATypes, AMixedGroupClearsTheSourceSnapshotsOfItsReplicaSyncDirectVMOnlyAndFailsBackBoth) {
  SVSALabSpec spec;
  spec.tasksPerGroup = 2;
  spec.replicaSyncDirectTasks = {kFirstTask};
  SeedFailedOver(TMMsg::DR_ORCHESTRATION_FAILBACK, 2, spec);
  ASSERT_EQ(kFirstTask, VM(101).taskId);
  ASSERT_NE(kFirstTask, VM(102).taskId);
  AddSnapshot(101, 0, "left-on-101");
  AddSnapshot(102, 0, "left-on-102");
  EXPECT_EQ(Api::VIRTUAL_APP_PHASE_STATE_SUCCESS, RunDR());
  const std::vector<std::string> deletes = SnapshotRequests(TMMsg::VM_OPERATION_DELETE_SNAPSHOT);
  const auto sentTo = [&deletes](const std::string& guid, const std::string& name) {
    return std::count_if(deletes.begin(), deletes.end(), [&](const std::string& d) {
      return d.rfind(guid + " " + name + " ", 0) == 0;
    });
  };
  // Before the sync, the replica-sync-direct VM's own source snapshots go;
  // the other VM's are none of that step's business.
  EXPECT_EQ(1, sentTo(VM(101).sourceGuid, "left-on-101"));
  EXPECT_EQ(0, sentTo(VM(102).sourceGuid, "left-on-102"));
  EXPECT_TRUE(LoggedLine("Querying snapshots for vm [" + VM(101).sourceGuid + "] on SITE [Source]"));
  EXPECT_FALSE(LoggedLine("Querying snapshots for vm [" + VM(102).sourceGuid + "] on SITE [Source]"));
  // One restore per task group, each from a browse of its own.
  EXPECT_EQ(2u, Count(EChildJobType::kSync));
  for (const SVSALabVM& vm : VMs()) {
    SCOPED_TRACE(vm.replicationId);
    EXPECT_EQ(App::VSA_FAILOVER_STATUS_NONE, StoredFailoverStatus(vm.replicationId));
    EXPECT_EQ(DRVM(vm.replicationId).content, SourceVM(vm.replicationId).content);
    EXPECT_TRUE(SourceVM(vm.replicationId).poweredOn);
  }
}

// ---- reverse replication ----

TEST_F(E2EVSATypes, ReverseReplicationKeepsTheFailoverAndSnapshotsTheSources) {
  SeedFailedOver(TMMsg::DR_ORCHESTRATION_REVERSE_REPLICATION);
  EXPECT_EQ(Api::VIRTUAL_APP_PHASE_STATE_SUCCESS, RunDR());
  for (const SVSALabVM& vm : VMs()) {
    SCOPED_TRACE(vm.replicationId);
    EXPECT_EQ(App::VSA_FAILOVER_STATUS_FAILOVER_COMPLETE, StoredFailoverStatus(vm.replicationId));
    EXPECT_EQ(std::vector<std::string>{CHypervisorLab::kBackupSnapshotName}, SnapshotNames(vm.replicationId, 0));
    EXPECT_TRUE(DRVM(vm.replicationId).poweredOn);
  }
  EXPECT_TRUE(LoggedLine("Invoking CVSAReverseReplication destructor"));
  EXPECT_TRUE(LoggedLine("Invoking CVSAFailback destructor"));
}

TEST_F(E2EVSATypes, ReverseReplicationStopsAtAFailoverSnapshotItCannotDelete) {
  SeedFailedOver(TMMsg::DR_ORCHESTRATION_REVERSE_REPLICATION, 1);
  const std::string ref = AddSnapshot(101, 1, FAILOVER_SNAPSHOT_NAME);
  AddProperty(101, VSARepInfo::kPropDestSnapMoref, ref);
  SLabFault fault;
  fault.opType = TMMsg::VM_OPERATION_DELETE_SNAPSHOT;
  fault.vm = VMs().front().destGuid;
  fault.code = 7100;
  fault.text = "snapshot locked";
  ASSERT_TRUE(CHypervisorLab::AddFault(fault));
  Restart();
  EXPECT_EQ(Api::VIRTUAL_APP_PHASE_STATE_FAILED, RunDR());
  // Nothing was backed up or restored over a DR VM that still holds its
  // failover snapshot, and the snapshot stays known.
  EXPECT_EQ(0u, Count(EChildJobType::kBackup));
  EXPECT_EQ(0u, Count(EChildJobType::kSync));
  EXPECT_EQ(std::vector<std::string>{FAILOVER_SNAPSHOT_NAME}, SnapshotNames(101, 1));
  EXPECT_EQ(ref, StoredProperty(101, VSARepInfo::kPropDestSnapMoref));
  EXPECT_TRUE(DRVM(101).poweredOn);
}

TEST_F(E2EVSATypes, ReverseReplicationRefusesAFailbackInProgress) {
  SeedOne(TMMsg::DR_ORCHESTRATION_REVERSE_REPLICATION, App::VSA_FAILOVER_STATUS_FAILBACK_IN_PROGRESS,
          App::VSA_REPL_STATUS_SYNC_DISABLED);
  RunDR();
  EXPECT_TRUE(LoggedLine("Skipping DR"));
  EXPECT_EQ(0u, Count(EChildJobType::kSync));
  EXPECT_EQ(App::VSA_FAILOVER_STATUS_FAILBACK_IN_PROGRESS, StoredFailoverStatus(101));
}

// ---- point-in-time failover ----

class E2EVSAPointInTime : public E2EVSATypes {
 protected:
  void SeedWithPoints(bool withOption) {
    SVSALabSpec spec;
    spec.replications = 1;
    spec.drType = TMMsg::DR_ORCHESTRATION_POINT_IN_TIME_FAILOVER;
    spec.operationClasses = true;
    if (withOption) {
      spec.drOptions = [](CNMessageBase& dr) {
        CNMessageBase& info = dr.MutableMsg(TMMsg::DROrchestrationOption::kReplicationInfo);
        info.SetInt32List(TMMsg::DRReplicationInfoFields::kReplicationIds, {101});
        CNMessageBase& option = info.AddMsg(TMMsg::DRReplicationInfoFields::kConfigOptions);
        option.SetInt32(TMMsg::DRConfigOption::kReplicationId, 101);
        option.SetUInt64(TMMsg::DRConfigOption::kPointInTime, 42);
      };
    }
    Seed(spec);
    AddSnapshot(101, 1, "vm-101-DR_420", 420);
    AddSnapshot(101, 1, "vm-101-DR_42", 42);
    AddSnapshot(101, 1, "42_vm", 4242);
  }
};

TEST_F(E2EVSAPointInTime, TheDRVMComesUpFromTheChosenPointInTime) {
  SeedWithPoints(true);
  EXPECT_EQ(Api::VIRTUAL_APP_PHASE_STATE_SUCCESS, RunDR());
  const SLabVM dr = DRVM(101);
  EXPECT_TRUE(dr.poweredOn);
  EXPECT_EQ(42, dr.content);
  EXPECT_FALSE(SourceVM(101).poweredOn);
  EXPECT_EQ(App::VSA_FAILOVER_STATUS_FAILOVER_COMPLETE, StoredFailoverStatus(101));
  EXPECT_FALSE(StoredProperty(101, VSARepInfo::kPropPitSnapshotId).empty());
  EXPECT_EQ(42, Stored(101).GetInt64(App::VSAReplicationInfo::kVMSyncedTillTime));
}

TEST_F(E2EVSAPointInTime, WithoutAPointInTimeTheSourceComesBackAndTheFailoverFails) {
  SeedWithPoints(false);
  EXPECT_NE(Api::VIRTUAL_APP_PHASE_STATE_SUCCESS, RunDR());
  EXPECT_TRUE(LoggedLine("No point in time specified for replication Id [101]"));
  EXPECT_TRUE(SourceVM(101).poweredOn);
  EXPECT_FALSE(DRVM(101).poweredOn);
  EXPECT_EQ(App::VSA_FAILOVER_STATUS_FAILOVER_FAILED, StoredFailoverStatus(101));
  EXPECT_EQ(App::VSA_REPL_STATUS_IN_SYNC, StoredSyncStatus(101));
}

// ---- test boot ----

TEST_F(E2EVSATypes, TestBootBootsTheDRVMAndPutsItBackAsItWas) {
  SVSALabSpec spec;
  spec.replications = 2;
  spec.drType = TMMsg::DR_ORCHESTRATION_TESTBOOT;
  spec.operationClasses = true;
  spec.drOptions = [](CNMessageBase& dr) {
    dr.MutableMsg(TMMsg::DROrchestrationOption::kAdvancedOptions).SetInt32(TMMsg::DRAdvancedOptionFields::kDelayTime, 2);
  };
  Seed(spec);
  const long long before = DRVM(101).content;
  std::map<int, std::vector<std::string>> seeded;
  for (const SVSALabVM& vm : VMs()) seeded[vm.replicationId] = SnapshotNames(vm.replicationId, 1);
  EXPECT_EQ(Api::VIRTUAL_APP_PHASE_STATE_SUCCESS, RunDR());
  for (const SVSALabVM& vm : VMs()) {
    SCOPED_TRACE(vm.replicationId);
    EXPECT_FALSE(DRVM(vm.replicationId).poweredOn);
    // The test boot's own snapshot is gone; the lab's are all there.
    EXPECT_EQ(seeded[vm.replicationId], SnapshotNames(vm.replicationId, 1));
    EXPECT_EQ(App::VSA_REPL_STATUS_IN_SYNC, StoredSyncStatus(vm.replicationId));
    EXPECT_EQ(Api::VIRTUAL_APP_PHASE_STATE_SUCCESS, RowOf(vm.replicationId, Api::VIRTUAL_APP_PHASE_POWER_ON).status);
  }
  EXPECT_EQ(before, DRVM(101).content);
  EXPECT_EQ(2u, CPlatformClock::Instance().CountWaits(120000, "DRJobManager"));
  EXPECT_TRUE(LoggedLine("[Invoking wait before shutdown]. Checking back in [120] seconds"));
}

TEST_F(E2EVSATypes, TestBootSkipsAReplicationThatIsFailingOver) {
  SeedOne(TMMsg::DR_ORCHESTRATION_TESTBOOT, App::VSA_FAILOVER_STATUS_FAILOVER_IN_PROGRESS,
          App::VSA_REPL_STATUS_IN_SYNC);
  const std::vector<std::string> seeded = SnapshotNames(101, 1);
  RunDR();
  EXPECT_TRUE(LoggedLine("Skipping DR"));
  EXPECT_TRUE(Machine(101)->IsSkipped());
  EXPECT_TRUE(LabCalls(-1).empty() || !DRVM(101).poweredOn);
  EXPECT_EQ(seeded, SnapshotNames(101, 1));
}

// The wait before shutdown a test boot asks the clock for, with the delay
// in minutes. The run's thread is asked to stop once
// the clock records the request: the stop ends the wait, which at the
// test's scale could last for weeks, and the rest of the run goes on.
class E2EVSATestbootWait : public E2EVSATypes {
 protected:
  uint64_t RequestedWaitMs(int minutes, bool keepAdapters) {
    SVSALabSpec spec;
    spec.replications = 1;
    spec.drType = TMMsg::DR_ORCHESTRATION_TESTBOOT;
    spec.operationClasses = true;
    spec.drOptions = [minutes, keepAdapters](CNMessageBase& dr) {
      CNMessageBase& advanced = dr.MutableMsg(TMMsg::DROrchestrationOption::kAdvancedOptions);
      advanced.SetInt32(TMMsg::DRAdvancedOptionFields::kDelayTime, minutes);
      if (keepAdapters) advanced.SetInt32(TMMsg::DRAdvancedOptionFields::kDisableNetworkAdapter, 1);
    };
    Seed(spec);
    CPlatformClock::Instance().ClearRecords();
    uint64_t requested = 0;
    {
      drtest::CTestThread run([this] { RunDR(); }, "test boot");
      EXPECT_TRUE(drtest::Eventually([&requested] {
        for (const SWaitRecord& w : CPlatformClock::Instance().Records()) {
          if (w.reason == "DRJobManager" && w.requestedMs >= 60000) requested = w.requestedMs;
        }
        return requested != 0;
      }));
    }
    return requested;
  }
};

TEST_F(E2EVSATestbootWait, ADelayOfMoreMinutesThan32BitMillisecondsHoldWaitsTheLongestWaitAndLogsTheMinutes) {
  EXPECT_EQ(2147483647u, RequestedWaitMs(40000, false));
  EXPECT_TRUE(LoggedLine("Wait before shutdown of [40000] minute(s): [2147483647] ms"));
}

TEST_F(E2EVSATestbootWait, ANegativeDelayCountsAsNoneSoAVMWithItsAdaptersKeptRunsTheDefaultHour) {
  EXPECT_EQ(3600000u, RequestedWaitMs(-5, true));
  EXPECT_TRUE(LoggedLine("Wait before shutdown of [-5] minute(s): [3600000] ms"));
}

// ---- revert and undo ----

TEST_F(E2EVSATypes, RevertFailoverBringsBackTheSourceFromItsSnapshotAndEnablesSync) {
  SeedFailedOver(TMMsg::DR_ORCHESTRATION_REVERT_FAILOVER, 1);
  const std::string ref = AddSnapshot(101, 0, CHypervisorLab::kBackupSnapshotName, 7);
  AddProperty(101, VSARepInfo::kPropSourceSnapMoref, ref);
  Restart();
  EXPECT_EQ(Api::VIRTUAL_APP_PHASE_STATE_SUCCESS, RunDR());
  EXPECT_EQ(7, SourceVM(101).content);
  EXPECT_TRUE(SnapshotNames(101, 0).empty());
  EXPECT_FALSE(DRVM(101).poweredOn);
  EXPECT_EQ(App::VSA_FAILOVER_STATUS_NONE, StoredFailoverStatus(101));
  EXPECT_EQ(App::VSA_REPL_STATUS_IN_SYNC, StoredSyncStatus(101));
  EXPECT_EQ(Api::VIRTUAL_APP_PHASE_STATE_SUCCESS, RowOf(101, Api::VIRTUAL_APP_PHASE_POST_DR_OPERATION).status);
  EXPECT_EQ(Api::VIRTUAL_APP_PHASE_STATE_SUCCESS, RowOf(101, Api::VIRTUAL_APP_PHASE_ENABLE_SYNC).status);
}

TEST_F(E2EVSATypes, RevertFailoverWhoseSourceRevertFailsEndsRevertFailedWithSyncAsBefore) {
  SeedFailedOver(TMMsg::DR_ORCHESTRATION_REVERT_FAILOVER, 1);
  // The stored snapshot of the source is gone from the lab.
  AddProperty(101, VSARepInfo::kPropSourceSnapMoref, "snapshot-gone");
  Restart();
  EXPECT_NE(Api::VIRTUAL_APP_PHASE_STATE_SUCCESS, RunDR());
  EXPECT_EQ(Api::VIRTUAL_APP_PHASE_STATE_FAILED, RowOf(101, Api::VIRTUAL_APP_PHASE_POST_DR_OPERATION).status);
  EXPECT_EQ(App::VSA_FAILOVER_STATUS_REVERT_FAILOVER_FAILED, StoredFailoverStatus(101));
  EXPECT_EQ(App::VSA_REPL_STATUS_SYNC_DISABLED, StoredSyncStatus(101));
}

TEST_F(E2EVSATypes, UndoFailoverHandsProductionBackToTheSourcesWithoutTheDRWrites) {
  SeedFailedOver(TMMsg::DR_ORCHESTRATION_UNDO_FAILOVER);
  for (const SVSALabVM& vm : VMs()) {
    ASSERT_EQ(EStoreResult::kOk, CHypervisorLab::BumpContent(kDestInstance, vm.destGuid));
  }
  EXPECT_EQ(Api::VIRTUAL_APP_PHASE_STATE_SUCCESS, RunDR());
  for (const SVSALabVM& vm : VMs()) {
    SCOPED_TRACE(vm.replicationId);
    EXPECT_TRUE(SourceVM(vm.replicationId).poweredOn);
    EXPECT_EQ(vm.replicationId, SourceVM(vm.replicationId).content);
    EXPECT_FALSE(DRVM(vm.replicationId).poweredOn);
    EXPECT_EQ(App::VSA_FAILOVER_STATUS_NONE, StoredFailoverStatus(vm.replicationId));
    EXPECT_EQ(App::VSA_REPL_STATUS_IN_SYNC, StoredSyncStatus(vm.replicationId));
  }
  EXPECT_EQ(0u, Count(EChildJobType::kSync));
}

TEST_F(E2EVSATypes, UndoFailoverRefusesAReplicationWhoseSyncIsNotDisabled) {
  SeedOne(TMMsg::DR_ORCHESTRATION_UNDO_FAILOVER, App::VSA_FAILOVER_STATUS_FAILOVER_COMPLETE,
          App::VSA_REPL_STATUS_IN_SYNC);
  RunDR();
  EXPECT_TRUE(LoggedLine("Skipping DR"));
  EXPECT_EQ(App::VSA_FAILOVER_STATUS_FAILOVER_COMPLETE, StoredFailoverStatus(101));
}

}  // namespace
