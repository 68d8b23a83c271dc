#include "msg/XMLSerializationSupport.h"

XMLSerializationSupport::XMLSerializationSupport() = default;

XMLSerializationSupport::~XMLSerializationSupport() { m_rootTags.clear(); }

void XMLSerializationSupport::ClearCache() { m_rootTags.clear(); }

const std::string* XMLSerializationSupport::Cached(const CMsgClassInfo* cls) const {
  auto it = m_rootTags.find(cls);
  return it == m_rootTags.end() ? nullptr : &it->second;
}

void XMLSerializationSupport::Remember(const CMsgClassInfo* cls, const std::string& text) { m_rootTags[cls] = text; }
