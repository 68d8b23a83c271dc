#include "jobs/TaskStore.h"

#include <sqlite3.h>

#include <vector>

#include "db/DBConnection.h"
#include "db/DBProcRegistry.h"
#include "msg/MsgClasses.h"

namespace {

const char* kSchema = "CREATE TABLE IF NOT EXISTS PLT_Tasks (id INTEGER PRIMARY KEY, xml TEXT)";

CDBConnection* Ready() {
  CDBConnection* c = CDBConnection::ForThread();
  if (!c || c->EnsureSchema(CTaskStore::kTable, [](CDBConnection& db) { return db.Exec(kSchema); }) != DB_OK) {
    return nullptr;
  }
  return c;
}

const char kProcName[] = "TM_GetTaskDetail";

int GetTaskDetail(const std::vector<SDBProcValue>& inputs, SDBProcResult& result) {
  if (inputs.empty() || inputs[0].isNull) {
    result.error = "task id missing";
    return -1;
  }
  const long long taskId = inputs[0].AsInt();
  std::string xml;
  if (!CTaskStore::GetTask(static_cast<int>(taskId), xml)) {
    result.error = "task " + std::to_string(taskId) + " does not exist";
    return -2;
  }
  TMMsg::TaskInfo task;
  if (!task.Unserialize(xml)) {
    result.error = "task " + std::to_string(taskId) + " is not readable";
    return -3;
  }
  TMMsg::GetTaskDetailResp resp;
  resp.SetMsg(TMMsg::GetTaskDetailResp::kTaskInfo, task);
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
  CDBConnection* c = Ready();
  if (!c) return false;
  sqlite3_stmt* s = c->Prepare("INSERT OR REPLACE INTO PLT_Tasks (id, xml) VALUES (?, ?)");
  if (!s) return false;
  sqlite3_bind_int(s, 1, taskId);
  sqlite3_bind_text(s, 2, taskInfoXml.c_str(), -1, SQLITE_TRANSIENT);
  int rc = sqlite3_step(s);
  c->Release(s);
  return rc == SQLITE_DONE;
}

bool CTaskStore::GetTask(int taskId, std::string& taskInfoXml) {
  CDBConnection* c = Ready();
  if (!c) return false;
  sqlite3_stmt* s = c->Prepare("SELECT xml FROM PLT_Tasks WHERE id = ?");
  if (!s) return false;
  sqlite3_bind_int(s, 1, taskId);
  bool found = sqlite3_step(s) == SQLITE_ROW;
  if (found) {
    const unsigned char* t = sqlite3_column_text(s, 0);
    taskInfoXml = t ? reinterpret_cast<const char*>(t) : "";
  }
  c->Release(s);
  return found;
}

bool CTaskStore::RemoveTask(int taskId) {
  CDBConnection* c = Ready();
  if (!c) return false;
  sqlite3_stmt* s = c->Prepare("DELETE FROM PLT_Tasks WHERE id = ?");
  if (!s) return false;
  sqlite3_bind_int(s, 1, taskId);
  int rc = sqlite3_step(s);
  c->Release(s);
  return rc == SQLITE_DONE;
}

bool CTaskStore::CreateTables() { return Ready() != nullptr; }

void CTaskStore::Register() { CDBProcRegistry::Register(kProcName, GetTaskDetail); }
