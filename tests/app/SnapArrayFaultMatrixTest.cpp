// The fault matrix of the storage-array DR types: each case plants one
// fault on the array or hypervisor lab (or steers a kill into a wait), runs
// the DR job end to end and passes the checks every fault-matrix case makes
// (tests/FaultMatrixChecks.h), then the storage-array ones: the failover
// (or test-failover) status of each machine, its source VM, its DR VM and
// the afile it mounts, the relationships, the subclients' activity and
// every datastore lock free.
#include <map>
#include <string>
#include <vector>

#include "FaultMatrixChecks.h"
#include "TestSupport.h"
#include "TestThread.h"
#include "app/SnapArrayLabFixture.h"
#include "array/ArrayLunStore.h"
#include "array/ArrayStore.h"
#include "core/RunFolder.h"
#include "jobs/JobStore.h"
#include "jobsim/JobSimulator.h"
#include "log/LogSink.h"

namespace {

using namespace faultmatrix;  // the final states
constexpr auto kUndo = TMMsg::DR_ORCHESTRATION_UNDO_FAILOVER;
constexpr int kComplete = App::VSA_FAILOVER_STATUS_FAILOVER_COMPLETE;
constexpr int kFailoverFailed = App::VSA_FAILOVER_STATUS_FAILOVER_FAILED;
constexpr const char* kMirrored = "snapmirrored";
constexpr const char* kBroken = "broken-off";

bool IsMountType(TMMsg::DROrchestrationType type) {
  return type == kPlanned || type == kUnplanned || type == TMMsg::DR_ORCHESTRATION_TEST_FAILOVER;
}

// How one machine ends: its failover status (test-failover status for the
// test types), its source VM, and whether its snapshot is mounted as its
// DR VM.
struct SMachineEnd {
  int status;
  bool sourceOn;
  bool mounted;
};

// How the lab ends: machines 1 and 2, the relationships of ds1 and ds2, and
// whether subclients 21 and 22 back up.
struct SArrayEnd {
  SMachineEnd machines[2];
  const char* mirror[2];
  bool subclientEnabled[2];
};

class CSnapArrayFaultMatrix : public CSnapArrayLabFixture {
 protected:
  void TearDown() override {
    m_steer.Stop();
    CSnapArrayLabFixture::TearDown();
  }

  // Machine 1 on ds1, machine 2 on ds2; in subclient groups 21 and 22 when
  // twoGroups, else both in 21.
  void SeedTwo(bool twoGroups = false) {
    m_twoGroups = twoGroups;
    Seed({{1, {"ds1"}}, {2, {"ds2"}, twoGroups ? 22 : 21}});
  }

  // The job (the next RunJob's) is killed once ready() holds; when then is
  // given it runs after the kill.
  void KillWhen(std::function<bool()> ready, std::function<void()> then = nullptr) {
    StopWhen(1, std::move(ready), std::move(then));
  }
  // As KillWhen, suspending the job.
  void SuspendWhen(std::function<bool()> ready, std::function<void()> then = nullptr) {
    StopWhen(2, std::move(ready), std::move(then));
  }

  // Runs the job (the last one's restart with a restart string), then
  // (after afterRun: another process's lock given back) the checks of every
  // case.
  int32_t Run(TMMsg::DROrchestrationType type, const std::function<void()>& afterRun = nullptr,
              const std::string& restart = "") {
    CLogSink::Instance().ClearCapture();
    m_type = type;
    const int32_t state = RunJob(type, restart);
    if (m_steer.Started()) {
      EXPECT_TRUE(m_steer.Join()) << "the steering thread did not end";
    }
    if (afterRun) afterRun();
    faultmatrix::CheckEnd(JobId(), state, Machines());
    EXPECT_TRUE(EveryDatastoreLockFree());
    EXPECT_EQ(0, CHypervisorLab::MountOverlaps());
    // A machine a failover did not complete leaves no mount behind.
    if (IsMountType(type)) {
      for (CDRInfo* info : Machines()) {
        if (info->IsSuccess()) continue;
        EXPECT_NE(SSnapAfile::kMountedByDR, AfileOf(info->GetReplId()).mountStatus) << info->GetReplId();
        EXPECT_FALSE(DRVMExists(info->GetReplId())) << info->GetReplId();
      }
    }
    return state;
  }

