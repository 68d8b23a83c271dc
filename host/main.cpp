// drjob: the DR job process. It hosts the system library the way the backup
// server's job process does.
#include <stdio.h>
#include <unistd.h>

#include "DrJobArgs.h"
#include "core/RunFolder.h"
#include "log/EvEvent.h"

namespace {

int Usage() {
  fprintf(stderr,
          "usage: drjob seed --db PATH\n"
          "       drjob run --db PATH --group NAME|ID --type TYPE [--job-id N]\n"
          "       drjob control --db PATH --job N kill|suspend\n");
  return 2;
}

// The job records, job controller and DR group store these commands work on
// are not part of the platform layer yet.
int NotAvailable(const char* what) {
  fprintf(stderr, "drjob: cannot %s: the job services (jobs table, job controller, DR group store) are not "
                  "available yet\n", what);
  return 3;
}

}  // namespace

int main(int argc, char** argv) {
  CDrJobArgs args;
  if (!args.Parse(argc, argv)) {
    fprintf(stderr, "drjob: %s\n", args.Error().c_str());
    return Usage();
  }
  if (args.Command() == CDrJobArgs::kDemo) {
    EvEvent event;
    event.Debug("main", "DR job host started in run folder [%s]", CRunFolder::Path().c_str());
    printf("drjob: the host and the platform layer are up (run folder %s);\n", CRunFolder::Path().c_str());
    printf("drjob: no DR operation can run yet: the job services are not built.\n");
    return 0;
  }
  if (args.Command() != CDrJobArgs::kSeed && access(args.DbPath().c_str(), R_OK) != 0) {
    fprintf(stderr, "drjob: cannot read the database [%s]\n", args.DbPath().c_str());
    return 4;
  }
  switch (args.Command()) {
    case CDrJobArgs::kSeed:
      return NotAvailable("seed the lab");
    case CDrJobArgs::kRun:
      return NotAvailable("run the DR job");
    default:
      return NotAvailable("control the DR job");
  }
}
