#include "msg/NMessageBase.h"

#include <float.h>
#include <stdarg.h>
#include <stdio.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

#include "core/Printf.h"
#include "log/EvEvent.h"
#include "msg/MsgRegistry.h"
#include "msg/MsgXmlReader.h"
#include "msg/MsgXmlWriter.h"

// A number on its way in or out of a message, in the storage it came from.
struct CNMessageBase::SNumber {
  EMsgStorage storage;
  int64_t s;
  uint64_t u;
  double r;

  static SNumber Signed(int64_t v) { return SNumber{EMsgStorage::Signed, v, 0, 0.0}; }
  static SNumber Unsigned(uint64_t v) { return SNumber{EMsgStorage::Unsigned, 0, v, 0.0}; }
  static SNumber Real(double v) { return SNumber{EMsgStorage::Real, 0, 0, v}; }
};

namespace {

void LogError(const char* op, const char* fmt, ...) DR_PRINTF(2, 3);

void LogError(const char* op, const char* fmt, ...) {
  char text[512];
  va_list ap;
  va_start(ap, fmt);
  vsnprintf(text, sizeof(text), fmt, ap);
  va_end(ap);
  EvDebug().Error(op, "%s", text);
}

const std::string& EmptyString() {
  static const std::string empty;
  return empty;
}

const CNMessageBase& EmptyClassless() {
  static const CNMessageBase empty;
  return empty;
}

const char* KindText(const SMsgFieldInfo& f) { return f.list ? "list" : MsgKindTag(f.kind); }

// Reals into integers saturate (NaN gives 0) instead of being undefined.
template <class T>
T SaturateReal(double r) {
  if constexpr (std::is_same_v<T, bool>) {
    return r != 0.0;
  } else if constexpr (std::is_floating_point_v<T>) {
    if (std::isfinite(r) && std::fabs(r) > static_cast<double>(std::numeric_limits<T>::max()))
      return std::copysign(std::numeric_limits<T>::infinity(), static_cast<T>(r > 0 ? 1 : -1));
    return static_cast<T>(r);
  } else {
    if (std::isnan(r)) return 0;
    if (r <= static_cast<double>(std::numeric_limits<T>::min())) return std::numeric_limits<T>::min();
    if (r >= static_cast<double>(std::numeric_limits<T>::max())) return std::numeric_limits<T>::max();
    return static_cast<T>(r);
  }
}

}  // namespace

namespace {

// The number as the field's kind stores it; false when it does not fit.
bool ToStored(EMsgKind kind, EMsgStorage from, int64_t s, uint64_t u, double r, int64_t& outS, uint64_t& outU,
              double& outR) {
  const bool isSigned = from == EMsgStorage::Signed;
  const bool isUnsigned = from == EMsgStorage::Unsigned;
  switch (kind) {
    case EMsgKind::Bool:
      if (isSigned && (s == 0 || s == 1)) return outS = s, true;
      if (isUnsigned && u <= 1) return outS = static_cast<int64_t>(u), true;
      return false;
    case EMsgKind::Int32:
      if (isSigned && s >= INT32_MIN && s <= INT32_MAX) return outS = s, true;
      if (isUnsigned && u <= static_cast<uint64_t>(INT32_MAX)) return outS = static_cast<int64_t>(u), true;
      return false;
    case EMsgKind::UInt32:
      if (isSigned && s >= 0 && s <= static_cast<int64_t>(UINT32_MAX)) return outS = s, true;
      if (isUnsigned && u <= UINT32_MAX) return outS = static_cast<int64_t>(u), true;
      return false;
    case EMsgKind::Int64:
      if (isSigned) return outS = s, true;
      if (isUnsigned && u <= static_cast<uint64_t>(INT64_MAX)) return outS = static_cast<int64_t>(u), true;
      return false;
    case EMsgKind::UInt64:
      if (isSigned && s >= 0) return outU = static_cast<uint64_t>(s), true;
      if (isUnsigned) return outU = u, true;
      return false;
    case EMsgKind::Float: {
      double v = isSigned ? static_cast<double>(s) : isUnsigned ? static_cast<double>(u) : r;
      if (std::isfinite(v) && std::fabs(v) > static_cast<double>(FLT_MAX)) return false;
      outR = static_cast<double>(static_cast<float>(v));
      return true;
    }
    case EMsgKind::Double:
      outR = isSigned ? static_cast<double>(s) : isUnsigned ? static_cast<double>(u) : r;
      return true;
    case EMsgKind::String:
    case EMsgKind::Message:
      break;
  }
  return false;
}

size_t ListLength(const VMsgValue& v) {
  switch (v.index()) {
    case 5: return std::get<5>(v).size();
    case 6: return std::get<6>(v).size();
    case 7: return std::get<7>(v).size();
    case 8: return std::get<8>(v).size();
    case 9: return std::get<9>(v).size();
    default: return 0;
  }
}

template <size_t N>
bool EraseAt(VMsgValue& v, size_t index) {
  auto& vec = std::get<N>(v);
  if (index >= vec.size()) return false;
  vec.erase(vec.begin() + static_cast<std::ptrdiff_t>(index));
  return true;
}

}  // namespace

// ---------------------------------------------------------------- life cycle

CNMessageBase::CNMessageBase() : m_class(nullptr) {}

CNMessageBase::CNMessageBase(const CMsgClassInfo& cls) : m_class(&cls) {}

