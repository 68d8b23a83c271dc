// A revert puts a VM back as its snapshot found it: content, power and its
// network cards with their connected flags. A snapshot stored before the
// lab kept cards keeps none, and its revert leaves the cards as they are; a
// lab made before then gains the column and reads its snapshots.
#include <string>

#include "db/DBConnection.h"
#include "vm/HypervisorStore.h"
#include "platform/vm/LabTestSupport.h"

namespace {

class HypervisorLabRevert : public CLabTestBase {
 protected:
  static std::string RefOf(const SLabOpResult& r) {
    return r.response.GetListMsg(Ida::VMOpResp::kSnapshots, 0)
        .GetMsg(Ida::VMSnapshot::kReference)
        .GetString(Ida::SnapshotReference::kMoref);
  }
};

// What a test boot does to a running VM: a snapshot, its cards
// disconnected, a shutdown, a revert. The VM runs again, reachable.
TEST_F(HypervisorLabRevert, ARevertPutsBackTheCardsTheSnapshotFound) {
  const SLabVM before = VM(kSiteA, "src-1");
  ASSERT_TRUE(before.poweredOn);
  ASSERT_NE("", CHypervisorLab::ReportedIp(before));
  const SLabOpResult taken = Op(3, kSiteA, "src-1", "", Snapshot("__OB_TESTBOOT__"));
  ASSERT_EQ(0, taken.rc) << taken.ErrorText();
  ASSERT_EQ(0, Op(47, kSiteA, "src-1").rc);
  ASSERT_EQ(0, Op(2, kSiteA, "src-1").rc);
  ASSERT_EQ(EStoreResult::kOk, CHypervisorLab::BumpContent(kSiteA, "src-1"));
  EXPECT_EQ("", CHypervisorLab::ReportedIp(VM(kSiteA, "src-1")));

  const SLabOpResult reverted = Op(4, kSiteA, "src-1", "", Snapshot("__OB_TESTBOOT__", RefOf(taken)));
  ASSERT_EQ(0, reverted.rc) << reverted.ErrorText();
  const SLabVM after = VM(kSiteA, "src-1");
  EXPECT_TRUE(after.poweredOn);
  EXPECT_EQ(before.content, after.content);
  ASSERT_EQ(1u, after.nics.size());
  EXPECT_TRUE(after.nics[0].connected);
  EXPECT_EQ("VM Network", after.nics[0].network);
  EXPECT_EQ(CHypervisorLab::ReportedIp(before), CHypervisorLab::ReportedIp(after));
}

// The other way round: a VM whose cards were off when its snapshot was
// taken has them off again after a revert, though they were connected since.
TEST_F(HypervisorLabRevert, ARevertDisconnectsCardsTheSnapshotFoundDisconnected) {
  ASSERT_EQ(0, Op(47, kSiteA, "src-1").rc);
  const SLabOpResult taken = Op(3, kSiteA, "src-1", "", Snapshot("isolated"));
  ASSERT_EQ(0, taken.rc) << taken.ErrorText();
  SLabVM reconnected = VM(kSiteA, "src-1");
  reconnected.nics[0].connected = true;
  ASSERT_TRUE(CHypervisorStore::PutVM(reconnected));

  ASSERT_EQ(0, Op(4, kSiteA, "src-1", "", Snapshot("isolated")).rc);
  EXPECT_FALSE(VM(kSiteA, "src-1").nics[0].connected);
  EXPECT_EQ("", CHypervisorLab::ReportedIp(VM(kSiteA, "src-1")));
}

// A snapshot that kept no cards (stored before the lab kept them) reverts
// content and power and leaves the cards as they are.
TEST_F(HypervisorLabRevert, ASnapshotThatKeptNoCardsRevertsContentAndPowerOnly) {
  SLabSnapshot old;
  old.instanceId = kSiteA;
  old.vmGuid = "src-1";
  old.name = "old";
  old.content = 3;
  old.poweredOn = true;
  ASSERT_TRUE(CHypervisorLab::AddSnapshot(old));
  ASSERT_FALSE(Snaps(kSiteA, "src-1").at(0).cardsKept);
  ASSERT_EQ(0, Op(47, kSiteA, "src-1").rc);
  ASSERT_EQ(0, Op(2, kSiteA, "src-1").rc);

  ASSERT_EQ(0, Op(4, kSiteA, "src-1", "", Snapshot("old")).rc);
  const SLabVM after = VM(kSiteA, "src-1");
  EXPECT_EQ(3, after.content);
  EXPECT_TRUE(after.poweredOn);
  EXPECT_FALSE(after.nics[0].connected);
}

// Snapshots stored before the lab kept cards, in a table without the
// column: a connection that meets the table adds it, reads them as keeping
// no cards, and the next snapshot keeps its VM's cards.
TEST_F(HypervisorLabRevert, ALabMadeBeforeSnapshotsKeptCardsGainsTheColumnAndReadsItsSnapshots) {
  const SLabOpResult taken = Op(3, kSiteA, "src-1", "", Snapshot("kept"));
  ASSERT_EQ(0, taken.rc) << taken.ErrorText();
  CDBConnection* c = CDBConnection::ForThread();
  ASSERT_NE(nullptr, c);
  ASSERT_EQ(DB_OK, c->Exec("ALTER TABLE PLT_HvSnapshots DROP COLUMN nics")) << c->LastErrorText();
  // A process that opens the lab afresh.
  CDBConnection::CloseThreadConnections();

  const std::vector<SLabSnapshot> read = Snaps(kSiteA, "src-1");
  ASSERT_EQ(1u, read.size());
  EXPECT_EQ("kept", read[0].name);
  EXPECT_EQ(5, read[0].content);
  EXPECT_FALSE(read[0].cardsKept);
  const SLabOpResult next = Op(3, kSiteA, "src-1", "", Snapshot("after"));
  ASSERT_EQ(0, next.rc) << next.ErrorText();
  const std::vector<SLabSnapshot> both = Snaps(kSiteA, "src-1");
  ASSERT_EQ(2u, both.size());
  EXPECT_TRUE(both[1].cardsKept);
  ASSERT_EQ(1u, both[1].nics.size());
  EXPECT_TRUE(both[1].nics[0].connected);
}

}  // namespace
