#include "DRAppManager.h"

#include <stdlib.h>

#include "Db/Tbl/APP_VSAReplication.h"
#include "Db/Tbl/OBGlobalParam.h"
#include "appmgr/ZNClient.h"
#include "db/App_ExecuteSP.h"
#include "db/ZNGlobalParam.h"
#include "engine/ZnCriticalSectionLock.h"
#include "jobs/EvTask.h"
#include "settings/ZNPlatformInfo.h"
#include "vm/VmAuxOps.h"
#include "xmlreq/XMLHandler.h"

CDRAppManager::CDRAppManager()
    : m_vAppId(0),
      m_clientId(0),
      m_haldenId(0),
      m_userId(1),
      m_drOption(nullptr),
      m_monitorBased(false),
      m_maxParallelThreadCount(10),
      m_delayTimeBeforeSync(60),
      m_lastSelectedProxyClientId(0),
      m_firstTimeSyncDuringFailover(false) {}

// Modified task definitions are sent back with the task management change;
// until then nothing marks a task for edit.
// The edits the job made to cached task definitions reach the task manager
// when the job ends.
CDRAppManager::~CDRAppManager() { CommitModifiedTasks(); }

// ---------------------------------------------------------------------------
// Start-up, DR group and options

bool CDRAppManager::InitClient() {
  if (m_clientId != 0 && m_haldenId != 0) return true;
  std::string machine = ZnPlatformInfo::getPhysicalMachine();
  if (machine.empty()) {
    m_event.Error("InitClient", "Couldn't fetch client name");
    return false;
  }
  ZNClient client(machine.c_str());
  int value = 0;
  if (client.getClientId(value) == 0) m_clientId = value;
  value = 0;
  if (client.getHaldenId(value) == 0) m_haldenId = value;
  if (m_clientId == 0 || m_haldenId == 0) {
    m_event.Error("InitClient", "Couldn't derive local Client and Halden IDs");
    return false;
  }
  return true;
}

bool CDRAppManager::Initialize(int userId, TMMsg::JobOption* jobOption) {
  if (!InitClient()) return false;
  m_userId = userId;
  m_drOption = nullptr;
  if (jobOption && jobOption->Has(TMMsg::JobOption::kBackupOptions)) {
    CNMessageBase& dr = jobOption->MutableMsg(TMMsg::JobOption::kBackupOptions);
    if (dr.Has(TMMsg::BackupOptionFields::kDROrchestrationOption))
      m_drOption = &dr.MutableMsgAs<TMMsg::DROrchestrationOption>(TMMsg::BackupOptionFields::kDROrchestrationOption);
  }
  if (!m_drOption || !m_drOption->Has(TMMsg::DROrchestrationOption::kInitiatedFromMonitor)) {
    m_event.Error("Initialize", "DR parameter (initiatedfromMonitor) not set. Exiting");
    return false;
  }
  if (m_drOption->GetInt32(TMMsg::DROrchestrationOption::kInitiatedFromMonitor) != 0) {
    m_monitorBased = true;
    m_event.Debug("Initialize", "Initiated from Monitor set as [true]");
  }
  if (!m_monitorBased) QueryVAppId();
  if (m_vAppId > 0) {
    if (!QueryVirtualApp()) return false;
    if (!m_virtualApp.Has(Api::VirtualApp::kConfig)) {
      m_event.Error("Initialize", "vapp config not set");
      return false;
    }
    const CNMessageBase& config = m_virtualApp.GetMsg(Api::VirtualApp::kConfig);
    m_vAppGroups.clear();
    for (size_t i = 0; i < config.ListSize(TMMsg::DRGroupConfigFields::kPriorities); ++i)
      m_vAppGroups.push_back(config.GetListMsgAs<TMMsg::VMGroup>(TMMsg::DRGroupConfigFields::kPriorities, i));
  }
  std::string value;
  if (QueryObGlobalParam(DRPLAN_SETTINGS_PARALLEL_THREAD_COUNT, value))
    m_maxParallelThreadCount = atoi(value.c_str());
  m_delayTimeBeforeSync = QueryDelayTimeBeforeSync();
  return true;
}

