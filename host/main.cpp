// drjob: the DR job process. It hosts the system library the way the backup
// server's job process does: seeds a lab, runs one DR job on a DR group, or
// asks a running DR job to stop; it also lists the lab's jobs and tasks,
// steers the simulated child jobs and shows and steers the hypervisor lab.
#include <stdio.h>
#include <unistd.h>

#include <string>

#include "DrJobArgs.h"
#include "DrJobCommands.h"
#include "jobsim/JobSimulator.h"
#include "sim/Simulators.h"
#include "time/PlatformClock.h"

namespace {

int Usage() {
  fprintf(stderr,
          "usage: drjob seed --db PATH\n"
          "       drjob run --db PATH --group NAME|ID --type TYPE [--job-id N]\n"
          "       drjob control --db PATH --job N kill|suspend\n"
          "       drjob jobs --db PATH\n"
          "       drjob job --db PATH --job N complete|fail|hang|resume|kill|percent P\n"
          "       drjob tasks --db PATH\n"
          "       drjob lab --db PATH [show | down NAME | up NAME | release]\n"
          "exit codes of run: 0 success, 1 failed, 8 completed with errors, 9 killed, 10 suspended, 11 pending,\n"
          "  13 the final state could not be stored, 7 the orchestrator could not be initialised (nothing ran),\n"
          "  6 the job manager could not start, 5 unknown DR group or job, 4 unreadable database,\n"
          "  3 the DR job is already running in another process, 2 bad arguments\n"
          "exit codes of control: 0 requested, 14 the DR job has already ended, 5 unknown DR job,\n"
          "  4 unreadable database, 2 bad arguments\n"
          "exit codes of jobs: 0 listed, 4 unreadable database, 2 bad arguments\n"
          "exit codes of job: 0 done, 14 the child job has already ended, 5 no such child job,\n"
          "  4 unreadable database, 2 bad arguments\n"
          "exit codes of tasks: 0 listed, 4 unreadable database, 2 bad arguments\n"
          "exit codes of lab: 0 done, 5 no such site or proxy, 4 unreadable database, 2 bad arguments\n");
  return CDrJobCommands::kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
  // Every wait of every command runs on the scaled clock: a scale that is not
  // a sensible number would make them vanish or never end, so nothing starts.
  double scale = 1.0;
  std::string scaleError;
  if (!CPlatformClock::ReadEnvScale(scale, scaleError)) {
    fprintf(stderr, "drjob: %s\n", scaleError.c_str());
    return CDrJobCommands::kExitUsage;
  }
  // The simulated management server answers this process's requests; the
  // child jobs it ends here notify their DR job through the notifier that
  // lives next to this program.
  CSimulators::Install();
  char self[4096];
  const ssize_t length = readlink("/proc/self/exe", self, sizeof(self) - 1);
  if (length > 0) {
    const std::string path(self, static_cast<size_t>(length));
    CJobSimulator::SetNotifierPath(path.substr(0, path.rfind('/') + 1) + "dr_jobdone_notifier");
  }
  CDrJobArgs args;
  if (!args.Parse(argc, argv)) {
    fprintf(stderr, "drjob: %s\n", args.Error().c_str());
    return Usage();
  }
  switch (args.Command()) {
    case CDrJobArgs::kSeed:
      return CDrJobCommands::Seed(args);
    case CDrJobArgs::kRun:
      return CDrJobCommands::Run(args);
    case CDrJobArgs::kControl:
      return CDrJobCommands::Control(args);
    case CDrJobArgs::kJobs:
      return CDrJobCommands::Jobs(args);
    case CDrJobArgs::kJob:
      return CDrJobCommands::Job(args);
    case CDrJobArgs::kTasks:
      return CDrJobCommands::Tasks(args);
    case CDrJobArgs::kLab:
      return CDrJobCommands::Lab(args);
    default:
      return Usage();
  }
}
