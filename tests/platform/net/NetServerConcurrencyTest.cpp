// A real server and real clients on the loopback interface: messages and
// their receipts, notices in order, callbacks on several threads, the idle
// callback's cadence, and broken clients that must not harm the others.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <set>
#include <thread>

#include "NetTestSupport.h"
#include "TestSupport.h"
#include "TestThread.h"
#include "log/LogSink.h"
#include "msg/MsgClasses.h"
#include "net/ServiceDirectory.h"
#include "settings/ZNPlatformInfo.h"
#include "time/PlatformClock.h"

using namespace nettest;

namespace {

void SetWorkers(unsigned long n) {
  ASSERT_NE(0, ZNPlatformInfo::setNumber("Session", "DROrchestration_IOCPThreads", n));
}

bool IsClosed(const SNetCall& c) { return c.kind == ZNS_CB_CLOSED; }

// Lets n callbacks through once n are waiting at once.
class CBarrier {
 public:
  explicit CBarrier(int n) : m_n(n) {}
  bool Arrive() {
    std::unique_lock<std::mutex> lk(m_mutex);
    if (++m_waiting >= m_n) m_cv.notify_all();
    return m_cv.wait_for(lk, std::chrono::milliseconds(drtest::kWatchdogMs), [this] { return m_waiting >= m_n; });
  }

 private:
  std::mutex m_mutex;
  std::condition_variable m_cv;
  int m_n;
  int m_waiting = 0;
};

}  // namespace

TEST(NetServerConcurrency, MessagesOfManyClientsArriveInOrderOnSeveralThreads) {
  SetWorkers(4);
  CNetRecorder rec;
  // The first message of two sessions meets here: it passes only when two
  // callbacks run at the same time, on two threads.
  CBarrier meet(2);
  std::atomic<bool> met{true};
  rec.hook = [&](const SNetCall& c, CZnNetworkServer*) {
    if (c.callback == 'x' && c.jobId % 100 == 0 && c.jobId < 200) met = meet.Arrive() && met;
  };
  CServedService svc("DRSrvc|100");
  svc.Start();
  constexpr int kClients = 6, kXml = 10, kXdr = 5;
  std::vector<drtest::CTestThread> clients;
  std::atomic<int> failures{0};
  for (int client = 0; client < kClients; ++client) {
    clients.emplace_back(
        [&, client] {
          CZnNetwork net;
          if (Attach(net, "DRSrvc|100").IsError()) ++failures;
          for (int i = 0; i < kXml; ++i) {
            if (SendJob(net, client * 100 + i).IsError()) ++failures;
            if (i < kXdr) {
              const std::string bytes = "client " + std::to_string(client) + " bytes " + std::to_string(i);
              bool timedOut = false;
              if (net.SendXDRMessage(0x7602f0a7, bytes.data(), bytes.size(), kTestTimeoutSeconds, timedOut).IsError())
                ++failures;
            }
          }
          if (net.Disconnect(kTestTimeoutSeconds).IsError()) ++failures;
        },
        "client " + std::to_string(client));
  }
  for (auto& t : clients) ASSERT_TRUE(t.Join());
  EXPECT_EQ(0, failures.load());
  ASSERT_TRUE(drtest::Eventually([&] { return rec.Count(IsClosed) == kClients; }));
  EXPECT_TRUE(met.load()) << "two callbacks never ran at once";
  EXPECT_FALSE(svc.Stop().IsError());

  // Per session: the new-connection notice first, the messages in the order
  // sent, the disconnect request, and the closed notice last.
  std::map<int64_t, std::vector<SNetCall>> bySession;
  std::set<std::thread::id> threads;
  size_t ready = 0;
  for (const SNetCall& c : rec.Calls()) {
    if (c.session == 0) {
      ready += (c.kind == ZNS_CB_CONNECTION && c.type == ZNS_PM_READY_FOR_RPC) ? 1 : 0;
      continue;
    }
    bySession[c.session].push_back(c);
    threads.insert(c.thread);
  }
  EXPECT_EQ(1u, ready);
  EXPECT_GE(threads.size(), 2u);
  ASSERT_EQ(static_cast<size_t>(kClients), bySession.size());
  std::set<int> clientsSeen;
  for (const auto& s : bySession) {
    const std::vector<SNetCall>& calls = s.second;
    ASSERT_EQ(static_cast<size_t>(1 + kXml + kXdr + 1 + 1), calls.size());
    EXPECT_EQ(ZNS_CB_CONNECTION, calls.front().kind);
    EXPECT_EQ(ZNS_PM_NEW_CONNECTION, calls.front().type);
    EXPECT_EQ(ZNS_CB_CLOSED, calls.back().kind);
    EXPECT_EQ(ZNS_PM_DISCONNECTED, calls.back().type);
    const SNetCall& request = calls[calls.size() - 2];
    EXPECT_EQ(ZNS_CB_MESSAGE, request.kind);
    EXPECT_EQ(ZNS_PM_DISCONNECT_REQ, request.type);
    const int client = static_cast<int>(calls[1].jobId / 100);
    clientsSeen.insert(client);
    size_t at = 1;
    for (int i = 0; i < kXml; ++i) {
      EXPECT_EQ('x', calls[at].callback);
      EXPECT_EQ(Api::VirtualAppJob::kTypeId, calls[at].type);
      EXPECT_EQ(client * 100 + i, calls[at].jobId);
      ++at;
      if (i < kXdr) {
        EXPECT_EQ('d', calls[at].callback);
        EXPECT_EQ(0x7602f0a7ul, calls[at].type);
        EXPECT_EQ("client " + std::to_string(client) + " bytes " + std::to_string(i), calls[at].bytes);
        ++at;
      }
    }
  }
  EXPECT_EQ(static_cast<size_t>(kClients), clientsSeen.size());
}

