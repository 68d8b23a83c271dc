// Stored procedures of the stand-in database: handlers registered by name.
// A handler receives the call's inputs (bound values, or the text values
// clause parsed with its quote doubling undone) and answers rows of cells;
// a procedure with a text result answers one row whose first cell is the
// text.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "core/HandlerRegistry.h"
#include "db/DBSqlText.h"

struct SDBProcResult {
  std::vector<std::vector<SDBProcValue>> rows;
  std::string error;  // the text of a non-zero result
};

// 0 on success; any other value is the procedure's error code.
using DBProcHandler = std::function<int(const std::vector<SDBProcValue>& inputs, SDBProcResult& result)>;
using DBProcHandlerRegistry = CHandlerRegistry<std::string, DBProcHandler>;

// Faults a test can inject into one procedure's steps.
enum EDBProcFault {
  DB_PROC_FAIL_NONE = 0,
  DB_PROC_FAIL_EXECUTE = 1,
  DB_PROC_FAIL_FETCH = 2,
  DB_PROC_FAIL_CLOSE = 3,
};

class CDBProcRegistry {
 public:
  // Replaces a handler already registered under the name.
  static void Register(const std::string& name, DBProcHandler handler);
  static void Unregister(const std::string& name);
  static bool Find(const std::string& name, DBProcHandler& out);
  // For a test's CScopedHandler.
  static DBProcHandlerRegistry& Handlers();

  // Fault injection and close counting for tests.
  static void SetFault(const std::string& name, int fault);
  static int Fault(const std::string& name);
  static void CountClose(const std::string& name);
  static int CloseCount(const std::string& name);
  static void ResetCounters();
};
