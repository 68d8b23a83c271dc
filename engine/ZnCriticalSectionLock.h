// Scoped hold of a ZnCriticalSection; a null section is allowed and ignored.
#pragma once

class ZnCriticalSection;

class ZnCriticalSectionLock {
 public:
  explicit ZnCriticalSectionLock(ZnCriticalSection* section);
  ~ZnCriticalSectionLock();
  ZnCriticalSectionLock(const ZnCriticalSectionLock&) = delete;
  ZnCriticalSectionLock& operator=(const ZnCriticalSectionLock&) = delete;

 private:
  ZnCriticalSection* m_section;
};
