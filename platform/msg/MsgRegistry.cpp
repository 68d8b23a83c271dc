#include "msg/MsgRegistry.h"

#include "msg/MsgCatalog.h"

const CMsgRegistry& CMsgRegistry::Instance() {
  static const CMsgRegistry registry;
  return registry;
}

uint64_t CMsgRegistry::Key(int module, int id) {
  return (static_cast<uint64_t>(static_cast<uint32_t>(module)) << 32) | static_cast<uint32_t>(id);
}

CMsgRegistry::CMsgRegistry() {
  size_t count = 0;
  const SMsgClassDef* defs = CMsgCatalog::Classes(&count);
  m_classes.reserve(count);
  for (size_t i = 0; i < count; ++i) {
    m_classes.push_back(std::make_unique<CMsgClassInfo>(defs[i]));
    const CMsgClassInfo* cls = m_classes.back().get();
    m_byAddress.emplace(Key(cls->Module(), cls->Id()), cls);
    m_byTypeId.emplace(cls->TypeId(), cls);
    m_byName.emplace(cls->Name(), cls);
  }
  // Sub-message classes are resolved once every class exists, so a field may
  // name a class declared after its own.
  for (auto& cls : m_classes) {
    for (SMsgFieldInfo& f : cls->MutableFields()) {
      if (f.kind == EMsgKind::Message) f.sub = Find(f.subModule, f.subId);
    }
  }
}

const CMsgClassInfo* CMsgRegistry::Find(int module, int id) const {
  auto it = m_byAddress.find(Key(module, id));
  return it == m_byAddress.end() ? nullptr : it->second;
}

const CMsgClassInfo* CMsgRegistry::FindByTypeId(uint32_t typeId) const {
  auto it = m_byTypeId.find(typeId);
  return it == m_byTypeId.end() ? nullptr : it->second;
}

const CMsgClassInfo* CMsgRegistry::FindByName(const std::string& name) const {
  auto it = m_byName.find(name);
  return it == m_byName.end() ? nullptr : it->second;
}
