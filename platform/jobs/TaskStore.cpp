#include "jobs/TaskStore.h"

#include <sqlite3.h>

#include <algorithm>
#include <set>

#include "db/DBConnection.h"
#include "db/DBProcRegistry.h"
#include "db/DBWriteScope.h"
#include "log/EvEvent.h"
#include "time/PlatformClock.h"

namespace {

const char* kSchema =
    "CREATE TABLE IF NOT EXISTS PLT_Tasks (id INTEGER PRIMARY KEY, xml TEXT, kind INTEGER NOT NULL DEFAULT 1,"
    " created INTEGER NOT NULL DEFAULT 0, modified INTEGER NOT NULL DEFAULT 0, deleted INTEGER NOT NULL DEFAULT 0)";

// Columns a lab seeded before tasks had kinds lacks; its tasks are schedules.
const char* const kLaterColumns[][2] = {
    {"kind", "INTEGER NOT NULL DEFAULT 1"},
    {"created", "INTEGER NOT NULL DEFAULT 0"},
    {"modified", "INTEGER NOT NULL DEFAULT 0"},
    {"deleted", "INTEGER NOT NULL DEFAULT 0"},
};

int CreateTable(CDBConnection& db) {
  int rc = db.Exec(kSchema);
  if (rc != DB_OK) return rc;
  std::set<std::string> columns;
  sqlite3_stmt* s = db.Prepare("PRAGMA table_info(PLT_Tasks)", false);
  if (s == nullptr) return DB_ERROR;
  while (sqlite3_step(s) == SQLITE_ROW) {
    const unsigned char* name = sqlite3_column_text(s, 1);
    if (name != nullptr) columns.insert(reinterpret_cast<const char*>(name));
  }
  db.Release(s);
  for (const auto& column : kLaterColumns) {
    if (columns.count(column[0]) != 0) continue;
    rc = db.Exec(std::string("ALTER TABLE PLT_Tasks ADD COLUMN ") + column[0] + " " + column[1]);
    if (rc != DB_OK) return rc;
  }
  return DB_OK;
}

CDBConnection* Ready(const char* function) {
  CDBConnection* c = CDBConnection::ForThread();
  if (c != nullptr && c->EnsureSchema(CTaskStore::kTable, CreateTable) == DB_OK) return c;
  EvDebug().Error(function, "Cannot reach table [%s]: [%s]", CTaskStore::kTable,
                  c != nullptr ? c->LastErrorText().c_str() : "no database");
  return nullptr;
}

// One statement on the task table: bound by position, released on every
// path, a failure logged once with the caller's name.
class CTaskStatement {
 public:
  CTaskStatement(CDBConnection* c, const char* function, const char* sql)
      : m_c(c), m_function(function), m_stmt(c != nullptr ? c->Prepare(sql) : nullptr) {
    if (c != nullptr && m_stmt == nullptr) Log();
  }
  ~CTaskStatement() {
    if (m_stmt != nullptr) m_c->Release(m_stmt);
  }
  CTaskStatement(const CTaskStatement&) = delete;
  CTaskStatement& operator=(const CTaskStatement&) = delete;

  CTaskStatement& Bind(long long value) {
    if (m_stmt != nullptr) sqlite3_bind_int64(m_stmt, m_next++, value);
    return *this;
  }
  CTaskStatement& Bind(const std::string& value) {
    if (m_stmt != nullptr) sqlite3_bind_text(m_stmt, m_next++, value.c_str(), -1, SQLITE_TRANSIENT);
    return *this;
  }
  // The next row; false at the end or on an error (Failed tells which).
  bool Next() {
    if (m_stmt == nullptr) return false;
    const int rc = sqlite3_step(m_stmt);
    if (rc == SQLITE_ROW) return true;
    if (rc != SQLITE_DONE) Fail(rc);
    return false;
  }
  // A statement without rows: the number of rows changed, -1 on failure.
  int Run() {
    if (m_stmt == nullptr) return -1;
    const int rc = sqlite3_step(m_stmt);
    if (rc != SQLITE_DONE) {
      Fail(rc);
      return -1;
    }
    return sqlite3_changes(m_c->Handle());
  }
  bool Failed() const { return m_stmt == nullptr || m_failed; }
  long long Int(int col) const { return sqlite3_column_int64(m_stmt, col); }
  std::string Text(int col) const {
    const unsigned char* t = sqlite3_column_text(m_stmt, col);
    return t != nullptr ? reinterpret_cast<const char*>(t) : "";
  }

