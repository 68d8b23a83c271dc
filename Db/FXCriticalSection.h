// A recursive in-process lock that records its owner thread. The same thread
// may lock again while it holds it; the owner stays recorded until the
// outermost hold ends.
#pragma once

#include <atomic>
#include <thread>

#include <boost/interprocess/sync/interprocess_recursive_mutex.hpp>

#include "core/ThreadSafety.h"
#include "engine/FXLockableResource.h"

class DR_CAPABILITY("mutex") DR_REENTRANT_CAPABILITY FXCriticalSection : public FXLockableResource {
 public:
  FXCriticalSection();
  ~FXCriticalSection() override;

  bool TryLock() override DR_TRY_ACQUIRE(true);
  // Waits at most the interval.
  bool TryLock(CTimeInterval timeout) override DR_TRY_ACQUIRE(true);
  // A mutex that fails to lock is swallowed here (the slot returns nothing);
  // callers that must know use LockChecked(). For the lock checks the section
  // is held afterwards.
  void Lock() override DR_ACQUIRE();
  // Lock() that tells whether this call took (one more level of) the lock.
  bool LockChecked() DR_TRY_ACQUIRE(true);
  // Ends one hold of the calling thread; a thread that holds nothing changes
  // nothing.
  void Unlock() override DR_RELEASE();

  bool IsHeldByCurrentThread() const;
  int GetLockCount() const { return m_depth.load(std::memory_order_relaxed); }

  // Fault injection for tests: the next n locks fail as the mutex library
  // reports a failure.
  void InjectLockFailures(int n) { m_failures.store(n); }

 private:
  void Taken();

  boost::interprocess::interprocess_recursive_mutex m_mutex;
  std::atomic<std::thread::id> m_holder;
  std::atomic<int> m_depth;  // written by the holder only
  std::atomic<int> m_failures;
};
