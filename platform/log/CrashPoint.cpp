#include "log/CrashPoint.h"

#include <errno.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <atomic>

#include "core/JobContext.h"
#include "core/Mutex.h"
#include "log/EvEvent.h"

namespace {

struct SCrashPlan {
  std::string fragment;
  long count = 0;       // matching lines still to come before the crash
  long afterLines = 0;  // lines still to come before the crash; 0: none
  bool stop = false;    // SIGSTOP first
};

std::atomic<bool> g_armed{false};

// The kill point's and the pause point's plan: the countth line that holds
// the fragment.
struct SLinePlan {
  std::string fragment;
  long count = 0;  // matching lines still to come, the chosen one included
};

std::atomic<bool> g_killArmed{false};
std::atomic<CKillPoint::Requester> g_requester{nullptr};

std::atomic<bool> g_pauseArmed{false};
std::atomic<CPausePoint::Hold> g_pauseHold{nullptr};
std::atomic<CPausePoint::Hold> g_pauseRelease{nullptr};

// One lock for both plans: each line is matched against them in turn.
CMutex& PlanMutex() {
  static CMutex* m = new CMutex();
  return *m;
}

SCrashPlan& Plan() DR_REQUIRES(PlanMutex()) {
  static SCrashPlan* plan = new SCrashPlan();
  return *plan;
}

SLinePlan& KillPlan() DR_REQUIRES(PlanMutex()) {
  static SLinePlan* plan = new SLinePlan();
  return *plan;
}

SLinePlan& PausePlan() DR_REQUIRES(PlanMutex()) {
  static SLinePlan* plan = new SLinePlan();
  return *plan;
}

// A positive whole number written in digits, or false: a number too large
// for a long would be read as the largest one, and arm a line that never
// comes.
bool ReadCount(const char* name, long& value, std::string& error) {
  const char* text = getenv(name);
  if (text == nullptr) return true;
  bool digits = *text != '\0';
  for (const char* c = text; *c != '\0'; ++c) digits = digits && *c >= '0' && *c <= '9';
  errno = 0;
  char* end = nullptr;
  const long n = digits ? strtol(text, &end, 10) : 0;
  if (!digits || errno == ERANGE || n <= 0) {
    error = std::string(name) + " [" + text + "] is not a positive whole number";
    return false;
  }
  value = n;
  return true;
}

// The variable's fragment of a line ("" when unset), or false when it is
// set empty.
bool ReadFragment(const char* name, std::string& fragment, std::string& error) {
  const char* text = getenv(name);
  if (text != nullptr && *text == '\0') {
    error = std::string(name) + " is empty";
    return false;
  }
  fragment = text != nullptr ? text : "";
  return true;
}

// Whether the line "<function>(): <text>" holds the fragment.
bool Holds(const char* function, const std::string& text, const std::string& fragment) {
  const std::string line = std::string(function != nullptr ? function : "") + "(): " + text;
  return line.find(fragment) != std::string::npos;
}

// A line plan from its two variables (DR_KILL_AT and DR_KILL_AT_COUNT, say),
// which are removed from the environment once read; fragment "" when unset.
bool ReadLinePlan(const char* at, const char* countName, std::string& fragment, long& count, std::string& error) {
  count = 1;
  if (!ReadCount(countName, count, error) || !ReadFragment(at, fragment, error)) return false;
  unsetenv(at);
  unsetenv(countName);
  return true;
}

void ArmLinePlan(SLinePlan& plan, std::atomic<bool>& armed, const std::string& fragment, long count)
    DR_REQUIRES(PlanMutex()) {
  plan.fragment = fragment;
  plan.count = fragment.empty() ? 0 : count;
  armed.store(!fragment.empty() && count > 0);
}

// Whether the written line is the plan's chosen one; the plan is spent then.
bool MatchesLinePlan(SLinePlan& plan, std::atomic<bool>& armed, const char* function, const std::string& text)
    DR_REQUIRES(PlanMutex()) {
  if (plan.count <= 0 || !Holds(function, text, plan.fragment) || --plan.count != 0) return false;
  armed.store(false);
  return true;
}

[[noreturn]] void Die(bool stop) {
  // The whole process stops where it is, every lock and file still held.
  // Sent to this thread: sent to the process, it may reach another thread
  // first, and this one would go on to the kill below before it stops.
  if (stop) raise(SIGSTOP);
  // SIGKILL: no handler, no exit code of our own, nothing flushed or
  // unwound; the state left behind is what a crash leaves.
  kill(getpid(), SIGKILL);
  for (;;) pause();
}

}  // namespace

