#include "jobs/LabStore.h"

#include <sqlite3.h>

#include <algorithm>

#include "db/DBConnection.h"
#include "db/DBWriteScope.h"
#include "log/EvEvent.h"
#include "msg/MsgClasses.h"

namespace {

const char* kSchema =
    "CREATE TABLE IF NOT EXISTS PLT_Users (id INTEGER PRIMARY KEY, name TEXT, email TEXT);"
    "CREATE TABLE IF NOT EXISTS PLT_DRGroups (id INTEGER PRIMARY KEY, name TEXT UNIQUE, xml TEXT);"
    "CREATE TABLE IF NOT EXISTS PLT_Outbox (id INTEGER PRIMARY KEY AUTOINCREMENT, recipient TEXT,"
    " subject TEXT, body TEXT, userId INTEGER);"
    "CREATE TABLE IF NOT EXISTS PLT_Knobs (name TEXT PRIMARY KEY, value TEXT);";

// The calling thread's connection with the lab's tables in place.
CDBConnection* Ready() {
  CDBConnection* c = CDBConnection::ForThread();
  if (!c || c->EnsureSchema("PLT_Lab", [](CDBConnection& db) { return db.Exec(kSchema); }) != DB_OK) return nullptr;
  return c;
}

std::string Text(sqlite3_stmt* s, int col) {
  const unsigned char* t = sqlite3_column_text(s, col);
  return t ? reinterpret_cast<const char*>(t) : "";
}

// Takes the entries of the replications out of the group's priorities, and a
// priority left with none; true when the group named one of them.
bool DropReplications(Api::VirtualApp& app, const std::vector<int>& ids) {
  if (!app.Has(Api::VirtualApp::kConfig)) return false;
  CNMessageBase& config = app.MutableMsg(Api::VirtualApp::kConfig);
  bool dropped = false;
  for (size_t p = config.ListSize(TMMsg::DRGroupConfigFields::kPriorities); p-- > 0;) {
    CNMessageBase& priority = config.MutableListMsg(TMMsg::DRGroupConfigFields::kPriorities, p);
    const size_t entries = priority.ListSize(TMMsg::VMGroup::kVMSequence);
    for (size_t e = entries; e-- > 0;) {
      const int64_t id = priority.GetListMsg(TMMsg::VMGroup::kVMSequence, e)
                             .GetInt64(TMMsg::VMDependencyOrder::kReplicationId);
      if (std::find(ids.begin(), ids.end(), id) != ids.end()) priority.ListRemove(TMMsg::VMGroup::kVMSequence, e);
    }
    const size_t left = priority.ListSize(TMMsg::VMGroup::kVMSequence);
    if (left == entries) continue;
    dropped = true;
    if (left == 0) config.ListRemove(TMMsg::DRGroupConfigFields::kPriorities, p);
  }
  return dropped;
}

bool GroupsFailed(CDBConnection* c) {
  EvDebug().Error("RemoveReplicationsFromDRGroups", "Cannot rewrite the DR groups: [%s]",
                  c != nullptr ? c->LastErrorText().c_str() : "no database");
  return false;
}

}  // namespace

bool CLabStore::AddUser(int userId, const std::string& name, const std::string& email) {
  CDBConnection* c = Ready();
  if (!c) return false;
  sqlite3_stmt* s = c->Prepare("INSERT OR REPLACE INTO PLT_Users (id, name, email) VALUES (?, ?, ?)");
  if (!s) return false;
  sqlite3_bind_int(s, 1, userId);
  sqlite3_bind_text(s, 2, name.c_str(), -1, SQLITE_TRANSIENT);
  sqlite3_bind_text(s, 3, email.c_str(), -1, SQLITE_TRANSIENT);
  bool ok = sqlite3_step(s) == SQLITE_DONE;
  c->Release(s);
  return ok;
}

bool CLabStore::GetUserEmail(int userId, std::string& email) {
  CDBConnection* c = Ready();
  if (!c) return false;
  sqlite3_stmt* s = c->Prepare("SELECT email FROM PLT_Users WHERE id = ?");
  if (!s) return false;
  sqlite3_bind_int(s, 1, userId);
  bool found = sqlite3_step(s) == SQLITE_ROW;
  if (found) email = Text(s, 0);
  c->Release(s);
  return found;
}