CNMessageBase::CNMessageBase(int module, int id) : m_class(CMsgRegistry::Instance().Find(module, id)) {
  if (!m_class) LogError("CNMessageBase", "No message class [%d,%d] is registered", module, id);
}

CNMessageBase::~CNMessageBase() = default;

CNMessageBase& CNMessageBase::operator=(const CNMessageBase& other) {
  if (this == &other) return *this;
  if (m_class && other.m_class != m_class) {
    LogError("operator=", "Cannot assign a [%s] message to a [%s] message", other.ClassName().c_str(),
             ClassName().c_str());
    return *this;
  }
  // Copy before replacing: other may live inside this message.
  std::vector<SMsgSlot> copy(other.m_slots);
  m_class = other.m_class;
  m_slots.swap(copy);
  return *this;
}

CNMessageBase& CNMessageBase::operator=(CNMessageBase&& other) {
  if (this == &other) return *this;
  if (m_class && other.m_class != m_class) {
    LogError("operator=", "Cannot assign a [%s] message to a [%s] message", other.ClassName().c_str(),
             ClassName().c_str());
    return *this;
  }
  std::vector<SMsgSlot> taken(std::move(other.m_slots));
  other.m_slots.clear();
  m_class = other.m_class;
  m_slots.swap(taken);
  return *this;
}

std::unique_ptr<CNMessageBase> CNMessageBase::Create(int module, int id) {
  const CMsgClassInfo* cls = CMsgRegistry::Instance().Find(module, id);
  if (!cls) {
    LogError("Create", "No message class [%d,%d] is registered", module, id);
    return nullptr;
  }
  return std::unique_ptr<CNMessageBase>(cls->NewInstance());
}

int CNMessageBase::Module() const { return m_class ? m_class->Module() : 0; }
int CNMessageBase::Id() const { return m_class ? m_class->Id() : 0; }
uint32_t CNMessageBase::TypeId() const { return m_class ? m_class->TypeId() : 0; }
std::string CNMessageBase::ClassName() const { return m_class ? m_class->Name() : std::string("(no class)"); }

// ---------------------------------------------------------------- lookups

const SMsgFieldInfo* CNMessageBase::Resolve(int a, int b, const char* op) const {
  if (!m_class) {
    LogError(op, "Message has no class; field [%d,%d] ignored", a, b);
    return nullptr;
  }
  const SMsgFieldInfo* f = m_class->FieldByA(a);
  if (f && f->b == b) return f;
  if (f)
    LogError(op, "Field [%d] of [%s] has the index pair [%d,%d], not [%d,%d]", a, m_class->Name().c_str(), f->a,
             f->b, a, b);
  else
    LogError(op, "Class [%s] has no field [%d,%d]", m_class->Name().c_str(), a, b);
  return nullptr;
}

const SMsgFieldInfo* CNMessageBase::ResolveB(int b, const char* op) const {
  if (!m_class) {
    LogError(op, "Message has no class; field [b=%d] ignored", b);
    return nullptr;
  }
  const SMsgFieldInfo* f = m_class->FieldByB(b);
  if (!f) LogError(op, "Class [%s] has no field with read index [%d]", m_class->Name().c_str(), b);
  return f;
}

const SMsgSlot* CNMessageBase::FindSlot(int a) const {
  auto it = std::lower_bound(m_slots.begin(), m_slots.end(), a,
                             [](const SMsgSlot& s, int v) { return s.field->a < v; });
  return (it != m_slots.end() && it->field->a == a) ? &*it : nullptr;
}

SMsgSlot* CNMessageBase::FindSlot(int a) {
  return const_cast<SMsgSlot*>(static_cast<const CNMessageBase*>(this)->FindSlot(a));
}

SMsgSlot& CNMessageBase::Touch(const SMsgFieldInfo* field) {
  auto it = std::lower_bound(m_slots.begin(), m_slots.end(), field->a,
                             [](const SMsgSlot& s, int v) { return s.field->a < v; });
  if (it != m_slots.end() && it->field->a == field->a) return *it;
  VMsgValue value;
  switch (MsgValueIndex(*field)) {
    case 0: value.emplace<0>(0); break;
    case 1: value.emplace<1>(0u); break;
    case 2: value.emplace<2>(0.0); break;
    case 3: value.emplace<3>(); break;
    case 4: value.emplace<4>(field->sub ? field->sub->NewInstance() : nullptr); break;
    case 5: value.emplace<5>(); break;
    case 6: value.emplace<6>(); break;
    case 7: value.emplace<7>(); break;
    case 8: value.emplace<8>(); break;
    default: value.emplace<9>(); break;
  }
  return *m_slots.insert(it, SMsgSlot{field, std::move(value)});
}

const SMsgFieldInfo* CNMessageBase::ListField(int a, int b, const char* op) const {
  const SMsgFieldInfo* f = Resolve(a, b, op);
  if (f && !f->list) {
    LogError(op, "Field [%d,%d] of [%s] is not a list", a, b, m_class->Name().c_str());
    return nullptr;
  }
  return f;
}

const SMsgFieldInfo* CNMessageBase::MsgField(int a, int b, bool list, const char* op) const {
  const SMsgFieldInfo* f = Resolve(a, b, op);
  if (!f) return nullptr;
  if (f->kind != EMsgKind::Message || f->list != list) {
    LogError(op, "Field [%d,%d] of [%s] holds [%s]%s, not %s", a, b, m_class->Name().c_str(), MsgKindTag(f->kind),
             f->list ? " list" : "", list ? "a message list" : "a message");
    return nullptr;
  }
  if (!f->sub) {
    LogError(op, "Field [%d,%d] of [%s] names the unregistered class [%d,%d]", a, b, m_class->Name().c_str(),
             f->subModule, f->subId);
    return nullptr;
  }
  return f;
}

