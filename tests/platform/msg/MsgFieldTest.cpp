// Field access of messages: index pairs, presence, const reads, deep copies,
// lists, number ranges and misuse.
#include <math.h>
#include <stdint.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "log/LogSink.h"
#include "msg/MsgClasses.h"

namespace {

std::string Xml(const CNMessageBase& m) {
  std::string out;
  EXPECT_TRUE(m.serializeUTF8(out));
  return out;
}

}  // namespace

TEST(MsgField, IndexPairsResolveAsTheNotationSays) {
  MsgTest::AllKinds m;
  // Field 2 is (2, 12); field 17 is (17, 2): set with (a, b), presence by a,
  // integer read by b.
  ASSERT_TRUE(m.SetInt32(2, 12, 7));
  EXPECT_TRUE(m.Has(2));
  EXPECT_FALSE(m.Has(12));
  EXPECT_FALSE(m.Has(17));
  EXPECT_EQ(7, m.GetInt32(12));
  EXPECT_EQ(0, m.GetInt32(2)) << "read index 2 belongs to field 17, still absent";
  ASSERT_TRUE(m.SetInt32(17, 2, 99));
  EXPECT_EQ(99, m.GetInt32(2));
  EXPECT_EQ(7, m.GetInt32(12));

  // A string is set and read with both indices.
  ASSERT_TRUE(m.SetString(8, 18, "text"));
  EXPECT_TRUE(m.Has(8));
  EXPECT_EQ("text", m.GetString(8, 18));

  // A pair the class does not declare is refused and logged.
  CLogSink::Instance().ClearCapture();
  EXPECT_FALSE(m.SetInt32(2, 2, 5));
  EXPECT_EQ(7, m.GetInt32(12));
  EXPECT_TRUE(CLogSink::Instance().Contains("has the index pair [2,12], not [2,2]", "SetInt32"));
  EXPECT_EQ("", m.GetString(8, 8));
  EXPECT_FALSE(m.SetString(99, 99, "x"));

  // The same rules on registered classes whose pairs differ.
  Api::VirtualApp app;
  ASSERT_TRUE(app.SetInt32(23, 32, 1));
  EXPECT_TRUE(app.Has(23));
  EXPECT_FALSE(app.Has(32));
  EXPECT_EQ(1, app.GetInt32(32));
  ZnEntities::GenericEntity entity;
  ASSERT_TRUE(entity.SetInt64(17, 47, 123456789012LL));
  ASSERT_TRUE(entity.SetString(18, 48, "client-a"));
  EXPECT_EQ(123456789012LL, entity.GetInt64(47));
  EXPECT_EQ("client-a", entity.GetString(18, 48));
}

TEST(MsgField, ConstReadsOfMissingThingsCreateNothing) {
  Api::VirtualApp app;
  const std::string before = Xml(app);
  const Api::VirtualApp& c = app;

  const CNMessageBase& config = c.GetMsg(Api::VirtualApp::kConfig);
  EXPECT_EQ(0u, config.ListSize(TMMsg::DRGroupConfigFields::kPriorities));
  EXPECT_EQ(12, config.Module());
  EXPECT_EQ(186, config.Id()) << "an empty message of the declared class";
  EXPECT_FALSE(config.Has(TMMsg::DRGroupConfigFields::kPriorities));
  EXPECT_EQ(0, c.GetInt32(Api::VirtualApp::kApprovalRequired));
  EXPECT_EQ(0u, c.GetMsg(Api::VirtualApp::kAllocationPolicy).FieldCount());
  // Reading through a missing list element is no access either.
  const TMMsg::VMGroup& group = config.GetListMsgAs<TMMsg::VMGroup>(TMMsg::DRGroupConfigFields::kPriorities, 3);
  EXPECT_EQ(0u, group.ListSize(TMMsg::VMGroup::kVMSequence));

  EXPECT_FALSE(app.Has(Api::VirtualApp::kConfig));
  EXPECT_FALSE(app.Has(Api::VirtualApp::kAllocationPolicy));
  EXPECT_EQ(0u, app.FieldCount());
  EXPECT_EQ(before, Xml(app)) << "serialisation sees nothing new";
  EXPECT_EQ(0u, Api::VirtualApp::ClassInfo().Empty().FieldCount()) << "the shared empty message stays empty";
}

