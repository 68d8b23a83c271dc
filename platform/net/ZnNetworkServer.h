// A small session server on this machine's loopback interface: the network
// service a process runs so that other processes can hand it messages (the
// DR job's job-wait service, "DRSrvc|<job id>", receives child-job
// completion notices on one).
//
// Life of a server:
//   1. The constructor listens on 127.0.0.1 (the port of the CSessionPort, 0
//      for any free one) and publishes the service entry (net/
//      ServiceDirectory.h). From then on a client can attach: its connection
//      and hello wait in the socket's backlog until the loop runs, so a
//      notice sent right after the server was made is not lost.
//      IsListening() is false when either step failed (logged); such a
//      server serves nothing and SelectData returns an error.
//   2. SelectData runs the receive loop on the calling thread until Quit.
//      It accepts connections, checks each hello (service name, compared
//      without regard to case, and the entry's nonce: a client holding
//      another server's entry is refused), reads frames and queues a callback
//      per frame. Callbacks run on worker threads, as many as the setting
//      "Session"/"DROrchestration_IOCPThreads" says (at least 1, at most 64),
//      started by SelectData and joined before it returns.
//   3. Quit stops the loop and removes the entry; the destructor quits when
//      nobody did.
//
// Callbacks (either may be null; what it would have received is then
// refused or dropped). Per session they run one at a time, in the order the
// frames arrived; different sessions run in parallel.
//
//   callback kind                 type / message              session  buffer
//   xdr      ZNS_CB_CONNECTION    ZNS_PM_READY_FOR_RPC        0        null    once, when SelectData starts
//   xdr      ZNS_CB_CONNECTION    ZNS_PM_NEW_CONNECTION       id       null    a hello was accepted
//   xml      ZNS_CB_MESSAGE       the message (its TypeId())  id       -       an XML message
//   xdr      ZNS_CB_MESSAGE       the client's type           id       bytes   an XDR message
//   xdr      ZNS_CB_MESSAGE       ZNS_PM_DISCONNECT_REQ       id       null    the client asks to disconnect
//   xdr      ZNS_CB_CLOSED        see below                   id       null    the session ended; always its last
//
// The closed notice's type says how the session ended: ZNS_PM_DISCONNECTED
// after a disconnect reply, ZNS_PM_CONNECTION_DROPPED when the client went
// away without one, ZNS_PM_CONNECTION_ABORTED when the server dropped it (a
// malformed, oversized or truncated frame, a read error). Sessions that a
// Quit ends get no closed notice: no callback starts after Quit.
// ZNS_PM_READY (1) is never sent by this server; callbacks may know it.
//
// Receipts and replies. The client's receipt for a message is sent when its
// callback has returned (status 0), or at once with kZnsErrNotDelivered when
// the XML does not parse, there is no callback for it, or the XDR type is one
// of the server's own. A disconnect request that its callback did not answer
// with ReplyDisconnect is answered by the server when the callback returns.
//
// Ownership. The server owns every CNMessageBase it hands to the XML
// callback and deletes it when the callback returns (CleanXmlBuffer empties
// it earlier). The XDR callback owns the znsDatabuf_v2 it is given and
// deletes it (CleanXdrBuffer releases its bytes first); notices carry none.
//
// Sessions. AcquireSession gives the session's handle and counts; each
// acquire needs one ReleaseSession. A session is acquirable from its
// new-connection notice until its closed notice's callback has returned; the
// handle stays valid while acquired, even after that.
//
// Threads and stopping. Worker threads and the loop thread can be asked to
// stop (CStopState): Quit asks the workers, so a callback blocked in a
// platform wait (ZnEvent::wait, XOSLEEP) returns early; a stop request to the
// thread running SelectData quits the server (Quit(false, true)). No thread
// is killed. The idle callback runs on SelectData's thread, between reads:
// keep it short, nothing is read while it runs.
//
// Limits: at most 256 sessions (a connection over them is closed at once) and
// kMaxPendingHellos connections awaiting their hello; a hello must come within
// 5 s (real time) of the accept; a session with 16 frames awaiting their
// callbacks is not read until its callbacks catch up; frames are at most
// kZnsMaxFrameBytes (net/ZnsFrame.h).
//
// A flood of connections that never say hello. A new connection is read at
// once, so a client whose hello came with its connect (as Attach_RemoteService
// sends it) becomes a session without waiting for a place. One that has said
// nothing yet takes a place among the pending connections; when they are
// full, the oldest gives way if it has waited kHelloChanceMs (real time) and
// otherwise the oldest of the newest kNewestPendingTakeTurns does, so the
// older ones keep their full chance and a newcomer still has a moment to be
// read. One accept pass takes at most 64 connections, so the sessions are
// still read under a flood faster than the loop. Connections closed without a
// hello (given way, timed out, over the sessions, reset by the client) are
// logged as one error line with their counts at most every
// kUnheardReportSeconds (real time), never one line each. Those that send
// something other than a valid hello, or are refused, get a line each naming
// the fault, at most kFaultLinesPerReport in such a span; the rest are
// counted in the report.
//
// Thread safety: every public member may be called from any thread, the
// callbacks included, except the destructor (never from a callback). Quit
// with waitForLoop waits for the callbacks: never call it holding a lock a
// callback or the idle callback may take. A derived class quits the server
// in its own destructor (or before it is deleted), since callbacks may reach
// the derived part until Quit returns.
#pragma once