CNMessageBase& CNMessageBase::Scratch() {
  // Where writes through an invalid access go: nowhere that matters.
  static thread_local CNMessageBase scratch;
  scratch = CNMessageBase();
  return scratch;
}

void CNMessageBase::LogWrongType(const char* op, const char* found, const char* wanted) {
  LogError(op, "Message of class [%s] is not a [%s]", found, wanted);
}

// ---------------------------------------------------------------- presence

bool CNMessageBase::Has(int a) const { return FindSlot(a) != nullptr; }

void CNMessageBase::ClearField(int a) {
  auto it = std::lower_bound(m_slots.begin(), m_slots.end(), a,
                             [](const SMsgSlot& s, int v) { return s.field->a < v; });
  if (it != m_slots.end() && it->field->a == a) m_slots.erase(it);
}

void CNMessageBase::Clear() { m_slots.clear(); }

bool CNMessageBase::TouchField(int a, int b) {
  const SMsgFieldInfo* f = Resolve(a, b, "TouchField");
  if (!f) return false;
  if (f->kind == EMsgKind::Message && !f->list && !f->sub) {
    LogError("TouchField", "Field [%d,%d] of [%s] names the unregistered class [%d,%d]", a, b,
             m_class->Name().c_str(), f->subModule, f->subId);
    return false;
  }
  Touch(f);
  return true;
}

// ---------------------------------------------------------------- scalars

bool CNMessageBase::SetNumber(int a, int b, const SNumber& v, const char* op) {
  const SMsgFieldInfo* f = Resolve(a, b, op);
  if (!f) return false;
  if (f->list || !MsgKindIsNumber(f->kind)) {
    LogError(op, "Field [%d,%d] of [%s] holds [%s], not a number", a, b, m_class->Name().c_str(), KindText(*f));
    return false;
  }
  SNumber stored = v;
  if (!ToStored(f->kind, v.storage, v.s, v.u, v.r, stored.s, stored.u, stored.r)) {
    LogError(op, "Value does not fit field [%d,%d] ([%s]) of [%s]", a, b, MsgKindTag(f->kind),
             m_class->Name().c_str());
    return false;
  }
  SMsgSlot& slot = Touch(f);
  switch (MsgStorageOf(f->kind)) {
    case EMsgStorage::Signed: std::get<0>(slot.value) = stored.s; break;
    case EMsgStorage::Unsigned: std::get<1>(slot.value) = stored.u; break;
    default: std::get<2>(slot.value) = stored.r; break;
  }
  return true;
}

CNMessageBase::SNumber CNMessageBase::GetNumber(int b, const char* op) const {
  const SMsgFieldInfo* f = ResolveB(b, op);
  if (!f) return SNumber::Signed(0);
  if (f->list || !MsgKindIsNumber(f->kind)) {
    LogError(op, "Field [b=%d] of [%s] holds [%s], not a number", b, m_class->Name().c_str(), KindText(*f));
    return SNumber::Signed(0);
  }
  const SMsgSlot* slot = FindSlot(f->a);
  if (!slot) return SNumber::Signed(0);
  switch (slot->value.index()) {
    case 0: return SNumber::Signed(std::get<0>(slot->value));
    case 1: return SNumber::Unsigned(std::get<1>(slot->value));
    default: return SNumber::Real(std::get<2>(slot->value));
  }
}

namespace {

template <class T, class N>
T CastNumber(const N& n) {
  switch (n.storage) {
    case EMsgStorage::Signed: return static_cast<T>(n.s);
    case EMsgStorage::Unsigned: return static_cast<T>(n.u);
    default: return SaturateReal<T>(n.r);
  }
}

}  // namespace

bool CNMessageBase::SetBool(int a, int b, bool v) { return SetNumber(a, b, SNumber::Signed(v ? 1 : 0), "SetBool"); }
bool CNMessageBase::SetInt32(int a, int b, int32_t v) { return SetNumber(a, b, SNumber::Signed(v), "SetInt32"); }
bool CNMessageBase::SetUInt32(int a, int b, uint32_t v) { return SetNumber(a, b, SNumber::Unsigned(v), "SetUInt32"); }
bool CNMessageBase::SetInt64(int a, int b, int64_t v) { return SetNumber(a, b, SNumber::Signed(v), "SetInt64"); }
bool CNMessageBase::SetUInt64(int a, int b, uint64_t v) { return SetNumber(a, b, SNumber::Unsigned(v), "SetUInt64"); }
bool CNMessageBase::SetFloat(int a, int b, float v) { return SetNumber(a, b, SNumber::Real(v), "SetFloat"); }
bool CNMessageBase::SetDouble(int a, int b, double v) { return SetNumber(a, b, SNumber::Real(v), "SetDouble"); }

