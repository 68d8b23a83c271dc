// The sample storage-array group through drjob: a run loads every record
// of the seeded lab, and the storage-array data manager, driven on that lab
// from this process, leaves relationships, LUNs and array calls that "drjob
// lab show" prints; "drjob lab down|up" takes an array. The DR types run on
// the seeded group from another process, read back through "drjob lab show"
// and the owners: planned then undo failover, test then undo test, a kill
// while a mount hangs, a datastore lock another process holds, and two
// groups on one datastore failed over by two drjob processes at once.
#include <signal.h>
#include <stdio.h>

#include <algorithm>
#include <atomic>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "Phases.h"
#include "TestThread.h"
#include "array/AfileStore.h"
#include "array/ArrayLabSeed.h"
#include "array/SnapReplicationStore.h"
#include "jobs/JobStore.h"
#include "jobs/LabStore.h"
#include "app/SnapArrayTestSupport.h"
#include "appmgr/SubclientActivityStore.h"
#include "core/StopState.h"
#include "db/DBConnection.h"
#include "host/CrashMatrix.h"
#include "host/CrashMatrixTypes.h"
#include "host/DrJobTestSupport.h"
#include "host/SeedArrays.h"
#include "host/SeedGroups.h"
#include "host/SeedLab.h"
#include "jobs/PhaseRowStore.h"
#include "vm/HypervisorLab.h"

namespace {

using drtest::Has;
using drtest::SResult;

constexpr long long kDRJob = 7101;

void ExpectRunOutcome(const SResult& r) {
  EXPECT_EQ(0, r.code) << r.output;
  EXPECT_TRUE(Has(r, "finished with state [0] SUCCESS")) << r.output;
}

class E2EDrJobArray : public drtest::CDrJobLabTest {
 protected:
  std::string Show() {
    const SResult show = Host("lab --db " + m_db);
    EXPECT_EQ(0, show.code) << show.output;
    return show.output;
  }
};

TEST_F(E2EDrJobArray, ARunLoadsEveryRecordOfTheSeededGroup) {
  const SResult r = Host("run --db " + m_db + " --group " + kSampleArrayGroup.name + " --type planned-failover");
  ExpectRunOutcome(r);
  const std::string log = drtest::ReadFile(m_dir + "/run/drorch.log");
  for (const SSampleArrayVM& vm : kSampleArrayVMs) {
    char line[160];
    snprintf(line, sizeof(line), " ReplicationId [%d]  Source VM %-25s ->  Volumes [1]  Datastores [1]  LastSyncedBkpJob [%lld]",
             vm.replicationId, vm.name, kSampleFirstSnapshotJobId);
    EXPECT_NE(std::string::npos, log.find(line)) << line;
  }
  EXPECT_NE(std::string::npos, log.find("JOB SUMMARY REPORT DR OPERATION"));
}

TEST_F(E2EDrJobArray, ABreakALunCheckAndAReSyncOnTheSeededLabAreWhatLabShowPrints) {
  const std::string seeded = Show();
  for (const auto& r : drtest::LabSection(seeded, "relationships")) EXPECT_EQ("snapmirrored", r.at(3));
  const auto afiles = drtest::LabSection(seeded, "afiles");
  ASSERT_EQ(std::size(kSampleArrayVMs), afiles.size());
  for (const auto& a : afiles) {
    EXPECT_EQ(std::to_string(kSampleFirstSnapshotJobId), a.at(1));
    EXPECT_EQ(std::to_string(kSampleArrayCopyId), a.at(4));
    EXPECT_EQ("79", a.at(5));
  }
  EXPECT_TRUE(drtest::LabSection(seeded, "array calls").empty());

  // The data manager of a DR job on the group, as a context drives it.
  CreateDRJob(kDRJob, kSampleArrayGroup.id);
  ZNDROrchestrationClnt client(kDRJob);
  CDRJobManager jobManager;
  ASSERT_TRUE(jobManager.Initialize(client, 0, 2));
  SDataSourceInfo source;
  source.jobId = kDRJob;
  source.drGroupId = kSampleArrayGroup.id;
  source.drType = TMMsg::DR_ORCHESTRATION_PLANNED_FAILOVER;
  source.infoSource = TMMsg::DR_OP_SOURCE_SNAP_ARRAY_REPLICATION;
  for (const SSampleArrayVM& vm : kSampleArrayVMs) source.replIds.push_back(vm.replicationId);
  source.jobManager = &jobManager;
  CSnapArrayDRReplDataMgr manager(source);
  ASSERT_TRUE(manager.LoadData(source));
  std::map<int, SSMReplicaGroup*> groups = drtest::ReplicaGroupsOf(manager, source, kSampleArrayCopyId);
  ASSERT_EQ(2u, groups.size());
  SSMReplicaGroup& first = *groups.at(71);
  SSMReplicaGroup& shared = *groups.at(72);
  // Group 71 broken with its LUN unmapped; group 72 broken and re-synced.
  ASSERT_TRUE(manager.ChangeRelationShipStatus(kSampleArrayCopyId, first, Api::VIRTUAL_APP_PHASE_BREAK_VOLUME_RELATIONSHIP,
                                               false));
  ASSERT_TRUE(manager.VerifyLUNMapping(first, true));
  ASSERT_TRUE(manager.ChangeRelationShipStatus(kSampleArrayCopyId, shared,
                                               Api::VIRTUAL_APP_PHASE_BREAK_VOLUME_RELATIONSHIP, false));
  ASSERT_TRUE(manager.ChangeRelationShipStatus(kSampleArrayCopyId, shared,
                                               Api::VIRTUAL_APP_PHASE_RESYNC_VOLUME_RELATIONSHIP, false));

  const std::string shown = Show();
  EXPECT_EQ((std::vector<std::vector<std::string>>{
                {"8", "vs_prod:vol_snap1", "vs_dr:vol_snap1", "broken-off", "idle"},
                {"8", "vs_prod:vol_snap2", "vs_dr:vol_snap2", "snapmirrored", "idle"}}),
            drtest::LabSection(shown, "relationships"));
  EXPECT_EQ((std::vector<std::vector<std::string>>{{"8", "vol_snap1", "vol_snap1/lun0", "no"},
                                                   {"8", "vol_snap2", "vol_snap2/lun0", "yes"},
                                                   {"8", "vol_snap2", "vol_snap2/lun1", "yes"}}),
            drtest::LabSection(shown, "LUNs"));
  // Every journalled call, in order, on the DR array.
  std::vector<SArrayCall> calls;
  ASSERT_EQ(EStoreResult::kOk, CArrayCallJournal::All(calls));
  const auto printed = drtest::LabSection(shown, "array calls");
  ASSERT_EQ(calls.size(), printed.size());
  std::vector<std::string> names;
  for (size_t i = 0; i < calls.size(); ++i) {
    EXPECT_EQ(std::to_string(kSampleDRArrayId), printed[i].at(1));
    EXPECT_EQ(calls[i].call, printed[i].at(2));
    // The result's words follow the call, then the arguments'.
    std::istringstream result(calls[i].result + " " + calls[i].arguments);
    std::vector<std::string> words(printed[i].begin() + 3, printed[i].end());
    std::vector<std::string> expected;
    for (std::string w; result >> w;) expected.push_back(w);
    EXPECT_EQ(expected, words);
    names.push_back(calls[i].call);
  }
  const auto count = [&](const char* call) { return std::count(names.begin(), names.end(), call); };
  EXPECT_EQ(2, count("SMBreakRelationshipCMode"));
  EXPECT_EQ(1, count("SMResyncRelationshipCMode"));
  EXPECT_EQ(1, count("UnAssignLunFromAllInitiators"));

  // The DR array taken down and up again from another process.
  SResult r = Host("lab --db " + m_db + " down " + kSampleDRArray);
  ASSERT_EQ(0, r.code) << r.output;
  EXPECT_EQ("down", drtest::LabSection(Show(), "arrays").at(1).at(4));
  EXPECT_FALSE(manager.ChangeRelationShipStatus(kSampleArrayCopyId, first,
                                                Api::VIRTUAL_APP_PHASE_RESYNC_VOLUME_RELATIONSHIP, false));
  r = Host("lab --db " + m_db + " up " + kSampleDRArray);
  ASSERT_EQ(0, r.code) << r.output;
  EXPECT_TRUE(manager.ChangeRelationShipStatus(kSampleArrayCopyId, first,
                                               Api::VIRTUAL_APP_PHASE_RESYNC_VOLUME_RELATIONSHIP, false));
  EXPECT_EQ("snapmirrored", drtest::LabSection(Show(), "relationships").at(0).at(3));
  EXPECT_EQ(5, Host("lab --db " + m_db + " down no-such-array").code);
}

// ---- the DR types on the seeded group ----

using Info = Api::SnapDRReplicationInfo;
using drtest::kSuccess;

// What "drjob lab show" says of one sample VM.
struct SArrayVMState {
  std::string sourcePower;  // "on" or "off"
  bool drVM = false;        // a VM of its name at the destination site
  std::string mount;        // the mount status of its newest afile
  std::string masterJob;    // and that afile's master job
};

class E2EDrJobArrayTypes : public E2EDrJobArray {
 protected:
  std::string RunArgs(const char* type, long long jobId) const {
    return "run --db " + m_db + " --group " + kSampleArrayGroup.name + " --type " + type + " --job-id " +
           std::to_string(jobId);
  }
  SResult Run(const char* type, long long jobId) { return Host(RunArgs(type, jobId)); }
  std::string Log() const { return drtest::ReadFile(m_dir + "/run/drorch.log"); }
  bool Logged(const std::string& text) const { return Log().find(text) != std::string::npos; }
  // The run's end, its hung lab calls released until then: a call that logs
  // its start before it reaches its hang, on a loaded machine after a
  // release, waits for the next one.
  static SResult FinishReleasingHangs(drtest::CChildProcess& run) {
    std::atomic<bool> ended(false);
    drtest::CTestThread releaser(
        [&ended] {
          do {
            CHypervisorLab::ReleaseHangs();
          } while (!drtest::Eventually([&ended] { return ended.load(); }, 20) && !CStopState::CurrentStopRequested());
        },
        "hang releaser");
    const SResult r = Finish(run);
    ended = true;
    EXPECT_TRUE(releaser.Join());
    return r;
  }

