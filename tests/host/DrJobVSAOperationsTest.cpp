// The clean-up of destination VMs and the test failover as drjob runs them
// on the seeded lab, read back from the lab afterwards.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "appmgr/AppVMStore.h"
#include "msg/MsgEnums.h"
#include "appmgr/ClientProperties.h"
#include "appmgr/ClientStore.h"
#include "host/DrJobTestSupport.h"
#include "repl/ReplicationStore.h"
#include "vm/HypervisorLab.h"

namespace {

using drtest::Has;
using drtest::SResult;

const long long kCloudSite = 5;

class E2EDrJobVSAOperations : public drtest::CDrJobLabTest {
 protected:
  static bool IsStored(int replicationId) {
    App::VSAReplicationInfo info;
    return CReplicationStore::Get(replicationId, info);
  }
  static bool VMExists(long long instanceId, const std::string& guid) {
    SLabVM vm;
    return CHypervisorLab::GetVM(instanceId, guid, vm) == EStoreResult::kOk;
  }
  static std::vector<SLabVM> VMsNamed(long long instanceId, const std::string& prefix) {
    std::vector<SLabVM> all, out;
    EXPECT_EQ(EStoreResult::kOk, CHypervisorLab::VMs(instanceId, all));
    for (const SLabVM& vm : all) {
      if (vm.name.compare(0, prefix.size(), prefix) == 0) out.push_back(vm);
    }
    return out;
  }
};

TEST_F(E2EDrJobVSAOperations, TestFailoverBootsOneRecordedCloneOfEachDRVM) {
  const SResult run = Host("run --db " + m_db + " --group SampleTest --type test-failover --job-id 81");
  ASSERT_EQ(0, run.code) << run.output;
  EXPECT_TRUE(Has(run, "drjob: DR job [81] finished with state [0]")) << run.output;

  for (const char* dr : {"web-front-DR", "web-cache-DR"}) {
    SCOPED_TRACE(dr);
    const std::vector<SLabVM> clones = VMsNamed(kCloudSite, std::string(dr) + "-Clone-");
    ASSERT_EQ(1u, clones.size());
    const SLabVM& clone = clones.front();
    EXPECT_TRUE(clone.poweredOn);
    EXPECT_EQ("m5.test", clone.size);
    int testAdapters = 0;
    for (const SLabNic& nic : clone.nics) testAdapters += nic.network == "test-net-c" ? 1 : 0;
    EXPECT_EQ(1, testAdapters);
    EXPECT_EQ(std::string(dr) + "-Clone-", clone.name.substr(0, std::string(dr).size() + 7));
    EXPECT_NE(std::string::npos, clone.name.find("-81"));
    SClientRecord client;
    ASSERT_EQ(EStoreResult::kOk, CClientStore::FindByName(clone.name, client));
    std::string value;
    ASSERT_EQ(0, ClientProperties(client.id).getAttribute(ZN_PROP_IS_TEST_DR_MACHINE, value));
    EXPECT_EQ("1", value);
    ASSERT_EQ(0, ClientProperties(client.id).getAttribute(ZN_PROP_VM_OWNER_USER_ID, value));
    EXPECT_EQ("2", value);
    SAppVMRecord row;
    ASSERT_EQ(EStoreResult::kOk, CAppVMStore::FindByClient(client.id, row));
    EXPECT_EQ(302, row.allocationPolicyId);
  }
  for (int id : {401, 402}) {
    SLabVM dr;
    ASSERT_EQ(EStoreResult::kOk, CHypervisorLab::GetVM(kCloudSite, "dst-" + std::to_string(id), dr));
    EXPECT_FALSE(dr.poweredOn);
    App::VSAReplicationInfo info;
    ASSERT_TRUE(CReplicationStore::Get(id, info));
    EXPECT_EQ(App::VSA_REPL_STATUS_IN_SYNC, info.GetInt32(App::VSAReplicationInfo::kSyncStatus));
    EXPECT_EQ(App::VSA_FAILOVER_STATUS_NONE, info.GetInt32(App::VSAReplicationInfo::kFailoverStatus));
  }
}

TEST_F(E2EDrJobVSAOperations, CleanupOfDestinationVMsRemovesTheGroupsReplications) {
  // Without the setting the DR VMs stay.
  SResult run = Host("run --db " + m_db + " --group SampleTest --type cleanup-destination-vm");
  ASSERT_EQ(0, run.code) << run.output;
  for (int id : {401, 402}) {
    EXPECT_FALSE(IsStored(id)) << id;
    EXPECT_TRUE(VMExists(kCloudSite, "dst-" + std::to_string(id))) << id;
  }
  // With it they go too; the other group keeps its replications.
  run = Host("run --db " + m_db + " --group Sample --type cleanup-destination-vm --delete-from-hypervisor");
  ASSERT_EQ(0, run.code) << run.output;
  for (int id : {101, 102, 201}) {
    EXPECT_FALSE(IsStored(id)) << id;
    EXPECT_FALSE(VMExists(4, "dst-" + std::to_string(id))) << id;
    EXPECT_TRUE(VMExists(3, "src-" + std::to_string(id))) << id;
  }

  const SResult refused = Host("run --db " + m_db + " --group Sample --type test-failover --delete-from-hypervisor");
  EXPECT_EQ(2, refused.code);
  EXPECT_TRUE(Has(refused, "--delete-from-hypervisor goes only with --type cleanup-destination-vm")) << refused.output;
}

}  // namespace
