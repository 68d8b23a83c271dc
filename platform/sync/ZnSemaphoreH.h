// Counting semaphore.
#pragma once

#include <condition_variable>

#include "core/Mutex.h"

class ZnSemaphoreH {
 public:
  explicit ZnSemaphoreH(int initialCount);
  ZnSemaphoreH(const ZnSemaphoreH&) = delete;
  ZnSemaphoreH& operator=(const ZnSemaphoreH&) = delete;

  // Takes one unit, blocking while none is free. False when the wait was cut
  // short (stop request or watchdog) without taking a unit.
  bool wait();
  // Takes one unit if one frees up within ms (scaled).
  bool wait(unsigned long ms);
  // Gives back count units (count >= 1).
  bool release(int count = 1);
  int count() const;

 private:
  mutable CMutex m_mutex;
  std::condition_variable m_cv;
  int m_count DR_GUARDED_BY(m_mutex);
};
