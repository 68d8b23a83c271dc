// A lab for the machine-record, phase-row, data-manager and priority-queue
// tests: stored VM replications, a DR job with its job manager, a DR group,
// and readers of the job's phase rows.
#pragma once

#include <sqlite3.h>

#include <memory>
#include <string>
#include <vector>

#include "drorch/DRJobManager.h"
#include "jobs/ZNDROrchestrationClnt.h"
#include "repl/ReplicationStore.h"
#include "services/ServicesTestSupport.h"

struct SPhaseRow {
  long long jobId = 0;
  int vappId = 0;
  int replicationId = 0;
  int phase = 0;
  int status = 0;
  int appTypeId = 0;
  std::string details;
  std::string failureReason;
};

class CDRRecordsTestBase : public CServicesTestBase {
 protected:
  static constexpr long long kJob = 5150;
  static constexpr int kGroup = 9;

  // A stored VM replication; destination vendor 0 fails the pre-checks.
  static App::VSAReplicationInfo Repl(int id, int destVendor = 1, const std::string& name = std::string(),
                                      int taskId = 0) {
    using Info = App::VSAReplicationInfo;
    Info info;
    info.SetInt32(Info::kReplicationId, id);
    info.SetString(Info::kSourceVMName, name.empty() ? "vm" + std::to_string(id) : name);
    info.SetString(Info::kSourceVMGuid, "src-guid-" + std::to_string(id));
    info.SetString(Info::kDestinationVMGuid, "dst-guid-" + std::to_string(id));
    info.SetString(Info::kDestinationVMName, "vm" + std::to_string(id) + "-DR");
    info.SetInt32(Info::kDestinationVendor, destVendor);
    info.SetInt32(Info::kSourceVendor, 1);
    if (taskId) info.MutableMsg(Info::kSubtask).SetInt32(ZnEntities::SubtaskEntity::kTaskId, taskId);
    return info;
  }
  static void StoreRepl(const App::VSAReplicationInfo& info, int taskId = 0) {
    ASSERT_TRUE(CReplicationStore::Put(info, taskId));
  }

  // A VM-sequence entry.
  static TMMsg::VMDependencyOrder Entry(int replId, int source = -1, const std::string& name = std::string()) {
    using Entry = TMMsg::VMDependencyOrder;
    Entry e;
    e.SetInt64(Entry::kReplicationId, replId);
    if (source >= 0) e.SetInt32(Entry::kInformationSource, source);
    e.MutableMsg(Entry::kVMEntity)
        .SetString(ZnEntities::VirtualMachineEntity::kName, name.empty() ? "vm" + std::to_string(replId) : name);
    return e;
  }
  static TMMsg::VMGroup Group(int priority, const std::vector<TMMsg::VMDependencyOrder>& entries, int delay = 0,
                              int cont = 1) {
    TMMsg::VMGroup g;
    g.SetInt32(TMMsg::VMGroup::kPriority, priority);
    g.SetInt32(TMMsg::VMGroup::kDelayMinutes, delay);
    g.SetInt32(TMMsg::VMGroup::kContinueOnFailure, cont);
    g.TouchField(TMMsg::VMGroup::kVMSequence);
    for (const TMMsg::VMDependencyOrder& e : entries) g.AppendMsg(TMMsg::VMGroup::kVMSequence, e);
    return g;
  }
  static void PutGroup(const std::vector<TMMsg::VMGroup>& groups) {
    Api::VirtualApp app;
    CNMessageBase& config = app.MutableMsg(Api::VirtualApp::kConfig);
    config.TouchField(TMMsg::DRGroupConfigFields::kPriorities);
    for (const TMMsg::VMGroup& g : groups) config.AppendMsg(TMMsg::DRGroupConfigFields::kPriorities, g);
    ASSERT_TRUE(CLabStore::PutDRGroup(kGroup, "group", Xml(app)));
  }

