#include "log/LogSink.h"

#include <stdlib.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>

#include "core/JobContext.h"
#include "core/RunFolder.h"
#include "log/CrashPoint.h"
#include "log/LogErrorWatch.h"

namespace {

constexpr size_t kMaxCaptured = 200000;

int InitialLevel() {
  const char* v = getenv("DR_LOG_LEVEL");
  return (v && *v) ? atoi(v) : 10;
}

unsigned long ThreadTag() { return static_cast<unsigned long>(pthread_self()) & 0xffffffUL; }

}  // namespace

CLogSink& CLogSink::Instance() {
  // Never destroyed: threads may still log while the process exits.
  static CLogSink* sink = new CLogSink();
  return *sink;
}

CLogSink::CLogSink() : m_level(InitialLevel()), m_file(nullptr), m_capture(false) {}

CLogSink::~CLogSink() {
  if (m_file && m_file != stderr) fclose(m_file);
}

void CLogSink::SetLevel(int level) {
  CMutexLock lk(m_mutex);
  m_level = level;
}

int CLogSink::Level() const {
  CMutexLock lk(m_mutex);
  return m_level;
}

void CLogSink::SetFile(const std::string& path) {
  CMutexLock lk(m_mutex);
  if (m_file && m_file != stderr) fclose(m_file);
  m_file = nullptr;
  m_path = path;
}

std::string CLogSink::FilePath() const {
  CMutexLock lk(m_mutex);
  return m_path.empty() ? CRunFolder::File("drorch.log") : m_path;
}

void CLogSink::SetCapture(bool on) {
  CMutexLock lk(m_mutex);
  m_capture = on;
}

void CLogSink::ClearCapture() {
  CMutexLock lk(m_mutex);
  m_captured.clear();
}

std::vector<SLogLine> CLogSink::Captured() const {
  CMutexLock lk(m_mutex);
  return m_captured;
}

size_t CLogSink::Count(const std::string& fragment, const std::string& function) const {
  CMutexLock lk(m_mutex);
  return static_cast<size_t>(std::count_if(m_captured.begin(), m_captured.end(), [&](const SLogLine& l) {
    return l.text.find(fragment) != std::string::npos && (function.empty() || l.function == function);
  }));
}

bool CLogSink::Contains(const std::string& fragment, const std::string& function) const {
  return Count(fragment, function) > 0;
}

void CLogSink::OpenLocked() {
  if (m_file) return;
  if (m_path == "-") {
    m_file = stderr;
    return;
  }
  std::string path = m_path.empty() ? CRunFolder::File("drorch.log") : m_path;
  m_file = fopen(path.c_str(), "a");
}

void CLogSink::Write(int level, const char* function, const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  WriteV(level, CJobContext::CurrentJobId(), function, fmt, ap);
  va_end(ap);
}

void CLogSink::AddErrorWatch(CLogErrorWatch* watch) {
  CMutexLock lk(m_mutex);
  m_errorWatches.push_back(watch);
}

void CLogSink::RemoveErrorWatch(CLogErrorWatch* watch) {
  CMutexLock lk(m_mutex);
  for (size_t i = 0; i < m_errorWatches.size(); ++i) {
    if (m_errorWatches[i] != watch) continue;
    m_errorWatches.erase(m_errorWatches.begin() + static_cast<long>(i));
    return;
  }
}

void CLogSink::WriteV(int level, int64_t jobId, const char* function, const char* fmt, va_list ap) {
  {
    CMutexLock lk(m_mutex);
    if (level > m_level && level != 0) return;
  }
  char stackBuf[1024];
  va_list copy;
  va_copy(copy, ap);
  int n = vsnprintf(stackBuf, sizeof stackBuf, fmt ? fmt : "", copy);
  va_end(copy);
  std::string text;
  if (n < 0) {
    text = "(unprintable log line)";
  } else if (static_cast<size_t>(n) < sizeof stackBuf) {
    text.assign(stackBuf, static_cast<size_t>(n));
  } else {
    text.resize(static_cast<size_t>(n) + 1);
    vsnprintf(&text[0], text.size(), fmt, ap);
    text.resize(static_cast<size_t>(n));
  }
  const char* func = function ? function : "";

  struct timeval tv;
  gettimeofday(&tv, nullptr);
  struct tm tmv;
  localtime_r(&tv.tv_sec, &tmv);
  char levelTag[8];
  if (level == 0) {
    snprintf(levelTag, sizeof levelTag, "E");
  } else {
    snprintf(levelTag, sizeof levelTag, "%d", level);
  }

  bool kill = false;
  bool pause = false;
  {
    CMutexLock lk(m_mutex);
    OpenLocked();
    if (m_file) {
      fprintf(m_file, "%d %lx %02d/%02d %02d:%02d:%02d.%03d %lld %s %s(): %s\n", static_cast<int>(getpid()),
              ThreadTag(), tmv.tm_mon + 1, tmv.tm_mday, tmv.tm_hour, tmv.tm_min, tmv.tm_sec,
              static_cast<int>(tv.tv_usec / 1000), static_cast<long long>(jobId), levelTag, func, text.c_str());
      fflush(m_file);
    }
    if (level == 0) {
      for (CLogErrorWatch* watch : m_errorWatches) watch->Offer(jobId, func, text);
    }
    // After the line is in the file: a crash chosen at it leaves it there.
    CCrashPoint::Check(func, text);
    kill = CKillPoint::Matches(func, text);
    pause = CPausePoint::Matches(func, text);
    if (m_capture) {
      if (m_captured.size() >= kMaxCaptured) {
        m_captured.erase(m_captured.begin(), m_captured.begin() + kMaxCaptured / 10);
      }
      m_captured.push_back(SLogLine{level, jobId, func, std::move(text)});
    }
  }
  // Outside the lock, which a failed store would take again to log; on
  // this thread, so the request is stored before it goes on.
  if (kill) CKillPoint::Request(jobId);
  if (pause) CPausePoint::Pause(jobId);
}
