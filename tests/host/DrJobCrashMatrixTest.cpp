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
using crashmatrix::kTestFailover;

class E2EDrJobCrashMatrix : public CCrashMatrix {
 protected:
  void Run(const SType& type, const std::vector<SCrash>& crashes) {
    Expect(type, Reference(type), "uninterrupted");
    for (const SCrash& crash : crashes) Expect(type, Crash(type, crash), crash.name, crash.differs);
  }
};

TEST_F(E2EDrJobCrashMatrix, PlannedFailover) {
  Run(kPlannedFailover,
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
       {"between priorities", "Wait before processing next priority"},
       {"before the final state", "Total machines for DR"}});
}

TEST_F(E2EDrJobCrashMatrix, Failback) {
  Run(kFailback,
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
       {"complete not cleared", "MarkSuccess(): [Failback] has succeeded for replication [201]"},
       {"between priorities", "Wait before processing next priority"},
       {"before the final state", "Total machines for DR"}});
}

TEST_F(E2EDrJobCrashMatrix, UnplannedFailover) {
  Run(kUnplannedFailover,
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
  Run(kPointInTimeFailover,
      {{"source shut down", "[Shutdown] on VM [db-primary] GUID [src-101] successful"},
       {"failover snapshot taken", "[Create Snapshot] on VM [db-primary-DR] GUID [dst-101] successful"},
       {"reverted to the point in time", "[Revert Snapshot] on VM [db-primary-DR] GUID [dst-101] successful"},
       {"DR VM on", "[Power On] on VM [db-primary-DR] GUID [dst-101] successful"},
       {"DR backup snapshot deleted", "[Delete Snapshot] on VM [db-primary-DR] GUID [dst-101] successful"},
       {"complete not stored", "UpdateFailoverStatus(): [Failover Complete] for replication [101]"},
       {"between priorities", "Wait before processing next priority"},
       {"before the final state", "Total machines for DR"}});
}

TEST_F(E2EDrJobCrashMatrix, Testboot) {
  Run(kTestboot,
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
  Run(kRevertFailover,
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
  Run(kUndoFailover,
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
  Run(kReverseReplication,
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
  Run(kCleanupDestinationVM,
      {{"first priority removed", "Deleted the VM Replication options successfully from the database."},
       {"first machine complete", "MarkSuccess(): [Cleanup up Destination VM] has succeeded for replication [101]"},
       {"between priorities", "Wait before processing next priority"},
       {"before the final state", "Total machines for DR"}});
}

TEST_F(E2EDrJobCrashMatrix, TestFailover) {
  Run(kTestFailover,
      {{"DR VM described", "[Get VM Info VM] on VM [web-front-DR] GUID [dst-401] successful"},
       {"clone made", "[vm-1] successful with retcode"},
       {"clone refreshed", "Begin [Refresh VM] on VM [web-front-DR-Clone"},
       {"clone client set", "SetCloneVMClientProperties(): Set Expiration time"},
       {"clone powered on", "MarkSuccess(): [Test Failover] has succeeded for replication [401]"},
       {"before the final state", "Total machines for DR"}});
}

}  // namespace

