// The service directory: where a session server publishes the port it
// listens on, under its service name, so that a client on this machine can
// find it.
//
// One folder for the whole machine, private to the user: the last folder set
// (SetPath), else $DR_SERVICE_DIR, else /tmp/drorch-services-<uid>. It is
// created 0700 and used only when it is a real folder (not a link) owned by
// this user that no one else can write; a wider mode without write for
// others is narrowed to 0700. Each service has one entry file, 0600, named by
// the named mutex's path-safe encoding of the service name (ZnNamedMutex::
// EncodeName: lower case, every byte outside [a-z0-9_-] escaped), so names
// compare without regard to case and "DRSrvc|../../x" stays a plain file in
// the folder. Long names become nested folders, made 0700 too.
//
// An entry holds the port, the publishing process id, a random nonce (which
// the client repeats in its hello, so that a server refuses a client that
// read someone else's entry) and the session type:
//
//   port=40123
//   pid=8812
//   nonce=3f1c...(32 hex digits)
//   type=4
//
// Entries are written whole or not at all (a temporary file renamed into
// place) and removed only by the server whose nonce they hold. Publishing and
// removing an entry take a named mutex per service name, so a server that
// quits cannot remove the entry a newer server of the same name has just
// published. Thread safety: every function may be called from any thread.
#pragma once

#include <stdint.h>

#include <string>

#include "core/StoreResult.h"

struct SZnsServiceEntry {
  int port = 0;
  int64_t pid = 0;
  std::string nonce;
  int type = 0;
};

class CZnsServiceDirectory {
 public:
  static std::string Path();
  // Points the process at another folder (tests; empty: back to the
  // variable or the default).
  static void SetPath(const std::string& path);

  // The entry file of a service, relative to the folder.
  static std::string EntryName(const std::string& service);
  // The entry file's full path.
  static std::string EntryPath(const std::string& service);

  // Writes the entry (replacing one of the same name). False with the reason
  // when the folder is unusable or the file cannot be written.
  static bool Publish(const std::string& service, const SZnsServiceEntry& entry, std::string& error);
  // kOk with the entry; kMissing when there is none (or no folder yet);
  // kFailed with the reason when the folder is unusable or the entry
  // unreadable or malformed.
  static EStoreResult Lookup(const std::string& service, SZnsServiceEntry& entry, std::string& error);
  // Removes the entry when it still holds this nonce; true when it is gone
  // or belongs to someone else now.
  static bool Remove(const std::string& service, const std::string& nonce);

  // 32 random hexadecimal digits.
  static std::string NewNonce();
};
