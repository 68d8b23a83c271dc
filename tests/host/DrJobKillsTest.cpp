// Each DR type killed once, as drjob control kill kills it, at the moment it
// acts after a step, and not run again: what drjob printed of each machine
// against what the lab holds (killtable::CKillTable). The cases share a
// start lab per test; the whole table, every type at every crash-matrix
// moment, is DrJobKillTable (label stress).
#include <string>
#include <vector>

#include "db/DBConnection.h"
#include "host/KillTable.h"
#include "vm/HypervisorLab.h"

namespace {

using crashmatrix::SCrash;
using crashmatrix::SType;
using killtable::CKillTable;
using killtable::SKillOutcome;

using E2EDrJobKills = CKillTable;

// The type and its moment.
struct SKill {
  const SType* type;
  SCrash at;
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

// A revert stopped anywhere, by a kill or by a fault, ends through the next
// steps drjob printed with every machine either reverted (its source
// running) or undone by the undo failover (its source running, no failover
// status): none stays "Revert Failover Failed", which no revert takes again.
// In every run of the chain a "succeeded" machine is where that run's type
// puts it, and no run ends SUCCESS while it skipped a machine in "Revert
// Failover Failed".
TEST_F(E2EDrJobKills, ARevertStoppedAnywhereEndsRevertedOrUndoneThroughItsNextSteps) {
  using crashmatrix::kRevertFailover;
  using crashmatrix::kUndoFailover;
  struct SStop {
    const char* name;
    const char* marker;  // empty: not killed, a source refuses its power-on
    int count;
  };
  const std::vector<SStop> stops = {
      // db-replica's revert has begun (its status set) but no step of it ran.
      {"in priority 1", "[Shutdown] on VM [db-primary-DR] GUID [dst-101] successful", 1},
      // The source reverted and powered on again, its snapshot's deletion
      // halted: the snapshot and its reference stay for the undo to remove.
      {"before the source snapshot's deletion", "[Power On] on VM [db-primary] GUID [src-101] successful", 2},
      // app-server is set in progress, then its first step halts.
      {"between priorities", "Wait before processing next priority", 1},
      {"app-server's source refusing its power-on", "", 0}};
  const std::vector<int> machines = crashmatrix::GroupReplications("Sample");
  for (const SStop& stop : stops) {
    SCOPED_TRACE(stop.name);
    std::string db;
    // Checks one run of the chain against the lab it left.
    auto check = [&](const std::string& output, const crashmatrix::SType& as) {
      CDBConnection::SetPath(db);
      const std::string picture = crashmatrix::Picture("Sample");
      for (int id : machines) {
        if (output.find("(replication " + std::to_string(id) + "): succeeded") == std::string::npos) continue;
        EXPECT_EQ(killtable::MachineLines("Sample", id, as.picture), killtable::MachineLines("Sample", id, picture))
            << "replication " << id << " called succeeded:\n" << output;
      }
      if (output.find("] SUCCESS") != std::string::npos) {
        EXPECT_EQ(std::string::npos, output.find("skipped: Machine ineligible as failover Status is [Revert Failover "
                                                 "Failed]"))
            << output;
      }
    };
    std::string output;
    if (stop.marker[0] != '\0') {
      const killtable::SKillOutcome killed = KillAndExpect(kRevertFailover, SCrash(stop.name, stop.marker, stop.count));
      db = killed.db;
      output = killed.output;
      // Taken up, so reached, whether or not a step of it ran.
      EXPECT_EQ(std::string::npos, output.find("not reached: the job was killed before it began the machine"))
          << output;
    } else {
      db = LabFor(kRevertFailover);
      CDBConnection::SetPath(db);
      SLabFault refused;
      refused.opType = 10;
      refused.vm = "src-201";
      refused.toCall = 99;
      refused.code = 7001;
      refused.text = "injected: power-on refused";
      ASSERT_TRUE(CHypervisorLab::AddFault(refused));
      int signal = 0;
      const drtest::SResult run = RunHost({}, RunArgs(kRevertFailover, db), signal);
      EXPECT_EQ(8, run.code) << run.output;
      check(run.output, kRevertFailover);
      CDBConnection::SetPath(db);
      ASSERT_TRUE(CHypervisorLab::ClearFaults());
      output = run.output;
    }
    // At most two steps as printed, each after the one before it.
    std::vector<std::string> steps = killtable::NextSteps(output);
    for (int taken = 0; taken < 2 && !steps.empty(); ++taken) {
      const drtest::SResult next = RunAsPrinted(steps.front());
      check(next.output, steps.front().find("undo-failover") != std::string::npos ? kUndoFailover : kRevertFailover);
      steps = killtable::NextSteps(next.output);
    }
    CDBConnection::SetPath(db);
    if (crashmatrix::Picture("Sample").find("Revert_Failover_Failed") != std::string::npos) {
      // drjob is to print the undo failover's command for a machine that
      // neither a restart nor a new revert takes; until it does, the test
      // runs that command as it is to be printed.
      const drtest::SResult undo = RunAsPrinted("drjob run --db " + db + " --group Sample --type undo-failover");
      EXPECT_EQ(0, undo.code) << undo.output;
      check(undo.output, kUndoFailover);
    }
    CDBConnection::SetPath(db);
    const std::string end = crashmatrix::Picture("Sample");
    EXPECT_EQ(std::string::npos, end.find("Revert_Failover_Failed")) << end;
    for (int id : machines) {
      const std::vector<std::string> lines = killtable::MachineLines("Sample", id, end);
      EXPECT_TRUE(lines == killtable::MachineLines("Sample", id, kRevertFailover.picture) ||
                  lines == killtable::MachineLines("Sample", id, kUndoFailover.picture))
          << "replication " << id << " neither reverted nor undone:\n" << end;
    }
  }
}

TEST_F(E2EDrJobKills, ArrayUndoTypesKilledAsTheyActAfterTheirLetFailStep) {
  // The DR VMs' shutdown (power-off) before the unmount is let fail.
  KillAndExpect(crashmatrix::kArrayUndoFailover, At(crashmatrix::kArrayUndoFailover, "DR VM shut down"));
  KillAndExpect(crashmatrix::kArrayUndoTestFailover, At(crashmatrix::kArrayUndoTestFailover, "test VM off"));
}

}  // namespace
