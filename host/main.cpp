// drjob: the DR job process. It hosts the system library the way the backup
// server's job process does: seeds a lab, runs one DR job on a DR group, or
// asks a running DR job to stop; it also lists the lab's jobs and tasks,
// steers the simulated child jobs and shows and steers the hypervisor lab.
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>

#include "DrJobArgs.h"
#include "DrJobCommands.h"
#include "DrJobStates.h"
#include "core/RunFolder.h"
#include "db/DBConnection.h"
#include "jobs/JobStore.h"
#include "jobsim/JobSimulator.h"
#include "log/CrashPoint.h"
#include "sim/Simulators.h"
#include "time/PlatformClock.h"

namespace {

struct SCommandUsage {
  CDrJobArgs::ECommand command;
  const char* usage;
  const char* exitCodes;
};

const SCommandUsage kUsage[] = {
    {CDrJobArgs::kSeed, "drjob seed --db PATH [--replace]",
     "exit codes of seed: 0 seeded, 4 unreadable database, a file that holds something other than a lab, or a lab\n"
     "  without --replace (the file is left as it was), 2 bad arguments or environment\n"},
    {CDrJobArgs::kRun,
     "drjob run --db PATH --group NAME|ID --type TYPE [--job-id N] [--delete-from-hypervisor]\n"
     "  [--point-in-time REPL=T]... [--testboot-wait MIN] [--keep-network-adapters] [--no-power-on]\n"
     "  [--restore-options FILE]\n"
     "  with the --job-id of a job that has a record, --group, --type and the options may be left out: the\n"
     "  job runs again as it was made; any of them given must be what the job was made with",
     "a first SIGINT, SIGTERM or SIGHUP during run requests the DR job's kill, as control kill does; a second\n"
     "  ends drjob at once. The job acts on a kill only where it looks for one: before its first priority,\n"
     "  where it fails (exit 1, every machine not reached); then (exit 9, or 8 once a machine has succeeded)\n"
     "  at the start of each step of a machine (not the steps that put a machine back after a failure, nor\n"
     "  a failover's closing look-up of the DR VM's address once the DR VM's backup snapshot is deleted),\n"
     "  while it waits on a child job (a backup, copy or sync), on a proxy\n"
     "  that cannot be reached or on a mount's datastore lock, after a storage-array mount and after a failed\n"
     "  priority. A VM operation once sent (a shutdown, clone, power-on, mount or delete), the wait between\n"
     "  priorities and a testboot's wait before shutdown run to their end first. A clean-up without\n"
     "  --delete-from-hypervisor looks only before its first priority. A kill or suspend no look follows,\n"
     "  one first found once the last step has run (after the last priority, or after a failed one the job\n"
     "  stops at anyway) whatever state the job ends in, and one a job that ends SUCCESS found, are not acted\n"
     "  on: the job runs to its end, and drjob says so after its final state line and clears it\n"
     "a closed output ends nothing: the lines that cannot be written are dropped\n"
     "exit codes of run: 0 success, 1 failed, 8 completed with errors, 9 killed, 10 suspended, 11 pending,\n"
     "  13 the final state could not be stored, 7 the orchestrator could not be initialised (nothing ran),\n"
     "  6 the job manager could not start, 5 unknown DR group or job (or a new job on a group naming no\n"
     "  replication), 4 unreadable database,\n"
     "  3 the DR job is already running in another process, 14 the DR job has already completed,\n"
     "  15 the lock folder cannot be used, 17 the lab was moved, removed or replaced while the job ran (drjob\n"
     "  ended at once), 2 bad arguments or environment (or not what the job was made with)\n"},
    {CDrJobArgs::kControl, "drjob control --db PATH --job N kill|suspend",
     "a kill of a suspended or pending DR job that no process runs ends it here: its child jobs killed,\n"
     "  its record Killed; drjob run --job-id N then runs it again as a restart\n"
     "exit codes of control: 0 requested (or the job ended here), 16 no process runs the DR job,\n"
     "  14 the DR job has already ended (also when it ended while control asked), 1 a child job could not be\n"
     "  killed, 3 another process took the job (or the run that stopped it has not ended after 30 s),\n"
     "  5 unknown DR job, 4 unreadable database, 2 bad arguments or environment\n"},
    {CDrJobArgs::kJobs, "drjob jobs --db PATH [--job N]",
     "jobs --job N tells DR job N: its type, DR group, attempts and state, and what became of each machine\n"
     "exit codes of jobs: 0 listed, 5 no such DR job, 4 unreadable database, 2 bad arguments or environment\n"},
    {CDrJobArgs::kJob, "drjob job --db PATH --job N complete|fail|hang|resume|kill|percent P",
     "exit codes of job: 0 done, 14 the child job has already ended, 5 no such child job,\n"
     "  4 unreadable database, 2 bad arguments or environment\n"},
    {CDrJobArgs::kTasks, "drjob tasks --db PATH",
     "exit codes of tasks: 0 listed, 4 unreadable database, 2 bad arguments or environment\n"},
    {CDrJobArgs::kLab, "drjob lab --db PATH [show | down NAME | up NAME | write NAME | release]",
     "lab down|up NAME takes a hypervisor site or proxy, an array or a client (its remote commands) down or up\n"
     "lab write NAME writes in the guest of the running VM of that name (its content goes up by one)\n"
     "exit codes of lab: 0 done, 5 no such site, proxy, array, client or VM, 1 the VM is off,\n"
     "  4 unreadable database, 2 bad arguments or environment\n"},
};

const char kEnvironment[] =
    "environment: DR_RUN_DIR (the run folder, ./run), DR_LOCK_DIR (the lock folder, /tmp/drorch-locks-<uid>),\n"
    "  DR_TIME_SCALE (1), DR_DB_BUSY_MS (how long to wait for another process's write, 30000)\n";

// Every command, or only the one given.
void PrintUsage(FILE* out, CDrJobArgs::ECommand only) {
  const char* lead = "usage: ";
  for (const SCommandUsage& u : kUsage) {
    if (only != CDrJobArgs::kNone && u.command != only) continue;
    fprintf(out, "%s%s\n", lead, u.usage);
    lead = "       ";
  }
  for (const SCommandUsage& u : kUsage) {
    if (only == CDrJobArgs::kNone || u.command == only) fputs(u.exitCodes, out);
  }
  if (only == CDrJobArgs::kNone) fputs(kEnvironment, out);
}

// An argument error is one line: the error, and where the usage is (the
// usage itself would bury the error under the options of every command).
// drjob alone has asked for nothing but the usage.
int RefuseArguments(const CDrJobArgs& args, int argc, char** argv) {
  const std::string error = CDrJobArgs::Printable(args.Error());
  if (argc < 2) {
    fprintf(stderr, "drjob: %s\n", error.c_str());
    PrintUsage(stderr, CDrJobArgs::kNone);
  } else if (args.Command() != CDrJobArgs::kNone) {
    // The command is a known word, safe to echo as it stands.
    fprintf(stderr, "drjob: %s; drjob %s --help shows its usage\n", error.c_str(), argv[1]);
  } else {
    fprintf(stderr, "drjob: %s; drjob --help shows every command\n", error.c_str());
  }
  return CDrJobStates::kExitUsage;
}

// DR_DB_BUSY_MS: a whole number of milliseconds from 0 to a day.
bool ReadBusyTimeout(std::string& error) {
  const char* text = getenv("DR_DB_BUSY_MS");
  if (text == nullptr) return true;
  const std::string value = text;
  bool digits = !value.empty() && value.size() <= 8;
  for (char c : value) digits = digits && c >= '0' && c <= '9';
  const long ms = digits ? strtol(value.c_str(), nullptr, 10) : -1;
  if (ms < 0 || ms > 86400000L) {
    error = "DR_DB_BUSY_MS [" + value + "] is not a number of milliseconds from 0 to 86400000";
    return false;
  }
  CDBConnection::SetBusyTimeoutMs(static_cast<int>(ms));
  return true;
}

// The kill point's request: the one drjob control makes, which the job's
// job manager reads at its next check, refused once the job has ended.
bool RequestKill(int64_t jobId) {
  return CJobStore::RequestControl(jobId, CJobStore::kControlKill) == EStoreResult::kOk;
}

}  // namespace

