// A lab that cannot be written during a run, in another process: the
// planned failover of the sample group waits for its first backup when
// every write of the run's process to a file starts failing, as on a full
// disk (a file-size limit of 0 set on the process from here; its log fails
// too, as it would). The backup's end falls due and cannot be stored. The
// run says so on its standard error, a line an interval at most, goes on
// retrying, and once it can write again ends the backup and finishes the
// job.
#include <sys/resource.h>
#include <sys/wait.h>

#include <chrono>
#include <string>

#include "TestSupport.h"
#include "db/DBUnwritableReport.h"
#include "host/DrJobTestSupport.h"
#include "jobs/JobStore.h"
#include "jobsim/JobSimulator.h"
#include "jobsim/SimJobStore.h"

namespace {

using drtest::Has;
using drtest::SResult;

constexpr long long kAYear = 1000LL * 3600 * 24 * 365;
constexpr long long kManyFailures = 50;

class E2EDrJobFullDisk : public drtest::CDrJobLabTest {
 protected:
  void TearDown() override {
    CJobSimulator::SetDuration(EChildJobType::kBackup, 0);
    drtest::CDrJobLabTest::TearDown();
  }
  // The soft file-size limit of another process of this user; its hard
  // limit stays, so that it can be raised again.
  static bool LimitFileSize(pid_t pid, rlim_t bytes) {
    struct rlimit now;
    if (prlimit(pid, RLIMIT_FSIZE, nullptr, &now) != 0) return false;
    now.rlim_cur = bytes;
    return prlimit(pid, RLIMIT_FSIZE, &now, nullptr) == 0;
  }
  // The first backup of the job, once it runs.
  static long long RunningBackup(long long jobId) {
    std::vector<SChildJobRecord> jobs;
    if (CJobSimulator::Jobs(jobs) != EStoreResult::kOk) return 0;
    for (const SChildJobRecord& j : jobs) {
      if (j.type == EChildJobType::kBackup && !j.vmChild && j.parentJobId == jobId && !j.ended) return j.jobId;
    }
    return 0;
  }
  // Reads the run's output (its error lines among it) up to a line that
  // holds the text.
  bool ReadUntil(drtest::CChildProcess& run, const std::string& text, std::string* found = nullptr) {
    for (std::string line; run.ReadLine(line, 60000);) {
      m_output += line + "\n";
      if (line.find(text) == std::string::npos) continue;
      if (found != nullptr) *found = line;
      return true;
    }
    return false;
  }
  int ReadToEnd(drtest::CChildProcess& run) {
    for (std::string line; run.ReadLine(line, 120000);) m_output += line + "\n";
    return run.Wait();
  }
  // The failure count a report line gives.
  static long long Failures(const std::string& line) {
    const std::string mark = "writes are retried ([";
    const size_t at = line.find(mark);
    return at == std::string::npos ? -1 : atoll(line.c_str() + at + mark.size());
  }
  static size_t Count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
  }

  std::string m_output;
};

TEST_F(E2EDrJobFullDisk, AChildWaitOnALabThatCannotBeWrittenSaysSoAndTheJobFinishesOnceItCan) {
  const long long jobId = 601;
  CJobSimulator::SetDuration(EChildJobType::kBackup, kAYear);
  drtest::CChildProcess run;
  const std::vector<std::string> argv = {"/bin/sh", "-c", "exec \"$@\" 2>&1", "sh", "/usr/bin/env",
                                         "DR_RUN_DIR=" + m_dir + "/run", "DR_LOCK_DIR=" + m_dir + "/locks",
                                         "DR_TIME_SCALE=0.001", DR_DRJOB, "run", "--db", m_db, "--group", "Sample",
                                         "--type", "planned-failover", "--job-id", std::to_string(jobId)};
  ASSERT_TRUE(run.Start(argv));
  ASSERT_TRUE(ReadUntil(run, "] progress [")) << m_output;
  long long backupId = 0;
  ASSERT_TRUE(drtest::Eventually([&] { return (backupId = RunningBackup(jobId)) > 0; })) << m_output;

  const auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(LimitFileSize(run.Pid(), 0)) << "cannot limit the run's file size";
  std::string first;
  ASSERT_TRUE(ReadUntil(run, "cannot be written: [", &first)) << m_output;
  EXPECT_EQ(0u, first.find("drjob: the database [" + m_db + "] cannot be written: [")) << first;
  EXPECT_NE(std::string::npos, first.find("]; writes are retried ([")) << first;

  // The backup's end falls due at the run's next step, which cannot store
  // it; the backups after it take their usual time.
  SChildJobRecord backup;
  ASSERT_EQ(EStoreResult::kOk, CJobSimulator::GetJob(backupId, backup));
  ASSERT_EQ(EStoreResult::kOk, CSimJobStore::SetElapsed(backupId, backup.durationMs - 1));
  CJobSimulator::SetDuration(EChildJobType::kBackup, 0);
  // The run goes on retrying: held until a line counts many failures.
  std::string last = first;
  while (Failures(last) < kManyFailures) {
    const long long before = Failures(last);
    ASSERT_TRUE(ReadUntil(run, "cannot be written: [", &last)) << m_output;
    ASSERT_GT(Failures(last), before) << m_output;
  }
  SJobRecord record;
  ASSERT_EQ(EStoreResult::kOk, CJobStore::GetJob(backupId, record));
  EXPECT_EQ("Running", record.status) << "its end could not be stored";

  ASSERT_TRUE(LimitFileSize(run.Pid(), RLIM_INFINITY));
  ASSERT_TRUE(ReadUntil(run, "drjob: the database [" + m_db + "] can be written again, after [")) << m_output;
  const int status = ReadToEnd(run);
  const long long realMs =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
  ASSERT_TRUE(WIFEXITED(status)) << m_output;
  EXPECT_EQ(0, WEXITSTATUS(status)) << m_output;
  EXPECT_TRUE(Has(SResult{0, m_output}, "drjob: DR job [601] finished with state [0] SUCCESS")) << m_output;
  // The run ended the backup itself once it could.
  ASSERT_EQ(EStoreResult::kOk, CJobStore::GetJob(backupId, record));
  EXPECT_EQ("Completed", record.status);
  // Many failed writes, a line an interval at most (two more for the
  // intervals the wait began and ended in).
  EXPECT_LE(Count(m_output, "cannot be written: ["),
            static_cast<size_t>(2 + realMs / CDBUnwritableReport::kIntervalMs))
      << m_output;
  EXPECT_EQ(1u, Count(m_output, "can be written again")) << m_output;
}

}  // namespace