bool CDRAppManager::QueryVAppId() {
  if (!m_drOption || !m_drOption->Has(TMMsg::DROrchestrationOption::kVirtualAppEntity)) {
    m_event.Debug("QueryVAppId", "VApp not found.");
    return true;
  }
  const CNMessageBase& entity = m_drOption->GetMsg(TMMsg::DROrchestrationOption::kVirtualAppEntity);
  if (entity.Has(ZnEntities::VirtualAppEntity::kVirtualAppId)) {
    m_vAppId = entity.GetInt32(ZnEntities::VirtualAppEntity::kVirtualAppId);
    m_event.Debug("QueryVAppId", "Found vApp Id as [%d]", m_vAppId);
  }
  return true;
}

bool CDRAppManager::QueryVirtualApp() {
  Api::GetVirtualAppReq req;
  req.SetInt32(Api::GetVirtualAppReq::kFlag3, 1);
  req.SetInt32(Api::GetVirtualAppReq::kFlag4, 1);
  req.MutableMsg(Api::GetVirtualAppReq::kFetchLevel).SetInt32(Api::FetchLevelFields::kLevel, 3);
  req.SetInt32(Api::GetVirtualAppReq::kVirtualAppId, m_vAppId);
  std::string xml, error;
  if (!req.serializeUTF8(xml)) {
    m_event.Error("QueryVirtualApp", "Failed to serialize GetVirtualAppReq request");
    return false;
  }
  m_event.DebugLvl(6, "QueryVirtualApp", "GetVirtualAppReq request %s", xml.c_str());
  if (XMLHandler::handleXMLReq(1, Api::GetVirtualAppReq::kTypeId, xml, error, "", 0) != 0) {
    m_event.Error("QueryVirtualApp", "Error [%s] contacting db for fetching virtual app", error.c_str());
    return false;
  }
  Api::GetVirtualAppResp resp;
  if (!resp.Unserialize(xml)) {
    m_event.Error("QueryVirtualApp", "Failed to un-serialize GetVirtualAppResp response");
    return false;
  }
  if (resp.ListSize(Api::GetVirtualAppResp::kVirtualApps) == 0) {
    m_event.Error("QueryVirtualApp", "Failed to get VApp config for vapp Id [%d]", m_vAppId);
    return false;
  }
  m_virtualApp = resp.GetListMsg(Api::GetVirtualAppResp::kVirtualApps, 0);
  m_event.DebugLvl(6, "QueryVirtualApp", "response=[%s]", xml.c_str());
  return true;
}

int CDRAppManager::QueryDelayTimeBeforeSync() {
  int value = 60;
  ZNGlobalParam::getDelayTimeBeforeSync(value);
  return value;
}

const CNMessageBase* CDRAppManager::ReplicationInfo() const {
  if (!m_drOption || !m_drOption->Has(TMMsg::DROrchestrationOption::kReplicationInfo)) return nullptr;
  return &m_drOption->GetMsg(TMMsg::DROrchestrationOption::kReplicationInfo);
}

const CNMessageBase* CDRAppManager::AdvancedOptions() const {
  if (!m_drOption || !m_drOption->Has(TMMsg::DROrchestrationOption::kAdvancedOptions)) return nullptr;
  return &m_drOption->GetMsg(TMMsg::DROrchestrationOption::kAdvancedOptions);
}

TMMsg::DRReplicationType CDRAppManager::GetReplicationType() {
  const CNMessageBase* info = ReplicationInfo();
  if (!info || !info->Has(TMMsg::DRReplicationInfoFields::kReplicationType))
    return static_cast<TMMsg::DRReplicationType>(0);
  int type = info->GetInt32(TMMsg::DRReplicationInfoFields::kReplicationType);
  m_event.DebugLvl(6, "GetReplicationType", "DRReplication Type : [%d]", type);
  return static_cast<TMMsg::DRReplicationType>(type);
}

