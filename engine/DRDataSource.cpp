#include "DRDataSource.h"

#include "app/AppReplDataMgr.h"
#include "services/DRAppManager.h"
#include "DRInfoUtils.h"
#include "IDRDataMgr.h"
#include "SDRPhaseCtx.h"
#include "app/SnapArrayDRReplDataMgr.h"
#include "vsa/VSAReplDataMgr.h"
#include "ZnCriticalSectionLock.h"
#include "msg/MsgClasses.h"

CDRDataSource::CDRDataSource(SDataSourceInfo info)
    : m_infoSource(info.infoSource), m_dataMgr(nullptr), m_loaded(false), m_sourceInfo(info) {
  m_event.setJobId(info.jobId);
  Init(info.infoSource);
  m_loaded = LoadData(info);
  if (!m_loaded) m_event.Error("CDRDataSource", "Error fetching ReplicationInfo object(s)");
}

CDRDataSource::~CDRDataSource() {
  m_event.DebugLvl(2, "~CDRDataSource", "Running CDRDataSource destructor");
  m_event.DebugLvl(2, "~CDRDataSource", "Cleaning up VSDRDataManager object");
  delete m_dataMgr;
  m_dataMgr = nullptr;
}

bool CDRDataSource::Init(TMMsg::DROpSourceType type) {
  m_infoSource = type;
  switch (type) {
    case TMMsg::DR_OP_SOURCE_VSA_REPLICATION:
      m_dataMgr = new CVSAReplDataMgr(m_sourceInfo);
      break;
    case TMMsg::DR_OP_SOURCE_DB_REPLICATION:
      m_dataMgr = new CAppReplDataMgr(SDataSourceInfo(m_sourceInfo));
      break;
    case TMMsg::DR_OP_SOURCE_SNAP_ARRAY_REPLICATION:
      m_dataMgr = new CSnapArrayDRReplDataMgr(m_sourceInfo);
      break;
    default:
      break;
  }
  return m_dataMgr != nullptr;
}

IRepInfo* CDRDataSource::FetchReplData(SDataSourceInfo& info) {
  return m_dataMgr != nullptr ? m_dataMgr->FetchReplData(info) : nullptr;
}

bool CDRDataSource::LoadData(SDataSourceInfo& info) { return m_dataMgr != nullptr && m_dataMgr->LoadData(info); }

bool CDRDataSource::ReloadData(SDataSourceInfo& info) { return m_dataMgr != nullptr && m_dataMgr->ReloadData(info); }

bool CDRDataSource::UpdateStatus(SDataSourceInfo& info) {
  return m_dataMgr != nullptr && m_dataMgr->UpdateStatus(info);
}

bool CDRDataSource::UpdateProperty(ZNDR::DR_ORCHESTRATION_PROPERTY property, SDataSourceInfo& info) {
  return m_dataMgr != nullptr && m_dataMgr->UpdateProperty(property, info);
}

bool CDRDataSource::IsDRComplete(SDataSourceInfo& info) {
  return m_dataMgr != nullptr && m_dataMgr->IsDRComplete(info);
}

bool CDRDataSource::UpdatePhaseDetails(SDataSourceInfo& info, SDRPhaseCtx& phase) {
  ZnCriticalSectionLock lock(&m_lock);
  Api::VirtualAppJobUpdateReq request;
  std::string response;
  if (!DRInfoUtils::PopulateVAppJobUpdateReq(info, phase, request)) {
    m_event.Error("UpdatePhaseDetails", "Error populating VirtualAppJobUpdateReq");
    return false;
  }
  if (!CDRAppManager::ExecuteStoredProcedure(request, response, Api::VirtualAppJobUpdateReq::kTypeId)) {
    m_event.Error("UpdatePhaseDetails", "Error executing stored procedure App_VirtualAppJobStats");
    return false;
  }
  m_event.DebugLvl(6, "UpdatePhaseDetails", "Update request response [%s]", response.c_str());
  return true;
}
