// What each VM operation carries to the proxy and what its answer changes in
// the machine's record: power-on without tools, asynchronous operations,
// snapshots and their references, clones, DR VMs and their placement,
// shutdown without an identity, VM information and refresh.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "log/EvEvent.h"
#include "vm/VmAuxOps.h"
#include "vsa/VSAContextTestSupport.h"

namespace {

using VMEntity = ZnEntities::VirtualMachineEntity;

class VSAVMOpOptions : public CVSAContextTestBase {
 protected:
  // The request of the one call of an operation type.
  Ida::VMOpReq RequestOf(int opType, const std::string& guid = "") {
    for (const SVMOpCall& call : m_hypervisor->Calls()) {
      if (call.opType != opType) continue;
      if (!guid.empty() && Guid(call.request) != guid) continue;
      return call.request;
    }
    ADD_FAILURE() << "no call of type " << opType << " for [" << guid << "]";
    return Ida::VMOpReq();
  }
  TMMsg::VMProvisioningOption OptionOf(int opType) {
    for (const SVMOpCall& call : m_hypervisor->Calls())
      if (call.opType == opType) return call.option;
    ADD_FAILURE() << "no call of type " << opType;
    return TMMsg::VMProvisioningOption();
  }
  static const CNMessageBase& VM(const Ida::VMOpReq& r) { return r.GetMsg(Ida::VMOpReq::kVirtualMachine); }
  static const CNMessageBase& Entity(const Ida::VMOpReq& r) { return VM(r).GetMsg(Ida::VirtualMachine::kEntity); }
  static const CNMessageBase& Placement(const Ida::VMOpReq& r) { return VM(r).GetMsg(Ida::VirtualMachine::kPlacement); }
  static std::string Guid(const Ida::VMOpReq& r) { return Entity(r).GetString(VMEntity::kGuid); }
  static const CNMessageBase& SnapshotOf(const TMMsg::VMProvisioningOption& option) {
    return option.GetListMsg(TMMsg::VMProvisioningOption::kSnapOpRequests, 0).GetMsg(Ida::VMSnapOpReq::kSnapshot);
  }
  static std::string MorefOf(const TMMsg::VMProvisioningOption& option) {
    return SnapshotOf(option).GetMsg(Ida::VMSnapshot::kReference).GetString(Ida::SnapshotReference::kMoref);
  }
  // A DR VM step (site 1) of one phase.
  bool DestinationStep(const std::vector<CDRInfo*>& m, Api::VirtualAppJobPhaseType phase) {
    SDROperationCtx ctx = Ctx(m);
    ctx.site = Api::DR_SITE_DESTINATION;
    return m_ctx->__VmOP(ctx, phase, false);
  }
};

TEST_F(VSAVMOpOptions, APowerOnWithoutToolsAsksTheProxyNotToWaitForThem) {
  SContextVM bare = Lab(1);
  bare.tools = false;
  std::vector<CDRInfo*> m = Load({bare, Lab(2)});
  SDROperationCtx ctx = Ctx(m);
  EXPECT_TRUE(m_ctx->__OP(ctx, ZNDR::BATCH_OP_POWER_ON_SECONDARY, false));
  EXPECT_EQ(2, RequestOf(TMMsg::VM_OPERATION_POWER_ON, "dst-guid-1").GetInt32(Ida::VMOpReq::kFlags));
  EXPECT_FALSE(RequestOf(TMMsg::VM_OPERATION_POWER_ON, "dst-guid-2").Has(Ida::VMOpReq::kFlags));
  EXPECT_TRUE(Logged("Tools not found for vm [vm1-DR]"));
}

TEST_F(VSAVMOpOptions, AnAsynchronousOperationCarriesNoJobIdAndTheSwitchClearsOnSuccess) {
  SContextVM async = Lab(1);
  async.sourceVendor = 5;  // to vendor 1: the operation outlives the job
  std::vector<CDRInfo*> m = Load({async, Lab(2)});

  SDROperationCtx ctx = Ctx({m[0]});
  ctx.site = Api::DR_SITE_DESTINATION;
  ctx.phase = Api::VIRTUAL_APP_PHASE_POWER_ON;
  Ida::VMOpReq request;
  TMMsg::VMProvisioningOption option;
  ASSERT_TRUE(m_ctx->LoadVMOpReqOptions(ctx, m[0], request, option));
  EXPECT_TRUE(ctx.vmOpAsync);
  EXPECT_FALSE(request.Has(Ida::VMOpReq::kJobId));
  EXPECT_TRUE(m_ctx->PerformVMOperation(ctx));
  EXPECT_FALSE(ctx.vmOpAsync);
  EXPECT_FALSE(RequestOf(TMMsg::VM_OPERATION_POWER_ON).Has(Ida::VMOpReq::kJobId));

  ctx = Ctx({m[1]});
  ctx.site = Api::DR_SITE_DESTINATION;
  ctx.phase = Api::VIRTUAL_APP_PHASE_POWER_ON;
  EXPECT_TRUE(m_ctx->PerformVMOperation(ctx));
  EXPECT_EQ(kJob, RequestOf(TMMsg::VM_OPERATION_POWER_ON, "dst-guid-2").GetInt64(Ida::VMOpReq::kJobId));
}

TEST_F(VSAVMOpOptions, ASnapshotsReferenceIsKeptAndPersistedOnlyWhenTheProxyGivesOne) {
  std::vector<CDRInfo*> m = Load({Lab(1)});
  m_hypervisor->SnapshotRef("snap-77");
  SDROperationCtx ctx = Ctx(m);
  ASSERT_TRUE(m_ctx->__OP(ctx, ZNDR::BATCH_OP_CREATE_SNAPSHOT_PRIMARY, false));
  EXPECT_EQ(std::vector<std::string>{"Persist:1:0:snap-77"}, m_ctx->Hooks());
  const TMMsg::VMProvisioningOption created = OptionOf(TMMsg::VM_OPERATION_CREATE_SNAPSHOT);
  EXPECT_EQ(SNAPSHOT_NAME, SnapshotOf(created).GetString(Ida::VMSnapshot::kName));
  EXPECT_EQ("Snapshot created by Korlith for DR job 5150 from drhost",
            SnapshotOf(created).GetString(Ida::VMSnapshot::kDescription));
  EXPECT_EQ("src-guid-1", SnapshotOf(created).GetMsg(Ida::VMSnapshot::kVMEntity).GetString(VMEntity::kGuid));
  EXPECT_FALSE(SnapshotOf(created).Has(Ida::VMSnapshot::kReference)) << "a new snapshot has no reference yet";

  // A revert of it names the reference the proxy gave.
  ctx = Ctx(m);
  ctx.site = Api::DR_SITE_SOURCE;
  ctx.snapType = 1;
  ASSERT_TRUE(m_ctx->SnapOp(ctx, Api::VIRTUAL_APP_PHASE_REVERT_SNAPSHOT, SNAPSHOT_NAME, "", false));
  EXPECT_EQ("snap-77", MorefOf(OptionOf(TMMsg::VM_OPERATION_REVERT_SNAPSHOT)));

  // No reference in the answer: nothing is persisted.
  m_hypervisor->SnapshotRef("");
  ctx = Ctx(m);
  ASSERT_TRUE(m_ctx->__OP(ctx, ZNDR::BATCH_OP_CREATE_SNAPSHOT_SECONDARY, false));
  EXPECT_EQ(1u, m_ctx->Hooks().size());
}

TEST_F(VSAVMOpOptions, WithTheStoredReferenceSwitchADeleteNamesTheReplicationsProperty) {
  SContextVM vm = Lab(1);
  vm.destSnapMoref = "stored-ref";
  std::vector<CDRInfo*> m = Load({vm});
  SDROperationCtx ctx = Ctx(m);
  ctx.site = Api::DR_SITE_DESTINATION;
  ctx.snapType = 2;
  ctx.useStoredSnapRef = true;
  ASSERT_TRUE(
      m_ctx->SnapOp(ctx, Api::VIRTUAL_APP_PHASE_DELETE_SNAPSHOT, FAILOVER_SNAPSHOT_NAME, "ref-of-record", false));
  EXPECT_EQ("stored-ref", MorefOf(OptionOf(TMMsg::VM_OPERATION_DELETE_SNAPSHOT)));
  EXPECT_EQ(FAILOVER_SNAPSHOT_NAME,
            SnapshotOf(OptionOf(TMMsg::VM_OPERATION_DELETE_SNAPSHOT)).GetString(Ida::VMSnapshot::kName));
}

TEST_F(VSAVMOpOptions, ACloneIsNamedForThisJobAndCarriesItsPlacementDisksAndPolicySwitches) {
  SContextVM vm = Lab(1);
  vm.destVendor = 5;
  vm.taskId = 11;
  vm.trackingIds = 3;
  std::vector<CDRInfo*> m = Load({vm});
  PutPlacementTask(11, "vm1", false);
  Ida::VMAllocationPolicy policy;
  policy.SetInt32(Ida::VMAllocationPolicy::kFlag98, 1);
  policy.SetInt32(Ida::VMAllocationPolicy::kRestoreAsManagedVM, 1);
  Rec(m[0])->SetVmAllocationPolicy(policy);
  m_hypervisor->CreatedVM("clone-made", "clone-guid");

  SDROperationCtx ctx = Ctx(m);
  ASSERT_TRUE(m_ctx->__OP(ctx, ZNDR::BATCH_OP_CLONE_VM_DESTINATION, false));
  const Ida::VMOpReq r = RequestOf(TMMsg::VM_OPERATION_CLONE_VM);
  EXPECT_EQ("vm1-DR-Clone-" + std::to_string(EvEvent::getProcessId()) + "-5150", Entity(r).GetString(VMEntity::kName));
  EXPECT_EQ("", Entity(r).GetString(VMEntity::kGuid));
  EXPECT_EQ("vm1-DR", r.GetMsg(Ida::VMOpReq::kCloneSourceVM).GetString(VMEntity::kName));
  EXPECT_EQ("dst-guid-1", r.GetMsg(Ida::VMOpReq::kCloneSourceVM).GetString(VMEntity::kGuid));
  EXPECT_EQ(1, r.GetInt32(Ida::VMOpReq::kFlag13));
  EXPECT_EQ(1, r.GetInt32(Ida::VMOpReq::kFlag18));
  EXPECT_EQ(1, r.GetInt32(Ida::VMOpReq::kFlag19));
  EXPECT_EQ(1, r.GetInt32(Ida::VMOpReq::kRestoreAsManagedVM));
  EXPECT_EQ("esx-7", Placement(r).GetString(Ida::VMPlacement::kEsxHost));
  EXPECT_EQ("dc-7", Placement(r).GetString(Ida::VMPlacement::kDatacenter));
  EXPECT_EQ("cluster-7", Placement(r).GetString(Ida::VMPlacement::kCluster));
  EXPECT_EQ("ds-7",
            Placement(r).GetMsg(Ida::VMPlacement::kDatastore).GetString(ZnEntities::DataStoreEntity::kDatastoreName));
  EXPECT_EQ(3u, VM(r).GetMsg(Ida::VirtualMachine::kHardDisks).ListSize(Ida::HardDisks::kDisks));
  EXPECT_EQ(3, VM(r).GetInt64(Ida::VirtualMachine::kDiskCount));
  // The answer names the clone in the record.
  EXPECT_EQ("clone-made", Rec(m[0])->GetDestinationName());
  EXPECT_EQ("clone-guid", Rec(m[0])->GetDestinationGuid());
}

TEST_F(VSAVMOpOptions, ACloneWithoutPlacementStillGoesOutWithoutDisks) {
  SContextVM vm = Lab(1);
  vm.destVendor = 5;
  vm.taskId = 12;  // a task nobody stored
  vm.trackingIds = 2;
  std::vector<CDRInfo*> m = Load({vm});
  SDROperationCtx ctx = Ctx(m);
  ASSERT_TRUE(m_ctx->__OP(ctx, ZNDR::BATCH_OP_CLONE_VM_DESTINATION, false));
  EXPECT_TRUE(LoggedError("Failed to set ESX, data store, data center and cluster name in VMOpREq"));
  const Ida::VMOpReq r = RequestOf(TMMsg::VM_OPERATION_CLONE_VM);
  EXPECT_FALSE(VM(r).Has(Ida::VirtualMachine::kHardDisks));
  EXPECT_EQ(0u, Entity(r).GetString(VMEntity::kName).find("vm1-DR-Clone-"));
  EXPECT_EQ(0, r.GetInt32(Ida::VMOpReq::kFlag19)) << "no policy flag";
}

TEST_F(VSAVMOpOptions, ADRVMIsCreatedOnlyWhereTheTaskDeploysItAndWhereTheTaskPlacesIt) {
  SContextVM vm = Lab(1);
  vm.destVendor = 4;
  vm.taskId = 11;
  vm.trackingIds = 1;
  std::vector<CDRInfo*> m = Load({vm});

  PutPlacementTask(11, "vm1", false, "vm1-new");
  EXPECT_FALSE(DestinationStep(m, Api::VIRTUAL_APP_PHASE_CREATE_DR_VIRTUAL_MACHINE));
  EXPECT_TRUE(LoggedError("Failed to load create DR-VM options"));
  EXPECT_TRUE(LoggedError("Error loading VMOperation req options"));
  EXPECT_TRUE(m_hypervisor->Calls().empty());
  EXPECT_TRUE(PhaseRows().empty());

  PutPlacementTask(11, "vm1", true, "vm1-new");
  m_dr->GetDRAppMgr()->RefreshTask(11);
  EXPECT_TRUE(DestinationStep(m, Api::VIRTUAL_APP_PHASE_CREATE_DR_VIRTUAL_MACHINE));
  const Ida::VMOpReq r = RequestOf(TMMsg::VM_OPERATION_CREATE_DR_VM);
  EXPECT_EQ(1, VM(r).GetInt32(Ida::VirtualMachine::kReplicationId));
  EXPECT_EQ("vm1-new", Entity(r).GetString(VMEntity::kName));
  // The task's data center and cluster replace the region and tenant the
  // request's identity put there.
  EXPECT_EQ("dc-7", Placement(r).GetString(Ida::VMPlacement::kDatacenter));
  EXPECT_EQ("cluster-7", Placement(r).GetString(Ida::VMPlacement::kCluster));
  EXPECT_EQ(1u, VM(r).GetMsg(Ida::VirtualMachine::kHardDisks).ListSize(Ida::HardDisks::kDisks));
}

TEST_F(VSAVMOpOptions, AShutdownNeedsTheVMsNameOrGuid) {
  SContextVM nameless = Lab(1);
  nameless.destIdentity = false;
  std::vector<CDRInfo*> m = Load({nameless, Lab(2)});
  SDROperationCtx ctx = Ctx({m[0]});
  EXPECT_FALSE(m_ctx->__OP(ctx, ZNDR::BATCH_OP_SHUTDOWN_SECONDARY, false));
  EXPECT_TRUE(LoggedError("VM name and GUID not available for [Shutdown]"));
  EXPECT_TRUE(m_hypervisor->Calls().empty());
  EXPECT_TRUE(PhaseRows().empty());
  ctx = Ctx({m[1]});
  EXPECT_TRUE(m_ctx->__OP(ctx, ZNDR::BATCH_OP_SHUTDOWN_SECONDARY, false));
  EXPECT_EQ(1u, m_hypervisor->Count(TMMsg::VM_OPERATION_SHUTDOWN));
}

TEST_F(VSAVMOpOptions, ARefreshAsksForTheDRVMsHostAndThenReadsItsInformation) {
  std::vector<CDRInfo*> m = Load({Lab(1)});
  std::string askedFor;
  CScopedHandler<std::string, VMInfoHandler> info(
      VmAuxOps::VMInfoHandlers(), VmAuxOps::kAnyVM, [&](const std::string& guid, QSMServer::QVirtualMachineReq& out) {
        askedFor = guid;
        out.SetString(QSMServer::QVirtualMachineReq::kIpAddress, "10.1.1.1");
        return 0;
      });
  SDROperationCtx ctx = Ctx(m);
  ASSERT_TRUE(m_ctx->__OP(ctx, ZNDR::BATCH_OP_REFRESH_VM_DESTINATION, false));
  const Ida::VMOpReq r = RequestOf(TMMsg::VM_OPERATION_REFRESH_VM);
  EXPECT_EQ(1, r.GetInt32(Ida::VMOpReq::kFlags));
  EXPECT_EQ(77, VM(r).GetInt64(Ida::VirtualMachine::kTargetId));
  EXPECT_EQ("esx-of-dr-vm", Placement(r).GetString(Ida::VMPlacement::kEsxHost));
  EXPECT_EQ("dst-guid-1", askedFor);
  EXPECT_EQ("10.1.1.1", Rec(m[0])->GetVMRefreshInfo().GetString(QSMServer::QVirtualMachineReq::kIpAddress));
}

TEST_F(VSAVMOpOptions, ARefreshWhoseInformationCannotBeReadKeepsAnEmptyOne) {
  std::vector<CDRInfo*> m = Load({Lab(1)});
  CScopedHandler<std::string, VMInfoHandler> info(VmAuxOps::VMInfoHandlers(), VmAuxOps::kAnyVM,
                                                  [](const std::string&, QSMServer::QVirtualMachineReq&) { return 5; });
  QSMServer::QVirtualMachineReq stale;
  stale.SetString(QSMServer::QVirtualMachineReq::kIpAddress, "stale");
  Rec(m[0])->SetVMRefreshInfo(stale);
  SDROperationCtx ctx = Ctx(m);
  ASSERT_TRUE(m_ctx->__OP(ctx, ZNDR::BATCH_OP_REFRESH_VM_DESTINATION, false));
  EXPECT_TRUE(LoggedError("RefreshVMInfo failed for VM [vm1-DR] [dst-guid-1]"));
  EXPECT_EQ("", Rec(m[0])->GetVMRefreshInfo().GetString(QSMServer::QVirtualMachineReq::kIpAddress));
}

}  // namespace
