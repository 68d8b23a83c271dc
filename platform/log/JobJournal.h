// What a job tells the outside world besides its log: job events, pending
// causes and its percent complete. The host and tests read it back.
#pragma once

#include <stdint.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "core/Mutex.h"

enum class EEventSeverity { Info, Minor, Major, Critical };

struct SJobEvent {
  int64_t jobId;
  EEventSeverity severity;
  uint32_t code;
  std::vector<std::string> args;
};

struct SPendingCause {
  int64_t jobId;
  uint32_t code;
  std::vector<std::string> args;
};

class CJobJournal {
 public:
  static CJobJournal& Instance();

  void AddEvent(const SJobEvent& ev);
  void AddPendingCause(const SPendingCause& cause);
  void SetPercentComplete(int64_t jobId, int percent);
  // Told of every percent complete as it is reported (the host's progress
  // line); called on the reporting thread, outside the journal's lock. An
  // empty function removes the listener.
  using PercentListener = std::function<void(int64_t jobId, int percent)>;
  void SetPercentListener(PercentListener listener) { Set(&SListeners::percent, std::move(listener)); }
  // A job waits on a child job it found running rather than launched (a
  // backup, copy or sync someone else may have started, or the job itself
  // on an earlier attempt). Nothing is kept: the listener is told on the
  // waiting thread, outside the journal's lock, each time a wait begins. An
  // empty function removes the listener.
  void ReportChildWait(int64_t jobId, int64_t childJobId);
  using ChildWaitListener = std::function<void(int64_t jobId, int64_t childJobId)>;
  void SetChildWaitListener(ChildWaitListener listener) { Set(&SListeners::childWait, std::move(listener)); }
  // A job found its quit flag set: the control operation it read (1 kill,
  // 2 suspend, ...), told once per operation it acts on, when the job first
  // sees it. Whoever asked for the kill learns from it that the job saw the
  // request; a kill no wait or step of the job looked for after it was made
  // is never reported. The job reports it before any of its threads can
  // learn of the quit from another, so whatever the job does on the quit
  // comes after the report. Nothing is kept: the listener is told on the
  // job's thread, outside the journal's lock. An empty function removes it.
  void ReportQuitSeen(int64_t jobId, int controlOperation);
  using QuitListener = std::function<void(int64_t jobId, int controlOperation)>;
  void SetQuitListener(QuitListener listener) { Set(&SListeners::quit, std::move(listener)); }
  // A job's work is over: its priority loop has run its last step, on every
  // way out of the loop. A quit flag the job first finds after this halts
  // nothing, whatever state the job ends in; one found before it is acted
  // on. Told once per run of the job, on the orchestrator's thread after
  // every worker of the loop has finished, outside the journal's lock, so
  // a listener that keeps both reports under one lock of its own has them
  // in the order the job made them. An empty function removes it.
  void ReportWorkOver(int64_t jobId);
  using WorkOverListener = std::function<void(int64_t jobId)>;
  void SetWorkOverListener(WorkOverListener listener) { Set(&SListeners::workOver, std::move(listener)); }

  std::vector<SJobEvent> Events() const;
  std::vector<SPendingCause> PendingCauses() const;
  // -1 when the job never reported progress.
  int PercentComplete(int64_t jobId) const;
  size_t CountEvents(uint32_t code) const;
  void Clear();

 private:
  struct SListeners {
    PercentListener percent;
    ChildWaitListener childWait;
    QuitListener quit;
    WorkOverListener workOver;
  };

  CJobJournal() = default;
  // Copied under the lock, so that a listener is called outside it.
  SListeners Listeners() const;
  template <typename Listener>
  void Set(Listener SListeners::*which, Listener listener) {
    CMutexLock lk(m_mutex);
    m_listeners.*which = std::move(listener);
  }

  mutable CMutex m_mutex;
  std::vector<SJobEvent> m_events DR_GUARDED_BY(m_mutex);
  std::vector<SPendingCause> m_causes DR_GUARDED_BY(m_mutex);
  std::vector<std::pair<int64_t, int>> m_percent DR_GUARDED_BY(m_mutex);
  SListeners m_listeners DR_GUARDED_BY(m_mutex);
};
