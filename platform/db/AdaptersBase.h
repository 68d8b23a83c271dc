// Common base of the platform's adapters to the management server.
#pragma once

#include <string>

class AdaptersBase {
 public:
  AdaptersBase() = default;
  virtual ~AdaptersBase() = default;

  const std::string& getLastError() const { return m_lastError; }

 protected:
  std::string m_lastError;
};
