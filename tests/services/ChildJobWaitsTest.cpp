// The job manager's waits on child jobs that read the management database:
// the polling wait and its quit handling, the backup child-job lookup and
// its cache, the sync and aux-copy checks, and the waits on jobs already
// running. The notice path has its own tests (JobWaitServiceTest).
#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "TestThread.h"
#include "drorch/DRJobManager.h"
#include "jobs/ZNDROrchestrationClnt.h"
#include "jobsim/JobSimulator.h"
#include "services/ServicesTestSupport.h"
#include "settings/ZNPlatformInfo.h"

namespace {

class ChildJobWaits : public CServicesTestBase {
 protected:
  // Above 2^32, so any narrowing of the DR job id shows.
  static constexpr long long kJob = 4294967296LL + 700;

  void SetUp() override {
    CServicesTestBase::SetUp();
    ZNPlatformInfo::setNumber("Session", "bDisableDRJobWaitService", 1);
    CreateJob(kJob, Xml(MakeOptions()));
    m_client.reset(new ZNDROrchestrationClnt(kJob));
    ASSERT_TRUE(m_jm.Initialize(*m_client, 0, 2));
    CPlatformClock::Instance().ClearRecords();
  }
  void TearDown() override {
    ZNPlatformInfo::setNumber("Session", "bDisableDRJobWaitService", 0);
    CServicesTestBase::TearDown();
  }

  // The job's status; a text no status has when there is no such job.
  static std::string Status(long long id) {
    SJobRecord r;
    return CJobStore::GetJob(id, r) == EStoreResult::kOk ? r.status : "<no job " + std::to_string(id) + ">";
  }
  // Ends a child after the waiter has polled it a few times (or, should it
  // never poll, after the watchdog's time, so that the waiter still ends
  // and the test fails on its counts instead of hanging).
  static drtest::CTestThread EndLater(long long id, const std::string& status) {
    auto giveUp = std::make_shared<std::atomic<bool>>(false);
    drtest::CTestThread ender(
        [id, status, giveUp] {
          drtest::Eventually([&] { return giveUp->load() || CPlatformClock::Instance().CountWaits(30000) >= 2; });
          if (!giveUp->load()) CJobStore::SetStatus(id, status, 100.0);
        },
        "ender of child " + std::to_string(id));
    ender.OnStop([giveUp] { giveUp->store(true); });
    return ender;
  }
  static void LinkRow(long long parent, long long child, int childApp, int halden = 2, int linkType = 7) {
    Sql("INSERT INTO JMJobDataLink (haldenId, parentJobId, childJobId, parentAppid, childAppid, linkType, "
        "childJobStatus) VALUES (" +
            std::to_string(halden) + ", " + std::to_string(parent) + ", " + std::to_string(child) + ", 21, " +
            std::to_string(childApp) + ", " + std::to_string(linkType) + ", 1)",
        "JMJobDataLink");
  }
  static void Replication(int id, int subclient, int status, long long lastSynced) {
    Sql("INSERT INTO APP_VSAReplication (replicationId, subclientId, status, lastSyncedBkpJob) VALUES (" +
            std::to_string(id) + ", " + std::to_string(subclient) + ", " + std::to_string(status) + ", " +
            std::to_string(lastSynced) + ")",
        "APP_VSAReplication");
  }
  // A row of the per-copy data table the simulated job manager keeps.
  static void CopyStats(long long job, int copy, int status) {
    std::string error;
    ASSERT_TRUE(CJobSimulator::CreateTables()) << "the simulator's tables";
    Sql("INSERT INTO JMJobDataStats (jobId, haldenId, archGrpCopyId, status) VALUES (" + std::to_string(job) +
        ", 2, " + std::to_string(copy) + ", " + std::to_string(status) + ")");
  }

