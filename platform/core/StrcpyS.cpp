#include "core/StrcpyS.h"

#include <string.h>

int strcpy_s(char* dest, unsigned long size, char const* src) {
  if (!dest || size == 0) return 1;
  if (!src) {
    dest[0] = 0;
    return 1;
  }
  size_t n = strnlen(src, size);
  if (n >= size) {
    memcpy(dest, src, size - 1);
    dest[size - 1] = 0;
    return 1;
  }
  memcpy(dest, src, n + 1);
  return 0;
}
