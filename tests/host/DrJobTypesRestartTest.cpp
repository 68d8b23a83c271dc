// The DR types after a failover killed mid-run, through drjob: a run
// killed outright (SIGKILL) or asked to stop (control kill), then the same
// job run again. The rerun finishes: every machine's rows end final, no
// child job is left running, nothing done before is done twice, and the
// lab ends as an uninterrupted run leaves it.
#include <algorithm>
#include <functional>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "JobSimTestSupport.h"
#include "host/DrJobTestSupport.h"
#include "host/SeedLab.h"
#include "host/SeedReplications.h"
#include "jobs/PhaseRowStore.h"
#include "jobsim/JobSimulator.h"
#include "repl/ReplicationStore.h"
#include "vm/HypervisorLab.h"
#include "vm/HypervisorStore.h"

namespace {

using drtest::Has;
using drtest::SResult;

constexpr const char* kTestbootSnapshot = "__OB_TESTBOOT__";

class E2EDrJobTypesRestart : public drtest::CDrJobLabTest {
 protected:
  // The sample group as a planned failover leaves it: the DR VMs run, the
  // sources are off, sync disabled.
  void FailOver() {
    for (const SSampleVM& vm : kSampleVMs) {
      SetStatuses(vm.replicationId, App::VSA_FAILOVER_STATUS_FAILOVER_COMPLETE, App::VSA_REPL_STATUS_SYNC_DISABLED);
      SetPower(kSampleSourceInstanceId, Source(vm.replicationId), false);
      SetPower(kSampleDestinationInstanceId, Dest(vm.replicationId), true);
      for (const SLabSnapshot& snap : Snapshots(kSampleDestinationInstanceId, Dest(vm.replicationId))) {
        if (snap.name == CHypervisorLab::kBackupSnapshotName) {
          ASSERT_EQ(EStoreResult::kOk, CHypervisorStore::RemoveSnapshot(snap.ref));
        }
      }
    }
  }

  static std::string Source(int id) { return "src-" + std::to_string(id); }
  static std::string Dest(int id) { return "dst-" + std::to_string(id); }

  static void SetStatuses(int id, int failover, int sync) {
    App::VSAReplicationInfo partial;
    partial.SetInt32(App::VSAReplicationInfo::kReplicationId, id);
    partial.SetInt32(App::VSAReplicationInfo::kFailoverStatus, failover);
    partial.SetInt32(App::VSAReplicationInfo::kSyncStatus, sync);
    std::string error;
    ASSERT_EQ(0, CReplicationStore::Merge(partial, error)) << error;
  }
  static void SetPower(long long instance, const std::string& guid, bool on) {
    SLabVM vm;
    ASSERT_EQ(EStoreResult::kOk, CHypervisorStore::GetVM(instance, guid, vm));
    vm.poweredOn = on;
    ASSERT_TRUE(CHypervisorStore::PutVM(vm));
  }
  static SLabVM VM(long long instance, const std::string& guid) {
    SLabVM vm;
    EXPECT_EQ(EStoreResult::kOk, CHypervisorStore::GetVM(instance, guid, vm)) << guid;
    return vm;
  }
  static std::vector<SLabSnapshot> Snapshots(long long instance, const std::string& guid) {
    std::vector<SLabSnapshot> snaps;
    EXPECT_EQ(EStoreResult::kOk, CHypervisorStore::Snapshots(instance, guid, snaps));
    return snaps;
  }
  static std::vector<std::string> SnapshotNames(long long instance, const std::string& guid) {
    std::vector<std::string> names;
    for (const SLabSnapshot& s : Snapshots(instance, guid)) names.push_back(s.name);
    return names;
  }
  static App::VSAReplicationInfo Stored(int id) {
    App::VSAReplicationInfo info;
    EXPECT_TRUE(CReplicationStore::Get(id, info));
    return info;
  }
  static int FailoverStatus(int id) { return Stored(id).GetInt32(App::VSAReplicationInfo::kFailoverStatus); }
  static int SyncStatus(int id) { return Stored(id).GetInt32(App::VSAReplicationInfo::kSyncStatus); }

