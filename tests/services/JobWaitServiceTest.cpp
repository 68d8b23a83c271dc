// The notice path of the child-job waits: a worker registers with the job
// manager service, waits on the DR job's own loopback service, and wakes
// when the ended child's notice arrives through DRChildJobDone; a DR quit
// reaches blocked waiters through the service's idle callback.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "JobSimTestSupport.h"
#include "TestSupport.h"
#include "TestThread.h"
#include "drorch/DRChildJobDone.h"
#include "db/App_MiscOptions.h"
#include "drorch/DRJobManager.h"
#include "jobs/ZNDROrchestrationClnt.h"
#include "jobsim/JobNotices.h"
#include "jobsim/JobSimulator.h"
#include "net/ServiceDirectory.h"
#include "net/ZnNetwork.h"
#include "platform/net/NetTestSupport.h"
#include "services/DRSrvcAgent.h"
#include "services/ServicesTestSupport.h"
#include "settings/ZNPlatformInfo.h"
#include "sim/Simulators.h"
#include "engine/ZnCriticalSectionLock.h"

class CDRJobManagerTestPeer {
 public:
  static CDRSrvcAgent* Agent(CDRJobManager& jm) {
    ZnCriticalSectionLock lock(&jm.m_lock);
    return jm.m_srvcAgent;
  }
};

namespace {

using drtest::Eventually;

// Time limit of the test's own network calls: given in scaled seconds, so
// as many as make the watchdog's real time.
constexpr int kNetSeconds = static_cast<int>(drtest::kWatchdogMs / 1000 / drtest::kTestScale);

class CJobWaitFixture : public CServicesTestBase {
 protected:
  static constexpr long long kJob = 4294967296LL + 800;

  void SetUp() override {
    CServicesTestBase::SetUp();
    CreateJob(kJob, Xml(MakeOptions()));
    m_client.reset(new ZNDROrchestrationClnt(kJob));
    m_jm.reset(new CDRJobManager());
    ASSERT_TRUE(m_jm->Initialize(*m_client, 0, 2));
    CPlatformClock::Instance().ClearRecords();
    m_scale = CPlatformClock::Instance().Scale();
  }
  void TearDown() override {
    m_jm.reset();
    m_simulator.reset();
    CJobSimulator::SetNotifierPath(DR_NOTIFIER);
    CPlatformClock::Instance().SetScale(m_scale);
    CServicesTestBase::TearDown();
  }
  // The simulator's notices go straight to the completion entry in this
  // process (in production a separate program calls it).
  void StartSimulator(bool inProcess = true) {
    m_simulator.reset(new drtest::CScopedJobSimulator());
    if (inProcess) CJobSimulator::SetInProcessAcknowledgedDelivery(DRChildJobDoneAcknowledged);
  }
  // What became of a child's (first) completion notice.
  static int NoticeState(long long child) {
    std::vector<int> states;
    return CJobNotices::States(child, states) == EStoreResult::kOk && !states.empty() ? states[0] : -1;
  }
  static size_t BackstopWaits() {
    return CPlatformClock::Instance().CountWaits(30000, CDRSrvcAgent::kBackstopReason);
  }
  long long HungChild() {
    SChildJobSpec spec;
    spec.type = EChildJobType::kBackupCopy;
    spec.parentJobId = kJob;
    spec.storagePolicyId = 3;
    spec.hang = true;
    return CJobSimulator::StartJob(spec);
  }
  // The job's status; a text no status has when there is no such job.
  static std::string Status(long long id) {
    SJobRecord r;
    return CJobStore::GetJob(id, r) == EStoreResult::kOk ? r.status : "<no job " + std::to_string(id) + ">";
  }
  static bool Waiting(long long child) {
    return CLogSink::Instance().Contains("Adding Job [" + std::to_string(child) + "] to jobEventMap");
  }

