// The lab's services beside the VM operations, through the entries the DR
// job uses (XML requests, the stored procedure, the VM information entry,
// the platform's instance and client objects), and what child jobs leave on
// its VMs.
#include <gtest/gtest.h>

#include "Db/Proc/AppGetVSMemberServers.h"
#include "Db/SprocWrapper.h"
#include "appmgr/ClientProperties.h"
#include "appmgr/InstanceTypeVirtualServer.h"
#include "appmgr/ZNClient.h"
#include "platform/vm/LabTestSupport.h"
#include "vm/VmAuxOps.h"
#include "xmlreq/XMLHandler.h"

namespace {

class LabServices : public CLabTestBase {
 protected:
  static int Ask(CNMessageBase& request, unsigned long type, CNMessageBase& response) {
    std::string xml, error;
    EXPECT_TRUE(request.serializeUTF8(xml));
    const int rc = XMLHandler::handleXMLReq(1, type, xml, error, "", 0);
    if (rc == 0) {
      EXPECT_TRUE(response.Unserialize(xml)) << xml;
    }
    return rc;
  }

  static EVGui::VirtualMachineDestination Destinations(long long instance, const std::string& region, int kind,
                                                       int* rc = nullptr) {
    EVGui::GetVirtualMachineDestinationsReq req;
    req.MutableMsg(EVGui::GetVirtualMachineDestinationsReq::kEntity)
        .SetInt64(ZnEntities::AppInstanceEntity::kInstanceId, instance);
    req.SetString(EVGui::GetVirtualMachineDestinationsReq::kDatacenter, region);
    req.SetInt32(EVGui::GetVirtualMachineDestinationsReq::kQueryKind, kind);
    EVGui::VirtualMachineDestination resp;
    const int answered = Ask(req, EVGui::GetVirtualMachineDestinationsReq::kTypeId, resp);
    if (rc != nullptr) *rc = answered;
    return resp;
  }

  static std::vector<long long> MemberServers(int instance) {
    App::GetVSMemberServersRequest req;
    req.MutableMsg(App::GetVSMemberServersRequest::kInstanceEntity)
        .SetInt32(ZnEntities::GenericEntity::kInstanceId, instance);
    std::string xml;
    EXPECT_TRUE(req.serializeUTF8(xml));
    SprocWrapper<AppGetVSMemberServers, AppGetVSMemberServers_t> proc("test", nullptr);
    proc.getCursor()->setValues(xml.c_str());
    std::string out, error;
    EXPECT_EQ(0, proc.getXMLFromCursor(out, &error, false, true)) << error;
    App::GetVSMemberServersResponse resp;
    EXPECT_TRUE(resp.Unserialize(out)) << out;
    std::vector<long long> ids;
    const CNMessageBase& list = resp.GetMsg(App::GetVSMemberServersResponse::kMemberServers);
    for (size_t i = 0; i < list.ListSize(App::MemberServerListFields::kMemberServers); ++i) {
      ids.push_back(list.GetListMsgAs<App::MemberServer>(App::MemberServerListFields::kMemberServers, i)
                        .GetMsg(App::MemberServer::kClientEntity)
                        .GetInt64(ZnEntities::GenericEntity::kClientId));
    }
    return ids;
  }

