// The VM replication data manager: loads, the initial records, and the
// partial stores with their pauses.
#include <thread>

#include "vsa/VSAReplDataMgr.h"
#include "engine/DRRecordsTestSupport.h"
#include "xmlreq/XMLHandler.h"
#include "sim/Simulators.h"

namespace {

class VSAReplDataMgrTest : public CDRRecordsTestBase {
 protected:
  void SetUp() override {
    CDRRecordsTestBase::SetUp();
    m_info.jobId = kJob;
    m_info.drType = TMMsg::DR_ORCHESTRATION_PLANNED_FAILOVER;
    m_info.replIds = {1, 2};
  }
  void TearDown() override {
    CSimulators::Install();
    CDRRecordsTestBase::TearDown();
  }
  static App::VSAReplicationInfo WithSync(int id, int sync) {
    App::VSAReplicationInfo info = Repl(id);
    info.SetInt32(App::VSAReplicationInfo::kSyncStatus, sync);
    return info;
  }
  VSARepInfo* Rep(CVSAReplDataMgr& mgr, int id) { return static_cast<VSARepInfo*>(mgr.FetchData(id)); }
  static App::VSAReplicationInfo Stored(int id) {
    App::VSAReplicationInfo out;
    EXPECT_TRUE(CReplicationStore::Get(id, out));
    return out;
  }