  // A worker blocked in WaitForJobCompletion.
  struct SWorker {
    std::atomic<bool> done{false};
    std::atomic<bool> result{false};
    drtest::CTestThread thread;  // last: stopped and joined before the flags go
  };
  void StartWorker(SWorker& w, long long child, int flags) {
    w.thread.Start(
        [this, &w, child, flags] {
          long long id = child;
          w.result = m_jm->WaitForJobCompletion(id, flags);
          w.done = true;
        },
        "waiter for child " + std::to_string(child));
    // A stop request cuts the notice wait short, but the poll that follows
    // goes on until the child ends or the DR job quits: a kill of the DR job
    // ends it whatever it waits for.
    w.thread.OnStop([] { CJobStore::SetControlOperation(kJob, 1); });
  }

  // The agent, its service started by a wait on a child that has ended;
  // null when it did not start. For tests that drive the agent themselves.
  CDRSrvcAgent* StartedAgent() {
    StartSimulator();
    const long long child = HungChild();
    long long id = child;
    if (!CJobSimulator::Complete(child) || !m_jm->WaitForJobCompletion(id, 0)) return nullptr;
    return CDRJobManagerTestPeer::Agent(*m_jm);
  }

  // At the test scale a waiter's backstop passes after thirty real
  // milliseconds, less than a loaded machine may take to deliver a notice:
  // the waiter then finds the child's end itself. A test of what the notice
  // does runs the clock slower, so the notice comes first (a second and a
  // half for the backstop).
  static void RunClockForNotices() { CPlatformClock::Instance().SetScale(0.05); }

