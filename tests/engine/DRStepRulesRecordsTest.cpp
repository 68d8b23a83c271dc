// Step rules and machine-list utilities over real machine records: VM
// replications stored and loaded through their data source, storage-array
// records in their data manager, task definitions in the task store.
#include <gtest/gtest.h>

#include <stdio.h>
#include <string.h>

#include <memory>

#include "services/DRAppManager.h"
#include "engine/DRDataSource.h"
#include "engine/DRHelper.h"
#include "engine/DRInfo.h"
#include "engine/DRInfoUtils.h"
#include "engine/SDROperationCtx.h"
#include "engine/SDRPriority.h"
#include "app/SnapArrayDRReplDataMgr.h"
#include "app/SnapArrayDRReplDataMgrTestPeer.h"
#include "Db/Tbl/App_VmAllocationPolicy.h"
#include "time/PlatformClock.h"
#include "vsa/VSARepInfo.h"
#include "engine/DRRecordsTestSupport.h"
#include "engine/VMMachinesTestBase.h"
#include "engine/ZnCriticalSectionLock.h"
#include "jobs/JobStore.h"
#include "jobs/TaskStore.h"
#include "jobs/ZNJobQuery.h"

namespace {

const int kTaskOn = 100;          // create-DR-VM option on
const int kTaskOff = 200;         // option off
const int kTaskSyncDirect = 300;  // replica sync direct
const int kTaskFirstSync = 400;   // first-time sync during failover

const TMMsg::DROrchestrationType kPlannedType = TMMsg::DR_ORCHESTRATION_PLANNED_FAILOVER;
const TMMsg::DROrchestrationType kUnplannedType = TMMsg::DR_ORCHESTRATION_UNPLANNED_FAILOVER;
const TMMsg::DROrchestrationType kFailbackType = TMMsg::DR_ORCHESTRATION_FAILBACK;
const TMMsg::DROrchestrationType kTest = TMMsg::DR_ORCHESTRATION_TEST_FAILOVER;

void PutTask(int taskId, int createDRVM, int syncDirect, int firstSync) {
  TMMsg::TaskInfo task;
  CNMessageBase& restore = task.AddMsg(TMMsg::TaskInfo::kSubTasks)
                               .MutableMsg(TMMsg::SubTaskInfo::kJobOptions)
                               .MutableMsg(TMMsg::JobOption::kRestoreOptions);
  if (syncDirect) restore.SetInt32(TMMsg::RestoreOptionFields::kReplicaSyncDirect, syncDirect);
  CNMessageBase& vm = restore.MutableMsg(TMMsg::RestoreOptionFields::kVirtualServerRestoreOptions)
                          .MutableMsg(TMMsg::VirtualServerRestoreOptionFields::kVMRestoreOptions);
  vm.SetInt32(TMMsg::DiskLevelVMRestoreOption::kDeployVMAtFailover, createDRVM);
  if (firstSync) vm.SetInt32(TMMsg::DiskLevelVMRestoreOption::kFirstSyncDuringFailover, firstSync);
  std::string xml;
  ASSERT_TRUE(task.serializeUTF8(xml));
  ASSERT_TRUE(CTaskStore::PutTask(taskId, xml));
}

TMMsg::VMOperationType Op(int op) { return static_cast<TMMsg::VMOperationType>(op); }

class DRStepRulesRecords : public CVMMachinesTestBase {
 protected:
  void SetUp() override {
    CVMMachinesTestBase::SetUp();
    PutTask(kTaskOn, 1, 0, 0);
    PutTask(kTaskOff, 0, 0, 0);
    PutTask(kTaskSyncDirect, 0, 1, 0);
    PutTask(kTaskFirstSync, 0, 0, 1);
    m_snapPriority.order = 2;
    m_snapPriority.infoSource = TMMsg::DR_OP_SOURCE_SNAP_ARRAY_REPLICATION;
  }

  static App::VSAReplicationInfo Vm(int id, int sourceVendor, int destVendor, int taskId) {
    App::VSAReplicationInfo info = Repl(id, destVendor, "", taskId);
    info.SetInt32(App::VSAReplicationInfo::kSourceVendor, sourceVendor);
    return info;
  }

