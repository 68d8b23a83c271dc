#include "appmgr/ClientProperties.h"

#include <sqlite3.h>
#include <stdlib.h>

#include "db/DBConnection.h"
#include "db/DBWriteScope.h"
#include "log/EvEvent.h"
#include "time/PlatformClock.h"

namespace {

CDBConnection* Ready() {
  CDBConnection* c = CDBConnection::ForThread();
  if (c != nullptr && c->EnsureTable(ClientProperties::kTable) == DB_OK) return c;
  EvDebug().Error("ClientProperties", "Cannot reach table [%s]: [%s]", ClientProperties::kTable,
                  c != nullptr ? c->LastErrorText().c_str() : "no database");
  return nullptr;
}

}  // namespace

ClientProperties::ClientProperties(int clientId) : m_clientId(clientId) {}

int ClientProperties::getAttribute(const std::string& name, std::string& value) {
  CDBConnection* c = Ready();
  if (c == nullptr) return -1;
  sqlite3_stmt* s = c->Prepare(
      "SELECT attrVal FROM APP_ClientProp WHERE componentNameId = ? AND attrName = ? AND modified = 0 ORDER BY id "
      "DESC LIMIT 1");
  if (s == nullptr) return -1;
  sqlite3_bind_int(s, 1, m_clientId);
  sqlite3_bind_text(s, 2, name.c_str(), -1, SQLITE_TRANSIENT);
  const int rc = sqlite3_step(s);
  if (rc == SQLITE_ROW) {
    const unsigned char* t = sqlite3_column_text(s, 0);
    value = t ? reinterpret_cast<const char*>(t) : "";
  }
  c->Release(s);
  if (rc == SQLITE_ROW) return 0;
  if (rc != SQLITE_DONE) c->MapError(rc);
  return rc == SQLITE_DONE ? 1 : -1;
}

int ClientProperties::setAttribute(const std::string& name, const std::string& value) {
  CDBConnection* c = Ready();
  if (c == nullptr) return -1;
  CDBWriteScope scope(c);
  if (!scope.Ok()) return -1;
  const long long now = CPlatformClock::Instance().NowEpochSeconds();
  sqlite3_stmt* s = c->Prepare(
      "UPDATE APP_ClientProp SET modified = ? WHERE componentNameId = ? AND attrName = ? AND modified = 0");
  if (s == nullptr) return -1;
  sqlite3_bind_int64(s, 1, now);
  sqlite3_bind_int(s, 2, m_clientId);
  sqlite3_bind_text(s, 3, name.c_str(), -1, SQLITE_TRANSIENT);
  int rc = sqlite3_step(s);
  c->Release(s);
  if (rc != SQLITE_DONE) return -1;
  s = c->Prepare(
      "INSERT INTO APP_ClientProp (componentNameId, attrName, attrType, attrVal, created, modified, hdpId) VALUES "
      "(?, ?, 2, ?, ?, 0, 0)");
  if (s == nullptr) return -1;
  sqlite3_bind_int(s, 1, m_clientId);
  sqlite3_bind_text(s, 2, name.c_str(), -1, SQLITE_TRANSIENT);
  sqlite3_bind_text(s, 3, value.c_str(), -1, SQLITE_TRANSIENT);
  sqlite3_bind_int64(s, 4, now);
  rc = sqlite3_step(s);
  c->Release(s);
  if (rc != SQLITE_DONE) return -1;
  return scope.Commit() ? 0 : -1;
}

int ClientProperties::getClientTimeZoneId(unsigned int& timeZoneId) {
  std::string text;
  const int rc = getAttribute(ZN_PROP_CLIENT_TIME_ZONE_ID, text);
  if (rc != 0) return rc;
  timeZoneId = static_cast<unsigned int>(strtoul(text.c_str(), nullptr, 10));
  return 0;
}

int ClientProperties::setClientTimeZoneId(unsigned int timeZoneId) {
  return setAttribute(ZN_PROP_CLIENT_TIME_ZONE_ID, std::to_string(timeZoneId));
}

int ClientProperties::setVMInstanceUUID(const std::string& uuid) {
  return setAttribute(ZN_PROP_VIRTUAL_SERVER_INSTANCE_UUID, uuid);
}

int ClientProperties::getVMInstanceUUID(std::string& uuid) {
  return getAttribute(ZN_PROP_VIRTUAL_SERVER_INSTANCE_UUID, uuid);
}

int ClientProperties::setLastVMBackupJobInfo(const App::LastBackupJobInfo& info) {
  std::string xml;
  if (!info.serializeUTF8(xml)) return -1;
  return setAttribute(ZN_PROP_LAST_VM_BACKUP_JOB_INFO, xml);
}

int ClientProperties::getLastVMBackupJobInfo(App::LastBackupJobInfo& info) {
  std::string xml;
  const int rc = getAttribute(ZN_PROP_LAST_VM_BACKUP_JOB_INFO, xml);
  if (rc != 0) return rc;
  return info.Unserialize(xml) ? 0 : -1;
}

int ClientProperties::getVSAProjectId(std::string& projectId) { return getAttribute(ZN_PROP_VSA_PROJECT_ID, projectId); }

int ClientProperties::setVSAProjectId(const std::string& projectId) {
  return setAttribute(ZN_PROP_VSA_PROJECT_ID, projectId);
}

bool ClientProperties::CreateTables() { return Ready() != nullptr; }
