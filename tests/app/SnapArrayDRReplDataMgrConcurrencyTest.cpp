// The storage-array data manager under the threads of several subclient
// groups at once: relationship changes write into records that other
// threads read, copy whole, store and reload, while the group map grows and
// is read. Run under ThreadSanitizer with the label concurrency.
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "Phases.h"
#include "TestThread.h"
#include "app/SnapArrayTestSupport.h"
#include "core/StopState.h"

namespace {

using Info = Api::SnapDRReplicationInfo;

using drtest::kBreak;
using drtest::kResync;

class SnapArrayDRReplDataMgrConcurrency : public CSnapArrayTestBase {
 protected:
  static constexpr int kGroups = 10;
  static constexpr int kFirstGroup = 101;
  static constexpr int kFirstVM = 201;

  // kGroups more groups on array 3, and one VM per group whose datastores
  // lie on its group and the next, so every group is shared by two records.
  void SetUp() override {
    CSnapArrayTestBase::SetUp();
    for (int i = 0; i < kGroups; ++i) {
      const std::string volume = "vol_c" + std::to_string(i);
      ASSERT_TRUE(CArrayLabSeed::AddReplicaGroup(Group(kFirstGroup + i, "vs_dr:" + volume, kArray, kSubclientA, {})));
    }
    for (int i = 0; i < kGroups; ++i) {
      const int next = (i + 1) % kGroups;
      ASSERT_TRUE(CArrayLabSeed::AddVM(VM(kFirstVM + i, kSubclientA,
                                          {{"dsc" + std::to_string(i), kFirstGroup + i, "", 0},
                                           {"dsc" + std::to_string(next), kFirstGroup + next, "", 0}})));
      m_ids.push_back(kFirstVM + i);
    }
  }

  // Starts n threads at once on body(thread index) and joins them.
  template <class Body>
  static void RunTogether(int n, Body body) {
    std::atomic<int> ready(0);
    std::vector<drtest::CTestThread> threads;
    for (int t = 0; t < n; ++t) {
      threads.emplace_back(
          [&, t] {
            ++ready;
            while (ready.load() < n && !CStopState::CurrentStopRequested()) std::this_thread::yield();
            body(t);
            CDBConnection::CloseThreadConnections();
          },
          "storage-array worker " + std::to_string(t));
    }
    for (drtest::CTestThread& th : threads) EXPECT_TRUE(th.Join());
  }

  std::set<int> AllGroups() const {
    std::set<int> groups;
    for (int i = 0; i < kGroups; ++i) groups.insert(kFirstGroup + i);
    return groups;
  }

