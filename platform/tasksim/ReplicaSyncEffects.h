// What the child jobs of the simulated server leave on the application
// (database) replications (CReplicaSyncStore), written in each ending's
// transaction (job-simulator end writers, like CBackupEffects), so a DR job
// that sees the job ended finds them:
// - a backup that did its work puts the database replications it backed up
//   in sync status 2 ("Need Sync"), unless the lab knob says backups leave
//   the status alone (the path where no sync is needed);
// - a sync that did its work puts its database replications in status 1
//   ("In Sync") with the last synced job (the latest successful backup of the
//   replication's subclient); one that did not, or the replications its
//   kFaultSyncFailed names, in status 5 ("Sync Failed").
// VM replications are the job simulator's own business.
#pragma once

#include "jobsim/JobSimulator.h"

class CReplicaSyncEffects {
 public:
  static constexpr const char* kBackupWriterName = "replica-sync backup";
  static constexpr const char* kSyncWriterName = "replica-sync sync";

  // The lab knob: backups leave the sync status of database replications as
  // it is. Stored, so it holds for every process until set back.
  static bool SetBackupsLeaveSyncStatus(bool leave);
  static bool BackupsLeaveSyncStatus();

  // The writers; false (logged) when a change cannot be stored.
  static bool WriteBackup(const SChildJobRecord& backup);
  static bool WriteSync(const SChildJobRecord& sync);
  // Registers both (CSimulators::Install).
  static void Register();
};
