// The job manager service's per-job records that a job process may write:
// the restart string.
#pragma once

#include <string>

class ZNManageDBForJM {
 public:
  // 0 on success. A job the job manager does not know yet is recorded.
  static int setRestartStringForJobId(long long jobId, const std::string& text, int haldenId);
  static int getRestartStringForJobId(long long jobId, std::string& text);
  static int getDefaultHaldenID() { return 2; }
};
