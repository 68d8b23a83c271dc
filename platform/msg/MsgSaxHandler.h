// Builds one message from the SAX events of one XML document in the form
// CMsgXmlWriter writes, checking everything against the registry as it goes:
// the root names a registered class (the expected one, when given), every
// field element names a field of its message with the right index pair and
// kind, appears once, and holds a valid value of that kind; nesting stays
// within kMsgXmlMaxDepth; DTDs are refused.
//
// The first problem is kept (with its line and column) and every later event
// is ignored; the owner stops feeding the parser once Failed() is true.
// A handler serves one document.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include <xercesc/sax/Locator.hpp>
#include <xercesc/sax2/DefaultHandler.hpp>

#include "msg/NMessageBase.h"

class CMsgSaxHandler : public xercesc::DefaultHandler {
 public:
  // expected may be null: then any registered class is accepted.
  explicit CMsgSaxHandler(const CMsgClassInfo* expected);

  bool Failed() const { return m_failed; }
  bool Done() const { return m_done; }
  const std::string& Error() const { return m_error; }
  // The message, when the document was complete and valid; null otherwise.
  std::unique_ptr<CNMessageBase> TakeResult();
  // Records a problem found outside the SAX events (e.g. by the parser's
  // caller).
  void Fail(const std::string& why);

  // ContentHandler
  void setDocumentLocator(const xercesc::Locator* locator) override;
  void startElement(const XMLCh* uri, const XMLCh* localname, const XMLCh* qname,
                    const xercesc::Attributes& attrs) override;
  void endElement(const XMLCh* uri, const XMLCh* localname, const XMLCh* qname) override;
  void characters(const XMLCh* chars, const XMLSize_t length) override;

  // LexicalHandler
  void startDTD(const XMLCh* name, const XMLCh* publicId, const XMLCh* systemId) override;

  // ErrorHandler
  void error(const xercesc::SAXParseException& e) override;
  void fatalError(const xercesc::SAXParseException& e) override;

 private:
  enum class EFrame { Message, List, Scalar, ListItem };
  struct SFrame {
    EFrame kind;
    CNMessageBase* msg;           // the message being filled, or the owner of the field
    const SMsgFieldInfo* field;   // List, Scalar, ListItem
    int depth;                    // nesting of the message (root = 1)
  };

  void StartRoot(const std::string& name, const xercesc::Attributes& attrs);
  void StartField(const SFrame& top, const std::string& name, const xercesc::Attributes& attrs);
  void StartItem(const SFrame& top, const std::string& name, const xercesc::Attributes& attrs);
  void PushMessage(CNMessageBase* msg, int depth);
  bool ReadAttributes(const xercesc::Attributes& attrs, const char* const* allowed, std::string* values);
  void EndValue(const SFrame& frame);
  bool StoreValue(const SFrame& frame, const std::string& text);
  void FailParse(const char* kind, const xercesc::SAXParseException& e);

  const CMsgClassInfo* m_expected;
  const xercesc::Locator* m_locator;
  std::unique_ptr<CNMessageBase> m_root;
  std::vector<SFrame> m_stack;
  std::string m_text;    // text of the value being read
  bool m_base64;         // the value being read is base64
  bool m_failed;
  bool m_done;
  std::string m_error;
};
