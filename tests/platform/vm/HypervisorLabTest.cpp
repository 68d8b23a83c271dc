// The hypervisor lab end to end through the platform's VM operation entry:
// every operation type on a fresh two-site lab, sites and proxies going
// down, planted faults and hangs, and what survives a new connection.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <atomic>
#include <map>
#include <set>

#include "TestSupport.h"
#include "TestThread.h"
#include "appmgr/AppVMStore.h"
#include "appmgr/ClientProperties.h"
#include "appmgr/ClientStore.h"
#include "platform/vm/LabTestSupport.h"
#include "vm/HypervisorStore.h"
#include "vm/VmAuxOps.h"

namespace {

using VM = Ida::VirtualMachine;
using Resp = Ida::VMOpResp;

struct SOpCase {
  const char* what;
  int op;
  long long instance;
  const char* guid;
  const char* name;
  LabRequestEdit edit;
  int rc;
  std::function<void(const SLabOpResult&)> check;
  std::function<void()> prepare;
};

void PrintTo(const SOpCase& c, std::ostream* out) { *out << c.what; }

class LabOperationTypes : public CLabTestBase, public ::testing::WithParamInterface<SOpCase> {};

LabRequestEdit Flags(int flags) {
  return [flags](TMMsg::VMProvisioningOption&, Ida::VMOpReq& req) { req.SetInt32(Ida::VMOpReq::kFlags, flags); };
}

LabRequestEdit Replication(int id) {
  return [id](TMMsg::VMProvisioningOption&, Ida::VMOpReq& req) {
    req.MutableMsg(Ida::VMOpReq::kVirtualMachine).SetInt32(VM::kReplicationId, id);
  };
}

LabRequestEdit Datastore(const std::string& name, bool test) {
  return [=](TMMsg::VMProvisioningOption& option, Ida::VMOpReq& req) {
    req.MutableMsg(Ida::VMOpReq::kVirtualMachine)
        .AddMsg(VM::kDatastores)
        .SetString(VirtualServer::VMDatastoreInfo::kDatastoreName, name);
    option.SetInt32(TMMsg::VMProvisioningOption::kTestFailover, test ? 1 : 0);
    CNMessageBase& source = option.AddMsg(TMMsg::VMProvisioningOption::kLiveMounts)
                                .MutableMsg(Ida::LiveMountResp::kMountSource);
    source.SetInt64(Ida::TdfsCtx::kJobId, 777);
    source.SetInt32(Ida::TdfsCtx::kCopyId, 52);
  };
}

SLabVM LabVM(long long instance, const std::string& guid) {
  SLabVM vm;
  EXPECT_EQ(EStoreResult::kOk, CHypervisorLab::GetVM(instance, guid, vm)) << guid;
  return vm;
}

bool Exists(long long instance, const std::string& guid) {
  SLabVM vm;
  return CHypervisorLab::GetVM(instance, guid, vm) == EStoreResult::kOk;
}

size_t SnapCount(long long instance, const std::string& guid) {
  std::vector<SLabSnapshot> snaps;
  EXPECT_EQ(EStoreResult::kOk, CHypervisorLab::Snapshots(instance, guid, snaps));
  return snaps.size();
}

const long long A = CLabTestBase::kSiteA, B = CLabTestBase::kSiteB;

void PowerOnWithoutTools() { ASSERT_EQ(0, CLabTestBase::Op(10, A, "src-2", "", Flags(2)).rc); }
void PowerOnDR() { ASSERT_EQ(0, CLabTestBase::Op(10, B, "dst-1").rc); }
// A clone of the DR VM, a client of its own.
const char kCloneName[] = "web-DR-Clone-7";
void CloneOfDR() {
  const SLabOpResult r = CLabTestBase::Op(6, B, "", kCloneName, [](TMMsg::VMProvisioningOption&, Ida::VMOpReq& req) {
    req.MutableMsg(Ida::VMOpReq::kCloneSourceVM).SetString(ZnEntities::VirtualMachineEntity::kGuid, "dst-1");
  });
  ASSERT_EQ(0, r.rc);
  SClientRecord client;
  ASSERT_EQ(EStoreResult::kOk, CClientStore::FindByName(kCloneName, client));
}
// The clone and its client are gone; the VM it was made of stays.
void CloneGone(const SLabOpResult&) {
  std::vector<SLabVM> vms;
  ASSERT_EQ(EStoreResult::kOk, CHypervisorLab::VMs(B, vms));
  for (const SLabVM& vm : vms) EXPECT_NE(kCloneName, vm.name);
  EXPECT_TRUE(Exists(B, "dst-1"));
  SClientRecord client;
  EXPECT_EQ(EStoreResult::kMissing, CClientStore::FindByName(kCloneName, client));
}
// The replica synced (content 5) and its DR VM gone.
void SyncedAndGone() {
  SLabReplica replica;
  ASSERT_EQ(EStoreResult::kOk, CHypervisorLab::GetReplica(1, replica));
  replica.backedUpContent = replica.syncedContent = 5;
  ASSERT_TRUE(CHypervisorLab::AddReplica(replica));
  ASSERT_EQ(0, CLabTestBase::Op(57, B, "dst-1").rc);
}

const SOpCase kCases[] = {
    {"power on without tools", 10, A, "src-2", "", nullptr, kLabNoTools,
     [](const SLabOpResult&) { EXPECT_FALSE(LabVM(A, "src-2").poweredOn); }, nullptr},
    {"power on without tools, flags 2", 10, A, "src-2", "", Flags(2), 0,
     [](const SLabOpResult&) { EXPECT_TRUE(LabVM(A, "src-2").poweredOn); }, nullptr},
    {"power on of a VM that is on", 10, A, "src-1", "", nullptr, 0,
     [](const SLabOpResult&) { EXPECT_TRUE(LabVM(A, "src-1").poweredOn); }, nullptr},
    {"power off, by name", 29, A, "", "web", nullptr, 0,
     [](const SLabOpResult&) { EXPECT_FALSE(LabVM(A, "src-1").poweredOn); }, nullptr},
    {"power off of a VM that is off", 29, B, "dst-1", "", nullptr, 0, nullptr, nullptr},
    {"shut down", 2, A, "src-1", "", nullptr, 0,
     [](const SLabOpResult&) { EXPECT_FALSE(LabVM(A, "src-1").poweredOn); }, nullptr},
    {"shut down without tools", 2, A, "src-2", "", nullptr, kLabNoTools,
     [](const SLabOpResult&) { EXPECT_TRUE(LabVM(A, "src-2").poweredOn); },
     PowerOnWithoutTools},
    {"snapshot", 3, A, "src-1", "", CLabTestBase::Snapshot("before"), 0,
     [](const SLabOpResult& r) {
       ASSERT_EQ(1u, r.response.ListSize(Resp::kSnapshots));
       const std::string ref = r.response.GetListMsg(Resp::kSnapshots, 0)
                                   .GetMsg(Ida::VMSnapshot::kReference)
                                   .GetString(Ida::SnapshotReference::kMoref);
       std::vector<SLabSnapshot> snaps;
       ASSERT_EQ(EStoreResult::kOk, CHypervisorLab::Snapshots(A, "src-1", snaps));
       ASSERT_EQ(1u, snaps.size());
       EXPECT_EQ(ref, snaps[0].ref);
       EXPECT_EQ("before", snaps[0].name);
       EXPECT_EQ(5, snaps[0].content);
       EXPECT_TRUE(snaps[0].poweredOn);
     },
     nullptr},
    {"revert restores content and power", 4, B, "dst-1", "", CLabTestBase::Snapshot(CHypervisorLab::kBackupSnapshotName), 0,
     [](const SLabOpResult&) {
       const SLabVM vm = LabVM(B, "dst-1");
       EXPECT_EQ(0, vm.content);
       EXPECT_FALSE(vm.poweredOn);
       EXPECT_EQ(1u, SnapCount(B, "dst-1"));
     },
     [] {
       ASSERT_EQ(EStoreResult::kOk, CHypervisorLab::BumpContent(B, "dst-1"));
       PowerOnDR();
     }},
    {"delete snapshot", 15, B, "dst-1", "", CLabTestBase::Snapshot(CHypervisorLab::kBackupSnapshotName), 0,
     [](const SLabOpResult&) { EXPECT_EQ(0u, SnapCount(B, "dst-1")); }, nullptr},
    {"delete of a missing snapshot", 15, A, "src-1", "", CLabTestBase::Snapshot("nope"), kLabSnapshotNotFound, nullptr,
     nullptr},
    {"script", 46, A, "src-1", "",
     [](TMMsg::VMProvisioningOption&, Ida::VMOpReq& req) {
       req.MutableMsg(Ida::VMOpReq::kVirtualMachine)
           .MutableMsg(VM::kGuestOptions)
           .MutableMsg(Ida::VMGuestOptions::kScriptSettings)
           .SetString(Ida::VMScriptSettings::kScriptText, "/bin/warm-cache");
     },
     0,
     [](const SLabOpResult&) {
       std::vector<SLabCall> calls;
       ASSERT_EQ(EStoreResult::kOk, CHypervisorLab::Calls(calls));
       EXPECT_EQ("/bin/warm-cache", calls.back().detail);
     },
     nullptr},
    {"disable network adapters", 47, A, "src-1", "", nullptr, 0,
     [](const SLabOpResult&) {
       const SLabVM vm = LabVM(A, "src-1");
       EXPECT_FALSE(vm.nics[0].connected);
       EXPECT_EQ("", CHypervisorLab::ReportedIp(vm));
     },
     nullptr},
    {"delete a VM client", 5, A, "src-1", "", nullptr, 0,
     [](const SLabOpResult&) {
       EXPECT_FALSE(Exists(A, "src-1"));
       SAppVMRecord row;
       ASSERT_EQ(EStoreResult::kOk, CAppVMStore::FindByClient(CLabTestBase::kSourceClient, row));
       EXPECT_TRUE(row.removed);
     },
     nullptr},
    {"delete a DR VM and its snapshots", 57, B, "dst-1", "", nullptr, 0,
     [](const SLabOpResult&) {
       EXPECT_FALSE(Exists(B, "dst-1"));
       EXPECT_EQ(0u, SnapCount(B, "dst-1"));
     },
     nullptr},
    {"delete a clone and its client", 5, B, "", kCloneName, nullptr, 0, CloneGone, CloneOfDR},
    {"delete a DR clone and its client", 57, B, "", kCloneName, nullptr, 0, CloneGone, CloneOfDR},
    {"delete of a VM that is not there", 57, B, "dst-9", "", nullptr, kLabVMNotFound, nullptr, nullptr},
    {"create", 0, B, "", "fresh", nullptr, 0,
     [](const SLabOpResult& r) {
       ASSERT_FALSE(r.CreatedGuid().empty());
       EXPECT_EQ("fresh", r.FirstVMName());
       EXPECT_FALSE(LabVM(B, r.CreatedGuid()).poweredOn);
     },
     nullptr},
    {"create under a name taken", 0, A, "", "web", nullptr, kLabNameTaken,
     [](const SLabOpResult& r) { EXPECT_EQ(0u, r.VMCount()); }, nullptr},
    {"DR VM that exists is returned", 50, B, "", "", Replication(1), 0,
     [](const SLabOpResult& r) {
       EXPECT_EQ("dst-1", r.CreatedGuid());
       std::vector<SLabVM> vms;
       ASSERT_EQ(EStoreResult::kOk, CHypervisorLab::VMs(B, vms));
       EXPECT_EQ(1u, vms.size());
     },
     nullptr},
    {"DR VM from the replica", 50, B, "", "", Replication(1), 0,
     [](const SLabOpResult& r) {
       EXPECT_EQ("dst-1", r.CreatedGuid());
       EXPECT_EQ("web-DR", r.FirstVMName());
       EXPECT_EQ(5, LabVM(B, "dst-1").content) << "the replica's synced content";
     },
     SyncedAndGone},
    {"DR VM without a replica", 50, B, "", "", Replication(9), kLabNoReplica, nullptr, nullptr},
    {"clone of the DR VM", 6, B, "", "web-DR-Clone-7",
     [](TMMsg::VMProvisioningOption&, Ida::VMOpReq& req) {
       req.MutableMsg(Ida::VMOpReq::kCloneSourceVM).SetString(ZnEntities::VirtualMachineEntity::kGuid, "dst-1");
       req.MutableMsg(Ida::VMOpReq::kVirtualMachine)
           .MutableMsg(VM::kInstanceType)
           .SetString(ZnEntities::AmazonVMInstanceTypeEntity::kInstanceTypeName, "Standard_D2s");
       req.MutableMsg(Ida::VMOpReq::kVirtualMachine)
           .AddMsg(VM::kNetworkCards)
           .SetString(Ida::NetworkCard::kNetworkName, "test-net");
     },
     0,
     [](const SLabOpResult& r) {
       const SLabVM clone = LabVM(B, r.CreatedGuid());
       EXPECT_TRUE(clone.clone);
       EXPECT_EQ("Standard_D2s", clone.size);
       ASSERT_EQ(1u, clone.nics.size());
       EXPECT_EQ("test-net", clone.nics[0].network);
       SClientRecord client;
       ASSERT_EQ(EStoreResult::kOk, CClientStore::FindByName("web-DR-Clone-7", client));
       EXPECT_EQ(clone.clientId, client.id);
       EXPECT_GE(client.id, CHypervisorLab::kFirstCloneClientId);
       std::string source;
       ASSERT_EQ(0, ClientProperties(client.id).getAttribute(ZN_PROP_SOURCE_VM_CLIENT_ID, source));
       EXPECT_EQ(std::to_string(CLabTestBase::kSourceClient), source);
     },
     nullptr},
    {"clone of a VM that is not there", 6, B, "", "x-Clone",
     [](TMMsg::VMProvisioningOption&, Ida::VMOpReq& req) {
       req.MutableMsg(Ida::VMOpReq::kCloneSourceVM).SetString(ZnEntities::VirtualMachineEntity::kName, "nobody");
     },
     kLabVMNotFound, nullptr, nullptr},
    {"VM information", 16, A, "src-1", "", nullptr, 0,
     [](const SLabOpResult& r) {
       ASSERT_EQ(1u, r.VMCount());
       EXPECT_EQ("web", r.FirstVMName());
       EXPECT_EQ(1, r.FirstVM().GetInt32(VM::kPowerState));
       EXPECT_FALSE(r.FirstVM().GetString(VM::kIpAddress).empty());
     },
     nullptr},
    {"refresh", 20, B, "dst-1", "", nullptr, 0,
     [](const SLabOpResult& r) { EXPECT_TRUE(r.response.Has(Resp::kError)); }, nullptr},
    {"post failover placement", 52, B, "dst-1", "",
     [](TMMsg::VMProvisioningOption&, Ida::VMOpReq& req) {
       CNMessageBase& placement = req.MutableMsg(Ida::VMOpReq::kVirtualMachine).MutableMsg(VM::kPlacement);
       placement.SetString(Ida::VMPlacement::kEsxHost, "esx-9");
       placement.SetString(Ida::VMPlacement::kDatacenter, "dc-9");
     },
     0,
     [](const SLabOpResult&) {
       const SLabVM vm = LabVM(B, "dst-1");
       EXPECT_EQ("esx-9", vm.host);
       EXPECT_NE(std::string::npos, vm.placementXml.find("dc-9"));
     },
     nullptr},
    {"post mount failover placement", 58, B, "dst-1", "",
     [](TMMsg::VMProvisioningOption&, Ida::VMOpReq& req) {
       req.MutableMsg(Ida::VMOpReq::kVirtualMachine)
           .MutableMsg(VM::kPlacement)
           .SetString(Ida::VMPlacement::kEsxHost, "esx-8");
     },
     0, [](const SLabOpResult&) { EXPECT_EQ("esx-8", LabVM(B, "dst-1").host); }, nullptr},
    {"mount", 55, B, "dst-1", "", Datastore("snap-ds", true), 0,
     [](const SLabOpResult& r) {
       EXPECT_EQ(CLabTestBase::kProxyB1, r.Proxy());
       SLabDatastore d;
       ASSERT_EQ(EStoreResult::kOk, CHypervisorLab::GetDatastore(B, "snap-ds", d));
       EXPECT_EQ("dst-1", d.mountedVm);
       EXPECT_TRUE(d.testFailover);
     },
     nullptr},
    {"mount through a proxy other than the holder", 55, B, "dst-1", "", Datastore("snap-ds", false), 270,
     [](const SLabOpResult& r) { EXPECT_EQ(CLabTestBase::kProxyB1, r.Proxy()); },
     [] { ASSERT_TRUE(CHypervisorLab::SetDatastoreHolder(B, "snap-ds", 42)); }},
    {"unmount", 56, B, "dst-1", "", Datastore("snap-ds", false), 0,
     [](const SLabOpResult&) {
       SLabDatastore d;
       ASSERT_EQ(EStoreResult::kOk, CHypervisorLab::GetDatastore(B, "snap-ds", d));
       EXPECT_EQ("", d.mountedVm);
     },
     nullptr},
    {"an operation the lab does not know", 99, A, "src-1", "", nullptr, kLabUnsupported, nullptr, nullptr},
};

}  // namespace

