// DR types run one after another on one lab, where what one leaves decides
// how the next ends.
#include <string>

#include "db/DBConnection.h"
#include "host/CrashMatrix.h"

namespace {

using crashmatrix::EStartLab;
using E2EDrJobTypeSequence = crashmatrix::CCrashMatrix;

// Reverse replication keeps "Failover Complete" and stores no new reference
// to a source snapshot, while its restore removed the sources' snapshots: a
// revert then has nothing to take the sources back to. It fails every
// machine and says so, leaving the sources running what the reverse
// replication restored, with no reference to a snapshot left that a later
// step could take a running source back to.
TEST_F(E2EDrJobTypeSequence, ARevertAfterAReverseReplicationFailsEveryMachineAndSaysSo) {
  const std::string db = FreshLab(EStartLab::kFailedOver);
  const drtest::SResult reverse = RunOn(db, "Sample", "reverse-replication", 901);
  ASSERT_EQ(0, reverse.code) << reverse.output;
  const drtest::SResult revert = RunOn(db, "Sample", "revert-failover", 902);
  EXPECT_EQ(1, revert.code) << revert.output;
  CDBConnection::SetPath(db);
  EXPECT_EQ(R"(vm db-primary on 101 __OB_BACKUP__
vm db-primary-DR off 101 -
repl 101 Revert_Failover_Failed Sync_Disabled source-snap=- dr-snap=- pit=-
vm db-replica on 102 __OB_BACKUP__
vm db-replica-DR off 102 -
repl 102 Revert_Failover_Failed Sync_Disabled source-snap=- dr-snap=- pit=-
vm app-server on 201 __OB_BACKUP__
vm app-server-DR off 201 -
repl 201 Revert_Failover_Failed Sync_Disabled source-snap=- dr-snap=- pit=-
jobs backup Completed x2
jobs dr-site-backup Completed x2
jobs restore Completed x2
jobs sync Completed x2
)",
            crashmatrix::Picture("Sample"));
}

}  // namespace
