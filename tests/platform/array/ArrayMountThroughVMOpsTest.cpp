// Snapshot mounts and unmounts sent through the platform's VM operation
// entry (operations 55 and 56, as the DR job sends them) change the array
// lab's afile of the live-mount source and the replication's proxy VM.
#include <string>

#include <gtest/gtest.h>

#include "array/AfileStore.h"
#include "array/ArrayLab.h"
#include "array/ArrayLabSeed.h"
#include "array/SnapReplicationStore.h"
#include "platform/vm/LabTestSupport.h"

namespace {

using Info = Api::SnapDRReplicationInfo;

class ArrayMountThroughVMOps : public CLabTestBase {
 protected:
  static constexpr int kCopy = 52;
  static constexpr long long kBackup = 5001;

  void SetUp() override {
    CLabTestBase::SetUp();
    SSeedSnapVM vm;
    vm.replicationId = 11;
    vm.drGroupId = 900;
    vm.name = "web";
    vm.guid = "src-1";
    vm.subclientId = kSubclient;
    vm.clientId = kSourceClient;
    vm.applicationId = 411;
    vm.copyId = kCopy;
    vm.datastores = {{"snap-ds", 7, "vol_ds1", 3}};
    ASSERT_TRUE(CArrayLabSeed::AddVM(vm));
    ASSERT_TRUE(CArrayLab::SnapshotCopied(kCopy, kBackup));
    SSnapAfile afile;
    ASSERT_EQ(EStoreResult::kOk, CAfileStore::Latest(kBackup, "src-1", kCopy, afile));
    m_afile = afile.afileId;
  }

  // The mount request of the DR VM "dst-1" on the snapshot's datastore.
  static LabRequestEdit Mount(int afileId, bool test) {
    return [=](TMMsg::VMProvisioningOption& option, Ida::VMOpReq& req) {
      req.MutableMsg(Ida::VMOpReq::kVirtualMachine)
          .AddMsg(Ida::VirtualMachine::kDatastores)
          .SetString(VirtualServer::VMDatastoreInfo::kDatastoreName, "snap-ds");
      option.SetInt32(TMMsg::VMProvisioningOption::kTestFailover, test ? 1 : 0);
      CNMessageBase& source = option.AddMsg(TMMsg::VMProvisioningOption::kLiveMounts)
                                  .MutableMsg(Ida::LiveMountResp::kMountSource);
      source.SetInt32(Ida::TdfsCtx::kAfileId, afileId);
      source.SetInt64(Ida::TdfsCtx::kJobId, kBackup);
      source.SetInt32(Ida::TdfsCtx::kCopyId, kCopy);
    };
  }
  static SSnapAfile Afile(int id) {
    SSnapAfile a;
    EXPECT_EQ(EStoreResult::kOk, CAfileStore::Get(id, a));
    return a;
  }
  static Info Answered() {
    Info info;
    EXPECT_EQ(EStoreResult::kOk, CArrayLab::AnsweredReplication(11, info));
    return info;
  }

  int m_afile = 0;
};

TEST_F(ArrayMountThroughVMOps, ATestMountAndItsUnmountChangeTheAfileAndTheProxyVM) {
  ASSERT_EQ(0, Op(55, kSiteB, "dst-1", "web-DR", Mount(m_afile, true)).rc);
  SSnapAfile a = Afile(m_afile);
  EXPECT_EQ(SSnapAfile::kMountedByDR, a.mountStatus);
  EXPECT_EQ(kProxyB1, a.mountHostId);
  EXPECT_TRUE(a.failoverMount);
  Info info = Answered();
  EXPECT_EQ("web-DR", info.GetString(Info::kProxyVMName));
  EXPECT_EQ("dst-1", info.GetString(Info::kProxyVMGuid));
  EXPECT_EQ(SSnapAfile::kMountedByDR, info.GetMsg(Info::kMountRecord).GetInt32(Api::SnapDRMountRecord::kMountStatus));

  ASSERT_EQ(0, Op(56, kSiteB, "dst-1", "web-DR", Mount(m_afile, true)).rc);
  a = Afile(m_afile);
  EXPECT_EQ(SSnapAfile::kUnmounted, a.mountStatus);
  EXPECT_EQ(0, a.mountHostId);
  info = Answered();
  EXPECT_FALSE(info.Has(Info::kProxyVMName));
  EXPECT_FALSE(info.Has(Info::kProxyVMGuid));
}

TEST_F(ArrayMountThroughVMOps, AMountWithoutTheTestFlagLeavesTheProxyVMAndAnUnknownAfileIsRefused) {
  ASSERT_EQ(0, Op(55, kSiteB, "dst-1", "web-DR", Mount(m_afile, false)).rc);
  EXPECT_EQ(SSnapAfile::kMountedByDR, Afile(m_afile).mountStatus);
  EXPECT_FALSE(Answered().Has(Info::kProxyVMName));

  // An afile the array lab does not have: the operation fails and the
  // datastore is not taken.
  ASSERT_EQ(0, Op(56, kSiteB, "dst-1", "web-DR", Mount(m_afile, false)).rc);
  const SLabOpResult refused = Op(55, kSiteB, "dst-1", "web-DR", Mount(m_afile + 100, false));
  EXPECT_EQ(kLabBadRequest, refused.rc);
  EXPECT_NE(std::string::npos, refused.ErrorText().find("Mount records [array] refused the mount")) << refused.ErrorText();
  SLabDatastore ds;
  ASSERT_EQ(EStoreResult::kOk, CHypervisorLab::GetDatastore(kSiteB, "snap-ds", ds));
  EXPECT_EQ("", ds.mountedVm);
  EXPECT_EQ(SSnapAfile::kUnmounted, Afile(m_afile).mountStatus);
}

}  // namespace