  // Storage-array machines: each gets its source GUID and datastore names.
  std::vector<CDRInfo*> SnapMachines(const std::vector<std::pair<std::string, std::vector<std::string>>>& vms) {
    SDataSourceInfo info;
    info.jobId = kJob;
    info.drGroupId = kGroup;
    info.infoSource = TMMsg::DR_OP_SOURCE_SNAP_ARRAY_REPLICATION;
    m_sources.emplace_back(new CDRDataSource(info));
    auto* mgr = dynamic_cast<CSnapArrayDRReplDataMgr*>(m_sources.back()->GetDataManager());
    EXPECT_NE(nullptr, mgr);
    int id = 500;
    for (const auto& vm : vms) {
      Api::SnapDRReplicationInfo msg;
      msg.SetString(Api::SnapDRReplicationInfo::kSourceVMGuid, vm.first);
      for (const std::string& ds : vm.second) {
        msg.AddMsg(Api::SnapDRReplicationInfo::kDatastoreReplications)
            .MutableMsg(Api::DatastoreReplication::kSourceDatastore)
            .SetString(VirtualServer::VMDatastoreInfo::kDatastoreName, ds);
      }
      CSnapArrayDRReplDataMgrTestPeer::Add(*mgr, ++id, SnapDRRepInfo(msg));
      info.replIds.push_back(id);
    }
    return Records(m_sources.back().get(), info, m_snapPriority, kPlannedType);
  }

  static std::set<int> Skipped(CDRInfo* info, int site, TMMsg::DROrchestrationType type, int snapType,
                               std::string* reason = nullptr) {
    SDROperationCtx ctx;
    ctx.drInfoList = {info};
    ctx.site = static_cast<Api::DRSite>(site);
    ctx.snapType = snapType;
    std::set<int> out;
    for (int op : {3, 10, 15, 16, 29}) {
      std::string why = "caller";
      if (DRInfoUtils::CanSkipVMOp(Op(op), type, ctx, why)) out.insert(op);
      if (reason != nullptr) *reason = why;
    }
    return out;
  }

