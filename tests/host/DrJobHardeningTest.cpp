// The host under bad input, faults and two processes at once: one run per
// DR job, no write lost or reported as done when it failed, and only seed
// makes a database.
#include <signal.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "JobTestSupport.h"
#include "TestSupport.h"
#include "host/DrJobTestSupport.h"
#include "jobs/JobStore.h"
#include "jobs/LabStore.h"
#include "msg/MsgEnums.h"
#include "vm/HypervisorLab.h"

namespace {

using drtest::Has;
using drtest::SResult;

class E2EDrJobHardening : public drtest::CDrJobLabTest {
 protected:
  // A run in the background, slow enough (the sample group waits a minute
  // between its priorities: three seconds at this scale) for a second
  // process to meet it. Returns once the run reports progress: it holds its
  // job and its job manager has counted the attempt.
  void StartSlowRun(drtest::CChildProcess& run, long long jobId) {
    ASSERT_TRUE(run.Start({"/usr/bin/env", "DR_RUN_DIR=" + m_dir + "/run", "DR_LOCK_DIR=" + m_dir + "/locks",
                           "DR_TIME_SCALE=0.05", DR_DRJOB, "run", "--db", m_db, "--group", "Sample", "--type",
                           "planned-failover", "--job-id", std::to_string(jobId)}));
    const std::string started = "drjob: DR job [" + std::to_string(jobId) + "] progress [";
    std::string line;
    while (run.ReadLine(line)) {
      if (line.find(started) != std::string::npos) return;
    }
    FAIL() << "the background run never started";
  }

