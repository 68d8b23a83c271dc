// What a VM operation request carries about its machine, over real machine
// records: identity, policy type and host at each site, the cloud placement
// a task gives per destination vendor, disks from the tracking ids, the VM
// selection and proxies of a backup, and the index-metadata facts.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Db/Tbl/App_VmAllocationPolicy.h"
#include "appmgr/ApplicationId.h"
#include "appmgr/ClientProperties.h"
#include "engine/DRInfoUtils.h"
#include "engine/VMMachinesTestBase.h"
#include "jobs/TaskStore.h"
#include "vsa/VSARepInfo.h"
#include "xmlreq/XMLHandler.h"
#include "appmgr/InstancePropStore.h"

namespace {

using VmInfo = App::VSAReplicationInfo;
using PolicyInstance = ZnEntities::PolicyInstanceFields;
using Placement = Ida::VMPlacement;
using Disk = Ida::VHardDisk;
using VMEntity = ZnEntities::VirtualMachineEntity;

struct SVm {
  int id;
  int sourceVendor;
  int destVendor;
  int taskId = 0;
  int sourceInstance = 0;
  int destInstance = 0;
};

// A VMW advanced restore option of a task's VM.
struct STaskVM {
  std::string name;
  std::string datacenter;
  std::string cluster;
  std::string projectId;
};

class VMOpRequests : public CVMMachinesTestBase {
 protected:
  static App::VSAReplicationInfo Vm(const SVm& vm) {
    VmInfo info = Repl(vm.id, vm.destVendor, "", vm.taskId);
    info.SetInt32(VmInfo::kSourceVendor, vm.sourceVendor);
    if (vm.sourceInstance) {
      CNMessageBase& sub = info.MutableMsg(VmInfo::kSubclient);
      sub.SetInt32(ZnEntities::SubClientEntity::kSubclientId, 100 + vm.id);
      sub.SetInt32(ZnEntities::SubClientEntity::kInstanceId, vm.sourceInstance);
    }
    if (vm.destInstance) {
      info.MutableMsg(VmInfo::kDestinationInstance).SetInt32(ZnEntities::InstanceEntity::kInstanceId, vm.destInstance);
      info.MutableMsg(VmInfo::kDestinationInstance).SetInt32(ZnEntities::InstanceEntity::kClientId, 900 + vm.destInstance);
    }
    info.MutableMsg(VmInfo::kDestinationProxy).SetInt64(ZnEntities::ClientEntity::kClientId, 70 + vm.id);
    info.MutableMsg(VmInfo::kDestinationProxy).SetString(ZnEntities::ClientEntity::kClientName, "proxy-" + std::to_string(vm.id));
    return info;
  }

  static void HostOf(int instanceId, const std::string& host) {
    ASSERT_TRUE(CInstancePropStore::SetAttribute(instanceId, "Virtual Server Host", host));
  }

  static void PutVMTask(int taskId, const std::vector<STaskVM>& vms) {
    TMMsg::TaskInfo task;
    CNMessageBase& vmOptions = NewVMRestoreOptions(task);
    for (const STaskVM& vm : vms) {
      CNMessageBase& e = vmOptions.AddMsg(TMMsg::DiskLevelVMRestoreOption::kAdvancedRestoreOptions);
      e.SetString(TMMsg::VMWAdvancedRestoreOptions::kVMName, vm.name);
      e.SetString(TMMsg::VMWAdvancedRestoreOptions::kDatacenter, vm.datacenter);
      e.SetString(TMMsg::VMWAdvancedRestoreOptions::kCluster, vm.cluster);
      e.SetString(TMMsg::VMWAdvancedRestoreOptions::kEsxHost, "esx-of-task");
      if (!vm.projectId.empty()) e.SetString(TMMsg::VMWAdvancedRestoreOptions::kProjectId, vm.projectId);
    }
    ASSERT_TRUE(CTaskStore::PutTask(taskId, Xml(task)));
  }

