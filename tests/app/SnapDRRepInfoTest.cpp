// The storage-array replication record: the inherited getters and setters
// on the storage-array message's fields, the mount record taken over at a
// load, the mount state and its jobs, and the datastore volumes.
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/SnapDRRepInfo.h"
#include "array/ArrayLabSeed.h"

namespace {

using Info = Api::SnapDRReplicationInfo;
using Mount = Api::SnapDRMountRecord;

Info Message() {
  SSeedSnapVM vm;
  vm.replicationId = 41;
  vm.drGroupId = 9;
  vm.name = "vm41";
  vm.guid = "guid-41";
  vm.destinationName = "vm41-DR";
  vm.destinationEsxHost = "esx-dr-1";
  vm.subclientId = 21;
  vm.clientId = 341;
  vm.applicationId = 441;
  vm.copyId = 52;
  vm.datastores = {{"ds1", 7, "vol_ds1", 3}, {"ds2", 8, "", 0}, {"ds1", 9, "", 0}, {"ds3", 0, "", 0}};
  return CArrayLabSeed::Replication(vm);
}

Info WithMountRecord(Info info, int afile, int status, int host) {
  Mount& m = info.MutableMsgAs<Mount>(Info::kMountRecord);
  m.SetInt32(Mount::kAfileId, afile);
  m.SetInt64(Mount::kJobId, 7002);
  m.SetInt32(Mount::kVMClientId, 341);
  m.SetInt32(Mount::kVMAppId, 441);
  m.SetInt32(Mount::kMountStatus, status);
  m.SetInt32(Mount::kMountHostId, host);
  m.SetString(Mount::kFirstText, "vm41 first");
  m.SetString(Mount::kSecondText, "vm41 second");
  info.SetInt64(Info::kLastSyncedBackupJobId, 7001);
  return info;
}

TEST(SnapDRRepInfo, EveryInheritedGetterAndSetterActsOnItsStorageArrayField) {
  Info info = Message();
  info.SetInt32(Info::kSyncStatus, App::VSA_REPL_STATUS_IN_SYNC);
  info.SetInt32(Info::kFailoverStatus, App::VSA_FAILOVER_STATUS_FAILOVER_IN_PROGRESS);
  info.SetInt32(Info::kTestFailoverStatus, App::DR_TEST_FAILOVER_STATUS_COMPLETE);
  info.SetString(Info::kDestinationVMGuid, "dst-guid-41");
  info.SetString(Info::kProxyVMName, "proxy-vm");
  info.SetString(Info::kProxyVMGuid, "proxy-guid");
  info.SetInt64(Info::kLastSyncedBackupJobId, 1LL << 33);
  info.SetInt32(Info::kIndexingV2, 1);
  CNMessageBase& subtask = info.MutableMsg(Info::kSubtask);
  subtask.SetInt32(ZnEntities::SubtaskEntity::kSubtaskId, 610);
  subtask.SetInt32(ZnEntities::SubtaskEntity::kTaskId, 61);
  CNMessageBase& dest = info.MutableMsg(Info::kDestinationEntity);
  dest.SetInt32(ZnEntities::SubClientEntity::kInstanceId, 802);
  info.MutableMsg(Info::kSourceEntity).SetInt32(ZnEntities::SubClientEntity::kInstanceId, 801);

  SnapDRRepInfo rep(info);
  IRepInfo& base = rep;
  AppRepInfo& app = rep;
  const struct {
    const char* getter;
    long long got;
    long long want;
  } kNumbers[] = {
      {"GetReplId", base.GetReplId(), 41},
      {"GetTaskId", base.GetTaskId(), 61},
      {"GetSubTaskId", base.GetSubTaskId(), 610},
      {"getSubclientId", base.getSubclientId(), 21},
      {"GetSourceVClientId", base.GetSourceVClientId(), 341},
      {"GetApplicationId", base.GetApplicationId(), 441},
      {"GetSrcInstanceId", base.GetSrcInstanceId(), 801},
      {"GetDestInstanceId", base.GetDestInstanceId(), 802},
      {"IsIndexingV2", base.IsIndexingV2() ? 1 : 0, 1},
      {"GetStatus", app.GetStatus(), App::VSA_REPL_STATUS_IN_SYNC},
      {"GetFailoverStatus", app.GetFailoverStatus(), App::VSA_FAILOVER_STATUS_FAILOVER_IN_PROGRESS},
      {"GetTestFailoverStatus", app.GetTestFailoverStatus(), App::DR_TEST_FAILOVER_STATUS_COMPLETE},
      {"GetLastSyncedJobId", app.GetLastSyncedJobId(), 1LL << 33},
      {"GetCopyId", rep.GetCopyId(), 52},
      {"IsToolsInstalled", rep.IsToolsInstalled() ? 1 : 0, 1},
  };
  for (const auto& n : kNumbers) EXPECT_EQ(n.want, n.got) << n.getter;
  const struct {
    const char* getter;
    std::string got;
    std::string want;
  } kTexts[] = {
      {"GetSourceName", base.GetSourceName(), "vm41"},
      {"GetSourceGuid", base.GetSourceGuid(), "guid-41"},
      {"GetDestinationName", base.GetDestinationName(), "vm41-DR"},
      {"GetDestinationGuid", base.GetDestinationGuid(), "dst-guid-41"},
      {"GetProxyVMName", app.GetProxyVMName(), "proxy-vm"},
      {"GetProxyVMGuid", app.GetProxyVMGuid(), "proxy-guid"},
      {"GetDestEsxHost", rep.GetDestEsxHost(), "esx-dr-1"},
  };
  for (const auto& t : kTexts) EXPECT_EQ(t.want, t.got) << t.getter;

  app.setSyncStatus(App::VSA_REPL_STATUS_NEED_SYNC);
  app.setFailoverStatus(App::VSA_FAILOVER_STATUS_FAILOVER_COMPLETE);
  app.setTestFailoverStatus(App::DR_TEST_FAILOVER_STATUS_FAILED);
  app.setLastRestoreTime(1234);  // the storage-array message has no such field
  rep.SetDestinationName("renamed-DR");
  rep.SetDestinationGUID("new-guid");
  const Info stored = rep.GetRepInfo();
  EXPECT_EQ(App::VSA_REPL_STATUS_NEED_SYNC, stored.GetInt32(Info::kSyncStatus));
  EXPECT_EQ(App::VSA_FAILOVER_STATUS_FAILOVER_COMPLETE, stored.GetInt32(Info::kFailoverStatus));
  EXPECT_EQ(App::DR_TEST_FAILOVER_STATUS_FAILED, stored.GetInt32(Info::kTestFailoverStatus));
  EXPECT_EQ("renamed-DR", stored.GetString(Info::kDestinationVMName));
  EXPECT_EQ("new-guid", stored.GetString(Info::kDestinationVMGuid));
  EXPECT_EQ(41, stored.GetInt32(Info::kReplicationId));
  info.SetInt32(Info::kSyncStatus, App::VSA_REPL_STATUS_NEED_SYNC);
  info.SetInt32(Info::kFailoverStatus, App::VSA_FAILOVER_STATUS_FAILOVER_COMPLETE);
  info.SetInt32(Info::kTestFailoverStatus, App::DR_TEST_FAILOVER_STATUS_FAILED);
  info.SetString(Info::kDestinationVMName, "renamed-DR");
  info.SetString(Info::kDestinationVMGuid, "new-guid");
  // Nothing else was written (no restore time landed on another field).
  EXPECT_EQ(info.FieldCount(), stored.FieldCount());
}

TEST(SnapDRRepInfo, TheFieldTableNamesOnlyTheStorageArrayMessagesFieldsEachOnce) {
  const SAppRepFieldTable& t = SnapDRRepInfo::SnapFieldTable();
  const SMsgField fields[] = {t.replicationId, t.lastRestoreTime,   t.subtask,         t.sourceEntity,
                              t.destinationEntity, t.syncStatus,  t.failoverStatus,  t.sourceGuid,
                              t.destinationGuid, t.proxyVMName,   t.proxyVMGuid,     t.testFailoverStatus,
                              t.lastSyncedJobId, t.indexingV2};
  const size_t n = sizeof(fields) / sizeof(fields[0]);
  std::set<int> as, bs;
  size_t named = 0;
  for (size_t i = 0; i < n; ++i) {
    const SMsgField& f = fields[i];
    if (f.module == 0 && f.id == 0) continue;
    ++named;
    EXPECT_EQ(Info::kModule, f.module) << "entry " << i;
    EXPECT_EQ(Info::kId, f.id) << "entry " << i;
    EXPECT_TRUE(as.insert(f.a).second) << "a index " << f.a << " twice";
    EXPECT_TRUE(bs.insert(f.b).second) << "b index " << f.b << " twice";
  }
  // Only the last restore time has no field in the storage-array message.
  EXPECT_EQ(n - 1, named);
}

TEST(SnapDRRepInfo, TheMountRecordOfALoadBecomesTheMountInformationAndALoadWithoutOneKeepsIt) {
  SnapDRRepInfo rep(WithMountRecord(Message(), 71, SDRMountInfo::kMountedByDR, 0));
  SDRMountInfo m = rep.GetMountInfo();
  EXPECT_EQ(71, m.afileId);
  EXPECT_EQ(7001u, m.masterJobId);
  EXPECT_EQ(7002u, m.jobId);
  EXPECT_EQ("vm41 first", m.firstText);
  EXPECT_EQ("vm41 second", m.secondText);
  EXPECT_EQ(341, m.vmClientId);
  EXPECT_EQ(441, rep.GetVMAppId());
  // 78 with host 0: mounted, but by no host that could unmount it.
  EXPECT_TRUE(rep.IsVMAfileMounted());
  EXPECT_FALSE(rep.IsVMAfileUnMounted());
  EXPECT_FALSE(rep.CanUnmount());

  // A later load without a mount record keeps all of it, the master job too.
  Info later = Message();
  later.SetInt64(Info::kLastSyncedBackupJobId, 9009);
  rep.SetRepInfo(later);
  EXPECT_EQ(71, rep.GetAfileId());
  EXPECT_EQ(7001u, rep.GetMountJobId(JOB_LVL_MASTER));
  EXPECT_EQ(7002u, rep.GetMountJobId(JOB_LVL_CHILD));
  EXPECT_EQ(9009u, rep.GetMountJobId(static_cast<EJobLvl>(0)));
}

TEST(SnapDRRepInfo, MountsAndUnmountsChangeWhatCanBeUnmounted) {
  SnapDRRepInfo rep(Message());
  const struct {
    int status;
    int host;
    bool mounted, unmounted, canUnmount;
  } kStates[] = {
      {59, 3, true, false, true},  {78, 3, true, false, true},   {78, 0, true, false, false},
      {39, 3, false, true, false}, {79, 0, false, true, false},  {0, 3, false, false, false},
  };
  for (const auto& s : kStates) {
    SDRMountInfo m;
    m.mountStatus = s.status;
    m.mountHostId = s.host;
    rep.SetMountInfo(m);
    EXPECT_EQ(s.mounted, rep.IsVMAfileMounted()) << s.status << "/" << s.host;
    EXPECT_EQ(s.unmounted, rep.IsVMAfileUnMounted()) << s.status << "/" << s.host;
    EXPECT_EQ(s.canUnmount, rep.CanUnmount()) << s.status << "/" << s.host;
  }
  rep.SetVMAfileMounted(12);
  EXPECT_EQ(59, rep.GetVMAfileMountStatus());
  EXPECT_EQ(12, rep.GetVMAfileMountHostId());
  EXPECT_TRUE(rep.CanUnmount());
  rep.SetVMAfileUnMounted();
  EXPECT_EQ(79, rep.GetVMAfileMountStatus());
  EXPECT_EQ(0, rep.GetVMAfileMountHostId());
  EXPECT_FALSE(rep.IsVMAfileMounted());
  EXPECT_FALSE(rep.CanUnmount());
  EXPECT_TRUE(SDRMountInfo().failoverMount);
}

TEST(SnapDRRepInfo, TheMountedMasterJobIsOneAssociatedJobAndOnlyAKnownOne) {
  SnapDRRepInfo rep(Message());
  // No master job: level 1 answers 0, never the last synced job.
  EXPECT_EQ(0u, rep.GetMountJobId(JOB_LVL_MASTER));
  rep.SetMountedMasterJob();
  EXPECT_EQ(0u, rep.GetRepInfo().ListSize(Info::kAssociatedJobs));
  App::ReplicasyncAssociatedJob none = rep.GetMountedMasterJob();
  EXPECT_EQ(0, none.GetInt64(App::ReplicasyncAssociatedJob::kJobId));
  EXPECT_FALSE(none.Has(App::ReplicasyncAssociatedJob::kJobKind));

  SDRMountInfo m;
  m.masterJobId = 1ULL << 32;
  rep.SetMountInfo(m);
  rep.SetMountedMasterJob();
  rep.SetMountedMasterJob();
  const Info info = rep.GetRepInfo();
  ASSERT_EQ(1u, info.ListSize(Info::kAssociatedJobs));
  const App::ReplicasyncAssociatedJob job = rep.GetMountedMasterJob();
  EXPECT_EQ(59, job.GetInt32(App::ReplicasyncAssociatedJob::kJobKind));
  EXPECT_EQ(1LL << 32, job.GetInt64(App::ReplicasyncAssociatedJob::kJobId));
}

TEST(SnapDRRepInfo, DatastoreVolumesCountDistinctNamesAndTheirGroupsAndRelationships) {
  SnapDRRepInfo rep(Message());
  std::vector<VirtualServer::VMDatastoreInfo> ds;
  rep.GetSourceDatastores(ds);
  std::vector<std::string> names;
  for (const auto& d : ds) names.push_back(d.GetString(VirtualServer::VMDatastoreInfo::kDatastoreName));
  EXPECT_EQ((std::vector<std::string>{"ds1", "ds2", "ds3"}), names);
  EXPECT_EQ(3u, rep.GetDSCount());
  EXPECT_EQ(3u, rep.GetSourceDSCount());
  EXPECT_EQ(4u, rep.GetDatastoreVolumes().size());
  // The volume without a replica group names none.
  EXPECT_EQ((std::set<int>{7, 8, 9}), rep.GetReplicaGroupIds());

  EXPECT_FALSE(rep.IsAllVolumeRelationsBroken());
  EXPECT_EQ(1, rep.SetVolumeRelationshipStatus(7, VOLUME_RELATIONSHIP_BROKEN));
  EXPECT_EQ(1, rep.SetVolumeRelationshipStatus(8, VOLUME_RELATIONSHIP_BROKEN));
  EXPECT_EQ(1, rep.SetVolumeRelationshipStatus(9, VOLUME_RELATIONSHIP_BROKEN));
  // The volume of no group is never broken by a group's status.
  EXPECT_FALSE(rep.IsAllVolumeRelationsBroken());
  EXPECT_TRUE(SnapDRRepInfo().IsAllVolumeRelationsBroken());

  TMMsg::VMWAdvancedRestoreOptions options;
  rep.GetRestoreOpts(options);
  EXPECT_EQ("esx-dr-1", options.GetString(TMMsg::VMWAdvancedRestoreOptions::kEsxHost));
  EXPECT_EQ("", SnapDRRepInfo().GetDestEsxHost());
}

TEST(SnapDRRepInfo, CopiesCarryMessageMountAndVMAndStayApart) {
  SnapDRRepInfo rep(WithMountRecord(Message(), 71, 59, 4));
  Ida::VirtualMachine vm;
  vm.SetString(Ida::VirtualMachine::kIpAddress, "10.0.0.9");
  rep.SetVMInfo(vm);
  SnapDRRepInfo copy(rep);
  SnapDRRepInfo assigned;
  assigned = rep;
  for (SnapDRRepInfo* c : {&copy, &assigned}) {
    EXPECT_EQ(41, c->GetReplId());
    EXPECT_EQ(71, c->GetAfileId());
    EXPECT_EQ(4, c->GetVMAfileMountHostId());
    EXPECT_EQ("10.0.0.9", c->GetVMInfo().GetString(Ida::VirtualMachine::kIpAddress));
  }
  copy.SetVMAfileUnMounted();
  copy.setFailoverStatus(App::VSA_FAILOVER_STATUS_FAILOVER_COMPLETE);
  EXPECT_TRUE(rep.CanUnmount());
  EXPECT_EQ(App::VSA_FAILOVER_STATUS_NONE, rep.GetFailoverStatus());
}

}  // namespace
