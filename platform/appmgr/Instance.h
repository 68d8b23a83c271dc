// An application instance of the management server as the platform's
// instance objects see it: its properties (a cache the instance fills, and
// a store it writes changes to) and its backup content (a cache of paths,
// compared with or without regard to case).
//
// The two parts are virtual bases, so an instance type that reaches them
// along several paths has one of each. Instance's inline members are the
// callbacks the instance's readers call: each hands its arguments to the
// part it belongs to.
//
// Threads: one instance object per thread.
#pragma once

#include <map>
#include <string>
#include <vector>

// One property of an entity: name, text value and the server's type of the
// value (2: text).
struct ApplProperty {
  std::string name;
  std::string value;
  int type = 2;
};

class ApplProperties {
 public:
  virtual ~ApplProperties() = default;

  // Remembers a property the instance read (a later one of the same name
  // replaces it).
  void addToPropCache(const std::string& name, const std::string& value) { m_propCache[name] = value; }
  // False when the cache holds no property of that name.
  bool getCachedProperty(const std::string& name, std::string& value) const;
  // Writes a changed property: 0 on success. The base stores nothing and
  // refuses.
  virtual int storeProperty(const ApplProperty& property);

 protected:
  std::map<std::string, std::string> m_propCache;
};

class ApplBackupContent {
 public:
  virtual ~ApplBackupContent() = default;

  void addToContentCache(const std::string& path) { m_contentCache.push_back(path); }
  const std::vector<std::string>& contentCache() const { return m_contentCache; }
  bool isCaseSensitive() const { return m_caseSensitive; }
  // True when the cache holds the path (compared as the flag says).
  bool hasContent(const std::string& path) const;

 protected:
  std::vector<std::string> m_contentCache;
  bool m_caseSensitive = false;
};

class Instance : public virtual ApplBackupContent, public virtual ApplProperties {
 public:
  ~Instance() override = default;

  // A property read from the server.
  void propertyCallback(const char* name, const char* value) {
    addToPropCache(name != nullptr ? name : "", value != nullptr ? value : "");
  }
  // A property to write back: 0 on success.
  int updatePropertyCallback(const char* name, const char* value, int type) {
    ApplProperty property;
    property.name = name != nullptr ? name : "";
    property.value = value != nullptr ? value : "";
    property.type = type;
    return storeProperty(property);
  }
  // A content path read from the server.
  void contentCallback(const char* path) { addToContentCache(path != nullptr ? path : ""); }
  void SetCaseSensitive(bool on) { m_caseSensitive = on; }
};