  SDRPriority m_snapPriority;
};

// The whole rule over real records: vendors, sites, DR types, snapshot types
// and the create-DR-VM option of each replication's task.
TEST_F(DRStepRulesRecords, SkipTableOverVendorsSitesAndTheTaskOption) {
  const int vendors[] = {1, 2, 4, 5, 7, 12, 16, 17, 19, 21};
  std::vector<App::VSAReplicationInfo> repls;
  for (int v : vendors) {
    repls.push_back(Vm(v * 10 + 1, 1, v, kTaskOn));
    repls.push_back(Vm(v * 10 + 2, 1, v, kTaskOff));
  }
  std::vector<CDRInfo*> m = Machines(repls);
  std::map<std::pair<int, bool>, CDRInfo*> byVendor;
  for (size_t i = 0; i < m.size(); ++i) byVendor[{vendors[i / 2], i % 2 == 0}] = m[i];

  struct SCase {
    int vendor;
    int site;
    TMMsg::DROrchestrationType type;
    int snapType;
    bool option;
    std::set<int> skipped;
  };
  const SCase cases[] = {
      {4, 0, kPlannedType, 1, false, {3, 15}},
      {4, 1, kFailbackType, 1, true, {3, 15}},
      {19, 1, kPlannedType, 1, true, {3, 15}},
      {5, 0, kPlannedType, 2, true, {15}},
      {7, 0, kFailbackType, 1, true, {15}},
      {17, 1, kPlannedType, 1, false, {15}},
      {5, 1, kPlannedType, 1, true, {10, 15, 16, 29}},
      {7, 1, kFailbackType, 1, true, {3, 10, 15, 16, 29}},
      {17, 1, kPlannedType, 2, false, {3, 15}},
      {5, 1, kFailbackType, 1, false, {15}},
      {12, 1, kPlannedType, 1, false, {3, 10, 15, 29}},
      {12, 1, kFailbackType, 1, true, {3, 15}},
      {12, 0, kPlannedType, 1, false, {3, 15}},
      {16, 0, kPlannedType, 1, true, {3}},
      {16, 0, kPlannedType, 2, false, {3, 15}},
      {16, 1, kPlannedType, 1, true, {3, 10, 16, 29}},
      {16, 1, kPlannedType, 1, false, {3}},
      {1, 1, kPlannedType, 2, true, {}},
      {2, 1, kPlannedType, 2, true, {}},
      {21, 1, kPlannedType, 2, true, {}},
  };
  for (const SCase& c : cases) {
    std::string reason;
    EXPECT_EQ(c.skipped, Skipped(byVendor[{c.vendor, c.option}], c.site, c.type, c.snapType, &reason))
        << "vendor " << c.vendor << " site " << c.site << " type " << c.type << " snap " << c.snapType
        << " option " << c.option;
    // The vendor text stays set whatever the answer.
    EXPECT_EQ("Operation not required for VSVendor type", reason);
  }
  // The option was read from the replication's own task.
  EXPECT_TRUE(Logged("Deploy VM when failover is [true] for task [100]"));
  EXPECT_TRUE(Logged("Deploy VM when failover is [false] for task [200]"));
}

TEST_F(DRStepRulesRecords, CreateAndCloneVMDependOnTheVendorsAndKeepTheCallersReason) {
  std::vector<CDRInfo*> m = Machines({Vm(1, 1, 1, kTaskOff), Vm(2, 1, 5, kTaskOff), Vm(3, 5, 1, kTaskOff),
                                      Vm(4, 2, 2, kTaskOff), Vm(5, 1, 4, kTaskOff), Vm(6, 1, 17, kTaskOff),
                                      Vm(7, 1, 12, kTaskOff)});
  auto skip = [](CDRInfo* info, int op, std::string& reason) {
    SDROperationCtx ctx;
    ctx.drInfoList = {info};
    ctx.site = Api::DR_SITE_DESTINATION;
    return DRInfoUtils::CanSkipVMOp(Op(op), kPlannedType, ctx, reason);
  };
  const bool createSkipped[] = {false, true, true, true, true, true, true};
  const bool cloneSkipped[] = {true, false, true, true, false, false, true};
  for (size_t i = 0; i < m.size(); ++i) {
    std::string reason = "caller";
    EXPECT_EQ(createSkipped[i], skip(m[i], 0, reason)) << "machine " << i;
    EXPECT_EQ(cloneSkipped[i], skip(m[i], 6, reason)) << "machine " << i;
    EXPECT_EQ("caller", reason);
  }
}

TEST_F(DRStepRulesRecords, FirstTimeSyncSkipsPowerOffOfAPlannedFailoverWithoutADRVM) {
  App::VSAReplicationInfo noGuid = Vm(1, 1, 1, kTaskFirstSync);
  noGuid.ClearField(App::VSAReplicationInfo::kDestinationVMGuid);
  std::vector<CDRInfo*> m = Machines({noGuid, Vm(2, 1, 1, kTaskFirstSync)});
  SDROperationCtx ctx;
  ctx.drInfoList = {m[0]};
  ctx.site = Api::DR_SITE_DESTINATION;
  std::string reason = "caller";
  // Without the option vendor 1 never skips a power-off.
  EXPECT_FALSE(DRInfoUtils::CanSkipVMOp(Op(29), kPlannedType, ctx, reason));
  m_am.QueryFirstTimeSyncDuringFailover(kTaskFirstSync);
  ASSERT_TRUE(m_am.IsFirstTimeSyncDuringFailoverSet());
  reason = "caller";
  EXPECT_TRUE(DRInfoUtils::CanSkipVMOp(Op(29), kPlannedType, ctx, reason));
  EXPECT_EQ("caller", reason);
  EXPECT_FALSE(DRInfoUtils::CanSkipVMOp(Op(29), kUnplannedType, ctx, reason));
  EXPECT_FALSE(DRInfoUtils::CanSkipVMOp(Op(10), kPlannedType, ctx, reason));
  ctx.drInfoList = {m[1]};
  EXPECT_FALSE(DRInfoUtils::CanSkipVMOp(Op(29), kPlannedType, ctx, reason));
  // The pre-checks are skipped too.
  TMMsg::DROrchestrationType type = kPlannedType;
  EXPECT_TRUE(DRInfoUtils::CanSkipPreCheck(m[0], type));
}

TEST_F(DRStepRulesRecords, MachinesWithoutVMRecordsAndEmptyContextsAreNotSkipped) {
  std::string reason = "caller";
  SDROperationCtx empty;
  for (int op : {0, 3, 6, 29}) EXPECT_FALSE(DRInfoUtils::CanSkipVMOp(Op(op), kPlannedType, empty, reason));
  std::vector<CDRInfo*> snap = SnapMachines({{"g1", {"ds1"}}});
  SDROperationCtx ctx;
  ctx.drInfoList = snap;
  ctx.site = Api::DR_SITE_DESTINATION;
  EXPECT_FALSE(DRInfoUtils::CanSkipVMOp(Op(3), kPlannedType, ctx, reason));
  EXPECT_FALSE(DRInfoUtils::CanSkipVMOp(Op(15), kPlannedType, ctx, reason));
  EXPECT_EQ("caller", reason);
  // Vendors unknown: neither a new VM nor a clone is made.
  EXPECT_TRUE(DRInfoUtils::CanSkipVMOp(Op(0), kPlannedType, ctx, reason));
  EXPECT_TRUE(DRInfoUtils::CanSkipVMOp(Op(6), kPlannedType, ctx, reason));
}

TEST_F(DRStepRulesRecords, VendorRules) {
  std::vector<CDRInfo*> m = Machines({Vm(1, 1, 5, kTaskOff), Vm(2, 7, 7, kTaskOff), Vm(3, 1, 17, kTaskOff),
                                      Vm(4, 1, 2, kTaskOff), Vm(5, 1, 19, kTaskOff), Vm(6, 1, 4, kTaskOff),
                                      Vm(7, 1, 1, kTaskOff)},
                                     kTest);
  const Api::DRSite src = Api::DR_SITE_SOURCE;
  const Api::DRSite dst = Api::DR_SITE_DESTINATION;
  const Common::VSVendor v5 = Common::VS_VENDOR_5;
  const Common::VSVendor v7 = Common::VS_VENDOR_7;
  EXPECT_TRUE(DRInfoUtils::IsSiteVendor(m[0], dst, v5));
  EXPECT_TRUE(DRInfoUtils::IsSiteVendor(m[1], dst, v5));
  EXPECT_TRUE(DRInfoUtils::IsSiteVendor(m[2], dst, v5));
  EXPECT_TRUE(DRInfoUtils::IsSiteVendor(m[1], dst, v7));
  EXPECT_FALSE(DRInfoUtils::IsSiteVendor(m[2], dst, v7));
  EXPECT_FALSE(DRInfoUtils::IsSiteVendor(m[0], dst, v7));
  EXPECT_TRUE(DRInfoUtils::IsSiteVendor(m[1], src, v5));
  EXPECT_FALSE(DRInfoUtils::IsSiteVendor(m[0], src, v5));
  EXPECT_TRUE(DRInfoUtils::IsSiteVendor(m[0], static_cast<Api::DRSite>(2), v5));

  EXPECT_FALSE(DRInfoUtils::IsDestinationVMSnapshotCreationAllowed(m[3]));
  EXPECT_TRUE(DRInfoUtils::IsDestinationVMSnapshotCreationAllowed(m[4]));
  EXPECT_FALSE(DRInfoUtils::IsCleanupSnapshotsRequired(m[4]));
  EXPECT_TRUE(DRInfoUtils::IsCleanupSnapshotsRequired(m[3]));

  // A test failover needs a destination of the vendor-5 family or 4.
  const bool testFailover[] = {true, true, true, false, false, true, false};
  const bool postFailover[] = {true, true, true, false, false, false, true};
  const bool failback[] = {true, true, true, false, false, true, true};
  for (size_t i = 0; i < m.size(); ++i) {
    EXPECT_EQ(testFailover[i], DRInfoUtils::IsDRTypeApplicable(m[i])) << i;
    EXPECT_EQ(postFailover[i], DRInfoUtils::IsVSAPostVMFailoverSupported(m[i])) << i;
    EXPECT_EQ(failback[i], DRInfoUtils::IsVSAFailbackSupported(m[i])) << i;
  }
  EXPECT_TRUE(Logged("Failback not supported as Destination Vendor is HyperV"));
  EXPECT_TRUE(Logged("PostVMFailover SUPPORT [FALSE]"));
  std::vector<CDRInfo*> planned = Machines({Vm(8, 1, 1, kTaskOff)}, kPlannedType);
  EXPECT_TRUE(DRInfoUtils::IsDRTypeApplicable(planned[0]));
}

TEST_F(DRStepRulesRecords, ReplicaSyncFromSnapshotFailsBackOnlyWithReplicaSyncDirect) {
  auto fromSnap = [](int id, int taskId) {
    App::VSAReplicationInfo info = Vm(id, 1, 5, taskId);
    CNMessageBase& prop = info.AddMsg(App::VSAReplicationInfo::kProperties);
    prop.SetInt32(App::VSAReplicationProperties::kPropertyId, VSARepInfo::kPropReplicaSyncFromSnap);
    prop.SetString(App::VSAReplicationProperties::kValue, "0");
    return info;
  };
  std::vector<CDRInfo*> m = Machines({fromSnap(1, kTaskSyncDirect), fromSnap(2, kTaskOff)});
  EXPECT_TRUE(DRInfoUtils::IsReplicaSyncDirectEnabled(m[0]));
  EXPECT_FALSE(DRInfoUtils::IsReplicaSyncDirectEnabled(m[1]));
  EXPECT_TRUE(DRInfoUtils::IsVSAFailbackSupported(m[0]));
  EXPECT_TRUE(Logged("Replica Sync Direct configuration found. Failback SUPPORT [TRUE]."));
  EXPECT_FALSE(DRInfoUtils::IsVSAFailbackSupported(m[1]));
  EXPECT_TRUE(Logged("Failback not supported for replica sync from snap configuration"));
}

TEST_F(DRStepRulesRecords, ToolsAndSnapshotIdsFromTheRecordOfTheMachinesSource) {
  App::VSAReplicationInfo tools = Vm(1, 1, 7, kTaskOff);
  tools.SetInt32(App::VSAReplicationInfo::kToolsInstalled, 1);
  std::vector<CDRInfo*> m = Machines({tools, Vm(2, 1, 1, kTaskOff)});
  EXPECT_TRUE(DRInfoUtils::IsToolsInstalled(m[0]));
  EXPECT_FALSE(DRInfoUtils::IsToolsInstalled(m[1]));

  App::VSAReplicationTrakingIdInfo disk;
  disk.SetString(App::VSAReplicationTrakingIdInfo::kIntegritySnapshotFamily5, "snap-family5");
  disk.SetString(App::VSAReplicationTrakingIdInfo::kIntegritySnapshot, "snap-other");
  EXPECT_EQ("snap-family5", DRInfoUtils::GetSnapshotId(m[0], disk));
  EXPECT_EQ("snap-other", DRInfoUtils::GetSnapshotId(m[1], disk));
  EXPECT_TRUE(Logged("Integrity snapshot [snap-other] retrieved."));

  std::vector<CDRInfo*> snap = SnapMachines({{"g1", {"ds1"}}});
  EXPECT_FALSE(DRInfoUtils::IsToolsInstalled(snap[0]));
  EXPECT_EQ("", DRInfoUtils::GetSnapshotId(snap[0], disk));
}

TEST_F(DRStepRulesRecords, NullRecordsAnswerNo) {
  EXPECT_FALSE(DRInfoUtils::IsSiteVendor(nullptr, Api::DR_SITE_SOURCE, Common::VS_VENDOR_5));
  EXPECT_FALSE(DRInfoUtils::IsDestinationVMSnapshotCreationAllowed(nullptr));
  EXPECT_FALSE(DRInfoUtils::IsCleanupSnapshotsRequired(nullptr));
  EXPECT_FALSE(DRInfoUtils::IsDRTypeApplicable(nullptr));
  EXPECT_FALSE(DRInfoUtils::IsReplicaSyncDirectEnabled(nullptr));
  EXPECT_FALSE(DRInfoUtils::IsToolsInstalled(nullptr));
  EXPECT_FALSE(DRInfoUtils::IsVSAPostVMFailoverSupported(nullptr));
  EXPECT_FALSE(DRInfoUtils::IsVSAFailbackSupported(nullptr));
  EXPECT_EQ(2u, CLogSink::Instance().Count("No valid VSARepInfo retrieved"));
  App::VSAReplicationTrakingIdInfo disk;
  EXPECT_EQ("", DRInfoUtils::GetSnapshotId(nullptr, disk));
  databrowse::BrowseData entry;
  EXPECT_EQ(nullptr, DRInfoUtils::GetDRInfoForBrowseData(entry, {}));
  std::vector<CDRInfo*> out;
  DRInfoUtils::GetVMQueueByDSCount({}, out, 0);
  EXPECT_TRUE(out.empty());
  std::map<std::string, std::vector<CDRInfo*>> ds;
  DRInfoUtils::GetDatastoreToVMList({nullptr}, ds);
  EXPECT_TRUE(ds.empty());
}

TEST_F(DRStepRulesRecords, BrowseEntryFindsTheFirstMachineOfItsGuidIgnoringCase) {
  std::vector<CDRInfo*> m = Machines({Vm(1, 1, 1, kTaskOff), Vm(2, 1, 1, kTaskOff)});
  databrowse::BrowseData entry;
  entry.SetString(databrowse::BrowseData::kName, "SRC-GUID-2");
  EXPECT_EQ(m[1], DRInfoUtils::GetDRInfoForBrowseData(entry, m));
  entry.SetString(databrowse::BrowseData::kName, "src-guid-3");
  EXPECT_EQ(nullptr, DRInfoUtils::GetDRInfoForBrowseData(entry, m));
}

// The orderings of the snapshot work, on datastores a (2 machines), b (2)
// and c (1).
TEST_F(DRStepRulesRecords, DatastoreAndMachineOrdersOverStorageArrayRecords) {
  std::vector<CDRInfo*> m = SnapMachines({{"g-two", {"a", "b"}}, {"g-three", {"a", "b", "c", "c"}},
                                          {"g-none", {}}, {"g-two", {"c"}}});
  std::map<std::string, std::vector<CDRInfo*>> ds;
  DRInfoUtils::GetDatastoreToVMList(m, ds);
  ASSERT_EQ(3u, ds.size());
  EXPECT_EQ((std::vector<CDRInfo*>{m[0], m[1]}), ds["a"]);
  EXPECT_EQ((std::vector<CDRInfo*>{m[0], m[1]}), ds["b"]);
  EXPECT_EQ((std::vector<CDRInfo*>{m[1], m[3]}), ds["c"]);
  ds["c"].pop_back();
  auto queue = [&ds](int order) {
    std::vector<std::string> q;
    DRInfoUtils::GetDSQueueByVMCount(ds, q, order);
    return q;
  };
  EXPECT_EQ((std::vector<std::string>{"c", "a", "b"}), queue(0));
  EXPECT_EQ((std::vector<std::string>{"a", "b", "c"}), queue(1));
  EXPECT_EQ((std::vector<std::string>{"a", "b", "c"}), queue(7));

  // Machines by datastore count; the second machine of GUID g-two is left out.
  auto vms = [&m](int order, std::vector<CDRInfo*> out = {}) {
    DRInfoUtils::GetVMQueueByDSCount(m, out, order);
    return out;
  };
  EXPECT_EQ((std::vector<CDRInfo*>{m[2], m[0], m[1]}), vms(0));
  EXPECT_EQ((std::vector<CDRInfo*>{m[1], m[0], m[2]}), vms(1));
  EXPECT_EQ((std::vector<CDRInfo*>{m[2], m[1], m[0]}), vms(7));
  EXPECT_TRUE(Logged("Duplicate GUID [g-two] found in DRList"));
  // Whatever the output held, every machine is placed.
  EXPECT_EQ((std::vector<CDRInfo*>{m[3], m[2], m[0], m[1]}), vms(0, {m[3]}));
}

TEST_F(DRStepRulesRecords, TaskOptionsComeFromTheTaskStoreAndAreCachedForTheJob) {
  EXPECT_TRUE(m_am.IsCreateDRVMOptionEnabled(kTaskOn));
  EXPECT_FALSE(m_am.IsCreateDRVMOptionEnabled(kTaskOff));
  EXPECT_TRUE(m_am.IsReplicaSyncDirectEnabled(kTaskSyncDirect));
  EXPECT_FALSE(m_am.IsReplicaSyncDirectEnabled(kTaskOn));
  // The job keeps the definition it read.
  ASSERT_TRUE(CTaskStore::RemoveTask(kTaskOn));
  EXPECT_TRUE(m_am.IsCreateDRVMOptionEnabled(kTaskOn));
  CDRAppManager fresh;
  EXPECT_FALSE(fresh.IsCreateDRVMOptionEnabled(kTaskOn));
  EXPECT_TRUE(Logged("Sp[TM_GetTaskDetail] for taskId [100] Failed to execute with error string:["));
  TMMsg::TaskInfo task;
  bool found = false;
  EXPECT_FALSE(fresh.QueryTaskInfo(999, task, found));
  EXPECT_FALSE(found);
}

class DRHelperJobs : public CDbTestBase {};

TEST_F(DRHelperJobs, SnapJobByTheJobsOperationType) {
  SJobRecord snap;
  snap.jobId = 71;
  snap.opType = ZN_OP_SNAP_BACKUP;
  ASSERT_EQ(71, CJobStore::CreateJob(snap));
  SJobRecord backup;
  backup.jobId = 72;
  backup.opType = 4;
  ASSERT_EQ(72, CJobStore::CreateJob(backup));
  ZNJobQuery query;
  // Not bound to a server: no answer but no.
  EXPECT_FALSE(DRHelper::IsSnapJob(71, query));
  ASSERT_EQ(0, query.init("dromhall"));
  EXPECT_TRUE(DRHelper::IsSnapJob(71, query));
  EXPECT_FALSE(DRHelper::IsSnapJob(72, query));
  EXPECT_FALSE(DRHelper::IsSnapJob(73, query));
  ASSERT_EQ(EStoreResult::kOk, CJobStore::SetOperationType(72, ZN_OP_SNAP_BACKUP));
  EXPECT_TRUE(DRHelper::IsSnapJob(72, query));
}

}  // namespace

