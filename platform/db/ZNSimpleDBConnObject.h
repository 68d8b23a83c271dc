// A direct SQL connection to the management database: run one SQL text and
// fetch its rows. Also the connection object behind each table object.
#pragma once

#include <sqlite3.h>

#include <string>

class ZNSimpleDBConnObject {
 public:
  ZNSimpleDBConnObject();
  ~ZNSimpleDBConnObject();
  ZNSimpleDBConnObject(const ZNSimpleDBConnObject&) = delete;
  ZNSimpleDBConnObject& operator=(const ZNSimpleDBConnObject&) = delete;

  // Bounded copies (at most 255 characters) of the data-source names.
  void setRegValueDSNSource(char const* name);
  void setRegValueDSNPermissions(char const* name);
  const char* getRegValueDSNSource() const { return m_dsnSource; }
  const char* getRegValueDSNPermissions() const { return m_dsnPermissions; }

  // Uses the given array of 8-byte column indicators.
  void setExtIndicatorArray(void* indicators) { m_indicators = indicators; }
  void* getExtIndicatorArray() const { return m_indicators; }

  // 0 when the calling thread's connection to the database is open.
  int OpenSQLConnection(int flags);
  // Prepares and starts the SQL text (server dialect accepted); 0 on
  // success, negative on error.
  int ExecuteSQL(char const* sql);
  // 0 a row, 1 no (more) row, negative an error.
  int FetchRow();
  int CloseSQLConnection();

  int GetColumnCount() const;
  bool IsColumnNull(int column) const;
  long long GetColumnInt64(int column) const;
  int GetColumnInt(int column) const { return static_cast<int>(GetColumnInt64(column)); }
  std::string GetColumnString(int column) const;
  const std::string& GetLastError() const { return m_lastError; }

 private:
  char m_dsnSource[256];
  char m_dsnPermissions[256];
  void* m_indicators;
  sqlite3_stmt* m_stmt;
  bool m_open;
  bool m_hasRow;
  std::string m_lastError;
};
