// What a DR job takes up, on a lab another type left: a reverse replication
// only machines that stand failed over, and a restart only what its first
// attempt would take plus what an attempt of the job took up. A machine
// every attempt refused is left as it was, and no restart is printed for it.
#include <signal.h>

#include <string>
#include <utility>
#include <vector>

#include "db/DBConnection.h"
#include "host/CrashMatrix.h"
#include "msg/MsgEnums.h"
#include "vm/HypervisorLab.h"
#include "vm/HypervisorStore.h"

namespace {

using crashmatrix::EStartLab;

class E2EDrJobRestartAdmission : public crashmatrix::CCrashMatrix {
 protected:
  // signal: the one that ended it, 0 when none did.
  drtest::SResult Run(const std::vector<std::string>& args, const std::vector<std::string>& env = {},
                      int* signal = nullptr) {
    int ended = 0;
    const drtest::SResult r = RunHost(env, args, ended);
    if (signal != nullptr) *signal = ended;
    return r;
  }
  drtest::SResult Type(const std::string& db, const std::string& type, long long jobId,
                       const std::vector<std::string>& options = {}) {
    std::vector<std::string> args = {"run", "--db", db, "--group", "Sample", "--type", type, "--job-id",
                                     std::to_string(jobId)};
    args.insert(args.end(), options.begin(), options.end());
    return Run(args);
  }
  // The job's restart, run by hand whether or not drjob printed it.
  drtest::SResult Restart(const std::string& db, long long jobId) {
    return Run({"run", "--db", db, "--job-id", std::to_string(jobId)});
  }

  // The lab open in this process for the length of a call.
  template <typename F>
  static void OnLab(const std::string& db, F f) {
    CDBConnection::SetPath(db);
    f();
    CDBConnection::CloseThreadConnections();
    CDBConnection::SetPath("");
  }
  static SLabVM VM(const std::string& name) {
    std::vector<SLabVM> vms;
    EXPECT_EQ(EStoreResult::kOk, CHypervisorLab::VMs(0, vms));
    for (const SLabVM& vm : vms) {
      if (vm.name == name) return vm;
    }
    ADD_FAILURE() << "no VM " << name;
    return SLabVM();
  }
  static void Write(const std::string& db, const std::string& name) {
    OnLab(db, [&] {
      const SLabVM vm = VM(name);
      ASSERT_TRUE(vm.poweredOn) << name;
      ASSERT_EQ(EStoreResult::kOk, CHypervisorLab::BumpContent(vm.instanceId, vm.guid));
    });
  }
  static void PowerOff(const std::string& db, const std::string& name) {
    OnLab(db, [&] {
      SLabVM vm = VM(name);
      vm.poweredOn = false;
      ASSERT_TRUE(CHypervisorStore::PutVM(vm)) << name;
    });
  }
  static void Sql(const std::string& db, const std::string& sql) {
    OnLab(db, [&] {
      CDBConnection* c = CDBConnection::ForThread();
      ASSERT_NE(nullptr, c);
      ASSERT_EQ(DB_OK, c->Exec(sql)) << c->LastErrorText();
    });
  }
  // Every call of the operation type on these VMs fails, until ClearFaults.
  static void Fail(const std::string& db, int opType, const std::vector<std::string>& guids) {
    OnLab(db, [&] {
      for (const std::string& guid : guids) drtest::PlantVMFault(guid, opType, ELabFault::kError, "planted");
    });
  }
  static void ClearFaults(const std::string& db) {
    OnLab(db, [] { ASSERT_TRUE(CHypervisorLab::ClearFaults()); });
  }
  // The sample group's picture, with each VM's address, which a test boot
  // takes away.
  static std::string State(const std::string& db) {
    std::string state;
    OnLab(db, [&] {
      state = crashmatrix::Picture("Sample");
      for (const char* name : {"db-primary", "db-primary-DR", "db-replica", "db-replica-DR", "app-server",
                               "app-server-DR"}) {
        state += std::string("ip ") + name + " " + CHypervisorLab::ReportedIp(VM(name)) + "\n";
      }
    });
    return state;
  }
  static long long Content(const std::string& db, const std::string& name) {
    long long content = -1;
    OnLab(db, [&] { content = VM(name).content; });
    return content;
  }

