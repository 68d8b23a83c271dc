// A job query object bound to the management server.
#pragma once

#include <string>

class ZNJobQuery {
 public:
  ZNJobQuery() : m_platformType(0) {}
  void setPlatformType(int type) { m_platformType = type; }
  // 0 on success; fails for an empty host name.
  int init(const char* hostName);
  const std::string& hostName() const { return m_host; }
  int platformType() const { return m_platformType; }

 private:
  int m_platformType;
  std::string m_host;
};