bool CLabStore::PutDRGroup(int groupId, const std::string& name, const std::string& virtualAppXml) {
  CDBConnection* c = Ready();
  if (!c) return false;
  sqlite3_stmt* s = c->Prepare("INSERT OR REPLACE INTO PLT_DRGroups (id, name, xml) VALUES (?, ?, ?)");
  if (!s) return false;
  sqlite3_bind_int(s, 1, groupId);
  sqlite3_bind_text(s, 2, name.c_str(), -1, SQLITE_TRANSIENT);
  sqlite3_bind_text(s, 3, virtualAppXml.c_str(), -1, SQLITE_TRANSIENT);
  bool ok = sqlite3_step(s) == SQLITE_DONE;
  c->Release(s);
  return ok;
}

bool CLabStore::GetDRGroup(int groupId, std::string& virtualAppXml) {
  CDBConnection* c = Ready();
  if (!c) return false;
  sqlite3_stmt* s = c->Prepare("SELECT xml FROM PLT_DRGroups WHERE id = ?");
  if (!s) return false;
  sqlite3_bind_int(s, 1, groupId);
  bool found = sqlite3_step(s) == SQLITE_ROW;
  if (found) virtualAppXml = Text(s, 0);
  c->Release(s);
  return found;
}

int CLabStore::FindDRGroup(const std::string& name) {
  CDBConnection* c = Ready();
  if (!c) return 0;
  sqlite3_stmt* s = c->Prepare("SELECT id FROM PLT_DRGroups WHERE name = ?");
  if (!s) return 0;
  sqlite3_bind_text(s, 1, name.c_str(), -1, SQLITE_TRANSIENT);
  int id = sqlite3_step(s) == SQLITE_ROW ? sqlite3_column_int(s, 0) : 0;
  c->Release(s);
  return id;
}

std::vector<std::pair<int, std::string>> CLabStore::DRGroups() {
  std::vector<std::pair<int, std::string>> groups;
  CDBConnection* c = Ready();
  if (!c) return groups;
  sqlite3_stmt* s = c->Prepare("SELECT id, name FROM PLT_DRGroups ORDER BY id");
  if (!s) return groups;
  while (sqlite3_step(s) == SQLITE_ROW) groups.emplace_back(sqlite3_column_int(s, 0), Text(s, 1));
  c->Release(s);
  return groups;
}

