// The lab a DR job runs on must stay at its path for the whole run. A lab
// moved away, removed or replaced under a running job would split it: the
// connections already open write on into the file they opened, while any
// connection opened after finds nothing there (only seed creates a
// database), so the job's record and its rows would end up half in one
// place, half nowhere. The run is therefore ended at once, as a crash would
// end it, with one line and its own exit code; the job is continued by a run
// of the file that holds it, with its --job-id.
//
// Before it ends the process, this process's writes are carried into the
// file it opened (a checkpoint through a connection of its own, while it
// holds this process's turn to write): SQLite keeps them beside the old
// path, where they would be lost to the moved file and could be taken for
// part of a new database made there. A moved or removed lab's -wal and -shm
// are then removed from the old path, so nothing is left there.
//
// Threads: Start, Stop, Here and End on the run's thread, End also on the
// watcher's. The watcher is a thread of its own, started by Start after the
// run's signals are blocked, so it takes none of them.
#pragma once

#include <condition_variable>
#include <memory>
#include <string>
#include <thread>

#include "core/Mutex.h"

class CDBConnection;

class CLabWatch {
 public:
  CLabWatch() = default;
  ~CLabWatch() { Stop(); }
  CLabWatch(const CLabWatch&) = delete;
  CLabWatch& operator=(const CLabWatch&) = delete;

  // Watches the lab at path (the file there now) for job jobId, checking a
  // few times a second in real time. False with the reason when the lab
  // cannot be opened to watch it.
  bool Start(const std::string& path, long long jobId, std::string& error);
  // Stops the watcher; Here still tells what became of the lab.
  void Stop();
  // True while the path names the file the run opened.
  bool Here() const;
  // Ends the process: the line naming what happened to the lab, this
  // process's writes carried into the file it opened, exit code
  // CDrJobCommands::kExitLabGone.
  [[noreturn]] void End();

 private:
  void Watch();

  std::string m_path;
  long long m_jobId = 0;
  std::unique_ptr<CDBConnection> m_connection;
  CMutex m_mutex;
  std::condition_variable m_wake;
  bool m_stop DR_GUARDED_BY(m_mutex) = false;
  std::thread m_watcher;
};
