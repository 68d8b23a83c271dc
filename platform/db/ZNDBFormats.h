// The library's printf formats of the three scalar column kinds. Their
// addresses are template arguments of the scalar value classes.
#pragma once

struct ZNDBFormat {
  const char* text;
};

extern const ZNDBFormat ZNDB_int_format;
extern const ZNDBFormat ZNDB___int64_format;
extern const ZNDBFormat ZNDB_float_format;
