// The test failover run end to end on the lab (a destination of vendor 4):
// the clones it boots and records, what it leaves alone, and what it leaves
// behind after a fault or a kill.
#include <gtest/gtest.h>

#include "TestSupport.h"
#include "VSAOperationLabFixture.h"
#include "appmgr/AppVMStore.h"
#include "appmgr/ClientProperties.h"
#include "appmgr/ClientStore.h"
#include "jobs/TaskStore.h"
#include "services/DRAppManager.h"
#include "time/PlatformClock.h"
#include "vm/VmAuxOps.h"
#include "vsa/VSARepInfo.h"
#include "vsa/VSATestFailover.h"

namespace {

using VmInfo = App::VSAReplicationInfo;

const char kTestSize[] = "t3.test";
const char kTestNetwork[] = "net-test";
const int kHours = 24;

class E2EVSATestFailover : public CVSAOperationLabFixture {
 protected:
  void SetUp() override {
    CVSAOperationLabFixture::SetUp();
    SVSALabSpec spec;
    spec.replications = 2;
    spec.drType = TMMsg::DR_ORCHESTRATION_TEST_FAILOVER;
    spec.destVendor = 4;
    SeedForOperations(spec);
  }

  static void AddTestTarget(int id = kTargetId) {
    AddRecoveryTarget(id, kHours, kTestSize, kTestNetwork, "10.9.0.0/24");
  }
  // The replication task's own allocation policy.
  static void SetTaskPolicy(int taskId, int policyId) {
    std::string xml;
    ASSERT_TRUE(CTaskStore::GetTask(taskId, xml));
    TMMsg::TaskInfo task;
    ASSERT_TRUE(task.Unserialize(xml));
    task.MutableListMsg(TMMsg::TaskInfo::kSubTasks, 0)
        .MutableMsg(TMMsg::SubTaskInfo::kJobOptions)
        .MutableMsg(TMMsg::JobOption::kRestoreOptions)
        .MutableMsg(TMMsg::RestoreOptionFields::kVirtualServerRestoreOptions)
        .MutableMsg(TMMsg::VirtualServerRestoreOptionFields::kAllocationPolicy)
        .SetInt32(ZnEntities::PolicyInstanceFields::kVMAllocationPolicyId, policyId);
    ASSERT_EQ(EStoreResult::kOk, CTaskStore::ModifyTask(taskId, task));
  }
  void SetTarget(int replicationId, int targetId) {
    Change(replicationId, [&](VmInfo& info) {
      info.MutableMsg(VmInfo::kReplicationTarget).SetInt32(ZnEntities::ReplicationTargetEntity::kTargetId, targetId);
    });
    Reload();
  }