TEST(MsgField, MutableAccessCreatesTheDeclaredClassAndMarksPresence) {
  Api::VirtualApp app;
  using Entry = TMMsg::VMDependencyOrder;
  using Vm = ZnEntities::VirtualMachineEntity;
  CNMessageBase& config = app.MutableMsg(Api::VirtualApp::kConfig);
  EXPECT_TRUE(app.Has(Api::VirtualApp::kConfig));
  EXPECT_EQ(211123931u, config.TypeId());

  TMMsg::VMGroup& group = config.AddMsgAs<TMMsg::VMGroup>(TMMsg::DRGroupConfigFields::kPriorities);
  group.SetInt32(TMMsg::VMGroup::kPriority, 2);
  Entry& entry = group.AddMsgAs<Entry>(TMMsg::VMGroup::kVMSequence);
  entry.MutableMsgAs<Vm>(Entry::kVMEntity).SetString(Vm::kName, "vm-1");
  entry.SetInt64(Entry::kReplicationId, 41);

  const Api::VirtualApp& c = app;
  const TMMsg::VMGroup& read =
      c.GetMsg(Api::VirtualApp::kConfig).GetListMsgAs<TMMsg::VMGroup>(TMMsg::DRGroupConfigFields::kPriorities, 0);
  EXPECT_EQ(2, read.GetInt32(TMMsg::VMGroup::kPriority));
  const auto& e = read.GetListMsgAs<Entry>(TMMsg::VMGroup::kVMSequence, 0);
  EXPECT_EQ("vm-1", e.GetMsgAs<Vm>(Entry::kVMEntity).GetString(Vm::kName));
  EXPECT_EQ(41, e.GetInt32(Entry::kReplicationId)) << "an int64 field read as a 32-bit int";

  // Touching a list makes it present and empty.
  TMMsg::VMGroup g;
  ASSERT_TRUE(g.TouchField(TMMsg::VMGroup::kVMSequence));
  EXPECT_TRUE(g.Has(TMMsg::VMGroup::kVMSequence));
  EXPECT_EQ(0u, g.ListSize(TMMsg::VMGroup::kVMSequence));
}

