// Completion notices of child jobs, and the one owner of their table
// (PLT_SimNotices): who asked to be told (the job and the waiter's token)
// and what became of each registration (waiting, due later, delivered,
// dropped).
//
// A registration is taken only for a child job the simulator runs and that
// has not ended; the check and the insert are one write transaction, and so
// is a job's ending, so a registration is either seen by the ending or
// answered "already completed". The ending settles the job's waiting
// registrations by the job's faults in its own transaction and hands the
// ones due now back to the ender, which delivers them after the commit:
// each registration is delivered once, by whoever ended the job (a delayed
// one by the first runner that finds it due).
//
// Delivery: through the in-process function when one is set (tests), else
// by starting the notifier program (posix_spawn, an argument vector, never a
// shell), which loads the system library and calls its completion entry.
// The notifier's output is logged; delivery waits for it to exit.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "jobsim/JobSimulator.h"

struct SNotice {
  long long id = 0;
  long long jobId = 0;
  std::string token;  // as sent: a foreign-token fault has changed it
  int copies = 1;     // 2 under a doubled-notice fault
};

class CJobNotices {
 public:
  static constexpr const char* kTable = "PLT_SimNotices";
  // Errors of a registration (kJobAlreadyCompleted is not one).
  static constexpr int kUnknownJob = -1;
  static constexpr int kStoreFailed = -2;
  static constexpr int kRefused = -3;

  // The registration request (App_MiscOptions): 0 registered,
  // kJobAlreadyCompleted, or an error above.
  static int Register(long long jobId, int haldenId, const std::string& token);

  // Inside the ending's transaction: settles the job's waiting
  // registrations by its faults; due holds those to deliver now.
  static bool SettleOnEnd(const SChildJobRecord& job, std::vector<SNotice>& due);
  // After the ending's commit.
  static void Deliver(const std::vector<SNotice>& notices);
  // The runner's part: counts delayed notices down by elapsedMs and
  // delivers those that come due, each claimed once.
  static void DeliverDelayed(long long elapsedMs);

  static void SetInProcessDelivery(std::function<void(unsigned long long, std::string&)> deliver);
  static void SetNotifierPath(const std::string& path);
  static void SetNotifierLibrary(const std::string& path);

  static bool CreateTables();
};
