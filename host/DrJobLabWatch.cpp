#include "DrJobLabWatch.h"

#include <errno.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>

#include "DrJobCommands.h"
#include "db/DBConnection.h"
#include "db/DBWriterQueue.h"
#include "log/EvEvent.h"

namespace {

// How often the path is looked at, in real time: the file is moved in real
// time, whatever the clock's scale.
const int kCheckEveryMs = 100;

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
  {
    CMutexLock lk(m_mutex);
    m_stop = false;
  }
  m_watcher = std::thread([this] { Watch(); });
  return true;
}

void CLabWatch::Stop() {
  if (!m_watcher.joinable()) return;
  {
    CMutexLock lk(m_mutex);
    m_stop = true;
  }
  m_wake.notify_all();
  m_watcher.join();
}

bool CLabWatch::Here() const { return m_connection == nullptr || m_connection->StillAtItsPath(); }

void CLabWatch::Watch() {
  CMutexLock lk(m_mutex);
  while (!m_stop) {
    m_wake.wait_for(lk.Native(), std::chrono::milliseconds(kCheckEveryMs));
    if (!m_stop && !Here()) End();
  }
}

void CLabWatch::End() {
  struct stat st;
  const bool gone = stat(m_path.c_str(), &st) != 0 && errno == ENOENT;
  EvDebug(m_jobId).Error("LabWatch", "The lab [%s] was %s while DR job [%lld] ran: drjob ends at once", m_path.c_str(),
                         gone ? "moved away or removed" : "replaced by another file", m_jobId);
  fprintf(stderr,
          "drjob: DR job [%lld]: the lab [%s] was %s while the job ran; drjob ends at once, as a crash would: the job "
          "is continued by a run of the file that holds it with --job-id %lld\n",
          m_jobId, m_path.c_str(), gone ? "moved away or removed" : "replaced by another file", m_jobId);
  fflush(stdout);
  if (m_connection != nullptr) {
    // No write of this process starts from here: the turn is kept until the
    // process ends. A writer that outlasts the wait is left to its end; the
    // checkpoint then takes what was committed.
    const bool turn = CDBWriterQueue::ForPath(m_path)->Enter(CDBConnection::BusyTimeoutMs());
    int logFrames = 0;
    int copied = 0;
    const int rc = sqlite3_wal_checkpoint_v2(m_connection->Handle(), nullptr, SQLITE_CHECKPOINT_TRUNCATE,
                                             &logFrames, &copied);
    // Everything is in the file the run opened: what SQLite kept beside its
    // old name (the link's target when the path is a link) holds nothing of
    // it and goes, unless another file stands there now, whose they may be.
    const char* name = sqlite3_db_filename(m_connection->Handle(), "main");
    if (turn && rc == SQLITE_OK && name != nullptr && *name != '\0' && stat(name, &st) != 0 && errno == ENOENT) {
      unlink(sqlite3_filename_wal(name));
      unlink((std::string(name) + "-shm").c_str());
    }
  }
  _exit(CDrJobCommands::kExitLabGone);
}
