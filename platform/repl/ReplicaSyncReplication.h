// Adapter through which a DR job reads and stores application (database)
// replications on the management server (CReplicaSyncStore), with the faults
// a test plants there.
#pragma once

#include <string>
#include <vector>

#include "db/AdaptersBase.h"
#include "msg/MsgClasses.h"

class ReplicaSyncReplication : public AdaptersBase {
 public:
  ReplicaSyncReplication();
  ~ReplicaSyncReplication() override;

  // The replication whose id field 1 of the query holds: 0 with the record
  // in out, or 0 with out empty when there is no such replication (or a
  // planted empty answer); non-zero, with the reason in error, when it
  // cannot be read (or a planted failure). out is replaced.
  int getSiteReplication(App::ReplicaSyncReplicationInfo* query, std::vector<App::ReplicaSyncReplicationInfo>& out,
                         std::string& error, void* context);
  // Stores a partial replication: field 1 selects it, only the fields set
  // in the message change. 0 on success, else error says why.
  int setSiteReplication(App::ReplicaSyncReplicationInfo* info, std::string& error, void* context);
};
