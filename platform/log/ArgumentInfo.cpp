#include "log/ArgumentInfo.h"

void ArgumentInfo::AddArgument(const char* text, int type) { m_args.push_back(SArg{text ? text : "", type}); }

std::vector<std::string> ArgumentInfo::Texts() const {
  std::vector<std::string> out;
  out.reserve(m_args.size());
  for (const SArg& a : m_args) out.push_back(a.text);
  return out;
}
