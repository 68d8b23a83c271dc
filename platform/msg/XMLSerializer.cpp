#include "msg/XMLSerializer.h"

#include "log/EvEvent.h"
#include "msg/MsgXmlWriter.h"
#include "msg/NMessageBase.h"

XMLSerializer::XMLSerializer(EncodingFlags flags) : m_flags(flags) { ClearCache(); }

XMLSerializer::~XMLSerializer() = default;

int XMLSerializer::serialize(const CNMessageBase& msg, std::string& out, bool withDeclaration) {
  if (m_flags.encoding != 0) {
    EvDebug().Error("serialize", "Encoding [%d] is not supported; only UTF-8 (0) is", m_flags.encoding);
    return kUnsupportedEncoding;
  }
  if (!msg.Class()) {
    EvDebug().Error("serialize", "Cannot serialize a message without a class");
    return kNoClass;
  }
  SMsgXmlStyle style;
  style.pretty = m_flags.prettyPrint;
  style.indentBase = m_flags.indentLevel > 0 ? m_flags.indentLevel : 0;
  style.writeHashes = m_flags.writeFieldHashes;
  style.writeTypeId = m_flags.writeTypeId;
  style.escapeNonAscii = m_flags.escapeNonAscii;
  style.boolAsText = m_flags.boolAsText;
  style.shortEmpty = m_flags.shortEmptyElements;
  style.maxDepth = m_flags.maxDepth;
  style.maxBytes = m_flags.maxOutputBytes;
  const std::string* tag = Cached(msg.Class());
  if (!tag) {
    Remember(msg.Class(), CMsgXmlWriter::RootOpenTag(*msg.Class(), style));
    tag = Cached(msg.Class());
  }
  return CMsgXmlWriter::Write(msg, style, withDeclaration && !m_flags.omitDeclaration, out, tag);
}
