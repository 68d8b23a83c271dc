#include "net/ServiceDirectory.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>

#include "core/Mutex.h"
#include "core/RunFolder.h"
#include "log/LogSink.h"
#include "net/ZnsFrame.h"
#include "sync/ZnNamedMutex.h"

namespace {

CMutex g_mutex;
std::string g_path DR_GUARDED_BY(g_mutex);

// How long (requested, so scaled) publishing or removing waits for the
// per-name mutex before it goes on without it.
constexpr unsigned long kNameLockMs = 10000;
// An entry is a few short lines; anything longer is not one.
constexpr size_t kMaxEntryBytes = 1024;

std::string Errno(const char* what, const std::string& path) {
  return std::string(what) + " [" + path + "]: " + strerror(errno);
}

// True when the folder at path may hold entries: a real folder of this
// user that no one else can write. Only a publisher that has just made the
// folder narrows a mode open to reading by others to 0700: a reader
// changes nothing of a folder it finds.
bool CheckFolder(const std::string& path, bool narrow, std::string& error) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) {
    error = Errno("cannot examine service folder", path);
    return false;
  }
  if (!S_ISDIR(st.st_mode)) {
    error = "service folder [" + path + "] is not a folder";
    return false;
  }
  if (st.st_uid != geteuid()) {
    error = "service folder [" + path + "] belongs to user " + std::to_string(st.st_uid);
    return false;
  }
  if (st.st_mode & (S_IWGRP | S_IWOTH)) {
    char mode[16];
    snprintf(mode, sizeof(mode), "%o", static_cast<unsigned>(st.st_mode & 07777));
    error = "service folder [" + path + "] can be written by others (mode " + mode + ")";
    return false;
  }
  if (narrow && (st.st_mode & 07777) != 0700 && chmod(path.c_str(), 0700) != 0) {
    error = Errno("cannot make service folder private", path);
    return false;
  }
  return true;
}

// Creates the folder (and the nested folders of a long entry name) 0700.
bool PrepareFolders(const std::string& root, const std::string& entryName, std::string& error) {
  const size_t slash = root.rfind('/');
  if (slash != std::string::npos && slash > 0) CRunFolder::MakeDirs(root.substr(0, slash));
  bool made = mkdir(root.c_str(), 0700) == 0;
  if (!made && errno != EEXIST) {
    error = Errno("cannot create service folder", root);
    return false;
  }
  if (!CheckFolder(root, made, error)) return false;
  for (size_t pos = entryName.find('/'); pos != std::string::npos; pos = entryName.find('/', pos + 1)) {
    const std::string sub = root + "/" + entryName.substr(0, pos);
    if (mkdir(sub.c_str(), 0700) != 0 && errno != EEXIST) {
      error = Errno("cannot create service folder", sub);
      return false;
    }
  }
  return true;
}

bool WriteAll(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

bool ParseNumber(const std::string& text, long long lo, long long hi, long long& value) {
  if (text.empty() || text.size() > 19) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  value = strtoll(text.c_str(), nullptr, 10);
  return value >= lo && value <= hi;
}

bool ParseEntry(const std::string& text, SZnsServiceEntry& entry, std::string& error) {
  SZnsServiceEntry parsed;
  bool havePort = false, havePid = false;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(pos, end - pos);
    pos = end + 1;
    if (line.empty()) continue;
    const size_t eq = line.find('=');
    const std::string key = line.substr(0, eq);
    const std::string value = eq == std::string::npos ? std::string() : line.substr(eq + 1);
    long long n = 0;
    if (key == "port") {
      if (!ParseNumber(value, 1, 65535, n)) break;
      parsed.port = static_cast<int>(n);
      havePort = true;
    } else if (key == "pid") {
      if (!ParseNumber(value, 1, INT32_MAX, n)) break;
      parsed.pid = n;
      havePid = true;
    } else if (key == "nonce") {
      parsed.nonce = value;
    } else if (key == "type") {
      if (!ParseNumber(value, 0, INT32_MAX, n)) break;
      parsed.type = static_cast<int>(n);
    }
    // Other keys belong to later versions and are skipped.
  }
  const bool nonceOk =
      parsed.nonce.size() == kZnsNonceChars && parsed.nonce.find_first_not_of("0123456789abcdef") == std::string::npos;
  if (pos < text.size() || !havePort || !havePid || !nonceOk) {
    error = "malformed service entry";
    return false;
  }
  entry = parsed;
  return true;
}

std::string Serialise(const SZnsServiceEntry& entry) {
  return "port=" + std::to_string(entry.port) + "\npid=" + std::to_string(entry.pid) + "\nnonce=" + entry.nonce +
         "\ntype=" + std::to_string(entry.type) + "\n";
}

// Serialises publishing and removing under one service name across
// processes; names its own lock file, apart from any other named mutex.
class CNameLock {
 public:
  explicit CNameLock(const std::string& service) : m_mutex("DRServiceEntry|" + service) {
    m_held = m_mutex.lock(kNameLockMs);
  }
  ~CNameLock() {
    if (m_held) m_mutex.unlock();
  }
  bool Held() const { return m_held; }

 private:
  ZnNamedMutex m_mutex;
  bool m_held;
};

}  // namespace

std::string CZnsServiceDirectory::Path() {
  CMutexLock lk(g_mutex);
  if (!g_path.empty()) return g_path;
  const char* v = getenv("DR_SERVICE_DIR");
  if (v && *v) return v;
  return "/tmp/drorch-services-" + std::to_string(geteuid());
}

