#include "net/XoError.h"

#include <string.h>

FXCodeLocation::FXCodeLocation(const char* file, const char* function, int line)
    : m_file(file ? file : ""), m_function(function ? function : ""), m_line(line) {}

CXoError::CXoError(int32_t code, const std::string& text) : m_code(code) {
  auto details = std::make_shared<SDetails>();
  details->text = text;
  m_details = std::move(details);
}

CXoError::CXoError(int32_t code, const std::string& text, const FXCodeLocation& where) : m_code(code) {
  auto details = std::make_shared<SDetails>();
  details->text = text;
  details->where = std::make_unique<FXCodeLocation>(where);
  m_details = std::move(details);
}

const std::string& CXoError::Text() const {
  static const std::string kEmpty;
  return m_details ? m_details->text : kEmpty;
}

const FXCodeLocation* CXoError::Location() const { return m_details ? m_details->where.get() : nullptr; }

std::string CXoError::AsString() const {
  if (m_code == 0 && Text().empty()) return "success";
  std::string out = Text().empty() ? std::string("error") : Text();
  out += " (code " + std::to_string(m_code);
  if (const FXCodeLocation* where = Location()) {
    // The file's own name is enough to find it; the build's path is noise.
    const char* file = strrchr(where->File().c_str(), '/');
    file = file ? file + 1 : where->File().c_str();
    out += ", in " + where->Function() + ", " + file + ":" + std::to_string(where->Line());
  }
  return out + ")";
}

CXoError FXErrorUtil::ErrorZNResult(const FXCodeLocation& where, int32_t code, const std::string& text) {
  return CXoError(code, text, where);
}
