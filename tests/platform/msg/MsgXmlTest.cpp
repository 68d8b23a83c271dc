// XML form of messages: round trips, the formatted form and the serializer's
// flags.
#include <math.h>
#include <stdint.h>

#include <string>

#include <gtest/gtest.h>

#include "log/LogSink.h"
#include "msg/MsgClasses.h"
#include "msg/XMLSerializer.h"

namespace {

// The flags the DR group helpers build their formatted XML with.
const EncodingFlags kFormatted = {1, 0, 1, 0, 0, -1, 0, 0, 1, 0, 0};

MsgTest::AllKinds RichMessage() {
  MsgTest::AllKinds m;
  m.SetBool(1, 1, true);
  m.SetInt32(2, 12, INT32_MIN);
  m.SetUInt32(3, 13, UINT32_MAX);
  m.SetInt64(4, 14, INT64_MIN);
  m.SetUInt64(5, 15, UINT64_MAX);
  m.SetFloat(6, 16, 3.4028235e38f);
  m.SetDouble(7, 17, -2.2250738585072014e-308);
  m.SetString(8, 18, "Gr\xC3\xBC\xC3\x9F" "e, \xE6\x9D\xB1\xE4\xBA\xAC \xF0\x9F\x9A\x80 a<b & c>\"d\" 'e' ]]> \r\n\t end ");
  m.SetInt32(17, 2, INT32_MAX);

  CNMessageBase& child = m.MutableMsg(9, 19);
  child.SetString(1, 1, "child");
  child.MutableMsg(3, 3).MutableMsg(3, 3).SetInt32(2, 2, -1);
  m.AddMsg(10, 20);  // an empty element
  CNMessageBase& second = m.AddMsg(10, 20);
  second.SetString(1, 1, "");
  second.TouchField(4, 4);  // present and empty
  second.AddMsg(4, 4).SetInt32(2, 2, 5);

  for (int32_t v : {INT32_MIN, 0, INT32_MAX}) m.AddInt32(11, 21, v);
  for (int64_t v : {INT64_MIN, INT64_C(-1), INT64_MAX}) m.AddInt64(12, 22, v);
  m.AddString(13, 23, "");
  m.AddString(13, 23, std::string("bytes \x01\x02\xFF\x00 end", 14));  // not XML text
  m.AddString(13, 23, "  spaced  ");
  m.AddUInt64(14, 24, 0);
  m.AddUInt64(14, 24, UINT64_MAX);
  for (double v : {0.1, -0.0, 1e308, 5e-324, double(INFINITY), -double(INFINITY), double(NAN)}) {
    m.AddDouble(15, 25, v);
  }
  m.AddBool(16, 26, false);
  m.AddBool(16, 26, true);
  return m;
}

std::string Compact(const CNMessageBase& m) {
  std::string out;
  EXPECT_TRUE(m.serializeUTF8(out));
  return out;
}

}  // namespace

TEST(MsgXml, RoundTripKeepsEveryKindValueAndStructure) {
  const MsgTest::AllKinds original = RichMessage();
  std::string formatted;
  XMLSerializer serializer(kFormatted);
  ASSERT_EQ(0, serializer.serialize(original, formatted, true));

  for (const std::string& xml : {Compact(original), formatted}) {
    MsgTest::AllKinds parsed;
    std::string error;
    ASSERT_TRUE(parsed.Unserialize(xml, &error)) << error << "\n" << xml;
    EXPECT_TRUE(parsed == original) << Compact(parsed) << "\n" << Compact(original);
    EXPECT_EQ(INT64_MIN, parsed.GetInt64(14));
    EXPECT_EQ(UINT64_MAX, parsed.GetUInt64(15));
    EXPECT_EQ(original.GetString(8, 18), parsed.GetString(8, 18));
    EXPECT_EQ(std::string("bytes \x01\x02\xFF\x00 end", 14), parsed.GetListString(13, 23, 1));
    EXPECT_TRUE(parsed.Has(10));
    EXPECT_TRUE(parsed.GetListMsg(10, 20, 1).Has(4)) << "an empty present list survives";
    EXPECT_EQ(0u, parsed.GetListMsg(10, 20, 0).FieldCount());
    EXPECT_EQ(-1, parsed.GetMsg(9, 19).GetMsg(3, 3).GetMsg(3, 3).GetInt32(2));

    std::unique_ptr<CNMessageBase> any = CNMessageBase::CreateFromXml(xml, &error);
    ASSERT_NE(nullptr, any) << error;
    EXPECT_NE(nullptr, dynamic_cast<MsgTest::AllKinds*>(any.get())) << "the factory builds the wrapper class";
    EXPECT_TRUE(*any == original);
  }
  EXPECT_EQ(Compact(original), Compact(*CNMessageBase::CreateFromXml(Compact(original))));
}

