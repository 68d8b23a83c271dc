// The ending of a child job is one write, with the job simulator's rows and
// the hypervisor lab's effects in it. What that write costs per VM must not
// grow with the number of VMs the job takes, nor with the VMs and jobs the
// lab already holds: one write that grows with the square of the group holds
// the database for every other writer of a large DR job.
#include <sqlite3.h>

#include <functional>
#include <string>
#include <vector>

#include "JobSimTestSupport.h"
#include "db/DBConnection.h"
#include "sim/Simulators.h"
#include "vm/HypervisorLab.h"
#include "vm/HypervisorStore.h"
#include "vm/HypervisorLabSeed.h"

namespace {

constexpr int kFirst = 101;
constexpr int kSmall = 20;
constexpr int kLarge = 160;  // eight times the small group
constexpr long long kUntilEnded = 1LL << 40;  // platform ms: the test ends each job itself

class LabJobEffectsScale : public CJobSimTestBase {
 protected:
  void SetUp() override {
    CJobSimTestBase::SetUp();
    std::string error;
    ASSERT_TRUE(CSimulators::CreateTables(error)) << error;
    SSeedVMLab lab;
    lab.sites = {CHypervisorLabSeed::SampleSourceSite(), CHypervisorLabSeed::SampleDestinationSite()};
    SSeedVMTask task;
    task.taskId = kTask;
    for (int i = 0; i < kSmall + kLarge; ++i) {
      SSeedVMReplication r;
      r.replicationId = kFirst + i;
      r.subclientId = kSubclient;
      r.taskId = kTask;
      r.sourceInstanceId = CHypervisorLabSeed::kSampleSourceInstanceId;
      r.destinationInstanceId = CHypervisorLabSeed::kSampleDestinationInstanceId;
      r.targetId = CHypervisorLabSeed::kSampleTargetId;
      r.sourceName = "vm-" + std::to_string(r.replicationId);
      r.destinationName = r.sourceName + "-DR";
      r.sourceClientId = CHypervisorLabSeed::kSampleSourceClientBase + r.replicationId;
      lab.replications.push_back(r);
      task.placedReplicationIds.push_back(r.replicationId);
    }
    lab.tasks = {task};
    lab.storagePolicies = {SSeedVMStoragePolicy{kPolicy, {kSubclient}}};
    ASSERT_TRUE(CHypervisorLabSeed::AddLab(lab, error)) << error;
    // Failed over: the restore brings each source back on.
    for (const SSeedVMReplication& r : lab.replications) {
      SLabVM source = Source(r.replicationId);
      source.poweredOn = false;
      ASSERT_TRUE(CHypervisorStore::PutVM(source));
    }
  }

  static SLabVM Source(int id) {
    SLabVM source;
    EXPECT_EQ(EStoreResult::kOk,
              CHypervisorLab::GetVM(CHypervisorLabSeed::kSampleSourceInstanceId, "src-" + std::to_string(id), source));
    return source;
  }

  static std::vector<int> Ids(int first, int count) {
    std::vector<int> ids;
    for (int i = 0; i < count; ++i) ids.push_back(first + i);
    return ids;
  }

  // A child job that runs until the test ends it.
  static long long Started(SChildJobSpec spec) {
    spec.parentJobId = kDRJob;
    spec.durationMs = kUntilEnded;
    const long long id = CJobSimulator::StartJob(spec);
    EXPECT_NE(0, id);
    return id;
  }

  // The restore options of a failback restore that names each source VM
  // (field 3 of its advanced options) and powers it on.
  static std::string RestoreOptions(const std::vector<int>& ids) {
    CNMessageBase options(TMMsg::VirtualServerRestoreOptionFields::ClassInfo());
    CNMessageBase& disk = options.MutableMsg(TMMsg::VirtualServerRestoreOptionFields::kVMRestoreOptions);
    disk.SetInt32(TMMsg::DiskLevelVMRestoreOption::kPowerOnVM, 1);
    for (int id : ids) {
      disk.AddMsg(TMMsg::DiskLevelVMRestoreOption::kAdvancedRestoreOptions)
          .SetString(TMMsg::VMWAdvancedRestoreOptions::kDatacenter, "vm-" + std::to_string(id));
    }
    std::string text;
    EXPECT_TRUE(options.serializeUTF8(text, false));
    return text;
  }

  // The SQLite instructions (in hundreds) this thread's connection ran to
  // end the job: the ending's whole write, end writers included.
  static long long EndingWork(long long jobId) {
    CDBConnection* c = CDBConnection::ForThread();
    EXPECT_NE(nullptr, c);
    if (c == nullptr) return 0;
    long long hundreds = 0;
    sqlite3_progress_handler(
        c->Handle(), 100,
        [](void* count) {
          ++*static_cast<long long*>(count);
          return 0;
        },
        &hundreds);
    const bool ended = CJobSimulator::Complete(jobId);
    sqlite3_progress_handler(c->Handle(), 0, nullptr, nullptr);
    EXPECT_TRUE(ended) << "job " << jobId;
    return hundreds;
  }

  // The work per VM of ending each kind of job on a group of the VMs.
  struct SPerVM {
    double backup = 0, sync = 0, failbackRestore = 0;
  };
  static SPerVM EndOn(const std::vector<int>& ids) {
    SChildJobSpec backup;
    backup.type = EChildJobType::kBackup;
    backup.applicationId = kSubclient;
    backup.replicationIds = ids;
    SChildJobSpec sync;
    sync.type = EChildJobType::kSync;
    sync.taskId = kTask;
    sync.replicationIds = ids;
    SChildJobSpec restore = sync;
    restore.mode = kModeFailbackRestore | kModeRestorePowerOn;
    restore.options = RestoreOptions(ids);
    const double n = static_cast<double>(ids.size());
    SPerVM perVM;
    perVM.backup = static_cast<double>(EndingWork(Started(backup))) / n;
    perVM.sync = static_cast<double>(EndingWork(Started(sync))) / n;
    perVM.failbackRestore = static_cast<double>(EndingWork(Started(restore))) / n;
    return perVM;
  }
};

// A group eight times larger, ended after the small one (so the lab holds
// more VMs' backups too), costs per VM what the small one did, within half
// again: a look-up per VM that scans the job's VMs or the lab's would cost
// about eight times as much.
TEST_F(LabJobEffectsScale, EndingABackupASyncOrAFailbackRestoreCostsPerVMWhatASmallGroupDoes) {
  const SPerVM small = EndOn(Ids(kFirst, kSmall));
  const SPerVM large = EndOn(Ids(kFirst + kSmall, kLarge));
  EXPECT_LT(large.backup, 1.5 * small.backup) << "backup, per VM: " << small.backup << " then " << large.backup;
  EXPECT_LT(large.sync, 1.5 * small.sync) << "sync, per VM: " << small.sync << " then " << large.sync;
  EXPECT_LT(large.failbackRestore, 1.5 * small.failbackRestore)
      << "failback restore, per VM: " << small.failbackRestore << " then " << large.failbackRestore;
  // The restore did its work on every VM of both groups.
  for (int id : Ids(kFirst, kSmall + kLarge)) {
    EXPECT_TRUE(Source(id).poweredOn) << id;
    App::VSAReplicationInfo stored;
    ASSERT_TRUE(CReplicationStore::Get(id, stored));
    EXPECT_EQ(App::VSA_REPL_STATUS_IN_SYNC, stored.GetInt32(App::VSAReplicationInfo::kSyncStatus)) << id;
  }
}

}  // namespace
