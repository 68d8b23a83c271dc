// The wire format, the error value and the XDR buffer, without sockets.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "net/Databuf.h"
#include "net/XoError.h"
#include "net/ZnsFrame.h"

namespace {

const std::string kNonce = "0123456789abcdef0123456789abcdef";

std::vector<SZnsFrame> OneOfEachKind() {
  std::vector<SZnsFrame> frames(7);
  frames[0].kind = EZnsFrameKind::Hello;
  frames[0].version = kZnsProtocolVersion;
  frames[0].nonce = kNonce;
  frames[0].name = "DRSrvc|1234";
  frames[1].kind = EZnsFrameKind::HelloReply;
  frames[1].status = -3;
  frames[1].session = 0x0102030405060708LL;
  frames[2].kind = EZnsFrameKind::Xml;
  frames[2].seq = 7;
  frames[2].flags = 0x80000001u;
  frames[2].body = "<a/>";
  frames[3].kind = EZnsFrameKind::Xdr;
  frames[3].seq = 0xffffffffu;
  frames[3].type = 0x7602f0a7;
  frames[3].body = std::string("\0\1\2\xff", 4);
  frames[4].kind = EZnsFrameKind::Receipt;
  frames[4].seq = 9;
  frames[4].status = -13;
  frames[5].kind = EZnsFrameKind::DisconnectRequest;
  frames[6].kind = EZnsFrameKind::DisconnectReply;
  return frames;
}

std::string Encoded(const SZnsFrame& frame) {
  std::string out;
  EXPECT_TRUE(ZnsEncodeFrame(frame, out)) << ZnsFrameKindName(frame.kind);
  return out;
}

std::string Header(uint32_t length, uint8_t kind) {
  std::string h;
  for (int shift = 24; shift >= 0; shift -= 8) h += static_cast<char>((length >> shift) & 0xff);
  return h + static_cast<char>(kind);
}

// Feeds the bytes in the given chunk sizes (cycled) and collects the frames.
std::vector<SZnsFrame> ReadAll(const std::string& bytes, const std::vector<size_t>& chunks, CZnsFrameReader& reader) {
  std::vector<SZnsFrame> out;
  size_t at = 0, i = 0;
  while (at < bytes.size()) {
    const size_t n = std::min(chunks[i++ % chunks.size()], bytes.size() - at);
    reader.Feed(bytes.data() + at, n);
    at += n;
    SZnsFrame f;
    while (reader.Next(f)) out.push_back(f);
  }
  return out;
}

}  // namespace

TEST(NetFrame, EveryKindReadsBackEqualHoweverTheBytesArrive) {
  const std::vector<SZnsFrame> frames = OneOfEachKind();
  std::string stream;
  for (const SZnsFrame& f : frames) stream += Encoded(f);
  std::mt19937 random(7);
  std::vector<size_t> randomChunks;
  for (int i = 0; i < 50; ++i) randomChunks.push_back(1 + random() % 13);
  for (const std::vector<size_t>& chunks : {std::vector<size_t>{1}, std::vector<size_t>{stream.size()}, randomChunks}) {
    CZnsFrameReader reader;
    const std::vector<SZnsFrame> read = ReadAll(stream, chunks, reader);
    ASSERT_EQ(frames.size(), read.size());
    for (size_t i = 0; i < frames.size(); ++i) EXPECT_TRUE(frames[i] == read[i]) << "frame " << i;
    EXPECT_FALSE(reader.Failed());
    EXPECT_EQ(0u, reader.Pending());
  }
}

TEST(NetFrame, AnOversizedLengthIsRefusedFromItsHeaderAlone) {
  CZnsFrameReader reader;
  EXPECT_FALSE(reader.Feed(Header(kZnsMaxFrameBytes + 1, 3).data(), 5));
  EXPECT_TRUE(reader.Failed());
  EXPECT_NE(std::string::npos, reader.Error().find("length"));
  // A failed reader stays failed, even for good bytes.
  const std::string good = Encoded(OneOfEachKind()[5]);
  EXPECT_FALSE(reader.Feed(good.data(), good.size()));
  SZnsFrame f;
  EXPECT_FALSE(reader.Next(f));

  // The largest allowed length is awaited, not refused.
  CZnsFrameReader big;
  EXPECT_TRUE(big.Feed(Header(kZnsMaxFrameBytes, 4).data(), 5));
  EXPECT_FALSE(big.Failed());
  // A lowered limit (a server before the hello) refuses it.
  CZnsFrameReader hello;
  hello.SetMaxFrameBytes(kZnsMaxHelloFrameBytes);
  EXPECT_FALSE(hello.Feed(Header(kZnsMaxHelloFrameBytes + 1, 1).data(), 5));
}

