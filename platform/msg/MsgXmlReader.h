// Parses the XML form of messages (see CMsgXmlWriter) with a SAX parser
// hardened against hostile input: DTDs and external entities are refused, the
// document is read as UTF-8 whatever it declares, and nesting is capped at
// kMsgXmlMaxDepth. A document longer than maxBytes (kMsgXmlMaxInputBytes
// for every caller but the reader's own tests) is refused before parsing. The
// message is built aside and handed over only when the whole document is
// valid.
//
// Safe to call from many threads at once: each thread keeps its own parser.
#pragma once

#include <stddef.h>

#include <memory>
#include <string>

#include "msg/MsgXmlStyle.h"

class CMsgClassInfo;
class CNMessageBase;

class CMsgXmlReader {
 public:
  // The message of the document; null on any problem, which is logged and,
  // when error is given, described there. expected, when not null, is the
  // only class accepted.
  static std::unique_ptr<CNMessageBase> Parse(const std::string& xml, const CMsgClassInfo* expected,
                                              std::string* error, size_t maxBytes = kMsgXmlMaxInputBytes);
};