  // A run in the background at a time scale of its own; returns once it
  // reports progress.
  void StartRun(drtest::CChildProcess& run, const std::string& scale, const std::vector<std::string>& args) {
    std::vector<std::string> argv = {"/usr/bin/env", "DR_RUN_DIR=" + m_dir + "/run", "DR_LOCK_DIR=" + m_dir + "/locks",
                                     "DR_TIME_SCALE=" + scale, DR_DRJOB, "run", "--db", m_db, "--group", "Sample"};
    argv.insert(argv.end(), args.begin(), args.end());
    ASSERT_TRUE(run.Start(argv));
    std::string line;
    while (run.ReadLine(line)) {
      if (line.find("] progress [") != std::string::npos) return;
    }
    FAIL() << "the background run never started";
  }
  // The same job again, to its end, at the tests' time scale.
  SResult Rerun(long long jobId, const std::string& type) {
    return Host("run --db " + m_db + " --group Sample --type " + type + " --job-id " + std::to_string(jobId));
  }

  static std::vector<SChildJobRecord> Jobs() {
    std::vector<SChildJobRecord> jobs;
    EXPECT_EQ(EStoreResult::kOk, CJobSimulator::Jobs(jobs));
    return jobs;
  }
  // The failback restore running now, 0 while there is none.
  static long long RunningRestore() {
    for (const SChildJobRecord& j : Jobs()) {
      if ((j.mode & kModeFailbackRestore) != 0 && !j.ended) return j.jobId;
    }
    return 0;
  }
  // How many jobs of a kind (backups or syncs, VM children aside) worked
  // on the replication, and how many of those ended in that status.
  static int JobsOn(EChildJobType type, int id, const std::string& status = std::string()) {
    int n = 0;
    for (const SChildJobRecord& j : Jobs()) {
      if (j.type != type || j.vmChild) continue;
      if (!status.empty() && j.status != status) continue;
      for (int r : j.replicationIds) n += r == id ? 1 : 0;
    }
    return n;
  }

  // What every rerun leaves: no row in progress, no child job running.
  static void ExpectSettled(long long jobId) {
    std::vector<SPhaseRowRecord> rows;
    ASSERT_EQ(EStoreResult::kOk, CPhaseRowStore::ReadJob(jobId, rows));
    std::set<int> machines;
    for (const SPhaseRowRecord& row : rows) {
      if (row.replicationId == 0) continue;
      machines.insert(row.replicationId);
      EXPECT_NE(Api::VIRTUAL_APP_PHASE_STATE_IN_PROGRESS, row.status)
          << "replication " << row.replicationId << " phase " << row.phase;
    }
    EXPECT_EQ((std::set<int>{101, 102, 201}), machines);
    for (const SChildJobRecord& j : Jobs()) EXPECT_TRUE(j.ended) << "child job " << j.jobId << " " << j.status;
  }