bool CNMessageBase::GetBool(int b) const { return CastNumber<bool>(GetNumber(b, "GetBool")); }
int32_t CNMessageBase::GetInt32(int b) const { return CastNumber<int32_t>(GetNumber(b, "GetInt32")); }
uint32_t CNMessageBase::GetUInt32(int b) const { return CastNumber<uint32_t>(GetNumber(b, "GetUInt32")); }
int64_t CNMessageBase::GetInt64(int b) const { return CastNumber<int64_t>(GetNumber(b, "GetInt64")); }
uint64_t CNMessageBase::GetUInt64(int b) const { return CastNumber<uint64_t>(GetNumber(b, "GetUInt64")); }
float CNMessageBase::GetFloat(int b) const { return CastNumber<float>(GetNumber(b, "GetFloat")); }
double CNMessageBase::GetDouble(int b) const { return CastNumber<double>(GetNumber(b, "GetDouble")); }

bool CNMessageBase::SetString(int a, int b, const std::string& value) {
  const SMsgFieldInfo* f = Resolve(a, b, "SetString");
  if (!f) return false;
  if (f->list || f->kind != EMsgKind::String) {
    LogError("SetString", "Field [%d,%d] of [%s] holds [%s], not a string", a, b, m_class->Name().c_str(),
             KindText(*f));
    return false;
  }
  // Copied first: value may live inside this message, and making the field
  // present may move the other fields.
  std::string copy(value);
  std::get<3>(Touch(f).value) = std::move(copy);
  return true;
}

const std::string& CNMessageBase::GetString(int a, int b) const {
  const SMsgFieldInfo* f = Resolve(a, b, "GetString");
  if (!f) return EmptyString();
  if (f->list || f->kind != EMsgKind::String) {
    LogError("GetString", "Field [%d,%d] of [%s] holds [%s], not a string", a, b, m_class->Name().c_str(),
             KindText(*f));
    return EmptyString();
  }
  const SMsgSlot* slot = FindSlot(a);
  return slot ? std::get<3>(slot->value) : EmptyString();
}

// ---------------------------------------------------------------- sub-messages

const CNMessageBase& CNMessageBase::GetMsg(int a, int b) const {
  const SMsgFieldInfo* f = MsgField(a, b, false, "GetMsg");
  if (!f) return EmptyClassless();
  const SMsgSlot* slot = FindSlot(a);
  return slot ? *std::get<4>(slot->value) : f->sub->Empty();
}

CNMessageBase& CNMessageBase::MutableMsg(int a, int b) {
  const SMsgFieldInfo* f = MsgField(a, b, false, "MutableMsg");
  if (!f) return Scratch();
  return *std::get<4>(Touch(f).value);
}

bool CNMessageBase::SetMsg(int a, int b, const CNMessageBase& value) {
  const SMsgFieldInfo* f = MsgField(a, b, false, "SetMsg");
  if (!f) return false;
  if (value.Class() != f->sub) {
    LogError("SetMsg", "Field [%d,%d] of [%s] holds [%s], not [%s]", a, b, m_class->Name().c_str(),
             f->sub->Name().c_str(), value.ClassName().c_str());
    return false;
  }
  // Copied first: value may be this message or live inside it.
  CNMessageBase copy(value);
  *std::get<4>(Touch(f).value) = std::move(copy);
  return true;
}

// ---------------------------------------------------------------- lists

size_t CNMessageBase::ListSize(int a, int b) const {
  if (!ListField(a, b, "ListSize")) return 0;
  const SMsgSlot* slot = FindSlot(a);
  return slot ? ListLength(slot->value) : 0;
}

bool CNMessageBase::ListClear(int a, int b) {
  if (!ListField(a, b, "ListClear")) return false;
  SMsgSlot* slot = FindSlot(a);
  if (!slot) return true;
  switch (slot->value.index()) {
    case 5: std::get<5>(slot->value).clear(); break;
    case 6: std::get<6>(slot->value).clear(); break;
    case 7: std::get<7>(slot->value).clear(); break;
    case 8: std::get<8>(slot->value).clear(); break;
    default: std::get<9>(slot->value).clear(); break;
  }
  return true;
}

bool CNMessageBase::ListRemove(int a, int b, size_t index) {
  if (!ListField(a, b, "ListRemove")) return false;
  SMsgSlot* slot = FindSlot(a);
  bool removed = false;
  if (slot) {
    switch (slot->value.index()) {
      case 5: removed = EraseAt<5>(slot->value, index); break;
      case 6: removed = EraseAt<6>(slot->value, index); break;
      case 7: removed = EraseAt<7>(slot->value, index); break;
      case 8: removed = EraseAt<8>(slot->value, index); break;
      default: removed = EraseAt<9>(slot->value, index); break;
    }
  }
  if (!removed) LogError("ListRemove", "No element [%zu] in list [%d,%d]", index, a, b);
  return removed;
}

CNMessageBase& CNMessageBase::AddMsg(int a, int b) {
  const SMsgFieldInfo* f = MsgField(a, b, true, "AddMsg");
  if (!f) return Scratch();
  auto& list = std::get<9>(Touch(f).value);
  list.emplace_back(f->sub->NewInstance());
  return *list.back();
}

bool CNMessageBase::AppendMsg(int a, int b, const CNMessageBase& value) {
  const SMsgFieldInfo* f = MsgField(a, b, true, "AppendMsg");
  if (!f) return false;
  if (value.Class() != f->sub) {
    LogError("AppendMsg", "List [%d,%d] of [%s] holds [%s], not [%s]", a, b, m_class->Name().c_str(),
             f->sub->Name().c_str(), value.ClassName().c_str());
    return false;
  }
  CMsgPtr element(f->sub->NewInstance());
  *element = value;
  std::get<9>(Touch(f).value).push_back(std::move(element));
  return true;
}

