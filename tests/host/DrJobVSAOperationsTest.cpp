// The clean-up of destination VMs and the test failover as drjob runs them
// on the seeded lab, read back from the lab afterwards.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "JobTestSupport.h"
#include "appmgr/AppVMStore.h"
#include "msg/MsgEnums.h"
#include "appmgr/ClientProperties.h"
#include "appmgr/ClientStore.h"
#include "host/DrJobTestSupport.h"
#include "jobs/LabStore.h"
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
  // The replications the group names, priority by priority.
  static std::vector<std::vector<int>> GroupPriorities(int groupId) {
    std::vector<std::vector<int>> out;
    std::string xml;
    Api::VirtualApp app;
    EXPECT_TRUE(CLabStore::GetDRGroup(groupId, xml) && app.Unserialize(xml)) << xml;
    const CNMessageBase& config = app.GetMsg(Api::VirtualApp::kConfig);
    for (size_t p = 0; p < config.ListSize(TMMsg::DRGroupConfigFields::kPriorities); ++p) {
      const CNMessageBase& priority = config.GetListMsg(TMMsg::DRGroupConfigFields::kPriorities, p);
      out.emplace_back();
      for (size_t e = 0; e < priority.ListSize(TMMsg::VMGroup::kVMSequence); ++e) {
        out.back().push_back(static_cast<int>(priority.GetListMsg(TMMsg::VMGroup::kVMSequence, e)
                                                  .GetInt64(TMMsg::VMDependencyOrder::kReplicationId)));
      }
    }
    return out;
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

// A clean-up removes what it finished from the group with the records: a new
// clean-up takes over what one that completed with errors left, and a group
// it empties takes no job at all. The group is named "4", the id of
// another group: the printed command names it so that it runs on this one.
TEST_F(E2EDrJobVSAOperations, ACleanupThatCompletedWithErrorsIsFinishedByANewOneThatEmptiesTheGroup) {
  ASSERT_EQ(0, drtest::RunShell("sqlite3 " + m_db + " \"UPDATE PLT_DRGroups SET name='4' WHERE id=1\"").code);
  SLabFault once;  // the first delete of app-server-DR only
  once.opType = TMMsg::VM_OPERATION_DELETE;
  once.vm = "app-server-DR";
  once.code = 7001;
  once.text = "x";
  ASSERT_TRUE(CHypervisorLab::AddFault(once));
  const std::string cleanup = "run --db " + m_db + " --group 1 --type cleanup-destination-vm "
                              "--delete-from-hypervisor --job-id ";
  const SResult first = Host(cleanup + "500");
  ASSERT_EQ(8, first.code) << first.output;
  EXPECT_TRUE(Has(first, "machine [app-server] (replication 201): failed in phase [Delete Operation]: x; now:"))
      << first.output;
  EXPECT_FALSE(IsStored(101));
  EXPECT_FALSE(IsStored(102));
  EXPECT_TRUE(IsStored(201));
  EXPECT_TRUE(VMExists(4, "dst-201"));
  // Priority 1 went with its two machines; priority 2 keeps app-server.
  EXPECT_EQ((std::vector<std::vector<int>>{{201}}), GroupPriorities(1));
  EXPECT_EQ((std::vector<std::vector<int>>{{401, 402}}), GroupPriorities(4));

  // The next step as drjob printed it, options and all.
  std::vector<std::string> told;
  const std::vector<std::string> commands = drtest::PrintedCommands(first.output, &told);
  ASSERT_EQ(1u, commands.size()) << first.output;
  EXPECT_NE(std::string::npos, told.front().find("a new DR job on DR group [4] (1) takes app-server (201):"))
      << first.output;
  const std::string next = commands.front().substr(6);
  EXPECT_NE(std::string::npos, next.find(" --group 1 --type cleanup-destination-vm --delete-from-hypervisor")) << next;
  const SResult second = Host(next + " --job-id 501");
  ASSERT_EQ(0, second.code) << second.output;
  EXPECT_TRUE(Has(second, "drjob: DR job [501] machine [app-server] (replication 201): succeeded\n")) << second.output;
  EXPECT_FALSE(IsStored(201));
  EXPECT_FALSE(VMExists(4, "dst-201"));
  EXPECT_TRUE(VMExists(3, "src-201"));
  EXPECT_TRUE(GroupPriorities(1).empty());
  // Group 4 (SampleTest) is not this job's.
  EXPECT_EQ((std::vector<std::vector<int>>{{401, 402}}), GroupPriorities(4));
  for (int id : {401, 402}) {
    EXPECT_TRUE(IsStored(id)) << id;
    EXPECT_TRUE(VMExists(kCloudSite, "dst-" + std::to_string(id))) << id;
  }

  // A new job on the emptied group is one line, before anything is written.
  const size_t jobs = drtest::AllJobs().size();
  const SResult refused = Host("run --db " + m_db + " --group 1 --type planned-failover --job-id 502");
  EXPECT_EQ(5, refused.code);
  EXPECT_EQ("drjob: DR group [4] (id 1) names no replication (a clean-up takes those it removes out of their "
            "group), so a DR job on it has no machine to run; nothing was changed\n",
            refused.output);
  EXPECT_EQ(jobs, drtest::AllJobs().size());
  // The job that completed with errors stays completed.
  EXPECT_EQ(14, Host("run --db " + m_db + " --job-id 500").code);
}

}  // namespace
