// The simulated server's stores: one owner per table, times from the
// platform clock, a missing record told from a failed read or write, and a
// record never replaced wholesale.
#include <atomic>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "JobTestSupport.h"
#include "TestThread.h"
#include "drorch/DRJobManager.h"
#include "db/DBConnection.h"
#include "db/ZNGlobalParam.h"
#include "jobs/JobStore.h"
#include "jobs/StandIns.h"
#include "jobs/PhaseRowProcedure.h"
#include "jobs/PhaseRowStore.h"
#include "jobs/ZNDROrchestrationClnt.h"
#include "jobs/ZNManageDBForJM.h"
#include "log/JobJournal.h"
#include "msg/MsgClasses.h"
#include "services/ServicesTestSupport.h"
#include "time/PlatformClock.h"
#include "xmlreq/XMLHandler.h"

namespace {

class SimulatedStores : public CServicesTestBase {
 protected:
  void TearDown() override {
    CPlatformClock::Instance().ShiftEpochSeconds(-m_shifted);
    CServicesTestBase::TearDown();
  }
  // Moves the platform clock's epoch far from the machine's, so a time
  // taken from anywhere else shows.
  void ShiftClock(long long seconds) {
    CPlatformClock::Instance().ShiftEpochSeconds(seconds);
    m_shifted += seconds;
  }
  // Replaces a table with a view of its other columns whose job id fails
  // to compute: every query of it prepares, then fails while stepping.
  static void Unreadable(const std::string& table, const std::string& otherColumns) {
    Sql("DROP TABLE IF EXISTS " + table);
    Sql("CREATE VIEW " + table + " AS SELECT abs(-9223372036854775808) AS jobId, " + otherColumns);
  }
  static std::vector<SPhaseRowRecord> Rows(long long jobId) {
    std::vector<SPhaseRowRecord> rows;
    EXPECT_EQ(EStoreResult::kOk, CPhaseRowStore::ReadJob(jobId, rows));
    return rows;
  }
  static std::string PhaseRequest(long long jobId, int replicationId, int phase, int state) {
    Api::VirtualAppJobUpdateReq req;
    CNMessageBase& job = req.AddMsg(Api::VirtualAppJobUpdateReq::kJobs);
    job.SetInt64(Api::VirtualAppJob::kJobId, jobId);
    job.SetInt32(Api::VirtualAppJob::kReplicationId, replicationId);
    CNMessageBase& p = job.AddMsg(Api::VirtualAppJob::kPhases);
    p.SetInt32(Api::VirtualAppJobPhase::kPhaseType, phase);
    p.SetInt32(Api::VirtualAppJobPhase::kPhaseState, state);
    return Xml(req);
  }

