// A database instance of a replication's source or destination, as the
// application contexts read it from the site's entity of the replication
// message (ZnEntities::SubClientEntity).
#pragma once

#include <stdint.h>

#include <string>

struct SDRInstanceCtx {
  int32_t instanceId = 0;     // entity field 7
  std::string instanceName;   // entity field 8
  int32_t clientId = 0;       // entity field 2
  std::string clientName;     // entity field 14
};
