#include "net/ZnNetworkServer.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <string.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <iterator>
#include <system_error>

#include "log/LogSink.h"
#include "msg/NMessageBase.h"
#include "net/ServiceDirectory.h"
#include "net/ZnsFrame.h"
#include "net/ZnsSocket.h"
#include "settings/ZNPlatformInfo.h"
#include "core/StopState.h"
#include "time/PlatformClock.h"

namespace {

using SteadyClock = CPlatformClock::SteadyClock;

constexpr int kMaxSessions = 256;
constexpr size_t kMaxPending = CZnNetworkServer::kMaxPendingHellos;
constexpr size_t kMaxQueuedEvents = 16;
constexpr unsigned long kMaxWorkers = 64;
// A connection says hello at once or not at all; one that has not within
// this (real time: it is about the peer and the machine, not the code) is
// closed, so idle connections cannot hold the pending slots.
constexpr std::chrono::seconds kHelloLimit(5);
// How long a connection awaiting its hello keeps its place against newer
// ones (real time, like the limit above). A client sends its hello in the
// same breath as its connect, so one that has said nothing within a second,
// even on a loaded machine, is almost surely one of a flood; and at a fifth
// of the limit the places still turn over under a sustained flood, giving
// dozens of fresh connections a second their full chance rather than 64
// every 5 s.
constexpr std::chrono::milliseconds kHelloChance(CZnNetworkServer::kHelloChanceMs);
static_assert(kHelloChance < kHelloLimit, "a connection gives way before it is timed out");
// While every pending connection is within its chance, the newest of them
// give way to each other: the older ones keep their whole chance, and a
// newcomer the loop accepted between its connect and its hello is still read
// while this many newer ones come: a prompt client's hello follows its
// connect within microseconds, and even a fast flood takes longer than that
// to make 15 connections.
constexpr size_t kNewestTakeTurns = CZnNetworkServer::kNewestPendingTakeTurns;
static_assert(kNewestTakeTurns > 0 && kNewestTakeTurns < kMaxPending, "some places keep their chance");
// Connections a flood makes are counted and reported at most this often
// (real time: it is about the log's size, not the code's pace).
constexpr std::chrono::seconds kUnheardReportEvery(CZnNetworkServer::kUnheardReportSeconds);
// One pass accepts at most this many connections, so a flood faster than the
// loop cannot keep it from reading its sessions, timing hellos out or running
// the idle callback; the rest wait in the backlog for the next pass.
constexpr int kAcceptsPerPass = 64;
// How long the loop leaves the listening socket alone when accept runs out
// of descriptors or memory (real time: it is about the machine, not the code).
constexpr std::chrono::milliseconds kAcceptPause(100);
// A loop thread that can be asked to stop looks at its request this often.
constexpr std::chrono::milliseconds kStopSlice(20);
// The loop's scaled intervals (its wait for data, the idle call) never come
// round faster than this in real time. Far below the tests' 1/1000 they
// shrink to microseconds and the loop would spin; 5 ms is the job-wait
// service's 5 s at 1/1000, so nothing changes at that scale or slower, and
// the idle callback, which looks for a DR quit, still runs 200 times a real
// second. Nothing that must be prompt waits for it: Quit, a new idle callback
// and a session whose callbacks caught up write to the wake pipe, and
// connections and data wake the poll themselves.
constexpr std::chrono::milliseconds kMinLoopWait(5);
// Receipts and automatic disconnect replies wait this long (requested
// seconds) for a socket that does not take them.
constexpr int kReplyTimeoutSeconds = 30;
constexpr size_t kReadChunk = 64 * 1024;

// The server whose callback the calling thread runs (workers for their whole
// life, SelectData's thread while it runs the idle callback).
thread_local const CZnNetworkServer* t_callbackServer = nullptr;

class CCallbackScope {
 public:
  explicit CCallbackScope(const CZnNetworkServer* server) : m_previous(t_callbackServer) { t_callbackServer = server; }
  ~CCallbackScope() { t_callbackServer = m_previous; }

 private:
  const CZnNetworkServer* m_previous;
};

// Why a connection was closed before its hello (the report's counts).
enum EUnheard {
  kUnheardLate,       // no hello within kHelloLimit
  kUnheardGaveWay,    // waited kHelloChance, then gave way to a newer one
  kUnheardTookTurns,  // one of the newest, gave way to a newer one sooner
  kUnheardNoSession,  // every session taken: closed when accepted
  kUnheardReset,      // reset by the client (a flood's other way to end them)
  kUnheardFault,      // sent no valid hello, or was refused, past the lines naming such faults
  kUnheardKinds
};

const char* TypeName(unsigned long type) {
  switch (type) {
    case ZNS_PM_DISCONNECTED: return "disconnected";
    case ZNS_PM_CONNECTION_DROPPED: return "dropped";
    case ZNS_PM_CONNECTION_ABORTED: return "aborted";
    default: return "?";
  }
}

}  // namespace

bool ZnsIsReservedType(unsigned long type) {
  switch (type) {
    case ZNS_PM_READY:
    case ZNS_PM_NEW_CONNECTION:
    case ZNS_PM_DISCONNECTED:
    case ZNS_PM_READY_FOR_RPC:
    case ZNS_PM_DISCONNECT_REQ:
    case ZNS_PM_CONNECTION_DROPPED:
    case ZNS_PM_CONNECTION_ABORTED: return true;
    default: return false;
  }
}

