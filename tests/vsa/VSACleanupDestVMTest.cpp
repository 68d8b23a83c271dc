// The clean-up of destination VMs run end to end on the lab: which DR VMs go,
// which replications are removed, and which machines succeed.
#include <gtest/gtest.h>

#include <atomic>

#include "FaultMatrixChecks.h"
#include "VSAOperationLabFixture.h"
#include "db/ZNGlobalParam.h"
#include "jobs/JobStore.h"
#include "jobs/StandIns.h"
#include "log/CrashPoint.h"
#include "repl/ReplicationStore.h"
#include "services/DRAppManager.h"
#include "vsa/VSACleanupDestVM.h"

namespace {

using VmInfo = App::VSAReplicationInfo;

class E2EVSACleanupDestVM : public CVSAOperationLabFixture {
 protected:
  void SetUp() override {
    CVSAOperationLabFixture::SetUp();
    SVSALabSpec spec;
    spec.drType = TMMsg::DR_ORCHESTRATION_CLEANUP_DESTINATION_VM;
    SeedForOperations(spec);
  }

  static bool IsStored(int replicationId) {
    VmInfo info;
    return CReplicationStore::Get(replicationId, info);
  }
  // Whether the job's machine of the replication succeeded. A job that has
  // no machine of it (a run removed the replication too early, so its
  // restart finds none) fails the check that asks, not the test process.
  bool Succeeded(int replicationId) {
    CDRInfo* info = Machine(replicationId);
    return info != nullptr && info->IsSuccess();
  }
  static bool DRVMExists(const SVSALabVM& vm) {
    SLabVM found;
    return CHypervisorLab::GetVM(kDestInstance, vm.destGuid, found) == EStoreResult::kOk;
  }
  void SetStatuses(int replicationId, int sync, int failover) {
    Change(replicationId, [&](VmInfo& info) {
      info.SetInt32(VmInfo::kSyncStatus, sync);
      info.SetInt32(VmInfo::kFailoverStatus, failover);
    });
    Reload();
  }
  static void FailDelete(const SVSALabVM& vm) {
    PlantFault(TMMsg::VM_OPERATION_DELETE, vm.destGuid, ELabFault::kError, 1, 10, 4242, "delete refused");
  }
  // The skipped machine's row: a failed "Delete Operation" that does not
  // fail the machine.
  void ExpectSkippedWithFailedDeleteRow(int replicationId) {
    CDRInfo* info = Machine(replicationId);
    ASSERT_NE(nullptr, info);
    EXPECT_TRUE(info->IsSkipped());
    EXPECT_FALSE(info->IsSuccess());
    EXPECT_EQ(Api::VIRTUAL_APP_PHASE_STATE_FAILED, RowOf(replicationId, Api::VIRTUAL_APP_PHASE_DELETE_OPERATION).status);
    EXPECT_EQ(Api::VIRTUAL_APP_PHASE_STATE_FAILED,
              static_cast<int>(info->GetPhaseState(Api::VIRTUAL_APP_PHASE_DELETE_OPERATION, Api::DR_SITE_DESTINATION)));
    EXPECT_TRUE(IsStored(replicationId));
  }
  // The job run again as its restart, deleting from the hypervisor: it
  // ends SUCCESS with every DR VM deleted and every replication removed.
  void RestartDeletingEverything() {
    RestartForOperations();
    DROptions().SetInt32(TMMsg::DROrchestrationOption::kDeleteFromHypervisor, 1);
    EXPECT_EQ(Api::VIRTUAL_APP_PHASE_STATE_SUCCESS, RunJob());
    for (const SVSALabVM& vm : VMs()) {
      EXPECT_FALSE(DRVMExists(vm)) << vm.replicationId;
      EXPECT_FALSE(IsStored(vm.replicationId)) << vm.replicationId;
      EXPECT_TRUE(Succeeded(vm.replicationId)) << vm.replicationId;
      EXPECT_EQ(Api::VIRTUAL_APP_PHASE_STATE_SUCCESS,
                RowOf(vm.replicationId, Api::VIRTUAL_APP_PHASE_DELETE_OPERATION).status)
          << vm.replicationId;
    }
  }
};

TEST_F(E2EVSACleanupDestVM, WithoutDeleteFromHypervisorRemovesTheEligibleReplicationsOnlyAndDeletesNoVM) {
  SetStatuses(102, App::VSA_REPL_STATUS_SYNC_STARTING, App::VSA_FAILOVER_STATUS_NONE);

  EXPECT_EQ(Api::VIRTUAL_APP_PHASE_STATE_SUCCESS, RunJob());

  EXPECT_TRUE(Logged("Delete destination vm from Hypervisor option is not selected."));
  EXPECT_TRUE(LabCalls(TMMsg::VM_OPERATION_DELETE).empty());
  for (const SVSALabVM& vm : VMs()) EXPECT_TRUE(DRVMExists(vm)) << vm.destName;
  EXPECT_FALSE(IsStored(101));
  EXPECT_FALSE(IsStored(103));
  EXPECT_TRUE(Succeeded(101));
  EXPECT_TRUE(Succeeded(103));
  // The machine in the middle of a sync starting keeps its entries.
  ExpectSkippedWithFailedDeleteRow(102);
  EXPECT_TRUE(Logged("Skipping DR for [vm-102] RId [102] - Machine ineligible as failover Status is ["));
  EXPECT_EQ(App::VSA_REPL_STATUS_SYNC_STARTING, StoredSyncStatus(102));
  EXPECT_TRUE(Logged(" Total machines skipped       [1]"));
  EXPECT_FALSE(Logged(" Total machines failed"));
}

TEST_F(E2EVSACleanupDestVM, WithoutDeleteFromHypervisorTheJobsListIsKeptToItsEligibleMachines) {
  SetStatuses(102, App::VSA_REPL_STATUS_IN_SYNC, App::VSA_FAILOVER_STATUS_FAILOVER_IN_PROGRESS);
  DROptions()
      .MutableMsg(TMMsg::DROrchestrationOption::kReplicationInfo)
      .SetInt32List(TMMsg::DRReplicationInfoFields::kReplicationIds, {101, 102});

  EXPECT_EQ(Api::VIRTUAL_APP_PHASE_STATE_SUCCESS, RunJob());

  EXPECT_FALSE(IsStored(101));
  EXPECT_TRUE(Succeeded(101));
  // Listed but in the middle of a failover: skipped, entries kept.
  ExpectSkippedWithFailedDeleteRow(102);
  // Not listed: nobody asked for it to go.
  EXPECT_TRUE(IsStored(103));
  EXPECT_FALSE(Succeeded(103));
  CDRInfo* unlisted = Machine(103);
  EXPECT_TRUE(unlisted != nullptr && unlisted->IsSkipped());
  EXPECT_EQ(-1, RowOf(103, Api::VIRTUAL_APP_PHASE_DELETE_OPERATION).phase);
}

TEST_F(E2EVSACleanupDestVM, OnlyTheReplicationWhoseDRVMWasDeletedIsRemovedAndSucceeds) {
  DROptions().SetInt32(TMMsg::DROrchestrationOption::kDeleteFromHypervisor, 1);
  FailDelete(VM(102));
  FailDelete(VM(103));

  EXPECT_EQ(Api::VIRTUAL_APP_PHASE_STATE_COMPLETED_WITH_ERRORS, RunJob());

  EXPECT_FALSE(DRVMExists(VM(101)));
  EXPECT_FALSE(IsStored(101));
  EXPECT_TRUE(Succeeded(101));
  EXPECT_EQ(Api::VIRTUAL_APP_PHASE_STATE_SUCCESS, RowOf(101, Api::VIRTUAL_APP_PHASE_DELETE_OPERATION).status);
  EXPECT_TRUE(Logged("DeleteDestVM succeeded for replication [101] "));
  for (int id : {102, 103}) {
    EXPECT_TRUE(DRVMExists(VM(id))) << id;
    EXPECT_TRUE(IsStored(id)) << id;
    EXPECT_FALSE(Succeeded(id)) << id;
    EXPECT_EQ(Api::VIRTUAL_APP_PHASE_STATE_FAILED, RowOf(id, Api::VIRTUAL_APP_PHASE_DELETE_OPERATION).status) << id;
    // Sync was disabled before the deletion was tried.
    EXPECT_EQ(App::VSA_REPL_STATUS_SYNC_DISABLED, StoredSyncStatus(id)) << id;
  }
  EXPECT_TRUE(Logged(" Total machines failed        [2]"));
}

// A kill as the first deletion starts, the deletions on the DR pool one at
// a time: the machines after it stop at their halted delete step, which
// writes no row; their last row is the successful "Disable Sync". Only the
// machine whose DR VM went is removed and succeeds; the others keep their
// records, which still name DR VMs that remain.
TEST_F(E2EVSACleanupDestVM, AKillDuringTheDeletionsRemovesOnlyTheReplicationsWhoseDRVMWent) {
  ASSERT_TRUE(ZNGlobalParam::set(DRPLAN_SETTINGS_PARALLEL_THREAD_COUNT, "1"));
  UseDispatcher();
  DROptions().SetInt32(TMMsg::DROrchestrationOption::kDeleteFromHypervisor, 1);
  PlantFault(TMMsg::VM_OPERATION_DELETE, VM(101).destGuid, ELabFault::kKillJob);

  EXPECT_EQ(Api::VIRTUAL_APP_PHASE_STATE_COMPLETED_WITH_ERRORS, RunJob());

  EXPECT_TRUE(Logged("Halting DR step as DR job"));
  EXPECT_FALSE(DRVMExists(VM(101)));
  EXPECT_FALSE(IsStored(101));
  EXPECT_TRUE(Succeeded(101));
  for (int id : {102, 103}) {
    EXPECT_TRUE(DRVMExists(VM(id))) << id;
    EXPECT_TRUE(IsStored(id)) << id;
    EXPECT_FALSE(Succeeded(id)) << id;
    EXPECT_EQ(App::VSA_REPL_STATUS_SYNC_DISABLED, StoredSyncStatus(id)) << id;
  }
}

// A suspend another thread of the job finds while 101's DR VM is deleted
// (the call held here): the suspended job records no phase from then on, so
// the deletion's row stays in progress. The job must not remove the
// replication then: no row would tell its restart that this job removed
// it, and the restart would take it for another job's, its row left in
// progress. The restart judges the deletion from the hypervisor and removes
// every replication.
class VSACleanupDestVMConcurrency : public E2EVSACleanupDestVM {};

TEST_F(VSACleanupDestVMConcurrency, ASuspendFoundDuringADeletionLeavesTheRemovalToTheRestart) {
  ASSERT_TRUE(ZNGlobalParam::set(DRPLAN_SETTINGS_PARALLEL_THREAD_COUNT, "1"));
  UseDispatcher();
  DROptions().SetInt32(TMMsg::DROrchestrationOption::kDeleteFromHypervisor, 1);
  PlantFault(TMMsg::VM_OPERATION_DELETE, VM(101).destGuid, ELabFault::kHang);
  CFaultSteer steer;
  steer.Start(kJob, [] { return CHypervisorLab::HungCalls() == 1; },
              [this] {
                Suspend();
                EXPECT_TRUE(m_jm->IsQuitFlagSet());
                CHypervisorLab::ReleaseHangs();
              });

  EXPECT_EQ(Api::VIRTUAL_APP_PHASE_STATE_SUSPENDED, RunJob());
  EXPECT_TRUE(steer.Join());
  EXPECT_FALSE(DRVMExists(VM(101))) << "the held deletion went through";
  EXPECT_EQ(Api::VIRTUAL_APP_PHASE_STATE_IN_PROGRESS, RowOf(101, Api::VIRTUAL_APP_PHASE_DELETE_OPERATION).status);
  for (const SVSALabVM& vm : VMs()) {
    EXPECT_TRUE(IsStored(vm.replicationId)) << vm.replicationId;
    EXPECT_FALSE(Succeeded(vm.replicationId)) << vm.replicationId;
  }

  ASSERT_TRUE(CHypervisorLab::ClearFaults());
  RestartDeletingEverything();
}

// The job manager a chosen log line makes find a suspend (below).
std::atomic<CDRJobManager*> g_suspendFinder{nullptr};

// As a kill point's requester: stores a suspend request and has the job
// manager find it, in the thread that wrote the chosen line.
bool RequestAndFindSuspend(int64_t jobId) {
  CDRJobManager* manager = g_suspendFinder.load();
  return CJobStore::SetControlOperation(jobId, 2) == EStoreResult::kOk && manager != nullptr &&
         manager->IsQuitFlagSet();
}

// A suspend found after 102's delete step passed its quit check, before its
// call (at the step's "DumpPhaseDetails" line): the job stores no running
// row for the call then, so the call must not go out. Sent, it would delete
// the DR VM with no row of it, and the restart would ask for it again,
// be told "not found" and fail the machine, its DR VM gone and its record
// kept. The restart deletes it and removes every replication.
TEST_F(E2EVSACleanupDestVM, ASuspendFoundBeforeADeletionsCallSendsNoCall) {
  struct SDisarm {
    ~SDisarm() {
      CKillPoint::Disarm();
      CKillPoint::SetRequester(nullptr);
      g_suspendFinder = nullptr;
    }
  } disarm;
  ASSERT_TRUE(ZNGlobalParam::set(DRPLAN_SETTINGS_PARALLEL_THREAD_COUNT, "1"));
  UseDispatcher();
  DROptions().SetInt32(TMMsg::DROrchestrationOption::kDeleteFromHypervisor, 1);
  g_suspendFinder = m_jm.get();
  CKillPoint::SetRequester(&RequestAndFindSuspend);
  CKillPoint::Arm("DumpPhaseDetails(): [Delete Operation]", 2);

  EXPECT_EQ(Api::VIRTUAL_APP_PHASE_STATE_SUSPENDED, RunJob());
  EXPECT_TRUE(Logged("Halting [Delete Operation] on VM [" + VM(102).destName + "] as DR job [" +
                     std::to_string(kJob) + "] is suspended"));
  EXPECT_FALSE(DRVMExists(VM(101)));
  EXPECT_EQ(Api::VIRTUAL_APP_PHASE_STATE_SUCCESS, RowOf(101, Api::VIRTUAL_APP_PHASE_DELETE_OPERATION).status);
  for (int id : {102, 103}) EXPECT_TRUE(DRVMExists(VM(id))) << id;
  for (const SVSALabVM& vm : VMs()) EXPECT_TRUE(IsStored(vm.replicationId)) << vm.replicationId;

  CKillPoint::Disarm();
  RestartDeletingEverything();
}

TEST_F(E2EVSACleanupDestVM, DeleteFromHypervisorSkipsAReplicationInTheMiddleOfASync) {
  DROptions().SetInt32(TMMsg::DROrchestrationOption::kDeleteFromHypervisor, 1);
  SetStatuses(103, App::VSA_REPL_STATUS_SYNC_IN_PROGRESS, App::VSA_FAILOVER_STATUS_NONE);

  EXPECT_EQ(Api::VIRTUAL_APP_PHASE_STATE_SUCCESS, RunJob());

  for (int id : {101, 102}) {
    EXPECT_FALSE(DRVMExists(VM(id))) << id;
    EXPECT_FALSE(IsStored(id)) << id;
    EXPECT_TRUE(Succeeded(id)) << id;
  }
  EXPECT_TRUE(DRVMExists(VM(103)));
  for (const SLabCall& call : LabCalls(TMMsg::VM_OPERATION_DELETE)) EXPECT_NE(VM(103).destGuid, call.vmGuid);
  ExpectSkippedWithFailedDeleteRow(103);
  EXPECT_EQ(App::VSA_REPL_STATUS_SYNC_IN_PROGRESS, StoredSyncStatus(103));
}

TEST_F(E2EVSACleanupDestVM, NoneDeletedLeavesTheDatabaseAlone) {
  DROptions().SetInt32(TMMsg::DROrchestrationOption::kDeleteFromHypervisor, 1);
  for (const SVSALabVM& vm : VMs()) FailDelete(vm);

  EXPECT_EQ(Api::VIRTUAL_APP_PHASE_STATE_FAILED, RunJob());

  EXPECT_TRUE(Logged("None of the destination vms were successfully deleted from Hypervisor. Skipping call to delete "
                     "from database"));
  EXPECT_FALSE(Logged("Deleting replication entries from Db."));
  for (const SVSALabVM& vm : VMs()) EXPECT_TRUE(IsStored(vm.replicationId)) << vm.replicationId;
}

TEST_F(E2EVSACleanupDestVM, ARemovalTheDatabaseRefusesMarksNoMachineSuccessful) {
  DROptions().SetInt32(TMMsg::DROrchestrationOption::kDeleteFromHypervisor, 1);
  ASSERT_TRUE(CStandIns::SetFault("AppVSAReplicationsDeleteOptions", EStandInFault::kErrorCode));

  EXPECT_EQ(Api::VIRTUAL_APP_PHASE_STATE_FAILED, RunJob());

  for (const SVSALabVM& vm : VMs()) {
    EXPECT_FALSE(DRVMExists(vm)) << vm.replicationId;
    EXPECT_TRUE(IsStored(vm.replicationId)) << vm.replicationId;
    EXPECT_FALSE(Succeeded(vm.replicationId)) << vm.replicationId;
  }
}

TEST_F(E2EVSACleanupDestVM, WithoutTheJobsDROptionsNothingIsDeleted) {
  // A job whose options carry no DR orchestration options.
  TMMsg::JobOption bare;
  m_dr->GetDRAppMgr()->Initialize(0, &bare);
  ASSERT_EQ(nullptr, m_dr->GetDRAppMgr()->GetDROrchestrationOption());
  CVSACleanupDestVM context(Generic());

  EXPECT_FALSE(context.ProcessPriority(*Priority()));

  EXPECT_TRUE(Logged("No DR orchestration options in the job. Nothing deleted for priority [1]"));
  EXPECT_TRUE(LabCalls(TMMsg::VM_OPERATION_DELETE).empty());
  for (const SVSALabVM& vm : VMs()) {
    EXPECT_TRUE(IsStored(vm.replicationId)) << vm.replicationId;
    EXPECT_FALSE(Succeeded(vm.replicationId)) << vm.replicationId;
  }
}

TEST_F(E2EVSACleanupDestVM, AdmitsNoReplicationInTheMiddleOfAFailoverFailbackRevertOrSync) {
  CVSACleanupDestVM context(Generic());
  for (int status : {2, 3, 6, 7, 14, 16}) {
    EXPECT_FALSE(context.IsPermisableFailoverStateForJob(static_cast<App::VSAFailoverStatus>(status))) << status;
  }
  for (int status : {0, 1, 4, 5, 8, 13, 15}) {
    EXPECT_TRUE(context.IsPermisableFailoverStateForJob(static_cast<App::VSAFailoverStatus>(status))) << status;
  }
  for (int status : {3, 11}) {
    EXPECT_FALSE(context.IsPermisableSyncStateForJob(static_cast<App::VSAReplicationStatus>(status))) << status;
  }
  for (int status : {1, 2, 4, 5, 6, 7, 8, 10}) {
    EXPECT_TRUE(context.IsPermisableSyncStateForJob(static_cast<App::VSAReplicationStatus>(status))) << status;
  }
}

}  // namespace
