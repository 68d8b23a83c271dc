// The volume relationships of the array lab, and the one owner of
// PLT_ArrayRelationships. A relationship lives on its destination array
// (control host id); reads find it by its destination path, breaks and
// re-syncs by its destination vserver and volume.
//
// Rules the calls follow:
// - a read answers the mirror state and the next relationship status of
//   the queue the test set, then keeps answering the last one it took
//   ("transferring", "idle": the first read sees transferring, every later
//   one idle);
// - a break turns "snapmirrored" into "broken-off"; a break of "broken-off"
//   is accepted and changes nothing; any other state refuses it;
// - a re-sync turns "broken-off" into "snapmirrored"; a re-sync of
//   "snapmirrored" is accepted and changes nothing; any other state refuses
//   it;
// - faults: every read fails; the next n breaks (or re-syncs) fail, or all
//   of them (kAlways).
// Each call is one write transaction, so concurrent callers (threads or
// processes) each take their own queued status and fault count.
#pragma once

#include <string>
#include <vector>

#include "array/ArrayCallJournal.h"
#include "core/StoreResult.h"

struct SRelationshipFaults {
  static constexpr int kAlways = -1;
  bool readFails = false;
  int breakFails = 0;   // calls still to fail; kAlways: every call
  int resyncFails = 0;
};

struct SLabRelationship {
  int controlHostId = 0;    // the destination array
  std::string sourcePath;   // "vserver:volume" on the source array
  std::string destPath;     // "vserver:volume"; reads address it
  // Breaks and re-syncs address these; empty: taken from the path.
  std::string destVServer;
  std::string destVolume;
  std::string mirrorState = "snapmirrored";
  std::string status = "idle";           // what the last read answered
  std::vector<std::string> queue;        // statuses the next reads take
  SRelationshipFaults faults;
};

class CArrayRelationshipStore {
 public:
  static constexpr const char* kTable = "PLT_ArrayRelationships";

  // Adds a relationship; false (logged) without an array id or destination
  // path, or when the array already has one of that path.
  static bool Add(const SLabRelationship& relationship);
  static EStoreResult Get(int controlHostId, const std::string& destPath, SLabRelationship& out);
  static EStoreResult All(std::vector<SLabRelationship>& out);
  // Replaces the queue of statuses the next reads take.
  static EStoreResult QueueStatuses(int controlHostId, const std::string& destPath,
                                    const std::vector<std::string>& statuses);
  static EStoreResult SetFaults(int controlHostId, const std::string& destPath, const SRelationshipFaults& faults);
  static EStoreResult SetMirrorState(int controlHostId, const std::string& destPath, const std::string& state);

  // The array's answers (the library's calls end here).
  static EArrayAnswer Read(int controlHostId, const std::string& destPath, SLabRelationship& out);
  static EArrayAnswer Break(int controlHostId, const std::string& destVServer, const std::string& destVolume);
  static EArrayAnswer Resync(int controlHostId, const std::string& destVServer, const std::string& destVolume);

  static bool CreateTables();
};
