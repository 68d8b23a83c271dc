// A small two-site hypervisor lab for the tests: site A (instance 3, proxies
// 31 and 32) holds the source VMs, site B (instance 4, proxies 41 and 42)
// the DR VM of replication 1; VM operations are sent through the platform's
// entry as the DR job sends them.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "JobSimTestSupport.h"
#include "msg/MsgClasses.h"
#include "sim/Simulators.h"
#include "vm/HypervisorLab.h"
#include "vm/VmOperation.h"

namespace drtest {

// Plants a fault of the kind on the calls from..to (counted among those it
// matches) of an operation type on a VM; the fault as planted.
inline SLabFault AddLabFault(ELabFault kind, int opType, const std::string& vm, int from, int to, int code = 0,
                             const std::string& text = "") {
  SLabFault f;
  f.kind = kind;
  f.opType = opType;
  f.vm = vm;
  f.fromCall = from;
  f.toCall = to;
  f.code = code;
  f.text = text;
  EXPECT_TRUE(CHypervisorLab::AddFault(f));
  return f;
}

}  // namespace drtest

struct SLabOpResult {
  int rc = 0;
  Ida::VMOpResp response;

  int ErrorCode() const { return response.GetMsg(Ida::VMOpResp::kError).GetInt32(ZNGui::GenericResp::kErrorCode); }
  std::string ErrorText() const {
    return response.GetMsg(Ida::VMOpResp::kError).GetString(ZNGui::GenericResp::kErrorText);
  }
  long long Proxy() const { return response.GetInt64(Ida::VMOpResp::kProxyClientId); }
  size_t VMCount() const { return response.ListSize(Ida::VMOpResp::kVirtualMachines); }
  const Ida::VirtualMachine& FirstVM() const {
    return response.GetListMsgAs<Ida::VirtualMachine>(Ida::VMOpResp::kVirtualMachines, 0);
  }
  std::string FirstVMName() const {
    return FirstVM().GetMsg(Ida::VirtualMachine::kEntity).GetString(ZnEntities::VirtualMachineEntity::kName);
  }
  std::string CreatedGuid() const {
    return response.GetMsg(Ida::VMOpResp::kCreatedVM).GetString(ZnEntities::VirtualMachineEntity::kGuid);
  }
};

using LabRequestEdit = std::function<void(TMMsg::VMProvisioningOption&, Ida::VMOpReq&)>;

class CLabTestBase : public CJobSimTestBase {
 public:
  static constexpr long long kSiteA = 3;
  static constexpr long long kSiteB = 4;
  static constexpr long long kProxyA1 = 31;
  static constexpr long long kProxyA2 = 32;
  static constexpr long long kProxyB1 = 41;
  static constexpr long long kProxyB2 = 42;
  static constexpr int kSourceClient = 1101;

  void SetUp() override {
    CJobSimTestBase::SetUp();
    std::string error;
    ASSERT_TRUE(CSimulators::CreateTables(error)) << error;
    ASSERT_TRUE(CHypervisorLab::AddInstance(Site(kSiteA, "site-a", 1)));
    ASSERT_TRUE(CHypervisorLab::AddInstance(Site(kSiteB, "site-b", 1)));
    ASSERT_TRUE(CHypervisorLab::AddProxy(Proxy(kProxyA1, "proxy-a1", kSiteA, 1)));
    ASSERT_TRUE(CHypervisorLab::AddProxy(Proxy(kProxyA2, "proxy-a2", kSiteA, 2)));
    ASSERT_TRUE(CHypervisorLab::AddProxy(Proxy(kProxyB1, "proxy-b1", kSiteB, 1)));
    ASSERT_TRUE(CHypervisorLab::AddProxy(Proxy(kProxyB2, "proxy-b2", kSiteB, 2)));
    SLabVM web = VMOn(kSiteA, "src-1", "web", true);
    web.content = 5;
    web.clientId = kSourceClient;
    ASSERT_TRUE(CHypervisorLab::AddVM(web));
    SLabVM db = VMOn(kSiteA, "src-2", "db", false);
    db.toolsInstalled = false;
    ASSERT_TRUE(CHypervisorLab::AddVM(db));
    ASSERT_TRUE(CHypervisorLab::AddVM(VMOn(kSiteB, "dst-1", "web-DR", false)));
    SLabSnapshot backup;
    backup.instanceId = kSiteB;
    backup.vmGuid = "dst-1";
    backup.name = CHypervisorLab::kBackupSnapshotName;
    ASSERT_TRUE(CHypervisorLab::AddSnapshot(backup));
    SLabReplica replica;
    replica.replicationId = 1;
    replica.sourceInstanceId = kSiteA;
    replica.sourceGuid = "src-1";
    replica.destInstanceId = kSiteB;
    replica.destGuid = "dst-1";
    replica.destName = "web-DR";
    ASSERT_TRUE(CHypervisorLab::AddReplica(replica));
  }

