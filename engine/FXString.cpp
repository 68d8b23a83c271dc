#include "FXString.h"

#include "PlatformCompat.h"

int FXString::CompareNoCase(const std::string& a, const std::string& b) { return _stricmp(a.c_str(), b.c_str()); }

std::string FXString::ToString(const std::string& s) { return s; }

std::vector<std::string> FXString::Split(const std::string& text, const std::string& separator) {
  std::vector<std::string> pieces;
  if (separator.empty()) {
    pieces.push_back(text);
    return pieces;
  }
  size_t start = 0;
  for (size_t at = text.find(separator); at != std::string::npos; at = text.find(separator, start)) {
    pieces.push_back(text.substr(start, at - start));
    start = at + separator.size();
  }
  pieces.push_back(text.substr(start));
  return pieces;
}
