// The orchestrator's run against the real job and application managers:
// approval, quit before and during the loop, the final state of killed and
// suspended jobs, the summary e-mail, a clean-up run, and the finalize row.
#include <stdint.h>

#include <memory>
#include <string>
#include <vector>

#include "drorch/DRJobManager.h"
#include "Db/Tbl/App_VirtualAppJobStats.h"
#include "TestDRContext.h"
#include "core/JobContext.h"
#include "core/Mutex.h"
#include "jobs/ZNDROrchestrationClnt.h"
#include "log/JobJournal.h"
#include "services/ServicesTestSupport.h"
#include "JobTestSupport.h"

namespace {

const int kGroupId = 5;
const unsigned kApprovalCannotStart = 0x480000A6;

class OrchestratorRun : public CServicesTestBase {
 protected:
  static constexpr long long kJob = 4242;

  void TearDown() override {
    m_dr.reset();
    CJobContext::SetCurrentJobId(0);
    CServicesTestBase::TearDown();
  }

  // A DR group of `orders` priorities; approval < 0 leaves the approval
  // field out.
  static void PutGroup(int orders, int approval) {
    Api::VirtualApp app;
    CNMessageBase& config = app.MutableMsg(Api::VirtualApp::kConfig);
    config.TouchField(TMMsg::DRGroupConfigFields::kPriorities);
    for (int i = 1; i <= orders; ++i)
      config.AddMsg(TMMsg::DRGroupConfigFields::kPriorities).SetInt32(TMMsg::VMGroup::kPriority, i);
    if (approval >= 0) app.SetInt32(Api::VirtualApp::kApprovalRequired, approval);
    ASSERT_TRUE(CLabStore::PutDRGroup(kGroupId, "Sample", Xml(app)));
  }

  // The job, its job manager and an orchestrator started up as far as the
  // application manager; the queue comes from the test. A restart string
  // makes the run a restart.
  void Start(long long jobId = kJob, int approval = -1, bool cleanup = false, const std::string& restart = "") {
    m_jobId = jobId;
    PutGroup(2, approval);
    ASSERT_EQ(CreateJob(jobId, Xml(MakeOptions(0, kGroupId)), restart), jobId);
    // The application manager reports against the process's running job, as
    // it does in the DR job process.
    CJobContext::SetCurrentJobId(jobId);
    m_client.reset(new ZNDROrchestrationClnt(jobId));
    m_jm.SetDRJobCleanupPhase(cleanup);
    ASSERT_TRUE(m_jm.Initialize(*m_client, 0, 2));
    m_dr.reset(new CTestDR(m_script));
    ASSERT_TRUE(CDRBaseTestPeer::StartUp(*m_dr, &m_jm));
    // A value LogResults never sets, to see whether anything was set.
    m_jm.SetDRJobState(Api::VIRTUAL_APP_PHASE_STATE_IN_PROGRESS);
    CLogSink::Instance().ClearCapture();
  }

  void AddPriorities(int orders, bool continueOnFailure = true) {
    for (int i = 1; i <= orders; ++i) {
      CDRBaseTestPeer::AddPriority(*m_dr, i, TMMsg::DR_OP_SOURCE_VSA_REPLICATION, 0, continueOnFailure);
    }
  }
  void AddInfo(bool success, bool pending, const std::string& report = std::string()) {
    CDRBaseTestPeer::AddInfo(*m_dr, new CTestDRInfo(success, false, pending, 0, report));
  }

  std::vector<SJobRecord> ApprovalJobs() {
    std::vector<SJobRecord> out;
    for (const SJobRecord& j : drtest::AllJobs()) {
      if (j.name == "DRApproval") out.push_back(j);
    }
    return out;
  }