struct CZnNetworkServer::SWorker {
  std::thread thread;
  CStopState stop;
};

namespace {

// One accepted connection as the loop sees it.
struct SLoopConn {
  std::shared_ptr<CZnsConnection> conn;
  CZnsFrameReader reader;
  int64_t session = 0;  // 0 until its hello is accepted
  SteadyClock::time_point acceptedAt;
  SteadyClock::time_point helloDeadline;
  bool disconnectRequested = false;
};

SteadyClock::duration LoopInterval(int seconds) {
  return std::max<SteadyClock::duration>(CPlatformClock::Instance().ToReal(static_cast<uint64_t>(seconds) * 1000u),
                                         kMinLoopWait);
}

}  // namespace

// SelectData's own state: touched by its thread only.
struct CZnNetworkServer::SLoop {
  std::map<int, SLoopConn> conns;  // by descriptor
  std::deque<int> pending;         // connections awaiting their hello, oldest first
  int sessions = 0;
  // Connections closed before their hello since the last report, by
  // EUnheard; the first after a quiet interval is reported at once.
  uint64_t unheard[kUnheardKinds] = {};
  uint64_t unheardTotal = 0;
  SteadyClock::time_point nextUnheardReport = SteadyClock::time_point::min();
  // Lines naming what a connection sent instead of a valid hello: a
  // misconfigured client is worth each one, a flood of garbage is not.
  int faultLines = 0;
  SteadyClock::time_point faultLinesUntil = SteadyClock::time_point::min();
  bool acceptPaused = false;
  SteadyClock::time_point acceptPausedUntil;
  uint64_t idleGeneration = 0;
  SteadyClock::time_point nextIdle = SteadyClock::time_point::max();
  // What poll watches: the wake pipe, the listening socket (-1 while accepting
  // pauses), then the connections in the order of conns (-1 while their
  // callbacks lag). Kept between wake-ups: building it takes the lock and
  // looks at every session, which an idle loop would do for nothing.
  std::vector<pollfd> fds;
  bool fdsStale = true;  // conns, a pause or the accept pause changed since it was built
  int pausedReads = 0;
  SteadyClock::time_point firstHelloDeadline = SteadyClock::time_point::max();
};

CZnNetworkServer::CZnNetworkServer(ZnsXdrCallback xdr, ZnsXmlCallback xml, const std::string& serviceName,
                                   const CSessionPort& port)
    : m_xdr(xdr),
      m_xml(xml),
      m_name(serviceName),
      m_port(port),
      m_nonce(CZnsServiceDirectory::NewNonce()),
      m_state(EState::kQuit) {
  std::string why;
  int fd = -1;
  int wake[2] = {-1, -1};
  sockaddr_in addr{};
  socklen_t len = sizeof(addr);
  SZnsServiceEntry entry;
  if (m_name.empty() || m_name.size() > kZnsMaxServiceNameBytes) {
    why = "a service name has 1 to " + std::to_string(kZnsMaxServiceNameBytes) + " bytes";
  } else if (port.GetPort() < 0 || port.GetPort() > 65535) {
    why = "port " + std::to_string(port.GetPort()) + " does not exist";
  } else if ((fd = ZnsLoopbackSocket()) < 0) {
    why = std::string("cannot make a socket: ") + strerror(errno);
  } else {
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<uint16_t>(port.GetPort()));
    if (bind(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof(addr)) != 0 || listen(fd, SOMAXCONN) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
      why = std::string("cannot listen on 127.0.0.1: ") + strerror(errno);
    } else if (pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0) {
      why = std::string("cannot make the wake pipe: ") + strerror(errno);
    } else {
      entry.port = ntohs(addr.sin_port);
      entry.pid = getpid();
      entry.nonce = m_nonce;
      entry.type = port.GetType();
      CZnsServiceDirectory::Publish(m_name, entry, why);
    }
  }
  if (!why.empty()) {
    CLogSink::Instance().Write(0, "CZnNetworkServer::CZnNetworkServer", "Cannot serve [%s]: [%s]", m_name.c_str(),
                               why.c_str());
    if (fd >= 0) close(fd);
    if (wake[0] >= 0) close(wake[0]);
    if (wake[1] >= 0) close(wake[1]);
    return;
  }
  m_listenFd = fd;
  m_wakeRead = wake[0];
  m_wakeWrite = wake[1];
  m_boundPort = entry.port;
  m_listening = true;
  m_state = EState::kListening;
  CLogSink::Instance().Write(kZnsTraceLevel, "CZnNetworkServer::CZnNetworkServer", "Listening for [%s] on port [%d]",
                             m_name.c_str(), m_boundPort);
}

CZnNetworkServer::~CZnNetworkServer() {
  Quit(true, true);
  {
    CMutexLock lk(m_mutex);
    for (const auto& s : m_sessions) {
      if (s.second.acquires > 0) {
        CLogSink::Instance().Write(0, "CZnNetworkServer::~CZnNetworkServer",
                                   "Session [%lld] of [%s] still acquired [%d] time(s)",
                                   static_cast<long long>(s.first), m_name.c_str(), s.second.acquires);
      }
    }
    m_sessions.clear();
    m_lingering.clear();
  }
  if (m_wakeRead >= 0) close(m_wakeRead);
  if (m_wakeWrite >= 0) close(m_wakeWrite);
}

