#include "ZnSemaphore.h"

#include <new>

#include "sync/ZnSemaphoreH.h"

ZnSemaphore::ZnSemaphore(int count) : m_sem(new (std::nothrow) ZnSemaphoreH(count)) {
  if (!m_sem) throw "Not enough memory to initialize ZnSemaphore";
}

ZnSemaphore::~ZnSemaphore() {
  delete m_sem;
  m_sem = nullptr;
}

bool ZnSemaphore::wait() { return m_sem->wait(); }

bool ZnSemaphore::release(int count) { return m_sem->release(count); }