const CNMessageBase& CNMessageBase::GetListMsg(int a, int b, size_t index) const {
  const SMsgFieldInfo* f = MsgField(a, b, true, "GetListMsg");
  if (!f) return EmptyClassless();
  const SMsgSlot* slot = FindSlot(a);
  if (slot && index < std::get<9>(slot->value).size()) return *std::get<9>(slot->value)[index];
  LogError("GetListMsg", "No element [%zu] in list [%d,%d] of [%s]", index, a, b, m_class->Name().c_str());
  return f->sub->Empty();
}

CNMessageBase& CNMessageBase::MutableListMsg(int a, int b, size_t index) {
  const SMsgFieldInfo* f = MsgField(a, b, true, "MutableListMsg");
  if (!f) return Scratch();
  SMsgSlot* slot = FindSlot(a);
  if (slot && index < std::get<9>(slot->value).size()) return *std::get<9>(slot->value)[index];
  LogError("MutableListMsg", "No element [%zu] in list [%d,%d] of [%s]", index, a, b, m_class->Name().c_str());
  return Scratch();
}

bool CNMessageBase::AddNumber(int a, int b, const SNumber& v, const char* op) {
  const SMsgFieldInfo* f = ListField(a, b, op);
  if (!f) return false;
  if (!MsgKindIsNumber(f->kind)) {
    LogError(op, "List [%d,%d] of [%s] holds [%s], not numbers", a, b, m_class->Name().c_str(), MsgKindTag(f->kind));
    return false;
  }
  SNumber stored = v;
  if (!ToStored(f->kind, v.storage, v.s, v.u, v.r, stored.s, stored.u, stored.r)) {
    LogError(op, "Value does not fit list [%d,%d] ([%s]) of [%s]", a, b, MsgKindTag(f->kind), m_class->Name().c_str());
    return false;
  }
  SMsgSlot& slot = Touch(f);
  switch (MsgStorageOf(f->kind)) {
    case EMsgStorage::Signed: std::get<5>(slot.value).push_back(stored.s); break;
    case EMsgStorage::Unsigned: std::get<6>(slot.value).push_back(stored.u); break;
    default: std::get<7>(slot.value).push_back(stored.r); break;
  }
  return true;
}

CNMessageBase::SNumber CNMessageBase::GetListNumber(int a, int b, size_t index, const char* op) const {
  const SMsgFieldInfo* f = ListField(a, b, op);
  if (!f) return SNumber::Signed(0);
  if (!MsgKindIsNumber(f->kind)) {
    LogError(op, "List [%d,%d] of [%s] holds [%s], not numbers", a, b, m_class->Name().c_str(), MsgKindTag(f->kind));
    return SNumber::Signed(0);
  }
  const SMsgSlot* slot = FindSlot(a);
  if (slot && index < ListLength(slot->value)) {
    switch (slot->value.index()) {
      case 5: return SNumber::Signed(std::get<5>(slot->value)[index]);
      case 6: return SNumber::Unsigned(std::get<6>(slot->value)[index]);
      default: return SNumber::Real(std::get<7>(slot->value)[index]);
    }
  }
  LogError(op, "No element [%zu] in list [%d,%d] of [%s]", index, a, b, m_class->Name().c_str());
  return SNumber::Signed(0);
}

bool CNMessageBase::SetListNumber(int a, int b, size_t index, const SNumber& v, const char* op) {
  const SMsgFieldInfo* f = ListField(a, b, op);
  if (!f) return false;
  SMsgSlot* slot = FindSlot(a);
  if (!MsgKindIsNumber(f->kind) || !slot || index >= ListLength(slot->value)) {
    LogError(op, "No number element [%zu] in list [%d,%d] of [%s]", index, a, b, m_class->Name().c_str());
    return false;
  }
  SNumber stored = v;
  if (!ToStored(f->kind, v.storage, v.s, v.u, v.r, stored.s, stored.u, stored.r)) {
    LogError(op, "Value does not fit list [%d,%d] ([%s]) of [%s]", a, b, MsgKindTag(f->kind), m_class->Name().c_str());
    return false;
  }
  switch (slot->value.index()) {
    case 5: std::get<5>(slot->value)[index] = stored.s; break;
    case 6: std::get<6>(slot->value)[index] = stored.u; break;
    default: std::get<7>(slot->value)[index] = stored.r; break;
  }
  return true;
}

bool CNMessageBase::AddBool(int a, int b, bool v) { return AddNumber(a, b, SNumber::Signed(v ? 1 : 0), "AddBool"); }
bool CNMessageBase::AddInt32(int a, int b, int32_t v) { return AddNumber(a, b, SNumber::Signed(v), "AddInt32"); }
bool CNMessageBase::AddUInt32(int a, int b, uint32_t v) { return AddNumber(a, b, SNumber::Unsigned(v), "AddUInt32"); }
bool CNMessageBase::AddInt64(int a, int b, int64_t v) { return AddNumber(a, b, SNumber::Signed(v), "AddInt64"); }
bool CNMessageBase::AddUInt64(int a, int b, uint64_t v) { return AddNumber(a, b, SNumber::Unsigned(v), "AddUInt64"); }
bool CNMessageBase::AddFloat(int a, int b, float v) { return AddNumber(a, b, SNumber::Real(v), "AddFloat"); }
bool CNMessageBase::AddDouble(int a, int b, double v) { return AddNumber(a, b, SNumber::Real(v), "AddDouble"); }

