// Phase-row updates per second through CDRInfo::UpdatePhase with 1, 8 and 20
// threads on one data source (each thread its own machine record); the rows
// are written one at a time under the data source's lock. Compare with
// BM_BindingRowInsert in the same run.
#include <stdlib.h>
#include <unistd.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "engine/DRDataSource.h"
#include "engine/DRInfo.h"
#include "engine/SDRInfoCtx.h"
#include "engine/SDRPhaseCtx.h"
#include "engine/SDRPriority.h"
#include "Db/Tbl/APP_VSAReplication.h"
#include "Db/Tbl/APP_VSAReplicationProp.h"
#include "db/DBConnection.h"
#include "repl/ReplicationStore.h"

namespace {

const int kMaxThreads = 20;
const long long kJob = 777;

std::string g_dir;

void RemoveDir() {
  if (g_dir.empty()) return;
  for (const char* suffix : {"/phase.db", "/phase.db-wal", "/phase.db-shm"}) unlink((g_dir + suffix).c_str());
  rmdir(g_dir.c_str());
}

struct SPhaseBenchLab {
  SDRPriority priority;
  std::unique_ptr<CDRDataSource> source;
  std::vector<std::unique_ptr<CDRInfo>> infos;
};

// One data source over kMaxThreads stored replications, made once.
SPhaseBenchLab* Lab() {
  static std::once_flag once;
  static SPhaseBenchLab* lab = nullptr;
  std::call_once(once, [] {
    char tmpl[] = "/tmp/drphasebench-XXXXXX";
    const char* dir = mkdtemp(tmpl);
    if (dir == nullptr) return;
    g_dir = dir;
    atexit(RemoveDir);
    CDBConnection::SetPath(g_dir + "/phase.db");
    // The replication tables are known through their bindings; a static link
    // keeps only what is referenced.
    if (APP_VSAReplication::Desc().name == nullptr || APP_VSAReplicationProp::Desc().name == nullptr) return;
    SDataSourceInfo info;
    info.jobId = kJob;
    info.drGroupId = 1;
    for (int i = 1; i <= kMaxThreads; ++i) {
      App::VSAReplicationInfo repl;
      repl.SetInt32(App::VSAReplicationInfo::kReplicationId, i);
      repl.SetString(App::VSAReplicationInfo::kSourceVMName, "vm" + std::to_string(i));
      repl.SetInt32(App::VSAReplicationInfo::kDestinationVendor, 1);
      if (!CReplicationStore::Put(repl, 0)) return;
      info.replIds.push_back(i);
    }
    SPhaseBenchLab* made = new SPhaseBenchLab();
    made->source.reset(new CDRDataSource(info));
    if (!made->source->IsDataLoaded()) return;
    for (int i = 1; i <= kMaxThreads; ++i) {
      info.replId = i;
      SDRInfoCtx ctx(made->source.get(), info, made->priority);
      made->infos.emplace_back(new CDRInfo(ctx));
    }
    lab = made;
  });
  return lab;
}

void BM_PhaseRowUpdate(benchmark::State& state) {
  SPhaseBenchLab* lab = Lab();
  if (lab == nullptr) {
    state.SkipWithError("lab could not be set up");
    return;
  }
  CDRInfo& info = *lab->infos[state.thread_index() % kMaxThreads];
  const Api::VirtualAppJobPhaseType phases[] = {Api::VIRTUAL_APP_PHASE_POWER_OFF, Api::VIRTUAL_APP_PHASE_BACKUP,
                                                Api::VIRTUAL_APP_PHASE_REPLICATION, Api::VIRTUAL_APP_PHASE_POWER_ON};
  size_t n = 0;
  for (auto _ : state) {
    SDRPhaseCtx phase(kJob, phases[n++ % 4], Api::VIRTUAL_APP_PHASE_STATE_IN_PROGRESS, Api::DR_SITE_SOURCE, true);
    info.UpdatePhase(phase);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_PhaseRowUpdate)->Threads(1)->Threads(8)->Threads(20)->UseRealTime();

}  // namespace
