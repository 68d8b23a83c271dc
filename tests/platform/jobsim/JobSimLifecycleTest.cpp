// Child jobs of the job simulator from start to end: percent below 100 while
// they run and exactly 100 at every end, steering, suspend and resume through
// the job manager's job operations, a job that outlives the runner that
// started it, and ids that stay below 2^31 whatever the DR job's id.
#include "JobSimTestSupport.h"
#include "xmlreq/XMLHandler.h"

namespace {

using drtest::ChildJob;
using drtest::Eventually;
using drtest::HasEnded;

class JobSimLifecycle : public CJobSimTestBase {
 protected:
  static long long StartRestore(long long durationMs, bool hang = false) {
    SChildJobSpec spec;
    spec.type = EChildJobType::kRestore;
    spec.parentJobId = kDRJob;
    spec.durationMs = durationMs;
    spec.hang = hang;
    const long long id = CJobSimulator::StartJob(spec);
    EXPECT_NE(0, id);
    return id;
  }

  // The DR job's request: 0 suspend, 2 resume, 3 kill.
  static int Operate(long long jobId, int op) {
    JobManager::PerformMultiCellJobOpReq req;
    CNMessageBase& opReq = req.MutableMsg(JobManager::PerformMultiCellJobOpReq::kOperationReq);
    opReq.SetInt32(JobManager::PerformJobOperationReq::kOperation, op);
    opReq.AddMsg(JobManager::PerformJobOperationReq::kJobs).SetInt64(JobManager::JobSummary::kJobId, jobId);
    std::string xml, error;
    EXPECT_TRUE(req.serializeUTF8(xml));
    return XMLHandler::handleXMLReq(1, JobManager::PerformMultiCellJobOpReq::kTypeId, xml, error, "", 0);
  }
};

TEST_F(JobSimLifecycle, RunningJobsStayBelowHundredAndEveryEndingIsExactlyHundred) {
  std::vector<long long> jobs;
  for (int i = 0; i < 4; ++i) jobs.push_back(StartRestore(20000000));
  for (long long id : jobs) {
    ASSERT_TRUE(Eventually([&] { return ChildJob(id).percent > 0; }));
    // Held from here on, so that the test ends it and not the runner, which
    // on a slow machine may catch up on its whole duration in one tick.
    ASSERT_TRUE(CJobSimulator::Hang(id));
    const SChildJobRecord job = ChildJob(id);
    EXPECT_EQ("Running", job.status);
    EXPECT_LT(job.percent, 100.0);
  }
  const long long natural = StartRestore(20000);

  ASSERT_TRUE(CJobSimulator::Complete(jobs[0]));
  ASSERT_TRUE(CJobSimulator::CompleteWithErrors(jobs[1]));
  ASSERT_TRUE(CJobSimulator::Fail(jobs[2], "disk gone"));
  ASSERT_TRUE(CJobSimulator::Kill(jobs[3]));
  ASSERT_TRUE(Eventually([&] { return HasEnded(natural); }));

  const std::vector<std::pair<long long, std::string>> expected = {
      {jobs[0], "Completed"}, {jobs[1], "Completed w/ one or more errors"}, {jobs[2], "Failed"},
      {jobs[3], "Killed"},    {natural, "Completed"}};
  for (const auto& e : expected) {
    const SChildJobRecord job = ChildJob(e.first);
    EXPECT_EQ(e.second, job.status) << e.first;
    EXPECT_EQ(100.0, job.percent) << e.first;
    EXPECT_TRUE(job.ended) << e.first;
  }
  EXPECT_EQ("disk gone", ChildJob(jobs[2]).endReason);
}

TEST_F(JobSimLifecycle, AnEndedOrUnknownJobCannotBeSteered) {
  const long long id = StartHeld(Of(EChildJobType::kRestore));
  ASSERT_TRUE(CJobSimulator::Kill(id));
  for (long long target : {id, 424242LL}) {
    EXPECT_FALSE(CJobSimulator::Complete(target));
    EXPECT_FALSE(CJobSimulator::CompleteWithErrors(target));
    EXPECT_FALSE(CJobSimulator::Fail(target, "late"));
    EXPECT_FALSE(CJobSimulator::Kill(target));
    EXPECT_FALSE(CJobSimulator::Suspend(target));
    EXPECT_FALSE(CJobSimulator::Resume(target));
    EXPECT_FALSE(CJobSimulator::Hang(target));
    EXPECT_FALSE(CJobSimulator::SetPercent(target, 10));
    EXPECT_FALSE(CJobSimulator::SetFaults(target, SJobFaults()));
  }
  const SChildJobRecord job = ChildJob(id);
  EXPECT_EQ("Killed", job.status);
  EXPECT_EQ(100.0, job.percent);
  SChildJobRecord none;
  EXPECT_EQ(EStoreResult::kMissing, CJobSimulator::GetJob(424242, none));
}

TEST_F(JobSimLifecycle, SuspendFreezesTheJobAndResumeContinuesIt) {
  const long long pacer = StartPacer();
  const long long id = StartRestore(1000000000LL);
  ASSERT_TRUE(Eventually([&] { return ChildJob(id).elapsedMs > 0; }));

  ASSERT_EQ(0, Operate(id, 0));
  const SChildJobRecord suspended = ChildJob(id);
  EXPECT_EQ("Suspended", suspended.status);
  LetTimePass(pacer, 30000);
  EXPECT_EQ(suspended.elapsedMs, ChildJob(id).elapsedMs);
  EXPECT_EQ(suspended.percent, ChildJob(id).percent);
  EXPECT_EQ(0, Operate(id, 0)) << "a second suspend is accepted";
  EXPECT_TRUE(CJobSimulator::Suspend(id));

  ASSERT_EQ(0, Operate(id, 2));
  EXPECT_EQ("Running", ChildJob(id).status);
  ASSERT_TRUE(Eventually([&] { return ChildJob(id).elapsedMs > suspended.elapsedMs; }));

  ASSERT_EQ(0, Operate(id, 3));
  EXPECT_EQ("Killed", ChildJob(id).status);
  EXPECT_EQ(100.0, ChildJob(id).percent);
  EXPECT_EQ(0, Operate(id, 2)) << "an operation on an ended job changes nothing";
  EXPECT_EQ("Killed", ChildJob(id).status);
}

TEST_F(JobSimLifecycle, ASuspendedJobIsNotEndedByTheRunnerButCanBeKilled) {
  const long long pacer = StartPacer();
  const long long id = StartRestore(1, true);
  // The runner is stopped while the job is resumed and suspended again: a
  // tick in between would end it, due as it is at once.
  m_simulator.reset();
  ASSERT_TRUE(CJobSimulator::Suspend(id));
  ASSERT_TRUE(CJobSimulator::Resume(id));  // resumes, and is no longer hung
  ASSERT_TRUE(CJobSimulator::Suspend(id));
  m_simulator.reset(new drtest::CScopedJobSimulator(&m_notices));
  LetTimePass(pacer, 20000);
  EXPECT_EQ("Suspended", ChildJob(id).status);
  ASSERT_TRUE(CJobSimulator::Kill(id));
  EXPECT_EQ("Killed", ChildJob(id).status);
}

TEST_F(JobSimLifecycle, AHungJobStaysRunningUntilResumed) {
  const long long pacer = StartPacer();
  const long long id = StartRestore(40000, true);
  ASSERT_TRUE(CJobSimulator::SetPercent(id, 50));
  LetTimePass(pacer, 60000);
  SChildJobRecord job = ChildJob(id);
  EXPECT_EQ("Running", job.status);
  EXPECT_EQ(50.0, job.percent);
  EXPECT_EQ(20000, job.elapsedMs);
  EXPECT_FALSE(CJobSimulator::SetPercent(id, 100));
  EXPECT_FALSE(CJobSimulator::SetPercent(id, -1));

  ASSERT_TRUE(CJobSimulator::Resume(id));
  ASSERT_TRUE(Eventually([&] { return HasEnded(id); }));
  job = ChildJob(id);
  EXPECT_EQ("Completed", job.status);
  EXPECT_EQ(100.0, job.percent);
}

TEST_F(JobSimLifecycle, AJobOutlivesTheRunnerThatStartedIt) {
  // Long enough that the runner cannot end it before it is stopped, however
  // slow the machine; once stopped it is brought near its end, so that the
  // next runner ends it soon, carrying on from there.
  const long long id = StartRestore(30000000);
  ASSERT_TRUE(Eventually([&] { return ChildJob(id).percent > 0; }));
  m_simulator.reset();  // the process that ran it is gone
  const SChildJobRecord left = ChildJob(id);
  EXPECT_EQ("Running", left.status);
  EXPECT_FALSE(CJobSimulator::IsRunning());
  ASSERT_TRUE(CJobSimulator::SetPercent(id, 99));
  const long long carried = ChildJob(id).elapsedMs;
  EXPECT_GE(carried, left.elapsedMs);

  m_simulator.reset(new drtest::CScopedJobSimulator(&m_notices));
  ASSERT_TRUE(Eventually([&] { return HasEnded(id); }));
  const SChildJobRecord ended = ChildJob(id);
  EXPECT_EQ("Completed", ended.status);
  EXPECT_EQ(100.0, ended.percent);
  EXPECT_GE(ended.elapsedMs, carried);
}

TEST_F(JobSimLifecycle, ChildJobIdsRiseBelowTwoToTheThirtyOneUnderAWideDRJobId) {
  // An id the job store already holds is never reused.
  SJobRecord taken;
  taken.jobId = 100002;
  taken.jobType = CJobStore::kTypeDR;
  ASSERT_EQ(100002, CJobStore::CreateJob(taken));

  std::vector<long long> ids;
  for (EChildJobType type : {EChildJobType::kRestore, EChildJobType::kSync, EChildJobType::kRestore}) {
    SChildJobSpec spec = Of(type);
    spec.replicationIds = {};
    spec.taskId = 77;  // no replications: a sync of nothing
    ids.push_back(StartHeld(spec));
  }
  ASSERT_EQ(3u, ids.size());
  EXPECT_LT(ids[0], ids[1]);
  EXPECT_LT(ids[1], ids[2]);
  for (long long id : ids) {
    EXPECT_NE(100002, id);
    EXPECT_GT(id, 0);
    EXPECT_LT(id, 1LL << 31);
    const SChildJobRecord job = ChildJob(id);
    EXPECT_EQ(kDRJob, job.parentJobId);
    SJobRecord record;
    ASSERT_EQ(EStoreResult::kOk, CJobStore::GetJob(id, record));
    EXPECT_EQ(kDRJob, record.parentJobId);
    EXPECT_EQ(CJobStore::kTypeChild, record.jobType);
  }
  EXPECT_EQ(105, ChildJob(ids[1]).opType);
  EXPECT_EQ(3, ChildJob(ids[0]).opType);
}

TEST_F(JobSimLifecycle, DurationsAreStoredForJobsStartedLater) {
  EXPECT_EQ(120000, CJobSimulator::Duration(EChildJobType::kBackup));
  CJobSimulator::SetDuration(EChildJobType::kRestore, 1234);
  EXPECT_EQ(1234, CJobSimulator::Duration(EChildJobType::kRestore));
  const long long id = StartHeld(Of(EChildJobType::kRestore));
  EXPECT_EQ(1234, ChildJob(id).durationMs);
  SChildJobSpec spec = Of(EChildJobType::kRestore);
  spec.durationMs = -5;
  EXPECT_EQ(0, CJobSimulator::StartJob(spec));
}

TEST_F(JobSimLifecycle, EndHooksRunOnceForTheirTypeWithTheEndedJob) {
  std::vector<SChildJobRecord> seen;
  CMutex mutex;
  const int hook = CJobSimulator::AddEndHook(EChildJobType::kRestore, [&](const SChildJobRecord& job) {
    CMutexLock lock(mutex);
    seen.push_back(job);
  });
  const long long restore = StartHeld(Of(EChildJobType::kRestore));
  SChildJobSpec sync = Of(EChildJobType::kSync);
  sync.taskId = 77;
  const long long other = StartHeld(sync);
  ASSERT_TRUE(CJobSimulator::Fail(restore, "no space"));
  ASSERT_TRUE(CJobSimulator::Complete(other));
  EXPECT_FALSE(CJobSimulator::Complete(restore));
  CJobSimulator::RemoveEndHook(hook);
  const long long after = StartHeld(Of(EChildJobType::kRestore));
  ASSERT_TRUE(CJobSimulator::Complete(after));

  CMutexLock lock(mutex);
  ASSERT_EQ(1u, seen.size());
  EXPECT_EQ(restore, seen[0].jobId);
  EXPECT_EQ("Failed", seen[0].status);
  EXPECT_EQ(100.0, seen[0].percent);
  EXPECT_TRUE(seen[0].ended);
}

}  // namespace