 public:
  static SLabInstance Site(long long id, const std::string& name, int vendor) {
    SLabInstance site;
    site.id = id;
    site.name = name;
    site.vendor = vendor;
    site.host = "hv-" + name + ".lab";
    site.clientId = static_cast<int>(id);
    SLabRegion region;
    region.name = "dc-" + name;
    region.datastores = {"ds-" + name + "-1", "ds-" + name + "-2"};
    region.networks = {SLabNetwork{"net-" + name, {"10.1.0.0/24", "10.1.1.0/24"}}};
    region.sizes = {SLabVMSize{"Standard_B1s", 1, 1024, 2}, SLabVMSize{"Standard_D2s", 2, 8192, 4}};
    site.regions = {region};
    return site;
  }

  static SLabProxy Proxy(long long id, const std::string& name, long long instance, int position) {
    SLabProxy proxy;
    proxy.clientId = id;
    proxy.name = name;
    proxy.installDirectory = "/opt/dr/" + name;
    proxy.instances = {SLabProxyInstance{instance, position}};
    return proxy;
  }

  static SLabVM VMOn(long long instance, const std::string& guid, const std::string& name, bool on) {
    SLabVM vm;
    vm.instanceId = instance;
    vm.guid = guid;
    vm.name = name;
    vm.poweredOn = on;
    vm.ip = "10.0.0." + std::to_string(guid.size() + name.size());
    vm.host = "esx-" + std::to_string(instance);
    vm.datastores = {"ds-" + std::to_string(instance)};
    vm.nics = {SLabNic{"VM Network", true}};
    vm.size = "Standard_B1s";
    vm.diskSizeMB = 4096;
    return vm;
  }

  // One VM operation through the platform's entry.
  static SLabOpResult Op(int opType, long long instance, const std::string& guid, const std::string& name = "",
                         const LabRequestEdit& edit = nullptr, int seconds = 1800, bool retry = true) {
    TMMsg::VMProvisioningOption option;
    option.SetInt32(TMMsg::VMProvisioningOption::kOperationType, opType);
    Ida::VMOpReq request;
    request.MutableMsg(Ida::VMOpReq::kInstance).SetInt64(ZnEntities::PolicyInstanceFields::kInstanceId, instance);
    CNMessageBase& entity =
        request.MutableMsg(Ida::VMOpReq::kVirtualMachine).MutableMsg(Ida::VirtualMachine::kEntity);
    entity.SetString(ZnEntities::VirtualMachineEntity::kGuid, guid);
    entity.SetString(ZnEntities::VirtualMachineEntity::kName, name);
    if (edit) edit(option, request);
    SLabOpResult result;
    result.rc = VmOperation::PerformRemoteVMOperation(option, request, result.response, seconds, retry);
    return result;
  }

  // A snapshot request on the option (name, reference).
  static LabRequestEdit Snapshot(const std::string& name, const std::string& ref = "") {
    return [=](TMMsg::VMProvisioningOption& option, Ida::VMOpReq&) {
      CNMessageBase& snap = option.AddMsg(TMMsg::VMProvisioningOption::kSnapOpRequests)
                                .MutableMsg(Ida::VMSnapOpReq::kSnapshot);
      snap.SetString(Ida::VMSnapshot::kName, name);
      snap.SetString(Ida::VMSnapshot::kDescription, "by the test");
      if (!ref.empty()) snap.MutableMsg(Ida::VMSnapshot::kReference).SetString(Ida::SnapshotReference::kMoref, ref);
    };
  }

  static SLabVM VM(long long instance, const std::string& guid) {
    SLabVM vm;
    EXPECT_EQ(EStoreResult::kOk, CHypervisorLab::GetVM(instance, guid, vm)) << guid;
    return vm;
  }

  static std::vector<SLabSnapshot> Snaps(long long instance, const std::string& guid) {
    std::vector<SLabSnapshot> snaps;
    EXPECT_EQ(EStoreResult::kOk, CHypervisorLab::Snapshots(instance, guid, snaps));
    return snaps;
  }

  static std::vector<SLabCall> Journal() {
    std::vector<SLabCall> calls;
    EXPECT_EQ(EStoreResult::kOk, CHypervisorLab::Calls(calls));
    return calls;
  }

  static SLabFault Fault(ELabFault kind, int opType, const std::string& vm, int from, int to, int code = 0,
                         const std::string& text = "") {
    return drtest::AddLabFault(kind, opType, vm, from, to, code, text);
  }
};
