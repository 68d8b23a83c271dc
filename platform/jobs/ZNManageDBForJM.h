// The job manager service's per-job records that a job process may write:
// the restart string.
#pragma once

#include <string>

class ZNManageDBForJM {
 public:
  static constexpr int kNoSuchJob = -1;
  static constexpr int kDatabaseError = -2;

  // 0 on success; kNoSuchJob when the job manager does not know the job,
  // kDatabaseError when the write failed.
  static int setRestartStringForJobId(long long jobId, const std::string& text, int haldenId);
  // 0 on success (empty for a job without one); kDatabaseError when it
  // cannot be read (text untouched).
  static int getRestartStringForJobId(long long jobId, std::string& text);
  static int getDefaultHaldenID() { return 2; }
};
