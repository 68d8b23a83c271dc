#include "core/RunFolder.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

#include "core/Mutex.h"

namespace {

CMutex g_mutex;
std::string g_runPath DR_GUARDED_BY(g_mutex);
std::string g_lockPath DR_GUARDED_BY(g_mutex);
bool g_lockPathDefault DR_GUARDED_BY(g_mutex) = false;

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
    const std::string fallback = "/tmp/drorch-locks-" + std::to_string(geteuid());
    g_lockPath = FromEnv("DR_LOCK_DIR", fallback);
    g_lockPathDefault = FromEnv("DR_LOCK_DIR", std::string()).empty();
  }
  return g_lockPath;
}

bool CRunFolder::LockPathIsDefault() {
  LockPath();
  CMutexLock lk(g_mutex);
  return g_lockPathDefault;
}

void CRunFolder::SetLockPath(const std::string& path) {
  CMutexLock lk(g_mutex);
  g_lockPath = path;
  g_lockPathDefault = false;
}

namespace {

// Opens the folder name inside dir without following a link. -1 with errno
// set when it cannot be opened.
int OpenFolderAt(int dir, const std::string& name) {
  return openat(dir, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

// True when the entry name inside dir is a symbolic link.
bool IsLinkAt(int dir, const std::string& name) {
  struct stat st;
  return fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode);
}

}  // namespace

int CRunFolder::OpenLockFolder(const std::string& given, std::string& error) {
  if (given.empty()) {
    error = "no lock folder given";
    return -1;
  }
  // A trailing slash would make the kernel follow a link after all.
  std::string path = given;
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  std::vector<std::string> parts;
  for (size_t at = 0; at < path.size();) {
    size_t slash = path.find('/', at);
    if (slash == std::string::npos) slash = path.size();
    const std::string part = path.substr(at, slash - at);
    if (!part.empty() && part != ".") parts.push_back(part);
    at = slash + 1;
  }
  // Every step from the root (or the working folder) on is opened without
  // following a link, the missing ones made on the way: a link anywhere on
  // the path, planted by someone who can write a folder above, could
  // otherwise lead the lock folder into that person's own folder.
  int fd = open(path[0] == '/' ? "/" : ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    error = Errno("cannot open the lock folder", path);
    return -1;
  }
  std::string reached;
  for (size_t i = 0; i < parts.size(); ++i) {
    const bool last = i + 1 == parts.size();
    reached = i == 0 && path[0] != '/' ? parts[i] : reached + "/" + parts[i];
    int next = OpenFolderAt(fd, parts[i]);
    // A missing step is made (the lock folder itself private); one made by
    // another process meanwhile serves as well.
    if (next < 0 && errno == ENOENT) {
      if (mkdirat(fd, parts[i].c_str(), last ? 0700 : 0755) != 0 && errno != EEXIST) {
        error = Errno("cannot create the lock folder", path);
        close(fd);
        return -1;
      }
      next = OpenFolderAt(fd, parts[i]);
    }
    const int openError = errno;
    if (next < 0) {
      const bool link = IsLinkAt(fd, parts[i]);
      struct stat st;
      // A folder of another user this one may not even read: say whose.
      const bool foreign = openError == EACCES && last &&
                           fstatat(fd, parts[i].c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode) &&
                           st.st_uid != geteuid();
      if (foreign) {
        error = "the lock folder [" + path + "] belongs to user " + std::to_string(st.st_uid) + ", not to user " +
                std::to_string(geteuid());
      } else if (link && last) {
        error = "the lock folder [" + path + "] is a link; only a real folder is used";
      } else if (link) {
        error = "the lock folder [" + path + "] lies below a link [" + reached +
                "]; only a path of real folders is used";
      } else if (openError == ENOTDIR && last) {
        error = "the lock folder [" + path + "] is not a folder";
      } else {
        errno = openError;
        error = Errno(openError == ENOTDIR ? "cannot create the lock folder" : "cannot open the lock folder", path);
      }
      close(fd);
      return -1;
    }
    close(fd);
    fd = next;
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
