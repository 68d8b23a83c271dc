// The storage-array data manager over the array lab's requests and
// procedures: loads and reloads of the records, the replica groups of a
// copy, snapshot mounts per replication, and the statuses written back
// whole.
#include <set>
#include <string>
#include <vector>

#include "app/SnapArrayTestSupport.h"
#include "core/HandlerRegistry.h"
#include "db/App_ExecuteSP.h"

namespace {

using Info = Api::SnapDRReplicationInfo;

class SnapArrayDRReplDataMgr : public CSnapArrayTestBase {};

TEST_F(SnapArrayDRReplDataMgr, LoadsTheGroupsReplicationsAndAReloadReplacesInPlaceKeepingTheOthers) {
  // Replication 50 is another DR group's: the request does not answer it.
  SSeedSnapVM other = VM(50, kSubclientA, {{"ds1", 7, "", 0}});
  other.drGroupId = kGroup + 1;
  ASSERT_TRUE(CArrayLabSeed::AddVM(other));
  auto mgr = Loaded({1, 2, 3, 50});
  SnapDRRepInfo* r1 = Record(*mgr, 1);
  SnapDRRepInfo* r2 = Record(*mgr, 2);
  SnapDRRepInfo* r3 = Record(*mgr, 3);
  ASSERT_NE(nullptr, r1);
  ASSERT_NE(nullptr, r2);
  ASSERT_NE(nullptr, r3);
  EXPECT_EQ(nullptr, Record(*mgr, 50));
  EXPECT_EQ(nullptr, Record(*mgr, 4));
  EXPECT_EQ("vm2", r2->GetSourceName());
  EXPECT_TRUE(Logged("ReplicationId [2]  Source VM vm2                       ->  Volumes [2]  Datastores [2]  "
                     "LastSyncedBkpJob [0]"));

  // The server's record of 1 changes; a reload of 1 alone replaces it where
  // it is and keeps 2 and 3.
  Info changed = Stored(1);
  changed.SetString(Info::kSourceVMName, "vm1-renamed");
  ASSERT_EQ(EStoreResult::kOk, CSnapReplicationStore::Replace(kGroup, changed));
  SDataSourceInfo shorter = Source({1});
  ASSERT_TRUE(mgr->ReloadData(shorter));
  EXPECT_EQ(r1, Record(*mgr, 1));
  EXPECT_EQ("vm1-renamed", r1->GetSourceName());
  EXPECT_EQ(r2, Record(*mgr, 2));
  EXPECT_EQ(r3, Record(*mgr, 3));
  EXPECT_EQ("vm3", r3->GetSourceName());

  // A failed request keeps everything loaded before.
  ASSERT_TRUE(CStandIns::SetFault(CArrayLab::kGetReplications, EStandInFault::kFails));
  SDataSourceInfo all = Source({1, 2, 3, 4});
  EXPECT_FALSE(mgr->LoadData(all));
  EXPECT_TRUE(Logged("Error executing stored procedure Tag_GetSnapDRReplicationReq"));
  EXPECT_EQ(r2, Record(*mgr, 2));
  EXPECT_EQ(nullptr, Record(*mgr, 4));
  // An answer that cannot be read fails the load too.
  ASSERT_TRUE(CStandIns::SetFault(CArrayLab::kGetReplications, EStandInFault::kEmptyAnswer));
  EXPECT_FALSE(mgr->LoadData(all));
  EXPECT_EQ(nullptr, Record(*mgr, 4));
}

TEST_F(SnapArrayDRReplDataMgr, EntriesWithoutAnIdAreSkippedAndAnEmptyGuidIsNotIndexed) {
  CScopedHandler<unsigned long, ExecuteSPHandler> answer(
      App_ExecuteSP::Handlers(), Api::GetSnapDRReplicationReq::kTypeId,
      [](const std::string&, std::string& response) {
        Api::GetSnapDRReplicationResp resp;
        Info noId = CArrayLabSeed::Replication(VM(60, kSubclientA, {}));
        noId.ClearField(Info::kReplicationId);
        noId.SetString(Info::kSourceVMGuid, "guid-no-id");
        Info noGuid = CArrayLabSeed::Replication(VM(61, kSubclientA, {}));
        noGuid.SetString(Info::kSourceVMGuid, "");
        resp.AppendMsg(Api::GetSnapDRReplicationResp::kReplications, noId);
        resp.AppendMsg(Api::GetSnapDRReplicationResp::kReplications, noGuid);
        resp.AppendMsg(Api::GetSnapDRReplicationResp::kReplications, CArrayLabSeed::Replication(VM(62, kSubclientA, {})));
        return resp.serializeUTF8(response) ? 0 : -1;
      });
  auto mgr = Loaded({60, 61, 62});
  EXPECT_NE(nullptr, Record(*mgr, 61));
  EXPECT_NE(nullptr, Record(*mgr, 62));
  EXPECT_FALSE(CSnapArrayDRReplDataMgrTestPeer::Indexed(*mgr, "guid-no-id"));
  EXPECT_FALSE(CSnapArrayDRReplDataMgrTestPeer::Indexed(*mgr, ""));
  EXPECT_TRUE(CSnapArrayDRReplDataMgrTestPeer::Indexed(*mgr, Guid(62)));
}

TEST_F(SnapArrayDRReplDataMgr, ReplicaGroupsTakeTheirRowsReplicationsVolumesAndArraysOnce) {
  auto mgr = Loaded({1, 2, 3, 4});
  SnapDRContext ctx = Context({1, 2}, {7, 8});
  ASSERT_TRUE(mgr->QuerySnapReplicaInfo(ctx));
  // Rows of groups outside the context's set are passed over.
  EXPECT_EQ(2u, CSnapArrayDRReplDataMgrTestPeer::GroupCount(*mgr));
  std::map<int, SSMReplicaGroup*> groups;
  SDataSourceInfo info = Source({1, 2});
  ASSERT_TRUE(mgr->GetReplicaGroups(info, groups));
  ASSERT_EQ((std::vector<int>{7, 8}), (std::vector<int>{groups.begin()->first, groups.rbegin()->first}));
  const SSMReplicaGroup& g7 = *groups[7];
  // Every loaded record on the group counts, replication 3 of the other
  // subclient too.
  EXPECT_EQ((std::set<int>{1, 2, 3}), g7.ReplicationIds());
  EXPECT_EQ("vs_dr:vol_ds1", g7.getDestPath());
  EXPECT_EQ("vs_prod", g7.getSourceVServer());
  EXPECT_EQ("array-dr", g7.getTargetArray());
  EXPECT_EQ(kArray, g7.getDestCntrlHostId());  // array number 0 keeps the row's
  EXPECT_EQ(kPolicy, g7.getSPId());
  EXPECT_EQ(107, g7.getPairId());
  EXPECT_EQ(VOLUME_RELATIONSHIP_NORMAL, g7.GetRelationshipStatus());
  // A volume the record names replaces the row's, and the path with it.
  EXPECT_EQ("vol_ds2b", groups[8]->getDestVolume());
  EXPECT_EQ("vs_dr:vol_ds2b", groups[8]->getDestPath());
  EXPECT_TRUE(Logged("ReplicaGroup [7] => DestVol [vol_ds1] DestArray [3] ReplList [1,2,3]"));

  // An array number the record names replaces the row's.
  SnapDRContext other = Context({3, 4}, {7, 9});
  ASSERT_TRUE(mgr->QuerySnapReplicaInfo(other));
  SDataSourceInfo three = Source({3});
  ASSERT_TRUE(mgr->GetReplicaGroups(three, groups));
  EXPECT_EQ(kArray, groups[9]->getDestCntrlHostId());
  // Group 7 was loaded once and stays the same object, unchanged.
  EXPECT_EQ(&g7, groups[7]);
  EXPECT_EQ((std::set<int>{1, 2, 3}), g7.ReplicationIds());

  // A query with nothing new is still true while groups are loaded; a
  // failed fetch is false.
  ASSERT_TRUE(mgr->QuerySnapReplicaInfo(ctx));
  ASSERT_TRUE(CStandIns::SetFault(CArrayLab::kReplicaGroupReport, EStandInFault::kFails));
  EXPECT_FALSE(mgr->QuerySnapReplicaInfo(ctx));
  EXPECT_TRUE(Logged("Failed to get data from db for copyId [52]"));
}

TEST_F(SnapArrayDRReplDataMgr, StorageDetailsAndGroupsAnswerOnlyWhatWasLoaded) {
  auto mgr = Loaded({1, 2});
  SDRStorage storage(false);
  EXPECT_FALSE(mgr->GetStorageDetails(kCopy, 0, storage));
  SnapDRContext none = Context({1, 2}, {});
  EXPECT_FALSE(mgr->QuerySnapReplicaInfo(none));  // no group loaded yet

  SnapDRContext ctx = Context({1, 2}, {7});
  ASSERT_TRUE(mgr->QuerySnapReplicaInfo(ctx));
  ASSERT_TRUE(mgr->GetStorageDetails(kCopy, 0, storage));
  EXPECT_EQ(kCopy, storage.copyId);
  EXPECT_EQ(kPolicy, storage.spId);
  EXPECT_EQ(kDefaultCopy, storage.defaultCopyId);
  SDRStorage otherCopy(false);
  EXPECT_FALSE(mgr->GetStorageDetails(kCopy + 1, 0, otherCopy));
  EXPECT_EQ(kCopy + 1, otherCopy.copyId);

  // Group 8 was never queried: an empty group stands in for it and every
  // array operation fails on it; a later query loads it into that place.
  std::map<int, SSMReplicaGroup*> groups;
  SDataSourceInfo info = Source({2, 99});
  ASSERT_TRUE(mgr->GetReplicaGroups(info, groups));
  ASSERT_EQ(2u, groups.size());
  SSMReplicaGroup* stand = groups[8];
  EXPECT_EQ(0, stand->getReplicaGroupId());
  EXPECT_EQ("", stand->getDestPath());
  EXPECT_FALSE(mgr->VerifyLUNMapping(*stand, false));
  SnapDRContext later = Context({2}, {8});
  ASSERT_TRUE(mgr->QuerySnapReplicaInfo(later));
  EXPECT_EQ(8, stand->getReplicaGroupId());
  EXPECT_EQ("vs_dr:vol_ds2b", stand->getDestPath());
  SDataSourceInfo nothing = Source({99});
  EXPECT_FALSE(mgr->GetReplicaGroups(nothing, groups));
  EXPECT_TRUE(groups.empty());
}

TEST_F(SnapArrayDRReplDataMgr, MountInformationIsCachedPerReplicationSoEverySubclientGroupGetsItsAfiles) {
  // Reads answer no mount record: the afiles come only from the queries.
  ASSERT_TRUE(CArrayLab::SetMountRecordOmitted(true));
  ASSERT_TRUE(CArrayLab::SnapshotCopied(kCopy, kBackup));
  auto mgr = Loaded({1, 2, 3, 4});
  for (int id : {1, 2, 3, 4}) EXPECT_EQ(0, Record(*mgr, id)->GetAfileId()) << id;
  const auto queries = [] { return CallCount(CArrayLab::kArchiveFiles); };

  // Rows that match none of the context's replications: false, and the
  // next call asks again.
  SnapDRContext stranger = Context({99}, {}, {kBackup});
  EXPECT_FALSE(mgr->QueryMountAfiles(stranger, false));
  EXPECT_FALSE(mgr->QueryMountAfiles(stranger, false));
  EXPECT_EQ(2u, queries());

  SnapDRContext a = Context({1, 2}, {}, {kBackup});
  a.snapMount = true;
  ASSERT_TRUE(mgr->QueryMountAfiles(a, false));
  SnapDRContext b = Context({3, 4}, {}, {kBackup});
  // The second subclient group's replications were not queried yet: it asks.
  ASSERT_TRUE(mgr->QueryMountAfiles(b, false));
  EXPECT_EQ(4u, queries());
  std::set<int> afiles;
  for (int id : {1, 2, 3, 4}) {
    const SDRMountInfo m = Record(*mgr, id)->GetMountInfo();
    EXPECT_GT(m.afileId, 0) << id;
    EXPECT_EQ(static_cast<uint64_t>(kBackup), m.masterJobId) << id;
    EXPECT_EQ(SDRMountInfo::kUnmounted, m.mountStatus) << id;
    EXPECT_EQ("vm" + std::to_string(id), m.firstText);
    EXPECT_FALSE(m.failoverMount);
    afiles.insert(static_cast<int>(m.afileId));
  }
  EXPECT_EQ(4u, afiles.size());
  EXPECT_TRUE(Logged("Request to QueryMountAfiles - reQuery [0] cached [0]"));

  // Cached now: no query without reQuery, one with it.
  ASSERT_TRUE(mgr->QueryMountAfiles(a, false));
  EXPECT_TRUE(Logged("Request to QueryMountAfiles - reQuery [0] cached [1]"));
  EXPECT_EQ(4u, queries());
  ASSERT_TRUE(mgr->QueryMountAfiles(a, true));
  EXPECT_EQ(5u, queries());
  std::vector<SArrayCall> calls;
  ASSERT_EQ(EStoreResult::kOk, CArrayCallJournal::All(calls));
  EXPECT_NE(std::string::npos, calls[2].arguments.find("snapMount [1]")) << calls[2].arguments;

  // A reload replaces record 1 (without mount information): its group asks
  // again.
  SDataSourceInfo one = Source({1});
  ASSERT_TRUE(mgr->ReloadData(one));
  EXPECT_EQ(0, Record(*mgr, 1)->GetAfileId());
  ASSERT_TRUE(mgr->QueryMountAfiles(a, false));
  EXPECT_EQ(6u, queries());
  EXPECT_GT(Record(*mgr, 1)->GetAfileId(), 0);

  // A failed procedure is false and keeps what was stored.
  ASSERT_TRUE(CStandIns::SetFault(CArrayLab::kArchiveFiles, EStandInFault::kFails));
  EXPECT_FALSE(mgr->QueryMountAfiles(a, true));
  EXPECT_TRUE(Logged("Failed to get data from db for appId [106] and copyId [52]"));
  EXPECT_GT(Record(*mgr, 2)->GetAfileId(), 0);
}

TEST_F(SnapArrayDRReplDataMgr, ALoadTakesTheMountRecordOfTheLastSyncedJob) {
  ASSERT_TRUE(CArrayLab::SnapshotCopied(kCopy, kBackup));
  std::vector<SSnapAfile> afiles;
  ASSERT_EQ(EStoreResult::kOk, CAfileStore::OfMasterJobs({kBackup}, afiles));
  ASSERT_EQ(4u, afiles.size());
  ASSERT_TRUE(CArrayLab::SeedForeignMount(afiles[0].afileId, 12));
  auto mgr = Loaded({1, 2});
  SnapDRRepInfo* rep = Record(*mgr, afiles[0].vmGuid == Guid(1) ? 1 : 2);
  EXPECT_EQ(afiles[0].afileId, rep->GetAfileId());
  EXPECT_EQ(static_cast<uint64_t>(kBackup), rep->GetMountJobId(JOB_LVL_MASTER));
  EXPECT_TRUE(rep->IsVMAfileMounted());
  EXPECT_EQ(12, rep->GetVMAfileMountHostId());
}

TEST_F(SnapArrayDRReplDataMgr, PhaseStatesStoreTheStatusOfTheDRTypeAndTestMountsAreSeen) {
  using State = Api::VirtualAppPhaseState;
  const struct {
    TMMsg::DROrchestrationType type;
    State state;
    const SMsgField* field;
    int before;
    int after;
  } kCases[] = {
      // Undo test failover succeeding stores test-failover status 0.
      {TMMsg::DR_ORCHESTRATION_UNDO_TEST_FAILOVER, Api::VIRTUAL_APP_PHASE_STATE_SUCCESS, &Info::kTestFailoverStatus,
       App::DR_TEST_FAILOVER_STATUS_UNDO_IN_PROGRESS, App::DR_TEST_FAILOVER_STATUS_NONE},
      {TMMsg::DR_ORCHESTRATION_TEST_FAILOVER, Api::VIRTUAL_APP_PHASE_STATE_IN_PROGRESS, &Info::kTestFailoverStatus,
       App::DR_TEST_FAILOVER_STATUS_NONE, App::DR_TEST_FAILOVER_STATUS_IN_PROGRESS},
      {TMMsg::DR_ORCHESTRATION_PLANNED_FAILOVER, Api::VIRTUAL_APP_PHASE_STATE_FAILED, &Info::kFailoverStatus,
       App::VSA_FAILOVER_STATUS_FAILOVER_IN_PROGRESS, App::VSA_FAILOVER_STATUS_FAILOVER_FAILED},
      // A state with no failover status stores nothing.
      {TMMsg::DR_ORCHESTRATION_PLANNED_FAILOVER, Api::VIRTUAL_APP_PHASE_STATE_SKIPPED, &Info::kFailoverStatus,
       App::VSA_FAILOVER_STATUS_FAILOVER_IN_PROGRESS, App::VSA_FAILOVER_STATUS_FAILOVER_IN_PROGRESS},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(std::to_string(c.type) + "/" + std::to_string(c.state));
    Info stored = Stored(1);
    stored.SetInt32(*c.field, c.before);
    ASSERT_EQ(EStoreResult::kOk, CSnapReplicationStore::Replace(kGroup, stored));
    auto mgr = Loaded({1}, c.type);
    SDataSourceInfo info = Source({1}, 1, c.type);
    info.status = c.state;
    EXPECT_TRUE(mgr->UpdateStatus(info));
    EXPECT_EQ(c.after, Stored(1).GetInt32(*c.field));
    EXPECT_TRUE(Stored(1).Has(*c.field));
  }

  // Test mounts: any record above 0 other than 3 (failed).
  auto mgr = Loaded({1, 2});
  SDataSourceInfo one = Source({1}, 1, TMMsg::DR_ORCHESTRATION_TEST_FAILOVER);
  SDataSourceInfo two = Source({2}, 2, TMMsg::DR_ORCHESTRATION_TEST_FAILOVER);
  ASSERT_TRUE(mgr->UpdateTestFailoverStatus(one, App::DR_TEST_FAILOVER_STATUS_NONE));
  ASSERT_TRUE(mgr->UpdateTestFailoverStatus(two, App::DR_TEST_FAILOVER_STATUS_FAILED));
  EXPECT_FALSE(mgr->CheckTestFailoverVMMount());
  ASSERT_TRUE(mgr->UpdateTestFailoverStatus(one, App::DR_TEST_FAILOVER_STATUS_UNDO_IN_PROGRESS));
  EXPECT_TRUE(mgr->CheckTestFailoverVMMount());
  EXPECT_TRUE(Logged("[Undo-Test Failover in Progress] for replication [1] VM [vm1]"));
}

TEST_F(SnapArrayDRReplDataMgr, CompletionComparesWithTheStatusASuccessWouldStore) {
  auto planned = Loaded({1, 2});
  SDataSourceInfo one = Source({1}, 1);
  EXPECT_FALSE(planned->IsDRComplete(one));
  ASSERT_TRUE(planned->UpdateFailoverStatus(one, App::VSA_FAILOVER_STATUS_FAILOVER_COMPLETE));
  EXPECT_TRUE(planned->IsDRComplete(one));
  SDataSourceInfo missing = Source({}, 77);
  EXPECT_FALSE(planned->IsDRComplete(missing));
  EXPECT_FALSE(planned->UpdateFailoverStatus(missing, App::VSA_FAILOVER_STATUS_FAILOVER_COMPLETE));

  // Undo test failover completes at test-failover status 0; a record that
  // is not loaded reads 0 too.
  auto undo = Loaded({1}, TMMsg::DR_ORCHESTRATION_UNDO_TEST_FAILOVER);
  EXPECT_TRUE(undo->IsDRComplete(one));
  EXPECT_TRUE(undo->IsDRComplete(missing));
}

TEST_F(SnapArrayDRReplDataMgr, AStatusWriteSendsTheWholeRecordButNeverTheServersFields) {
  ASSERT_TRUE(CArrayLab::SnapshotCopied(kCopy, kBackup));
  ASSERT_EQ(EStoreResult::kOk, CSnapReplicationStore::SetProxyVM(1, "proxy-vm", "proxy-guid"));
  auto mgr = Loaded({1, 2, 3});
  SnapDRRepInfo* rep = Record(*mgr, 1);
  ASSERT_EQ("proxy-vm", rep->GetProxyVMName());
  const int afile = rep->GetAfileId();
  ASSERT_GT(afile, 0);
  // The server clears the proxy VM (an unmount) after the load.
  ASSERT_TRUE(CArrayLab::RecordUnmount(afile));

  // The break's status reaches the records in memory only.
  std::map<int, SSMReplicaGroup*> groups = Groups(*mgr, {1});
  ASSERT_TRUE(mgr->ChangeRelationShipStatus(kCopy, *groups[7], Api::VIRTUAL_APP_PHASE_BREAK_VOLUME_RELATIONSHIP, false));
  EXPECT_EQ((std::vector<int>{0}), VolumeStatuses(Stored(1), 7));
  rep->SetDestinationName("vm1-DR");

  SDataSourceInfo one = Source({1}, 1);
  ASSERT_TRUE(mgr->UpdateFailoverStatus(one, App::VSA_FAILOVER_STATUS_FAILOVER_IN_PROGRESS));
  EXPECT_TRUE(Logged("[Failover in Progress] for replication [1] VM [vm1]"));
  EXPECT_TRUE(Logged("Response for status udpate for repl [1]"));
  const Info stored = Stored(1);
  EXPECT_EQ(App::VSA_FAILOVER_STATUS_FAILOVER_IN_PROGRESS, stored.GetInt32(Info::kFailoverStatus));
  EXPECT_EQ((std::vector<int>{1}), VolumeStatuses(stored, 7));
  EXPECT_EQ("vm1-DR", stored.GetString(Info::kDestinationVMName));
  EXPECT_EQ(1u, stored.ListSize(Info::kDatastoreReplications));
  EXPECT_EQ("esx-dr-1", stored.GetMsg(Info::kRestoreOptions).GetString(TMMsg::VMWAdvancedRestoreOptions::kEsxHost));
  // The mount record and the proxy VM the record carried stay the server's.
  EXPECT_FALSE(stored.Has(Info::kMountRecord));
  SSnapReplication row;
  ASSERT_EQ(EStoreResult::kOk, CSnapReplicationStore::Get(1, row));
  EXPECT_EQ("", row.proxyVMName);
  Info answered;
  ASSERT_EQ(EStoreResult::kOk, CArrayLab::AnsweredReplication(1, answered));
  EXPECT_EQ(afile, answered.GetMsg(Info::kMountRecord).GetInt32(Api::SnapDRMountRecord::kAfileId));

  // A write that fails keeps the status in memory.
  ASSERT_TRUE(CStandIns::SetFault(CArrayLab::kSetReplications, EStandInFault::kFails));
  EXPECT_FALSE(mgr->UpdateFailoverStatus(one, App::VSA_FAILOVER_STATUS_FAILOVER_COMPLETE));
  EXPECT_EQ(App::VSA_FAILOVER_STATUS_FAILOVER_COMPLETE, rep->GetFailoverStatus());
  EXPECT_EQ(App::VSA_FAILOVER_STATUS_FAILOVER_IN_PROGRESS, Stored(1).GetInt32(Info::kFailoverStatus));
}

}  // namespace
