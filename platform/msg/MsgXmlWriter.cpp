#include "msg/MsgXmlWriter.h"

#include <algorithm>

#include "log/EvEvent.h"
#include "msg/MsgText.h"
#include "msg/NMessageBase.h"

namespace {

class CWriter {
 public:
  CWriter(const SMsgXmlStyle& style, std::string& out)
      : m_style(style),
        m_out(out),
        m_maxDepth(style.maxDepth < 0 ? kMsgXmlMaxDepth : std::min(style.maxDepth, kMsgXmlMaxDepth)),
        m_tooDeep(false) {}

  bool TooDeep() const { return m_tooDeep; }

  void Root(const CNMessageBase& msg, const std::string& openTag) {
    Indent(0);
    m_out += openTag;
    Body(msg, msg.Class()->XmlName().c_str(), 0, 1);
  }

 private:
  void Indent(int level) {
    if (!m_style.pretty) return;
    if (!m_out.empty() && m_out.back() != '\n') m_out += '\n';
    m_out.append(static_cast<size_t>(2 * (level + m_style.indentBase)), ' ');
  }

  // Writes what follows an open tag whose attributes are written: the
  // fields of msg and the closing tag.
  void Body(const CNMessageBase& msg, const char* tag, int level, int depth) {
    if (depth > m_maxDepth) {
      m_tooDeep = true;
      return;
    }
    if (msg.Slots().empty()) {
      CloseEmpty(tag);
      return;
    }
    m_out += '>';
    for (const SMsgSlot& slot : msg.Slots()) {
      Field(slot, level + 1, depth);
      if (m_tooDeep) return;
    }
    Indent(level);
    m_out += "</";
    m_out += tag;
    m_out += '>';
  }

  void CloseEmpty(const char* tag) {
    if (m_style.shortEmpty) {
      m_out += "/>";
    } else {
      m_out += "></";
      m_out += tag;
      m_out += '>';
    }
  }

  void OpenField(const char* tag, const SMsgFieldInfo& f, int level) {
    Indent(level);
    m_out += '<';
    m_out += tag;
    m_out += " a=\"";
    CMsgText::AppendInt(m_out, f.a);
    m_out += "\" b=\"";
    CMsgText::AppendInt(m_out, f.b);
    m_out += '"';
    if (m_style.writeHashes) {
      m_out += " h=\"";
      CMsgText::AppendUInt(m_out, f.hash);
      m_out += '"';
    }
  }

  void Field(const SMsgSlot& slot, int level, int depth) {
    const SMsgFieldInfo& f = *slot.field;
    const char* tag = f.list ? "list" : MsgKindTag(f.kind);
    OpenField(tag, f, level);
    switch (slot.value.index()) {
      case 0: Scalar(tag, f.kind, std::get<0>(slot.value)); break;
      case 1: ScalarText(tag, [&] { CMsgText::AppendUInt(m_out, std::get<1>(slot.value)); }); break;
      case 2: Real(tag, f.kind, std::get<2>(slot.value)); break;
      case 3: String(tag, std::get<3>(slot.value)); break;
      case 4: Body(*std::get<4>(slot.value), tag, level, depth + 1); break;
      default: List(slot, tag, level, depth); break;
    }
  }

  void List(const SMsgSlot& slot, const char* tag, int level, int depth) {
    const SMsgFieldInfo& f = *slot.field;
    const char* itemTag = MsgKindTag(f.kind);
    const size_t index = slot.value.index();
    const size_t n = index == 5   ? std::get<5>(slot.value).size()
                     : index == 6 ? std::get<6>(slot.value).size()
                     : index == 7 ? std::get<7>(slot.value).size()
                     : index == 8 ? std::get<8>(slot.value).size()
                                  : std::get<9>(slot.value).size();
    if (n == 0) {
      CloseEmpty(tag);
      return;
    }
    m_out += '>';
    for (size_t i = 0; i < n; ++i) {
      Indent(level + 1);
      m_out += '<';
      m_out += itemTag;
      switch (index) {
        case 5: Scalar(itemTag, f.kind, std::get<5>(slot.value)[i]); break;
        case 6: ScalarText(itemTag, [&] { CMsgText::AppendUInt(m_out, std::get<6>(slot.value)[i]); }); break;
        case 7: Real(itemTag, f.kind, std::get<7>(slot.value)[i]); break;
        case 8: String(itemTag, std::get<8>(slot.value)[i]); break;
        default: Body(*std::get<9>(slot.value)[i], itemTag, level + 1, depth + 1); break;
      }
      if (m_tooDeep) return;
    }
    Indent(level);
    m_out += "</list>";
  }

