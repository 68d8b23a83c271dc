// The semaphore the row descriptors share to fill their class-wide
// descriptions once.
#pragma once

class ZnSemaphore;

class ZNSimpleDBSem {
 public:
  explicit ZNSimpleDBSem(int count);
  ~ZNSimpleDBSem();
  ZNSimpleDBSem(const ZNSimpleDBSem&) = delete;
  ZNSimpleDBSem& operator=(const ZNSimpleDBSem&) = delete;

  // Blocks until a permit is taken (a wait cut short by a stop request is
  // retried: the holder only fills a description and soon lets go).
  void wait();
  // Gives back one permit (callers pass 1).
  void release(int);

 private:
  ZnSemaphore* m_sem;
};
