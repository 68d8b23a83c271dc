// The crash matrix of the DR types on VM replications: each type's
// uninterrupted run against its literal picture, then the same run killed
// at the moments that change what a rerun must handle, each rerun against
// the same picture.
#include <string>
#include <vector>

#include "host/CrashMatrix.h"

namespace {

using crashmatrix::CCrashMatrix;
using crashmatrix::EStartLab;
using crashmatrix::SCrash;
using crashmatrix::SMachine;
using crashmatrix::SType;

const std::vector<SMachine> kSampleAtDR = {
    {"db-primary-DR", "db-primary"}, {"db-replica-DR", "db-replica"}, {"app-server-DR", "app-server"}};
const std::vector<SMachine> kSampleAtSource = {
    {"db-primary", "db-primary-DR"}, {"db-replica", "db-replica-DR"}, {"app-server", "app-server-DR"}};

class E2EDrJobCrashMatrix : public CCrashMatrix {
 protected:
  void Run(const SType& type, const std::vector<SCrash>& crashes) {
    Expect(type, Reference(type), "uninterrupted");
    for (const SCrash& crash : crashes) Expect(type, Crash(type, crash), crash.name, crash.differs);
  }
};

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

// A revert leaves nothing running: the sources go back to their snapshot
// from the failover, off, whatever they held meanwhile.
const SType kRevertFailover = {"Sample", "revert-failover", {}, EStartLab::kFailedOver, 0,
                               R"(vm db-primary off 101 -
vm db-primary-DR off 101 db-primary-DR_1767225600,db-primary-DR_1767229200
repl 101 - In_Sync source-snap=- dr-snap=- pit=-
vm db-replica off 102 -
vm db-replica-DR off 102 db-replica-DR_1767225600,db-replica-DR_1767229200
repl 102 - In_Sync source-snap=- dr-snap=- pit=-
vm app-server off 201 -
vm app-server-DR off 201 app-server-DR_1767225600,app-server-DR_1767229200
repl 201 - In_Sync source-snap=- dr-snap=- pit=-
jobs backup Completed x2
jobs sync Completed x2
)",
                               {}, false};

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

// Both sides run afterwards and the DR VMs keep the workload: a source holds
// whatever its DR VM held when it was backed up, a write included or not.
const SType kReverseReplication = {"Sample", "reverse-replication", {}, EStartLab::kFailedOver, 0,
                                   R"(vm db-primary on * __OB_BACKUP__
vm db-primary-DR on 101 -
repl 101 Failover_Complete Sync_Disabled source-snap=gone dr-snap=- pit=-
vm db-replica on * __OB_BACKUP__
vm db-replica-DR on 102 -
repl 102 Failover_Complete Sync_Disabled source-snap=gone dr-snap=- pit=-
vm app-server on * __OB_BACKUP__
vm app-server-DR on 201 -
repl 201 Failover_Complete Sync_Disabled source-snap=gone dr-snap=- pit=-
jobs backup Completed x2
jobs dr-site-backup Completed x2
jobs restore Completed x2
jobs sync Completed x2
)",
                                   kSampleAtDR, false};

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

TEST_F(E2EDrJobCrashMatrix, CleanupDestinationVM) {
  Run(kCleanupDestinationVM,
      {{"first priority removed", "Deleted the VM Replication options successfully from the database."},
       {"first machine complete", "MarkSuccess(): [Cleanup up Destination VM] has succeeded for replication [101]"},
       {"between priorities", "Wait before processing next priority"},
       {"before the final state", "Total machines for DR"}});
}

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

