#include "time/PlatformClock.h"

#include <ctype.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <thread>

#include "log/LogSink.h"
#include "core/StopState.h"

namespace {

// A stop request is noticed within this much real time, however long the wait.
constexpr std::chrono::milliseconds kStopCheckSlice(20);
// Keeps the record list bounded in long runs.
constexpr size_t kMaxRecords = 200000;
// Requests longer than this are treated as "forever" (no overflow in chrono).
constexpr double kMaxRealMicros = 1e15;

const char kScaleVariable[] = "DR_TIME_SCALE";

double InitialScale() {
  double scale = 1.0;
  std::string error;
  if (CPlatformClock::ReadEnvScale(scale, error)) return scale;
  CLogSink::Instance().Write(0, "CPlatformClock", "%s; the clock runs at real time", error.c_str());
  return 1.0;
}

}  // namespace

bool CPlatformClock::ParseScale(const char* text, double& scale, std::string& error) {
  const std::string value = text != nullptr ? text : "";
  // strtod would skip leading blanks: a value is written in full or not at all.
  const bool written = !value.empty() && !isspace(static_cast<unsigned char>(value[0]));
  char* end = nullptr;
  const double parsed = written ? strtod(value.c_str(), &end) : 0.0;
  if (!written || end == value.c_str() || *end != '\0' || !std::isfinite(parsed) || parsed < kMinScale ||
      parsed > kMaxScale) {
    char bounds[64];
    snprintf(bounds, sizeof(bounds), "%g to %g", kMinScale, kMaxScale);
    error = std::string(kScaleVariable) + " [" + value + "] is not a number from " + bounds;
    return false;
  }
  scale = parsed;
  return true;
}

bool CPlatformClock::ReadEnvScale(double& scale, std::string& error) {
  const char* v = getenv(kScaleVariable);
  if (v == nullptr) {
    scale = 1.0;
    return true;
  }
  return ParseScale(v, scale, error);
}

CPlatformClock& CPlatformClock::Instance() {
  static CPlatformClock clock;
  return clock;
}

CPlatformClock::CPlatformClock()
    : m_scale(InitialScale()),
      m_realAnchor(SteadyClock::now()),
      m_virtualAtAnchorMs(0.0),
      m_epochAtStartSec(static_cast<int64_t>(::time(nullptr))),
      m_epochShiftSec(0),
      m_recording(false),
      m_watchdogMs(0) {}

void CPlatformClock::SetScale(double scale) {
  if (!(scale > 0.0)) return;
  CMutexLock lk(m_mutex);
  SteadyClock::time_point now = SteadyClock::now();
  double realMs = std::chrono::duration<double, std::milli>(now - m_realAnchor).count();
  m_virtualAtAnchorMs += realMs / m_scale;
  m_realAnchor = now;
  m_scale = scale;
}

double CPlatformClock::Scale() const {
  CMutexLock lk(m_mutex);
  return m_scale;
}

std::chrono::microseconds CPlatformClock::ToReal(uint64_t ms) const {
  double scale = Scale();
  double micros = static_cast<double>(ms) * 1000.0 * scale;
  if (micros > kMaxRealMicros) micros = kMaxRealMicros;
  return std::chrono::microseconds(static_cast<int64_t>(micros));
}

int64_t CPlatformClock::NowMs() const {
  CMutexLock lk(m_mutex);
  double realMs = std::chrono::duration<double, std::milli>(SteadyClock::now() - m_realAnchor).count();
  return static_cast<int64_t>(m_virtualAtAnchorMs + realMs / m_scale);
}

int64_t CPlatformClock::NowEpochSeconds() const {
  int64_t elapsedSec = NowMs() / 1000;
  CMutexLock lk(m_mutex);
  return m_epochAtStartSec + m_epochShiftSec + elapsedSec;
}

int64_t CPlatformClock::NowEpochMs() const {
  const int64_t elapsedMs = NowMs();
  CMutexLock lk(m_mutex);
  return (m_epochAtStartSec + m_epochShiftSec) * 1000 + elapsedMs;
}

void CPlatformClock::ShiftEpochSeconds(int64_t seconds) {
  CMutexLock lk(m_mutex);
  m_epochShiftSec += seconds;
}

void CPlatformClock::SetRecording(bool on) {
  CMutexLock lk(m_mutex);
  m_recording = on;
}

std::vector<SWaitRecord> CPlatformClock::Records() const {
  CMutexLock lk(m_mutex);
  return m_records;
}

void CPlatformClock::ClearRecords() {
  CMutexLock lk(m_mutex);
  m_records.clear();
}

size_t CPlatformClock::CountWaits(uint64_t ms, const std::string& reasonPart) const {
  CMutexLock lk(m_mutex);
  return static_cast<size_t>(std::count_if(m_records.begin(), m_records.end(), [&](const SWaitRecord& r) {
    return r.requestedMs == ms && r.reason.find(reasonPart) != std::string::npos;
  }));
}

