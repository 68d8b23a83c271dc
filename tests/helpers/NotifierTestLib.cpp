// A stand-in for the system library in the notifier's tests: its completion
// entry prints what it was given, so a test reads from the notifier's output
// (which the job simulator logs) that and how often a notice went out.
#include <stdio.h>

#include <string>

extern "C" __attribute__((visibility("default"))) void DRChildJobDone(unsigned long long childJobId,
                                                                      std::string& token) {
  printf("DRChildJobDone [%llu] [%s]\n", childJobId, token.c_str());
  fflush(stdout);
}
