// A replica group of storage-array volume relationships: the volumes that
// break and re-sync together. The engine's volume-relationship workers record
// here how the relationship stands after a successful step.
#pragma once

#include <atomic>

#include "msg/MsgEnums.h"

class SSMReplicaGroup {
 public:
  SSMReplicaGroup() : m_relationshipStatus(VOLUME_RELATIONSHIP_NOT_RECORDED) {}

  // 1 broken, 0 normal or re-synced, 8 for other phases.
  void SetRelationshipStatus(E_VOLUME_RELATIONSHIP_STATUS status);
  E_VOLUME_RELATIONSHIP_STATUS GetRelationshipStatus() const;

 private:
  // Written by a DR worker, read by the context after the pool's wait.
  std::atomic<E_VOLUME_RELATIONSHIP_STATUS> m_relationshipStatus;
};
