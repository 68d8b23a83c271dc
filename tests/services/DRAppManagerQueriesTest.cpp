// The application manager's management-database queries against a real
// database file: the server's answers come from scoped procedure and
// request handlers and from rows the tests write, so each test says what the
// server holds.
#include <string.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <vector>

#include "Db/Tbl/APP_ClientProp.h"
#include "Db/Tbl/App_VmAllocationPolicy.h"
#include "TestThread.h"
#include "appmgr/ClientProperties.h"
#include "appmgr/JMActivityCtrl.h"
#include "core/HandlerRegistry.h"
#include "db/App_ExecuteSP.h"
#include "db/DBProcRegistry.h"
#include "jobs/TaskStore.h"
#include "services/DRAppManager.h"
#include "services/ServicesTestSupport.h"
#include "appmgr/ApplicationStore.h"
#include "appmgr/ClientStore.h"
#include "appmgr/InstancePropStore.h"

namespace {

using ReplFields = TMMsg::DRReplicationInfoFields;

class CQueriesTestBase : public CServicesTestBase {
 protected:
  static constexpr int kGroup = 3;

  // Starts the manager for DR group kGroup, with the replication group when
  // one is given. The manager keeps reading the options, so they live here.
  void Start(int replicationGroup = 0) {
    ASSERT_TRUE(CLabStore::PutDRGroup(kGroup, "queries", GroupXml()));
    m_options = MakeOptions(0, kGroup);
    if (replicationGroup > 0) {
      m_options.MutableMsg(TMMsg::JobOption::kBackupOptions)
          .MutableMsg(TMMsg::BackupOptionFields::kDROrchestrationOption)
          .MutableMsg(TMMsg::DROrchestrationOption::kReplicationInfo)
          .SetInt32(ReplFields::kReplicationGroupId, replicationGroup);
    }
    ASSERT_TRUE(m_am.Initialize(kOwner, &m_options));
    CLogSink::Instance().ClearCapture();
  }

  static std::string GroupXml() {
    Api::VirtualApp app;
    app.MutableMsg(Api::VirtualApp::kConfig).TouchField(TMMsg::DRGroupConfigFields::kPriorities);
    return Xml(app);
  }

  // A client property row as the server keeps it; modified 0 is current.
  static int AddClientProp(int client, const std::string& name, const std::string& value, long long modified = 0) {
    APP_ClientProp p(nullptr);
    p.getDataPtr()->componentNameId = client;
    strcpy(p.getDataPtr()->attrName, name.c_str());
    strcpy(p.getDataPtr()->attrVal, value.c_str());
    p.getDataPtr()->modified = modified;
    EXPECT_EQ(p.rowInsert(true), 0);
    return p.getDataPtr()->id;
  }

  static int Count(const std::string& table, const std::string& where) {
    CDBConnection* c = CDBConnection::ForThread();
    EXPECT_NE(c, nullptr);
    EXPECT_EQ(c->EnsureTable(table), DB_OK);
    sqlite3_stmt* s = c->Prepare("SELECT COUNT(*) FROM " + table + " WHERE " + where, false);
    EXPECT_NE(s, nullptr);
    int n = -1;
    if (s != nullptr && sqlite3_step(s) == SQLITE_ROW) n = sqlite3_column_int(s, 0);
    c->Release(s);
    return n;
  }

  static std::string Text(const std::string& sql) {
    CDBConnection* c = CDBConnection::ForThread();
    sqlite3_stmt* s = c->Prepare(sql, false);
    EXPECT_NE(s, nullptr) << c->LastErrorText();
    std::string out = "<none>";
    if (s != nullptr && sqlite3_step(s) == SQLITE_ROW) {
      const unsigned char* t = sqlite3_column_text(s, 0);
      out = t ? reinterpret_cast<const char*>(t) : "<null>";
    }
    c->Release(s);
    return out;
  }

  // True when a captured line holds the fragment and was logged as an error.
  static bool LoggedAsError(const std::string& fragment) {
    for (const SLogLine& line : CLogSink::Instance().Captured()) {
      if (line.text.find(fragment) != std::string::npos) return line.level == 0;
    }
    return false;
  }

  // A VM allocation policy row; managed < 0 leaves the restore-as-managed
  // option out.
  static void PutPolicy(int id, int managed, bool withInstance = true) {
    Ida::VMAllocationPolicy policy;
    if (withInstance) policy.MutableMsg(Ida::VMAllocationPolicy::kInstance).SetString(ZnEntities::PolicyInstanceFields::kRegion, "r1");
    if (managed >= 0) policy.SetInt32(Ida::VMAllocationPolicy::kRestoreAsManagedVM, managed);
    const std::string xml = Xml(policy);
    App_VmAllocationPolicy row(nullptr);
    row.getDataPtr()->id = id;
    row.getDataPtr()->vxml = new char[xml.size() + 1];
    memcpy(row.getDataPtr()->vxml, xml.c_str(), xml.size() + 1);
    ASSERT_EQ(row.rowInsert(true), 0);
  }

  // A replication task whose restore options name an allocation policy;
  // policyId 0 leaves the policy entity out.
  static void PutTask(int taskId, int policyId) {
    TMMsg::TaskInfo task;
    CNMessageBase& vsRestore = task.AddMsg(TMMsg::TaskInfo::kSubTasks)
                                   .MutableMsg(TMMsg::SubTaskInfo::kJobOptions)
                                   .MutableMsg(TMMsg::JobOption::kRestoreOptions)
                                   .MutableMsg(TMMsg::RestoreOptionFields::kVirtualServerRestoreOptions);
    if (policyId > 0) {
      vsRestore.MutableMsg(TMMsg::VirtualServerRestoreOptionFields::kAllocationPolicy)
          .SetInt32(ZnEntities::PolicyInstanceFields::kVMAllocationPolicyId, policyId);
    } else {
      vsRestore.TouchField(TMMsg::VirtualServerRestoreOptionFields::kVMRestoreOptions);
    }
    ASSERT_TRUE(CTaskStore::PutTask(taskId, Xml(task)));
  }

