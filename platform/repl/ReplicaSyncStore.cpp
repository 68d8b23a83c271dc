#include "repl/ReplicaSyncStore.h"

#include <stdlib.h>

#include "db/DBStatement.h"
#include "db/DBWriteScope.h"
#include "jobs/LabStore.h"
#include "log/EvEvent.h"
#include "msg/MsgMerge.h"
#include "repl/ReplicationSources.h"
#include "time/PlatformClock.h"

namespace {

using Info = App::ReplicaSyncReplicationInfo;

int CreateTable(CDBConnection& c) {
  return c.Exec(
      "CREATE TABLE IF NOT EXISTS APP_ReplicaSyncReplication (replicationId INTEGER PRIMARY KEY, taskId INTEGER NOT "
      "NULL DEFAULT 0, subclientId INTEGER NOT NULL DEFAULT 0, xml TEXT NOT NULL, created INTEGER NOT NULL DEFAULT 0, "
      "modified INTEGER NOT NULL DEFAULT 0);"
      "CREATE INDEX IF NOT EXISTS idx_APP_ReplicaSyncReplication_task ON APP_ReplicaSyncReplication (taskId);"
      "CREATE INDEX IF NOT EXISTS idx_APP_ReplicaSyncReplication_subclient ON APP_ReplicaSyncReplication (subclientId)");
}

CDBConnection* Ready(const char* function) { return DBStoreReady(function, CReplicaSyncStore::kTable, CreateTable); }

int TaskOf(const Info& info) {
  return info.Has(Info::kSubtask) ? info.GetMsg(Info::kSubtask).GetInt32(ZnEntities::SubtaskEntity::kTaskId) : 0;
}

int SubclientOf(const Info& info) {
  return info.Has(Info::kSourceEntity)
             ? info.GetMsg(Info::kSourceEntity).GetInt32(ZnEntities::SubClientEntity::kSubclientId)
             : 0;
}

std::string FaultKnob(int replicationId) { return "replicasync.fault." + std::to_string(replicationId); }

EStoreResult IdsOf(CDBStatement& s, std::vector<int>& out) {
  std::vector<int> ids;
  while (s.Next()) ids.push_back(static_cast<int>(s.Int(0)));
  if (!s.Ok() || s.Failed()) return EStoreResult::kFailed;
  out.swap(ids);
  return EStoreResult::kOk;
}

EStoreResult IdsWhere(const char* function, const char* column, int value, std::vector<int>& out) {
  CDBStatement s(Ready(function), function,
                 std::string("SELECT replicationId FROM APP_ReplicaSyncReplication WHERE ") + column +
                     " = ? ORDER BY replicationId");
  s.Bind(value);
  return IdsOf(s, out);
}

}  // namespace

bool CReplicaSyncStore::Create(const App::ReplicaSyncReplicationInfo& info) {
  if (!info.Has(Info::kReplicationId)) return false;
  std::string xml;
  if (!info.serializeUTF8(xml)) return false;
  CDBStatement s(Ready("Create"), "Create",
                 "INSERT INTO APP_ReplicaSyncReplication (replicationId, taskId, subclientId, xml, created, modified) "
                 "VALUES (?, ?, ?, ?, ?, 0)");
  s.Bind(info.GetInt32(Info::kReplicationId)).Bind(TaskOf(info)).Bind(SubclientOf(info)).Bind(xml);
  s.Bind(CPlatformClock::Instance().NowEpochSeconds());
  return s.Run() == EStoreResult::kOk;
}

EStoreResult CReplicaSyncStore::Find(int replicationId, App::ReplicaSyncReplicationInfo& out) {
  CDBStatement s(Ready("Find"), "Find", "SELECT xml FROM APP_ReplicaSyncReplication WHERE replicationId = ?");
  s.Bind(replicationId);
  if (!s.Next()) return s.Ok() && !s.Failed() ? EStoreResult::kMissing : EStoreResult::kFailed;
  Info info;
  std::string error;
  if (!info.Unserialize(s.Text(0), &error)) {
    EvDebug().Error("Find", "Stored replication [%d] does not read: [%s]", replicationId, error.c_str());
    return EStoreResult::kFailed;
  }
  out = info;
  return EStoreResult::kOk;
}

