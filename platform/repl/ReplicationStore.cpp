#include "repl/ReplicationStore.h"

#include <sqlite3.h>
#include <stdlib.h>

#include "db/DBConnection.h"
#include "db/DBWriteScope.h"
#include "jobs/StandIns.h"
#include "log/EvEvent.h"
#include "msg/MsgMerge.h"
#include "repl/ReplicationSources.h"
#include "time/PlatformClock.h"
#include "xmlreq/XMLHandler.h"

namespace {

const char* kReplTable = CReplicationStore::kTables[0];
const char* kPropTable = CReplicationStore::kTables[1];
const char* kMsgSchema =
    "CREATE TABLE IF NOT EXISTS PLT_VSAReplicationMsg (replicationId INTEGER PRIMARY KEY, xml TEXT)";

using Repl = App::VSAReplicationInfo;
using Property = App::VSAReplicationProperties;

std::string Text(sqlite3_stmt* s, int col) {
  const unsigned char* t = sqlite3_column_text(s, col);
  return t ? reinterpret_cast<const char*>(t) : "";
}

int CreateTables(CDBConnection& c) {
  int rc = c.EnsureTable(kReplTable);
  if (rc == DB_OK) rc = c.EnsureTable(kPropTable);
  if (rc == DB_OK) rc = c.Exec(kMsgSchema);
  return rc;
}

// The calling thread's connection with the replication tables in place.
CDBConnection* Ready() {
  CDBConnection* c = CDBConnection::ForThread();
  if (!c || c->EnsureSchema("PLT_VSAReplicationMsg", CreateTables) != DB_OK) return nullptr;
  return c;
}

int Step(CDBConnection* c, const std::string& sql, const std::vector<std::string>& texts,
         const std::vector<long long>& numbers, bool textsFirst = true) {
  sqlite3_stmt* s = c->Prepare(sql);
  if (!s) return SQLITE_ERROR;
  int i = 1;
  auto bindTexts = [&] {
    for (const std::string& t : texts) sqlite3_bind_text(s, i++, t.c_str(), -1, SQLITE_TRANSIENT);
  };
  auto bindNumbers = [&] {
    for (long long n : numbers) sqlite3_bind_int64(s, i++, n);
  };
  if (textsFirst) {
    bindTexts();
    bindNumbers();
  } else {
    bindNumbers();
    bindTexts();
  }
  int rc = sqlite3_step(s);
  c->Release(s);
  return rc;
}

// A read or write of a replication that failed: logged, and told apart from
// a replication that is not there.
EStoreResult Failed(const char* function, CDBConnection* c, int id) {
  EvDebug().Error(function, "Cannot reach replication [%d]: [%s]", id,
                  c != nullptr ? c->LastErrorText().c_str() : "no database");
  return EStoreResult::kFailed;
}

bool Exists(CDBConnection* c, int id) {
  sqlite3_stmt* s = c->Prepare("SELECT 1 FROM APP_VSAReplication WHERE replicationId = ?");
  if (!s) return false;
  sqlite3_bind_int(s, 1, id);
  bool found = sqlite3_step(s) == SQLITE_ROW;
  c->Release(s);
  return found;
}

bool ReadStoredMessage(CDBConnection* c, int id, App::VSAReplicationInfo& out) {
  sqlite3_stmt* s = c->Prepare("SELECT xml FROM PLT_VSAReplicationMsg WHERE replicationId = ?");
  if (!s) return false;
  sqlite3_bind_int(s, 1, id);
  std::string xml;
  if (sqlite3_step(s) == SQLITE_ROW) xml = Text(s, 0);
  c->Release(s);
  if (!xml.empty() && !out.Unserialize(xml)) return false;
  return true;
}

bool WriteStoredMessage(CDBConnection* c, int id, const App::VSAReplicationInfo& msg) {
  std::string xml;
  if (!msg.serializeUTF8(xml)) return false;
  return Step(c, "INSERT OR REPLACE INTO PLT_VSAReplicationMsg (xml, replicationId) VALUES (?, ?)", {xml}, {id}) ==
         SQLITE_DONE;
}

// Updates every property row of the id, or adds one.
bool MergeProperty(CDBConnection* c, int replId, int propId, const std::string& value, long long now) {
  if (Step(c, "UPDATE APP_VSAReplicationProp SET propertyValue = ?, modified = ? WHERE replicationId = ? AND "
              "propertyTypeId = ?",
           {value}, {now, replId, propId}) != SQLITE_DONE) {
    return false;
  }
  if (sqlite3_changes(c->Handle()) > 0) return true;
  return Step(c, "INSERT INTO APP_VSAReplicationProp (propertyValue, replicationId, propertyTypeId, created, "
                 "modified) VALUES (?, ?, ?, ?, 0)",
              {value}, {replId, propId, now}) == SQLITE_DONE;
}

bool UpdateColumn(CDBConnection* c, const char* column, int id, const std::string* text, long long number) {
  std::string sql = std::string("UPDATE APP_VSAReplication SET \"") + column + "\" = ? WHERE replicationId = ?";
  sqlite3_stmt* s = c->Prepare(sql);
  if (!s) return false;
  if (text) {
    sqlite3_bind_text(s, 1, text->c_str(), -1, SQLITE_TRANSIENT);
  } else {
    sqlite3_bind_int64(s, 1, number);
  }
  sqlite3_bind_int(s, 2, id);
  int rc = sqlite3_step(s);
  c->Release(s);
  return rc == SQLITE_DONE;
}

// Writes the column-backed fields the message holds.
bool WriteColumns(CDBConnection* c, int id, const App::VSAReplicationInfo& m) {
  struct SText {
    SMsgField field;
    const char* column;
  };
  static const SText kTexts[] = {{Repl::kReplicationGuid, "replicationGuid"},
                                 {Repl::kSourceVMGuid, "sourceGuid"},
                                 {Repl::kSourceVMName, "sourceName"},
                                 {Repl::kDestinationVMGuid, "destinationGuid"},
                                 {Repl::kDestinationVMName, "destinationName"}};
  for (const SText& t : kTexts) {
    if (!m.Has(t.field)) continue;
    const std::string& v = m.GetString(t.field);
    if (!UpdateColumn(c, t.column, id, &v, 0)) return false;
  }
  struct SNumber {
    SMsgField field;
    const char* column;
  };
  static const SNumber kNumbers[] = {{Repl::kLastRestoreTime, "lastRestoreTime"},
                                     {Repl::kSyncStatus, "status"},
                                     {Repl::kFlags, "flags"},
                                     {Repl::kVMSyncedTillTime, "VMSyncedTillTime"},
                                     {Repl::kFailoverStatus, "FailoverStatus"},
                                     {Repl::kLastSyncedBackupJobId, "lastSyncedBkpJob"}};
  for (const SNumber& n : kNumbers) {
    if (!m.Has(n.field)) continue;
    if (!UpdateColumn(c, n.column, id, nullptr, m.GetInt64(n.field))) return false;
  }
  // The subclient has a column of its own: the job manager finds a
  // subclient's VMs by it.
  const CNMessageBase& subclient = m.GetMsg(Repl::kSubclient);
  if (m.Has(Repl::kSubclient) && subclient.Has(ZnEntities::SubClientEntity::kSubclientId)) {
    if (!UpdateColumn(c, "subclientId", id, nullptr, subclient.GetInt32(ZnEntities::SubClientEntity::kSubclientId))) {
      return false;
    }
  }
  const CNMessageBase& subtask = m.GetMsg(Repl::kSubtask);
  if (m.Has(Repl::kSubtask) && subtask.Has(ZnEntities::SubtaskEntity::kTaskId)) {
    if (!UpdateColumn(c, "taskId", id, nullptr, subtask.GetInt32(ZnEntities::SubtaskEntity::kTaskId))) return false;
  }
  return true;
}

// A partial of nothing but fields a read takes from their columns whatever
// the stored message holds (a status, a time, a name): the stored message
// need not be read and written again for it, which every one-field status
// store would otherwise do inside the data manager's write section.
bool OnlyColumns(const App::VSAReplicationInfo& partial) {
  static const SMsgField kReadFromColumns[] = {
      Repl::kReplicationId,    Repl::kReplicationGuid, Repl::kSourceVMGuid, Repl::kSourceVMName,
      Repl::kDestinationVMGuid, Repl::kDestinationVMName, Repl::kLastRestoreTime, Repl::kSyncStatus,
      Repl::kFlags,            Repl::kVMSyncedTillTime, Repl::kFailoverStatus, Repl::kProperties};
  App::VSAReplicationInfo rest(partial);
  for (const SMsgField& f : kReadFromColumns) rest.ClearField(f);
  return rest.FieldCount() == 0;
}

}  // namespace

