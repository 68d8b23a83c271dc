#include "appmgr/Instance.h"

#include <strings.h>

bool ApplProperties::getCachedProperty(const std::string& name, std::string& value) const {
  auto it = m_propCache.find(name);
  if (it == m_propCache.end()) return false;
  value = it->second;
  return true;
}

int ApplProperties::storeProperty(const ApplProperty& /*property*/) { return -1; }

bool ApplBackupContent::hasContent(const std::string& path) const {
  for (const std::string& held : m_contentCache) {
    if (m_caseSensitive ? held == path : strcasecmp(held.c_str(), path.c_str()) == 0) return true;
  }
  return false;
}
