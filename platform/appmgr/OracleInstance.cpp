#include "appmgr/OracleInstance.h"

#include <limits.h>

#include "appmgr/InstanceProperties.h"

OracleInstance::OracleInstance(unsigned long instanceId) : m_instanceId(instanceId) {}

int OracleInstance::getOracleHome(std::string& home, void*) {
  if (m_instanceId == 0 || m_instanceId > static_cast<unsigned long>(INT_MAX)) return -1;
  InstanceProperties properties(static_cast<int>(m_instanceId));
  const int known = properties.isKnown();
  if (known != 0) return known > 0 ? 2 : -1;
  std::string value;
  const int rc = properties.getAttribute(ZN_PROP_ORACLE_HOME, value);
  if (rc < 0) return rc;
  home = rc == 0 ? value : std::string();
  return 0;
}
