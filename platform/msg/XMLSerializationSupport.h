// Base of XMLSerializer: keeps, per message class, the opening text of its
// root element, so a serializer that writes many messages of one class builds
// it once. The cache is owned here and released by the destructor.
#pragma once

#include <map>
#include <string>

class CMsgClassInfo;

class XMLSerializationSupport {
 public:
  XMLSerializationSupport();
  virtual ~XMLSerializationSupport();
  XMLSerializationSupport(const XMLSerializationSupport&) = delete;
  XMLSerializationSupport& operator=(const XMLSerializationSupport&) = delete;

 protected:
  // Forgets every cached entry.
  void ClearCache();
  // The cached text for cls, or null.
  const std::string* Cached(const CMsgClassInfo* cls) const;
  void Remember(const CMsgClassInfo* cls, const std::string& text);

 private:
  std::map<const CMsgClassInfo*, std::string> m_rootTags;
};
