// The rows child jobs leave for the DR job's waits: running-job rows while
// they run, VM child jobs and their links, per-copy data rows, copies and
// their faults, replication sync states, the running-sync-jobs procedure;
// and the storage policies the jobs read.
#include <stdio.h>

#include "JobSimTestSupport.h"
#include "db/App_ExecuteSP.h"

namespace {

using drtest::ChildJob;

class JobSimRows : public CJobSimTestBase {
 protected:
  void SetUp() override {
    CJobSimTestBase::SetUp();
    AddPolicy();
    AddVM(101);
    AddVM(102);
    AddVM(301, 31, 12);  // another subclient's VM
  }

  // The aux-copy wait's own query: a row when every data row of the job on
  // the copy is 100.
  static bool Copied(long long jobId, int copyId) {
    char sql[512];
    snprintf(sql, sizeof(sql),
             "SELECT    JDS.jobId, JDS.haldenId, JDS.archGrpCopyId  FROM    JMJobDataStats JDS  WHERE    JDS.JobId = "
             "%lld  AND JDS.haldenId = 2  AND JDS.archGrpCopyId = %ld  GROUP BY JDS.jobId, JDS.haldenId, "
             "JDS.archGrpCopyId  HAVING MIN(JDS.Status) = 100 AND MAX(JDS.status) = 100",
             jobId, static_cast<long>(copyId));
    return Rows(sql).size() == 1;
  }
  static size_t DataRows(long long jobId) {
    return Rows("SELECT status FROM JMJobDataStats WHERE jobId = " + std::to_string(jobId)).size();
  }
  static std::vector<std::vector<long long>> RunningBackupRows() {
    return Rows("SELECT jobId, haldenId, applicationId FROM JMBkpJobInfo ORDER BY jobId");
  }
  static std::vector<std::vector<long long>> AdminRows() {
    return Rows("SELECT jobId, opType, archGrpID, archGrpCopyID, haldenId FROM JMAdminJobInfoTable ORDER BY jobId");
  }
  static std::vector<std::vector<long long>> Links(long long parent) {
    return Rows("SELECT haldenId, parentJobId, childJobId, parentAppid, childAppid, linkType, childJobStatus FROM "
                "JMJobDataLink WHERE parentJobId = " +
                std::to_string(parent) + " ORDER BY childJobId");
  }
  static App::VSAReplicationInfo Stored(int id) {
    App::VSAReplicationInfo info;
    EXPECT_TRUE(CReplicationStore::Get(id, info));
    return info;
  }
  static int SyncStatus(int id) { return Stored(id).GetInt32(App::VSAReplicationInfo::kSyncStatus); }
  static long long LastSynced(int id) {
    const App::VSAReplicationInfo info = Stored(id);
    return info.Has(App::VSAReplicationInfo::kLastSyncedBackupJobId)
               ? info.GetInt64(App::VSAReplicationInfo::kLastSyncedBackupJobId)
               : 0;
  }
  // A backup of the subclient that completed, with its VM children.
  static SChildJobRecord CompletedBackup(bool vmChildren = true, bool snap = false) {
    const long long id = StartHeld(Backup(vmChildren, snap));
    EXPECT_TRUE(CJobSimulator::Complete(id));
    return ChildJob(id);
  }
};

TEST_F(JobSimRows, ABackupRunsWithItsRowAndEndsWithAVMChildJobPerVM) {
  const long long backup = StartHeld(Backup());
  EXPECT_EQ((std::vector<std::vector<long long>>{{backup, 2, kSubclient}}), RunningBackupRows());
  EXPECT_EQ(4, ChildJob(backup).opType);
  EXPECT_EQ((std::vector<int>{101, 102}), ChildJob(backup).replicationIds);
  EXPECT_TRUE(Links(backup).empty());
  EXPECT_EQ(0u, DataRows(backup));

  ASSERT_TRUE(CJobSimulator::Complete(backup));
  EXPECT_TRUE(RunningBackupRows().empty());
  const SChildJobRecord ended = ChildJob(backup);
  ASSERT_EQ(2u, ended.childJobIds.size());
  const std::vector<std::vector<long long>> links = Links(backup);
  ASSERT_EQ(2u, links.size());
  for (size_t i = 0; i < 2; ++i) {
    const long long child = ended.childJobIds[i];
    EXPECT_EQ((std::vector<long long>{2, backup, child, kSubclient, kSubclient, 7, 1}), links[i]);
    const SChildJobRecord vm = ChildJob(child);
    EXPECT_TRUE(vm.vmChild);
    EXPECT_EQ(backup, vm.parentJobId);
    EXPECT_EQ(std::vector<int>{i == 0 ? 101 : 102}, vm.replicationIds);
    EXPECT_EQ("Completed", vm.status);
    EXPECT_EQ(100.0, vm.percent);
    EXPECT_LT(child, 1LL << 31);
    EXPECT_TRUE(Copied(child, kPrimary));
    EXPECT_FALSE(Copied(child, kAux));
    EXPECT_EQ(4u, DataRows(child));  // two streams on each of two copies
    EXPECT_FALSE(CJobSimulator::Complete(child)) << "a VM child never runs";
  }
  EXPECT_TRUE(Copied(backup, kPrimary));
  EXPECT_FALSE(Copied(backup, kAux));
}

TEST_F(JobSimRows, ASingleModeBackupHasNoChildrenAndKeepsItsOwnDataRows) {
  const SChildJobRecord backup = CompletedBackup(false);
  EXPECT_TRUE(backup.childJobIds.empty());
  EXPECT_TRUE(Links(backup.jobId).empty());
  EXPECT_TRUE(Copied(backup.jobId, kPrimary));
  EXPECT_FALSE(Copied(backup.jobId, kAux));
}

TEST_F(JobSimRows, AFailedOrKilledBackupLeavesNothingButASuspendedOneKeepsItsRow) {
  const long long failed = StartHeld(Backup());
  const long long killed = StartHeld(Backup());
  ASSERT_TRUE(CJobSimulator::Suspend(killed));
  ASSERT_TRUE(CJobSimulator::Fail(failed, "no media"));
  EXPECT_EQ((std::vector<std::vector<long long>>{{killed, 2, kSubclient}}), RunningBackupRows());
  ASSERT_TRUE(CJobSimulator::Kill(killed));
  EXPECT_TRUE(RunningBackupRows().empty());
  for (long long id : {failed, killed}) {
    EXPECT_TRUE(Links(id).empty());
    EXPECT_EQ(0u, DataRows(id));
    EXPECT_TRUE(ChildJob(id).childJobIds.empty());
  }
}

TEST_F(JobSimRows, ASnapBackupReachesThePrimaryCopyThroughABackupCopy) {
  const SChildJobRecord plain = CompletedBackup();
  const SChildJobRecord snap = CompletedBackup(true, true);
  EXPECT_EQ(59, snap.opType);
  for (long long id : {snap.jobId, snap.childJobIds[0], snap.childJobIds[1]}) EXPECT_FALSE(Copied(id, kPrimary));

  // Aux copies cannot copy what is not on the primary copy yet.
  const long long aux = StartHeld(Of(EChildJobType::kAuxCopy));
  ASSERT_TRUE(CJobSimulator::Complete(aux));
  EXPECT_FALSE(Copied(snap.childJobIds[0], kAux));
  EXPECT_TRUE(Copied(plain.childJobIds[0], kAux));

  SChildJobSpec spec = Of(EChildJobType::kBackupCopy);
  spec.copyId = 0;
  const long long backupCopy = StartHeld(spec);
  EXPECT_EQ((std::vector<std::vector<long long>>{{backupCopy, 60, kPolicy, 0, 2}}), AdminRows());
  ASSERT_TRUE(CJobSimulator::Complete(backupCopy));
  EXPECT_TRUE(AdminRows().empty());
  for (long long id : {snap.jobId, snap.childJobIds[0], snap.childJobIds[1]}) {
    EXPECT_TRUE(Copied(id, kPrimary)) << id;
    EXPECT_FALSE(Copied(id, kAux)) << id;
  }
}

TEST_F(JobSimRows, ASubclientMarkedSnapTakesSnapBackups) {
  AddPolicy(kSubclient, true);
  const long long id = StartHeld(Backup());
  EXPECT_TRUE(ChildJob(id).snap);
  EXPECT_EQ(59, ChildJob(id).opType);
  SJobRecord record;
  ASSERT_EQ(EStoreResult::kOk, CJobStore::GetJob(id, record));
  EXPECT_EQ(59, record.opType);
}

TEST_F(JobSimRows, AnAuxCopyCopiesThePolicysBackupsButThoseItIsToldToLeave) {
  const SChildJobRecord first = CompletedBackup();
  const SChildJobRecord second = CompletedBackup();
  const SChildJobRecord single = CompletedBackup(false);
  const long long failedBackup = StartHeld(Backup());
  ASSERT_TRUE(CJobSimulator::Fail(failedBackup, "x"));

  const long long aux = StartHeld(Of(EChildJobType::kAuxCopy));
  EXPECT_EQ((std::vector<std::vector<long long>>{{aux, 13, kPolicy, kAux, 2}}), AdminRows());
  SJobFaults faults;
  faults.flags = kFaultAuxUncopied | kFaultAuxRowShort;
  faults.jobIds = {second.jobId};
  faults.shortRowJobId = first.childJobIds[1];
  ASSERT_TRUE(CJobSimulator::SetFaults(aux, faults));
  ASSERT_TRUE(CJobSimulator::Complete(aux));

  EXPECT_TRUE(AdminRows().empty());
  EXPECT_TRUE(Copied(first.jobId, kAux));
  EXPECT_TRUE(Copied(first.childJobIds[0], kAux));
  EXPECT_FALSE(Copied(first.childJobIds[1], kAux)) << "one row stays below 100";
  EXPECT_EQ(1u, Rows("SELECT status FROM JMJobDataStats WHERE status < 100 AND archGrpCopyId = " +
                     std::to_string(kAux) + " AND jobId = " + std::to_string(first.childJobIds[1]))
                    .size());
  for (long long id : {second.jobId, second.childJobIds[0], second.childJobIds[1]}) EXPECT_FALSE(Copied(id, kAux));
  EXPECT_TRUE(Copied(single.jobId, kAux));
  EXPECT_EQ(0u, DataRows(failedBackup));
}

TEST_F(JobSimRows, AnAuxCopyThatDoesNotCompleteCopiesNothing) {
  const SChildJobRecord backup = CompletedBackup();
  for (bool kill : {false, true}) {
    const long long aux = StartHeld(Of(EChildJobType::kAuxCopy));
    ASSERT_TRUE(kill ? CJobSimulator::Kill(aux) : CJobSimulator::Fail(aux, "library offline"));
    EXPECT_TRUE(AdminRows().empty());
  }
  EXPECT_FALSE(Copied(backup.childJobIds[0], kAux));
  const long long aux = StartHeld(Of(EChildJobType::kAuxCopy));
  ASSERT_TRUE(CJobSimulator::CompleteWithErrors(aux));
  EXPECT_TRUE(Copied(backup.childJobIds[0], kAux));
}

TEST_F(JobSimRows, ASyncMarksItsReplicationsInProgressThenInSyncWithEachVMsLatestBackup) {
  const SChildJobRecord older = CompletedBackup();
  const SChildJobRecord latest = CompletedBackup();
  const long long sync = StartHeld(Of(EChildJobType::kSync));  // every replication of the task
  EXPECT_EQ(105, ChildJob(sync).opType);
  EXPECT_EQ((std::vector<int>{101, 102}), ChildJob(sync).replicationIds);
  EXPECT_EQ(App::VSA_REPL_STATUS_SYNC_IN_PROGRESS, SyncStatus(101));
  EXPECT_EQ(App::VSA_REPL_STATUS_SYNC_IN_PROGRESS, SyncStatus(102));
  EXPECT_EQ(App::VSA_REPL_STATUS_NEED_SYNC, SyncStatus(301));

  ASSERT_TRUE(CJobSimulator::Complete(sync));
  EXPECT_EQ(App::VSA_REPL_STATUS_IN_SYNC, SyncStatus(101));
  EXPECT_EQ(App::VSA_REPL_STATUS_IN_SYNC, SyncStatus(102));
  EXPECT_EQ(latest.childJobIds[0], LastSynced(101));
  EXPECT_EQ(latest.childJobIds[1], LastSynced(102));
  EXPECT_GT(latest.childJobIds[0], older.childJobIds[1]);
  EXPECT_EQ(App::VSA_REPL_STATUS_NEED_SYNC, SyncStatus(301));
  // The columns the waits read.
  EXPECT_EQ((std::vector<std::vector<long long>>{{101, kSubclient, 1, latest.childJobIds[0]},
                                                  {102, kSubclient, 1, latest.childJobIds[1]}}),
            Rows("SELECT replicationId, subclientId, status, lastSyncedBkpJob FROM APP_VSAReplication WHERE "
                 "taskId = 11 ORDER BY replicationId"));
}

TEST_F(JobSimRows, ASingleModeBackupIsTheLastSyncedJobOfEachVM) {
  const SChildJobRecord vmMode = CompletedBackup();
  const SChildJobRecord single = CompletedBackup(false);
  SChildJobSpec spec = Of(EChildJobType::kSync);
  spec.replicationIds = {102};
  const long long sync = StartHeld(spec);
  EXPECT_EQ(App::VSA_REPL_STATUS_NEED_SYNC, SyncStatus(101));
  ASSERT_TRUE(CJobSimulator::Complete(sync));
  EXPECT_EQ(single.jobId, LastSynced(102));
  EXPECT_GT(single.jobId, vmMode.childJobIds[1]);
  EXPECT_EQ(0, LastSynced(101));
  EXPECT_EQ(App::VSA_REPL_STATUS_NEED_SYNC, SyncStatus(101));
}

TEST_F(JobSimRows, ASyncFaultOrAFailedSyncLeavesReplicationsFailedButAKilledOneNeedsASync) {
  const SChildJobRecord backup = CompletedBackup();
  SJobFaults faults;
  faults.flags = kFaultSyncFailed;
  faults.replicationIds = {102};
  ASSERT_TRUE(CJobSimulator::SetNextJobFaults(EChildJobType::kSync, faults));
  const long long faulted = StartHeld(Of(EChildJobType::kSync));
  ASSERT_TRUE(CJobSimulator::Complete(faulted));
  EXPECT_EQ(App::VSA_REPL_STATUS_IN_SYNC, SyncStatus(101));
  EXPECT_EQ(backup.childJobIds[0], LastSynced(101));
  EXPECT_EQ(App::VSA_REPL_STATUS_SYNC_FAILED, SyncStatus(102));
  EXPECT_EQ(0, LastSynced(102));

  // The fault was for that one job only; a failed sync fails them all.
  const long long next = StartHeld(Of(EChildJobType::kSync));
  EXPECT_EQ(0u, ChildJob(next).faults.flags);
  ASSERT_TRUE(CJobSimulator::Fail(next, "proxy down"));
  EXPECT_EQ(App::VSA_REPL_STATUS_SYNC_FAILED, SyncStatus(101));
  EXPECT_EQ(App::VSA_REPL_STATUS_SYNC_FAILED, SyncStatus(102));

  // A sync its DR job killed did not fail: its replications still need one
  // (which a new DR job's first attempt admits), a planted fault or not.
  ASSERT_TRUE(CJobSimulator::SetNextJobFaults(EChildJobType::kSync, faults));
  const long long killed = StartHeld(Of(EChildJobType::kSync));
  ASSERT_TRUE(CJobSimulator::Kill(killed));
  EXPECT_EQ(App::VSA_REPL_STATUS_NEED_SYNC, SyncStatus(101));
  EXPECT_EQ(App::VSA_REPL_STATUS_NEED_SYNC, SyncStatus(102));
  EXPECT_EQ(0, LastSynced(102));
}

TEST_F(JobSimRows, TheRunningSyncJobsProcedureListsTheTasksSyncsThatHaveNotEnded) {
  const long long first = StartHeld(Of(EChildJobType::kSync));
  const long long suspended = StartHeld(Of(EChildJobType::kSync));
  ASSERT_TRUE(CJobSimulator::Suspend(suspended));
  const long long ended = StartHeld(Of(EChildJobType::kSync));
  ASSERT_TRUE(CJobSimulator::Complete(ended));
  SChildJobSpec other = Of(EChildJobType::kSync);
  other.taskId = 12;
  StartHeld(other);
  StartHeld(Of(EChildJobType::kRestore));

  auto running = [](int task) {
    JobManager::GetRunningSyncJobsReq req;
    req.MutableMsg(JobManager::GetRunningSyncJobsReq::kTaskEntity).SetInt32(ZnEntities::TaskEntity::kTaskId, task);
    std::string xml, out;
    EXPECT_TRUE(req.serializeUTF8(xml));
    App_ExecuteSP sp;
    EXPECT_EQ(0, sp.executeGetStoredProcedure(JobManager::GetRunningSyncJobsReq::kTypeId, xml, out, nullptr));
    JobManager::GetRunningSyncJobsResp resp;
    EXPECT_TRUE(resp.Unserialize(out));
    std::vector<long long> ids;
    for (size_t i = 0; i < resp.ListSize(JobManager::GetRunningSyncJobsResp::kRunningJobs); ++i) {
      ids.push_back(resp.GetListMsg(JobManager::GetRunningSyncJobsResp::kRunningJobs, i)
                        .GetInt64(JobManager::JobInfo::kJobId));
    }
    return ids;
  };
  EXPECT_EQ((std::vector<long long>{first, suspended}), running(kTask));
  EXPECT_EQ(1u, running(12).size());
  EXPECT_TRUE(running(99).empty());
}

TEST_F(JobSimRows, StoragePoliciesKeepCopiesByPrecedenceAndOneAssignmentPerSubclient) {
  SStoragePolicy policy;
  policy.policyId = 8;
  policy.copies = {SStorageCopy{83, 3, false, false}, SStorageCopy{81, 1, true, false},
                   SStorageCopy{82, 2, false, true}};
  ASSERT_TRUE(CStoragePolicyStore::PutPolicy(policy));
  SStoragePolicy read;
  ASSERT_EQ(EStoreResult::kOk, CStoragePolicyStore::GetPolicy(8, read));
  ASSERT_EQ(3u, read.copies.size());
  EXPECT_EQ(81, read.copies[0].copyId);
  EXPECT_EQ(83, read.copies[2].copyId);
  EXPECT_EQ(81, read.PrimaryCopyId());
  EXPECT_EQ(82, read.DefaultCopyId());
  EXPECT_EQ(83, read.CopyIdOfPrecedence(3));

  policy.copies = {SStorageCopy{81, 1, true, true}};
  ASSERT_TRUE(CStoragePolicyStore::PutPolicy(policy));
  ASSERT_EQ(EStoreResult::kOk, CStoragePolicyStore::GetPolicy(8, read));
  EXPECT_EQ(1u, read.copies.size());
  EXPECT_EQ(81, read.DefaultCopyId());
  EXPECT_EQ(EStoreResult::kOk, CStoragePolicyStore::GetPolicy(kPolicy, read)) << "other policies stay";

  ASSERT_TRUE(CStoragePolicyStore::AssignSubclient(SSubclientPolicy{kSubclient, 8, true}));
  SSubclientPolicy assigned;
  ASSERT_EQ(EStoreResult::kOk, CStoragePolicyStore::GetSubclient(kSubclient, assigned));
  EXPECT_EQ(8, assigned.policyId);
  EXPECT_TRUE(assigned.snap);
  std::vector<SSubclientPolicy> subclients;
  ASSERT_EQ(EStoreResult::kOk, CStoragePolicyStore::SubclientsOfPolicy(kPolicy, subclients));
  EXPECT_TRUE(subclients.empty());
  EXPECT_EQ(EStoreResult::kMissing, CStoragePolicyStore::GetSubclient(99, assigned));
  EXPECT_EQ(EStoreResult::kMissing, CStoragePolicyStore::GetPolicy(99, read));
  EXPECT_FALSE(CStoragePolicyStore::PutPolicy(SStoragePolicy{0, {}}));
  EXPECT_FALSE(CStoragePolicyStore::AssignSubclient(SSubclientPolicy{kSubclient, 0, false}));
}

TEST_F(JobSimRows, JobsThatCannotStartLeaveNothingBehind) {
  SChildJobSpec noSubclient = Backup();
  noSubclient.applicationId = 0;
  SChildJobSpec noCopy = Of(EChildJobType::kAuxCopy);
  noCopy.copyId = 0;
  SChildJobSpec noPolicy = Of(EChildJobType::kBackupCopy);
  noPolicy.storagePolicyId = 0;
  SChildJobSpec noTask = Of(EChildJobType::kSync);
  noTask.taskId = 0;
  for (const SChildJobSpec& spec : {noSubclient, noCopy, noPolicy, noTask}) {
    EXPECT_EQ(0, CJobSimulator::StartJob(spec));
  }
  std::vector<SChildJobRecord> jobs;
  ASSERT_EQ(EStoreResult::kOk, CJobSimulator::Jobs(jobs));
  EXPECT_TRUE(jobs.empty());
  std::vector<SJobRecord> records;
  ASSERT_EQ(EStoreResult::kOk, CJobStore::Jobs(records));
  ASSERT_EQ(1u, records.size()) << "the DR job alone";
  EXPECT_EQ(kDRJob, records[0].jobId);
  EXPECT_TRUE(RunningBackupRows().empty());
  EXPECT_TRUE(AdminRows().empty());
}

}  // namespace
