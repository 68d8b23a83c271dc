// A stand-in for the system library in the notifier's tests: its completion
// entries print what they were given, so a test reads from the notifier's
// output (which the job simulator logs) that and how often a notice went
// out. The acknowledged entry answers "not taken" while the environment
// says DR_TEST_NOTICE_TAKEN=0, so a test can make the service refuse.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

extern "C" __attribute__((visibility("default"))) void DRChildJobDone(unsigned long long childJobId,
                                                                      std::string& token) {
  printf("DRChildJobDone [%llu] [%s]\n", childJobId, token.c_str());
  fflush(stdout);
}

extern "C" __attribute__((visibility("default"))) bool DRChildJobDoneAcknowledged(unsigned long long childJobId,
                                                                                  std::string& token) {
  DRChildJobDone(childJobId, token);
  const char* taken = getenv("DR_TEST_NOTICE_TAKEN");
  return taken == nullptr || strcmp(taken, "0") != 0;
}
