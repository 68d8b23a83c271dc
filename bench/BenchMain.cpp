// The benchmark program's entry: the simulated management server answers
// the requests the measured code sends, as in the host.
#include <string.h>

#include <benchmark/benchmark.h>

#include "FailbackBench.h"
#include "FailoverBench.h"
#include "sim/Simulators.h"

int main(int argc, char** argv) {
  CSimulators::Install();
  static const char kFilter[] = "--benchmark_filter=";
  for (int i = 1; i < argc; ++i) {
    if (strncmp(argv[i], kFilter, sizeof kFilter - 1) != 0) continue;
    if (strstr(argv[i], "5000") != nullptr) RegisterLargeFailoverCases();
    RegisterLargeFailbackCases(argv[i] + sizeof kFilter - 1);
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
