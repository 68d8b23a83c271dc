#include "AutoLock.h"

#include "FXLockableResource.h"

auto_lock::auto_lock(FXLockableResource* resource, bool lockNow) : m_resource(resource), m_held(false) {
  if (lockNow) Lock();
}

auto_lock::~auto_lock() { Unlock(); }

void auto_lock::Lock() {
  if (m_resource && !m_held) {
    m_resource->Lock();
    m_held = true;
  }
}

void auto_lock::Unlock() {
  if (m_resource && m_held) {
    m_resource->Unlock();
    m_held = false;
  }
}
