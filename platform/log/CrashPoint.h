// A crash on purpose, for the tests that kill a DR job's process at a chosen
// moment and run the job again: the process sends itself SIGKILL right after
// it has written a chosen log line, so everything that line reports is done
// and stored, and nothing after it is. A log line is the one mark every step
// of the system leaves, which is what makes "after the snapshot was taken
// and before its reference was stored" nameable from outside.
//
// Armed once per process, from its environment, by the program that wants
// it (drjob's main); the variables are removed when read, so programs it
// starts (the completion notifier) are never armed:
//   DR_CRASH_AT         a fragment of the line "<function>(): <text>"
//   DR_CRASH_AT_COUNT   which matching line crashes (1, the default, is the first)
//   DR_CRASH_AFTER_LINES  crash after this many lines were written, whatever
//                       they say (the random crash sampler's knob)
//   DR_CRASH_STOP=1     the process stops there (SIGSTOP) instead, holding
//                       its files and locks, for a test that looks at what
//                       another process meets at that moment; continued, it
//                       dies as at a crash
// Both of the first and the third may be set; the first that is reached crashes.
// A count (here and below) is a positive whole number in digits that fits a
// long; any other value, one too large included, is refused.
//
// Threads: Check is called by the log sink under its lock, so counts are
// exact however many threads log.
//
// A kill point (CKillPoint, below) is its milder sibling, for the tests that
// look at what a DR job does with a kill that comes at a chosen moment, and
// a pause point (CPausePoint) the mildest, for the tests that order two
// processes' writes.
#pragma once

#include <stdint.h>

#include <string>

class CCrashPoint {
 public:
  // Reads and removes the variables above; false with a reason when one is
  // set to something it cannot use (the caller refuses to start).
  static bool ArmFromEnvironment(std::string& error);
  // Whether a crash is armed at all (lines are only looked at when one is).
  static bool Armed();
  // One written line; never returns when it is the chosen one.
  static void Check(const char* function, const std::string& text);
  // Tests in one process: arm or disarm directly.
  static void Arm(const std::string& fragment, long count, long afterLines, bool stop = false);
  static void Disarm();
};

// A kill on purpose: right after a chosen log line is written, the DR job's
// kill is requested as drjob control kill requests it (the job manager
// reads it at its next check), by the thread that wrote the line and before
// that thread goes on, so the kill lands exactly after that line; no sleep
// decides where. Armed like the crash point, from the environment, by the
// program that wants it; the variables are removed when read:
//   DR_KILL_AT          a fragment of the line "<function>(): <text>"
//   DR_KILL_AT_COUNT    which matching line requests the kill (default 1)
// Requests are made once. The log area stands below the job records, so the
// request itself is made by the requester a higher level sets (drjob's main).
//
// Threads: Matches is called by the log sink under its lock, so counts are
// exact; Request is called outside that lock, since the request writes to
// the database, whose failures are logged.
class CKillPoint {
 public:
  // Stores the kill request of a job; true when it is stored.
  using Requester = bool (*)(int64_t jobId);

  // Reads and removes the variables above; false with a reason when one is
  // set to something it cannot use (the caller refuses to start).
  static bool ArmFromEnvironment(std::string& error);
  static void SetRequester(Requester requester);
  // Whether this written line is the chosen one (once).
  static bool Matches(const char* function, const std::string& text);
  // The kill of the process's running job (drjob's DR job), whatever job
  // the line names; without a running job, the line's job.
  static void Request(int64_t lineJobId);
  // Tests in one process: arm or disarm directly.
  static void Arm(const std::string& fragment, long count);
  static void Disarm();
};

// A pause on purpose, for the tests that put another process's write at a
// chosen moment of this one: right after a chosen log line is written, the
// process stops itself (SIGSTOP), once, and goes on as if nothing happened
// when it is continued (SIGCONT). The test sees the stop, makes its write,
// and continues the process, so the order of the two writes is the test's,
// not the scheduler's. Armed like the crash point, from the environment;
// the variables are removed when read:
//   DR_PAUSE_AT         a fragment of the line "<function>(): <text>"
//   DR_PAUSE_AT_COUNT   which matching line pauses (default 1)
// Before it stops, the process logs "PausePoint(): Stopping process [PID]
// (SIGSTOP) after the chosen line; SIGCONT goes on".
//
// Threads: Matches is called by the log sink under its lock, so counts are
// exact; Pause is called outside it, by the thread that wrote the line.
class CPausePoint {
 public:
  static bool ArmFromEnvironment(std::string& error);
  // Whether this written line is the chosen one (once).
  static bool Matches(const char* function, const std::string& text);
  // Stops the process until it is continued, after one line (under the
  // line's job) that says so and that SIGCONT goes on.
  static void Pause(int64_t lineJobId);
  // Tests in one process: arm or disarm directly.
  static void Arm(const std::string& fragment, long count);
  static void Disarm();
  // What the stopped process must not hold: set once, at start-up, by the
  // layer that owns it. The database's writers are held still before the
  // stop (no other thread of the process is inside a write transaction
  // then) and let go after it: a write the test makes meanwhile from
  // another process would otherwise wait on the lock of a thread the stop
  // caught mid-transaction. The pausing thread's own transaction is kept.
  using Hold = void (*)();
  static void SetHold(Hold hold, Hold release);
};