void CZnNetworkServer::SetSaveRegisteredPorts(bool save) {
  CMutexLock lk(m_mutex);
  m_saveRegisteredPorts = save;
}

bool CZnNetworkServer::SaveRegisteredPorts() const {
  CMutexLock lk(m_mutex);
  return m_saveRegisteredPorts;
}

void CZnNetworkServer::SetIdleAcceptCallback(ZnsIdleCallback callback, int intervalSeconds, void* arg) {
  {
    CMutexLock lk(m_mutex);
    m_idle = callback;
    m_idleSeconds = intervalSeconds;
    m_idleArg = arg;
    ++m_idleGeneration;
  }
  Wake();
}

bool CZnNetworkServer::InCallbackOfThis() const { return t_callbackServer == this; }

void CZnNetworkServer::Wake() {
  if (m_wakeWrite < 0) return;
  const char byte = 1;
  // A full pipe wakes the loop as well as one more byte would.
  if (write(m_wakeWrite, &byte, 1) < 0 && errno != EAGAIN) {
    CLogSink::Instance().Write(0, "CZnNetworkServer::Wake", "Cannot wake the loop of [%s]: [%s]", m_name.c_str(),
                               strerror(errno));
  }
}

void CZnNetworkServer::RemoveEntry() {
  {
    CMutexLock lk(m_mutex);
    if (m_entryRemoved || !m_listening) return;
    m_entryRemoved = true;
  }
  CZnsServiceDirectory::Remove(m_name, m_nonce);
}

// ---- the loop

CXoError CZnNetworkServer::SelectData(int /*a*/, int /*b*/, int pollSeconds) {
  unsigned long threads = 1;
  ZNPlatformInfo::getNumber("Session", "DROrchestration_IOCPThreads", &threads);
  threads = std::min(std::max(threads, 1ul), kMaxWorkers);
  {
    CMutexLock lk(m_mutex);
    if (!m_listening) return CXoError(kZnsErrState, "[" + m_name + "] does not listen");
    if (m_state == EState::kQuit) return CXoError::Success();
    if (m_state != EState::kListening) return CXoError(kZnsErrState, "the loop of [" + m_name + "] runs already");
    m_state = EState::kRunning;
    for (unsigned long i = 0; i < threads; ++i) {
      auto worker = std::make_unique<SWorker>();
      try {
        worker->thread = std::thread(&CZnNetworkServer::WorkerMain, this, worker.get());
      } catch (const std::system_error& e) {
        CLogSink::Instance().Write(0, "CZnNetworkServer::SelectData", "Cannot start worker [%lu] of [%s]: [%s]", i + 1,
                                   m_name.c_str(), e.what());
        break;
      }
      m_workers.push_back(std::move(worker));
    }
    SEvent ready;
    ready.kind = SEvent::EKind::kReady;
    m_serverEvents.push_back(ready);
    m_workCv.notify_one();
  }
  CLogSink::Instance().Write(kZnsTraceLevel, "CZnNetworkServer::SelectData",
                             "Serving [%s] on port [%d] with [%lu] thread(s)", m_name.c_str(), m_boundPort, threads);
  SLoop loop;
  CXoError failure;
  bool haveWorkers;
  {
    CMutexLock lk(m_mutex);
    haveWorkers = !m_workers.empty();
  }
  if (!haveWorkers) failure = CXoError(kZnsErrSystem, "no worker thread for [" + m_name + "]");
  while (!failure.IsError() && LoopStep(loop, pollSeconds, failure)) {
  }
  if (failure.IsError()) {
    CLogSink::Instance().Write(0, "CZnNetworkServer::SelectData", "Loop of [%s] failed: [%s]", m_name.c_str(),
                               failure.AsString().c_str());
  }
  // Quit's waiters may destroy the server once EndLoop returns.
  EndLoop(loop);
  return failure;
}

