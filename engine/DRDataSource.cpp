#include "DRDataSource.h"

#include "IDRDataMgr.h"

CDRDataSource::CDRDataSource(SDataSourceInfo info)
    : m_infoSource(info.infoSource), m_dataMgr(nullptr), m_loaded(false), m_sourceInfo(info) {
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
  // The replication data managers of the three sources join here; until
  // then no source has one and loading fails.
  if (m_dataMgr == nullptr) {
    m_event.Error("Init", "No replication data manager for information source [%d]", static_cast<int>(type));
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
