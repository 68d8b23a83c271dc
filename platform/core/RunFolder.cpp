#include "core/RunFolder.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/Mutex.h"

namespace {

CMutex g_mutex;
std::string g_runPath DR_GUARDED_BY(g_mutex);
std::string g_lockPath DR_GUARDED_BY(g_mutex);

std::string FromEnv(const char* name, const std::string& fallback) {
  const char* v = getenv(name);
  return (v && *v) ? std::string(v) : fallback;
}

std::string Errno(const char* what, const std::string& path) {
  return std::string(what) + " [" + path + "]: " + strerror(errno);
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

bool CRunFolder::CheckPath(std::string& error) {
  const std::string path = Path();
  struct stat st;
  if (stat(path.c_str(), &st) != 0) {
    error = Errno("cannot create the run folder", path);
    return false;
  }
  if (!S_ISDIR(st.st_mode)) {
    error = "the run folder [" + path + "] is not a folder";
    return false;
  }
  if (access(path.c_str(), W_OK | X_OK) != 0) {
    error = Errno("cannot write in the run folder", path);
    return false;
  }
  return true;
}

std::string CRunFolder::LockPath() {
  CMutexLock lk(g_mutex);
  if (g_lockPath.empty()) {
    // One folder per user: a folder every user shares would let one of them
    // plant links or hold the files that block the others' DR jobs.
    g_lockPath = FromEnv("DR_LOCK_DIR", "/tmp/drorch-locks-" + std::to_string(geteuid()));
  }
  return g_lockPath;
}

void CRunFolder::SetLockPath(const std::string& path) {
  CMutexLock lk(g_mutex);
  g_lockPath = path;
}

int CRunFolder::OpenLockFolder(const std::string& given, std::string& error) {
  if (given.empty()) {
    error = "no lock folder given";
    return -1;
  }
  // A trailing slash would make the kernel follow a link after all.
  std::string path = given;
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  const size_t slash = path.rfind('/');
  if (slash != std::string::npos && slash > 0) MakeDirs(path.substr(0, slash));
  // An existing entry of that name, a link included, is left as it is and
  // judged below.
  if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
    error = Errno("cannot create the lock folder", path);
    return -1;
  }
  // Opened without following a link, then judged by what was opened: no
  // gap in which the folder could be swapped for something else.
  const int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    const int openError = errno;
    struct stat st;
    if (lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
      error = "the lock folder [" + path + "] is a link; only a real folder is used";
    } else if (openError == ENOTDIR) {
      error = "the lock folder [" + path + "] is not a folder";
    } else {
      errno = openError;
      error = Errno("cannot open the lock folder", path);
    }
    return -1;
  }
  struct stat st;
  if (fstat(fd, &st) != 0) {
    error = Errno("cannot examine the lock folder", path);
  } else if (st.st_uid != geteuid()) {
    error = "the lock folder [" + path + "] belongs to user " + std::to_string(st.st_uid) + ", not to user " +
            std::to_string(geteuid());
  } else if (st.st_mode & (S_IWGRP | S_IWOTH)) {
    char mode[16];
    snprintf(mode, sizeof(mode), "%o", static_cast<unsigned>(st.st_mode & 07777));
    error = "the lock folder [" + path + "] can be written by others (mode " + mode + ")";
  } else {
    return fd;
  }
  close(fd);
  return -1;
}
