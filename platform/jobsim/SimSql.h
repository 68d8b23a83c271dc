// Statements of the job simulator's stores (CDBStatement, on the calling
// thread's connection) and the id lists they keep in one column.
#pragma once

#include <string>
#include <vector>

#include "core/StoreResult.h"
#include "db/DBConnection.h"
#include "db/DBStatement.h"

using CSimStatement = CDBStatement;

// "1,2,3" and back; the simulator keeps short id lists in one column.
std::string JoinIds(const std::vector<long long>& ids);
std::string JoinIds(const std::vector<int>& ids);
std::vector<long long> SplitIds(const std::string& text);
std::vector<int> SplitIntIds(const std::string& text);

inline CDBConnection* SimReady(const char* function, const char* key, int (*create)(CDBConnection&)) {
  return DBStoreReady(function, key, create);
}
