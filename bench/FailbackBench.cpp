// The failback's cost per VM as the group grows, on the hypervisor lab at
// time scale 1/1000 (one priority, 10 subclient groups, one replication
// task each, so ten failback restores of N/10 VMs; child jobs take fixed
// scaled durations):
// - BM_Failback/<machines>: a failback of a group a planned failover left:
//   1,000 VMs in a plain run, 5,000 when a filter names that number
//   (--benchmark_filter='BM_Failback/(1000|5000)'), as it takes minutes;
// - BM_FailbackSkippingEveryMachine/<machines>: a failback of a group that
//   was never failed over, so the job skips every machine: what the job
//   costs per machine before any VM work (its set-up, its admission, its
//   end); 1,000 VMs in a plain run, 10,000 when a filter names that number
//   (--benchmark_filter='BM_FailbackSkippingEveryMachine/(1000|10000)').
// Measured from the orchestrator's Initialize to the end of its Run (the
// lab's seeding is not), on a fresh lab each time, the median of three
// runs (five for the skipping run): cpu_s, the process's user and system
// time, every thread's; wall_s; cpu_ms_per_vm. The bare baseline is the 1,000-VM
// case of the same benchmark, run first in the same process:
// cpu_per_vm_over_1000 is this case's CPU per VM over that one's (the
// failback's must stay within 1.3, the skipping run's within 1.2). Also
// reported: the job's final state and how many machines succeeded and
// were skipped.
#include "FailbackBench.h"

#include <stdint.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "jobsim/JobSimulator.h"
#include "time/PlatformClock.h"
#include "tests/vsa/VSALabFixture.h"

namespace {

constexpr int kGroups = 10;
constexpr long long kChildJobMs = 30000;  // platform ms of every backup, copy and sync

double ProcessCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// The lab fixture run outside a test: seeds, then times a fresh
// orchestrator's Initialize and Run on what it seeded.
class CFailbackBenchLab : public CVSALabFixture {
 public:
  void TestBody() override {}
  void Open(int machines, bool failedOver) {
    SetUp();
    for (EChildJobType type : {EChildJobType::kBackup, EChildJobType::kAuxCopy, EChildJobType::kBackupCopy,
                               EChildJobType::kSync}) {
      CJobSimulator::SetDuration(type, kChildJobMs);
    }
    SVSALabSpec spec;
    spec.subclientGroups = kGroups;
    if (failedOver) {
      SeedFailedOver(TMMsg::DR_ORCHESTRATION_FAILBACK, machines, spec);
    } else {
      spec.replications = machines;
      spec.drType = TMMsg::DR_ORCHESTRATION_FAILBACK;
      spec.operationClasses = true;
      Seed(spec);
    }
    // The seeding initialised an orchestrator; the measured one starts
    // afresh on the same job.
    m_dr.reset();
  }
  int32_t InitializeAndRun() {
    m_dr.reset(NewOrchestrator());
    DRInitParams params{m_jm.get()};
    if (!m_dr->Initialize(params)) return -1;
    return m_dr->Run();
  }
  void Count(int& succeeded, int& skipped) {
    succeeded = skipped = 0;
    for (CDRInfo* info : Machines()) {
      if (info->IsSuccess()) ++succeeded;
      if (info->IsSkipped()) ++skipped;
    }
  }
  void Close() { TearDown(); }
};

// CPU per VM of each benchmark's 1,000-VM case, by benchmark.
std::map<std::string, double>& BaselinePerVM() {
  static std::map<std::string, double> perVM;
  return perVM;
}

// One measured run: a fresh lab, then Initialize and Run.
struct SRun {
  int32_t state = -1;
  int succeeded = 0, skipped = 0;
  double wall = 0, cpu = 0;
};

SRun MeasureOnce(int machines, bool failedOver) {
  CPlatformClock& clock = CPlatformClock::Instance();
  clock.SetScale(0.001);
  CFailbackBenchLab lab;
  lab.Open(machines, failedOver);
  SRun run;
  const double cpuStart = ProcessCpuSeconds();
  const auto start = std::chrono::steady_clock::now();
  run.state = lab.InitializeAndRun();
  run.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  run.cpu = ProcessCpuSeconds() - cpuStart;
  lab.Count(run.succeeded, run.skipped);
  lab.Close();
  clock.SetScale(1.0);
  return run;
}

// Each case runs runs times on a fresh lab, and reports the run of the
// median CPU: a machine shared with other work moves one run by a tenth or
// more.
void RunFailback(benchmark::State& state, const std::string& name, bool failedOver, int runs) {
  const int machines = static_cast<int>(state.range(0));
  for (auto _ : state) {
    std::vector<SRun> measured;
    for (int i = 0; i < runs; ++i) measured.push_back(MeasureOnce(machines, failedOver));
    std::sort(measured.begin(), measured.end(), [](const SRun& a, const SRun& b) { return a.cpu < b.cpu; });
    const SRun& median = measured[measured.size() / 2];
    const double perVM = median.cpu * 1000.0 / machines;
    if (machines == 1000) BaselinePerVM()[name] = perVM;
    state.counters["runs"] = runs;
    state.counters["state"] = median.state;
    state.counters["succeeded"] = median.succeeded;
    state.counters["skipped"] = median.skipped;
    state.counters["wall_s"] = median.wall;
    state.counters["cpu_s"] = median.cpu;
    state.counters["cpu_ms_per_vm"] = perVM;
    const auto baseline = BaselinePerVM().find(name);
    if (baseline != BaselinePerVM().end() && baseline->second > 0) {
      state.counters["cpu_per_vm_over_1000"] = perVM / baseline->second;
    }
  }
}

void BM_Failback(benchmark::State& state) { RunFailback(state, "BM_Failback", true, 3); }
void BM_FailbackSkippingEveryMachine(benchmark::State& state) {
  RunFailback(state, "BM_FailbackSkippingEveryMachine", false, 5);
}

benchmark::internal::Benchmark* Register(const char* name, void (*run)(benchmark::State&)) {
  return benchmark::RegisterBenchmark(name, run)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
}

const bool g_registered = [] {
  Register("BM_Failback", BM_Failback)->Arg(1000);
  Register("BM_FailbackSkippingEveryMachine", BM_FailbackSkippingEveryMachine)->Arg(1000);
  return true;
}();

}  // namespace

void RegisterLargeFailbackCases(const std::string& filter) {
  if (filter.find("10000") != std::string::npos) {
    Register("BM_FailbackSkippingEveryMachine", BM_FailbackSkippingEveryMachine)->Arg(10000);
  } else if (filter.find("5000") != std::string::npos) {
    Register("BM_Failback", BM_Failback)->Arg(5000);
  }
}
