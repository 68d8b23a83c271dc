// Management-database queries and updates of the application manager: copy
// details and VM states through the stored-procedure adapter, host names,
// clone counts, client ids and properties, the VM allocation policy of a
// task or target, replication clean-up, DR group properties and subclient
// activity.
//
// Which lock: m_dbLock around the table reads and writes that share client
// rows (and the UUID cache), m_vAppPropLock around the DR group property
// update; the procedures and requests take none.
#include <stdint.h>
#include <string.h>

#include <initializer_list>
#include <string>

#include "DRAppManager.h"
#include "Db/Proc/APPSetActivityControl.h"
#include "Db/Proc/AppVSAReplicationsDeleteOptions.h"
#include "Db/SprocWrapper.h"
#include "Db/Tbl/APP_Application.h"
#include "Db/Tbl/APP_Client.h"
#include "Db/Tbl/APP_ClientProp.h"
#include "Db/Tbl/APP_InstanceProp.h"
#include "Db/Tbl/APP_VM.h"
#include "Db/Tbl/APP_VSAReplicationProp.h"
#include "Db/Tbl/App_VirtualAppProp.h"
#include "appmgr/ClientProperties.h"
#include "appmgr/JMActivityCtrl.h"
#include "appmgr/ZNClient.h"
#include "core/StrcpyS.h"
#include "engine/ZnCriticalSectionLock.h"
#include "time/PlatformClock.h"

namespace {

// The backup activity of a subclient.
const int kBackupOpType = 4;
// Entity kind of the activity-control request: a client.
const int kActivityEntityKind = 3;
// What the activity-control options say: the activity type, not enabled
// now, enabled after the delay.
const int kActivityType = 1;
const int kActivityEnabledNow = 0;
const int kActivityEnableAfterDelay = 1;
// A DR group property's type: text.
const int kVAppPropTextType = 2;
// A policy id of 0 or 1 names no policy.
const int kFirstPolicyId = 2;
// Status of a successful backup in the last-backup-job record.
const int kBackupSucceeded = 1;

// The object at the end of a path of object fields, null where it breaks.
const CNMessageBase* Descend(const CNMessageBase* from, std::initializer_list<SMsgField> path) {
  for (const SMsgField& field : path) {
    if (from == nullptr || !from->Has(field)) return nullptr;
    from = &from->GetMsg(field);
  }
  return from;
}

// The VM allocation policy entity of a task's virtual server restore
// options (first subtask), null when the task carries none.
const CNMessageBase* TaskAllocationPolicy(const TMMsg::TaskInfo& task) {
  if (task.ListSize(TMMsg::TaskInfo::kSubTasks) == 0) return nullptr;
  return Descend(&task.GetListMsg(TMMsg::TaskInfo::kSubTasks, 0),
                 {TMMsg::SubTaskInfo::kJobOptions, TMMsg::JobOption::kRestoreOptions,
                  TMMsg::RestoreOptionFields::kVirtualServerRestoreOptions,
                  TMMsg::VirtualServerRestoreOptionFields::kAllocationPolicy});
}

// Runs a stored procedure that answers an App::GenericResp (after setInputs
// has set its inputs) and reads the answer into resp. An empty answer is a
// failure: it carries no error code to trust.
template <class X, class X_t, class SetInputs>
bool RunGenericRespProcedure(const EvEvent& event, const char* caller, const char* procName, SetInputs setInputs,
                             App::GenericResp& resp) {
  SprocWrapper<X, X_t> proc(caller, nullptr);
  setInputs(*proc.getCursor());
  std::string output, error;
  const int rc = proc.getXMLFromCursor(output, &error, false, true);
  if (rc != 0) {
    event.Error(caller, "Error : Failed to execute procedure %s. ErrorCode [%d]. ErrorString[%s].", procName, rc,
                error.c_str());
    return false;
  }
  event.DebugLvl(2, caller, "Output of %s :[%s]", procName, output.c_str());
  if (output.empty() || !resp.Unserialize(output)) {
    event.Error(caller, "Error : Failed to unserialize App::GenericResp.");
    return false;
  }
  return true;
}

}  // namespace

