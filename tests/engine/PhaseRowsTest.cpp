// Phase rows: every phase update of a machine becomes one row change of the
// DR job's phase table, read back from the database and by a restarted job.
#include <memory>

#include "engine/DRDataSource.h"
#include "engine/DRInfo.h"
#include "engine/DRInfoUtils.h"
#include "engine/SDRPriority.h"
#include "db/App_ExecuteSP.h"
#include "engine/DRRecordsTestSupport.h"
#include "jobs/PhaseRowProcedure.h"
#include "sim/Simulators.h"

namespace {

class PhaseRowsTest : public CDRRecordsTestBase {
 protected:
  void TearDown() override {
    CSimulators::Install();
    CDRRecordsTestBase::TearDown();
  }
  void Make(const std::vector<int>& ids, const std::string& restart = "") {
    for (int id : ids) StoreRepl(Repl(id));
    StartJob(JobOptions(false), restart);
    SDataSourceInfo info;
    info.jobId = kJob;
    info.drGroupId = kGroup;
    info.drType = TMMsg::DR_ORCHESTRATION_PLANNED_FAILOVER;
    info.replIds = ids;
    m_source.reset(new CDRDataSource(info));
    ASSERT_TRUE(m_source->IsDataLoaded());
    m_priority.order = 1;
    for (int id : ids) {
      info.replId = id;
      SDRInfoCtx ctx(m_source.get(), info, m_priority);
      ctx.drType = TMMsg::DR_ORCHESTRATION_PLANNED_FAILOVER;
      ctx.jobManager = m_jm.get();
      m_infos.emplace_back(new CDRInfo(ctx));
    }
  }

