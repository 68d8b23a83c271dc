// The replication step of the VM DR context through the engine on the lab:
// the waits before a sync, the decision, the sync jobs started and waited
// on, each VM's judgement and what the sync carried to the DR VMs.
#include <algorithm>
#include <atomic>
#include <string>
#include <vector>

#include "Phases.h"
#include "VSALabFixture.h"
#include "core/HandlerRegistry.h"
#include "db/App_ExecuteSP.h"
#include "tasksim/TaskManagerSim.h"
#include "time/PlatformClock.h"

namespace {

using namespace vsasteps;

using drtest::kReplicationPhase;
using drtest::kSuccess;
using drtest::kFailed;

class VSASync : public CVSALabFixture {
 protected:
  void TearDown() override {
    CTaskManagerSim::SetSyncStartFault(ESyncStartFault::kNone);
    CVSALabFixture::TearDown();
  }
  // The sync jobs the DR job's steps started (a schedule's have no parent
  // either, so they are told apart by the ones the test started).
  static std::vector<SChildJobRecord> Syncs() { return ChildJobs(EChildJobType::kSync); }
  static std::vector<CDRInfo*> Output(CVSAStepTestContext& context) {
    return context.Group(kFirstSubclient)->outputList;
  }
  static std::string Ids(const std::vector<CDRInfo*>& list) { return DRInfoUtils::GetReplStr(list); }
  static void LastSynced(int replicationId, long long jobId) {
    Change(replicationId,
           [jobId](App::VSAReplicationInfo& r) { r.SetInt64(App::VSAReplicationInfo::kLastSyncedBackupJobId, jobId); });
  }
  static void SyncStatus(int replicationId, App::VSAReplicationStatus status) {
    Change(replicationId,
           [status](App::VSAReplicationInfo& r) { r.SetInt32(App::VSAReplicationInfo::kSyncStatus, status); });
  }
};

TEST_F(VSASync, UpToDateVMsNeedNoSyncAfterTheDelayBeforeSync) {
  Seed();
  struct {
    int delaySeconds;
    unsigned long long waitMs;
  } cases[] = {{60, 60000}, {10, 10000}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.delaySeconds);
    m_dr->GetDRAppMgr()->SetDelayTimeBeforeSync(c.delaySeconds);
    CPlatformClock::Instance().ClearRecords();
    EXPECT_TRUE(RunSteps({Replicate()}));
    EXPECT_EQ(1u, CPlatformClock::Instance().CountWaits(c.waitMs, "DRJobManager"));
    EXPECT_TRUE(Logged("[Wait before querying running sync jobs]. Checking back in [" + std::to_string(c.delaySeconds) +
                       "] seconds"));
    EXPECT_TRUE(Syncs().empty());
    EXPECT_EQ("101,102,103", Ids(Output(Context())));
    for (int id : {101, 102, 103}) EXPECT_EQ(kSuccess, RowOf(id, kReplicationPhase).status) << id;
  }
  EXPECT_TRUE(Logged("No sync required for vms in list [101,102,103] as vm status is [IN SYNC]"));
}

