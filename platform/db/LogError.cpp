#include "db/LogError.h"

#include <stdarg.h>

#include <string>

#include "log/LogSink.h"

void log_error(char const* file, int line, char const* format, ...) {
  char text[4096] = {0};
  if (format) {
    va_list ap;
    va_start(ap, format);
    vsnprintf(text, sizeof(text), format, ap);
    va_end(ap);
  }
  CLogSink::Instance().Write(0, "log_error", "%s:%d %s", file ? file : "", line, text);
}