bool CZnNetworkServer::LoopStep(SLoop& loop, int pollSeconds, CXoError& failure) {
  auto now = SteadyClock::now();
  auto wakeAt = now + LoopInterval(pollSeconds > 0 ? pollSeconds : 1);
  if (loop.acceptPaused && now >= loop.acceptPausedUntil) {
    loop.acceptPaused = false;
    loop.fdsStale = true;
  }
  {
    CMutexLock lk(m_mutex);
    if (m_state != EState::kRunning) return false;
    if (loop.fdsStale) RebuildPollSetLocked(loop);
    if (m_idleGeneration != loop.idleGeneration) {
      loop.idleGeneration = m_idleGeneration;
      loop.nextIdle = (m_idle && m_idleSeconds > 0) ? now + LoopInterval(m_idleSeconds)
                                                    : SteadyClock::time_point::max();
    }
  }
  wakeAt = std::min({wakeAt, loop.nextIdle, loop.firstHelloDeadline});
  if (loop.unheardTotal) wakeAt = std::min(wakeAt, loop.nextUnheardReport);
  if (loop.acceptPaused) wakeAt = std::min(wakeAt, loop.acceptPausedUntil);
  if (CStopState::Current()) wakeAt = std::min(wakeAt, now + kStopSlice);
  // Rounded up: a wait that ends short of its deadline comes back to a wait
  // of 0 ms and spins until the deadline passes.
  const auto waitMs = std::chrono::ceil<std::chrono::milliseconds>(wakeAt - now).count();
  const int timeout = static_cast<int>(std::min<long long>(std::max<long long>(waitMs, 0), 60000));

  const int n = poll(loop.fds.data(), loop.fds.size(), timeout);
  m_loopWakeups.fetch_add(1, std::memory_order_relaxed);
  if (n < 0 && errno != EINTR) {
    failure = CXoError(kZnsErrSystem, std::string("poll failed: ") + strerror(errno));
    return false;
  }
  if (CStopState::CurrentStopRequested()) {
    CLogSink::Instance().Write(3, "CZnNetworkServer::LoopStep", "Stop requested; [%s] quits", m_name.c_str());
    CMutexLock lk(m_mutex);
    if (m_state == EState::kRunning) {
      m_state = EState::kQuitting;
      m_closeSessions = true;
    }
    return false;
  }
  if (n > 0) {
    if (loop.fds[0].revents) {
      char drain[256];
      while (read(m_wakeRead, drain, sizeof(drain)) > 0) {
      }
      // Perhaps a worker caught up with a session left out of the set.
      if (loop.pausedReads > 0) loop.fdsStale = true;
    }
    for (size_t i = 2; i < loop.fds.size(); ++i) {
      if (loop.fds[i].revents && loop.conns.count(loop.fds[i].fd)) ReadConnection(loop, loop.fds[i].fd);
    }
    // Accept after reading: a new descriptor may take the number of one
    // dropped above.
    if (loop.fds[1].fd >= 0 && loop.fds[1].revents) AcceptAll(loop, loop.fds[1].fd);
  }
  now = SteadyClock::now();
  if (now >= loop.firstHelloDeadline) {
    std::vector<int> late;
    for (const auto& c : loop.conns) {
      if (!c.second.session && now >= c.second.helloDeadline) late.push_back(c.first);
    }
    for (int fd : late) CloseUnheard(loop, fd, kUnheardLate);
  }
  if (loop.unheardTotal && now >= loop.nextUnheardReport) ReportUnheard(loop);
  if (now >= loop.nextIdle) RunIdle(loop);
  return true;
}

void CZnNetworkServer::RebuildPollSetLocked(SLoop& loop) {
  loop.fds.clear();
  loop.fds.push_back(pollfd{m_wakeRead, POLLIN, 0});
  loop.fds.push_back(pollfd{loop.acceptPaused ? -1 : m_listenFd, POLLIN, 0});
  loop.pausedReads = 0;
  loop.firstHelloDeadline = SteadyClock::time_point::max();
  for (const auto& c : loop.conns) {
    auto s = c.second.session ? m_sessions.find(c.second.session) : m_sessions.end();
    // A session whose callbacks lag is not read until they catch up; its
    // worker wakes the loop then.
    const bool paused = s != m_sessions.end() && s->second.events.size() >= kMaxQueuedEvents;
    if (paused) ++loop.pausedReads;
    loop.fds.push_back(pollfd{paused ? -1 : c.first, POLLIN, 0});
    if (!c.second.session) loop.firstHelloDeadline = std::min(loop.firstHelloDeadline, c.second.helloDeadline);
  }
  loop.fdsStale = false;
}

void CZnNetworkServer::AcceptAll(SLoop& loop, int listenFd) {
  for (int accepted = 0; accepted < kAcceptsPerPass; ++accepted) {
    const int fd = accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) {
      if (errno == EINTR || errno == ECONNABORTED) continue;
      if (errno == EAGAIN || errno == EWOULDBLOCK) return;
      CLogSink::Instance().Write(0, "CZnNetworkServer::AcceptAll", "Cannot accept on [%s]: [%s]", m_name.c_str(),
                                 strerror(errno));
      loop.acceptPaused = true;
      loop.acceptPausedUntil = SteadyClock::now() + kAcceptPause;
      loop.fdsStale = true;
      return;
    }
    if (loop.sessions >= kMaxSessions) {
      close(fd);
      CountUnheard(loop, kUnheardNoSession);
      continue;
    }
    SLoopConn& c = loop.conns[fd];
    c.conn = std::make_shared<CZnsConnection>(fd);
    c.reader.SetMaxFrameBytes(kZnsMaxHelloFrameBytes);
    c.acceptedAt = SteadyClock::now();
    c.helloDeadline = c.acceptedAt + kHelloLimit;
    loop.pending.push_back(fd);
    loop.fdsStale = true;
    // While the loop is busy (a flood) a connection waits in the backlog,
    // and a client's hello, sent right after its connect, arrives meanwhile:
    // read it now, and the client is a session before any place is at stake.
    ReadConnection(loop, fd);
    if (loop.pending.size() > kMaxPending) MakeRoomForNewest(loop);
  }
}

void CZnNetworkServer::MakeRoomForNewest(SLoop& loop) {
  const int oldest = loop.pending.front();
  if (SteadyClock::now() - loop.conns.at(oldest).acceptedAt >= kHelloChance) {
    CloseUnheard(loop, oldest, kUnheardGaveWay);
    return;
  }
  // Closing the oldest now would give a flood the power to shut out anyone
  // slower than it, and closing the newest at once would shut out a client
  // accepted a moment before its hello came.
  CloseUnheard(loop, loop.pending[loop.pending.size() - kNewestTakeTurns], kUnheardTookTurns);
}