TEST_P(LabOperationTypes, IsServedAndJournalledOnce) {
  const SOpCase& c = GetParam();
  if (c.prepare) c.prepare();
  const size_t before = Journal().size();
  const SLabOpResult r = Op(c.op, c.instance, c.guid, c.name, c.edit);
  EXPECT_EQ(c.rc, r.rc) << r.ErrorText();
  EXPECT_EQ(c.rc, r.ErrorCode());
  EXPECT_EQ(c.rc == 0, r.ErrorText().empty()) << r.ErrorText();
  // The instance's first proxy is up and carries every call out.
  EXPECT_EQ(c.instance == kSiteA ? kProxyA1 : kProxyB1, r.Proxy());
  const std::vector<SLabCall> calls = Journal();
  ASSERT_EQ(before + 1, calls.size());
  EXPECT_EQ(c.op, calls.back().opType);
  EXPECT_EQ(c.rc, calls.back().result);
  EXPECT_EQ(r.Proxy(), calls.back().proxyId);
  if (c.check) c.check(r);
}

INSTANTIATE_TEST_SUITE_P(EveryType, LabOperationTypes, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<SOpCase>& info) {
                           std::string name;
                           for (const char* p = info.param.what; *p; ++p) {
                             if (isalnum(static_cast<unsigned char>(*p))) name += *p;
                           }
                           return name;
                         });

