// The storage-array data manager on the arrays: breaks and re-syncs with
// their waits and retries, what reaches the records, broken counts and LUN
// checks, read back from the array lab's relationships, LUNs and journal and
// from the waits the platform clock recorded.
#include <string>
#include <vector>

#include "Phases.h"
#include "app/SnapArrayTestSupport.h"
#include "array/ManageONTAP.h"
#include "jobs/JobStore.h"
#include "time/PlatformClock.h"

namespace {

using Info = Api::SnapDRReplicationInfo;

using drtest::kBreak;
using drtest::kResync;

size_t VolumeWaits() { return CPlatformClock::Instance().CountWaits(30000, "PerformVolumeAction"); }

class SnapArrayVolumeOps : public CSnapArrayTestBase {
 protected:
  void SetUp() override {
    CSnapArrayTestBase::SetUp();
    m_mgr = Loaded({1, 2, 3, 4});
    m_groups = Groups(*m_mgr, {1, 2, 3, 4});
    ASSERT_TRUE(CArrayCallJournal::Clear());
    CPlatformClock::Instance().ClearRecords();
  }
  SSMReplicaGroup& G(int id) { return *m_groups[id]; }
  static void Queue(const std::string& path, const std::vector<std::string>& statuses) {
    ASSERT_EQ(EStoreResult::kOk, CArrayRelationshipStore::QueueStatuses(kArray, path, statuses));
  }

