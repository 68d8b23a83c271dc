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
    App::VSAReplicationInfo info;
    info.SetInt32(1, 1, id);
    info.SetString(4, 4, name.empty() ? "vm" + std::to_string(id) : name);
    info.SetString(3, 3, "src-guid-" + std::to_string(id));
    info.SetString(5, 5, "dst-guid-" + std::to_string(id));
    info.SetString(6, 6, "vm" + std::to_string(id) + "-DR");
    info.SetInt32(54, 54, destVendor);
    info.SetInt32(58, 58, 1);
    if (taskId) info.MutableMsg(9, 9).SetInt32(1, 1, taskId);
    return info;
  }
  static void StoreRepl(const App::VSAReplicationInfo& info, int taskId = 0) {
    ASSERT_TRUE(CReplicationStore::Put(info, taskId));
  }

  // A VM-sequence entry.
  static TMMsg::VMDependencyOrder Entry(int replId, int source = -1, const std::string& name = std::string()) {
    TMMsg::VMDependencyOrder e;
    e.SetInt64(9, 9, replId);
    if (source >= 0) e.SetInt32(10, 10, source);
    e.MutableMsg(1, 1).SetString(0, 0, name.empty() ? "vm" + std::to_string(replId) : name);
    return e;
  }
  static TMMsg::VMGroup Group(int priority, const std::vector<TMMsg::VMDependencyOrder>& entries, int delay = 0,
                              int cont = 1) {
    TMMsg::VMGroup g;
    g.SetInt32(1, 1, priority);
    g.SetInt32(2, 2, delay);
    g.SetInt32(3, 3, cont);
    g.TouchField(4, 4);
    for (const TMMsg::VMDependencyOrder& e : entries) g.AppendMsg(4, 4, e);
    return g;
  }
  static void PutGroup(const std::vector<TMMsg::VMGroup>& groups) {
    Api::VirtualApp app;
    CNMessageBase& config = app.MutableMsg(8, 11);
    config.TouchField(4, 7);
    for (const TMMsg::VMGroup& g : groups) config.AppendMsg(4, 7, g);
    ASSERT_TRUE(CLabStore::PutDRGroup(kGroup, "group", Xml(app)));
  }

  // Options of a DR job; replication info only when replIds or a type is given.
  static TMMsg::JobOption JobOptions(bool monitor, const std::vector<int>& replIds = {}, int replType = 0,
                                     bool selective = false, int monitorType = 0) {
    TMMsg::JobOption options = MakeOptions(monitor ? 1 : 0, monitor ? 0 : kGroup);
    CNMessageBase& dr = options.MutableMsg(3, 3).MutableMsg(32, 32);
    if (!replIds.empty() || replType || selective || monitorType) {
      CNMessageBase& info = dr.MutableMsg(3, 3);
      if (!replIds.empty()) info.SetInt32List(1, 1, std::vector<int32_t>(replIds.begin(), replIds.end()));
      if (replType) info.SetInt32(2, 2, replType);
      if (selective) info.SetInt32(6, 6, 1);
      if (monitorType) info.MutableMsg(3, 3).SetInt32(0, 0, monitorType);
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
