#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/DRHelper.h"
#include "appmgr/ApplicationId.h"
#include "log/LogSink.h"

namespace {

// A DR group with two priorities of two VMs each (replications 10+i).
Api::VirtualApp MakeGroup() {
  Api::VirtualApp app;
  CNMessageBase& config = app.MutableMsg(Api::VirtualApp::kConfig);
  for (int p = 1; p <= 2; ++p) {
    auto& group = config.AddMsgAs<TMMsg::VMGroup>(TMMsg::DRGroupConfigFields::kPriorities);
    group.SetInt32(TMMsg::VMGroup::kPriority, p);
    for (int v = 0; v < 2; ++v) {
      CNMessageBase& entry = group.AddMsg(TMMsg::VMGroup::kVMSequence);
      entry.SetInt32(TMMsg::VMDependencyOrder::kReplicationId, 10 * p + v);
    }
  }
  return app;
}

}  // namespace

TEST(DRHelperJobStatus, MatchesWholeTextsAndUpperCasesInPlace) {
  struct {
    const char* text;
    bool ok, suspended, killed, failed;
  } rows[] = {
      {"COMPLETED", true, false, false, false},
      {"completed w/ one or more errors", true, false, false, false},
      {"Completed With Errors", true, false, false, false},
      {"SUSPENDED", false, true, false, false},
      {"suspend pending", false, true, false, false},
      {"Kill Pending", false, false, true, false},
      {"KILLED", false, false, true, false},
      {"KILLED BY USER", false, false, false, false},
      {"FAILED", false, false, false, true},
      {"FAILED ", false, false, false, false},
      {" COMPLETED", false, false, false, false},
      {"", false, false, false, false},
      {"\xe9t\xe9", false, false, false, false},  // bytes above 127 must not trip toupper
  };
  for (const auto& r : rows) {
    std::string s = r.text;
    EXPECT_EQ(r.ok, DRHelper::IsJobSuccessful(s)) << r.text;
    s = r.text;
    EXPECT_EQ(r.suspended, DRHelper::IsJobSuspended(s)) << r.text;
    s = r.text;
    EXPECT_EQ(r.killed, DRHelper::IsJobKilledIssued(s)) << r.text;
    s = r.text;
    EXPECT_EQ(r.failed, DRHelper::IsJobFailed(s)) << r.text;
  }
  std::string status = "completed w/ one or more errors";
  DRHelper::IsJobSuccessful(status);
  EXPECT_EQ("COMPLETED W/ ONE OR MORE ERRORS", status) << "the caller sees the upper-cased text";
}

TEST(DRHelperGroup, ReadsPrioritiesAndReplicationIds) {
  Api::VirtualApp app = MakeGroup();
  std::vector<TMMsg::VMGroup> groups;
  ASSERT_TRUE(DRHelper::GetVMPriorities(app, groups));
  ASSERT_EQ(2u, groups.size());
  EXPECT_EQ(2, groups[1].GetInt32(TMMsg::VMGroup::kPriority));

  std::vector<int> ids = {99};
  ASSERT_TRUE(DRHelper::GetReplicationList(groups[1], ids));
  EXPECT_EQ((std::vector<int>{20, 21}), ids);

  TMMsg::VMGroup empty;
  EXPECT_FALSE(DRHelper::GetReplicationList(empty, ids));
  EXPECT_TRUE(ids.empty()) << "cleared even on failure";

  Api::VirtualApp noConfig;
  groups.assign(1, TMMsg::VMGroup());
  EXPECT_FALSE(DRHelper::GetVMPriorities(noConfig, groups));
  EXPECT_EQ(1u, groups.size()) << "left alone on failure";
  EXPECT_TRUE(CLogSink::Instance().Contains("vapp config not set", "GetVMPriorities"));
  EXPECT_FALSE(noConfig.Has(Api::VirtualApp::kConfig)) << "a failed read creates nothing";
}

