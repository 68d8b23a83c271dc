// The management database's stand-ins as the DR job reaches them: the
// copy-details query through App_ExecuteSP, the activity-control and
// replication-deletion procedures through the procedure registry (in both
// binding modes, as the system's procedure wrapper passes their inputs),
// the subclient activity controller, and the faults of each.
#include "Db/Proc/AppVSAReplicationsDeleteOptions.h"
#include "Db/SprocWrapper.h"
#include "TaskSimTestSupport.h"
#include "appmgr/ActivityControlStore.h"
#include "appmgr/JMActivityCtrl.h"
#include "db/App_ExecuteSP.h"
#include "db/DBSqlText.h"
#include "jobs/LabStore.h"
#include "jobs/StandIns.h"
#include "repl/DeleteOptionsProcedure.h"
#include "tasksim/ManagementQueries.h"

namespace {

class ManagementQueries : public CTaskSimTestBase {
 protected:
  void SetUp() override {
    CTaskSimTestBase::SetUp();
    // Precedence 1 primary (the default copy), 2 the aux copy.
    AddPolicy();
  }
  struct SCopyDetails {
    bool policySet = false, copySet = false, defaultSet = false;
    int policy = 0, copy = 0, defaultCopy = 0;
  };
  static int CopyDetails(int subclientId, int precedence, SCopyDetails& out) {
    Api::GetSyncCopyDetailsReq req;
    req.SetInt32(Api::GetSyncCopyDetailsReq::kCopyPrecedence, precedence);
    req.MutableMsg(Api::GetSyncCopyDetailsReq::kSubclient).SetInt32(ZnEntities::SubClientEntity::kSubclientId, subclientId);
    req.SetInt64(Api::GetSyncCopyDetailsReq::kJobId, 100001);
    std::string request, response;
    EXPECT_TRUE(req.serializeUTF8(request));
    App_ExecuteSP sp;
    const int rc = sp.executeGetStoredProcedure(Api::GetSyncCopyDetailsReq::kTypeId, request, response, nullptr);
    if (rc != 0) return rc;
    Api::GetSyncCopyDetailsResp resp;
    if (!resp.Unserialize(response)) return -100;
    out.policySet = resp.Has(Api::GetSyncCopyDetailsResp::kStoragePolicy);
    out.copySet = resp.Has(Api::GetSyncCopyDetailsResp::kCopy);
    out.defaultSet = resp.Has(Api::GetSyncCopyDetailsResp::kDefaultCopyId);
    out.policy = resp.GetMsg(Api::GetSyncCopyDetailsResp::kStoragePolicy)
                     .GetInt32(ZnEntities::StoragePolicyEntityFields::kStoragePolicyId);
    out.copy = resp.GetMsg(Api::GetSyncCopyDetailsResp::kCopy).GetInt32(ZnEntities::StorageCopyEntityFields::kCopyId);
    out.defaultCopy = resp.GetInt32(Api::GetSyncCopyDetailsResp::kDefaultCopyId);
    return 0;
  }
};

TEST_F(ManagementQueries, CopyDetailsNameThePolicyTheCopyOfThePrecedenceAndTheDefaultCopy) {
  SCopyDetails d;
  ASSERT_EQ(0, CopyDetails(kSubclient, 2, d));
  EXPECT_TRUE(d.policySet && d.copySet && d.defaultSet);
  EXPECT_EQ(kPolicy, d.policy);
  EXPECT_EQ(kAux, d.copy);
  EXPECT_EQ(kPrimary, d.defaultCopy);
  ASSERT_EQ(0, CopyDetails(kSubclient, 1, d));
  EXPECT_EQ(kPrimary, d.copy);
}

TEST_F(ManagementQueries, AnUnknownSubclientOrPrecedenceLeavesItsFieldsOut) {
  SCopyDetails d;
  ASSERT_EQ(0, CopyDetails(kSubclient, 7, d));
  EXPECT_TRUE(d.policySet);
  EXPECT_FALSE(d.copySet);
  EXPECT_TRUE(d.defaultSet);
  d = SCopyDetails();
  ASSERT_EQ(0, CopyDetails(99, 1, d));
  EXPECT_FALSE(d.policySet || d.copySet || d.defaultSet);
}

TEST_F(ManagementQueries, CopyDetailsFaults) {
  SCopyDetails d;
  ASSERT_TRUE(CStandIns::SetFault(CManagementQueries::kSyncCopyDetails, EStandInFault::kFails));
  EXPECT_NE(0, CopyDetails(kSubclient, 2, d));
  ASSERT_TRUE(CStandIns::SetFault(CManagementQueries::kSyncCopyDetails, EStandInFault::kErrorCode));
  EXPECT_EQ(kStandInFaultCode, CopyDetails(kSubclient, 2, d));
  ASSERT_TRUE(CStandIns::SetFault(CManagementQueries::kSyncCopyDetails, EStandInFault::kEmptyAnswer));
  EXPECT_EQ(-100, CopyDetails(kSubclient, 2, d));
  ASSERT_TRUE(CStandIns::SetFault(CManagementQueries::kSyncCopyDetails, EStandInFault::kNone));
  EXPECT_EQ(0, CopyDetails(kSubclient, 2, d));
}

// ---- the procedures, in both binding modes ----

class ManagementProcedures : public CDbModeTest {
 protected:
  void SetUp() override {
    CDbModeTest::SetUp();
    std::string error;
    ASSERT_TRUE(CSimulators::CreateTables(error)) << error;
  }
  // APPSetActivityControl with its inputs as the procedure wrapper hands
  // them over: bound (typed mode) or printed "%d,'%s'" (text mode).
  int SetActivityControl(int userId, const std::string& xml, std::string& answer, std::string& error) {
    std::vector<SDBProcValue> inputs;
    if (GetParam()) {
      inputs = {SDBProcValue::Number(userId), SDBProcValue::Text(xml)};
    } else if (!CDBSqlText::ParseValuesClause(CDBSqlText::Format("%d,'%s'", userId, xml.c_str()), inputs)) {
      return -100;
    }
    DBProcHandler handler;
    if (!CDBProcRegistry::Find(CActivityControlStore::kProcName, handler)) return -101;
    SDBProcResult result;
    const int rc = handler(inputs, result);
    error = result.error;
    answer = result.rows.empty() || result.rows[0].empty() ? std::string() : result.rows[0][0].text;
    return rc;
  }
  static std::string ActivityRequest(long long clientId, int activationTime, int timeZone) {
    App::EntityActivityControl req;
    CNMessageBase& entity = req.MutableMsg(App::EntityActivityControl::kEntity);
    entity.SetInt64(ZnEntities::GenericEntity::kClientId, clientId);
    entity.SetInt32(ZnEntities::GenericEntity::kEntityKind, 3);
    CNMessageBase& option = req.AddMsg(App::EntityActivityControl::kOptions);
    option.SetInt32(App::ActivityControlOptions::kActivityType, 1);
    option.SetInt32(App::ActivityControlOptions::kEnabled, 0);
    option.SetInt32(App::ActivityControlOptions::kEnableAfterDelay, 1);
    CNMessageBase& time = option.MutableMsg(App::ActivityControlOptions::kEnableTime);
    time.SetInt32(ZnEntities::TimeEntityFields::kTimeZoneId, timeZone);
    time.SetInt32(ZnEntities::TimeEntityFields::kTime, activationTime);
    std::string xml;
    EXPECT_TRUE(req.serializeUTF8(xml));
    return xml;
  }
  static int GenericCode(const std::string& answer, std::string* message = nullptr) {
    App::GenericResp resp;
    EXPECT_TRUE(resp.Unserialize("<?xml version='1.0' encoding='utf-8' ?>" + answer)) << answer;
    if (message != nullptr) *message = resp.GetString(App::GenericResp::kErrorMessage);
    return resp.Has(App::GenericResp::kErrorCode) ? resp.GetInt32(App::GenericResp::kErrorCode) : -1000;
  }
  static std::vector<SActivityControlRecord> ActivityRecords() {
    std::vector<SActivityControlRecord> out;
    EXPECT_EQ(EStoreResult::kOk, CActivityControlStore::Records(out));
    return out;
  }