  // A task whose restore options name an allocation policy, and the policy.
  static void PutPolicyTask(int taskId, int policyId, const Ida::VMAllocationPolicy& policy) {
    TMMsg::TaskInfo task;
    task.AddMsg(TMMsg::TaskInfo::kSubTasks)
        .MutableMsg(TMMsg::SubTaskInfo::kJobOptions)
        .MutableMsg(TMMsg::JobOption::kRestoreOptions)
        .MutableMsg(TMMsg::RestoreOptionFields::kVirtualServerRestoreOptions)
        .MutableMsg(TMMsg::VirtualServerRestoreOptionFields::kAllocationPolicy)
        .SetInt32(PolicyInstance::kVMAllocationPolicyId, policyId);
    ASSERT_TRUE(CTaskStore::PutTask(taskId, Xml(task)));
    Sql("INSERT INTO App_VmAllocationPolicy (id, vxml) VALUES (" + std::to_string(policyId) + ", '" + Xml(policy) +
            "')",
        "App_VmAllocationPolicy");
  }

  // A request as the context starts it: the site's instance id set.
  static Ida::VMOpReq Request(CDRInfo* info, Api::DRSite site) {
    Ida::VMOpReq req;
    req.MutableMsg(Ida::VMOpReq::kInstance)
        .SetInt64(PolicyInstance::kInstanceId, DRInfoUtils::GetSiteProp(info, DR_SITE_PROPERTY_INSTANCE_ID, site));
    return req;
  }

  static const CNMessageBase& VM(const Ida::VMOpReq& req) { return req.GetMsg(Ida::VMOpReq::kVirtualMachine); }
  static const CNMessageBase& PlacementOf(const Ida::VMOpReq& req) {
    return VM(req).GetMsg(Ida::VirtualMachine::kPlacement);
  }

  // Populates a request for the site; the result must be as expected.
  static Ida::VMOpReq Populate(CDRInfo* info, Api::DRSite site, bool expected = true) {
    Ida::VMOpReq req = Request(info, site);
    EXPECT_EQ(expected, DRInfoUtils::PopulateVMOpReq(req, site, info));
    return req;
  }

