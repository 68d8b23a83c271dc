// The management server's side of storage-array replications, reached the
// way the DR job reaches it: the read and write requests (with the fields
// the server keeps for itself), the archive-files and replica-group report
// procedures through their bindings, a snapshot reaching a copy, and the
// mounts of its archive files.
#include "ArrayLabTestSupport.h"
#include "Db/Proc/AppGetSnapDRArchiveFiles.h"
#include "Db/Proc/MM_SMNetAppOpenReplReport.h"
#include "jobs/StandIns.h"
#include "services/DRAppManager.h"

namespace {

using Info = Api::SnapDRReplicationInfo;
using Mount = Api::SnapDRMountRecord;

class ArrayManagement : public CArrayLabTestBase {
 protected:
  static bool Read(int group, const std::vector<int>& ids, std::vector<Info>& out) {
    Api::GetSnapDRReplicationReq req;
    req.MutableMsg(Api::GetSnapDRReplicationReq::kVirtualAppEntity)
        .SetInt32(ZnEntities::VirtualAppEntity::kVirtualAppId, group);
    for (int id : ids) req.AddInt32(Api::GetSnapDRReplicationReq::kReplicationIds, id);
    std::string output;
    if (!CDRAppManager::ExecuteStoredProcedure(req, output, Api::GetSnapDRReplicationReq::kTypeId)) return false;
    Api::GetSnapDRReplicationResp resp;
    EXPECT_TRUE(resp.Unserialize(output)) << output;
    out.clear();
    for (size_t i = 0; i < resp.ListSize(Api::GetSnapDRReplicationResp::kReplications); ++i) {
      out.push_back(resp.GetListMsgAs<Info>(Api::GetSnapDRReplicationResp::kReplications, i));
    }
    return true;
  }
  static Info ReadOne(int id, int group = kGroup) {
    std::vector<Info> out;
    EXPECT_TRUE(Read(group, {id}, out));
    EXPECT_EQ(1u, out.size());
    return out.empty() ? Info() : out.front();
  }
  static bool Write(int group, const std::vector<Info>& records) {
    Api::SetSnapDRReplicationReq req;
    req.MutableMsg(Api::SetSnapDRReplicationReq::kVirtualAppEntity)
        .SetInt32(ZnEntities::VirtualAppEntity::kVirtualAppId, group);
    for (const Info& r : records) req.AppendMsg(Api::SetSnapDRReplicationReq::kReplications, r);
    std::string output;
    return CDRAppManager::ExecuteStoredProcedure(req, output, Api::SetSnapDRReplicationReq::kTypeId);
  }
  static std::vector<int> Ids(const std::vector<Info>& records) {
    std::vector<int> ids;
    for (const Info& r : records) ids.push_back(r.GetInt32(Info::kReplicationId));
    return ids;
  }

  // The afile a snapshot of job under the copy gave a replication.
  static SSnapAfile AfileOf(int replicationId, long long job, int copyId = kCopy) {
    SSnapAfile a;
    EXPECT_EQ(EStoreResult::kOk, CAfileStore::Latest(job, Guid(replicationId), copyId, a)) << replicationId;
    return a;
  }

