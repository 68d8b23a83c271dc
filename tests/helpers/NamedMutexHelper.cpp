// Takes a named mutex in a process of its own, for the tests of exclusion
// between processes.
//
//   dr_mutex_helper <lock folder> <name> hold
//       locks, prints "LOCKED", holds until standard input closes, unlocks,
//       prints "RELEASED".
//   dr_mutex_helper <lock folder> <name> try <ms>
//       prints "LOCKED" or "BUSY" after lock(ms).
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "core/RunFolder.h"
#include "sync/ZnNamedMutex.h"

int main(int argc, char** argv) {
  if (argc < 4) {
    fprintf(stderr, "usage: %s <lock folder> <name> hold|try <ms>\n", argv[0]);
    return 2;
  }
  CRunFolder::SetLockPath(argv[1]);
  ZnNamedMutex mutex(argv[2]);
  if (strcmp(argv[3], "hold") == 0) {
    if (!mutex.lock()) return 1;
    printf("LOCKED\n");
    fflush(stdout);
    char buf[64];
    while (read(STDIN_FILENO, buf, sizeof buf) > 0) {
    }
    mutex.unlock();
    printf("RELEASED\n");
    fflush(stdout);
    return 0;
  }
  if (strcmp(argv[3], "try") == 0 && argc >= 5) {
    bool ok = mutex.lock(strtoul(argv[4], nullptr, 10));
    printf(ok ? "LOCKED\n" : "BUSY\n");
    fflush(stdout);
    if (ok) mutex.unlock();
    return 0;
  }
  return 2;
}