void CZnNetworkServer::ReadConnection(SLoop& loop, int fd) {
  SLoopConn& c = loop.conns.at(fd);
  char buf[kReadChunk];
  const ssize_t n = recv(fd, buf, sizeof(buf), 0);
  if (n < 0) {
    if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) return;
    if (!c.session && errno == ECONNRESET) {
      CloseUnheard(loop, fd, kUnheardReset);
      return;
    }
    DropConnection(loop, fd, ZNS_PM_CONNECTION_ABORTED, std::string("read failed: ") + strerror(errno));
    return;
  }
  if (n == 0) {
    if (c.reader.Pending()) {
      DropConnection(
          loop, fd, ZNS_PM_CONNECTION_ABORTED,
          "truncated frame: the client closed after " + std::to_string(c.reader.Pending()) + " bytes of one");
    } else {
      DropConnection(loop, fd, ZNS_PM_CONNECTION_DROPPED, "closed by the client");
    }
    return;
  }
  c.reader.Feed(buf, static_cast<size_t>(n));
  SZnsFrame frame;
  while (c.reader.Next(frame)) {
    if (!c.session) {
      if (frame.kind != EZnsFrameKind::Hello) {
        DropConnection(loop, fd, ZNS_PM_CONNECTION_ABORTED,
                       std::string("expected a hello, got a ") + ZnsFrameKindName(frame.kind));
        return;
      }
      OnHello(loop, fd, frame);
      if (!loop.conns.count(fd)) return;
      continue;
    }
    SEvent event;
    event.seq = frame.seq;
    switch (frame.kind) {
      case EZnsFrameKind::Xml: event.kind = SEvent::EKind::kXml; break;
      case EZnsFrameKind::Xdr:
        event.kind = SEvent::EKind::kXdr;
        event.type = static_cast<unsigned long>(frame.type);
        break;
      case EZnsFrameKind::DisconnectRequest: event.kind = SEvent::EKind::kDisconnectRequest; break;
      default:
        DropConnection(loop, fd, ZNS_PM_CONNECTION_ABORTED,
                       std::string("a client does not send a ") + ZnsFrameKindName(frame.kind));
        return;
    }
    if (c.disconnectRequested) {
      DropConnection(loop, fd, ZNS_PM_CONNECTION_ABORTED,
                     std::string("a ") + ZnsFrameKindName(frame.kind) + " after the disconnect request");
      return;
    }
    c.disconnectRequested = frame.kind == EZnsFrameKind::DisconnectRequest;
    event.body = std::move(frame.body);
    CMutexLock lk(m_mutex);
    PushEventLocked(c.session, std::move(event));
    if (m_sessions.at(c.session).events.size() >= kMaxQueuedEvents) loop.fdsStale = true;
  }
  if (c.reader.Failed()) DropConnection(loop, fd, ZNS_PM_CONNECTION_ABORTED, "malformed frame: " + c.reader.Error());
}

void CZnNetworkServer::OnHello(SLoop& loop, int fd, const SZnsFrame& hello) {
  SLoopConn& c = loop.conns.at(fd);
  std::string refusal;
  if (hello.version != kZnsProtocolVersion) {
    refusal = "protocol version " + std::to_string(hello.version);
  } else if (hello.name.size() != m_name.size() || strncasecmp(hello.name.c_str(), m_name.c_str(), m_name.size())) {
    refusal = "hello for [" + hello.name + "]";
  } else if (hello.nonce != m_nonce) {
    refusal = "hello with another server's nonce";
  } else if (loop.sessions >= kMaxSessions) {
    refusal = std::to_string(loop.sessions) + " sessions already";
  }
  SZnsFrame reply;
  reply.kind = EZnsFrameKind::HelloReply;
  bool timedOut = false;
  if (!refusal.empty()) {
    reply.status = kZnsErrRefused;
    c.conn->SendFrame(reply, ZnsDeadlineAfterSeconds(kReplyTimeoutSeconds), timedOut);
    DropConnection(loop, fd, ZNS_PM_CONNECTION_ABORTED, "refused: " + refusal);
    return;
  }
  {
    CMutexLock lk(m_mutex);
    const int64_t id = m_nextSessionId++;
    SSession& s = m_sessions[id];
    s.conn = c.conn;
    s.handle.reset(new CZnNetwork(this, id, c.conn));
    c.session = id;
    SEvent notice;
    notice.kind = SEvent::EKind::kNewConnection;
    PushEventLocked(id, std::move(notice));
  }
  loop.pending.erase(std::find(loop.pending.begin(), loop.pending.end(), fd));
  ++loop.sessions;
  loop.fdsStale = true;  // its hello deadline no longer counts
  c.reader.SetMaxFrameBytes(kZnsMaxFrameBytes);
  reply.session = c.session;
  CXoError sent = c.conn->SendFrame(reply, ZnsDeadlineAfterSeconds(kReplyTimeoutSeconds), timedOut);
  if (sent.IsError()) {
    DropConnection(loop, fd, ZNS_PM_CONNECTION_ABORTED, "cannot answer the hello: " + sent.AsString());
    return;
  }
  CLogSink::Instance().Write(kZnsTraceLevel, "CZnNetworkServer::OnHello", "Session [%lld] of [%s] on connection [%d]",
                             static_cast<long long>(c.session), m_name.c_str(), fd);
}

