// The replication step and the DR VM actions of the VM DR context on the
// lab.
#include <algorithm>
#include <string>
#include <vector>

#include "Phases.h"
#include "VSALabFixture.h"
#include "vsa/VSARepInfo.h"

namespace {

using namespace vsasteps;

using drtest::kReplicationPhase;
using drtest::kSuccess;

class VSAFailoverSteps : public CVSALabFixture {
 protected:
  CVSAStepTestContext& C() { return m_context ? *m_context : NewContext({}); }
};

TEST_F(VSAFailoverSteps, TheReplicationStepTakesTheClassSwitchesOfReplicationAndTheSyncList) {
  Seed();
  // 102 reads from a storage copy its aux copy never reached.
  Change(102, [](App::VSAReplicationInfo& r) { r.SetInt32(App::VSAReplicationInfo::kCopyPrecedenceApplicable, 1); });
  Reload();
  std::vector<int> configuredFor;
  C().operationConfig = [&configuredFor](SDROperationCtx& ctx) {
    configuredFor.push_back(ctx.phase);
    // The class table of this test writes no rows for a replication.
    if (ctx.phase == Api::VIRTUAL_APP_PHASE_REPLICATION) ctx.updatePhaseInfoTbl = false;
  };
  int preparedSite = -1;
  C().preReplication = [&preparedSite](SDROperationCtx& ctx) { preparedSite = ctx.site; };
  SDROSubclient group(1, kFirstSubclient);
  SDROperationCtx ctx = Ctx();
  ctx.subclient = &group;
  EXPECT_TRUE(C().ReplicateVMs(ctx, Api::DR_SITE_SOURCE, true));
  EXPECT_EQ((std::vector<int>{kReplicationPhase}), configuredFor);
  EXPECT_EQ(Api::DR_SITE_SOURCE, preparedSite);
  EXPECT_TRUE(RowsOfPhase(kReplicationPhase).empty());
  EXPECT_EQ("101,103", DRInfoUtils::GetReplStr(group.outputList));

  // Without the sync list every machine replicates.
  C().operationConfig = nullptr;
  SDROSubclient all(1, kFirstSubclient);
  ctx = Ctx();
  ctx.subclient = &all;
  EXPECT_TRUE(C().ReplicateVMs(ctx, Api::DR_SITE_SOURCE, false));
  EXPECT_EQ("101,102,103", DRInfoUtils::GetReplStr(all.outputList));
  for (int id : {101, 102, 103}) EXPECT_EQ(kSuccess, RowOf(id, kReplicationPhase).status) << id;
}

// A DR VM action and the task options it depends on.
struct SActionCase {
  const char* name;
  bool deployAtFailover;
  bool firstTimeSync;
  bool drVMs;
  Api::VirtualAppJobPhaseType phase;
  int labOp;  // the VM operation sent; -1 none
};

void PrintTo(const SActionCase& c, std::ostream* out) { *out << c.name; }

class VSADRVMAction : public VSAFailoverSteps, public testing::WithParamInterface<SActionCase> {};

TEST_P(VSADRVMAction, RunsOnlyWhereTheTaskAsksForIt) {
  const SActionCase& c = GetParam();
  SVSALabSpec spec;
  spec.deployAtFailover = c.deployAtFailover;
  spec.firstTimeSyncDuringFailover = c.firstTimeSync;
  spec.drVMs = c.drVMs;
  Seed(spec);
  SDROperationCtx ctx = Ctx({101});
  EXPECT_TRUE(C().DRVMAction(ctx, c.phase, false));
  const std::vector<SLabCall> calls = LabCalls();
  if (c.labOp < 0) {
    EXPECT_TRUE(calls.empty());
    return;
  }
  ASSERT_EQ(1u, calls.size());
  EXPECT_EQ(c.labOp, calls[0].opType);
  EXPECT_EQ(Api::DR_SITE_DESTINATION, ctx.site);
  VSARepInfo* record = DRInfoUtils::GetVSARepInfo(Machine(101));
  SLabVM vm;
  if (c.phase == Api::VIRTUAL_APP_PHASE_CREATE_DR_VIRTUAL_MACHINE) {
    // The created DR VM is the record's now.
    ASSERT_FALSE(record->GetDestinationGuid().empty());
    EXPECT_EQ(EStoreResult::kOk, CHypervisorLab::GetVM(kDestInstance, record->GetDestinationGuid(), vm));
    EXPECT_EQ("vm-101-DR", vm.name);
    EXPECT_TRUE(Logged("DR VM [vm-101-DR] GUID [" + record->GetDestinationGuid() +
                       "] [Create DR Virtual Machine] successful "));
  } else {
    EXPECT_EQ(EStoreResult::kMissing, CHypervisorLab::GetVM(kDestInstance, "dst-101", vm));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, VSADRVMAction,
    testing::Values(
        SActionCase{"CreateDeployed", true, false, false, Api::VIRTUAL_APP_PHASE_CREATE_DR_VIRTUAL_MACHINE, 50},
        SActionCase{"CreateNotDeployed", false, false, false, Api::VIRTUAL_APP_PHASE_CREATE_DR_VIRTUAL_MACHINE, -1},
        SActionCase{"CreateForAFirstTimeSync", false, true, false, Api::VIRTUAL_APP_PHASE_CREATE_DR_VIRTUAL_MACHINE,
                    -1},
        SActionCase{"DeleteDeployed", true, false, true, Api::VIRTUAL_APP_PHASE_DELETE_DR_VIRTUAL_MACHINE, 57},
        SActionCase{"DeleteNotDeployed", false, false, true, Api::VIRTUAL_APP_PHASE_DELETE_DR_VIRTUAL_MACHINE, -1},
        SActionCase{"DeleteForAFirstTimeSync", false, true, true, Api::VIRTUAL_APP_PHASE_DELETE_DR_VIRTUAL_MACHINE,
                    57}),
    [](const testing::TestParamInfo<SActionCase>& info) { return info.param.name; });

TEST_F(VSAFailoverSteps, AFailedDRVMActionNamesTheVM) {
  SVSALabSpec spec;
  spec.deployAtFailover = true;
  spec.drVMs = false;
  Seed(spec);
  SLabFault fault;
  fault.opType = TMMsg::VM_OPERATION_CREATE_DR_VM;
  fault.code = 7100;
  fault.text = "no room";
  ASSERT_TRUE(CHypervisorLab::AddFault(fault));
  SDROperationCtx ctx = Ctx({101});
  EXPECT_FALSE(C().DRVMAction(ctx, Api::VIRTUAL_APP_PHASE_CREATE_DR_VIRTUAL_MACHINE, false));
  EXPECT_TRUE(Logged("DR VM [vm-101] with GUID [src-101] [Create DR Virtual Machine] failed "));
  EXPECT_EQ(Api::VIRTUAL_APP_PHASE_STATE_FAILED, RowOf(101, Api::VIRTUAL_APP_PHASE_CREATE_DR_VIRTUAL_MACHINE).status);
}

}  // namespace
