#include <chrono>
#include <condition_variable>

#include <gtest/gtest.h>

#include "TestThread.h"
#include "core/Mutex.h"

namespace {

bool FreeForAnotherThread(CMutex& mutex) {
  bool took = false;
  drtest::CTestThread t(
      [&] {
        if (mutex.TryLock()) {
          took = true;
          mutex.Unlock();
        }
      },
      "try-lock from another thread");
  EXPECT_TRUE(t.Join());
  return took;
}

// A value handed from one thread to another under the mutex, announced by a
// condition variable, as the platform's waits do it.
struct SHandOver {
  CMutex mutex;
  std::condition_variable cv;
  int value DR_GUARDED_BY(mutex) = 0;
};

}  // namespace

TEST(MutexConcurrency, ScopeGivesTheMutexUpAndTakesItBack) {
  CMutex mutex;
  {
    CMutexLock lock(mutex);
    EXPECT_FALSE(FreeForAnotherThread(mutex));
    lock.Unlock();
    EXPECT_TRUE(FreeForAnotherThread(mutex));
    lock.Lock();
    EXPECT_FALSE(FreeForAnotherThread(mutex));
    lock.Unlock();
  }
  EXPECT_TRUE(FreeForAnotherThread(mutex)) << "a scope that gave the mutex up must not release it again";
  {
    CMutexLock lock(mutex);
  }
  EXPECT_TRUE(FreeForAnotherThread(mutex));
}

TEST(MutexConcurrency, WaitThroughTheNativeLockSeesTheGuardedValue) {
  SHandOver h;
  drtest::CTestThread producer(
      [&] {
        {
          CMutexLock lock(h.mutex);
          h.value = 42;
        }
        h.cv.notify_all();
      },
      "producer");
  int seen = 0;
  {
    CMutexLock lock(h.mutex);
    EXPECT_TRUE(h.cv.wait_for(lock.Native(), std::chrono::milliseconds(drtest::kWatchdogMs),
                              [&h]() DR_REQUIRES(h.mutex) { return h.value != 0; }));
    seen = h.value;
  }
  ASSERT_TRUE(producer.Join());
  EXPECT_EQ(42, seen);
  EXPECT_TRUE(FreeForAnotherThread(h.mutex)) << "the wait must leave the mutex to the scope, which frees it";
}
