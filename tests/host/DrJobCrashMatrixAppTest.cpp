// The crash matrix of the database planned failover and the storage-array
// DR types: each type's uninterrupted run against its literal picture, then
// the same run killed at the moments that change what a rerun must handle.
#include <string>
#include <vector>

#include "host/CrashMatrixTypes.h"

namespace {

using crashmatrix::CCrashMatrix;
using crashmatrix::SCrash;
using crashmatrix::SType;
using crashmatrix::kDatabaseFailover;
using crashmatrix::kArrayPlannedFailover;
using crashmatrix::kArrayUnplannedFailover;
using crashmatrix::kArrayTestFailover;
using crashmatrix::kArrayUndoFailover;
using crashmatrix::kArrayUndoTestFailover;

using E2EDrJobCrashMatrixApp = CCrashMatrix;

// A database still running when the run died may have written since its
// backup and sync: the rerun takes them again. Once its source was shut
// down, what it replicated is adopted. The databases fail over one at a
// time here (the type's "serial"), so the first one's crash always finds
// the second one not started.
const SCrash::Lines kBackupAgain = {{"jobs backup Completed x2", "jobs backup Completed x3"}};
const SCrash::Lines kBackupAndSyncAgain = {{"jobs backup Completed x2", "jobs backup Completed x3"},
                                           {"jobs sync Completed x2", "jobs sync Completed x3"}};

// The two subclient groups of the array failover run at once: a crash in
// one group may fall between the other's backup launch and the row that
// names its job, however far apart the two groups are. The rerun cannot
// tell that backup from a scheduled one, so it waits for it to end and
// takes its own; the copy then holds both.
const SCrash::Lines kBackupMayRunTwice = {{"afile snap-app 79 x1", "afile snap-app 79 *"},
                                          {"afile snap-db 79 x1", "afile snap-db 79 *"},
                                          {"afile snap-files 79 x1", "afile snap-files 79 *"},
                                          {"afile snap-web 79 x1", "afile snap-web 79 *"},
                                          {"jobs backup Completed x2", "jobs backup Completed *"}};

TEST_F(E2EDrJobCrashMatrixApp, DatabaseFailover) {
  RunMatrix(kDatabaseFailover,
            {{"backup launched", "StartJob(): Started [backup] job"},
             {"backup ended", "ended [Completed]", 1, kBackupAgain},
             {"sync launched", "StartJob(): Started [sync] job", 1, kBackupAgain},
             {"sync ended", "Sync(): Sync operation job", 1, kBackupAndSyncAgain},
             {"source stopped", "DB shutdown successful on [Source] site for replication [1]"},
             {"sync disabled", "Setting sync status as [Sync Disabled] for replication [1]"},
             {"destination started", "DB startup successful on [Destination] site for replication [1]"},
             {"complete not stored", "UpdateFailoverStatus(): [Failover Complete] for replication [1]"},
             {"before the final state", "Total machines for DR"}});
}

TEST_F(E2EDrJobCrashMatrixApp, ArrayPlannedFailover) {
  std::vector<SCrash> crashes = {
      {"source shut down", "[Shutdown] on VM [snap-app] GUID [snap-src-302] successful"},
      {"backup launched", "StartJob(): Started [backup] job"},
      {"backup waited on", "Backup(): Waiting for backup job"},
      {"backup ended", "ended [Completed]"},
      {"aux copy launched", "StartJob(): Started [aux copy] job"},
      {"aux copy waited on", "RunAuxCopy(): Waiting for aux copy job"},
      {"aux copy ended", "successfully aux copied for copyId"},
      {"relationship broken", "BreakVolumeRelationship(): Break successful"},
      {"subclient disabled", "ChangeSubclientActivity(): Changed activity for appId"},
      {"mounted", "[DR-VM Snap Mount] on VM [snap-app] GUID [mount-"},
      {"mount recorded", "_LoadMountOpResp(): [DR-VM Snap Mount] on VM [snap-app]"},
      {"post-failover action", "[Post VM Failover] on VM [snap-app] GUID [mount-"},
      {"complete not stored", "UpdateFailoverStatus(): [Failover Complete] for replication [302]"},
      {"before the final state", "Total machines for DR"}};
  for (SCrash& crash : crashes) crash.differs = kBackupMayRunTwice;
  RunMatrix(kArrayPlannedFailover, crashes);
}

TEST_F(E2EDrJobCrashMatrixApp, ArrayUnplannedFailover) {
  RunMatrix(kArrayUnplannedFailover,
            {{"source shut down", "[Shutdown] on VM [snap-app] GUID [snap-src-302] successful"},
             {"relationship broken", "BreakVolumeRelationship(): Break successful"},
             {"subclient disabled", "ChangeSubclientActivity(): Changed activity for appId"},
             {"mounted", "[DR-VM Snap Mount] on VM [snap-app] GUID [mount-"},
             {"mount recorded", "_LoadMountOpResp(): [DR-VM Snap Mount] on VM [snap-app]"},
             {"post-failover action", "[Post VM Failover] on VM [snap-app] GUID [mount-"},
             {"complete not stored", "UpdateFailoverStatus(): [Failover Complete] for replication [302]"},
             {"before the final state", "Total machines for DR"}});
}

TEST_F(E2EDrJobCrashMatrixApp, ArrayTestFailover) {
  RunMatrix(kArrayTestFailover,
            {{"test mount made", "[DR-VM Test Snap Mount] on VM [snap-app] GUID [mount-"},
             {"test mount recorded", "_LoadMountOpResp(): [DR-VM Test Snap Mount] on VM [snap-app]"},
             {"post-failover action", "[Post VM Failover] on VM [snap-app] GUID [mount-"},
             {"complete not stored", "UpdateTestFailoverStatus(): [Test Failover Complete] for replication [302]"},
             {"before the final state", "Total machines for DR"}});
}

TEST_F(E2EDrJobCrashMatrixApp, ArrayUndoFailover) {
  RunMatrix(kArrayUndoFailover,
            {{"DR VM shut down", "[Shutdown] on VM [snap-app] GUID [mount-"},
             {"unmounted", "[DR-VM Snap Unmount] on VM [snap-app] GUID [mount-"},
             {"unmount recorded", "_LoadMountOpResp(): [DR-VM Snap Unmount] on VM [snap-app]"},
             {"LUN unmapped", "VerifyLUNMapping(): Successfully unmapped LUN"},
             {"relationships resynced", "ChangeSyncStatus(): [Resync Volume Relationship] successful"},
             {"subclient enabled", "ChangeSubclientActivity(): Changed activity for appId"},
             {"source on", "[Power On] on VM [snap-app] GUID [snap-src-302] successful"},
             {"complete not stored", "UpdateFailoverStatus(): [Revert Failover Complete] for replication [302]"},
             {"before the final state", "Total machines for DR"}});
}

TEST_F(E2EDrJobCrashMatrixApp, ArrayUndoTestFailover) {
  RunMatrix(kArrayUndoTestFailover,
            {{"test VM off", "[Power Off] on VM [snap-app] GUID [mount-"},
             {"test mount unmounted", "[DR-VM Test Snap Unmount] on VM [snap-app] GUID [mount-"},
             {"unmount recorded", "_LoadMountOpResp(): [DR-VM Test Snap Unmount] on VM [snap-app]"},
             {"complete not stored", "UpdateTestFailoverStatus(): [] for replication [302]"},
             {"before the final state", "Total machines for DR"}});
}

}  // namespace