  // Points the started manager's options at another replication group.
  void LiveReplicationGroup(int groupId) {
    m_am.GetDROrchestrationOption()
        ->MutableMsg(TMMsg::DROrchestrationOption::kReplicationInfo)
        .SetInt32(ReplFields::kReplicationGroupId, groupId);
  }

  TMMsg::JobOption m_options;
  CDRAppManager m_am;
};

class DRAppManagerQueriesTest : public CQueriesTestBase {};

// ---- requests run as stored procedures --------------------------------------

TEST_F(DRAppManagerQueriesTest, CopyDetailsNeedPolicyCopyAndDefaultCopy) {
  Start();
  std::string request;
  Api::GetSyncCopyDetailsResp reply;
  CScopedHandler<unsigned long, ExecuteSPHandler> sp(
      App_ExecuteSP::Handlers(), Api::GetSyncCopyDetailsReq::kTypeId,
      [&](const std::string& in, std::string& out) {
        request = in;
        out = Xml(reply);
        return 0;
      });
  reply.MutableMsg(Api::GetSyncCopyDetailsResp::kStoragePolicy)
      .SetInt32(ZnEntities::StoragePolicyEntityFields::kStoragePolicyId, 5);
  reply.MutableMsg(Api::GetSyncCopyDetailsResp::kCopy).SetInt32(ZnEntities::StorageCopyEntityFields::kCopyId, 52);
  reply.SetInt32(Api::GetSyncCopyDetailsResp::kDefaultCopyId, 51);

  Api::GetSyncCopyDetailsResp resp;
  ASSERT_TRUE(m_am.GetDRCopyDetailsResp(resp, 2, 21, 9001));
  EXPECT_EQ(resp.GetMsg(Api::GetSyncCopyDetailsResp::kCopy).GetInt32(ZnEntities::StorageCopyEntityFields::kCopyId), 52);
  EXPECT_TRUE(Logged("Getting copy details for subclientId [21] and copy Precedence [2]"));
  Api::GetSyncCopyDetailsReq sent;
  ASSERT_TRUE(sent.Unserialize(request));
  EXPECT_EQ(sent.GetInt32(Api::GetSyncCopyDetailsReq::kCopyPrecedence), 2);
  EXPECT_EQ(sent.GetMsg(Api::GetSyncCopyDetailsReq::kSubclient).GetInt32(ZnEntities::SubClientEntity::kSubclientId), 21);
  EXPECT_EQ(sent.GetInt64(Api::GetSyncCopyDetailsReq::kJobId), 9001);
  // Without a backup job the request names none.
  ASSERT_TRUE(m_am.GetDRCopyDetailsResp(resp, 1, 21, 0));
  ASSERT_TRUE(sent.Unserialize(request));
  EXPECT_FALSE(sent.Has(Api::GetSyncCopyDetailsReq::kJobId));

  // Each missing part of the answer fails, in the order they are checked.
  reply.ClearField(Api::GetSyncCopyDetailsResp::kDefaultCopyId);
  EXPECT_FALSE(m_am.GetDRCopyDetailsResp(resp, 1, 21, 0));
  EXPECT_TRUE(Logged("Default copy Id not set in response"));
  reply.ClearField(Api::GetSyncCopyDetailsResp::kCopy);
  EXPECT_FALSE(m_am.GetDRCopyDetailsResp(resp, 1, 21, 0));
  EXPECT_TRUE(Logged("Copy info not set in response"));
  reply.ClearField(Api::GetSyncCopyDetailsResp::kStoragePolicy);
  EXPECT_FALSE(m_am.GetDRCopyDetailsResp(resp, 1, 21, 0));
  EXPECT_TRUE(Logged("Storage policy not set in response"));
}

TEST_F(DRAppManagerQueriesTest, VMStatusesAreAppendedToWhatTheListHeld) {
  Start();
  Api::GetVMStatusResp reply;
  long long askedFor = 0;
  CScopedHandler<unsigned long, ExecuteSPHandler> sp(
      App_ExecuteSP::Handlers(), Api::GetVMStatusReq::kTypeId, [&](const std::string& in, std::string& out) {
        Api::GetVMStatusReq req;
        if (req.Unserialize(in)) askedFor = req.GetInt64(Api::GetVMStatusReq::kJobId);
        out = Xml(reply);
        return 0;
      });
  std::vector<App::VMStatusInfo> list(1);
  list[0].SetString(App::VMStatusInfo::kVMGuid, "earlier");

  // A reply whose list is there but empty adds nothing and still succeeds.
  reply.TouchField(Api::GetVMStatusResp::kVMStatusInfos);
  ASSERT_TRUE(m_am.QueryVMStatusInfoList(5000000001LL, list));
  EXPECT_EQ(askedFor, 5000000001LL);
  ASSERT_EQ(list.size(), 1u);

  reply.AddMsg(Api::GetVMStatusResp::kVMStatusInfos).SetString(App::VMStatusInfo::kVMGuid, "vm-1");
  reply.AddMsg(Api::GetVMStatusResp::kVMStatusInfos).SetString(App::VMStatusInfo::kVMGuid, "vm-2");
  ASSERT_TRUE(m_am.QueryVMStatusInfoList(77, list));
  ASSERT_EQ(list.size(), 3u);
  EXPECT_EQ(list[0].GetString(App::VMStatusInfo::kVMGuid), "earlier");
  EXPECT_EQ(list[2].GetString(App::VMStatusInfo::kVMGuid), "vm-2");

  // Nothing before and nothing in the reply.
  reply.ListClear(Api::GetVMStatusResp::kVMStatusInfos);
  std::vector<App::VMStatusInfo> none;
  EXPECT_FALSE(m_am.QueryVMStatusInfoList(78, none));
  EXPECT_TRUE(LoggedAsError("VMStatusInfoList empty for job [78]"));
  // No list in the reply at all.
  reply.ClearField(Api::GetVMStatusResp::kVMStatusInfos);
  EXPECT_FALSE(m_am.QueryVMStatusInfoList(79, list));
  EXPECT_TRUE(LoggedAsError("vmstatusInfo not set in unserialized object"));
  EXPECT_EQ(list.size(), 3u);
}

TEST_F(DRAppManagerQueriesTest, RequestsFailWhenTheProcedureFailsOrAnswersNonsense) {
  Start();
  int result = 3;
  ExecuteSPHandler nonsense = [&](const std::string&, std::string& out) {
    out = "<not a reply";
    return result;
  };
  CScopedHandler<unsigned long, ExecuteSPHandler> copies(App_ExecuteSP::Handlers(),
                                                        Api::GetSyncCopyDetailsReq::kTypeId, nonsense);
  CScopedHandler<unsigned long, ExecuteSPHandler> states(App_ExecuteSP::Handlers(), Api::GetVMStatusReq::kTypeId,
                                                        nonsense);
  Api::GetSyncCopyDetailsResp resp;
  std::vector<App::VMStatusInfo> list;
  EXPECT_FALSE(m_am.GetDRCopyDetailsResp(resp, 1, 21, 0));
  EXPECT_TRUE(LoggedAsError("Error executing stored procedure AppGetSyncCopyDetails"));
  EXPECT_FALSE(m_am.QueryVMStatusInfoList(5, list));
  EXPECT_TRUE(LoggedAsError("Failed to execute sp for message [1990963551]"));
  result = 0;
  EXPECT_FALSE(m_am.GetDRCopyDetailsResp(resp, 1, 21, 0));
  EXPECT_TRUE(LoggedAsError("Failed to unserialize GetSyncCopyDetailsResp"));
  EXPECT_FALSE(m_am.QueryVMStatusInfoList(5, list));
  EXPECT_TRUE(LoggedAsError("Failed to unserialize GetVMStatusResp"));
}

// ---- stored procedures answering App::GenericResp ---------------------------

class CGenericRespProc {
 public:
  explicit CGenericRespProc(const char* name)
      : m_scope(CDBProcRegistry::Handlers(), name, [this](const std::vector<SDBProcValue>& in, SDBProcResult& out) {
          m_inputs = in;
          ++m_calls;
          if (m_result != 0) {
            out.error = "refused";
            return m_result;
          }
          out.rows.push_back({SDBProcValue::Text(m_answer)});
          return 0;
        }) {}

