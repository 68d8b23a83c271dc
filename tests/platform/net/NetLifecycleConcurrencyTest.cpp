// Finding a service, and ending one: attaches that must fail at once, a
// notice sent before the loop runs, Quit with callbacks in flight or from
// inside one, destruction with clients attached, and the entry's life.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>

#include "NetTestSupport.h"
#include "TestSupport.h"
#include "TestThread.h"
#include "log/LogSink.h"
#include "msg/MsgClasses.h"
#include "net/ServiceDirectory.h"
#include "settings/ZNPlatformInfo.h"
#include "sync/ZnEvent.h"
#include "sync/ZnThread.h"

using namespace nettest;

namespace {

bool EntryExists(const std::string& service) {
  struct stat st;
  return stat(CZnsServiceDirectory::EntryPath(service).c_str(), &st) == 0;
}

SZnsServiceEntry EntryOf(const std::string& service) {
  SZnsServiceEntry entry;
  std::string error;
  EXPECT_EQ(EStoreResult::kOk, CZnsServiceDirectory::Lookup(service, entry, error)) << error;
  return entry;
}

void Publish(const std::string& service, const SZnsServiceEntry& entry) {
  std::string error;
  ASSERT_TRUE(CZnsServiceDirectory::Publish(service, entry, error)) << error;
}

// A plain loopback listener that is not a session server.
class CForeignListener {
 public:
  CForeignListener() {
    m_fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof(addr);
    EXPECT_EQ(0, bind(m_fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)));
    EXPECT_EQ(0, listen(m_fd, 8));
    EXPECT_EQ(0, getsockname(m_fd, reinterpret_cast<sockaddr*>(&addr), &len));
    m_port = ntohs(addr.sin_port);
  }
  ~CForeignListener() { close(m_fd); }
  int Port() const { return m_port; }
  // Accepts one connection and hangs up on it.
  void HangUpOnOne() {
    const int fd = accept(m_fd, nullptr, nullptr);
    if (fd >= 0) close(fd);
  }
  // Ends an accept that waits for a connection that will not come.
  void StopAccepting() { shutdown(m_fd, SHUT_RDWR); }

 private:
  int m_fd;
  int m_port;
};

class CGate {
 public:
  void Wait() {
    std::unique_lock<std::mutex> lk(m_mutex);
    m_cv.wait(lk, [this] { return m_open; });
  }
  void Open() {
    {
      std::lock_guard<std::mutex> lk(m_mutex);
      m_open = true;
    }
    m_cv.notify_all();
  }

 private:
  std::mutex m_mutex;
  std::condition_variable m_cv;
  bool m_open = false;
};

}  // namespace

