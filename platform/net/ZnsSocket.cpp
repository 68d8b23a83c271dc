#include "net/ZnsSocket.h"

#include <errno.h>
#include <limits.h>
#include <poll.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>

#include "core/StopState.h"

namespace {

// A thread that can be asked to stop looks at its request this often.
constexpr std::chrono::milliseconds kStopSlice(20);

}  // namespace

ZnsDeadline ZnsDeadlineAfterSeconds(int seconds) {
  if (seconds <= 0) seconds = kZnsDefaultTimeoutSeconds;
  return CPlatformClock::Instance().DeadlineFor(static_cast<uint64_t>(seconds) * 1000u);
}

EZnsWait ZnsWaitFd(int fd, short events, ZnsDeadline deadline) {
  CStopState* stop = CStopState::Current();
  for (;;) {
    if (stop && stop->StopRequested()) {
      stop->NoteHonoured();
      return EZnsWait::Stopped;
    }
    const auto now = CPlatformClock::SteadyClock::now();
    if (now >= deadline) {
      // One last look, so a reply that is already there is not lost to a
      // deadline that passed while the thread was elsewhere.
      pollfd last{fd, events, 0};
      return poll(&last, 1, 0) > 0 ? EZnsWait::Ready : EZnsWait::Timeout;
    }
    auto slice = deadline - now;
    if (stop) slice = std::min<decltype(slice)>(slice, kStopSlice);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(slice).count();
    const int timeout = static_cast<int>(std::min<long long>(std::max<long long>(ms, 1), INT_MAX));
    pollfd p{fd, events, 0};
    const int n = poll(&p, 1, timeout);
    if (n > 0) return EZnsWait::Ready;
    if (n < 0 && errno != EINTR) return EZnsWait::Failed;
  }
}

CXoError ZnsWaitError(EZnsWait wait, const char* what, bool& timedOut) {
  switch (wait) {
    case EZnsWait::Ready: return CXoError::Success();
    case EZnsWait::Timeout: timedOut = true; return CXoError(kZnsErrTimeout, std::string("timed out ") + what);
    case EZnsWait::Stopped: return CXoError(kZnsErrStopped, std::string("stop requested ") + what);
    case EZnsWait::Failed: break;
  }
  return CXoError(kZnsErrSystem, std::string("poll failed ") + what + ": " + strerror(errno));
}

int ZnsLoopbackSocket() { return socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0); }

CZnsConnection::~CZnsConnection() {
  if (m_fd >= 0) close(m_fd);
}

void CZnsConnection::Shutdown(int how) {
  if (m_fd >= 0) shutdown(m_fd, how);
}

CXoError CZnsConnection::SendFrame(const SZnsFrame& frame, ZnsDeadline deadline, bool& timedOut) {
  std::string bytes;
  if (!ZnsEncodeFrame(frame, bytes)) {
    return CXoError(kZnsErrInvalid, std::string("cannot encode ") + ZnsFrameKindName(frame.kind));
  }
  CMutexLock lk(m_writeMutex);
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = send(m_fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n > 0) {
      done += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      CXoError waited = ZnsWaitError(ZnsWaitFd(m_fd, POLLOUT, deadline), "sending", timedOut);
      if (waited.IsError()) return waited;
      continue;
    }
    const int code = (errno == EPIPE || errno == ECONNRESET) ? kZnsErrClosed : kZnsErrSystem;
    return CXoError(code, std::string("cannot send ") + ZnsFrameKindName(frame.kind) + ": " + strerror(errno));
  }
  return CXoError::Success();
}
