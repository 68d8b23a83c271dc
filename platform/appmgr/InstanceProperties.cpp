#include "appmgr/InstanceProperties.h"

#include <utility>
#include <vector>

#include "appmgr/InstancePropStore.h"

namespace {

int ResultOf(EStoreResult result) {
  switch (result) {
    case EStoreResult::kOk: return 0;
    case EStoreResult::kMissing: return 1;
    default: return -1;
  }
}

}  // namespace

InstanceProperties::InstanceProperties(int instanceId) : m_instanceId(instanceId) {}

int InstanceProperties::getAttribute(const std::string& name, std::string& value) {
  return ResultOf(CInstancePropStore::GetAttribute(m_instanceId, name, value));
}

int InstanceProperties::setAttribute(const std::string& name, const std::string& value) {
  return CInstancePropStore::SetAttribute(m_instanceId, name, value) ? 0 : -1;
}

int InstanceProperties::isKnown() {
  std::vector<std::pair<std::string, std::string>> attributes;
  const EStoreResult read = CInstancePropStore::Attributes(m_instanceId, attributes);
  if (read == EStoreResult::kFailed) return -1;
  return attributes.empty() ? 1 : 0;
}

int InstanceProperties::putInstance(int clientId, const std::string& name) {
  const int rc = setAttribute(ZN_PROP_INSTANCE_NAME, name);
  return rc != 0 ? rc : setAttribute(ZN_PROP_INSTANCE_CLIENT_ID, std::to_string(clientId));
}
