// Which process runs something, told apart from a later process that got
// the same pid: the machine's name, the pid and the process's start time.
// Stored with what it runs, so another process can tell whether the runner
// still lives.
#pragma once

#include <string>

struct SProcessId {
  std::string host;
  long long pid = 0;
  // Clock ticks since the machine booted at which the process started; a
  // pid reused after the first holder died has a later one. (Not since the
  // epoch: the boot time the kernel reports moves when the clock is set.)
  long long startTicks = 0;

  bool Empty() const { return pid == 0; }
  bool operator==(const SProcessId& o) const { return pid == o.pid && startTicks == o.startTicks && host == o.host; }
  bool operator!=(const SProcessId& o) const { return !(*this == o); }
};

class CProcessIdentity {
 public:
  enum EState {
    kAlive,      // the process runs on this machine
    kGone,       // it ended (or the record names nobody)
    kElsewhere,  // another machine's process: it cannot be seen from here, so it counts as alive
  };

  // This process.
  static SProcessId Self();
  // Another process of this machine by pid; empty when it does not run.
  static SProcessId Of(long long pid);
  static EState StateOf(const SProcessId& process);
  // "pid [N] on [host]".
  static std::string Text(const SProcessId& process);
};