bool CDRAppManager::GetDRCopyDetailsResp(Api::GetSyncCopyDetailsResp& resp, int copyPrecedence, int subclientId,
                                         long long jobId) {
  m_event.Debug("GetDRCopyDetailsResp", "Getting copy details for subclientId [%d] and copy Precedence [%d]",
                subclientId, copyPrecedence);
  Api::GetSyncCopyDetailsReq req;
  req.SetInt32(Api::GetSyncCopyDetailsReq::kCopyPrecedence, copyPrecedence);
  req.MutableMsg(Api::GetSyncCopyDetailsReq::kSubclient).SetInt32(ZnEntities::SubClientEntity::kSubclientId, subclientId);
  if (jobId > 0) req.SetInt64(Api::GetSyncCopyDetailsReq::kJobId, jobId);
  std::string xml;
  if (!ExecuteStoredProcedure(req, xml, Api::GetSyncCopyDetailsReq::kTypeId)) {
    m_event.Error("GetDRCopyDetailsResp", "Error executing stored procedure AppGetSyncCopyDetails");
    return false;
  }
  if (!resp.Unserialize(xml)) {
    m_event.Error("GetDRCopyDetailsResp", "Failed to unserialize GetSyncCopyDetailsResp");
    return false;
  }
  if (!resp.Has(Api::GetSyncCopyDetailsResp::kStoragePolicy)) {
    m_event.Debug("GetDRCopyDetailsResp", "Storage policy not set in response");
    return false;
  }
  if (!resp.Has(Api::GetSyncCopyDetailsResp::kCopy)) {
    m_event.Debug("GetDRCopyDetailsResp", "Copy info not set in response");
    return false;
  }
  if (!resp.Has(Api::GetSyncCopyDetailsResp::kDefaultCopyId)) {
    m_event.Debug("GetDRCopyDetailsResp", "Default copy Id not set in response");
    return false;
  }
  return true;
}

bool CDRAppManager::QueryVMStatusInfoList(long long jobId, std::vector<App::VMStatusInfo>& list) {
  Api::GetVMStatusReq req;
  req.SetInt64(Api::GetVMStatusReq::kJobId, jobId);
  std::string xml;
  if (!ExecuteStoredProcedure(req, xml, Api::GetVMStatusReq::kTypeId)) return false;
  m_event.Debug("QueryVMStatusInfoList", "vm job info resp [%s]", xml.c_str());
  Api::GetVMStatusResp resp;
  if (!resp.Unserialize(xml)) {
    m_event.Error("QueryVMStatusInfoList", "Failed to unserialize GetVMStatusResp");
    return false;
  }
  if (!resp.Has(Api::GetVMStatusResp::kVMStatusInfos)) {
    m_event.Error("QueryVMStatusInfoList", "vmstatusInfo not set in unserialized object");
    return false;
  }
  for (size_t i = 0; i < resp.ListSize(Api::GetVMStatusResp::kVMStatusInfos); ++i)
    list.push_back(resp.GetListMsgAs<App::VMStatusInfo>(Api::GetVMStatusResp::kVMStatusInfos, i));
  if (list.empty()) {
    m_event.Error("QueryVMStatusInfoList", "VMStatusInfoList empty for job [%llu]",
                  static_cast<unsigned long long>(jobId));
    return false;
  }
  return true;
}