  void CheckEnd(const SArrayEnd& end) const {
    const bool test =
        m_type == TMMsg::DR_ORCHESTRATION_TEST_FAILOVER || m_type == TMMsg::DR_ORCHESTRATION_UNDO_TEST_FAILOVER;
    for (int id : {1, 2}) {
      SCOPED_TRACE("machine " + std::to_string(id));
      const SMachineEnd& m = end.machines[id - 1];
      EXPECT_EQ(m.status, test ? TestFailoverStatus(id) : FailoverStatus(id));
      EXPECT_EQ(m.sourceOn, SourceOn(id));
      EXPECT_EQ(m.mounted, DRVMExists(id));
      EXPECT_EQ(m.mounted, AfileOf(id).mountStatus == SSnapAfile::kMountedByDR);
    }
    EXPECT_EQ(end.mirror[0], MirrorState("ds1"));
    EXPECT_EQ(end.mirror[1], MirrorState("ds2"));
    EXPECT_EQ(end.subclientEnabled[0], SubclientEnabled(21));
    if (m_twoGroups) {
      EXPECT_EQ(end.subclientEnabled[1], SubclientEnabled(22));
    }
  }

  // After a kill that the other machine may have outrun: the job ended
  // completed with errors when a machine got through, else KILLED; a machine
  // that got through is failed over, the other failed with nothing mounted.
  void CheckKilled(int32_t state) {
    const faultmatrix::SCounts counts = faultmatrix::Counts(Machines());
    EXPECT_EQ(counts.succeeded > 0 ? kCWE : kKilled, state) << faultmatrix::LoggedErrors();
    EXPECT_GT(counts.failed, 0);
    for (int id : {1, 2}) {
      const bool done = Machine(id)->IsSuccess();
      EXPECT_EQ(done ? kComplete : kFailoverFailed, FailoverStatus(id)) << id;
      EXPECT_EQ(done, DRVMExists(id)) << id;
    }
  }

  // A failover of both machines, checked, for an undo to start from.
  void FailOver() {
    ASSERT_EQ(kSuccess, RunJob(kPlanned)) << faultmatrix::LoggedErrors();
  }

  // dr_mutex_helper holding the lock of a datastore.
  static bool HoldElsewhere(drtest::CChildProcess& holder, const std::string& name) {
    if (!holder.Start({DR_MUTEX_HELPER, CRunFolder::LockPath(), name, "hold"})) return false;
    std::string line;
    return holder.ReadLine(line) && line == "LOCKED";
  }

  static void FailBreaks(const std::string& ds, int count = SRelationshipFaults::kAlways) {
    SRelationshipFaults faults;
    faults.breakFails = count;
    ASSERT_EQ(EStoreResult::kOk, CArrayRelationshipStore::SetFaults(kArray, Path(ds), faults));
  }

  static void PlantLabFault(int opType, const std::string& vm, ELabFault kind) {
    SLabFault fault;
    fault.opType = opType;
    fault.vm = vm;
    fault.kind = kind;
    fault.code = 7100;
    fault.text = "planted failure";
    ASSERT_TRUE(CHypervisorLab::AddFault(fault));
  }

  TMMsg::DROrchestrationType m_type = kPlanned;
  bool m_twoGroups = false;

 private:
  void StopWhen(int controlOp, std::function<bool()> ready, std::function<void()> then) {
    const long long job = JobId() == 0 ? kJob : JobId() + 1;
    m_steer.Start(job, std::move(ready), [job, controlOp, then] {
      CJobStore::SetControlOperation(job, controlOp);
      if (then) then();
    });
  }

