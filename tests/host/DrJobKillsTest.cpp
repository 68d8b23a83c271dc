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
#include "vm/VmOperation.h"

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

// The lab of the type's group against where the type's uninterrupted run
// puts it, but for the child jobs (a stop and its next step launch more).
void ExpectEndsAsUninterrupted(const SType& type) {
  auto withoutJobs = [](const std::string& picture) {
    std::string out;
    for (const std::string& line : crashmatrix::PictureLines(picture)) {
      if (line.rfind("jobs ", 0) != 0) out += line + "\n";
    }
    return out;
  };
  const std::string diff =
      crashmatrix::PictureDiff(withoutJobs(type.picture), withoutJobs(crashmatrix::Picture(type.group)));
  EXPECT_TRUE(diff.empty()) << type.type << " does not end as uninterrupted (- expected, + found):\n" << diff;
}

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
  const std::vector<std::string> steps = killtable::NextSteps(outcome.output);
  ASSERT_EQ(1u, steps.size()) << outcome.output;
  EXPECT_NE(std::string::npos, outcome.output.find("takes app-server (201): " + steps.front() + "\n"))
      << outcome.output;
  const drtest::SResult next = RunAsPrinted(steps.front());
  EXPECT_EQ(0, next.code) << next.output;
  EXPECT_NE(std::string::npos, next.output.find("machine [app-server] (replication 201): succeeded\n")) << next.output;
  CDBConnection::SetPath(outcome.db);
  ExpectEndsAsUninterrupted(crashmatrix::kPlannedFailover);
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
  CDBConnection::SetPath(db);
  SLabFault suspend;
  suspend.opType = VmOperation::kAnyOperation;
  suspend.vm = "app-server-DR";
  suspend.fromCall = 1;
  suspend.toCall = 1;
  suspend.kind = ELabFault::kSuspendJob;
  ASSERT_TRUE(CHypervisorLab::AddFault(suspend));
  int signal = 0;
  const drtest::SResult first = RunHost({}, RunArgs(type, db), signal);
  ASSERT_EQ(10, first.code) << first.output;
  ASSERT_TRUE(CHypervisorLab::ClearFaults());
  const std::string job = std::to_string(crashmatrix::kJobId);
  const drtest::SResult killed = RunHost({}, {"control", "--db", db, "--job", job, "kill"}, signal);
  ASSERT_EQ(0, killed.code) << killed.output;
  const drtest::SResult restart =
      RunHost({"DR_KILL_AT=Setting sync status as [Sync Disabled] for replication [201]"},
              {"run", "--db", db, "--job-id", job}, signal);
  ASSERT_EQ(8, restart.code) << restart.output;
  const std::vector<std::string> steps = killtable::NextSteps(restart.output);
  ASSERT_EQ(1u, steps.size()) << restart.output;
  EXPECT_NE(std::string::npos, restart.output.find("takes app-server (201): " + steps.front() + "\n"))
      << restart.output;
  const drtest::SResult next = RunAsPrinted(steps.front());
  EXPECT_EQ(0, next.code) << next.output;
  CDBConnection::SetPath(db);
  ExpectEndsAsUninterrupted(type);
}

// A planned failover of a group an earlier job failed over, killed before
// its first priority: a restart would take none of the machines it never
// reached, so none is printed; the type that takes them is, and run as
// printed it ends as the uninterrupted failback does.
TEST_F(E2EDrJobKills, AJobKilledBeforeItsFirstPriorityPointsAtTheTypeThatTakesItsMachines) {
  const std::string db = FreshLab(crashmatrix::EStartLab::kFailedOver);
  int signal = 0;
  const drtest::SResult killed = RunHost({"DR_KILL_AT=InitDRGroupInvocation"},
                                         {"run", "--db", db, "--group", "Sample", "--type", "planned-failover",
                                          "--job-id", std::to_string(crashmatrix::kJobId)},
                                         signal);
  ASSERT_EQ(1, killed.code) << killed.output;
  EXPECT_NE(std::string::npos, killed.output.find("is not continued by a restart")) << killed.output;
  const std::vector<std::string> steps = killtable::NextSteps(killed.output);
  ASSERT_EQ(1u, steps.size()) << killed.output;
  EXPECT_NE(std::string::npos,
            killed.output.find("takes db-primary (101), db-replica (102), app-server (201): " + steps.front() + "\n"))
      << killed.output;
  EXPECT_NE(std::string::npos, steps.front().find(" --type failback")) << steps.front();
  const drtest::SResult next = RunAsPrinted(steps.front());
  EXPECT_EQ(0, next.code) << next.output;
  CDBConnection::SetPath(db);
  ExpectEndsAsUninterrupted(crashmatrix::kFailback);
}

}  // namespace
