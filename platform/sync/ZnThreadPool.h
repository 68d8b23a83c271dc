// A pool of worker threads running queued calls of C-style functions.
//
// Items are opaque (void*): the pool never frees an item it ran, since the
// function owns it. Items the pool drops without running (on
// terminateAllThreads or destruction) go to the item deleter its owner set;
// without one they are leaked and logged.
//
// Termination is cooperative: queued items are dropped, every worker is asked
// to stop (running items see it at their next blocking platform call) and the
// call waits until every worker has returned. No thread is ever killed while
// it may hold a lock.
#pragma once

#include <condition_variable>
#include <deque>
#include <list>
#include <memory>
#include <thread>

#include "core/Mutex.h"
#include "core/StopState.h"

class ZnThreadPool {
 public:
  typedef void* (*WorkFunc)(void*);
  typedef void (*ItemDeleter)(void*);

  ZnThreadPool();
  // Terminates the pool (see terminateAllThreads).
  ~ZnThreadPool();
  ZnThreadPool(const ZnThreadPool&) = delete;
  ZnThreadPool& operator=(const ZnThreadPool&) = delete;

  // idleTimeoutMs: how long (scaled) a worker above minThreads stays idle
  // before it exits; 4294967295 keeps idle workers for good.
  // minThreads: workers kept however idle. maxThreads: at most this many run
  // items at once. initialThreads: workers started now (at most maxThreads).
  // True when the pool is ready for work.
  bool initThreadPool(unsigned long idleTimeoutMs, unsigned long minThreads, unsigned int maxThreads,
                      unsigned int initialThreads);

  // Queues one call fn(arg). False when the pool is not initialised or has
  // been terminated (the item then stays with the caller).
  bool doWork(WorkFunc fn, void* arg);

  // Blocks until the queue is empty (waitQueued) and no worker runs an item
  // (waitBusy), or until timeoutMs (scaled; -1 no limit) passes. With
  // failIfTerminated, a pool that was terminated reports false (its dropped
  // items did not run). Also returns false when the calling thread is asked
  // to stop or the watchdog gives up.
  bool waitForAllThreads(bool waitQueued, bool waitBusy, bool failIfTerminated, int timeoutMs);

  // Items queued that no worker has taken yet.
  unsigned long getTotalWorkerListCount() const;
  // Workers running an item.
  unsigned long getCurrentBusyThreadCount() const;
  // Workers alive.
  unsigned long getThreadCount() const;

  void terminateAllThreads();
  void setItemDeleter(ItemDeleter deleter);

 private:
  struct SItem {
    WorkFunc fn;
    void* arg;
  };
  struct SWorker {
    std::thread thread;
    CStopState stop;
    bool exited = false;  // under the pool's m_mutex
  };

  bool StartWorkerLocked() DR_REQUIRES(m_mutex);
  void WorkerLoop(SWorker* self);
  void ReapExitedLocked(std::list<std::unique_ptr<SWorker>>& reaped) DR_REQUIRES(m_mutex);
  static void JoinAll(std::list<std::unique_ptr<SWorker>>& workers);

  mutable CMutex m_mutex;
  std::condition_variable m_workCv;  // work queued, or termination
  std::condition_variable m_doneCv;  // an item finished
  std::deque<SItem> m_queue DR_GUARDED_BY(m_mutex);
  std::list<std::unique_ptr<SWorker>> m_workers DR_GUARDED_BY(m_mutex);
  ItemDeleter m_deleter DR_GUARDED_BY(m_mutex);
  unsigned long m_idleTimeoutMs DR_GUARDED_BY(m_mutex);
  unsigned long m_minThreads DR_GUARDED_BY(m_mutex);
  unsigned int m_maxThreads DR_GUARDED_BY(m_mutex);
  unsigned long m_busy DR_GUARDED_BY(m_mutex);
  unsigned long m_idle DR_GUARDED_BY(m_mutex);
  unsigned long m_alive DR_GUARDED_BY(m_mutex);
  unsigned long m_waiters DR_GUARDED_BY(m_mutex);  // threads in waitForAllThreads
  bool m_initialised DR_GUARDED_BY(m_mutex);
  bool m_terminated DR_GUARDED_BY(m_mutex);
};
