// The DR types of the crash matrix and the crash sampler: how each is run
// and the literal picture of the lab an uninterrupted run leaves.
#include "host/CrashMatrixTypes.h"

#include <ctype.h>

#include <map>
#include <string>

namespace crashmatrix {

namespace {

const std::vector<SMachine> kSampleAtDR = {
    {"db-primary-DR", "db-primary"}, {"db-replica-DR", "db-replica"}, {"app-server-DR", "app-server"}};
const std::vector<SMachine> kSampleAtSource = {
    {"db-primary", "db-primary-DR"}, {"db-replica", "db-replica-DR"}, {"app-server", "app-server-DR"}};

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

}  // namespace

const SType kPlannedFailover = {"Sample", "planned-failover", {}, EStartLab::kSeeded, 0,
                                R"(vm db-primary off 101 __OB_BACKUP__
vm db-primary-DR on 101 __OB_FAILOVER__,db-primary-DR_1767225600,db-primary-DR_1767229200
repl 101 Failover_Complete Sync_Disabled source-snap=__OB_BACKUP__ dr-snap=__OB_FAILOVER__ pit=-
vm db-replica off 102 __OB_BACKUP__
vm db-replica-DR on 102 __OB_FAILOVER__,db-replica-DR_1767225600,db-replica-DR_1767229200
repl 102 Failover_Complete Sync_Disabled source-snap=__OB_BACKUP__ dr-snap=__OB_FAILOVER__ pit=-
vm app-server off 201 __OB_BACKUP__
vm app-server-DR on 201 __OB_FAILOVER__,app-server-DR_1767225600,app-server-DR_1767229200
repl 201 Failover_Complete Sync_Disabled source-snap=__OB_BACKUP__ dr-snap=__OB_FAILOVER__ pit=-
jobs backup Completed x2
jobs sync Completed x2
)",
                                kSampleAtDR, true};

const SType kFailback = {"Sample", "failback", {}, EStartLab::kFailedOver, 0,
                        R"(vm db-primary on 101 -
vm db-primary-DR off 101 __OB_BACKUP__
repl 101 - In_Sync source-snap=- dr-snap=- pit=-
vm db-replica on 102 -
vm db-replica-DR off 102 __OB_BACKUP__
repl 102 - In_Sync source-snap=- dr-snap=- pit=-
vm app-server on 201 -
vm app-server-DR off 201 __OB_BACKUP__
repl 201 - In_Sync source-snap=- dr-snap=- pit=-
jobs backup Completed x2
jobs dr-site-backup Completed x2
jobs restore Completed x2
jobs sync Completed x2
)",
                        kSampleAtSource, true};

const SType kUnplannedFailover = {"Sample", "unplanned-failover", {}, EStartLab::kSeeded, 0,
                                  R"(vm db-primary off 101 -
vm db-primary-DR on 101 __OB_FAILOVER__,db-primary-DR_1767225600,db-primary-DR_1767229200
repl 101 Failover_Complete Sync_Disabled source-snap=- dr-snap=__OB_FAILOVER__ pit=-
vm db-replica off 102 -
vm db-replica-DR on 102 __OB_FAILOVER__,db-replica-DR_1767225600,db-replica-DR_1767229200
repl 102 Failover_Complete Sync_Disabled source-snap=- dr-snap=__OB_FAILOVER__ pit=-
vm app-server off 201 -
vm app-server-DR on 201 __OB_FAILOVER__,app-server-DR_1767225600,app-server-DR_1767229200
repl 201 Failover_Complete Sync_Disabled source-snap=- dr-snap=__OB_FAILOVER__ pit=-
)",
                                  kSampleAtDR, false};

const SType kPointInTimeFailover = {
    "Sample",
    "point-in-time-failover",
    {"--point-in-time", "101=1767225600", "--point-in-time", "102=1767229200", "--point-in-time", "201=1767225600"},
    EStartLab::kSeeded,
    0,
    R"(vm db-primary off 101 -
vm db-primary-DR on 10101 __OB_FAILOVER__,db-primary-DR_1767225600,db-primary-DR_1767229200
repl 101 Failover_Complete Sync_Disabled source-snap=- dr-snap=__OB_FAILOVER__ pit=set
vm db-replica off 102 -
vm db-replica-DR on 10202 __OB_FAILOVER__,db-replica-DR_1767225600,db-replica-DR_1767229200
repl 102 Failover_Complete Sync_Disabled source-snap=- dr-snap=__OB_FAILOVER__ pit=set
vm app-server off 201 -
vm app-server-DR on 20101 __OB_FAILOVER__,app-server-DR_1767225600,app-server-DR_1767229200
repl 201 Failover_Complete Sync_Disabled source-snap=- dr-snap=__OB_FAILOVER__ pit=set
)",
    kSampleAtDR,
    false};