  // The archive-files procedure through its binding, as the data manager
  // reads it; the rows, or false when a fetch fails.
  static bool ArchiveFiles(const std::vector<long long>& masters, bool snapMount,
                           std::vector<std::vector<std::string>>& rows) {
    Api::GetSnapDRAfiles input;
    for (long long m : masters) input.AddInt64(Api::GetSnapDRAfiles::kMasterJobIds, m);
    input.SetInt32(Api::GetSnapDRAfiles::kSnapMount, snapMount ? 1 : 0);
    std::string xml;
    EXPECT_TRUE(input.serializeUTF8(xml));
    AppGetSnapDRArchiveFiles table(nullptr);
    table.setValues(kSubclient, kCopy, xml.c_str());
    table.setIsolationType(4);
    const AppGetSnapDRArchiveFiles_t* row = table.getDataPtr();
    rows.clear();
    int state = 0;
    int rc;
    while ((rc = getNextRow(&table, &state, -1, 0)) == 0) {
      rows.push_back({std::to_string(row->o_masterJobId), row->o_vmName, std::to_string(row->o_afileId),
                      std::to_string(row->o_jobId), std::to_string(row->o_vmClientId), row->o_vmGuid,
                      std::to_string(row->o_vmAppId), std::to_string(row->o_mountStatus),
                      std::to_string(row->o_mountHostId), std::to_string(row->o_isFailoverMount)});
    }
    return rc == 100;
  }
};

TEST_F(ArrayManagement, ReadsAnswerTheGroupsRequestedReplicationsInRequestOrder) {
  AddReplication(11);
  AddReplication(12);
  AddReplication(13);
  AddReplication(14, kGroup + 1);
  std::vector<Info> out;
  ASSERT_TRUE(Read(kGroup, {13, 99, 11, 14, 12, 11}, out));
  EXPECT_EQ((std::vector<int>{13, 11, 12, 11}), Ids(out));
  EXPECT_EQ("vm13", out[0].GetString(Info::kSourceVMName));
  EXPECT_EQ(Guid(11), out[1].GetString(Info::kSourceVMGuid));
  EXPECT_EQ(1u, out[1].ListSize(Info::kDatastoreReplications));
  ASSERT_TRUE(Read(kGroup + 1, {11, 14}, out));
  EXPECT_EQ((std::vector<int>{14}), Ids(out));
  ASSERT_TRUE(Read(kGroup, {}, out));
  EXPECT_TRUE(out.empty());

  ASSERT_TRUE(CStandIns::SetFault(CArrayLab::kGetReplications, EStandInFault::kFails));
  EXPECT_FALSE(Read(kGroup, {11}, out));
  ASSERT_TRUE(CStandIns::SetFault(CArrayLab::kGetReplications, EStandInFault::kNone));
  EXPECT_FALSE(CSnapReplicationStore::Add(kGroup, Replication(11)));  // the id is taken
  EXPECT_FALSE(CSnapReplicationStore::Add(kGroup, Info()));           // no id
}

TEST_F(ArrayManagement, WritesStoreWholeRecordsButNeverTheServersFields) {
  AddReplication(11);
  AddReplication(12);
  ASSERT_TRUE(CArrayLab::SnapshotCopied(kCopy, 5001));
  const SSnapAfile afile = AfileOf(11, 5001);
  ASSERT_TRUE(CArrayLab::RecordMount(SArrayMount{afile.afileId, 61, true, "proxy-11", "proxy-guid-11"}));

  Info sent = ReadOne(11);
  ASSERT_TRUE(sent.Has(Info::kMountRecord));
  sent.SetInt32(Info::kFailoverStatus, App::VSA_FAILOVER_STATUS_FAILOVER_COMPLETE);
  sent.ListClear(Info::kDatastoreReplications);
  sent.MutableMsg(Info::kMountRecord).SetInt32(Mount::kAfileId, 999);
  sent.MutableMsg(Info::kMountRecord).SetInt32(Mount::kMountStatus, 79);
  sent.SetString(Info::kProxyVMName, "forged");
  sent.SetString(Info::kProxyVMGuid, "forged-guid");
  ASSERT_TRUE(Write(kGroup, {sent}));

  const Info stored = ReadOne(11);
  EXPECT_EQ(App::VSA_FAILOVER_STATUS_FAILOVER_COMPLETE, stored.GetInt32(Info::kFailoverStatus));
  EXPECT_EQ(0u, stored.ListSize(Info::kDatastoreReplications));  // whole: what was left out is gone
  EXPECT_EQ(5001, stored.GetInt64(Info::kLastSyncedBackupJobId));
  EXPECT_EQ(afile.afileId, stored.GetMsg(Info::kMountRecord).GetInt32(Mount::kAfileId));
  EXPECT_EQ(SSnapAfile::kMountedByDR, stored.GetMsg(Info::kMountRecord).GetInt32(Mount::kMountStatus));
  EXPECT_EQ(61, stored.GetMsg(Info::kMountRecord).GetInt32(Mount::kMountHostId));
  EXPECT_EQ("proxy-11", stored.GetString(Info::kProxyVMName));
  EXPECT_EQ("proxy-guid-11", stored.GetString(Info::kProxyVMGuid));
  SSnapReplication row;
  ASSERT_EQ(EStoreResult::kOk, CSnapReplicationStore::Get(11, row));
  EXPECT_FALSE(row.info.Has(Info::kMountRecord));
  EXPECT_FALSE(row.info.Has(Info::kProxyVMName));

  // A record read before an aux copy ended, written after it, leaves the
  // copy's last synced job where the copy put it.
  Info stale = ReadOne(11);
  ASSERT_TRUE(CArrayLab::SnapshotCopied(kCopy, 5002));
  stale.SetInt32(Info::kFailoverStatus, App::VSA_FAILOVER_STATUS_FAILOVER_IN_PROGRESS);
  ASSERT_TRUE(Write(kGroup, {stale}));
  EXPECT_EQ(5002, ReadOne(11).GetInt64(Info::kLastSyncedBackupJobId));
  EXPECT_EQ(App::VSA_FAILOVER_STATUS_FAILOVER_IN_PROGRESS, ReadOne(11).GetInt32(Info::kFailoverStatus));

  // All or none: a record the group does not have fails the request and the
  // other record stays as it was.
  Info other = ReadOne(12);
  other.SetInt32(Info::kTestFailoverStatus, 2);
  Info stranger = Replication(77);
  EXPECT_FALSE(Write(kGroup, {other, stranger}));
  EXPECT_FALSE(ReadOne(12).Has(Info::kTestFailoverStatus));
  EXPECT_FALSE(Write(kGroup + 1, {other}));  // another group's
  ASSERT_TRUE(Write(kGroup, {other}));
  EXPECT_EQ(2, ReadOne(12).GetInt32(Info::kTestFailoverStatus));
}

TEST_F(ArrayManagement, TheMountRecordComesFromTheLastSyncedJobsAfileUnlessOmitted) {
  AddReplication(11);
  EXPECT_FALSE(ReadOne(11).Has(Info::kMountRecord));  // never synced
  ASSERT_TRUE(CArrayLab::SnapshotCopied(kCopy, 5001));
  ASSERT_TRUE(CArrayLab::SnapshotCopied(kCopy, 5005));
  Info read = ReadOne(11);
  ASSERT_TRUE(read.Has(Info::kMountRecord));
  const Mount& m = read.GetMsgAs<Mount>(Info::kMountRecord);
  const SSnapAfile newest = AfileOf(11, 5005);
  EXPECT_EQ(newest.afileId, m.GetInt32(Mount::kAfileId));
  EXPECT_EQ(5005, m.GetInt64(Mount::kJobId));
  EXPECT_EQ(311, m.GetInt32(Mount::kVMClientId));
  EXPECT_EQ(411, m.GetInt32(Mount::kVMAppId));
  EXPECT_EQ(SSnapAfile::kUnmounted, m.GetInt32(Mount::kMountStatus));
  EXPECT_EQ(0, m.GetInt32(Mount::kMountHostId));
  EXPECT_EQ("vm11", m.GetString(Mount::kFirstText));
  EXPECT_EQ("vm11", m.GetString(Mount::kSecondText));

  ASSERT_TRUE(CArrayLab::SetMountRecordOmitted(true));
  EXPECT_TRUE(CArrayLab::MountRecordOmitted());
  EXPECT_FALSE(ReadOne(11).Has(Info::kMountRecord));
  EXPECT_EQ(5005, ReadOne(11).GetInt64(Info::kLastSyncedBackupJobId));
  ASSERT_TRUE(CArrayLab::SetMountRecordOmitted(false));
  EXPECT_TRUE(ReadOne(11).Has(Info::kMountRecord));
}

TEST_F(ArrayManagement, ACopiedSnapshotGivesTheBackupsVMsOfTheCopyTheirAfiles) {
  AddPolicy(kSubclient, true);
  AddReplication(11);
  AddReplication(12);
  AddReplication(13, kGroup, kSubclient + 1);       // another subclient: not backed up
  AddReplication(14, kGroup, kSubclient, kCopy + 1);  // another copy
  const long long backup = StartHeld(Backup(true, true));
  EXPECT_EQ((std::vector<int>{11, 12, 14}), drtest::ChildJob(backup).replicationIds);
  ASSERT_TRUE(CJobSimulator::Complete(backup));
  const SChildJobRecord done = drtest::ChildJob(backup);
  ASSERT_EQ(3u, done.childJobIds.size());

  ASSERT_TRUE(CArrayLab::SnapshotCopied(kCopy, backup));
  std::vector<SSnapAfile> afiles;
  ASSERT_EQ(EStoreResult::kOk, CAfileStore::All(afiles));
  ASSERT_EQ(2u, afiles.size());
  for (size_t i = 0; i < afiles.size(); ++i) {
    const SSnapAfile& a = afiles[i];
    EXPECT_EQ(backup, a.masterJobId);
    EXPECT_EQ(done.childJobIds[i], a.jobId);  // the VM's child job, in replication order
    EXPECT_EQ(Guid(11 + static_cast<int>(i)), a.vmGuid);
    EXPECT_EQ(SSnapAfile::kUnmounted, a.mountStatus);
    EXPECT_EQ(0, a.mountHostId);
    EXPECT_FALSE(a.failoverMount);
    EXPECT_EQ(kCopy, a.copyId);
    EXPECT_EQ(kSubclient, a.applicationId);
  }
  EXPECT_EQ(backup, ReadOne(11).GetInt64(Info::kLastSyncedBackupJobId));
  EXPECT_FALSE(ReadOne(13).Has(Info::kLastSyncedBackupJobId));
  EXPECT_FALSE(ReadOne(14).Has(Info::kLastSyncedBackupJobId));

  // Again: nothing new.
  ASSERT_TRUE(CArrayLab::SnapshotCopied(kCopy, backup));
  ASSERT_EQ(EStoreResult::kOk, CAfileStore::All(afiles));
  EXPECT_EQ(2u, afiles.size());

  // A job the simulator does not know covered every replication of the copy.
  ASSERT_TRUE(CArrayLab::SnapshotCopied(kCopy, 7001));
  EXPECT_EQ(7001, ReadOne(13).GetInt64(Info::kLastSyncedBackupJobId));
  EXPECT_EQ(7001, AfileOf(13, 7001).jobId);

  // A job beyond the afile columns changes nothing.
  EXPECT_FALSE(CArrayLab::SnapshotCopied(kCopy, 1LL << 31));
  EXPECT_EQ(7001, ReadOne(11).GetInt64(Info::kLastSyncedBackupJobId));
  SSnapAfile wide;
  wide.masterJobId = 1LL << 31;
  wide.jobId = 1;
  EXPECT_FALSE(CAfileStore::Add(wide));
}

TEST_F(ArrayManagement, MountsAndUnmountsChangeTheAfileAndTheProxyVM) {
  AddReplication(11);
  AddReplication(12);
  ASSERT_TRUE(CArrayLab::SnapshotCopied(kCopy, 5001));
  const int afile11 = AfileOf(11, 5001).afileId;
  const int afile12 = AfileOf(12, 5001).afileId;

  ASSERT_TRUE(CArrayLab::RecordMount(SArrayMount{afile11, 61, true, "proxy-11", "proxy-guid-11"}));
  SSnapAfile a = Afile(afile11);
  EXPECT_EQ(SSnapAfile::kMountedByDR, a.mountStatus);
  EXPECT_EQ(61, a.mountHostId);
  EXPECT_TRUE(a.failoverMount);
  EXPECT_EQ("proxy-11", ReadOne(11).GetString(Info::kProxyVMName));
  EXPECT_EQ("proxy-guid-11", ReadOne(11).GetString(Info::kProxyVMGuid));
  EXPECT_EQ(61, ReadOne(11).GetMsg(Info::kMountRecord).GetInt32(Mount::kMountHostId));

  // A mount without the test flag leaves the proxy VM alone.
  ASSERT_TRUE(CArrayLab::RecordMount(SArrayMount{afile12, 62, false, "ignored", "ignored"}));
  EXPECT_EQ(SSnapAfile::kMountedByDR, Afile(afile12).mountStatus);
  EXPECT_FALSE(ReadOne(12).Has(Info::kProxyVMName));

  ASSERT_TRUE(CArrayLab::RecordUnmount(afile11));
  a = Afile(afile11);
  EXPECT_EQ(SSnapAfile::kUnmounted, a.mountStatus);
  EXPECT_EQ(0, a.mountHostId);
  EXPECT_FALSE(ReadOne(11).Has(Info::kProxyVMName));
  EXPECT_FALSE(ReadOne(11).Has(Info::kProxyVMGuid));
  EXPECT_EQ(SSnapAfile::kMountedByDR, Afile(afile12).mountStatus);

  // Another process's mount.
  ASSERT_TRUE(CArrayLab::SeedForeignMount(afile12, 70));
  a = Afile(afile12);
  EXPECT_EQ(SSnapAfile::kMountedElsewhere, a.mountStatus);
  EXPECT_EQ(70, a.mountHostId);
  EXPECT_FALSE(a.failoverMount);
  EXPECT_EQ(SSnapAfile::kMountedElsewhere, ReadOne(12).GetMsg(Info::kMountRecord).GetInt32(Mount::kMountStatus));

  EXPECT_FALSE(CArrayLab::RecordMount(SArrayMount{9999, 61, false, "", ""}));
  EXPECT_FALSE(CArrayLab::RecordUnmount(9999));
  EXPECT_FALSE(CArrayLab::SeedForeignMount(9999, 70));
}

TEST_F(ArrayManagement, ArchiveFilesAnswerTheMasterJobsAfilesAndJournalTheMountFlag) {
  for (bool typed : {true, false}) {
    SCOPED_TRACE(typed ? "typed" : "text");
    DBtable::b_newDBBase = typed;
    ASSERT_TRUE(CArrayCallJournal::Clear());
    AddReplication(typed ? 11 : 21);
    const int id = typed ? 11 : 21;
    ASSERT_TRUE(CArrayLab::SnapshotCopied(kCopy, 5001));
    ASSERT_TRUE(CArrayLab::SnapshotCopied(kCopy, 5002));
    ASSERT_TRUE(CArrayLab::SnapshotCopied(kCopy, 5003));
    std::vector<std::vector<std::string>> rows;
    ASSERT_TRUE(ArchiveFiles({5003, 5001}, true, rows));
    ASSERT_EQ(typed ? 2u : 4u, rows.size());  // the text round also sees the typed round's afiles
    const std::vector<std::string>& last = rows.back();
    EXPECT_EQ("5003", last[0]);
    EXPECT_EQ("vm" + std::to_string(id), last[1]);
    EXPECT_EQ(std::to_string(AfileOf(id, 5003).afileId), last[2]);
    EXPECT_EQ("5003", last[3]);
    EXPECT_EQ(std::to_string(300 + id), last[4]);
    EXPECT_EQ(Guid(id), last[5]);
    EXPECT_EQ(std::to_string(400 + id), last[6]);
    EXPECT_EQ("79", last[7]);
    EXPECT_EQ("0", last[8]);
    EXPECT_EQ("0", last[9]);
    for (const auto& r : rows) EXPECT_NE("5002", r[0]);
    const std::vector<SArrayCall> calls = Calls();
    ASSERT_EQ(1u, calls.size());
    EXPECT_EQ(0, calls[0].controlHostId);
    EXPECT_EQ("AppGetSnapDRArchiveFiles", calls[0].call);
    EXPECT_EQ("appId [21] copyId [52] masterJobs [5003,5001] snapMount [1]", calls[0].arguments);
    EXPECT_EQ(typed ? "ok [2]" : "ok [4]", calls[0].result);
  }
  std::vector<std::vector<std::string>> none;
  ASSERT_TRUE(ArchiveFiles({4000}, false, none));
  EXPECT_TRUE(none.empty());
  EXPECT_EQ("snapMount [0]", Calls().back().arguments.substr(Calls().back().arguments.rfind("snapMount")));

  ASSERT_TRUE(CStandIns::SetFault(CArrayLab::kArchiveFiles, EStandInFault::kFails));
  EXPECT_FALSE(ArchiveFiles({5001}, false, none));
  EXPECT_EQ("fault", Calls().back().result);
  ASSERT_TRUE(CStandIns::SetFault(CArrayLab::kArchiveFiles, EStandInFault::kEmptyAnswer));
  ASSERT_TRUE(ArchiveFiles({5001}, false, none));
  EXPECT_TRUE(none.empty());
}

TEST_F(ArrayManagement, TheReplicaGroupReportAnswersTheCopysRows) {
  auto row = [](int copyId, int groupId, const std::string& volume) {
    SReplicaGroupRow r;
    r.spName = "sp-array";
    r.copyName = "array copy";
    r.copyType = "snap";
    r.subclientName = "sc21";
    r.relationshipType = "mirror";
    r.sourcePath = "vs_prod:" + volume;
    r.sourceArray = "array-prod";
    r.targetPath = "vs_dr:" + volume;
    r.targetArray = "array-dr";
    r.subclientId = kSubclient;
    r.copyId = copyId;
    r.replicaGroupId = groupId;
    r.storagePolicyId = kPolicy;
    r.defaultSPCopy = kPrimary;
    r.controlHostId = kArray;
    r.replicaPairId = 100 + groupId;
    return r;
  };
  ASSERT_TRUE(CReplicaGroupReportStore::Add(row(kCopy, 8, "vol_ds2")));
  ASSERT_TRUE(CReplicaGroupReportStore::Add(row(kCopy, 7, "vol_ds1")));
  ASSERT_TRUE(CReplicaGroupReportStore::Add(row(kPrimary, 7, "vol_other")));
  EXPECT_FALSE(CReplicaGroupReportStore::Add(row(kCopy, 7, "again")));

  auto report = [](int copyId, std::vector<std::string>& lines) {
    TMMsg::Entity entity;
    entity.SetInt32(TMMsg::Entity::kCopyId, copyId);
    std::string xml;
    EXPECT_TRUE(entity.serializeUTF8(xml, false));
    MM_SMNetAppOpenReplReport table(nullptr);
    table.setValues(xml.c_str());
    table.setIsolationType(4);
    const MM_SMNetAppOpenReplReport_t* r = table.getDataPtr();
    lines.clear();
    int state = 0;
    int rc;
    while ((rc = getNextRow(&table, &state, -1, 0)) == 0) {
      lines.push_back(std::string(r->o_spName) + "|" + r->o_sourcePath + "|" + r->o_sourceArray + "|" +
                      r->o_targetPath + "|" + r->o_targetArray + "|" + std::to_string(r->o_subclientId) + "|" +
                      std::to_string(r->o_copyId) + "|" + std::to_string(r->o_replicaGroupId) + "|" +
                      std::to_string(r->o_storagePolicyId) + "|" + std::to_string(r->o_defaultSPCopy) + "|" +
                      std::to_string(r->o_controlHostId) + "|" + std::to_string(r->o_replicaPairId));
    }
    return rc;
  };
  std::vector<std::string> lines;
  ASSERT_EQ(100, report(kCopy, lines));
  EXPECT_EQ((std::vector<std::string>{"sp-array|vs_prod:vol_ds1|array-prod|vs_dr:vol_ds1|array-dr|21|52|7|5|51|3|107",
                                      "sp-array|vs_prod:vol_ds2|array-prod|vs_dr:vol_ds2|array-dr|21|52|8|5|51|3|108"}),
            lines);
  ASSERT_EQ(100, report(kPrimary, lines));
  ASSERT_EQ(1u, lines.size());
  ASSERT_EQ(100, report(99, lines));
  EXPECT_TRUE(lines.empty());
  ASSERT_TRUE(CStandIns::SetFault(CArrayLab::kReplicaGroupReport, EStandInFault::kFails));
  EXPECT_NE(100, report(kCopy, lines));
  EXPECT_TRUE(lines.empty());
}

}  // namespace
