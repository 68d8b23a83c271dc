// How a generated binding tells the library where each column of its value
// struct lives. The same table gives the descriptor its column list and the
// database its schema, so a binding and its table cannot drift apart.
#pragma once

#include <stddef.h>

// One column: its name, its struct-definition token ("i", "b", "x", "f", "t",
// "s" or "s<N>") and the offset of its field in the value struct.
struct SDBColumnBind {
  const char* name;
  const char* token;
  size_t offset;
};

// The token parsed: kind is one of 'i', 'b', 'x', 'f', 't', 's'; size is the
// buffer size of an "s<N>" field (0 for an owned heap text).
struct SDBColumnType {
  char kind;
  size_t size;
};

SDBColumnType DBParseColumnToken(const char* token);
