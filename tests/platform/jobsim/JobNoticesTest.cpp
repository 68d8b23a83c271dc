// Completion notices of child jobs: who may register, delivery once per
// registration by whoever ends the job, the planted faults, and the notifier
// program that delivers them outside the test process.
#include <stdio.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>

#include "JobSimTestSupport.h"
#include "TestSupport.h"
#include "db/App_MiscOptions.h"
#include "log/LogSink.h"

namespace {

using drtest::ChildJob;
using drtest::Eventually;

class JobNotices : public CJobSimTestBase {
 protected:
  void TearDown() override {
    CJobSimulator::SetNotifierPath(DR_NOTIFIER);
    CJobSimulator::SetNotifierLibrary("");
    CJobSimTestBase::TearDown();
  }

  static int Request(long long jobId, const std::string& token, int type = App_MiscOptions::kJobCompletion) {
    App_MiscOptions options;
    return options.requestJobCompletionNotification(jobId, 2, 0, type, token, nullptr);
  }
  static std::string Token(long long childJobId, long long drJobId = kDRJob, int thread = 77) {
    return "DRSrvc|" + std::to_string(drJobId) + "|" + std::to_string(thread) + "|JobWait|" +
           std::to_string(childJobId);
  }
  long long HeldWith(unsigned flags, long long delayMs = 0, long long foreign = 0) {
    const long long id = StartHeld(Of(EChildJobType::kRestore));
    SJobFaults faults;
    faults.flags = flags;
    faults.noticeDelayMs = delayMs;
    faults.foreignDrJobId = foreign;
    EXPECT_TRUE(CJobSimulator::SetFaults(id, faults));
    return id;
  }
  static size_t LogLines(const std::string& text) {
    size_t n = 0;
    for (const SLogLine& line : CLogSink::Instance().Captured()) n += line.text.find(text) != std::string::npos;
    return n;
  }
  static std::vector<std::vector<long long>> States(long long jobId) {
    return Rows("SELECT state FROM PLT_SimNotices WHERE jobId = " + std::to_string(jobId) + " ORDER BY id");
  }

