// A mutex shared by every thread and process on this machine that uses the
// same name (letter case ignored), with a per-holder recursion count.
#pragma once

#include <string>

#include "FXLockableResource.h"
#include "sync/ZnNamedMutex.h"

class FXNamedMutex : public FXLockableResource {
 public:
  explicit FXNamedMutex(const std::string& name);
  ~FXNamedMutex() override;

  // Waits at most 1 ms.
  bool TryLock() override;
  // Waits at most the interval, clamped to [0, INT32_MAX] ms.
  bool TryLock(CTimeInterval timeout) override;
  // Returns once the mutex is held, or without it (owner unchanged) when the
  // calling thread is asked to stop (CStopState).
  void Lock() override;
  // Ends one hold of the calling thread; the owner is cleared when the
  // outermost hold ends. A thread that does not hold it changes nothing.
  void Unlock() override;

  int GetLockCount() const { return m_mutex.getLockCnt(); }

 private:
  ZnNamedMutex m_mutex;
};
