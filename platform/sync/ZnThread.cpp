#include "sync/ZnThread.h"

#include <atomic>
#include <system_error>

#include "log/LogSink.h"
#include "core/StopState.h"

// Lives as long as the thread or the object, whichever is longer.
struct ZnThread::SShared {
  CStopState stop;
  std::atomic<bool> running{false};
};

ZnThread::ZnThread() : m_shared(std::make_shared<SShared>()) {}

ZnThread::~ZnThread() {
  if (m_thread.joinable()) {
    if (m_thread.get_id() == std::this_thread::get_id()) {
      m_thread.detach();
    } else if (m_shared->running.load()) {
      m_thread.detach();
    } else {
      m_thread.join();
    }
  }
}

bool ZnThread::createThread(EntryFunc entry, void* arg) {
  if (!entry || m_thread.joinable()) return false;
  std::shared_ptr<SShared> shared = m_shared;
  shared->running.store(true);
  try {
    m_thread = std::thread([shared, entry, arg] {
      CStopState::SetCurrent(&shared->stop);
      entry(arg);
      CStopState::SetCurrent(nullptr);
      shared->running.store(false);
    });
  } catch (const std::system_error& e) {
    shared->running.store(false);
    CLogSink::Instance().Write(0, "ZnThread::createThread", "Cannot start a thread [%s]", e.what());
    return false;
  }
  return true;
}

void ZnThread::requestStop() { m_shared->stop.RequestStop(); }

bool ZnThread::join() {
  if (!m_thread.joinable() || m_thread.get_id() == std::this_thread::get_id()) return false;
  m_thread.join();
  return true;
}

bool ZnThread::isRunning() const { return m_shared->running.load(); }
