// Subclient groups of a priority over real records: the inline single group,
// groups that cannot be formed, invalid application ids and the group start.
#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <vector>

#include "engine/DRDataSource.h"
#include "engine/DRInfo.h"
#include "DRRecordsTestSupport.h"
#include "engine/SDRInfoCtx.h"
#include "TestStepContext.h"
#include "log/LogSink.h"

namespace {

class SubclientGroups : public CDRRecordsTestBase {
 protected:
  void SetUp() override {
    CDRRecordsTestBase::SetUp();
    StartJob(JobOptions(false));
    CDRBaseTestPeer::SetJobManager(m_dr, m_jm.get());
    CDRBaseTestPeer::SetJobId(m_dr, kJob);
    m_priority.order = 1;
  }
  // One stored replication per entry of appIds (ids 71, 72, ...), each in
  // the subclient given; the records join the orchestrator in that order.
  std::vector<CDRInfo*> Build(const std::vector<int>& appIds) {
    SDataSourceInfo info;
    info.jobId = kJob;
    info.drGroupId = kGroup;
    info.drType = TMMsg::DR_ORCHESTRATION_PLANNED_FAILOVER;
    for (size_t i = 0; i < appIds.size(); ++i) {
      const int id = 71 + static_cast<int>(i);
      App::VSAReplicationInfo repl = Repl(id);
      repl.MutableMsg(App::VSAReplicationInfo::kSubclient)
          .SetInt32(ZnEntities::SubClientEntity::kSubclientId, appIds[i]);
      StoreRepl(repl);
      info.replIds.push_back(id);
    }
    m_source.reset(new CDRDataSource(info));
    EXPECT_TRUE(m_source->IsDataLoaded());
    m_priority.replIds = info.replIds;
    std::vector<CDRInfo*> out;
    for (int32_t id : info.replIds) {
      SDataSourceInfo one = info;
      one.replId = id;
      SDRInfoCtx ctx(m_source.get(), one, m_priority);
      ctx.drType = info.drType;
      ctx.jobManager = m_jm.get();
      ctx.appManager = m_dr.GetDRAppMgr();
      CDRInfo* record = new CDRInfo(ctx);
      CDRBaseTestPeer::AddInfo(m_dr, record);
      out.push_back(record);
    }
    return out;
  }

  CStepTestDR m_dr;
  CStepTestContext m_context{m_dr};
  SDRPriority m_priority;
  // Declared last: the records the orchestrator owns point to it, and the
  // orchestrator goes first.
  std::unique_ptr<CDRDataSource> m_source;
};

TEST_F(SubclientGroups, OneGroupRunsInlineAndLeavesItsSuccessFlagUnset) {
  Build({11, 11});
  std::vector<SDROSubclient> groups;
  EXPECT_TRUE(m_dr.ProcessSubclientsInPriority(m_priority, groups, &m_context));
  ASSERT_EQ(1u, groups.size());
  EXPECT_FALSE(groups[0].IsSuccess());
  EXPECT_FALSE(CLogSink::Instance().Contains("Initialized thread pool"));
  EXPECT_TRUE(CLogSink::Instance().Contains("Starting DR subclient ops for appId [11]", "ProcessSubclientsInPriority"));
  EXPECT_TRUE(CLogSink::Instance().Contains("Finished DR subclient ops for appId [11]", "ProcessSubclientsInPriority"));
  std::vector<SDROperationCtx> seen = m_context.BodyContexts();
  ASSERT_EQ(1u, seen.size());
  EXPECT_EQ(&groups[0], seen[0].subclient);
  EXPECT_EQ(groups[0].GetInputList(), seen[0].drInfoList);

  // The inline outcome alone decides the result.
  CStepTestContext failing(m_dr);
  failing.failIds = {11};
  std::vector<SDROSubclient> again;
  EXPECT_FALSE(m_dr.ProcessSubclientsInPriority(m_priority, again, &failing));
}

TEST_F(SubclientGroups, AnApplicationLeftWithOnlyPendingMachinesFailsTheGrouping) {
  std::vector<CDRInfo*> m = Build({12, 11, 13, 12});
  // Subclient 12 is eligible but every machine of it waits.
  m[0]->SetStatus(Api::VIRTUAL_APP_PHASE_STATE_PENDING);
  m[3]->SetStatus(Api::VIRTUAL_APP_PHASE_STATE_PENDING);
  std::vector<SDROSubclient> groups;
  EXPECT_FALSE(m_dr.GetSubclientsForPriority(m_priority, groups, &m_context));
  // Ids go in ascending order: 11 was built before 12 stopped the walk.
  ASSERT_EQ(1u, groups.size());
  EXPECT_EQ(11, groups[0].GetAppId());
  EXPECT_EQ("72", DRInfoUtils::GetReplStr(groups[0].GetInputList()));
  EXPECT_FALSE(m_dr.ProcessSubclientsInPriority(m_priority, groups, &m_context));
  EXPECT_TRUE(m_context.Bodies().empty());
}

TEST_F(SubclientGroups, IneligibleMachinesEndSkippedAndInvalidAppIdsStopThePreparation) {
  std::vector<CDRInfo*> m = Build({11, 14, 0, 12});
  m_context.MarkIneligible(72);
  std::set<int> appIds;
  EXPECT_FALSE(m_dr.PrepareEligibleSubclientsForPriority(m_priority, appIds, &m_context));
  EXPECT_TRUE(CLogSink::Instance().Contains("Invalid AppId [0]", "PrepareEligibleSubclientsForPriority"));
  EXPECT_EQ((std::set<int>{11}), appIds);
  EXPECT_TRUE(m[1]->IsSkipped());
  // The walk stopped at the invalid id: the machine after it is untouched.
  EXPECT_FALSE(m[3]->IsSkipped());

  // The grouping ignores that failure and groups what was gathered.
  std::vector<SDROSubclient> groups;
  EXPECT_TRUE(m_dr.GetSubclientsForPriority(m_priority, groups, &m_context));
  ASSERT_EQ(1u, groups.size());
  EXPECT_EQ(11, groups[0].GetAppId());
}

TEST_F(SubclientGroups, GroupStartSetsEveryInputMachineRunning) {
  std::vector<CDRInfo*> m = Build({11, 11});
  App::VSAReplicationInfo before, before71;
  ASSERT_TRUE(CReplicationStore::Get(72, before));
  ASSERT_TRUE(CReplicationStore::Get(71, before71));
  SDROSubclient group(1, 11);
  group.Init({m[1]});
  SDROperationCtx ctx;
  ctx.subclient = &group;
  EXPECT_TRUE(m_dr.InitDRSubclient(ctx));
  EXPECT_TRUE(CLogSink::Instance().Contains(
      "Beginning subclient[id =11] operations for vms in replication list [72]", "InitDRSubclient"));
  // IN-PROGRESS reached the stored replication of the group's machine only.
  App::VSAReplicationInfo after, untouched;
  ASSERT_TRUE(CReplicationStore::Get(72, after));
  EXPECT_NE(Xml(before), Xml(after));
  ASSERT_TRUE(CReplicationStore::Get(71, untouched));
  EXPECT_EQ(Xml(before71), Xml(untouched));
}

}  // namespace