TEST(NetAttachConcurrency, AttachFailsAtOnceWhenThereIsNoServiceToReach) {
  CNetRecorder rec;
  bool timedOut = false;
  CZnNetwork net;

  // No entry at all.
  CXoError r = net.Attach_RemoteService("localhost", "DRSrvc|nobody", "machine", kTestTimeoutSeconds, timedOut);
  EXPECT_EQ(kZnsErrNoService, r.Code()) << r.AsString();
  EXPECT_FALSE(timedOut);

  // The entry of a server that has quit: nothing listens at its port.
  SZnsServiceEntry stale;
  {
    CZnNetworkServer gone(&RecordXdr, &RecordXml, "DRSrvc|300", CSessionPort(0, 0));
    ASSERT_TRUE(gone.IsListening());
    stale = EntryOf("DRSrvc|300");
  }
  EXPECT_FALSE(EntryExists("DRSrvc|300"));
  Publish("DRSrvc|300", stale);
  r = net.Attach_RemoteService("localhost", "DRSrvc|300", "machine", kTestTimeoutSeconds, timedOut);
  EXPECT_EQ(kZnsErrNoService, r.Code()) << r.AsString();

  // The entry of a process that is gone.
  pid_t gonePid = -1;
  {
    drtest::CChildProcess child;
    ASSERT_TRUE(child.Start({"/bin/sh", "-c", "exit 0"}));
    gonePid = child.Pid();
    const int status = child.Wait();
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
  }
  SZnsServiceEntry dead = stale;
  dead.pid = gonePid;
  Publish("DRSrvc|301", dead);
  r = net.Attach_RemoteService("localhost", "DRSrvc|301", "machine", kTestTimeoutSeconds, timedOut);
  EXPECT_EQ(kZnsErrNoService, r.Code()) << r.AsString();
  EXPECT_NE(std::string::npos, r.Text().find("is gone")) << r.AsString();

  // A live server at the port, but the entry is not its own: another nonce,
  // or another name.
  CServedService live("DRSrvc|302");
  live.Start();
  SZnsServiceEntry foreign = EntryOf("DRSrvc|302");
  foreign.nonce = CZnsServiceDirectory::NewNonce();
  Publish("DRSrvc|303", EntryOf("DRSrvc|302"));
  r = net.Attach_RemoteService("localhost", "DRSrvc|303", "machine", kTestTimeoutSeconds, timedOut);
  EXPECT_EQ(kZnsErrRefused, r.Code()) << r.AsString();
  EXPECT_TRUE(drtest::Eventually([] { return CLogSink::Instance().Contains("refused: hello for [DRSrvc|303]"); }));
  Publish("DRSrvc|302", foreign);
  r = net.Attach_RemoteService("localhost", "DRSrvc|302", "machine", kTestTimeoutSeconds, timedOut);
  EXPECT_EQ(kZnsErrRefused, r.Code()) << r.AsString();
  EXPECT_TRUE(
      drtest::Eventually([] { return CLogSink::Instance().Contains("refused: hello with another server's nonce"); }));
  EXPECT_FALSE(timedOut);
  EXPECT_EQ(0u, rec.Count([](const SNetCall& c) { return c.session != 0; })) << "no session was made";

  // Something else listens at the port: it hangs up, or it never answers.
  CForeignListener other;
  SZnsServiceEntry elsewhere = EntryOf("DRSrvc|302");
  elsewhere.port = other.Port();
  Publish("DRSrvc|304", elsewhere);
  drtest::CTestThread hangUp([&] { other.HangUpOnOne(); }, "listener that hangs up");
  hangUp.OnStop([&] { other.StopAccepting(); });
  r = net.Attach_RemoteService("localhost", "DRSrvc|304", "machine", kTestTimeoutSeconds, timedOut);
  ASSERT_TRUE(hangUp.Join());
  EXPECT_EQ(kZnsErrRefused, r.Code()) << r.AsString();
  EXPECT_FALSE(timedOut);
  r = net.Attach_RemoteService("localhost", "DRSrvc|304", "machine", 1, timedOut);
  EXPECT_EQ(kZnsErrTimeout, r.Code()) << r.AsString();
  EXPECT_TRUE(timedOut);
  EXPECT_FALSE(net.IsAttached());
  live.Stop();
}

TEST(NetAttachConcurrency, NamesThatLookLikePathsWorkEndToEnd) {
  CNetRecorder rec;
  for (const std::string name : {"DRSrvc|../../x", "DRSrvc|a/b", "DRSrvc|.."}) {
    CServedService svc(name);
    ASSERT_TRUE(svc.Server().IsListening()) << name;
    svc.Start();
    CZnNetwork net;
    ASSERT_FALSE(Attach(net, name).IsError()) << name;
    EXPECT_FALSE(SendJob(net, 31).IsError()) << name;
    EXPECT_FALSE(net.Disconnect(kTestTimeoutSeconds).IsError()) << name;
    svc.Stop();
    EXPECT_FALSE(EntryExists(name)) << name;
  }
  EXPECT_EQ(3u, rec.Count([](const SNetCall& c) { return c.jobId == 31; }));
}

TEST(NetLifecycleConcurrency, TheEntryLivesFromConstructionUntilQuit) {
  CNetRecorder rec;
  CServedService svc("DRSrvc|400");
  CZnNetworkServer& server = svc.Server();
  ASSERT_TRUE(server.IsListening());
  ASSERT_TRUE(EntryExists("DRSrvc|400"));
  struct stat st;
  ASSERT_EQ(0, stat(CZnsServiceDirectory::EntryPath("DRSrvc|400").c_str(), &st));
  EXPECT_EQ(0600u, st.st_mode & 07777);
  ASSERT_EQ(0, stat(CZnsServiceDirectory::Path().c_str(), &st));
  EXPECT_EQ(0700u, st.st_mode & 07777);
  const SZnsServiceEntry entry = EntryOf("DRSrvc|400");
  EXPECT_EQ(server.Port(), entry.port);
  EXPECT_EQ(getpid(), entry.pid);

  svc.Start();
  ASSERT_TRUE(drtest::Eventually(
      [&] { return rec.Count([](const SNetCall& c) { return c.type == ZNS_PM_READY_FOR_RPC; }) == 1; }));
  EXPECT_EQ(kZnsErrState, server.SelectData(1, 1, 5).Code()) << "one loop at a time";
  EXPECT_FALSE(svc.Stop().IsError());
  EXPECT_FALSE(EntryExists("DRSrvc|400"));
  server.Quit(true, true);  // again: nothing changes
  EXPECT_FALSE(server.SelectData(1, 1, 5).IsError()) << "after Quit the loop returns at once";
}

