// Reads of the simulated job store for assertions: a read that fails fails
// the test instead of reading as "no job".
#pragma once

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "jobs/JobStore.h"

namespace drtest {

inline std::vector<SJobRecord> AllJobs() {
  std::vector<SJobRecord> jobs;
  EXPECT_EQ(EStoreResult::kOk, CJobStore::Jobs(jobs));
  return jobs;
}

inline std::string RestartString(long long jobId) {
  std::string text;
  EXPECT_EQ(EStoreResult::kOk, CJobStore::GetRestartString(jobId, text)) << "job " << jobId;
  return text;
}

}  // namespace drtest
