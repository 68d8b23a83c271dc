// Messages written and read from many threads at once: the first use of the
// registry and of the XML library races, every thread parses with its own
// parser, and a shared message is only read.
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "TestThread.h"
#include "msg/MsgClasses.h"
#include "msg/XMLSerializer.h"

namespace {

Api::VirtualApp MakeGroup(int seed) {
  Api::VirtualApp app;
  using Entry = TMMsg::VMDependencyOrder;
  app.SetInt32(Api::VirtualApp::kApprovalRequired, seed % 2);
  CNMessageBase& config = app.MutableMsg(Api::VirtualApp::kConfig);
  for (int p = 0; p < 3; ++p) {
    auto& group = config.AddMsgAs<TMMsg::VMGroup>(TMMsg::DRGroupConfigFields::kPriorities);
    group.SetInt32(TMMsg::VMGroup::kPriority, seed + p);
    auto& entry = group.AddMsgAs<Entry>(TMMsg::VMGroup::kVMSequence);
    entry.MutableMsgAs<ZnEntities::VirtualMachineEntity>(Entry::kVMEntity)
        .SetString(ZnEntities::VirtualMachineEntity::kName, "vm-" + std::to_string(seed));
    entry.SetInt64(Entry::kReplicationId, seed * 1000 + p);
  }
  return app;
}

}  // namespace

TEST(MsgConcurrency, EightThreadsWriteAndReadMessagesAtOnce) {
  constexpr int kThreads = 8;
  constexpr int kRounds = 150;
  const MsgTest::AllKinds shared = [] {
    MsgTest::AllKinds m;
    m.SetString(MsgTest::AllKinds::kString, "shared \xE2\x98\xBA");
    m.AddMsg(MsgTest::AllKinds::kNodes).SetInt32(MsgTest::Node::kValue, 1);
    return m;
  }();
  std::atomic<int> failures{0};
  std::atomic<bool> go{false};
  std::vector<drtest::CTestThread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      while (!go.load()) std::this_thread::yield();
      XMLSerializer formatted(EncodingFlags{1, 0, 1, 0, 0, -1, 0, 0, 1, 0, 0});
      for (int i = 0; i < kRounds; ++i) {
        const int seed = t * kRounds + i;
        const Api::VirtualApp app = MakeGroup(seed);
        std::string xml;
        if (i % 2 ? !app.serializeUTF8(xml) : formatted.serialize(app, xml, true) != 0) ++failures;
        Api::VirtualApp back;
        if (!back.Unserialize(xml) || !(back == app)) ++failures;
        // A bad document on the same thread's parser must not disturb the next.
        if (back.Unserialize(xml.substr(0, xml.size() / 2))) ++failures;
        if (CNMessageBase::CreateFromXml("<!DOCTYPE x [<!ENTITY a \"a\">]><x/>")) ++failures;
        std::string sharedXml;
        if (!shared.serializeUTF8(sharedXml)) ++failures;
        std::unique_ptr<CNMessageBase> copy = CNMessageBase::CreateFromXml(sharedXml);
        if (!copy || !(*copy == shared)) ++failures;
      }
    });
    // Starting the rest may fail: the ones already waiting must not spin on.
    threads.back().OnStop([&go] { go = true; });
  }
  go = true;
  for (drtest::CTestThread& th : threads) ASSERT_TRUE(th.Join());
  EXPECT_EQ(0, failures.load());
}
