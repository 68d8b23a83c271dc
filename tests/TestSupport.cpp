#include "TestSupport.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "core/StopState.h"

extern char** environ;

namespace drtest {

bool PathExists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

std::string MakeTempDir(const std::string& prefix) {
  std::string tmpl = "/tmp/" + prefix + ".XXXXXX";
  std::vector<char> buf(tmpl.begin(), tmpl.end());
  buf.push_back('\0');
  char* dir = mkdtemp(buf.data());
  return dir ? std::string(dir) : std::string();
}

bool Eventually(const std::function<bool()>& pred, unsigned long limitMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
  for (;;) {
    if (pred()) return true;
    if (std::chrono::steady_clock::now() >= deadline || CStopState::CurrentStopRequested()) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

void RemoveTree(const std::string& path) {
  if (path.size() < 6 || path.compare(0, 5, "/tmp/") != 0) return;
  std::string cmd = "rm -rf '" + path + "'";
  if (system(cmd.c_str()) != 0) {
    // Nothing to do: a left-over temporary folder harms no one.
  }
}

CChildProcess::~CChildProcess() {
  if (m_pid > 0) {
    Kill();
    Wait();
  }
  if (m_out >= 0) close(m_out);
  if (m_in >= 0) close(m_in);
}

bool CChildProcess::Start(const std::vector<std::string>& argv) {
  int outPipe[2], inPipe[2];
  if (pipe2(outPipe, O_CLOEXEC) != 0) return false;
  if (pipe2(inPipe, O_CLOEXEC) != 0) {
    close(outPipe[0]);
    close(outPipe[1]);
    return false;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, outPipe[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, inPipe[0], STDIN_FILENO);
  // The stop signals at their defaults, as a terminal's job has them: a
  // test run in the background (whose shell ignores SIGINT) would pass its
  // children an ignored SIGINT, which drjob leaves ignored, and a test that
  // stops a run as Ctrl-C does would stop nothing.
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  sigset_t defaults;
  sigemptyset(&defaults);
  for (const int number : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) sigaddset(&defaults, number);
  posix_spawnattr_setsigdefault(&attr, &defaults);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF);
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  int rc = posix_spawn(&m_pid, args[0], &actions, &attr, args.data(), environ);
  posix_spawnattr_destroy(&attr);
  posix_spawn_file_actions_destroy(&actions);
  close(outPipe[1]);
  close(inPipe[0]);
  if (rc != 0) {
    close(outPipe[0]);
    close(inPipe[1]);
    m_pid = -1;
    return false;
  }
  m_out = outPipe[0];
  m_in = inPipe[1];
  return true;
}

bool CChildProcess::ReadLine(std::string& line, int timeoutMs) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    size_t nl = m_buffer.find('\n');
    if (nl != std::string::npos) {
      line = m_buffer.substr(0, nl);
      m_buffer.erase(0, nl + 1);
      return true;
    }
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0 || m_out < 0) return false;
    struct pollfd p = {m_out, POLLIN, 0};
    int r = poll(&p, 1, static_cast<int>(left.count()));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return false;
    char buf[256];
    ssize_t n = read(m_out, buf, sizeof buf);
    if (n <= 0) return false;
    m_buffer.append(buf, static_cast<size_t>(n));
  }
}

void CChildProcess::CloseInput() {
  if (m_in >= 0) close(m_in);
  m_in = -1;
}

void CChildProcess::Kill() {
  if (m_pid > 0) kill(m_pid, SIGKILL);
}

int CChildProcess::Wait() {
  if (m_pid <= 0) return -1;
  int status = 0;
  pid_t r;
  do {
    r = waitpid(m_pid, &status, 0);
  } while (r < 0 && errno == EINTR);
  m_pid = -1;
  return r < 0 ? -1 : status;
}

}  // namespace drtest
