// CDRAppManager: the DR job's gateway to the management server.
//
// One instance is embedded in the orchestrator and initialised with the
// job's user id and options before any priority is built. It loads the DR
// group and reads the job's DR orchestration options; it queries and updates
// the management database (tables, stored procedures, requests run as stored
// procedures); it starts tasks and keeps the job's cache of task
// definitions; it runs remote commands, picks proxies and reads host facts.
//
// Threads: shared by every DR worker thread. Each cache has its own lock;
// taskLock is re-entrant. The option readers and getters take no lock: what
// they read is written only by Initialize, before any worker starts.
#pragma once

#include <functional>
#include <list>
#include <map>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "appmgr/ApplicationId.h"
#include "drorch/ZnCriticalSection.h"
#include "log/EvEvent.h"
#include "msg/MsgClasses.h"
#include "msg/MsgEnums.h"

namespace databrowse {
class BrowseRequest;
class BrowseResponseList;
}  // namespace databrowse

static const std::string ZN_PROP_SHAREPOINT_SQL_CLIENT_ID = "SharePoint SQL Client Id";
static const std::string ZN_PROP_SHAREPOINT_RBS_CLIENT_ID = "SharePoint RBS Store Client Id";
static const std::string ZN_PROP_VDI_TIMEOUT = "MSSQL VDI Timeout";
static const std::string IBMI_DEFAULT_DR_SUBCLIENT_NAME = "DR Subclient";
static const std::string IBMI_DEFAULT_DR_SUBCLIENT_CONTENT = "/<DR Images>";
static const std::string IBMI_DEFAULT_DR_SUBCLIENT_DESCRIPTION = "System created DR Subclient";
static const std::string IBMI_DEFAULT_SR_ROOT_SERVER_DIR = "/var/korlith/DR_IMAGES";

// Fill a create-task request for an aux copy / a backup copy of a storage
// policy copy. Both always succeed.
bool CreateAuxTask(TMMsg::CreateTaskReq& req, int storagePolicyId, int copyId, const std::string& description);
bool CreateBackupCopyTask(TMMsg::CreateTaskReq& req, int storagePolicyId, int copyId, const std::string& description);

class CDRAppManager {
 public:
  CDRAppManager();
  ~CDRAppManager();
  CDRAppManager(const CDRAppManager&) = delete;
  CDRAppManager& operator=(const CDRAppManager&) = delete;

  // ---- start-up, DR group and options --------------------------------------
  bool Initialize(int userId, TMMsg::JobOption* jobOption);
  bool InitClient();
  bool QueryVAppId();
  bool QueryVirtualApp();

  int GetVAppId() const { return m_vAppId; }
  Api::VirtualApp& GetVirtualApp() { return m_virtualApp; }
  std::vector<TMMsg::VMGroup>& GetVAppGroups() { return m_vAppGroups; }
  bool IsFirstTimeSyncDuringFailoverSet() const { return m_firstTimeSyncDuringFailover; }
  bool IsMonitorBasedDR() const { return m_monitorBased; }
  int GetMaxParallelThreadCount() const { return m_maxParallelThreadCount; }
  int GetClientID() const { return m_clientId; }
  TMMsg::DROrchestrationOption* GetDROrchestrationOption() const { return m_drOption; }
  int GetDelayTimeBeforeSync() const { return m_delayTimeBeforeSync; }
  void SetDelayTimeBeforeSync(int seconds) { m_delayTimeBeforeSync = seconds; }
  int GetUserID() const { return m_userId; }
  int GetHaldenID() const { return m_haldenId; }

  int QueryDelayTimeBeforeSync();
  TMMsg::DRReplicationType GetReplicationType();
  bool GetReplConfigOptionList(std::vector<TMMsg::DRConfigOption>& out);
  bool GetReplList(std::vector<int>& out);
  bool IsUseSelectiveVMReplicationSet();
  bool IsLinkedCloneOptionEnabled();
  bool IsDisableNetworkAdapterAllowed();
  int GetAdvancedOptsDelay();
  bool IsPowerOnVMAllowed();
  int GetMonitorType();
  bool CheckIfEmailsCanBeSend(std::string& email);

