// The engine's own cost of running a priority: N machines through
// ProcessIDAPriority, each machine's body running three steps through
// RunOperation, with a context that does no work (overhead per machine-step)
// or that takes a fixed real time per step (parallel efficiency against the
// ideal ceil(N / T) x L x steps).
#include <stdint.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <vector>

#include <benchmark/benchmark.h>

#include "engine/DRBase.h"
#include "engine/DRInfo.h"
#include "engine/DRInfoUtils.h"
#include "drorch/DRJobManager.h"
#include "engine/IDRBaseInfo.h"
#include "engine/IDRContext.h"
#include "engine/SDROperationCtx.h"
#include "engine/SDRPhaseCtx.h"
#include "engine/SDRPriority.h"
#include "time/PlatformClock.h"

// The orchestrator's state set up the way Initialize would.
class CDRBaseTestPeer {
 public:
  static void SetJobManager(CDRBase& dr, CDRJobManager* jm) { dr.m_jobManager = jm; }
  static void AddInfo(CDRBase& dr, IDRBaseInfo* info) { dr.AdoptInfo(info); }
};

namespace {

const int kSteps = 3;
const ZNDR::BatchOperation kStepOps[kSteps] = {ZNDR::BATCH_OP_POWER_OFF_PRIMARY, ZNDR::BATCH_OP_POWER_ON_PRIMARY,
                                               ZNDR::BATCH_OP_CREATE_SNAPSHOT_PRIMARY};

class CBenchDR : public CDRBase {
 public:
  CBenchDR() : CDRBase(TMMsg::DR_ORCHESTRATION_PLANNED_FAILOVER) {}
  bool RunPriority(const SDRPriority&) override { return true; }
};

class CBenchContext : public IDRContext {
 public:
  CBenchContext(CDRBase& dr, uint64_t stepMs) : m_dr(dr), m_stepMs(stepMs) {}
  bool PerformOperation(SDROperationCtx& ctx) override {
    if (m_stepMs > 0) XOSLEEP(m_stepMs);
    for (CDRInfo* info : ctx.drInfoList) {
      SDRPhaseCtx phase(0, ctx.phase, Api::VIRTUAL_APP_PHASE_STATE_SUCCESS, ctx.site, true);
      info->UpdatePhase(phase);
    }
    return true;
  }
  bool ProcessPriority(const SDRPriority&) override { return true; }
  bool PostProcessPriority(const SDRPriority&) override { return true; }
  bool ProcessDROperationThread(SDROperationCtx& ctx) override {
    for (ZNDR::BatchOperation op : kStepOps) {
      ctx.batchOp = op;
      DRInfoUtils::LoadBasicPhaseDetails(ctx, op);
      if (!m_dr.RunOperation(*this, ctx, true)) return false;
    }
    return true;
  }
  bool CleanupDROperationThread(SDROperationCtx&) override { return true; }
  bool ProcessDRSubclientThread(SDROperationCtx&) override { return false; }
  bool IsMachineEligible(CDRInfo*) override { return true; }
  bool Cleanup(const SDRPriority&) override { return true; }

 private:
  CDRBase& m_dr;
  uint64_t m_stepMs;
};

// One orchestrator with N machines of one priority.
struct SBenchRun {
  explicit SBenchRun(int n) {
    CDRBaseTestPeer::SetJobManager(dr, &jm);
    priority.order = 1;
    priority.infoSource = TMMsg::DR_OP_SOURCE_VSA_REPLICATION;
    for (int id = 1; id <= n; ++id) {
      SDataSourceInfo ds;
      ds.replId = id;
      SDRInfoCtx ctx(nullptr, ds, priority);
      ctx.jobManager = &jm;
      priority.replIds.push_back(id);
      CDRBaseTestPeer::AddInfo(dr, new CDRInfo(ctx));
    }
  }
  CDRJobManager jm;
  CBenchDR dr;
  SDRPriority priority;
};

void BM_PriorityOverhead(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  CPlatformClock::Instance().SetScale(1.0);
  for (auto _ : state) {
    state.PauseTiming();
    std::unique_ptr<SBenchRun> run(new SBenchRun(n));
    CBenchContext context(run->dr, 0);
    state.ResumeTiming();
    bool ok = run->dr.ProcessIDAPriority(context, run->priority, ZNDR::BATCH_OP_FAILOVER);
    benchmark::DoNotOptimize(ok);
    state.PauseTiming();
    run.reset();
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * n * kSteps);
  state.counters["us_per_machine_step"] = benchmark::Counter(
      static_cast<double>(state.iterations()) * n * kSteps, benchmark::Counter::kIsRate | benchmark::Counter::kInvert,
      benchmark::Counter::kIs1000);
}
BENCHMARK(BM_PriorityOverhead)->Arg(100)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_PriorityParallelEfficiency(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const uint64_t stepMs = 20;
  CPlatformClock::Instance().SetScale(1.0);
  double ratioSum = 0;
  for (auto _ : state) {
    state.PauseTiming();
    std::unique_ptr<SBenchRun> run(new SBenchRun(n));
    CBenchContext context(run->dr, stepMs);
    const int threads = run->dr.GetDRAppMgr()->GetMaxParallelThreadCount();
    state.ResumeTiming();
    auto start = std::chrono::steady_clock::now();
    bool ok = run->dr.ProcessIDAPriority(context, run->priority, ZNDR::BATCH_OP_FAILOVER);
    double wallMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    benchmark::DoNotOptimize(ok);
    state.PauseTiming();
    double ideal = static_cast<double>((n + threads - 1) / threads) * stepMs * kSteps;
    ratioSum += wallMs / ideal;
    run.reset();
    state.ResumeTiming();
  }
  state.counters["wall_over_ideal"] = ratioSum / static_cast<double>(state.iterations());
}
BENCHMARK(BM_PriorityParallelEfficiency)->Arg(100)->Arg(1000)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
