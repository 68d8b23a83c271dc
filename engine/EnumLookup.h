// Lookup tables of enumeration values, shared by the engine's enumeration
// helpers (DRHelper, DRInfoUtils). Internal to the engine: callers use the
// helpers, not these tables.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <type_traits>

namespace EnumLookup {

// One row of a lookup table: an enumeration value and what it maps to.
template <typename TValue>
struct SEntry {
  int32_t key;
  TValue value;
};

using STextEntry = SEntry<const char*>;
using SValueEntry = SEntry<int32_t>;

// The tables hold a few dozen rows at most and are read a few times per
// step, so a linear search keeps them in the order the reader expects.
template <typename TValue, size_t N>
const TValue* Find(const SEntry<TValue> (&table)[N], int32_t key) {
  for (const SEntry<TValue>& entry : table) {
    if (entry.key == key) return &entry.value;
  }
  return nullptr;
}

// The fallback does not take part in deducing TValue, so an enumerator or a
// string literal converts to the table's type.
template <typename TValue, size_t N>
TValue Lookup(const SEntry<TValue> (&table)[N], int32_t key,
              typename std::common_type<TValue>::type fallback) {
  const TValue* found = Find(table, key);
  return found ? *found : fallback;
}

}  // namespace EnumLookup
