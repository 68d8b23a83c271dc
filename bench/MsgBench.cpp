// Messages per second through the XML form: a DR group (Api::VirtualApp) with
// ten priorities of four VM-sequence entries each, written and read back,
// beside a bare DOM parse of the same text by the XML library.
#include <memory>
#include <string>

#include <benchmark/benchmark.h>
#include <xercesc/framework/MemBufInputSource.hpp>
#include <xercesc/parsers/XercesDOMParser.hpp>

#include "msg/MsgClasses.h"
#include "msg/XMLSerializer.h"
#include "msg/XercesInit.h"

namespace {

Api::VirtualApp MakeDrGroup() {
  Api::VirtualApp app;
  using Entry = TMMsg::VMDependencyOrder;
  using Vm = ZnEntities::VirtualMachineEntity;
  app.SetInt32(Api::VirtualApp::kApprovalRequired, 1);
  CNMessageBase& config = app.MutableMsg(Api::VirtualApp::kConfig);
  for (int p = 1; p <= 10; ++p) {
    auto& group = config.AddMsgAs<TMMsg::VMGroup>(TMMsg::DRGroupConfigFields::kPriorities);
    group.SetInt32(TMMsg::VMGroup::kPriority, p);
    group.SetInt32(TMMsg::VMGroup::kDelayMinutes, 5);
    group.SetInt32(TMMsg::VMGroup::kContinueOnFailure, 1);
    for (int v = 0; v < 4; ++v) {
      auto& entry = group.AddMsgAs<Entry>(TMMsg::VMGroup::kVMSequence);
      auto& vm = entry.MutableMsgAs<Vm>(Entry::kVMEntity);
      vm.SetString(Vm::kName, "prod-vm-" + std::to_string(p * 10 + v));
      vm.SetString(Vm::kGuid, "4237c4de-1b7e-9f3a-55aa-00000000" + std::to_string(1000 + p * 10 + v));
      entry.SetInt32(Entry::kBootOrder, v);
      entry.SetInt64(Entry::kReplicationId, 5000 + p * 10 + v);
      entry.SetInt32(Entry::kInformationSource, 0);
      entry.MutableMsg(Entry::kPreScript)
          .SetString(TMMsg::ScriptFields::kScriptText,
                     "/opt/dr/pre-failover.sh --vm \"" + vm.GetString(Vm::kName) + "\"");
    }
  }
  return app;
}

void BM_MsgSerializeAndParse(benchmark::State& state) {
  const Api::VirtualApp app = MakeDrGroup();
  std::string xml;
  size_t bytes = 0;
  for (auto _ : state) {
    app.serializeUTF8(xml);
    Api::VirtualApp back;
    if (!back.Unserialize(xml)) state.SkipWithError("parse failed");
    bytes += xml.size();
    benchmark::DoNotOptimize(back);
  }
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(static_cast<int64_t>(bytes));
}
BENCHMARK(BM_MsgSerializeAndParse);

void BM_MsgSerialize(benchmark::State& state) {
  const Api::VirtualApp app = MakeDrGroup();
  std::string xml;
  for (auto _ : state) {
    app.serializeUTF8(xml);
    benchmark::DoNotOptimize(xml.data());
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_MsgSerialize);

void BM_MsgSerializeFormatted(benchmark::State& state) {
  const Api::VirtualApp app = MakeDrGroup();
  XMLSerializer serializer(EncodingFlags{1, 0, 1, 0, 0, -1, 0, 0, 1, 0, 0});
  std::string xml;
  for (auto _ : state) {
    serializer.serialize(app, xml, true);
    benchmark::DoNotOptimize(xml.data());
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_MsgSerializeFormatted);

void BM_MsgParse(benchmark::State& state) {
  std::string xml;
  MakeDrGroup().serializeUTF8(xml);
  for (auto _ : state) {
    Api::VirtualApp back;
    if (!back.Unserialize(xml)) state.SkipWithError("parse failed");
    benchmark::DoNotOptimize(back);
  }
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * xml.size()));
}
BENCHMARK(BM_MsgParse);

// The XML library alone: a DOM parse of the same text with a reused parser,
// no message built.
void BM_XercesDomParse(benchmark::State& state) {
  CXercesInit::Ensure();
  std::string xml;
  MakeDrGroup().serializeUTF8(xml);
  xercesc::XercesDOMParser parser;
  parser.setValidationScheme(xercesc::XercesDOMParser::Val_Never);
  parser.setDoNamespaces(false);
  parser.setLoadExternalDTD(false);
  for (auto _ : state) {
    xercesc::MemBufInputSource source(reinterpret_cast<const XMLByte*>(xml.data()), xml.size(), "bench", false);
    parser.parse(source);
    benchmark::DoNotOptimize(parser.getDocument());
    parser.resetDocumentPool();
  }
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * xml.size()));
}
BENCHMARK(BM_XercesDomParse);

}  // namespace
