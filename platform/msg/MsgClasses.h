// Typed wrappers of the catalogued message classes (msg/catalog/*.def), e.g.
// TMMsg::VMGroup, Api::VirtualApp. A wrapper is a CNMessageBase of its class
// with nothing added: it is built empty of that class, copies deeply, and can
// be built from (or assigned) a generic message of the same class; one of
// another class is refused and logged. Classes without a wrapper are reached
// generically, e.g. CNMessageBase(TMMsg::DRGroupConfigFields::ClassInfo()).
//
// Every class also carries its constants: kModule, kId, kTypeId (the type id
// the catalogue gives, or the one the registry derives) and one SMsgField per
// field, named in the catalogue (Api::VirtualAppJob::kReplicationId). A class
// without a wrapper has them in a struct of its namespace named after it with
// "Fields" appended (TMMsg::DRGroupConfigFields::kPriorities).
#pragma once

#include <stdint.h>

#include "msg/MsgField.h"
#include "msg/NMessageBase.h"

#define DR_MSG_CONSTANTS(module, id, typeId)                                                         \
  static constexpr int kModule = module;                                                             \
  static constexpr int kId = id;                                                                     \
  static constexpr uint32_t kTypeId =                                                                \
      (typeId) != 0 ? static_cast<uint32_t>(typeId) : CMsgClassInfo::DeriveTypeId(module, id);       \
  static const CMsgClassInfo& ClassInfo();

#define DR_MSG_CLASS(ns, name, module, id, typeId) \
  namespace ns {                                   \
  class name : public CNMessageBase {              \
   public:                                         \
    DR_MSG_CONSTANTS(module, id, typeId)           \
    name();                                        \
    explicit name(const CNMessageBase& other);     \
    using CNMessageBase::operator=;
#define DR_MSG_ANON(ns, name, module, id, typeId) \
  namespace ns {                                  \
  struct name##Fields {                           \
    DR_MSG_CONSTANTS(module, id, typeId)
#define DR_MSG_FIELD(name, a, b, hash, kind) static constexpr SMsgField name{a, b, kModule, kId};
#define DR_MSG_FIELD_LIST(name, a, b, hash, kind) static constexpr SMsgField name{a, b, kModule, kId};
#define DR_MSG_OBJECT(name, a, b, hash, module, id) static constexpr SMsgField name{a, b, kModule, kId};
#define DR_MSG_OBJECT_LIST(name, a, b, hash, module, id) static constexpr SMsgField name{a, b, kModule, kId};
#define DR_MSG_END() \
  };                 \
  }
#include "msg/catalog/MsgCatalog.def"
#undef DR_MSG_CONSTANTS
#undef DR_MSG_CLASS
#undef DR_MSG_ANON
#undef DR_MSG_FIELD
#undef DR_MSG_FIELD_LIST
#undef DR_MSG_OBJECT
#undef DR_MSG_OBJECT_LIST
#undef DR_MSG_END
