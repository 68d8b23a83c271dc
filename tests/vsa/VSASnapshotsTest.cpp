// The DR snapshots of the VM DR context on the lab: failover snapshots of
// the DR VMs and their stored references, the source VM's snapshot,
// point-in-time and replica-sync-direct snapshots, and what each routine
// leaves of the context's stored-reference switch.
#include <functional>
#include <string>
#include <vector>

#include "VSALabFixture.h"
#include "db/ZNGlobalParam.h"
#include "vsa/VSARepInfo.h"

namespace {

using namespace vsasteps;

constexpr int kDestSnapMoref = VSARepInfo::kPropDestSnapMoref;
constexpr int kSourceSnapMoref = VSARepInfo::kPropSourceSnapMoref;
constexpr int kPitSnapshot = VSARepInfo::kPropPitSnapshotId;

class VSASnapshots : public CVSALabFixture {
 protected:
  CVSAStepTestContext& C() { return m_context ? *m_context : NewContext({}); }
  static bool HasProperty(int replicationId, int propertyId) {
    bool found = false;
    StoredProperty(replicationId, propertyId, &found);
    return found;
  }
  static void Property(int replicationId, int propertyId, const std::string& value) {
    Change(replicationId, [propertyId, value](App::VSAReplicationInfo& r) {
      CNMessageBase& p = r.AddMsg(App::VSAReplicationInfo::kProperties);
      p.SetInt32(App::VSAReplicationProperties::kPropertyId, propertyId);
      p.SetString(App::VSAReplicationProperties::kValue, value);
    });
  }
  static void Failover(int replicationId, App::VSAFailoverStatus status) {
    Change(replicationId,
           [status](App::VSAReplicationInfo& r) { r.SetInt32(App::VSAReplicationInfo::kFailoverStatus, status); });
  }
  // A fault on the calls from..to of an operation type on a VM.
  static void FailCalls(int opType, const std::string& vm, int from = 1, int to = 1000) {
    PlantFault(opType, vm, ELabFault::kError, from, to, 7100, "snapshot locked");
  }
  std::string FailoverSnapshotRef(int replicationId) {
    for (const SLabSnapshot& snap : Snapshots(replicationId, 1))
      if (snap.name == "__OB_FAILOVER__") return snap.ref;
    return std::string();
  }
};

// The global parameter that skips the failover snapshots.
struct SSkipCase {
  const char* name;
  const char* value;  // null: not set
  bool skipped;
};

void PrintTo(const SSkipCase& c, std::ostream* out) { *out << c.name; }

class VSAFailoverSnapshotSkip : public VSASnapshots, public testing::WithParamInterface<SSkipCase> {};

TEST_P(VSAFailoverSnapshotSkip, OnlyOneSkipsTheFailoverSnapshots) {
  Seed();
  if (GetParam().value != nullptr) {
    ASSERT_TRUE(ZNGlobalParam::set("bSkipFailoverSnapshotCreation", GetParam().value));
  }
  SDROperationCtx ctx = Ctx();
  EXPECT_TRUE(C().CreateFailoverSnapshots(ctx, true));
  EXPECT_EQ(GetParam().skipped, Logged("bSkipFailoverSnapshotCreation set [true] "));
  EXPECT_EQ(GetParam().skipped ? 0u : 3u, LabCalls(TMMsg::VM_OPERATION_CREATE_SNAPSHOT).size());
  for (int id : {101, 102, 103}) {
    SCOPED_TRACE(id);
    const std::string ref = FailoverSnapshotRef(id);
    EXPECT_EQ(GetParam().skipped, ref.empty());
    if (GetParam().skipped) continue;
    // Stored as 2213, and the record loaded again holds it.
    EXPECT_EQ(ref, StoredProperty(id, kDestSnapMoref));
    EXPECT_EQ(ref, DRInfoUtils::GetVSARepInfo(Machine(id))->GetDestinationSnapMorefProp());
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, VSAFailoverSnapshotSkip,
                         testing::Values(SSkipCase{"NotSet", nullptr, false}, SSkipCase{"Two", "2", false},
                                         SSkipCase{"One", "1", true}),
                         [](const testing::TestParamInfo<SSkipCase>& info) { return info.param.name; });

TEST_F(VSASnapshots, ADRVMWithAStoredFailoverSnapshotGetsNoSecond) {
  Seed();
  Property(101, kDestSnapMoref, "earlier-ref");
  Reload();
  SDROperationCtx ctx = Ctx();
  EXPECT_TRUE(C().CreateFailoverSnapshots(ctx, true));
  EXPECT_TRUE(Logged("OB_FAILOVER snapshot already exists with moref [earlier-ref]. Skip creating new one"));
  EXPECT_TRUE(FailoverSnapshotRef(101).empty());
  EXPECT_EQ("earlier-ref", StoredProperty(101, kDestSnapMoref));
  EXPECT_EQ(2u, LabCalls(TMMsg::VM_OPERATION_CREATE_SNAPSHOT).size());
  // Every DR VM has one now: nothing is taken, and that is a success.
  ctx = Ctx();
  EXPECT_TRUE(C().CreateFailoverSnapshots(ctx, true));
  EXPECT_EQ(2u, LabCalls(TMMsg::VM_OPERATION_CREATE_SNAPSHOT).size());
}

TEST_F(VSASnapshots, AFailedDeletionKeepsTheFailoverReferenceButNeverTheSourceOne) {
  Seed();
  SDROperationCtx ctx = Ctx();
  ASSERT_TRUE(C().CreateFailoverSnapshots(ctx, true));
  ctx = Ctx();
  ASSERT_TRUE(C().__OP(ctx, ZNDR::BATCH_OP_CREATE_SNAPSHOT_PRIMARY, false));
  for (int id : {101, 102, 103}) {
    ASSERT_TRUE(HasProperty(id, kDestSnapMoref)) << id;
    ASSERT_TRUE(HasProperty(id, kSourceSnapMoref)) << id;
  }
  FailCalls(TMMsg::VM_OPERATION_DELETE_SNAPSHOT, "dst-101");
  FailCalls(TMMsg::VM_OPERATION_DELETE_SNAPSHOT, "src-102");

  std::vector<std::string> refs;
  for (int id : {101, 102, 103}) refs.push_back(StoredProperty(id, kDestSnapMoref));
  ctx = Ctx();
  EXPECT_TRUE(C().DeleteFailoverSnapshots(ctx, false));
  EXPECT_FALSE(ctx.useStoredSnapRef);
  EXPECT_TRUE(HasProperty(101, kDestSnapMoref));
  EXPECT_FALSE(FailoverSnapshotRef(101).empty());
  for (int id : {102, 103}) {
    EXPECT_FALSE(HasProperty(id, kDestSnapMoref)) << id;
    EXPECT_TRUE(FailoverSnapshotRef(id).empty()) << id;
  }
  // Each DR VM was sent its own stored reference.
  EXPECT_EQ((std::vector<std::string>{"dst-101 __OB_FAILOVER__ " + refs[0], "dst-102 __OB_FAILOVER__ " + refs[1],
                                      "dst-103 __OB_FAILOVER__ " + refs[2]}),
            SnapshotRequests(TMMsg::VM_OPERATION_DELETE_SNAPSHOT));

  // The source VM's reference goes whether its delete succeeded or not.
  ctx = Ctx({102});
  EXPECT_FALSE(C().DeleteSourceVMSnapshot(ctx, false));
  EXPECT_FALSE(HasProperty(102, kSourceSnapMoref));
  EXPECT_EQ(1u, Snapshots(102, 0).size());
  ctx = Ctx({103});
  EXPECT_TRUE(C().DeleteSourceVMSnapshot(ctx, false));
  EXPECT_FALSE(HasProperty(103, kSourceSnapMoref));
  EXPECT_TRUE(Snapshots(103, 0).empty());

  // A delete the kill halts never reaches the VM: the snapshot stays, and
  // its reference with it for the step that finishes the machine. A
  // clean-up, which the kill does not halt, deletes it.
  Kill();
  const size_t before = SnapshotRequests(TMMsg::VM_OPERATION_DELETE_SNAPSHOT).size();
  ctx = Ctx({101});
  EXPECT_FALSE(C().DeleteSourceVMSnapshot(ctx, false));
  EXPECT_EQ(before, SnapshotRequests(TMMsg::VM_OPERATION_DELETE_SNAPSHOT).size());
  EXPECT_TRUE(HasProperty(101, kSourceSnapMoref));
  EXPECT_EQ(1u, Snapshots(101, 0).size());
  ctx = Ctx({101});
  ctx.ignoreQuit = true;
  EXPECT_TRUE(C().DeleteSourceVMSnapshot(ctx, false));
  EXPECT_FALSE(HasProperty(101, kSourceSnapMoref));
  EXPECT_TRUE(Snapshots(101, 0).empty());
}

TEST_F(VSASnapshots, APointInTimeRevertTriesEachMatchingSnapshotWithItsOwnReference) {
  Seed();
  AddSnapshot(101, 1, "x_420", 420);
  AddSnapshot(101, 1, "42_x", 4200);
  const std::string first = AddSnapshot(101, 1, "x_42", 1);
  const std::string second = AddSnapshot(101, 1, "y_42", 2);
  FailCalls(TMMsg::VM_OPERATION_REVERT_SNAPSHOT, "dst-101", 1, 1);
  unsigned long pointInTime = 42;
  SDROperationCtx ctx = Ctx({101, 102});
  EXPECT_TRUE(C().RevertPointInTimeDestinationVMSnapshot(ctx, pointInTime, true));
  // The failed attempt's record does not come back with the next attempt.
  EXPECT_EQ((std::vector<std::string>{"dst-101 x_42 " + first, "dst-101 y_42 " + second}),
            SnapshotRequests(TMMsg::VM_OPERATION_REVERT_SNAPSHOT));
  EXPECT_EQ(2, DRVM(101).content);
  EXPECT_EQ(second, StoredProperty(101, kPitSnapshot));
  EXPECT_FALSE(HasProperty(102, kPitSnapshot));

  pointInTime = 7;
  ctx = Ctx({101});
  EXPECT_FALSE(C().RevertPointInTimeDestinationVMSnapshot(ctx, pointInTime, true));
  EXPECT_TRUE(Logged("Failed to get PIT [7] snapshot to revert for VM [dst-101] on SITE [Destination]"));
}

TEST_F(VSASnapshots, PointInTimeDeletionTakesNamesEndingInANonZeroNumber) {
  Seed();
  // The lab's own point-in-time snapshots, which a failed delete keeps.
  std::vector<std::string> kept = SnapshotNames(103, 1);
  ASSERT_EQ(3u, kept.size());
  kept.push_back("z_9");
  for (const char* name : {"a_5", "b_0012", "c_0", "d_x", "plain", "e_123456789012345678901234567890",
                           "f_000000000000000000000000000000", "17"}) {
    AddSnapshot(101, 1, name);
  }
  AddSnapshot(103, 1, "z_9");
  for (int id : {101, 103}) Property(id, kPitSnapshot, "pit-of-" + std::to_string(id));
  Reload();
  FailCalls(TMMsg::VM_OPERATION_DELETE_SNAPSHOT, "dst-103");

  SDROperationCtx ctx = Ctx();
  EXPECT_FALSE(C().DeletePointInTimeDestinationVMSnapshots(ctx, false));
  EXPECT_TRUE(Logged("Deleted [2]/[3] PIT snapshots for DR VM(s) in replication list [101,102,103]"));
  EXPECT_EQ((std::vector<std::string>{"__OB_BACKUP__", "c_0", "d_x", "plain", "f_000000000000000000000000000000"}),
            SnapshotNames(101, 1));
  EXPECT_FALSE(HasProperty(101, kPitSnapshot));
  // 102 has only the lab's point-in-time snapshots and no reference in use.
  EXPECT_EQ((std::vector<std::string>{"__OB_BACKUP__"}), SnapshotNames(102, 1));
  // A failed delete keeps the reference in use.
  EXPECT_EQ("pit-of-103", StoredProperty(103, kPitSnapshot));
  EXPECT_EQ(kept, SnapshotNames(103, 1));
}

TEST_F(VSASnapshots, ReplicaSyncDirectDeletionSendsTheFirstVMsSnapshotsToThatVMOnly) {
  Seed();
  // Every DR VM starts with the lab's snapshots (the backup one and the
  // point-in-time ones).
  const std::vector<std::string> seeded = SnapshotNames(102, 1);
  const std::vector<std::string> third = SnapshotNames(103, 1);
  ASSERT_EQ(3u, seeded.size());
  AddSnapshot(101, 1, "r_1");
  AddSnapshot(101, 1, "r_2");
  AddSnapshot(102, 1, "r_1");
  SDROperationCtx ctx = Ctx();
  ctx.site = Api::DR_SITE_DESTINATION;
  EXPECT_TRUE(C().DeleteSnapshotsForReplicaSyncDirect(ctx, false, false));
  EXPECT_TRUE(SnapshotNames(101, 1).empty());
  std::vector<std::string> second = seeded;
  second.push_back("r_1");
  EXPECT_EQ(second, SnapshotNames(102, 1));
  EXPECT_EQ(third, SnapshotNames(103, 1));
  for (const std::string& sent : SnapshotRequests(TMMsg::VM_OPERATION_DELETE_SNAPSHOT)) {
    EXPECT_EQ(0u, sent.find("dst-101 ")) << sent;
  }
  const size_t first = seeded.size() + 2;
  EXPECT_EQ(first, SnapshotRequests(TMMsg::VM_OPERATION_DELETE_SNAPSHOT).size());
  EXPECT_TRUE(Logged("Successfully deleted [" + std::to_string(first) +
                     "] snapshots for vm [dst-101] on SITE [Destination]"));

  // The first delete that fails ends it: the second of these (the lab
  // counts the deletes above too).
  for (const char* name : {"s_1", "s_2", "s_3"}) AddSnapshot(101, 1, name);
  const int failing = static_cast<int>(first) + 2;
  FailCalls(TMMsg::VM_OPERATION_DELETE_SNAPSHOT, "dst-101", failing, failing);
  ctx = Ctx();
  ctx.site = Api::DR_SITE_DESTINATION;
  EXPECT_FALSE(C().DeleteSnapshotsForReplicaSyncDirect(ctx, false, false));
  EXPECT_EQ((std::vector<std::string>{"s_2", "s_3"}), SnapshotNames(101, 1));
  EXPECT_EQ(static_cast<size_t>(failing), SnapshotRequests(TMMsg::VM_OPERATION_DELETE_SNAPSHOT).size());
}

TEST_F(VSASnapshots, StaleFailoverSnapshotsGoOnlyAfterAKillAndOnlyForFailedFailovers) {
  Seed();
  SDROperationCtx ctx = Ctx();
  ASSERT_TRUE(C().CreateFailoverSnapshots(ctx, true));
  for (int id : {101, 102, 103})
    ASSERT_EQ(EStoreResult::kOk, CHypervisorLab::BumpContent(kDestInstance, VM(id).destGuid));
  Failover(101, App::VSA_FAILOVER_STATUS_FAILOVER_FAILED);
  Failover(102, App::VSA_FAILOVER_STATUS_FAILOVER_COMPLETE);
  Failover(103, App::VSA_FAILOVER_STATUS_FAILOVER_FAILED);
  Reload();
  const size_t before = LabCalls().size();

  C().CleanupStaleFailoverSnapshots(Machines());
  EXPECT_EQ(before, LabCalls().size());

  Kill();
  ASSERT_TRUE(m_jm->IsQuitFlagSet());
  C().CleanupStaleFailoverSnapshots(Machines());
  for (int id : {101, 103}) {
    SCOPED_TRACE(id);
    EXPECT_EQ(SourceVM(id).content, DRVM(id).content);
    EXPECT_TRUE(FailoverSnapshotRef(id).empty());
    EXPECT_FALSE(HasProperty(id, kDestSnapMoref));
  }
  EXPECT_NE(SourceVM(102).content, DRVM(102).content);
  EXPECT_FALSE(FailoverSnapshotRef(102).empty());
}

TEST_F(VSASnapshots, EveryRoutineClearsTheStoredReferenceSwitch) {
  Seed();
  Property(101, kDestSnapMoref, "ref-d");
  Property(101, kSourceSnapMoref, "ref-s");
  Reload();
  using Routine = std::function<bool(CVSAStepTestContext&, SDROperationCtx&)>;
  const struct {
    const char* name;
    Routine run;
  } routines[] = {
      {"RevertFailover",
       [](CVSAStepTestContext& c, SDROperationCtx& x) { return c.RevertFailoverSnapshots(x, false); }},
      {"DeleteFailover",
       [](CVSAStepTestContext& c, SDROperationCtx& x) { return c.DeleteFailoverSnapshots(x, false); }},
      {"CleanupFailover",
       [](CVSAStepTestContext& c, SDROperationCtx& x) { return c.CleanupFailoverSnapshots(x, false); }},
      {"RevertSource", [](CVSAStepTestContext& c, SDROperationCtx& x) { return c.RevertSourceVMSnapshot(x, false); }},
      {"DeleteSource", [](CVSAStepTestContext& c, SDROperationCtx& x) { return c.DeleteSourceVMSnapshot(x, false); }},
      {"CleanupSource",
       [](CVSAStepTestContext& c, SDROperationCtx& x) { return c.CleanupSourceVMSnapshots(x, false); }},
  };
  // With a stored reference (whose snapshot the lab does not have: the
  // steps fail) and without one.
  for (int id : {101, 102}) {
    for (const auto& routine : routines) {
      SCOPED_TRACE(std::string(routine.name) + " on " + std::to_string(id));
      SDROperationCtx ctx = Ctx({id});
      routine.run(C(), ctx);
      EXPECT_FALSE(ctx.useStoredSnapRef);
    }
  }
  // The revert and delete took each machine's stored reference.
  const std::vector<std::string> reverts = SnapshotRequests(TMMsg::VM_OPERATION_REVERT_SNAPSHOT);
  ASSERT_FALSE(reverts.empty());
  EXPECT_EQ("dst-101 __OB_FAILOVER__ ref-d", reverts.front());
}

TEST_F(VSASnapshots, NoMachineOrNoRecordNeverCrashes) {
  Seed();
  std::unique_ptr<CDRInfo> orphan = Orphan(999);
  using Routine = std::function<bool(CVSAStepTestContext&, SDROperationCtx&)>;
  const struct {
    const char* name;
    Routine run;
    bool empty;     // the result without a machine
    bool noRecord;  // with a machine that has no replication record
  } cases[] = {
      {"Backup", [](CVSAStepTestContext& c, SDROperationCtx& x) { return c.Backup(x); }, false, false},
      {"BackupResults", [](CVSAStepTestContext& c, SDROperationCtx& x) { return c.GetVSABkpJobResults(0, x); }, false,
       false},
      {"CreateFailover", [](CVSAStepTestContext& c, SDROperationCtx& x) { return c.CreateFailoverSnapshots(x, false); },
       true, false},
      {"RevertFailover", [](CVSAStepTestContext& c, SDROperationCtx& x) { return c.RevertFailoverSnapshots(x, false); },
       false, false},
      {"DeleteFailover", [](CVSAStepTestContext& c, SDROperationCtx& x) { return c.DeleteFailoverSnapshots(x, false); },
       true, true},
      {"RevertSource", [](CVSAStepTestContext& c, SDROperationCtx& x) { return c.RevertSourceVMSnapshot(x, false); },
       true, true},
      {"DeleteSource", [](CVSAStepTestContext& c, SDROperationCtx& x) { return c.DeleteSourceVMSnapshot(x, false); },
       true, true},
      {"DeletePointInTime",
       [](CVSAStepTestContext& c, SDROperationCtx& x) { return c.DeletePointInTimeDestinationVMSnapshots(x, false); },
       true, true},
      {"Sync", [](CVSAStepTestContext& c, SDROperationCtx& x) { return c.Sync(x); }, false, false},
      {"Populate",
       [](CVSAStepTestContext& c, SDROperationCtx& x) {
         SDRSnapshotInfo* out = nullptr;
         return c.PopulateSnapshotInfo(x, out);
       },
       false, false},
      {"RevertPointInTime",
       [](CVSAStepTestContext& c, SDROperationCtx& x) {
         unsigned long pit = 42;
         return c.RevertPointInTimeDestinationVMSnapshot(x, pit, false);
       },
       false, false},
      {"ListSnapshots",
       [](CVSAStepTestContext& c, SDROperationCtx& x) {
         std::vector<EVGui::VMSnapshot> out;
         return c.GetSnapshotsListForVM(x, x.GetInfo(), out);
       },
       false, false},
      {"ReplicaSyncDirect",
       [](CVSAStepTestContext& c, SDROperationCtx& x) {
         return c.DeleteSnapshotsForReplicaSyncDirect(x, false, false);
       },
       false, false},
      {"DRVMAction",
       [](CVSAStepTestContext& c, SDROperationCtx& x) {
         return c.DRVMAction(x, Api::VIRTUAL_APP_PHASE_DELETE_DR_VIRTUAL_MACHINE, false);
       },
       true, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SDROperationCtx none;
    none.priority = Priority();
    EXPECT_EQ(c.empty, c.run(C(), none));
    SDROperationCtx alone;
    alone.priority = Priority();
    alone.drInfoList.assign(1, orphan.get());
    EXPECT_EQ(c.noRecord, c.run(C(), alone));
  }
  EXPECT_TRUE(LabCalls().empty());
}

}  // namespace