bool CReplicationStore::Put(const App::VSAReplicationInfo& info, int taskId) {
  if (!info.Has(Repl::kReplicationId)) return false;
  const int id = info.GetInt32(Repl::kReplicationId);
  CDBConnection* c = Ready();
  if (!c) return false;
  CDBWriteScope scope(c);
  if (!scope.Ok()) return false;
  const long long now = CPlatformClock::Instance().NowEpochSeconds();
  if (Step(c, "DELETE FROM APP_VSAReplication WHERE replicationId = ?", {}, {id}) != SQLITE_DONE) return false;
  if (Step(c, "DELETE FROM APP_VSAReplicationProp WHERE replicationId = ?", {}, {id}) != SQLITE_DONE) return false;
  if (Step(c, "INSERT INTO APP_VSAReplication (replicationId, taskId, created, modified) VALUES (?, ?, ?, 0)", {},
           {id, taskId, now}) != SQLITE_DONE) {
    return false;
  }
  if (!WriteColumns(c, id, info)) return false;
  for (size_t i = 0; i < info.ListSize(Repl::kProperties); ++i) {
    const CNMessageBase& p = info.GetListMsg(Repl::kProperties, i);
    if (Step(c, "INSERT INTO APP_VSAReplicationProp (propertyValue, replicationId, propertyTypeId, created, "
                "modified) VALUES (?, ?, ?, ?, 0)",
             {p.GetString(Property::kValue)}, {id, p.GetInt32(Property::kPropertyId), now}) != SQLITE_DONE) {
      return false;
    }
  }
  App::VSAReplicationInfo stored(info);
  stored.ClearField(Repl::kProperties);
  if (!WriteStoredMessage(c, id, stored)) return false;
  return scope.Commit();
}

