// A mutex named across processes: one holder thread at a time among all
// threads of all processes on this machine that use the same name and lock
// folder, with a recursion count per holder.
//
// Names compare without regard to letter case. Each name maps to a lock file
// in the lock folder (CRunFolder::LockPath: one per user unless DR_LOCK_DIR
// says otherwise, so the processes that share a mutex are those of one user
// or of one DR_LOCK_DIR) through an injective, path-safe encoding, and the
// file is held with flock, so the kernel releases the mutex when the holding
// process dies. Within a process, threads are
// excluded by an in-process gate per name: flock alone would let two threads
// sharing one descriptor both "hold" it.
#pragma once

#include <memory>
#include <string>

#include "core/ThreadSafety.h"

class DR_CAPABILITY("mutex") DR_REENTRANT_CAPABILITY ZnNamedMutex {
 public:
  explicit ZnNamedMutex(const std::string& name);
  explicit ZnNamedMutex(const char* name);
  ~ZnNamedMutex();
  ZnNamedMutex(const ZnNamedMutex&) = delete;
  ZnNamedMutex& operator=(const ZnNamedMutex&) = delete;

  // Waits without a limit. False only when the wait was cut short (stop
  // request, watchdog). A lock file that cannot be opened is logged once and
  // tried again every second (scaled) within the same wait.
  bool lock() DR_TRY_ACQUIRE(true);
  // Waits at most ms (scaled). True when the calling thread now holds it.
  bool lock(unsigned long ms) DR_TRY_ACQUIRE(true);
  // Ends one hold of the calling thread. A thread that does not hold the
  // mutex changes nothing and gets false.
  bool unlock() DR_RELEASE();
  // The calling thread's own recursion count (0 when it does not hold it).
  int getLockCnt() const;

  const std::string& getName() const { return m_name; }
  // Whether the lock file of a name can be opened (it is made when missing);
  // false with the reason. Tells a mutex another holds from one nobody can.
  static bool CanOpen(const std::string& name, std::string& error);
  // Lock-file path for a name (relative to the lock folder); exposed for tests.
  static std::string EncodeName(const std::string& name);

 private:
  struct SGate;
  static std::shared_ptr<SGate> AcquireGate(const std::string& folder, const std::string& name);
  // The lock file name (EncodeName) below folder, created 0600 when missing;
  // only a regular file reached without a link is opened. -1 with the
  // reason in error.
  static int OpenLockFile(const std::string& folder, const std::string& name, std::string& error);
  static void ReleaseGate(std::shared_ptr<SGate>& gate);
  bool LockUntil(unsigned long long ms, bool record);
  bool UnlockGate();

  std::string m_name;
  std::shared_ptr<SGate> m_gate;
};
