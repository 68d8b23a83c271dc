// A platform message: an object of one registered message class holding the
// fields that have been set, each addressed by its index pair (a, b).
//
// Addressing. Code names a field by the constant the catalogue generates for
// it (Api::VirtualAppJob::kReplicationId, see msg/MsgClasses.h): every
// accessor takes one and passes on the index it needs. Generic code may pass
// indices instead: setting a field and reading a string or a sub-message pass
// both indices; the presence test (Has) passes a; reading a number passes b.
// List operations pass both indices. A pair the class does not declare (an a
// it lacks, or an a whose descriptor has another b), or a constant of another
// class, is a programming error: it is logged, a setter then returns false
// and a getter its default.
//
// Presence. A field is present once it has been set, once a mutable access
// has reached it (MutableMsg creates a missing sub-message of the class its
// descriptor names), or once a list element was added (an emptied list stays
// present). Presence tests, const reads and serialisation never create or
// mark anything: const reads of what is missing return defaults (0, false,
// "", a shared empty message of the right class, a size of 0).
//
// Numbers. Integer setters accept any integer or boolean field and refuse a
// value the field's kind cannot hold (a 64-bit value in an int32 field, a
// negative one in an unsigned field, 2 in a bool); real setters accept float
// and double fields (a float field keeps float precision). Integer getters
// convert what is stored as a C++ cast would, reals saturating.
//
// Copies are deep and keep the class. Assigning a message of another class
// to a message that has one is refused (logged, target unchanged); a
// default-constructed message has no class and takes the source's.
//
// XML. serializeUTF8 writes the compact form; XMLSerializer (with
// EncodingFlags) writes the formatted one. Unserialize accepts only a
// document of this message's class and changes nothing unless the whole
// document is valid; CreateFromXml accepts any registered class. Both refuse,
// before parsing, a document longer than kMsgXmlMaxInputBytes (64 MB, see
// msg/MsgXmlStyle.h), so an oversized input cannot take the memory its parse
// would.
//
// Thread safety: a message is a value; distinct messages may be used from
// different threads at once, one message only by one thread at a time
// (const reads from several threads are safe).
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <memory>
#include <string>
#include <vector>

#include "msg/MsgClassInfo.h"
#include "msg/MsgField.h"
#include "msg/MsgSlot.h"

class CNMessageBase {
 public:
  // A message without a class: it holds nothing until a message is assigned.
  CNMessageBase();
  explicit CNMessageBase(const CMsgClassInfo& cls);
  // The registered class (module, id); an unknown pair is logged and leaves
  // the message without a class.
  CNMessageBase(int module, int id);
  CNMessageBase(const CNMessageBase& other) = default;
  CNMessageBase(CNMessageBase&& other) noexcept = default;
  CNMessageBase& operator=(const CNMessageBase& other);
  CNMessageBase& operator=(CNMessageBase&& other);
  virtual ~CNMessageBase();

  // A new empty message of the class (module, id), of its typed wrapper when
  // it has one; null when the class is not registered.
  static std::unique_ptr<CNMessageBase> Create(int module, int id);

  const CMsgClassInfo* Class() const { return m_class; }
  bool IsValid() const { return m_class != nullptr; }
  int Module() const;
  int Id() const;
  // The class's type id: also the message type of an XML request.
  uint32_t TypeId() const;
  std::string ClassName() const;

  // ---- presence and clearing
  bool Has(int a) const;
  // Removes field a (it is then absent).
  void ClearField(int a);
  // Removes every field.
  void Clear();
  size_t FieldCount() const { return m_slots.size(); }
  // Makes field (a, b) present without setting a value: a scalar reads 0 or
  // "", a sub-message is empty, a list has no element. True when the class
  // declares the field.
  bool TouchField(int a, int b);

  // ---- scalars
  bool SetBool(int a, int b, bool value);
  bool SetInt32(int a, int b, int32_t value);
  bool SetUInt32(int a, int b, uint32_t value);
  bool SetInt64(int a, int b, int64_t value);
  bool SetUInt64(int a, int b, uint64_t value);
  bool SetFloat(int a, int b, float value);
  bool SetDouble(int a, int b, double value);
  bool SetString(int a, int b, const std::string& value);