// ---- sites and proxies

class HypervisorLab : public CLabTestBase {};

TEST_F(HypervisorLab, ASiteThatIsDownFailsEveryCallUntilItIsUp) {
  ASSERT_EQ(EStoreResult::kOk, CHypervisorLab::SetDown("site-a", true));
  for (int op : {10, 29, 3, 16, 20, 0}) {
    const SLabOpResult r = Op(op, kSiteA, "src-1", "web");
    EXPECT_EQ(kLabSiteDown, r.rc) << "operation " << op;
    EXPECT_EQ("Site [site-a] is down", r.ErrorText());
  }
  QSMServer::QVirtualMachineReq info;
  EXPECT_EQ(kLabSiteDown, VmAuxOps::getVMInfo("src-1", info));
  // The other site is not touched.
  EXPECT_EQ(0, Op(16, kSiteB, "dst-1").rc);
  ASSERT_EQ(EStoreResult::kOk, CHypervisorLab::SetDown("site-a", false));
  EXPECT_EQ(0, Op(29, kSiteA, "src-1").rc);
  EXPECT_EQ(EStoreResult::kMissing, CHypervisorLab::SetDown("no-such-site", true));
}

TEST_F(HypervisorLab, AProxyThatIsDownIsAConnectionFailureThatRetryGoesPast) {
  ASSERT_EQ(EStoreResult::kOk, CHypervisorLab::SetDown("proxy-a1", true));
  SLabOpResult r = Op(29, kSiteA, "src-1", "", nullptr, 1800, true);
  EXPECT_EQ(0, r.rc);
  EXPECT_EQ(kProxyA2, r.Proxy());
  EXPECT_FALSE(VM(kSiteA, "src-1").poweredOn);

  r = Op(10, kSiteA, "src-1", "", nullptr, 1800, false);
  EXPECT_EQ(VmOperation::kProxyConnectionFailure, r.rc);
  EXPECT_EQ(kProxyA1, r.Proxy()) << "the proxy that could not be reached";
  EXPECT_FALSE(VM(kSiteA, "src-1").poweredOn) << "nothing was carried out";

  // A named proxy is the only one asked.
  const LabRequestEdit viaA1 = [](TMMsg::VMProvisioningOption&, Ida::VMOpReq& req) {
    req.SetInt64(Ida::VMOpReq::kProxyClientId, kProxyA1);
  };
  EXPECT_EQ(VmOperation::kProxyConnectionFailure, Op(10, kSiteA, "src-1", "", viaA1).rc);
  const LabRequestEdit viaB1 = [](TMMsg::VMProvisioningOption&, Ida::VMOpReq& req) {
    req.SetInt64(Ida::VMOpReq::kProxyClientId, kProxyB1);
  };
  r = Op(10, kSiteA, "src-1", "", viaB1);
  EXPECT_EQ(kLabProxyNotServing, r.rc);
  EXPECT_EQ(kProxyB1, r.Proxy());

  ASSERT_EQ(EStoreResult::kOk, CHypervisorLab::SetDown("proxy-a2", true));
  r = Op(10, kSiteA, "src-1");
  EXPECT_EQ(VmOperation::kProxyConnectionFailure, r.rc);
  EXPECT_EQ(kProxyA2, r.Proxy());
  ASSERT_EQ(5u, Journal().size()) << "every call is journalled, failed or not";
  EXPECT_EQ(kLabUnknownInstance, Op(10, 99, "src-1").rc);
}