TEST(MsgXml, FormattedXmlIsIndentedAndReadsBack) {
  TMMsg::VMGroup group;
  group.SetInt32(1, 1, 2);
  auto& entry = group.AddMsgAs<TMMsg::VMDependencyOrder>(4, 4);
  entry.MutableMsg(1, 1).SetString(0, 0, "vm <a> & \"b\"");
  entry.SetInt64(9, 9, 42);
  group.AddMsg(4, 4);

  std::string xml;
  XMLSerializer serializer(kFormatted);
  ASSERT_EQ(0, serializer.serialize(group, xml, true));
  EXPECT_EQ(
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<TMMsg.VMGroup ns=\"12\" id=\"244\" type=\"215684616\">\n"
      "  <i32 a=\"1\" b=\"1\">2</i32>\n"
      "  <list a=\"4\" b=\"4\">\n"
      "    <msg>\n"
      "      <msg a=\"1\" b=\"1\">\n"
      "        <str a=\"0\" b=\"0\">vm &lt;a&gt; &amp; &quot;b&quot;</str>\n"
      "      </msg>\n"
      "      <i64 a=\"9\" b=\"9\">42</i64>\n"
      "    </msg>\n"
      "    <msg/>\n"
      "  </list>\n"
      "</TMMsg.VMGroup>\n",
      xml);
  TMMsg::VMGroup back;
  ASSERT_TRUE(back.Unserialize(xml));
  EXPECT_TRUE(back == group);

  ASSERT_EQ(0, serializer.serialize(group, xml, false));
  EXPECT_EQ(0u, xml.find("<TMMsg.VMGroup ")) << "no declaration when not asked";
  std::string compact;
  ASSERT_TRUE(group.serializeUTF8(compact, false));
  EXPECT_EQ(std::string::npos, compact.find('\n'));
}

