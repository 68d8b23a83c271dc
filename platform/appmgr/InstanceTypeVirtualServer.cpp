#include "appmgr/InstanceTypeVirtualServer.h"

#include <stdlib.h>

#include <utility>
#include <vector>

#include "appmgr/InstancePropStore.h"

InstanceTypeVirtualServer::InstanceTypeVirtualServer(long long instanceId) : m_instanceId(instanceId) {}

bool InstanceTypeVirtualServer::Load() {
  if (m_loaded) return true;
  std::vector<std::pair<std::string, std::string>> rows;
  if (CInstancePropStore::Attributes(m_instanceId, rows) != EStoreResult::kOk) return false;
  for (const auto& row : rows) propertyCallback(row.first.c_str(), row.second.c_str());
  m_loaded = true;
  return true;
}

int InstanceTypeVirtualServer::getProperty(const std::string& name, std::string& value) {
  if (!Load()) return -1;
  return getCachedProperty(name, value) ? 0 : 1;
}

int InstanceTypeVirtualServer::getFBRUnixMediaAgent(unsigned long& clientId) {
  std::string text;
  const int rc = getProperty(ZN_PROP_FBR_UNIX_MEDIA_AGENT, text);
  if (rc < 0) return rc;
  const unsigned long id = rc == 0 ? strtoul(text.c_str(), nullptr, 10) : 0;
  if (id == 0) return kNoFBRMediaAgent;
  clientId = id;
  return 0;
}

int InstanceTypeVirtualServer::storeProperty(const ApplProperty& property) {
  if (!CInstancePropStore::SetAttribute(m_instanceId, property.name, property.value)) return -1;
  addToPropCache(property.name, property.value);
  return 0;
}