  long long m_jobId = 0;
  STestScript m_script;
  std::unique_ptr<ZNDROrchestrationClnt> m_client;
  CDRJobManager m_jm;
  std::unique_ptr<CTestDR> m_dr;
};

TEST_F(OrchestratorRun, NoApprovalJobWhenTheGroupDoesNotAskForOne) {
  Start(kJob, -1);
  AddPriorities(1);
  AddInfo(true, false);
  m_dr->Run();
  EXPECT_TRUE(ApprovalJobs().empty());
  EXPECT_EQ(1u, m_script.CountPrefix("Process:1"));
}

TEST_F(OrchestratorRun, NoApprovalJobWhenTheApprovalFieldIsZero) {
  Start(kJob, 0);
  AddPriorities(1);
  AddInfo(true, false);
  m_dr->Run();
  EXPECT_TRUE(ApprovalJobs().empty());
  EXPECT_EQ(1u, m_script.CountPrefix("Process:1"));
}

TEST_F(OrchestratorRun, ApprovedGroupRunsThePriorities) {
  Start(kJob, 1);
  AddPriorities(2);
  AddInfo(true, false);
  AddInfo(false, false);

  EXPECT_EQ(Api::VIRTUAL_APP_PHASE_STATE_COMPLETED_WITH_ERRORS, m_dr->Run());

  std::vector<SJobRecord> approvals = ApprovalJobs();
  ASSERT_EQ(1u, approvals.size());
  EXPECT_EQ(kJob, approvals[0].parentJobId);
  EXPECT_NE(std::string::npos, approvals[0].inputs.find("<Action>Planned Failover</Action>"));
  EXPECT_EQ(2u, m_script.CountPrefix("Process:"));
  EXPECT_FALSE(Logged("Approval Denied"));
}

TEST_F(OrchestratorRun, DeniedApprovalFailsBeforeTheLoopAndLeavesTheJobState) {
  Start(kJob, 1);
  CLabStore::SetApprovalOutcome(CLabStore::kDeny);
  AddPriorities(2);
  AddInfo(true, false);

  EXPECT_EQ(Api::VIRTUAL_APP_PHASE_STATE_FAILED, m_dr->Run());

  EXPECT_TRUE(CLogSink::Instance().Contains("Approval Denied for the orchestration operation [Planned Failover]",
                                            "Run"));
  EXPECT_TRUE(m_script.calls.empty());
  EXPECT_EQ(Api::VIRTUAL_APP_PHASE_STATE_IN_PROGRESS, m_jm.GetDRJobState());
  EXPECT_FALSE(Logged("JOB SUMMARY REPORT"));
  SJobRecord job;
  ASSERT_EQ(EStoreResult::kOk, CJobStore::GetJob(kJob, job));
  EXPECT_EQ(0, job.pendingCause);
}

TEST_F(OrchestratorRun, ApprovalThatCannotStartLeavesThePendingCause) {
  Start(kJob, 1);
  CLabStore::SetApprovalOutcome(CLabStore::kFailStart);
  AddPriorities(1);

  EXPECT_EQ(Api::VIRTUAL_APP_PHASE_STATE_FAILED, m_dr->Run());

  EXPECT_TRUE(m_script.calls.empty());
  EXPECT_TRUE(Logged("Approval Denied for the orchestration operation [Planned Failover]"));
  SJobRecord job;
  ASSERT_EQ(EStoreResult::kOk, CJobStore::GetJob(kJob, job));
  EXPECT_EQ(static_cast<int>(kApprovalCannotStart), job.pendingCause);
  bool journalled = false;
  for (const SPendingCause& c : CJobJournal::Instance().PendingCauses()) {
    journalled = journalled || (c.jobId == kJob && c.code == kApprovalCannotStart && c.args.empty());
  }
  EXPECT_TRUE(journalled);
}

TEST_F(OrchestratorRun, QuitBeforeTheLoopFailsTheJob) {
  // Above 2^32: the id must be logged whole.
  const long long bigJob = (1LL << 32) + 17;
  Start(bigJob);
  AddPriorities(2);
  AddInfo(true, false);
  ASSERT_EQ(EStoreResult::kOk, CJobStore::SetControlOperation(bigJob, 1));

  EXPECT_EQ(Api::VIRTUAL_APP_PHASE_STATE_FAILED, m_dr->Run());

  EXPECT_TRUE(CLogSink::Instance().Contains("Failing job as DR job [4294967313] quit flag is set", "Run"));
  EXPECT_TRUE(m_script.calls.empty());
  EXPECT_TRUE(m_jm.IsJobKillIssued());
  EXPECT_FALSE(Logged("JOB SUMMARY REPORT"));
}

// No step got to wait on the child the restart resumed: the kill ends it
// all the same.
TEST_F(OrchestratorRun, QuitBeforeTheLoopKillsTheChildTheRestartResumed) {
  CreateChild(61, "Suspended");
  AddPhaseRow(kJob, 1, 7, 2, 61);
  Start(kJob, -1, false, "2");
  ASSERT_TRUE(m_jm.IsJobRestarted());
  AddPriorities(1);
  AddInfo(true, false);
  ASSERT_EQ(EStoreResult::kOk, CJobStore::SetControlOperation(kJob, 1));

  EXPECT_EQ(Api::VIRTUAL_APP_PHASE_STATE_FAILED, m_dr->Run());

  SJobRecord child;
  ASSERT_EQ(EStoreResult::kOk, CJobStore::GetJob(61, child));
  EXPECT_EQ("Killed", child.status);
  EXPECT_TRUE(m_script.calls.empty());
}

TEST_F(OrchestratorRun, KillAfterAFailedSequentialPriorityEndsTheLoopAsKilled) {
  Start();
  AddPriorities(3, true);
  AddInfo(false, false);
  AddInfo(false, true);
  m_script.resultByOrder[1] = false;
  m_script.onProcess = [this](int order) {
    if (order == 1) CJobStore::SetControlOperation(m_jobId, 1);
  };

  EXPECT_EQ(Api::VIRTUAL_APP_PHASE_STATE_KILLED, m_dr->Run());

  // Continue-on-failure is on, yet the quit ends the loop after order 1.
  EXPECT_EQ(1u, m_script.CountPrefix("Process:"));
  EXPECT_TRUE(CLogSink::Instance().Contains("Halting DR operations as job [4242] quit flag is set", "PriorityDR"));
  EXPECT_FALSE(Logged("Failures encountered while processing priority [1]"));
  EXPECT_FALSE(Logged("Finished  processing PRIORITY [1]"));
  // The summary still follows.
  EXPECT_TRUE(Logged(" Total machines for DR        [2]"));
}

// The job journal's reports of a quit found and of the loop's work over,
// in the order the job made them.
class CReportOrder {
 public:
  explicit CReportOrder(long long jobId) {
    CJobJournal::Instance().SetQuitListener([this, jobId](int64_t id, int operation) {
      if (id == jobId) Add("quit " + std::to_string(operation));
    });
    CJobJournal::Instance().SetWorkOverListener([this, jobId](int64_t id) {
      if (id == jobId) Add("work over");
    });
  }
  ~CReportOrder() {
    CJobJournal::Instance().SetQuitListener(nullptr);
    CJobJournal::Instance().SetWorkOverListener(nullptr);
  }
  CReportOrder(const CReportOrder&) = delete;
  CReportOrder& operator=(const CReportOrder&) = delete;
  std::vector<std::string> Reports() const {
    CMutexLock lk(m_mutex);
    return m_reports;
  }

