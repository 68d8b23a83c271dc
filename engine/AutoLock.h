// Scoped hold of an FXLockableResource: releases at most once, and never
// releases what it did not take. A null resource is allowed and ignored.
#pragma once

class FXLockableResource;

class auto_lock {
 public:
  explicit auto_lock(FXLockableResource* resource, bool lockNow = true);
  ~auto_lock();
  auto_lock(const auto_lock&) = delete;
  auto_lock& operator=(const auto_lock&) = delete;

  void Lock();
  void Unlock();
  bool IsHeld() const { return m_held; }

 private:
  FXLockableResource* m_resource;
  bool m_held;
};
