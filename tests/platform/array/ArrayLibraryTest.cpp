// The storage-array library's calls over the array lab: relationship reads,
// breaks and re-syncs with their rules and faults, LUN listing and
// unmapping, arrays that are down or have no management entry, the call
// journal, and lab state that outlives the connection that wrote it.
#include "ArrayLabTestSupport.h"
#include "TestThread.h"

namespace {

class ArrayLibrary : public CArrayLabTestBase {};

TEST_F(ArrayLibrary, ReadsTakeTheQueuedStatusesInOrderThenKeepTheLast) {
  ASSERT_EQ(EStoreResult::kOk,
            CArrayRelationshipStore::QueueStatuses(kArray, kPath1, {"transferring", "finalizing", "idle"}));
  ManageONTAP array;
  ASSERT_TRUE(Connect(kArray, array));
  std::vector<std::string> seen;
  for (int i = 0; i < 5; ++i) {
    _SVSMRelationshipProgressInfo info;
    info.comment = "left over";
    ASSERT_TRUE(array.GetSnapMirrorInfoCMode(info, kPath1));
    seen.push_back(info.relationshipStatus);
    EXPECT_EQ("snapmirrored", info.mirrorState);
    EXPECT_EQ("vs_dr", info.destinationVServer);
    EXPECT_EQ("vol_ds1", info.destinationVolume);
    EXPECT_EQ("vs_prod", info.sourceVServer);
    EXPECT_EQ("vol_ds1", info.sourceVolume);
    EXPECT_EQ("array-dr", info.destinationArray);
    EXPECT_EQ("", info.comment);  // the record is filled afresh
  }
  EXPECT_EQ((std::vector<std::string>{"transferring", "finalizing", "idle", "idle", "idle"}), seen);
  // The other relationship's queue is its own.
  _SVSMRelationshipProgressInfo other;
  ASSERT_TRUE(array.GetSnapMirrorInfoCMode(other, kPath2));
  EXPECT_EQ("idle", other.relationshipStatus);
  // A path the array does not have.
  EXPECT_FALSE(array.GetSnapMirrorInfoCMode(other, "vs_dr:vol_nope"));
  EXPECT_EQ("GetSnapMirrorInfoCMode not found", CallLines().back());
}

TEST_F(ArrayLibrary, BreakAndResyncFollowTheMirrorStateAndRepeatHarmlessly) {
  ManageONTAP array;
  ASSERT_TRUE(Connect(kArray, array));
  ASSERT_TRUE(CArrayCallJournal::Clear());

  EXPECT_TRUE(array.SMBreakRelationshipCMode("vol_ds1", "vs_dr"));
  EXPECT_EQ("broken-off", Relationship(kPath1).mirrorState);
  EXPECT_EQ("snapmirrored", Relationship(kPath2).mirrorState);
  // A second break (a retried step) is accepted and changes nothing.
  EXPECT_TRUE(array.SMBreakRelationshipCMode("vol_ds1", "vs_dr"));
  EXPECT_EQ("broken-off", Relationship(kPath1).mirrorState);

  EXPECT_TRUE(array.SMResyncRelationshipCMode("vol_ds1", "vs_dr"));
  EXPECT_EQ("snapmirrored", Relationship(kPath1).mirrorState);
  EXPECT_TRUE(array.SMResyncRelationshipCMode("vol_ds1", "vs_dr"));
  EXPECT_EQ("snapmirrored", Relationship(kPath1).mirrorState);

  // Breaks and re-syncs address the vserver and volume, not the path.
  EXPECT_FALSE(array.SMBreakRelationshipCMode("vol_ds1", "vs_other"));
  EXPECT_EQ("snapmirrored", Relationship(kPath1).mirrorState);

  ASSERT_EQ(EStoreResult::kOk, CArrayRelationshipStore::SetMirrorState(kArray, kPath2, "uninitialized"));
  EXPECT_FALSE(array.SMBreakRelationshipCMode("vol_ds2", "vs_dr"));
  EXPECT_FALSE(array.SMResyncRelationshipCMode("vol_ds2", "vs_dr"));
  EXPECT_EQ("uninitialized", Relationship(kPath2).mirrorState);

  EXPECT_EQ((std::vector<std::string>{"SMBreakRelationshipCMode ok", "SMBreakRelationshipCMode ok",
                                      "SMResyncRelationshipCMode ok", "SMResyncRelationshipCMode ok",
                                      "SMBreakRelationshipCMode not found", "SMBreakRelationshipCMode refused",
                                      "SMResyncRelationshipCMode refused"}),
            CallLines());
}

TEST_F(ArrayLibrary, FaultsFailReadsAlwaysAndBreaksOrResyncsForTheirCount) {
  SRelationshipFaults faults;
  faults.readFails = true;
  faults.breakFails = 2;
  faults.resyncFails = SRelationshipFaults::kAlways;
  ASSERT_EQ(EStoreResult::kOk, CArrayRelationshipStore::SetFaults(kArray, kPath1, faults));
  ASSERT_EQ(EStoreResult::kOk, CArrayRelationshipStore::QueueStatuses(kArray, kPath1, {"transferring", "idle"}));
  ManageONTAP array;
  ASSERT_TRUE(Connect(kArray, array));

  _SVSMRelationshipProgressInfo info;
  EXPECT_FALSE(array.GetSnapMirrorInfoCMode(info, kPath1));
  EXPECT_FALSE(array.GetSnapMirrorInfoCMode(info, kPath1));
  // A failed read takes nothing from the queue.
  EXPECT_EQ(2u, Relationship(kPath1).queue.size());

  EXPECT_FALSE(array.SMBreakRelationshipCMode("vol_ds1", "vs_dr"));
  EXPECT_EQ(1, Relationship(kPath1).faults.breakFails);
  EXPECT_FALSE(array.SMBreakRelationshipCMode("vol_ds1", "vs_dr"));
  EXPECT_EQ("snapmirrored", Relationship(kPath1).mirrorState);
  EXPECT_TRUE(array.SMBreakRelationshipCMode("vol_ds1", "vs_dr"));
  EXPECT_EQ("broken-off", Relationship(kPath1).mirrorState);
  EXPECT_EQ(0, Relationship(kPath1).faults.breakFails);

  for (int i = 0; i < 3; ++i) EXPECT_FALSE(array.SMResyncRelationshipCMode("vol_ds1", "vs_dr"));
  EXPECT_EQ("broken-off", Relationship(kPath1).mirrorState);
  EXPECT_EQ(SRelationshipFaults::kAlways, Relationship(kPath1).faults.resyncFails);

  ASSERT_EQ(EStoreResult::kOk, CArrayRelationshipStore::SetFaults(kArray, kPath1, SRelationshipFaults()));
  EXPECT_TRUE(array.SMResyncRelationshipCMode("vol_ds1", "vs_dr"));
  ASSERT_TRUE(array.GetSnapMirrorInfoCMode(info, kPath1));
  EXPECT_EQ("transferring", info.relationshipStatus);
  EXPECT_EQ("GetSnapMirrorInfoCMode ok [snapmirrored] [transferring]", CallLines().back());
  EXPECT_EQ(EStoreResult::kMissing, CArrayRelationshipStore::SetFaults(kArray, "vs_dr:none", faults));
}

TEST_F(ArrayLibrary, MappedLunsAreListedAndUnmappedWithTheirFaults) {
  ManageONTAP array;
  ASSERT_TRUE(Connect(kArray, array));
  std::vector<std::string> luns = {"stale"};
  ASSERT_TRUE(array.GetAllMappedLUNs("vol_ds1", luns));
  EXPECT_EQ((std::vector<std::string>{"vol_ds1/lun0", "vol_ds1/lun1"}), luns);
  ASSERT_TRUE(array.GetAllMappedLUNs("vol_ds2", luns));
  EXPECT_TRUE(luns.empty());  // its one LUN is not mapped
  EXPECT_EQ("GetAllMappedLUNs ok [0]", CallLines().back());

  ASSERT_TRUE(CArrayLunStore::SetListingFails(kArray, "vol_ds1", true));
  luns = {"kept"};
  EXPECT_FALSE(array.GetAllMappedLUNs("vol_ds1", luns));
  EXPECT_EQ((std::vector<std::string>{"kept"}), luns);
  ASSERT_TRUE(CArrayLunStore::SetListingFails(kArray, "vol_ds1", false));

  ASSERT_EQ(EStoreResult::kOk, CArrayLunStore::SetUnmapFails(kArray, "vol_ds1/lun1", true));
  EXPECT_TRUE(array.UnAssignLunFromAllInitiators("vol_ds1/lun0"));
  EXPECT_FALSE(array.UnAssignLunFromAllInitiators("vol_ds1/lun1"));
  EXPECT_FALSE(array.UnAssignLunFromAllInitiators("vol_ds1/lun9"));
  EXPECT_TRUE(array.UnAssignLunFromAllInitiators("vol_ds2/lun0"));  // not mapped: nothing to do
  ASSERT_TRUE(array.GetAllMappedLUNs("vol_ds1", luns));
  EXPECT_EQ((std::vector<std::string>{"vol_ds1/lun1"}), luns);

  std::vector<SLabLun> all;
  ASSERT_EQ(EStoreResult::kOk, CArrayLunStore::All(all));
  ASSERT_EQ(3u, all.size());
  EXPECT_FALSE(all[0].mapped);
  EXPECT_TRUE(all[1].mapped);
  EXPECT_TRUE(all[1].unmapFails);
  EXPECT_FALSE(CArrayLunStore::Add(SLabLun{kArray, "vol_ds1", "vol_ds1/lun0", true, false}));
}

TEST_F(ArrayLibrary, MissingEntriesAndDownArraysFailEveryCall) {
  NASSnapUtil util;
  _NASArrayInfo entry;
  EXPECT_FALSE(util.GetArrayNameAndCredentialsByControlHostId(kArray, entry));  // not initialised
  util.Initialize();
  entry.arrayName = "left over";
  entry.interfaces.resize(2);
  EXPECT_FALSE(util.GetArrayNameAndCredentialsByControlHostId(kUnmanaged, entry));
  EXPECT_EQ("", entry.arrayName);
  EXPECT_TRUE(entry.interfaces.empty());
  EXPECT_FALSE(util.GetArrayNameAndCredentialsByControlHostId(99, entry));
  ASSERT_TRUE(util.GetArrayNameAndCredentialsByControlHostId(kArray, entry));
  EXPECT_EQ("array-dr", entry.arrayName);
  EXPECT_EQ("vs_dr", entry.vserverName);
  EXPECT_EQ(kArray, entry.controlHostId);

  // Never configured: nothing connects.
  ManageONTAP bare;
  EXPECT_FALSE(bare.OpenConnection());
  std::vector<std::string> luns;
  EXPECT_FALSE(bare.GetAllMappedLUNs("vol_ds1", luns));

  // Down before connecting: the entry is there, the connection fails and
  // so does every later call; nothing changes on the array.
  ASSERT_EQ(EStoreResult::kOk, CArrayStore::SetReachable(kArray, false));
  ManageONTAP down;
  ASSERT_TRUE(util.SetONTAPObject(entry, down, MONTAP_CONNECT_MANAGEMENT, false));
  EXPECT_STREQ("array-dr", down.GetFileServerName());
  EXPECT_STREQ("vs_dr", down.GetVserverName());
  EXPECT_FALSE(down.OpenConnection());
  _SVSMRelationshipProgressInfo info;
  EXPECT_FALSE(down.GetSnapMirrorInfoCMode(info, kPath1));
  EXPECT_FALSE(down.SMBreakRelationshipCMode("vol_ds1", "vs_dr"));
  EXPECT_FALSE(down.UnAssignLunFromAllInitiators("vol_ds1/lun0"));
  ASSERT_EQ(EStoreResult::kOk, CArrayStore::SetReachable(kArray, true));
  EXPECT_FALSE(down.SMBreakRelationshipCMode("vol_ds1", "vs_dr"));  // it never connected
  EXPECT_EQ("snapmirrored", Relationship(kPath1).mirrorState);
  SLabLun lun;
  ASSERT_EQ(EStoreResult::kOk, CArrayLunStore::Get(kArray, "vol_ds1/lun0", lun));
  EXPECT_TRUE(lun.mapped);

  // Down after connecting: calls fail while it is down.
  ManageONTAP up;
  ASSERT_TRUE(Connect(kArray, up));
  ASSERT_EQ(EStoreResult::kOk, CArrayStore::SetReachable(kArray, false));
  EXPECT_FALSE(up.SMBreakRelationshipCMode("vol_ds1", "vs_dr"));
  ASSERT_EQ(EStoreResult::kOk, CArrayStore::SetReachable(kArray, true));
  EXPECT_TRUE(up.SMBreakRelationshipCMode("vol_ds1", "vs_dr"));

  // An array without a vserver answers an empty one.
  ASSERT_TRUE(CArrayStore::Add(SLabArray{6, "array-plain", "", true, true}));
  ManageONTAP plain;
  ASSERT_TRUE(Connect(6, plain));
  EXPECT_STREQ("", plain.GetVserverName());
  EXPECT_EQ(EStoreResult::kMissing, CArrayStore::SetReachable(99, false));
  EXPECT_FALSE(CArrayStore::Add(SLabArray{6, "again", "", true, true}));

  std::vector<SArrayCall> lost;
  ASSERT_EQ(EStoreResult::kOk, CArrayCallJournal::OfHost(kUnmanaged, lost));
  ASSERT_EQ(1u, lost.size());
  EXPECT_EQ("GetArrayNameAndCredentialsByControlHostId", lost[0].call);
  EXPECT_EQ("controlHostId [4]", lost[0].arguments);
  EXPECT_EQ("not found", lost[0].result);
}

TEST_F(ArrayLibrary, TheJournalKeepsEveryCallInOrderWithItsHostAndArguments) {
  ASSERT_TRUE(CArrayCallJournal::Clear());
  ManageONTAP array;
  ASSERT_TRUE(Connect(kArray, array));
  _SVSMRelationshipProgressInfo info;
  array.GetSnapMirrorInfoCMode(info, kPath2);
  array.SMBreakRelationshipCMode("vol_ds2", "vs_dr");
  std::vector<std::string> luns;
  array.GetAllMappedLUNs("vol_ds1", luns);
  array.UnAssignLunFromAllInitiators("vol_ds1/lun0");
  std::vector<SArrayCall> calls = Calls();
  ASSERT_EQ(6u, calls.size());
  const std::vector<std::pair<std::string, std::string>> expected = {
      {"GetArrayNameAndCredentialsByControlHostId", "controlHostId [3]"},
      {"OpenConnection", "array [array-dr]"},
      {"GetSnapMirrorInfoCMode", "destPath [vs_dr:vol_ds2]"},
      {"SMBreakRelationshipCMode", "volume [vol_ds2] vserver [vs_dr]"},
      {"GetAllMappedLUNs", "volume [vol_ds1]"},
      {"UnAssignLunFromAllInitiators", "lun [vol_ds1/lun0]"},
  };
  for (size_t i = 0; i < calls.size(); ++i) {
    EXPECT_EQ(expected[i].first, calls[i].call);
    EXPECT_EQ(expected[i].second, calls[i].arguments);
    EXPECT_EQ(kArray, calls[i].controlHostId);
    if (i > 0) {
      EXPECT_GT(calls[i].seq, calls[i - 1].seq);
      EXPECT_GE(calls[i].atMs, calls[i - 1].atMs);
    }
  }
  EXPECT_EQ("ok [2]", calls[4].result);
  ASSERT_TRUE(CArrayCallJournal::Clear());
  EXPECT_TRUE(Calls().empty());
}

TEST_F(ArrayLibrary, StateSurvivesReopeningTheDatabase) {
  SRelationshipFaults faults;
  faults.breakFails = 3;
  ASSERT_EQ(EStoreResult::kOk, CArrayRelationshipStore::SetFaults(kArray, kPath2, faults));
  ASSERT_EQ(EStoreResult::kOk, CArrayRelationshipStore::QueueStatuses(kArray, kPath1, {"transferring", "idle"}));
  {
    ManageONTAP array;
    ASSERT_TRUE(Connect(kArray, array));
    _SVSMRelationshipProgressInfo info;
    ASSERT_TRUE(array.GetSnapMirrorInfoCMode(info, kPath1));
    ASSERT_TRUE(array.SMBreakRelationshipCMode("vol_ds1", "vs_dr"));
    EXPECT_FALSE(array.SMBreakRelationshipCMode("vol_ds2", "vs_dr"));
    ASSERT_TRUE(array.UnAssignLunFromAllInitiators("vol_ds1/lun1"));
  }
  ASSERT_EQ(EStoreResult::kOk, CArrayStore::SetReachable(kUnmanaged, false));
  const size_t journalled = Calls().size();
  CDBConnection::CloseThreadConnections();

  // Another thread has a connection of its own.
  drtest::CTestThread reader([&] {
    SLabRelationship r1 = Relationship(kPath1);
    EXPECT_EQ("broken-off", r1.mirrorState);
    EXPECT_EQ("transferring", r1.status);
    EXPECT_EQ((std::vector<std::string>{"idle"}), r1.queue);
    EXPECT_EQ(2, Relationship(kPath2).faults.breakFails);
    SLabLun lun;
    ASSERT_EQ(EStoreResult::kOk, CArrayLunStore::Get(kArray, "vol_ds1/lun1", lun));
    EXPECT_FALSE(lun.mapped);
    SLabArray lost;
    ASSERT_EQ(EStoreResult::kOk, CArrayStore::Get(kUnmanaged, lost));
    EXPECT_FALSE(lost.reachable);
    EXPECT_FALSE(lost.managed);
    EXPECT_EQ(journalled, Calls().size());
    ManageONTAP again;
    ASSERT_TRUE(Connect(kArray, again));
    _SVSMRelationshipProgressInfo info;
    ASSERT_TRUE(again.GetSnapMirrorInfoCMode(info, kPath1));
    EXPECT_EQ("idle", info.relationshipStatus);
    CDBConnection::CloseThreadConnections();
  }, "reader with its own connection");
  EXPECT_TRUE(reader.Join());
}

}  // namespace