  // Ends a child job of the type on the replications, as the job manager does.
  static void RunJob(EChildJobType type, const std::vector<int>& replications, bool succeed = true) {
    SChildJobSpec spec;
    spec.type = type;
    spec.parentJobId = kDRJob;
    spec.applicationId = kSubclient;
    spec.taskId = kTask;
    spec.replicationIds = replications;
    spec.vmChildren = false;
    spec.hang = true;
    const long long id = CJobSimulator::StartJob(spec);
    ASSERT_NE(0, id);
    ASSERT_TRUE(succeed ? CJobSimulator::Complete(id) : CJobSimulator::Fail(id, "by the test"));
  }
};

TEST_F(LabServices, ARegionOffersItsDatastoresNetworksAndSizesByKind) {
  EVGui::VirtualMachineDestination resp = Destinations(kSiteB, "dc-site-b", 3);
  ASSERT_EQ(1u, resp.ListSize(EVGui::VirtualMachineDestination::kHosts));
  const CNMessageBase& host = resp.GetListMsg(EVGui::VirtualMachineDestination::kHosts, 0);
  ASSERT_EQ(2u, host.ListSize(EVGui::VMHostInfo::kDatastores));
  EXPECT_EQ("ds-site-b-2",
            host.GetListMsg(EVGui::VMHostInfo::kDatastores, 1).GetString(EVGui::VMDataStoreInfo::kDatastoreName));
  EXPECT_EQ(0u, host.ListSize(EVGui::VMHostInfo::kNetworks)) << "only the kind asked for";

  resp = Destinations(kSiteB, "dc-site-b", 6);
  const CNMessageBase& nets = resp.GetListMsg(EVGui::VirtualMachineDestination::kHosts, 0);
  ASSERT_EQ(1u, nets.ListSize(EVGui::VMHostInfo::kNetworks));
  EXPECT_EQ(2u, nets.GetListMsg(EVGui::VMHostInfo::kNetworks, 0).ListSize(EVGui::VMNetworkInfo::kSubnets));

  resp = Destinations(kSiteB, "dc-site-b", 8);
  const CNMessageBase& sizes = resp.GetListMsg(EVGui::VirtualMachineDestination::kHosts, 0);
  ASSERT_EQ(2u, sizes.ListSize(EVGui::VMHostInfo::kVMSizes));
  EXPECT_EQ(8192, sizes.GetListMsg(EVGui::VMHostInfo::kVMSizes, 1).GetInt64(EVGui::VMSizeInfo::kMemoryMB));

  EXPECT_EQ(0u, Destinations(kSiteB, "elsewhere", 3).ListSize(EVGui::VirtualMachineDestination::kHosts));
  ASSERT_EQ(EStoreResult::kOk, CHypervisorLab::SetInstanceDown(kSiteB, true));
  int rc = 0;
  Destinations(kSiteB, "dc-site-b", 3, &rc);
  EXPECT_NE(0, rc);
}

TEST_F(LabServices, DiscoveryListsAVMsSnapshotsOldestFirst) {
  ASSERT_EQ(0, Op(3, kSiteB, "dst-1", "", Snapshot("__OB_FAILOVER__")).rc);
  EVGui::DiscoverVMDetailsReq req;
  req.SetInt32(EVGui::DiscoverVMDetailsReq::kDiscover, 1);
  req.MutableMsg(EVGui::DiscoverVMDetailsReq::kInstance).SetInt64(ZnEntities::AppInstanceEntity::kInstanceId, kSiteB);
  req.AddMsg(EVGui::DiscoverVMDetailsReq::kGuestHosts).SetString(EVGui::GuestHost::kGuid, "dst-1");
  req.AddMsg(EVGui::DiscoverVMDetailsReq::kGuestHosts).SetString(EVGui::GuestHost::kGuid, "not-here");
  EVGui::DiscoverVMDetailsResp resp;
  ASSERT_EQ(0, Ask(req, EVGui::DiscoverVMDetailsReq::kTypeId, resp));
  ASSERT_EQ(1u, resp.ListSize(EVGui::DiscoverVMDetailsResp::kGuestHosts));
  const CNMessageBase& guest = resp.GetListMsg(EVGui::DiscoverVMDetailsResp::kGuestHosts, 0);
  ASSERT_EQ(2u, guest.ListSize(EVGui::GuestHost::kSnapshots));
  EXPECT_EQ("__OB_BACKUP__", guest.GetListMsg(EVGui::GuestHost::kSnapshots, 0).GetString(EVGui::VMSnapshot::kName));
  EXPECT_EQ("__OB_FAILOVER__", guest.GetListMsg(EVGui::GuestHost::kSnapshots, 1).GetString(EVGui::VMSnapshot::kName));
}

TEST_F(LabServices, MemberServersComeInTheInstancesOrderAndAreCounted) {
  SLabProxy both = Proxy(kProxyA2, "proxy-a2", kSiteA, 0);
  both.instances.push_back(SLabProxyInstance{kSiteB, 3});
  ASSERT_TRUE(CHypervisorLab::AddProxy(both));
  const long long before = CHypervisorLab::MemberServerCalls();
  EXPECT_EQ((std::vector<long long>{kProxyA2, kProxyA1}), MemberServers(kSiteA));
  EXPECT_EQ((std::vector<long long>{kProxyB1, kProxyB2, kProxyA2}), MemberServers(kSiteB));
  EXPECT_EQ(std::vector<long long>{}, MemberServers(77));
  EXPECT_EQ(before + 3, CHypervisorLab::MemberServerCalls());
}

TEST_F(LabServices, VMInformationReportsAnAddressOnlyWhileItCanBeSeen) {
  QSMServer::QVirtualMachineReq info;
  ASSERT_EQ(0, VmAuxOps::getVMInfo("src-1", info));
  EXPECT_EQ("web", info.GetString(QSMServer::QVirtualMachineReq::kVMName));
  EXPECT_EQ("esx-3", info.GetString(QSMServer::QVirtualMachineReq::kHostName));
  EXPECT_EQ(VM(kSiteA, "src-1").ip, info.GetString(QSMServer::QVirtualMachineReq::kIpAddress));
  ASSERT_EQ(0, Op(47, kSiteA, "src-1").rc);
  ASSERT_EQ(0, VmAuxOps::getVMInfo("src-1", info));
  EXPECT_EQ("", info.GetString(QSMServer::QVirtualMachineReq::kIpAddress)) << "no connected adapter";

  SLabVM quiet = VMOn(kSiteA, "src-9", "quiet", true);
  quiet.toolsInstalled = false;
  ASSERT_TRUE(CHypervisorLab::AddVM(quiet));
  ASSERT_EQ(0, VmAuxOps::getVMInfo("src-9", info));
  EXPECT_EQ("", info.GetString(QSMServer::QVirtualMachineReq::kIpAddress)) << "no tools";
  EXPECT_EQ(kLabVMNotFound, VmAuxOps::getVMInfo("nobody", info));

  // A clone is known by its own GUID, and it is off.
  const SLabOpResult clone = Op(6, kSiteB, "", "web-DR-Clone-1", [](TMMsg::VMProvisioningOption&, Ida::VMOpReq& req) {
    req.MutableMsg(Ida::VMOpReq::kCloneSourceVM).SetString(ZnEntities::VirtualMachineEntity::kName, "web-DR");
  });
  ASSERT_EQ(0, clone.rc) << clone.ErrorText();
  ASSERT_EQ(0, VmAuxOps::getVMInfo(clone.CreatedGuid(), info));
  EXPECT_EQ("web-DR-Clone-1", info.GetString(QSMServer::QVirtualMachineReq::kVMName));
  EXPECT_EQ(0, info.GetInt32(QSMServer::QVirtualMachineReq::kPowerState));
}

TEST_F(LabServices, TheServerKnowsTheLabsInstancesProxiesAndVMClients) {
  SLabInstance withFBR = Site(7, "site-c", 4);
  withFBR.fbrClientId = static_cast<int>(kProxyB2);
  ASSERT_TRUE(CHypervisorLab::AddInstance(withFBR));
  unsigned long fbr = 0;
  EXPECT_EQ(0, InstanceTypeVirtualServer(7).getFBRUnixMediaAgent(fbr));
  EXPECT_EQ(static_cast<unsigned long>(kProxyB2), fbr);
  EXPECT_EQ(InstanceTypeVirtualServer::kNoFBRMediaAgent, InstanceTypeVirtualServer(kSiteA).getFBRUnixMediaAgent(fbr));
  std::string host;
  ASSERT_EQ(0, InstanceTypeVirtualServer(7).getProperty(ZN_PROP_VIRTUAL_SERVER_HOST, host));
  EXPECT_EQ("hv-site-c.lab", host);

  std::string dir;
  ASSERT_EQ(0, ZNClient(static_cast<int>(kProxyA1)).getInstallDirectory(dir, 4, nullptr));
  EXPECT_EQ("/opt/dr/proxy-a1", dir);
  // A client without the property is given the platform's default folder.
  ASSERT_EQ(0, ZNClient(kSourceClient).getInstallDirectory(dir, 4, nullptr));
  EXPECT_EQ(ZNClient::kDefaultInstallDirectory, dir);
  EXPECT_NE(0, ZNClient(424242).getInstallDirectory(dir, 4, nullptr));

  SLabVM cloud = VMOn(7, "cloud-1", "cloud-vm", true);
  cloud.clientId = 1201;
  cloud.projectId = "proj-42";
  ASSERT_TRUE(CHypervisorLab::AddVM(cloud));
  std::string project, uuid;
  ASSERT_EQ(0, ClientProperties(1201).getVSAProjectId(project));
  EXPECT_EQ("proj-42", project);
  ASSERT_EQ(0, ClientProperties(1201).getVMInstanceUUID(uuid));
  EXPECT_EQ("cloud-1", uuid);
}

// ---- what child jobs leave on the lab

TEST_F(LabServices, ABackupRecordsTheContentASyncCopiesWithOneBackupSnapshot) {
  AddVM(1);  // the replication the jobs work on
  ASSERT_EQ(EStoreResult::kOk, CHypervisorLab::BumpContent(kSiteA, "src-1"));  // 6
  RunJob(EChildJobType::kBackup, {1});
  SLabReplica replica;
  ASSERT_EQ(EStoreResult::kOk, CHypervisorLab::GetReplica(1, replica));
  EXPECT_EQ(6, replica.backedUpContent);
  EXPECT_EQ(0, VM(kSiteB, "dst-1").content) << "nothing reaches the DR VM before the sync";

  ASSERT_EQ(EStoreResult::kOk, CHypervisorLab::BumpContent(kSiteA, "src-1"));  // 7, after the backup
  RunJob(EChildJobType::kSync, {1});
  EXPECT_EQ(6, VM(kSiteB, "dst-1").content) << "the backed-up content, not the live one";
  std::vector<SLabSnapshot> snaps = Snaps(kSiteB, "dst-1");
  ASSERT_EQ(1u, snaps.size());
  EXPECT_EQ("__OB_BACKUP__", snaps[0].name);
  EXPECT_EQ(6, snaps[0].content);

  RunJob(EChildJobType::kBackup, {1});
  RunJob(EChildJobType::kSync, {1});
  snaps = Snaps(kSiteB, "dst-1");
  ASSERT_EQ(1u, snaps.size()) << "still exactly one";
  EXPECT_EQ(7, snaps[0].content);

  // A failed backup records nothing; a failed sync copies nothing.
  ASSERT_EQ(EStoreResult::kOk, CHypervisorLab::BumpContent(kSiteA, "src-1"));  // 8
  RunJob(EChildJobType::kBackup, {1}, false);
  ASSERT_EQ(EStoreResult::kOk, CHypervisorLab::GetReplica(1, replica));
  EXPECT_EQ(7, replica.backedUpContent);
  RunJob(EChildJobType::kBackup, {1});
  RunJob(EChildJobType::kSync, {1}, false);
  EXPECT_EQ(7, VM(kSiteB, "dst-1").content);
}

TEST_F(LabServices, AFailbackRestoreCopiesTheDRVMBackToItsSource) {
  ASSERT_EQ(EStoreResult::kOk, CHypervisorLab::BumpContent(kSiteB, "dst-1"));
  ASSERT_EQ(EStoreResult::kOk, CHypervisorLab::BumpContent(kSiteB, "dst-1"));
  RunJob(EChildJobType::kRestore, {1, 55});
  EXPECT_EQ(2, VM(kSiteA, "src-1").content);
}

}  // namespace
