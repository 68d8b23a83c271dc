#include <atomic>
#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include "sync/ZnEvent.h"
#include "sync/ZnThreadPool.h"
#include "time/PlatformClock.h"

namespace {

constexpr unsigned long kForever = 4294967295UL;

struct SCounters {
  std::atomic<int> ran{0};
  std::atomic<int> running{0};
  std::atomic<int> maxRunning{0};
  std::atomic<int> freed{0};
};

// A heap item that frees itself when it runs, as the DR work items do.
struct SItem {
  SCounters* counters;
  ZnEvent* gate;  // when set, the item blocks on it
  bool sawStop = false;
};

void* RunItem(void* p) {
  auto* item = static_cast<SItem*>(p);
  SCounters* c = item->counters;
  int now = ++c->running;
  int prev = c->maxRunning.load();
  while (now > prev && !c->maxRunning.compare_exchange_weak(prev, now)) {
  }
  if (item->gate) {
    item->sawStop = !item->gate->wait();
  } else {
    CPlatformClock::Instance().Sleep(20000, "RunItem");  // 20 ms of real time: long enough to overlap
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

bool WaitFor(const std::function<bool()>& cond) {
  auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (std::chrono::steady_clock::now() < end) {
    if (cond()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return cond();
}

}  // namespace

TEST(ThreadPoolConcurrency, RunsEveryItemOnAtMostKThreads) {
  SCounters c;
  ZnThreadPool pool;
  ASSERT_TRUE(pool.initThreadPool(kForever, 1, 3, 1));
  for (int i = 0; i < 40; ++i) ASSERT_TRUE(pool.doWork(&RunItem, new SItem{&c, nullptr}));
  ASSERT_TRUE(pool.waitForAllThreads(true, true, true, -1));
  EXPECT_EQ(40, c.ran.load());
  EXPECT_LE(c.maxRunning.load(), 3);
  EXPECT_GE(c.maxRunning.load(), 2) << "items should overlap on a pool of 3";
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
    ASSERT_TRUE(pool.initThreadPool(kForever, 1, 2, 1));
    for (int i = 0; i < 10; ++i) ASSERT_TRUE(pool.doWork(&RunItem, new SItem{&c, &never}));
    ASSERT_TRUE(WaitFor([&] { return pool.getCurrentBusyThreadCount() == 2; }));
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
    ASSERT_TRUE(pool.initThreadPool(kForever, 1, 1, 1));
    for (int i = 0; i < 5; ++i) ASSERT_TRUE(pool.doWork(&RunItem, new SItem{&c, &never}));
    ASSERT_TRUE(WaitFor([&] { return pool.getCurrentBusyThreadCount() == 1; }));
  }
  EXPECT_EQ(5, c.freed.load());
}

TEST(ThreadPool, RejectsWorkWhenNotReady) {
  ZnThreadPool pool;
  SCounters c;
  SItem item{&c, nullptr};
  EXPECT_FALSE(pool.doWork(&RunItem, &item)) << "not initialised";
  EXPECT_FALSE(pool.initThreadPool(kForever, 1, 0, 1)) << "no threads";
  ASSERT_TRUE(pool.initThreadPool(kForever, 1, 2, 1));
  EXPECT_FALSE(pool.initThreadPool(kForever, 1, 2, 1)) << "initialised twice";
  pool.terminateAllThreads();
  EXPECT_FALSE(pool.doWork(&RunItem, &item));
  EXPECT_EQ(0, c.ran.load());
}

TEST(ThreadPoolConcurrency, IdleWorkersAboveMinimumExit) {
  SCounters c;
  ZnThreadPool pool;
  ASSERT_TRUE(pool.initThreadPool(1000, 1, 4, 1));  // 1 s idle, scaled
  for (int i = 0; i < 8; ++i) ASSERT_TRUE(pool.doWork(&RunItem, new SItem{&c, nullptr}));
  ASSERT_TRUE(pool.waitForAllThreads(true, true, true, -1));
  EXPECT_EQ(8, c.ran.load());
  EXPECT_TRUE(WaitFor([&] { return pool.getThreadCount() == 1; }));
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
  ASSERT_TRUE(pool.initThreadPool(kForever, 1, 1, 1));
  ASSERT_TRUE(pool.doWork(&RunItem, new SItem{&c, &gate}));
  EXPECT_FALSE(pool.waitForAllThreads(true, true, true, 100));
  gate.set();
  EXPECT_TRUE(pool.waitForAllThreads(true, true, true, -1));
  EXPECT_EQ(1, c.ran.load());
}