TEST(NetLifecycleConcurrency, ANoticeSentBeforeTheLoopRunsIsNotLost) {
  CNetRecorder rec;
  CServedService svc("DRSrvc|401");
  // Connect, say hello and send before SelectData: all of it waits in the
  // socket until the loop starts.
  CRawClient raw;
  ASSERT_TRUE(raw.Connect(svc.Server().Port()));
  ASSERT_TRUE(raw.SendFrame(CRawClient::HelloFor("DRSrvc|401")));
  Api::VirtualAppJob job;
  job.SetInt64(Api::VirtualAppJob::kJobId, 4242);
  SZnsFrame xml;
  xml.kind = EZnsFrameKind::Xml;
  xml.seq = 1;
  ASSERT_TRUE(job.serializeUTF8(xml.body));
  ASSERT_TRUE(raw.SendFrame(xml));
  svc.Start();
  SZnsFrame frame;
  ASSERT_TRUE(raw.ReadFrame(frame));
  EXPECT_EQ(EZnsFrameKind::HelloReply, frame.kind);
  EXPECT_EQ(0, frame.status);
  ASSERT_TRUE(raw.ReadFrame(frame));
  EXPECT_EQ(EZnsFrameKind::Receipt, frame.kind);
  EXPECT_EQ(1u, frame.seq);
  EXPECT_EQ(0, frame.status);
  EXPECT_EQ(1u, rec.Count([](const SNetCall& c) { return c.jobId == 4242; }));
  svc.Stop();
}

TEST(NetLifecycleConcurrency, QuitReturnsOnlyAfterTheCallbacksInFlight) {
  ASSERT_NE(0, ZNPlatformInfo::setNumber("Session", "DROrchestration_IOCPThreads", 2));
  CNetRecorder rec;
  CGate gate;
  ZnEvent never(true);
  std::atomic<int> order{0};
  std::atomic<int> plainEnded{0};
  std::atomic<int> platformWaitStopped{0};
  std::atomic<int> entered{0};
  rec.hook = [&](const SNetCall& c, CZnNetworkServer*) {
    if (c.callback != 'x') return;
    ++entered;
    if (c.jobId == 1) {
      gate.Wait();  // not a platform wait: only the test ends it
      plainEnded = ++order;
    } else {
      // A platform wait: Quit's stop request ends it.
      if (!never.wait()) platformWaitStopped = 1;
    }
  };
  CServedService svc("DRSrvc|402");
  svc.Start();
  CZnNetwork a, b;
  ASSERT_FALSE(Attach(a, "DRSrvc|402").IsError());
  ASSERT_FALSE(Attach(b, "DRSrvc|402").IsError());
  // On an early exit the callbacks must end, or the server's Quit waits for
  // them for good.
  auto releaseCallbacks = [&] {
    gate.Open();
    never.set();
  };
  drtest::CTestThread sendA([&] { SendJob(a, 1); }, "sender of job 1");
  sendA.OnStop(releaseCallbacks);
  drtest::CTestThread sendB([&] { SendJob(b, 2); }, "sender of job 2");
  sendB.OnStop(releaseCallbacks);
  ASSERT_TRUE(drtest::Eventually([&] { return entered.load() == 2; }));

  std::atomic<int> quitReturned{0};
  drtest::CTestThread quitter(
      [&] {
        svc.Server().Quit(true, true);
        quitReturned = ++order;
      },
      "quitter");
  quitter.OnStop(releaseCallbacks);
  // Quit is under way (it removed the entry first) but cannot return yet.
  ASSERT_TRUE(drtest::Eventually([] { return !EntryExists("DRSrvc|402"); }));
  ASSERT_TRUE(drtest::Eventually([&] { return platformWaitStopped.load() == 1; }));
  EXPECT_EQ(0, quitReturned.load());
  gate.Open();
  ASSERT_TRUE(quitter.Join());
  ASSERT_TRUE(sendA.Join());
  ASSERT_TRUE(sendB.Join());
  EXPECT_GT(plainEnded.load(), 0);
  EXPECT_GT(quitReturned.load(), plainEnded.load()) << "Quit returned before a callback ended";
  EXPECT_FALSE(svc.Stop().IsError());
}

