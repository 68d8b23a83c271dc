// The hypervisor lab's seeding (CHypervisorLabSeed): a lab stored whole and
// stored again, the sample's replications and where they lead, a lab that
// does not hold together, a replication without a DR VM yet, and the
// addresses of labs as large as the benchmarks'.
#include <stdio.h>

#include <set>
#include <string>
#include <vector>

#include "Db/DbTestSupport.h"
#include "jobs/TaskStore.h"
#include "repl/ReplicationStore.h"
#include "sim/Simulators.h"
#include "vm/HypervisorLab.h"
#include "vm/HypervisorLabSeed.h"

namespace {

class HypervisorLabSeed : public CDbTestBase {
 protected:
  void SetUp() override {
    CDbTestBase::SetUp();
    std::string error;
    ASSERT_TRUE(CSimulators::CreateTables(error)) << error;
  }

  static std::vector<std::string> SnapshotNames(long long instance, const std::string& guid) {
    std::vector<SLabSnapshot> snaps;
    EXPECT_EQ(EStoreResult::kOk, CHypervisorLab::Snapshots(instance, guid, snaps));
    std::vector<std::string> names;
    for (const SLabSnapshot& s : snaps) names.push_back(s.name);
    return names;
  }
};

TEST_F(HypervisorLabSeed, TheSampleStoredTwiceIsTheSameLabWithoutASecondSetOfSnapshots) {
  const SSeedVMLab sample = CHypervisorLabSeed::Sample();
  std::string error;
  ASSERT_TRUE(CHypervisorLabSeed::AddLab(sample, error)) << error;
  std::vector<SLabVM> first;
  ASSERT_EQ(EStoreResult::kOk, CHypervisorLab::VMs(0, first));
  ASSERT_TRUE(CHypervisorLabSeed::AddLab(sample, error)) << error;

  std::vector<SLabVM> again;
  ASSERT_EQ(EStoreResult::kOk, CHypervisorLab::VMs(0, again));
  ASSERT_EQ(2 * sample.replications.size(), again.size());
  ASSERT_EQ(first.size(), again.size());
  for (size_t i = 0; i < first.size(); ++i) {
    EXPECT_EQ(first[i].guid, again[i].guid);
    EXPECT_EQ(first[i].ip, again[i].ip);
  }
  // Each DR VM as the last sync left it: the backup snapshot and the
  // point-in-time ones, once.
  EXPECT_EQ((std::vector<std::string>{CHypervisorLab::kBackupSnapshotName, "db-primary-DR_1767225600",
                                      "db-primary-DR_1767229200"}),
            SnapshotNames(CHypervisorLabSeed::kSampleDestinationInstanceId, "dst-101"));
  std::vector<SLabInstance> sites;
  ASSERT_EQ(EStoreResult::kOk, CHypervisorLab::Instances(sites));
  EXPECT_EQ(3u, sites.size());
  std::vector<SLabProxy> proxies;
  ASSERT_EQ(EStoreResult::kOk, CHypervisorLab::Proxies(proxies));
  EXPECT_EQ(5u, proxies.size());
}

TEST_F(HypervisorLabSeed, TheSampleReplicationsReachTheirDRVMsThroughTheirDestinationsFirstProxy) {
  std::string error;
  ASSERT_TRUE(CHypervisorLabSeed::AddLab(CHypervisorLabSeed::Sample(), error)) << error;
  using Repl = App::VSAReplicationInfo;
  const struct {
    int id;
    long long instance;
    long long proxy;
    int vendor;
    int disks;
    int target;
  } expected[] = {{101, 4, 41, 1, 2, 301}, {201, 4, 41, 1, 1, 301}, {402, 5, 51, 4, 1, 302}};
  for (const auto& e : expected) {
    SCOPED_TRACE(e.id);
    Repl info;
    ASSERT_TRUE(CReplicationStore::Get(e.id, info));
    EXPECT_EQ(e.instance, info.GetMsg(Repl::kDestinationInstance).GetInt32(ZnEntities::InstanceEntity::kInstanceId));
    EXPECT_EQ(e.proxy, info.GetMsg(Repl::kDestinationProxy).GetInt64(ZnEntities::ClientEntity::kClientId));
    EXPECT_EQ(e.vendor, info.GetInt32(Repl::kDestinationVendor));
    EXPECT_EQ(1, info.GetInt32(Repl::kSourceVendor));
    EXPECT_EQ(static_cast<size_t>(e.disks), info.ListSize(Repl::kTrackingIds));
    EXPECT_EQ(e.target, info.GetMsg(Repl::kReplicationTarget).GetInt32(ZnEntities::ReplicationTargetEntity::kTargetId));
    // The DR VM the record names is where the record says, with the disks.
    SLabVM dr;
    ASSERT_EQ(EStoreResult::kOk, CHypervisorLab::GetVM(e.instance, info.GetString(Repl::kDestinationVMGuid), dr));
    EXPECT_EQ(info.GetString(Repl::kDestinationVMName), dr.name);
    EXPECT_EQ(e.disks, dr.diskCount);
  }
}

TEST_F(HypervisorLabSeed, ALabThatDoesNotHoldTogetherIsRefusedBeforeAnythingIsStored) {
  SSeedVMLab lab;
  lab.sites = {CHypervisorLabSeed::SampleSourceSite()};
  SSeedVMTask task;
  task.taskId = 11;
  task.placedReplicationIds = {101};
  lab.tasks = {task};
  lab.storagePolicies = {SSeedVMStoragePolicy{5, {21}}};
  lab.replications = {CHypervisorLabSeed::SampleReplication(CHypervisorLabSeed::kSampleVMs[0], 21, 11,
                                                            CHypervisorLabSeed::kSampleDestinationInstanceId, 301)};
  std::string error;
  EXPECT_FALSE(CHypervisorLabSeed::AddLab(lab, error));
  EXPECT_EQ("replication [101] names instances [3] and [4]: the lab has not both sites, with a proxy at the "
            "destination",
            error);
  // A destination without a proxy cannot be reached.
  SSeedVMSite unreachable = CHypervisorLabSeed::SampleDestinationSite();
  unreachable.proxies.clear();
  lab.sites.push_back(unreachable);
  EXPECT_FALSE(CHypervisorLabSeed::AddLab(lab, error));
  // A task placing a replication the lab has not.
  lab.sites.back() = CHypervisorLabSeed::SampleDestinationSite();
  lab.tasks[0].placedReplicationIds = {101, 102};
  EXPECT_FALSE(CHypervisorLabSeed::AddLab(lab, error));
  EXPECT_EQ("replication task [11] places replication [102], which the lab has not", error);

  std::string xml;
  EXPECT_FALSE(CTaskStore::GetTask(11, xml));
  App::VSAReplicationInfo info;
  EXPECT_FALSE(CReplicationStore::Get(101, info));
  std::vector<SLabInstance> sites;
  ASSERT_EQ(EStoreResult::kOk, CHypervisorLab::Instances(sites));
  EXPECT_TRUE(sites.empty());
}

TEST_F(HypervisorLabSeed, AReplicationWithoutADRVMHasNoneInTheLabTheReplicaOrTheRecord) {
  SSeedVMLab lab;
  lab.sites = {CHypervisorLabSeed::SampleSourceSite(), CHypervisorLabSeed::SampleDestinationSite()};
  SSeedVMReplication r = CHypervisorLabSeed::SampleReplication(CHypervisorLabSeed::kSampleVMs[1], 21, 11,
                                                               CHypervisorLabSeed::kSampleDestinationInstanceId, 301);
  r.drVM = false;
  lab.replications = {r};
  std::string error;
  ASSERT_TRUE(CHypervisorLabSeed::AddLab(lab, error)) << error;
  std::vector<SLabVM> dr;
  ASSERT_EQ(EStoreResult::kOk, CHypervisorLab::VMs(CHypervisorLabSeed::kSampleDestinationInstanceId, dr));
  EXPECT_TRUE(dr.empty());
  SLabReplica replica;
  ASSERT_EQ(EStoreResult::kOk, CHypervisorLab::GetReplica(102, replica));
  EXPECT_EQ("", replica.destGuid);
  EXPECT_EQ("db-replica-DR", replica.destName);
  EXPECT_EQ(-1, replica.syncedContent);
  App::VSAReplicationInfo info;
  ASSERT_TRUE(CReplicationStore::Get(102, info));
  EXPECT_EQ("", info.GetString(App::VSAReplicationInfo::kDestinationVMGuid));
}

TEST_F(HypervisorLabSeed, EveryVMOfALabOfThousandsHasAnAddressOfItsOwnOnItsSite) {
  const SSeedVMSite site = CHypervisorLabSeed::SampleDestinationSite();
  EXPECT_EQ("10.2.0.11", CHypervisorLabSeed::VM(site, "g", "n", 1).ip);
  std::set<std::string> seen;
  for (int n = 1; n <= 6000; ++n) {
    const std::string ip = CHypervisorLabSeed::VM(site, "g", "n", n).ip;
    ASSERT_TRUE(seen.insert(ip).second) << ip;
    int a = 0, b = 0, c = 0, d = 0;
    char tail = 0;
    ASSERT_EQ(4, sscanf(ip.c_str(), "%d.%d.%d.%d%c", &a, &b, &c, &d, &tail)) << ip;
    ASSERT_TRUE(a == 10 && b == 2 && c >= 0 && c < 256 && d > 0 && d < 255) << ip;
  }
}

}  // namespace