 private:
  void Add(const std::string& report) {
    CMutexLock lk(m_mutex);
    m_reports.push_back(report);
  }
  mutable CMutex m_mutex;
  std::vector<std::string> m_reports DR_GUARDED_BY(m_mutex);
};

// A kill the loop halts on (continue-on-failure would have gone on to
// order 2) is reported before the work is over; the loop's end is told
// once, before the summary.
TEST_F(OrchestratorRun, AQuitTheLoopHaltsOnIsReportedBeforeItsWorkIsOver) {
  Start();
  CReportOrder order(kJob);
  AddPriorities(3, true);
  AddInfo(true, false);
  AddInfo(false, true);
  m_script.resultByOrder[1] = false;
  m_script.onProcess = [this](int o) {
    if (o == 1) CJobStore::SetControlOperation(m_jobId, 1);
  };

  m_dr->Run();

  EXPECT_EQ((std::vector<std::string>{"quit 1", "work over"}), order.Reports());
}

// A failed priority after which the loop ends anyway (the last order, or
// no continue-on-failure): its work is over before the flag is read, so a
// kill first found there halts nothing, and the machine that succeeded
// keeps the job's state COMPLETED WITH ERRORS.
class OrchestratorRunKillAtTheEnd : public OrchestratorRun {
 protected:
  void KillInFailingOrder(int orders, bool continueOnFailure, int failing) {
    Start();
    CReportOrder order(kJob);
    AddPriorities(orders, continueOnFailure);
    AddInfo(true, false);
    AddInfo(false, false);
    m_script.resultByOrder[failing] = false;
    m_script.onProcess = [this, failing](int o) {
      if (o == failing) CJobStore::SetControlOperation(m_jobId, 1);
    };

    EXPECT_EQ(Api::VIRTUAL_APP_PHASE_STATE_COMPLETED_WITH_ERRORS, m_dr->Run());

    EXPECT_EQ((std::vector<std::string>{"work over", "quit 1"}), order.Reports());
  }
};

TEST_F(OrchestratorRunKillAtTheEnd, InTheLastOrder) { KillInFailingOrder(2, true, 2); }

TEST_F(OrchestratorRunKillAtTheEnd, InAnOrderWithoutContinueOnFailure) { KillInFailingOrder(2, false, 1); }

// With no machine succeeded the state is still the work's: a stop first
// found after it neither kills nor suspends the job (control operation 1
// kills, 2 suspends).
class OrchestratorRunStopAfterTheWork : public OrchestratorRun {
 protected:
  int32_t StopInTheLastOrder(int operation, bool pending) {
    Start();
    AddPriorities(2, true);
    AddInfo(false, pending);
    AddInfo(false, false);
    m_script.resultByOrder[2] = false;
    m_script.onProcess = [this, operation](int o) {
      if (o == 2) CJobStore::SetControlOperation(m_jobId, operation);
    };
    return m_dr->Run();
  }
};

TEST_F(OrchestratorRunStopAfterTheWork, AKillLeavesTheJobFailed) {
  EXPECT_EQ(Api::VIRTUAL_APP_PHASE_STATE_FAILED, StopInTheLastOrder(1, false));
  EXPECT_TRUE(m_jm.IsJobKillIssued()) << "the loop found it";
  EXPECT_TRUE(Logged(" Total machines failed        [2]"));
}

TEST_F(OrchestratorRunStopAfterTheWork, AKillLeavesAPendingMachinesJobPending) {
  EXPECT_EQ(Api::VIRTUAL_APP_PHASE_STATE_PENDING, StopInTheLastOrder(1, true));
}

TEST_F(OrchestratorRunStopAfterTheWork, ASuspendLeavesTheJobFailed) {
  EXPECT_EQ(Api::VIRTUAL_APP_PHASE_STATE_FAILED, StopInTheLastOrder(2, false));
  EXPECT_TRUE(m_jm.IsJobSuspended()) << "the loop found it";
  EXPECT_TRUE(Logged(" Total machines failed        [2]"));
}

TEST_F(OrchestratorRun, SuspendDuringTheRunEndsSuspendedAndReportsNotProcessed) {
  Start();
  AddPriorities(2, true);
  AddInfo(true, false);
  AddInfo(false, false);
  AddInfo(false, true);
  m_script.resultByOrder[1] = false;
  m_script.onProcess = [this](int order) {
    if (order == 1) CJobStore::SetControlOperation(m_jobId, 2);
  };

  EXPECT_EQ(Api::VIRTUAL_APP_PHASE_STATE_SUSPENDED, m_dr->Run());

  EXPECT_TRUE(m_jm.IsJobSuspended());
  EXPECT_FALSE(m_jm.IsJobKillIssued());
  EXPECT_EQ(0u, m_script.CountPrefix("Process:2"));
  EXPECT_TRUE(Logged(" Total machines not processed [1]"));
  EXPECT_FALSE(Logged(" Total machines failed"));
}

// Found while the work went on (continue-on-failure would have gone on to
// order 2).
TEST_F(OrchestratorRun, KilledWithoutSuccessIsKilledEvenWithPendingMachines) {
  Start();
  AddPriorities(2, true);
  AddInfo(false, true);
  m_script.onProcess = [this](int order) {
    if (order == 1) CJobStore::SetControlOperation(m_jobId, 1);
  };
  m_script.resultByOrder[1] = false;
  EXPECT_EQ(Api::VIRTUAL_APP_PHASE_STATE_KILLED, m_dr->Run());
}

TEST_F(OrchestratorRun, SummaryMailGoesToTheOwnerWithEveryReport) {
  Start();
  AddPriorities(1);
  AddInfo(true, false, "vm-a failed over");
  AddInfo(true, false);
  AddInfo(true, false, "vm-b failed over");

  m_dr->Run();

  std::vector<SOutboxMail> outbox = CLabStore::Outbox();
  ASSERT_EQ(1u, outbox.size());
  EXPECT_EQ("DROrchestration Report", outbox[0].subject);
  EXPECT_EQ("owner@example.com", outbox[0].recipient);
  EXPECT_EQ("vm-a failed over\n\nvm-b failed over\n\n", outbox[0].body);
  EXPECT_TRUE(CLogSink::Instance().Contains("User email sent to [owner@example.com]", "SendEmails"));
}

TEST_F(OrchestratorRun, NoMailWithoutReportsOrWithoutAnAddress) {
  Start();
  AddPriorities(1);
  AddInfo(true, false);
  m_dr->Run();
  EXPECT_TRUE(CLabStore::Outbox().empty());

  // An owner without an address gets nothing, and the report is still
  // logged.
  CLabStore::AddUser(kOwner, "owner", "");
  CDRBaseTestPeer::AddInfo(*m_dr, new CTestDRInfo(true, false, false, 0, "report"));
  CLogSink::Instance().ClearCapture();
  CDRBaseTestPeer::LogResults(*m_dr);
  EXPECT_TRUE(CLabStore::Outbox().empty());
  EXPECT_TRUE(Logged(" Total machines succeeded     [2]"));
}

TEST_F(OrchestratorRun, CleanupRunCallsOnlyCleanupAndSendsNothing) {
  Start(kJob, -1, true);
  AddPriorities(2);
  AddInfo(false, false, "report");

  EXPECT_EQ(Api::VIRTUAL_APP_PHASE_STATE_IN_PROGRESS, m_dr->Run());

  EXPECT_EQ((std::vector<std::string>{"Cleanup:1", "Deleted", "Cleanup:2", "Deleted"}), m_script.calls);
  EXPECT_TRUE(CLabStore::Outbox().empty());
  EXPECT_FALSE(Logged("JOB SUMMARY REPORT"));
  EXPECT_TRUE(Logged("[Planned Failover Cleanup] has finished "));
}

TEST_F(OrchestratorRun, ProgressReachesTheJournalsListenerAsItIsReported) {
  Start();
  AddPriorities(2);
  AddInfo(true, false);
  AddInfo(false, false, "");
  std::vector<std::pair<int64_t, int>> seen;
  CJobJournal::Instance().SetPercentListener([&seen](int64_t id, int percent) { seen.emplace_back(id, percent); });
  m_dr->Run();
  CJobJournal::Instance().SetPercentListener(nullptr);

  // The begin percentage, then after each priority (100 + 0) / 2 + 1.
  EXPECT_EQ((std::vector<std::pair<int64_t, int>>{{kJob, 1}, {kJob, 51}, {kJob, 51}}), seen);
  EXPECT_EQ(51, CJobJournal::Instance().PercentComplete(kJob));
}

// ---- the finalize phase row ------------------------------------------------

class FinalizeStatus : public CServicesTestBase {
 protected:
  static void SeedRow(int jobId, int phase, int status) {
    App_VirtualAppJobStats table(nullptr);
    App_VirtualAppJobStats_t* row = table.getDataPtr();
    row->jobId = jobId;
    row->haldenId = 2;
    row->vappId = kGroupId;
    row->clientId = kClientId;
    row->replicationId = 0;
    row->phase = phase;
    row->status = status;
    ASSERT_EQ(0, table.rowInsert(false));
  }
  static int Status(long long jobId, int phase) {
    App_VirtualAppJobStats table(nullptr);
    table.setWhere("jobId = %lld AND phase = %d", jobId, phase);
    if (getOneRow(&table, false, -1, 0) != 0) return -1;
    return table.getDataPtr()->status;
  }

