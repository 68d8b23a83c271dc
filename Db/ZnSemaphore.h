// Counting semaphore over the platform's.
#pragma once

class ZnSemaphoreH;

class ZnSemaphore {
 public:
  // Throws "Not enough memory to initialize ZnSemaphore" (a const char*)
  // when the platform semaphore cannot be made.
  explicit ZnSemaphore(int count);
  ~ZnSemaphore();
  ZnSemaphore(const ZnSemaphore&) = delete;
  ZnSemaphore& operator=(const ZnSemaphore&) = delete;

  // True once a permit is taken; false when the wait was cut short.
  bool wait();
  bool release(int count);

 private:
  ZnSemaphoreH* m_sem;
};