  using Notices = std::vector<std::pair<unsigned long long, std::string>>;
};

TEST_F(JobNotices, OnlyAChildJobThatIsStillRunningTakesARegistration) {
  const int unknown = Request(424242, Token(424242));
  EXPECT_NE(0, unknown);
  EXPECT_NE(kJobAlreadyCompleted, unknown);

  SJobRecord byHand;  // a job record the simulator does not run
  byHand.jobId = 5000;
  byHand.jobType = CJobStore::kTypeChild;
  ASSERT_EQ(5000, CJobStore::CreateJob(byHand));
  EXPECT_NE(0, Request(5000, Token(5000)));
  EXPECT_NE(kJobAlreadyCompleted, Request(5000, Token(5000)));

  const long long ended = StartHeld(Of(EChildJobType::kRestore));
  ASSERT_TRUE(CJobSimulator::Complete(ended));
  EXPECT_EQ(0xa00016, Request(ended, Token(ended)));

  const long long running = StartHeld(Of(EChildJobType::kRestore));
  EXPECT_NE(0, Request(running, Token(running), 4)) << "no service for another notification type";
  EXPECT_EQ(0, Request(running, Token(running)));
  EXPECT_TRUE(m_notices.Notices().empty());
}

TEST_F(JobNotices, EachRegistrationIsDeliveredOnceByWhoeverEndsTheJob) {
  const long long pacer = StartPacer();
  const long long a = StartHeld(Of(EChildJobType::kRestore));
  SChildJobSpec shortOne = Of(EChildJobType::kRestore);
  shortOne.durationMs = 1;
  const long long b = StartHeld(shortOne);
  ASSERT_EQ(0, Request(a, Token(a, kDRJob, 1)));
  ASSERT_EQ(0, Request(a, Token(a, kDRJob, 2)));
  ASSERT_EQ(0, Request(b, Token(b)));

  ASSERT_TRUE(CJobSimulator::Complete(a));
  EXPECT_EQ((Notices{{a, Token(a, kDRJob, 1)}, {a, Token(a, kDRJob, 2)}}), m_notices.Notices());
  EXPECT_FALSE(CJobSimulator::Kill(a));

  ASSERT_TRUE(CJobSimulator::Resume(b));  // the runner ends it
  ASSERT_TRUE(Eventually([&] { return m_notices.CountFor(b) > 0; }));
  LetTimePass(pacer, 20000);
  EXPECT_EQ((Notices{{a, Token(a, kDRJob, 1)}, {a, Token(a, kDRJob, 2)}, {b, Token(b)}}), m_notices.Notices());
  EXPECT_EQ((std::vector<std::vector<long long>>{{2}, {2}}), States(a));
}

TEST_F(JobNotices, ARefusedRegistrationIsAnErrorAndNothingIsSent) {
  SJobFaults refused;
  refused.flags = kFaultNoticeRefused;
  ASSERT_TRUE(CJobSimulator::SetNextJobFaults(EChildJobType::kRestore, refused));
  const long long id = StartHeld(Of(EChildJobType::kRestore));
  const int rc = Request(id, Token(id));
  EXPECT_NE(0, rc);
  EXPECT_NE(kJobAlreadyCompleted, rc);
  ASSERT_TRUE(CJobSimulator::Complete(id));
  EXPECT_TRUE(m_notices.Notices().empty());
  EXPECT_TRUE(States(id).empty());

  const long long next = StartHeld(Of(EChildJobType::kRestore));  // the fault was for one job
  EXPECT_EQ(0, Request(next, Token(next)));
}

TEST_F(JobNotices, ADelayedNoticeFollowsTheEndingOnceThroughTheRunner) {
  const long long pacer = StartPacer();
  const long long id = HeldWith(kFaultNoticeDelayed, 500000);
  ASSERT_EQ(0, Request(id, Token(id)));
  // No runner while the ending is looked at: its delay is a few real
  // milliseconds in tests, which a busy machine lets pass at any point.
  m_simulator.reset();
  ASSERT_TRUE(CJobSimulator::Complete(id));
  EXPECT_TRUE(m_notices.Notices().empty());
  EXPECT_EQ((std::vector<std::vector<long long>>{{1}}), States(id));
  m_simulator.reset(new drtest::CScopedJobSimulator(&m_notices));
  ASSERT_TRUE(Eventually([&] { return !m_notices.Notices().empty(); }));
  LetTimePass(pacer, 20000);
  EXPECT_EQ((Notices{{id, Token(id)}}), m_notices.Notices());
}

TEST_F(JobNotices, ADroppedNoticeIsNeverSent) {
  const long long pacer = StartPacer();
  const long long id = HeldWith(kFaultNoticeDropped);
  ASSERT_EQ(0, Request(id, Token(id)));
  ASSERT_TRUE(CJobSimulator::Complete(id));
  LetTimePass(pacer, 20000);
  EXPECT_TRUE(m_notices.Notices().empty());
  EXPECT_EQ((std::vector<std::vector<long long>>{{3}}), States(id));
}

TEST_F(JobNotices, ADoubledNoticeIsSentTwice) {
  const long long id = HeldWith(kFaultNoticeDoubled);
  ASSERT_EQ(0, Request(id, Token(id)));
  ASSERT_TRUE(CJobSimulator::Kill(id));
  EXPECT_EQ((Notices{{id, Token(id)}, {id, Token(id)}}), m_notices.Notices());
}

TEST_F(JobNotices, AForeignTokenNamesAnotherDRJob) {
  const long long named = HeldWith(kFaultNoticeForeignToken, 0, 999);
  const long long next = HeldWith(kFaultNoticeForeignToken);
  ASSERT_EQ(0, Request(named, Token(named)));
  ASSERT_EQ(0, Request(next, Token(next)));
  ASSERT_TRUE(CJobSimulator::Complete(named));
  ASSERT_TRUE(CJobSimulator::Fail(next, "x"));
  EXPECT_EQ((Notices{{named, Token(named, 999)}, {next, Token(next, kDRJob + 1)}}), m_notices.Notices());
}

TEST_F(JobNotices, AnEarlyNoticeArrivesBeforeTheRegistrationReturns) {
  const long long id = HeldWith(kFaultNoticeEarly);
  std::atomic<bool> returned(false);
  std::atomic<int> beforeReturn(0);
  CJobSimulator::SetInProcessDelivery([&](unsigned long long jobId, std::string& token) {
    if (!returned.load()) ++beforeReturn;
    m_notices.Add(jobId, token);
  });
  ASSERT_EQ(0, Request(id, Token(id)));
  returned = true;
  // The job ended at its registration, so its notice is a true one that
  // came before anybody could wait for it.
  EXPECT_EQ(1, beforeReturn.load());
  EXPECT_TRUE(drtest::HasEnded(id));
  EXPECT_FALSE(CJobSimulator::Complete(id));
  EXPECT_EQ((Notices{{id, Token(id)}}), m_notices.Notices()) << "nothing more";
}

TEST_F(JobNotices, TheNotifierCallsTheLibrarysEntryOncePerRegistration) {
  CJobSimulator::SetInProcessDelivery(nullptr);
  CJobSimulator::SetNotifierLibrary(DR_NOTIFIER_TESTLIB);
  const long long id = StartHeld(Of(EChildJobType::kRestore));
  ASSERT_EQ(0, Request(id, Token(id, kDRJob, 1)));
  ASSERT_EQ(0, Request(id, Token(id, kDRJob, 2)));
  CLogSink::Instance().ClearCapture();
  ASSERT_TRUE(CJobSimulator::Complete(id));
  // The notifiers run on their own; the runner reaps them, and records each
  // answer just after it logs what that notifier said.
  const std::vector<std::vector<long long>> bothTaken{{2}, {2}};
  Eventually([&] { return LogLines("notifier said") == 2 && States(id) == bothTaken; });
  for (int thread : {1, 2}) {
    EXPECT_EQ(1u, LogLines("notifier said [DRChildJobDone [" + std::to_string(id) + "] [" +
                           Token(id, kDRJob, thread) + "]]"));
  }
  EXPECT_EQ(bothTaken, States(id)) << "both taken";
}

TEST_F(JobNotices, ANotifierThatFindsNoEntryIsLoggedWithItsLine) {
  CJobSimulator::SetInProcessDelivery(nullptr);
  CJobSimulator::SetNotifierLibrary(DR_PLATFORM_LIBRARY);
  const long long id = StartHeld(Of(EChildJobType::kRestore));
  ASSERT_EQ(0, Request(id, Token(id)));
  CLogSink::Instance().ClearCapture();
  ASSERT_TRUE(CJobSimulator::Complete(id));
  ASSERT_TRUE(Eventually([&] {
    return LogLines("Notifier for job [" + std::to_string(id) + "] exited [4]: [dr_jobdone_notifier: no "
                    "DRChildJobDone in [" DR_PLATFORM_LIBRARY "]") >= 1;
  }));
}

// The notifier on its own: its exit code and its one line.
struct SNotifierRun {
  int code;
  std::string output;
};

SNotifierRun RunNotifier(const std::string& args, const std::string& environment = std::string()) {
  SNotifierRun run{-1, std::string()};
  const std::string prefix = environment.empty() ? std::string() : "env " + environment + " ";
  FILE* pipe = popen((prefix + DR_NOTIFIER + " " + args + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return run;
  char buffer[512];
  while (fgets(buffer, sizeof(buffer), pipe) != nullptr) run.output += buffer;
  const int status = pclose(pipe);
  run.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

TEST(JobDoneNotifier, ExitsWithOneLineWhenTheLibraryOrItsEntryIsMissing) {
  SNotifierRun run = RunNotifier(std::string("--library ") + DR_PLATFORM_LIBRARY + " 42 'DRSrvc|7|1|JobWait|42'");
  EXPECT_EQ(4, run.code);
  EXPECT_EQ(0u, run.output.rfind("dr_jobdone_notifier: no DRChildJobDone in [" DR_PLATFORM_LIBRARY "]: ", 0))
      << run.output;
  EXPECT_EQ(1, std::count(run.output.begin(), run.output.end(), '\n'));

  run = RunNotifier("--library /nonexistent/libdrorch.so 42 token");
  EXPECT_EQ(3, run.code);
  EXPECT_EQ(0u, run.output.rfind("dr_jobdone_notifier: cannot load [/nonexistent/libdrorch.so]: ", 0)) << run.output;
  EXPECT_EQ(1, std::count(run.output.begin(), run.output.end(), '\n'));

  for (const char* bad : {"", "42", "x token", "0 token", "42 token extra"}) {
    run = RunNotifier(bad);
    EXPECT_EQ(2, run.code) << bad;
    EXPECT_EQ("dr_jobdone_notifier: usage: dr_jobdone_notifier [--library PATH] CHILD_JOB_ID TOKEN\n", run.output);
  }
}

TEST(JobDoneNotifier, CallsTheEntryWithTheJobAndTheTokenAsGivenAndSaysWhetherItWasTaken) {
  SNotifierRun run = RunNotifier(std::string("--library ") + DR_NOTIFIER_TESTLIB + " 2147483647 'DRSrvc|4294967303|9|JobWait|5'");
  EXPECT_EQ(0, run.code);
  EXPECT_EQ("DRChildJobDone [2147483647] [DRSrvc|4294967303|9|JobWait|5]\n", run.output);
  run = RunNotifier(std::string("--library ") + DR_NOTIFIER_TESTLIB + " 42 'DRSrvc|7|9|JobWait|42'",
                    "DR_TEST_NOTICE_TAKEN=0");
  EXPECT_EQ(5, run.code) << "the service did not take it";
  EXPECT_EQ("DRChildJobDone [42] [DRSrvc|7|9|JobWait|42]\n", run.output);
}

TEST(JobDoneNotifier, ReadsNothingButTheServiceDirectory) {
  // The real library, a DR job nobody serves, and a run folder of its own:
  // the notice is not taken, and no database appears anywhere.
  const std::string folder = drtest::MakeTempDir("drnotifier");
  const SNotifierRun run = RunNotifier("42 'DRSrvc|424242|9|JobWait|42'", "DR_RUN_DIR='" + folder + "' DR_DB_PATH=");
  EXPECT_EQ(5, run.code) << run.output;
  for (const char* file : {"drorch.db", "drorch.db-wal", "drorch.db-shm"}) {
    EXPECT_NE(0, access((folder + "/" + file).c_str(), F_OK)) << file;
  }
  drtest::RemoveTree(folder);
}

}  // namespace