 protected:
  CFaultSteer m_steer;
};

// Machines' ends the cases share.
constexpr SMachineEnd kFailedOver{kComplete, false, true};
constexpr SMachineEnd kPoweredBack{kFailoverFailed, true, false};
constexpr SMachineEnd kLeftDown{kFailoverFailed, false, false};
constexpr SMachineEnd kRevertedEnd{App::VSA_FAILOVER_STATUS_REVERT_FAILOVER_COMPLETE, true, false};

class E2ESnapArrayFaultMatrix : public CSnapArrayFaultMatrix {};

// ---- the array -----------------------------------------------------------------

TEST_F(E2ESnapArrayFaultMatrix, AnUnreachableArrayFailsEveryTypeThatNeedsItAndLeavesTheRestAlone) {
  SeedTwo();
  ASSERT_EQ(EStoreResult::kOk, CArrayStore::SetReachable(kArray, false));
  // Planned: nothing can be broken, so nothing was; the sources come back.
  EXPECT_EQ(kFailed, Run(kPlanned)) << faultmatrix::LoggedErrors();
  CheckEnd({{kPoweredBack, kPoweredBack}, {kMirrored, kMirrored}, {true, true}});
  // Unplanned: the sources were shut down and stay so.
  EXPECT_EQ(kFailed, Run(kUnplanned)) << faultmatrix::LoggedErrors();
  CheckEnd({{kLeftDown, kLeftDown}, {kMirrored, kMirrored}, {true, true}});
  // A test failover does not touch the array.
  ASSERT_EQ(EStoreResult::kOk, CArrayStore::SetReachable(kArray, true));
  FailOver();
  ASSERT_EQ(EStoreResult::kOk, CArrayStore::SetReachable(kArray, false));
  // Undo: the DR VMs are unmounted before the array is needed; the LUN
  // check cannot reach it and fails the machines; the rest stays failed
  // over.
  EXPECT_EQ(kFailed, Run(kUndo)) << faultmatrix::LoggedErrors();
  EXPECT_TRUE(Logged("FilterLunMappedVMs either failed or returned an empty vm list. Cannot continue UNDO-FAILOVER"));
  CheckEnd({{kLeftDown, kLeftDown}, {kBroken, kBroken}, {false, false}});
}

TEST_F(E2ESnapArrayFaultMatrix, ATestFailoverNeedsNoArray) {
  SeedTwo();
  ASSERT_EQ(EStoreResult::kOk, CArrayStore::SetReachable(kArray, false));
  EXPECT_EQ(kSuccess, Run(TMMsg::DR_ORCHESTRATION_TEST_FAILOVER)) << faultmatrix::LoggedErrors();
  const SMachineEnd testMounted{App::DR_TEST_FAILOVER_STATUS_COMPLETE, true, true};
  CheckEnd({{testMounted, testMounted}, {kMirrored, kMirrored}, {true, true}});
}

// A break that fails after the last backup and copy: the sources are not
// powered back (they no longer hold the latest data alone).
TEST_F(E2ESnapArrayFaultMatrix, ABreakFailingInOneOfTwoGroupsFailsOnlyThatGroup) {
  for (auto type : {kPlanned, kUnplanned}) {
    SCOPED_TRACE(type);
    SeedTwo(true);
    FailBreaks("ds1");
    EXPECT_EQ(kCWE, Run(type)) << faultmatrix::LoggedErrors();
    CheckEnd({{kLeftDown, kFailedOver}, {kMirrored, kBroken}, {true, false}});
    EXPECT_TRUE(Logged("Exhausted retries for DR VOLUME ACTION. Failing Operation"));
    if (type == kPlanned) {
      TearDown();
      SetUp();
    }
  }
}

TEST_F(E2ESnapArrayFaultMatrix, ABreakFailingAlwaysFailsTheJobWithNothingMounted) {
  for (auto type : {kPlanned, kUnplanned}) {
    SCOPED_TRACE(type);
    SeedTwo();
    FailBreaks("ds1");
    FailBreaks("ds2");
    EXPECT_EQ(kFailed, Run(type)) << faultmatrix::LoggedErrors();
    CheckEnd({{kLeftDown, kLeftDown}, {kMirrored, kMirrored}, {true, true}});
    if (type == kPlanned) {
      TearDown();
      SetUp();
    }
  }
}

TEST_F(E2ESnapArrayFaultMatrix, AReSyncFailingStopsTheUndoWithTheSourcesDown) {
  Seed({{1, {"ds1", "ds2"}}, {2, {"ds2"}}});
  FailOver();
  SRelationshipFaults faults;
  faults.resyncFails = SRelationshipFaults::kAlways;
  ASSERT_EQ(EStoreResult::kOk, CArrayRelationshipStore::SetFaults(kArray, Path("ds1"), faults));
  EXPECT_EQ(kFailed, Run(kUndo)) << faultmatrix::LoggedErrors();
  const SMachineEnd unmounted{App::VSA_FAILOVER_STATUS_REVERT_FAILOVER_FAILED, false, false};
  CheckEnd({{unmounted, unmounted}, {kBroken, kMirrored}, {false, false}});
}

TEST_F(E2ESnapArrayFaultMatrix, ALUNThatStaysMappedFailsOnlyItsMachinesUndo) {
  SeedTwo();
  FailOver();
  ASSERT_EQ(EStoreResult::kOk, CArrayLunStore::SetUnmapFails(kArray, "vol_ds1/lun0", true));
  EXPECT_EQ(kCWE, Run(kUndo)) << faultmatrix::LoggedErrors();
  EXPECT_TRUE(Logged("Failing vm as one or more LUNs are mapped for replication [1]."));
  CheckEnd({{kLeftDown, kRevertedEnd}, {kBroken, kMirrored}, {true, false}});
}

// ---- the mounts ----------------------------------------------------------------

TEST_F(E2ESnapArrayFaultMatrix, AMountAnsweringMountedElsewhereOnceIsRetried) {
  for (auto type : {kPlanned, kUnplanned, TMMsg::DR_ORCHESTRATION_TEST_FAILOVER}) {
    SCOPED_TRACE(type);
    SeedTwo();
    PlantLabFault(TMMsg::VM_OPERATION_SNAP_MOUNT, Guid(1), ELabFault::kMountedElsewhere);
    EXPECT_EQ(kSuccess, Run(type)) << faultmatrix::LoggedErrors();
    EXPECT_TRUE(Logged("Snap is mounted using a proxy client other than"));
    if (type == TMMsg::DR_ORCHESTRATION_TEST_FAILOVER) {
      const SMachineEnd testMounted{App::DR_TEST_FAILOVER_STATUS_COMPLETE, true, true};
      CheckEnd({{testMounted, testMounted}, {kMirrored, kMirrored}, {true, true}});
    } else {
      CheckEnd({{kFailedOver, kFailedOver}, {kBroken, kBroken}, {false, false}});
    }
    TearDown();
    SetUp();
  }
}

// Only the group whose backup failed gets its sources back: the other
// group's broke and mounted.
TEST_F(E2ESnapArrayFaultMatrix, TheBackupOfOneOfTwoGroupsFailingPowersBackOnlyThatGroup) {
  SeedTwo(true);
  m_steer.Start(
      kJob,
      [] {
        for (const SChildJobRecord& job : drtest::ChildJobsOf(EChildJobType::kBackup)) {
          if (job.applicationId == 21) return true;
        }
        return false;
      },
      [] {
        for (const SChildJobRecord& job : drtest::ChildJobsOf(EChildJobType::kBackup)) {
          if (job.applicationId == 21) CJobSimulator::Fail(job.jobId, "planted backup failure");
        }
      });
  EXPECT_EQ(kCWE, Run(kPlanned)) << faultmatrix::LoggedErrors();
  CheckEnd({{kPoweredBack, kFailedOver}, {kMirrored, kBroken}, {true, false}});
  EXPECT_TRUE(Logged("Proceeding to power back source vms for failed pairs ..."));
}

// ---- kills at each wait, and another process's datastore lock ----------------

class SnapArrayFaultMatrixConcurrency : public CSnapArrayFaultMatrix {};

// Killed while the last backup or copy runs: nothing was broken, so the
// sources come back.
TEST_F(SnapArrayFaultMatrixConcurrency, AKillAtTheBackupOrCopyWaitPowersTheSourcesBack) {
  for (EChildJobType child : {EChildJobType::kBackup, EChildJobType::kAuxCopy}) {
    SCOPED_TRACE(static_cast<int>(child));
    SeedTwo();
    KillWhen([child] {
      for (const SChildJobRecord& job : drtest::ChildJobsOf(child)) {
        if (!job.ended) return true;
      }
      return false;
    });
    EXPECT_EQ(kKilled, Run(kPlanned)) << faultmatrix::LoggedErrors();
    CheckEnd({{kPoweredBack, kPoweredBack}, {kMirrored, kMirrored}, {true, true}});
    if (child == EChildJobType::kBackup) {
      TearDown();
      SetUp();
    }
  }
}

TEST_F(SnapArrayFaultMatrixConcurrency, AKillAtTheVolumeActionRetryFailsTheBreak) {
  SeedTwo();
  FailBreaks("ds1");
  KillWhen([] { return Logged("Waiting [30] seconds before (re)trying DR VOLUME ACTION ..."); });
  EXPECT_EQ(kKilled, Run(kPlanned)) << faultmatrix::LoggedErrors();
  EXPECT_TRUE(Logged("Quit flag set. Failing DR VOLUME ACTION"));
  CheckEnd({{kLeftDown, kLeftDown}, {kMirrored, kBroken}, {true, true}});
}

// The DR VMs are already unmounted when the re-sync waits; the undo stops
// at its storage step, so the sources stay down and the subclient stays
// disabled. The relationship without a fault re-synced on its first try.
TEST_F(SnapArrayFaultMatrixConcurrency, AKillAtTheReSyncRetryStopsTheUndoWithTheSourcesDown) {
  SeedTwo();
  FailOver();
  SRelationshipFaults faults;
  faults.resyncFails = SRelationshipFaults::kAlways;
  ASSERT_EQ(EStoreResult::kOk, CArrayRelationshipStore::SetFaults(kArray, Path("ds1"), faults));
  KillWhen([] { return Logged("Waiting [30] seconds before (re)trying DR VOLUME ACTION ..."); });
  EXPECT_EQ(kKilled, Run(kUndo)) << faultmatrix::LoggedErrors();
  EXPECT_TRUE(Logged("Quit flag set. Failing DR VOLUME ACTION"));
  const SMachineEnd unmounted{App::VSA_FAILOVER_STATUS_REVERT_FAILOVER_FAILED, false, false};
  CheckEnd({{unmounted, unmounted}, {kBroken, kMirrored}, {false, false}});
  for (int id : {1, 2}) {
    EXPECT_EQ(kSuccess, RowOf(id, Api::VIRTUAL_APP_PHASE_DR_VM_SNAP_UNMOUNT).status) << id;
    EXPECT_EQ(-1, RowOf(id, Api::VIRTUAL_APP_PHASE_POWER_ON).phase) << id;
  }
}

TEST_F(SnapArrayFaultMatrixConcurrency, ADatastoreLockHeldPastEveryTryFailsOnlyItsMachineOfAPlannedFailover) {
  SeedTwo();
  drtest::CChildProcess holder;
  ASSERT_TRUE(HoldElsewhere(holder, "ds1"));
  EXPECT_EQ(kCWE, Run(kPlanned, [&holder] {
              holder.CloseInput();
              holder.Wait();
            }))
      << faultmatrix::LoggedErrors();
  EXPECT_TRUE(Logged("Timed out waiting to acquire ds lock [ds1] ..."));
  CheckEnd({{kLeftDown, kFailedOver}, {kBroken, kBroken}, {false, false}});
}

TEST_F(SnapArrayFaultMatrixConcurrency, ADatastoreLockReleasedInTimeLetsTheUndoUnmount) {
  SeedTwo();
  FailOver();
  drtest::CChildProcess holder;
  ASSERT_TRUE(HoldElsewhere(holder, "ds1"));
  drtest::CTestThread releaser(
      [&] {
        ASSERT_TRUE(drtest::Eventually([] { return Logged("Waiting for ds acquisition lock [ds1] ..."); }));
        holder.CloseInput();
      },
      "releaser");
  EXPECT_EQ(kSuccess, Run(kUndo)) << faultmatrix::LoggedErrors();
  ASSERT_TRUE(releaser.Join());
  holder.Wait();
  CheckEnd({{kRevertedEnd, kRevertedEnd}, {kMirrored, kMirrored}, {true, true}});
}

TEST_F(SnapArrayFaultMatrixConcurrency, AKillWhileWaitingForADatastoreLockMountsNothingForThatMachine) {
  SeedTwo();
  drtest::CChildProcess holder;
  ASSERT_TRUE(HoldElsewhere(holder, "ds1"));
  KillWhen([] { return Logged("Waiting for ds acquisition lock [ds1] ..."); });
  const int32_t state = Run(kPlanned, [&holder] {
    holder.CloseInput();
    holder.Wait();
  });
  CheckKilled(state);
  EXPECT_FALSE(Machine(1)->IsSuccess());
  for (int id : {1, 2}) EXPECT_FALSE(SourceOn(id)) << id;
}

// A mount or post-failover step that hangs until the kill, then ends: the
// machine does not complete, and what it mounted is unmounted.
TEST_F(SnapArrayFaultMatrixConcurrency, AKillAtAHungMountOrPostFailoverStepLeavesNoMountBehind) {
  struct {
    TMMsg::DROrchestrationType type;
    int opType;
    std::string vm;
  } const cases[] = {
      {kPlanned, TMMsg::VM_OPERATION_SNAP_MOUNT, Guid(1)},
      {kUnplanned, TMMsg::VM_OPERATION_SNAP_MOUNT, Guid(1)},
      {kPlanned, TMMsg::VM_OPERATION_POST_VM_MOUNT_FAILOVER, Name(1)},
      {kUnplanned, TMMsg::VM_OPERATION_POST_VM_MOUNT_FAILOVER, Name(1)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.type) + " " + std::to_string(c.opType));
    SeedTwo();
    PlantLabFault(c.opType, c.vm, ELabFault::kHang);
    KillWhen([] { return CHypervisorLab::HungCalls() == 1; }, [] { CHypervisorLab::ReleaseHangs(); });
    const int32_t state = Run(c.type);
    CheckKilled(state);
    EXPECT_FALSE(Machine(1)->IsSuccess());
    EXPECT_FALSE(SourceOn(1));
    if (c.opType == TMMsg::VM_OPERATION_POST_VM_MOUNT_FAILOVER) {
      EXPECT_EQ(kFailed, RowOf(1, Api::VIRTUAL_APP_PHASE_POST_VM_MOUNT_FAILOVER).status);
    }
    TearDown();
    SetUp();
  }
}

