// A run that waits on a child job another DR job launched (a backup, copy
// or sync that job left running, or suspended with it) may wait as long as
// that job stays away, and its own output says nothing meanwhile. The job
// tells the job journal each time it begins such a wait; this prints one
// line per child: the child, its state, and the DR job whose phase rows name
// it (a sync's record names no parent: the task manager starts it), so the
// operator knows which job to run or kill. A child the waiting job's own
// rows name (a restart waiting on what its earlier attempt left) gets no
// line; one that no DR job's rows name is looked at again at its next wait.
//
// Threads: Report is called on the job's worker threads; the look-up and
// the line run under the lock, so two waits on one child print once.
#pragma once

#include <stdint.h>

#include <functional>
#include <set>
#include <string>

#include "core/Mutex.h"

struct SJobRecord;

class CChildWaitLines {
 public:
  // print takes a line without "drjob: " and its newline.
  using Print = std::function<void(const std::string& line)>;
  CChildWaitLines(const std::string& dbPath, Print print);

  // DR job jobId begins a wait on the child job childJobId.
  void Report(int64_t jobId, int64_t childJobId);

  // What a child job is, for a line: "sync job", "backup job", ...,
  // "workflow job", or "job" for one the job simulator does not run.
  static std::string KindOf(int64_t jobId, const SJobRecord& record);

 private:
  const std::string m_db;  // as a shell reads it back
  const Print m_print;
  CMutex m_mutex;
  // The children that got their line, or were found to be the job's own.
  std::set<int64_t> m_done DR_GUARDED_BY(m_mutex);
};
