#include "DRSrvcAgent.h"

#include <chrono>
#include <new>
#include <thread>
#include <vector>

#include "appmgr/ZNClient.h"
#include "drorch/DRChildJobDone.h"
#include "drorch/DRJobManager.h"
#include "engine/ZnCriticalSectionLock.h"
#include "msg/MsgClasses.h"
#include "net/XoError.h"
#include "net/ZnNetwork.h"
#include "settings/ZNPlatformInfo.h"
#include "core/StopState.h"
#include "sync/ZnEvent.h"
#include "sync/ZnThread.h"

namespace {

// The completion notice's tag: the type id of Api::VirtualAppJob.
const uint32_t kChildJobNotice = 0x7602f0a7;
const int kReplyDisconnectSeconds = 30;
const int kAttachSeconds = 600;
const int kSendSeconds = 120;

static_assert(Api::VirtualAppJob::kTypeId == kChildJobNotice, "the completion notice is an Api::VirtualAppJob");

CDRSrvcAgent* AgentOf(CZnNetworkServer* server) { return static_cast<CDRSrvcAgent*>(server); }

}  // namespace

// One child's event, shared by the map and every waiter of the child, so a
// signal or a clean-up that drops the entry never frees it under a waiter.
struct CDRSrvcAgent::SJobEvent {
  SJobEvent() : event(true), reason(kWakeNotice) {}
  ZnEvent event;
  std::atomic<int> reason;
};

CDRSrvcAgent::CDRSrvcAgent(CDRJobManager* owner, CSessionPort port, std::string name)
    : CZnNetworkServer(xdrCallback, xmlCallback, name, port),
      m_event(owner != nullptr ? owner->GetJobId() : 0),
      m_owner(owner),
      m_name(std::move(name)),
      m_serving(false),
      m_inWait(0) {}