// ---- planted faults

TEST_F(HypervisorLab, AnErrorFaultHoldsForItsCallsOnlyAndChangesNothing) {
  Fault(ELabFault::kError, 29, "src-1", 2, 3, 4711, "proxy says no");
  EXPECT_EQ(0, Op(29, kSiteA, "src-1").rc);
  ASSERT_EQ(0, Op(10, kSiteA, "src-1").rc) << "another operation type does not count";
  for (int call = 2; call <= 3; ++call) {
    const SLabOpResult r = Op(29, kSiteA, "src-1");
    EXPECT_EQ(4711, r.rc);
    EXPECT_EQ("proxy says no", r.ErrorText());
    EXPECT_EQ(kProxyA1, r.Proxy());
    EXPECT_TRUE(VM(kSiteA, "src-1").poweredOn);
  }
  EXPECT_EQ(0, Op(29, kSiteA, "", "web").rc) << "the fault named the VM by GUID; the call by name is the same VM";
  EXPECT_FALSE(VM(kSiteA, "src-1").poweredOn);

  SLabFault bad;
  bad.kind = ELabFault::kError;
  bad.code = -1;
  EXPECT_FALSE(CHypervisorLab::AddFault(bad)) << "-1 is the caller's quit, never the lab's";
  bad.code = VmOperation::kMountedThroughOtherProxy;
  EXPECT_FALSE(CHypervisorLab::AddFault(bad));
}

