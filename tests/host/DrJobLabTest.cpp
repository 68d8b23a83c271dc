// drjob lab: the seeded hypervisor lab matches the sample replications, and
// another process takes its sites and proxies down and up and releases hung
// operations while this one calls it.
#include <iterator>

#include "JobSimTestSupport.h"
#include "TestThread.h"
#include "appmgr/AppVMStore.h"
#include "host/DrJobTestSupport.h"
#include "host/SeedArrays.h"
#include "host/SeedReplications.h"
#include "repl/ReplicationStore.h"
#include "vm/HypervisorLab.h"
#include "vm/VmOperation.h"

namespace drtest {
namespace {

int Call(int op, long long instance, const std::string& guid, int seconds = 1800) {
  TMMsg::VMProvisioningOption option;
  option.SetInt32(TMMsg::VMProvisioningOption::kOperationType, op);
  Ida::VMOpReq request;
  request.MutableMsg(Ida::VMOpReq::kInstance).SetInt64(ZnEntities::PolicyInstanceFields::kInstanceId, instance);
  request.MutableMsg(Ida::VMOpReq::kVirtualMachine)
      .MutableMsg(Ida::VirtualMachine::kEntity)
      .SetString(ZnEntities::VirtualMachineEntity::kGuid, guid);
  Ida::VMOpResp response;
  return VmOperation::PerformRemoteVMOperation(option, request, response, seconds, true);
}

class E2EDrJobHypervisorLab : public CDrJobLabTest {};

TEST_F(E2EDrJobHypervisorLab, ShowMatchesTheSampleReplications) {
  const SResult show = Host("lab --db " + m_db);
  ASSERT_EQ(0, show.code) << show.output;
  const auto replicas = LabSection(show.output, "replicas");
  const auto vms = LabSection(show.output, "VMs");
  const auto proxies = LabSection(show.output, "proxies");
  ASSERT_EQ(5u, replicas.size()) << show.output;
  for (int id : {101, 102, 201, 401, 402}) {
    App::VSAReplicationInfo info;
    ASSERT_TRUE(CReplicationStore::Get(id, info));
    using Repl = App::VSAReplicationInfo;
    const std::string source = std::to_string(info.GetMsg(Repl::kSubclient).GetInt32(ZnEntities::SubClientEntity::kInstanceId)) +
                               ":" + info.GetString(Repl::kSourceVMGuid);
    const std::string destinationInstance =
        std::to_string(info.GetMsg(Repl::kDestinationInstance).GetInt32(ZnEntities::InstanceEntity::kInstanceId));
    const std::string destination = destinationInstance + ":" + info.GetString(Repl::kDestinationVMGuid);
    bool found = false;
    for (const auto& r : replicas) {
      if (r[0] != std::to_string(id)) continue;
      found = true;
      EXPECT_EQ(source, r[1]);
      EXPECT_EQ(destination, r[2]);
    }
    EXPECT_TRUE(found) << "replica " << id;
    // The source VM runs with an address; the DR VM is off with its backup
    // snapshot and two point-in-time snapshots.
    for (const auto& vm : vms) {
      if (vm[0] + ":" + vm[1] == source) {
        EXPECT_EQ(info.GetString(Repl::kSourceVMName), vm[2]);
        EXPECT_EQ("on", vm[3]);
        EXPECT_NE("-", vm[5]);
      }
      if (vm[0] + ":" + vm[1] == destination) {
        EXPECT_EQ(info.GetString(Repl::kDestinationVMName), vm[2]);
        EXPECT_EQ("off", vm[3]);
        const std::string name = info.GetString(Repl::kDestinationVMName);
        EXPECT_EQ("__OB_BACKUP__," + name + "_1767225600," + name + "_1767229200", vm[7]);
      }
    }
    // The replication's proxy serves its destination.
    const std::string proxy =
        std::to_string(info.GetMsg(Repl::kDestinationProxy).GetInt64(ZnEntities::ClientEntity::kClientId));
    bool serves = false;
    for (const auto& p : proxies) serves = serves || (p[0] == proxy && p[3] == destinationInstance);
    EXPECT_TRUE(serves) << "proxy " << proxy;
    // The test-failover group's replications restore through a recovery
    // target of their own.
    EXPECT_EQ(id > 400 ? "302" : "301",
              std::to_string(info.GetMsg(Repl::kReplicationTarget).GetInt32(ZnEntities::ReplicationTargetEntity::kTargetId)));
    EXPECT_EQ(id == 101 ? 2u : 1u, info.ListSize(Repl::kTrackingIds));
  }
  // Each VM replication's (sample and test group) source and DR VM, and each storage-array VM's source.
  EXPECT_EQ(2 * (std::size(kSampleVMs) + std::size(kSampleTestVMs)) + std::size(kSampleArrayVMs), vms.size());

  // Seeding again replaces the lab with the same lab, not a second one.
  ASSERT_EQ(0, Host("seed --replace --db " + m_db).code);
  EXPECT_EQ(show.output, Host("lab show --db " + m_db).output);
  SAppVMRecord row;
  ASSERT_EQ(EStoreResult::kOk, CAppVMStore::FindByClient(1101, row));
  EXPECT_EQ("src-101", row.guid);
}

TEST_F(E2EDrJobHypervisorLab, AnotherProcessTakesSitesAndProxiesDownAndUp) {
  ASSERT_EQ(0, Call(16, 4, "dst-101"));
  SResult r = Host("lab --db " + m_db + " down site-b");
  ASSERT_EQ(0, r.code) << r.output;
  EXPECT_TRUE(Has(r, "drjob: [site-b] is down"));
  EXPECT_EQ(kLabSiteDown, Call(16, 4, "dst-101"));
  EXPECT_EQ(0, Call(16, 3, "src-101")) << "the other site is up";
  ASSERT_EQ(0, Host("lab --db " + m_db + " up site-b").code);
  EXPECT_EQ(0, Call(16, 4, "dst-101"));

  ASSERT_EQ(0, Host("lab --db " + m_db + " down proxy-b1").code);
  ASSERT_EQ(0, Host("lab --db " + m_db + " down proxy-b2").code);
  EXPECT_EQ(VmOperation::kProxyConnectionFailure, Call(16, 4, "dst-101"));
  ASSERT_EQ(0, Host("lab --db " + m_db + " up proxy-b2").code);
  EXPECT_EQ(0, Call(16, 4, "dst-101"));

  EXPECT_EQ(5, Host("lab --db " + m_db + " down nowhere").code);
  EXPECT_EQ(2, Host("lab --db " + m_db + " down").code);
  EXPECT_EQ(2, Host("lab --db " + m_db + " sideways").code);
}

TEST_F(E2EDrJobHypervisorLab, WriteBumpsARunningVMAndShowListsTheReplicationsStatuses) {
  SResult r = Host("lab --db " + m_db + " write db-primary");
  ASSERT_EQ(0, r.code) << r.output;
  EXPECT_EQ("drjob: VM [db-primary] now holds content [102]\n", r.output);
  SLabVM vm;
  ASSERT_EQ(EStoreResult::kOk, CHypervisorLab::GetVM(3, "src-101", vm));
  EXPECT_EQ(102, vm.content);
  r = Host("lab --db " + m_db + " write db-primary-DR");
  EXPECT_EQ(1, r.code);
  EXPECT_EQ("drjob: VM [db-primary-DR] is off: only a running VM is written\n", r.output);
  ASSERT_EQ(EStoreResult::kOk, CHypervisorLab::GetVM(4, "dst-101", vm));
  EXPECT_EQ(101, vm.content);
  EXPECT_EQ(5, Host("lab --db " + m_db + " write nobody").code);
  EXPECT_EQ(2, Host("lab --db " + m_db + " write").code);

  // A replication that a failover left, with the properties a DR job stores.
  App::VSAReplicationInfo partial;
  partial.SetInt32(App::VSAReplicationInfo::kReplicationId, 102);
  partial.SetInt32(App::VSAReplicationInfo::kFailoverStatus, App::VSA_FAILOVER_STATUS_FAILOVER_COMPLETE);
  partial.SetInt32(App::VSAReplicationInfo::kSyncStatus, App::VSA_REPL_STATUS_SYNC_DISABLED);
  for (const auto& p : {std::make_pair(CReplicationStore::kPropSourceSnapMoref, "snap-7"),
                        std::make_pair(CReplicationStore::kPropDestSnapMoref, "snap-8"),
                        std::make_pair(CReplicationStore::kPropPitSnapshotId, "snap-9")}) {
    CNMessageBase& property = partial.AddMsg(App::VSAReplicationInfo::kProperties);
    property.SetInt32(App::VSAReplicationProperties::kPropertyId, p.first);
    property.SetString(App::VSAReplicationProperties::kValue, p.second);
  }
  std::string error;
  ASSERT_EQ(0, CReplicationStore::Merge(partial, error)) << error;
  r = Host("lab --db " + m_db);
  ASSERT_EQ(0, r.code) << r.output;
  char line[256];
  snprintf(line, sizeof(line), "%-8d %-28s %-18s %-12s %-12s %s\n", 101, "-", "In Sync", "-", "-", "-");
  EXPECT_TRUE(Has(r, line)) << r.output;
  snprintf(line, sizeof(line), "%-8d %-28s %-18s %-12s %-12s %s\n", 102, "Failover Complete", "Sync Disabled",
           "snap-7", "snap-8", "snap-9");
  EXPECT_TRUE(Has(r, line)) << r.output;
}

TEST_F(E2EDrJobHypervisorLab, AnotherProcessReleasesAHungOperation) {
  SLabFault hang;
  hang.kind = ELabFault::kHang;
  hang.opType = 10;
  hang.vm = "dst-101";
  ASSERT_TRUE(CHypervisorLab::AddFault(hang));
  int rc = -1;
  // A hung call gives up at the call's own time, on the scaled clock; the
  // other process may take longer than any scaled time to start on a busy
  // machine, so the call is given a week: only the release ends it.
  constexpr int kWeek = 7 * 24 * 3600;
  drtest::CTestThread caller(
      [&rc] {
        rc = Call(10, 4, "dst-101", kWeek);
        CDBConnection::CloseThreadConnections();
      },
      "hung caller");
  caller.OnStop([] { CHypervisorLab::ReleaseHangs(); });
  ASSERT_TRUE(Eventually([] { return CHypervisorLab::HungCalls() == 1; }));
  const SResult released = Host("lab --db " + m_db + " release");
  ASSERT_TRUE(caller.Join());
  ASSERT_EQ(0, released.code) << released.output;
  EXPECT_EQ(0, rc);
  SLabVM vm;
  ASSERT_EQ(EStoreResult::kOk, CHypervisorLab::GetVM(4, "dst-101", vm));
  EXPECT_TRUE(vm.poweredOn);
}

}  // namespace
}  // namespace drtest