#include "TestStepContext.h"

namespace {

// Subclient groups of real records: machines grouped by their replication's
// subclient, the groups run on the subclient pool of 20.
class DRSubclientRecordsConcurrency : public CDRRecordsTestBase {};

TEST_F(DRSubclientRecordsConcurrency, GroupsBySubclientRunOnThePoolOfTwenty) {
  StartJob(JobOptions(false));
  CStepTestDR dr;
  CDRBaseTestPeer::SetJobManager(dr, m_jm.get());
  CDRBaseTestPeer::SetJobId(dr, kJob);
  const int appIds[] = {13, 11, 12, 11, 13, 12};
  SDataSourceInfo info;
  info.jobId = kJob;
  info.drGroupId = kGroup;
  info.drType = TMMsg::DR_ORCHESTRATION_PLANNED_FAILOVER;
  for (int i = 0; i < 6; ++i) {
    App::VSAReplicationInfo repl = Repl(61 + i);
    repl.MutableMsg(App::VSAReplicationInfo::kSubclient).SetInt32(ZnEntities::SubClientEntity::kSubclientId, appIds[i]);
    StoreRepl(repl);
    info.replIds.push_back(61 + i);
  }
  CDRDataSource source(info);
  ASSERT_TRUE(source.IsDataLoaded());
  SDRPriority priority;
  priority.order = 1;
  priority.replIds = info.replIds;
  for (int32_t id : info.replIds) {
    SDataSourceInfo one = info;
    one.replId = id;
    SDRInfoCtx ctx(&source, one, priority);
    ctx.drType = info.drType;
    ctx.jobManager = m_jm.get();
    ctx.appManager = dr.GetDRAppMgr();
    CDRBaseTestPeer::AddInfo(dr, new CDRInfo(ctx));
  }
  CStepTestContext context(dr);
  context.failIds = {12};
  context.perMachineMs = 50000;
  // Each group holds (in real time, bounded) until all three run at once,
  // however late a loaded machine starts the pool's workers.
  context.holdUntilRunning = 3;
  std::vector<SDROSubclient> groups;
  EXPECT_TRUE(dr.ProcessSubclientsInPriority(priority, groups, &context));
  EXPECT_TRUE(Logged("Initialized thread pool with maxDRThreadPoolCount = [20]"));
  EXPECT_EQ(3, context.MaxRunning());
  ASSERT_EQ(3u, groups.size());
  const int expectedApps[] = {11, 12, 13};
  const char* expectedIds[] = {"62,64", "63,66", "61,65"};
  for (size_t g = 0; g < 3; ++g) {
    EXPECT_EQ(expectedApps[g], groups[g].GetAppId());
    EXPECT_EQ(expectedIds[g], DRInfoUtils::GetReplStr(groups[g].GetInputList()));
    EXPECT_EQ(g != 1, groups[g].IsSuccess()) << expectedApps[g];
  }
}

}  // namespace

