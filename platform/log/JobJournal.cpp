#include "log/JobJournal.h"

#include <algorithm>
#include <utility>

#include "log/LogSink.h"

namespace {

const char* SeverityText(EEventSeverity s) {
  switch (s) {
    case EEventSeverity::Info: return "INFO";
    case EEventSeverity::Minor: return "MINOR";
    case EEventSeverity::Major: return "MAJOR";
    case EEventSeverity::Critical: return "CRITICAL";
  }
  return "?";
}

std::string Joined(const std::vector<std::string>& args) {
  std::string out;
  for (const std::string& a : args) {
    if (!out.empty()) out += "] [";
    out += a;
  }
  return out;
}

}  // namespace

CJobJournal& CJobJournal::Instance() {
  static CJobJournal* journal = new CJobJournal();
  return *journal;
}

void CJobJournal::AddEvent(const SJobEvent& ev) {
  {
    CMutexLock lk(m_mutex);
    m_events.push_back(ev);
  }
  CLogSink::Instance().Write(1, "JobEvent", "Job [%lld] event [%s] code [0x%08X] args [%s]",
                             static_cast<long long>(ev.jobId), SeverityText(ev.severity), ev.code,
                             Joined(ev.args).c_str());
}

void CJobJournal::AddPendingCause(const SPendingCause& cause) {
  {
    CMutexLock lk(m_mutex);
    m_causes.push_back(cause);
  }
  CLogSink::Instance().Write(1, "PendingCause", "Job [%lld] pending cause code [0x%08X] args [%s]",
                             static_cast<long long>(cause.jobId), cause.code, Joined(cause.args).c_str());
}

void CJobJournal::SetPercentComplete(int64_t jobId, int percent) {
  PercentListener listener;
  {
    CMutexLock lk(m_mutex);
    listener = m_listeners.percent;
    bool found = false;
    for (auto& p : m_percent) {
      if (p.first == jobId) {
        p.second = percent;
        found = true;
        break;
      }
    }
    if (!found) m_percent.emplace_back(jobId, percent);
  }
  if (listener) listener(jobId, percent);
}

CJobJournal::SListeners CJobJournal::Listeners() const {
  CMutexLock lk(m_mutex);
  return m_listeners;
}

void CJobJournal::ReportChildWait(int64_t jobId, int64_t childJobId) {
  if (const ChildWaitListener listener = Listeners().childWait) listener(jobId, childJobId);
}

void CJobJournal::ReportQuitSeen(int64_t jobId, int controlOperation) {
  if (const QuitListener listener = Listeners().quit) listener(jobId, controlOperation);
}

void CJobJournal::ReportWorkOver(int64_t jobId) {
  if (const WorkOverListener listener = Listeners().workOver) listener(jobId);
}

std::vector<SJobEvent> CJobJournal::Events() const {
  CMutexLock lk(m_mutex);
  return m_events;
}

std::vector<SPendingCause> CJobJournal::PendingCauses() const {
  CMutexLock lk(m_mutex);
  return m_causes;
}

int CJobJournal::PercentComplete(int64_t jobId) const {
  CMutexLock lk(m_mutex);
  for (const auto& p : m_percent) {
    if (p.first == jobId) return p.second;
  }
  return -1;
}

size_t CJobJournal::CountEvents(uint32_t code) const {
  CMutexLock lk(m_mutex);
  return static_cast<size_t>(
      std::count_if(m_events.begin(), m_events.end(), [code](const SJobEvent& e) { return e.code == code; }));
}

void CJobJournal::Clear() {
  CMutexLock lk(m_mutex);
  m_events.clear();
  m_causes.clear();
  m_percent.clear();
}