TEST(NetFrame, MalformedFramesAreRefused) {
  struct SCase {
    const char* what;
    std::string bytes;
  };
  const std::string hello = Encoded(OneOfEachKind()[0]);
  std::string badNonce = hello;
  badNonce[7] = 'G';  // inside the nonce (header 5, version 2)
  const std::vector<SCase> cases = {
      {"zero length", Header(0, 3)},
      {"unknown kind", Header(1, 9)},
      {"kind zero", Header(1, 0)},
      {"short receipt", Header(8, 5) + std::string(7, '\0')},
      {"long hello reply", Header(14, 2) + std::string(13, '\0')},
      {"xml without its fixed part", Header(5, 3) + std::string(4, '\0')},
      {"disconnect with payload", Header(2, 6) + "x"},
      {"hello without a name", Header(35, 1) + std::string(2, '\0') + kNonce},
      {"hello with a nonce that is not hex", badNonce},
      {"hello with a name too long", Header(35 + 513, 1) + std::string(2, '\0') + kNonce + std::string(513, 'n')},
  };
  for (const SCase& c : cases) {
    CZnsFrameReader reader;
    EXPECT_FALSE(reader.Feed(c.bytes.data(), c.bytes.size())) << c.what;
    EXPECT_TRUE(reader.Failed()) << c.what;
    SZnsFrame f;
    EXPECT_FALSE(reader.Next(f)) << c.what;
  }
}

TEST(NetFrame, FramesBeforeGarbageAreStillHandedOutAndATruncatedOneWaits) {
  const std::vector<SZnsFrame> frames = OneOfEachKind();
  const std::string stream = Encoded(frames[2]) + Encoded(frames[3]) + Header(1, 99);
  CZnsFrameReader reader;
  EXPECT_FALSE(reader.Feed(stream.data(), stream.size()));
  SZnsFrame f;
  ASSERT_TRUE(reader.Next(f));
  EXPECT_TRUE(f == frames[2]);
  ASSERT_TRUE(reader.Next(f));
  EXPECT_TRUE(f == frames[3]);
  EXPECT_FALSE(reader.Next(f));

  const std::string xml = Encoded(frames[2]);
  CZnsFrameReader partial;
  EXPECT_TRUE(partial.Feed(xml.data(), xml.size() - 1));
  EXPECT_FALSE(partial.Next(f));
  EXPECT_FALSE(partial.Failed());
  EXPECT_EQ(xml.size() - 1, partial.Pending());
}

TEST(NetFrame, FieldsOutOfRangeAreNotEncoded) {
  SZnsFrame hello = OneOfEachKind()[0];
  std::string out = "kept";
  hello.name = std::string(kZnsMaxServiceNameBytes + 1, 'n');
  EXPECT_FALSE(ZnsEncodeFrame(hello, out));
  hello.name = "";
  EXPECT_FALSE(ZnsEncodeFrame(hello, out));
  hello.name = "x";
  hello.nonce = "short";
  EXPECT_FALSE(ZnsEncodeFrame(hello, out));
  SZnsFrame xdr = OneOfEachKind()[3];
  xdr.body.assign(kZnsMaxFrameBytes, 'b');
  EXPECT_FALSE(ZnsEncodeFrame(xdr, out));
  EXPECT_EQ("kept", out);
}

TEST(NetError, SuccessErrorsAndSharedDetails) {
  CXoError ok;
  EXPECT_FALSE(ok.IsError());
  EXPECT_EQ(0, CXoError::Success().Code());
  EXPECT_EQ("success", ok.AsString());
  EXPECT_FALSE(CXoError(5, "a positive result").IsError());

  CXoError e =
      FXErrorUtil::ErrorZNResult(FXCodeLocation("/src/services/DRJobManager", "CXoError SendXMLMessage()", 1422), -1,
                                 "CZnNetwork object not intialized");
  EXPECT_TRUE(e.IsError());
  EXPECT_EQ(-1, e.Code());
  const std::string text = e.AsString();
  EXPECT_NE(std::string::npos, text.find("CZnNetwork object not intialized"));
  EXPECT_NE(std::string::npos, text.find("DRJobManager:1422"));
  EXPECT_NE(std::string::npos, text.find("code -1"));
  ASSERT_NE(nullptr, e.Location());
  EXPECT_EQ(1422, e.Location()->Line());

  CXoError copy = e;
  CXoError assigned;
  assigned = copy;
  EXPECT_EQ(&e.Text(), &copy.Text()) << "copies share the details";
  EXPECT_EQ(&e.Text(), &assigned.Text());
  EXPECT_EQ(-1, assigned.Code());
}

TEST(NetDatabuf, ReleaseFreesOnlyWhatItOwnsAndMayBeRepeated) {
  auto* buffer = new znsDatabuf_v2;
  const char bytes[] = "abc";
  buffer->data.AssignCopy(bytes, 3);
  ASSERT_TRUE(buffer->data.owns);
  EXPECT_EQ(std::string("abc"), std::string(buffer->data.ptr, buffer->data.size));
  buffer->data.Release();
  EXPECT_EQ(nullptr, buffer->data.ptr);
  EXPECT_EQ(0u, buffer->data.size);
  buffer->data.Release();
  delete buffer;

  char stack[4] = "xyz";
  CAutoMemory<char> borrowed;
  borrowed.ptr = stack;
  borrowed.size = 3;
  borrowed.Release();  // not owned: nothing freed (ASan would see a bad free)
  EXPECT_EQ(nullptr, borrowed.ptr);
  EXPECT_EQ('x', stack[0]);
}
