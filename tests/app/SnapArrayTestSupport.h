// Storage-array DR on the array lab for the data-manager tests: a DR job
// with its job manager, array 3 ("array-dr", vserver "vs_dr") and array 4
// without a management entry, four replica groups of copy 52 and four VMs
// of DR group kGroup on them, seeded through the lab's seeding helpers:
//
//   group  destination path (array)   LUNs                  subclient
//   7      vs_dr:vol_ds1 (3)          vol_ds1/lun0, lun1    21
//   8      vs_dr:vol_ds2 (3)          -                     21
//   9      vs_dr:vol_ds3 (4)          vol_ds3/lun0          22
//   10     vs_lost:vol_x (4)          -                     22
//
//   VM (replication)  subclient  datastores (group)
//   1                 21         ds1 (7)
//   2                 21         ds1 (7), ds2 (8; the record names volume vol_ds2b)
//   3                 22         ds1 (7), ds3 (9; the record names array 3)
//   4                 22         ds3 (9; array 3), dsx (10)
//
// Group 9's report row names array 4; the records' array number moves it to
// array 3, where its relationship lives.
#pragma once

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "app/SnapArrayDRReplDataMgr.h"
#include "app/SnapArrayDRReplDataMgrTestPeer.h"
#include "array/AfileStore.h"
#include "array/ArrayCallJournal.h"
#include "array/ArrayLab.h"
#include "array/ArrayLabSeed.h"
#include "array/ArrayLunStore.h"
#include "array/ArrayRelationshipStore.h"
#include "array/ArrayStore.h"
#include "array/SnapReplicationStore.h"
#include "engine/DRRecordsTestSupport.h"
#include "jobs/StandIns.h"
#include "sim/Simulators.h"

namespace drtest {

// The replica groups of the data source's replications, loaded through the
// manager as a storage-array context loads them for a storage copy.
inline std::map<int, SSMReplicaGroup*> ReplicaGroupsOf(CSnapArrayDRReplDataMgr& mgr, const SDataSourceInfo& source,
                                                       int copyId) {
  SnapDRContext ctx;
  ctx.copyId = copyId;
  ctx.appId = 106;
  for (int id : source.replIds) {
    SDataSourceInfo one = source;
    one.replId = id;
    ctx.replIds.insert(id);
    SnapDRRepInfo* rep = static_cast<SnapDRRepInfo*>(mgr.FetchReplData(one));
    if (rep == nullptr) continue;
    const std::set<int> groups = rep->GetReplicaGroupIds();
    ctx.replicaGroupIds.insert(groups.begin(), groups.end());
  }
  EXPECT_TRUE(mgr.QuerySnapReplicaInfo(ctx));
  std::map<int, SSMReplicaGroup*> groups;
  SDataSourceInfo info = source;
  EXPECT_TRUE(mgr.GetReplicaGroups(info, groups));
  return groups;
}

}  // namespace drtest

class CSnapArrayTestBase : public CDRRecordsTestBase {
 protected:
  static constexpr int kArray = 3;
  static constexpr int kUnmanaged = 4;
  static constexpr int kCopy = 52;
  static constexpr int kPolicy = 5;
  static constexpr int kDefaultCopy = 51;
  static constexpr int kSubclientA = 21;
  static constexpr int kSubclientB = 22;
  static constexpr long long kBackup = 7001;

