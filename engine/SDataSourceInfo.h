// What a data manager needs to find, load or update replication records.
#pragma once

#include <stdint.h>

#include <vector>

#include "msg/MsgEnums.h"

class CDRJobManager;

struct SDataSourceInfo {
  SDataSourceInfo();

  int32_t replId;  // the one replication an operation is about
  std::vector<int32_t> replIds;
  App::VSAFailoverStatus failoverStatus;
  App::VSAReplicationStatus syncStatus;
  uint64_t lastRestoreTime;
  Api::VirtualAppPhaseState status;  // the machine's state, IN-PROGRESS by default
  int64_t jobId;
  int32_t drGroupId;
  TMMsg::DROrchestrationType drType;
  TMMsg::DROpSourceType infoSource;
  uint64_t vmSyncedTillTime;
  int32_t appId;  // 106 by default
  CDRJobManager* jobManager;
};
