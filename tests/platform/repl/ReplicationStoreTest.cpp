// The simulated server's VM replications: partial stores merge, reads put
// the columns, properties and stored message back together.
#include <functional>

#include "engine/DRRecordsTestSupport.h"
#include "services/DRAppManager.h"
#include "repl/VSASiteReplication.h"

namespace {

using ReplInfo = App::VSAReplicationInfo;
using Property = App::VSAReplicationProperties;

class ReplicationStoreTest : public CDRRecordsTestBase {
 protected:
  static App::VSAReplicationInfo Stored(int id) {
    App::VSAReplicationInfo out;
    EXPECT_TRUE(CReplicationStore::Get(id, out));
    return out;
  }
  static int Store(App::VSAReplicationInfo& partial) {
    VSASiteReplication adapter;
    std::string error;
    return adapter.setSiteReplication(&partial, error, nullptr);
  }
};

TEST_F(ReplicationStoreTest, PartialStoreChangesOnlyThePresentFields) {
  App::VSAReplicationInfo info = Repl(11);
  info.MutableMsg(ReplInfo::kSubclient).SetInt32(ZnEntities::SubClientEntity::kSubclientId, 300);
  CNMessageBase& p = info.AddMsg(ReplInfo::kProperties);
  p.SetInt32(Property::kPropertyId, 2207);
  p.SetString(Property::kValue, "esx1");
  StoreRepl(info, 40);

  App::VSAReplicationInfo partial;
  partial.SetInt32(ReplInfo::kReplicationId, 11);
  partial.SetInt32(ReplInfo::kFailoverStatus, 1);
  partial.SetString(ReplInfo::kDestinationVMGuid, "");  // a present empty text is set
  ASSERT_EQ(0, Store(partial));

  App::VSAReplicationInfo out = Stored(11);
  EXPECT_EQ(1, out.GetInt32(ReplInfo::kFailoverStatus));
  EXPECT_TRUE(out.Has(ReplInfo::kDestinationVMGuid));
  EXPECT_EQ("", out.GetString(ReplInfo::kDestinationVMGuid));
  EXPECT_EQ("vm11", out.GetString(ReplInfo::kSourceVMName));
  EXPECT_EQ("vm11-DR", out.GetString(ReplInfo::kDestinationVMName));
  EXPECT_EQ(1, out.GetInt32(ReplInfo::kDestinationVendor));
  EXPECT_EQ(300, out.GetMsg(ReplInfo::kSubclient).GetInt32(ZnEntities::SubClientEntity::kSubclientId));
  EXPECT_EQ(40, out.GetMsg(ReplInfo::kSubtask).GetInt32(ZnEntities::SubtaskEntity::kTaskId));
  ASSERT_EQ(1u, out.ListSize(ReplInfo::kProperties));
  EXPECT_EQ("esx1", out.GetListMsg(ReplInfo::kProperties, 0).GetString(Property::kValue));
}

TEST_F(ReplicationStoreTest, StatusStoresBetweenMessageStoresLoseNothingOfEither) {
  StoreRepl(Repl(13), 40);
  auto store = [](const std::function<void(App::VSAReplicationInfo&)>& set) {
    App::VSAReplicationInfo partial;
    partial.SetInt32(ReplInfo::kReplicationId, 13);
    set(partial);
    EXPECT_EQ(0, Store(partial));
  };
  store([](App::VSAReplicationInfo& m) { m.SetInt32(ReplInfo::kSyncStatus, 5); });
  store([](App::VSAReplicationInfo& m) { m.SetInt32(ReplInfo::kDestinationVendor, 3); });
  store([](App::VSAReplicationInfo& m) {
    m.SetInt32(ReplInfo::kFailoverStatus, 2);
    m.SetInt64(ReplInfo::kLastSyncedBackupJobId, 77);
  });
  store([](App::VSAReplicationInfo& m) { m.SetInt32(ReplInfo::kSyncStatus, 1); });
  // A job id put back to none reads as none, not as the one before.
  store([](App::VSAReplicationInfo& m) { m.SetInt64(ReplInfo::kLastSyncedBackupJobId, 0); });

  const App::VSAReplicationInfo out = Stored(13);
  EXPECT_EQ(1, out.GetInt32(ReplInfo::kSyncStatus));
  EXPECT_EQ(2, out.GetInt32(ReplInfo::kFailoverStatus));
  EXPECT_EQ(3, out.GetInt32(ReplInfo::kDestinationVendor));
  EXPECT_EQ(0, out.GetInt64(ReplInfo::kLastSyncedBackupJobId));
  EXPECT_EQ("vm13", out.GetString(ReplInfo::kSourceVMName));
}

TEST_F(ReplicationStoreTest, PropertiesMergeByIdAndAreNeverReplacedWholesale) {
  App::VSAReplicationInfo info = Repl(12);
  for (int id : {2207, 2220}) {
    CNMessageBase& p = info.AddMsg(ReplInfo::kProperties);
    p.SetInt32(Property::kPropertyId, id);
    p.SetString(Property::kValue, "old" + std::to_string(id));
  }
  StoreRepl(info);

  App::VSAReplicationInfo partial;
  partial.SetInt32(ReplInfo::kReplicationId, 12);
  CNMessageBase& changed = partial.AddMsg(ReplInfo::kProperties);
  changed.SetInt32(Property::kPropertyId, 2220);
  changed.SetString(Property::kValue, "3");
  CNMessageBase& added = partial.AddMsg(ReplInfo::kProperties);
  added.SetInt32(Property::kPropertyId, 2216);
  added.SetString(Property::kValue, "5150");
  ASSERT_EQ(0, Store(partial));

  App::VSAReplicationInfo out = Stored(12);
  ASSERT_EQ(3u, out.ListSize(ReplInfo::kProperties));
  EXPECT_EQ(2207, out.GetListMsg(ReplInfo::kProperties, 0).GetInt32(Property::kPropertyId));
  EXPECT_EQ("old2207", out.GetListMsg(ReplInfo::kProperties, 0).GetString(Property::kValue));
  EXPECT_EQ("3", out.GetListMsg(ReplInfo::kProperties, 1).GetString(Property::kValue));
  EXPECT_EQ(2216, out.GetListMsg(ReplInfo::kProperties, 2).GetInt32(Property::kPropertyId));
}

TEST_F(ReplicationStoreTest, UnknownOrUnnamedReplicationIsRefused) {
  App::VSAReplicationInfo partial;
  partial.SetInt32(ReplInfo::kFailoverStatus, 1);
  EXPECT_NE(0, Store(partial));
  partial.SetInt32(ReplInfo::kReplicationId, 999);
  VSASiteReplication adapter;
  std::string error;
  EXPECT_NE(0, adapter.setSiteReplication(&partial, error, nullptr));
  EXPECT_NE(std::string::npos, error.find("999"));
  App::VSAReplicationInfo out;
  EXPECT_FALSE(CReplicationStore::Get(999, out));
}

TEST_F(ReplicationStoreTest, RequestAnswersTheStoredReplicationsInRequestOrder) {
  StoreRepl(Repl(21), 5);
  StoreRepl(Repl(22), 5);
  std::vector<int> ids{22, 404, 21};
  App::GetVSAReplicationResp resp;
  ASSERT_TRUE(CDRAppManager::GetVSAReplicationResp(ids, resp));
  ASSERT_EQ(2u, resp.ListSize(App::GetVSAReplicationResp::kReplications));
  EXPECT_EQ(22, resp.GetListMsg(App::GetVSAReplicationResp::kReplications, 0).GetInt32(ReplInfo::kReplicationId));
  EXPECT_EQ(21, resp.GetListMsg(App::GetVSAReplicationResp::kReplications, 1).GetInt32(ReplInfo::kReplicationId));
  EXPECT_EQ((std::vector<int>{21, 22}), CReplicationStore::IdsOfTask(5));
}

}  // namespace
