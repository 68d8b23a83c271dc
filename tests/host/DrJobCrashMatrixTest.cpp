// The crash matrix of the DR types on VM replications: each type's
// uninterrupted run against its literal picture, then the same run killed
// at the moments that change what a rerun must handle, each rerun against
// the same picture.
#include <string>
#include <vector>

#include "host/CrashMatrixTypes.h"

namespace {

using crashmatrix::CCrashMatrix;
using crashmatrix::SCrash;
using crashmatrix::SType;
using crashmatrix::kPlannedFailover;
using crashmatrix::kFailback;
using crashmatrix::kUnplannedFailover;
using crashmatrix::kPointInTimeFailover;
using crashmatrix::kTestboot;
using crashmatrix::kRevertFailover;
using crashmatrix::kUndoFailover;
using crashmatrix::kReverseReplication;
using crashmatrix::kCleanupDestinationVM;
using crashmatrix::kCleanupDeletingDRVMs;
using crashmatrix::kTestFailover;

using E2EDrJobCrashMatrix = CCrashMatrix;

TEST_F(E2EDrJobCrashMatrix, PlannedFailover) {
  RunMatrix(kPlannedFailover,
            {{"backup launched", "StartJob(): Started [backup] job"},
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
             // Completed before its group switched its client's backups back
             // on: the rerun, which leaves it out of the group, does that.
             {"complete, backups still off", "MarkSuccess(): [Planned Failover] has succeeded for replication [101]"},
             {"between priorities", "Wait before processing next priority"},
             {"before the final state", "Total machines for DR"}});
}

TEST_F(E2EDrJobCrashMatrix, Failback) {
  RunMatrix(kFailback,
            {{"source off", "[Power Off] on VM [db-primary] GUID [src-101] successful"},
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
             {"before the final state", "Total machines for DR"}});
}

TEST_F(E2EDrJobCrashMatrix, UnplannedFailover) {
  RunMatrix(kUnplannedFailover,
            {{"source off", "[Power Off] on VM [db-primary] GUID [src-101] successful"},
             {"failover snapshot taken", "[Create Snapshot] on VM [db-primary-DR] GUID [dst-101] successful"},
             {"DR VM on", "[Power On] on VM [db-primary-DR] GUID [dst-101] successful"},
             {"sync disabled", "Setting sync status as [Sync Disabled] for replication [101]"},
             {"DR backup snapshot deleted", "[Delete Snapshot] on VM [db-primary-DR] GUID [dst-101] successful"},
             {"complete not stored", "UpdateFailoverStatus(): [Failover Complete] for replication [101]"},
             {"between priorities", "Wait before processing next priority"},
             {"before the final state", "Total machines for DR"}});
}

TEST_F(E2EDrJobCrashMatrix, PointInTimeFailover) {
  // Every machine completed; the rerun cannot reach the DR site, where it
  // could not tell whether a DR VM runs. Done is done: it asks nothing.
  SCrash unreachable("before the final state, the DR site out of reach", "Total machines for DR");
  unreachable.unreachable = "site-b";
  RunMatrix(kPointInTimeFailover,
            {{"source shut down", "[Shutdown] on VM [db-primary] GUID [src-101] successful"},
             {"failover snapshot taken", "[Create Snapshot] on VM [db-primary-DR] GUID [dst-101] successful"},
             {"reverted to the point in time", "[Revert Snapshot] on VM [db-primary-DR] GUID [dst-101] successful"},
             {"DR VM on", "[Power On] on VM [db-primary-DR] GUID [dst-101] successful"},
             {"DR backup snapshot deleted", "[Delete Snapshot] on VM [db-primary-DR] GUID [dst-101] successful"},
             {"complete not stored", "UpdateFailoverStatus(): [Failover Complete] for replication [101]"},
             {"between priorities", "Wait before processing next priority"},
             {"before the final state", "Total machines for DR"},
             unreachable});
}

TEST_F(E2EDrJobCrashMatrix, Testboot) {
  RunMatrix(kTestboot,
            {{"sync disabled", "Setting sync status as [Sync Disabled] for replication [101]"},
             {"test-boot snapshot taken", "[Create Snapshot] on VM [db-primary-DR] GUID [dst-101] successful"},
             {"adapters disabled", "[Disable Network Adapters] on VM [db-primary-DR] GUID [dst-101] successful"},
             {"DR VM booted", "[Power On] on VM [db-primary-DR] GUID [dst-101] successful"},
             {"DR VM shut down", "[Shutdown] on VM [db-primary-DR] GUID [dst-101] successful"},
             {"DR VM reverted", "[Revert Snapshot] on VM [db-primary-DR] GUID [dst-101] successful"},
             {"test-boot snapshot deleted", "[Delete Snapshot] on VM [db-primary-DR] GUID [dst-101] successful"},
             {"sync back", "Setting sync status as [In Sync] for replication [101]"},
             {"between priorities", "Wait before processing next priority"},
             {"before the final state", "Total machines for DR"}});
}

TEST_F(E2EDrJobCrashMatrix, RevertFailover) {
  RunMatrix(kRevertFailover,
            {{"DR VM shut down", "[Shutdown] on VM [db-primary-DR] GUID [dst-101] successful"},
             {"DR VM reverted", "[Revert Snapshot] on VM [db-primary-DR] GUID [dst-101] successful"},
             {"failover snapshot deleted", "[Delete Snapshot] on VM [db-primary-DR] GUID [dst-101] successful"},
             {"source on", "[Power On] on VM [db-primary] GUID [src-101] successful"},
             {"source reverted", "[Revert Snapshot] on VM [db-primary] GUID [src-101] successful"},
             {"source snapshot deleted", "[Delete Snapshot] on VM [db-primary] GUID [src-101] successful"},
             {"sync enabled", "Setting sync status as [In Sync] for replication [101]"},
             {"complete not stored", "UpdateFailoverStatus(): [] for replication [101]"},
             {"between priorities", "Wait before processing next priority"},
             {"before the final state", "Total machines for DR"}});
}

TEST_F(E2EDrJobCrashMatrix, UndoFailover) {
  RunMatrix(kUndoFailover,
            {{"DR VM shut down", "[Shutdown] on VM [db-primary-DR] GUID [dst-101] successful"},
             {"DR VM reverted", "[Revert Snapshot] on VM [db-primary-DR] GUID [dst-101] successful"},
             {"failover snapshot deleted", "[Delete Snapshot] on VM [db-primary-DR] GUID [dst-101] successful"},
             {"source reverted", "[Revert Snapshot] on VM [db-primary] GUID [src-101] successful"},
             {"source snapshot deleted", "[Delete Snapshot] on VM [db-primary] GUID [src-101] successful"},
             {"DR backup snapshot taken", "[Create Snapshot] on VM [db-primary-DR] GUID [dst-101] successful"},
             {"source on", "[Power On] on VM [db-primary] GUID [src-101] successful"},
             {"sync enabled", "Setting sync status as [In Sync] for replication [101]"},
             {"complete not stored", "UpdateFailoverStatus(): [] for replication [101]"},
             {"between priorities", "Wait before processing next priority"},
             {"before the final state", "Total machines for DR"}});
}

TEST_F(E2EDrJobCrashMatrix, ReverseReplication) {
  RunMatrix(kReverseReplication,
            {{"failover snapshot deleted", "[Delete Snapshot] on VM [db-primary-DR] GUID [dst-101] successful"},
             {"point-in-time snapshot deleted", "[Delete Snapshot] on VM [db-primary-DR] GUID [dst-101] successful", 2},
             {"DR-site backup launched", "StartJob(): Started [backup] job"},
             {"DR-site backup ended", "ended [Completed]"},
             {"restore launched", "StartJob(): Started [sync] job"},
             {"restore waited on", "RunSync(): Waiting for sync job"},
             {"restore ended", "IsAllVMsSynced(): All DR VMs are IN SYNC"},
             {"source snapshot taken", "[Create Snapshot] on VM [db-primary] GUID [src-101] successful"},
             {"sync disabled", "Setting sync status as [Sync Disabled] for replication [101]"},
             {"between priorities", "Wait before processing next priority"},
             {"before the final state", "Total machines for DR"}});
}

TEST_F(E2EDrJobCrashMatrix, CleanupDestinationVM) {
  RunMatrix(kCleanupDestinationVM,
            {{"first priority removed", "Deleted the VM Replication options successfully from the database."},
             {"first machine complete",
              "MarkSuccess(): [Cleanup up Destination VM] has succeeded for replication [101]"},
             {"between priorities", "Wait before processing next priority"},
             {"before the final state", "Total machines for DR"}});
}

// A rerun asking the hypervisor to delete a DR VM its earlier run deleted
// would get "not found", leave the machine out of the removal and end with
// errors; the record would stay, naming a VM that no longer exists.
TEST_F(E2EDrJobCrashMatrix, CleanupDeletingDRVMs) {
  RunMatrix(kCleanupDeletingDRVMs,
            {{"DR VM deleted", "DeleteDestVM succeeded for replication [101]"},
             {"DR VM deleted, its row not", "[Delete Operation] on VM [db-primary-DR] GUID [dst-101] successful"},
             {"first priority removed", "Deleted the VM Replication options successfully from the database."},
             {"before the final state", "Total machines for DR"}});
}

TEST_F(E2EDrJobCrashMatrix, TestFailover) {
  RunMatrix(kTestFailover,
            {{"DR VM described", "[Get VM Info VM] on VM [web-front-DR] GUID [dst-401] successful"},
             {"clone made", "[vm-1] successful with retcode"},
             {"clone refreshed", "Begin [Refresh VM] on VM [web-front-DR-Clone"},
             {"clone client set", "SetCloneVMClientProperties(): Set Expiration time"},
             {"clone powered on", "MarkSuccess(): [Test Failover] has succeeded for replication [401]"},
             {"before the final state", "Total machines for DR"}});
}

}  // namespace

