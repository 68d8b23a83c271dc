#include "msg/MsgXmlReader.h"

#include <xercesc/framework/MemBufInputSource.hpp>
#include <xercesc/framework/XMLPScanToken.hpp>
#include <xercesc/sax2/SAX2XMLReader.hpp>
#include <xercesc/sax2/XMLReaderFactory.hpp>
#include <xercesc/util/OutOfMemoryException.hpp>
#include <xercesc/util/SecurityManager.hpp>
#include <xercesc/util/XMLException.hpp>
#include <xercesc/util/XMLUni.hpp>

#include "core/Mutex.h"
#include "log/EvEvent.h"
#include "msg/MsgSaxHandler.h"
#include "msg/MsgText.h"
#include "msg/XercesInit.h"

namespace {

using namespace xercesc;

// A configured parser, reused for document after document.
struct SThreadParser {
  SecurityManager security;
  std::unique_ptr<SAX2XMLReader> reader;
};

std::unique_ptr<SThreadParser> NewParser() {
  auto p = std::make_unique<SThreadParser>();
  // Only the entities of the XML standard are ever expanded; the limit is a
  // second line behind the refusal of DTDs.
  p->security.setEntityExpansionLimit(16);
  p->reader.reset(XMLReaderFactory::createXMLReader());
  SAX2XMLReader& r = *p->reader;
  r.setFeature(XMLUni::fgSAX2CoreNameSpaces, false);
  r.setFeature(XMLUni::fgSAX2CoreNameSpacePrefixes, false);
  r.setFeature(XMLUni::fgSAX2CoreValidation, false);
  r.setFeature(XMLUni::fgXercesDynamic, false);
  r.setFeature(XMLUni::fgXercesSchema, false);
  r.setFeature(XMLUni::fgXercesLoadExternalDTD, false);
  r.setFeature(XMLUni::fgXercesDisableDefaultEntityResolution, true);
  r.setProperty(XMLUni::fgXercesSecurityManager, &p->security);
  return p;
}

// Parsers lent out one parse at a time. A parser is several hundred
// kilobytes, and a DR job runs hundreds of threads that each parse now and
// then: a parser per thread made memory grow with the thread count, while
// only a few parses ever run at once.
class CParserPool {
 public:
  std::unique_ptr<SThreadParser> Take() {
    {
      CMutexLock lk(m_mutex);
      if (!m_idle.empty()) {
        std::unique_ptr<SThreadParser> p = std::move(m_idle.back());
        m_idle.pop_back();
        return p;
      }
    }
    return NewParser();
  }
  // A parser left by an exception may hold state: it is dropped.
  void Give(std::unique_ptr<SThreadParser> p, bool clean) {
    if (!clean) return;
    CMutexLock lk(m_mutex);
    if (m_idle.size() < kMaxIdle) m_idle.push_back(std::move(p));
  }

 private:
  static constexpr size_t kMaxIdle = 16;
  CMutex m_mutex;
  std::vector<std::unique_ptr<SThreadParser>> m_idle DR_GUARDED_BY(m_mutex);
};

CParserPool& Parsers() {
  // Never destroyed: a thread may parse while the process exits.
  static CParserPool* pool = new CParserPool();
  return *pool;
}

// Runs the parse, token by token, until the document ends or the handler
// has seen enough. False when the parser had to be abandoned.
bool RunParser(SAX2XMLReader& reader, const std::string& xml, CMsgSaxHandler& handler) {
  MemBufInputSource source(reinterpret_cast<const XMLByte*>(xml.data()), xml.size(), "message", false);
  source.setEncoding(XMLUni::fgUTF8EncodingString);
  reader.setContentHandler(&handler);
  reader.setErrorHandler(&handler);
  reader.setLexicalHandler(&handler);
  reader.setEntityResolver(nullptr);
  bool clean = true;
  try {
    XMLPScanToken token;
    bool more = reader.parseFirst(source, token);
    while (more && !handler.Failed()) more = reader.parseNext(token);
    if (!handler.Done() || handler.Failed()) reader.parseReset(token);
  } catch (const OutOfMemoryException&) {
    handler.Fail("out of memory while parsing");
    clean = false;
  } catch (const XMLException& e) {
    std::string why = "parser error: ";
    if (e.getMessage()) CMsgText::AppendUtf8(why, e.getMessage(), XMLString::stringLen(e.getMessage()));
    handler.Fail(why);
    clean = false;
  } catch (const SAXException& e) {
    std::string why = "parse stopped: ";
    if (e.getMessage()) CMsgText::AppendUtf8(why, e.getMessage(), XMLString::stringLen(e.getMessage()));
    handler.Fail(why);
    clean = false;
  } catch (...) {
    handler.Fail("parser error");
    clean = false;
  }
  reader.setContentHandler(nullptr);
  reader.setErrorHandler(nullptr);
  reader.setLexicalHandler(nullptr);
  return clean;
}

}  // namespace

std::unique_ptr<CNMessageBase> CMsgXmlReader::Parse(const std::string& xml, const CMsgClassInfo* expected,
                                                    std::string* error, size_t maxBytes) {
  std::string why;
  std::unique_ptr<CNMessageBase> result;
  if (xml.size() > maxBytes) {
    why = "document of " + std::to_string(xml.size()) + " bytes exceeds the limit of " + std::to_string(maxBytes) +
          " bytes";
  } else if (!CXercesInit::Ensure(&why)) {
    // reported below
  } else if (xml.find("<!DOCTYPE") != std::string::npos) {
    // Read as UTF-8 whatever the document declares, a DTD cannot hide from
    // this test; the handler refuses one as well.
    why = "document type declarations are not accepted";
  } else {
    CMsgSaxHandler handler(expected);
    std::unique_ptr<SThreadParser> parser = Parsers().Take();
    const bool clean = RunParser(*parser->reader, xml, handler);
    Parsers().Give(std::move(parser), clean);
    if (!handler.Failed() && !handler.Done()) handler.Fail("the document ends before the message");
    result = handler.TakeResult();
    if (!result) why = handler.Error();
  }
  if (!result) {
    EvDebug().Error("Unserialize", "Cannot read %s message from XML: %s [%.200s]",
                    expected ? expected->Name().c_str() : "a", why.c_str(), xml.c_str());
    if (error) *error = why;
  }
  return result;
}
