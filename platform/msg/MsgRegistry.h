// The registry of every message class: built once, on first use, from the
// catalogue (msg/catalog/*.def), immutable afterwards and safe to read from
// any thread.
//
// The registry does not judge the catalogue: duplicate indices within a
// class, duplicate type ids or missing sub-message classes are reported by
// the registry test, not at load. Lookups find the first class declared for
// a (module, id) or type id.
#pragma once

#include <stdint.h>

#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "msg/MsgClassInfo.h"

class CMsgRegistry {
 public:
  static const CMsgRegistry& Instance();

  const CMsgClassInfo* Find(int module, int id) const;
  const CMsgClassInfo* FindByTypeId(uint32_t typeId) const;
  // By C++ name, e.g. "TMMsg::VMGroup".
  const CMsgClassInfo* FindByName(const std::string& name) const;

  // Every class in catalogue order, duplicates included.
  const std::vector<std::unique_ptr<CMsgClassInfo>>& Classes() const { return m_classes; }

 private:
  CMsgRegistry();
  static uint64_t Key(int module, int id);

  std::vector<std::unique_ptr<CMsgClassInfo>> m_classes;
  std::unordered_map<uint64_t, const CMsgClassInfo*> m_byAddress;
  std::unordered_map<uint32_t, const CMsgClassInfo*> m_byTypeId;
  std::unordered_map<std::string, const CMsgClassInfo*> m_byName;
};
