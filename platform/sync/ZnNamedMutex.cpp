#include "sync/ZnNamedMutex.h"

#include <errno.h>
#include <fcntl.h>
#include <stdint.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

#include "core/RunFolder.h"
#include "log/LogSink.h"
#include "core/Mutex.h"
#include "time/PlatformClock.h"

namespace {

// How often a thread retries a lock file another process holds.
constexpr std::chrono::microseconds kFileRetry(2000);
// How long (requested, so scaled) a thread waits before it tries again to
// open a lock file it could not open.
constexpr uint64_t kOpenRetryMs = 1000;
// Longest path component we write; longer encodings become nested folders.
constexpr size_t kMaxComponent = 200;

}  // namespace

struct ZnNamedMutex::SGate {
  CMutex mutex;
  std::condition_variable cv;
  // The holding thread and its recursion count; -1 while the holder polls
  // the lock file.
  std::thread::id owner DR_GUARDED_BY(mutex);
  int count DR_GUARDED_BY(mutex) = 0;
  int fd DR_GUARDED_BY(mutex) = -1;
  // Set before the gate is shared, then only read: the lock folder, the
  // file's name inside it, and the two joined.
  std::string folder;
  std::string name;
  std::string path;
  ~SGate() {
    if (fd >= 0) close(fd);
  }
};

std::string ZnNamedMutex::EncodeName(const std::string& name) {
  // Lower case first (names ignore case), then every byte outside
  // [a-z0-9_-] as %XX. '.', '/' and '%' are always escaped, so the result
  // never climbs out of the folder and "a/b" stays apart from "a_b".
  static const char* hex = "0123456789ABCDEF";
  std::string enc;
  for (unsigned char c : name) {
    if (c >= 'A' && c <= 'Z') c = static_cast<unsigned char>(c - 'A' + 'a');
    if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '-') {
      enc += static_cast<char>(c);
    } else {
      enc += '%';
      enc += hex[c >> 4];
      enc += hex[c & 15];
    }
  }
  // Split long encodings into folders "<chunk>.d/"; the file always ends in
  // ".lock". '.' never appears unescaped, so the suffixes cannot collide.
  std::string path;
  while (enc.size() > kMaxComponent) {
    path += enc.substr(0, kMaxComponent) + ".d/";
    enc.erase(0, kMaxComponent);
  }
  return path + enc + ".lock";
}