TEST_F(HypervisorLab, ConnectionFailuresKTimesThenTheOperation) {
  Fault(ELabFault::kConnectionFailure, 10, "src-2", 1, 2);
  Fault(ELabFault::kMountedElsewhere, 55, "", 1, 1);
  const LabRequestEdit withFlags = Flags(2);
  EXPECT_EQ(VmOperation::kProxyConnectionFailure, Op(10, kSiteA, "src-2", "", withFlags).rc);
  EXPECT_EQ(VmOperation::kProxyConnectionFailure, Op(10, kSiteA, "src-2", "", withFlags).rc);
  EXPECT_FALSE(VM(kSiteA, "src-2").poweredOn);
  EXPECT_EQ(0, Op(10, kSiteA, "src-2", "", withFlags).rc);
  EXPECT_TRUE(VM(kSiteA, "src-2").poweredOn);
  EXPECT_EQ(VmOperation::kMountedThroughOtherProxy, Op(55, kSiteB, "dst-1", "", Datastore("snap-ds", false)).rc);
  EXPECT_EQ(0, Op(55, kSiteB, "dst-1", "", Datastore("snap-ds", false)).rc);
  ASSERT_TRUE(CHypervisorLab::ClearFaults());
}

TEST_F(HypervisorLab, ResponseQuirks) {
  Fault(ELabFault::kRenamedVM, 29, "src-1", 1, 1, 0, "WEB");
  Fault(ELabFault::kRenamedVM, 10, "src-1", 1, 1, 0, "web-renamed");
  Fault(ELabFault::kNoCreatedEntity, 0, "fresh", 1, 1);
  Fault(ELabFault::kNoSnapshotRef, 3, "", 1, 1);
  Fault(ELabFault::kNoRefreshError, 20, "", 1, 1);

  SLabOpResult r = Op(29, kSiteA, "src-1");
  ASSERT_EQ(0, r.rc);
  EXPECT_EQ("WEB", r.FirstVMName()) << "a name that differs only in case";
  r = Op(10, kSiteA, "src-1");
  ASSERT_EQ(1u, r.VMCount());
  EXPECT_EQ("web-renamed", r.FirstVMName());
  EXPECT_EQ("web", VM(kSiteA, "src-1").name) << "only the answer is renamed";

  r = Op(0, kSiteB, "", "fresh");
  ASSERT_EQ(0, r.rc);
  EXPECT_FALSE(r.response.Has(Resp::kCreatedVM));
  EXPECT_EQ(1u, r.VMCount());

  r = Op(3, kSiteA, "src-1", "", Snapshot("quirk"));
  ASSERT_EQ(0, r.rc);
  ASSERT_EQ(1u, r.response.ListSize(Resp::kSnapshots));
  EXPECT_EQ("", r.response.GetListMsg(Resp::kSnapshots, 0)
                    .GetMsg(Ida::VMSnapshot::kReference)
                    .GetString(Ida::SnapshotReference::kMoref));
  EXPECT_EQ(1u, Snaps(kSiteA, "src-1").size()) << "the snapshot is taken all the same";

  r = Op(20, kSiteB, "dst-1");
  EXPECT_EQ(0, r.rc);
  EXPECT_FALSE(r.response.Has(Resp::kError));
  EXPECT_TRUE(Op(20, kSiteB, "dst-1").response.Has(Resp::kError)) << "the second refresh is plain";
}