  double m_scale = 0;
  std::unique_ptr<ZNDROrchestrationClnt> m_client;
  std::unique_ptr<CDRJobManager> m_jm;
  std::unique_ptr<drtest::CScopedJobSimulator> m_simulator;
};

class JobWaitService : public CJobWaitFixture {};

TEST_F(JobWaitService, ANoticeWakesTheWaiterWithoutPolling) {
  RunClockForNotices();
  StartSimulator();
  const long long child = HungChild();
  SWorker w;
  StartWorker(w, child, CDRJobManager::kWaitFlagOwnsChild);
  ASSERT_TRUE(Eventually([&] { return Waiting(child); }));
  EXPECT_FALSE(w.done.load());
  ASSERT_TRUE(CJobSimulator::Complete(child));
  ASSERT_TRUE(w.thread.Join());
  EXPECT_TRUE(w.result.load());
  const std::string id = std::to_string(child);
  EXPECT_TRUE(Logged("Launching DRSrvc: [DRSrvc|" + std::to_string(kJob) + "]"));
  EXPECT_TRUE(Logged("Successfully registered to receive completion notification for job [" + id + "]"));
  EXPECT_TRUE(Logged("Successfully sent notification of job [" + id + "] completion to service [DRSrvc|" +
                     std::to_string(kJob) + "]"));
  EXPECT_TRUE(Logged("Signalling completion for Job [" + id + "] in jobEventMap"));
  // The owner's waits before registering, and no polling at all.
  EXPECT_EQ(1u, CPlatformClock::Instance().CountWaits(20000, "DRJobManager"));
  EXPECT_EQ(1u, CPlatformClock::Instance().CountWaits(5000, "DRJobManager"));
  EXPECT_EQ(0u, CPlatformClock::Instance().CountWaits(30000, "DRJobManager"));
  EXPECT_EQ(0u, CDRJobManagerTestPeer::Agent(*m_jm)->GetJobEventMapCount());
}

TEST_F(JobWaitService, AChildThatHasEndedIsNotWaitedFor) {
  StartSimulator();
  const long long child = HungChild();
  ASSERT_TRUE(CJobSimulator::Complete(child));
  long long id = child;
  EXPECT_TRUE(m_jm->WaitForJobCompletion(id, 0));
  EXPECT_TRUE(Logged("Job [" + std::to_string(child) + "] has already completed"));
  EXPECT_FALSE(Logged("Adding Job [" + std::to_string(child) + "]"));
}

TEST_F(JobWaitService, ARefusedRegistrationFallsBackToPolling) {
  StartSimulator();
  SJobFaults faults;
  faults.flags = kFaultNoticeRefused;
  ASSERT_TRUE(CJobSimulator::SetNextJobFaults(EChildJobType::kBackupCopy, faults));
  const long long child = HungChild();
  SWorker w;
  StartWorker(w, child, 0);
  ASSERT_TRUE(Eventually([&] { return CPlatformClock::Instance().CountWaits(30000, "DRJobManager") >= 1; }));
  ASSERT_TRUE(CJobSimulator::Complete(child));
  ASSERT_TRUE(w.thread.Join());
  EXPECT_TRUE(w.result.load());
  EXPECT_TRUE(Logged("Couldn't register to receive completion notification for job [" + std::to_string(child) + "]"));
  EXPECT_TRUE(Logged("Falling back to DBPoll wait mechanism for job[" + std::to_string(child) + "]"));
}

TEST_F(JobWaitService, TheValueTwoOfTheDisableSettingDoesNotDisable) {
  ZNPlatformInfo::setNumber("Session", "bDisableDRJobWaitService", 2);
  StartSimulator();
  const long long child = HungChild();
  SWorker w;
  StartWorker(w, child, 0);
  ASSERT_TRUE(Eventually([&] { return Waiting(child); }));
  ASSERT_TRUE(CJobSimulator::Complete(child));
  ASSERT_TRUE(w.thread.Join());
  ZNPlatformInfo::setNumber("Session", "bDisableDRJobWaitService", 0);
  EXPECT_TRUE(w.result.load());
  EXPECT_EQ(0u, CPlatformClock::Instance().CountWaits(30000, "DRJobManager"));
}

TEST_F(JobWaitService, AnEarlyNoticeIsKeptForItsWaiter) {
  StartSimulator();
  SJobFaults faults;
  faults.flags = kFaultNoticeEarly;
  ASSERT_TRUE(CJobSimulator::SetNextJobFaults(EChildJobType::kBackupCopy, faults));
  const long long child = HungChild();
  long long id = child;
  // The notice arrives at registration, before WaitOnJob: without keeping
  // it, this wait would last until a DR quit.
  EXPECT_TRUE(m_jm->WaitForJobCompletion(id, 0));
  EXPECT_TRUE(Logged("Job [" + std::to_string(child) + "] completed before the wait began"));
}

TEST_F(JobWaitService, DoubledUnknownAndForeignNoticesWakeNobodyElse) {
  StartSimulator();
  SJobFaults doubled;
  doubled.flags = kFaultNoticeDoubled;
  ASSERT_TRUE(CJobSimulator::SetNextJobFaults(EChildJobType::kBackupCopy, doubled));
  const long long first = HungChild();
  const long long second = HungChild();
  SWorker a, b;
  StartWorker(a, first, 0);
  StartWorker(b, second, 0);
  ASSERT_TRUE(Eventually([&] { return Waiting(first) && Waiting(second); }));

  // A notice for a child no waiter of this job expects changes nothing.
  std::string token = "DRSrvc|" + std::to_string(kJob) + "|1|JobWait|999999";
  DRChildJobDone(999999ULL, token);
  // The XDR form of the notice signals nothing either.
  CZnNetwork network;
  bool timedOut = false;
  ASSERT_FALSE(
      network.Attach_RemoteService("localhost", "DRSrvc|" + std::to_string(kJob), "drhost", kNetSeconds, timedOut)
          .IsError());
  ASSERT_FALSE(network.SendXDRMessage(0x7602f0a7, "x", 1, kNetSeconds, timedOut).IsError());
  network.Disconnect(kNetSeconds);
  // Both have been handled before the waiters are looked at.
  EXPECT_TRUE(Eventually([] { return CLogSink::Instance().Contains("Received VirtualAppJob (xml) for job [999999]"); }));
  EXPECT_TRUE(Eventually([] { return CLogSink::Instance().Contains("Received notification request for DR child job completion"); }));
  EXPECT_FALSE(a.done.load());
  EXPECT_FALSE(b.done.load());
  // Neither notice woke a waiter, believed or not, nor cleaned the waits up
  // or ended the service. The map itself is no witness at one moment: each
  // waiter takes its entry out at its backstop, looks at its child and puts
  // it back, and the two, started together, may both be looking then.
  CDRSrvcAgent* agent = CDRJobManagerTestPeer::Agent(*m_jm);
  ASSERT_NE(nullptr, agent);
  EXPECT_TRUE(agent->IsServing());
  EXPECT_FALSE(Logged("Signalling completion for Job ["));
  EXPECT_FALSE(Logged("Ignoring a completion notice for job ["));
  EXPECT_FALSE(Logged("events to cleanup in jobEventMap"));
  EXPECT_FALSE(Logged("Falling back to DBPoll wait mechanism"));
  EXPECT_TRUE(Eventually([agent] { return agent->GetJobEventMapCount() == 2u; }));

  // The doubled notice of the first wakes its waiter once; the second still waits.
  ASSERT_TRUE(CJobSimulator::Complete(first));
  ASSERT_TRUE(a.thread.Join());
  EXPECT_TRUE(a.result.load());
  EXPECT_FALSE(b.done.load());
  ASSERT_TRUE(CJobSimulator::Complete(second));
  ASSERT_TRUE(b.thread.Join());
  EXPECT_TRUE(b.result.load());
}

TEST_F(JobWaitService, ADRKillReachesABlockedWaiterThroughTheIdleCallback) {
  StartSimulator();
  const long long child = HungChild();
  SWorker w;
  StartWorker(w, child, CDRJobManager::kWaitFlagOwnsChild);
  ASSERT_TRUE(Eventually([&] { return Waiting(child); }));
  // The child runs on: the waiter looks at it at each backstop and waits on.
  ASSERT_TRUE(Eventually([&] { return BackstopWaits() >= 3; }));
  EXPECT_FALSE(w.done.load());

  // The DR job is killed: the next idle callback cleans the events up, or
  // the next look at the child sees the quit; the owned child is killed.
  ASSERT_EQ(EStoreResult::kOk, CJobStore::SetControlOperation(kJob, 1));
  ASSERT_TRUE(w.thread.Join());
  EXPECT_FALSE(w.result.load());
  EXPECT_TRUE(m_jm->IsJobKillIssued());
  EXPECT_EQ("Killed", Status(child));
}

TEST_F(JobWaitService, ANoticeForAChildThatStillRunsIsIgnoredUntilItEnds) {
  StartSimulator();
  const long long child = HungChild();
  SWorker w;
  StartWorker(w, child, 0);
  ASSERT_TRUE(Eventually([&] { return Waiting(child); }));
  // Anyone on this machine can send a notice; this one is invented.
  std::string token = "DRSrvc|" + std::to_string(kJob) + "|1|JobWait|" + std::to_string(child);
  ASSERT_TRUE(DRChildJobDoneAcknowledged(static_cast<unsigned long long>(child), token));
  const std::string ignored =
      "Ignoring a completion notice for job [" + std::to_string(child) + "], which has not ended; waiting on";
  ASSERT_TRUE(Eventually([&] { return CLogSink::Instance().Contains(ignored); }));
  const size_t looks = BackstopWaits();
  ASSERT_TRUE(Eventually([&] { return BackstopWaits() >= looks + 2; }));
  EXPECT_FALSE(w.done.load()) << "a false notice does not end the wait";

  // The child's real end does.
  ASSERT_TRUE(CJobSimulator::Complete(child));
  ASSERT_TRUE(w.thread.Join());
  EXPECT_TRUE(w.result.load());
  EXPECT_EQ(1u, CLogSink::Instance().Count(ignored));
}

TEST_F(JobWaitService, ADroppedNoticeEndsTheWaitAtTheNextLookAtTheChild) {
  StartSimulator();
  SJobFaults dropped;
  dropped.flags = kFaultNoticeDropped;
  ASSERT_TRUE(CJobSimulator::SetNextJobFaults(EChildJobType::kBackupCopy, dropped));
  const long long child = HungChild();
  SWorker w;
  StartWorker(w, child, 0);
  ASSERT_TRUE(Eventually([&] { return Waiting(child); }));
  ASSERT_TRUE(CJobSimulator::Complete(child));
  ASSERT_TRUE(w.thread.Join());
  EXPECT_TRUE(w.result.load());
  EXPECT_EQ(CJobNotices::kDropped, NoticeState(child)) << "never sent";
  // Ended by a backstop's look, not by falling back to polling.
  EXPECT_GE(BackstopWaits(), 1u);
  EXPECT_EQ(0u, CPlatformClock::Instance().CountWaits(30000, "DRJobManager"));
  EXPECT_FALSE(Logged("Falling back to DBPoll wait mechanism for job[" + std::to_string(child) + "]"));
}

TEST_F(JobWaitService, ANoticeTheServiceDoesNotTakeIsSentAgainUntilItIs) {
  StartSimulator();
  std::atomic<int> calls(0);
  // The first two attempts find the service unable to take the notice.
  CJobSimulator::SetInProcessAcknowledgedDelivery([&](unsigned long long jobId, std::string& token) {
    if (++calls <= 2) return false;
    return DRChildJobDoneAcknowledged(jobId, token);
  });
  const long long child = HungChild();
  SWorker w;
  StartWorker(w, child, 0);
  ASSERT_TRUE(Eventually([&] { return Waiting(child); }));
  ASSERT_TRUE(CJobSimulator::Complete(child));
  ASSERT_TRUE(Eventually([&] { return NoticeState(child) == CJobNotices::kDelivered; }));
  ASSERT_TRUE(w.thread.Join());
  EXPECT_TRUE(w.result.load());
  EXPECT_EQ(3, calls.load()) << "sent again until taken, and then no more";
  const std::string id = std::to_string(child);
  EXPECT_EQ(1u, CLogSink::Instance().Count("Completion notice of job [" + id + "] with token"));
  EXPECT_TRUE(Logged("Received VirtualAppJob (xml) for job [" + id + "]"));
}

// A DR quit during the notice wait that is not a kill ends it well: a
// suspend suspends a child the waiter owns and leaves another's running, a
// quit of any other kind leaves the child alone.
TEST_F(JobWaitService, ASuspendOrAnotherQuitDuringTheNoticeWaitEndsItWell) {
  StartSimulator();
  struct SCase {
    int controlOp;
    int flags;
    const char* childStatus;
  };
  for (const SCase& c : {SCase{2, CDRJobManager::kWaitFlagOwnsChild, "Suspended"}, SCase{2, 0, "Running"},
                         SCase{3, CDRJobManager::kWaitFlagOwnsChild, "Running"}}) {
    SCOPED_TRACE("control operation " + std::to_string(c.controlOp) + ", flags " + std::to_string(c.flags));
    m_jm.reset(new CDRJobManager());  // the quit flags stay set in a manager
    ASSERT_TRUE(m_jm->Initialize(*m_client, 0, 2));
    ASSERT_EQ(EStoreResult::kOk, CJobStore::SetControlOperation(kJob, 0));
    const long long child = HungChild();
    SWorker w;
    StartWorker(w, child, c.flags);
    ASSERT_TRUE(Eventually([&] { return Waiting(child); }));
    ASSERT_EQ(EStoreResult::kOk, CJobStore::SetControlOperation(kJob, c.controlOp));
    ASSERT_TRUE(w.thread.Join());
    EXPECT_TRUE(w.result.load());
    EXPECT_EQ(c.childStatus, Status(child));
    CJobSimulator::Kill(child);
  }
}

// Two waiters of one child: the notice wakes the one that waits and is kept
// for the one that registered but had not begun to wait.
TEST_F(JobWaitService, ANoticeIsKeptForAWaiterThatComesLateBehindAnother) {
  CDRSrvcAgent* agent = StartedAgent();
  ASSERT_NE(nullptr, agent);
  const int64_t shared = 888;
  agent->ExpectJob(shared);
  agent->ExpectJob(shared);  // the late one: registered, not waiting yet
  std::atomic<int> first{-1};
  drtest::CTestThread waiter(
      [&] {
        std::string token;
        first = agent->WaitOnJob(shared, token);
      },
      "first waiter");
  ASSERT_TRUE(Eventually([] { return CLogSink::Instance().Contains("Adding Job [888] to jobEventMap"); }));
  agent->SignalJobCompletion(shared);
  ASSERT_TRUE(waiter.Join());
  EXPECT_EQ(static_cast<int>(CDRSrvcAgent::kWakeNotice), first.load());
  std::string token;
  EXPECT_EQ(CDRSrvcAgent::kWakeNotice, agent->WaitOnJob(shared, token, 1000000)) << "kept, not waited for";
  EXPECT_EQ(0u, agent->GetJobEventMapCount());
}

// A waiter whose backstop passed looks at its child before it waits again:
// a notice in that moment is kept for the next wait, not dropped for want of
// a waiter (which would cost the job another backstop).
TEST_F(JobWaitService, ANoticeWhileTheWaiterLooksAfterItsBackstopIsKeptForItsNextWait) {
  CDRSrvcAgent* agent = StartedAgent();
  ASSERT_NE(nullptr, agent);
  const int64_t looked = 889;
  std::string token;
  agent->ExpectJob(looked);
  ASSERT_EQ(CDRSrvcAgent::kWakeTimeout, agent->WaitOnJob(looked, token, 1));
  EXPECT_EQ(0u, agent->GetJobEventMapCount()) << "a timed-out wait leaves no event behind";
  agent->SignalJobCompletion(looked);
  EXPECT_EQ(CDRSrvcAgent::kWakeNotice, agent->WaitOnJob(looked, token, 1000000)) << "kept, not waited for";
  // Given up, the child is expected no more: a later notice is kept for nobody.
  agent->ExpectJob(looked);
  ASSERT_EQ(CDRSrvcAgent::kWakeTimeout, agent->WaitOnJob(looked, token, 1));
  agent->ForgetJob(looked);
  agent->SignalJobCompletion(looked);
  EXPECT_EQ(CDRSrvcAgent::kWakeTimeout, agent->WaitOnJob(looked, token, 1));
}

TEST_F(JobWaitService, AKillCleanupKillsAnOwnedRunningChild) {
  StartSimulator();
  SJobFaults dropped;
  dropped.flags = kFaultNoticeDropped;
  ASSERT_TRUE(CJobSimulator::SetNextJobFaults(EChildJobType::kBackupCopy, dropped));
  const long long child = HungChild();
  SWorker w;
  StartWorker(w, child, CDRJobManager::kWaitFlagOwnsChild);
  ASSERT_TRUE(Eventually([&] { return Waiting(child); }));
  ASSERT_EQ(EStoreResult::kOk, CJobStore::SetControlOperation(kJob, 1));
  ASSERT_TRUE(w.thread.Join());
  EXPECT_FALSE(w.result.load());
  EXPECT_EQ("Killed", Status(child));
}

TEST_F(JobWaitService, WaitersPollWhenTheListenerHasEnded) {
  StartSimulator();
  const long long first = HungChild();
  SWorker w;
  StartWorker(w, first, 0);
  ASSERT_TRUE(Eventually([&] { return Waiting(first); }));
  // The receive loop ends (as on a socket error): the blocked waiter wakes
  // and polls its child instead of waiting for a notice that cannot come.
  CDRJobManagerTestPeer::Agent(*m_jm)->Quit(true, true);
  ASSERT_TRUE(Eventually([&] {
    return CLogSink::Instance().Contains("Falling back to DBPoll wait mechanism for job[" + std::to_string(first) + "]");
  }));
  ASSERT_TRUE(CJobSimulator::Complete(first));
  ASSERT_TRUE(w.thread.Join());
  EXPECT_TRUE(w.result.load());
  // A later wait does not register with the dead service.
  const long long second = HungChild();
  ASSERT_TRUE(CJobSimulator::Complete(second));
  long long id = second;
  EXPECT_TRUE(m_jm->WaitForJobCompletion(id, 0));
  EXPECT_FALSE(Logged("Successfully registered to receive completion notification for job [" +
                      std::to_string(second) + "]"));
}

class JobWaitServiceConcurrency : public CJobWaitFixture {};

TEST_F(JobWaitServiceConcurrency, DestroyingTheManagerWakesWaitersOnTheAgentItself) {
  StartSimulator();
  long long child = HungChild();
  long long id = child;
  // Start the service through a wait that returns at once.
  ASSERT_TRUE(CJobSimulator::Complete(child));
  ASSERT_TRUE(m_jm->WaitForJobCompletion(id, 0));
  CDRSrvcAgent* agent = CDRJobManagerTestPeer::Agent(*m_jm);
  ASSERT_NE(nullptr, agent);
  std::atomic<int> woken{-1};
  agent->ExpectJob(777);
  // A stop request cuts the wait short, should the test end early.
  drtest::CTestThread waiter(
      [&] {
        std::string token;
        woken = agent->WaitOnJob(777, token);
      },
      "waiter on the agent");
  ASSERT_TRUE(Eventually([] { return CLogSink::Instance().Contains("Adding Job [777] to jobEventMap"); }));
  m_jm.reset();  // Quit, join the listener, wake the waiter, then free
  ASSERT_TRUE(waiter.Join());
  EXPECT_NE(static_cast<int>(CDRSrvcAgent::kWakeNotice), woken.load());
}

TEST_F(JobWaitServiceConcurrency, TwentyWaitersEachWakeOnceForTheirOwnChild) {
  StartSimulator();
  const int kWaiters = 20;
  std::vector<long long> children;
  for (int i = 0; i < kWaiters; ++i) children.push_back(HungChild());
  std::vector<std::unique_ptr<SWorker>> workers;
  for (long long child : children) {
    workers.emplace_back(new SWorker());
    StartWorker(*workers.back(), child, 0);
  }
  ASSERT_TRUE(Eventually([&] {
    return std::all_of(children.begin(), children.end(), [](long long c) { return Waiting(c); });
  }));
  std::vector<size_t> order(children.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::shuffle(order.begin(), order.end(), std::mt19937(20261207));
  for (size_t k = 0; k < order.size(); ++k) {
    const size_t i = order[k];
    ASSERT_TRUE(CJobSimulator::Complete(children[i]));
    ASSERT_TRUE(workers[i]->thread.Join());
    EXPECT_TRUE(workers[i]->result.load());
    // Only the waiters of ended children have woken.
    for (size_t later = k + 1; later < order.size(); ++later) EXPECT_FALSE(workers[order[later]]->done.load());
  }
  EXPECT_EQ(0u, CDRJobManagerTestPeer::Agent(*m_jm)->GetJobEventMapCount());
}

// Through the notifier program and through another drjob process, as in
// production.
class E2EJobWaitService : public CJobWaitFixture {};

TEST_F(E2EJobWaitService, TheNotifierProgramDeliversTheNotice) {
  StartSimulator(false);
  const long long child = HungChild();
  SWorker w;
  StartWorker(w, child, CDRJobManager::kWaitFlagOwnsChild);
  ASSERT_TRUE(Eventually([&] { return Waiting(child); }));
  ASSERT_TRUE(CJobSimulator::Complete(child));
  ASSERT_TRUE(w.thread.Join());
  EXPECT_TRUE(w.result.load());
  // The waiter may have seen the ended child before the notifier came; the
  // notice arrives and is taken all the same.
  ASSERT_TRUE(Eventually([&] { return NoticeState(child) == CJobNotices::kDelivered; }));
  EXPECT_TRUE(Logged("Received VirtualAppJob (xml) for job [" + std::to_string(child) + "]"));
  EXPECT_TRUE(Logged("Notified completion of job [" + std::to_string(child) + "]"));
}

// A sustained flood of connections that never say hello, as another local
// process could make (100 every 10 ms, as measured on a DR job): the
// notifier's connection is still served, and the log reports the closed ones
// in a line every few seconds instead of a line each.
TEST_F(E2EJobWaitService, ANoticeGetsThroughASustainedFloodOfConnectionsThatNeverSayHello) {
  StartSimulator(false);
  const long long child = HungChild();
  SWorker w;
  StartWorker(w, child, 0);
  ASSERT_TRUE(Eventually([&] { return Waiting(child); }));
  SZnsServiceEntry entry;
  std::string error;
  ASSERT_EQ(EStoreResult::kOk, CZnsServiceDirectory::Lookup("DRSrvc|" + std::to_string(kJob), entry, error)) << error;
  const size_t linesBefore = nettest::UnheardReports().lines;
  const size_t dropsBefore = nettest::ErrorLines("CZnNetworkServer::DropConnection");
  const auto start = std::chrono::steady_clock::now();
  nettest::CSilentFlood flood(entry.port, 100, std::chrono::milliseconds(10));
  ASSERT_TRUE(flood.WaitMade(3 * CZnNetworkServer::kMaxPendingHellos));
  ASSERT_TRUE(Eventually([&] { return nettest::UnheardReports().lines > linesBefore; }));
  ASSERT_TRUE(CJobSimulator::Complete(child));
  ASSERT_TRUE(Eventually([&] { return NoticeState(child) == CJobNotices::kDelivered; }));
  flood.Stop();
  ASSERT_TRUE(w.thread.Join());
  EXPECT_TRUE(w.result.load());
  EXPECT_TRUE(Logged("Received VirtualAppJob (xml) for job [" + std::to_string(child) + "]"));
  // The first report comes at once, then one at most every interval; the
  // service still runs, so no last one yet.
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_LE(nettest::UnheardReports().lines - linesBefore,
            1 + static_cast<size_t>(seconds / CZnNetworkServer::kUnheardReportSeconds))
      << "over " << seconds << " s";
  EXPECT_EQ(dropsBefore, nettest::ErrorLines("CZnNetworkServer::DropConnection"))
      << "no line per connection";
}

// A notifier that cannot start, and a service that is not there yet: the
// notice waits and is sent again, and the service takes it once it serves.
TEST_F(E2EJobWaitService, ANoticeIsSentAgainWhenTheNotifierCannotStartOrTheServiceIsGone) {
  StartSimulator(false);
  CJobSimulator::SetNotifierPath("/nonexistent/dr_jobdone_notifier");
  const long long early = HungChild();
  const std::string token = "DRSrvc|" + std::to_string(kJob) + "|1|JobWait|" + std::to_string(early);
  App_MiscOptions options;
  ASSERT_EQ(0, options.requestJobCompletionNotification(early, 2, 0, 3, token, nullptr));
  ASSERT_TRUE(CJobSimulator::Complete(early));
  ASSERT_TRUE(Eventually([] { return CLogSink::Instance().Contains("Cannot start the notifier [/nonexistent"); }));
  const int kept = NoticeState(early);
  EXPECT_TRUE(kept == CJobNotices::kRetry || kept == CJobNotices::kSending) << "kept to be sent again: " << kept;
  // The notifier is back; the DR job's service is not serving yet (no wait
  // has started it), so the notice is still not taken.
  CJobSimulator::SetNotifierPath(DR_NOTIFIER);
  ASSERT_TRUE(Eventually([&] {
    return CLogSink::Instance().Contains("Notifier for job [" + std::to_string(early) + "] exited [5]");
  }));
  const int waiting = NoticeState(early);
  EXPECT_TRUE(waiting == CJobNotices::kRetry || waiting == CJobNotices::kSending) << waiting;
  // A wait starts the service; the next attempt is taken.
  const long long child = HungChild();
  SWorker w;
  StartWorker(w, child, 0);
  ASSERT_TRUE(Eventually([&] { return Waiting(child); }));
  ASSERT_TRUE(Eventually([&] { return NoticeState(early) == CJobNotices::kDelivered; }));
  EXPECT_TRUE(Logged("Received VirtualAppJob (xml) for job [" + std::to_string(early) + "]"));
  ASSERT_TRUE(CJobSimulator::Complete(child));
  ASSERT_TRUE(w.thread.Join());
  EXPECT_TRUE(w.result.load());
}

TEST_F(E2EJobWaitService, DrjobJobCompleteEndsAJobARunningDRJobWaitsOn) {
  std::string error;
  ASSERT_TRUE(CSimulators::CreateTables(error)) << error;  // drjob opens only a lab
  StartSimulator(false);
  const long long child = HungChild();
  SWorker w;
  StartWorker(w, child, 0);
  ASSERT_TRUE(Eventually([&] { return Waiting(child); }));
  const std::string command = std::string(DR_DRJOB) + " job --db '" + CDBConnection::Path() + "' --job " +
                              std::to_string(child) + " complete >/dev/null 2>&1";
  const int status = system(command.c_str());
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(0, WEXITSTATUS(status));
  ASSERT_TRUE(w.thread.Join());
  EXPECT_TRUE(w.result.load());
  EXPECT_EQ("Completed", Status(child));
}

}  // namespace
