// Snapshot mounts of one priority under the datastore locks, reported rather
// than timed: N machines on datastores of skewed sizes, each mount taking L
// of real time in the hypervisor lab, T threads on the DR pool. No schedule
// can beat max(ceil(N / T), the largest datastore's machine count) x L, as
// mounts on one datastore must not overlap; the counters give the mount
// phase's wall time against that bound, with the locks and with them made
// no-ops (then the lab journals the overlaps the locks prevent).
//
// Each run is a test failover DR job in this process on a lab of its own:
// the sample lab (sites, proxies, ESX host) plus a storage-array group of
// the N machines, in a fresh run folder that goes afterwards.
#include <sqlite3.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "app/SnapArrayDRBase.h"
#include "array/ArrayLabSeed.h"
#include "core/JobContext.h"
#include "core/RunFolder.h"
#include "db/DBConnection.h"
#include "drorch/DRChildJobDone.h"
#include "drorch/DRInitParams.h"
#include "drorch/DRJobManager.h"
#include "drorch/IDROrchestrator.h"
#include "host/DrJobLab.h"
#include "host/SeedArrays.h"
#include "host/SeedLab.h"
#include "jobs/JobStore.h"
#include "jobs/LabStore.h"
#include "jobs/ZNDROrchestrationClnt.h"
#include "jobsim/JobSimulator.h"
#include "msg/MsgClasses.h"
#include "time/PlatformClock.h"
#include "vm/HypervisorLab.h"

