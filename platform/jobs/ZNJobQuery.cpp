#include "jobs/ZNJobQuery.h"

int ZNJobQuery::init(const char* hostName) {
  if (!hostName || !*hostName) return -1;
  m_host = hostName;
  return 0;
}