const SType kTestboot = {"Sample", "testboot", {}, EStartLab::kSeeded, 0,
                         R"(vm db-primary on 101 -
vm db-primary-DR off 101 __OB_BACKUP__,db-primary-DR_1767225600,db-primary-DR_1767229200
repl 101 - In_Sync source-snap=- dr-snap=- pit=-
vm db-replica on 102 -
vm db-replica-DR off 102 __OB_BACKUP__,db-replica-DR_1767225600,db-replica-DR_1767229200
repl 102 - In_Sync source-snap=- dr-snap=- pit=-
vm app-server on 201 -
vm app-server-DR off 201 __OB_BACKUP__,app-server-DR_1767225600,app-server-DR_1767229200
repl 201 - In_Sync source-snap=- dr-snap=- pit=-
)",
                         kSampleAtSource, false};

// A revert puts the workload back on the sources: each goes back to its
// snapshot from the failover while it is off, and runs once that snapshot
// is gone. What the DR VMs wrote since the failover is dropped; what a
// source wrote once it ran is the workload's, and a write there stays.
const SType kRevertFailover = {"Sample", "revert-failover", {}, EStartLab::kFailedOver, 0,
                               R"(vm db-primary on 101 -
vm db-primary-DR off 101 db-primary-DR_1767225600,db-primary-DR_1767229200
repl 101 - In_Sync source-snap=- dr-snap=- pit=-
vm db-replica on 102 -
vm db-replica-DR off 102 db-replica-DR_1767225600,db-replica-DR_1767229200
repl 102 - In_Sync source-snap=- dr-snap=- pit=-
vm app-server on 201 -
vm app-server-DR off 201 app-server-DR_1767225600,app-server-DR_1767229200
repl 201 - In_Sync source-snap=- dr-snap=- pit=-
jobs backup Completed x2
jobs sync Completed x2
)",
                               kSampleAtSource, false};

const SType kUndoFailover = {"Sample", "undo-failover", {}, EStartLab::kFailedOver, 0,
                             R"(vm db-primary on 101 -
vm db-primary-DR off 101 __OB_BACKUP__,db-primary-DR_1767225600,db-primary-DR_1767229200
repl 101 - In_Sync source-snap=- dr-snap=- pit=-
vm db-replica on 102 -
vm db-replica-DR off 102 __OB_BACKUP__,db-replica-DR_1767225600,db-replica-DR_1767229200
repl 102 - In_Sync source-snap=- dr-snap=- pit=-
vm app-server on 201 -
vm app-server-DR off 201 __OB_BACKUP__,app-server-DR_1767225600,app-server-DR_1767229200
repl 201 - In_Sync source-snap=- dr-snap=- pit=-
jobs backup Completed x2
jobs sync Completed x2
)",
                             kSampleAtSource, false};

// Both sides run afterwards and the DR VMs keep the workload: a source holds
// whatever its DR VM held when it was backed up, a write included or not.
// No reference to a source snapshot is left: the restore replaced the one
// the planned failover took.
const SType kReverseReplication = {"Sample", "reverse-replication", {}, EStartLab::kFailedOver, 0,
                                   R"(vm db-primary on * __OB_BACKUP__
vm db-primary-DR on 101 -
repl 101 Failover_Complete Sync_Disabled source-snap=- dr-snap=- pit=-
vm db-replica on * __OB_BACKUP__
vm db-replica-DR on 102 -
repl 102 Failover_Complete Sync_Disabled source-snap=- dr-snap=- pit=-
vm app-server on * __OB_BACKUP__
vm app-server-DR on 201 -
repl 201 Failover_Complete Sync_Disabled source-snap=- dr-snap=- pit=-
jobs backup Completed x2
jobs dr-site-backup Completed x2
jobs restore Completed x2
jobs sync Completed x2
)",
                                   kSampleAtDR, false};

