// A signed span of time in 100-nanosecond ticks.
#pragma once

#include <stdint.h>

class CTimeInterval {
 public:
  static constexpr long long kTicksPerSecond = 10000000LL;
  static constexpr long long kTicksPerMillisecond = 10000LL;

  explicit CTimeInterval(long long ticks = 0) : m_ticks(ticks) {}
  static CTimeInterval FromSeconds(long long seconds);

  long long Ticks() const { return m_ticks; }
  // Whole milliseconds, truncated toward zero.
  long long AsMilliseconds() const { return m_ticks / kTicksPerMillisecond; }

 private:
  long long m_ticks;
};
