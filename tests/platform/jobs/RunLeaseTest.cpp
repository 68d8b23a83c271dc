// The run lease in a job's row: of runners that try at once exactly one
// takes it, the others are told who holds it; a runner that has gone leaves
// it to be taken over; only the holder gives it back; a runner of another
// machine, which cannot be seen from here, keeps it.
#include <atomic>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "Db/DbTestSupport.h"
#include "TestSupport.h"
#include "TestThread.h"
#include "jobs/JobStore.h"

namespace {

class RunLeaseConcurrency : public CDbTestBase {};

TEST_F(RunLeaseConcurrency, OneOfRunnersTryingAtOnceTakesItAndAGoneRunnersIsTakenOver) {
  SJobRecord job;
  job.jobId = 40;
  job.jobType = CJobStore::kTypeDR;
  ASSERT_EQ(40, CJobStore::CreateJob(job));
  // Each runner a live process of its own, which the test can end.
  const size_t kRunners = 6;
  std::vector<drtest::CChildProcess> processes(kRunners);
  std::vector<SProcessId> runners;
  for (drtest::CChildProcess& p : processes) {
    ASSERT_TRUE(p.Start({"/bin/cat"}));
    runners.push_back(CProcessIdentity::Of(p.Pid()));
    ASSERT_FALSE(runners.back().Empty());
  }

  std::atomic<bool> go{false};
  std::vector<ELeaseResult> results(kRunners, ELeaseResult::kFailed);
  std::vector<SProcessId> seen(kRunners);
  std::vector<drtest::CTestThread> threads;
  for (size_t i = 0; i < kRunners; ++i) {
    threads.emplace_back([&, i] {
      drtest::Eventually([&] { return go.load(); });
      results[i] = CJobStore::TakeRunLease(40, runners[i], seen[i]);
      CDBConnection::CloseThreadConnections();
    });
  }
  go = true;
  for (drtest::CTestThread& t : threads) ASSERT_TRUE(t.Join());

  size_t winner = kRunners;
  for (size_t i = 0; i < kRunners; ++i) {
    if (results[i] == ELeaseResult::kTaken) {
      EXPECT_EQ(kRunners, winner) << "two runners took the lease";
      winner = i;
    }
  }
  ASSERT_LT(winner, kRunners);
  for (size_t i = 0; i < kRunners; ++i) {
    if (i == winner) continue;
    EXPECT_EQ(ELeaseResult::kHeld, results[i]) << i;
    EXPECT_EQ(runners[winner], seen[i]) << i;
  }
  SJobRecord read;
  ASSERT_EQ(EStoreResult::kOk, CJobStore::GetJob(40, read));
  EXPECT_EQ(runners[winner], read.runner);

  // Only the holder gives it back; the holder taking it again keeps it.
  const size_t next = (winner + 1) % kRunners;
  EXPECT_EQ(EStoreResult::kMissing, CJobStore::ReleaseRunLease(40, runners[next]));
  SProcessId previous;
  EXPECT_EQ(ELeaseResult::kTaken, CJobStore::TakeRunLease(40, runners[winner], previous));
  EXPECT_TRUE(previous.Empty());
  long long running = 0;
  SProcessId holder;
  ASSERT_EQ(EStoreResult::kOk, CJobStore::FindLiveRunner(running, holder));
  EXPECT_EQ(40, running);
  EXPECT_EQ(runners[winner], holder);

  // The holder ends without giving it back: the next runner takes it over
  // and is told whose it was. Not reaped yet, it runs nothing all the same.
  processes[winner].Kill();
  ASSERT_TRUE(drtest::Eventually(
      [&] { return CProcessIdentity::StateOf(runners[winner]) == CProcessIdentity::kGone; }));
  EXPECT_EQ(EStoreResult::kMissing, CJobStore::FindLiveRunner(running, holder));
  EXPECT_EQ(ELeaseResult::kTaken, CJobStore::TakeRunLease(40, runners[next], previous));
  EXPECT_EQ(runners[winner], previous);
  EXPECT_EQ(EStoreResult::kOk, CJobStore::ReleaseRunLease(40, runners[next]));
  ASSERT_EQ(EStoreResult::kOk, CJobStore::GetJob(40, read));
  EXPECT_TRUE(read.runner.Empty());

  // A runner of another machine cannot be seen from here: it keeps the job.
  job.jobId = 41;
  job.runner.host = "elsewhere.example";
  job.runner.pid = runners[next].pid;
  job.runner.startTicks = runners[next].startTicks;
  ASSERT_EQ(41, CJobStore::CreateJob(job));
  EXPECT_EQ(ELeaseResult::kHeld, CJobStore::TakeRunLease(41, CProcessIdentity::Self(), previous));
  EXPECT_EQ(job.runner, previous);
  EXPECT_EQ(ELeaseResult::kMissing, CJobStore::TakeRunLease(42, CProcessIdentity::Self(), previous));
  processes[winner].Wait();
}

}  // namespace