const SType kCleanupDestinationVM = {"Sample", "cleanup-destination-vm", {}, EStartLab::kSeeded, 0,
                                     R"(vm db-primary on 101 -
vm db-primary-DR off 101 __OB_BACKUP__,db-primary-DR_1767225600,db-primary-DR_1767229200
repl 101 removed
vm db-replica on 102 -
vm db-replica-DR off 102 __OB_BACKUP__,db-replica-DR_1767225600,db-replica-DR_1767229200
repl 102 removed
vm app-server on 201 -
vm app-server-DR off 201 __OB_BACKUP__,app-server-DR_1767225600,app-server-DR_1767229200
repl 201 removed
)",
                                     kSampleAtSource, false};

// Deleting the DR VMs leaves only the sources, whose replications are gone.
const SType kCleanupDeletingDRVMs = {"Sample", "cleanup-destination-vm", {"--delete-from-hypervisor"},
                                     EStartLab::kSeeded, 0,
                                     R"(vm db-primary on 101 -
repl 101 removed
vm db-replica on 102 -
repl 102 removed
vm app-server on 201 -
repl 201 removed
)",
                                     kSampleAtSource, false};

const SType kTestFailover = {"SampleTest", "test-failover", {}, EStartLab::kSeeded, 0,
                             R"(vm web-front on 401 -
vm web-front-DR off 401 __OB_BACKUP__,web-front-DR_1767225600,web-front-DR_1767229200
vm web-front-DR-Clone on 401 -
repl 401 - In_Sync source-snap=- dr-snap=- pit=-
vm web-cache on 402 -
vm web-cache-DR off 402 __OB_BACKUP__,web-cache-DR_1767225600,web-cache-DR_1767229200
vm web-cache-DR-Clone on 402 -
repl 402 - In_Sync source-snap=- dr-snap=- pit=-
)",
                             {{"web-front", "web-front-DR"}, {"web-cache", "web-cache-DR"}}, false};

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

// The two subclient groups' backups end in either order: one aux copy may
// bring both to the copy, or the later one needs an aux copy of its own.
const SType kArrayPlannedFailover = {"SampleArray", "planned-failover", {}, EStartLab::kSeeded, 0,
                                     std::string(kArrayFailedOverPicture) + R"(afile snap-app 79 x1
afile snap-app mounted x1
afile snap-db 79 x1
afile snap-db mounted x1
afile snap-files 79 x1
afile snap-files mounted x1
afile snap-web 79 x1
afile snap-web mounted x1
jobs aux-copy Completed *
jobs backup Completed x2
)",
                                     {}, false};

const SType kArrayUnplannedFailover = {"SampleArray", "unplanned-failover", {}, EStartLab::kSeeded, 0,
                                       std::string(kArrayFailedOverPicture) + R"(afile snap-app mounted x1
afile snap-db mounted x1
afile snap-files mounted x1
afile snap-web mounted x1
)",
                                       {}, false};

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

// Its re-sync backs up both groups: as in the failover, one or two aux copies.
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
jobs aux-copy Completed *
jobs backup Completed x2
)",
                                  {}, false};

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

const std::vector<const SType*>& AllTypes() {
  static const std::vector<const SType*> all = {
      &kPlannedFailover, &kFailback, &kUnplannedFailover, &kPointInTimeFailover, &kTestboot, &kRevertFailover,
      &kUndoFailover, &kReverseReplication, &kCleanupDestinationVM, &kCleanupDeletingDRVMs, &kTestFailover,
      // the application types
      &kDatabaseFailover, &kArrayPlannedFailover, &kArrayUnplannedFailover, &kArrayTestFailover,
      &kArrayUndoFailover, &kArrayUndoTestFailover};
  return all;
}

}  // namespace crashmatrix