bool CDRAppManager::GetReplConfigOptionList(std::vector<TMMsg::DRConfigOption>& out) {
  if (!m_drOption) return false;
  const CNMessageBase* info = ReplicationInfo();
  if (!info || !info->Has(TMMsg::DRReplicationInfoFields::kReplicationIds)) {
    m_event.Error("GetReplConfigOptionList", "Replication info not set OR replication id(s) not found");
    return false;
  }
  if (info->Has(TMMsg::DRReplicationInfoFields::kConfigOptions)) {
    out.clear();
    for (size_t i = 0; i < info->ListSize(TMMsg::DRReplicationInfoFields::kConfigOptions); ++i)
      out.push_back(info->GetListMsgAs<TMMsg::DRConfigOption>(TMMsg::DRReplicationInfoFields::kConfigOptions, i));
  }
  return true;
}

bool CDRAppManager::GetReplList(std::vector<int>& out) {
  const CNMessageBase* info = ReplicationInfo();
  if (!info) {
    m_event.Error("GetReplList", "Replication info not set");
    return false;
  }
  if (info->Has(TMMsg::DRReplicationInfoFields::kReplicationIds) &&
      info->ListSize(TMMsg::DRReplicationInfoFields::kReplicationIds) > 0) {
    std::vector<int32_t> ids;
    info->GetInt32List(TMMsg::DRReplicationInfoFields::kReplicationIds, ids);
    out.assign(ids.begin(), ids.end());
    return true;
  }
  return GetReplListFromRepGroup(out);
}

bool CDRAppManager::IsUseSelectiveVMReplicationSet() {
  const CNMessageBase* info = ReplicationInfo();
  if (!info) {
    m_event.Error("IsUseSelectiveVMReplicationSet", "Replication info not set");
    return false;
  }
  if (info->Has(TMMsg::DRReplicationInfoFields::kReplicationIds) &&
      info->Has(TMMsg::DRReplicationInfoFields::kSelectiveVMReplication))
    return info->GetInt32(TMMsg::DRReplicationInfoFields::kSelectiveVMReplication) != 0;
  return false;
}

bool CDRAppManager::IsLinkedCloneOptionEnabled() {
  if (!m_virtualApp.Has(Api::VirtualApp::kAllocationPolicy)) return false;
  const CNMessageBase& policy = m_virtualApp.GetMsg(Api::VirtualApp::kAllocationPolicy);
  if (!policy.Has(Ida::VMAllocationPolicy::kLinkedClone)) return false;
  return policy.GetInt32(Ida::VMAllocationPolicy::kLinkedClone) != 0;
}

bool CDRAppManager::IsDisableNetworkAdapterAllowed() {
  const CNMessageBase* adv = AdvancedOptions();
  bool allowed = !(adv && adv->Has(TMMsg::DRAdvancedOptionFields::kDisableNetworkAdapter) &&
                   adv->GetInt32(TMMsg::DRAdvancedOptionFields::kDisableNetworkAdapter) != 0);
  m_event.Debug("IsDisableNetworkAdapterAllowed", "Disable Network Adapter config set as [%s]",
                allowed ? "true" : "false");
  return allowed;
}

int CDRAppManager::GetAdvancedOptsDelay() {
  const CNMessageBase* adv = AdvancedOptions();
  if (!adv || !adv->Has(TMMsg::DRAdvancedOptionFields::kDelayTime)) return 0;
  int delay = adv->GetInt32(TMMsg::DRAdvancedOptionFields::kDelayTime);
  m_event.Debug("GetAdvancedOptsDelay", "DROrchestration Advanced Options delay time set as [%d]", delay);
  return delay;
}

bool CDRAppManager::IsPowerOnVMAllowed() {
  const CNMessageBase* adv = AdvancedOptions();
  bool allowed = true;
  if (adv && adv->Has(TMMsg::DRAdvancedOptionFields::kPowerOnVM))
    allowed = adv->GetInt32(TMMsg::DRAdvancedOptionFields::kPowerOnVM) != 0;
  m_event.DebugLvl(2, "IsPowerOnVMAllowed", "PowerOn VM set as [%s]", allowed ? "true" : "false");
  return allowed;
}

