// The signals that would end a run half-way: Ctrl-C (SIGINT), kill's
// default (SIGTERM) and a terminal that goes away (SIGHUP). Their default
// action leaves the DR job running in its record, its machines' rows in
// progress and its sources off until a rerun takes it over. Instead the first
// becomes the job's own kill request, the one drjob control records, which
// the job acts on at its next wait or step that looks for a kill, with every
// machine's rows final and the run lease given back. A job with no such
// wait or step left runs to its end. A second signal ends drjob at once for
// whoever cannot wait, leaving what a crash leaves. A signal ignored when
// drjob started (nohup) stays ignored. Only run watches them; the other
// commands keep the default actions.
//
// The watcher also notes when the job's kill or suspend was first
// requested, by a signal or by another process in the job's record (looked
// at four times a second, and once more as the watch stops), so the run can
// say when a request it never acted on came.
//
// Threads: Start blocks the signals in the calling thread before the watcher
// starts, and every thread started after it inherits that, so only the
// watcher takes them: no call of the job's own threads is cut short by one.
// The handler only counts and writes to a pipe; the watcher, a normal thread,
// records the kill.
#pragma once

#include <atomic>
#include <string>
#include <thread>

class CRunSignals {
 public:
  CRunSignals() = default;
  ~CRunSignals() { Stop(); }
  CRunSignals(const CRunSignals&) = delete;
  CRunSignals& operator=(const CRunSignals&) = delete;

  // A reader of the run's output that goes away (drjob run ... | head) must
  // not end the run: writes to it fail instead, for the rest of the process.
  static void IgnoreBrokenPipe();
  // A file-size limit (ulimit -f) reached must not end the run either: the
  // write fails as on a full disk, is reported and retried.
  static void IgnoreFileSizeLimit();

  // Turns the first signal into a kill request of the job, from before any
  // other thread of the run starts. False with the reason when the signals
  // cannot be watched (they then keep their default actions).
  bool Start(long long jobId, std::string& error);
  // The job has ended: the watcher stops, a first signal from now on asks for
  // nothing and a second still ends drjob at once.
  void Stop();

  // When the job's kill or suspend was first requested since Start, in
  // milliseconds since the epoch: the moment a signal's kill was recorded,
  // or the moment the watcher found a request another process recorded. 0
  // when none was; RequestedOperation then says which (1 kill, 2 suspend).
  long long RequestedAtMs() const { return m_requestAtMs.load(); }
  int RequestedOperation() const { return m_requestOp.load(); }

 private:
  void Watch();
  // Notes a request recorded in the job's record by another process.
  void LookAtRecord();
  void NoteRequest(int operation);

  long long m_jobId = 0;
  std::thread m_watcher;
  std::atomic<long long> m_requestAtMs{0};
  std::atomic<int> m_requestOp{0};
};
