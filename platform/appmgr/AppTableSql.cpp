#include "appmgr/AppTableSql.h"

#include <stdio.h>
#include <time.h>

#include "log/EvEvent.h"
#include "time/PlatformClock.h"

CDBConnection* AppTableReady(const char* function, const char* table) {
  CDBConnection* c = CDBConnection::ForThread();
  if (c != nullptr && c->EnsureTable(table) == DB_OK) return c;
  EvDebug().Error(function, "Cannot reach table [%s]: [%s]", table,
                  c != nullptr ? c->LastErrorText().c_str() : "no database");
  return nullptr;
}

std::string AppTableNow() {
  const time_t now = static_cast<time_t>(CPlatformClock::Instance().NowEpochSeconds());
  struct tm parts;
  gmtime_r(&now, &parts);
  char text[64];
  snprintf(text, sizeof(text), "%04d-%02d-%02d %02d:%02d:%02d", parts.tm_year + 1900, parts.tm_mon + 1,
           parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec);
  return text;
}