int CDRAppManager::GetMonitorType() {
  const CNMessageBase* info = ReplicationInfo();
  if (!info || !info->Has(TMMsg::DRReplicationInfoFields::kMonitorEntity)) return 0;
  const CNMessageBase& monitor = info->GetMsg(TMMsg::DRReplicationInfoFields::kMonitorEntity);
  return monitor.GetInt32(ZnEntities::MonitorEntityFields::kMonitorType) == 22 ? 2 : 0;
}

bool CDRAppManager::CheckIfEmailsCanBeSend(std::string& email) {
  EvTask task(m_event.getJobId(), 0, nullptr, false);
  int ownerId = task.getOwnerId();
  std::string error;
  if (VmAuxOps::GetUserEMail(ownerId, email, error) != 0) {
    m_event.Error("CheckIfEmailsCanBeSend", "Failure while fetching user email from DB for userId [%lu]",
                  static_cast<unsigned long>(ownerId));
    return false;
  }
  return true;
}

// ---------------------------------------------------------------------------
// Management-database queries

bool CDRAppManager::ExecuteStoredProcedure(CNMessageBase& request, std::string& output, unsigned long msgType) {
  EvEvent event;
  std::string xml;
  if (!request.serializeUTF8(xml)) {
    event.Error("ExecuteStoredProcedure", "Failed to serialize XML request.");
    return false;
  }
  event.DebugLvl(2, "ExecuteStoredProcedure", "Executing stored procedure for request [%s]", xml.c_str());
  App_ExecuteSP sp;
  if (sp.executeGetStoredProcedure(msgType, xml, output, nullptr) != 0) {
    event.Error("ExecuteStoredProcedure", "Failed to execute sp for message [%lu]", msgType);
    return false;
  }
  event.DebugLvl(2, "ExecuteStoredProcedure", "output xml = [%s]", output.c_str());
  return true;
}

bool CDRAppManager::QueryObGlobalParam(std::string name, std::string& value) {
  ZnCriticalSectionLock lock(&m_dbLock);
  OBGlobalParam table(nullptr);
  table.setWhere("name = '%s'", name.c_str());
  int rc = getOneRow(&table, false, -1, 0);
  if (rc == 0) {
    const char* v = table.getDataPtr()->value;
    value = v ? v : "";
    return true;
  }
  if (rc == 100) {
    m_event.DebugLvl(2, "QueryObGlobalParam", "[%s] key missing in DHDB.", name.c_str());
    return false;
  }
  m_event.Error("QueryObGlobalParam", "Unable to get [%s] property from OBGlobalParam. Error [ %s ]", name.c_str(),
                table.getErrorStr(rc).c_str());
  return false;
}

bool CDRAppManager::GetReplListFromRepGroup(std::vector<int>& list) {
  const CNMessageBase* info = ReplicationInfo();
  int groupId = info ? info->GetInt32(TMMsg::DRReplicationInfoFields::kReplicationGroupId) : 0;
  if (groupId == 0) {
    m_event.Error("GetReplListFromRepGroup", "Replication group id is not set");
    return false;
  }
  m_event.Debug("GetReplListFromRepGroup", "Populating Replication id list from Replication group [%d]", groupId);
  APP_VSAReplication table(nullptr);
  table.setWhere("taskId = %d", groupId);
  // Only the end of the rows ends the walk: a read error half way must not
  // pass for a group with fewer replications.
  std::vector<int> found;
  int state = 0;
  int rc;
  while ((rc = getNextRow(&table, &state, -1, 0)) == 0) found.push_back(table.getDataPtr()->replicationId);
  if (rc != 100) {
    m_event.Error("GetReplListFromRepGroup", "Failed to read the replications of Replication group [%d]. Error [%s]",
                  groupId, table.getErrorStr(rc).c_str());
    return false;
  }
  list.insert(list.end(), found.begin(), found.end());
  if (list.empty()) {
    m_event.Error("GetReplListFromRepGroup", "No Replication ids are associated with Replication group [%d]",
                  groupId);
    return false;
  }
  return true;
}