TEST_F(VSASync, OneVMBehindTheGroupsBackupSyncsTheTaskGroupAndCarriesTheContent) {
  Seed();
  for (int id : {101, 102, 103})
    ASSERT_EQ(EStoreResult::kOk, CHypervisorLab::BumpContent(kSourceInstance, VM(id).sourceGuid));
  SJobFaults faults;
  faults.flags = kFaultSyncFailed;
  faults.replicationIds = {103};
  ASSERT_TRUE(CJobSimulator::SetNextJobFaults(EChildJobType::kSync, faults));
  // After the backup, 101 and 102 count as having replicated it; 102 does
  // not.
  ASSERT_TRUE(RunSteps({Backup(),
                        Do("synced",
                           [](CVSAStepTestContext&, SDROperationCtx&) {
                             LastSynced(101, 1LL << 40);
                             LastSynced(103, 1LL << 40);
                             return true;
                           }),
                        Replicate()}));
  const std::vector<SChildJobRecord> syncs = Syncs();
  ASSERT_EQ(1u, syncs.size());
  EXPECT_EQ(kFirstTask, syncs[0].taskId);
  EXPECT_EQ((std::vector<int>{101, 102, 103}), syncs[0].replicationIds);
  EXPECT_EQ(kSuccess, RowOf(101, kReplicationPhase).status);
  EXPECT_EQ(kSuccess, RowOf(102, kReplicationPhase).status);
  EXPECT_EQ(syncs[0].jobId, JobOf(RowOf(102, kReplicationPhase)));
  // The replication the sync failed is judged by its status and handed on.
  EXPECT_EQ(kFailed, RowOf(103, kReplicationPhase).status);
  EXPECT_EQ("VM sync status is [Sync Failed] after attempting replication.", MessageOf(RowOf(103, kReplicationPhase)));
  EXPECT_EQ((std::vector<int>{103}), Context().SyncFailures());
  EXPECT_EQ("101,102", Ids(Output(Context())));
  // The DR VMs hold what their sources held at the backup.
  for (int id : {101, 102}) EXPECT_EQ(SourceVM(id).content, DRVM(id).content) << id;
  EXPECT_NE(SourceVM(103).content, DRVM(103).content);
  EXPECT_TRUE(Logged("Replications that succeeded sync for job [" + std::to_string(syncs[0].jobId) + "] - [101,102]"));
}

TEST_F(VSASync, BucketedSyncJobsAreWaitedOnInOrderAndJudgedUnderTheDRJob) {
  SVSALabSpec spec;
  spec.jobBucketing = 2;
  Seed(spec);
  ASSERT_TRUE(RunSteps({Backup(), Replicate()}));
  const std::vector<SChildJobRecord> syncs = Syncs();
  ASSERT_EQ(2u, syncs.size());
  EXPECT_EQ((std::vector<int>{101, 102}), syncs[0].replicationIds);
  EXPECT_EQ((std::vector<int>{103}), syncs[1].replicationIds);
  size_t first = 0, second = 0;
  const std::vector<SLogLine> lines = CLogSink::Instance().Captured();
  for (size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].text == "Waiting for sync job [" + std::to_string(syncs[0].jobId) + "] to finish") first = i;
    if (lines[i].text == "Waiting for sync job [" + std::to_string(syncs[1].jobId) + "] to finish") second = i;
  }
  ASSERT_NE(0u, first);
  EXPECT_GT(second, first);
  for (int id : {101, 102, 103}) {
    EXPECT_EQ(kSuccess, RowOf(id, kReplicationPhase).status) << id;
    EXPECT_EQ(kJob, JobOf(RowOf(id, kReplicationPhase))) << id;
  }
}

TEST_F(VSASync, TheBucketedWaitEndsAtAFailedSync) {
  SVSALabSpec spec;
  spec.jobBucketing = 2;
  Seed(spec);
  SyncStatus(102, App::VSA_REPL_STATUS_SYNC_FAILED);
  EXPECT_TRUE(RunSteps({Replicate()}));
  EXPECT_TRUE(Logged("[Wait before sync checks]"));
  EXPECT_FALSE(Logged("[Wait before checking sync results]"));
  // The decision then syncs the task group.
  EXPECT_EQ(2u, Syncs().size());
  EXPECT_EQ(kSuccess, RowOf(102, kReplicationPhase).status);
}

TEST_F(VSASync, AGroupWithoutABackupWaitsForItsSyncJobsEnd) {
  SVSALabSpec spec;
  spec.syncStatus = App::VSA_REPL_STATUS_NEED_SYNC;
  Seed(spec);
  EXPECT_TRUE(RunSteps({Replicate()}));
  ASSERT_EQ(1u, Syncs().size());
  EXPECT_EQ("Completed", Syncs()[0].status);
  for (int id : {101, 102, 103}) EXPECT_EQ(kSuccess, RowOf(id, kReplicationPhase).status) << id;
}

