// The backup snapshots of the sources and the DR VMs across DR types run one
// after another on one lab: a snapshot a job would delete that is not there
// fails nothing, and a revert or an undo takes a source back only to the
// snapshot the planned failover that put the machine where it stands took,
// never to one an earlier job left, so no write into a source that ran
// since is lost.
#include <string>
#include <vector>

#include "db/DBConnection.h"
#include "db/ZNGlobalParam.h"
#include "host/CrashMatrix.h"
#include "host/KillTable.h"
#include "host/SeedLab.h"
#include "vsa/VSARepInfo.h"

namespace {

using crashmatrix::EStartLab;

// drjob's exit code for a job it ended KILLED.
constexpr int kExitKilled = 9;

class E2EDrJobSnapshots : public crashmatrix::CCrashMatrix {
 protected:
  // A DR type on "Sample", run to its end (env: a kill point).
  drtest::SResult Run(const std::string& db, const std::string& type, long long jobId,
                      const std::vector<std::string>& env = {}) {
    std::vector<std::string> args = {"run", "--db", db, "--group", "Sample", "--type", type,
                                     "--job-id", std::to_string(jobId)};
    if (type == "point-in-time-failover") {
      for (const char* id : {"101", "102", "201"}) {
        args.push_back("--point-in-time");
        args.push_back(std::string(id) + "=" + std::to_string(kSamplePointsInTime[0]));
      }
    }
    int signal = 0;
    return RunHost(env, args, signal);
  }
  // A seeded lab whose jobs take one machine at a time: a kill at a line of
  // db-primary's finds the other machines not begun.
  std::string SerialSeededLab() {
    const std::string db = FreshLab(EStartLab::kSeeded);
    CDBConnection::SetPath(db);
    EXPECT_TRUE(ZNGlobalParam::set(DRPLAN_SETTINGS_PARALLEL_THREAD_COUNT, "1"));
    CDBConnection::CloseThreadConnections();
    CDBConnection::SetPath("");
    return db;
  }
  // A write into a VM of the lab, as an operator's.
  void Write(const std::string& db, const std::string& vm) {
    int signal = 0;
    const drtest::SResult r = RunHost({}, {"lab", "--db", db, "write", vm}, signal);
    ASSERT_EQ(0, r.code) << r.output;
  }
  // The picture's line of a VM or a replication, by its first two words.
  static std::string LineOf(const std::string& db, const std::string& kind, const std::string& name) {
    CDBConnection::SetPath(db);
    const std::string picture = crashmatrix::Picture("Sample");
    CDBConnection::CloseThreadConnections();
    CDBConnection::SetPath("");
    for (const std::string& line : crashmatrix::PictureLines(picture)) {
      if (line.rfind(kind + " " + name + " ", 0) == 0) return line;
    }
    return std::string();
  }
  static void ExpectEverySucceeded(const drtest::SResult& r, long long jobId) {
    for (const char* machine : {"[db-primary] (replication 101)", "[db-replica] (replication 102)",
                                "[app-server] (replication 201)"}) {
      EXPECT_TRUE(drtest::Has(r, "drjob: DR job [" + std::to_string(jobId) + "] machine " + machine + ": succeeded\n"))
          << machine << "\n" << r.output;
    }
    EXPECT_TRUE(drtest::PrintedCommands(r.output).empty()) << r.output;
  }
  // The store refuses to remove replication 101's source snapshot
  // reference.
  static void KeepSourceSnapshotReferenceOf101(const std::string& db) {
    Sql(db,
        "CREATE TRIGGER keep BEFORE DELETE ON APP_VSAReplicationProp WHEN old.propertyTypeId=2209 AND "
        "old.replicationId=101 BEGIN SELECT RAISE(ABORT,'refused'); END");
  }
  // A statement on the lab's database.
  static void Sql(const std::string& db, const std::string& sql) {
    CDBConnection::SetPath(db);
    CDBConnection* c = CDBConnection::ForThread();
    ASSERT_NE(nullptr, c);
    EXPECT_EQ(DB_OK, c->Exec(sql)) << c->LastErrorText();
    CDBConnection::CloseThreadConnections();
    CDBConnection::SetPath("");
  }
};

// A revert deletes the DR VMs' backup snapshots with their failover ones: a
// failover after it finds none to delete, which is nothing to delete. Every
// machine is failed over, its DR VM running the workload.
TEST_F(E2EDrJobSnapshots, AFailoverAfterARevertFindsNoBackupSnapshotToDeleteAndFailsOverEveryMachine) {
  for (const char* type : {"unplanned-failover", "point-in-time-failover"}) {
    SCOPED_TRACE(type);
    const std::string db = FreshLab(EStartLab::kFailedOver);
    ASSERT_EQ(0, Run(db, "revert-failover", 2).code);
    const drtest::SResult failover = Run(db, type, 7);
    EXPECT_EQ(0, failover.code) << failover.output;
    ExpectEverySucceeded(failover, 7);
    for (const char* vm : {"db-primary-DR", "db-replica-DR", "app-server-DR"}) {
      EXPECT_EQ(0u, LineOf(db, "vm", vm).find(std::string("vm ") + vm + " on ")) << LineOf(db, "vm", vm);
    }
    EXPECT_EQ(0u, LineOf(db, "repl", "101").find("repl 101 Failover_Complete Sync_Disabled "))
        << LineOf(db, "repl", "101");
  }
}

// A planned failover killed once it took db-primary's source snapshot: the
// kill's clean-up starts the source again, which is written to twice. A
// failover that takes no source snapshot (unplanned, point in time) then
// moves the workload; the undo or revert after it brings the source back
// as it ran, with both writes, never as the killed attempt's snapshot holds
// it.
TEST_F(E2EDrJobSnapshots, AnUndoOrRevertNeverTakesASourceBackToTheSnapshotOfAKilledPlannedFailover) {
  struct SCase {
    const char* failover;
    const char* back;
  };
  for (const SCase& c : {SCase{"unplanned-failover", "undo-failover"}, SCase{"unplanned-failover", "revert-failover"},
                         SCase{"point-in-time-failover", "undo-failover"},
                         SCase{"point-in-time-failover", "revert-failover"}}) {
    SCOPED_TRACE(std::string(c.failover) + ", then " + c.back);
    const std::string db = SerialSeededLab();
    Write(db, "db-primary");
    const drtest::SResult killed =
        Run(db, "planned-failover", 1, {"DR_KILL_AT=for source VM on repl [101]"});
    ASSERT_EQ(kExitKilled, killed.code) << killed.output;
    ASSERT_EQ(0u, LineOf(db, "vm", "db-primary").find("vm db-primary on 102 __OB_BACKUP__"))
        << LineOf(db, "vm", "db-primary");
    Write(db, "db-primary");
    Write(db, "db-primary");
    const drtest::SResult failover = Run(db, c.failover, 2);
    ASSERT_EQ(0, failover.code) << failover.output;
    const drtest::SResult back = Run(db, c.back, 3);
    EXPECT_EQ(0, back.code) << back.output;
    ExpectEverySucceeded(back, 3);
    EXPECT_EQ(0u, LineOf(db, "vm", "db-primary").find("vm db-primary on 104 ")) << LineOf(db, "vm", "db-primary");
    EXPECT_EQ(0u, LineOf(db, "repl", "101").find("repl 101 - ")) << LineOf(db, "repl", "101");
  }
}

// A reverse replication restores each source from its DR VM and leaves both
// running: the source's snapshot from before the failover is gone, and the
// one the reverse replication ends with was taken of a source that runs on.
// An undo after it takes back no source to either: it brings each back as
// it runs, with what was written into it since, where before it failed
// every machine looking for the gone snapshot and printed itself again.
TEST_F(E2EDrJobSnapshots, AnUndoAfterAReverseReplicationBringsTheSourcesBackAsTheyRun) {
  const std::string db = FreshLab(EStartLab::kFailedOver);
  ASSERT_EQ(0, Run(db, "reverse-replication", 2).code);
  Write(db, "db-primary");
  Write(db, "db-primary-DR");
  const drtest::SResult undo = Run(db, "undo-failover", 3);
  EXPECT_EQ(0, undo.code) << undo.output;
  ExpectEverySucceeded(undo, 3);
  EXPECT_EQ("vm db-primary on 102 __OB_BACKUP__", LineOf(db, "vm", "db-primary"));
  EXPECT_EQ("vm db-primary-DR off 102 __OB_BACKUP__", LineOf(db, "vm", "db-primary-DR"));
  EXPECT_EQ("repl 101 - In_Sync source-snap=- dr-snap=- pit=-", LineOf(db, "repl", "101"));
}

// A failback killed past its restore: its clean-up shut the restored
// sources down and runs the DR VMs again ("Failback Failed"); app-server,
// whose priority never began, stands failed over as the planned failover
// left it. The undo hands each workload back: the restored sources as they
// stand, app-server's reverted to its own failover's snapshot; before, the
// restored machines failed looking for the snapshot the restore replaced,
// and the printed new undo failed them the same way.
TEST_F(E2EDrJobSnapshots, AnUndoAfterAFailbackKilledPastItsRestoreHandsEveryWorkloadBack) {
  // The kill is requested when the job starts waiting on the first
  // priority's post-replication; on a loaded machine a machine's may finish
  // before the job takes the kill, and the job completes with errors with
  // that machine failed back. The case needs the kill: it is made again on
  // a fresh lab then, at most five times.
  std::string db;
  drtest::SResult killed{-1, std::string()};
  for (int attempt = 0; attempt < 5; ++attempt) {
    db = FreshLab(EStartLab::kFailedOver);
    killed = Run(db, "failback", 2, {"DR_KILL_AT=Waiting for all [Post Replication]"});
    if (killed.code != 8) break;
  }
  ASSERT_EQ(kExitKilled, killed.code) << killed.output;
  ASSERT_EQ(0u, LineOf(db, "repl", "101").find("repl 101 Failback_Failed ")) << LineOf(db, "repl", "101");
  const drtest::SResult undo = Run(db, "undo-failover", 3);
  EXPECT_EQ(0, undo.code) << undo.output;
  ExpectEverySucceeded(undo, 3);
  for (const char* vm : {"db-primary", "db-replica", "app-server"}) {
    EXPECT_EQ(0u, LineOf(db, "vm", vm).find(std::string("vm ") + vm + " on ")) << LineOf(db, "vm", vm);
  }
  EXPECT_EQ("vm app-server on 201 -", LineOf(db, "vm", "app-server"));
}

// A failover that takes no source snapshot drops the reference an earlier
// job left before it touches the machine; when the store keeps it, the
// machine is left out, its source still running what it ran, rather than
// failed over with a reference that a later undo or revert would take the
// running source back with.
TEST_F(E2EDrJobSnapshots, AFailoverThatCannotDropAnEarlierSourceSnapshotReferenceLeavesTheMachineAsItRuns) {
  const std::string db = SerialSeededLab();
  ASSERT_EQ(kExitKilled, Run(db, "planned-failover", 1, {"DR_KILL_AT=for source VM on repl [101]"}).code);
  Write(db, "db-primary");
  KeepSourceSnapshotReferenceOf101(db);
  const drtest::SResult failover = Run(db, "unplanned-failover", 2);
  EXPECT_EQ(8, failover.code) << failover.output;
  EXPECT_TRUE(drtest::Has(failover, "drjob: DR job [2] machine [app-server] (replication 201): succeeded\n"))
      << failover.output;
  EXPECT_EQ("vm db-primary on 102 __OB_BACKUP__", LineOf(db, "vm", "db-primary"));
  EXPECT_EQ(0u, LineOf(db, "vm", "db-primary-DR").find("vm db-primary-DR off ")) << LineOf(db, "vm", "db-primary-DR");
  EXPECT_EQ(0u, LineOf(db, "repl", "101").find("repl 101 Failover_Failed ")) << LineOf(db, "repl", "101");
}

// The revert leaves a source off while the reference to its snapshot is
// stored (here the store refuses to remove it): started, the source would
// run the workload under a reference that a restart or an undo would revert
// it to, losing what it wrote since.
TEST_F(E2EDrJobSnapshots, ARevertLeavesASourceOffWhileItsSnapshotReferenceIsStored) {
  const std::string db = FreshLab(EStartLab::kFailedOver);
  KeepSourceSnapshotReferenceOf101(db);
  const drtest::SResult revert = Run(db, "revert-failover", 2);
  EXPECT_EQ(8, revert.code) << revert.output;
  EXPECT_TRUE(drtest::Has(revert, "drjob: DR job [2] machine [db-replica] (replication 102): succeeded\n"))
      << revert.output;
  EXPECT_EQ(0u, LineOf(db, "vm", "db-primary").find("vm db-primary off ")) << LineOf(db, "vm", "db-primary");
  EXPECT_EQ(0u, LineOf(db, "repl", "101").find("repl 101 Revert_Failover_Failed Sync_Disabled source-snap=gone "))
      << LineOf(db, "repl", "101");
}

}  // namespace
