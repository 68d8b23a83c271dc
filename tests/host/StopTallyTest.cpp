// What the live-kill sampler calls a stop that stopped a job, how it counts
// its stops per mode, and the lab it puts back after a run made only to be
// measured (stoptally).
#include <gtest/gtest.h>

#include <string>

#include "host/DrJobTestSupport.h"
#include "host/StopTally.h"

namespace {

using stoptally::CSavedLab;
using stoptally::CStopTally;
using stoptally::EffectOf;
using stoptally::SStopEffect;

// drjob's lines of a run whose kill stood as it stored its final state and
// halted nothing (docs/host.md).
const char kUnacted[] =
    "drjob: DR job [3] on DR group [Sample] (id 1), type [cleanup-destination-vm]\n"
    "drjob: DR job [3] finished with state [0] SUCCESS\n"
    "drjob: DR job [3]: the kill requested at [12/08 00:10:31] was not acted on, because no step of the job "
    "checked for it after that\n"
    "drjob: DR job [3] machine [db-primary] (replication 101): succeeded\n";

TEST(StopTally, AStopStoppedTheJobOnlyWhenItReachedItAndDrjobDoesNotSayItWasNotActedOn) {
  const SStopEffect late = EffectOf(true, "unused", kUnacted);
  EXPECT_TRUE(late.reached);
  EXPECT_FALSE(late.acted);
  EXPECT_EQ("stopped nothing: the request was not acted on, because no step of the job checked for it after that",
            late.text);

  const SStopEffect refused = EffectOf(false, "drjob control answered exit 14", "");
  EXPECT_FALSE(refused.reached);
  EXPECT_FALSE(refused.acted);
  EXPECT_EQ("stopped nothing: drjob control answered exit 14", refused.text);

  const SStopEffect killed = EffectOf(true, "unused",
                                      "drjob: DR job [3] finished with state [3] KILLED\n"
                                      "drjob: DR job [3] machine [db-primary] (replication 101): failed\n");
  EXPECT_TRUE(killed.acted);
  EXPECT_EQ("stopped the job", killed.text);
}

TEST(StopTally, AModeIsIdleOnlyWhenItTriedStopsAndNoneStoppedAJob) {
  CStopTally tally({"control kill", "SIGINT", "kill point"});
  SStopEffect stopped;
  stopped.reached = stopped.acted = true;
  const SStopEffect missed = EffectOf(true, "", kUnacted);
  tally.Count(0, false, missed);
  tally.Count(0, true, stopped);
  tally.Count(1, false, missed);
  tally.Count(1, true, missed);

  // The kill point tried nothing: no line, and not idle.
  ASSERT_EQ(2u, tally.Lines().size());
  EXPECT_EQ("control kill: 2 stop(s) tried, 1 stopped a job (first runs 0 of 1, next steps 1 of 1)",
            tally.Lines()[0]);
  ASSERT_EQ(1u, tally.Idle().size());
  EXPECT_EQ("SIGINT: 2 stop(s) tried, 0 stopped a job (first runs 0 of 1, next steps 0 of 1)", tally.Idle()[0]);
}

// A run made only to be measured may leave the lab with a WAL and its index
// beside it, or without the WAL the lab had: put back, the lab is the bytes
// it was, with the WAL it had and no index of a WAL that is gone.
TEST(StopTally, ASavedLabIsPutBackWithTheWalItHadAndNoStaleIndex) {
  const std::string dir = drtest::MakeTempDir("stoptally");
  const std::string db = dir + "/lab.db";
  ASSERT_TRUE(drtest::WriteFile(db, "before"));
  const CSavedLab withoutWal(db);
  ASSERT_TRUE(drtest::WriteFile(db, "after, and longer"));
  ASSERT_TRUE(drtest::WriteFile(db + "-wal", "wal"));
  ASSERT_TRUE(drtest::WriteFile(db + "-shm", "index"));
  ASSERT_TRUE(withoutWal.Restore());
  EXPECT_EQ("before", drtest::ReadFile(db));
  EXPECT_FALSE(drtest::PathExists(db + "-wal"));
  EXPECT_FALSE(drtest::PathExists(db + "-shm"));

  ASSERT_TRUE(drtest::WriteFile(db + "-wal", "its wal"));
  const CSavedLab withWal(db);
  ASSERT_TRUE(drtest::WriteFile(db + "-wal", "another wal"));
  ASSERT_TRUE(drtest::WriteFile(db + "-shm", "index"));
  ASSERT_TRUE(withWal.Restore());
  EXPECT_EQ("before", drtest::ReadFile(db));
  EXPECT_EQ("its wal", drtest::ReadFile(db + "-wal"));
  EXPECT_FALSE(drtest::PathExists(db + "-shm"));
  drtest::RemoveTree(dir);
}

}  // namespace
