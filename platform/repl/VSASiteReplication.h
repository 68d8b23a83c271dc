// Adapter through which a changed VM replication is stored on the
// management server.
#pragma once

#include <string>

#include "db/AdaptersBase.h"
#include "msg/MsgClasses.h"

class VSASiteReplication : public AdaptersBase {
 public:
  VSASiteReplication();
  ~VSASiteReplication() override;

  // Stores a partial replication: field 1 selects the replication, only the
  // fields set in the message change. 0 on success, else error says why.
  int setSiteReplication(App::VSAReplicationInfo* info, std::string& error, void* context);
};