  static bool LoggedError(const std::string& fragment) {
    for (const SLogLine& line : CLogSink::Instance().Captured()) {
      if (line.level == 0 && line.text.find(fragment) != std::string::npos) return true;
    }
    return false;
  }
};

TEST_F(VMOpRequests, IdentityPolicyTypeAndHostAtEachSiteAndAFailedHostQuery) {
  HostOf(11, "esx-src");
  HostOf(12, "esx-dst");
  std::vector<CDRInfo*> m = Machines({Vm({1, 5, 7, 0, 11, 12}), Vm({2, 12, 1, 0, 13, 14})});

  Ida::VMOpReq src = Populate(m[0], Api::DR_SITE_SOURCE);
  EXPECT_EQ("vm1", VM(src).GetMsg(Ida::VirtualMachine::kEntity).GetString(VMEntity::kName));
  EXPECT_EQ("src-guid-1", VM(src).GetMsg(Ida::VirtualMachine::kEntity).GetString(VMEntity::kGuid));
  EXPECT_EQ(3, src.GetMsg(Ida::VMOpReq::kInstance).GetInt64(PolicyInstance::kPolicyType));
  EXPECT_EQ(11, src.GetMsg(Ida::VMOpReq::kInstance).GetInt64(PolicyInstance::kInstanceId));
  EXPECT_EQ("esx-src", PlacementOf(src).GetString(Placement::kInstanceHostName));

  Ida::VMOpReq dst = Populate(m[0], Api::DR_SITE_DESTINATION);
  EXPECT_EQ("vm1-DR", VM(dst).GetMsg(Ida::VirtualMachine::kEntity).GetString(VMEntity::kName));
  EXPECT_EQ("dst-guid-1", VM(dst).GetMsg(Ida::VirtualMachine::kEntity).GetString(VMEntity::kGuid));
  EXPECT_EQ(7, dst.GetMsg(Ida::VMOpReq::kInstance).GetInt64(PolicyInstance::kPolicyType));
  EXPECT_EQ("esx-dst", PlacementOf(dst).GetString(Placement::kInstanceHostName));
  // A destination vendor without a placement of its own adds nothing else.
  EXPECT_FALSE(PlacementOf(dst).Has(Placement::kDatacenter));
  EXPECT_FALSE(PlacementOf(dst).Has(Placement::kProjectId));

  // No host for the instance: the request fails, identity and policy type
  // stay written, the placement is not.
  Ida::VMOpReq failed = Populate(m[1], Api::DR_SITE_SOURCE, false);
  EXPECT_EQ("vm2", VM(failed).GetMsg(Ida::VirtualMachine::kEntity).GetString(VMEntity::kName));
  EXPECT_EQ(10, failed.GetMsg(Ida::VMOpReq::kInstance).GetInt64(PolicyInstance::kPolicyType));
  EXPECT_FALSE(VM(failed).Has(Ida::VirtualMachine::kPlacement));

  // A site that is neither: no identity, policy type 0; a request without
  // an instance entity still gets policy type 0.
  Ida::VMOpReq other = Request(m[0], Api::DR_SITE_SOURCE);
  DRInfoUtils::PopulatePolicyType(other, static_cast<Api::DRSite>(2), m[0]);
  EXPECT_EQ(0, other.GetMsg(Ida::VMOpReq::kInstance).GetInt64(PolicyInstance::kPolicyType));
  Ida::VMOpReq bare;
  DRInfoUtils::PopulatePolicyType(bare, Api::DR_SITE_SOURCE, m[0]);
  ASSERT_TRUE(bare.Has(Ida::VMOpReq::kInstance));
  EXPECT_TRUE(bare.GetMsg(Ida::VMOpReq::kInstance).Has(PolicyInstance::kPolicyType));
  EXPECT_EQ(0, bare.GetMsg(Ida::VMOpReq::kInstance).GetInt64(PolicyInstance::kPolicyType));
  ZnEntities::VirtualMachineEntity entity;
  DRInfoUtils::PopulateNameandGUID(&entity, static_cast<Api::DRSite>(2), m[0]);
  EXPECT_EQ(0u, entity.FieldCount());
  DRInfoUtils::PopulateNameandGUID(nullptr, Api::DR_SITE_SOURCE, m[0]);
}

TEST_F(VMOpRequests, InstanceIdsBeyondThirtyTwoBitsNameNoInstance) {
  struct SCase {
    int64_t id;
    bool fits;
  } cases[] = {
      {11, true},
      {INT32_MAX, true},
      {INT32_MIN, true},
      {static_cast<int64_t>(INT32_MAX) + 1, false},
      {(1LL << 32) + 11, false},  // its low bits name instance 11
      {static_cast<int64_t>(INT32_MIN) - 1, false},
  };
  for (const SCase& c : cases) {
    int out = -7;
    EXPECT_EQ(c.fits, DRInfoUtils::ToDBInstanceId(c.id, out)) << c.id;
    EXPECT_EQ(c.fits ? static_cast<int>(c.id) : -7, out) << c.id;
  }

  // A request naming such an instance gets no host, not instance 11's.
  HostOf(11, "esx-src");
  std::vector<CDRInfo*> m = Machines({Vm({1, 1, 5, 0, 11, 12})});
  Ida::VMOpReq req = Request(m[0], Api::DR_SITE_SOURCE);
  req.MutableMsg(Ida::VMOpReq::kInstance).SetInt64(PolicyInstance::kInstanceId, (1LL << 32) + 11);
  Api::DRSite site = Api::DR_SITE_SOURCE;
  EXPECT_FALSE(DRInfoUtils::PopulateVMOpReq(req, site, m[0]));
  EXPECT_FALSE(VM(req).Has(Ida::VirtualMachine::kPlacement));
}

TEST_F(VMOpRequests, CloudPlacementTakesTheTasksDatacenterAsRegionAndClusterAsTenant) {
  HostOf(22, "DEFAULT");
  HostOf(23, "eu-west-2");
  HostOf(24, "esx-24");
  HostOf(25, "esx-25");
  PutVMTask(900, {{"vm2", "us-east-1", "tenant-a", ""}, {"vm3", "us-east-1", "tenant-b", ""}});
  PutVMTask(901, {{"vm4", "dc-12", "", ""}});
  std::vector<CDRInfo*> m = Machines({Vm({2, 1, 4, 900, 0, 22}), Vm({3, 1, 4, 900, 0, 23}),
                                      Vm({4, 1, 12, 901, 0, 24}), Vm({5, 1, 12, 901, 0, 25})});

  // Vendor 4 with the placeholder host (any case): the task's region stays.
  Ida::VMOpReq placeholder = Populate(m[0], Api::DR_SITE_DESTINATION);
  EXPECT_EQ("us-east-1", PlacementOf(placeholder).GetString(Placement::kDatacenter));
  EXPECT_EQ("tenant-a", PlacementOf(placeholder).GetString(Placement::kCluster));
  EXPECT_EQ("DEFAULT", PlacementOf(placeholder).GetString(Placement::kInstanceHostName));
  // Any other host name is the region.
  Ida::VMOpReq named = Populate(m[1], Api::DR_SITE_DESTINATION);
  EXPECT_EQ("eu-west-2", PlacementOf(named).GetString(Placement::kDatacenter));
  EXPECT_EQ("tenant-b", PlacementOf(named).GetString(Placement::kCluster));

  // Vendor 12 with an empty tenant: logged, both written, the request holds.
  CLogSink::Instance().ClearCapture();
  Ida::VMOpReq noTenant = Populate(m[2], Api::DR_SITE_DESTINATION);
  EXPECT_TRUE(LoggedError("Tenant or region are empty"));
  EXPECT_EQ("dc-12", PlacementOf(noTenant).GetString(Placement::kDatacenter));
  ASSERT_TRUE(PlacementOf(noTenant).Has(Placement::kCluster));
  EXPECT_EQ("", PlacementOf(noTenant).GetString(Placement::kCluster));

  // The task does not know the VM: logged, no placement, the request holds.
  CLogSink::Instance().ClearCapture();
  Ida::VMOpReq unknown = Populate(m[3], Api::DR_SITE_DESTINATION);
  EXPECT_TRUE(LoggedError("Failed to query tenant and region from recovery target"));
  EXPECT_FALSE(PlacementOf(unknown).Has(Placement::kDatacenter));
  EXPECT_FALSE(PlacementOf(unknown).Has(Placement::kCluster));
}

TEST_F(VMOpRequests, Vendor16ProjectIdsTheSourceKeepsItsOwnTheDestinationTheTasks) {
  HostOf(31, "h");
  HostOf(32, "h");
  PutVMTask(902, {{"vm6", "", "", "dr-proj"}, {"vm8", "", "", "dr-proj-8"}, {"vm9", "", "", "dr-proj-9"}});
  PutVMTask(903, {{"vm7", "", "", ""}});
  ASSERT_EQ(0, ClientProperties(601).setVMInstanceUUID("src-guid-6"));
  ASSERT_EQ(0, ClientProperties(601).setVSAProjectId("src-proj"));
  std::vector<CDRInfo*> m = Machines({Vm({6, 16, 16, 902, 31, 32}), Vm({7, 16, 16, 903, 31, 32}),
                                      Vm({8, 16, 16, 902, 31, 32}), Vm({9, 1, 16, 902, 31, 32})});

  EXPECT_EQ("src-proj", PlacementOf(Populate(m[0], Api::DR_SITE_SOURCE)).GetString(Placement::kProjectId));
  EXPECT_EQ("dr-proj", PlacementOf(Populate(m[0], Api::DR_SITE_DESTINATION)).GetString(Placement::kProjectId));

  // The task names no project: logged, nothing written, the request holds.
  CLogSink::Instance().ClearCapture();
  EXPECT_FALSE(PlacementOf(Populate(m[1], Api::DR_SITE_SOURCE)).Has(Placement::kProjectId));
  EXPECT_TRUE(LoggedError("Failed to retrieve projectId"));

  // The source VM's client is unknown: the DR project written first stays.
  CLogSink::Instance().ClearCapture();
  EXPECT_EQ("dr-proj-8", PlacementOf(Populate(m[2], Api::DR_SITE_SOURCE)).GetString(Placement::kProjectId));
  EXPECT_TRUE(LoggedError("Failed to retrieve clientId [0] with instance UUID [src-guid-8]"));

  // A source of another vendor keeps the DR project at the source too.
  EXPECT_EQ("dr-proj-9", PlacementOf(Populate(m[3], Api::DR_SITE_SOURCE)).GetString(Placement::kProjectId));
}

TEST_F(VMOpRequests, ThreeTrackingIdsGiveThreeDisksWithTheCloneDetailsOfTheVMsOwnDisks) {
  auto tracked = [](int id, int destVendor) {
    VmInfo info = Vm({id, 1, destVendor});
    for (const char* d : {"disk-a", "disk-b", "disk-c"}) {
      CNMessageBase& t = info.AddMsg(VmInfo::kTrackingIds);
      t.SetString(App::VSAReplicationTrakingIdInfo::kTrackingId, d);
      t.SetString(App::VSAReplicationTrakingIdInfo::kIntegritySnapshotFamily5, std::string("s5-") + d);
      t.SetString(App::VSAReplicationTrakingIdInfo::kIntegritySnapshot, std::string("s8-") + d);
    }
    return info;
  };
  std::vector<CDRInfo*> m = Machines({tracked(1, 5), tracked(2, 1), Vm({3, 1, 16}), Vm({4, 1, 1})});
  Ida::VirtualMachine own;
  for (auto d : {std::make_pair("disk-c", 300), std::make_pair("disk-x", 900), std::make_pair("disk-a", 100)}) {
    CNMessageBase& disk = own.MutableMsg(Ida::VirtualMachine::kHardDisks).AddMsg(Ida::HardDisks::kDisks);
    disk.SetString(Disk::kDiskId, d.first);
    disk.SetInt64(Disk::kSize, d.second);
  }
  DRInfoUtils::GetVSARepInfo(m[0])->SetVMInfo(own);

  Ida::VMOpReq req;
  ASSERT_TRUE(DRInfoUtils::PopulateVMOpReqToFillDiskDetails(m[0], req));
  EXPECT_EQ(3, VM(req).GetInt64(Ida::VirtualMachine::kDiskCount));
  const CNMessageBase& disks = VM(req).GetMsg(Ida::VirtualMachine::kHardDisks);
  ASSERT_EQ(3u, disks.ListSize(Ida::HardDisks::kDisks));
  const int64_t sizes[] = {100, -1, 300};
  for (size_t i = 0; i < 3; ++i) {
    const CNMessageBase& disk = disks.GetListMsg(Ida::HardDisks::kDisks, i);
    const std::string id = std::string("disk-") + static_cast<char>('a' + i);
    SCOPED_TRACE(id);
    EXPECT_EQ(id, disk.GetString(Disk::kDiskId));
    EXPECT_EQ(3, disk.GetInt64(Disk::kValue6));
    EXPECT_EQ("s5-" + id, disk.GetString(Disk::kTrackedSnapshot));
    // Vendor family 5 at the destination: the vendor-5 integrity snapshot.
    EXPECT_EQ("s5-" + id, disk.GetMsg(Disk::kIntegritySnapshot).GetString(Disk::kLabel));
    if (sizes[i] < 0) {
      // No disk of the VM's own has this identity: untouched.
      EXPECT_FALSE(disk.Has(Disk::kParentDiskName));
      EXPECT_FALSE(disk.Has(Disk::kSize));
      continue;
    }
    EXPECT_EQ(id, disk.GetString(Disk::kParentDiskName));
    EXPECT_EQ(id, disk.GetString(Disk::kLabel));
    EXPECT_EQ(sizes[i], disk.GetInt64(Disk::kSize));
    EXPECT_EQ(sizes[i], disk.GetInt64(Disk::kCloneSize));
  }

  // Another destination vendor takes the other integrity snapshot.
  Ida::VMOpReq other;
  ASSERT_TRUE(DRInfoUtils::PopulateVMOpReqToFillDiskDetails(m[1], other));
  EXPECT_EQ("s8-disk-b", VM(other)
                             .GetMsg(Ida::VirtualMachine::kHardDisks)
                             .GetListMsg(Ida::HardDisks::kDisks, 1)
                             .GetMsg(Disk::kIntegritySnapshot)
                             .GetString(Disk::kLabel));
  // The VM has no disks of its own here: the clone details find none.
  EXPECT_TRUE(DRInfoUtils::PopulateVMOpReqToFillAdditionalDiskDetails(m[1], other));

  // Without tracking ids there are no disks; a snapshot request needs them
  // only for a vendor-16 destination, and succeeds either way.
  Ida::VMOpReq none;
  EXPECT_FALSE(DRInfoUtils::PopulateVMOpReqToFillDiskDetails(m[2], none));
  EXPECT_FALSE(none.Has(Ida::VMOpReq::kVirtualMachine));
  EXPECT_FALSE(DRInfoUtils::PopulateVMOpReqToFillAdditionalDiskDetails(m[2], none));
  Ida::VMOpReq snap16, snap1;
  EXPECT_TRUE(DRInfoUtils::PopulateAdditionalVMSnapOpReq(m[2], snap16));
  EXPECT_TRUE(DRInfoUtils::PopulateAdditionalVMSnapOpReq(m[3], snap1));
  EXPECT_FALSE(DRInfoUtils::PopulateAdditionalVMSnapOpReq(nullptr, snap1));
}

TEST_F(VMOpRequests, ABackupSelectsEveryVMAndSetsItsSwitchesEvenForAnEmptyList) {
  std::vector<CDRInfo*> m = Machines({Vm({1, 1, 1}), Vm({2, 1, 1})});
  ApplicationId app(SApplicationIds{});
  TMMsg::VSABkpOption options;
  ASSERT_TRUE(DRInfoUtils::GetVSABackupOptions(options, app, m));
  ASSERT_EQ(2u, options.ListSize(TMMsg::VSABkpOption::kSelectedVMs));
  const CNMessageBase& second = options.GetListMsg(TMMsg::VSABkpOption::kSelectedVMs, 1);
  EXPECT_EQ("src-guid-2", second.GetString(TMMsg::VSASelectiveVMInfo::kVMGuid));
  EXPECT_EQ(2, second.GetInt64(TMMsg::VSASelectiveVMInfo::kReplicationId));

  TMMsg::VSABkpOption empty;
  std::vector<CDRInfo*> none;
  ASSERT_TRUE(DRInfoUtils::GetVSABackupOptions(empty, app, none));
  EXPECT_TRUE(empty.Has(TMMsg::VSABkpOption::kField1));
  EXPECT_TRUE(empty.Has(TMMsg::VSABkpOption::kField2));
  EXPECT_EQ(0, empty.GetInt64(TMMsg::VSABkpOption::kField1));
  EXPECT_EQ(0, empty.GetInt64(TMMsg::VSABkpOption::kField2));
}

TEST_F(VMOpRequests, BackupProxiesAreTheInstancesWhenAutomaticElseTheReplicationsProxyAppended) {
  Ida::VMAllocationPolicy any, own, chosen;
  for (Ida::VMAllocationPolicy* p : {&any, &own, &chosen})
    p->MutableMsg(Ida::VMAllocationPolicy::kInstance).SetString(PolicyInstance::kRegion, "r");
  any.MutableMsg(Ida::VMAllocationPolicy::kProxyClient).SetInt64(ZnEntities::ClientEntity::kClientId, 0);
  own.MutableMsg(Ida::VMAllocationPolicy::kProxyClient).SetInt64(ZnEntities::ClientEntity::kClientId, 931);
  chosen.MutableMsg(Ida::VMAllocationPolicy::kProxyClient).SetInt64(ZnEntities::ClientEntity::kClientId, 77);
  PutPolicyTask(910, 11, any);
  PutPolicyTask(911, 12, own);
  PutPolicyTask(912, 13, chosen);
  std::vector<CDRInfo*> m = Machines({Vm({1, 1, 4, 0, 0, 31}), Vm({2, 1, 5, 910, 0, 31}), Vm({3, 1, 5, 911, 0, 31}),
                                      Vm({4, 1, 5, 912, 0, 31})});

  // The policy names no proxy, or the instance itself: automatic.
  EXPECT_TRUE(DRInfoUtils::IsProxySelectionAutomaticSetInAllocPolicy(m[1]));
  EXPECT_TRUE(DRInfoUtils::IsProxySelectionAutomaticSetInAllocPolicy(m[2]));
  EXPECT_FALSE(DRInfoUtils::IsProxySelectionAutomaticSetInAllocPolicy(m[3]));
  EXPECT_TRUE(Logged("Proxy client [77][] set in recovery target."));

  // Automatic: the instance's member servers are asked, nothing is made up
  // when they cannot be had.
  for (CDRInfo* automatic : {m[0], m[1]}) {
    CLogSink::Instance().ClearCapture();
    TMMsg::VSABkpOption options;
    std::vector<CDRInfo*> list = {automatic};
    const bool found = DRInfoUtils::SetProxiesForBackup(options, list);
    EXPECT_TRUE(Logged("Fetching member servers configured at instance lvl for dest instance Id [31]"));
    EXPECT_EQ(found, options.GetMsg(TMMsg::VSABkpOption::kProxies)
                             .ListSize(App::MemberServerListFields::kMemberServers) > 0);
  }

  // Chosen by hand: the replication's proxy is appended to what is there.
  TMMsg::VSABkpOption options;
  options.MutableMsg(TMMsg::VSABkpOption::kProxies).AddMsg(App::MemberServerListFields::kMemberServers);
  std::vector<CDRInfo*> manual = {m[3], m[0]};
  ASSERT_TRUE(DRInfoUtils::SetProxiesForBackup(options, manual));
  const CNMessageBase& servers = options.GetMsg(TMMsg::VSABkpOption::kProxies);
  ASSERT_EQ(2u, servers.ListSize(App::MemberServerListFields::kMemberServers));
  const CNMessageBase& added =
      servers.GetListMsg(App::MemberServerListFields::kMemberServers, 1).GetMsg(App::MemberServer::kClientEntity);
  EXPECT_EQ(74, added.GetInt64(ZnEntities::GenericEntity::kClientId));
  EXPECT_EQ("proxy-4", added.GetString(ZnEntities::GenericEntity::kClientName));

  // An empty list chooses nothing and says so.
  std::vector<CDRInfo*> none;
  TMMsg::VSABkpOption untouched;
  EXPECT_FALSE(DRInfoUtils::SetProxiesForBackup(untouched, none));
  EXPECT_EQ(0u, untouched.FieldCount());
  EXPECT_FALSE(DRInfoUtils::IsProxySelectionAutomaticSetInAllocPolicy(nullptr));
}

TEST_F(VMOpRequests, IndexMetadataGivesTheDatastoreAndTheManagedFlag) {
  HostOf(41, "h");
  Ida::VMAllocationPolicy managedTarget;
  managedTarget.MutableMsg(Ida::VMAllocationPolicy::kInstance).SetString(PolicyInstance::kRegion, "r");
  managedTarget.SetInt32(Ida::VMAllocationPolicy::kRestoreAsManagedVM, 1);
  PutPolicyTask(920, 21, managedTarget);
  std::vector<CDRInfo*> m = Machines({Vm({1, 7, 5, 920, 41, 42}), Vm({2, 1, 5, 920, 41, 42})});

  IdxMetadata::VirtualServerIdxMetaData managed, plain;
  for (auto* md : {&managed, &plain}) {
    md->SetString(IdxMetadata::VirtualServerIdxMetaData::kDatastore, "ds-index");
    md->SetString(IdxMetadata::VirtualServerIdxMetaData::kDatacenter, "dc-1");
  }
  managed.SetInt64(IdxMetadata::VirtualServerIdxMetaData::kManagedVM, 1);
  plain.SetInt64(IdxMetadata::VirtualServerIdxMetaData::kManagedVM, 0);

  int queries = 0;
  std::vector<std::string> offered;
  CScopedHandler<unsigned long, XMLRequestHandler> proxy(
      XMLHandler::Handlers(), EVGui::GetVirtualMachineDestinationsReq::kTypeId,
      [&](int, std::string& xml, std::string&) {
        ++queries;
        EVGui::GetVirtualMachineDestinationsReq req;
        EXPECT_TRUE(req.Unserialize(xml));
        // The source site's instance, asked of the replication's proxy.
        EXPECT_EQ(41, req.GetMsg(EVGui::GetVirtualMachineDestinationsReq::kEntity)
                          .GetInt64(ZnEntities::AppInstanceEntity::kInstanceId));
        EXPECT_EQ(3, req.GetInt32(EVGui::GetVirtualMachineDestinationsReq::kQueryKind));
        EXPECT_EQ("|dc-1", req.GetString(EVGui::GetVirtualMachineDestinationsReq::kDatacenterPath));
        EVGui::VirtualMachineDestination resp;
        CNMessageBase& host = resp.AddMsg(EVGui::VirtualMachineDestination::kHosts);
        host.TouchField(EVGui::VMHostInfo::kDatastores);
        for (const std::string& name : offered)
          host.AddMsg(EVGui::VMHostInfo::kDatastores).SetString(EVGui::VMDataStoreInfo::kDatastoreName, name);
        xml = Xml(resp);
        return 0;
      });

  // A managed VM of the vendor-5 family: the data center's first datastore,
  // else what the index says.
  offered = {"ds-live", "ds-other"};
  EXPECT_EQ("ds-live", DRInfoUtils::GetDatastoreFromIndex(m[0], &managed));
  offered.clear();
  EXPECT_EQ("ds-index", DRInfoUtils::GetDatastoreFromIndex(m[0], &managed));
  EXPECT_EQ(2, queries);
  // Not managed, or another source vendor: the index, without asking.
  EXPECT_EQ("ds-index", DRInfoUtils::GetDatastoreFromIndex(m[0], &plain));
  EXPECT_EQ("ds-index", DRInfoUtils::GetDatastoreFromIndex(m[1], &managed));
  EXPECT_EQ(2, queries);
  EXPECT_EQ("", DRInfoUtils::GetDatastoreFromIndex(m[0], nullptr));

  EXPECT_TRUE(DRInfoUtils::IsManagedVM(m[0], &managed));
  EXPECT_FALSE(DRInfoUtils::IsManagedVM(m[1], &managed));
  EXPECT_FALSE(DRInfoUtils::IsManagedVM(m[0], nullptr));
  EXPECT_TRUE(DRInfoUtils::GetRestoreAsManagedVM(m[0], &managed));
  EXPECT_TRUE(Logged("Restore As Managed VM option [1] is set"));
  EXPECT_FALSE(DRInfoUtils::GetRestoreAsManagedVM(m[0], &plain));
  EXPECT_FALSE(DRInfoUtils::GetRestoreAsManagedVM(m[1], &managed));
}

TEST_F(VMOpRequests, NullRecordsAndMetadataGiveNothingAndNeverCrash) {
  std::vector<CDRInfo*> m = Machines({Vm({1, 1, 4, 0, 0, 0})});
  Api::DRSite site = Api::DR_SITE_DESTINATION;
  Ida::VMOpReq req;
  EXPECT_FALSE(DRInfoUtils::PopulateAdditionalVMOpReq(nullptr, site, req));
  EXPECT_FALSE(DRInfoUtils::PopulateVMOpReqToFillDiskDetails(nullptr, req));
  EXPECT_FALSE(DRInfoUtils::PopulateVMOpReqToFillAdditionalDiskDetails(nullptr, req));
  ZnEntities::VirtualMachineEntity entity;
  DRInfoUtils::PopulateNameandGUID(&entity, site, nullptr);
  EXPECT_EQ(0u, entity.FieldCount());
  EXPECT_FALSE(req.Has(Ida::VMOpReq::kVirtualMachine));

  // A list holding a null record: the backup selects the others; proxies
  // are chosen from the first record only.
  std::vector<CDRInfo*> list = {nullptr, m[0]};
  ApplicationId app(SApplicationIds{});
  TMMsg::VSABkpOption options;
  EXPECT_TRUE(DRInfoUtils::GetVSABackupOptions(options, app, list));
  EXPECT_EQ(1u, options.ListSize(TMMsg::VSABkpOption::kSelectedVMs));
  EXPECT_FALSE(DRInfoUtils::SetProxiesForBackup(options, list));

  EXPECT_FALSE(DRInfoUtils::IsManagedVM(nullptr, nullptr));
  EXPECT_FALSE(DRInfoUtils::GetRestoreAsManagedVM(nullptr, nullptr));
  EXPECT_EQ("", DRInfoUtils::GetDatastoreFromIndex(nullptr, nullptr));
  std::string size = "s", network = "n", subnet = "u", region = "r";
  DRInfoUtils::SelectTestFailoverVMSize(nullptr, Ida::VMAllocationPolicy(), size);
  DRInfoUtils::SelectTestFailoverNetwork(nullptr, Ida::VMAllocationPolicy(), network, subnet);
  DRInfoUtils::GetRegionFromAllocPolicy(nullptr, Ida::VMAllocationPolicy(), region);
  EXPECT_EQ("s/n/u/r", size + "/" + network + "/" + subnet + "/" + region);
}

}  // namespace
