// Must not compile: each line marked "expect-error" breaks a lock rule, and
// the lock-rules test checks that the compiler rejects exactly these lines
// for exactly these reasons. Kept out of the normal build.
#include <map>

#include "drorch/ZnCriticalSection.h"
#include "engine/ZnCriticalSectionLock.h"
#include "core/Mutex.h"

class CGuardedCounts {
 public:
  void Add(int key) {
    ZnCriticalSectionLock lock(&m_section);
    ++m_counts[key];
  }
  void AddWithoutTheSection(int key) {
    ++m_counts[key];  // expect-error: reading variable 'm_counts' requires holding mutex 'm_section'
  }

  void Store(int value) {
    CMutexLock lock(m_mutex);
    StoreLocked(value);
  }
  int Peek() const {
    return m_value;  // expect-error: reading variable 'm_value' requires holding mutex 'm_mutex'
  }
  void StoreUnlocked(int value) {
    StoreLocked(value);  // expect-error: calling function 'StoreLocked' requires holding mutex 'm_mutex' exclusively
  }
  void StoreAfterUnlock(int value) {
    CMutexLock lock(m_mutex);
    lock.Unlock();
    m_value = value;  // expect-error: writing variable 'm_value' requires holding mutex 'm_mutex' exclusively
  }

  void BothInOrder() {
    CMutexLock first(m_first);
    CMutexLock second(m_second);
  }
  void BothReversed() {
    CMutexLock second(m_second);
    CMutexLock first(m_first);  // expect-error: mutex 'm_first' must be acquired before 'm_second'
  }

 private:
  void StoreLocked(int value) DR_REQUIRES(m_mutex) { m_value = value; }

  ZnCriticalSection m_section;
  std::map<int, int> m_counts DR_GUARDED_BY(m_section);
  mutable CMutex m_mutex;
  int m_value DR_GUARDED_BY(m_mutex) = 0;
  CMutex m_first DR_ACQUIRED_BEFORE(m_second);
  CMutex m_second;
};
