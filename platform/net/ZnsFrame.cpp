#include "net/ZnsFrame.h"

#include <stdio.h>

namespace {

void PutU16(std::string& out, uint16_t v) {
  out += static_cast<char>(v >> 8);
  out += static_cast<char>(v & 0xff);
}

void PutU32(std::string& out, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>((v >> shift) & 0xff);
}

void PutU64(std::string& out, uint64_t v) {
  for (int shift = 56; shift >= 0; shift -= 8) out += static_cast<char>((v >> shift) & 0xff);
}

uint64_t GetBE(const char* p, int bytes) {
  uint64_t v = 0;
  for (int i = 0; i < bytes; ++i) v = (v << 8) | static_cast<unsigned char>(p[i]);
  return v;
}

bool IsHexNonce(const std::string& nonce) {
  if (nonce.size() != kZnsNonceChars) return false;
  for (char c : nonce) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

bool IsKnownKind(uint8_t kind) {
  return kind >= static_cast<uint8_t>(EZnsFrameKind::Hello) &&
         kind <= static_cast<uint8_t>(EZnsFrameKind::DisconnectReply);
}

// Payload sizes of the kinds whose payload has a fixed size.
constexpr size_t kHelloFixed = 2 + kZnsNonceChars;
constexpr size_t kHelloReplyBytes = 4 + 8;
constexpr size_t kXmlFixed = 4 + 4;
constexpr size_t kXdrFixed = 4 + 8;
constexpr size_t kReceiptBytes = 4 + 4;

// Decodes one complete payload; false with the reason when its shape is wrong.
bool DecodePayload(EZnsFrameKind kind, const char* p, size_t n, SZnsFrame& out, std::string& why) {
  out = SZnsFrame();
  out.kind = kind;
  switch (kind) {
    case EZnsFrameKind::Hello:
      if (n <= kHelloFixed || n - kHelloFixed > kZnsMaxServiceNameBytes) {
        why = "hello of " + std::to_string(n) + " bytes";
        return false;
      }
      out.version = static_cast<uint16_t>(GetBE(p, 2));
      out.nonce.assign(p + 2, kZnsNonceChars);
      out.name.assign(p + kHelloFixed, n - kHelloFixed);
      if (!IsHexNonce(out.nonce)) {
        why = "hello nonce is not hexadecimal";
        return false;
      }
      return true;
    case EZnsFrameKind::HelloReply:
      if (n != kHelloReplyBytes) break;
      out.status = static_cast<int32_t>(static_cast<uint32_t>(GetBE(p, 4)));
      out.session = static_cast<int64_t>(GetBE(p + 4, 8));
      return true;
    case EZnsFrameKind::Xml:
      if (n < kXmlFixed) break;
      out.seq = static_cast<uint32_t>(GetBE(p, 4));
      out.flags = static_cast<uint32_t>(GetBE(p + 4, 4));
      out.body.assign(p + kXmlFixed, n - kXmlFixed);
      return true;
    case EZnsFrameKind::Xdr:
      if (n < kXdrFixed) break;
      out.seq = static_cast<uint32_t>(GetBE(p, 4));
      out.type = GetBE(p + 4, 8);
      out.body.assign(p + kXdrFixed, n - kXdrFixed);
      return true;
    case EZnsFrameKind::Receipt:
      if (n != kReceiptBytes) break;
      out.seq = static_cast<uint32_t>(GetBE(p, 4));
      out.status = static_cast<int32_t>(static_cast<uint32_t>(GetBE(p + 4, 4)));
      return true;
    case EZnsFrameKind::DisconnectRequest:
    case EZnsFrameKind::DisconnectReply:
      if (n != 0) break;
      return true;
  }
  why = std::string(ZnsFrameKindName(kind)) + " of " + std::to_string(n) + " bytes";
  return false;
}

}  // namespace

bool SZnsFrame::operator==(const SZnsFrame& o) const {
  return kind == o.kind && version == o.version && nonce == o.nonce && name == o.name && status == o.status &&
         session == o.session && seq == o.seq && flags == o.flags && type == o.type && body == o.body;
}

SZnsFrame ZnsHelloFrame(const std::string& service, const std::string& nonce) {
  SZnsFrame hello;
  hello.kind = EZnsFrameKind::Hello;
  hello.version = kZnsProtocolVersion;
  hello.nonce = nonce;
  hello.name = service;
  return hello;
}

const char* ZnsFrameKindName(EZnsFrameKind kind) {
  switch (kind) {
    case EZnsFrameKind::Hello: return "hello";
    case EZnsFrameKind::HelloReply: return "hello reply";
    case EZnsFrameKind::Xml: return "xml message";
    case EZnsFrameKind::Xdr: return "xdr message";
    case EZnsFrameKind::Receipt: return "receipt";
    case EZnsFrameKind::DisconnectRequest: return "disconnect request";
    case EZnsFrameKind::DisconnectReply: return "disconnect reply";
  }
  return "unknown frame";
}

bool ZnsEncodeFrame(const SZnsFrame& frame, std::string& out) {
  std::string payload;
  switch (frame.kind) {
    case EZnsFrameKind::Hello:
      if (frame.name.empty() || frame.name.size() > kZnsMaxServiceNameBytes || !IsHexNonce(frame.nonce)) return false;
      PutU16(payload, frame.version);
      payload += frame.nonce;
      payload += frame.name;
      break;
    case EZnsFrameKind::HelloReply:
      PutU32(payload, static_cast<uint32_t>(frame.status));
      PutU64(payload, static_cast<uint64_t>(frame.session));
      break;
    case EZnsFrameKind::Xml:
      if (frame.body.size() > kZnsMaxFrameBytes - 1 - kXmlFixed) return false;
      PutU32(payload, frame.seq);
      PutU32(payload, frame.flags);
      payload += frame.body;
      break;
    case EZnsFrameKind::Xdr:
      if (frame.body.size() > kZnsMaxFrameBytes - 1 - kXdrFixed) return false;
      PutU32(payload, frame.seq);
      PutU64(payload, frame.type);
      payload += frame.body;
      break;
    case EZnsFrameKind::Receipt:
      PutU32(payload, frame.seq);
      PutU32(payload, static_cast<uint32_t>(frame.status));
      break;
    case EZnsFrameKind::DisconnectRequest:
    case EZnsFrameKind::DisconnectReply: break;
    default: return false;
  }
  std::string encoded;
  encoded.reserve(kZnsFrameHeaderBytes + payload.size());
  PutU32(encoded, static_cast<uint32_t>(payload.size() + 1));
  encoded += static_cast<char>(frame.kind);
  encoded += payload;
  out.swap(encoded);
  return true;
}

void CZnsFrameReader::SetMaxFrameBytes(uint32_t bytes) {
  m_maxFrameBytes = bytes < kZnsMaxFrameBytes ? bytes : kZnsMaxFrameBytes;
}

bool CZnsFrameReader::Fail(const std::string& why) {
  m_error = why;
  m_buffer.clear();
  return false;
}

bool CZnsFrameReader::Feed(const char* data, size_t size) {
  if (Failed()) return false;
  m_buffer.append(data, size);
  size_t at = 0;
  while (m_buffer.size() - at >= kZnsFrameHeaderBytes) {
    const char* p = m_buffer.data() + at;
    const uint32_t length = static_cast<uint32_t>(GetBE(p, 4));
    const uint8_t kind = static_cast<uint8_t>(p[4]);
    if (length < 1 || length > m_maxFrameBytes) {
      return Fail("frame length " + std::to_string(length) + " outside 1.." + std::to_string(m_maxFrameBytes));
    }
    if (!IsKnownKind(kind)) return Fail("unknown frame kind " + std::to_string(kind));
    const size_t payload = length - 1;
    if (m_buffer.size() - at - kZnsFrameHeaderBytes < payload) break;
    SZnsFrame frame;
    std::string why;
    if (!DecodePayload(static_cast<EZnsFrameKind>(kind), p + kZnsFrameHeaderBytes, payload, frame, why)) {
      return Fail("malformed " + why);
    }
    m_frames.push_back(std::move(frame));
    at += kZnsFrameHeaderBytes + payload;
  }
  m_buffer.erase(0, at);
  return true;
}

bool CZnsFrameReader::Next(SZnsFrame& frame) {
  if (m_frames.empty()) return false;
  frame = std::move(m_frames.front());
  m_frames.pop_front();
  return true;
}
