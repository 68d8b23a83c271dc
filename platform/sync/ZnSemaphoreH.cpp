#include "sync/ZnSemaphoreH.h"

#include "core/BlockingHook.h"
#include "time/PlatformClock.h"

ZnSemaphoreH::ZnSemaphoreH(int initialCount) : m_count(initialCount < 0 ? 0 : initialCount) {}

bool ZnSemaphoreH::wait() { return wait(static_cast<unsigned long>(-1)); }

bool ZnSemaphoreH::wait(unsigned long ms) {
  if (ms != 0) CBlockingHook::BeforeBlocking();
  CMutexLock lk(m_mutex);
  uint64_t req = (ms == static_cast<unsigned long>(-1)) ? kWaitForever : ms;
  EWaitResult r = CPlatformClock::Instance().WaitOn(
      lk.Native(), m_cv, req, "ZnSemaphoreH::wait", [this]() DR_REQUIRES(m_mutex) { return m_count > 0; },
      req != kWaitForever);
  if (r != EWaitResult::Ready) return false;
  --m_count;
  return true;
}

bool ZnSemaphoreH::release(int count) {
  if (count < 1) return false;
  {
    CMutexLock lk(m_mutex);
    m_count += count;
  }
  if (count == 1) {
    m_cv.notify_one();
  } else {
    m_cv.notify_all();
  }
  return true;
}

int ZnSemaphoreH::count() const {
  CMutexLock lk(m_mutex);
  return m_count;
}