// ---- hangs

TEST_F(HypervisorLab, AHungCallCarriesItsOperationOutWhenReleased) {
  Fault(ELabFault::kHang, 29, "src-1", 1, 1);
  SLabOpResult hung;
  // The call's own time limit is scaled: only one far beyond any slow
  // machine leaves the release, not the limit, to end it. On an early exit
  // the caller's stop request ends the hang.
  constexpr int kAYearOfSeconds = 365 * 24 * 3600;
  drtest::CTestThread caller([&hung] { hung = Op(29, kSiteA, "src-1", "", nullptr, kAYearOfSeconds); },
                             "hung lab caller");
  ASSERT_TRUE(drtest::Eventually([] { return CHypervisorLab::HungCalls() == 1; }));
  // While it hangs, other calls go on and the database is free.
  EXPECT_EQ(0, Op(16, kSiteA, "src-2").rc);
  EXPECT_TRUE(VM(kSiteA, "src-1").poweredOn);
  ASSERT_TRUE(CHypervisorLab::ReleaseHangs());
  ASSERT_TRUE(caller.Join());
  EXPECT_EQ(0, hung.rc);
  EXPECT_FALSE(VM(kSiteA, "src-1").poweredOn);
  EXPECT_EQ(2u, Journal().size());
}

// A release that lands after the call read its release mark but before it
// read its faults (another process's drjob lab release, here made at that
// very point) still ends the hang the faults then plant: read the other way
// round, the mark would already count that release and the call would wait
// for one more.
TEST_F(HypervisorLab, AReleaseBetweenTheMarkAndTheFaultsStillEndsTheHang) {
  Fault(ELabFault::kHang, 29, "src-1", 1, 1);
  CHypervisorLab::SetReleaseMarkSeam([] { ASSERT_TRUE(CHypervisorLab::ReleaseHangs()); });
  constexpr int kAYearOfSeconds = 365 * 24 * 3600;
  std::atomic<bool> done{false};
  SLabOpResult hung;
  drtest::CTestThread caller(
      [&hung, &done] {
        hung = Op(29, kSiteA, "src-1", "", nullptr, kAYearOfSeconds);
        done = true;
      },
      "lab caller released between its reads");
  const bool ended = drtest::Eventually([&done] { return done.load(); });
  CHypervisorLab::SetReleaseMarkSeam(nullptr);
  // A call left waiting for one more release is ended, so the test can.
  if (!ended) {
    ASSERT_TRUE(CHypervisorLab::ReleaseHangs());
  }
  ASSERT_TRUE(caller.Join());
  EXPECT_TRUE(ended) << "the call waited for a release after the one that came between its reads";
  EXPECT_EQ(0, hung.rc);
  EXPECT_FALSE(VM(kSiteA, "src-1").poweredOn);
}

