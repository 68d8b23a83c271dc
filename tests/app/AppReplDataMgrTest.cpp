// The application replication record and its data manager over the
// replica-sync store: field identities, loads that stop at a failed query,
// reloads that keep the record, partial stores, and stores while another
// thread reloads.
#include <atomic>
#include <string>
#include <vector>

#include "AppReplTestSupport.h"
#include "TestThread.h"
#include "Db/DbTestSupport.h"
#include "app/AppReplDataMgr.h"
#include "log/LogSink.h"
#include "repl/ReplicaSyncReplication.h"
#include "core/StopState.h"

namespace {

using SyncInfo = App::ReplicaSyncReplicationInfo;
using drtest::SDBReplication;

// A record whose message is another class, with the same meanings at other
// numbers: the replication id at (2, 12), the sync status at the crossed
// pair (17, 2), no failover status at all.
class COtherMessageRepInfo : public AppRepInfo {
 public:
  CNMessageBase& GetBaseRepInfo() override { return m_other; }
  const SAppRepFieldTable& GetFieldTable() const override {
    static const SAppRepFieldTable kTable = {
        MsgTest::AllKinds::kInt32, kNoRepField, kNoRepField, kNoRepField, kNoRepField,
        MsgTest::AllKinds::kCrossedInt32, kNoRepField, MsgTest::AllKinds::kString, kNoRepField, kNoRepField,
        kNoRepField, kNoRepField, MsgTest::AllKinds::kInt64, kNoRepField,
    };
    return kTable;
  }
  MsgTest::AllKinds m_other;
};

TEST(AppRepInfoFields, ASubclassMessageCarriesEveryGetterAndSetterByMeaning) {
  COtherMessageRepInfo rep;
  rep.m_other.SetInt32(MsgTest::AllKinds::kInt32, 77);
  rep.m_other.SetInt32(MsgTest::AllKinds::kCrossedInt32, App::VSA_REPL_STATUS_NEED_SYNC);
  rep.m_other.SetInt64(MsgTest::AllKinds::kInt64, 1LL << 40);
  rep.m_other.SetString(MsgTest::AllKinds::kString, "guid-77");

  EXPECT_EQ(77, rep.GetReplId());
  EXPECT_EQ(App::VSA_REPL_STATUS_NEED_SYNC, rep.GetStatus());
  EXPECT_EQ(1LL << 40, rep.GetLastSyncedJobId());
  EXPECT_EQ("guid-77", rep.GetSourceGuid());
  EXPECT_EQ(App::VSA_FAILOVER_STATUS_NONE, rep.GetFailoverStatus());
  EXPECT_EQ(0, rep.GetTaskId());
  EXPECT_EQ(0, rep.GetSubTaskId());
  EXPECT_EQ("", rep.GetSourceName());

  rep.setSyncStatus(App::VSA_REPL_STATUS_SYNC_DISABLED);
  rep.setFailoverStatus(App::VSA_FAILOVER_STATUS_FAILOVER_COMPLETE);
  EXPECT_EQ(App::VSA_REPL_STATUS_SYNC_DISABLED, rep.m_other.GetInt32(MsgTest::AllKinds::kCrossedInt32));
  // The field the crossed pair's b index would hit stays as it was.
  EXPECT_EQ(77, rep.m_other.GetInt32(MsgTest::AllKinds::kInt32));
  EXPECT_EQ(App::VSA_FAILOVER_STATUS_NONE, rep.GetFailoverStatus());
  // The record's own application message is never touched.
  EXPECT_EQ(0u, static_cast<AppRepInfo&>(rep).AppRepInfo::GetBaseRepInfo().FieldCount());
}

TEST(AppRepInfoFields, TheApplicationMessageByItsOwnNumbers) {
  SDBReplication r = drtest::SimpleDBReplication(5);
  r.syncStatus = App::VSA_REPL_STATUS_NEED_SYNC;
  AppRepInfo rep(drtest::DBReplicationInfo(r));
  EXPECT_EQ(5, rep.GetReplId());
  EXPECT_EQ(41, rep.GetTaskId());
  EXPECT_EQ(410, rep.GetSubTaskId());
  EXPECT_EQ(31, rep.getSubclientId());
  EXPECT_EQ(15, rep.GetSourceVClientId());
  EXPECT_EQ(22, rep.GetApplicationId());
  EXPECT_EQ(105, rep.GetSrcInstanceId());
  EXPECT_EQ(205, rep.GetDestInstanceId());
  EXPECT_EQ("ORCL5", rep.GetSourceName());
  EXPECT_EQ("ORCL5DR", rep.GetDestinationName());
  EXPECT_EQ("dst5", rep.GetDestination().GetString(ZnEntities::SubClientEntity::kClientName));
  EXPECT_EQ(App::VSA_REPL_STATUS_NEED_SYNC, rep.GetStatus());
  // Absent fields read empty.
  EXPECT_EQ(App::DR_TEST_FAILOVER_STATUS_NONE, rep.GetTestFailoverStatus());
  EXPECT_EQ("", rep.GetProxyVMName());
  EXPECT_EQ("", rep.GetProxyVMGuid());
  EXPECT_FALSE(rep.IsIndexingV2());

  rep.setTestFailoverStatus(App::DR_TEST_FAILOVER_STATUS_COMPLETE);
  rep.setLastRestoreTime(1234);
  EXPECT_EQ(1, rep.GetLSReplicationInfo().GetInt32(SyncInfo::kTestFailoverStatus));
  EXPECT_EQ(1234, rep.GetLSReplicationInfo().GetInt32(SyncInfo::kLastRestoreTime));

  AppRepInfo empty;
  EXPECT_EQ(0, empty.GetSubTaskId());
  EXPECT_EQ(0, empty.getSubclientId());
}

class AppReplDataMgrTest : public CDbTestBase {
 protected:
  void SetUp() override {
    CDbTestBase::SetUp();
    CLogSink::Instance().ClearCapture();
  }
  void TearDown() override {
    m_mgr.reset();
    CDbTestBase::TearDown();
  }
  CAppReplDataMgr& Manager(const std::vector<int>& ids) {
    m_info.jobId = 77;
    m_info.drGroupId = 3;
    m_info.replIds = ids;
    m_mgr.reset(new CAppReplDataMgr(m_info));
    return *m_mgr;
  }
  AppRepInfo* Record(int id) { return static_cast<AppRepInfo*>(m_mgr->FetchData(id)); }
  static bool Logged(const std::string& text) { return CLogSink::Instance().Contains(text); }

