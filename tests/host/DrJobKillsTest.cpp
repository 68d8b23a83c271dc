// Each DR type killed once, as drjob control kill kills it, at the moment it
// acts after a step, and not run again: what drjob printed of each machine
// against what the lab holds (killtable::CKillTable). The cases share a
// start lab per test; the whole table, every type at every crash-matrix
// moment, is DrJobKillTable (label stress).
#include <signal.h>

#include <algorithm>
#include <string>
#include <vector>

#include "host/KillTable.h"
#include "vm/HypervisorLab.h"

namespace {

using crashmatrix::SCrash;
using crashmatrix::SType;
using killtable::CKillTable;
using killtable::SKillOutcome;

// The type and its moment.
struct SKill {
  const SType* type;
  SCrash at;
};

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
    outcome.written = WriteInRunningWorkloads(type, killed.db);
    std::string output = killed.output;
    if (!crashRerunAt.empty()) {
      int signal = 0;
      RunHost({"DR_CRASH_AT=" + crashRerunAt}, {"run", "--db", killed.db, "--job-id", std::to_string(crashmatrix::kJobId)},
              signal);
      EXPECT_EQ(SIGKILL, signal) << "the restart was not crashed at [" << crashRerunAt << "]";
    }
    for (int step = 0; step < 2; ++step) {
      const std::vector<std::string> next = killtable::NextSteps(output);
      if (next.empty()) break;
      const drtest::SResult run = RunAsPrinted(next.front());
      outcome.exitCode = run.code;
      outcome.output += run.output;
      output = run.output;
    }
    CDBConnection::SetPath(killed.db);
    outcome.picture = crashmatrix::Picture(type.group);
    CheckRunsEnded(outcome);
    crashmatrix::CCrashMatrix::Expect(type, outcome, "killed at [" + at.name + "], then its next steps", at.differs);
    CDBConnection::CloseThreadConnections();
    CDBConnection::SetPath("");
    return killed.db;
  }

 private:
  // As the crash matrix writes: in each machine's workload VM where it
  // runs, else, for a type that carries the other VM's data over, in the
  // other where that one runs. The VMs whose content must go up by one.
  static std::vector<std::string> WriteInRunningWorkloads(const SType& type, const std::string& db) {
    std::vector<std::string> written;
    CDBConnection::SetPath(db);
    std::vector<SLabVM> vms;
    EXPECT_EQ(EStoreResult::kOk, CHypervisorLab::VMs(0, vms));
    auto running = [&vms](const std::string& name) -> const SLabVM* {
      const auto at = std::find_if(vms.begin(), vms.end(), [&](const SLabVM& v) { return v.name == name; });
      return at != vms.end() && at->poweredOn ? &*at : nullptr;
    };
    for (const crashmatrix::SMachine& m : type.machines) {
      const SLabVM* target = running(m.workload);
      if (target == nullptr && type.carriesWrites) target = running(m.other);
      if (target == nullptr) continue;
      EXPECT_EQ(EStoreResult::kOk, CHypervisorLab::BumpContent(target->instanceId, target->guid));
      written.push_back(target->name);
      if (target->name != m.workload) written.push_back(m.workload);
    }
    CDBConnection::CloseThreadConnections();
    CDBConnection::SetPath("");
    return written;
  }
};

TEST_F(E2EDrJobKills, TypesOnTheSeededLabKilledAsTheyActAfterAStep) {
  using namespace crashmatrix;
  const std::vector<SKill> kills = {
      // Its post-DR operations follow the power-on.
      {&kPlannedFailover, At(kPlannedFailover, "DR VM on")},
      // The source's power-off is let fail: the group goes on without it.
      {&kUnplannedFailover, At(kUnplannedFailover, "source off")},
      {&kPointInTimeFailover, At(kPointInTimeFailover, "reverted to the point in time")},
      {&kTestboot, At(kTestboot, "DR VM booted")},
      // The second priority removes its record with no step before it.
      {&kCleanupDestinationVM, At(kCleanupDestinationVM, "first priority removed")},
      {&kTestFailover, At(kTestFailover, "clone client set")},
      {&kDatabaseFailover, At(kDatabaseFailover, "source stopped")},
      {&kArrayPlannedFailover, At(kArrayPlannedFailover, "relationship broken")},
      // The source's shutdown is let fail, as the source site may be down.
      {&kArrayUnplannedFailover, At(kArrayUnplannedFailover, "source shut down")},
      {&kArrayTestFailover, At(kArrayTestFailover, "test mount recorded")}};
  for (const SKill& kill : kills) KillAndExpect(*kill.type, kill.at);
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
  const std::vector<std::string> steps = killtable::NextSteps(outcome.output);
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
  const std::vector<SKill> kills = {{&kFailback, At(kFailback, "restore ended")},
                                    // The failover snapshots' revert and delete are let fail.
                                    {&kRevertFailover, At(kRevertFailover, "DR VM shut down")},
                                    // Only the sync status is stored after the power-on.
                                    {&kUndoFailover, At(kUndoFailover, "source on")},
                                    {&kReverseReplication, At(kReverseReplication, "source snapshot taken")}};
  for (const SKill& kill : kills) KillAndExpect(*kill.type, kill.at);
}

TEST_F(E2EDrJobKills, ArrayUndoTypesKilledAsTheyActAfterTheirLetFailStep) {
  // The DR VMs' shutdown (power-off) before the unmount is let fail.
  KillAndExpect(crashmatrix::kArrayUndoFailover, At(crashmatrix::kArrayUndoFailover, "DR VM shut down"));
  KillAndExpect(crashmatrix::kArrayUndoTestFailover, At(crashmatrix::kArrayUndoTestFailover, "test VM off"));
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
TEST_F(E2EDrJobKills, ARestartCrashedBeforeItsOwnRestoreIsNotTakenForRestoredByItsRerun) {
  using namespace crashmatrix;
  KillRerunAndExpect(kFailback,
                     SCrash("priority 1 restored", "All DR VMs are IN SYNC", 1,
                            {{"jobs dr-site-backup Completed x2", "jobs dr-site-backup Completed x3"},
                             {"jobs restore Completed x2", "jobs restore Completed x3"}}),
                     "ended [Completed]");
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

// Killed as it launches priority 1's sync, a planned failover's clean-up
// powers the sources on again: what they write then must reach the DR VMs,
// so the restart backs them up again rather than syncing the earlier backup.
TEST_F(E2EDrJobKills, ARestartAfterAKilledSyncBacksUpWhatTheSourcesWroteSince) {
  using namespace crashmatrix;
  KillRerunAndExpect(kPlannedFailover,
                     SCrash("priority 1's sync launched",
                            "RunSync(): Launching sync op for taskId [11] and repl inputs [101,102]", 1,
                            {{"jobs backup Completed x2", "jobs backup Completed x3"},
                             {"jobs sync Completed x2", "jobs sync Completed x2\njobs sync Killed x1"}}));
}

}  // namespace
