// The platform's plain (not re-entrant) mutex and its scoped lock, both known
// to the compiler's lock checks (core/ThreadSafety.h): the standard mutex
// carries no annotations, so data it guards could not say so.
//
// Condition variables keep working on the standard mutex underneath: a wait
// takes CMutexLock::Native(), gives the mutex up while it blocks and holds it
// again when it returns, so for the analysis the scope holds the mutex
// throughout. A predicate the wait calls runs with the mutex held; a lambda
// says so with DR_REQUIRES:
//
//   CMutexLock lk(m_mutex);
//   m_cv.wait(lk.Native(), [this]() DR_REQUIRES(m_mutex) { return m_ready; });
#pragma once

#include <mutex>

#include "core/ThreadSafety.h"

class DR_CAPABILITY("mutex") CMutex {
 public:
  CMutex() = default;
  CMutex(const CMutex&) = delete;
  CMutex& operator=(const CMutex&) = delete;

  void Lock() DR_ACQUIRE() { m_mutex.lock(); }
  void Unlock() DR_RELEASE() { m_mutex.unlock(); }
  bool TryLock() DR_TRY_ACQUIRE(true) { return m_mutex.try_lock(); }

 private:
  friend class CMutexLock;
  std::mutex m_mutex;
};

class DR_SCOPED_CAPABILITY CMutexLock {
 public:
  explicit CMutexLock(CMutex& mutex) DR_ACQUIRE(mutex) : m_lock(mutex.m_mutex) {}
  ~CMutexLock() DR_RELEASE() {}
  CMutexLock(const CMutexLock&) = delete;
  CMutexLock& operator=(const CMutexLock&) = delete;

  // Gives the mutex up for a while inside the scope, and takes it back.
  void Unlock() DR_RELEASE() { m_lock.unlock(); }
  void Lock() DR_ACQUIRE() { m_lock.lock(); }

  // For condition-variable and clock waits only (see above).
  std::unique_lock<std::mutex>& Native() { return m_lock; }

 private:
  std::unique_lock<std::mutex> m_lock;
};
