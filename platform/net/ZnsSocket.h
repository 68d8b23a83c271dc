// Socket plumbing shared by the session server and its clients (internal to
// net/): loopback sockets that never block a thread past its deadline, and
// one connected socket with the frame writes on it serialised.
//
// Every wait here polls in slices of at most 20 ms on a thread that can be
// asked to stop (CStopState), so a stop request ends it within a slice.
// Deadlines are real time points from CPlatformClock::DeadlineFor, so the
// durations the code asks for are scaled like every other wait.
#pragma once

#include <stdint.h>

#include <memory>
#include <string>

#include "core/Mutex.h"
#include "net/XoError.h"
#include "net/ZnsFrame.h"
#include "time/PlatformClock.h"

using ZnsDeadline = CPlatformClock::SteadyClock::time_point;

// Log level of routine events (listening, sessions opening and closing,
// quitting): above the default level (10), since their ports, session ids
// and order between threads differ from run to run and would make a DR job's
// log differ with them. Faults are errors (level 0).
constexpr int kZnsTraceLevel = 12;

// The deadline of a call given in whole seconds; 0 or less takes
// kZnsDefaultTimeoutSeconds.
constexpr int kZnsDefaultTimeoutSeconds = 30;
ZnsDeadline ZnsDeadlineAfterSeconds(int seconds);

enum class EZnsWait { Ready, Timeout, Stopped, Failed };
// Waits until fd has one of the events (POLLIN, POLLOUT), the deadline passes
// or the calling thread is asked to stop. Errors and hang-ups count as Ready:
// the read or write that follows reports them.
EZnsWait ZnsWaitFd(int fd, short events, ZnsDeadline deadline);

// Turns a wait's outcome into an error (Ready gives success).
CXoError ZnsWaitError(EZnsWait wait, const char* what, bool& timedOut);

// A non-blocking loopback stream socket (SOCK_CLOEXEC); -1 with errno.
int ZnsLoopbackSocket();

// One connected socket. The descriptor is closed with the object, so
// whoever still holds it can write without racing a close; Shutdown ends the
// connection for every holder at once. Thread safety: SendFrame and
// Shutdown from any thread; frames are written whole, one at a time.
class CZnsConnection {
 public:
  explicit CZnsConnection(int fd) : m_fd(fd) {}
  ~CZnsConnection();
  CZnsConnection(const CZnsConnection&) = delete;
  CZnsConnection& operator=(const CZnsConnection&) = delete;

  int Fd() const { return m_fd; }
  // Writes the frame before the deadline (MSG_NOSIGNAL: a closed peer is an
  // error, never a signal). A frame cut short by the deadline leaves the
  // stream unusable; the caller then ends the connection.
  CXoError SendFrame(const SZnsFrame& frame, ZnsDeadline deadline, bool& timedOut);
  // shutdown(2) with how (SHUT_WR, SHUT_RDWR); later writes fail.
  void Shutdown(int how);

 private:
  const int m_fd;
  // Serialises whole frames on the socket; it guards the stream's framing,
  // not a member.
  CMutex m_writeMutex;
};
