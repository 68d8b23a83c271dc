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
  ASSERT_EQ(1u, info.ListSize(Api::VirtualAppPhaseInfo::kJobInfos));
  const CNMessageBase& job = info.GetListMsg(Api::VirtualAppPhaseInfo::kJobInfos, 0);
  EXPECT_EQ(kJob, job.GetInt64(Api::VirtualAppJobInfo::kJobId));
  EXPECT_EQ(4, job.GetInt32(Api::VirtualAppJobInfo::kOperationType));  // a backup phase carries job operation 4
  EXPECT_EQ("disk full", job.GetMsg(Api::VirtualAppJobInfo::kMessage).GetString(Api::GenericResp::kText));
  // The client name was filled from the replication record.
  EXPECT_EQ("vm41",
            job.GetMsg(Api::VirtualAppJobInfo::kClientEntity).GetString(ZnEntities::GenericEntity::kClientName));
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

// A restarted job answers its restart checks from its history indexed by
// replication: the same answers as a scan of the whole history, for
// replications with rows, with rows of other phases only, and with none.
TEST_F(PhaseRowsTest, TheRestartHistorysIndexAnswersAsTheWholeHistoryDoes) {
  Make({41, 42, 43, 44});
  const struct {
    size_t machine;
    Api::VirtualAppJobPhaseType phase;
    Api::VirtualAppPhaseState state;
    long long childJob;
  } kRows[] = {{0, Api::VIRTUAL_APP_PHASE_BACKUP, Api::VIRTUAL_APP_PHASE_STATE_SUCCESS, 5001},
               {0, Api::VIRTUAL_APP_PHASE_REPLICATION, Api::VIRTUAL_APP_PHASE_STATE_IN_PROGRESS, 6001},
               {1, Api::VIRTUAL_APP_PHASE_BACKUP, Api::VIRTUAL_APP_PHASE_STATE_FAILED, 5002},
               {1, Api::VIRTUAL_APP_PHASE_POWER_OFF, Api::VIRTUAL_APP_PHASE_STATE_SUCCESS, kJob},
               {2, Api::VIRTUAL_APP_PHASE_POWER_ON, Api::VIRTUAL_APP_PHASE_STATE_SUCCESS, kJob}};
  for (const auto& row : kRows) {
    SDRPhaseCtx phase(row.childJob, row.phase, row.state, Api::DR_SITE_SOURCE, true);
    m_infos[row.machine]->UpdatePhase(phase);
  }

  CDRJobManager again;
  ZNDROrchestrationClnt client(kJob);
  ASSERT_TRUE(again.Initialize(client, 0, 2));
  ASSERT_TRUE(again.IsJobRestarted());
  const Api::VirtualAppJobPhaseType kPhases[] = {Api::VIRTUAL_APP_PHASE_BACKUP, Api::VIRTUAL_APP_PHASE_REPLICATION,
                                                 Api::VIRTUAL_APP_PHASE_POWER_OFF, Api::VIRTUAL_APP_PHASE_POWER_ON};
  for (const std::unique_ptr<CDRInfo>& info : m_infos) {
    for (Api::VirtualAppJobPhaseType phase : kPhases) {
      SCOPED_TRACE("replication " + std::to_string(info->GetReplId()) + " phase " + std::to_string(phase));
      EXPECT_EQ(DRInfoUtils::GetPhaseStatusForReplication(again.GetJobRestartHistory(), phase, info.get()),
                DRInfoUtils::GetPhaseStatusForReplication(&again, phase, info.get()));
      long long scanned = -1, indexed = -1;
      again.GetJobIDForPhase(again.GetJobRestartHistory(), phase, info->GetReplId(), scanned);
      again.GetJobIDForPhase(phase, info->GetReplId(), indexed);
      EXPECT_EQ(scanned, indexed);
    }
  }
  // The answers name what was stored, not only agree.
  EXPECT_EQ(Api::VIRTUAL_APP_PHASE_STATE_SUCCESS,
            DRInfoUtils::GetPhaseStatusForReplication(&again, Api::VIRTUAL_APP_PHASE_BACKUP, m_infos[0].get()));
  long long backup = 0;
  again.GetJobIDForPhase(Api::VIRTUAL_APP_PHASE_BACKUP, 41, backup);
  EXPECT_EQ(5001, backup);
  EXPECT_TRUE(again.GetRestartHistoryOf(44).empty());
  EXPECT_EQ(0xFFFFFFFFu, static_cast<uint32_t>(DRInfoUtils::GetPhaseStatusForReplication(
                             &again, Api::VIRTUAL_APP_PHASE_BACKUP, m_infos[3].get())));
}