std::string CReplicationStore::PropertyOf(const App::VSAReplicationInfo& info, int propertyId) {
  for (size_t i = 0; i < info.ListSize(App::VSAReplicationInfo::kProperties); ++i) {
    const CNMessageBase& p = info.GetListMsg(App::VSAReplicationInfo::kProperties, i);
    if (p.GetInt32(App::VSAReplicationProperties::kPropertyId) == propertyId) {
      return p.GetString(App::VSAReplicationProperties::kValue);
    }
  }
  return std::string();
}

bool CReplicationStore::Get(int replicationId, App::VSAReplicationInfo& out) {
  return Find(replicationId, out) == EStoreResult::kOk;
}

EStoreResult CReplicationStore::Find(int replicationId, App::VSAReplicationInfo& out) {
  CDBConnection* c = Ready();
  if (!c) return Failed("Find", c, replicationId);
  sqlite3_stmt* s = c->Prepare(
      "SELECT replicationGuid, sourceGuid, sourceName, destinationGuid, destinationName, lastRestoreTime, taskId, "
      "status, flags, VMSyncedTillTime, FailoverStatus, lastSyncedBkpJob FROM APP_VSAReplication WHERE "
      "replicationId = ?");
  if (!s) return Failed("Find", c, replicationId);
  sqlite3_bind_int(s, 1, replicationId);
  const int found = sqlite3_step(s);
  if (found != SQLITE_ROW) {
    c->Release(s);
    if (found == SQLITE_DONE) return EStoreResult::kMissing;
    c->MapError(found);
    return Failed("Find", c, replicationId);
  }
  App::VSAReplicationInfo msg;
  std::string texts[5];
  for (int i = 0; i < 5; ++i) texts[i] = Text(s, i);
  long long restore = sqlite3_column_int64(s, 5);
  int taskId = sqlite3_column_int(s, 6);
  int status = sqlite3_column_int(s, 7);
  int flags = sqlite3_column_int(s, 8);
  long long syncedTill = sqlite3_column_int64(s, 9);
  int failover = sqlite3_column_int(s, 10);
  long long lastJob = sqlite3_column_int64(s, 11);
  c->Release(s);

  if (!ReadStoredMessage(c, replicationId, msg)) return Failed("Find", c, replicationId);
  msg.SetInt32(Repl::kReplicationId, replicationId);
  msg.SetString(Repl::kReplicationGuid, texts[0]);
  msg.SetString(Repl::kSourceVMGuid, texts[1]);
  msg.SetString(Repl::kSourceVMName, texts[2]);
  msg.SetString(Repl::kDestinationVMGuid, texts[3]);
  msg.SetString(Repl::kDestinationVMName, texts[4]);
  msg.SetInt64(Repl::kLastRestoreTime, restore);
  msg.SetInt32(Repl::kSyncStatus, status);
  msg.SetInt32(Repl::kFlags, flags);
  msg.SetInt64(Repl::kVMSyncedTillTime, syncedTill);
  msg.SetInt32(Repl::kFailoverStatus, failover);
  if (lastJob != 0) msg.SetInt64(Repl::kLastSyncedBackupJobId, lastJob);
  if (taskId != 0) msg.MutableMsg(Repl::kSubtask).SetInt32(ZnEntities::SubtaskEntity::kTaskId, taskId);

  msg.ClearField(Repl::kProperties);
  s = c->Prepare(
      "SELECT propertyTypeId, propertyValue FROM APP_VSAReplicationProp WHERE replicationId = ? ORDER BY id");
  if (!s) return Failed("Find", c, replicationId);
  sqlite3_bind_int(s, 1, replicationId);
  int rc = SQLITE_ROW;
  while ((rc = sqlite3_step(s)) == SQLITE_ROW) {
    CNMessageBase& p = msg.AddMsg(Repl::kProperties);
    p.SetInt32(Property::kPropertyId, sqlite3_column_int(s, 0));
    p.SetString(Property::kValue, Text(s, 1));
  }
  c->Release(s);
  if (rc != SQLITE_DONE) {
    c->MapError(rc);
    return Failed("Find", c, replicationId);
  }
  out = msg;
  return EStoreResult::kOk;
}