TEST(MsgField, CopiesAreDeepAndKeepTheWrapperTypes) {
  TMMsg::VMGroup original;
  using Entry = TMMsg::VMDependencyOrder;
  using Vm = ZnEntities::VirtualMachineEntity;
  original.SetInt32(TMMsg::VMGroup::kPriority, 1);
  for (int i = 0; i < 3; ++i) {
    auto& e = original.AddMsgAs<Entry>(TMMsg::VMGroup::kVMSequence);
    e.SetInt64(Entry::kReplicationId, 100 + i);
    e.MutableMsgAs<Vm>(Entry::kVMEntity).SetString(Vm::kName, "vm" + std::to_string(i));
  }
  const std::string before = Xml(original);

  TMMsg::VMGroup copy(original);
  TMMsg::VMGroup assigned;
  assigned = original;
  for (TMMsg::VMGroup* m : {&copy, &assigned}) {
    EXPECT_TRUE(*m == original);
    auto& e = m->MutableListMsgAs<Entry>(TMMsg::VMGroup::kVMSequence, 1);
    e.SetInt64(Entry::kReplicationId, 7);
    e.MutableMsgAs<Vm>(Entry::kVMEntity).SetString(Vm::kName, "changed");
    m->ListRemove(TMMsg::VMGroup::kVMSequence, 0);
    m->SetInt32(TMMsg::VMGroup::kPriority, 9);
    EXPECT_FALSE(*m == original);
  }
  EXPECT_EQ(before, Xml(original)) << "changing copies leaves the original alone";

  // Copying a message into a part of itself is safe.
  using N = MsgTest::Node;
  N node;
  node.SetString(N::kName, "root");
  node.MutableMsg(N::kChild).SetString(N::kName, "child");
  ASSERT_TRUE(node.SetMsg(N::kChild, node));
  EXPECT_EQ("root", node.GetMsg(N::kChild).GetString(N::kName));
  EXPECT_EQ("child", node.GetMsg(N::kChild).GetMsg(N::kChild).GetString(N::kName));
  node = N(node.GetMsg(N::kChild));
  EXPECT_EQ("root", node.GetString(N::kName));

  // So is copying a text of the message into a field it does not hold yet,
  // whose arrival moves the fields already there.
  const std::string text(64, 'x');  // too long to live inside the string object
  Ida::VHardDisk disk;
  disk.SetString(Ida::VHardDisk::kDiskId, text);
  ASSERT_TRUE(disk.SetString(Ida::VHardDisk::kParentDiskName, disk.GetString(Ida::VHardDisk::kDiskId)));
  EXPECT_EQ(text, disk.GetString(Ida::VHardDisk::kParentDiskName));
  using All = MsgTest::AllKinds;
  All all;
  all.SetString(All::kString, text);
  ASSERT_TRUE(all.AddString(All::kStringList, all.GetString(All::kString)));
  EXPECT_EQ(text, all.GetListString(All::kStringList, 0));
}

TEST(MsgField, ListsAppendReadRemoveAndClear) {
  using K = MsgTest::AllKinds;
  K m;
  for (int v : {5, -6, 7}) ASSERT_TRUE(m.AddInt32(K::kInt32List, v));
  EXPECT_EQ(3u, m.ListSize(K::kInt32List));
  EXPECT_EQ(-6, m.GetListInt32(K::kInt32List, 1));
  ASSERT_TRUE(m.SetListInt64(K::kInt32List, 1, 60));
  EXPECT_FALSE(m.SetListInt64(K::kInt32List, 1, INT64_MAX)) << "int32 items keep their range";
  ASSERT_TRUE(m.ListRemove(K::kInt32List, 0));
  std::vector<int32_t> ints;
  ASSERT_TRUE(m.GetInt32List(K::kInt32List, ints));
  EXPECT_EQ((std::vector<int32_t>{60, 7}), ints);
  EXPECT_FALSE(m.ListRemove(K::kInt32List, 2));
  EXPECT_EQ(0, m.GetListInt32(K::kInt32List, 5)) << "out of range reads the default";

  ASSERT_TRUE(m.SetInt32List(K::kInt32List, {1, 2, 3, 4}));
  EXPECT_EQ(4u, m.ListSize(K::kInt32List));
  ASSERT_TRUE(m.ListClear(K::kInt32List));
  EXPECT_TRUE(m.Has(K::kInt32List)) << "an emptied list stays present";
  EXPECT_EQ(0u, m.ListSize(K::kInt32List));
  std::vector<int32_t> untouched{9};
  EXPECT_FALSE(m.GetInt32List(K::kInt64List, untouched)) << "absent list";
  EXPECT_EQ(std::vector<int32_t>{9}, untouched);

  ASSERT_TRUE(m.AddString(K::kStringList, "a"));
  ASSERT_TRUE(m.AddString(K::kStringList, "b"));
  ASSERT_TRUE(m.SetListString(K::kStringList, 0, "z"));
  EXPECT_EQ("z", m.GetListString(K::kStringList, 0));
  EXPECT_EQ("b", m.GetListString(K::kStringList, 1));
  ASSERT_TRUE(m.AddUInt64(K::kUInt64List, UINT64_MAX));
  EXPECT_EQ(UINT64_MAX, m.GetListUInt64(K::kUInt64List, 0));
  EXPECT_FALSE(m.AddInt64(K::kUInt64List, -1));
  ASSERT_TRUE(m.AddBool(K::kBoolList, true));
  EXPECT_TRUE(m.GetListBool(K::kBoolList, 0));
  ASSERT_TRUE(m.AddDouble(K::kDoubleList, 2.5));
  EXPECT_EQ(2.5, m.GetListDouble(K::kDoubleList, 0));

  // Elements of message lists keep their address while the list grows.
  using N = MsgTest::Node;
  CNMessageBase& first = m.AddMsg(K::kNodes);
  first.SetString(N::kName, "first");
  for (int i = 0; i < 100; ++i) m.AddMsg(K::kNodes).SetInt32(N::kValue, i);
  EXPECT_EQ("first", first.GetString(N::kName));
  EXPECT_EQ(&first, &m.MutableListMsg(K::kNodes, 0));
  EXPECT_EQ(101u, m.ListSize(K::kNodes));
  ASSERT_TRUE(m.ListRemove(K::kNodes, 0));
  EXPECT_EQ(0, m.GetListMsg(K::kNodes, 0).GetInt32(N::kValue));
  EXPECT_FALSE(m.AppendMsg(K::kNodes, TMMsg::VMGroup())) << "an element of another class";
  ASSERT_TRUE(m.AppendMsg(K::kNodes, m.GetListMsg(K::kNodes, 5))) << "a copy of an element of the same list";
  EXPECT_EQ(5, m.GetListMsg(K::kNodes, 100).GetInt32(N::kValue));
}

