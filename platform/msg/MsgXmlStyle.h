// How a message is written as XML. The compact form is what serializeUTF8
// writes; XMLSerializer derives a style from its EncodingFlags.
#pragma once

#include <stddef.h>
#include <stdint.h>

// The deepest nesting of messages (the root counts as 1) that the library
// writes or reads; deeper documents are refused, so hostile input cannot
// exhaust the stack and no message is written that could not be read back.
constexpr int kMsgXmlMaxDepth = 64;

// The longest XML text, in bytes, that the library parses (64 MB). Every
// parse entry (CNMessageBase::Unserialize, CNMessageBase::CreateFromXml)
// refuses a longer document before parsing it: building a message costs many
// times the size of its text, so an oversized input would otherwise take
// gigabytes.
constexpr size_t kMsgXmlMaxInputBytes = static_cast<size_t>(64) * 1024 * 1024;

struct SMsgXmlStyle {
  bool pretty = false;          // one element per line, indented
  int indentBase = 0;           // indentation levels before the root
  bool writeHashes = false;     // field hashes as h attributes
  bool writeTypeId = true;      // the class's type id on the root
  bool escapeNonAscii = false;  // non-ASCII characters as character references
  bool boolAsText = false;      // "true"/"false" instead of 1/0
  bool shortEmpty = true;       // <x/> rather than <x></x>
  int maxDepth = -1;            // -1: kMsgXmlMaxDepth; otherwise at most that
  int64_t maxBytes = 0;         // 0: no limit on the text written

  static SMsgXmlStyle Compact() { return SMsgXmlStyle(); }
};
