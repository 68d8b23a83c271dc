// Floods of connections that never say hello: a client that does is still
// served, a pending connection keeps its place for its chance and then gives
// way, and the log counts the closed ones in a few lines instead of one each,
// as it does connections that send garbage past the first few.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "NetTestSupport.h"
#include "TestSupport.h"
#include "log/LogSink.h"
#include "msg/MsgClasses.h"
#include "settings/ZNPlatformInfo.h"

using namespace nettest;

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kPendingPlaces = CZnNetworkServer::kMaxPendingHellos;

// Holds the server's loop inside its idle callback: connections made
// meanwhile wait in the listening socket's backlog and are accepted together
// once it lets go, as a busy loop meets a flood. Made before the loop starts;
// lets go when it goes out of scope, before the server is stopped.
class CLoopHold {
 public:
  explicit CLoopHold(CZnNetworkServer& server) { server.SetIdleAcceptCallback(&CLoopHold::Idle, 5, this); }
  ~CLoopHold() { Release(); }
  CLoopHold(const CLoopHold&) = delete;
  CLoopHold& operator=(const CLoopHold&) = delete;

  // Returns once the loop is held in an idle call that began after this
  // call; false when none came within kWatchdogMs.
  bool Hold() {
    std::unique_lock<std::mutex> lk(m_mutex);
    m_want = true;
    const uint64_t target = m_entered + 1;
    return m_cv.wait_for(lk, std::chrono::milliseconds(drtest::kWatchdogMs), [&] { return m_entered >= target; });
  }
  void Release() {
    std::lock_guard<std::mutex> lk(m_mutex);
    m_want = false;
    m_released = m_entered;
    m_cv.notify_all();
  }

 private:
  static void Idle(void* arg) {
    auto* self = static_cast<CLoopHold*>(arg);
    std::unique_lock<std::mutex> lk(self->m_mutex);
    if (!self->m_want) return;
    const uint64_t mine = ++self->m_entered;
    self->m_cv.notify_all();
    self->m_cv.wait_for(lk, std::chrono::milliseconds(drtest::kWatchdogMs),
                        [&] { return self->m_released >= mine; });
  }

  std::mutex m_mutex;
  std::condition_variable m_cv;
  bool m_want = false;
  uint64_t m_entered = 0;   // idle calls that held the loop
  uint64_t m_released = 0;  // of those, the ones let go
};

// Silent connections made in one go, kept open by the test.
std::vector<std::unique_ptr<CRawClient>> Silent(int port, int n) {
  std::vector<std::unique_ptr<CRawClient>> silent;
  for (int i = 0; i < n; ++i) {
    silent.push_back(std::make_unique<CRawClient>());
    if (!silent.back()->Connect(port)) ADD_FAILURE() << "silent connection " << i << " failed";
  }
  return silent;
}

// Sends one job as an XML frame on a session and waits for its receipt.
void SendJobRaw(CRawClient& raw, int64_t jobId) {
  Api::VirtualAppJob job;
  job.SetInt64(Api::VirtualAppJob::kJobId, jobId);
  SZnsFrame xml;
  xml.kind = EZnsFrameKind::Xml;
  xml.seq = 1;
  ASSERT_TRUE(job.serializeUTF8(xml.body));
  ASSERT_TRUE(raw.SendFrame(xml));
  SZnsFrame receipt;
  ASSERT_TRUE(raw.ReadFrame(receipt));
  EXPECT_EQ(EZnsFrameKind::Receipt, receipt.kind);
  EXPECT_EQ(0, receipt.status);
}

bool IsJob(const SNetCall& c, int64_t jobId) { return c.callback == 'x' && c.jobId == jobId; }

class NetFloodConcurrency : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(0, ZNPlatformInfo::setNumber("Session", "DROrchestration_IOCPThreads", 2));
    CLogSink::Instance().ClearCapture();
  }
};

}  // namespace

