#include "msg/MsgClasses.h"

#include "msg/MsgRegistry.h"

#define DR_MSG_CLASS_INFO(cls, module, id)                                                   \
  const CMsgClassInfo& cls::ClassInfo() {                                                    \
    static const CMsgClassInfo* const info = CMsgRegistry::Instance().Find(module, id);      \
    return *info;                                                                            \
  }
#define DR_MSG_CLASS(ns, name, module, id, typeId)                          \
  ns::name::name() : CNMessageBase(ClassInfo()) {}                          \
  ns::name::name(const CNMessageBase& other) : CNMessageBase(ClassInfo()) { \
    CNMessageBase::operator=(other);                                        \
  }                                                                         \
  DR_MSG_CLASS_INFO(ns::name, module, id)
#define DR_MSG_ANON(ns, name, module, id, typeId) DR_MSG_CLASS_INFO(ns::name##Fields, module, id)
#define DR_MSG_FIELD(name, a, b, hash, kind)
#define DR_MSG_FIELD_LIST(name, a, b, hash, kind)
#define DR_MSG_OBJECT(name, a, b, hash, module, id)
#define DR_MSG_OBJECT_LIST(name, a, b, hash, module, id)
#define DR_MSG_END()
#include "msg/catalog/MsgCatalog.def"