 private:
  void Fail(int rc) {
    m_failed = true;
    m_c->MapError(rc);
    Log();
  }
  void Log() { EvDebug().Error(m_function, "Task table statement failed: [%s]", m_c->LastErrorText().c_str()); }

  CDBConnection* m_c;
  const char* m_function;
  sqlite3_stmt* m_stmt;
  int m_next = 1;
  bool m_failed = false;
};

const char kSelect[] = "SELECT id, kind, xml, created, modified FROM PLT_Tasks WHERE deleted = 0";

STaskRecord RowOf(const CTaskStatement& s) {
  STaskRecord r;
  r.taskId = static_cast<int>(s.Int(0));
  r.kind = s.Int(1) == static_cast<int>(ETaskKind::kOneShot) ? ETaskKind::kOneShot : ETaskKind::kSchedule;
  r.xml = s.Text(2);
  r.created = s.Int(3);
  r.modified = s.Int(4);
  return r;
}

// The message as stored: naming its own id.
bool XmlNamingId(int taskId, const TMMsg::TaskInfo& info, std::string& xml) {
  TMMsg::TaskInfo stored(info);
  stored.MutableMsg(TMMsg::TaskInfo::kTask).SetInt32(TMMsg::TaskObjectFields::kTaskId, taskId);
  return stored.serializeUTF8(xml);
}

bool Insert(CDBConnection* c, const char* function, int taskId, ETaskKind kind, const std::string& xml) {
  const long long now = CPlatformClock::Instance().NowEpochSeconds();
  CTaskStatement s(c, function,
                   "INSERT OR REPLACE INTO PLT_Tasks (id, xml, kind, created, modified, deleted) VALUES"
                   " (?, ?, ?, ?, 0, 0)");
  s.Bind(taskId).Bind(xml).Bind(static_cast<int>(kind)).Bind(now);
  return s.Run() == 1;
}

const char kProcName[] = "TM_GetTaskDetail";

int GetTaskDetail(const std::vector<SDBProcValue>& inputs, SDBProcResult& result) {
  if (inputs.empty() || inputs[0].isNull) {
    result.error = "task id missing";
    return -1;
  }
  const long long taskId = inputs[0].AsInt();
  STaskRecord task;
  const EStoreResult read = CTaskStore::ReadTask(static_cast<int>(taskId), task);
  if (read != EStoreResult::kOk) {
    result.error = "task " + std::to_string(taskId) +
                   (read == EStoreResult::kMissing ? " does not exist" : " cannot be read");
    return -2;
  }
  TMMsg::TaskInfo info;
  if (!info.Unserialize(task.xml)) {
    result.error = "task " + std::to_string(taskId) + " is not readable";
    return -3;
  }
  // The answer names the task it describes, also when the task was stored
  // as text without its id: a caller that edits it and sends it back in a
  // modify request says which task it replaces.
  info.MutableMsg(TMMsg::TaskInfo::kTask).SetInt32(TMMsg::TaskObjectFields::kTaskId, task.taskId);
  TMMsg::GetTaskDetailResp resp;
  resp.SetMsg(TMMsg::GetTaskDetailResp::kTaskInfo, info);
  std::string out;
  // The caller's wrapper adds the declaration.
  if (!resp.serializeUTF8(out, false)) {
    result.error = "task " + std::to_string(taskId) + " cannot be written";
    return -4;
  }
  result.rows.push_back({SDBProcValue::Text(out)});
  return 0;
}

}  // namespace

bool CTaskStore::PutTask(int taskId, const std::string& taskInfoXml) {
  return Insert(Ready("PutTask"), "PutTask", taskId, ETaskKind::kSchedule, taskInfoXml);
}

bool CTaskStore::PutTask(int taskId, ETaskKind kind, const TMMsg::TaskInfo& info) {
  std::string xml;
  return XmlNamingId(taskId, info, xml) && Insert(Ready("PutTask"), "PutTask", taskId, kind, xml);
}

