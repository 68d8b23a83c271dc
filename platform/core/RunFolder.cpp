#include "core/RunFolder.h"

#include <errno.h>
#include <stdlib.h>
#include <sys/stat.h>

#include "core/Mutex.h"

namespace {

CMutex g_mutex;
std::string g_runPath DR_GUARDED_BY(g_mutex);
std::string g_lockPath DR_GUARDED_BY(g_mutex);

std::string FromEnv(const char* name, const char* fallback) {
  const char* v = getenv(name);
  return (v && *v) ? std::string(v) : std::string(fallback);
}

}  // namespace

bool CRunFolder::MakeDirs(const std::string& path) {
  if (path.empty()) return false;
  std::string cur;
  size_t pos = 0;
  while (pos != std::string::npos) {
    pos = path.find('/', pos + 1);
    cur = path.substr(0, pos);
    if (cur.empty()) continue;
    if (mkdir(cur.c_str(), 0755) != 0 && errno != EEXIST) return false;
  }
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string CRunFolder::Path() {
  CMutexLock lk(g_mutex);
  if (g_runPath.empty()) {
    g_runPath = FromEnv("DR_RUN_DIR", "./run");
    MakeDirs(g_runPath);
  }
  return g_runPath;
}

void CRunFolder::Set(const std::string& path) {
  CMutexLock lk(g_mutex);
  g_runPath = path;
  MakeDirs(g_runPath);
}

std::string CRunFolder::File(const std::string& name) { return Path() + "/" + name; }

std::string CRunFolder::LockPath() {
  CMutexLock lk(g_mutex);
  if (g_lockPath.empty()) {
    g_lockPath = FromEnv("DR_LOCK_DIR", "/tmp/drorch-locks");
    MakeDirs(g_lockPath);
  }
  return g_lockPath;
}

void CRunFolder::SetLockPath(const std::string& path) {
  CMutexLock lk(g_mutex);
  g_lockPath = path;
  MakeDirs(g_lockPath);
}
