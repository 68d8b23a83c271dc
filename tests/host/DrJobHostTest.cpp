#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include <gtest/gtest.h>

#include "drorch/DRJobManager.h"
#include "host/DrJobArgs.h"
#include "TestSupport.h"
#include "host/DrJobTestSupport.h"
#include "db/DBConnection.h"
#include "jobs/JobStore.h"
#include "jobs/ZNDROrchestrationClnt.h"
#include "msg/MsgClasses.h"
#include "msg/MsgEnums.h"
#include "vm/HypervisorLab.h"
#include "JobTestSupport.h"

namespace {

using drtest::Has;
using drtest::ReadFile;
using drtest::RunDrJob;
using drtest::SResult;

class E2EDrJobLab : public drtest::CDrJobLabTest {
 protected:
  // This process runs the job, as drjob run would: control asks a live
  // runner only.
  static void RunHere(long long jobId) {
    SProcessId previous;
    ASSERT_EQ(ELeaseResult::kTaken, CJobStore::TakeRunLease(jobId, CProcessIdentity::Self(), previous));
  }
};


TEST(E2EDrJobHost, BadArgumentsGiveOneClearErrorAndAFailingExit) {
  const std::pair<const char*, const char*> cases[] = {
      {"", "no command given"},
      {"bogus", "unknown command [bogus]"},
      {"run --db x.db --group g --type 99", "unknown DR type [99]"},
      {"run --db x.db --type 1", "run needs --group NAME|ID"},
      {"run --db x.db --group g", "run needs --type TYPE"},
      {"run --group g --type 1", "run needs --db PATH"},
      {"run --db x.db --group g --type 1 --job-id -4", "bad job id [-4]"},
      {"run --db x.db --group g --type 1 --job-id 99999999999999999999", "bad job id"},
      {"control --db x.db --job 5", "control needs kill or suspend"},
      {"control --db x.db kill", "control needs --job N"},
      {"control --db x.db --job 5 restart", "unexpected argument [restart]"},
      {"seed --db", "option --db needs a value"},
      // An option of one value given twice, in every command that takes it.
      {"seed --db x.db --db y.db", "option --db is given twice ([x.db] and [y.db]), but takes one value"},
      {"run --db x.db --group g --type 1 --db x.db", "option --db is given twice ([x.db] and [x.db])"},
      {"run --db x.db --type 1 --group g --type failback", "option --type is given twice ([1] and [failback])"},
      {"run --db x.db --group g --type 1 --job-id 4 --job-id 5", "option --job-id is given twice ([4] and [5])"},
      {"control --db x.db --job 5 kill --job 6", "option --job is given twice ([5] and [6])"},
      {"jobs --db x.db --job 5 --job 6", "option --job is given twice"},
      {"job --db x.db --job 5 --job 5 complete", "option --job is given twice"},
      {"tasks --db x.db --db y.db", "option --db is given twice"},
      {"lab --db x.db show --db y.db", "option --db is given twice"},
  };
  for (const auto& c : cases) {
    SResult r = RunDrJob(c.first);
    EXPECT_EQ(2, r.code) << c.first;
    EXPECT_NE(std::string::npos, r.output.find(std::string("drjob: ") + c.second)) << c.first << "\n" << r.output;
  }
}

TEST(E2EDrJobHost, HelpShowsEveryCommandAndAnArgumentErrorIsOneLinePointingAtItsCommandsHelp) {
  const char* const usages[] = {
      "drjob seed --db PATH [--replace]\n",
      "drjob run --db PATH --group NAME|ID --type TYPE [--job-id N] [--delete-from-hypervisor]\n",
      "drjob control --db PATH --job N kill|suspend\n",
      "drjob jobs --db PATH [--job N]\n",
      "drjob job --db PATH --job N complete|fail|hang|resume|kill|percent P\n",
      "drjob tasks --db PATH\n",
      "drjob lab --db PATH [show | down NAME | up NAME | write NAME | release]\n",
  };
  const char* const commands[] = {"seed", "run", "control", "jobs", "job", "tasks", "lab"};
  const SResult help = RunDrJob("--help");
  EXPECT_EQ(0, help.code) << help.output;
  for (size_t i = 0; i < 7; ++i) {
    EXPECT_TRUE(Has(help, usages[i])) << usages[i];
    EXPECT_TRUE(Has(help, std::string("exit codes of ") + commands[i] + ": ")) << commands[i];
  }
  EXPECT_TRUE(Has(help, "16 no process runs the DR job")) << help.output;
  EXPECT_TRUE(Has(help, "15 the lock folder cannot be used")) << help.output;

  // An error: one line, the error and where its command's usage is, never
  // the usage itself. The usage, alone and successful, for the command's
  // --help.
  const struct {
    const char* args;
    const char* error;
    size_t command;
  } errors[] = {
      {"run --db x.db --group g", "drjob: run needs --type TYPE", 1},
      {"control --db x.db --job 5 restart", "drjob: unexpected argument [restart] for control", 2},
      {"seed --db x.db --bogus", "drjob: unexpected argument [--bogus] for seed", 0},
      {"job --db x.db --job 4 percent 100", "drjob: percent needs a number from 0 to 99, not [100]", 4},
      // Else the last would win: SampleDB would fail over.
      {"run --db x.db --group Sample --group SampleDB --type 1",
       "drjob: option --group is given twice ([Sample] and [SampleDB]), but takes one value", 1},
  };
  for (const auto& e : errors) {
    SCOPED_TRACE(e.args);
    const SResult r = RunDrJob(e.args);
    EXPECT_EQ(2, r.code);
    EXPECT_EQ(std::string(e.error) + "; drjob " + commands[e.command] + " --help shows its usage\n", r.output);
    const SResult own = RunDrJob(std::string(commands[e.command]) + " --help");
    EXPECT_EQ(0, own.code);
    EXPECT_EQ(0u, own.output.find(std::string("usage: ") + usages[e.command])) << own.output;
    for (size_t i = 0; i < 7; ++i) {
      if (i == e.command) continue;
      EXPECT_FALSE(Has(own, usages[i])) << own.output;
    }
  }
  const SResult unknown = RunDrJob("bogus");
  EXPECT_EQ(2, unknown.code);
  EXPECT_EQ("drjob: unknown command [bogus]; drjob --help shows every command\n", unknown.output);
  // drjob alone asks for nothing but the usage.
  const SResult alone = RunDrJob("");
  EXPECT_EQ(2, alone.code);
  for (size_t i = 0; i < 7; ++i) EXPECT_TRUE(Has(alone, usages[i])) << alone.output;
}

TEST(E2EDrJobHost, UnreadableDatabaseIsRefused) {
  SResult r = RunDrJob("run --db /nonexistent/dir/lab.db --group Sample --type planned-failover");
  EXPECT_EQ(4, r.code);
  EXPECT_NE(std::string::npos, r.output.find("drjob: cannot read the database [/nonexistent/dir/lab.db]"));
}

TEST_F(E2EDrJobLab, RunGoesFromInitializeToTheFinalStateWithTheSummary) {
  SResult r = Host("run --db " + m_db + " --group Sample --type planned-failover --job-id 4242");

  EXPECT_EQ(0, r.code) << r.output;
  EXPECT_TRUE(Has(r, "drjob: DR job [4242] on DR group [Sample] (id 1)")) << r.output;
  EXPECT_TRUE(Has(r, "drjob: DR job [4242] finished with state [0] SUCCESS")) << r.output;
  EXPECT_FALSE(Has(r, "could not be initialised")) << r.output;
  EXPECT_FALSE(Has(r, "restart")) << r.output;
  const std::string log = ReadFile(m_dir + "/run/drorch.log");
  EXPECT_NE(std::string::npos, log.find("DR Priority-Queue initialized with [2] member(s)")) << log;
  EXPECT_NE(std::string::npos, log.find("Processing PRIORITY [1]")) << log;
  EXPECT_NE(std::string::npos, log.find("Processing PRIORITY [2]")) << log;
  EXPECT_NE(std::string::npos, log.find("======== JOB SUMMARY REPORT DR OPERATION ==========")) << log;
  EXPECT_NE(std::string::npos, log.find("Total machines for DR        [3]")) << log;
  EXPECT_NE(std::string::npos, log.find("Total machines succeeded     [3]")) << log;
  EXPECT_NE(std::string::npos, log.find("[Planned Failover] has finished ")) << log;
  SJobRecord job;
  ASSERT_EQ(EStoreResult::kOk, CJobStore::GetJob(4242, job));
  EXPECT_EQ("Completed", job.status);
  // The job manager started and stored the next attempt.
  EXPECT_EQ("2", job.restartString);
}

TEST_F(E2EDrJobLab, RunningAKilledJobIdAgainIsARestart) {
  // The lab's kill trigger records the kill the way drjob control does.
  SLabFault kill;
  kill.opType = TMMsg::VM_OPERATION_POWER_OFF;
  kill.vm = "dst-101";
  kill.kind = ELabFault::kKillJob;
  ASSERT_TRUE(CHypervisorLab::AddFault(kill));
  const SResult killed = Host("run --db " + m_db + " --group 1 --type 1 --job-id 5000000001");
  ASSERT_EQ(9, killed.code) << killed.output;
  ASSERT_TRUE(CHypervisorLab::ClearFaults());
  SResult again = Host("run --db " + m_db + " --group Sample --type planned-failover --job-id 5000000001");

  EXPECT_EQ(0, again.code) << again.output;
  EXPECT_TRUE(Has(again, "drjob: DR job [5000000001] ran before: this run is a restart, attempt [2]"))
      << again.output;
  EXPECT_TRUE(Has(again, "drjob: DR job [5000000001] finished with state [0] SUCCESS")) << again.output;
  EXPECT_EQ("3", drtest::RestartString(5000000001LL));
}

// A completed job has done its DR operation: a second run would repeat it
// on machines that went through it already. Refused before the run takes
// anything, whatever the completion says.
TEST_F(E2EDrJobLab, ACompletedJobIsNotRunAgainAndItsRecordStaysAsItWas) {
  ASSERT_EQ(0, Host("run --db " + m_db + " --group Sample --type planned-failover --job-id 77").code);
  const size_t jobs = drtest::AllJobs().size();
  for (const std::string status : {"Completed", "Completed w/ one or more errors"}) {
    SCOPED_TRACE(status);
    ASSERT_EQ(EStoreResult::kOk, CJobStore::SetStatus(77, status, 93.0));
    SJobRecord before;
    ASSERT_EQ(EStoreResult::kOk, CJobStore::GetJob(77, before));
    const SResult again = Host("run --db " + m_db + " --group Sample --type planned-failover --job-id 77");
    EXPECT_EQ(14, again.code) << again.output;
    EXPECT_EQ("drjob: DR job [77] has already ended [" + status +
                  "]; a completed DR job is not run again, nothing was changed\n",
              again.output);
    SJobRecord after;
    ASSERT_EQ(EStoreResult::kOk, CJobStore::GetJob(77, after));
    drtest::ExpectJobUntouched(before, after);
    EXPECT_EQ(jobs, drtest::AllJobs().size()) << "no child job was started";
  }
}

TEST_F(E2EDrJobLab, RunWithoutAJobIdTakesTheNextFreeOne) {
  SResult r = Host("run --db " + m_db + " --group Sample --type test-failover");
  EXPECT_EQ(1, r.code) << r.output;
  ASSERT_EQ(1u, drtest::AllJobs().size());
  EXPECT_TRUE(Has(r, "drjob: DR job [" + std::to_string(drtest::AllJobs()[0].jobId) + "] on DR group [Sample]"));
}

TEST_F(E2EDrJobLab, KillFromASecondProcessIsSeenByTheJobsManager) {
  const long long jobId = 5000000002LL;
  CreateDRJob(jobId);
  RunHere(jobId);
  ZNDROrchestrationClnt client(jobId);
  CDRJobManager jm;
  ASSERT_TRUE(jm.Initialize(client, 0, 2));
  EXPECT_FALSE(jm.IsQuitFlagSet());

  SResult r = Host("control --db " + m_db + " --job 5000000002 kill");

  ASSERT_EQ(0, r.code) << r.output;
  EXPECT_TRUE(Has(r, "drjob: kill requested for DR job [5000000002]"));
  EXPECT_TRUE(jm.IsQuitFlagSet());
  EXPECT_TRUE(jm.IsJobKillIssued());
  EXPECT_FALSE(jm.IsJobSuspended());
}

TEST_F(E2EDrJobLab, SuspendFromASecondProcessIsSeenByTheJobsManager) {
  const long long jobId = 31;
  CreateDRJob(jobId);
  RunHere(jobId);
  ZNDROrchestrationClnt client(jobId);
  CDRJobManager jm;
  ASSERT_TRUE(jm.Initialize(client, 0, 2));

  ASSERT_EQ(0, Host("control --db " + m_db + " --job 31 suspend").code);

  EXPECT_TRUE(jm.IsQuitFlagSet());
  EXPECT_TRUE(jm.IsJobSuspended());
  EXPECT_FALSE(jm.IsJobKillIssued());
}

TEST_F(E2EDrJobLab, UnknownGroupJobOrForeignJobGiveOneErrorLine) {
  SResult group = Host("run --db " + m_db + " --group Nowhere --type 1");
  EXPECT_EQ(5, group.code);
  EXPECT_EQ(0u, group.output.find("drjob: unknown DR group [Nowhere]; the DR groups of the lab are Sample (1)"))
      << group.output;

  SResult control = Host("control --db " + m_db + " --job 99 kill");
  EXPECT_EQ(5, control.code);
  EXPECT_EQ("drjob: no DR job [99]\n", control.output);

  // A job that is not a DR job is not run as one.
  SJobRecord child;
  child.jobId = 55;
  child.jobType = CJobStore::kTypeChild;
  ASSERT_EQ(55, CJobStore::CreateJob(child));
  SResult foreign = Host("run --db " + m_db + " --group Sample --type 1 --job-id 55");
  EXPECT_EQ(5, foreign.code);
  EXPECT_EQ("drjob: job [55] is not a DR job\n", foreign.output);
  EXPECT_TRUE(drtest::AllJobs().size() == 1u);
}

TEST_F(E2EDrJobLab, AFileThatIsNotADatabaseIsRefused) {
  std::string bad = m_dir + "/notes.db";
  FILE* f = fopen(bad.c_str(), "w");
  ASSERT_NE(nullptr, f);
  fputs("these are not tables\n", f);
  fclose(f);
  SResult r = Host("run --db " + bad + " --group Sample --type 1");
  EXPECT_EQ(4, r.code);
  EXPECT_TRUE(Has(r, "drjob: [" + bad + "] is not a readable management database")) << r.output;
}

// A printed command is pasted into a shell: each word drjob quotes must come
// back as exactly the bytes it stands for, and stay on its line. /bin/sh
// reads every word without a control character; bash reads every word.
TEST(DrJobArgs, AShellWordReadsBackAsItsBytesInTheShell) {
  const std::string texts[] = {"plain/lab-1.db", "", "a\\b", "a\\\\b", "two words", "quote'd", "'",
                               "$HOME `id` \"x\" *", "tab\there", "new\nline", "ends\n\n", "cr\r\\'\x1b[2J\x7f",
                               "\xc3\xbc" "ber\tb\\'", "-starts-with-a-dash", "~home"};
  char folder[] = "/tmp/drjob-shellword-XXXXXX";
  ASSERT_NE(nullptr, mkdtemp(folder));
  const std::string script = std::string(folder) + "/word.sh";
  for (const std::string& text : texts) {
    SCOPED_TRACE(CDrJobArgs::Printable(text));
    const std::string word = CDrJobArgs::ShellWord(text);
    bool control = false;
    for (unsigned char c : text) control = control || c < 0x20 || c == 0x7f;
    for (unsigned char c : word) EXPECT_FALSE(c < 0x20 || c == 0x7f) << word;
    // The word as the one argument of printf, and a mark after it, so that
    // no trailing newline is lost.
    FILE* f = fopen(script.c_str(), "w");
    ASSERT_NE(nullptr, f);
    fprintf(f, "printf '%%s|' %s\n", word.c_str());
    fclose(f);
    EXPECT_EQ(text + "|", drtest::RunShell("bash " + script).output) << word;
    if (!control) {
      EXPECT_EQ(text + "|", drtest::RunShell("/bin/sh " + script).output) << word;
    }
  }
  unlink(script.c_str());
  rmdir(folder);
}

TEST(DrJobArgs, TypesByNumberAndName) {
  TMMsg::DROrchestrationType type = TMMsg::DR_ORCHESTRATION_NONE;
  EXPECT_TRUE(CDrJobArgs::ParseType("1", type));
  EXPECT_EQ(TMMsg::DR_ORCHESTRATION_PLANNED_FAILOVER, type);
  EXPECT_TRUE(CDrJobArgs::ParseType("undo-test-failover", type));
  EXPECT_EQ(TMMsg::DR_ORCHESTRATION_UNDO_TEST_FAILOVER, type);
  EXPECT_FALSE(CDrJobArgs::ParseType("5", type));
  EXPECT_FALSE(CDrJobArgs::ParseType("12", type));
  EXPECT_FALSE(CDrJobArgs::ParseType("0", type));
  EXPECT_FALSE(CDrJobArgs::ParseType("1x", type));
}

}  // namespace
