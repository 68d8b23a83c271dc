// Scoped hold of an FXLockableResource: releases at most once, and never
// releases what it did not take. A null resource is allowed and ignored.
//
// For the compiler's lock checks the resource is held from construction to
// destruction, with Unlock and Lock giving it up and taking it back inside
// the scope. A scope built with lockNow = false holds nothing until Lock(),
// which the checks cannot tell from the bool: such code takes the resource
// through its own Lock/Unlock instead, or explains its exception.
#pragma once

#include "FXLockableResource.h"
#include "core/ThreadSafety.h"

class DR_SCOPED_CAPABILITY auto_lock {
 public:
  explicit auto_lock(FXLockableResource* resource, bool lockNow = true) DR_ACQUIRE(resource);
  ~auto_lock() DR_RELEASE();
  auto_lock(const auto_lock&) = delete;
  auto_lock& operator=(const auto_lock&) = delete;

  void Lock() DR_ACQUIRE();
  void Unlock() DR_RELEASE();
  bool IsHeld() const { return m_held; }

 private:
  FXLockableResource* m_resource;
  bool m_held;
};
