// Planned failovers whose subclient groups run at once and whose machines'
// post-replication runs on the DR thread pool: three groups of four VMs,
// left alone or killed while their DR VMs come up.
#include <vector>

#include <gtest/gtest.h>

#include "FaultMatrix.h"
#include "vm/HypervisorLab.h"

namespace {

SVSALabSpec ThreeGroupsOfFour() { return CFaultMatrix::Lab(TMMsg::DR_ORCHESTRATION_PLANNED_FAILOVER, 12, 3); }

class FailoverConcurrency : public CFaultMatrix {};

TEST_F(FailoverConcurrency, ThreeGroupsOfFourFailOverTogether) {
  RunCase(SFaultCase{"three groups", ThreeGroupsOfFour(), nullptr, Api::VIRTUAL_APP_PHASE_STATE_SUCCESS});
  for (const SVSALabVM& vm : VMs()) {
    EXPECT_EQ(App::VSA_FAILOVER_STATUS_FAILOVER_COMPLETE, StoredFailoverStatus(vm.replicationId));
    EXPECT_TRUE(DRVM(vm.replicationId).poweredOn);
  }
  EXPECT_EQ(3u, ChildJobs(EChildJobType::kBackup).size());
}

TEST_F(FailoverConcurrency, AKillWhileTheDRVMsComeUpLeavesEveryMachineFinal) {
  // The kill lands as one DR VM of the second group starts to power on,
  // while the other machines' post-replication threads run.
  SVSALabSpec spec = ThreeGroupsOfFour();
  spec.operationClasses = true;
  Seed(spec);
  TriggerOn(106, 1, TMMsg::VM_OPERATION_POWER_ON);
  CheckKilledRun(RunDR());
}

}  // namespace
