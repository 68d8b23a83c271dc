// Common base of the platform's adapters to the management server.
#pragma once

#include <string>

class AdaptersBase {
 public:
  AdaptersBase() = default;
  // The adapter's connection to the management server; the stand-in's
  // adapters reach it directly and answer themselves.
  virtual void* getAdaptersInterface() { return this; }
  virtual ~AdaptersBase() = default;
  // The reason of the adapter's last failure (empty after none).
  virtual std::string getErrorString() { return m_lastError; }
  // What the management server reports on the application the adapter
  // serves: the stand-in knows of none and answers 1 with an empty text.
  virtual int getActiveApplicationInfo(std::string& info) {
    info.clear();
    return 1;
  }

  const std::string& getLastError() const { return m_lastError; }

 protected:
  std::string m_lastError;
};
