#include "sync/ZnThreadPool.h"

#include <system_error>

#include "core/BlockingHook.h"
#include "log/LogSink.h"
#include "time/PlatformClock.h"

namespace {
constexpr unsigned long kKeepIdleForever = 4294967295UL;
}

ZnThreadPool::ZnThreadPool()
    : m_deleter(nullptr),
      m_idleTimeoutMs(kKeepIdleForever),
      m_minThreads(0),
      m_maxThreads(0),
      m_busy(0),
      m_idle(0),
      m_alive(0),
      m_waiters(0),
      m_initialised(false),
      m_terminated(false) {}

ZnThreadPool::~ZnThreadPool() { terminateAllThreads(); }

void ZnThreadPool::setItemDeleter(ItemDeleter deleter) {
  CMutexLock lk(m_mutex);
  m_deleter = deleter;
}

bool ZnThreadPool::initThreadPool(unsigned long idleTimeoutMs, unsigned long minThreads, unsigned int maxThreads,
                                  unsigned int initialThreads) {
  CMutexLock lk(m_mutex);
  if (m_initialised || m_terminated || maxThreads == 0) return false;
  m_idleTimeoutMs = idleTimeoutMs;
  m_maxThreads = maxThreads;
  m_minThreads = minThreads > maxThreads ? maxThreads : minThreads;
  m_initialised = true;
  unsigned int start = initialThreads > maxThreads ? maxThreads : initialThreads;
  for (unsigned int i = 0; i < start; ++i) {
    if (!StartWorkerLocked()) return m_alive > 0;
  }
  return true;
}

bool ZnThreadPool::StartWorkerLocked() {
  std::unique_ptr<SWorker> w(new SWorker());
  SWorker* raw = w.get();
  try {
    w->thread = std::thread(&ZnThreadPool::WorkerLoop, this, raw);
  } catch (const std::system_error& e) {
    CLogSink::Instance().Write(0, "ZnThreadPool", "Cannot start a worker thread [%s]", e.what());
    return false;
  }
  ++m_alive;
  m_workers.push_back(std::move(w));
  return true;
}

bool ZnThreadPool::doWork(WorkFunc fn, void* arg) {
  if (!fn) return false;
  std::list<std::unique_ptr<SWorker>> reaped;
  bool notify;
  {
    CMutexLock lk(m_mutex);
    if (!m_initialised || m_terminated) return false;
    m_queue.push_back(SItem{fn, arg});
    ReapExitedLocked(reaped);
    // A new worker only when no idle one will take the item.
    if (m_idle < m_queue.size() && m_alive < m_maxThreads) {
      if (!StartWorkerLocked() && m_alive == 0) {
        m_queue.pop_back();
        return false;
      }
    }
    notify = m_idle > 0;
  }
  if (notify) m_workCv.notify_one();
  JoinAll(reaped);
  return true;
}

void ZnThreadPool::WorkerLoop(SWorker* self) {
  CStopState::SetCurrent(&self->stop);
  CMutexLock lk(m_mutex);
  for (;;) {
    ++m_idle;
    bool timedOut = false;
    auto ready = [this]() DR_REQUIRES(m_mutex) { return m_terminated || !m_queue.empty(); };
    if (m_idleTimeoutMs == kKeepIdleForever || m_alive <= m_minThreads) {
      m_workCv.wait(lk.Native(), ready);
    } else {
      timedOut = !m_workCv.wait_for(lk.Native(), CPlatformClock::Instance().ToReal(m_idleTimeoutMs), ready);
    }
    --m_idle;
    if (m_terminated) break;
    if (timedOut) {
      if (m_alive > m_minThreads) break;
      continue;
    }
    SItem item = m_queue.front();
    m_queue.pop_front();
    ++m_busy;
    lk.Unlock();
    item.fn(item.arg);
    // Between items nothing of the thread is in use: a worker that now
    // waits for work gives back what others can use meanwhile.
    CBlockingHook::BeforeBlocking();
    lk.Lock();
    --m_busy;
    // Only a waiter cares, and only once the queue or the workers run dry.
    if (m_waiters > 0 && (m_queue.empty() || m_busy == 0)) m_doneCv.notify_all();
  }
  --m_alive;
  self->exited = true;  // last touch of the pool by this thread
  m_doneCv.notify_all();
  lk.Unlock();
  CStopState::SetCurrent(nullptr);
}

void ZnThreadPool::ReapExitedLocked(std::list<std::unique_ptr<SWorker>>& reaped) {
  for (auto it = m_workers.begin(); it != m_workers.end();) {
    if ((*it)->exited) {
      reaped.push_back(std::move(*it));
      it = m_workers.erase(it);
    } else {
      ++it;
    }
  }
}

void ZnThreadPool::JoinAll(std::list<std::unique_ptr<SWorker>>& workers) {
  for (auto& w : workers) {
    if (!w->thread.joinable()) continue;
    if (w->thread.get_id() == std::this_thread::get_id()) {
      // Terminated from inside one of its own items, which owners must not
      // do: the worker still needs its record once the item returns.
      CLogSink::Instance().Write(0, "ZnThreadPool", "Pool terminated from one of its own work items");
      w->thread.detach();
      w.release();
    } else {
      w->thread.join();
    }
  }
}

bool ZnThreadPool::waitForAllThreads(bool waitQueued, bool waitBusy, bool failIfTerminated, int timeoutMs) {
  if (timeoutMs != 0) CBlockingHook::BeforeBlocking();
  CMutexLock lk(m_mutex);
  uint64_t ms = timeoutMs < 0 ? kWaitForever : static_cast<uint64_t>(timeoutMs);
  ++m_waiters;
  EWaitResult r = CPlatformClock::Instance().WaitOn(
      lk.Native(), m_doneCv, ms, "ZnThreadPool::waitForAllThreads",
      [&]() DR_REQUIRES(m_mutex) { return (!waitQueued || m_queue.empty()) && (!waitBusy || m_busy == 0); },
      timeoutMs >= 0);
  --m_waiters;
  if (r != EWaitResult::Ready) return false;
  return !(failIfTerminated && m_terminated);
}

unsigned long ZnThreadPool::getTotalWorkerListCount() const {
  CMutexLock lk(m_mutex);
  return static_cast<unsigned long>(m_queue.size());
}

unsigned long ZnThreadPool::getCurrentBusyThreadCount() const {
  CMutexLock lk(m_mutex);
  return m_busy;
}

unsigned long ZnThreadPool::getThreadCount() const {
  CMutexLock lk(m_mutex);
  return m_alive;
}

void ZnThreadPool::terminateAllThreads() {
  std::deque<SItem> dropped;
  std::list<std::unique_ptr<SWorker>> workers;
  ItemDeleter deleter;
  {
    CMutexLock lk(m_mutex);
    m_terminated = true;
    dropped.swap(m_queue);
    workers.swap(m_workers);
    deleter = m_deleter;
    for (auto& w : workers) w->stop.RequestStop();
  }
  m_workCv.notify_all();
  m_doneCv.notify_all();
  if (!dropped.empty()) {
    if (deleter) {
      for (const SItem& item : dropped) deleter(item.arg);
    } else {
      CLogSink::Instance().Write(0, "ZnThreadPool::terminateAllThreads",
                                 "Dropped [%zu] queued items with no item deleter set", dropped.size());
    }
  }
  JoinAll(workers);
}
