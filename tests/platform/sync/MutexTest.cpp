#include <condition_variable>
#include <thread>

#include <gtest/gtest.h>

#include "core/Mutex.h"

namespace {

bool FreeForAnotherThread(CMutex& mutex) {
  bool took = false;
  std::thread t([&] {
    if (mutex.TryLock()) {
      took = true;
      mutex.Unlock();
    }
  });
  t.join();
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
  std::thread producer([&] {
    {
      CMutexLock lock(h.mutex);
      h.value = 42;
    }
    h.cv.notify_all();
  });
  int seen = 0;
  {
    CMutexLock lock(h.mutex);
    h.cv.wait(lock.Native(), [&h]() DR_REQUIRES(h.mutex) { return h.value != 0; });
    seen = h.value;
  }
  producer.join();
  EXPECT_EQ(42, seen);
  EXPECT_TRUE(FreeForAnotherThread(h.mutex)) << "the wait must leave the mutex to the scope, which frees it";
}