void CPlatformClock::SetWatchdogMs(uint64_t realMs) {
  CMutexLock lk(m_mutex);
  m_watchdogMs = realMs;
}

uint64_t CPlatformClock::WatchdogMs() const {
  CMutexLock lk(m_mutex);
  return m_watchdogMs;
}

size_t CPlatformClock::WatchdogFirings() const {
  CMutexLock lk(m_mutex);
  return m_watchdogReasons.size();
}

std::vector<std::string> CPlatformClock::WatchdogReasons() const {
  CMutexLock lk(m_mutex);
  return m_watchdogReasons;
}

void CPlatformClock::ClearWatchdogFirings() {
  CMutexLock lk(m_mutex);
  m_watchdogReasons.clear();
}

void CPlatformClock::Record(uint64_t ms, const char* reason) {
  CMutexLock lk(m_mutex);
  if (!m_recording || m_records.size() >= kMaxRecords) return;
  m_records.push_back(SWaitRecord{ms, reason ? reason : ""});
}

void CPlatformClock::FireWatchdog(const char* reason) {
  uint64_t limit;
  {
    CMutexLock lk(m_mutex);
    m_watchdogReasons.push_back(reason ? reason : "");
    limit = m_watchdogMs;
  }
  CLogSink::Instance().Write(0, "Watchdog", "Wait [%s] gave up after [%llu] ms of real time",
                             reason ? reason : "", static_cast<unsigned long long>(limit));
}

CPlatformClock::SteadyClock::time_point CPlatformClock::DeadlineFor(uint64_t ms) const {
  if (ms == kWaitForever) return SteadyClock::time_point::max();
  return SteadyClock::now() + ToReal(ms);
}

EWaitResult CPlatformClock::Sleep(uint64_t ms, const char* reason) {
  Record(ms, reason);
  if (ms == 0) {
    std::this_thread::yield();
    if (!CStopState::CurrentStopRequested()) return EWaitResult::Timeout;
    CStopState::Current()->NoteHonoured();
    return EWaitResult::Stopped;
  }
  thread_local std::mutex t_mutex;
  thread_local std::condition_variable t_cv;
  std::unique_lock<std::mutex> lk(t_mutex);
  return WaitUntil(lk, t_cv, DeadlineFor(ms), reason, [] { return false; });
}

EWaitResult CPlatformClock::WaitOn(std::unique_lock<std::mutex>& lk, std::condition_variable& cv, uint64_t ms,
                                   const char* reason, const std::function<bool()>& pred, bool record) {
  if (record) Record(ms, reason);
  return WaitUntil(lk, cv, DeadlineFor(ms), reason, pred);
}

EWaitResult CPlatformClock::WaitRealOn(std::unique_lock<std::mutex>& lk, std::condition_variable& cv,
                                       std::chrono::microseconds realTimeout, const char* reason,
                                       const std::function<bool()>& pred) {
  return WaitUntil(lk, cv, SteadyClock::now() + realTimeout, reason, pred);
}

EWaitResult CPlatformClock::WaitUntil(std::unique_lock<std::mutex>& lk, std::condition_variable& cv,
                                      SteadyClock::time_point deadline, const char* reason,
                                      const std::function<bool()>& pred, std::chrono::microseconds pollEvery) {
  const SteadyClock::time_point start = SteadyClock::now();
  const uint64_t watchdogMs = WatchdogMs();
  const SteadyClock::time_point watchdogAt =
      watchdogMs ? start + std::chrono::milliseconds(watchdogMs) : SteadyClock::time_point::max();
  CStopState* stop = CStopState::Current();

  for (;;) {
    if (pred()) return EWaitResult::Ready;
    if (stop && stop->StopRequested()) {
      stop->NoteHonoured();
      return EWaitResult::Stopped;
    }
    SteadyClock::time_point now = SteadyClock::now();
    if (now >= deadline) return EWaitResult::Timeout;
    if (now >= watchdogAt) {
      lk.unlock();
      FireWatchdog(reason);
      lk.lock();
      return EWaitResult::Watchdog;
    }
    // Wake at the earliest of: the deadline, the watchdog, the next poll and
    // the next stop check (only a thread that can be stopped needs that).
    SteadyClock::time_point wakeAt = std::min(deadline, watchdogAt);
    if (pollEvery.count() > 0) wakeAt = std::min(wakeAt, now + pollEvery);
    if (stop) wakeAt = std::min(wakeAt, now + kStopCheckSlice);
    if (wakeAt == SteadyClock::time_point::max()) {
      cv.wait(lk);
    } else {
      cv.wait_until(lk, wakeAt);
    }
  }
}