  long long m_shifted = 0;
};

TEST_F(SimulatedStores, PhaseAndApprovalRowsTakeTheirTimesFromThePlatformClock) {
  ShiftClock(100000000);
  const long long before = CPlatformClock::Instance().NowEpochSeconds();
  std::string response;
  ASSERT_EQ(0, CPhaseRowProcedure::Execute(PhaseRequest(4294967296LL + 5, 7, 8, 2), response));
  ASSERT_TRUE(CPhaseRowStore::AddApprovalRow(4294967296LL + 5, 3, 1, 0));
  CPlatformClock::Instance().Sleep(5000, "test");
  ASSERT_EQ(0, CPhaseRowProcedure::Execute(PhaseRequest(4294967296LL + 5, 7, 8, 0), response));
  const long long after = CPlatformClock::Instance().NowEpochSeconds();

  std::vector<SPhaseRowRecord> rows = Rows(4294967296LL + 5);
  ASSERT_EQ(2u, rows.size());
  // The approval row (replication 0) starts and ends at once.
  EXPECT_EQ(CPhaseRowStore::kApprovalPhase, rows[0].phase);
  EXPECT_EQ("DR Approval", rows[0].phaseName);
  EXPECT_FALSE(rows[0].hasDetails);
  EXPECT_GE(rows[0].startTime, before);
  EXPECT_EQ(rows[0].startTime, rows[0].endTime);
  // The phase row kept its start and ended five (scaled) seconds later.
  EXPECT_EQ(7, rows[1].replicationId);
  EXPECT_EQ(0, rows[1].status);
  EXPECT_GE(rows[1].startTime, before);
  EXPECT_GE(rows[1].endTime, rows[1].startTime + 5);
  EXPECT_LE(rows[1].endTime, after);
  // No other job's rows, least of all the job whose id is the low 32 bits.
  EXPECT_TRUE(Rows(5).empty());
}

// The text match that narrows the rows down must not take a longer id, or
// the DR job's rows that name the DR job itself, for the child.
TEST_F(SimulatedStores, TheJobsNamingAChildAreThoseWhoseRowsNameItExactly) {
  AddPhaseRow(8, 101, 7, 0, 100004);
  AddPhaseRow(7, 101, 7, 2, 100004);
  AddPhaseRow(7, 102, 7, 2, 100004);
  AddPhaseRow(9, 101, 7, 2, 1000041);
  AddPhaseRow(9, 102, 7, 2, 200004);
  AddPhaseRow(100004, 0, 24, 2, 100004);
  AddPhaseRow(10, 101, 8, 2, 0);
  std::vector<long long> jobs;
  ASSERT_EQ(EStoreResult::kOk, CPhaseRowStore::JobsNamingChild(100004, jobs));
  EXPECT_EQ((std::vector<long long>{7, 8}), jobs);
  ASSERT_EQ(EStoreResult::kOk, CPhaseRowStore::JobsNamingChild(5, jobs));
  EXPECT_TRUE(jobs.empty());
  EXPECT_TRUE(CPhaseRowStore::ChildJobsOf("not a message").empty());
}

TEST_F(SimulatedStores, GlobalParametersAreStampedByThePlatformClock) {
  ShiftClock(100000000);
  const long long before = CPlatformClock::Instance().NowEpochSeconds();
  ASSERT_TRUE(ZNGlobalParam::set("nDRStampProbe", "1"));  // created
  ASSERT_TRUE(ZNGlobalParam::set("nDRStampProbe", "2"));  // modified
  const long long after = CPlatformClock::Instance().NowEpochSeconds();
  CDBConnection* c = CDBConnection::ForThread();
  ASSERT_NE(nullptr, c);
  sqlite3_stmt* s = c->Prepare("SELECT created, modified FROM OBGlobalParam WHERE name = 'nDRStampProbe'");
  ASSERT_NE(nullptr, s);
  ASSERT_EQ(SQLITE_ROW, sqlite3_step(s));
  const long long created = sqlite3_column_int64(s, 0), modified = sqlite3_column_int64(s, 1);
  c->Release(s);
  EXPECT_GE(created, before);
  EXPECT_LE(modified, after);
  EXPECT_GE(modified, created);
}

TEST_F(SimulatedStores, UnreadablePhaseRowsAreAnErrorNotAnEmptyHistory) {
  const long long jobId = 1011;
  CreateJob(jobId, Xml(MakeOptions(0, 1)), "2");
  Unreadable(CPhaseRowStore::kTable,
             "2 AS haldenId, 1 AS vappId, 1 AS clientId, 2 AS replicationId, 3 AS phase, '' AS phaseName, 0 AS status, "
             "0 AS startTime, 0 AS endTime, '' AS details, '' AS failureReason, 0 AS appTypeId");

  std::vector<SPhaseRowRecord> rows;
  EXPECT_EQ(EStoreResult::kFailed, CPhaseRowStore::ReadJob(jobId, rows));

  // The previous-run query fails, the job manager logs it and starts anyway.
  ZNDROrchestrationClnt client(jobId);
  CDRJobManager jm;
  ASSERT_TRUE(jm.Initialize(client, 0, 2));
  EXPECT_TRUE(jm.IsJobRestarted());
  EXPECT_TRUE(jm.GetJobRestartHistory().empty());
  EXPECT_TRUE(Logged("Error [Cannot read the phase rows of job ["));
  EXPECT_TRUE(Logged("during VirtualAppJobDetailsReq"));
}

TEST_F(SimulatedStores, JobRecordsAreNeverReplacedAndMissingIsNotFailed) {
  SJobRecord job;
  job.jobId = 4294967296LL + 21;
  job.jobType = CJobStore::kTypeDR;
  job.ownerId = kOwner;
  job.optionsXml = "<options/>";
  job.name = "DR Orchestration";
  ASSERT_EQ(job.jobId, CJobStore::CreateJob(job));

  // A second create of the id is refused and the first record stays.
  SJobRecord other;
  other.jobId = job.jobId;
  EXPECT_EQ(0, CJobStore::CreateJob(other));
  SJobRecord read;
  ASSERT_EQ(EStoreResult::kOk, CJobStore::GetJob(job.jobId, read));
  EXPECT_EQ("<options/>", read.optionsXml);
  EXPECT_EQ("DR Orchestration", read.name);
  EXPECT_EQ(kOwner, read.ownerId);

  // A job nobody created: every call says so and nothing is made.
  const long long absent = 4294967296LL + 22;
  EXPECT_EQ(EStoreResult::kMissing, CJobStore::GetJob(absent, read));
  EXPECT_EQ(EStoreResult::kMissing, CJobStore::SetStatus(absent, "Running", 0));
  EXPECT_EQ(EStoreResult::kMissing, CJobStore::SetControlOperation(absent, 1));
  EXPECT_EQ(ZNManageDBForJM::kNoSuchJob, ZNManageDBForJM::setRestartStringForJobId(absent, "2", 2));
  EXPECT_EQ(EStoreResult::kMissing, CJobStore::GetJob(absent, read));
  // The low 32 bits name job 22, which does not exist either.
  EXPECT_EQ(EStoreResult::kMissing, CJobStore::GetJob(22, read));

  // A table that cannot be read: reads and writes fail, and neither the
  // restart text nor the options read as empty.
  Unreadable(CJobStore::kTable,
             "0 AS jobType, '' AS status, 0 AS percent, 0 AS ownerId, '' AS optionsXml, '' AS "
             "restartString, 0 AS pendingCause, 0 AS controlOp, 0 AS parentJobId, '' AS name, '' AS inputs, 0 AS "
             "clientId, 0 AS ignoreOps, 0 AS opType");
  EXPECT_EQ(EStoreResult::kFailed, CJobStore::GetJob(job.jobId, read));
  std::vector<SJobRecord> jobs;
  EXPECT_EQ(EStoreResult::kFailed, CJobStore::Jobs(jobs));
  std::string text = "untouched";
  EXPECT_EQ(ZNManageDBForJM::kDatabaseError, ZNManageDBForJM::getRestartStringForJobId(job.jobId, text));
  EXPECT_EQ("untouched", text);
  EXPECT_EQ(EStoreResult::kFailed, CJobStore::SetStatus(job.jobId, "Failed", 0));
  EXPECT_EQ(ZNManageDBForJM::kDatabaseError, ZNManageDBForJM::setRestartStringForJobId(job.jobId, "3", 2));
}

TEST_F(SimulatedStores, EachPendingCauseCarriesOnlyItsOwnArguments) {
  CreateJob(31, Xml(MakeOptions()));
  ZNDROrchestrationClnt client(31);
  for (const char* machine : {"vm-a", "vm-b", "vm-c"}) {
    ArgumentInfo args;
    args << "Power Off" << "failed" << machine;
    client.AppendArguments(&args);
    ASSERT_EQ(0, client.setPendingCause(0x480000A7, nullptr, false, 300, 0, 0, 0, true, 0, 0, 0, 0));
  }
  std::vector<SPendingCause> causes = CJobJournal::Instance().PendingCauses();
  ASSERT_EQ(3u, causes.size());
  const char* machines[] = {"vm-a", "vm-b", "vm-c"};
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ((std::vector<std::string>{"Power Off", "failed", machines[i]}), causes[i].args) << i;
  }
}