TEST(DRHelperGroup, ReplicationListOfTheJobOption) {
  TMMsg::DROrchestrationOption option;
  std::vector<int> ids = {7, 8};
  EXPECT_FALSE(DRHelper::GetReplList(option, ids));
  EXPECT_EQ((std::vector<int>{7, 8}), ids) << "old contents kept on failure";
  option.MutableMsg(TMMsg::DROrchestrationOption::kReplicationInfo);  // information without an id list
  EXPECT_FALSE(DRHelper::GetReplList(option, ids));
  EXPECT_TRUE(CLogSink::Instance().Contains("Replication info not set OR replication id(s) not found"));

  CNMessageBase& info = option.MutableMsg(TMMsg::DROrchestrationOption::kReplicationInfo);
  info.AddInt32(TMMsg::DRReplicationInfoFields::kReplicationIds, 5);
  info.AddInt32(TMMsg::DRReplicationInfoFields::kReplicationIds, 3);
  ASSERT_TRUE(DRHelper::GetReplList(option, ids));
  EXPECT_EQ((std::vector<int>{5, 3}), ids);
}

TEST(DRHelperGroup, DRStepIsLeftAsPassed) {
  Api::DRSequence sequence;
  Api::DRStep step;
  step.SetInt64(Api::DRStep::kSkip, 42);
  DRHelper::GetDRStep(sequence, Api::VIRTUAL_APP_PHASE_POWER_ON, step);
  EXPECT_EQ(42, step.GetInt64(Api::DRStep::kSkip));
}

TEST(DRHelperTask, JobIdParsesTheFirstFullId) {
  struct {
    std::vector<std::string> ids;
    bool ok;
    long long expected;
  } rows[] = {
      {{"123"}, true, 123},
      {{"123abc"}, true, 123},
      {{"8589934593", "1"}, true, 8589934593LL},  // above 32 bits
      {{"9223372036854775807"}, true, INT64_MAX},
      {{"9223372036854775808"}, false, -1},  // overflows 64 bits
      {{"abc"}, false, -1},
      {{"0"}, false, -1},
      {{"-5"}, false, -1},
      {{" 12"}, false, -1},
      {{""}, false, -1},
      {{}, false, -1},
  };
  for (const auto& r : rows) {
    TMMsg::CreateTaskResp resp;
    for (const std::string& id : r.ids) resp.AddString(TMMsg::CreateTaskResp::kJobIds, id);
    long long jobId = -1;
    EXPECT_EQ(r.ok, DRHelper::GetJobId(resp, jobId)) << (r.ids.empty() ? "(none)" : r.ids[0]);
    EXPECT_EQ(r.expected, jobId) << "the output is untouched on failure";
  }
}

TEST(DRHelperTask, ApplicationInfoFillsTheEntity) {
  SApplicationIds ids;
  ids.appId = 501;
  ids.instanceId = 2;
  ids.backupSetId = 3;
  ids.subclientId = 501;
  ids.clientId = 7;
  ZnEntities::GenericEntity entity;
  DRHelper::GetApplicationInfo(ApplicationId(ids), entity);
  EXPECT_EQ(501, entity.GetInt32(ZnEntities::GenericEntity::kApplicationId));
  EXPECT_EQ(2, entity.GetInt32(ZnEntities::GenericEntity::kInstanceId));
  EXPECT_EQ(3, entity.GetInt32(ZnEntities::GenericEntity::kBackupSetId));
  EXPECT_EQ(501, entity.GetInt32(ZnEntities::GenericEntity::kSubclientId));
  EXPECT_EQ(7, entity.GetInt64(ZnEntities::GenericEntity::kClientId));
}

TEST(DRHelperTask, FormattedXmlParsesBack) {
  Api::VirtualApp app = MakeGroup();
  std::string xml;
  ASSERT_TRUE(DRHelper::GetFormattedXML(app, xml));
  EXPECT_NE(std::string::npos, xml.find('\n')) << "formatted output is indented";
  Api::VirtualApp back;
  ASSERT_TRUE(back.Unserialize(xml));
  std::string a, b;
  app.serializeUTF8(a);
  back.serializeUTF8(b);
  EXPECT_EQ(a, b);
}

