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

using K = MsgTest::AllKinds;
using XNode = MsgTest::Node;

// The flags the DR group helpers build their formatted XML with.
const EncodingFlags kFormatted = {1, 0, 1, 0, 0, -1, 0, 0, 1, 0, 0};

MsgTest::AllKinds RichMessage() {
  MsgTest::AllKinds m;
  m.SetBool(K::kBool, true);
  m.SetInt32(K::kInt32, INT32_MIN);
  m.SetUInt32(K::kUInt32, UINT32_MAX);
  m.SetInt64(K::kInt64, INT64_MIN);
  m.SetUInt64(K::kUInt64, UINT64_MAX);
  m.SetFloat(K::kFloat, 3.4028235e38f);
  m.SetDouble(K::kDouble, -2.2250738585072014e-308);
  m.SetString(K::kString, "Gr\xC3\xBC\xC3\x9F" "e, \xE6\x9D\xB1\xE4\xBA\xAC \xF0\x9F\x9A\x80 a<b & c>\"d\" 'e' ]]> \r\n\t end ");
  m.SetInt32(K::kCrossedInt32, INT32_MAX);

  CNMessageBase& child = m.MutableMsg(K::kNode);
  child.SetString(XNode::kName, "child");
  child.MutableMsg(XNode::kChild).MutableMsg(XNode::kChild).SetInt32(XNode::kValue, -1);
  m.AddMsg(K::kNodes);  // an empty element
  CNMessageBase& second = m.AddMsg(K::kNodes);
  second.SetString(XNode::kName, "");
  second.TouchField(XNode::kChildren);  // present and empty
  second.AddMsg(XNode::kChildren).SetInt32(XNode::kValue, 5);

  for (int32_t v : {INT32_MIN, 0, INT32_MAX}) m.AddInt32(K::kInt32List, v);
  for (int64_t v : {INT64_MIN, INT64_C(-1), INT64_MAX}) m.AddInt64(K::kInt64List, v);
  m.AddString(K::kStringList, "");
  m.AddString(K::kStringList, std::string("bytes \x01\x02\xFF\x00 end", 14));  // not XML text
  m.AddString(K::kStringList, "  spaced  ");
  m.AddUInt64(K::kUInt64List, 0);
  m.AddUInt64(K::kUInt64List, UINT64_MAX);
  for (double v : {0.1, -0.0, 1e308, 5e-324, double(INFINITY), -double(INFINITY), double(NAN)}) {
    m.AddDouble(K::kDoubleList, v);
  }
  m.AddBool(K::kBoolList, false);
  m.AddBool(K::kBoolList, true);
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
    EXPECT_EQ(INT64_MIN, parsed.GetInt64(K::kInt64));
    EXPECT_EQ(UINT64_MAX, parsed.GetUInt64(K::kUInt64));
    EXPECT_EQ(original.GetString(K::kString), parsed.GetString(K::kString));
    EXPECT_EQ(std::string("bytes \x01\x02\xFF\x00 end", 14), parsed.GetListString(K::kStringList, 1));
    EXPECT_TRUE(parsed.Has(K::kNodes));
    EXPECT_TRUE(parsed.GetListMsg(K::kNodes, 1).Has(XNode::kChildren)) << "an empty present list survives";
    EXPECT_EQ(0u, parsed.GetListMsg(K::kNodes, 0).FieldCount());
    EXPECT_EQ(-1, parsed.GetMsg(K::kNode).GetMsg(XNode::kChild).GetMsg(XNode::kChild).GetInt32(XNode::kValue));

    std::unique_ptr<CNMessageBase> any = CNMessageBase::CreateFromXml(xml, &error);
    ASSERT_NE(nullptr, any) << error;
    EXPECT_NE(nullptr, dynamic_cast<MsgTest::AllKinds*>(any.get())) << "the factory builds the wrapper class";
    EXPECT_TRUE(*any == original);
  }
  EXPECT_EQ(Compact(original), Compact(*CNMessageBase::CreateFromXml(Compact(original))));
}

