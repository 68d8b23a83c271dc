// What a process says while its management database cannot be written: a
// full disk, an I/O error, a file that became read-only or cannot be opened.
// Its callers go on retrying as they would (a child job's end, a percent, a
// phase row), so without a word a run would sit in a wait with nothing
// printed, and its log, likely on the same full disk, cannot say it either.
//
// One line at most every interval of real time, naming the database and
// SQLite's reason, with the number of failures so far; and one line when a
// write transaction gets through again after a line was printed. The lines
// go to standard error with one write each, not through stdio or the log.
// Errors that say nothing about the file (a constraint, a lock another
// writer holds, a missing table) are never reported: tests and the engine
// provoke those on purpose.
//
// The process's report (Process()) is off until a program turns it on
// (drjob run); CDBConnection tells it of every failure it maps and of every
// write transaction that committed a change.
#pragma once

#include <atomic>
#include <functional>
#include <string>

#include "core/Mutex.h"

class CDBUnwritableReport {
 public:
  using Sink = std::function<void(const std::string& line)>;
  static constexpr long long kIntervalMs = 5000;

  static CDBUnwritableReport& Process();

  CDBUnwritableReport() = default;
  CDBUnwritableReport(const CDBUnwritableReport&) = delete;
  CDBUnwritableReport& operator=(const CDBUnwritableReport&) = delete;

  // Lines start with the prefix ("drjob: ") and go to the sink, standard
  // error when none is given. Enabling starts afresh.
  void Enable(const std::string& prefix, long long intervalMs = kIntervalMs, Sink sink = Sink());
  void Disable();

  // Whether a SQLite result means the database cannot be written: full,
  // I/O error, read-only, cannot open (primary codes; extended ones too).
  static bool MeansUnwritable(int sqliteRc);

  // A statement on the database at path failed with the SQLite result and
  // its text; ignored unless it MeansUnwritable. The At forms take the real
  // time in milliseconds from any fixed start, for tests.
  void Failed(const std::string& path, int sqliteRc, const std::string& text);
  void FailedAt(long long nowMs, const std::string& path, int sqliteRc, const std::string& text);
  // A write transaction on the database committed a change.
  void Written(const std::string& path);

 private:
  static long long NowMs();
  void Emit(const std::string& line) DR_REQUIRES(m_mutex);

  // Set while failures go unanswered by a write: Written then takes the lock.
  std::atomic<bool> m_failing{false};
  CMutex m_mutex;
  bool m_enabled DR_GUARDED_BY(m_mutex) = false;
  std::string m_prefix DR_GUARDED_BY(m_mutex);
  long long m_intervalMs DR_GUARDED_BY(m_mutex) = kIntervalMs;
  Sink m_sink DR_GUARDED_BY(m_mutex);
  // Failures since the last write that got through.
  long long m_failures DR_GUARDED_BY(m_mutex) = 0;
  // When the last failure line was printed; whether one was since the last
  // write that got through.
  bool m_anyLine DR_GUARDED_BY(m_mutex) = false;
  long long m_lastLineMs DR_GUARDED_BY(m_mutex) = 0;
  bool m_lineSinceWrite DR_GUARDED_BY(m_mutex) = false;
};
