#include <atomic>

#include <gtest/gtest.h>

#include "TestSupport.h"
#include "core/StopState.h"
#include "sync/ZnEvent.h"
#include "sync/ZnThreadPool.h"

namespace {

constexpr unsigned long kNoTimeout = 4294967295UL;

// How long, in real time, items wait for company before the test takes the
// pool for one that never runs them side by side. A sound pool starts its
// workers well within it even on a loaded machine; a broken one fails the
// test in seconds instead of holding every item that long.
constexpr unsigned long kCompanyLimitMs = 30000;

struct SCounters {
  std::atomic<int> ran{0};
  std::atomic<int> running{0};
  std::atomic<int> maxRunning{0};
  std::atomic<int> freed{0};
  std::atomic<bool> gaveUp{false};  // an item stopped waiting for company
};

// A heap item that frees itself when it runs, as the DR work items do.
struct SItem {
  SCounters* counters;
  ZnEvent* gate;    // when set, the item blocks on it
  int company = 0;  // when set, the item holds until that many items run at once
  bool sawStop = false;
};

// Holds a running item until `company` items have run at once, so that the
// overlap a test counts on comes from the pool and not from how fast the
// machine happens to start threads.
void WaitForCompany(SCounters* c, int company) {
  if (c->gaveUp.load()) return;
  const bool met = drtest::Eventually(
      [&] { return c->maxRunning.load() >= company || c->gaveUp.load() || CStopState::CurrentStopRequested(); },
      kCompanyLimitMs);
  if (!met) c->gaveUp = true;
}

void* RunItem(void* p) {
  auto* item = static_cast<SItem*>(p);
  SCounters* c = item->counters;
  int now = ++c->running;
  int prev = c->maxRunning.load();
  while (now > prev && !c->maxRunning.compare_exchange_weak(prev, now)) {
  }
  if (item->gate) {
    item->sawStop = !item->gate->wait();
  } else if (item->company > 0) {
    WaitForCompany(c, item->company);
  }
  ++c->ran;
  --c->running;
  ++c->freed;
  delete item;
  return nullptr;
}

SCounters* g_deleterCounters = nullptr;
void DeleteItem(void* p) {
  ++g_deleterCounters->freed;
  delete static_cast<SItem*>(p);
}

}  // namespace

TEST(ThreadPoolConcurrency, RunsEveryItemOnAtMostKThreads) {
  SCounters c;
  ZnThreadPool pool;
  ASSERT_TRUE(pool.initThreadPool(kNoTimeout, 1, 3, 1));
  // The first items hold until three run at once: a queue of 40 must grow a
  // pool of 3 to all three workers, and never past them.
  for (int i = 0; i < 40; ++i) ASSERT_TRUE(pool.doWork(&RunItem, new SItem{&c, nullptr, 3}));
  ASSERT_TRUE(pool.waitForAllThreads(true, true, true, -1));
  EXPECT_EQ(40, c.ran.load());
  EXPECT_FALSE(c.gaveUp.load()) << "items never ran three at once on a pool of 3";
  EXPECT_EQ(3, c.maxRunning.load());
  EXPECT_EQ(0u, pool.getTotalWorkerListCount());
  EXPECT_EQ(0u, pool.getCurrentBusyThreadCount());
  EXPECT_LE(pool.getThreadCount(), 3u);
}

