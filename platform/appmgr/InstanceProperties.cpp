#include "appmgr/InstanceProperties.h"

#include "appmgr/ComponentProperties.h"

InstanceProperties::InstanceProperties(int instanceId) : m_instanceId(instanceId) {}

int InstanceProperties::getAttribute(const std::string& name, std::string& value) {
  return CComponentProperties(kTable, m_instanceId).Get(name, value);
}

int InstanceProperties::setAttribute(const std::string& name, const std::string& value) {
  return CComponentProperties(kTable, m_instanceId).Set(name, value);
}

int InstanceProperties::isKnown() { return CComponentProperties(kTable, m_instanceId).Any(); }

int InstanceProperties::putInstance(int clientId, const std::string& name) {
  const int rc = setAttribute(ZN_PROP_INSTANCE_NAME, name);
  return rc != 0 ? rc : setAttribute(ZN_PROP_INSTANCE_CLIENT_ID, std::to_string(clientId));
}

bool InstanceProperties::CreateTables() { return CComponentProperties::Ready(kTable); }
