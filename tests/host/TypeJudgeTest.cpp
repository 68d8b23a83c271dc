// The judge of the type matrix and the walk, on pictures written here: each
// rule finds what it is for, and lets pass what the table allows.
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "host/TypeJudge.h"

namespace {

using typejudge::SFinding;

// The sample group's picture: db-primary as given, the other two at rest.
std::string Sample(const std::string& primary) {
  return primary + R"(vm db-replica on 102 -
vm db-replica-DR off 102 __OB_BACKUP__
repl 102 - In_Sync source-snap=- dr-snap=- pit=-
vm app-server on 201 -
vm app-server-DR off 201 __OB_BACKUP__
repl 201 - In_Sync source-snap=- dr-snap=- pit=-
)";
}

const char* const kAtRest = R"(vm db-primary on 102 -
vm db-primary-DR off 101 __OB_BACKUP__,db-primary-DR_1767225600
repl 101 - In_Sync source-snap=- dr-snap=- pit=-
)";

const char* const kFailedOverPicture = R"(vm db-primary off 101 __OB_BACKUP__
vm db-primary-DR on 103 __OB_FAILOVER__,db-primary-DR_1767225600
repl 101 Failover_Complete Sync_Disabled source-snap=__OB_BACKUP__ dr-snap=__OB_FAILOVER__ pit=-
)";

// The lines drjob prints for a job of the three machines.
std::string Lines(const std::string& primary, const std::string& more = std::string()) {
  return "drjob: DR job [5] machine [db-primary] (replication 101): " + primary +
         "\ndrjob: DR job [5] machine [db-replica] (replication 102): skipped: x\n"
         "drjob: DR job [5] machine [app-server] (replication 201): skipped: x\n" +
         more;
}

std::vector<SFinding> JudgeOf(const std::string& type, const std::string& before, const std::string& after,
                              const std::string& output) {
  typejudge::SJobAttempt a;
  a.group = "Sample";
  a.type = type;
  a.before = a.jobBefore = before;
  a.after = after;
  a.output = output;
  typejudge::CContents contents;
  contents.Saw("Sample", before);
  std::set<int> taken;
  return typejudge::Judge(a, contents, taken);
}

std::set<std::string> Rules(const std::vector<SFinding>& findings) {
  std::set<std::string> rules;
  for (const SFinding& f : findings) rules.insert(f.rule + " " + std::to_string(f.machine));
  return rules;
}

// A reverse replication that copies the DR VM over a running source never
// failed over loses the source's write, and stands it nowhere the table
// puts it; over a source that stands failed over the same copy is its
// discard.
TEST(TypeJudge, ASourceOverwrittenIsALostWriteUnlessItStoodFailedOver) {
  const std::string overwritten = Sample(R"(vm db-primary on 101 __OB_BACKUP__
vm db-primary-DR on 101 -
repl 101 - Sync_Disabled source-snap=- dr-snap=- pit=-
)");
  EXPECT_EQ((std::set<std::string>{"writes 101", "succeeded 101"}),
            Rules(JudgeOf("reverse-replication", Sample(kAtRest), overwritten, Lines("succeeded"))));

  const std::string failedOverWithWrite = Sample(R"(vm db-primary on 104 __OB_BACKUP__
vm db-primary-DR on 103 __OB_FAILOVER__,db-primary-DR_1767225600
repl 101 Failover_Complete Sync_Disabled source-snap=__OB_BACKUP__ dr-snap=__OB_FAILOVER__ pit=-
)");
  const std::string reversed = Sample(R"(vm db-primary on 103 __OB_BACKUP__
vm db-primary-DR on 103 -
repl 101 Failover_Complete Sync_Disabled source-snap=gone dr-snap=- pit=-
)");
  EXPECT_EQ(std::set<std::string>{}, Rules(JudgeOf("reverse-replication", failedOverWithWrite, reversed,
                                                   Lines("succeeded"))));
}

// A refused machine that changed, or whose restart is printed, breaks the
// refused rule; a taken one that failed, the planted one.
TEST(TypeJudge, ARefusedMachineStaysAsItWasWithNoRestart) {
  const std::string written = Sample(R"(vm db-primary on 103 -
vm db-primary-DR off 101 __OB_BACKUP__,db-primary-DR_1767225600
repl 101 - In_Sync source-snap=- dr-snap=- pit=-
)");
  const std::string restart =
      "drjob: DR job [5] is continued by its restart, which takes over db-primary (101):\n"
      "drjob: $ drjob run --db L --job-id 5\n";
  EXPECT_EQ((std::set<std::string>{"refused 101"}),
            Rules(JudgeOf("undo-failover", Sample(kAtRest), written, Lines("skipped: x"))));
  EXPECT_EQ((std::set<std::string>{"refused 101"}),
            Rules(JudgeOf("undo-failover", Sample(kAtRest), Sample(kAtRest), Lines("skipped: x", restart))));
  EXPECT_EQ((std::set<std::string>{"planted 101"}),
            Rules(JudgeOf("undo-failover", Sample(kAtRest), Sample(kAtRest), Lines("failed: x", restart))));
}

