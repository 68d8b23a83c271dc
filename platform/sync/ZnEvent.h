// Event a thread can wait for. With manual reset it stays signalled until
// reset(); otherwise one successful wait consumes the signal.
#pragma once

#include <condition_variable>

#include "core/Mutex.h"

class ZnEvent {
 public:
  // Throws "Not enough memory to initialize ZnEvent" (a const char*) when the
  // event cannot be made.
  explicit ZnEvent(bool manualReset = false);
  ZnEvent(const ZnEvent&) = delete;
  ZnEvent& operator=(const ZnEvent&) = delete;

  void set();
  void reset();
  bool isSet() const;
  // Waits without a time limit. True when signalled; false when the wait was
  // cut short by a stop request or the watchdog.
  bool wait();
  // Waits at most ms (scaled). True when signalled.
  bool wait(unsigned long ms);
  // The same, recording the request under reason rather than the event's
  // own name, for a caller whose waits a test tells apart.
  bool wait(unsigned long ms, const char* reason);

 private:
  mutable CMutex m_mutex;
  std::condition_variable m_cv;
  bool m_manualReset;
  bool m_signalled DR_GUARDED_BY(m_mutex);
};
