// Job manager start-up, attempts, quit detection, progress and waits.
#include <memory>

#include "drorch/DRJobManager.h"
#include "jobs/ZNDROrchestrationClnt.h"
#include "jobs/ZNManageDBForJM.h"
#include "services/ServicesTestSupport.h"
#include "JobTestSupport.h"

namespace {

class DRJobManagerTest : public CServicesTestBase {
 protected:
  static constexpr long long kJob = 4242;

  bool Init(const std::string& restart = "") {
    CreateJob(kJob, Xml(MakeOptions()), restart, "Running", 40.0);
    m_client.reset(new ZNDROrchestrationClnt(kJob));
    return m_jm.Initialize(*m_client, 0, 2);
  }

  const SLogLine* FindLine(const std::string& fragment) {
    m_lines = CLogSink::Instance().Captured();
    for (const SLogLine& l : m_lines)
      if (l.text.find(fragment) != std::string::npos) return &l;
    return nullptr;
  }

  std::unique_ptr<ZNDROrchestrationClnt> m_client;
  CDRJobManager m_jm;
  std::vector<SLogLine> m_lines;
};

TEST_F(DRJobManagerTest, FirstRunIsAttemptOneAndStoresTwo) {
  ASSERT_TRUE(Init());
  EXPECT_EQ(m_jm.GetJobId(), kJob);
  EXPECT_EQ(m_jm.GetUserID(), kOwner);
  EXPECT_FALSE(m_jm.IsJobRestarted());
  EXPECT_EQ(m_jm.GetAttempt(), 1);
  EXPECT_EQ(m_jm.GetJobBeginPercentage(), 1);
  EXPECT_EQ(drtest::RestartString(kJob), "2");
  m_jm.SetAllowJobPending(true);
  EXPECT_TRUE(m_jm.IsJobPendingApplicable());
}

TEST_F(DRJobManagerTest, RestartStringGivesAttemptAndStoresNext) {
  ASSERT_TRUE(Init("2"));
  EXPECT_TRUE(Logged("Job restart detected"));
  EXPECT_TRUE(m_jm.IsJobRestarted());
  EXPECT_EQ(m_jm.GetAttempt(), 2);
  EXPECT_FALSE(m_jm.IsLastAttempt());
  EXPECT_EQ(drtest::RestartString(kJob), "3");
  // No phase rows from the earlier run: the percentage is still carried on.
  EXPECT_TRUE(m_jm.GetJobRestartHistory().empty());
  EXPECT_EQ(m_jm.GetJobBeginPercentage(), 40);
}

TEST_F(DRJobManagerTest, ThirdAttemptIsLastAndCannotGoPending) {
  ASSERT_TRUE(Init("3"));
  EXPECT_TRUE(m_jm.IsLastAttempt());
  m_jm.SetAllowJobPending(true);
  EXPECT_FALSE(m_jm.IsJobPendingApplicable());
  EXPECT_EQ(drtest::RestartString(kJob), "4");
}

TEST_F(DRJobManagerTest, CleanupRunDoesNotStoreTheNextAttempt) {
  m_jm.SetDRJobCleanupPhase(true);
  ASSERT_TRUE(Init("2"));
  EXPECT_EQ(drtest::RestartString(kJob), "2");
}

TEST_F(DRJobManagerTest, RestartResumesSuspendedChildrenInAscendingOrder) {
  CreateChild(30, "Suspended");
  CreateChild(10, "Suspended");
  CreateChild(20, "Running");
  CreateChild(40, "Suspended");
  AddPhaseRow(kJob, 1, 8, 2, 30);
  AddPhaseRow(kJob, 2, 8, 2, 10);
  AddPhaseRow(kJob, 3, 8, 2, 20);
  AddPhaseRow(kJob, 4, 8, 0, 40);  // not in progress: left alone
  ASSERT_TRUE(Init("2"));
  EXPECT_EQ(m_jm.GetJobRestartHistory().size(), 4u);
  EXPECT_TRUE(Logged("Found [4] phase(s) set from previous run for job [4242]"));
  EXPECT_TRUE(Logged("Found [2] suspended child job(s)"));
  SJobRecord r;
  ASSERT_EQ(EStoreResult::kOk, CJobStore::GetJob(10, r));
  EXPECT_EQ(r.status, "Running");
  ASSERT_EQ(EStoreResult::kOk, CJobStore::GetJob(30, r));
  EXPECT_EQ(r.status, "Running");
  ASSERT_EQ(EStoreResult::kOk, CJobStore::GetJob(40, r));
  EXPECT_EQ(r.status, "Suspended");
  m_lines = CLogSink::Instance().Captured();
  int first = -1, second = -1;
  for (size_t i = 0; i < m_lines.size(); ++i) {
    if (m_lines[i].text.find("[Resume] request issued for job [10]") != std::string::npos) first = static_cast<int>(i);
    if (m_lines[i].text.find("[Resume] request issued for job [30]") != std::string::npos) second = static_cast<int>(i);
  }
  ASSERT_GE(first, 0);
  ASSERT_GE(second, 0);
  EXPECT_LT(first, second);
}

// The children a restart resumed are the job's own: a quit seen while the
// job waits on one ends it, whatever the wait's flags say, and a kill ends
// those no wait got to; a running child it found, and a suspended one a
// finished phase names, are left as they are.
TEST_F(DRJobManagerTest, TheChildrenARestartResumedAreEndedByItsQuit) {
  CreateChild(10, "Suspended");
  CreateChild(30, "Suspended");
  CreateChild(20, "Running");
  CreateChild(40, "Suspended");
  AddPhaseRow(kJob, 1, 7, 2, 10);
  AddPhaseRow(kJob, 2, 7, 2, 30);
  AddPhaseRow(kJob, 3, 7, 2, 20);
  AddPhaseRow(kJob, 4, 7, 0, 40);
  ASSERT_TRUE(Init("2"));
  auto status = [](long long id) {
    SJobRecord r;
    EXPECT_EQ(EStoreResult::kOk, CJobStore::GetJob(id, r));
    return r.status;
  };
  ASSERT_EQ("Running", status(10));
  ASSERT_EQ("Running", status(30));

  ASSERT_EQ(EStoreResult::kOk, CJobStore::SetControlOperation(kJob, 1));
  long long resumed = 10;
  long long found = 20;
  EXPECT_FALSE(m_jm.WaitForJobCompletionDBPoll(resumed, 0));
  EXPECT_FALSE(m_jm.WaitForJobCompletionDBPoll(found, 0));
  EXPECT_EQ("Killed", status(10));
  EXPECT_EQ("Running", status(20));
  EXPECT_EQ("Running", status(30));

  m_jm.KillResumedChildJobs();
  EXPECT_EQ("Killed", status(30));
  EXPECT_EQ("Running", status(20));
  EXPECT_EQ("Suspended", status(40));
  EXPECT_TRUE(Logged("Killing job [30], resumed by this restart of DR job [4242]"));
  EXPECT_FALSE(Logged("Killing job [10]")) << "ended already";
}

TEST_F(DRJobManagerTest, ASuspendInAWaitSuspendsTheChildTheRestartResumed) {
  CreateChild(10, "Suspended");
  AddPhaseRow(kJob, 1, 7, 2, 10);
  ASSERT_TRUE(Init("2"));
  ASSERT_EQ(EStoreResult::kOk, CJobStore::SetControlOperation(kJob, 2));
  long long resumed = 10;
  EXPECT_TRUE(m_jm.WaitForJobCompletionDBPoll(resumed, 0));
  SJobRecord r;
  ASSERT_EQ(EStoreResult::kOk, CJobStore::GetJob(10, r));
  EXPECT_EQ("Suspended", r.status);
}

TEST_F(DRJobManagerTest, InitializeFailurePaths) {
  // No options for the job.
  {
    ZNDROrchestrationClnt client(9001);
    CDRJobManager jm;
    EXPECT_FALSE(jm.Initialize(client, 0, 2));
    EXPECT_TRUE(Logged("Failed to get the xml options"));
  }
  // Options that are not a job option message.
  {
    CreateJob(9002, "<garbage/>");
    ZNDROrchestrationClnt client(9002);
    CDRJobManager jm;
    EXPECT_FALSE(jm.Initialize(client, 0, 2));
    EXPECT_TRUE(Logged("Failed to unserialize job options [<garbage/>]"));
  }
  // No management server host name.
  {
    CreateJob(9003, Xml(MakeOptions()));
    CLabStore::SetDromhallHostName("");
    ZNDROrchestrationClnt client(9003);
    CDRJobManager jm;
    EXPECT_FALSE(jm.Initialize(client, 0, 2));
    EXPECT_TRUE(Logged("Failed to get Dromhall hostname."));
    CLabStore::ClearKnob("dromhall.host");
  }
  // Job controller refuses the connection.
  {
    CreateJob(9004, Xml(MakeOptions()));
    CLabStore::SetDromhallHostName("dh1");
    CLabStore::SetJobControllerDown(true);
    ZNDROrchestrationClnt client(9004);
    CDRJobManager jm;
    EXPECT_FALSE(jm.Initialize(client, 0, 2));
    EXPECT_TRUE(Logged("Failed to initialize job controller. DHName [dh1], jobId [9004], JobMgrToken []"));
    CLabStore::SetJobControllerDown(false);
  }
  // Options without the DR orchestration option.
  {
    TMMsg::JobOption options;
    options.SetString(TMMsg::JobOption::kWorkflowInputXml, "x");
    CreateJob(9005, Xml(options));
    ZNDROrchestrationClnt client(9005);
    CDRJobManager jm;
    EXPECT_FALSE(jm.Initialize(client, 0, 2));
    EXPECT_TRUE(Logged("DR Orchestration option not set."));
    // A failed start-up stores no attempt.
    EXPECT_EQ(drtest::RestartString(9005), "");
  }
}

TEST_F(DRJobManagerTest, PercentIsCappedAndNonPositiveIsNotSent) {
  ASSERT_TRUE(Init());
  m_jm.UpdatePercentComplete(0);
  m_jm.UpdatePercentComplete(-5);
  EXPECT_EQ(CJobJournal::Instance().PercentComplete(kJob), -1);
  m_jm.UpdatePercentComplete(150);
  EXPECT_EQ(CJobJournal::Instance().PercentComplete(kJob), 99);
  m_jm.UpdatePercentComplete(37);
  EXPECT_EQ(CJobJournal::Instance().PercentComplete(kJob), 37);
  SJobRecord r;
  ASSERT_EQ(EStoreResult::kOk, CJobStore::GetJob(kJob, r));
  EXPECT_DOUBLE_EQ(r.percent, 37.0);
}

TEST_F(DRJobManagerTest, KillStaysSetWithoutAskingTheControllerAgain) {
  ASSERT_TRUE(Init());
  EXPECT_FALSE(m_jm.IsQuitFlagSet());
  ASSERT_EQ(EStoreResult::kOk, CJobStore::SetControlOperation(kJob, 1));
  EXPECT_TRUE(m_jm.IsQuitFlagSet());
  EXPECT_TRUE(m_jm.IsJobKillIssued());
  EXPECT_FALSE(m_jm.IsJobSuspended());
  EXPECT_TRUE(Logged("DR Job [4242] quit flag is set"));
  CJobStore::SetControlOperation(kJob, 0);
  EXPECT_TRUE(m_jm.IsQuitFlagSet());
  EXPECT_TRUE(Logged("DR Job [4242] quit flag is set. Job was interrupted"));
  m_jm.SetAllowJobPending(true);
  EXPECT_FALSE(m_jm.IsJobPendingApplicable());
}

TEST_F(DRJobManagerTest, SuspendAndOtherControlOperations) {
  ASSERT_TRUE(Init());
  CJobStore::SetControlOperation(kJob, 3);
  EXPECT_TRUE(m_jm.IsQuitFlagSet());
  EXPECT_FALSE(m_jm.IsJobKillIssued());
  EXPECT_FALSE(m_jm.IsJobSuspended());
  // Neither flag was set, so the controller is asked again.
  CJobStore::SetControlOperation(kJob, 0);
  EXPECT_FALSE(m_jm.IsQuitFlagSet());
  CJobStore::SetControlOperation(kJob, 2);
  EXPECT_TRUE(m_jm.IsQuitFlagSet());
  EXPECT_TRUE(m_jm.IsJobSuspended());
  EXPECT_FALSE(m_jm.IsJobKillIssued());
  for (int op : {4, 10, 14}) {
    CDRJobManager jm;
    ZNDROrchestrationClnt client(kJob);
    ASSERT_TRUE(jm.Initialize(client, 0, 2));
    CJobStore::SetControlOperation(kJob, op);
    EXPECT_TRUE(jm.IsQuitFlagSet());
    EXPECT_TRUE(jm.IsJobKillIssued()) << op;
  }
}

TEST_F(DRJobManagerTest, WaitLogsSecondsAtTheLevelOfItsLength) {
  ASSERT_TRUE(Init());
  m_jm.Wait(59999, "short");
  m_jm.Wait(60000, "long");
  const SLogLine* s = FindLine("[short]. Checking back in [59] seconds ...");
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->level, 4);
  const SLogLine* l = FindLine("[long]. Checking back in [60] seconds ...");
  ASSERT_NE(l, nullptr);
  EXPECT_EQ(l->level, 1);
  EXPECT_EQ(CPlatformClock::Instance().CountWaits(59999), 1u);
  EXPECT_EQ(CPlatformClock::Instance().CountWaits(60000), 1u);
}

TEST_F(DRJobManagerTest, GenericErrorBecomesPendingCauseWithItsText) {
  ASSERT_TRUE(Init());
  m_jm.SetGenericError("replication broken");
  auto causes = CJobJournal::Instance().PendingCauses();
  ASSERT_EQ(causes.size(), 1u);
  EXPECT_EQ(causes[0].code, 0x4800006Au);
  EXPECT_EQ(causes[0].jobId, kJob);
  ASSERT_EQ(causes[0].args.size(), 1u);
  EXPECT_EQ(causes[0].args[0], "replication broken");
  EXPECT_EQ(CPlatformClock::Instance().CountWaits(3000), 1u);
  EXPECT_EQ(m_jm.GetDRJobLaunchDesc(), "Launched by DR Orchestration Job [4242]");
}

}  // namespace
