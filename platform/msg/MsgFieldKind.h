// The value kinds a message field can hold, with the XML tag that carries
// each kind and the storage a message keeps it in.
//
// Integers narrower than 64 bits and booleans share one signed 64-bit slot,
// unsigned 64-bit values have their own, float and double share a double;
// the field's kind decides the range a value must fit.
#pragma once

#include <stdint.h>

enum class EMsgKind : uint8_t {
  Bool,
  Int32,
  UInt32,
  Int64,
  UInt64,
  Float,
  Double,
  String,
  Message,
};

// Where a value of a kind lives inside a message.
enum class EMsgStorage : uint8_t {
  Signed,    // int64_t
  Unsigned,  // uint64_t
  Real,      // double
  Text,      // std::string
  Object,    // sub-message
};

inline EMsgStorage MsgStorageOf(EMsgKind kind) {
  switch (kind) {
    case EMsgKind::Bool:
    case EMsgKind::Int32:
    case EMsgKind::UInt32:
    case EMsgKind::Int64:
      return EMsgStorage::Signed;
    case EMsgKind::UInt64:
      return EMsgStorage::Unsigned;
    case EMsgKind::Float:
    case EMsgKind::Double:
      return EMsgStorage::Real;
    case EMsgKind::String:
      return EMsgStorage::Text;
    case EMsgKind::Message:
      break;
  }
  return EMsgStorage::Object;
}

inline bool MsgKindIsNumber(EMsgKind kind) {
  return kind != EMsgKind::String && kind != EMsgKind::Message;
}

// Element name of a value of this kind in the XML form ("list" wraps lists).
inline const char* MsgKindTag(EMsgKind kind) {
  switch (kind) {
    case EMsgKind::Bool: return "bool";
    case EMsgKind::Int32: return "i32";
    case EMsgKind::UInt32: return "u32";
    case EMsgKind::Int64: return "i64";
    case EMsgKind::UInt64: return "u64";
    case EMsgKind::Float: return "f32";
    case EMsgKind::Double: return "f64";
    case EMsgKind::String: return "str";
    case EMsgKind::Message: break;
  }
  return "msg";
}