// As a DR job's service meets a local flood: notices sent while silent
// connections keep coming are all taken, each once, and the log holds a
// report every few seconds (real time) rather than a line per connection.
TEST_F(NetFloodConcurrency, NoticesGetThroughASustainedFloodAndTheLogCountsItInAFewLines) {
  CNetRecorder rec;
  const auto start = Clock::now();
  CServedService svc("DRSrvc|130");
  svc.Start();
  // 100 connections every 10 ms, the flood a user measured.
  CSilentFlood flood(svc.Server().Port(), 100, std::chrono::milliseconds(10));
  ASSERT_TRUE(flood.WaitMade(3 * kPendingPlaces));
  constexpr int kNotices = 5;
  int attempts = 0;
  for (int i = 0; i < kNotices; ++i) {
    // A client whose connection the flood crowded out before its hello was
    // read is refused, and sends again, as the job simulator does with a
    // notice that was not taken.
    std::unique_ptr<CZnNetwork> net;
    CXoError attached(kZnsErrFailed, "not attached");
    const bool in = drtest::Eventually([&] {
      ++attempts;
      net = std::make_unique<CZnNetwork>();
      attached = Attach(*net, "DRSrvc|130");
      return !attached.IsError();
    });
    ASSERT_TRUE(in) << attached.AsString();
    CXoError sent = SendJob(*net, 1000 + i);
    EXPECT_FALSE(sent.IsError()) << sent.AsString() << ": a session is never closed for a flood";
    EXPECT_FALSE(net->Disconnect(kTestTimeoutSeconds).IsError());
    // Spread over the flood, which lasts as long as the notices take.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }
  const uint64_t made = flood.Stop();
  EXPECT_FALSE(svc.Stop().IsError());
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  for (int i = 0; i < kNotices; ++i) {
    EXPECT_EQ(1u, rec.Count([&](const SNetCall& c) { return IsJob(c, 1000 + i); })) << "notice " << i;
  }
  // A report at the first closed connection, one at most every interval
  // after it, and the last when the loop ends.
  const SUnheardReports reports = UnheardReports();
  const size_t bound = 2 + static_cast<size_t>(seconds / CZnNetworkServer::kUnheardReportSeconds);
  EXPECT_GE(reports.lines, 1u);
  EXPECT_LE(reports.lines, bound) << "over " << seconds << " s";
  EXPECT_GE(reports.closed, 1u);
  EXPECT_LE(reports.closed, made);
  EXPECT_EQ(reports.lines, ErrorLines("CZnNetworkServer::")) << "the reports are the server's only errors";
  RecordProperty("flood_connections", static_cast<int>(made));
  RecordProperty("attach_attempts", attempts);
}

// The fault a flood showed: a notifier's connection, its hello sent, was
// closed in the very accept pass that took it in, as the oldest of the
// pending connections, before its hello was read.
TEST_F(NetFloodConcurrency, AHelloSentWithTheConnectIsReadInTheAcceptPassOfAFlood) {
  CNetRecorder rec;
  CServedService svc("DRSrvc|131");
  CLoopHold hold(svc.Server());
  svc.Start();
  const int port = svc.Server().Port();
  ASSERT_TRUE(hold.Hold());
  auto before = Silent(port, kPendingPlaces / 2);
  CRawClient client;
  ASSERT_TRUE(client.Connect(port));
  ASSERT_TRUE(client.SendFrame(CRawClient::HelloFor("DRSrvc|131")));
  auto after = Silent(port, 2 * kPendingPlaces);
  hold.Release();
  SZnsFrame reply;
  ASSERT_TRUE(client.ReadFrame(reply)) << "the client's connection was closed";
  EXPECT_EQ(EZnsFrameKind::HelloReply, reply.kind);
  EXPECT_EQ(0, reply.status);
  SendJobRaw(client, 7);
  EXPECT_TRUE(drtest::Eventually([&] { return rec.Count([](const SNetCall& c) { return IsJob(c, 7); }) == 1; }));
  EXPECT_FALSE(svc.Stop().IsError());
  EXPECT_EQ(0u, ErrorLines("CZnNetworkServer::DropConnection")) << "no line per connection";
  EXPECT_GE(UnheardReports().closed, 1u);
}

// A connection accepted before its hello came keeps its place against a
// flood for its chance (kHelloChanceMs of real time): the flood's newest
// connections give way to each other instead.
TEST_F(NetFloodConcurrency, APendingConnectionKeepsItsPlaceAgainstAFloodForItsChance) {
  CNetRecorder rec;
  CServedService svc("DRSrvc|132");
  CLoopHold hold(svc.Server());
  svc.Start();
  const int port = svc.Server().Port();
  ASSERT_TRUE(hold.Hold());
  const auto connected = Clock::now();
  CRawClient slow;
  ASSERT_TRUE(slow.Connect(port));
  hold.Release();
  // Held again, the loop has accepted it: it is the oldest pending connection.
  ASSERT_TRUE(hold.Hold());
  auto flood = Silent(port, 3 * kPendingPlaces);
  hold.Release();
  // Held again, the loop has accepted at least one pass of the flood, more
  // than the pending places hold.
  ASSERT_TRUE(hold.Hold());
  ASSERT_TRUE(slow.SendFrame(CRawClient::HelloFor("DRSrvc|132")));
  const auto hello = Clock::now();
  hold.Release();
  SZnsFrame reply;
  const bool served = slow.ReadFrame(reply) && reply.kind == EZnsFrameKind::HelloReply && reply.status == 0;
  // Every pass that could have closed it came before the hello was sent, so
  // within its chance it must be served; a machine too slow to send it in
  // time leaves nothing to judge.
  if (hello - connected >= std::chrono::milliseconds(CZnNetworkServer::kHelloChanceMs)) {
    GTEST_SKIP() << "the hello took longer than the connection's chance";
  }
  ASSERT_TRUE(served) << "the connection was closed for the flood within its chance";
  SendJobRaw(slow, 8);
  EXPECT_TRUE(drtest::Eventually([&] { return rec.Count([](const SNetCall& c) { return IsJob(c, 8); }) == 1; }));
  svc.Stop();
}

// Once it has had its chance, the oldest pending connection is the one that
// gives way: a flood keeps taking places instead of being shut out by the
// connections it made a second before.
TEST_F(NetFloodConcurrency, APendingConnectionGivesWayOnceItHasHadItsChance) {
  CServedService svc("DRSrvc|133");
  CLoopHold hold(svc.Server());
  svc.Start();
  const int port = svc.Server().Port();
  ASSERT_TRUE(hold.Hold());
  CRawClient silent;
  ASSERT_TRUE(silent.Connect(port));
  hold.Release();
  ASSERT_TRUE(hold.Hold());
  // Accepted before this point: after a chance of real time from here it
  // has had its own.
  const auto accepted = Clock::now();
  hold.Release();
  std::this_thread::sleep_until(accepted + std::chrono::milliseconds(CZnNetworkServer::kHelloChanceMs + 50));
  ASSERT_TRUE(hold.Hold());
  auto flood = Silent(port, kPendingPlaces);
  hold.Release();
  EXPECT_TRUE(silent.WaitClosed());
  // The first connection this server closed, reported at once.
  EXPECT_TRUE(drtest::Eventually([] {
    return CLogSink::Instance().Contains("Closed [1] connection(s) to [DRSrvc|133]", "CZnNetworkServer::ReportUnheard") &&
           CLogSink::Instance().Contains("[1] gave way after [1000] ms", "CZnNetworkServer::ReportUnheard");
  }));
  svc.Stop();
}

// Connections that send garbage instead of a hello: the first few get a line
// naming the fault, the rest are counted in the reports, and a client that
// says hello is still served.
TEST_F(NetFloodConcurrency, GarbageInsteadOfAHelloGetsAFewLinesAndTheRestAreCounted) {
  CNetRecorder rec;
  const auto start = Clock::now();
  CServedService svc("DRSrvc|134");
  svc.Start();
  const int port = svc.Server().Port();
  constexpr int kGarbage = 100;
  for (int i = 0; i < kGarbage; ++i) {
    CRawClient raw;
    ASSERT_TRUE(raw.Connect(port));
    ASSERT_TRUE(raw.SendBytes("\x01\x02\x03\x04\x05\x06"));
    ASSERT_TRUE(raw.WaitClosed()) << "connection " << i;
  }
  CZnNetwork good;
  ASSERT_FALSE(Attach(good, "DRSrvc|134").IsError());
  EXPECT_FALSE(SendJob(good, 7).IsError());
  EXPECT_FALSE(good.Disconnect(kTestTimeoutSeconds).IsError());
  EXPECT_FALSE(svc.Stop().IsError());
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  EXPECT_EQ(1u, rec.Count([](const SNetCall& c) { return IsJob(c, 7); }));
  const size_t named = ErrorLines("CZnNetworkServer::DropConnection");
  EXPECT_GE(named, static_cast<size_t>(CZnNetworkServer::kFaultLinesPerReport));
  EXPECT_LE(named, CZnNetworkServer::kFaultLinesPerReport *
                       (1 + static_cast<size_t>(seconds / CZnNetworkServer::kUnheardReportSeconds)));
  EXPECT_TRUE(CLogSink::Instance().Contains("malformed frame", "CZnNetworkServer::DropConnection"));
  // Named or counted, every one of them once.
  EXPECT_EQ(static_cast<uint64_t>(kGarbage), named + UnheardReports().closed);
  EXPECT_TRUE(CLogSink::Instance().Contains("sent no valid hello or were refused", "CZnNetworkServer::ReportUnheard"));
}
