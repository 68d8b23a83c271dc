// Application manager start-up: DR option, DR group, thread count.
#include "services/DRAppManager.h"
#include "db/App_ExecuteSP.h"
#include "jobs/JobRequestHandlers.h"
#include "xmlreq/XMLHandler.h"
#include "db/ZNGlobalParam.h"
#include "services/ServicesTestSupport.h"
#include "sim/Simulators.h"

namespace {

class DRAppManagerTest : public CServicesTestBase {
 protected:
  static void PutGroup(int id, bool withConfig, int priorities) {
    Api::VirtualApp app;
    if (withConfig) {
      CNMessageBase& config = app.MutableMsg(Api::VirtualApp::kConfig);
      config.TouchField(TMMsg::DRGroupConfigFields::kPriorities);
      for (int i = 1; i <= priorities; ++i)
        config.AddMsg(TMMsg::DRGroupConfigFields::kPriorities).SetInt32(TMMsg::VMGroup::kPriority, i);
    }
    ASSERT_TRUE(CLabStore::PutDRGroup(id, "group" + std::to_string(id), Xml(app)));
  }
  // The replication information of the options the manager was initialised with.
  CNMessageBase& LiveReplicationInfo() {
    return m_am.GetDROrchestrationOption()->MutableMsg(TMMsg::DROrchestrationOption::kReplicationInfo);
  }
  using ReplInfo = TMMsg::DRReplicationInfoFields;
  CDRAppManager m_am;
};

TEST_F(DRAppManagerTest, MissingDROptionFails) {
  TMMsg::JobOption options = MakeOptions(-1);
  EXPECT_FALSE(m_am.Initialize(kOwner, &options));
  EXPECT_TRUE(Logged("DR parameter (initiatedfromMonitor) not set. Exiting"));
  CDRAppManager other;
  EXPECT_FALSE(other.Initialize(kOwner, nullptr));
  // Defaults stay.
  EXPECT_EQ(m_am.GetMaxParallelThreadCount(), 10);
  EXPECT_EQ(m_am.GetDelayTimeBeforeSync(), 60);
  EXPECT_EQ(m_am.GetReplicationType(), 0);
  EXPECT_TRUE(m_am.IsPowerOnVMAllowed());
  EXPECT_TRUE(m_am.IsDisableNetworkAdapterAllowed());
}

TEST_F(DRAppManagerTest, MonitorBasedJobLoadsNoGroupButReadsSettings) {
  PutGroup(3, true, 2);
  ASSERT_TRUE(ZNGlobalParam::set(DRPLAN_SETTINGS_PARALLEL_THREAD_COUNT, "7"));
  ASSERT_TRUE(ZNGlobalParam::set("nDelayTimeBeforeSync", "90"));
  TMMsg::JobOption options = MakeOptions(1, 3);
  ASSERT_TRUE(m_am.Initialize(kOwner, &options));
  EXPECT_TRUE(m_am.IsMonitorBasedDR());
  EXPECT_EQ(m_am.GetVAppId(), 0);
  EXPECT_TRUE(m_am.GetVAppGroups().empty());
  EXPECT_EQ(m_am.GetMaxParallelThreadCount(), 7);
  EXPECT_EQ(m_am.GetDelayTimeBeforeSync(), 90);
  EXPECT_EQ(m_am.GetClientID(), kClientId);
  EXPECT_TRUE(Logged("Initiated from Monitor set as [true]"));
}

TEST_F(DRAppManagerTest, GroupJobLoadsItsPriorities) {
  PutGroup(3, true, 2);
  TMMsg::JobOption options = MakeOptions(0, 3);
  ASSERT_TRUE(m_am.Initialize(kOwner, &options));
  EXPECT_EQ(m_am.GetVAppId(), 3);
  ASSERT_EQ(m_am.GetVAppGroups().size(), 2u);
  EXPECT_EQ(m_am.GetVAppGroups()[1].GetInt32(TMMsg::VMGroup::kPriority), 2);
  EXPECT_EQ(m_am.GetUserID(), kOwner);
  EXPECT_TRUE(Logged("Found vApp Id as [3]"));
}

TEST_F(DRAppManagerTest, GroupNotFoundOrWithoutConfigFails) {
  TMMsg::JobOption options = MakeOptions(0, 77);
  EXPECT_FALSE(m_am.Initialize(kOwner, &options));
  EXPECT_TRUE(Logged("Failed to get VApp config for vapp Id [77]"));
  PutGroup(4, false, 0);
  CDRAppManager other;
  TMMsg::JobOption options4 = MakeOptions(0, 4);
  EXPECT_FALSE(other.Initialize(kOwner, &options4));
  EXPECT_TRUE(Logged("vapp config not set"));
}

TEST_F(DRAppManagerTest, EmptyGroupResponseFails) {
  XMLHandler::RegisterHandler(1988615698UL, [](int, std::string& xml, std::string&) {
    xml = "not a reply";
    return 0;
  });
  TMMsg::JobOption options = MakeOptions(0, 3);
  EXPECT_FALSE(m_am.Initialize(kOwner, &options));
  EXPECT_TRUE(Logged("Failed to un-serialize GetVirtualAppResp response"));
  XMLHandler::RegisterHandler(1988615698UL, [](int, std::string& xml, std::string&) {
    xml = "err";
    return 5;
  });
  CDRAppManager other;
  EXPECT_FALSE(other.Initialize(kOwner, &options));
  EXPECT_TRUE(Logged("contacting db for fetching virtual app"));
  CSimulators::Install();
}

TEST_F(DRAppManagerTest, NoGroupEntityStillStarts) {
  TMMsg::JobOption options = MakeOptions(0, 0);
  ASSERT_TRUE(m_am.Initialize(kOwner, &options));
  EXPECT_TRUE(Logged("VApp not found."));
  EXPECT_EQ(m_am.GetVAppId(), 0);
  EXPECT_TRUE(m_am.GetVAppGroups().empty());
}

TEST_F(DRAppManagerTest, ThreadCountAbsentOrEmpty) {
  TMMsg::JobOption options = MakeOptions(0, 0);
  ASSERT_TRUE(m_am.Initialize(kOwner, &options));
  EXPECT_EQ(m_am.GetMaxParallelThreadCount(), 10);
  EXPECT_TRUE(Logged("key missing in DHDB."));
  ASSERT_TRUE(ZNGlobalParam::set(DRPLAN_SETTINGS_PARALLEL_THREAD_COUNT, ""));
  CDRAppManager other;
  ASSERT_TRUE(other.Initialize(kOwner, &options));
  EXPECT_EQ(other.GetMaxParallelThreadCount(), 0);
}

TEST_F(DRAppManagerTest, UnknownLocalClientFails) {
  ZNPlatformInfo::setString("Machine", "PhysicalMachine", "elsewhere");
  TMMsg::JobOption options = MakeOptions(0, 0);
  EXPECT_FALSE(m_am.Initialize(kOwner, &options));
  EXPECT_TRUE(Logged("Couldn't derive local Client and Halden IDs"));
}

TEST_F(DRAppManagerTest, OptionReaders) {
  TMMsg::JobOption options = MakeOptions(0, 0);
  CNMessageBase& dr = options.MutableMsg(TMMsg::JobOption::kBackupOptions)
                          .MutableMsg(TMMsg::BackupOptionFields::kDROrchestrationOption);
  CNMessageBase& info = dr.MutableMsg(TMMsg::DROrchestrationOption::kReplicationInfo);
  info.MutableMsg(ReplInfo::kMonitorEntity).SetInt32(ZnEntities::MonitorEntityFields::kMonitorType, 106);
  info.SetInt32(ReplInfo::kReplicationType, 3);
  CNMessageBase& adv = dr.MutableMsg(TMMsg::DROrchestrationOption::kAdvancedOptions);
  adv.SetInt32(TMMsg::DRAdvancedOptionFields::kDisableNetworkAdapter, 1);
  adv.SetInt32(TMMsg::DRAdvancedOptionFields::kDelayTime, 15);
  adv.SetInt32(TMMsg::DRAdvancedOptionFields::kPowerOnVM, 0);
  ASSERT_TRUE(m_am.Initialize(kOwner, &options));
  EXPECT_EQ(m_am.GetMonitorType(), 0);
  EXPECT_EQ(m_am.GetReplicationType(), 3);
  EXPECT_FALSE(m_am.IsDisableNetworkAdapterAllowed());
  EXPECT_EQ(m_am.GetAdvancedOptsDelay(), 15);
  EXPECT_FALSE(m_am.IsPowerOnVMAllowed());
  LiveReplicationInfo()
      .MutableMsg(ReplInfo::kMonitorEntity)
      .SetInt32(ZnEntities::MonitorEntityFields::kMonitorType, 22);
  EXPECT_EQ(m_am.GetMonitorType(), 2);
  // No ids and no replication group.
  std::vector<int> ids;
  EXPECT_FALSE(m_am.GetReplList(ids));
  EXPECT_TRUE(Logged("Replication group id is not set"));
  LiveReplicationInfo().SetInt32List(ReplInfo::kReplicationIds, {4, 9});
  ASSERT_TRUE(m_am.GetReplList(ids));
  EXPECT_EQ(ids, (std::vector<int>{4, 9}));
}

TEST_F(DRAppManagerTest, StoredProcedureRequestsAndEmail) {
  Api::GenericResp req;
  std::string out;
  EXPECT_FALSE(CDRAppManager::ExecuteStoredProcedure(req, out, 4242424UL));
  EXPECT_TRUE(Logged("Failed to execute sp for message [4242424]"));
  App_ExecuteSP::RegisterHandler(4242424UL, [](const std::string& in, std::string& resp) {
    resp = "echo:" + in.substr(0, 5);
    return 0;
  });
  EXPECT_TRUE(CDRAppManager::ExecuteStoredProcedure(req, out, 4242424UL));
  EXPECT_EQ(out.rfind("echo:", 0), 0u);
  App_ExecuteSP::UnregisterHandler(4242424UL);
}


TEST_F(DRAppManagerTest, ReplicationListFromTheReplicationGroupAndConfigOptions) {
  Sql("INSERT INTO APP_VSAReplication (replicationId, taskId, status) VALUES (21, 8, 1)", "APP_VSAReplication");
  Sql("INSERT INTO APP_VSAReplication (replicationId, taskId, status) VALUES (22, 9, 1)");
  Sql("INSERT INTO APP_VSAReplication (replicationId, taskId, status) VALUES (23, 8, 1)");
  TMMsg::JobOption options = MakeOptions(0, 0);
  CNMessageBase& info = options.MutableMsg(TMMsg::JobOption::kBackupOptions)
                            .MutableMsg(TMMsg::BackupOptionFields::kDROrchestrationOption)
                            .MutableMsg(TMMsg::DROrchestrationOption::kReplicationInfo);
  info.SetInt32(ReplInfo::kReplicationGroupId, 8);
  ASSERT_TRUE(m_am.Initialize(kOwner, &options));
  std::vector<int> ids;
  ASSERT_TRUE(m_am.GetReplList(ids));
  EXPECT_EQ(ids, (std::vector<int>{21, 23}));
  EXPECT_TRUE(Logged("Populating Replication id list from Replication group [8]"));

  // Without replication ids the config options cannot be read; with them
  // the list is taken when present and left alone when absent.
  std::vector<TMMsg::DRConfigOption> configs(1);
  EXPECT_FALSE(m_am.GetReplConfigOptionList(configs));
  EXPECT_TRUE(Logged("Replication info not set OR replication id(s) not found"));
  EXPECT_FALSE(m_am.IsUseSelectiveVMReplicationSet());
  CNMessageBase& live = LiveReplicationInfo();
  live.SetInt32List(ReplInfo::kReplicationIds, {21});
  live.SetInt32(ReplInfo::kSelectiveVMReplication, 1);
  EXPECT_TRUE(m_am.IsUseSelectiveVMReplicationSet());
  ASSERT_TRUE(m_am.GetReplConfigOptionList(configs));
  EXPECT_EQ(configs.size(), 1u);
  live.AddMsg(ReplInfo::kConfigOptions);
  live.AddMsg(ReplInfo::kConfigOptions);
  ASSERT_TRUE(m_am.GetReplConfigOptionList(configs));
  EXPECT_EQ(configs.size(), 2u);

  LiveReplicationInfo().SetInt32(ReplInfo::kReplicationGroupId, 99);
  LiveReplicationInfo().ListClear(ReplInfo::kReplicationIds);
  std::vector<int> none;
  EXPECT_FALSE(m_am.GetReplList(none));
  EXPECT_TRUE(Logged("No Replication ids are associated with Replication group [99]"));
}

}  // namespace