  SDRPriority m_priority;
  std::unique_ptr<CDRDataSource> m_source;
  std::vector<std::unique_ptr<CDRInfo>> m_infos;
};

TEST_F(PhaseRowsTest, EachUpdateIsOneRowChangeWithWhatTheRequestCarries) {
  Make({41, 42});
  SDRPhaseCtx running(kJob, Api::VIRTUAL_APP_PHASE_BACKUP, Api::VIRTUAL_APP_PHASE_STATE_IN_PROGRESS,
                      Api::DR_SITE_SOURCE, true);
  m_infos[0]->UpdatePhase(running);
  ASSERT_EQ(1u, PhaseRows().size());
  EXPECT_EQ(2, PhaseRows()[0].status);

  SDRPhaseCtx failed = running;
  failed.state = Api::VIRTUAL_APP_PHASE_STATE_FAILED;
  failed.message = "disk full";
  m_infos[0]->UpdatePhase(failed);
  SDRPhaseCtx other(kJob, Api::VIRTUAL_APP_PHASE_POWER_OFF, Api::VIRTUAL_APP_PHASE_STATE_SUCCESS,
                    Api::DR_SITE_SOURCE, true);
  m_infos[1]->UpdatePhase(other);

  std::vector<SPhaseRow> rows = PhaseRows();
  ASSERT_EQ(2u, rows.size());
  EXPECT_EQ(kJob, rows[0].jobId);
  EXPECT_EQ(kGroup, rows[0].vappId);
  EXPECT_EQ(41, rows[0].replicationId);
  EXPECT_EQ(Api::VIRTUAL_APP_PHASE_BACKUP, rows[0].phase);
  EXPECT_EQ(1, rows[0].status);
  EXPECT_EQ(106, rows[0].appTypeId);
  EXPECT_EQ("disk full", rows[0].failureReason);
  Api::VirtualAppPhaseInfo info;
  ASSERT_TRUE(info.Unserialize(rows[0].details));
  ASSERT_EQ(1u, info.ListSize(1, 1));
  const CNMessageBase& job = info.GetListMsg(1, 1, 0);
  EXPECT_EQ(kJob, job.GetInt64(4));
  EXPECT_EQ(4, job.GetInt32(2));  // a backup phase carries job operation 4
  EXPECT_EQ("disk full", job.GetMsg(3, 3).GetString(2, 2));
  // The client name was filled from the replication record.
  EXPECT_EQ("vm41", job.GetMsg(5, 5).GetString(18, 48));
  EXPECT_EQ(42, rows[1].replicationId);
  EXPECT_EQ(Api::VIRTUAL_APP_PHASE_POWER_OFF, rows[1].phase);
  EXPECT_EQ(0, rows[1].status);
}

TEST_F(PhaseRowsTest, RestartedJobReadsTheEarlierRunsRows) {
  Make({41});
  SDRPhaseCtx done(kJob, Api::VIRTUAL_APP_PHASE_REPLICATION, Api::VIRTUAL_APP_PHASE_STATE_SUCCESS,
                   Api::DR_SITE_SOURCE, true);
  m_infos[0]->UpdatePhase(done);

  CDRJobManager again;
  ZNDROrchestrationClnt client(kJob);
  ASSERT_TRUE(again.Initialize(client, 0, 2));
  ASSERT_TRUE(again.IsJobRestarted());
  ASSERT_EQ(1u, again.GetJobRestartHistory().size());
  EXPECT_EQ(Api::VIRTUAL_APP_PHASE_STATE_SUCCESS,
            DRInfoUtils::GetPhaseStatusForReplication(again.GetJobRestartHistory(),
                                                      Api::VIRTUAL_APP_PHASE_REPLICATION, m_infos[0].get()));
  EXPECT_EQ(0xFFFFFFFFu, static_cast<uint32_t>(DRInfoUtils::GetPhaseStatusForReplication(
                             again.GetJobRestartHistory(), Api::VIRTUAL_APP_PHASE_BACKUP, m_infos[0].get())));
}

TEST_F(PhaseRowsTest, RequestHoldsOneJobWithOnePhaseAndOnlyTheFieldsThePhaseHas) {
  SDataSourceInfo info;
  info.replId = 7;
  info.jobId = 5000000000LL;
  info.drGroupId = 3;
  SDRPhaseCtx phase(info.jobId, Api::VIRTUAL_APP_PHASE_CREATE_SNAPSHOT, Api::VIRTUAL_APP_PHASE_STATE_SUCCESS,
                    Api::DR_SITE_DESTINATION, true);
  phase.clientEntity.SetString(18, 48, "vm7");
  phase.clientEntity.SetString(24, 69, "");
  Api::VirtualAppJobUpdateReq req;
  ASSERT_TRUE(DRInfoUtils::PopulateVAppJobUpdateReq(info, phase, req));
  ASSERT_EQ(1u, req.ListSize(1, 1));
  const CNMessageBase& job = req.GetListMsg(1, 1, 0);
  EXPECT_EQ(5000000000LL, job.GetInt64(6));
  EXPECT_EQ(3, job.GetMsg(2, 2).GetInt32(0));
  ASSERT_EQ(1u, job.ListSize(5, 5));
  Api::VirtualAppPhaseInfo phaseInfo;
  ASSERT_TRUE(phaseInfo.Unserialize(job.GetListMsg(5, 5, 0).GetString(3, 3)));
  const CNMessageBase& entity = phaseInfo.GetListMsg(1, 1, 0).GetMsg(5, 5);
  EXPECT_EQ("vm7", entity.GetString(18, 48));
  EXPECT_FALSE(entity.Has(24));
  EXPECT_FALSE(entity.Has(23));
  EXPECT_EQ(0, phaseInfo.GetListMsg(1, 1, 0).GetInt32(2));  // no job operation for snapshots
}

TEST_F(PhaseRowsTest, FailedRowWriteIsLoggedAndDoesNotStopTheRecord) {
  Make({41});
  App_ExecuteSP::RegisterHandler(CPhaseRowProcedure::kRequestType,
                                 [](const std::string&, std::string&) { return -1; });
  SDRPhaseCtx done(kJob, Api::VIRTUAL_APP_PHASE_BACKUP, Api::VIRTUAL_APP_PHASE_STATE_SUCCESS, Api::DR_SITE_SOURCE,
                   true);
  m_infos[0]->UpdatePhase(done);
  EXPECT_TRUE(Logged("Error executing stored procedure App_VirtualAppJobStats"));
  EXPECT_EQ(30, m_infos[0]->GetPercentageComplete());
  EXPECT_TRUE(PhaseRows().empty());
}

TEST_F(PhaseRowsTest, BackupPhaseCarriesItsJobOperationType) {
  SDataSourceInfo info;
  info.replId = 7;
  SDRPhaseCtx phase(11, Api::VIRTUAL_APP_PHASE_BACKUP, Api::VIRTUAL_APP_PHASE_STATE_SUCCESS, Api::DR_SITE_SOURCE,
                    true);
  phase.message = "done";
  Api::VirtualAppJobUpdateReq req;
  ASSERT_TRUE(DRInfoUtils::PopulateVAppJobUpdateReq(info, phase, req));
  const CNMessageBase& jobPhase = req.GetListMsg(1, 1, 0).GetListMsg(5, 5, 0);
  EXPECT_EQ(Api::VIRTUAL_APP_PHASE_BACKUP, jobPhase.GetInt32(1));
  Api::VirtualAppPhaseInfo phaseInfo;
  ASSERT_TRUE(phaseInfo.Unserialize(jobPhase.GetString(3, 3)));
  ASSERT_EQ(1u, phaseInfo.ListSize(1, 1));
  const CNMessageBase& jobInfo = phaseInfo.GetListMsg(1, 1, 0);
  EXPECT_EQ(4, jobInfo.GetInt32(2));
  EXPECT_EQ(11, jobInfo.GetInt64(4));
  EXPECT_EQ("done", jobInfo.GetMsg(3, 3).GetString(2, 2));
}

TEST_F(PhaseRowsTest, SourceWithoutDataManagerStaysButAnswersNothing) {
  StartJob(JobOptions(false));
  SDataSourceInfo info;
  info.jobId = kJob;
  info.infoSource = TMMsg::DR_OP_SOURCE_PHYSICAL_MACHINE;
  info.replIds = {41};
  info.replId = 41;
  {
    CDRDataSource source(info);
    EXPECT_FALSE(source.IsDataLoaded());
    EXPECT_EQ(nullptr, source.GetDataManager());
    EXPECT_TRUE(Logged("Error fetching ReplicationInfo object(s)"));
    EXPECT_EQ(nullptr, source.FetchReplData(info));
    EXPECT_FALSE(source.IsDRComplete(info));
    EXPECT_FALSE(source.UpdateStatus(info));
    EXPECT_FALSE(source.Init(TMMsg::DR_OP_SOURCE_PHYSICAL_MACHINE));
  }
  EXPECT_TRUE(Logged("Running CDRDataSource destructor"));
  EXPECT_TRUE(Logged("Cleaning up VSDRDataManager object"));
}

}  // namespace