TEST(MsgField, NumbersAreCheckedAgainstTheFieldKind) {
  using K = MsgTest::AllKinds;
  K m;
  ASSERT_TRUE(m.SetInt32(K::kInt32, 1));
  EXPECT_FALSE(m.SetInt64(K::kInt32, INT64_C(1) << 40));
  EXPECT_FALSE(m.SetUInt64(K::kInt32, UINT64_C(1) << 31));
  EXPECT_EQ(1, m.GetInt32(K::kInt32)) << "a refused value leaves the field as it was";
  EXPECT_FALSE(m.SetInt32(K::kUInt32, -1));
  ASSERT_TRUE(m.SetUInt32(K::kUInt32, UINT32_MAX));
  EXPECT_EQ(UINT32_MAX, m.GetUInt32(K::kUInt32));
  EXPECT_FALSE(m.SetInt32(K::kBool, 2)) << "a bool holds 0 or 1";
  ASSERT_TRUE(m.SetBool(K::kBool, true));
  EXPECT_EQ(1, m.GetInt32(K::kBool));
  ASSERT_TRUE(m.SetInt64(K::kInt64, INT64_MIN));
  EXPECT_EQ(INT64_MIN, m.GetInt64(K::kInt64));
  ASSERT_TRUE(m.SetUInt64(K::kUInt64, UINT64_MAX));
  EXPECT_EQ(UINT64_MAX, m.GetUInt64(K::kUInt64));
  EXPECT_FALSE(m.SetInt64(K::kUInt64, -5));
  EXPECT_FALSE(m.SetDouble(K::kFloat, 1e300)) << "beyond the float range";
  ASSERT_TRUE(m.SetDouble(K::kFloat, 0.1));
  EXPECT_EQ(0.1f, m.GetFloat(K::kFloat)) << "float fields keep float precision";
  ASSERT_TRUE(m.SetDouble(K::kDouble, -1e300));
  EXPECT_EQ(INT32_MIN, m.GetInt32(K::kDouble)) << "reals saturate when read as integers";
  EXPECT_EQ(-INFINITY, m.GetFloat(K::kDouble));
  ASSERT_TRUE(m.SetInt32(K::kDouble, 3)) << "integers go into real fields";
  EXPECT_EQ(3.0, m.GetDouble(K::kDouble));
  EXPECT_FALSE(m.SetDouble(K::kInt32, 1.5)) << "reals do not go into integer fields";
}

