// A mutex shared by every thread and process on this machine that uses the
// same name (letter case ignored) and the same lock folder (that of one user,
// unless DR_LOCK_DIR names another), with a per-holder recursion count.
#pragma once

#include <string>

#include "FXLockableResource.h"
#include "sync/ZnNamedMutex.h"

class DR_CAPABILITY("mutex") DR_REENTRANT_CAPABILITY FXNamedMutex : public FXLockableResource {
 public:
  explicit FXNamedMutex(const std::string& name);
  ~FXNamedMutex() override;

  // Waits at most 1 ms.
  bool TryLock() override DR_TRY_ACQUIRE(true);
  // Waits at most the interval, clamped to [0, INT32_MAX] ms.
  bool TryLock(CTimeInterval timeout) override DR_TRY_ACQUIRE(true);
  // Returns once the mutex is held, or without it (owner unchanged) when the
  // calling thread is asked to stop (CStopState). For the lock checks the
  // mutex is held afterwards.
  void Lock() override DR_ACQUIRE();
  // Ends one hold of the calling thread; the owner is cleared when the
  // outermost hold ends. A thread that does not hold it changes nothing.
  void Unlock() override DR_RELEASE();

  int GetLockCount() const { return m_mutex.getLockCnt(); }

 private:
  ZnNamedMutex m_mutex;
};
