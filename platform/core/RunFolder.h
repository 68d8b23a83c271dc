// The run folder holds what one DR job process leaves behind: its log, its
// settings store and (later) the embedded management database.
#pragma once

#include <string>

class CRunFolder {
 public:
  // The folder in use: the last one set, else $DR_RUN_DIR, else "./run".
  // Created on first use.
  static std::string Path();
  // Points the process at another run folder (tests, the host's --run flag).
  static void Set(const std::string& path);
  // Path of a file inside the run folder.
  static std::string File(const std::string& name);

  // Host-wide folder of named-mutex lock files, shared by every DR job on this
  // machine: the last one set, else $DR_LOCK_DIR, else "/tmp/drorch-locks".
  static std::string LockPath();
  static void SetLockPath(const std::string& path);

  // mkdir -p; true when the folder exists afterwards.
  static bool MakeDirs(const std::string& path);
};
