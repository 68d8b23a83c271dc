#include "appmgr/ComponentProperties.h"

#include "db/DBStatement.h"
#include "db/DBWriteScope.h"
#include "log/EvEvent.h"
#include "time/PlatformClock.h"

namespace {

CDBConnection* Connection(const char* table) {
  CDBConnection* c = CDBConnection::ForThread();
  if (c != nullptr && c->EnsureTable(table) == DB_OK) return c;
  EvDebug().Error("CComponentProperties", "Cannot reach table [%s]: [%s]", table,
                  c != nullptr ? c->LastErrorText().c_str() : "no database");
  return nullptr;
}

}  // namespace

bool CComponentProperties::Ready(const char* table) { return Connection(table) != nullptr; }

int CComponentProperties::Get(const std::string& name, std::string& value) {
  CDBStatement s(Connection(m_table), "Get",
                 std::string("SELECT attrVal FROM ") + m_table +
                     " WHERE componentNameId = ? AND attrName = ? AND modified = 0 ORDER BY id DESC LIMIT 1");
  s.Bind(m_componentId).Bind(name);
  if (s.Next()) {
    value = s.Text(0);
    return 0;
  }
  return s.Ok() && !s.Failed() ? 1 : -1;
}

int CComponentProperties::Any() {
  CDBStatement s(Connection(m_table), "Any",
                 std::string("SELECT 1 FROM ") + m_table + " WHERE componentNameId = ? AND modified = 0 LIMIT 1");
  s.Bind(m_componentId);
  if (s.Next()) return 0;
  return s.Ok() && !s.Failed() ? 1 : -1;
}

int CComponentProperties::Set(const std::string& name, const std::string& value) {
  CDBConnection* c = Connection(m_table);
  if (c == nullptr) return -1;
  CDBWriteScope scope(c);
  if (!scope.Ok()) return -1;
  const long long now = CPlatformClock::Instance().NowEpochSeconds();
  {
    CDBStatement s(c, "Set",
                   std::string("UPDATE ") + m_table +
                       " SET modified = ? WHERE componentNameId = ? AND attrName = ? AND modified = 0");
    s.Bind(now).Bind(m_componentId).Bind(name);
    if (s.Run() != EStoreResult::kOk) return -1;
  }
  {
    CDBStatement s(c, "Set",
                   std::string("INSERT INTO ") + m_table +
                       " (componentNameId, attrName, attrType, attrVal, created, modified, hdpId) VALUES (?, ?, 2, ?, "
                       "?, 0, 0)");
    s.Bind(m_componentId).Bind(name).Bind(value).Bind(now);
    if (s.Run() != EStoreResult::kOk) return -1;
  }
  return scope.Commit() ? 0 : -1;
}
