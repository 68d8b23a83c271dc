#include "log/LogErrorWatch.h"

#include "log/LogSink.h"

CLogErrorWatch::CLogErrorWatch(int64_t jobId) : m_jobId(jobId) { CLogSink::Instance().AddErrorWatch(this); }

CLogErrorWatch::~CLogErrorWatch() { CLogSink::Instance().RemoveErrorWatch(this); }

std::string CLogErrorWatch::Last() const {
  CMutexLock lk(m_mutex);
  return m_last;
}

void CLogErrorWatch::Offer(int64_t jobId, const char* function, const std::string& text) {
  if (jobId != m_jobId) return;
  CMutexLock lk(m_mutex);
  m_last = std::string(function != nullptr && *function != '\0' ? function : "") +
            (function != nullptr && *function != '\0' ? "(): " : "") + text;
}
