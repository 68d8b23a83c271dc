// Cooperative stop requests for platform threads.
//
// A thread can never be killed safely while it may hold a lock, so stopping a
// worker means asking it: the owner of a worker (a thread pool, a ZnThread)
// gives the thread a CStopState, and every blocking platform call made on that
// thread (sleeps, ZnEvent::wait, ZnNamedMutex::lock, the clock's waits) returns
// early once a stop has been requested. What the work does next is its own
// business; the owner waits for it to return.
#pragma once

#include <atomic>

class CStopState {
 public:
  CStopState() : m_stop(false), m_honoured(false) {}
  CStopState(const CStopState&) = delete;
  CStopState& operator=(const CStopState&) = delete;

  void RequestStop() { m_stop.store(true, std::memory_order_release); }
  bool StopRequested() const { return m_stop.load(std::memory_order_acquire); }
  // A blocking platform call returned early for the request: the thread was
  // held up by a wait, not merely still running, when it was asked to stop.
  void NoteHonoured() { m_honoured.store(true, std::memory_order_release); }
  bool Honoured() const { return m_honoured.load(std::memory_order_acquire); }

  // The stop state of the calling thread; null for threads nobody can stop.
  static CStopState* Current();
  // Binds a stop state to the calling thread (null unbinds).
  static void SetCurrent(CStopState* state);
  // True when the calling thread has been asked to stop.
  static bool CurrentStopRequested();

 private:
  std::atomic<bool> m_stop;
  std::atomic<bool> m_honoured;
};
