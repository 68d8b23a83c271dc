// The last error line one job logs while the watch lives, from whichever
// thread logs it: what a DR priority that failed as a whole is told by,
// when its machines carry no reason of their own. The last, not the first:
// a run that goes well may log an error early (a check that answers no),
// while what ends a priority is logged as it ends.
//
// Threads: constructed and destroyed on one thread; the log offers it
// lines from any thread; First may be called from any thread.
#pragma once

#include <stdint.h>

#include <string>

#include "core/Mutex.h"
#include "core/ThreadSafety.h"

class CLogErrorWatch {
 public:
  explicit CLogErrorWatch(int64_t jobId);
  ~CLogErrorWatch();
  CLogErrorWatch(const CLogErrorWatch&) = delete;
  CLogErrorWatch& operator=(const CLogErrorWatch&) = delete;

  // "Function(): text" of the job's last error line, "" when none.
  std::string Last() const;

  // Called by the log for every error line, under the log's lock.
  void Offer(int64_t jobId, const char* function, const std::string& text);

 private:
  const int64_t m_jobId;
  mutable CMutex m_mutex;
  std::string m_last DR_GUARDED_BY(m_mutex);
};
