#include "msg/MsgCatalog.h"

#include <iterator>

#include "msg/MsgClasses.h"

namespace {

template <class T>
CNMessageBase* NewTyped() {
  return new T();
}

// Field rows, one array per class; a sentinel row ends each so that a class
// without fields still has an array. Classes without a wrapper keep an empty
// C++ name here: their name in the catalogue names only their constants, and
// their XML form stays "Msg.<module>.<id>".
#define DR_MSG_CLASS(ns, name, module, id, typeId) const SMsgFieldDef kFields_##module##_##id[] = {
#define DR_MSG_ANON(ns, name, module, id, typeId) const SMsgFieldDef kFields_##module##_##id[] = {
#define DR_MSG_FIELD(name, a, b, hash, kind) {a, b, hash, EMsgKind::kind, false, 0, 0, #name},
#define DR_MSG_FIELD_LIST(name, a, b, hash, kind) {a, b, hash, EMsgKind::kind, true, 0, 0, #name},
#define DR_MSG_OBJECT(name, a, b, hash, module, id) {a, b, hash, EMsgKind::Message, false, module, id, #name},
#define DR_MSG_OBJECT_LIST(name, a, b, hash, module, id) {a, b, hash, EMsgKind::Message, true, module, id, #name},
#define DR_MSG_END() {-1, -1, 0, EMsgKind::Bool, false, 0, 0, nullptr}};
#include "msg/catalog/MsgCatalog.def"
#undef DR_MSG_CLASS
#undef DR_MSG_ANON
#undef DR_MSG_FIELD
#undef DR_MSG_FIELD_LIST
#undef DR_MSG_OBJECT
#undef DR_MSG_OBJECT_LIST
#undef DR_MSG_END

#define DR_MSG_CLASS(ns, name, module, id, typeId)                                                \
  {#ns, #name, module, id, typeId, kFields_##module##_##id, std::size(kFields_##module##_##id) - 1, \
   &NewTyped<ns::name>},
#define DR_MSG_ANON(ns, name, module, id, typeId) \
  {"", "", module, id, typeId, kFields_##module##_##id, std::size(kFields_##module##_##id) - 1, nullptr},
#define DR_MSG_FIELD(name, a, b, hash, kind)
#define DR_MSG_FIELD_LIST(name, a, b, hash, kind)
#define DR_MSG_OBJECT(name, a, b, hash, module, id)
#define DR_MSG_OBJECT_LIST(name, a, b, hash, module, id)
#define DR_MSG_END()
const SMsgClassDef kClasses[] = {
#include "msg/catalog/MsgCatalog.def"
};

}  // namespace

const SMsgClassDef* CMsgCatalog::Classes(size_t* count) {
  *count = std::size(kClasses);
  return kClasses;
}
