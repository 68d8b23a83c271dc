// Completion notices of child jobs, and the one owner of their table
// (PLT_SimNotices): who asked to be told (the job and the waiter's token)
// and what became of each registration.
//
// A registration is taken only for a child job the simulator runs and that
// has not ended; the check and the insert are one write transaction, and so
// is a job's ending, so a registration is either seen by the ending or
// answered "already completed". The ending settles the job's waiting
// registrations by the job's faults in its own transaction and claims the
// ones due now for the ender, which sends them after the commit.
//
// Delivery is at least once: a notice counts as delivered only when the DR
// job's service took it (the notifier's exit code, or the in-process
// function's answer). One that was not taken waits kRetryMs (scaled) and is
// sent again by the runner of any process that runs the simulator, until it
// is taken or its DR job (the token's) has ended. A sender claims a notice
// for a lease (kSendLeaseMs, scaled: the notifier's own time limits); a
// claim whose sender vanished without an answer runs out and the notice is
// sent again. So the process that ends a child need not stay for retries,
// and a notice is never lost, at the price of a rare second copy, which the
// waiting side ignores.
//
// Delivery: through the in-process function when one is set (tests), else
// by starting the notifier program (posix_spawn, an argument vector, never a
// shell), which loads the system library and calls its completion entry.
// The simulator never blocks on a notifier: it reaps it when it has ended
// (each runner tick), logs its output and records its answer.
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
  // What became of a registration (the table's state column).
  static constexpr int kWaiting = 0;    // the job has not ended
  static constexpr int kDueLater = 1;   // the job ended; a delayed notice counts down (a fault)
  static constexpr int kDelivered = 2;  // taken by the DR job's service
  static constexpr int kDropped = 3;    // never sent (a fault)
  static constexpr int kRetry = 4;      // not taken yet; counts down to its next attempt
  static constexpr int kSending = 5;    // claimed by a sender; its lease counts down
  static constexpr int kAbandoned = 6;  // never taken: its DR job ended first

  // The states of a job's registrations, oldest first.
  static EStoreResult States(long long jobId, std::vector<int>& out);

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
  // After the ending's commit: sends notices this process has claimed.
  static void Deliver(const std::vector<SNotice>& notices);
  // The runner's part: reaps ended notifiers and records their answers,
  // counts delayed, retried and claimed notices down by elapsedMs, and sends
  // those that come due, each claimed by one sender at a time.
  static void DeliverDelayed(long long elapsedMs);

  // Waits up to realLimitMs (real time: it is about the notifier processes)
  // for the notifiers this process started, recording their answers, so a
  // process that stops its simulator leaves no notice claimed in its name.
  // What is still running then is left to the claim's lease.
  static void SettleSenders(unsigned long realLimitMs);

  // How long a notice that was not taken waits before it is sent again, and
  // how long a sender's claim lasts (requested ms, scaled).
  static constexpr long long kRetryMs = 5000;
  static constexpr long long kSendLeaseMs = 840000;

  // In-process delivery (null: the notifier program again). The
  // acknowledged form answers whether the notice was taken; the plain form
  // counts every notice as taken.
  static void SetInProcessAcknowledgedDelivery(std::function<bool(unsigned long long, std::string&)> deliver);
  static void SetInProcessDelivery(std::function<void(unsigned long long, std::string&)> deliver);
  static void SetNotifierPath(const std::string& path);
  static void SetNotifierLibrary(const std::string& path);

  static bool CreateTables();
};
