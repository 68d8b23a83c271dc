// One present field of a message: its descriptor and its value. A message
// keeps its slots in a vector ordered by the field's a index, so a message
// with a handful of fields costs one allocation and no per-field node.
//
// The value alternative follows the field: for scalars the storage of its
// kind (see EMsgStorage), for lists a vector of that storage.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <variant>
#include <vector>

#include "msg/MsgFieldInfo.h"
#include "msg/MsgPtr.h"

using VMsgValue = std::variant<int64_t, uint64_t, double, std::string, CMsgPtr,  //
                               std::vector<int64_t>, std::vector<uint64_t>, std::vector<double>,
                               std::vector<std::string>, std::vector<CMsgPtr>>;

// Variant index of a field's value: the storage number, plus 5 for lists.
inline size_t MsgValueIndex(const SMsgFieldInfo& field) {
  return static_cast<size_t>(MsgStorageOf(field.kind)) + (field.list ? 5 : 0);
}

struct SMsgSlot {
  const SMsgFieldInfo* field;
  VMsgValue value;
};
