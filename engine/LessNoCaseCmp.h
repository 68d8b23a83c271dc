// Ordering of map keys that ignores letter case: "DS1" and "ds1" are one key.
#pragma once

#include <string>

#include "PlatformCompat.h"

struct __less_nocase_cmp {
  bool operator()(const std::string& a, const std::string& b) const { return _stricmp(a.c_str(), b.c_str()) < 0; }
};