  // The job refused every machine of the group with a reason beginning so,
  // printed no restart, and named no type that takes them but for a
  // workload running nowhere.
  static void ExpectAllRefused(const drtest::SResult& r, long long jobId, const std::string& type,
                               const std::string& reason) {
    EXPECT_EQ(1, r.code) << r.output;
    const std::string job = "drjob: DR job [" + std::to_string(jobId) + "] ";
    for (const char* machine : {"[db-primary] (replication 101)", "[db-replica] (replication 102)",
                                "[app-server] (replication 201)"}) {
      EXPECT_TRUE(drtest::Has(r, job + "machine " + machine + ": skipped: " + reason)) << r.output;
    }
    EXPECT_FALSE(drtest::Has(r, "is continued by its restart")) << r.output;
    EXPECT_TRUE(drtest::Has(r, job + "is not continued by a restart")) << r.output;
    // A workload running nowhere is pointed at a type that brings it up;
    // no command is the job's restart.
    for (const std::string& command : drtest::PrintedCommands(r.output)) {
      EXPECT_EQ(std::string::npos, command.find("--job-id")) << r.output;
    }
    for (const char* id : {"101", "102", "201"}) {
      EXPECT_TRUE(drtest::Has(r, std::string("(replication ") + id + ") at ")) << r.output;
    }
    const size_t nowhere = Count(r.output, ", its workload running nowhere: a new DR job of type [");
    EXPECT_EQ(nowhere == 0, drtest::PrintedCommands(r.output).empty()) << r.output;
    EXPECT_EQ(3u, nowhere + Count(r.output, "no DR type that puts it where a DR job of type [" + type +
                                                "] does takes it as it stands"))
        << r.output;
  }
  static size_t Count(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
  }