EStoreResult CReplicationStore::Remove(int replicationId) {
  CDBConnection* c = Ready();
  if (!c) return Failed("Remove", c, replicationId);
  CDBWriteScope scope(c);
  if (!scope.Ok()) return Failed("Remove", c, replicationId);
  if (Step(c, "DELETE FROM APP_VSAReplication WHERE replicationId = ?", {}, {replicationId}) != SQLITE_DONE) {
    return Failed("Remove", c, replicationId);
  }
  const bool existed = sqlite3_changes(c->Handle()) > 0;
  if (Step(c, "DELETE FROM APP_VSAReplicationProp WHERE replicationId = ?", {}, {replicationId}) != SQLITE_DONE ||
      Step(c, "DELETE FROM PLT_VSAReplicationMsg WHERE replicationId = ?", {}, {replicationId}) != SQLITE_DONE ||
      !scope.Commit()) {
    return Failed("Remove", c, replicationId);
  }
  return existed ? EStoreResult::kOk : EStoreResult::kMissing;
}

int CReplicationStore::Merge(const App::VSAReplicationInfo& partial, std::string& error) {
  if (!partial.Has(Repl::kReplicationId)) {
    error = "Replication id not set";
    return 1;
  }
  const int id = partial.GetInt32(Repl::kReplicationId);
  if (CStandIns::TakeFailure(CStandIns::kReplicationMerge)) {
    error = "Injected failure of the replication store";
    return 5;
  }
  CDBConnection* c = Ready();
  if (!c) {
    error = "Management database not available";
    return 2;
  }
  CDBWriteScope scope(c);
  if (!scope.Ok()) {
    error = "Cannot start a write: " + c->LastErrorText();
    return 3;
  }
  if (!Exists(c, id)) {
    error = "Replication [" + std::to_string(id) + "] not found";
    return 4;
  }
  const long long now = CPlatformClock::Instance().NowEpochSeconds();
  bool ok = WriteColumns(c, id, partial) && UpdateColumn(c, "modified", id, nullptr, now);
  for (size_t i = 0; ok && i < partial.ListSize(Repl::kProperties); ++i) {
    const CNMessageBase& p = partial.GetListMsg(Repl::kProperties, i);
    ok = MergeProperty(c, id, p.GetInt32(Property::kPropertyId), p.GetString(Property::kValue), now);
  }
  if (ok && !OnlyColumns(partial)) {
    App::VSAReplicationInfo stored;
    ok = ReadStoredMessage(c, id, stored);
    if (ok) {
      MsgMergeInto(partial, stored, Repl::kProperties.a);
      ok = WriteStoredMessage(c, id, stored);
    }
  }
  if (!ok || !scope.Commit()) {
    error = "Failed to store replication [" + std::to_string(id) + "]: " + c->LastErrorText();
    return 5;
  }
  return 0;
}

