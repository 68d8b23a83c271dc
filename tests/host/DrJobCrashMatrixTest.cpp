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
    for (const SCrash& crash : crashes) Expect(type, Crash(type, crash), crash.name);
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

TEST_F(E2EDrJobCrashMatrix, PrintPictures) {
  const SType types[] = {
      {"Sample", "planned-failover", {}, EStartLab::kSeeded, 0, "", kSampleAtDR, true},
      {"Sample", "failback", {}, EStartLab::kFailedOver, 0, "", kSampleAtSource, true},
  };
  for (const SType& t : types) {
    const crashmatrix::SOutcome o = Reference(t);
    printf("=== %s %s exit %d\n%s", t.group.c_str(), t.type.c_str(), o.exitCode, o.picture.c_str());
  }
}

}  // namespace
