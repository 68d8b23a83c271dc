// The wire format of the session networking: length-prefixed frames over a
// loopback TCP connection.
//
//   frame   = length:u32 kind:u8 payload      (big-endian numbers)
//   length  = 1 + payload size, from 1 to kZnsMaxFrameBytes
//
//   kind              payload
//   1 hello           version:u16 nonce:32 hex characters name:1..kZnsMaxServiceNameBytes bytes
//   2 hello reply     status:i32 session:i64          (status 0 accepted, negative refused)
//   3 xml message     seq:u32 flags:u32 text:UTF-8 XML (may be empty)
//   4 xdr message     seq:u32 type:u64 bytes
//   5 receipt         seq:u32 status:i32              (0 delivered, negative a CXoError code)
//   6 disconnect request    (empty)
//   7 disconnect reply      (empty)
//
// The client sends hello, messages and the disconnect request; the server
// answers hello, receipts and the disconnect reply. A frame of an unknown
// kind, a length out of range or a payload of the wrong shape is malformed:
// the reader refuses it and whoever reads drops the connection.
//
// CZnsFrameReader is fed the bytes of one connection as they come and hands
// out the frames they complete, in order. It checks a frame's header as soon
// as its five bytes are there, so an oversized length is refused before its
// payload is awaited or buffered. It is used by one thread at a time.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <deque>
#include <string>

// Largest length field accepted: the kind byte and a 4 MB payload. The job-
// wait service's notices are a few hundred bytes.
constexpr uint32_t kZnsMaxFrameBytes = (4u << 20) + 1;
// Bytes before the payload (length and kind).
constexpr size_t kZnsFrameHeaderBytes = 5;
// Longest service name, in bytes.
constexpr size_t kZnsMaxServiceNameBytes = 512;
// Characters of the nonce in a hello and a service entry.
constexpr size_t kZnsNonceChars = 32;
// The protocol version a hello carries; the server refuses any other.
constexpr uint16_t kZnsProtocolVersion = 1;
// Largest length field of a hello: what a server accepts before one.
constexpr uint32_t kZnsMaxHelloFrameBytes = 1 + 2 + kZnsNonceChars + kZnsMaxServiceNameBytes;

enum class EZnsFrameKind : uint8_t {
  Hello = 1,
  HelloReply = 2,
  Xml = 3,
  Xdr = 4,
  Receipt = 5,
  DisconnectRequest = 6,
  DisconnectReply = 7,
};

// One decoded frame. Only the members of its kind are meaningful; the others
// keep their defaults, so two frames compare equal field by field.
struct SZnsFrame {
  EZnsFrameKind kind = EZnsFrameKind::Hello;
  uint16_t version = 0;  // hello
  std::string nonce;     // hello
  std::string name;      // hello
  int32_t status = 0;    // hello reply, receipt
  int64_t session = 0;   // hello reply
  uint32_t seq = 0;      // xml, xdr, receipt
  uint32_t flags = 0;    // xml
  uint64_t type = 0;     // xdr
  std::string body;      // xml text, xdr bytes

  bool operator==(const SZnsFrame& o) const;
};

// The whole frame, header included. False (out unchanged) when the frame
// cannot be written: a field out of its range (name length, nonce that is
// not 32 hex characters, body too long).
bool ZnsEncodeFrame(const SZnsFrame& frame, std::string& out);

// The hello a client says to the service whose entry holds the nonce.
SZnsFrame ZnsHelloFrame(const std::string& service, const std::string& nonce);

// What the kinds' names are in log lines.
const char* ZnsFrameKindName(EZnsFrameKind kind);

class CZnsFrameReader {
 public:
  CZnsFrameReader() = default;

  // Lowers (or restores) the largest length field accepted, for frames whose
  // headers have not been read yet; at most kZnsMaxFrameBytes.
  void SetMaxFrameBytes(uint32_t bytes);

  // Takes the next bytes of the stream and decodes the frames they complete.
  // False once the stream is malformed (Error() says why); a failed reader
  // refuses everything after. Frames completed before the malformed one are
  // still handed out by Next.
  bool Feed(const char* data, size_t size);
  // The next decoded frame, in order; false when there is none.
  bool Next(SZnsFrame& frame);
  bool Failed() const { return !m_error.empty(); }
  const std::string& Error() const { return m_error; }
  // Bytes of an incomplete frame held: at the end of the stream, non-zero
  // means it was truncated.
  size_t Pending() const { return m_buffer.size(); }

 private:
  bool Fail(const std::string& why);

  std::string m_buffer;            // the start of a frame not yet complete
  std::deque<SZnsFrame> m_frames;  // decoded, not yet handed out
  std::string m_error;
  uint32_t m_maxFrameBytes = kZnsMaxFrameBytes;
};