namespace {

constexpr int kMachines = 200;
constexpr int kDatastores = 20;
constexpr long long kMountMs = 10;
// Lab time runs a thousand times faster than real time, as in the end to
// end tests: the job's own polls cost next to nothing.
constexpr double kScale = 0.001;
constexpr int kGroupId = 50;
constexpr int kFirstReplication = 5001;
constexpr int kArrayId = 51;
constexpr int kSubclientId = 52;
constexpr int kFirstReplicaGroup = 600;

// Machines per datastore, largest first: datastore i holds about 1 / (i + 1)
// of them (harmonic), every datastore at least one.
std::vector<int> SkewedCounts() {
  double weights = 0;
  for (int i = 0; i < kDatastores; ++i) weights += 1.0 / (i + 1);
  std::vector<int> counts(kDatastores, 1);
  int left = kMachines - kDatastores;
  for (int i = 0; i < kDatastores; ++i) {
    const int extra = static_cast<int>((kMachines - kDatastores) / weights / (i + 1));
    counts[i] += std::min(extra, left);
    left -= std::min(extra, left);
  }
  counts[0] += left;
  return counts;
}

std::string Datastore(int i) { return "bench-ds" + std::to_string(i); }

// The storage-array group of the N machines on the sample lab's sites.
bool SeedMachines(const std::vector<int>& counts, std::string& error) {
  SSeedArrayLab lab;
  lab.arrays = {SLabArray{kArrayId, "array-bench", "vs_bench", true, true}};
  lab.storagePolicyId = 53;
  lab.primaryCopyId = 54;
  lab.arrayCopyId = 55;
  lab.firstSnapshotJobId = 95001;
  for (int i = 0; i < kDatastores; ++i) {
    SSeedReplicaGroup g;
    g.replicaGroupId = kFirstReplicaGroup + i;
    g.subclientId = kSubclientId;
    g.pairId = kFirstReplicaGroup + i;
    g.controlHostId = kArrayId;
    g.sourceArray = "array-bench-prod";
    g.targetArray = "array-bench";
    g.sourcePath = "vs_bench_prod:vol_" + Datastore(i);
    g.targetPath = "vs_bench:vol_" + Datastore(i);
    g.mappedLuns = {"vol_" + Datastore(i) + "/lun0"};
    lab.replicaGroups.push_back(g);
  }
  Api::VirtualApp app;
  CNMessageBase& priority = app.MutableMsg(Api::VirtualApp::kConfig).AddMsg(TMMsg::DRGroupConfigFields::kPriorities);
  priority.SetInt32(TMMsg::VMGroup::kPriority, 1);
  priority.SetInt32(TMMsg::VMGroup::kContinueOnFailure, 1);
  int id = kFirstReplication;
  for (int i = 0; i < kDatastores; ++i) {
    for (int n = 0; n < counts[i]; ++n, ++id) {
      SSeedSnapVM vm;
      vm.replicationId = id;
      vm.drGroupId = kGroupId;
      vm.name = "bench-vm" + std::to_string(id);
      vm.guid = "bench-src-" + std::to_string(id);
      vm.destinationEsxHost = "esx-b1";
      vm.subclientId = kSubclientId;
      vm.clientId = 20000 + id;
      vm.applicationId = 106;
      vm.sourceInstanceId = kSampleSourceInstanceId;
      vm.destinationInstanceId = kSampleDestinationInstanceId;
      vm.datastores = {SSeedDatastore{Datastore(i), kFirstReplicaGroup + i, "", 0}};
      lab.vms.push_back(vm);
      if (!CHypervisorLab::AddVM(SampleArraySourceVM(vm, kSampleSourceSiteVMs + 1 + id - kFirstReplication))) {
        error = "cannot store source VM [" + vm.name + "]";
        return false;
      }
      CArrayLabSeed::AppendSequenceEntry(vm, priority);
    }
  }
  app.SetInt32(Api::VirtualApp::kApprovalRequired, 0);
  std::string xml;
  if (!app.serializeUTF8(xml) || !CLabStore::PutDRGroup(kGroupId, "BenchArray", xml)) {
    error = "cannot store the DR group";
    return false;
  }
  return CArrayLabSeed::AddLab(lab, error);
}

// Real milliseconds from the first mount row's start to the last one's end
// (lab seconds are real milliseconds at this scale); -1 when there is none.
double MountPhaseWallMs(long long jobId, int& succeeded) {
  succeeded = 0;
  CDBConnection* c = CDBConnection::ForThread();
  if (c == nullptr) return -1;
  sqlite3_stmt* s = c->Prepare(
      "SELECT min(startTime), max(endTime), sum(status = ?) FROM App_VirtualAppJobStats WHERE jobId = ? AND phase = ?");
  if (s == nullptr) return -1;
  sqlite3_bind_int(s, 1, Api::VIRTUAL_APP_PHASE_STATE_SUCCESS);
  sqlite3_bind_int64(s, 2, jobId);
  sqlite3_bind_int(s, 3, Api::VIRTUAL_APP_PHASE_DR_VM_TEST_SNAP_MOUNT);
  double wall = -1;
  if (sqlite3_step(s) == SQLITE_ROW && sqlite3_column_type(s, 0) != SQLITE_NULL) {
    const double secondsPerRealMs = 1.0 / (1000.0 * kScale);
    wall = static_cast<double>(sqlite3_column_int64(s, 1) - sqlite3_column_int64(s, 0)) / secondsPerRealMs;
    succeeded = sqlite3_column_int(s, 2);
  }
  c->Release(s);
  return wall;
}

struct SRunResult {
  double mountWallMs = -1;
  int mounted = 0;
  long long overlaps = 0;
  int32_t state = -1;
};

// One test failover of the group on a fresh lab; locks off when asked.
bool RunOnce(bool locksOff, SRunResult& result, std::string& error) {
  char tmpl[] = "/tmp/drbench-mount-XXXXXX";
  const char* dir = mkdtemp(tmpl);
  if (dir == nullptr) {
    error = "cannot make a run folder";
    return false;
  }
  CRunFolder::Set(dir);
  CRunFolder::SetLockPath(std::string(dir) + "/locks");
  bool ok = true;
  bool replaced = false;
  if (!CDrJobLab::Seed(std::string(dir) + "/drorch.db", false, replaced, error) ||
      !SeedMachines(SkewedCounts(), error) || !CHypervisorLab::SetMountDurationMs(kMountMs * 1000)) {
    ok = false;
  }
  if (ok) {
    SJobRecord job;
    job.jobType = CJobStore::kTypeDR;
    job.ownerId = CDrJobLab::OwnerId();
    job.optionsXml = CDrJobLab::JobOptionsXml(kGroupId, TMMsg::DR_ORCHESTRATION_TEST_FAILOVER, false);
    job.status = "Running";
    const long long jobId = CJobStore::CreateJob(job);
    CJobContext::SetCurrentJobId(jobId);
    CJobSimulator::SetInProcessDelivery(DRChildJobDone);
    CJobSimulator::Start();
    ZNDROrchestrationClnt client(jobId);
    CDRJobManager jm;
    IDROrchestrator* dr = IDROrchestrator::CreateObject(TMMsg::DR_ORCHESTRATION_TEST_FAILOVER);
    CSnapArrayDRBase::SetDatastoreLocksDisabled(locksOff);
    DRInitParams params{&jm};
    if (jobId == 0 || dr == nullptr || !jm.Initialize(client, 0, 2) || !dr->Initialize(params)) {
      error = "cannot start the DR job";
      ok = false;
    } else {
      result.state = dr->Run();
      result.mountWallMs = MountPhaseWallMs(jobId, result.mounted);
      result.overlaps = CHypervisorLab::MountOverlaps();
    }
    CSnapArrayDRBase::SetDatastoreLocksDisabled(false);
    IDROrchestrator::DeleteObject(dr);
    CJobSimulator::Stop();
    CJobSimulator::SetInProcessDelivery(nullptr);
    CJobContext::SetCurrentJobId(0);
  }
  CDBConnection::CloseThreadConnections();
  CDBConnection::SetPath("");
  std::error_code ignored;
  std::filesystem::remove_all(dir, ignored);
  return ok;
}

void BM_SnapMountWallOverBound(benchmark::State& state) {
  const bool locksOff = state.range(0) != 0;
  CPlatformClock::Instance().SetScale(kScale);
  const std::vector<int> counts = SkewedCounts();
  // The DR pool's size by default.
  const int threads = 10;
  const double boundMs =
      static_cast<double>(std::max((kMachines + threads - 1) / threads, *std::max_element(counts.begin(), counts.end()))) *
      kMountMs;
  SRunResult result;
  for (auto _ : state) {
    std::string error;
    if (!RunOnce(locksOff, result, error)) {
      state.SkipWithError(error.c_str());
      break;
    }
  }
  state.counters["mount_wall_ms"] = result.mountWallMs;
  state.counters["bound_ms"] = boundMs;
  state.counters["wall_over_bound"] = result.mountWallMs / boundMs;
  state.counters["mounted"] = result.mounted;
  state.counters["overlaps"] = static_cast<double>(result.overlaps);
  state.counters["job_state"] = result.state;
  CPlatformClock::Instance().SetScale(1.0);
}
BENCHMARK(BM_SnapMountWallOverBound)->ArgName("locks_off")->Arg(0)->Arg(1)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