int main(int argc, char** argv) {
  // Every wait of every command runs on the scaled clock: a scale that is not
  // a sensible number would make them vanish or never end, so nothing starts.
  double scale = 1.0;
  std::string error;
  if (!CPlatformClock::ReadEnvScale(scale, error) || !ReadBusyTimeout(error) ||
      !CCrashPoint::ArmFromEnvironment(error) || !CKillPoint::ArmFromEnvironment(error) ||
      !CPausePoint::ArmFromEnvironment(error)) {
    fprintf(stderr, "drjob: %s\n", CDrJobArgs::Printable(error).c_str());
    return CDrJobStates::kExitUsage;
  }
  CDrJobArgs args;
  if (!args.Parse(argc, argv)) return RefuseArguments(args, argc, argv);
  if (args.Help()) {
    PrintUsage(stdout, args.Command());
    return CDrJobStates::kExitSuccess;
  }
  // Without its run folder a command would run with no log anywhere.
  if (!CRunFolder::CheckPath(error)) {
    fprintf(stderr, "drjob: %s (DR_RUN_DIR)\n", CDrJobArgs::Printable(error).c_str());
    return CDrJobStates::kExitUsage;
  }
  // Only seed makes a database: for every other command a connection that
  // finds no file fails rather than making an empty one, also when a lab is
  // moved away while a job runs on it.
  CDBConnection::SetMayCreate(args.Command() == CDrJobArgs::kSeed);
  // The simulated management server answers this process's requests; the
  // child jobs it ends here notify their DR job through the notifier that
  // lives next to this program.
  CSimulators::Install();
  CKillPoint::SetRequester(&RequestKill);
  char self[4096];
  const ssize_t length = readlink("/proc/self/exe", self, sizeof(self) - 1);
  if (length > 0) {
    const std::string path(self, static_cast<size_t>(length));
    CJobSimulator::SetNotifierPath(path.substr(0, path.rfind('/') + 1) + "dr_jobdone_notifier");
  }
  switch (args.Command()) {
    case CDrJobArgs::kSeed:
      return CDrJobCommands::Seed(args);
    case CDrJobArgs::kRun: {
      const int code = CDrJobCommands::Run(args);
      // The pool's connections outlive the run: closed, the last of them
      // carries the WAL into the lab and removes it. Left beside the file,
      // the run's writes would be lost to a lab moved after it.
      CDBConnection::CloseIdleConnections();
      return code;
    }
    case CDrJobArgs::kControl: {
      // A kill of a job no process runs ends its child jobs here, as job does.
      const int code = CDrJobCommands::Control(args);
      CJobSimulator::AwaitNotifiers();
      return code;
    }
    case CDrJobArgs::kJobs:
      return CDrJobCommands::Jobs(args);
    case CDrJobArgs::kJob: {
      const int code = CDrJobCommands::Job(args);
      // An ending sends its notices through notifiers: their answers are
      // recorded before this process goes.
      CJobSimulator::AwaitNotifiers();
      return code;
    }
    case CDrJobArgs::kTasks:
      return CDrJobCommands::Tasks(args);
    case CDrJobArgs::kLab:
      return CDrJobCommands::Lab(args);
    default:
      PrintUsage(stderr, CDrJobArgs::kNone);
      return CDrJobStates::kExitUsage;
  }
}