  bool GetBool(int b) const;
  int32_t GetInt32(int b) const;
  uint32_t GetUInt32(int b) const;
  int64_t GetInt64(int b) const;
  uint64_t GetUInt64(int b) const;
  float GetFloat(int b) const;
  double GetDouble(int b) const;
  const std::string& GetString(int a, int b) const;

  // ---- sub-messages
  const CNMessageBase& GetMsg(int a, int b) const;
  CNMessageBase& MutableMsg(int a, int b);
  // Copies value in; its class must be the one the field declares.
  bool SetMsg(int a, int b, const CNMessageBase& value);
  template <class T>
  const T& GetMsgAs(int a, int b) const;
  template <class T>
  T& MutableMsgAs(int a, int b);

  // ---- lists (any kind)
  size_t ListSize(int a, int b) const;
  // Empties the list; the field stays present.
  bool ListClear(int a, int b);
  bool ListRemove(int a, int b, size_t index);

  // ---- lists of messages
  // Appends a new empty element and returns it. References to elements stay
  // valid while other elements are added.
  CNMessageBase& AddMsg(int a, int b);
  // Appends a copy of value (of the class the field declares).
  bool AppendMsg(int a, int b, const CNMessageBase& value);
  const CNMessageBase& GetListMsg(int a, int b, size_t index) const;
  CNMessageBase& MutableListMsg(int a, int b, size_t index);
  template <class T>
  T& AddMsgAs(int a, int b);
  template <class T>
  const T& GetListMsgAs(int a, int b, size_t index) const;
  template <class T>
  T& MutableListMsgAs(int a, int b, size_t index);

  // ---- lists of scalars
  bool AddBool(int a, int b, bool value);
  bool AddInt32(int a, int b, int32_t value);
  bool AddUInt32(int a, int b, uint32_t value);
  bool AddInt64(int a, int b, int64_t value);
  bool AddUInt64(int a, int b, uint64_t value);
  bool AddFloat(int a, int b, float value);
  bool AddDouble(int a, int b, double value);
  bool AddString(int a, int b, const std::string& value);

  bool GetListBool(int a, int b, size_t index) const;
  int32_t GetListInt32(int a, int b, size_t index) const;
  uint32_t GetListUInt32(int a, int b, size_t index) const;
  int64_t GetListInt64(int a, int b, size_t index) const;
  uint64_t GetListUInt64(int a, int b, size_t index) const;
  double GetListDouble(int a, int b, size_t index) const;
  const std::string& GetListString(int a, int b, size_t index) const;

  bool SetListInt64(int a, int b, size_t index, int64_t value);
  bool SetListUInt64(int a, int b, size_t index, uint64_t value);
  bool SetListDouble(int a, int b, size_t index, double value);
  bool SetListString(int a, int b, size_t index, const std::string& value);

  // Whole integer lists: Get replaces out and returns whether the field is
  // present; Set replaces the list (the field becomes present).
  bool GetInt32List(int a, int b, std::vector<int32_t>& out) const;
  bool SetInt32List(int a, int b, const std::vector<int32_t>& values);

  // ---- the same accesses by field constant (e.g. Api::VirtualAppJob::
  // kReplicationId): each passes the index its form above takes. A constant
  // of another class than this message's is logged and acts like a pair the
  // class does not declare.
  bool Has(const SMsgField& f) const;
  void ClearField(const SMsgField& f);
  bool TouchField(const SMsgField& f);

  bool SetBool(const SMsgField& f, bool value);
  bool SetInt32(const SMsgField& f, int32_t value);
  bool SetUInt32(const SMsgField& f, uint32_t value);
  bool SetInt64(const SMsgField& f, int64_t value);
  bool SetUInt64(const SMsgField& f, uint64_t value);
  bool SetFloat(const SMsgField& f, float value);
  bool SetDouble(const SMsgField& f, double value);
  bool SetString(const SMsgField& f, const std::string& value);

  bool GetBool(const SMsgField& f) const;
  int32_t GetInt32(const SMsgField& f) const;
  uint32_t GetUInt32(const SMsgField& f) const;
  int64_t GetInt64(const SMsgField& f) const;
  uint64_t GetUInt64(const SMsgField& f) const;
  float GetFloat(const SMsgField& f) const;
  double GetDouble(const SMsgField& f) const;
  const std::string& GetString(const SMsgField& f) const;

