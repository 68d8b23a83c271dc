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
  void StartHeldRun(drtest::CChildProcess& run, long long jobId) {
    const std::string command = "exec env DR_RUN_DIR='" + m_dir + "/run' DR_LOCK_DIR='" + m_dir +
                                "/locks' DR_TIME_SCALE=1 " + DR_DRJOB + " run --db " + m_db +
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

}  // namespace