TEST_F(HypervisorLab, AHungCallEndsWhenItsSecondsRunOutOnTheScaledClock) {
  Fault(ELabFault::kHang, 29, "src-1", 1, 1);
  const SLabOpResult r = Op(29, kSiteA, "src-1", "", nullptr, 30);
  EXPECT_EQ(kLabTimedOut, r.rc);
  EXPECT_EQ("The operation did not end within [30] seconds", r.ErrorText());
  EXPECT_EQ(kProxyA1, r.Proxy());
  EXPECT_TRUE(VM(kSiteA, "src-1").poweredOn) << "a call that timed out did nothing";
  EXPECT_EQ(0, CHypervisorLab::HungCalls());
}

// ---- persistence

TEST_F(HypervisorLab, StateFaultsAndJournalOutliveTheConnection) {
  ASSERT_EQ(0, Op(29, kSiteA, "src-1").rc);
  ASSERT_EQ(0, Op(3, kSiteA, "src-1", "", Snapshot("kept")).rc);
  ASSERT_EQ(EStoreResult::kOk, CHypervisorLab::SetDown("proxy-b1", true));
  Fault(ELabFault::kError, 10, "src-1", 1, 1, 12, "planted before");
  CDBConnection::CloseThreadConnections();

  drtest::CTestThread other([] {
    const SLabVM vm = VM(kSiteA, "src-1");
    EXPECT_FALSE(vm.poweredOn);
    ASSERT_EQ(1u, Snaps(kSiteA, "src-1").size());
    EXPECT_EQ("kept", Snaps(kSiteA, "src-1")[0].name);
    EXPECT_EQ(2u, Journal().size());
    EXPECT_EQ(12, Op(10, kSiteA, "src-1").rc);
    EXPECT_EQ(kProxyB2, Op(16, kSiteB, "dst-1").Proxy());
    CDBConnection::CloseThreadConnections();
  }, "reader with its own connection");
  EXPECT_TRUE(other.Join());
}

TEST_F(HypervisorLab, MountHooksHearTheLiveMountSourceAndMayRefuse) {
  std::vector<SLabMountEvent> heard;
  int answer = 0;
  CScopedHandler<std::string, LabMountHook> hook(CHypervisorLab::MountHooks(), "test",
                                                 [&](const SLabMountEvent& e) {
                                                   heard.push_back(e);
                                                   return answer;
                                                 });
  ASSERT_EQ(0, Op(55, kSiteB, "dst-1", "", Datastore("snap-ds", true)).rc);
  ASSERT_EQ(0, Op(56, kSiteB, "dst-1", "", Datastore("snap-ds", false)).rc);
  ASSERT_EQ(2u, heard.size());
  EXPECT_EQ(55, heard[0].opType);
  EXPECT_EQ("snap-ds", heard[0].datastore);
  EXPECT_EQ("dst-1", heard[0].vmGuid);
  EXPECT_EQ(kProxyB1, heard[0].proxyId);
  EXPECT_TRUE(heard[0].testFailover);
  EXPECT_TRUE(heard[0].hasSource);
  EXPECT_EQ(777, heard[0].jobId);
  EXPECT_EQ(52, heard[0].copyId);
  EXPECT_EQ(56, heard[1].opType);
  EXPECT_FALSE(heard[1].testFailover);

  answer = 4321;
  EXPECT_EQ(4321, Op(55, kSiteB, "dst-1", "", Datastore("snap-ds", false)).rc);
  SLabDatastore d;
  ASSERT_EQ(EStoreResult::kOk, CHypervisorLab::GetDatastore(kSiteB, "snap-ds", d));
  EXPECT_EQ("", d.mountedVm) << "a refused mount mounts nothing";
  answer = -1;
  EXPECT_EQ(kLabBadRequest, Op(55, kSiteB, "dst-1", "", Datastore("snap-ds", false)).rc);
}

// A DR job killed during a mount leaves the mount's records in flight. A
// rerun need not mount there again (the mount may have gone through), so the
// next mount anywhere drops them, and one that meets them counts no overlap;
// a live process's call stays and is one.
TEST_F(HypervisorLab, AMountDropsTheCallsInFlightOfAProcessThatHasGoneOnEveryDatastore) {
  auto killedDuringItsMount = [this](long long instance, const std::vector<std::string>& datastores) {
    std::vector<std::string> argv = {DR_MOUNT_HELPER, m_dir + "/drorch.db", std::to_string(instance)};
    argv.insert(argv.end(), datastores.begin(), datastores.end());
    drtest::CChildProcess process;
    ASSERT_TRUE(process.Start(argv));
    std::string line;
    ASSERT_TRUE(process.ReadLine(line));
    EXPECT_EQ(0u, line.rfind("BEGUN ", 0)) << line;
    ASSERT_EQ(0, process.Wait());
  };
  killedDuringItsMount(kSiteB, {"snap-ds"});
  ASSERT_EQ(1, CHypervisorLab::MountsInFlight());
  ASSERT_EQ(0, Op(55, kSiteB, "dst-1", "", Datastore("snap-ds", true)).rc);
  EXPECT_EQ(0, CHypervisorLab::MountOverlaps());
  EXPECT_EQ(0, CHypervisorLab::MountsInFlight());
  killedDuringItsMount(kSiteB, {"ds-nobody-mounts"});
  ASSERT_EQ(1, CHypervisorLab::MountsInFlight());
  ASSERT_EQ(0, Op(56, kSiteB, "dst-1", "", Datastore("snap-ds", false)).rc);
  EXPECT_EQ(0, CHypervisorLab::MountsInFlight()) << "dropped though nobody met it";

  const long long live = 1000000;
  int overlaps = -1;
  ASSERT_TRUE(CHypervisorStore::BeginMountInFlight(kSiteA, {"ds-live"}, live, overlaps));
  killedDuringItsMount(kSiteA, {"ds-live"});
  ASSERT_TRUE(CHypervisorStore::BeginMountInFlight(kSiteA, {"ds-live"}, live + 1, overlaps));
  EXPECT_EQ(1, overlaps) << "the live call holds the datastore";
  EXPECT_EQ(2, CHypervisorLab::MountsInFlight());
  ASSERT_TRUE(CHypervisorStore::EndMountInFlight(live));
  ASSERT_TRUE(CHypervisorStore::EndMountInFlight(live + 1));
  EXPECT_EQ(0, CHypervisorLab::MountsInFlight());
}