CDRSrvcAgent::~CDRSrvcAgent() {
  // Stop the server before anything of the agent goes: its callbacks reach
  // the agent. Quit returns once the receive loop and every callback ended,
  // so the listener thread is then on its way out and can be joined.
  Quit(true, true);
  if (m_listener) m_listener->join();
  m_serving.store(false);
  Cleanup(kWakeCleanup);
  while (m_inWait.load() > 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

bool CDRSrvcAgent::StartListenerThread() {
  if (!IsListening()) return false;
  std::unique_ptr<ZnThread> thread(new (std::nothrow) ZnThread());
  if (!thread) return false;
  m_serving.store(true);
  if (!thread->createThread(ServiceListenerStatic, this)) {
    m_serving.store(false);
    return false;
  }
  m_listener = std::move(thread);
  return true;
}

void* CDRSrvcAgent::ServiceListenerStatic(void* agent) {
  if (agent == nullptr) return nullptr;
  CDRSrvcAgent* self = static_cast<CDRSrvcAgent*>(agent);
  return reinterpret_cast<void*>(static_cast<intptr_t>(self->ServiceListener(self)));
}

int CDRSrvcAgent::ServiceListener(CDRSrvcAgent* agent) {
  SetSaveRegisteredPorts(false);
  SetIdleAcceptCallback(AcceptIdle, POLL_INTERVAL, agent);
  m_event.Debug("ServiceListener", "Starting listening on service :[%s]", m_name.c_str());
  CXoError result = SelectData(1, 1, POLL_INTERVAL);
  // Whatever ended the loop, no notice comes any more: every waiter wakes
  // and later waits poll instead of registering with a dead service.
  m_serving.store(false);
  if (result.IsError()) {
    m_event.Error("ServiceListener", "Error getting data on socket: [%s]", result.AsString().c_str());
    Cleanup(kWakeNoService);
    return -1;
  }
  Cleanup(kWakeNoService);
  return 0;
}

unsigned CDRSrvcAgent::GetJobEventMapCount() {
  ZnCriticalSectionLock lock(&m_lock);
  return static_cast<unsigned>(m_jobEventMap.size());
}

bool CDRSrvcAgent::IsDRJobQuitFlagSet() { return m_owner == nullptr || m_owner->IsQuitFlagSet(); }

void CDRSrvcAgent::ExpectJob(int64_t childJobId) {
  ZnCriticalSectionLock lock(&m_lock);
  ++m_expected[childJobId].waiters;
}

void CDRSrvcAgent::ForgetJob(int64_t childJobId) {
  ZnCriticalSectionLock lock(&m_lock);
  ReleaseExpectation(childJobId);
}

void CDRSrvcAgent::ReleaseExpectation(int64_t childJobId) {
  auto it = m_expected.find(childJobId);
  if (it == m_expected.end()) return;
  if (--it->second.waiters <= 0) m_expected.erase(it);
}

void CDRSrvcAgent::DisbelieveNotice(int64_t childJobId) {
  ZnCriticalSectionLock lock(&m_lock);
  auto expected = m_expected.find(childJobId);
  if (expected != m_expected.end()) expected->second.noticed = false;
}

CDRSrvcAgent::EWake CDRSrvcAgent::WaitOnJob(int64_t childJobId, std::string&, unsigned long limitMs) {
  struct SInWait {
    explicit SInWait(std::atomic<int>& n) : count(n) { ++count; }
    ~SInWait() { --count; }
    std::atomic<int>& count;
  } inWait(m_inWait);
  std::shared_ptr<SJobEvent> entry;
  {
    ZnCriticalSectionLock lock(&m_lock);
    auto expected = m_expected.find(childJobId);
    if (expected != m_expected.end() && expected->second.noticed) {
      m_event.Debug("WaitOnJob", "Job [%lld] completed before the wait began", static_cast<long long>(childJobId));
      ReleaseExpectation(childJobId);
      return kWakeNotice;
    }
    if (!m_serving.load()) {
      ReleaseExpectation(childJobId);
      return kWakeNoService;
    }
    auto it = m_jobEventMap.find(childJobId);
    if (it != m_jobEventMap.end()) {
      m_event.Debug("WaitOnJob", "Job [%lld] found in jobEventMap", static_cast<long long>(childJobId));
      entry = it->second;
    } else {
      entry = std::make_shared<SJobEvent>();
      m_event.Debug("WaitOnJob", "Adding Job [%lld] to jobEventMap", static_cast<long long>(childJobId));
      m_jobEventMap[childJobId] = entry;
    }
  }
  // A wait the platform cuts short (a stop request of this thread, its
  // watchdog) is taken as a clean-up: the caller then asks why the DR job
  // stopped. Only a limit that passed is a time-out.
  const bool bounded = limitMs != static_cast<unsigned long>(-1);
  bool signalled = bounded ? entry->event.wait(limitMs, kBackstopReason) : entry->event.wait();
  // Set just as the limit passed: still a signal.
  if (!signalled && entry->event.isSet()) signalled = true;
  const bool timedOut = !signalled && bounded && !CStopState::CurrentStopRequested();
  ZnCriticalSectionLock lock(&m_lock);
  // A waiter whose limit passed goes to look at its child and may wait
  // again: it still expects the child, so a notice that comes while it looks
  // is kept for its next wait rather than dropped.
  if (!timedOut) ReleaseExpectation(childJobId);
  if (!signalled) {
    // The last waiter of an unsignalled entry takes it along: a child whose
    // notice never comes leaves nothing behind. Copies are only made under
    // m_lock, so the count is exact here.
    auto it = m_jobEventMap.find(childJobId);
    if (it != m_jobEventMap.end() && it->second == entry && entry.use_count() == 2) m_jobEventMap.erase(it);
  }
  if (signalled) return static_cast<EWake>(entry->reason.load());
  return timedOut ? kWakeTimeout : kWakeCleanup;
}

void CDRSrvcAgent::SignalJobCompletion(int64_t childJobId) {
  ZnCriticalSectionLock lock(&m_lock);
  auto it = m_jobEventMap.find(childJobId);
  if (it != m_jobEventMap.end()) {
    if (it->second) {
      m_event.Debug("SignalJobCompletion", "Signalling completion for Job [%lld] in jobEventMap",
                    static_cast<long long>(childJobId));
      it->second->reason.store(kWakeNotice);
      it->second->event.set();
    }
    m_jobEventMap.erase(it);
  }
  // Kept for a waiter of this child that registered but has not begun to
  // wait: early, or late behind another waiter the event just woke. A child
  // nobody here expects is ignored.
  auto expected = m_expected.find(childJobId);
  if (expected != m_expected.end()) expected->second.noticed = true;
}

void CDRSrvcAgent::CleanupJobEvents() { Cleanup(kWakeCleanup); }

void CDRSrvcAgent::Cleanup(EWake reason) {
  ZnCriticalSectionLock lock(&m_lock);
  m_event.Debug("CleanupJobEvents", "Found [%zu] events to cleanup in jobEventMap", m_jobEventMap.size());
  for (auto& kv : m_jobEventMap) {
    if (!kv.second) continue;
    kv.second->reason.store(reason);
    kv.second->event.set();
  }
  m_jobEventMap.clear();
}

// ---------------------------------------------------------------------------
// The server's callbacks

void AcceptIdle(void* agent) {
  CDRSrvcAgent* self = static_cast<CDRSrvcAgent*>(agent);
  if (self == nullptr) return;
  if (self->GetJobEventMapCount() > 0 && self->IsDRJobQuitFlagSet()) {
    EvDebug().Debug("AcceptIdle", "Quit flag is set for DR job. Cleaning up jobs in jobEvent Map");
    self->CleanupJobEvents();
  }
}

void xmlCallback(int kind, CZnNetworkServer* server, int64_t sessionId, CNMessageBase* message) {
  EvDebug log;
  log.DebugLvl(5, "xmlCallback", "xmlCallback invoked");
  if (server == nullptr) {
    log.Debug("xmlCallback", "SessionServer argument is NULL");
    return;
  }
  if (kind == ZNS_CB_CONNECTION) return;
  CZnNetwork* connection = nullptr;
  if (server->AcquireSession(sessionId, &connection).IsError()) {
    log.Error("xmlCallback", "Failed to acquire ZnSession session. type [%d]", kind);
    return;
  }
  if (kind == ZNS_CB_MESSAGE) {
    // The tag is read only once the message is known to be there.
    if (message == nullptr) {
      log.Debug("xmlCallback", "Buffer from message is empty.");
    } else if (message->TypeId() == ZNS_PM_DISCONNECT_REQ) {
      log.Debug("xmlCallback", "Received ZNS_PM_DISCONNECT_REQ (xml).");
      server->ReplyDisconnect(connection, kReplyDisconnectSeconds);
    } else if (message->TypeId() == kChildJobNotice) {
      const long long child = message->GetInt64(Api::VirtualAppJob::kJobId);
      log.Debug("xmlCallback", "Received VirtualAppJob (xml) for job [%lld]", child);
      AgentOf(server)->SignalJobCompletion(child);
    } else {
      log.Debug("xmlCallback", "Received Message. type [%x]", static_cast<unsigned>(kind));
      server->CleanXmlBuffer(message);
    }
  }
  if (server->ReleaseSession(sessionId).IsError()) log.Error("xmlCallback", "Failed to release ZnSession session.");
}

void xdrCallback(int kind, CZnNetworkServer* server, int64_t sessionId, unsigned long type, znsDatabuf_v2* buffer) {
  EvDebug log;
  log.Debug("xdrCallback", "xdrCallback invoked");
  if (server == nullptr) {
    delete buffer;
    return;
  }
  CZnNetwork* connection = nullptr;
  const bool acquired = kind != ZNS_CB_CONNECTION;
  if (acquired && server->AcquireSession(sessionId, &connection).IsError()) {
    log.Error("xdrCallback", "Failed to acquire ZnSession session. type [%d]", kind);
    if (buffer != nullptr) server->CleanXdrBuffer(type, buffer);
    delete buffer;
    return;
  }
  switch (type) {
    case kChildJobNotice:
      // Only the XML form of the notice signals.
      log.Debug("xdrCallback", "Received notification request for DR child job completion");
      break;
    case ZNS_PM_CONNECTION_ABORTED:
    case ZNS_PM_CONNECTION_DROPPED:
      log.Debug("xdrCallback", "Connection aborted or dropped.");
      break;
    case ZNS_PM_DISCONNECT_REQ:
      log.Debug("xdrCallback", "Connection Disconnected 1.");
      if (connection != nullptr) server->ReplyDisconnect(connection, kReplyDisconnectSeconds);
      break;
    case ZNS_PM_DISCONNECTED:
      log.Debug("xdrCallback", "Connection Disconnected 2.");
      if (connection != nullptr) server->ReplyDisconnect(connection, kReplyDisconnectSeconds);
      break;
    case ZNS_PM_READY_FOR_RPC:
      log.Debug("xdrCallback", "Ready to accept RPCs 1.");
      break;
    case ZNS_PM_READY:
      log.Debug("xdrCallback", "Ready to accept RPCs.");
      break;
    case ZNS_PM_NEW_CONNECTION:
      log.Debug("xdrCallback", "Received new connection.");
      break;
    default:
      log.Debug("xdrCallback", "Unknown message type [%lu] received", type);
      break;
  }
  if (buffer != nullptr) {
    server->CleanXdrBuffer(type, buffer);
    delete buffer;
  }
  // Only what was acquired is released.
  if (acquired && server->ReleaseSession(sessionId).IsError()) {
    log.Error("xdrCallback", "Failed to release ZnSession session.");
  }
}

// ---------------------------------------------------------------------------
// The completion entry and its connections

CXoError AttachToRemoteService(const std::string& service, CZnNetwork* network) {
  EvDebug log;
  CXoError result = CXoError::Success();
  const std::string machine = ZNPlatformInfo::getPhysicalMachine();
  ZNClient client(machine.c_str(), 0, 0);
  const std::string host = client.getNetworkHostnameMangled();
  log.Debug("AttachToRemoteService", "Attaching to service [%s]", service.c_str());
  bool timedOut = false;
  result = network->Attach_RemoteService(host, service, machine, kAttachSeconds, timedOut);
  if (result.IsError()) {
    log.Error("AttachToRemoteService", "Error attaching to service [%s] [%s].", service.c_str(),
              result.AsString().c_str());
  } else {
    log.Debug("AttachToRemoteService", "Attached [%s] successfully", service.c_str());
  }
  return result;
}

CXoError SendXMLMessage(CNMessageBase& message, CZnNetwork* network) {
  EvDebug log;
  if (network == nullptr) {
    return FXErrorUtil::ErrorZNResult(
        FXCodeLocation("DRJobManager", "CXoError SendXMLMessage(CNMessageBase&, CZnNetwork*)", 1422), -1,
        "CZnNetwork object not intialized");
  }
  bool timedOut = false;
  CXoError sent = network->SendXMLMessage(message, 0, kSendSeconds, timedOut);
  if (timedOut) {
    log.Error("SendXMLMessage", "Timed Out:%s, while sending xml message to DROrchestration service.",
              sent.AsString().c_str());
    // A send that timed out did not arrive: it is an error whatever the
    // network call answered.
    if (!sent.IsError()) sent = CXoError(-1, "timed out while sending the xml message");
  } else if (sent.IsError()) {
    log.Error("SendXMLMessage", "Error:%s.Unable to send xml message to DROrchestration service",
              sent.AsString().c_str());
  } else {
    log.DebugLvl(0, "SendXMLMessage", "Sent xml message to DROrchestration service successfully.");
  }
  CXoError disconnected = network->Disconnect(kSendSeconds);
  if (disconnected.IsError()) log.Error("SendXMLMessage", "Disconnect failed [%s]", disconnected.AsString().c_str());
  return sent.IsError() ? sent : disconnected;
}

bool DRChildJobDoneAcknowledged(unsigned long long childJobId, std::string& token) {
  EvDebug log;
  log.DebugLvl(0, "DRChildJobDone", "Received notification of job [%llu] completion with token [%s]", childJobId,
               token.c_str());
  std::string drJobId;
  CDRJobManager::ParseJobSrvcToken(token, drJobId);
  const std::string service = "DRSrvc|" + drJobId;
  CZnNetwork* network = new (std::nothrow) CZnNetwork();
  if (network == nullptr) {
    log.Error("DRChildJobDone", "Error in attaching to service [%s]", service.c_str());
    return false;
  }
  if (AttachToRemoteService(service, network).IsError()) {
    log.Error("DRChildJobDone", "Error in attaching to service [%s]", service.c_str());
    delete network;
    return false;
  }
  Api::VirtualAppJob notice;
  notice.SetInt64(Api::VirtualAppJob::kJobId, static_cast<int64_t>(childJobId));
  // The send waits for the service's receipt, which comes once its message
  // callback has run: no error means the notice was taken.
  const bool taken = !SendXMLMessage(notice, network).IsError();
  if (!taken) {
    log.Error("DRChildJobDone", "Error in sending notification of job [%llu] completion to service [%s]", childJobId,
              service.c_str());
  } else {
    log.DebugLvl(0, "DRChildJobDone", "Successfully sent notification of job [%llu] completion to service [%s]",
                 childJobId, service.c_str());
  }
  delete network;
  return taken;
}

void DRChildJobDone(unsigned long long childJobId, std::string& token) {
  DRChildJobDoneAcknowledged(childJobId, token);
}