  STestScript m_script;
  CTestDR m_dr{m_script};
};

TEST_F(FinalizeStatus, UpdatesOnlyTheJobsFinalizeRow) {
  SeedRow(77, 26, 2);
  SeedRow(77, 8, 2);
  SeedRow(78, 26, 2);

  EXPECT_TRUE(m_dr.SetFinalizeStatus(77, Api::VIRTUAL_APP_PHASE_STATE_SUCCESS));

  EXPECT_EQ(0, Status(77, 26));
  EXPECT_EQ(2, Status(77, 8));
  EXPECT_EQ(2, Status(78, 26));
  EXPECT_TRUE(CLogSink::Instance().Contains("Setting finalize status as [0] for VSDR ", "SetFinalizeStatus"));
}

TEST_F(FinalizeStatus, JobIdAboveThirtyTwoBitsMatchesItsOwnRow) {
  const long long bigJob = (1LL << 32) + 77;
  // The row struct holds 32 bits; the database holds the whole id.
  Sql("INSERT INTO App_VirtualAppJobStats (jobId, haldenId, vappId, clientId, replicationId, phase, phaseName, "
      "status, startTime, endTime, details, failureReason, appTypeId) VALUES (" +
          std::to_string(bigJob) + ", 2, 5, 1, 0, 26, '', 2, 0, 0, NULL, '', 0)",
      "App_VirtualAppJobStats");
  // The row a narrowed id would hit.
  SeedRow(77, 26, 2);

  EXPECT_TRUE(m_dr.SetFinalizeStatus(bigJob, Api::VIRTUAL_APP_PHASE_STATE_FAILED));

  EXPECT_EQ(1, Status(bigJob, 26));
  EXPECT_EQ(2, Status(77, 26));
}

TEST_F(FinalizeStatus, NoRowIsNotAFailure) {
  EXPECT_TRUE(m_dr.SetFinalizeStatus(12345, Api::VIRTUAL_APP_PHASE_STATE_KILLED));
  EXPECT_FALSE(Logged("Failed to update finalize status"));
}

}  // namespace
