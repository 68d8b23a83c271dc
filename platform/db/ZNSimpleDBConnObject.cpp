#include "db/ZNSimpleDBConnObject.h"

#include "core/StrcpyS.h"
#include "db/DBConnection.h"
#include "db/DBSqlText.h"

ZNSimpleDBConnObject::ZNSimpleDBConnObject()
    : m_indicators(nullptr), m_stmt(nullptr), m_open(false), m_hasRow(false) {
  m_dsnSource[0] = 0;
  m_dsnPermissions[0] = 0;
}

ZNSimpleDBConnObject::~ZNSimpleDBConnObject() { CloseSQLConnection(); }

void ZNSimpleDBConnObject::setRegValueDSNSource(char const* name) {
  strcpy_s(m_dsnSource, sizeof(m_dsnSource), name ? name : "");
}

void ZNSimpleDBConnObject::setRegValueDSNPermissions(char const* name) {
  strcpy_s(m_dsnPermissions, sizeof(m_dsnPermissions), name ? name : "");
}

int ZNSimpleDBConnObject::OpenSQLConnection(int) {
  CDBConnection* c = CDBConnection::ForThread();
  if (!c) {
    m_lastError = "cannot open the management database";
    return DB_ERROR;
  }
  m_open = true;
  return DB_OK;
}

int ZNSimpleDBConnObject::ExecuteSQL(char const* sql) {
  if (m_stmt) sqlite3_finalize(m_stmt);  // direct SQL is never cached
  m_stmt = nullptr;
  m_hasRow = false;
  if (!m_open && OpenSQLConnection(0) != DB_OK) return DB_ERROR;
  CDBConnection* c = CDBConnection::ForThread();
  if (!c || !sql) return DB_ERROR;
  c->EnsureAllTables();
  m_stmt = c->Prepare(CDBSqlText::ToSqlite(sql), false);
  if (!m_stmt) {
    m_lastError = c->LastErrorText();
    return c->LastErrorCode() ? c->LastErrorCode() : DB_ERROR;
  }
  return DB_OK;
}

int ZNSimpleDBConnObject::FetchRow() {
  m_hasRow = false;
  if (!m_stmt) return 1;
  int rc = sqlite3_step(m_stmt);
  if (rc == SQLITE_ROW) {
    m_hasRow = true;
    return 0;
  }
  if (rc == SQLITE_DONE) return 1;
  m_lastError = sqlite3_errmsg(sqlite3_db_handle(m_stmt));
  return CDBConnection::ResultCode(rc);
}

int ZNSimpleDBConnObject::CloseSQLConnection() {
  if (m_stmt) sqlite3_finalize(m_stmt);
  m_stmt = nullptr;
  m_hasRow = false;
  m_open = false;
  return DB_OK;
}

int ZNSimpleDBConnObject::GetColumnCount() const { return m_stmt ? sqlite3_column_count(m_stmt) : 0; }

bool ZNSimpleDBConnObject::IsColumnNull(int column) const {
  return !m_hasRow || sqlite3_column_type(m_stmt, column) == SQLITE_NULL;
}

long long ZNSimpleDBConnObject::GetColumnInt64(int column) const {
  return m_hasRow ? sqlite3_column_int64(m_stmt, column) : 0;
}

std::string ZNSimpleDBConnObject::GetColumnString(int column) const {
  if (!m_hasRow) return std::string();
  const unsigned char* t = sqlite3_column_text(m_stmt, column);
  int n = sqlite3_column_bytes(m_stmt, column);
  return t ? std::string(reinterpret_cast<const char*>(t), static_cast<size_t>(n)) : std::string();
}