  std::map<int, SArrayVMState> VMStates() {
    const std::string shown = Show();
    std::map<int, SArrayVMState> states;
    for (const SSampleArrayVM& vm : kSampleArrayVMs) {
      SArrayVMState& state = states[vm.replicationId];
      for (const auto& row : drtest::LabSection(shown, "VMs")) {
        if (row.at(0) == std::to_string(kSampleSourceInstanceId) && row.at(1) == SampleArrayVMGuid(vm.replicationId)) {
          state.sourcePower = row.at(3);
        }
        if (row.at(0) == std::to_string(kSampleDestinationInstanceId) && row.at(2) == vm.name) state.drVM = true;
      }
      // Afiles are listed by id: the newest of the VM comes last.
      for (const auto& row : drtest::LabSection(shown, "afiles")) {
        if (row.at(3) != vm.name) continue;
        state.masterJob = row.at(1);
        state.mount = row.at(5);
      }
    }
    return states;
  }
  // "drjob lab show" of each sample VM's replication: its failover and
  // test-failover texts, as words.
  std::map<int, std::vector<std::string>> ShownStatuses() {
    std::map<int, std::vector<std::string>> statuses;
    for (const auto& row : drtest::LabSection(Show(), "storage-array replications")) {
      statuses[std::stoi(row.at(0))] = std::vector<std::string>(row.begin() + 3, row.end());
    }
    return statuses;
  }
  // And each subclient's activity: "operation state".
  std::map<int, std::string> ShownActivity() {
    std::map<int, std::string> activity;
    for (const auto& row : drtest::LabSection(Show(), "subclient activity")) {
      activity[std::stoi(row.at(0))] = row.at(1) + " " + row.at(2);
    }
    return activity;
  }
  std::vector<std::string> MirrorStates() {
    std::vector<std::string> states;
    for (const auto& row : drtest::LabSection(Show(), "relationships")) states.push_back(row.at(3));
    return states;
  }
  static Info Stored(int id) {
    Info info;
    EXPECT_EQ(EStoreResult::kOk, CArrayLab::AnsweredReplication(id, info)) << id;
    return info;
  }
  static bool SubclientEnabled(int subclientId) {
    bool enabled = true;
    // Backups (operation type 4) are what DR turns off.
    EXPECT_NE(EStoreResult::kFailed, CSubclientActivityStore::IsEnabled(subclientId, 4, enabled));
    return enabled;
  }
  static int PhaseState(long long jobId, int replicationId, int phase) {
    std::vector<SPhaseRowRecord> rows;
    EXPECT_EQ(EStoreResult::kOk, CPhaseRowStore::ReadJob(jobId, rows));
    for (const SPhaseRowRecord& row : rows) {
      if (row.replicationId == replicationId && row.phase == phase) return row.status;
    }
    return -1;
  }
  // dr_mutex_helper takes and gives back the lock of every sample datastore.
  bool EveryDatastoreLockFree() const {
    for (const SSampleArrayVM& vm : kSampleArrayVMs) {
      const SResult r = drtest::RunShell(std::string(DR_MUTEX_HELPER) + " '" + m_dir + "/locks' " + vm.datastore +
                                         " try 0 2>&1");
      if (r.output != "LOCKED\n") return false;
    }
    return true;
  }
};

constexpr long long kPlannedJob = 7201;
constexpr long long kUndoJob = 7202;

TEST_F(E2EDrJobArrayTypes, PlannedThenUndoFailoverMountOnBrokenRelationshipsAndPutEverythingBack) {
  SResult r = Run("planned-failover", kPlannedJob);
  ASSERT_EQ(0, r.code) << r.output;
  for (const std::string& state : MirrorStates()) EXPECT_EQ("broken-off", state);
  for (const auto& vm : VMStates()) {
    const int id = vm.first;
    EXPECT_EQ("off", vm.second.sourcePower) << id;
    EXPECT_TRUE(vm.second.drVM) << id;
    EXPECT_EQ("78", vm.second.mount) << id;
    // The snapshot mounted is the run's last backup, not the seeded one.
    EXPECT_NE(std::to_string(kSampleFirstSnapshotJobId), vm.second.masterJob) << id;
    EXPECT_EQ(App::VSA_FAILOVER_STATUS_FAILOVER_COMPLETE, Stored(id).GetInt32(Info::kFailoverStatus)) << id;
    for (int phase : {Api::VIRTUAL_APP_PHASE_DR_VM_SNAP_MOUNT, Api::VIRTUAL_APP_PHASE_POST_VM_MOUNT_FAILOVER}) {
      EXPECT_EQ(kSuccess, PhaseState(kPlannedJob, id, phase)) << id << " " << phase;
    }
  }
  for (int subclient : {61, 62}) EXPECT_FALSE(SubclientEnabled(subclient)) << subclient;
  EXPECT_TRUE(EveryDatastoreLockFree());
  EXPECT_EQ(0, CHypervisorLab::MountOverlaps());
  const std::vector<std::string> failedOver = {"Failover", "Complete", "-"};
  EXPECT_EQ((std::map<int, std::vector<std::string>>{{301, failedOver}, {302, failedOver}, {303, failedOver},
                                                      {304, failedOver}}),
            ShownStatuses());
  EXPECT_EQ((std::map<int, std::string>{{61, "backup disabled"}, {62, "backup disabled"}}), ShownActivity());

  r = Run("undo-failover", kUndoJob);
  ASSERT_EQ(0, r.code) << r.output;
  EXPECT_TRUE(Has(r, "finished with state [0] SUCCESS")) << r.output;
  for (const std::string& state : MirrorStates()) EXPECT_EQ("snapmirrored", state);
  for (const auto& vm : VMStates()) {
    const int id = vm.first;
    EXPECT_EQ("on", vm.second.sourcePower) << id;
    EXPECT_FALSE(vm.second.drVM) << id;
    EXPECT_EQ("79", vm.second.mount) << id;
    EXPECT_EQ(App::VSA_FAILOVER_STATUS_REVERT_FAILOVER_COMPLETE, Stored(id).GetInt32(Info::kFailoverStatus)) << id;
    EXPECT_EQ(kSuccess, PhaseState(kUndoJob, id, Api::VIRTUAL_APP_PHASE_DR_VM_SNAP_UNMOUNT)) << id;
  }
  for (int subclient : {61, 62}) EXPECT_TRUE(SubclientEnabled(subclient)) << subclient;
  EXPECT_TRUE(EveryDatastoreLockFree());
  const std::vector<std::string> reverted = {"Revert", "Failover", "Complete", "-"};
  EXPECT_EQ((std::map<int, std::vector<std::string>>{{301, reverted}, {302, reverted}, {303, reverted},
                                                      {304, reverted}}),
            ShownStatuses());
  EXPECT_EQ((std::map<int, std::string>{{61, "backup enabled"}, {62, "backup enabled"}}), ShownActivity());
}

TEST_F(E2EDrJobArrayTypes, TestFailoverThenUndoTestLeaveRelationshipsAndSourcesAlone) {
  SResult r = Run("test-failover", kPlannedJob);
  ASSERT_EQ(0, r.code) << r.output;
  for (const auto& vm : VMStates()) {
    const int id = vm.first;
    const Info info = Stored(id);
    EXPECT_EQ(App::DR_TEST_FAILOVER_STATUS_COMPLETE, info.GetInt32(Info::kTestFailoverStatus)) << id;
    EXPECT_EQ(info.GetString(Info::kSourceVMName), info.GetString(Info::kProxyVMName)) << id;
    EXPECT_FALSE(info.GetString(Info::kProxyVMGuid).empty()) << id;
    EXPECT_EQ("on", vm.second.sourcePower) << id;
    EXPECT_TRUE(vm.second.drVM) << id;
    EXPECT_EQ("78", vm.second.mount) << id;
    EXPECT_EQ(kSuccess, PhaseState(kPlannedJob, id, Api::VIRTUAL_APP_PHASE_DR_VM_TEST_SNAP_MOUNT)) << id;
  }
  for (const std::string& state : MirrorStates()) EXPECT_EQ("snapmirrored", state);
  // Each mount went to the lab with the test flag.
  std::vector<SLabCall> calls;
  ASSERT_EQ(EStoreResult::kOk, CHypervisorLab::Calls(calls));
  size_t testMounts = 0;
  for (const SLabCall& c : calls) {
    testMounts += c.opType == TMMsg::VM_OPERATION_SNAP_MOUNT && c.detail.find("test [1]") != std::string::npos;
  }
  EXPECT_EQ(std::size(kSampleArrayVMs), testMounts);
  for (const auto& shown : ShownStatuses()) {
    EXPECT_EQ((std::vector<std::string>{"-", "Test", "Failover", "Complete"}), shown.second) << shown.first;
  }

  r = Run("undo-test-failover", kUndoJob);
  ASSERT_EQ(0, r.code) << r.output;
  for (const auto& vm : VMStates()) {
    const int id = vm.first;
    EXPECT_EQ(App::DR_TEST_FAILOVER_STATUS_NONE, Stored(id).GetInt32(Info::kTestFailoverStatus)) << id;
    EXPECT_FALSE(Stored(id).Has(Info::kProxyVMName)) << id;
    EXPECT_FALSE(vm.second.drVM) << id;
    EXPECT_EQ("79", vm.second.mount) << id;
    EXPECT_EQ("on", vm.second.sourcePower) << id;
    EXPECT_EQ(kSuccess, PhaseState(kUndoJob, id, Api::VIRTUAL_APP_PHASE_DR_VM_TEST_SNAP_UNMOUNT)) << id;
  }
  EXPECT_TRUE(EveryDatastoreLockFree());
}

TEST_F(E2EDrJobArrayTypes, AKillWhileTheMountsHangEndsKilledWithEveryMountUndone) {
  // Every mount hangs until released.
  SLabFault hang;
  hang.opType = TMMsg::VM_OPERATION_SNAP_MOUNT;
  hang.toCall = 100;
  hang.kind = ELabFault::kHang;
  ASSERT_TRUE(CHypervisorLab::AddFault(hang));
  drtest::CChildProcess run;
  // Slow enough that a hung mount's own time-out (half an hour, 18 s) does
  // not end it before a loaded machine has issued the kill and the release.
  StartHost(run, RunArgs("planned-failover", kPlannedJob), "0.01");
  ASSERT_TRUE(drtest::Eventually([&] { return Logged("Begin [DR-VM Snap Mount] VM ["); }));
  const SResult kill = Host("control --db " + m_db + " --job " + std::to_string(kPlannedJob) + " kill");
  ASSERT_EQ(0, kill.code) << kill.output;
  // The job reads the kill while the mounts still hang (a machine waiting
  // for a datastore lock looks at it).
  ASSERT_TRUE(drtest::Eventually(
      [&] { return Logged("DR Job [" + std::to_string(kPlannedJob) + "] quit flag is set"); }));
  // The hung mounts end; the kill they find undoes them.
  const SResult r = FinishReleasingHangs(run);
  EXPECT_EQ(9, r.code) << r.output;
  EXPECT_TRUE(Has(r, "KILLED")) << r.output;
  EXPECT_TRUE(Logged("Unmounting snap as job kill is issued"));
  for (const auto& vm : VMStates()) {
    const int id = vm.first;
    EXPECT_FALSE(vm.second.drVM) << id;
    EXPECT_EQ("79", vm.second.mount) << id;
    EXPECT_NE(App::VSA_FAILOVER_STATUS_FAILOVER_COMPLETE, Stored(id).GetInt32(Info::kFailoverStatus)) << id;
  }
  EXPECT_TRUE(EveryDatastoreLockFree());
  EXPECT_EQ(0, CHypervisorLab::MountOverlaps());
}

TEST_F(E2EDrJobArrayTypes, ADatastoreLockAnotherProcessHoldsHoldsItsMountsBack) {
  drtest::CChildProcess holder;
  ASSERT_TRUE(holder.Start({DR_MUTEX_HELPER, m_dir + "/locks", "snap-ds3", "hold"}));
  std::string line;
  ASSERT_TRUE(holder.ReadLine(line) && line == "LOCKED") << line;
  // Every mount takes a while, so mounts that did not wait would meet.
  ASSERT_TRUE(CHypervisorLab::SetMountDurationMs(20000));
  drtest::CChildProcess run;
  StartHost(run, RunArgs("planned-failover", kPlannedJob));
  ASSERT_TRUE(drtest::Eventually([&] { return Logged("Waiting for ds acquisition lock [snap-ds3] ..."); }));
  // Nothing on the held datastore was mounted while the other process held it.
  std::vector<SLabCall> calls;
  ASSERT_EQ(EStoreResult::kOk, CHypervisorLab::Calls(calls));
  for (const SLabCall& c : calls) {
    if (c.opType != TMMsg::VM_OPERATION_SNAP_MOUNT) continue;
    EXPECT_NE(SampleArrayVMGuid(302), c.vmGuid);
    EXPECT_NE(SampleArrayVMGuid(304), c.vmGuid);
  }
  holder.CloseInput();
  ASSERT_TRUE(holder.ReadLine(line) && line == "RELEASED") << line;
  holder.Wait();
  const SResult r = Finish(run);
  EXPECT_EQ(0, r.code) << r.output;
  for (const auto& vm : VMStates()) EXPECT_EQ("78", vm.second.mount) << vm.first;
  EXPECT_EQ(0, CHypervisorLab::MountOverlaps());
  EXPECT_TRUE(EveryDatastoreLockFree());
}

// A second storage-array group whose two VMs also lie on "snap-ds3" (on a
// volume of their own), copied to copies of their own.
constexpr int kSecondGroup = 5;
constexpr int kSecondVMs[] = {311, 312};

void SeedSecondGroup() {
  SSeedArrayLab lab;
  lab.storagePolicyId = 9;
  lab.primaryCopyId = 91;
  lab.arrayCopyId = 92;
  lab.firstSnapshotJobId = 90002;
  SSeedReplicaGroup g;
  g.replicaGroupId = 73;
  g.subclientId = 63;
  g.pairId = 773;
  g.controlHostId = kSampleDRArrayId;
  g.sourceArray = kSampleProductionArray;
  g.targetArray = kSampleDRArray;
  g.sourcePath = "vs_prod:vol_snap3";
  g.targetPath = "vs_dr:vol_snap3";
  g.mappedLuns = {"vol_snap3/lun0"};
  lab.replicaGroups.push_back(g);
  Api::VirtualApp app;
  CNMessageBase& priority = app.MutableMsg(Api::VirtualApp::kConfig).AddMsg(TMMsg::DRGroupConfigFields::kPriorities);
  priority.SetInt32(TMMsg::VMGroup::kPriority, 1);
  priority.SetInt32(TMMsg::VMGroup::kContinueOnFailure, 1);
  int n = kSampleSourceSiteVMs;
  for (int id : kSecondVMs) {
    SSeedSnapVM vm;
    vm.replicationId = id;
    vm.drGroupId = kSecondGroup;
    vm.name = "snap-b" + std::to_string(id);
    vm.guid = SampleArrayVMGuid(id);
    vm.destinationEsxHost = kSampleArrayEsxHost;
    vm.subclientId = 63;
    vm.clientId = SampleArrayVMClient(id);
    vm.applicationId = 106;
    vm.sourceInstanceId = kSampleSourceInstanceId;
    vm.destinationInstanceId = kSampleDestinationInstanceId;
    vm.datastores = {SSeedDatastore{"snap-ds3", 73, "", 0}};
    lab.vms.push_back(vm);
    ASSERT_TRUE(CHypervisorLab::AddVM(SampleArraySourceVM(vm, ++n)));
    CArrayLabSeed::AppendSequenceEntry(vm, priority);
  }
  std::string error;
  ASSERT_TRUE(CArrayLabSeed::AddLab(lab, error)) << error;
  std::string xml;
  ASSERT_TRUE(app.serializeUTF8(xml));
  ASSERT_TRUE(CLabStore::PutDRGroup(kSecondGroup, "SampleArrayB", xml));
}

TEST_F(E2EDrJobArrayTypes, TwoJobsOnGroupsSharingADatastoreNeverMountOnItAtOnce) {
  ASSERT_NO_FATAL_FAILURE(SeedSecondGroup());
  // Both jobs reach the shared datastore while another process holds it,
  // so they contend for it once it is free.
  drtest::CChildProcess holder;
  ASSERT_TRUE(holder.Start({DR_MUTEX_HELPER, m_dir + "/locks", "snap-ds3", "hold"}));
  std::string line;
  ASSERT_TRUE(holder.ReadLine(line) && line == "LOCKED") << line;
  ASSERT_TRUE(CHypervisorLab::SetMountDurationMs(20000));
  drtest::CChildProcess first;
  drtest::CChildProcess second;
  StartHost(first, RunArgs("test-failover", kPlannedJob));
  StartHost(second, "run --db " + m_db + " --group SampleArrayB --type test-failover --job-id " +
                        std::to_string(kUndoJob));
  ASSERT_TRUE(drtest::Eventually([&] {
    const std::string log = Log();
    return log.find("Waiting for ds acquisition lock [snap-ds3] ...") != std::string::npos &&
           log.find("ds lock(s) required for [Mount] for vm [snap-b") != std::string::npos &&
           (log.find("ds lock(s) required for [Mount] for vm [snap-app]") != std::string::npos ||
            log.find("ds lock(s) required for [Mount] for vm [snap-files]") != std::string::npos);
  }));
  holder.CloseInput();
  ASSERT_TRUE(holder.ReadLine(line) && line == "RELEASED") << line;
  holder.Wait();
  const SResult a = Finish(first);
  const SResult b = Finish(second);
  ExpectRunOutcome(a);
  ExpectRunOutcome(b);
  EXPECT_EQ(0, CHypervisorLab::MountOverlaps());
  for (const SSampleArrayVM& vm : kSampleArrayVMs) {
    EXPECT_EQ(kSuccess, PhaseState(kPlannedJob, vm.replicationId, Api::VIRTUAL_APP_PHASE_DR_VM_TEST_SNAP_MOUNT))
        << vm.replicationId;
  }
  for (int id : kSecondVMs) {
    EXPECT_EQ(kSuccess, PhaseState(kUndoJob, id, Api::VIRTUAL_APP_PHASE_DR_VM_TEST_SNAP_MOUNT)) << id;
    EXPECT_EQ(App::DR_TEST_FAILOVER_STATUS_COMPLETE, Stored(id).GetInt32(Info::kTestFailoverStatus)) << id;
  }
  EXPECT_TRUE(EveryDatastoreLockFree());
}

// Replica group vol_snap2 holds machines of both subclient groups. A group
// that reaches its relationships after the other group broke that one must
// still back up and copy its machines, or they would mount the copy's older
// snapshot and lose what the sources wrote since.
TEST_F(E2EDrJobArrayTypes, AGroupThatFindsItsSharedRelationshipBrokenByTheOtherGroupStillCopiesItsLastBackup) {
  // Group 61 is held at the shutdown of snap-web until group 62 has broken
  // the relationship they share.
  SLabFault hang;
  hang.opType = TMMsg::VM_OPERATION_SHUTDOWN;
  hang.vm = SampleArrayVMGuid(301);
  hang.kind = ELabFault::kHang;
  ASSERT_TRUE(CHypervisorLab::AddFault(hang));
  drtest::CChildProcess run;
  StartHost(run, RunArgs("planned-failover", kPlannedJob));
  ASSERT_TRUE(drtest::Eventually(
      [&] { return Logged("Break successful for Relationship Source  [vs_prod:vol_snap2] Destination  [vs_dr:vol_snap2]"); }));
  ASSERT_TRUE(CHypervisorLab::ReleaseHangs());
  const SResult r = Finish(run);
  EXPECT_EQ(0, r.code) << r.output;
  EXPECT_TRUE(Logged("were broken by this job: running the backup and copy all the same"));
  // Every machine runs from a snapshot of this job's backups, none from the
  // copy's older one.
  std::vector<SSnapAfile> afiles;
  ASSERT_EQ(EStoreResult::kOk, CAfileStore::All(afiles));
  std::map<std::string, long long> mountedFrom;
  for (const SSnapAfile& f : afiles) {
    if (f.mountStatus == SSnapAfile::kMountedByDR) mountedFrom[f.vmName] = f.masterJobId;
  }
  ASSERT_EQ(std::size(kSampleArrayVMs), mountedFrom.size());
  for (const auto& vm : mountedFrom) EXPECT_NE(kSampleFirstSnapshotJobId, vm.second) << vm.first;
  for (const auto& vm : VMStates()) {
    EXPECT_EQ(App::VSA_FAILOVER_STATUS_FAILOVER_COMPLETE, Stored(vm.first).GetInt32(Info::kFailoverStatus)) << vm.first;
  }
}

// A run killed outright after it mounted snap-app, then run again and
// killed at its first step. The priority's clean-up still finds the VM the
// earlier run mounted (under the source VM's name, whatever DR VM name the
// replication holds), though the job is quitting, and unmounts it; machines
// the earlier run completed stay failed over.
TEST_F(E2EDrJobArrayTypes, ACleanUpAfterAKillUnmountsWhatAnEarlierRunOfTheJobMounted) {
  const SResult crashed = drtest::RunShell(drtest::HostEnvironment(m_dir) +
                                           "DR_CRASH_AT='_LoadMountOpResp(): [DR-VM Snap Mount] on VM [snap-app]' " +
                                           DR_DRJOB + " " + RunArgs("planned-failover", kPlannedJob) + " 2>&1");
  ASSERT_NE(0, crashed.code) << crashed.output;
  ASSERT_EQ("78", VMStates().at(302).mount);
  // The rerun's first step (the second shutdown of the source) asks for a
  // kill and holds until the job has seen it.
  SLabFault kill;
  kill.opType = TMMsg::VM_OPERATION_SHUTDOWN;
  kill.vm = SampleArrayVMGuid(302);
  kill.fromCall = kill.toCall = 2;
  kill.kind = ELabFault::kKillJob;
  ASSERT_TRUE(CHypervisorLab::AddFault(kill));
  SLabFault hang = kill;
  hang.kind = ELabFault::kHang;
  ASSERT_TRUE(CHypervisorLab::AddFault(hang));
  drtest::CChildProcess run;
  StartHost(run, RunArgs("planned-failover", kPlannedJob), "0.01");
  ASSERT_TRUE(drtest::Eventually([&] { return Logged("DR Job [7201] quit flag is set"); }));
  const SResult r = FinishReleasingHangs(run);
  // Killed, or completed with errors when the other group's machines were
  // done before the kill.
  EXPECT_TRUE(r.code == 9 || r.code == 8) << r.output;
  EXPECT_TRUE(Logged("Adding replication [302] for mount cleanup"));
  EXPECT_FALSE(Logged("for mount cleanup as VM coudn't be found"));
  // Each machine ends either failed over or not at all: mounted, running
  // and complete, or unmounted with no DR VM and not complete.
  for (const auto& vm : VMStates()) {
    const bool complete = Stored(vm.first).GetInt32(Info::kFailoverStatus) == App::VSA_FAILOVER_STATUS_FAILOVER_COMPLETE;
    EXPECT_EQ(complete ? "78" : "79", vm.second.mount) << vm.first;
    EXPECT_EQ(complete, vm.second.drVM) << vm.first;
    if (vm.first == 302) {
      EXPECT_FALSE(complete);
    }
  }
  EXPECT_TRUE(EveryDatastoreLockFree());
}

// ---- what a DR type finds standing where another left the machines ----

using crashmatrix::EStartLab;
using crashmatrix::Picture;
using crashmatrix::PictureDiff;

class E2EDrJobArrayStandings : public crashmatrix::CCrashMatrix {
 protected:
  drtest::SResult Run(const std::vector<std::string>& env, const std::string& db, const std::string& type,
                      long long jobId) {
    int signal = 0;
    return RunHost(env, {"run", "--db", db, "--group", "SampleArray", "--type", type, "--job-id", std::to_string(jobId)},
                   signal);
  }
  // A run of the stopped job jobId again, as the restart line prints it.
  drtest::SResult Restart(const std::string& db, long long jobId) {
    int signal = 0;
    return RunHost({}, {"run", "--db", db, "--job-id", std::to_string(jobId)}, signal);
  }
  // What "drjob lab show" tells of the lab, but the array call log, which
  // every run that reads the array grows.
  std::string Shown(const std::string& db) {
    int signal = 0;
    const drtest::SResult r = RunHost({}, {"lab", "--db", db}, signal);
    EXPECT_EQ(0, r.code) << r.output;
    return r.output.substr(0, r.output.find("array calls:"));
  }
  // The command of the first line of output that holds marker.
  static std::string Printed(const drtest::SResult& r, const std::string& marker) {
    std::vector<std::string> told;
    const std::vector<std::string> commands = drtest::PrintedCommands(r.output, &told);
    for (size_t i = 0; i < commands.size(); ++i) {
      if (told[i].find(marker) != std::string::npos) return commands[i];
    }
    ADD_FAILURE() << "no command told with [" << marker << "] in:\n" << r.output;
    return "false";
  }
  static std::string PictureOf(const std::string& db) {
    CDBConnection::SetPath(db);
    const std::string picture = Picture("SampleArray");
    CDBConnection::CloseThreadConnections();
    CDBConnection::SetPath("");
    return picture;
  }
  static void SetTestFailoverStatus(const std::string& db, int status) {
    CDBConnection::SetPath(db);
    for (const SSampleArrayVM& vm : kSampleArrayVMs) {
      SSnapReplication r;
      ASSERT_EQ(EStoreResult::kOk, CSnapReplicationStore::Get(vm.replicationId, r));
      r.info.SetInt32(Api::SnapDRReplicationInfo::kTestFailoverStatus, status);
      ASSERT_EQ(EStoreResult::kOk, CSnapReplicationStore::Replace(kSampleArrayGroup.id, r.info));
    }
    CDBConnection::CloseThreadConnections();
    CDBConnection::SetPath("");
  }
  // Every machine of the group skipped for reason.
  static void ExpectEverySkipped(const drtest::SResult& r, const std::string& reason) {
    for (const SSampleArrayVM& vm : kSampleArrayVMs) {
      EXPECT_TRUE(Has(r, std::string("machine [") + vm.name + "] (replication " + std::to_string(vm.replicationId) +
                             "): skipped: " + reason))
          << vm.name << " " << reason << "\n" << r.output;
    }
  }
  // Every machine's statuses in a picture ("Failover_Complete -"), its
  // source VM running after an undo.
  static void ExpectEveryMachine(const std::string& picture, const std::string& statuses) {
    for (const SSampleArrayVM& vm : kSampleArrayVMs) {
      EXPECT_NE(std::string::npos,
                picture.find("array-repl " + std::to_string(vm.replicationId) + " " + statuses + "\n"))
          << picture;
      if (statuses.rfind("Revert", 0) == 0) {
        EXPECT_NE(std::string::npos, ("\n" + picture).find(std::string("\nvm ") + vm.name + " on ")) << picture;
      }
    }
  }
  static void ExpectNoRestart(const drtest::SResult& r) {
    EXPECT_FALSE(Has(r, "is continued by its restart")) << r.output;
  }
};

const char kTestStands[] = "Machine ineligible as its test failover stands: Test Failover status is [";

// The mount would find the test VM's name taken only after the sources are
// down and the relationships broken: the failover refuses the machines
// first, and tells the undo test failover, then itself.
TEST_F(E2EDrJobArrayStandings, AFailoverOverAStandingTestFailoverIsRefusedBeforeItChangesAnything) {
  for (const crashmatrix::SType* type : {&crashmatrix::kArrayPlannedFailover, &crashmatrix::kArrayUnplannedFailover}) {
    SCOPED_TRACE(type->type);
    const std::string db = FreshLab(EStartLab::kArrayTested);
    const std::string before = Shown(db);
    const drtest::SResult r = Run({}, db, type->type, 7);
    EXPECT_EQ(1, r.code) << r.output;
    ExpectEverySkipped(r, std::string(kTestStands) + "Test Failover Complete]");
    ExpectNoRestart(r);
    EXPECT_TRUE(Has(r, "its test failover stands: a new DR job of type [undo-test-failover] clears it, and a DR job "
                       "of type [" + type->type + "] takes it after that"))
        << r.output;
    EXPECT_EQ(before, Shown(db));
    const drtest::SResult undo =
        RunAsPrinted(Printed(r, "a new DR job of type [undo-test-failover] on DR group [SampleArray] (3) clears the "
                                "test failover of snap-web (301), snap-app (302), snap-db (303), snap-files (304), "
                                "before a DR job of type [" + type->type + "]"));
    EXPECT_EQ(0, undo.code) << undo.output;
    const drtest::SResult failover = Run({}, db, type->type, 9);
    EXPECT_EQ(0, failover.code) << failover.output;
    EXPECT_EQ("", PictureDiff(type->picture, PictureOf(db)));
  }
}

// Each status but none may leave a test VM under the DR VM's name. The undo
// test failover clears those its first attempt takes; the restart of the
// job that left one in progress is no new job's to print.
TEST_F(E2EDrJobArrayStandings, EveryStandingTestFailoverStatusKeepsTheFailoverOff) {
  const std::pair<int, const char*> statuses[] = {{1, "Test Failover Complete"},
                                                  {2, "Test Failover in Progress"},
                                                  {3, "Test Failover Failed"},
                                                  {4, "Undo-Test Failover in Progress"},
                                                  {5, "Undo-Test Failover Failed"}};
  for (const auto& status : statuses) {
    SCOPED_TRACE(status.second);
    const std::string db = FreshLab(EStartLab::kArrayTested);
    ASSERT_NO_FATAL_FAILURE(SetTestFailoverStatus(db, status.first));
    const std::string before = Shown(db);
    const drtest::SResult r = Run({}, db, "planned-failover", 7);
    EXPECT_EQ(1, r.code) << r.output;
    ExpectEverySkipped(r, std::string(kTestStands) + status.second + "]");
    ExpectNoRestart(r);
    const bool undone = status.first != 2 && status.first != 4;
    EXPECT_EQ(undone, Has(r, "clears it, and a DR job of type [planned-failover] takes it after that")) << r.output;
    EXPECT_EQ(!undone, Has(r, "no DR type that puts it where a DR job of type [planned-failover] does takes it"))
        << r.output;
    EXPECT_EQ(before, Shown(db));
  }
}

// A planned failover killed while its backup runs brings its sources back:
// nothing of it is left for an undo, which refuses every machine and
// changes nothing, instead of failing each for a DR VM that was never made
// and printing a restart that fails the same way.
TEST_F(E2EDrJobArrayStandings, AnUndoFailoverWithNothingToUndoRefusesEveryMachineBeforeItChangesAnything) {
  const std::string db = FreshLab(EStartLab::kSeeded);
  const drtest::SResult killed = Run({"DR_KILL_AT=Backup(): Waiting for backup job ["}, db, "planned-failover", 1);
  ASSERT_EQ(9, killed.code) << killed.output;
  const std::string before = Shown(db);
  const drtest::SResult undo = Run({}, db, "undo-failover", 2);
  EXPECT_EQ(1, undo.code) << undo.output;
  ExpectEverySkipped(undo, "Machine ineligible as no failover left anything of it to undo");
  ExpectNoRestart(undo);
  EXPECT_TRUE(Has(undo, "needs no next step for snap-web (301), snap-app (302), snap-db (303), snap-files (304): "
                        "already at the source, where a DR job of type [undo-failover] puts them"))
      << undo.output;
  EXPECT_EQ(before, Shown(db));
  // Its restart, run all the same, refuses them too.
  const drtest::SResult again = Restart(db, 2);
  ExpectEverySkipped(again, "Machine ineligible as no failover left anything of it to undo");
  EXPECT_EQ(before, Shown(db));
  // The killed failover's own restart still takes them over.
  const drtest::SResult restart = RunAsPrinted(Printed(killed, "is continued by its restart"));
  EXPECT_EQ(0, restart.code) << restart.output;
}

// Killed after it broke the relationships, before any mount: the sources
// are off and no mount job is recorded. The undo has no afile of a mount
// to query and re-syncs, enables and powers on all the same.
TEST_F(E2EDrJobArrayStandings, AnUndoFailoverBringsHomeAFailoverKilledBeforeItsMounts) {
  const std::string db = FreshLab(EStartLab::kSeeded);
  const drtest::SResult killed =
      Run({"DR_KILL_AT=BreakVolumeRelationship(): Break successful"}, db, "planned-failover", 1);
  ASSERT_EQ(9, killed.code) << killed.output;
  const drtest::SResult undo = Run({}, db, "undo-failover", 2);
  EXPECT_EQ(0, undo.code) << undo.output;
  const std::string picture = PictureOf(db);
  ExpectEveryMachine(picture, "Revert_Failover_Complete -");
  EXPECT_EQ(std::string::npos, picture.find("broken-off")) << picture;
}

// An unplanned failover left the machines failed, their sources off; a test
// failover then mounted their snapshots. The failover's printed restart
// must not take the test VMs for its DR VMs: it refuses them until the undo
// test failover has unmounted them, then mounts DR VMs of its own, and no
// test failover status outlives it.
TEST_F(E2EDrJobArrayStandings, AFailoverNeverAdoptsATestVMAsItsDRVM) {
  const std::string db = FreshLab(EStartLab::kSeeded);
  const drtest::SResult killed =
      Run({"DR_KILL_AT=ChangeSubclientActivity(): Changed activity for appId"}, db, "unplanned-failover", 1);
  ASSERT_EQ(9, killed.code) << killed.output;
  const drtest::SResult test = Run({}, db, "test-failover", 2);
  ASSERT_EQ(0, test.code) << test.output;
  const std::string before = Shown(db);
  const drtest::SResult refused = RunAsPrinted(Printed(killed, "is continued by its restart"));
  EXPECT_EQ(1, refused.code) << refused.output;
  ExpectEverySkipped(refused, std::string(kTestStands) + "Test Failover Complete]");
  ExpectNoRestart(refused);
  EXPECT_EQ(before, Shown(db));
  const drtest::SResult undo = RunAsPrinted(Printed(refused, "clears the test failover of"));
  EXPECT_EQ(0, undo.code) << undo.output;
  const drtest::SResult restart = Restart(db, 1);
  EXPECT_EQ(0, restart.code) << restart.output;
  EXPECT_EQ("", PictureDiff(crashmatrix::kArrayUnplannedFailover.picture, PictureOf(db)));
  const drtest::SResult back = Run({}, db, "undo-failover", 10);
  EXPECT_EQ(0, back.code) << back.output;
  ExpectEveryMachine(PictureOf(db), "Revert_Failover_Complete -");
}

// A failover whose process died left every machine "Failover in Progress".
// Another failover job refuses them, and so does its restart: only the job
// that left them under way takes them over.
TEST_F(E2EDrJobArrayStandings, ARestartTakesNoMachineAnotherJobLeftUnderWay) {
  const std::string db = FreshLab(EStartLab::kSeeded);
  const drtest::SResult crashed =
      Run({"DR_CRASH_AT=BreakVolumeRelationship(): Break successful"}, db, "planned-failover", 1);
  ASSERT_NE(0, crashed.code) << crashed.output;
  const std::string before = Shown(db);
  const drtest::SResult other = Run({}, db, "planned-failover", 7);
  EXPECT_EQ(1, other.code) << other.output;
  ExpectEverySkipped(other, "Machine ineligible as Failover Status is [Failover in Progress]");
  ExpectNoRestart(other);
  EXPECT_EQ(before, Shown(db));
  const drtest::SResult restart = Restart(db, 7);
  ExpectEverySkipped(restart, "Machine ineligible as Failover Status is [Failover in Progress]");
  ExpectNoRestart(restart);
  EXPECT_EQ(before, Shown(db));
  const drtest::SResult own = Restart(db, 1);
  EXPECT_EQ(0, own.code) << own.output;
  ExpectEveryMachine(PictureOf(db), "Failover_Complete -");
}

// The same for the test types: a test failover left "Test Failover in
// Progress", an undo test failover "Undo-Test Failover in Progress".
TEST_F(E2EDrJobArrayStandings, ARestartTakesNoTestFailoverAnotherJobLeftUnderWay) {
  struct SCase {
    const crashmatrix::SType* type;
    EStartLab start;
    const char* crashAt;
    const char* status;
  };
  const SCase cases[] = {
      {&crashmatrix::kArrayTestFailover, EStartLab::kSeeded, "DumpPhaseDetails(): [DR-VM Test Snap Mount]",
       "Test Failover in Progress"},
      {&crashmatrix::kArrayUndoTestFailover, EStartLab::kArrayTested, "DumpPhaseDetails(): [Power Off]",
       "Undo-Test Failover in Progress"}};
  for (const SCase& c : cases) {
    SCOPED_TRACE(c.type->type);
    const std::string db = FreshLab(c.start);
    const drtest::SResult crashed = Run({std::string("DR_CRASH_AT=") + c.crashAt}, db, c.type->type, 11);
    ASSERT_TRUE(Has(crashed, "on DR group [SampleArray]")) << crashed.output;
    ASSERT_NE(0, crashed.code) << crashed.output;
    const std::string before = Shown(db);
    const drtest::SResult other = Run({}, db, c.type->type, 17);
    ExpectEverySkipped(other, std::string("Machine ineligible as Test Failover status is [") + c.status + "]");
    ExpectNoRestart(other);
    EXPECT_EQ(before, Shown(db));
    const drtest::SResult restart = Restart(db, 17);
    ExpectEverySkipped(restart, std::string("Machine ineligible as Test Failover status is [") + c.status + "]");
    EXPECT_EQ(before, Shown(db));
    const drtest::SResult own = Restart(db, 11);
    EXPECT_EQ(0, own.code) << own.output;
    EXPECT_EQ("", PictureDiff(c.type->picture, PictureOf(db)));
  }
}

// A second test failover over a standing one has nothing to do: the
// machines are where it puts them, and no undo is pointed at.
TEST_F(E2EDrJobArrayStandings, ASecondTestFailoverOverAStandingOneNeedsNoNextStep) {
  const std::string db = FreshLab(EStartLab::kArrayTested);
  const drtest::SResult r = Run({}, db, "test-failover", 2);
  EXPECT_TRUE(Has(r, "needs no next step for snap-web (301), snap-app (302), snap-db (303), snap-files (304): already "
                     "in a test failover, where a DR job of type [test-failover] puts them"))
      << r.output;
  EXPECT_FALSE(Has(r, "undo-test-failover")) << r.output;
}

// ---- a DR type over what a stopped job of another type left ----

// An undo killed right after it set its fourth machine under way left every
// machine "Revert Failover Failed", still mounted at DR. The kill is stored
// while the job stands paused at that line; a kill at a later line, such as
// the third machine's re-query of its afiles, can come after a machine the
// scheduler ran ahead finished its undo. The test types refuse that status
// at admission, as the priority's own check does, and leave the lab as it
// was: refused after admission, the whole priority reached the clean-up,
// which unmounted the DR VMs of machines the job never began and printed a
// restart that did the same for ever. The undo's own restart brings the
// machines home, and a test failover then runs.
TEST_F(E2EDrJobArrayStandings, ATestTypeRefusesAFailedRevertAtAdmissionAndUnmountsNothingOfIt) {
  const std::string db = FreshLab(EStartLab::kArrayFailedOver);
  drtest::CChildProcess run;
  ASSERT_TRUE(StartHost({"DR_PAUSE_AT=UpdateFailoverStatus(): [Revert Failover in Progress] for replication [",
                         "DR_PAUSE_AT_COUNT=4"},
                        {"run", "--db", db, "--group", "SampleArray", "--type", "undo-failover", "--job-id", "2"},
                        run));
  ASSERT_TRUE(drtest::Eventually([&] { return drtest::IsStopped(run.Pid()); }));
  int signal = 0;
  const drtest::SResult kill = RunHost({}, {"control", "--db", db, "--job", "2", "kill"}, signal);
  ASSERT_EQ(0, kill.code) << kill.output;
  ASSERT_EQ(0, ::kill(run.Pid(), SIGCONT));
  const drtest::SResult killed = FinishHost(run, signal);
  ASSERT_EQ(9, killed.code) << killed.output;
  const std::string before = Shown(db);
  ASSERT_NE(std::string::npos, PictureOf(db).find("mounted vm ")) << before;
  long long jobId = 3;
  for (const char* type : {"test-failover", "undo-test-failover"}) {
    SCOPED_TRACE(type);
    const drtest::SResult r = Run({}, db, type, jobId++);
    EXPECT_EQ(1, r.code) << r.output;
    ExpectEverySkipped(r, "Machine ineligible as Failover Status for vm client is [Revert Failover Failed] in one of "
                          "the failover groups");
    ExpectNoRestart(r);
    EXPECT_EQ(before, Shown(db));
  }
  const drtest::SResult restart = RunAsPrinted(Printed(killed, "is continued by its restart"));
  EXPECT_EQ(0, restart.code) << restart.output;
  ExpectEveryMachine(PictureOf(db), "Revert_Failover_Complete -");
  const drtest::SResult test = Run({}, db, "test-failover", jobId);
  EXPECT_EQ(0, test.code) << test.output;
}

// A failover killed after its break, then an undo test failover that died
// while it powered the test VMs off: every machine "Undo-Test Failover in
// Progress". An undo failover does not own that status and leaves it as it
// found it (its clean-up turned it "Undo-Test Failover Failed"); the test
// job's restart, which the undo's stores between its two attempts do not
// take it from, then ends it.
TEST_F(E2EDrJobArrayStandings, AnUndoFailoverLeavesTheTestStatusAnotherJobLeftUnderWayToThatJobsRestart) {
  const std::string db = FreshLab(EStartLab::kSeeded);
  const drtest::SResult killed =
      Run({"DR_KILL_AT=BreakVolumeRelationship(): Break successful"}, db, "planned-failover", 1);
  ASSERT_EQ(9, killed.code) << killed.output;
  const drtest::SResult crashed =
      Run({"DR_CRASH_AT=DumpPhaseDetails(): [Power Off] on site [Destination]"}, db, "undo-test-failover", 2);
  ASSERT_TRUE(Has(crashed, "on DR group [SampleArray]")) << crashed.output;
  ASSERT_NE(0, crashed.code) << crashed.output;
  ExpectEveryMachine(PictureOf(db), "Failover_Failed Undo-Test_Failover_in_Progress");
  const drtest::SResult undo = Run({}, db, "undo-failover", 3);
  EXPECT_EQ(0, undo.code) << undo.output;
  ExpectEveryMachine(PictureOf(db), "Revert_Failover_Complete Undo-Test_Failover_in_Progress");
  const drtest::SResult restart = Restart(db, 2);
  EXPECT_EQ(0, restart.code) << restart.output;
  ExpectEveryMachine(PictureOf(db), "Revert_Failover_Complete -");
}

// A restart of an undo whose earlier attempt unmounted snap-web and snap-db
// finds their DR VMs gone, and its shut-down of them fails; the undo does
// not read that step. Suspended later, the restart tells the suspension,
// not the shut-down, as what its machines stopped at.
TEST_F(E2EDrJobArrayStandings, ASuspendedUndoRestartBlamesNoShutDownOfADRVMItsEarlierAttemptUnmounted) {
  // The kill comes after snap-web's unmount. Where the scheduler ran two
  // other machines through their whole undo before it, the job ends
  // completed with errors and has no restart: that set-up is made again.
  std::string db;
  drtest::SResult killed;
  for (int attempt = 0; attempt < 5; ++attempt) {
    db = FreshLab(EStartLab::kArrayFailedOver);
    killed =
        Run({"DR_KILL_AT=_LoadMountOpResp(): [DR-VM Snap Unmount] on VM [snap-web] [mount-"}, db, "undo-failover", 2);
    if (killed.code != 8) break;
  }
  ASSERT_EQ(9, killed.code) << killed.output;
  drtest::CChildProcess run;
  ASSERT_TRUE(StartHost({"DR_PAUSE_AT=ChangeSubclientActivity(): Changed activity for appId ["},
                        {"run", "--db", db, "--job-id", "2"}, run));
  ASSERT_TRUE(drtest::Eventually([&] { return drtest::IsStopped(run.Pid()); }));
  int signal = 0;
  const drtest::SResult suspend = RunHost({}, {"control", "--db", db, "--job", "2", "suspend"}, signal);
  ASSERT_EQ(0, suspend.code) << suspend.output;
  ASSERT_EQ(0, kill(run.Pid(), SIGCONT));
  const drtest::SResult suspended = FinishHost(run, signal);
  ASSERT_EQ(10, suspended.code) << suspended.output;
  EXPECT_FALSE(Has(suspended, "failed in phase [Shutdown]")) << suspended.output;
  // Each machine stopped at the suspension, before or after a step; one the
  // scheduler ran ahead of snap-web's unmount may have finished its undo in
  // the killed attempt.
  for (const SSampleArrayVM& vm : kSampleArrayVMs) {
    const std::string told = std::string("machine [") + vm.name + "] (replication " +
                             std::to_string(vm.replicationId) + "): ";
    EXPECT_TRUE(Has(suspended, told + "failed: the job was suspended ") ||
                (vm.name != std::string("snap-web") && Has(suspended, told + "succeeded")))
        << vm.name << "\n" << suspended.output;
  }
  const drtest::SResult restart = RunAsPrinted(Printed(suspended, "is continued by its restart"));
  EXPECT_EQ(0, restart.code) << restart.output;
  ExpectEveryMachine(PictureOf(db), "Revert_Failover_Complete -");
}

// A job whose process died right after a mount reported its DR VM left the
// record naming the master job of an earlier mount, and its restart took the
// mount over as it stood. The record names the mount the restart took over,
// so the undo (of a failover, or of a test failover) unmounts its VM: it
// queried the earlier mount's afile, found it unmounted, called the unmount
// done and left the VM in place, the machine "Failover Failed" (or the test
// VM mounted), and every later failover failed: "A VM named [snap-app]
// exists on instance [4]".
TEST_F(E2EDrJobArrayStandings, AnUndoUnmountsTheMountARestartTookOverFromItsCrashedAttempt) {
  // A failover cycle that left the records naming its mount's master job.
  std::string db = FreshLab(EStartLab::kArrayFailedOver);
  ASSERT_EQ(0, Run({}, db, "undo-failover", 2).code);
  drtest::SResult crashed =
      Run({"DR_CRASH_AT=_LoadMountOpResp(): [DR-VM Snap Mount] on VM [snap-app]"}, db, "planned-failover", 3);
  ASSERT_NE(0, crashed.code) << crashed.output;
  drtest::SResult restart = Restart(db, 3);
  ASSERT_EQ(0, restart.code) << restart.output;
  drtest::SResult undo = Run({}, db, "undo-failover", 4);
  EXPECT_EQ(0, undo.code) << undo.output;
  std::string picture = PictureOf(db);
  ExpectEveryMachine(picture, "Revert_Failover_Complete -");
  EXPECT_EQ(std::string::npos, picture.find("mounted vm ")) << picture;
  EXPECT_EQ(0, Run({}, db, "planned-failover", 5).code);

  // The same of a test failover: a test mount names the seeded backup's
  // master job; a failover killed after its break copied a newer backup and
  // mounted nothing; its undo brought the sources back.
  db = FreshLab(EStartLab::kArrayTested);
  ASSERT_EQ(0, Run({}, db, "undo-test-failover", 2).code);
  ASSERT_EQ(9, Run({"DR_KILL_AT=BreakVolumeRelationship(): Break successful"}, db, "planned-failover", 3).code);
  ASSERT_EQ(0, Run({}, db, "undo-failover", 4).code);
  crashed = Run({"DR_CRASH_AT=_LoadMountOpResp(): [DR-VM Test Snap Mount] on VM [snap-app]"}, db, "test-failover", 5);
  ASSERT_NE(0, crashed.code) << crashed.output;
  restart = Restart(db, 5);
  ASSERT_EQ(0, restart.code) << restart.output;
  undo = Run({}, db, "undo-test-failover", 6);
  EXPECT_EQ(0, undo.code) << undo.output;
  picture = PictureOf(db);
  ExpectEveryMachine(picture, "Revert_Failover_Complete -");
  EXPECT_EQ(std::string::npos, picture.find("mounted vm ")) << picture;
}

}  // namespace
