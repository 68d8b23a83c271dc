// A lab moved away, removed or replaced under a running DR job: the run ends
// at once with its own line and exit code, nothing is made or left at the
// old path, the job's record stays whole in the file it ran on and is
// continued there, and a lab put in its place is not touched.
#include <stdio.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "JobTestSupport.h"
#include "TestSupport.h"
#include "host/DrJobTestSupport.h"

namespace {

using drtest::Has;
using drtest::SResult;

class E2EDrJobLabMoved : public drtest::CDrJobLabTest {
 protected:
  // A run at the real time scale, standard error with its output: the
  // sample group waits a minute between its priorities, so the run holds its
  // job until something ends it. Returns once it reports progress.
  void StartHeldRun(drtest::CChildProcess& run, long long jobId, const std::string& env = std::string()) {
    const std::string command = "exec env DR_RUN_DIR='" + m_dir + "/run' DR_LOCK_DIR='" + m_dir +
                                "/locks' DR_TIME_SCALE=1 " + env + DR_DRJOB + " run --db " + m_db +
                                " --group Sample --type planned-failover --job-id " + std::to_string(jobId) + " 2>&1";
    ASSERT_TRUE(run.Start({"/bin/sh", "-c", command}));
    std::string line;
    while (run.ReadLine(line)) {
      if (line.find("] progress [") != std::string::npos) return;
    }
    FAIL() << "the run never started";
  }
  static bool Exists(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
  }
  std::string GoneLine(long long jobId, const char* what) const {
    const std::string id = std::to_string(jobId);
    return "drjob: DR job [" + id + "]: the lab [" + m_db + "] was " + what +
           " while the job ran; drjob ends at once, as a crash would: the job is continued by a run of the file "
           "that holds it with --job-id " +
           id + "\n";
  }
};

TEST_F(E2EDrJobLabMoved, ALabMovedAwayEndsTheRunAndTheJobGoesOnInTheMovedFile) {
  const std::string moved = m_dir + "/moved.db";
  drtest::CChildProcess run;
  StartHeldRun(run, 41);
  ASSERT_EQ(0, rename(m_db.c_str(), moved.c_str()));
  const SResult ended = Finish(run);
  EXPECT_EQ(17, ended.code) << ended.output;
  EXPECT_TRUE(Has(ended, GoneLine(41, "moved away or removed"))) << ended.output;
  // Nothing made at the old path, nor left beside it.
  for (const char* suffix : {"", "-wal", "-shm", "-journal"}) EXPECT_FALSE(Exists(m_db + suffix)) << suffix;

  // The record is whole in the moved file, and a run of that file takes the
  // job over and finishes it there.
  const SResult jobs = Host("jobs --db " + moved);
  ASSERT_EQ(0, jobs.code) << jobs.output;
  EXPECT_TRUE(Has(jobs, "\n41           DR           Running ")) << jobs.output;
  const SResult again = Host("run --db " + moved + " --job-id 41");
  EXPECT_EQ(0, again.code) << again.output;
  EXPECT_TRUE(Has(again, "drjob: DR job [41] was left running by a run that ended without finishing; this run takes "
                         "it over\n"))
      << again.output;
  EXPECT_TRUE(Has(again, "drjob: DR job [41] finished with state [0] SUCCESS\n")) << again.output;
  EXPECT_FALSE(Exists(m_db));
}

TEST_F(E2EDrJobLabMoved, ALabReplacedUnderTheRunEndsItAndTheNewLabIsLeftAlone) {
  const std::string other = m_dir + "/other.db";
  ASSERT_EQ(0, Host("seed --db " + other).code);
  drtest::CChildProcess run;
  StartHeldRun(run, 42);
  ASSERT_EQ(0, rename(other.c_str(), m_db.c_str()));
  const SResult ended = Finish(run);
  EXPECT_EQ(17, ended.code) << ended.output;
  EXPECT_TRUE(Has(ended, GoneLine(42, "replaced by another file"))) << ended.output;
  // What the run kept beside the path holds none of its pages: the lab now
  // there reads whole, without the run's job.
  const SResult jobs = Host("jobs --db " + m_db);
  EXPECT_EQ(0, jobs.code) << jobs.output;
  EXPECT_FALSE(Has(jobs, "\n42 ")) << jobs.output;
  const SResult show = Host("lab --db " + m_db + " show");
  EXPECT_EQ(0, show.code) << show.output;
}

// The moment the watcher sees another file it takes the job's -wal and
// -shm from beside the path and carries the job's writes into the file the
// run opened. The run is stopped (not ended) right after, holding its
// files and locks: a process that opens the path then reads the new lab
// whole, without the job, and the moved lab holds the job.
TEST_F(E2EDrJobLabMoved, AProcessOpeningTheNewLabWhileTheRunEndsReadsItWholeAndTheMovedLabKeepsTheJob) {
  const std::string other = m_dir + "/other.db";
  const std::string moved = m_dir + "/moved.db";
  ASSERT_EQ(0, Host("seed --db " + other).code);
  ASSERT_EQ(0, Host("lab --db " + other + " down site-b").code);
  const SResult before = Host("lab --db " + other + " show");
  ASSERT_EQ(0, before.code) << before.output;
  drtest::CChildProcess run;
  StartHeldRun(run, 43, "DR_CRASH_AT='LabWatch(): The lab [' DR_CRASH_STOP=1 ");
  ASSERT_EQ(0, rename(m_db.c_str(), moved.c_str()));
  ASSERT_EQ(0, rename(other.c_str(), m_db.c_str()));
  ASSERT_TRUE(drtest::Eventually([&] { return drtest::IsStopped(run.Pid()); })) << "the watcher never saw the other file";

  const SResult jobs = Host("jobs --db " + m_db);
  EXPECT_EQ(0, jobs.code) << jobs.output;
  EXPECT_FALSE(Has(jobs, "\n43 ")) << jobs.output;
  const SResult after = Host("lab --db " + m_db + " show");
  EXPECT_EQ(0, after.code) << after.output;
  EXPECT_EQ(before.output, after.output);
  run.Kill();
  run.Wait();

  EXPECT_FALSE(drtest::HasSiblings(m_db)) << "the readers' own, removed as they closed";
  const SResult kept = Host("jobs --db " + moved);
  ASSERT_EQ(0, kept.code) << kept.output;
  EXPECT_TRUE(Has(kept, "\n43           DR           Running ")) << kept.output;
  EXPECT_EQ(0, Host("lab --db " + moved + " show").code);
}

// A run that ends leaves nothing beside its lab: the lab moved after it
// holds the whole run.
TEST_F(E2EDrJobLabMoved, ALabMovedAfterARunHoldsTheRun) {
  const SResult ran = Host("run --db " + m_db + " --group Sample --type planned-failover --job-id 44");
  ASSERT_EQ(0, ran.code) << ran.output;
  EXPECT_FALSE(drtest::HasSiblings(m_db));
  const std::string moved = m_dir + "/moved.db";
  ASSERT_EQ(0, rename(m_db.c_str(), moved.c_str()));
  const SResult jobs = Host("jobs --db " + moved);
  ASSERT_EQ(0, jobs.code) << jobs.output;
  EXPECT_TRUE(Has(jobs, "\n44           DR           Completed ")) << jobs.output;
}

}  // namespace