  const CNMessageBase& GetMsg(const SMsgField& f) const;
  CNMessageBase& MutableMsg(const SMsgField& f);
  bool SetMsg(const SMsgField& f, const CNMessageBase& value);
  template <class T>
  const T& GetMsgAs(const SMsgField& f) const;
  template <class T>
  T& MutableMsgAs(const SMsgField& f);

  size_t ListSize(const SMsgField& f) const;
  bool ListClear(const SMsgField& f);
  bool ListRemove(const SMsgField& f, size_t index);

  CNMessageBase& AddMsg(const SMsgField& f);
  bool AppendMsg(const SMsgField& f, const CNMessageBase& value);
  const CNMessageBase& GetListMsg(const SMsgField& f, size_t index) const;
  CNMessageBase& MutableListMsg(const SMsgField& f, size_t index);
  template <class T>
  T& AddMsgAs(const SMsgField& f);
  template <class T>
  const T& GetListMsgAs(const SMsgField& f, size_t index) const;
  template <class T>
  T& MutableListMsgAs(const SMsgField& f, size_t index);

  bool AddBool(const SMsgField& f, bool value);
  bool AddInt32(const SMsgField& f, int32_t value);
  bool AddUInt32(const SMsgField& f, uint32_t value);
  bool AddInt64(const SMsgField& f, int64_t value);
  bool AddUInt64(const SMsgField& f, uint64_t value);
  bool AddFloat(const SMsgField& f, float value);
  bool AddDouble(const SMsgField& f, double value);
  bool AddString(const SMsgField& f, const std::string& value);

  bool GetListBool(const SMsgField& f, size_t index) const;
  int32_t GetListInt32(const SMsgField& f, size_t index) const;
  uint32_t GetListUInt32(const SMsgField& f, size_t index) const;
  int64_t GetListInt64(const SMsgField& f, size_t index) const;
  uint64_t GetListUInt64(const SMsgField& f, size_t index) const;
  double GetListDouble(const SMsgField& f, size_t index) const;
  const std::string& GetListString(const SMsgField& f, size_t index) const;

  bool SetListInt64(const SMsgField& f, size_t index, int64_t value);
  bool SetListUInt64(const SMsgField& f, size_t index, uint64_t value);
  bool SetListDouble(const SMsgField& f, size_t index, double value);
  bool SetListString(const SMsgField& f, size_t index, const std::string& value);

  bool GetInt32List(const SMsgField& f, std::vector<int32_t>& out) const;
  bool SetInt32List(const SMsgField& f, const std::vector<int32_t>& values);

  // ---- XML
  // Compact UTF-8 XML; false (out unchanged) when the message cannot be
  // written (no class, nesting deeper than the parser accepts).
  bool serializeUTF8(std::string& out, bool withDeclaration = true) const;
  // Replaces this message with the document's content when the document is
  // a valid message of this class; otherwise logs, fills *error and leaves
  // the message unchanged.
  bool Unserialize(const std::string& xml, std::string* error = nullptr);
  // Parses a document of any registered class; null (logged, *error filled)
  // when it is not a valid message.
  static std::unique_ptr<CNMessageBase> CreateFromXml(const std::string& xml, std::string* error = nullptr);

  // Same class and equal fields, compared deeply (NaN equals NaN).
  bool operator==(const CNMessageBase& other) const;
  bool operator!=(const CNMessageBase& other) const { return !(*this == other); }

  // The present fields, ordered by a (for serialisers).
  const std::vector<SMsgSlot>& Slots() const { return m_slots; }

 private:
  struct SNumber;

  // Whether f belongs to this message's class; logs when not. A message
  // without a class passes, so that the index form logs that instead.
  bool Owns(const SMsgField& f, const char* op) const;
  const SMsgFieldInfo* Resolve(int a, int b, const char* op) const;
  const SMsgFieldInfo* ResolveB(int b, const char* op) const;
  const SMsgSlot* FindSlot(int a) const;
  SMsgSlot* FindSlot(int a);
  SMsgSlot& Touch(const SMsgFieldInfo* field);

