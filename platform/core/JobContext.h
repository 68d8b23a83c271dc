// The process-wide "running job": a DR job process runs one job, and every
// logger made without a job id reports against it.
#pragma once

#include <stdint.h>

class CJobContext {
 public:
  static int64_t CurrentJobId();
  static void SetCurrentJobId(int64_t jobId);
};
