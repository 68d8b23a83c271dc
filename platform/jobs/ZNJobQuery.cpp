#include "jobs/ZNJobQuery.h"

#include "jobs/JobStore.h"

int ZNJobQuery::init(const char* hostName) {
  if (!hostName || !*hostName) return -1;
  m_host = hostName;
  return 0;
}

int ZNJobQuery::getOpTypeForJob(long long jobId, ZNOpType& opType) {
  if (m_host.empty()) return -1;
  int stored = 0;
  if (CJobStore::GetOperationType(jobId, stored) != EStoreResult::kOk) return -2;
  opType = static_cast<ZNOpType>(stored);
  return 0;
}