bool CNMessageBase::GetListBool(int a, int b, size_t i) const {
  return CastNumber<bool>(GetListNumber(a, b, i, "GetListBool"));
}
int32_t CNMessageBase::GetListInt32(int a, int b, size_t i) const {
  return CastNumber<int32_t>(GetListNumber(a, b, i, "GetListInt32"));
}
uint32_t CNMessageBase::GetListUInt32(int a, int b, size_t i) const {
  return CastNumber<uint32_t>(GetListNumber(a, b, i, "GetListUInt32"));
}
int64_t CNMessageBase::GetListInt64(int a, int b, size_t i) const {
  return CastNumber<int64_t>(GetListNumber(a, b, i, "GetListInt64"));
}
uint64_t CNMessageBase::GetListUInt64(int a, int b, size_t i) const {
  return CastNumber<uint64_t>(GetListNumber(a, b, i, "GetListUInt64"));
}
double CNMessageBase::GetListDouble(int a, int b, size_t i) const {
  return CastNumber<double>(GetListNumber(a, b, i, "GetListDouble"));
}

bool CNMessageBase::SetListInt64(int a, int b, size_t i, int64_t v) {
  return SetListNumber(a, b, i, SNumber::Signed(v), "SetListInt64");
}
bool CNMessageBase::SetListUInt64(int a, int b, size_t i, uint64_t v) {
  return SetListNumber(a, b, i, SNumber::Unsigned(v), "SetListUInt64");
}
bool CNMessageBase::SetListDouble(int a, int b, size_t i, double v) {
  return SetListNumber(a, b, i, SNumber::Real(v), "SetListDouble");
}

bool CNMessageBase::AddString(int a, int b, const std::string& value) {
  const SMsgFieldInfo* f = ListField(a, b, "AddString");
  if (!f) return false;
  if (f->kind != EMsgKind::String) {
    LogError("AddString", "List [%d,%d] of [%s] holds [%s], not strings", a, b, m_class->Name().c_str(),
             MsgKindTag(f->kind));
    return false;
  }
  std::string copy(value);  // as in SetString
  std::get<8>(Touch(f).value).push_back(std::move(copy));
  return true;
}

const std::string& CNMessageBase::GetListString(int a, int b, size_t index) const {
  const SMsgFieldInfo* f = ListField(a, b, "GetListString");
  if (!f) return EmptyString();
  const SMsgSlot* slot = FindSlot(a);
  if (f->kind == EMsgKind::String && slot && index < std::get<8>(slot->value).size())
    return std::get<8>(slot->value)[index];
  LogError("GetListString", "No string element [%zu] in list [%d,%d] of [%s]", index, a, b, m_class->Name().c_str());
  return EmptyString();
}

bool CNMessageBase::SetListString(int a, int b, size_t index, const std::string& value) {
  const SMsgFieldInfo* f = ListField(a, b, "SetListString");
  if (!f) return false;
  SMsgSlot* slot = FindSlot(a);
  if (f->kind != EMsgKind::String || !slot || index >= std::get<8>(slot->value).size()) {
    LogError("SetListString", "No string element [%zu] in list [%d,%d] of [%s]", index, a, b,
             m_class->Name().c_str());
    return false;
  }
  std::get<8>(slot->value)[index] = value;
  return true;
}

bool CNMessageBase::GetInt32List(int a, int b, std::vector<int32_t>& out) const {
  const SMsgFieldInfo* f = ListField(a, b, "GetInt32List");
  if (!f) return false;
  if (MsgStorageOf(f->kind) != EMsgStorage::Signed && MsgStorageOf(f->kind) != EMsgStorage::Unsigned) {
    LogError("GetInt32List", "List [%d,%d] of [%s] holds [%s], not integers", a, b, m_class->Name().c_str(),
             MsgKindTag(f->kind));
    return false;
  }
  const SMsgSlot* slot = FindSlot(a);
  if (!slot) return false;
  out.clear();
  if (slot->value.index() == 5) {
    for (int64_t v : std::get<5>(slot->value)) out.push_back(static_cast<int32_t>(v));
  } else {
    for (uint64_t v : std::get<6>(slot->value)) out.push_back(static_cast<int32_t>(v));
  }
  return true;
}

bool CNMessageBase::SetInt32List(int a, int b, const std::vector<int32_t>& values) {
  const SMsgFieldInfo* f = ListField(a, b, "SetInt32List");
  if (!f) return false;
  if (!MsgKindIsNumber(f->kind)) {
    LogError("SetInt32List", "List [%d,%d] of [%s] holds [%s], not numbers", a, b, m_class->Name().c_str(),
             MsgKindTag(f->kind));
    return false;
  }
  // Validated into a copy so that a refused value leaves the list as it was.
  CNMessageBase scratch(*m_class);
  for (int32_t v : values) {
    if (!scratch.AddNumber(a, b, SNumber::Signed(v), "SetInt32List")) return false;
  }
  const SMsgSlot* built = scratch.FindSlot(a);
  SMsgSlot& slot = Touch(f);
  if (built)
    slot.value = built->value;
  else
    ListClear(a, b);
  return true;
}

// ---------------------------------------------------------------- by field constant

