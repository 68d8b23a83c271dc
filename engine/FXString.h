// String helpers of the code base.
#pragma once

#include <string>

class FXString {
 public:
  // Case-insensitive comparison: negative, 0 or positive.
  static int CompareNoCase(const std::string& a, const std::string& b);
  static std::string ToString(const std::string& s);
};