#include <stdint.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "core/Mutex.h"
#include "net/Databuf.h"
#include "net/SessionPort.h"
#include "net/XoError.h"
#include "net/ZnNetwork.h"

class CNMessageBase;
class CZnNetworkServer;
class CZnsConnection;
struct SZnsFrame;

enum EZnsCallbackKind {
  ZNS_CB_CONNECTION = 1,  // connection-level notice: no session to acquire
  ZNS_CB_CLOSED = 2,      // a session ended
  ZNS_CB_MESSAGE = 3,     // a message (XML or XDR) of a session
};

// Notice and message type codes the callbacks see.
constexpr unsigned long ZNS_PM_READY = 1;  // never sent here
constexpr unsigned long ZNS_PM_NEW_CONNECTION = 2;
constexpr unsigned long ZNS_PM_DISCONNECTED = 5;
constexpr unsigned long ZNS_PM_READY_FOR_RPC = 0x9000101;
constexpr unsigned long ZNS_PM_DISCONNECT_REQ = 0x9000102;
constexpr unsigned long ZNS_PM_CONNECTION_DROPPED = 0x9000103;
constexpr unsigned long ZNS_PM_CONNECTION_ABORTED = 0x900030c;
// True for the codes above: a client cannot send an XDR message of them.
bool ZnsIsReservedType(unsigned long type);

using ZnsXmlCallback = void (*)(int kind, CZnNetworkServer* server, int64_t sessionId, CNMessageBase* message);
using ZnsXdrCallback = void (*)(int kind, CZnNetworkServer* server, int64_t sessionId, unsigned long type,
                                znsDatabuf_v2* buffer);
using ZnsIdleCallback = void (*)(void* arg);

class CZnNetworkServer {
 public:
  // Connections accepted that have not said hello yet, at most.
  static constexpr int kMaxPendingHellos = 64;
  // How long (real time) such a connection keeps its place against newer ones.
  static constexpr int kHelloChanceMs = 1000;
  // How many of the newest such connections give way to each other while
  // every older one is still within its chance.
  static constexpr int kNewestPendingTakeTurns = 16;
  // Connections closed without a hello are reported at most this often.
  static constexpr int kUnheardReportSeconds = 5;
  // Connections that send something other than a valid hello, or are
  // refused, get a line each naming the fault, this many in such a span;
  // the rest are counted in the report.
  static constexpr int kFaultLinesPerReport = 8;

  CZnNetworkServer(ZnsXdrCallback xdr, ZnsXmlCallback xml, const std::string& serviceName, const CSessionPort& port);
  // Quit(true, true) unless the server has quit; then closes what is left.
  virtual ~CZnNetworkServer();
  CZnNetworkServer(const CZnNetworkServer&) = delete;
  CZnNetworkServer& operator=(const CZnNetworkServer&) = delete;

  bool IsListening() const { return m_listening; }
  const std::string& ServiceName() const { return m_name; }
  // The port listened on (0 when not listening).
  int Port() const { return m_boundPort; }

