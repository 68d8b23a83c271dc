#include "msg/MsgClasses.h"

#include "msg/MsgRegistry.h"

#define DR_MSG_CLASS(ns, name, module, id, typeId)                                           \
  ns::name::name() : CNMessageBase(ClassInfo()) {}                                           \
  ns::name::name(const CNMessageBase& other) : CNMessageBase(ClassInfo()) {                  \
    CNMessageBase::operator=(other);                                                         \
  }                                                                                          \
  const CMsgClassInfo& ns::name::ClassInfo() {                                               \
    static const CMsgClassInfo* const info = CMsgRegistry::Instance().Find(module, id);      \
    return *info;                                                                            \
  }
#define DR_MSG_ANON(module, id, typeId)
#define DR_MSG_FIELD(a, b, hash, kind)
#define DR_MSG_FIELD_LIST(a, b, hash, kind)
#define DR_MSG_OBJECT(a, b, hash, module, id)
#define DR_MSG_OBJECT_LIST(a, b, hash, module, id)
#define DR_MSG_END()
#include "msg/catalog/MsgCatalog.def"