bool CDRAppManager::SetEnableBackupActivityAfterDelay(int clientId, int delayHours) {
  unsigned int timeZoneId = 0;
  ClientProperties(m_haldenId).getClientTimeZoneId(timeZoneId);
  long long activation = CPlatformClock::Instance().NowEpochSeconds() + static_cast<long long>(delayHours) * 3600;
  // The request carries 32-bit seconds: a time past their range is held at
  // the last one rather than wrapped into the past.
  if (activation > INT32_MAX) activation = INT32_MAX;

  App::EntityActivityControl req;
  CNMessageBase& entity = req.MutableMsg(App::EntityActivityControl::kEntity);
  entity.SetInt64(ZnEntities::GenericEntity::kClientId, clientId);
  entity.SetInt32(ZnEntities::GenericEntity::kEntityKind, kActivityEntityKind);
  CNMessageBase& options = req.AddMsg(App::EntityActivityControl::kOptions);
  options.SetInt32(App::ActivityControlOptions::kActivityType, kActivityType);
  options.SetInt32(App::ActivityControlOptions::kEnabled, kActivityEnabledNow);
  options.SetInt32(App::ActivityControlOptions::kEnableAfterDelay, kActivityEnableAfterDelay);
  CNMessageBase& when = options.MutableMsg(App::ActivityControlOptions::kEnableTime);
  when.SetInt32(ZnEntities::TimeEntityFields::kTimeZoneId, static_cast<int32_t>(timeZoneId));
  when.SetInt32(ZnEntities::TimeEntityFields::kTime, static_cast<int32_t>(activation));
  std::string xml;
  if (!req.serializeUTF8(xml)) {
    m_event.Error("SetEnableBackupActivityAfterDelay", "Failed to serialize EntityActivityControl");
    return false;
  }
  m_event.Debug("SetEnableBackupActivityAfterDelay",
                "Set automatic backup activity on VMs after delay. Input to APPSetActivityControlProc :[%s]",
                xml.c_str());
  App::GenericResp resp;
  const int userId = m_userId;
  if (!RunGenericRespProcedure<APPSetActivityControl, APPSetActivityControl_t>(
          m_event, "SetEnableBackupActivityAfterDelay", "APPSetActivityControlProc",
          [&](APPSetActivityControl& proc) { proc.setValues(userId, xml.c_str()); }, resp))
    return false;
  const int errorCode = resp.GetInt32(App::GenericResp::kErrorCode);
  if (errorCode != 0) {
    m_event.Error("SetEnableBackupActivityAfterDelay",
                  "Failed to enable automatic backup activity on VM client [%d], errorCode: [%d],errorMsg: [%s]",
                  clientId, errorCode, resp.GetString(App::GenericResp::kErrorMessage).c_str());
    return false;
  }
  m_event.Debug("SetEnableBackupActivityAfterDelay",
                "Successfully enabled automatic backup activity after delay [%d] hrs on VM client [%d] ", delayHours,
                clientId);
  return true;
}

bool CDRAppManager::QueryHostName(int instanceId, std::string& hostName) {
  EvEvent event;
  APP_InstanceProp table(nullptr);
  table.setWhere("attrName = 'Virtual Server Host' AND componentNameId = '%d' ", instanceId);
  table.setTop(1);
  if (getOneRow(&table, false, -1, 0) != 0)
    event.Debug("QueryHostName", "Failed to fetch Virtual Server Host from instanceId [%d]", instanceId);
  // Nothing fetched leaves the value null as well.
  const char* host = table.getDataPtr()->attrVal;
  if (host != nullptr) {
    hostName = host;
    return true;
  }
  event.Debug("QueryHostName", "Virtual Server Host is empty for instanceId [%d] in APP_INSTANCE_PROP", instanceId);
  return QueryHostNameFromClientTbl(instanceId, hostName);
}

bool CDRAppManager::QueryHostNameFromClientTbl(int instanceId, std::string& hostName) {
  EvEvent event;
  event.Debug("QueryHostNameFromClientTbl", "Attempting to find host name for instanceId [%d] in APP_CLIENT",
              instanceId);
  APP_Application app(nullptr);
  app.setWhere("instance = '%d' ", instanceId);
  app.setTop(1);
  if (getOneRow(&app, false, -1, 0) != 0) {
    event.Debug("QueryHostNameFromClientTbl", "Failed to fetch clientId for instance[%d]", instanceId);
    return false;
  }
  const int clientId = app.getDataPtr()->clientId;
  APP_Client client(nullptr);
  client.setWhere("id = '%d' ", clientId);
  client.setTop(1);
  if (getOneRow(&client, false, -1, 0) != 0) {
    event.Debug("QueryHostNameFromClientTbl", "Failed to fetch client name for client[%d]", clientId);
    return false;
  }
  if (client.getDataPtr()->name[0] == 0) {
    event.Debug("QueryHostNameFromClientTbl", "Client Name is empty for client[%d]", clientId);
    return false;
  }
  hostName = client.getDataPtr()->name;
  return true;
}

