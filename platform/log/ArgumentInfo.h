// An ordered list of typed arguments that travel with a job event or a
// pending cause.
#pragma once

#include <string>
#include <vector>

class ArgumentInfo {
 public:
  // Type 11 is a plain text argument.
  static constexpr int kTextArgument = 11;

  void AddArgument(const char* text, int type);
  ArgumentInfo& operator<<(const char* text) {
    AddArgument(text, kTextArgument);
    return *this;
  }

  size_t Count() const { return m_args.size(); }
  const std::string& Text(size_t i) const { return m_args[i].text; }
  int Type(size_t i) const { return m_args[i].type; }
  std::vector<std::string> Texts() const;
  void Clear() { m_args.clear(); }

 private:
  struct SArg {
    std::string text;
    int type;
  };
  std::vector<SArg> m_args;
};