TEST(NetServerConcurrency, OneWorkerRunsOneCallbackAtATime) {
  SetWorkers(1);
  CNetRecorder rec;
  CServedService svc("DRSrvc|101");
  svc.Start();
  std::vector<drtest::CTestThread> clients;
  for (int client = 0; client < 4; ++client) {
    clients.emplace_back(
        [client] {
          CZnNetwork net;
          EXPECT_FALSE(Attach(net, "DRSrvc|101").IsError());
          for (int i = 0; i < 5; ++i) EXPECT_FALSE(SendJob(net, client * 10 + i).IsError());
          EXPECT_FALSE(net.Disconnect(kTestTimeoutSeconds).IsError());
        },
        "client " + std::to_string(client));
  }
  for (auto& t : clients) ASSERT_TRUE(t.Join());
  ASSERT_TRUE(drtest::Eventually([&] { return rec.Count(IsClosed) == 4; }));
  svc.Stop();
  EXPECT_EQ(1, rec.MaxInFlight());
}

TEST(NetServerConcurrency, TheReceiptComesOnlyAfterTheCallbackReturned) {
  SetWorkers(2);
  CNetRecorder rec;
  std::mutex gateMutex;
  std::condition_variable gateCv;
  bool open = false;
  std::atomic<bool> entered{false};
  rec.hook = [&](const SNetCall& c, CZnNetworkServer*) {
    if (c.callback != 'x') return;
    entered = true;
    std::unique_lock<std::mutex> lk(gateMutex);
    gateCv.wait(lk, [&] { return open; });
  };
  CServedService svc("DRSrvc|102");
  svc.Start();
  CZnNetwork net;
  ASSERT_FALSE(Attach(net, "DRSrvc|102").IsError());
  std::atomic<bool> sent{false};
  CXoError result(kZnsErrFailed, "not sent");
  auto openGate = [&] {
    {
      std::lock_guard<std::mutex> lk(gateMutex);
      open = true;
    }
    gateCv.notify_all();
  };
  drtest::CTestThread sender(
      [&] {
        result = SendJob(net, 5);
        sent = true;
      },
      "sender");
  // On an early exit the callback must end, or the server's Quit waits for
  // it for good.
  sender.OnStop(openGate);
  ASSERT_TRUE(drtest::Eventually([&] { return entered.load(); }));
  EXPECT_FALSE(sent.load()) << "the send returned while its callback still ran";
  openGate();
  ASSERT_TRUE(sender.Join());
  EXPECT_FALSE(result.IsError()) << result.AsString();
  EXPECT_FALSE(net.Disconnect(kTestTimeoutSeconds).IsError());
  svc.Stop();
}