  // Kept for callers that set it. Ports are never saved here: every server
  // binds the port its CSessionPort asks for (0: a fresh one) and its entry
  // lives only while it serves, whatever the flag says.
  void SetSaveRegisteredPorts(bool save);
  bool SaveRegisteredPorts() const;

  // The idle callback runs on SelectData's thread at least every interval
  // (requested seconds, scaled: 5 s are 5 ms at 1/1000, but never less than
  // 5 ms of real time, however small the scale), whether data flows or not;
  // the first call comes one interval after the loop starts or the callback
  // is set. An interval of 0 or less, or a null callback, turns it
  // off. May be called before or while the loop runs.
  void SetIdleAcceptCallback(ZnsIdleCallback callback, int intervalSeconds, void* arg);

  // The receive loop, on the calling thread. a and b are kept for callers
  // and mean nothing here; pollSeconds (scaled, 0 or less: 1, and never less
  // than 5 ms of real time) bounds how long one wait for data lasts. Returns Success once the server has quit
  // (at once when it quit before), kZnsErrState when the server does not
  // listen or the loop runs already, kZnsErrSystem when waiting for data
  // fails; a loop that fails ends the server as Quit does.
  CXoError SelectData(int a, int b, int pollSeconds);

  // Stops serving: removes the service entry at once, no callback starts any
  // more, queued ones are dropped (their messages and buffers freed), the
  // workers are asked to stop, and the loop ends once the callbacks in
  // flight have returned. closeSessions shuts the sessions' connections down
  // (clients see the end at once); otherwise they stay open, unserved, until
  // the server is destroyed. With waitForLoop the call returns only after
  // SelectData and every callback in flight have ended, however long that
  // takes. From inside a callback (or the idle callback) it cannot wait for
  // itself: it asks for all of the above and returns at once; the loop ends
  // after that callback returns. Calling it again changes nothing.
  void Quit(bool waitForLoop, bool closeSessions);

  // The session's handle, counted. kZnsErrNoSession for an unknown session
  // or one whose closed notice has been handled; kZnsErrInvalid for a null
  // out-pointer.
  CXoError AcquireSession(int64_t sessionId, CZnNetwork** connection);
  // One release per acquire. A release without an acquire is
  // kZnsErrNotAcquired and changes nothing.
  CXoError ReleaseSession(int64_t sessionId);
  // Acquires the session holds now (for tests and diagnostics); -1 when
  // there is no such session.
  int AcquireCount(int64_t sessionId) const;
  // How often the receive loop has come back from waiting for data, so a
  // test can tell a loop that waits from one that spins.
  uint64_t LoopWakeups() const { return m_loopWakeups.load(std::memory_order_relaxed); }

  // Sends the disconnect reply on a session of this server and ends the
  // connection for writing (the client closes it, then the closed notice
  // comes with ZNS_PM_DISCONNECTED). A session answered already gets nothing
  // more and Success. Waits at most timeoutSeconds (scaled) for the socket.
  CXoError ReplyDisconnect(CZnNetwork* connection, int timeoutSeconds);

  // Empties the message; the server still deletes it after the callback.
  void CleanXmlBuffer(CNMessageBase* message);
  // Releases the buffer's bytes; the callback still deletes the buffer.
  void CleanXdrBuffer(unsigned long type, znsDatabuf_v2* buffer);

 private:
  enum class EState { kListening, kRunning, kQuitting, kQuit };
  // One callback to make.
  struct SEvent {
    enum class EKind { kReady, kNewConnection, kXml, kXdr, kDisconnectRequest, kClosed };
    EKind kind = EKind::kReady;
    uint32_t seq = 0;
    unsigned long type = 0;  // xdr: the client's type; closed: how it ended
    std::string body;
  };
  // What workers and callers share of one session (under m_mutex, reached
  // only through m_sessions).
  struct SSession {
    std::shared_ptr<CZnsConnection> conn;
    std::unique_ptr<CZnNetwork> handle;  // what AcquireSession gives out
    std::deque<SEvent> events;           // not yet given to a callback
    bool busy = false;                   // one of its callbacks runs
    bool queued = false;                 // in m_ready
    bool replied = false;                // the disconnect reply went out
    bool retired = false;                // its closed notice was handled
    int acquires = 0;
  };
  struct SWorker;
  struct SLoop;