TEST(MsgField, MisuseIsRefusedAndWritesGoNowhere) {
  using K = MsgTest::AllKinds;
  K m;
  CLogSink::Instance().ClearCapture();
  EXPECT_FALSE(m.SetString(K::kInt32, "7"));
  EXPECT_EQ("", m.GetString(K::kInt32));
  EXPECT_EQ(0, m.GetInt32(K::kString)) << "a string field read as a number";
  CNMessageBase& scratch = m.MutableMsg(K::kInt32);
  scratch.SetString(MsgTest::Node::kName, "lost");
  EXPECT_FALSE(m.Has(K::kInt32));
  EXPECT_EQ(0u, m.ListSize(K::kNode));
  EXPECT_FALSE(m.AddInt32(K::kStringList, 1)) << "a string list";
  EXPECT_FALSE(m.SetMsg(K::kNode, TMMsg::VMGroup()));
  EXPECT_EQ(0u, m.FieldCount());
  EXPECT_GE(CLogSink::Instance().Count("not"), 5u);

  // A typed access to a field of another class is refused.
  TMMsg::VMDependencyOrder e;
  TMMsg::VMGroup& wrong = e.MutableMsgAs<TMMsg::VMGroup>(TMMsg::VMDependencyOrder::kPreScript);
  wrong.SetInt32(TMMsg::VMGroup::kPriority, 5);
  EXPECT_EQ(0u, e.GetMsg(TMMsg::VMDependencyOrder::kPreScript).FieldCount()) << "the script record is untouched";
}

TEST(MsgField, ClassesAreKeptAcrossAssignment) {
  TMMsg::VMGroup group;
  group.SetInt32(TMMsg::VMGroup::kPriority, 4);
  Api::VirtualApp app;
  app.SetInt32(Api::VirtualApp::kApprovalRequired, 1);
  CLogSink::Instance().ClearCapture();
  group = app;
  EXPECT_EQ(4, group.GetInt32(TMMsg::VMGroup::kPriority));
  EXPECT_EQ(TMMsg::VMGroup::ClassInfo().TypeId(), group.TypeId());
  EXPECT_TRUE(CLogSink::Instance().Contains("Cannot assign a [Api::VirtualApp] message to a [TMMsg::VMGroup]"));

  CNMessageBase generic;
  EXPECT_FALSE(generic.IsValid());
  generic = group;
  EXPECT_EQ(244, generic.Id());
  TMMsg::VMGroup back(generic);
  EXPECT_TRUE(back == group);
  TMMsg::VMGroup refused(app);
  EXPECT_EQ(0u, refused.FieldCount());
}

TEST(MsgField, AnonymousClassesAreReachedByModuleAndId) {
  CNMessageBase config(12, 186);
  ASSERT_TRUE(config.IsValid());
  CNMessageBase& group = config.AddMsg(TMMsg::DRGroupConfigFields::kPriorities);
  EXPECT_NE(nullptr, dynamic_cast<TMMsg::VMGroup*>(&group)) << "elements are built as their wrapper class";

  std::unique_ptr<CNMessageBase> repl = CNMessageBase::Create(12, 545);
  ASSERT_NE(nullptr, repl);
  ASSERT_TRUE(repl->SetInt32List(TMMsg::DRReplicationInfoFields::kReplicationIds, {11, 12}));
  TMMsg::DROrchestrationOption option;
  ASSERT_TRUE(option.SetMsg(TMMsg::DROrchestrationOption::kReplicationInfo, *repl));
  std::vector<int32_t> ids;
  ASSERT_TRUE(option.GetMsg(TMMsg::DROrchestrationOption::kReplicationInfo)
                  .GetInt32List(TMMsg::DRReplicationInfoFields::kReplicationIds, ids));
  EXPECT_EQ((std::vector<int32_t>{11, 12}), ids);

  EXPECT_EQ(nullptr, CNMessageBase::Create(12, 99999));
  CNMessageBase unknown(12, 99999);
  EXPECT_FALSE(unknown.IsValid());
  EXPECT_FALSE(unknown.SetInt32(1, 1, 1));
  std::string out = "kept";
  EXPECT_FALSE(unknown.serializeUTF8(out));
  EXPECT_EQ("kept", out);
}

