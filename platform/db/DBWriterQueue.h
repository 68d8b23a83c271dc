// The writers of one process to one database file, in the order they asked.
//
// SQLite lets one connection write at a time and makes the others retry on
// a back-off of 1 to 100 ms, while the write transactions of a DR job last
// a fraction of a millisecond: under load most of a writer's wait was its
// own sleep. The connections of a process therefore queue for each other
// here before they take SQLite's write lock, and each is woken the moment
// the one before it ends. Writers of other processes still meet on SQLite's
// lock (CDBConnection's busy handler).
//
// Thread-safe. Enter and Leave pair on one thread (the connection's).
#pragma once

#include <condition_variable>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/Mutex.h"

class CDBWriterQueue {
 public:
  // The queue of the file (one per path for the life of the process).
  static std::shared_ptr<CDBWriterQueue> ForPath(const std::string& path);
  // The queues of every file this process has opened, by the file's path.
  static std::map<std::string, std::shared_ptr<CDBWriterQueue>> All();

  // Waits for every writer that asked before, at most timeoutMs of real
  // time: false when the time ran out (the caller's turn is given up).
  bool Enter(int timeoutMs);
  void Leave();
  // Writers waiting for their turn (not the one writing).
  int Waiting();

 private:
  CMutex m_mutex;
  std::condition_variable m_turn;
  // Tickets: the next to hand out, and the one whose turn it is. A writer
  // that gave up leaves its ticket in m_abandoned, skipped when reached.
  unsigned long long m_next DR_GUARDED_BY(m_mutex) = 0;
  unsigned long long m_serving DR_GUARDED_BY(m_mutex) = 0;
  bool m_busy DR_GUARDED_BY(m_mutex) = false;
  std::vector<unsigned long long> m_abandoned DR_GUARDED_BY(m_mutex);

  void SkipAbandoned() DR_REQUIRES(m_mutex);
};
