#include "core/ProcessIdentity.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

namespace {

std::string HostName() {
  char name[256] = {0};
  if (gethostname(name, sizeof(name) - 1) != 0) return std::string();
  return name;
}

// Field 22 of /proc/<pid>/stat: clock ticks since boot at which the process
// started; -1 when there is no such process, or only its exit status is left
// for its parent to collect (a zombie runs nothing).
long long StartTicksSinceBoot(long long pid) {
  char path[64];
  snprintf(path, sizeof(path), "/proc/%lld/stat", pid);
  FILE* f = fopen(path, "r");
  if (f == nullptr) return -1;
  char buffer[1024];
  const size_t n = fread(buffer, 1, sizeof(buffer) - 1, f);
  fclose(f);
  buffer[n] = '\0';
  // The command name (field 2) may hold spaces and parentheses: count from
  // the last ')'.
  const char* p = strrchr(buffer, ')');
  if (p == nullptr) return -1;
  ++p;
  // Fields 3 (the state) to 21 come before the start time.
  for (int field = 3; field <= 22; ++field) {
    while (*p == ' ') ++p;
    if (*p == '\0') return -1;
    if (field == 3 && (*p == 'Z' || *p == 'X')) return -1;
    if (field == 22) return atoll(p);
    while (*p != ' ' && *p != '\0') ++p;
  }
  return -1;
}

}  // namespace

SProcessId CProcessIdentity::Of(long long pid) {
  SProcessId id;
  const long long ticks = pid > 0 ? StartTicksSinceBoot(pid) : -1;
  if (ticks < 0) return id;
  id.host = HostName();
  id.pid = pid;
  id.startTicks = ticks;
  return id;
}

SProcessId CProcessIdentity::Self() {
  static const SProcessId self = [] {
    SProcessId id = Of(getpid());
    if (id.Empty()) {
      // Without /proc the start time is unknown; the pid still names us.
      id.host = HostName();
      id.pid = getpid();
    }
    return id;
  }();
  return self;
}

CProcessIdentity::EState CProcessIdentity::StateOf(const SProcessId& process) {
  if (process.Empty()) return kGone;
  if (process.host != HostName()) return kElsewhere;
  const SProcessId now = Of(process.pid);
  return !now.Empty() && now.startTicks == process.startTicks ? kAlive : kGone;
}

std::string CProcessIdentity::Text(const SProcessId& process) {
  return "pid [" + std::to_string(process.pid) + "] on [" + process.host + "]";
}
