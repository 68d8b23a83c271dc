// One sub-priority of the DR group: its order number, where its machines
// come from, its VM group settings and the replications it covers.
#pragma once

#include <stdint.h>

#include <vector>

#include "msg/MsgEnums.h"
#include "msg/MsgClasses.h"

class CDRDataSource;

struct SDRPriority {
  SDRPriority();

  int32_t drGroupId;  // set by the boot-order generation, 0 otherwise
  int32_t order;      // priority number, the queue's key
  TMMsg::DROpSourceType infoSource;
  TMMsg::VMGroup vmGroup;      // 1 priority, 2 delay in minutes, 3 continue-on-failure, 4 VM sequence
  std::vector<int32_t> replIds;
  CDRDataSource* dataSource;   // owned by the orchestrator
  Api::DRSequence drSequence;  // per-phase step settings
  bool success;                // outcome when the sub-priority ran on a worker thread
};
