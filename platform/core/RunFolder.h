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
  // True when the run folder is a folder this process can write (created
  // when missing); false with one line saying why.
  static bool CheckPath(std::string& error);

  // Folder of named-mutex lock files, shared by the DR jobs of one user on
  // this machine: the last one set, else $DR_LOCK_DIR, else
  // "/tmp/drorch-locks-<uid>". Not created here: OpenLockFolder does.
  static std::string LockPath();
  static void SetLockPath(const std::string& path);
  // True when LockPath is the per-user default (neither set nor given by
  // $DR_LOCK_DIR): a refusal of it can point the user to $DR_LOCK_DIR.
  static bool LockPathIsDefault();
  // Opens the lock folder at path for openat, creating it 0700 (its missing
  // parents 0755) when missing. Every step of the path is opened without
  // following a link, so a link anywhere on it is refused. Only a real
  // folder of this user that nobody else can write is used: a link on the
  // path, another file, a folder of another user or one others can write
  // gives -1 and one line saying why.
  static int OpenLockFolder(const std::string& path, std::string& error);

  // mkdir -p; true when the folder exists afterwards.
  static bool MakeDirs(const std::string& path);
};
