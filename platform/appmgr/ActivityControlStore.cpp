#include "appmgr/ActivityControlStore.h"

#include <sqlite3.h>

#include "db/DBConnection.h"
#include "db/DBWriteScope.h"
#include "jobs/StandIns.h"
#include "log/EvEvent.h"
#include "msg/MsgClasses.h"
#include "time/PlatformClock.h"

namespace {

const char* kSchema =
    "CREATE TABLE IF NOT EXISTS PLT_ActivityControl (id INTEGER PRIMARY KEY, userId INTEGER, clientId INTEGER,"
    " entityKind INTEGER, activityType INTEGER, enabled INTEGER, enableAfterDelay INTEGER, activationTime INTEGER,"
    " timeZoneId INTEGER, recorded INTEGER)";

CDBConnection* Ready() {
  CDBConnection* c = CDBConnection::ForThread();
  if (c != nullptr &&
      c->EnsureSchema(CActivityControlStore::kTable, [](CDBConnection& db) { return db.Exec(kSchema); }) == DB_OK) {
    return c;
  }
  EvDebug().Error("CActivityControlStore", "Cannot reach table [%s]: [%s]", CActivityControlStore::kTable,
                  c != nullptr ? c->LastErrorText().c_str() : "no database");
  return nullptr;
}

int SetActivityControl(const std::vector<SDBProcValue>& inputs, SStandInAnswer& answer) {
  App::EntityActivityControl request;
  std::string error;
  if (inputs.size() < 2 || inputs[1].isNull || !request.Unserialize(inputs[1].text, &error)) {
    answer.message = "activity control request not readable: " + error;
    return -1;
  }
  const CNMessageBase& entity = request.GetMsg(App::EntityActivityControl::kEntity);
  SActivityControlRecord record;
  record.userId = static_cast<int>(inputs[0].AsInt());
  record.clientId = entity.GetInt64(ZnEntities::GenericEntity::kClientId);
  record.entityKind = entity.GetInt32(ZnEntities::GenericEntity::kEntityKind);
  if (record.clientId <= 0) {
    answer.errorCode = 2;
    answer.message = "The request names no client";
    return 0;
  }
  CDBConnection* c = Ready();
  bool stored = c != nullptr;
  if (stored) {
    // Every option of the request or none.
    CDBWriteScope scope(c);
    stored = scope.Ok();
    for (size_t i = 0; stored && i < request.ListSize(App::EntityActivityControl::kOptions); ++i) {
      const CNMessageBase& option = request.GetListMsg(App::EntityActivityControl::kOptions, i);
      const CNMessageBase& time = option.GetMsg(App::ActivityControlOptions::kEnableTime);
      record.activityType = option.GetInt32(App::ActivityControlOptions::kActivityType);
      record.enabled = option.GetInt32(App::ActivityControlOptions::kEnabled);
      record.enableAfterDelay = option.GetInt32(App::ActivityControlOptions::kEnableAfterDelay);
      record.activationTime = time.GetInt32(ZnEntities::TimeEntityFields::kTime);
      record.timeZoneId = time.GetInt32(ZnEntities::TimeEntityFields::kTimeZoneId);
      stored = CActivityControlStore::Add(record);
    }
    stored = stored && scope.Commit();
  }
  if (!stored) {
    answer.errorCode = 1;
    answer.message = "Cannot record the activity control of client [" + std::to_string(record.clientId) + "]";
  }
  return 0;
}

}  // namespace

bool CActivityControlStore::Add(const SActivityControlRecord& r) {
  CDBConnection* c = Ready();
  if (c == nullptr) return false;
  sqlite3_stmt* s = c->Prepare(
      "INSERT INTO PLT_ActivityControl (userId, clientId, entityKind, activityType, enabled, enableAfterDelay,"
      " activationTime, timeZoneId, recorded) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)");
  if (s == nullptr) return false;
  const long long values[] = {r.userId,         r.clientId,       r.entityKind,
                              r.activityType,   r.enabled,        r.enableAfterDelay,
                              r.activationTime, r.timeZoneId,     CPlatformClock::Instance().NowEpochSeconds()};
  for (int i = 0; i < 9; ++i) sqlite3_bind_int64(s, i + 1, values[i]);
  const int rc = sqlite3_step(s);
  c->Release(s);
  if (rc != SQLITE_DONE) {
    c->MapError(rc);
    EvDebug().Error("Add", "Cannot record the activity control of client [%lld]: [%s]", r.clientId,
                    c->LastErrorText().c_str());
  }
  return rc == SQLITE_DONE;
}

EStoreResult CActivityControlStore::Records(std::vector<SActivityControlRecord>& out, long long clientId) {
  CDBConnection* c = Ready();
  if (c == nullptr) return EStoreResult::kFailed;
  sqlite3_stmt* s = c->Prepare(
      "SELECT id, userId, clientId, entityKind, activityType, enabled, enableAfterDelay, activationTime, timeZoneId,"
      " recorded FROM PLT_ActivityControl WHERE ? = 0 OR clientId = ? ORDER BY id");
  if (s == nullptr) return EStoreResult::kFailed;
  sqlite3_bind_int64(s, 1, clientId);
  sqlite3_bind_int64(s, 2, clientId);
  std::vector<SActivityControlRecord> rows;
  int rc = SQLITE_ROW;
  while ((rc = sqlite3_step(s)) == SQLITE_ROW) {
    SActivityControlRecord r;
    r.id = sqlite3_column_int64(s, 0);
    r.userId = sqlite3_column_int(s, 1);
    r.clientId = sqlite3_column_int64(s, 2);
    r.entityKind = sqlite3_column_int(s, 3);
    r.activityType = sqlite3_column_int(s, 4);
    r.enabled = sqlite3_column_int(s, 5);
    r.enableAfterDelay = sqlite3_column_int(s, 6);
    r.activationTime = sqlite3_column_int64(s, 7);
    r.timeZoneId = sqlite3_column_int(s, 8);
    r.recorded = sqlite3_column_int64(s, 9);
    rows.push_back(r);
  }
  c->Release(s);
  if (rc != SQLITE_DONE) return EStoreResult::kFailed;
  out.swap(rows);
  return EStoreResult::kOk;
}

void CActivityControlStore::Register() {
  CDBProcRegistry::Register(kProcName, [](const std::vector<SDBProcValue>& inputs, SDBProcResult& result) {
    return CStandIns::RunGenericProcedure(kProcName, inputs, result, SetActivityControl);
  });
}

bool CActivityControlStore::CreateTables() { return Ready() != nullptr; }
