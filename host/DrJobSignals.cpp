#include "DrJobSignals.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <atomic>
#include <chrono>

#include "core/StoreResult.h"
#include "db/DBConnection.h"
#include "jobs/JobStore.h"
#include "log/EvEvent.h"

namespace {

// What Stop writes to the pipe; the handler writes signal numbers.
const unsigned char kStopWatching = 0;
// How often, in real time, the watcher looks for a kill another process
// recorded.
const int kRecordLookMs = 250;

struct SStopSignal {
  int number;
  const char* name;
};

const SStopSignal kStopSignals[] = {{SIGINT, "SIGINT"}, {SIGTERM, "SIGTERM"}, {SIGHUP, "SIGHUP"}};

// Signals counted since the watch began; the handler's only state besides
// the pipe. Lock-free, so the handler may touch it.
std::atomic<int> g_received{0};
// The self-pipe from the handler to the watcher. Opened once and never
// closed: a handler running late must not write into a descriptor number
// that was reused meanwhile.
int g_pipe[2] = {-1, -1};

sigset_t StopSignalSet() {
  sigset_t set;
  sigemptyset(&set);
  for (const SStopSignal& s : kStopSignals) sigaddset(&set, s.number);
  return set;
}

const char* NameOf(int number) {
  for (const SStopSignal& s : kStopSignals) {
    if (s.number == number) return s.name;
  }
  return "signal";
}

// Only async-signal-safe calls here. The write end never blocks: a pipe
// nobody reads any more (after Stop) just drops the byte.
extern "C" void OnStopSignal(int number) {
  const int saved = errno;
  if (g_received.fetch_add(1) == 0) {
    const unsigned char byte = static_cast<unsigned char>(number);
    const ssize_t written = write(g_pipe[1], &byte, 1);
    (void)written;
    errno = saved;
    return;
  }
  static const char kLine[] = "drjob: a second signal: drjob ends at once; a rerun of the DR job takes it over\n";
  const ssize_t written = write(STDERR_FILENO, kLine, sizeof(kLine) - 1);
  (void)written;
  // The default action, raised again: it is blocked while this handler runs
  // and ends the process the moment the handler returns, so whoever started
  // drjob sees it end by that signal.
  signal(number, SIG_DFL);
  raise(number);
  errno = saved;
}

bool OpenPipe(std::string& error) {
  if (g_pipe[0] >= 0) return true;
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) {
    error = std::string("cannot make the signal pipe: ") + strerror(errno);
    return false;
  }
  if (fcntl(fds[1], F_SETFL, fcntl(fds[1], F_GETFL) | O_NONBLOCK) != 0) {
    error = std::string("cannot make the signal pipe: ") + strerror(errno);
    close(fds[0]);
    close(fds[1]);
    return false;
  }
  g_pipe[0] = fds[0];
  g_pipe[1] = fds[1];
  return true;
}

}  // namespace

void CRunSignals::IgnoreBrokenPipe() { signal(SIGPIPE, SIG_IGN); }

void CRunSignals::IgnoreFileSizeLimit() { signal(SIGXFSZ, SIG_IGN); }

bool CRunSignals::Start(long long jobId, std::string& error) {
  if (m_watcher.joinable()) return true;
  m_jobId = jobId;
  m_requestAtMs = 0;
  m_requestOp = 0;
  if (!OpenPipe(error)) return false;
  g_received = 0;
  struct sigaction action;
  memset(&action, 0, sizeof(action));
  action.sa_handler = OnStopSignal;
  // One handler at a time, and the calls the watcher is in go on after it.
  action.sa_mask = StopSignalSet();
  action.sa_flags = SA_RESTART;
  for (const SStopSignal& s : kStopSignals) {
    struct sigaction before;
    if (sigaction(s.number, nullptr, &before) != 0) continue;
    // Whoever started drjob chose that it should not end on this signal.
    if (before.sa_handler == SIG_IGN) continue;
    sigaction(s.number, &action, nullptr);
  }
  const sigset_t set = StopSignalSet();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  m_watcher = std::thread([this] { Watch(); });
  return true;
}

void CRunSignals::Stop() {
  if (m_watcher.joinable()) {
    const ssize_t written = write(g_pipe[1], &kStopWatching, 1);
    (void)written;
    m_watcher.join();
    // The job's threads have ended; from here the calling thread takes a
    // signal, so a second one still ends drjob at once.
    const sigset_t set = StopSignalSet();
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
  }
  // A request recorded after the watcher's last look, up to the job's end;
  // once only.
  if (m_jobId != 0) LookAtRecord();
  m_jobId = 0;
}

void CRunSignals::NoteRequest(int operation) {
  const long long now =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
          .count();
  long long none = 0;
  if (m_requestAtMs.compare_exchange_strong(none, now)) m_requestOp = operation;
}

void CRunSignals::LookAtRecord() {
  if (m_requestAtMs.load() != 0) return;
  // A read that fails is tried again at the next look.
  int operation = 0;
  if (CJobStore::GetControlOperation(m_jobId, operation) == EStoreResult::kOk && operation != 0) {
    NoteRequest(operation);
  }
}

void CRunSignals::Watch() {
  const sigset_t set = StopSignalSet();
  pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
  for (;;) {
    struct pollfd wake = {g_pipe[0], POLLIN, 0};
    const int ready = poll(&wake, 1, kRecordLookMs);
    if (ready < 0 && errno == EINTR) continue;
    if (ready == 0) {
      LookAtRecord();
      continue;
    }
    unsigned char byte = kStopWatching;
    const ssize_t n = read(g_pipe[0], &byte, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0 || byte == kStopWatching) break;
    const char* name = NameOf(byte);
    // The same request drjob control makes: the job's job manager reads it
    // from the job controller at its next check, when one comes.
    // Only while the job runs, as drjob control asks: the run's end reads
    // what stands when it stores its final state.
    if (CJobStore::RequestControl(m_jobId, CJobStore::kControlKill) == EStoreResult::kOk) {
      NoteRequest(CJobStore::kControlKill);
      EvDebug(m_jobId).Debug("WatchSignals", "[%s] received: kill requested for DR job [%lld]", name, m_jobId);
      fprintf(stderr,
              "drjob: %s: kill requested for DR job [%lld]; the job acts on it at its next wait or step that looks "
              "for a kill, if one comes (drjob run --help), another signal ends drjob at once\n",
              name, m_jobId);
    } else {
      EvDebug(m_jobId).Error("WatchSignals", "[%s] received: cannot record the kill of DR job [%lld]", name, m_jobId);
      fprintf(stderr,
              "drjob: %s: cannot record the kill request for DR job [%lld] (see the log); another signal ends "
              "drjob at once\n",
              name, m_jobId);
    }
  }
  CDBConnection::CloseThreadConnections();
}
