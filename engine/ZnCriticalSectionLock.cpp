#include "ZnCriticalSectionLock.h"

ZnCriticalSectionLock::ZnCriticalSectionLock(ZnCriticalSection* section) : m_section(section) {
  if (m_section) m_section->enter(true);
}

ZnCriticalSectionLock::~ZnCriticalSectionLock() {
  if (m_section) m_section->leave();
}
