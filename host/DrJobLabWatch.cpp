#include "DrJobLabWatch.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include "DrJobStates.h"
#include "db/DBConnection.h"
#include "db/DBWriterQueue.h"
#include "log/EvEvent.h"

namespace {

// How often the path is looked at whatever the folders report, in real
// time: the file is moved in real time, whatever the clock's scale.
const int kCheckEveryMs = 100;

// The changes of a folder's names that may put another file at the path.
const uint32_t kNameChanges = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF;

}  // namespace

bool CLabWatch::Start(const std::string& path, long long jobId, std::string& error) {
  if (m_watcher.joinable()) return true;
  m_path = path;
  m_jobId = jobId;
  // A connection of its own, opened now: what it opened is the file the run
  // holds, and it is still open to carry the writes when the path changes.
  m_connection.reset(new CDBConnection(path));
  if (!m_connection->IsOpen()) {
    error = "cannot open the lab [" + path + "] to watch it: " + m_connection->LastErrorText();
    m_connection.reset();
    return false;
  }
  // Read once, so that SQLite has its -wal and -shm open; named after the
  // file it opened (a link's target). While this connection stays open no
  // other connection's close removes them.
  if (m_connection->Exec("SELECT count(*) FROM sqlite_master") != DB_OK) {
    error = "cannot read the lab [" + path + "] to watch it: " + m_connection->LastErrorText();
    m_connection.reset();
    return false;
  }
  const char* name = sqlite3_db_filename(m_connection->Handle(), "main");
  if (name != nullptr && *name != '\0') {
    m_wal = SideFile(sqlite3_filename_wal(name));
    m_shm = SideFile(std::string(name) + "-shm");
  }
  if (pipe2(m_stopPipe, O_CLOEXEC) != 0) {
    error = std::string("cannot watch the lab [") + path + "]: " + strerror(errno);
    m_connection.reset();
    return false;
  }
  // Without the folders' reports (no inotify) the watcher only looks a few
  // times a second.
  m_notify = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
  if (m_notify >= 0) {
    WatchFolderOf(path);
    if (name != nullptr && *name != '\0' && path != name) WatchFolderOf(name);
  }
  m_watcher = std::thread([this] { Watch(); });
  return true;
}

void CLabWatch::WatchFolderOf(const std::string& file) {
  const size_t slash = file.find_last_of('/');
  const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : file.substr(0, slash);
  inotify_add_watch(m_notify, folder.c_str(), kNameChanges);
}

void CLabWatch::Stop() {
  if (m_watcher.joinable()) {
    const char wake = 1;
    while (write(m_stopPipe[1], &wake, 1) < 0 && errno == EINTR) {
    }
    m_watcher.join();
  }
  CloseDescriptors();
}

void CLabWatch::CloseDescriptors() {
  for (int* fd : {&m_notify, &m_stopPipe[0], &m_stopPipe[1]}) {
    if (*fd >= 0) close(*fd);
    *fd = -1;
  }
}

bool CLabWatch::Here() const { return m_connection == nullptr || m_connection->StillAtItsPath(); }

void CLabWatch::Watch() {
  for (;;) {
    struct pollfd wait[2] = {{m_stopPipe[0], POLLIN, 0}, {m_notify, POLLIN, 0}};
    const int ready = poll(wait, m_notify >= 0 ? 2 : 1, kCheckEveryMs);
    if (ready > 0 && (wait[0].revents & POLLIN) != 0) return;
    if (ready > 0 && wait[1].revents != 0) {
      // What changed does not matter, only what the path names now.
      char reports[4096];
      while (read(m_notify, reports, sizeof(reports)) > 0) {
      }
    }
    if (!Here()) End();
  }
}

void CLabWatch::End() {
  // First of all (DrJobLabWatch.h): whatever opens the path from here on
  // meets neither this job's WAL nor, in this process, a new connection.
  CDBConnection::RefuseNewConnections();
  RemoveIfOurs(m_wal);
  RemoveIfOurs(m_shm);
  if (m_connection != nullptr) m_connection->EmptyWal();
  struct stat st;
  const bool gone = stat(m_path.c_str(), &st) != 0 && errno == ENOENT;
  EvDebug(m_jobId).Error("LabWatch", "The lab [%s] was %s while DR job [%lld] ran: drjob ends at once", m_path.c_str(),
                         gone ? "moved away or removed" : "replaced by another file", m_jobId);
  if (m_connection != nullptr) {
    // No write of this process starts from here: the turn is kept until the
    // process ends. A writer that outlasts the wait is left to its end; the
    // checkpoint then takes what was committed.
    CDBWriterQueue::ForPath(m_path)->Enter(CDBConnection::BusyTimeoutMs());
    m_connection->EmptyWal();
  }
  fprintf(stderr,
          "drjob: DR job [%lld]: the lab [%s] was %s while the job ran; drjob ends at once, as a crash would: the job "
          "is continued by a run of the file that holds it with --job-id %lld\n",
          m_jobId, m_path.c_str(), gone ? "moved away or removed" : "replaced by another file", m_jobId);
  fflush(stdout);
  _exit(CDrJobStates::kExitLabGone);
}

CLabWatch::SSideFile CLabWatch::SideFile(const std::string& path) {
  SSideFile file;
  file.path = path;
  struct stat st;
  if (lstat(path.c_str(), &st) == 0) {
    file.dev = st.st_dev;
    file.ino = st.st_ino;
    file.known = true;
  }
  return file;
}

void CLabWatch::RemoveIfOurs(const SSideFile& file) {
  struct stat st;
  if (file.known && lstat(file.path.c_str(), &st) == 0 && st.st_dev == file.dev && st.st_ino == file.ino) {
    unlink(file.path.c_str());
  }
}
