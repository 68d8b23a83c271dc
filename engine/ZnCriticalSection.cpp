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

bool ZnCriticalSection::enter(bool wait) { return m_cs->enter(wait); }

int ZnCriticalSection::leave() { return m_cs->leave(); }