  void WorkerMain(SWorker* self);
  // Runs one callback item outside the lock.
  void RunServerEvent(const SEvent& event);
  void RunSessionEvent(int64_t sessionId, SEvent& event, const std::shared_ptr<CZnsConnection>& conn);
  void SendReceipt(const std::shared_ptr<CZnsConnection>& conn, uint32_t seq, int32_t status);
  CXoError ReplyDisconnectSession(int64_t sessionId, int timeoutSeconds);
  // Queues an event for a session and schedules the session.
  void PushEventLocked(int64_t sessionId, SEvent event) DR_REQUIRES(m_mutex);
  void EraseIfDoneLocked(int64_t sessionId) DR_REQUIRES(m_mutex);

  // The loop's steps (SelectData's thread only).
  bool LoopStep(SLoop& loop, int pollSeconds, CXoError& failure);
  void RebuildPollSetLocked(SLoop& loop) DR_REQUIRES(m_mutex);
  void AcceptAll(SLoop& loop, int listenFd);
  void MakeRoomForNewest(SLoop& loop);
  void ReadConnection(SLoop& loop, int fd);
  void OnHello(SLoop& loop, int fd, const SZnsFrame& hello);
  // Logs why, then closes the connection (a session's closed notice has the
  // type).
  void DropConnection(SLoop& loop, int fd, unsigned long type, const std::string& why);
  void CloseConnection(SLoop& loop, int fd, unsigned long type);
  // Closes a connection that has not said hello; counted, not logged.
  void CloseUnheard(SLoop& loop, int fd, int why);
  void CountUnheard(SLoop& loop, int why);
  void ReportUnheard(SLoop& loop);
  void RunIdle(SLoop& loop);
  void EndLoop(SLoop& loop);

  void Wake();
  void RemoveEntry();
  bool InCallbackOfThis() const;

  const ZnsXdrCallback m_xdr;
  const ZnsXmlCallback m_xml;
  const std::string m_name;
  const CSessionPort m_port;
  const std::string m_nonce;
  // Set by the constructor, then only read.
  bool m_listening = false;
  int m_boundPort = 0;
  int m_wakeRead = -1;
  int m_wakeWrite = -1;
  std::atomic<uint64_t> m_loopWakeups{0};

  mutable CMutex m_mutex;
  std::condition_variable m_workCv;   // work queued, or the loop ends (workers)
  std::condition_variable m_stateCv;  // m_state changed (Quit's waiters)
  EState m_state DR_GUARDED_BY(m_mutex);
  int m_listenFd DR_GUARDED_BY(m_mutex) = -1;
  bool m_closeSessions DR_GUARDED_BY(m_mutex) = true;
  bool m_entryRemoved DR_GUARDED_BY(m_mutex) = false;
  bool m_saveRegisteredPorts DR_GUARDED_BY(m_mutex) = false;
  ZnsIdleCallback m_idle DR_GUARDED_BY(m_mutex) = nullptr;
  int m_idleSeconds DR_GUARDED_BY(m_mutex) = 0;
  void* m_idleArg DR_GUARDED_BY(m_mutex) = nullptr;
  uint64_t m_idleGeneration DR_GUARDED_BY(m_mutex) = 0;  // counts SetIdleAcceptCallback calls
  std::map<int64_t, SSession> m_sessions DR_GUARDED_BY(m_mutex);
  std::deque<int64_t> m_ready DR_GUARDED_BY(m_mutex);        // sessions with events and no callback running
  std::deque<SEvent> m_serverEvents DR_GUARDED_BY(m_mutex);  // notices of no session
  int64_t m_nextSessionId DR_GUARDED_BY(m_mutex) = 1;
  std::vector<std::unique_ptr<SWorker>> m_workers DR_GUARDED_BY(m_mutex);
  // Connections of sessions left open by Quit(_, false), closed with the server.
  std::vector<std::shared_ptr<CZnsConnection>> m_lingering DR_GUARDED_BY(m_mutex);
};
