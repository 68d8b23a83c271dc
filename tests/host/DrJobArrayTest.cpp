// The sample storage-array group through drjob: a run loads every record
// of the seeded lab, and the storage-array data manager, driven on that lab
// from this process, leaves relationships, LUNs and array calls that "drjob
// lab show" prints; "drjob lab down|up" takes an array. The DR types run on
// the seeded group from another process, read back through "drjob lab show"
// and the owners: planned then undo failover, test then undo test, a kill
// while a mount hangs, a datastore lock another process holds, and two
// groups on one datastore failed over by two drjob processes at once.
#include <stdio.h>

#include <algorithm>
#include <atomic>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "TestThread.h"
#include "array/AfileStore.h"
#include "array/ArrayLabSeed.h"
#include "jobs/JobStore.h"
#include "jobs/LabStore.h"
#include "app/SnapArrayTestSupport.h"
#include "appmgr/SubclientActivityStore.h"
#include "core/StopState.h"
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
constexpr int kSuccess = Api::VIRTUAL_APP_PHASE_STATE_SUCCESS;

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

}  // namespace