// An undo test failover killed while machine 1's unmount hangs: the
// unmount under way ends once the hang does and counts; machine 2's, not yet
// started (unmounts run one machine at a time), is refused, fails the
// machine and keeps its test VM recorded, so the next undo test unmounts it.
TEST_F(SnapArrayFaultMatrixConcurrency, AKillAtAHungUnmountFailsTheUndoTestOfTheMachinesNotYetUnmounted) {
  SeedTwo();
  ASSERT_EQ(kSuccess, RunJob(TMMsg::DR_ORCHESTRATION_TEST_FAILOVER)) << faultmatrix::LoggedErrors();
  PlantLabFault(TMMsg::VM_OPERATION_SNAP_UNMOUNT, Name(1), ELabFault::kHang);
  KillWhen([] { return CHypervisorLab::HungCalls() == 1; }, [] { CHypervisorLab::ReleaseHangs(); });
  EXPECT_EQ(kCWE, Run(TMMsg::DR_ORCHESTRATION_UNDO_TEST_FAILOVER)) << faultmatrix::LoggedErrors();
  const SMachineEnd undone{App::DR_TEST_FAILOVER_STATUS_NONE, true, false};
  const SMachineEnd stillMounted{App::DR_TEST_FAILOVER_STATUS_UNDO_FAILED, true, true};
  CheckEnd({{undone, stillMounted}, {kMirrored, kMirrored}, {true, true}});
  EXPECT_TRUE(Machine(1)->IsSuccess());
  EXPECT_FALSE(Machine(2)->IsSuccess());
  const SPhaseRow refused = RowOf(2, Api::VIRTUAL_APP_PHASE_DR_VM_TEST_SNAP_UNMOUNT);
  EXPECT_EQ(kFailed, refused.status);
  EXPECT_EQ("Job kill issued", refused.failureReason);
  EXPECT_EQ(Name(2), Stored(2).GetString(Api::SnapDRReplicationInfo::kProxyVMName));

  m_steer.Stop();
  ASSERT_TRUE(CHypervisorLab::ClearFaults());
  EXPECT_EQ(kSuccess, Run(TMMsg::DR_ORCHESTRATION_UNDO_TEST_FAILOVER)) << faultmatrix::LoggedErrors();
  CheckEnd({{undone, undone}, {kMirrored, kMirrored}, {true, true}});
}

