// Documents that are not valid messages: each gives an error result, a log
// line and no change to the target, never a crash or a partly filled message.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "log/LogSink.h"
#include "msg/MsgClasses.h"
#include "msg/MsgXmlReader.h"

namespace {

const std::string kDecl = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>";
const std::string kNodeOpen = "<MsgTest.Node ns=\"250\" id=\"2\">";
const std::string kNodeClose = "</MsgTest.Node>";
const std::string kAllOpen = "<MsgTest.AllKinds ns=\"250\" id=\"1\">";
const std::string kAllClose = "</MsgTest.AllKinds>";

std::string Node(const std::string& body) { return kDecl + kNodeOpen + body + kNodeClose; }
std::string All(const std::string& body) { return kDecl + kAllOpen + body + kAllClose; }

std::string Nested(int levels) {
  std::string open, close;
  for (int i = 1; i < levels; ++i) {
    open += "<msg a=\"3\" b=\"3\">";
    close += "</msg>";
  }
  return Node(open + close);
}

std::string Repeat(const std::string& s, int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out += s;
  return out;
}

struct SBadCase {
  const char* name;
  std::string xml;
  const char* errorFragment;  // expected in the error text
};

std::vector<SBadCase> BadNodeDocuments() {
  const std::string valid = Node("<str a=\"1\" b=\"1\">fine</str><i32 a=\"2\" b=\"2\">5</i32>");
  return {
      {"empty", "", ""},
      {"not xml", "this is not XML", ""},
      {"truncated", valid.substr(0, valid.size() - 9), ""},
      {"truncated in a value", valid.substr(0, valid.find("fine") + 2), ""},
      {"mismatched tags", Node("<str a=\"1\" b=\"1\">x</i32>"), "not well formed"},
      {"wrong root class", kDecl + "<TMMsg.VMGroup ns=\"12\" id=\"244\"/>", "not a [MsgTest::Node]"},
      {"unknown class", kDecl + "<Msg.12.99999 ns=\"12\" id=\"99999\"/>", "unknown message class [12,99999]"},
      {"root name not the class", kDecl + "<Other ns=\"250\" id=\"2\"/>", "does not name class"},
      {"root without ids", kDecl + "<MsgTest.Node/>", "lacks a valid ns and id"},
      {"wrong type id", kDecl + "<MsgTest.Node ns=\"250\" id=\"2\" type=\"5\"/>", "is not the type id"},
      {"unknown field", Node("<i32 a=\"9\" b=\"9\">1</i32>"), "has no field [9,9]"},
      {"wrong b index", Node("<i32 a=\"2\" b=\"3\">1</i32>"), "has no field [2,3]"},
      {"wrong kind tag", Node("<str a=\"2\" b=\"2\">1</str>"), "holds <i32>, not <str>"},
      {"bad number", Node("<i32 a=\"2\" b=\"2\">12x</i32>"), "is not a valid i32"},
      {"empty number", Node("<i32 a=\"2\" b=\"2\"/>"), "is not a valid i32"},
      {"blank around number", Node("<i32 a=\"2\" b=\"2\"> 1</i32>"), "is not a valid i32"},
      {"int32 overflow", Node("<i32 a=\"2\" b=\"2\">2147483648</i32>"), "is not a valid i32"},
      {"int32 underflow", Node("<i32 a=\"2\" b=\"2\">-2147483649</i32>"), "is not a valid i32"},
      {"huge number", Node("<i32 a=\"2\" b=\"2\">" + std::string(5000, '9') + "</i32>"), "is not a valid i32"},
      {"duplicate field", Node("<i32 a=\"2\" b=\"2\">1</i32><i32 a=\"2\" b=\"2\">2</i32>"), "appears twice"},
      {"text outside a value", Node("stray<i32 a=\"2\" b=\"2\">1</i32>"), "outside a value"},
      {"element inside a value", Node("<str a=\"1\" b=\"1\">x<b/></str>"), "inside a value"},
      {"unexpected attribute", Node("<str a=\"1\" b=\"1\" x=\"1\">x</str>"), "unexpected attribute [x]"},
      {"bad base64", Node("<str a=\"1\" b=\"1\" enc=\"base64\">@@@@</str>"), "not valid base64"},
      {"unknown encoding", Node("<str a=\"1\" b=\"1\" enc=\"hex\">00</str>"), "cannot have enc"},
      {"list item of another kind", Node("<list a=\"4\" b=\"4\"><i32>1</i32></list>"), "holds <msg>, not <i32>"},
      {"list item with indices", Node("<list a=\"4\" b=\"4\"><msg a=\"1\" b=\"1\"/></list>"), "unexpected attribute"},
      {"list where a message is", Node("<list a=\"3\" b=\"3\"/>"), "holds <msg>, not <list>"},
      {"bad value deep inside", Node("<list a=\"4\" b=\"4\"><msg/><msg><msg a=\"3\" b=\"3\"><i32 a=\"2\" b=\"2\">x</i32>"
                                     "</msg></msg></list>"),
       "is not a valid i32"},
      {"nesting of 65", Nested(65), "nested deeper than 64"},
      {"nesting of 100000", Nested(100000), "nested deeper than 64"},
      {"undeclared entity", Node("<str a=\"1\" b=\"1\">&boom;</str>"), ""},
      {"second root", Node("") + kNodeOpen + kNodeClose, ""},
      {"garbage after root", Node("") + "<", ""},
      {"entity expansion", kDecl + "<!DOCTYPE MsgTest.Node [<!ENTITY a \"aaaaaaaaaa\"><!ENTITY b \"&a;&a;&a;&a;&a;&a;\">"
                                   "<!ENTITY c \"&b;&b;&b;&b;&b;&b;\">]>" + kNodeOpen +
                                   "<str a=\"1\" b=\"1\">&c;&c;&c;&c;</str>" + kNodeClose,
       "document type declarations are not accepted"},
      {"external entity", kDecl + "<!DOCTYPE MsgTest.Node [<!ENTITY x SYSTEM \"file:///etc/passwd\">]>" + kNodeOpen +
                              "<str a=\"1\" b=\"1\">&x;</str>" + kNodeClose,
       "document type declarations are not accepted"},
      {"external DTD", kDecl + "<!DOCTYPE MsgTest.Node SYSTEM \"http://127.0.0.1:1/x.dtd\">" + kNodeOpen + kNodeClose,
       "document type declarations are not accepted"},
      // A UTF-16 document would hide its DOCTYPE from a byte search; it is
      // read as UTF-8 and fails.
      {"utf-16 document", std::string("\xFF\xFE<\0!\0D\0O\0C\0T\0Y\0P\0E\0 \0x\0>\0<\0x\0/\0>\0", 26), ""},
  };
}

}  // namespace