TEST_F(VSASync, AFailingTaskGroupDoesNotStopTheNext) {
  SVSALabSpec spec;
  spec.tasksPerGroup = 2;
  spec.syncStatus = App::VSA_REPL_STATUS_NEED_SYNC;
  Seed(spec);
  ASSERT_EQ(VM(101).taskId, VM(103).taskId);
  const int refused = VM(101).taskId;
  TaskOperation start;
  ASSERT_TRUE(CTaskManagerSim::Operations().Find(CTaskManagerSim::kTaskOpStartSync, start));
  CScopedHandler<int, TaskOperation> refuse(
      CTaskManagerSim::Operations(), CTaskManagerSim::kTaskOpStartSync,
      [start, refused](const TMMsg::TaskOperationReq& request, std::string& reply, std::string& error) {
        if (request.GetListMsg(TMMsg::TaskOperationReq::kSubtasks, 0).GetInt32(ZnEntities::SubtaskEntity::kTaskId) ==
            refused) {
          error = "refused for the test";
          return -1;
        }
        return start(request, reply, error);
      });
  EXPECT_TRUE(RunSteps({Replicate()}));
  for (int id : {101, 103}) {
    EXPECT_EQ(kFailed, RowOf(id, kReplicationPhase).status) << id;
    EXPECT_EQ("Error on sync operation", MessageOf(RowOf(id, kReplicationPhase))) << id;
  }
  EXPECT_EQ(kSuccess, RowOf(102, kReplicationPhase).status);
  EXPECT_EQ("102", Ids(Output(Context())));
  EXPECT_EQ((std::vector<int>{101, 103}), Context().SyncFailures());
  EXPECT_TRUE(Logged("Error on sync operation for taskId [" + std::to_string(refused) + "] "));
}

// How the start of the sync answers.
struct SStartCase {
  const char* name;
  ESyncStartFault fault;
  bool synced;  // the jobs it started were found and judged
};

void PrintTo(const SStartCase& c, std::ostream* out) { *out << c.name; }

class VSASyncStart : public VSASync, public testing::WithParamInterface<SStartCase> {};

