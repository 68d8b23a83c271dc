// Descriptor of one field of a message class: its index pair, hash, kind and,
// for message fields, the class of the sub-message.
//
// The index pair follows the message library's addressing: setting a field
// and reading a string or a sub-message use both indices, the presence test
// uses a, reading an integer uses b. Most fields have a == b.
#pragma once

#include <stdint.h>

#include "msg/MsgFieldKind.h"

class CMsgClassInfo;

// One row of the message catalogue, as written in the .def files.
struct SMsgFieldDef {
  int a;
  int b;
  uint32_t hash;  // 0: the registry derives one
  EMsgKind kind;
  bool list;
  int subModule;  // sub-message class of Message fields
  int subId;
  const char* name;  // the generated constant, e.g. "kReplicationId"
};

// A field as the registry holds it: the catalogue row with its hash filled in
// and its sub-message class resolved (null when that class is not registered,
// which the registry test reports).
struct SMsgFieldInfo {
  int a;
  int b;
  uint32_t hash;
  EMsgKind kind;
  bool list;
  int subModule;
  int subId;
  const CMsgClassInfo* sub;
  const char* name;
};
