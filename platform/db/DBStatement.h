// One statement of a simulated store on the calling thread's connection:
// bound by position, released on every path, a failure logged once with the
// statement's owner and the database's reason. The job simulator's and the
// labs' stores use it (as CSimStatement), and so do most owners of the
// management server's tables, the replica-sync replications, the remote
// commands and the database hosts. The stores of jobs/ (jobs, the lab's
// knobs and users, tasks, phase rows), the VM replications, the global
// parameters and a few appmgr owners (client properties, client activity,
// activity control, DR group properties) step their statements themselves.
#pragma once

#include <sqlite3.h>

#include <string>

#include "core/StoreResult.h"
#include "db/DBConnection.h"

class CDBStatement {
 public:
  // A null connection or a statement that does not prepare leaves !Ok().
  CDBStatement(CDBConnection* c, const char* function, const std::string& sql);
  ~CDBStatement();
  CDBStatement(const CDBStatement&) = delete;
  CDBStatement& operator=(const CDBStatement&) = delete;

  bool Ok() const { return m_stmt != nullptr; }
  CDBStatement& Bind(long long value);
  CDBStatement& Bind(const std::string& value);
  CDBStatement& BindReal(double value);
  CDBStatement& BindNull();

  // The next row: true while there is one; false at the end or on an error
  // (Failed() tells which; the error is logged).
  bool Next();
  // Runs a statement that returns no row: kOk, or kFailed (logged).
  EStoreResult Run();
  bool Failed() const { return m_failed; }
  // Rows the last write changed.
  int Changes() const;

  long long Int(int col) const { return sqlite3_column_int64(m_stmt, col); }
  double Real(int col) const { return sqlite3_column_double(m_stmt, col); }
  bool IsNull(int col) const { return sqlite3_column_type(m_stmt, col) == SQLITE_NULL; }
  std::string Text(int col) const;

 private:
  void Fail(int rc);

  CDBConnection* m_c;
  const char* m_function;
  sqlite3_stmt* m_stmt = nullptr;
  int m_next = 1;
  bool m_failed = false;
};

// The calling thread's connection with a store's tables in place: create
// runs once per connection under the key. Null (logged) when the database
// cannot be reached.
CDBConnection* DBStoreReady(const char* function, const char* key, int (*create)(CDBConnection&));