  // AppVSAReplicationsDeleteOptions through the system's wrapper.
  static int DeleteReplications(const std::vector<int>& ids, std::string& out, std::string& error) {
    TMMsg::DROrchestrationOption options;
    CNMessageBase& info = options.MutableMsg(TMMsg::DROrchestrationOption::kReplicationInfo);
    for (int id : ids) info.AddInt32(TMMsg::DRReplicationInfoFields::kReplicationIds, id);
    std::string xml;
    EXPECT_TRUE(options.serializeUTF8(xml));
    SprocWrapper<AppVSAReplicationsDeleteOptions, AppVSAReplicationsDeleteOptions_t> proc(
        "RemoveReplicationEntriesFromDb", nullptr);
    proc.getCursor()->setValues(xml.c_str());
    const int rc = proc.getXMLFromCursor(out, nullptr, false, true);
    error = proc.getErrorString();
    return rc;
  }
  static void AddReplication(int id) {
    App::VSAReplicationInfo info;
    info.SetInt32(App::VSAReplicationInfo::kReplicationId, id);
    info.SetString(App::VSAReplicationInfo::kSourceVMGuid, "it's-" + std::to_string(id));
    CNMessageBase& p = info.AddMsg(App::VSAReplicationInfo::kProperties);
    p.SetInt32(App::VSAReplicationProperties::kPropertyId, 2204);
    p.SetString(App::VSAReplicationProperties::kValue, "12");
    ASSERT_TRUE(CReplicationStore::Put(info, 11));
  }
  static int PropertyRows(int id) {
    CDBConnection* c = CDBConnection::ForThread();
    sqlite3_stmt* s = c->Prepare("SELECT count(*) FROM APP_VSAReplicationProp WHERE replicationId = " +
                                     std::to_string(id),
                                 false);
    int n = -1;
    if (s != nullptr && sqlite3_step(s) == SQLITE_ROW) n = sqlite3_column_int(s, 0);
    if (s != nullptr) c->Release(s);
    return n;
  }
  static bool Exists(int id) {
    App::VSAReplicationInfo info;
    return CReplicationStore::Find(id, info) == EStoreResult::kOk;
  }
  // A DR group of the priorities' replications, each priority and entry
  // with settings of its own (delay = its number, a VM name per entry),
  // approval on: what the deletion must leave as it was.
  static std::string GroupXml(const std::vector<std::vector<int>>& priorities) {
    Api::VirtualApp app;
    CNMessageBase& config = app.MutableMsg(Api::VirtualApp::kConfig);
    int number = 0;
    for (const std::vector<int>& ids : priorities) {
      CNMessageBase& priority = config.AddMsg(TMMsg::DRGroupConfigFields::kPriorities);
      priority.SetInt32(TMMsg::VMGroup::kPriority, ++number);
      priority.SetInt32(TMMsg::VMGroup::kDelayMinutes, number);
      priority.SetInt32(TMMsg::VMGroup::kContinueOnFailure, number % 2);
      priority.TouchField(TMMsg::VMGroup::kVMSequence);
      for (int id : ids) {
        CNMessageBase& entry = priority.AddMsg(TMMsg::VMGroup::kVMSequence);
        entry.MutableMsg(TMMsg::VMDependencyOrder::kVMEntity)
            .SetString(ZnEntities::VirtualMachineEntity::kName, "vm-" + std::to_string(id));
        entry.SetInt32(TMMsg::VMDependencyOrder::kBootOrder, number);
        entry.SetInt64(TMMsg::VMDependencyOrder::kReplicationId, id);
      }
    }
    app.SetInt32(Api::VirtualApp::kApprovalRequired, 1);
    std::string xml;
    EXPECT_TRUE(app.serializeUTF8(xml));
    return xml;
  }
  static std::string StoredGroup(int groupId) {
    std::string xml;
    EXPECT_TRUE(CLabStore::GetDRGroup(groupId, xml));
    return xml;
  }
};

INSTANTIATE_TEST_SUITE_P(Modes, ManagementProcedures, ::testing::Bool());

TEST_P(ManagementProcedures, ActivityControlRecordsTheClientTimeZoneAndOptions) {
  std::string answer, error;
  ASSERT_EQ(0, SetActivityControl(7, ActivityRequest(1101, 1700003600, 42), answer, error)) << error;
  EXPECT_EQ(0, GenericCode(answer));
  const std::vector<SActivityControlRecord> records = ActivityRecords();
  ASSERT_EQ(1u, records.size());
  EXPECT_EQ(7, records[0].userId);
  EXPECT_EQ(1101, records[0].clientId);
  EXPECT_EQ(3, records[0].entityKind);
  EXPECT_EQ(1, records[0].activityType);
  EXPECT_EQ(0, records[0].enabled);
  EXPECT_EQ(1, records[0].enableAfterDelay);
  EXPECT_EQ(1700003600, records[0].activationTime);
  EXPECT_EQ(42, records[0].timeZoneId);
  std::vector<SActivityControlRecord> ofOther;
  ASSERT_EQ(EStoreResult::kOk, CActivityControlStore::Records(ofOther, 1102));
  EXPECT_TRUE(ofOther.empty());
}

TEST_P(ManagementProcedures, ActivityControlRefusalsAndFaults) {
  std::string answer, error, message;
  EXPECT_NE(0, SetActivityControl(7, "<not a request", answer, error));
  EXPECT_NE(std::string::npos, error.find("not readable")) << error;
  ASSERT_EQ(0, SetActivityControl(7, ActivityRequest(0, 1, 1), answer, error));
  EXPECT_EQ(2, GenericCode(answer, &message));
  EXPECT_EQ("The request names no client", message);

  ASSERT_TRUE(CStandIns::SetFault(CActivityControlStore::kProcName, EStandInFault::kFails));
  EXPECT_NE(0, SetActivityControl(7, ActivityRequest(1101, 1, 1), answer, error));
  ASSERT_TRUE(CStandIns::SetFault(CActivityControlStore::kProcName, EStandInFault::kErrorCode));
  ASSERT_EQ(0, SetActivityControl(7, ActivityRequest(1101, 1, 1), answer, error));
  EXPECT_EQ(kStandInFaultCode, GenericCode(answer));
  EXPECT_TRUE(ActivityRecords().empty());
  // The empty answer: recorded, but nothing said.
  ASSERT_TRUE(CStandIns::SetFault(CActivityControlStore::kProcName, EStandInFault::kEmptyAnswer));
  ASSERT_EQ(0, SetActivityControl(7, ActivityRequest(1101, 1, 1), answer, error));
  EXPECT_TRUE(answer.empty());
  EXPECT_EQ(1u, ActivityRecords().size());
}

TEST_P(ManagementProcedures, DeleteOptionsDeletesTheListedReplicationsWithTheirProperties) {
  for (int id : {41, 42, 43}) AddReplication(id);
  std::string out, error;
  // 44 was never there: gone all the same.
  ASSERT_EQ(0, DeleteReplications({41, 43, 44}, out, error)) << error;
  ASSERT_EQ(0u, out.find("<?xml version='1.0' encoding='utf-8' ?>")) << out;
  EXPECT_EQ(0, GenericCode(out.substr(39)));
  EXPECT_FALSE(Exists(41));
  EXPECT_FALSE(Exists(43));
  EXPECT_TRUE(Exists(42));
  EXPECT_EQ(0, PropertyRows(41));
  EXPECT_EQ(1, PropertyRows(42));
  std::vector<int> ofTask;
  ASSERT_EQ(EStoreResult::kOk, CReplicationSources::IdsOfTask(11, ofTask));
  EXPECT_EQ((std::vector<int>{42}), ofTask);
}

// The groups keep every setting; only the deleted replications' entries go,
// with a priority they leave empty, in every group that names them.
TEST_P(ManagementProcedures, DeleteOptionsTakesTheReplicationsOutOfEveryGroupThatNamesThem) {
  for (int id : {41, 42, 43, 45, 46}) AddReplication(id);
  ASSERT_TRUE(CLabStore::PutDRGroup(1, "one", GroupXml({{41, 42}, {45, 43}, {}})));
  ASSERT_TRUE(CLabStore::PutDRGroup(2, "two", GroupXml({{43}, {46}})));
  ASSERT_TRUE(CLabStore::PutDRGroup(3, "three", GroupXml({{45, 46}})));
  const std::string untouched = StoredGroup(3);
  std::string out, error;
  ASSERT_EQ(0, DeleteReplications({41, 42, 43}, out, error)) << error;
  EXPECT_EQ(0, GenericCode(out.substr(39))) << out;
  // The group as it was, less 43's entry and the priority of 41 and 42; the
  // priority that was empty before stays (the deletion did not empty it).
  Api::VirtualApp want;
  ASSERT_TRUE(want.Unserialize(GroupXml({{41, 42}, {45, 43}, {}})));
  CNMessageBase& config = want.MutableMsg(Api::VirtualApp::kConfig);
  config.MutableListMsg(TMMsg::DRGroupConfigFields::kPriorities, 1).ListRemove(TMMsg::VMGroup::kVMSequence, 1);
  config.ListRemove(TMMsg::DRGroupConfigFields::kPriorities, 0);
  std::string expected;
  ASSERT_TRUE(want.serializeUTF8(expected));
  EXPECT_EQ(expected, StoredGroup(1));
  EXPECT_EQ(untouched, StoredGroup(3));
  Api::VirtualApp two;
  ASSERT_TRUE(two.Unserialize(GroupXml({{43}, {46}})));
  two.MutableMsg(Api::VirtualApp::kConfig).ListRemove(TMMsg::DRGroupConfigFields::kPriorities, 0);
  ASSERT_TRUE(two.serializeUTF8(expected));
  EXPECT_EQ(expected, StoredGroup(2));
  EXPECT_EQ("two", CLabStore::DRGroupName(2));
}

// Records and groups change together: a group that cannot be rewritten
// keeps the records too.
TEST_P(ManagementProcedures, DeleteOptionsChangesNothingWhenAGroupCannotBeRewritten) {
  for (int id : {41, 42}) AddReplication(id);
  ASSERT_TRUE(CLabStore::PutDRGroup(1, "one", GroupXml({{41}, {42}})));
  const std::string before = StoredGroup(1);
  CDBConnection* c = CDBConnection::ForThread();
  ASSERT_EQ(DB_OK, c->Exec("CREATE TRIGGER refuse BEFORE UPDATE ON PLT_DRGroups BEGIN SELECT RAISE(ABORT, 'no'); END"));
  std::string out, error;
  ASSERT_EQ(0, DeleteReplications({41}, out, error)) << error;
  std::string message;
  EXPECT_NE(0, GenericCode(out.substr(39), &message));
  EXPECT_EQ("Cannot take the replications out of their DR groups", message);
  EXPECT_TRUE(Exists(41));
  EXPECT_EQ(1, PropertyRows(41));
  EXPECT_EQ(before, StoredGroup(1));
}

TEST_P(ManagementProcedures, DeleteOptionsFaults) {
  AddReplication(41);
  std::string out, error;
  ASSERT_TRUE(CStandIns::SetFault(CDeleteOptionsProcedure::kName, EStandInFault::kFails));
  EXPECT_EQ(-1, DeleteReplications({41}, out, error));
  EXPECT_NE(std::string::npos, error.find("injected failure")) << error;
  ASSERT_TRUE(CStandIns::SetFault(CDeleteOptionsProcedure::kName, EStandInFault::kErrorCode));
  ASSERT_EQ(0, DeleteReplications({41}, out, error));
  EXPECT_EQ(kStandInFaultCode, GenericCode(out.substr(39)));
  EXPECT_TRUE(Exists(41));
  // The deletion happens, its answer is empty: the caller's text stays.
  ASSERT_TRUE(CStandIns::SetFault(CDeleteOptionsProcedure::kName, EStandInFault::kEmptyAnswer));
  out = "the request";
  ASSERT_EQ(0, DeleteReplications({41}, out, error));
  EXPECT_EQ("the request", out);
  EXPECT_FALSE(Exists(41));
}

// ---- the subclient activity controller ----

class SubclientActivityController : public CDbTestBase {};

TEST_F(SubclientActivityController, SwitchesAndItsFaults) {
  JMActivityCtrl ctrl;
  bool enabled = false;
  ASSERT_EQ(0, ctrl.isSubclientActivityEnabled(21, 4, enabled));
  EXPECT_TRUE(enabled);
  EXPECT_EQ(1, ctrl.enableDisableSubclient(21, false, 4, nullptr));
  ASSERT_EQ(0, ctrl.isSubclientActivityEnabled(21, 4, enabled));
  EXPECT_FALSE(enabled);

  ASSERT_TRUE(CStandIns::SetFault(JMActivityCtrl::kStandInName, EStandInFault::kErrorCode));
  EXPECT_NE(1, ctrl.enableDisableSubclient(21, true, 4, nullptr));
  ASSERT_EQ(0, ctrl.isSubclientActivityEnabled(21, 4, enabled));
  EXPECT_FALSE(enabled);
  ASSERT_TRUE(CStandIns::SetFault(JMActivityCtrl::kStandInName, EStandInFault::kFails));
  EXPECT_NE(0, ctrl.isSubclientActivityEnabled(21, 4, enabled));
  EXPECT_NE(1, ctrl.enableDisableSubclient(21, true, 4, nullptr));
  ASSERT_TRUE(CStandIns::SetFault(JMActivityCtrl::kStandInName, EStandInFault::kNone));
  EXPECT_EQ(1, ctrl.enableDisableSubclient(21, true, 4, nullptr));
  ASSERT_EQ(0, ctrl.isSubclientActivityEnabled(21, 4, enabled));
  EXPECT_TRUE(enabled);
}

}  // namespace
