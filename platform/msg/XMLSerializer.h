// Writes messages as XML under a set of EncodingFlags; with prettyPrint set
// the text is indented, one element per line ("formatted XML"). The form is
// the one CMsgXmlWriter documents, so CNMessageBase::Unserialize reads it
// back whatever the flags.
//
// A serializer may write any number of messages; it is not shared between
// threads.
#pragma once

#include <string>

#include "msg/EncodingFlags.h"
#include "msg/XMLSerializationSupport.h"

class CNMessageBase;

class XMLSerializer : public XMLSerializationSupport {
 public:
  enum EResult {
    kOk = 0,
    kNoClass = 1,              // the message has no class
    kTooDeep = 2,              // nesting beyond maxDepth (or the library's limit)
    kTooLarge = 3,             // text beyond maxOutputBytes
    kUnsupportedEncoding = 4,  // encoding other than 0 (UTF-8)
  };

  explicit XMLSerializer(EncodingFlags flags);
  ~XMLSerializer() override;

  // 0 on success with out replaced by the text (with the XML declaration
  // when withDeclaration is true and the flags do not omit it); otherwise
  // one of the codes above, logged, and out unchanged.
  int serialize(const CNMessageBase& msg, std::string& out, bool withDeclaration);

  const EncodingFlags& Flags() const { return m_flags; }

 private:
  EncodingFlags m_flags;
};
