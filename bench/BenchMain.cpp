// The benchmark program's entry: the simulated management server answers
// the requests the measured code sends, as in the host.
#include <benchmark/benchmark.h>

#include "sim/Simulators.h"

int main(int argc, char** argv) {
  CSimulators::Install();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
