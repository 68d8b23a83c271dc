// Feeds arbitrary bytes to the message parser. Nothing may crash, leak or
// read out of bounds, and whatever the parser accepts must write out (in both
// forms) and read back to an equal message.
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>

#include <memory>
#include <string>

#include "log/LogSink.h"
#include "msg/MsgClasses.h"
#include "msg/XMLSerializer.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // Rejected documents are logged; millions of lines help no one.
  CLogSink::Instance().SetFile("/dev/null");
  return 0;
}

namespace {

void MustReadBackEqual(const CNMessageBase& m, const std::string& xml) {
  std::unique_ptr<CNMessageBase> again = CNMessageBase::CreateFromXml(xml);
  if (!again || !(*again == m)) abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string xml(reinterpret_cast<const char*>(data), size);

  // Parsing into a typed message must leave it untouched on failure.
  MsgTest::Node node;
  node.SetString(MsgTest::Node::kName, "kept");
  const MsgTest::Node before = node;
  if (!node.Unserialize(xml) && !(node == before)) abort();

  std::unique_ptr<CNMessageBase> m = CNMessageBase::CreateFromXml(xml);
  if (!m) return 0;
  std::string compact;
  if (!m->serializeUTF8(compact)) abort();
  MustReadBackEqual(*m, compact);
  std::string formatted;
  XMLSerializer serializer(EncodingFlags{1, 1, 1, 0, 0, -1, 1, 1, 0, 0, 0});
  if (serializer.serialize(*m, formatted, true) != 0) abort();
  MustReadBackEqual(*m, formatted);
  return 0;
}
