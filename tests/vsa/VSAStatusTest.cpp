// Sync and failover status changes of the VM DR context on the lab: the
// phase rows of a sync-status change, the clean-ups after a failed run, the
// first-time-sync eligibility and clean-up, and the clone count.
#include <algorithm>
#include <string>
#include <vector>

#include "Phases.h"
#include "VSALabFixture.h"
#include "core/RequestTap.h"
#include "vsa/VSARepInfo.h"

namespace {

constexpr int kDisableSync = Api::VIRTUAL_APP_PHASE_DISABLE_SYNC;
constexpr int kEnableSync = Api::VIRTUAL_APP_PHASE_ENABLE_SYNC;
using drtest::kSuccess;
using drtest::kFailed;
using drtest::kRunning;

class VSAStatus : public CVSALabFixture {
 protected:
  CVSAStepTestContext& C() { return m_context ? *m_context : NewContext({}); }
  static void Failover(int replicationId, App::VSAFailoverStatus status) {
    Change(replicationId,
           [status](App::VSAReplicationInfo& r) { r.SetInt32(App::VSAReplicationInfo::kFailoverStatus, status); });
  }
  static void Sync(int replicationId, App::VSAReplicationStatus status) {
    Change(replicationId,
           [status](App::VSAReplicationInfo& r) { r.SetInt32(App::VSAReplicationInfo::kSyncStatus, status); });
  }
  // The replication is gone from the server: its stores fail.
  static void Gone(int replicationId) { ASSERT_EQ(EStoreResult::kOk, CReplicationStore::Remove(replicationId)); }
};

// A sync-status change and what it writes.
struct SSyncChangeCase {
  const char* name;
  bool firstTimeSync;
  bool enable;
  int phase;
  int stored;
};

void PrintTo(const SSyncChangeCase& c, std::ostream* out) { *out << c.name; }

class VSASyncStatusChange : public VSAStatus, public testing::WithParamInterface<SSyncChangeCase> {};

TEST_P(VSASyncStatusChange, WritesItsRowRunningThenByTheStoresResult) {
  const SSyncChangeCase& c = GetParam();
  SVSALabSpec spec;
  spec.firstTimeSyncDuringFailover = c.firstTimeSync;
  Seed(spec);
  auto change = [&](int id) {
    SDROperationCtx ctx = Ctx({id});
    return c.enable ? C().EnableSync(Machine(id), ctx) : C().DisableSync(Machine(id), ctx);
  };
  EXPECT_TRUE(change(101));
  EXPECT_EQ(c.stored, StoredSyncStatus(101));
  EXPECT_EQ((std::vector<int>{kRunning, kSuccess}), PhaseUpdates(101, c.phase));

  Gone(102);
  EXPECT_FALSE(change(102));
  EXPECT_EQ((std::vector<int>{kRunning, kFailed}), PhaseUpdates(102, c.phase));
  EXPECT_EQ("", MessageOf(RowOf(102, c.phase)));
}

INSTANTIATE_TEST_SUITE_P(Cases, VSASyncStatusChange,
                         testing::Values(SSyncChangeCase{"Enable", false, true, kEnableSync, 1},
                                         SSyncChangeCase{"EnableForAFirstTimeSync", true, true, kEnableSync, 2},
                                         SSyncChangeCase{"Disable", false, false, kDisableSync, 6}),
                         [](const testing::TestParamInfo<SSyncChangeCase>& info) { return info.param.name; });

TEST_F(VSAStatus, TheFailoverStatusCleanUpTouchesOnlyWhatTheRunLeftBehind) {
  Seed();
  Failover(101, App::VSA_FAILOVER_STATUS_FAILOVER_COMPLETE);
  Failover(102, App::VSA_FAILOVER_STATUS_FAILOVER_IN_PROGRESS);
  Failover(103, App::VSA_FAILOVER_STATUS_FAILOVER_IN_PROGRESS);
  Reload();
  Machine(103)->SetStatus(Api::VIRTUAL_APP_PHASE_STATE_SKIPPED);
  std::vector<CDRInfo*> all = Machines();

  C().CleanupStatus(all, App::VSA_FAILOVER_STATUS_FAILOVER_FAILED, App::VSA_FAILOVER_STATUS_FAILOVER_IN_PROGRESS, true);
  EXPECT_EQ(App::VSA_FAILOVER_STATUS_FAILOVER_COMPLETE, StoredFailoverStatus(101));
  EXPECT_EQ(App::VSA_FAILOVER_STATUS_FAILOVER_FAILED, StoredFailoverStatus(102));
  EXPECT_EQ(App::VSA_FAILOVER_STATUS_FAILOVER_IN_PROGRESS, StoredFailoverStatus(103));
  // No phase row for a failover status.
  EXPECT_TRUE(JobRows().empty());

  C().CleanupStatus(all, App::VSA_FAILOVER_STATUS_FAILBACK_COMPLETE, App::VSA_FAILOVER_STATUS_NONE, false);
  EXPECT_EQ(App::VSA_FAILOVER_STATUS_FAILBACK_COMPLETE, StoredFailoverStatus(101));
  EXPECT_EQ(App::VSA_FAILOVER_STATUS_FAILBACK_COMPLETE, StoredFailoverStatus(102));
  EXPECT_EQ(App::VSA_FAILOVER_STATUS_FAILOVER_IN_PROGRESS, StoredFailoverStatus(103));

  // A suspended job is resumed later with its statuses as they were.
  Suspend();
  ASSERT_TRUE(m_jm->IsQuitFlagSet());
  C().CleanupStatus(all, App::VSA_FAILOVER_STATUS_FAILOVER_FAILED, App::VSA_FAILOVER_STATUS_NONE, false);
  EXPECT_EQ(App::VSA_FAILOVER_STATUS_FAILBACK_COMPLETE, StoredFailoverStatus(101));
}

TEST_F(VSAStatus, AFailedRunGetsTheSyncStatusOfTheFirstLoadBack) {
  Seed();
  std::vector<CDRInfo*> all = Machines();
  C().DisableSyncForList(all);
  for (int id : {101, 102, 103}) {
    EXPECT_EQ(App::VSA_REPL_STATUS_SYNC_DISABLED, StoredSyncStatus(id)) << id;
    EXPECT_EQ(kSuccess, RowOf(id, kDisableSync).status) << id;
  }
  C().MarkSuccess(Machine(101), Api::DR_SITE_DESTINATION);
  EXPECT_TRUE(Logged("[Planned Failover] has succeeded for replication [101] VM [vm-101-DR]"));
  Machine(102)->SetStatus(Api::VIRTUAL_APP_PHASE_STATE_SKIPPED);
  C().ResetSyncStatusOnFailure(all);
  EXPECT_EQ(App::VSA_REPL_STATUS_SYNC_DISABLED, StoredSyncStatus(101));
  EXPECT_EQ(App::VSA_REPL_STATUS_SYNC_DISABLED, StoredSyncStatus(102));
  EXPECT_EQ(App::VSA_REPL_STATUS_IN_SYNC, StoredSyncStatus(103));
}

TEST_F(VSAStatus, FirstTimeSyncEligibilityNamesItsReasonAndTheChangeStopsAtAFailedWrite) {
  SVSALabSpec spec;
  spec.replications = 4;
  spec.firstTimeSyncDuringFailover = true;
  spec.drVMs = false;
  spec.syncStatus = App::VSA_REPL_STATUS_NEED_SYNC;
  Seed(spec);
  Sync(103, App::VSA_REPL_STATUS_SYNC_IN_PROGRESS);
  Change(104, [](App::VSAReplicationInfo& r) { r.SetString(App::VSAReplicationInfo::kDestinationVMGuid, "dst-104"); });
  Reload();
  EXPECT_TRUE(C().IsEligibleToChangeSyncStatusDuringFailover(Machine(101)));
  EXPECT_TRUE(C().IsEligibleToChangeSyncStatusDuringFailover(Machine(102)));
  EXPECT_FALSE(C().IsEligibleToChangeSyncStatusDuringFailover(Machine(103)));
  EXPECT_TRUE(Logged("Sync status [3] found for VM [vm-103-DR]"));
  EXPECT_FALSE(C().IsEligibleToChangeSyncStatusDuringFailover(Machine(104)));
  EXPECT_TRUE(Logged("DR VM GUID [dst-104] found for VM [vm-104-DR]"));

  SDROperationCtx ctx = Ctx();
  EXPECT_TRUE(C().ChangeSyncStatusDuringFailover(ctx));
  EXPECT_EQ(kSuccess, RowOf(101, kEnableSync).status);
  EXPECT_EQ(kSuccess, RowOf(102, kEnableSync).status);
  EXPECT_EQ(-1, RowOf(103, kEnableSync).status);
  EXPECT_EQ(-1, RowOf(104, kEnableSync).status);

  // The first write that fails ends the change.
  Sync(101, App::VSA_REPL_STATUS_NEED_SYNC);
  Sync(102, App::VSA_REPL_STATUS_NEED_SYNC);
  Reload();
  Gone(101);
  CRequestTap::Clear();
  ctx = Ctx();
  EXPECT_FALSE(C().ChangeSyncStatusDuringFailover(ctx));
  EXPECT_EQ((std::vector<int>{kRunning, kFailed}), PhaseUpdates(101, kEnableSync));
  EXPECT_TRUE(PhaseUpdates(102, kEnableSync).empty());
}

TEST_F(VSAStatus, WithoutFirstTimeSyncNothingIsEligibleOrCleanedUp) {
  Seed();
  SDROperationCtx ctx = Ctx();
  EXPECT_TRUE(C().ChangeSyncStatusDuringFailover(ctx));
  std::vector<CDRInfo*> all = Machines();
  C().CleanupFirstTimeSyncDuringFailover(all);
  for (int id : {101, 102, 103}) {
    EXPECT_FALSE(C().IsEligibleToChangeSyncStatusDuringFailover(Machine(id)));
    EXPECT_EQ(App::VSA_REPL_STATUS_IN_SYNC, StoredSyncStatus(id));
    EXPECT_EQ("dst-" + std::to_string(id), Stored(id).GetString(App::VSAReplicationInfo::kDestinationVMGuid));
  }
  EXPECT_TRUE(JobRows().empty());
  EXPECT_TRUE(LabCalls().empty());
}

TEST_F(VSAStatus, TheFirstTimeSyncCleanUpDeletesTheDRVMsTheRunMadeAndKeepsOneItCouldNotDelete) {
  SVSALabSpec spec;
  spec.replications = 4;
  spec.firstTimeSyncDuringFailover = true;
  spec.drVMs = false;
  spec.syncStatus = App::VSA_REPL_STATUS_NEED_SYNC;
  Seed(spec);
  // The run made DR VMs for 101 and 103; 102 has none; 104 succeeded.
  for (int id : {101, 103}) {
    SLabVM dr;
    dr.instanceId = kDestInstance;
    dr.guid = "dst-" + std::to_string(id);
    dr.name = VM(id).destName;
    ASSERT_TRUE(CHypervisorLab::AddVM(dr));
    Change(id, [dr](App::VSAReplicationInfo& r) { r.SetString(App::VSAReplicationInfo::kDestinationVMGuid, dr.guid); });
  }
  Reload();
  SLabFault fault;
  fault.opType = TMMsg::VM_OPERATION_DELETE_DR_VM;
  fault.vm = "dst-103";
  fault.code = 7100;
  fault.text = "datastore busy";
  ASSERT_TRUE(CHypervisorLab::AddFault(fault));
  Machine(104)->SetStatus(Api::VIRTUAL_APP_PHASE_STATE_SUCCESS);
  std::vector<CDRInfo*> all = Machines();

  C().CleanupFirstTimeSyncDuringFailover(all);

  for (int id : {101, 102, 103}) {
    SCOPED_TRACE(id);
    const App::VSAReplicationInfo stored = Stored(id);
    EXPECT_EQ(App::VSA_REPL_STATUS_SYNC_DISABLED, stored.GetInt32(App::VSAReplicationInfo::kSyncStatus));
    EXPECT_EQ(1, stored.GetInt64(App::VSAReplicationInfo::kLastRestoreTime));
    EXPECT_EQ(1, stored.GetInt64(App::VSAReplicationInfo::kVMSyncedTillTime));
  }
  SLabVM vm;
  EXPECT_EQ(EStoreResult::kMissing, CHypervisorLab::GetVM(kDestInstance, "dst-101", vm));
  EXPECT_EQ("", Stored(101).GetString(App::VSAReplicationInfo::kDestinationVMGuid));
  // The DR VM that could not be deleted stays known.
  EXPECT_EQ(EStoreResult::kOk, CHypervisorLab::GetVM(kDestInstance, "dst-103", vm));
  EXPECT_EQ("dst-103", Stored(103).GetString(App::VSAReplicationInfo::kDestinationVMGuid));
  // Shut down and deleted where there was a DR VM, nothing sent for 102.
  std::vector<std::string> calls;
  for (const SLabCall& call : LabCalls()) calls.push_back(std::to_string(call.opType) + ":" + call.vmGuid);
  EXPECT_EQ((std::vector<std::string>{"2:dst-101", "57:dst-101", "2:dst-103", "57:dst-103"}), calls);
  // Its only rows are the sync changes, one per machine it disabled; the
  // VM steps it runs write none.
  std::vector<std::string> rows;
  for (const SPhaseRowRecord& row : JobRows()) {
    rows.push_back(std::to_string(row.replicationId) + ":" + std::to_string(row.phase) + ":" +
                   std::to_string(row.status));
  }
  std::sort(rows.begin(), rows.end());
  EXPECT_EQ((std::vector<std::string>{"101:15:0", "102:15:0", "103:15:0"}), rows);
  EXPECT_EQ(App::VSA_REPL_STATUS_NEED_SYNC, StoredSyncStatus(104));
}

TEST_F(VSAStatus, TheCloneCountIsStoredOneUpWithoutChangingTheRecord) {
  Seed();
  EXPECT_TRUE(C().PersistCloneVMCount(Machine(101)));
  EXPECT_EQ("1", StoredProperty(101, VSARepInfo::kPropCloneVMCount));
  EXPECT_EQ(0, DRInfoUtils::GetVSARepInfo(Machine(101))->GetCloneVMCount());
  Gone(102);
  EXPECT_FALSE(C().PersistCloneVMCount(Machine(102)));
}

}  // namespace
