// Running a DR job again through drjob: the job's record keeps its DR type
// and options, a rerun that asks for something else is turned away before
// it touches the record, and one that names only the job runs what the
// record holds.
#include <signal.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "JobTestSupport.h"
#include "host/DrJobTestSupport.h"
#include "host/SeedLab.h"
#include "jobs/JobStore.h"
#include "msg/MsgEnums.h"
#include "repl/ReplicationStore.h"
#include "vm/HypervisorLab.h"

namespace {

using drtest::Has;
using drtest::SResult;

class E2EDrJobRerun : public drtest::CDrJobLabTest {
 protected:
  // The next operation of the type on the VM records a kill of its DR job,
  // as drjob control would: the run ends killed, a job that may run again.
  static void KillAt(const std::string& guid, int opType) {
    SLabFault kill;
    kill.opType = opType;
    kill.vm = guid;
    kill.kind = ELabFault::kKillJob;
    ASSERT_TRUE(CHypervisorLab::AddFault(kill));
  }
  // A restore-options file of the given source GUID.
  std::string RestoreFile(const std::string& name, const std::string& guid) {
    CNMessageBase restore(TMMsg::VirtualServerRestoreOptionFields::ClassInfo());
    restore.SetString(TMMsg::VirtualServerRestoreOptionFields::kSourceGuid, guid);
    std::string xml;
    EXPECT_TRUE(restore.serializeUTF8(xml));
    const std::string path = m_dir + "/" + name;
    EXPECT_TRUE(drtest::WriteFile(path, xml));
    return path;
  }
};

TEST_F(E2EDrJobRerun, ARerunAskingForAnotherTypeGroupOrOptionIsTurnedAwayAndChangesNothing) {
  const std::string restore = RestoreFile("restore.xml", "guid-a");
  const std::string other = RestoreFile("other.xml", "guid-b");
  const std::string broken = m_dir + "/broken.xml";
  ASSERT_TRUE(drtest::WriteFile(broken, "not a message"));
  // Each machine of the first priority meets the kill at its own snapshot:
  // one that finished first would end the job completed with errors.
  KillAt("dst-101", TMMsg::VM_OPERATION_CREATE_SNAPSHOT);
  KillAt("dst-102", TMMsg::VM_OPERATION_CREATE_SNAPSHOT);
  const std::string made = "run --db " + m_db + " --group Sample --type testboot --job-id 61";
  const SResult killed = Host(made + " --testboot-wait 3 --keep-network-adapters");
  ASSERT_EQ(9, killed.code) << killed.output;
  ASSERT_TRUE(CHypervisorLab::ClearFaults());
  const SJobRecord before = Job(61);
  ASSERT_EQ("Killed", before.status);
  const size_t jobs = drtest::AllJobs().size();

  const std::string rerun = "run --db " + m_db + " --job-id 61";
  const std::string keeps = "; a rerun keeps the job's DR type and options, nothing was changed\n";
  const struct {
    std::string args;
    int code;
    std::string line;
  } cases[] = {
      {" --type undo-failover", 2, "DR job [61] was made with [--type testboot], not [--type undo-failover]" + keeps},
      {" --group Sample --type 6", 2,
       "DR job [61] was made with [--type testboot], not [--type undo-failover]" + keeps},
      {" --group SampleTest", 5, "DR job [61] belongs to DR group [1], not to [SampleTest]\n"},
      {" --group Nowhere", 5,
       "unknown DR group [Nowhere]; the DR groups of the lab are Sample (1), SampleDB (2), SampleArray (3), "
       "SampleTest (4)\n"},
      {" --testboot-wait 5", 2, "DR job [61] was made with [--testboot-wait 3], not [--testboot-wait 5]" + keeps},
      {" --point-in-time 101=1767225600", 2,
       "DR job [61] was made with [no --point-in-time], not [--point-in-time 101=1767225600]" + keeps},
      {" --no-power-on", 2, "DR job [61] was made with [no --no-power-on], not [--no-power-on]" + keeps},
      {" --delete-from-hypervisor", 2,
       "DR job [61] was made with [no --delete-from-hypervisor], not [--delete-from-hypervisor]" + keeps},
      {" --restore-options " + other, 2,
       "DR job [61] was made with [no --restore-options], not [--restore-options " + other + "]" + keeps},
      // A restore-options file is read on a rerun too.
      {" --restore-options " + m_dir + "/missing.xml", 2,
       "cannot read the restore options [" + m_dir + "/missing.xml]: No such file or directory\n"},
      {" --testboot-wait 3 --restore-options " + broken, 2, "the restore options [" + broken + "] do not parse"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args);
    const SResult r = Host(rerun + c.args);
    EXPECT_EQ(c.code, r.code) << r.output;
    EXPECT_EQ(0u, r.output.find("drjob: " + c.line)) << r.output;
    EXPECT_EQ(1, std::count(r.output.begin(), r.output.end(), '\n')) << r.output;
    const SJobRecord after = Job(61);
    drtest::ExpectJobUntouched(before, after);
    EXPECT_EQ(jobs, drtest::AllJobs().size());
  }

  // A job without a record needs its group and type.
  const SResult unknown = Host("run --db " + m_db + " --job-id 62 --type planned-failover");
  EXPECT_EQ(2, unknown.code) << unknown.output;
  EXPECT_EQ("drjob: DR job [62] has no record: a new DR job needs --group NAME|ID and --type TYPE\n", unknown.output);
  EXPECT_EQ(jobs, drtest::AllJobs().size());

  // What the record holds, given again, is the same job.
  const SResult again = Host(made + " --testboot-wait 3 --keep-network-adapters");
  EXPECT_EQ(0, again.code) << again.output;
  EXPECT_TRUE(Has(again, "drjob: DR job [61] ran before: this run is a restart, attempt [2]")) << again.output;
  EXPECT_EQ(before.optionsXml, Job(61).optionsXml);
}

// A point-in-time failover that was killed is continued by naming the job
// alone: the points in time it was made with bring each DR VM up.
TEST_F(E2EDrJobRerun, ARerunNamingOnlyTheJobRunsItsRecordedTypeAndOptions) {
  const std::string t0 = std::to_string(kSamplePointsInTime[0]);
  const std::string t1 = std::to_string(kSamplePointsInTime[1]);
  // Each machine of the first priority records the kill at its own
  // shutdown: one that had finished before the other's kill was seen would
  // end the job completed with errors, which is not run again.
  KillAt("src-101", TMMsg::VM_OPERATION_SHUTDOWN);
  KillAt("src-102", TMMsg::VM_OPERATION_SHUTDOWN);
  const SResult killed = Host("run --db " + m_db + " --group Sample --type point-in-time-failover --job-id 63"
                              " --point-in-time 101=" + t1 + " --point-in-time 102=" + t0 +
                              " --point-in-time 201=" + t1);
  ASSERT_EQ(9, killed.code) << killed.output;
  ASSERT_TRUE(CHypervisorLab::ClearFaults());

  const SResult again = Host("run --db " + m_db + " --job-id 63");
  EXPECT_EQ(0, again.code) << again.output;
  EXPECT_TRUE(Has(again, "drjob: DR job [63] on DR group [Sample] (id 1), type [point-in-time-failover]"))
      << again.output;
  EXPECT_TRUE(Has(again, "this run is a restart, attempt [2]")) << again.output;
  const std::pair<int, int> chosen[] = {{101, 1}, {102, 0}, {201, 1}};
  for (const auto& c : chosen) {
    SCOPED_TRACE(c.first);
    SLabVM dr;
    ASSERT_EQ(EStoreResult::kOk, CHypervisorLab::GetVM(kSampleDestinationInstanceId, "dst-" + std::to_string(c.first), dr));
    EXPECT_TRUE(dr.poweredOn);
    EXPECT_EQ(SamplePointInTimeContent(c.first, c.second), dr.content);
    App::VSAReplicationInfo info;
    ASSERT_TRUE(CReplicationStore::Get(c.first, info));
    EXPECT_EQ(App::VSA_FAILOVER_STATUS_FAILOVER_COMPLETE, info.GetInt32(App::VSAReplicationInfo::kFailoverStatus));
  }
}

// A run that died while a helper it was starting still shared its run lock
// leaves the lock held a moment longer than itself: the rerun waits for it
// instead of calling the job running elsewhere.
TEST_F(E2EDrJobRerun, ARerunWaitsOutTheRunLockOfARunThatHasGone) {
  const SResult killed = drtest::RunShell(drtest::HostEnvironment(m_dir) + "DR_CRASH_AT='Total machines for DR' " +
                                          DR_DRJOB + " run --db " + m_db +
                                          " --group Sample --type planned-failover --job-id 71 2>&1");
  ASSERT_TRUE(killed.code == -1 || killed.code == 128 + SIGKILL) << killed.code << killed.output;
  struct stat st;
  ASSERT_EQ(0, stat(m_db.c_str(), &st));
  const std::string lock = "DRJOB_RUN|" + std::to_string(static_cast<unsigned long long>(st.st_dev)) + ":" +
                           std::to_string(static_cast<unsigned long long>(st.st_ino)) + "|71";
  drtest::CChildProcess holder;
  ASSERT_TRUE(holder.Start({DR_MUTEX_HELPER, m_dir + "/locks", lock, "hold"}));
  std::string line;
  ASSERT_TRUE(holder.ReadLine(line) && line == "LOCKED") << line;

  drtest::CChildProcess rerun;
  StartHost(rerun, "run --db " + m_db + " --job-id 71");
  ASSERT_TRUE(rerun.ReadLine(line, 60000));
  EXPECT_EQ("drjob: DR job [71]: the process that ran it has gone; waiting for its run lock", line);
  holder.CloseInput();
  ASSERT_TRUE(holder.ReadLine(line) && line == "RELEASED") << line;
  holder.Wait();
  const SResult r = Finish(rerun);
  EXPECT_EQ(0, r.code) << r.output;
  EXPECT_EQ("Completed", Job(71).status);

  // A lock held by a process the record does not name as gone is refused at
  // once: the job runs elsewhere.
  ASSERT_TRUE(holder.Start({DR_MUTEX_HELPER, m_dir + "/locks", lock, "hold"}));
  ASSERT_TRUE(holder.ReadLine(line) && line == "LOCKED") << line;
  SJobRecord job = Job(71);
  EXPECT_TRUE(job.runner.Empty());
  const SResult refused = Host("run --db " + m_db + " --job-id 71");
  EXPECT_EQ(3, refused.code) << refused.output;
  holder.CloseInput();
  holder.Wait();
}

}  // namespace