TEST(MsgXml, FormattedXmlIsIndentedAndReadsBack) {
  TMMsg::VMGroup group;
  group.SetInt32(TMMsg::VMGroup::kPriority, 2);
  auto& entry = group.AddMsgAs<TMMsg::VMDependencyOrder>(TMMsg::VMGroup::kVMSequence);
  entry.MutableMsg(TMMsg::VMDependencyOrder::kVMEntity)
      .SetString(ZnEntities::VirtualMachineEntity::kName, "vm <a> & \"b\"");
  entry.SetInt64(TMMsg::VMDependencyOrder::kReplicationId, 42);
  group.AddMsg(TMMsg::VMGroup::kVMSequence);

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
  m.SetBool(K::kBool, true);
  m.SetString(K::kString, "\xC3\xA9t\xC3\xA9");
  m.TouchField(K::kNode);

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
  for (int depth = 1; depth < 64; ++depth) node = &node->MutableMsg(XNode::kChild);
  std::string xml;
  ASSERT_TRUE(root.serializeUTF8(xml)) << "64 levels are fine";
  MsgTest::Node back;
  ASSERT_TRUE(back.Unserialize(xml));
  EXPECT_TRUE(back == root);

  node->AddMsg(XNode::kChildren);  // level 65, through a list
  std::string kept = "kept";
  EXPECT_FALSE(root.serializeUTF8(kept));
  EXPECT_EQ("kept", kept);
}

TEST(MsgXml, ADrGroupRoundTripsThroughItsAnonymousConfiguration) {
  Api::VirtualApp app;
  using Entry = TMMsg::VMDependencyOrder;
  using Priorities = TMMsg::DRGroupConfigFields;
  app.SetInt32(Api::VirtualApp::kApprovalRequired, 1);
  CNMessageBase& config = app.MutableMsg(Api::VirtualApp::kConfig);
  for (int p = 1; p <= 3; ++p) {
    auto& group = config.AddMsgAs<TMMsg::VMGroup>(Priorities::kPriorities);
    group.SetInt32(TMMsg::VMGroup::kPriority, p);
    group.SetInt32(TMMsg::VMGroup::kContinueOnFailure, p % 2);
    for (int v = 0; v < 2; ++v) {
      auto& entry = group.AddMsgAs<Entry>(TMMsg::VMGroup::kVMSequence);
      entry.MutableMsgAs<ZnEntities::VirtualMachineEntity>(Entry::kVMEntity)
          .SetString(ZnEntities::VirtualMachineEntity::kName, "vm" + std::to_string(p * 10 + v));
      entry.SetInt64(Entry::kReplicationId, p * 10 + v);
      entry.MutableMsg(Entry::kPreScript).SetString(TMMsg::ScriptFields::kScriptText, "echo pre");
    }
  }
  std::string xml;
  ASSERT_TRUE(app.serializeUTF8(xml));
  Api::VirtualApp back;
  ASSERT_TRUE(back.Unserialize(xml));
  ASSERT_TRUE(back == app);
  const CNMessageBase& groups = static_cast<const Api::VirtualApp&>(back).GetMsg(Api::VirtualApp::kConfig);
  ASSERT_EQ(3u, groups.ListSize(Priorities::kPriorities));
  const auto& third = groups.GetListMsgAs<TMMsg::VMGroup>(Priorities::kPriorities, 2);
  EXPECT_EQ(3, third.GetInt32(TMMsg::VMGroup::kPriority));
  EXPECT_EQ(31, third.GetListMsgAs<Entry>(TMMsg::VMGroup::kVMSequence, 1).GetInt32(Entry::kReplicationId));
  EXPECT_EQ("echo pre", third.GetListMsg(TMMsg::VMGroup::kVMSequence, 0)
                            .GetMsg(Entry::kPreScript)
                            .GetString(TMMsg::ScriptFields::kScriptText));
}