  std::unique_ptr<CSnapArrayDRReplDataMgr> m_mgr;
  std::map<int, SSMReplicaGroup*> m_groups;
};

TEST_F(SnapArrayVolumeOps, AGroupOfAnotherCopyIsRefusedBeforeAnyArrayCall) {
  EXPECT_FALSE(m_mgr->ChangeRelationShipStatus(kCopy + 1, G(7), kBreak, false));
  EXPECT_TRUE(Logged("CopyId for SSMReplicaGroup [52] doesn't match input copyId [53]"));
  // Phases other than break and re-sync do nothing either.
  EXPECT_FALSE(m_mgr->ChangeRelationShipStatus(kCopy, G(7), Api::VIRTUAL_APP_PHASE_POWER_ON, false));
  EXPECT_TRUE(CallNames().empty());
  EXPECT_EQ("snapmirrored", Relationship("vs_dr:vol_ds1").mirrorState);
}

TEST_F(SnapArrayVolumeOps, ABreakReachesTheArrayAndEveryRecordOnTheGroup) {
  ASSERT_TRUE(m_mgr->ChangeRelationShipStatus(kCopy, G(7), kBreak, false));
  EXPECT_EQ("broken-off", Relationship("vs_dr:vol_ds1").mirrorState);
  EXPECT_EQ(VOLUME_RELATIONSHIP_BROKEN, G(7).GetRelationshipStatus());
  EXPECT_EQ((std::vector<std::string>{"GetArrayNameAndCredentialsByControlHostId", "OpenConnection",
                                      "GetSnapMirrorInfoCMode", "SMBreakRelationshipCMode"}),
            CallNames());
  EXPECT_TRUE(Logged("Opening connection to array [array-dr]"));
  EXPECT_TRUE(Logged("Attempting to break Relationship => Source  [vs_prod:vol_ds1] Destination  [vs_dr:vol_ds1] "));
  EXPECT_TRUE(Logged("Break successful for Relationship Source  [vs_prod:vol_ds1] Destination  [vs_dr:vol_ds1] "));
  // Records 1, 2 and 3 use group 7; only their volumes of group 7 changed.
  for (int id : {1, 2, 3}) {
    EXPECT_EQ((std::vector<int>{1}), VolumeStatuses(Record(*m_mgr, id)->GetRepInfo(), 7)) << id;
  }
  EXPECT_EQ((std::vector<int>{0}), VolumeStatuses(Record(*m_mgr, 2)->GetRepInfo(), 8));
  EXPECT_FALSE(Record(*m_mgr, 2)->IsAllVolumeRelationsBroken());
  EXPECT_TRUE(Record(*m_mgr, 1)->IsAllVolumeRelationsBroken());

  // Breaking it again is one accepted call; re-syncing brings it back.
  ASSERT_TRUE(CArrayCallJournal::Clear());
  ASSERT_TRUE(m_mgr->ChangeRelationShipStatus(kCopy, G(7), kBreak, false));
  EXPECT_EQ(1u, CallCount("SMBreakRelationshipCMode"));
  ASSERT_TRUE(m_mgr->ChangeRelationShipStatus(kCopy, G(7), kResync, false));
  EXPECT_EQ("snapmirrored", Relationship("vs_dr:vol_ds1").mirrorState);
  EXPECT_EQ(1u, CallCount("SMResyncRelationshipCMode"));
  EXPECT_EQ(VOLUME_RELATIONSHIP_NORMAL, G(7).GetRelationshipStatus());
  EXPECT_EQ((std::vector<int>{0}), VolumeStatuses(Record(*m_mgr, 3)->GetRepInfo(), 7));
  EXPECT_TRUE(Logged("Re-Sync successful for Relationship Source  [vs_prod:vol_ds1] Destination  [vs_dr:vol_ds1] "));
}

TEST_F(SnapArrayVolumeOps, AReSyncCallsTheArrayOnlyFromBrokenOff) {
  const struct {
    const char* state;
    bool result;
    size_t calls;
    const char* log;
  } kCases[] = {
      {"snapmirrored", true, 0,
       "Relationship status is [snapmirrored] for dest volume [vol_ds1]. Not attempting re-sync. Marking op "
       "[SUCCESS]"},
      {"uninitialized", false, 0,
       "Relationship status is [uninitialized] for dest volume [vol_ds1]. Cannot proceed with re-sync. Marking op "
       "[FAILURE]"},
      {"Broken-Off", true, 1, "Re-Sync successful for Relationship"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.state);
    ASSERT_TRUE(CArrayCallJournal::Clear());
    ASSERT_EQ(EStoreResult::kOk, CArrayRelationshipStore::SetMirrorState(kArray, "vs_dr:vol_ds1", c.state));
    G(7).SetRelationshipStatus(VOLUME_RELATIONSHIP_BROKEN);
    EXPECT_EQ(c.result, m_mgr->ReSyncVolumeRelationship(G(7)));
    EXPECT_EQ(c.calls, CallCount("SMResyncRelationshipCMode"));
    EXPECT_EQ(c.result ? VOLUME_RELATIONSHIP_NORMAL : VOLUME_RELATIONSHIP_BROKEN, G(7).GetRelationshipStatus());
    EXPECT_TRUE(Logged(c.log));
  }
}

TEST_F(SnapArrayVolumeOps, TheActionWaitsForAnIdleRelationshipThirtySecondsAtATime) {
  // Never idle: 11 attempts, 10 waits, no call.
  Queue("vs_dr:vol_ds1", {"transferring"});
  EXPECT_FALSE(m_mgr->ChangeRelationShipStatus(kCopy, G(7), kBreak, false));
  EXPECT_EQ(10u, VolumeWaits());
  EXPECT_EQ(11u, CallCount("GetSnapMirrorInfoCMode"));
  EXPECT_EQ(0u, CallCount("SMBreakRelationshipCMode"));
  EXPECT_TRUE(Logged("Relationship Status isn't IDLE"));
  EXPECT_TRUE(Logged("Waiting [30] seconds before (re)trying DR VOLUME ACTION ..."));
  EXPECT_TRUE(Logged("Exhausted retries for DR VOLUME ACTION. Failing Operation"));
  EXPECT_TRUE(Logged("Error breaking Relationship => Source  [vs_prod:vol_ds1] Destination  [vs_dr:vol_ds1] "));
  EXPECT_EQ("snapmirrored", Relationship("vs_dr:vol_ds1").mirrorState);
  EXPECT_EQ((std::vector<int>{0}), VolumeStatuses(Record(*m_mgr, 1)->GetRepInfo(), 7));

  // Idle at the third read: the call comes right after it.
  ASSERT_TRUE(CArrayCallJournal::Clear());
  CPlatformClock::Instance().ClearRecords();
  Queue("vs_dr:vol_ds1", {"transferring", "transferring", "idle"});
  ASSERT_TRUE(m_mgr->BreakVolumeRelationship(G(7), false));
  EXPECT_EQ(2u, VolumeWaits());
  std::vector<std::string> calls = CallNames();
  ASSERT_GE(calls.size(), 2u);
  EXPECT_EQ("SMBreakRelationshipCMode", calls.back());
  EXPECT_EQ(3u, CallCount("GetSnapMirrorInfoCMode"));

  // A read that fails between attempts leaves nothing to act on.
  ASSERT_TRUE(CArrayCallJournal::Clear());
  ASSERT_EQ(EStoreResult::kOk, CArrayRelationshipStore::SetMirrorState(kArray, "vs_dr:vol_ds2b", "snapmirrored"));
  Queue("vs_dr:vol_ds2b", {"transferring"});
  SRelationshipFaults unreadable;
  CPlatformClock::Instance().ClearRecords();
  ManageONTAP array;
  ASSERT_TRUE(m_mgr->Connect("array-dr", kArray, array));
  _SVSMRelationshipProgressInfo info;
  info.relationshipStatus = "transferring";
  unreadable.readFails = true;
  ASSERT_EQ(EStoreResult::kOk, CArrayRelationshipStore::SetFaults(kArray, "vs_dr:vol_ds2b", unreadable));
  EXPECT_FALSE(m_mgr->PerformVolumeAction(array, info, "vol_ds2b", "vs_dr", kBreak, 2, 30, "vs_dr:vol_ds2b"));
  EXPECT_EQ(2u, VolumeWaits());
  EXPECT_EQ(0u, CallCount("SMBreakRelationshipCMode"));
}

TEST_F(SnapArrayVolumeOps, ABreakThatKeepsFailingFailsAndARequestedReSyncLeavesTheGroupNormal) {
  SRelationshipFaults faults;
  faults.breakFails = 11;
  ASSERT_EQ(EStoreResult::kOk, CArrayRelationshipStore::SetFaults(kArray, "vs_dr:vol_ds1", faults));
  G(7).SetRelationshipStatus(VOLUME_RELATIONSHIP_BROKEN);
  EXPECT_FALSE(m_mgr->ChangeRelationShipStatus(kCopy, G(7), kBreak, true));
  EXPECT_EQ(11u, CallCount("SMBreakRelationshipCMode"));
  EXPECT_EQ(10u, VolumeWaits());
  // The re-sync found it still mirrored: no call, and the group is normal.
  EXPECT_EQ(0u, CallCount("SMResyncRelationshipCMode"));
  EXPECT_EQ(VOLUME_RELATIONSHIP_NORMAL, G(7).GetRelationshipStatus());
  EXPECT_EQ("snapmirrored", Relationship("vs_dr:vol_ds1").mirrorState);
  // A failed change writes nothing into the records.
  EXPECT_EQ((std::vector<int>{0}), VolumeStatuses(Record(*m_mgr, 1)->GetRepInfo(), 7));

  // Ten failures: the eleventh attempt breaks it.
  faults.breakFails = 10;
  ASSERT_EQ(EStoreResult::kOk, CArrayRelationshipStore::SetFaults(kArray, "vs_dr:vol_ds1", faults));
  EXPECT_TRUE(m_mgr->ChangeRelationShipStatus(kCopy, G(7), kBreak, true));
  EXPECT_EQ("broken-off", Relationship("vs_dr:vol_ds1").mirrorState);
}

TEST_F(SnapArrayVolumeOps, AQuitBetweenAttemptsEndsTheActionWithoutWaiting) {
  Queue("vs_dr:vol_ds1", {"transferring"});
  ASSERT_EQ(EStoreResult::kOk, CJobStore::SetControlOperation(kJob, 1));
  EXPECT_FALSE(m_mgr->ChangeRelationShipStatus(kCopy, G(7), kBreak, false));
  EXPECT_TRUE(Logged("Quit flag set. Failing DR VOLUME ACTION"));
  EXPECT_EQ(0u, VolumeWaits());
  EXPECT_EQ(1u, CallCount("GetSnapMirrorInfoCMode"));
}

TEST_F(SnapArrayVolumeOps, MissingEntriesAndDownArraysFailEveryOperation) {
  const struct {
    const char* what;
    std::function<bool(CSnapArrayDRReplDataMgr&, SSMReplicaGroup&)> run;
  } kOps[] = {
      {"break", [](CSnapArrayDRReplDataMgr& m, SSMReplicaGroup& g) { return m.BreakVolumeRelationship(g, false); }},
      {"re-sync", [](CSnapArrayDRReplDataMgr& m, SSMReplicaGroup& g) { return m.ReSyncVolumeRelationship(g); }},
      {"broken?",
       [](CSnapArrayDRReplDataMgr& m, SSMReplicaGroup& g) {
         bool broken = false;
         return m.IsRelationshipBroken(g, broken);
       }},
      {"LUNs", [](CSnapArrayDRReplDataMgr& m, SSMReplicaGroup& g) { return m.VerifyLUNMapping(g, true); }},
  };
  for (const auto& op : kOps) {
    SCOPED_TRACE(op.what);
    // Group 10 lies on array 4, which has no management entry.
    ASSERT_TRUE(CArrayCallJournal::Clear());
    EXPECT_FALSE(op.run(*m_mgr, G(10)));
    EXPECT_EQ((std::vector<std::string>{"GetArrayNameAndCredentialsByControlHostId"}), CallNames());
    EXPECT_TRUE(Logged("Array Management entry for host [array-lost] not found."));
    // Array 3 down: the connection counts, every later call fails.
    ASSERT_EQ(EStoreResult::kOk, CArrayStore::SetReachable(kArray, false));
    EXPECT_FALSE(op.run(*m_mgr, G(8)));
    EXPECT_TRUE(Logged("Warning: Could not connect to array [array-dr]"));
    ASSERT_EQ(EStoreResult::kOk, CArrayStore::SetReachable(kArray, true));
  }
  EXPECT_EQ(0u, CallCount("SMBreakRelationshipCMode"));
  EXPECT_EQ("snapmirrored", Relationship("vs_dr:vol_ds2b").mirrorState);
  std::vector<std::string> mapped;
  EXPECT_EQ(EArrayAnswer::kOk, CArrayLunStore::Mapped(kArray, "vol_ds1", mapped));
  EXPECT_EQ(2u, mapped.size());
}

TEST_F(SnapArrayVolumeOps, StatusEightIsNeverWrittenIntoTheRecords) {
  Record(*m_mgr, 1)->SetVolumeRelationshipStatus(7, VOLUME_RELATIONSHIP_BROKEN);
  G(7).SetRelationshipStatus(VOLUME_RELATIONSHIP_NOT_RECORDED);
  m_mgr->UpdateRelationshipStatus(G(7));
  EXPECT_EQ((std::vector<int>{1}), VolumeStatuses(Record(*m_mgr, 1)->GetRepInfo(), 7));
  EXPECT_EQ((std::vector<int>{0}), VolumeStatuses(Record(*m_mgr, 2)->GetRepInfo(), 7));
  G(7).SetRelationshipStatus(VOLUME_RELATIONSHIP_NORMAL);
  m_mgr->UpdateRelationshipStatus(G(7));
  EXPECT_EQ((std::vector<int>{0}), VolumeStatuses(Record(*m_mgr, 1)->GetRepInfo(), 7));
}

TEST_F(SnapArrayVolumeOps, ALunCheckIsTrueOnlyWhenNoLunStaysMapped) {
  // Nothing mapped on group 8's volume; two on group 7's.
  EXPECT_TRUE(m_mgr->VerifyLUNMapping(G(8), false));
  EXPECT_FALSE(m_mgr->VerifyLUNMapping(G(7), false));
  EXPECT_TRUE(Logged("[2] LUN(s) are mapped for volume [vol_ds1]"));
  EXPECT_TRUE(Logged("LUN [vol_ds1/lun1] is mapped"));
  EXPECT_EQ(0u, CallCount("UnAssignLunFromAllInitiators"));

  // One LUN that cannot be unmapped: the other is unmapped, the check fails.
  ASSERT_EQ(EStoreResult::kOk, CArrayLunStore::SetUnmapFails(kArray, "vol_ds1/lun1", true));
  EXPECT_FALSE(m_mgr->VerifyLUNMapping(G(7), true));
  EXPECT_TRUE(Logged("Successfully unmapped LUN [vol_ds1/lun0]"));
  EXPECT_TRUE(Logged("Failed to unmap LUN [vol_ds1/lun1]"));
  std::vector<std::string> mapped;
  ASSERT_EQ(EArrayAnswer::kOk, CArrayLunStore::Mapped(kArray, "vol_ds1", mapped));
  EXPECT_EQ((std::vector<std::string>{"vol_ds1/lun1"}), mapped);

  ASSERT_EQ(EStoreResult::kOk, CArrayLunStore::SetUnmapFails(kArray, "vol_ds1/lun1", false));
  EXPECT_TRUE(m_mgr->VerifyLUNMapping(G(7), true));
  ASSERT_EQ(EArrayAnswer::kOk, CArrayLunStore::Mapped(kArray, "vol_ds1", mapped));
  EXPECT_TRUE(mapped.empty());

  // A listing that fails fails the check.
  ASSERT_TRUE(CArrayLunStore::SetListingFails(kArray, "vol_ds3", true));
  EXPECT_FALSE(m_mgr->VerifyLUNMapping(G(9), true));
  EXPECT_TRUE(Logged("Error querying lun mapping for volume [vol_ds3]"));
  EXPECT_TRUE(Logged("Error verifying lun mapping for volume [vol_ds3]"));
}

TEST_F(SnapArrayVolumeOps, TheBrokenCountCoversTheDataSourcesGroupsAndFailsOnAnUnreadableOne) {
  ASSERT_EQ(EStoreResult::kOk, CArrayRelationshipStore::SetMirrorState(kArray, "vs_dr:vol_ds3", "broken-off"));
  const struct {
    std::vector<int> ids;
    int broken;
    const char* log;
  } kCases[] = {
      {{1, 2}, 0, "[0] out of [2] volume relationships broken for replList [1,2] vms in copyId [52]"},
      {{3}, 1, "[1] out of [2] volume relationships broken for replList [3] vms in copyId [52]"},
  };
  for (const auto& c : kCases) {
    int count = 0;
    SnapDRContext ctx = Context(c.ids, {7, 8, 9});
    SDataSourceInfo info = Source(c.ids);
    ASSERT_TRUE(m_mgr->GetBrokenRelationshipCount(ctx, info, count));
    EXPECT_EQ(c.broken, count);
    EXPECT_TRUE(Logged(c.log));
  }
  EXPECT_EQ(VOLUME_RELATIONSHIP_BROKEN, G(9).GetRelationshipStatus());

  // Group 10 cannot be read (no management entry): the count fails, with
  // what it added before.
  int count = 0;
  SnapDRContext ctx = Context({4}, {9, 10});
  SDataSourceInfo info = Source({4});
  EXPECT_FALSE(m_mgr->GetBrokenRelationshipCount(ctx, info, count));
  EXPECT_EQ(1, count);
  EXPECT_TRUE(Logged("Error querying for broken relations"));
}

TEST_F(SnapArrayVolumeOps, TheArraysVServerBecomesTheGroupsButTheRelationshipIsStillReadByItsPath) {
  ASSERT_EQ(EStoreResult::kOk, CArrayStore::SetVServer(kArray, "vs_dr_mgmt"));
  ASSERT_FALSE(m_mgr->BreakVolumeRelationship(G(7), false));
  EXPECT_EQ("vs_dr_mgmt", G(7).getDestVServer());
  EXPECT_EQ("vs_dr:vol_ds1", G(7).getDestPath());
  std::vector<SArrayCall> calls;
  ASSERT_EQ(EStoreResult::kOk, CArrayCallJournal::All(calls));
  bool read = false, brokeOnNewVServer = false;
  for (const SArrayCall& c : calls) {
    read |= c.call == "GetSnapMirrorInfoCMode" && c.arguments.find("vs_dr:vol_ds1") != std::string::npos;
    brokeOnNewVServer |= c.call == "SMBreakRelationshipCMode" && c.arguments.find("vs_dr_mgmt") != std::string::npos;
  }
  EXPECT_TRUE(read);
  EXPECT_TRUE(brokeOnNewVServer);
}

}  // namespace
