#include <gtest/gtest.h>

#include "drorch/DRJobManager.h"
#include "engine/GenericDR.h"
#include "engine/SDRPriority.h"
#include "TestDRContext.h"
#include "log/LogSink.h"

namespace {

class Dispatch : public testing::Test {
 protected:
  void SetUp() override { CLogSink::Instance().ClearCapture(); }
  bool RunOne(TMMsg::DROrchestrationType type, int source) {
    CGenericDR dr(type);
    CDRBaseTestPeer::SetJobManager(dr, &m_jm);
    SDRPriority p;
    p.order = 3;
    p.infoSource = static_cast<TMMsg::DROpSourceType>(source);
    return dr.RunPriority(p);
  }
  bool Logged(const std::string& text, const std::string& fn = std::string()) {
    return CLogSink::Instance().Contains(text, fn);
  }
  CDRJobManager m_jm;
};

TEST_F(Dispatch, UnknownInformationSourceFails) {
  EXPECT_FALSE(RunOne(TMMsg::DR_ORCHESTRATION_PLANNED_FAILOVER, 1));
  EXPECT_TRUE(Logged("Unknown Info Source Error", "RunPriority"));
}

TEST_F(Dispatch, EveryVMTypeMakesItsContextAndDestroysIt) {
  const std::pair<TMMsg::DROrchestrationType, const char*> cases[] = {
      {TMMsg::DR_ORCHESTRATION_PLANNED_FAILOVER, "CVSAPlannedFailover"},
      {TMMsg::DR_ORCHESTRATION_FAILBACK, "CVSAFailback"},
      {TMMsg::DR_ORCHESTRATION_UNPLANNED_FAILOVER, "CVSAUnplannedFailover"},
      {TMMsg::DR_ORCHESTRATION_REVERT_FAILOVER, "CVSARevertFailover"},
      {TMMsg::DR_ORCHESTRATION_UNDO_FAILOVER, "CVSAUndoFailover"},
      {TMMsg::DR_ORCHESTRATION_TESTBOOT, "CVSATestboot"},
      {TMMsg::DR_ORCHESTRATION_POINT_IN_TIME_FAILOVER, "CVSAPointInTimeFailover"},
      {TMMsg::DR_ORCHESTRATION_REVERSE_REPLICATION, "CVSAReverseReplication"},
      {TMMsg::DR_ORCHESTRATION_CLEANUP_DESTINATION_VM, "CVSACleanupDestVM"},
      {TMMsg::DR_ORCHESTRATION_TEST_FAILOVER, "CVSATestFailover"},
  };
  for (const auto& c : cases) {
    CLogSink::Instance().ClearCapture();
    // Not built yet: the priority fails, but the context ran its course.
    EXPECT_FALSE(RunOne(c.first, TMMsg::DR_OP_SOURCE_VSA_REPLICATION)) << c.second;
    EXPECT_TRUE(Logged(std::string("Invoking ") + c.second + " destructor")) << c.second;
    EXPECT_TRUE(Logged("Invoking CVSADRBase destructor")) << c.second;
    EXPECT_TRUE(Logged(">>>>>>>>>>> END CLEAN-UP operation >>>>>>>>>>>>>>>> ")) << c.second;
  }
}

TEST_F(Dispatch, VMUndoTestFailoverIsUnknown) {
  EXPECT_FALSE(RunOne(TMMsg::DR_ORCHESTRATION_UNDO_TEST_FAILOVER, TMMsg::DR_OP_SOURCE_VSA_REPLICATION));
  EXPECT_TRUE(Logged("Unknown Type Error", "ProcessVSAReplicationPriority"));
}

TEST_F(Dispatch, StorageArrayTypes) {
  const std::pair<TMMsg::DROrchestrationType, const char*> cases[] = {
      {TMMsg::DR_ORCHESTRATION_PLANNED_FAILOVER, "CSnapArrayPlannedFailover"},
      {TMMsg::DR_ORCHESTRATION_UNPLANNED_FAILOVER, "CSnapArrayUnplannedFailover"},
      {TMMsg::DR_ORCHESTRATION_UNDO_FAILOVER, "CSnapArrayUndoFailover"},
      {TMMsg::DR_ORCHESTRATION_TEST_FAILOVER, "CSnapArrayTestFailover"},
      {TMMsg::DR_ORCHESTRATION_UNDO_TEST_FAILOVER, "CSnapArrayUndoTestFailover"},
  };
  for (const auto& c : cases) {
    CLogSink::Instance().ClearCapture();
    EXPECT_FALSE(RunOne(c.first, TMMsg::DR_OP_SOURCE_SNAP_ARRAY_REPLICATION)) << c.second;
    EXPECT_TRUE(Logged(std::string("Invoking ") + c.second + " destructor")) << c.second;
    EXPECT_TRUE(Logged("Cleaning up VSADRBase obj ...")) << c.second;
    EXPECT_TRUE(Logged("Invoking CAppDRBase destructor")) << c.second;
  }
  CLogSink::Instance().ClearCapture();
  EXPECT_FALSE(RunOne(TMMsg::DR_ORCHESTRATION_FAILBACK, TMMsg::DR_OP_SOURCE_SNAP_ARRAY_REPLICATION));
  EXPECT_TRUE(Logged("Unknown Type Error", "ProcessSnapArrayReplicationPriority"));
}

TEST_F(Dispatch, PhysicalMachinePrioritySucceedsDoingNothing) {
  EXPECT_TRUE(RunOne(TMMsg::DR_ORCHESTRATION_PLANNED_FAILOVER, TMMsg::DR_OP_SOURCE_PHYSICAL_MACHINE));
  EXPECT_TRUE(Logged("Priority [3] is a [Physical Machine] type priority"));
}

TEST_F(Dispatch, DatabasePriorityWithoutAnOracleMachineFails) {
  EXPECT_FALSE(RunOne(TMMsg::DR_ORCHESTRATION_PLANNED_FAILOVER, TMMsg::DR_OP_SOURCE_DB_REPLICATION));
  EXPECT_TRUE(Logged("Priority [3] is a [DB Replication] type priority"));
  EXPECT_FALSE(Logged("COracleDBPlannedFailover"));
}

TEST(Factory, CreatesAGenericOrchestratorAndDeletesIt) {
  CLogSink::Instance().ClearCapture();
  IDROrchestrator* dr = IDROrchestrator::CreateObject(TMMsg::DR_ORCHESTRATION_TEST_FAILOVER);
  ASSERT_NE(nullptr, dr);
  CGenericDR* generic = dynamic_cast<CGenericDR*>(dr);
  ASSERT_NE(nullptr, generic);
  EXPECT_EQ(TMMsg::DR_ORCHESTRATION_TEST_FAILOVER, generic->GetDRType());
  EXPECT_TRUE(generic->ContinueOnFailureToNextPriority());
  EXPECT_EQ(0, generic->GetPriorityDelay());
  IDROrchestrator::DeleteObject(dr);
  EXPECT_TRUE(CLogSink::Instance().Contains("DR Orchestration GenericDR object request", "CreateObject"));
  EXPECT_TRUE(CLogSink::Instance().Contains("Invoked CGenericDR destructor", "~CGenericDR"));
  EXPECT_TRUE(CLogSink::Instance().Contains("Cleaning up VSDR datasources", "~CDRBase"));
  CLogSink::Instance().ClearCapture();
  IDROrchestrator::DeleteObject(nullptr);
  EXPECT_TRUE(CLogSink::Instance().Contains("DR Object D'tor >>>", "DeleteObject"));
}

TEST(Factory, InitializeFailsCleanlyWhenTheApplicationManagerCannotStart) {
  CLogSink::Instance().ClearCapture();
  CDRJobManager jm;
  IDROrchestrator* dr = IDROrchestrator::CreateObject(TMMsg::DR_ORCHESTRATION_PLANNED_FAILOVER);
  DRInitParams params{&jm};
  EXPECT_FALSE(dr->Initialize(params));
  EXPECT_TRUE(CLogSink::Instance().Contains("DRAppManager initialization failed. Exiting.", "Initialize"));
  IDROrchestrator::DeleteObject(dr);
}

}  // namespace