namespace {

size_t ErrorLines() {
  size_t n = 0;
  for (const SLogLine& line : CLogSink::Instance().Captured()) n += line.level == 0 ? 1 : 0;
  return n;
}

}  // namespace

TEST(MsgField, FieldConstantsPassTheIndexEachAccessNeeds) {
  // Every field of AllKinds has a != b, and kCrossedInt32's b is kInt32's a:
  // a constant form that passed the wrong index would be refused (logged) or
  // read the other field.
  using K = MsgTest::AllKinds;
  using N = MsgTest::Node;
  CLogSink::Instance().ClearCapture();
  K m;
  ASSERT_TRUE(m.SetBool(K::kBool, true));
  ASSERT_TRUE(m.SetInt32(K::kInt32, 7));
  ASSERT_TRUE(m.SetInt32(K::kCrossedInt32, 99));
  ASSERT_TRUE(m.SetUInt32(K::kUInt32, 8));
  ASSERT_TRUE(m.SetInt64(K::kInt64, -9));
  ASSERT_TRUE(m.SetUInt64(K::kUInt64, 10));
  ASSERT_TRUE(m.SetFloat(K::kFloat, 1.5f));
  ASSERT_TRUE(m.SetDouble(K::kDouble, 2.5));
  ASSERT_TRUE(m.SetString(K::kString, "s"));
  EXPECT_TRUE(m.GetBool(K::kBool));
  EXPECT_EQ(7, m.GetInt32(K::kInt32));
  EXPECT_EQ(99, m.GetInt32(K::kCrossedInt32));
  EXPECT_EQ(8u, m.GetUInt32(K::kUInt32));
  EXPECT_EQ(-9, m.GetInt64(K::kInt64));
  EXPECT_EQ(10u, m.GetUInt64(K::kUInt64));
  EXPECT_EQ(1.5f, m.GetFloat(K::kFloat));
  EXPECT_EQ(2.5, m.GetDouble(K::kDouble));
  EXPECT_EQ("s", m.GetString(K::kString));
  EXPECT_TRUE(m.Has(K::kInt32));
  m.ClearField(K::kCrossedInt32);
  EXPECT_FALSE(m.Has(K::kCrossedInt32));
  EXPECT_EQ(7, m.GetInt32(K::kInt32));

  m.MutableMsg(K::kNode).SetString(N::kName, "child");
  m.MutableMsgAs<N>(K::kNode).SetInt32(N::kValue, 3);
  EXPECT_EQ("child", m.GetMsg(K::kNode).GetString(N::kName));
  EXPECT_EQ(3, m.GetMsgAs<N>(K::kNode).GetInt32(N::kValue));
  N replacement;
  replacement.SetString(N::kName, "replaced");
  ASSERT_TRUE(m.SetMsg(K::kNode, replacement));
  EXPECT_EQ("replaced", m.GetMsgAs<N>(K::kNode).GetString(N::kName));

  m.AddMsg(K::kNodes).SetInt32(N::kValue, 1);
  m.AddMsgAs<N>(K::kNodes).SetInt32(N::kValue, 2);
  ASSERT_TRUE(m.AppendMsg(K::kNodes, replacement));
  m.MutableListMsg(K::kNodes, 0).SetString(N::kName, "first");
  m.MutableListMsgAs<N>(K::kNodes, 1).SetString(N::kName, "second");
  EXPECT_EQ(3u, m.ListSize(K::kNodes));
  EXPECT_EQ("first", m.GetListMsg(K::kNodes, 0).GetString(N::kName));
  EXPECT_EQ(2, m.GetListMsgAs<N>(K::kNodes, 1).GetInt32(N::kValue));
  ASSERT_TRUE(m.ListRemove(K::kNodes, 0));
  EXPECT_EQ("replaced", m.GetListMsgAs<N>(K::kNodes, 1).GetString(N::kName));

  ASSERT_TRUE(m.AddInt32(K::kInt32List, 1));
  ASSERT_TRUE(m.AddInt32(K::kInt32List, 2));
  ASSERT_TRUE(m.AddInt64(K::kInt64List, 3));
  ASSERT_TRUE(m.SetListInt64(K::kInt64List, 0, 4));
  ASSERT_TRUE(m.AddUInt32(K::kUInt64List, 5));
  ASSERT_TRUE(m.AddUInt64(K::kUInt64List, 6));
  ASSERT_TRUE(m.SetListUInt64(K::kUInt64List, 0, 7));
  ASSERT_TRUE(m.AddFloat(K::kDoubleList, 0.5f));
  ASSERT_TRUE(m.AddDouble(K::kDoubleList, 8.5));
  ASSERT_TRUE(m.SetListDouble(K::kDoubleList, 0, 9.5));
  ASSERT_TRUE(m.AddBool(K::kBoolList, true));
  ASSERT_TRUE(m.AddString(K::kStringList, "a"));
  ASSERT_TRUE(m.SetListString(K::kStringList, 0, "b"));
  EXPECT_EQ(2, m.GetListInt32(K::kInt32List, 1));
  EXPECT_EQ(4, m.GetListInt64(K::kInt64List, 0));
  EXPECT_EQ(7u, m.GetListUInt64(K::kUInt64List, 0));
  EXPECT_EQ(6u, m.GetListUInt32(K::kUInt64List, 1));
  EXPECT_EQ(9.5, m.GetListDouble(K::kDoubleList, 0));
  EXPECT_TRUE(m.GetListBool(K::kBoolList, 0));
  EXPECT_EQ("b", m.GetListString(K::kStringList, 0));
  std::vector<int32_t> ints;
  ASSERT_TRUE(m.GetInt32List(K::kInt32List, ints));
  EXPECT_EQ((std::vector<int32_t>{1, 2}), ints);
  ASSERT_TRUE(m.SetInt32List(K::kInt32List, {4, 5, 6}));
  EXPECT_EQ(3u, m.ListSize(K::kInt32List));
  ASSERT_TRUE(m.ListClear(K::kInt32List));
  EXPECT_EQ(0u, m.ListSize(K::kInt32List));
  K touched;
  ASSERT_TRUE(touched.TouchField(K::kStringList));
  EXPECT_TRUE(touched.Has(K::kStringList));
  EXPECT_EQ(0u, ErrorLines()) << "no access by constant was refused";

  // The same content written by index pairs is the same message.
  K byPairs;
  byPairs.SetBool(1, 1, true);
  byPairs.SetInt32(2, 12, 7);
  byPairs.SetUInt32(3, 13, 8);
  byPairs.SetInt64(4, 14, -9);
  byPairs.SetUInt64(5, 15, 10);
  byPairs.SetFloat(6, 16, 1.5f);
  byPairs.SetDouble(7, 17, 2.5);
  byPairs.SetString(8, 18, "s");
  byPairs.MutableMsg(9, 19).SetString(1, 1, "replaced");
  CNMessageBase& second = byPairs.AddMsg(10, 20);
  second.SetString(1, 1, "second");
  second.SetInt32(2, 2, 2);
  byPairs.AppendMsg(10, 20, replacement);
  byPairs.TouchField(11, 21);
  byPairs.AddInt64(12, 22, 4);
  byPairs.AddUInt64(14, 24, 7);
  byPairs.AddUInt64(14, 24, 6);
  byPairs.AddDouble(15, 25, 9.5);
  byPairs.AddDouble(15, 25, 8.5);
  byPairs.AddBool(16, 26, true);
  byPairs.AddString(13, 23, "b");
  EXPECT_EQ(Xml(byPairs), Xml(m));
}

