// What a snapshot query of the storage-array data manager is about: the
// storage-array context fills one per query from the machines of an
// operation, the data manager reads it.
#pragma once

#include <stdint.h>

#include <set>
#include <vector>

struct SnapDRContext {
  // The snapshots (backup jobs) whose archive files a mount query asks for.
  std::vector<uint64_t> masterJobIds;
  int32_t appId = 0;
  int32_t copyId = 0;
  // The replications and replica groups of the operation; rows of others
  // are passed over.
  std::set<int> replIds;
  std::set<int> replicaGroupIds;
  // The query is for a snapshot mount (phase 34 or 38).
  bool snapMount = false;
};
