// Building the priority queue: sub-priorities by information source and
// group priority, the boot-ordered and monitor-based queues, and whole
// Initialize runs over stored VM replications, failures included.
#include <algorithm>
#include <map>
#include <memory>

#include "engine/DRDataSource.h"
#include "drorch/DRInitParams.h"
#include "engine/DRInfo.h"
#include "engine/GenericDR.h"
#include "engine/IRepInfo.h"
#include "engine/SDRPriority.h"
#include "engine/DRRecordsTestSupport.h"
#include "engine/TestDRContext.h"

class CDRBasePriorityQueueTestPeer {
 public:
  static bool InitApp(CDRBase& dr, CDRJobManager& jm) {
    dr.m_jobManager = &jm;
    dr.m_jobId = jm.GetJobId();
    return dr.m_appManager.Initialize(jm.GetUserID(), &jm.GetJobOptions());
  }
  static bool Generate(CDRBase& dr) { return dr.GenerateSDRPriority(); }
  static bool SetInfoSource(CDRBase& dr, SDRPriority& p) { return dr.SetInfoSource(p); }
  static bool Monitor(CDRBase& dr) { return dr.InitMonitorBasedInvocation(); }
  static const std::vector<SDRPriority*>& Created(CDRBase& dr) { return dr.m_priorities; }
  static const std::map<int32_t, std::vector<SDRPriority*>>& Queue(CDRBase& dr) { return dr.m_priorityQueue; }
  static std::vector<CDRInfo*> Machines(CDRBase& dr) {
    std::vector<CDRInfo*> out;
    for (IDRBaseInfo* info : dr.m_drInfoList) out.push_back(dynamic_cast<CDRInfo*>(info));
    return out;
  }
  static size_t DataSources(CDRBase& dr) { return dr.m_dataSources.size(); }
  // A record of another kind ahead of the machine records; the orchestrator
  // owns it.
  static void PrependInfo(CDRBase& dr, IDRBaseInfo* info) {
    dr.AdoptInfo(info);
    std::rotate(dr.m_drInfoList.begin(), dr.m_drInfoList.end() - 1, dr.m_drInfoList.end());
  }
};

namespace {

typedef CDRBasePriorityQueueTestPeer QueuePeer;

class PriorityQueueTest : public CDRRecordsTestBase {
 protected:
  // The orchestrator with its application manager started on the job's
  // options (no queue built yet).
  CGenericDR& Prepared(const TMMsg::JobOption& options,
                       TMMsg::DROrchestrationType type = TMMsg::DR_ORCHESTRATION_PLANNED_FAILOVER) {
    StartJob(options);
    m_dr.reset(new CGenericDR(type));
    EXPECT_TRUE(QueuePeer::InitApp(*m_dr, *m_jm));
    return *m_dr;
  }
  bool Initialize(const TMMsg::JobOption& options,
                  TMMsg::DROrchestrationType type = TMMsg::DR_ORCHESTRATION_PLANNED_FAILOVER) {
    StartJob(options);
    m_dr.reset(new CGenericDR(type));
    DRInitParams params{m_jm.get()};
    return m_dr->Initialize(params);
  }
  static std::vector<int64_t> ReplIdsOf(const SDRPriority& p) {
    std::vector<int64_t> ids;
    for (size_t i = 0; i < p.vmGroup.ListSize(TMMsg::VMGroup::kVMSequence); ++i)
      ids.push_back(
          p.vmGroup.GetListMsg(TMMsg::VMGroup::kVMSequence, i).GetInt64(TMMsg::VMDependencyOrder::kReplicationId));
    return ids;
  }

