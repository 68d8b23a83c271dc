// String helpers of the code base.
#pragma once

#include <string>
#include <vector>

class FXString {
 public:
  // Case-insensitive comparison: negative, 0 or positive.
  static int CompareNoCase(const std::string& a, const std::string& b);
  static std::string ToString(const std::string& s);
  // The pieces of text between separators, in order. Empty pieces are kept
  // (a leading, trailing or repeated separator gives one each), so a piece's
  // index always counts the separators before it: n separators give n + 1
  // pieces, and an empty text gives one empty piece. An empty separator
  // gives the whole text.
  static std::vector<std::string> Split(const std::string& text, const std::string& separator);
};