bool CNMessageBase::Owns(const SMsgField& f, const char* op) const {
  if (!m_class || (m_class->Module() == f.module && m_class->Id() == f.id)) return true;
  LogError(op, "Field [%d,%d] of class [%d,%d] used on a [%s] message", f.a, f.b, f.module, f.id,
           m_class->Name().c_str());
  return false;
}

bool CNMessageBase::Has(const SMsgField& f) const { return Owns(f, "Has") && Has(f.a); }
void CNMessageBase::ClearField(const SMsgField& f) {
  if (Owns(f, "ClearField")) ClearField(f.a);
}
bool CNMessageBase::TouchField(const SMsgField& f) { return Owns(f, "TouchField") && TouchField(f.a, f.b); }

bool CNMessageBase::SetBool(const SMsgField& f, bool v) { return Owns(f, "SetBool") && SetBool(f.a, f.b, v); }
bool CNMessageBase::SetInt32(const SMsgField& f, int32_t v) { return Owns(f, "SetInt32") && SetInt32(f.a, f.b, v); }
bool CNMessageBase::SetUInt32(const SMsgField& f, uint32_t v) {
  return Owns(f, "SetUInt32") && SetUInt32(f.a, f.b, v);
}
bool CNMessageBase::SetInt64(const SMsgField& f, int64_t v) { return Owns(f, "SetInt64") && SetInt64(f.a, f.b, v); }
bool CNMessageBase::SetUInt64(const SMsgField& f, uint64_t v) {
  return Owns(f, "SetUInt64") && SetUInt64(f.a, f.b, v);
}
bool CNMessageBase::SetFloat(const SMsgField& f, float v) { return Owns(f, "SetFloat") && SetFloat(f.a, f.b, v); }
bool CNMessageBase::SetDouble(const SMsgField& f, double v) { return Owns(f, "SetDouble") && SetDouble(f.a, f.b, v); }
bool CNMessageBase::SetString(const SMsgField& f, const std::string& v) {
  return Owns(f, "SetString") && SetString(f.a, f.b, v);
}

bool CNMessageBase::GetBool(const SMsgField& f) const { return Owns(f, "GetBool") && GetBool(f.b); }
int32_t CNMessageBase::GetInt32(const SMsgField& f) const { return Owns(f, "GetInt32") ? GetInt32(f.b) : 0; }
uint32_t CNMessageBase::GetUInt32(const SMsgField& f) const { return Owns(f, "GetUInt32") ? GetUInt32(f.b) : 0; }
int64_t CNMessageBase::GetInt64(const SMsgField& f) const { return Owns(f, "GetInt64") ? GetInt64(f.b) : 0; }
uint64_t CNMessageBase::GetUInt64(const SMsgField& f) const { return Owns(f, "GetUInt64") ? GetUInt64(f.b) : 0; }
float CNMessageBase::GetFloat(const SMsgField& f) const { return Owns(f, "GetFloat") ? GetFloat(f.b) : 0.0f; }
double CNMessageBase::GetDouble(const SMsgField& f) const { return Owns(f, "GetDouble") ? GetDouble(f.b) : 0.0; }
const std::string& CNMessageBase::GetString(const SMsgField& f) const {
  return Owns(f, "GetString") ? GetString(f.a, f.b) : EmptyString();
}

const CNMessageBase& CNMessageBase::GetMsg(const SMsgField& f) const {
  return Owns(f, "GetMsg") ? GetMsg(f.a, f.b) : EmptyClassless();
}
CNMessageBase& CNMessageBase::MutableMsg(const SMsgField& f) {
  return Owns(f, "MutableMsg") ? MutableMsg(f.a, f.b) : Scratch();
}
bool CNMessageBase::SetMsg(const SMsgField& f, const CNMessageBase& value) {
  return Owns(f, "SetMsg") && SetMsg(f.a, f.b, value);
}

size_t CNMessageBase::ListSize(const SMsgField& f) const { return Owns(f, "ListSize") ? ListSize(f.a, f.b) : 0; }
bool CNMessageBase::ListClear(const SMsgField& f) { return Owns(f, "ListClear") && ListClear(f.a, f.b); }
bool CNMessageBase::ListRemove(const SMsgField& f, size_t index) {
  return Owns(f, "ListRemove") && ListRemove(f.a, f.b, index);
}

CNMessageBase& CNMessageBase::AddMsg(const SMsgField& f) { return Owns(f, "AddMsg") ? AddMsg(f.a, f.b) : Scratch(); }
bool CNMessageBase::AppendMsg(const SMsgField& f, const CNMessageBase& value) {
  return Owns(f, "AppendMsg") && AppendMsg(f.a, f.b, value);
}
const CNMessageBase& CNMessageBase::GetListMsg(const SMsgField& f, size_t index) const {
  return Owns(f, "GetListMsg") ? GetListMsg(f.a, f.b, index) : EmptyClassless();
}
CNMessageBase& CNMessageBase::MutableListMsg(const SMsgField& f, size_t index) {
  return Owns(f, "MutableListMsg") ? MutableListMsg(f.a, f.b, index) : Scratch();
}