  void SetUp() override {
    CDRRecordsTestBase::SetUp();
    std::string error;
    ASSERT_TRUE(CSimulators::CreateTables(error)) << error;
    ASSERT_TRUE(CArrayStore::Add(SLabArray{kArray, "array-dr", "vs_dr", true, true}));
    ASSERT_TRUE(CArrayStore::Add(SLabArray{kUnmanaged, "array-lost", "", false, true}));
    ASSERT_TRUE(CArrayLabSeed::AddReplicaGroup(Group(7, "vs_dr:vol_ds1", kArray, kSubclientA,
                                                     {"vol_ds1/lun0", "vol_ds1/lun1"})));
    ASSERT_TRUE(CArrayLabSeed::AddReplicaGroup(Group(8, "vs_dr:vol_ds2", kArray, kSubclientA, {})));
    ASSERT_TRUE(CArrayLabSeed::AddReplicaGroup(Group(9, "vs_dr:vol_ds3", kUnmanaged, kSubclientB, {})));
    ASSERT_TRUE(CArrayLabSeed::AddReplicaGroup(Group(10, "vs_lost:vol_x", kUnmanaged, kSubclientB, {})));
    // Group 9's relationship and LUN live on array 3 (the records say so).
    SLabRelationship ds3;
    ds3.controlHostId = kArray;
    ds3.destPath = "vs_dr:vol_ds3";
    ds3.sourcePath = "vs_prod:vol_ds3";
    ASSERT_TRUE(CArrayRelationshipStore::Add(ds3));
    ASSERT_TRUE(CArrayLunStore::Add(SLabLun{kArray, "vol_ds3", "vol_ds3/lun0", true, false}));
    ASSERT_TRUE(CArrayLabSeed::AddVM(VM(1, kSubclientA, {{"ds1", 7, "", 0}})));
    ASSERT_TRUE(CArrayLabSeed::AddVM(VM(2, kSubclientA, {{"ds1", 7, "", 0}, {"ds2", 8, "vol_ds2b", 0}})));
    ASSERT_TRUE(CArrayLabSeed::AddVM(VM(3, kSubclientB, {{"ds1", 7, "", 0}, {"ds3", 9, "", kArray}})));
    ASSERT_TRUE(CArrayLabSeed::AddVM(VM(4, kSubclientB, {{"ds3", 9, "", kArray}, {"dsx", 10, "", 0}})));
    // The rename of group 8's volume is on the array too.
    SLabRelationship ds2b;
    ds2b.controlHostId = kArray;
    ds2b.destPath = "vs_dr:vol_ds2b";
    ds2b.sourcePath = "vs_prod:vol_ds2";
    ASSERT_TRUE(CArrayRelationshipStore::Add(ds2b));
    StartJob(JobOptions(false));
    ASSERT_TRUE(CArrayCallJournal::Clear());
  }

  static SSeedReplicaGroup Group(int id, const std::string& target, int controlHostId, int subclientId,
                                 const std::vector<std::string>& luns) {
    SSeedReplicaGroup g;
    g.replicaGroupId = id;
    g.copyId = kCopy;
    g.subclientId = subclientId;
    g.storagePolicyId = kPolicy;
    g.defaultCopyId = kDefaultCopy;
    g.pairId = 100 + id;
    g.controlHostId = controlHostId;
    g.sourceArray = "array-prod";
    g.targetArray = controlHostId == kArray ? "array-dr" : "array-lost";
    g.sourcePath = "vs_prod:" + target.substr(target.find(':') + 1);
    g.targetPath = target;
    g.mappedLuns = luns;
    return g;
  }

  static SSeedSnapVM VM(int id, int subclientId, const std::vector<SSeedDatastore>& datastores) {
    SSeedSnapVM vm;
    vm.replicationId = id;
    vm.drGroupId = kGroup;
    vm.name = "vm" + std::to_string(id);
    vm.guid = Guid(id);
    vm.destinationEsxHost = "esx-dr-1";
    vm.subclientId = subclientId;
    vm.clientId = 300 + id;
    vm.applicationId = 400 + id;
    vm.copyId = kCopy;
    vm.datastores = datastores;
    return vm;
  }
  static std::string Guid(int id) { return "guid-" + std::to_string(id); }

