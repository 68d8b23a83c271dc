// Typed wrappers of the catalogued message classes (msg/catalog/*.def), e.g.
// TMMsg::VMGroup, Api::VirtualApp. A wrapper is a CNMessageBase of its class
// with nothing added: it is built empty of that class, copies deeply, and can
// be built from (or assigned) a generic message of the same class; one of
// another class is refused and logged. Classes without a wrapper are reached
// generically, e.g. CNMessageBase(12, 186).
#pragma once

#include "msg/NMessageBase.h"

#define DR_MSG_CLASS(ns, name, module, id, typeId)          \
  namespace ns {                                             \
  class name : public CNMessageBase {                        \
   public:                                                   \
    name();                                                  \
    explicit name(const CNMessageBase& other);               \
    using CNMessageBase::operator=;                          \
    static const CMsgClassInfo& ClassInfo();                 \
  };                                                         \
  }
#define DR_MSG_ANON(module, id, typeId)
#define DR_MSG_FIELD(a, b, hash, kind)
#define DR_MSG_FIELD_LIST(a, b, hash, kind)
#define DR_MSG_OBJECT(a, b, hash, module, id)
#define DR_MSG_OBJECT_LIST(a, b, hash, module, id)
#define DR_MSG_END()
#include "msg/catalog/MsgCatalog.def"
#undef DR_MSG_CLASS
#undef DR_MSG_ANON
#undef DR_MSG_FIELD
#undef DR_MSG_FIELD_LIST
#undef DR_MSG_OBJECT
#undef DR_MSG_OBJECT_LIST
#undef DR_MSG_END
