// What the owners of the management server's own tables (APP_...) share:
// the calling thread's connection with the owner's table in place, created
// from the columns its binding registered, and the server's form of a time.
#pragma once

#include <string>

#include "db/DBConnection.h"
#include "db/DBStatement.h"

// Null (logged) when the database or the table cannot be reached.
CDBConnection* AppTableReady(const char* function, const char* table);

// "YYYY-MM-DD HH:MM:SS" (UTC) of the platform clock's now: how the server's
// date-time columns hold a time.
std::string AppTableNow();
