// The storage-array messages through their XML form: job ids wider than 32
// bits stay whole, the sub-records come back as their classes, and a
// datastore replication carries both the datastore pair and the array
// volume.
#include <gtest/gtest.h>

#include "msg/MsgClasses.h"

namespace {

using Info = Api::SnapDRReplicationInfo;
constexpr long long kWide = (1LL << 33) + 5;

TEST(StorageArrayMessages, ARecordKeepsEveryFieldAndItsWideJobIdsThroughXml) {
  Info info;
  info.SetInt32(Info::kReplicationId, 11);
  info.SetInt64(Info::kLastSyncedBackupJobId, kWide);
  info.SetString(Info::kSourceVMGuid, "guid-11");
  info.SetString(Info::kSourceVMName, "vm11");
  info.SetInt32(Info::kTestFailoverStatus, 3);
  info.SetInt32(Info::kCopyId, 52);
  info.MutableMsg(Info::kRestoreOptions).SetString(TMMsg::VMWAdvancedRestoreOptions::kEsxHost, "esx-dr");
  CNMessageBase& job = info.AddMsg(Info::kAssociatedJobs);
  job.SetInt32(App::ReplicasyncAssociatedJob::kJobKind, 59);
  job.SetInt64(App::ReplicasyncAssociatedJob::kJobId, kWide);
  CNMessageBase& mount = info.MutableMsg(Info::kMountRecord);
  mount.SetInt64(Api::SnapDRMountRecord::kJobId, kWide + 1);
  mount.SetString(Api::SnapDRMountRecord::kFirstText, "vm11");
  CNMessageBase& ds = info.AddMsg(Info::kDatastoreReplications);
  ds.MutableMsg(Api::DatastoreReplication::kSourceDatastore)
      .SetString(VirtualServer::VMDatastoreInfo::kDatastoreName, "ds1");
  ds.SetInt32(Api::DatastoreReplication::kReplicationId, 4);
  ds.SetInt32(Api::DatastoreReplication::kReplicaGroupId, 7);
  ds.SetInt32(Api::DatastoreReplication::kRelationshipStatus, 1);
  ds.MutableMsg(Api::DatastoreReplication::kVolume).SetString(Api::SnapDRVolume::kVolumeName, "vol_ds1");
  ds.MutableMsg(Api::DatastoreReplication::kVolume).SetInt32(Api::SnapDRVolume::kArrayNumber, 3);

  std::string xml;
  ASSERT_TRUE(info.serializeUTF8(xml));
  Info back;
  ASSERT_TRUE(back.Unserialize(xml)) << xml;
  std::string again;
  ASSERT_TRUE(back.serializeUTF8(again));
  EXPECT_EQ(xml, again);
  EXPECT_EQ(kWide, back.GetInt64(Info::kLastSyncedBackupJobId));
  EXPECT_EQ("guid-11", back.GetString(Info::kSourceVMGuid));
  EXPECT_EQ(3, back.GetInt32(Info::kTestFailoverStatus));
  EXPECT_EQ("esx-dr", back.GetMsgAs<TMMsg::VMWAdvancedRestoreOptions>(Info::kRestoreOptions)
                          .GetString(TMMsg::VMWAdvancedRestoreOptions::kEsxHost));
  const auto& backJob = back.GetListMsgAs<App::ReplicasyncAssociatedJob>(Info::kAssociatedJobs, 0);
  EXPECT_EQ(59, backJob.GetInt32(App::ReplicasyncAssociatedJob::kJobKind));
  EXPECT_EQ(kWide, backJob.GetInt64(App::ReplicasyncAssociatedJob::kJobId));
  EXPECT_EQ(kWide + 1, back.GetMsgAs<Api::SnapDRMountRecord>(Info::kMountRecord).GetInt64(Api::SnapDRMountRecord::kJobId));
  const auto& backDs = back.GetListMsgAs<Api::DatastoreReplication>(Info::kDatastoreReplications, 0);
  EXPECT_EQ(4, backDs.GetInt32(Api::DatastoreReplication::kReplicationId));
  EXPECT_EQ(7, backDs.GetInt32(Api::DatastoreReplication::kReplicaGroupId));
  EXPECT_EQ(1, backDs.GetInt32(Api::DatastoreReplication::kRelationshipStatus));
  const auto& volume = backDs.GetMsgAs<Api::SnapDRVolume>(Api::DatastoreReplication::kVolume);
  EXPECT_EQ("vol_ds1", volume.GetString(Api::SnapDRVolume::kVolumeName));
  EXPECT_EQ(3, volume.GetInt32(Api::SnapDRVolume::kArrayNumber));
}

TEST(StorageArrayMessages, RequestsCarryTheirGroupIdsAndWideMasterJobs) {
  Api::GetSnapDRAfiles afiles;
  afiles.AddInt64(Api::GetSnapDRAfiles::kMasterJobIds, kWide);
  afiles.AddInt64(Api::GetSnapDRAfiles::kMasterJobIds, 5001);
  afiles.SetInt32(Api::GetSnapDRAfiles::kSnapMount, 1);
  std::string xml;
  ASSERT_TRUE(afiles.serializeUTF8(xml));
  Api::GetSnapDRAfiles backAfiles;
  ASSERT_TRUE(backAfiles.Unserialize(xml));
  ASSERT_EQ(2u, backAfiles.ListSize(Api::GetSnapDRAfiles::kMasterJobIds));
  EXPECT_EQ(kWide, backAfiles.GetListInt64(Api::GetSnapDRAfiles::kMasterJobIds, 0));
  EXPECT_EQ(1, backAfiles.GetInt32(Api::GetSnapDRAfiles::kSnapMount));

  Api::GetSnapDRReplicationReq req;
  req.MutableMsg(Api::GetSnapDRReplicationReq::kVirtualAppEntity)
      .SetInt32(ZnEntities::VirtualAppEntity::kVirtualAppId, 900);
  req.AddInt32(Api::GetSnapDRReplicationReq::kReplicationIds, 12);
  req.AddInt32(Api::GetSnapDRReplicationReq::kReplicationIds, 11);
  ASSERT_TRUE(req.serializeUTF8(xml));
  Api::GetSnapDRReplicationReq backReq;
  ASSERT_TRUE(backReq.Unserialize(xml));
  EXPECT_EQ(900, backReq.GetMsg(Api::GetSnapDRReplicationReq::kVirtualAppEntity)
                     .GetInt32(ZnEntities::VirtualAppEntity::kVirtualAppId));
  EXPECT_EQ(12, backReq.GetListInt32(Api::GetSnapDRReplicationReq::kReplicationIds, 0));

  TMMsg::Entity entity;
  entity.SetInt32(TMMsg::Entity::kCopyId, 52);
  ASSERT_TRUE(entity.serializeUTF8(xml));
  TMMsg::Entity backEntity;
  ASSERT_TRUE(backEntity.Unserialize(xml));
  EXPECT_EQ(52, backEntity.GetInt32(TMMsg::Entity::kCopyId));
}

}  // namespace
