// dr_jobdone_notifier: tells a DR job that one of its child jobs has ended,
// the way the job manager service does: it loads the system library, finds
// its completion entry by its plain name and calls it with the child job id
// and the waiter's token. The job simulator starts it once per notice.
//
//   dr_jobdone_notifier [--library PATH] CHILD_JOB_ID TOKEN
//
// Without a path the library next to this program is loaded (where the
// build and an installation put it), else the one the loader finds by name.
// The program's own folder is looked up rather than left to its RUNPATH:
// under a sanitizer the dlopen call comes from the sanitizer's runtime,
// whose search path is not this program's.
//
// The acknowledged entry is called when the library has it, else the plain
// one. Exit codes: 0 the notice was taken (or, with the plain entry, sent);
// 5 the DR job's service did not take it (the simulator sends it again);
// otherwise one line on stderr and 2 (usage), 3 (no library) or 4 (no entry).
//
// It reads nothing but the service directory: the process declares that it
// has no management database (DR_NO_DATABASE) before the library loads.
//
// Not part of the platform library: it links nothing of the system, so what
// it calls is exactly what the library exports.
#include <dlfcn.h>
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>

namespace {

const char kEntry[] = "DRChildJobDone";
const char kAcknowledgedEntry[] = "DRChildJobDoneAcknowledged";
typedef void (*ChildJobDone)(unsigned long long childJobId, std::string& token);
typedef bool (*ChildJobDoneAcknowledged)(unsigned long long childJobId, std::string& token);
constexpr int kNotTaken = 5;

int Fail(int code, const std::string& text) {
  fprintf(stderr, "dr_jobdone_notifier: %s\n", text.c_str());
  return code;
}

bool ParseJobId(const char* text, unsigned long long& id) {
  if (text == nullptr || *text < '0' || *text > '9') return false;
  char* end = nullptr;
  errno = 0;
  id = strtoull(text, &end, 10);
  return errno == 0 && end != nullptr && *end == '\0' && id > 0;
}

std::string DefaultLibrary() {
  const char kName[] = "libdrorch.so";
  char self[4096];
  const ssize_t n = readlink("/proc/self/exe", self, sizeof(self) - 1);
  if (n > 0) {
    std::string path(self, static_cast<size_t>(n));
    path = path.substr(0, path.rfind('/') + 1) + kName;
    if (access(path.c_str(), R_OK) == 0) return path;
  }
  return kName;
}

}  // namespace

int main(int argc, char** argv) {
  std::string library = DefaultLibrary();
  int next = 1;
  if (argc > 2 && strcmp(argv[1], "--library") == 0) {
    library = argv[2];
    next = 3;
  }
  unsigned long long childJobId = 0;
  if (argc != next + 2 || !ParseJobId(argv[next], childJobId)) {
    return Fail(2, "usage: dr_jobdone_notifier [--library PATH] CHILD_JOB_ID TOKEN");
  }
  std::string token = argv[next + 1];
  setenv("DR_NO_DATABASE", "1", 1);
  void* handle = dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) return Fail(3, "cannot load [" + library + "]: " + dlerror());
  dlerror();
  void* acknowledged = dlsym(handle, kAcknowledgedEntry);
  if (acknowledged != nullptr && dlerror() == nullptr) {
    return reinterpret_cast<ChildJobDoneAcknowledged>(acknowledged)(childJobId, token) ? 0 : kNotTaken;
  }
  dlerror();
  void* entry = dlsym(handle, kEntry);
  const char* error = dlerror();
  if (entry == nullptr || error != nullptr) {
    return Fail(4, std::string("no ") + kEntry + " in [" + library + "]: " + (error != nullptr ? error : "null"));
  }
  reinterpret_cast<ChildJobDone>(entry)(childJobId, token);
  return 0;
}
