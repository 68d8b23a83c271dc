// Phase rows of one data source written from several DR worker threads.
#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "TestThread.h"
#include "engine/DRDataSource.h"
#include "engine/DRInfo.h"
#include "engine/SDRPriority.h"
#include "db/App_ExecuteSP.h"
#include "engine/DRRecordsTestSupport.h"
#include "jobs/PhaseRowProcedure.h"
#include "sim/Simulators.h"

namespace {

class PhaseRowsConcurrencyTest : public CDRRecordsTestBase {
 protected:
  void TearDown() override {
    CSimulators::Install();
    CDRRecordsTestBase::TearDown();
  }
};

TEST_F(PhaseRowsConcurrencyTest, EightThreadsOnOneDataSourceNeverInterleave) {
  const int kThreads = 8;
  std::vector<int> ids;
  for (int i = 0; i < kThreads; ++i) {
    ids.push_back(100 + i);
    StoreRepl(Repl(100 + i));
  }
  StartJob(JobOptions(false));
  SDataSourceInfo info;
  info.jobId = kJob;
  info.drGroupId = kGroup;
  info.replIds = ids;
  CDRDataSource source(info);
  ASSERT_TRUE(source.IsDataLoaded());
  SDRPriority priority;
  std::vector<std::unique_ptr<CDRInfo>> infos;
  for (int id : ids) {
    info.replId = id;
    SDRInfoCtx ctx(&source, info, priority);
    ctx.jobManager = m_jm.get();
    infos.emplace_back(new CDRInfo(ctx));
  }

  // The procedure notices a second request arriving while one runs.
  std::atomic<int> inFlight{0};
  std::atomic<int> overlaps{0};
  std::atomic<int> calls{0};
  App_ExecuteSP::RegisterHandler(Api::VirtualAppJobUpdateReq::kTypeId,
                                 [&](const std::string& request, std::string& response) {
                                   if (inFlight.fetch_add(1) != 0) ++overlaps;
                                   ++calls;
                                   int rc = CPhaseRowProcedure::Execute(request, response);
                                   inFlight.fetch_sub(1);
                                   return rc;
                                 });
  const std::string path = CDBConnection::Path();
  const Api::VirtualAppJobPhaseType phases[] = {Api::VIRTUAL_APP_PHASE_POWER_OFF, Api::VIRTUAL_APP_PHASE_BACKUP,
                                                Api::VIRTUAL_APP_PHASE_REPLICATION};
  std::vector<drtest::CTestThread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back(
        [&, t] {
          CDBConnection::SetPath(path);
          for (Api::VirtualAppJobPhaseType phase : phases) {
            SDRPhaseCtx running(kJob, phase, Api::VIRTUAL_APP_PHASE_STATE_IN_PROGRESS, Api::DR_SITE_SOURCE, true);
            infos[t]->UpdatePhase(running);
            SDRPhaseCtx done(kJob, phase, Api::VIRTUAL_APP_PHASE_STATE_SUCCESS, Api::DR_SITE_SOURCE, true);
            infos[t]->UpdatePhase(done);
          }
          CDBConnection::CloseThreadConnections();
        },
        "phase writer " + std::to_string(t));
  }
  for (drtest::CTestThread& t : threads) ASSERT_TRUE(t.Join());

  EXPECT_EQ(0, overlaps.load());
  EXPECT_EQ(kThreads * 6, calls.load());
  std::vector<SPhaseRow> rows = PhaseRows();
  ASSERT_EQ(static_cast<size_t>(kThreads * 3), rows.size());
  for (const SPhaseRow& r : rows) EXPECT_EQ(0, r.status) << r.replicationId << ":" << r.phase;
  for (auto& info : infos) EXPECT_EQ(2 + 30 + 25, info->GetPercentageComplete());
}

}  // namespace
