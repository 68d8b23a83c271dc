#include "db/DBColumnBind.h"

#include <stdlib.h>

SDBColumnType DBParseColumnToken(const char* token) {
  SDBColumnType t{'s', 0};
  if (!token || !*token) return t;
  t.kind = token[0];
  if (t.kind == 's' && token[1]) t.size = static_cast<size_t>(strtoul(token + 1, nullptr, 10));
  return t;
}
