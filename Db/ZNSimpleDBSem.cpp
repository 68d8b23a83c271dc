#include "ZNSimpleDBSem.h"

#include "ZnSemaphore.h"

ZNSimpleDBSem::ZNSimpleDBSem(int count) : m_sem(new ZnSemaphore(count)) {}

ZNSimpleDBSem::~ZNSimpleDBSem() {
  delete m_sem;
  m_sem = nullptr;
}

void ZNSimpleDBSem::wait() {
  while (!m_sem->wait()) {
  }
}

void ZNSimpleDBSem::release(int) { m_sem->release(1); }