  // The answer: a GenericResp with this error code and message.
  void Answer(int errorCode, const std::string& message = "") {
    App::GenericResp resp;
    resp.SetInt32(App::GenericResp::kErrorCode, errorCode);
    if (!message.empty()) resp.SetString(App::GenericResp::kErrorMessage, message);
    std::string xml;
    EXPECT_TRUE(resp.serializeUTF8(xml, false));
    m_answer = xml;
  }
  void AnswerNothing() { m_answer.clear(); }
  void Fail(int result) { m_result = result; }

  std::vector<SDBProcValue> m_inputs;
  int m_calls = 0;

 private:
  std::string m_answer;
  int m_result = 0;
  CScopedHandler<std::string, DBProcHandler> m_scope;
};

TEST_F(DRAppManagerQueriesTest, BackupActivityIsScheduledForTheClientAfterTheDelay) {
  Start();
  ASSERT_NE(m_am.GetHaldenID(), 0);
  // The time zone is the one kept under the Halden id.
  AddClientProp(m_am.GetHaldenID(), ZN_PROP_CLIENT_TIME_ZONE_ID, "42");
  CGenericRespProc proc("APPSetActivityControl");
  proc.Answer(0);
  const long long before = CPlatformClock::Instance().NowEpochSeconds();
  ASSERT_TRUE(m_am.SetEnableBackupActivityAfterDelay(301, 5));
  const long long after = CPlatformClock::Instance().NowEpochSeconds();
  EXPECT_TRUE(Logged("Successfully enabled automatic backup activity after delay [5] hrs on VM client [301] "));
  EXPECT_TRUE(Logged("Set automatic backup activity on VMs after delay. Input to APPSetActivityControlProc :["));

  ASSERT_EQ(proc.m_inputs.size(), 2u);
  EXPECT_EQ(proc.m_inputs[0].AsInt(), kOwner);
  App::EntityActivityControl sent;
  ASSERT_TRUE(sent.Unserialize(proc.m_inputs[1].text));
  const CNMessageBase& entity = sent.GetMsg(App::EntityActivityControl::kEntity);
  EXPECT_EQ(entity.GetInt64(ZnEntities::GenericEntity::kClientId), 301);
  EXPECT_EQ(entity.GetInt32(ZnEntities::GenericEntity::kEntityKind), 3);
  ASSERT_EQ(sent.ListSize(App::EntityActivityControl::kOptions), 1u);
  const CNMessageBase& option = sent.GetListMsg(App::EntityActivityControl::kOptions, 0);
  EXPECT_EQ(option.GetInt32(App::ActivityControlOptions::kActivityType), 1);
  EXPECT_TRUE(option.Has(App::ActivityControlOptions::kEnabled));
  EXPECT_EQ(option.GetInt32(App::ActivityControlOptions::kEnabled), 0);
  EXPECT_EQ(option.GetInt32(App::ActivityControlOptions::kEnableAfterDelay), 1);
  const CNMessageBase& when = option.GetMsg(App::ActivityControlOptions::kEnableTime);
  EXPECT_EQ(when.GetInt32(ZnEntities::TimeEntityFields::kTimeZoneId), 42);
  EXPECT_GE(when.GetInt32(ZnEntities::TimeEntityFields::kTime), before + 5 * 3600);
  EXPECT_LE(when.GetInt32(ZnEntities::TimeEntityFields::kTime), after + 5 * 3600);
}

TEST_F(DRAppManagerQueriesTest, BackupActivityRequestReachesTheProcedureWholeInTextMode) {
  Start();
  DBtable::b_newDBBase = false;
  CGenericRespProc proc("APPSetActivityControl");
  proc.Answer(0);
  ASSERT_TRUE(m_am.SetEnableBackupActivityAfterDelay(301, 1));
  ASSERT_EQ(proc.m_inputs.size(), 2u);
  EXPECT_EQ(proc.m_inputs[0].AsInt(), kOwner);
  // The serialised request carries quotes of its own; they arrive intact.
  App::EntityActivityControl sent;
  ASSERT_TRUE(sent.Unserialize(proc.m_inputs[1].text));
  std::string expected;
  ASSERT_TRUE(sent.serializeUTF8(expected));
  EXPECT_EQ(proc.m_inputs[1].text, expected);
  // No time zone kept: 0.
  EXPECT_EQ(sent.GetListMsg(App::EntityActivityControl::kOptions, 0)
                .GetMsg(App::ActivityControlOptions::kEnableTime)
                .GetInt32(ZnEntities::TimeEntityFields::kTimeZoneId),
            0);
}

TEST_F(DRAppManagerQueriesTest, BackupActivityFailuresOfTheProcedure) {
  Start();
  CGenericRespProc proc("APPSetActivityControl");
  proc.Answer(17, "no such client");
  EXPECT_FALSE(m_am.SetEnableBackupActivityAfterDelay(301, 2));
  EXPECT_TRUE(LoggedAsError(
      "Failed to enable automatic backup activity on VM client [301], errorCode: [17],errorMsg: [no such client]"));

  // An empty answer says nothing about success.
  proc.AnswerNothing();
  EXPECT_FALSE(m_am.SetEnableBackupActivityAfterDelay(301, 2));
  EXPECT_TRUE(LoggedAsError("Error : Failed to unserialize App::GenericResp."));
  EXPECT_FALSE(Logged("Successfully enabled automatic backup activity"));

  proc.Fail(4);
  EXPECT_FALSE(m_am.SetEnableBackupActivityAfterDelay(301, 2));
  EXPECT_TRUE(LoggedAsError("Error : Failed to execute procedure APPSetActivityControlProc. ErrorCode [-1]. ErrorString["));
  EXPECT_EQ(CDBProcRegistry::CloseCount("APPSetActivityControl"), 3);
}

TEST_F(DRAppManagerQueriesTest, ReplicationEntriesAreDeletedByTheOptions) {
  Start();
  CGenericRespProc proc("AppVSAReplicationsDeleteOptions");
  proc.Answer(0);
  TMMsg::DROrchestrationOption options;
  options.MutableMsg(TMMsg::DROrchestrationOption::kReplicationInfo).SetInt32List(ReplFields::kReplicationIds, {4, 9});
  ASSERT_TRUE(m_am.RemoveReplicationEntriesFromDb(options));
  EXPECT_TRUE(Logged("Deleted the VM Replication options successfully from the database."));
  ASSERT_EQ(proc.m_inputs.size(), 1u);
  TMMsg::DROrchestrationOption sent;
  ASSERT_TRUE(sent.Unserialize(proc.m_inputs[0].text));
  EXPECT_EQ(sent, options);

  proc.Answer(2, "locked");
  EXPECT_FALSE(m_am.RemoveReplicationEntriesFromDb(options));
  EXPECT_TRUE(LoggedAsError("Failed to delete VM Replication options, errorCode: [2],errorMsg: [locked]"));
  proc.AnswerNothing();
  CLogSink::Instance().ClearCapture();
  EXPECT_FALSE(m_am.RemoveReplicationEntriesFromDb(options));
  EXPECT_TRUE(LoggedAsError("Error : Failed to unserialize App::GenericResp."));
  EXPECT_FALSE(Logged("Deleted the VM Replication options successfully"));
  proc.Fail(9);
  EXPECT_FALSE(m_am.RemoveReplicationEntriesFromDb(options));
  EXPECT_TRUE(LoggedAsError(
      "Error : Failed to execute procedure AppVSAReplicationsDeleteOptions. ErrorCode [-1]. ErrorString["));
  EXPECT_EQ(proc.m_calls, 4);
}

// ---- host names ---------------------------------------------------------------

TEST_F(DRAppManagerQueriesTest, HostNameFromTheInstanceElseFromItsClient) {
  ASSERT_TRUE(CInstancePropStore::SetAttribute(12, "Virtual Server Host", "esx-01"));
  ASSERT_TRUE(CInstancePropStore::SetAttribute(12, "Other", "x"));
  ASSERT_TRUE(CInstancePropStore::SetAttribute(13, "Virtual Server Host", ""));
  ASSERT_TRUE(CInstancePropStore::SetAttribute(13, "Other", "esx-wrong"));
  ASSERT_TRUE(CClientStore::PutClient(SClientRecord{5, "vcenter-5", "", ""}));
  ASSERT_TRUE(CClientStore::PutClient(SClientRecord{6, "", "", ""}));
  int id = 0;
  for (const auto& app : {std::make_pair(13, 5), std::make_pair(14, 5), std::make_pair(15, 6), std::make_pair(16, 404)}) {
    SApplicationRecord record;
    record.id = ++id;
    record.instanceId = app.first;
    record.clientId = app.second;
    ASSERT_TRUE(CApplicationStore::PutApplication(record));
  }
  std::string host = "unchanged";
  ASSERT_TRUE(CDRAppManager::QueryHostName(12, host));
  EXPECT_EQ(host, "esx-01");

  // An empty property and no property at all both fall back to the client.
  ASSERT_TRUE(CDRAppManager::QueryHostName(13, host));
  EXPECT_EQ(host, "vcenter-5");
  EXPECT_TRUE(Logged("Virtual Server Host is empty for instanceId [13] in APP_INSTANCE_PROP"));
  EXPECT_TRUE(Logged("Attempting to find host name for instanceId [13] in APP_CLIENT"));
  host = "unchanged";
  ASSERT_TRUE(CDRAppManager::QueryHostName(14, host));
  EXPECT_EQ(host, "vcenter-5");
  EXPECT_TRUE(Logged("Failed to fetch Virtual Server Host from instanceId [14]"));

  host = "unchanged";
  EXPECT_FALSE(CDRAppManager::QueryHostName(15, host));
  EXPECT_TRUE(Logged("Client Name is empty for client[6]"));
  EXPECT_FALSE(CDRAppManager::QueryHostName(16, host));
  EXPECT_TRUE(Logged("Failed to fetch client name for client[404]"));
  EXPECT_FALSE(CDRAppManager::QueryHostNameFromClientTbl(17, host));
  EXPECT_TRUE(Logged("Failed to fetch clientId for instance[17]"));
  EXPECT_EQ(host, "unchanged");
}

// ---- VM clients ------------------------------------------------------------------

TEST_F(DRAppManagerQueriesTest, CloneCountSkipsRemovedVMsAndReplacedProperties) {
  Start();
  Sql("INSERT INTO APP_VM (clientId, name, removalTimeStamp) VALUES (201, 'present', NULL), "
      "(202, 'removed', '2024-05-01 00:00:00.000'), (203, 'property replaced', NULL), "
      "(204, 'another source', NULL), (206, 'present too', NULL), (100, 'the source', NULL)",
      "APP_VM");
  AddClientProp(201, "Source VM Client Id", "100");
  AddClientProp(202, "Source VM Client Id", "100");
  AddClientProp(203, "Source VM Client Id", "100", 1700000000);
  AddClientProp(204, "Source VM Client Id", "101");
  AddClientProp(205, "Source VM Client Id", "100");  // no VM row
  AddClientProp(206, "Source VM Client Id", "100");
  AddClientProp(206, "Other", "100");
  int count = -1;
  ASSERT_TRUE(m_am.QueryDRVMCloneCount(100, count));
  EXPECT_EQ(count, 2);
  EXPECT_TRUE(Logged("Fetched [2] rows from Db for clone machine counts"));
  ASSERT_TRUE(m_am.QueryDRVMCloneCount(101, count));
  EXPECT_EQ(count, 1);
  ASSERT_TRUE(m_am.QueryDRVMCloneCount(999, count));
  EXPECT_EQ(count, 0);

  // The property table gone: the count cannot be read.
  Sql("DROP TABLE APP_ClientProp");
  count = -1;
  EXPECT_FALSE(m_am.QueryDRVMCloneCount(100, count));
  EXPECT_TRUE(LoggedAsError("No rows fetched from Db."));
  EXPECT_EQ(count, -1);
}

TEST_F(DRAppManagerQueriesTest, ClientIdOfAnInstanceUUIDIsReadOnceAndMatchedLiterally) {
  Start();
  const std::string hostile = "42' OR '1'='1";
  AddClientProp(301, ZN_PROP_VIRTUAL_SERVER_INSTANCE_UUID, "5010-aa");
  AddClientProp(302, ZN_PROP_VIRTUAL_SERVER_INSTANCE_UUID, "5010-aa", 1700000000);  // replaced
  AddClientProp(303, ZN_PROP_VIRTUAL_SERVER_INSTANCE_UUID, hostile);
  AddClientProp(304, "Other", "5010-bb");
  int clientId = 0;
  ASSERT_TRUE(m_am.QueryClientIdWithClientUUID("5010-aa", clientId));
  EXPECT_EQ(clientId, 301);
  EXPECT_TRUE(Logged("Source Client Id [301] retrieved for Instance UUID [5010-aa]"));
  ASSERT_TRUE(m_am.QueryClientIdWithClientUUID(hostile, clientId));
  EXPECT_EQ(clientId, 303);
  clientId = 0;
  EXPECT_FALSE(m_am.QueryClientIdWithClientUUID("x' OR attrVal LIKE '%", clientId));
  EXPECT_FALSE(m_am.QueryClientIdWithClientUUID("5010-bb", clientId));
  EXPECT_TRUE(LoggedAsError("Failed to fetch VM Client id from table Error [100] "));
  EXPECT_EQ(clientId, 0);

  // Once found, the answer comes from the cache, even after the row went.
  Sql("DELETE FROM APP_ClientProp WHERE componentNameId = 301");
  ASSERT_TRUE(m_am.QueryClientIdWithClientUUID("5010-aa", clientId));
  EXPECT_EQ(clientId, 301);
  // A failed read caches nothing.
  AddClientProp(305, ZN_PROP_VIRTUAL_SERVER_INSTANCE_UUID, "5010-bb");
  ASSERT_TRUE(m_am.QueryClientIdWithClientUUID("5010-bb", clientId));
  EXPECT_EQ(clientId, 305);
}

TEST_F(DRAppManagerQueriesTest, LastBackupEndTimeOnlyFromASuccessfulBackup) {
  Start();
  auto info = [](int status, int endTime) {
    App::LastBackupJobInfo job;
    job.SetInt32(App::LastBackupJobInfo::kStatus, status);
    job.MutableMsg(App::LastBackupJobInfo::kEndTime).SetInt32(ZnEntities::TimeEntityFields::kTime, endTime);
    return Xml(job);
  };
  AddClientProp(401, ZN_PROP_LAST_VM_BACKUP_JOB_INFO, info(1, 1700000100));
  AddClientProp(401, ZN_PROP_LAST_VM_BACKUP_JOB_INFO, info(1, 1600000000), 1700000200);  // replaced
  AddClientProp(402, ZN_PROP_LAST_VM_BACKUP_JOB_INFO, info(3, 1700000300));
  AddClientProp(403, ZN_PROP_LAST_VM_BACKUP_JOB_INFO, "<not xml");
  int endTime = 77;
  ASSERT_TRUE(m_am.GetLastSuccessfulBackupJobEndTime(401, endTime));
  EXPECT_EQ(endTime, 1700000100);
  EXPECT_TRUE(Logged("Last successful backup job end time retrieved [1700000100] for client [401]"));
  endTime = 77;
  ASSERT_TRUE(m_am.GetLastSuccessfulBackupJobEndTime(402, endTime));
  EXPECT_EQ(endTime, 77);
  EXPECT_TRUE(Logged("Last successful backup job end time retrieved [77] for client [402]"));
  EXPECT_FALSE(m_am.GetLastSuccessfulBackupJobEndTime(403, endTime));
  EXPECT_TRUE(LoggedAsError("Error : Failed to unserialize App::LastBackupJobInfo"));
  EXPECT_FALSE(m_am.GetLastSuccessfulBackupJobEndTime(404, endTime));
  EXPECT_TRUE(LoggedAsError("Failed to fetch 'Last VM Backup Job Info' from table Error [100] "));
  EXPECT_EQ(endTime, 77);
}

TEST_F(DRAppManagerQueriesTest, SourceClientGuidIsWrittenForTheNamedClientOnly) {
  Start();
  ASSERT_TRUE(CClientStore::PutClient(SClientRecord{30, "vm-a", "", ""}));
  ASSERT_TRUE(CClientStore::PutClient(SClientRecord{31, "vm-b", "", ""}));
  AddClientProp(30, ZN_PROP_VIRTUAL_SERVER_INSTANCE_UUID, "old-guid");
  const std::string guid = "50'10-cc";
  m_am.UpdateSourceClientGuid("vm-a", guid);
  EXPECT_TRUE(Logged("Updated source Client GUID [50'10-cc] in App_ClientProp table for client Id [30]"));
  EXPECT_EQ(Text("SELECT attrVal FROM APP_ClientProp WHERE componentNameId = 30 AND modified = 0 AND attrName = '" +
                 std::string(ZN_PROP_VIRTUAL_SERVER_INSTANCE_UUID) + "'"),
            guid);
  EXPECT_EQ(Count("APP_ClientProp", "componentNameId = 30 AND attrVal = 'old-guid' AND modified <> 0"), 1);
  EXPECT_EQ(Count("APP_ClientProp", "componentNameId = 31"), 0);
  int clientId = 0;
  ASSERT_TRUE(m_am.QueryClientIdWithClientUUID(guid, clientId));
  EXPECT_EQ(clientId, 30);

  // A client the server does not know gets nothing, and neither does id 0.
  const int rows = Count("APP_ClientProp", "1 = 1");
  m_am.UpdateSourceClientGuid("nobody", "guid-x");
  EXPECT_EQ(Count("APP_ClientProp", "1 = 1"), rows);
  EXPECT_FALSE(Logged("Updated source Client GUID [guid-x]"));
}

TEST_F(DRAppManagerQueriesTest, AllocationPolicyIdIsWrittenIntoTheClientsVMRow) {
  Start();
  Sql("INSERT INTO APP_VM (clientId, name, vmAllocationPolicyId) VALUES (501, 'a', 0), (502, 'b', 3)", "APP_VM");
  ASSERT_TRUE(m_am.UpdatePolicyIdInAppVMTbl(501, 12));
  EXPECT_TRUE(Logged("Updated allocPolicyId [12] for clientId [501]"));
  EXPECT_EQ(Count("APP_VM", "clientId = 501 AND vmAllocationPolicyId = 12"), 1);
  EXPECT_EQ(Count("APP_VM", "clientId = 502 AND vmAllocationPolicyId = 3"), 1);
  EXPECT_FALSE(m_am.UpdatePolicyIdInAppVMTbl(503, 12));
  EXPECT_TRUE(LoggedAsError("Failed to fetch VM Client id from table Error [100] "));
}

// ---- allocation policies of tasks and targets ----------------------------------

TEST_F(DRAppManagerQueriesTest, TaskPolicyIsLoadedThroughTheTasksRestoreOptions) {
  Start();
  PutPolicy(12, 1);
  PutTask(700, 12);
  Ida::VMAllocationPolicy policy;
  ASSERT_TRUE(m_am.QueryVMAllocationPolicyFromTask(700, policy));
  EXPECT_EQ(policy.GetInt32(Ida::VMAllocationPolicy::kRestoreAsManagedVM), 1);

  // A policy id the database does not hold.
  PutTask(701, 13);
  EXPECT_FALSE(m_am.QueryVMAllocationPolicyFromTask(701, policy));
  EXPECT_TRUE(Logged("Failed to fetch VMAllocation policy from DB for VMAllocation policy [13]"));
  // Ids 0 and 1 name no policy; a task may name none; an unknown task has none.
  PutPolicy(1, 1);
  PutTask(702, 1);
  EXPECT_FALSE(m_am.QueryVMAllocationPolicyFromTask(702, policy));
  PutTask(703, 0);
  EXPECT_FALSE(m_am.QueryVMAllocationPolicyFromTask(703, policy));
  EXPECT_FALSE(m_am.QueryVMAllocationPolicyFromTask(799, policy));
}

TEST_F(DRAppManagerQueriesTest, TaskWithoutSubtaskOrOptionsHasNoPolicy) {
  Start();
  PutPolicy(12, 1);
  TMMsg::TaskInfo bare;
  bare.TouchField(TMMsg::TaskInfo::kSubTasks);
  ASSERT_TRUE(CTaskStore::PutTask(710, Xml(bare)));
  TMMsg::TaskInfo noOptions;
  noOptions.AddMsg(TMMsg::TaskInfo::kSubTasks);
  ASSERT_TRUE(CTaskStore::PutTask(711, Xml(noOptions)));
  TMMsg::TaskInfo noRestore;
  noRestore.AddMsg(TMMsg::TaskInfo::kSubTasks).MutableMsg(TMMsg::SubTaskInfo::kJobOptions);
  ASSERT_TRUE(CTaskStore::PutTask(712, Xml(noRestore)));
  Ida::VMAllocationPolicy policy;
  for (long task : {710L, 711L, 712L}) {
    SCOPED_TRACE(task);
    EXPECT_FALSE(m_am.QueryVMAllocationPolicyFromTask(task, policy));
  }
  EXPECT_FALSE(policy.Has(Ida::VMAllocationPolicy::kInstance));
}

TEST_F(DRAppManagerQueriesTest, RestoreAsManagedFromTheTargetElseFromTheTask) {
  Start();
  PutPolicy(12, 1);
  PutPolicy(20, 0);
  PutPolicy(21, -1);
  PutTask(700, 12);
  EXPECT_TRUE(m_am.QueryRestoreAsManagedVMFromTarget(700, 12));
  EXPECT_TRUE(Logged("restoreAsManagedVM option [1] set for policy Id [12]"));
  EXPECT_FALSE(m_am.QueryRestoreAsManagedVMFromTarget(700, 20));
  EXPECT_FALSE(m_am.QueryRestoreAsManagedVMFromTarget(700, 21));
  EXPECT_FALSE(Logged("Failed to query VM allocation policy"));

  // A target the database does not know: the task's policy answers.
  ASSERT_TRUE(m_am.QueryRestoreAsManagedVMFromTarget(700, 99));
  EXPECT_TRUE(LoggedAsError("Failed to query VM allocation policy Id [99]"));
  EXPECT_FALSE(m_am.QueryRestoreAsManagedVMFromTarget(799, 98));
  EXPECT_TRUE(LoggedAsError("Failed to query VM allocation policy from task Id [799]"));
}

// ---- replications ------------------------------------------------------------------

TEST_F(DRAppManagerQueriesTest, ReplicationPropertyRowsOfTheTypeGoAndNoOthers) {
  Start();
  Sql("INSERT INTO APP_VSAReplicationProp (replicationId, propertyTypeId, propertyValue) VALUES "
      "(77, 2204, 'a'), (77, 2204, 'b'), (77, 2205, 'c'), (78, 2204, 'd')",
      "APP_VSAReplicationProp");
  ASSERT_TRUE(m_am.RemoveVSAPropTblProperty(2204, 77));
  EXPECT_TRUE(Logged("Attempting to remove entries for property [2204] for replication [77] in APP_VSAReplicationProp"));
  EXPECT_EQ(Count("APP_VSAReplicationProp", "replicationId = 77 AND propertyTypeId = 2204"), 0);
  EXPECT_EQ(Count("APP_VSAReplicationProp", "1 = 1"), 2);

  // Nothing left to delete is still success.
  ASSERT_TRUE(m_am.RemoveVSAPropTblProperty(2204, 77));
  EXPECT_TRUE(Logged("No entries found for property [2204] for replication [77] in APP_VSAReplicationProp"));

  // A table that cannot be written.
  Sql("DROP TABLE APP_VSAReplicationProp");
  Sql("CREATE VIEW APP_VSAReplicationProp AS SELECT 1 AS id, 78 AS replicationId, 2204 AS propertyTypeId, "
      "'' AS propertyValue, 0 AS created, 0 AS modified");
  EXPECT_FALSE(m_am.RemoveVSAPropTblProperty(2204, 78));
  EXPECT_TRUE(Logged("Error fetching data from DB : ["));
}

TEST_F(DRAppManagerQueriesTest, ReplicationGroupReadErrorIsAFailureNotAShortList) {
  // Rows stream in id order from the real table; the second one fails to
  // compute, after the first has been handed out.
  Sql("CREATE TABLE ReplicationRows (replicationId INTEGER PRIMARY KEY, taskId INTEGER)");
  Sql("INSERT INTO ReplicationRows VALUES (21, 8), (23, 8), (24, 9)");
  Sql("CREATE VIEW APP_VSAReplication AS SELECT replicationId, '' AS replicationGuid, '' AS sourceGuid, "
      "'' AS sourceName, '' AS destinationGuid, '' AS destinationName, 0 AS lastRestoreTime, 0 AS lastBackupTime, "
      "taskId, 0 AS subclientId, 0 AS powerOn, '' AS options, '' AS spare1, '' AS spare2, '' AS spare3, "
      "0 AS created, 0 AS modified, 0 AS flags, "
      "CASE WHEN replicationId = 23 THEN abs(-9223372036854775808) ELSE 1 END AS status, 0 AS backupsetId, "
      "0 AS lastSyncedBkpJob, 0 AS VMSyncedTillTime, '' AS BkpJobsToSync, 0 AS ValidationFailCount, "
      "0 AS FailoverStatus FROM ReplicationRows");
  Start(8);
  std::vector<int> ids;
  EXPECT_FALSE(m_am.GetReplList(ids));
  EXPECT_TRUE(LoggedAsError("Failed to read the replications of Replication group [8]. Error [Database error"));
  EXPECT_TRUE(ids.empty());
  EXPECT_FALSE(Logged("No Replication ids are associated"));

  // The group whose rows all read appends to what the list held.
  LiveReplicationGroup(9);
  ids = {4};
  ASSERT_TRUE(m_am.GetReplList(ids));
  EXPECT_EQ(ids, (std::vector<int>{4, 24}));
}

// ---- DR group properties ---------------------------------------------------------

TEST_F(DRAppManagerQueriesTest, GroupPropertyIsInsertedThenUpdatedLiterally) {
  Start();
  Sql("INSERT INTO App_VirtualAppProp (componentNameId, attrName, attrType, attrVal, created, modified) VALUES "
      "(4, 'it''s', 2, 'other group', 1, 0)",
      "App_VirtualAppProp");
  const long long before = CPlatformClock::Instance().NowEpochSeconds();
  ASSERT_TRUE(m_am.UpdateVirtualAppProp("it's", "v'1"));
  EXPECT_TRUE(Logged("Successfully update db for vApp prop TBL attr [it's] val [v'1]"));
  EXPECT_EQ(Count("App_VirtualAppProp", "componentNameId = 3"), 1);
  EXPECT_EQ(Text("SELECT attrVal FROM App_VirtualAppProp WHERE componentNameId = 3"), "v'1");
  EXPECT_EQ(Text("SELECT attrType || '/' || modified FROM App_VirtualAppProp WHERE componentNameId = 3"), "2/0");
  const long long created = std::stoll(Text("SELECT created FROM App_VirtualAppProp WHERE componentNameId = 3"));
  EXPECT_GE(created, before);
  EXPECT_LE(created, CPlatformClock::Instance().NowEpochSeconds());

  ASSERT_TRUE(m_am.UpdateVirtualAppProp("it's", "x' OR '1'='1"));
  EXPECT_EQ(Count("App_VirtualAppProp", "componentNameId = 3"), 1);
  EXPECT_EQ(Text("SELECT attrVal FROM App_VirtualAppProp WHERE componentNameId = 3"), "x' OR '1'='1");
  EXPECT_EQ(Text("SELECT attrVal FROM App_VirtualAppProp WHERE componentNameId = 4"), "other group");
  ASSERT_TRUE(m_am.UpdateVirtualAppProp("second", "2"));
  EXPECT_EQ(Count("App_VirtualAppProp", "componentNameId = 3"), 2);
}

TEST_F(DRAppManagerQueriesTest, GroupPropertyWriteFailures) {
  Start();
  Sql("INSERT INTO App_VirtualAppProp (componentNameId, attrName, attrType, attrVal, created, modified) VALUES "
      "(3, 'a', 2, 'v', 1, 0)",
      "App_VirtualAppProp");
  Sql("CREATE TRIGGER NoUpdate BEFORE UPDATE ON App_VirtualAppProp BEGIN SELECT RAISE(ABORT, 'read only'); END");
  Sql("CREATE TRIGGER NoInsert BEFORE INSERT ON App_VirtualAppProp BEGIN SELECT RAISE(ABORT, 'read only'); END");
  EXPECT_FALSE(m_am.UpdateVirtualAppProp("a", "w"));
  EXPECT_TRUE(LoggedAsError("Failed to update for db for vApp prop TBL attr [a] val [w]"));
  // No row to update, and the insert fails.
  EXPECT_FALSE(m_am.UpdateVirtualAppProp("b", "w"));
  EXPECT_TRUE(LoggedAsError("Failed to insert row vApp prop TBL attr [b] val [w]"));
  EXPECT_FALSE(Logged("Successfully update db for vApp prop"));
  EXPECT_EQ(Text("SELECT attrVal FROM App_VirtualAppProp WHERE attrName = 'a'"), "v");
}

// ---- subclient activity -------------------------------------------------------------

TEST_F(DRAppManagerQueriesTest, SubclientActivityIsChangedOnlyWhenItDiffers) {
  Start();
  JMActivityCtrl controller;
  bool enabled = false;
  EXPECT_TRUE(m_am.ChangeSubclientActivity(0, false));
  ASSERT_EQ(controller.isSubclientActivityEnabled(0, 4, enabled), 0);
  EXPECT_TRUE(enabled);

  EXPECT_TRUE(m_am.ChangeSubclientActivity(55, true));
  EXPECT_TRUE(LoggedAsError("Subclient activity already [ENABLED] for appId [55]"));
  EXPECT_TRUE(m_am.ChangeSubclientActivity(55, false));
  EXPECT_TRUE(LoggedAsError("Changed activity for appId [55] to [DISABLED]"));
  ASSERT_EQ(controller.isSubclientActivityEnabled(55, 4, enabled), 0);
  EXPECT_FALSE(enabled);
  // Another operation type of the subclient is not touched.
  ASSERT_EQ(controller.isSubclientActivityEnabled(55, 13, enabled), 0);
  EXPECT_TRUE(enabled);
  EXPECT_TRUE(m_am.ChangeSubclientActivity(55, false));
  EXPECT_TRUE(LoggedAsError("Subclient activity already [DISABLED] for appId [55]"));
  EXPECT_TRUE(m_am.ChangeSubclientActivity(55, true));
  EXPECT_TRUE(LoggedAsError("Changed activity for appId [55] to [ENABLED]"));
}

TEST_F(DRAppManagerQueriesTest, SubclientActivityChangeThatFails) {
  Start();
  // The controller's records readable but not writable.
  JMActivityCtrl controller;
  bool enabled = false;
  ASSERT_EQ(controller.isSubclientActivityEnabled(56, 4, enabled), 0);
  Sql("CREATE TRIGGER NoChange BEFORE INSERT ON PLT_SubclientActivity BEGIN SELECT RAISE(ABORT, 'read only'); END");
  EXPECT_FALSE(m_am.ChangeSubclientActivity(56, false));
  EXPECT_TRUE(LoggedAsError("Failed to change activity for appId [56] to [DISABLED]"));
  EXPECT_TRUE(m_am.ChangeSubclientActivity(56, true));
  EXPECT_TRUE(Logged("Subclient activity already [ENABLED] for appId [56]"));
}

// ---- global parameters -------------------------------------------------------------

TEST_F(DRAppManagerQueriesTest, AbsentGlobalParameterIsNotAnError) {
  Start();
  std::string value = "kept";
  EXPECT_FALSE(m_am.QueryObGlobalParam("nothing'here", value));
  EXPECT_TRUE(Logged("[nothing'here] key missing in DHDB."));
  EXPECT_FALSE(LoggedAsError("key missing in DHDB."));
  EXPECT_EQ(value, "kept");
}

// ---- the client-id cache from many threads ---------------------------------------

class DRAppManagerQueriesConcurrencyTest : public CQueriesTestBase {
 protected:
  static constexpr int kUUIDs = 16;
  static std::string UUID(int i) { return "uuid-'" + std::to_string(i) + "'"; }

