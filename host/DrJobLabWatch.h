// The lab a DR job runs on must stay at its path for the whole run. A lab
// moved away, removed or replaced under a running job would split it: the
// connections already open write on into the file they opened, while any
// connection opened after finds nothing there (only seed creates a
// database), so the job's record and its rows would end up half in one
// place, half nowhere. The run is therefore ended at once, as a crash would
// end it, with one line and its own exit code; the job is continued by a run
// of the file that holds it, with its --job-id.
//
// SQLite keeps the job's latest writes beside the path, in the -wal and
// -shm it finds by name: a process that opens a file put at the path takes
// them for that file's own, reads the job's rows in place of its own and, as
// the last to close it, writes them into it. So the watcher looks the moment
// the lab's folder reports a name made, removed or moved (and a few times a
// second whatever it reports, for what a folder does not tell: a link's
// target moved elsewhere), and when it sees another file (or none), before
// anything else: no connection of this process opens any more (it would
// open the other file), this job's -wal and -shm leave the path (those the
// run opened with, never another file's), so whatever opens the path from
// now on makes its own, and a checkpoint through the watcher's connection
// carries the job's writes into the file the run opened and empties the
// WAL. Only then the line, and a second checkpoint once this process's turn
// to write is held, for what committed in between.
//
// Threads: Start, Stop, Here and End on the run's thread, End also on the
// watcher's. The watcher is a thread of its own, started by Start after the
// run's signals are blocked, so it takes none of them.
#pragma once

#include <sys/types.h>

#include <memory>
#include <string>
#include <thread>

class CDBConnection;

class CLabWatch {
 public:
  CLabWatch() = default;
  ~CLabWatch() { Stop(); }
  CLabWatch(const CLabWatch&) = delete;
  CLabWatch& operator=(const CLabWatch&) = delete;

  // Watches the lab at path (the file there now) for job jobId. False with
  // the reason when the lab cannot be opened to watch it.
  bool Start(const std::string& path, long long jobId, std::string& error);
  // Stops the watcher; Here still tells what became of the lab.
  void Stop();
  // True while the path names the file the run opened.
  bool Here() const;
  // Ends the process: this process's writes carried into the file it
  // opened and its -wal and -shm gone from the path, the line naming what
  // happened to the lab, exit code CDrJobStates::kExitLabGone.
  [[noreturn]] void End();

 private:
  // A file beside the lab, as the run opened it.
  struct SSideFile {
    std::string path;
    dev_t dev = 0;
    ino_t ino = 0;
    bool known = false;
  };

  void Watch();
  // Asks the folder of the file to report its names' changes.
  void WatchFolderOf(const std::string& file);
  void CloseDescriptors();
  static SSideFile SideFile(const std::string& path);
  // Removes the side file when it is still the one the run opened with.
  static void RemoveIfOurs(const SSideFile& file);

  std::string m_path;
  long long m_jobId = 0;
  std::unique_ptr<CDBConnection> m_connection;
  SSideFile m_wal;
  SSideFile m_shm;
  // The folders' reports (-1 without), and the pipe Stop wakes the watcher
  // through.
  int m_notify = -1;
  int m_stopPipe[2] = {-1, -1};
  std::thread m_watcher;
};
