// A database instance of a replication's source or destination, as the
// application contexts read it from the application message.
#pragma once

#include <stdint.h>

#include <string>

struct SDRInstanceCtx {
  int32_t instanceId = 0;     // message field 19
  std::string instanceName;   // field 20
  int32_t clientId = 0;       // field 37
  std::string clientName;     // field 38
};
