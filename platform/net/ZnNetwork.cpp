#include "net/ZnNetwork.h"

#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include "log/LogSink.h"
#include "msg/NMessageBase.h"
#include "net/ServiceDirectory.h"
#include "net/ZnNetworkServer.h"
#include "net/ZnsSocket.h"

namespace {

// Bytes read from the socket at a time.
constexpr size_t kReadChunk = 64 * 1024;

CXoError NotAttached() { return CXoError(kZnsErrState, "not attached to a service"); }

CXoError ServerSide() {
  return CXoError(kZnsErrState, "the server side of a session sends through its server (ReplyDisconnect)");
}

}  // namespace

struct CZnNetwork::SImpl {
  CZnNetworkServer* server = nullptr;
  int64_t sessionId = 0;
  std::shared_ptr<CZnsConnection> conn;
  CZnsFrameReader reader;
  uint32_t nextSeq = 1;
  std::string service;

  void Close() {
    conn.reset();
    reader = CZnsFrameReader();
    sessionId = 0;
  }

  // The next frame from the server, before the deadline.
  CXoError Read(ZnsDeadline deadline, SZnsFrame& frame, bool& timedOut) {
    char buf[kReadChunk];
    while (!reader.Next(frame)) {
      if (reader.Failed()) return CXoError(kZnsErrProtocol, "malformed reply from the server: " + reader.Error());
      CXoError waited = ZnsWaitError(ZnsWaitFd(conn->Fd(), POLLIN, deadline), "waiting for the server", timedOut);
      if (waited.IsError()) return waited;
      const ssize_t n = recv(conn->Fd(), buf, sizeof(buf), 0);
      if (n == 0) {
        return CXoError(kZnsErrClosed, reader.Pending() ? "the server closed the connection within a frame"
                                                        : "the server closed the connection");
      }
      if (n < 0) {
        if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) continue;
        return CXoError(errno == ECONNRESET ? kZnsErrClosed : kZnsErrSystem,
                        std::string("cannot read from the server: ") + strerror(errno));
      }
      reader.Feed(buf, static_cast<size_t>(n));
    }
    return CXoError::Success();
  }

  // Sends the request and reads the answer of kind want.
  CXoError Exchange(const SZnsFrame& request, EZnsFrameKind want, ZnsDeadline deadline, SZnsFrame& reply,
                    bool& timedOut) {
    CXoError result = conn->SendFrame(request, deadline, timedOut);
    if (!result.IsError()) result = Read(deadline, reply, timedOut);
    if (!result.IsError() && reply.kind != want) {
      result = reply.kind == EZnsFrameKind::DisconnectReply
                   ? CXoError(kZnsErrClosed, "the server ended the session")
                   : CXoError(kZnsErrProtocol,
                              std::string("unexpected ") + ZnsFrameKindName(reply.kind) + " from the server");
    }
    // Only a message too large to encode leaves nothing sent: every other
    // failure leaves the stream in doubt.
    if (result.IsError() && result.Code() != kZnsErrInvalid) Close();
    return result;
  }

  // One message and its receipt.
  CXoError Deliver(SZnsFrame& frame, int timeoutSeconds, bool& timedOut) {
    if (server) return ServerSide();
    if (!conn) return NotAttached();
    frame.seq = nextSeq++;
    SZnsFrame receipt;
    CXoError result =
        Exchange(frame, EZnsFrameKind::Receipt, ZnsDeadlineAfterSeconds(timeoutSeconds), receipt, timedOut);
    if (result.IsError()) return result;
    if (receipt.seq != frame.seq) {
      Close();
      return CXoError(kZnsErrProtocol,
                      "receipt " + std::to_string(receipt.seq) + " for message " + std::to_string(frame.seq));
    }
    if (receipt.status < 0) {
      return CXoError(kZnsErrNotDelivered,
                      "the server did not deliver the message (status " + std::to_string(receipt.status) + ")");
    }
    return CXoError::Success();
  }
};

CZnNetwork::CZnNetwork() : m_impl(new SImpl) {}

CZnNetwork::CZnNetwork(CZnNetworkServer* server, int64_t sessionId, std::shared_ptr<CZnsConnection> connection)
    : m_impl(new SImpl) {
  m_impl->server = server;
  m_impl->sessionId = sessionId;
  m_impl->conn = std::move(connection);
}

CZnNetwork::~CZnNetwork() = default;

CZnNetworkServer* CZnNetwork::Server() const { return m_impl->server; }

bool CZnNetwork::IsAttached() const { return m_impl->conn != nullptr; }

int64_t CZnNetwork::SessionId() const { return m_impl->sessionId; }