TEST(MsgXml, SerializerFlagsAreHonoured) {
  MsgTest::AllKinds m;
  m.SetBool(1, 1, true);
  m.SetString(8, 18, "\xC3\xA9t\xC3\xA9");
  m.TouchField(9, 19);

  EncodingFlags flags;
  flags.writeFieldHashes = true;
  flags.writeTypeId = false;
  flags.boolAsText = true;
  flags.escapeNonAscii = true;
  flags.shortEmptyElements = false;
  std::string xml;
  ASSERT_EQ(0, XMLSerializer(flags).serialize(m, xml, true));
  const uint32_t hash = MsgTest::AllKinds::ClassInfo().FieldByA(1)->hash;
  EXPECT_NE(std::string::npos, xml.find("<bool a=\"1\" b=\"1\" h=\"" + std::to_string(hash) + "\">true</bool>"));
  EXPECT_EQ(std::string::npos, xml.find("type="));
  EXPECT_NE(std::string::npos, xml.find("&#xe9;t&#xe9;"));
  EXPECT_NE(std::string::npos, xml.find("<msg a=\"9\" b=\"19\" h=\"")) << xml;
  EXPECT_NE(std::string::npos, xml.find("></msg>"));
  MsgTest::AllKinds back;
  ASSERT_TRUE(back.Unserialize(xml));
  EXPECT_TRUE(back == m);

  // A hash that is not the field's is refused.
  std::string wrongHash = xml;
  wrongHash.replace(wrongHash.find(std::to_string(hash)), std::to_string(hash).size(), "1");
  EXPECT_FALSE(back.Unserialize(wrongHash));

  flags = EncodingFlags();
  flags.omitDeclaration = true;
  ASSERT_EQ(0, XMLSerializer(flags).serialize(m, xml, true));
  EXPECT_EQ(0u, xml.find("<MsgTest.AllKinds"));

  std::string kept = "kept";
  flags.maxOutputBytes = 20;
  EXPECT_EQ(XMLSerializer::kTooLarge, XMLSerializer(flags).serialize(m, kept, true));
  flags = EncodingFlags();
  flags.encoding = 1;
  EXPECT_EQ(XMLSerializer::kUnsupportedEncoding, XMLSerializer(flags).serialize(m, kept, true));
  flags = EncodingFlags();
  flags.maxDepth = 1;
  EXPECT_EQ(XMLSerializer::kTooDeep, XMLSerializer(flags).serialize(m, kept, true));
  EXPECT_EQ(XMLSerializer::kNoClass, XMLSerializer(flags).serialize(CNMessageBase(), kept, true));
  EXPECT_EQ("kept", kept) << "a failed serialisation leaves the output alone";
}

TEST(MsgXml, NestingIsCappedOnWriteAsOnRead) {
  MsgTest::Node root;
  CNMessageBase* node = &root;
  for (int depth = 1; depth < 64; ++depth) node = &node->MutableMsg(3, 3);
  std::string xml;
  ASSERT_TRUE(root.serializeUTF8(xml)) << "64 levels are fine";
  MsgTest::Node back;
  ASSERT_TRUE(back.Unserialize(xml));
  EXPECT_TRUE(back == root);

  node->AddMsg(4, 4);  // level 65, through a list
  std::string kept = "kept";
  EXPECT_FALSE(root.serializeUTF8(kept));
  EXPECT_EQ("kept", kept);
}

TEST(MsgXml, ADrGroupRoundTripsThroughItsAnonymousConfiguration) {
  Api::VirtualApp app;
  app.SetInt32(23, 32, 1);
  CNMessageBase& config = app.MutableMsg(8, 11);
  for (int p = 1; p <= 3; ++p) {
    auto& group = config.AddMsgAs<TMMsg::VMGroup>(4, 7);
    group.SetInt32(1, 1, p);
    group.SetInt32(3, 3, p % 2);
    for (int v = 0; v < 2; ++v) {
      auto& entry = group.AddMsgAs<TMMsg::VMDependencyOrder>(4, 4);
      entry.MutableMsgAs<ZnEntities::VirtualMachineEntity>(1, 1).SetString(0, 0, "vm" + std::to_string(p * 10 + v));
      entry.SetInt64(9, 9, p * 10 + v);
      entry.MutableMsg(2, 2).SetString(2, 2, "echo pre");
    }
  }
  std::string xml;
  ASSERT_TRUE(app.serializeUTF8(xml));
  Api::VirtualApp back;
  ASSERT_TRUE(back.Unserialize(xml));
  ASSERT_TRUE(back == app);
  const CNMessageBase& groups = static_cast<const Api::VirtualApp&>(back).GetMsg(8, 11);
  ASSERT_EQ(3u, groups.ListSize(4, 7));
  const auto& third = groups.GetListMsgAs<TMMsg::VMGroup>(4, 7, 2);
  EXPECT_EQ(3, third.GetInt32(1));
  EXPECT_EQ(31, third.GetListMsgAs<TMMsg::VMDependencyOrder>(4, 4, 1).GetInt32(9));
  EXPECT_EQ("echo pre", third.GetListMsg(4, 4, 0).GetMsg(2, 2).GetString(2, 2));
}