TEST(DRHelperDatastores, UpdateOnlyForDestinationSnapMount) {
  using Datastore = VirtualServer::VMDatastoreInfo;
  auto makeApi = [](int id, const char* dest) {
    Api::DatastoreReplication r;
    r.SetInt32(Api::DatastoreReplication::kReplicationId, id);
    r.MutableMsg(Api::DatastoreReplication::kDestinationDatastore).SetString(Datastore::kDatastoreId, dest);
    return r;
  };
  auto makeVm = [](int id, const char* f1, const char* f2) {
    Ida::VMDatastoreReplication r;
    r.SetInt32(Ida::VMDatastoreReplication::kReplicationId, id);
    CNMessageBase& d = r.MutableMsg(Ida::VMDatastoreReplication::kDestinationDatastore);
    d.SetString(Datastore::kDatastoreId, f1);
    d.SetString(Datastore::kDatastoreName, f2);
    return r;
  };
  const SMsgField& apiDest = Api::DatastoreReplication::kDestinationDatastore;
  const SMsgField& vmDest = Ida::VMDatastoreReplication::kDestinationDatastore;
  std::vector<Ida::VMDatastoreReplication> vm = {makeVm(1, "a1", "a2"), makeVm(2, "b1", "b2"), makeVm(1, "c1", "c2")};
  std::vector<Api::DatastoreReplication> api = {makeApi(1, "old1"), makeApi(3, "old3")};

  auto before = api;
  DRHelper::UpdateSiteDatastores(vm, api, Api::DR_SITE_SOURCE, Api::VIRTUAL_APP_PHASE_DR_VM_SNAP_MOUNT);
  DRHelper::UpdateSiteDatastores(vm, api, Api::DR_SITE_DESTINATION, Api::VIRTUAL_APP_PHASE_DR_VM_TEST_SNAP_MOUNT);
  std::string x, y;
  for (size_t i = 0; i < api.size(); ++i) {
    api[i].serializeUTF8(x);
    before[i].serializeUTF8(y);
    EXPECT_EQ(y, x) << "other sites and phases change nothing";
  }

  DRHelper::UpdateSiteDatastores(vm, api, Api::DR_SITE_DESTINATION, Api::VIRTUAL_APP_PHASE_DR_VM_SNAP_MOUNT);
  EXPECT_EQ("c1", api[0].GetMsg(apiDest).GetString(Datastore::kDatastoreId))
      << "the last VM-side entry with the id wins";
  EXPECT_EQ("c2", api[0].GetMsg(apiDest).GetString(Datastore::kDatastoreName));
  EXPECT_EQ("old3", api[1].GetMsg(apiDest).GetString(Datastore::kDatastoreId));

  std::vector<Ida::VMDatastoreReplication> built = {makeVm(9, "keep", "me")};
  DRHelper::ConstructSiteDatastores(api, built);
  ASSERT_EQ(3u, built.size()) << "appended, not replaced";
  EXPECT_EQ(1, built[1].GetInt32(Ida::VMDatastoreReplication::kReplicationId));
  EXPECT_EQ("c1", built[1].GetMsg(vmDest).GetString(Datastore::kDatastoreId));
  EXPECT_EQ(3, built[2].GetInt32(Ida::VMDatastoreReplication::kReplicationId));
}

TEST(DRHelperCsv, JoinsInIterationOrder) {
  EXPECT_EQ("1,2,3", DRHelper::GetCollCSVStr(std::set<int>{3, 1, 2}));
  EXPECT_EQ("3,1,2", DRHelper::GetCollCSVStr(std::vector<int>{3, 1, 2}));
  EXPECT_EQ("7", DRHelper::GetCollCSVStr(std::vector<int>{7}));
  EXPECT_EQ("", DRHelper::GetCollCSVStr(std::vector<int>{}));
}