  SDataSourceInfo m_info;
  std::unique_ptr<CAppReplDataMgr> m_mgr;
};

TEST_F(AppReplDataMgrTest, ALoadStopsAtTheFirstFailedQueryKeepingWhatCameBefore) {
  for (int id : {1, 2, 3}) drtest::StoreDBReplication(drtest::SimpleDBReplication(id));
  ASSERT_TRUE(CReplicaSyncStore::SetFault(2, EReplicaSyncFault::kQueryFails));
  CAppReplDataMgr& mgr = Manager({1, 2, 3});

  EXPECT_FALSE(mgr.LoadData(m_info));
  EXPECT_NE(nullptr, Record(1));
  EXPECT_EQ(nullptr, Record(2));
  EXPECT_EQ(nullptr, Record(3));
  EXPECT_TRUE(Logged("Failed to get site replication info for repl id [2] with error [Query of replication [2] "
                     "failed (injected)]"));

  // An empty answer stops it the same way.
  ASSERT_TRUE(CReplicaSyncStore::SetFault(2, EReplicaSyncFault::kQueryEmpty));
  EXPECT_FALSE(mgr.LoadData(m_info));
  EXPECT_EQ(nullptr, Record(3));
  EXPECT_TRUE(Logged("Empty site replication vector."));

  // So does an id the store does not know.
  ASSERT_TRUE(CReplicaSyncStore::SetFault(2, EReplicaSyncFault::kNone));
  m_info.replIds = {1, 9, 3};
  EXPECT_FALSE(mgr.LoadData(m_info));
  EXPECT_EQ(nullptr, Record(3));

  m_info.replIds = {1, 2, 3};
  EXPECT_TRUE(mgr.LoadData(m_info));
  EXPECT_NE(nullptr, Record(3));
  EXPECT_TRUE(Logged("ReplicaSyncReplicationInfo response=["));
}

TEST_F(AppReplDataMgrTest, AReloadAssignsIntoTheRecordItHandedOut) {
  drtest::StoreDBReplication(drtest::SimpleDBReplication(1));
  CAppReplDataMgr& mgr = Manager({1});
  ASSERT_TRUE(mgr.LoadData(m_info));
  AppRepInfo* before = Record(1);
  ASSERT_NE(nullptr, before);
  EXPECT_EQ(App::VSA_REPL_STATUS_IN_SYNC, before->GetStatus());

  // Another process changes the replication; the reload brings it in.
  SyncInfo change;
  change.SetInt32(SyncInfo::kReplicationId, 1);
  change.SetInt32(SyncInfo::kSyncStatus, App::VSA_REPL_STATUS_NEED_SYNC);
  std::string error;
  ASSERT_EQ(0, CReplicaSyncStore::Merge(change, error)) << error;
  EXPECT_TRUE(mgr.ReloadData(m_info));
  EXPECT_EQ(before, Record(1));
  EXPECT_EQ(App::VSA_REPL_STATUS_NEED_SYNC, before->GetStatus());
  m_info.replId = 1;
  EXPECT_EQ(before, mgr.FetchReplData(m_info));
}

TEST_F(AppReplDataMgrTest, EachStoreSendsOnlyTheIdAndItsField) {
  drtest::StoreDBReplication(drtest::SimpleDBReplication(1));
  CAppReplDataMgr& mgr = Manager({1});
  ASSERT_TRUE(mgr.LoadData(m_info));

  // Fields changed elsewhere after the load: a store that sent the whole
  // cached record would put the old values back.
  SyncInfo elsewhere;
  elsewhere.SetInt32(SyncInfo::kReplicationId, 1);
  elsewhere.SetInt32(SyncInfo::kFailoverStatus, App::VSA_FAILOVER_STATUS_FAILOVER_FAILED);
  elsewhere.SetInt32(SyncInfo::kLastRestoreTime, 999);
  elsewhere.SetString(SyncInfo::kSourceGuid, "moved");
  std::string error;
  ASSERT_EQ(0, CReplicaSyncStore::Merge(elsewhere, error)) << error;

  EXPECT_TRUE(mgr.UpdateSyncStatus(1, App::VSA_REPL_STATUS_SYNC_DISABLED));
  SyncInfo stored = drtest::StoredDBReplication(1);
  EXPECT_EQ(App::VSA_REPL_STATUS_SYNC_DISABLED, stored.GetInt32(SyncInfo::kSyncStatus));
  EXPECT_EQ(App::VSA_FAILOVER_STATUS_FAILOVER_FAILED, stored.GetInt32(SyncInfo::kFailoverStatus));
  EXPECT_EQ("moved", stored.GetString(SyncInfo::kSourceGuid));
  EXPECT_TRUE(Logged("Setting sync status as [Sync Disabled] for replication [1]"));

  SDataSourceInfo one;
  one.replId = 1;
  EXPECT_TRUE(mgr.UpdateFailoverStatus(one, App::VSA_FAILOVER_STATUS_FAILOVER_COMPLETE));
  stored = drtest::StoredDBReplication(1);
  EXPECT_EQ(App::VSA_FAILOVER_STATUS_FAILOVER_COMPLETE, stored.GetInt32(SyncInfo::kFailoverStatus));
  EXPECT_EQ(999, stored.GetInt32(SyncInfo::kLastRestoreTime));
  EXPECT_TRUE(Logged("[Failover Complete] for replication [1]"));

  EXPECT_TRUE(mgr.SetLastRestoreTime(1, 4321));
  stored = drtest::StoredDBReplication(1);
  EXPECT_EQ(4321, stored.GetInt32(SyncInfo::kLastRestoreTime));
  EXPECT_EQ(App::VSA_REPL_STATUS_SYNC_DISABLED, stored.GetInt32(SyncInfo::kSyncStatus));
  EXPECT_TRUE(Logged("Setting last restore time as [4321] for replication [1]"));

  // The next query reads every stored change back into the record.
  EXPECT_TRUE(mgr.ReloadData(m_info));
  EXPECT_EQ("moved", Record(1)->GetSourceGuid());
  EXPECT_EQ(App::VSA_FAILOVER_STATUS_FAILOVER_COMPLETE, Record(1)->GetFailoverStatus());

  // Through the data manager interface.
  one.syncStatus = App::VSA_REPL_STATUS_IN_SYNC;
  EXPECT_TRUE(mgr.UpdateProperty(ZNDR::DR_PROPERTY_SYNC_STATUS, one));
  one.failoverStatus = App::VSA_FAILOVER_STATUS_NONE;
  EXPECT_TRUE(mgr.UpdateProperty(ZNDR::DR_PROPERTY_FAILOVER_STATUS, one));
  stored = drtest::StoredDBReplication(1);
  EXPECT_EQ(App::VSA_REPL_STATUS_IN_SYNC, stored.GetInt32(SyncInfo::kSyncStatus));
  EXPECT_EQ(App::VSA_FAILOVER_STATUS_NONE, stored.GetInt32(SyncInfo::kFailoverStatus));
}

TEST_F(AppReplDataMgrTest, StoresOfIdsNotLoadedAndOtherPropertiesSendNothing) {
  drtest::StoreDBReplication(drtest::SimpleDBReplication(1));
  drtest::StoreDBReplication(drtest::SimpleDBReplication(2));
  CAppReplDataMgr& mgr = Manager({1});
  ASSERT_TRUE(mgr.LoadData(m_info));

  EXPECT_FALSE(mgr.UpdateSyncStatus(2, App::VSA_REPL_STATUS_SYNC_DISABLED));
  EXPECT_TRUE(Logged("Replication [2] is not loaded; nothing stored"));
  EXPECT_EQ(App::VSA_REPL_STATUS_IN_SYNC, drtest::StoredDBReplication(2).GetInt32(SyncInfo::kSyncStatus));

  SDataSourceInfo one;
  one.replId = 1;
  one.lastRestoreTime = 55;
  const SyncInfo before = drtest::StoredDBReplication(1);
  for (ZNDR::DR_ORCHESTRATION_PROPERTY p : {ZNDR::DR_PROPERTY_LAST_RESTORE_TIME, ZNDR::DR_PROPERTY_VM_SYNCED_TILL_TIME,
                                           ZNDR::DR_PROPERTY_RESET_DEST_VM_GUID}) {
    EXPECT_TRUE(mgr.UpdateProperty(p, one)) << p;
  }
  EXPECT_TRUE(mgr.UpdateStatus(one));
  EXPECT_FALSE(mgr.IsDRComplete(one));
  std::string a, b;
  ASSERT_TRUE(before.serializeUTF8(a));
  ASSERT_TRUE(drtest::StoredDBReplication(1).serializeUTF8(b));
  EXPECT_EQ(a, b);
}

TEST_F(AppReplDataMgrTest, AFailedStoreAnswersFalseOnlyForItsField) {
  drtest::StoreDBReplication(drtest::SimpleDBReplication(1));
  CAppReplDataMgr& mgr = Manager({1});
  ASSERT_TRUE(mgr.LoadData(m_info));
  ASSERT_TRUE(CReplicaSyncStore::SetFault(1, EReplicaSyncFault::kStoreFails, SyncInfo::kFailoverStatus.a));

  EXPECT_TRUE(mgr.UpdateSyncStatus(1, App::VSA_REPL_STATUS_SYNC_DISABLED));
  SDataSourceInfo one;
  one.replId = 1;
  EXPECT_FALSE(mgr.UpdateFailoverStatus(one, App::VSA_FAILOVER_STATUS_FAILOVER_COMPLETE));
  EXPECT_EQ(App::VSA_FAILOVER_STATUS_NONE, drtest::StoredDBReplication(1).GetInt32(SyncInfo::kFailoverStatus));
  EXPECT_EQ(App::VSA_REPL_STATUS_SYNC_DISABLED, drtest::StoredDBReplication(1).GetInt32(SyncInfo::kSyncStatus));
}

TEST_F(AppReplDataMgrTest, TheAdapterAnswersAnUnknownIdWithNothing) {
  ReplicaSyncReplication adapter;
  SyncInfo query;
  query.SetInt32(SyncInfo::kReplicationId, 404);
  std::vector<SyncInfo> out(1);
  std::string error;
  EXPECT_EQ(0, adapter.getSiteReplication(&query, out, error, nullptr));
  EXPECT_TRUE(out.empty());
  SyncInfo change;
  change.SetInt32(SyncInfo::kReplicationId, 404);
  change.SetInt32(SyncInfo::kSyncStatus, 2);
  EXPECT_NE(0, adapter.setSiteReplication(&change, error, nullptr));
  EXPECT_EQ("Replication [404] not found", adapter.getErrorString());
}

// Eight workers store while another thread reloads every record: each
// store's change of the record and its write happen together, so at the end
// every record holds what was stored last, at the address it had.
class AppReplDataMgrConcurrencyTest : public AppReplDataMgrTest {};

TEST_F(AppReplDataMgrConcurrencyTest, EightStorersAndAReloaderAgreeWithTheStore) {
  constexpr int kThreads = 8;
  constexpr int kRounds = 12;
  std::vector<int> ids;
  for (int id = 1; id <= kThreads; ++id) {
    drtest::StoreDBReplication(drtest::SimpleDBReplication(id));
    ids.push_back(id);
  }
  CAppReplDataMgr& mgr = Manager(ids);
  ASSERT_TRUE(mgr.LoadData(m_info));
  std::vector<AppRepInfo*> addresses;
  for (int id : ids) addresses.push_back(Record(id));
  const std::string path = CDBConnection::Path();

  std::atomic<bool> storing{true};
  std::atomic<int> reloads{0};
  drtest::CTestThread reloader(
      [&] {
        CDBConnection::SetPath(path);
        SDataSourceInfo mine = m_info;
        // Its own polling loop: only the loop itself can notice a stop.
        while ((storing.load() || reloads.load() == 0) && !CStopState::CurrentStopRequested()) {
          reloads += mgr.ReloadData(mine) ? 1 : 0;
        }
        CDBConnection::CloseThreadConnections();
      },
      "reloader");
  std::vector<drtest::CTestThread> storers;
  std::atomic<int> failures{0};
  for (int id : ids) {
    storers.emplace_back(
        [&, id] {
          SDataSourceInfo one;
          one.replId = id;
          for (int round = 0; round < kRounds; ++round) {
            const App::VSAReplicationStatus sync =
                round % 2 ? App::VSA_REPL_STATUS_NEED_SYNC : App::VSA_REPL_STATUS_SYNC_DISABLED;
            if (!mgr.UpdateSyncStatus(id, sync)) ++failures;
            if (!mgr.UpdateFailoverStatus(one, static_cast<App::VSAFailoverStatus>(round % 3))) ++failures;
            if (!mgr.SetLastRestoreTime(id, id * 100 + round)) ++failures;
            // A worker reads its own record between its stores, as the contexts do.
            if (mgr.FetchData(id) == nullptr) ++failures;
          }
          CDBConnection::CloseThreadConnections();
        },
        "storer " + std::to_string(id));
  }
  for (drtest::CTestThread& t : storers) ASSERT_TRUE(t.Join());
  storing = false;
  ASSERT_TRUE(reloader.Join());

  EXPECT_EQ(0, failures.load());
  EXPECT_GT(reloads.load(), 0);
  for (size_t i = 0; i < ids.size(); ++i) {
    const int id = ids[i];
    AppRepInfo* rep = Record(id);
    EXPECT_EQ(addresses[i], rep) << id;
    const SyncInfo stored = drtest::StoredDBReplication(id);
    EXPECT_EQ(App::VSA_REPL_STATUS_NEED_SYNC, stored.GetInt32(SyncInfo::kSyncStatus)) << id;
    EXPECT_EQ((kRounds - 1) % 3, stored.GetInt32(SyncInfo::kFailoverStatus)) << id;
    EXPECT_EQ(id * 100 + kRounds - 1, stored.GetInt32(SyncInfo::kLastRestoreTime)) << id;
    EXPECT_EQ(stored.GetInt32(SyncInfo::kSyncStatus), rep->GetStatus()) << id;
    EXPECT_EQ(stored.GetInt32(SyncInfo::kFailoverStatus), rep->GetFailoverStatus()) << id;
    EXPECT_EQ(stored.GetInt32(SyncInfo::kLastRestoreTime), rep->GetLSReplicationInfo().GetInt32(SyncInfo::kLastRestoreTime));
  }
}

}  // namespace
