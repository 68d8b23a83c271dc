// Something that can be locked, remembering which thread holds it.
#pragma once

#include <stdint.h>

#include <atomic>

#include "TimeInterval.h"

class FXLockableResource {
 public:
  FXLockableResource() : m_ownerThreadId(0) {}
  virtual ~FXLockableResource() = default;

  // True when the lock was taken.
  virtual bool TryLock() = 0;
  virtual bool TryLock(CTimeInterval timeout) = 0;
  // Returns once the lock is held.
  virtual void Lock() = 0;
  virtual void Unlock() = 0;

  // The holder's thread id in 32 bits; 0 when nobody holds it.
  uint32_t GetLockOwner() const { return m_ownerThreadId.load(std::memory_order_relaxed); }

 protected:
  void SetLockOwner();
  void ClearLockOwner();

 private:
  // Written by the holder, read by anyone (diagnostics).
  std::atomic<uint32_t> m_ownerThreadId;
};
