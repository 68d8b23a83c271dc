#include "PlatformCompat.h"

#include <pthread.h>
#include <stdarg.h>
#include <stdio.h>
#include <strings.h>

int _stricmp(const char* a, const char* b) { return strcasecmp(a, b); }

unsigned long GetCurrentThreadId() { return static_cast<unsigned long>(pthread_self()); }

int ET_snprintf(char* buf, int size, const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  int n = vsnprintf(buf, size < 0 ? 0 : static_cast<size_t>(size), fmt, ap);
  va_end(ap);
  return n;
}