  SDataSourceInfo m_info;
};

TEST_F(VSAReplDataMgrTest, FirstNonEmptyLoadFreezesTheInitialRecords) {
  CVSAReplDataMgr mgr(m_info);
  // Nothing stored yet: an empty answer is a success that freezes nothing.
  EXPECT_TRUE(mgr.LoadData(m_info));
  EXPECT_EQ(nullptr, mgr.FetchData(1));
  StoreRepl(WithSync(1, 1));
  StoreRepl(WithSync(2, 2));
  ASSERT_TRUE(mgr.LoadData(m_info));
  StoreRepl(WithSync(1, 5));
  ASSERT_TRUE(mgr.ReloadData(m_info));

  EXPECT_EQ(App::VSA_REPL_STATUS_SYNC_FAILED, Rep(mgr, 1)->GetStatus());
  EXPECT_EQ(1, mgr.GetOriginalSyncStatus(1));
  EXPECT_EQ(2, mgr.GetOriginalSyncStatus(2));
  EXPECT_EQ(0, mgr.GetOriginalSyncStatus(3));
}

TEST_F(VSAReplDataMgrTest, FailedLoadLeavesBothMapsUntouched) {
  StoreRepl(WithSync(1, 1));
  CVSAReplDataMgr mgr(m_info);
  ASSERT_TRUE(mgr.LoadData(m_info));
  VSARepInfo* before = Rep(mgr, 1);
  StoreRepl(WithSync(1, 5));

  XMLHandler::RegisterHandler(App::GetVSAReplicationReq::kTypeId, [](int, std::string&, std::string& error) {
    error = "server down";
    return -1;
  });
  EXPECT_FALSE(mgr.LoadData(m_info));
  EXPECT_TRUE(Logged("Error [server down] contacting dhdb for VSA Replication Info "));
  // A reply without a record list is a failure too.
  XMLHandler::RegisterHandler(App::GetVSAReplicationReq::kTypeId, [](int, std::string& xml, std::string&) {
    App::GetVSAReplicationResp empty;
    return empty.serializeUTF8(xml) ? 0 : -1;
  });
  EXPECT_FALSE(mgr.LoadData(m_info));

  EXPECT_EQ(before, Rep(mgr, 1));
  EXPECT_EQ(1, Rep(mgr, 1)->GetStatus());
  EXPECT_EQ(1, mgr.GetOriginalSyncStatus(1));
}

TEST_F(VSAReplDataMgrTest, RecordWithoutIdIsSkipped) {
  XMLHandler::RegisterHandler(App::GetVSAReplicationReq::kTypeId, [](int, std::string& xml, std::string&) {
    App::GetVSAReplicationResp resp;
    resp.AddMsg(App::GetVSAReplicationResp::kReplications)
        .SetString(App::VSAReplicationInfo::kSourceVMName, "nameless");
    resp.AddMsg(App::GetVSAReplicationResp::kReplications).SetInt32(App::VSAReplicationInfo::kReplicationId, 2);
    return resp.serializeUTF8(xml) ? 0 : -1;
  });
  CVSAReplDataMgr mgr(m_info);
  ASSERT_TRUE(mgr.LoadData(m_info));
  EXPECT_NE(nullptr, mgr.FetchData(2));
  EXPECT_EQ(nullptr, mgr.FetchData(0));
}

TEST_F(VSAReplDataMgrTest, EachStoreSendsOnlyTheIdAndItsOwnFieldsAfterItsPause) {
  StoreRepl(WithSync(1, 1));
  CVSAReplDataMgr mgr(m_info);
  ASSERT_TRUE(mgr.LoadData(m_info));
  // Changed behind the manager's back: a store that sent more than its own
  // fields would overwrite these.
  App::VSAReplicationInfo other = WithSync(1, 3);
  other.SetString(App::VSAReplicationInfo::kDestinationVMName, "renamed");
  other.SetInt32(App::VSAReplicationInfo::kFailoverStatus, 4);
  StoreRepl(other);

  CPlatformClock::Instance().ClearRecords();
  EXPECT_TRUE(mgr.UpdateFailoverStatus(1, App::VSA_FAILOVER_STATUS_FAILOVER_COMPLETE));
  EXPECT_EQ(1u, CPlatformClock::Instance().CountWaits(800, "UpdateFailoverStatus"));
  App::VSAReplicationInfo out = Stored(1);
  EXPECT_EQ(1, out.GetInt32(App::VSAReplicationInfo::kFailoverStatus));
  EXPECT_EQ(3, out.GetInt32(App::VSAReplicationInfo::kSyncStatus));
  EXPECT_EQ("renamed", out.GetString(App::VSAReplicationInfo::kDestinationVMName));
  EXPECT_EQ(App::VSA_FAILOVER_STATUS_FAILOVER_COMPLETE, Rep(mgr, 1)->GetFailoverStatus());

  EXPECT_TRUE(mgr.UpdateSyncStatus(1, App::VSA_REPL_STATUS_SYNC_DISABLED));
  EXPECT_EQ(1u, CPlatformClock::Instance().CountWaits(800, "UpdateSyncStatus"));
  EXPECT_TRUE(Logged("Setting sync status as [Sync Disabled] for replication [1] VM [vm1]"));
  EXPECT_EQ(6, Stored(1).GetInt32(App::VSAReplicationInfo::kSyncStatus));
  EXPECT_EQ(1, Stored(1).GetInt32(App::VSAReplicationInfo::kFailoverStatus));

  const unsigned long late = 4102444800UL;
  EXPECT_TRUE(mgr.SetLastRestoreTime(1, late));
  EXPECT_EQ(static_cast<int64_t>(late), Stored(1).GetInt64(App::VSAReplicationInfo::kLastRestoreTime));
  EXPECT_TRUE(mgr.SetVMSyncedTillTime(1, 1234));
  EXPECT_EQ(1234, Stored(1).GetInt64(App::VSAReplicationInfo::kVMSyncedTillTime));

  EXPECT_TRUE(mgr.UpdateFlags(1, 5));
  EXPECT_EQ(1, Stored(1).GetInt32(App::VSAReplicationInfo::kFlags));
  EXPECT_EQ(1u, CPlatformClock::Instance().CountWaits(700, "UpdateFlags"));
  EXPECT_TRUE(mgr.UpdateFlags(1, 4));
  EXPECT_EQ(0, Stored(1).GetInt32(App::VSAReplicationInfo::kFlags));

  EXPECT_TRUE(mgr.ResetDestinationVMGuid(1));
  EXPECT_EQ("", Stored(1).GetString(App::VSAReplicationInfo::kDestinationVMGuid));
  EXPECT_EQ("", Rep(mgr, 1)->GetDestinationGuid());
  EXPECT_EQ("renamed", Stored(1).GetString(App::VSAReplicationInfo::kDestinationVMName));

  // Property 5 and above store nothing and succeed.
  m_info.replId = 1;
  EXPECT_TRUE(mgr.UpdateProperty(static_cast<ZNDR::DR_ORCHESTRATION_PROPERTY>(5), m_info));
  // A store of a replication the server does not know fails.
  EXPECT_FALSE(mgr.UpdateFlags(404, 1));
}

TEST_F(VSAReplDataMgrTest, PropertyStoreRefreshesTheGettersOnlyWithReload) {
  StoreRepl(Repl(1));
  CVSAReplDataMgr mgr(m_info);
  ASSERT_TRUE(mgr.LoadData(m_info));
  EXPECT_TRUE(mgr.UpdateReplPropTbl(1, 2207, "esx-a", false));
  EXPECT_EQ("", Rep(mgr, 1)->GetHostName());
  EXPECT_EQ(1u, CPlatformClock::Instance().CountWaits(700, "UpdateReplPropTbl"));
  EXPECT_TRUE(mgr.UpdateReplPropTbl(1, 2220, "2", true));
  EXPECT_EQ("esx-a", Rep(mgr, 1)->GetHostName());
  EXPECT_EQ(2, Rep(mgr, 1)->GetCloneVMCount());
  EXPECT_TRUE(Logged("Setting property value as [2] for property [2220]"));
}

TEST_F(VSAReplDataMgrTest, StatusStoreMapsTheDRTypeAndRecordsTheJob) {
  StoreRepl(Repl(1));
  m_info.replId = 1;
  m_info.status = Api::VIRTUAL_APP_PHASE_STATE_SUCCESS;

  m_info.drType = TMMsg::DR_ORCHESTRATION_REVERT_FAILOVER;
  CVSAReplDataMgr revert(m_info);
  ASSERT_TRUE(revert.LoadData(m_info));
  ASSERT_TRUE(revert.UpdateFailoverStatus(1, App::VSA_FAILOVER_STATUS_FAILOVER_COMPLETE));
  EXPECT_TRUE(revert.UpdateStatus(m_info));
  App::VSAReplicationInfo out = Stored(1);
  EXPECT_EQ(0, out.GetInt32(App::VSAReplicationInfo::kFailoverStatus));  // a successful revert stores 0, not 13
  ASSERT_EQ(1u, out.ListSize(App::VSAReplicationInfo::kProperties));
  const CNMessageBase& property = out.GetListMsg(App::VSAReplicationInfo::kProperties, 0);
  EXPECT_EQ(2216, property.GetInt32(App::VSAReplicationProperties::kPropertyId));
  EXPECT_EQ(std::to_string(kJob), property.GetString(App::VSAReplicationProperties::kValue));

  StoreRepl(Repl(1));
  m_info.drType = TMMsg::DR_ORCHESTRATION_TEST_FAILOVER;
  CVSAReplDataMgr test(m_info);
  ASSERT_TRUE(test.LoadData(m_info));
  EXPECT_TRUE(test.UpdateStatus(m_info));
  EXPECT_EQ(0u, Stored(1).ListSize(App::VSAReplicationInfo::kProperties));

  m_info.drType = TMMsg::DR_ORCHESTRATION_PLANNED_FAILOVER;
  CVSAReplDataMgr planned(m_info);
  ASSERT_TRUE(planned.LoadData(m_info));
  EXPECT_FALSE(planned.IsDRComplete(m_info));
  EXPECT_TRUE(planned.UpdateStatus(m_info));
  EXPECT_EQ(App::VSA_FAILOVER_STATUS_FAILOVER_COMPLETE, Stored(1).GetInt32(App::VSAReplicationInfo::kFailoverStatus));
  EXPECT_TRUE(planned.IsDRComplete(m_info));
}

}  // namespace