  // Options of a DR job; replication info only when replIds or a type is given.
  static TMMsg::JobOption JobOptions(bool monitor, const std::vector<int>& replIds = {}, int replType = 0,
                                     bool selective = false, int monitorType = 0) {
    TMMsg::JobOption options = MakeOptions(monitor ? 1 : 0, monitor ? 0 : kGroup);
    using ReplInfo = TMMsg::DRReplicationInfoFields;
    CNMessageBase& dr = options.MutableMsg(TMMsg::JobOption::kBackupOptions)
                            .MutableMsg(TMMsg::BackupOptionFields::kDROrchestrationOption);
    if (!replIds.empty() || replType || selective || monitorType) {
      CNMessageBase& info = dr.MutableMsg(TMMsg::DROrchestrationOption::kReplicationInfo);
      if (!replIds.empty())
        info.SetInt32List(ReplInfo::kReplicationIds, std::vector<int32_t>(replIds.begin(), replIds.end()));
      if (replType) info.SetInt32(ReplInfo::kReplicationType, replType);
      if (selective) info.SetInt32(ReplInfo::kSelectiveVMReplication, 1);
      if (monitorType)
        info.MutableMsg(ReplInfo::kMonitorEntity).SetInt32(ZnEntities::MonitorEntityFields::kMonitorType, monitorType);
    }
    return options;
  }

  // The DR job and its job manager.
  CDRJobManager& StartJob(const TMMsg::JobOption& options, const std::string& restart = "",
                          long long jobId = kJob) {
    CreateJob(jobId, Xml(options), restart);
    m_client.reset(new ZNDROrchestrationClnt(jobId));
    m_jm.reset(new CDRJobManager());
    EXPECT_TRUE(m_jm->Initialize(*m_client, 0, 2));
    return *m_jm;
  }

  // The stopped job jobId running again as its restart, with a job manager
  // of its own.
  CDRJobManager& RestartJob(long long jobId, const std::string& restart = "1") {
    EXPECT_EQ(EStoreResult::kOk, CJobStore::SetStatus(jobId, "Running", 0.0));
    EXPECT_EQ(EStoreResult::kOk, CJobStore::SetControlOperation(jobId, 0));
    EXPECT_EQ(EStoreResult::kOk, CJobStore::SetRestartString(jobId, restart));
    m_client.reset(new ZNDROrchestrationClnt(jobId));
    m_jm.reset(new CDRJobManager());
    EXPECT_TRUE(m_jm->Initialize(*m_client, 0, 2));
    EXPECT_TRUE(m_jm->IsJobRestarted());
    return *m_jm;
  }

  static std::vector<SPhaseRow> PhaseRows(long long jobId = kJob) {
    std::vector<SPhaseRow> rows;
    CDBConnection* c = CDBConnection::ForThread();
    if (!c || c->EnsureTable("App_VirtualAppJobStats") != DB_OK) return rows;
    sqlite3_stmt* s = c->Prepare(
        "SELECT jobId, vappId, replicationId, phase, status, appTypeId, details, failureReason FROM "
        "App_VirtualAppJobStats WHERE jobId = ? ORDER BY replicationId, phase");
    if (!s) return rows;
    sqlite3_bind_int64(s, 1, jobId);
    while (sqlite3_step(s) == SQLITE_ROW) {
      SPhaseRow r;
      r.jobId = sqlite3_column_int64(s, 0);
      r.vappId = sqlite3_column_int(s, 1);
      r.replicationId = sqlite3_column_int(s, 2);
      r.phase = sqlite3_column_int(s, 3);
      r.status = sqlite3_column_int(s, 4);
      r.appTypeId = sqlite3_column_int(s, 5);
      const unsigned char* d = sqlite3_column_text(s, 6);
      r.details = d ? reinterpret_cast<const char*>(d) : "";
      const unsigned char* f = sqlite3_column_text(s, 7);
      r.failureReason = f ? reinterpret_cast<const char*>(f) : "";
      rows.push_back(r);
    }
    c->Release(s);
    return rows;
  }

  std::unique_ptr<ZNDROrchestrationClnt> m_client;
  std::unique_ptr<CDRJobManager> m_jm;
};
