// Storage-array DR at its edges, each through a DR job on the labs: which
// machines a job takes, boot-order groups with nobody left to mount, and the
// machines the mount list and the undo's filters fail rather than mount or
// re-sync.
#include "Phases.h"
#include "app/SnapArrayLabFixture.h"
#include "array/ArrayLab.h"
#include "array/ArrayLunStore.h"
#include "array/SnapReplicationStore.h"
#include "log/LogSink.h"

namespace {

using drtest::kSuccess;
constexpr int kMount = Api::VIRTUAL_APP_PHASE_DR_VM_SNAP_MOUNT;

// ---- eligibility ----

struct SEligibilityCase {
  const char* name;
  std::vector<std::string> datastores;  // of machine 1
  long long lastSynced;                 // -1: as seeded
  App::VSAFailoverStatus status;
  bool restarted;
  const char* skipReason;  // nullptr: machine 1 fails over
  // The restarted job's earlier attempt stored machine 1's status.
  bool takenUpEarlier = false;
};

void PrintTo(const SEligibilityCase& c, std::ostream* os) { *os << c.name; }

class E2ESnapArrayEligibility : public CSnapArrayLabFixture,
                                public ::testing::WithParamInterface<SEligibilityCase> {};

// Machine 2 is always eligible: one ineligible machine does not hold the
// others back.
TEST_P(E2ESnapArrayEligibility, APlannedFailoverTakesOnlyEligibleMachines) {
  const SEligibilityCase& c = GetParam();
  Seed({{1, c.datastores}, {2, {"ds2"}}});
  if (c.lastSynced >= 0) {
    ASSERT_EQ(EStoreResult::kOk, CSnapReplicationStore::SetLastSyncedJob(1, c.lastSynced));
  }
  if (c.status != App::VSA_FAILOVER_STATUS_NONE) {
    ASSERT_NO_FATAL_FAILURE(SetFailoverStatus(1, c.status, c.takenUpEarlier ? kJob : 0));
  }
  RunJob(TMMsg::DR_ORCHESTRATION_PLANNED_FAILOVER, c.restarted ? "restart" : "");
  EXPECT_EQ(kSuccess, RowOf(2, kMount).status);
  EXPECT_EQ(App::VSA_FAILOVER_STATUS_FAILOVER_COMPLETE, FailoverStatus(2));
  if (c.skipReason == nullptr) {
    EXPECT_EQ(kSuccess, RowOf(1, kMount).status);
    EXPECT_EQ(App::VSA_FAILOVER_STATUS_FAILOVER_COMPLETE, FailoverStatus(1));
    EXPECT_FALSE(SourceOn(1));
    return;
  }
  EXPECT_TRUE(Logged(c.skipReason)) << c.skipReason;
  EXPECT_EQ(-1, RowOf(1, kMount).phase);
  EXPECT_TRUE(SourceOn(1));
  EXPECT_EQ(c.status, FailoverStatus(1));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, E2ESnapArrayEligibility,
    ::testing::Values(
        // The aged-out job is judged before the status, which alone would pass.
        SEligibilityCase{"NoLastSyncedJobOverAGoodStatus", {"ds1"}, 0, App::VSA_FAILOVER_STATUS_FAILBACK_COMPLETE,
                         false, "Machine ineligible as last replicated job is aged or deleted"},
        SEligibilityCase{"NoDatastores", {}, -1, App::VSA_FAILOVER_STATUS_NONE, false,
                         "Machine ineligible as source datastores for vm coudn't be retrieved"},
        SEligibilityCase{"FailoverInProgress", {"ds1"}, -1, App::VSA_FAILOVER_STATUS_FAILOVER_IN_PROGRESS, false,
                         "Machine ineligible as Failover Status is ["},
        // A restarted job takes back what its earlier attempt left running,
        SEligibilityCase{"FailoverInProgressOnARestart", {"ds1"}, -1, App::VSA_FAILOVER_STATUS_FAILOVER_IN_PROGRESS,
                         true, nullptr, true},
        // and only that: one another job left running is as a first
        // attempt finds it.
        SEligibilityCase{"FailoverInProgressOnARestartOfAnotherJob", {"ds1"}, -1,
                         App::VSA_FAILOVER_STATUS_FAILOVER_IN_PROGRESS, true,
                         "Machine ineligible as Failover Status is [Failover in Progress]"}),
    [](const ::testing::TestParamInfo<SEligibilityCase>& info) { return std::string(info.param.name); });

// ---- boot-order groups ----

class E2ESnapArrayEdges : public CSnapArrayLabFixture {};

TEST_F(E2ESnapArrayEdges, ABootGroupWithNobodyToMountIsSkippedAndNotCounted) {
  // Group 2's only machine has no datastore, so no machine is left in it.
  SSnapLabVM first{1, {"ds1"}};
  first.bootOrder = 1;
  SSnapLabVM empty{2, {}};
  empty.bootOrder = 2;
  SSnapLabVM last{3, {"ds3"}};
  last.bootOrder = 3;
  Seed({first, empty, last});
  RunJob(TMMsg::DR_ORCHESTRATION_TEST_FAILOVER);
  EXPECT_TRUE(Logged("No eligible vms in priority [2]."));
  EXPECT_EQ(kSuccess, RowOf(1, Api::VIRTUAL_APP_PHASE_DR_VM_TEST_SNAP_MOUNT).status);
  EXPECT_EQ(kSuccess, RowOf(3, Api::VIRTUAL_APP_PHASE_DR_VM_TEST_SNAP_MOUNT).status);
  // Counted groups 1 and 3 of 3: a wait after each (a counted empty group
  // would leave one).
  EXPECT_EQ(2u, CLogSink::Instance().Count("[Wait before processing next priority]"));
}

// ---- machines failed on the way to a mount or a re-sync ----

struct SRemovedCase {
  const char* name;
  bool ungrouped;  // machine 2's record names no replica group
  // What happens to machine 2 between the failover and its undo.
  enum { kNothing, kLunStaysMapped, kUnmountedBehindTheJob } beforeUndo;
};

void PrintTo(const SRemovedCase& c, std::ostream* os) { *os << c.name; }

class E2ESnapArrayRemoved : public CSnapArrayLabFixture, public ::testing::WithParamInterface<SRemovedCase> {};

// Machine 2 leaves the list with the status "Failover Failed"; machine 1
// goes on to the end.
TEST_P(E2ESnapArrayRemoved, AMachineTakenOffTheListIsMarkedFailoverFailed) {
  const SRemovedCase& c = GetParam();
  SSnapLabVM two{2, {"ds2"}};
  two.ungrouped = c.ungrouped;
  Seed({{1, {"ds1"}}, two});
  RunJob(TMMsg::DR_ORCHESTRATION_PLANNED_FAILOVER);
  EXPECT_EQ(App::VSA_FAILOVER_STATUS_FAILOVER_COMPLETE, FailoverStatus(1));
  if (c.ungrouped) {
    // Its relationships never broke: no mount of a snapshot still replicating.
    EXPECT_EQ(App::VSA_FAILOVER_STATUS_FAILOVER_FAILED, FailoverStatus(2));
    EXPECT_EQ(-1, RowOf(2, kMount).phase);
    EXPECT_FALSE(DRVMExists(2));
    return;
  }
  ASSERT_EQ(App::VSA_FAILOVER_STATUS_FAILOVER_COMPLETE, FailoverStatus(2));
  if (c.beforeUndo == SRemovedCase::kLunStaysMapped) {
    const std::string lun = "vol_ds2/lun0";
    ASSERT_EQ(EStoreResult::kOk, CArrayLunStore::SetMapped(kArray, lun, true));
    ASSERT_EQ(EStoreResult::kOk, CArrayLunStore::SetUnmapFails(kArray, lun, true));
  } else {
    // The snapshot is unmounted, but its DR VM is still registered.
    ASSERT_TRUE(CArrayLab::RecordUnmount(AfileOf(2).afileId));
  }
  RunJob(TMMsg::DR_ORCHESTRATION_UNDO_FAILOVER);
  EXPECT_EQ(App::VSA_FAILOVER_STATUS_REVERT_FAILOVER_COMPLETE, FailoverStatus(1));
  EXPECT_EQ("snapmirrored", MirrorState("ds1"));
  EXPECT_EQ(App::VSA_FAILOVER_STATUS_FAILOVER_FAILED, FailoverStatus(2));
  // Not re-synced under a DR VM that may still write to it.
  EXPECT_EQ("broken-off", MirrorState("ds2"));
}

INSTANTIATE_TEST_SUITE_P(Cases, E2ESnapArrayRemoved,
                         ::testing::Values(SRemovedCase{"RelationshipNotBroken", true, SRemovedCase::kNothing},
                                           SRemovedCase{"LunStillMapped", false, SRemovedCase::kLunStaysMapped},
                                           SRemovedCase{"DRVMStillRegistered", false,
                                                        SRemovedCase::kUnmountedBehindTheJob}),
                         [](const ::testing::TestParamInfo<SRemovedCase>& info) { return std::string(info.param.name); });

}  // namespace