  static SDataSourceInfo Source(const std::vector<int>& ids, int replId = 0,
                                TMMsg::DROrchestrationType type = TMMsg::DR_ORCHESTRATION_PLANNED_FAILOVER,
                                CDRJobManager* jobManager = nullptr) {
    SDataSourceInfo info;
    info.jobId = kJob;
    info.drGroupId = kGroup;
    info.drType = type;
    info.infoSource = TMMsg::DR_OP_SOURCE_SNAP_ARRAY_REPLICATION;
    info.replIds.assign(ids.begin(), ids.end());
    info.replId = replId;
    info.jobManager = jobManager;
    return info;
  }

  // A manager of the DR job over the ids, loaded.
  std::unique_ptr<CSnapArrayDRReplDataMgr> Loaded(
      const std::vector<int>& ids, TMMsg::DROrchestrationType type = TMMsg::DR_ORCHESTRATION_PLANNED_FAILOVER) {
    SDataSourceInfo info = Source(ids, 0, type, m_jm.get());
    std::unique_ptr<CSnapArrayDRReplDataMgr> mgr(new CSnapArrayDRReplDataMgr(info));
    EXPECT_TRUE(mgr->LoadData(info));
    return mgr;
  }

  static SnapDRRepInfo* Record(CSnapArrayDRReplDataMgr& mgr, int replId) {
    SDataSourceInfo info = Source({}, replId);
    return static_cast<SnapDRRepInfo*>(mgr.FetchReplData(info));
  }

  static SnapDRContext Context(const std::vector<int>& replIds, const std::set<int>& groups = {},
                               const std::vector<uint64_t>& masterJobs = {}) {
    SnapDRContext ctx;
    ctx.copyId = kCopy;
    ctx.appId = 106;
    ctx.replIds.insert(replIds.begin(), replIds.end());
    ctx.replicaGroupIds = groups;
    ctx.masterJobIds = masterJobs;
    return ctx;
  }

  // The groups of the ids, loaded through the manager as the context does.
  static std::map<int, SSMReplicaGroup*> Groups(CSnapArrayDRReplDataMgr& mgr, const std::vector<int>& ids) {
    return drtest::ReplicaGroupsOf(mgr, Source(ids), kCopy);
  }

  static Api::SnapDRReplicationInfo Stored(int replId) {
    SSnapReplication r;
    EXPECT_EQ(EStoreResult::kOk, CSnapReplicationStore::Get(replId, r)) << replId;
    return r.info;
  }

  // The relationship status field 7 of the record's volumes of a group.
  static std::vector<int> VolumeStatuses(const Api::SnapDRReplicationInfo& info, int groupId) {
    std::vector<int> out;
    for (size_t i = 0; i < info.ListSize(Api::SnapDRReplicationInfo::kDatastoreReplications); ++i) {
      const CNMessageBase& v = info.GetListMsg(Api::SnapDRReplicationInfo::kDatastoreReplications, i);
      if (v.GetInt32(Api::DatastoreReplication::kReplicaGroupId) == groupId) {
        out.push_back(v.GetInt32(Api::DatastoreReplication::kRelationshipStatus));
      }
    }
    return out;
  }

  static SLabRelationship Relationship(const std::string& path) {
    SLabRelationship r;
    EXPECT_EQ(EStoreResult::kOk, CArrayRelationshipStore::Get(kArray, path, r)) << path;
    return r;
  }

  // The journalled array calls named call.
  static size_t CallCount(const std::string& call) {
    std::vector<SArrayCall> calls;
    EXPECT_EQ(EStoreResult::kOk, CArrayCallJournal::All(calls));
    size_t n = 0;
    for (const SArrayCall& c : calls) n += c.call == call ? 1 : 0;
    return n;
  }
  static std::vector<std::string> CallNames() {
    std::vector<SArrayCall> calls;
    EXPECT_EQ(EStoreResult::kOk, CArrayCallJournal::All(calls));
    std::vector<std::string> names;
    for (const SArrayCall& c : calls) names.push_back(c.call);
    return names;
  }
};
