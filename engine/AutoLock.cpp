#include "AutoLock.h"

auto_lock::auto_lock(FXLockableResource* resource, bool lockNow) : m_resource(resource), m_held(false) {
  if (lockNow) Lock();
}

auto_lock::~auto_lock() { Unlock(); }

// Lock and Unlock act on the resource the scope was built with; the analysis
// tracks that through the scope and would see a second lock here.
void auto_lock::Lock() DR_NO_THREAD_SAFETY_ANALYSIS {
  if (m_resource && !m_held) {
    m_resource->Lock();
    m_held = true;
  }
}

void auto_lock::Unlock() DR_NO_THREAD_SAFETY_ANALYSIS {
  if (m_resource && m_held) {
    m_resource->Unlock();
    m_held = false;
  }
}
