#include "TimeInterval.h"

#include <limits>

CTimeInterval CTimeInterval::FromSeconds(long long seconds) {
  // Saturate instead of overflowing: a huge span stays huge, a negative one negative.
  const long long maxSeconds = std::numeric_limits<long long>::max() / kTicksPerSecond;
  if (seconds > maxSeconds) return CTimeInterval(std::numeric_limits<long long>::max());
  if (seconds < -maxSeconds) return CTimeInterval(std::numeric_limits<long long>::min());
  return CTimeInterval(seconds * kTicksPerSecond);
}