TEST(MsgXmlBadInput, EveryBadDocumentIsRefusedAndLeavesTheTargetAlone) {
  MsgTest::Node target;
  target.SetString(MsgTest::Node::kName, "before");
  target.MutableMsg(MsgTest::Node::kChild).SetInt32(MsgTest::Node::kValue, 7);
  const MsgTest::Node snapshot = target;

  for (const SBadCase& c : BadNodeDocuments()) {
    SCOPED_TRACE(c.name);
    CLogSink::Instance().ClearCapture();
    std::string error;
    EXPECT_FALSE(target.Unserialize(c.xml, &error));
    EXPECT_FALSE(error.empty());
    EXPECT_NE(std::string::npos, error.find(c.errorFragment)) << error;
    EXPECT_TRUE(target == snapshot) << "the target is untouched";
    EXPECT_TRUE(CLogSink::Instance().Contains("Cannot read MsgTest::Node message from XML", "Unserialize"));

    if (std::string(c.name) == "wrong root class") continue;  // a fine document of another class
    std::string anyError;
    EXPECT_EQ(nullptr, CNMessageBase::CreateFromXml(c.xml, &anyError));
    EXPECT_FALSE(anyError.empty());
  }
}

TEST(MsgXmlBadInput, ValuesOutsideTheFieldKindAreRefused) {
  const std::vector<std::pair<const char*, std::string>> cases = {
      {"uint32 negative", "<u32 a=\"3\" b=\"13\">-1</u32>"},
      {"uint32 overflow", "<u32 a=\"3\" b=\"13\">4294967296</u32>"},
      {"int64 overflow", "<i64 a=\"4\" b=\"14\">9223372036854775808</i64>"},
      {"int64 underflow", "<i64 a=\"4\" b=\"14\">-9223372036854775809</i64>"},
      {"uint64 overflow", "<u64 a=\"5\" b=\"15\">18446744073709551616</u64>"},
      {"float overflow", "<f32 a=\"6\" b=\"16\">1e39</f32>"},
      {"double overflow", "<f64 a=\"7\" b=\"17\">1e400</f64>"},
      {"double with a plus", "<f64 a=\"7\" b=\"17\">+1</f64>"},
      {"bool 2", "<bool a=\"1\" b=\"1\">2</bool>"},
      {"bool word", "<bool a=\"1\" b=\"1\">yes</bool>"},
      {"hex number", "<i32 a=\"2\" b=\"12\">0x10</i32>"},
      {"list item overflow", "<list a=\"11\" b=\"21\"><i32>1</i32><i32>99999999999</i32></list>"},
      {"int list item text", "<list a=\"12\" b=\"22\"><i64>one</i64></list>"},
  };
  MsgTest::AllKinds target;
  target.SetInt32(MsgTest::AllKinds::kInt32, 1);
  const MsgTest::AllKinds snapshot = target;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.first);
    std::string error;
    EXPECT_FALSE(target.Unserialize(All(c.second), &error));
    EXPECT_NE(std::string::npos, error.find("is not a valid")) << error;
    EXPECT_TRUE(target == snapshot);
  }
  // The limits themselves are fine.
  EXPECT_TRUE(target.Unserialize(All("<u32 a=\"3\" b=\"13\">4294967295</u32><i64 a=\"4\" b=\"14\">-9223372036854775808"
                                     "</i64><f32 a=\"6\" b=\"16\">3.4028235e38</f32><bool a=\"1\" b=\"1\">true</bool>")));
  EXPECT_EQ(UINT32_MAX, target.GetUInt32(MsgTest::AllKinds::kUInt32));
  EXPECT_EQ(INT64_MIN, target.GetInt64(MsgTest::AllKinds::kInt64));
  EXPECT_TRUE(target.GetBool(MsgTest::AllKinds::kBool));
}

