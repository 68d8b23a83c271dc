#include "log/EvEvent.h"

#include <unistd.h>

#include "core/JobContext.h"
#include "log/JobJournal.h"
#include "log/LogSink.h"

EvDebug::EvDebug() : m_jobId(CJobContext::CurrentJobId()) {}

EvDebug::EvDebug(int64_t jobId) : m_jobId(jobId) {}

void EvDebug::Debug(const char* function, const char* fmt, ...) const {
  va_list ap;
  va_start(ap, fmt);
  CLogSink::Instance().WriteV(1, m_jobId, function, fmt, ap);
  va_end(ap);
}

void EvDebug::Error(const char* function, const char* fmt, ...) const {
  va_list ap;
  va_start(ap, fmt);
  CLogSink::Instance().WriteV(0, m_jobId, function, fmt, ap);
  va_end(ap);
}

void EvDebug::DebugLvl(int level, const char* function, const char* fmt, ...) const {
  // Level 0 is reserved for errors; a debug line never claims it.
  if (level < 1) level = 1;
  va_list ap;
  va_start(ap, fmt);
  CLogSink::Instance().WriteV(level, m_jobId, function, fmt, ap);
  va_end(ap);
}

int EvDebug::getProcessId() { return static_cast<int>(getpid()); }

EvEvent::EvEvent() : EvDebug() {}

EvEvent::EvEvent(int64_t jobId) : EvDebug(jobId) {}

EvEvent& EvEvent::operator<<(const char* text) {
  m_args << text;
  return *this;
}

void EvEvent::AppendArguments(const ArgumentInfo* args) {
  if (!args) return;
  for (size_t i = 0; i < args->Count(); ++i) m_args.AddArgument(args->Text(i).c_str(), args->Type(i));
}

std::vector<std::string> EvEvent::TakeArgumentTexts() {
  std::vector<std::string> texts = m_args.Texts();
  m_args.Clear();
  return texts;
}

int EvEvent::Raise(EEventSeverity severity, uint32_t code) {
  SJobEvent ev{m_jobId, severity, code, TakeArgumentTexts()};
  CJobJournal::Instance().AddEvent(ev);
  return 0;
}

int EvEvent::InfoEvent(uint32_t code, int, int) { return Raise(EEventSeverity::Info, code); }
int EvEvent::MinorEvent(uint32_t code, int, int) { return Raise(EEventSeverity::Minor, code); }
int EvEvent::MajorEvent(uint32_t code, int, int) { return Raise(EEventSeverity::Major, code); }
int EvEvent::CriticalEvent(uint32_t code, int, int) { return Raise(EEventSeverity::Critical, code); }