  static int ExitCode(int status) { return WIFEXITED(status) ? WEXITSTATUS(status) : -1; }
};

TEST_F(E2EDrJobHardening, SecondRunOfARunningJobIsRefusedAndLeavesTheKillForTheFirst) {
  const long long jobId = 4294967301LL;
  // The first run's shutdown of a source VM records a kill and hangs: the
  // first run holds its job, unable to act on the kill, until released.
  for (ELabFault kind : {ELabFault::kKillJob, ELabFault::kHang}) {
    SLabFault fault;
    fault.opType = TMMsg::VM_OPERATION_SHUTDOWN;
    fault.vm = "src-101";
    fault.kind = kind;
    ASSERT_TRUE(CHypervisorLab::AddFault(fault));
  }
  drtest::CChildProcess first;
  StartSlowRun(first, jobId);
  ASSERT_TRUE(drtest::Eventually([&] { return Job(jobId).controlOp == 1; }));

  SResult second = Host("run --db " + m_db + " --group Sample --type planned-failover --job-id 4294967301");

  EXPECT_EQ(3, second.code) << second.output;
  EXPECT_EQ("drjob: DR job [4294967301] is already running in another process (" +
                CProcessIdentity::Text(CProcessIdentity::Of(first.Pid())) + "); nothing was changed\n",
            second.output);
  // The refused run neither cleared the kill nor counted an attempt.
  EXPECT_EQ(1, Job(jobId).controlOp);
  EXPECT_EQ("2", drtest::RestartString(jobId));

  ASSERT_TRUE(CHypervisorLab::ReleaseHangs());
  EXPECT_EQ(9, ExitCode(first.Wait()));  // the first run saw the kill
  EXPECT_EQ("Killed", Job(jobId).status);
}

TEST_F(E2EDrJobHardening, RunKilledOutrightIsTakenOverByTheNextRunAsARestart) {
  const long long jobId = 77;
  drtest::CChildProcess first;
  StartSlowRun(first, jobId);
  first.Kill();
  first.Wait();
  EXPECT_EQ("Running", Job(jobId).status);

  SResult again = Host("run --db " + m_db + " --group Sample --type planned-failover --job-id 77");

  EXPECT_EQ(0, again.code) << again.output;
  EXPECT_TRUE(Has(again, "drjob: DR job [77] was left running by a run that ended without finishing; this run takes "
                         "it over"))
      << again.output;
  EXPECT_TRUE(Has(again, "drjob: DR job [77] ran before: this run is a restart, attempt [2]")) << again.output;
  EXPECT_TRUE(Has(again, "drjob: DR job [77] finished with state [0] SUCCESS")) << again.output;
  EXPECT_EQ("Completed", Job(jobId).status);
  EXPECT_EQ("3", drtest::RestartString(jobId));
}

TEST_F(E2EDrJobHardening, WritesThatFailLeaveTheRecordIntactAndSaySo) {
  ASSERT_EQ(0, Host("run --db " + m_db + " --group Sample --type planned-failover --job-id 500").code);
  // A completed job is not run again: it is left failed, as a run that ended
  // badly leaves it, so that it restarts.
  ASSERT_EQ(EStoreResult::kOk, CJobStore::SetStatus(500, "Failed", 100.0));
  const SJobRecord before = Job(500);

  // The restart string cannot be stored: the job manager goes on (its
  // result is not checked there), but the record is never recreated.
  Sql("CREATE TRIGGER frozen_restart BEFORE UPDATE OF restartString ON PLT_Jobs "
      "BEGIN SELECT RAISE(ABORT, 'restart string frozen'); END");
  SResult restart = Host("run --db " + m_db + " --group Sample --type planned-failover --job-id 500");
  // Every machine was completed by the run before: they count as succeeded.
  EXPECT_EQ(0, restart.code) << restart.output;
  SJobRecord after = Job(500);
  EXPECT_EQ(before.optionsXml, after.optionsXml);
  EXPECT_EQ(before.ownerId, after.ownerId);
  EXPECT_EQ(before.name, after.name);
  EXPECT_EQ(before.restartString, after.restartString);
  EXPECT_NE(std::string::npos,
            drtest::ReadFile(m_dir + "/run/drorch.log").find("restart string frozen"));

  // The final state cannot be stored, nor the verdicts: the lines say so,
  // and how the job goes on once they can be.
  Sql("CREATE TRIGGER frozen_status BEFORE UPDATE OF status ON PLT_Jobs "
      "BEGIN SELECT RAISE(ABORT, 'status frozen'); END");
  Sql("CREATE TRIGGER frozen_verdicts BEFORE INSERT ON PLT_MachineVerdicts "
      "BEGIN SELECT RAISE(ABORT, 'verdicts frozen'); END");
  SResult status = Host("run --db " + m_db + " --group Sample --type planned-failover --job-id 501");
  EXPECT_EQ(13, status.code) << status.output;
  EXPECT_TRUE(Has(status, "drjob: DR job [501]: cannot store its state [Failed] (database error, see the log)"))
      << status.output;
  EXPECT_TRUE(Has(status, "drjob: DR job [501] finished with state [1] FAILED, but the state could not be stored"))
      << status.output;
  EXPECT_TRUE(Has(status, "drjob: DR job [501] machine [db-primary] (replication 101): no verdict yet: the job's "
                          "verdicts could not be stored in the lab (see the log); now: failover status [Failover "
                          "Complete]"))
      << status.output;
  EXPECT_TRUE(Has(status, "drjob: DR job [501] is continued by its restart once the lab can be written:\n"
                          "drjob: $ drjob run --db " + m_db + " --job-id 501\n"))
      << status.output;
  EXPECT_EQ("Running", Job(501).status);
  Sql("DROP TRIGGER frozen_verdicts");

  // A rerun of a known job must clear the old control request first, and
  // does not run when it cannot.
  Sql("CREATE TRIGGER frozen_control BEFORE UPDATE OF controlOp ON PLT_Jobs "
      "BEGIN SELECT RAISE(ABORT, 'control frozen'); END");
  // The run of 501 has ended: this process stands in for one that runs it.
  SProcessId previous;
  ASSERT_EQ(ELeaseResult::kTaken, CJobStore::TakeRunLease(501, CProcessIdentity::Self(), previous));
  SResult control = Host("control --db " + m_db + " --job 501 kill");
  EXPECT_EQ(4, control.code);
  EXPECT_EQ("drjob: cannot record the kill request for DR job [501]\n", control.output);
  EXPECT_EQ(0, Job(501).controlOp);
  Sql("DROP TRIGGER frozen_status");
  ASSERT_EQ(EStoreResult::kOk, CJobStore::SetStatus(500, "Failed", 100.0));
  SResult rerun = Host("run --db " + m_db + " --group Sample --type planned-failover --job-id 500");
  EXPECT_EQ(4, rerun.code);
  EXPECT_EQ("drjob: cannot clear the earlier control request of DR job [500]\n", rerun.output);
}

TEST_F(E2EDrJobHardening, ControlOfAnEndedJobSaysSo) {
  ASSERT_EQ(0, Host("run --db " + m_db + " --group Sample --type planned-failover --job-id 600").code);
  SResult r = Host("control --db " + m_db + " --job 600 suspend");
  EXPECT_EQ(14, r.code);
  EXPECT_EQ("drjob: DR job [600] has already ended [Completed]; nothing to suspend\n", r.output);
  EXPECT_EQ(0, Job(600).controlOp);
}

TEST_F(E2EDrJobHardening, OnlySeedMakesADatabaseAndOtherFilesAreLeftAsTheyWere) {
  const std::string empty = m_dir + "/empty.db";
  FILE* f = fopen(empty.c_str(), "w");
  ASSERT_NE(nullptr, f);
  fclose(f);
  const std::string foreign = m_dir + "/foreign.db";
  sqlite3* db = nullptr;
  ASSERT_EQ(SQLITE_OK, sqlite3_open(foreign.c_str(), &db));
  ASSERT_EQ(SQLITE_OK, sqlite3_exec(db, "CREATE TABLE notes (id INTEGER, text TEXT); INSERT INTO notes VALUES (1, 'x')",
                                    nullptr, nullptr, nullptr));
  sqlite3_close(db);

  for (const std::string& path : {empty, foreign}) {
    const drtest::SFileState before = drtest::StateOf(path);
    for (const std::string& command :
         {"run --db " + path + " --group Sample --type planned-failover", "control --db " + path + " --job 1 kill"}) {
      SResult r = Host(command);
      EXPECT_EQ(4, r.code) << command;
      EXPECT_TRUE(Has(r, "drjob: [" + path + "] is not a management database: it has no table [PLT_Jobs] (drjob "
                                              "seed makes one)"))
          << r.output;
    }
    EXPECT_TRUE(before == drtest::StateOf(path)) << path;
  }
  // Seed makes one of either.
  EXPECT_EQ(0, Host("seed --db " + empty).code);
  EXPECT_EQ(0, Host("run --db " + empty + " --group Sample --type planned-failover").code);
}

}  // namespace
