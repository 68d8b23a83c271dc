#include "SDataSourceInfo.h"

SDataSourceInfo::SDataSourceInfo()
    : replId(0),
      failoverStatus(static_cast<App::VSAFailoverStatus>(0)),
      syncStatus(static_cast<App::VSAReplicationStatus>(0)),
      lastRestoreTime(0),
      status(static_cast<Api::VirtualAppPhaseState>(2)),
      jobId(0),
      drGroupId(0),
      drType(static_cast<TMMsg::DROrchestrationType>(0)),
      infoSource(static_cast<TMMsg::DROpSourceType>(0)),
      vmSyncedTillTime(0),
      appId(106),
      jobManager(nullptr) {}