TEST_F(SnapArrayFaultMatrixConcurrency, ASuspendAtAHungUnmountLeavesTheMachinesNotYetUnmountedToTheRestart) {
  SeedTwo();
  ASSERT_EQ(kSuccess, RunJob(TMMsg::DR_ORCHESTRATION_TEST_FAILOVER)) << faultmatrix::LoggedErrors();
  PlantLabFault(TMMsg::VM_OPERATION_SNAP_UNMOUNT, Name(1), ELabFault::kHang);
  SuspendWhen([] { return CHypervisorLab::HungCalls() == 1; }, [] { CHypervisorLab::ReleaseHangs(); });
  EXPECT_EQ(kSuspended, Run(TMMsg::DR_ORCHESTRATION_UNDO_TEST_FAILOVER)) << faultmatrix::LoggedErrors();
  // Nothing is completed in a suspended job: machine 2 still has its test VM
  // and keeps its status; machine 1's unmount ended but went unrecorded.
  const SMachineEnd unmounted{App::DR_TEST_FAILOVER_STATUS_UNDO_IN_PROGRESS, true, false};
  const SMachineEnd testing{App::DR_TEST_FAILOVER_STATUS_UNDO_IN_PROGRESS, true, true};
  CheckEnd({{unmounted, testing}, {kMirrored, kMirrored}, {true, true}});
  EXPECT_FALSE(Machine(2)->IsSuccess());
  EXPECT_FALSE(Logged("DR complete for replication [2]"));

  // The restart of the same job unmounts what the suspension left mounted.
  m_steer.Stop();
  ASSERT_TRUE(CHypervisorLab::ClearFaults());
  EXPECT_EQ(kSuccess, Run(TMMsg::DR_ORCHESTRATION_UNDO_TEST_FAILOVER, nullptr, "1")) << faultmatrix::LoggedErrors();
  const SMachineEnd undone{App::DR_TEST_FAILOVER_STATUS_NONE, true, false};
  CheckEnd({{undone, undone}, {kMirrored, kMirrored}, {true, true}});
  EXPECT_EQ(kSuccess, RowOf(2, Api::VIRTUAL_APP_PHASE_DR_VM_TEST_SNAP_UNMOUNT).status);
  EXPECT_EQ(kSuccess, RowOf(1, Api::VIRTUAL_APP_PHASE_DR_VM_TEST_SNAP_UNMOUNT).status);
}