TEST(NetServerConcurrency, AMessageNobodyTakesIsRefusedAndTheSessionGoesOn) {
  SetWorkers(1);
  CNetRecorder rec;
  CServedService svc("DRSrvc|103", &RecordXdr, nullptr);  // no XML callback
  svc.Start();
  CZnNetwork net;
  ASSERT_FALSE(Attach(net, "DRSrvc|103").IsError());
  CXoError xml = SendJob(net, 1);
  EXPECT_EQ(kZnsErrNotDelivered, xml.Code()) << xml.AsString();
  bool timedOut = false;
  EXPECT_EQ(kZnsErrInvalid, net.SendXDRMessage(ZNS_PM_DISCONNECT_REQ, "x", 1, kTestTimeoutSeconds, timedOut).Code())
      << "the server's own types are not for clients";
  EXPECT_FALSE(net.SendXDRMessage(77, "still open", 10, kTestTimeoutSeconds, timedOut).IsError());
  EXPECT_FALSE(timedOut);
  EXPECT_FALSE(net.Disconnect(kTestTimeoutSeconds).IsError());
  ASSERT_TRUE(drtest::Eventually([&] { return rec.Count(IsClosed) == 1; }));
  EXPECT_EQ(1u, rec.Count([](const SNetCall& c) { return c.type == 77 && c.bytes == "still open"; }));
  EXPECT_TRUE(CLogSink::Instance().Contains("Not delivering XML message", "CZnNetworkServer::RunSessionEvent"));

  // A client that never attached, or that disconnected, has nothing to send on.
  CZnNetwork idle;
  EXPECT_EQ(kZnsErrState, SendJob(idle, 1).Code());
  EXPECT_EQ(kZnsErrState, idle.Disconnect(1).Code());
  EXPECT_EQ(kZnsErrState, SendJob(net, 1).Code());
  svc.Stop();
}

TEST(NetServerConcurrency, DisconnectIsAnsweredByTheCallbackOrElseByTheServer) {
  SetWorkers(2);
  CNetRecorder rec;
  std::atomic<int> repliedByCallback{0};
  std::atomic<int> secondReplyOk{0};
  rec.hook = [&](const SNetCall& c, CZnNetworkServer* server) {
    // Sessions with an odd id answer themselves, as the DR job's service does.
    if (c.kind != ZNS_CB_MESSAGE || c.type != ZNS_PM_DISCONNECT_REQ || c.session % 2 == 0) return;
    CZnNetwork* connection = nullptr;
    ASSERT_FALSE(server->AcquireSession(c.session, &connection).IsError());
    if (!server->ReplyDisconnect(connection, 30).IsError()) ++repliedByCallback;
    if (!server->ReplyDisconnect(connection, 30).IsError()) ++secondReplyOk;
    server->ReleaseSession(c.session);
  };
  CServedService svc("DRSrvc|104");
  svc.Start();
  for (int i = 0; i < 4; ++i) {
    CZnNetwork net;
    ASSERT_FALSE(Attach(net, "DRSrvc|104").IsError());
    ASSERT_FALSE(SendJob(net, i).IsError());
    CXoError done = net.Disconnect(kTestTimeoutSeconds);
    EXPECT_FALSE(done.IsError()) << done.AsString();
    EXPECT_FALSE(net.IsAttached());
  }
  ASSERT_TRUE(drtest::Eventually([&] { return rec.Count(IsClosed) == 4; }));
  EXPECT_EQ(2, repliedByCallback.load());
  EXPECT_EQ(2, secondReplyOk.load()) << "a second reply is a harmless no-op";
  EXPECT_EQ(4u, rec.Count([](const SNetCall& c) { return IsClosed(c) && c.type == ZNS_PM_DISCONNECTED; }));
  CZnNetwork notOurs;
  EXPECT_EQ(kZnsErrInvalid, svc.Server().ReplyDisconnect(&notOurs, 1).Code());
  EXPECT_EQ(kZnsErrInvalid, svc.Server().ReplyDisconnect(nullptr, 1).Code());
  svc.Stop();
}

