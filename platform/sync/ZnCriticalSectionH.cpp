#include "sync/ZnCriticalSectionH.h"

bool ZnCriticalSectionH::enter(bool wait) {
  if (wait) {
    m_mutex.lock();
  } else if (!m_mutex.try_lock()) {
    return false;
  }
  if (m_count++ == 0) m_owner.store(std::this_thread::get_id(), std::memory_order_relaxed);
  return true;
}

int ZnCriticalSectionH::leave() {
  if (!heldByMe()) return -1;
  if (--m_count == 0) m_owner.store(std::thread::id(), std::memory_order_relaxed);
  m_mutex.unlock();
  return 0;
}

bool ZnCriticalSectionH::heldByMe() const {
  return m_owner.load(std::memory_order_relaxed) == std::this_thread::get_id();
}