  std::unique_ptr<ZNDROrchestrationClnt> m_client;
  CDRJobManager m_jm;
};

TEST_F(ChildJobWaits, DisabledServicePollsEveryThirtySecondsUntilTheChildEnds) {
  CreateChild(71, "Running");
  drtest::CTestThread ender = EndLater(71, "Completed");
  long long child = 71;
  EXPECT_TRUE(m_jm.WaitForJobCompletion(child, 0));
  ASSERT_TRUE(ender.Join());
  EXPECT_TRUE(Logged("Falling back to DBPoll wait mechanism for job[71]"));
  EXPECT_GE(CPlatformClock::Instance().CountWaits(30000, "DRJobManager"), 2u);
  EXPECT_EQ(0u, CPlatformClock::Instance().CountWaits(20000));
  EXPECT_EQ(Status(71), "Completed");
}

TEST_F(ChildJobWaits, QuitWhilePollingActsOnOwnedChildrenOnly) {
  // Kill with the caller owning the child: the child is killed, false.
  CreateChild(72, "Running");
  CJobStore::SetControlOperation(kJob, 1);
  long long owned = 72;
  EXPECT_FALSE(m_jm.WaitForJobCompletionDBPoll(owned, CDRJobManager::kWaitFlagOwnsChild));
  EXPECT_EQ(Status(72), "Killed");
  // Without ownership the child keeps running.
  CreateChild(73, "Running");
  long long other = 73;
  EXPECT_FALSE(m_jm.WaitForJobCompletionDBPoll(other, 0));
  EXPECT_EQ(Status(73), "Running");
}

TEST_F(ChildJobWaits, SuspendSuspendsAnOwnedChildAndEndsTheWaitWell) {
  CreateChild(74, "Running");
  CJobStore::SetControlOperation(kJob, 2);
  long long child = 74;
  EXPECT_TRUE(m_jm.WaitForJobCompletion(child, CDRJobManager::kWaitFlagOwnsChild));
  EXPECT_EQ(Status(74), "Suspended");
}

TEST_F(ChildJobWaits, QuitThatIsNeitherKillNorSuspendEndsThePollingWaitsBadly) {
  CreateChild(75, "Running");
  CJobStore::SetControlOperation(kJob, 3);
  long long child = 75;
  EXPECT_FALSE(m_jm.WaitForJobCompletionDBPoll(child, CDRJobManager::kWaitFlagOwnsChild));
  EXPECT_EQ(Status(75), "Running");
  long long backup = 90, aux = 75;
  bool copied = false;
  EXPECT_FALSE(m_jm.WaitForAuxJobCompletion(backup, aux, 5, copied, CDRJobManager::kWaitFlagOwnsChild));
  long long sync = 75;
  EXPECT_FALSE(m_jm.WaitForSyncJobCompletion(sync, backup, {1}, CDRJobManager::kWaitFlagOwnsChild));
}

TEST_F(ChildJobWaits, AParentWithoutLinkRowsIsItsOwnChildAndTheCacheRemembersIt) {
  long long parent = 90;
  std::vector<std::pair<long long, int>> children;
  bool vmChildren = true;
  ASSERT_TRUE(m_jm.GetBackupChildJobs(parent, children, vmChildren));
  EXPECT_FALSE(vmChildren);
  ASSERT_EQ(1u, children.size());
  EXPECT_EQ(90, children[0].first);
  EXPECT_EQ(0, children[0].second);
  EXPECT_TRUE(Logged("Trying with parent backup job [90] for V1 client"));

  // A hit reports the fallback too, so the sync check still compares with
  // the parent (the first lookup's answer), not by application id.
  vmChildren = true;
  children.clear();
  ASSERT_TRUE(m_jm.GetBackupChildJobs(parent, children, vmChildren));
  EXPECT_FALSE(vmChildren);
  Replication(1, 21, 1, 95);
  bool synced = false;
  ASSERT_TRUE(m_jm.IsAllVMsSynced(parent, {1}, synced));
  EXPECT_TRUE(synced);
}

TEST_F(ChildJobWaits, LinkRowsAreReadOnceEachAndCached) {
  LinkRow(91, 911, 21);
  LinkRow(91, 912, 21);
  LinkRow(91, 913, 21);
  LinkRow(91, 914, 21, 3);      // another domain
  LinkRow(91, 915, 21, 2, 1);   // another kind of link
  LinkRow(191, 921, 21);      // another parent
  long long parent = 91;
  std::vector<std::pair<long long, int>> children;
  bool vmChildren = false;
  ASSERT_TRUE(m_jm.GetBackupChildJobs(parent, children, vmChildren));
  EXPECT_TRUE(vmChildren);
  EXPECT_EQ((std::vector<std::pair<long long, int>>{{911, 21}, {912, 21}, {913, 21}}), children);
  // Cached: a row added now is not seen.
  LinkRow(91, 916, 21);
  children.clear();
  ASSERT_TRUE(m_jm.GetBackupChildJobs(parent, children, vmChildren));
  EXPECT_EQ(3u, children.size());
}

TEST_F(ChildJobWaits, AFailedLinkQueryIsNotCached) {
  Sql("DROP TABLE IF EXISTS JMJobDataLink");
  Sql("CREATE VIEW JMJobDataLink AS SELECT 2 AS haldenId, abs(-9223372036854775808) AS parentJobId, 1 AS "
      "childJobId, 0 AS parentAppid, 0 AS childAppid, 7 AS linkType, 0 AS childJobStatus");
  long long parent = 92;
  std::vector<std::pair<long long, int>> children;
  bool vmChildren = true;
  EXPECT_FALSE(m_jm.GetBackupChildJobs(parent, children, vmChildren));
  EXPECT_TRUE(Logged("Query VM child jobs failed for parent job [92]"));
  Sql("DROP VIEW JMJobDataLink");
  CDBConnection::CloseThreadConnections();
  LinkRow(92, 925, 21);
  ASSERT_TRUE(m_jm.GetBackupChildJobs(parent, children, vmChildren));
  EXPECT_EQ((std::vector<std::pair<long long, int>>{{925, 21}}), children);
}

TEST_F(ChildJobWaits, EachReplicationCountsOnceInTheSyncCheck) {
  // Two VMs of subclient 21, one backup with a child per VM.
  LinkRow(93, 931, 21);
  LinkRow(93, 932, 21);
  long long backup = 93;
  // Only VM 2 synced its child: not all are in sync.
  Replication(1, 21, 3, 0);
  Replication(2, 21, 1, 932);
  bool synced = false;
  ASSERT_TRUE(m_jm.IsAllVMsSynced(backup, {1, 2}, synced));
  EXPECT_FALSE(synced);
  EXPECT_FALSE(Logged("All DR VMs are IN SYNC"));
  // Both synced: the count matches exactly, with no overshoot.
  Sql("UPDATE APP_VSAReplication SET status = 1, lastSyncedBkpJob = 932 WHERE replicationId = 1");
  ASSERT_TRUE(m_jm.IsAllVMsSynced(backup, {1, 2}, synced));
  EXPECT_TRUE(synced);
  EXPECT_TRUE(Logged("All DR VMs are IN SYNC"));
  // No backup: the check cannot be made.
  long long none = 0;
  EXPECT_FALSE(m_jm.IsAllVMsSynced(none, {1}, synced));
}

TEST_F(ChildJobWaits, AuxCopyNeedsEveryChildCopied) {
  LinkRow(94, 941, 21);
  LinkRow(94, 942, 21);
  CopyStats(941, 5, 100);
  CopyStats(942, 5, 100);
  CopyStats(942, 5, 40);  // one stream of 942 is not through yet
  long long backup = 94;
  bool copied = false;
  ASSERT_TRUE(m_jm.IsBackupJobAuxCopied(backup, 5, copied));
  EXPECT_FALSE(copied);
  EXPECT_TRUE(Logged("Backup job [942] is not yet copied to aux on copyId [5]"));
  Sql("UPDATE JMJobDataStats SET status = 100");
  ASSERT_TRUE(m_jm.IsBackupJobAuxCopied(backup, 5, copied));
  EXPECT_TRUE(copied);
  EXPECT_TRUE(Logged("All Backup jobs are successfully copied to aux on copyId [5]"));
}

TEST_F(ChildJobWaits, AnAuxCopyJobThatEndsWithNothingCopiedStillEndsTheWait) {
  LinkRow(95, 951, 21);
  CopyStats(951, 6, 0);
  CreateChild(96, "Completed", 100.0);
  long long backup = 95, aux = 96;
  bool copied = false;
  EXPECT_TRUE(m_jm.WaitForAuxJobCompletion(backup, aux, 6, copied, 0));
  EXPECT_FALSE(copied);
  EXPECT_EQ(1u, CPlatformClock::Instance().CountWaits(30000));
}

TEST_F(ChildJobWaits, RunningJobWaitsFindTheirJobAndIgnoreJobZero) {
  // Nothing running: each returns at once.
  long long found = -1;
  m_jm.WaitOnRunningBkpJobsForSubclient(21, found);
  EXPECT_TRUE(Logged("No running bkp jobs found for appId [21]"));
  m_jm.WaitonRunningBackupCopyJobsForSP(3, found);
  EXPECT_TRUE(Logged("No running backup copy jobs found for sp[3]"));
  long long backup = 97;
  bool copied = false;
  m_jm.WaitonRunningAuxJobsForCopy(backup, 7, found, copied);
  EXPECT_TRUE(Logged("No running aux jobs found for copy[7]"));
  EXPECT_EQ(-1, found);

  // A row with job id 0 is no job.
  Sql("INSERT INTO JMBkpJobInfo (jobId, haldenId, applicationId) VALUES (0, 2, 22)", "JMBkpJobInfo");
  m_jm.WaitOnRunningBkpJobsForSubclient(22, found);
  EXPECT_TRUE(Logged("No running bkp jobs found for appId [22]"));

  // A running backup of the subclient is waited for.
  CreateChild(81, "Running");
  Sql("INSERT INTO JMBkpJobInfo (jobId, haldenId, applicationId) VALUES (81, 2, 21)");
  drtest::CTestThread ender = EndLater(81, "Completed");
  m_jm.WaitOnRunningBkpJobsForSubclient(21, found);
  ASSERT_TRUE(ender.Join());
  EXPECT_EQ(81, found);
  EXPECT_TRUE(Logged("Waiting for backup job [81] to complete for subclient [21]"));

  // A running backup copy of the storage policy.
  CreateChild(82, "Completed", 100.0);
  Sql("INSERT INTO JMAdminJobInfoTable (jobId, opType, archGrpID, archGrpCopyID, haldenId) VALUES (82, 60, 3, 0, 2)",
      "JMAdminJobInfoTable");
  m_jm.WaitonRunningBackupCopyJobsForSP(3, found);
  EXPECT_EQ(82, found);
  EXPECT_TRUE(Logged("Waiting for backup copy job [82] to complete for sp [3]"));

  // A running aux copy of the copy.
  CreateChild(83, "Completed", 100.0);
  Sql("INSERT INTO JMAdminJobInfoTable (jobId, opType, archGrpID, archGrpCopyID, haldenId) VALUES (83, 13, 3, 7, 2)");
  m_jm.WaitonRunningAuxJobsForCopy(backup, 7, found, copied);
  EXPECT_EQ(83, found);
  EXPECT_TRUE(Logged("Waiting for aux copy job [83] to complete for copyId [7]"));
}

TEST(JobSrvcToken, TheSecondFieldNamesTheDRJob) {
  const std::pair<const char*, const char*> cases[] = {
      {"x|1234|y", "1234"},
      {"DRSrvc|4294967996|77|JobWait|12", "4294967996"},
      {"DRSrvc||77", "<untouched>"},
      {"no-bars", "<untouched>"},
      {"", "<untouched>"},
      {"a|../../x", "../../x"},
  };
  for (const auto& c : cases) {
    std::string id = "<untouched>";
    CDRJobManager::ParseJobSrvcToken(c.first, id);
    EXPECT_EQ(c.second, id) << c.first;
  }
}

}  // namespace
