// Something that can be locked, remembering which thread holds it.
#pragma once

#include <stdint.h>

#include <atomic>

#include "TimeInterval.h"
#include "core/ThreadSafety.h"

// A lock for the compiler's lock checks: data may say DR_GUARDED_BY(resource).
class DR_CAPABILITY("mutex") FXLockableResource {
 public:
  FXLockableResource() : m_ownerThreadId(0) {}
  virtual ~FXLockableResource() = default;

  // True when the lock was taken.
  virtual bool TryLock() DR_TRY_ACQUIRE(true) = 0;
  virtual bool TryLock(CTimeInterval timeout) DR_TRY_ACQUIRE(true) = 0;
  // Returns once the lock is held.
  virtual void Lock() DR_ACQUIRE() = 0;
  virtual void Unlock() DR_RELEASE() = 0;

  // The holder's thread id in 32 bits; 0 when nobody holds it.
  uint32_t GetLockOwner() const { return m_ownerThreadId.load(std::memory_order_relaxed); }

 protected:
  void SetLockOwner();
  void ClearLockOwner();

 private:
  // Written by the holder, read by anyone (diagnostics).
  std::atomic<uint32_t> m_ownerThreadId;
};
