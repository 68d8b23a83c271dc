// The job simulator's stores: their statements (CDBStatement), short id lists
// in one column and the connection with a store's tables in place.
#pragma once

#include <sqlite3.h>

#include <string>
#include <vector>

#include "core/StoreResult.h"
#include "db/DBConnection.h"
#include "db/DBStatement.h"

// The simulator's stores were the first to need it.
using CSimStatement = CDBStatement;

// "1,2,3" and back; the simulator keeps short id lists in one column.
std::string JoinIds(const std::vector<long long>& ids);
std::string JoinIds(const std::vector<int>& ids);
std::vector<long long> SplitIds(const std::string& text);
std::vector<int> SplitIntIds(const std::string& text);

// The calling thread's connection with a store's tables in place: create
// runs once per connection under the key. Null (logged) when the database
// cannot be reached.
CDBConnection* SimReady(const char* function, const char* key, int (*create)(CDBConnection&));