namespace {

// Stores an allocation policy keeping test VMs for the given days and hours.
void PutPolicy(int policyId, int days, int hours) {
  Ida::VMAllocationPolicy policy;
  policy.MutableMsg(Ida::VMAllocationPolicy::kInstance)
      .SetString(ZnEntities::PolicyInstanceFields::kRegion, "region-1");
  policy.SetInt32(Ida::VMAllocationPolicy::kTestVMDays, days);
  policy.SetInt32(Ida::VMAllocationPolicy::kTestVMHours, hours);
  std::string xml;
  ASSERT_TRUE(policy.serializeUTF8(xml));
  App_VmAllocationPolicy table(nullptr);
  App_VmAllocationPolicy_t* row = table.getDataPtr();
  row->id = policyId;
  snprintf(row->name, sizeof row->name, "policy-%d", policyId);
  row->vxml = new char[xml.size() + 1];  // the row owns its texts (delete[])
  memcpy(row->vxml, xml.c_str(), xml.size() + 1);
  ASSERT_EQ(0, table.rowInsert(true));
}

}  // namespace

TEST_F(DRStepRulesRecords, VMExpirationFollowsTheTargetPolicy) {
  PutPolicy(71, 3, 2);       // hours win over days
  PutPolicy(72, 2, 0);       // days when no hours
  PutPolicy(73, 40000, 0);   // past 2038: clamped, never wrapped into the past
  std::vector<App::VSAReplicationInfo> repls;
  for (int i = 0; i < 3; ++i) {
    App::VSAReplicationInfo r = Vm(81 + i, 1, 1, kTaskOff);
    r.MutableMsg(App::VSAReplicationInfo::kReplicationTarget)
        .SetInt32(ZnEntities::ReplicationTargetEntity::kTargetId, 71 + i);
    repls.push_back(r);
  }
  std::vector<CDRInfo*> m = Machines(repls);
  // The scaled clock runs a thousand times fast: "now" is only known to lie
  // between the readings taken around the call.
  auto expiryOf = [](CDRInfo* machine, int64_t& before, int& expiry, int64_t& after) {
    before = CPlatformClock::Instance().NowEpochSeconds();
    const bool ok = DRInfoUtils::GetVMExpirationTime(machine, expiry);
    after = CPlatformClock::Instance().NowEpochSeconds();
    return ok;
  };
  int64_t before = 0, after = 0;
  int expiry = 0;
  ASSERT_TRUE(expiryOf(m[0], before, expiry, after));
  EXPECT_GE(expiry, before + 2 * 3600);
  EXPECT_LE(expiry, after + 2 * 3600);
  ASSERT_TRUE(expiryOf(m[1], before, expiry, after));
  EXPECT_GE(expiry, before + 2 * 86400);
  EXPECT_LE(expiry, after + 2 * 86400);
  ASSERT_TRUE(DRInfoUtils::GetVMExpirationTime(m[2], expiry));
  EXPECT_EQ(INT32_MAX, expiry);

  Ida::VMAllocationPolicy cached;
  EXPECT_TRUE(m_am.QueryVMAllocationPolicy(71, cached));
  EXPECT_EQ(2, cached.GetInt32(Ida::VMAllocationPolicy::kTestVMHours));
  EXPECT_FALSE(m_am.QueryVMAllocationPolicy(999, cached)) << "no such policy";
}
