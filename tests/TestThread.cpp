#include "TestThread.h"

#include <stdio.h>
#include <stdlib.h>

#include <atomic>
#include <thread>
#include <utility>

#include "core/StopState.h"
#include "sync/ZnThread.h"

namespace drtest {

struct CTestThread::SState {
  std::string name;
  std::function<void()> release;
  CStopState stop;
  std::atomic<bool> done{false};
  std::thread thread;            // a thread of our own
  ZnThread* platform = nullptr;  // or a platform thread we watch
};

CTestThread::CTestThread() = default;

CTestThread::CTestThread(std::function<void()> body, std::string name) { Start(std::move(body), std::move(name)); }

CTestThread::CTestThread(ZnThread& thread, std::string name) : m_state(new SState) {
  m_state->name = std::move(name);
  m_state->platform = &thread;
}

CTestThread::~CTestThread() { Finish(); }

CTestThread::CTestThread(CTestThread&& other) noexcept : m_state(std::move(other.m_state)) {}

CTestThread& CTestThread::operator=(CTestThread&& other) noexcept {
  if (this != &other) {
    Finish();
    m_state = std::move(other.m_state);
  }
  return *this;
}

bool CTestThread::Start(std::function<void()> body, std::string name) {
  if (m_state) return false;
  m_state.reset(new SState);
  m_state->name = std::move(name);
  SState* state = m_state.get();  // lives until the thread is joined
  state->thread = std::thread([state, body = std::move(body)] {
    CStopState::SetCurrent(&state->stop);
    body();
    CStopState::SetCurrent(nullptr);
    state->done.store(true);
  });
  return true;
}

void CTestThread::OnStop(std::function<void()> release) {
  if (m_state) m_state->release = std::move(release);
}

bool CTestThread::Done() const {
  if (!m_state) return true;
  if (m_state->platform) return !m_state->platform->isRunning();
  return m_state->done.load();
}

bool CTestThread::Join(unsigned long limitMs) {
  if (!m_state) return true;
  if (!Eventually([this] { return Done(); }, limitMs)) return false;
  if (m_state->platform) {
    m_state->platform->join();
  } else if (m_state->thread.joinable()) {
    m_state->thread.join();
  }
  m_state.reset();
  return true;
}

void CTestThread::Finish() {
  if (!m_state) return;
  if (m_state->platform) {
    m_state->platform->requestStop();
  } else {
    m_state->stop.RequestStop();
  }
  if (m_state->release) {
    std::function<void()> release = std::move(m_state->release);
    release();
  }
  const std::string name = m_state->name;
  if (Join()) return;
  // Joining would hang the run and leaving it would let it run on freed
  // memory: a thread that neither its stop request nor its release ends is
  // a fault of the code under test, reported here.
  fprintf(stderr, "drtest: %s still runs %lu ms after its test asked it to stop; aborting\n", name.c_str(),
          kWatchdogMs);
  fflush(stderr);
  abort();
}

}  // namespace drtest