TEST_P(VSASyncStart, ASyncStartedWithoutAnIdIsFoundAmongTheTasksRunningSyncs) {
  SVSALabSpec spec;
  spec.syncStatus = App::VSA_REPL_STATUS_NEED_SYNC;
  Seed(spec);
  ASSERT_TRUE(CTaskManagerSim::SetSyncStartFault(GetParam().fault));
  EXPECT_EQ(GetParam().synced, RunSteps({Replicate()}));
  if (GetParam().synced) {
    ASSERT_EQ(1u, Syncs().size());
    for (int id : {101, 102, 103}) {
      EXPECT_EQ(kSuccess, RowOf(id, kReplicationPhase).status) << id;
      EXPECT_EQ(Syncs()[0].jobId, JobOf(RowOf(id, kReplicationPhase))) << id;
    }
  } else {
    EXPECT_TRUE(Syncs().empty());
    for (int id : {101, 102, 103}) EXPECT_EQ("Error on sync operation", MessageOf(RowOf(id, kReplicationPhase)));
    EXPECT_TRUE(Logged("No vms succeeded replication for subclientId [21] "));
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, VSASyncStart,
                         testing::Values(SStartCase{"Refused", ESyncStartFault::kRefused, false},
                                         SStartCase{"FailedWithoutIds", ESyncStartFault::kFailWithoutIds, true},
                                         SStartCase{"FailedWithIds", ESyncStartFault::kFailWithIds, true},
                                         SStartCase{"SucceededWithoutIds", ESyncStartFault::kOkWithoutIds, true}),
                         [](const testing::TestParamInfo<SStartCase>& info) { return info.param.name; });

TEST_F(VSASync, AKillDuringTheWaitsBeforeTheDecisionStartsNoSync) {
  Seed();
  const long long scheduled = StartScheduledSync(kFirstTask);
  bool result = true;
  drtest::CTestThread runner = RunStepsLater({Replicate()}, result);
  ASSERT_TRUE(drtest::Eventually(
      [&] { return Logged("Waiting for sync job [" + std::to_string(scheduled) + "] to complete"); }));
  Kill();
  ASSERT_TRUE(runner.Join());
  EXPECT_FALSE(result);
  EXPECT_EQ(1u, Syncs().size());
  // A schedule's sync is not the DR job's to kill.
  EXPECT_FALSE(drtest::ChildJob(scheduled).ended);
  for (int id : {101, 102, 103}) EXPECT_EQ(kFailed, RowOf(id, kReplicationPhase).status) << id;
  EXPECT_TRUE(Context().Group(kFirstSubclient)->outputList.empty());
  CJobSimulator::Kill(scheduled);
}

TEST_F(VSASync, AKillWhileTheBucketedWaitWatchesRunningSyncsEndsItAndStartsNoSync) {
  SVSALabSpec spec;
  spec.jobBucketing = 2;
  spec.syncStatus = App::VSA_REPL_STATUS_NEED_SYNC;
  Seed(spec);
  const long long scheduled = StartScheduledSync(kFirstTask);
  // The first look for running syncs (before the decision) finds none; the
  // bucketed wait's looks find the schedule's.
  ExecuteSPHandler running;
  ASSERT_TRUE(App_ExecuteSP::Handlers().Find(JobManager::GetRunningSyncJobsReq::kTypeId, running));
  std::atomic<int> looks{0};
  CScopedHandler<unsigned long, ExecuteSPHandler> hideFirst(
      App_ExecuteSP::Handlers(), JobManager::GetRunningSyncJobsReq::kTypeId,
      [running, &looks](const std::string& request, std::string& response) {
        if (++looks == 1) {
          JobManager::GetRunningSyncJobsResp none;
          return none.serializeUTF8(response) ? 0 : -1;
        }
        return running(request, response);
      });
  bool result = true;
  drtest::CTestThread runner = RunStepsLater({Replicate()}, result);
  ASSERT_TRUE(drtest::Eventually(
      [&] { return Logged("Waiting for sync job [" + std::to_string(scheduled) + "] to complete"); }));
  Kill();
  ASSERT_TRUE(runner.Join());
  EXPECT_FALSE(result);
  EXPECT_TRUE(Logged("Quit waiting on sync jobs of task [11] as DR job [5150] quit"));
  EXPECT_FALSE(Logged("Launching sync op for taskId [11]"));
  EXPECT_EQ(1u, Syncs().size());
  for (int id : {101, 102, 103}) EXPECT_EQ(kFailed, RowOf(id, kReplicationPhase).status) << id;
  CJobSimulator::Kill(scheduled);
}

TEST_F(VSASync, ARestartedJobNamesTheSyncTheEarlierRunRecorded) {
  Seed();
  const long long earlier = StartScheduledSync(kFirstTask, false);
  ASSERT_TRUE(drtest::Eventually([earlier] { return drtest::HasEnded(earlier); }));
  for (int id : {101, 102, 103}) AddPhaseRow(kJob, id, kReplicationPhase, kSuccess, earlier);
  Restart();
  EXPECT_TRUE(RunSteps({Replicate()}));
  EXPECT_EQ(1u, Syncs().size());
  EXPECT_TRUE(Logged("VM was last synced by job [" + std::to_string(earlier) + "]"));
  for (int id : {101, 102, 103}) {
    EXPECT_EQ(kSuccess, RowOf(id, kReplicationPhase).status) << id;
    EXPECT_EQ(earlier, JobOf(RowOf(id, kReplicationPhase))) << id;
  }
}

}  // namespace
