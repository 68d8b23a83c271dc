#include "sync/ZnCriticalSectionH.h"

#include "core/BlockingHook.h"

// The section's own operations work on the standard mutex underneath, which
// the analysis does not know to be this section.
bool ZnCriticalSectionH::enter(bool wait) DR_NO_THREAD_SAFETY_ANALYSIS {
  if (wait) {
    if (!m_mutex.try_lock()) {
      CBlockingHook::BeforeBlocking();
      m_mutex.lock();
    }
  } else if (!m_mutex.try_lock()) {
    return false;
  }
  if (m_count++ == 0) m_owner.store(std::this_thread::get_id(), std::memory_order_relaxed);
  return true;
}

int ZnCriticalSectionH::leave() DR_NO_THREAD_SAFETY_ANALYSIS {
  if (!heldByMe()) return -1;
  if (--m_count == 0) m_owner.store(std::thread::id(), std::memory_order_relaxed);
  m_mutex.unlock();
  return 0;
}

bool ZnCriticalSectionH::heldByMe() const {
  return m_owner.load(std::memory_order_relaxed) == std::this_thread::get_id();
}