void CZnNetworkServer::DropConnection(SLoop& loop, int fd, unsigned long type, const std::string& why) {
  auto it = loop.conns.find(fd);
  if (it == loop.conns.end()) return;
  const int level = type == ZNS_PM_CONNECTION_ABORTED ? 0 : kZnsTraceLevel;
  if (level == 0 && !it->second.session) {
    const SteadyClock::time_point now = SteadyClock::now();
    if (now >= loop.faultLinesUntil) {
      loop.faultLines = 0;
      loop.faultLinesUntil = now + kUnheardReportEvery;
    }
    if (loop.faultLines >= kFaultLinesPerReport) {
      CloseUnheard(loop, fd, kUnheardFault);
      return;
    }
    ++loop.faultLines;
  }
  CLogSink::Instance().Write(level, "CZnNetworkServer::DropConnection", "Connection [%d] session [%lld] of [%s]: [%s]",
                             fd, static_cast<long long>(it->second.session), m_name.c_str(), why.c_str());
  CloseConnection(loop, fd, type);
}

void CZnNetworkServer::CloseConnection(SLoop& loop, int fd, unsigned long type) {
  auto it = loop.conns.find(fd);
  if (it == loop.conns.end()) return;
  SLoopConn& c = it->second;
  c.conn->Shutdown(SHUT_RDWR);
  if (c.session) {
    --loop.sessions;
    CMutexLock lk(m_mutex);
    auto s = m_sessions.find(c.session);
    if (s != m_sessions.end()) {
      SEvent closed;
      closed.kind = SEvent::EKind::kClosed;
      closed.type = (type == ZNS_PM_CONNECTION_DROPPED && s->second.replied) ? ZNS_PM_DISCONNECTED : type;
      PushEventLocked(c.session, std::move(closed));
    }
  } else {
    loop.pending.erase(std::find(loop.pending.begin(), loop.pending.end(), fd));
  }
  loop.conns.erase(it);
  loop.fdsStale = true;
}

void CZnNetworkServer::CloseUnheard(SLoop& loop, int fd, int why) {
  CloseConnection(loop, fd, ZNS_PM_CONNECTION_ABORTED);
  CountUnheard(loop, why);
}

void CZnNetworkServer::CountUnheard(SLoop& loop, int why) {
  ++loop.unheard[why];
  ++loop.unheardTotal;
  if (SteadyClock::now() >= loop.nextUnheardReport) ReportUnheard(loop);
}

void CZnNetworkServer::ReportUnheard(SLoop& loop) {
  const auto count = [&loop](int why) { return static_cast<unsigned long long>(loop.unheard[why]); };
  CLogSink::Instance().Write(
      0, "CZnNetworkServer::ReportUnheard",
      "Closed [%llu] connection(s) to [%s] before their hello: [%llu] timed out after [%lld] s, [%llu] gave way "
      "after [%lld] ms, [%llu] gave way sooner among the newest [%zu] of [%zu], [%llu] over [%d] sessions, [%llu] "
      "reset by the client, [%llu] sent no valid hello or were refused past [%d] lines naming the fault; counted "
      "since the last such line, one at most every [%lld] s",
      static_cast<unsigned long long>(loop.unheardTotal), m_name.c_str(), count(kUnheardLate),
      static_cast<long long>(kHelloLimit.count()), count(kUnheardGaveWay), static_cast<long long>(kHelloChance.count()),
      count(kUnheardTookTurns), kNewestTakeTurns, kMaxPending, count(kUnheardNoSession), kMaxSessions,
      count(kUnheardReset), count(kUnheardFault), kFaultLinesPerReport,
      static_cast<long long>(kUnheardReportEvery.count()));
  std::fill(std::begin(loop.unheard), std::end(loop.unheard), 0);
  loop.unheardTotal = 0;
  loop.nextUnheardReport = SteadyClock::now() + kUnheardReportEvery;
}

void CZnNetworkServer::RunIdle(SLoop& loop) {
  ZnsIdleCallback callback;
  void* arg;
  int seconds;
  {
    CMutexLock lk(m_mutex);
    callback = m_idle;
    arg = m_idleArg;
    seconds = m_idleSeconds;
  }
  if (!callback || seconds <= 0) {
    loop.nextIdle = SteadyClock::time_point::max();
    return;
  }
  // The next call is due an interval after this one starts, so a slow
  // callback is called again at once rather than drifting.
  loop.nextIdle = SteadyClock::now() + LoopInterval(seconds);
  CCallbackScope scope(this);
  callback(arg);
}

void CZnNetworkServer::EndLoop(SLoop& loop) {
  std::vector<std::unique_ptr<SWorker>> workers;
  {
    CMutexLock lk(m_mutex);
    if (m_state == EState::kRunning) m_state = EState::kQuitting;
    m_ready.clear();
    m_serverEvents.clear();
    for (auto& s : m_sessions) {
      s.second.events.clear();
      s.second.queued = false;
    }
    for (auto& w : m_workers) w->stop.RequestStop();
    workers.swap(m_workers);
    m_workCv.notify_all();
  }
  for (auto& w : workers) w->thread.join();
  RemoveEntry();
  {
    CMutexLock lk(m_mutex);
    close(m_listenFd);
    m_listenFd = -1;
    for (auto it = m_sessions.begin(); it != m_sessions.end();) {
      SSession& s = it->second;
      s.retired = true;
      if (m_closeSessions) {
        s.conn->Shutdown(SHUT_RDWR);
      } else {
        m_lingering.push_back(s.conn);
      }
      it = s.acquires == 0 ? m_sessions.erase(it) : std::next(it);
    }
  }
  loop.conns.clear();
  loop.pending.clear();
  if (loop.unheardTotal) ReportUnheard(loop);
  CLogSink::Instance().Write(kZnsTraceLevel, "CZnNetworkServer::EndLoop", "[%s] has quit", m_name.c_str());
  CMutexLock lk(m_mutex);
  m_state = EState::kQuit;
  m_stateCv.notify_all();
}