int ZnNamedMutex::OpenLockFile(const std::string& folder, const std::string& name, std::string& error) {
  int dir = CRunFolder::OpenLockFolder(folder, error);
  if (dir < 0) return -1;
  // Every step below the checked folder is opened without following a
  // link, so what is opened is what lies inside that folder.
  std::string where = folder;
  size_t start = 0;
  for (size_t slash = name.find('/'); slash != std::string::npos; slash = name.find('/', start)) {
    const std::string part = name.substr(start, slash - start);
    start = slash + 1;
    where += "/" + part;
    int sub = -1;
    if (mkdirat(dir, part.c_str(), 0700) == 0 || errno == EEXIST) {
      sub = openat(dir, part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    }
    if (sub < 0) error = "cannot open lock folder [" + where + "]: " + strerror(errno);
    close(dir);
    if (sub < 0) return -1;
    dir = sub;
  }
  where += "/" + name.substr(start);
  // Non-blocking, so a FIFO in the file's place cannot hold the open.
  const int fd = openat(dir, name.c_str() + start, O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
  const int openError = errno;
  close(dir);
  if (fd < 0) {
    error = "cannot open [" + where + "]: " + strerror(openError);
    return -1;
  }
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    error = "[" + where + "] is not a regular file";
    return -1;
  }
  return fd;
}

bool ZnNamedMutex::CanOpen(const std::string& name, std::string& error) {
  const int fd = OpenLockFile(CRunFolder::LockPath(), EncodeName(name), error);
  if (fd < 0) return false;
  close(fd);
  return true;
}

ZnNamedMutex::ZnNamedMutex(const char* name) : ZnNamedMutex(std::string(name ? name : "")) {}

ZnNamedMutex::ZnNamedMutex(const std::string& name)
    : m_name(name), m_gate(AcquireGate(CRunFolder::LockPath(), EncodeName(name))) {}

ZnNamedMutex::~ZnNamedMutex() { ReleaseGate(m_gate); }

namespace {
// Guards the gate map of AcquireGate and the release of a gate.
CMutex g_gatesMutex;
}

// One gate per lock file, shared by every ZnNamedMutex of that name in this
// process and freed with the last of them.
std::shared_ptr<ZnNamedMutex::SGate> ZnNamedMutex::AcquireGate(const std::string& folder, const std::string& name) {
  static auto* gates = new std::map<std::string, std::weak_ptr<SGate>>();
  const std::string path = folder + "/" + name;
  CMutexLock lk(g_gatesMutex);
  std::weak_ptr<SGate>& slot = (*gates)[path];
  std::shared_ptr<SGate> gate = slot.lock();
  if (!gate) {
    gate = std::make_shared<SGate>();
    gate->folder = folder;
    gate->name = name;
    gate->path = path;
    slot = gate;
  }
  // Forget slots whose gates are gone, so the map does not grow with names.
  for (auto it = gates->begin(); it != gates->end();) {
    it = it->second.expired() ? gates->erase(it) : std::next(it);
  }
  return gate;
}

void ZnNamedMutex::ReleaseGate(std::shared_ptr<SGate>& gate) {
  CMutexLock lk(g_gatesMutex);
  gate.reset();
}

// lock and unlock are this mutex's own operations: what they take is the
// gate and the lock file, which the analysis does not know to be this mutex.
bool ZnNamedMutex::lock() DR_NO_THREAD_SAFETY_ANALYSIS { return LockUntil(kWaitForever, false); }

bool ZnNamedMutex::lock(unsigned long ms) DR_NO_THREAD_SAFETY_ANALYSIS { return LockUntil(ms, true); }

bool ZnNamedMutex::LockUntil(unsigned long long ms, bool record) {
  CPlatformClock& clock = CPlatformClock::Instance();
  const std::thread::id me = std::this_thread::get_id();
  SGate& g = *m_gate;
  CMutexLock lk(g.mutex);
  if (g.count > 0 && g.owner == me) {
    ++g.count;
    return true;
  }

  // The in-process gate first, then the lock file, both within one deadline.
  auto deadline = clock.DeadlineFor(ms);
  auto gateFree = [&g]() DR_REQUIRES(g.mutex) { return g.count == 0; };
  EWaitResult r = record ? clock.WaitOn(lk.Native(), g.cv, ms, "ZnNamedMutex::lock", gateFree)
                         : clock.WaitUntil(lk.Native(), g.cv, deadline, "ZnNamedMutex::lock", gateFree);
  if (r != EWaitResult::Ready) return false;
  // Without its file nobody holds the mutex, and giving up would leave the
  // caller without it: say so once, then try again until the file opens, the
  // deadline passes or the thread is asked to stop.
  bool reported = false;
  while (g.fd < 0) {
    std::string error;
    g.fd = OpenLockFile(g.folder, g.name, error);
    if (g.fd >= 0) break;
    if (!reported) {
      CLogSink::Instance().Write(0, "ZnNamedMutex::lock", "Cannot open lock file [%s] for [%s]: [%s]. Retrying",
                                 g.path.c_str(), m_name.c_str(), error.c_str());
      reported = true;
    }
    // Not on the gate's condition variable: this wait must not swallow the
    // wake-up meant for a thread queued on the gate.
    lk.Unlock();
    std::mutex retryMutex;
    std::condition_variable retryCv;
    std::unique_lock<std::mutex> rlk(retryMutex);
    r = clock.WaitUntil(rlk, retryCv, std::min(deadline, clock.DeadlineFor(kOpenRetryMs)), "ZnNamedMutex::lock",
                        [] { return false; });
    rlk.unlock();
    lk.Lock();
    if (r != EWaitResult::Timeout || CPlatformClock::SteadyClock::now() >= deadline) return false;
    // Another thread may have opened the file and taken the gate meanwhile.
    r = clock.WaitUntil(lk.Native(), g.cv, deadline, "ZnNamedMutex::lock", gateFree);
    if (r != EWaitResult::Ready) return false;
  }
  // Claim the gate while polling the file, so threads of this process queue
  // on the condition variable rather than on the file.
  g.owner = me;
  g.count = -1;
  int fd = g.fd;
  lk.Unlock();
  std::mutex pollMutex;
  std::condition_variable pollCv;
  std::unique_lock<std::mutex> plk(pollMutex);
  r = clock.WaitUntil(plk, pollCv, deadline, "ZnNamedMutex::lock", [fd] { return flock(fd, LOCK_EX | LOCK_NB) == 0; },
                      kFileRetry);
  plk.unlock();
  lk.Lock();
  if (r != EWaitResult::Ready) {
    g.owner = std::thread::id();
    g.count = 0;
    lk.Unlock();
    g.cv.notify_one();
    return false;
  }
  g.count = 1;
  return true;
}

bool ZnNamedMutex::unlock() DR_NO_THREAD_SAFETY_ANALYSIS { return UnlockGate(); }

bool ZnNamedMutex::UnlockGate() {
  SGate& g = *m_gate;
  {
    CMutexLock lk(g.mutex);
    if (g.count <= 0 || g.owner != std::this_thread::get_id()) return false;
    if (--g.count > 0) return true;
    flock(g.fd, LOCK_UN);
    g.owner = std::thread::id();
  }
  g.cv.notify_one();
  return true;
}

int ZnNamedMutex::getLockCnt() const {
  SGate& g = *m_gate;
  CMutexLock lk(g.mutex);
  return (g.count > 0 && g.owner == std::this_thread::get_id()) ? g.count : 0;
}
