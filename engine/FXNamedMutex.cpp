#include "FXNamedMutex.h"

#include <stdint.h>

#include "core/StopState.h"

FXNamedMutex::FXNamedMutex(const std::string& name) : m_mutex(name) {}

FXNamedMutex::~FXNamedMutex() = default;

// The four lock operations below forward to the platform mutex, which is the
// same lock as this one; the analysis would count two locks and is kept out.
bool FXNamedMutex::TryLock() DR_NO_THREAD_SAFETY_ANALYSIS {
  if (!m_mutex.lock(1)) return false;
  SetLockOwner();
  return true;
}

bool FXNamedMutex::TryLock(CTimeInterval timeout) DR_NO_THREAD_SAFETY_ANALYSIS {
  // A negative span must not turn into an endless wait, nor a huge one into
  // a wrapped count.
  long long ms = timeout.AsMilliseconds();
  if (ms < 0) ms = 0;
  if (ms > INT32_MAX) ms = INT32_MAX;
  if (!m_mutex.lock(static_cast<unsigned long>(ms))) return false;
  SetLockOwner();
  return true;
}

// Forwards to the platform mutex, like the tries above.
void FXNamedMutex::Lock() DR_NO_THREAD_SAFETY_ANALYSIS {
  // The platform's unbounded wait keeps trying while the lock file cannot be
  // opened. Only a stop request of this thread ends it without the mutex, and
  // then the owner stays as it was; a wait a test's watchdog gave up on is
  // simply waited again.
  while (!m_mutex.lock()) {
    if (CStopState::CurrentStopRequested()) return;
  }
  SetLockOwner();
}

void FXNamedMutex::Unlock() DR_NO_THREAD_SAFETY_ANALYSIS {
  if (m_mutex.getLockCnt() == 1) ClearLockOwner();
  m_mutex.unlock();
}