namespace crashmatrix {

namespace {

// The moments each type is killed at: those that change what a rerun must
// handle.
const std::vector<SCrash> kPlannedFailoverCrashes = {
    {"source shut down", "[Shutdown] on VM [db-primary] GUID [src-101] successful"},
    {"backup launched", "StartJob(): Started [backup] job"},
    {"backup waited on", "Backup(): Waiting for backup job"},
    {"backup ended", "ended [Completed]"},
    {"sync launched", "StartJob(): Started [sync] job"},
    {"sync ended", "IsAllVMsSynced(): All DR VMs are IN SYNC"},
    {"failover snapshot taken", "[Create Snapshot] on VM [db-primary-DR] GUID [dst-101] successful"},
    {"DR VM on", "[Power On] on VM [db-primary-DR] GUID [dst-101] successful"},
    {"sync disabled", "Setting sync status as [Sync Disabled] for replication [101]"},
    {"source snapshot taken", "[Create Snapshot] on VM [db-primary] GUID [src-101] successful"},
    {"DR backup snapshot deleted", "[Delete Snapshot] on VM [db-primary-DR] GUID [dst-101] successful"},
    {"complete not stored", "UpdateFailoverStatus(): [Failover Complete] for replication [101]"},
    // Completed before its group switched its client's backups back on:
    // the rerun, which leaves it out of the group, does that.
    {"complete, backups still off", "MarkSuccess(): [Planned Failover] has succeeded for replication [101]"},
    {"between priorities", "Wait before processing next priority"},
    {"before the final state", "Total machines for DR"}};

const std::vector<SCrash> kFailbackCrashes = {
    {"source off", "[Power Off] on VM [db-primary] GUID [src-101] successful"},
    {"failover snapshot deleted", "[Delete Snapshot] on VM [db-primary-DR] GUID [dst-101] successful"},
    {"point-in-time snapshot deleted", "[Delete Snapshot] on VM [db-primary-DR] GUID [dst-101] successful", 2},
    {"DR VM shut down", "[Shutdown] on VM [db-primary-DR] GUID [dst-101] successful"},
    {"DR-site backup launched", "StartJob(): Started [backup] job"},
    {"DR-site backup ended", "ended [Completed]"},
    {"restore launched", "StartJob(): Started [sync] job"},
    {"restore ended", "IsAllVMsSynced(): All DR VMs are IN SYNC"},
    {"DR VM snapshot taken", "[Create Snapshot] on VM [db-primary-DR] GUID [dst-101] successful"},
    {"sync enabled", "Setting sync status as [In Sync] for replication [101]"},
    {"complete not stored", "UpdateFailoverStatus(): [Failback Complete] for replication [101]"},
    // Completed, its status not yet cleared: the rerun clears it.
    {"complete not cleared", "MarkSuccess(): [Failback] has succeeded for replication [201]"},
    {"between priorities", "Wait before processing next priority"},
    {"before the final state", "Total machines for DR"}};

const std::vector<SCrash> kUnplannedFailoverCrashes = {
    {"source off", "[Power Off] on VM [db-primary] GUID [src-101] successful"},
    {"failover snapshot taken", "[Create Snapshot] on VM [db-primary-DR] GUID [dst-101] successful"},
    {"DR VM on", "[Power On] on VM [db-primary-DR] GUID [dst-101] successful"},
    {"sync disabled", "Setting sync status as [Sync Disabled] for replication [101]"},
    {"DR backup snapshot deleted", "[Delete Snapshot] on VM [db-primary-DR] GUID [dst-101] successful"},
    {"complete not stored", "UpdateFailoverStatus(): [Failover Complete] for replication [101]"},
    {"between priorities", "Wait before processing next priority"},
    {"before the final state", "Total machines for DR"}};

const std::vector<SCrash> kPointInTimeFailoverCrashes = {
    {"source shut down", "[Shutdown] on VM [db-primary] GUID [src-101] successful"},
    {"failover snapshot taken", "[Create Snapshot] on VM [db-primary-DR] GUID [dst-101] successful"},
    {"reverted to the point in time", "[Revert Snapshot] on VM [db-primary-DR] GUID [dst-101] successful"},
    {"DR VM on", "[Power On] on VM [db-primary-DR] GUID [dst-101] successful"},
    {"DR backup snapshot deleted", "[Delete Snapshot] on VM [db-primary-DR] GUID [dst-101] successful"},
    {"complete not stored", "UpdateFailoverStatus(): [Failover Complete] for replication [101]"},
    {"between priorities", "Wait before processing next priority"},
    {"before the final state", "Total machines for DR"}};

const std::vector<SCrash> kTestbootCrashes = {
    {"sync disabled", "Setting sync status as [Sync Disabled] for replication [101]"},
    {"test-boot snapshot taken", "[Create Snapshot] on VM [db-primary-DR] GUID [dst-101] successful"},
    {"adapters disabled", "[Disable Network Adapters] on VM [db-primary-DR] GUID [dst-101] successful"},
    {"DR VM booted", "[Power On] on VM [db-primary-DR] GUID [dst-101] successful"},
    {"DR VM shut down", "[Shutdown] on VM [db-primary-DR] GUID [dst-101] successful"},
    {"DR VM reverted", "[Revert Snapshot] on VM [db-primary-DR] GUID [dst-101] successful"},
    {"test-boot snapshot deleted", "[Delete Snapshot] on VM [db-primary-DR] GUID [dst-101] successful"},
    {"sync back", "Setting sync status as [In Sync] for replication [101]"},
    {"between priorities", "Wait before processing next priority"},
    {"before the final state", "Total machines for DR"}};

// A source runs from its one power-on, after its revert and its snapshot's
// deletion: what it holds then is the workload's, which the rerun keeps.
const std::vector<SCrash> kRevertFailoverCrashes = {
    {"DR VM shut down", "[Shutdown] on VM [db-primary-DR] GUID [dst-101] successful"},
    {"DR VM reverted", "[Revert Snapshot] on VM [db-primary-DR] GUID [dst-101] successful"},
    {"failover snapshot deleted", "[Delete Snapshot] on VM [db-primary-DR] GUID [dst-101] successful"},
    {"source reverted", "[Revert Snapshot] on VM [db-primary] GUID [src-101] successful"},
    {"source snapshot deleted", "[Delete Snapshot] on VM [db-primary] GUID [src-101] successful"},
    {"source on", "[Power On] on VM [db-primary] GUID [src-101] successful"},
    // db-primary's revert went on past its power-on, or ran beside.
    {"second source on", "[Power On] on VM [db-replica] GUID [src-102] successful"},
    {"sync enabled", "Setting sync status as [In Sync] for replication [101]"},
    {"complete not stored", "UpdateFailoverStatus(): [] for replication [101]"},
    {"between priorities", "Wait before processing next priority"},
    {"before the final state", "Total machines for DR"}};

const std::vector<SCrash> kUndoFailoverCrashes = {
    {"DR VM shut down", "[Shutdown] on VM [db-primary-DR] GUID [dst-101] successful"},
    {"DR VM reverted", "[Revert Snapshot] on VM [db-primary-DR] GUID [dst-101] successful"},
    {"failover snapshot deleted", "[Delete Snapshot] on VM [db-primary-DR] GUID [dst-101] successful"},
    {"source reverted", "[Revert Snapshot] on VM [db-primary] GUID [src-101] successful"},
    {"source snapshot deleted", "[Delete Snapshot] on VM [db-primary] GUID [src-101] successful"},
    {"DR backup snapshot taken", "[Create Snapshot] on VM [db-primary-DR] GUID [dst-101] successful"},
    {"source on", "[Power On] on VM [db-primary] GUID [src-101] successful"},
    {"sync enabled", "Setting sync status as [In Sync] for replication [101]"},
    {"complete not stored", "UpdateFailoverStatus(): [] for replication [101]"},
    {"between priorities", "Wait before processing next priority"},
    {"before the final state", "Total machines for DR"}};

const std::vector<SCrash> kReverseReplicationCrashes = {
    {"failover snapshot deleted", "[Delete Snapshot] on VM [db-primary-DR] GUID [dst-101] successful"},
    {"point-in-time snapshot deleted", "[Delete Snapshot] on VM [db-primary-DR] GUID [dst-101] successful", 2},
    {"DR-site backup launched", "StartJob(): Started [backup] job"},
    {"DR-site backup ended", "ended [Completed]"},
    {"restore launched", "StartJob(): Started [sync] job"},
    {"restore waited on", "RunSync(): Waiting for sync job"},
    {"restore ended", "IsAllVMsSynced(): All DR VMs are IN SYNC"},
    {"source snapshot taken", "[Create Snapshot] on VM [db-primary] GUID [src-101] successful"},
    {"sync disabled", "Setting sync status as [Sync Disabled] for replication [101]"},
    {"between priorities", "Wait before processing next priority"},
    {"before the final state", "Total machines for DR"}};

const std::vector<SCrash> kCleanupDestinationVMCrashes = {
    {"first priority removed", "Deleted the VM Replication options successfully from the database."},
    {"first machine complete", "MarkSuccess(): [Cleanup up Destination VM] has succeeded for replication [101]"},
    {"between priorities", "Wait before processing next priority"},
    {"before the final state", "Total machines for DR"}};

// A rerun asking the hypervisor to delete a DR VM its earlier run deleted
// would get "not found", leave the machine out of the removal and end with
// errors; the record would stay, naming a VM that no longer exists.
const std::vector<SCrash> kCleanupDeletingDRVMsCrashes = {
    {"DR VM deleted", "DeleteDestVM succeeded for replication [101]"},
    {"DR VM deleted, its row not", "[Delete Operation] on VM [db-primary-DR] GUID [dst-101] successful"},
    {"first priority removed", "Deleted the VM Replication options successfully from the database."},
    {"before the final state", "Total machines for DR"}};

const std::vector<SCrash> kTestFailoverCrashes = {
    {"DR VM described", "[Get VM Info VM] on VM [web-front-DR] GUID [dst-401] successful"},
    {"clone made", "[vm-1] successful with retcode"},
    {"clone refreshed", "Begin [Refresh VM] on VM [web-front-DR-Clone"},
    {"clone client set", "SetCloneVMClientProperties(): Set Expiration time"},
    {"clone on", "[Power On] on VM [web-front-DR-Clone"},
    {"clone powered on", "MarkSuccess(): [Test Failover] has succeeded for replication [401]"},
    {"before the final state", "Total machines for DR"}};

// A database still running when the run died may have written since its
// backup and sync: the rerun takes them again. Once its source was shut
// down, what it replicated is adopted. The databases fail over one at a
// time (the type's "serial"), so the first one's crash always finds the
// second one not started.
const SCrash::Lines kBackupAgain = {{"jobs backup Completed x2", "jobs backup Completed x3"}};
const SCrash::Lines kBackupAndSyncAgain = {{"jobs backup Completed x2", "jobs backup Completed x3"},
                                           {"jobs sync Completed x2", "jobs sync Completed x3"}};

const std::vector<SCrash> kDatabaseFailoverCrashes = {
    {"backup launched", "StartJob(): Started [backup] job"},
    {"backup ended", "ended [Completed]", 1, kBackupAgain},
    {"sync launched", "StartJob(): Started [sync] job", 1, kBackupAgain},
    {"sync ended", "Sync(): Sync operation job", 1, kBackupAndSyncAgain},
    {"source stopped", "DB shutdown successful on [Source] site for replication [1]"},
    {"sync disabled", "Setting sync status as [Sync Disabled] for replication [1]"},
    {"destination started", "DB startup successful on [Destination] site for replication [1]"},
    {"complete not stored", "UpdateFailoverStatus(): [Failover Complete] for replication [1]"},
    {"before the final state", "Total machines for DR"}};

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

// From the source's shutdown, less the backup and copy of the planned one,
// the array's planned and unplanned failovers take the same steps.
const std::vector<SCrash> kArrayFailoverCrashes = {
    {"source shut down", "[Shutdown] on VM [snap-app] GUID [snap-src-302] successful"},
    {"relationship broken", "BreakVolumeRelationship(): Break successful"},
    {"subclient disabled", "ChangeSubclientActivity(): Changed activity for appId"},
    {"mounted", "[DR-VM Snap Mount] on VM [snap-app] GUID [mount-"},
    {"mount recorded", "_LoadMountOpResp(): [DR-VM Snap Mount] on VM [snap-app]"},
    {"post-failover action", "[Post VM Failover] on VM [snap-app] GUID [mount-"},
    {"complete not stored", "UpdateFailoverStatus(): [Failover Complete] for replication [302]"},
    {"before the final state", "Total machines for DR"}};

const std::vector<SCrash> kArrayPlannedFailoverCrashes = [] {
  std::vector<SCrash> crashes = kArrayFailoverCrashes;
  const std::vector<SCrash> copies = {{"backup launched", "StartJob(): Started [backup] job"},
                                      {"backup waited on", "Backup(): Waiting for backup job"},
                                      {"backup ended", "ended [Completed]"},
                                      {"aux copy launched", "StartJob(): Started [aux copy] job"},
                                      {"aux copy waited on", "RunAuxCopy(): Waiting for aux copy job"},
                                      {"aux copy ended", "successfully aux copied for copyId"}};
  crashes.insert(crashes.begin() + 1, copies.begin(), copies.end());
  for (SCrash& crash : crashes) crash.differs = kBackupMayRunTwice;
  return crashes;
}();

const std::vector<SCrash> kArrayTestFailoverCrashes = {
    {"test mount made", "[DR-VM Test Snap Mount] on VM [snap-app] GUID [mount-"},
    {"test mount recorded", "_LoadMountOpResp(): [DR-VM Test Snap Mount] on VM [snap-app]"},
    {"post-failover action", "[Post VM Failover] on VM [snap-app] GUID [mount-"},
    {"complete not stored", "UpdateTestFailoverStatus(): [Test Failover Complete] for replication [302]"},
    {"before the final state", "Total machines for DR"}};

const std::vector<SCrash> kArrayUndoFailoverCrashes = {
    {"DR VM shut down", "[Shutdown] on VM [snap-app] GUID [mount-"},
    {"unmounted", "[DR-VM Snap Unmount] on VM [snap-app] GUID [mount-"},
    {"unmount recorded", "_LoadMountOpResp(): [DR-VM Snap Unmount] on VM [snap-app]"},
    {"LUN unmapped", "VerifyLUNMapping(): Successfully unmapped LUN"},
    {"relationships resynced", "ChangeSyncStatus(): [Resync Volume Relationship] successful"},
    {"subclient enabled", "ChangeSubclientActivity(): Changed activity for appId"},
    {"source on", "[Power On] on VM [snap-app] GUID [snap-src-302] successful"},
    {"complete not stored", "UpdateFailoverStatus(): [Revert Failover Complete] for replication [302]"},
    {"before the final state", "Total machines for DR"}};

const std::vector<SCrash> kArrayUndoTestFailoverCrashes = {
    {"test VM off", "[Power Off] on VM [snap-app] GUID [mount-"},
    // The unmounts run one machine at a time, each re-querying its afiles
    // just before it takes its datastore locks: the second is snap-app's.
    {"an unmount at its locks", "GetSnapMountContext(): Adding master job [90001] for querying mountInfo", 2},
    {"test mount unmounted", "[DR-VM Test Snap Unmount] on VM [snap-app] GUID [mount-"},
    {"unmount recorded", "_LoadMountOpResp(): [DR-VM Test Snap Unmount] on VM [snap-app]"},
    {"complete not stored", "UpdateTestFailoverStatus(): [] for replication [302]"},
    {"before the final state", "Total machines for DR"}};

}  // namespace

std::string TypeName(const testing::TestParamInfo<size_t>& info) {
  const SType& type = *AllTypes()[info.param];
  std::string name = type.group + "_" + type.type;
  // A type run twice, with options and without, is told apart by them.
  for (size_t i = 0; i < info.param; ++i) {
    const SType& earlier = *AllTypes()[i];
    if (earlier.group == type.group && earlier.type == type.type && !type.options.empty()) {
      name += "_" + type.options.front();
      break;
    }
  }
  for (char& c : name) {
    if (!isalnum(static_cast<unsigned char>(c))) c = '_';
  }
  return name;
}

const std::vector<SCrash>& CrashesOf(const SType& type) {
  static const std::map<const SType*, const std::vector<SCrash>*> crashes = {
      {&kPlannedFailover, &kPlannedFailoverCrashes},
      {&kFailback, &kFailbackCrashes},
      {&kUnplannedFailover, &kUnplannedFailoverCrashes},
      {&kPointInTimeFailover, &kPointInTimeFailoverCrashes},
      {&kTestboot, &kTestbootCrashes},
      {&kRevertFailover, &kRevertFailoverCrashes},
      {&kUndoFailover, &kUndoFailoverCrashes},
      {&kReverseReplication, &kReverseReplicationCrashes},
      {&kCleanupDestinationVM, &kCleanupDestinationVMCrashes},
      {&kCleanupDeletingDRVMs, &kCleanupDeletingDRVMsCrashes},
      {&kTestFailover, &kTestFailoverCrashes},
      {&kDatabaseFailover, &kDatabaseFailoverCrashes},
      {&kArrayPlannedFailover, &kArrayPlannedFailoverCrashes},
      {&kArrayUnplannedFailover, &kArrayFailoverCrashes},
      {&kArrayTestFailover, &kArrayTestFailoverCrashes},
      {&kArrayUndoFailover, &kArrayUndoFailoverCrashes},
      {&kArrayUndoTestFailover, &kArrayUndoTestFailoverCrashes}};
  static const std::vector<SCrash> none;
  const auto found = crashes.find(&type);
  return found != crashes.end() ? *found->second : none;
}

}  // namespace crashmatrix
