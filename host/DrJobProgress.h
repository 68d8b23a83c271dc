// The progress lines of a run: a DR job reports its percent after every
// step, mostly unchanged, from several threads, and its estimate can fall
// back (a step's weight recomputed, two threads' reports crossing); an
// operator reads a percent that goes down as work undone. A percent is
// printed only when it is higher than every one printed before; the
// engine's computation stays as it is.
//
// Threads: any. The print runs under the lock, so two reports cannot cross
// between the check and the line.
#pragma once

#include <stdint.h>

#include <functional>
#include <utility>

#include "core/Mutex.h"

class CProgressLines {
 public:
  using Print = std::function<void(int64_t jobId, int percent)>;
  explicit CProgressLines(Print print) : m_print(std::move(print)) {}

  void Report(int64_t jobId, int percent) {
    CMutexLock lk(m_mutex);
    if (percent <= m_last) return;
    m_last = percent;
    m_print(jobId, percent);
  }

 private:
  CMutex m_mutex;
  const Print m_print;
  int m_last DR_GUARDED_BY(m_mutex) = -1;
};