namespace {

// Ids of the replications whose integer column equals value, in id order.
EStoreResult IdsWhere(const char* function, const char* column, int value, std::vector<int>& out) {
  CDBConnection* c = Ready();
  const std::string sql =
      std::string("SELECT replicationId FROM APP_VSAReplication WHERE ") + column + " = ? ORDER BY replicationId";
  sqlite3_stmt* s = c ? c->Prepare(sql) : nullptr;
  if (!s) {
    EvDebug().Error(function, "Cannot read the replications of [%s] [%d]: [%s]", column, value,
                    c ? c->LastErrorText().c_str() : "no database");
    return EStoreResult::kFailed;
  }
  sqlite3_bind_int(s, 1, value);
  std::vector<int> ids;
  int rc = SQLITE_ROW;
  while ((rc = sqlite3_step(s)) == SQLITE_ROW) ids.push_back(sqlite3_column_int(s, 0));
  c->Release(s);
  if (rc != SQLITE_DONE) {
    c->MapError(rc);
    EvDebug().Error(function, "Cannot read the replications of [%s] [%d]: [%s]", column, value,
                    c->LastErrorText().c_str());
    return EStoreResult::kFailed;
  }
  out.swap(ids);
  return EStoreResult::kOk;
}

}  // namespace

std::vector<int> CReplicationStore::IdsOfTask(int taskId) {
  std::vector<int> ids;
  IdsOfTask(taskId, ids);
  return ids;
}

EStoreResult CReplicationStore::IdsOfTask(int taskId, std::vector<int>& out) {
  return IdsWhere("IdsOfTask", "taskId", taskId, out);
}

EStoreResult CReplicationStore::IdsOfSubclient(int subclientId, std::vector<int>& out) {
  return IdsWhere("IdsOfSubclient", "subclientId", subclientId, out);
}

