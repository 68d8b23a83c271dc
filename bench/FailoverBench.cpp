// BM_PlannedFailover/<machines>/<threads>: a planned failover of that many
// VMs (one priority, 10 subclient groups, one sync task each) on the
// hypervisor lab at time scale 1/1000, with the DR thread pool of that size:
// 1,000 VMs at the default (10) and at 50 threads; 5,000 VMs at 10 only when
// a filter names it (--benchmark_filter=BM_PlannedFailover/5000), as it
// takes minutes. Child jobs take fixed scaled durations; lab operations take
// what the lab takes. Reported, not asserted:
// - wall_s: the run's real time;
// - scaled_s: the platform time the run spanned;
// - store_chain_s: the scaled pauses of the VM data manager's stores, which
//   one lock serialises: the bound on scaled time at this size;
// - us_per_machine_step: real time outside the scaled store chain per lab
//   call and phase-row write;
// and a bare baseline in the same run: the same number of lab operations
// (the journal's types on the same VMs) and phase-row writes issued
// directly, one after the other.
#include "FailoverBench.h"

#include <stdint.h>

#include <chrono>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "core/RequestTap.h"
#include "db/ZNGlobalParam.h"
#include "jobs/PhaseRowStore.h"
#include "jobsim/JobSimulator.h"
#include "time/PlatformClock.h"
#include "vm/HypervisorLab.h"
#include "vm/VmOperation.h"
#include "tests/vsa/VSALabFixture.h"

namespace {

constexpr int kGroups = 10;
constexpr long long kChildJobMs = 30000;  // platform ms of every backup, copy and sync

// The reasons under which the VM data manager pauses between its stores.
bool IsStorePause(const std::string& reason) {
  return reason == "UpdateFailoverStatus" || reason == "UpdateSyncStatus" || reason == "UpdateReplPropTbl" ||
         reason == "UpdateFlags" || reason == "SetLastRestoreTime" || reason == "SetVMSyncedTillTime" ||
         reason == "RemoveVSAPropTblProperty" || reason == "ResetDestinationVMGuid";
}

// The lab fixture run outside a test: seeds, runs, reads back.
class CFailoverBenchLab : public CVSALabFixture {
 public:
  void TestBody() override {}
  void Open(int machines, int threads) {
    SetUp();
    ZNGlobalParam::set(DRPLAN_SETTINGS_PARALLEL_THREAD_COUNT, std::to_string(threads));
    for (EChildJobType type : {EChildJobType::kBackup, EChildJobType::kAuxCopy, EChildJobType::kBackupCopy,
                               EChildJobType::kSync}) {
      CJobSimulator::SetDuration(type, kChildJobMs);
    }
    SVSALabSpec spec;
    spec.replications = machines;
    spec.subclientGroups = kGroups;
    spec.operationClasses = true;
    Seed(spec);
  }
  int32_t Run() { return RunDR(); }
  void Close() { TearDown(); }
  using CVSALabFixture::LabCalls;
};

// The baseline: the run's lab operations and phase-row writes, directly.
double BaselineSeconds(const std::vector<SLabCall>& calls, size_t phaseWrites, int machines) {
  const auto start = std::chrono::steady_clock::now();
  for (const SLabCall& call : calls) {
    TMMsg::VMProvisioningOption option;
    option.SetInt32(TMMsg::VMProvisioningOption::kOperationType, call.opType);
    Ida::VMOpReq request;
    request.MutableMsg(Ida::VMOpReq::kInstance)
        .SetInt64(ZnEntities::PolicyInstanceFields::kInstanceId, call.instanceId);
    CNMessageBase& entity = request.MutableMsg(Ida::VMOpReq::kVirtualMachine).MutableMsg(Ida::VirtualMachine::kEntity);
    entity.SetString(ZnEntities::VirtualMachineEntity::kGuid, call.vmGuid);
    entity.SetString(ZnEntities::VirtualMachineEntity::kName, call.vmName);
    Ida::VMOpResp response;
    VmOperation::PerformRemoteVMOperation(option, request, response, 1800, true);
  }
  for (size_t i = 0; i < phaseWrites; ++i) {
    SPhaseRowChange change;
    change.jobId = 999;
    change.replicationId = static_cast<int>(i % static_cast<size_t>(machines)) + 1;
    change.phase = static_cast<int>(i / static_cast<size_t>(machines));
    change.state = 0;
    CPhaseRowStore::Apply({change});
  }
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

size_t PhaseWrites() {
  size_t n = 0;
  for (const STappedRequest& tapped : CRequestTap::Taken()) {
    if (tapped.entry == "sp" && tapped.messageType == Api::VirtualAppJobUpdateReq::kTypeId) ++n;
  }
  return n;
}

void BM_PlannedFailover(benchmark::State& state) {
  const int machines = static_cast<int>(state.range(0));
  const int threads = static_cast<int>(state.range(1));
  CPlatformClock& clock = CPlatformClock::Instance();
  const double scale = 0.001;
  for (auto _ : state) {
    state.PauseTiming();
    clock.SetScale(scale);
    clock.SetRecording(true);
    clock.ClearRecords();
    CFailoverBenchLab lab;
    lab.Open(machines, threads);
    const int64_t scaledStart = clock.NowMs();
    const auto start = std::chrono::steady_clock::now();
    state.ResumeTiming();
    const int32_t result = lab.Run();
    state.PauseTiming();
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double scaled = static_cast<double>(clock.NowMs() - scaledStart) / 1000.0;
    uint64_t chainMs = 0;
    for (const SWaitRecord& wait : clock.Records()) {
      if (IsStorePause(wait.reason)) chainMs += wait.requestedMs;
    }
    const std::vector<SLabCall> calls = lab.LabCalls();
    const size_t writes = PhaseWrites();
    const double steps = static_cast<double>(calls.size() + writes);
    const double outside = wall - static_cast<double>(chainMs) / 1000.0 * scale;
    state.counters["state"] = result;
    state.counters["wall_s"] = wall;
    state.counters["scaled_s"] = scaled;
    state.counters["store_chain_s"] = static_cast<double>(chainMs) / 1000.0;
    state.counters["machine_steps"] = steps;
    state.counters["us_per_machine_step"] = steps > 0 ? outside * 1e6 / steps : 0.0;
    state.counters["baseline_s"] = BaselineSeconds(calls, writes, machines);
    lab.Close();
    clock.SetRecording(false);
    clock.SetScale(1.0);
    state.ResumeTiming();
  }
}
benchmark::internal::Benchmark* Failover() {
  return benchmark::RegisterBenchmark("BM_PlannedFailover", BM_PlannedFailover)
      ->Iterations(1)
      ->Unit(benchmark::kSecond)
      ->UseRealTime();
}

const bool g_registered = [] {
  Failover()->Args({1000, 10})->Args({1000, 50});
  return true;
}();

}  // namespace

void RegisterLargeFailoverCases() { Failover()->Args({5000, 10}); }
