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
  SFaultCase c{"kill in post-replication", ThreeGroupsOfFour(), nullptr, Api::VIRTUAL_APP_PHASE_STATE_KILLED};
  c.plant = [](CFaultMatrix& m) { m.TriggerOn(106, 1, TMMsg::VM_OPERATION_POWER_ON); };
  Seed([&] {
    SVSALabSpec spec = c.lab;
    spec.operationClasses = true;
    return spec;
  }());
  c.plant(*this);
  const int32_t state = RunDR();
  // Machines that got through before the kill count; the others fail.
  const SCounts counts = Counts();
  EXPECT_EQ(counts.succeeded > 0 ? Api::VIRTUAL_APP_PHASE_STATE_COMPLETED_WITH_ERRORS
                                 : Api::VIRTUAL_APP_PHASE_STATE_KILLED,
            state);
  EXPECT_GT(counts.failed, 0);
  CheckEnd(state);
  for (const SVSALabVM& vm : VMs()) {
    const bool succeeded = Machine(vm.replicationId)->IsSuccess();
    EXPECT_EQ(succeeded ? App::VSA_FAILOVER_STATUS_FAILOVER_COMPLETE : App::VSA_FAILOVER_STATUS_FAILOVER_FAILED,
              StoredFailoverStatus(vm.replicationId))
        << vm.replicationId;
    EXPECT_NE(succeeded, SourceVM(vm.replicationId).poweredOn) << vm.replicationId;
  }
}

}  // namespace