  // Stops the background run outright once the lab shows what it waits for.
  static void KillWhen(drtest::CChildProcess& run, const std::function<bool()>& reached) {
    ASSERT_TRUE(drtest::Eventually(reached)) << "the run never got there";
    run.Kill();
    run.Wait();
  }
};

TEST_F(E2EDrJobTypesRestart, AFailbackKilledInItsRestoreWaitAwaitsThatRestoreOnRestart) {
  FailOver();
  for (const SSampleVM& vm : kSampleVMs) {
    ASSERT_EQ(EStoreResult::kOk, CHypervisorLab::BumpContent(kSampleDestinationInstanceId, Dest(vm.replicationId)));
  }
  const long long duration = CJobSimulator::Duration(EChildJobType::kSync);
  CJobSimulator::SetDuration(EChildJobType::kSync, 3600000);
  drtest::CChildProcess run;
  StartRun(run, "0.001", {"--type", "failback", "--job-id", "801"});
  long long restore = 0;
  // Held where it is: the run is killed while the restore runs.
  KillWhen(run, [&] { return (restore = RunningRestore()) != 0 && CJobSimulator::Hang(restore); });
  CJobSimulator::SetDuration(EChildJobType::kSync, duration);
  ASSERT_TRUE(CJobSimulator::Resume(restore));

  const SResult again = Rerun(801, "failback");
  EXPECT_EQ(0, again.code) << again.output;
  EXPECT_TRUE(Has(again, "this run is a restart, attempt [2]")) << again.output;
  EXPECT_EQ("Completed", drtest::ChildJob(restore).status);
  ExpectSettled(801);
  for (const SSampleVM& vm : kSampleVMs) {
    SCOPED_TRACE(vm.replicationId);
    // One DR-site backup and one restore each: the earlier ones adopted.
    EXPECT_EQ(1, JobsOn(EChildJobType::kBackup, vm.replicationId));
    EXPECT_EQ(1, JobsOn(EChildJobType::kSync, vm.replicationId));
    const SLabVM source = VM(kSampleSourceInstanceId, Source(vm.replicationId));
    const SLabVM dr = VM(kSampleDestinationInstanceId, Dest(vm.replicationId));
    EXPECT_TRUE(source.poweredOn);
    EXPECT_EQ(vm.replicationId + 1, source.content);
    EXPECT_FALSE(dr.poweredOn);
    EXPECT_EQ(App::VSA_FAILOVER_STATUS_NONE, FailoverStatus(vm.replicationId));
    EXPECT_EQ(App::VSA_REPL_STATUS_IN_SYNC, SyncStatus(vm.replicationId));
  }
}

TEST_F(E2EDrJobTypesRestart, AFailbackKilledByControlKillsItsRestoreAndTheRestartRunsOneNewRestore) {
  FailOver();
  const long long duration = CJobSimulator::Duration(EChildJobType::kSync);
  CJobSimulator::SetDuration(EChildJobType::kSync, 3600000);
  drtest::CChildProcess run;
  StartRun(run, "0.001", {"--type", "failback", "--job-id", "802"});
  long long restore = 0;
  ASSERT_TRUE(drtest::Eventually([&] { return (restore = RunningRestore()) != 0 && CJobSimulator::Hang(restore); }));
  CJobSimulator::SetDuration(EChildJobType::kSync, duration);
  const SResult control = Host("control --db " + m_db + " --job 802 kill");
  ASSERT_EQ(0, control.code) << control.output;
  EXPECT_EQ(9, WEXITSTATUS(run.Wait()));
  EXPECT_EQ("Killed", drtest::ChildJob(restore).status);
  const SChildJobRecord killed = drtest::ChildJob(restore);

  const SResult again = Rerun(802, "failback");
  EXPECT_EQ(0, again.code) << again.output;
  ExpectSettled(802);
  for (const SSampleVM& vm : kSampleVMs) {
    SCOPED_TRACE(vm.replicationId);
    const bool wasRestoring = killed.replicationIds.end() !=
                              std::find(killed.replicationIds.begin(), killed.replicationIds.end(), vm.replicationId);
    // The kill's clean-up powered the DR VMs it had backed up back on, so
    // what they wrote since is in no backup the killed run took: the
    // restart backs them up anew and restores that backup, once.
    EXPECT_EQ(wasRestoring ? 2 : 1, JobsOn(EChildJobType::kBackup, vm.replicationId));
    EXPECT_EQ(1, JobsOn(EChildJobType::kSync, vm.replicationId, "Completed"));
    EXPECT_EQ(wasRestoring ? 1 : 0, JobsOn(EChildJobType::kSync, vm.replicationId, "Killed"));
    EXPECT_TRUE(VM(kSampleSourceInstanceId, Source(vm.replicationId)).poweredOn);
    EXPECT_FALSE(VM(kSampleDestinationInstanceId, Dest(vm.replicationId)).poweredOn);
    EXPECT_EQ(App::VSA_FAILOVER_STATUS_NONE, FailoverStatus(vm.replicationId));
    EXPECT_EQ(App::VSA_REPL_STATUS_IN_SYNC, SyncStatus(vm.replicationId));
  }
}

TEST_F(E2EDrJobTypesRestart, ATestBootKilledInItsWaitRemovesItsSnapshotFirstAndPutsTheVMBack) {
  std::vector<std::vector<std::string>> seeded;
  for (const SSampleVM& vm : kSampleVMs) seeded.push_back(SnapshotNames(kSampleDestinationInstanceId, Dest(vm.replicationId)));
  drtest::CChildProcess run;
  // Slow enough to be met in the wait: one minute is three seconds.
  StartRun(run, "0.05", {"--type", "testboot", "--job-id", "803", "--testboot-wait", "1"});
  KillWhen(run, [&] {
    const SLabVM dr = VM(kSampleDestinationInstanceId, Dest(101));
    const std::vector<std::string> names = SnapshotNames(kSampleDestinationInstanceId, Dest(101));
    return dr.poweredOn && std::find(names.begin(), names.end(), kTestbootSnapshot) != names.end();
  });
  // A test boot under way disables sync; the restart gives each machine
  // the status the killed run found, as its "Disable Sync" row says.
  EXPECT_EQ(App::VSA_REPL_STATUS_SYNC_DISABLED, SyncStatus(kSampleVMs[0].replicationId));

  const SResult again = Rerun(803, "testboot");
  EXPECT_EQ(0, again.code) << again.output;
  ExpectSettled(803);
  for (size_t i = 0; i < std::size(kSampleVMs); ++i) {
    const int id = kSampleVMs[i].replicationId;
    SCOPED_TRACE(id);
    const SLabVM dr = VM(kSampleDestinationInstanceId, Dest(id));
    EXPECT_FALSE(dr.poweredOn);
    EXPECT_EQ(id, dr.content);
    EXPECT_EQ(seeded[i], SnapshotNames(kSampleDestinationInstanceId, Dest(id)));
    EXPECT_TRUE(VM(kSampleSourceInstanceId, Source(id)).poweredOn);
    EXPECT_EQ(App::VSA_FAILOVER_STATUS_NONE, FailoverStatus(id));
    EXPECT_EQ(App::VSA_REPL_STATUS_IN_SYNC, SyncStatus(id));
  }
}

TEST_F(E2EDrJobTypesRestart, ATestBootKilledBetweenASnapshotAndItsRowTakesNoSecondSnapshotOnRestart) {
  const std::vector<std::string> seeded = SnapshotNames(kSampleDestinationInstanceId, Dest(102));
  // Machine 102's snapshot is taken but its create row never reads done, as
  // when the kill lands between the two.
  const std::string createDone = " ON App_VirtualAppJobStats WHEN NEW.replicationId = 102 AND NEW.phase = " +
                                 std::to_string(Api::VIRTUAL_APP_PHASE_CREATE_SNAPSHOT) + " AND NEW.status = " +
                                 std::to_string(Api::VIRTUAL_APP_PHASE_STATE_SUCCESS) +
                                 " BEGIN SELECT RAISE(IGNORE); END";
  Sql("CREATE TRIGGER create_row_held_u BEFORE UPDATE OF status" + createDone);
  Sql("CREATE TRIGGER create_row_held_i BEFORE INSERT" + createDone);
  drtest::CChildProcess run;
  StartRun(run, "0.05", {"--type", "testboot", "--job-id", "806", "--testboot-wait", "1"});
  KillWhen(run, [&] { return VM(kSampleDestinationInstanceId, Dest(102)).poweredOn; });
  std::vector<SPhaseRowRecord> rows;
  ASSERT_EQ(EStoreResult::kOk, CPhaseRowStore::ReadJob(806, rows));
  const auto create = std::find_if(rows.begin(), rows.end(), [](const SPhaseRowRecord& r) {
    return r.replicationId == 102 && r.phase == Api::VIRTUAL_APP_PHASE_CREATE_SNAPSHOT;
  });
  ASSERT_NE(rows.end(), create);
  EXPECT_EQ(Api::VIRTUAL_APP_PHASE_STATE_IN_PROGRESS, create->status);
  Sql("DROP TRIGGER create_row_held_u; DROP TRIGGER create_row_held_i");

  const SResult again = Rerun(806, "testboot");
  EXPECT_EQ(0, again.code) << again.output;
  ExpectSettled(806);
  EXPECT_EQ(seeded, SnapshotNames(kSampleDestinationInstanceId, Dest(102)));
  EXPECT_FALSE(VM(kSampleDestinationInstanceId, Dest(102)).poweredOn);
}

TEST_F(E2EDrJobTypesRestart, ATestBootLeavesAnotherJobsTestBootSnapshotAlone) {
  // An abandoned test boot of another job left its snapshot on the DR VM;
  // the VM has changed since.
  SLabSnapshot left;
  left.instanceId = kSampleDestinationInstanceId;
  left.vmGuid = Dest(101);
  left.name = kTestbootSnapshot;
  left.description = "Snapshot created by Korlith for DR job 77 from elsewhere";
  left.content = 9999;
  ASSERT_TRUE(CHypervisorLab::AddSnapshot(left));
  ASSERT_EQ(EStoreResult::kOk, CHypervisorLab::BumpContent(kSampleDestinationInstanceId, Dest(101)));

  const SResult run = Host("run --db " + m_db + " --group Sample --type testboot --job-id 807");
  EXPECT_EQ(0, run.code) << run.output;
  ExpectSettled(807);
  // Never reverted to the other job's snapshot, which stays; this job's own
  // came and went.
  EXPECT_EQ(102, VM(kSampleDestinationInstanceId, Dest(101)).content);
  const std::vector<std::string> names = SnapshotNames(kSampleDestinationInstanceId, Dest(101));
  EXPECT_EQ(1, std::count(names.begin(), names.end(), kTestbootSnapshot));
  SJobRecord job;
  ASSERT_EQ(EStoreResult::kOk, CJobStore::GetJob(807, job));
  EXPECT_EQ(0, job.pendingCause);
  std::vector<SPhaseRowRecord> rows;
  ASSERT_EQ(EStoreResult::kOk, CPhaseRowStore::ReadJob(807, rows));
  for (const SPhaseRowRecord& row : rows) {
    EXPECT_NE(Api::VIRTUAL_APP_PHASE_STATE_FAILED, row.status)
        << "replication " << row.replicationId << " phase " << row.phase;
  }
}

TEST_F(E2EDrJobTypesRestart, ARevertKilledBetweenPrioritiesFinishesOnRestart) {
  FailOver();
  for (const SSampleVM& vm : kSampleVMs) {
    SLabSnapshot snap;
    snap.instanceId = kSampleSourceInstanceId;
    snap.vmGuid = Source(vm.replicationId);
    snap.name = CHypervisorLab::kBackupSnapshotName;
    snap.content = 7000 + vm.replicationId;
    ASSERT_TRUE(CHypervisorLab::AddSnapshot(snap));
    App::VSAReplicationInfo partial;
    partial.SetInt32(App::VSAReplicationInfo::kReplicationId, vm.replicationId);
    CNMessageBase& p = partial.AddMsg(App::VSAReplicationInfo::kProperties);
    p.SetInt32(App::VSAReplicationProperties::kPropertyId, CReplicationStore::kPropSourceSnapMoref);
    p.SetString(App::VSAReplicationProperties::kValue, snap.ref);
    std::string error;
    ASSERT_EQ(0, CReplicationStore::Merge(partial, error)) << error;
  }
  drtest::CChildProcess run;
  // The group waits a minute between its priorities: three seconds here.
  StartRun(run, "0.05", {"--type", "revert-failover", "--job-id", "804"});
  KillWhen(run, [] {
    return FailoverStatus(101) == App::VSA_FAILOVER_STATUS_NONE && FailoverStatus(102) == App::VSA_FAILOVER_STATUS_NONE;
  });
  EXPECT_EQ(App::VSA_FAILOVER_STATUS_FAILOVER_COMPLETE, FailoverStatus(201)) << "killed before the second priority";

  const SResult again = Rerun(804, "revert-failover");
  EXPECT_EQ(0, again.code) << again.output;
  ExpectSettled(804);
  for (const SSampleVM& vm : kSampleVMs) {
    SCOPED_TRACE(vm.replicationId);
    EXPECT_EQ(7000 + vm.replicationId, VM(kSampleSourceInstanceId, Source(vm.replicationId)).content);
    EXPECT_FALSE(VM(kSampleDestinationInstanceId, Dest(vm.replicationId)).poweredOn);
    EXPECT_EQ(App::VSA_FAILOVER_STATUS_NONE, FailoverStatus(vm.replicationId));
    EXPECT_EQ(App::VSA_REPL_STATUS_IN_SYNC, SyncStatus(vm.replicationId));
  }
}

TEST_F(E2EDrJobTypesRestart, APointInTimeFailoverKilledBetweenPrioritiesFinishesOnRestart) {
  drtest::CChildProcess run;
  const std::string t0 = std::to_string(kSamplePointsInTime[0]);
  const std::string t1 = std::to_string(kSamplePointsInTime[1]);
  StartRun(run, "0.05",
           {"--type", "point-in-time-failover", "--job-id", "805", "--point-in-time", "101=" + t0, "--point-in-time",
            "102=" + t1, "--point-in-time", "201=" + t0});
  KillWhen(run, [] {
    return FailoverStatus(101) == App::VSA_FAILOVER_STATUS_FAILOVER_COMPLETE &&
           FailoverStatus(102) == App::VSA_FAILOVER_STATUS_FAILOVER_COMPLETE;
  });
  EXPECT_EQ(App::VSA_FAILOVER_STATUS_NONE, FailoverStatus(201)) << "killed before the second priority";

  const SResult again = Rerun(805, "point-in-time-failover");
  EXPECT_EQ(0, again.code) << again.output;
  ExpectSettled(805);
  const std::pair<int, int> chosen[] = {{101, 0}, {102, 1}, {201, 0}};
  for (const auto& c : chosen) {
    SCOPED_TRACE(c.first);
    const SLabVM dr = VM(kSampleDestinationInstanceId, Dest(c.first));
    EXPECT_TRUE(dr.poweredOn);
    EXPECT_EQ(SamplePointInTimeContent(c.first, c.second), dr.content);
    EXPECT_FALSE(VM(kSampleSourceInstanceId, Source(c.first)).poweredOn);
    EXPECT_EQ(App::VSA_FAILOVER_STATUS_FAILOVER_COMPLETE, FailoverStatus(c.first));
    EXPECT_EQ(static_cast<long long>(kSamplePointsInTime[c.second]),
              Stored(c.first).GetInt64(App::VSAReplicationInfo::kVMSyncedTillTime));
  }
}

}  // namespace