  // ---- task management -----------------------------------------------------
  // quiet: a failure is logged at debug level only, for a question asked
  // where an error line would read as the job's (as a priority ends).
  bool GetTaskResponse(CNMessageBase& request, CNMessageBase& response, unsigned long messageType,
                       std::string& xml, std::string& error, ZNOpType operation, bool quiet = false);
  bool StartTask(CNMessageBase& request, TMMsg::CreateTaskResp& response, unsigned long messageType,
                 std::string& xml, std::string& error, ZNOpType operation, long long& jobId);
  bool StartTask(CNMessageBase& request, TMMsg::CreateTaskResp& response, unsigned long messageType,
                 std::string& xml, std::string& error, ZNOpType operation, std::list<long long>& jobIds);
  bool LaunchBackupCopy(int storagePolicyId, int copyId, const std::string& description, long long& jobId);
  bool LaunchAuxCopy(int storagePolicyId, int copyId, const std::string& description, long long& jobId);
  // A copy of the task's definition (loaded into the job's cache on first
  // use); false when it cannot be loaded.
  bool QueryTaskInfo(int taskId, TMMsg::TaskInfo& out, bool& found);
  // Runs read on the cached definition of the task (loaded on first use)
  // without copying it, under the task lock: read may call what takes that
  // lock again (it is re-entrant), must keep no reference past its return,
  // and must not wait for another DR worker. False, read not run, when the
  // task cannot be loaded. A per-machine reader uses this: a definition
  // grows with the task's replications.
  bool ReadTaskInfo(int taskId, const std::function<void(const TMMsg::TaskInfo&)>& read);
  bool _QueryTaskInfo(int taskId);
  void UpdateTaskInfo(int taskId, TMMsg::TaskInfo& info);
  void RefreshTask(int taskId);
  void MarkTaskForEdit(int taskId);
  void CommitModifiedTasks();
  int SendModifyTaskRequest(int taskId, TMMsg::TaskInfo* info);
  bool DeleteSchedule(int taskId);
  bool IsScheduleDeletedByDRJob(int taskId);
  void UpdateCopyTaskMap(long storagePolicyId, long copyId, long taskId);
  void GetTaskIds(long storagePolicyId, long copyId, std::set<long>& out);
  bool IsReplicaSyncDirectEnabled(long taskId);
  bool IsJobBucketingEnabledInSync(long taskId);
  bool IsCreateDRVMOptionEnabled(long taskId);
  void QueryFirstTimeSyncDuringFailover(long taskId);
  bool QueryDRProjectId(long taskId, const std::string& vmName, const std::string& vmGuid, std::string& projectId);
  bool GetDatacenterInfoFromTask(long taskId, const std::string& vmName, std::string& esxHost, std::string& datastore,
                                 std::string& datacenter, std::string& cluster, std::string& newVMName);

  // ---- management-database queries -----------------------------------------
  static bool ExecuteStoredProcedure(CNMessageBase& request, std::string& output, unsigned long msgType);
  bool GetDRCopyDetailsResp(Api::GetSyncCopyDetailsResp& resp, int copyPrecedence, int subclientId, long long jobId);
  bool QueryVMStatusInfoList(long long jobId, std::vector<App::VMStatusInfo>& list);
  bool SetEnableBackupActivityAfterDelay(int clientId, int delayHours);
  bool QueryObGlobalParam(std::string name, std::string& value);
  static bool QueryHostName(int instanceId, std::string& hostName);
  static bool QueryHostNameFromClientTbl(int instanceId, std::string& hostName);
  static bool GetVSAReplicationResp(std::vector<int>& replicationIds, App::GetVSAReplicationResp& resp);
  bool GetReplListFromRepGroup(std::vector<int>& list);
  bool QueryDRVMCloneCount(int sourceClientId, int& count);
  bool QueryClientIdWithClientUUID(const std::string& uuid, int& clientId);
  bool GetLastSuccessfulBackupJobEndTime(int clientId, int& endTime);
  void UpdateSourceClientGuid(const std::string& clientName, const std::string& guid);
  bool UpdatePolicyIdInAppVMTbl(int clientId, long policyId);
  bool QueryVMAllocationPolicy(long policyId, Ida::VMAllocationPolicy& policy);
  bool QueryVMAllocationPolicyFromTask(long taskId, Ida::VMAllocationPolicy& policy);
  bool QueryRestoreAsManagedVMFromTarget(long taskId, long policyId);
  bool RemoveReplicationEntriesFromDb(TMMsg::DROrchestrationOption& options);
  bool RemoveVSAPropTblProperty(int propertyTypeId, int replicationId);
  bool UpdateVirtualAppProp(std::string attrName, std::string attrVal);
  bool ChangeSubclientActivity(int appId, bool enable);