// The writes and commits of one connection in the order SQLite makes them:
// each row change with the number of commits before it, so two changes with
// the same number land in one transaction.
class CWriteOrder {
 public:
  struct SChange {
    int op;
    std::string table;
    sqlite3_int64 rowid;
    int transaction;
  };
  explicit CWriteOrder(sqlite3* db) : m_db(db) {
    sqlite3_update_hook(m_db, &CWriteOrder::OnChange, this);
    sqlite3_commit_hook(m_db, &CWriteOrder::OnCommit, this);
  }
  ~CWriteOrder() {
    sqlite3_update_hook(m_db, nullptr, nullptr);
    sqlite3_commit_hook(m_db, nullptr, nullptr);
  }
  CWriteOrder(const CWriteOrder&) = delete;
  CWriteOrder& operator=(const CWriteOrder&) = delete;
  std::vector<SChange> changes;

 private:
  static void OnChange(void* self, int op, const char*, const char* table, sqlite3_int64 rowid) {
    CWriteOrder* order = static_cast<CWriteOrder*>(self);
    order->changes.push_back(SChange{op, table, rowid, order->m_commits});
  }
  static int OnCommit(void* self) {
    ++static_cast<CWriteOrder*>(self)->m_commits;
    return 0;
  }
  sqlite3* m_db;
  int m_commits = 0;
};

// A mount's or unmount's in-flight record ends in the transaction that
// stores what the call did and journals it: a process killed right after
// that commit leaves no record of a call that is over.
TEST_F(HypervisorLab, AMountEndsItsInFlightRecordInTheTransactionThatStoresIt) {
  CDBConnection* c = CDBConnection::ForThread();
  ASSERT_NE(nullptr, c);
  for (const int op : {55, 56}) {
    SCOPED_TRACE(op);
    CWriteOrder order(c->Handle());
    ASSERT_EQ(0, Op(op, kSiteB, "dst-1", "", Datastore("snap-ds", false)).rc);
    std::set<sqlite3_int64> begun;
    std::map<sqlite3_int64, int> ended;
    int stored = -1, journalled = -1;
    for (const CWriteOrder::SChange& change : order.changes) {
      if (change.table == "PLT_HvMountsInFlight" && change.op == SQLITE_INSERT) begun.insert(change.rowid);
      if (change.table == "PLT_HvMountsInFlight" && change.op == SQLITE_DELETE) ended[change.rowid] = change.transaction;
      if (change.table == "PLT_HvDatastores") stored = change.transaction;
      if (change.table == "PLT_HvCalls") journalled = change.transaction;
    }
    ASSERT_FALSE(begun.empty());
    ASSERT_NE(-1, stored);
    EXPECT_EQ(stored, journalled);
    for (const sqlite3_int64 row : begun) {
      ASSERT_EQ(1u, ended.count(row)) << "the record of row " << row << " was never ended";
      EXPECT_EQ(stored, ended[row]) << "ended outside the call's transaction";
    }
    EXPECT_EQ(0, CHypervisorLab::MountsInFlight());
  }
}

TEST_F(HypervisorLab, AFailedCallKeepsNothingButItsJournalRow) {
  const LabRequestEdit twoSnapshots = [](TMMsg::VMProvisioningOption& option, Ida::VMOpReq& req) {
    Snapshot(CHypervisorLab::kBackupSnapshotName)(option, req);
    Snapshot("never-taken")(option, req);
  };
  const SLabOpResult r = Op(15, kSiteB, "dst-1", "", twoSnapshots);
  EXPECT_EQ(kLabSnapshotNotFound, r.rc);
  EXPECT_EQ(0u, r.response.ListSize(Resp::kSnapshots));
  EXPECT_EQ(1u, Snaps(kSiteB, "dst-1").size()) << "the first deletion was undone with the call";
  ASSERT_EQ(1u, Journal().size());
  EXPECT_EQ(kLabSnapshotNotFound, Journal()[0].result);
}
