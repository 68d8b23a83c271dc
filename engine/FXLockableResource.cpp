#include "FXLockableResource.h"

#include "PlatformCompat.h"

void FXLockableResource::SetLockOwner() {
  m_ownerThreadId.store(static_cast<uint32_t>(GetCurrentThreadId()), std::memory_order_relaxed);
}

void FXLockableResource::ClearLockOwner() { m_ownerThreadId.store(0, std::memory_order_relaxed); }