int CReplicationStore::HandleGetReplications(int, std::string& xml, std::string& error) {
  App::GetVSAReplicationReq req;
  if (!req.Unserialize(xml, &error)) return -1;
  App::GetVSAReplicationResp resp;
  resp.TouchField(App::GetVSAReplicationResp::kReplications);
  for (size_t i = 0; i < req.ListSize(App::GetVSAReplicationReq::kReplicationIds); ++i) {
    App::VSAReplicationInfo info;
    if (Get(req.GetListInt32(App::GetVSAReplicationReq::kReplicationIds, i), info)) {
      resp.AppendMsg(App::GetVSAReplicationResp::kReplications, info);
    }
  }
  if (!resp.serializeUTF8(xml)) {
    error = "Failed to write the replication reply";
    return -1;
  }
  return 0;
}

bool CReplicationStore::CreateTables() { return Ready() != nullptr; }

namespace {

// A VM replication as the replication sources name it.
EStoreResult Sourced(int replicationId, SSourcedReplication& out) {
  Repl info;
  const EStoreResult read = CReplicationStore::Find(replicationId, info);
  if (read != EStoreResult::kOk) return read;
  out = SSourcedReplication();
  out.replicationId = replicationId;
  out.sourceGuid = info.GetString(Repl::kSourceVMGuid);
  out.failoverStatus = info.GetInt32(Repl::kFailoverStatus);
  out.syncStatus = info.GetInt32(Repl::kSyncStatus);
  for (size_t i = 0; i < info.ListSize(Repl::kProperties); ++i) {
    const CNMessageBase& p = info.GetListMsg(Repl::kProperties, i);
    if (p.GetInt32(Property::kPropertyId) == CReplicationStore::kPropSourceVMClientId) {
      out.sourceClientId = atoi(p.GetString(Property::kValue).c_str());
    }
  }
  return EStoreResult::kOk;
}

}  // namespace

void CReplicationStore::Register() {
  XMLHandler::RegisterHandler(App::GetVSAReplicationReq::kTypeId, HandleGetReplications);
  ReplicationIdsLookup ofTask = [](int taskId, std::vector<int>& ids) { return IdsOfTask(taskId, ids); };
  CReplicationSources::Register(kSourceKind, CReplicationSources::FromIds(ofTask, IdsOfSubclient, Sourced));
}

namespace {

const SDBColumnBind kReplColumns[] = {
    {"replicationId", "i", 0}, {"replicationGuid", "s256", 0}, {"sourceGuid", "s256", 0}, {"sourceName", "s", 0},
    {"destinationGuid", "s256", 0}, {"destinationName", "s", 0}, {"lastRestoreTime", "x", 0},
    {"lastBackupTime", "x", 0}, {"taskId", "i", 0}, {"subclientId", "i", 0}, {"powerOn", "b", 0},
    {"options", "s", 0}, {"spare1", "s", 0}, {"spare2", "s", 0}, {"spare3", "s", 0}, {"created", "x", 0},
    {"modified", "x", 0}, {"flags", "i", 0}, {"status", "i", 0}, {"backupsetId", "i", 0},
    {"lastSyncedBkpJob", "i", 0}, {"VMSyncedTillTime", "i", 0}, {"BkpJobsToSync", "s", 0},
    {"ValidationFailCount", "i", 0}, {"FailoverStatus", "i", 0},
};

const SDBColumnBind kPropColumns[] = {
    {"id", "i", 0}, {"replicationId", "i", 0}, {"propertyTypeId", "i", 0}, {"propertyValue", "s", 0},
    {"created", "x", 0}, {"modified", "x", 0},
};

}  // namespace

void CReplicationStore::DescribeTables() {
  CDBConnection::RegisterTable(kTables[0], kReplColumns, "replicationId");
  CDBConnection::RegisterTable(kTables[1], kPropColumns, "id");
  CDBConnection::RegisterIndex(kTables[0], "taskId");
  CDBConnection::RegisterIndex(kTables[0], "subclientId");
  CDBConnection::RegisterIndex(kTables[1], "replicationId, propertyTypeId");
}
