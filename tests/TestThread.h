// A thread a test starts, owned so that it never outlives the test.
//
// A failed ASSERT_* returns from the test body at once. A joinable
// std::thread destroyed then calls std::terminate, and a running ZnThread is
// detached and goes on using the test's stack frame: either way the process
// goes down and takes every later test of a dr_tests run with it. A
// CTestThread stops and joins its thread on every way out of its scope:
//   - the thread runs with a stop state of its own, so its blocking platform
//     calls (sleeps, events, named mutexes, the clock's waits) return once
//     the owner asks it to stop;
//   - what a stop request cannot reach (a hung lab call, a socket, a child
//     job the thread waits on) is released by the action given to OnStop;
//   - the join is bounded in real time (kWatchdogMs): a thread still running
//     then is a real hang, reported with the thread's name before the
//     process aborts, never a wait that outlasts the test run.
// Join() is the ordinary end of a test that lets its thread finish; the
// destructor is the early exit. Not thread-safe: one test thread owns it.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "TestSupport.h"

class ZnThread;

namespace drtest {

class CTestThread {
 public:
  CTestThread();
  // Starts body on a new thread named `name` (the name shows in a hang report).
  explicit CTestThread(std::function<void()> body, std::string name = "test thread");
  // Keeps watch over a platform thread the test started itself: the owner
  // asks it to stop and joins it on the way out.
  explicit CTestThread(ZnThread& thread, std::string name = "ZnThread");
  ~CTestThread();
  CTestThread(CTestThread&& other) noexcept;
  CTestThread& operator=(CTestThread&& other) noexcept;
  CTestThread(const CTestThread&) = delete;
  CTestThread& operator=(const CTestThread&) = delete;

  // Starts body; false when this owner already holds a thread.
  bool Start(std::function<void()> body, std::string name = "test thread");
  // What frees the thread from a wait its stop request cannot reach. Runs at
  // most once, on an early exit (the destructor of an unjoined thread).
  void OnStop(std::function<void()> release);
  // Waits in real time for the thread to return, then joins it. False when
  // it has not returned within limitMs (it stays owned).
  bool Join(unsigned long limitMs = kWatchdogMs);
  // True once the thread's body has returned.
  bool Done() const;
  bool Started() const { return m_state != nullptr; }

 private:
  struct SState;
  void Finish();
  std::unique_ptr<SState> m_state;
};

}  // namespace drtest
