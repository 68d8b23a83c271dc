#include "VSAOperationLabFixture.h"

#include "appmgr/VmAllocationPolicyStore.h"
#include "drorch/DRInitParams.h"
#include "log/EvEvent.h"
#include "services/DRAppManager.h"

void CVSAOperationLabFixture::SeedForOperations(const SVSALabSpec& spec) {
  Seed(spec);
  if (HasFatalFailure()) return;
  UseDispatcher();
}

void CVSAOperationLabFixture::RestartForOperations() {
  Restart();
  if (HasFatalFailure()) return;
  UseDispatcher();
}

TMMsg::DROrchestrationOption& CVSAOperationLabFixture::DROptions() {
  TMMsg::DROrchestrationOption* options = m_dr->GetDRAppMgr()->GetDROrchestrationOption();
  EXPECT_NE(nullptr, options);
  static TMMsg::DROrchestrationOption none;
  return options != nullptr ? *options : none;
}

void CVSAOperationLabFixture::AddRecoveryTarget(int id, int hours, const std::string& testSize,
                                                const std::string& testNetwork, const std::string& subnet) {
  SRecoveryTarget target;
  target.region = "dc-b";
  target.testVMHours = hours;
  target.vmSize = "Standard_B1s";
  target.testVMSize = testSize;
  target.testNetwork = testNetwork;
  target.testSubnet = subnet;
  target.destinationNetwork = "net-b";
  ASSERT_TRUE(CVmAllocationPolicyStore::AddRecoveryTarget(id, "target-" + std::to_string(id), target));
}

std::vector<SLabVM> CVSAOperationLabFixture::DestinationVMsNamed(const std::string& prefix) {
  std::vector<SLabVM> all, out;
  EXPECT_EQ(EStoreResult::kOk, CHypervisorLab::VMs(kDestInstance, all));
  for (const SLabVM& vm : all) {
    if (vm.name.compare(0, prefix.size(), prefix) == 0) out.push_back(vm);
  }
  return out;
}

std::string CVSAOperationLabFixture::CloneName(const SVSALabVM& vm) {
  return vm.destName + "-Clone-" + std::to_string(EvEvent::getProcessId()) + "-" + std::to_string(kJob);
}

void CVSAOperationLabFixture::UseDispatcher() {
  m_context.reset();
  m_dr.reset(new CGenericDR(m_spec.drType));
  DRInitParams params{m_jm.get()};
  ASSERT_TRUE(m_dr->Initialize(params));
}
