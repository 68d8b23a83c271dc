// The backup status of each VM of the simulated server's backup jobs, and
// the one owner of its tables: PLT_VMStatus (one entry per backup job and
// VM: the VM's GUID, its App::VmStatusEnum status and the failure reason)
// and PLT_VMStatusFaults (VMs a test makes fail, or leaves out of every
// backup's entries, until the faults are cleared).
//
// Statuses: 0 success, 3 success with errors (both count as success for a
// DR job), anything else a failure (kStatusFailed here).
//
// Writes join the caller's transaction (a backup's ending).
#pragma once

#include <string>
#include <vector>

#include "core/StoreResult.h"

struct SVMStatusEntry {
  long long jobId = 0;  // the backup job
  int replicationId = 0;
  std::string vmGuid;
  int status = 0;
  std::string reason;
};

struct SVMStatusFault {
  int replicationId = 0;
  bool leftOut = false;  // no entry at all
  std::string reason;    // otherwise: fails with this reason
};

class CVMStatusStore {
 public:
  static constexpr const char* kTables[] = {"PLT_VMStatus", "PLT_VMStatusFaults"};
  static constexpr int kStatusFailed = 1;

  // Adds (or replaces) the entry of the job's VM.
  static bool Add(const SVMStatusEntry& entry);
  // The entries of a backup job, by replication id; none is kOk.
  static EStoreResult OfJob(long long jobId, std::vector<SVMStatusEntry>& out);

  // Faults for every backup that ends from now on (replacing the VM's
  // earlier fault), until ClearFaults.
  static bool SetVMFails(int replicationId, const std::string& reason);
  static bool SetVMLeftOut(int replicationId);
  static bool ClearFaults();
  static EStoreResult Faults(std::vector<SVMStatusFault>& out);

  static bool CreateTables();
};
