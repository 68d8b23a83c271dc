// The DR types after a failover on their own: which replications each
// admits, the restore request of a failback, the snapshots of a snap
// backup's job and the browse client's lifetime.
#include <string>
#include <vector>

#include "array/VolumeSnapStore.h"
#include "drorch/DRJobManager.h"
#include "engine/GenericDR.h"
#include "vm/IndexBrowseClient.h"
#include "vsa/VSAFailback.h"
#include "vsa/VSALabFixture.h"
#include "vsa/VSAPointInTimeFailover.h"
#include "vsa/VSARepInfo.h"
#include "vsa/VSAReverseReplication.h"
#include "vsa/VSARevertFailover.h"
#include "vsa/VSATestboot.h"
#include "vsa/VSAUndoFailover.h"

namespace {

using F = App::VSAFailoverStatus;
using S = App::VSAReplicationStatus;

class VSAFailbackTypes : public CVSALabFixture {
 protected:
  void SeedTyped(TMMsg::DROrchestrationType type, bool restarted = false) {
    SVSALabSpec spec;
    spec.replications = 2;
    spec.drType = type;
    spec.operationClasses = true;
    Seed(spec);
    if (restarted) Restart();
  }
  CGenericDR& DR() { return *static_cast<CGenericDR*>(m_dr.get()); }
  // The statuses (failover x sync) a class admits.
  static std::vector<int> Admitted(CVSADRBase& c, const std::vector<int>& failover, S sync) {
    std::vector<int> out;
    for (int f : failover) {
      if (c.IsPermisableFailoverStateForJob(static_cast<F>(f)) && c.IsPermisableSyncStateForJob(sync)) out.push_back(f);
    }
    return out;
  }
  const std::vector<int> kAll = {0, 1, 2, 4, 5, 6, 8, 13, 14, 15};
};

TEST_F(VSAFailbackTypes, EachTypeAdmitsItsFailoverAndSyncStatuses) {
  SeedTyped(TMMsg::DR_ORCHESTRATION_FAILBACK);
  {
    CVSAFailback c(DR());
    EXPECT_EQ((std::vector<int>{1, 8, 15}), Admitted(c, kAll, App::VSA_REPL_STATUS_SYNC_DISABLED));
    EXPECT_TRUE(Admitted(c, kAll, App::VSA_REPL_STATUS_IN_SYNC).empty());
  }
  {
    CVSATestboot c(DR());
    EXPECT_EQ((std::vector<int>{0, 1, 4, 5, 13}), Admitted(c, kAll, App::VSA_REPL_STATUS_IN_SYNC));
    EXPECT_TRUE(Admitted(c, kAll, App::VSA_REPL_STATUS_SYNC_IN_PROGRESS).empty());
  }
  {
    CVSARevertFailover c(DR());
    EXPECT_EQ((std::vector<int>{1, 8}), Admitted(c, kAll, App::VSA_REPL_STATUS_IN_SYNC));
  }
  {
    CVSAUndoFailover c(DR());
    EXPECT_TRUE(Admitted(c, kAll, App::VSA_REPL_STATUS_IN_SYNC).empty());
  }
  {
    CVSAPointInTimeFailover c(DR());
    EXPECT_TRUE(Admitted(c, kAll, App::VSA_REPL_STATUS_SYNC_DISABLED).empty());
    EXPECT_FALSE(Admitted(c, kAll, App::VSA_REPL_STATUS_NEED_SYNC).empty());
  }
}

TEST_F(VSAFailbackTypes, ARestartedJobAdmitsWhatItsEarlierAttemptLeftRunning) {
  SeedTyped(TMMsg::DR_ORCHESTRATION_FAILBACK, true);
  CVSAFailback failback(DR());
  EXPECT_TRUE(failback.IsPermisableFailoverStateForJob(App::VSA_FAILOVER_STATUS_FAILBACK_IN_PROGRESS));
  EXPECT_TRUE(failback.IsPermisableSyncStateForJob(App::VSA_REPL_STATUS_IN_SYNC));
  CVSAReverseReplication reverse(DR());
  EXPECT_FALSE(reverse.IsPermisableFailoverStateForJob(App::VSA_FAILOVER_STATUS_FAILBACK_IN_PROGRESS));
  EXPECT_TRUE(reverse.IsPermisableFailoverStateForJob(App::VSA_FAILOVER_STATUS_FAILOVER_COMPLETE));
  CVSATestboot testboot(DR());
  EXPECT_TRUE(testboot.IsPermisableFailoverStateForJob(App::VSA_FAILOVER_STATUS_FAILOVER_IN_PROGRESS));
  CVSARevertFailover revert(DR());
  EXPECT_TRUE(revert.IsPermisableFailoverStateForJob(App::VSA_FAILOVER_STATUS_REVERT_FAILOVER_IN_PROGRESS));
  // A point-in-time machine left failing over comes back whatever its sync.
  Change(101, [](App::VSAReplicationInfo& info) {
    info.SetInt32(App::VSAReplicationInfo::kFailoverStatus, App::VSA_FAILOVER_STATUS_FAILOVER_IN_PROGRESS);
    info.SetInt32(App::VSAReplicationInfo::kSyncStatus, App::VSA_REPL_STATUS_SYNC_DISABLED);
  });
  // Left so by this job's earlier attempt, as its stored job id says.
  AddProperty(101, VSARepInfo::kPropLastDRJobId, std::to_string(kJob));
  Reload();
  CVSAPointInTimeFailover pit(DR());
  EXPECT_TRUE(pit.IsMachineEligible(Machine(101)));
  EXPECT_FALSE(pit.IsPermisableSyncStateForJob(App::VSA_REPL_STATUS_SYNC_DISABLED));
}

TEST_F(VSAFailbackTypes, TheFailbackSetsItsDelayAndEveryClassLogsItsDestructorLines) {
  SeedTyped(TMMsg::DR_ORCHESTRATION_REVERSE_REPLICATION);
  { CVSAReverseReplication c(DR()); }
  EXPECT_EQ(10, DR().GetDRAppMgr()->GetDelayTimeBeforeSync());
  { CVSAPointInTimeFailover c(DR()); }
  { CVSATestboot c(DR()); }
  { CVSARevertFailover c(DR()); }
  { CVSAUndoFailover c(DR()); }
  for (const char* name : {"CVSAReverseReplication", "CVSAFailback", "CVSAPointInTimeFailover", "CVSATestboot",
                           "CVSARevertFailover", "CVSAUndoFailover", "CVSADRBase"}) {
    EXPECT_TRUE(LoggedLine(std::string("Invoking ") + name + " destructor")) << name;
  }
}

TEST_F(VSAFailbackTypes, TheRestoreRequestCarriesItsFourFiltersInOrder) {
  SVSALabSpec spec;
  spec.replications = 2;
  spec.drType = TMMsg::DR_ORCHESTRATION_FAILBACK;
  spec.operationClasses = true;
  spec.drOptions = [](CNMessageBase& dr) {
    dr.MutableMsg(TMMsg::DROrchestrationOption::kRestoreOptions)
        .SetString(TMMsg::VirtualServerRestoreOptionFields::kSourceGuid, "from-the-job");
  };
  Seed(spec);
  CVSAFailback c(DR());
  ASSERT_TRUE(c.GetVSRstOptions());
  TMMsg::TaskOperationReq request;
  std::vector<CDRInfo*> list = Machines();
  ASSERT_TRUE(c.LoadSyncTask(request, list));
  EXPECT_EQ(5, request.GetInt32(TMMsg::TaskOperationReq::kOperation));
  ASSERT_EQ(1u, request.ListSize(TMMsg::TaskOperationReq::kTaskIds));
  EXPECT_EQ(static_cast<uint32_t>(VM(101).taskId), request.GetListUInt32(TMMsg::TaskOperationReq::kTaskIds, 0));
  const CNMessageBase& subtask = request.GetListMsg(TMMsg::TaskOperationReq::kSubtasks, 0);
  EXPECT_EQ(VM(101).taskId * 10, subtask.GetInt32(ZnEntities::SubtaskEntity::kSubtaskId));
  const CNMessageBase& options = request.GetMsg(TMMsg::TaskOperationReq::kOptions);
  ASSERT_EQ(4u, options.ListSize(TMMsg::TaskOperationOptionFields::kFilters));
  std::vector<int> ids;
  std::vector<std::string> values;
  for (size_t i = 0; i < 4; ++i) {
    const CNMessageBase& f = options.GetListMsg(TMMsg::TaskOperationOptionFields::kFilters, i);
    ids.push_back(f.GetInt32(TMMsg::OptionFilter::kFilterId));
    values.push_back(f.GetString(TMMsg::OptionFilter::kValue));
  }
  EXPECT_EQ((std::vector<int>{120015, 120016, 120017, 293753447}), ids);
  EXPECT_EQ("true", values[0]);
  EXPECT_NE(std::string::npos, values[1].find("from-the-job"));
  EXPECT_EQ("101,102", values[2]);
  // The source client: the virtualization client the subclient belongs to.
  EXPECT_EQ("1", values[3]);
  // An empty list loads nothing.
  std::vector<CDRInfo*> none;
  TMMsg::TaskOperationReq empty;
  EXPECT_FALSE(c.LoadSyncTask(empty, none));
}

TEST_F(VSAFailbackTypes, PostDROperationsOnAnEmptyContextFailWithoutACrash) {
  SeedTyped(TMMsg::DR_ORCHESTRATION_FAILBACK);
  SDROperationCtx empty;
  CVSAFailback failback(DR());
  EXPECT_FALSE(failback.PerformPostDrOps(empty));
  CVSAPointInTimeFailover pit(DR());
  EXPECT_FALSE(pit.PerformPostDrOps(empty));
  CVSARevertFailover revert(DR());
  EXPECT_FALSE(revert.PerformPostDrOps(empty));
}

TEST_F(VSAFailbackTypes, ASnapBackupsVolumeSnapshotsAreDeletedOnceAndAJobWithoutAnyFails) {
  SeedTyped(TMMsg::DR_ORCHESTRATION_FAILBACK);
  ASSERT_TRUE(CVolumeSnapStore::Add(SVolumeSnap{777, "vol-101", "SP_777_101"}));
  EXPECT_TRUE(m_jm->DeleteSnapsForJob(777));
  std::vector<SVolumeSnap> left;
  ASSERT_EQ(EStoreResult::kOk, CVolumeSnapStore::OfJob(777, left));
  EXPECT_TRUE(left.empty());
  EXPECT_FALSE(m_jm->DeleteSnapsForJob(777));
  EXPECT_TRUE(LoggedLine("Failed to get SnapShot info for job [777] with error [No snapshots found for job 777]"));
}

TEST_F(VSAFailbackTypes, TheBrowseClientIsReleasedOnEveryPath) {
  SeedTyped(TMMsg::DR_ORCHESTRATION_FAILBACK);
  CDRAppManager* app = DR().GetDRAppMgr();
  SApplicationIds ids;
  ids.subclientId = VM(101).subclientId;
  ApplicationId appId(ids);
  databrowse::BrowseResponseList response;
  // Not initialised (no subclient), a failed browse, an answered browse.
  EXPECT_FALSE(app->GetBrowseResponse(databrowse::BrowseRequest(), response));
  EXPECT_EQ(0, CIndexBrowseClient::Live());
  databrowse::BrowseRequest request;
  ASSERT_TRUE(app->PrepareBrowseRequest(request, appId, CIndexBrowseClient::kModeVMs, "\\", 0, 0));
  ASSERT_TRUE(CIndexBrowseClient::FailFullBrowses(1));
  EXPECT_FALSE(app->GetBrowseResponse(request, response));
  EXPECT_EQ(0, CIndexBrowseClient::Live());
  databrowse::BrowseResponseList answered;
  EXPECT_TRUE(app->GetBrowseResponse(request, answered));
  EXPECT_EQ(0, CIndexBrowseClient::Live());
  ASSERT_EQ(1u, answered.ListSize(databrowse::BrowseResponseList::kResponses));
  EXPECT_EQ(2u, answered.GetListMsg(databrowse::BrowseResponseList::kResponses, 0)
                    .GetMsg(databrowse::BrowseResponse::kResult)
                    .ListSize(databrowse::BrowseResultFields::kEntries));
}

}  // namespace
