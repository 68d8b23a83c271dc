// The machine record: phase map, last phase, errors and pending cause,
// progress weights, phase rows, flags and batch-operation outcomes.
#include <memory>

#include "engine/DRDataSource.h"
#include "engine/DRInfo.h"
#include "engine/SDROperationCtx.h"
#include "engine/SDRPriority.h"
#include "engine/DRRecordsTestSupport.h"
#include "jobs/JobStore.h"
#include "log/JobJournal.h"

namespace {

class DRInfoTest : public CDRRecordsTestBase {
 protected:
  static constexpr int kRepl = 31;

  void SetUp() override {
    CDRRecordsTestBase::SetUp();
    StoreRepl(Repl(kRepl, 1, "web01"));
  }
  // A record of replication kRepl over a loaded data source; restart gives
  // the job's restart string (previous phase rows must exist first).
  void Make(const std::string& restart = "", TMMsg::DROrchestrationType type =
                                                 TMMsg::DR_ORCHESTRATION_PLANNED_FAILOVER) {
    StartJob(JobOptions(false), restart);
    SDataSourceInfo info;
    info.jobId = kJob;
    info.drGroupId = kGroup;
    info.drType = type;
    info.replIds = {kRepl};
    m_source.reset(new CDRDataSource(info));
    ASSERT_TRUE(m_source->IsDataLoaded());
    m_priority.order = 1;
    m_priority.drGroupId = kGroup;
    info.replId = kRepl;
    SDRInfoCtx ctx(m_source.get(), info, m_priority);
    ctx.drType = type;
    ctx.jobManager = m_jm.get();
    m_info.reset(new CDRInfo(ctx));
  }
  static SDRPhaseCtx Phase(Api::VirtualAppJobPhaseType phase, Api::VirtualAppPhaseState state,
                           Api::DRSite site = Api::DR_SITE_SOURCE) {
    return SDRPhaseCtx(kJob, phase, state, site, true);
  }

