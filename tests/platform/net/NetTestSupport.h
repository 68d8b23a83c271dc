// What the session-networking tests share: callbacks that record what a
// server hands them (with a hook a test uses to block, quit or act inside a
// callback), a server with its loop on a thread of its own, and a raw client
// that writes whatever bytes a test wants.
#pragma once

#include <stdint.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "TestSupport.h"
#include "TestThread.h"
#include "net/ZnNetworkServer.h"
#include "net/ZnsFrame.h"

namespace nettest {

struct SNetCall {
  char callback = 0;  // 'x' the XML callback, 'd' the XDR one
  int kind = 0;
  int64_t session = 0;
  unsigned long type = 0;  // XDR type, or the XML message's type id
  int64_t jobId = 0;       // an Api::VirtualAppJob's job id
  std::string bytes;       // an XDR buffer's bytes
  bool hadBuffer = false;
  std::thread::id thread;
};

// What the callbacks record into; one at a time, made current by its
// constructor.
class CNetRecorder {
 public:
  CNetRecorder();
  ~CNetRecorder();

  // Runs inside every callback before the call is recorded.
  std::function<void(const SNetCall&, CZnNetworkServer*)> hook;

  void Enter(const SNetCall& call, CZnNetworkServer* server);
  std::vector<SNetCall> Calls() const;
  size_t Count(const std::function<bool(const SNetCall&)>& pred) const;
  // Most callbacks seen running at once.
  int MaxInFlight() const { return m_maxInFlight.load(); }

  static CNetRecorder* Current();

 private:
  mutable std::mutex m_mutex;
  std::vector<SNetCall> m_calls;
  std::atomic<int> m_inFlight{0};
  std::atomic<int> m_maxInFlight{0};
};

void RecordXml(int kind, CZnNetworkServer* server, int64_t session, CNMessageBase* message);
void RecordXdr(int kind, CZnNetworkServer* server, int64_t session, unsigned long type, znsDatabuf_v2* buffer);

// A server whose loop runs on a thread of its own. The loop never outlives
// the object: on every way out of a test (an assertion that failed included)
// the destructor quits the server and joins the loop.
class CServedService {
 public:
  explicit CServedService(const std::string& name, ZnsXdrCallback xdr = &RecordXdr, ZnsXmlCallback xml = &RecordXml);
  ~CServedService();
  CServedService(const CServedService&) = delete;
  CServedService& operator=(const CServedService&) = delete;

  CZnNetworkServer& Server() { return *m_server; }
  // Starts the loop and returns once its thread runs.
  void Start();
  // Quit(true, true) and the loop thread joined; what SelectData returned.
  CXoError Stop();
  std::thread::id LoopThread() const { return m_loopId; }
  // Drops the server without quitting it first (its destructor does).
  void Destroy();

 private:
  // A loop that neither Quit nor the server's destruction ends is a fault of
  // the server: reported as a failure, and the owner of the thread then
  // reports the hang rather than leave the loop running on a freed server.
  void JoinLoop(const char* after);

  std::unique_ptr<CZnNetworkServer> m_server;
  std::thread::id m_loopId;
  std::atomic<bool> m_loopRuns{false};
  bool m_loopHung = false;
  CXoError m_result;
  drtest::CTestThread m_loop;  // last, so it goes first
};

// Time-out of the tests' client calls: 60 s of real time at the tests' scale,
// so a loaded machine does not turn a slow reply into a failure.
constexpr int kTestTimeoutSeconds = 60000;

// An Api::VirtualAppJob with a job id, sent as XML.
CXoError SendJob(CZnNetwork& net, int64_t jobId);
CXoError Attach(CZnNetwork& net, const std::string& service, int timeoutSeconds = kTestTimeoutSeconds);

// A client that speaks the frames by hand.
class CRawClient {
 public:
  CRawClient() = default;
  CRawClient(const CRawClient&) = delete;
  CRawClient& operator=(const CRawClient&) = delete;
  ~CRawClient();
  bool Connect(int port);
  bool SendBytes(const std::string& bytes);
  bool SendFrame(const SZnsFrame& frame);
  // The hello the service's entry asks for.
  static SZnsFrame HelloFor(const std::string& service);
  // False at the end of the stream, on a malformed stream or when nothing
  // came within drtest::kWatchdogMs of real time.
  bool ReadFrame(SZnsFrame& frame);
  // True once the server has ended the connection (within kWatchdogMs).
  bool WaitClosed();
  void Close();

 private:
  int m_fd = -1;
  CZnsFrameReader m_reader;
};

// Silent connections to a port, opened in bursts from a thread of its own
// until Stop, as a local process flooding a service would: each connection
// says nothing and stays open on this side until kKeptOpen newer ones are
// (the server closes it sooner or later). Connects without waiting, so a full
// backlog slows the flood instead of stopping it.
class CSilentFlood {
 public:
  static constexpr size_t kKeptOpen = 512;
  CSilentFlood(int port, int burst, std::chrono::milliseconds pause);
  ~CSilentFlood();
  CSilentFlood(const CSilentFlood&) = delete;
  CSilentFlood& operator=(const CSilentFlood&) = delete;
  // True once the flood has made at least n connections (within kWatchdogMs).
  bool WaitMade(uint64_t n);
  // Ends the flood and closes its connections; how many it made.
  uint64_t Stop();

 private:
  void Run();

  const int m_port;
  const int m_burst;
  const std::chrono::milliseconds m_pause;
  std::atomic<bool> m_stop{false};
  std::atomic<uint64_t> m_made{0};
  drtest::CTestThread m_thread;  // last, so it goes first
};

// The log's reports of connections closed before their hello
// (CZnNetworkServer::ReportUnheard): how many lines, and the connections
// they count together.
struct SUnheardReports {
  size_t lines = 0;
  uint64_t closed = 0;
};
SUnheardReports UnheardReports();
// Error lines captured from functions whose name starts with the prefix.
size_t ErrorLines(const std::string& functionPrefix);

}  // namespace nettest
