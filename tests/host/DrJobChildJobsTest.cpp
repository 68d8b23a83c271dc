// The host's child-job commands end to end: "drjob jobs" lists what the
// test process started, "drjob job" steers it from another process (and
// races the test process for its ending), and "drjob run" runs the child
// jobs of the lab while it lives.
#include <stdio.h>

#include <atomic>
#include <vector>

#include "JobSimTestSupport.h"
#include "TestThread.h"
#include "db/App_MiscOptions.h"
#include "host/DrJobTestSupport.h"
#include "host/SeedReplications.h"

namespace {

using drtest::ChildJob;
using drtest::Has;
using drtest::SResult;

class E2EDrJobChildJobs : public drtest::CDrJobLabTest {
 protected:
  static constexpr long long kDRJob = (1LL << 32) + 9;

  static long long StartHeld(EChildJobType type) {
    SChildJobSpec spec;
    spec.type = type;
    spec.parentJobId = kDRJob;
    spec.applicationId = kSampleSubclientId;
    spec.taskId = kSampleTaskId;
    spec.storagePolicyId = kSampleStoragePolicyId;
    spec.copyId = kSampleAuxCopyId;
    spec.hang = true;
    const long long id = CJobSimulator::StartJob(spec);
    EXPECT_NE(0, id);
    return id;
  }
  SResult Steer(long long jobId, const std::string& action) {
    return Host("job --db " + m_db + " --job " + std::to_string(jobId) + " " + action);
  }
  static std::string Line(long long id, const char* type, const char* status, double percent, long long parent) {
    char line[256];
    snprintf(line, sizeof(line), "%-12lld %-12s %-32s %7.0f %lld\n", id, type, status, percent, parent);
    return line;
  }
  static int NoticeState(long long jobId) {
    CDBConnection* c = CDBConnection::ForThread();
    sqlite3_stmt* s = c->Prepare("SELECT state FROM PLT_SimNotices WHERE jobId = " + std::to_string(jobId), false);
    int state = -1;
    if (s != nullptr && sqlite3_step(s) == SQLITE_ROW) state = sqlite3_column_int(s, 0);
    if (s != nullptr) c->Release(s);
    return state;
  }
  static void Register(long long jobId) {
    App_MiscOptions options;
    ASSERT_EQ(0, options.requestJobCompletionNotification(
                     jobId, 2, 0, 3, "DRSrvc|" + std::to_string(kDRJob) + "|1|JobWait|" + std::to_string(jobId),
                     nullptr));
  }
};

TEST_F(E2EDrJobChildJobs, JobsListsEveryJobWithItsTypeStatusPercentAndParent) {
  CreateDRJob(kDRJob);
  const long long backup = StartHeld(EChildJobType::kBackup);
  ASSERT_TRUE(CJobSimulator::SetPercent(backup, 37));
  const long long sync = StartHeld(EChildJobType::kSync);
  ASSERT_TRUE(CJobSimulator::Suspend(sync));
  const long long done = StartHeld(EChildJobType::kBackup);
  ASSERT_TRUE(CJobSimulator::Complete(done));
  const std::vector<long long> vms = ChildJob(done).childJobIds;
  ASSERT_EQ(3u, vms.size());

  const SResult r = Host("jobs --db " + m_db);
  ASSERT_EQ(0, r.code) << r.output;
  std::string expected;
  char header[128];
  snprintf(header, sizeof(header), "%-12s %-12s %-32s %7s %s\n", "id", "type", "status", "percent", "parent");
  expected += header;
  expected += Line(backup, "backup", "Running", 37, kDRJob);
  expected += Line(sync, "sync", "Suspended", 0, kDRJob);
  expected += Line(done, "backup", "Completed", 100, kDRJob);
  for (long long vm : vms) expected += Line(vm, "VM backup", "Completed", 100, done);
  expected += Line(kDRJob, "DR", "Running", 0, 0);
  EXPECT_EQ(expected, r.output);

  const SResult bad = Host("jobs --db " + m_dir + "/none.db");
  EXPECT_EQ(4, bad.code) << bad.output;
}

TEST_F(E2EDrJobChildJobs, JobSteersAChildJobFromAnotherProcess) {
  const long long backup = StartHeld(EChildJobType::kBackup);
  const std::string id = std::to_string(backup);

  SResult r = Steer(backup, "percent 40");
  ASSERT_EQ(0, r.code) << r.output;
  EXPECT_EQ("drjob: job [" + id + "] at [40%]\n", r.output);
  EXPECT_EQ(40.0, ChildJob(backup).percent);

  r = Steer(backup, "resume");
  ASSERT_EQ(0, r.code) << r.output;
  EXPECT_FALSE(ChildJob(backup).hung);
  r = Steer(backup, "hang");
  ASSERT_EQ(0, r.code) << r.output;
  EXPECT_TRUE(ChildJob(backup).hung);
  EXPECT_EQ("Running", ChildJob(backup).status);

  r = Steer(backup, "complete");
  ASSERT_EQ(0, r.code) << r.output;
  EXPECT_EQ("drjob: job [" + id + "] completed\n", r.output);
  const SChildJobRecord ended = ChildJob(backup);
  EXPECT_EQ("Completed", ended.status);
  EXPECT_EQ(100.0, ended.percent);
  EXPECT_EQ(3u, ended.childJobIds.size()) << "one per sample VM";

  r = Steer(backup, "complete");
  EXPECT_EQ(14, r.code);
  EXPECT_EQ("drjob: job [" + id + "] has already ended [Completed]; nothing to complete\n", r.output);

  const long long failed = StartHeld(EChildJobType::kRestore);
  ASSERT_EQ(0, Steer(failed, "fail").code);
  EXPECT_EQ("Failed", ChildJob(failed).status);
  const long long killed = StartHeld(EChildJobType::kAuxCopy);
  ASSERT_EQ(0, Steer(killed, "kill").code);
  EXPECT_EQ("Killed", ChildJob(killed).status);

  r = Steer(999999, "kill");
  EXPECT_EQ(5, r.code);
  EXPECT_EQ("drjob: no child job [999999] of the job simulator\n", r.output);
  CreateDRJob(kDRJob);
  EXPECT_EQ(5, Steer(kDRJob, "complete").code) << "a DR job is not a child job";
}

TEST_F(E2EDrJobChildJobs, BadJobArgumentsAreRefusedWithOneLine) {
  const long long id = StartHeld(EChildJobType::kRestore);
  for (const std::string& action : {std::string("percent 100"), std::string("percent"), std::string("percent -1"),
                                    std::string(""), std::string("dance"), std::string("complete kill")}) {
    const SResult r = Steer(id, action);
    EXPECT_EQ(2, r.code) << action;
    EXPECT_EQ(0u, r.output.rfind("drjob: ", 0)) << r.output;
  }
  const SResult r = Host("job --db " + m_db + " complete");
  EXPECT_EQ(2, r.code);
  EXPECT_TRUE(Has(r, "drjob: job needs --job N")) << r.output;
  EXPECT_EQ("Running", ChildJob(id).status);
}

TEST_F(E2EDrJobChildJobs, ACompleteFromAnotherProcessAndAKillHereEndTheJobOnce) {
  drtest::CNoticeRecorder notices;
  drtest::CScopedJobSimulator delivery(&notices);
  for (int round = 0; round < 3; ++round) {
    const long long job = StartHeld(EChildJobType::kBackup);
    Register(job);
    SResult other{-1, std::string()};
    // The other process ends by itself: nothing to release on an early exit.
    drtest::CTestThread host([&] { other = Steer(job, "complete"); }, "steering process");
    const bool killed = CJobSimulator::Kill(job);
    ASSERT_TRUE(host.Join());
    ASSERT_NE(killed, other.code == 0) << other.output;
    if (killed) {
      EXPECT_EQ(14, other.code) << other.output;
    }
    const SChildJobRecord ended = ChildJob(job);
    EXPECT_EQ(killed ? "Killed" : "Completed", ended.status);
    EXPECT_EQ(100.0, ended.percent);
    EXPECT_EQ(killed ? 0u : 3u, ended.childJobIds.size());
    // The one that ended the job delivered its notice: here, or there
    // through the notifier.
    EXPECT_EQ(2, NoticeState(job));
    EXPECT_EQ(killed ? 1u : 0u, notices.CountFor(job));
  }
}

// The steering process sends the notice of the child it ended through the
// notifier and stays for its answer: a notice the DR job took is recorded
// delivered, not left claimed in the name of a process that has gone.
TEST_F(E2EDrJobChildJobs, ANoticeSentByJobCompleteIsRecordedTakenOnceTheDRJobTookIt) {
  const long long duration = CJobSimulator::Duration(EChildJobType::kBackup);
  CJobSimulator::SetDuration(EChildJobType::kBackup, 3600000);
  drtest::CChildProcess run;
  StartHost(run, "run --db " + m_db + " --group Sample --type planned-failover --job-id 61");
  long long backup = 0;
  // Once the DR job waits for its first backup's notice.
  ASSERT_TRUE(drtest::Eventually([&] {
    std::vector<SChildJobRecord> jobs;
    if (CJobSimulator::Jobs(jobs) != EStoreResult::kOk) return false;
    for (const SChildJobRecord& j : jobs) {
      if (j.type == EChildJobType::kBackup && !j.vmChild && !j.ended) backup = j.jobId;
    }
    return backup != 0 && NoticeState(backup) == 0;
  })) << "the run never waited for a backup";
  CJobSimulator::SetDuration(EChildJobType::kBackup, duration);

  const SResult steered = Steer(backup, "complete");
  ASSERT_EQ(0, steered.code) << steered.output;
  EXPECT_EQ(2, NoticeState(backup)) << "delivered";
  const SResult ended = Finish(run);
  EXPECT_EQ(0, ended.code) << ended.output;
  EXPECT_EQ(2, NoticeState(backup));
}

TEST_F(E2EDrJobChildJobs, ARunAdvancesTheLabsChildJobsWhileItLives) {
  SChildJobSpec spec;
  spec.type = EChildJobType::kRestore;
  spec.parentJobId = kDRJob;
  spec.durationMs = 1;
  const long long job = CJobSimulator::StartJob(spec);
  ASSERT_NE(0, job);
  Register(job);
  EXPECT_FALSE(CJobSimulator::IsRunning());

  const SResult run = Host("run --db " + m_db + " --group Sample --type planned-failover");
  EXPECT_TRUE(Has(run, "finished with state")) << run.output;
  EXPECT_EQ("Completed", ChildJob(job).status);
  // The run's process sent it through the notifier next to drjob. Nobody
  // serves DR job kDRJob, so the notice was not taken: it waits to be sent
  // again (4), or was given up once that DR job was seen not to run (6);
  // it is neither counted delivered nor left claimed by the ended run.
  const std::string log = drtest::ReadFile(m_dir + "/run/drorch.log");
  const std::string id = std::to_string(job);
  EXPECT_TRUE(log.find("Notifier for job [" + id + "] exited [5]") != std::string::npos) << log;
  const int state = NoticeState(job);
  EXPECT_TRUE(state == 4 || state == 6) << state;
}

}  // namespace