TEST(MsgField, AConstantOfAnotherClassIsRefusedEvenWhereItsPairFits) {
  // The details request's job id and the job's replication id are both (4, 4)
  // int32: by pair the mix-up would pass unnoticed.
  Api::VirtualAppJob job;
  ASSERT_TRUE(job.SetInt32(Api::VirtualAppJob::kReplicationId, 5));
  CLogSink::Instance().ClearCapture();
  EXPECT_FALSE(job.SetInt32(Api::VirtualAppJobDetailsReq::kJobId, 6));
  EXPECT_EQ(0, job.GetInt32(Api::VirtualAppJobDetailsReq::kJobId));
  EXPECT_FALSE(job.Has(Api::VirtualAppJobDetailsReq::kJobId));
  EXPECT_TRUE(CLogSink::Instance().Contains("Field [4,4] of class [118,203] used on a [Api::VirtualAppJob] message",
                                            "SetInt32"));
  EXPECT_EQ(5, job.GetInt32(Api::VirtualAppJob::kReplicationId));

  // Reads give defaults, writes go nowhere, and the message is unchanged.
  const std::string before = Xml(job);
  job.MutableMsg(Api::VirtualAppJobPhase::kPhaseInfo).SetInt32(Api::VirtualAppJobInfo::kOperationType, 1);
  job.AddMsg(Api::VirtualAppJobDetailsResp::kJobs).SetInt32(Api::VirtualAppJob::kReplicationId, 1);
  job.AddMsgAs<Api::VirtualAppJobPhase>(Api::VirtualAppJobDetailsResp::kJobs);
  job.MutableMsgAs<Api::VirtualAppPhaseInfo>(Api::VirtualAppJobPhase::kPhaseInfo);
  EXPECT_FALSE(job.AppendMsg(Api::VirtualAppJobDetailsResp::kJobs, Api::VirtualAppJob()));
  EXPECT_FALSE(job.SetString(Api::GenericResp::kText, "x"));
  EXPECT_FALSE(job.TouchField(Api::VirtualAppJobUpdateReq::kJobs));
  job.ClearField(Api::VirtualAppJobDetailsReq::kJobId);
  EXPECT_EQ(0u, job.ListSize(Api::VirtualAppJobDetailsResp::kJobs));
  EXPECT_EQ(0u, job.GetMsg(Api::VirtualAppJobPhase::kPhaseInfo).FieldCount());
  EXPECT_EQ("", job.GetString(Api::GenericResp::kText));
  EXPECT_EQ(before, Xml(job));
  EXPECT_GE(CLogSink::Instance().Count("used on a [Api::VirtualAppJob] message"), 10u);

  // Classes without a wrapper carry their constants in a ...Fields struct.
  CNMessageBase config(TMMsg::DRGroupConfigFields::ClassInfo());
  config.AddMsgAs<TMMsg::VMGroup>(TMMsg::DRGroupConfigFields::kPriorities).SetInt32(TMMsg::VMGroup::kPriority, 2);
  Api::VirtualApp app;
  ASSERT_TRUE(app.SetMsg(Api::VirtualApp::kConfig, config));
  EXPECT_EQ(2, app.GetMsg(Api::VirtualApp::kConfig)
                   .GetListMsgAs<TMMsg::VMGroup>(TMMsg::DRGroupConfigFields::kPriorities, 0)
                   .GetInt32(TMMsg::VMGroup::kPriority));
  EXPECT_EQ(TMMsg::DRGroupConfigFields::kTypeId, app.GetMsg(Api::VirtualApp::kConfig).TypeId());
}