bool CLabStore::RemoveReplicationsFromDRGroups(const std::vector<int>& replicationIds) {
  CDBConnection* c = Ready();
  if (!c) return GroupsFailed(c);
  // Read and rewritten under one write lock: a group another process
  // changes meanwhile is not overwritten with what was read before.
  CDBWriteScope scope(c);
  if (!scope.Ok()) return GroupsFailed(c);
  std::vector<std::pair<int, std::string>> groups;
  sqlite3_stmt* s = c->Prepare("SELECT id, xml FROM PLT_DRGroups ORDER BY id");
  if (!s) return GroupsFailed(c);
  int rc = SQLITE_ROW;
  while ((rc = sqlite3_step(s)) == SQLITE_ROW) groups.emplace_back(sqlite3_column_int(s, 0), Text(s, 1));
  c->Release(s);
  if (rc != SQLITE_DONE) return GroupsFailed(c);
  for (const auto& group : groups) {
    Api::VirtualApp app;
    std::string error;
    if (!app.Unserialize(group.second, &error)) {
      EvDebug().Error("RemoveReplicationsFromDRGroups", "DR group [%d] cannot be read, left as it is: [%s]",
                      group.first, error.c_str());
      continue;
    }
    if (!DropReplications(app, replicationIds)) continue;
    std::string xml;
    if (!app.serializeUTF8(xml)) return GroupsFailed(c);
    s = c->Prepare("UPDATE PLT_DRGroups SET xml = ? WHERE id = ?");
    if (!s) return GroupsFailed(c);
    sqlite3_bind_text(s, 1, xml.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_int(s, 2, group.first);
    const bool ok = sqlite3_step(s) == SQLITE_DONE;
    c->Release(s);
    if (!ok) return GroupsFailed(c);
  }
  return scope.Commit() || GroupsFailed(c);
}

std::string CLabStore::DRGroupName(int groupId) {
  CDBConnection* c = Ready();
  if (!c) return std::string();
  sqlite3_stmt* s = c->Prepare("SELECT name FROM PLT_DRGroups WHERE id = ?");
  if (!s) return std::string();
  sqlite3_bind_int(s, 1, groupId);
  const std::string name = sqlite3_step(s) == SQLITE_ROW ? Text(s, 0) : std::string();
  c->Release(s);
  return name;
}

bool CLabStore::AddMail(const SOutboxMail& mail) {
  CDBConnection* c = Ready();
  if (!c) return false;
  sqlite3_stmt* s = c->Prepare("INSERT INTO PLT_Outbox (recipient, subject, body, userId) VALUES (?, ?, ?, ?)");
  if (!s) return false;
  sqlite3_bind_text(s, 1, mail.recipient.c_str(), -1, SQLITE_TRANSIENT);
  sqlite3_bind_text(s, 2, mail.subject.c_str(), -1, SQLITE_TRANSIENT);
  sqlite3_bind_text(s, 3, mail.body.c_str(), -1, SQLITE_TRANSIENT);
  sqlite3_bind_int(s, 4, mail.userId);
  bool ok = sqlite3_step(s) == SQLITE_DONE;
  c->Release(s);
  return ok;
}

std::vector<SOutboxMail> CLabStore::Outbox() {
  std::vector<SOutboxMail> out;
  CDBConnection* c = Ready();
  if (!c) return out;
  sqlite3_stmt* s = c->Prepare("SELECT id, recipient, subject, body, userId FROM PLT_Outbox ORDER BY id");
  if (!s) return out;
  while (sqlite3_step(s) == SQLITE_ROW) {
    SOutboxMail m;
    m.id = sqlite3_column_int64(s, 0);
    m.recipient = Text(s, 1);
    m.subject = Text(s, 2);
    m.body = Text(s, 3);
    m.userId = sqlite3_column_int(s, 4);
    out.push_back(m);
  }
  c->Release(s);
  return out;
}

bool CLabStore::SetKnob(const std::string& name, const std::string& value) {
  CDBConnection* c = Ready();
  if (!c) return false;
  sqlite3_stmt* s = c->Prepare("INSERT OR REPLACE INTO PLT_Knobs (name, value) VALUES (?, ?)");
  if (!s) return false;
  sqlite3_bind_text(s, 1, name.c_str(), -1, SQLITE_TRANSIENT);
  sqlite3_bind_text(s, 2, value.c_str(), -1, SQLITE_TRANSIENT);
  bool ok = sqlite3_step(s) == SQLITE_DONE;
  c->Release(s);
  return ok;
}

bool CLabStore::ClearKnob(const std::string& name) {
  CDBConnection* c = Ready();
  if (!c) return false;
  sqlite3_stmt* s = c->Prepare("DELETE FROM PLT_Knobs WHERE name = ?");
  if (!s) return false;
  sqlite3_bind_text(s, 1, name.c_str(), -1, SQLITE_TRANSIENT);
  bool ok = sqlite3_step(s) == SQLITE_DONE;
  c->Release(s);
  return ok;
}

bool CLabStore::TakeKnobCount(const std::string& name) {
  CDBConnection* c = Ready();
  if (!c) return false;
  // Every store and procedure call asks, and almost never is a fault
  // planted: a read leaves the write lock to the writers. The update below
  // still decides, so two takers of the last count cannot both have it.
  sqlite3_stmt* planted = c->Prepare("SELECT 1 FROM PLT_Knobs WHERE name = ? AND CAST(value AS INTEGER) > 0");
  if (!planted) return false;
  sqlite3_bind_text(planted, 1, name.c_str(), -1, SQLITE_TRANSIENT);
  const bool any = sqlite3_step(planted) == SQLITE_ROW;
  c->Release(planted);
  if (!any) return false;
  sqlite3_stmt* s = c->Prepare(
      "UPDATE PLT_Knobs SET value = CAST(CAST(value AS INTEGER) - 1 AS TEXT) "
      "WHERE name = ? AND CAST(value AS INTEGER) > 0");
  if (!s) return false;
  sqlite3_bind_text(s, 1, name.c_str(), -1, SQLITE_TRANSIENT);
  const bool taken = sqlite3_step(s) == SQLITE_DONE && sqlite3_changes(c->Handle()) == 1;
  c->Release(s);
  return taken;
}

bool CLabStore::HasKnob(const std::string& name) {
  CDBConnection* c = Ready();
  if (!c) return false;
  sqlite3_stmt* s = c->Prepare("SELECT 1 FROM PLT_Knobs WHERE name = ?");
  if (!s) return false;
  sqlite3_bind_text(s, 1, name.c_str(), -1, SQLITE_TRANSIENT);
  bool found = sqlite3_step(s) == SQLITE_ROW;
  c->Release(s);
  return found;
}

std::string CLabStore::GetKnob(const std::string& name, const std::string& def) {
  CDBConnection* c = Ready();
  if (!c) return def;
  sqlite3_stmt* s = c->Prepare("SELECT value FROM PLT_Knobs WHERE name = ?");
  if (!s) return def;
  sqlite3_bind_text(s, 1, name.c_str(), -1, SQLITE_TRANSIENT);
  std::string value = sqlite3_step(s) == SQLITE_ROW ? Text(s, 0) : def;
  c->Release(s);
  return value;
}

bool CLabStore::CreateTables() { return Ready() != nullptr; }