int CReplicaSyncStore::Merge(const App::ReplicaSyncReplicationInfo& partial, std::string& error) {
  if (!partial.Has(Info::kReplicationId)) {
    error = "Replication id not set";
    return 1;
  }
  const int id = partial.GetInt32(Info::kReplicationId);
  CDBConnection* c = Ready("Merge");
  if (c == nullptr) {
    error = "Management database not available";
    return 2;
  }
  CDBWriteScope scope(c);
  if (!scope.Ok()) {
    error = "Cannot start a write: " + c->LastErrorText();
    return 3;
  }
  Info stored;
  const EStoreResult read = Find(id, stored);
  if (read == EStoreResult::kMissing) {
    error = "Replication [" + std::to_string(id) + "] not found";
    return 4;
  }
  std::string xml;
  bool ok = read == EStoreResult::kOk;
  if (ok) {
    MsgMergeInto(partial, stored);
    ok = stored.serializeUTF8(xml);
  }
  if (ok) {
    CDBStatement s(c, "Merge",
                   "UPDATE APP_ReplicaSyncReplication SET taskId = ?, subclientId = ?, xml = ?, modified = ? WHERE "
                   "replicationId = ?");
    s.Bind(TaskOf(stored)).Bind(SubclientOf(stored)).Bind(xml).Bind(CPlatformClock::Instance().NowEpochSeconds());
    s.Bind(id);
    ok = s.Run() == EStoreResult::kOk;
  }
  if (!ok || !scope.Commit()) {
    error = "Failed to store replication [" + std::to_string(id) + "]: " + c->LastErrorText();
    return 5;
  }
  return 0;
}

EStoreResult CReplicaSyncStore::Ids(std::vector<int>& out) {
  CDBStatement s(Ready("Ids"), "Ids", "SELECT replicationId FROM APP_ReplicaSyncReplication ORDER BY replicationId");
  return IdsOf(s, out);
}

EStoreResult CReplicaSyncStore::IdsOfTask(int taskId, std::vector<int>& out) {
  return IdsWhere("IdsOfTask", "taskId", taskId, out);
}

EStoreResult CReplicaSyncStore::IdsOfSubclient(int subclientId, std::vector<int>& out) {
  return IdsWhere("IdsOfSubclient", "subclientId", subclientId, out);
}

bool CReplicaSyncStore::SetFault(int replicationId, EReplicaSyncFault fault, int field) {
  if (fault == EReplicaSyncFault::kNone) return CLabStore::ClearKnob(FaultKnob(replicationId));
  return CLabStore::SetKnob(FaultKnob(replicationId),
                            std::to_string(static_cast<int>(fault)) + ":" + std::to_string(field));
}

EReplicaSyncFault CReplicaSyncStore::Fault(int replicationId, int& field) {
  const std::string knob = CLabStore::GetKnob(FaultKnob(replicationId));
  field = 0;
  if (knob.empty()) return EReplicaSyncFault::kNone;
  const size_t colon = knob.find(':');
  if (colon != std::string::npos) field = atoi(knob.c_str() + colon + 1);
  return static_cast<EReplicaSyncFault>(atoi(knob.c_str()));
}

bool CReplicaSyncStore::CreateTables() { return Ready("CreateTables") != nullptr; }

namespace {

// A database replication as the replication sources name it. Its source
// client is left unknown: the backups' effects on a source client are those
// of a VM client.
EStoreResult Sourced(int replicationId, SSourcedReplication& out) {
  Info info;
  const EStoreResult read = CReplicaSyncStore::Find(replicationId, info);
  if (read != EStoreResult::kOk) return read;
  out = SSourcedReplication();
  out.replicationId = replicationId;
  out.sourceGuid = info.GetString(Info::kSourceGuid);
  out.failoverStatus = info.GetInt32(Info::kFailoverStatus);
  out.testFailoverStatus = info.GetInt32(Info::kTestFailoverStatus);
  return EStoreResult::kOk;
}

}  // namespace

void CReplicaSyncStore::Register() {
  CReplicationSources::Register(kSourceKind, CReplicationSources::FromIds(IdsOfTask, IdsOfSubclient, Sourced));
}