TEST(NetServerConcurrency, TheIdleCallbackKeepsItsCadenceIdleAndUnderTraffic) {
  SetWorkers(2);
  CNetRecorder rec;
  struct SIdle {
    std::atomic<int> calls{0};
    std::atomic<bool> onLoopThread{true};
    std::thread::id loop;
  } idle;
  CServedService svc("DRSrvc|105");
  svc.Start();
  idle.loop = svc.LoopThread();
  svc.Server().SetIdleAcceptCallback(
      [](void* arg) {
        auto* s = static_cast<SIdle*>(arg);
        if (std::this_thread::get_id() != s->loop) s->onLoopThread = false;
        ++s->calls;
      },
      5, &idle);
  // Idle: it keeps coming.
  ASSERT_TRUE(drtest::Eventually([&] { return idle.calls.load() >= 5; }));
  // Under a stream of messages that never lets the loop go idle, it still
  // comes: count three more calls while sending without pause.
  CZnNetwork net;
  ASSERT_FALSE(Attach(net, "DRSrvc|105").IsError());
  const int start = idle.calls.load();
  int sent = 0;
  while (idle.calls.load() < start + 3 && sent < 200000) {
    ASSERT_FALSE(SendJob(net, sent++).IsError());
  }
  EXPECT_GE(idle.calls.load(), start + 3) << "after " << sent << " messages";
  EXPECT_FALSE(net.Disconnect(kTestTimeoutSeconds).IsError());
  EXPECT_TRUE(idle.onLoopThread.load());
  // Turned off, it stops.
  svc.Server().SetIdleAcceptCallback(nullptr, 0, nullptr);
  svc.Stop();
}

TEST(NetServerConcurrency, BrokenClientsAreDroppedAndTheOthersGoOn) {
  SetWorkers(2);
  CNetRecorder rec;
  CServedService svc("DRSrvc|106");
  svc.Start();
  const int port = svc.Server().Port();
  CZnNetwork good;
  ASSERT_FALSE(Attach(good, "DRSrvc|106").IsError());

  struct SCase {
    const char* what;
    bool hello;          // says a proper hello first
    std::string bytes;   // then sends these
    bool closeAfter;     // then closes its side
    const char* logged;  // in the drop's log line
    const char* function = "CZnNetworkServer::DropConnection";
  };
  std::string header(5, '\0');
  header[0] = 0x7f;  // a length far over the maximum
  header[4] = 3;
  SZnsFrame xml;
  xml.kind = EZnsFrameKind::Xml;
  xml.seq = 1;
  xml.body = "<never/>";
  std::string xmlBytes;
  ASSERT_TRUE(ZnsEncodeFrame(xml, xmlBytes));
  SZnsFrame reply;
  reply.kind = EZnsFrameKind::Receipt;
  std::string replyBytes;
  ASSERT_TRUE(ZnsEncodeFrame(reply, replyBytes));
  const std::vector<SCase> cases = {
      {"garbage", true, "GET / HTTP/1.0\r\n\r\n", false, "malformed frame"},
      {"oversized", true, header, false, "malformed frame"},
      {"truncated", true, xmlBytes.substr(0, xmlBytes.size() - 3), true, "truncated frame"},
      {"a frame only servers send", true, replyBytes, false, "does not send"},
      {"garbage before the hello", false, "\x01\x02\x03\x04\x05\x06", false, "malformed frame"},
      {"a message before the hello", false, xmlBytes, false, "expected a hello"},
      // Counted with the connections a flood leaves silent; the first of a
      // server is reported at once.
      {"silence instead of a hello", false, "", false, "[1] timed out after [5] s",
       "CZnNetworkServer::ReportUnheard"},
  };
  for (const SCase& c : cases) {
    SCOPED_TRACE(c.what);
    CLogSink::Instance().ClearCapture();
    CRawClient raw;
    ASSERT_TRUE(raw.Connect(port));
    if (c.hello) {
      ASSERT_TRUE(raw.SendFrame(CRawClient::HelloFor("DRSrvc|106")));
      SZnsFrame answer;
      ASSERT_TRUE(raw.ReadFrame(answer));
      ASSERT_EQ(EZnsFrameKind::HelloReply, answer.kind);
      ASSERT_EQ(0, answer.status);
    }
    ASSERT_TRUE(raw.SendBytes(c.bytes));
    if (c.closeAfter) {
      // Closing our side is the truncation; wait for the server's log line.
      raw.Close();
    } else {
      EXPECT_TRUE(raw.WaitClosed());
    }
    EXPECT_TRUE(drtest::Eventually(
        [&] { return CLogSink::Instance().Contains(c.logged, c.function); }));
    // The well-behaved client goes on.
    EXPECT_FALSE(SendJob(good, 1).IsError());
  }
  EXPECT_FALSE(good.Disconnect(kTestTimeoutSeconds).IsError());
  // Sessions the server dropped end with "aborted".
  ASSERT_TRUE(drtest::Eventually([&] {
    return rec.Count([](const SNetCall& c) { return IsClosed(c) && c.type == ZNS_PM_CONNECTION_ABORTED; }) == 4;
  }));
  svc.Stop();
}

