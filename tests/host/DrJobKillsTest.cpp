// Each DR type killed once, as drjob control kill kills it, at the moment it
// acts after a step: what drjob printed of each machine against what the
// lab holds (killtable::CKillTable). Each type whose restart resumes past a
// move is killed right after it and followed by its printed next steps,
// run as printed, up to the lab the uninterrupted run leaves. The cases
// share a start lab per test; the whole table, every type at every
// crash-matrix moment followed by its next steps, is DrJobKillTable (label
// stress).
#include <string>
#include <vector>

#include "host/KillTable.h"

namespace {

using crashmatrix::SCrash;
using crashmatrix::SType;
using killtable::CKillTable;
using killtable::SKillOutcome;

using E2EDrJobKills = CKillTable;

// The type and its moment; rerun: followed by its printed next steps.
struct SKill {
  const SType* type;
  SCrash at;
  bool rerun = false;
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

TEST_F(E2EDrJobKills, ArrayUndoTypesKilledAsTheyActAfterTheirLetFailStep) {
  // The DR VMs' shutdown (power-off) before the unmount is let fail.
  KillAndRerun(crashmatrix::kArrayUndoFailover, At(crashmatrix::kArrayUndoFailover, "DR VM shut down"));
  KillAndExpect(crashmatrix::kArrayUndoTestFailover, At(crashmatrix::kArrayUndoTestFailover, "test VM off"));
}

}  // namespace
