// The one clock behind every sleep and wait of the platform.
//
// Code always asks for real durations ("wait 30000 ms"). The clock multiplies
// them by its time scale before blocking, so production runs at scale 1 while
// tests and the demo run at, say, 0.001 and a 30-second poll takes 30 ms. The
// clock can record every requested duration with its reason, so a test can
// assert on what the code asked for rather than on what the wall clock saw.
//
// Every wait also honours the calling thread's stop request (CStopState) and,
// when set, a watchdog: a single wait that lasts longer than the watchdog's
// real-time limit gives up, is counted, and returns EWaitResult::Watchdog, so a
// wait that would never end fails a test instead of hanging it.
#pragma once

#include <stdint.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "core/Mutex.h"

enum class EWaitResult {
  Ready,     // the awaited condition became true
  Timeout,   // the requested time passed (for a sleep: it slept in full)
  Stopped,   // the calling thread was asked to stop
  Watchdog,  // the watchdog gave up on the wait
};

// A requested duration meaning "no limit".
constexpr uint64_t kWaitForever = UINT64_MAX;

struct SWaitRecord {
  uint64_t requestedMs;  // what the code asked for, before scaling
  std::string reason;    // the waiting function or a short label
};

class CPlatformClock {
 public:
  using SteadyClock = std::chrono::steady_clock;

  static CPlatformClock& Instance();

  // Real milliseconds per requested millisecond. 1.0 is real time. The initial
  // value comes from $DR_TIME_SCALE when set (see ReadEnvScale).
  void SetScale(double scale);

  // The scales $DR_TIME_SCALE may ask for: from a millionth of real time (an
  // hour of waits in 3.6 ms, far below any test's need) to a thousand times
  // slower (to watch a run). Beyond them a wait either vanishes into rounding
  // or outlasts any run.
  static constexpr double kMinScale = 1e-6;
  static constexpr double kMaxScale = 1e3;
  // Reads $DR_TIME_SCALE: true with the scale, 1.0 when the variable is not
  // set; false, with one line in error, when it is set to anything but a
  // finite number from kMinScale to kMaxScale written in full (no blanks or
  // trailing characters; an empty value is refused too). Nothing falls back:
  // a program refuses to start on false, and a clock made with such a value
  // runs at real time and logs an error.
  static bool ReadEnvScale(double& scale, std::string& error);
  // The same rules for one text.
  static bool ParseScale(const char* text, double& scale, std::string& error);
  double Scale() const;

  // Sleeps for the requested milliseconds (scaled). Returns Timeout after a
  // full sleep, Stopped or Watchdog when cut short.
  EWaitResult Sleep(uint64_t ms, const char* reason);

  // Blocks on cv (lk must hold its mutex) until pred() is true, the requested
  // time passes, the calling thread is asked to stop, or the watchdog fires.
  // ms may be kWaitForever. When record is false the request is not recorded
  // (internal polling).
  EWaitResult WaitOn(std::unique_lock<std::mutex>& lk, std::condition_variable& cv, uint64_t ms,
                     const char* reason, const std::function<bool()>& pred, bool record = true);

  // Like WaitOn but the duration is real time, never scaled nor recorded: for
  // the platform's own short polls (a file lock retry, for example).
  EWaitResult WaitRealOn(std::unique_lock<std::mutex>& lk, std::condition_variable& cv,
                         std::chrono::microseconds realTimeout, const char* reason,
                         const std::function<bool()>& pred);

  // Waits as WaitOn does, up to a real deadline (from DeadlineFor), calling
  // pred() at least every pollEvery (0: only when cv is notified). For waits
  // on something no condition variable announces, such as a lock held by
  // another process.
  EWaitResult WaitUntil(std::unique_lock<std::mutex>& lk, std::condition_variable& cv,
                        SteadyClock::time_point deadline, const char* reason, const std::function<bool()>& pred,
                        std::chrono::microseconds pollEvery = std::chrono::microseconds(0));
  // The real deadline of a request starting now; time_point::max() for
  // kWaitForever.
  SteadyClock::time_point DeadlineFor(uint64_t ms) const;

  // Scaled time: milliseconds since the clock started, as the code perceives
  // them (a 30 s sleep advances it by about 30000 whatever the scale).
  int64_t NowMs() const;
  // Scaled wall-clock time in seconds since the epoch.
  int64_t NowEpochSeconds() const;
  // The same in milliseconds, from one reading (records kept across
  // processes order by it).
  int64_t NowEpochMs() const;
  // Moves the scaled wall clock (tests of expiry times).
  void ShiftEpochSeconds(int64_t seconds);

  // Recording of requested durations (off by default).
  void SetRecording(bool on);
  std::vector<SWaitRecord> Records() const;
  void ClearRecords();
  // Number of recorded waits of exactly ms whose reason contains the text.
  size_t CountWaits(uint64_t ms, const std::string& reasonPart = std::string()) const;

  // Watchdog limit in real milliseconds for any single wait; 0 turns it off.
  void SetWatchdogMs(uint64_t realMs);
  uint64_t WatchdogMs() const;
  size_t WatchdogFirings() const;
  std::vector<std::string> WatchdogReasons() const;
  void ClearWatchdogFirings();

  // The real duration that a requested one takes at the current scale.
  std::chrono::microseconds ToReal(uint64_t ms) const;

 private:
  CPlatformClock();
  void Record(uint64_t ms, const char* reason);
  void FireWatchdog(const char* reason);

  mutable CMutex m_mutex;
  double m_scale DR_GUARDED_BY(m_mutex);
  SteadyClock::time_point m_realAnchor DR_GUARDED_BY(m_mutex);  // real time at the last scale change
  double m_virtualAtAnchorMs DR_GUARDED_BY(m_mutex);            // scaled time at that moment
  int64_t m_epochAtStartSec DR_GUARDED_BY(m_mutex);
  int64_t m_epochShiftSec DR_GUARDED_BY(m_mutex);
  bool m_recording DR_GUARDED_BY(m_mutex);
  std::vector<SWaitRecord> m_records DR_GUARDED_BY(m_mutex);
  uint64_t m_watchdogMs DR_GUARDED_BY(m_mutex);
  std::vector<std::string> m_watchdogReasons DR_GUARDED_BY(m_mutex);
};

// The platform pause, tagged with the calling function's name.
#define XOSLEEP(ms) CPlatformClock::Instance().Sleep((ms), __func__)
