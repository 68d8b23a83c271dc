// Job ids above 32 bits, at every place where a job id enters SQL or a
// message. Each case plants a "twin": the job a 32-bit narrowing of the id
// would name, with data of its own, so a cut id shows as the twin's answer.
// Requests whose fields hold only 32 bits refuse such an id (a logged error
// and a failed result) instead of asking about the twin.
#include <stdint.h>

#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/DRDataSource.h"
#include "engine/DRHelper.h"
#include "engine/DRInfo.h"
#include "engine/DRInfoUtils.h"
#include "engine/DRRecordsTestSupport.h"
#include "engine/SDRPriority.h"
#include "engine/TestDRContext.h"
#include "JobTestSupport.h"
#include "jobs/ZNJobQuery.h"
#include "sim/Simulators.h"
#include "vsa/VSAReplDataMgr.h"

namespace {

const long long kBig = (1LL << 32) + 21;  // the DR job
const long long kTwin = 21;               // what a 32-bit cut makes of it
const char kBigText[] = "4294967317";

class JobIdWidth;

struct SJobIdPlace {
  const char* name;
  void (*check)(JobIdWidth& t);
};
void PrintTo(const SJobIdPlace& place, std::ostream* out) { *out << place.name; }

class JobIdWidth : public CDRRecordsTestBase, public testing::WithParamInterface<SJobIdPlace> {
 public:
  // For the cases of the table.
  using CDRRecordsTestBase::AddPhaseRow;
  using CDRRecordsTestBase::CreateChild;
  using CDRRecordsTestBase::kClientId;
  using CDRRecordsTestBase::kGroup;
  using CDRRecordsTestBase::kOwner;
  using CDRRecordsTestBase::Logged;
  using CDRRecordsTestBase::PhaseRows;
  using CDRRecordsTestBase::Repl;
  using CDRRecordsTestBase::StoreRepl;

