// Replica groups: how the destination path, vserver and volume follow each
// other through the updates a load makes, and what a copy carries.
#include <gtest/gtest.h>

#include "app/SSMReplicaGroup.h"

TEST(SSMReplicaGroup, NewGroupsStartEmptyWithANormalRelationship) {
  SSMReplicaGroup g;
  EXPECT_EQ(0, g.getReplicaGroupId());
  EXPECT_EQ(VOLUME_RELATIONSHIP_NORMAL, g.GetRelationshipStatus());
  EXPECT_EQ("", g.getDestPath());
  SSMReplicaGroup ids(7, 51, 21);
  EXPECT_EQ(7, ids.getReplicaGroupId());
  EXPECT_EQ(51, ids.getCopyId());
  EXPECT_EQ(21, ids.getSubclientId());
  EXPECT_EQ(VOLUME_RELATIONSHIP_NORMAL, ids.GetRelationshipStatus());
  EXPECT_TRUE(ids.ReplicationIds().empty());
}

TEST(SSMReplicaGroup, PathsSplitIntoVServerAndVolume) {
  SSMReplicaGroup g(1, 2, 3);
  g.setDestVolume("vs_dr:vol_ds1");
  EXPECT_EQ("vs_dr", g.getDestVServer());
  EXPECT_EQ("vol_ds1", g.getDestVolume());
  EXPECT_EQ("vs_dr:vol_ds1", g.getDestPath());
  g.setSourceVolume("vs_prod:vol_src");
  EXPECT_EQ("vs_prod", g.getSourceVServer());
  EXPECT_EQ("vol_src", g.getSourceVolume());
  EXPECT_EQ("vs_prod:vol_src", g.getSourcePath());
  // Source and destination do not leak into each other.
  EXPECT_EQ("vs_dr", g.getDestVServer());

  // A later volume keeps the vserver and rebuilds the path.
  g.updateDestVolume("vol_ds1_override");
  EXPECT_EQ("vs_dr", g.getDestVServer());
  EXPECT_EQ("vs_dr:vol_ds1_override", g.getDestPath());
}

TEST(SSMReplicaGroup, APathWithoutColonLeavesVServerAndVolumeAsTheyWere) {
  SSMReplicaGroup g;
  g.setDestVolume("vs_dr:vol_a");
  g.setDestVolume("just_a_volume");
  EXPECT_EQ("just_a_volume", g.getDestPath());
  EXPECT_EQ("vs_dr", g.getDestVServer());
  EXPECT_EQ("vol_a", g.getDestVolume());
  g.setSourceVolume(nullptr);
  EXPECT_EQ("", g.getSourcePath());
  EXPECT_EQ("", g.getSourceVolume());
}

TEST(SSMReplicaGroup, APathWithTwoColonsTakesTheFirstTwoParts) {
  SSMReplicaGroup g;
  g.setDestVolume("vs_dr:vol_b:part3");
  EXPECT_EQ("vs_dr", g.getDestVServer());
  EXPECT_EQ("vol_b", g.getDestVolume());
  EXPECT_EQ("vs_dr:vol_b:part3", g.getDestPath());
  // Empty parts count: the vserver may be empty.
  g.setSourceVolume(":vol_c");
  EXPECT_EQ("", g.getSourceVServer());
  EXPECT_EQ("vol_c", g.getSourceVolume());
}

TEST(SSMReplicaGroup, AVServerSetAloneKeepsTheOldPathUntilTheVolumeIsUpdated) {
  SSMReplicaGroup g;
  g.setDestVolume("vs_old:vol_x");
  g.SetDestVServer("vs_new");
  EXPECT_EQ("vs_new", g.getDestVServer());
  EXPECT_EQ("vs_old:vol_x", g.getDestPath());
  g.updateDestVolume("vol_y");
  EXPECT_EQ("vs_new:vol_y", g.getDestPath());
}

TEST(SSMReplicaGroup, ACopyCarriesEverythingAndStaysApart) {
  SSMReplicaGroup g(9, 52, 21);
  g.setSourceArray("array-prod");
  g.setTargetArray("array-dr");
  g.setSourceVolume("vs_prod:vol_1");
  g.setDestVolume("vs_dr:vol_1");
  g.setSPId(5);
  g.setDefaultSPCopyId(51);
  g.setPairId(77);
  g.setDestCntrlHostId(3);
  g.updateArrayNum(4);
  g.ReplicationIds() = {101, 102};
  g.SetRelationshipStatus(VOLUME_RELATIONSHIP_BROKEN);

  SSMReplicaGroup copy(g);
  SSMReplicaGroup assigned;
  assigned = g;
  for (const SSMReplicaGroup* c : {&copy, &assigned}) {
    EXPECT_EQ(9, c->getReplicaGroupId());
    EXPECT_EQ(52, c->getCopyId());
    EXPECT_EQ(21, c->getSubclientId());
    EXPECT_EQ("array-prod", c->getSourceArray());
    EXPECT_EQ("array-dr", c->getTargetArray());
    EXPECT_EQ("vs_prod:vol_1", c->getSourcePath());
    EXPECT_EQ("vs_dr:vol_1", c->getDestPath());
    EXPECT_EQ("vol_1", c->getDestVolume());
    EXPECT_EQ(5, c->getSPId());
    EXPECT_EQ(51, c->getDefaultSPCopyId());
    EXPECT_EQ(77, c->getPairId());
    EXPECT_EQ(4, c->getDestCntrlHostId());
    EXPECT_EQ((std::set<int>{101, 102}), c->ReplicationIds());
    EXPECT_EQ(VOLUME_RELATIONSHIP_BROKEN, c->GetRelationshipStatus());
  }
  copy.SetRelationshipStatus(VOLUME_RELATIONSHIP_NORMAL);
  copy.ReplicationIds().insert(103);
  EXPECT_EQ(VOLUME_RELATIONSHIP_BROKEN, g.GetRelationshipStatus());
  EXPECT_EQ(2u, g.ReplicationIds().size());
}