bool CCrashPoint::ArmFromEnvironment(std::string& error) {
  std::string text;
  long count = 1;
  long afterLines = 0;
  if (!ReadCount("DR_CRASH_AT_COUNT", count, error) || !ReadCount("DR_CRASH_AFTER_LINES", afterLines, error)) {
    return false;
  }
  const char* stopText = getenv("DR_CRASH_STOP");
  if (stopText != nullptr && strcmp(stopText, "0") != 0 && strcmp(stopText, "1") != 0) {
    error = std::string("DR_CRASH_STOP [") + stopText + "] is neither 0 nor 1";
    return false;
  }
  const bool stop = stopText != nullptr && strcmp(stopText, "1") == 0;
  if (!ReadFragment("DR_CRASH_AT", text, error)) return false;
  unsetenv("DR_CRASH_AT");
  unsetenv("DR_CRASH_AT_COUNT");
  unsetenv("DR_CRASH_AFTER_LINES");
  unsetenv("DR_CRASH_STOP");
  if (!text.empty() || afterLines > 0) Arm(text, text.empty() ? 0 : count, afterLines, stop);
  return true;
}

bool CCrashPoint::Armed() { return g_armed.load(std::memory_order_relaxed); }

void CCrashPoint::Arm(const std::string& fragment, long count, long afterLines, bool stop) {
  CMutexLock lk(PlanMutex());
  Plan().fragment = fragment;
  Plan().count = fragment.empty() ? 0 : count;
  Plan().afterLines = afterLines;
  Plan().stop = stop;
  g_armed.store(!fragment.empty() || afterLines > 0);
}

void CCrashPoint::Disarm() { Arm(std::string(), 0, 0); }

void CCrashPoint::Check(const char* function, const std::string& text) {
  if (!Armed()) return;
  CMutexLock lk(PlanMutex());
  SCrashPlan& plan = Plan();
  if (plan.afterLines > 0 && --plan.afterLines == 0) Die(plan.stop);
  if (plan.count > 0 && Holds(function, text, plan.fragment) && --plan.count == 0) Die(plan.stop);
}

bool CKillPoint::ArmFromEnvironment(std::string& error) {
  std::string text;
  long count = 1;
  if (!ReadLinePlan("DR_KILL_AT", "DR_KILL_AT_COUNT", text, count, error)) return false;
  if (!text.empty()) Arm(text, count);
  return true;
}

void CKillPoint::SetRequester(Requester requester) { g_requester.store(requester); }

void CKillPoint::Arm(const std::string& fragment, long count) {
  CMutexLock lk(PlanMutex());
  ArmLinePlan(KillPlan(), g_killArmed, fragment, count);
}

void CKillPoint::Disarm() { Arm(std::string(), 0); }

bool CKillPoint::Matches(const char* function, const std::string& text) {
  if (!g_killArmed.load(std::memory_order_relaxed)) return false;
  CMutexLock lk(PlanMutex());
  return MatchesLinePlan(KillPlan(), g_killArmed, function, text);
}

void CKillPoint::Request(int64_t lineJobId) {
  // A line may name a child job of the DR job (its end, say); the kill is
  // the DR job's, the process's running job.
  const int64_t running = CJobContext::CurrentJobId();
  const int64_t jobId = running > 0 ? running : lineJobId;
  const Requester requester = g_requester.load();
  if (requester != nullptr && requester(jobId)) {
    EvDebug(jobId).Debug("KillPoint", "Kill of DR job [%lld] requested after the chosen line",
                         static_cast<long long>(jobId));
    return;
  }
  EvDebug(jobId).Error("KillPoint", "Cannot request the kill of DR job [%lld] after the chosen line",
                       static_cast<long long>(jobId));
}

bool CPausePoint::ArmFromEnvironment(std::string& error) {
  std::string text;
  long count = 1;
  if (!ReadLinePlan("DR_PAUSE_AT", "DR_PAUSE_AT_COUNT", text, count, error)) return false;
  if (!text.empty()) Arm(text, count);
  return true;
}

void CPausePoint::Arm(const std::string& fragment, long count) {
  CMutexLock lk(PlanMutex());
  ArmLinePlan(PausePlan(), g_pauseArmed, fragment, count);
}

void CPausePoint::Disarm() { Arm(std::string(), 0); }

bool CPausePoint::Matches(const char* function, const std::string& text) {
  if (!g_pauseArmed.load(std::memory_order_relaxed)) return false;
  CMutexLock lk(PlanMutex());
  return MatchesLinePlan(PausePlan(), g_pauseArmed, function, text);
}

void CPausePoint::SetHold(Hold hold, Hold release) {
  g_pauseHold.store(hold);
  g_pauseRelease.store(release);
}

void CPausePoint::Pause(int64_t lineJobId) {
  // Told first: a process that stops with no word looks hung to whoever
  // reads its log.
  EvDebug(lineJobId).Debug("PausePoint", "Stopping process [%d] (SIGSTOP) after the chosen line; SIGCONT goes on",
                           static_cast<int>(getpid()));
  const Hold hold = g_pauseHold.load();
  const Hold release = g_pauseRelease.load();
  if (hold != nullptr) hold();
  // Every thread stops with this one; SIGCONT lets them all go on. Sent
  // to this thread, as the crash point's stop is: sent to the process, it
  // may reach another thread first, and this one would run on past its
  // line for a moment.
  raise(SIGSTOP);
  if (release != nullptr) release();
}
