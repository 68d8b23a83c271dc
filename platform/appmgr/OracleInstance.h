// An Oracle database instance of the management server, by instance id.
#pragma once

#include <string>

class OracleInstance {
 public:
  explicit OracleInstance(unsigned long instanceId);

  // The instance's Oracle home directory (its "Oracle Home" property): 0
  // with the home, 0 with an empty home when the instance has none; non-zero
  // for an instance that is not known or cannot be read.
  int getOracleHome(std::string& home, void* reserved);

 private:
  unsigned long m_instanceId;
};