  // Every thread asks for every UUID, each in its own order; returns the
  // wrong or missing answers.
  int AskFromThreads() {
    std::atomic<int> wrong(0);
    std::vector<drtest::CTestThread> threads;
    for (int t = 0; t < 8; ++t) {
      threads.emplace_back(
          [this, t, &wrong] {
            for (int k = 0; k < kUUIDs; ++k) {
              const int i = (k * 5 + t) % kUUIDs;
              int clientId = 0;
              if (!m_am.QueryClientIdWithClientUUID(UUID(i), clientId) || clientId != 1000 + i) wrong.fetch_add(1);
            }
            CDBConnection::CloseThreadConnections();
          },
          "client id asker " + std::to_string(t));
    }
    for (drtest::CTestThread& th : threads) EXPECT_TRUE(th.Join());
    return wrong.load();
  }
};

TEST_F(DRAppManagerQueriesConcurrencyTest, ClientIdsFromEightThreadsOnColdAndWarmCache) {
  Start();
  for (int i = 0; i < kUUIDs; ++i) AddClientProp(1000 + i, ZN_PROP_VIRTUAL_SERVER_INSTANCE_UUID, UUID(i));
  EXPECT_EQ(AskFromThreads(), 0);
  // Warm: the rows are gone, every answer comes from the cache.
  Sql("DELETE FROM APP_ClientProp");
  EXPECT_EQ(AskFromThreads(), 0);
  EXPECT_FALSE(Logged("Failed to fetch VM Client id from table"));
}

}  // namespace
