// Helpers shared by the tests.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

// Tests of the lock primitives drive them outside the compiler's lock rules
// on purpose (entering twice, releasing twice or from another thread,
// holding across gtest assertions) to pin down what the primitives do then.
// Those tests, and only those, stand between DR_TEST_LOCK_RULES_OFF and
// DR_TEST_LOCK_RULES_ON.
#if defined(__clang__)
#define DR_TEST_LOCK_RULES_OFF \
  _Pragma("clang diagnostic push") _Pragma("clang diagnostic ignored \"-Wthread-safety-analysis\"")
#define DR_TEST_LOCK_RULES_ON _Pragma("clang diagnostic pop")
#else
#define DR_TEST_LOCK_RULES_OFF
#define DR_TEST_LOCK_RULES_ON
#endif

namespace drtest {

// Real milliseconds per requested millisecond in tests.
constexpr double kTestScale = 0.001;
// Real-time limit of any single wait in tests.
constexpr unsigned long kWatchdogMs = 60000;

// How a test waits for another thread, process, event or row to reach a
// point: polls pred in real time and returns true as soon as it holds, false
// when it still does not after limitMs. The limit only catches a real hang,
// so it is generous; it never comes from the scaled clock, whose
// milliseconds are microseconds in tests and vanish on a busy machine.
// On a thread asked to stop (a CTestThread whose test has ended) it gives up
// at once, so a thread's own polling never holds up its owner's join.
bool Eventually(const std::function<bool()>& pred, unsigned long limitMs = kWatchdogMs);

// Whether anything (a file, a folder) is at path.
bool PathExists(const std::string& path);
std::string MakeTempDir(const std::string& prefix);
void RemoveTree(const std::string& path);

// A child process whose standard output the test reads line by line.
class CChildProcess {
 public:
  CChildProcess() = default;
  ~CChildProcess();
  CChildProcess(const CChildProcess&) = delete;
  CChildProcess& operator=(const CChildProcess&) = delete;

  bool Start(const std::vector<std::string>& argv);
  // Reads one line (without the newline); false on end of output or after
  // timeoutMs of real time.
  bool ReadLine(std::string& line, int timeoutMs = 20000);
  // Closes the child's standard input (the helpers take it as "finish").
  void CloseInput();
  void Kill();
  // Exit status as from waitpid; -1 when it cannot be had.
  int Wait();
  pid_t Pid() const { return m_pid; }

 private:
  pid_t m_pid = -1;
  int m_out = -1;
  int m_in = -1;
  std::string m_buffer;
};

}  // namespace drtest
