// The crash matrix of the database planned failover and the storage-array
// DR types: each type's uninterrupted run against its literal picture, then
// the same run killed at the moments that change what a rerun must handle.
#include <string>
#include <vector>

#include "host/CrashMatrix.h"

namespace {

using crashmatrix::CCrashMatrix;
using crashmatrix::EStartLab;
using crashmatrix::SCrash;
using crashmatrix::SType;

class E2EDrJobCrashMatrixApp : public CCrashMatrix {
 protected:
  void Run(const SType& type, const std::vector<SCrash>& crashes) {
    Expect(type, Reference(type), "uninterrupted");
    for (const SCrash& crash : crashes) Expect(type, Crash(type, crash), crash.name, crash.differs);
  }
};

const SType kDatabaseFailover = {"SampleDB", "planned-failover", {}, EStartLab::kSeeded, 0,
                                 R"(db-repl 1 Failover_Complete Sync_Disabled
db-repl 2 Failover_Complete Sync_Disabled
database 11 stopped
database 12 stopped
database 21 running
database 22 running
jobs backup Completed x2
jobs sync Completed x2
)",
                                 {}, false, true};

// A database still running when the run died may have written since its
// backup and sync: the rerun takes them again. Once its source was shut
// down, what it replicated is adopted. The databases fail over one at a
// time here (the type's "serial"), so the first one's crash always finds
// the second one not started.
const SCrash::Lines kBackupAgain = {{"jobs backup Completed x2", "jobs backup Completed x3"}};
const SCrash::Lines kBackupAndSyncAgain = {{"jobs backup Completed x2", "jobs backup Completed x3"},
                                           {"jobs sync Completed x2", "jobs sync Completed x3"}};

TEST_F(E2EDrJobCrashMatrixApp, DatabaseFailover) {
  Run(kDatabaseFailover,
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

const char* const kArrayFailedOverPicture = R"(mounted vm snap-app off 0 -
mounted vm snap-db off 0 -
mounted vm snap-files off 0 -
mounted vm snap-web off 0 -
vm snap-app off 302 -
vm snap-db off 303 -
vm snap-files off 304 -
vm snap-web off 301 -
array-repl 301 Failover_Complete -
array-repl 302 Failover_Complete -
array-repl 303 Failover_Complete -
array-repl 304 Failover_Complete -
relationship vs_dr:vol_snap1 broken-off
relationship vs_dr:vol_snap2 broken-off
lun vol_snap1/lun0 mapped
lun vol_snap2/lun0 mapped
lun vol_snap2/lun1 mapped
)";

const SType kArrayPlannedFailover = {"SampleArray", "planned-failover", {}, EStartLab::kSeeded, 0,
                                     std::string(kArrayFailedOverPicture) + R"(afile snap-app 79 x1
afile snap-app mounted x1
afile snap-db 79 x1
afile snap-db mounted x1
afile snap-files 79 x1
afile snap-files mounted x1
afile snap-web 79 x1
afile snap-web mounted x1
jobs aux-copy Completed x1
jobs backup Completed x2
)",
                                     {}, false};

TEST_F(E2EDrJobCrashMatrixApp, ArrayPlannedFailover) {
  Run(kArrayPlannedFailover,
      {{"source shut down", "[Shutdown] on VM [snap-app] GUID [snap-src-302] successful"},
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
       {"before the final state", "Total machines for DR"}});
}

const SType kArrayUnplannedFailover = {"SampleArray", "unplanned-failover", {}, EStartLab::kSeeded, 0,
                                       std::string(kArrayFailedOverPicture) + R"(afile snap-app mounted x1
afile snap-db mounted x1
afile snap-files mounted x1
afile snap-web mounted x1
)",
                                       {}, false};

TEST_F(E2EDrJobCrashMatrixApp, ArrayUnplannedFailover) {
  Run(kArrayUnplannedFailover,
      {{"source shut down", "[Shutdown] on VM [snap-app] GUID [snap-src-302] successful"},
       {"relationship broken", "BreakVolumeRelationship(): Break successful"},
       {"subclient disabled", "ChangeSubclientActivity(): Changed activity for appId"},
       {"mounted", "[DR-VM Snap Mount] on VM [snap-app] GUID [mount-"},
       {"mount recorded", "_LoadMountOpResp(): [DR-VM Snap Mount] on VM [snap-app]"},
       {"post-failover action", "[Post VM Failover] on VM [snap-app] GUID [mount-"},
       {"complete not stored", "UpdateFailoverStatus(): [Failover Complete] for replication [302]"},
       {"before the final state", "Total machines for DR"}});
}

