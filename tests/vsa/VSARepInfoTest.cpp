// The VM replication record: getters over the replication message, the
// property list and the snapshot records.
#include <gtest/gtest.h>

#include "vsa/VSARepInfo.h"

namespace {

using VmInfo = App::VSAReplicationInfo;
using Subclient = ZnEntities::SubClientEntity;

VmInfo WithProperty(VmInfo info, int id, const std::string& value) {
  CNMessageBase& p = info.AddMsg(VmInfo::kProperties);
  p.SetInt32(App::VSAReplicationProperties::kPropertyId, id);
  p.SetString(App::VSAReplicationProperties::kValue, value);
  return info;
}

TEST(VSARepInfoTest, EntityComesFromTheSubclientThenTheSourceSubclientThenNothing) {
  VmInfo info;
  CNMessageBase& source = info.MutableMsg(VmInfo::kSourceSubclient);
  source.SetInt32(Subclient::kSubclientId, 7);
  source.SetInt32(Subclient::kInstanceId, 70);
  source.SetInt32(Subclient::kClientId, 700);
  VSARepInfo fromSource(info);
  EXPECT_EQ(7, fromSource.getSubclientId());
  EXPECT_EQ(70, fromSource.GetSrcInstanceId());
  EXPECT_EQ(700, fromSource.GetSourceVClientId());

  info.MutableMsg(VmInfo::kSubclient).SetInt32(Subclient::kSubclientId, 8);
  VSARepInfo fromSubclient(info);
  EXPECT_EQ(8, fromSubclient.getSubclientId());
  EXPECT_EQ(0, fromSubclient.GetSrcInstanceId());

  // A sub-record without a subclient id does not count.
  App::VSAReplicationInfo bare;
  bare.MutableMsg(VmInfo::kSubclient).SetInt32(Subclient::kInstanceId, 5);
  VSARepInfo none(bare);
  EXPECT_EQ(nullptr, none.GetEntity());
  EXPECT_EQ(0, none.getSubclientId());
  EXPECT_EQ(0, none.GetSrcInstanceId());
  EXPECT_EQ(0, none.GetSourceVClientId());
}

TEST(VSARepInfoTest, EmptyRecordAnswersNeutrally) {
  VSARepInfo rep;
  EXPECT_EQ(0, rep.GetReplId());
  EXPECT_EQ(106, rep.GetApplicationId());
  EXPECT_FALSE(rep.RunPreChecks());
  EXPECT_FALSE(rep.IsIndexingV2());
  EXPECT_EQ(0, rep.GetTaskId());
  EXPECT_EQ(0, rep.GetSubTaskId());
  EXPECT_EQ(0, rep.GetTargetId());
  EXPECT_EQ(0, rep.GetDestInstanceId());
  EXPECT_EQ(0, rep.GetDestInstanceClientId());
  EXPECT_EQ(0, rep.GetDestProxyId());
  EXPECT_EQ("", rep.GetDestProxyName());
  EXPECT_EQ("", rep.GetHostName());
  EXPECT_FALSE(rep.IsReplicaSyncFromSnap());
  std::vector<App::VSAReplicationTrakingIdInfo> ids;
  EXPECT_FALSE(rep.GetTrackingIds(ids));
  EXPECT_TRUE(ids.empty());
}

TEST(VSARepInfoTest, VendorsToolsAndIdsComeFromTheirFields) {
  App::VSAReplicationInfo info;
  info.SetInt32(VmInfo::kDestinationVendor, 17);
  info.SetInt32(VmInfo::kSourceVendor, 1);
  info.SetInt32(VmInfo::kToolsInstalled, 1);
  info.MutableMsg(VmInfo::kSubtask).SetInt32(ZnEntities::SubtaskEntity::kSubtaskId, 31);
  info.MutableMsg(VmInfo::kSubtask).SetInt32(ZnEntities::SubtaskEntity::kTaskId, 30);
  info.MutableMsg(VmInfo::kDestinationProxy).SetInt32(ZnEntities::ClientEntity::kClientId, 44);
  info.MutableMsg(VmInfo::kDestinationProxy).SetString(ZnEntities::ClientEntity::kClientName, "proxy");
  info.AddMsg(VmInfo::kTrackingIds).SetString(App::VSAReplicationTrakingIdInfo::kTrackingId, "t1");
  info.AddMsg(VmInfo::kTrackingIds).SetString(App::VSAReplicationTrakingIdInfo::kTrackingId, "t2");
  VSARepInfo rep(info);
  EXPECT_EQ(17, rep.GetDestinationVendor());
  EXPECT_EQ(1, rep.GetSourceVendor());
  EXPECT_TRUE(rep.IsToolsInstalled());
  EXPECT_TRUE(rep.RunPreChecks());
  EXPECT_EQ(30, rep.GetTaskId());
  EXPECT_EQ(31, rep.GetSubTaskId());
  EXPECT_EQ(44, rep.GetDestProxyId());
  EXPECT_EQ("proxy", rep.GetDestProxyName());
  std::vector<App::VSAReplicationTrakingIdInfo> ids(1);
  EXPECT_TRUE(rep.GetTrackingIds(ids));
  ASSERT_EQ(3u, ids.size());
  EXPECT_EQ("t2", ids[2].GetString(App::VSAReplicationTrakingIdInfo::kTrackingId));
}

TEST(VSARepInfoTest, PropertiesTakeTheFirstEntryOfAnId) {
  App::VSAReplicationInfo info = WithProperty(App::VSAReplicationInfo(), 2220, "4 clones");
  info = WithProperty(info, 2220, "9");
  info = WithProperty(info, 2204, "12x");
  info = WithProperty(info, 2212, "77");
  info = WithProperty(info, 2205, "");
  VSARepInfo rep(info);
  EXPECT_EQ(4, rep.GetCloneVMCount());
  EXPECT_EQ(0, rep.GetDestBackupTaskId());  // not a number
  EXPECT_EQ(77, rep.GetReverseReplicationTaskId());
  // Presence alone counts, also with an empty value.
  EXPECT_TRUE(rep.IsReplicaSyncFromSnap());
}

TEST(VSARepInfoTest, RestoreTimesKeepSixtyFourBits) {
  VSARepInfo rep;
  const int64_t late = 4102444800LL;  // year 2100, beyond 32 bits
  rep.setLastRestoreTime(late);
  EXPECT_EQ(late, rep.GetRepInfoMsg().GetInt64(VmInfo::kLastRestoreTime));
}

TEST(VSARepInfoTest, SnapshotsAreKeptUnderTheRecordsIdAndRemovedOneAtATime) {
  App::VSAReplicationInfo info;
  info.SetInt32(VmInfo::kReplicationId, 5);
  VSARepInfo rep(info);
  SDRSnapshotInfo snap;
  snap.replId = 99;
  snap.site = 1;
  snap.snapType = 2;
  snap.snapRef = "first";
  rep.addSnapshotInfo(snap);
  snap.snapRef = "second";
  rep.addSnapshotInfo(snap);

  SDRSnapshotInfo query;
  query.replId = 99;
  query.site = 1;
  query.snapType = 2;
  EXPECT_EQ(nullptr, rep.getSnapshotInfo(query));
  query.replId = 5;
  ASSERT_NE(nullptr, rep.getSnapshotInfo(query));
  EXPECT_EQ("first", rep.getSnapshotInfo(query)->snapRef);
  rep.removeSnapshotInfo(query);
  ASSERT_NE(nullptr, rep.getSnapshotInfo(query));
  EXPECT_EQ("second", rep.getSnapshotInfo(query)->snapRef);
  query.snapType = 3;
  rep.removeSnapshotInfo(query);  // nothing matches
  query.snapType = 2;
  EXPECT_NE(nullptr, rep.getSnapshotInfo(query));
}

}  // namespace
