// Per-object loggers. Every object of the system owns an EvEvent; lines name
// the function first and carry a printf-style text, e.g.
//   m_event.DebugLvl(2, "CreateObject", "DR Orchestration GenericDR object request");
// An EvEvent also raises job events, whose arguments are added with <<.
#pragma once

#include <stdarg.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "core/Printf.h"
#include "log/ArgumentInfo.h"

enum class EEventSeverity;

class EvDebug {
 public:
  EvDebug();
  explicit EvDebug(int64_t jobId);
  virtual ~EvDebug() = default;

  // Level 1 line.
  void Debug(const char* function, const char* fmt, ...) const DR_PRINTF(3, 4);
  // Error line (always written).
  void Error(const char* function, const char* fmt, ...) const DR_PRINTF(3, 4);
  // Line at the given debug level (higher is more detailed).
  void DebugLvl(int level, const char* function, const char* fmt, ...) const DR_PRINTF(4, 5);

  static int getProcessId();

 protected:
  int64_t m_jobId;
};

class EvEvent : public EvDebug {
 public:
  // Reports against the process's running job (CJobContext).
  EvEvent();
  explicit EvEvent(int64_t jobId);

  int64_t getJobId() const { return m_jobId; }
  void setJobId(int64_t jobId) { m_jobId = jobId; }

  // Adds a text argument to the next event raised.
  EvEvent& operator<<(const char* text);
  EvEvent& operator<<(const std::string& text) { return *this << text.c_str(); }
  void AppendArguments(const ArgumentInfo* args);
  const ArgumentInfo& Arguments() const { return m_args; }

  // Raise a job event with the arguments gathered so far, then forget them.
  // Returns 0.
  int InfoEvent(uint32_t code, int reserved1 = 0, int reserved2 = 0);
  int MinorEvent(uint32_t code, int reserved1 = 0, int reserved2 = 0);
  int MajorEvent(uint32_t code, int reserved1 = 0, int reserved2 = 0);
  int CriticalEvent(uint32_t code, int reserved1 = 0, int reserved2 = 0);

 protected:
  // The texts of the arguments gathered so far, which are then forgotten:
  // whatever consumes them (an event, a pending cause) carries only its own.
  std::vector<std::string> TakeArgumentTexts();

 private:
  int Raise(EEventSeverity severity, uint32_t code);
  ArgumentInfo m_args;
};
