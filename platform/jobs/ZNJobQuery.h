// A job query object bound to the management server.
#pragma once

#include <string>

#include "msg/MsgEnums.h"

class ZNJobQuery {
 public:
  ZNJobQuery() : m_platformType(0) {}
  void setPlatformType(int type) { m_platformType = type; }
  // 0 on success; fails for an empty host name.
  int init(const char* hostName);
  const std::string& hostName() const { return m_host; }
  int platformType() const { return m_platformType; }
  // The operation type the job manager records for the job. 0 on success;
  // non-zero (opType untouched) when the query is not initialised or the
  // job is unknown.
  int getOpTypeForJob(long long jobId, ZNOpType& opType);

 private:
  int m_platformType;
  std::string m_host;
};
