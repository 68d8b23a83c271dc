// The in-process mutex of the system (recursive). Owners say in their own
// headers which data each section guards (DR_GUARDED_BY, core/ThreadSafety.h).
#pragma once

#include "core/ThreadSafety.h"

class ZnCriticalSectionH;

class DR_CAPABILITY("mutex") DR_REENTRANT_CAPABILITY ZnCriticalSection {
 public:
  // Throws "Not enough memory to initialize ZnCriticalSection" (a const char*)
  // when the platform section cannot be made.
  ZnCriticalSection();
  ~ZnCriticalSection();
  ZnCriticalSection(const ZnCriticalSection&) = delete;
  ZnCriticalSection& operator=(const ZnCriticalSection&) = delete;

  // wait = false only tries. True when entered.
  bool enter(bool wait = true) DR_TRY_ACQUIRE(true);
  // 0 on success, non-zero when the calling thread did not hold the section.
  int leave() DR_RELEASE();

 private:
  ZnCriticalSectionH* m_cs;
};
