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

void CVSAOperationLabFixture::AddPolicy(int id, const Ida::VMAllocationPolicy& policy) {
  std::string xml;
  ASSERT_TRUE(policy.serializeUTF8(xml));
  ASSERT_TRUE(CVmAllocationPolicyStore::AddPolicy(id, "target-" + std::to_string(id), xml));
}

Ida::VMAllocationPolicy CVSAOperationLabFixture::TestTarget(int hours, const std::string& testSize,
                                                            const std::string& testNetwork, const std::string& subnet) {
  Ida::VMAllocationPolicy policy;
  policy.MutableMsg(Ida::VMAllocationPolicy::kInstance).SetString(ZnEntities::PolicyInstanceFields::kRegion, "dc-b");
  policy.SetInt32(Ida::VMAllocationPolicy::kTestVMHours, hours);
  CNMessageBase& cloud = policy.MutableMsg(Ida::VMAllocationPolicy::kCloudOptions);
  cloud.AddMsg(Ida::CloudOptions::kOriginalInstanceTypes)
      .SetString(ZnEntities::AmazonVMInstanceTypeEntity::kInstanceTypeName, "Standard_B1s");
  cloud.AddMsg(Ida::CloudOptions::kTestFailoverInstanceTypes)
      .MutableMsg(Ida::InstanceTypeDetails::kInstanceType)
      .SetString(ZnEntities::AmazonVMInstanceTypeEntity::kInstanceTypeName, testSize);
  CNMessageBase& card = policy.AddMsg(Ida::VMAllocationPolicy::kTestNetworkCards);
  card.SetString(Ida::NetworkCard::kNetworkName, testNetwork);
  card.AddMsg(Ida::NetworkCard::kSubnets).SetString(Ida::SubnetInfo::kSubnet, subnet);
  policy.AddMsg(Ida::VMAllocationPolicy::kDestinationNics)
      .SetString(Ida::VMWAdvancedRestoreOptionsNic::kDestinationNetwork, "net-b");
  return policy;
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