bool CDRAppManager::QueryDRVMCloneCount(int sourceClientId, int& count) {
  ZnCriticalSectionLock lock(&m_dbLock);
  APP_VM table(nullptr);
  table.setWhere(
      "clientId IN (select componentNameId  from APP_ClientProp(NOLOCK) A  inner join App_VM(NOLOCK) V  on "
      "A.componentNameId = V.clientId  where A.attrName = 'Source VM Client Id' and A.attrVal = %d and A.modified = 0 "
      "and V.removalTimeStamp IS NULL) ",
      sourceClientId);
  if (table.openCursor() != 0) {
    m_event.Error("QueryDRVMCloneCount", "No rows fetched from Db.");
    table.closeCursor();
    return false;
  }
  count = table.getRowCount();
  table.closeCursor();
  m_event.DebugLvl(2, "QueryDRVMCloneCount", "Fetched [%d] rows from Db for clone machine counts", count);
  return true;
}

bool CDRAppManager::QueryClientIdWithClientUUID(const std::string& uuid, int& clientId) {
  // The cache is looked into and written under the same lock as the table
  // read, so a lookup never meets an insert half done.
  ZnCriticalSectionLock lock(&m_dbLock);
  auto cached = m_clientIdByUUID.find(uuid);
  if (cached != m_clientIdByUUID.end()) {
    clientId = cached->second;
  } else {
    APP_ClientProp table(nullptr);
    table.setWhere("attrName = '%s' AND attrVal = '%s' AND modified = 0", ZN_PROP_VIRTUAL_SERVER_INSTANCE_UUID,
                   uuid.c_str());
    const int rc = getOneRow(&table, false, -1, 0);
    if (rc != 0) {
      m_event.Error("QueryClientIdWithClientUUID", "Failed to fetch VM Client id from table Error [%ld] ",
                    static_cast<long>(rc));
      return false;
    }
    clientId = table.getDataPtr()->componentNameId;
    m_clientIdByUUID[uuid] = clientId;
  }
  m_event.DebugLvl(2, "QueryClientIdWithClientUUID", "Source Client Id [%d] retrieved for Instance UUID [%s]",
                   clientId, uuid.c_str());
  return true;
}

bool CDRAppManager::GetLastSuccessfulBackupJobEndTime(int clientId, int& endTime) {
  ZnCriticalSectionLock lock(&m_dbLock);
  APP_ClientProp table(nullptr);
  table.setWhere("componentNameId = %d AND attrName = 'Last VM Backup Job Info' AND modified = 0", clientId);
  const int rc = getOneRow(&table, false, -1, 0);
  if (rc != 0) {
    m_event.Error("GetLastSuccessfulBackupJobEndTime", "Failed to fetch 'Last VM Backup Job Info' from table Error [%ld] ",
                  static_cast<long>(rc));
    return false;
  }
  const std::string info = table.getDataPtr()->attrVal;
  m_event.DebugLvl(2, "GetLastSuccessfulBackupJobEndTime", "Backup job Info [%s] retrieved for clientId [%d]",
                   info.c_str(), clientId);
  App::LastBackupJobInfo job;
  if (!job.Unserialize(info)) {
    m_event.Error("GetLastSuccessfulBackupJobEndTime", "Error : Failed to unserialize App::LastBackupJobInfo");
    return false;
  }
  if (job.GetInt32(App::LastBackupJobInfo::kStatus) == kBackupSucceeded)
    endTime = job.GetMsg(App::LastBackupJobInfo::kEndTime).GetInt32(ZnEntities::TimeEntityFields::kTime);
  m_event.Debug("GetLastSuccessfulBackupJobEndTime", "Last successful backup job end time retrieved [%d] for client [%d]",
                endTime, clientId);
  return true;
}

void CDRAppManager::UpdateSourceClientGuid(const std::string& clientName, const std::string& guid) {
  ZnCriticalSectionLock lock(&m_dbLock);
  int clientId = 0;
  ZNClient client(clientName.c_str());
  // A client the server does not know has no properties to write: writing
  // them under id 0 would hand its GUID to a client that does not exist.
  if (client.getClientId(clientId) != 0 || clientId == 0) {
    m_event.Debug("UpdateSourceClientGuid", "Client [%s] not found; source Client GUID [%s] not updated",
                  clientName.c_str(), guid.c_str());
    return;
  }
  ClientProperties(clientId).setVMInstanceUUID(guid);
  m_event.DebugLvl(2, "UpdateSourceClientGuid", "Updated source Client GUID [%s] in App_ClientProp table for client Id [%lu]",
                   guid.c_str(), static_cast<unsigned long>(clientId));
}