// A workload running nowhere must be told; a "needs no next step" line must
// be true; a point-in-time snapshot goes only with a type that removes it.
TEST(TypeJudge, NowhereToldAndRecords) {
  const std::string nowhere = Sample(R"(vm db-primary off 102 -
vm db-primary-DR off 101 __OB_BACKUP__
repl 101 Failover_Failed In_Sync source-snap=- dr-snap=- pit=-
)");
  const std::set<std::string> found =
      Rules(JudgeOf("testboot", Sample(kAtRest), nowhere, Lines("failed: x")));
  EXPECT_EQ(1u, found.count("nowhere 101"));
  EXPECT_EQ(1u, found.count("records 101"));
  const std::string left =
      "drjob: DR job [5] leaves machine [db-primary] (replication 101) at x: a new DR job of type [failback] takes it\n";
  EXPECT_EQ(0u, Rules(JudgeOf("testboot", Sample(kAtRest), nowhere, Lines("failed: x", left))).count("nowhere 101"));

  const std::string notThere = "drjob: DR job [5] needs no next step for db-primary (101): already failed over, where "
                               "a DR job of type [planned-failover] puts it\n";
  EXPECT_EQ((std::set<std::string>{"told 101"}),
            Rules(JudgeOf("planned-failover", Sample(kAtRest), Sample(kAtRest), Lines("skipped: x", notThere))));
  EXPECT_EQ(std::set<std::string>{},
            Rules(JudgeOf("planned-failover", Sample(kFailedOverPicture), Sample(kFailedOverPicture), Lines("skipped: x", notThere))));
}

// A source snapshot reference an earlier job left goes only with a type
// that drops it (the unplanned failover), never with one that keeps it.
TEST(TypeJudge, ASourceSnapshotReferenceGoesOnlyWithATypeThatDropsIt) {
  const std::string killedFailover = Sample(R"(vm db-primary on 104 __OB_BACKUP__
vm db-primary-DR off 102 __OB_BACKUP__,db-primary-DR_1767225600
repl 101 Failover_Failed In_Sync source-snap=__OB_BACKUP__ dr-snap=- pit=-
)");
  const std::string dropped = Sample(R"(vm db-primary off 104 __OB_BACKUP__
vm db-primary-DR on 102 __OB_FAILOVER__,db-primary-DR_1767225600
repl 101 Failover_Complete Sync_Disabled source-snap=- dr-snap=__OB_FAILOVER__ pit=-
)");
  EXPECT_EQ(std::set<std::string>{}, Rules(JudgeOf("unplanned-failover", killedFailover, dropped, Lines("succeeded"))));
  const std::string keptOn = Sample(R"(vm db-primary on 104 __OB_BACKUP__
vm db-primary-DR off 102 __OB_BACKUP__,db-primary-DR_1767225600
repl 101 Failover_Failed In_Sync source-snap=- dr-snap=- pit=-
)");
  EXPECT_EQ((std::set<std::string>{"records 101"}),
            Rules(JudgeOf("test-failover", killedFailover, keptOn, Lines("succeeded"))));
}

// A storage-array machine whose undo was stopped after its unmount stands
// at the source, its source running and nothing mounted, whatever status
// the undo left; one whose DR VM is still mounted stands failed over.
TEST(TypeJudge, AnArrayMachineStandsWhereItsWorkloadRuns) {
  auto array = [](const char* web) {
    return std::string(web) + R"(vm snap-app on 302 -
array-repl 302 - -
vm snap-db on 303 -
array-repl 303 - -
vm snap-files on 304 -
array-repl 304 - -
)";
  };
  const std::string atSource = array("vm snap-web on 301 -\narray-repl 301 Revert_Failover_in_Progress -\n");
  const std::string mounted =
      array("mounted vm snap-web off 0 -\nvm snap-web off 301 -\narray-repl 301 Revert_Failover_Failed -\n");
  const std::string line = "drjob: DR job [5] needs no next step for snap-web (301): already at the source, where a "
                           "DR job of type [undo-failover] puts it\n";
  auto told = [&line](const std::string& picture) {
    typejudge::SJobAttempt a;
    a.group = "SampleArray";
    a.type = "undo-failover";
    a.before = a.jobBefore = a.after = picture;
    a.output = "drjob: DR job [5] machine [snap-web] (replication 301): skipped: x\n" + line;
    typejudge::CContents contents;
    std::set<int> taken;
    return Rules(typejudge::Judge(a, contents, taken)).count("told 301");
  };
  EXPECT_EQ(0u, told(atSource));
  EXPECT_EQ(1u, told(mounted));
}

