// Endings that race: of the threads (and the runner) that end one child job
// at the same moment, one does, once: one status, one set of end rows, one
// delivery per registration, one run of the end hooks.
#include <algorithm>
#include <atomic>
#include <set>
#include <thread>

#include "JobSimTestSupport.h"
#include "TestThread.h"
#include "db/App_MiscOptions.h"
#include "core/StopState.h"

namespace {

using drtest::ChildJob;
using drtest::Eventually;

class JobSimConcurrency : public CJobSimTestBase {
 protected:
  void SetUp() override {
    CJobSimTestBase::SetUp();
    AddPolicy();
    AddVM(101);
    AddVM(102);
    m_hook = CJobSimulator::AddEndHook(EChildJobType::kBackup, [this](const SChildJobRecord& job) {
      CMutexLock lock(m_mutex);
      m_hookRuns.push_back(job.jobId);
    });
  }
  void TearDown() override {
    CJobSimulator::RemoveEndHook(m_hook);
    CJobSimTestBase::TearDown();
  }
  size_t HookRuns(long long jobId) {
    CMutexLock lock(m_mutex);
    return static_cast<size_t>(std::count(m_hookRuns.begin(), m_hookRuns.end(), jobId));
  }
  static void Register(long long jobId, int thread) {
    App_MiscOptions options;
    ASSERT_EQ(0, options.requestJobCompletionNotification(
                     jobId, 2, 0, 3, "DRSrvc|" + std::to_string(kDRJob) + "|" + std::to_string(thread) + "|JobWait",
                     nullptr));
  }

  int m_hook = 0;
  CMutex m_mutex;
  std::vector<long long> m_hookRuns DR_GUARDED_BY(m_mutex);
};

TEST_F(JobSimConcurrency, OneOfTheThreadsThatEndAJobAtOnceEndsIt) {
  const std::vector<std::string> statuses = {"Completed", "Completed w/ one or more errors", "Failed", "Killed"};
  for (int round = 0; round < 6; ++round) {
    const long long id = StartHeld(Backup());
    Register(id, 1);
    Register(id, 2);
    std::atomic<int> ready(0);
    std::atomic<int> wins(0);
    std::vector<int> won(statuses.size(), 0);
    std::vector<drtest::CTestThread> threads;
    for (size_t t = 0; t < statuses.size(); ++t) {
      threads.emplace_back([&, t] {
        ++ready;
        // A thread that could not be started leaves the others a stop
        // request, not a count that never fills.
        while (ready.load() < static_cast<int>(statuses.size()) && !CStopState::CurrentStopRequested()) {
          std::this_thread::yield();
        }
        bool ended = false;
        switch (t) {
          case 0: ended = CJobSimulator::Complete(id); break;
          case 1: ended = CJobSimulator::CompleteWithErrors(id); break;
          case 2: ended = CJobSimulator::Fail(id, "raced"); break;
          default: ended = CJobSimulator::Kill(id); break;
        }
        if (ended) {
          won[t] = 1;
          ++wins;
        }
      }, "ender as " + statuses[t]);
    }
    for (drtest::CTestThread& t : threads) ASSERT_TRUE(t.Join()) << "round " << round;
    ASSERT_EQ(1, wins.load()) << "round " << round;
    const size_t winner = static_cast<size_t>(std::find(won.begin(), won.end(), 1) - won.begin());
    const SChildJobRecord job = ChildJob(id);
    EXPECT_EQ(statuses[winner], job.status);
    EXPECT_EQ(100.0, job.percent);
    const size_t children = winner < 2 ? 2 : 0;
    EXPECT_EQ(children, job.childJobIds.size());
    EXPECT_EQ(children, Rows("SELECT childJobId FROM JMJobDataLink WHERE parentJobId = " + std::to_string(id)).size());
    EXPECT_EQ(winner < 2 ? 4u : 0u, Rows("SELECT status FROM JMJobDataStats WHERE jobId = " + std::to_string(id)).size());
    EXPECT_EQ(2u, m_notices.CountFor(id));
    EXPECT_EQ(1u, HookRuns(id));
  }
}

TEST_F(JobSimConcurrency, TheRunnerAndAKillEndAJobOnce) {
  for (int round = 0; round < 10; ++round) {
    SChildJobSpec spec = Backup();
    spec.parentJobId = kDRJob;
    spec.durationMs = 5000;  // about one tick of the runner
    // Held until its notice is registered: a tick between the start and the
    // registration would end it first, and the registration be refused.
    spec.hang = true;
    const long long id = CJobSimulator::StartJob(spec);
    ASSERT_NE(0, id);
    Register(id, round);
    ASSERT_TRUE(CJobSimulator::Resume(id));
    const bool killed = CJobSimulator::Kill(id);
    ASSERT_TRUE(Eventually([&] { return drtest::HasEnded(id) && HookRuns(id) == 1; }));
    const SChildJobRecord job = ChildJob(id);
    EXPECT_EQ(killed ? "Killed" : "Completed", job.status);
    EXPECT_EQ(100.0, job.percent);
    EXPECT_EQ(killed ? 0u : 2u, job.childJobIds.size());
    EXPECT_EQ(1u, m_notices.CountFor(id));
    EXPECT_EQ(1u, HookRuns(id));
  }
}

TEST_F(JobSimConcurrency, JobsStartedOnManyThreadsGetDistinctRisingIds) {
  std::vector<std::vector<long long>> ids(4);
  std::vector<drtest::CTestThread> threads;
  for (size_t t = 0; t < ids.size(); ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 10; ++i) {
        SChildJobSpec spec = Of(EChildJobType::kRestore);
        spec.parentJobId = kDRJob + static_cast<long long>(t);
        spec.hang = true;
        ids[t].push_back(CJobSimulator::StartJob(spec));
      }
    }, "job starter " + std::to_string(t));
  }
  for (drtest::CTestThread& t : threads) ASSERT_TRUE(t.Join());
  std::set<long long> all;
  for (const std::vector<long long>& mine : ids) {
    for (size_t i = 0; i < mine.size(); ++i) {
      EXPECT_GT(mine[i], 0);
      EXPECT_LT(mine[i], 1LL << 31);
      if (i > 0) {
        EXPECT_LT(mine[i - 1], mine[i]);
      }
      all.insert(mine[i]);
    }
  }
  EXPECT_EQ(40u, all.size());
}

}  // namespace
