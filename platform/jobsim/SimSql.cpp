#include "jobsim/SimSql.h"

#include <stdlib.h>

namespace {

template <class T>
std::string Join(const std::vector<T>& ids) {
  std::string out;
  for (T id : ids) out += (out.empty() ? "" : ",") + std::to_string(id);
  return out;
}

}  // namespace

std::string JoinIds(const std::vector<long long>& ids) { return Join(ids); }
std::string JoinIds(const std::vector<int>& ids) { return Join(ids); }

std::vector<long long> SplitIds(const std::string& text) {
  std::vector<long long> ids;
  const char* p = text.c_str();
  while (*p) {
    char* end = nullptr;
    const long long id = strtoll(p, &end, 10);
    if (end == p) break;
    ids.push_back(id);
    p = *end == ',' ? end + 1 : end;
  }
  return ids;
}

std::vector<int> SplitIntIds(const std::string& text) {
  std::vector<int> ids;
  for (long long id : SplitIds(text)) ids.push_back(static_cast<int>(id));
  return ids;
}
