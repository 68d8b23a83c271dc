// What a backup of the simulated server leaves behind when it ends, written
// in its ending's transaction (a job-simulator end writer), so a DR job that
// sees the backup ended finds them:
// - the status of each VM it backed up (CVMStatusStore): 0 when the job
//   completed, 3 when it completed with errors, kStatusFailed with the job's
//   reason when it failed or was killed; the planted faults make chosen VMs
//   fail with their reason, or leave them out;
// - for each VM whose backup succeeded and whose source client is known
//   (the replication source's sourceClientId), that client's "Last VM Backup
//   Job Info" (ClientProperties): status 1 and the end time from the
//   platform clock.
#pragma once

#include "jobsim/JobSimulator.h"

class CBackupEffects {
 public:
  static constexpr const char* kWriterName = "backup effects";

  // The effects of the backup's ending; false (logged) when one cannot be
  // stored.
  static bool Write(const SChildJobRecord& backup);
  // Registers the end writer (CSimulators::Install).
  static void Register();
};