bool CDRAppManager::UpdatePolicyIdInAppVMTbl(int clientId, long policyId) {
  ZnCriticalSectionLock lock(&m_dbLock);
  APP_VM table(nullptr);
  table.setWhere("clientId = %d", clientId);
  int rc = getOneRow(&table, false, -1, 0);
  if (rc != 0) {
    m_event.Error("UpdatePolicyIdInAppVMTbl", "Failed to fetch VM Client id from table Error [%ld] ",
                  static_cast<long>(rc));
    return false;
  }
  rc = table.rowUpdate("vmAllocationPolicyId = %ld", policyId);
  if (rc != 0) {
    m_event.Error("UpdatePolicyIdInAppVMTbl", "Failed to update VM Allocation Policy Id [%ld], error[%ld] ", policyId,
                  static_cast<long>(rc));
    return false;
  }
  m_event.Debug("UpdatePolicyIdInAppVMTbl", "Updated allocPolicyId [%ld] for clientId [%d]", policyId, clientId);
  return true;
}

bool CDRAppManager::QueryVMAllocationPolicyFromTask(long taskId, Ida::VMAllocationPolicy& policy) {
  // Once per machine: the task is read in place, and the policy after the
  // task lock is given back.
  int policyId = 0;
  ReadTaskInfo(static_cast<int>(taskId), [&policyId](const TMMsg::TaskInfo& task) {
    const CNMessageBase* entity = TaskAllocationPolicy(task);
    if (entity != nullptr && entity->Has(ZnEntities::PolicyInstanceFields::kVMAllocationPolicyId)) {
      policyId = entity->GetInt32(ZnEntities::PolicyInstanceFields::kVMAllocationPolicyId);
    }
  });
  if (policyId < kFirstPolicyId) return false;
  if (!QueryVMAllocationPolicy(policyId, policy)) {
    m_event.Debug("QueryVMAllocationPolicyFromTask",
                  "Failed to fetch VMAllocation policy from DB for VMAllocation policy [%d]", policyId);
    return false;
  }
  return true;
}

bool CDRAppManager::QueryRestoreAsManagedVMFromTarget(long taskId, long policyId) {
  Ida::VMAllocationPolicy policy;
  if (!QueryVMAllocationPolicy(policyId, policy)) {
    m_event.Error("QueryRestoreAsManagedVMFromTarget", "Failed to query VM allocation policy Id [%ld]", policyId);
    if (!QueryVMAllocationPolicyFromTask(taskId, policy)) {
      m_event.Error("QueryRestoreAsManagedVMFromTarget", "Failed to query VM allocation policy from task Id [%ld]",
                    taskId);
      return false;
    }
  }
  if (!policy.Has(Ida::VMAllocationPolicy::kRestoreAsManagedVM)) return false;
  const bool managed = policy.GetInt32(Ida::VMAllocationPolicy::kRestoreAsManagedVM) != 0;
  m_event.Debug("QueryRestoreAsManagedVMFromTarget", "restoreAsManagedVM option [%d] set for policy Id [%ld]",
                managed ? 1 : 0, policyId);
  return managed;
}

bool CDRAppManager::RemoveReplicationEntriesFromDb(TMMsg::DROrchestrationOption& options) {
  std::string xml;
  if (!options.serializeUTF8(xml)) {
    m_event.Error("RemoveReplicationEntriesFromDb", "Failed to serialize DRoptions");
    return false;
  }
  m_event.Debug("RemoveReplicationEntriesFromDb",
                "Deleting replication entries from Db. Input to AppVSAReplicationsDeleteOptions :[%s]", xml.c_str());
  App::GenericResp resp;
  if (!RunGenericRespProcedure<AppVSAReplicationsDeleteOptions, AppVSAReplicationsDeleteOptions_t>(
          m_event, "RemoveReplicationEntriesFromDb", "AppVSAReplicationsDeleteOptions",
          [&](AppVSAReplicationsDeleteOptions& proc) { proc.setValues(xml.c_str()); }, resp))
    return false;
  const int errorCode = resp.GetInt32(App::GenericResp::kErrorCode);
  if (errorCode != 0) {
    m_event.Error("RemoveReplicationEntriesFromDb", "Failed to delete VM Replication options, errorCode: [%d],errorMsg: [%s]",
                  errorCode, resp.GetString(App::GenericResp::kErrorMessage).c_str());
    return false;
  }
  m_event.Debug("RemoveReplicationEntriesFromDb", "Deleted the VM Replication options successfully from the database.");
  return true;
}

