// Scoped hold of a ZnCriticalSection; a null section is allowed and ignored.
#pragma once

#include "core/ThreadSafety.h"
#include "drorch/ZnCriticalSection.h"

class DR_SCOPED_CAPABILITY ZnCriticalSectionLock {
 public:
  explicit ZnCriticalSectionLock(ZnCriticalSection* section) DR_ACQUIRE(section);
  ~ZnCriticalSectionLock() DR_RELEASE();
  ZnCriticalSectionLock(const ZnCriticalSectionLock&) = delete;
  ZnCriticalSectionLock& operator=(const ZnCriticalSectionLock&) = delete;

 private:
  ZnCriticalSection* m_section;
};
