// Each DR type killed once, as drjob control kill kills it, at the moment it
// acts after a step: what drjob printed of each machine against what the
// lab holds (killtable::CKillTable). Each type whose restart resumes past a
// move is killed right after it and followed by its printed next steps,
// run as printed, up to the lab the uninterrupted run leaves. The cases
// share a start lab per test; the whole table, every type at every
// crash-matrix moment followed by its next steps, is DrJobKillTable (label
// stress).
#include <signal.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "JobSimTestSupport.h"
#include "appmgr/DatabaseHosts.h"
#include "db/DBConnection.h"
#include "host/KillTable.h"
#include "host/SeedLab.h"
#include "host/SeedReplications.h"
#include "jobs/PhaseRowStore.h"
#include "msg/MsgEnums.h"
#include "repl/ReplicationSources.h"
#include "repl/ReplicationStore.h"
#include "repl/ReplicationStatusTexts.h"
#include "vm/HypervisorLab.h"
#include "vm/VmOperation.h"
#include "vsa/VSARepInfo.h"

namespace {

using crashmatrix::SCrash;
using crashmatrix::SType;
using killtable::CKillTable;
using killtable::Joined;
using killtable::SKillOutcome;

// drjob's line of the machine, from the verdict on ("" when none).
std::string LineOf(const std::string& output, int replicationId) {
  const std::string mark = "(replication " + std::to_string(replicationId) + "): ";
  for (const std::string& line : crashmatrix::PictureLines(output)) {
    const size_t at = line.find(mark);
    if (line.rfind("drjob: DR job [", 0) == 0 && at != std::string::npos) return line.substr(at + mark.size());
  }
  return std::string();
}

size_t Occurrences(const std::string& text, const std::string& what, size_t from) {
  size_t n = 0;
  for (size_t at = text.find(what, from); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

// The type and its moment; rerun: followed by its printed next steps.
struct SKill {
  const SType* type;
  SCrash at;
  bool rerun = false;
};

// The lab of the type's group against where the type's uninterrupted run
// puts it, but for the child jobs (a stop and its next step launch more).
// runs: the case's runs (RunText), named when the lab differs.
void ExpectEndsAsUninterrupted(const SType& type, const std::string& runs) {
  auto withoutJobs = [](const std::string& picture) {
    std::string out;
    for (const std::string& line : crashmatrix::PictureLines(picture)) {
      if (line.rfind("jobs ", 0) != 0) out += line + "\n";
    }
    return out;
  };
  const std::string diff =
      crashmatrix::PictureDiff(withoutJobs(type.picture), withoutJobs(crashmatrix::Picture(type.group)));
  EXPECT_TRUE(diff.empty()) << type.type << " does not end as uninterrupted (- expected, + found):\n"
                            << diff << "the runs:\n" << runs;
}
// Each DR VM's IP address recorded with its replication, as the
// uninterrupted failover records it.
void ExpectAddressesRecorded(const SType& type) {
  std::vector<SLabVM> vms;
  ASSERT_EQ(EStoreResult::kOk, CHypervisorLab::VMs(0, vms));
  for (const SSampleVM& sample : kSampleVMs) {
    const auto drVM = std::find_if(vms.begin(), vms.end(), [&](const SLabVM& v) { return v.name == sample.destination; });
    ASSERT_NE(vms.end(), drVM) << sample.destination;
    App::VSAReplicationInfo info;
    ASSERT_EQ(EStoreResult::kOk, CReplicationStore::Find(sample.replicationId, info));
    EXPECT_EQ(CHypervisorLab::ReportedIp(*drVM), CReplicationStore::PropertyOf(info, VSARepInfo::kPropDestVMIpAddress))
        << type.type << ": replication " << sample.replicationId;
  }
}

// The kill table's cases, and a restart after a kill: the kill, then what
// drjob printed, run as printed (and the step that prints, at most two),
// one machine at a time so that the kill stops the job in the machine it
// names and leaves it to its restart. The lab must then end as
// the uninterrupted run leaves it, with what was written in the running
// workload between the kill and the next step carried to where the
// workload ends. The moment's differs are the picture's lines the next
// steps change (the child jobs they launch again).
class E2EDrJobKills : public CKillTable {
 protected:
  // The lab the case ran on.
  // crashRerunAt: the first next step is SIGKILLed after that log line, then
  // run again as printed.
  std::string KillRerunAndExpect(SType type, const SCrash& at, const std::string& crashRerunAt = std::string()) {
    type.serial = true;
    const SKillOutcome killed = KillAndExpect(type, at);
    EXPECT_NE(std::string::npos, killed.output.find("is continued by its restart")) << killed.output;
    crashmatrix::SOutcome outcome;
    outcome.runs = crashmatrix::RunText("the kill's run", killed.exitCode, 0, killed.output);
    outcome.written = WriteInWorkloads(type, killed.db);
    outcome.runs += "written after the kill in: " + Joined(outcome.written, ",") + "\n";
    if (!crashRerunAt.empty()) {
      int signal = 0;
      const std::vector<std::string> args = {"run", "--db", killed.db, "--job-id", std::to_string(crashmatrix::kJobId)};
      const drtest::SResult crashed = RunHost({"DR_CRASH_AT=" + crashRerunAt}, args, signal);
      outcome.runs += crashmatrix::RunText("DR_CRASH_AT='" + crashRerunAt + "' drjob " + Joined(args, " "),
                                           crashed.code, signal, crashed.output);
      EXPECT_EQ(SIGKILL, signal) << "the restart was not crashed at [" << crashRerunAt << "]";
    }
    FollowAndExpect(type, killed.db, killed.output, outcome, "killed at [" + at.name + "], then its next steps", at.differs);
    CDBConnection::CloseThreadConnections();
    CDBConnection::SetPath("");
    return killed.db;
  }

  // The type's lab, on which the lab's trigger suspends the job as the
  // operation op reaches vm.
  std::string LabSuspendedAt(const SType& type, int op, const std::string& vm) {
    const std::string db = LabFor(type);
    CDBConnection::SetPath(db);
    SLabFault suspend;
    suspend.opType = op;
    suspend.vm = vm;
    suspend.kind = ELabFault::kSuspendJob;
    EXPECT_TRUE(CHypervisorLab::AddFault(suspend));
    CDBConnection::CloseThreadConnections();
    CDBConnection::SetPath("");
    return db;
  }

  // The type's run on db paused right after its countth "Waiting for sync
  // job" line, steered there (whilePaused, with the sync job it waits on),
  // suspended by control suspend and let go: it ends SUSPENDED.
  void SuspendInSyncWait(const SType& type, const std::string& db, int count,
                         const std::function<void(long long)>& whilePaused, crashmatrix::SOutcome& outcome) {
    drtest::CChildProcess run;
    ASSERT_TRUE(StartHost({"DR_PAUSE_AT=RunSync(): Waiting for sync job [", "DR_PAUSE_AT_COUNT=" + std::to_string(count)},
                          RunArgs(type, db), run));
    ASSERT_TRUE(drtest::Eventually([&] { return drtest::IsStopped(run.Pid()); }));
    CDBConnection::SetPath(db);
    const std::vector<SChildJobRecord> syncs = drtest::ChildJobsOf(EChildJobType::kSync);
    CDBConnection::CloseThreadConnections();
    CDBConnection::SetPath("");
    ASSERT_FALSE(syncs.empty());
    whilePaused(syncs.back().jobId);
    int signal = 0;
    const drtest::SResult suspend =
        RunHost({}, {"control", "--db", db, "--job", std::to_string(crashmatrix::kJobId), "suspend"}, signal);
    outcome.runs += crashmatrix::RunText("control suspend", suspend.code, signal, suspend.output);
    ASSERT_EQ(0, suspend.code) << outcome.runs;
    ASSERT_EQ(0, kill(run.Pid(), SIGCONT));
    const drtest::SResult suspended = FinishHost(run, signal);
    outcome.runs += crashmatrix::RunText("the paused run", suspended.code, signal, suspended.output);
    ASSERT_EQ(10, suspended.code) << outcome.runs;
  }

  // The sync rows of the job's replications that name child (or all, when
  // child is 0) rewritten by change; false when none does.
  static bool RewriteSyncRows(const std::string& db, long long child,
                              const std::function<void(SPhaseRowChange&)>& change) {
    CDBConnection::SetPath(db);
    std::vector<SPhaseRowRecord> rows;
    EXPECT_EQ(EStoreResult::kOk, CPhaseRowStore::ReadJob(crashmatrix::kJobId, rows));
    std::vector<SPhaseRowChange> changes;
    for (const SPhaseRowRecord& row : rows) {
      if (row.phase != Api::VIRTUAL_APP_PHASE_REPLICATION) continue;
      if (child != 0 && row.details.find("&gt;" + std::to_string(child) + "&lt;") == std::string::npos &&
          row.details.find(">" + std::to_string(child) + "<") == std::string::npos) {
        continue;
      }
      SPhaseRowChange c = SPhaseRowChange::Of(row);
      change(c);
      changes.push_back(c);
    }
    const bool applied = !changes.empty() && CPhaseRowStore::Apply(changes);
    CDBConnection::CloseThreadConnections();
    CDBConnection::SetPath("");
    return applied;
  }

  // A write in each running workload, control kill, then what it prints as
  // printed (two generations at most), and the lab against the type's
  // picture with the write. The kill's output; the next steps are not run
  // when it lacks told (a child it should have killed would hold them).
  std::string KillFollowAndExpect(const SType& type, const std::string& db, crashmatrix::SOutcome& outcome,
                                  const std::string& what, const std::string& told,
                                  const SCrash::Lines& differs = {}) {
    outcome.written = WriteInWorkloads(type, db);
    outcome.runs += "written after the stop in: " + Joined(outcome.written, ",") + "\n";
    int signal = 0;
    const drtest::SResult killed =
        RunHost({}, {"control", "--db", db, "--job", std::to_string(crashmatrix::kJobId), "kill"}, signal);
    outcome.runs += crashmatrix::RunText("control kill", killed.code, signal, killed.output);
    EXPECT_EQ(0, killed.code) << outcome.runs;
    if (killed.output.find(told) == std::string::npos) {
      ADD_FAILURE() << "the kill does not say [" << told << "]:\n" << outcome.runs;
      return killed.output;
    }
    FollowAndExpect(type, db, killed.output, outcome, what, differs);
    CDBConnection::CloseThreadConnections();
    CDBConnection::SetPath("");
    return killed.output;
  }

  // The next steps output printed, run as printed (and the step that
  // prints, two at most), then the lab of db (left open) against the type's
  // picture with the case's write and differs.
  void FollowAndExpect(const SType& type, const std::string& db, std::string output, crashmatrix::SOutcome& outcome,
                       const std::string& what, const SCrash::Lines& differs) {
    for (int step = 0; step < 2; ++step) {
      const std::vector<std::string> next = drtest::PrintedCommands(output);
      if (next.empty()) break;
      const drtest::SResult run = RunAsPrinted(next.front());
      outcome.runs += crashmatrix::RunText(next.front(), run.code, 0, run.output);
      outcome.exitCode = run.code;
      outcome.output += run.output;
      output = run.output;
    }
    CDBConnection::SetPath(db);
    outcome.picture = crashmatrix::Picture(type.group);
    CheckRunsEnded(outcome);
    crashmatrix::CCrashMatrix::Expect(type, outcome, what, differs);
  }

  // The type run on db, suspended at a call on the VM (guid or name) up to
  // its toCall-th, then ended by drjob control kill, as a user ends a job
  // no process runs any more; what they printed, added to runs.
  void SuspendAtAndKill(const SType& type, const std::string& db, const std::string& vm, int toCall,
                        std::string& runs) {
    CDBConnection::SetPath(db);
    SLabFault suspend;
    suspend.opType = VmOperation::kAnyOperation;
    suspend.vm = vm;
    suspend.fromCall = 1;
    suspend.toCall = toCall;
    suspend.kind = ELabFault::kSuspendJob;
    ASSERT_TRUE(CHypervisorLab::AddFault(suspend));
    int signal = 0;
    const drtest::SResult first = RunHost({}, RunArgs(type, db), signal);
    runs += crashmatrix::RunText("the suspended run", first.code, signal, first.output);
    ASSERT_EQ(10, first.code) << runs;
    ASSERT_TRUE(CHypervisorLab::ClearFaults());
    const drtest::SResult killed =
        RunHost({}, {"control", "--db", db, "--job", std::to_string(crashmatrix::kJobId), "kill"}, signal);
    runs += crashmatrix::RunText("control kill", killed.code, signal, killed.output);
    ASSERT_EQ(0, killed.code) << runs;
  }

  // A job suspended at a call on vm, ended by control kill, then its
  // restart killed right after the line killAt.
  struct SStoppedRestart {
    std::string db;
    std::string runs;  // the suspended run's and control kill's lines
    drtest::SResult restart;
    int signal = 0;
  };
  SStoppedRestart SuspendKillAndKillTheRestart(const SType& type, const std::string& vm, const std::string& killAt) {
    SStoppedRestart stopped;
    stopped.db = LabFor(type);
    SuspendAtAndKill(type, stopped.db, vm, 1000, stopped.runs);
    CDBConnection::CloseThreadConnections();
    CDBConnection::SetPath("");
    if (HasFatalFailure()) return stopped;
    stopped.restart = RunHost({"DR_KILL_AT=" + killAt},
                              {"run", "--db", stopped.db, "--job-id", std::to_string(crashmatrix::kJobId)},
                              stopped.signal);
    return stopped;
  }
  // What the killed restart printed, followed as printed (a write in each
  // running workload first), against the uninterrupted run.
  void FollowTheStoppedRestart(const SType& type, const SStoppedRestart& restart, const std::string& killAt) {
    const SKillOutcome stopped = Stopped(type, restart.db, restart.restart, restart.signal);
    killtable::SAttempt first;
    first.exitCode = stopped.exitCode;
    first.output = stopped.output;
    first.picture = stopped.picture;
    first.nextSteps = drtest::PrintedCommands(stopped.output);
    CDBConnection::CloseThreadConnections();
    CDBConnection::SetPath("");
    const killtable::SRerunOutcome outcome = Follow(type, stopped, first, WriteInWorkloads(type, restart.db));
    ExpectRerun(type, SCrash("the restart, killed at [" + killAt + "]", killAt), outcome);
  }

  // The printed steps of the first generation run with m_stepEnv (a kill
  // point: the printed step itself stopped); theirs as printed.
  void RunNextStep(const SType& type, const std::string& db, killtable::SAttempt& attempt,
                   std::vector<std::string>& written) override {
    if (attempt.generation != 1 || m_stepEnv.empty()) {
      CKillTable::RunNextStep(type, db, attempt, written);
      return;
    }
    const drtest::SResult run = RunAsPrinted(attempt.command, m_stepEnv);
    attempt.exitCode = run.code;
    attempt.output = run.output;
    attempt.nextSteps = drtest::PrintedCommands(run.output);
  }
  std::vector<std::string> m_stepEnv;
};

TEST_F(E2EDrJobKills, TypesOnTheSeededLabKilledAsTheyActAfterAStep) {
  using namespace crashmatrix;
  const std::vector<SKill> kills = {
      // The source's power-off is let fail: the group goes on without it.
      {&kUnplannedFailover, At(kUnplannedFailover, "source off")},
      {&kPointInTimeFailover, At(kPointInTimeFailover, "reverted to the point in time")},
      {&kTestboot, At(kTestboot, "DR VM booted")},
      // The second priority removes its record with no step before it.
      {&kCleanupDestinationVM, At(kCleanupDestinationVM, "first priority removed")},
      {&kTestFailover, At(kTestFailover, "clone client set")},
      // The application types are followed by their next steps too.
      {&kDatabaseFailover, At(kDatabaseFailover, "source stopped"), true},
      {&kArrayPlannedFailover, At(kArrayPlannedFailover, "relationship broken"), true},
      // The source's shutdown is let fail, as the source site may be down.
      {&kArrayUnplannedFailover, At(kArrayUnplannedFailover, "source shut down")},
      {&kArrayTestFailover, At(kArrayTestFailover, "test mount recorded")}};
  for (const SKill& kill : kills) {
    if (kill.rerun) KillAndRerun(*kill.type, kill.at);
    if (!kill.rerun) KillAndExpect(*kill.type, kill.at);
  }
}

// The delete step of priority 2 is halted by the kill before it writes a
// row, so app-server's last row is its successful "Disable Sync": the
// priority must not take that for a deletion and remove the record of a DR
// VM that stays, nor call the machine, or the job, a success.
TEST_F(E2EDrJobKills, ACleanupKilledInPriorityTwosDeleteKeepsTheRecordOfItsDRVMAndItsNextStepFinishesIt) {
  const SKillOutcome outcome =
      KillAndExpect(crashmatrix::kCleanupDeletingDRVMs,
                    SCrash("priority 2's delete", "Setting sync status as [Sync Disabled] for replication [201]"));

  EXPECT_NE(0, outcome.exitCode) << outcome.output;
  EXPECT_EQ(std::string::npos, outcome.output.find("SUCCESS")) << outcome.output;
  EXPECT_NE(std::string::npos, outcome.picture.find("vm app-server-DR ")) << outcome.picture;
  EXPECT_NE(std::string::npos, outcome.picture.find("repl 201 - Sync_Disabled")) << outcome.picture;
  // The first priority's machines were deleted and removed before the kill.
  for (const char* gone : {"vm db-primary-DR ", "vm db-replica-DR "}) {
    EXPECT_EQ(std::string::npos, outcome.picture.find(gone)) << outcome.picture;
  }
  EXPECT_NE(std::string::npos, outcome.picture.find("repl 101 removed")) << outcome.picture;
  EXPECT_NE(std::string::npos, outcome.picture.find("repl 102 removed")) << outcome.picture;

  // The next step drjob printed, run as printed, finishes what the kill
  // stopped: app-server's DR VM deleted and its record removed.
  const std::vector<std::string> steps = drtest::PrintedCommands(outcome.output);
  ASSERT_EQ(1u, steps.size()) << outcome.output;
  const drtest::SResult next = RunAsPrinted(steps.front());
  EXPECT_EQ(0, next.code) << next.output;
  CDBConnection::SetPath(outcome.db);
  const std::string after = crashmatrix::Picture("Sample");
  EXPECT_EQ(std::string::npos, after.find("vm app-server-DR ")) << after;
  EXPECT_NE(std::string::npos, after.find("repl 201 removed")) << after;
  EXPECT_NE(std::string::npos, after.find("vm app-server on ")) << after;
}

TEST_F(E2EDrJobKills, TypesOnTheFailedOverLabKilledAsTheyActAfterAStep) {
  using namespace crashmatrix;
  const std::vector<SKill> kills = {// The failover snapshots' revert and delete are let fail.
                                    {&kRevertFailover, At(kRevertFailover, "DR VM shut down")},
                                    {&kReverseReplication, At(kReverseReplication, "source snapshot taken")}};
  for (const SKill& kill : kills) KillAndExpect(*kill.type, kill.at);
}

// A restart resumes a machine past its move on the earlier attempt's rows
// (a power-on, a restore, a post-DR operation begun): after a kill, whose
// clean-up may have undone the move behind those rows, the printed next
// steps must still end where the uninterrupted run ends, with what the
// workload wrote after the kill.
TEST_F(E2EDrJobKills, TypesOnTheSeededLabKilledAfterTheMoveEndAsUninterruptedOnceTheirNextStepsRun) {
  using namespace crashmatrix;
  // Its post-DR operations follow the power-on.
  for (const SType* type : {&kPlannedFailover, &kUnplannedFailover, &kPointInTimeFailover}) {
    KillAndRerun(*type, At(*type, "DR VM on"));
  }
}

TEST_F(E2EDrJobKills, TypesOnTheFailedOverLabKilledAfterTheMoveEndAsUninterruptedOnceTheirNextStepsRun) {
  using namespace crashmatrix;
  const std::vector<SKill> kills = {{&kFailback, At(kFailback, "restore ended")},
                                    {&kReverseReplication, At(kReverseReplication, "restore ended")},
                                    // Only the sync status is stored after the power-on.
                                    {&kUndoFailover, At(kUndoFailover, "source on")},
                                    // Its post-DR operations are under way.
                                    {&kRevertFailover, At(kRevertFailover, "source reverted")}};
  for (const SKill& kill : kills) KillAndRerun(*kill.type, kill.at);
}

// A revert stopped anywhere, by a kill or by a fault, ends through the next
// steps drjob printed with every machine either reverted (its source
// running) or undone by the undo failover (its source running, no failover
// status): none stays "Revert Failover Failed", which no revert takes again.
// What a running source held after the stop is still there at the end: no
// step reverts a source once it ran. In every run of the chain a
// "succeeded" machine is where that run's type puts it, and no run ends
// SUCCESS while it skipped a machine in "Revert Failover Failed".
TEST_F(E2EDrJobKills, ARevertStoppedAnywhereEndsRevertedOrUndoneThroughItsNextSteps) {
  using crashmatrix::kRevertFailover;
  using crashmatrix::kUndoFailover;
  struct SStop {
    const char* name;
    const char* marker;  // empty: not killed, a VM operation refused
    int count;
    int refusedOp;     // the operation refused, on the VM below
    const char* onVM;
  };
  const std::vector<SStop> stops = {
      // db-replica's revert has begun (its status set) but no step of it ran.
      {"in priority 1", "[Shutdown] on VM [db-primary-DR] GUID [dst-101] successful", 1, 0, ""},
      // The source reverted, its snapshot's deletion halted: the source
      // stays off, its snapshot and the reference to it kept for the next
      // step to remove.
      {"before the source snapshot's deletion", "[Revert Snapshot] on VM [db-primary] GUID [src-101] successful", 1, 0,
       ""},
      // The source runs: a write in it is the workload's.
      {"as the source starts", "[Power On] on VM [db-primary] GUID [src-101] successful", 1, 0, ""},
      // app-server is set in progress, then its first step halts.
      {"between priorities", "Wait before processing next priority", 1, 0, ""},
      {"app-server's source refusing its power-on", "", 0, TMMsg::VM_OPERATION_POWER_ON, "src-201"},
      // The source is started all the same, its snapshot and reference
      // gone: the undo that takes the machine next does not revert it.
      {"db-primary's source refusing its revert", "", 0, TMMsg::VM_OPERATION_REVERT_SNAPSHOT, "src-101"}};
  const std::vector<int> machines = crashmatrix::GroupReplications("Sample");
  for (const SStop& stop : stops) {
    SCOPED_TRACE(stop.name);
    std::string db;
    std::vector<std::string> written;
    // A type's picture with the writes made after the stop.
    auto withWrites = [&written](const crashmatrix::SType& type) {
      std::string picture = type.picture;
      for (const std::string& vm : written) picture = crashmatrix::WithWrite(picture, vm);
      return picture;
    };
    // Checks one run of the chain against the lab it left.
    auto check = [&](const std::string& output, const crashmatrix::SType& as) {
      CDBConnection::SetPath(db);
      const std::string picture = crashmatrix::Picture("Sample");
      for (int id : machines) {
        if (output.find("(replication " + std::to_string(id) + "): succeeded") == std::string::npos) continue;
        EXPECT_EQ(killtable::MachineLines("Sample", id, withWrites(as)), killtable::MachineLines("Sample", id, picture))
            << "replication " << id << " called succeeded:\n" << output;
      }
      if (output.find("] SUCCESS") != std::string::npos) {
        EXPECT_EQ(std::string::npos, output.find("skipped: Machine ineligible as failover Status is [Revert Failover "
                                                 "Failed]"))
            << output;
      }
    };
    std::string output;
    std::string runs;  // each run of the chain, for a lab that differs
    if (stop.marker[0] != '\0') {
      const killtable::SKillOutcome killed = KillAndExpect(kRevertFailover, SCrash(stop.name, stop.marker, stop.count));
      db = killed.db;
      output = killed.output;
      runs = crashmatrix::RunText("the kill's run", killed.exitCode, 0, killed.output);
      // Taken up, so reached, whether or not a step of it ran.
      EXPECT_EQ(std::string::npos, output.find("not reached: the job was killed before it began the machine"))
          << output;
    } else {
      db = LabFor(kRevertFailover);
      CDBConnection::SetPath(db);
      SLabFault refused;
      refused.opType = stop.refusedOp;
      refused.vm = stop.onVM;
      refused.toCall = 99;
      refused.code = 7001;
      refused.text = "injected: operation refused";
      ASSERT_TRUE(CHypervisorLab::AddFault(refused));
      int signal = 0;
      const drtest::SResult run = RunHost({}, RunArgs(kRevertFailover, db), signal);
      EXPECT_EQ(8, run.code) << run.output;
      check(run.output, kRevertFailover);
      CDBConnection::SetPath(db);
      ASSERT_TRUE(CHypervisorLab::ClearFaults());
      output = run.output;
      runs = crashmatrix::RunText("the run with the refusal", run.code, 0, run.output);
    }
    CDBConnection::CloseThreadConnections();
    CDBConnection::SetPath("");
    written = WriteInWorkloads(kRevertFailover, db);
    // At most two steps as printed, each after the one before it.
    std::vector<std::string> steps = drtest::PrintedCommands(output);
    for (int taken = 0; taken < 2 && !steps.empty(); ++taken) {
      const drtest::SResult next = RunAsPrinted(steps.front());
      runs += crashmatrix::RunText(steps.front(), next.code, 0, next.output);
      check(next.output, steps.front().find("undo-failover") != std::string::npos ? kUndoFailover : kRevertFailover);
      steps = drtest::PrintedCommands(next.output);
    }
    CDBConnection::SetPath(db);
    const std::string end = crashmatrix::Picture("Sample");
    EXPECT_EQ(std::string::npos, end.find("Revert_Failover_Failed")) << end << "the runs:\n" << runs;
    for (int id : machines) {
      const std::vector<std::string> lines = killtable::MachineLines("Sample", id, end);
      EXPECT_TRUE(lines == killtable::MachineLines("Sample", id, withWrites(kRevertFailover)) ||
                  lines == killtable::MachineLines("Sample", id, withWrites(kUndoFailover)))
          << "replication " << id << " neither reverted nor undone, or a write after the stop is lost:\n"
          << end << "the runs:\n" << runs;
    }
  }
}

TEST_F(E2EDrJobKills, ArrayUndoTypesKilledAsTheyActAfterTheirLetFailStep) {
  // The DR VMs' shutdown (power-off) before the unmount is let fail.
  KillAndRerun(crashmatrix::kArrayUndoFailover, At(crashmatrix::kArrayUndoFailover, "DR VM shut down"));
  KillAndExpect(crashmatrix::kArrayUndoTestFailover, At(crashmatrix::kArrayUndoTestFailover, "test VM off"));
}

// Unmounts run one machine at a time, each re-querying its afiles first
// ("Adding master job ..."): a kill right after the second or the fourth
// re-query keeps snap-app's or snap-files' unmount from taking its
// datastore locks. The machine's test VM stays mounted: it fails with the
// kill's reason (the others succeeded), the job ends COMPLETED WITH ERRORS,
// which acts on the kill, and the undo test failover it prints, run as
// printed, unmounts what is left.
TEST_F(E2EDrJobKills, AnUndoTestKilledAsAnUnmountTakesItsLocksFailsThatMachineAndItsNextStepUnmountsIt) {
  using crashmatrix::kArrayUndoTestFailover;
  const SCrash second = At(kArrayUndoTestFailover, "an unmount at its locks");
  const SCrash fourth("the last unmount at its locks", second.marker, 4);
  const std::vector<std::pair<SCrash, int>> cases = {{second, 302}, {fourth, 304}};
  for (const auto& c : cases) {
    const killtable::SRerunOutcome outcome = KillAndRerun(kArrayUndoTestFailover, c.first);
    const std::string& output = outcome.kill.output;
    EXPECT_EQ(8, outcome.kill.exitCode) << output;
    EXPECT_EQ(std::string::npos, output.find("was not acted on")) << output;
    EXPECT_EQ(0u, LineOf(output, c.second).find("failed in phase [DR-VM Test Snap Unmount]: Job kill issued"))
        << output;
  }
}

// A failover killed once its first machine's DR backup snapshot is
// deleted, which no clean-up can give back: the machine's one step left,
// the look-up of its DR VM's IP address, is not halted, and the machine is
// finished as the uninterrupted run finishes it, its address recorded (a
// halted look-up let it succeed without one). The kill meets db-replica
// before its post-DR operations (one machine at a time), and the next steps
// drjob prints, run as printed, end as the uninterrupted run does.
TEST_F(E2EDrJobKills, AFailoverKilledPastItsDRSnapshotsDeletionFinishesTheMachine) {
  using namespace crashmatrix;
  for (const SType* type : {&kUnplannedFailover, &kPointInTimeFailover, &kPlannedFailover}) {
    SType serial = *type;
    serial.serial = true;
    const killtable::SRerunOutcome outcome = KillAndRerun(serial, At(*type, "DR backup snapshot deleted"));
    const std::string& output = outcome.kill.output;
    EXPECT_EQ(8, outcome.kill.exitCode) << output;
    EXPECT_EQ(std::string::npos, output.find("was not acted on")) << output;
    EXPECT_EQ(0u, LineOf(output, 101).find("succeeded")) << output;
    EXPECT_EQ(0u, LineOf(output, 102).find("failed")) << output;
    CDBConnection::SetPath(outcome.kill.db);
    ExpectAddressesRecorded(*type);
    CDBConnection::CloseThreadConnections();
    CDBConnection::SetPath("");
  }
}

// A planned failover suspended as its first machine's source snapshot is
// taken: the machine's post-DR operations stop at their next step, and its
// DR VM runs the workload. The suspended job leaves its statuses for the
// restart, so the machine's sync stays disabled (turned back on, a sync
// would write over the workload at DR); the restart drjob prints, run as
// printed, ends as the uninterrupted run does, the write included.
TEST_F(E2EDrJobKills, AFailoverSuspendedInItsPostDROperationsKeepsTheMachinesSyncDisabled) {
  using namespace crashmatrix;
  SType serial = kPlannedFailover;
  serial.serial = true;
  const std::string db = LabSuspendedAt(serial, TMMsg::VM_OPERATION_CREATE_SNAPSHOT, "db-primary");
  int signal = 0;
  const drtest::SResult first = RunHost({}, RunArgs(serial, db), signal);
  EXPECT_EQ(10, first.code) << first.output;
  EXPECT_EQ(0u, LineOf(first.output, 101).find("not processed")) << first.output;
  CDBConnection::SetPath(db);
  ASSERT_TRUE(CHypervisorLab::ClearFaults());
  const std::string suspended = Picture("Sample");
  EXPECT_NE(std::string::npos, suspended.find("vm db-primary-DR on ")) << suspended;
  EXPECT_NE(std::string::npos, suspended.find("repl 101 Failover_in_Progress Sync_Disabled ")) << suspended;
  crashmatrix::SOutcome outcome;
  outcome.written = WriteInWorkloads(serial, db);
  const std::vector<std::string> steps = drtest::PrintedCommands(first.output);
  ASSERT_EQ(1u, steps.size()) << first.output;
  const drtest::SResult next = RunAsPrinted(steps.front());
  outcome.exitCode = next.code;
  outcome.output = next.output;
  CDBConnection::SetPath(db);
  outcome.picture = Picture("Sample");
  CheckRunsEnded(outcome);
  crashmatrix::CCrashMatrix::Expect(serial, outcome, "suspended as 101's source snapshot is taken, then restarted");
  CDBConnection::CloseThreadConnections();
  CDBConnection::SetPath("");
}

// A killed machine's line names the kill first, where it halted the
// machine: a failure the kill's clean-up met after it may follow, never
// stand in its place, and one a step lets pass before it is no reason.
// The planned failover's clean-up reverts each DR VM to its failover
// snapshot once: the snapshot a machine's own clean-up reverted and deleted
// is not reverted again by the priority's.
TEST_F(E2EDrJobKills, AKilledMachinesLineNamesTheKillNotWhatTheCleanUpMetAfterIt) {
  using namespace crashmatrix;
  const size_t logged = drtest::ReadFile(LogPath()).size();
  const SKillOutcome failover = KillAndExpect(kPlannedFailover, At(kPlannedFailover, "DR VM on"));
  const std::string log = drtest::ReadFile(LogPath());
  for (const char* vm : {"db-primary-DR", "db-replica-DR"}) {
    EXPECT_GE(1u, Occurrences(log, std::string("Begin [Revert Snapshot] on VM [") + vm + "]", logged)) << vm;
  }
  // The second machine runs at once: it may have finished before the kill.
  for (int id : {101, 102}) {
    const std::string line = LineOf(failover.output, id);
    if (id == 102 && line.rfind("succeeded", 0) == 0) continue;
    EXPECT_EQ(0u, line.find("failed")) << line;
    EXPECT_NE(std::string::npos, line.find("the job was killed")) << line;
    EXPECT_EQ(std::string::npos, line.find("Snapshot] failed")) << line;
    EXPECT_EQ(std::string::npos, line.find("in phase [Revert Snapshot]")) << line;
  }

  // The array undo: each machine's look-up after its unmount finds no VM,
  // as hoped; the kill then halts the power-on of the first group's
  // sources (the second group runs at once: it may finish or not).
  const SCrash sourcesAboutToStart("first group's sources about to start",
                                   "Changed activity for appId [61] to [ENABLED]");
  const SKillOutcome undo = KillAndExpect(kArrayUndoFailover, sourcesAboutToStart);
  for (int id : {301, 302}) {
    const std::string line = LineOf(undo.output, id);
    EXPECT_EQ(0u, line.find("failed: the job was killed after phase [")) << line;
    EXPECT_EQ(std::string::npos, line.find("Get VM Info")) << line;
  }
}

// Where a database or array machine stands, as its line tells it: which of
// its databases run, from the lab's database hosts; an array test
// failover's own status.
TEST_F(E2EDrJobKills, AKilledDatabaseOrArrayTestMachineIsToldWhereItStands) {
  using namespace crashmatrix;
  const SKillOutcome database = KillAndExpect(kDatabaseFailover, SCrash("a database stopping", "dbshutdown"));
  CDBConnection::SetPath(database.db);
  struct SDatabases {
    int replicationId;
    int sourceClient, drClient;
    const char* source;
    const char* dr;
  };
  for (const SDatabases& d : {SDatabases{1, 11, 21, "src1", "dst1"}, SDatabases{2, 12, 22, "src2", "dst2"}}) {
    const std::string line = LineOf(database.output, d.replicationId);
    bool sourceRuns = false, drRuns = false;
    const std::string sourceHome = std::string("/u01/") + d.source;
    const std::string drHome = std::string("/u01/") + d.dr;
    ASSERT_EQ(EStoreResult::kOk, CDatabaseHosts::IsRunning(d.sourceClient, sourceHome, sourceRuns));
    ASSERT_EQ(EStoreResult::kOk, CDatabaseHosts::IsRunning(d.drClient, drHome, drRuns));
    const std::string place = std::string("source database [") + d.source + "] " +
                              (sourceRuns ? "running" : "stopped") + ", DR database [" + d.dr + "] " +
                              (drRuns ? "running" : "stopped") + ": ";
    EXPECT_NE(std::string::npos, line.find("; now: ")) << line;
    EXPECT_NE(std::string::npos, line.find(place)) << line;
  }

  const SCrash postFailoverBegins("post-failover action begins", "PerformVMOp(): Begin [Post VM Failover]");
  const SKillOutcome test = KillAndExpect(kArrayTestFailover, postFailoverBegins);
  CDBConnection::SetPath(test.db);
  for (int id : GroupReplications(kArrayTestFailover.group)) {
    const std::string line = LineOf(test.output, id);
    // A machine may finish before the kill reaches it.
    if (line.rfind("succeeded", 0) == 0) continue;
    SSourcedReplication stored;
    ASSERT_EQ(EStoreResult::kOk, CReplicationSources::Get(id, stored));
    ASSERT_GT(stored.testFailoverStatus, 0) << id;
    EXPECT_NE(std::string::npos, line.find(std::string("; now: no failover status, test failover status [") +
                                           CReplicationStatusTexts::TestFailover(stored.testFailoverStatus) + "]"))
        << line;
  }
}

// An undo killed once its DR VM's backup snapshot is taken: its clean-up
// brings the DR VM up again, and the next step drjob prints, run as
// printed, leaves one backup snapshot on it, as the uninterrupted undo
// does, not the killed attempt's beside its own.
TEST_F(E2EDrJobKills, AnUndoKilledAfterItsDRSnapshotLeavesOneSnapshotOnceItsNextStepRan) {
  using namespace crashmatrix;
  const SKillOutcome outcome = KillAndExpect(
      kUndoFailover, SCrash("app-server's DR snapshot taken", "Starting [Create Snapshot] on VM [app-server-DR]"));
  ASSERT_EQ(0u, LineOf(outcome.output, 201).find("failed")) << outcome.output;
  std::string output = outcome.output;
  std::string runs = RunText("the kill's run", outcome.exitCode, 0, outcome.output);
  for (int step = 0; step < 2; ++step) {
    const std::vector<std::string> steps = drtest::PrintedCommands(output);
    if (steps.empty()) break;
    const drtest::SResult next = RunAsPrinted(steps.front());
    runs += RunText(steps.front(), next.code, 0, next.output);
    output = next.output;
    if (next.code == 0) break;
  }
  CDBConnection::SetPath(outcome.db);
  std::string want, found;
  for (const std::string& l : killtable::MachineLines("Sample", 201, kUndoFailover.picture)) want += l + "\n";
  for (const std::string& l : killtable::MachineLines("Sample", 201, Picture("Sample"))) found += l + "\n";
  EXPECT_EQ("", PictureDiff(want, found)) << runs;
}

// A source "__OB_BACKUP__" a killed attempt took or left behind: the next
// steps drjob printed, run as printed, end with one on each source, as the
// uninterrupted run does, or with none once an undo handed the workload
// back. Priority 2's machine runs alone, so the kill meets it at the step
// named.
TEST_F(E2EDrJobKills, ASourceSnapshotAKilledAttemptLeftIsNotKeptBesideTheNextOnesOnceTheNextStepsRan) {
  using namespace crashmatrix;
  // Killed between the source snapshot and the DR VM's backup snapshot
  // deletion: the new job takes app-server's source snapshot again.
  KillAndRerun(kPlannedFailover, SCrash("app-server's source snapshot taken",
                                        "[Create Snapshot] on VM [app-server] GUID [src-201] successful"));
  // Killed between the source's revert and its deletion: the halted
  // deletion must leave the snapshot to the next step, not its reference
  // alone behind.
  KillAndRerun(kUndoFailover, SCrash("app-server's source reverted",
                                     "[Revert Snapshot] on VM [app-server] GUID [src-201] successful"));
}

// An "__OB_BACKUP__" an attempt that did not finish left, which the
// hypervisor will not delete (on app-server's source before a planned
// failover, on app-server-DR before an undo), fails the machine before its
// workload moves or a VM of it is reverted: the VM that runs the workload
// keeps what it wrote, and no second snapshot of the name is taken beside
// the stale one, for a later revert or undo to go back to. Once it can be
// deleted, the next steps drjob printed, run as printed, end as the
// uninterrupted run does, with what was written after the failure.
TEST_F(E2EDrJobKills, AStaleBackupSnapshotThatCannotBeDeletedFailsTheMachineBeforeItsWorkloadMoves) {
  using namespace crashmatrix;
  struct SCase {
    const SType* type;
    const char* stale;     // the VM holding the stale snapshot
    const char* workload;  // where app-server's workload runs before the job
    // Where the job's uninterrupted run carries a write made before it (an
    // undo drops what the DR VM wrote).
    std::vector<std::string> carried;
  };
  for (const SCase& c : {SCase{&kPlannedFailover, "app-server", "app-server", {"app-server", "app-server-DR"}},
                         SCase{&kUndoFailover, "app-server-DR", "app-server-DR", {}}}) {
    SCOPED_TRACE(c.type->type);
    const std::string db = LabFor(*c.type);
    CDBConnection::SetPath(db);
    std::vector<SLabVM> vms;
    ASSERT_EQ(EStoreResult::kOk, CHypervisorLab::VMs(0, vms));
    auto vm = [&vms](const std::string& name) {
      return *std::find_if(vms.begin(), vms.end(), [&](const SLabVM& v) { return v.name == name; });
    };
    SLabSnapshot stale;
    stale.instanceId = vm(c.stale).instanceId;
    stale.vmGuid = vm(c.stale).guid;
    stale.name = "__OB_BACKUP__";
    stale.description = "Snapshot created by Korlith for DR job 5 from vm";
    ASSERT_TRUE(CHypervisorLab::AddSnapshot(stale));
    ASSERT_EQ(EStoreResult::kOk, CHypervisorLab::BumpContent(vm(c.workload).instanceId, vm(c.workload).guid));
    // The VM's next snapshot deletion is refused: the stale snapshot's,
    // which comes first.
    std::vector<SLabCall> calls;
    ASSERT_EQ(EStoreResult::kOk, CHypervisorLab::Calls(calls));
    const int deletes = static_cast<int>(std::count_if(calls.begin(), calls.end(), [&](const SLabCall& call) {
      return call.opType == TMMsg::VM_OPERATION_DELETE_SNAPSHOT && call.vmGuid == stale.vmGuid;
    }));
    SLabFault refused;
    refused.opType = TMMsg::VM_OPERATION_DELETE_SNAPSHOT;
    refused.vm = stale.vmGuid;
    refused.fromCall = deletes + 1;
    refused.toCall = deletes + 1;
    refused.code = 7001;
    refused.text = "injected: snapshot delete refused";
    ASSERT_TRUE(CHypervisorLab::AddFault(refused));
    CDBConnection::CloseThreadConnections();
    CDBConnection::SetPath("");
    int signal = 0;
    const drtest::SResult run = RunHost({}, RunArgs(*c.type, db), signal);
    EXPECT_EQ(8, run.code) << run.output;
    EXPECT_EQ(0u, LineOf(run.output, 201).find("failed in phase [Delete Snapshot]: injected: snapshot delete refused"))
        << run.output;
    CDBConnection::SetPath(db);
    const std::vector<std::string> lines = killtable::MachineLines("Sample", 201, Picture("Sample"));
    ASSERT_EQ(3u, lines.size()) << run.output;
    if (c.type == &kPlannedFailover) {
      // Its source shut down, backed up and synced, then running again.
      EXPECT_EQ("vm app-server on 202 __OB_BACKUP__", lines[0]);
      EXPECT_EQ("vm app-server-DR off 202 __OB_BACKUP__,app-server-DR_1767225600,app-server-DR_1767229200", lines[1]);
      EXPECT_EQ(0u, lines[2].find("repl 201 Failover_Failed ")) << lines[2];
    } else {
      EXPECT_EQ("vm app-server off 201 __OB_BACKUP__", lines[0]);
      EXPECT_EQ("vm app-server-DR on 202 "
                "__OB_BACKUP__,__OB_FAILOVER__,app-server-DR_1767225600,app-server-DR_1767229200",
                lines[1]);
      EXPECT_EQ(0u, lines[2].find("repl 201 Revert_Failover_Failed Sync_Disabled")) << lines[2];
    }
    ASSERT_TRUE(CHypervisorLab::ClearFaults());
    CDBConnection::CloseThreadConnections();
    CDBConnection::SetPath("");
    std::vector<std::string> written = WriteInWorkloads(*c.type, db);
    written.insert(written.end(), c.carried.begin(), c.carried.end());
    std::string output = run.output;
    for (int generation = 0; generation < 2; ++generation) {
      const std::vector<std::string> steps = drtest::PrintedCommands(output);
      if (steps.empty()) break;
      const drtest::SResult next = RunAsPrinted(steps.front());
      EXPECT_EQ(0, next.code) << next.output;
      output = next.output;
    }
    std::string expected = c.type->picture;
    for (const std::string& name : written) expected = WithWrite(expected, name);
    CDBConnection::SetPath(db);
    const std::string end = Picture("Sample");
    for (int id : GroupReplications("Sample")) {
      EXPECT_EQ(killtable::MachineLines("Sample", id, expected), killtable::MachineLines("Sample", id, end))
          << "replication " << id << ":\n" << output;
    }
    CDBConnection::CloseThreadConnections();
    CDBConnection::SetPath("");
  }
}

// Killed as it launches priority 2's sync: the DR job kills that sync,
// which leaves app-server's replication needing a sync (not failed), so the
// job's printed new job takes app-server, and run as printed fails it over
// as the uninterrupted run does.
TEST_F(E2EDrJobKills, APlannedFailoverKilledInPriorityTwosSyncIsFinishedByItsPrintedNewJob) {
  const SKillOutcome outcome =
      KillAndExpect(crashmatrix::kPlannedFailover,
                    SCrash("priority 2's sync", "RunSync(): Launching sync op for taskId [11] and repl inputs [201]"));
  EXPECT_EQ(8, outcome.exitCode) << outcome.output;
  EXPECT_EQ(std::string::npos, outcome.picture.find("Sync_Failed")) << outcome.picture;
  const std::vector<std::string> steps = drtest::PrintedCommands(outcome.output);
  ASSERT_EQ(1u, steps.size()) << outcome.output;
  EXPECT_NE(std::string::npos, outcome.output.find("takes app-server (201):\ndrjob: $ " + steps.front() + "\n"))
      << outcome.output;
  const drtest::SResult next = RunAsPrinted(steps.front());
  EXPECT_EQ(0, next.code) << next.output;
  EXPECT_NE(std::string::npos, next.output.find("machine [app-server] (replication 201): succeeded\n")) << next.output;
  CDBConnection::SetPath(outcome.db);
  ExpectEndsAsUninterrupted(crashmatrix::kPlannedFailover,
                            crashmatrix::RunText("the kill's run", outcome.exitCode, 0, outcome.output) +
                                crashmatrix::RunText(steps.front(), next.code, 0, next.output));
}

// A point-in-time failover suspended at app-server's DR VM and ended by
// control kill; its restart killed as it disables app-server's sync. The
// restart's clean-up puts back the sync status from before the job (its
// own load found the first attempt's "Sync Disabled", which no failover
// takes), so the printed new job takes app-server and, run as printed,
// fails it over as the uninterrupted run does.
TEST_F(E2EDrJobKills, APointInTimeRestartKilledAsItDisablesSyncLeavesAMachineItsNewJobFailsOver) {
  const SType& type = crashmatrix::kPointInTimeFailover;
  const std::string db = LabFor(type);
  std::string runs;
  ASSERT_NO_FATAL_FAILURE(SuspendAtAndKill(type, db, "app-server-DR", 1, runs));
  const std::string job = std::to_string(crashmatrix::kJobId);
  int signal = 0;
  const drtest::SResult restart =
      RunHost({"DR_KILL_AT=Setting sync status as [Sync Disabled] for replication [201]"},
              {"run", "--db", db, "--job-id", job}, signal);
  ASSERT_EQ(8, restart.code) << restart.output;
  const std::vector<std::string> steps = drtest::PrintedCommands(restart.output);
  ASSERT_EQ(1u, steps.size()) << restart.output;
  EXPECT_NE(std::string::npos, restart.output.find("takes app-server (201):\ndrjob: $ " + steps.front() + "\n"))
      << restart.output;
  const drtest::SResult next = RunAsPrinted(steps.front());
  EXPECT_EQ(0, next.code) << next.output;
  CDBConnection::SetPath(db);
  ExpectEndsAsUninterrupted(type, runs + crashmatrix::RunText("the restart", restart.code, 0, restart.output) +
                                      crashmatrix::RunText(steps.front(), next.code, 0, next.output));
}

// A planned failover of a group an earlier job failed over, killed before
// its first priority: every machine already stands where the job puts it.
// No command is printed for them, least of all the failback that would
// take them back: the lines say they are failed over already, and the lab
// is where the uninterrupted run leaves it.
TEST_F(E2EDrJobKills, AJobKilledBeforeItsFirstPriorityPrintsNoCommandForMachinesAlreadyWhereItPutsThem) {
  const std::string db = FreshLab(crashmatrix::EStartLab::kFailedOver);
  int signal = 0;
  const drtest::SResult killed = RunHost({"DR_KILL_AT=InitDRGroupInvocation"},
                                         {"run", "--db", db, "--group", "Sample", "--type", "planned-failover",
                                          "--job-id", std::to_string(crashmatrix::kJobId)},
                                         signal);
  ASSERT_EQ(1, killed.code) << killed.output;
  EXPECT_TRUE(drtest::PrintedCommands(killed.output).empty()) << killed.output;
  EXPECT_NE(std::string::npos, killed.output.find("drjob: DR job [900] is not continued by a restart: the machines "
                                                  "it did not finish already stand where it puts them\n"))
      << killed.output;
  EXPECT_NE(std::string::npos,
            killed.output.find("drjob: DR job [900] needs no next step for db-primary (101), db-replica (102), "
                               "app-server (201): already failed over, where a DR job of type [planned-failover] "
                               "puts them\n"))
      << killed.output;
  CDBConnection::SetPath(db);
  ExpectEndsAsUninterrupted(crashmatrix::kPlannedFailover,
                            crashmatrix::RunText("the killed run", killed.code, 0, killed.output));
}

// The chains of next steps drjob prints, each step of the first generation
// itself killed at the same moment as the job before it, then followed as
// printed: a revert killed between its priorities points app-server at the
// undo; that undo, killed likewise, finds db-primary and db-replica at the
// source already and its restart takes app-server alone, never the failover
// that would move the reverted machines back to DR. A planned failover
// killed likewise, and its new job, end with all three failed over, none
// pointed at the failback. Each chain ends where the uninterrupted run ends
// (for a revert's machine, where the revert or the undo does).
TEST_F(E2EDrJobKills, NextStepsKilledThemselvesCarryTheJobForwardNeverBack) {
  using namespace crashmatrix;
  m_stepEnv = {"DR_KILL_AT=Wait before processing next priority"};
  struct SChain {
    const SType* type;
    const char* back;   // the type no printed step may name
    const char* place;  // what the killed step says of the machines done before it
  };
  for (const SChain& chain : {SChain{&kRevertFailover, " --type planned-failover", "already at the source"},
                              SChain{&kPlannedFailover, " --type failback", "already failed over"}}) {
    SCOPED_TRACE(chain.type->type);
    const killtable::SRerunOutcome outcome = KillAndRerun(*chain.type, At(*chain.type, "between priorities"));
    ASSERT_GE(outcome.attempts.size(), 3u) << "the kill's run, its killed next step and that step's own";
    const killtable::SAttempt& step = outcome.attempts[1];
    EXPECT_EQ(9, step.exitCode) << step.output;
    EXPECT_NE(std::string::npos, step.output.find("needs no next step for db-primary (101), db-replica (102): " +
                                                  std::string(chain.place)))
        << step.output;
    for (const killtable::SAttempt& a : outcome.attempts) {
      for (const std::string& command : a.nextSteps) {
        EXPECT_EQ(std::string::npos, command.find(chain.back)) << a.output;
      }
    }
  }
}

// A revert suspended at app-server, ended by control kill, then restarted
// and killed as its first priority begins: the restart counts the machines
// the first attempt reverted done, rather than taking them up again and
// letting its clean-up set them "Revert Failover Failed"; it prints no
// failover for them. Followed as printed, the chain ends with every machine
// reverted or undone.
TEST_F(E2EDrJobKills, ARestartsKillLeavesTheMachinesAnEarlierAttemptFinishedDone) {
  using crashmatrix::kRevertFailover;
  // The start lab's failover made calls on app-server's DR VM already: any
  // call of the revert's.
  const SStoppedRestart stopped = SuspendKillAndKillTheRestart(kRevertFailover, "dst-201", "Processing PRIORITY [1]");
  if (HasFatalFailure()) return;
  const std::string& output = stopped.restart.output;
  for (const char* machine :
       {"db-primary] (replication 101): succeeded\n", "db-replica] (replication 102): succeeded\n"}) {
    EXPECT_NE(std::string::npos, output.find(machine)) << stopped.runs << output;
  }
  EXPECT_EQ(std::string::npos, output.find("Revert Failover Failed], source VM [db-")) << output;
  EXPECT_EQ(std::string::npos, output.find("point-in-time-failover")) << output;
  FollowTheStoppedRestart(kRevertFailover, stopped, "Processing PRIORITY [1]");
}

// A point-in-time failover suspended at app-server's DR VM, ended by
// control kill, then restarted and killed before its first priority: the
// machine the first attempt left "Failover in Progress", its sync disabled,
// is the restart's as a running restart takes it, so the killed restart
// prints its own restart for it, not that none takes it. Followed as
// printed, the chain ends as the uninterrupted run.
TEST_F(E2EDrJobKills, ARestartKilledBeforeItsFirstPriorityIsPrintedForTheMachinesItTakesUp) {
  using crashmatrix::kPointInTimeFailover;
  const SStoppedRestart stopped =
      SuspendKillAndKillTheRestart(kPointInTimeFailover, "dst-201", "Run(): Beginning Orchestration");
  if (HasFatalFailure()) return;
  EXPECT_EQ(1, stopped.restart.code) << stopped.runs << stopped.restart.output;
  EXPECT_NE(std::string::npos, stopped.restart.output.find("is continued by its restart, which takes over app-server "
                                                           "(201):\n"))
      << stopped.runs << stopped.restart.output;
  FollowTheStoppedRestart(kPointInTimeFailover, stopped, "Run(): Beginning Orchestration");
}

// A point-in-time failover given a time for db-primary alone: a new job
// made with the same times, or a restart, would fail the other two for
// theirs again, so no command is printed; each machine's line names the
// option to give. The chain ends there, as the uninterrupted run does; the
// option given as told ends as the failover with every time given.
TEST_F(E2EDrJobKills, APointInTimeFailoverLackingTimesNamesTheOptionToGiveInsteadOfACommand) {
  using crashmatrix::kPointInTimeFailover;
  const std::string db = FreshLab(kPointInTimeFailover.start);
  int signal = 0;
  const std::string t0 = std::to_string(kSamplePointsInTime[0]);
  const std::string t1 = std::to_string(kSamplePointsInTime[1]);
  const drtest::SResult run = RunHost({}, {"run", "--db", db, "--group", "Sample", "--type", "point-in-time-failover",
                                           "--point-in-time", "101=" + t0, "--job-id", "41"},
                                      signal);
  ASSERT_EQ(8, run.code) << run.output;
  EXPECT_TRUE(drtest::PrintedCommands(run.output).empty()) << run.output;
  for (const char* id : {"102", "201"}) {
    EXPECT_NE(std::string::npos,
              run.output.find(std::string(") at failover status [Failover Failed], sync status [In Sync]: a new DR "
                                          "job of type [point-in-time-failover] takes it given a point in time for "
                                          "it: give `--point-in-time ") +
                              id + "=TIME`\n"))
        << run.output;
  }
  const std::string given = "drjob run --db " + db + " --group 1 --type point-in-time-failover --point-in-time 102=" +
                            t1 + " --point-in-time 201=" + t0;
  const drtest::SResult next = RunAsPrinted(given);
  EXPECT_EQ(0, next.code) << next.output;
  CDBConnection::SetPath(db);
  ExpectEndsAsUninterrupted(kPointInTimeFailover, crashmatrix::RunText("the run", run.code, 0, run.output) +
                                                      crashmatrix::RunText(given, next.code, 0, next.output));
}

// The kill's clean-up undoes the move each of these had made before the
// kill: a planned failover's powers the sources on again and reverts the DR
// VMs to their powered-off failover snapshots, an unplanned failover's
// reverts the DR VMs, a failback's powers the DR VMs on again. The rows
// still say the move succeeded; the restart must take the machines over
// from the start (a new backup of the workload that ran again, a new sync),
// never call them succeeded where they are not.
TEST_F(E2EDrJobKills, ARestartTakesOverFromTheStartWhatTheKillsCleanUpUndid) {
  using namespace crashmatrix;
  KillRerunAndExpect(kPlannedFailover,
                     SCrash("101's sync disabled after its DR VM came up",
                            "UpdateSyncStatus(): Setting sync status as [Sync Disabled] for replication [101]", 1,
                            {{"jobs backup Completed x2", "jobs backup Completed x3"},
                             {"jobs sync Completed x2", "jobs sync Completed x3"}}));
  KillRerunAndExpect(kUnplannedFailover,
                     SCrash("101's DR VM on", "[Power On] on VM [db-primary-DR] GUID [dst-101] successful"));
  KillRerunAndExpect(kFailback, SCrash("priority 1 restored", "All DR VMs are IN SYNC", 1,
                                       {{"jobs dr-site-backup Completed x2", "jobs dr-site-backup Completed x3"},
                                        {"jobs restore Completed x2", "jobs restore Completed x3"}}));
}

// The restart of a killed failback takes the machines over from the start;
// crashed before its own restore, it leaves the killed run's restore row.
// Its own rerun must not take that row for its restore: the DR VMs ran
// after the clean-up, and only the restart's backup carries what they wrote.
// Crashed as it launches that backup, before the rows of the list name it
// (they are written one after the other, and under load the backup can
// end before the last one is), the machines' rows still name the killed
// run's backup, which their restore synced: the rerun must neither adopt
// that backup nor take the machines for restored.
TEST_F(E2EDrJobKills, ARestartCrashedBeforeItsOwnRestoreIsNotTakenForRestoredByItsRerun) {
  using namespace crashmatrix;
  for (const char* crashAt : {"ended [Completed]", "StartJob(): Started [backup] job ["}) {
    SCOPED_TRACE(crashAt);
    KillRerunAndExpect(kFailback,
                       SCrash("priority 1 restored", "All DR VMs are IN SYNC", 1,
                              {{"jobs dr-site-backup Completed x2", "jobs dr-site-backup Completed x3"},
                               {"jobs restore Completed x2", "jobs restore Completed x3"}}),
                       crashAt);
  }
}

// A planned failover killed once 101's DR VM is up: the clean-up reverts the
// DR VMs to their powered-off snapshots and the restart takes the machines
// over from the start, setting them in progress again, then crashes as it
// launches its own sync, the DR VMs still off. The killed run's power-on
// rows still say SUCCESS and the failed status is gone: only the DR VM,
// asked, tells the third attempt that the power-on no longer stands.
TEST_F(E2EDrJobKills, ARestartCrashedBeforeItsOwnPowerOnIsNotTakenForMovedByItsRerun) {
  using namespace crashmatrix;
  KillRerunAndExpect(kPlannedFailover,
                     SCrash("101's sync disabled after its DR VM came up",
                            "UpdateSyncStatus(): Setting sync status as [Sync Disabled] for replication [101]", 1,
                            {{"jobs backup Completed x2", "jobs backup Completed x3"},
                             {"jobs sync Completed x2", "jobs sync Completed x3"}}),
                     "RunSync(): Launching sync op for taskId [11] and repl inputs [101,102]");
}

// A failback suspended while it waits on priority 2's restore, which
// completes meanwhile (drjob job, from another process, while the run
// stands at its pause point), then ended by control kill and followed by
// what it prints, as printed. The kill leaves app-server's restore row to
// the restart, which takes the restore as done: had it taken app-server
// over from the start, it would have powered the source off and, finding
// it in sync, restored nothing. The same with that row failed, as a kill
// that failed every waiting row left it: the restart then finds nothing to
// restore and must still power the source on. Both end as the
// uninterrupted run, with what app-server wrote during the suspension.
TEST_F(E2EDrJobKills, ASuspendedFailbacksRestoreThatCompletedMeanwhileIsNotRunAgainNorLeavesItsSourceOff) {
  using namespace crashmatrix;
  for (const bool failedRow : {false, true}) {
    SCOPED_TRACE(failedRow ? "the restore row failed" : "as the kill leaves it");
    const std::string db = LabFor(kFailback);
    SOutcome outcome;
    SuspendInSyncWait(kFailback, db, 2, [&](long long restore) {
      int signal = 0;
      const std::vector<std::string> args = {"job", "--db", db, "--job", std::to_string(restore), "complete"};
      const drtest::SResult r = RunHost({}, args, signal);
      outcome.runs += RunText("drjob " + Joined(args, " "), r.code, signal, r.output);
      EXPECT_EQ(0, r.code) << outcome.runs;
    }, outcome);
    if (HasFatalFailure()) return;
    if (failedRow) {
      ASSERT_TRUE(RewriteSyncRows(db, 0, [](SPhaseRowChange& c) {
        if (c.replicationId != 201) return;
        c.state = Api::VIRTUAL_APP_PHASE_STATE_FAILED;
        c.failureReason = "Error on sync operation";
      }));
    }
    KillFollowAndExpect(kFailback, db, outcome, "suspended as its restore completed",
                        failedRow ? "is continued by its restart"
                                  : "[1] phase row(s) whose child job completed while the job was stopped stay in "
                                    "progress");
  }
}

// A sync or restore the job launched, suspended with the job, that no row
// of the job names (as a stop between the launch and the row's update
// leaves it): the task manager records the DR job as its parent, and the
// kill of the suspended job kills it by that link. The job's next steps
// then end it as the uninterrupted run, the write carried; a sync left
// suspended would hold its replications from every later job.
TEST_F(E2EDrJobKills, AKillOfASuspendedJobKillsTheSyncOrRestoreNamedOnlyByItsParentLink) {
  using namespace crashmatrix;
  struct SCase {
    const SType* type;
    int count;  // the "Waiting for sync job" line that pauses the run
    SCrash::Lines killed;  // the picture's line of the kind of job killed
  };
  const std::vector<SCase> cases = {
      {&kPlannedFailover, 1, {{"jobs sync Completed x2", "jobs sync Completed x2\njobs sync Killed x1"}}},
      {&kFailback, 2, {{"jobs restore Completed x2", "jobs restore Completed x2\njobs restore Killed x1"}}}};
  for (const SCase& c : cases) {
    SCOPED_TRACE(c.type->type);
    const std::string db = LabFor(*c.type);
    SOutcome outcome;
    long long child = 0;
    // Held running, so that the job still waits on it when it reads the
    // suspend: one that ended first would leave nothing to kill.
    SuspendInSyncWait(*c.type, db, c.count, [&](long long sync) {
      child = sync;
      int signal = 0;
      const std::vector<std::string> args = {"job", "--db", db, "--job", std::to_string(sync), "hang"};
      const drtest::SResult r = RunHost({}, args, signal);
      outcome.runs += RunText("drjob " + Joined(args, " "), r.code, signal, r.output);
      EXPECT_EQ(0, r.code) << outcome.runs;
    }, outcome);
    if (HasFatalFailure()) return;
    ASSERT_TRUE(RewriteSyncRows(db, child, [&](SPhaseRowChange& row) {
      const std::string named = std::to_string(child);
      for (const std::string& form : {"&gt;" + named + "&lt;", ">" + named + "<"}) {
        const size_t at = row.details.find(form);
        if (at != std::string::npos) row.details.replace(at, form.size(), form.substr(0, form.find(named)) + "0" +
                                                                             form.substr(form.find(named) + named.size()));
      }
    }));
    KillFollowAndExpect(*c.type, db, outcome, "suspended in a sync no row names",
                        "its sync job [" + std::to_string(child) + "] [Suspended] is killed", c.killed);
  }
}

// Killed after the sources' snapshots were taken, behind the DR VMs' power-on:
// the clean-up powers the sources on again, and what they write then is in
// no snapshot the killed run took. The restart takes the snapshots anew from
// the sources it shut down, which a revert later returns them to.
TEST_F(E2EDrJobKills, ARestartTakesAnewTheSourceSnapshotsTheKilledRunTookBeforeItsCleanUp) {
  using namespace crashmatrix;
  const std::string db =
      KillRerunAndExpect(kPlannedFailover, SCrash("source snapshot taken",
                                                  "[Create Snapshot] on VM [db-primary] GUID [src-101] successful", 1,
                                                  {{"jobs backup Completed x2", "jobs backup Completed x3"},
                                                   {"jobs sync Completed x2", "jobs sync Completed x3"}}));
  CDBConnection::SetPath(db);
  std::vector<SLabVM> vms;
  ASSERT_EQ(EStoreResult::kOk, CHypervisorLab::VMs(0, vms));
  for (const char* name : {"db-primary", "db-replica"}) {
    const auto vm = std::find_if(vms.begin(), vms.end(), [&](const SLabVM& v) { return v.name == name; });
    ASSERT_NE(vms.end(), vm) << name;
    std::vector<SLabSnapshot> snapshots;
    ASSERT_EQ(EStoreResult::kOk, CHypervisorLab::Snapshots(vm->instanceId, vm->guid, snapshots));
    ASSERT_EQ(1u, snapshots.size()) << name;
    EXPECT_EQ(vm->content, snapshots.front().content) << name << "'s snapshot misses what it wrote after the kill";
  }
  CDBConnection::CloseThreadConnections();
  CDBConnection::SetPath("");
}

// A suspend the job finds while a machine's step is under way: the
// suspended job stores no phase from then on, so the step's row stays in
// progress. Here the suspend comes while db-replica's post-DR operations
// delete its DR VM's snapshot. Called succeeded with such a row, its
// failover stored complete, the machine would be counted done by its
// restart and the row never closed nor the step taken again (so it went
// when the quit flag halted the IP-address step they let pass; that step
// now runs to its end past the delete). Left to the restart, run as
// printed (after drjob control kill in the second case), it ends as the
// uninterrupted run, with what the workloads wrote after the stop.
TEST_F(E2EDrJobKills, AMachineASuspendCaughtMidStepIsLeftToItsRestartWhichEndsAsTheUninterruptedRun) {
  using namespace crashmatrix;
  SType type = kUnplannedFailover;
  type.serial = true;
  const std::string job = std::to_string(kJobId);
  for (const bool kill : {false, true}) {
    const SCrash at(kill ? "suspended in db-replica's post-DR operations, then killed"
                         : "suspended in db-replica's post-DR operations",
                    std::string());
    SCOPED_TRACE(at.name);
    const std::string db = LabSuspendedAt(type, TMMsg::VM_OPERATION_DELETE_SNAPSHOT, "dst-102");
    int signal = 0;
    const drtest::SResult run = RunHost({}, RunArgs(type, db), signal);
    ASSERT_EQ(10, run.code) << run.output;

    SKillOutcome stopped = Stopped(type, db, run, signal);
    ASSERT_TRUE(CHypervisorLab::ClearFaults());
    // The rows a suspended job leaves in progress are its restart's to
    // close; no machine called succeeded may have one.
    std::vector<SPhaseRowRecord> rows;
    ASSERT_EQ(EStoreResult::kOk, CPhaseRowStore::ReadJob(kJobId, rows));
    bool postDROpen = false;
    for (const SPhaseRowRecord& row : rows) {
      if (row.status != Api::VIRTUAL_APP_PHASE_STATE_IN_PROGRESS) continue;
      postDROpen = postDROpen || (row.replicationId == 102 && row.phase == Api::VIRTUAL_APP_PHASE_POST_DR_OPERATION);
      EXPECT_NE("succeeded", LineOf(run.output, row.replicationId).substr(0, 9))
          << "replication " << row.replicationId << " is called succeeded with its phase row " << row.phase
          << " in progress:\n" << run.output;
    }
    // The post-DR operations' last step, the DR VM's address, runs to its
    // end once the DR VM's snapshot is gone, so the suspend may find them
    // finished; where it caught them, the machine is left in progress.
    SSourcedReplication stored;
    ASSERT_EQ(EStoreResult::kOk, CReplicationSources::Get(102, stored));
    if (postDROpen) {
      EXPECT_EQ(App::VSA_FAILOVER_STATUS_FAILOVER_IN_PROGRESS, stored.failoverStatus) << run.output;
    }
    std::vector<std::string> faults;
    for (const std::string& fault : stopped.faults) {
      if (fault.rfind("phase row ", 0) != 0) faults.push_back(fault);
    }
    stopped.faults = faults;
    Expect(type, at, stopped);

    killtable::SAttempt first;
    first.exitCode = run.code;
    first.output = run.output;
    first.picture = stopped.picture;
    first.nextSteps = drtest::PrintedCommands(run.output);
    CDBConnection::CloseThreadConnections();
    CDBConnection::SetPath("");
    if (kill) {
      const drtest::SResult killed = RunHost({}, {"control", "--db", db, "--job", job, "kill"}, signal);
      ASSERT_EQ(0, killed.code) << killed.output;
      if (postDROpen) {
        EXPECT_NE(std::string::npos, killed.output.find("[1] phase row(s) of a call under way when it was stopped "
                                                        "stay in progress"))
            << killed.output;
      }
      first.nextSteps = drtest::PrintedCommands(killed.output);
    }
    ExpectRerun(type, at, Follow(type, stopped, first, WriteInWorkloads(type, db)));
  }
}

// Killed as it launches priority 1's sync, a planned failover's clean-up
// powers the sources on again: what they write then must reach the DR VMs,
// so the restart backs them up again rather than syncing the earlier backup.
TEST_F(E2EDrJobKills, ARestartAfterAKilledSyncBacksUpWhatTheSourcesWroteSince) {
  using namespace crashmatrix;
  SType serial = kPlannedFailover;
  serial.serial = true;
  // The sync the kill meets may end before the kill reaches it: the lab
  // holds the write only where a new backup carried it.
  const killtable::SRerunOutcome outcome = KillAndRerun(
      serial, SCrash("priority 1's sync launched", "RunSync(): Launching sync op for taskId [11] and repl inputs [101,102]"));
  EXPECT_NE(std::string::npos, outcome.kill.output.find("is continued by its restart")) << outcome.kill.output;
  EXPECT_NE(std::string::npos, outcome.picture.find("jobs backup Completed x3")) << outcome.picture;
}

}  // namespace
