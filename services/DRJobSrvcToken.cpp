// The completion token's parser, on its own: it reads text that arrives
// from another process, so the fuzz tree builds it alone.
#include <string>
#include <vector>

#include "drorch/DRJobManager.h"
#include "log/EvEvent.h"

void CDRJobManager::ParseJobSrvcToken(const std::string& token, std::string& drJobId) {
  EvDebug().Debug("ParseJobSrvcToken", "Received token to parse [%s]", token.c_str());
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    const size_t bar = token.find('|', start);
    parts.push_back(token.substr(start, bar == std::string::npos ? std::string::npos : bar - start));
    if (bar == std::string::npos) break;
    start = bar + 1;
  }
  if (parts.size() >= 2 && !parts[1].empty()) drJobId = parts[1];
}
