#include "msg/MsgSaxHandler.h"

#include <xercesc/sax/SAXParseException.hpp>
#include <xercesc/sax2/Attributes.hpp>
#include <xercesc/util/XMLString.hpp>

#include "msg/MsgRegistry.h"
#include "msg/MsgText.h"
#include "msg/MsgXmlStyle.h"

namespace {

std::string Utf8(const XMLCh* text) {
  std::string out;
  if (text) CMsgText::AppendUtf8(out, text, xercesc::XMLString::stringLen(text));
  return out;
}

// At most a few dozen characters of a value, for error texts.
std::string Excerpt(const std::string& text) {
  if (text.size() <= 40) return text;
  return text.substr(0, 40) + "...";
}

bool ParseIndex(const std::string& text, int& value) {
  int64_t v;
  if (!CMsgText::ParseInt(text, v) || v < 0 || v > 0x7FFFFFFF) return false;
  value = static_cast<int>(v);
  return true;
}

bool IsXmlBlank(XMLCh c) { return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r'; }

}  // namespace

CMsgSaxHandler::CMsgSaxHandler(const CMsgClassInfo* expected)
    : m_expected(expected), m_locator(nullptr), m_base64(false), m_failed(false), m_done(false) {}

std::unique_ptr<CNMessageBase> CMsgSaxHandler::TakeResult() {
  if (m_failed || !m_done) return nullptr;
  return std::move(m_root);
}

void CMsgSaxHandler::Fail(const std::string& why) {
  if (m_failed) return;
  m_failed = true;
  if (m_locator && m_locator->getLineNumber() > 0) {
    m_error = "line " + std::to_string(m_locator->getLineNumber()) + " column " +
              std::to_string(m_locator->getColumnNumber()) + ": " + why;
  } else {
    m_error = why;
  }
}

void CMsgSaxHandler::setDocumentLocator(const xercesc::Locator* locator) { m_locator = locator; }

// ---------------------------------------------------------------- elements

void CMsgSaxHandler::startElement(const XMLCh*, const XMLCh*, const XMLCh* qname, const xercesc::Attributes& attrs) {
  if (m_failed) return;
  const std::string name = Utf8(qname);
  if (m_stack.empty()) {
    if (m_root) {
      Fail("content after the message");
      return;
    }
    StartRoot(name, attrs);
    return;
  }
  const SFrame top = m_stack.back();
  switch (top.kind) {
    case EFrame::Message: StartField(top, name, attrs); break;
    case EFrame::List: StartItem(top, name, attrs); break;
    default: Fail("element <" + Excerpt(name) + "> inside a value"); break;
  }
}

void CMsgSaxHandler::StartRoot(const std::string& name, const xercesc::Attributes& attrs) {
  static const char* const kAllowed[] = {"ns", "id", "type", nullptr};
  std::string values[3];
  if (!ReadAttributes(attrs, kAllowed, values)) return;
  int module, id;
  if (!ParseIndex(values[0], module) || !ParseIndex(values[1], id)) {
    Fail("root <" + Excerpt(name) + "> lacks a valid ns and id");
    return;
  }
  const CMsgClassInfo* cls = CMsgRegistry::Instance().Find(module, id);
  if (!cls) {
    Fail("unknown message class [" + std::to_string(module) + "," + std::to_string(id) + "]");
    return;
  }
  if (m_expected && cls != m_expected) {
    Fail("the document holds a [" + cls->Name() + "] message, not a [" + m_expected->Name() + "]");
    return;
  }
  if (name != cls->XmlName()) {
    Fail("root <" + Excerpt(name) + "> does not name class [" + cls->Name() + "]");
    return;
  }
  if (!values[2].empty()) {
    uint64_t type;
    if (!CMsgText::ParseUInt(values[2], type) || type != cls->TypeId()) {
      Fail("type [" + Excerpt(values[2]) + "] is not the type id of [" + cls->Name() + "]");
      return;
    }
  }
  m_root.reset(cls->NewInstance());
  PushMessage(m_root.get(), 1);
}

void CMsgSaxHandler::StartField(const SFrame& top, const std::string& name, const xercesc::Attributes& attrs) {
  static const char* const kAllowed[] = {"a", "b", "h", "enc", nullptr};
  std::string values[4];
  if (!ReadAttributes(attrs, kAllowed, values)) return;
  const CMsgClassInfo& cls = *top.msg->Class();
  int a, b;
  if (!ParseIndex(values[0], a) || !ParseIndex(values[1], b)) {
    Fail("field <" + Excerpt(name) + "> of [" + cls.Name() + "] lacks valid a and b indices");
    return;
  }
  const std::string pair = "[" + std::to_string(a) + "," + std::to_string(b) + "]";
  const SMsgFieldInfo* f = cls.FieldByA(a);
  if (!f || f->b != b) {
    Fail("class [" + cls.Name() + "] has no field " + pair);
    return;
  }
  if (!values[2].empty()) {
    uint64_t hash;
    if (!CMsgText::ParseUInt(values[2], hash) || hash != f->hash) {
      Fail("hash [" + Excerpt(values[2]) + "] of field " + pair + " of [" + cls.Name() + "] is wrong");
      return;
    }
  }
  const char* expectedTag = f->list ? "list" : MsgKindTag(f->kind);
  if (name != expectedTag) {
    Fail("field " + pair + " of [" + cls.Name() + "] holds <" + expectedTag + ">, not <" + Excerpt(name) + ">");
    return;
  }
  const bool base64 = values[3] == "base64";
  if (!values[3].empty() && (!base64 || f->kind != EMsgKind::String || f->list)) {
    Fail("field " + pair + " of [" + cls.Name() + "] cannot have enc=\"" + Excerpt(values[3]) + "\"");
    return;
  }
  if (top.msg->Has(a)) {
    Fail("field " + pair + " of [" + cls.Name() + "] appears twice");
    return;
  }
  if (f->kind == EMsgKind::Message && !f->sub) {
    Fail("field " + pair + " of [" + cls.Name() + "] names an unregistered class");
    return;
  }
  if (f->list) {
    top.msg->TouchField(a, b);
    m_stack.push_back(SFrame{EFrame::List, top.msg, f, top.depth});
  } else if (f->kind == EMsgKind::Message) {
    if (top.depth + 1 > kMsgXmlMaxDepth) {
      Fail("messages nested deeper than " + std::to_string(kMsgXmlMaxDepth) + " levels");
      return;
    }
    PushMessage(&top.msg->MutableMsg(a, b), top.depth + 1);
  } else {
    m_text.clear();
    m_base64 = base64;
    m_stack.push_back(SFrame{EFrame::Scalar, top.msg, f, top.depth});
  }
}

void CMsgSaxHandler::StartItem(const SFrame& top, const std::string& name, const xercesc::Attributes& attrs) {
  static const char* const kAllowed[] = {"enc", nullptr};
  std::string values[1];
  if (!ReadAttributes(attrs, kAllowed, values)) return;
  const SMsgFieldInfo& f = *top.field;
  const std::string where =
      "list [" + std::to_string(f.a) + "," + std::to_string(f.b) + "] of [" + top.msg->Class()->Name() + "]";
  if (name != MsgKindTag(f.kind)) {
    Fail(where + " holds <" + MsgKindTag(f.kind) + ">, not <" + Excerpt(name) + ">");
    return;
  }
  const bool base64 = values[0] == "base64";
  if (!values[0].empty() && (!base64 || f.kind != EMsgKind::String)) {
    Fail("an item of " + where + " cannot have enc=\"" + Excerpt(values[0]) + "\"");
    return;
  }
  if (f.kind == EMsgKind::Message) {
    if (top.depth + 1 > kMsgXmlMaxDepth) {
      Fail("messages nested deeper than " + std::to_string(kMsgXmlMaxDepth) + " levels");
      return;
    }
    PushMessage(&top.msg->AddMsg(f.a, f.b), top.depth + 1);
  } else {
    m_text.clear();
    m_base64 = base64;
    m_stack.push_back(SFrame{EFrame::ListItem, top.msg, &f, top.depth});
  }
}

void CMsgSaxHandler::PushMessage(CNMessageBase* msg, int depth) {
  m_stack.push_back(SFrame{EFrame::Message, msg, nullptr, depth});
}

bool CMsgSaxHandler::ReadAttributes(const xercesc::Attributes& attrs, const char* const* allowed,
                                    std::string* values) {
  for (XMLSize_t i = 0; i < attrs.getLength(); ++i) {
    const std::string name = Utf8(attrs.getQName(i));
    size_t k = 0;
    while (allowed[k] && name != allowed[k]) ++k;
    if (!allowed[k]) {
      Fail("unexpected attribute [" + Excerpt(name) + "]");
      return false;
    }
    values[k] = Utf8(attrs.getValue(i));
  }
  return true;
}

void CMsgSaxHandler::endElement(const XMLCh*, const XMLCh*, const XMLCh*) {
  if (m_failed || m_stack.empty()) return;
  const SFrame frame = m_stack.back();
  m_stack.pop_back();
  if (frame.kind == EFrame::Scalar || frame.kind == EFrame::ListItem) {
    EndValue(frame);
  } else if (frame.kind == EFrame::Message && m_stack.empty()) {
    m_done = true;
  }
}

void CMsgSaxHandler::characters(const XMLCh* chars, const XMLSize_t length) {
  if (m_failed || m_stack.empty()) return;
  const EFrame kind = m_stack.back().kind;
  if (kind == EFrame::Scalar || kind == EFrame::ListItem) {
    CMsgText::AppendUtf8(m_text, chars, length);
    return;
  }
  for (XMLSize_t i = 0; i < length; ++i) {
    if (!IsXmlBlank(chars[i])) {
      std::string text;
      CMsgText::AppendUtf8(text, chars, length);
      Fail("text [" + Excerpt(text) + "] outside a value");
      return;
    }
  }
}

// ---------------------------------------------------------------- values

void CMsgSaxHandler::EndValue(const SFrame& frame) {
  std::string text;
  if (m_base64) {
    if (!CMsgText::DecodeBase64(m_text, text)) {
      Fail("value of field [" + std::to_string(frame.field->a) + "," + std::to_string(frame.field->b) +
           "] is not valid base64");
      return;
    }
  } else {
    text.swap(m_text);
  }
  if (!StoreValue(frame, text)) {
    Fail("[" + Excerpt(text) + "] is not a valid " + MsgKindTag(frame.field->kind) + " for field [" +
         std::to_string(frame.field->a) + "," + std::to_string(frame.field->b) + "] of [" +
         frame.msg->Class()->Name() + "]");
  }
  m_text.clear();
  m_base64 = false;
}

bool CMsgSaxHandler::StoreValue(const SFrame& frame, const std::string& text) {
  const SMsgFieldInfo& f = *frame.field;
  CNMessageBase& m = *frame.msg;
  const bool item = frame.kind == EFrame::ListItem;
  switch (f.kind) {
    case EMsgKind::Bool: {
      bool v;
      if (!CMsgText::ParseBool(text, v)) return false;
      return item ? m.AddBool(f.a, f.b, v) : m.SetBool(f.a, f.b, v);
    }
    case EMsgKind::Int32:
    case EMsgKind::UInt32:
    case EMsgKind::Int64:
    case EMsgKind::UInt64: {
      // The message refuses what the field's kind cannot hold.
      if (!text.empty() && text[0] == '-') {
        int64_t v;
        if (!CMsgText::ParseInt(text, v)) return false;
        return item ? m.AddInt64(f.a, f.b, v) : m.SetInt64(f.a, f.b, v);
      }
      uint64_t v;
      if (!CMsgText::ParseUInt(text, v)) return false;
      return item ? m.AddUInt64(f.a, f.b, v) : m.SetUInt64(f.a, f.b, v);
    }
    case EMsgKind::Float: {
      float v;
      if (!CMsgText::ParseFloat(text, v)) return false;
      return item ? m.AddFloat(f.a, f.b, v) : m.SetFloat(f.a, f.b, v);
    }
    case EMsgKind::Double: {
      double v;
      if (!CMsgText::ParseDouble(text, v)) return false;
      return item ? m.AddDouble(f.a, f.b, v) : m.SetDouble(f.a, f.b, v);
    }
    case EMsgKind::String:
      return item ? m.AddString(f.a, f.b, text) : m.SetString(f.a, f.b, text);
    case EMsgKind::Message:
      break;
  }
  return false;
}

// ---------------------------------------------------------------- DTDs and errors

void CMsgSaxHandler::startDTD(const XMLCh*, const XMLCh*, const XMLCh*) {
  Fail("document type declarations are not accepted");
  // Stop before the parser reads the internal subset.
  throw xercesc::SAXException("document type declarations are not accepted");
}

void CMsgSaxHandler::error(const xercesc::SAXParseException& e) { FailParse("error", e); }

void CMsgSaxHandler::fatalError(const xercesc::SAXParseException& e) { FailParse("not well formed", e); }

void CMsgSaxHandler::FailParse(const char* kind, const xercesc::SAXParseException& e) {
  if (m_failed) return;
  m_failed = true;
  m_error = "line " + std::to_string(e.getLineNumber()) + " column " + std::to_string(e.getColumnNumber()) + ": " +
            kind + ": " + Utf8(e.getMessage());
}