  std::vector<int> m_ids;
};

TEST_F(SnapArrayDRReplDataMgrConcurrency, GroupsLoadAndChangeWhileOthersStoreReadAndReloadTheRecordsSharingThem) {
  // No group is loaded yet: each changer loads its own while the others
  // read the group map (and put empty stand-ins into it).
  auto mgr = Loaded(m_ids);
  constexpr int kChangers = kGroups;
  constexpr int kRounds = 2;
  constexpr int kReads = 15;
  std::atomic<int> failures(0);
  std::atomic<int> changersLeft(kChangers);
  RunTogether(kChangers + 4, [&](int t) {
    if (t < kChangers) {
      SnapDRContext mine = Context({m_ids[t]}, {kFirstGroup + t});
      std::map<int, SSMReplicaGroup*> groups;
      SDataSourceInfo source = Source({m_ids[t]});
      if (!mgr->QuerySnapReplicaInfo(mine) || !mgr->GetReplicaGroups(source, groups)) ++failures;
      SSMReplicaGroup& g = *groups[kFirstGroup + t];
      for (int round = 0; round < kRounds; ++round) {
        if (!mgr->ChangeRelationShipStatus(kCopy, g, kBreak, false)) ++failures;
        if (!mgr->ChangeRelationShipStatus(kCopy, g, kResync, false)) ++failures;
      }
      --changersLeft;
      return;
    }
    // Writers, readers and reloaders of the same records while the changers
    // run; the readers of the datastore lists (which touch no database) go
    // on until the changers are done.
    const bool lists = t - kChangers == 2;
    for (int n = 0; n < kReads || (lists && changersLeft.load() > 0); ++n) {
      const int id = m_ids[(t + n) % m_ids.size()];
      SnapDRRepInfo* rep = Record(*mgr, id);
      switch (t - kChangers) {
        case 0: {
          SDataSourceInfo one = Source({id}, id);
          if (!mgr->UpdateFailoverStatus(one, App::VSA_FAILOVER_STATUS_FAILOVER_IN_PROGRESS)) ++failures;
          break;
        }
        case 1: {
          std::map<int, SSMReplicaGroup*> mine;
          SDataSourceInfo two = Source({id, m_ids[(n + 5) % m_ids.size()]});
          if (!mgr->GetReplicaGroups(two, mine) || mine.size() < 2) ++failures;
          SDRStorage storage(false);
          mgr->GetStorageDetails(kCopy, 0, storage);
          SnapDRContext again = Context({id}, {kFirstGroup + n % kGroups, 7});
          if (!mgr->QuerySnapReplicaInfo(again)) ++failures;
          break;
        }
        case 2: {
          std::vector<VirtualServer::VMDatastoreInfo> ds;
          rep->GetSourceDatastores(ds);
          if (ds.size() != 2 || rep->GetReplicaGroupIds().size() != 2) ++failures;
          rep->IsAllVolumeRelationsBroken();
          if (rep->GetRepInfo().ListSize(Info::kDatastoreReplications) != 2) ++failures;
          if (rep->GetSourceName() != "vm" + std::to_string(id)) ++failures;
          break;
        }
        default: {
          SDataSourceInfo one = Source({id});
          if (!mgr->ReloadData(one) || Record(*mgr, id) != rep) ++failures;
          break;
        }
      }
    }
  });
  EXPECT_EQ(0, failures.load());
  for (int i = 0; i < kGroups; ++i) {
    EXPECT_EQ("snapmirrored", Relationship("vs_dr:vol_c" + std::to_string(i)).mirrorState) << i;
  }

  // Every group broken at once: each record gets both of its groups' status.
  std::map<int, SSMReplicaGroup*> groups;
  SDataSourceInfo all = Source(m_ids);
  ASSERT_TRUE(mgr->GetReplicaGroups(all, groups));
  ASSERT_EQ(static_cast<size_t>(kGroups), groups.size());
  for (const auto& g : groups) EXPECT_EQ(g.first, g.second->getReplicaGroupId());
  RunTogether(kChangers, [&](int t) {
    if (!mgr->ChangeRelationShipStatus(kCopy, *groups[kFirstGroup + t], kBreak, false)) ++failures;
  });
  EXPECT_EQ(0, failures.load());
  for (int id : m_ids) {
    EXPECT_TRUE(Record(*mgr, id)->IsAllVolumeRelationsBroken()) << id;
  }
}

TEST_F(SnapArrayDRReplDataMgrConcurrency, TwoSubclientGroupsSharingAReplicaGroupBothSeeItBroken) {
  auto mgr = Loaded({1, 2, 3, 4});
  const struct {
    std::vector<int> ids;
    std::set<int> groups;
  } kSubclients[] = {{{1, 2}, {7, 8}}, {{3}, {7, 9}}};
  std::atomic<int> failures(0);
  RunTogether(2, [&](int t) {
    SnapDRContext ctx = Context(kSubclients[t].ids, kSubclients[t].groups);
    SDataSourceInfo source = Source(kSubclients[t].ids);
    std::map<int, SSMReplicaGroup*> groups;
    if (!mgr->QuerySnapReplicaInfo(ctx) || !mgr->GetReplicaGroups(source, groups)) ++failures;
    for (auto& g : groups) {
      if (!mgr->ChangeRelationShipStatus(kCopy, *g.second, kBreak, false)) ++failures;
    }
    for (int id : kSubclients[t].ids) {
      SDataSourceInfo one = Source({id}, id);
      if (!mgr->UpdateFailoverStatus(one, App::VSA_FAILOVER_STATUS_FAILOVER_IN_PROGRESS)) ++failures;
    }
  });
  EXPECT_EQ(0, failures.load());
  EXPECT_EQ("broken-off", Relationship("vs_dr:vol_ds1").mirrorState);
  for (int id : {1, 2, 3}) {
    EXPECT_TRUE(Record(*mgr, id)->IsAllVolumeRelationsBroken()) << id;
    EXPECT_EQ((std::vector<int>{1}), VolumeStatuses(Stored(id), 7)) << id;
  }
}

}  // namespace
