#include "appmgr/ZNClient.h"

#include <sqlite3.h>

#include "db/DBConnection.h"
#include "jobs/ZNManageDBForJM.h"

ZNClient::ZNClient(const char* name) : m_name(name ? name : ""), m_id(0), m_loaded(false), m_found(false) {}

ZNClient::ZNClient(int clientId) : m_id(clientId), m_loaded(false), m_found(false) {}

bool ZNClient::Load() {
  if (m_loaded) return m_found;
  m_loaded = true;
  CDBConnection* c = CDBConnection::ForThread();
  if (!c || c->EnsureTable("APP_Client") != DB_OK) return false;
  bool byName = !m_name.empty();
  sqlite3_stmt* s = c->Prepare(byName ? "SELECT id, name FROM APP_Client WHERE name = ? COLLATE NOCASE LIMIT 1"
                                      : "SELECT id, name FROM APP_Client WHERE id = ? LIMIT 1");
  if (!s) return false;
  if (byName)
    sqlite3_bind_text(s, 1, m_name.c_str(), -1, SQLITE_TRANSIENT);
  else
    sqlite3_bind_int(s, 1, m_id);
  if (sqlite3_step(s) == SQLITE_ROW) {
    m_found = true;
    m_id = sqlite3_column_int(s, 0);
    const unsigned char* t = sqlite3_column_text(s, 1);
    m_name = t ? reinterpret_cast<const char*>(t) : "";
  }
  c->Release(s);
  return m_found;
}

int ZNClient::getClientId(int& clientId) {
  if (!Load()) return -1;
  clientId = m_id;
  return 0;
}

int ZNClient::getHaldenId(int& haldenId) {
  if (!Load()) return -1;
  haldenId = ZNManageDBForJM::getDefaultHaldenID();
  return 0;
}

int ZNClient::getClientName(std::string& name) {
  if (!Load()) return -1;
  name = m_name;
  return 0;
}
