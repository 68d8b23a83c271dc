// drjob lab show on what the database and storage-array DR change: the
// database and storage-array replications' statuses and the subclients'
// activity, as seeded and as the owners change them, a record that does not
// read, and a lab without such records. The DR runs that change them are in
// DrJobDatabaseTest.cpp and DrJobArrayTest.cpp.
#include <string>
#include <vector>

#include "appmgr/SubclientActivityStore.h"
#include "array/SnapReplicationStore.h"
#include "host/DrJobTestSupport.h"
#include "host/SeedArrays.h"
#include "repl/ReplicaSyncStore.h"
#include "tasksim/DatabaseLabSeed.h"

namespace drtest {
namespace {

using Rows = std::vector<std::vector<std::string>>;

class E2EDrJobLabShow : public CDrJobLabTest {
 protected:
  SResult Show() { return Host("lab show --db " + m_db); }
};

TEST_F(E2EDrJobLabShow, TheSeededStatusesAndTheirChangesAreShownAndAnUnreadableRecordIsNamed) {
  SResult r = Show();
  ASSERT_EQ(0, r.code) << r.output;
  Rows databases;
  for (const SSeedDBReplication& d : CDatabaseLabSeed::Sample().replications) {
    databases.push_back({std::to_string(d.replicationId), std::to_string(d.subclientId), "-", "In", "Sync"});
  }
  EXPECT_EQ(databases, LabSection(r.output, "database replications"));
  Rows arrays;
  for (const SSampleArrayVM& vm : kSampleArrayVMs) {
    arrays.push_back({std::to_string(vm.replicationId), vm.name, std::to_string(vm.subclientId), "-", "-"});
  }
  EXPECT_EQ(arrays, LabSection(r.output, "storage-array replications"));
  EXPECT_EQ((Rows{{"61", "backup", "enabled"}, {"62", "backup", "enabled"}}),
            LabSection(r.output, "subclient activity"));

  // Statuses with a text and without one, and a switch of a subclient no
  // storage-array replication names.
  App::ReplicaSyncReplicationInfo database;
  database.SetInt32(App::ReplicaSyncReplicationInfo::kReplicationId, 1);
  database.SetInt32(App::ReplicaSyncReplicationInfo::kFailoverStatus,
                    App::VSA_FAILOVER_STATUS_REVERT_FAILOVER_COMPLETE);
  database.SetInt32(App::ReplicaSyncReplicationInfo::kSyncStatus, 99);
  std::string error;
  ASSERT_EQ(0, CReplicaSyncStore::Merge(database, error)) << error;
  SSnapReplication array;
  ASSERT_EQ(EStoreResult::kOk, CSnapReplicationStore::Get(301, array));
  array.info.SetInt32(Api::SnapDRReplicationInfo::kTestFailoverStatus, App::DR_TEST_FAILOVER_STATUS_UNDO_IN_PROGRESS);
  ASSERT_EQ(EStoreResult::kOk, CSnapReplicationStore::Replace(array.drGroupId, array.info));
  ASSERT_TRUE(CSubclientActivityStore::SetEnabled(62, CSubclientActivityStore::kBackupOpType, false));
  ASSERT_TRUE(CSubclientActivityStore::SetEnabled(31, 13, false));
  r = Show();
  ASSERT_EQ(0, r.code) << r.output;
  EXPECT_EQ((std::vector<std::string>{"1", "31", "Revert", "Failover", "Complete", "[99]"}),
            LabSection(r.output, "database replications").at(0));
  EXPECT_EQ((std::vector<std::string>{"301", "snap-web", "61", "-", "Undo-Test", "Failover", "in", "Progress"}),
            LabSection(r.output, "storage-array replications").at(0));
  EXPECT_EQ((Rows{{"31", "[13]", "disabled"}, {"61", "backup", "enabled"}, {"62", "backup", "disabled"}}),
            LabSection(r.output, "subclient activity"));

  // Records whose stored messages do not read are named where they belong;
  // the rest of the lab is still shown, and the exit code says it was not all.
  Sql("UPDATE APP_ReplicaSyncReplication SET xml = '<broken' WHERE replicationId = 2");
  Sql("UPDATE PLT_SnapReplications SET msg = 'broken' WHERE replicationId = 303");
  Sql("UPDATE PLT_VSAReplicationMsg SET xml = '<broken' WHERE replicationId = 102");
  r = Show();
  EXPECT_EQ(4, r.code) << r.output;
  EXPECT_TRUE(Has(r, "3 record(s) of the lab of [" + m_db + "] cannot be read")) << r.output;
  const Rows shownVMs = LabSection(r.output, "replications");
  ASSERT_EQ(5u, shownVMs.size()) << r.output;
  EXPECT_EQ("cannot", shownVMs[1].at(1));
  EXPECT_EQ("In", shownVMs[2].at(2));
  const Rows shownDatabases = LabSection(r.output, "database replications");
  ASSERT_EQ(2u, shownDatabases.size()) << r.output;
  EXPECT_EQ((std::vector<std::string>{"2", "cannot", "be", "read", "(see", "the", "log)"}), shownDatabases[1]);
  const Rows shownArrays = LabSection(r.output, "storage-array replications");
  ASSERT_EQ(4u, shownArrays.size()) << r.output;
  EXPECT_EQ("cannot", shownArrays[2].at(1));
  EXPECT_EQ("snap-files", shownArrays[3].at(1));
  // Subclient 62 is still named by replication 304.
  EXPECT_EQ(3u, LabSection(r.output, "subclient activity").size());
  EXPECT_TRUE(Has(r, "\narray calls:\n")) << r.output;
}

TEST_F(E2EDrJobLabShow, ALabOfVMReplicationsOnlyShowsNoDatabaseOrStorageArraySection) {
  // No owner removes these records: a lab made before the database and
  // storage-array samples existed.
  Sql("DELETE FROM APP_ReplicaSyncReplication");
  Sql("DELETE FROM PLT_SnapReplications");
  const SResult r = Show();
  ASSERT_EQ(0, r.code) << r.output;
  EXPECT_EQ(5u, LabSection(r.output, "replications").size()) << r.output;
  for (const char* title : {"database replications:", "storage-array replications:", "subclient activity:"}) {
    EXPECT_FALSE(Has(r, title)) << title << "\n" << r.output;
  }
}

}  // namespace
}  // namespace drtest
