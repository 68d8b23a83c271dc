// How a job's printed next steps lead on, end to end on copies of the start
// labs: every command stands on a line of its own that names every machine
// it takes when run right after the job; no command repeats the restore
// options that left a machine out; a workload that runs nowhere is told
// with the type that brings it up, whatever the job's state; no name of the
// lab (a group's, a machine's) can be read as a command, and a very long one
// is cut.
#include <signal.h>

#include <algorithm>
#include <string>
#include <vector>

#include "host/CrashMatrix.h"
#include "appmgr/DatabaseHosts.h"
#include "host/DrJobArgs.h"
#include "jobs/MachineVerdictStore.h"
#include "msg/MsgEnums.h"
#include "tasksim/DatabaseLabSeed.h"
#include "vm/HypervisorLab.h"
#include "vm/HypervisorLabSeed.h"

namespace {

using crashmatrix::EStartLab;
using drtest::SResult;

class E2EDrJobNextSteps : public crashmatrix::CCrashMatrix {
 protected:
  SResult Run(const std::vector<std::string>& env, const std::vector<std::string>& args) {
    int signal = 0;
    const SResult r = RunHost(env, args, signal);
    EXPECT_EQ(0, signal) << r.output;
    return r;
  }

  static bool Has(const SResult& r, const std::string& text) { return drtest::Has(r, text); }

  // A statement on the closed lab db.
  static void Sql(const std::string& db, const std::string& statement) {
    const SResult r = drtest::RunShell("sqlite3 '" + db + "' \"" + statement + "\" 2>&1");
    ASSERT_EQ(0, r.code) << statement << "\n" << r.output;
  }

  // The machines drjob's run took up: every machine line whose verdict is
  // not a skip, by replication.
  static std::vector<int> TakenUp(const std::string& output) {
    std::vector<int> taken;
    std::istringstream in(output);
    for (std::string line; std::getline(in, line);) {
      const size_t at = line.find("] (replication ");
      if (line.rfind("drjob: DR job [", 0) != 0 || line.find("] machine [") == std::string::npos ||
          at == std::string::npos) {
        continue;
      }
      const size_t verdict = line.find("): ", at);
      if (verdict == std::string::npos || line.compare(verdict + 3, 7, "skipped") == 0) continue;
      taken.push_back(atoi(line.c_str() + at + 15));
    }
    return taken;
  }

  // Each printed command of a new job, run right after the job on a copy
  // of its lab: every machine it takes up is named on the line before it.
  void ExpectEachLineNamesWhatItsCommandTakes(const std::string& db, const std::string& output) {
    std::vector<std::string> told;
    const std::vector<std::string> commands = drtest::PrintedCommands(output, &told);
    for (size_t i = 0; i < commands.size(); ++i) {
      if (commands[i].find(" --group ") == std::string::npos) continue;  // a restart
      const std::string copy = db + "-step" + std::to_string(i) + ".db";
      ASSERT_EQ(0, drtest::RunShell("cp '" + db + "' '" + copy + "'").code);
      std::string command = commands[i];
      const std::string on = "--db " + db + " ";
      ASSERT_NE(std::string::npos, command.find(on)) << command;
      command.replace(command.find(on), on.size(), "--db " + copy + " ");
      const SResult step = RunAsPrinted(command);
      for (const int id : TakenUp(step.output)) {
        EXPECT_NE(std::string::npos, told[i].find(" (" + std::to_string(id) + ")"))
            << "replication " << id << " is taken by the command of\n"
            << told[i] << "\nbut not named there; the job:\n"
            << output << "the command run right after it:\n"
            << step.output;
      }
    }
  }