bool CDRAppManager::RemoveVSAPropTblProperty(int propertyTypeId, int replicationId) {
  ZnCriticalSectionLock lock(&m_dbLock);
  m_event.Debug("RemoveVSAPropTblProperty",
                "Attempting to remove entries for property [%d] for replication [%d] in APP_VSAReplicationProp",
                propertyTypeId, replicationId);
  APP_VSAReplicationProp table(nullptr);
  table.setWhere("replicationId = '%d' AND propertyTypeId  = '%d'", replicationId, propertyTypeId);
  // No row limit: every row of the property goes, and this library would
  // apply a limit to the delete as well.
  const int rc = table.rowDelete();
  if (rc == 0) return true;
  if (rc == 100) {
    m_event.Debug("RemoveVSAPropTblProperty",
                  "No entries found for property [%d] for replication [%d] in APP_VSAReplicationProp", propertyTypeId,
                  replicationId);
    return true;
  }
  m_event.Debug("RemoveVSAPropTblProperty", "Error fetching data from DB : [%s]", table.getErrorStr(rc).c_str());
  return false;
}

bool CDRAppManager::UpdateVirtualAppProp(std::string attrName, std::string attrVal) {
  ZnCriticalSectionLock lock(&m_vAppPropLock);
  App_VirtualAppProp table(nullptr);
  table.setWhere("componentNameId = %d AND attrName = '%s'", m_vAppId, attrName.c_str());
  int rc = table.rowUpdate("attrVal = '%s'", attrVal.c_str());
  if (rc == 100) {
    App_VirtualAppProp_t row;
    row.componentNameId = m_vAppId;
    strcpy_s(row.attrName, sizeof(row.attrName), attrName.c_str());
    row.attrType = kVAppPropTextType;
    strcpy_s(row.attrVal, sizeof(row.attrVal), attrVal.c_str());
    row.created = CPlatformClock::Instance().NowEpochSeconds();
    row.modified = 0;
    table.setValues(&row);
    if (table.rowInsert(true) != 0) {
      m_event.Error("UpdateVirtualAppProp", "Failed to insert row vApp prop TBL attr [%s] val [%s]", attrName.c_str(),
                    attrVal.c_str());
      return false;
    }
    rc = 0;
  }
  if (rc != 0) {
    m_event.Error("UpdateVirtualAppProp", "Failed to update for db for vApp prop TBL attr [%s] val [%s]",
                  attrName.c_str(), attrVal.c_str());
    return false;
  }
  m_event.DebugLvl(7, "UpdateVirtualAppProp", "Successfully update db for vApp prop TBL attr [%s] val [%s]",
                   attrName.c_str(), attrVal.c_str());
  return true;
}

bool CDRAppManager::ChangeSubclientActivity(int appId, bool enable) {
  if (appId < 1) return true;
  const char* state = enable ? "ENABLED" : "DISABLED";
  JMActivityCtrl controller;
  bool enabled = false;
  if (controller.isSubclientActivityEnabled(appId, kBackupOpType, enabled) != 0) {
    // Unknown state: setting it is harmless and gives the state asked for.
    m_event.Debug("ChangeSubclientActivity", "Could not read activity for appId [%d]", appId);
  } else if (enabled == enable) {
    m_event.Error("ChangeSubclientActivity", "Subclient activity already [%s] for appId [%d]", state, appId);
    return true;
  }
  if (controller.enableDisableSubclient(appId, enable, kBackupOpType, nullptr) == 1) {
    m_event.Error("ChangeSubclientActivity", "Changed activity for appId [%d] to [%s]", appId, state);
    return true;
  }
  m_event.Error("ChangeSubclientActivity", "Failed to change activity for appId [%d] to [%s]", appId, state);
  return false;
}
