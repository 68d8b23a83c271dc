#include "db/DBUnwritableReport.h"

#include <sqlite3.h>
#include <unistd.h>

#include <chrono>

CDBUnwritableReport& CDBUnwritableReport::Process() {
  // Never destroyed: threads may reach the database while the process exits.
  static CDBUnwritableReport* report = new CDBUnwritableReport();
  return *report;
}

void CDBUnwritableReport::Enable(const std::string& prefix, long long intervalMs, Sink sink) {
  CMutexLock lk(m_mutex);
  m_enabled = true;
  m_prefix = prefix;
  m_intervalMs = intervalMs;
  m_sink = std::move(sink);
  m_failures = 0;
  m_anyLine = false;
  m_lastLineMs = 0;
  m_lineSinceWrite = false;
  m_failing = false;
}

void CDBUnwritableReport::Disable() {
  CMutexLock lk(m_mutex);
  m_enabled = false;
  m_sink = Sink();
  m_failing = false;
}

bool CDBUnwritableReport::MeansUnwritable(int sqliteRc) {
  switch (sqliteRc & 0xff) {
    case SQLITE_FULL:
    case SQLITE_IOERR:
    case SQLITE_READONLY:
    case SQLITE_CANTOPEN:
      return true;
    default:
      return false;
  }
}

long long CDBUnwritableReport::NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

void CDBUnwritableReport::Failed(const std::string& path, int sqliteRc, const std::string& text) {
  if (MeansUnwritable(sqliteRc)) FailedAt(NowMs(), path, sqliteRc, text);
}

void CDBUnwritableReport::FailedAt(long long nowMs, const std::string& path, int sqliteRc, const std::string& text) {
  if (!MeansUnwritable(sqliteRc)) return;
  CMutexLock lk(m_mutex);
  if (!m_enabled) return;
  ++m_failures;
  m_failing = true;
  if (m_anyLine && nowMs - m_lastLineMs < m_intervalMs) return;
  m_anyLine = true;
  m_lastLineMs = nowMs;
  m_lineSinceWrite = true;
  Emit(m_prefix + "the database [" + path + "] cannot be written: [" +
       (text.empty() ? std::string(sqlite3_errstr(sqliteRc)) : text) + "]; writes are retried ([" +
       std::to_string(m_failures) + "] failed so far)\n");
}

void CDBUnwritableReport::Written(const std::string& path) {
  if (!m_failing.load(std::memory_order_relaxed)) return;
  CMutexLock lk(m_mutex);
  if (!m_failing) return;
  m_failing = false;
  if (m_lineSinceWrite) {
    Emit(m_prefix + "the database [" + path + "] can be written again, after [" + std::to_string(m_failures) +
         "] failures\n");
  }
  m_lineSinceWrite = false;
  m_failures = 0;
}

void CDBUnwritableReport::Emit(const std::string& line) {
  if (m_sink) {
    m_sink(line);
    return;
  }
  // One write, so that lines of other threads do not cut into it; what
  // cannot be written is dropped.
  const ssize_t written = write(STDERR_FILENO, line.data(), line.size());
  (void)written;
}
