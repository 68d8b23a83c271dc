// The DR types of the crash matrix and the crash sampler: how each is run
// and the literal picture of the lab an uninterrupted run leaves.
#include "host/CrashMatrixTypes.h"

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