TEST_F(PhaseRowsTest, RequestHoldsOneJobWithOnePhaseAndOnlyTheFieldsThePhaseHas) {
  SDataSourceInfo info;
  info.replId = 7;
  info.jobId = 5000000000LL;
  info.drGroupId = 3;
  SDRPhaseCtx phase(info.jobId, Api::VIRTUAL_APP_PHASE_CREATE_SNAPSHOT, Api::VIRTUAL_APP_PHASE_STATE_SUCCESS,
                    Api::DR_SITE_DESTINATION, true);
  using Entity = ZnEntities::GenericEntity;
  phase.clientEntity.SetString(Entity::kClientName, "vm7");
  phase.clientEntity.SetString(Entity::kNewClientName, "");
  Api::VirtualAppJobUpdateReq req;
  ASSERT_TRUE(DRInfoUtils::PopulateVAppJobUpdateReq(info, phase, req));
  ASSERT_EQ(1u, req.ListSize(Api::VirtualAppJobUpdateReq::kJobs));
  const CNMessageBase& job = req.GetListMsg(Api::VirtualAppJobUpdateReq::kJobs, 0);
  EXPECT_EQ(5000000000LL, job.GetInt64(Api::VirtualAppJob::kJobId));
  EXPECT_EQ(3, job.GetMsg(Api::VirtualAppJob::kVirtualAppEntity).GetInt32(ZnEntities::VirtualAppEntity::kVirtualAppId));
  ASSERT_EQ(1u, job.ListSize(Api::VirtualAppJob::kPhases));
  Api::VirtualAppPhaseInfo phaseInfo;
  ASSERT_TRUE(phaseInfo.Unserialize(
      job.GetListMsg(Api::VirtualAppJob::kPhases, 0).GetString(Api::VirtualAppJobPhase::kPhaseInfoXml)));
  const CNMessageBase& jobInfo = phaseInfo.GetListMsg(Api::VirtualAppPhaseInfo::kJobInfos, 0);
  const CNMessageBase& entity = jobInfo.GetMsg(Api::VirtualAppJobInfo::kClientEntity);
  EXPECT_EQ("vm7", entity.GetString(Entity::kClientName));
  EXPECT_FALSE(entity.Has(Entity::kNewClientName));
  EXPECT_FALSE(entity.Has(Entity::kClientGuid));
  EXPECT_EQ(0, jobInfo.GetInt32(Api::VirtualAppJobInfo::kOperationType));  // no job operation for snapshots
}

TEST_F(PhaseRowsTest, FailedRowWriteIsLoggedAndDoesNotStopTheRecord) {
  Make({41});
  App_ExecuteSP::RegisterHandler(Api::VirtualAppJobUpdateReq::kTypeId,
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
  const CNMessageBase& jobPhase =
      req.GetListMsg(Api::VirtualAppJobUpdateReq::kJobs, 0).GetListMsg(Api::VirtualAppJob::kPhases, 0);
  EXPECT_EQ(Api::VIRTUAL_APP_PHASE_BACKUP, jobPhase.GetInt32(Api::VirtualAppJobPhase::kPhaseType));
  Api::VirtualAppPhaseInfo phaseInfo;
  ASSERT_TRUE(phaseInfo.Unserialize(jobPhase.GetString(Api::VirtualAppJobPhase::kPhaseInfoXml)));
  ASSERT_EQ(1u, phaseInfo.ListSize(Api::VirtualAppPhaseInfo::kJobInfos));
  const CNMessageBase& jobInfo = phaseInfo.GetListMsg(Api::VirtualAppPhaseInfo::kJobInfos, 0);
  EXPECT_EQ(4, jobInfo.GetInt32(Api::VirtualAppJobInfo::kOperationType));
  EXPECT_EQ(11, jobInfo.GetInt64(Api::VirtualAppJobInfo::kJobId));
  EXPECT_EQ("done", jobInfo.GetMsg(Api::VirtualAppJobInfo::kMessage).GetString(Api::GenericResp::kText));
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
