#include "msg/MsgClassInfo.h"

#include <algorithm>

#include "msg/NMessageBase.h"

CMsgClassInfo::CMsgClassInfo(const SMsgClassDef& def)
    : m_named(def.name && *def.name),
      m_module(def.module),
      m_id(def.id),
      m_typeId(def.typeId ? def.typeId : DeriveTypeId(def.module, def.id)),
      m_create(def.create) {
  if (m_named) {
    m_name = std::string(def.cxxNamespace) + "::" + def.name;
    m_xmlName = std::string(def.cxxNamespace) + "." + def.name;
  } else {
    m_name = "(" + std::to_string(m_module) + "," + std::to_string(m_id) + ")";
    m_xmlName = "Msg." + std::to_string(m_module) + "." + std::to_string(m_id);
  }
  m_fields.reserve(def.fieldCount);
  for (size_t i = 0; i < def.fieldCount; ++i) {
    const SMsgFieldDef& d = def.fields[i];
    uint32_t hash = d.hash ? d.hash : DeriveFieldHash(m_module, m_id, d.a, d.b);
    m_fields.push_back(SMsgFieldInfo{d.a, d.b, hash, d.kind, d.list, d.subModule, d.subId, nullptr, d.name});
  }
  std::stable_sort(m_fields.begin(), m_fields.end(),
                   [](const SMsgFieldInfo& x, const SMsgFieldInfo& y) { return x.a < y.a; });
  m_byB.resize(m_fields.size());
  for (size_t i = 0; i < m_byB.size(); ++i) m_byB[i] = i;
  std::stable_sort(m_byB.begin(), m_byB.end(),
                   [this](size_t x, size_t y) { return m_fields[x].b < m_fields[y].b; });
}

CMsgClassInfo::~CMsgClassInfo() = default;

const SMsgFieldInfo* CMsgClassInfo::FieldByA(int a) const {
  auto it = std::lower_bound(m_fields.begin(), m_fields.end(), a,
                             [](const SMsgFieldInfo& f, int v) { return f.a < v; });
  return (it != m_fields.end() && it->a == a) ? &*it : nullptr;
}

const SMsgFieldInfo* CMsgClassInfo::FieldByB(int b) const {
  auto it = std::lower_bound(m_byB.begin(), m_byB.end(), b,
                             [this](size_t i, int v) { return m_fields[i].b < v; });
  return (it != m_byB.end() && m_fields[*it].b == b) ? &m_fields[*it] : nullptr;
}

const SMsgFieldInfo* CMsgClassInfo::Field(int a, int b) const {
  const SMsgFieldInfo* f = FieldByA(a);
  return (f && f->b == b) ? f : nullptr;
}

CNMessageBase* CMsgClassInfo::NewInstance() const {
  return m_create ? m_create() : new CNMessageBase(*this);
}

const CNMessageBase& CMsgClassInfo::Empty() const {
  std::call_once(m_emptyOnce, [this] { m_empty.reset(NewInstance()); });
  return *m_empty;
}

uint32_t CMsgClassInfo::DeriveFieldHash(int module, int id, int a, int b) {
  // FNV-1a over the four numbers, folded to 24 bits like the given hashes.
  uint32_t h = 2166136261u;
  for (int v : {module, id, a, b}) {
    uint32_t u = static_cast<uint32_t>(v);
    for (int i = 0; i < 4; ++i) {
      h ^= (u >> (8 * i)) & 0xFFu;
      h *= 16777619u;
    }
  }
  h &= 0xFFFFFFu;
  return h ? h : 1;
}