// ---- workers

void CZnNetworkServer::WorkerMain(SWorker* self) {
  CStopState::SetCurrent(&self->stop);
  CCallbackScope scope(this);
  CMutexLock lk(m_mutex);
  for (;;) {
    m_workCv.wait(lk.Native(), [this]() DR_REQUIRES(m_mutex) {
      return m_state != EState::kRunning || !m_serverEvents.empty() || !m_ready.empty();
    });
    if (m_state != EState::kRunning) break;
    if (!m_serverEvents.empty()) {
      SEvent event = std::move(m_serverEvents.front());
      m_serverEvents.pop_front();
      lk.Unlock();
      RunServerEvent(event);
      lk.Lock();
      continue;
    }
    const int64_t id = m_ready.front();
    m_ready.pop_front();
    auto it = m_sessions.find(id);
    if (it == m_sessions.end()) continue;
    SSession& s = it->second;
    s.queued = false;
    if (s.busy || s.events.empty()) continue;
    SEvent event = std::move(s.events.front());
    s.events.pop_front();
    const bool wasPaused = s.events.size() + 1 == kMaxQueuedEvents;
    s.busy = true;
    std::shared_ptr<CZnsConnection> conn = s.conn;
    lk.Unlock();
    if (wasPaused) Wake();
    RunSessionEvent(id, event, conn);
    lk.Lock();
    // The session is still there: only its closed notice retires it, and
    // only after this, and the loop's end waits for the workers.
    SSession& after = m_sessions.at(id);
    after.busy = false;
    if (event.kind == SEvent::EKind::kClosed) {
      after.retired = true;
      after.events.clear();
      EraseIfDoneLocked(id);
    } else if (!after.events.empty() && !after.queued) {
      after.queued = true;
      m_ready.push_back(id);
      m_workCv.notify_one();
    }
  }
  lk.Unlock();
  CStopState::SetCurrent(nullptr);
}

void CZnNetworkServer::PushEventLocked(int64_t sessionId, SEvent event) {
  SSession& s = m_sessions.at(sessionId);
  s.events.push_back(std::move(event));
  if (!s.busy && !s.queued) {
    s.queued = true;
    m_ready.push_back(sessionId);
    m_workCv.notify_one();
  }
}

void CZnNetworkServer::EraseIfDoneLocked(int64_t sessionId) {
  auto it = m_sessions.find(sessionId);
  if (it != m_sessions.end() && it->second.retired && it->second.acquires == 0) m_sessions.erase(it);
}

void CZnNetworkServer::RunServerEvent(const SEvent& event) {
  if (event.kind == SEvent::EKind::kReady && m_xdr) m_xdr(ZNS_CB_CONNECTION, this, 0, ZNS_PM_READY_FOR_RPC, nullptr);
}

void CZnNetworkServer::RunSessionEvent(int64_t id, SEvent& event, const std::shared_ptr<CZnsConnection>& conn) {
  switch (event.kind) {
    case SEvent::EKind::kReady: break;
    case SEvent::EKind::kNewConnection:
      if (m_xdr) m_xdr(ZNS_CB_CONNECTION, this, id, ZNS_PM_NEW_CONNECTION, nullptr);
      break;
    case SEvent::EKind::kXml: {
      std::string error = "no XML callback";
      std::unique_ptr<CNMessageBase> message = m_xml ? CNMessageBase::CreateFromXml(event.body, &error) : nullptr;
      if (!message) {
        CLogSink::Instance().Write(0, "CZnNetworkServer::RunSessionEvent",
                                   "Not delivering XML message [%u] of session [%lld] of [%s]: [%s]", event.seq,
                                   static_cast<long long>(id), m_name.c_str(), error.c_str());
        SendReceipt(conn, event.seq, kZnsErrNotDelivered);
        break;
      }
      m_xml(ZNS_CB_MESSAGE, this, id, message.get());
      message.reset();
      SendReceipt(conn, event.seq, 0);
      break;
    }
    case SEvent::EKind::kXdr: {
      if (!m_xdr || ZnsIsReservedType(event.type)) {
        CLogSink::Instance().Write(0, "CZnNetworkServer::RunSessionEvent",
                                   "Not delivering XDR message [%u] type [%lu] of session [%lld] of [%s]", event.seq,
                                   event.type, static_cast<long long>(id), m_name.c_str());
        SendReceipt(conn, event.seq, kZnsErrNotDelivered);
        break;
      }
      auto* buffer = new znsDatabuf_v2;
      buffer->data.AssignCopy(event.body.data(), event.body.size());
      event.body.clear();
      m_xdr(ZNS_CB_MESSAGE, this, id, event.type, buffer);
      SendReceipt(conn, event.seq, 0);
      break;
    }
    case SEvent::EKind::kDisconnectRequest:
      if (m_xdr) m_xdr(ZNS_CB_MESSAGE, this, id, ZNS_PM_DISCONNECT_REQ, nullptr);
      // Does nothing when the callback replied.
      ReplyDisconnectSession(id, kReplyTimeoutSeconds);
      break;
    case SEvent::EKind::kClosed:
      CLogSink::Instance().Write(kZnsTraceLevel, "CZnNetworkServer::RunSessionEvent",
                                 "Session [%lld] of [%s] ended [%s]", static_cast<long long>(id), m_name.c_str(),
                                 TypeName(event.type));
      if (m_xdr) m_xdr(ZNS_CB_CLOSED, this, id, event.type, nullptr);
      break;
  }
}

