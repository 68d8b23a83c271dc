// Machine-list helpers and step rules of DRInfoUtils, and the free-memory
// reader they rely on.
#include <gtest/gtest.h>

#include <fstream>

#include "TestStepContext.h"
#include "TestSupport.h"
#include "log/LogSink.h"
#include "time/PlatformClock.h"

namespace {

std::vector<std::string> Queue(const std::map<std::string, std::vector<CDRInfo*>>& ds, int order,
                               std::vector<std::string> start = {}) {
  DRInfoUtils::GetDSQueueByVMCount(ds, start, order);
  return start;
}

TEST(DRMachineLists, DatastoreQueueOrdersByMachineCountWithTiesByName) {
  CDRInfo* x = nullptr;
  std::map<std::string, std::vector<CDRInfo*>> ds = {{"b", {x, x}}, {"a", {x, x}}, {"c", {x}}};
  EXPECT_EQ((std::vector<std::string>{"c", "a", "b"}), Queue(ds, 0));
  EXPECT_EQ((std::vector<std::string>{"a", "b", "c"}), Queue(ds, 1));
  EXPECT_EQ((std::vector<std::string>{"a", "b", "c"}), Queue(ds, 7));
  // Whatever the queue held on entry, every datastore is placed once more.
  EXPECT_EQ((std::vector<std::string>{"old", "c", "a", "b"}), Queue(ds, 0, {"old"}));
  EXPECT_EQ((std::vector<std::string>{"x", "y", "z", "w", "a", "b", "c"}), Queue(ds, 1, {"x", "y", "z", "w"}));
  EXPECT_TRUE(Queue({}, 0).empty());
}

class DRMachineRecords : public testing::Test {
 protected:
  void SetUp() override { CLogSink::Instance().ClearCapture(); }
  CStepTestDR m_dr;
  CStepTestMachines m_machines{m_dr, nullptr, m_dr.GetDRAppMgr()};
};

TEST_F(DRMachineRecords, ListTextsNeedAReplicationSource) {
  std::vector<CDRInfo*> m = m_machines.Add(4, 3);
  EXPECT_EQ("4,5,6", DRInfoUtils::GetReplStr(m));
  EXPECT_EQ("4,5,6", DRInfoUtils::GetDRListStr(m));
  EXPECT_EQ("", DRInfoUtils::GetDRListStr({}));
  EXPECT_EQ("", DRInfoUtils::GetReplStr({}));
  CStepTestMachines physical(m_dr, nullptr, nullptr, 2, TMMsg::DR_OP_SOURCE_PHYSICAL_MACHINE);
  EXPECT_EQ("", DRInfoUtils::GetDRListStr(physical.Add(9, 2)));
}

TEST_F(DRMachineRecords, RecordsWithoutReplicationAnswerNeutrally) {
  CDRInfo* info = m_machines.Add(8, 1).front();
  EXPECT_EQ("", DRInfoUtils::GetSitePropStr(info, DR_SITE_PROPERTY_NAME, Api::DR_SITE_DESTINATION));
  EXPECT_EQ("", DRInfoUtils::GetSitePropStr(nullptr, DR_SITE_PROPERTY_GUID, Api::DR_SITE_SOURCE));
  EXPECT_EQ(0, DRInfoUtils::GetSiteProp(info, DR_SITE_PROPERTY_INSTANCE_ID, Api::DR_SITE_SOURCE));
  EXPECT_EQ(0, DRInfoUtils::GetAppId(info));
  EXPECT_EQ(0, DRInfoUtils::GetAppId(nullptr));
  EXPECT_EQ("", DRInfoUtils::GetDRClientName(info, TMMsg::DR_ORCHESTRATION_FAILBACK));
  EXPECT_EQ("Power on for [] RId [8]", DRInfoUtils::GetDRInfoMesg(info, "Power on", "", Api::DR_SITE_SOURCE));
  EXPECT_EQ("Power on for [] RId [8] - timed out",
            DRInfoUtils::GetDRInfoMesg(info, "Power on", "timed out", Api::DR_SITE_DESTINATION));
  std::set<long> tasks;
  DRInfoUtils::GetTaskIds({info, nullptr}, tasks, false);
  EXPECT_TRUE(tasks.empty());
  std::unordered_map<std::string, CDRInfo*> guids = {{"stale", info}};
  DRInfoUtils::GetGuidToDRInfoMap({info}, Api::DR_SITE_DESTINATION, guids);
  EXPECT_TRUE(guids.empty());
}

TEST_F(DRMachineRecords, SetRunningMarksEveryMachineInProgress) {
  std::vector<CDRInfo*> m = m_machines.Add(1, 2);
  m.push_back(nullptr);
  DRInfoUtils::SetRunning(m);
  EXPECT_FALSE(m[0]->IsSuccess());
  EXPECT_FALSE(m[0]->IsSkipped());
}

TEST_F(DRMachineRecords, ScriptCheckOnAnEmptyListIsTrueAndNamesTheKindOtherwise) {
  SDROperationCtx ctx;
  EXPECT_TRUE(DRInfoUtils::IsScriptExecutionSet(ctx));
  ctx.drInfoList = m_machines.Add(1, 1);
  ctx.preScript = true;
  ctx.site = Api::DR_SITE_DESTINATION;
  EXPECT_FALSE(DRInfoUtils::IsScriptExecutionSet(ctx));
  EXPECT_TRUE(CLogSink::Instance().Contains("No [PRE]-scripts configured on [Destination] vm(s)."));
}

TEST_F(DRMachineRecords, ExpiryWithoutAPolicyStaysNowAndFails) {
  CPlatformClock::Instance().ShiftEpochSeconds(0);
  int expiry = -1;
  CDRInfo* machine = m_machines.Add(1, 1).front();
  const int64_t before = CPlatformClock::Instance().NowEpochSeconds();
  EXPECT_FALSE(DRInfoUtils::GetVMExpirationTime(machine, expiry));
  const int64_t after = CPlatformClock::Instance().NowEpochSeconds();
  EXPECT_GE(expiry, before);
  EXPECT_LE(expiry, after);
  EXPECT_TRUE(CLogSink::Instance().Contains("Failed to VMAllocationPolicy from Target/Task."));
  EXPECT_FALSE(DRInfoUtils::GetVMExpirationTime(nullptr, expiry));
}

class FreeMemory : public testing::Test {
 protected:
  void SetUp() override { m_dir = drtest::MakeTempDir("meminfo"); }
  void TearDown() override {
    CDRAppManager::SetMemInfoPath("");
    drtest::RemoveTree(m_dir);
  }
  void Write(const std::string& text) {
    std::ofstream(m_dir + "/meminfo") << text;
    CDRAppManager::SetMemInfoPath(m_dir + "/meminfo");
  }
  std::string m_dir;
  CDRAppManager m_am;
};

TEST_F(FreeMemory, ReadsAvailableMemoryInMegabytes) {
  Write("MemTotal:       131072000 kB\nMemFree:          1000 kB\nMemAvailable:   67108864 kB\n");
  EXPECT_EQ(65536, m_am.GetFreeMemSizeMB());
  Write("MemAvailable:   1048575 kB\n");
  EXPECT_EQ(1023, m_am.GetFreeMemSizeMB());
}

TEST_F(FreeMemory, UnreadableOrMissingLineGivesTheFallback) {
  Write("MemTotal:       131072000 kB\n");
  EXPECT_EQ(576, m_am.GetFreeMemSizeMB());
  CDRAppManager::SetMemInfoPath(m_dir + "/absent");
  EXPECT_EQ(576, m_am.GetFreeMemSizeMB());
}

TEST_F(FreeMemory, PowerOnGetsItsOwnThreadsOnlyWithEnoughMemory) {
  CStepTestDR dr;
  CStepTestMachines machines(dr, nullptr, &m_am);
  SDROperationCtx ctx;
  ctx.batchOp = ZNDR::BATCH_OP_POWER_ON_PRIMARY;
  Write("MemAvailable:   67108864 kB\n");
  // No machine: no answer but no.
  EXPECT_FALSE(DRInfoUtils::IsVMOpThreadApplicable(ctx, TMMsg::DR_REPLICATION_TYPE_NONE));
  ctx.drInfoList = machines.Add(1, 1);
  EXPECT_TRUE(DRInfoUtils::IsVMOpThreadApplicable(ctx, TMMsg::DR_REPLICATION_TYPE_NONE));
  EXPECT_FALSE(DRInfoUtils::IsVMOpThreadApplicable(ctx, TMMsg::DR_REPLICATION_TYPE_SNAP_ARRAY));
  ctx.batchOp = ZNDR::BATCH_OP_POWER_ON_SECONDARY;
  EXPECT_FALSE(DRInfoUtils::IsVMOpThreadApplicable(ctx, TMMsg::DR_REPLICATION_TYPE_NONE));
  ctx.batchOp = ZNDR::BATCH_OP_POWER_ON_PRIMARY;
  Write("MemAvailable:   67107840 kB\n");  // 65535 MB
  EXPECT_FALSE(DRInfoUtils::IsVMOpThreadApplicable(ctx, TMMsg::DR_REPLICATION_TYPE_NONE));
}

// The vendor table of the VM-operation skip rule, over vendors, sites, DR
// types, snapshot types and the create-DR-VM option.
TEST(DRStepRules, VendorTableOfTheSkipRule) {
  struct SCase {
    int vendor;
    int site;
    int drType;
    int snapType;
    bool option;
    std::set<int> skipped;
  };
  const int planned = TMMsg::DR_ORCHESTRATION_PLANNED_FAILOVER;
  const int failback = TMMsg::DR_ORCHESTRATION_FAILBACK;
  const SCase cases[] = {
      {4, 0, planned, 1, false, {3, 15}},
      {19, 1, planned, 1, true, {3, 15}},
      {5, 0, planned, 2, true, {15}},
      {7, 0, failback, 1, true, {15}},
      {17, 1, planned, 1, false, {15}},
      {5, 1, planned, 1, true, {10, 15, 16, 29}},
      {7, 1, failback, 1, true, {3, 10, 15, 16, 29}},
      {17, 1, planned, 2, false, {3, 15}},
      {12, 1, planned, 1, false, {3, 10, 15, 29}},
      {12, 1, failback, 1, true, {3, 15}},
      {12, 0, planned, 1, false, {3, 15}},
      {16, 0, planned, 1, true, {3}},
      {16, 0, planned, 2, false, {3, 15}},
      {16, 1, planned, 1, true, {3, 10, 16, 29}},
      {16, 1, planned, 1, false, {3}},
      {1, 1, planned, 2, true, {}},
      {2, 1, planned, 2, true, {}},
      {0, 0, planned, 1, true, {}},
      {21, 1, planned, 2, true, {}},
  };
  const int ops[] = {3, 10, 15, 16, 29};
  for (const SCase& c : cases) {
    SDROperationCtx ctx;
    ctx.site = static_cast<Api::DRSite>(c.site);
    ctx.snapType = c.snapType;
    for (int op : ops) {
      bool skipped = DRInfoUtils::CanSkipVMOpForVendor(static_cast<TMMsg::VMOperationType>(op),
                                                       static_cast<TMMsg::DROrchestrationType>(c.drType), ctx,
                                                       c.vendor, c.option);
      EXPECT_EQ(c.skipped.count(op) != 0, skipped)
          << "vendor " << c.vendor << " site " << c.site << " type " << c.drType << " snap " << c.snapType
          << " option " << c.option << " op " << op;
    }
  }
}

TEST(DRStepRules, VendorFamilies) {
  EXPECT_TRUE(DRInfoUtils::IsVendorOfFamily(5, 5));
  EXPECT_TRUE(DRInfoUtils::IsVendorOfFamily(7, 5));
  EXPECT_TRUE(DRInfoUtils::IsVendorOfFamily(17, 5));
  EXPECT_FALSE(DRInfoUtils::IsVendorOfFamily(5, 7));
  EXPECT_TRUE(DRInfoUtils::IsVendorOfFamily(7, 7));
  EXPECT_FALSE(DRInfoUtils::IsVendorOfFamily(17, 7));
  EXPECT_FALSE(DRInfoUtils::IsVendorOfFamily(4, 5));
}

}  // namespace
