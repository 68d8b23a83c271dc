// Cost of handing one item to a worker: the platform pool against starting a
// thread per item.
#include <atomic>
#include <thread>
#include <vector>

#include <benchmark/benchmark.h>

#include "sync/ZnThreadPool.h"

namespace {

std::atomic<long> g_done{0};

void* CountItem(void*) {
  g_done.fetch_add(1, std::memory_order_relaxed);
  return nullptr;
}

void BM_ThreadPoolDoWork(benchmark::State& state) {
  const int threads = static_cast<int>(state.range(0));
  ZnThreadPool pool;
  pool.initThreadPool(4294967295UL, 1, threads, 1);
  for (auto _ : state) {
    for (int i = 0; i < 100; ++i) pool.doWork(&CountItem, nullptr);
    pool.waitForAllThreads(true, true, true, -1);
  }
  state.SetItemsProcessed(state.iterations() * 100);
}
BENCHMARK(BM_ThreadPoolDoWork)->Arg(1)->Arg(5)->Arg(20)->UseRealTime();

void BM_ThreadPerItem(benchmark::State& state) {
  for (auto _ : state) {
    std::vector<std::thread> threads;
    threads.reserve(100);
    for (int i = 0; i < 100; ++i) threads.emplace_back(&CountItem, nullptr);
    for (auto& t : threads) t.join();
  }
  state.SetItemsProcessed(state.iterations() * 100);
}
BENCHMARK(BM_ThreadPerItem)->UseRealTime();

}  // namespace