// A suspend another thread of the job finds while a machine's post-mount
// step runs (its call held here): the suspended job stores no phase from
// then on, so the step's row stays in progress when the call answers. The
// machine is not completed on that answer: its status stays for the
// restart, its mount is undone as for any machine the failover did not
// complete, and the restart ends it failed over with the row closed.
TEST_F(SnapArrayFaultMatrixConcurrency, ASuspendFoundWhileAPostMountStepRunsLeavesItsMachineToTheRestart) {
  SeedTwo();
  PlantLabFault(TMMsg::VM_OPERATION_POST_VM_MOUNT_FAILOVER, Name(1), ELabFault::kHang);
  SuspendWhen([] { return CHypervisorLab::HungCalls() == 1; },
              [this] {
                EXPECT_TRUE(m_jm->IsQuitFlagSet());
                CHypervisorLab::ReleaseHangs();
              });
  EXPECT_EQ(kSuspended, Run(kUnplanned)) << faultmatrix::LoggedErrors();
  EXPECT_FALSE(Machine(1)->IsSuccess());
  EXPECT_EQ(App::VSA_FAILOVER_STATUS_FAILOVER_IN_PROGRESS, FailoverStatus(1));
  EXPECT_EQ(Api::VIRTUAL_APP_PHASE_STATE_IN_PROGRESS, RowOf(1, Api::VIRTUAL_APP_PHASE_POST_VM_MOUNT_FAILOVER).status);

  m_steer.Stop();
  ASSERT_TRUE(CHypervisorLab::ClearFaults());
  EXPECT_EQ(kSuccess, Run(kUnplanned, nullptr, "1")) << faultmatrix::LoggedErrors();
  CheckEnd({{kFailedOver, kFailedOver}, {kBroken, kBroken}, {false, false}});
  EXPECT_EQ(kSuccess, RowOf(1, Api::VIRTUAL_APP_PHASE_POST_VM_MOUNT_FAILOVER).status);
}

}  // namespace