  std::unique_ptr<CGenericDR> m_dr;
};

TEST_F(PriorityQueueTest, SubPrioritiesPerInformationSourceAndGroupPriority) {
  PutGroup({Group(1, {Entry(1, 0)}, 3, 0), Group(1, {Entry(2, 2)}, 9, 1), Group(2, {Entry(3)}, 5, 1),
            Group(1, {Entry(4, 0)}, 7, 1)});
  CGenericDR& dr = Prepared(JobOptions(false));
  ASSERT_TRUE(QueuePeer::Generate(dr));

  const std::vector<SDRPriority*>& made = QueuePeer::Created(dr);
  ASSERT_EQ(3u, made.size());
  // 0_1 takes the entries of both its groups and the first group's settings.
  EXPECT_EQ(1, made[0]->order);
  EXPECT_EQ((std::vector<int64_t>{1, 4}), ReplIdsOf(*made[0]));
  EXPECT_EQ(3, made[0]->vmGroup.GetInt32(TMMsg::VMGroup::kDelayMinutes));
  EXPECT_EQ(0, made[0]->vmGroup.GetInt32(TMMsg::VMGroup::kContinueOnFailure));
  EXPECT_EQ(1, made[1]->order);
  EXPECT_EQ((std::vector<int64_t>{2}), ReplIdsOf(*made[1]));
  EXPECT_EQ(2, made[2]->order);
  EXPECT_EQ((std::vector<int64_t>{3}), ReplIdsOf(*made[2]));
  EXPECT_TRUE(Logged("Extracted [3] sub-priorities from DRGroup configuration"));

  for (SDRPriority* p : made) QueuePeer::SetInfoSource(dr, *p);
  EXPECT_EQ(TMMsg::DR_OP_SOURCE_VSA_REPLICATION, made[0]->infoSource);
  EXPECT_EQ(TMMsg::DR_OP_SOURCE_DB_REPLICATION, made[1]->infoSource);
  // An entry without field 10 counts as VM replication.
  EXPECT_EQ(TMMsg::DR_OP_SOURCE_VSA_REPLICATION, made[2]->infoSource);
}

TEST_F(PriorityQueueTest, StorageArrayReplicationMakesEverySourceStorageArray) {
  PutGroup({Group(1, {Entry(1, 0)})});
  CGenericDR& dr = Prepared(JobOptions(false, {}, TMMsg::DR_REPLICATION_TYPE_SNAP_ARRAY));
  SDRPriority p;
  p.vmGroup = Group(1, {Entry(1, 2)});
  EXPECT_TRUE(QueuePeer::SetInfoSource(dr, p));
  EXPECT_EQ(TMMsg::DR_OP_SOURCE_SNAP_ARRAY_REPLICATION, p.infoSource);
}

TEST_F(PriorityQueueTest, GroupWithoutVmSequenceFailsBothWays) {
  TMMsg::VMGroup bare;
  bare.SetInt32(TMMsg::VMGroup::kPriority, 2);
  PutGroup({Group(1, {Entry(1)}), bare});
  CGenericDR& dr = Prepared(JobOptions(false));
  EXPECT_FALSE(QueuePeer::Generate(dr));
  EXPECT_TRUE(QueuePeer::Created(dr).empty());
  EXPECT_TRUE(Logged("VmSequence not set for one or more groups. Exiting"));

  CLogSink::Instance().ClearCapture();
  CGenericDR& boot = Prepared(JobOptions(false, {}, TMMsg::DR_REPLICATION_TYPE_SNAP_ARRAY));
  EXPECT_FALSE(QueuePeer::Generate(boot));
  EXPECT_TRUE(QueuePeer::Created(boot).empty());
  EXPECT_TRUE(Logged("VmSequence not set for one or more groups. Exiting"));
}

TEST_F(PriorityQueueTest, BootOrderQueueKeepsTheSelectedVMsStampedWithTheirGroupsPriority) {
  PutGroup({Group(1, {Entry(1), Entry(2)}, 4, 0), Group(3, {Entry(3), Entry(5)}, 8, 1)});
  CGenericDR& dr = Prepared(JobOptions(false, {1, 3, 5}, TMMsg::DR_REPLICATION_TYPE_SNAP_ARRAY, true));
  ASSERT_TRUE(QueuePeer::Generate(dr));

  ASSERT_EQ(1u, QueuePeer::Created(dr).size());
  const SDRPriority& p = *QueuePeer::Created(dr)[0];
  EXPECT_EQ(0, p.order);
  EXPECT_EQ(kGroup, p.drGroupId);
  EXPECT_EQ((std::vector<int64_t>{1, 3, 5}), ReplIdsOf(p));
  EXPECT_EQ(4, p.vmGroup.GetInt32(TMMsg::VMGroup::kDelayMinutes));
  EXPECT_EQ(0, p.vmGroup.GetInt32(TMMsg::VMGroup::kContinueOnFailure));
  EXPECT_EQ(0, p.vmGroup.GetInt32(TMMsg::VMGroup::kPriority));
  std::map<int32_t, std::vector<TMMsg::VMDependencyOrder>> boot;
  dr.GetBootMap(p, boot);
  ASSERT_EQ(2u, boot.size());
  EXPECT_EQ(1u, boot[1].size());
  EXPECT_EQ(2u, boot[3].size());
  EXPECT_EQ(5, boot[3][1].GetInt64(TMMsg::VMDependencyOrder::kReplicationId));
  EXPECT_TRUE(Logged("VM vm3" + std::string(22, ' ') + " => Priority list order [3]"));
}

TEST_F(PriorityQueueTest, MonitorBasedRunBuildsOnePriorityUnderOrderZero) {
  for (int id : {7, 8}) StoreRepl(Repl(id));
  CGenericDR& dr = Prepared(JobOptions(true, {7, 8}));
  ASSERT_TRUE(QueuePeer::Monitor(dr));
  ASSERT_EQ(1u, QueuePeer::Queue(dr).size());
  ASSERT_EQ(1u, QueuePeer::Queue(dr).at(0).size());
  const SDRPriority& p = *QueuePeer::Queue(dr).at(0)[0];
  EXPECT_EQ(TMMsg::DR_OP_SOURCE_VSA_REPLICATION, p.infoSource);
  EXPECT_EQ((std::vector<int32_t>{7, 8}), p.replIds);
  EXPECT_EQ(2u, QueuePeer::Machines(dr).size());
}

TEST_F(PriorityQueueTest, DatabaseMonitorGivesADatabasePriorityWhoseDataCannotLoadYet) {
  CGenericDR& dr = Prepared(JobOptions(true, {7}, 0, false, 22));
  EXPECT_FALSE(QueuePeer::Monitor(dr));
  ASSERT_EQ(1u, QueuePeer::Created(dr).size());
  EXPECT_EQ(TMMsg::DR_OP_SOURCE_DB_REPLICATION, QueuePeer::Created(dr)[0]->infoSource);
  EXPECT_TRUE(Logged("Found Info Source for Monitor invocation as [DB Replication]"));
  EXPECT_TRUE(Logged("Error in loading data for priority [0] "));
  // The data source that could not load was freed, not kept.
  EXPECT_EQ(0u, QueuePeer::DataSources(dr));
  EXPECT_TRUE(QueuePeer::Queue(dr).empty());
}

TEST_F(PriorityQueueTest, InitializeBuildsTheQueueWithItsMachineRecords) {
  for (int id : {1, 2, 3}) StoreRepl(Repl(id));
  PutGroup({Group(1, {Entry(1, 0), Entry(2, 0)}), Group(2, {Entry(3, 0)})});
  ASSERT_TRUE(Initialize(JobOptions(false)));

  EXPECT_TRUE(Logged("Initiated from Monitor set as [false]. Starting Group based DR"));
  EXPECT_TRUE(Logged("DR Priority-Queue initialized with [2] member(s)"));
  EXPECT_TRUE(Logged("Successfully setup [Replication] datasource for priority [2]"));
  ASSERT_EQ(2u, QueuePeer::Queue(*m_dr).size());
  EXPECT_EQ(2u, QueuePeer::DataSources(*m_dr));
  std::vector<CDRInfo*> machines = QueuePeer::Machines(*m_dr);
  ASSERT_EQ(3u, machines.size());
  EXPECT_EQ("1:1", machines[0]->GetId());
  EXPECT_EQ("2:3", machines[2]->GetId());
  EXPECT_EQ(106, machines[0]->GetRepInfo()->GetApplicationId());
  EXPECT_EQ(machines[0]->getDataSource(), QueuePeer::Queue(*m_dr).at(1)[0]->dataSource);
}

TEST_F(PriorityQueueTest, ReplicationFailingItsPreChecksIsLeftOut) {
  StoreRepl(Repl(1, 0));
  StoreRepl(Repl(2, 5));
  PutGroup({Group(1, {Entry(1, 0), Entry(2, 0)})});
  ASSERT_TRUE(Initialize(JobOptions(false)));
  EXPECT_TRUE(Logged("Pre-checks failed for repl [1]"));
  ASSERT_EQ(1u, QueuePeer::Machines(*m_dr).size());
  EXPECT_EQ(2, QueuePeer::Machines(*m_dr)[0]->GetReplId());
}

TEST_F(PriorityQueueTest, PriorityWhoseReplicationsAllFailPreChecksFailsInitialize) {
  StoreRepl(Repl(1));
  StoreRepl(Repl(2, 0));
  StoreRepl(Repl(3, 0));
  PutGroup({Group(1, {Entry(1, 0)}), Group(2, {Entry(2, 0), Entry(3, 0)})});
  EXPECT_FALSE(Initialize(JobOptions(false)));
  EXPECT_TRUE(Logged("Pre-checks failed for repl [2]"));
  EXPECT_TRUE(Logged("Pre-checks failed for repl [3]"));
  EXPECT_TRUE(Logged("Error setting up CDRInfo for priority [2] "));
  // What was built stays until the orchestrator is destroyed.
  EXPECT_EQ(1u, QueuePeer::Queue(*m_dr).size());
  EXPECT_EQ(2u, QueuePeer::Created(*m_dr).size());
  EXPECT_EQ(1u, QueuePeer::Machines(*m_dr).size());
}

TEST_F(PriorityQueueTest, CleanupOfDestinationVMsSkipsThePreChecks) {
  StoreRepl(Repl(1, 0));
  PutGroup({Group(1, {Entry(1, 0)})});
  ASSERT_TRUE(Initialize(JobOptions(false), TMMsg::DR_ORCHESTRATION_CLEANUP_DESTINATION_VM));
  EXPECT_EQ(1u, QueuePeer::Machines(*m_dr).size());
}

TEST_F(PriorityQueueTest, MissingReplicationRecordFailsThePriority) {
  StoreRepl(Repl(1));
  PutGroup({Group(1, {Entry(1, 0), Entry(2, 0)}), Group(2, {Entry(3, 0)})});
  EXPECT_FALSE(Initialize(JobOptions(false)));
  EXPECT_TRUE(Logged("Error setting up CDRInfo for priority [1] "));
  // The record made before the missing one stays; priority 2 was never built.
  EXPECT_EQ(1u, QueuePeer::Machines(*m_dr).size());
  EXPECT_TRUE(QueuePeer::Queue(*m_dr).empty());
  EXPECT_EQ(2u, QueuePeer::Created(*m_dr).size());
}

TEST_F(PriorityQueueTest, DatabasePriorityCannotLoadAndNothingLeaks) {
  StoreRepl(Repl(1));
  PutGroup({Group(1, {Entry(1, 0)}), Group(2, {Entry(2, 2)})});
  EXPECT_FALSE(Initialize(JobOptions(false)));
  EXPECT_TRUE(Logged("Error in loading data for priority [2] "));
  EXPECT_EQ(1u, QueuePeer::DataSources(*m_dr));
  EXPECT_EQ(1u, QueuePeer::Queue(*m_dr).size());
}

TEST_F(PriorityQueueTest, GroupWithAnEmptyVmSequenceMakesNoPriority) {
  PutGroup({Group(1, {})});
  EXPECT_TRUE(Initialize(JobOptions(false)));
  EXPECT_TRUE(Logged("DR Priority-Queue initialized with [0] member(s)"));
  EXPECT_TRUE(QueuePeer::Created(*m_dr).empty());
}

TEST_F(PriorityQueueTest, ApplicationIdComesFromThePrioritysOwnMachineOfItsSource) {
  for (int id : {1, 2, 3}) StoreRepl(Repl(id));
  PutGroup({Group(1, {Entry(1, 0), Entry(2, 0)}), Group(2, {Entry(3, 0)})});
  ASSERT_TRUE(Initialize(JobOptions(false)));
  SDRPriority& second = *QueuePeer::Queue(*m_dr).at(2)[0];
  EXPECT_EQ(106, m_dr->GetApplicationId(second));

  // Replications outside the run, or a source the machines do not have.
  SDRPriority stranger;
  stranger.replIds = {99};
  EXPECT_EQ(0, m_dr->GetApplicationId(stranger));
  SDRPriority database;
  database.infoSource = TMMsg::DR_OP_SOURCE_DB_REPLICATION;
  database.replIds = {3};
  EXPECT_EQ(0, m_dr->GetApplicationId(database));
  SDRPriority physical;
  physical.infoSource = TMMsg::DR_OP_SOURCE_PHYSICAL_MACHINE;
  physical.replIds = {3};
  EXPECT_EQ(0, m_dr->GetApplicationId(physical));

  // A record that is not a replication machine ends the walk.
  QueuePeer::PrependInfo(*m_dr, new CTestDRInfo(true, false, false));
  EXPECT_EQ(0, m_dr->GetApplicationId(second));
}

TEST_F(PriorityQueueTest, DatabasePriorityOfANonOracleMachineFailsEvenInACleanupRun) {
  StoreRepl(Repl(1));
  PutGroup({Group(1, {Entry(1, 0)})});
  ASSERT_TRUE(Initialize(JobOptions(false)));
  SDRPriority& priority = *QueuePeer::Queue(*m_dr).at(1)[0];
  // The machine now counts as a database replication with application id 106.
  priority.infoSource = TMMsg::DR_OP_SOURCE_DB_REPLICATION;
  ASSERT_EQ(106, m_dr->GetApplicationId(priority));
  m_jm->SetDRJobCleanupPhase(true);
  CLogSink::Instance().ClearCapture();

  EXPECT_FALSE(m_dr->RunPriority(priority));
  EXPECT_TRUE(Logged("Priority [1] is a [DB Replication] type priority"));
  EXPECT_FALSE(Logged("COracleDBPlannedFailover"));
  EXPECT_FALSE(Logged("CLEAN-UP operation"));
}

}  // namespace