const SType kArrayTestFailover = {"SampleArray", "test-failover", {}, EStartLab::kSeeded, 0,
                                  R"(mounted vm snap-app off 0 -
mounted vm snap-db off 0 -
mounted vm snap-files off 0 -
mounted vm snap-web off 0 -
vm snap-app on 302 -
vm snap-db on 303 -
vm snap-files on 304 -
vm snap-web on 301 -
array-repl 301 - Test_Failover_Complete
array-repl 302 - Test_Failover_Complete
array-repl 303 - Test_Failover_Complete
array-repl 304 - Test_Failover_Complete
relationship vs_dr:vol_snap1 snapmirrored
relationship vs_dr:vol_snap2 snapmirrored
lun vol_snap1/lun0 mapped
lun vol_snap2/lun0 mapped
lun vol_snap2/lun1 mapped
afile snap-app mounted x1
afile snap-db mounted x1
afile snap-files mounted x1
afile snap-web mounted x1
)",
                                  {}, false};

TEST_F(E2EDrJobCrashMatrixApp, ArrayTestFailover) {
  Run(kArrayTestFailover,
      {{"test mount made", "[DR-VM Test Snap Mount] on VM [snap-app] GUID [mount-"},
       {"test mount recorded", "_LoadMountOpResp(): [DR-VM Test Snap Mount] on VM [snap-app]"},
       {"post-failover action", "[Post VM Failover] on VM [snap-app] GUID [mount-"},
       {"complete not stored", "UpdateTestFailoverStatus(): [Test Failover Complete] for replication [302]"},
       {"before the final state", "Total machines for DR"}});
}

const SType kArrayUndoFailover = {"SampleArray", "undo-failover", {}, EStartLab::kArrayFailedOver, 0,
                                  R"(vm snap-app on 302 -
vm snap-db on 303 -
vm snap-files on 304 -
vm snap-web on 301 -
array-repl 301 Revert_Failover_Complete -
array-repl 302 Revert_Failover_Complete -
array-repl 303 Revert_Failover_Complete -
array-repl 304 Revert_Failover_Complete -
relationship vs_dr:vol_snap1 snapmirrored
relationship vs_dr:vol_snap2 snapmirrored
lun vol_snap1/lun0 unmapped
lun vol_snap2/lun0 unmapped
lun vol_snap2/lun1 unmapped
afile snap-app 79 x2
afile snap-db 79 x2
afile snap-files 79 x2
afile snap-web 79 x2
jobs aux-copy Completed x1
jobs backup Completed x2
)",
                                  {}, false};

TEST_F(E2EDrJobCrashMatrixApp, ArrayUndoFailover) {
  Run(kArrayUndoFailover,
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

const SType kArrayUndoTestFailover = {"SampleArray", "undo-test-failover", {}, EStartLab::kArrayTested, 0,
                                      R"(vm snap-app on 302 -
vm snap-db on 303 -
vm snap-files on 304 -
vm snap-web on 301 -
array-repl 301 - -
array-repl 302 - -
array-repl 303 - -
array-repl 304 - -
relationship vs_dr:vol_snap1 snapmirrored
relationship vs_dr:vol_snap2 snapmirrored
lun vol_snap1/lun0 mapped
lun vol_snap2/lun0 mapped
lun vol_snap2/lun1 mapped
afile snap-app 79 x1
afile snap-db 79 x1
afile snap-files 79 x1
afile snap-web 79 x1
)",
                                      {}, false};

TEST_F(E2EDrJobCrashMatrixApp, ArrayUndoTestFailover) {
  Run(kArrayUndoTestFailover,
      {{"test VM off", "[Power Off] on VM [snap-app] GUID [mount-"},
       {"test mount unmounted", "[DR-VM Test Snap Unmount] on VM [snap-app] GUID [mount-"},
       {"unmount recorded", "_LoadMountOpResp(): [DR-VM Test Snap Unmount] on VM [snap-app]"},
       {"complete not stored", "UpdateTestFailoverStatus(): [] for replication [302]"},
       {"before the final state", "Total machines for DR"}});
}

}  // namespace
