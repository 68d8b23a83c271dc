// A database lab for the application DR tests: drjob's sample (two Oracle
// replications, each of its own subclient, one replica-sync task, their
// clients, instances with Oracle homes and databases, sources running and
// destinations stopped, the subclients' storage policy); a DR job with a DR group of one
// priority of them, the job simulator running with its notices delivered in
// this process; and the engine either up to its machine records (for the
// context tests) or through Initialize and Run (end to end).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "AppReplTestSupport.h"
#include "JobSimTestSupport.h"
#include "appmgr/RemoteExecStore.h"
#include "drorch/DRChildJobDone.h"
#include "drorch/DRJobManager.h"
#include "engine/DRDataSource.h"
#include "engine/DRInfo.h"
#include "engine/DRRecordsTestSupport.h"
#include "engine/GenericDR.h"
#include "engine/SDRInfoCtx.h"
#include "engine/SDRPriority.h"
#include "engine/TestDRContext.h"
#include "sim/Simulators.h"

class CAppDRLabTestBase : public CDRRecordsTestBase {
 protected:
  void SetUp() override {
    CDRRecordsTestBase::SetUp();
    std::string error;
    ASSERT_TRUE(CSimulators::CreateTables(error)) << error;
    m_lab = CDatabaseLabSeed::Sample();
    ASSERT_TRUE(CDatabaseLabSeed::AddLab(m_lab));
    m_simulator.reset(new drtest::CScopedJobSimulator());
    CJobSimulator::SetInProcessDelivery(DRChildJobDone);
  }
  void TearDown() override {
    m_machines.clear();
    if (m_orchestrator != nullptr) IDROrchestrator::DeleteObject(m_orchestrator);
    m_orchestrator = nullptr;
    m_generic.reset();
    m_source.reset();
    m_jm.reset();
    m_simulator.reset();
    CDRRecordsTestBase::TearDown();
  }

  const drtest::SDBReplication& Replication(int id) const { return m_lab.replications.at(id - 1); }

  // The DR job of a planned failover and its DR group: one priority of the
  // replications, information source 2.
  void StartDRJob(const std::vector<int>& ids) {
    std::vector<TMMsg::VMDependencyOrder> entries;
    for (int id : ids) entries.push_back(Entry(id, TMMsg::DR_OP_SOURCE_DB_REPLICATION, "ORCL" + std::to_string(id)));
    PutGroup({Group(1, entries)});
    StartJob(JobOptions(false));
  }

  // The engine up to its machine records, without a run: an orchestrator
  // started as Initialize starts it, the data source of the replications and
  // one machine record each.
  void LoadMachines(const std::vector<int>& ids) {
    StartDRJob(ids);
    m_generic.reset(new CGenericDR(TMMsg::DR_ORCHESTRATION_PLANNED_FAILOVER));
    ASSERT_TRUE(CDRBaseTestPeer::StartUp(*m_generic, m_jm.get()));
    SDataSourceInfo info;
    info.jobId = kJob;
    info.drGroupId = kGroup;
    info.drType = TMMsg::DR_ORCHESTRATION_PLANNED_FAILOVER;
    info.infoSource = TMMsg::DR_OP_SOURCE_DB_REPLICATION;
    info.replIds = ids;
    info.jobManager = m_jm.get();
    m_source.reset(new CDRDataSource(info));
    ASSERT_TRUE(m_source->IsDataLoaded());
    m_priority.order = 1;
    m_priority.infoSource = TMMsg::DR_OP_SOURCE_DB_REPLICATION;
    m_priority.drGroupId = kGroup;
    m_priority.replIds = ids;
    m_machines = CDRBaseTestPeer::AddMachines(*m_generic, m_source.get(), info, m_priority, m_jm.get(), ids);
  }

  // A machine record without a data source (so without a replication
  // record or data manager).
  std::unique_ptr<CDRInfo> Orphan(int replId) {
    SDataSourceInfo info;
    info.replId = replId;
    SDRInfoCtx ctx(nullptr, info, m_priority);
    ctx.jobManager = m_jm.get();
    ctx.appManager = m_generic->GetDRAppMgr();
    return std::unique_ptr<CDRInfo>(new CDRInfo(ctx));
  }

  // The engine end to end, as the host runs it: the job's final state.
  int32_t RunFailover(const std::vector<int>& ids) {
    StartDRJob(ids);
    m_orchestrator = IDROrchestrator::CreateObject(TMMsg::DR_ORCHESTRATION_PLANNED_FAILOVER);
    EXPECT_NE(nullptr, m_orchestrator);
    if (m_orchestrator == nullptr) return -1;
    DRInitParams params{m_jm.get()};
    if (!m_orchestrator->Initialize(params)) {
      ADD_FAILURE() << "Initialize failed";
      return -1;
    }
    return m_orchestrator->Run();
  }

  // ---- what the run left ----
  static std::vector<SPhaseRow> RowsOf(int replicationId) {
    std::vector<SPhaseRow> out;
    for (const SPhaseRow& row : PhaseRows())
      if (row.replicationId == replicationId) out.push_back(row);
    return out;
  }
  // The replication's row of a phase; phase and status -1 when there is
  // none, so that no check of a state passes on a missing row.
  static SPhaseRow RowOf(int replicationId, int phase) {
    for (const SPhaseRow& row : RowsOf(replicationId))
      if (row.phase == phase) return row;
    SPhaseRow none;
    none.phase = -1;
    none.status = -1;
    return none;
  }
  static std::vector<SRemoteExecEntry> Journal(int clientId = 0) { return drtest::DBScriptsSent(clientId); }
  static std::vector<SChildJobRecord> JobsOf(EChildJobType type) { return drtest::ChildJobsOf(type); }
  static App::ReplicaSyncReplicationInfo Stored(int id) { return drtest::StoredDBReplication(id); }

  SSeedDBLab m_lab;
  std::unique_ptr<drtest::CScopedJobSimulator> m_simulator;
  std::unique_ptr<CGenericDR> m_generic;
  IDROrchestrator* m_orchestrator = nullptr;
  std::unique_ptr<CDRDataSource> m_source;
  SDRPriority m_priority;
  std::vector<CDRInfo*> m_machines;  // owned by the orchestrator
};
