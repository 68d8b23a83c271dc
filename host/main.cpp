// drjob: the DR job process. It hosts the system library the way the backup
// server's job process does: seeds a lab, runs one DR job on a DR group, or
// asks a running DR job to stop.
#include <stdio.h>

#include "DrJobArgs.h"
#include "DrJobCommands.h"

namespace {

int Usage() {
  fprintf(stderr,
          "usage: drjob seed --db PATH\n"
          "       drjob run --db PATH --group NAME|ID --type TYPE [--job-id N]\n"
          "       drjob control --db PATH --job N kill|suspend\n"
          "exit codes of run: 0 success, 1 failed, 8 completed with errors, 9 killed, 10 suspended, 11 pending,\n"
          "  7 the orchestrator could not be initialised (nothing ran), 6 the job manager could not start,\n"
          "  5 unknown DR group or job, 4 unreadable database, 2 bad arguments\n");
  return CDrJobCommands::kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
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
    default:
      return Usage();
  }
}
