// The VM DR steps run as the host runs a DR job: two subclient groups of a
// priority back up, replicate and take failover snapshots, each machine that
// went through is marked successful, and the job ends with the machines'
// report lines and its final state.
#include <string>
#include <vector>

#include "tasksim/VMStatusStore.h"
#include "vsa/VSALabFixture.h"
#include "vsa/VSARepInfo.h"

namespace {

using namespace vsasteps;

class E2EVSASteps : public CVSALabFixture {};

TEST_F(E2EVSASteps, ABackedUpAndReplicatedGroupEndsSuccessfulWithItsReport) {
  SVSALabSpec spec;
  spec.replications = 4;
  spec.subclientGroups = 2;
  Seed(spec);
  ASSERT_TRUE(CVMStatusStore::SetVMFails(104, "disk locked"));
  for (const SVSALabVM& vm : VMs()) {
    ASSERT_EQ(EStoreResult::kOk, CHypervisorLab::BumpContent(kSourceInstance, vm.sourceGuid));
  }
  const int32_t state = RunJob({Backup(), KeepSucceeded(), Replicate(), TakeOutputList(), CreateFailoverSnapshots(),
                                Do("success", [](CVSAStepTestContext& c, SDROperationCtx& ctx) {
                                  for (CDRInfo* info : ctx.drInfoList) c.MarkSuccess(info, Api::DR_SITE_DESTINATION);
                                  return true;
                                })});
  // One machine failed its backup: the job did not succeed for all.
  EXPECT_NE(Api::VIRTUAL_APP_PHASE_STATE_SUCCESS, state);
  for (int id : {101, 102, 103}) {
    SCOPED_TRACE(id);
    EXPECT_TRUE(Machine(id)->IsSuccess());
    EXPECT_EQ(SourceVM(id).content, DRVM(id).content);
    EXPECT_FALSE(StoredProperty(id, VSARepInfo::kPropDestSnapMoref).empty());
    EXPECT_NE(std::string::npos, Machine(id)->GetReportMsg().find("Status: [PASS]"));
  }
  EXPECT_FALSE(Machine(104)->IsSuccess());
  EXPECT_EQ(Api::VIRTUAL_APP_PHASE_STATE_FAILED, RowOf(104, Api::VIRTUAL_APP_PHASE_BACKUP).status);
  EXPECT_EQ(-1, RowOf(104, Api::VIRTUAL_APP_PHASE_REPLICATION).status);
  EXPECT_EQ(
      "Virtual Machine Name: [vm-104-DR] Virtual Machine Hostname: [N/A] Virtual machine IP Address: [N/A] "
      "Status: [FAIL]",
      Machine(104)->GetReportMsg());
  EXPECT_NE(SourceVM(104).content, DRVM(104).content);
  CVMStatusStore::ClearFaults();
}

}  // namespace
