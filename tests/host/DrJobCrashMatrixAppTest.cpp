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

}  // namespace
