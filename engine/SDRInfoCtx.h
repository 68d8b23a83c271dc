// The arguments of a machine record's constructor.
#pragma once

#include "SDataSourceInfo.h"
#include "msg/MsgEnums.h"

class CDRAppManager;
class CDRDataSource;
class CDRJobManager;
struct SDRPriority;

struct SDRInfoCtx {
  // Sets the priority, the data source and the copy; the caller sets the rest.
  SDRInfoCtx(CDRDataSource* dataSource, const SDataSourceInfo& info, SDRPriority& priority)
      : priority(&priority),
        dsInfo(info),
        drType(static_cast<TMMsg::DROrchestrationType>(0)),
        dataSource(dataSource),
        jobManager(nullptr),
        appManager(nullptr) {}

  SDRPriority* priority;
  SDataSourceInfo dsInfo;
  TMMsg::DROrchestrationType drType;
  CDRDataSource* dataSource;
  CDRJobManager* jobManager;
  CDRAppManager* appManager;
};
