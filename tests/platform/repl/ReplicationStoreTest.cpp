// The simulated server's VM replications: partial stores merge, reads put
// the columns, properties and stored message back together.
#include "engine/DRRecordsTestSupport.h"
#include "services/DRAppManager.h"
#include "repl/VSASiteReplication.h"

namespace {

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
  info.MutableMsg(38, 38).SetInt32(0, 0, 300);
  CNMessageBase& p = info.AddMsg(25, 25);
  p.SetInt32(1, 1, 2207);
  p.SetString(2, 2, "esx1");
  StoreRepl(info, 40);

  App::VSAReplicationInfo partial;
  partial.SetInt32(1, 1, 11);
  partial.SetInt32(23, 23, 1);
  partial.SetString(5, 5, "");  // a present empty text is set
  ASSERT_EQ(0, Store(partial));

  App::VSAReplicationInfo out = Stored(11);
  EXPECT_EQ(1, out.GetInt32(23));
  EXPECT_TRUE(out.Has(5));
  EXPECT_EQ("", out.GetString(5, 5));
  EXPECT_EQ("vm11", out.GetString(4, 4));
  EXPECT_EQ("vm11-DR", out.GetString(6, 6));
  EXPECT_EQ(1, out.GetInt32(54));
  EXPECT_EQ(300, out.GetMsg(38, 38).GetInt32(0));
  EXPECT_EQ(40, out.GetMsg(9, 9).GetInt32(1));
  ASSERT_EQ(1u, out.ListSize(25, 25));
  EXPECT_EQ("esx1", out.GetListMsg(25, 25, 0).GetString(2, 2));
}

TEST_F(ReplicationStoreTest, PropertiesMergeByIdAndAreNeverReplacedWholesale) {
  App::VSAReplicationInfo info = Repl(12);
  for (int id : {2207, 2220}) {
    CNMessageBase& p = info.AddMsg(25, 25);
    p.SetInt32(1, 1, id);
    p.SetString(2, 2, "old" + std::to_string(id));
  }
  StoreRepl(info);

  App::VSAReplicationInfo partial;
  partial.SetInt32(1, 1, 12);
  CNMessageBase& changed = partial.AddMsg(25, 25);
  changed.SetInt32(1, 1, 2220);
  changed.SetString(2, 2, "3");
  CNMessageBase& added = partial.AddMsg(25, 25);
  added.SetInt32(1, 1, 2216);
  added.SetString(2, 2, "5150");
  ASSERT_EQ(0, Store(partial));

  App::VSAReplicationInfo out = Stored(12);
  ASSERT_EQ(3u, out.ListSize(25, 25));
  EXPECT_EQ(2207, out.GetListMsg(25, 25, 0).GetInt32(1));
  EXPECT_EQ("old2207", out.GetListMsg(25, 25, 0).GetString(2, 2));
  EXPECT_EQ("3", out.GetListMsg(25, 25, 1).GetString(2, 2));
  EXPECT_EQ(2216, out.GetListMsg(25, 25, 2).GetInt32(1));
}

TEST_F(ReplicationStoreTest, UnknownOrUnnamedReplicationIsRefused) {
  App::VSAReplicationInfo partial;
  partial.SetInt32(23, 23, 1);
  EXPECT_NE(0, Store(partial));
  partial.SetInt32(1, 1, 999);
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
  ASSERT_EQ(2u, resp.ListSize(1, 1));
  EXPECT_EQ(22, resp.GetListMsg(1, 1, 0).GetInt32(1));
  EXPECT_EQ(21, resp.GetListMsg(1, 1, 1).GetInt32(1));
  EXPECT_EQ((std::vector<int>{21, 22}), CReplicationStore::IdsOfTask(5));
}

}  // namespace
