#include "NetTestSupport.h"

#include <arpa/inet.h>
#include <errno.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <deque>

#include "log/LogSink.h"
#include "msg/MsgClasses.h"
#include "net/ServiceDirectory.h"

namespace nettest {

namespace {
std::atomic<CNetRecorder*> g_current{nullptr};
}

CNetRecorder::CNetRecorder() { g_current.store(this); }
CNetRecorder::~CNetRecorder() { g_current.store(nullptr); }
CNetRecorder* CNetRecorder::Current() { return g_current.load(); }

void CNetRecorder::Enter(const SNetCall& call, CZnNetworkServer* server) {
  const int now = ++m_inFlight;
  int seen = m_maxInFlight.load();
  while (now > seen && !m_maxInFlight.compare_exchange_weak(seen, now)) {
  }
  if (hook) hook(call, server);
  {
    std::lock_guard<std::mutex> lk(m_mutex);
    m_calls.push_back(call);
  }
  --m_inFlight;
}

std::vector<SNetCall> CNetRecorder::Calls() const {
  std::lock_guard<std::mutex> lk(m_mutex);
  return m_calls;
}

size_t CNetRecorder::Count(const std::function<bool(const SNetCall&)>& pred) const {
  size_t n = 0;
  for (const SNetCall& c : Calls()) n += pred(c) ? 1 : 0;
  return n;
}

void RecordXml(int kind, CZnNetworkServer* server, int64_t session, CNMessageBase* message) {
  SNetCall call;
  call.callback = 'x';
  call.kind = kind;
  call.session = session;
  call.thread = std::this_thread::get_id();
  if (message) {
    call.type = message->TypeId();
    if (call.type == Api::VirtualAppJob::kTypeId) call.jobId = message->GetInt64(Api::VirtualAppJob::kJobId);
  }
  if (CNetRecorder* r = CNetRecorder::Current()) r->Enter(call, server);
}

void RecordXdr(int kind, CZnNetworkServer* server, int64_t session, unsigned long type, znsDatabuf_v2* buffer) {
  SNetCall call;
  call.callback = 'd';
  call.kind = kind;
  call.session = session;
  call.type = type;
  call.thread = std::this_thread::get_id();
  call.hadBuffer = buffer != nullptr;
  if (buffer && buffer->data.ptr) call.bytes.assign(buffer->data.ptr, buffer->data.size);
  if (CNetRecorder* r = CNetRecorder::Current()) r->Enter(call, server);
  if (server && buffer) server->CleanXdrBuffer(type, buffer);
  delete buffer;
}

CServedService::CServedService(const std::string& name, ZnsXdrCallback xdr, ZnsXmlCallback xml)
    : m_server(new CZnNetworkServer(xdr, xml, name, CSessionPort(0, 0))) {}

CServedService::~CServedService() { Stop(); }

void CServedService::Start() {
  CZnNetworkServer* server = m_server.get();
  const bool started = m_loop.Start(
      [this, server] {
        m_loopId = std::this_thread::get_id();
        m_loopRuns = true;
        m_result = server->SelectData(1, 1, 5);
      },
      "server loop");
  if (!started) {
    ADD_FAILURE() << "the server's loop was started twice";
    return;
  }
  // Should the loop outlast a failed join, quitting it is the last resort
  // before the hang is reported.
  m_loop.OnStop([this] {
    if (m_server) m_server->Quit(true, true);
  });
  if (!drtest::Eventually([this] { return m_loopRuns.load(); })) ADD_FAILURE() << "the server's loop never started";
}

void CServedService::JoinLoop(const char* after) {
  if (m_loopHung || m_loop.Join()) return;
  m_loopHung = true;  // waiting again would only delay the owner's report
  ADD_FAILURE() << "the server's loop still runs " << drtest::kWatchdogMs << " ms after " << after;
}

CXoError CServedService::Stop() {
  if (m_server) m_server->Quit(true, true);
  JoinLoop("Quit");
  return m_result;
}

void CServedService::Destroy() {
  m_server.reset();
  JoinLoop("the server was destroyed");
}

CXoError SendJob(CZnNetwork& net, int64_t jobId) {
  Api::VirtualAppJob job;
  job.SetInt64(Api::VirtualAppJob::kJobId, jobId);
  bool timedOut = false;
  return net.SendXMLMessage(job, 0, kTestTimeoutSeconds, timedOut);
}

CXoError Attach(CZnNetwork& net, const std::string& service, int timeoutSeconds) {
  bool timedOut = false;
  return net.Attach_RemoteService("localhost", service, "machine", timeoutSeconds, timedOut);
}

CRawClient::~CRawClient() { Close(); }

void CRawClient::Close() {
  if (m_fd >= 0) close(m_fd);
  m_fd = -1;
}

bool CRawClient::Connect(int port) {
  m_fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(static_cast<uint16_t>(port));
  return m_fd >= 0 && connect(m_fd, reinterpret_cast<const sockaddr*>(&addr), sizeof(addr)) == 0;
}

bool CRawClient::SendBytes(const std::string& bytes) {
  return send(m_fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
}

bool CRawClient::SendFrame(const SZnsFrame& frame) {
  std::string bytes;
  return ZnsEncodeFrame(frame, bytes) && SendBytes(bytes);
}

SZnsFrame CRawClient::HelloFor(const std::string& service) {
  SZnsServiceEntry entry;
  std::string error;
  CZnsServiceDirectory::Lookup(service, entry, error);
  return ZnsHelloFrame(service, entry.nonce);
}

bool CRawClient::ReadFrame(SZnsFrame& frame) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(drtest::kWatchdogMs);
  char buf[4096];
  while (!m_reader.Next(frame)) {
    if (m_reader.Failed() || std::chrono::steady_clock::now() >= end) return false;
    pollfd p{m_fd, POLLIN, 0};
    if (poll(&p, 1, 10) <= 0) continue;
    const ssize_t n = recv(m_fd, buf, sizeof(buf), 0);
    if (n <= 0) return false;
    m_reader.Feed(buf, static_cast<size_t>(n));
  }
  return true;
}

bool CRawClient::WaitClosed() {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(drtest::kWatchdogMs);
  char buf[4096];
  while (std::chrono::steady_clock::now() < end) {
    pollfd p{m_fd, POLLIN, 0};
    if (poll(&p, 1, 10) <= 0) continue;
    const ssize_t n = recv(m_fd, buf, sizeof(buf), 0);
    if (n == 0 || (n < 0 && errno == ECONNRESET)) return true;
  }
  return false;
}

CSilentFlood::CSilentFlood(int port, int burst, std::chrono::milliseconds pause)
    : m_port(port), m_burst(burst), m_pause(pause), m_thread([this] { Run(); }, "silent flood") {}

CSilentFlood::~CSilentFlood() { Stop(); }

void CSilentFlood::Run() {
  std::deque<int> open;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(static_cast<uint16_t>(m_port));
  while (!m_stop.load()) {
    for (int i = 0; i < m_burst; ++i) {
      const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
      if (fd < 0) break;
      if (connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof(addr)) != 0 && errno != EINPROGRESS) {
        close(fd);
        continue;
      }
      open.push_back(fd);
      ++m_made;
      if (open.size() > kKeptOpen) {
        close(open.front());
        open.pop_front();
      }
    }
    std::this_thread::sleep_for(m_pause);
  }
  for (int fd : open) close(fd);
}

bool CSilentFlood::WaitMade(uint64_t n) {
  return drtest::Eventually([&] { return m_made.load() >= n; });
}

uint64_t CSilentFlood::Stop() {
  m_stop = true;
  m_thread.Join();
  return m_made.load();
}

SUnheardReports UnheardReports() {
  SUnheardReports reports;
  for (const SLogLine& line : CLogSink::Instance().Captured()) {
    if (line.function != "CZnNetworkServer::ReportUnheard") continue;
    ++reports.lines;
    unsigned long long closed = 0;
    if (sscanf(line.text.c_str(), "Closed [%llu]", &closed) == 1) reports.closed += closed;
  }
  return reports;
}

size_t ErrorLines(const std::string& functionPrefix) {
  size_t n = 0;
  for (const SLogLine& line : CLogSink::Instance().Captured()) {
    n += (line.level == 0 && line.function.rfind(functionPrefix, 0) == 0) ? 1 : 0;
  }
  return n;
}

}  // namespace nettest