  template <class F>
  void ScalarText(const char* tag, F writeValue) {
    m_out += '>';
    writeValue();
    m_out += "</";
    m_out += tag;
    m_out += '>';
  }

  void Scalar(const char* tag, EMsgKind kind, int64_t v) {
    if (kind == EMsgKind::Bool && m_style.boolAsText) {
      ScalarText(tag, [&] { m_out += v ? "true" : "false"; });
    } else {
      ScalarText(tag, [&] { CMsgText::AppendInt(m_out, v); });
    }
  }

  void Real(const char* tag, EMsgKind kind, double v) {
    if (kind == EMsgKind::Float) {
      ScalarText(tag, [&] { CMsgText::AppendFloat(m_out, static_cast<float>(v)); });
    } else {
      ScalarText(tag, [&] { CMsgText::AppendDouble(m_out, v); });
    }
  }

  void String(const char* tag, const std::string& v) {
    if (v.empty()) {
      CloseEmpty(tag);
      return;
    }
    if (CMsgText::IsXmlSafe(v)) {
      ScalarText(tag, [&] { CMsgText::AppendEscaped(m_out, v, m_style.escapeNonAscii); });
    } else {
      m_out += " enc=\"base64\"";
      ScalarText(tag, [&] { CMsgText::AppendBase64(m_out, v); });
    }
  }

  const SMsgXmlStyle& m_style;
  std::string& m_out;
  const int m_maxDepth;
  bool m_tooDeep;
};

}  // namespace

std::string CMsgXmlWriter::RootOpenTag(const CMsgClassInfo& cls, const SMsgXmlStyle& style) {
  std::string tag = "<" + cls.XmlName() + " ns=\"";
  CMsgText::AppendInt(tag, cls.Module());
  tag += "\" id=\"";
  CMsgText::AppendInt(tag, cls.Id());
  tag += '"';
  if (style.writeTypeId) {
    tag += " type=\"";
    CMsgText::AppendUInt(tag, cls.TypeId());
    tag += '"';
  }
  return tag;
}

int CMsgXmlWriter::Write(const CNMessageBase& msg, const SMsgXmlStyle& style, bool withDeclaration,
                         std::string& out, const std::string* rootOpenTag) {
  if (!msg.Class()) {
    EvDebug().Error("Write", "Cannot serialize a message without a class");
    return kNoClass;
  }
  std::string text;
  if (withDeclaration) {
    text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>";
    if (style.pretty) text += '\n';
  }
  CWriter writer(style, text);
  writer.Root(msg, rootOpenTag ? *rootOpenTag : RootOpenTag(*msg.Class(), style));
  if (writer.TooDeep()) {
    EvDebug().Error("Write", "Message [%s] is nested deeper than [%d] levels", msg.ClassName().c_str(),
                    style.maxDepth < 0 ? kMsgXmlMaxDepth : std::min(style.maxDepth, kMsgXmlMaxDepth));
    return kTooDeep;
  }
  if (style.pretty) text += '\n';
  if (style.maxBytes > 0 && static_cast<int64_t>(text.size()) > style.maxBytes) {
    EvDebug().Error("Write", "XML of message [%s] takes [%zu] bytes, more than the limit [%lld]",
                    msg.ClassName().c_str(), text.size(), static_cast<long long>(style.maxBytes));
    return kTooLarge;
  }
  out.swap(text);
  return kOk;
}
