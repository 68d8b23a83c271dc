// drjob: the DR job process. It hosts the system library the way the backup
// server's job process does.
#include <stdio.h>
#include <string.h>

#include "core/RunFolder.h"
#include "log/EvEvent.h"

namespace {

int Usage() {
  fprintf(stderr, "usage: drjob <command> [options]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage();
  if (strcmp(argv[1], "demo") == 0) {
    EvEvent event;
    event.Debug("main", "DR job host started in run folder [%s]", CRunFolder::Path().c_str());
    printf("drjob: the host and the platform layer are up (run folder %s);\n", CRunFolder::Path().c_str());
    printf("drjob: no DR operation can run yet: the orchestrator is not built.\n");
    return 0;
  }
  fprintf(stderr, "drjob: unknown command [%s]\n", argv[1]);
  return Usage();
}
