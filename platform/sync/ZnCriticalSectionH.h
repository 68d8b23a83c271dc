// Recursive in-process mutex. A thread may enter it again while it holds it;
// it is free once every enter has been matched by a leave. The data managers
// rely on the recursion.
#pragma once

#include <atomic>
#include <mutex>
#include <thread>

#include "core/ThreadSafety.h"

class DR_CAPABILITY("mutex") DR_REENTRANT_CAPABILITY ZnCriticalSectionH {
 public:
  ZnCriticalSectionH() : m_count(0) {}
  ZnCriticalSectionH(const ZnCriticalSectionH&) = delete;
  ZnCriticalSectionH& operator=(const ZnCriticalSectionH&) = delete;

  // wait = true blocks until entered; wait = false only tries. True when
  // the calling thread now holds the section.
  bool enter(bool wait = true) DR_TRY_ACQUIRE(true);
  // 0 on success; -1 when the calling thread does not hold the section (the
  // section is then left untouched).
  int leave() DR_RELEASE();
  // True when the calling thread holds the section.
  bool heldByMe() const;

 private:
  std::recursive_mutex m_mutex;
  std::atomic<std::thread::id> m_owner;
  int m_count;  // guarded by m_mutex (the standard mutex carries no annotation)
};
