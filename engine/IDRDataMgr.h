// A replication data manager: loads the replication records of one
// information source and writes their statuses and properties back.
#pragma once

#include "SDataSourceInfo.h"
#include "msg/MsgEnums.h"

class IRepInfo;

class IDRDataMgr {
 public:
  virtual ~IDRDataMgr() = 0;
  // The record of the info's replication id, owned by the manager; null for
  // an id it does not hold.
  virtual IRepInfo* FetchReplData(SDataSourceInfo& info) = 0;
  // Loads the replications of the info's id list.
  virtual bool LoadData(SDataSourceInfo& info) = 0;
  virtual bool ReloadData(SDataSourceInfo& info) = 0;
  // Writes one property of the info's replication from the info.
  virtual bool UpdateProperty(ZNDR::DR_ORCHESTRATION_PROPERTY property, SDataSourceInfo& info) = 0;
  // Writes the replication's status from the info's status.
  virtual bool UpdateStatus(SDataSourceInfo& info) = 0;
  // The replication already reached the state the DR type aims at.
  virtual bool IsDRComplete(SDataSourceInfo& info) = 0;
};

inline IDRDataMgr::~IDRDataMgr() {}
