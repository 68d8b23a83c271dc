#include "db/ZNDBFormats.h"

const ZNDBFormat ZNDB_int_format = {"%d"};
const ZNDBFormat ZNDB___int64_format = {"%lld"};
const ZNDBFormat ZNDB_float_format = {"%f"};
