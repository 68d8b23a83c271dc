// Everything the message library knows about one message class: its C++
// name (when it has a typed wrapper), its (module, id) address, its type id
// (also the tag of an XML request carrying it) and its field descriptors.
//
// Instances are built once by CMsgRegistry and never change afterwards, so
// they may be read from any thread. Field descriptors are kept ordered by
// their a index; a class with two descriptors of the same a or b is a
// catalogue error that the registry test reports (lookups then find the
// first).
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "msg/MsgFieldInfo.h"

class CNMessageBase;

// One class of the message catalogue, as written in the .def files.
struct SMsgClassDef {
  const char* cxxNamespace;  // empty for classes addressed only by (module, id)
  const char* name;          // empty likewise
  int module;
  int id;
  uint32_t typeId;  // 0: the registry derives one
  const SMsgFieldDef* fields;
  size_t fieldCount;
  CNMessageBase* (*create)();  // null: a plain CNMessageBase of this class
};

class CMsgClassInfo {
 public:
  explicit CMsgClassInfo(const SMsgClassDef& def);
  ~CMsgClassInfo();
  CMsgClassInfo(const CMsgClassInfo&) = delete;
  CMsgClassInfo& operator=(const CMsgClassInfo&) = delete;

  // "TMMsg::VMGroup", or "(12,186)" for a class without a wrapper.
  const std::string& Name() const { return m_name; }
  // Root element name in XML: "TMMsg.VMGroup", or "Msg.12.186".
  const std::string& XmlName() const { return m_xmlName; }
  bool IsNamed() const { return m_named; }
  int Module() const { return m_module; }
  int Id() const { return m_id; }
  uint32_t TypeId() const { return m_typeId; }

  const std::vector<SMsgFieldInfo>& Fields() const { return m_fields; }
  const SMsgFieldInfo* FieldByA(int a) const;
  const SMsgFieldInfo* FieldByB(int b) const;
  // The field (a, b); null when a is unknown or its descriptor has another b.
  const SMsgFieldInfo* Field(int a, int b) const;

  // A new empty message of this class, of its typed wrapper when it has one.
  CNMessageBase* NewInstance() const;
  // A shared empty message of this class: what const reads of a missing
  // sub-message return.
  const CNMessageBase& Empty() const;

  // Derived values used when the catalogue leaves them open. The type id is
  // a compile-time value, so the generated kTypeId of every class is one.
  // It lies outside the range of the type ids the catalogue gives (the
  // registry test checks that no two classes share one).
  static constexpr uint32_t DeriveTypeId(int module, int id) {
    return 0x70000000u | ((static_cast<uint32_t>(module) & 0xFFFu) << 16) | (static_cast<uint32_t>(id) & 0xFFFFu);
  }
  static uint32_t DeriveFieldHash(int module, int id, int a, int b);

 private:
  friend class CMsgRegistry;
  std::vector<SMsgFieldInfo>& MutableFields() { return m_fields; }

  std::string m_name;
  std::string m_xmlName;
  bool m_named;
  int m_module;
  int m_id;
  uint32_t m_typeId;
  CNMessageBase* (*m_create)();
  std::vector<SMsgFieldInfo> m_fields;  // ordered by a (stable)
  std::vector<size_t> m_byB;            // indices into m_fields, ordered by b
  mutable std::once_flag m_emptyOnce;
  mutable std::unique_ptr<CNMessageBase> m_empty;
};