TEST(NetServerConcurrency, SessionsAreCountedWhileAcquiredAndGoneOnceClosed) {
  SetWorkers(2);
  CNetRecorder rec;
  CServedService svc("DRSrvc|107");
  svc.Start();
  CZnNetworkServer& server = svc.Server();
  CZnNetwork net;
  ASSERT_FALSE(Attach(net, "DRSrvc|107").IsError());
  const int64_t id = net.SessionId();
  ASSERT_GT(id, 0);
  ASSERT_TRUE(drtest::Eventually([&] { return rec.Count([&](const SNetCall& c) { return c.session == id; }) == 1; }));

  CZnNetwork* first = nullptr;
  CZnNetwork* second = nullptr;
  EXPECT_EQ(kZnsErrNotAcquired, server.ReleaseSession(id).Code());
  EXPECT_EQ(0, server.AcquireCount(id)) << "a release without an acquire changes nothing";
  ASSERT_FALSE(server.AcquireSession(id, &first).IsError());
  ASSERT_FALSE(server.AcquireSession(id, &second).IsError());
  EXPECT_EQ(first, second);
  EXPECT_EQ(2, server.AcquireCount(id));
  EXPECT_EQ(kZnsErrState, SendJob(*first, 1).Code()) << "the server's handle sends nothing itself";
  EXPECT_FALSE(server.ReleaseSession(id).IsError());
  EXPECT_EQ(1, server.AcquireCount(id));
  EXPECT_EQ(kZnsErrNoSession, server.AcquireSession(id + 1000, &second).Code());
  EXPECT_EQ(kZnsErrNoSession, server.ReleaseSession(id + 1000).Code());
  EXPECT_EQ(kZnsErrInvalid, server.AcquireSession(id, nullptr).Code());

  // Still acquired when it closes: the handle lives on, the session cannot
  // be acquired again, and the last release lets it go.
  ASSERT_FALSE(net.Disconnect(kTestTimeoutSeconds).IsError());
  ASSERT_TRUE(drtest::Eventually([&] {
    CZnNetwork* again = nullptr;
    const CXoError r = server.AcquireSession(id, &again);
    if (!r.IsError()) server.ReleaseSession(id);  // not closed yet: give it back
    return r.Code() == kZnsErrNoSession;
  }));
  EXPECT_EQ(1, server.AcquireCount(id));
  EXPECT_EQ(id, first->SessionId());
  EXPECT_FALSE(server.ReleaseSession(id).IsError());
  EXPECT_EQ(-1, server.AcquireCount(id));
  EXPECT_EQ(kZnsErrNoSession, server.ReleaseSession(id).Code());
  svc.Stop();
}