  bool SetNumber(int a, int b, const SNumber& value, const char* op);
  SNumber GetNumber(int b, const char* op) const;
  bool AddNumber(int a, int b, const SNumber& value, const char* op);
  SNumber GetListNumber(int a, int b, size_t index, const char* op) const;
  bool SetListNumber(int a, int b, size_t index, const SNumber& value, const char* op);

  const SMsgFieldInfo* ListField(int a, int b, const char* op) const;
  const SMsgFieldInfo* MsgField(int a, int b, bool list, const char* op) const;
  static CNMessageBase& Scratch();
  template <class T>
  static T& ScratchAs();
  static void LogWrongType(const char* op, const char* found, const char* wanted);

  const CMsgClassInfo* m_class;
  std::vector<SMsgSlot> m_slots;  // ordered by field a
};

// ---- typed access: the element is of the wrapper class the field declares.
// A field of another class is logged; const reads then give the wrapper's
// shared empty message and mutable ones a scratch message that is discarded.

template <class T>
T& CNMessageBase::ScratchAs() {
  static thread_local T scratch;
  scratch.Clear();
  return scratch;
}

template <class T>
const T& CNMessageBase::GetMsgAs(int a, int b) const {
  const T* p = dynamic_cast<const T*>(&GetMsg(a, b));
  if (p) return *p;
  LogWrongType("GetMsgAs", GetMsg(a, b).ClassName().c_str(), T::ClassInfo().Name().c_str());
  return static_cast<const T&>(T::ClassInfo().Empty());
}

template <class T>
T& CNMessageBase::MutableMsgAs(int a, int b) {
  CNMessageBase& m = MutableMsg(a, b);
  T* p = dynamic_cast<T*>(&m);
  if (p) return *p;
  LogWrongType("MutableMsgAs", m.ClassName().c_str(), T::ClassInfo().Name().c_str());
  return ScratchAs<T>();
}

template <class T>
T& CNMessageBase::AddMsgAs(int a, int b) {
  const SMsgFieldInfo* field = MsgField(a, b, true, "AddMsgAs");
  if (field && field->sub == &T::ClassInfo()) return static_cast<T&>(AddMsg(a, b));
  if (field) LogWrongType("AddMsgAs", field->sub ? field->sub->Name().c_str() : "?", T::ClassInfo().Name().c_str());
  return ScratchAs<T>();
}

template <class T>
const T& CNMessageBase::GetListMsgAs(int a, int b, size_t index) const {
  const CNMessageBase& m = GetListMsg(a, b, index);
  const T* p = dynamic_cast<const T*>(&m);
  if (p) return *p;
  LogWrongType("GetListMsgAs", m.ClassName().c_str(), T::ClassInfo().Name().c_str());
  return static_cast<const T&>(T::ClassInfo().Empty());
}

template <class T>
T& CNMessageBase::MutableListMsgAs(int a, int b, size_t index) {
  CNMessageBase& m = MutableListMsg(a, b, index);
  T* p = dynamic_cast<T*>(&m);
  if (p) return *p;
  LogWrongType("MutableListMsgAs", m.ClassName().c_str(), T::ClassInfo().Name().c_str());
  return ScratchAs<T>();
}

template <class T>
const T& CNMessageBase::GetMsgAs(const SMsgField& f) const {
  return Owns(f, "GetMsgAs") ? GetMsgAs<T>(f.a, f.b) : static_cast<const T&>(T::ClassInfo().Empty());
}

template <class T>
T& CNMessageBase::MutableMsgAs(const SMsgField& f) {
  return Owns(f, "MutableMsgAs") ? MutableMsgAs<T>(f.a, f.b) : ScratchAs<T>();
}

template <class T>
T& CNMessageBase::AddMsgAs(const SMsgField& f) {
  return Owns(f, "AddMsgAs") ? AddMsgAs<T>(f.a, f.b) : ScratchAs<T>();
}

template <class T>
const T& CNMessageBase::GetListMsgAs(const SMsgField& f, size_t index) const {
  return Owns(f, "GetListMsgAs") ? GetListMsgAs<T>(f.a, f.b, index) : static_cast<const T&>(T::ClassInfo().Empty());
}

template <class T>
T& CNMessageBase::MutableListMsgAs(const SMsgField& f, size_t index) {
  return Owns(f, "MutableListMsgAs") ? MutableListMsgAs<T>(f.a, f.b, index) : ScratchAs<T>();
}