TEST(NetLifecycleConcurrency, QuitFromInsideACallbackDoesNotWaitForItself) {
  CNetRecorder rec;
  std::atomic<bool> quitReturned{false};
  rec.hook = [&](const SNetCall& c, CZnNetworkServer* server) {
    if (c.callback != 'x') return;
    server->Quit(true, true);
    quitReturned = true;
  };
  CServedService svc("DRSrvc|403");
  svc.Start();
  CZnNetwork net;
  ASSERT_FALSE(Attach(net, "DRSrvc|403").IsError());
  SendJob(net, 1);  // the session ends with the server: the outcome does not matter
  ASSERT_TRUE(drtest::Eventually([&] { return quitReturned.load(); }));
  EXPECT_FALSE(svc.Stop().IsError());
  EXPECT_FALSE(EntryExists("DRSrvc|403"));

  // The same from the idle callback, which runs on the loop's own thread.
  CServedService idle("DRSrvc|404");
  std::atomic<bool> idleQuit{false};
  struct SArg {
    CZnNetworkServer* server;
    std::atomic<bool>* done;
  } arg{&idle.Server(), &idleQuit};
  idle.Server().SetIdleAcceptCallback(
      [](void* p) {
        auto* a = static_cast<SArg*>(p);
        a->server->Quit(true, true);
        *a->done = true;
      },
      5, &arg);
  idle.Start();
  ASSERT_TRUE(drtest::Eventually([&] { return idleQuit.load(); }));
  EXPECT_FALSE(idle.Stop().IsError());
}

TEST(NetLifecycleConcurrency, DestroyingAServerWithClientsAttachedEndsTheirSessions) {
  CNetRecorder rec;
  auto svc = std::make_unique<CServedService>("DRSrvc|405");
  svc->Start();
  std::vector<std::unique_ptr<CZnNetwork>> clients;
  for (int i = 0; i < 3; ++i) {
    clients.push_back(std::make_unique<CZnNetwork>());
    ASSERT_FALSE(Attach(*clients.back(), "DRSrvc|405").IsError());
    ASSERT_FALSE(SendJob(*clients.back(), i).IsError());
  }
  svc->Destroy();
  EXPECT_FALSE(EntryExists("DRSrvc|405"));
  for (auto& c : clients) {
    CXoError r = SendJob(*c, 9);
    EXPECT_TRUE(r.IsError());
    EXPECT_NE(kZnsErrTimeout, r.Code()) << r.AsString();
    EXPECT_FALSE(c->IsAttached());
  }
  // A fresh attach finds nothing.
  CZnNetwork late;
  EXPECT_EQ(kZnsErrNoService, Attach(late, "DRSrvc|405").Code());
}

TEST(NetLifecycleConcurrency, AStopRequestToTheLoopsThreadQuitsTheServer) {
  CNetRecorder rec;
  CZnNetworkServer server(&RecordXdr, &RecordXml, "DRSrvc|406", CSessionPort(0, 0));
  struct SRun {
    CZnNetworkServer* server;
    std::atomic<int> code{1};
  } run{&server, {}};
  ZnThread thread;
  drtest::CTestThread owner(thread, "server loop");
  ASSERT_TRUE(thread.createThread(
      [](void* p) -> void* {
        auto* r = static_cast<SRun*>(p);
        r->code = r->server->SelectData(1, 1, 5).Code();
        return nullptr;
      },
      &run));
  ASSERT_TRUE(drtest::Eventually(
      [&] { return rec.Count([](const SNetCall& c) { return c.type == ZNS_PM_READY_FOR_RPC; }) == 1; }));
  thread.requestStop();
  ASSERT_TRUE(owner.Join());
  EXPECT_EQ(0, run.code.load());
  EXPECT_FALSE(EntryExists("DRSrvc|406"));
  server.Quit(true, true);
}

TEST(NetLifecycleConcurrency, AServerThatCannotServeSaysSo) {
  CNetRecorder rec;
  for (const std::string& name : {std::string(), std::string(kZnsMaxServiceNameBytes + 1, 'n')}) {
    CZnNetworkServer server(&RecordXdr, &RecordXml, name, CSessionPort(0, 0));
    EXPECT_FALSE(server.IsListening());
    EXPECT_EQ(kZnsErrState, server.SelectData(1, 1, 5).Code());
    server.Quit(true, true);
  }
  EXPECT_TRUE(CLogSink::Instance().Contains("Cannot serve", "CZnNetworkServer::CZnNetworkServer"));
  // A port that is taken.
  CZnNetworkServer first(&RecordXdr, &RecordXml, "DRSrvc|407", CSessionPort(0, 0));
  CZnNetworkServer second(&RecordXdr, &RecordXml, "DRSrvc|408", CSessionPort(first.Port(), 0));
  EXPECT_FALSE(second.IsListening());
  EXPECT_FALSE(EntryExists("DRSrvc|408"));
  second.SetSaveRegisteredPorts(true);
  EXPECT_TRUE(second.SaveRegisteredPorts());
}
