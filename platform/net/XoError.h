// Results of the platform's session networking (and of anything else that
// answers the way it does): a 32-bit code, negative for an error, with shared
// details saying what went wrong and where.
//
// A CXoError is a small value: copies and assignments share one immutable
// details record, so passing one around costs a reference count. Success has
// code 0 and no details. Thread safety: a value may be copied and read from
// several threads at once; the details never change after construction.
#pragma once

#include <stdint.h>

#include <memory>
#include <string>

// Where an error was raised: the source file, the function and the line.
class FXCodeLocation {
 public:
  FXCodeLocation(const char* file, const char* function, int line);

  const std::string& File() const { return m_file; }
  const std::string& Function() const { return m_function; }
  int Line() const { return m_line; }

 private:
  std::string m_file;
  std::string m_function;
  int m_line;
};

// Error codes the session networking returns (net/). Every one is negative.
enum EZnsResult : int32_t {
  kZnsErrFailed = -1,         // no more precise code applies
  kZnsErrNoService = -2,      // no service entry under the name, or the entry is stale
  kZnsErrRefused = -3,        // the server at the entry's port refused the hello
  kZnsErrTimeout = -4,        // the time-out passed (the timed-out flag says so too)
  kZnsErrClosed = -5,         // the peer ended the connection
  kZnsErrProtocol = -6,       // a malformed or unexpected frame
  kZnsErrState = -7,          // not attached, attached already, server quit or running already
  kZnsErrNoSession = -8,      // no such session, or it has closed
  kZnsErrNotAcquired = -9,    // a release without an acquire
  kZnsErrStopped = -10,       // the calling thread was asked to stop
  kZnsErrSystem = -11,        // a system call failed (errno text in the details)
  kZnsErrInvalid = -12,       // an argument the call cannot take
  kZnsErrNotDelivered = -13,  // the server received the message but gave it to no callback
};

class CXoError {
 public:
  // Success.
  CXoError() : m_code(0) {}
  static CXoError Success() { return CXoError(); }
  // An error (or, with code >= 0, a result) with its text.
  CXoError(int32_t code, const std::string& text);
  CXoError(int32_t code, const std::string& text, const FXCodeLocation& where);

  int32_t Code() const { return m_code; }
  bool IsError() const { return m_code < 0; }
  // The text alone ("" for success).
  const std::string& Text() const;
  // Where it was raised; null when nobody said.
  const FXCodeLocation* Location() const;
  // For logs: "success" for success; otherwise the text, the code and, when
  // known, the function and line that raised it, e.g.
  // "no service entry for [DRSrvc|7] (code -2, in Attach_RemoteService, ZnNetwork.cpp:120)".
  std::string AsString() const;

 private:
  struct SDetails {
    std::string text;
    std::unique_ptr<FXCodeLocation> where;
  };
  int32_t m_code;
  std::shared_ptr<const SDetails> m_details;
};

class FXErrorUtil {
 public:
  // An error with its code, text and the place that raised it.
  static CXoError ErrorZNResult(const FXCodeLocation& where, int32_t code, const std::string& text);
};
