#include "FXString.h"

#include "PlatformCompat.h"

int FXString::CompareNoCase(const std::string& a, const std::string& b) { return _stricmp(a.c_str(), b.c_str()); }

std::string FXString::ToString(const std::string& s) { return s; }