  SDRPriority m_priority;
  std::unique_ptr<CDRDataSource> m_source;
  std::unique_ptr<CDRInfo> m_info;
};

TEST_F(DRInfoTest, PhaseMapKeepsTheLatestStatePerSiteAndTheLastPhase) {
  Make();
  EXPECT_EQ(0xFFFFFFFFu, m_info->GetPhaseState(Api::VIRTUAL_APP_PHASE_POWER_ON, Api::DR_SITE_SOURCE));
  SDRPhaseCtx running = Phase(Api::VIRTUAL_APP_PHASE_POWER_ON, Api::VIRTUAL_APP_PHASE_STATE_IN_PROGRESS);
  m_info->UpdatePhase(running);
  SDRPhaseCtx done = Phase(Api::VIRTUAL_APP_PHASE_POWER_ON, Api::VIRTUAL_APP_PHASE_STATE_SUCCESS,
                           Api::DR_SITE_DESTINATION);
  m_info->UpdatePhase(done);
  SDRPhaseCtx side = Phase(Api::VIRTUAL_APP_PHASE_BACKUP, Api::VIRTUAL_APP_PHASE_STATE_SKIPPED);
  side.notLastPhase = true;
  m_info->UpdatePhase(side);

  EXPECT_EQ(2u, m_info->GetPhaseState(Api::VIRTUAL_APP_PHASE_POWER_ON, Api::DR_SITE_SOURCE));
  EXPECT_EQ(0u, m_info->GetPhaseState(Api::VIRTUAL_APP_PHASE_POWER_ON, Api::DR_SITE_DESTINATION));
  EXPECT_EQ(8u, m_info->GetPhaseState(Api::VIRTUAL_APP_PHASE_BACKUP, Api::DR_SITE_SOURCE));
  EXPECT_EQ(0xFFFFFFFFu, m_info->GetPhaseState(Api::VIRTUAL_APP_PHASE_BACKUP, Api::DR_SITE_DESTINATION));
  // The not-last-phase update did not replace the last phase.
  EXPECT_EQ(Api::VIRTUAL_APP_PHASE_POWER_ON, m_info->GetLastPhase().phase);
  EXPECT_EQ(Api::VIRTUAL_APP_PHASE_STATE_SUCCESS, m_info->GetLastPhase().state);
  EXPECT_EQ("1:31", m_info->GetId());
  EXPECT_EQ(kRepl, m_info->GetEntityId());
  m_priority.infoSource = TMMsg::DR_OP_SOURCE_PHYSICAL_MACHINE;
  EXPECT_EQ(0, m_info->GetEntityId());
}

TEST_F(DRInfoTest, FailedPhaseRecordsItsErrorAndRaisesThePendingCause) {
  Make();
  CJobJournal::Instance().Clear();
  SDRPhaseCtx failed = Phase(Api::VIRTUAL_APP_PHASE_POWER_OFF, Api::VIRTUAL_APP_PHASE_STATE_FAILED);
  failed.message = "timed out";
  failed.clientEntity.SetString(ZnEntities::GenericEntity::kClientName, "web01");
  m_info->UpdatePhase(failed);
  SDRPhaseCtx quiet = Phase(Api::VIRTUAL_APP_PHASE_SHUTDOWN, Api::VIRTUAL_APP_PHASE_STATE_FAILED);
  quiet.raisePendingCause = false;
  m_info->UpdatePhase(quiet);

  std::vector<std::string> errors;
  m_info->GetErrors(errors);
  ASSERT_EQ(2u, errors.size());
  EXPECT_EQ(" Power Off failed for machine web01 [timed out]", errors[0]);
  // An empty message still gives the brackets; the error is recorded before
  // the row write fills in a missing client name.
  EXPECT_EQ(" Shutdown failed for machine  []", errors[1]);
  std::vector<SPendingCause> causes = CJobJournal::Instance().PendingCauses();
  ASSERT_EQ(1u, causes.size());
  EXPECT_EQ(0x480000A7u, causes[0].code);
  EXPECT_EQ((std::vector<std::string>{"Power Off", "timed out", "web01"}), causes[0].args);
  // markRowAsFailedOnFailure: the replication's status was written as failed.
  EXPECT_FALSE(m_info->IsSuccess());
}

TEST_F(DRInfoTest, SuccessfulPhasesAddTheirWeightEachTime) {
  Make();
  SDRPhaseCtx backup = Phase(Api::VIRTUAL_APP_PHASE_BACKUP, Api::VIRTUAL_APP_PHASE_STATE_SUCCESS);
  m_info->UpdatePhase(backup);
  m_info->UpdatePhase(backup);
  EXPECT_EQ(60, m_info->GetPercentageComplete());
  SDRPhaseCtx quiet = Phase(Api::VIRTUAL_APP_PHASE_REPLICATION, Api::VIRTUAL_APP_PHASE_STATE_SUCCESS);
  quiet.notLastPhase = true;
  m_info->UpdatePhase(quiet);
  EXPECT_EQ(60, m_info->GetPercentageComplete());
  m_info->SetStatus(Api::VIRTUAL_APP_PHASE_STATE_SUCCESS);
  EXPECT_TRUE(m_info->IsSuccess());
  EXPECT_EQ(100, m_info->GetPercentageComplete());
}

TEST_F(DRInfoTest, RestartedJobAddsNoWeightForAPhaseThePreviousRunSucceeded) {
  AddPhaseRow(kJob, kRepl, Api::VIRTUAL_APP_PHASE_BACKUP, 0, 0);
  AddPhaseRow(kJob, kRepl, Api::VIRTUAL_APP_PHASE_REPLICATION, 1, 0);
  Make("2");
  ASSERT_TRUE(m_jm->IsJobRestarted());
  SDRPhaseCtx backup = Phase(Api::VIRTUAL_APP_PHASE_BACKUP, Api::VIRTUAL_APP_PHASE_STATE_SUCCESS);
  m_info->UpdatePhase(backup);
  EXPECT_EQ(0, m_info->GetPercentageComplete());
  SDRPhaseCtx replication = Phase(Api::VIRTUAL_APP_PHASE_REPLICATION, Api::VIRTUAL_APP_PHASE_STATE_SUCCESS);
  m_info->UpdatePhase(replication);
  EXPECT_EQ(25, m_info->GetPercentageComplete());
}

TEST_F(DRInfoTest, WithoutUpdatePhaseInfoTblNothingIsWrittenAndNoWeightAdded) {
  Make();
  SDRPhaseCtx phase = Phase(Api::VIRTUAL_APP_PHASE_BACKUP, Api::VIRTUAL_APP_PHASE_STATE_SUCCESS);
  phase.updatePhaseInfoTbl = false;
  m_info->UpdatePhase(phase);
  SDRPhaseCtx failed = Phase(Api::VIRTUAL_APP_PHASE_POWER_ON, Api::VIRTUAL_APP_PHASE_STATE_FAILED);
  failed.updatePhaseInfoTbl = false;
  m_info->UpdatePhase(failed);

  EXPECT_TRUE(PhaseRows().empty());
  EXPECT_EQ(0, m_info->GetPercentageComplete());
  EXPECT_EQ(Api::VIRTUAL_APP_PHASE_POWER_ON, m_info->GetLastPhase().phase);
  std::vector<std::string> errors;
  m_info->GetErrors(errors);
  EXPECT_EQ(1u, errors.size());
}

TEST_F(DRInfoTest, SuspendedJobFreezesEveryPhaseUpdate) {
  Make();
  ASSERT_EQ(EStoreResult::kOk, CJobStore::SetControlOperation(kJob, 2));
  ASSERT_TRUE(m_jm->IsQuitFlagSet());
  ASSERT_TRUE(m_jm->IsJobSuspended());
  SDRPhaseCtx failed = Phase(Api::VIRTUAL_APP_PHASE_POWER_ON, Api::VIRTUAL_APP_PHASE_STATE_FAILED);
  m_info->UpdatePhase(failed);
  EXPECT_EQ(0xFFFFFFFFu, m_info->GetPhaseState(Api::VIRTUAL_APP_PHASE_POWER_ON, Api::DR_SITE_SOURCE));
  std::vector<std::string> errors;
  m_info->GetErrors(errors);
  EXPECT_TRUE(errors.empty());
  EXPECT_TRUE(PhaseRows().empty());
}

TEST_F(DRInfoTest, FirstBatchOperationOutcomeWins) {
  Make();
  SDROperationCtx ctx;
  ctx.batchOp = static_cast<ZNDR::BatchOperation>(7);
  EXPECT_FALSE(m_info->IsBatchOpSuccess(ctx));
  m_info->SetBatchOpStatus(ctx, true);
  m_info->SetBatchOpStatus(ctx, false);
  EXPECT_TRUE(m_info->IsBatchOpSuccess(ctx));
  EXPECT_TRUE(Logged("Attempt to override m_batchOpStatusMap key for operation [Failover] with val [false]. "
                     "Invalid request!"));
  SDROperationCtx other = ctx;
  other.site = Api::DR_SITE_DESTINATION;
  m_info->SetBatchOpStatus(other, false);
  EXPECT_FALSE(m_info->IsBatchOpSuccess(other));
}

TEST_F(DRInfoTest, FlagsAreSetNeverCleared) {
  Make();
  m_info->SetStatus(Api::VIRTUAL_APP_PHASE_STATE_SKIPPED);
  m_info->SetStatus(Api::VIRTUAL_APP_PHASE_STATE_PENDING);
  m_info->SetStatus(Api::VIRTUAL_APP_PHASE_STATE_FAILED);
  EXPECT_TRUE(m_info->IsSkipped());
  EXPECT_TRUE(m_info->IsPending());
  EXPECT_FALSE(m_info->IsSuccess());
}

TEST_F(DRInfoTest, ScriptsCountOnlyWhenTheirFourFieldsAreSet) {
  Make();
  EXPECT_FALSE(m_info->IsScriptsConfigured(false));  // no VM sequence
  TMMsg::VMDependencyOrder entry = Entry(kRepl);
  using Script = TMMsg::ScriptFields;
  CNMessageBase& pre = entry.MutableMsg(TMMsg::VMDependencyOrder::kPreScript);
  pre.SetInt32(Script::kFlag, 1);
  pre.SetString(Script::kScriptText, "pre.sh");
  pre.MutableMsg(Script::kSubRecord7);
  pre.MutableMsg(Script::kSubRecord4);
  entry.MutableMsg(TMMsg::VMDependencyOrder::kPostScript).SetString(Script::kScriptText, "post.sh");
  m_priority.vmGroup = Group(1, {Entry(99), entry});
  EXPECT_TRUE(m_info->IsScriptsConfigured(false));
  EXPECT_FALSE(m_info->IsScriptsConfigured(true));
  m_priority.vmGroup = Group(1, {Entry(99)});
  EXPECT_FALSE(m_info->IsScriptsConfigured(false));
  EXPECT_TRUE(Logged("No scripts found for replication [31]"));
}

}  // namespace
