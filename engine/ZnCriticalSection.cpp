#include "drorch/ZnCriticalSection.h"

#include <new>

#include "sync/ZnCriticalSectionH.h"

ZnCriticalSection::ZnCriticalSection() : m_cs(new (std::nothrow) ZnCriticalSectionH()) {
  if (!m_cs) throw "Not enough memory to initialize ZnCriticalSection";
}

ZnCriticalSection::~ZnCriticalSection() {
  delete m_cs;
  m_cs = nullptr;
}

// This section and the platform's it forwards to are one lock, which the
// analysis cannot see: it would count them as two.
bool ZnCriticalSection::enter(bool wait) DR_NO_THREAD_SAFETY_ANALYSIS { return m_cs->enter(wait); }

int ZnCriticalSection::leave() DR_NO_THREAD_SAFETY_ANALYSIS { return m_cs->leave(); }
