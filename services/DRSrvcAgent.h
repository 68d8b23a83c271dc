// CDRSrvcAgent: the DR job's job-wait service. It listens under the name
// "DRSrvc|<DR job id>" for completion notices of child jobs, which another
// process (the job manager service, through DRChildJobDone) sends as an
// Api::VirtualAppJob message, and wakes the worker thread waiting for that
// child.
//
// Lifecycle: made by CDRJobManager::InitDRJobWaitService, which starts the
// listener thread at once; stopped by the job manager's destructor (Quit,
// then delete). The destructor joins the listener and wakes every waiter
// that is still blocked, so no worker stays behind a deleted agent.
//
// Waiting: a waiter announces the child before it registers for the notice
// (ExpectJob), so a notice that arrives before WaitOnJob is kept for it,
// also for a waiter of a child whose other waiter the notice woke; WaitOnJob
// then tells why it woke. A notice is only a hint: the job manager believes
// it once the child has ended (see CDRJobManager::WaitForJobCompletion). Every waiter of one child shares one
// manual-reset event, owned jointly by the map and the waiters, so a signal
// wakes them all and no event is freed under a waiter. What is kept is
// bounded by the children this job expects: a notice for any other child
// changes nothing.
//
// Threads: the listener thread runs the receive loop; the server's callback
// threads run xmlCallback/xdrCallback/AcceptIdle; any worker may call
// ExpectJob, WaitOnJob and ForgetJob. m_lock guards the map.
#pragma once

#include <stdint.h>

#include <atomic>
#include <memory>
#include <string>
#include <unordered_map>

#include "core/ThreadSafety.h"
#include "drorch/ZnCriticalSection.h"
#include "log/EvEvent.h"
#include "net/ZnNetworkServer.h"

class CDRJobManager;
class CNMessageBase;
class ZnEvent;
class ZnThread;

class CDRSrvcAgent : public CZnNetworkServer {
 public:
  // The listener's idle-accept interval and receive-loop poll, in seconds.
  static const int POLL_INTERVAL = 5;

  // Why a wait for a child ended.
  enum EWake {
    kWakeNotice = 0,     // the child's completion notice arrived
    kWakeCleanup = 1,    // the events were cleaned up (DR quit, agent stopping)
    kWakeNoService = 2,  // the service is not serving (listener failed); the caller polls instead
    kWakeTimeout = 3     // the wait's limit passed; the caller looks at the child itself
  };
  // What a bounded wait records its request under (see WaitOnJob).
  static constexpr const char* kBackstopReason = "CDRSrvcAgent::WaitOnJob backstop";

  CDRSrvcAgent(CDRJobManager* owner, CSessionPort port, std::string name);
  ~CDRSrvcAgent() override;
  CDRSrvcAgent(const CDRSrvcAgent&) = delete;
  CDRSrvcAgent& operator=(const CDRSrvcAgent&) = delete;

  // Starts the listener thread, which the agent keeps; false when it cannot.
  bool StartListenerThread();
  static void* ServiceListenerStatic(void* agent);
  int ServiceListener(CDRSrvcAgent* agent);

  // True while the listener can still deliver notices.
  bool IsServing() const { return m_serving.load(); }
  unsigned GetJobEventMapCount();
  bool IsDRJobQuitFlagSet();

  // A waiter for the child is about to register: a notice arriving from now
  // on is kept until its WaitOnJob. Each ExpectJob is ended by one WaitOnJob
  // or one ForgetJob; a WaitOnJob that answers kWakeTimeout ends none: the
  // waiter still expects the child, and waits again or forgets it.
  void ExpectJob(int64_t childJobId);
  void ForgetJob(int64_t childJobId);
  // Blocks until the child's notice arrives or the events are cleaned up,
  // or, with a limit (scaled ms), until the limit passes: a notice lost on
  // its way must not hold the waiter for ever, so the caller bounds the wait
  // and looks at the child itself each time it ends (the request is
  // recorded under kBackstopReason).
  EWake WaitOnJob(int64_t childJobId, std::string& token, unsigned long limitMs = static_cast<unsigned long>(-1));
  // A notice the waiter found to be false (the child still runs) is
  // forgotten, so the child's other waiters do not take it for its end.
  void DisbelieveNotice(int64_t childJobId);
  void SignalJobCompletion(int64_t childJobId);
  void CleanupJobEvents();

 private:
  struct SJobEvent;

  void Cleanup(EWake reason);
  // The waiters' bookkeeping of a child; erased when nobody expects it.
  void ReleaseExpectation(int64_t childJobId) DR_REQUIRES(m_lock);

  EvEvent m_event;
  CDRJobManager* m_owner;
  std::string m_name;
  ZnCriticalSection m_lock;
  std::unordered_map<int64_t, std::shared_ptr<SJobEvent>> m_jobEventMap DR_GUARDED_BY(m_lock);
  // Per child: how many waiters expect it, and whether its notice came early.
  struct SExpectation {
    int waiters = 0;
    bool noticed = false;
  };
  std::unordered_map<int64_t, SExpectation> m_expected DR_GUARDED_BY(m_lock);
  std::atomic<bool> m_serving;
  // Waiters inside WaitOnJob: the destructor wakes them and waits until
  // they have left, since a woken waiter still takes m_lock.
  std::atomic<int> m_inWait;
  std::unique_ptr<ZnThread> m_listener;
};

// The server's callbacks (given to CZnNetworkServer).
void AcceptIdle(void* agent);
void xmlCallback(int kind, CZnNetworkServer* server, int64_t sessionId, CNMessageBase* message);
void xdrCallback(int kind, CZnNetworkServer* server, int64_t sessionId, unsigned long type, znsDatabuf_v2* buffer);