  // ---- remote commands, proxies and host facts ------------------------------
  // Runs a command on a client (in its installation's "Base" folder, at
  // most 60 s); true when it was launched and, with wait, exited 0. The
  // second form also gives the reason of a failure (the line it logs).
  bool ExecuteRemoteCommand(int clientId, std::string& command, std::string& arguments, bool wait);
  bool ExecuteRemoteCommand(int clientId, std::string& command, std::string& arguments, bool wait,
                            std::string& error);
  // Runs a command that answers by its exit code (a status query): true,
  // with the code, when it ran; a failure to run it is logged at debug
  // level only, as the caller decides what it means.
  bool RemoteExitCode(int clientId, const std::string& command, const std::string& arguments, int& exitCode,
                      std::string& error);
  bool QueryMemberServersForInstance(int instanceId, std::vector<App::MemberServer>& servers);
  bool SelectProxy(int instanceId, App::MemberServer& proxy);
  bool QueryFBRServerForInstance(long instanceId, std::string& hostName);
  long GetFreeMemSizeMB();
  // The memory-information file GetFreeMemSizeMB reads ("/proc/meminfo");
  // tests point it elsewhere. An empty path restores the default.
  static void SetMemInfoPath(const std::string& path);
  bool PrepareBrowseRequest(databrowse::BrowseRequest& req, ApplicationId appId, int browseMode,
                            const std::string& path, int fromTime, int toTime);
  bool GetBrowseResponse(const databrowse::BrowseRequest& req, databrowse::BrowseResponseList& resp);

 private:
  // A command run on a client: false, with the reason (logged as an error
  // when errors, else at debug level), when it did not run; else its exit
  // code, and the reason when that is not 0.
  bool RunRemote(int clientId, const std::string& command, const std::string& arguments, bool wait, bool errors,
                 int& exitCode, std::string& error);
  // The DR option's replication info (12, 545), null when absent.
  const CNMessageBase* ReplicationInfo() const;
  // The DR option's advanced options (12, 550), null when absent.
  const CNMessageBase* AdvancedOptions() const;

  int m_vAppId;
  EvEvent m_event;
  int m_clientId;
  int m_haldenId;
  int m_userId;
  Api::VirtualApp m_virtualApp;
  std::vector<TMMsg::VMGroup> m_vAppGroups;
  TMMsg::DROrchestrationOption* m_drOption;
  bool m_monitorBased;
  int m_maxParallelThreadCount;
  int m_delayTimeBeforeSync;
  std::unordered_map<int, TMMsg::TaskInfo> m_taskCache DR_GUARDED_BY(m_taskLock);
  std::set<int> m_schedulesDeletedByDRJob DR_GUARDED_BY(m_taskLock);
  std::set<int> m_tasksMarkedForEdit DR_GUARDED_BY(m_taskLock);
  std::unordered_map<std::string, std::set<long long>> m_copyTaskMap DR_GUARDED_BY(m_copyTaskLock);
  std::unordered_map<long, Ida::VMAllocationPolicy> m_policyCache DR_GUARDED_BY(m_policyLock);
  std::unordered_map<std::string, int> m_clientIdByUUID DR_GUARDED_BY(m_dbLock);
  // Task operations call one another while they hold it (re-entrant).
  ZnCriticalSection m_taskLock;
  ZnCriticalSection m_copyTaskLock;
  // Serialises the DR group property update; guards no member.
  ZnCriticalSection m_vAppPropLock;
  ZnCriticalSection m_fbrLock;
  ZnCriticalSection m_memberServerLock;
  // Proxy selection holds it around the member-server query, never the other
  // way round.
  ZnCriticalSection m_proxyLock DR_ACQUIRED_BEFORE(m_memberServerLock);
  // Serialises the table queries and updates; guards the client-id cache.
  ZnCriticalSection m_dbLock;
  std::unordered_map<long long, std::string> m_fbrServerCache DR_GUARDED_BY(m_fbrLock);
  ZnCriticalSection m_policyLock;
  std::unordered_map<int, std::vector<App::MemberServer>> m_memberServerCache DR_GUARDED_BY(m_memberServerLock);
  int m_lastSelectedProxyClientId DR_GUARDED_BY(m_proxyLock);
  bool m_firstTimeSyncDuringFailover;
};