  // The job on the lab refuses every machine, and so does its restart run
  // by hand: neither changes anything of the lab.
  void ExpectRefusedAndRestartRefused(const std::string& db, const std::string& type, long long jobId,
                                      const std::string& reason, const std::vector<std::string>& options = {}) {
    const std::string before = State(db);
    const drtest::SResult first = Type(db, type, jobId, options);
    ExpectAllRefused(first, jobId, type, reason);
    EXPECT_EQ(before, State(db)) << first.output;
    const drtest::SResult restart = Restart(db, jobId);
    ExpectAllRefused(restart, jobId, type, reason);
    EXPECT_EQ(before, State(db)) << restart.output;
  }
};

// A fresh lab: no machine was ever failed over, and every source runs the
// workload. The restart used to take the three up and copy each stale DR VM
// over its running source, losing the write.
TEST_F(E2EDrJobRestartAdmission, AReverseReplicationOnMachinesNeverFailedOverRefusesThemOnItsRestartToo) {
  const std::string db = FreshLab(EStartLab::kSeeded);
  Write(db, "db-primary");
  ExpectRefusedAndRestartRefused(db, "reverse-replication", 7,
                                 "Machine ineligible as it has no failover status and sync status is [In Sync]");
  EXPECT_EQ(102, Content(db, "db-primary"));
}

// Brought home by a failback or a revert, the sources run the workload
// again: the same.
TEST_F(E2EDrJobRestartAdmission, AReverseReplicationAfterTheWorkloadCameHomeRefusesItsMachinesOnItsRestartToo) {
  for (const char* home : {"failback", "revert-failover"}) {
    SCOPED_TRACE(home);
    const std::string db = FreshLab(EStartLab::kFailedOver);
    ASSERT_EQ(0, Type(db, home, 2).code);
    Write(db, "db-primary");
    const long long written = Content(db, "db-primary");
    ExpectRefusedAndRestartRefused(db, "reverse-replication", 7, "Machine ineligible as it has no failover status");
    EXPECT_EQ(written, Content(db, "db-primary"));
  }
}

// A replication paused ("Sync Disabled") on a machine never failed over: a
// first attempt used to take it for a failed-over one and copy its DR VM
// over the running source.
TEST_F(E2EDrJobRestartAdmission, AReverseReplicationRefusesAPausedReplicationThatWasNeverFailedOver) {
  const std::string db = FreshLab(EStartLab::kSeeded);
  Sql(db, "UPDATE APP_VSAReplication SET status=6 WHERE replicationId=101");
  Write(db, "db-primary");
  const drtest::SResult r = Type(db, "reverse-replication", 8);
  EXPECT_EQ(1, r.code) << r.output;
  EXPECT_TRUE(drtest::Has(r, "machine [db-primary] (replication 101): skipped: Machine ineligible as it has no "
                             "failover status and sync status is [Sync Disabled]"))
      << r.output;
  EXPECT_EQ(102, Content(db, "db-primary"));
  OnLab(db, [] { EXPECT_NE(std::string::npos, crashmatrix::Picture("Sample").find("vm db-primary on 102 -\n")); });
}

// Failed failovers: after a revert and two writes an unplanned failover
// fails every machine with neither VM running (its DR VMs do not start);
// a planned failover killed before it shut anything down leaves the
// sources running. Neither is failed over: the reverse replication and its
// restart leave them as they are.
TEST_F(E2EDrJobRestartAdmission, AReverseReplicationAfterAFailedFailoverRefusesItsMachinesOnItsRestartToo) {
  {
    SCOPED_TRACE("unplanned failover, neither VM running");
    const std::string db = FreshLab(EStartLab::kFailedOver);
    ASSERT_EQ(0, Type(db, "revert-failover", 2).code);
    Write(db, "db-primary");
    Write(db, "db-primary");
    Fail(db, TMMsg::VM_OPERATION_POWER_ON, {"dst-101", "dst-102", "dst-201"});
    const drtest::SResult unplanned = Type(db, "unplanned-failover", 3);
    ASSERT_EQ(1, unplanned.code) << unplanned.output;
    ClearFaults(db);
    OnLab(db, [] {
      EXPECT_FALSE(VM("db-primary").poweredOn);
      EXPECT_FALSE(VM("db-primary-DR").poweredOn);
    });
    ExpectRefusedAndRestartRefused(db, "reverse-replication", 4,
                                   "Machine ineligible as failover Status is [Failover Failed]");
    EXPECT_EQ(103, Content(db, "db-primary"));
  }
  {
    SCOPED_TRACE("planned failover killed, the sources running");
    const std::string db = FreshLab(EStartLab::kSeeded);
    const drtest::SResult killed =
        Run({"run", "--db", db, "--group", "Sample", "--type", "planned-failover", "--job-id", "1"},
            {"DR_KILL_AT=Beginning pre-failover ops for subclient["});
    ASSERT_EQ(9, killed.code) << killed.output;
    Write(db, "db-primary");
    const std::string before = State(db);
    const drtest::SResult reverse = Type(db, "reverse-replication", 4);
    EXPECT_EQ(1, reverse.code) << reverse.output;
    EXPECT_FALSE(drtest::Has(reverse, "is continued by its restart")) << reverse.output;
    EXPECT_TRUE(drtest::Has(reverse, "machine [db-primary] (replication 101): skipped: Machine ineligible as failover "
                                     "Status is [Failover Failed]"))
        << reverse.output;
    EXPECT_EQ(1, Restart(db, 4).code);
    EXPECT_EQ(before, State(db));
    EXPECT_EQ(102, Content(db, "db-primary"));
  }
}

// An undo failover that failed every machine ("Revert Failover Failed", the
// DR VMs running the workload): a test boot refuses them, and its restart
// used to take them up, booting the production DR VMs (each lost its
// address) and turning their sync on.
TEST_F(E2EDrJobRestartAdmission, ATestbootRefusesMachinesAFailedUndoLeftOnItsRestartToo) {
  const std::string db = FreshLab(EStartLab::kFailedOver);
  ASSERT_EQ(0, Type(db, "reverse-replication", 2).code);
  Fail(db, TMMsg::VM_OPERATION_POWER_ON, {"src-101", "src-102", "src-201"});
  const drtest::SResult undo = Type(db, "undo-failover", 3);
  ASSERT_EQ(1, undo.code) << undo.output;
  ClearFaults(db);
  OnLab(db, [] { EXPECT_TRUE(VM("db-primary-DR").poweredOn); });
  ExpectRefusedAndRestartRefused(db, "testboot", 4, "Machine ineligible as failover Status is [Revert Failover Failed]",
                                 {"--testboot-wait", "0"});
}

// A DR VM the operator powered off still holds the workload's newest
// content: the reverse replication copies it home.
TEST_F(E2EDrJobRestartAdmission, AReverseReplicationCopiesHomeADRVMTheOperatorPoweredOff) {
  const std::string db = FreshLab(EStartLab::kFailedOver);
  Write(db, "db-primary-DR");
  const long long written = Content(db, "db-primary-DR");
  PowerOff(db, "db-primary-DR");
  const drtest::SResult r = Type(db, "reverse-replication", 2);
  EXPECT_EQ(0, r.code) << r.output;
  EXPECT_EQ(written, Content(db, "db-primary"));
}

// Any type's restart: a machine its first attempt refused (a paused
// replication, which a planned failover does not take) stays refused, while
// those that attempt took up, or never reached, are finished.
TEST_F(E2EDrJobRestartAdmission, APlannedFailoversRestartLeavesAMachineItsFirstAttemptRefusedUntouched) {
  const std::string db = FreshLab(EStartLab::kSeeded);
  Sql(db, "UPDATE APP_VSAReplication SET status=6 WHERE replicationId=101");
  const drtest::SResult first =
      Run({"run", "--db", db, "--group", "Sample", "--type", "planned-failover", "--job-id", "7"},
          {"DR_KILL_AT=Beginning pre-failover ops for subclient["});
  ASSERT_EQ(9, first.code) << first.output;
  EXPECT_TRUE(drtest::Has(first, "machine [db-primary] (replication 101): skipped: ")) << first.output;
  EXPECT_TRUE(drtest::Has(first, "is continued by its restart, which takes over db-replica (102), app-server (201):\n"))
      << first.output;
  Write(db, "db-primary");
  const drtest::SResult restart = Restart(db, 7);
  EXPECT_TRUE(drtest::Has(restart, "machine [db-primary] (replication 101): skipped: ")) << restart.output;
  EXPECT_TRUE(drtest::Has(restart, "machine [db-replica] (replication 102): succeeded")) << restart.output;
  EXPECT_TRUE(drtest::Has(restart, "machine [app-server] (replication 201): succeeded")) << restart.output;
  OnLab(db, [] {
    const std::string picture = crashmatrix::Picture("Sample");
    EXPECT_NE(std::string::npos, picture.find("vm db-primary on 102 -\nvm db-primary-DR off 101 ")) << picture;
    EXPECT_NE(std::string::npos, picture.find("repl 101 - Sync_Disabled ")) << picture;
  });
}

// A revert that died right after it set its first machine "Revert Failover
// in Progress", before any row of it: the restart knows the job took the
// machine up (a status stored with the job's id), and finishes it.
TEST_F(E2EDrJobRestartAdmission, ARevertCrashedRightAfterSettingAMachineUnderWayFinishesItOnItsRestart) {
  const std::string db = FreshLab(EStartLab::kFailedOver);
  int signal = 0;
  const drtest::SResult crashed =
      Run({"run", "--db", db, "--group", "Sample", "--type", "revert-failover", "--job-id", "7"},
          {"DR_CRASH_AT=DumpPhaseDetails(): [Shutdown] on site [Destination]"}, &signal);
  ASSERT_EQ(SIGKILL, signal) << crashed.output;
  // The group's machines are set under way on threads of their own: either
  // may be the first.
  OnLab(db, [] {
    const std::string picture = crashmatrix::Picture("Sample");
    EXPECT_EQ(1u, Count(picture, " Revert_Failover_in_Progress ")) << picture;
  });
  const drtest::SResult restart = Restart(db, 7);
  EXPECT_EQ(0, restart.code) << restart.output;
  for (const char* machine : {"[db-primary] (replication 101)", "[db-replica] (replication 102)",
                              "[app-server] (replication 201)"}) {
    EXPECT_TRUE(drtest::Has(restart, std::string("machine ") + machine + ": succeeded")) << restart.output;
  }
}

// A point-in-time failover after a failback, which deleted the DR VMs'
// point-in-time snapshots: no time can take the machines. It refuses them
// before anything of them changes and names the failover that takes them.
TEST_F(E2EDrJobRestartAdmission, APointInTimeFailoverRefusesADRVMWithoutPointInTimeSnapshotsAndNamesATypeThatTakesIt) {
  const std::string db = FreshLab(EStartLab::kFailedOver);
  ASSERT_EQ(0, Type(db, "failback", 2).code);
  const std::string before = State(db);
  const drtest::SResult r =
      Type(db, "point-in-time-failover", 3,
           {"--point-in-time", "101=1767225600", "--point-in-time", "102=1767225600", "--point-in-time",
            "201=1767229200"});
  EXPECT_EQ(1, r.code) << r.output;
  for (const char* vm : {"db-primary", "db-replica", "app-server"}) {
    EXPECT_TRUE(drtest::Has(r, std::string("skipped: Machine ineligible as its DR VM [") + vm +
                                   "-DR] has no point-in-time snapshot"))
        << r.output;
  }
  EXPECT_FALSE(drtest::Has(r, "give `--point-in-time")) << r.output;
  EXPECT_TRUE(drtest::Has(r, "takes db-primary (101), db-replica (102), app-server (201):\ndrjob: $ drjob run --db " + db +
                                 " --group 1 --type planned-failover"))
      << r.output;
  EXPECT_EQ(before, State(db));
}

// A time no snapshot of the DR VM carries: the machine's own line says so.
TEST_F(E2EDrJobRestartAdmission, APointInTimeFailoverTellsAMachineThatNoSnapshotMatchesItsTime) {
  const std::string db = FreshLab(EStartLab::kSeeded);
  const drtest::SResult r = Type(db, "point-in-time-failover", 7, {"--point-in-time", "101=5"});
  EXPECT_EQ(1, r.code) << r.output;
  EXPECT_TRUE(drtest::Has(r, "machine [db-primary] (replication 101): failed in phase [Revert Snapshot]: No snapshot "
                             "of DR VM [db-primary-DR] matches the point in time [5]; now: "))
      << r.output;
}

// A failover whose db-replica DR VM would not start brought only db-primary
// over (and, unplanned, disabled its sync) and died. Its restart resumes
// db-primary (the workload has run and been written into there since) and
// takes db-replica up again; a suspend or kill found while it brings
// db-replica up halts db-primary's completion. The clean-up leaves
// db-primary for the next restart as the first attempt left it, and that
// restart takes it as moved. The clean-up used to revert the DR VM to its
// failover snapshot (the write lost) and power it off; the unplanned
// failover's next restart then refused the machine for the sync its own
// first attempt had disabled, leaving the workload nowhere. Kept running
// but stored failed by the kill, the planned failover's was taken for
// undone: its source powered on beside it, then moved over it again.
TEST_F(E2EDrJobRestartAdmission, AStopOfARestartLeavesAMachineItResumedRunningForTheNextOne) {
  const std::pair<const char*, const char*> cases[] = {{"unplanned-failover", "suspend"},
                                                       {"unplanned-failover", "kill"},
                                                       {"planned-failover", "suspend"},
                                                       {"planned-failover", "kill"}};
  for (const auto& [type, stop] : cases) {
    SCOPED_TRACE(std::string(type) + ", " + stop);
    const std::string db = FreshLab(EStartLab::kSeeded);
    Fail(db, TMMsg::VM_OPERATION_POWER_ON, {"dst-102"});
    int signal = 0;
    const drtest::SResult crashed =
        Run({"run", "--db", db, "--group", "Sample", "--type", type, "--job-id", "7"},
            {"DR_CRASH_AT=IsVSAPostVMFailoverSupported(): Check PostVMFailover support for vm [db-primary]"}, &signal);
    ASSERT_EQ(SIGKILL, signal) << crashed.output;
    ClearFaults(db);
    OnLab(db, [] {
      const std::string picture = crashmatrix::Picture("Sample");
      EXPECT_NE(std::string::npos, picture.find("repl 101 Failover_in_Progress Sync_Disabled ")) << picture;
      EXPECT_NE(std::string::npos, picture.find("vm db-primary off ")) << picture;
    });
    Write(db, "db-primary-DR");
    const long long written = Content(db, "db-primary-DR");

    drtest::CChildProcess run;
    ASSERT_TRUE(StartHost({"DR_PAUSE_AT=PersistSnapMoref(): Persisting snap moref ["},
                          {"run", "--db", db, "--job-id", "7"}, run));
    ASSERT_TRUE(drtest::Eventually([&] { return drtest::IsStopped(run.Pid()); }));
    const drtest::SResult asked = Run({"control", "--db", db, "--job", "7", stop});
    ASSERT_EQ(0, asked.code) << asked.output;
    ASSERT_EQ(0, ::kill(run.Pid(), SIGCONT));
    const drtest::SResult stopped = FinishHost(run, signal);
    ASSERT_EQ(std::string(stop) == "kill" ? 9 : 10, stopped.code) << stopped.output;
    EXPECT_TRUE(drtest::Has(stopped, "DR VM [db-primary-DR] on: the DR VM runs")) << stopped.output;
    EXPECT_EQ(written, Content(db, "db-primary-DR")) << stopped.output;

    drtest::SResult last = stopped;
    for (int step = 0; step < 3; ++step) {
      const std::vector<std::string> commands = drtest::PrintedCommands(last.output);
      if (commands.empty()) break;
      last = RunAsPrinted(commands.front());
    }
    EXPECT_EQ(0, last.code) << last.output;
    for (const char* machine : {"[db-primary] (replication 101)", "[db-replica] (replication 102)",
                                "[app-server] (replication 201)"}) {
      EXPECT_TRUE(drtest::Has(last, std::string("machine ") + machine + ": succeeded")) << last.output;
    }
    EXPECT_EQ(written, Content(db, "db-primary-DR"));
  }
}

// A revert died right after it deleted db-primary's DR VM failover snapshot,
// which it had reverted the VM to (neither step writes a row). Its restart
// takes both over: it used to revert again, fail for the snapshot it had
// itself deleted and store "Revert Failover Failed" while it went on (its
// later steps cleared it), so that a stop found in between left the machine
// to no restart of the job.
TEST_F(E2EDrJobRestartAdmission, ARevertRestartTakesOverTheDRVMRevertItsEarlierAttemptDidAndDeleted) {
  const std::string db = FreshLab(EStartLab::kFailedOver);
  int signal = 0;
  const drtest::SResult crashed =
      Run({"run", "--db", db, "--group", "Sample", "--type", "revert-failover", "--job-id", "7"},
          {"DR_CRASH_AT=PerformVMOp(): [Delete Snapshot] on VM [db-primary-DR] GUID [dst-101] successful"}, &signal);
  ASSERT_EQ(SIGKILL, signal) << crashed.output;
  const std::string before = drtest::ReadFile(LogPath());
  const drtest::SResult restart = Restart(db, 7);
  EXPECT_EQ(0, restart.code) << restart.output;
  for (const char* machine : {"[db-primary] (replication 101)", "[db-replica] (replication 102)",
                              "[app-server] (replication 201)"}) {
    EXPECT_TRUE(drtest::Has(restart, std::string("machine ") + machine + ": succeeded")) << restart.output;
  }
  const std::string log = drtest::ReadFile(LogPath()).substr(before.size());
  EXPECT_EQ(std::string::npos, log.find("[Revert Failover Failed] for replication [101]")) << log;
  EXPECT_NE(std::string::npos, log.find("is no longer on VM [db-primary-DR]: deleted by an earlier run of DR job [7], "
                                        "which reverted the VM to it first"));
}

}  // namespace
