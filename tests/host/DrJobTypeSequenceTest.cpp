// DR types run one after another on one lab, where what one leaves decides
// how the next ends.
#include <string>

#include "db/DBConnection.h"
#include "host/CrashMatrix.h"

namespace {

using crashmatrix::EStartLab;
using E2EDrJobTypeSequence = crashmatrix::CCrashMatrix;

// Reverse replication keeps "Failover Complete" and restores each source
// from its DR VM, which replaces the source's snapshot from before the
// failover; it leaves no reference to a source snapshot (the one it ends
// with was taken of a source that runs on). A revert after it has no
// snapshot of the failover to take the sources back to: it reverts none and
// brings each source back as it runs, the DR VMs off, sync enabled.
TEST_F(E2EDrJobTypeSequence, ARevertAfterAReverseReplicationBringsTheSourcesBackAsTheyRun) {
  const std::string db = FreshLab(EStartLab::kFailedOver);
  const drtest::SResult reverse = RunOn(db, "Sample", "reverse-replication", 901);
  ASSERT_EQ(0, reverse.code) << reverse.output;
  const drtest::SResult revert = RunOn(db, "Sample", "revert-failover", 902);
  EXPECT_EQ(0, revert.code) << revert.output;
  CDBConnection::SetPath(db);
  EXPECT_EQ(R"(vm db-primary on 101 __OB_BACKUP__
vm db-primary-DR off 101 -
repl 101 - In_Sync source-snap=- dr-snap=- pit=-
vm db-replica on 102 __OB_BACKUP__
vm db-replica-DR off 102 -
repl 102 - In_Sync source-snap=- dr-snap=- pit=-
vm app-server on 201 __OB_BACKUP__
vm app-server-DR off 201 -
repl 201 - In_Sync source-snap=- dr-snap=- pit=-
jobs backup Completed x2
jobs dr-site-backup Completed x2
jobs restore Completed x2
jobs sync Completed x2
)",
            crashmatrix::Picture("Sample"));
}

}  // namespace