  static bool CloneExists(const SVSALabVM& vm, SLabVM* out = nullptr) {
    SLabVM found;
    const bool exists = CHypervisorLab::FindVMByName(kDestInstance, CloneName(vm), found) == EStoreResult::kOk;
    if (out != nullptr) *out = found;
    return exists;
  }
  static int ClientOf(const std::string& name) {
    SClientRecord client;
    return CClientStore::FindByName(name, client) == EStoreResult::kOk ? client.id : 0;
  }
  static std::string Attribute(int clientId, const char* name) {
    std::string value;
    return ClientProperties(clientId).getAttribute(name, value) == 0 ? value : std::string("<none>");
  }
  // No clone VM, no clone client and no live VM row of a clone client.
  void ExpectNoCloneLeft() {
    EXPECT_TRUE(DestinationVMsNamed("vm-1").size() == VMs().size()) << "a clone is left";
    for (const SLabVM& vm : DestinationVMsNamed("vm-1")) EXPECT_FALSE(vm.clone) << vm.name;
    for (const SVSALabVM& vm : VMs()) EXPECT_EQ(0, ClientOf(CloneName(vm))) << vm.replicationId;
    for (int clientId = CHypervisorLab::kFirstCloneClientId; clientId < CHypervisorLab::kFirstCloneClientId + 8;
         ++clientId) {
      SAppVMRecord row;
      if (CAppVMStore::FindByClient(clientId, row) == EStoreResult::kOk) {
        EXPECT_TRUE(row.removed) << clientId;
      }
    }
  }
  // The DR VMs and the replications as the test failover found them.
  void ExpectDRVMsUntouched() {
    for (const SVSALabVM& vm : VMs()) {
      const SLabVM dr = DRVM(vm.replicationId);
      EXPECT_FALSE(dr.poweredOn) << vm.replicationId;
      EXPECT_EQ(vm.destName, dr.name);
      EXPECT_EQ(App::VSA_REPL_STATUS_IN_SYNC, StoredSyncStatus(vm.replicationId));
      EXPECT_EQ(App::VSA_FAILOVER_STATUS_NONE, StoredFailoverStatus(vm.replicationId));
      bool found = true;
      StoredProperty(vm.replicationId, VSARepInfo::kPropLastDRJobId, &found);
      EXPECT_FALSE(found) << vm.replicationId;
      for (int op : {TMMsg::VM_OPERATION_POWER_ON, TMMsg::VM_OPERATION_REFRESH_VM, TMMsg::VM_OPERATION_DELETE,
                     TMMsg::VM_OPERATION_POWER_OFF}) {
        for (const SLabCall& call : LabCalls(op)) EXPECT_NE(vm.destGuid, call.vmGuid) << op;
      }
    }
  }
  // The job on a thread of its own, killed while a call it made hangs;
  // its final state.
  int32_t RunKilledDuringAHang() {
    int32_t state = -1;
    drtest::CTestThread job([this, &state] { state = RunJob(); }, "test failover");
    job.OnStop([] { CHypervisorLab::ReleaseHangs(); });
    EXPECT_TRUE(drtest::Eventually([] { return CHypervisorLab::HungCalls() > 0; }));
    Kill();
    EXPECT_TRUE(CHypervisorLab::ReleaseHangs());
    EXPECT_TRUE(job.Join());
    return state;
  }
};

TEST_F(E2EVSATestFailover, BootsRecordedClonesAndLeavesTheDRVMsAsTheyWere) {
  AddTestTarget();
  const long long before = CPlatformClock::Instance().NowEpochSeconds();

  EXPECT_EQ(Api::VIRTUAL_APP_PHASE_STATE_SUCCESS, RunJob());

  const long long after = CPlatformClock::Instance().NowEpochSeconds();
  const int user = m_jm->GetUserID();
  for (const SVSALabVM& vm : VMs()) {
    SCOPED_TRACE(vm.replicationId);
    EXPECT_TRUE(Machine(vm.replicationId)->IsSuccess());
    SLabVM clone;
    ASSERT_TRUE(CloneExists(vm, &clone));
    EXPECT_TRUE(clone.poweredOn);
    EXPECT_EQ(kTestSize, clone.size);
    EXPECT_EQ(DRVM(vm.replicationId).content, clone.content);
    int testAdapters = 0;
    for (const SLabNic& nic : clone.nics) testAdapters += nic.network == kTestNetwork ? 1 : 0;
    EXPECT_EQ(1, testAdapters);
    const int client = ClientOf(CloneName(vm));
    ASSERT_GT(client, 0);
    EXPECT_EQ("1", Attribute(client, ZN_PROP_IS_TEST_DR_MACHINE));
    EXPECT_EQ(std::to_string(user), Attribute(client, ZN_PROP_VM_CREATED_BY));
    EXPECT_EQ(std::to_string(user), Attribute(client, ZN_PROP_VM_OWNER_USER_ID));
    EXPECT_EQ(std::to_string(vm.sourceClientId), Attribute(client, ZN_PROP_SOURCE_VM_CLIENT_ID));
    const long long reserved = atoll(Attribute(client, ZN_PROP_VM_RESERVE_UNTIL).c_str());
    EXPECT_GE(reserved, before + kHours * 3600);
    EXPECT_LE(reserved, after + kHours * 3600);
    SAppVMRecord row;
    ASSERT_EQ(EStoreResult::kOk, CAppVMStore::FindByClient(client, row));
    EXPECT_EQ(kTargetId, row.allocationPolicyId);
    EXPECT_FALSE(row.removed);
    for (int phase : {Api::VIRTUAL_APP_PHASE_GET_VM_INFO, Api::VIRTUAL_APP_PHASE_CLONE_VM,
                      Api::VIRTUAL_APP_PHASE_REFRESH_VM, Api::VIRTUAL_APP_PHASE_POWER_ON}) {
      EXPECT_EQ(Api::VIRTUAL_APP_PHASE_STATE_SUCCESS, RowOf(vm.replicationId, phase).status) << phase;
    }
    int count = 0;
    ASSERT_TRUE(m_dr->GetDRAppMgr()->QueryDRVMCloneCount(vm.sourceClientId, count));
    EXPECT_EQ(1, count);
  }
  ExpectDRVMsUntouched();
  // A successful test failover's clones stay.
  EXPECT_TRUE(LabCalls(TMMsg::VM_OPERATION_DELETE).empty());
  EXPECT_TRUE(Logged("[Test Failover] has succeeded for replication [101] VM [" + CloneName(VM(101)) + "]"));
}

TEST_F(E2EVSATestFailover, ThirtyTwoClonesAdmitOneMoreAndThirtyThreeNone) {
  AddTestTarget();
  int clientId = 20001;
  for (const SVSALabVM& vm : VMs()) {
    const int clones = vm.replicationId == 101 ? 32 : 33;
    for (int i = 0; i < clones; ++i, ++clientId) {
      ASSERT_EQ(0, ClientProperties(clientId).setSourceVMClient(vm.sourceClientId));
      SAppVMRecord row;
      row.clientId = clientId;
      row.guid = "old-clone-" + std::to_string(clientId);
      row.name = row.guid;
      ASSERT_TRUE(CAppVMStore::AddVM(row));
    }
  }

  EXPECT_EQ(Api::VIRTUAL_APP_PHASE_STATE_COMPLETED_WITH_ERRORS, RunJob());

  EXPECT_TRUE(Machine(101)->IsSuccess());
  EXPECT_TRUE(CloneExists(VM(101)));
  EXPECT_FALSE(Machine(102)->IsSuccess());
  EXPECT_TRUE(Logged("VM [vm-102-DR] [dst-102] has reached max clone count [32] "));
  for (const SLabCall& call : LabCalls()) EXPECT_NE(VM(102).destGuid, call.vmGuid) << call.opType;
  EXPECT_FALSE(CloneExists(VM(102)));
}

TEST_F(E2EVSATestFailover, AMachineWhosePolicyCannotBeReadIsDroppedBeforeAnyVMIsMade) {
  AddTestTarget();
  SetTarget(102, 302);

  EXPECT_EQ(Api::VIRTUAL_APP_PHASE_STATE_COMPLETED_WITH_ERRORS, RunJob());

  EXPECT_TRUE(Logged("Failed to query VM allocation policy Id [302]"));
  EXPECT_TRUE(Logged("Failed to query VM allocation policy from task Id [" + std::to_string(VM(102).taskId) + "]"));
  EXPECT_FALSE(Machine(102)->IsSuccess());
  for (const SLabCall& call : LabCalls(TMMsg::VM_OPERATION_CLONE_VM)) EXPECT_NE(CloneName(VM(102)), call.vmName);
  EXPECT_FALSE(CloneExists(VM(102)));
  EXPECT_TRUE(Machine(101)->IsSuccess());
}

TEST_F(E2EVSATestFailover, ATargetOnlyTheTaskNamesGivesNoExpiryAndAFailedOwnerIsOnlyLogged) {
  // The replications' target is gone; their task still names a policy.
  const int taskPolicy = 305;
  AddTestTarget(taskPolicy);
  for (int taskId : TaskIdsOfGroup(kFirstSubclient)) SetTaskPolicy(taskId, taskPolicy);
  UseDispatcher();
  CScopedHandler<std::string, VMOwnerHandler> owner(VmAuxOps::VMOwnerHandlers(), VmAuxOps::kAnyVM,
                                                     [](int, int, const std::string&) { return 7; });

  EXPECT_EQ(Api::VIRTUAL_APP_PHASE_STATE_SUCCESS, RunJob());

  for (const SVSALabVM& vm : VMs()) {
    SCOPED_TRACE(vm.replicationId);
    EXPECT_TRUE(Machine(vm.replicationId)->IsSuccess());
    const int client = ClientOf(CloneName(vm));
    ASSERT_GT(client, 0);
    EXPECT_EQ("0", Attribute(client, ZN_PROP_VM_RESERVE_UNTIL));
    EXPECT_EQ("<none>", Attribute(client, ZN_PROP_VM_OWNER_USER_ID));
    EXPECT_TRUE(Logged("Failed to set user [" + std::to_string(m_jm->GetUserID()) + "] associations for client Id [" +
                       std::to_string(client) + "]"));
  }
}

TEST_F(E2EVSATestFailover, AFailedCloneStepDuringAQuitRemovesTheCloneByItsName) {
  AddTestTarget();
  // The first clone call hangs until the job is killed, then finds no proxy.
  PlantFault(TMMsg::VM_OPERATION_CLONE_VM, CloneName(VM(101)), ELabFault::kHang);
  PlantFault(TMMsg::VM_OPERATION_CLONE_VM, CloneName(VM(101)), ELabFault::kConnectionFailure, 1, 6);

  EXPECT_EQ(Api::VIRTUAL_APP_PHASE_STATE_KILLED, RunKilledDuringAHang());
  EXPECT_EQ(Api::VIRTUAL_APP_PHASE_STATE_FAILED, RowOf(101, Api::VIRTUAL_APP_PHASE_CLONE_VM).status);
  bool removedByName = false;
  for (const SLabCall& call : LabCalls(TMMsg::VM_OPERATION_DELETE)) {
    removedByName = removedByName || (call.vmName == CloneName(VM(101)) && call.vmGuid.empty());
  }
  EXPECT_TRUE(removedByName);
  ExpectNoCloneLeft();
  ExpectDRVMsUntouched();
}

TEST_F(E2EVSATestFailover, ACloneReportedWithoutTheNewVMFailsAndNeverTouchesTheDRVM) {
  AddTestTarget();
  PlantFault(TMMsg::VM_OPERATION_CLONE_VM, CloneName(VM(101)), ELabFault::kNoCreatedEntity);

  EXPECT_EQ(Api::VIRTUAL_APP_PHASE_STATE_COMPLETED_WITH_ERRORS, RunJob());

  EXPECT_EQ(Api::VIRTUAL_APP_PHASE_STATE_FAILED, RowOf(101, Api::VIRTUAL_APP_PHASE_CLONE_VM).status);
  EXPECT_FALSE(Machine(101)->IsSuccess());
  EXPECT_FALSE(CloneExists(VM(101)));
  EXPECT_TRUE(Machine(102)->IsSuccess());
  EXPECT_TRUE(CloneExists(VM(102)));
  ExpectDRVMsUntouched();
}

TEST_F(E2EVSATestFailover, ACloneWithoutAClientGetsNoWritesOnClientZeroAndIsRemoved) {
  AddTestTarget();
  // The management server never registers the clone of 101 as a client:
  // it is gone by the time the clone is refreshed.
  const std::string clone = CloneName(VM(101));
  CScopedHandler<std::string, VMInfoHandler> info(
      VmAuxOps::VMInfoHandlers(), VmAuxOps::kAnyVM, [clone](const std::string&, QSMServer::QVirtualMachineReq&) {
        SClientRecord client;
        if (CClientStore::FindByName(clone, client) == EStoreResult::kOk) CClientStore::RemoveClient(client.id);
        return 1;
      });

  EXPECT_EQ(Api::VIRTUAL_APP_PHASE_STATE_COMPLETED_WITH_ERRORS, RunJob());

  EXPECT_FALSE(Machine(101)->IsSuccess());
  EXPECT_TRUE(Logged("Client of clone VM [" + clone + "]"));
  EXPECT_FALSE(CloneExists(VM(101)));
  for (const char* attribute : {ZN_PROP_VM_RESERVE_UNTIL, ZN_PROP_IS_TEST_DR_MACHINE, ZN_PROP_VM_CREATED_BY,
                                ZN_PROP_VM_OWNER_USER_ID, ZN_PROP_SOURCE_VM_CLIENT_ID}) {
    EXPECT_EQ("<none>", Attribute(0, attribute)) << attribute;
  }
  SAppVMRecord row;
  EXPECT_EQ(EStoreResult::kMissing, CAppVMStore::FindByClient(0, row));
  EXPECT_TRUE(Machine(102)->IsSuccess());
}

// Whatever VM step fails for the first machine, no clone, clone client or
// live VM row of one stays; the other machine's clone boots.
struct SFailedStep {
  int opType;
  bool ofClone;  // the call names the clone, else the DR VM
};

class E2EVSATestFailoverFailedStep : public E2EVSATestFailover, public ::testing::WithParamInterface<SFailedStep> {};

TEST_P(E2EVSATestFailoverFailedStep, LeavesNoCloneOfTheFailedMachine) {
  AddTestTarget();
  PlantFault(GetParam().opType, GetParam().ofClone ? CloneName(VM(101)) : VM(101).destGuid, ELabFault::kError);

  EXPECT_EQ(Api::VIRTUAL_APP_PHASE_STATE_COMPLETED_WITH_ERRORS, RunJob());

  EXPECT_FALSE(Machine(101)->IsSuccess());
  EXPECT_FALSE(CloneExists(VM(101)));
  EXPECT_EQ(0, ClientOf(CloneName(VM(101))));
  EXPECT_TRUE(Machine(102)->IsSuccess());
  EXPECT_TRUE(CloneExists(VM(102)));
}

INSTANTIATE_TEST_SUITE_P(E2ESteps, E2EVSATestFailoverFailedStep,
                         ::testing::Values(SFailedStep{TMMsg::VM_OPERATION_GET_VM_INFO, false},
                                           SFailedStep{TMMsg::VM_OPERATION_CLONE_VM, true},
                                           SFailedStep{TMMsg::VM_OPERATION_REFRESH_VM, true},
                                           SFailedStep{TMMsg::VM_OPERATION_POWER_ON, true}));

// A kill while the clones are refreshed: the job stops between steps, and
// its clean-up removes both clones.
TEST_F(E2EVSATestFailover, AKillBetweenStepsLeavesNoClone) {
  AddTestTarget();
  // One machine's refresh hangs (the two may run at once: a hang is
  // counted only once it is journalled).
  PlantFault(TMMsg::VM_OPERATION_REFRESH_VM, CloneName(VM(101)), ELabFault::kHang);

  EXPECT_EQ(Api::VIRTUAL_APP_PHASE_STATE_KILLED, RunKilledDuringAHang());
  EXPECT_EQ(2u, LabCalls(TMMsg::VM_OPERATION_CLONE_VM).size());
  ExpectNoCloneLeft();
  ExpectDRVMsUntouched();
}

TEST_F(E2EVSATestFailover, AdmissionOfARestartedJobAndOfSyncStatuses) {
  CVSATestFailover fresh(Generic());
  EXPECT_FALSE(fresh.IsPermisableFailoverStateForJob(App::VSA_FAILOVER_STATUS_FAILOVER_IN_PROGRESS));
  for (int status : {0, 4, 5, 13}) {
    EXPECT_TRUE(fresh.IsPermisableFailoverStateForJob(static_cast<App::VSAFailoverStatus>(status))) << status;
  }
  EXPECT_FALSE(fresh.IsPermisableFailoverStateForJob(App::VSA_FAILOVER_STATUS_FAILOVER_COMPLETE));
  for (int status : {1, 3}) {
    EXPECT_TRUE(fresh.IsPermisableSyncStateForJob(static_cast<App::VSAReplicationStatus>(status))) << status;
  }
  for (int status : {2, 4, 5, 6, 11}) {
    EXPECT_FALSE(fresh.IsPermisableSyncStateForJob(static_cast<App::VSAReplicationStatus>(status))) << status;
  }
  RestartForOperations();
  CVSATestFailover restarted(Generic());
  EXPECT_TRUE(restarted.IsPermisableFailoverStateForJob(App::VSA_FAILOVER_STATUS_FAILOVER_IN_PROGRESS));
}

class E2EVSAUndoTestFailover : public CVSAOperationLabFixture {};

TEST_F(E2EVSAUndoTestFailover, IsNoTypeOfAVMGroup) {
  SVSALabSpec spec;
  spec.drType = TMMsg::DR_ORCHESTRATION_UNDO_TEST_FAILOVER;
  SeedForOperations(spec);

  EXPECT_EQ(Api::VIRTUAL_APP_PHASE_STATE_FAILED, RunJob());

  EXPECT_TRUE(Logged("Unknown Type Error"));
  EXPECT_TRUE(LabCalls().empty());
}

}  // namespace