void CZnNetworkServer::SendReceipt(const std::shared_ptr<CZnsConnection>& conn, uint32_t seq, int32_t status) {
  SZnsFrame receipt;
  receipt.kind = EZnsFrameKind::Receipt;
  receipt.seq = seq;
  receipt.status = status;
  bool timedOut = false;
  CXoError sent = conn->SendFrame(receipt, ZnsDeadlineAfterSeconds(kReplyTimeoutSeconds), timedOut);
  if (!sent.IsError()) return;
  // A receipt half sent leaves the stream unusable: end it, the loop then
  // reports the session closed.
  CLogSink::Instance().Write(3, "CZnNetworkServer::SendReceipt", "Receipt [%u] of [%s] not sent: [%s]", seq,
                             m_name.c_str(), sent.AsString().c_str());
  conn->Shutdown(SHUT_RDWR);
}

// ---- sessions

CXoError CZnNetworkServer::AcquireSession(int64_t sessionId, CZnNetwork** connection) {
  if (!connection) return CXoError(kZnsErrInvalid, "no place for the session's handle");
  CMutexLock lk(m_mutex);
  auto it = m_sessions.find(sessionId);
  if (it == m_sessions.end() || it->second.retired) {
    return CXoError(kZnsErrNoSession, "no session [" + std::to_string(sessionId) + "] on [" + m_name + "]");
  }
  ++it->second.acquires;
  *connection = it->second.handle.get();
  return CXoError::Success();
}

CXoError CZnNetworkServer::ReleaseSession(int64_t sessionId) {
  CMutexLock lk(m_mutex);
  auto it = m_sessions.find(sessionId);
  if (it == m_sessions.end()) {
    return CXoError(kZnsErrNoSession, "no session [" + std::to_string(sessionId) + "] on [" + m_name + "]");
  }
  if (it->second.acquires == 0) {
    return CXoError(kZnsErrNotAcquired, "session [" + std::to_string(sessionId) + "] is not acquired");
  }
  --it->second.acquires;
  EraseIfDoneLocked(sessionId);
  return CXoError::Success();
}

int CZnNetworkServer::AcquireCount(int64_t sessionId) const {
  CMutexLock lk(m_mutex);
  auto it = m_sessions.find(sessionId);
  return it == m_sessions.end() ? -1 : it->second.acquires;
}

CXoError CZnNetworkServer::ReplyDisconnect(CZnNetwork* connection, int timeoutSeconds) {
  if (!connection || connection->Server() != this) {
    return CXoError(kZnsErrInvalid, "not a session of [" + m_name + "]");
  }
  return ReplyDisconnectSession(connection->SessionId(), timeoutSeconds);
}

CXoError CZnNetworkServer::ReplyDisconnectSession(int64_t sessionId, int timeoutSeconds) {
  std::shared_ptr<CZnsConnection> conn;
  {
    CMutexLock lk(m_mutex);
    auto it = m_sessions.find(sessionId);
    if (it == m_sessions.end()) {
      return CXoError(kZnsErrNoSession, "no session [" + std::to_string(sessionId) + "] on [" + m_name + "]");
    }
    if (it->second.replied) return CXoError::Success();
    it->second.replied = true;
    conn = it->second.conn;
  }
  SZnsFrame reply;
  reply.kind = EZnsFrameKind::DisconnectReply;
  bool timedOut = false;
  CXoError sent = conn->SendFrame(reply, ZnsDeadlineAfterSeconds(timeoutSeconds), timedOut);
  // The client closes on the reply; without it, it sees the end.
  conn->Shutdown(SHUT_WR);
  return sent;
}

void CZnNetworkServer::CleanXmlBuffer(CNMessageBase* message) {
  if (message) message->Clear();
}

void CZnNetworkServer::CleanXdrBuffer(unsigned long /*type*/, znsDatabuf_v2* buffer) {
  if (buffer) buffer->data.Release();
}

// ---- quitting

void CZnNetworkServer::Quit(bool waitForLoop, bool closeSessions) {
  bool endedHere = false;
  {
    CMutexLock lk(m_mutex);
    if (m_state == EState::kListening) {
      // No loop ever ran: nothing to wait for.
      m_state = EState::kQuit;
      close(m_listenFd);
      m_listenFd = -1;
      endedHere = true;
    } else if (m_state == EState::kRunning) {
      m_state = EState::kQuitting;
      m_closeSessions = closeSessions;
      for (auto& w : m_workers) w->stop.RequestStop();
      m_workCv.notify_all();
    }
  }
  RemoveEntry();
  Wake();
  if (endedHere) {
    CLogSink::Instance().Write(kZnsTraceLevel, "CZnNetworkServer::Quit", "[%s] has quit", m_name.c_str());
    return;
  }
  if (!waitForLoop || InCallbackOfThis()) return;
  CMutexLock lk(m_mutex);
  m_stateCv.wait(lk.Native(), [this]() DR_REQUIRES(m_mutex) { return m_state == EState::kQuit; });
}