  // Whether either VM of the sample group's replication runs, on the
  // closed lab db.
  static bool Runs(const std::string& db, int replicationId) {
    CDBConnection::SetPath(db);
    bool on = false;
    for (const auto& vm : {std::make_pair(CHypervisorLabSeed::kSampleSourceInstanceId, "src-"),
                           std::make_pair(CHypervisorLabSeed::kSampleDestinationInstanceId, "dst-")}) {
      SLabVM found;
      EXPECT_EQ(EStoreResult::kOk, CHypervisorLab::GetVM(vm.first, vm.second + std::to_string(replicationId), found));
      on = on || found.poweredOn;
    }
    CDBConnection::CloseThreadConnections();
    CDBConnection::SetPath("");
    return on;
  }
};

// A failback given restore options that name priority 1's VMs only fails
// app-server's restore: no command repeats the file, the line says what to
// give instead, and the failback without it, run as printed, restores
// app-server.
TEST_F(E2EDrJobNextSteps, RestoreOptionsThatLeaveAMachineOutAreRepeatedByNoCommand) {
  const std::string db = FreshLab(EStartLab::kFailedOver);
  const std::string restore = db + "-restore.xml";
  ASSERT_TRUE(drtest::WritePriorityOneRestoreOptions(restore));
  const SResult r = Run({}, {"run", "--db", db, "--group", "Sample", "--type", "failback", "--restore-options",
                             restore, "--job-id", "7"});
  ASSERT_EQ(8, r.code) << r.output;
  EXPECT_TRUE(Has(r, "drjob: DR job [7] machine [app-server] (replication 201): failed in phase [Replication]"))
      << r.output;
  EXPECT_TRUE(Has(r, "drjob: DR job [7] completed with errors and is not run again; a new DR job of its type would "
                     "take none of the machines it did not finish, as they stand\n"))
      << r.output;
  EXPECT_TRUE(Has(r, "(replication 201) at failover status [Failback Failed], sync status [Sync Disabled]: the "
                     "job's restore options leave it out: a new DR job of type [failback] takes it given restore "
                     "options that name it, or without restore options\n"))
      << r.output;
  std::vector<std::string> told;
  const std::vector<std::string> commands = drtest::PrintedCommands(r.output, &told);
  ASSERT_EQ(1u, commands.size()) << r.output;
  EXPECT_EQ("drjob run --db " + db + " --group 1 --type failback", commands[0]);
  EXPECT_EQ("drjob: DR job [7]: a new DR job of type [failback] without restore options on DR group [Sample] (1) "
            "takes app-server (201):",
            told[0]);
  ExpectEachLineNamesWhatItsCommandTakes(db, r.output);
  const SResult next = RunAsPrinted(commands[0]);
  EXPECT_EQ(0, next.code) << next.output;
  EXPECT_TRUE(Has(next, "machine [app-server] (replication 201): succeeded\n")) << next.output;
  // Priority 1's sources stay off as the restore options asked: no step
  // is printed for them.
  EXPECT_TRUE(drtest::PrintedCommands(next.output).empty()) << next.output;
}

// An unplanned failover killed as app-server's DR VM starts leaves neither
// of its VMs running; a failback then succeeds, skipping it. The success
// still tells app-server's workload runs nowhere, with the type that
// brings it up (of either direction) and its command, which does.
TEST_F(E2EDrJobNextSteps, ASuccessThatSkippedAWorkloadRunningNowhereNamesTheTypeThatBringsItUp) {
  const std::string db = FreshLab(EStartLab::kSeeded);
  const SResult killed = Run({"DR_KILL_AT=PerformVMOp(): Begin [Power On]", "DR_KILL_AT_COUNT=3"},
                             {"run", "--db", db, "--group", "Sample", "--type", "unplanned-failover", "--job-id", "7"});
  ASSERT_TRUE(Has(killed, "neither VM runs")) << killed.output;
  const SResult r = RunOn(db, "Sample", "failback", 8);
  ASSERT_EQ(0, r.code) << r.output;
  EXPECT_TRUE(Has(r, "drjob: DR job [8] leaves machine [app-server] (replication 201) at failover status [Failover "
                     "Failed], sync status [In Sync], its workload running nowhere: a new DR job of type ["))
      << r.output;
  const std::vector<std::string> commands = drtest::PrintedCommands(r.output);
  ASSERT_EQ(1u, commands.size()) << r.output;
  ExpectEachLineNamesWhatItsCommandTakes(db, r.output);
  ASSERT_FALSE(Runs(db, 201));
  const SResult next = RunAsPrinted(commands[0]);
  EXPECT_TRUE(Has(next, "machine [app-server] (replication 201): succeeded\n")) << next.output;
  EXPECT_TRUE(Runs(db, 201)) << next.output;
}

// The same workload after an undo, which fails it: the undo's own kind of
// type takes none, so the line names the type of the other direction that
// brings it up, rather than none.
TEST_F(E2EDrJobNextSteps, AFailedJobPointsAWorkloadRunningNowhereAtATypeOfEitherDirection) {
  const std::string db = FreshLab(EStartLab::kSeeded);
  Run({"DR_KILL_AT=PerformVMOp(): Begin [Power On]", "DR_KILL_AT_COUNT=3"},
      {"run", "--db", db, "--group", "Sample", "--type", "unplanned-failover", "--job-id", "7"});
  RunOn(db, "Sample", "failback", 8);
  const SResult r = RunOn(db, "Sample", "undo-failover", 9);
  ASSERT_EQ(1, r.code) << r.output;
  EXPECT_FALSE(Has(r, "no DR type")) << r.output;
  EXPECT_TRUE(Has(r, "(replication 201) at failover status [Failover Failed], sync status [In Sync], its workload "
                     "running nowhere: a new DR job of type [planned-failover] takes it\n"))
      << r.output;
  ASSERT_EQ(1u, drtest::PrintedCommands(r.output).size()) << r.output;
  ExpectEachLineNamesWhatItsCommandTakes(db, r.output);
}

// A storage-array unplanned failover whose mounts all fail leaves every
// machine "Failover Failed", its source off and nothing mounted; a test
// failover then succeeds on them. Its end says each workload runs nowhere.
TEST_F(E2EDrJobNextSteps, AnArrayTestFailoverOverWorkloadsRunningNowhereSaysSo) {
  const std::string db = FreshLab(EStartLab::kSeeded);
  Sql(db, "INSERT INTO PLT_HvFaults (opType, vm, fromCall, toCall, kind, code, text) VALUES (" +
              std::to_string(TMMsg::VM_OPERATION_SNAP_MOUNT) + ", '', 1, 99, 1, 7001, 'planted')");
  const SResult failed = RunOn(db, "SampleArray", "unplanned-failover", 7);
  ASSERT_EQ(1, failed.code) << failed.output;
  Sql(db, "DELETE FROM PLT_HvFaults");
  const SResult r = RunOn(db, "SampleArray", "test-failover", 8);
  EXPECT_EQ(0, r.code) << r.output;
  for (const char* machine : {"[snap-web] (replication 301)", "[snap-app] (replication 302)",
                              "[snap-db] (replication 303)", "[snap-files] (replication 304)"}) {
    EXPECT_TRUE(Has(r, std::string("drjob: DR job [8] leaves machine ") + machine +
                           " at failover status [Failover Failed], its workload running nowhere: "))
        << r.output;
  }
  ExpectEachLineNamesWhatItsCommandTakes(db, r.output);
}

// The clean-up that deletes the DR VMs of machines standing failed over,
// their sources off: each workload runs nowhere (a VM the hypervisor no
// longer lists runs nothing), and with its replication removed no DR type
// takes it. The job succeeds, and says so of each; no command is printed.
TEST_F(E2EDrJobNextSteps, ACleanupThatDeletesRunningDRVMsTellsEachWorkloadRunsNowhereAndNoTypeTakesIt) {
  const std::string db = FreshLab(EStartLab::kFailedOver);
  const SResult r = Run({}, {"run", "--db", db, "--group", "Sample", "--type", "cleanup-destination-vm",
                             "--delete-from-hypervisor", "--job-id", "7"});
  ASSERT_EQ(0, r.code) << r.output;
  for (const char* machine : {"[db-primary] (replication 101)", "[db-replica] (replication 102)",
                              "[app-server] (replication 201)"}) {
    EXPECT_TRUE(Has(r, std::string("drjob: DR job [7] machine ") + machine + ": succeeded\n")) << r.output;
    EXPECT_TRUE(Has(r, std::string("drjob: DR job [7] leaves machine ") + machine +
                           " at no replication record, its workload running nowhere: no DR type that brings it up "
                           "takes it as it stands\n"))
        << r.output;
  }
  EXPECT_TRUE(drtest::PrintedCommands(r.output).empty()) << r.output;
  CDBConnection::SetPath(db);
  std::vector<SMachineVerdict> verdicts;
  ASSERT_EQ(EStoreResult::kOk, CMachineVerdictStore::ReadJob(7, verdicts));
  CDBConnection::CloseThreadConnections();
  CDBConnection::SetPath("");
  ASSERT_EQ(3u, verdicts.size());
  for (const SMachineVerdict& v : verdicts) {
    EXPECT_TRUE(v.runsNowhere) << v.replicationId;
    EXPECT_EQ(static_cast<int>(TMMsg::DR_ORCHESTRATION_NONE), v.takingType) << v.replicationId;
    EXPECT_EQ(0, v.takenBy) << v.replicationId;
  }
}

// A DR VM whose site is down may run: it is not taken for gone. The same
// clean-up with the DR site down fails every deletion, and says nothing of
// a workload running nowhere.
TEST_F(E2EDrJobNextSteps, ADRVMWhoseSiteIsDownIsNotTakenForGone) {
  const std::string db = FreshLab(EStartLab::kFailedOver);
  ASSERT_EQ(0, Run({}, {"lab", "--db", db, "down", "site-b"}).code);
  const SResult r = Run({}, {"run", "--db", db, "--group", "Sample", "--type", "cleanup-destination-vm",
                             "--delete-from-hypervisor", "--job-id", "7"});
  ASSERT_EQ(1, r.code) << r.output;
  EXPECT_TRUE(Has(r, "machine [db-primary] (replication 101): failed in phase [Delete Operation]: Site [site-b] is "
                     "down"))
      << r.output;
  EXPECT_FALSE(Has(r, "running nowhere")) << r.output;
  CDBConnection::SetPath(db);
  std::vector<SMachineVerdict> verdicts;
  ASSERT_EQ(EStoreResult::kOk, CMachineVerdictStore::ReadJob(7, verdicts));
  CDBConnection::CloseThreadConnections();
  CDBConnection::SetPath("");
  for (const SMachineVerdict& v : verdicts) EXPECT_FALSE(v.runsNowhere) << v.replicationId;
}

// A database failover whose start-up of ORCL1's DR database fails, after
// its source was stopped: that machine's workload runs nowhere, the other's
// at DR, as each database's state tells (asked of its host).
TEST_F(E2EDrJobNextSteps, ADatabaseStoppedAtBothSitesRunsNowhere) {
  const std::string db = FreshLab(EStartLab::kSeeded);
  const SSeedDBReplication first = CDatabaseLabSeed::Sample().replications.at(0);
  CDBConnection::SetPath(db);
  ASSERT_TRUE(CDatabaseHosts::SetFault(first.destination.clientId, CDatabaseHosts::kStartScript, 1,
                                       EDBHostFault::kExitCode, 1));
  CDBConnection::CloseThreadConnections();
  CDBConnection::SetPath("");
  const SResult r = RunOn(db, "SampleDB", "planned-failover", 7);
  ASSERT_EQ(8, r.code) << r.output;
  EXPECT_TRUE(Has(r, "machine [ORCL1] (replication 1): failed in phase [Power On]")) << r.output;
  CDBConnection::SetPath(db);
  std::vector<SMachineVerdict> verdicts;
  ASSERT_EQ(EStoreResult::kOk, CMachineVerdictStore::ReadJob(7, verdicts));
  CDBConnection::CloseThreadConnections();
  CDBConnection::SetPath("");
  ASSERT_EQ(2u, verdicts.size());
  EXPECT_TRUE(verdicts[0].runsNowhere) << r.output;
  EXPECT_FALSE(verdicts[1].runsNowhere) << r.output;
  // The new job printed takes it, as every database failover takes every
  // machine: no other line is needed for it.
  EXPECT_EQ(1u, drtest::PrintedCommands(r.output).size()) << r.output;
}

// A revert killed right after db-primary's source is reverted (db-replica,
// reverted beside it, may finish before the kill is seen): the undo printed
// for the machines the revert's next job does not take also takes
// app-server, which priority 2 never reached, when run first, and says so.
TEST_F(E2EDrJobNextSteps, ANewJobsLineNamesEveryMachineItsCommandTakes) {
  const std::string db = FreshLab(EStartLab::kFailedOver);
  const SResult r = Run({"DR_KILL_AT=[Revert Snapshot] on VM [db-primary] GUID [src-101] successful"},
                        {"run", "--db", db, "--group", "Sample", "--type", "revert-failover", "--job-id", "7"});
  ASSERT_TRUE(r.code == 9 || r.code == 8) << r.output;
  std::vector<std::string> told;
  const std::vector<std::string> commands = drtest::PrintedCommands(r.output, &told);
  const auto undo = std::find(commands.begin(), commands.end(), "drjob run --db " + db + " --group 1 --type undo-failover");
  ASSERT_NE(commands.end(), undo) << r.output;
  const std::string& line = told[undo - commands.begin()];
  EXPECT_EQ(0u, line.find("drjob: DR job [7]: a new DR job of type [undo-failover] on DR group [Sample] (1) takes "
                          "db-primary (101)")) << line;
  EXPECT_NE(std::string::npos, line.find("app-server (201)")) << line;
  ExpectEachLineNamesWhatItsCommandTakes(db, r.output);
}

// A revert suspended between its priorities and then killed by drjob
// control: no row waited on a child job, so no count of none is printed.
TEST_F(E2EDrJobNextSteps, AKillOfAStoppedJobPrintsNoCountOfNothing) {
  const std::string db = FreshLab(EStartLab::kFailedOver);
  drtest::CChildProcess run;
  ASSERT_TRUE(StartHost({"DR_PAUSE_AT=Wait before processing next priority"},
                        {"run", "--db", db, "--group", "Sample", "--type", "revert-failover", "--job-id", "7"}, run));
  ASSERT_TRUE(drtest::Eventually([&] { return drtest::IsStopped(run.Pid()); }));
  int signal = 0;
  const SResult suspend = RunHost({}, {"control", "--db", db, "--job", "7", "suspend"}, signal);
  ASSERT_EQ(0, suspend.code) << suspend.output;
  ASSERT_EQ(0, kill(run.Pid(), SIGCONT));
  const SResult suspended = FinishHost(run, signal);
  ASSERT_EQ(10, suspended.code) << suspended.output;
  const SResult killed = Run({}, {"control", "--db", db, "--job", "7", "kill"});
  EXPECT_EQ(0, killed.code) << killed.output;
  EXPECT_FALSE(Has(killed, "[0] phase row(s)")) << killed.output;
  EXPECT_TRUE(Has(killed, "drjob: DR job [7]: its record says [Killed]\n")) << killed.output;
}

// A group renamed to a line that holds a command on another lab: the run's
// header and its next step print the name, and the one command a reader
// takes where drjob puts commands is the job's own; run through the shell,
// every command read so leaves the other lab as it was.
TEST_F(E2EDrJobNextSteps, NoNameReadsAsACommand) {
  const std::string db = FreshLab(EStartLab::kSeeded);
  const std::string other = FreshLab(EStartLab::kSeeded);
  const std::string forged =
      "x: drjob run --db " + other + " --group 4 --type cleanup-destination-vm --delete-from-hypervisor #";
  Sql(db, "UPDATE PLT_DRGroups SET name='" + forged + "' WHERE id=1");
  Sql(db, "INSERT INTO PLT_HvFaults (opType, vm, fromCall, toCall, kind, code, text) VALUES (" +
              std::to_string(TMMsg::VM_OPERATION_POWER_ON) + ", 'dst-201', 1, 99, 1, 7001, 'x')");
  const SResult before = Run({}, {"lab", "--db", other, "show"});
  const SResult r = Run({}, {"run", "--db", db, "--group", "1", "--type", "planned-failover", "--job-id", "7"});
  ASSERT_EQ(8, r.code) << r.output;
  EXPECT_TRUE(Has(r, "drjob: DR job [7] on DR group [" + forged + "] (id 1), type [planned-failover]\n")) << r.output;
  const std::vector<std::string> commands = drtest::PrintedCommands(r.output);
  EXPECT_EQ(std::vector<std::string>{"drjob run --db " + db + " --group 1 --type planned-failover"}, commands)
      << r.output;
  for (const std::string& command : commands) RunAsPrinted(command);
  const SResult after = Run({}, {"lab", "--db", other, "show"});
  EXPECT_EQ(before.output, after.output);
  EXPECT_TRUE(drtest::PrintedCommands(Run({}, {"jobs", "--db", db, "--job", "7"}).output).empty());
}

// Names of 10,000 characters, the group's and a machine's (its VMs'): each
// line shows each such name once at most, cut.
TEST_F(E2EDrJobNextSteps, AVeryLongNameIsPrintedCutOncePerLine) {
  const std::string db = FreshLab(EStartLab::kSeeded);
  const std::string group(10000, 'g');
  const std::string vm(10000, 'v');
  Sql(db, "UPDATE PLT_DRGroups SET name='" + group + "' WHERE id=1");
  Sql(db, "UPDATE PLT_DRGroups SET xml = replace(xml, '>app-server<', '>" + vm + "<') WHERE id = 1");
  Sql(db, "UPDATE PLT_HvVMs SET name = '" + vm + "' || substr(name, 11) WHERE guid IN ('src-201', 'dst-201')");
  Sql(db, "INSERT INTO PLT_HvFaults (opType, vm, fromCall, toCall, kind, code, text) VALUES (" +
              std::to_string(TMMsg::VM_OPERATION_POWER_ON) + ", 'dst-201', 1, 99, 1, 7001, 'x')");
  const SResult r = Run({}, {"run", "--db", db, "--group", "1", "--type", "planned-failover", "--job-id", "7"});
  ASSERT_EQ(8, r.code) << r.output.substr(0, 4000);
  const SResult told = Run({}, {"jobs", "--db", db, "--job", "7"});
  const size_t shown = CDrJobArgs::kNameShown;
  const std::string cut(shown, 'g');
  const std::string cutVM(shown, 'v');
  size_t named = 0;
  for (const SResult* out : {&r, &told}) {
    std::istringstream in(out->output);
    for (std::string line; std::getline(in, line);) {
      EXPECT_GT(4 * shown, line.size()) << line.substr(0, 200);
      for (const std::string* name : {&cut, &cutVM}) {
        const size_t at = line.find(*name);
        if (at == std::string::npos) continue;
        ++named;
        EXPECT_EQ(0, line.compare(at + name->size(), 3, "...")) << line;
        EXPECT_EQ(std::string::npos, line.find(*name, at + 1)) << line;
      }
    }
  }
  EXPECT_LT(4u, named) << r.output;
}

}  // namespace
