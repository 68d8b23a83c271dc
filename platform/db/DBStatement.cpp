#include "db/DBStatement.h"

#include "log/EvEvent.h"

CDBStatement::CDBStatement(CDBConnection* c, const char* function, const std::string& sql)
    : m_c(c), m_function(function) {
  if (m_c == nullptr) {
    m_failed = true;
    return;
  }
  m_stmt = m_c->Prepare(sql);
  if (m_stmt == nullptr) {
    m_failed = true;
    EvDebug().Error(m_function, "Cannot prepare [%s]: [%s]", sql.c_str(), m_c->LastErrorText().c_str());
  }
}

CDBStatement::~CDBStatement() {
  if (m_stmt != nullptr) m_c->Release(m_stmt);
}

CDBStatement& CDBStatement::Bind(long long value) {
  if (m_stmt) sqlite3_bind_int64(m_stmt, m_next, value);
  ++m_next;
  return *this;
}

CDBStatement& CDBStatement::Bind(const std::string& value) {
  if (m_stmt) sqlite3_bind_text(m_stmt, m_next, value.c_str(), -1, SQLITE_TRANSIENT);
  ++m_next;
  return *this;
}

CDBStatement& CDBStatement::BindReal(double value) {
  if (m_stmt) sqlite3_bind_double(m_stmt, m_next, value);
  ++m_next;
  return *this;
}

CDBStatement& CDBStatement::BindNull() {
  if (m_stmt) sqlite3_bind_null(m_stmt, m_next);
  ++m_next;
  return *this;
}

void CDBStatement::Fail(int rc) {
  m_failed = true;
  m_c->MapError(rc);
  EvDebug().Error(m_function, "Database error: [%s]", m_c->LastErrorText().c_str());
}

bool CDBStatement::Next() {
  if (m_stmt == nullptr || m_failed) return false;
  const int rc = sqlite3_step(m_stmt);
  if (rc == SQLITE_ROW) return true;
  if (rc != SQLITE_DONE) Fail(rc);
  return false;
}

EStoreResult CDBStatement::Run() {
  if (m_stmt == nullptr || m_failed) return EStoreResult::kFailed;
  const int rc = sqlite3_step(m_stmt);
  if (rc == SQLITE_DONE || rc == SQLITE_ROW) return EStoreResult::kOk;
  Fail(rc);
  return EStoreResult::kFailed;
}

int CDBStatement::Changes() const { return m_c != nullptr ? sqlite3_changes(m_c->Handle()) : 0; }

std::string CDBStatement::Text(int col) const {
  const unsigned char* t = sqlite3_column_text(m_stmt, col);
  return t ? reinterpret_cast<const char*>(t) : "";
}

CDBConnection* DBStoreReady(const char* function, const char* key, int (*create)(CDBConnection&)) {
  CDBConnection* c = CDBConnection::ForThread();
  if (c != nullptr && c->EnsureSchema(key, create) == DB_OK) return c;
  EvDebug().Error(function, "Cannot reach the tables of [%s]: [%s]", key,
                  c != nullptr ? c->LastErrorText().c_str() : "no database");
  return nullptr;
}
