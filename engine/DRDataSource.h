// The data source of one priority: owns the data manager that fits the
// priority's information source, forwards record look-ups and status writes
// to it, and writes the DR job's phase rows one at a time under its lock.
#pragma once

#include "SDataSourceInfo.h"
#include "drorch/ZnCriticalSection.h"
#include "log/EvEvent.h"
#include "msg/MsgEnums.h"

class IDRDataMgr;
class IRepInfo;
struct SDRPhaseCtx;

class CDRDataSource {
 public:
  // Makes the data manager and loads the info's replications; whether that
  // worked is IsDataLoaded().
  explicit CDRDataSource(SDataSourceInfo info);
  ~CDRDataSource();
  CDRDataSource(const CDRDataSource&) = delete;
  CDRDataSource& operator=(const CDRDataSource&) = delete;

  // Creates the data manager of the information source; true when one exists.
  bool Init(TMMsg::DROpSourceType type);

  TMMsg::DROpSourceType GetInfoSource() const { return m_infoSource; }
  IDRDataMgr* GetDataManager() const { return m_dataMgr; }
  bool IsDataLoaded() const { return m_loaded; }

  // Without a data manager these give null or false.
  IRepInfo* FetchReplData(SDataSourceInfo& info);
  bool LoadData(SDataSourceInfo& info);
  bool ReloadData(SDataSourceInfo& info);
  bool UpdateStatus(SDataSourceInfo& info);
  bool UpdateProperty(ZNDR::DR_ORCHESTRATION_PROPERTY property, SDataSourceInfo& info);
  bool IsDRComplete(SDataSourceInfo& info);

  // One phase row of the DR job; true when it was written.
  bool UpdatePhaseDetails(SDataSourceInfo& info, SDRPhaseCtx& phase);

 private:
  TMMsg::DROpSourceType m_infoSource;
  IDRDataMgr* m_dataMgr;
  EvEvent m_event;
  bool m_loaded;
  SDataSourceInfo m_sourceInfo;
  // Serialises the phase-row writes of this priority's machines.
  ZnCriticalSection m_lock;
};