EStoreResult CTaskStore::CreateTask(ETaskKind kind, const TMMsg::TaskInfo& info, int& taskId) {
  CDBConnection* c = Ready("CreateTask");
  if (c == nullptr) return EStoreResult::kFailed;
  CDBWriteScope scope(c);
  if (!scope.Ok()) return EStoreResult::kFailed;
  // Tombstones count: a deleted task's id is never given out again.
  CTaskStatement last(c, "CreateTask", "SELECT max(id) FROM PLT_Tasks");
  if (!last.Next()) return EStoreResult::kFailed;
  const int id = static_cast<int>(std::max<long long>(last.Int(0) + 1, kFirstCreatedTaskId));
  std::string xml;
  if (!XmlNamingId(id, info, xml) || !Insert(c, "CreateTask", id, kind, xml) || !scope.Commit()) {
    return EStoreResult::kFailed;
  }
  taskId = id;
  return EStoreResult::kOk;
}

EStoreResult CTaskStore::ModifyTask(int taskId, const TMMsg::TaskInfo& info) {
  std::string xml;
  if (!XmlNamingId(taskId, info, xml)) return EStoreResult::kFailed;
  CTaskStatement s(Ready("ModifyTask"), "ModifyTask",
                   "UPDATE PLT_Tasks SET xml = ?, modified = ? WHERE id = ? AND deleted = 0");
  s.Bind(xml).Bind(CPlatformClock::Instance().NowEpochSeconds()).Bind(taskId);
  const int changed = s.Run();
  return changed < 0 ? EStoreResult::kFailed : changed == 0 ? EStoreResult::kMissing : EStoreResult::kOk;
}

EStoreResult CTaskStore::DeleteTask(int taskId) {
  CTaskStatement s(Ready("DeleteTask"), "DeleteTask", "UPDATE PLT_Tasks SET deleted = ? WHERE id = ? AND deleted = 0");
  // A deletion at second 0 of the platform clock still marks the row.
  s.Bind(std::max<long long>(CPlatformClock::Instance().NowEpochSeconds(), 1)).Bind(taskId);
  const int changed = s.Run();
  return changed < 0 ? EStoreResult::kFailed : changed == 0 ? EStoreResult::kMissing : EStoreResult::kOk;
}

EStoreResult CTaskStore::ReadTask(int taskId, STaskRecord& out) {
  CTaskStatement s(Ready("ReadTask"), "ReadTask", (std::string(kSelect) + " AND id = ?").c_str());
  s.Bind(taskId);
  if (s.Next()) {
    out = RowOf(s);
    return EStoreResult::kOk;
  }
  return s.Failed() ? EStoreResult::kFailed : EStoreResult::kMissing;
}

EStoreResult CTaskStore::Tasks(std::vector<STaskRecord>& out) {
  CTaskStatement s(Ready("Tasks"), "Tasks", (std::string(kSelect) + " ORDER BY id").c_str());
  std::vector<STaskRecord> rows;
  while (s.Next()) rows.push_back(RowOf(s));
  if (s.Failed()) return EStoreResult::kFailed;
  out.swap(rows);
  return EStoreResult::kOk;
}

bool CTaskStore::GetTask(int taskId, std::string& taskInfoXml) {
  STaskRecord task;
  if (ReadTask(taskId, task) != EStoreResult::kOk) return false;
  taskInfoXml = task.xml;
  return true;
}

bool CTaskStore::RemoveTask(int taskId) { return DeleteTask(taskId) != EStoreResult::kFailed; }

int CTaskStore::TaskIdOf(const TMMsg::TaskInfo& info) {
  return info.GetMsg(TMMsg::TaskInfo::kTask).GetInt32(TMMsg::TaskObjectFields::kTaskId);
}

const char* CTaskStore::KindText(ETaskKind kind) { return kind == ETaskKind::kOneShot ? "one-shot" : "schedule"; }

bool CTaskStore::CreateTables() { return Ready("CreateTables") != nullptr; }

void CTaskStore::Register() { CDBProcRegistry::Register(kProcName, GetTaskDetail); }
