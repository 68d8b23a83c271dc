// A client connection to a session server on this machine, and the handle a
// server gives out for the server side of a session (AcquireSession).
//
// A client attaches to a service by name: it looks the name up in the
// service directory (net/ServiceDirectory.h), connects to 127.0.0.1 at the
// entry's port and says hello with the name and the entry's nonce; the
// server answers with the session id or refuses. Then it sends messages, one
// at a time, each answered by the server's receipt, and ends with a
// disconnect request that the server answers before the connection closes.
//
// Nothing here waits without a limit: every call takes a time-out in seconds
// (requested, so scaled by CPlatformClock; 0 or less means 30), ends early
// when the calling thread is asked to stop (CStopState), and reports a
// time-out both as kZnsErrTimeout and through its timed-out flag (set true
// only then, never reset). A missing or stale entry, a refused hello, a
// closed connection: each is an error at once.
//
// After a failure that leaves the stream in doubt (a time-out, a closed or
// broken connection, a malformed reply) the connection is closed, and later
// calls fail with kZnsErrState until the next attach. A receipt that says the
// server did not deliver the message (kZnsErrNotDelivered) leaves it open.
//
// Thread safety: one thread at a time per object. The server-side handle
// from AcquireSession sends nothing itself: its Attach, Send and Disconnect
// fail with kZnsErrState (the server answers through ReplyDisconnect).
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <memory>
#include <string>

#include "net/XoError.h"

class CNMessageBase;
class CZnNetworkServer;
class CZnsConnection;

class CZnNetwork {
 public:
  CZnNetwork();
  // Closes the connection when one is open (without a disconnect request).
  ~CZnNetwork();
  CZnNetwork(const CZnNetwork&) = delete;
  CZnNetwork& operator=(const CZnNetwork&) = delete;

  // Attaches to the service on this machine. host and machine name this
  // machine (the directory is host-wide); they are logged, not used.
  // Errors: kZnsErrNoService (no entry, stale entry, nothing listening at its
  // port), kZnsErrRefused (the server refused the hello), kZnsErrTimeout,
  // kZnsErrState (attached already), kZnsErrStopped, kZnsErrSystem.
  CXoError Attach_RemoteService(const std::string& host, const std::string& service, const std::string& machine,
                                int timeoutSeconds, bool& timedOut);

  // Sends the message as compact XML and waits for the server's receipt,
  // which comes once the server's XML callback has returned. flags travel
  // with the message; the server gives them no meaning.
  CXoError SendXMLMessage(CNMessageBase& message, int flags, int timeoutSeconds, bool& timedOut);
  // Sends bytes under a message type and waits for the receipt. The types
  // the server uses for its own notices (ZnsIsReservedType) are refused.
  CXoError SendXDRMessage(unsigned long type, const void* bytes, size_t size, int timeoutSeconds, bool& timedOut);

  // Sends the disconnect request, waits for the reply, closes. The
  // connection is closed whatever the outcome.
  CXoError Disconnect(int timeoutSeconds);

  bool IsAttached() const;
  // The server's id of this session (0 when not attached).
  int64_t SessionId() const;

 private:
  friend class CZnNetworkServer;
  struct SImpl;

  // The server side of a session.
  CZnNetwork(CZnNetworkServer* server, int64_t sessionId, std::shared_ptr<CZnsConnection> connection);
  // The server this handle belongs to (null for a client).
  CZnNetworkServer* Server() const;

  std::unique_ptr<SImpl> m_impl;
};
