#include "sync/ZnEvent.h"

#include "core/BlockingHook.h"
#include "time/PlatformClock.h"

ZnEvent::ZnEvent(bool manualReset) : m_manualReset(manualReset), m_signalled(false) {}

void ZnEvent::set() {
  {
    CMutexLock lk(m_mutex);
    m_signalled = true;
  }
  m_cv.notify_all();
}

void ZnEvent::reset() {
  CMutexLock lk(m_mutex);
  m_signalled = false;
}

bool ZnEvent::isSet() const {
  CMutexLock lk(m_mutex);
  return m_signalled;
}

bool ZnEvent::wait() { return wait(static_cast<unsigned long>(-1)); }

bool ZnEvent::wait(unsigned long ms) { return wait(ms, "ZnEvent::wait"); }

bool ZnEvent::wait(unsigned long ms, const char* reason) {
  if (ms != 0) CBlockingHook::BeforeBlocking();
  CMutexLock lk(m_mutex);
  uint64_t req = (ms == static_cast<unsigned long>(-1)) ? kWaitForever : ms;
  EWaitResult r = CPlatformClock::Instance().WaitOn(
      lk.Native(), m_cv, req, reason, [this]() DR_REQUIRES(m_mutex) { return m_signalled; }, req != kWaitForever);
  if (r != EWaitResult::Ready) return false;
  if (!m_manualReset) m_signalled = false;
  return true;
}