bool CNMessageBase::AddBool(const SMsgField& f, bool v) { return Owns(f, "AddBool") && AddBool(f.a, f.b, v); }
bool CNMessageBase::AddInt32(const SMsgField& f, int32_t v) { return Owns(f, "AddInt32") && AddInt32(f.a, f.b, v); }
bool CNMessageBase::AddUInt32(const SMsgField& f, uint32_t v) {
  return Owns(f, "AddUInt32") && AddUInt32(f.a, f.b, v);
}
bool CNMessageBase::AddInt64(const SMsgField& f, int64_t v) { return Owns(f, "AddInt64") && AddInt64(f.a, f.b, v); }
bool CNMessageBase::AddUInt64(const SMsgField& f, uint64_t v) {
  return Owns(f, "AddUInt64") && AddUInt64(f.a, f.b, v);
}
bool CNMessageBase::AddFloat(const SMsgField& f, float v) { return Owns(f, "AddFloat") && AddFloat(f.a, f.b, v); }
bool CNMessageBase::AddDouble(const SMsgField& f, double v) { return Owns(f, "AddDouble") && AddDouble(f.a, f.b, v); }
bool CNMessageBase::AddString(const SMsgField& f, const std::string& v) {
  return Owns(f, "AddString") && AddString(f.a, f.b, v);
}

bool CNMessageBase::GetListBool(const SMsgField& f, size_t i) const {
  return Owns(f, "GetListBool") && GetListBool(f.a, f.b, i);
}
int32_t CNMessageBase::GetListInt32(const SMsgField& f, size_t i) const {
  return Owns(f, "GetListInt32") ? GetListInt32(f.a, f.b, i) : 0;
}
uint32_t CNMessageBase::GetListUInt32(const SMsgField& f, size_t i) const {
  return Owns(f, "GetListUInt32") ? GetListUInt32(f.a, f.b, i) : 0;
}
int64_t CNMessageBase::GetListInt64(const SMsgField& f, size_t i) const {
  return Owns(f, "GetListInt64") ? GetListInt64(f.a, f.b, i) : 0;
}
uint64_t CNMessageBase::GetListUInt64(const SMsgField& f, size_t i) const {
  return Owns(f, "GetListUInt64") ? GetListUInt64(f.a, f.b, i) : 0;
}
double CNMessageBase::GetListDouble(const SMsgField& f, size_t i) const {
  return Owns(f, "GetListDouble") ? GetListDouble(f.a, f.b, i) : 0.0;
}
const std::string& CNMessageBase::GetListString(const SMsgField& f, size_t i) const {
  return Owns(f, "GetListString") ? GetListString(f.a, f.b, i) : EmptyString();
}

bool CNMessageBase::SetListInt64(const SMsgField& f, size_t i, int64_t v) {
  return Owns(f, "SetListInt64") && SetListInt64(f.a, f.b, i, v);
}
bool CNMessageBase::SetListUInt64(const SMsgField& f, size_t i, uint64_t v) {
  return Owns(f, "SetListUInt64") && SetListUInt64(f.a, f.b, i, v);
}
bool CNMessageBase::SetListDouble(const SMsgField& f, size_t i, double v) {
  return Owns(f, "SetListDouble") && SetListDouble(f.a, f.b, i, v);
}
bool CNMessageBase::SetListString(const SMsgField& f, size_t i, const std::string& v) {
  return Owns(f, "SetListString") && SetListString(f.a, f.b, i, v);
}

bool CNMessageBase::GetInt32List(const SMsgField& f, std::vector<int32_t>& out) const {
  return Owns(f, "GetInt32List") && GetInt32List(f.a, f.b, out);
}
bool CNMessageBase::SetInt32List(const SMsgField& f, const std::vector<int32_t>& values) {
  return Owns(f, "SetInt32List") && SetInt32List(f.a, f.b, values);
}

// ---------------------------------------------------------------- XML

bool CNMessageBase::serializeUTF8(std::string& out, bool withDeclaration) const {
  return CMsgXmlWriter::Write(*this, SMsgXmlStyle::Compact(), withDeclaration, out) == 0;
}

bool CNMessageBase::Unserialize(const std::string& xml, std::string* error) {
  if (!m_class) {
    if (error) *error = "the message has no class";
    LogError("Unserialize", "Message has no class to parse into");
    return false;
  }
  std::unique_ptr<CNMessageBase> parsed = CMsgXmlReader::Parse(xml, m_class, error);
  if (!parsed) return false;
  m_slots.swap(parsed->m_slots);
  return true;
}

std::unique_ptr<CNMessageBase> CNMessageBase::CreateFromXml(const std::string& xml, std::string* error) {
  return CMsgXmlReader::Parse(xml, nullptr, error);
}

// ---------------------------------------------------------------- equality

namespace {

// Reals compare by value, except that every NaN equals every other NaN: a
// message read back from its own XML must equal the original.
bool SameReal(double x, double y) { return x == y || (std::isnan(x) && std::isnan(y)); }

bool SameValue(const VMsgValue& x, const VMsgValue& y) {
  if (x.index() != y.index()) return false;
  if (x.index() == 2) return SameReal(std::get<2>(x), std::get<2>(y));
  if (x.index() == 7) {
    const auto& vx = std::get<7>(x);
    const auto& vy = std::get<7>(y);
    return vx.size() == vy.size() && std::equal(vx.begin(), vx.end(), vy.begin(), SameReal);
  }
  return x == y;
}

}  // namespace

bool CNMessageBase::operator==(const CNMessageBase& other) const {
  if (m_class != other.m_class || m_slots.size() != other.m_slots.size()) return false;
  for (size_t i = 0; i < m_slots.size(); ++i) {
    if (m_slots[i].field != other.m_slots[i].field || !SameValue(m_slots[i].value, other.m_slots[i].value))
      return false;
  }
  return true;
}
