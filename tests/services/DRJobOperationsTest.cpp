// Job operations on child jobs, job queries, phase records, workflows and
// the polling wait.
#include <atomic>
#include <memory>

#include "TestThread.h"
#include "drorch/DRJobManager.h"
#include "jobs/ZNDROrchestrationClnt.h"
#include "services/ServicesTestSupport.h"

namespace {

class DRJobOperationsTest : public CServicesTestBase {
 protected:
  static constexpr long long kJob = 500;

  void SetUp() override {
    CServicesTestBase::SetUp();
    CreateJob(kJob, Xml(MakeOptions()));
    m_client.reset(new ZNDROrchestrationClnt(kJob));
    ASSERT_TRUE(m_jm.Initialize(*m_client, 0, 2));
    CPlatformClock::Instance().ClearRecords();
  }

  // The job's status; a text no status has when there is no such job.
  static std::string Status(long long id) {
    SJobRecord r;
    return CJobStore::GetJob(id, r) == EStoreResult::kOk ? r.status : "<no job " + std::to_string(id) + ">";
  }

  std::unique_ptr<ZNDROrchestrationClnt> m_client;
  CDRJobManager m_jm;
};

TEST_F(DRJobOperationsTest, KillEndsFollowUpOnceTheChildIsDone) {
  CreateChild(61, "Running");
  EXPECT_TRUE(m_jm.PerformJobOperation(61, kJob, static_cast<JobManager::JobOperation>(3)));
  EXPECT_EQ(Status(61), "Killed");
  EXPECT_TRUE(Logged("[Kill] request issued for job [61] "));
  EXPECT_EQ(CPlatformClock::Instance().CountWaits(30000), 1u);

  // A child that reports "completed" in any case also ends it.
  CreateChild(62, "completed", 100.0);
  CJobStore::SetIgnoreOperations(62, true);
  CPlatformClock::Instance().ClearRecords();
  EXPECT_TRUE(m_jm.PerformJobOperation(62, kJob, static_cast<JobManager::JobOperation>(3)));
  EXPECT_EQ(CPlatformClock::Instance().CountWaits(30000), 1u);
}

TEST_F(DRJobOperationsTest, KillOfAChildThatNeverEndsGivesUpAfterSixtyPolls) {
  CreateChild(63, "Running");
  CJobStore::SetIgnoreOperations(63, true);
  EXPECT_TRUE(m_jm.PerformJobOperation(63, kJob, static_cast<JobManager::JobOperation>(3)));
  EXPECT_EQ(CPlatformClock::Instance().CountWaits(30000), 60u);
}

TEST_F(DRJobOperationsTest, SuspendWaitsAndResumeDoesNot) {
  CreateChild(64, "Running");
  EXPECT_TRUE(m_jm.PerformJobOperation(64, kJob, static_cast<JobManager::JobOperation>(0)));
  EXPECT_EQ(Status(64), "Suspended");
  EXPECT_EQ(CPlatformClock::Instance().CountWaits(5000), 1u);
  CPlatformClock::Instance().ClearRecords();
  EXPECT_TRUE(m_jm.PerformJobOperation(64, kJob, static_cast<JobManager::JobOperation>(2)));
  EXPECT_EQ(Status(64), "Running");
  EXPECT_TRUE(CPlatformClock::Instance().Records().empty());
}

TEST_F(DRJobOperationsTest, OperationOnMissingJobFails) {
  EXPECT_FALSE(m_jm.PerformJobOperation(999, kJob, static_cast<JobManager::JobOperation>(0)));
  EXPECT_TRUE(Logged("Suspending job [999] "));
  EXPECT_EQ(CPlatformClock::Instance().CountWaits(5000), 0u);
}

TEST_F(DRJobOperationsTest, StatusQueriesAndMissingJob) {
  CreateChild(70, "Completed W/ One or More Errors", 100.0);
  std::string status;
  ASSERT_TRUE(m_jm.GetJobStatus(70, status));
  EXPECT_EQ(status, "Completed W/ One or More Errors");
  long long id = 70;
  EXPECT_FALSE(m_jm.IsJobFailed(id, false));
  EXPECT_FALSE(m_jm.IsJobFailed(id, true));
  EXPECT_FALSE(m_jm.IsJobKillIssuedForJob(id));

  CreateChild(71, "Kill Pending");
  id = 71;
  EXPECT_TRUE(m_jm.IsJobKillIssuedForJob(id));
  EXPECT_TRUE(m_jm.IsJobFailed(id, true));
  EXPECT_FALSE(m_jm.IsJobFailed(id, false));

  id = 72;  // unknown
  EXPECT_FALSE(m_jm.GetJobStatus(id, status));
  EXPECT_TRUE(Logged("Failed to get JobSummary for job [72]"));
  EXPECT_TRUE(Logged("Failed to get job status for job [72]"));
  EXPECT_TRUE(m_jm.IsJobFailed(id, false));
  EXPECT_FALSE(m_jm.IsJobKillIssuedForJob(id));
  EXPECT_FLOAT_EQ(m_jm.GetJobPercentageComplete(72), 0.0f);
  bool running = true;
  EXPECT_FALSE(m_jm.IsJobRunning(72, running));
  EXPECT_TRUE(running);
}

TEST_F(DRJobOperationsTest, RunningIsDecidedByPercentOnly) {
  CreateChild(80, "Completed", 99.9);
  CreateChild(81, "Running", 100.0);
  bool running = false;
  ASSERT_TRUE(m_jm.IsJobRunning(80, running));
  EXPECT_TRUE(running);
  ASSERT_TRUE(m_jm.IsJobRunning(81, running));
  EXPECT_FALSE(running);
}

TEST_F(DRJobOperationsTest, PhaseStateAndDetails) {
  EXPECT_EQ(m_jm.GetVirtualAppPhaseState(kJob, 26), -1);
  AddPhaseRow(kJob, 3, 26, 4, 0);
  EXPECT_EQ(m_jm.GetVirtualAppPhaseState(kJob, 26), 4);
  std::string details;
  EXPECT_FALSE(m_jm.GetVirtualAppPhaseDetails(kJob, 26, 3, details));
  AddPhaseRow(kJob, 3, 8, 0, 777);
  ASSERT_TRUE(m_jm.GetVirtualAppPhaseDetails(kJob, 8, 3, details));
  EXPECT_NE(details.find("777"), std::string::npos);
  EXPECT_FALSE(m_jm.GetVirtualAppPhaseDetails(kJob, 8, 4, details));
}

TEST_F(DRJobOperationsTest, JobOfAPhaseFromRecordsThenFromPhaseTable) {
  // Ids above 2^31 must survive the round trip through the phase table.
  long long bigJob = 5000000000LL;
  CreateJob(bigJob, Xml(MakeOptions()));
  AddPhaseRow(bigJob, 9, 8, 0, 123);
  EXPECT_EQ(m_jm.GetVirtualAppPhaseState(bigJob, 8), 0);

  std::vector<Api::VirtualAppJob> records;
  Api::VirtualAppJob rec;
  rec.SetInt32(Api::VirtualAppJob::kReplicationId, 5);
  CNMessageBase& phase = rec.AddMsg(Api::VirtualAppJob::kPhases);
  phase.SetInt32(Api::VirtualAppJobPhase::kPhaseType, 8);
  phase.MutableMsg(Api::VirtualAppJobPhase::kPhaseInfo)
      .AddMsg(Api::VirtualAppPhaseInfo::kJobInfos)
      .SetInt64(Api::VirtualAppJobInfo::kJobId, 55);
  records.push_back(rec);
  AddPhaseRow(kJob, 5, 8, 0, 66);
  long long found = -1;
  m_jm.GetJobIDForPhase(records, static_cast<Api::VirtualAppJobPhaseType>(8), 5, found);
  EXPECT_EQ(found, 55);
  records.clear();
  m_jm.GetJobIDForPhase(records, static_cast<Api::VirtualAppJobPhaseType>(8), 5, found);
  EXPECT_EQ(found, 66);
  found = -1;
  m_jm.GetJobIDForPhase(records, static_cast<Api::VirtualAppJobPhaseType>(8), 6, found);
  EXPECT_EQ(found, -1);
}

TEST_F(DRJobOperationsTest, PhasesOfThePreviousRunNameTheirChildJobs) {
  AddPhaseRow(kJob, 1, 8, 2, 11);
  AddPhaseRow(kJob, 1, 21, 0, 12);
  AddPhaseRow(kJob, 2, 8, 2, 13);
  std::vector<Api::VirtualAppJob> records;
  ASSERT_TRUE(m_jm.GetPhasesForJob(kJob, records));
  ASSERT_EQ(records.size(), 2u);
  std::set<long long> all, inProgress;
  m_jm.GetDRChildJobs(records, static_cast<Api::VirtualAppPhaseState>(2), all, false);
  m_jm.GetDRChildJobs(records, static_cast<Api::VirtualAppPhaseState>(2), inProgress, true);
  EXPECT_EQ(all, (std::set<long long>{11, 12, 13}));
  EXPECT_EQ(inProgress, (std::set<long long>{11, 13}));
}

TEST_F(DRJobOperationsTest, ApprovalWorkflowInputsAndOutcomes) {
  long long approvalJob = 0;
  ASSERT_TRUE(m_jm.StartDRApprovalJob("Planned Failover", kOwner, kClientId, 5, 42, approvalJob));
  SJobRecord r;
  ASSERT_EQ(EStoreResult::kOk, CJobStore::GetJob(approvalJob, r));
  EXPECT_EQ(r.name, "DRApproval");
  EXPECT_EQ(r.inputs, "<inputs><vappId>5</vappId><jobId>42</jobId><Action>Planned Failover</Action></inputs>");
  EXPECT_EQ(m_jm.GetVirtualAppPhaseState(42, 27), 0);
  EXPECT_TRUE(m_jm.WaitForJobCompletionDBPoll(approvalJob, 2));

  CLabStore::SetApprovalOutcome(CLabStore::kDeny);
  ASSERT_TRUE(m_jm.StartDRApprovalJob("Planned Failover", kOwner, kClientId, 5, 43, approvalJob));
  EXPECT_EQ(m_jm.GetVirtualAppPhaseState(43, 27), 1);

  CLabStore::SetApprovalOutcome(CLabStore::kFailStart);
  long long untouched = -7;
  EXPECT_FALSE(m_jm.StartDRApprovalJob("Planned Failover", kOwner, kClientId, 5, 44, untouched));
  EXPECT_EQ(untouched, -7);
  EXPECT_TRUE(Logged("Failed to launch worflow [DRApproval]"));
}

TEST_F(DRJobOperationsTest, PollingWaitReactsToKillAndSuspend) {
  CreateChild(90, "Running");
  long long child = 90;
  CJobStore::SetControlOperation(kJob, 1);
  EXPECT_FALSE(m_jm.WaitForJobCompletionDBPoll(child, 0));
  EXPECT_EQ(Status(90), "Running");  // not owned: left running
  EXPECT_FALSE(m_jm.WaitForJobCompletionDBPoll(child, 2));
  EXPECT_EQ(Status(90), "Killed");
  EXPECT_TRUE(Logged("Falling back to DBPoll wait mechanism for job[90]"));

  CDRJobManager jm;
  CJobStore::SetControlOperation(kJob, 2);
  ASSERT_TRUE(jm.Initialize(*m_client, 0, 2));
  CreateChild(91, "Running");
  child = 91;
  EXPECT_TRUE(jm.WaitForJobCompletionDBPoll(child, 2));
  EXPECT_EQ(Status(91), "Suspended");

  long long missing = 92;
  EXPECT_FALSE(jm.WaitForJobCompletionDBPoll(missing, 2));
}


TEST_F(DRJobOperationsTest, PollingWaitSleepsUntilTheChildEndsAndStopsOnOtherQuits) {
  CreateChild(93, "Running");
  long long child = 93;
  // The child ends once the wait has slept at least once.
  std::atomic<bool> giveUp{false};
  drtest::CTestThread finisher(
      [&giveUp] {
        if (drtest::Eventually([&] { return giveUp.load() || CPlatformClock::Instance().CountWaits(30000) > 0; }) &&
            !giveUp.load()) {
          CJobStore::SetStatus(93, "Completed", 100.0);
        }
      },
      "child finisher");
  finisher.OnStop([&giveUp] { giveUp = true; });
  EXPECT_TRUE(m_jm.WaitForJobCompletionDBPoll(child, 2));
  // A wait that returned without sleeping leaves the finisher nothing to do.
  giveUp = true;
  ASSERT_TRUE(finisher.Join());
  EXPECT_GE(CPlatformClock::Instance().CountWaits(30000), 1u);
  EXPECT_EQ(Status(93), "Completed");

  // A quit that is neither kill nor suspend ends the wait with false and
  // leaves even an owned child alone.
  CreateChild(94, "Running");
  child = 94;
  CJobStore::SetControlOperation(kJob, 3);
  EXPECT_FALSE(m_jm.WaitForJobCompletionDBPoll(child, 2));
  EXPECT_EQ(Status(94), "Running");
  EXPECT_FALSE(m_jm.IsJobKillIssued());
  EXPECT_FALSE(m_jm.IsJobSuspended());
}

}  // namespace