void CZnsServiceDirectory::SetPath(const std::string& path) {
  CMutexLock lk(g_mutex);
  g_path = path;
}

std::string CZnsServiceDirectory::EntryName(const std::string& service) {
  // The named mutex's encoding, with our own suffix: ".lock" would invite
  // taking these files for lock files.
  std::string name = ZnNamedMutex::EncodeName(service);
  const std::string lockSuffix = ".lock";
  name.resize(name.size() - lockSuffix.size());
  return name + ".svc";
}

std::string CZnsServiceDirectory::EntryPath(const std::string& service) { return Path() + "/" + EntryName(service); }

bool CZnsServiceDirectory::Publish(const std::string& service, const SZnsServiceEntry& entry, std::string& error) {
  const std::string root = Path();
  const std::string name = EntryName(service);
  if (!PrepareFolders(root, name, error)) return false;
  const std::string final = root + "/" + name;
  const std::string temp = final + ".tmp-" + std::to_string(getpid()) + "-" + NewNonce().substr(0, 8);
  CNameLock lock(service);
  if (!lock.Held()) {
    // The rename below is atomic anyway; the lock only keeps a quitting
    // server from removing this entry, and a quit checks the nonce first.
    CLogSink::Instance().Write(3, "CZnsServiceDirectory::Publish", "Publishing [%s] without its name lock",
                               service.c_str());
  }
  int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) {
    error = Errno("cannot create service entry", temp);
    return false;
  }
  // The umask may only narrow the mode, but say it plainly.
  std::string why;
  if (fchmod(fd, 0600) != 0 || !WriteAll(fd, Serialise(entry))) why = Errno("cannot write service entry", temp);
  if (close(fd) != 0 && why.empty()) why = Errno("cannot write service entry", temp);
  if (why.empty() && rename(temp.c_str(), final.c_str()) != 0) why = Errno("cannot publish service entry", final);
  if (!why.empty()) {
    unlink(temp.c_str());
    error = why;
    return false;
  }
  return true;
}

EStoreResult CZnsServiceDirectory::Lookup(const std::string& service, SZnsServiceEntry& entry, std::string& error) {
  const std::string root = Path();
  struct stat st;
  if (lstat(root.c_str(), &st) != 0 && errno == ENOENT) return EStoreResult::kMissing;
  if (!CheckFolder(root, false, error)) return EStoreResult::kFailed;
  const std::string path = root + "/" + EntryName(service);
  // Never blocks: a FIFO or device planted under an entry's name is refused
  // below instead of holding the caller in open().
  int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT || errno == ENOTDIR) return EStoreResult::kMissing;
    error = Errno("cannot open service entry", path);
    return EStoreResult::kFailed;
  }
  std::string text;
  char buf[kMaxEntryBytes + 1];
  ssize_t n = 0;
  bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == geteuid();
  while (ok && (n = read(fd, buf, sizeof(buf))) != 0) {
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 || text.size() + static_cast<size_t>(n) > kMaxEntryBytes) ok = false;
    if (ok) text.append(buf, static_cast<size_t>(n));
  }
  close(fd);
  if (!ok) {
    error = "service entry [" + path + "] is not a small file of this user";
    return EStoreResult::kFailed;
  }
  if (!ParseEntry(text, entry, error)) {
    error += " [" + path + "]";
    return EStoreResult::kFailed;
  }
  return EStoreResult::kOk;
}

bool CZnsServiceDirectory::Remove(const std::string& service, const std::string& nonce) {
  CNameLock lock(service);
  if (!lock.Held()) {
    // Without the lock a newer server's entry could be removed in the gap
    // between the check and the unlink; a stale entry is the smaller harm.
    CLogSink::Instance().Write(0, "CZnsServiceDirectory::Remove", "Leaving entry of [%s]: its name lock is busy",
                               service.c_str());
    return false;
  }
  SZnsServiceEntry current;
  std::string error;
  EStoreResult r = Lookup(service, current, error);
  if (r == EStoreResult::kMissing) return true;
  if (r == EStoreResult::kOk && current.nonce != nonce) return true;
  // A malformed entry under our name is removed as well: nobody can use it.
  const std::string path = EntryPath(service);
  if (unlink(path.c_str()) != 0 && errno != ENOENT) {
    CLogSink::Instance().Write(0, "CZnsServiceDirectory::Remove", "Cannot remove entry [%s]: [%s]", path.c_str(),
                               strerror(errno));
    return false;
  }
  return true;
}

std::string CZnsServiceDirectory::NewNonce() {
  unsigned char bytes[kZnsNonceChars / 2];
  size_t got = 0;
  while (got < sizeof(bytes)) {
    ssize_t n = getrandom(bytes + got, sizeof(bytes) - got, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  if (got < sizeof(bytes)) {
    // No kernel randomness: still unique per server (address, time, pid).
    uint64_t seed = static_cast<uint64_t>(getpid()) ^ reinterpret_cast<uintptr_t>(&got) ^
                    static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    for (unsigned char& b : bytes) b = static_cast<unsigned char>((seed = seed * 6364136223846793005ULL + 1) >> 56);
  }
  static const char* hex = "0123456789abcdef";
  std::string out;
  for (unsigned char b : bytes) {
    out += hex[b >> 4];
    out += hex[b & 15];
  }
  return out;
}
