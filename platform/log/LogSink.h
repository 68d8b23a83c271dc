// Where log lines go: the log file of the run folder and, when a test asks
// for it, an in-memory capture it can search.
//
// Line layout: "<pid> <tid> <MM/DD HH:MM:SS.mmm> <jobId> <level> <function>(): <text>"
// with level "E" for errors and the debug level otherwise.
#pragma once

#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>

#include <string>
#include <vector>

#include "core/Printf.h"
#include "core/Mutex.h"

class CLogErrorWatch;

struct SLogLine {
  int level;  // 0 = error
  int64_t jobId;
  std::string function;
  std::string text;
};

class CLogSink {
 public:
  static CLogSink& Instance();

  // Lines above this level are dropped (errors always pass). Initial value
  // from $DR_LOG_LEVEL, default 10.
  void SetLevel(int level);
  int Level() const;

  // Redirects the log file; an empty path means "drorch.log" in the run
  // folder (opened on the first line). "-" writes to standard error.
  void SetFile(const std::string& path);
  std::string FilePath() const;

  // In-memory capture for tests (bounded; the oldest lines go first).
  void SetCapture(bool on);
  void ClearCapture();
  std::vector<SLogLine> Captured() const;
  // True when a captured line's text contains the fragment (and, when given,
  // the line came from that function).
  bool Contains(const std::string& fragment, const std::string& function = std::string()) const;
  size_t Count(const std::string& fragment, const std::string& function = std::string()) const;

  // Error lines are offered to every watch between these two calls
  // (CLogErrorWatch registers itself).
  void AddErrorWatch(CLogErrorWatch* watch);
  void RemoveErrorWatch(CLogErrorWatch* watch);

  void Write(int level, const char* function, const char* fmt, ...) DR_PRINTF(4, 5);
  void WriteV(int level, int64_t jobId, const char* function, const char* fmt, va_list ap);

 private:
  CLogSink();
  ~CLogSink();
  void OpenLocked() DR_REQUIRES(m_mutex);

  mutable CMutex m_mutex;
  int m_level DR_GUARDED_BY(m_mutex);
  std::string m_path DR_GUARDED_BY(m_mutex);
  FILE* m_file DR_GUARDED_BY(m_mutex);
  bool m_capture DR_GUARDED_BY(m_mutex);
  std::vector<SLogLine> m_captured DR_GUARDED_BY(m_mutex);
  std::vector<CLogErrorWatch*> m_errorWatches DR_GUARDED_BY(m_mutex);
};