  void TearDown() override {
    CSimulators::Install();
    CDRRecordsTestBase::TearDown();
  }
  // The DR job kBig with its job manager; the twin exists as a DR job too.
  CDRJobManager& BigJob(const std::string& restart = "") {
    CreateJob(kTwin, Xml(MakeOptions()));
    return StartJob(JobOptions(false), restart, kBig);
  }
  static SJobRecord Job(long long id) {
    SJobRecord r;
    EXPECT_EQ(EStoreResult::kOk, CJobStore::GetJob(id, r)) << id;
    return r;
  }
  static bool Refused(const char* function) {
    return CLogSink::Instance().Contains(std::string("Job id [") + kBigText + "] does not fit", function);
  }
};

TEST_P(JobIdWidth, CarriesTheWholeId) { GetParam().check(*this); }

const SJobIdPlace kPlaces[] = {
    {"PhaseStateWhereClause",
     [](JobIdWidth& t) {
       CDRJobManager& jm = t.BigJob();
       t.AddPhaseRow(kTwin, 3, 8, 1, 0);
       t.AddPhaseRow(kBig, 3, 8, 4, 0);
       t.AddPhaseRow(kTwin, 3, 9, 1, 0);
       EXPECT_EQ(4, jm.GetVirtualAppPhaseState(kBig, 8));
       EXPECT_EQ(-1, jm.GetVirtualAppPhaseState(kBig, 9));
     }},
    {"PhaseDetailsWhereClause",
     [](JobIdWidth& t) {
       CDRJobManager& jm = t.BigJob();
       t.AddPhaseRow(kTwin, 3, 8, 0, 777);
       t.AddPhaseRow(kBig, 3, 8, 0, 888);
       t.AddPhaseRow(kTwin, 3, 21, 0, 999);
       std::string details;
       ASSERT_TRUE(jm.GetVirtualAppPhaseDetails(kBig, 8, 3, details));
       EXPECT_NE(std::string::npos, details.find("888")) << details;
       EXPECT_EQ(std::string::npos, details.find("777")) << details;
       EXPECT_FALSE(jm.GetVirtualAppPhaseDetails(kBig, 21, 3, details));
     }},
    {"ChildJobOfAPhaseFromTheOwnJobsPhaseTable",
     [](JobIdWidth& t) {
       CDRJobManager& jm = t.BigJob();
       t.AddPhaseRow(kTwin, 5, 8, 0, 66);
       t.AddPhaseRow(kBig, 5, 8, 0, 99);
       t.AddPhaseRow(kTwin, 6, 8, 0, 67);
       std::vector<Api::VirtualAppJob> none;
       long long found = -1;
       jm.GetJobIDForPhase(none, static_cast<Api::VirtualAppJobPhaseType>(8), 5, found);
       EXPECT_EQ(99, found);
       found = -1;
       jm.GetJobIDForPhase(none, static_cast<Api::VirtualAppJobPhaseType>(8), 6, found);
       EXPECT_EQ(-1, found);
     }},
    {"FinalizeStatusWhereClause",
     [](JobIdWidth& t) {
       t.AddPhaseRow(kTwin, 0, 26, 2, 0);
       t.AddPhaseRow(kBig, 0, 26, 2, 0);
       STestScript script;
       CTestDR dr(script);
       EXPECT_TRUE(dr.SetFinalizeStatus(kBig, Api::VIRTUAL_APP_PHASE_STATE_FAILED));
       ASSERT_EQ(1u, t.PhaseRows(kBig).size());
       EXPECT_EQ(1, t.PhaseRows(kBig)[0].status);
       ASSERT_EQ(1u, t.PhaseRows(kTwin).size());
       EXPECT_EQ(2, t.PhaseRows(kTwin)[0].status);
     }},
    {"ChildJobOperationRequest",
     [](JobIdWidth& t) {
       CDRJobManager& jm = t.BigJob();
       const long long child = kBig + 1;
       t.CreateChild(child, "Running");
       t.CreateChild(kTwin + 1, "Running");
       EXPECT_TRUE(jm.PerformJobOperation(child, kBig, static_cast<JobManager::JobOperation>(0)));
       EXPECT_EQ("Suspended", t.Job(child).status);
       EXPECT_EQ("Running", t.Job(kTwin + 1).status);
       EXPECT_TRUE(t.Logged("[Suspend] request issued for job [4294967318] "));
     }},
    {"JobListFilterRefusesAnIdBeyond32Bits",
     [](JobIdWidth& t) {
       CDRJobManager& jm = t.BigJob();
       // The twin answers anything a cut id would ask about it.
       ASSERT_EQ(EStoreResult::kOk, CJobStore::SetStatus(kTwin, "Kill Pending", 100.0));
       std::string status = "untouched";
       EXPECT_FALSE(jm.GetJobStatus(kBig, status));
       EXPECT_EQ("untouched", status);
       EXPECT_TRUE(t.Refused("GetJobStatusResponse"));
       EXPECT_FLOAT_EQ(0.0f, jm.GetJobPercentageComplete(kBig));
       bool running = true;
       EXPECT_FALSE(jm.IsJobRunning(kBig, running));
       EXPECT_TRUE(running);
       long long id = kBig;
       EXPECT_FALSE(jm.IsJobKillIssuedForJob(id));
       EXPECT_TRUE(jm.IsJobFailed(id, false));
       EXPECT_FALSE(jm.WaitForJobCompletionDBPoll(id, 0));
       // The widest id the field holds still works.
       t.CreateChild(INT32_MAX, "Running");
       EXPECT_TRUE(jm.GetJobStatus(INT32_MAX, status));
       EXPECT_EQ("Running", status);
     }},
    {"PhaseRecordsRequestRefusesAnIdBeyond32Bits",
     [](JobIdWidth& t) {
       CDRJobManager& jm = t.BigJob();
       t.AddPhaseRow(kTwin, 1, 8, 2, 11);
       std::vector<Api::VirtualAppJob> records;
       EXPECT_FALSE(jm.GetPhasesForJob(kBig, records));
       EXPECT_TRUE(records.empty());
       EXPECT_TRUE(t.Refused("GetPhasesForJob"));
     }},
    {"RestartOfTheJobResumesNoChildOfTheTwin",
     [](JobIdWidth& t) {
       t.CreateChild(31, "Suspended");
       t.AddPhaseRow(kTwin, 1, 8, 2, 31);
       CDRJobManager& jm = t.BigJob("2");
       ASSERT_TRUE(jm.IsJobRestarted());
       EXPECT_TRUE(jm.GetJobRestartHistory().empty());
       EXPECT_EQ("Suspended", t.Job(31).status);
     }},
    {"ApprovalWorkflowInputs",
     [](JobIdWidth& t) {
       CDRJobManager& jm = t.BigJob();
       long long approval = 0;
       ASSERT_TRUE(jm.StartDRApprovalJob("Planned Failover", t.kOwner, t.kClientId, 5, kBig, approval));
       EXPECT_EQ(std::string("<inputs><vappId>5</vappId><jobId>") + kBigText +
                     "</jobId><Action>Planned Failover</Action></inputs>",
                 t.Job(approval).inputs);
     }},
    {"PhaseRowRequest",
     [](JobIdWidth&) {
       SDataSourceInfo info;
       info.replId = 7;
       info.jobId = kBig;
       SDRPhaseCtx phase(kBig, Api::VIRTUAL_APP_PHASE_BACKUP, Api::VIRTUAL_APP_PHASE_STATE_SUCCESS,
                         Api::DR_SITE_SOURCE, true);
       Api::VirtualAppJobUpdateReq req;
       ASSERT_TRUE(DRInfoUtils::PopulateVAppJobUpdateReq(info, phase, req));
       const CNMessageBase& job = req.GetListMsg(Api::VirtualAppJobUpdateReq::kJobs, 0);
       EXPECT_EQ(kBig, job.GetInt64(Api::VirtualAppJob::kJobId));
       Api::VirtualAppPhaseInfo phaseInfo;
       ASSERT_TRUE(phaseInfo.Unserialize(
           job.GetListMsg(Api::VirtualAppJob::kPhases, 0).GetString(Api::VirtualAppJobPhase::kPhaseInfoXml)));
       EXPECT_EQ(kBig, phaseInfo.GetListMsg(Api::VirtualAppPhaseInfo::kJobInfos, 0)
                           .GetInt64(Api::VirtualAppJobInfo::kJobId));
     }},
    {"PhaseRowWrittenThroughTheDataSource",
     [](JobIdWidth& t) {
       t.StoreRepl(t.Repl(41));
       CDRJobManager& jm = t.BigJob();
       SDataSourceInfo info;
       info.jobId = kBig;
       info.drGroupId = t.kGroup;
       info.drType = TMMsg::DR_ORCHESTRATION_PLANNED_FAILOVER;
       info.replIds = {41};
       CDRDataSource source(info);
       ASSERT_TRUE(source.IsDataLoaded());
       SDRPriority priority;
       info.replId = 41;
       SDRInfoCtx ctx(&source, info, priority);
       ctx.jobManager = &jm;
       CDRInfo machine(ctx);
       SDRPhaseCtx phase(kBig, Api::VIRTUAL_APP_PHASE_BACKUP, Api::VIRTUAL_APP_PHASE_STATE_SUCCESS,
                         Api::DR_SITE_SOURCE, true);
       machine.UpdatePhase(phase);
       ASSERT_EQ(1u, t.PhaseRows(kBig).size());
       EXPECT_EQ(kBig, t.PhaseRows(kBig)[0].jobId);
       EXPECT_TRUE(t.PhaseRows(kTwin).empty());
     }},
    {"LastDRJobPropertyOfTheReplication",
     [](JobIdWidth& t) {
       t.StoreRepl(t.Repl(1));
       SDataSourceInfo info;
       info.jobId = kBig;
       info.replId = 1;
       info.replIds = {1};
       info.drType = TMMsg::DR_ORCHESTRATION_PLANNED_FAILOVER;
       info.status = Api::VIRTUAL_APP_PHASE_STATE_SUCCESS;
       CVSAReplDataMgr mgr(info);
       ASSERT_TRUE(mgr.LoadData(info));
       EXPECT_TRUE(mgr.UpdateStatus(info));
       App::VSAReplicationInfo stored;
       ASSERT_TRUE(CReplicationStore::Get(1, stored));
       ASSERT_EQ(1u, stored.ListSize(App::VSAReplicationInfo::kProperties));
       const CNMessageBase& property = stored.GetListMsg(App::VSAReplicationInfo::kProperties, 0);
       EXPECT_EQ(2216, property.GetInt32(App::VSAReplicationProperties::kPropertyId));
       EXPECT_EQ(kBigText, property.GetString(App::VSAReplicationProperties::kValue));
     }},
    {"LaunchDescription",
     [](JobIdWidth& t) {
       EXPECT_EQ(std::string("Launched by DR Orchestration Job [") + kBigText + "]", t.BigJob().GetDRJobLaunchDesc());
     }},
    {"RestartStringOfTheJob",
     [](JobIdWidth& t) {
       t.BigJob();
       EXPECT_EQ("2", drtest::RestartString(kBig));
       EXPECT_EQ("", drtest::RestartString(kTwin));
     }},
    {"QuitFlagOfTheJob",
     [](JobIdWidth& t) {
       CDRJobManager& jm = t.BigJob();
       ASSERT_EQ(EStoreResult::kOk, CJobStore::SetControlOperation(kTwin, 1));
       EXPECT_FALSE(jm.IsQuitFlagSet());
       ASSERT_EQ(EStoreResult::kOk, CJobStore::SetControlOperation(kBig, 1));
       EXPECT_TRUE(jm.IsQuitFlagSet());
     }},
    {"PercentAndPendingCauseOfTheJob",
     [](JobIdWidth& t) {
       CDRJobManager& jm = t.BigJob();
       jm.UpdatePercentComplete(40);
       EXPECT_DOUBLE_EQ(40.0, t.Job(kBig).percent);
       EXPECT_DOUBLE_EQ(0.0, t.Job(kTwin).percent);
       jm.SetGenericError("stop");
       EXPECT_NE(0, t.Job(kBig).pendingCause);
       EXPECT_EQ(0, t.Job(kTwin).pendingCause);
     }},
    {"OperationTypeOfASnapJob",
     [](JobIdWidth& t) {
       t.CreateChild(kBig, "Running");
       t.CreateChild(kTwin, "Running");
       ASSERT_EQ(EStoreResult::kOk, CJobStore::SetOperationType(kTwin, ZN_OP_SNAP_BACKUP));
       ASSERT_EQ(EStoreResult::kOk, CJobStore::SetOperationType(kBig, 4));
       ZNJobQuery query;
       ASSERT_EQ(0, query.init("dromhall"));
       EXPECT_FALSE(DRHelper::IsSnapJob(kBig, query));
       ASSERT_EQ(EStoreResult::kOk, CJobStore::SetOperationType(kBig, ZN_OP_SNAP_BACKUP));
       EXPECT_TRUE(DRHelper::IsSnapJob(kBig, query));
     }},
};

INSTANTIATE_TEST_SUITE_P(Places, JobIdWidth, testing::ValuesIn(kPlaces),
                         [](const testing::TestParamInfo<SJobIdPlace>& info) { return std::string(info.param.name); });

}  // namespace
