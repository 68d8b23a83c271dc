// Feeds arbitrary bytes to the session frame reader, the way a server reads
// a connection. Nothing may crash, leak or read out of bounds; every frame the
// reader hands out must encode back to exactly the bytes it came from, and
// read back equal.
//
// The first input byte steers the reading, so the fuzzer explores it too:
// bits 0-5 the chunk size the bytes arrive in (1 to 64), bit 7 the reader of
// a connection that has not said hello yet (frames limited to a hello's size).
//
// The same bytes, as text, are also the completion token that names the
// job-wait service a notice goes to: its parser takes exactly the second
// "|" field, whatever the rest holds. Other inputs that arrive over the
// session networking get a target of their own: a source file like this one
// and a dr_add_fuzz_target line in CMakeLists.txt, with SYSTEM when the
// parser needs the whole system library.
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "drorch/DRJobManager.h"
#include "log/LogSink.h"
#include "net/ZnsFrame.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  CLogSink::Instance().SetFile("/dev/null");
  return 0;
}

namespace {

void CheckToken(const std::string& token) {
  std::string id = "\x01untouched";
  CDRJobManager::ParseJobSrvcToken(token, id);
  const size_t first = token.find('|');
  std::string second;
  if (first != std::string::npos) second = token.substr(first + 1, token.find('|', first + 1) - first - 1);
  if (second.empty() ? id != "\x01untouched" : id != second) abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  CheckToken(std::string(reinterpret_cast<const char*>(data), size));
  if (size == 0) return 0;
  const size_t chunk = 1 + (data[0] & 0x3f);
  const bool beforeHello = (data[0] & 0x80) != 0;
  const char* stream = reinterpret_cast<const char*>(data + 1);
  const size_t length = size - 1;

  CZnsFrameReader reader;
  if (beforeHello) reader.SetMaxFrameBytes(kZnsMaxHelloFrameBytes);
  std::vector<SZnsFrame> frames;
  for (size_t at = 0; at < length; at += chunk) {
    const size_t n = length - at < chunk ? length - at : chunk;
    const bool fed = reader.Feed(stream + at, n);
    SZnsFrame frame;
    while (reader.Next(frame)) frames.push_back(frame);
    if (!fed) break;
  }
  if (reader.Failed() && reader.Error().empty()) abort();
  if (reader.Pending() > length) abort();

  // The encoding is canonical: the frames handed out are the input's prefix.
  std::string again;
  for (const SZnsFrame& f : frames) {
    std::string bytes;
    if (!ZnsEncodeFrame(f, bytes)) abort();
    again += bytes;
  }
  if (again.size() > length || again.compare(0, std::string::npos, stream, again.size()) != 0) abort();
  if (!reader.Failed() && again.size() + reader.Pending() != length) abort();

  CZnsFrameReader second;
  if (!second.Feed(again.data(), again.size())) abort();
  for (const SZnsFrame& f : frames) {
    SZnsFrame read;
    if (!second.Next(read) || !(read == f)) abort();
  }
  SZnsFrame extra;
  if (second.Next(extra) || second.Pending() != 0) abort();
  return 0;
}