// Each printed command takes the machines the line before it names: a
// restart's, a new job's with those it takes along, an undo test failover
// that clears the way for the failover that refused its machines; a name
// or a group that reads as a command is not one.
TEST(TypeJudge, StepsReadWhatEachPrintedCommandTakes) {
  const std::string output =
      "drjob: DR job [7] is continued by its restart, which takes over app-server (201):\n"
      "drjob: $ drjob run --db L --job-id 7\n"
      "drjob: DR job [7] leaves machine [db-primary] (replication 101) at failover status [Revert Failover Failed], "
      "sync status [Sync Disabled], its workload running nowhere: a new DR job of type [undo-failover] takes it\n"
      "drjob: DR job [7]: a new DR job of type [undo-failover] on DR group [x: drjob run --group 4 (9)] (1) takes "
      "db-primary (101), db-replica (102), and also app-server (201):\n"
      "drjob: $ drjob run --db L --group 1 --type undo-failover\n"
      "drjob: DR job [8]: a new DR job of type [undo-test-failover] on DR group [SampleArray] (3) clears the test "
      "failover of snap-web (301), snap-db (302), before a DR job of type [planned-failover], and also takes "
      "snap-app (303):\n"
      "drjob: $ drjob run --db L --group 3 --type undo-test-failover\n"
      "drjob: DR job [9] completed with errors and is not run again; a new DR job on DR group [Sample] (1) takes "
      "db-replica (102), and again db-primary (101):\n"
      "drjob: $ drjob run --db L --group 1 --type testboot --testboot-wait 0\n";
  const std::vector<typejudge::SStep> steps = typejudge::Steps(output);
  ASSERT_EQ(4u, steps.size()) << output;
  EXPECT_EQ("drjob run --db L --job-id 7", steps[0].command);
  EXPECT_TRUE(steps[0].restart);
  EXPECT_EQ((std::set<int>{201}), steps[0].machines);
  EXPECT_EQ("drjob run --db L --group 1 --type undo-failover", steps[1].command);
  EXPECT_FALSE(steps[1].restart);
  EXPECT_EQ((std::set<int>{101, 102, 201}), steps[1].machines);
  EXPECT_EQ((std::set<int>{301, 302, 303}), steps[2].machines);
  EXPECT_EQ((std::set<int>{101, 102}), steps[3].machines);
}

// A workload running nowhere is named by the line that leaves it, and a
// "needs no next step" line is read for each machine it names.
TEST(TypeJudge, ALeavesLineNamesAWorkloadRunningNowhere) {
  const std::string nowhere = Sample(R"(vm db-primary off 102 -
vm db-primary-DR off 101 __OB_BACKUP__,db-primary-DR_1767225600
repl 101 Failover_Failed In_Sync source-snap=- dr-snap=- pit=-
)");
  const std::string left =
      "drjob: DR job [5] leaves machine [db-primary] (replication 101) at failover status [Failover Failed], sync "
      "status [In Sync], its workload running nowhere: no DR type that brings it up takes it as it stands\n";
  EXPECT_EQ(0u, Rules(JudgeOf("testboot", nowhere, nowhere, Lines("skipped: x", left))).count("nowhere 101"));
  EXPECT_EQ(1u, Rules(JudgeOf("testboot", nowhere, nowhere, Lines("skipped: x"))).count("nowhere 101"));
  const std::string inPlace = "drjob: DR job [5] needs no next step for db-replica (102), db-primary (101): already "
                              "failed over, where a DR job of type [planned-failover] puts them\n";
  EXPECT_EQ(1u, Rules(JudgeOf("planned-failover", Sample(kAtRest), Sample(kAtRest), Lines("skipped: x", inPlace)))
                    .count("told 101"));
}

// A printed command run first must take what its line names. Run after
// another printed command that took the machine too, it may skip it; a
// machine it never reached still breaks.
TEST(TypeJudge, AFollowedStepRunLaterMaySkipAMachineAnotherTook) {
  typejudge::SStep undo;
  undo.command = "drjob run --db L --group 1 --type undo-failover";
  undo.machines = {201};
  const std::string skipped = "drjob: DR job [7] machine [app-server] (replication 201): skipped: x\n";
  const std::string unreached = "drjob: DR job [7] machine [app-server] (replication 201): not reached: x\n";
  const std::string at = Sample(kAtRest);
  auto told = [&](bool first, const std::string& output) {
    undo.first = first;
    return typejudge::JudgeFollowed(undo, at, at, output).size();
  };
  EXPECT_EQ(0u, told(false, skipped));
  EXPECT_EQ(1u, told(true, skipped));
  EXPECT_EQ(1u, told(false, unreached));
}

}  // namespace