CXoError CZnNetwork::Attach_RemoteService(const std::string& host, const std::string& service,
                                          const std::string& machine, int timeoutSeconds, bool& timedOut) {
  SImpl& d = *m_impl;
  if (d.server) return ServerSide();
  if (d.conn) return CXoError(kZnsErrState, "attached already to [" + d.service + "]");
  const ZnsDeadline deadline = ZnsDeadlineAfterSeconds(timeoutSeconds);
  CLogSink::Instance().Write(kZnsTraceLevel, "CZnNetwork::Attach_RemoteService",
                             "Attaching to [%s] on host [%s] machine [%s]", service.c_str(), host.c_str(),
                             machine.c_str());

  SZnsServiceEntry entry;
  std::string why;
  switch (CZnsServiceDirectory::Lookup(service, entry, why)) {
    case EStoreResult::kOk: break;
    case EStoreResult::kMissing: return CXoError(kZnsErrNoService, "no service entry for [" + service + "]");
    case EStoreResult::kFailed:
      return CXoError(kZnsErrNoService, "cannot read the service entry for [" + service + "]: " + why);
  }
  if (kill(static_cast<pid_t>(entry.pid), 0) != 0 && errno == ESRCH) {
    return CXoError(kZnsErrNoService,
                    "stale service entry for [" + service + "]: process " + std::to_string(entry.pid) + " is gone");
  }

  const int fd = ZnsLoopbackSocket();
  if (fd < 0) return CXoError(kZnsErrSystem, std::string("cannot make a socket: ") + strerror(errno));
  auto conn = std::make_shared<CZnsConnection>(fd);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(static_cast<uint16_t>(entry.port));
  if (connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof(addr)) != 0) {
    if (errno != EINPROGRESS && errno != EINTR) {
      return CXoError(
          errno == ECONNREFUSED ? kZnsErrNoService : kZnsErrSystem,
          "cannot connect to [" + service + "] at port " + std::to_string(entry.port) + ": " + strerror(errno));
    }
    CXoError waited = ZnsWaitError(ZnsWaitFd(fd, POLLOUT, deadline), "connecting", timedOut);
    if (waited.IsError()) return waited;
    int soError = 0;
    socklen_t len = sizeof(soError);
    if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &soError, &len) != 0) soError = errno;
    if (soError != 0) {
      return CXoError(
          soError == ECONNREFUSED ? kZnsErrNoService : kZnsErrSystem,
          "cannot connect to [" + service + "] at port " + std::to_string(entry.port) + ": " + strerror(soError));
    }
  }

  d.conn = conn;
  d.service = service;
  SZnsFrame reply;
  CXoError result =
      d.Exchange(ZnsHelloFrame(service, entry.nonce), EZnsFrameKind::HelloReply, deadline, reply, timedOut);
  if (result.IsError()) {
    // A peer that hangs up on a hello is not our server.
    if (result.Code() == kZnsErrClosed) result = CXoError(kZnsErrRefused, result.Text() + " after the hello");
    return result;
  }
  if (reply.status < 0) {
    d.Close();
    return CXoError(kZnsErrRefused, "the server at port " + std::to_string(entry.port) + " refused [" + service +
                                        "] (status " + std::to_string(reply.status) + ")");
  }
  d.sessionId = reply.session;
  CLogSink::Instance().Write(kZnsTraceLevel, "CZnNetwork::Attach_RemoteService", "Attached to [%s] as session [%lld]",
                             service.c_str(), static_cast<long long>(d.sessionId));
  return CXoError::Success();
}

CXoError CZnNetwork::SendXMLMessage(CNMessageBase& message, int flags, int timeoutSeconds, bool& timedOut) {
  SZnsFrame frame;
  frame.kind = EZnsFrameKind::Xml;
  frame.flags = static_cast<uint32_t>(flags);
  if (!m_impl->server && m_impl->conn && !message.serializeUTF8(frame.body)) {
    return CXoError(kZnsErrInvalid, "the message cannot be written as XML");
  }
  return m_impl->Deliver(frame, timeoutSeconds, timedOut);
}

CXoError CZnNetwork::SendXDRMessage(unsigned long type, const void* bytes, size_t size, int timeoutSeconds,
                                    bool& timedOut) {
  if (ZnsIsReservedType(type)) {
    return CXoError(kZnsErrInvalid, "message type " + std::to_string(type) + " is the server's own");
  }
  if (size > 0 && bytes == nullptr) return CXoError(kZnsErrInvalid, "no bytes to send");
  SZnsFrame frame;
  frame.kind = EZnsFrameKind::Xdr;
  frame.type = type;
  if (size > 0) frame.body.assign(static_cast<const char*>(bytes), size);
  return m_impl->Deliver(frame, timeoutSeconds, timedOut);
}

CXoError CZnNetwork::Disconnect(int timeoutSeconds) {
  SImpl& d = *m_impl;
  if (d.server) return ServerSide();
  if (!d.conn) return NotAttached();
  SZnsFrame request;
  request.kind = EZnsFrameKind::DisconnectRequest;
  SZnsFrame reply;
  bool timedOut = false;
  CXoError result =
      d.Exchange(request, EZnsFrameKind::DisconnectReply, ZnsDeadlineAfterSeconds(timeoutSeconds), reply, timedOut);
  d.Close();
  return result;
}