TEST(MsgXmlBadInput, HarmlessVariationsAreAccepted) {
  MsgTest::Node node;
  // Blank lines, comments, processing instructions, CDATA, character
  // references, CRLF line ends, a BOM and another declared encoding (the
  // text is read as UTF-8 whatever it declares).
  const std::string xml = "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\r\n<!-- a comment -->\r\n" +
                          kNodeOpen + "\r\n  <?pi data?>\r\n  <str a=\"1\" b=\"1\"><![CDATA[<raw & text>]]>&#x263A;</str>" +
                          "\r\n  <i32 a=\"2\" b=\"2\">-0</i32>\r\n" + kNodeClose + "\r\n";
  std::string error;
  ASSERT_TRUE(node.Unserialize(xml, &error)) << error;
  EXPECT_EQ("<raw & text>\xE2\x98\xBA", node.GetString(MsgTest::Node::kName));
  EXPECT_EQ(0, node.GetInt32(MsgTest::Node::kValue));
  // Many character references are not an entity expansion attack.
  ASSERT_TRUE(node.Unserialize(Node("<str a=\"1\" b=\"1\">" + Repeat("&amp;&lt;&#65;", 2000) + "</str>"), &error))
      << error;
  EXPECT_EQ(6000u, node.GetString(MsgTest::Node::kName).size());
}

TEST(MsgXmlBadInput, ADocumentOverTheSizeLimitIsRefusedBeforeItIsParsed) {
  MsgTest::Node target;
  target.SetString(MsgTest::Node::kName, "before");
  const MsgTest::Node snapshot = target;

  // At the library's limit: a valid document one byte too long. It is built
  // once; parsing it would take far more memory than the text.
  const std::string head = kDecl + kNodeOpen + "<str a=\"1\" b=\"1\">";
  const std::string tail = "</str>" + kNodeClose;
  std::string huge;
  huge.reserve(kMsgXmlMaxInputBytes + 1);
  huge = head;
  huge.append(kMsgXmlMaxInputBytes + 1 - head.size() - tail.size(), 'x');
  huge += tail;
  ASSERT_EQ(kMsgXmlMaxInputBytes + 1, huge.size());
  CLogSink::Instance().ClearCapture();
  std::string error;
  EXPECT_FALSE(target.Unserialize(huge, &error));
  EXPECT_NE(std::string::npos, error.find("bytes exceeds the limit of 67108864 bytes")) << error;
  EXPECT_TRUE(target == snapshot) << "the target is untouched";
  EXPECT_TRUE(CLogSink::Instance().Contains("exceeds the limit", "Unserialize"));
  error.clear();
  EXPECT_EQ(nullptr, CNMessageBase::CreateFromXml(huge, &error));
  EXPECT_NE(std::string::npos, error.find("exceeds the limit")) << error;
  huge.clear();
  huge.shrink_to_fit();

  // The boundary itself, on a small document under a lowered limit: exactly
  // the limit parses, one byte more does not.
  const std::string doc = Node("<str a=\"1\" b=\"1\">" + std::string(1000, 'y') + "</str>");
  std::unique_ptr<CNMessageBase> parsed = CMsgXmlReader::Parse(doc, &MsgTest::Node::ClassInfo(), &error, doc.size());
  ASSERT_NE(nullptr, parsed) << error;
  EXPECT_EQ(std::string(1000, 'y'), parsed->GetString(MsgTest::Node::kName));
  error.clear();
  EXPECT_EQ(nullptr, CMsgXmlReader::Parse(doc, &MsgTest::Node::ClassInfo(), &error, doc.size() - 1));
  EXPECT_NE(std::string::npos, error.find("exceeds the limit")) << error;
  EXPECT_TRUE(target.Unserialize(doc)) << "far below the library's limit";
}
