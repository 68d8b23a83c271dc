// The volume snapshots each snap backup (operation type 59) leaves on the
// arrays, one row per volume snapshot, and the one owner of
// PLT_VolumeSnaps. A snap backup's ending adds one per VM it took (the
// job-simulator end writer "array volume snaps"); ZNSnapClientAPI reads and
// deletes them by job.
//
// Threads and processes: every member may be called from any thread.
#pragma once

#include <string>
#include <vector>

#include "core/StoreResult.h"

struct SVolumeSnap {
  long long jobId = 0;  // the snap backup
  std::string volume;
  std::string snapName;
};

class CVolumeSnapStore {
 public:
  static constexpr const char* kTable = "PLT_VolumeSnaps";

  static bool Add(const SVolumeSnap& snap);
  // The snapshots of a job, in the order they were added.
  static EStoreResult OfJob(long long jobId, std::vector<SVolumeSnap>& out);
  // Removes the job's snapshots; kMissing when it had none.
  static EStoreResult RemoveJob(long long jobId);

  // The end writer of snap backups (CArrayLab::Register).
  static void Register();
  static bool CreateTables();
};
