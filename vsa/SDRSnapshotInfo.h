// One snapshot a DR job made (or found) on a replication's VM.
#pragma once

#include <string>

#include "engine/DRConstants.h"

struct SDRSnapshotInfo {
  int replId = 0;
  int site = 0;  // Api::DRSite: 0 source, 1 destination
  std::string description;
  std::string snapRef;  // the hypervisor's reference, for revert and delete
  std::string snapName = SNAPSHOT_NAME;
  int snapType = 0;  // 1 source VM, 2 failover, 3 point in time, 4 replica-sync-direct

  // The same snapshot: replication, site and kind agree.
  bool IsSame(const SDRSnapshotInfo& other) const {
    return replId == other.replId && site == other.site && snapType == other.snapType;
  }
};