TEST_F(SimulatedStores, PlantedFailuresCountDownOnceEachAndAskingForNoneWaitsForNoWriter) {
  // Planted failures are taken once each, however many threads ask at once.
  const std::string target = "ProbeStore.write";
  ASSERT_TRUE(CStandIns::SetFailures(target, 5));
  std::atomic<int> taken{0};
  std::vector<drtest::CTestThread> askers;
  for (int t = 0; t < 6; ++t) {
    askers.emplace_back([&taken, &target]() {
      for (int i = 0; i < 4; ++i) {
        if (CStandIns::TakeFailure(target)) ++taken;
      }
      CDBConnection::CloseThreadConnections();
    });
  }
  for (drtest::CTestThread& t : askers) ASSERT_TRUE(t.Join());
  EXPECT_EQ(5, taken.load());
  EXPECT_FALSE(CStandIns::TakeFailure(target));

  // With nothing planted, asking reads: it does not queue behind a writer
  // holding the database (which waits for the answer before it lets go).
  std::atomic<bool> began{false}, answered{false}, releasedByAnswer{false};
  drtest::CTestThread holder([&began, &answered, &releasedByAnswer]() {
    CDBConnection* c = CDBConnection::ForThread();
    if (c == nullptr || c->BeginWrite() != DB_OK) return;
    began = true;
    releasedByAnswer = drtest::Eventually([&answered] { return answered.load(); }, 10000);
    c->Commit();
    CDBConnection::CloseThreadConnections();
  });
  ASSERT_TRUE(drtest::Eventually([&began] { return began.load(); }));
  EXPECT_FALSE(CStandIns::TakeFailure("ProbeStore.unplanted"));
  answered = true;
  ASSERT_TRUE(holder.Join());
  EXPECT_TRUE(releasedByAnswer.load());
}

}  // namespace