TEST(ThreadPoolConcurrency, TerminationFreesQueuedAndRunningItems) {
  SCounters c;
  g_deleterCounters = &c;
  ZnEvent never(true);  // never set: running items only end on the stop request
  {
    ZnThreadPool pool;
    pool.setItemDeleter(&DeleteItem);
    ASSERT_TRUE(pool.initThreadPool(kNoTimeout, 1, 2, 1));
    for (int i = 0; i < 10; ++i) ASSERT_TRUE(pool.doWork(&RunItem, new SItem{&c, &never}));
    ASSERT_TRUE(drtest::Eventually([&] { return pool.getCurrentBusyThreadCount() == 2; }));
    EXPECT_EQ(8u, pool.getTotalWorkerListCount());

    pool.terminateAllThreads();
    EXPECT_EQ(0u, pool.getThreadCount()) << "termination waits for every worker";
    EXPECT_EQ(10, c.freed.load());
    EXPECT_EQ(2, c.ran.load()) << "queued items are dropped, not run";
    SItem late{&c, nullptr};
    EXPECT_FALSE(pool.doWork(&RunItem, &late)) << "no work after termination";
    EXPECT_FALSE(pool.waitForAllThreads(true, true, true, -1)) << "a terminated pool reports it";
  }
}

TEST(ThreadPoolConcurrency, DestructorDropsWorkThatNeverRan) {
  SCounters c;
  g_deleterCounters = &c;
  ZnEvent never(true);
  {
    ZnThreadPool pool;
    pool.setItemDeleter(&DeleteItem);
    ASSERT_TRUE(pool.initThreadPool(kNoTimeout, 1, 1, 1));
    for (int i = 0; i < 5; ++i) ASSERT_TRUE(pool.doWork(&RunItem, new SItem{&c, &never}));
    ASSERT_TRUE(drtest::Eventually([&] { return pool.getCurrentBusyThreadCount() == 1; }));
  }
  EXPECT_EQ(5, c.freed.load());
}

TEST(ThreadPool, RejectsWorkWhenNotReady) {
  ZnThreadPool pool;
  SCounters c;
  SItem item{&c, nullptr};
  EXPECT_FALSE(pool.doWork(&RunItem, &item)) << "not initialised";
  EXPECT_FALSE(pool.initThreadPool(kNoTimeout, 1, 0, 1)) << "no threads";
  ASSERT_TRUE(pool.initThreadPool(kNoTimeout, 1, 2, 1));
  EXPECT_FALSE(pool.initThreadPool(kNoTimeout, 1, 2, 1)) << "initialised twice";
  pool.terminateAllThreads();
  EXPECT_FALSE(pool.doWork(&RunItem, &item));
  EXPECT_EQ(0, c.ran.load());
}

TEST(ThreadPoolConcurrency, IdleWorkersAboveMinimumExit) {
  SCounters c;
  ZnThreadPool pool;
  ASSERT_TRUE(pool.initThreadPool(1000, 1, 4, 1));  // 1 s idle, scaled
  // Four items run at once, so there surely are workers above the minimum.
  for (int i = 0; i < 8; ++i) ASSERT_TRUE(pool.doWork(&RunItem, new SItem{&c, nullptr, 4}));
  ASSERT_TRUE(pool.waitForAllThreads(true, true, true, -1));
  EXPECT_EQ(8, c.ran.load());
  EXPECT_FALSE(c.gaveUp.load()) << "the pool never ran four items at once";
  EXPECT_EQ(4, c.maxRunning.load());
  EXPECT_TRUE(drtest::Eventually([&] { return pool.getThreadCount() == 1; }));
  // The pool still works with the one worker left.
  ASSERT_TRUE(pool.doWork(&RunItem, new SItem{&c, nullptr}));
  ASSERT_TRUE(pool.waitForAllThreads(true, true, true, -1));
  EXPECT_EQ(9, c.ran.load());
}

TEST(ThreadPool, TimedWaitGivesUp) {
  SCounters c;
  g_deleterCounters = &c;
  ZnEvent gate(true);
  ZnThreadPool pool;
  pool.setItemDeleter(&DeleteItem);
  ASSERT_TRUE(pool.initThreadPool(kNoTimeout, 1, 1, 1));
  ASSERT_TRUE(pool.doWork(&RunItem, new SItem{&c, &gate}));
  EXPECT_FALSE(pool.waitForAllThreads(true, true, true, 100));
  gate.set();
  EXPECT_TRUE(pool.waitForAllThreads(true, true, true, -1));
  EXPECT_EQ(1, c.ran.load());
}