TEST(NetServerConcurrency, ASessionWhoseCallbacksLagIsReadAgainOnceTheyCatchUp) {
  SetWorkers(1);
  CNetRecorder rec;
  std::atomic<bool> blocked{false}, release{false};
  rec.hook = [&](const SNetCall& c, CZnNetworkServer*) {
    if (c.callback != 'x' || c.jobId != 0) return;
    blocked = true;
    drtest::Eventually([&] { return release.load(); });
  };
  CServedService svc("DRSrvc|109");
  svc.Start();
  CRawClient raw;
  ASSERT_TRUE(raw.Connect(svc.Server().Port()));
  ASSERT_TRUE(raw.SendFrame(CRawClient::HelloFor("DRSrvc|109")));
  SZnsFrame frame;
  ASSERT_TRUE(raw.ReadFrame(frame));
  // A batch in one write, so that it arrives whole.
  auto send = [&](uint32_t from, uint32_t to) {
    std::string bytes, one;
    for (uint32_t i = from; i < to; ++i) {
      Api::VirtualAppJob job;
      job.SetInt64(Api::VirtualAppJob::kJobId, i);
      SZnsFrame xml;
      xml.kind = EZnsFrameKind::Xml;
      xml.seq = i;
      ASSERT_TRUE(job.serializeUTF8(xml.body));
      ASSERT_TRUE(ZnsEncodeFrame(xml, one));
      bytes += one;
    }
    ASSERT_TRUE(raw.SendBytes(bytes));
  };
  // The first message's callback holds the queue full. Two wake-ups after
  // the batch is sent the loop has read it and left the session out of its
  // poll set: what comes next is read only once the callbacks catch up.
  send(0, 20);
  const uint64_t wakeups = svc.Server().LoopWakeups();
  ASSERT_TRUE(drtest::Eventually([&] { return blocked.load() && svc.Server().LoopWakeups() >= wakeups + 2; }));
  send(20, 30);
  release = true;
  for (uint32_t i = 0; i < 30; ++i) {
    ASSERT_TRUE(raw.ReadFrame(frame)) << "receipt " << i;
    EXPECT_EQ(i, frame.seq);
  }
  svc.Stop();
}

// Far below the tests' 1/1000 the scaled intervals are microseconds: the loop
// must keep a real-time pace instead of spinning, and still serve at once.
class NetLoopPaceConcurrency : public ::testing::Test {
 protected:
  static constexpr double kTinyScale = 1e-5;
  void SetUp() override {
    m_scale = CPlatformClock::Instance().Scale();
    CPlatformClock::Instance().SetScale(kTinyScale);
  }
  void TearDown() override { CPlatformClock::Instance().SetScale(m_scale); }
  double m_scale = drtest::kTestScale;
};

TEST_F(NetLoopPaceConcurrency, AnIdleLoopAtATinyScaleWakesAtARealTimePaceAndStillServesAtOnce) {
  CNetRecorder rec;
  std::atomic<int> idleCalls{0};
  CServedService svc("DRSrvc|108");
  // The job-wait service's intervals: SelectData(1, 1, 5) and an idle call
  // every 5 s, which is 50 us here.
  svc.Server().SetIdleAcceptCallback([](void* arg) { ++*static_cast<std::atomic<int>*>(arg); }, 5, &idleCalls);
  svc.Start();
  ASSERT_TRUE(drtest::Eventually([&] { return idleCalls.load() >= 3; }));

  // A window of real time, not a wait for anything: the loop is left idle
  // and its wake-ups counted. A spinning loop wakes tens of thousands of
  // times a second even under a sanitizer; one that waits at least its
  // few-millisecond floor wakes a few hundred times at most, and a busy
  // machine only lowers that.
  const uint64_t wakeupsBefore = svc.Server().LoopWakeups();
  const auto start = std::chrono::steady_clock::now();
  std::this_thread::sleep_for(std::chrono::seconds(1));
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const double perSecond = static_cast<double>(svc.Server().LoopWakeups() - wakeupsBefore) / seconds;
  EXPECT_LT(perSecond, 1000.0);

  // The idle callback, which sees a DR quit, still comes.
  const int idleBefore = idleCalls.load();
  EXPECT_TRUE(drtest::Eventually([&] { return idleCalls.load() >= idleBefore + 3; }));
  // A notice still goes through; its receipt comes after its callback.
  const int timeoutSeconds = static_cast<int>(drtest::kWatchdogMs / 1000 / kTinyScale);
  CZnNetwork net;
  ASSERT_FALSE(Attach(net, "DRSrvc|108", timeoutSeconds).IsError());
  Api::VirtualAppJob job;
  job.SetInt64(Api::VirtualAppJob::kJobId, 81);
  bool timedOut = false;
  ASSERT_FALSE(net.SendXMLMessage(job, 0, timeoutSeconds, timedOut).IsError());
  EXPECT_EQ(1u, rec.Count([](const SNetCall& c) { return c.callback == 'x' && c.jobId == 81; }));
  EXPECT_FALSE(net.Disconnect(timeoutSeconds).IsError());
  EXPECT_FALSE(svc.Stop().IsError());
}
